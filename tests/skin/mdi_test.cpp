// An MDI form with a provider on the headless back end: the child-menu item while a child
// is maximised, Ctrl+F4, the skinned bars over the client's own, and a golden.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/classlib/menubar.h"
#include "platform/classlib/menus.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/icons.h"
#include "platform/ui/mdi.h"
#include "skin/smdiform.h"
#include "skin/spaintutils.h"
#include "skin/sskinmanager.h"
#include "skin/sskinprovider.h"
#include "tests/skin/paint_test_util.h"
#include "tests/skin/provider_fixture.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

constexpr COLORREF kMdiArea = RGB(90, 120, 110);

using test::TMdiMain;

class MdiTest : public test::SkinTest {
 protected:
  void SetUp() override {
    SkinTest::SetUp();
    test::WriteProviderSkin(Folder("M"), true);
    std::ifstream in(Folder("M") + "/Options.dat");
    std::stringstream text;
    text << in.rdbuf() << "[MDIAREA]\nPaintingColor=" << kMdiArea << "\n";
    Options("M", text.str());
    manager->SetSkinName("M");
    ASSERT_TRUE(SkinData.Active);
    Application()->CreateForm(main);
    menu = Create<TMainMenu>(main);
    auto* file = Create<TMenuItem>(menu);
    file->SetCaption("File");
    file->SetName("FileItem");
    menu->Items()->Add(file);
    main->SetMenu(menu);
    provider = Create<TsSkinProvider>(main);
    provider->AfterConstruction();
    main->Show();
    Pump();
    ASSERT_NE(provider->MDIForm(), nullptr);
  }

  std::vector<std::string> MenuLine() {
    std::vector<std::string> names;
    for (const auto& [item, r] : GetMenuBarLayout(*main).Items) names.push_back(item->Name());
    return names;
  }

  TForm* Child(const std::string& caption, Rect bounds,
               std::vector<std::pair<std::string, int>> menuItems = {}) {
    auto* child = Create<TForm>(Application());
    if (!menuItems.empty()) child->SetMenu(test::MenuOf(child, menuItems));
    child->SetFormStyle(TFormStyle::fsMDIChild);
    child->SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
    child->SetCaption(caption);
    child->OnClose = [](TComponent*, TCloseAction& action) { action = TCloseAction::caFree; };
    Create<TsSkinProvider>(child)->AfterConstruction();
    child->AfterConstruction();
    child->Show();
    Pump();
    return child;
  }
  std::string FirstItem() const {
    return menu->Items()->Count() > 0 ? menu->Items()->Items(0)->Name() : "";
  }

  TMdiMain* main = nullptr;
  TMainMenu* menu = nullptr;
  TsSkinProvider* provider = nullptr;
};

