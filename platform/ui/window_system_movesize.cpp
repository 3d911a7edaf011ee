// The interactive move/size loop of SC_MOVE and SC_SIZE, and the track sizes of
// WM_GETMINMAXINFO.

#include <algorithm>

#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

namespace {

void ClampTrackSize(HWND hwnd, Rect& r, WPARAM edge) {
  const MINMAXINFO info = MinMaxInfo(hwnd);
  const int w = std::clamp(r.Width(), info.ptMinTrackSize.X, info.ptMaxTrackSize.X);
  const int h = std::clamp(r.Height(), info.ptMinTrackSize.Y, info.ptMaxTrackSize.Y);
  const bool left = edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
  const bool top = edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
  if (left)
    r.Left = r.Right - w;
  else
    r.Right = r.Left + w;
  if (top)
    r.Top = r.Bottom - h;
  else
    r.Bottom = r.Top + h;
}

}  // namespace

// The sizes WM_GETMINMAXINFO settles. By default a maximised window fills the work area
// (or its parent's client area) with its frame just outside it.
MINMAXINFO MinMaxInfo(HWND hwnd) {
  MINMAXINFO info;
  info.ptMinTrackSize = {GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
  info.ptMaxTrackSize = {1 << 15, 1 << 15};
  if (UiWindow* w = Get(hwnd)) {
    Rect area;
    if (IsTop(*w)) {
      SystemParametersInfo(SPI_GETWORKAREA, 0, &area, 0);
    } else if (UiWindow* parent = Get(w->parent)) {
      area = {0, 0, parent->client.Width(), parent->client.Height()};
    }
    const int frame =
        nonclient::Compute(w->style | WS_MAXIMIZE, w->exStyle, WindowSize(*w), w->menuHeight).frame;
    info.ptMaxPosition = {area.Left - frame, area.Top - frame};
    info.ptMaxSize = {area.Width() + 2 * frame, area.Height() + 2 * frame};
  }
  Send(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  return info;
}

// The interactive move/size loop: serves the queue until the button is released (or
// Escape puts the window back); the pointer's moves become WM_MOVING/WM_SIZING and
// SetWindowPos calls.
void MoveSizeLoop(HWND hwnd, WPARAM command) {
  Manager& m = M();
  UiWindow* w = Get(hwnd);
  const WPARAM kind = command & 0xFFF0;
  // A maximised window stays where it is; a minimised one can be moved, not sized.
  if (!w || m.moveSize.active || (w->style & WS_MAXIMIZE) ||
      ((w->style & WS_MINIMIZE) && kind != SC_MOVE))
    return;
  const WPARAM low = command & 0x000F;
  m.moveSize = MoveSizeState{};
  m.moveSize.active = true;
  m.moveSize.hwnd = hwnd;
  m.moveSize.edge = kind == SC_SIZE ? low : 0;
  m.moveSize.byMouse = (m.buttons & MK_LBUTTON) != 0;
  m.moveSize.start = m.cursor;
  m.moveSize.startRect = w->rect;
  if (kind == SC_SIZE && m.moveSize.edge == 0) m.moveSize.edge = WMSZ_BOTTOMRIGHT;
  SetCapture(hwnd);
  Send(hwnd, WM_ENTERSIZEMOVE);
  PumpUntil([&] { return !m.moveSize.active || !Get(hwnd) || Terminated(); });
  m.moveSize.active = false;
  if (!Get(hwnd)) return;
  if (m.capture == hwnd) ReleaseCapture();
  Send(hwnd, WM_EXITSIZEMOVE);
}

void Manager::MoveSizeInput(const InputEvent& e) {
  UiWindow* w = Get(moveSize.hwnd);
  if (!w) {
    moveSize.active = false;
    return;
  }
  if (e.kind == InputEvent::Kind::Button) {
    // Releasing the button that started it, or any press for a keyboard-started one.
    if ((moveSize.byMouse && !e.down) || (!moveSize.byMouse && e.down)) moveSize.active = false;
    return;
  }
  const int dx = e.screen.X - moveSize.start.X;
  const int dy = e.screen.Y - moveSize.start.Y;
  Rect r = moveSize.startRect;
  const WPARAM edge = moveSize.edge;
  if (edge == 0) {
    r = r.Offset(dx, dy);
    Send(moveSize.hwnd, WM_MOVING, 0, reinterpret_cast<LPARAM>(&r));
  } else {
    if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT) r.Left += dx;
    if (edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT) r.Right += dx;
    if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT) r.Top += dy;
    if (edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT) r.Bottom += dy;
    ClampTrackSize(moveSize.hwnd, r, edge);
    Send(moveSize.hwnd, WM_SIZING, edge, reinterpret_cast<LPARAM>(&r));
  }
  if (Get(moveSize.hwnd)) {
    SetWindowPos(moveSize.hwnd, 0, r.Left, r.Top, r.Width(), r.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace qv::ui_internal
