#include "skin/sgradient.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/base/text.h"

namespace qv {

void PrepareGradArray(std::string_view text, TsGradArray& gradient) {
  gradient.clear();
  std::vector<std::string_view> words;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  const std::size_t points = words.size() / 5;
  TsGradArray result(points);
  for (std::size_t i = 0; i < points; ++i) {
    std::int32_t v[4];
    for (int k = 0; k < 4; ++k)
      if (!TryStrToInt(words[5 * i + std::size_t(k)], v[k])) return;
    result[i].Color1 = v[0];
    result[i].Color2 = v[1];
    result[i].Percent = std::uint8_t(std::uint32_t(v[2]) & 0xFF);  // stored in one byte
    result[i].Mode = v[3];
  }
  gradient = std::move(result);
}

namespace {

struct Ramp {
  double value[3];  // red, green, blue
  double step[3];

  Ramp(const TsGradientPoint& p, int n) {
    const auto c1 = static_cast<std::uint32_t>(p.Color1);
    const auto c2 = static_cast<std::uint32_t>(p.Color2);
    for (int ch = 0; ch < 3; ++ch) {
      const int from = int((c1 >> (8 * ch)) & 0xFF);
      const int to = int((c2 >> (8 * ch)) & 0xFF);
      value[ch] = from;
      step[ch] = double(to - from) / n;
    }
  }
  // The current colour as blue, green, red bytes, then one step further.
  void Next(std::uint8_t bgr[3]) {
    for (int ch = 0; ch < 3; ++ch) {
      bgr[2 - ch] = std::uint8_t(std::clamp(std::nearbyint(value[ch]), 0.0, 255.0));
      value[ch] += step[ch];
    }
  }
};

}  // namespace

void PaintGrad(Bitmap& bitmap, const TsGradArray& gradient, Rect r) {
  if (gradient.empty()) return;
  const int width = bitmap.Width(), height = bitmap.Height();
  r.Right = std::min(r.Right, width);
  r.Bottom = std::min(r.Bottom, height);
  r.Left = std::max(r.Left, 0);
  r.Top = std::max(r.Top, 0);
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  const int mode = gradient.front().Mode;
  if (mode != 0 && mode != 1) return;
  const bool vertical = mode == 0;
  const int extent = vertical ? r.Height() : r.Width();
  const int bitmapLast = (vertical ? height : width) - 1;
  const int bpp = bitmap.BytesPerPixel();

  int p = vertical ? r.Top : r.Left;
  for (std::size_t i = 0; i < gradient.size(); ++i) {
    const TsGradientPoint& point = gradient[i];
    const bool isLast = i + 1 == gradient.size();
    const int s = p;
    int e = isLast ? bitmapLast : s + extent * point.Percent / 100;
    if (e - s <= 0) {
      p = e;
      continue;
    }
    if (!vertical) {
      // Horizontal bands stop at the bitmap's last column, even where R ends earlier.
      e = std::min(e, bitmapLast);
    } else if (isLast || e > bitmapLast) {
      // The last band, and one running past the bitmap, stop at R's last row; an earlier
      // band may end below R while it stays in the bitmap.
      e = r.Bottom - 1;
      if (e == s) return;
      if (e < s) {
        p = e;
        continue;
      }
    }
    const int n = e - s;
    Ramp ramp(point, n);
    std::uint8_t bgr[3];
    if (vertical) {
      for (int y = s; y <= e; ++y) {
        ramp.Next(bgr);
        std::uint8_t* row = bitmap.ScanLine(y) + r.Left * bpp;
        if (bpp == 3) {
          // One pixel, then the filled part copied onto the rest, doubling each time.
          const std::size_t total = std::size_t(r.Width()) * 3;
          std::copy(bgr, bgr + 3, row);
          for (std::size_t done = 3; done < total; done *= 2)
            std::memcpy(row + done, row, std::min(done, total - done));
        } else {
          for (int x = r.Left; x < r.Right; ++x, row += bpp) std::copy(bgr, bgr + 3, row);
        }
      }
    } else {
      for (int x = s; x <= e; ++x) {
        ramp.Next(bgr);
        for (int y = r.Top; y < r.Bottom; ++y)
          std::copy(bgr, bgr + 3, bitmap.ScanLine(y) + x * bpp);
      }
    }
    p = e;
  }
}

void PaintGrad(TBitmap& bitmap, const TsGradArray& gradient, const Rect& r) {
  PaintGrad(bitmap.Image(), gradient, r);
}

}  // namespace qv
