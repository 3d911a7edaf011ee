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

TEST(DCTest, PolylineAndPolygon) {
  Bitmap bmp = White(9, 8);
  DC dc(&bmp);
  dc.MoveTo(7, 7);
  const Point open[] = {{0, 0}, {4, 0}, {4, 2}};
  dc.Polyline(open);
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{7, 7}));  // Polyline leaves it alone
  dc.SelectBrush(kRed);
  const Point triangle[] = {{1, 3}, {7, 3}, {7, 7}};
  dc.Polygon(triangle);  // closed outline in the pen, inside in the brush
  EXPECT_EQ(Picture(bmp), Picture({
                              "#####....", "....#....", ".........", ".#######.", "..##rrr#.",
                              "....#rr#.", ".....###.",
                              ".......#.",  // the closing edge starts at (7, 7)
                          }));
}

TEST(DCTest, RectanglesWithAndWithoutPen) {
  Bitmap bmp = White(14, 6);
  DC dc(&bmp);
  dc.SelectBrush(kRed);
  dc.Rectangle(0, 0, 5, 4);  // outline on the rectangle's inner edge
  dc.SelectPen(kNoPen);
  dc.Rectangle(6, 0, 10, 4);  // no pen: one pixel less to the right and below
  dc.FrameRect({11, 0, 14, 3}, Brush{BrushStyle::bsSolid, clBlack});
  dc.FillRect({0, 5, 3, 6});
  dc.FillRect({4, 5, 8, 6}, kClear);  // a clear brush paints nothing
  EXPECT_EQ(Picture(bmp), Picture({
                              "#####.rrr..###",
                              "#rrr#.rrr..#.#",
                              "#rrr#.rrr..###",
                              "#####.........",
                              "..............",
                              "rrr...........",
                          }));
}

TEST(DCTest, RoundRectOutlineAndFill) {
  Bitmap bmp = White(10, 8);
  DC dc(&bmp);
  dc.SelectBrush(kRed);
  dc.RoundRect(0, 0, 10, 8, 6, 6);
  EXPECT_EQ(Picture(bmp), Picture({
                              ".########.",
                              "#rrrrrrrr#",
                              "#rrrrrrrr#",
                              "#rrrrrrrr#",
                              "#rrrrrrrr#",
                              "#rrrrrrrr#",
                              "#rrrrrrrr#",
                              ".########.",
                          }));
}

TEST(DCTest, ClippingSavedStatesAndOrigins) {
  Bitmap bmp = White(8, 6);
  DC dc(&bmp);
  dc.SelectBrush(kRed);
  EXPECT_EQ(dc.SaveDC(), 1);
  EXPECT_EQ(dc.IntersectClipRect(1, 1, 7, 5), SIMPLEREGION);
  EXPECT_EQ(dc.ExcludeClipRect(3, 2, 5, 4), COMPLEXREGION);
  dc.FillRect({0, 0, 8, 6});
  Rect box;
  dc.GetClipBox(box);
  EXPECT_EQ(box, (Rect{1, 1, 7, 5}));
  EXPECT_EQ(dc.GetPixel(3, 2), CLR_INVALID);  // excluded
  EXPECT_EQ(dc.SetPixel(0, 0, clBlack), CLR_INVALID);
  EXPECT_TRUE(dc.RestoreDC(-1));
  EXPECT_FALSE(dc.RestoreDC(-1));  // nothing left to restore

  // The window origin moves the drawing, and the clip rectangle with it.
  dc.SetWindowOrg({-6, -4});
  dc.IntersectClipRect(0, 0, 1, 1);
  dc.FillRect({-10, -10, 10, 10}, Brush{BrushStyle::bsSolid, clBlack});
  EXPECT_EQ(Picture(bmp), Picture({
                              "........",
                              ".rrrrrr.",
                              ".rr..rr.",
                              ".rr..rr.",
                              ".rrrrr#.",
                              "........",
                          }));
}

TEST(DCTest, SelectClipRgnIsInDeviceCoordinates) {
  Bitmap bmp = White(6, 3);
  DC dc(&bmp);
  dc.SetViewportOrg({2, 0});
  const Region rgn = Region(Rect{0, 0, 1, 3}).Union(Region(Rect{4, 0, 6, 1}));
  EXPECT_EQ(dc.SelectClipRgn(&rgn), COMPLEXREGION);
  dc.FillRect({-2, 0, 4, 3}, kRed);
  EXPECT_EQ(Picture(bmp), Picture({
                              "r...rr",
                              "r.....",
                              "r.....",
                          }));
  EXPECT_EQ(dc.SelectClipRgn(nullptr), SIMPLEREGION);
}

