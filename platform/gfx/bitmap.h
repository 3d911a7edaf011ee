// A device-independent picture in memory: 24-bit BGR (the format the skin code works on
// through `ScanLine`) or 32-bit BGRA. Rows run top to bottom, each padded to a multiple of
// 4 bytes. A value type: copying copies the pixels (the class library's Assign).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gfx/color.h"
#include "platform/gfx/geometry.h"

namespace qv {

enum class PixelFormat { pf24bit, pf32bit };

class Bitmap {
 public:
  Bitmap() = default;
  // A size of 0 or less on either side makes an empty bitmap; a side past 2^24 pixels throws
  // std::length_error.
  Bitmap(int width, int height, PixelFormat format = PixelFormat::pf24bit);

  [[nodiscard]] int Width() const { return width_; }
  [[nodiscard]] int Height() const { return height_; }
  [[nodiscard]] bool Empty() const { return width_ == 0 || height_ == 0; }
  [[nodiscard]] PixelFormat Format() const { return format_; }
  [[nodiscard]] int BytesPerPixel() const { return format_ == PixelFormat::pf24bit ? 3 : 4; }
  [[nodiscard]] int Stride() const { return stride_; }
  [[nodiscard]] Rect BoundsRect() const { return {0, 0, width_, height_}; }

  // Changes the size keeping the pixels that stay inside; new pixels are black.
  void SetSize(int width, int height);
  // Converts the pixels; 32-bit pixels made from 24-bit ones are opaque (alpha 255).
  void SetPixelFormat(PixelFormat format);

  [[nodiscard]] std::uint8_t* ScanLine(int y);
  [[nodiscard]] const std::uint8_t* ScanLine(int y) const;
  [[nodiscard]] std::uint8_t* Bits() { return data_.data(); }
  [[nodiscard]] const std::uint8_t* Bits() const { return data_.data(); }

  // CLR_INVALID outside the bitmap; writes outside it are ignored.
  [[nodiscard]] COLORREF Pixel(int x, int y) const;
  void SetPixel(int x, int y, COLORREF c);
  void Fill(COLORREF c);

  friend bool operator==(const Bitmap&, const Bitmap&) = default;

 private:
  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::pf24bit;
  int stride_ = 0;
  std::vector<std::uint8_t> data_;
};

}  // namespace qv
