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

int InkCount(const Bitmap& bmp) {
  int n = 0;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) n += bmp.Pixel(x, y) != 0xFFFFFF;
  return n;
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

TEST(BuiltinFontTest, OpaqueBackgroundUnderlineAndBold) {
  Canvas c(13, 12, Font{std::string(kBuiltinFontName), 0, fsUnderline});
  c.dc.SetBkMode(OPAQUE);
  c.dc.SetBkColor(clRed);
  c.dc.TextOut(0, 0, "_");
  const auto art = test::Art(c.bmp);
  EXPECT_EQ(art[0], "rrrrrr.......");  // the cell is filled
  EXPECT_EQ(art[8], "rrrrrr.......");
  EXPECT_EQ(art[9], "######.......");  // the glyph's own line, and the font's underline
  EXPECT_EQ(art[10], "rrrrrr.......");
  EXPECT_EQ(art[11], "rrrrrr.......");

  Canvas plain(6, 12), bold(6, 12, Font{std::string(kBuiltinFontName), 0, fsBold});
  plain.dc.TextOut(0, 0, "l");
  bold.dc.TextOut(0, 0, "l");
  EXPECT_GT(InkCount(bold.bmp), InkCount(plain.bmp));
  EXPECT_EQ(bold.dc.TextWidth("ll"), plain.dc.TextWidth("ll"));
}

TEST(DrawTextTest, AlignmentAndVerticalPlacement) {
  struct Case {
    unsigned flags;
    Rect ink;  // "Hi" inks 10 x 7 pixels, 2 rows below its cell's top
  };
  const Case cases[] = {
      {DT_LEFT, {0, 2, 10, 9}},
      {DT_CENTER, {14, 2, 24, 9}},
      {DT_RIGHT, {28, 2, 38, 9}},
      {DT_SINGLELINE | DT_VCENTER, {0, 6, 10, 13}},
      {DT_SINGLELINE | DT_BOTTOM | DT_RIGHT, {28, 10, 38, 17}},
      {DT_VCENTER, {0, 2, 10, 9}},  // vertical placement needs DT_SINGLELINE
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.flags);
    Canvas c(40, 20);
    Rect r{0, 0, 40, 20};
    EXPECT_EQ(c.dc.DrawText("Hi", r, k.flags), 12);
    EXPECT_EQ(InkBox(c.bmp), k.ink);
  }
}

