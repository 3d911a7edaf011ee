#include "skin/spaintutils.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/base/paths.h"
#include "platform/base/text.h"
#include "platform/classlib/jpeg.h"
#include "platform/gfx/raster.h"
#include "skin/sfadeeffects.h"
#include "skin/sgradient.h"
#include "skin/sskindata.h"

namespace qv {

namespace {

bool Is24(const Bitmap& b) {
  return !b.Empty() && b.Format() == PixelFormat::pf24bit;
}

// The pixel at (x, y) of a bitmap whose bounds the caller has checked.
std::uint8_t* Px(Bitmap& b, int x, int y) {
  return b.ScanLine(y) + 3 * x;
}
const std::uint8_t* Px(const Bitmap& b, int x, int y) {
  return b.ScanLine(y) + 3 * x;
}

// num / den rounded to the nearest integer, halves to even; num >= 0, den > 0.
int RoundDiv(int num, int den) {
  int q = num / den;
  const int r = num % den;
  if (2 * r > den || (2 * r == den && (q & 1) != 0)) ++q;
  return q;
}

// The same for an even constant denominator, without branches so that loops vectorise: a
// tie is t = num + den / 2 falling on a multiple of den, and then an odd quotient steps down.
template <int Den>
int RoundDivBy(int num) {
  static_assert(Den % 2 == 0);
  const int t = num + Den / 2;
  const int q = t / Den;
  return q - (int(q * Den == t) & q);
}

// d := Round((s * (256 - a) + d * a) / 256) over n bytes, halves to even. The sum and its
// rounding fit 16 bits (at most 65280 + 128).
void BlendRow(std::uint8_t* d, const std::uint8_t* s, int n, std::uint16_t a) {
  const auto b = std::uint16_t(256 - a);
  for (int i = 0; i < n; ++i) {
    const auto t = std::uint16_t(s[i] * b + d[i] * a + 128);
    const auto q = std::uint16_t(t >> 8);
    d[i] = std::uint8_t(q - (std::uint16_t((t & 0xFF) == 0) & q & 1));
  }
}

struct Bgr {
  std::uint8_t c[3];
  explicit Bgr(TColor color) {
    const COLORREF rgb = ColorToRGB(color);
    c[0] = GetBValue(rgb);
    c[1] = GetGValue(rgb);
    c[2] = GetRValue(rgb);
  }
  [[nodiscard]] bool Is(const std::uint8_t* p) const {
    return p[0] == c[0] && p[1] == c[1] && p[2] == c[2];
  }
};

Rect ClipTo(const Bitmap& b, const Rect& r) {
  return Intersect(r, b.BoundsRect());
}

}  // namespace

bool ClipAxis(int& s, int& d, int& n, int srcLimit, int dstLimit) {
  if (s < 0) {
    d -= s;
    n += s;
    s = 0;
  }
  if (d < 0) {
    s -= d;
    n += d;
    d = 0;
  }
  n = std::min({n, srcLimit - s, dstLimit - d});
  return n > 0;
}

// Background and borders -------------------------------------------------------------------

void FillBitmapRect(Bitmap& bmp, Rect r, TColor color) {
  if (!Is24(bmp)) return;
  r = ClipTo(bmp, r);
  if (r.IsEmpty()) return;
  const Bgr c(color);
  for (int y = r.Top; y < r.Bottom; ++y) {
    std::uint8_t* p = Px(bmp, r.Left, y);
    for (int x = r.Left; x < r.Right; ++x, p += 3) std::memcpy(p, c.c, 3);
  }
}

void CopyBitmapRect(Bitmap& target, Point at, const Bitmap& source, Rect r) {
  if (!Is24(target) || !Is24(source) || &target == &source) return;
  int sx = r.Left, dx = at.X, w = r.Width();
  int sy = r.Top, dy = at.Y, h = r.Height();
  if (!ClipAxis(sx, dx, w, source.Width(), target.Width())) return;
  if (!ClipAxis(sy, dy, h, source.Height(), target.Height())) return;
  for (int y = 0; y < h; ++y) std::memcpy(Px(target, dx, dy + y), Px(source, sx, sy + y), 3 * w);
}

void TileGraphic(Bitmap& target, Rect r, const Bitmap& graphic) {
  if (!Is24(target) || !Is24(graphic)) return;
  const Rect clip = ClipTo(target, r);
  if (clip.IsEmpty()) return;
  const int gw = graphic.Width(), gh = graphic.Height();
  for (int y = clip.Top; y < clip.Bottom; ++y) {
    const std::uint8_t* row = graphic.ScanLine((y - r.Top) % gh);
    std::uint8_t* d = Px(target, clip.Left, y);
    int gx = (clip.Left - r.Left) % gw;
    for (int x = clip.Left; x < clip.Right;) {
      const int n = std::min(gw - gx, clip.Right - x);
      std::memcpy(d, row + 3 * gx, 3 * n);
      d += 3 * n;
      x += n;
      gx = 0;
    }
  }
}

void CopyByMask(Rect dst, Rect src, Bitmap& target, const TsBGInfo& parent, const Bitmap& mask) {
  if (!Is24(target) || !Is24(mask)) return;
  const int half = mask.Height() / 2;
  int sx = src.Left, dx = dst.Left, w = std::min(src.Width(), dst.Width());
  int sy = src.Top, dy = dst.Top, h = std::min(src.Height(), dst.Height());
  // Reads stay in the image half; the mask row of each is `half` rows further down.
  if (!ClipAxis(sx, dx, w, mask.Width(), target.Width())) return;
  if (!ClipAxis(sy, dy, h, half, target.Height())) return;
  const Bitmap* pbmp = parent.Ready && parent.Bmp != nullptr ? &parent.Bmp->Image() : nullptr;
  if (pbmp != nullptr && !Is24(*pbmp)) pbmp = nullptr;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = Px(mask, sx, sy + y);
    const std::uint8_t* m = Px(mask, sx, sy + y + half);
    std::uint8_t* d = Px(target, dx, dy + y);
    const int py = parent.OffsetY + dy + y;
    for (int x = 0; x < w; ++x, s += 3, m += 3, d += 3) {
      if (pbmp != nullptr && s[0] == 255 && s[1] == 0 && s[2] == 255) {
        const int px = parent.OffsetX + dx + x;
        if (px >= 0 && py >= 0 && px < pbmp->Width() && py < pbmp->Height())
          std::memcpy(d, Px(*pbmp, px, py), 3);
        continue;
      }
      for (int c = 0; c < 3; ++c) d[c] = MaskBlend(s[c], d[c], m[c]);
    }
  }
}

