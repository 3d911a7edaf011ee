// Where windows are and how they show: coordinates, SetWindowPos and the z-order,
// ShowWindow with its minimised and maximised states, enabling, and window regions.

#include <algorithm>
#include <utility>

#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

// Window origin in its top-level window's coordinates.
Point OriginInTop(const UiWindow& w) {
  Point p{w.rect.Left, w.rect.Top};
  if (IsTop(w)) return {0, 0};
  const UiWindow* parent = Get(w.parent);
  if (!parent) return p;
  const Point po = OriginInTop(*parent);
  return {po.X + parent->client.Left + p.X, po.Y + parent->client.Top + p.Y};
}

// Screen position of the window's origin.
Point OriginOnScreen(const UiWindow& w) {
  if (IsTop(w)) return {w.rect.Left, w.rect.Top};
  const UiWindow* parent = Get(w.parent);
  if (!parent) return {w.rect.Left, w.rect.Top};
  const Point po = OriginOnScreen(*parent);
  return {po.X + parent->client.Left + w.rect.Left, po.Y + parent->client.Top + w.rect.Top};
}

Rect WindowSize(const UiWindow& w) {
  return {0, 0, w.rect.Width(), w.rect.Height()};
}

void SetVisibility(UiWindow& w, bool show) {
  Manager& m = M();
  const HWND hwnd = w.hwnd;
  if (Shown(w) == show) return;
  Send(hwnd, WM_SHOWWINDOW, show ? 1 : 0, 0);
  UiWindow* again = Get(hwnd);
  if (!again) return;
  if (show) {
    again->style |= WS_VISIBLE;
    if (IsTop(*again)) {
      PublishTopLevel(*again);
      InvalidateWhole(*again);
      m.backend->SetVisible(hwnd, true);
    } else {
      InvalidateTreeArea(RootOf(hwnd), WindowArea(*again));
    }
  } else {
    const Region area = IsTop(*again) ? Region() : WindowArea(*again);
    again->style &= ~WS_VISIBLE;
    if (IsTop(*again)) {
      PublishTopLevel(*again);
      m.backend->SetVisible(hwnd, false);
    } else {
      InvalidateTreeArea(RootOf(hwnd), area);
    }
    if (m.focus && IsSelfOrDescendant(hwnd, m.focus)) {
      const HWND old = m.focus;
      m.focus = 0;
      Send(old, WM_KILLFOCUS, 0, 0);
    }
    if (m.capture && IsSelfOrDescendant(hwnd, m.capture)) ReleaseCapture();
    if (m.active == hwnd) ActivateNext(hwnd);
  }
}

}  // namespace qv::ui_internal

namespace qv {

using namespace ui_internal;

namespace {

void Restack(UiWindow& w, HWND insertAfter) {
  Manager& m = M();
  std::vector<HWND>& list = IsTop(w) ? m.tops : Get(w.parent)->children;
  if (insertAfter == w.hwnd) return;
  std::erase(list, w.hwnd);
  if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
    list.insert(list.begin(), w.hwnd);
  } else if (insertAfter == HWND_BOTTOM) {
    list.push_back(w.hwnd);
  } else {
    auto it = std::find(list.begin(), list.end(), insertAfter);
    list.insert(it == list.end() ? list.begin() : it + 1, w.hwnd);
  }
  if (IsTop(w) && list.front() == w.hwnd) m.backend->Raise(w.hwnd);
}

}  // namespace

bool GetWindowRect(HWND hwnd, Rect& rect) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const Point o = OriginOnScreen(*w);
  rect = Bounds(o.X, o.Y, w->rect.Width(), w->rect.Height());
  return true;
}

bool GetClientRect(HWND hwnd, Rect& rect) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  rect = {0, 0, w->client.Width(), w->client.Height()};
  return true;
}

bool ClientToScreen(HWND hwnd, Point& p) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const Point o = OriginOnScreen(*w);
  p = {p.X + o.X + w->client.Left, p.Y + o.Y + w->client.Top};
  return true;
}

bool ScreenToClient(HWND hwnd, Point& p) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const Point o = OriginOnScreen(*w);
  p = {p.X - o.X - w->client.Left, p.Y - o.Y - w->client.Top};
  return true;
}

