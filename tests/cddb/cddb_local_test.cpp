#include "cddb/cddb_local.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "cddb/localcddb_xmcd.h"
#include "platform/base/text.h"
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
                              dir_.Path().string() + " rock 1500e103",
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

// Random text of exactly `bytes` bytes once escaped, from characters of one to four bytes
// and characters that are escaped, so that line cuts fall at every place in a character.
std::string RandomText(std::mt19937& rng, std::size_t bytes) {
  static const char* const kChars[] = {"a",  "Z", " ", "é",  "ß",  "€",
                                       "中", "𝄞", "😀", "\\", "\t", "\n"};
  std::string text;
  std::size_t size = 0;
  while (size < bytes) {
    const std::string c = kChars[rng() % std::size(kChars)];
    const std::size_t width = XmcdEscape(c).size();
    if (size + width > bytes) continue;
    text += c;
    size += width;
  }
  return text;
}

// Values of every length around one and two line pieces, with non-ASCII characters, saved and
// read back through the files: every stored line is within the limit and valid UTF-8 on its
// own, our reader gives back every byte, and libcddb and perl's CDDB::File (which keep the
// escapes) read the same text from the Unix layout.
TEST_F(TCddbLocalTest, NonAsciiValuesAroundTheLineLimitRoundTripThroughTheFiles) {
  std::vector<int> offsets;
  for (int i = 0; i < 99; ++i) offsets.push_back(150 + i * 3000);
  const TCDTOC toc = MakeToc(offsets, offsets.back() + 3000);
  testing::WriteFile(dir_.Path() / "read.pl",
                     "use CDDB::File; my $d = CDDB::File->new($ARGV[0]);\n"
                     "print join(\"|\", $d->artist, $d->title, $d->genre, $d->extd), \"\\n\";\n"
                     "print join(\"|\", $_->title, $_->extd), \"\\n\" for $d->tracks;\n");
  for (const TLocalCDDBType layout : {lctUNIX, lctWIN}) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE((layout == lctUNIX ? "Unix, seed " : "Windows, seed ") + std::to_string(seed));
      std::mt19937 rng(seed);
      cddb_.LocalCDDBType = layout;
      cddb_.CDInfo = TCDInfo{};
      cddb_.AssignTOC(toc);
      TCDInfo& info = cddb_.CDInfo;
      info.Category = "rock";
      info.Artist = RandomText(rng, 100 + seed) + "x";  // DTITLE: about two pieces of 248
      info.Title = "x" + RandomText(rng, 2 * 248 + seed - 2 - (101 + seed) - 3 - 1);
      info.Genre = RandomText(rng, 245 + seed);
      info.Year = "2001";
      info.ExtD = RandomText(rng, 3 * 250 + seed - 2);
      for (int i = 0; i < 99; ++i) {
        const std::size_t title = 255 - ("TTITLE" + std::to_string(i) + "=").size();
        const std::size_t ext = 255 - ("EXTT" + std::to_string(i) + "=").size();
        info.TrackTitles[i] = RandomText(rng, title * (1 + i % 2) + (i / 2) % 9 - 4);
        info.TrackExt[i] = RandomText(rng, ext * (2 - i % 2) + (i / 2 + 4) % 9 - 4);
      }
      ASSERT_GT(cddb_.SaveToLocalCDDB(), 0);
      const TCDInfo written = cddb_.CDInfo;

      const auto file = dir_.Path() / "rock" / (layout == lctUNIX ? written.DiscID : "00toFF");
      std::istringstream text(testing::ReadFile(file));
      int bad = 0;
      for (std::string line; std::getline(text, line);) {
        if (line.size() <= kXmcdLineLimit && IsValidUtf8(line)) continue;
        if (++bad == 1) ADD_FAILURE() << "stored line: " << line;
      }
      EXPECT_EQ(bad, 0);

      cddb_.CDInfo = TCDInfo{};
      cddb_.CDInfo.Category = "rock";
      cddb_.CDInfo.DiscID = written.DiscID;
      ASSERT_EQ(cddb_.ReadFromLocalCDDB(), 0);
      testing::ExpectSameTexts(written, cddb_.CDInfo);
      if (layout != lctUNIX) continue;

      int status = -1;
      const std::string perl = testing::RunCommand(
          "perl " + (dir_.Path() / "read.pl").string() + " " + file.string(), &status);
      ASSERT_EQ(status, 0) << "libcddb-file-perl is needed for this test";
      std::string expected = XmcdEscape(written.Artist) + "|" + XmcdEscape(written.Title) + "|" +
                             XmcdEscape(written.Genre) + "|" + XmcdEscape(written.ExtD) + "\n";
      for (int i = 0; i < 99; ++i)
        expected +=
            XmcdEscape(written.TrackTitles[i]) + "|" + XmcdEscape(written.TrackExt[i]) + "\n";
      EXPECT_EQ(perl, expected);

      const std::string out =
          testing::RunCommand(std::string(QV_BINARY_DIR) + "/bin/cddb_libcddb_peer cache " +
                                  dir_.Path().string() + " rock " + written.DiscID,
                              &status);
      ASSERT_EQ(status, 0) << out;
      std::vector<std::string> tracks;
      auto fields = ParsePeer(out, tracks);
      EXPECT_EQ(fields["artist"], XmcdEscape(written.Artist));
      EXPECT_EQ(fields["title"], XmcdEscape(written.Title));
      EXPECT_EQ(fields["genre"], XmcdEscape(written.Genre));
      EXPECT_EQ(fields["ext"], XmcdEscape(written.ExtD));
      ASSERT_EQ(tracks.size(), 99u);
      for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(tracks[i], std::to_string(i + 1) + "|" + XmcdEscape(written.TrackTitles[i]) +
                                 "|" + std::to_string(offsets[i]));
      }
    }
  }
}

}  // namespace
}  // namespace qv