namespace {

// The grid of a three-state mask's frame laid over a rectangle: cell size, the frame's left
// edge, the image half's height and the corner sizes (half the rectangle each when it is
// smaller than two cells, the second corner taking the odd pixel).
struct MaskGrid {
  int w = 0, h = 0, x0 = 0, half = 0;
  int left = 0, right = 0, top = 0, bottom = 0;

  MaskGrid(const Bitmap& mask, int state, const Rect& r) {
    w = mask.Width() / 9;
    h = mask.Height() / 6;
    x0 = state * 3 * w;
    half = mask.Height() / 2;
    const int width = r.Width(), height = r.Height();
    left = right = w;
    if (width < 2 * w) {
      left = width / 2;
      right = left + width % 2;
    }
    top = bottom = h;
    if (height < 2 * h) {
      top = height / 2;
      bottom = top + height % 2;
    }
  }
  [[nodiscard]] bool Usable() const { return w > 0 && h > 0; }
};

using PieceCopy = void (*)(void* ctx, Rect dst, Rect src, bool corner);

// Calls `copy` for the corners, then the edge pieces, of the frame around `r`; the centre
// is left to the caller.
template <class Copy>
void ForEachPiece(const MaskGrid& g, const Rect& r, Copy&& copy) {
  const int x0 = g.x0, w = g.w, h = g.h;
  const int rx = x0 + 3 * w - g.right;  // the right column's source start
  // Corners.
  copy(Rect{r.Left, r.Top, r.Left + g.left, r.Top + g.top}, Rect{x0, 0, x0 + g.left, g.top}, true);
  copy(Rect{r.Right - g.right, r.Top, r.Right, r.Top + g.top}, Rect{rx, 0, x0 + 3 * w, g.top},
       true);
  copy(Rect{r.Left, r.Bottom - g.bottom, r.Left + g.left, r.Bottom},
       Rect{x0, g.half - g.bottom, x0 + g.left, g.half}, true);
  copy(Rect{r.Right - g.right, r.Bottom - g.bottom, r.Right, r.Bottom},
       Rect{rx, g.half - g.bottom, x0 + 3 * w, g.half}, true);
  // Left and right edges: pieces h high, the last one up to Bottom - h.
  for (int y = r.Top + h; y < r.Bottom - h;) {
    const int n = y < r.Bottom - 2 * h ? h : r.Bottom - h - y;
    copy(Rect{r.Left, y, r.Left + g.left, y + n}, Rect{x0, h, x0 + g.left, h + n}, false);
    copy(Rect{r.Right - g.right, y, r.Right, y + n}, Rect{rx, h, x0 + 3 * w, h + n}, false);
    y += n;
  }
  // Top and bottom edges: pieces w wide, the last one up to Right - w.
  for (int x = r.Left + w; x < r.Right - w;) {
    const int n = x < r.Right - 2 * w ? w : r.Right - w - x;
    copy(Rect{x, r.Top, x + n, r.Top + g.top}, Rect{x0 + w, 0, x0 + w + n, g.top}, false);
    copy(Rect{x, r.Bottom - g.bottom, x + n, r.Bottom},
         Rect{x0 + w, g.half - g.bottom, x0 + w + n, g.half}, false);
    x += n;
  }
}

// Tiles the centre cell over the inside of `r`.
void FillCentreCell(const MaskGrid& g, const Rect& r, Bitmap& target, const Bitmap& mask) {
  for (int y = r.Top + g.h; y < r.Bottom - g.h; y += g.h) {
    const int nh = std::min(g.h, r.Bottom - g.h - y);
    for (int x = r.Left + g.w; x < r.Right - g.w; x += g.w) {
      const int nw = std::min(g.w, r.Right - g.w - x);
      CopyByMask(Rect{x, y, x + nw, y + nh}, Rect{g.x0 + g.w, g.h, g.x0 + g.w + nw, g.h + nh},
                 target, DefaultPaintInfo, mask);
    }
  }
}

}  // namespace

void DrawSkinRect(Bitmap& target, const Bitmap& mask, int state, const TsBGInfo& parent,
                  bool fillCentre, TColor /*transparent*/, Rect r) {
  if (r.Width() < 2 || r.Height() < 2) return;
  const MaskGrid g(mask, state, r);
  if (!g.Usable()) return;
  ForEachPiece(g, r, [&](Rect dst, Rect src, bool corner) {
    CopyByMask(dst, src, target, corner ? parent : DefaultPaintInfo, mask);
  });
  if (fillCentre) FillCentreCell(g, r, target, mask);
}

