#include "skin/sbordermasks.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "skin/spaintutils.h"
#include "skin/sutils.h"

namespace qv {

namespace {

std::map<std::string, Bitmap, std::less<>>& Builtins() {
  static std::map<std::string, Bitmap, std::less<>> images;
  return images;
}

bool Is24(const Bitmap& b) {
  return !b.Empty() && b.Format() == PixelFormat::pf24bit;
}

struct Bgr {
  std::uint8_t c[3];
  explicit Bgr(TColor color) {
    const COLORREF rgb = ColorToRGB(color);
    c[0] = GetBValue(rgb), c[1] = GetGValue(rgb), c[2] = GetRValue(rgb);
  }
  [[nodiscard]] bool Is(const std::uint8_t* p) const {
    return p[0] == c[0] && p[1] == c[1] && p[2] == c[2];
  }
};

// Copies a piece of the mask's image half like CopyByMask without a parent, leaving pixels
// of the transparent colour unpainted and collecting their runs as one-row rectangles.
void CopyCutting(Bitmap& target, const Bitmap& mask, Rect dst, Rect src, const Bgr& transparent,
                 std::vector<Rect>& cuts) {
  const int half = mask.Height() / 2;
  int sx = src.Left, dx = dst.Left, w = std::min(src.Width(), dst.Width());
  int sy = src.Top, dy = dst.Top, h = std::min(src.Height(), dst.Height());
  if (!ClipAxis(sx, dx, w, mask.Width(), target.Width())) return;
  if (!ClipAxis(sy, dy, h, half, target.Height())) return;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = mask.ScanLine(sy + y) + 3 * sx;
    const std::uint8_t* m = mask.ScanLine(sy + y + half) + 3 * sx;
    std::uint8_t* d = target.ScanLine(dy + y) + 3 * dx;
    int run = -1;
    for (int x = 0; x < w; ++x, s += 3, m += 3, d += 3) {
      if (transparent.Is(s)) {
        if (run < 0) run = x;
        continue;
      }
      if (run >= 0) {
        cuts.push_back(Rect{dx + run, dy + y, dx + x, dy + y + 1});
        run = -1;
      }
      for (int c = 0; c < 3; ++c) d[c] = MaskBlend(s[c], d[c], m[c]);
    }
    if (run >= 0) cuts.push_back(Rect{dx + run, dy + y, dx + w, dy + y + 1});
  }
}

// The union of one-row rectangles as a region.
Region RowsToRegion(std::vector<Rect> rows) {
  std::sort(rows.begin(), rows.end(), [](const Rect& a, const Rect& b) {
    return a.Top != b.Top ? a.Top < b.Top : a.Left < b.Left;
  });
  Region out;
  std::vector<Region::Span> spans;
  for (std::size_t i = 0; i < rows.size();) {
    const int y = rows[i].Top;
    spans.clear();
    for (; i < rows.size() && rows[i].Top == y; ++i) {
      if (!spans.empty() && rows[i].Left <= spans.back().X2)
        spans.back().X2 = std::max(spans.back().X2, rows[i].Right);
      else
        spans.push_back({rows[i].Left, rows[i].Right});
    }
    out.AppendRow(y, spans);
  }
  return out;
}

}  // namespace

void RegisterBuiltinImage(const std::string& name, Bitmap image) {
  image.SetPixelFormat(PixelFormat::pf24bit);
  Builtins()[name] = std::move(image);
}

const Bitmap* BuiltinImage(std::string_view name) {
  const auto it = Builtins().find(name);
  return it == Builtins().end() ? nullptr : &it->second;
}

void ClearBuiltinImages() {
  Builtins().clear();
}

const Bitmap* GetBorderMaskBmp(TsPredefinedBorders kind, const Bitmap* custom) {
  if (kind >= pdBorder1 && kind <= pdBorder6)
    return BuiltinImage("BORD" + std::to_string(int(kind) + 1));
  if (custom != nullptr && custom->Width() > 0) return custom;
  return BuiltinImage("BORD1");
}

