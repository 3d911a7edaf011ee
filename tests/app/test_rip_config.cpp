#include "app/rip_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/base/paths.h"
#include "tests/app/app_test_util.h"

namespace qv {
namespace {

using namespace qv::test;

TEST(RipConfigTest, MissingFileGivesTheDefaults) {
  ScratchDir dir;
  std::vector<std::string> problems;
  const TRipConfig c =
      LoadConfig(dir.File("none.ini"), [&](const std::string& t) { problems.push_back(t); });
  EXPECT_EQ(c.CDDBChar, "-");
  EXPECT_EQ(c.SpaceChar, "");
  EXPECT_EQ(c.CoverName, "cover.jpg");
  EXPECT_EQ(c.EmptyEject, 0);
  EXPECT_EQ(c.Monitor, 0);
  EXPECT_EQ(c.EscKey, 27);
  EXPECT_EQ(c.BackKey, 8);
  EXPECT_EQ(c.Proxy.ProxyIP, "");
  EXPECT_EQ(c.Proxy.HttpPort, 0);
  EXPECT_TRUE(problems.empty());
}

TEST(RipConfigTest, KeysAreReadWithoutRegardToCase) {
  ScratchDir dir;
  WriteText(dir.File("q.ini"),
            "[proxy]\nproxyip = 127.0.0.1\nProxyPort=3128\nProxyUser=u\nProxyPass=p w\n"
            "[CONF]\nZentha=/suite\nlocalCDDB=./db\nBackground=bg.jpg\nsearch=http://x/#SEARCH#\n"
            "CDDB_Char=_\nspace_char=.\ncover_name=folder.jpg\nempty_eject=1\n"
            "genre_file=g.txt\nMonitor=5\n[KEYS]\nESC=13\nBACK=$20\n");
  const TRipConfig c = LoadConfig(dir.File("q.ini"));
  EXPECT_EQ(c.Proxy.ProxyIP, "127.0.0.1");
  EXPECT_EQ(c.Proxy.ProxyPort, "3128");
  EXPECT_EQ(c.Proxy.HttpPort, 3128);
  EXPECT_EQ(c.Proxy.ProxyUser, "u");
  EXPECT_EQ(c.Proxy.ProxyPass, "p w");
  EXPECT_EQ(c.Zentha, "/suite");
  EXPECT_EQ(c.LocalCDDB, "./db");
  EXPECT_EQ(c.Background, "bg.jpg");
  EXPECT_EQ(c.SearchURL, "http://x/#SEARCH#");
  EXPECT_EQ(c.CDDBChar, "_");
  EXPECT_EQ(c.SpaceChar, ".");
  EXPECT_EQ(c.CoverName, "folder.jpg");
  EXPECT_EQ(c.EmptyEject, 1);
  EXPECT_EQ(c.GenreFile, "g.txt");
  EXPECT_EQ(c.Monitor, 5);
  EXPECT_EQ(c.EscKey, 13);  // Enter then closes the window
  EXPECT_EQ(c.BackKey, 0x20);
}

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
  EXPECT_EQ(c.EmptyEject, 0);
  EXPECT_EQ(c.Monitor, 0);
  EXPECT_EQ(c.EscKey, 27);
  EXPECT_EQ(c.BackKey, 9);
  EXPECT_EQ(c.CoverName, ".._.._evil.jpg");
  ASSERT_EQ(problems.size(), 5u);
  EXPECT_NE(problems[0].find("ProxyPort"), std::string::npos);
  EXPECT_NE(problems[4].find("cover_name"), std::string::npos);
}

TEST(RipConfigTest, MonitorIsClampedToTheMonitorsPresent) {
  EXPECT_EQ(ClampMonitor(5, 2), 1);
  EXPECT_EQ(ClampMonitor(1, 2), 1);
  EXPECT_EQ(ClampMonitor(-3, 2), 0);
  EXPECT_EQ(ClampMonitor(0, 0), 0);
}

TEST(RipConfigTest, IniFileNameFollowsTheEnvironment) {
  ::setenv("QUORVEL_INI", "/some/where/x.ini", 1);
  EXPECT_EQ(IniFileName(), "/some/where/x.ini");
  ::unsetenv("QUORVEL_INI");
  // Beside the executable, named after it with the extension ".INI"; a file of that name in
  // another case is found too.
  EXPECT_EQ(IniFileName(), ExeDir() + "test_rip_config.INI");
  const std::string lower = ExeDir() + "test_rip_config.ini";
  WriteText(lower, "[CONF]\n");
  EXPECT_EQ(IniFileName(), lower);
  std::remove(lower.c_str());
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

TEST(CommandLineTest, DefaultsWithoutParameters) {
  const TRipOptions o = Parse({}).options;
  EXPECT_FALSE(o.ChooseAlbum);
  EXPECT_FALSE(o.AutoRip);
  EXPECT_FALSE(o.Debug);
  EXPECT_EQ(o.BitRate, TMP3BitRate::br192);
  EXPECT_FLOAT_EQ(o.Compression, 0.2f);
  EXPECT_EQ(o.BasePath, ".\\");
  EXPECT_EQ(o.Pattern, "%ARTIST%\\%ALBUM%\\%TRACKNB% - %TRACKNAME%");
  EXPECT_EQ(o.FormatIndex, 0);
}

TEST(CommandLineTest, EachOption) {
  const ParseResult r = Parse({"-CDDBCHOICE", "-Auto", "-bitrate=320", "-compression=0.5",
                               "-pathtoenc=/out/", "-filename=%TRACKNB%=x", "-format=ogg",
                               "-cddrive=1", "-DEBUG", "-unknown=3", "plain"});
  EXPECT_TRUE(r.options.ChooseAlbum);
  EXPECT_TRUE(r.options.AutoRip);
  EXPECT_TRUE(r.options.Debug);
  EXPECT_EQ(r.options.BitRate, TMP3BitRate::br320);
  EXPECT_EQ(r.options.MP3BitRateValue, int(TMP3BitRate::br320));
  EXPECT_FLOAT_EQ(r.options.Compression, 0.5f);
  EXPECT_EQ(r.options.BasePath, "/out/");
  EXPECT_EQ(r.options.Pattern, "%TRACKNB%=x");  // the value is everything after the first "="
  EXPECT_EQ(r.options.FormatIndex, 1);
  EXPECT_EQ(r.drives, std::vector<int>{1});
  EXPECT_TRUE(r.problems.empty());
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
    EXPECT_EQ(r.options.MP3BitRateValue, c.bitrateValue);
    EXPECT_FLOAT_EQ(r.options.Compression, c.compression);
    EXPECT_EQ(r.options.FormatIndex, c.format);
    EXPECT_EQ(r.problems.size(), c.problems);
  }
  EXPECT_EQ(Parse({"-compression=5"}).problems,
            std::vector<std::string>{"ParseCommandLine : -compression 5 is outside -0.1 .. 1, "
                                     "using 1"});
}

TEST(CommandLineTest, DebugSwitchesTheLogOnWhereverItStands) {
  const ParseResult first = Parse({"-debug", "-cddrive=0"});
  EXPECT_TRUE(first.options.Debug);
  EXPECT_EQ(first.debugOnAt, 0);  // before the drive was selected: its lines are logged
  const ParseResult last = Parse({"-cddrive=0", "-auto", "-debug"});
  EXPECT_TRUE(last.options.Debug);
  EXPECT_EQ(last.debugOnAt, 1);
}

TEST(CommandLineTest, DriveNumbersAreHandedOnEvenWhenOutOfRange) {
  const ParseResult r = Parse({"-cddrive=7", "-cddrive=-1", "-cddrive=two", "-cddrive"});
  EXPECT_EQ(r.drives, (std::vector<int>{7, -1, -1, -1}));
  // A number of no drive is the session's to report; the others are no drive numbers.
  EXPECT_EQ(r.problems.size(), 3u);
}

TEST(CommandLineTest, GetParamValueKeepsTheValueWithoutEquals) {
  std::string v = "old";
  GetParamValue("-auto", v);
  EXPECT_EQ(v, "old");
  GetParamValue("-filename=a=b", v);
  EXPECT_EQ(v, "a=b");
  GetParamValue("-pathtoenc=", v);
  EXPECT_EQ(v, "");
}

}  // namespace
}  // namespace qv