void MaskToRegion(std::vector<Rect>& rects, const Bitmap& mask, int formWidth) {
  if (!Is24(mask)) return;
  // Left corner: columns 0 to w - 1. Right corner: from 2 * w to the end of the normal frame
  // (width div 3), so a width that is no multiple of 9 gives it a column or two more.
  const int w = mask.Width() / 9, third = mask.Width() / 3;
  const int parts[2][3] = {{0, w, 0}, {2 * w, third, formWidth - third}};
  for (int y = 0; y < mask.Height() / 2; ++y) {
    for (const auto& part : parts) {
      int run = -1;
      for (int x = part[0]; x <= part[1]; ++x) {
        const std::uint8_t* p = x < part[1] ? Px(mask, x, y) : nullptr;
        const bool fuchsia = p != nullptr && p[0] == 255 && p[1] == 0 && p[2] == 255;
        if (fuchsia && run < 0) run = x;
        if (!fuchsia && run >= 0) {
          rects.push_back(Rect{run + part[2], y, x + part[2], y + 1});
          run = -1;
        }
      }
    }
  }
}

namespace {

struct SectionValues {
  TColor color;
  int transparency, gradientPercent, imagePercent;
  const TsGradArray* gradient;
  int maskIndex, patternIndex;
};

SectionValues ValuesOf(int skinIndex, const std::string& section, int state) {
  const TsGeneralData& d = SkinSections[std::size_t(skinIndex)];
  const bool hot = state != 0;
  SectionValues v{};
  v.color = hot ? d.HotPaintingColor : d.PaintingColor;
  v.transparency = std::clamp(hot ? d.HotPaintingTransparency : d.PaintingTransparency, 0, 100);
  v.gradientPercent = hot ? d.HotGradientPercent : d.GradientPercent;
  v.imagePercent = hot ? d.HotImagePercent : d.ImagePercent;
  v.gradient = hot ? &d.HotGradientArray : &d.GradientArray;
  const std::string image = hot ? "HOTIMAGEFILE" : "IMAGEFILE";
  v.maskIndex = GetMaskIndex(skinIndex, section, image);
  v.patternIndex = IsValidImgIndex(v.maskIndex) ? -1 : GetPatternIndex(skinIndex, section, image);
  return v;
}

// The section's layers painted opaque into q, which lies inside the target.
void PaintOpaque(Bitmap& target, const Rect& q, const SectionValues& v) {
  bool imagePainted = false;
  if (v.imagePercent > 0) {
    const Bitmap* image = nullptr;
    if (IsValidImgIndex(v.maskIndex))
      image = &SkinMasks[std::size_t(v.maskIndex)].Bmp->Image();
    else if (v.patternIndex > -1 && std::size_t(v.patternIndex) < SkinPatterns.size())
      image = &SkinPatterns[std::size_t(v.patternIndex)].Img->Image();
    if (image != nullptr && Is24(*image)) {
      TileGraphic(target, q, *image);
      imagePainted = true;
    } else {
      FillBitmapRect(target, q, v.color);
    }
  }
  if (v.gradientPercent > 0) {
    if (imagePainted) {
      // The layer is painted over the whole of (0, 0, w, h): a row or column the gradient
      // left unpainted would be blended in as black.
      Bitmap layer(q.Width(), q.Height());
      if (v.gradient->empty())
        FillBitmapRect(layer, layer.BoundsRect(), v.color);
      else
        PaintGrad(layer, *v.gradient, layer.BoundsRect());
      const int a = int(std::clamp<std::int64_t>(std::int64_t(v.imagePercent) * 256 / 100, 0, 255));
      BlendTransRectangle(target, layer, RGB(a, a, a), {q.Left, q.Top}, layer.BoundsRect());
    } else if (v.gradient->empty()) {
      FillBitmapRect(target, q, v.color);
    } else {
      PaintGrad(target, *v.gradient, q);
    }
  }
  // Skin numbers may be anything an int holds: summed in a wider type.
  const std::int64_t s = std::int64_t(v.gradientPercent) + v.imagePercent;
  if (s >= 1 && s <= 99)
    FadeRect(target, Rect{q.Left, q.Top, q.Right - 1, q.Bottom - 1}, int(s), v.color);
  else if (s != 100)
    FillBitmapRect(target, q, v.color);
}

// The parent's pixels under `r` of the target, the target's (0, 0) lying at `offset` of the
// control.
void CopyParent(Bitmap& target, const Rect& r, const TsBGInfo& parent, Point offset) {
  if (&parent.Bmp->Image() == &target) return;
  CopyBitmapRect(target, {r.Left, r.Top}, parent.Bmp->Image(),
                 Bounds(parent.OffsetX + offset.X + r.Left, parent.OffsetY + offset.Y + r.Top,
                        r.Width(), r.Height()));
}

}  // namespace

void PaintItemBG(int skinIndex, const std::string& section, const TsBGInfo& parent, Bitmap& target,
                 Point offset, Rect r, int state) {
  if (!IsValidSkinIndex(skinIndex) || !Is24(target)) return;
  // Only the part inside the target is painted (and allocated for).
  r = ClipTo(target, r);
  if (r.IsEmpty()) return;
  const SectionValues v = ValuesOf(skinIndex, section, state);
  const bool ready = parent.Ready && parent.Bmp != nullptr;
  if (v.transparency == 100 && ready) {
    CopyParent(target, r, parent, offset);
    return;
  }
  if (v.transparency == 0 || !ready) {
    PaintOpaque(target, r, v);
    return;
  }
  Bitmap layer(r.Width(), r.Height());
  PaintOpaque(layer, layer.BoundsRect(), v);
  CopyParent(target, r, parent, offset);
  const int a = v.transparency * 255 / 100;
  BlendTransRectangle(target, layer, RGB(a, a, a), {r.Left, r.Top}, layer.BoundsRect());
}

