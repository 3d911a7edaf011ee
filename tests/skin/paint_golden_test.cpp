// Composite painting against golden images (see paint_test_util.h), and the routines that
// need a loaded skin: section backgrounds by their percentages, text and check controls.
#include <gtest/gtest.h>

#include "platform/classlib/extctrls.h"
#include "skin/sbordermasks.h"
#include "skin/scheckglyphs.h"
#include "skin/scontrolutils.h"
#include "skin/sgradient.h"
#include "skin/spaintutils.h"
#include "tests/skin/paint_test_util.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

// A 27 x 18 borders mask (3 x 3 cells): each frame a dark ring whose outer corner pixels
// are fuchsia, the hot frame blue, the pressed frame green; the mask half is black on the
// ring (the image shows) and white inside (the background shows).
Bitmap RingMask() {
  Bitmap m(27, 18);
  const COLORREF ring[3] = {RGB(40, 40, 60), RGB(30, 60, 200), RGB(30, 140, 60)};
  for (int f = 0; f < 3; ++f)
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 9; ++x) {
        const bool edge = x < 2 || y < 2 || x > 6 || y > 6;
        const bool corner = (x == 0 || x == 8) && (y == 0 || y == 8);
        const bool inner = x == 1 || y == 1 || x == 7 || y == 7;
        COLORREF c = corner ? 0xFF00FF : inner ? RGB(230, 230, 240) : ring[f];
        if (!edge) c = RGB(255, 255, 0);
        m.SetPixel(9 * f + x, y, c);
        m.SetPixel(9 * f + x, y + 9, edge ? 0x000000 : 0xFFFFFF);
      }
  return m;
}

// Glyphs as the built-in images are laid out: check boxes 16 x 16, radios 14 x 14, drawn on
// fuchsia (their bottom-left pixel is the transparent colour).
Bitmap CheckGlyph(bool radio, bool checked, bool hot) {
  const int size = radio ? 14 : 16;
  TBitmap b(size, size);
  b.Image().Fill(0xFF00FF);
  DC& dc = *b.Canvas().Handle();
  dc.SelectPen(Pen{PenStyle::psSolid, hot ? TColor(0xC06020) : clBlack, 1});
  dc.SelectBrush(Brush{BrushStyle::bsSolid, clWhite});
  if (radio)
    dc.Ellipse(1, 1, size - 1, size - 1);
  else
    dc.Rectangle(1, 1, size - 1, size - 1);
  if (checked) {
    if (radio) {
      dc.SelectBrush(Brush{BrushStyle::bsSolid, clBlack});
      dc.Ellipse(4, 4, size - 4, size - 4);
    } else {
      DrawTick(dc, Rect{2, 2, size - 2, size - 2}, true, clBlack);
    }
  }
  return b.Image();
}

class PaintSkinTest : public test::SkinTest {
 protected:
  void SetUp() override {
    SkinTest::SetUp();
    for (const bool radio : {false, true})
      for (const bool checked : {true, false})
        for (const bool hot : {false, true}) {
          std::string name = radio ? "R" : "C";
          name += checked ? "C" : "U";
          name += hot ? "H" : "C";
          RegisterBuiltinImage(name, CheckGlyph(radio, checked, hot));
        }
  }
  void TearDown() override {
    ClearBuiltinImages();
    SkinTest::TearDown();
  }
  void Image(const std::string& name, const Bitmap& b) {
    qv::testing::WriteFile(Folder("S") + "/" + name, Bytes(SaveBmp(b)));
  }
  // A vertical gradient from `top` to `bottom` in one band.
  static std::string Gradient(TColor top, TColor bottom) {
    return std::to_string(top) + ";" + std::to_string(bottom) + ";100;0;0";
  }
};

