// The form provider and the skinned scroll bar on the headless back end: frame geometry,
// caption buttons, hit testing, the system menu, the window region, the scroll bar's parts,
// repeat timers and range check, and goldens of a bordered form and a scroll bar.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <limits>
#include <sstream>

#include "platform/classlib/extctrls.h"
#include "platform/classlib/menubar.h"
#include "platform/classlib/menus.h"
#include "platform/gfx/bmp_codec.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"
#include "skin/sbordermasks.h"
#include "skin/sbuttons.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
#include "skin/sscrollbar.h"
#include "skin/sskinprovider.h"
#include "tests/skin/paint_test_util.h"
#include "tests/skin/provider_fixture.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::kCloseGlyph;
using test::kFormColor;
using test::kMinGlyph;
using test::kNormGlyph;
using test::kTitleActive;
using test::kTitleInactive;
using test::Through;

class ProviderTest : public test::SkinTest {
 protected:
  void SetUp() override {
    SkinTest::SetUp();
    WriteSkin("P", true);
    manager->SetSkinName("P");
    ASSERT_TRUE(SkinData.Active);
  }

  void WriteSkin(const std::string& skin, bool glyphs) {
    test::WriteProviderSkin(Folder(skin), glyphs);
  }

  TsSkinProvider* MakeProvided(TFormBorderStyle style, TBorderIcons icons, int w = 200,
                               int h = 120) {
    bordered = Create<TForm>(Application());
    bordered->SetBorderStyle(style);
    bordered->SetBounds(100, 100, w, h);
    bordered->SetCaption("Form");
    auto* p = Create<TsSkinProvider>(bordered);
    p->SetBorderIcons(icons);
    p->AfterConstruction();
    bordered->AfterConstruction();
    bordered->Show();
    Pump();
    return p;
  }
  Point Screen(Point window) {
    Rect r;
    EXPECT_TRUE(GetWindowRect(bordered->Handle(), r));
    return {r.Left + window.X, r.Top + window.Y};
  }
  LRESULT HitAt(Point window) {
    const Point s = Screen(window);
    return SendMessage(bordered->Handle(), WM_NCHITTEST, 0,
                       LPARAM(std::uint16_t(s.X) | (std::uint32_t(std::uint16_t(s.Y)) << 16)));
  }
  void ClickAt(Point window) {
    const Point s = Screen(window);
    headless->InjectMouseMove(s);
    headless->InjectButton(s, MouseButton::Left, true);
    Pump();
    headless->InjectButton(s, MouseButton::Left, false);
    Pump();
  }
  static Point Centre(const Rect& r) { return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2}; }

  TForm* bordered = nullptr;
};

TEST_F(ProviderTest, FrameBandsFollowTheBorderStyle) {
  // Window 200 x 120: the client area the provider asks for with WM_NCCALCSIZE.
  struct Case {
    TFormBorderStyle style;
    Rect client;  // in window coordinates
  };
  for (const Case& c : {Case{TFormBorderStyle::bsNone, {0, 1, 200, 120}},
                        Case{TFormBorderStyle::bsSingle, {3, 23, 197, 117}},
                        Case{TFormBorderStyle::bsSizeable, {4, 24, 196, 116}},
                        Case{TFormBorderStyle::bsDialog, {3, 23, 197, 117}},
                        Case{TFormBorderStyle::bsToolWindow, {3, 19, 197, 116}},
                        Case{TFormBorderStyle::bsSizeToolWin, {4, 20, 196, 116}}}) {
    TsSkinProvider* p = MakeProvided(c.style, biSystemMenu);
    Rect client;
    ASSERT_TRUE(GetClientRect(bordered->Handle(), client));
    Point origin{0, 0};
    ASSERT_TRUE(ClientToScreen(bordered->Handle(), origin));
    const Point at = Screen({0, 0});
    EXPECT_EQ(client.Offset(origin.X - at.X, origin.Y - at.Y), c.client) << int(c.style);
    EXPECT_EQ(p->ClientOrigin(), (Point{c.client.Left, c.client.Top})) << int(c.style);
    delete bordered;
  }
}

TEST_F(ProviderTest, BorderlessFormPassesHitTestsAndPaintsTheFormSectionOnly) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsNone, 0, 120, 80);
  EXPECT_EQ(HitAt({60, 40}), HTCLIENT);
  EXPECT_EQ(SendMessage(bordered->Handle(), WM_ERASEBKGND, 0, 0), 1);
  const Bitmap shot = SnapshotWindow(bordered->Handle());
  // No title and no border mask: the FORM colour to the very edge.
  for (Point q : {Point{0, 0}, Point{119, 79}, Point{60, 5}, Point{2, 40}})
    EXPECT_EQ(shot.Pixel(q.X, q.Y), kFormColor) << q.X << "," << q.Y;
  EXPECT_EQ(SendMessage(bordered->Handle(), SKM_GETPROVIDER, 0, 0), LRESULT(p));
  Region region;
  EXPECT_EQ(GetWindowRgn(bordered->Handle(), region), NULLREGION);
}

TEST_F(ProviderTest, ProviderReadWithStoredFormDataTakesOverOnLoaded) {
  bordered = Create<TForm>(Application());
  TsSkinProvider* p = nullptr;
  ReadFormData(bordered, [&] {
    bordered->SetBorderStyle(TFormBorderStyle::bsSingle);
    bordered->SetBounds(100, 100, 200, 120);
    p = Create<TsSkinProvider>(bordered);
    p->BeginLoading();
  });
  EXPECT_EQ(SendMessage(bordered->Handle(), SKM_GETPROVIDER, 0, 0), LRESULT(p));
  EXPECT_EQ(p->SystemMenu().Items()->Items(0)->Caption(), "Available skins");
}

// The main window's order: the provider first, the manager later in the same form data. The
// provider takes the manager once the data is read, and forgets it when the manager goes
// first (the form frees its components newest first).
TEST_F(ProviderTest, ManagerMadeAfterTheProviderIsTakenAndForgotten) {
  const std::string folder = manager->SkinDirectory();
  Free(manager);
  manager = nullptr;
  bordered = Create<TForm>(Application());
  TsSkinProvider* p = nullptr;
  TsSkinManager* later = nullptr;
  ReadFormData(bordered, [&] {
    bordered->SetBorderStyle(TFormBorderStyle::bsNone);
    bordered->SetBounds(100, 100, 120, 80);
    p = Create<TsSkinProvider>(bordered);
    p->BeginLoading();
    later = Create<TsSkinManager>(bordered);
    later->SetSkinDirectory(folder);
    later->SetSkinName("P");
  });
  EXPECT_EQ(p->SkinManager(), later);
  bordered->AfterConstruction();
  bordered->Show();
  Pump();
  EXPECT_TRUE(p->Acting());
  EXPECT_EQ(SnapshotWindow(bordered->Handle()).Pixel(60, 40), kFormColor);
  Free(later);
  EXPECT_EQ(p->SkinManager(), nullptr);
  EXPECT_FALSE(p->Acting());
}

// A provider that hears of its manager from a new skin forgets it when it goes.
TEST_F(ProviderTest, ManagerTakenFromANewSkinIsForgottenWhenItGoes) {
  const std::string folder = manager->SkinDirectory();
  Free(manager);
  manager = nullptr;
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu);
  ASSERT_EQ(p->SkinManager(), nullptr);
  auto* later = Create<TsSkinManager>(form);
  later->SetSkinDirectory(folder);
  later->SetSkinName("P");
  Pump();
  ASSERT_EQ(p->SkinManager(), later);  // told by the form style
  Free(later);
  EXPECT_EQ(p->SkinManager(), nullptr);
}

TEST_F(ProviderTest, BorderlessFormWithMenuGetsTheMenuLineOnly) {
  bordered = Create<TForm>(Application());
  bordered->SetBorderStyle(TFormBorderStyle::bsNone);
  bordered->SetBounds(100, 100, 160, 80);
  auto* menu = Create<TMainMenu>(bordered);
  std::vector<Rect> drawn;
  for (const char* caption : {"File", "Edit"}) {
    auto* item = Create<TMenuItem>(bordered);
    item->SetCaption(caption);
    item->OnMeasureItem = [](TComponent*, TCanvas&, int& w, int& h) {
      w = 30;
      h = 18;
    };
    item->OnAdvancedDrawItem = [&](TComponent*, TCanvas&, const Rect& r, TOwnerDrawState) {
      drawn.push_back(r);
    };
    menu->Items()->Add(item);
  }
  bordered->SetMenu(menu);
  auto* p = ShowWithProvider(bordered);
  // One line of SM_CYMENU - 1 rows and one more; items 30 + 12 wide from the left.
  EXPECT_EQ(p->ClientOrigin(), (Point{0, 19}));
  ASSERT_GE(drawn.size(), 2u);
  EXPECT_EQ(drawn[0], Rect(0, 0, 42, 18));
  EXPECT_EQ(drawn[1], Rect(42, 0, 84, 18));
  const Bitmap shot = SnapshotWindow(bordered->Handle());
  EXPECT_EQ(shot.Pixel(150, 5), test::kMenuLine);
  EXPECT_EQ(shot.Pixel(150, 18), test::kMenuLine);
  EXPECT_EQ(shot.Pixel(150, 19), kFormColor);
}

