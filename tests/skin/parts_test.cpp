// Skinned buttons with image-list glyphs, toggles, drop-downs and actions; the scroll bar's
// scroll events, update lock and skin link; the form style's messages and layers; the skin
// manager's menu hooking. Expected numbers are worked out by hand from the placement rules
// and the colours put in, not read back from the painting code.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>

#include "platform/classlib/actnlist.h"
#include "platform/classlib/imglist.h"
#include "platform/classlib/menus.h"
#include "skin/sbuttons.h"
#include "skin/sscrollbar.h"
#include "skin/sstyles.h"
#include "tests/skin/provider_fixture.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr COLORREF kGlyph = RGB(200, 40, 0);
constexpr COLORREF kNormalGlyph = RGB(0, 90, 200);
constexpr COLORREF kDisabledGlyph = RGB(30, 160, 30);
constexpr COLORREF kFace = RGB(100, 140, 180);

// A 16 x 16 glyph: fuchsia (its bottom-left pixel, so transparent) around an 8 x 8 block.
Bitmap Block(COLORREF color) {
  Bitmap b(16, 16);
  b.Fill(0xFF00FF);
  for (int y = 4; y < 12; ++y)
    for (int x = 4; x < 12; ++x) b.SetPixel(x, y, color);
  return b;
}

std::uint8_t Mix(std::uint8_t src, std::uint8_t dst, double share) {
  return std::uint8_t(std::lround(src - (src - dst) * share));
}
COLORREF Mix(COLORREF src, COLORREF dst, double share) {
  return RGB(Mix(GetRValue(src), GetRValue(dst), share), Mix(GetGValue(src), GetGValue(dst), share),
             Mix(GetBValue(src), GetBValue(dst), share));
}

class PartsTest : public test::SkinTest {
 protected:
  // A plain face: the button's own colour, no gradient, no bevel, no fading.
  TsButton* FlatButton(Rect r) {
    auto* b = Add<TsButton>(form, r);
    TsActiveBGStyle& s = *b->sStyle();
    s.SetSkinSection("NOSUCHSECTION");
    s.Painting.SetColor(TColor(kFace));
    s.Painting.SetBevel(cbNone);
    s.Painting.SetTransparency(0);
    s.HotStyle.HotPainting.Transparency = 0;
    s.Background.Gradient().SetPercent(0);
    s.HotStyle.HotPainting.Color = TColor(kFace);
    s.HotStyle.HotPainting.Bevel = cbNone;
    s.HotStyle.HotBackground.Gradient().SetPercent(0);
    s.BtnEffects.Fading.Enabled = false;
    b->ShowCaption = false;
    b->DisabledKind = 0;
    return b;
  }
  COLORREF CachePixel(TsButtonControl* b, Point p) {
    b->sStyle()->BGChanged = true;
    b->Repaint();
    Pump();
    return b->sStyle()->BGBitmap.Image().Pixel(p.X, p.Y);
  }
};

// ---- placement ---------------------------------------------------------------------------

TEST_F(PartsTest, GlyphAndCaptionPlaceByLayout) {
  // 16 x 16 glyph, caption 40 x 13, spacing 3, margin 0: by hand from the placement rules.
  struct Case {
    int w, h, layout;
    bool down;
    Point glyph;
    Rect caption;
  };
  const Case cases[] = {
      // x0 = (75 - 16 - 3 - 40) div 2 = 8.
      {75, 25, 0, false, {8, 4}, {26, 6, 69, 19}},
      {75, 25, 0, true, {9, 5}, {27, 7, 70, 20}},
      // Glyph at (75 - 16 + 3 + 40) div 2 = 51; caption from M + x0 = 8.
      {75, 25, 1, false, {51, 4}, {7, 6, 50, 19}},
      // y0 = (40 - 16 - 3 - 13) div 2 = 4.
      {75, 40, 2, false, {29, 4}, {16, 23, 60, 36}},
      {75, 40, 3, false, {29, 20}, {16, 4, 60, 17}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "layout " << c.layout << " down " << c.down);
    EXPECT_EQ(
        ButtonGlyphPos(c.w, c.h, 16, 16, 40, 13, 0, 3, c.layout, TAlignment::taCenter, c.down),
        c.glyph);
    EXPECT_EQ(ButtonCaptionRect(c.w, c.h, 16, 16, 40, 13, 0, 3, c.layout, TAlignment::taCenter,
                                true, c.down)
                  .Bounds,
              c.caption);
  }
}

