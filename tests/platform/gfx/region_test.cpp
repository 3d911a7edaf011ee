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
      if (k > 0) ASSERT_LT(bands[i].Spans[k - 1].X2, bands[i].Spans[k].X1);
    }
    if (i > 0) {
      ASSERT_LE(bands[i - 1].Bottom, bands[i].Top);
      if (bands[i - 1].Bottom == bands[i].Top) ASSERT_NE(bands[i - 1].Spans, bands[i].Spans);
    }
  }
}

std::vector<std::string> Art(const Region& r, int w, int h) {
  std::vector<std::string> rows;
  for (int y = 0; y < h; ++y) {
    std::string row;
    for (int x = 0; x < w; ++x) row += r.Contains({x, y}) ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
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

TEST(RegionTest, OffsetContainsAndKinds) {
  Region r(Rect{2, 3, 5, 6});
  EXPECT_EQ(r.Kind(), SIMPLEREGION);
  r.Offset(10, -3);
  EXPECT_EQ(r.BoundingBox(), (Rect{12, 0, 15, 3}));
  EXPECT_TRUE(r.Contains({12, 0}));
  EXPECT_FALSE(r.Contains({15, 0}));  // right and bottom edges are outside
  EXPECT_FALSE(r.Contains({12, 3}));

  const Region two = Region(Rect{0, 0, 2, 2}).Union(Region(Rect{4, 0, 6, 2}));
  EXPECT_EQ(two.Kind(), COMPLEXREGION);
  EXPECT_TRUE(two.Intersects(Rect{1, 1, 5, 2}));
  EXPECT_FALSE(two.Intersects(Rect{2, 0, 4, 2}));
  EXPECT_FALSE(two.ContainsRect(Rect{0, 0, 6, 2}));
  EXPECT_TRUE(two.ContainsRect(Rect{4, 1, 6, 2}));
  EXPECT_EQ(Region(Rect{3, 3, 3, 9}).Kind(), NULLREGION);  // empty rectangle
  // Touching rectangles merge into one.
  EXPECT_EQ(Region(Rect{0, 0, 2, 2}).Union(Region(Rect{2, 0, 4, 2})), Region(Rect{0, 0, 4, 2}));
  EXPECT_EQ(Region(Rect{0, 0, 2, 2}).Union(Region(Rect{0, 2, 2, 4})), Region(Rect{0, 0, 2, 4}));
}

TEST(RegionTest, CombineRgnReportsKindsAndAllowsAliasing) {
  const Region a = CreateRectRgn(0, 0, 4, 4);
  const Region b = CreateRectRgn(2, 2, 6, 6);
  struct Case {
    int mode;
    int kind;
    int pixels;
  };
  const Case cases[] = {{RGN_AND, SIMPLEREGION, 4},
                        {RGN_OR, COMPLEXREGION, 28},
                        {RGN_XOR, COMPLEXREGION, 24},
                        {RGN_DIFF, COMPLEXREGION, 12},
                        {RGN_COPY, SIMPLEREGION, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Region dest;
    EXPECT_EQ(CombineRgn(dest, a, b, c.mode), c.kind);
    EXPECT_EQ(static_cast<int>(Pixels(dest).size()), c.pixels);
  }
  Region dest = a;
  EXPECT_EQ(CombineRgn(dest, dest, b, RGN_DIFF), COMPLEXREGION);
  EXPECT_EQ(Pixels(dest).size(), 12u);
  EXPECT_EQ(CombineRgn(dest, a, a, RGN_DIFF), NULLREGION);
  EXPECT_TRUE(dest.IsEmpty());
  Region untouched = a;
  EXPECT_EQ(CombineRgn(untouched, b, b, 99), RGN_ERROR);
  EXPECT_EQ(untouched, a);
  // Corners given in either order.
  EXPECT_EQ(CreateRectRgn(4, 4, 0, 0), a);
}

TEST(RegionTest, RoundRectAndPolygonShapes) {
  // Corner pixels count when their centre lies inside the corner circle.
  EXPECT_EQ(Art(CreateRoundRectRgn(0, 0, 10, 8, 6, 6), 10, 8), (std::vector<std::string>{
                                                                   ".########.",
                                                                   "##########",
                                                                   "##########",
                                                                   "##########",
                                                                   "##########",
                                                                   "##########",
                                                                   "##########",
                                                                   ".########.",
                                                               }));
  // A zero corner size is a plain rectangle.
  EXPECT_EQ(CreateRoundRectRgn(1, 1, 4, 3, 0, 0), CreateRectRgn(1, 1, 4, 3));

  const Point triangle[] = {{0, 0}, {8, 0}, {0, 8}};
  EXPECT_EQ(Art(CreatePolygonRgn(triangle, ALTERNATE), 9, 9),
            (std::vector<std::string>{
                "#######..",  // the hypotenuse crosses row 0 at 7.5: pixel 7's centre
                "######...",  // lies on it and, as on any right edge, is left out
                "#####....",
                "####.....",
                "###......",
                "##.......",
                "#........",
                ".........",
                ".........",
            }));
  // A path around the same square twice: ALTERNATE leaves it empty, WINDING fills it.
  const Point twice[] = {{1, 1}, {4, 1}, {4, 4}, {1, 4}, {1, 1}, {4, 1}, {4, 4}, {1, 4}};
  EXPECT_TRUE(CreatePolygonRgn(twice, ALTERNATE).IsEmpty());
  EXPECT_EQ(CreatePolygonRgn(twice, WINDING), CreateRectRgn(1, 1, 4, 4));
  EXPECT_TRUE(CreatePolygonRgn(std::span<const Point>(triangle, 2), ALTERNATE).IsEmpty());
}

}  // namespace
}  // namespace qv
