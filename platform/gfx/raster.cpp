#include "platform/gfx/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace qv::raster {

namespace {

struct Crossing {
  double X = 0;
  int Dir = 0;
};

}  // namespace

Region PolygonShape(std::span<const Point> points, int fillMode, int yMin, int yMax) {
  Region out;
  if (points.size() < 3) return out;
  int top = points[0].Y, bottom = points[0].Y;
  for (const auto& p : points) {
    top = std::min(top, p.Y);
    bottom = std::max(bottom, p.Y);
  }
  top = std::max(top, yMin);
  bottom = std::min(bottom, yMax);

  std::vector<Crossing> xs;
  std::vector<Region::Span> spans;
  for (int y = top; y < bottom; ++y) {
    const double yc = y + 0.5;
    xs.clear();
    for (std::size_t i = 0; i < points.size(); ++i) {
      const Point p = points[i];
      const Point q = points[(i + 1) % points.size()];
      if (p.Y == q.Y) continue;
      if (yc < std::min(p.Y, q.Y) || yc >= std::max(p.Y, q.Y)) continue;
      const double x = p.X + (yc - p.Y) * static_cast<double>(q.X - p.X) / (q.Y - p.Y);
      xs.push_back({x, q.Y > p.Y ? 1 : -1});
    }
    std::sort(xs.begin(), xs.end(), [](const Crossing& a, const Crossing& b) { return a.X < b.X; });
    spans.clear();
    const auto add = [&](double xa, double xb) {
      const int x1 = static_cast<int>(std::ceil(xa - 0.5));
      const int x2 = static_cast<int>(std::ceil(xb - 0.5));
      if (x2 > x1) spans.push_back({x1, x2});
    };
    if (fillMode == WINDING) {
      int winding = 0;
      for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
        winding += xs[i].Dir;
        if (winding != 0) add(xs[i].X, xs[i + 1].X);
      }
    } else {
      for (std::size_t i = 0; i + 1 < xs.size(); i += 2) add(xs[i].X, xs[i + 1].X);
    }
    out.AppendRow(y, spans);
  }
  return out;
}

Region RoundRectShape(const Rect& box, int w, int h, int yMin, int yMax) {
  Region out;
  if (box.IsEmpty()) return out;
  const double a = std::clamp(w, 0, box.Width()) / 2.0;
  const double b = std::clamp(h, 0, box.Height()) / 2.0;
  const int top = std::max(box.Top, yMin);
  const int bottom = std::min(box.Bottom, yMax);
  for (int y = top; y < bottom; ++y) {
    const double yc = y + 0.5;
    double dy = 0;
    if (yc < box.Top + b) dy = box.Top + b - yc;
    if (yc > box.Bottom - b) dy = yc - (box.Bottom - b);
    double inset = 0;  // distance of the row's ends from the box's sides
    if (dy > 0 && a > 0 && b > 0) {
      const double t = 1.0 - (dy / b) * (dy / b);
      inset = a - (t > 0 ? a * std::sqrt(t) : 0.0);
    }
    const int cut = static_cast<int>(std::ceil(inset - 0.5));
    const Region::Span span{box.Left + std::max(cut, 0), box.Right - std::max(cut, 0)};
    if (span.X2 > span.X1) out.AppendRow(y, std::span(&span, 1));
  }
  return out;
}

Region Outline(const Region& shape) {
  Region inside = shape;
  for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
    Region moved = shape;
    moved.Offset(dx, dy);
    inside = inside.Intersect(moved);
  }
  return shape.Subtract(inside);
}

void LinePixels(Point a, Point b, const Rect& limit,
                const std::function<void(int x, int y)>& plot) {
  const long long dx = static_cast<long long>(b.X) - a.X;
  const long long dy = static_cast<long long>(b.Y) - a.Y;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const long long n = xMajor ? std::llabs(dx) : std::llabs(dy);
  if (n == 0) return;
  const long long minor = xMajor ? dy : dx;
  const long long m0 = xMajor ? a.X : a.Y;
  const long long step = (xMajor ? dx : dy) > 0 ? 1 : -1;
  const long long lo = xMajor ? limit.Left : limit.Top;
  const long long hi = xMajor ? limit.Right : limit.Bottom;
  // The steps i in [first, last) whose coordinate m0 + step * i lies in [lo, hi).
  const long long first = std::max(0LL, step > 0 ? lo - m0 : m0 - (hi - 1));
  const long long last = std::min(n, step > 0 ? hi - m0 : m0 - lo + 1);
  for (long long i = first; i < last; ++i) {
    const long long offset = (2 * i * std::llabs(minor) + n) / (2 * n);
    const long long other = (xMajor ? a.Y : a.X) + (minor < 0 ? -offset : offset);
    const long long major = m0 + step * i;
    plot(static_cast<int>(xMajor ? major : other), static_cast<int>(xMajor ? other : major));
  }
}

}  // namespace qv::raster
