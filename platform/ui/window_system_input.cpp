// Input routing: the back end's events are queued and routed one by one from the service
// window; mouse events go to the window under the pointer (asked with WM_NCHITTEST) or to
// the capture, keys to the focus; double clicks, mouse-leave tracking and the input hook.

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/msg/message_queue.h"
#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

namespace {

// The windows under a point, front-most and deepest first; disabled children and what is
// under them inside them are skipped.
void CandidatesAt(HWND hwnd, Point top, std::vector<HWND>& out) {
  UiWindow* w = Get(hwnd);
  if (!w || !Shown(*w)) return;
  const Point o = OriginInTop(*w);
  if (!Shape(*w).Contains({top.X - o.X, top.Y - o.Y})) return;
  if (!IsTop(*w) && (w->style & WS_DISABLED)) return;
  if (w->client.Offset(o.X, o.Y).Contains(top)) {
    for (HWND child : w->children) CandidatesAt(child, top, out);
  }
  out.push_back(hwnd);
}

// The window that gets a mouse event at a screen point, and its hit-test code.
// `preferred` is the top-level the display reported the event on: the display knows the
// stacking of top-level windows better than we do when something else restacked them.
HWND MouseTarget(Point screen, int& hit, HWND preferred = 0) {
  Manager& m = M();
  std::vector<HWND> tops = m.tops;
  if (preferred && std::erase(tops, preferred)) tops.insert(tops.begin(), preferred);
  for (HWND top : tops) {
    UiWindow* t = Get(top);
    if (!t || !Shown(*t) || (t->style & WS_MINIMIZE)) continue;
    const Point p{screen.X - t->rect.Left, screen.Y - t->rect.Top};
    std::vector<HWND> candidates;
    CandidatesAt(top, p, candidates);
    for (HWND c : candidates) {
      if (!Get(c)) continue;
      hit = static_cast<int>(Send(c, WM_NCHITTEST, 0, PointParam(screen)));
      if (hit != HTTRANSPARENT) return c;
    }
    if (!candidates.empty()) {
      hit = HTNOWHERE;
      return 0;
    }
  }
  hit = HTNOWHERE;
  return 0;
}

// The window under the pointer for mouse-leave tracking, ignoring capture.
void UpdateTracking(Manager& m, HWND under, int hit) {
  const auto tracked = m.tracking;
  for (const auto& entry : tracked) {
    const auto& [hwnd, nonClient] = entry;
    const bool inside =
        hwnd == under && (nonClient ? hit != HTCLIENT && hit != HTNOWHERE : hit == HTCLIENT);
    if (inside) continue;
    m.tracking.erase(entry);
    if (Get(hwnd)) Send(hwnd, nonClient ? WM_NCMOUSELEAVE : WM_MOUSELEAVE);
  }
}

UINT ButtonMessage(qv::MouseButton button, bool down, bool nc, bool dbl) {
  UINT base = 0;
  switch (button) {
    case qv::MouseButton::Left:
      base = WM_LBUTTONDOWN;
      break;
    case qv::MouseButton::Right:
      base = WM_RBUTTONDOWN;
      break;
    case qv::MouseButton::Middle:
      base = WM_MBUTTONDOWN;
      break;
  }
  UINT message = down ? (dbl ? base + 2 : base) : base + 1;
  if (nc) message = message - WM_LBUTTONDOWN + WM_NCLBUTTONDOWN;
  return message;
}

unsigned ButtonFlag(qv::MouseButton button) {
  switch (button) {
    case qv::MouseButton::Left:
      return MK_LBUTTON;
    case qv::MouseButton::Right:
      return MK_RBUTTON;
    case qv::MouseButton::Middle:
      return MK_MBUTTON;
  }
  return 0;
}

WPARAM MouseKeys(const Manager& m) {
  WPARAM keys = m.buttons;
  if (m.modifiers & kModShift) keys |= MK_SHIFT;
  if (m.modifiers & kModControl) keys |= MK_CONTROL;
  return keys;
}

}  // namespace

void Manager::Queue(InputEvent event) {
  input.push_back(std::move(event));
  if (!PostMessage(service, UM_INPUT, 0, 0)) input.pop_back();
}

void Manager::MouseMove(HWND top, Point screen, unsigned mods, std::uint32_t time) {
  Queue({.kind = InputEvent::Kind::Move,
         .top = top,
         .screen = screen,
         .modifiers = mods,
         .time = time});
}

void Manager::MouseButton(HWND top, Point screen, qv::MouseButton button, bool down, unsigned mods,
                          std::uint32_t time) {
  Queue({.kind = InputEvent::Kind::Button,
         .top = top,
         .screen = screen,
         .button = button,
         .down = down,
         .modifiers = mods,
         .time = time});
}