void PaintItem(int skinIndex, const std::string& section, const TsBGInfo& parent, Bitmap& target,
               Point offset, Rect r, int state, bool fillCentre) {
  if (r.Left < 0 || r.Top < 0 || r.Right > target.Width() || r.Bottom > target.Height()) return;
  PaintItemBG(skinIndex, section, parent, target, offset, r, state);
  if (!IsValidSkinIndex(skinIndex)) return;
  TsBGInfo shifted = parent;
  shifted.OffsetX += offset.X;
  shifted.OffsetY += offset.Y;
  const int i = GetMaskIndex(skinIndex, section, "BORDERSMASK");
  if (IsValidImgIndex(i))
    DrawSkinRect(target, SkinMasks[std::size_t(i)].Bmp->Image(), state, shifted, fillCentre,
                 SkinMasks[std::size_t(i)].TransparentColor, r);
}

void PaintItemBGFast(int skinIndex, const std::string& section, const TsBGInfo& parent, DC& dc,
                     Point offset, Rect r, int state, bool fillCentre) {
  if (!IsValidSkinIndex(skinIndex) || r.Left < 0 || r.Top < 0 || r.IsEmpty()) return;
  Bitmap bmp(r.Width(), r.Height());
  PaintItem(skinIndex, section, parent, bmp, offset, bmp.BoundsRect(), state, fillCentre);
  Bitmap* target = dc.GetBitmap();
  if (target == nullptr) return;
  DC source(&bmp);
  const int saved = dc.SaveDC();
  dc.BitBlt(r.Left, r.Top, r.Width(), r.Height(), source, 0, 0, SRCCOPY);
  dc.RestoreDC(saved);
}

// Blends and effects -----------------------------------------------------------------------

void BlendTransRectangle(Bitmap& dst, const Bitmap& src, COLORREF blend, Point at, Rect srcRect) {
  if (!Is24(dst) || !Is24(src)) return;
  const int k = GetRValue(blend) + GetGValue(blend) + GetBValue(blend);
  // A grey (a, a, a) is a / 256, which 16-bit lanes compute.
  const bool grey = GetRValue(blend) == GetGValue(blend) && GetGValue(blend) == GetBValue(blend);
  int sx = srcRect.Left, dx = at.X, w = srcRect.Width();
  int sy = srcRect.Top, dy = at.Y, h = srcRect.Height();
  if (!ClipAxis(sx, dx, w, src.Width(), dst.Width())) return;
  if (!ClipAxis(sy, dy, h, src.Height(), dst.Height())) return;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = Px(src, sx, sy + y);
    std::uint8_t* d = Px(dst, dx, dy + y);
    if (grey)
      BlendRow(d, s, 3 * w, std::uint16_t(GetRValue(blend)));
    else
      for (int i = 0; i < 3 * w; ++i)
        d[i] = std::uint8_t(RoundDivBy<768>(s[i] * (768 - k) + d[i] * k));
  }
}

void BlendBitmaps(Bitmap& dst, const Bitmap& src, std::uint8_t alpha) {
  BlendBitmaps(dst, src, alpha, dst.BoundsRect());
}

void BlendBitmaps(Bitmap& dst, const Bitmap& src, std::uint8_t alpha, Rect r) {
  if (!Is24(dst) || !Is24(src) || dst.Width() != src.Width() || dst.Height() != src.Height())
    return;
  r = ClipTo(dst, r);
  if (r.IsEmpty()) return;
  for (int y = r.Top; y < r.Bottom; ++y)
    BlendRow(Px(dst, r.Left, y), Px(src, r.Left, y), 3 * r.Width(), alpha);
}

void BlendBitmapRect(Bitmap& dst, int x, int y, TColor transparent, double factor, Rect srcRect,
                     const Bitmap& src) {
  if (!Is24(dst) || !Is24(src)) return;
  // The source rectangle includes its right and bottom edges and is cut to the source; the
  // destination is not moved with it. A row that starts outside the destination ends the
  // copy, a column outside it ends its row: nothing lands left of or above the bitmap.
  const int sx = std::max(srcRect.Left, 0), sy = std::max(srcRect.Top, 0);
  const int sr = std::min(srcRect.Right, src.Width() - 1);
  const int sb = std::min(srcRect.Bottom, src.Height() - 1);
  if (x < 0 || y < 0 || sr < sx || sb < sy) return;
  const int w = std::min(sr - sx + 1, std::max(dst.Width() - x, 0));
  const int h = std::min(sb - sy + 1, std::max(dst.Height() - y, 0));
  const int dx = x, dy = y;
  const bool skip = (static_cast<std::uint32_t>(transparent) >> 24) != 0xFF;
  const Bgr t(transparent & 0xFFFFFF);
  for (int j = 0; j < h; ++j) {
    const std::uint8_t* s = Px(src, sx, sy + j);
    std::uint8_t* d = Px(dst, dx, dy + j);
    for (int i = 0; i < w; ++i, s += 3, d += 3) {
      if (skip && t.Is(s)) continue;
      for (int c = 0; c < 3; ++c)
        d[c] = std::uint8_t(std::clamp(std::nearbyint(s[c] - (s[c] - d[c]) * factor), 0.0, 255.0));
    }
  }
}

