// Style objects and the skinned labels, panels and buttons on a shown headless form: their
// messages, the background blends, caption placement, fading on the fake clock, dialog keys
// and clicks, and goldens of their looks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "skin/sbuttons.h"
#include "skin/scontrolutils.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
#include "skin/sstyles.h"
#include "tests/skin/paint_test_util.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

class ControlsTest : public test::SkinTest {
 protected:
  // What the screen shows of a control (the form is borderless).
  Bitmap Shot(TControl* c) {
    Pump();
    const Bitmap* screen = headless->Presented(form->Handle());
    EXPECT_NE(screen, nullptr);
    Bitmap out(c->Width(), c->Height());
    if (screen == nullptr) return out;
    const Point at = c->ClientToScreen({0, 0});
    const Point origin = form->ClientToScreen({0, 0});
    CopyBitmapRect(out, {0, 0}, *screen,
                   Rect{0, 0, c->Width(), c->Height()}.Offset(at.X - origin.X, at.Y - origin.Y));
    return out;
  }
  // A flat, left-aligned panel with black caption text and no caption yet.
  TsPanel* CaptionPanel() {
    auto* panel = Add<TsPanel>(form, {0, 0, 160, 30});
    panel->SetBevelOuter(cbNone);
    panel->SetAlignment(TAlignment::taLeftJustify);
    panel->Font().SetColor(RGB(0, 0, 0));
    panel->SetCaption("");
    return panel;
  }
  // Fake time until the fade timer of `b` stops (at most `ticks` intervals).
  std::vector<int> Ticks(TsButtonControl* b, int ticks) {
    std::vector<int> alphas;
    for (int i = 0; i < ticks && b->FadeTimer().FadeMode() != 0; ++i) {
      b->LastFadeAlpha = -1;
      headless->Clock()->Advance(std::chrono::milliseconds(5));
      // The tick waits behind the messages the last one posted.
      for (int pumps = 0; pumps < 3 && b->LastFadeAlpha < 0; ++pumps) Pump();
      if (b->LastFadeAlpha >= 0) alphas.push_back(b->LastFadeAlpha);
    }
    return alphas;
  }
};