// ---- glyphs ------------------------------------------------------------------------------

TEST_F(PartsTest, GlyphListAndLookFollowTheState) {
  auto* images = Create<TImageList>(form);
  images->Add(Block(kGlyph));
  auto* normal = Create<TImageList>(form);
  normal->Add(Block(kNormalGlyph));
  auto* disabled = Create<TImageList>(form);
  disabled->Add(Block(kDisabledGlyph));
  auto* other = FlatButton({100, 0, 175, 25});
  TsButton* b = FlatButton({0, 0, 75, 25});
  b->SetImages(images);
  b->SetImageIndex(0);
  ShowForm(form);
  other->SetFocus();
  Pump();
  // No caption: the glyph's left is (75 - 16) div 2 = 29, its top (25 - 16) div 2 = 4, so the
  // block covers (33..40, 8..15); (36, 12) lies inside it, (30, 5) on its transparent ring.
  const Point in{36, 12};
  const Point ring{30, 5};
  const COLORREF grey = RGB(80, 80, 80);  // (200 + 40 + 0) div 3
  struct Case {
    const char* what;
    std::function<void()> set;
    COLORREF expected;
  };
  const Case cases[] = {
      {"opaque", [] {}, kGlyph},
      {"grayed while not hot", [&] { b->GlyphGrayed = true; }, grey},
      {"blended 40 percent", [&] { b->GlyphBlend = 40; }, Mix(grey, kFace, 0.4)},
      {"hot: plain again",
       [&] {
         MoveTo(b, {2, 2});
       },
       kGlyph},
      {"normal list while not hot",
       [&] {
         MoveTo(other, {2, 2});
         b->GlyphGrayed = false;
         b->GlyphBlend = 0;
         b->SetNormalImages(normal);
       },
       kNormalGlyph},
      {"hot takes Images",
       [&] {
         MoveTo(b, {2, 2});
       },
       kGlyph},
      {"disabled: half blended",
       [&] {
         MoveTo(other, {2, 2});
         b->SetEnabled(false);
       },
       Mix(kGlyph, kFace, 0.5)},
      {"disabled grayed and blended", [&] { b->DisabledGlyphKind = dkGrayed | dkBlended; },
       Mix(grey, kFace, 0.5)},
      {"disabled list drawn as it is", [&] { b->SetDisabledImages(disabled); }, kDisabledGlyph},
  };
  for (const Case& c : cases) {
    c.set();
    EXPECT_EQ(CachePixel(b, in), c.expected) << c.what;
    EXPECT_EQ(CachePixel(b, ring), kFace) << c.what;
  }
  // A list that goes takes its glyph along.
  Free(disabled);
  EXPECT_EQ(b->DisabledImages(), nullptr);
  Free(images);
  Free(normal);
  EXPECT_EQ(b->Images(), nullptr);
  EXPECT_EQ(b->NormalImages(), nullptr);
  b->SetEnabled(true);
  EXPECT_EQ(CachePixel(b, in), kFace);
}

TEST_F(PartsTest, ImageListChangeRepaintsAndAutoSizeFitsTheContent) {
  auto* images = Create<TImageList>(form);
  images->Add(Block(kGlyph));
  TsButton* b = FlatButton({0, 0, 75, 25});
  b->SetImages(images);
  b->SetImageIndex(0);
  b->SetMargin(2);
  b->SetBevelWidth(3);
  ShowForm(form);
  // Glyph alone: 16 + 2 x 2 + 2 x 3 = 26 each way.
  b->SetAutoSize(true);
  EXPECT_EQ(b->Width(), 26);
  EXPECT_EQ(b->Height(), 26);
  // The list changes under the button: its look follows without a word from the program.
  EXPECT_EQ(CachePixel(b, {13, 13}), kGlyph);
  images->Replace(0, Block(kNormalGlyph));
  Pump();
  EXPECT_EQ(b->sStyle()->BGBitmap.Image().Pixel(13, 13), kNormalGlyph);
  // With a caption beside it: the caption's size as a canvas in that font measures it.
  b->ShowCaption = true;
  b->SetCaption("Rip");
  TBitmap probe(10, 10);
  probe.Canvas().Font().Assign(b->Font());
  const int cw = probe.Canvas().TextWidth("Rip");
  const int ch = std::max(probe.Canvas().TextHeight("Rip"), probe.Canvas().TextHeight("W"));
  EXPECT_EQ(b->Width(), 16 + 3 + cw + 10);
  EXPECT_EQ(b->Height(), std::max(16, ch) + 10);
  b->Layout = 2;
  b->AdjustSize();
  EXPECT_EQ(b->Width(), std::max(16, cw) + 10);
  EXPECT_EQ(b->Height(), 16 + 3 + ch + 10);
}

