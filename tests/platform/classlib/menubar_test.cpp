// The form's menu bar on the headless back end: its lines in the non-client area and how the
// mouse and the keys track it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/classlib/menubar.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/virtual_keys.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv {
namespace {

class MenuBarTest : public test::ClassLibTest {
 protected:
  // "&File" (Open, Exit), "&Help" (About) and `extra` more, owner-measured: bar items 60
  // wide, popup rows 20 high. Chosen items are noted in `clicked`.
  void MenuForm(int width, int extra = 0) {
    form = Create<TForm>(Application());
    form->SetBounds(100, 100, width, 200);
    menu = Create<TMainMenu>(form);
    menu->SetOwnerDraw(true);
    auto add = [&](TMenuItem* parent, const std::string& caption) {
      auto* item = Create<TMenuItem>(form);
      item->SetCaption(caption);
      const bool top = parent == menu->Items();
      item->OnMeasureItem = [top](TComponent*, TCanvas&, int& w, int& h) {
        w = top ? 60 : 80;
        h = top ? h : 20;
      };
      item->OnClick = [this, caption](TComponent*) { clicked += caption; };
      parent->Add(item);
      return item;
    };
    TMenuItem* file = add(menu->Items(), "&File");
    add(file, "Open");
    add(file, "Exit");
    add(add(menu->Items(), "&Help"), "About");
    for (int i = 0; i < extra; ++i) add(menu->Items(), "Item" + std::to_string(i));
    form->SetMenu(menu);
    ShowForm(form);
  }
  // Bar item `i` on the screen.
  Rect BarItem(int i) {
    Rect w;
    EXPECT_TRUE(GetWindowRect(form->Handle(), w));
    return GetMenuBarLayout(*form).Items.at(std::size_t(i)).second.Offset(w.Left, w.Top);
  }
  static Point Centre(const Rect& r) { return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2}; }

  TForm* form = nullptr;
  TMainMenu* menu = nullptr;
  std::string clicked;
};

TEST_F(MenuBarTest, BarTakesItsLinesFromTheClientAreaAndAnswersHtMenu) {
  const int line = GetSystemMetrics(SM_CYMENU);
  for (const auto& [width, lines] : {std::pair{400, 1}, {190, 2}, {110, 4}}) {
    MenuForm(width, 2);
    const int withBar = form->ClientHeight();
    const TMenuBarLayout layout = GetMenuBarLayout(*form);
    ASSERT_EQ(layout.Items.size(), 4u);
    EXPECT_EQ(layout.Items[0].second.Width(), 60 + GetSystemMetrics(SM_CXMENUSIZE) - 6);
    const Point at = Centre(BarItem(3));
    EXPECT_EQ(SendMessage(form->Handle(), WM_NCHITTEST, 0, MAKELONG(at.X, at.Y)), LRESULT{HTMENU});
    form->SetMenu(nullptr);  // the client area takes the bar's lines back
    EXPECT_EQ(form->ClientHeight() - withBar, lines * line) << width;
    Free(form);
  }
}

