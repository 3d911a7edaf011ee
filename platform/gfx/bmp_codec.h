// The BMP format, read and written by our own code. Reads 1, 4, 8, 16, 24 and 32 bits per
// pixel, uncompressed, RLE8, RLE4 and bit-field files, bottom-up and top-down, with the core
// or any later info header. Writes 24-bit, 32-bit and 8-bit palette files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/gfx/bitmap.h"

namespace qv {

[[nodiscard]] Bitmap LoadBmp(std::span<const std::uint8_t> data);

struct BmpWriteOptions {
  int BitsPerPixel = 24;  // 24, 32, or 8 (a palette of the picture's colours, at most 256)
  bool TopDown = false;
};
[[nodiscard]] std::vector<std::uint8_t> SaveBmp(const Bitmap& bitmap,
                                                const BmpWriteOptions& options = {});

}  // namespace qv