void BlendColorByMaskAt(Bitmap& bmp, const Bitmap& mask, int x, TColor color, int y) {
  if (!Is24(bmp) || !Is24(mask)) return;
  const Bgr c(color);
  int mx = 0, dx = x, w = mask.Width();
  int my = 0, dy = y, h = mask.Height();
  if (!ClipAxis(mx, dx, w, mask.Width(), bmp.Width())) return;
  if (!ClipAxis(my, dy, h, mask.Height(), bmp.Height())) return;
  for (int j = 0; j < h; ++j) {
    const std::uint8_t* m = Px(mask, mx, my + j);
    std::uint8_t* d = Px(bmp, dx, dy + j);
    for (int i = 0; i < w; ++i, m += 3, d += 3)
      for (int k = 0; k < 3; ++k)
        d[k] = std::uint8_t((c.c[k] * (255u - m[k]) + d[k] * unsigned(m[k])) >> 8);
  }
}

void BlendColorByMask(Bitmap& bmp, const Bitmap& mask, TColor color) {
  if (bmp.Width() != mask.Width() || bmp.Height() != mask.Height()) return;
  BlendColorByMaskAt(bmp, mask, 0, color, 0);
}

namespace {

// Fills the box, its corners rounded by quarter ellipses `corner` wide and high, with grey g.
void FillGrey(Bitmap& mask, const Rect& box, int corner, std::uint8_t g) {
  if (box.IsEmpty()) return;
  const Region shape = corner > 0 ? raster::RoundRectShape(box, corner, corner) : Region(box);
  const Region visible = shape.Intersect(Region(mask.BoundsRect()));
  for (const Region::Band& band : visible.Bands())
    for (int y = band.Top; y < band.Bottom; ++y)
      for (const Region::Span& s : band.Spans) std::memset(Px(mask, s.X1, y), g, 3 * (s.X2 - s.X1));
}

}  // namespace

void PaintControlFrame(Bitmap& bmp, Rect r, int percent, int radius, int blur, TColor color) {
  if (!Is24(bmp)) return;
  r = ClipTo(bmp, r);
  if (r.IsEmpty()) return;
  const int w = r.Width(), h = r.Height();
  Bitmap b(w, h), m(w, h);
  CopyBitmapRect(b, {0, 0}, bmp, r);
  m.Fill(0xFFFFFF);
  const int n = std::max(0, std::min({w / 2, h / 2, blur}));
  const int corner = std::max(0, std::min({w / 2, h / 2, radius}));
  const int a = std::clamp(percent, 0, 100) * 255 / 100;
  int grey = 255;
  for (int i = 0; i <= n; ++i) {
    FillGrey(m, Rect{i, i, w - i, h - i}, corner, std::uint8_t(grey));
    grey = RoundDiv((n - i) * (255 - a), n + 1) + a;
  }
  FillGrey(m, Rect{n, n, w - n, h - n}, n, std::uint8_t(grey));
  BlendColorByMask(b, m, color);
  CopyBitmapRect(bmp, {r.Left, r.Top}, b, b.BoundsRect());
}

void DrawShadow(const Bitmap& source, Rect r, Bitmap& target, Point at, int transparency,
                TColor color, int blur, int shape, int radius) {
  if (!Is24(target) || !Is24(source)) return;
  // Only the part of `r` inside the source is shadowed, at the same place.
  const Rect inside = ClipTo(source, r);
  at = {at.X + inside.Left - r.Left, at.Y + inside.Top - r.Top};
  r = inside;
  if (r.IsEmpty()) return;
  if (transparency <= 0) {
    FillBitmapRect(target, Bounds(at.X, at.Y, r.Width(), r.Height()), color);
    return;
  }
  if (transparency >= 100) {
    CopyBitmapRect(target, at, source, r);
    return;
  }
  const int w = r.Width(), h = r.Height();
  Bitmap b(w, h), m(w, h);
  CopyBitmapRect(b, {0, 0}, source, r);
  m.Fill(0xFFFFFF);
  const int n = std::max(0, std::min({w / 2, h / 2, blur}));
  const int a = transparency * 255 / 100;
  for (int i = 0; i <= n; ++i) {
    const auto g = std::uint8_t(RoundDiv((n - i) * (255 - a), n + 1) + a);
    FillGrey(m, Rect{i, i, w - i, h - i}, shape == 0 ? std::max(0, radius) + n : 0, g);
  }
  BlendColorByMask(b, m, color);
  CopyBitmapRect(target, at, b, b.BoundsRect());
}

void DrawShadowAt(const Bitmap& source, Rect r, Bitmap& target, Point at, int transparency,
                  TColor color, int blur, int shape) {
  DrawShadow(source, r, target, at, transparency, color, blur, shape, 0);
}

void GrayScale(Bitmap& bmp) {
  if (!Is24(bmp)) return;
  for (int y = 0; y < bmp.Height(); ++y) {
    std::uint8_t* p = bmp.ScanLine(y);
    for (int x = 0; x < bmp.Width(); ++x, p += 3) p[0] = p[1] = p[2] = (p[0] + p[1] + p[2]) / 3;
  }
}

void SumBitmapsRect(Bitmap& dst, const Bitmap& src, int x, TColor transparent, int y) {
  if (!Is24(dst) || !Is24(src)) return;
  const Bgr t(transparent);
  int sx = 0, dx = x, w = src.Width();
  int sy = 0, dy = y, h = src.Height();
  if (!ClipAxis(sx, dx, w, src.Width(), dst.Width())) return;
  if (!ClipAxis(sy, dy, h, src.Height(), dst.Height())) return;
  for (int j = 0; j < h; ++j) {
    const std::uint8_t* s = Px(src, sx, sy + j);
    std::uint8_t* d = Px(dst, dx, dy + j);
    for (int i = 0; i < w; ++i, s += 3, d += 3)
      if (!t.Is(s)) std::memcpy(d, s, 3);
  }
}

