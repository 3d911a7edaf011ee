#include "cddb/cddb_types.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "platform/base/text.h"
#include "tests/cddb/cddb_test_util.h"

namespace qv {
namespace {

using testing::MakeToc;
using testing::ScratchDir;

// Compares with libdiscid (through Debian's python3-libdiscid) on a few hundred random TOCs.
TEST(CddbDiscIdTest, AgreesWithLibdiscidOnRandomTocs) {
  std::mt19937 rng(20261206);
  std::vector<TCDTOC> tocs;
  std::ostringstream input;
  for (int n = 0; n < 400; ++n) {
    const int tracks = std::uniform_int_distribution<int>(1, 99)(rng);
    std::vector<int> offsets;
    int at = 150 + std::uniform_int_distribution<int>(0, 3000)(rng);
    // Keep the whole disc within 80 minutes: the longest track shrinks with the count.
    const int longest = std::max(300, (80 * 60 * 75 - at) / tracks - 300);
    for (int t = 0; t < tracks; ++t) {
      offsets.push_back(at);
      at += std::uniform_int_distribution<int>(300, longest)(rng);
    }
    tocs.push_back(MakeToc(offsets, at));
    input << "1 " << tracks << ' ' << at;
    for (const int o : offsets) input << ' ' << o;
    input << '\n';
  }
  ScratchDir dir;
  testing::WriteFile(dir.Path() / "tocs.txt", input.str());
  const std::string script =
      "import sys, libdiscid\n"
      "for line in open(sys.argv[1]):\n"
      "    v = [int(x) for x in line.split()]\n"
      "    print(libdiscid.put(v[0], v[1], v[2], v[3:]).freedb_id)\n";
  testing::WriteFile(dir.Path() / "ids.py", script);
  int status = -1;
  const std::string out =
      testing::RunCommand("/usr/bin/python3 " + (dir.Path() / "ids.py").string() + " " +
                              (dir.Path() / "tocs.txt").string(),
                          &status);
  ASSERT_EQ(status, 0) << "python3-libdiscid is needed for this test";
  std::istringstream ids(out);
  std::size_t compared = 0;
  for (const TCDTOC& toc : tocs) {
    std::string expected;
    ASSERT_TRUE(ids >> expected);
    EXPECT_EQ(CddbDiscId(toc), expected) << "tracks " << int(toc.TrackCount);
    ++compared;
  }
  EXPECT_EQ(compared, 400u);
}

TEST(CddbNamesTest, OnlySafeIdentifiersAndCategoriesPass) {
  const struct {
    const char* text;
    bool id;
    bool category;
  } cases[] = {
      {"1500e103", true, true},    {"1500E103", true, true},  {"1500e10", false, true},
      {"1500e1033", false, true},  {"1500g103", false, true}, {"rock", false, true},
      {"..", false, false},        {".", false, false},       {"../../x", false, false},
      {"a/b", false, false},       {"a\\b", false, false},    {"", false, false},
      {"new age", false, false},   {"a\nb", false, false},    {"misc&x=1", false, false},
      {"soundtrack", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsValidDiscId(c.text), c.id);
    EXPECT_EQ(IsValidCategory(c.text), c.category);
  }
  EXPECT_TRUE(IsValidCategory(std::string(40, 'a')));
  EXPECT_FALSE(IsValidCategory(std::string(41, 'a')));
}

}  // namespace
}  // namespace qv
