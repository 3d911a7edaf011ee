#include "platform/gfx/dc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/gfx/raster.h"

namespace qv {

namespace {

// Bounds of "no clip region": far beyond any surface, small enough never to overflow.
constexpr int kUnbounded = 1 << 28;

Rect Normalized(int left, int top, int right, int bottom) {
  return {std::min(left, right), std::min(top, bottom), std::max(left, right),
          std::max(top, bottom)};
}

void PutPixel(std::uint8_t* p, int bpp, COLORREF c) {
  p[0] = GetBValue(c);
  p[1] = GetGValue(c);
  p[2] = GetRValue(c);
  if (bpp == 4) p[3] = 255;
}

}  // namespace

DC::DC(Bitmap* target) : target_(target) {}
DC::~DC() = default;

Bitmap* DC::SelectBitmap(Bitmap* target) {
  Bitmap* old = target_;
  target_ = target;
  ClipChanged();
  return old;
}

int DC::SaveDC() {
  saved_.push_back(state_);
  return static_cast<int>(saved_.size());
}

bool DC::RestoreDC(int level) {
  const int depth = static_cast<int>(saved_.size());
  const int target = level < 0 ? depth + level + 1 : level;
  if (target < 1 || target > depth) return false;
  state_ = std::move(saved_[static_cast<std::size_t>(target - 1)]);
  saved_.resize(static_cast<std::size_t>(target - 1));
  face_.reset();
  ClipChanged();
  return true;
}

Point DC::SetViewportOrg(Point p) {
  ClipChanged();
  return std::exchange(state_.viewportOrg, p);
}

Point DC::SetWindowOrg(Point p) {
  ClipChanged();
  return std::exchange(state_.windowOrg, p);
}

const Region& DC::Visible() const {
  if (visible_) return *visible_;
  Region v = target_ ? Region(target_->BoundsRect()) : Region();
  if (systemClip_) {
    Region sys = *systemClip_;
    sys.Offset(deviceOrg_.X, deviceOrg_.Y);
    v = v.Intersect(sys);
  }
  if (state_.clip) {
    Region clip = *state_.clip;
    clip.Offset(deviceOrg_.X, deviceOrg_.Y);
    v = v.Intersect(clip);
  }
  visible_ = std::move(v);
  return *visible_;
}

int DC::SelectClipRgn(const Region* rgn) {
  if (rgn) {
    state_.clip = *rgn;
  } else {
    state_.clip.reset();
  }
  ClipChanged();
  return Visible().Kind();
}

int DC::IntersectClipRect(int left, int top, int right, int bottom) {
  const int dx = state_.viewportOrg.X - state_.windowOrg.X;
  const int dy = state_.viewportOrg.Y - state_.windowOrg.Y;
  const Region r(Normalized(left, top, right, bottom).Offset(dx, dy));
  state_.clip = state_.clip ? state_.clip->Intersect(r) : r;
  ClipChanged();
  return Visible().Kind();
}

int DC::ExcludeClipRect(int left, int top, int right, int bottom) {
  const int dx = state_.viewportOrg.X - state_.windowOrg.X;
  const int dy = state_.viewportOrg.Y - state_.windowOrg.Y;
  const Region r(Normalized(left, top, right, bottom).Offset(dx, dy));
  const Region all(Rect{-kUnbounded, -kUnbounded, kUnbounded, kUnbounded});
  state_.clip = (state_.clip ? *state_.clip : all).Subtract(r);
  ClipChanged();
  return Visible().Kind();
}

int DC::GetClipBox(Rect& box) const {
  box = Visible().BoundingBox().Offset(-Dx(), -Dy());
  if (Visible().IsEmpty()) box = {};
  return Visible().Kind();
}

bool DC::PtVisible(int x, int y) const {
  return Visible().Contains({x + Dx(), y + Dy()});
}

Pen DC::SelectPen(const Pen& pen) {
  return std::exchange(state_.pen, pen);
}
Brush DC::SelectBrush(const Brush& brush) {
  return std::exchange(state_.brush, brush);
}
Font DC::SelectFont(const Font& font) {
  face_.reset();
  return std::exchange(state_.font, font);
}
TColor DC::SetTextColor(TColor c) {
  return std::exchange(state_.textColor, c);
}
TColor DC::SetBkColor(TColor c) {
  return std::exchange(state_.bkColor, c);
}
int DC::SetBkMode(int mode) {
  return std::exchange(state_.bkMode, mode);
}
int DC::SetPolyFillMode(int mode) {
  return std::exchange(state_.polyFillMode, mode);
}
int DC::SetStretchBltMode(int mode) {
  return std::exchange(state_.stretchMode, mode);
}

void DC::FillBitmapRegion(const Region& rgn, COLORREF c) {
  if (!target_) return;
  const int bpp = target_->BytesPerPixel();
  std::uint8_t pixel[4] = {GetBValue(c), GetGValue(c), GetRValue(c), 255};
  for (const auto& band : rgn.Bands()) {
    for (int y = band.Top; y < band.Bottom; ++y) {
      std::uint8_t* row = target_->ScanLine(y);
      for (const auto& span : band.Spans) {
        std::uint8_t* p = row + span.X1 * bpp;
        std::memcpy(p, pixel, static_cast<std::size_t>(bpp));
        // Doubling copies fill the span in log2(n) memcpy calls.
        std::size_t done = static_cast<std::size_t>(bpp);
        const std::size_t total = static_cast<std::size_t>(span.X2 - span.X1) * bpp;
        while (done < total) {
          const std::size_t n = std::min(done, total - done);
          std::memcpy(p + done, p, n);
          done += n;
        }
      }
    }
  }
}

void DC::FillShape(Region shape, const Brush& brush) {
  if (brush.Style == BrushStyle::bsClear || !target_) return;
  shape.Offset(Dx(), Dy());
  FillBitmapRegion(shape.Intersect(Visible()), ColorToRGB(brush.Color));
}

void DC::FillRect(const Rect& r, const Brush& brush) {
  FillShape(Region(r), brush);
}

void DC::FillRgn(const Region& rgn, const Brush& brush) {
  FillShape(rgn, brush);
}

void DC::FrameRect(const Rect& r, const Brush& brush) {
  if (r.IsEmpty()) return;
  FillShape(Region(r).Subtract(Region(r.Inflate(-1, -1))), brush);
}

void DC::Rectangle(int left, int top, int right, int bottom) {
  const Rect r = Normalized(left, top, right, bottom);
  if (state_.pen.Style == PenStyle::psClear) {
    FillShape(Region(Rect{r.Left, r.Top, r.Right - 1, r.Bottom - 1}), state_.brush);
    return;
  }
  // Wide pens grow inwards, so the figure keeps its bounding rectangle.
  const int w = std::max(state_.pen.Width, 1);
  const Region inner(r.Inflate(-w, -w));
  FillShape(inner, state_.brush);
  FillShape(Region(r).Subtract(inner), Brush{BrushStyle::bsSolid, state_.pen.Color});
}

void DC::RoundRect(int left, int top, int right, int bottom, int w, int h) {
  Rect r = Normalized(left, top, right, bottom);
  const bool pen = state_.pen.Style != PenStyle::psClear;
  if (!pen) {
    --r.Right;
    --r.Bottom;
  }
  // Only the rows that can be seen are scanned (one more on each side for the outline).
  const Rect vis = Visible().BoundingBox();
  const Region shape = raster::RoundRectShape(r, w, h, vis.Top - Dy() - 1, vis.Bottom - Dy() + 1);
  if (!pen) {
    FillShape(shape, state_.brush);
    return;
  }
  Region inner = shape;
  Region outline;
  for (int i = 0; i < std::max(state_.pen.Width, 1); ++i) {
    const Region ring = raster::Outline(inner);
    outline = outline.Union(ring);
    inner = inner.Subtract(ring);
  }
  FillShape(inner, state_.brush);
  FillShape(outline, Brush{BrushStyle::bsSolid, state_.pen.Color});
}

void DC::Ellipse(int left, int top, int right, int bottom) {
  RoundRect(left, top, right, bottom, std::abs(right - left), std::abs(bottom - top));
}

void DC::PlotPen(int x, int y) {
  const int w = std::max(state_.pen.Width, 1);
  const COLORREF c = ColorToRGB(state_.pen.Color);
  if (w == 1) {
    const Point p{x + Dx(), y + Dy()};
    if (Visible().Contains(p)) target_->SetPixel(p.X, p.Y, c);
    return;
  }
  const int x0 = x + Dx() - w / 2;
  const int y0 = y + Dy() - w / 2;
  FillBitmapRegion(Region(Rect{x0, y0, x0 + w, y0 + w}).Intersect(Visible()), c);
}

Point DC::MoveTo(int x, int y) {
  return std::exchange(state_.pos, Point{x, y});
}

void DC::LineTo(int x, int y) {
  const Point from = std::exchange(state_.pos, Point{x, y});
  if (state_.pen.Style == PenStyle::psClear || !target_) return;
  // Only the part of the line near the visible area is walked.
  const int margin = std::max(state_.pen.Width, 1);
  const Rect limit = Visible().BoundingBox().Offset(-Dx(), -Dy()).Inflate(margin, margin);
  raster::LinePixels(from, {x, y}, limit, [this](int px, int py) { PlotPen(px, py); });
}

void DC::Polyline(std::span<const Point> points) {
  if (points.empty()) return;
  const Point saved = state_.pos;
  state_.pos = points[0];
  for (std::size_t i = 1; i < points.size(); ++i) LineTo(points[i].X, points[i].Y);
  state_.pos = saved;  // Polyline leaves the current position alone
}

void DC::Polygon(std::span<const Point> points) {
  if (points.size() < 2) return;
  const Rect vis = Visible().BoundingBox();
  FillShape(raster::PolygonShape(points, state_.polyFillMode, vis.Top - Dy(), vis.Bottom - Dy()),
            state_.brush);
  if (state_.pen.Style == PenStyle::psClear) return;
  std::vector<Point> closed(points.begin(), points.end());
  closed.push_back(points[0]);
  Polyline(closed);
}

COLORREF DC::SetPixel(int x, int y, TColor c) {
  const Point p{x + Dx(), y + Dy()};
  if (!target_ || !Visible().Contains(p)) return CLR_INVALID;
  const COLORREF rgb = ColorToRGB(c);
  target_->SetPixel(p.X, p.Y, rgb);
  return rgb;
}

COLORREF DC::GetPixel(int x, int y) const {
  const Point p{x + Dx(), y + Dy()};
  if (!target_ || !Visible().Contains(p)) return CLR_INVALID;
  return target_->Pixel(p.X, p.Y);
}

bool DC::BitBlt(int x, int y, int w, int h, const DC& src, int sx, int sy, std::uint32_t rop) {
  if (!target_ || !src.target_ || w <= 0 || h <= 0) return false;
  if (rop != SRCCOPY && rop != SRCPAINT && rop != SRCAND && rop != SRCINVERT) return false;
  // Both rectangles in bitmap coordinates; the source one is cut to its bitmap first.
  const Rect dst = Bounds(x + Dx(), y + Dy(), w, h);
  const int ox = sx + src.Dx() - dst.Left;  // source x = destination x + ox
  const int oy = sy + src.Dy() - dst.Top;
  const Rect srcVisible =
      Intersect(Bounds(sx + src.Dx(), sy + src.Dy(), w, h), src.target_->BoundsRect());
  const Region area =
      Region(srcVisible.Offset(-ox, -oy)).Intersect(Region(dst)).Intersect(Visible());
  if (area.IsEmpty()) return true;

  // Copying within one bitmap reads from a snapshot of the source area, so overlapping
  // rectangles behave as if the whole source were read first.
  Bitmap snapshot;
  const Bitmap* from = src.target_;
  int fx = ox, fy = oy;
  if (from == target_) {
    const Rect box = area.BoundingBox().Offset(ox, oy);
    snapshot = Bitmap(box.Width(), box.Height(), from->Format());
    const int bpp = from->BytesPerPixel();
    for (int row = 0; row < box.Height(); ++row)
      std::memcpy(snapshot.ScanLine(row), from->ScanLine(box.Top + row) + box.Left * bpp,
                  static_cast<std::size_t>(box.Width() * bpp));
    from = &snapshot;
    fx = ox - box.Left;
    fy = oy - box.Top;
  }

  const int dbpp = target_->BytesPerPixel();
  const int sbpp = from->BytesPerPixel();
  for (const auto& band : area.Bands()) {
    for (int yy = band.Top; yy < band.Bottom; ++yy) {
      std::uint8_t* drow = target_->ScanLine(yy);
      const std::uint8_t* srow = from->ScanLine(yy + fy);
      for (const auto& span : band.Spans) {
        std::uint8_t* d = drow + span.X1 * dbpp;
        const std::uint8_t* s = srow + (span.X1 + fx) * sbpp;
        const int n = span.X2 - span.X1;
        if (rop == SRCCOPY && dbpp == sbpp) {
          std::memcpy(d, s, static_cast<std::size_t>(n * dbpp));
          continue;
        }
        for (int i = 0; i < n; ++i, d += dbpp, s += sbpp) {
          for (int c = 0; c < 3; ++c) {
            switch (rop) {
              case SRCCOPY:
                d[c] = s[c];
                break;
              case SRCPAINT:
                d[c] |= s[c];
                break;
              case SRCAND:
                d[c] &= s[c];
                break;
              default:
                d[c] ^= s[c];
                break;
            }
          }
          if (dbpp == 4) d[3] = sbpp == 4 && rop == SRCCOPY ? s[3] : 255;
        }
      }
    }
  }
  return true;
}

bool DC::StretchBlt(int x, int y, int w, int h, const DC& src, int sx, int sy, int sw, int sh,
                    std::uint32_t rop) {
  if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return false;
  if (w == sw && h == sh) return BitBlt(x, y, w, h, src, sx, sy, rop);
  if (!target_ || !src.target_ || rop != SRCCOPY) return false;

  const Rect dst = Bounds(x + Dx(), y + Dy(), w, h);
  const int sx0 = sx + src.Dx();
  const int sy0 = sy + src.Dy();
  // Source pixels outside the source bitmap contribute nothing; a destination pixel that
  // gets none of its source pixels is left alone.
  const Rect have = Intersect(Bounds(sx0, sy0, sw, sh), src.target_->BoundsRect());
  const Region area = Region(dst).Intersect(Visible());
  if (area.IsEmpty() || have.IsEmpty()) return true;

  // Stretching within one bitmap reads from a copy of the source part.
  Bitmap snapshot;
  const Bitmap* from = src.target_;
  int shiftX = 0, shiftY = 0;  // absolute source coordinates to `from` coordinates
  if (from == target_) {
    snapshot = Bitmap(have.Width(), have.Height(), from->Format());
    const int bpp = from->BytesPerPixel();
    for (int row = 0; row < have.Height(); ++row)
      std::memcpy(snapshot.ScanLine(row), from->ScanLine(have.Top + row) + have.Left * bpp,
                  static_cast<std::size_t>(have.Width() * bpp));
    from = &snapshot;
    shiftX = have.Left;
    shiftY = have.Top;
  }

  const bool halftone = state_.stretchMode == HALFTONE;
  // The source pixels [a, b) on one axis, in absolute coordinates, for destination step d.
  const auto range = [&](long long d, long long dn, long long s0, long long sn, int lo, int hi,
                         int& a, int& b) {
    long long first = 0, end = 0;
    if (halftone) {
      first = d * sn / dn;
      end = std::max(first + 1, ((d + 1) * sn + dn - 1) / dn);
    } else {
      first = (2 * d + 1) * sn / (2 * dn);
      end = first + 1;
    }
    a = static_cast<int>(std::clamp<long long>(s0 + first, lo, hi));
    b = static_cast<int>(std::clamp<long long>(s0 + end, lo, hi));
  };
  const int sbpp = from->BytesPerPixel();
  const int dbpp = target_->BytesPerPixel();
  for (const auto& band : area.Bands()) {
    for (int yy = band.Top; yy < band.Bottom; ++yy) {
      int ya = 0, yb = 0;
      range(yy - dst.Top, h, sy0, sh, have.Top, have.Bottom, ya, yb);
      if (ya >= yb) continue;
      for (const auto& span : band.Spans) {
        for (int xx = span.X1; xx < span.X2; ++xx) {
          int xa = 0, xb = 0;
          range(xx - dst.Left, w, sx0, sw, have.Left, have.Right, xa, xb);
          if (xa >= xb) continue;
          unsigned long long sum[3] = {0, 0, 0};
          for (int j = ya; j < yb; ++j) {
            const std::uint8_t* p = from->ScanLine(j - shiftY) + (xa - shiftX) * sbpp;
            for (int i = xa; i < xb; ++i, p += sbpp) {
              sum[0] += p[0];
              sum[1] += p[1];
              sum[2] += p[2];
            }
          }
          const unsigned long long count =
              static_cast<unsigned long long>(yb - ya) * static_cast<unsigned long long>(xb - xa);
          PutPixel(target_->ScanLine(yy) + xx * dbpp, dbpp,
                   RGB(static_cast<std::uint8_t>((sum[2] + count / 2) / count),
                       static_cast<std::uint8_t>((sum[1] + count / 2) / count),
                       static_cast<std::uint8_t>((sum[0] + count / 2) / count)));
        }
      }
    }
  }
  return true;
}

}  // namespace qv
