#include "platform/gfx/dc.h"

#include <gtest/gtest.h>

#include "platform/gfx/raster.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace qv {
namespace {

using test::Picture;

Bitmap White(int w, int h) {
  Bitmap b(w, h);
  b.Fill(0xFFFFFF);
  return b;
}

constexpr Brush kRed{BrushStyle::bsSolid, clRed};
constexpr Brush kClear{BrushStyle::bsClear, clRed};
constexpr Pen kNoPen{PenStyle::psClear, clBlack, 1};

TEST(DCTest, LinesLeaveOutTheirLastPixel) {
  Bitmap bmp = White(10, 7);
  DC dc(&bmp);
  dc.MoveTo(1, 1);
  dc.LineTo(8, 1);  // right
  dc.LineTo(8, 5);  // down
  dc.LineTo(5, 2);  // diagonal up-left
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{5, 2}));
  dc.MoveTo(0, 6);
  dc.LineTo(0, 6);  // a zero-length line draws nothing
  EXPECT_EQ(Picture(bmp), Picture({
                              "..........",
                              ".########.",  // (8, 1) starts the second line
                              "........#.",
                              "......#.#.",
                              ".......##.",
                              "........#.",  // (8, 5) starts the third; (5, 2) is left out
                              "..........",
                          }));
}

TEST(DCTest, LinesFarOutsideCostOnlyTheirVisiblePart) {
  Bitmap bmp = White(6, 4);
  DC dc(&bmp);
  dc.MoveTo(-1000000000, 1);
  dc.LineTo(1000000000, 1);
  dc.MoveTo(-1000000, -1000000);
  dc.LineTo(1000000, 1000000);
  EXPECT_EQ(Picture(bmp), Picture({
                              "#.....",
                              "######",
                              "..#...",
                              "...#..",
                          }));
  // Walking only the visible steps lands on the same pixels as walking them all.
  const Point ends[][2] = {{{-50, -13}, {60, 31}}, {{17, 40}, {3, -25}}, {{25, 2}, {-9, 11}}};
  for (const auto& e : ends) {
    Bitmap part = White(20, 20), full = White(20, 20);
    DC pdc(&part);
    pdc.MoveTo(e[0].X, e[0].Y);
    pdc.LineTo(e[1].X, e[1].Y);
    raster::LinePixels(e[0], e[1], Rect{-1000, -1000, 1000, 1000},
                       [&](int x, int y) { full.SetPixel(x, y, 0); });
    EXPECT_EQ(part, full);
  }
}

Bitmap Pattern4x4() {
  // Rows: r g b #, then shifted.
  Bitmap src(4, 4);
  const COLORREF colours[] = {0x0000FF, 0x00FF00, 0xFF0000, 0x000000};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) src.SetPixel(x, y, colours[(x + y) % 4]);
  return src;
}

TEST(DCTest, BitBltClipsOnBothSides) {
  Bitmap src = Pattern4x4();
  Bitmap bmp = White(6, 5);
  DC sdc(&src), dc(&bmp);
  // Destination off the top-left corner: only the part inside arrives.
  EXPECT_TRUE(dc.BitBlt(-2, -1, 4, 4, sdc, 0, 0));
  // Source rectangle hanging off the source's left and bottom: those pixels stay white.
  EXPECT_TRUE(dc.BitBlt(3, 1, 3, 4, sdc, -1, 1));
  EXPECT_EQ(Picture(bmp), Picture({
                              "#r....", "rg..gb", "gb..b#", "....#r",
                              "......",  // source row 4 lies below the source bitmap
                          }));
  EXPECT_FALSE(dc.BitBlt(0, 0, 1, 1, sdc, 0, 0, 0x00AA0029));  // unsupported raster op
}

}  // namespace
}  // namespace qv
