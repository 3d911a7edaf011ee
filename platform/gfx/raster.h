// Scan conversion shared by the device context and the region constructors. A pixel belongs
// to a filled shape when its centre (x + 0.5, y + 0.5) lies inside it. Only rows in
// [yMin, yMax) are produced, so a shape far larger than the surface costs no more than the
// rows that can be seen.
#pragma once

#include <climits>
#include <functional>
#include <span>

#include "platform/gfx/geometry.h"
#include "platform/gfx/region.h"

namespace qv::raster {

constexpr int kAllRowsMin = INT_MIN / 4;
constexpr int kAllRowsMax = INT_MAX / 4;

[[nodiscard]] Region PolygonShape(std::span<const Point> points, int fillMode,
                                  int yMin = kAllRowsMin, int yMax = kAllRowsMax);

// The box [Left, Right) x [Top, Bottom) with quarter-ellipse corners w wide and h high,
// clamped to the box.
[[nodiscard]] Region RoundRectShape(const Rect& box, int w, int h, int yMin = kAllRowsMin,
                                    int yMax = kAllRowsMax);

// The pixels of `shape` that have a 4-neighbour outside it.
[[nodiscard]] Region Outline(const Region& shape);

// Pixels of a line from `a` towards `b`; `b` itself is not plotted. Step i along the longer
// axis puts the other coordinate at the nearest pixel, halves rounded away from `a`. Only the
// steps whose longer-axis coordinate lies in [lo, hi) of `limit` are visited, so a line far
// longer than the surface costs only what can be seen.
void LinePixels(Point a, Point b, const Rect& limit, const std::function<void(int x, int y)>& plot);

}  // namespace qv::raster