TEST_F(ControlsTest, StyleMessagesFollowKindGroupAndLimits) {
  auto* owner = Add<TPanel>(form, {0, 0, 10, 10});
  struct Case {
    int kind;
    bool invalidated;
  };
  for (const Case c : {Case{5, false}, Case{15, false}, Case{16, true}, Case{51, true}}) {
    TsGenStyle style(owner);
    style.KindCode = c.kind;
    style.BGChanged = false;
    TMessage m{WM_SETFOCUS, 0, 0, 0};
    style.WndProc(m);
    EXPECT_TRUE(style.Focused);
    EXPECT_EQ(style.BGChanged, c.invalidated) << "kind " << c.kind;
  }

  TsPaintStyle paint(owner);
  paint.Effects.Shadow.SetTransparency(150);
  EXPECT_EQ(paint.Effects.Shadow.Transparency(), 100);
  paint.Effects.Shadow.SetTransparency(-5);
  EXPECT_EQ(paint.Effects.Shadow.Transparency(), 0);

  paint.GroupIndex = 3;
  paint.SkinIndex = 7;
  TMessage color{SKM_PAINT_COLOR, 3, 0x123456, 0};
  paint.WndProc(color);
  EXPECT_EQ(paint.Painting.Color(), TColor(0x123456));
  TMessage newSkin{SKM_NEWSKIN, 3, 0, 0};
  paint.WndProc(newSkin);
  EXPECT_EQ(paint.SkinIndex, 7);  // the inherited group stays 0
  TMessage ask{SKM_GETSTYLE, 0, 0, 0};
  paint.WndProc(ask);
  EXPECT_EQ(ask.WParam, 1u);
  EXPECT_EQ(ask.Result, 1);

  // The form style takes its own group or 21 only; offsets and blurs come doubled.
  TsPassivePaintStyle formStyle(form);
  formStyle.GroupIndex = 5;
  formStyle.SkinIndex = 2;
  for (UINT msg : {SKM_GETSTYLE, SKM_NEWSKIN, SKM_BEFORECHANGE}) {
    TMessage m{msg, 0, 0, 0};
    formStyle.WndProc(m);
    EXPECT_EQ(m.WParam, 0u);
  }
  EXPECT_EQ(formStyle.SkinIndex, 2);
  TMessage offset{SKM_PAINT_SHADOWOFFSET, 5, 5, 0}, blur{SKM_PAINT_SHADOWBLUR, 21, 3, 0};
  formStyle.WndProc(offset);
  formStyle.WndProc(blur);
  EXPECT_EQ(formStyle.Shadow.Offset, 10);
  EXPECT_EQ(formStyle.Shadow.Blur, 6);
  // Values too large to double stop at the largest that doubles.
  constexpr LPARAM kHuge = std::numeric_limits<LPARAM>::max();
  constexpr int kLargest = std::numeric_limits<int>::max() / 2 * 2;
  TMessage far{SKM_PAINT_SHADOWOFFSET, 5, kHuge, 0}, below{SKM_PAINT_SHADOWBLUR, 5, -kHuge, 0};
  formStyle.WndProc(far);
  formStyle.WndProc(below);
  EXPECT_EQ(formStyle.Shadow.Offset, kLargest);
  EXPECT_EQ(formStyle.Shadow.Blur, -kLargest);

  // Rounded kinds lose their four corner pixels; other kinds and hard controls keep all.
  for (const auto& [kind, soft, cut] :
       {std::tuple{91, true, true}, std::tuple{145, true, false}, std::tuple{91, false, false}}) {
    TsGenStyle style(owner);
    style.KindCode = kind;
    style.SetSoftControl(soft);
    style.RegionChanged = true;
    style.UpdateRegion();
    EXPECT_EQ(style.WindowRegion.has_value(), cut) << kind << soft;
    if (cut) {
      EXPECT_FALSE(style.WindowRegion->Contains({0, 0}));
      EXPECT_TRUE(style.WindowRegion->Contains({1, 0}));
      EXPECT_FALSE(style.WindowRegion->Contains({9, 9}));
    }
  }
}

TEST_F(ControlsTest, BackgroundBlendsWithTheParentByTransparency) {
  auto* parent = Add<TsPanel>(form, {0, 0, 100, 100});
  parent->sStyle()->Painting.SetColor(RGB(0, 0, 200));
  auto* child = Add<TsPanel>(parent, {10, 10, 40, 40});
  child->sStyle()->Painting.SetColor(RGB(200, 0, 0));
  ShowForm(form);
  // Layers of the child keep (100 - T) * 255 div 100 of 256: 153 for T = 40.
  for (const auto& [t, expected] : {std::pair{40, RGB(120, 0, 80)}, std::pair{100, RGB(0, 0, 200)},
                                    std::pair{0, RGB(200, 0, 0)}}) {
    child->sStyle()->Painting.SetTransparency(t);
    child->sStyle()->BGChanged = true;
    child->RenderCache();
    EXPECT_EQ(child->sStyle()->BGBitmap.Image().Pixel(15, 15), expected) << "T " << t;
  }
  // Image 80 % and gradient 30 % (S = 110): the plain colour covers both.
  TsPassiveBGStyle& s = *child->sStyle();
  s.Painting.SetTransparency(0);
  s.Background.Gradient().SetData("65280;65280;100;0;0");
  s.Background.Gradient().SetPercent(30);
  s.Background.Image().Image().Bitmap().SetSize(4, 4);
  s.Background.Image().SetPercent(80);
  s.Background.Gradient().SetPercent(30);  // the image gives way: 70 + 30
  EXPECT_EQ(s.Background.Image().Percent() + s.Background.Gradient().Percent(), 100);
}

