#include "cddb/cddb_local.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/cddb/cddb_test_util.h"

namespace qv {
namespace {

using testing::MakeToc;
using testing::ScratchDir;

class TCddbLocalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cddb_.LocalCDDBPath = dir_.str();
    cddb_.OnStatusMessage = [this](TComponent*, const std::string& s) { statuses_.push_back(s); };
  }
  std::string LastStatus() const { return statuses_.empty() ? "" : statuses_.back(); }

  void FillDisc(const TCDTOC& toc, const std::string& artist) {
    cddb_.AssignTOC(toc);
    cddb_.CDInfo.Artist = artist;
    cddb_.CDInfo.Title = "Title \\ of " + artist;
    cddb_.CDInfo.Year = "2001";
    cddb_.CDInfo.Genre = "Ambient";
    cddb_.CDInfo.ExtD = "line one\nline two";
    for (int i = 0; i < toc.TrackCount; ++i)
      cddb_.CDInfo.TrackTitles[i] = artist + " track " + std::to_string(i + 1);
  }

  ScratchDir dir_;
  TCddbLocal cddb_;
  std::vector<std::string> statuses_;
  const TCDTOC toc_ = MakeToc({150, 4650, 10314}, 17087);
};

TEST_F(TCddbLocalTest, ANewDiscForgetsThePreviousDiscsCategory) {
  // Disc A was found in "rock"; disc B exists only in "jazz". Had A's category stayed, it
  // would filter B's exact look-up.
  const TCDTOC tocB = MakeToc({150, 9000}, 22500);
  FillDisc(toc_, "A");
  cddb_.CDInfo.Category = "rock";
  ASSERT_GT(cddb_.SaveToLocalCDDB(), 0);
  FillDisc(tocB, "B");
  cddb_.CDInfo.Category = "jazz";
  ASSERT_GT(cddb_.SaveToLocalCDDB(), 0);
  cddb_.BuildLocalIndex();

  FillDisc(toc_, "A");
  TLocalMatchArray matches;
  ASSERT_EQ(cddb_.QueryLocalCDDB(matches), 0);
  ASSERT_EQ(cddb_.ReadFromLocalCDDB(), 0);
  EXPECT_EQ(cddb_.CDInfo.Category, "rock");

  cddb_.AssignTOC(tocB);
  EXPECT_TRUE(cddb_.CDInfo.Category.empty());
  EXPECT_TRUE(cddb_.CDInfo.Artist.empty());
  ASSERT_EQ(cddb_.QueryLocalCDDB(matches), 0);
  EXPECT_EQ(cddb_.CDInfo.Category, "jazz");
  EXPECT_EQ(cddb_.CDInfo.DiscID, "05012a02");

  // No disc: no identifier to look up.
  cddb_.AssignTOC(TCDTOC{});
  EXPECT_EQ(cddb_.CDInfo.DiscID, "");
  EXPECT_EQ(cddb_.QueryLocalCDDB(matches), -1);
}

std::map<std::string, std::string> ParsePeer(const std::string& out,
                                             std::vector<std::string>& tracks) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (line.substr(0, eq) == "track")
      tracks.push_back(line.substr(eq + 1));
    else
      fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

// libcddb, in cache-only mode, reads our lctUNIX layout as its own cache.
TEST_F(TCddbLocalTest, LibcddbReadsTheUnixLayoutAsItsCache) {
  FillDisc(toc_, "Alpha");
  cddb_.CDInfo.ExtD = "plain";
  cddb_.CDInfo.TrackTitles[1] = std::string(300, 'L');
  cddb_.CDInfo.Category = "rock";
  ASSERT_GT(cddb_.SaveToLocalCDDB(), 0);
  int status = -1;
  const std::string out =
      testing::RunCommand(std::string(QV_BINARY_DIR) + "/bin/cddb_libcddb_peer cache " +
                              dir_.path().string() + " rock 1500e103",
                          &status);
  ASSERT_EQ(status, 0) << out;
  std::vector<std::string> tracks;
  auto fields = ParsePeer(out, tracks);
  EXPECT_EQ(fields["category"], "rock");
  EXPECT_EQ(fields["discid"], "1500e103");
  EXPECT_EQ(fields["artist"], "Alpha");
  EXPECT_EQ(fields["title"], "Title \\\\ of Alpha");  // libcddb does not undo escapes
  EXPECT_EQ(fields["year"], "2001");
  EXPECT_EQ(fields["genre"], "Ambient");
  EXPECT_EQ(fields["length"], "227");
  EXPECT_EQ(fields["ext"], "plain");
  EXPECT_EQ(fields["tracks"], "3");
  EXPECT_EQ(tracks,
            (std::vector<std::string>{"1|Alpha track 1|150", "2|" + std::string(300, 'L') + "|4650",
                                      "3|Alpha track 3|10314"}));
}

}  // namespace
}  // namespace qv
