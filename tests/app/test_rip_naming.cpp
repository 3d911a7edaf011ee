#include "app/rip_naming.h"

#include <gtest/gtest.h>

#include <random>

namespace qv {
namespace {

TEST(FileNamingTest, DefaultPattern) {
  const TNameChars chars;
  const std::string dest =
      FillAlbumPlaceholders("%ARTIST%\\%ALBUM%\\%TRACKNB% - %TRACKNAME%",
                            TAlbumTexts{"AC/DC", "Live: 1992", "rock", "1992"}, chars);
  EXPECT_EQ(dest, "AC-DC\\Live- 1992\\%TRACKNB% - %TRACKNAME%");
  EXPECT_EQ(TrackFileName(".\\", dest, 9, "Who?", chars), "./AC-DC/Live- 1992/09 - Who-");
  EXPECT_EQ(TrackFileName(".\\", dest, 10, "Ten", chars), "./AC-DC/Live- 1992/10 - Ten");
  EXPECT_EQ(FolderPart(".\\" + dest), "./AC-DC/Live- 1992/");
  // A pattern from the INI file does not climb out of the base folder either.
  const std::string climbed = TrackFileName("out\\", "..\\..\\%TRACKNB%", 3, "x", chars);
  EXPECT_EQ(climbed.rfind("out/", 0), 0u) << climbed;
  EXPECT_EQ(climbed.find(".."), std::string::npos) << climbed;
}

// Database and disc texts never leave the folder they are meant for, and never give an
// empty or special component.
TEST(FileNamingTest, HostileTextsStayInsideTheBaseFolder) {
  const TNameChars chars;
  struct Case {
    TAlbumTexts texts;
    std::string title;
    std::string expected;
  } const cases[] = {
      {{"..", "..", "", ""}, "..", "/out/__/__/01 - __"},
      {{".", "", "", ""}, ".", "/out/_/Unknown Album/01 - _"},
      {{"", "", "", ""}, "", "/out/Unknown Artist/Unknown Album/01 - Track 1"},
      {{"   ", "\t", "", ""}, " ", "/out/Unknown Artist/Unknown Album/01 - Track 1"},
      {{"a\nb",
        "c\x01"
        "d",
        "", ""},
       "e\x7f",
       "/out/a_b/c_d/01 - e_"},
      {{"../../etc", "x", "", ""}, "passwd", "/out/....etc/x/01 - passwd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const std::string dest = FillAlbumPlaceholders("%ARTIST%\\%ALBUM%\\%TRACKNB% - %TRACKNAME%",
                                                   c.texts, TNameChars{"", ""});
    EXPECT_EQ(TrackFileName("/out/", dest, 1, c.title, TNameChars{"", ""}), c.expected);
  }
  // Cleaning with "-" keeps separators out as well, and a long title is cut to a file name.
  const std::string dest =
      FillAlbumPlaceholders("%ARTIST%/%TRACKNAME%", {"a/b\\c", "", "", ""}, chars);
  const std::string name = TrackFileName("/out/", dest, 1, std::string(400, 'x'), chars);
  EXPECT_EQ(name, "/out/a-b-c/" + std::string(255, 'x'));
}

// A pattern (from the command line or the INI file) whose last component is dropped still
// names a file in its folder: no empty component, no name that is only an extension.
TEST(FileNamingTest, PatternsEndingInADroppedComponentNameTheTrack) {
  const TNameChars chars;
  struct Case {
    std::string pattern, expected;
  } const cases[] = {
      {"a/", "/out/a/01 - T"},        {"a\\", "/out/a/01 - T"}, {"a/.", "/out/a/01 - T"},
      {"a/./", "/out/a/01 - T"},      {".", "/out/01 - T"},     {"./", "/out/01 - T"},
      {"a/b/./.", "/out/a/b/01 - T"}, {"", "/out/01 - T"},      {"a/%TRACKNB%", "/out/a/01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(TrackFileName("/out/", c.pattern, 1, "T", chars), c.expected);
  }
}

// Whatever a database sends, the name stays below the base folder: no component is empty,
// "." or "..", none holds a control character, none is longer than a file name may be.
TEST(FileNamingTest, RandomTextsNeverLeaveTheBaseFolder) {
  std::mt19937 random(12345);
  const std::string alphabet = std::string("./\\:*?\"<>| \t\n\x01\x7f%aZ") + "\xc3\xa9\xff";
  const auto text = [&] {
    std::string t;
    const int length = int(random() % 12) * (random() % 8 == 0 ? 40 : 1);
    for (int i = 0; i < length; ++i) t += alphabet[random() % alphabet.size()];
    return t;
  };
  for (int round = 0; round < 3000; ++round) {
    const TNameChars chars{random() % 3 == 0 ? ""
                           : random() % 2    ? "."
                                             : "-",
                           random() % 3 == 0 ? "/" : ""};
    const std::string dest =
        FillAlbumPlaceholders("%ARTIST%\\%ALBUM%\\%GENRE%%YEAR%\\%TRACKNB% - %TRACKNAME%",
                              {text(), text(), text(), text()}, chars);
    const std::string name = TrackFileName("/base/", dest, 1 + int(random() % 99), text(), chars);
    SCOPED_TRACE(name);
    ASSERT_EQ(name.rfind("/base/", 0), 0u);
    std::string rest = name.substr(6);
    size_t start = 0;
    for (;;) {
      const size_t end = rest.find('/', start);
      const std::string part =
          rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
      ASSERT_FALSE(part.empty());
      ASSERT_NE(part, ".");
      ASSERT_NE(part, "..");
      ASSERT_LE(part.size(), 255u);
      for (unsigned char c : part) ASSERT_TRUE(c >= 0x20 && c != 0x7f);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
}

}  // namespace
}  // namespace qv