// Lines, bevels, frames and ticks ----------------------------------------------------------

void DrawLine(DC& dc, Point from, Point to, TColor color) {
  const int saved = dc.SaveDC();
  dc.SelectPen(Pen{PenStyle::psSolid, color, 1});
  dc.SelectBrush(Brush{BrushStyle::bsClear, clWhite});
  dc.MoveTo(from.X, from.Y);
  dc.LineTo(to.X, to.Y);
  dc.RestoreDC(saved);
}

void FillDC(DC& dc, Rect r, TColor color) {
  dc.FillRect(r, Brush{BrushStyle::bsSolid, color});
}

TColor MixColors(TColor c1, TColor c2, double k) {
  const COLORREF a = ColorToRGB(c1), b = ColorToRGB(c2);
  TColor out = 0;
  for (int ch = 0; ch < 3; ++ch) {
    const int x = int((a >> (8 * ch)) & 0xFF), y = int((b >> (8 * ch)) & 0xFF);
    const double v = std::clamp(std::nearbyint(x - (x - y) * k), 0.0, 255.0);
    out |= TColor(v) << (8 * ch);
  }
  return out;
}

namespace {

// The side's end points one pixel further inward.
void StepInward(int side, Point& from, Point& to) {
  switch (side) {
    case 0:  // left: from the bottom up
      ++from.X, ++to.X, --from.Y, ++to.Y;
      break;
    case 1:  // top: from the left rightward
      ++from.Y, ++to.Y, ++from.X, --to.X;
      break;
    case 2:  // right: from the top down
      --from.X, --to.X, ++from.Y, --to.Y;
      break;
    default:  // bottom: from the right leftward
      --from.Y, --to.Y, --from.X, ++to.X;
      break;
  }
}

// The lines of a side that can touch the visible part of the device context: each line
// lies one pixel further inward than the one before, so only those from `first` up to
// `last` (excluded) cross the clip box, and a bevel wider than the box paints no more than
// the box is wide. `from` and `to` come back moved to the first of them.
void VisibleLines(DC& dc, int side, Point& from, Point& to, int width, int& first, int& last) {
  Rect box;
  dc.GetClipBox(box);
  // Where the first line lies across the side, the direction the lines move in, and the
  // visible span across.
  const bool vertical = side == 0 || side == 2;
  const std::int64_t at = vertical ? from.X : from.Y;
  const std::int64_t low = vertical ? box.Left : box.Top, high = vertical ? box.Right : box.Bottom;
  const bool forward = side == 0 || side == 1;
  std::int64_t begin = forward ? low - at : at - (high - 1),
               end = forward ? high - at : at - low + 1;
  const std::int64_t lines = std::max(width, 0);
  begin = std::clamp<std::int64_t>(begin, 0, lines);
  end = std::clamp<std::int64_t>(end, begin, lines);
  first = int(begin);
  last = int(end);
  if (first == 0) return;
  // Every step moves the line one pixel inward and shortens it by one at each end.
  const auto move = [&](int& v, int sign) {
    v = int(std::clamp<std::int64_t>(v + sign * begin, std::numeric_limits<int>::min() / 2,
                                     std::numeric_limits<int>::max() / 2));
  };
  switch (side) {
    case 0:
      move(from.X, 1), move(to.X, 1), move(from.Y, -1), move(to.Y, 1);
      break;
    case 1:
      move(from.Y, 1), move(to.Y, 1), move(from.X, 1), move(to.X, -1);
      break;
    case 2:
      move(from.X, -1), move(to.X, -1), move(from.Y, 1), move(to.Y, -1);
      break;
    default:
      move(from.Y, -1), move(to.Y, -1), move(from.X, -1), move(to.X, 1);
      break;
  }
}

}  // namespace

void DrawSideLines(DC& dc, TColor color, Point from, Point to, int side, int /*mode*/, int width) {
  int first, last;
  VisibleLines(dc, side, from, to, width, first, last);
  for (int i = first; i < last; ++i) {
    DrawLine(dc, from, to, color);
    StepInward(side, from, to);
  }
}

void DrawSideGradient(DC& dc, TColor color, TColor target, int side, int mode, int width,
                      Point from, Point to) {
  if (width < 2) {
    DrawLine(dc, from, to, color);
    return;
  }
  int first, last;
  VisibleLines(dc, side, from, to, width, first, last);
  for (int i = first; i < last; ++i) {
    TColor c = color;
    if (mode == 0)
      c = i == 0 ? clWhite : MixColors(color, target, double(i) / width);
    else if (mode == 1)
      c = i == 0 ? clBlack : MixColors(MixColors(color, clBlack, 0.5), target, double(i) / width);
    DrawLine(dc, from, to, c);
    StepInward(side, from, to);
  }
}