TEST_F(MdiTest, MaximiseRestoreMinimiseAndCtrlF4) {
  TForm* a = Child("A", Bounds(10, 10, 120, 80));
  TForm* b = Child("B", Bounds(400, 20, 120, 80));  // beyond the client's right edge
  TsMDIForm* mdi = provider->MDIForm();
  ASSERT_EQ(main->MDIChildCount(), 2);
  EXPECT_EQ(main->ActiveMDIChild(), b);
  ASSERT_NE(mdi->ChildMenuItem(), nullptr);
  EXPECT_EQ(mdi->ChildMenuItem()->Count(), 4);
  struct Step {
    const char* what;
    std::function<void()> act;
    std::string firstItem;
    bool horzBar;
    TWindowState aState;
  };
  const Step steps[] = {
      {"b shows a bar", [] {}, "", true, TWindowState::wsNormal},
      {"maximise a", [&] { a->SetWindowState(TWindowState::wsMaximized); }, "sMDICII", false,
       TWindowState::wsMaximized},
      {"restore a", [&] { a->SetWindowState(TWindowState::wsNormal); }, "", true,
       TWindowState::wsNormal},
      {"maximise by the item's parent",
       [&] { SendMessage(a->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0); }, "sMDICII", false,
       TWindowState::wsMaximized},
      {"minimise through the child menu", [&] { mdi->ChildMenuItem()->Items(1)->Click(); }, "",
       true, TWindowState::wsMinimized},
      {"restore from the strip", [&] { a->SetWindowState(TWindowState::wsNormal); }, "", true,
       TWindowState::wsNormal},
  };
  for (const Step& s : steps) {
    s.act();
    Pump();
    SCOPED_TRACE(s.what);
    EXPECT_EQ(FirstItem() == "sMDICII", s.firstItem == "sMDICII");
    EXPECT_EQ(mdi->HorzBar() != nullptr, s.horzBar);
    if (mdi->ChildMaximized()) {
      EXPECT_EQ(mdi->VertBar(), nullptr);
    }
    EXPECT_EQ(a->WindowState(), s.aState);
    EXPECT_EQ(manager->SkinableMenus().IsMDIChildMaximized(), s.firstItem == "sMDICII");
    // The skinned menu line still shows the application's item after the child's.
    const TMenuBarLayout bar = GetMenuBarLayout(*main);
    ASSERT_FALSE(bar.Items.empty());
    EXPECT_EQ(bar.Items.back().first->Name(), "FileItem");
  }
  EXPECT_EQ(a->BoundsRect(), Bounds(10, 10, 120, 80));  // back where it was
  // A maximised child fills the client: its client area is the client's.
  a->SetWindowState(TWindowState::wsMaximized);
  Pump();
  Rect ac, mc;
  ASSERT_TRUE(GetClientRect(a->Handle(), ac));
  ASSERT_TRUE(GetClientRect(main->ClientHandle(), mc));
  EXPECT_EQ(ac, mc);
  // Ctrl+F4 closes the active child, which was maximised: the next one takes that over.
  Key(VK_F4, {}, kModControl);
  ASSERT_EQ(main->MDIChildCount(), 1);
  EXPECT_EQ(main->ActiveMDIChild(), b);
  EXPECT_EQ(b->WindowState(), TWindowState::wsMaximized);
  EXPECT_EQ(FirstItem(), "sMDICII");
  Key(VK_F4, {}, kModControl);
  EXPECT_EQ(main->MDIChildCount(), 0);
  EXPECT_EQ(main->ActiveMDIChild(), nullptr);
  EXPECT_EQ(FirstItem(), "FileItem");
}

