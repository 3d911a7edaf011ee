#include "skin/sscrollbar.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "platform/classlib/forms.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"
#include "skin/sbordermasks.h"
#include "skin/scontrolutils.h"
#include "skin/spaintutils.h"
#include "skin/sskindata.h"
#include "skin/sskinmanager.h"
#include "skin/sutils.h"

namespace qv {

namespace {

constexpr std::uint32_t kRepeatInterval = 100;
constexpr int kMinThumb = 14;

bool SkinActive() {
  return SkinData.Active && SkinData.SkinManager != nullptr;
}

int RoundHalfEven(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::clamp(std::nearbyint(v), double(std::numeric_limits<int>::min()),
                                     double(std::numeric_limits<int>::max())));
}

}  // namespace

TsScrollBar::TsScrollBar(TComponent* owner)
    : TCustomControl(owner), commonData_(std::make_unique<TsCommonData>(this, true)) {
  commonData_->KindCode = kKindScrollBar;
  SetBounds(0, 0, 121, GetSystemMetrics(SM_CYHSCROLL));
  SetTabStop(true);
  SetControlStyle(ControlStyle() | csOpaque | csDoubleClicks);
}

TsScrollBar::~TsScrollBar() {
  StopTimer();
}

void TsScrollBar::SetParent(TWinControl* parent) {
  TCustomControl::SetParent(parent);
  if (parent != nullptr && commonData_->SkinSection().empty()) commonData_->Loaded();
}

void TsScrollBar::Loaded() {
  TCustomControl::Loaded();
  commonData_->Loaded();
}

void TsScrollBar::EndUpdate() {
  UpdateLock = false;
  if (NeedRepaint) Invalidate();
}

void TsScrollBar::UpdateSectionIndexes() {
  const bool v = Vertical();
  firstButtonIndex_ = GetSkinIndex(v ? "SCROLLBTNTOP" : "SCROLLBTNLEFT");
  secondButtonIndex_ = GetSkinIndex(v ? "SCROLLBTNBOTTOM" : "SCROLLBTNRIGHT");
  thumbIndex_ = GetSkinIndex(v ? "SCROLLSLIDERV" : "SCROLLSLIDERH");
}

void TsScrollBar::Scroll(TScrollCode code, int pos) {
  if (OnScroll) OnScroll(this, code, pos);
  SetPosition(pos);
}

void TsScrollBar::DoScroll(WPARAM code, int thumbPos) {
  // Right-to-left horizontal bars step the other way and keep mirrored positions.
  const int factor = factor_;
  const bool thumb = code == SB_THUMBPOSITION || code == SB_THUMBTRACK;
  int pos = position_;
  const TScrollCode sc =
      ScrollRequest(code, position_, thumb && factor < 0 ? max_ - thumbPos : thumbPos, SmallChange,
                    LargeChange, min_, max_, factor, pos);
  Scroll(sc, pos);
}

void TsScrollBar::TakeDirectionFactor() {
  factor_ = !Vertical() && UseRightToLeftScrollBar() ? -1 : 1;
}

void TsScrollBar::CreateWnd() {
  TakeDirectionFactor();
  TCustomControl::CreateWnd();
  SendRangeToWindow();
}

void TsScrollBar::BiDiModeChanged() {
  TakeDirectionFactor();
  SendRangeToWindow();
}

void TsScrollBar::SendRangeToWindow() {
  if (!HandleAllocated()) return;
  const HWND h = Handle();
  SetScrollRange(h, SB_CTL, min_, max_, false);
  SCROLLINFO info;
  info.fMask = SIF_PAGE;
  info.nPage = static_cast<UINT>(pageSize_);
  SetScrollInfo(h, SB_CTL, info, false);
  SetScrollPos(h, SB_CTL, factor_ < 0 ? max_ - position_ : position_, false);
}

void TsScrollBar::SetKind(TScrollBarKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  TakeDirectionFactor();
  if (!HasState(csLoading)) SetBounds(Left(), Top(), Height(), Width());
  Invalidate();
}