void PaintRectBevel(DC& dc, TColor topLeft, TColor bottomRight, bool gradient, int kind, int width,
                    Rect r, TColor target) {
  struct Side {
    TColor color;
    int mode;
  };
  Side first{topLeft, 0}, second{bottomRight, 1};  // left and top, right and bottom
  if (kind == 1) std::swap(first, second);
  if (kind == 2) first = second = {topLeft, 2};
  if (kind == 3) first = second = {bottomRight, 3};
  const Point ends[4][2] = {{{r.Left, r.Bottom - 1}, {r.Left, r.Top}},
                            {{r.Left, r.Top}, {r.Right, r.Top}},
                            {{r.Right - 1, r.Top + 1}, {r.Right - 1, r.Bottom - 1}},
                            {{r.Right - 1, r.Bottom - 1}, {r.Left, r.Bottom - 1}}};
  for (int side = 0; side < 4; ++side) {
    const Side& s = side < 2 ? first : second;
    if (gradient)
      DrawSideGradient(dc, s.color, target, side, s.mode, width, ends[side][0], ends[side][1]);
    else
      DrawSideLines(dc, s.color, ends[side][0], ends[side][1], side, s.mode, width);
  }
}

void DrawBevelFrame(DC& dc, Rect r, TColor target, TColor light, TColor dark, bool lowered,
                    int width) {
  PaintRectBevel(dc, light, dark, false, lowered ? 1 : 0, lowered ? 1 : width, r, target);
}

void PaintFrame3D(DC& dc, Rect& r, TColor topLeft, int width, TColor bottomRight) {
  const int saved = dc.SaveDC();
  --r.Bottom;
  --r.Right;
  for (; width > 0; --width) {
    dc.SelectPen(Pen{PenStyle::psSolid, topLeft, 1});
    const Point tl[] = {{r.Left, r.Bottom}, {r.Left, r.Top}, {r.Right, r.Top}};
    dc.Polyline(tl);
    dc.SelectPen(Pen{PenStyle::psSolid, bottomRight, 1});
    const Point br[] = {{r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left - 1, r.Bottom}};
    dc.Polyline(br);
    r = r.Inflate(-1, -1);
  }
  ++r.Bottom;
  ++r.Right;
  dc.RestoreDC(saved);
}

namespace {

// One mitred strip of a bevel: a mask of the strip's size, white but for the trapezoid
// (flat grey 127, or a ramp across the strip's thickness), blended with the bevel's grey.
// `side` 0 left, 1 top, 2 right, 3 bottom; the ramp starts at the outer edge.
void PaintBevelStrip(Bitmap& bmp, const Rect& strip, int side, TsControlBevel bevel,
                     bool gradient) {
  const int w = strip.Width(), h = strip.Height();
  if (w <= 0 || h <= 0) return;
  const bool vertical = side == 0 || side == 2;
  if (vertical ? h <= w : w <= h) return;
  Bitmap mask(w, h);
  mask.Fill(0xFFFFFF);
  const int thickness = vertical ? w : h, length = vertical ? h : w;
  const bool hard = bevel == cbRaisedHard || bevel == cbLoweredHard;
  const int step = 255 / thickness;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      // Distance from the outer edge, and position along the strip.
      int d = 0, along = 0;
      switch (side) {
        case 0:
          d = x, along = y;
          break;
        case 1:
          d = y, along = x;
          break;
        case 2:
          d = w - 1 - x, along = y;
          break;
        default:
          d = h - 1 - y, along = x;
          break;
      }
      if (!(d < along && d < length - along)) continue;
      int g = 127;
      if (gradient) g = hard ? std::max(0, 255 - d * step) : std::min(255, d * step);
      std::memset(Px(mask, x, y), g, 3);
    }
  }
  const bool raised = bevel == cbRaisedSoft || bevel == cbRaisedHard;
  BlendColorByMaskAt(bmp, mask, strip.Left, raised ? RGB(240, 240, 240) : RGB(25, 25, 25),
                     strip.Top);
}

}  // namespace

void PaintBevel(Bitmap& bmp, Rect r, int width, TsControlBevel bevel, bool gradient) {
  if (bevel == cbNone || !Is24(bmp)) return;
  if (width == 1) {
    DC dc(&bmp);
    const bool lowered = bevel == cbLoweredSoft || bevel == cbLoweredHard;
    DrawBevelFrame(dc, r, clBtnFace, clWhite, clBlack, lowered, 1);
    return;
  }
  r = ClipTo(bmp, r);
  // The width is a skin number: doubled in a wider type.
  if (r.Height() < 2 * std::int64_t(width)) width = r.Height() / 2 - 1;
  if (r.Width() < 2 * std::int64_t(width)) width = r.Width() / 2 - 1;
  if (width < 2) return;
  PaintBevelStrip(bmp, Rect{r.Left, r.Top, r.Left + width, r.Bottom}, 0, bevel, gradient);
  PaintBevelStrip(bmp, Rect{r.Left, r.Top, r.Right, r.Top + width}, 1, bevel, gradient);
  PaintBevelStrip(bmp, Rect{r.Right - width - 1, r.Top, r.Right, r.Bottom}, 2, bevel, gradient);
  PaintBevelStrip(bmp, Rect{r.Left, r.Bottom - width - 1, r.Right, r.Bottom}, 3, bevel, gradient);
}

void DrawTick(DC& dc, Rect r, bool enabled, TColor color) {
  const int shrink = r.Width() / 8;
  r = r.Inflate(-shrink, -shrink);
  ++r.Left;
  ++r.Top;
  const int hgt = r.Height(), d = hgt / 4, t = hgt / 3;
  const auto draw = [&](int dx, TColor c) {
    const Point p[] = {
        {r.Left + dx, r.Bottom - t - 2 + dx},     {r.Left + t + dx, r.Bottom - 2 + dx},
        {r.Right - 2 + dx, r.Top + t + dx},       {r.Right - 2 + dx, r.Top + t - d + dx},
        {r.Left + t + dx, r.Bottom - 2 - d + dx}, {r.Left + d + dx, r.Bottom - t - 2 + dx}};
    dc.SelectPen(Pen{PenStyle::psSolid, c, 1});
    dc.SelectBrush(Brush{BrushStyle::bsSolid, c});
    dc.Polygon(p);
  };
  const int saved = dc.SaveDC();
  if (enabled) {
    draw(0, color);
  } else {
    draw(1, cl3DLight);
    draw(0, clBtnShadow);
  }
  dc.RestoreDC(saved);
}

