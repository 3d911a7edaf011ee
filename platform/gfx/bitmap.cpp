#include "platform/gfx/bitmap.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <stdexcept>

namespace qv {

namespace {

// Keeps the byte arithmetic of rows within int.
constexpr int kMaxSide = 1 << 24;

int StrideFor(int width, PixelFormat format) {
  const int bpp = format == PixelFormat::pf24bit ? 3 : 4;
  return (width * bpp + 3) & ~3;
}

}  // namespace

Bitmap::Bitmap(int width, int height, PixelFormat format) : format_(format) {
  if (width > kMaxSide || height > kMaxSide) throw std::length_error("bitmap too large");
  if (width <= 0 || height <= 0) return;
  width_ = width;
  height_ = height;
  stride_ = StrideFor(width, format);
  data_.resize(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_));
}

void Bitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  Bitmap resized(width, height, format_);
  const int rows = std::min(height_, resized.height_);
  const int bytes = std::min(width_, resized.width_) * BytesPerPixel();
  for (int y = 0; y < rows; ++y) std::memcpy(resized.ScanLine(y), ScanLine(y), bytes);
  *this = std::move(resized);
}

void Bitmap::SetPixelFormat(PixelFormat format) {
  if (format == format_) return;
  Bitmap converted(width_, height_, format);
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* s = ScanLine(y);
    std::uint8_t* d = converted.ScanLine(y);
    for (int x = 0; x < width_; ++x) {
      if (format == PixelFormat::pf32bit) {
        d[4 * x] = s[3 * x];
        d[4 * x + 1] = s[3 * x + 1];
        d[4 * x + 2] = s[3 * x + 2];
        d[4 * x + 3] = 255;
      } else {
        d[3 * x] = s[4 * x];
        d[3 * x + 1] = s[4 * x + 1];
        d[3 * x + 2] = s[4 * x + 2];
      }
    }
  }
  *this = std::move(converted);
}

std::uint8_t* Bitmap::ScanLine(int y) {
  assert(y >= 0 && y < height_ && "scan line outside the bitmap");
  return data_.data() + static_cast<std::size_t>(y) * stride_;
}

const std::uint8_t* Bitmap::ScanLine(int y) const {
  assert(y >= 0 && y < height_ && "scan line outside the bitmap");
  return data_.data() + static_cast<std::size_t>(y) * stride_;
}

COLORREF Bitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  const std::uint8_t* p = ScanLine(y) + x * BytesPerPixel();
  return RGB(p[2], p[1], p[0]);
}

void Bitmap::SetPixel(int x, int y, COLORREF c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint8_t* p = ScanLine(y) + x * BytesPerPixel();
  p[0] = GetBValue(c);
  p[1] = GetGValue(c);
  p[2] = GetRValue(c);
  if (format_ == PixelFormat::pf32bit) p[3] = 255;
}

void Bitmap::Fill(COLORREF c) {
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) SetPixel(x, y, c);
}

}  // namespace qv