void TsScrollBar::SetParams(int APosition, int AMin, int AMax) {
  if (AMax <= AMin)
    ShowError(std::string(kScrollBarRangeText) + kScrollBarRangeBreak +
              "Max = " + std::to_string(AMax));
  APosition = std::max(AMin, std::min(APosition, AMax));
  const bool rangeChanged = AMin != min_ || AMax != max_;
  min_ = AMin;
  max_ = AMax;
  if (rangeChanged && HandleAllocated()) SetScrollRange(Handle(), SB_CTL, min_, max_, false);
  if (APosition != position_) {
    const int old = position_;
    position_ = APosition;
    if (HandleAllocated())
      SetScrollPos(Handle(), SB_CTL, factor_ < 0 ? max_ - position_ : position_, false);
    NeedRepaint = true;
    Invalidate();
    // Also without a skin: an unskinned bar would otherwise never report position changes.
    Change(old);
  }
}

void TsScrollBar::SetPosition(int value) {
  if (HasState(csDestroying) || (ControlState() & csCreating) || value == position_) return;
  if ((value < min_ && position_ == min_) || (value > max_ && position_ == max_)) return;
  SetParams(value, min_, max_);
}

void TsScrollBar::SetMin(int value) {
  SetParams(position_, value, max_);
  Invalidate();
}

void TsScrollBar::SetMax(int value) {
  SetParams(position_, min_, value);
  Invalidate();
}

void TsScrollBar::SetPageSize(int value) {
  if (value < 0) return;
  pageSize_ = value;
  if (HandleAllocated()) {
    SCROLLINFO info;
    info.fMask = SIF_PAGE;
    info.nPage = static_cast<UINT>(value);
    SetScrollInfo(Handle(), SB_CTL, info, false);
  }
  Invalidate();
}

void TsScrollBar::Change(int oldValue) {
  if (dragging_) return;
  if (OnChange) OnChange(this, oldValue);
}

// Geometry -----------------------------------------------------------------------------

// Ranges may span all of int: positions are reckoned wider and brought back into the range.
int TsScrollBar::Clamped(std::int64_t value) const {
  return int(std::clamp<std::int64_t>(value, min_, std::max(min_, max_)));
}

int TsScrollBar::Stepped(std::int64_t delta) const {
  return Clamped(std::int64_t(position_) + delta);
}

int TsScrollBar::ButtonSize() const {
  int b = GetSystemMetrics(Vertical() ? SM_CYVSCROLL : SM_CXHSCROLL);
  // A button section whose borders mask asks for it may be longer than the system's.
  for (const char* section : {Vertical() ? "SCROLLBTNTOP" : "SCROLLBTNLEFT",
                              Vertical() ? "SCROLLBTNBOTTOM" : "SCROLLBTNRIGHT"}) {
    const int si = GetSkinIndex(section);
    if (si < 0 || !SkinSections[std::size_t(si)].ReservedBoolean) continue;
    const int mi = GetMaskIndex(si, section, "BORDERSMASK");
    if (!IsValidImgIndex(mi)) continue;
    const Bitmap& m = SkinMasks[std::size_t(mi)].Bmp->Image();
    b = std::max(b, Vertical() ? m.Height() / 2 : m.Width() / 3);
  }
  return std::min(b, Length() / 2);
}

int TsScrollBar::ThumbLength() const {
  if (pageSize_ == 0) return kMinThumb;
  const int track = Length() - 2 * ButtonSize();
  const double whole = double(max_) + pageSize_ - min_;
  if (whole <= 0) return kMinThumb;
  return RoundHalfEven(std::max<double>(kMinThumb, track * double(pageSize_) / whole));
}

int TsScrollBar::ThumbCentre() const {
  if (!Enabled()) return Length() / 2;
  if (max_ == min_) return 0;
  const int b = ButtonSize();
  const int len = ThumbLength();
  const int track = Length() - 2 * b;
  // From the position's distance to Min, so that ranges not starting at 0 place it right.
  return b + len / 2 +
         RoundHalfEven(double(track - len) / (double(max_) - min_) * (double(position_) - min_));
}

int TsScrollBar::PositionAt(int c) const {
  if (!Enabled()) return min_;
  const int b = ButtonSize();
  const int len = ThumbLength();
  const int room = Length() - 2 * b - len;
  if (room <= 0) return min_;  // the thumb fills the track
  return RoundHalfEven(min_ +
                       std::nearbyint(double(c - b - len / 2) * (double(max_) - min_) / room));
}