TEST_F(PaintSkinTest, SectionBackgroundsFollowTheirPercentages) {
  Image("grey.bmp", Filled(4, 4, RGB(200, 200, 200)));
  const std::string black = Gradient(0, 0);
  Options("S",
          "[Both60]\nPaintingColor=255\nGradientPercent=60\nImagePercent=60\n"
          "IMAGEFILE=grey.bmp\nGradientData=" +
              black +
              "\n[Clear]\nPaintingColor=65280\nPaintingTransparency=100\n"
              "[Forty]\nPaintingColor=0\nPaintingTransparency=40\n"
              "[Half]\nGradientPercent=50\nImagePercent=50\nIMAGEFILE=grey.bmp\nGradientData=" +
              black + "\n[Faded]\nPaintingColor=0\nGradientPercent=30\nGradientData=" +
              Gradient(0xFFFFFF, 0xFFFFFF) +
              "\n[Hot]\nHotPaintingColor=16711680\nHotImagePercent=100\n"
              "IMAGEFILE=grey.bmp\n");
  manager->SetSkinName("S");
  ASSERT_TRUE(SkinData.Active);
  TBitmap parent(8, 8);
  parent.Image().Fill(0xFFFFFF);
  const TsBGInfo ready{&parent, 0, 0, true};
  struct Case {
    const char* section;
    TsBGInfo bg;
    int state;
    COLORREF expected;
  };
  const Case cases[] = {
      {"Both60", DefaultPaintInfo, 0, RGB(255, 0, 0)},    // 120 % is the plain colour
      {"Clear", DefaultPaintInfo, 0, RGB(0, 255, 0)},     // no parent: painted opaque
      {"Clear", ready, 0, RGB(255, 255, 255)},            // the parent's pixels
      {"Forty", ready, 0, RGB(102, 102, 102)},            // 0 + 255 * 102 / 256
      {"Half", DefaultPaintInfo, 0, RGB(100, 100, 100)},  // 0 + 200 * 128 / 256
      {"Faded", DefaultPaintInfo, 0, RGB(76, 76, 76)},    // 255 * 0.3 = 76.5, to even
      {"Hot", DefaultPaintInfo, 1, RGB(0, 0, 255)},       // no HOTIMAGEFILE: the hot colour
  };
  for (const Case& c : cases) {
    Bitmap target = test::CanaryTarget(5, 3, 0x123456);
    PaintItemBG(GetSkinIndex(c.section), c.section, c.bg, target, {1, 1}, {1, 0, 4, 3}, c.state);
    EXPECT_EQ(target.Pixel(0, 0), 0x123456u) << c.section;
    EXPECT_EQ(target.Pixel(1, 0), c.expected) << c.section;
    EXPECT_EQ(target.Pixel(3, 2), c.expected) << c.section;
    EXPECT_TRUE(test::CanaryIntact(target));
  }
  // An invalid index paints nothing; a rectangle past the target paints its inside.
  Bitmap target = test::CanaryTarget(5, 3, 0x123456);
  PaintItemBG(99, "Both60", DefaultPaintInfo, target, {0, 0}, {0, 0, 5, 3}, 0);
  EXPECT_EQ(target.Pixel(2, 2), 0x123456u);
  PaintItemBG(GetSkinIndex("Forty"), "Forty", TsBGInfo{&parent, 6, 6, true}, target, {0, 0},
              {-2, -2, 9, 9}, 0);
  EXPECT_EQ(target.Pixel(0, 0), RGB(102, 102, 102));
  EXPECT_TRUE(test::CanaryIntact(target));
}