// The title and the menu line take what their masks leave see-through from the form's image
// as the client area's controls do, at the client origin (the menu line also at its own row).
TEST_F(ProviderTest, TitleAndMenuLineSeeTheFormImageAtTheClientOrigin) {
  WriteSkin("Q", true);
  std::string options = qv::testing::ReadFile(Folder("Q") + "/Options.dat");
  const std::string line = "[MENULINE]\n";
  options.insert(options.find(line) + line.size(), "BORDERSMASK=title.bmp\n");
  Options("Q", options);
  manager->SetSkinName("Q");
  ASSERT_TRUE(SkinData.Active);
  bordered = Create<TForm>(Application());
  bordered->SetBorderStyle(TFormBorderStyle::bsSingle);
  bordered->SetBounds(100, 100, 200, 200);
  auto* menu = Create<TMainMenu>(bordered);
  auto* item = Create<TMenuItem>(bordered);
  item->SetCaption("File");
  item->OnMeasureItem = [](TComponent*, TCanvas&, int& w, int& h) {
    w = 30;
    h = 18;
  };
  item->OnAdvancedDrawItem = [](TComponent*, TCanvas&, const Rect&, TOwnerDrawState) {};
  menu->Items()->Add(item);
  bordered->SetMenu(menu);
  TsSkinProvider* p = ShowWithProvider(bordered);
  const Bitmap& cache = p->sStyle().CacheBmp.Image();
  const int top = p->SysBorderWidth() + p->CaptionHeight();
  // The masks' see-through top corners; the form's own colour lies under the client origin
  // (and under the menu line's shifted place) when the title and the menu line are painted.
  EXPECT_EQ(cache.Pixel(0, 0), kFormColor);
  EXPECT_EQ(cache.Pixel(0, top), kFormColor);
  // The menu line's see-through pixel lies its own row further down: on a form that ends
  // right below the client origin's row that place is outside the image and its own colour
  // stays.
  const int originRow = p->ClientOrigin().Y + top;
  bordered->SetBounds(100, 100, 200, originRow + 1);
  Pump();
  ASSERT_EQ(cache.Height(), originRow + 1);
  EXPECT_EQ(cache.Pixel(0, top), test::kMenuLine);
}

TEST_F(ProviderTest, SingleFormWithMinimizeButtonLaysOutAndMinimises) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu | biMinimize);
  // R = 200 - 3; 14 x 14 buttons, top (3 + 19 - 14) / 2 = 4.
  EXPECT_EQ(p->Button(HTCLOSE).Rect, Rect(182, 4, 196, 18));
  EXPECT_EQ(p->Button(HTMINBUTTON).Rect, Rect(167, 4, 181, 18));
  EXPECT_TRUE(p->Button(HTMAXBUTTON).Rect.IsEmpty());
  const Bitmap shot = SnapshotWindow(bordered->Handle());
  EXPECT_EQ(shot.Pixel(188, 10), kCloseGlyph);
  EXPECT_EQ(shot.Pixel(173, 10), kMinGlyph);
  EXPECT_EQ(shot.Pixel(120, 10), Through(kTitleActive));

  EXPECT_EQ(HitAt({173, 10}), HTMINBUTTON);
  EXPECT_EQ(p->HotButton(), HTMINBUTTON);
  EXPECT_EQ(HitAt({100, 10}), HTCAPTION);
  EXPECT_EQ(p->HotButton(), 0);
  EXPECT_EQ(HitAt({10, 10}), HTSYSMENU);
  // Removal of the border icons leaves the form without the system's own buttons.
  EXPECT_EQ(bordered->BorderIcons(), 0u);

  ClickAt({173, 10});
  EXPECT_TRUE(IsIconic(bordered->Handle()));
  EXPECT_EQ(bordered->WindowState(), TWindowState::wsMinimized);
}

TEST_F(ProviderTest, MaximisedFormShowsRestoreGlyphAndIsTransparentAtTheEdge) {
  TsSkinProvider* p =
      MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize | biMaximize);
  EXPECT_FALSE(p->Button(HTMAXBUTTON).Rect.IsEmpty());
  // The frame's edges size the window as the window system has them.
  EXPECT_EQ(HitAt({1, 60}), HTLEFT);
  EXPECT_EQ(HitAt({199, 119}), HTBOTTOMRIGHT);
  EXPECT_EQ(HitAt({100, 60}), HTCLIENT);
  ClickAt(Centre(p->Button(HTMAXBUTTON).Rect));
  ASSERT_EQ(bordered->WindowState(), TWindowState::wsMaximized);
  Pump();
  const Rect max = p->Button(HTMAXBUTTON).Rect;
  const Bitmap shot = SnapshotWindow(bordered->Handle());
  EXPECT_EQ(shot.Pixel(max.Left + 7, max.Top + 7), kNormGlyph);
  const int w = bordered->Width();
  EXPECT_EQ(HitAt({1, 100}), HTTRANSPARENT);
  EXPECT_EQ(HitAt({w - 2, 100}), HTTRANSPARENT);
  EXPECT_EQ(HitAt({w / 2, 10}), HTCAPTION);
  // A press on the title does not start a move.
  const Point s = Screen({w / 2, 10});
  EXPECT_EQ(SendMessage(bordered->Handle(), WM_NCLBUTTONDOWN, HTCAPTION,
                        LPARAM(std::uint16_t(s.X) | (std::uint32_t(std::uint16_t(s.Y)) << 16))),
            1);
  // The restore glyph's button restores.
  ClickAt(Centre(p->Button(HTMAXBUTTON).Rect));
  EXPECT_EQ(bordered->WindowState(), TWindowState::wsNormal);
}

TEST_F(ProviderTest, IconicRegionIsCutFor160PixelsAndCloseButtonCloses) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize);
  // Title's top corners cut from the region: one pixel at each end of the first row.
  EXPECT_EQ(p->CutRects(), (std::vector<Rect>{{0, 0, 1, 1}, {199, 0, 200, 1}}));
  Region region;
  ASSERT_NE(GetWindowRgn(bordered->Handle(), region), NULLREGION);
  EXPECT_FALSE(region.Contains({0, 0}));
  EXPECT_TRUE(region.Contains({1, 0}));
  bordered->SetWindowState(TWindowState::wsMinimized);
  Pump();
  SendMessage(bordered->Handle(), WM_NCPAINT, 0, 0);
  EXPECT_EQ(p->CutRects(), (std::vector<Rect>{{0, 0, 1, 1}, {159, 0, 160, 1}}));
  bordered->SetWindowState(TWindowState::wsNormal);
  Pump();
  bool closed = false;
  bordered->OnClose = [&](TComponent*, TCloseAction& action) {
    closed = true;
    action = TCloseAction::caHide;
  };
  ClickAt(Centre(p->Button(HTCLOSE).Rect));
  Pump();
  EXPECT_TRUE(closed);
}

TEST_F(ProviderTest, SkinWithoutGlyphsShowsNoButtons) {
  WriteSkin("Bare", false);
  manager->SetSkinName("Bare");
  TsSkinProvider* p =
      MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize | biMaximize);
  for (int code : {HTCLOSE, HTMAXBUTTON, HTMINBUTTON, HTHELP})
    EXPECT_TRUE(p->Button(code).Rect.IsEmpty()) << code;
  EXPECT_EQ(HitAt({190, 12}), HTCAPTION);
  EXPECT_EQ(SnapshotWindow(bordered->Handle()).Pixel(150, 12), Through(kTitleActive));
}

