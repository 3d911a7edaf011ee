// The rules style objects share: the editor family of property messages, the group filter,
// the edit's parent colour, shadow and region, the panel's bevel, the masked borders' shape,
// the pressed button's bevel beside a glyph, the form style's layers, and the manager's
// menus leaving their form. Expected values are worked out from the colours put in.
#include <gtest/gtest.h>

#include <climits>

#include "platform/classlib/imglist.h"
#include "platform/classlib/menus.h"
#include "skin/sbuttons.h"
#include "skin/sedit.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
#include "skin/sskinmenus.h"
#include "tests/skin/provider_fixture.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

constexpr COLORREF kFace = RGB(100, 140, 180);
constexpr COLORREF kWhite = RGB(255, 255, 255);

int Count(const Bitmap& b, COLORREF c) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += b.Pixel(x, y) == c ? 1 : 0;
  return n;
}

class StyleRulesTest : public test::SkinTest {
 protected:
  TsEdit* AddEdit(Rect r) {
    auto* e = Add<TsEdit>(form, r);
    e->SetTabStop(true);
    return e;
  }
  static LRESULT Send(TsGenStyle& style, UINT msg, WPARAM w, LPARAM l) {
    TMessage m{msg, w, l, 0};
    style.WndProc(m);
    return m.Result;
  }
};

TEST_F(StyleRulesTest, EditorStylesTakeTheirFamilyWithinTheirGroup) {
  TsEdit* e = AddEdit({10, 10, 110, 31});
  TsStyle& s = *e->sStyle();
  EXPECT_TRUE(IsStyledControl(e));  // answered with the class code 15

  Send(s, SKM_EDIT_SOFTCONTROL, 0, 0);
  EXPECT_FALSE(s.SoftControl());
  Send(s, SKM_EDIT_SHADOWCOLOR, 0, 0x123456);
  Send(s, SKM_EDIT_SHADOWOFFSET, 0, 7);
  Send(s, SKM_EDIT_SHADOWBLUR, 0, 9);
  Send(s, SKM_EDIT_SHADOWTRANSPARENCY, 0, 30);
  EXPECT_EQ(s.Effects.Shadow.Color(), TColor(0x123456));
  EXPECT_EQ(s.Effects.Shadow.Offset(), 7);
  EXPECT_EQ(s.Effects.Shadow.Blur(), 9);
  EXPECT_EQ(s.Effects.Shadow.Transparency(), 30);
  // The paint family is not the editor's.
  Send(s, SKM_PAINT_SHADOWCOLOR, 0, 0x654321);
  Send(s, SKM_PAINT_SOFTCONTROL, 0, 1);
  EXPECT_EQ(s.Effects.Shadow.Color(), TColor(0x123456));
  EXPECT_FALSE(s.SoftControl());

  // Group 1: messages sent with 0 pass by, those sent with 1 act.
  s.GroupIndex = 1;
  s.SkinIndex = 5;
  Send(s, SKM_NEWSKIN, 0, 0);
  EXPECT_EQ(s.SkinIndex, 5);
  Send(s, SKM_EDIT_SOFTCONTROL, 0, 1);
  EXPECT_FALSE(s.SoftControl());
  ParentBGInfo = {};
  EXPECT_EQ(Send(s, SKM_GETBGINFO, 0, 0), 0);
  EXPECT_FALSE(ParentBGInfo.Ready);
  Send(s, SKM_EDIT_SOFTCONTROL, 1, 1);
  EXPECT_TRUE(s.SoftControl());
  Send(s, SKM_NEWSKIN, 1, 0);
  EXPECT_EQ(s.SkinIndex, -1);  // no skin: looked up again, found nothing
  EXPECT_EQ(Send(s, SKM_GETBGINFO, 1, 0), 1);
  EXPECT_TRUE(ParentBGInfo.Ready);
  // SKM_GETSTYLE is answered whatever the group.
  TMessage ask{SKM_GETSTYLE, 0, 0, 0};
  s.WndProc(ask);
  EXPECT_EQ(ask.WParam, 15u);

  // A paint style's published group is SKM_PAINT_COLOR's only; the inherited one stays 0.
  auto* panel = Add<TsPanel>(form, {0, 40, 50, 70});
  TsPassiveBGStyle& p = *panel->sStyle();
  p.GroupIndex = 1;
  p.SkinIndex = 5;
  Send(p, SKM_NEWSKIN, 1, 0);
  EXPECT_EQ(p.SkinIndex, 5);
  Send(p, SKM_NEWSKIN, 0, 0);
  EXPECT_EQ(p.SkinIndex, -1);
  const TColor color = p.Painting.Color();
  p.BGChanged = false;
  Send(p, SKM_PAINT_COLOR, 2, 0x0000FF);  // neither group: nothing changes
  EXPECT_EQ(p.Painting.Color(), color);
  EXPECT_FALSE(p.BGChanged);
  // The inherited group keeps the colour but marks the background, unless a skin change
  // is under way.
  SkinChanging = true;
  Send(p, SKM_PAINT_COLOR, 0, 0x0000FF);
  EXPECT_FALSE(p.BGChanged);
  SkinChanging = false;
  Send(p, SKM_PAINT_COLOR, 0, 0x0000FF);
  EXPECT_EQ(p.Painting.Color(), color);
  EXPECT_TRUE(p.BGChanged);
  p.BGChanged = false;
  Send(p, SKM_PAINT_COLOR, 1, 0x0000FF);
  EXPECT_EQ(p.Painting.Color(), TColor(0x0000FF));
  EXPECT_TRUE(p.BGChanged);
  p.BGChanged = false;
  Send(p, SKM_PAINT_COLOR, 1, 0x0000FF);  // the same colour again repaints nothing
  EXPECT_FALSE(p.BGChanged);
}