TEST_F(PaintSkinTest, SectionWithImageGradientAndBorderMatchesItsGolden) {
  Bitmap checker(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      checker.SetPixel(x, y, ((x / 4 + y / 4) % 2) != 0 ? RGB(250, 220, 160) : RGB(200, 120, 60));
  Image("checker.bmp", checker);
  Image("ring.bmp", RingMask());
  Options("S",
          "[Panel]\nPaintingColor=16777215\nImagePercent=40\nGradientPercent=60\n"
          "IMAGEFILE=checker.bmp\nBORDERSMASK=ring.bmp\nGradientData=" +
              std::to_string(RGB(40, 80, 200)) + ";" + std::to_string(RGB(230, 240, 255)) +
              ";50;0;0;" + std::to_string(RGB(230, 240, 255)) + ";" +
              std::to_string(RGB(20, 40, 120)) + ";50;0;0\n");
  manager->SetSkinName("S");
  TBitmap parent(80, 50);
  parent.Image().Fill(RGB(255, 140, 0));
  Bitmap sheet = test::CanaryTarget(70, 44, RGB(255, 140, 0));
  PaintItem(GetSkinIndex("Panel"), "Panel", TsBGInfo{&parent, 0, 0, true}, sheet, {0, 0},
            {3, 2, 67, 42}, 0, false);
  EXPECT_TRUE(test::CanaryIntact(sheet));
  test::ExpectGolden(sheet, "section_background");

  // The same through a device context; a rectangle that does not fit paints nothing.
  Bitmap screen(70, 44);
  screen.Fill(RGB(255, 140, 0));
  DC dc(&screen);
  PaintItemBGFast(GetSkinIndex("Panel"), "Panel", TsBGInfo{&parent, 3, 2, true}, dc, {0, 0},
                  {3, 2, 67, 42}, 0, false);
  EXPECT_TRUE(test::SamePixels(screen, sheet));
  Bitmap before = sheet;
  PaintItem(GetSkinIndex("Panel"), "Panel", DefaultPaintInfo, sheet, {0, 0}, {3, 2, 71, 42}, 0,
            true);
  EXPECT_TRUE(test::SamePixels(sheet, before));
}

TEST_F(PaintSkinTest, MaskedBorderCutsTheRegionAsItsGoldenShows) {
  const Bitmap mask = RingMask();
  Bitmap sheet = test::CanaryTarget(90, 26, RGB(200, 200, 200));
  for (int state = 0; state < 3; ++state) {
    Bitmap target(26, 20);
    target.Fill(RGB(250, 250, 200));
    Region region(target.BoundsRect());
    PaintMaskedBorder(target, &mask, region, state == 2, clFuchsia, state);
    // What the region lost shows red.
    for (const Rect& r : Region(target.BoundsRect()).Subtract(region).Rects())
      FillBitmapRect(target, r, clRed);
    CopyBitmapRect(sheet, {3 + 29 * state, 3}, target, target.BoundsRect());
  }
  EXPECT_TRUE(test::CanaryIntact(sheet));
  test::ExpectGolden(sheet, "masked_border");
}

TEST_F(PaintSkinTest, CheckBoxesAndRadiosMatchTheirGolden) {
  TBitmap parent(170, 90);
  PaintGrad(
      parent,
      [] {
        TsGradArray g;
        PrepareGradArray(std::to_string(RGB(240, 240, 255)) + ";" +
                             std::to_string(RGB(150, 170, 210)) + ";100;1;0",
                         g);
        return g;
      }(),
      parent.Image().BoundsRect());
  Bitmap sheet = test::CanaryTarget(162, 82, 0);
  CopyBitmapRect(sheet, {0, 0}, parent.Image(), parent.Image().BoundsRect());
  int row = 0;
  for (const bool enabled : {true, false})
    for (const bool checked : {true, false})
      for (const int kind : {kKindCheckBox, kKindRadioButton}) {
        TsCheckedControlState c;
        c.Width = 76;
        c.Height = 18;
        c.Position = {3 + (kind == kKindRadioButton ? 80 : 0), 2 + 20 * (row / 2)};
        c.KindCode = kind;
        c.Checked = checked;
        c.Enabled = enabled;
        c.Hot = enabled && !checked && kind == kKindRadioButton;
        c.Focused = enabled && checked && kind == kKindCheckBox;
        c.Caption =
            std::string(kind == kKindCheckBox ? "Check" : "Radio") + (enabled ? "" : " off");
        c.ParentBG = TsBGInfo{&parent, 0, 0, true};
        TBitmap cache;
        PaintCheckedControl(c, cache, nullptr);
        CopyBitmapRect(sheet, c.Position, cache.Image(), cache.Image().BoundsRect());
        ++row;
      }
  EXPECT_TRUE(test::CanaryIntact(sheet));
  test::ExpectGolden(sheet, "check_controls");

  // Without images or a skin glyph, the built-in sizes: 14 for radios, 16 for check boxes.
  TsCheckedControlState c;
  c.Width = 40;
  c.Height = 20;
  Rect r;
  GetCheckGlyphRect(c, r);
  EXPECT_EQ(r, (Rect{0, 2, 16, 18}));
  c.KindCode = kKindRadioButton;
  c.GlyphRight = true;
  GetCheckGlyphRect(c, r);
  EXPECT_EQ(r, (Rect{23, 3, 40, 17}));
}

TEST_F(PaintSkinTest, BevelsFramesTicksAndShadowsMatchTheirGolden) {
  TBitmap sheet(120, 60);
  sheet.Image().Fill(RGB(160, 170, 190));
  DC& dc = *sheet.Canvas().Handle();
  const TsControlBevel bevels[] = {cbRaisedSoft, cbLoweredSoft, cbRaisedHard, cbLoweredHard};
  for (int i = 0; i < 4; ++i) {
    PaintBevel(sheet.Image(), Bounds(2 + 29 * i, 2, 26, 16), 4, bevels[i], i != 0);
    PaintRectBevel(dc, clWhite, clNavy, i % 2 == 0, i, 3, Bounds(2 + 29 * i, 21, 26, 14), clGray);
  }
  Rect frame = Bounds(2, 38, 20, 20);
  PaintFrame3D(dc, frame, clWhite, 2, clBlack);
  DrawTick(dc, frame, true, clBlack);
  DrawTick(dc, Bounds(26, 38, 20, 20), false, clBlack);
  PaintDots(dc, Bounds(50, 40, 16, 16));
  DrawShadow(sheet.Image(), Bounds(70, 38, 22, 18), sheet.Image(), {72, 40}, 40, clBlack, 3, 0, 2);
  PaintControlFrame(sheet.Image(), Bounds(96, 38, 22, 20), 70, 6, 3, clRed);
  test::ExpectGolden(sheet.Image(), "bevels_and_shadows");
}

TEST_F(PaintSkinTest, TextIsCutAndContouredAsItsGoldenShows) {
  Options("S",
          "[Label]\nFONTCOLOR=128\nTCLEFT=16777215\nTCTOP=-1\nTCRIGHT=16777215\n"
          "TCBOTTOM=-1\nHOTFONTCOLOR=8388608\nHOTTCBOTTOM=65535\n[Plain]\nFONTCOLOR=0\n");
  manager->SetSkinName("S");
  TBitmap bmp(100, 50);
  bmp.Image().Fill(RGB(190, 200, 210));
  TCanvas& canvas = bmp.Canvas();
  struct Case {
    const char* text;
    int width;
    const char* expected;
  };
  for (const Case& c : {Case{"Hello world", 40, "Hel..."}, Case{"Hi", 12, "Hi"},
                        Case{"Hello", 10, "..."}, Case{"", 0, ""}})
    EXPECT_EQ(CutText(canvas, c.text, c.width), c.expected);

  Rect r{2, 2, 98, 16};
  WriteTextExt(canvas, CutText(canvas, "Quorvel ripper", 60), true, r, DT_CENTER,
               GetSkinIndex("Label"), false);
  EXPECT_EQ(r, (Rect{19, 2, 81, 16}));  // the text's 60 x 12 box, one pixel larger
  r = {2, 18, 98, 32};
  WriteTextExt(canvas, "Hot text", true, r, DT_RIGHT, GetSkinIndex("Label"), true);
  r = {2, 34, 98, 48};
  WriteTextEx(canvas, "Disabled", false, r, DT_LEFT);
  test::ExpectGolden(bmp.Image(), "text_cut");

  // No contour colours: the text is drawn once, like WriteTextEx in the font colour.
  TBitmap a(60, 14), b(60, 14);
  a.Image().Fill(0xFFFFFF);
  b.Image().Fill(0xFFFFFF);
  Rect ra{0, 0, 60, 14}, rb = ra;
  WriteTextExt(a.Canvas(), "Same", true, ra, DT_LEFT, GetSkinIndex("Plain"), false);
  EXPECT_FALSE(test::SamePixels(a.Image(), b.Image()));
  WriteTextEx(b.Canvas(), "Same", true, rb, DT_LEFT);
  EXPECT_TRUE(test::SamePixels(a.Image(), b.Image()));
}

TEST_F(PaintSkinTest, PicturesLoadByExtension) {
  Bitmap colour(2, 1);
  colour.SetPixel(0, 0, RGB(30, 60, 90));
  Image("a.bmp", colour);
  Jpeg("S", "b.JPEG", 8, 8);
  TPicture picture;
  LoadGraphicFromFile(picture, Folder("S") + "/a.bmp", true);
  EXPECT_EQ(picture.Bitmap().Image().Pixel(0, 0), RGB(60, 60, 60));
  LoadGraphicFromFile(picture, Folder("S") + "/b.JPEG", false);
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TJPEGImage");
  LoadGraphicFromFile(picture, Folder("S") + "/missing.bmp", false);
  EXPECT_EQ(picture.Graphic(), nullptr);
}

}  // namespace
}  // namespace qv
