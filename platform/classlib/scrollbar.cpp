#include "platform/classlib/stdctrls.h"

#include <algorithm>
#include <cstdint>

#include "platform/classlib/stdctrls_draw.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"

namespace qv {

using namespace draw;

// ---- TScrollBar -----------------------------------------------------------------------

TScrollBar::TScrollBar(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 121, 16);
  SetTabStop(true);
  SetColor(clScrollBar);
}

void TScrollBar::SetKind(TScrollBarKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  SetBounds(Left(), Top(), Height(), Width());
  Invalidate();
}

void TScrollBar::SetParams(int position, int min, int max) {
  if (max < min) throw Exception("Scroll bar property out of range");
  position = std::clamp(position, min, max);
  const bool moved = position != position_;
  min_ = min;
  max_ = max;
  position_ = position;
  Invalidate();
  if (moved && OnChange) OnChange(this);
}

void TScrollBar::SetPosition(int value) {
  SetParams(value, min_, max_);
}

void TScrollBar::SetPageSize(int v) {
  pageSize_ = std::clamp(v, 0, max_ - min_ + 1);
  Invalidate();
}

TScrollCode ScrollRequest(WPARAM code, int position, int thumbPos, int smallChange, int largeChange,
                          int min, int max, int direction, int& newPos) {
  // Worked out wide: a step from a position near the end of int's range cannot overflow.
  int64_t pos = position;
  TScrollCode sc = scEndScroll;
  switch (code) {
    case SB_LINEUP:
      sc = scLineUp;
      pos -= int64_t(smallChange) * direction;
      break;
    case SB_LINEDOWN:
      sc = scLineDown;
      pos += int64_t(smallChange) * direction;
      break;
    case SB_PAGEUP:
      sc = scPageUp;
      pos -= int64_t(largeChange) * direction;
      break;
    case SB_PAGEDOWN:
      sc = scPageDown;
      pos += int64_t(largeChange) * direction;
      break;
    case SB_THUMBPOSITION:
      sc = scPosition;
      pos = thumbPos;
      break;
    case SB_THUMBTRACK:
      sc = scTrack;
      pos = thumbPos;
      break;
    case SB_TOP:
      sc = scTop;
      pos = min;
      break;
    case SB_BOTTOM:
      sc = scBottom;
      pos = max;
      break;
    default:
      break;
  }
  newPos = int(std::clamp<int64_t>(pos, min, max));
  return sc;
}

void TScrollBar::DoScroll(WPARAM code, int thumbPos) {
  int pos = position_;
  const TScrollCode sc =
      ScrollRequest(code, position_, thumbPos, smallChange_, largeChange_, min_, max_, 1, pos);
  if (OnScroll) OnScroll(this, sc, pos);
  SetPosition(pos);
}

int TScrollBar::Length() const {
  return kind_ == TScrollBarKind::sbHorizontal ? Width() : Height();
}

int TScrollBar::Thickness() const {
  return kind_ == TScrollBarKind::sbHorizontal ? Height() : Width();
}

void TScrollBar::Thumb(int& start, int& size) const {
  const int arrow = std::min(Thickness(), Length() / 2);
  const int track = std::max(Length() - 2 * arrow, 0);
  const int range = max_ - min_ + 1;
  size = pageSize_ > 0 ? std::max(track * pageSize_ / range, 8) : std::min(Thickness(), track);
  size = std::min(size, track);
  const int span = std::max(max_ - min_ - std::max(pageSize_ - 1, 0), 1);
  start = arrow + (track - size) * (std::min(position_, min_ + span) - min_) / span;
}

int TScrollBar::PosFromPixel(int pixel) const {
  int start = 0;
  int size = 0;
  Thumb(start, size);
  const int arrow = std::min(Thickness(), Length() / 2);
  const int track = std::max(Length() - 2 * arrow - size, 1);
  const int span = std::max(max_ - min_ - std::max(pageSize_ - 1, 0), 0);
  return min_ + std::clamp((pixel - arrow) * span / track, 0, span);
}