// An image at 50 % over a gradient keeps 128 of 256 in the passive look and 127 in the hot
// one; a hot pressed button's gradient paints one pixel right and down and leaves the top row
// and the left column as they were.
TEST_F(ControlsTest, ImageOverGradientAndThePressedHotLook) {
  auto* button = Add<TsButton>(form, {0, 0, 40, 20});
  button->SetCaption("");
  TsActiveBGStyle& s = *button->sStyle();
  for (TsHotBackground* bg :
       {static_cast<TsHotBackground*>(&s.Background), &s.HotStyle.HotBackground}) {
    bg->Image().Image().Bitmap().SetSize(4, 4);
    bg->Image().Image().Bitmap().Image().Fill(RGB(200, 200, 200));
    bg->Gradient().SetData("0;0;100;0;0");
    bg->Image().SetPercent(50);
    bg->Gradient().SetPercent(50);
  }
  ShowForm(form);
  for (const auto& [hot, expected] : {std::pair{false, 100}, std::pair{true, 99}}) {
    s.ForcedActive = hot;
    s.UpdateBGBitmap();
    s.PaintBG(s.BGBitmap);
    EXPECT_EQ(s.BGBitmap.Image().Pixel(20, 10), RGB(expected, expected, expected)) << hot;
  }
  // A gradient alone (S = 100, T = 0) for the pressed look.
  s.HotStyle.HotBackground.Image().SetPercent(0);
  s.HotStyle.HotBackground.Gradient().SetData("5263440;5263440;100;0;0");
  s.HotStyle.HotBackground.Gradient().SetPercent(100);
  button->SetDown(true);
  s.ForcedActive = true;
  s.BGBitmap.Image().Fill(RGB(1, 2, 3));
  s.PaintBG(s.BGBitmap);
  EXPECT_EQ(s.BGBitmap.Image().Pixel(5, 0), RGB(1, 2, 3));
  EXPECT_EQ(s.BGBitmap.Image().Pixel(0, 5), RGB(1, 2, 3));
  EXPECT_EQ(s.BGBitmap.Image().Pixel(5, 5), RGB(80, 80, 80));
  s.ForcedActive.reset();
}

TEST_F(ControlsTest, CaptionRectanglesFollowTheLayout) {
  struct Case {
    int layout;
    TAlignment alignment;
    bool down;
    Rect expected;
    unsigned flag;
  };
  const Case cases[] = {
      // The worked example: 75 x 25, a caption 40 x 13, no glyph.
      {0, TAlignment::taCenter, false, {16, 6, 60, 19}, DT_LEFT},
      {0, TAlignment::taCenter, true, {17, 7, 61, 20}, DT_LEFT},
      {0, TAlignment::taLeftJustify, false, {-1, 6, 43, 19}, DT_LEFT},
      {1, TAlignment::taRightJustify, false, {33, 6, 76, 19}, DT_RIGHT},
      {2, TAlignment::taCenter, false, {16, 6, 60, 19}, DT_CENTER},
  };
  for (const Case& c : cases) {
    const TsCaptionPlacement p =
        ButtonCaptionRect(75, 25, 0, 0, 40, 13, 0, 3, c.layout, c.alignment, true, c.down);
    EXPECT_EQ(p.Bounds, c.expected) << c.layout << " " << int(c.alignment) << c.down;
    EXPECT_EQ(p.Flag, c.flag);
  }
}

TEST_F(ControlsTest, FadeInStepsItsAlphaOverFiveTicks) {
  auto* focusHolder = Add<TsButton>(form, {0, 0, 75, 25});
  auto* button = Add<TsButton>(form, {100, 0, 175, 25});
  ShowForm(form);
  focusHolder->SetFocus();
  Pump();
  MoveTo(button, {10, 10});
  EXPECT_EQ(button->FadeTimer().FadeMode(), 1);
  EXPECT_EQ(Ticks(button, 20), (std::vector<int>{204, 153, 102, 51, 0}));
  EXPECT_EQ(button->FadeTimer().FadeMode(), 0);

  // Leaving fades back from the last step; the focused button is only repainted.
  MoveTo(focusHolder, {10, 10});
  EXPECT_EQ(button->FadeTimer().FadeMode(), 2);
  EXPECT_EQ(focusHolder->FadeTimer().FadeMode(), 0);
  EXPECT_EQ(Ticks(button, 20), (std::vector<int>{0, 51, 102, 153, 204, 255}));
  // Without iterations there is nothing to step: no division, no fade.
  button->sStyle()->BtnEffects.Fading.Iterations = 0;
  MoveTo(button, {10, 10});
  EXPECT_EQ(button->FadeTimer().FadeMode(), 0);
}

