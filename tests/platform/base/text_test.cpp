#include "platform/base/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/base/exception.h"

namespace qv {
namespace {

constexpr unsigned char kUndefinedCp1252[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

TEST(TextTest, EveryCp1252ByteSurvivesARoundTrip) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string byte(1, char(b));
    const std::string utf8 = Cp1252ToUtf8(byte);
    EXPECT_TRUE(IsValidUtf8(utf8));
    bool lossless = false;
    EXPECT_EQ(Utf8ToCp1252(utf8, &lossless), byte);
    EXPECT_TRUE(lossless);
  }
}

TEST(TextTest, Cp1252HighRangeMapsToTheRightCharacters) {
  const struct {
    unsigned char byte;
    const char* utf8;
  } cases[] = {{0x80, "\u20AC"}, {0x85, "\u2026"}, {0x8A, "\u0160"}, {0x92, "\u2019"},
               {0x99, "\u2122"}, {0x9F, "\u0178"}, {0xA0, "\u00A0"}, {0xB0, "\u00B0"},
               {0xE9, "\u00E9"}, {0xFF, "\u00FF"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.byte));
    EXPECT_EQ(Cp1252ToUtf8(std::string(1, char(c.byte))), c.utf8);
  }
  // The undefined bytes become the C1 controls of the same value, both ways.
  for (const unsigned char b : kUndefinedCp1252) {
    SCOPED_TRACE(int(b));
    const std::string utf8 = Cp1252ToUtf8(std::string(1, char(b)));
    ASSERT_EQ(utf8.size(), 2u);
    EXPECT_EQ((unsigned char)utf8[0], 0xC2);
    EXPECT_EQ((unsigned char)utf8[1], b);
    EXPECT_EQ(Latin1ToUtf8(std::string(1, char(b))), utf8);
  }
}

TEST(TextTest, Utf8Validity) {
  const struct {
    const char* text;
    bool valid;
  } cases[] = {
      {"", true},
      {"ascii", true},
      {"\u00E9\u20AC\U0001F600", true},
      {"\xC0\xAF", false},          // overlong '/'
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xC3", false},              // truncated
      {"\x80", false},              // lone continuation
      {"abc\xE9", false},           // Windows-1252 e acute
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsValidUtf8(c.text), c.valid);
  }
  EXPECT_EQ(ToUtf8Auto("caf\xE9"), "caf\u00E9");
  EXPECT_EQ(ToUtf8Auto("caf\u00E9"), "caf\u00E9");
  EXPECT_EQ(ToUtf8Auto("RIP Track N\xB0"), "RIP Track N\u00B0");
}

TEST(TextTest, DecodeUtf8ReadsOneCharacterOrRefusesIt) {
  const struct {
    std::string text;
    size_t at;
    size_t length;
    char32_t cp;
  } cases[] = {
      {"ab", 1, 1, U'b'},
      {"x\xC3\xA9", 1, 2, 0xE9},
      {"\xE2\x82\xAC", 0, 3, 0x20AC},
      {"\xF0\x9F\x8E\xB5", 0, 4, 0x1F3B5},
      {"\xC3", 0, 0, 0},              // cut short
      {"\xC0\xAF", 0, 0, 0},          // overlong
      {"\xED\xA0\x80", 0, 0, 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0, 0, 0},  // above U+10FFFF
      {"\xC3(", 0, 0, 0},             // not a continuation byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    char32_t cp = 0;
    EXPECT_EQ(DecodeUtf8(c.text, c.at, cp), c.length);
    if (c.length != 0) {
      EXPECT_EQ(cp, c.cp);
    }
  }
  EXPECT_EQ(Cp1252ToCodePoint(0x80), char32_t{0x20AC});
  EXPECT_EQ(Cp1252ToCodePoint(0x81), char32_t{0x81});
  EXPECT_EQ(Cp1252ToCodePoint(0xE9), char32_t{0xE9});
}

TEST(TextTest, Utf8TruncateNeverSplitsACharacter) {
  const std::string s = "a\u00E9\u20AC";  // 1 + 2 + 3 bytes
  EXPECT_EQ(Utf8Truncate(s, 6), s);
  EXPECT_EQ(Utf8Truncate(s, 5), "a\u00E9");
  EXPECT_EQ(Utf8Truncate(s, 2), "a");
  EXPECT_EQ(Utf8Truncate(s, 0), "");
}

TEST(TextTest, StrToIntFollowsTheClassLibrary) {
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"123", true, 123},
      {"-123", true, -123},
      {"  42", true, 42},
      {"$FF", true, 255},
      {"0x1A", true, 26},
      {"-$10", true, -16},
      {"$FFFFFFFF", true, -1},
      {"$7FFFFFFF", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"$100000000", false, 0},
      {"", false, 0},
      {"$", false, 0},
      {"42 ", false, 0},
      {"12a", false, 0},
      {"1e3", false, 0},
      {"99999999999999999999999", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
    EXPECT_EQ(StrToIntDef(c.text, -99), c.ok ? c.value : -99);
  }
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64Def("9223372036854775808", 5), 5);
  EXPECT_EQ(StrToInt("$10"), 16);
  try {
    (void)StrToInt("x1");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
  }
}

}  // namespace
}  // namespace qv
