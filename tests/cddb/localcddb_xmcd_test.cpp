#include "cddb/localcddb_xmcd.h"

#include <gtest/gtest.h>

#include "tests/cddb/cddb_test_util.h"

namespace qv {
namespace {

using testing::MakeToc;

TCDInfo SampleInfo() {
  TCDInfo info;
  info.TOC = MakeToc({150, 4650, 10314}, 17087);
  info.DiscID = CddbDiscId(info.TOC);
  info.Artist = "The Artist";
  info.Title = "Songs \\ Sketches";
  info.Year = "1999";
  info.Genre = "Rock";
  info.ExtD = "Recorded in C:\\new\\tracks\nsecond line\twith tab";
  info.TrackTitles[0] = "One";
  info.TrackTitles[1] = "Two a\\\\b";
  info.TrackTitles[2] = "Three";
  info.TrackExt[1] = "note";
  info.Revision = 4;
  info.Category = "rock";
  return info;
}

void ExpectSameEntry(const TCDInfo& a, const TCDInfo& b) {
  EXPECT_EQ(a.DiscID, b.DiscID);
  testing::ExpectSameTexts(a, b);
  EXPECT_EQ(a.Revision, b.Revision);
  EXPECT_EQ(a.Category, b.Category);
  ASSERT_EQ(a.TOC.TrackCount, b.TOC.TrackCount);
  for (int i = 0; i < a.TOC.TrackCount; ++i) {
    EXPECT_EQ(FrameOffset(a.TOC.Tracks[i]), FrameOffset(b.TOC.Tracks[i])) << i;
    EXPECT_TRUE(b.TOC.Tracks[i].IsAudio);
  }
  EXPECT_EQ(a.TOC.LeadOut.Minute * 60 + a.TOC.LeadOut.Second,
            b.TOC.LeadOut.Minute * 60 + b.TOC.LeadOut.Second);
  EXPECT_EQ(b.TOC.LeadOut.Frame, 0);
  EXPECT_FALSE(b.TOC.LeadOut.IsAudio);
}

TEST(XmcdTest, EscapesRoundTripWhateverTheBackslashes) {
  const char* texts[] = {"C:\\new",     "a\\\\b",     "\\n literally", "tab\there",
                         "line\nbreak", "trailing\\", "\\t\\\\t",      "",
                         "x\\"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(XmcdUnescape(XmcdEscape(text)), text);
  }
  EXPECT_EQ(XmcdEscape("a\r\nb\rc\nd\te\\f"), "a\\nb\\nc\\nd\\te\\\\f");
  // Unknown escapes stay as written; a lone trailing backslash too.
  EXPECT_EQ(XmcdUnescape("\\x\\q\\"), "\\x\\q\\");
}

TEST(XmcdTest, LongValuesAreCutAtTheLineLimitAndJoinedBack) {
  // Cuts land inside escapes and inside " / ", which must not change the value read back.
  TCDInfo info = SampleInfo();
  info.Artist = std::string(246, 'a');  // "DTITLE=" leaves 248 bytes a line: " / " straddles
  info.Title = std::string(300, 'b') + "\\" + std::string(10, 'c');
  info.ExtD = std::string(249, 'x') + "\n" + std::string(500, 'y');
  info.TrackTitles[0] = std::string(247, 't');      // exactly one piece ("TTITLE0=" is 8 bytes)
  info.TrackTitles[1] = std::string(2 * 247, 'u');  // an exact multiple: one more empty line
  TEntryArray lines;
  ASSERT_EQ(XmcdGenerate(info, "client", lines), 0);
  int ttitle0 = 0, ttitle1 = 0;
  for (const std::string& line : lines) {
    if (line.empty()) break;
    EXPECT_LE(line.size(), kXmcdLineLimit) << line.substr(0, 20);
    ttitle0 += line.starts_with("TTITLE0=");
    ttitle1 += line.starts_with("TTITLE1=");
  }
  EXPECT_EQ(ttitle0, 1);
  EXPECT_EQ(ttitle1, 3);
  TCDInfo back;
  back.Category = info.Category;
  back.Artist = "stale";  // cleared by the parse
  ASSERT_EQ(XmcdParse(back, lines), 0);
  ExpectSameEntry(info, back);
}

TEST(XmcdTest, ParseSplitsTitleAtFirstSeparatorAndKeepsSpacesAtCuts) {
  const struct {
    std::vector<std::string> dtitle;
    std::string artist, title;
  } cases[] = {
      {{"DTITLE=A / B / C"}, "A", "B / C"},
      {{"DTITLE=Only Artist"}, "Only Artist", ""},
      {{"DTITLE=The Quick ", "DTITLE=Brown Fox / Album"}, "The Quick Brown Fox", "Album"},
      {{"DTITLE=Artist /", "DTITLE= Title / more"}, "Artist", "Title / more"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dtitle.front());
    TEntryArray lines;
    ASSERT_EQ(XmcdGenerate(SampleInfo(), "client", lines), 0);
    std::vector<std::string> all;
    for (const std::string& line : lines) {
      if (line.empty()) break;
      if (line.starts_with("DTITLE=")) {
        all.insert(all.end(), c.dtitle.begin(), c.dtitle.end());
      } else {
        all.push_back(line);
      }
    }
    TEntryArray edited;
    std::copy(all.begin(), all.end(), edited.begin());
    TCDInfo info;
    ASSERT_EQ(XmcdParse(info, edited), 0);
    EXPECT_EQ(info.Artist, c.artist);
    EXPECT_EQ(info.Title, c.title);
  }
}

TEST(XmcdTest, IncompleteOrBrokenEntriesAreCorruptWithoutThrowing) {
  TEntryArray good;
  ASSERT_EQ(XmcdGenerate(SampleInfo(), "client", good), 0);
  const std::string text = XmcdJoinLines(good);
  const struct {
    const char* what;
    std::string from, to;
  } cases[] = {
      {"no PLAYORDER", "PLAYORDER=\n", ""},
      {"no EXTT", "EXTT0=\nEXTT1=note\nEXTT2=\n", ""},
      {"no xmcd mark", "# xmcd\n", "# something\n"},
      {"no EXTD", "EXTD=", "XTD="},
      {"no revision", "# Revision: 4", "# Rev 4"},
      {"non-numeric offset", "#\t4650", "#\tabc"},
      {"non-numeric length", "Disc length: 227", "Disc length: many"},
      {"non-numeric revision", "# Revision: 4", "# Revision: x"},
      {"huge offset", "#\t4650", "#\t99999999999999999999"},
      {"non-numeric track key", "TTITLE1=", "TTITLEx="},
      {"disc too long for MSF", "Disc length: 227", "Disc length: 15360"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string broken = text;
    const auto at = broken.find(c.from);
    ASSERT_NE(at, std::string::npos);
    broken.replace(at, c.from.size(), c.to);
    TEntryArray lines;
    XmcdSplitText(broken, lines);
    TCDInfo info;
    EXPECT_EQ(XmcdParse(info, lines), -4);
  }
}

TEST(XmcdTest, OffsetBlockToleratesOtherWritersLayouts) {
  // A bare "#" right after the heading and "# 150" with a space, as some converters write;
  // a stored entry ending with "." as a cache writes; CR LF line ends.
  const std::string text =
      "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\r\n# 150\r\n#\t4650\r\n#       10314\r\n#\r\n"
      "# Disc length: 227 seconds\r\n#\r\n# Revision: 0\r\n#\r\nDISCID=1500e103\r\n"
      "DTITLE=A / T\r\nTTITLE0=x\r\nTTITLE1=y\r\nTTITLE2=z\r\nEXTD=\r\nEXTT0=\r\nEXTT1=\r\n"
      "EXTT2=\r\nPLAYORDER=\r\n.\r\n";
  TEntryArray lines;
  XmcdSplitText(text, lines);
  TCDInfo info;
  ASSERT_EQ(XmcdParse(info, lines), 0);
  ASSERT_EQ(info.TOC.TrackCount, 3);
  EXPECT_EQ(FrameOffset(info.TOC.Tracks[0]), 150);
  EXPECT_EQ(FrameOffset(info.TOC.Tracks[2]), 10314);
  EXPECT_EQ(info.TrackTitles[2], "z");

  // An offset block that nothing closes runs to the last line.
  TEntryArray open;
  XmcdSplitText("# xmcd\n# Track frame offsets:\n#\t150\n#\t300\n", open);
  TCDInfo partial;
  EXPECT_EQ(XmcdParse(partial, open), -4);
  EXPECT_EQ(partial.TOC.TrackCount, 2);
}

TEST(XmcdTest, EntryTooBigForTheLineArrayIsRefused) {
  TCDInfo info = SampleInfo();
  info.TOC = MakeToc({150}, 300);
  info.TOC.TrackCount = 99;
  for (int i = 0; i < 99; ++i) {
    info.TOC.Tracks[i] = testing::MsfOf(150 + i * 1000);
    info.TrackTitles[i] = std::string(2000, 't');
    info.TrackExt[i] = std::string(2000, 'e');
  }
  TEntryArray lines;
  EXPECT_EQ(XmcdGenerate(info, "client", lines), -1);
}

// Debian's CDDB::File (perl) reads our entry text with the same fields.
TEST(XmcdTest, PerlCddbFileReadsOurEntry) {
  TCDInfo info = SampleInfo();
  info.ExtD = "plain extended data";
  info.TrackTitles[1] = std::string(300, 'L');  // continued over two lines
  TEntryArray lines;
  ASSERT_EQ(XmcdGenerate(info, "Quorvel 1.0", lines), 0);
  testing::ScratchDir dir;
  const auto file = dir.Path() / "1500e103";
  testing::WriteFile(file, XmcdJoinLines(lines));
  const std::string script =
      "use CDDB::File; my $d = CDDB::File->new($ARGV[0]);\n"
      "print join(\"|\", $d->id, $d->artist, $d->title, $d->year, $d->genre, $d->length,\n"
      "  $d->revision, $d->track_count, $d->extd), \"\\n\";\n"
      "print join(\"|\", $_->number, $_->title, $_->offset, $_->extd), \"\\n\" for $d->tracks;\n";
  testing::WriteFile(dir.Path() / "read.pl", script);
  int status = -1;
  const std::string out = testing::RunCommand(
      "perl " + (dir.Path() / "read.pl").string() + " " + file.string(), &status);
  ASSERT_EQ(status, 0) << "libcddb-file-perl is needed for this test";
  const std::string expected =
      "1500e103|The Artist|Songs \\\\ Sketches|1999|Rock|227|4|3|plain extended data\n"
      "1|One|150|\n"
      "2|" +
      std::string(300, 'L') +
      "|4650|note\n"
      "3|Three|10314|\n";
  EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace qv