TEST_F(ProviderTest, SystemMenuItemsFollowTheBorderStyle) {
  struct Case {
    TFormBorderStyle style;
    const char* visible;  // Restore Move Size Minimize Maximize Close
  };
  for (const Case& c :
       {Case{TFormBorderStyle::bsDialog, "010001"}, Case{TFormBorderStyle::bsSizeable, "111111"},
        Case{TFormBorderStyle::bsSingle, "111101"}, Case{TFormBorderStyle::bsSizeToolWin, "011001"},
        Case{TFormBorderStyle::bsToolWindow, "010001"}}) {
    TsSkinProvider* p = MakeProvided(c.style, biSystemMenu | biMinimize | biMaximize);
    TsSystemMenu& m = p->SystemMenu();
    m.UpdateItems();
    std::string got;
    for (TMenuItem* i :
         {m.ItemRestore, m.ItemMove, m.Itemsize, m.ItemMinimize, m.ItemMaximize, m.ItemClose})
      got += i->Visible() ? '1' : '0';
    EXPECT_EQ(got, c.visible) << int(c.style);
    EXPECT_FALSE(m.ItemRestore->Enabled());  // a normal form has nothing to restore
    delete bordered;
  }
}

// The system menu pops up in the skin's menu look, as the form's other menus do.
TEST_F(ProviderTest, SystemMenuIsSkinnedLikeTheFormsMenus) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize);
  SendMessage(bordered->Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  Pump();
  TsSystemMenu& m = p->SystemMenu();
  EXPECT_TRUE(m.OwnerDraw());
  EXPECT_TRUE(m.ItemClose->OnAdvancedDrawItem);
  const Bitmap shot = PopupShot(&m, m.Items());
  ASSERT_GT(shot.Width(), 0);
  int skinned = 0;
  for (int y = 0; y < shot.Height(); ++y)
    for (int x = 0; x < shot.Width(); ++x) skinned += shot.Pixel(x, y) == test::kMenuBack ? 1 : 0;
  EXPECT_GT(skinned, shot.Width() * shot.Height() / 2);
}

// The client area under a skinned menu line is what the controls and the skinned bars are
// laid out in: measured from the window system's client rectangle and the child windows'
// places, not from the form's own idea of its frame.
TEST_F(ProviderTest, ControlsAndBarsFitTheClientAreaUnderTheMenuLine) {
  bordered = Create<TForm>(Application());
  bordered->SetBorderStyle(TFormBorderStyle::bsSizeable);
  bordered->SetBounds(100, 100, 520, 380);
  bordered->SetCaption("Menu");
  auto* menu = Create<TMainMenu>(bordered);
  auto* file = Create<TMenuItem>(menu);
  file->SetCaption("File");
  menu->Items()->Add(file);
  bordered->SetMenu(menu);
  auto* bottom = Create<TPanel>(bordered);
  bottom->SetParent(bordered);
  bottom->SetHeight(30);
  bottom->SetAlign(TAlign::alBottom);
  auto* far = Create<TPanel>(bordered);
  far->SetParent(bordered);
  far->SetBounds(10, 10, 50, 20);
  TsSkinProvider* p = ShowWithProvider(bordered);
  SendMessage(bordered->Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  Pump();
  ASSERT_TRUE(p->HasMenu());
  Rect real;
  ASSERT_TRUE(GetClientRect(bordered->Handle(), real));
  EXPECT_EQ(real.Height(), 380 - p->ClientOrigin().Y - p->SysBorderWidth());
  EXPECT_EQ(bordered->ClientRect(), real);
  // Where a child window lies, in the form's client coordinates.
  auto placed = [&](TWinControl* c) {
    Rect r;
    EXPECT_TRUE(GetWindowRect(c->Handle(), r));
    Point o{0, 0};
    ClientToScreen(bordered->Handle(), o);
    return r.Offset(-o.X, -o.Y);
  };
  EXPECT_EQ(placed(bottom).Bottom, real.Bottom);
  // Both bars: each runs along its edge of the real client area, inside it.
  far->SetBounds(700, 500, 50, 20);
  p->UpdateFormScrollBars();
  ASSERT_NE(p->VertBar(), nullptr);
  ASSERT_NE(p->HorzBar(), nullptr);
  EXPECT_EQ(placed(p->HorzBar()).Bottom, real.Bottom);
  EXPECT_EQ(placed(p->VertBar()).Right, real.Right);
  EXPECT_EQ(placed(p->VertBar()).Bottom, placed(p->HorzBar()).Top);
  // And the pixels: the horizontal bar shows at the bottom of the window's client part.
  const Bitmap shot = SnapshotWindow(bordered->Handle());
  const Point o = p->ClientOrigin();
  EXPECT_NE(shot.Pixel(o.X + 100, o.Y + real.Bottom - 8), kFormColor);
}

// Right to left the vertical bar runs down the left edge from (1, 1), the horizontal one
// starts right of it, and the caption is written from the right.
TEST_F(ProviderTest, RightToLeftFormPutsItsBarLeftAndItsCaptionRight) {
  bordered = Create<TForm>(Application());
  bordered->SetBorderStyle(TFormBorderStyle::bsSizeable);
  bordered->SetBounds(100, 100, 240, 160);
  bordered->SetCaption("Caption");
  bordered->SetBiDiMode(TBiDiMode::bdRightToLeft);
  auto* far = Create<TPanel>(bordered);
  far->SetParent(bordered);
  far->SetBounds(10, 10, 50, 20);
  TsSkinProvider* p = ShowWithProvider(bordered);
  far->SetBounds(700, 500, 50, 20);
  p->UpdateFormScrollBars();
  ASSERT_NE(p->VertBar(), nullptr);
  ASSERT_NE(p->HorzBar(), nullptr);
  const Rect client = bordered->ClientRect();
  const int thickV = GetSystemMetrics(SM_CXVSCROLL);
  const int thickH = GetSystemMetrics(SM_CYHSCROLL);
  EXPECT_EQ(p->VertBar()->BoundsRect(), Rect(1, 1, 1 + thickV, client.Height() - thickH - 1));
  EXPECT_EQ(p->HorzBar()->BoundsRect(),
            Rect(1 + thickV, client.Height() - thickH, client.Width(), client.Height()));
  EXPECT_EQ(p->HorzBar()->DirectionFactor(), -1);
  EXPECT_EQ(p->VertBar()->DirectionFactor(), 1);
  // The caption's text sits at the right end of its room, before the buttons.
  const Bitmap shot = SnapshotWindow(bordered->Handle());
  const int top = p->SysBorderWidth();
  auto textIn = [&](int from, int to) {
    int n = 0;
    for (int x = from; x < to; ++x)
      for (int y = top + 2; y < top + p->CaptionHeight() - 2; ++y)
        n += shot.Pixel(x, y) == RGB(255, 255, 255) ? 1 : 0;
    return n;
  };
  const int right = 240 - 3 * p->Button(HTCLOSE).Rect.Width() - 16;
  EXPECT_GT(textIn(right - 60, right), 0);
  EXPECT_EQ(textIn(p->SysBorderHeight() + 20, right - 80), 0);
}

// The main menu's items are hooked when the window is made and when an item is measured,
// and a change of the system colours draws the menu line again.
TEST_F(ProviderTest, MenuMessagesHookItemsAndRefreshTheMenuLine) {
  bordered = Create<TForm>(Application());
  bordered->SetBorderStyle(TFormBorderStyle::bsSizeable);
  bordered->SetBounds(100, 100, 240, 120);
  bordered->SetCaption("Menu");
  auto* menu = Create<TMainMenu>(bordered);
  auto* file = Create<TMenuItem>(menu);
  file->SetCaption("File");
  menu->Items()->Add(file);
  auto* open = Create<TMenuItem>(menu);
  open->SetCaption("Open");
  file->Add(open);
  bordered->SetMenu(menu);
  ShowWithProvider(bordered);
  SendMessage(bordered->Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  Pump();
  ASSERT_TRUE(file->OnAdvancedDrawItem);
  const HWND h = bordered->Handle();
  struct Case {
    const char* what;
    TMenuItem* item;
    std::function<void()> send;
  };
  MEASUREITEMSTRUCT mis;
  mis.CtlType = ODT_MENU;
  const Case cases[] = {
      {"created", file, [&] { SendMessage(h, WM_CREATE, 0, 0); }},
      {"bar item measured", file,
       [&] {
         mis.itemID = UINT(file->Command());
         SendMessage(h, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis));
       }},
      {"popup item measured", open,
       [&] {
         mis.itemID = UINT(open->Command());
         SendMessage(h, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.item->OnAdvancedDrawItem = nullptr;
    c.item->OnMeasureItem = nullptr;
    c.send();
    EXPECT_TRUE(c.item->OnAdvancedDrawItem);
    EXPECT_TRUE(c.item->OnMeasureItem);
  }
  // New colours for the menu line: painted once the system says its colours changed.
  TsGeneralData& line = SkinSections[std::size_t(GetSkinIndex("MENULINE"))];
  line.PaintingColor = line.HotPaintingColor = TColor(RGB(20, 140, 90));
  Pump();
  TsSkinProvider* p = GetSkinProvider(bordered);
  const int lineY = p->SysBorderWidth() + p->CaptionHeight() + 4;
  EXPECT_EQ(SnapshotWindow(h).Pixel(200, lineY), test::kMenuLine);
  SendMessage(h, WM_SYSCOLORCHANGE, 0, 0);
  Pump();
  EXPECT_EQ(SnapshotWindow(h).Pixel(200, lineY), RGB(20, 140, 90));
  // A menu item the form takes in gets the skin's handlers; let go of, it loses them.
  auto* help = new TMenuItem(nullptr);
  help->SetCaption("Help");
  menu->Items()->Add(help);
  bordered->InsertComponent(help);
  EXPECT_TRUE(help->OnAdvancedDrawItem);
  EXPECT_TRUE(help->OnMeasureItem);
  bordered->RemoveComponent(help);
  EXPECT_FALSE(help->OnAdvancedDrawItem);
  EXPECT_FALSE(help->OnMeasureItem);
  delete help;
}

TEST_F(ProviderTest, AvailableSkinsSubmenuSwitchesTheSkin) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu);
  p->SystemMenu().MakeSkinItems();
  TMenuItem* first = p->SystemMenu().Items()->Items(0);
  ASSERT_EQ(first->Caption(), "Available skins");
  ASSERT_EQ(first->Count(), 1);  // the folder "P"
  EXPECT_EQ(first->Items(0)->Name(), "SkinSelectItem0");
  manager->SetSkinName("");
  first->Items(0)->Click();
  EXPECT_EQ(manager->SkinName(), "P");

  // A manager with no skins to list: no submenu.
  delete bordered;
  manager->SetSkinDirectory(skins.path() + "/none");
  TsSkinProvider* q = MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu);
  q->SystemMenu().MakeSkinItems();
  EXPECT_EQ(q->SystemMenu().Items()->Items(0)->Caption(), "Restore");
}

TEST_F(ProviderTest, CaptionChangeRepaintsTheTitle) {
  MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu);
  const Bitmap before = SnapshotWindow(bordered->Handle());
  bordered->SetCaption("Another caption that is long enough to be cut short");
  Pump();
  const Bitmap after = SnapshotWindow(bordered->Handle());
  EXPECT_FALSE(test::SamePixels(before, after));
}