// A transparent background is asked to repaint through the inherited group (the provider sends
// group 0) or the form style's, never through the published group of SKM_PAINT_COLOR.
TEST_F(StyleRulesTest, TransparentBackgroundsFollowTheInheritedGroup) {
  Options("Fixture", "[TsPanel]\nPaintingTransparency=30\n");
  manager->SetSkinName("Fixture");
  auto* panel = Add<TsPanel>(form, {0, 40, 50, 70});
  TsPassiveBGStyle& p = *panel->sStyle();
  ASSERT_GE(p.SkinIndex, 0);
  p.GroupIndex = 3;
  for (const WPARAM group : {WPARAM(0), WPARAM(kFormStyleGroup)}) {
    p.BGChanged = false;
    Send(p, SKM_UPDATETRANSPARENT, group, 0);
    EXPECT_TRUE(p.BGChanged) << "group " << group;
  }
  p.BGChanged = false;
  Send(p, SKM_UPDATETRANSPARENT, 3, 0);
  EXPECT_FALSE(p.BGChanged);
}

TEST_F(StyleRulesTest, EditFollowsItsParentsColourAndCheckKindsAlways) {
  form->SetColor(TColor(0x445566));
  TsEdit* e = AddEdit({10, 10, 110, 31});
  ShowForm(form);
  TsStyle& s = *e->sStyle();
  EXPECT_FALSE(s.Painting.ParentColor());
  s.Painting.SetParentColor(true);  // ends, with the parent's colour
  EXPECT_TRUE(s.Painting.ParentColor());
  EXPECT_EQ(s.Painting.Color(), TColor(0x445566));
  form->SetColor(TColor(0x112233));
  Pump();
  EXPECT_TRUE(s.Painting.ParentColor());
  EXPECT_EQ(s.Painting.Color(), TColor(0x112233));
  // A colour of its own gives the parent's up.
  s.Painting.SetColor(3, TColor(0x0000FF));
  EXPECT_FALSE(s.Painting.ParentColor());
  EXPECT_EQ(s.Painting.Color(), TColor(0x0000FF));

  // A paint style's painting takes the parent's colour the same way, and ends.
  auto* panel = Add<TsPanel>(form, {0, 70, 20, 90});
  panel->sStyle()->Painting.SetColor(TColor(0x0000FF));
  panel->sStyle()->Painting.SetParentColor(true);
  EXPECT_TRUE(panel->sStyle()->Painting.ParentColor());
  EXPECT_EQ(panel->sStyle()->Painting.Color(), TColor(0x112233));

  // Check-box kinds keep ParentColor on and show the control's colour.
  auto* box = Add<TsPanel>(form, {0, 40, 20, 60});
  box->SetColor(TColor(0x0A0B0C));
  TsEditorStyle check(box);
  check.KindCode = 32;
  check.Painting.SetParentColor(false);
  EXPECT_TRUE(check.Painting.ParentColor());
  check.Painting.SetColor(3, TColor(0x00FF00));
  EXPECT_TRUE(check.Painting.ParentColor());
  EXPECT_EQ(check.Painting.Color(), box->Color());
}

