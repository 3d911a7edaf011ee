// The menu bar's place in a top-level window's non-client area. What the bar shows and how
// it is tracked belongs to the window's owner (the class library's form and main menu).

#include <algorithm>

#include "platform/ui/window_system_internal.h"

namespace qv {

using namespace ui_internal;

bool SetMenuBarHeight(HWND hwnd, int height) {
  UiWindow* w = Get(hwnd);
  if (!w || (w->style & WS_CHILD)) return false;
  w->menuHeight = std::max(height, 0);
  return true;
}

Rect GetMenuBarRect(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  if (!w) return {};
  return nonclient::Compute(w->style, w->exStyle, WindowSize(*w), w->menuHeight).menu;
}

}  // namespace qv
