// A set of pixels kept as horizontal bands: each band covers rows [Top, Bottom) and holds
// sorted, disjoint, non-touching spans [X1, X2). Vertically adjacent bands with the same spans
// are merged, so two regions with the same pixels have the same bands. A plain value type;
// the window system keeps window regions and clip regions in it.
#pragma once

#include <span>
#include <vector>

#include "platform/gfx/geometry.h"

namespace qv {

// CombineRgn modes and the region kinds it reports.
enum : int { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
enum : int { RGN_ERROR = 0, NULLREGION = 1, SIMPLEREGION = 2, COMPLEXREGION = 3 };
// Polygon fill modes.
enum : int { ALTERNATE = 1, WINDING = 2 };

class Region {
 public:
  struct Span {
    int X1 = 0;
    int X2 = 0;
    friend bool operator==(const Span&, const Span&) = default;
  };
  struct Band {
    int Top = 0;
    int Bottom = 0;
    std::vector<Span> Spans;
    friend bool operator==(const Band&, const Band&) = default;
  };

  Region() = default;
  explicit Region(const Rect& r);

  // Rows are added top to bottom; each call's spans must be sorted and disjoint.
  void AppendRow(int y, std::span<const Span> spans);

  [[nodiscard]] bool IsEmpty() const { return bands_.empty(); }
  [[nodiscard]] int Kind() const;  // NULLREGION, SIMPLEREGION or COMPLEXREGION
  [[nodiscard]] Rect BoundingBox() const;
  [[nodiscard]] bool Contains(Point p) const;
  // True when any pixel of the rectangle lies in the region (RectInRegion).
  [[nodiscard]] bool Intersects(const Rect& r) const;
  // True when every pixel of the rectangle lies in the region.
  [[nodiscard]] bool ContainsRect(const Rect& r) const;
  [[nodiscard]] std::vector<Rect> Rects() const;
  [[nodiscard]] const std::vector<Band>& Bands() const { return bands_; }

  void Offset(int dx, int dy);
  [[nodiscard]] Region Union(const Region& other) const;
  [[nodiscard]] Region Intersect(const Region& other) const;
  [[nodiscard]] Region Subtract(const Region& other) const;
  [[nodiscard]] Region Xor(const Region& other) const;

  friend bool operator==(const Region&, const Region&) = default;

 private:
  enum class Op { Or, And, Diff, Xor };
  [[nodiscard]] Region Combine(const Region& other, Op op) const;
  void PushBand(int top, int bottom, std::vector<Span>&& spans);

  std::vector<Band> bands_;
};

// Region constructors shaped like the platform's. The round rectangle's corners are quarter
// ellipses `w` wide and `h` high; the polygon is filled by the pixel-centre rule Polygon uses.
[[nodiscard]] Region CreateRectRgn(int left, int top, int right, int bottom);
[[nodiscard]] Region CreateRoundRectRgn(int left, int top, int right, int bottom, int w, int h);
[[nodiscard]] Region CreatePolygonRgn(std::span<const Point> points, int fillMode);

// dest := a <mode> b; returns the kind of the result, RGN_ERROR for an unknown mode (dest
// unchanged). `dest` may be `a` or `b`.
int CombineRgn(Region& dest, const Region& a, const Region& b, int mode);

}  // namespace qv