bool MapWindowPoints(HWND from, HWND to, Point* points, int count) {
  if ((from && !Get(from)) || (to && !Get(to))) return false;
  for (int i = 0; i < count; ++i) {
    if (from) ClientToScreen(from, points[i]);
    if (to) ScreenToClient(to, points[i]);
  }
  return true;
}

bool SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  Manager& m = M();
  WINDOWPOS pos{hwnd, insertAfter, x, y, cx, cy, flags};
  if (flags & SWP_NOMOVE) {
    pos.x = w->rect.Left;
    pos.y = w->rect.Top;
  }
  if (flags & SWP_NOSIZE) {
    pos.cx = w->rect.Width();
    pos.cy = w->rect.Height();
  }
  Send(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
  w = Get(hwnd);
  if (!w) return false;
  pos.cx = std::max(pos.cx, 0);
  pos.cy = std::max(pos.cy, 0);
  const Rect oldRect = w->rect;
  const Rect newRect = Bounds(pos.x, pos.y, pos.cx, pos.cy);
  const bool moved = newRect.Left != oldRect.Left || newRect.Top != oldRect.Top;
  const bool sized = newRect.Width() != oldRect.Width() || newRect.Height() != oldRect.Height();
  const bool top = IsTop(*w);
  const HWND root = RootOf(hwnd);
  const Region before = top ? Region() : WindowArea(*w);
  if (moved)
    pos.flags &= ~SWP_NOMOVE;
  else
    pos.flags |= SWP_NOMOVE;
  if (sized)
    pos.flags &= ~SWP_NOSIZE;
  else
    pos.flags |= SWP_NOSIZE;
  w->rect = newRect;
  const Rect oldClient = w->client;
  if (!(pos.flags & SWP_NOZORDER)) Restack(*w, pos.hwndInsertAfter);
  if (sized || (pos.flags & SWP_FRAMECHANGED)) {
    CalcClient(*w, &pos, oldRect);
    w = Get(hwnd);
    if (!w) return false;
  }
  if (top) {
    if (moved || sized) m.backend->SetBounds(hwnd, w->rect);
    if (sized) {
      w->buffer->SetSize(std::max(w->rect.Width(), 1), std::max(w->rect.Height(), 1));
      if (w->region) m.backend->SetShape(hwnd, &*w->region);
    }
    if (sized || (pos.flags & SWP_FRAMECHANGED)) {
      InvalidateWhole(*w);
      // The back buffer holds nothing yet where the window grew, and nothing in the right
      // place when its client area moved: every window showing there paints it, children
      // that lay beyond the old edges included.
      Region exposed =
          Region(WindowSize(*w)).Subtract(Region(Rect{0, 0, oldRect.Width(), oldRect.Height()}));
      if (w->client.Left != oldClient.Left || w->client.Top != oldClient.Top)
        exposed = Region(WindowSize(*w));
      InvalidateTreeArea(hwnd, exposed);
    }
  } else if (!(pos.flags & SWP_NOREDRAW) &&
             (moved || sized || !(pos.flags & SWP_NOZORDER) || (pos.flags & SWP_FRAMECHANGED))) {
    InvalidateTreeArea(root, before.Union(WindowArea(*w)));
    if (sized || (pos.flags & SWP_FRAMECHANGED)) {
      ForEachInTree(hwnd, [](UiWindow& x) {
        if (Shown(x)) InvalidateWhole(x);
      });
    }
  }
  if (pos.flags & SWP_SHOWWINDOW)
    ShowWindow(hwnd, (pos.flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  if (pos.flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  if (!Get(hwnd)) return false;
  Send(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  return true;
}

bool MoveWindow(HWND hwnd, int x, int y, int width, int height, bool repaint) {
  return SetWindowPos(hwnd, 0, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : UINT{SWP_NOREDRAW}));
}

bool BringWindowToTop(HWND hwnd) {
  return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

bool ShowWindow(HWND hwnd, int command) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  Manager& m = M();
  const bool wasVisible = Shown(*w);
  const bool top = IsTop(*w);
  switch (command) {
    case SW_HIDE:
      SetVisibility(*w, false);
      return wasVisible;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
      if (!(w->style & WS_MINIMIZE)) {
        w->style |= WS_MINIMIZE;
        SetVisibility(*w, true);
        if (!Get(hwnd)) return wasVisible;
        if (top) m.backend->Minimize(hwnd);
        Send(hwnd, WM_SIZE, SIZE_MINIMIZED, 0);
        if (m.active == hwnd) ActivateNext(hwnd);
      }
      return wasVisible;
    case SW_MAXIMIZE:
      if (!(w->style & WS_MAXIMIZE)) {
        const MINMAXINFO info = MinMaxInfo(hwnd);
        w = Get(hwnd);
        if (!w) return wasVisible;
        w->restoreRect = w->rect;
        w->style = (w->style | WS_MAXIMIZE) & ~WS_MINIMIZE;
        SetWindowPos(hwnd, 0, info.ptMaxPosition.X, info.ptMaxPosition.Y,
                     std::min(info.ptMaxSize.X, info.ptMaxTrackSize.X),
                     std::min(info.ptMaxSize.Y, info.ptMaxTrackSize.Y),
                     SWP_NOZORDER | SWP_FRAMECHANGED);
        if (!Get(hwnd)) return wasVisible;
      }
      break;
    case SW_RESTORE:
      if (w->style & WS_MINIMIZE) {
        w->style &= ~WS_MINIMIZE;
        if (top && Shown(*w)) {
          m.backend->SetVisible(hwnd, true);
          InvalidateWhole(*w);
        }
        Send(hwnd, WM_SIZE, (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED,
             MAKELONG(static_cast<std::uint16_t>(w->client.Width()),
                      static_cast<std::uint16_t>(w->client.Height())));
        if (!Get(hwnd)) return wasVisible;
      } else if (w->style & WS_MAXIMIZE) {
        w->style &= ~WS_MAXIMIZE;
        const Rect r = w->restoreRect;
        SetWindowPos(hwnd, 0, r.Left, r.Top, r.Width(), r.Height(),
                     SWP_NOZORDER | SWP_FRAMECHANGED);
        if (!Get(hwnd)) return wasVisible;
      }
      break;
    default:
      break;
  }
  w = Get(hwnd);
  if (!w) return wasVisible;
  SetVisibility(*w, true);
  if (top && Get(hwnd) && command != SW_SHOWNA && command != SW_SHOWNOACTIVATE &&
      !(w->style & WS_DISABLED)) {
    ActivateTop(hwnd, WA_ACTIVE);
    m.backend->SetInputFocus(hwnd);
  }
  return wasVisible;
}

bool IsWindowVisible(HWND hwnd) {
  for (UiWindow* w = Get(hwnd); w; w = Get(w->parent)) {
    if (!Shown(*w)) return false;
    if (IsTop(*w)) return true;
  }
  return false;
}

bool IsIconic(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w && (w->style & WS_MINIMIZE);
}

bool IsZoomed(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w && (w->style & WS_MAXIMIZE);
}

bool EnableWindow(HWND hwnd, bool enable) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const bool wasDisabled = (w->style & WS_DISABLED) != 0;
  if (wasDisabled == !enable) return wasDisabled;
  Manager& m = M();
  if (enable) {
    w->style &= ~WS_DISABLED;
  } else {
    w->style |= WS_DISABLED;
    if (m.focus && IsSelfOrDescendant(hwnd, m.focus)) {
      const HWND old = m.focus;
      m.focus = 0;
      Send(old, WM_KILLFOCUS, 0, 0);
    }
    if (m.capture && IsSelfOrDescendant(hwnd, m.capture)) ReleaseCapture();
  }
  if (Get(hwnd)) Send(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  return wasDisabled;
}

bool IsWindowEnabled(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w && !(w->style & WS_DISABLED);
}

bool SetWindowRgn(HWND hwnd, std::optional<Region> region, bool redraw) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const Region before = IsTop(*w) ? Region() : WindowArea(*w);
  w->region = std::move(region);
  if (IsTop(*w)) {
    M().backend->SetShape(hwnd, w->region ? &*w->region : nullptr);
    if (redraw) InvalidateWhole(*w);
  } else if (redraw) {
    InvalidateTreeArea(RootOf(hwnd), before.Union(WindowArea(*w)));
  }
  return true;
}

int GetWindowRgn(HWND hwnd, Region& region) {
  UiWindow* w = Get(hwnd);
  if (!w) return RGN_ERROR;
  if (!w->region) return NULLREGION;
  region = *w->region;
  return region.Kind();
}

}  // namespace qv