TEST_F(StyleRulesTest, EditCastsItsShadowAndCutsItsCorners) {
  TsEdit* e = AddEdit({10, 10, 110, 31});
  TsStyle& s = *e->sStyle();
  TsShadow& shadow = s.Effects.Shadow;
  shadow.SetOffset(4);
  shadow.SetBlur(0);
  shadow.SetTransparency(0);
  shadow.SetColor(0);
  const auto cast = [&](Point at) {
    Bitmap b(140, 60);
    b.Fill(kWhite);
    s.PaintShadow(b, at);
    return b;
  };
  // The bounds moved by 4 (and by the offset given), in the shadow's colour.
  Bitmap plain = cast({0, 0});
  EXPECT_EQ(plain.Pixel(60, 25), 0u);
  EXPECT_EQ(plain.Pixel(113, 25), 0u);
  EXPECT_EQ(plain.Pixel(115, 25), kWhite);
  EXPECT_EQ(plain.Pixel(60, 12), kWhite);
  EXPECT_EQ(cast({10, 10}).Pixel(120, 40), 0u);
  // Offsets as large as an int may be place it off the picture.
  shadow.SetOffset(INT_MAX);
  EXPECT_EQ(Count(cast({INT_MAX, 1}), kWhite), 140 * 60);
  shadow.SetOffset(INT_MIN);
  EXPECT_EQ(Count(cast({-5, 0}), kWhite), 140 * 60);

  // With a section, only where it enables the shadow.
  Options("S",
          "[TsEdit]\nShadowEnabled=FALSE\nShadowOffset=2\nShadowBlur=0\n"
          "ShadowTransparency=0\n");
  manager->SetSkinName("S");
  ASSERT_GE(s.SkinIndex, 0);
  EXPECT_EQ(Count(cast({0, 0}), kWhite), 140 * 60);
  Options("S",
          "[TsEdit]\nShadowEnabled=TRUE\nShadowOffset=2\nShadowBlur=0\n"
          "ShadowTransparency=0\nShadowColor=255\n");
  manager->SetSkinName("S");
  EXPECT_EQ(cast({0, 0}).Pixel(111, 25), RGB(255, 0, 0));

  // The window region: the rectangle less its four corner pixels, made whatever the flag.
  s.RegionChanged = false;
  s.UpdateRegion();
  ASSERT_TRUE(s.WindowRegion.has_value());
  for (const Point p : {Point{0, 0}, Point{99, 0}, Point{0, 20}, Point{99, 20}})
    EXPECT_FALSE(s.WindowRegion->Contains(p)) << p.X << "," << p.Y;
  for (const Point p : {Point{1, 0}, Point{0, 1}, Point{98, 20}, Point{99, 19}, Point{50, 10}})
    EXPECT_TRUE(s.WindowRegion->Contains(p)) << p.X << "," << p.Y;
}

