// Skinned menus on the headless back end: measuring, the divider, caption and checked items,
// unhooking, the menu bar over the provider's menu line, and goldens of a popup and a line.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/classlib/commctrl.h"
#include "platform/classlib/menubar.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/virtual_keys.h"
#include "skin/sskinmenus.h"
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
  TBitmap b_{4, 4};
};

TEST_F(MenusTest, ItemsMeasureAndPaintByTheirKind) {
  // Menu-bar items: SM_CYMENU - 1 high, "&" not counted, "-" 8 wide, never narrower.
  TBitmap b(1, 1);
  TCanvas& c = b.Canvas();
  c.Font().Assign(Screen()->MenuFont());
  TMainMenu* menu = Create<TMainMenu>(form);
  for (const auto& [caption, given, width] :
       {std::tuple{"&File", 0, c.TextWidth("&File") + 4 + 5 - c.TextWidth("&")},
        std::tuple{"-", 0, 8}, std::tuple{"&File", 200, 200}}) {
    int w = given, h = 0;
    Menus().MeasureMenuBarItem(Add(menu->Items(), caption), c, w, h);
    EXPECT_EQ(w, width) << caption << " " << given;
    EXPECT_EQ(h, GetSystemMetrics(SM_CYMENU) - 1);
  }
  // A divider: an etched line, grey over white, inside the margins.
  EXPECT_EQ(
      test::ToArt(Drawn(Add(popup->Items(), "-"), 60, 2)),
      test::Art({"????" + std::string(51, '-') + ".????", "????" + std::string(52, '.') + "????"}));
  // A caption item takes space but paints nothing.
  EXPECT_EQ(Count(Drawn(Add(popup->Items(), "-Recent-"), 80, 24), kBack), 80 * 24);
  // Checked: a faded, framed box with a tick, or with the image instead of the tick.
  TMenuItem* ticked = Add(popup->Items(), "Ticked");
  ticked->SetChecked(true);
  TMenuItem* pictured = Add(popup->Items(), "Pictured");
  pictured->SetChecked(true);
  pictured->SetImageIndex(0);
  Bitmap tick(14, 14), image(14, 14);
  CopyBitmapRect(tick, {0, 0}, Drawn(ticked, 100, 24), {5, 5, 19, 19});
  CopyBitmapRect(image, {0, 0}, Drawn(pictured, 100, 24), {5, 5, 19, 19});
  EXPECT_GT(Count(tick, 0), 5);
  EXPECT_EQ(Count(image, 0), 0);
  EXPECT_EQ(Count(image, RGB(0, 0, 255)), 14 * 14);
}

TEST_F(MenusTest, UnhookingLeavesTheApplicationsHandlers) {
  TMenuItem* own = Add(popup->Items(), "Own");
  int ownDrawn = 0;
  own->OnAdvancedDrawItem = [&](TComponent*, TCanvas&, const Rect&, TOwnerDrawState) {
    ++ownDrawn;
  };
  TMenuItem* plain = Add(popup->Items(), "Plain");
  Menus().UpdateMenus(true);
  EXPECT_TRUE(popup->OwnerDraw() && own->OnMeasureItem && plain->OnAdvancedDrawItem);
  manager->SetActive(false);  // the skin goes: the menus are unhooked
  EXPECT_FALSE(popup->OwnerDraw() || own->OnMeasureItem || plain->OnAdvancedDrawItem);
  own->OnAdvancedDrawItem(own, b_.Canvas(), {0, 0, 4, 4}, 0);
  EXPECT_EQ(ownDrawn, 1);
}

// Whoever hooked a menu takes its handlers along when it goes: a second manager that
// announced the skin again, and the manager of a form that no one owns, whose main menu it
// hooked as the menu joined the form and which the application's walk never reaches.
TEST_F(MenusTest, MenusKeepNoHandlersOfAManagerThatWent) {
  TMenuItem* later = Add(popup->Items(), "Later");  // came after the skin
  ::testing::internal::CaptureStderr();
  auto* second = Create<TsSkinManager>(form);
  (void)::testing::internal::GetCapturedStderr();
  second->UpdateSkin();
  Free(second);
  ASSERT_TRUE(bool(later->OnAdvancedDrawItem));
  EXPECT_GT(PopupShot(popup, popup->Items()).Width(), 0);

  Free(manager);
  manager = nullptr;
  auto loose = std::make_unique<TForm>(nullptr);
  auto* own = Create<TsSkinManager>(loose.get());
  own->SetSkinDirectory(skins.path());
  own->SetSkinName("P");
  auto* menu = Create<TMainMenu>(loose.get());
  auto* file = Create<TMenuItem>(menu);
  file->SetCaption("File");
  menu->Items()->Add(file);
  Pump();
  ASSERT_TRUE(bool(file->OnMeasureItem));
  Free(own);
  EXPECT_FALSE(bool(file->OnMeasureItem) || bool(file->OnAdvancedDrawItem));
  loose->SetMenu(menu);
  ShowForm(loose.get());
  EXPECT_FALSE(GetMenuBarLayout(*loose).Items.empty());
  loose.reset();
}

// Ending the program frees the manager with the forms; that makes no new application.
TEST_F(MenusTest, DestroyingTheApplicationLeavesNone) {
  Add(popup->Items(), "Open");
  DestroyApplication();
  EXPECT_EQ(ExistingApplication(), nullptr);
}