// Children hear of their activation through WM_NCACTIVATE and WM_MDIACTIVATE only: the
// next child, maximised in its turn, shows its own icon in the MDI form's menu line.
TEST_F(MdiTest, NextChildShowsItsIconInTheMenuLine) {
  const COLORREF red = RGB(220, 0, 0), blue = RGB(0, 0, 220);
  TForm* a = Child("A", Bounds(10, 10, 120, 80));
  a->Icon().SetHandle(test::SolidIcon(red));
  TForm* b = Child("B", Bounds(60, 40, 120, 80));
  b->Icon().SetHandle(test::SolidIcon(blue));
  a->SetFocus();
  SendMessage(a->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  Pump();
  ASSERT_EQ(main->ActiveMDIChild(), a);
  const Point icon{provider->SysBorderHeight() + 4,
                   provider->SysBorderWidth() + provider->CaptionHeight() + 4};
  auto iconPixel = [&] { return SnapshotWindow(main->Handle()).Pixel(icon.X, icon.Y); };
  EXPECT_EQ(iconPixel(), red);
  for (const auto& [next, color] : {std::pair{b, blue}, std::pair{a, red}}) {
    SendMessage(main->ClientHandle(), WM_MDINEXT, 0, 0);
    Pump();
    ASSERT_EQ(main->ActiveMDIChild(), next);
    EXPECT_EQ(next->WindowState(), TWindowState::wsMaximized);
    EXPECT_EQ(iconPixel(), color) << next->Caption();
  }
}

// A minimised child's caption strip: a press drags it, and the release shows the child's
// system menu at the pointer.
TEST_F(MdiTest, MinimisedChildDragsAndShowsItsSystemMenuOnRelease) {
  TForm* a = Child("A", Bounds(10, 10, 120, 80));
  Child("B", Bounds(60, 40, 120, 80));
  a->SetWindowState(TWindowState::wsMinimized);
  Pump();
  ASSERT_TRUE(IsIconic(a->Handle()));
  auto* childProvider = static_cast<TsSkinProvider*>(
      reinterpret_cast<void*>(SendMessage(a->Handle(), SKM_GETPROVIDER, 0, 0)));
  ASSERT_NE(childProvider, nullptr);
  int popups = 0;
  Point shownAt;
  childProvider->SystemMenu().OnPopup = [&](TComponent*) {
    ++popups;
    shownAt = GetCursorPos();
    headless->InjectKey(VK_ESCAPE, true);
    headless->InjectKey(VK_ESCAPE, false);
  };
  Rect before;
  ASSERT_TRUE(GetWindowRect(a->Handle(), before));
  const Point grab{before.Left + 60, before.Top + 8};
  const Point drop{grab.X + 25, grab.Y - 30};
  headless->InjectMouseMove(grab);
  headless->InjectButton(grab, MouseButton::Left, true);
  headless->InjectMouseMove(drop);
  headless->InjectButton(drop, MouseButton::Left, false);
  Pump();
  Rect after;
  ASSERT_TRUE(GetWindowRect(a->Handle(), after));
  EXPECT_EQ(after, before.Offset(25, -30));
  EXPECT_TRUE(IsIconic(a->Handle()));
  EXPECT_EQ(popups, 1);
  EXPECT_EQ(shownAt, drop);
}

// An active child's menu is merged into the MDI form's by group; the skinned menu line
// shows a maximised child's items in place of the form's items of their group and the
// rest after the form's own, and the merge goes with the child.
TEST_F(MdiTest, MaximisedChildsMergedMenuInTheMenuLine) {
  auto* window = Create<TMenuItem>(menu);
  window->SetCaption("Window");
  window->SetName("WindowItem");
  window->SetGroupIndex(5);
  menu->Items()->Add(window);
  auto* help = Create<TMenuItem>(menu);
  help->SetCaption("Help");
  help->SetName("HelpItem");
  help->SetGroupIndex(10);
  menu->Items()->Add(help);
  TForm* a = Child("A", Bounds(10, 10, 120, 80), {{"EditA", 1}, {"HelpA", 10}});
  TForm* b = Child("B", Bounds(60, 40, 120, 80), {{"EditB", 1}, {"ToolsB", 20}});
  ASSERT_EQ(main->ActiveMDIChild(), b);
  EXPECT_EQ(menu->Merged(), b->Menu());
  // Not maximised: the form's own items only.
  EXPECT_EQ(MenuLine(), (std::vector<std::string>{"FileItem", "WindowItem", "HelpItem"}));
  a->SetFocus();
  SendMessage(a->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  Pump();
  ASSERT_EQ(main->ActiveMDIChild(), a);
  EXPECT_EQ(menu->Merged(), a->Menu());
  EXPECT_EQ(MenuLine(),
            (std::vector<std::string>{"sMDICII", "FileItem", "WindowItem", "HelpA", "EditA"}));
  Key(VK_F6, {}, kModControl);
  ASSERT_EQ(main->ActiveMDIChild(), b);
  EXPECT_EQ(MenuLine(), (std::vector<std::string>{"sMDICII", "FileItem", "WindowItem", "HelpItem",
                                                  "EditB", "ToolsB"}));
  // The last item wraps to a second line, which the menu line makes room for.
  EXPECT_EQ(provider->MenuBottom() - provider->MenuHeight() * 2 - 1,
            provider->SysBorderWidth() + provider->CaptionHeight());
  for (const auto& [item, r] : GetMenuBarLayout(*main).Items)
    EXPECT_LE(r.Bottom, provider->MenuBottom()) << item->Name();
  Key(VK_F4, {}, kModControl);  // closes b
  ASSERT_EQ(main->ActiveMDIChild(), a);
  EXPECT_EQ(menu->Merged(), a->Menu());
  Key(VK_F4, {}, kModControl);
  EXPECT_EQ(menu->Merged(), nullptr);
  EXPECT_EQ(MenuLine(), (std::vector<std::string>{"FileItem", "WindowItem", "HelpItem"}));
}

// Switching the skin off and on keeps the MDI form's window, its client and its children.
TEST_F(MdiTest, SkinOffAndOnKeepsTheChildren) {
  TForm* a = Child("A", Bounds(10, 10, 120, 80));
  Child("B", Bounds(60, 40, 120, 80));
  const HWND client = main->ClientHandle();
  for (const bool active : {false, true}) {
    manager->SetActive(active);
    Pump();
    EXPECT_EQ(main->MDIChildCount(), 2);
    EXPECT_EQ(main->ClientHandle(), client);
    EXPECT_TRUE(a->HandleAllocated() && IsWindow(a->Handle()));
  }
}

// In a maximised child's merged line only the line's ends make room: the first for the
// child's icon, the last for its buttons; items that end their own menus mid-line do not.
TEST_F(MdiTest, MergedLineMakesRoomAtItsEndsOnly) {
  auto* help = Create<TMenuItem>(menu);
  help->SetCaption("Help");
  help->SetName("HelpItem");
  help->SetGroupIndex(10);
  menu->Items()->Add(help);
  TForm* a = Child("A", Bounds(10, 10, 120, 80), {{"EditA", 1}, {"HelpA", 10}, {"ToolsA", 20}});
  SendMessage(a->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  Pump();
  ASSERT_EQ(MenuLine(),
            (std::vector<std::string>{"sMDICII", "FileItem", "HelpA", "EditA", "ToolsA"}));
  TBitmap b(1, 1);
  auto width = [&](TMenuItem* item) {
    int w = 0, h = 0;
    manager->SkinableMenus().MeasureMenuBarItem(item, b.Canvas(), w, h);
    return w;
  };
  std::vector<std::pair<TMenuItem*, int>> zoomed;
  for (const auto& [item, r] : GetMenuBarLayout(*main).Items)
    zoomed.emplace_back(item, width(item));
  SendMessage(a->Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
  Pump();
  ASSERT_FALSE(manager->SkinableMenus().IsMDIChildMaximized());
  EXPECT_GT(zoomed[0].second - width(zoomed[0].first), 0);
  for (std::size_t i = 1; i < zoomed.size(); ++i)
    EXPECT_EQ(zoomed[i].second - width(zoomed[i].first), i + 1 == zoomed.size() ? 40 : 0)
        << zoomed[i].first->Name();
}

// A press in the bare client area of an inactive child activates it before the child acts
// on the press, as one on its frame does.
TEST_F(MdiTest, PressInAnInactiveChildsClientAreaActivatesIt) {
  TForm* a = Child("A", Bounds(10, 10, 120, 80));
  Child("B", Bounds(160, 10, 120, 80));
  ASSERT_NE(main->ActiveMDIChild(), a);
  int presses = 0;
  a->OnMouseDown = [&](TComponent*, TMouseButton, TShiftState, int, int) {
    ++presses;
    EXPECT_EQ(main->ActiveMDIChild(), a);
  };
  Click(a, {20, 20});
  Pump();
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(main->ActiveMDIChild(), a);
}

// Clicked until the far child is in view, the client's skinned bar hides while its own
// release is being handled; it sees that release through, and shows again when needed.
TEST_F(MdiTest, BarClickedUntilItHidesOutlivesItsRelease) {
  TForm* far = Child("Far", Bounds(400, 20, 120, 80));
  TsMDIForm* mdi = provider->MDIForm();
  TsScrollBar* bar = mdi->HorzBar();
  ASSERT_NE(bar, nullptr);
  const Point arrow{bar->Width() - 4, bar->Height() / 2};
  int clicks = 0;
  for (; clicks < 100 && mdi->HorzBar() != nullptr; ++clicks) {
    Press(bar, arrow);
    Pump();
    Release(bar, arrow);
    Pump();
  }
  EXPECT_EQ(mdi->HorzBar(), nullptr);
  EXPECT_GT(clicks, 1);
  far->SetBounds(far->Left() + 300, far->Top(), far->Width(), far->Height());
  Pump();
  mdi->UpdateScrollBars();  // as the form's next sizing does
  EXPECT_EQ(mdi->HorzBar(), bar);
}

// A child's item merged into the MDI form's line is drawn over that line, not over the
// child's (which has none); the line counts as an MDI child's only while one is maximised.
TEST_F(MdiTest, MergedItemIsDrawnOverTheMdiFormsMenuLine) {
  std::ifstream in(Folder("M") + "/Options.dat");
  std::stringstream text;
  text << in.rdbuf();
  std::string options = text.str();
  options.replace(options.find("[MENUITEM]\n"), 11, "[MENUITEM]\nPaintingTransparency=100\n");
  Options("MT", options);
  manager->SetSkinName("MT");
  Pump();
  TForm* a = Child("A", Bounds(10, 10, 120, 80), {{"EditA", 1}});
  EXPECT_FALSE(manager->SkinableMenus().IsMDIChildMaximized());
  SendMessage(a->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  Pump();
  EXPECT_TRUE(manager->SkinableMenus().IsMDIChildMaximized());
  TMenuItem* edit = nullptr;
  Rect r;
  for (const auto& [item, at] : GetMenuBarLayout(*main).Items)
    if (item->Name() == "EditA") std::tie(edit, r) = std::pair{item, at};
  ASSERT_NE(edit, nullptr);
  TBitmap drawn(r.Right, r.Bottom);
  drawn.Image().Fill(RGB(1, 2, 3));
  manager->SkinableMenus().DrawMenuBarItem(edit, drawn.Canvas(), r, 0);
  EXPECT_EQ(drawn.Image().Pixel(r.Left + 1, r.Top + 1), test::kMenuLine);
  EXPECT_EQ(drawn.Image().Pixel(r.Left + 1, r.Bottom - 2), test::kMenuLine);
}

// Sizing the MDI form by its frame puts the skinned bars back over the client's own.
TEST_F(MdiTest, SizingTheFormPlacesTheBarsAgain) {
  Child("Far", Bounds(400, 20, 120, 80));
  TsScrollBar* bar = provider->MDIForm()->HorzBar();
  ASSERT_NE(bar, nullptr);
  const Rect placed = bar->BoundsRect();
  bar->SetBounds(0, 0, 5, 5);
  Rect sizing;
  ASSERT_TRUE(GetWindowRect(main->Handle(), sizing));
  SendMessage(main->Handle(), WM_SIZING, 2 /* right edge */, reinterpret_cast<LPARAM>(&sizing));
  EXPECT_EQ(bar->BoundsRect(), Bounds(0, 0, 5, 5));  // the cached image still fits the form
  provider->sStyle().CacheBmp.SetSize(10, 10);       // as while the frame is being dragged
  SendMessage(main->Handle(), WM_SIZING, 2, reinterpret_cast<LPARAM>(&sizing));
  EXPECT_EQ(bar->BoundsRect(), placed);
}

TEST_F(MdiTest, RangeStartingBelowZeroMapsToZeroAndScrollsByTheShift) {
  struct Case {
    bool vertical;
    Rect child;
  };
  for (const Case& c :
       {Case{false, Bounds(-100, 10, 120, 60)}, Case{true, Bounds(10, -70, 120, 60)}}) {
    SCOPED_TRACE(c.vertical ? "vertical" : "horizontal");
    TForm* child = Child("C", c.child);
    TsMDIForm* mdi = provider->MDIForm();
    TsScrollBar* bar = c.vertical ? mdi->VertBar() : mdi->HorzBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(TsMDIForm::RangeShift(c.vertical), c.vertical ? -70 : -100);
    EXPECT_EQ(bar->Min(), 0);
    EXPECT_EQ(bar->Position(), c.vertical ? 70 : 100);
    EXPECT_EQ(bar->Max(), c.vertical ? 70 : 100);  // the child reaches no farther than the page
    // The bar over the client's own, widened as the frame asks.
    SCROLLBARINFO sbi;
    ASSERT_TRUE(
        GetScrollBarInfo(main->ClientHandle(), c.vertical ? OBJID_VSCROLL : OBJID_HSCROLL, sbi));
    EXPECT_EQ(bar->Width(), sbi.rcScrollBar.Width() + (c.vertical ? 1 : 2));
    EXPECT_EQ(bar->Height(), sbi.rcScrollBar.Height() + (c.vertical ? 4 : 2));
    bar->SetPosition(30);  // the client scrolls to 30 + shift: the child comes 30 nearer
    Pump();
    EXPECT_EQ(c.vertical ? child->Top() : child->Left(), -30);
    bar->SetPosition(0);
    Pump();
    EXPECT_EQ(c.vertical ? child->Top() : child->Left(), 0);
    if (c.vertical) break;  // the last bar stays: it goes with the form
    child->Close();
    Pump();
    mdi->UpdateScrollBars();
    EXPECT_EQ(mdi->HorzBar(), nullptr);
    EXPECT_EQ(mdi->VertBar(), nullptr);
  }
}

TEST_F(MdiTest, GoldenOfAnMdiFormWithTwoChildren) {
  Child("First", Bounds(8, 6, 150, 90));
  Child("Second", Bounds(120, 60, 150, 90));
  Pump();
  const Bitmap shot = SnapshotWindow(main->Handle());
  // The MDI area's colour between the children, under the client window.
  const Point o = provider->ClientOrigin();
  EXPECT_EQ(shot.Pixel(o.X + 60, o.Y + 150), kMdiArea);
  test::ExpectGolden(shot, "mdi_form");
}

// The maximised child's Minimize, Restore and Close buttons and its icon in the MDI form's
// menu line: hot under the pointer, pressed while held, and each acting on a click.
TEST_F(MdiTest, MaximisedChildButtonsInTheMenuLineActOnAClick) {
  auto screen = [&](Point window) {
    Rect r;
    EXPECT_TRUE(GetWindowRect(main->Handle(), r));
    return Point{r.Left + window.X, r.Top + window.Y};
  };
  auto hitAt = [&](Point window) {
    const Point s = screen(window);
    return SendMessage(main->Handle(), WM_NCHITTEST, 0,
                       LPARAM(std::uint16_t(s.X) | (std::uint32_t(std::uint16_t(s.Y)) << 16)));
  };
  auto click = [&](Point window) {
    const Point s = screen(window);
    headless->InjectMouseMove(s);
    headless->InjectButton(s, MouseButton::Left, true);
    Pump();
    headless->InjectButton(s, MouseButton::Left, false);
    Pump();
  };
  auto centre = [](const Rect& r) { return Point{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2}; };
  const int lineTop = provider->SysBorderWidth() + provider->CaptionHeight();
  auto menuLine = [&] {
    const Bitmap shot = SnapshotWindow(main->Handle());
    Bitmap line(shot.Width(), provider->MenuBottom() - lineTop);
    CopyBitmapRect(line, {0, 0}, shot, Bounds(0, lineTop, line.Width(), line.Height()));
    return line;
  };
  TForm* a = Child("A", Bounds(10, 10, 120, 80));
  Child("B", Bounds(60, 40, 120, 80));
  a->SetFocus();
  Pump();
  // Not maximised: nothing of a child in the menu line.
  EXPECT_TRUE(provider->Button(HTMDICLOSE).Rect.IsEmpty());

  auto maximise = [&] {
    SendMessage(a->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    Pump();
    ASSERT_EQ(main->ActiveMDIChild(), a);
    ASSERT_EQ(a->WindowState(), TWindowState::wsMaximized);
  };
  maximise();
  const Rect close = provider->Button(HTMDICLOSE).Rect;
  const Rect restore = provider->Button(HTMDIRESTORE).Rect;
  const Rect minimize = provider->Button(HTMDIMINIMIZE).Rect;
  // Right to left in the menu line, inside its rows.
  ASSERT_FALSE(close.IsEmpty());
  EXPECT_LT(restore.Right, close.Left);
  EXPECT_LT(minimize.Right, restore.Left);
  EXPECT_GE(close.Top, lineTop);
  EXPECT_LE(close.Bottom, provider->MenuBottom());
  EXPECT_EQ(close.Width(), 14);

  std::vector<Bitmap> lines;
  lines.push_back(menuLine());
  const Bitmap& normal = lines.back();
  // The child's glyphs in their normal frame, and its icon at the left end.
  EXPECT_EQ(normal.Pixel(centre(close).X, centre(close).Y - lineTop), test::kCloseGlyph);
  EXPECT_EQ(normal.Pixel(centre(restore).X, centre(restore).Y - lineTop), test::kNormGlyph);
  EXPECT_EQ(normal.Pixel(centre(minimize).X, centre(minimize).Y - lineTop), test::kMinGlyph);
  const int iconSide = provider->MenuHeight() - 2;
  int iconPixels = 0;
  for (int y = 1; y < 1 + iconSide; ++y)
    for (int x = provider->SysBorderHeight() + 1; x < provider->SysBorderHeight() + 1 + iconSide;
         ++x)
      iconPixels += normal.Pixel(x, y) != test::kMenuLine ? 1 : 0;
  EXPECT_GT(iconPixels, iconSide * iconSide / 4);

  // Hot under the pointer; pressed while the button is held.
  EXPECT_EQ(hitAt(centre(close)), HTMDICLOSE);
  EXPECT_EQ(provider->Button(HTMDICLOSE).State, 1);
  lines.push_back(menuLine());
  EXPECT_EQ(lines.back().Pixel(centre(close).X, centre(close).Y - lineTop), RGB(255, 60, 60));
  EXPECT_EQ(hitAt(centre(restore)), HTMDIRESTORE);
  EXPECT_EQ(provider->Button(HTMDICLOSE).State, 0);
  headless->InjectButton(screen(centre(restore)), MouseButton::Left, true);
  Pump();
  EXPECT_EQ(provider->Button(HTMDIRESTORE).State, 2);
  lines.push_back(menuLine());
  EXPECT_EQ(lines.back().Pixel(centre(restore).X, centre(restore).Y - lineTop), RGB(120, 70, 0));
  headless->InjectButton(screen(centre(restore)), MouseButton::Left, false);
  Pump();
  EXPECT_EQ(a->WindowState(), TWindowState::wsNormal);  // the release restored it
  EXPECT_EQ(provider->HotButton(), 0);
  EXPECT_TRUE(provider->Button(HTMDICLOSE).Rect.IsEmpty());

  Bitmap sheet(lines[0].Width(), 3 * lines[0].Height());
  for (std::size_t i = 0; i < lines.size(); ++i)
    CopyBitmapRect(sheet, {0, int(i) * lines[0].Height()}, lines[i], lines[i].BoundsRect());
  test::ExpectGolden(sheet, "mdi_child_menu_line");

  maximise();
  click(centre(provider->Button(HTMDIMINIMIZE).Rect));
  EXPECT_EQ(a->WindowState(), TWindowState::wsMinimized);
  a->SetWindowState(TWindowState::wsNormal);
  a->SetFocus();
  Pump();
  maximise();
  click(centre(provider->Button(HTMDICLOSE).Rect));
  EXPECT_EQ(main->MDIChildCount(), 1);
}

// The system menu's Minimize on a child paints the child's strip from a new image at once.
TEST_F(MdiTest, SystemMenuMinimizeRepaintsTheChildAtOnce) {
  TForm* a = Child("A", Bounds(10, 10, 120, 80));
  auto* p = reinterpret_cast<TsSkinProvider*>(SendMessage(a->Handle(), SKM_GETPROVIDER, 0, 0));
  ASSERT_NE(p, nullptr);
  int paints = 0, ncPaints = 0;
  const SubclassId spy = SubclassWindow(
      a->Handle(), [&](HWND h, UINT msg, WPARAM w, LPARAM l, const WndProc& inherited) {
        paints += msg == WM_PAINT ? 1 : 0;
        ncPaints += msg == WM_NCPAINT ? 1 : 0;
        return inherited(h, msg, w, l);
      });
  p->SystemMenu().ItemMinimize->Click();
  EXPECT_EQ(a->WindowState(), TWindowState::wsMinimized);
  EXPECT_GE(paints, 1);  // sent, before any message is pumped
  EXPECT_GE(ncPaints, 1);
  EXPECT_FALSE(p->NeedRepaint);  // the new image was made for them
  RemoveWindowSubclass(a->Handle(), spy);
}

// The skin switched off while a child is maximised: the children keep their windows and
// their places, and the child-menu item stays in the menu only while a child is maximised
// under the skin.
TEST_F(MdiTest, SkinSwitchWhileAChildIsMaximisedKeepsPlacesAndMenu) {
  TForm* a = Child("A", Bounds(10, 10, 120, 80));
  TForm* b = Child("B", Bounds(150, 20, 120, 80));
  const Rect placeA = a->BoundsRect();
  const Rect placeB = b->BoundsRect();
  const HWND handleA = a->Handle();
  const HWND handleB = b->Handle();
  a->SetWindowState(TWindowState::wsMaximized);
  Pump();
  ASSERT_EQ(FirstItem(), "sMDICII");
  manager->SetActive(false);
  Pump();
  EXPECT_NE(FirstItem(), "sMDICII");
  EXPECT_EQ(a->Handle(), handleA);
  EXPECT_EQ(b->Handle(), handleB);
  EXPECT_EQ(b->BoundsRect(), placeB);
  a->SetWindowState(TWindowState::wsNormal);
  Pump();
  EXPECT_EQ(a->BoundsRect(), placeA);
  EXPECT_EQ(b->BoundsRect(), placeB);
  EXPECT_NE(FirstItem(), "sMDICII");
  manager->SetActive(true);
  Pump();
  EXPECT_NE(FirstItem(), "sMDICII");  // nothing maximised
  // Off and on again with the child maximised throughout: the item comes back with the skin.
  a->SetWindowState(TWindowState::wsMaximized);
  Pump();
  manager->SetActive(false);
  Pump();
  EXPECT_NE(FirstItem(), "sMDICII");
  manager->SetActive(true);
  Pump();
  EXPECT_EQ(FirstItem(), "sMDICII");
  a->SetWindowState(TWindowState::wsNormal);
  Pump();
  EXPECT_NE(FirstItem(), "sMDICII");
  EXPECT_EQ(a->BoundsRect(), placeA);
  EXPECT_EQ(b->BoundsRect(), placeB);
}

}  // namespace
}  // namespace qv
