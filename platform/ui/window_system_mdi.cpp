// The MDI client window and the default processing of its children (see mdi.h).

#include <algorithm>
#include <map>

#include "platform/ui/mdi.h"
#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

namespace {

struct MdiClientState {
  HWND active = 0;
  std::map<HWND, Rect> normalRects;  // minimised children: where they go back to
  bool recalculating = false;
  bool scrolling = false;
};

thread_local std::map<HWND, MdiClientState> clients;

constexpr int kIconicWidth = 160;
constexpr int kLineStep = 8;
constexpr WPARAM kVkF6 = VK_F6;

MdiClientState* StateOf(HWND client) {
  const auto it = clients.find(client);
  return it == clients.end() ? nullptr : &it->second;
}

bool IsMdiChild(const UiWindow& c) {
  return (c.exStyle & WS_EX_MDICHILD) != 0 && !c.destroying;
}

HWND ClientOf(HWND child) {
  const UiWindow* w = Get(child);
  return w && StateOf(w->parent) ? w->parent : 0;
}

std::vector<HWND> Children(HWND client, HWND leaving = 0) {
  std::vector<HWND> out;
  if (const UiWindow* w = Get(client))
    for (HWND h : w->children)
      if (const UiWindow* c = Get(h); c && h != leaving && IsMdiChild(*c)) out.push_back(h);
  return out;
}

// The client area of the client with the given scroll bars (client coordinates).
Rect AreaWith(const UiWindow& w, DWORD bars) {
  const DWORD style = (w.style & ~(WS_HSCROLL | WS_VSCROLL)) | bars;
  const Rect c = nonclient::ClientArea(style, w.exStyle, WindowSize(w));
  return {0, 0, c.Width(), c.Height()};
}

// The client's scroll bars from where its children lie: a bar shows while children reach
// beyond the client area in its direction (none while a child is maximised). Its range
// runs from the farthest child (or 0) to the farthest end, the position always 0: the
// children's places are what scrolling changes.
void Recalculate(HWND client, HWND leaving = 0) {
  MdiClientState* s = StateOf(client);
  UiWindow* w = Get(client);
  if (!s || !w || s->recalculating || s->scrolling || w->destroying) return;
  s->recalculating = true;
  bool zoomed = false;
  bool any = false;
  Rect all;
  for (HWND h : Children(client, leaving)) {
    const UiWindow* c = Get(h);
    if (!Shown(*c)) continue;
    zoomed = zoomed || (c->style & WS_MAXIMIZE) != 0;
    all = any ? Union(all, c->rect) : c->rect;
    any = true;
  }
  DWORD bars = 0;
  for (int pass = 0; pass < 2 && any && !zoomed; ++pass) {
    const Rect area = AreaWith(*w, bars);
    if (all.Left < 0 || all.Right > area.Right) bars |= WS_HSCROLL;
    if (all.Top < 0 || all.Bottom > area.Bottom) bars |= WS_VSCROLL;
  }
  const Rect area = AreaWith(*w, bars);
  for (const bool vertical : {false, true}) {
    if (!(bars & (vertical ? WS_VSCROLL : WS_HSCROLL))) continue;
    const int page = vertical ? area.Height() : area.Width();
    SCROLLINFO info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = std::min(vertical ? all.Top : all.Left, 0);
    info.nMax = std::max(vertical ? all.Bottom : all.Right, page) - 1;
    info.nPage = UINT(std::max(page, 0));
    info.nPos = 0;
    SetScrollInfo(client, vertical ? SB_VERT : SB_HORZ, info, true);
  }
  if ((w->style & (WS_HSCROLL | WS_VSCROLL)) != bars) {
    w->style = (w->style & ~(WS_HSCROLL | WS_VSCROLL)) | bars;
    SetWindowPos(client, 0, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  if (MdiClientState* again = StateOf(client)) again->recalculating = false;
}

void Scroll(HWND client, bool vertical, WPARAM code, int thumb) {
  MdiClientState* s = StateOf(client);
  SCROLLINFO info;
  info.fMask = SIF_ALL;
  if (!s || !GetScrollInfo(client, vertical ? SB_VERT : SB_HORZ, info)) return;
  const int last = info.nMax - std::max(int(info.nPage) - 1, 0);
  int target = info.nPos;
  switch (code) {
    case SB_LINEUP:
      target -= kLineStep;
      break;
    case SB_LINEDOWN:
      target += kLineStep;
      break;
    case SB_PAGEUP:
      target -= int(info.nPage);
      break;
    case SB_PAGEDOWN:
      target += int(info.nPage);
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      target = thumb;
      break;
    case SB_TOP:
      target = info.nMin;
      break;
    case SB_BOTTOM:
      target = last;
      break;
    default:
      break;
  }
  target = std::clamp(target, info.nMin, std::max(last, info.nMin));
  const int delta = target - info.nPos;
  if (delta != 0) {
    s->scrolling = true;
    for (HWND h : Children(client)) {
      const UiWindow* c = Get(h);
      SetWindowPos(h, 0, c->rect.Left - (vertical ? 0 : delta),
                   c->rect.Top - (vertical ? delta : 0), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (MdiClientState* again = StateOf(client)) again->scrolling = false;
    InvalidateRect(client, nullptr, true);
  }
  if (code != SB_THUMBTRACK) Recalculate(client);
}

void Activate(HWND client, HWND child, HWND leaving = 0);

void Maximize(HWND client, HWND child) {
  MdiClientState* s = StateOf(client);
  if (!s || !Get(child)) return;
  if (IsIconic(child)) ShowWindow(child, SW_RESTORE);
  s = StateOf(client);
  if (s && s->normalRects.contains(child)) {
    const Rect r = s->normalRects[child];
    s->normalRects.erase(child);
    SetWindowPos(child, 0, r.Left, r.Top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(child, SW_MAXIMIZE);
  Activate(client, child);
  Recalculate(client);
}

void Restore(HWND client, HWND child) {
  MdiClientState* s = StateOf(client);
  if (!s || !Get(child)) return;
  if (IsIconic(child)) {
    ShowWindow(child, SW_RESTORE);
    s = StateOf(client);
    if (s && s->normalRects.contains(child)) {
      const Rect r = s->normalRects[child];
      s->normalRects.erase(child);
      SetWindowPos(child, 0, r.Left, r.Top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
    }
  } else if (IsZoomed(child)) {
    ShowWindow(child, SW_RESTORE);
  }
  Recalculate(client);
}

// A minimised child becomes a caption strip in the next free place along the bottom.
void Minimize(HWND client, HWND child) {
  UiWindow* c = Get(child);
  if (!StateOf(client) || !c || (c->style & WS_MINIMIZE)) return;
  if (c->style & WS_MAXIMIZE) ShowWindow(child, SW_RESTORE);
  c = Get(child);
  if (!c) return;
  StateOf(client)->normalRects[child] = c->rect;
  int slot = 0;
  for (HWND h : Children(client))
    if (h != child && IsIconic(h)) ++slot;
  ShowWindow(child, SW_MINIMIZE);
  c = Get(child);
  const UiWindow* w = Get(client);
  if (!c || !w) return;
  const nonclient::Layout l =
      nonclient::Compute(c->style & ~WS_MINIMIZE, c->exStyle, {0, 0, kIconicWidth, 100});
  const int height = l.caption.Bottom + l.frame;
  const Rect area = AreaWith(*w, 0);
  SetWindowPos(child, 0, slot * kIconicWidth, area.Height() - height, kIconicWidth, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  if (MdiClientState* s = StateOf(client); s && s->active == child) {
    for (HWND h : Children(client))
      if (h != child && !IsIconic(h)) {
        Activate(client, h);
        break;
      }
  }
  Recalculate(client);
}

// `leaving`: the old active child, being destroyed, hears nothing more.
void Activate(HWND client, HWND child, HWND leaving) {
  MdiClientState* s = StateOf(client);
  if (!s) return;
  const HWND old = s->active;
  if (child != 0 && !Get(child)) return;
  if (child != 0) BringWindowToTop(child);
  if (old == child) return;
  s->active = child;
  // A maximised child hands its state on to the child that takes over.
  const bool wasZoomed = old != 0 && IsZoomed(old);
  if (old != 0 && old != leaving && Get(old)) {
    Send(old, WM_NCACTIVATE, 0);
    Send(old, WM_MDIACTIVATE, WPARAM(old), LPARAM(child));
  }
  if (child == 0) return;
  if (wasZoomed && !IsIconic(child)) {
    ShowWindow(child, SW_MAXIMIZE);
    if (old != leaving && Get(old)) ShowWindow(old, SW_RESTORE);
  }
  Send(child, WM_NCACTIVATE, 1);
  Send(child, WM_MDIACTIVATE, WPARAM(old), LPARAM(child));
  const HWND focus = GetFocus();
  if (GetActiveWindow() == RootOf(client) && !IsSelfOrDescendant(child, focus)) SetFocus(child);
}

// The child under `from` in z-order (wrapping), or the bottom one.
void Next(HWND client, HWND from, bool previous) {
  MdiClientState* s = StateOf(client);
  if (!s) return;
  const std::vector<HWND> all = Children(client);
  if (all.size() < 2) return;
  if (from == 0) from = s->active;
  HWND target = all.back();
  if (!previous) {
    const auto it = std::find(all.begin(), all.end(), from);
    target = (it == all.end() || it + 1 == all.end()) ? all.front() : *(it + 1);
    // The one left goes to the bottom, so that repeating walks through all of them.
    if (from != 0 && Get(from))
      SetWindowPos(from, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  Activate(client, target);
}

void ChildGone(HWND client, HWND child) {
  MdiClientState* s = StateOf(client);
  if (!s) return;
  s->normalRects.erase(child);
  if (s->active == child) {
    const std::vector<HWND> rest = Children(client, child);
    if (rest.empty())
      s->active = 0;
    else
      Activate(client, rest.front(), child);
  }
  Recalculate(client, child);
}

LRESULT ClientProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto child = static_cast<HWND>(wParam);
  switch (message) {
    case WM_NCCREATE:
      clients[hwnd] = MdiClientState{};
      return DefWindowProcA(hwnd, message, wParam, lParam);
    case WM_NCDESTROY:
      clients.erase(hwnd);
      return DefWindowProcA(hwnd, message, wParam, lParam);
    case WM_MDIACTIVATE:
      if (ClientOf(child) == hwnd) Activate(hwnd, child);
      Recalculate(hwnd);  // a child shown is activated
      return 0;
    case WM_MDIGETACTIVE: {
      const MdiClientState* s = StateOf(hwnd);
      const HWND active = s ? s->active : 0;
      if (auto* zoomed = reinterpret_cast<bool*>(lParam)) *zoomed = active != 0 && IsZoomed(active);
      return LRESULT(active);
    }
    case WM_MDIMAXIMIZE:
      if (ClientOf(child) == hwnd) Maximize(hwnd, child);
      return 0;
    case WM_MDIRESTORE:
      if (ClientOf(child) == hwnd) Restore(hwnd, child);
      return 0;
    case WM_MDIDESTROY:
      if (ClientOf(child) == hwnd) DestroyWindow(child);
      return 0;
    case WM_MDINEXT:
      Next(hwnd, child, lParam != 0);
      return 0;
    case WM_SIZE: {
      // A maximised child follows the client's size.
      const MdiClientState* s = StateOf(hwnd);
      if (s && s->active != 0 && IsZoomed(s->active)) {
        const MINMAXINFO info = MinMaxInfo(s->active);
        SetWindowPos(s->active, 0, info.ptMaxPosition.X, info.ptMaxPosition.Y, info.ptMaxSize.X,
                     info.ptMaxSize.Y, SWP_NOZORDER | SWP_NOACTIVATE);
      }
      Recalculate(hwnd);
      return 0;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      Scroll(hwnd, message == WM_VSCROLL, LOWORD(wParam),
             static_cast<std::int16_t>(HIWORD(wParam)));
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

}  // namespace

}  // namespace qv::ui_internal

namespace qv {

using namespace ui_internal;

void RegisterMDIClientClass() {
  WNDCLASS wc;
  wc.lpszClassName = kMDIClientClass;
  wc.lpfnWndProc = ClientProc;
  wc.hbrBackground = clAppWorkSpace;
  RegisterClass(wc);  // false when already there
}

std::vector<HWND> MDIChildWindows(HWND client) {
  return StateOf(client) ? Children(client) : std::vector<HWND>{};
}

LRESULT DefMDIChildProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND client = ClientOf(hwnd);
  if (client == 0) return DefWindowProcA(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_MAXIMIZE:
          Maximize(client, hwnd);
          return 0;
        case SC_RESTORE:
          Restore(client, hwnd);
          return 0;
        case SC_MINIMIZE:
          Minimize(client, hwnd);
          return 0;
        case SC_CLOSE:
          Send(hwnd, WM_CLOSE);
          return 0;
        case SC_NEXTWINDOW:
          Next(client, hwnd, false);
          return 0;
        default:
          break;
      }
      break;
    case WM_GETMINMAXINFO: {
      // Maximised, the frame lies outside the client so that the client area fills it.
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      const UiWindow* c = Get(hwnd);
      const UiWindow* w = Get(client);
      if (info && c && w) {
        const Rect area = AreaWith(*w, 0);
        const Rect size = WindowSize(*c);
        info->ptMaxPosition = {-c->client.Left, -c->client.Top};
        info->ptMaxSize = {area.Width() + size.Width() - c->client.Width(),
                           area.Height() + size.Height() - c->client.Height()};
      }
      return 0;
    }
    case WM_WINDOWPOSCHANGED:
    case WM_SIZE: {
      const LRESULT result = DefWindowProcA(hwnd, message, wParam, lParam);
      Recalculate(client);
      return result;
    }
    case WM_NCLBUTTONDOWN:
    case WM_LBUTTONDOWN:
    case WM_SETFOCUS:
      if (const MdiClientState* s = StateOf(client); s && s->active != hwnd) Activate(client, hwnd);
      break;
    case WM_DESTROY:
      ChildGone(client, hwnd);
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool TranslateMDISysAccel(HWND client, const MSG& msg) {
  const MdiClientState* s = StateOf(client);
  if (!s || (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) ||
      GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_MENU) < 0)
    return false;
  const HWND active = s->active;
  if (active == 0 || !Get(active)) return false;
  if (msg.wParam == VK_F4) {
    Send(active, WM_SYSCOMMAND, SC_CLOSE);
    return true;
  }
  if (msg.wParam == kVkF6) {
    Next(client, active, GetKeyState(VK_SHIFT) < 0);
    return true;
  }
  return false;
}

}  // namespace qv
