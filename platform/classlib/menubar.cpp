#include "platform/classlib/menubar.h"

#include <algorithm>
#include <cctype>

#include "platform/base/text.h"
#include "platform/classlib/forms.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/nonclient.h"
#include "platform/ui/window_system.h"

namespace qv {

namespace {

int Spacing() {
  return GetSystemMetrics(SM_CXMENUSIZE) - 6;
}

std::string WithoutPrefix(const std::string& caption) {
  std::string s;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    s += caption[i];
  }
  return s;
}

// A canvas on a memory DC in the menu font, for measuring.
struct MeasureCanvas {
  DC dc{nullptr};
  TCanvas canvas;
  MeasureCanvas() {
    canvas.SetHandle(&dc);
    canvas.Font().Assign(Screen()->MenuFont());
    dc.SelectFont(canvas.Font().Handle());
  }
};

bool HasVisibleItem(TMainMenu* menu) {
  if (menu == nullptr) return false;
  for (TMenuItem* item : menu->BarItems())
    if (item->Visible()) return true;
  return false;
}

// The height of all the bar's lines in a window of this size.
int BarHeightFor(TCustomForm& form, const Rect& window) {
  if (!HasVisibleItem(form.Menu())) return 0;
  const HWND h = form.Handle();
  const auto style = std::uint32_t(GetWindowLong(h, GWL_STYLE));
  const auto exStyle = std::uint32_t(GetWindowLong(h, GWL_EXSTYLE));
  const int line = GetSystemMetrics(SM_CYMENU);
  const Rect bar =
      nonclient::Compute(style, exStyle, {0, 0, window.Width(), window.Height()}, line).menu;
  std::vector<std::pair<TMenuItem*, Rect>> items;
  return LayOutMenuBar(form, bar, line, items) * line;
}

TOwnerDrawState StateOf(TCustomForm& form, TMenuItem* item) {
  TOwnerDrawState state = 0;
  if (item == form.MenuBarHotItem()) state |= odSelected;
  if (!item->Enabled()) state |= odDisabled | odGrayed;
  if (item->Default()) state |= odDefault;
  return state;
}

}  // namespace

