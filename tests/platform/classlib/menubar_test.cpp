// The form's menu bar on the headless back end: its place in the non-client area and how
// the mouse and the keys track it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/classlib/menubar.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/virtual_keys.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv {
namespace {

class MenuBarTest : public test::ClassLibTest {
 public:
  using ClassLibTest::headless;

  // "&File" (Open, Exit) and "&Help" (About), owner-measured: bar items 60 wide, popup rows
  // 80 x 20. Chosen items are noted in `clicked`.
  TForm* MenuForm(int width, int extraItems = 0) {
    form = Create<TForm>(Application());
    form->SetBounds(100, 100, width, 200);
    menu = Create<TMainMenu>(form);
    menu->SetOwnerDraw(true);
    auto add = [&](TMenuItem* parent, const std::string& caption) {
      auto* item = Create<TMenuItem>(form);
      item->SetCaption(caption);
      item->OnMeasureItem = [parent, this](TComponent*, TCanvas&, int& w, int& h) {
        w = parent == menu->Items() ? 60 : 80;
        if (parent != menu->Items()) h = 20;
      };
      item->OnClick = [this, caption](TComponent*) { clicked += caption; };
      parent->Add(item);
      return item;
    };
    TMenuItem* file = add(menu->Items(), "&File");
    add(file, "Open");
    add(file, "Exit");
    add(add(menu->Items(), "&Help"), "About");
    for (int i = 0; i < extraItems; ++i) add(menu->Items(), "Item" + std::to_string(i));
    form->SetMenu(menu);
    ShowForm(form);
    return form;
  }
  Point Origin() {
    Rect r;
    EXPECT_TRUE(GetWindowRect(form->Handle(), r));
    return {r.Left, r.Top};
  }
  Rect BarItem(int i) {
    const TMenuBarLayout layout = GetMenuBarLayout(*form);
    return layout.Items.at(std::size_t(i)).second.Offset(Origin().X, Origin().Y);
  }
  static LPARAM Param(Point p) { return MAKELONG(std::uint16_t(p.X), std::uint16_t(p.Y)); }
  static Point Centre(const Rect& r) { return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2}; }
  // Row `row` of the popup of bar item `i`, on the screen.
  Point Row(int i, int row) {
    return {BarItem(i).Left + 20, BarItem(i).Bottom + 2 + 20 * row + 10};
  }

  TForm* form = nullptr;
  TMainMenu* menu = nullptr;
  std::string clicked;
};

TEST_F(MenuBarTest, BarTakesItsLinesFromTheClientAreaAndAnswersHtMenu) {
  const int line = GetSystemMetrics(SM_CYMENU);
  const struct {
    int width;
    int lines;
  } cases[] = {{400, 1}, {190, 2}, {110, 4}};
  for (const auto& c : cases) {
    TForm* plain = Create<TForm>(Application());
    plain->SetBounds(100, 100, c.width, 200);
    ShowForm(plain);
    MenuForm(c.width, 2);
    EXPECT_EQ(plain->ClientHeight() - form->ClientHeight(), c.lines * line) << c.width;
    const TMenuBarLayout layout = GetMenuBarLayout(*form);
    ASSERT_EQ(layout.Items.size(), 4u);
    EXPECT_EQ(layout.Items[0].second.Width(), 60 + GetSystemMetrics(SM_CXMENUSIZE) - 6);
    EXPECT_EQ(layout.Bar.Height(), c.lines * line);
    EXPECT_EQ(SendMessage(form->Handle(), WM_NCHITTEST, 0, Param(Centre(BarItem(3)))),
              LRESULT{HTMENU});
    // An item that is hidden takes no place; the client area grows back.
    menu->Items()->Items(1)->SetVisible(false);
    RefreshMenuBar(*form);
    EXPECT_EQ(GetMenuBarLayout(*form).Items.size(), 3u);
    Free(plain);
    Free(form);
  }
}

TEST_F(MenuBarTest, MouseAndKeysTrackTheBar) {
  using Act = std::function<void(MenuBarTest&)>;
  auto click = [](std::function<Point(MenuBarTest&)> at) {
    return Act([at](MenuBarTest& t) { t.headless->InjectClick(at(t)); });
  };
  auto move = [](std::function<Point(MenuBarTest&)> at) {
    return Act([at](MenuBarTest& t) { t.headless->InjectMouseMove(at(t)); });
  };
  auto key = [](unsigned vk, std::string text = {}, unsigned mods = 0) {
    return Act([=](MenuBarTest& t) {
      t.headless->InjectKey(vk, true, text, mods);
      t.headless->InjectKey(vk, false, {}, mods);
    });
  };
  auto file = [](MenuBarTest& t) { return Centre(t.BarItem(0)); };
  auto help = [](MenuBarTest& t) { return Centre(t.BarItem(1)); };
  const struct {
    const char* name;
    std::vector<Act> acts;
    const char* clicked;
  } cases[] = {
      {"click, row", {click(file), click([](MenuBarTest& t) { return t.Row(0, 0); })}, "Open"},
      {"open, slide to the next item",
       {click(file), move(help), click([](MenuBarTest& t) { return t.Row(1, 0); })},
       "About"},
      {"click elsewhere closes",
       {click(file), click([](MenuBarTest& t) {
          return Point{t.Origin().X + 150, t.Origin().Y + 150};
        })},
       ""},
      {"click the open item again", {click(file), click(file)}, ""},
      {"F10, Right, Down, Enter",
       {key(VK_F10), key(VK_RIGHT), key(VK_DOWN), key(VK_RETURN)},
       "About"},
      {"Alt alone, Enter, Down, Enter",
       {key(VK_MENU), key(VK_RETURN), key(VK_DOWN), key(VK_RETURN)},
       "Exit"},
      {"Alt+H, Enter", {key('H', "h", kModAlt), key(VK_RETURN)}, "About"},
      {"F10, Down, Right, Enter",
       {key(VK_F10), key(VK_DOWN), key(VK_RIGHT), key(VK_RETURN)},
       "About"},
      {"Escapes leave", {key(VK_F10), key(VK_DOWN), key(VK_ESCAPE), key(VK_ESCAPE)}, ""},
  };
  for (const auto& c : cases) {
    MenuForm(300);
    clicked.clear();
    // All input goes in first: the tracking loops take it as it comes.
    for (const Act& a : c.acts) a(*this);
    Pump();
    EXPECT_EQ(clicked, c.clicked) << c.name;
    EXPECT_EQ(form->MenuBarHotItem(), nullptr) << c.name;
    Free(form);
  }
}

}  // namespace
}  // namespace qv
