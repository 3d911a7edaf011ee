// Skinned menus on the headless back end: measuring, the divider, caption and checked items,
// unhooking, the menu bar over the provider's menu line, and goldens of a popup and a line.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/classlib/commctrl.h"
#include "platform/classlib/menubar.h"
#include "platform/msg/message_queue.h"
#include "skin/smenus.h"
#include "skin/sskinprovider.h"
#include "tests/skin/paint_test_util.h"
#include "tests/skin/provider_fixture.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

constexpr COLORREF kBack = RGB(1, 2, 3);

class MenusTest : public test::SkinTest {
 protected:
  void SetUp() override {
    SkinTest::SetUp();
    test::WriteProviderSkin(Folder("P"), true);
    manager->SetSkinName("P");
    ASSERT_TRUE(SkinData.Active);
    images.images.push_back(Bitmap(16, 16));
    images.images.back().Fill(RGB(0, 0, 255));
    images.transparent = clFuchsia;
    popup = Create<TPopupMenu>(form);
    popup->SetImages(&images);
  }
  TsSkinableMenus& Menus() { return manager->SkinableMenus(); }
  TMenuItem* Add(TMenuItem* parent, const std::string& caption) {
    auto* item = Create<TMenuItem>(form);
    item->SetCaption(caption);
    parent->Add(item);
    return item;
  }
  // The item drawn alone in a `w` x `h` bitmap of kBack.
  Bitmap Drawn(TMenuItem* item, int w, int h, TOwnerDrawState state = 0) {
    TBitmap b(w, h);
    b.Image().Fill(kBack);
    Menus().DrawItem(item, b.Canvas(), {0, 0, w, h}, state);
    return b.Image();
  }
  static int Count(const Bitmap& b, COLORREF c) {
    int n = 0;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) n += b.Pixel(x, y) == c ? 1 : 0;
    return n;
  }

  ImageList images;
  TPopupMenu* popup = nullptr;
};

TEST_F(MenusTest, ItemsMeasureByTheirKind) {
  TBitmap b(1, 1);
  TCanvas& c = b.Canvas();
  c.Font().Assign(Screen()->MenuFont());
  const int line = int(std::nearbyint(1.25 * c.TextHeight("W")));
  TMenuItem* open = Add(popup->Items(), "Open");
  open->SetShortCut(scCtrl | 'O');
  const struct {
    TMenuItem* item;
    int width, height;
  } cases[] = {
      {open, c.TextWidth("OpenCtrl+O") + 2 * 16 + 12, std::max(line, 16) + 8},
      {Add(popup->Items(), "-"), 2 * 16 + 12, 2},
      {Add(popup->Items(), "-Recent-"), c.TextWidth("--Recent--") + 2 * 16 + 12, line + 8},
  };
  for (const auto& k : cases) {
    int w = 0, h = 0;
    Menus().MeasureItem(k.item, c, w, h);
    EXPECT_EQ(w, k.width) << k.item->Caption();
    EXPECT_EQ(h, k.height) << k.item->Caption();
  }
  // Menu-bar items: SM_CYMENU - 1 high, "&" not counted, "-" 8 wide, never narrower.
  TMainMenu* menu = Create<TMainMenu>(form);
  const struct {
    const char* caption;
    int given, width;
  } bar[] = {{"&File", 0, c.TextWidth("&File") + 4 + 5 - c.TextWidth("&")},
             {"-", 0, 8},
             {"&File", 200, 200}};
  for (const auto& k : bar) {
    int w = k.given, h = 0;
    Menus().MeasureMenuBarItem(Add(menu->Items(), k.caption), c, w, h);
    EXPECT_EQ(w, k.width) << k.caption << " " << k.given;
    EXPECT_EQ(h, GetSystemMetrics(SM_CYMENU) - 1);
  }
}

TEST_F(MenusTest, DividerCaptionAndCheckedItemsPaint) {
  // A divider: an etched line, grey over white, inside the margins.
  const Bitmap divider = Drawn(Add(popup->Items(), "-"), 60, 2);
  EXPECT_EQ(test::ToArt(divider), test::Art({"????" + std::string(51, '-') + ".????",
                                             "????" + std::string(52, '.') + "????"}));
  // A caption item takes space but paints nothing.
  EXPECT_EQ(Count(Drawn(Add(popup->Items(), "-Recent-"), 80, 24), kBack), 80 * 24);
  // Checked: a faded, framed box with a tick, or with the image instead of the tick.
  TMenuItem* ticked = Add(popup->Items(), "Ticked");
  ticked->SetChecked(true);
  TMenuItem* pictured = Add(popup->Items(), "Pictured");
  pictured->SetChecked(true);
  pictured->SetImageIndex(0);
  auto box = [](const Bitmap& b) {
    Bitmap out(14, 14);
    CopyBitmapRect(out, {0, 0}, b, {5, 5, 19, 19});
    return out;
  };
  const Bitmap tick = box(Drawn(ticked, 100, 24));
  const Bitmap image = box(Drawn(pictured, 100, 24));
  EXPECT_GT(Count(tick, 0), 5);
  EXPECT_EQ(Count(image, 0), 0);
  EXPECT_EQ(Count(image, RGB(0, 0, 255)), 14 * 14);
}

