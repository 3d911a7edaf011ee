#include "platform/gfx/region.h"

#include <algorithm>
#include <cassert>

#include "platform/gfx/raster.h"

namespace qv {

namespace {

using Span = Region::Span;
using Band = Region::Band;

// The spans of the band covering row y, or none; `hint` walks forward through the bands
// because the rows are visited in increasing order.
const std::vector<Span>* SpansAt(const std::vector<Band>& bands, std::size_t& hint, int y) {
  while (hint < bands.size() && bands[hint].Bottom <= y) ++hint;
  if (hint < bands.size() && bands[hint].Top <= y) return &bands[hint].Spans;
  return nullptr;
}

template <typename Pred>
std::vector<Span> CombineSpans(const std::vector<Span>* a, const std::vector<Span>* b, Pred in) {
  static const std::vector<Span> kNone;
  const auto& sa = a ? *a : kNone;
  const auto& sb = b ? *b : kNone;
  std::vector<int> xs;
  xs.reserve(2 * (sa.size() + sb.size()));
  for (const auto& s : sa) xs.insert(xs.end(), {s.X1, s.X2});
  for (const auto& s : sb) xs.insert(xs.end(), {s.X1, s.X2});
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());

  std::vector<Span> out;
  std::size_t ia = 0, ib = 0;
  for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
    const int x = xs[i];
    while (ia < sa.size() && sa[ia].X2 <= x) ++ia;
    while (ib < sb.size() && sb[ib].X2 <= x) ++ib;
    const bool inA = ia < sa.size() && sa[ia].X1 <= x;
    const bool inB = ib < sb.size() && sb[ib].X1 <= x;
    if (!in(inA, inB)) continue;
    if (!out.empty() && out.back().X2 == x) {
      out.back().X2 = xs[i + 1];
    } else {
      out.push_back({x, xs[i + 1]});
    }
  }
  return out;
}

}  // namespace

Region::Region(const Rect& r) {
  if (!r.IsEmpty()) bands_.push_back({r.Top, r.Bottom, {{r.Left, r.Right}}});
}

void Region::PushBand(int top, int bottom, std::vector<Span>&& spans) {
  if (spans.empty() || top >= bottom) return;
  if (!bands_.empty() && bands_.back().Bottom == top && bands_.back().Spans == spans) {
    bands_.back().Bottom = bottom;
    return;
  }
  bands_.push_back({top, bottom, std::move(spans)});
}

void Region::AppendRow(int y, std::span<const Span> spans) {
  assert((bands_.empty() || bands_.back().Bottom <= y) && "rows must be appended in order");
  std::vector<Span> merged;
  for (const auto& s : spans) {
    if (s.X2 <= s.X1) continue;
    if (!merged.empty() && merged.back().X2 >= s.X1) {
      merged.back().X2 = std::max(merged.back().X2, s.X2);
    } else {
      merged.push_back(s);
    }
  }
  PushBand(y, y + 1, std::move(merged));
}

int Region::Kind() const {
  if (bands_.empty()) return NULLREGION;
  return bands_.size() == 1 && bands_[0].Spans.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

Rect Region::BoundingBox() const {
  if (bands_.empty()) return {};
  Rect r{bands_.front().Spans.front().X1, bands_.front().Top, bands_.front().Spans.back().X2,
         bands_.back().Bottom};
  for (const auto& b : bands_) {
    r.Left = std::min(r.Left, b.Spans.front().X1);
    r.Right = std::max(r.Right, b.Spans.back().X2);
  }
  return r;
}

bool Region::Contains(Point p) const {
  const auto band = std::upper_bound(bands_.begin(), bands_.end(), p.Y,
                                     [](int y, const Band& b) { return y < b.Bottom; });
  if (band == bands_.end() || band->Top > p.Y) return false;
  const auto span = std::upper_bound(band->Spans.begin(), band->Spans.end(), p.X,
                                     [](int x, const Span& s) { return x < s.X2; });
  return span != band->Spans.end() && span->X1 <= p.X;
}

bool Region::Intersects(const Rect& r) const {
  return !Intersect(Region(r)).IsEmpty();
}

bool Region::ContainsRect(const Rect& r) const {
  return r.IsEmpty() || Region(r).Subtract(*this).IsEmpty();
}

std::vector<Rect> Region::Rects() const {
  std::vector<Rect> out;
  for (const auto& b : bands_)
    for (const auto& s : b.Spans) out.push_back({s.X1, b.Top, s.X2, b.Bottom});
  return out;
}

void Region::Offset(int dx, int dy) {
  for (auto& b : bands_) {
    b.Top += dy;
    b.Bottom += dy;
    for (auto& s : b.Spans) {
      s.X1 += dx;
      s.X2 += dx;
    }
  }
}

Region Region::Combine(const Region& other, Op op) const {
  std::vector<int> ys;
  ys.reserve(2 * (bands_.size() + other.bands_.size()));
  for (const auto& b : bands_) ys.insert(ys.end(), {b.Top, b.Bottom});
  for (const auto& b : other.bands_) ys.insert(ys.end(), {b.Top, b.Bottom});
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

  Region out;
  std::size_t ha = 0, hb = 0;
  for (std::size_t i = 0; i + 1 < ys.size(); ++i) {
    const auto* a = SpansAt(bands_, ha, ys[i]);
    const auto* b = SpansAt(other.bands_, hb, ys[i]);
    if (!a && !b) continue;
    std::vector<Span> spans;
    switch (op) {
      case Op::Or:
        spans = CombineSpans(a, b, [](bool x, bool y) { return x || y; });
        break;
      case Op::And:
        if (a && b) spans = CombineSpans(a, b, [](bool x, bool y) { return x && y; });
        break;
      case Op::Diff:
        if (a) spans = CombineSpans(a, b, [](bool x, bool y) { return x && !y; });
        break;
      case Op::Xor:
        spans = CombineSpans(a, b, [](bool x, bool y) { return x != y; });
        break;
    }
    out.PushBand(ys[i], ys[i + 1], std::move(spans));
  }
  return out;
}

Region Region::Union(const Region& other) const {
  return Combine(other, Op::Or);
}
Region Region::Intersect(const Region& other) const {
  return Combine(other, Op::And);
}
Region Region::Subtract(const Region& other) const {
  return Combine(other, Op::Diff);
}
Region Region::Xor(const Region& other) const {
  return Combine(other, Op::Xor);
}

Region CreateRectRgn(int left, int top, int right, int bottom) {
  // The platform accepts the corners in either order.
  return Region(Rect{std::min(left, right), std::min(top, bottom), std::max(left, right),
                     std::max(top, bottom)});
}

Region CreateRoundRectRgn(int left, int top, int right, int bottom, int w, int h) {
  return raster::RoundRectShape(
      {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)},
      w, h);
}

Region CreatePolygonRgn(std::span<const Point> points, int fillMode) {
  return raster::PolygonShape(points, fillMode);
}

int CombineRgn(Region& dest, const Region& a, const Region& b, int mode) {
  switch (mode) {
    case RGN_AND:
      dest = a.Intersect(b);
      break;
    case RGN_OR:
      dest = a.Union(b);
      break;
    case RGN_XOR:
      dest = a.Xor(b);
      break;
    case RGN_DIFF:
      dest = a.Subtract(b);
      break;
    case RGN_COPY:
      dest = a;
      break;
    default:
      return RGN_ERROR;
  }
  return dest.Kind();
}

}  // namespace qv