TEST_F(MenuBarTest, MouseAndKeysTrackTheBar) {
  // 'b': a click on bar item a; 'r': on row b of item a's popup; 'm': the pointer to bar item
  // a; 'o': a click in the client area; 'k': key a pressed and released with modifiers b, 'd'
  // and 'u' only pressed or released.
  struct Step {
    char kind;
    unsigned a = 0, b = 0;
  };
  const struct {
    std::vector<Step> steps;
    const char* clicked;
  } cases[] = {
      {{{'b', 0}, {'r', 0, 0}}, "Open"},
      {{{'b', 0}, {'m', 1}, {'r', 1, 0}}, "About"},  // moving over the bar switches popups
      {{{'b', 0}, {'o'}}, ""},
      {{{'b', 0}, {'b', 0}}, ""},
      {{{'k', VK_F10}, {'k', VK_RIGHT}, {'k', VK_DOWN}, {'k', VK_RETURN}}, "About"},
      {{{'k', VK_MENU}, {'k', VK_RETURN}, {'k', VK_DOWN}, {'k', VK_RETURN}}, "Exit"},
      {{{'k', 'H', kModAlt}, {'k', VK_RETURN}}, "About"},
      {{{'k', VK_F10}, {'k', VK_DOWN}, {'k', VK_RIGHT}, {'k', VK_RETURN}}, "About"},
      {{{'k', VK_F10}, {'k', VK_DOWN}, {'k', VK_ESCAPE}, {'k', VK_ESCAPE}}, ""},
      // Alt with another key between does not enter the bar: Down and Enter go to the form.
      {{{'d', VK_MENU},
        {'k', VK_SHIFT, kModAlt},
        {'u', VK_MENU, kModAlt},
        {'k', VK_DOWN},
        {'k', VK_RETURN}},
       ""},
  };
  for (const auto& c : cases) {
    MenuForm(300);
    clicked.clear();
    // All input goes in first: the tracking loops take it as it comes.
    for (const Step& s : c.steps) {
      const Rect r =
          std::string("bmr").find(s.kind) != std::string::npos ? BarItem(int(s.a)) : Rect{};
      if (s.kind == 'b') headless->InjectClick(Centre(r));
      if (s.kind == 'm') headless->InjectMouseMove(Centre(r));
      if (s.kind == 'r') headless->InjectClick({r.Left + 20, r.Bottom + 2 + 20 * int(s.b) + 10});
      if (s.kind == 'o') headless->InjectClick(form->ClientToScreen({150, 150}));
      const std::string text = s.a >= 'A' && s.a <= 'Z' ? std::string(1, char(s.a | 0x20)) : "";
      if (s.kind == 'k' || s.kind == 'd') headless->InjectKey(s.a, true, text, s.b);
      if (s.kind == 'k' || s.kind == 'u') headless->InjectKey(s.a, false, {}, s.b);
    }
    Pump();
    EXPECT_EQ(clicked, c.clicked) << c.steps.size() << " " << c.steps[1].kind;
    EXPECT_EQ(form->MenuBarHotItem(), nullptr);
    Free(form);
  }
}

// A merged menu's items take the place of the form's items of their group and come in group
// order otherwise; the bar shows them until the menu is taken out again or goes away.
TEST_F(MenuBarTest, MergedMenuJoinsTheBarByGroup) {
  MenuForm(600);
  menu->Items()->Items(1)->SetGroupIndex(10);  // "&Help"
  auto* child = Create<TMainMenu>(form);
  auto add = [&](const std::string& caption, int group) {
    auto* item = Create<TMenuItem>(child);
    item->SetCaption(caption);
    item->SetGroupIndex(group);
    item->OnMeasureItem = [](TComponent*, TCanvas&, int& w, int&) { w = 60; };
    child->Items()->Add(item);
  };
  add("&Edit", 1);
  add("&Tools", 20);
  add("&Guide", 10);
  auto captions = [&] {
    std::vector<std::string> names;
    for (const auto& [item, r] : GetMenuBarLayout(*form).Items) names.push_back(item->Caption());
    return names;
  };
  EXPECT_EQ(captions(), (std::vector<std::string>{"&File", "&Help"}));
  menu->Merge(child);
  RefreshMenuBar(*form);
  EXPECT_EQ(captions(), (std::vector<std::string>{"&File", "&Edit", "&Guide", "&Tools"}));
  menu->Unmerge(menu);  // not the merged one: nothing changes
  EXPECT_EQ(menu->Merged(), child);
  menu->Unmerge(child);
  RefreshMenuBar(*form);
  EXPECT_EQ(captions(), (std::vector<std::string>{"&File", "&Help"}));
  menu->Merge(child);
  delete child;
  EXPECT_EQ(menu->Merged(), nullptr);
  EXPECT_EQ(captions(), (std::vector<std::string>{"&File", "&Help"}));
}

}  // namespace
}  // namespace qv