// ---- styles 1 and 2, keys and actions ----------------------------------------------------

TEST_F(PartsTest, ToggleStaysDownUntilClickedAgain) {
  TsButton* b = FlatButton({0, 0, 75, 25});
  b->ButtonStyle = 1;
  int clicks = 0;
  b->OnClick = [&](TComponent*) { ++clicks; };
  ShowForm(form);
  struct Step {
    Point release;
    bool down;
    int clicks;
  };
  for (const Step s : {Step{{5, 5}, true, 1}, Step{{300, 5}, true, 1}, Step{{5, 5}, false, 2}}) {
    Press(b, {5, 5});
    Release(b, s.release);
    EXPECT_EQ(b->Down(), s.down);
    EXPECT_EQ(clicks, s.clicks);
  }
}

TEST_F(PartsTest, DropDownDrawsItsArrowAndShowsTheMenu) {
  TsButton* b = FlatButton({0, 0, 75, 25});
  b->Font().SetColor(TColor(RGB(0, 0, 255)));
  b->ButtonStyle = 2;
  auto* menu = Create<TPopupMenu>(form);
  auto* item = Create<TMenuItem>(menu);
  item->SetCaption("First");
  menu->Items()->Add(item);
  b->SetDropdownMenu(menu);
  int clicks = 0;
  b->OnClick = [&](TComponent*) { ++clicks; };
  ShowForm(form);
  // Arrow part 15 wide: the triangle starts at 75 - 15 + (15 - 6) div 2 = 64, row
  // (25 - 3) div 2 = 11, and narrows by one pixel each side per row.
  const COLORREF arrow = RGB(0, 0, 255);
  struct Px {
    Point p;
    bool on;
  };
  for (const Px px :
       {Px{{64, 11}, true}, Px{{69, 11}, true}, Px{{63, 11}, false}, Px{{70, 11}, false},
        Px{{65, 12}, true}, Px{{64, 12}, false}, Px{{66, 13}, true}, Px{{67, 13}, true},
        Px{{65, 13}, false}, Px{{66, 14}, false}}) {
    EXPECT_EQ(CachePixel(b, px.p) == arrow, px.on) << px.p.X << "," << px.p.Y;
  }
  // A press on the arrow part shows the menu below the button; the press elsewhere clicks.
  bool droppedWhileShown = false;
  menu->OnPopup = [&](TComponent*) {
    droppedWhileShown = b->DroppedDown();
    headless->InjectKey(VK_ESCAPE, true);
    headless->InjectKey(VK_ESCAPE, false);
  };
  Press(b, {70, 12});
  Release(b, {70, 12});
  EXPECT_TRUE(droppedWhileShown);
  EXPECT_FALSE(b->DroppedDown());
  EXPECT_EQ(clicks, 0);
  Click(b, {10, 12});
  EXPECT_EQ(clicks, 1);
  // The menu freed: the button forgets it.
  Free(menu);
  EXPECT_EQ(b->DropdownMenu(), nullptr);
}

TEST_F(PartsTest, KeyPressHoldsTheButtonUntilTheKeyComesUp) {
  TsButton* b = FlatButton({0, 0, 75, 25});
  int clicks = 0;
  b->OnClick = [&](TComponent*) { ++clicks; };
  ShowForm(form);
  b->SetFocus();
  Pump();
  headless->InjectKey(VK_SPACE, true, " ");
  Pump();
  EXPECT_TRUE(b->Down());
  EXPECT_EQ(clicks, 0);
  headless->InjectKey(VK_SPACE, false);
  Pump();
  EXPECT_FALSE(b->Down());
  EXPECT_EQ(clicks, 1);
}

