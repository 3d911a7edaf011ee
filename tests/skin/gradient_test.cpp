// Gradients and the engine's small utilities, pixel by pixel on tiny bitmaps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skin/sgradient.h"
#include "skin/sutils.h"

namespace qv {
namespace {

constexpr COLORREF kUntouched = 0x123456;

Bitmap Canvas(int w, int h) {
  Bitmap b(w, h);
  b.Fill(kUntouched);
  return b;
}

// The colour at (x, y) as 0x00BBGGRR.
COLORREF At(const Bitmap& b, int x, int y) {
  const std::uint8_t* p = b.ScanLine(y) + 3 * x;
  return COLORREF(p[2]) | COLORREF(p[1]) << 8 | COLORREF(p[0]) << 16;
}

std::vector<int> RedDown(const Bitmap& b, int x) {
  std::vector<int> v;
  for (int y = 0; y < b.Height(); ++y) v.push_back(int(At(b, x, y) & 0xFF));
  return v;
}

TsGradientPoint Point(TColor c1, TColor c2, int percent, int mode = 0) {
  return {c1, c2, std::uint8_t(percent), mode, 0};
}

TEST(GradientTest, ParsingKeepsWholePointsAndRefusesMalformedText) {
  TsGradArray g;
  PrepareGradArray("16777215;0;99;0;0;0;0;0;0;0", g);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_EQ(g[0].Color1, 16777215);
  EXPECT_EQ(g[0].Color2, 0);
  EXPECT_EQ(g[0].Percent, 99);
  EXPECT_EQ(g[0].Mode, 0);
  const struct {
    const char* text;
    std::size_t points;
  } cases[] = {
      {"1;2;3;1;0;5;6", 1},          // seven numbers: the incomplete second point is dropped
      {"", 0},                       // absent
      {" ", 0},                      // the "no gradient" text of a skin
      {"1;2;3;4", 0},                // not one whole point
      {"1;2;x;0;0", 0},              // a word that is not a number: the gradient is absent
      {"1;2;3;0;0;9;9;256;0;0", 2},  // a Percent beyond its byte keeps its low byte
      {"1;2;3;0;junk", 1},           // the fifth word is never read
      {"$FF;0;50;1;0", 1},           // the class library's integers
  };
  for (const auto& c : cases) {
    PrepareGradArray(c.text, g);
    EXPECT_EQ(g.size(), c.points) << c.text;
  }
  PrepareGradArray("1;2;300;0;0;1;2;-1;0;0;1;2;256;0;0", g);
  ASSERT_EQ(g.size(), 3u);
  EXPECT_EQ(g[0].Percent, 44);  // 300 = 256 + 44
  EXPECT_EQ(g[1].Percent, 255);
  EXPECT_EQ(g[2].Percent, 0);
}

TEST(GradientTest, RampsRoundHalvesToEven) {
  // One point, black to red, over 3 and 5 rows: n = 2 and n = 4 steps.
  for (const auto& [rows, expected] : std::vector<std::pair<int, std::vector<int>>>{
           {3, {0, 128, 255}}, {5, {0, 64, 128, 191, 255}}}) {
    Bitmap b = Canvas(2, rows);
    PaintGrad(b, {Point(0x000000, 0x0000FF, 100)}, {0, 0, 2, rows});
    EXPECT_EQ(RedDown(b, 0), expected);
    EXPECT_EQ(RedDown(b, 1), expected);
    EXPECT_EQ(At(b, 1, rows - 1), 0x0000FFu);  // green and blue stay 0
  }
  // 2.5 goes down to 2 and 3.5 up to 4.
  for (const auto& [to, middle] : {std::pair{5, 2}, std::pair{7, 4}}) {
    Bitmap b = Canvas(1, 3);
    PaintGrad(b, {Point(0, to, 100)}, {0, 0, 1, 3});
    EXPECT_EQ(RedDown(b, 0), (std::vector<int>{0, middle, to}));
  }
}

TEST(GradientTest, BandsStartOnThePreviousBandsLastRow) {
  const TsGradientPoint first = Point(0x000000, 0x0000FF, 50);
  const TsGradientPoint second = Point(0x00FF00, 0xFF0000, 50);
  Bitmap v = Canvas(2, 100);
  PaintGrad(v, {first, second}, {0, 0, 2, 100});
  EXPECT_EQ(At(v, 0, 0), 0x000000u);
  EXPECT_EQ(At(v, 1, 49), 0x0000FAu);  // 49 * 255 / 50 = 249.9
  EXPECT_EQ(At(v, 0, 50), 0x00FF00u);  // overpainted by the second band's first colour
  EXPECT_EQ(At(v, 0, 99), 0xFF0000u);

  // A third point of 50 % finds the second band cut at the last row and paints nothing,
  // whichever the direction.
  const TsGradientPoint third = Point(0x0000AA, 0x0000AA, 50);
  Bitmap v3 = Canvas(2, 100);
  PaintGrad(v3, {first, second, third}, {0, 0, 2, 100});
  Bitmap h3 = Canvas(100, 2);
  TsGradArray horizontal = {first, second, third};
  horizontal[0].Mode = 1;
  PaintGrad(h3, horizontal, {0, 0, 100, 2});
  for (int i = 0; i < 100; ++i) {
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(At(h3, i, k), At(v3, k, i)) << i;
      EXPECT_NE(At(v3, k, i), 0x0000AAu) << i;
    }
  }
  EXPECT_EQ(At(v3, 0, 99), 0xFF0000u);
}

TEST(GradientTest, NothingIsPaintedWhereThereIsNoBand) {
  const struct {
    const char* what;
    TsGradArray gradient;
    int w, h;
    Rect r;
  } cases[] = {
      {"mode 2", {Point(0, 0xFFFFFF, 100, 2)}, 4, 4, {0, 0, 4, 4}},
      {"no points", {}, 4, 4, {0, 0, 4, 4}},
      {"one-row bitmap", {Point(0, 0xFFFFFF, 100, 0)}, 4, 1, {0, 0, 4, 1}},
      {"one-row rectangle", {Point(0, 0xFFFFFF, 100, 0)}, 4, 4, {0, 2, 4, 3}},
      {"one-column bitmap", {Point(0, 0xFFFFFF, 100, 1)}, 1, 4, {0, 0, 1, 4}},
      {"empty rectangle", {Point(0, 0xFFFFFF, 100, 0)}, 4, 4, {2, 0, 2, 4}},
      {"outside the bitmap", {Point(0, 0xFFFFFF, 100, 0)}, 4, 4, {5, 5, 9, 9}},
  };
  for (const auto& c : cases) {
    Bitmap b = Canvas(c.w, c.h);
    PaintGrad(b, c.gradient, c.r);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) EXPECT_EQ(At(b, x, y), kUntouched) << c.what;
  }
}