TEST(DrawTextTest, CalcRectMeasuresLines) {
  struct Case {
    const char* text;
    unsigned flags;
    int width;  // of the rectangle given
    Size size;  // of the rectangle DT_CALCRECT gives back
  };
  const Case cases[] = {
      {"aa bb cc", DT_WORDBREAK, 30, {30, 24}},  // "aa bb" fits exactly
      {"aa bb cc", DT_WORDBREAK, 29, {12, 36}},  // one word a line
      {"abcdefgh", DT_WORDBREAK, 12, {48, 12}},  // a long word is not broken
      {"aa bb cc", 0, 12, {48, 12}},             // no breaking without DT_WORDBREAK
      {"a\nbb", 0, 100, {12, 24}},               // line feeds break lines
      {"a\r\nbb\n", 0, 100, {12, 36}},           // CR LF is one break; a last empty line
      {"a\nbb", DT_SINGLELINE, 100, {18, 12}},   // ... but not on a single line
      {"a\tb", DT_EXPANDTABS, 100, {54, 12}},    // tab stops every 8 average widths
      {"a\tb", 0, 100, {12, 12}},                // unexpanded tabs take no room
      {"&File", 0, 100, {24, 12}},               // the prefix takes no room
      {"&File", DT_NOPREFIX, 100, {30, 12}},
      {"a&&b", 0, 100, {18, 12}},  // "&&" shows one "&"
      {"", DT_WORDBREAK, 100, {0, 0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    Canvas c(1, 1);
    Rect r{5, 7, 5 + k.width, 7};
    const int height = c.dc.DrawText(k.text, r, k.flags | DT_CALCRECT);
    EXPECT_EQ(height, k.size.cy);
    EXPECT_EQ(r, (Rect{5, 7, 5 + k.size.cx, 7 + k.size.cy}));
    EXPECT_EQ(InkCount(c.bmp), 0);  // measuring draws nothing
  }
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

TEST(DrawTextTest, PrefixUnderlinesOneCharacterAndTextIsClipped) {
  Canvas c(30, 12);
  Rect r{0, 0, 30, 12};
  c.dc.DrawText("a&bc", r, DT_SINGLELINE);
  const auto art = test::Art(c.bmp);
  EXPECT_EQ(art[9].substr(0, 18), "......######......");  // under "b" only

  Canvas clipped(30, 12);
  Rect narrow{0, 0, 8, 12};
  clipped.dc.DrawText("Hi", narrow, DT_SINGLELINE);
  EXPECT_EQ(InkBox(clipped.bmp).Right, 8);
  Canvas unclipped(30, 12);
  unclipped.dc.DrawText("Hi", narrow, DT_SINGLELINE | DT_NOCLIP);
  EXPECT_EQ(InkBox(unclipped.bmp).Right, 10);
}

TEST(FreeTypeTest, WindowsNamesResolveToDejaVu) {
  struct Case {
    const char* name;
    TFontStyles style;
    const char* file;
  };
  const Case cases[] = {{"MS Sans Serif", 0, "DejaVuSans.ttf"},
                        {"Tahoma", fsBold, "DejaVuSans-Bold.ttf"},
                        {"arial", 0, "DejaVuSans.ttf"},
                        {"Courier New", 0, "DejaVuSansMono.ttf"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string file = MatchFontFile(k.name, k.style);
    ASSERT_GE(file.size(), std::string(k.file).size());
    EXPECT_EQ(file.substr(file.size() - std::string(k.file).size()), k.file);
  }
}

TEST(FreeTypeTest, ExtentsFollowTheGlyphs) {
  Canvas c(1, 1, Font{"MS Sans Serif", -11, 0});
  const TextMetric m = c.dc.GetTextMetrics();
  EXPECT_FALSE(FontFace::Get(Font{"MS Sans Serif", -11, 0})->File().empty());
  EXPECT_EQ(m.tmAscent + m.tmDescent, m.tmHeight);
  EXPECT_GE(m.tmHeight, 11);
  EXPECT_LE(m.tmHeight, 16);
  EXPECT_EQ(c.dc.TextHeight("x"), m.tmHeight);
  EXPECT_GT(c.dc.TextWidth("WWW"), c.dc.TextWidth("iii"));
  EXPECT_EQ(c.dc.TextWidth("ab"), c.dc.TextWidth("a") + c.dc.TextWidth("b"));
  EXPECT_EQ(c.dc.TextWidth(""), 0);

  Canvas big(1, 1, Font{"MS Sans Serif", -22, 0});
  const int small = c.dc.TextWidth("Quorvel"), large = big.dc.TextWidth("Quorvel");
  EXPECT_NEAR(large, 2 * small, small / 4);
  // A positive height is the cell height.
  Canvas cell(1, 1, Font{"Arial", 20, 0});
  EXPECT_NEAR(cell.dc.GetTextMetrics().tmHeight, 20, 1);
  // Points at 96 dots per inch.
  EXPECT_EQ(PointsToHeight(8), -11);
  EXPECT_EQ(PointsToHeight(9), -12);
}

TEST(FreeTypeTest, TextInksInsideItsExtent) {
  const Font font{"Tahoma", -13, 0};
  Canvas c(120, 30, font);
  const Size extent = c.dc.GetTextExtentPoint32("Hello, world");
  c.dc.TextOut(4, 6, "Hello, world");
  const Rect ink = InkBox(c.bmp);
  EXPECT_FALSE(ink.IsEmpty());
  EXPECT_GE(ink.Left, 4);
  EXPECT_GE(ink.Top, 6);
  EXPECT_LE(ink.Right, 4 + extent.cx + 1);
  EXPECT_LE(ink.Bottom, 6 + extent.cy);
  // Coverage: a real share of the box is inked, and anti-aliasing leaves grey edges.
  const int inked = InkCount(c.bmp);
  EXPECT_GT(inked, extent.cx * extent.cy / 10);
  EXPECT_LT(inked, extent.cx * extent.cy / 2);
  int grey = 0;
  for (int y = 0; y < c.bmp.Height(); ++y)
    for (int x = 0; x < c.bmp.Width(); ++x) {
      const COLORREF p = c.bmp.Pixel(x, y);
      grey += p != 0xFFFFFF && p != 0;
    }
  EXPECT_GT(grey, 0);

  Canvas bold(120, 30, Font{"Tahoma", -13, fsBold});
  bold.dc.TextOut(4, 6, "Hello, world");
  EXPECT_GT(InkCount(bold.bmp), inked);

  Canvas underlined(120, 30, Font{"Tahoma", -13, fsUnderline});
  underlined.dc.TextOut(4, 6, "Hello, world");
  const int row = 6 + underlined.dc.GetTextMetrics().tmAscent +
                  FontFace::Get(Font{"Tahoma", -13, fsUnderline})->UnderlinePosition();
  for (int x = 4; x < 4 + extent.cx; ++x) ASSERT_EQ(underlined.bmp.Pixel(x, row), 0u) << x;
}

TEST(FreeTypeTest, UnknownFontsStillDraw) {
  Canvas c(60, 20, Font{"No Such Font At All", -12, 0});
  c.dc.TextOut(0, 0, "abc");
  EXPECT_GT(InkCount(c.bmp), 10);
}

TEST(FreeTypeTest, BuiltinEverywhereReplacesEveryFont) {
  UseBuiltinFontEverywhere(true);
  const auto face = FontFace::Get(Font{"Tahoma", -13, 0});
  UseBuiltinFontEverywhere(false);
  EXPECT_TRUE(face->File().empty());
  EXPECT_EQ(face->Metrics().tmHeight, 12);
  EXPECT_FALSE(FontFace::Get(Font{"Tahoma", -13, 0})->File().empty());
}

TEST(TextDecodingTest, Utf8OrWindows1252) {
  EXPECT_EQ(DecodeText("a\xC3\xA9"), U"a\u00E9");      // UTF-8
  EXPECT_EQ(DecodeText("a\xE9"), U"a\u00E9");          // a Latin-1 byte
  EXPECT_EQ(DecodeText("\x80\x81"), U"\u20AC\u0081");  // Windows-1252, and a byte it lacks
  EXPECT_EQ(DecodeText("\xC0\xAF"), U"\u00C0\u00AF");  // an overlong form is not UTF-8
  EXPECT_EQ(DecodeText("\xF0\x9F\x8E\xB5"), U"\U0001F3B5");
  EXPECT_EQ(DecodeText("\xE2\x82"), U"\u00E2\u201A");  // cut short
}

}  // namespace
}  // namespace qv