void PaintDots(DC& dc, Rect r) {
  const auto dot = [&](int x, int y) {
    dc.SetPixel(x - 1, y - 1, clWhite);
    dc.SetPixel(x, y, clBlack);
  };
  for (int x = r.Left; x < r.Right; x += 3) {
    dot(x, r.Top);
    dot(x, r.Bottom - 1);
  }
  for (int y = r.Top; y < r.Bottom; y += 3) {
    dot(r.Left, y);
    dot(r.Right - 1, y);
  }
}

// Text and pictures -------------------------------------------------------------------------

namespace {

// Narrows r to the text as WriteTextEx does; returns the rectangle to draw in.
Rect TextRect(DC& dc, std::string_view text, Rect& r, unsigned flags) {
  if ((flags & DT_WORDBREAK) != 0) return r;
  const Size ext = dc.GetTextExtentPoint32(text);
  Rect t = r;
  t.Top = r.Top + (r.Height() - ext.cy) / 2;
  t.Bottom = t.Top + ext.cy;
  if ((flags & DT_CENTER) != 0) {
    t.Left = r.Left + (r.Width() - ext.cx) / 2;
    t.Right = t.Left + ext.cx;
  } else if ((flags & DT_RIGHT) != 0) {
    t.Left = r.Right - ext.cx;
  } else {
    t.Right = r.Left + ext.cx;
  }
  r = t.Inflate(1, 1);
  return t;
}

void DrawOnce(DC& dc, std::string_view text, Rect r, unsigned flags, TColor color) {
  dc.SetTextColor(color);
  dc.DrawText(text, r, flags);
}

}  // namespace

void WriteTextExt(TCanvas& canvas, std::string_view text, bool enabled, Rect& r, unsigned flags,
                  int skinIndex, bool hot) {
  DC& dc = *canvas.Handle();
  const Rect t = TextRect(dc, text, r, flags);
  canvas.Brush().SetStyle(BrushStyle::bsClear);
  if (text.empty()) return;
  const int saved = dc.SaveDC();
  dc.SetBkMode(TRANSPARENT);
  if (!enabled) {
    DrawOnce(dc, text, t.Offset(1, 1), flags, clBtnHighlight);
    DrawOnce(dc, text, t, flags, clBtnShadow);
  } else if (IsValidSkinIndex(skinIndex)) {
    const TsGeneralData& d = SkinSections[std::size_t(skinIndex)];
    const int contour[4] = {hot ? d.HotTCLeft : d.TCLeft, hot ? d.HotTCTop : d.TCTop,
                            hot ? d.HotTCRight : d.TCRight, hot ? d.HotTCBottom : d.TCBottom};
    const Point shift[4] = {{-1, 0}, {0, -1}, {1, 0}, {0, 1}};
    for (int i = 0; i < 4; ++i)
      if (contour[i] != -1) DrawOnce(dc, text, t.Offset(shift[i].X, shift[i].Y), flags, contour[i]);
    DrawOnce(dc, text, t, flags, hot ? d.HotFontColor : d.FontColor);
  } else {
    DrawOnce(dc, text, t, flags, canvas.Font().Color());
  }
  dc.RestoreDC(saved);
}

void WriteTextEx(TCanvas& canvas, std::string_view text, bool enabled, Rect& r, unsigned flags) {
  WriteTextExt(canvas, text, enabled, r, flags, -1, false);
}

void CutText(TCanvas& canvas, std::string_view text, int width, std::string& result) {
  DC& dc = *canvas.Handle();
  if (text.empty() || dc.TextWidth(text) <= width) {
    result = std::string(text);
    return;
  }
  std::string_view head = text;
  while (!head.empty()) {
    // Drop one whole character: a UTF-8 sequence's continuation bytes go with it.
    std::size_t n = head.size() - 1;
    while (n > 0 && (static_cast<unsigned char>(head[n]) & 0xC0) == 0x80) --n;
    head = head.substr(0, n);
    if (dc.TextWidth(std::string(head) + "...") <= width) break;
  }
  result = std::string(head) + "...";
}

std::string CutText(TCanvas& canvas, std::string_view text, int width) {
  std::string result;
  CutText(canvas, text, width, result);
  return result;
}

int GetFontHeight(const Font& font) {
  return FontFace::Get(font)->Metrics().tmHeight + 6;
}

void LoadGraphicFromFile(TPicture& picture, const std::string& fileName, bool gray) {
  if (!FileExists(fileName)) {
    picture.SetGraphic(nullptr);
    return;
  }
  const std::string ext = UpperCase(ExtractFileExt(fileName));
  if (ext == ".JPG" || ext == ".JPEG") {
    TJPEGImage jpeg;
    jpeg.SetGrayscale(gray);
    jpeg.LoadFromFile(fileName);
    picture.SetGraphic(&jpeg);
  } else if (ext == ".BMP") {
    TBitmap bmp;
    bmp.LoadFromFile(fileName);
    bmp.SetPixelFormat(PixelFormat::pf24bit);
    if (gray) GrayScale(bmp.Image());
    picture.SetGraphic(&bmp);
  }
}

}  // namespace qv