TEST_F(MenusTest, UnhookingLeavesTheApplicationsHandlers) {
  TMenuItem* own = Add(popup->Items(), "Own");
  bool ownDrawn = false;
  own->OnAdvancedDrawItem = [&](TComponent*, TCanvas&, const Rect&, TOwnerDrawState) {
    ownDrawn = true;
  };
  TMenuItem* plain = Add(popup->Items(), "Plain");
  Menus().UpdateMenus(true);
  EXPECT_TRUE(popup->OwnerDraw());
  EXPECT_TRUE(own->OnMeasureItem && plain->OnMeasureItem && plain->OnAdvancedDrawItem);
  manager->SetActive(false);  // the skin goes: the menus are unhooked
  EXPECT_FALSE(popup->OwnerDraw());
  EXPECT_FALSE(own->OnMeasureItem || plain->OnMeasureItem || plain->OnAdvancedDrawItem);
  ASSERT_TRUE(own->OnAdvancedDrawItem);
  TBitmap b(4, 4);
  own->OnAdvancedDrawItem(own, b.Canvas(), {0, 0, 4, 4}, 0);
  EXPECT_TRUE(ownDrawn);
}

TEST_F(MenusTest, PopupGolden) {
  TMenuItem* open = Add(popup->Items(), "Open");
  open->SetShortCut(scCtrl | 'O');
  open->SetChecked(true);
  open->SetImageIndex(0);
  Add(popup->Items(), "Save")->SetChecked(true);
  Add(popup->Items(), "-");
  Add(popup->Items(), "-Recent-");
  Add(popup->Items(), "Exit")->SetDefault(true);
  Add(popup->Items(), "Disabled")->SetEnabled(false);
  Menus().HookPopupMenu(popup, true);
  // Laid out as the popup window does: rows one below the other inside a 2-pixel frame.
  TBitmap measure(1, 1);
  int width = 0, height = 0;
  std::vector<int> heights;
  for (int i = 0; i < popup->Items()->Count(); ++i) {
    int w = 0, h = 0;
    TMenuItem* item = popup->Items()->Items(i);
    item->OnMeasureItem(item, measure.Canvas(), w, h);
    width = std::max(width, w);
    heights.push_back(h);
    height += h;
  }
  TBitmap shot(width + 4, height + 4);
  shot.Image().Fill(ColorToRGB(clMenu));
  int y = 2;
  for (int i = 0; i < popup->Items()->Count(); ++i) {
    TMenuItem* item = popup->Items()->Items(i);
    const int h = heights[std::size_t(i)];
    TOwnerDrawState state = i == 1 ? TOwnerDrawState(odSelected) : 0;
    if (item->Default()) state |= odDefault;
    if (!item->Enabled()) state |= odDisabled;
    item->OnAdvancedDrawItem(item, shot.Canvas(), {2, y, 2 + width, y + h}, state);
    y += h;
  }
  EXPECT_EQ(Menus().CachedBackgrounds(), 1u);
  test::ExpectGolden(shot.Image(), "menu_popup");
}

TEST_F(MenusTest, MenuLineOfAProvidedFormTracksAndMatchesItsGolden) {
  auto* bordered = Create<TForm>(Application());
  bordered->SetBounds(100, 100, 240, 120);
  bordered->SetCaption("Menus");
  TMainMenu* menu = Create<TMainMenu>(bordered);
  TMenuItem* file = Add(menu->Items(), "&File");
  std::string clicked;
  Add(file, "Open")->OnClick = [&](TComponent*) { clicked = "Open"; };
  TMenuItem* edit = Add(menu->Items(), "&Edit");
  Add(edit, "Copy");
  Add(menu->Items(), "&Help");
  bordered->SetMenu(menu);
  auto* p = Create<TsSkinProvider>(bordered);
  p->AfterConstruction();
  bordered->AfterConstruction();
  bordered->Show();
  Pump();
  // Hooked on activation; the window system's bar and the painted line agree.
  ASSERT_TRUE(file->OnAdvancedDrawItem);
  const TMenuBarLayout layout = GetMenuBarLayout(*bordered);
  ASSERT_EQ(layout.Items.size(), 3u);
  EXPECT_EQ(layout.Bar.Top, p->SysBorderWidth() + p->CaptionHeight());
  EXPECT_EQ(p->ClientOrigin().Y, layout.Bar.Bottom + 1);
  Rect wr;
  ASSERT_TRUE(GetWindowRect(bordered->Handle(), wr));
  const Rect fileRect = layout.Items[0].second.Offset(wr.Left, wr.Top);
  const Point at{(fileRect.Left + fileRect.Right) / 2, (fileRect.Top + fileRect.Bottom) / 2};
  EXPECT_EQ(SendMessage(bordered->Handle(), WM_NCHITTEST, 0,
                        MAKELONG(std::uint16_t(at.X), std::uint16_t(at.Y))),
            LRESULT{HTMENU});
  bordered->SetMenuBarHotItem(edit);
  Pump();
  Bitmap line(240, p->ClientOrigin().Y);
  CopyBitmapRect(line, {0, 0}, SnapshotWindow(bordered->Handle()), {0, 0, 240, line.Height()});
  test::ExpectGolden(line, "menu_line");
  bordered->SetMenuBarHotItem(nullptr);
  // A click on "File" opens its popup below it; its first row is chosen.
  headless->InjectClick(at);
  headless->InjectClick({fileRect.Left + 10, fileRect.Bottom + 2 + 5});
  Pump();
  EXPECT_EQ(clicked, "Open");
}

}  // namespace
}  // namespace qv