// A toggle changes only with a click: the key holds it pressed, its release clicks and
// turns it over; other keys coming up and a focus lost mid-press leave it as it was.
TEST_F(PartsTest, ToggleTurnsOverOnlyWithAClickFromTheKey) {
  TsButton* b = FlatButton({0, 0, 75, 25});
  TsButton* other = FlatButton({0, 40, 75, 25});
  b->ButtonStyle = 1;
  b->SetDefault(true);
  int clicks = 0;
  b->OnClick = [&](TComponent*) { ++clicks; };
  ShowForm(form);
  b->SetFocus();
  Pump();
  struct Step {
    const char* what;
    std::function<void()> act;
    bool down;
    int clicks;
  };
  const Step steps[] = {
      {"space held", [&] { headless->InjectKey(VK_SPACE, true, " "); }, true, 0},
      {"space up clicks: down", [&] { headless->InjectKey(VK_SPACE, false); }, true, 1},
      {"another key up keeps it down", [&] { headless->InjectKey('A', false); }, true, 1},
      {"space held again", [&] { headless->InjectKey(VK_SPACE, true, " "); }, true, 1},
      {"space up clicks: up", [&] { headless->InjectKey(VK_SPACE, false); }, false, 2},
      {"space held", [&] { headless->InjectKey(VK_SPACE, true, " "); }, true, 2},
      {"focus gone mid-press: up, no click", [&] { other->SetFocus(); }, false, 2},
      {"the key comes up elsewhere", [&] { headless->InjectKey(VK_SPACE, false); }, false, 2},
      {"enter on the focused toggle",
       [&] {
         b->SetFocus();
         Pump();
         Key(VK_RETURN);
       },
       true, 3},
      {"a mouse click turns it back",
       [&] {
         Click(b, {5, 5});
       },
       false, 4},
  };
  for (const Step& st : steps) {
    st.act();
    Pump();
    EXPECT_EQ(b->Down(), st.down) << st.what;
    EXPECT_EQ(clicks, st.clicks) << st.what;
  }
}

// A skin whose button section has no borders mask, and no skin at all, give the button its
// whole rectangle back; a mask with cut corners cuts them from the window.
TEST_F(PartsTest, WindowRegionFollowsEverySkinChange) {
  const auto ring = test::Ring(RGB(100, 100, 100), RGB(0, 120, 200), RGB(0, 60, 120), true);
  qv::testing::WriteFile(Folder("CUT") + "/btn.bmp", Bytes(SaveBmp(ring)));
  Options("CUT", "[BUTTON]\nPaintingColor=" + std::to_string(kFace) + "\nBORDERSMASK=btn.bmp\n");
  Options("PLAIN", "[BUTTON]\nPaintingColor=" + std::to_string(kFace) + "\n");
  manager->SetSkinName("CUT");
  ASSERT_TRUE(SkinData.Active);
  auto* b = Add<TsButton>(form, {10, 10, 75, 25});
  b->sStyle()->SetSkinSection("BUTTON");
  ShowForm(form);
  auto cornerIn = [&] {
    b->Repaint();
    Pump();
    Region r;
    if (GetWindowRgn(b->Handle(), r) == NULLREGION) return true;
    EXPECT_TRUE(r.Contains({30, 12}));
    return r.Contains({0, 0});
  };
  EXPECT_FALSE(cornerIn());
  manager->SetSkinName("PLAIN");
  Pump();
  EXPECT_TRUE(cornerIn());
  manager->SetSkinName("CUT");
  Pump();
  EXPECT_FALSE(cornerIn());
  manager->SetActive(false);
  Pump();
  EXPECT_TRUE(cornerIn());
}

// A repaint asked for while a fade runs still paints the disabled look over the face.
TEST_F(PartsTest, DisabledLookPaintsWhileAFadeRuns) {
  TsButton* b = FlatButton({0, 0, 75, 25});
  b->sStyle()->BtnEffects.Fading.Enabled = true;
  b->DisabledKind = dkBlended;
  form->SetColor(TColor(RGB(0, 0, 0)));
  ShowForm(form);
  EXPECT_EQ(b->sStyle()->BGBitmap.Image().Pixel(30, 12), kFace);
  b->StartFadeIn();
  ASSERT_EQ(b->FadeTimer().FadeMode(), 1);
  b->SetEnabled(false);
  b->sStyle()->BGChanged = true;
  b->Repaint();
  EXPECT_EQ(b->FadeTimer().FadeMode(), 1);
  EXPECT_NE(b->sStyle()->BGBitmap.Image().Pixel(30, 12), kFace);
}

