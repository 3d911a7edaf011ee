// Points, sizes and rectangles with the platform's conventions: a rectangle includes its
// Left and Top edges and excludes its Right and Bottom edges, so (0, 0, 3, 2) covers six
// pixels. Plain records, shared by every drawing call and by the window system.
#pragma once

#include <algorithm>

namespace qv {

struct Point {
  int X = 0;
  int Y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  [[nodiscard]] int Width() const { return Right - Left; }
  [[nodiscard]] int Height() const { return Bottom - Top; }
  [[nodiscard]] bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  [[nodiscard]] bool Contains(Point p) const {
    return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom;
  }
  [[nodiscard]] Rect Offset(int dx, int dy) const {
    return {Left + dx, Top + dy, Right + dx, Bottom + dy};
  }
  [[nodiscard]] Rect Inflate(int dx, int dy) const {
    return {Left - dx, Top - dy, Right + dx, Bottom + dy};
  }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// `Bounds(x, y, w, h)` spells the rectangle the way the class library's `Bounds` does.
[[nodiscard]] inline Rect Bounds(int x, int y, int w, int h) {
  return {x, y, x + w, y + h};
}

// The common part of two rectangles; empty rectangles come back as (0, 0, 0, 0), as the
// platform's IntersectRect gives them.
[[nodiscard]] inline Rect Intersect(const Rect& a, const Rect& b) {
  const Rect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
  return r.IsEmpty() ? Rect{} : r;
}

// The smallest rectangle holding both; an empty operand does not count.
[[nodiscard]] inline Rect Union(const Rect& a, const Rect& b) {
  if (a.IsEmpty()) return b.IsEmpty() ? Rect{} : b;
  if (b.IsEmpty()) return a;
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
          std::max(a.Bottom, b.Bottom)};
}

}  // namespace qv
