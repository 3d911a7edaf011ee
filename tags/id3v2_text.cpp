#include "tags/id3v2_text.h"

#include <array>

namespace qv::id3 {
namespace {

// Windows-1252 0x80..0x9F; 0 marks a byte the code page leaves undefined (kept as C1).
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Appends the code point of one UTF-8 sequence at `i`; false when the bytes are not UTF-8.
bool NextUtf8(std::string_view s, size_t& i, char32_t& cp) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  int len = 0;
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  }
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    return false;
  }
  if (i + len > s.size()) return false;
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr std::array<char32_t, 5> kMin = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += len;
  return true;
}

}  // namespace

std::vector<char32_t> DecodeText(std::string_view Text) {
  std::vector<char32_t> out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size();) {
    char32_t cp = 0;
    if (!NextUtf8(Text, i, cp)) {
      out.clear();
      for (const char c : Text) {
        const auto b = static_cast<uint8_t>(c);
        const bool high = b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0;
        out.push_back(high ? kCp1252High[b - 0x80] : b);
      }
      return out;
    }
    out.push_back(cp);
  }
  return out;
}

std::vector<uint8_t> EncodeTextFrame(std::string_view Text) {
  const std::vector<char32_t> cps = DecodeText(Text);
  bool latin1 = true;
  for (const char32_t cp : cps) latin1 = latin1 && cp <= 0xFF;
  std::vector<uint8_t> out;
  if (latin1) {
    out.reserve(cps.size() + 1);
    out.push_back(0);
    for (const char32_t cp : cps) out.push_back(static_cast<uint8_t>(cp));
    return out;
  }
  out.reserve(cps.size() * 2 + 3);
  out.push_back(1);  // UTF-16, little-endian byte-order mark
  out.push_back(0xFF);
  out.push_back(0xFE);
  auto put = [&out](char32_t unit) {
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  };
  for (const char32_t cp : cps) {
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

}  // namespace qv::id3