TEST_F(PartsTest, ActionGivesCaptionCheckedImageAndHint) {
  auto* images = Create<TImageList>(form);
  images->Add(Block(kGlyph));
  images->Add(Block(kNormalGlyph));
  auto* list = Create<TActionList>(form);
  list->SetImages(images);
  auto* action = Create<TAction>(form);
  action->SetActionList(list);
  action->SetCaption("Rip");
  action->SetHint("Rips the disc");
  action->SetImageIndex(0);
  int runs = 0;
  action->OnExecute = [&](TComponent*) { ++runs; };
  TsButton* b = FlatButton({0, 0, 75, 25});
  b->SetAction(action);
  ShowForm(form);
  // Taking the action: its list (the button had none), index, caption and hint.
  EXPECT_EQ(b->Images(), images);
  EXPECT_EQ(b->ImageIndex(), 0);
  EXPECT_EQ(b->Caption(), "Rip");
  EXPECT_EQ(b->Hint(), "Rips the disc");
  // Changes of the action reach the button.
  action->SetChecked(true);
  EXPECT_TRUE(b->Down());
  action->SetImageIndex(1);
  EXPECT_EQ(b->ImageIndex(), 1);
  action->SetCaption("Stop");
  EXPECT_EQ(b->Caption(), "Stop");
  // Checked follows only while it equals Down.
  b->SetDown(false);
  action->SetChecked(false);
  action->SetChecked(true);
  EXPECT_TRUE(b->Down());
  b->SetDown(false);
  action->SetChecked(false);
  EXPECT_FALSE(b->Down());
  // A click runs the action; a button handler of its own runs instead.
  Click(b, {10, 10});
  EXPECT_EQ(runs, 1);
  int own = 0;
  b->OnClick = [&](TComponent*) { ++own; };
  Click(b, {10, 10});
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(own, 1);
  Free(action);
  EXPECT_EQ(b->Action(), nullptr);
}

// ---- the scroll bar ----------------------------------------------------------------------

class ScrollPartsTest : public PartsTest {
 protected:
  void SetUp() override {
    PartsTest::SetUp();
    test::WriteProviderSkin(Folder("P"), false);
    manager->SetSkinName("P");
    ASSERT_TRUE(SkinData.Active);
  }
  TsScrollBar* Bar() {
    ShowForm(form);
    auto* bar = Add<TsScrollBar>(form, {10, 10, 130, 26});
    Pump();
    return bar;
  }
};

TEST_F(ScrollPartsTest, OnScrollReportsCodesAndPositions) {
  TsScrollBar* bar = Bar();
  bar->SetParams(50, 0, 100);
  bar->SmallChange = 2;
  bar->LargeChange = 10;
  std::vector<std::pair<TScrollCode, int>> events;
  bar->OnScroll = [&](TComponent*, TScrollCode code, int& pos) { events.emplace_back(code, pos); };
  bar->SetFocus();
  Pump();
  using E = std::pair<TScrollCode, int>;
  struct Case {
    const char* what;
    std::function<void()> act;
    std::vector<E> expected;
    int position;
  };
  const Case cases[] = {
      {"line key", [&] { Key(VK_RIGHT); }, {E{scLineDown, 52}}, 52},
      {"page key", [&] { Key(VK_PRIOR); }, {E{scPageUp, 42}}, 42},
      {"end", [&] { Key(VK_END); }, {E{scBottom, 100}}, 100},
      {"home", [&] { Key(VK_HOME); }, {E{scTop, 0}}, 0},
      {"second button pressed and let go",
       [&] {
         Press(bar, {115, 8});
         Release(bar, {115, 8});
       },
       {E{scLineDown, 2}, E{scEndScroll, 2}},
       2},
      {"notification: thumb track",
       [&] { bar->Perform(CN_HSCROLL, WPARAM(MAKELONG(SB_THUMBTRACK, 40)), 0); },
       {E{scTrack, 40}},
       40},
      {"notification: page down",
       [&] { bar->Perform(CN_HSCROLL, SB_PAGEDOWN, 0); },
       {E{scPageDown, 50}},
       50},
  };
  for (const Case& c : cases) {
    events.clear();
    c.act();
    EXPECT_EQ(events, c.expected) << c.what;
    EXPECT_EQ(bar->Position(), c.position) << c.what;
  }
  // Right to left: line steps go the other way and thumb positions come mirrored.
  bar->SetBiDiMode(TBiDiMode::bdRightToLeft);
  events.clear();
  bar->Perform(CN_HSCROLL, SB_LINEDOWN, 0);
  bar->Perform(CN_HSCROLL, WPARAM(MAKELONG(SB_THUMBPOSITION, 30)), 0);
  EXPECT_EQ(events, (std::vector<E>{E{scLineDown, 48}, E{scPosition, 70}}));
  // The handler may change where the bar goes.
  bar->OnScroll = [](TComponent*, TScrollCode, int& pos) { pos = std::min(pos, 60); };
  bar->SetBiDiMode(TBiDiMode::bdLeftToRight);
  bar->Perform(CN_HSCROLL, SB_BOTTOM, 0);
  EXPECT_EQ(bar->Position(), 60);
}

