// The default window procedure of the window system's windows: the non-client messages go
// to window_system_nonclient.cpp; here text, background erasing, painting, position
// notifications, closing, activation and the messages passed up to the parent.

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/ui/window_system_internal.h"

namespace qv {

using namespace ui_internal;

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  UiWindow* w = Get(hwnd);
  // Not DefWindowProc: it hands our windows back to this procedure.
  if (!w) return 0;
  if (const std::optional<LRESULT> result = NonClientDefault(*w, message, wParam, lParam)) {
    return *result;
  }
  switch (message) {
    case WM_NCCREATE:
      return 1;
    case WM_ERASEBKGND: {
      if (w->background == clNone) return 0;
      auto* dc = reinterpret_cast<DC*>(wParam);
      if (!dc) return 0;
      dc->FillRect({0, 0, w->client.Width(), w->client.Height()},
                   Brush{BrushStyle::bsSolid, w->background});
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, ps);
      EndPaint(hwnd, ps);
      return 0;
    }
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      w->text = text ? text : "";
      if (IsTop(*w)) M().backend->SetTitle(hwnd, w->text);
      if ((w->style & WS_CAPTION) == WS_CAPTION) {
        w->ncDirty = true;
        SchedulePaint();
      }
      return 1;
    }
    case WM_GETTEXT: {
      char* buffer = reinterpret_cast<char*>(lParam);
      if (!buffer || wParam == 0) return 0;
      const std::size_t n = std::min<std::size_t>(w->text.size(), wParam - 1);
      std::memcpy(buffer, w->text.data(), n);
      buffer[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_WINDOWPOSCHANGED: {
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (!pos) return 0;
      if (!(pos->flags & SWP_NOMOVE)) {
        Send(hwnd, WM_MOVE, 0,
             PointParam({w->rect.Left + w->client.Left, w->rect.Top + w->client.Top}));
      }
      w = Get(hwnd);
      if (w && (!(pos->flags & SWP_NOSIZE) || (pos->flags & SWP_FRAMECHANGED))) {
        const WPARAM kind = (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED;
        Send(hwnd, WM_SIZE, kind,
             MAKELONG(static_cast<std::uint16_t>(w->client.Width()),
                      static_cast<std::uint16_t>(w->client.Height())));
      }
      return 0;
    }
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4 && GetKeyState(VK_MENU) < 0) {
        Send(RootOf(hwnd), WM_SYSCOMMAND, SC_CLOSE, 0);
      } else if (wParam == VK_F10 && GetKeyState(VK_SHIFT) >= 0) {
        Send(RootOf(hwnd), WM_SYSCOMMAND, SC_KEYMENU, 0);
      }
      return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      // Alt released with nothing typed since it went down.
      if (wParam == VK_MENU && std::exchange(M().altAlone, false)) {
        Send(RootOf(hwnd), WM_SYSCOMMAND, SC_KEYMENU, 0);
      }
      return 0;
    case WM_SYSCHAR:
      // Alt with a letter: the menu bar item with that accelerator.
      if (wParam > ' ') Send(RootOf(hwnd), WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(wParam));
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (!focus || RootOf(focus) != hwnd) SetFocus(hwnd);
      }
      return 0;
    case WM_MOUSEACTIVATE:
      return 1;  // MA_ACTIVATE
    case WM_MOUSEWHEEL:
      return w->parent ? Send(w->parent, message, wParam, lParam) : 0;
    case WM_SETREDRAW:
      // Updates collect while drawing is off; turning it on paints nothing by itself.
      w->redraw = wParam != 0;
      if (w->redraw && (!w->update.IsEmpty() || w->ncDirty)) SchedulePaint();
      return 0;
    case WM_SETCURSOR:
      // The parent may set the cursor for its children.
      if (w->parent && Send(w->parent, WM_SETCURSOR, wParam, lParam)) return 1;
      return 0;
    default:
      return 0;
  }
}

}  // namespace qv