// Enter and leave on a focused button repaint it without a fade; a kind that is never hot
// still takes the message; a child's enter and leave are left to the child.
TEST_F(ControlsTest, MouseEnterAndLeaveRepaintWhatDoesNotFade) {
  auto* button = Add<TsButton>(form, {0, 0, 75, 25});
  ShowForm(form);
  button->SetFocus();
  Pump();
  TsGenStyle& style = *button->sStyle();
  for (const UINT msg : {UINT(CM_MOUSEENTER), UINT(CM_MOUSELEAVE)}) {
    style.BGChanged = false;
    EXPECT_EQ(button->Perform(msg, 0, 0), 1);
    EXPECT_TRUE(style.BGChanged) << msg;
    EXPECT_EQ(button->FadeTimer().FadeMode(), 0) << msg;
    EXPECT_EQ(style.MouseIn, msg == CM_MOUSEENTER);
  }
  const int kind = style.KindCode;
  style.KindCode = 51;  // never hot
  style.BGChanged = false;
  EXPECT_EQ(button->Perform(CM_MOUSEENTER, 0, 0), 1);
  EXPECT_FALSE(style.MouseIn);
  EXPECT_FALSE(style.BGChanged);
  style.KindCode = kind;
  TMessage child{CM_MOUSEENTER, 0, reinterpret_cast<LPARAM>(form), 0};
  style.WndProc(child);
  EXPECT_EQ(child.Result, 0);
  EXPECT_FALSE(style.MouseIn);
}

TEST_F(ControlsTest, DialogKeysAndClicksPressTheRightButton) {
  auto* edit = Add<TEdit>(form, {0, 40, 100, 60});
  auto* ok = Add<TsButton>(form, {0, 0, 75, 25});
  auto* cancel = Add<TsButton>(form, {100, 0, 175, 25});
  ok->SetDefault(true);
  cancel->Cancel = true;
  cancel->ModalResult = mrCancel;
  int okClicks = 0, cancelClicks = 0;
  ok->OnClick = [&](TComponent*) { ++okClicks; };
  cancel->OnClick = [&](TComponent*) { ++cancelClicks; };
  ShowForm(form);
  edit->SetFocus();
  Pump();
  Key(VK_RETURN);
  EXPECT_EQ(okClicks, 1);
  Key(VK_ESCAPE);
  EXPECT_EQ(cancelClicks, 1);
  EXPECT_EQ(form->ModalResult(), mrCancel);
  EXPECT_FALSE(ok->Down());

  // A press released outside does not click; one released inside does.
  Press(ok, {10, 10});
  EXPECT_TRUE(ok->Down());
  Release(ok, {200, 100});
  EXPECT_FALSE(ok->Down());
  EXPECT_EQ(okClicks, 1);
  Click(ok, {10, 10});
  EXPECT_EQ(okClicks, 2);

  // Accelerators: a label gives its control the focus, a button presses.
  auto* label = Add<TsLabel>(form, {0, 70, 60, 90});
  label->SetCaption("&Name");
  label->SetFocusControl(edit);
  auto* go = Add<TsButton>(form, {100, 70, 175, 95});
  go->SetCaption("&Go");
  int goClicks = 0;
  go->OnClick = [&](TComponent*) { ++goClicks; };
  ok->SetFocus();
  Pump();
  Key('N', "n", kModAlt);
  EXPECT_TRUE(edit->Focused());
  Key('G', "g", kModAlt);
  EXPECT_EQ(goClicks, 1);
  EXPECT_EQ(okClicks, 2);
  go->SetFocus();
  Key(VK_SPACE, " ");
  EXPECT_EQ(goClicks, 2);
  EXPECT_EQ(okClicks, 2);  // the space presses only the focused button
}