TEST_F(ScrollPartsTest, UpdateLockHoldsPaintingUntilEndUpdate) {
  TsScrollBar* bar = Bar();
  bar->SetParams(10, 0, 100);
  Pump();
  EXPECT_FALSE(bar->NeedRepaint);
  bar->UpdateLock = true;
  bar->SetPosition(60);
  bar->Repaint();
  Pump();
  EXPECT_TRUE(bar->NeedRepaint);  // nothing was painted
  bar->EndUpdate();
  Pump();
  EXPECT_FALSE(bar->UpdateLock);
  EXPECT_FALSE(bar->NeedRepaint);
}

TEST_F(ScrollPartsTest, SkinChangesReachTheBarThroughItsLink) {
  TsScrollBar* bar = Bar();
  bar->SetParams(50, 0, 100);
  EXPECT_EQ(bar->CommonData().KindCode, 142);
  EXPECT_EQ(bar->CommonData().SkinSection(), "TsScrollBar");
  const Rect thumb = bar->PartRect(sbpThumb);
  const Point mid{(thumb.Left + thumb.Right) / 2, 8};
  // The thumb's ring mask is filled with the section's colour inside (yellow mask centre
  // over white: the colour itself).
  Bitmap before = bar->RenderSkinned();
  // A second skin whose thumb is another colour: only the broadcast tells the bar.
  test::WriteProviderSkin(Folder("Q"), false);
  std::string text = qv::testing::ReadFile(Folder("Q") + "/Options.dat");
  const std::string from = "[SCROLLSLIDERH]\nPaintingColor=" + std::to_string(RGB(180, 180, 190));
  const std::string to = "[SCROLLSLIDERH]\nPaintingColor=" + std::to_string(RGB(20, 200, 20));
  ASSERT_NE(text.find(from), std::string::npos);
  text.replace(text.find(from), from.size(), to);
  Options("Q", text);
  // The new skin's sections sit elsewhere in the tables: drop the first scroll sections so
  // that a stale index would point at another section.
  text.erase(text.find("[SCROLLBTNLEFT]"),
             text.find("[SCROLLSLIDERH]") - text.find("[SCROLLBTNLEFT]"));
  Options("Q", text);
  manager->SetSkinName("Q");
  Pump();
  EXPECT_TRUE(SkinData.Active);
  const Bitmap after = bar->RenderSkinned();
  EXPECT_NE(before.Pixel(mid.X, mid.Y), after.Pixel(mid.X, mid.Y));
  // A bar made under the new skin looks its sections up afresh: the old bar must match it.
  auto* fresh = Add<TsScrollBar>(form, {10, 40, 130, 56});
  fresh->SetParams(50, 0, 100);
  Pump();
  const Bitmap reference = fresh->RenderSkinned();
  for (const Point p : {mid, Point{5, 8}, Point{125, 8}})
    EXPECT_EQ(after.Pixel(p.X, p.Y), reference.Pixel(p.X, p.Y)) << p.X;
  const TsGeneralData& slider = Section("SCROLLSLIDERH");
  EXPECT_EQ(slider.PaintingColor, TColor(RGB(20, 200, 20)));
  // The link answers for the bar's background with its cache.
  ParentBGInfo = {};
  bar->Perform(SKM_GETBGINFO, 0, 0);
  EXPECT_TRUE(ParentBGInfo.Ready);
  EXPECT_EQ(ParentBGInfo.Bmp, bar->CommonData().CacheBmp.get());
  // Without a skin the link forgets its section.
  manager->SetActive(false);
  EXPECT_EQ(bar->CommonData().SkinIndex, -1);
}

// ---- the form style ----------------------------------------------------------------------

