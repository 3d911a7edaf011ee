// A window's own scroll bars (WS_HSCROLL, WS_VSCROLL) and a scroll-bar control's state:
// range, page and position, presses on the arrows and the track, and dragging the thumb.

#include <algorithm>

#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

namespace {

nonclient::ScrollState* ScrollOf(HWND hwnd, int bar, UiWindow** window = nullptr) {
  UiWindow* w = Get(hwnd);
  if (!w || bar < SB_HORZ || bar > SB_CTL) return nullptr;
  if (window) *window = w;
  return &w->scroll[bar];
}

void ScrollChanged(UiWindow& w, int bar, bool redraw) {
  if (!redraw || bar == SB_CTL) return;
  if ((bar == SB_VERT && (w.style & WS_VSCROLL)) || (bar == SB_HORZ && (w.style & WS_HSCROLL))) {
    w.ncDirty = true;
    SchedulePaint();
  }
}

}  // namespace

// A press on a window's own scroll bar: the arrows and the track scroll by a line or a
// page; the thumb is dragged in a loop of its own until the button comes up.
void ScrollBarPress(HWND hwnd, bool vertical, LPARAM screenPoint) {
  Manager& m = M();
  UiWindow* w = Get(hwnd);
  if (!w || m.scrollDrag.active) return;
  const nonclient::Layout layout =
      nonclient::Compute(w->style, w->exStyle, WindowSize(*w), w->menuHeight);
  const Rect bar = vertical ? layout.vscroll : layout.hscroll;
  const nonclient::ScrollState state = w->scroll[vertical ? SB_VERT : SB_HORZ];
  const nonclient::ScrollParts parts = nonclient::ScrollBarParts(bar, vertical, state);
  const Point o = OriginOnScreen(*w);
  const Point p{static_cast<std::int16_t>(LOWORD(static_cast<WPARAM>(screenPoint))) - o.X,
                static_cast<std::int16_t>(HIWORD(static_cast<WPARAM>(screenPoint))) - o.Y};
  const UINT message = vertical ? WM_VSCROLL : WM_HSCROLL;
  WPARAM code = SB_ENDSCROLL;
  if (parts.first.Contains(p))
    code = SB_LINEUP;
  else if (parts.last.Contains(p))
    code = SB_LINEDOWN;
  else if (parts.trackBefore.Contains(p))
    code = SB_PAGEUP;
  else if (parts.trackAfter.Contains(p))
    code = SB_PAGEDOWN;
  if (code != SB_ENDSCROLL) {
    Send(hwnd, message, code);
    if (Get(hwnd)) Send(hwnd, message, SB_ENDSCROLL);
    return;
  }
  if (!parts.thumb.Contains(p) || !(m.buttons & MK_LBUTTON)) return;
  m.scrollDrag = ScrollDrag{true, hwnd, vertical,
                            vertical ? p.Y - parts.thumb.Top : p.X - parts.thumb.Left, state.pos};
  SetCapture(hwnd);
  PumpUntil([&] { return !m.scrollDrag.active || !Get(hwnd) || Terminated(); });
  m.scrollDrag.active = false;
  if (Get(hwnd) && m.capture == hwnd) ReleaseCapture();
}

void Manager::ScrollDragInput(const InputEvent& e) {
  UiWindow* w = Get(scrollDrag.hwnd);
  if (!w) {
    scrollDrag.active = false;
    return;
  }
  const bool vertical = scrollDrag.vertical;
  const UINT message = vertical ? WM_VSCROLL : WM_HSCROLL;
  const nonclient::ScrollState& state = w->scroll[vertical ? SB_VERT : SB_HORZ];
  const Rect bar =
      vertical ? nonclient::Compute(w->style, w->exStyle, WindowSize(*w), w->menuHeight).vscroll
               : nonclient::Compute(w->style, w->exStyle, WindowSize(*w), w->menuHeight).hscroll;
  const Point o = OriginOnScreen(*w);
  const int along = vertical ? e.screen.Y - o.Y - bar.Top : e.screen.X - o.X - bar.Left;
  const nonclient::ScrollParts parts = nonclient::ScrollBarParts(bar, vertical, state);
  const int arrow = vertical ? parts.first.Height() : parts.first.Width();
  const int pos = nonclient::ScrollPosAt(bar, vertical, state, along - arrow - scrollDrag.grab);
  const HWND hwnd = scrollDrag.hwnd;
  if (e.kind == InputEvent::Kind::Button && !e.down) {
    scrollDrag.active = false;
    Send(hwnd, message, MAKELONG(SB_THUMBPOSITION, static_cast<std::uint16_t>(scrollDrag.pos)));
    if (Get(hwnd)) Send(hwnd, message, SB_ENDSCROLL);
    return;
  }
  if (e.kind == InputEvent::Kind::Move && pos != scrollDrag.pos) {
    scrollDrag.pos = pos;
    w->trackPos[vertical ? SB_VERT : SB_HORZ] = pos;
    Send(hwnd, message, MAKELONG(SB_THUMBTRACK, static_cast<std::uint16_t>(pos)));
  }
}

}  // namespace qv::ui_internal

