// Helpers of the painting tests: pictures from and to letters, targets with a canary, and
// golden images.
//
// Goldens live in tests/skin/golden/<name>.png and are compared exactly. On a mismatch the
// test writes <name>.actual.png and <name>.diff.png (differing pixels red on grey) into
// <build>/golden-out/; with QUORVEL_UPDATE_GOLDENS=1 it rewrites the golden instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/picture.h"
#include "platform/gfx/png_codec.h"

namespace qv::test {

// A colour per letter: distinct, none of them fuchsia, black or white.
inline COLORREF LetterColor(char c) {
  const int i = static_cast<unsigned char>(c);
  return RGB(std::uint8_t(i * 37 % 200 + 20), std::uint8_t(i * 91 % 200 + 30),
             std::uint8_t(i * 53 % 200 + 25));
}

// Rows of letters as a bitmap: '.' white, '#' black, '*' fuchsia, '-' grey 128, any other
// character its LetterColor.
inline Bitmap FromArt(const std::vector<std::string>& rows) {
  Bitmap b(int(rows.front().size()), int(rows.size()));
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const char c = rows[std::size_t(y)][std::size_t(x)];
      b.SetPixel(x, y,
                 c == '.'   ? 0xFFFFFF
                 : c == '#' ? 0x000000
                 : c == '*' ? 0xFF00FF
                 : c == '-' ? 0x808080
                            : LetterColor(c));
    }
  return b;
}

// The bitmap as rows of letters by the same legend; '?' for any other colour.
inline std::string ToArt(const Bitmap& b) {
  std::map<COLORREF, char> legend{{0xFFFFFF, '.'}, {0, '#'}, {0xFF00FF, '*'}, {0x808080, '-'}};
  for (char c = 'A'; c <= 'Z'; ++c) legend[LetterColor(c)] = c;
  for (char c = 'a'; c <= 'z'; ++c) legend[LetterColor(c)] = c;
  std::string out = "\n";
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) {
      const auto it = legend.find(b.Pixel(x, y));
      out += it == legend.end() ? '?' : it->second;
    }
    out += "\n";
  }
  return out;
}
inline std::string Art(const std::vector<std::string>& rows) {
  std::string out = "\n";
  for (const auto& r : rows) out += r + "\n";
  return out;
}

// A target bitmap with a canary: the bytes that pad each row to four bytes hold a pattern
// that no routine may change (writes past a row's end land there; past the last row,
// AddressSanitizer catches them). Widths that are not multiples of 4 have padding.
inline void SetCanary(Bitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int i = 3 * b.Width(); i < b.Stride(); ++i) b.ScanLine(y)[i] = std::uint8_t(0xA5 ^ i);
}
inline bool CanaryIntact(const Bitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int i = 3 * b.Width(); i < b.Stride(); ++i)
      if (b.ScanLine(y)[i] != std::uint8_t(0xA5 ^ i)) return false;
  return true;
}
inline Bitmap CanaryTarget(int w, int h, COLORREF fill) {
  Bitmap b(w, h);
  b.Fill(fill);
  SetCanary(b);
  return b;
}

// Pixels compared, not the bytes that pad the rows.
inline bool SamePixels(const Bitmap& a, const Bitmap& b) {
  bool same = a.Width() == b.Width() && a.Height() == b.Height();
  for (int y = 0; same && y < a.Height(); ++y)
    for (int x = 0; same && x < a.Width(); ++x) same = a.Pixel(x, y) == b.Pixel(x, y);
  return same;
}

// Compares the picture with its golden image (see the file comment).
inline void ExpectGolden(const Bitmap& actual, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path golden = fs::path(QV_SOURCE_DIR) / "tests/skin/golden" / (name + ".png");
  const char* update = std::getenv("QUORVEL_UPDATE_GOLDENS");
  if (update != nullptr && std::string(update) == "1") {
    fs::create_directories(golden.parent_path());
    WriteFileBytes(golden.string(), SavePng(actual));
    return;
  }
  ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; QUORVEL_UPDATE_GOLDENS=1 makes it";
  const Bitmap expected = LoadPng(ReadFileBytes(golden.string()));
  if (SamePixels(expected, actual)) return;
  const fs::path out = fs::path(QV_BINARY_DIR) / "golden-out";
  fs::create_directories(out);
  Bitmap diff(std::max(actual.Width(), expected.Width()),
              std::max(actual.Height(), expected.Height()));
  int differing = 0;
  for (int y = 0; y < diff.Height(); ++y)
    for (int x = 0; x < diff.Width(); ++x) {
      const bool same = actual.Pixel(x, y) == expected.Pixel(x, y);
      differing += same ? 0 : 1;
      diff.SetPixel(x, y, same ? 0x808080 : 0x0000FF);
    }
  WriteFileBytes((out / (name + ".actual.png")).string(), SavePng(actual));
  WriteFileBytes((out / (name + ".diff.png")).string(), SavePng(diff));
  ADD_FAILURE() << name << ": " << differing << " pixels differ (sizes " << actual.Width() << "x"
                << actual.Height() << " and " << expected.Width() << "x" << expected.Height()
                << "); see " << out;
}

}  // namespace qv::test