TEST_F(StyleRulesTest, EditBevelOnlyWhileItsOwnBevelIsOn) {
  Options("S",
          "[TsEdit]\nPaintingColor=15790320\nPaintingColorBorderTop=255\n"
          "PaintingColorBorderBottom=65280\nPaintingBevel=2\nPaintingBevelWidth=2\n");
  manager->SetSkinName("S");
  TsEdit* e = AddEdit({10, 10, 110, 31});
  ShowForm(form);
  const auto bevelPixels = [&] {
    e->Invalidate();
    Pump();
    const Bitmap* screen = headless->Presented(form->Handle());
    if (screen == nullptr) return -1;
    Bitmap shot(e->Width(), e->Height());
    CopyBitmapRect(shot, {0, 0}, *screen, e->BoundsRect());
    // The 3-pixel border: what is not the edit's colour (the inside's) is bevel.
    const COLORREF inside = shot.Pixel(50, 10);
    int n = 0;
    for (int y = 0; y < shot.Height(); ++y)
      for (int x = 0; x < shot.Width(); ++x)
        if (x < 3 || y < 3 || x >= shot.Width() - 3 || y >= shot.Height() - 3)
          n += shot.Pixel(x, y) != inside ? 1 : 0;
    return n;
  };
  EXPECT_GT(bevelPixels(), 0);
  e->sStyle()->Painting.SetBevel(ebNone);  // the section's bevel is not drawn either
  EXPECT_EQ(bevelPixels(), 0);
}

TEST_F(StyleRulesTest, PanelOuterBevelFollowsThePaintingBevel) {
  auto* panel = Add<TsPanel>(form, {0, 0, 50, 30});
  for (const TsControlBevel b : {cbLoweredHard, cbNone, cbRaisedSoft}) {
    panel->sStyle()->Painting.SetBevel(b);
    EXPECT_EQ(panel->BevelOuter(), b);
  }
  panel->SetBevelOuter(cbLoweredSoft);
  EXPECT_EQ(panel->sStyle()->Painting.Bevel(), cbLoweredSoft);
}

TEST_F(StyleRulesTest, MaskedBorderChangesReshapeTheButton) {
  // Two predefined masks of 3 x 3 cells: one without transparent pixels, one with each
  // cell's top-left pixel transparent.
  Bitmap solid(27, 18), holed(27, 18);
  solid.Fill(RGB(90, 90, 90));
  holed.Fill(RGB(90, 90, 90));
  for (int y = 0; y < 18; y += 3)
    for (int x = 0; x < 27; x += 3) holed.SetPixel(x, y, 0xFF00FF);
  RegisterBuiltinImage("BORD1", solid);
  RegisterBuiltinImage("BORD3", holed);
  auto* b = Add<TsButton>(form, {0, 0, 75, 25});
  TsActiveBGStyle& s = *b->sStyle();
  s.SetSkinSection("NOSUCHSECTION");
  ShowForm(form);
  const auto shape = [&] {
    s.BGChanged = true;
    b->Repaint();
    Pump();
    EXPECT_TRUE(s.WindowRegion.has_value());
    return s.WindowRegion.value_or(Region());
  };
  const Region first = shape();
  EXPECT_FALSE(s.RegionChanged);
  // Each setter leaves the region to be made again, from the new mask.
  s.BtnEffects.MaskedBorders.SetPredefined(pdBorder3);
  EXPECT_TRUE(s.RegionChanged);
  const Region third = shape();
  EXPECT_FALSE(third == first);
  Region expected(Rect{0, 0, 75, 25});
  Bitmap scratch(75, 25);
  PaintMaskedBorder(scratch, GetBorderMaskBmp(pdBorder3, nullptr), expected, true,
                    s.BtnEffects.MaskedBorders.TransparentColor(), 0);
  EXPECT_TRUE(third == expected);
  TBitmap custom;
  custom.Image() = solid;
  s.BtnEffects.MaskedBorders.SetMask(custom);
  EXPECT_EQ(s.BtnEffects.MaskedBorders.Predefined(), pdCustom);
  EXPECT_TRUE(s.RegionChanged);
  EXPECT_TRUE(shape() == first);
  s.BtnEffects.MaskedBorders.SetTransparentColor(clBlack);
  EXPECT_TRUE(s.RegionChanged);
  s.BtnEffects.MaskedBorders.SetEnabled(false);
  EXPECT_TRUE(s.RegionChanged);
  ClearBuiltinImages();
}