TEST_F(ControlsTest, TransparentLabelShowsThePanelGradient) {
  auto* panel = Add<TsPanel>(form, {0, 0, 120, 60});
  panel->SetBevelOuter(cbNone);
  panel->sStyle()->Background.Gradient().SetData("255;16711680;100;0;0");
  panel->sStyle()->Background.Gradient().SetPercent(100);
  auto* label = Add<TsLabel>(panel, {10, 10, 90, 40});
  label->SetAutoSize(false);
  label->SetCaption("Artist");
  label->Font().SetColor(clWhite);
  ShowForm(form);
  const Bitmap& cache = panel->sStyle()->BGBitmap.Image();
  Bitmap shot = Shot(label);
  // Right of the text the label shows the panel's rows, red running into blue.
  for (int y : {2, 15, 29}) EXPECT_EQ(shot.Pixel(70, y), cache.Pixel(80, 10 + y)) << y;
  EXPECT_NE(shot.Pixel(70, 2), shot.Pixel(70, 29));
  test::ExpectGolden(Shot(panel), "label_on_gradient_panel");

  label->SetTransparent(false);
  label->SetColor(RGB(0, 160, 0));
  shot = Shot(label);
  EXPECT_EQ(shot.Pixel(70, 20), RGB(0, 160, 0));
}

// Right to left a left-aligned label keeps its right edge when its text changes, and a
// right-aligned one its left edge; an aligned label is sized by its parent all the same.
TEST_F(ControlsTest, AutoSizedLabelKeepsTheEdgeItsReadingOrderAsks) {
  auto* left = Add<TsLabel>(form, {10, 10, 110, 30});
  auto* right = Add<TsLabel>(form, {10, 40, 110, 60});
  right->SetAlignment(TAlignment::taRightJustify);
  for (TsLabel* l : {left, right}) {
    l->SetBiDiMode(TBiDiMode::bdRightToLeft);
    l->SetCaption("A long caption of a label");
    l->SetBounds(10, l->Top(), 100, 20);
    l->SetCaption("Ab");
  }
  EXPECT_EQ(left->Left() + left->Width(), 110);
  EXPECT_LT(left->Width(), 100);
  EXPECT_EQ(right->Left(), 10);
  EXPECT_LT(right->Width(), 100);
  auto* filled = Add<TsLabel>(form, {0, 0, 10, 10});
  filled->SetAlign(TAlign::alClient);
  filled->SetCaption("Ab");
  EXPECT_EQ(filled->Width(), form->ClientWidth());
}

// A right-to-left panel writes a left-aligned caption from its right edge.
// The leftmost and rightmost columns where two shots of the same size differ (-1 for none).
std::pair<int, int> ChangedColumns(const Bitmap& a, const Bitmap& b) {
  int leftmost = -1, rightmost = -1;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y)) {
        if (leftmost < 0 || x < leftmost) leftmost = x;
        rightmost = std::max(rightmost, x);
      }
  return {leftmost, rightmost};
}

TEST_F(ControlsTest, RightToLeftPanelCaptionStartsAtTheRight) {
  TsPanel* panel = CaptionPanel();
  panel->SetBiDiMode(TBiDiMode::bdRightToLeft);
  ShowForm(form);
  const Bitmap empty = Shot(panel);
  panel->SetCaption("Ab");
  const auto [leftmost, rightmost] = ChangedColumns(Shot(panel), empty);
  ASSERT_GE(rightmost, 0);
  EXPECT_GT(leftmost, 80);
  EXPECT_GT(rightmost, 140);
}

