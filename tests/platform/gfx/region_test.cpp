#include "platform/gfx/region.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace qv {
namespace {

constexpr int kGrid = 24;

using PixelSet = std::set<std::pair<int, int>>;

PixelSet Pixels(const Region& r) {
  PixelSet s;
  for (int y = -2; y < kGrid + 2; ++y)
    for (int x = -2; x < kGrid + 2; ++x)
      if (r.Contains({x, y})) s.insert({x, y});
  return s;
}

PixelSet PixelsOf(const std::vector<Rect>& rects) {
  PixelSet s;
  for (const Rect& r : rects)
    for (int y = r.Top; y < r.Bottom; ++y)
      for (int x = r.Left; x < r.Right; ++x) s.insert({x, y});
  return s;
}

// The invariants that make equal pixel sets have equal bands.
void ExpectCanonical(const Region& r) {
  const auto& bands = r.Bands();
  for (std::size_t i = 0; i < bands.size(); ++i) {
    ASSERT_LT(bands[i].Top, bands[i].Bottom);
    ASSERT_FALSE(bands[i].Spans.empty());
    for (std::size_t k = 0; k < bands[i].Spans.size(); ++k) {
      ASSERT_LT(bands[i].Spans[k].X1, bands[i].Spans[k].X2);
      if (k > 0) {
        ASSERT_LT(bands[i].Spans[k - 1].X2, bands[i].Spans[k].X1);
      }
    }
    if (i > 0) {
      ASSERT_LE(bands[i - 1].Bottom, bands[i].Top);
      if (bands[i - 1].Bottom == bands[i].Top) {
        ASSERT_NE(bands[i - 1].Spans, bands[i].Spans);
      }
    }
  }
}

TEST(RegionTest, SetOperationsMatchPixelSets) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(0, kGrid);
  const auto randomRegion = [&](std::vector<Rect>& rects) {
    Region r;
    const int n = 1 + static_cast<int>(rng() % 5);
    for (int i = 0; i < n; ++i) {
      const int a = coord(rng), b = coord(rng), c = coord(rng), d = coord(rng);
      const Rect rect{std::min(a, b), std::min(c, d), std::max(a, b), std::max(c, d)};
      rects.push_back(rect);
      r = r.Union(Region(rect));
    }
    return r;
  };
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    std::vector<Rect> ra, rb;
    const Region a = randomRegion(ra);
    const Region b = randomRegion(rb);
    const PixelSet pa = PixelsOf(ra), pb = PixelsOf(rb);
    ASSERT_EQ(Pixels(a), pa);
    PixelSet both, either, onlyA, one;
    for (const auto& p : pa) (pb.count(p) ? both : onlyA).insert(p);
    either = pa;
    either.insert(pb.begin(), pb.end());
    for (const auto& p : either)
      if (pa.count(p) != pb.count(p)) one.insert(p);

    const Region u = a.Union(b), i = a.Intersect(b), d = a.Subtract(b), x = a.Xor(b);
    EXPECT_EQ(Pixels(u), either);
    EXPECT_EQ(Pixels(i), both);
    EXPECT_EQ(Pixels(d), onlyA);
    EXPECT_EQ(Pixels(x), one);
    for (const Region* r : {&a, &u, &i, &d, &x}) ExpectCanonical(*r);
    EXPECT_EQ(PixelsOf(u.Rects()), either);
    // Equal pixel sets give equal regions, however they were built.
    EXPECT_EQ(u, b.Union(a));
    EXPECT_EQ(x, d.Union(b.Subtract(a)));

    Rect box;
    for (const auto& [px, py] : either) box = Union(box, Rect{px, py, px + 1, py + 1});
    EXPECT_EQ(u.BoundingBox(), box);
    EXPECT_EQ(a.Intersects(Rect{0, 0, kGrid, kGrid}), !pa.empty());
  }
}

}  // namespace
}  // namespace qv
