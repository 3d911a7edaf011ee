// The built-in bitmap font: a 6 x 12 cell (ascent 9, descent 3) holding 5-pixel-wide glyphs
// for printable ASCII. Internal to the font code.
#pragma once

#include <array>
#include <cstdint>

namespace qv::builtin_font {

constexpr int kCellWidth = 6;
constexpr int kCellHeight = 12;
constexpr int kAscent = 9;
constexpr int kGlyphWidth = 5;
constexpr int kGlyphRows = 9;  // cell rows 2..10
constexpr int kGlyphTop = 7;   // rows from the glyph's first row to the baseline

// Row bits of a glyph, bit 4 the leftmost pixel. Characters outside printable ASCII get a
// hollow box; control characters are blank.
[[nodiscard]] std::array<std::uint8_t, kGlyphRows> Rows(char32_t c);

}  // namespace qv::builtin_font