void TScrollBar::KeyDown(std::uint16_t& key, TShiftState shift) {
  switch (key) {
    case VK_UP:
    case VK_LEFT:
      DoScroll(SB_LINEUP, 0);
      break;
    case VK_DOWN:
    case VK_RIGHT:
      DoScroll(SB_LINEDOWN, 0);
      break;
    case VK_PRIOR:
      DoScroll(SB_PAGEUP, 0);
      break;
    case VK_NEXT:
      DoScroll(SB_PAGEDOWN, 0);
      break;
    case VK_HOME:
      DoScroll(SB_TOP, 0);
      break;
    case VK_END:
      DoScroll(SB_BOTTOM, 0);
      break;
    default:
      return;
  }
  key = 0;
}

void TScrollBar::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) {
    const int along = kind_ == TScrollBarKind::sbHorizontal ? x : y;
    const int arrow = std::min(Thickness(), Length() / 2);
    int start = 0;
    int size = 0;
    Thumb(start, size);
    if (along < arrow) {
      DoScroll(SB_LINEUP, 0);
    } else if (along >= Length() - arrow) {
      DoScroll(SB_LINEDOWN, 0);
    } else if (along < start) {
      DoScroll(SB_PAGEUP, 0);
    } else if (along >= start + size) {
      DoScroll(SB_PAGEDOWN, 0);
    } else {
      dragging_ = true;
      dragOffset_ = along - start;
    }
  }
  TCustomControl::MouseDown(button, shift, x, y);
}

void TScrollBar::MouseMove(TShiftState shift, int x, int y) {
  if (dragging_) {
    const int along = kind_ == TScrollBarKind::sbHorizontal ? x : y;
    DoScroll(SB_THUMBTRACK, PosFromPixel(along - dragOffset_));
  }
  TCustomControl::MouseMove(shift, x, y);
}

void TScrollBar::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (dragging_ && button == TMouseButton::mbLeft) {
    dragging_ = false;
    DoScroll(SB_THUMBPOSITION, position_);
  }
  TCustomControl::MouseUp(button, shift, x, y);
}

void TScrollBar::Paint() {
  TCanvas& c = Canvas();
  DC* dc = c.Handle();
  const bool horz = kind_ == TScrollBarKind::sbHorizontal;
  const int arrow = std::min(Thickness(), Length() / 2);
  dc->FillRect(ClientRect(), Solid(Color()));
  auto along = [&](int a, int b) {
    return horz ? Rect{a, 0, b, Height()} : Rect{0, a, Width(), b};
  };
  for (Rect button : {along(0, arrow), along(Length() - arrow, Length())}) {
    Rect b = button;
    RaisedBorder(c, b);
    dc->FillRect(b, Solid(clBtnFace));
  }
  const TColor arrowColor = Enabled() ? clBtnText : clGrayText;
  // Arrow heads: triangles pointing away from the track.
  const Rect first = along(0, arrow);
  const Rect last = along(Length() - arrow, Length());
  for (int i = 0; i < 4; ++i) {
    if (horz) {
      const int cy = Height() / 2;
      const int x0 = (first.Left + first.Right) / 2 - 2 + i;
      dc->FillRect({x0, cy - i, x0 + 1, cy + i + 1}, Solid(arrowColor));
      const int x1 = (last.Left + last.Right) / 2 + 1 - i;
      dc->FillRect({x1, cy - i, x1 + 1, cy + i + 1}, Solid(arrowColor));
    } else {
      const int cx = Width() / 2;
      const int y0 = (first.Top + first.Bottom) / 2 - 2 + i;
      dc->FillRect({cx - i, y0, cx + i + 1, y0 + 1}, Solid(arrowColor));
      const int y1 = (last.Top + last.Bottom) / 2 + 1 - i;
      dc->FillRect({cx - i, y1, cx + i + 1, y1 + 1}, Solid(arrowColor));
    }
  }
  int start = 0;
  int size = 0;
  Thumb(start, size);
  if (size > 0 && Enabled()) {
    Rect t = along(start, start + size);
    RaisedBorder(c, t);
    dc->FillRect(t, Solid(clBtnFace));
  }
  if (Focused()) dc->FrameRect(along(start, start + size).Inflate(-2, -2), Solid(clBtnText));
}

}  // namespace qv
