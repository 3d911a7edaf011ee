#include "app/rip_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/base/paths.h"
#include "tests/app/app_test_util.h"

namespace qv {
namespace {

using namespace qv::test;

// A value that cannot be converted is reported and treated as absent; every later key is
// still read (the keys especially: without them ESC would no longer close the window).
TEST(RipConfigTest, MalformedValuesNeverStopTheReading) {
  ScratchDir dir;
  WriteText(dir.File("q.ini"),
            "[PROXY]\nProxyPort=eighty\n[CONF]\nempty_eject=yes\nMonitor=left\n"
            "cover_name=../../evil.jpg\n[KEYS]\nESC=Escape\nBACK=9\n");
  std::vector<std::string> problems;
  const TRipConfig c =
      LoadConfig(dir.File("q.ini"), [&](const std::string& t) { problems.push_back(t); });
  EXPECT_EQ(c.Proxy.ProxyPort, "eighty");  // the CD database takes the text as it is
  EXPECT_EQ(c.Proxy.HttpPort, 0);
  EXPECT_EQ(c.FEmptyEject, 0);
  EXPECT_EQ(c.Monitor, 0);
  EXPECT_EQ(c.EscKey, 27);
  EXPECT_EQ(c.BackKey, 9);
  EXPECT_EQ(c.FCoverName, ".._.._evil.jpg");
  ASSERT_EQ(problems.size(), 5u);
  EXPECT_NE(problems[0].find("ProxyPort"), std::string::npos);
  EXPECT_NE(problems[4].find("cover_name"), std::string::npos);
}

// A file that is there but cannot be used (a folder, one over 16 MiB) is reported, not taken
// for an empty one; a missing file is no problem.
TEST(RipConfigTest, AnUnusableFileIsReported) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.File("folder.ini"));
  WriteText(dir.File("huge.ini"), "[CONF]\nspace_char=_\n" + std::string(17 << 20, ';'));
  const struct {
    std::string file, reason;
  } cases[] = {{"folder.ini", "Is a directory"}, {"huge.ini", "File too large"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> problems;
    const TRipConfig config =
        LoadConfig(dir.File(c.file), [&](const std::string& t) { problems.push_back(t); });
    EXPECT_EQ(config.FSpaceChar, "");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("LoadConfig : ", 0), 0u) << problems[0];
    EXPECT_NE(problems[0].find(dir.File(c.file)), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find(c.reason), std::string::npos) << problems[0];
  }
  std::vector<std::string> problems;
  (void)LoadConfig(dir.File("missing.ini"), [&](const std::string& t) { problems.push_back(t); });
  EXPECT_TRUE(problems.empty());
}