TEST_F(PartsTest, FormStyleRepaintsItsOwnLayers) {
  const COLORREF c = RGB(10, 20, 30);
  const COLORREF g = RGB(200, 100, 50);
  const std::string gs = std::to_string(g);
  struct Case {
    const char* what;
    int gradientPercent;
    COLORREF inside;
  };
  // 50 %: the gradient keeps half, the colour gives the rest:
  // Round(200 x 0.5 + 10 x 0.5) = 105, Round(100 x 0.5 + 20 x 0.5) = 60, Round(50 x 0.5 + 30 x
  // 0.5) = 40.
  const Case cases[] = {
      {"plain colour", 0, c}, {"gradient alone", 100, g}, {"half and half", 50, RGB(105, 60, 40)}};
  for (const Case& k : cases) {
    TsPassivePaintStyle style(nullptr);
    style.Painting.Color = TColor(c);
    style.Background.Gradient().SetData(gs + ";" + gs + ";100;0;0");
    style.Background.Gradient().SetPercent(k.gradientPercent);
    Bitmap bmp(12, 12);
    bmp.Fill(RGB(255, 255, 255));
    style.Repaint(bmp, {2, 2, 8, 8});
    EXPECT_EQ(bmp.Pixel(4, 4), k.inside) << k.what;
    // Outside the rectangle (and its right and bottom edges) nothing changes.
    EXPECT_EQ(bmp.Pixel(1, 1), RGB(255, 255, 255)) << k.what;
    EXPECT_EQ(bmp.Pixel(10, 10), RGB(255, 255, 255)) << k.what;
  }
}

TEST_F(PartsTest, FormStyleFollowsNewAndRemovedSkins) {
  test::WriteProviderSkin(Folder("P"), true);
  std::string text = qv::testing::ReadFile(Folder("P") + "/Options.dat");
  // A child section whose masks come from FORM one level up, and a grandchild that finds none.
  text += "[CHILD]\nParentClassName=FORM\n[GRANDCHILD]\nParentClassName=CHILD\n";
  Options("P", text);
  manager->SetSkinName("P");
  auto* bordered = Create<TForm>(Application());
  bordered->SetBounds(100, 100, 200, 120);
  bordered->SetBorderIcons(biSystemMenu | biMinimize);
  auto* provider = Create<TsSkinProvider>(bordered);
  provider->AfterConstruction();
  bordered->AfterConstruction();
  bordered->Show();
  Pump();
  TsPassivePaintStyle& style = provider->sStyle();
  ASSERT_GE(style.SkinIndex, 0);
  const int formMask = GetMaskIndex(style.SkinIndex, "FORM", "BORDERSMASK");
  EXPECT_EQ(style.BorderIndex, formMask);
  EXPECT_EQ(provider->CaptionButtonAt(0).ImageIndex,
            GetMaskIndex(style.SkinIndex, "FORM", "BICONMIN"));
  EXPECT_EQ(bordered->BorderIcons(), 0u);  // the skin draws the buttons
  // A procedure put over the provider's is moved below it again by a new skin.
  const SubclassId over = SubclassWindow(
      bordered->Handle(), [](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
        return inherited(h, m, w, l);
      });
  EXPECT_FALSE(provider->HookedOnTop());
  manager->UpdateSkin();
  EXPECT_TRUE(provider->HookedOnTop());
  // The form's main menu follows the skin, and lets go of it when the skin goes.
  auto* menu = Create<TMainMenu>(bordered);
  auto* top = Create<TMenuItem>(menu);
  top->SetCaption("&File");
  menu->Items()->Add(top);
  bordered->SetMenu(menu);
  manager->UpdateSkin();
  Pump();
  EXPECT_TRUE(bool(top->OnAdvancedDrawItem));
  TsPassivePaintStyle child(nullptr);
  child.SkinSection = "CHILD";
  child.SkinIndex = GetSkinIndex("CHILD");
  EXPECT_EQ(child.GetMaskIndex("CHILD", "BORDERSMASK"), formMask);
  child.SkinSection = "GRANDCHILD";
  child.SkinIndex = GetSkinIndex("GRANDCHILD");
  EXPECT_EQ(child.GetMaskIndex("GRANDCHILD", "BORDERSMASK"), -1);

  // Another group is not heard; a style without a provider keeps its indexes on removal.
  const int heldIndex = style.SkinIndex, heldBorder = style.BorderIndex;
  ASSERT_GE(heldIndex, 0);
  style.GroupIndex = 5;
  TMessage other{SKM_BEFORECHANGE, 0, 0, 0};
  style.WndProc(other);
  EXPECT_EQ(style.SkinIndex, heldIndex);
  EXPECT_EQ(style.BorderIndex, heldBorder);
  style.GroupIndex = 0;
  TsPassivePaintStyle loose(nullptr);
  loose.SkinIndex = 3;
  TMessage removed{SKM_REMOVESKIN, 0, 0, 0};
  loose.WndProc(removed);
  EXPECT_EQ(loose.SkinIndex, 3);

  // A form that had no border icons of its own gets a new window when the skin goes, so
  // that the window system's frame comes back.
  auto* plain = Create<TForm>(Application());
  plain->SetBounds(320, 100, 120, 80);
  plain->SetBorderIcons(0);
  Create<TsSkinProvider>(plain)->AfterConstruction();
  plain->AfterConstruction();
  plain->Show();
  Pump();
  int destroyed = 0;
  const auto plainProc = plain->WindowProc;
  plain->WindowProc = [&](TMessage& m) {
    if (m.Msg == WM_DESTROY) ++destroyed;
    plainProc(m);
  };

  // The skin goes: indexes dropped, the form's own border icons back.
  provider->NeedRepaint = false;
  manager->SetActive(false);
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(plain->HandleAllocated());
  Pump();
  EXPECT_EQ(style.SkinIndex, -1);
  EXPECT_EQ(style.BorderIndex, -1);
  EXPECT_EQ(bordered->BorderIcons(), biSystemMenu | biMinimize);
  EXPECT_FALSE(bool(top->OnAdvancedDrawItem));
  manager->SetActive(true);
  Pump();
  EXPECT_EQ(bordered->BorderIcons(), 0u);
  RemoveWindowSubclass(bordered->Handle(), over);
  plain->WindowProc = plainProc;
  Free(plain);
  Free(bordered);
}