Rect TsScrollBar::PartRect(TsScrollBarPart part) const {
  const int w = Width();
  const int h = Height();
  const int b = ButtonSize();
  const int centre = ThumbCentre();
  const int len = ThumbLength();
  const bool v = Vertical();
  switch (part) {
    case sbpFirstButton:
      return v ? Rect{0, 0, w, b} : Rect{0, 0, b, h};
    case sbpSecondButton:
      return v ? Rect{0, h - b, w, h} : Rect{w - b, 0, w, h};
    case sbpTrackBefore:
      return v ? Rect{0, 0, w, centre} : Rect{0, 0, centre, h};
    case sbpTrackAfter:
      return v ? Rect{0, centre, w, h} : Rect{centre, 0, w, h};
    case sbpThumb: {
      const int from = centre - len / 2;
      return v ? Rect{0, from, w, from + len} : Rect{from, 0, from + len, h};
    }
  }
  return {};
}

// States and the mouse ---------------------------------------------------------------------

void TsScrollBar::SetPartState(TsScrollBarPart part, int state) {
  if (states_[part] == state) return;
  states_[part] = state;
  NeedRepaint = true;
  if (state != 0) {
    for (const TsScrollBarPart p : {sbpFirstButton, sbpSecondButton, sbpThumb})
      if (p != part) states_[p] = 0;
    for (const TsScrollBarPart p : {sbpTrackBefore, sbpTrackAfter})
      if (p != part) states_[p] = 1;
  }
  Invalidate();
}

int TsScrollBar::PointerAlong() const {
  const Point p = ScreenToClient(GetCursorPos());
  return Vertical() ? p.Y : p.X;
}

int TsScrollBar::PointerValue() const {
  return PositionAt(PointerAlong());
}

void TsScrollBar::StopTimer() {
  timer_.reset();
}

void TsScrollBar::StartTimer(RepeatKind kind) {
  timer_ = std::make_unique<TTimer>(nullptr);
  timer_->SetInterval(kRepeatInterval);
  timer_->OnTimer = [this, kind](TComponent*) { OnRepeat(kind); };
  timer_->SetEnabled(true);
}

void TsScrollBar::OnRepeat(RepeatKind kind) {
  switch (kind) {
    case RepeatKind::Button:
      if (states_[sbpFirstButton] == 2)
        Scroll(scLineUp, Stepped(-std::int64_t(SmallChange)));
      else if (states_[sbpSecondButton] == 2)
        Scroll(scLineDown, Stepped(SmallChange));
      else
        StopTimer();
      return;
    case RepeatKind::Track: {
      const int value = PointerValue();
      if (states_[sbpTrackBefore] == 2 && value < position_)
        Scroll(scPageUp, Stepped(-std::int64_t(LargeChange)));
      else if (states_[sbpTrackAfter] == 2 && value > position_)
        Scroll(scPageDown, Stepped(LargeChange));
      else
        StopTimer();
      return;
    }
    case RepeatKind::Thumb:
      if (states_[sbpThumb] == 2) {
        const TComponentWatch self(this);
        Scroll(scTrack, Clamped(std::int64_t(PointerValue()) - dragOffset_));
        if (self.Alive() && HandleAllocated()) SetCapture(Handle());
      } else {
        StopTimer();
      }
      return;
  }
}

void TsScrollBar::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseDown(button, shift, x, y);
  if (button != TMouseButton::mbLeft || !Enabled()) return;
  dragOffset_ = 0;
  if (TabStop() && CanFocus()) SetFocus();
  const Point p{x, y};
  const int along = Vertical() ? y : x;
  // One repaint for the state and the position together.
  UpdateLock = true;
  // A scroll runs the owner's handlers, which may let pending messages run and free the
  // form, and this bar with it: then no timer is started.
  const TComponentWatch self(this);
  if (PartRect(sbpFirstButton).Contains(p)) {
    if (states_[sbpFirstButton] == 2) return EndUpdate();
    SetPartState(sbpFirstButton, 2);
    if (position_ == min_) return EndUpdate();  // nothing to repeat at the start
    Scroll(scLineUp, Stepped(-std::int64_t(SmallChange)));
    if (!self.Alive()) return;
    StartTimer(RepeatKind::Button);
  } else if (PartRect(sbpSecondButton).Contains(p)) {
    if (states_[sbpSecondButton] == 2) return EndUpdate();
    SetPartState(sbpSecondButton, 2);
    if (position_ == max_) return EndUpdate();
    Scroll(scLineDown, Stepped(SmallChange));
    if (!self.Alive()) return;
    StartTimer(RepeatKind::Button);
  } else if (PartRect(sbpThumb).Contains(p)) {
    dragOffset_ = std::int64_t(PositionAt(along)) - position_;
    SetPartState(sbpThumb, 2);
    if (!Smooth) {
      dragging_ = true;
      dragStartPos_ += position_;
    }
    StartTimer(RepeatKind::Thumb);
    if (HandleAllocated()) SetCapture(Handle());
  } else if (along >= ThumbCentre()) {
    SetPartState(sbpTrackAfter, 2);
    Scroll(scPageDown, Stepped(LargeChange));
    if (!self.Alive()) return;
    StartTimer(RepeatKind::Track);
  } else {
    SetPartState(sbpTrackBefore, 2);
    Scroll(scPageUp, Stepped(-std::int64_t(LargeChange)));
    if (!self.Alive()) return;
    StartTimer(RepeatKind::Track);
  }
  EndUpdate();
}