void PaintMaskedBorder(Bitmap& target, const Bitmap* mask, Region& region, bool fillCentre,
                       TColor transparent, int state) {
  if (mask == nullptr || !Is24(*mask) || !Is24(target)) return;
  if (target.Width() <= 2 || target.Height() <= 2) return;
  const Rect r = target.BoundsRect();
  const int w = mask->Width() / 9, h = mask->Height() / 6;
  if (w == 0 || h == 0) return;
  const int x0 = state * 3 * w, half = mask->Height() / 2;
  int left = w, right = w, top = h, bottom = h;
  if (r.Width() < 2 * w) left = r.Width() / 2, right = left + r.Width() % 2;
  if (r.Height() < 2 * h) top = r.Height() / 2, bottom = top + r.Height() % 2;
  const int rx = x0 + 3 * w - right;
  const Bgr t(transparent);
  std::vector<Rect> cuts;
  const auto copy = [&](Rect dst, Rect src) { CopyCutting(target, *mask, dst, src, t, cuts); };
  copy({0, 0, left, top}, {x0, 0, x0 + left, top});
  copy({r.Right - right, 0, r.Right, top}, {rx, 0, x0 + 3 * w, top});
  copy({0, r.Bottom - bottom, left, r.Bottom}, {x0, half - bottom, x0 + left, half});
  copy({r.Right - right, r.Bottom - bottom, r.Right, r.Bottom},
       {rx, half - bottom, x0 + 3 * w, half});
  for (int y = h; y < r.Bottom - h;) {
    const int n = y < r.Bottom - 2 * h ? h : r.Bottom - h - y;
    copy({0, y, left, y + n}, {x0, h, x0 + left, h + n});
    copy({r.Right - right, y, r.Right, y + n}, {rx, h, x0 + 3 * w, h + n});
    y += n;
  }
  for (int x = w; x < r.Right - w;) {
    const int n = x < r.Right - 2 * w ? w : r.Right - w - x;
    copy({x, 0, x + n, top}, {x0 + w, 0, x0 + w + n, top});
    copy({x, r.Bottom - bottom, x + n, r.Bottom}, {x0 + w, half - bottom, x0 + w + n, half});
    x += n;
  }
  if (fillCentre) {
    for (int y = h; y < r.Bottom - h; y += h)
      for (int x = w; x < r.Right - w; x += w) {
        const int nw = std::min(w, r.Right - w - x), nh = std::min(h, r.Bottom - h - y);
        CopyByMask({x, y, x + nw, y + nh}, {x0 + w, h, x0 + w + nw, h + nh}, target,
                   DefaultPaintInfo, *mask);
      }
  }
  if (!cuts.empty()) region = region.Subtract(RowsToRegion(std::move(cuts)));
}

namespace {

// Calls paint(d, s, m) for every visible pixel of the glyph's state frame at `at`.
template <class Paint>
void ForFramePixels(Bitmap& target, const Bitmap& glyph, Point at, int state, TColor transparent,
                    Paint&& paint) {
  const int fw = glyph.Width() / 3, fh = glyph.Height() / 2;
  int sx = state * fw, dx = at.X, w = fw;
  int sy = 0, dy = at.Y, h = fh;
  // The frame's own columns only, even when `state` names no frame of the glyph.
  if (sx < 0 || sx + fw > glyph.Width()) return;
  int frameX = 0;
  if (!ClipAxis(frameX, dx, w, fw, target.Width())) return;
  sx += frameX;
  if (!ClipAxis(sy, dy, h, fh, target.Height())) return;
  const Bgr t(transparent);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = glyph.ScanLine(sy + y) + 3 * sx;
    const std::uint8_t* m = glyph.ScanLine(sy + y + fh) + 3 * sx;
    std::uint8_t* d = target.ScanLine(dy + y) + 3 * dx;
    for (int x = 0; x < w; ++x, s += 3, m += 3, d += 3)
      if (!t.Is(s)) paint(d, s, m);
  }
}

const Bitmap& As24(const Bitmap& b, Bitmap& copy) {
  if (b.Format() == PixelFormat::pf24bit) return b;
  copy = b;
  copy.SetPixelFormat(PixelFormat::pf24bit);
  return copy;
}

}  // namespace

void PaintBlendGlyph(Bitmap& target, const Bitmap* glyph, Point at, int mode, TColor transparent,
                     int state) {
  if (glyph == nullptr || glyph->Empty()) {
    static bool reported = false;  // painting must not open a dialog on every repaint
    if (!reported) {
      reported = true;
      ShowWarning("PaintBlendGlyph error");
    }
    return;
  }
  if (!Is24(target)) return;
  if (target.Width() <= glyph->Width() / 3 || target.Height() <= glyph->Height() / 2) return;
  Bitmap copy;
  const Bitmap& g = As24(*glyph, copy);
  ForFramePixels(target, g, at, state, transparent,
                 [mode](std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* m) {
                   for (int c = 0; c < 3; ++c) {
                     const int k = mode == 1 ? m[c] : std::min(255, m[c] + 100);
                     d[c] = MaskBlend(s[c], d[c], unsigned(k));
                   }
                 });
}

void PaintMaskedGlyph(Bitmap& target, const Bitmap& glyph, Point at, TColor transparent,
                      int state) {
  if (!Is24(target) || glyph.Empty()) return;
  if (glyph.Width() / 3 > target.Width() || target.Height() < glyph.Height() / 2) return;
  Bitmap copy;
  const Bitmap& g = As24(glyph, copy);
  ForFramePixels(target, g, at, state, transparent,
                 [](std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* m) {
                   for (int c = 0; c < 3; ++c)
                     d[c] = std::uint8_t(s[c] + (m[c] * d[c]) / 256 - (m[c] * s[c]) / 256);
                 });
}

}  // namespace qv
