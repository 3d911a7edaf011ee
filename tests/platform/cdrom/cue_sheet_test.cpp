#include "platform/cdrom/cue_sheet.h"

#include <gtest/gtest.h>

#include "platform/cdrom/cdrom_error.h"

namespace qv {
namespace {

TEST(CueSheetTest, ReadsTracksFlagsAndIndexes) {
  const CueSheet sheet = ParseCueSheet(
      "\xEF\xBB\xBFREM GENRE Rock\r\n"
      "PERFORMER \"Someone\"\r\n"
      "file \"my disc.bin\" binary\r\n"
      "  TRACK 01 AUDIO\r\n"
      "    TITLE \"One\"\r\n"
      "    INDEX 01 00:00:00\r\n"
      "  TRACK 02 AUDIO\r\n"
      "    FLAGS DCP PRE\r\n"
      "    INDEX 00 00:58:00\r\n"
      "    INDEX 01 01:00:00\r\n"
      "    INDEX 02 01:10:00\r\n"
      "  TRACK 03 MODE1/2352\r\n"
      "    PREGAP 00:02:00\r\n"
      "    INDEX 01 02:00:74");
  EXPECT_EQ(sheet.FileName, "my disc.bin");
  ASSERT_EQ(sheet.Tracks.size(), 3u);
  EXPECT_EQ(sheet.Tracks[0].Number, 1);
  EXPECT_EQ(sheet.Tracks[0].Control, 0);
  EXPECT_EQ(sheet.Tracks[0].Index1, 0u);
  EXPECT_FALSE(sheet.Tracks[0].Index0);
  EXPECT_EQ(sheet.Tracks[1].Control, 0x03);
  EXPECT_EQ(sheet.Tracks[1].Index0, 58u * 75);
  EXPECT_EQ(sheet.Tracks[1].Index1, 60u * 75);
  EXPECT_EQ(sheet.Tracks[2].Mode, CueTrackMode::Mode1Raw);
  EXPECT_EQ(sheet.Tracks[2].Control, 0x04);
  EXPECT_EQ(sheet.Tracks[2].Index1, 120u * 75 + 74);
}

TEST(CueSheetTest, RejectsWhatASingleFileImageCannotMean) {
  const std::string head = "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  const struct {
    const char* name;
    std::string text;
    const char* message;
  } cases[] = {
      {"empty", "", "names no file"},
      {"no tracks", "FILE \"a.bin\" BINARY\n", "no tracks"},
      {"two files", head + "FILE \"b.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
       "more than one file"},
      {"wave file", "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", "WAVE"},
      {"cooked sectors", "FILE \"a.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n",
       "MODE1/2048"},
      {"track before file", "TRACK 01 AUDIO\n", "TRACK before FILE"},
      {"index outside track", "FILE \"a.bin\" BINARY\nINDEX 01 00:00:00\n", "INDEX outside"},
      {"missing index 01", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n",
       "no INDEX 01"},
      {"missing index 01 mid-sheet",
       "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
       "no INDEX 01"},
      {"track gap in numbers", head + "  TRACK 03 AUDIO\n    INDEX 01 00:01:00\n",
       "not consecutive"},
      {"track 0", "FILE \"a.bin\" BINARY\n  TRACK 00 AUDIO\n", "track number out of range"},
      {"track 100", "FILE \"a.bin\" BINARY\n  TRACK 100 AUDIO\n", "track number out of range"},
      {"frame 75", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:75\n",
       "frame out of range"},
      {"second 60", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:60:00\n",
       "second out of range"},
      {"time not a number", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 0a:00:00\n",
       "invalid minute"},
      {"time without colons", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 100\n",
       "invalid time"},
      {"backwards", head + "  TRACK 02 AUDIO\n    INDEX 00 00:10:00\n    INDEX 01 00:05:00\n",
       "backwards"},
      {"empty track", head + "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n", "starts where"},
      {"index 01 twice", head + "    INDEX 01 00:01:00\n", "twice"},
      {"index 00 after 01", head + "    INDEX 00 00:01:00\n", "INDEX 00"},
      {"index 02 first", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 02 00:00:00\n",
       "before INDEX 01"},
      {"unknown flag", head + "    FLAGS XYZ\n", "unknown flag"},
      {"unknown command", head + "    BOGUS 1\n", "unknown command"},
      {"unterminated quote", "FILE \"a.bin BINARY\n", "unterminated"},
      {"empty file name", "FILE \"\" BINARY\n", "empty file name"},
      {"trailing text", "FILE \"a.bin\" BINARY extra\n", "end of the line"},
      {"nul byte", std::string("FILE \"a.bin\" BINARY\n\0", 21), "not text"},
      {"huge", std::string(kMaxCueSheetBytes + 1, ' '), "too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      (void)ParseCueSheet(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const ECdromError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace qv