TEST_F(ProviderTest, FormScrollBarsFollowTheControls) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu, 200, 150);
  auto* far = Create<TPanel>(bordered);
  far->SetParent(bordered);
  far->SetBounds(10, 300, 50, 20);
  p->UpdateFormScrollBars();
  ASSERT_NE(p->VertBar(), nullptr);
  EXPECT_EQ(p->HorzBar(), nullptr);
  EXPECT_EQ(p->VertBar()->Left(), bordered->ClientWidth() - 16);
  p->VertBar()->SetPosition(100);
  EXPECT_EQ(far->Top(), 200);
  // Disabled while its form is enabled: no thumb, the whole bar in the disabled look.
  TsScrollBar* v = p->VertBar();
  const int mid = v->Height() / 2;
  v->SetEnabled(false);
  const Bitmap off = v->RenderSkinned();
  EXPECT_EQ(off.Pixel(8, mid), off.Pixel(8, 20));  // track where the thumb would be
  v->SetEnabled(true);
  const Bitmap on = v->RenderSkinned();
  const Rect thumb = v->PartRect(sbpThumb);
  EXPECT_NE(on.Pixel(8, thumb.Top), on.Pixel(8, thumb.Top - 10));
  EXPECT_NE(on.Pixel(3, 3), off.Pixel(3, 3));  // the button, faded when disabled
  // Both directions: the bars leave the corner to the skinned grip, which sizes the form.
  far->SetBounds(400, 200, 50, 20);
  p->UpdateFormScrollBars();
  ASSERT_NE(p->HorzBar(), nullptr);
  const int cw = bordered->ClientWidth(), ch = bordered->ClientHeight();
  EXPECT_EQ(p->VertBar()->BoundsRect(), Rect(cw - 16, 0, cw, ch - 16));
  EXPECT_EQ(p->HorzBar()->BoundsRect(), Rect(0, ch - 16, cw - 16, ch));
  auto* grip = dynamic_cast<TsGrip*>(bordered->ControlAtPos({cw - 8, ch - 8}, true));
  ASSERT_NE(grip, nullptr);
  EXPECT_EQ(grip->Form, bordered);
  EXPECT_EQ(grip->BoundsRect(), Rect(cw - 16, ch - 16, cw, ch));
  far->SetBounds(10, -80, 50, 20);  // fits again: the bar goes and the offset is undone
  p->UpdateFormScrollBars();
  EXPECT_EQ(p->VertBar(), nullptr);
  EXPECT_EQ(p->HorzBar(), nullptr);
  EXPECT_EQ(far->Top(), 20);
  EXPECT_EQ(far->Left(), 10);
}

TEST_F(ProviderTest, GoldenTitleBarActiveInactiveHotPressed) {
  TsSkinProvider* p =
      MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize | biMaximize, 180, 50);
  std::vector<Bitmap> shots;
  shots.push_back(SnapshotWindow(bordered->Handle()));
  SendMessage(bordered->Handle(), WM_NCACTIVATE, 0, 0);
  shots.push_back(SnapshotWindow(bordered->Handle()));
  SendMessage(bordered->Handle(), WM_NCACTIVATE, 1, 0);
  p->SetHotButton(HTCLOSE);
  shots.push_back(SnapshotWindow(bordered->Handle()));
  // The pointer is not really there: the window's leave, queued by the lit button, comes
  // before the press, which would handle it.
  Pump();
  p->SetPressedButton(HTMINBUTTON);
  shots.push_back(SnapshotWindow(bordered->Handle()));
  Bitmap sheet(180, 4 * 50);
  DC dst(&sheet);
  for (int i = 0; i < 4; ++i) {
    DC src(&shots[std::size_t(i)]);
    dst.BitBlt(0, 50 * i, 180, 50, src, 0, 0);
  }
  EXPECT_EQ(shots[1].Pixel(90, 10), Through(kTitleInactive));
  test::ExpectGolden(sheet, "provider_title");
}

TEST_F(ProviderTest, ActivationRepaintsOnlyTheTitleWhenTheSkinAsksForIt) {
  SkinSections[std::size_t(GetSkinIndex("FORM"))].ReservedBoolean = true;
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu);
  Bitmap& cache = p->sStyle().CacheBmp.Image();
  ASSERT_EQ(cache.Width(), 200);
  cache.SetPixel(50, 60, 0x00FFFF);  // a mark in the client part of the image
  SendMessage(bordered->Handle(), WM_NCACTIVATE, 0, 0);
  EXPECT_EQ(cache.Pixel(50, 60), 0x00FFFFu);  // only the title was painted again
  EXPECT_EQ(cache.Pixel(120, 10), Through(kTitleInactive));
  bordered->SetBounds(100, 100, 220, 120);  // a new size paints everything
  Pump();
  EXPECT_EQ(p->sStyle().CacheBmp.Image().Pixel(50, 60), kFormColor);
}

TEST_F(ProviderTest, SkinOffOrFreedProviderGivesTheFormItsFrameBack) {
  const auto clientHeight = [&] {
    Rect client;
    EXPECT_TRUE(GetClientRect(bordered->Handle(), client));
    return client.Height();
  };
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize);
  EXPECT_EQ(bordered->BorderIcons(), 0u);
  EXPECT_EQ(clientHeight(), 120 - 24 - 4);
  manager->SetActive(false);
  Pump();
  EXPECT_EQ(clientHeight(), 120 - 4 - 19 - 4);  // the window system's own bands
  EXPECT_EQ(bordered->BorderIcons(), unsigned(biSystemMenu | biMinimize | biMaximize));
  EXPECT_EQ(HitAt({188, 12}), HTCLOSE);  // the system's own close button
  manager->SetActive(true);
  Pump();
  EXPECT_EQ(clientHeight(), 120 - 24 - 4);
  Free(p);
  Pump();
  EXPECT_EQ(bordered->BorderIcons(), unsigned(biSystemMenu | biMinimize | biMaximize));
  Region region;
  EXPECT_EQ(GetWindowRgn(bordered->Handle(), region), NULLREGION);
  EXPECT_EQ(clientHeight(), 120 - 4 - 19 - 4);
}