void TsScrollBar::HoverStates(Point p) {
  for (const TsScrollBarPart part : {sbpFirstButton, sbpSecondButton, sbpThumb}) {
    if (PartRect(part).Contains(p)) {
      SetPartState(part, 1);
      return;
    }
  }
  for (const TsScrollBarPart part : {sbpFirstButton, sbpSecondButton, sbpThumb})
    SetPartState(part, 0);
  const bool inside = ClientRect().Contains(p);
  SetPartState(sbpTrackBefore, inside ? 1 : 0);
  SetPartState(sbpTrackAfter, inside ? 1 : 0);
}

void TsScrollBar::MouseMove(TShiftState shift, int x, int y) {
  TCustomControl::MouseMove(shift, x, y);
  if (states_[sbpThumb] == 2) {
    UpdateLock = true;
    // The owner's handlers may let pending messages run and free the form with this bar.
    const TComponentWatch self(this);
    Scroll(scTrack, Clamped(std::int64_t(PositionAt(Vertical() ? y : x)) - dragOffset_));
    if (self.Alive()) EndUpdate();
    return;
  }
  // A held button or track stays pressed while the pointer is on it; anywhere else the part
  // under the pointer turns hot and the held one normal, which ends its repeat.
  for (const TsScrollBarPart held :
       {sbpFirstButton, sbpSecondButton, sbpTrackBefore, sbpTrackAfter})
    if (states_[held] == 2 && PartAt({x, y}) == held) return;
  HoverStates({x, y});
}

int TsScrollBar::PartAt(Point p) const {
  if (!ClientRect().Contains(p)) return -1;
  for (const TsScrollBarPart part : {sbpFirstButton, sbpSecondButton, sbpThumb})
    if (PartRect(part).Contains(p)) return part;
  return (Vertical() ? p.Y : p.X) >= ThumbCentre() ? sbpTrackAfter : sbpTrackBefore;
}

void TsScrollBar::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) {
    StopTimer();
    // Each scroll or change may let pending messages run and free the form with this bar.
    const TComponentWatch self(this);
    const Point p{x, y};
    bool scrolled = false;
    for (const TsScrollBarPart part :
         {sbpFirstButton, sbpSecondButton, sbpTrackBefore, sbpTrackAfter, sbpThumb})
      scrolled = scrolled || states_[part] == 2;
    if (states_[sbpThumb] == 2) {
      Scroll(scPosition, Clamped(std::int64_t(PositionAt(Vertical() ? y : x)) - dragOffset_));
      if (!self.Alive()) return;
      states_[sbpThumb] = 0;
      if (!Smooth && dragging_) {
        dragging_ = false;
        Change(dragStartPos_);
        if (!self.Alive()) return;
        dragStartPos_ = 0;
      }
    }
    for (const TsScrollBarPart part :
         {sbpFirstButton, sbpSecondButton, sbpTrackBefore, sbpTrackAfter})
      if (states_[part] == 2) states_[part] = 0;
    HoverStates(p);
    NeedRepaint = true;
    Invalidate();
    if (GetCapture() == (HandleAllocated() ? Handle() : 0)) ReleaseCapture();
    if (scrolled) Scroll(scEndScroll, position_);
    if (!self.Alive()) return;
  }
  TCustomControl::MouseUp(button, shift, x, y);
}

