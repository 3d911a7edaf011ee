#include <gtest/gtest.h>

#include <string>

#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace qv {
namespace {

using test::Picture;

const Font kFixed{std::string(kBuiltinFontName), 0, 0};

Bitmap White(int w, int h) {
  Bitmap b(w, h);
  b.Fill(0xFFFFFF);
  return b;
}

// The bounding box of every pixel that is not white.
Rect InkBox(const Bitmap& bmp) {
  Rect box;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x)
      if (bmp.Pixel(x, y) != 0xFFFFFF) box = Union(box, Rect{x, y, x + 1, y + 1});
  return box;
}

struct Canvas {
  explicit Canvas(int w, int h, const Font& font = kFixed) : bmp(White(w, h)), dc(&bmp) {
    dc.SelectFont(font);
    dc.SetBkMode(TRANSPARENT);
  }
  Bitmap bmp;
  DC dc;
};

TEST(BuiltinFontTest, TextOutDrawsExactPixels) {
  Canvas c(18, 12);
  c.dc.TextOut(0, 0, "Hi!");
  EXPECT_EQ(Picture(c.bmp), Picture({
                                "..................",
                                "..................",
                                "#...#...#.....#...",
                                "#...#.........#...",
                                "#...#..##.....#...",
                                "#####...#.....#...",
                                "#...#...#.....#...",
                                "#...#...#.........",
                                "#...#..###....#...",
                                "..................",
                                "..................",
                                "..................",
                            }));
  EXPECT_EQ(c.dc.GetTextExtentPoint32("Hi!"), (Size{18, 12}));
  const TextMetric m = c.dc.GetTextMetrics();
  EXPECT_EQ(m.tmHeight, 12);
  EXPECT_EQ(m.tmAscent, 9);
  EXPECT_EQ(m.tmAveCharWidth, 6);
}

TEST(DrawTextTest, WordBreakDrawsEachLine) {
  Canvas c(30, 36);
  Rect r{0, 0, 17, 36};  // "I I" takes 18
  EXPECT_EQ(c.dc.DrawText("I I I", r, DT_WORDBREAK | DT_CENTER), 36);
  // Three lines of one "I", each centred at x = 5 (its ink: columns 1..3 of its cell).
  for (int line = 0; line < 3; ++line) {
    SCOPED_TRACE(line);
    Bitmap part(30, 12);
    DC pdc(&part);
    DC src(&c.bmp);
    pdc.BitBlt(0, 0, 30, 12, src, 0, line * 12);
    EXPECT_EQ(InkBox(part), (Rect{6, 2, 9, 9}));
  }
}

}  // namespace
}  // namespace qv