// A form whose BorderIcons are the kept ones gets a new window when the skin goes off; the
// next skin still reaches the provider's form style, which hooks the new window.
TEST_F(ProviderTest, SkinComesBackAfterTheFormsWindowWasMadeAgain) {
  bordered = Create<TForm>(Application());
  bordered->SetBorderStyle(TFormBorderStyle::bsSizeable);
  bordered->SetBounds(100, 100, 200, 120);
  bordered->SetBorderIcons(0);
  auto* p = Create<TsSkinProvider>(bordered);
  p->AfterConstruction();
  bordered->AfterConstruction();
  bordered->Show();
  Pump();
  ASSERT_EQ(p->KeptBorderIcons(), 0u);
  ASSERT_TRUE(p->HookedOnTop());
  const HWND first = bordered->Handle();
  manager->SetActive(false);
  Pump();
  EXPECT_FALSE(p->HookedOnTop());
  EXPECT_NE(bordered->Handle(), first);  // made again for the system's own frame
  manager->SetActive(true);
  Pump();
  EXPECT_TRUE(p->HookedOnTop());
  EXPECT_GE(p->sStyle().SkinIndex, 0);
  Rect client;
  ASSERT_TRUE(GetClientRect(bordered->Handle(), client));
  EXPECT_EQ(client.Height(), 120 - 24 - 4);  // the skinned frame's bands
}

// A caption button lit by the pointer goes back to normal when the pointer leaves the
// window from it, and the window's own client-area tracking goes on beside it.
TEST_F(ProviderTest, HotButtonTurnsNormalWhenThePointerLeavesTheWindow) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu | biMinimize);
  const Point close = Centre(p->Button(HTCLOSE).Rect);
  int clientLeaves = 0;
  bordered->OnMouseLeave = [&](TComponent*) { ++clientLeaves; };
  headless->InjectMouseMove(Screen({100, 60}));  // the client area first
  Pump();
  // Leaving the client area lets every button go (its leave comes after the hit test of
  // the move): the next move onto the button lights it.
  headless->InjectMouseMove(Screen({close.X - 1, close.Y}));
  Pump();
  headless->InjectMouseMove(Screen(close));
  Pump();
  EXPECT_EQ(p->HotButton(), HTCLOSE);
  EXPECT_EQ(p->Button(HTCLOSE).State, 1);
  EXPECT_EQ(SnapshotWindow(bordered->Handle()).Pixel(close.X, close.Y), RGB(255, 60, 60));
  headless->InjectMouseMove(Screen({close.X, -40}));  // off the window, above it
  Pump();
  EXPECT_EQ(p->HotButton(), 0);
  EXPECT_EQ(p->Button(HTCLOSE).State, 0);
  EXPECT_EQ(SnapshotWindow(bordered->Handle()).Pixel(close.X, close.Y), kCloseGlyph);
  EXPECT_EQ(clientLeaves, 1);
}

// A transparent label placed straight on the form shows the form's new background after a
// skin change and after a resize.
TEST_F(ProviderTest, LabelOnTheFormFollowsTheNewBackground) {
  const COLORREF other = RGB(120, 200, 140);
  WriteSkin("Q", true);
  {
    std::ifstream in(Folder("Q") + "/Options.dat");
    std::stringstream text;
    text << in.rdbuf();
    std::string options = text.str();
    const std::string from = "PaintingColor=" + std::to_string(kFormColor);
    for (std::size_t at; (at = options.find(from)) != std::string::npos;)
      options.replace(at, from.size(), "PaintingColor=" + std::to_string(other));
    Options("Q", options);
  }
  MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu, 200, 120);
  auto* label = Create<TsLabel>(bordered);
  label->SetParent(bordered);
  label->SetAutoSize(false);
  label->SetBounds(10, 10, 60, 20);
  label->SetCaption("");
  Pump();
  auto labelPixel = [&] {
    Point at{5, 5};
    EXPECT_TRUE(ClientToScreen(label->Handle(), at));
    const Point w = {at.X - Screen({0, 0}).X, at.Y - Screen({0, 0}).Y};
    return SnapshotWindow(bordered->Handle()).Pixel(w.X, w.Y);
  };
  EXPECT_EQ(labelPixel(), kFormColor);
  manager->SetSkinName("Q");
  Pump();
  EXPECT_EQ(labelPixel(), other);
  manager->SetSkinName("P");
  Pump();
  bordered->SetBounds(100, 100, 260, 160);
  Pump();
  EXPECT_EQ(labelPixel(), kFormColor);
}

// The title's double-click maximises whenever Maximize or Restore is enabled, also on a
// form whose frame shows no maximize button; without biMaximize it does nothing.
TEST_F(ProviderTest, TitleDoubleClickFollowsTheMaximizeAndRestoreItems) {
  for (const TBorderIcons icons :
       {TBorderIcons(biSystemMenu | biMaximize), TBorderIcons(biSystemMenu)}) {
    MakeProvided(TFormBorderStyle::bsSingle, icons);
    const bool can = (icons & biMaximize) != 0;
    SendMessage(bordered->Handle(), WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    Pump();
    EXPECT_EQ(bordered->WindowState(), can ? TWindowState::wsMaximized : TWindowState::wsNormal);
    SendMessage(bordered->Handle(), WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    Pump();
    EXPECT_EQ(bordered->WindowState(), TWindowState::wsNormal);
    delete bordered;
  }
}

// Activating a skinned form brings the keyboard focus into it, as for any other form.
TEST_F(ProviderTest, ActivationMovesTheKeyboardFocusIntoTheSkinnedForm) {
  MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu);
  ShowForm(form);
  SetActiveWindow(form->Handle());
  Pump();
  ASSERT_EQ(GetFocus(), form->Handle());
  SetActiveWindow(bordered->Handle());
  Pump();
  EXPECT_EQ(GetActiveWindow(), bordered->Handle());
  EXPECT_EQ(GetFocus(), bordered->Handle());
}

// A graphic control that notes whether its parent is in its custom paint while it paints.
class TPaintStateSpy : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  std::vector<bool> custom;

 protected:
  void WndProc(TMessage& message) override {
    if (message.Msg == WM_PAINT && Parent() != nullptr)
      custom.push_back((Parent()->ControlState() & csCustomPaint) != 0);
    TGraphicControl::WndProc(message);
  }
};

TEST_F(ProviderTest, FormIsInItsCustomPaintOnlyWhileTheProviderPaintsIt) {
  MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu);
  auto* spy = Create<TPaintStateSpy>(bordered);
  spy->SetParent(bordered);
  spy->SetBounds(10, 10, 20, 20);
  SendMessage(bordered->Handle(), WM_PAINT, 0, 0);
  ASSERT_FALSE(spy->custom.empty());
  EXPECT_TRUE(spy->custom.back());
  EXPECT_EQ(bordered->ControlState() & csCustomPaint, 0u);
}

// A menu-line item lit outside an open menu is drawn normal and forgotten when a caption
// button lights; while a menu holds the pointer it stays lit.
TEST_F(ProviderTest, LitCaptionButtonPutsOutTheLitMenuLineItem) {
  bordered = Create<TForm>(Application());
  bordered->SetBorderStyle(TFormBorderStyle::bsNone);  // the menu line keeps these handlers
  bordered->SetBounds(100, 100, 200, 120);
  auto* menu = Create<TMainMenu>(bordered);
  auto* file = Create<TMenuItem>(bordered);
  file->SetCaption("File");
  std::vector<TOwnerDrawState> states;
  file->OnMeasureItem = [](TComponent*, TCanvas&, int& w, int& h) {
    w = 30;
    h = 18;
  };
  file->OnAdvancedDrawItem = [&](TComponent*, TCanvas&, const Rect&, TOwnerDrawState state) {
    states.push_back(state);
  };
  menu->Items()->Add(file);
  bordered->SetMenu(menu);
  auto* p = ShowWithProvider(bordered);
  bordered->SetMenuBarHotItem(file);
  ASSERT_FALSE(states.empty());
  EXPECT_NE(states.back() & odSelected, 0u);
  SetCapture(bordered->Handle());  // as an open menu holds it
  p->SetHotButton(0);
  EXPECT_EQ(bordered->MenuBarHotItem(), file);
  ReleaseCapture();
  p->SetHotButton(0);
  EXPECT_EQ(bordered->MenuBarHotItem(), nullptr);
  EXPECT_EQ(states.back() & odSelected, 0u);
  EXPECT_EQ(p->HotButton(), 0);
}

// The press shows before its release, already queued, is handled within it: the form is
// closed and freed in there and nothing touches it afterwards.
TEST_F(ProviderTest, PressedButtonLetsQueuedMessagesRun) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu | biMinimize);
  bool closed = false;
  bordered->OnClose = [&](TComponent*, TCloseAction& action) {
    closed = true;
    action = TCloseAction::caFree;
  };
  const Point s = Screen(Centre(p->Button(HTCLOSE).Rect));
  const LPARAM at = LPARAM(std::uint16_t(s.X) | (std::uint32_t(std::uint16_t(s.Y)) << 16));
  const HWND h = bordered->Handle();
  PostMessage(h, WM_NCLBUTTONUP, HTCLOSE, at);
  EXPECT_EQ(SendMessage(h, WM_NCLBUTTONDOWN, HTCLOSE, at), 1);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(IsWindow(h));
  bordered = nullptr;
}