void TsScrollBar::KeyDown(std::uint16_t& key, TShiftState shift) {
  switch (key) {
    case VK_PRIOR:
      Scroll(scPageUp, Stepped(-std::int64_t(LargeChange)));
      break;
    case VK_NEXT:
      Scroll(scPageDown, Stepped(LargeChange));
      break;
    case VK_END:
      Scroll(scBottom, max_);
      break;
    case VK_HOME:
      Scroll(scTop, min_);
      break;
    case VK_LEFT:
    case VK_UP:
      Scroll(scLineUp, Stepped(-std::int64_t(SmallChange)));
      break;
    case VK_RIGHT:
    case VK_DOWN:
      Scroll(scLineDown, Stepped(SmallChange));
      break;
    default:
      TCustomControl::KeyDown(key, shift);
      return;
  }
  key = 0;
}

void TsScrollBar::WndProc(TMessage& m) {
  // The skin link hears everything first; the engine's messages are its alone.
  commonData_->WndProc(m);
  if (m.Msg >= SKM_GETSTYLE && m.Msg <= SKM_PAINT_LAST) {
    if (m.Msg == SKM_NEWSKIN || m.Msg == SKM_REMOVESKIN) {
      firstButtonIndex_ = secondButtonIndex_ = thumbIndex_ = -1;
      NeedRepaint = true;
    }
    if (m.Msg != SKM_CONTROLMOVED) return;
  }
  switch (m.Msg) {
    case CN_HSCROLL:
    case CN_VSCROLL:
      DoScroll(LOWORD(m.WParam), static_cast<std::int16_t>(HIWORD(m.WParam)));
      m.Result = 0;
      return;
    case CM_MOUSEENTER:
      SetPartState(sbpTrackBefore, 1);
      SetPartState(sbpTrackAfter, 1);
      break;
    case CM_MOUSELEAVE:
      SetPartState(sbpFirstButton, 0);
      SetPartState(sbpSecondButton, 0);
      if (states_[sbpThumb] != 2) {
        SetPartState(sbpThumb, 0);
        states_[sbpTrackBefore] = 0;
        states_[sbpTrackAfter] = 0;
        Invalidate();
      }
      break;
    case WM_ERASEBKGND:
      m.Result = 1;
      return;
    default:
      break;
  }
  TCustomControl::WndProc(m);
}

// Painting ---------------------------------------------------------------------------------