namespace qv {

using namespace ui_internal;

int SetScrollInfo(HWND hwnd, int bar, const SCROLLINFO& info, bool redraw) {
  UiWindow* w = nullptr;
  nonclient::ScrollState* s = ScrollOf(hwnd, bar, &w);
  if (!s) return 0;
  if (info.fMask & SIF_RANGE) {
    s->min = info.nMin;
    s->max = std::max(info.nMax, info.nMin);
  }
  if (info.fMask & SIF_PAGE) s->page = info.nPage;
  const long long range = static_cast<long long>(s->max) - s->min + 1;
  s->page = static_cast<unsigned>(std::min<long long>(s->page, range));
  if (info.fMask & SIF_POS) s->pos = info.nPos;
  const long long top = static_cast<long long>(s->max) - std::max<long long>(s->page - 1LL, 0);
  s->pos =
      static_cast<int>(std::clamp<long long>(s->pos, s->min, std::max<long long>(top, s->min)));
  ScrollChanged(*w, bar, redraw);
  return s->pos;
}

bool GetScrollInfo(HWND hwnd, int bar, SCROLLINFO& info) {
  UiWindow* w = nullptr;
  const nonclient::ScrollState* s = ScrollOf(hwnd, bar, &w);
  if (!s) return false;
  if (info.fMask & SIF_RANGE) {
    info.nMin = s->min;
    info.nMax = s->max;
  }
  if (info.fMask & SIF_PAGE) info.nPage = s->page;
  if (info.fMask & SIF_POS) info.nPos = s->pos;
  if (info.fMask & SIF_TRACKPOS) {
    const bool dragging = M().scrollDrag.active && M().scrollDrag.hwnd == hwnd &&
                          (bar == SB_VERT) == M().scrollDrag.vertical;
    info.nTrackPos = dragging ? w->trackPos[bar] : s->pos;
  }
  return true;
}

int SetScrollPos(HWND hwnd, int bar, int pos, bool redraw) {
  const nonclient::ScrollState* s = ScrollOf(hwnd, bar);
  if (!s) return 0;
  const int old = s->pos;
  SCROLLINFO info;
  info.fMask = SIF_POS;
  info.nPos = pos;
  SetScrollInfo(hwnd, bar, info, redraw);
  return old;
}

int GetScrollPos(HWND hwnd, int bar) {
  const nonclient::ScrollState* s = ScrollOf(hwnd, bar);
  return s ? s->pos : 0;
}

bool GetScrollBarInfo(HWND hwnd, int object, SCROLLBARINFO& info) {
  UiWindow* w = Get(hwnd);
  if (!w || (object != OBJID_HSCROLL && object != OBJID_VSCROLL)) return false;
  const bool vertical = object == OBJID_VSCROLL;
  const nonclient::Layout layout =
      nonclient::Compute(w->style, w->exStyle, WindowSize(*w), w->menuHeight);
  const Rect bar = vertical ? layout.vscroll : layout.hscroll;
  const Point o = OriginOnScreen(*w);
  info = SCROLLBARINFO{};
  info.rcScrollBar = bar.Offset(o.X, o.Y);
  if (bar.IsEmpty()) {
    info.rgstate[0] = STATE_SYSTEM_INVISIBLE;
    return true;
  }
  const nonclient::ScrollState& s = w->scroll[vertical ? SB_VERT : SB_HORZ];
  const nonclient::ScrollParts parts = nonclient::ScrollBarParts(bar, vertical, s);
  info.dxyLineButton = vertical ? parts.first.Height() : parts.first.Width();
  const long long range = static_cast<long long>(s.max) - s.min + 1;
  const bool fits = s.max <= s.min || (s.page > 0 && s.page >= range);
  if ((w->style & WS_DISABLED) || fits) info.rgstate[0] = STATE_SYSTEM_UNAVAILABLE;
  if (parts.thumb.IsEmpty() || fits) {
    info.rgstate[3] = STATE_SYSTEM_INVISIBLE;
  } else {
    const int start = vertical ? bar.Top : bar.Left;
    info.xyThumbTop = (vertical ? parts.thumb.Top : parts.thumb.Left) - start;
    info.xyThumbBottom = (vertical ? parts.thumb.Bottom : parts.thumb.Right) - start;
  }
  return true;
}

bool SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, bool redraw) {
  if (!ScrollOf(hwnd, bar)) return false;
  SCROLLINFO info;
  info.fMask = SIF_RANGE;
  info.nMin = minPos;
  info.nMax = maxPos;
  SetScrollInfo(hwnd, bar, info, redraw);
  return true;
}

}  // namespace qv