// The pointer moving from a lit button onto the icon puts the button out.
TEST_F(ProviderTest, IconZoneTurnsALitButtonNormal) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu | biMinimize);
  const Point close = Centre(p->Button(HTCLOSE).Rect);
  EXPECT_EQ(HitAt(close), HTCLOSE);
  EXPECT_EQ(p->Button(HTCLOSE).State, 1);
  EXPECT_EQ(HitAt({5, close.Y}), HTSYSMENU);
  EXPECT_EQ(p->HotButton(), 0);
  EXPECT_EQ(p->Button(HTCLOSE).State, 0);
  EXPECT_EQ(SnapshotWindow(bordered->Handle()).Pixel(close.X, close.Y), kCloseGlyph);
}

// The caption's room leaves out the icon's place also when the icon is not shown.
TEST_F(ProviderTest, CaptionRoomLeavesOutTheIconPlaceWithoutTheIcon) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSingle, biSystemMenu, 160, 80);
  p->SetShowAppIcon(false);
  const std::string caption(40, 'W');
  bordered->SetCaption(caption);
  Pump();
  const Bitmap cut = SnapshotWindow(bordered->Handle());
  // The caption as it should be cut: to 160 - (3 + 16) - 2 x 14 - 16 pixels (Close and
  // Minimize buttons; the Minimize item shows on a single-border form).
  TCanvas& canvas = p->sStyle().CacheBmp.Canvas();
  canvas.Font().Assign(bordered->Font());
  canvas.Font().SetStyle(canvas.Font().Style() | fsBold);
  const int room = 160 - (3 + GetSystemMetrics(SM_CXSMICON)) - 2 * 14 - 16;
  const std::string expected = CutText(canvas, caption, room);
  ASSERT_NE(expected, caption);
  bordered->SetCaption(expected);
  Pump();
  const Bitmap want = SnapshotWindow(bordered->Handle());
  int differ = 0;
  for (int y = 0; y < 22; ++y)
    for (int x = 0; x < 160; ++x) differ += cut.Pixel(x, y) != want.Pixel(x, y) ? 1 : 0;
  EXPECT_EQ(differ, 0);
}

// Scrolling repaints the moved windowed controls at once and lets pending messages run.
class TPaintCounter : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  int paints = 0;
  int posted = 0;

 protected:
  void Paint() override { ++paints; }
  void WndProc(TMessage& message) override {
    if (message.Msg == WM_APP + 7) ++posted;
    TCustomControl::WndProc(message);
  }
};

TEST_F(ProviderTest, ScrollingRepaintsTheControlsAndRunsPendingMessages) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu, 200, 150);
  auto* counter = Create<TPaintCounter>(bordered);
  counter->SetParent(bordered);
  counter->SetBounds(10, 300, 50, 20);
  p->UpdateFormScrollBars();
  ASSERT_NE(p->VertBar(), nullptr);
  counter->SetBounds(10, 100, 50, 20);  // into sight, painted once
  Pump();
  const int before = counter->paints;
  PostMessage(counter->Handle(), WM_APP + 7, 0, 0);
  p->VertBar()->SetPosition(10);
  EXPECT_EQ(counter->Top(), 90);
  EXPECT_GT(counter->paints, before);
  EXPECT_EQ(counter->posted, 1);
}

// Restoring, minimising, resizing and a skin repaint paint the client area at once, before
// any queued message runs: the form's graphic controls are painted over it.
class TGraphicPaintCounter : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  int paints = 0;

 protected:
  void WndProc(TMessage& message) override {
    if (message.Msg == WM_PAINT) ++paints;
    TGraphicControl::WndProc(message);
  }
};

TEST_F(ProviderTest, RestoreMinimiseResizeAndSkinRepaintPaintTheClientAtOnce) {
  TsSkinProvider* p =
      MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu | biMinimize | biMaximize);
  const HWND h = bordered->Handle();
  auto* counter = Create<TGraphicPaintCounter>(bordered);
  counter->SetParent(bordered);
  counter->SetBounds(10, 10, 20, 20);
  Pump();
  int before = counter->paints;
  auto paintedNow = [&] {
    const bool painted = counter->paints > before;
    Pump();
    before = counter->paints;
    return painted;
  };

  bordered->SetBounds(100, 100, 260, 170);
  EXPECT_TRUE(paintedNow()) << "resize";

  SendMessage(h, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  Pump();
  before = counter->paints;
  p->SystemMenu().UpdateItems();
  p->SystemMenu().ItemRestore->Click();
  EXPECT_EQ(bordered->WindowState(), TWindowState::wsNormal);
  EXPECT_FALSE(GetUpdateRect(h, nullptr, false)) << "restore";
  EXPECT_TRUE(paintedNow()) << "restore";

  SendMessage(h, SKM_REPAINT, 0, 0);
  EXPECT_FALSE(GetUpdateRect(h, nullptr, false)) << "skin repaint";
  EXPECT_TRUE(paintedNow()) << "skin repaint";

  p->SetPressedButton(HTMINBUTTON);
  SendMessage(h, WM_NCLBUTTONUP, HTMINBUTTON, 0);
  EXPECT_TRUE(IsIconic(h));
  EXPECT_FALSE(GetUpdateRect(h, nullptr, false)) << "minimise";
}

// Handlers that let pending messages run meet a form whose release was pending: the form
// goes, and nothing of it or of its controls is touched afterwards.
TEST_F(ProviderTest, HandlersLetGoOfAFormReleasedMeanwhile) {
  TsButton* b = nullptr;
  // Each releases the form and then does what meets the release.
  const std::function<void(TForm*)> acts[] = {
      [&](TForm* f) {  // the release of an accelerator's key
        b->SetFocus();
        Pump();
        b->Perform(CM_DIALOGCHAR, 'G', 0);
        ASSERT_TRUE(b->Down());
        f->Release();
        b->Perform(WM_KEYUP, 'G', 0);
      },
      [&](TForm* f) {  // Enter on the default button
        b->SetDefault(true);
        b->SetFocus();
        Pump();
        f->Release();
        b->Perform(CM_DIALOGKEY, VK_RETURN, 0);
      },
      [&](TForm* f) {  // a drop-down menu open while the form goes
        auto* menu = Create<TPopupMenu>(f);
        auto* item = Create<TMenuItem>(menu);
        item->SetCaption("x");
        menu->Items()->Add(item);
        b->ButtonStyle = 2;
        b->SetDropdownMenu(menu);
        f->Release();
        headless->InjectKey(VK_ESCAPE, true);
        b->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(85, 12));
      },
      [&](TForm* f) {  // a press on the form's skinned bar, whose scroll lets the messages run
        b->SetTop(400);
        auto* p =
            reinterpret_cast<TsSkinProvider*>(SendMessage(f->Handle(), SKM_GETPROVIDER, 0, 0));
        ASSERT_NE(p, nullptr);
        p->UpdateFormScrollBars();
        TsScrollBar* bar = p->VertBar();
        ASSERT_NE(bar, nullptr);
        const Rect r = bar->PartRect(sbpSecondButton);
        f->Release();
        bar->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(r.Left + 2, r.Top + 2));
      },
  };
  for (const auto& act : acts) {
    auto* f = Create<TForm>(Application());
    f->SetBounds(100, 100, 200, 160);
    b = Create<TsButton>(f);
    b->SetParent(f);
    b->SetBounds(10, 10, 90, 25);
    b->SetCaption("&Go");
    ShowWithProvider(f);
    const int forms = ::qv::Screen()->FormCount();
    act(f);
    Pump();
    EXPECT_EQ(::qv::Screen()->FormCount(), forms - 1);
  }
}

// A form's bars take the room of the other bar once, in the range: scrolled to the end, the
// last control stops the margins (2 and 4 pixels) short of the other bar.
TEST_F(ProviderTest, FormBarsScrollTheLastControlToTheOtherBar) {
  TsSkinProvider* p = MakeProvided(TFormBorderStyle::bsSizeable, biSystemMenu, 200, 160);
  auto panel = [&](int x, int y) {
    auto* c = Create<TPanel>(bordered);
    c->SetParent(bordered);
    c->SetBounds(x, y, 50, 20);
    return c;
  };
  TPanel* tall = panel(10, 300);
  TPanel* wide = panel(300, 10);
  p->UpdateFormScrollBars();
  ASSERT_NE(p->VertBar(), nullptr);
  ASSERT_NE(p->HorzBar(), nullptr);
  p->VertBar()->SetPosition(p->VertBar()->Max());
  p->HorzBar()->SetPosition(p->HorzBar()->Max());
  EXPECT_EQ(p->HorzBar()->Top() - (tall->Top() + tall->Height()), 6);
  EXPECT_EQ(p->VertBar()->Left() - (wide->Left() + wide->Width()), 6);
}