Bitmap TsScrollBar::RenderSkinned() {
  if (!SkinActive() || Width() <= 0 || Height() <= 0) return {};
  const bool v = Vertical();
  const int w = Width();
  const int h = Height();

  TsBGInfo bg;
  if (LinkedForm != nullptr && static_cast<TWinControl*>(LinkedForm)->HandleAllocated()) {
    ParentBGInfo = TsBGInfo{};
    SendMessage(static_cast<TWinControl*>(LinkedForm)->Handle(), SKM_GETBGINFO, 0, 0);
    bg = ParentBGInfo;
  } else {
    AskParentBGInfo(this, bg);
  }

  // The tracks go into the skin link's cache, which the bar's children see as their
  // background.
  TsCommonData& link = *commonData_;
  link.UpdateCacheBmp();
  if (link.SkinChanged || firstButtonIndex_ < 0 || thumbIndex_ < 0) {
    UpdateSectionIndexes();
    link.SkinChanged = false;
  }
  TBitmap& cache = *link.CacheBmp;
  cache.Image().Fill(ColorToRGB(Parent() ? Parent()->Color() : clBtnFace));
  const Point offset{Left(), Top()};
  const std::string track1 = v ? "SCROLLBAR1V" : "SCROLLBAR1H";
  const std::string track2 = v ? "SCROLLBAR2V" : "SCROLLBAR2H";
  const int track1Index = GetSkinIndex(track1);
  auto trackState = [&](TsScrollBarPart part) {
    if (!Enabled()) return 0;
    return states_[part] != 0 ? states_[part] : (link.ControlIsActive() ? 1 : 0);
  };
  const Rect before = PartRect(sbpTrackBefore);
  if (!before.IsEmpty())
    PaintItem(track1Index, track1, bg, cache.Image(), offset, before, trackState(sbpTrackBefore),
              true);
  const Rect after = PartRect(sbpTrackAfter);
  if (!after.IsEmpty())
    PaintItem(GetSkinIndex(track2), track2, bg, cache.Image(), offset, after,
              trackState(sbpTrackAfter), true);

  TBitmap p(w, h);
  p.Image() = cache.Image();
  TBitmap under(w, h);
  const TsBGInfo self{&under, 0, 0, true};
  auto glyphOf = [](int si, const std::string& section) -> const TsMaskData* {
    const int mi = GetMaskIndex(si, section, "GLYPHMASK");
    return IsValidImgIndex(mi) ? &SkinMasks[std::size_t(mi)] : nullptr;
  };
  auto button = [&](const std::string& section, TsScrollBarPart part) {
    const Rect r = PartRect(part);
    const int si = part == sbpFirstButton ? firstButtonIndex_ : secondButtonIndex_;
    under.Image() = p.Image();
    PaintItem(si, section, self, p.Image(), {0, 0}, r, states_[part], true);
    const TsMaskData* g = glyphOf(si, section);
    if (g == nullptr) return;
    const Bitmap& img = g->Bmp->Image();
    const int fw = img.Width() / 3;
    const int fh = img.Height() / 2;
    const int x = (r.Width() - fw) / 2 + r.Left;
    const int y = (r.Height() - fh) / 2 + r.Top;
    const bool fits = v ? fh < r.Height() : fw < r.Width();
    if (fits && x >= 0 && y >= 0)
      PaintMaskedGlyph(p.Image(), img, {x, y}, g->TransparentColor, states_[part]);
  };
  button(v ? "SCROLLBTNTOP" : "SCROLLBTNLEFT", sbpFirstButton);
  button(v ? "SCROLLBTNBOTTOM" : "SCROLLBTNRIGHT", sbpSecondButton);

  const bool hideThumb = LinkedForm != nullptr && !Enabled() && LinkedForm->Enabled();
  if (!hideThumb) {
    const std::string slider = v ? "SCROLLSLIDERV" : "SCROLLSLIDERH";
    const int si = thumbIndex_;
    const Rect r = PartRect(sbpThumb);
    under.Image() = p.Image();
    PaintItem(si, slider, self, p.Image(), {0, 0}, r, states_[sbpThumb], true);
    if (const TsMaskData* g = glyphOf(si, slider)) {
      const Bitmap& img = g->Bmp->Image();
      const int fw = img.Width() / 3;
      const int fh = img.Height() / 2;
      const int shift = states_[sbpThumb] == 2 ? 1 : 0;
      const int x = (r.Width() - fw) / 2 + r.Left + shift;
      const int y = (r.Height() - fh) / 2 + r.Top + shift;
      const bool fits = v ? img.Height() / 2 < r.Height() : img.Width() / 2 < r.Width();
      if (fits) PaintMaskedGlyph(p.Image(), img, {x, y}, g->TransparentColor, states_[sbpThumb]);
    }
  }

  if (!Enabled()) {
    if (LinkedForm != nullptr && static_cast<TControl*>(LinkedForm) != Parent()) {
      const TColor tint = track1Index >= 0 ? SkinSections[std::size_t(track1Index)].PaintingColor
                                           : ColorToRGB(clBtnFace);
      PaintControlFrame(p.Image(), {0, 0, w + 1, h + 1}, 60, 0, 0, tint);
    } else {
      PaintDisabledEffect(p.Image(), DisabledKind,
                          Parent() != nullptr ? Parent()->Color() : clBtnFace, offset, bg);
    }
  }
  return p.Image();
}

void TsScrollBar::PaintPlain(DC& dc) {
  const Brush face{BrushStyle::bsSolid, SysColor(COLOR_BTNFACE)};
  const Brush track{BrushStyle::bsSolid, SysColor(COLOR_SCROLLBAR)};
  const Brush dark{BrushStyle::bsSolid, SysColor(COLOR_BTNSHADOW)};
  dc.FillRect(ClientRect(), track);
  for (const TsScrollBarPart part : {sbpFirstButton, sbpSecondButton, sbpThumb}) {
    const Rect r = PartRect(part);
    dc.FillRect(r, face);
    dc.FrameRect(r,
                 states_[part] == 2 ? dark : Brush{BrushStyle::bsSolid, SysColor(COLOR_3DLIGHT)});
  }
}

void TsScrollBar::Paint() {
  DC& dc = *Canvas().Handle();
  if (!SkinActive() || !ControlIsReady(this)) {
    PaintPlain(dc);
    return;
  }
  if (UpdateLock || (ControlState() & csCreating)) return;
  NeedRepaint = false;
  Bitmap image = RenderSkinned();
  if (image.Empty()) return;
  DC src(&image);
  dc.BitBlt(0, 0, image.Width(), image.Height(), src, 0, 0);
}

}  // namespace qv