TEST_F(StyleRulesTest, PressedHotButtonDrawsItsInnerBevelOnlyWithoutAGlyph) {
  auto* images = Create<TImageList>(form);
  Bitmap glyph(16, 16);
  glyph.Fill(RGB(200, 40, 0));
  images->Add(glyph);
  const auto innerLeft = [&](bool withGlyph) {
    auto* b = Add<TsButton>(form, {0, 0, 75, 25});
    TsActiveBGStyle& s = *b->sStyle();
    s.SetSkinSection("NOSUCHSECTION");
    s.BtnEffects.MaskedBorders.SetEnabled(false);
    s.Background.Gradient().SetPercent(0);
    s.HotStyle.HotBackground.Gradient().SetPercent(0);
    s.HotStyle.HotPainting.Color = TColor(kFace);
    s.HotStyle.HotPainting.BevelWidth = 5;  // bevels of 5 div 4 + 1 = 2
    s.BtnEffects.Fading.Enabled = false;
    b->ShowCaption = false;
    if (withGlyph) {
      b->SetImages(images);
      b->SetImageIndex(0);
    }
    ShowForm(form);
    Press(b, {37, 12});
    Pump();
    EXPECT_TRUE(b->Down());
    // The outer bevel takes columns 0 and 1, the inner one 2 and 3.
    const COLORREF p = s.BGBitmap.Image().Pixel(2, 12);
    Release(b, {37, 12});
    Free(b);
    return p;
  };
  EXPECT_NE(innerLeft(false), kFace);
  EXPECT_EQ(innerLeft(true), kFace);
}

TEST_F(StyleRulesTest, FormStyleRepaintKeepsToItsRectangle) {
  const COLORREF g = RGB(200, 100, 50);
  const std::string gs = std::to_string(g);
  for (const int mode : {0, 1}) {
    TsPassivePaintStyle style(nullptr);
    style.Painting.Color = TColor(RGB(10, 20, 30));
    TBitmap tile(4, 4);
    tile.Image().Fill(RGB(0, 0, 250));
    style.Background.Image().Image().Bitmap().Assign(tile);
    style.Background.Image().SetPercent(50);
    style.Background.Gradient().SetData(gs + ";" + gs + ";100;" + std::to_string(mode) + ";0");
    style.Background.Gradient().SetPercent(50);
    for (const bool image : {true, false}) {
      if (!image) style.Background.Image().SetPercent(0);
      if (!image) style.Background.Gradient().SetPercent(100);
      Bitmap bmp(12, 12);
      bmp.Fill(kWhite);
      style.Repaint(bmp, {2, 2, 8, 8});
      // Image over gradient: 250 keeps 128 of 256, Round(250 x 128 / 256 + 50 x 128 / 256).
      EXPECT_EQ(bmp.Pixel(4, 4), image ? RGB(100, 50, 150) : g) << mode << image;
      for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
          if (x < 2 || y < 2 || x >= 8 || y >= 8) {
            EXPECT_EQ(bmp.Pixel(x, y), kWhite) << mode << image << " " << x << "," << y;
          }
    }
  }
  // The colour fills and the fade keep to the rectangle too: no layer (S = 0), a gradient
  // faded toward the colour (S = 40), an image missing in its place (S = 50).
  const COLORREF c = RGB(10, 20, 30);
  for (const auto& [ip, gp] : {std::pair{0, 0}, std::pair{0, 40}, std::pair{50, 0}}) {
    TsPassivePaintStyle style(nullptr);
    style.Painting.Color = TColor(c);
    style.Background.Gradient().SetData(gs + ";" + gs + ";100;0;0");
    style.Background.Gradient().SetPercent(gp);
    style.Background.Image().SetPercent(ip);
    Bitmap bmp(12, 12);
    bmp.Fill(kWhite);
    style.Repaint(bmp, {2, 2, 8, 8});
    // 40 % of the gradient, 60 % of the colour.
    const COLORREF inside = gp == 40 ? RGB(86, 52, 38) : c;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 12; ++x) {
        const bool in = x >= 2 && y >= 2 && x < 8 && y < 8;
        EXPECT_EQ(bmp.Pixel(x, y), in ? inside : kWhite) << ip << "/" << gp << " " << x << "," << y;
      }
  }
}