// Without a skin the form scrolls itself again, as it did before its provider came.
TEST_F(ProviderTest, FormGetsItsOwnScrollingBackWithoutTheSkin) {
  bordered = Create<TForm>(Application());
  bordered->SetBounds(100, 100, 200, 120);
  bordered->SetAutoScroll(true);
  TsSkinProvider* p = ShowWithProvider(bordered);
  for (const bool active : {true, false, true}) {
    manager->SetActive(active);
    Pump();
    EXPECT_EQ(bordered->AutoScroll(), !active);
  }
  Free(p);
  EXPECT_TRUE(bordered->AutoScroll());
}

// The skinned menu line shows every visible item, past a hidden one, and the client area
// starts below its lines however many the form's width makes of them.
TEST_F(ProviderTest, MenuLineShowsItsVisibleItemsAndTheClientFollowsItsLines) {
  bordered = Create<TForm>(Application());
  TMainMenu* menu = test::MenuOf(
      bordered, {{"File", 0}, {"Edit", 0}, {"View", 0}, {"Tools", 0}, {"Window", 0}, {"Help", 0}});
  menu->Items()->Items(0)->SetVisible(false);
  bordered->SetMenu(menu);
  TsSkinProvider* p = ShowWithProvider(bordered);
  for (const int width : {400, 150, 400}) {
    SCOPED_TRACE(width);
    bordered->SetBounds(100, 100, width, 160);
    Pump();
    Rect w;
    ASSERT_TRUE(GetWindowRect(bordered->Handle(), w));
    EXPECT_EQ(bordered->ClientToScreen({0, 0}).Y - w.Top, p->ClientOrigin().Y);
    const int lines =
        (p->MenuBottom() - 1 - p->SysBorderWidth() - p->CaptionHeight()) / p->MenuHeight();
    EXPECT_TRUE(width == 150 ? lines > 1 : lines == 1) << lines;
    std::vector<std::string> captions;
    for (const auto& [item, r] : GetMenuBarLayout(*bordered).Items)
      captions.push_back(item->Caption());
    EXPECT_EQ(captions, (std::vector<std::string>{"Edit", "View", "Tools", "Window", "Help"}));
  }
}

// ---- The scroll bar ------------------------------------------------------------------------

class ScrollBarTest : public ProviderTest {
 protected:
  TsScrollBar* MakeBar(int w = 120, int h = 16) {
    holder = MakeForm(300, 200);
    ShowForm(holder);
    auto* bar = Create<TsScrollBar>(holder);
    bar->SetParent(holder);
    bar->SetBounds(10, 10, w, h);
    Pump();
    return bar;
  }
  TForm* holder = nullptr;
};

TEST_F(ScrollBarTest, ThumbFormulasCountFromMin) {
  TsScrollBar* bar = MakeBar(120);
  bar->SetParams(10, 10, 110);
  bar->SetPageSize(0);
  EXPECT_EQ(bar->ThumbLength(), 14);
  EXPECT_EQ(bar->ThumbCentre(), 16 + 7);  // at Min the thumb touches the first button
  bar->SetPosition(110);
  EXPECT_EQ(bar->ThumbCentre(), 120 - 16 - 7);
  EXPECT_EQ(bar->PositionAt(23), 10);
  EXPECT_EQ(bar->PositionAt(97), 110);
  bar->SetPageSize(44);  // 88 x 44 / (110 + 44 - 10) = 26.9
  EXPECT_EQ(bar->ThumbLength(), 27);
  bar->SetPageSize(-1);
  EXPECT_EQ(bar->PageSize(), 44);
  bar->SetBounds(10, 10, 40, 16);  // the thumb fills the track: every point is Min
  EXPECT_EQ(bar->PositionAt(20), 10);
}

TEST_F(ScrollBarTest, PressingTheFirstButtonAtMinDoesNotRepeat) {
  TsScrollBar* bar = MakeBar();
  bar->SetParams(0, 0, 100);
  Press(bar, {5, 8});
  EXPECT_EQ(bar->PartState(sbpFirstButton), 2);
  EXPECT_EQ(bar->PartState(sbpSecondButton), 0);
  EXPECT_EQ(bar->PartState(sbpThumb), 0);
  EXPECT_EQ(bar->PartState(sbpTrackBefore), 1);
  EXPECT_EQ(bar->PartState(sbpTrackAfter), 1);
  EXPECT_FALSE(bar->Repeating());
  headless->Clock()->Advance(500ms);
  Pump();
  EXPECT_EQ(bar->Position(), 0);
  Release(bar, {5, 8});
}

TEST_F(ScrollBarTest, ButtonRepeatsEvery100Milliseconds) {
  TsScrollBar* bar = MakeBar();
  bar->SetParams(50, 0, 100);
  std::vector<int> changes;
  bar->OnChange = [&](TComponent*, int old) { changes.push_back(old); };
  Press(bar, {115, 8});
  EXPECT_EQ(bar->Position(), 51);
  headless->Clock()->Advance(99ms);
  Pump();
  EXPECT_EQ(bar->Position(), 51);
  headless->Clock()->Advance(1ms);
  Pump();
  EXPECT_EQ(bar->Position(), 52);
  for (int i = 0; i < 3; ++i) {
    headless->Clock()->Advance(100ms);
    Pump();
  }
  EXPECT_EQ(bar->Position(), 55);
  Release(bar, {115, 8});
  EXPECT_FALSE(bar->Repeating());
  headless->Clock()->Advance(300ms);
  Pump();
  EXPECT_EQ(bar->Position(), 55);
  EXPECT_EQ(changes, (std::vector<int>{50, 51, 52, 53, 54}));
}

TEST_F(ScrollBarTest, DraggingTheThumbClampsAtTheEnds) {
  // Smooth bars report every move; others report once, on release, from where the drag began.
  for (const bool smooth : {true, false}) {
    TsScrollBar* bar = MakeBar();
    bar->Smooth = smooth;
    bar->SetParams(50, 0, 100);
    std::vector<int> changes;
    bar->OnChange = [&](TComponent*, int old) { changes.push_back(old); };
    Press(bar, Centre(bar->PartRect(sbpThumb)));
    EXPECT_EQ(bar->PartState(sbpThumb), 2);
    MoveTo(bar, {400, 8});
    EXPECT_EQ(bar->Position(), 100);
    MoveTo(bar, {-300, 8});
    EXPECT_EQ(bar->Position(), 0);
    Release(bar, {-300, 8});
    EXPECT_EQ(bar->Position(), 0);
    EXPECT_EQ(bar->PartState(sbpThumb), 0);
    EXPECT_EQ(changes, (smooth ? std::vector<int>{50, 100} : std::vector<int>{50})) << smooth;
    Free(holder);
  }
}

