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

}  // namespace
}  // namespace qv