TEST_F(StyleRulesTest, MenusHookedByTheSkinLetGoWhenTheyLeaveTheForm) {
  // The menu is there before the skin: the skin's broadcast hooks it, not its arrival.
  auto* menu = Create<TMainMenu>(form);
  auto* top = Create<TMenuItem>(menu);
  top->SetCaption("&File");
  menu->Items()->Add(top);
  auto* sub = Create<TMenuItem>(menu);
  sub->SetCaption("Open");
  top->Add(sub);
  Pump();
  test::WriteProviderSkin(Folder("P"), false);
  manager->SetSkinName("P");
  ASSERT_TRUE(bool(top->OnAdvancedDrawItem));
  ASSERT_TRUE(bool(sub->OnAdvancedDrawItem));
  EXPECT_TRUE(manager->HookedMenus().empty());
  form->RemoveComponent(menu);
  EXPECT_FALSE(bool(top->OnAdvancedDrawItem) || bool(top->OnMeasureItem));
  EXPECT_FALSE(bool(sub->OnAdvancedDrawItem) || bool(sub->OnMeasureItem));
  EXPECT_FALSE(menu->OwnerDraw());
  delete menu;
}

TEST_F(StyleRulesTest, StyleLayersTakeTheSectionsBitmapNotItsPicture) {
  Bmp("I", "hot.bmp", 3, 3);
  Jpeg("I", "back.jpg", 4, 4);
  Options("I",
          "[TsButton]\nImagePercent=100\nHotImagePercent=100\nIMAGEFILE=back.jpg\n"
          "HOTIMAGEFILE=hot.bmp\n");
  manager->SetSkinName("I");
  ASSERT_EQ(Patterns().size(), 1u);
  auto* b = Add<TsButton>(form, {10, 10, 60, 35});
  TsActiveBGStyle& s = *b->sStyle();
  s.UpdateIndexes();
  ASSERT_GE(s.SkinIndex, 0);
  ASSERT_FALSE(s.ControlIsActive());
  EXPECT_EQ(s.GetImage(), nullptr);  // the JPEG picture is the section painter's
  s.MouseIn = true;
  ASSERT_TRUE(s.ControlIsActive());
  ASSERT_NE(s.GetImage(), nullptr);
  EXPECT_EQ(s.GetImage()->Width(), 3);
}

TEST_F(StyleRulesTest, ManagerKnowsTheFormOwningIt) {
  EXPECT_EQ(manager->OwnerForm(), form);
  // Owned through a component that is not a form: the walk goes on up.
  auto* holder = Create<TComponent>(form);
  auto* second = Create<TsSkinManager>(holder);  // warns, stays unregistered
  EXPECT_EQ(second->OwnerForm(), form);
  TsSkinManager loose(nullptr);
  EXPECT_EQ(loose.OwnerForm(), nullptr);
}

}  // namespace
}  // namespace qv
