// Generated databases in both layouts: after a rebuild every generated disc is found exactly
// and reads back.
#include "tools/cddb/cddb_gendb.h"

#include <gtest/gtest.h>

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

INSTANTIATE_TEST_SUITE_P(Layouts, GeneratedDatabaseTest, ::testing::Values(lctUNIX, lctWIN),
                         [](const auto& info) {
                           return std::string(info.param == lctUNIX ? "Unix" : "Windows");
                         });

}  // namespace
}  // namespace qv