void Manager::MouseWheel(HWND top, Point screen, int delta, unsigned mods, std::uint32_t time) {
  Queue({.kind = InputEvent::Kind::Wheel,
         .top = top,
         .screen = screen,
         .modifiers = mods,
         .delta = delta,
         .time = time});
}

void Manager::MouseLeft(HWND top) {
  Queue({.kind = InputEvent::Kind::Left, .top = top});
}

void Manager::Key(HWND top, unsigned vk, bool down, unsigned mods, unsigned scanCode,
                  std::string_view text, std::uint32_t time) {
  Queue({.kind = InputEvent::Kind::Key,
         .top = top,
         .down = down,
         .modifiers = mods,
         .vk = vk,
         .scanCode = scanCode,
         .text = std::string(text),
         .time = time});
}

void Manager::Configured(HWND top, const Rect& bounds) {
  Queue({.kind = InputEvent::Kind::Configure, .top = top, .bounds = bounds});
}

void Manager::FocusChanged(HWND top, bool focused) {
  Queue({.kind = InputEvent::Kind::Focus, .top = top, .down = focused});
}

void Manager::CloseRequested(HWND top) {
  Queue({.kind = InputEvent::Kind::Close, .top = top});
}

void Manager::Restored(HWND top) {
  Queue({.kind = InputEvent::Kind::Restore, .top = top});
}

