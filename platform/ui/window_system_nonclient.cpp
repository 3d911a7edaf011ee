// The default handling of the non-client area: the client rectangle (WM_NCCALCSIZE), hit
// testing, painting the frame, caption and scroll bars, presses on them, and the system
// commands they lead to.

#include <algorithm>
#include <utility>

#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

// Recomputes the client rectangle through WM_NCCALCSIZE.
void CalcClient(UiWindow& w, WINDOWPOS* pos, const Rect& oldRect) {
  NCCALCSIZE_PARAMS params;
  params.rgrc[0] = w.rect;
  params.rgrc[1] = oldRect;
  params.rgrc[2] = w.client.Offset(oldRect.Left, oldRect.Top);
  params.lppos = pos;
  const HWND hwnd = w.hwnd;
  Send(hwnd, WM_NCCALCSIZE, 1, reinterpret_cast<LPARAM>(&params));
  UiWindow* again = Get(hwnd);
  if (!again) return;
  Rect c = params.rgrc[0].Offset(-again->rect.Left, -again->rect.Top);
  c.Left = std::clamp(c.Left, 0, again->rect.Width());
  c.Top = std::clamp(c.Top, 0, again->rect.Height());
  c.Right = std::clamp(c.Right, c.Left, again->rect.Width());
  c.Bottom = std::clamp(c.Bottom, c.Top, again->rect.Height());
  again->client = c;
}

std::optional<LRESULT> NonClientDefault(UiWindow& w, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = w.hwnd;
  switch (message) {
    case WM_NCCALCSIZE: {
      auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
      if (!params) return 0;
      const Rect win = params->rgrc[0];
      const Rect c = nonclient::ClientArea(w.style, w.exStyle, {0, 0, win.Width(), win.Height()},
                                           w.menuHeight);
      params->rgrc[0] = c.Offset(win.Left, win.Top);
      return 0;
    }
    case WM_NCHITTEST: {
      Point p{static_cast<std::int16_t>(LOWORD(static_cast<WPARAM>(lParam))),
              static_cast<std::int16_t>(HIWORD(static_cast<WPARAM>(lParam)))};
      const Point o = OriginOnScreen(w);
      p = {p.X - o.X, p.Y - o.Y};
      if (!Shape(w).Contains(p)) return HTNOWHERE;
      return nonclient::HitTest(w.style, w.exStyle, WindowSize(w), w.client, p, w.menuHeight);
    }
    case WM_NCPAINT: {
      HDC dc = GetWindowDC(hwnd);
      if (!dc) return 0;
      const bool active = M().active == RootOf(hwnd);
      nonclient::Paint(*dc, w.style, w.exStyle, WindowSize(w), w.client, w.text, active,
                       w.scroll[SB_HORZ], w.scroll[SB_VERT], w.menuHeight);
      ReleaseDC(hwnd, dc);
      return 0;
    }
    case WM_NCACTIVATE:
      if ((w.style & WS_CAPTION) == WS_CAPTION) {
        w.ncDirty = true;
        SchedulePaint();
      }
      return 1;
    case WM_NCLBUTTONDOWN: {
      const int hit = static_cast<int>(wParam);
      w.ncPressed = hit;
      if (hit == HTVSCROLL || hit == HTHSCROLL) {
        ScrollBarPress(hwnd, hit == HTVSCROLL, lParam);
      } else if (hit == HTMENU) {
        Send(hwnd, WM_SYSCOMMAND, SC_MOUSEMENU | WPARAM{HTMENU}, lParam);
      } else if (hit == HTCAPTION) {
        Send(hwnd, WM_SYSCOMMAND, SC_MOVE | WPARAM{HTCAPTION}, lParam);
      } else if (hit >= HTLEFT && hit <= HTBOTTOMRIGHT) {
        Send(hwnd, WM_SYSCOMMAND, SC_SIZE | static_cast<WPARAM>(hit - HTLEFT + 1), lParam);
      }
      return 0;
    }
    case WM_NCLBUTTONUP: {
      const int hit = static_cast<int>(wParam);
      const int pressed = std::exchange(w.ncPressed, HTNOWHERE);
      if (hit != pressed) return 0;
      const HWND root = RootOf(hwnd);
      switch (hit) {
        case HTCLOSE:
          Send(root, WM_SYSCOMMAND, SC_CLOSE, lParam);
          break;
        case HTMINBUTTON:  // shown (disabled) beside a maximise box without a minimise box
          if (w.style & WS_MINIMIZEBOX) Send(root, WM_SYSCOMMAND, SC_MINIMIZE, lParam);
          break;
        case HTMAXBUTTON:
          if (w.style & WS_MAXIMIZEBOX) {
            Send(root, WM_SYSCOMMAND, IsZoomed(root) ? SC_RESTORE : SC_MAXIMIZE, lParam);
          }
          break;
        case HTHELP:
          Send(root, WM_SYSCOMMAND, SC_CONTEXTHELP, lParam);
          break;
        default:
          break;
      }
      return 0;
    }
    case WM_NCLBUTTONDBLCLK:
      if (wParam == HTCAPTION && (w.style & WS_MAXIMIZEBOX)) {
        Send(hwnd, WM_SYSCOMMAND, IsZoomed(hwnd) ? SC_RESTORE : SC_MAXIMIZE, lParam);
      }
      return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_MOVE:
        case SC_SIZE:
          MoveSizeLoop(hwnd, wParam);
          break;
        case SC_CLOSE:
          Send(hwnd, WM_CLOSE);
          break;
        case SC_MINIMIZE:
          ShowWindow(hwnd, SW_MINIMIZE);
          break;
        case SC_MAXIMIZE:
          ShowWindow(hwnd, SW_MAXIMIZE);
          break;
        case SC_RESTORE:
          ShowWindow(hwnd, SW_RESTORE);
          break;
        default:
          break;
      }
      return 0;
    default:
      return std::nullopt;
  }
}

}  // namespace qv::ui_internal