TEST(GradientTest, PaintsOnlyInsideTheRectangle) {
  for (int mode : {0, 1}) {
    Bitmap b = Canvas(10, 8);
    const Rect r{2, 1, 7, 6};
    PaintGrad(b, {Point(0x000000, 0x0000FF, 40, mode), Point(0x00FF00, 0xFF0000, 60)}, r);
    // Horizontal bands may run on to the bitmap's last column, never out of R's rows.
    const Rect painted = mode == 0 ? r : Rect{2, 1, 10, 6};
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x)
        if (!painted.Contains({x, y})) {
          EXPECT_EQ(At(b, x, y), kUntouched) << mode << " " << x << "," << y;
        }
    EXPECT_EQ(At(b, 2, 1), 0x000000u) << mode;
    if (mode == 0) {
      // The last band ends on the rectangle's last row.
      EXPECT_EQ(At(b, 6, 5), 0xFF0000u);
      continue;
    }
    // The last band, from column 4 (2 + 5 * 40 div 100), ends on the bitmap's last column,
    // past R's end: columns 4 to 9 ramp over 5 steps.
    for (int y = 1; y < 6; ++y) {
      EXPECT_EQ(At(b, 4, y), 0x00FF00u) << y;
      EXPECT_EQ(At(b, 6, y), 0x669900u) << y;  // 255 * 3 / 5 = 153 green, 102 blue
      EXPECT_EQ(At(b, 9, y), 0xFF0000u) << y;
    }
  }
  // A band before the last is cut at the bitmap's last row, not at R's: over R's nine rows
  // a first point of 100 % ramps over rows 0 to 9, and the last point finds no row left.
  Bitmap tall = Canvas(1, 10);
  PaintGrad(tall, {Point(0x000000, 0x0000FF, 100), Point(0x00FF00, 0x00FF00, 0)}, {0, 0, 1, 9});
  EXPECT_EQ(RedDown(tall, 0), (std::vector<int>{0, 28, 57, 85, 113, 142, 170, 198, 227, 255}));
  EXPECT_EQ(At(tall, 0, 9), 0x0000FFu);
  // A rectangle reaching past the bitmap is cut to it.
  Bitmap b = Canvas(3, 3);
  PaintGrad(b, {Point(0x000000, 0x0000FF, 100)}, {-5, -5, 9, 9});
  EXPECT_EQ(RedDown(b, 2), (std::vector<int>{0, 128, 255}));
}

TEST(UtilsTest, SmallHelpers) {
  EXPECT_EQ(MixPercent(0, 60), 60);
  EXPECT_EQ(MixPercent(50, 60), 80);
  EXPECT_EQ(MixPercent(50, 1), 50);  // 50.5 to even
  EXPECT_EQ(MixPercent(50, 3), 52);  // 51.5 to even

  const struct {
    const char *in, *out;
  } dirs[] = {{"", ""},          {"C", "C:/"}, {"a/b/", "a/b/"}, {"a\\b\\", "a\\b/"},
              {"/tmp", "/tmp/"}, {".", "./"}};
  for (const auto& d : dirs) EXPECT_EQ(NormalDir(d.in), d.out) << d.in;

  EXPECT_EQ(ExtractWord(3, "one two", " "), "");
  EXPECT_EQ(ExtractWord(2, ";;one;;two;", ";"), "two");
  EXPECT_EQ(WordPosition(2, "  ab  cd", " "), 7);
  EXPECT_EQ(WordPosition(3, "  ab  cd", " "), 0);
  EXPECT_EQ(WordCount(";;a;b;", ";"), 2);
  EXPECT_TRUE(IsWordPresent("b", "a b c", " "));
  EXPECT_FALSE(IsWordPresent("b", "a bb c", " "));
  EXPECT_EQ(DelChars("a-b--c", '-'), "abc");
}

}  // namespace
}  // namespace qv