// A panel's caption is one line written as it is: a tab in it opens no room.
TEST_F(ControlsTest, PanelCaptionDoesNotExpandTabs) {
  TsPanel* panel = CaptionPanel();
  ShowForm(form);
  const Bitmap empty = Shot(panel);
  panel->SetCaption("Ab");
  const auto plain = ChangedColumns(Shot(panel), empty);
  panel->SetCaption("\tAb");
  const auto tabbed = ChangedColumns(Shot(panel), empty);
  ASSERT_GE(plain.first, 0);
  EXPECT_EQ(tabbed, plain);
}

// A button dropped in the designer starts with the house gradients; one made by the
// running program keeps its style's empty ones.
TEST_F(ControlsTest, DesignedButtonStartsWithTheHouseGradients) {
  TComponent designer(nullptr);
  designer.SetDesigning(true);
  TsActiveBGStyle& designed = *Create<TsButton>(&designer)->sStyle();
  EXPECT_EQ(designed.Background.Gradient().Data(),
            "8421504;16777215;99;0;0;16777215;16777215;0;0;0");
  EXPECT_EQ(designed.HotStyle.HotBackground.Gradient().Data(),
            "8421504;8421504;10;0;0;8421504;16777215;43;0;0;16777215;10658466;28;0;0;10658466;"
            "13816530;18;0;0;13816530;13816530;0;0;0");
  TsActiveBGStyle& running = *Create<TsButton>(form)->sStyle();
  EXPECT_TRUE(running.Background.Gradient().Data().empty());
  EXPECT_TRUE(running.HotStyle.HotBackground.Gradient().Data().empty());
}

// A panel's content is painted over its background at every paint, before the picture
// reaches the screen.
TEST_F(ControlsTest, PanelContentPaintsOverTheBackgroundAtEveryPaint) {
  struct Marked : TsPanel {
    using TsPanel::TsPanel;
    int paints = 0;
    void PaintContent(TCanvas& canvas) override {
      ++paints;
      canvas.Handle()->FillRect({4, 4, 12, 12}, Brush{BrushStyle::bsSolid, RGB(200, 0, 0)});
    }
  };
  auto* panel = Add<Marked>(form, {0, 0, 60, 30});
  ShowForm(form);
  Bitmap shot = Shot(panel);
  EXPECT_EQ(shot.Pixel(8, 8), RGB(200, 0, 0));
  EXPECT_NE(shot.Pixel(30, 20), RGB(200, 0, 0));
  const int paints = panel->paints;
  ASSERT_FALSE(panel->sStyle()->BGChanged);
  panel->Invalidate();
  shot = Shot(panel);
  EXPECT_GT(panel->paints, paints);
  EXPECT_EQ(shot.Pixel(8, 8), RGB(200, 0, 0));
}

TEST_F(ControlsTest, ButtonLooksMatchTheirGoldens) {
  Options("Fixture",
          "[TsPanel]\nPaintingColor=14737632\nGradientPercent=100\n"
          "GradientData=16777215;8421504;100;0;0\nPaintingBevel=0\n");
  manager->SetSkinName("Fixture");
  auto* panel = Add<TsPanel>(form, {0, 0, 200, 60});
  auto* other = Add<TsButton>(panel, {110, 30, 185, 55});
  auto* button = Add<TsButton>(panel, {10, 10, 85, 35});
  button->SetCaption("RIP");
  // The main window's buttons: a section the skin lacks, a white face half transparent.
  button->sStyle()->SetSkinSection("MyTsButton");
  button->sStyle()->Painting.SetColor(clWhite);
  button->sStyle()->Painting.SetTransparency(50);
  button->sStyle()->HotStyle.HotPainting.Color = RGB(255, 0, 0);
  button->sStyle()->BtnEffects.Fading.Enabled = false;
  button->SetBevelWidth(1);
  ShowForm(form);
  other->SetFocus();
  Pump();
  test::ExpectGolden(Shot(button), "button_normal");
  MoveTo(button, {5, 5});
  test::ExpectGolden(Shot(button), "button_hot");
  Press(button, {5, 5});
  test::ExpectGolden(Shot(button), "button_down");
  Release(button, {5, 5});
  MoveTo(panel, {190, 5});
  button->SetEnabled(false);
  test::ExpectGolden(Shot(button), "button_disabled");
}