TEST_F(ScrollBarTest, EqualLimitsShowOneErrorAndAreStored) {
  TsScrollBar* bar = MakeBar();
  ::testing::internal::CaptureStderr();
  bar->SetMax(0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  // The limit follows a line feed and then a carriage return.
  EXPECT_EQ(err, "Error: Scroll bar property out of range\n\rMax = 0\n");
  EXPECT_EQ(bar->Max(), 0);
  EXPECT_EQ(bar->Position(), 0);
}

TEST_F(ScrollBarTest, RightToLeftBarReportsMirroredPositions) {
  TsScrollBar* bar = MakeBar();
  // The bar follows its form's reading order.
  holder->SetBiDiMode(TBiDiMode::bdRightToLeft);
  EXPECT_EQ(bar->DirectionFactor(), -1);
  bar->SetParams(30, 0, 100);
  EXPECT_EQ(GetScrollPos(bar->Handle(), SB_CTL), 70);
  bar->SetKind(TScrollBarKind::sbVertical);
  EXPECT_EQ(bar->DirectionFactor(), 1);
  bar->SetPosition(40);
  EXPECT_EQ(GetScrollPos(bar->Handle(), SB_CTL), 40);
  // A bar made on a right-to-left form takes the factor when its window is made; reading
  // order alone (no right-to-left scroll bars) keeps it at 1.
  auto* made = Create<TsScrollBar>(holder);
  made->SetParent(holder);
  made->HandleNeeded();
  EXPECT_EQ(made->DirectionFactor(), -1);
  holder->SetBiDiMode(TBiDiMode::bdRightToLeftReadingOnly);
  EXPECT_EQ(made->DirectionFactor(), 1);
}

TEST_F(ScrollBarTest, HeldPartsLetGoWhenThePointerLeavesThem) {
  TsScrollBar* bar = MakeBar();
  bar->SetParams(50, 0, 100);
  bar->LargeChange = 10;
  // The second button held: it repeats while the pointer stays on it...
  Press(bar, {115, 8});
  EXPECT_EQ(bar->Position(), 51);
  MoveTo(bar, {113, 8});
  EXPECT_EQ(bar->PartState(sbpSecondButton), 2);
  headless->Clock()->Advance(100ms);
  Pump();
  EXPECT_EQ(bar->Position(), 52);
  // ...and off it, onto the track, it turns normal, the track hot, and the repeat ends.
  MoveTo(bar, {90, 8});
  EXPECT_EQ(bar->PartState(sbpSecondButton), 0);
  EXPECT_EQ(bar->PartState(sbpTrackAfter), 1);
  for (int i = 0; i < 3; ++i) {
    headless->Clock()->Advance(100ms);
    Pump();
  }
  EXPECT_EQ(bar->Position(), 52);
  EXPECT_FALSE(bar->Repeating());
  // Back on the button it is only hot: the press does not come back.
  MoveTo(bar, {115, 8});
  EXPECT_EQ(bar->PartState(sbpSecondButton), 1);
  Release(bar, {115, 8});
  EXPECT_EQ(bar->Position(), 52);
  // The track after the thumb held, the pointer then leaving the bar: all normal, no repeat.
  Press(bar, {100, 8});
  EXPECT_EQ(bar->Position(), 62);
  EXPECT_EQ(bar->PartState(sbpTrackAfter), 2);
  MoveTo(bar, {100, 60});
  EXPECT_EQ(bar->PartState(sbpTrackAfter), 0);
  headless->Clock()->Advance(300ms);
  Pump();
  EXPECT_EQ(bar->Position(), 62);
  Release(bar, {100, 60});
}

TEST_F(ScrollBarTest, KeysMoveThePosition) {
  TsScrollBar* bar = MakeBar();
  bar->SetParams(50, 0, 100);
  bar->SmallChange = 2;
  bar->LargeChange = 10;
  bar->SetFocus();
  struct Case {
    unsigned vk;
    int expected;
  };
  for (const Case& c : {Case{VK_RIGHT, 52}, Case{VK_UP, 50}, Case{VK_NEXT, 60}, Case{VK_PRIOR, 50},
                        Case{VK_END, 100}, Case{VK_HOME, 0}}) {
    Key(c.vk);
    EXPECT_EQ(bar->Position(), c.expected) << c.vk;
  }
}

// A range as wide as an int places the thumb, steps, pages and follows a drag within it.
TEST_F(ScrollBarTest, RangesAsWideAsAnIntStayWithinThem) {
  constexpr int kMax = std::numeric_limits<int>::max();
  TsScrollBar* bar = MakeBar();
  bar->SetParams(0, -2000000000, 2000000000);
  bar->SmallChange = 30000;
  EXPECT_EQ(bar->ThumbCentre(), 120 / 2);
  EXPECT_EQ(bar->PositionAt(16 + 7), -2000000000);
  EXPECT_EQ(bar->PositionAt(120 - 16 - 7), 2000000000);
  bar->SetParams(kMax - 5, kMax - 100, kMax);
  bar->SetFocus();
  Key(VK_RIGHT);
  EXPECT_EQ(bar->Position(), kMax);
  bar->SetParams(-kMax, -kMax, kMax);
  Key(VK_LEFT);
  EXPECT_EQ(bar->Position(), -kMax);
  const Point thumb{bar->ThumbCentre(), 8};
  Press(bar, thumb);
  MoveTo(bar, {119, 8});
  Release(bar, {119, 8});
  EXPECT_EQ(bar->Position(), kMax);
}

TEST_F(ScrollBarTest, ThumbGlyphShowsOnlyOnAThumbWiderThanHalfItsMask) {
  constexpr COLORREF kMark = RGB(255, 0, 128);
  auto glyph = std::make_unique<TBitmap>();
  glyph->Image() = test::Glyph(10, kMark, kMark, kMark);  // a 30-pixel-wide mask
  SkinMasks.push_back({std::move(glyph), "SCROLLSLIDERH", "GLYPHMASK", 0xFF00FF});
  TsScrollBar* bar = MakeBar(100, 16);
  bar->SetParams(50, 0, 100);
  struct Case {
    int page;
    int thumb;
    bool shown;
  };
  for (const Case& c : {Case{28, 15, false}, Case{31, 16, true}}) {
    bar->SetPageSize(c.page);
    ASSERT_EQ(bar->ThumbLength(), c.thumb);
    const Bitmap image = bar->RenderSkinned();
    const Rect thumb = bar->PartRect(sbpThumb);
    const int x = (thumb.Width() - 10) / 2 + thumb.Left + 5;
    EXPECT_EQ(image.Pixel(x, 8) == kMark, c.shown) << c.page;
  }
}

TEST_F(ScrollBarTest, GoldenFivePartsInThreeStates) {
  TsScrollBar* bar = MakeBar(100, 16);
  bar->SetParams(40, 0, 100);
  bar->SetPageSize(30);
  Bitmap sheet(100, 16 * 15);
  DC dst(&sheet);
  int row = 0;
  for (int state = 0; state < 3; ++state)
    for (TsScrollBarPart part :
         {sbpFirstButton, sbpSecondButton, sbpTrackBefore, sbpTrackAfter, sbpThumb}) {
      for (TsScrollBarPart q :
           {sbpFirstButton, sbpSecondButton, sbpTrackBefore, sbpTrackAfter, sbpThumb})
        bar->SetPartState(q, 0);
      bar->SetPartState(part, state);
      Bitmap image = bar->RenderSkinned();
      ASSERT_EQ(image.Width(), 100);
      DC src(&image);
      dst.BitBlt(0, 16 * row++, 100, 16, src, 0, 0);
    }
  test::ExpectGolden(sheet, "scrollbar_parts");
}

// The thumb dragged or let go, and a form bar no longer needed, scroll the form's controls,
// which lets pending messages run: a release of the form pending meanwhile frees the form,
// its provider and its bars, and nothing of them is touched afterwards.
TEST_F(ProviderTest, ThumbAndHiddenBarLetGoOfAFormReleasedMeanwhile) {
  // `act` gets the form's vertical bar (scrolled to `position`) and its thumb.
  auto released = [&](bool smooth, int position,
                      const std::function<void(TForm*, TsScrollBar*, Rect)>& act) {
    auto* f = Create<TForm>(Application());
    f->SetBorderStyle(TFormBorderStyle::bsSizeable);
    f->SetBounds(100, 100, 200, 160);
    auto* far = Create<TPanel>(f);
    far->SetParent(f);
    far->SetBounds(10, 400, 50, 20);
    TsSkinProvider* p = ShowWithProvider(f);
    p->UpdateFormScrollBars();
    TsScrollBar* bar = p->VertBar();
    ASSERT_NE(bar, nullptr);
    bar->Smooth = smooth;
    bar->SetPosition(position);
    Pump();
    const int forms = ::qv::Screen()->FormCount();
    act(f, bar, bar->PartRect(sbpThumb));
    Pump();
    EXPECT_EQ(::qv::Screen()->FormCount(), forms - 1);
  };
  auto press = [](TsScrollBar* bar, Rect thumb) {
    bar->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELONG(thumb.Left + 2, thumb.Top + 2));
  };
  // The thumb followed by the pointer.
  released(true, 0, [&](TForm* f, TsScrollBar* bar, Rect thumb) {
    press(bar, thumb);
    f->Release();
    bar->Perform(WM_MOUSEMOVE, MK_LBUTTON, MAKELONG(thumb.Left + 2, thumb.Top + 40));
  });
  // The thumb let go away from where it was, smooth and not.
  for (const bool smooth : {true, false}) {
    released(smooth, 0, [&](TForm* f, TsScrollBar* bar, Rect thumb) {
      press(bar, thumb);
      f->Release();
      bar->Perform(WM_LBUTTONUP, 0, MAKELONG(thumb.Left + 2, thumb.Top + 40));
    });
  }
  // The form made tall enough while scrolled: the bar goes and the controls scroll back.
  released(true, 100, [&](TForm* f, TsScrollBar*, Rect) {
    f->Release();
    SetWindowPos(f->Handle(), 0, 0, 0, 200, 600, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  });
}

}  // namespace
}  // namespace qv
