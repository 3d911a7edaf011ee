#include "platform/base/text.h"

#include <cctype>
#include <cmath>
#include <limits>

#include "platform/base/exception.h"

namespace qv {
namespace {

// Windows-1252 0x80..0x9F; the undefined five map to the C1 code point of the same value.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int Cp1252FromCodePoint(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
  for (int k = 0; k < 32; ++k)
    if (kCp1252High[k] == cp) return 0x80 + k;
  return -1;
}

template <class Map>
std::string FromUtf8(std::string_view utf8, bool* lossless, Map map) {
  std::string out;
  out.reserve(utf8.size());
  bool exact = true;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp;
    const size_t len = DecodeUtf8(utf8, i, cp);
    if (len == 0) {
      out += '?';
      exact = false;
      ++i;
      continue;
    }
    const int byte = map(cp);
    if (byte < 0) {
      out += '?';
      exact = false;
    } else {
      out += char(byte);
    }
    i += len;
  }
  if (lossless) *lossless = exact;
  return out;
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses into a magnitude; `bits` is the width the value must fit.
bool ParseInteger(std::string_view s, int bits, int64_t& value) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  bool hex = false;
  if (i < s.size() && s[i] == '$') {
    hex = true;
    ++i;
  } else if (s.size() - i >= 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  const uint64_t limit_unsigned =
      bits == 64 ? std::numeric_limits<uint64_t>::max() : (uint64_t(1) << bits) - 1;
  uint64_t magnitude = 0;
  for (; i < s.size(); ++i) {
    int digit;
    if (hex) {
      digit = HexValue(s[i]);
    } else {
      digit = (s[i] >= '0' && s[i] <= '9') ? s[i] - '0' : -1;
    }
    if (digit < 0) return false;
    const uint64_t base = hex ? 16 : 10;
    if (magnitude > (limit_unsigned - uint64_t(digit)) / base) return false;
    magnitude = magnitude * base + uint64_t(digit);
  }
  if (hex) {
    // Hexadecimal is a bit pattern of the target width.
    uint64_t pattern = negative ? (~magnitude + 1) : magnitude;
    if (bits < 64) pattern &= limit_unsigned;
    if (bits == 32) {
      value = int32_t(uint32_t(pattern));
    } else {
      value = int64_t(pattern);
    }
    return true;
  }
  const uint64_t max_positive = (uint64_t(1) << (bits - 1)) - 1;
  if (negative) {
    if (magnitude > max_positive + 1) return false;
    value = magnitude == max_positive + 1 ? std::numeric_limits<int64_t>::min() >> (64 - bits)
                                          : -int64_t(magnitude);
  } else {
    if (magnitude > max_positive) return false;
    value = int64_t(magnitude);
  }
  return true;
}

[[noreturn]] void ThrowNotInteger(std::string_view s) {
  throw Exception("'" + std::string(s) + "' is not a valid integer value");
}

}  // namespace

size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t len;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, min = 0x80, cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, min = 0x800, cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, min = 0x10000, cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

char32_t Cp1252ToCodePoint(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    const size_t len = DecodeUtf8(text, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) {
    AppendUtf8(out, Cp1252ToCodePoint(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8, bool* lossless) {
  return FromUtf8(utf8, lossless, Cp1252FromCodePoint);
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string Utf8ToLatin1(std::string_view utf8, bool* lossless) {
  return FromUtf8(utf8, lossless, [](char32_t cp) { return cp <= 0xFF ? int(cp) : -1; });
}

std::string ToUtf8Auto(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Cp1252ToUtf8(bytes);
}

std::string Utf8Truncate(std::string_view utf8, size_t max_bytes) {
  if (utf8.size() <= max_bytes) return std::string(utf8);
  size_t end = max_bytes;
  // Step back over continuation bytes so no character is split.
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return std::string(utf8.substr(0, end));
}

std::string_view TrimSpaces(std::string_view s) {
  const auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool TryStrToInt(std::string_view s, int32_t& value) {
  int64_t v;
  if (!ParseInteger(s, 32, v)) return false;
  value = int32_t(v);
  return true;
}

bool TryStrToInt64(std::string_view s, int64_t& value) {
  return ParseInteger(s, 64, value);
}

int32_t StrToIntDef(std::string_view s, int32_t default_value) {
  int32_t v;
  return TryStrToInt(s, v) ? v : default_value;
}

int64_t StrToInt64Def(std::string_view s, int64_t default_value) {
  int64_t v;
  return TryStrToInt64(s, v) ? v : default_value;
}

int32_t StrToInt(std::string_view s) {
  int32_t v;
  if (!TryStrToInt(s, v)) ThrowNotInteger(s);
  return v;
}

int64_t StrToInt64(std::string_view s) {
  int64_t v;
  if (!TryStrToInt64(s, v)) ThrowNotInteger(s);
  return v;
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

std::string IntToHexBits(uint64_t bits, int width_bytes, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  const int max_digits = width_bytes * 2;
  do {
    out.insert(out.begin(), kHex[bits & 0xF]);
    bits >>= 4;
  } while (bits != 0 && int(out.size()) < max_digits);
  if (digits > 64) digits = 64;
  if (int(out.size()) < digits) out.insert(0, size_t(digits) - out.size(), '0');
  return out;
}

int64_t Round(double value) {
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
    throw Exception("Invalid floating point operation");
  const double floor_value = std::floor(value);
  const double diff = value - floor_value;
  double result;
  if (diff < 0.5) {
    result = floor_value;
  } else if (diff > 0.5) {
    result = floor_value + 1.0;
  } else {
    result = std::fmod(floor_value, 2.0) == 0.0 ? floor_value : floor_value + 1.0;
  }
  if (result >= 9223372036854775808.0) throw Exception("Invalid floating point operation");
  return int64_t(result);
}

std::string StringReplace(std::string_view s, std::string_view from, std::string_view to,
                          unsigned flags) {
  if (from.empty()) return std::string(s);
  const bool ignore_case = (flags & rfIgnoreCase) != 0;
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    const bool match =
        s.size() - i >= from.size() &&
        (ignore_case ? SameText(s.substr(i, from.size()), from) : s.substr(i, from.size()) == from);
    if (!match) {
      out += s[i++];
      continue;
    }
    out += to;
    i += from.size();
    if ((flags & rfReplaceAll) == 0) {
      out += s.substr(i);
      return out;
    }
  }
  return out;
}

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n' || text[i] == '\r') {
      lines.emplace_back();
    } else {
      lines.back().push_back(text[i]);
    }
  }
  return lines;
}

char Accelerator(std::string_view caption) {
  for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return char(std::toupper(static_cast<unsigned char>(caption[i + 1])));
  }
  return 0;
}

}  // namespace qv