// The skin link of controls without a style: it answers for its cache, follows the skin and
// tells its control when it moved.
TEST_F(ControlsTest, SkinLinkAnswersForItsCacheAndFollowsTheSkin) {
  Options("Fixture", "[TsPanel]\nPaintingTransparency=30\n");
  manager->SetSkinName("Fixture");
  auto* owner = Add<TPanel>(form, {0, 0, 40, 20});
  std::vector<UINT> performed;
  const auto inherited = owner->WindowProc;
  owner->WindowProc = [&](TMessage& m) {
    if (m.Msg == SKM_CONTROLMOVED) performed.push_back(m.Msg);
    inherited(m);
  };
  TsCommonData cached(owner, true), plain(owner, false);
  cached.SetSkinSection("TsPanel");
  ASSERT_GE(cached.SkinIndex, 0);
  EXPECT_EQ(cached.CacheBmp->Width(), 40);
  for (TsCommonData* link : {&cached, &plain}) {
    ParentBGInfo = {};
    TMessage ask{SKM_GETBGINFO, 0, 0, 0};
    link->WndProc(ask);
    EXPECT_EQ(ParentBGInfo.Ready, link == &cached);
    link->SkinChanged = false;
    TMessage removed{SKM_REMOVESKIN, 5, 0, 0};  // no group: every number is taken
    link->WndProc(removed);
    EXPECT_EQ(link->SkinIndex, -1);
    EXPECT_TRUE(link->SkinChanged);
    TMessage before{SKM_BEFORECHANGE, 0, 0, 0};
    link->SkinIndex = 3;
    link->WndProc(before);
    EXPECT_EQ(link->SkinIndex, 3);  // ignored
  }
  TMessage moved{WM_MOVE, 0, 0, 0};
  cached.WndProc(moved);
  EXPECT_EQ(performed, std::vector<UINT>{SKM_CONTROLMOVED});
  TMessage enter{CM_MOUSEENTER, 0, 0, 0};
  cached.WndProc(enter);
  EXPECT_TRUE(cached.MouseIn);
  EXPECT_EQ(enter.Result, 1);
  owner->WindowProc = inherited;  // the lambda's locals end with the test
}

TEST_F(ControlsTest, ChildRoutinesRefreshRepaintAndShadow) {
  auto* panel = Add<TsPanel>(form, {0, 0, 100, 100});
  auto* inner = Add<TsPanel>(panel, {10, 10, 30, 30});
  panel->SetBorderWidth(3);
  EXPECT_EQ(panel->BorderSize(), 3 + panel->BevelWidth());
  panel->SetBevelOuter(cbNone);
  EXPECT_EQ(panel->BorderSize(), 3);
  // An empty caption sizes the label to one line of text.
  auto* label = Add<TsLabel>(panel, {40, 40, 90, 90});
  label->SetCaption("");
  label->AdjustBounds();
  Bitmap probe(1, 1);
  DC dc(&probe);
  dc.SelectFont(label->Font().Handle());
  EXPECT_EQ(label->Height(), dc.TextHeight(" "));
  ShowForm(form);
  inner->sStyle()->BGChanged = true;
  RefreshChildren(panel, false);
  EXPECT_FALSE(inner->sStyle()->BGChanged);  // SKM_REFRESH with false, then painted

  // A shadow from the own effects darkens the container's picture right and below.
  inner->sStyle()->Effects.Shadow.SetEnabled(true);
  ASSERT_TRUE(inner->sStyle()->Effects.Shadow.Enabled());
  Bitmap image(100, 100);
  image.Fill(clWhite);
  PaintChildShadows(panel, image);
  EXPECT_NE(image.Pixel(35, 35), clWhite);
  EXPECT_EQ(image.Pixel(5, 5), clWhite);
}

}  // namespace
}  // namespace qv