// The genre file gives one genre a line, whatever the line ends; a missing file or a folder
// gives none, and is no problem.
TEST(RipConfigTest, GenreFileGivesOneGenreALine) {
  ScratchDir dir;
  struct Case {
    std::string bytes;
    std::vector<std::string> genres;
  } const cases[] = {
      {"Rock\r\nJazz\nHip-Hop", {"Rock", "Jazz", "Hip-Hop"}},
      {"\xEF\xBB\xBFM\xC3\xBAsica\n\nPop\n", {"M\xC3\xBAsica", "", "Pop"}},
      {"Caf\xE9\r\n", {"Caf\xC3\xA9"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    WriteText(dir.File("genres.txt"), c.bytes);
    std::vector<std::string> problems;
    EXPECT_EQ(
        LoadGenreFile(dir.File("genres.txt"), [&](const std::string& t) { problems.push_back(t); }),
        c.genres);
    EXPECT_TRUE(problems.empty());
  }
  EXPECT_TRUE(LoadGenreFile(dir.File("missing.txt")).empty());
  EXPECT_TRUE(LoadGenreFile(dir.path()).empty());
  // A file far larger than any list of genres is reported, not taken in.
  WriteText(dir.File("huge.txt"), "Rock\n" + std::string(2 << 20, 'x'));
  std::vector<std::string> problems;
  EXPECT_TRUE(LoadGenreFile(dir.File("huge.txt"), [&](const std::string& t) {
                problems.push_back(t);
              }).empty());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("huge.txt"), std::string::npos) << problems[0];
}

struct ParseResult {
  TRipOptions options;
  std::vector<int> drives;
  int debugOnAt = -1;
  std::vector<std::string> problems;
};

ParseResult Parse(const std::vector<std::string>& Params) {
  ParseResult r;
  int seen = 0;
  ParseCommandLine(
      Params, r.options,
      [&](int n) {
        r.drives.push_back(n);
        ++seen;
      },
      [&] {
        if (r.debugOnAt < 0) r.debugOnAt = seen;
      },
      [&](const std::string& t) { r.problems.push_back(t); });
  return r;
}

TEST(CommandLineTest, ValuesAndTheirEdges) {
  struct Case {
    std::vector<std::string> params;
    TMP3BitRate bitrate;
    int bitrateValue;
    float compression;
    int format;
    size_t problems;
  } const cases[] = {
      {{"-bitrate=192"}, TMP3BitRate::br192, int(TMP3BitRate::br192), 0.2f, 0, 0},
      {{"-bitrate=100"}, TMP3BitRate::br192, -1, 0.2f, 0, 0},  // no such rate: unchanged
      {{"-bitrate=64", "-bitrate=100"}, TMP3BitRate::br64, -1, 0.2f, 0, 0},
      {{"-bitrate=8", "-bitrate=56"}, TMP3BitRate::br56, int(TMP3BitRate::br56), 0.2f, 0, 0},
      {{"-compression=25"}, TMP3BitRate::br192, -1, 0.2f, 0, 0},
      // The encoder's range is -0.1 .. 1: beyond it (up to 10) the nearest end, reported.
      {{"-compression=10"}, TMP3BitRate::br192, -1, 1.0f, 0, 1},
      {{"-compression=5"}, TMP3BitRate::br192, -1, 1.0f, 0, 1},
      {{"-compression=-0.5"}, TMP3BitRate::br192, -1, -0.1f, 0, 1},
      {{"-compression=-0.1", "-compression=1"}, TMP3BitRate::br192, -1, 1.0f, 0, 0},
      {{"-compression=0.9", "-compression=x"}, TMP3BitRate::br192, -1, 0.9f, 0, 1},
      {{"-format=FLAC"}, TMP3BitRate::br192, -1, 0.2f, 2, 0},
      {{"-format=mp3"}, TMP3BitRate::br192, -1, 0.2f, 0, 0},
      {{"-format=wav"}, TMP3BitRate::br192, -1, 0.2f, -1, 0},
      {{"-format"}, TMP3BitRate::br192, -1, 0.2f, -1, 0},  // no "=": the empty value
      {{"-format=ogg", "-format=flac"}, TMP3BitRate::br192, -1, 0.2f, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.front() + (c.params.size() > 1 ? " " + c.params[1] : ""));
    const ParseResult r = Parse(c.params);
    EXPECT_EQ(r.options.BitRate, c.bitrate);
    EXPECT_EQ(r.options.FMP3BitRate, c.bitrateValue);
    EXPECT_FLOAT_EQ(r.options.Compression, c.compression);
    EXPECT_EQ(r.options.FormatIndex, c.format);
    EXPECT_EQ(r.problems.size(), c.problems);
  }
  EXPECT_EQ(Parse({"-compression=5"}).problems,
            std::vector<std::string>{"ParseCommandLine : -compression 5 is outside -0.1 .. 1, "
                                     "using 1"});
}

TEST(CommandLineTest, DriveNumbersAreHandedOnEvenWhenOutOfRange) {
  const ParseResult r = Parse({"-cddrive=7", "-cddrive=-1", "-cddrive=two", "-cddrive"});
  EXPECT_EQ(r.drives, (std::vector<int>{7, -1, -1, -1}));
  // A number of no drive is the session's to report; the others are no drive numbers.
  EXPECT_EQ(r.problems.size(), 3u);
}

}  // namespace
}  // namespace qv