TEST(DCTest, DeviceOriginAndSystemClip) {
  Bitmap bmp = White(6, 4);
  DC dc(&bmp);
  dc.SetDeviceOrigin({2, 1});
  dc.SetSystemClip(Region(Rect{0, 0, 3, 2}));
  dc.SaveDC();
  dc.FillRect({-5, -5, 20, 20}, kRed);
  dc.RestoreDC(1);  // the system clip is not part of the saved state
  dc.SetPixel(2, 1, clBlack);
  dc.SetPixel(3, 1, clBlack);  // outside the system clip
  EXPECT_EQ(Picture(bmp), Picture({
                              "......",
                              "..rrr.",
                              "..rr#.",
                              "......",
                          }));
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

TEST(DCTest, BitBltWithinOneBitmapOverlaps) {
  Bitmap bmp = Pattern4x4();
  DC dc(&bmp);
  dc.BitBlt(1, 0, 3, 4, dc, 0, 0);  // scroll right by one
  EXPECT_EQ(Picture(bmp), Picture({
                              "rrgb",
                              "ggb#",
                              "bb#r",
                              "##rg",
                          }));
}

TEST(DCTest, RasterOpsCombineChannels) {
  Bitmap dst(1, 1), src(1, 1);
  dst.SetPixel(0, 0, 0x0F0F0F);
  src.SetPixel(0, 0, 0x3C3C3C);
  DC d(&dst), s(&src);
  const std::pair<std::uint32_t, COLORREF> cases[] = {
      {SRCAND, 0x0C0C0C}, {SRCPAINT, 0x3F3F3F}, {SRCINVERT, 0x333333}, {SRCCOPY, 0x3C3C3C}};
  for (const auto& [rop, expected] : cases) {
    SCOPED_TRACE(rop);
    dst.SetPixel(0, 0, 0x0F0F0F);
    d.BitBlt(0, 0, 1, 1, s, 0, 0, rop);
    EXPECT_EQ(dst.Pixel(0, 0), expected);
  }
}

TEST(DCTest, StretchBltNearestAndHalftone) {
  Bitmap src(2, 2);
  src.SetPixel(0, 0, 0x0000FF);
  src.SetPixel(1, 0, 0x00FF00);
  src.SetPixel(0, 1, 0xFF0000);
  src.SetPixel(1, 1, 0x000000);
  Bitmap big = White(5, 4);
  DC sdc(&src), dc(&big);
  EXPECT_TRUE(dc.StretchBlt(0, 0, 4, 4, sdc, 0, 0, 2, 2));
  EXPECT_EQ(Picture(big), Picture({
                              "rrgg.",
                              "rrgg.",
                              "bb##.",
                              "bb##.",
                          }));

  Bitmap checker(4, 2);
  for (int x = 0; x < 4; ++x) {
    checker.SetPixel(x, 0, x % 2 ? 0xFFFFFF : 0x000000);
    checker.SetPixel(x, 1, x % 2 ? 0x000000 : 0xFFFFFF);
  }
  Bitmap small(2, 1);
  DC cdc(&checker), sm(&small);
  sm.SetStretchBltMode(HALFTONE);
  EXPECT_TRUE(sm.StretchBlt(0, 0, 2, 1, cdc, 0, 0, 4, 2));
  EXPECT_EQ(small.Pixel(0, 0), 0x808080u);  // the average of two black and two white
  sm.SetStretchBltMode(COLORONCOLOR);
  EXPECT_TRUE(sm.StretchBlt(0, 0, 2, 1, cdc, 0, 0, 4, 2));
  EXPECT_EQ(small.Pixel(0, 0), 0x000000u);  // nearest: the centre of (0..2, 0..2) is (1, 1)
  EXPECT_FALSE(sm.StretchBlt(0, 0, -2, 1, cdc, 0, 0, 4, 2));
}

TEST(DCTest, StretchBltClipsTheSourceAndMayReadItsOwnBitmap) {
  Bitmap src(2, 2);
  src.Fill(0x0000FF);
  Bitmap bmp = White(6, 2);
  DC sdc(&src), dc(&bmp);
  // Source (-1, 0, 3 wide): its first column lies off the bitmap, so the first two
  // destination columns keep their pixels.
  EXPECT_TRUE(dc.StretchBlt(0, 0, 6, 2, sdc, -1, 0, 3, 2));
  EXPECT_EQ(Picture(bmp), Picture({
                              "..rrrr",
                              "..rrrr",
                          }));

  Bitmap self = White(4, 2);
  self.SetPixel(0, 0, 0x000000);
  DC sd(&self);
  EXPECT_TRUE(sd.StretchBlt(2, 0, 2, 2, sd, 0, 0, 1, 1));  // magnify its own top-left pixel
  EXPECT_EQ(Picture(self), Picture({
                               "#.##",
                               "..##",
                           }));

  // A cover shrunk into a picture control: a flat colour stays flat, the rest untouched.
  Bitmap cover(600, 300);
  cover.Fill(0x336699);
  Bitmap control = White(300, 127);
  DC cdc(&cover), pic(&control);
  pic.SetStretchBltMode(HALFTONE);
  EXPECT_TRUE(pic.StretchBlt(23, 0, 254, 127, cdc, 0, 0, 600, 300));
  EXPECT_EQ(control.Pixel(23, 0), 0x336699u);
  EXPECT_EQ(control.Pixel(276, 126), 0x336699u);
  EXPECT_EQ(control.Pixel(22, 60), 0xFFFFFFu);
  EXPECT_EQ(control.Pixel(277, 60), 0xFFFFFFu);
}

TEST(DCTest, SystemColoursAndWideFormats) {
  Bitmap bmp(3, 1, PixelFormat::pf32bit);
  DC dc(&bmp);
  dc.FillRect({0, 0, 3, 1}, Brush{BrushStyle::bsSolid, clBtnFace});
  EXPECT_EQ(bmp.Pixel(1, 0), RGB(212, 208, 200));
  EXPECT_EQ(bmp.ScanLine(0)[7], 255);  // alpha
  Bitmap src(1, 1);
  src.SetPixel(0, 0, 0x123456);
  DC sdc(&src);
  dc.BitBlt(2, 0, 1, 1, sdc, 0, 0);
  EXPECT_EQ(bmp.Pixel(2, 0), 0x123456u);
  EXPECT_EQ(ColorToRGB(clNone), 0xFFFFFFu);
  EXPECT_EQ(ColorToRGB(SysColor(200)), 0u);  // past the table
}

TEST(BitmapTest, RowsPaddedResizeAndFormats) {
  Bitmap b(5, 3);
  EXPECT_EQ(b.Stride(), 16);  // 15 bytes of pixels, padded to a multiple of 4
  EXPECT_EQ(b.ScanLine(1) - b.ScanLine(0), 16);
  b.Fill(0x112233);
  b.SetSize(7, 2);
  EXPECT_EQ(b.Pixel(4, 1), 0x112233u);  // kept
  EXPECT_EQ(b.Pixel(5, 0), 0u);         // new pixels are black
  EXPECT_EQ(b.Pixel(7, 0), CLR_INVALID);
  b.SetPixelFormat(PixelFormat::pf32bit);
  EXPECT_EQ(b.Stride(), 28);
  EXPECT_EQ(b.Pixel(4, 1), 0x112233u);
  EXPECT_EQ(b.ScanLine(0)[3], 255);
  b.SetPixelFormat(PixelFormat::pf24bit);
  EXPECT_EQ(b.Pixel(4, 1), 0x112233u);
  EXPECT_TRUE(Bitmap(0, 5).Empty());
  EXPECT_TRUE(Bitmap(-3, 5).Empty());
}

TEST(DCTest, WidePensGrowInward) {
  Bitmap bmp = White(6, 6);
  DC dc(&bmp);
  dc.SelectPen(Pen{PenStyle::psSolid, clBlack, 2});
  dc.SelectBrush(kRed);
  dc.Rectangle(0, 0, 6, 6);
  EXPECT_EQ(Picture(bmp), Picture({
                              "######",
                              "######",
                              "##rr##",
                              "##rr##",
                              "######",
                              "######",
                          }));
}

}  // namespace
}  // namespace qv
