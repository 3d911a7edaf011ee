#include "skin/sfadeeffects.h"

#include <algorithm>

#include "skin/spaintutils.h"

namespace qv {

void FadeRect(Bitmap& bmp, Rect r, int percent, TColor color) {
  if (bmp.Empty() || bmp.Format() != PixelFormat::pf24bit) return;
  r.Left = std::max(r.Left, 0);
  r.Top = std::max(r.Top, 0);
  r.Right = std::min(r.Right, bmp.Width() - 1);
  r.Bottom = std::min(r.Bottom, bmp.Height() - 1);
  if (r.Right < r.Left || r.Bottom < r.Top) return;
  const int p = std::clamp(percent, 0, 100);
  const COLORREF rgb = ColorToRGB(color);
  const int c[3] = {GetBValue(rgb), GetGValue(rgb), GetRValue(rgb)};
  for (int y = r.Top; y <= r.Bottom; ++y) {
    std::uint8_t* px = bmp.ScanLine(y) + 3 * r.Left;
    for (int x = r.Left; x <= r.Right; ++x)
      for (int k = 0; k < 3; ++k, ++px) {
        // Exact: (channel * p + colour * (100 - p)) / 100, halves to even.
        const int num = *px * p + c[k] * (100 - p);
        int q = num / 100;
        const int rem = num % 100;
        if (rem > 50 || (rem == 50 && (q & 1) != 0)) ++q;
        *px = std::uint8_t(q);
      }
  }
}

void PaintDisabledEffect(Bitmap& image, TsDisabledKind kind, TColor color, Point offset,
                         const TsBGInfo& parent) {
  if ((kind & dkGrayed) != 0) GrayScale(image);
  if ((kind & dkBlended) == 0) return;
  if (parent.Ready && parent.Bmp != nullptr) {
    const int x = parent.OffsetX + offset.X, y = parent.OffsetY + offset.Y;
    BlendBitmapRect(image, 0, 0, static_cast<TColor>(0xFF000000u), 0.5,
                    Rect{x, y, x + image.Width(), y + image.Height()}, parent.Bmp->Image());
  } else {
    PaintControlFrame(image, image.BoundsRect(), 50, 0, 0, color);
  }
}

}  // namespace qv
