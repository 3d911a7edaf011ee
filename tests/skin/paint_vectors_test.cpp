// The painting routines' arithmetic and geometry on tiny bitmaps, each target with a canary,
// and what happens when rectangles, offsets and masks do not fit.
#include <gtest/gtest.h>

#include "skin/sbordermasks.h"
#include "skin/sfadeeffects.h"
#include "skin/spaintutils.h"
#include "tests/skin/paint_test_util.h"

namespace qv {
namespace {

using test::Art;
using test::CanaryIntact;
using test::CanaryTarget;
using test::FromArt;
using test::ToArt;

// A three-state mask with 2 x 1 cells whose pixels are all distinct letters; the mask half
// is black, so the image shows unchanged.
Bitmap CellMask() {
  return FromArt({"AaBbCcJjKkLlSsTtUu", "DdEeFfMmNnOoVvWwXx", "GgHhIiPpQqRrYyZzUu",
                  "##################", "##################", "##################"});
}

TEST(PaintVectors, DrawSkinRectPlacesCornersEdgesAndCentre) {
  const Bitmap mask = CellMask();
  struct Case {
    Rect r;
    int state;
    bool centre;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      // Pieces w wide from Left + w, the last one cut at Right - w; edges likewise.
      {{1, 1, 10, 5},
       0,
       true,
       {"...........", ".AaBbBbBCc.", ".DdEeEeEFf.", ".DdEeEeEFf.", ".GgHhHhHIi.", "..........."}},
      {{1, 1, 10, 5},
       1,
       false,
       {"...........", ".JjKkKkKLl.", ".Mm.....Oo.", ".Mm.....Oo.", ".PpQqQqQRr.", "..........."}},
      // Narrower than two corners: the right one takes the odd pixel.
      {{1, 1, 4, 5},
       0,
       false,
       {"...........", ".ACc.......", ".DFf.......", ".DFf.......", ".GIi.......", "..........."}},
      // One pixel high: nothing.
      {{1, 1, 10, 2},
       0,
       true,
       {"...........", "...........", "...........", "...........", "...........", "..........."}},
      // Sticking out on every side: only the inside (here all centre) is painted.
      {{-3, -1, 14, 7},
       0,
       true,
       {"eEeEeEeEeEe", "eEeEeEeEeEe", "eEeEeEeEeEe", "eEeEeEeEeEe", "eEeEeEeEeEe", "eEeEeEeEeEe"}},
  };
  for (const Case& c : cases) {
    Bitmap target = CanaryTarget(11, 6, 0xFFFFFF);
    DrawSkinRect(target, mask, c.state, DefaultPaintInfo, c.centre, clFuchsia, c.r);
    EXPECT_EQ(ToArt(target), Art(c.expected)) << c.r.Left << "," << c.r.Right;
    EXPECT_TRUE(CanaryIntact(target));
  }
  // Cells of no size (a mask narrower than 9 pixels) paint nothing and do not hang.
  Bitmap target = CanaryTarget(11, 6, 0xFFFFFF);
  DrawSkinRect(target, FromArt({"AaBbCcJj", "########"}), 0, DefaultPaintInfo, true, clFuchsia,
               {0, 0, 11, 6});
  EXPECT_EQ(target.Pixel(0, 0), 0xFFFFFFu);
}

TEST(PaintVectors, CopyByMaskBlendsAndShowsTheParentThroughFuchsia) {
  // Image 200 over destination 100 with mask 128: (200 * 256 - 100 * 128) div 256 = 150.
  Bitmap mask(3, 2);
  mask.SetPixel(0, 0, RGB(200, 200, 200));
  mask.SetPixel(1, 0, 0xFF00FF);
  mask.SetPixel(2, 0, 0xFF00FF);
  for (int x = 0; x < 3; ++x) mask.SetPixel(x, 1, RGB(128, 0, 255));
  TBitmap parent(4, 1);
  parent.Image().Fill(RGB(7, 8, 9));
  struct Case {
    TsBGInfo bg;
    COLORREF p0, p1, p2;
  };
  const Case cases[] = {
      // (200*256 + (100-200)*m) div 256 per channel: m 128 -> 150, m 0 -> 200, m 255 -> 100.
      {DefaultPaintInfo, RGB(150, 200, 100), RGB(177, 0, 100), RGB(177, 0, 100)},
      // With a ready parent fuchsia takes the parent's pixel; past the parent's right edge
      // (offset 2: x = 4) the pixel is left alone.
      {TsBGInfo{&parent, 2, 0, true}, RGB(150, 200, 100), RGB(7, 8, 9), RGB(100, 100, 100)},
  };
  for (const Case& c : cases) {
    Bitmap target = CanaryTarget(3, 1, RGB(100, 100, 100));
    CopyByMask({0, 0, 3, 1}, {0, 0, 3, 1}, target, c.bg, mask);
    EXPECT_EQ(target.Pixel(0, 0), c.p0);
    EXPECT_EQ(target.Pixel(1, 0), c.p1);
    EXPECT_EQ(target.Pixel(2, 0), c.p2);
    EXPECT_TRUE(CanaryIntact(target));
  }
  // A source reaching into the mask half, or a destination off every edge, reads and writes
  // only what lies inside.
  Bitmap target = CanaryTarget(3, 1, RGB(100, 100, 100));
  CopyByMask({-1, -5, 9, 9}, {-1, -5, 9, 9}, target, DefaultPaintInfo, mask);
  EXPECT_EQ(target.Pixel(2, 0), RGB(177, 0, 100));
  target.Fill(RGB(100, 100, 100));
  CopyByMask({2, 0, 9, 9}, {0, 0, 9, 9}, target, DefaultPaintInfo, mask);
  EXPECT_EQ(target.Pixel(2, 0), RGB(150, 200, 100));
  EXPECT_TRUE(CanaryIntact(target));
}

TEST(PaintVectors, MaskToRegionAndPaintMaskedBorderCutFuchsiaRuns) {
  // Frame 0 of an 18 x 6 mask: the corners hold fuchsia, the top-right run ends at the
  // corner's last column.
  const Bitmap mask = FromArt({"**BbC*JjKkLlSsTtUu", "*aEeFfMmNnOoVvWwXx", "GgHhIiPpQqRrYyZzUu",
                               "##################", "##################", "##################"});
  std::vector<Rect> rects;
  MaskToRegion(rects, mask, 100);
  EXPECT_EQ(rects, (std::vector<Rect>{{0, 0, 2, 1}, {99, 0, 100, 1}, {0, 1, 1, 2}}));

  Bitmap target = CanaryTarget(9, 4, 0xFFFFFF);
  Region region(target.BoundsRect());
  PaintMaskedBorder(target, &mask, region, false, clFuchsia, 0);
  EXPECT_EQ(ToArt(target), Art({"..BbBbBC.", ".a.....Ff", ".a.....Ff", "GgHhHhHIi"}));
  EXPECT_EQ(region.Rects(), (std::vector<Rect>{{2, 0, 8, 1}, {1, 1, 9, 3}, {0, 3, 9, 4}}));
  EXPECT_TRUE(CanaryIntact(target));

  // Too small a target, or no mask: nothing painted, the region kept.
  Bitmap thin = CanaryTarget(2, 40, 0xFFFFFF);
  Region kept(thin.BoundsRect());
  PaintMaskedBorder(thin, &mask, kept, true, clFuchsia, 0);
  PaintMaskedBorder(thin, nullptr, kept, true, clFuchsia, 0);
  EXPECT_EQ(kept, Region(thin.BoundsRect()));
  EXPECT_EQ(thin.Pixel(0, 0), 0xFFFFFFu);
}

TEST(PaintVectors, GlyphFramesBlendAndClip) {
  // Three 3 x 1 frames (grey 10, 200, 250) over masks 0, 100, 200; the target is grey 50.
  // (200 * 256 + (50 - 200) * m) div 256 is 200, 141, 82 and 50 for m 0, 100, 200, 255.
  Bitmap glyph(9, 2);
  for (int x = 0; x < 9; ++x) {
    const auto v = std::uint8_t(x < 3 ? 10 : x < 6 ? 200 : 250), m = std::uint8_t(x % 3 * 100);
    glyph.SetPixel(x, 0, RGB(v, v, v));
    glyph.SetPixel(x, 1, RGB(m, m, m));
  }
  // At x = -1 only the frame's last two columns show, at columns 0 and 1.
  Bitmap target = CanaryTarget(5, 2, RGB(50, 50, 50));
  PaintBlendGlyph(target, &glyph, {-1, 0}, 1, clFuchsia, 1);
  EXPECT_EQ(target.Pixel(0, 0), RGB(141, 141, 141));
  EXPECT_EQ(target.Pixel(1, 0), RGB(82, 82, 82));
  EXPECT_EQ(target.Pixel(2, 0), RGB(50, 50, 50));
  // Other modes raise the mask by 100.
  PaintBlendGlyph(target, &glyph, {3, 1}, 0, clFuchsia, 1);
  EXPECT_EQ(target.Pixel(3, 1), RGB(141, 141, 141));
  EXPECT_EQ(target.Pixel(4, 1), RGB(82, 82, 82));
  EXPECT_TRUE(CanaryIntact(target));

  // PaintMaskedGlyph: s + m * d div 256 - m * s div 256; s 200, m 128, d 100 gives 150.
  Bitmap grey = FromArt({"ABC", "ABC"});
  grey.SetPixel(0, 0, RGB(200, 200, 200));
  grey.SetPixel(0, 1, RGB(128, 128, 128));
  Bitmap t2 = CanaryTarget(3, 3, RGB(100, 100, 100));
  PaintMaskedGlyph(t2, grey, {2, 2}, clFuchsia, 0);
  EXPECT_EQ(t2.Pixel(2, 2), RGB(150, 150, 150));
  EXPECT_TRUE(CanaryIntact(t2));
}

TEST(PaintVectors, BlendsFadesAndTints) {
  // BlendBitmaps at the fade's alphas: destination 255, source 0 gives Round(255 a / 256).
  for (const auto& [alpha, expected] :
       std::vector<std::pair<int, int>>{{204, 203}, {153, 152}, {102, 102}, {51, 51}, {0, 0}}) {
    Bitmap dst = CanaryTarget(3, 1, 0xFFFFFF), src = CanaryTarget(3, 1, 0);
    BlendBitmaps(dst, src, std::uint8_t(alpha));
    EXPECT_EQ(dst.Pixel(2, 0), RGB(expected, expected, expected)) << alpha;
    EXPECT_TRUE(CanaryIntact(dst));
  }
  Bitmap dst(3, 1), other(2, 1);
  dst.Fill(0xFFFFFF);
  BlendBitmaps(dst, other, 0);
  EXPECT_EQ(dst.Pixel(0, 0), 0xFFFFFFu);

  // BlendTransRectangle with grey 102 (transparency 40): 0 + (255 - 0) * 102 / 256 = 101.6.
  Bitmap parent = CanaryTarget(5, 2, 0xFFFFFF), layer(3, 3);
  BlendTransRectangle(parent, layer, RGB(102, 102, 102), {3, 1}, layer.BoundsRect());
  EXPECT_EQ(ToArt(parent).substr(0, 7), "\n.....\n");
  EXPECT_EQ(parent.Pixel(3, 1), RGB(102, 102, 102));
  EXPECT_EQ(parent.Pixel(4, 1), RGB(102, 102, 102));
  EXPECT_TRUE(CanaryIntact(parent));

  // FadeRect past the edges includes the last row and column; halves go to even.
  Bitmap fade = CanaryTarget(3, 2, RGB(200, 1, 3));
  FadeRect(fade, {1, 0, 10, 10}, 50, clBlack);
  EXPECT_EQ(fade.Pixel(0, 1), RGB(200, 1, 3));
  EXPECT_EQ(fade.Pixel(2, 1), RGB(100, 0, 2));
  FadeRect(fade, {0, 0, 0, 0}, 0, clWhite);
  EXPECT_EQ(fade.Pixel(0, 0), 0xFFFFFFu);
  EXPECT_TRUE(CanaryIntact(fade));

  // PaintControlFrame at 50 %, no radius or blur: the whole area, mask grey 127.
  Bitmap frame = CanaryTarget(5, 3, 0);
  PaintControlFrame(frame, {1, 1, 9, 9}, 50, 0, 0, clWhite);
  EXPECT_EQ(frame.Pixel(0, 0), 0u);
  EXPECT_EQ(frame.Pixel(1, 1), RGB(127, 127, 127));  // 255 * (255 - 127) div 256
  EXPECT_EQ(frame.Pixel(4, 2), RGB(127, 127, 127));
  EXPECT_TRUE(CanaryIntact(frame));

  // The disabled look: blended half with the parent (201 and 100 give 150.5 -> 150), or
  // tinted toward the colour; grey first; an empty set leaves the image.
  TBitmap bg(6, 6);
  bg.Image().Fill(RGB(201, 201, 201));
  Bitmap image = CanaryTarget(3, 2, RGB(100, 100, 100));
  PaintDisabledEffect(image, 0, clBlack, {4, 0}, TsBGInfo{&bg, 0, 0, true});
  EXPECT_EQ(image.Pixel(0, 0), RGB(100, 100, 100));
  PaintDisabledEffect(image, dkBlended, clBlack, {4, 0}, TsBGInfo{&bg, 0, 0, true});
  EXPECT_EQ(image.Pixel(1, 1), RGB(150, 150, 150));
  EXPECT_EQ(image.Pixel(2, 1), RGB(100, 100, 100));  // the parent ends at x = 6
  Bitmap colour = CanaryTarget(2, 2, RGB(30, 60, 90));
  PaintDisabledEffect(colour, dkBlended | dkGrayed, clWhite, {0, 0}, DefaultPaintInfo);
  EXPECT_EQ(colour.Pixel(1, 1), RGB(157, 157, 157));  // (255 * 255 + (60 - 255) * 127) div 256
  EXPECT_TRUE(CanaryIntact(image) && CanaryIntact(colour));

  EXPECT_EQ(MixColors(clWhite, clBlack, 0.5), RGB(128, 128, 128));
  EXPECT_EQ(MixColors(RGB(10, 20, 30), RGB(20, 40, 60), 0.25), RGB(12, 25, 38));
}

// A blended copy placed left of or above the destination lands nowhere; a source rectangle
// reaching outside its bitmap is cut without moving the destination.
TEST(PaintVectors, BlendedCopyStartingOutsideTheDestinationPaintsNothing) {
  const Bitmap src = FromArt({"ABC", "DEF"});
  const TColor none = TColor(0xFF000000u);
  for (const Point at : {Point{-1, 0}, Point{0, -1}, Point{-2, -2}}) {
    Bitmap dst = CanaryTarget(3, 2, 0xFFFFFF);
    BlendBitmapRect(dst, at.X, at.Y, none, 0.0, {0, 0, 2, 1}, src);
    EXPECT_EQ(ToArt(dst), Art({"...", "..."})) << at.X << "," << at.Y;
    EXPECT_TRUE(CanaryIntact(dst));
  }
  Bitmap dst = CanaryTarget(3, 2, 0xFFFFFF);
  BlendBitmapRect(dst, 1, 0, none, 0.0, {-5, -5, 1, 0}, src);
  EXPECT_EQ(ToArt(dst), Art({".AB", "..."}));
  EXPECT_TRUE(CanaryIntact(dst));
}

TEST(PaintVectors, ClippedCopiesNeverLeaveEitherBitmap) {
  Bitmap src = FromArt({"ABC", "DEF"});
  Bitmap dst = CanaryTarget(3, 2, 0xFFFFFF);
  SumBitmapsRect(dst, src, -1, TColor(test::LetterColor('E')), 1);
  BlendColorByMaskAt(dst, Bitmap(7, 7), -2, clBlack, 1);
  BlendBitmapRect(dst, 2, -1, TColor(0xFF000000u), 0.0, {-5, -5, 50, 50}, src);
  TileGraphic(dst, {-4, -4, 40, 1}, src);
  PaintBevel(dst, {-3, -3, 9, 9}, 3, cbRaisedHard, true);
  EXPECT_TRUE(CanaryIntact(dst));
  Bitmap one = CanaryTarget(3, 2, 0xFFFFFF);
  SumBitmapsRect(one, src, -1, TColor(test::LetterColor('E')), 1);
  EXPECT_EQ(ToArt(one), Art({"...", "BC."}));
  TileGraphic(one, {1, -1, 3, 2}, src);
  EXPECT_EQ(ToArt(one), Art({".DE", "BAB"}));
}

}  // namespace
}  // namespace qv
