// Activation of top-level windows and the keyboard focus.

#include <mutex>
#include <thread>

#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

namespace {

// The facts of the thread whose window system activated a window last.
struct ForegroundFacts {
  std::mutex lock;
  const Manager* owner = nullptr;
  FOREGROUNDINFO info;
};

ForegroundFacts& Foreground() {
  static auto* facts = new ForegroundFacts;  // other threads may still look at exit
  return *facts;
}

}  // namespace

void PublishForeground(bool stopping, bool askText) {
  if (!OnGuiThread()) return;
  Manager& m = M();
  ForegroundFacts& f = Foreground();
  UiWindow* top = stopping ? nullptr : Get(m.active);
  if (top == nullptr) {
    const std::lock_guard guard(f.lock);
    if (f.owner == &m) f.owner = nullptr;
    return;
  }
  FOREGROUNDINFO info;
  info.formClass = top->className;
  info.formText = top->text;
  if (UiWindow* focus = Get(m.focus)) {
    info.controlClass = focus->className;
    info.controlStyle = focus->style;
    // A control may keep its text itself (the class library's edits do): it is asked only
    // when the thread is idle. Otherwise this runs while windows are made, activated or
    // destroyed, and the text the window system keeps is taken.
    info.controlText = askText && !focus->destroying ? GetWindowText(m.focus) : focus->text;
  }
  const std::lock_guard guard(f.lock);
  f.owner = &m;
  f.info = std::move(info);
}

void ActivateTop(HWND top, WPARAM how) {
  Manager& m = M();
  if (m.active == top) return;
  const HWND old = m.active;
  m.active = top;
  if (Get(old)) {
    Send(old, WM_NCACTIVATE, 0, 0);
    Send(old, WM_ACTIVATE, WA_INACTIVE, static_cast<LPARAM>(top));
  }
  if (Get(top)) {
    Send(top, WM_NCACTIVATE, 1, 0);
    Send(top, WM_ACTIVATE, how, static_cast<LPARAM>(old));
  }
  PublishForeground();
}

// When the active window goes away the front-most remaining one takes over, so that the
// keyboard keeps working after a dialog closes.
void ActivateNext(HWND leaving) {
  Manager& m = M();
  for (HWND top : m.tops) {
    UiWindow* t = Get(top);
    if (!t || top == leaving || t->destroying || !Shown(*t)) continue;
    if (t->style & (WS_MINIMIZE | WS_DISABLED)) continue;
    ActivateTop(top, WA_ACTIVE);
    m.backend->SetInputFocus(top);
    return;
  }
  ActivateTop(0, WA_INACTIVE);
}

}  // namespace qv::ui_internal

namespace qv {

using namespace ui_internal;

HWND SetFocus(HWND hwnd) {
  Manager& m = M();
  const HWND old = Get(m.focus) ? m.focus : 0;
  if (hwnd == 0) {
    m.focus = 0;
    if (old) Send(old, WM_KILLFOCUS, 0, 0);
    return old;
  }
  UiWindow* w = Get(hwnd);
  if (!w || !IsWindowVisible(hwnd)) return 0;
  for (UiWindow* a = w; a; a = Get(a->parent)) {
    if (a->style & WS_DISABLED) return 0;
  }
  if (old == hwnd) return old;
  const HWND root = RootOf(hwnd);
  if (m.active != root) {
    ActivateTop(root, WA_ACTIVE);
    if (!Get(hwnd)) return 0;
  }
  // The activation may have moved the focus already.
  const HWND current = Get(m.focus) ? m.focus : 0;
  if (current == hwnd) return old;
  m.focus = hwnd;
  if (current) Send(current, WM_KILLFOCUS, static_cast<WPARAM>(hwnd), 0);
  if (m.focus == hwnd && Get(hwnd)) Send(hwnd, WM_SETFOCUS, static_cast<WPARAM>(current), 0);
  PublishForeground();
  return old;
}

bool GetForegroundInfo(FOREGROUNDINFO& info) {
  ForegroundFacts& f = Foreground();
  // A thread stopped while it updates the facts (by a fault, whose report asks for them)
  // never lets go of them: the answer is then "none" rather than a wait without end.
  std::unique_lock guard(f.lock, std::try_to_lock);
  for (int tries = 0; !guard.owns_lock() && tries < 100000; ++tries) {
    std::this_thread::yield();
    (void)guard.try_lock();
  }
  if (!guard.owns_lock() || f.owner == nullptr) return false;
  info = f.info;
  return true;
}

HWND GetFocus() {
  Manager& m = M();
  return Get(m.focus) ? m.focus : 0;
}

HWND GetActiveWindow() {
  Manager& m = M();
  return Get(m.active) ? m.active : 0;
}

HWND SetActiveWindow(HWND hwnd) {
  const HWND old = GetActiveWindow();
  if (!Get(hwnd)) return 0;
  ActivateTop(RootOf(hwnd), WA_ACTIVE);
  return old;
}

bool SetForegroundWindow(HWND hwnd) {
  Manager& m = M();
  const HWND root = RootOf(hwnd);
  if (!root) return false;
  BringWindowToTop(root);
  m.backend->Raise(root);
  m.backend->SetInputFocus(root);
  ActivateTop(root, WA_ACTIVE);
  return true;
}

}  // namespace qv
