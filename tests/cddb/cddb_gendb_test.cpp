// Generated databases in both layouts: after a rebuild every generated disc is found exactly
// and reads back.
#include "tools/cddb/cddb_gendb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "cddb/localcddb.h"
#include "tests/cddb/cddb_test_util.h"

namespace qv {
namespace {

class GeneratedDatabaseTest : public ::testing::TestWithParam<TLocalCDDBType> {};

TEST_P(GeneratedDatabaseTest, EveryDiscIsFoundAndRead) {
  testing::ScratchDir dir;
  GenerateOptions options;
  options.Count = 400;
  options.Seed = 5;
  options.Layout = GetParam();
  options.Keep = 400;
  const std::vector<GeneratedDisc> discs = GenerateDatabase(dir.str(), options);
  ASSERT_EQ(discs.size(), 400u);
  TLocalCDDB db;
  db.SetLayout(GetParam());
  db.SetRoot(dir.str());
  db.BuildIndex();
  ASSERT_TRUE(db.Initialized());
  for (std::size_t n = 0; n < discs.size(); ++n) {
    SCOPED_TRACE(n);
    TCDInfo info;
    info.TOC = discs[n].TOC;
    info.DiscID = CddbDiscId(info.TOC);
    TLocalMatchArray matches;
    const int found = db.Query(info, matches);
    ASSERT_TRUE(found == 0 || found == 1);
    // The disc's own entry is among the exact matches (an identical TOC may exist elsewhere).
    bool own = false;
    for (const TMatch& m : matches) own = own || (m.Category == discs[n].Category);
    EXPECT_TRUE(own);
    info.Category = discs[n].Category;
    ASSERT_EQ(db.ReadEntry(info), 0);
    EXPECT_EQ(info.Artist, "Artist " + std::to_string(n));
  }
}

// The track indexes as they must read, worked out here from the folders themselves: per track
// count, one line per disc length in ascending order, each entry the identifier's first byte
// and the category letter, sorted by letter and byte. Entries are the disc files (lctUNIX) or
// the "#FILENAME=" lines of the group files (lctWIN); discs past 5400 seconds are left out.
std::map<int, std::string> ExpectedIndexes(const std::filesystem::path& root, bool windows) {
  std::vector<std::string> categories;
  for (const auto& e : std::filesystem::directory_iterator(root))
    if (e.is_directory()) categories.push_back(e.path().filename().string());
  std::sort(categories.begin(), categories.end());
  std::map<int, std::set<std::tuple<int, char, std::string>>> entries;
  const auto add = [&](std::string id, char letter) {
    for (char& c : id) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (!IsValidDiscId(id)) return;
    const int length = std::stoi(id.substr(2, 4), nullptr, 16);
    const int tracks = std::stoi(id.substr(6, 2), nullptr, 16);
    if (length <= TLocalCDDB::kMaxIndexedLength && tracks >= 1 && tracks <= 99)
      entries[tracks].insert({length, letter, id.substr(0, 2)});
  };
  for (std::size_t k = 0; k < categories.size(); ++k) {
    const char letter = char('a' + k);
    for (const auto& e : std::filesystem::directory_iterator(root / categories[k])) {
      if (e.is_directory()) continue;
      const std::string name = e.path().filename().string();
      if (!windows) {
        add(name, letter);
      } else if (name.size() == 6 && name.substr(2, 2) == "to") {
        std::istringstream lines(testing::ReadFile(e.path()));
        for (std::string line; std::getline(lines, line);)
          if (line.rfind("#FILENAME=", 0) == 0) add(line.substr(10, 8), letter);
      }
    }
  }
  std::map<int, std::string> indexes;
  for (int tracks = 1; tracks <= 99; ++tracks) {
    std::string& text = indexes[tracks];
    int last = -1;
    for (const auto& [length, letter, byte] : entries[tracks]) {
      if (length != last) {
        char head[8];
        std::snprintf(head, sizeof head, "L%04x", length);
        text += (last < 0 ? "" : "\n") + std::string(head);
        last = length;
      }
      text += byte + letter;
    }
    if (last >= 0) text += "\n";
  }
  return indexes;
}

TEST_P(GeneratedDatabaseTest, IndexesListEveryEntryOnceInOrder) {
  testing::ScratchDir dir;
  GenerateOptions options;
  options.Count = 3000;
  options.Seed = 11;
  options.Layout = GetParam();
  GenerateDatabase(dir.str(), options);
  // Besides the generated entries: a name in capitals, a disc too long to index, names that
  // are no entries, a folder named like one, and an empty category.
  if (GetParam() == lctUNIX) {
    testing::WriteFile(dir.Path() / "rock" / "AB012C02", "# xmcd\n");
    testing::WriteFile(dir.Path() / "rock" / "12ffff03", "# xmcd\n");
    testing::WriteFile(dir.Path() / "rock" / "notanid1", "");
    std::filesystem::create_directories(dir.Path() / "jazz" / "0a0b0c0d");
  } else {
    testing::WriteFile(dir.Path() / "rock" / "00toFF",
                       testing::ReadFile(dir.Path() / "rock" / "00toFF") +
                           "#FILENAME=AB012C02\n# xmcd\n#FILENAME=12ffff03\n# xmcd\n");
  }
  testing::WriteFile(dir.Path() / "misc" / "readme.txt", "");
  std::filesystem::create_directories(dir.Path() / "empty");

  TLocalCDDB db;
  db.SetLayout(GetParam());
  db.SetRoot(dir.str());
  db.BuildIndex();
  const std::map<int, std::string> expected = ExpectedIndexes(dir.Path(), GetParam() == lctWIN);
  std::size_t lines = 0;
  for (const auto& [tracks, text] : expected) {
    SCOPED_TRACE(tracks);
    char name[8];
    std::snprintf(name, sizeof name, "%02d.idx", tracks);
    EXPECT_EQ(testing::ReadFile(dir.Path() / name), text);
    lines += std::count(text.begin(), text.end(), '\n');
  }
  EXPECT_GT(lines, 1000u);
  EXPECT_NE(testing::ReadFile(dir.Path() / "rock" / "index.log").find("12ffff03"),
            std::string::npos);
  // Building again over the same folders gives the same files.
  db.BuildIndex();
  for (const auto& [tracks, text] : expected) {
    char name[8];
    std::snprintf(name, sizeof name, "%02d.idx", tracks);
    EXPECT_EQ(testing::ReadFile(dir.Path() / name), text);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, GeneratedDatabaseTest, ::testing::Values(lctUNIX, lctWIN),
                         [](const auto& info) {
                           return std::string(info.param == lctUNIX ? "Unix" : "Windows");
                         });

}  // namespace
}  // namespace qv
