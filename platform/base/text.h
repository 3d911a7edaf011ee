// Text helpers shared by the whole program: UTF-8 checks, the two 8-bit code pages
// the program meets in files and on the wire, and the class library's string and
// number helpers. Strings inside the program are UTF-8; code pages are converted at
// the boundary. Everything here is pure and thread-safe.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qv {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
[[nodiscard]] bool IsValidUtf8(std::string_view text);

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) become the C1 code points of the same value, as the platform's
// converter does, so every byte survives a round trip.
[[nodiscard]] std::string Cp1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252. A character the code page cannot hold, or an invalid UTF-8
// byte, becomes '?'; `lossless` (when given) tells whether that never happened.
[[nodiscard]] std::string Utf8ToCp1252(std::string_view utf8, bool* lossless = nullptr);
// ISO-8859-1 <-> UTF-8, with the same '?' rule.
[[nodiscard]] std::string Latin1ToUtf8(std::string_view bytes);
[[nodiscard]] std::string Utf8ToLatin1(std::string_view utf8, bool* lossless = nullptr);
// Bytes from outside: kept when they are valid UTF-8, else read as Windows-1252.
[[nodiscard]] std::string ToUtf8Auto(std::string_view bytes);
// Decodes the character at byte `i` (< text.size()) of `text` into `cp` and returns
// its length, or 0 when the bytes there are not well-formed UTF-8.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t& cp);
// The character a Windows-1252 byte stands for, with the rule of Cp1252ToUtf8 for
// the five undefined bytes.
[[nodiscard]] char32_t Cp1252ToCodePoint(unsigned char byte);
// Appends the UTF-8 form of the code point `cp` (which the caller has checked is a
// scalar value) to `out`.
void AppendUtf8(std::string& out, char32_t cp);
// Cuts `utf8` to at most `max_bytes` bytes without splitting a character.
[[nodiscard]] std::string Utf8Truncate(std::string_view utf8, size_t max_bytes);

// The class library's trimming: every character up to and including ' ' (controls
// as well as spaces) is removed.
[[nodiscard]] std::string Trim(std::string_view s);
// Strips white space in the C locale's sense (space, tab, CR, LF, VT, FF) from both ends; unlike
// Trim it keeps other control characters. Protocol and file parsers use it.
[[nodiscard]] std::string_view TrimSpaces(std::string_view s);
[[nodiscard]] std::string TrimLeft(std::string_view s);
[[nodiscard]] std::string TrimRight(std::string_view s);
// ASCII only, like the class library's UpperCase/LowerCase; other bytes are kept.
[[nodiscard]] std::string UpperCase(std::string_view s);
[[nodiscard]] std::string LowerCase(std::string_view s);
// ASCII case-insensitive equality and three-way comparison (<0, 0, >0).
[[nodiscard]] bool SameText(std::string_view a, std::string_view b);
[[nodiscard]] int CompareText(std::string_view a, std::string_view b);

// Integer parsing as the class library's StrToInt: optional leading blanks, an
// optional sign, then decimal digits or hexadecimal after "$", "0x" or "0X"; nothing
// may follow. The value must fit 32 bits (hexadecimal up to $FFFFFFFF, taken as the
// bit pattern, so "$FFFFFFFF" is -1).
[[nodiscard]] bool TryStrToInt(std::string_view s, int32_t& value);
[[nodiscard]] bool TryStrToInt64(std::string_view s, int64_t& value);
[[nodiscard]] int32_t StrToIntDef(std::string_view s, int32_t default_value);
[[nodiscard]] int64_t StrToInt64Def(std::string_view s, int64_t default_value);
// Throws qv::Exception "'<s>' is not a valid integer value".
[[nodiscard]] int32_t StrToInt(std::string_view s);
[[nodiscard]] int64_t StrToInt64(std::string_view s);

[[nodiscard]] std::string IntToStr(int64_t value);

// Upper-case hexadecimal of the value's bit pattern in its own width (IntToHex(-1, 2)
// is "FFFFFFFF" for a 32-bit int), padded with zeros to at least `digits`.
[[nodiscard]] std::string IntToHexBits(uint64_t bits, int width_bytes, int digits);
template <std::integral T>
[[nodiscard]] std::string IntToHex(T value, int digits) {
  return IntToHexBits(static_cast<uint64_t>(static_cast<std::make_unsigned_t<T>>(value)),
                      static_cast<int>(sizeof(T)), digits);
}

// Nearest integer, halves to even (Round(2.5) = 2, Round(3.5) = 4). Throws
// qv::Exception "Invalid floating point operation" for NaN or out-of-range values.
[[nodiscard]] int64_t Round(double value);

enum TReplaceFlag : unsigned { rfReplaceAll = 1, rfIgnoreCase = 2 };
// Replaces the first (or every, with rfReplaceAll) occurrence of `from`; with
// rfIgnoreCase the match ignores ASCII case. An empty `from` changes nothing.
[[nodiscard]] std::string StringReplace(std::string_view s, std::string_view from,
                                        std::string_view to, unsigned flags);

// The lines of a text: CR, LF and CRLF each end one; a text without any is one line.
[[nodiscard]] std::vector<std::string> SplitTextLines(std::string_view text);
// The accelerator of a caption, upper-cased: the character after a single "&" ("&&" is a
// plain "&"); 0 when there is none.
[[nodiscard]] char Accelerator(std::string_view caption);

}  // namespace qv