void Manager::Route(const InputEvent& e) {
  switch (e.kind) {
    case InputEvent::Kind::Move:
    case InputEvent::Kind::Button:
      RouteMouse(e);
      break;
    case InputEvent::Kind::Wheel: {
      // To the keyboard focus, as the platform sends it; unhandled, it goes up to the parents.
      cursor = e.screen;
      modifiers = e.modifiers;
      const HWND target = Get(focus) ? focus : active;
      if (!Get(target) || moveSize.active || scrollDrag.active) break;
      const WPARAM keys = MouseKeys(*this);
      MSG msg{target, WM_MOUSEWHEEL,
              static_cast<WPARAM>(
                  MAKELONG(static_cast<std::uint16_t>(keys),
                           static_cast<std::uint16_t>(static_cast<std::int16_t>(e.delta)))),
              PointParam(e.screen)};
      Deliver(msg);
      break;
    }
    case InputEvent::Kind::Left:
      pointerInside = false;
      if (!capture && !moveSize.active) UpdateTracking(*this, 0, HTNOWHERE);
      break;
    case InputEvent::Kind::Key:
      RouteKey(e);
      break;
    case InputEvent::Kind::Focus:
      if (e.down && Get(e.top))
        ActivateTop(e.top, WA_ACTIVE);
      else if (!e.down && active == e.top)
        ActivateTop(0, WA_INACTIVE);
      break;
    case InputEvent::Kind::Close:
      if (Get(e.top)) Send(e.top, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case InputEvent::Kind::Restore:
      if (IsIconic(e.top)) Send(e.top, WM_SYSCOMMAND, SC_RESTORE, 0);
      break;
    case InputEvent::Kind::Configure:
      if (UiWindow* w = Get(e.top)) {
        if (w->rect != e.bounds) {
          SetWindowPos(e.top, 0, e.bounds.Left, e.bounds.Top, e.bounds.Width(), e.bounds.Height(),
                       SWP_NOZORDER | SWP_NOACTIVATE);
        }
      }
      break;
  }
}

void Manager::RouteMouse(const InputEvent& e) {
  cursor = e.screen;
  pointerInside = true;
  modifiers = e.modifiers;
  keys[VK_SHIFT] = (e.modifiers & kModShift) != 0;
  keys[VK_CONTROL] = (e.modifiers & kModControl) != 0;
  keys[VK_MENU] = (e.modifiers & kModAlt) != 0;
  if (e.kind == InputEvent::Kind::Button) {
    if (e.down) altAlone = false;
    const unsigned flag = ButtonFlag(e.button);
    buttons = e.down ? (buttons | flag) : (buttons & ~flag);
    keys[flag == MK_LBUTTON ? VK_LBUTTON : flag == MK_RBUTTON ? VK_RBUTTON : VK_MBUTTON] = e.down;
  }
  if (moveSize.active) {
    MoveSizeInput(e);
    return;
  }
  if (scrollDrag.active) {
    ScrollDragInput(e);
    return;
  }
  int hit = HTNOWHERE;
  const HWND under = MouseTarget(e.screen, hit, e.top);
  UpdateTracking(*this, under, hit);
  HWND target = under;
  if (capture && Get(capture)) {
    // The capturing window is still asked, as the platform does (some controls track a
    // drag there); its messages stay client messages whatever it answers.
    target = capture;
    Send(target, WM_NCHITTEST, 0, PointParam(e.screen));
    hit = HTCLIENT;
  }
  UiWindow* w = Get(target);
  if (!w) return;
  const HWND root = RootOf(target);
  UiWindow* rootWindow = Get(root);
  if (!rootWindow || (rootWindow->style & WS_DISABLED)) return;
  if (e.kind == InputEvent::Kind::Button && e.down && active != root && !capture) {
    ActivateTop(root, WA_CLICKACTIVE);
    backend->SetInputFocus(root);
    if (!Get(target)) return;
  }
  const bool nc = hit != HTCLIENT;
  UINT message = nc ? WM_NCMOUSEMOVE : WM_MOUSEMOVE;
  if (e.kind == InputEvent::Kind::Button) {
    bool dbl = false;
    if (e.down) {
      const UINT plain = ButtonMessage(e.button, true, nc, false);
      const int cx = GetSystemMetrics(SM_CXDOUBLECLK);
      const int cy = GetSystemMetrics(SM_CYDOUBLECLK);
      dbl = lastClick.valid && lastClick.hwnd == target && lastClick.message == plain &&
            e.time - lastClick.time <= GetDoubleClickTime() &&
            std::abs(e.screen.X - lastClick.screen.X) <= cx / 2 &&
            std::abs(e.screen.Y - lastClick.screen.Y) <= cy / 2 &&
            (nc || (w->classStyle & CS_DBLCLKS));
      if (dbl) {
        lastClick.valid = false;
      } else {
        lastClick = {target, plain, e.time, e.screen, true};
      }
    }
    message = ButtonMessage(e.button, e.down, nc, dbl);
  }
  if (!capture) {
    // The answer only says whether a cursor was set; we have no cursor shapes to set.
    Send(target, WM_SETCURSOR, static_cast<WPARAM>(target),
         MAKELONG(static_cast<std::uint16_t>(hit), static_cast<std::uint16_t>(message)));
    if (!Get(target)) return;
  }
  MSG msg{target, message, static_cast<WPARAM>(hit), PointParam(e.screen)};
  if (!nc) {
    Point p = e.screen;
    ScreenToClient(target, p);
    msg.wParam = MouseKeys(*this);
    msg.lParam = PointParam(p);
  }
  Deliver(msg);
}

void Manager::Deliver(MSG& msg) {
  if (inputHook) {
    // The hook may replace itself; keep the one running alive.
    const InputHook hook = inputHook;
    if (hook(msg)) return;
  }
  if (Get(msg.hwnd)) Send(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

void Manager::RouteKey(const InputEvent& e) {
  const bool wasDown = e.vk < 256 && keys[e.vk];
  if (e.vk < 256) keys[e.vk] = e.down;
  modifiers = e.modifiers;
  keys[VK_SHIFT] = (e.modifiers & kModShift) != 0 || (e.vk == VK_SHIFT && e.down);
  keys[VK_CONTROL] = (e.modifiers & kModControl) != 0 || (e.vk == VK_CONTROL && e.down);
  keys[VK_MENU] = (e.modifiers & kModAlt) != 0 || (e.vk == VK_MENU && e.down);
  if (moveSize.active) {
    if (e.down && e.vk == VK_ESCAPE) {
      const Rect r = moveSize.startRect;
      SetWindowPos(moveSize.hwnd, 0, r.Left, r.Top, r.Width(), r.Height(),
                   SWP_NOZORDER | SWP_NOACTIVATE);
      moveSize.active = false;
    } else if (e.down && e.vk == VK_RETURN) {
      moveSize.active = false;
    }
    return;
  }
  // Alt pressed and released with nothing between enters the menu bar (DefWindowProcA).
  if (e.down) altAlone = e.vk == VK_MENU && (!wasDown || altAlone);
  HWND target = Get(focus) ? focus : active;
  if (!Get(target)) return;
  // F10 is a system key, as Alt combinations are.
  const bool alt = ((e.modifiers & kModAlt) && !(e.modifiers & kModControl)) || e.vk == VK_F10;
  LPARAM lParam = 1 | (static_cast<LPARAM>(e.scanCode & 0xFF) << 16);
  if (IsExtendedKey(e.vk)) lParam |= LPARAM(1) << 24;
  if (alt) lParam |= LPARAM(1) << 29;
  if (wasDown) lParam |= LPARAM(1) << 30;  // a repeat, or the release of a held key
  if (!e.down) lParam |= (LPARAM(1) << 30) | (LPARAM(1) << 31);
  const UINT message = e.down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
  MSG key{target, message, e.vk, lParam};
  Deliver(key);
  if (!e.down) altAlone = false;
  if (!e.down || e.text.empty()) return;
  // The characters the key types, as TranslateMessage makes them: Latin-1 code points.
  const auto* s = reinterpret_cast<const unsigned char*>(e.text.data());
  for (std::size_t i = 0; i < e.text.size();) {
    unsigned code = s[i];
    std::size_t len = 1;
    if (code >= 0xC0 && code < 0xE0 && i + 1 < e.text.size()) {
      code = ((code & 0x1F) << 6) | (s[i + 1] & 0x3F);
      len = 2;
    } else if (code >= 0xE0 && code < 0xF0 && i + 2 < e.text.size()) {
      code = ((code & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      len = 3;
    } else if (code >= 0xF0 && i + 3 < e.text.size()) {
      code = ((code & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
             (s[i + 3] & 0x3F);
      len = 4;
    }
    i += len;
    if (!Get(target)) return;  // as TranslateMessage: to the key's window
    MSG ch{target, static_cast<UINT>(alt ? WM_SYSCHAR : WM_CHAR), code, lParam};
    Deliver(ch);
  }
}

}  // namespace qv::ui_internal

namespace qv {

using namespace ui_internal;

HWND WindowFromPoint(Point screen) {
  Manager& m = M();
  for (HWND top : m.tops) {
    UiWindow* t = Get(top);
    if (!t || !Shown(*t) || (t->style & WS_MINIMIZE)) continue;
    std::vector<HWND> candidates;
    CandidatesAt(top, {screen.X - t->rect.Left, screen.Y - t->rect.Top}, candidates);
    if (!candidates.empty()) return candidates.front();
  }
  return 0;
}

HWND ChildWindowFromPointEx(HWND parent, Point client, UINT flags) {
  UiWindow* p = Get(parent);
  if (!p) return 0;
  if (!Rect{0, 0, p->client.Width(), p->client.Height()}.Contains(client)) return 0;
  for (HWND child : p->children) {
    UiWindow* c = Get(child);
    if (!c) continue;
    if ((flags & CWP_SKIPINVISIBLE) && !Shown(*c)) continue;
    if ((flags & CWP_SKIPDISABLED) && (c->style & WS_DISABLED)) continue;
    if ((flags & CWP_SKIPTRANSPARENT) && (c->exStyle & WS_EX_TRANSPARENT)) continue;
    if (Shape(*c).Contains({client.X - c->rect.Left, client.Y - c->rect.Top})) return child;
  }
  return parent;
}

HWND SetCapture(HWND hwnd) {
  Manager& m = M();
  if (!Get(hwnd)) return 0;
  const HWND old = Get(m.capture) ? m.capture : 0;
  if (old == hwnd) return old;
  if (old && RootOf(old) != RootOf(hwnd)) m.backend->GrabPointer(RootOf(old), false);
  m.capture = hwnd;
  if (old) Send(old, WM_CAPTURECHANGED, 0, static_cast<LPARAM>(hwnd));
  m.backend->GrabPointer(RootOf(hwnd), true);
  return old;
}

bool ReleaseCapture() {
  Manager& m = M();
  const HWND old = m.capture;
  if (!old) return true;
  m.capture = 0;
  if (Get(old)) {
    m.backend->GrabPointer(RootOf(old), false);
    Send(old, WM_CAPTURECHANGED, 0, 0);
  }
  return true;
}

HWND GetCapture() {
  Manager& m = M();
  return Get(m.capture) ? m.capture : 0;
}

bool TrackMouseEvent(TRACKMOUSEEVENT& tme) {
  Manager& m = M();
  if (!Get(tme.hwndTrack)) return false;
  const bool nonClient = (tme.dwFlags & TME_NONCLIENT) != 0;
  if (tme.dwFlags & TME_CANCEL) {
    m.tracking.erase({tme.hwndTrack, nonClient});
    return true;
  }
  if (!(tme.dwFlags & TME_LEAVE)) return true;
  // Is the pointer over the window (the right part of it) now?
  bool inside = false;
  int hit = HTNOWHERE;
  if (!m.moveSize.active && m.pointerInside) {
    Rect r;
    if (GetWindowRect(tme.hwndTrack, r) && r.Contains(m.cursor)) {
      const HWND under = MouseTarget(m.cursor, hit);
      inside = under == tme.hwndTrack &&
               ((tme.dwFlags & TME_NONCLIENT) ? hit != HTCLIENT : hit == HTCLIENT);
    }
  }
  if (inside) {
    m.tracking.insert({tme.hwndTrack, nonClient});
  } else {
    PostMessage(tme.hwndTrack, (tme.dwFlags & TME_NONCLIENT) ? WM_NCMOUSELEAVE : WM_MOUSELEAVE, 0,
                0);
  }
  return true;
}

Point GetCursorPos() {
  return M().cursor;
}

std::int16_t GetKeyState(int vk) {
  Manager& m = M();
  if (vk < 0 || vk > 255) return 0;
  return m.keys[vk] ? static_cast<std::int16_t>(0x8000) : 0;
}

InputHook SetInputHook(InputHook hook) {
  return std::exchange(M().inputHook, std::move(hook));
}

}  // namespace qv