void PaintMenuBar(TCustomForm& form) {
  TMainMenu* menu = form.Menu();
  if (menu == nullptr) return;
  const HWND h = form.Handle();
  const Rect bar = GetMenuBarRect(h);
  if (bar.IsEmpty()) return;
  std::vector<std::pair<TMenuItem*, Rect>> items;
  LayOutMenuBar(form, bar, GetSystemMetrics(SM_CYMENU), items);
  DC* dc = GetWindowDC(h);
  if (dc == nullptr) return;
  const int saved = dc->SaveDC();
  dc->IntersectClipRect(bar.Left, bar.Top, bar.Right, bar.Bottom);
  TCanvas canvas;
  canvas.SetHandle(dc);
  canvas.Font().Assign(Screen()->MenuFont());
  Rect window;
  const Point cursor = GetCursorPos();
  const Point pointer = GetWindowRect(h, window)
                            ? Point{cursor.X - window.Left, cursor.Y - window.Top}
                            : Point{-1, -1};
  for (const auto& [item, r] : items) {
    TOwnerDrawState state = StateOf(form, item);
    if (r.Contains(pointer)) state |= odHotLight;
    if (menu->OwnerDraw() && item->DrawByHandler(canvas, dc, r, state)) continue;
    const bool hot = (state & odSelected) != 0;
    dc->FillRect(r, Brush{BrushStyle::bsSolid, hot ? clHighlight : clMenu});
    dc->SetBkMode(TRANSPARENT);
    dc->SetTextColor(!item->Enabled() ? clGrayText : hot ? clHighlightText : clMenuText);
    dc->SelectFont(canvas.Font().Handle());
    Rect text = r;
    dc->DrawText(item->Caption(), text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  dc->RestoreDC(saved);
  ReleaseDC(h, dc);
}

namespace {

Point WindowOrigin(TCustomForm& form) {
  Rect r;
  if (!GetWindowRect(form.Handle(), r)) return {};
  return {r.Left, r.Top};
}

int ItemAt(const TMenuBarLayout& layout, Point window) {
  for (std::size_t i = 0; i < layout.Items.size(); ++i)
    if (layout.Items[i].second.Contains(window)) return int(i);
  return -1;
}

// One tracking of the bar, from entering it to leaving it.
class TMenuBarTracker {
 public:
  explicit TMenuBarTracker(TCustomForm& form) : form_(form), menu_(form.Menu()) {}

  void Run(int index, bool open, bool keyboard) {
    layout_ = GetMenuBarLayout(form_);
    const int n = int(layout_.Items.size());
    if (n == 0 || index < 0 || index >= n) return;
    TMenuItem* chosen = nullptr;
    for (;;) {
      TMenuItem* item = layout_.Items[std::size_t(index)].first;
      SetHot(item);
      if (!open) {
        const Step s = SelectOnly(index);
        if (s.kind == Step::Leave) break;
        index = s.index;
        open = s.kind == Step::Open;
        keyboard = s.keyboard;
        continue;
      }
      if (!item->Enabled()) {
        open = false;
        continue;
      }
      if (item->Count() == 0) {  // an item without a popup is a command of its own
        chosen = item;
        break;
      }
      const Step s = Open(index, keyboard, chosen);
      if (s.kind == Step::Leave) break;
      index = s.index;
      open = s.kind == Step::Open;
      keyboard = s.keyboard;
    }
    SetHot(nullptr);
    if (chosen != nullptr) chosen->Click();
  }

 private:
  struct Step {
    enum Kind { Leave, Open, Select } kind = Leave;
    int index = 0;
    bool keyboard = false;
  };

  void SetHot(TMenuItem* item) { form_.SetMenuBarHotItem(item); }

  [[nodiscard]] int Count() const { return int(layout_.Items.size()); }
  [[nodiscard]] int Wrap(int i) const { return (i % Count() + Count()) % Count(); }
  [[nodiscard]] int BarItemAt(Point screen) {
    const Point o = WindowOrigin(form_);
    return ItemAt(layout_, {screen.X - o.X, screen.Y - o.Y});
  }
  [[nodiscard]] int ByAccelerator(unsigned ch) const {
    const char key = char(std::toupper(static_cast<int>(ch & 0xFF)));
    for (int i = 0; i < Count(); ++i)
      if (key != 0 && Accelerator(layout_.Items[std::size_t(i)].first->Caption()) == key) return i;
    return -1;
  }

  // The popup of item `index` below it, until something ends it.
  Step Open(int index, bool keyboard, TMenuItem*& chosen) {
    TMenuItem* item = layout_.Items[std::size_t(index)].first;
    Step next;
    TPopupTrackHooks hooks;
    hooks.SelectFirst = keyboard;
    hooks.Mouse = [&](UINT msg, Point screen) {
      const int at = BarItemAt(screen);
      if (msg == WM_MOUSEMOVE) {
        if (at < 0 || at == index) return false;
        next = {Step::Open, at, false};
        return true;
      }
      if (msg != WM_LBUTTONDOWN && msg != WM_RBUTTONDOWN) return false;
      // A press on the open item closes it; on another item opens that one.
      next = at >= 0 && at != index ? Step{Step::Open, at, false} : Step{};
      return true;
    };
    hooks.Side = [&](int step) {
      next = {Step::Open, Wrap(index + step), true};
      return true;
    };
    const Rect r = layout_.Items[std::size_t(index)].second;
    const Point o = WindowOrigin(form_);
    chosen = TrackPopup(menu_, item, {o.X + r.Left, o.Y + r.Bottom}, &hooks, nullptr);
    if (chosen != nullptr) return {};
    if (hooks.Escaped) return {Step::Select, index, true};
    return next;
  }

  // The bar selected without a popup: keys move along it until one opens or leaves it.
  Step SelectOnly(int index) {
    bool decided = false;
    Step next;
    const HWND h = form_.Handle();
    InputHook outer = SetInputHook([&](MSG& msg) {
      switch (msg.message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
          switch (msg.wParam) {
            case VK_LEFT:
            case VK_RIGHT:
              next = {Step::Select, Wrap(index + (msg.wParam == VK_LEFT ? -1 : 1)), true};
              decided = true;
              break;
            case VK_DOWN:
            case VK_UP:
            case VK_RETURN:
              next = {Step::Open, index, true};
              decided = true;
              break;
            case VK_ESCAPE:
            case VK_F10:
            case VK_MENU:
              decided = true;
              break;
            default:
              break;
          }
          return true;
        case WM_CHAR:
        case WM_SYSCHAR:
          if (const int at = ByAccelerator(unsigned(msg.wParam)); at >= 0) {
            next = {Step::Open, at, true};
            decided = true;
          }
          return true;
        case WM_KEYUP:
        case WM_SYSKEYUP:
          return true;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_NCLBUTTONDOWN:
        case WM_NCRBUTTONDOWN: {
          decided = true;
          const int at = BarItemAt(GetCursorPos());
          if (at < 0) return false;  // the press goes on where it was made
          next = {Step::Open, at, false};
          return true;
        }
        default:
          return false;
      }
    });
    while (!decided && IsWindow(h) && GetActiveWindow() == h) {
      if (!Application()->HandleMessage()) break;
    }
    SetInputHook(std::move(outer));
    return next;
  }

  TCustomForm& form_;
  TMainMenu* menu_;
  TMenuBarLayout layout_;
};

}  // namespace

int MeasureMenuBarItem(TMainMenu& menu, TMenuItem& item, TCanvas& canvas) {
  int w = canvas.TextWidth(WithoutPrefix(item.Caption())) + 4;
  if (menu.OwnerDraw() && item.OnMeasureItem) {
    int h = GetSystemMetrics(SM_CYMENU);
    item.OnMeasureItem(&item, canvas, w, h);
  }
  return std::max(w, 0);
}

int LayOutMenuBar(TCustomForm& form, const Rect& bar, int lineHeight,
                  std::vector<std::pair<TMenuItem*, Rect>>& items) {
  items.clear();
  TMainMenu* menu = form.Menu();
  if (menu == nullptr) return 0;
  MeasureCanvas m;
  int lines = 0;
  int x = bar.Left;
  int y = bar.Top;
  for (TMenuItem* item : menu->BarItems()) {
    if (!item->Visible()) continue;
    const int w = MeasureMenuBarItem(*menu, *item, m.canvas) + Spacing();
    if (lines == 0) {
      lines = 1;
    } else if (x + w > bar.Right && x > bar.Left) {
      ++lines;
      x = bar.Left;
      y += lineHeight;
    }
    items.emplace_back(item, Rect{x, y, x + w, y + lineHeight});
    x += w;
  }
  return lines;
}

TMenuBarLayout GetMenuBarLayout(TCustomForm& form) {
  TMenuBarLayout layout;
  if (form.HandleAllocated())
    SendMessage(form.Handle(), CM_MENUBARLAYOUT, 0, reinterpret_cast<LPARAM>(&layout));
  return layout;
}

void RefreshMenuBar(TCustomForm& form) {
  if (!form.HandleAllocated()) return;
  SetWindowPos(form.Handle(), 0, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  SendMessage(form.Handle(), CM_MENUBARCHANGED, 0, 0);
}

void TrackMenuBar(TCustomForm& form, int index, bool open, bool keyboard) {
  if (form.Menu() == nullptr || !form.HandleAllocated()) return;
  TMenuBarTracker(form).Run(index, open, keyboard);
}

bool MenuBarMessage(TCustomForm& form, TMessage& m) {
  switch (m.Msg) {
    case WM_NCCALCSIZE:
      if (m.WParam != 0 && m.LParam != 0 && form.HandleAllocated()) {
        const auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(m.LParam);
        SetMenuBarHeight(form.Handle(), BarHeightFor(form, params->rgrc[0]));
      }
      return false;
    case WM_NCHITTEST: {
      if (!HasVisibleItem(form.Menu())) return false;
      const TMenuBarLayout layout = GetMenuBarLayout(form);
      const Point o = WindowOrigin(form);
      const Point p{static_cast<std::int16_t>(LOWORD(std::uintptr_t(m.LParam))) - o.X,
                    static_cast<std::int16_t>(HIWORD(std::uintptr_t(m.LParam))) - o.Y};
      if (!layout.Bar.Contains(p)) return false;
      m.Result = HTMENU;
      return true;
    }
    case WM_SYSCOMMAND: {
      const WPARAM command = m.WParam & 0xFFF0;
      if ((command != SC_KEYMENU && command != SC_MOUSEMENU) || !HasVisibleItem(form.Menu()))
        return false;
      const TMenuBarLayout layout = GetMenuBarLayout(form);
      if (command == SC_MOUSEMENU) {
        const Point o = WindowOrigin(form);
        const Point p{static_cast<std::int16_t>(LOWORD(std::uintptr_t(m.LParam))) - o.X,
                      static_cast<std::int16_t>(HIWORD(std::uintptr_t(m.LParam))) - o.Y};
        const int at = ItemAt(layout, p);
        if (at >= 0) TrackMenuBar(form, at, true, false);
      } else if (m.LParam == 0) {
        TrackMenuBar(form, 0, false, true);
      } else {
        const char key = char(std::toupper(static_cast<int>(m.LParam & 0xFF)));
        for (std::size_t i = 0; i < layout.Items.size(); ++i)
          if (Accelerator(layout.Items[i].first->Caption()) == key) {
            TrackMenuBar(form, int(i), true, true);
            break;
          }
      }
      m.Result = 0;
      return true;
    }
    case CM_MENUBARLAYOUT: {
      auto* layout = reinterpret_cast<TMenuBarLayout*>(m.LParam);
      if (layout == nullptr || !form.HandleAllocated()) return true;
      layout->Bar = GetMenuBarRect(form.Handle());
      if (!layout->Bar.IsEmpty())
        LayOutMenuBar(form, layout->Bar, GetSystemMetrics(SM_CYMENU), layout->Items);
      return true;
    }
    case CM_MENUBARCHANGED:
      if (form.HandleAllocated()) SendMessage(form.Handle(), WM_NCPAINT, 0, 0);
      return true;
    default:
      return false;
  }
}

}  // namespace qv