// A hot-lit item draws its texts hot; on the menu line its background too, and the line
// lights the item under the pointer.
TEST_F(MenusTest, HotLitItemsDrawHot) {
  constexpr COLORREF kWhite = RGB(255, 255, 255);
  TMenuItem* open = Add(popup->Items(), "Open");
  open->SetShortCut(scCtrl | 'O');
  Menus().HookPopupMenu(popup, true);
  const Bitmap lit = Drawn(open, 120, 24, odHotLight);
  EXPECT_EQ(lit.Pixel(2, 2), test::kMenuBack);  // the background follows the selection only
  EXPECT_GT(Count(lit, kWhite), 10);            // caption and shortcut in the hot font colour
  EXPECT_EQ(Count(Drawn(open, 120, 24, 0), kWhite), 0);
  Bitmap right(40, 24);
  CopyBitmapRect(right, {0, 0}, lit, {80, 0, 120, 24});
  EXPECT_GT(Count(right, kWhite), 3);  // the shortcut's text

  auto* bordered = Create<TForm>(Application());
  bordered->SetBounds(100, 100, 240, 120);
  TMainMenu* menu = Create<TMainMenu>(bordered);
  TMenuItem* file = Add(menu->Items(), "&File");
  Add(file, "Open");
  TMenuItem* edit = Add(menu->Items(), "&Edit");
  Add(edit, "Copy");
  bordered->SetMenu(menu);
  TsSkinProvider* p = ShowWithProvider(bordered);
  const Rect editRect = GetMenuBarLayout(*bordered).Items.at(1).second;
  const Point corner{editRect.Left + 1, editRect.Top + 1};
  TBitmap bar(editRect.Right, editRect.Bottom);
  Menus().DrawMenuBarItem(edit, bar.Canvas(), editRect, odHotLight);
  EXPECT_EQ(bar.Image().Pixel(corner.X, corner.Y), test::kMenuHot);
  EXPECT_EQ(SnapshotWindow(bordered->Handle()).Pixel(corner.X, corner.Y), test::kMenuBack);
  // The pointer over the item: the line drawn again shows it lit.
  Rect wr;
  ASSERT_TRUE(GetWindowRect(bordered->Handle(), wr));
  headless->InjectMouseMove({wr.Left + corner.X + 4, wr.Top + corner.Y + 4});
  Pump();
  p->NeedRepaint = true;
  SendMessage(bordered->Handle(), WM_NCPAINT, 0, 0);
  EXPECT_EQ(SnapshotWindow(bordered->Handle()).Pixel(corner.X, corner.Y), test::kMenuHot);
}

// A see-through item shows the popup's background over all of its row, whatever place the
// popup window gives its rows.
TEST_F(MenusTest, TransparentItemsShowTheBackgroundToTheirEdges) {
  constexpr COLORREF kPopupBack = RGB(200, 90, 40);
  Options("T", "[MAINMENU]\nPaintingColor=" + std::to_string(kPopupBack) +
                   "\n[MENUITEM]\nPaintingColor=0\nPaintingTransparency=100\n");
  manager->SetSkinName("T");
  ASSERT_GE(GetSkinIndex("MENUITEM"), 0);
  for (const char* caption : {"One", "Two", "Three"}) Add(popup->Items(), caption);
  Menus().HookPopupMenu(popup, true);
  const Bitmap shot = PopupShot(popup, popup->Items());
  ASSERT_GT(shot.Width(), 8);
  ASSERT_GT(shot.Height(), 8);
  // The rows lie two pixels inside the window's edges.
  const int right = shot.Width() - 3, bottom = shot.Height() - 3;
  int edgeColumns = 0, bottomRows = 0;
  for (int y = 2; y <= bottom; ++y)
    for (int x : {2, right - 1, right}) edgeColumns += shot.Pixel(x, y) != kPopupBack ? 1 : 0;
  for (int x = 2; x <= right; ++x)
    for (int y : {bottom - 1, bottom}) bottomRows += shot.Pixel(x, y) != kPopupBack ? 1 : 0;
  EXPECT_EQ(edgeColumns, 0);
  EXPECT_EQ(bottomRows, 0);
}

TEST_F(MenusTest, PopupAndMenuLineMatchTheirGoldens) {
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
  // The popup window itself, its first item selected, painted and taken when Left (which
  // no level takes) ends it.
  const Bitmap shot = PopupShot(popup, popup->Items(), true);
  EXPECT_EQ(Menus().CachedBackgrounds(), 1u);
  test::ExpectGolden(shot, "menu_popup");

  // The menu line of a provided form: hooked on activation, in the place of the window
  // system's bar, with a hot item.
  auto* bordered = Create<TForm>(Application());
  bordered->SetBounds(100, 100, 240, 120);
  bordered->SetCaption("Menus");
  TMainMenu* menu = Create<TMainMenu>(bordered);
  TMenuItem* file = Add(menu->Items(), "&File");
  Add(file, "Open");
  TMenuItem* edit = Add(menu->Items(), "&Edit");
  Add(edit, "Copy");
  Add(menu->Items(), "&Help");
  bordered->SetMenu(menu);
  auto* p = ShowWithProvider(bordered);
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
}

}  // namespace
}  // namespace qv