// ---- the skin manager --------------------------------------------------------------------

TEST_F(PartsTest, MainMenuJoiningLaterIsHookedAndUnhookedWhenItLeaves) {
  test::WriteProviderSkin(Folder("P"), false);
  manager->SetSkinName("P");
  ShowForm(form);
  struct Case {
    const char* what;
    bool destroy;
  };
  for (const Case c : {Case{"moved to another owner", false}, Case{"destroyed", true}}) {
    auto* menu = Create<TMainMenu>(form);
    auto* top = Create<TMenuItem>(menu);
    top->SetCaption("&File");
    menu->Items()->Add(top);
    Pump();  // the manager looks at it once its constructor is through
    EXPECT_EQ(manager->HookedMenus(), std::vector<TMainMenu*>{menu}) << c.what;
    EXPECT_TRUE(bool(top->OnAdvancedDrawItem)) << c.what;
    if (c.destroy) {
      Free(menu);
    } else {
      form->RemoveComponent(menu);
      EXPECT_FALSE(bool(top->OnAdvancedDrawItem)) << c.what;
      delete menu;
    }
    EXPECT_TRUE(manager->HookedMenus().empty()) << c.what;
  }
}

TEST_F(PartsTest, ChangeImageLeavesNoStaleIndexBehind) {
  // FORM has a bitmap background; a JPEG in its place removes the bitmap, and every mask
  // after it moves down one place. The button's cached border index must follow.
  Bmp("S", "form.bmp", 4, 4);
  Bmp("S", "border.bmp", 27, 18);
  Options("S", "[FORM]\nIMAGEFILE=form.bmp\n[TSBUTTON]\nBORDERSMASK=border.bmp\n");
  manager->SetSkinName("S");
  auto* b = Add<TsButton>(form, {0, 0, 75, 25});
  ShowForm(form);
  const int before = b->sStyle()->BorderIndex;
  ASSERT_GE(before, 1);
  const std::string jpg = Jpeg("S", "new.jpg", 6, 6);
  EXPECT_FALSE(manager->ChangeImage("FORM", "IMAGEFILE", jpg));
  const int fresh = GetMaskIndex(GetSkinIndex("TSBUTTON"), "TSBUTTON", "BORDERSMASK");
  EXPECT_EQ(fresh, before - 1);
  EXPECT_EQ(b->sStyle()->BorderIndex, fresh);
}

}  // namespace
}  // namespace qv
