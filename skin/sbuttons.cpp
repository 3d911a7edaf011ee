#include "skin/sbuttons.h"

#include <algorithm>
#include <cctype>

#include "platform/classlib/forms.h"
#include "platform/gfx/font.h"
#include "platform/ui/window_system.h"
#include "skin/sbordermasks.h"
#include "skin/spaintutils.h"
#include "skin/sskindata.h"
#include "skin/sutils.h"

namespace qv {

// ---- TFadeTimer --------------------------------------------------------------------------

TFadeTimer::TFadeTimer(TsButtonControl* button) : TTimer(nullptr), button_(button) {
  SetEnabled(false);
}

void TFadeTimer::SetFadeMode(int mode) {
  fadeMode_ = mode;
  SetEnabled(mode != 0);
}

void TFadeTimer::Timer() {
  if (button_ != nullptr) button_->FadeTick();
}

// ---- placement ---------------------------------------------------------------------------

TsCaptionPlacement ButtonCaptionRect(int w, int h, int gw, int gh, int cw, int ch, int m, int s,
                                     int layout, TAlignment alignment, bool hasCaption, bool down) {
  TsCaptionPlacement out;
  Rect& r = out.Bounds;
  if (layout == 0 || layout == 1) {
    const int g = gw > 0 && hasCaption ? s : 0;
    const int x0 = (w - gw - g - cw) / 2 - m;
    r.Top = (h - ch) / 2;
    r.Bottom = h - (h - ch) / 2;
    if (layout == 0) {
      const int gap = gw > 0 ? s : 0;
      switch (alignment) {
        case TAlignment::taLeftJustify:
          r.Left = gw + gap + m;
          r.Right = w - m - 2 * x0;
          break;
        case TAlignment::taRightJustify:
          r.Left = gw + gap + m + 2 * x0;
          r.Right = w - m;
          break;
        case TAlignment::taCenter:
          r.Left = gw + gap + m + x0;
          r.Right = w - m - x0;
          break;
      }
      out.Flag = DT_LEFT;
    } else {
      r.Left = alignment == TAlignment::taLeftJustify    ? m
               : alignment == TAlignment::taRightJustify ? m + 2 * x0
                                                         : m + x0;
      r.Right = r.Left + cw;
      out.Flag = DT_RIGHT;
    }
  } else {
    const int g = gh > 0 && hasCaption ? s : 0;
    const int y0 = (h - gh - g - ch) / 2 - m;
    r.Left = (w - cw) / 2;
    r.Right = w - (w - cw) / 2;
    if (layout == 2) {
      r.Top = gh + m + y0 + g;
      r.Bottom = h - y0 - m;
    } else {
      r.Top = m + y0;
      r.Bottom = h - y0 - m - gh - g;
    }
    out.Flag = DT_CENTER;
  }
  if (down) r = r.Offset(1, 1);
  return out;
}

// ---- TsButtonControl ---------------------------------------------------------------------

TsButtonControl::TsButtonControl(TComponent* owner)
    : TCustomControl(owner),
      style_(std::make_unique<TsActiveBGStyle>(this)),
      fadeTimer_(std::make_unique<TFadeTimer>(this)) {
  SetControlStyle(csCaptureMouse | csSetCaption | csOpaque | csDoubleClicks | csClickEvents);
  SetBounds(0, 0, 84, 22);
  SetTabStop(false);
  style_->KindCode = kKindButtonControl;
  normalImage_.SetPixelFormat(PixelFormat::pf24bit);
}

TsButtonControl::~TsButtonControl() {
  Destroying();
  fadeTimer_->SetFadeMode(0);
  fadeTimer_.reset();
  style_.reset();
}

void TsButtonControl::SetParent(TWinControl* parent) {
  TCustomControl::SetParent(parent);
  if (parent != nullptr && style_->SkinSection().empty()) style_->UpdateIndexes();
}

void TsButtonControl::Loaded() {
  TCustomControl::Loaded();
  style_->UpdateIndexes();
}

void TsButtonControl::SetMargin(int value) {
  margin_ = value;
  style_->BGChanged = true;
  Invalidate();
}

void TsButtonControl::SetBevelWidth(int value) {
  bevelWidth_ = value;
  style_->Invalidate();
}

void TsButtonControl::SetDown(bool value) {
  if (value == down_) return;
  down_ = value;
  style_->Invalidate();
}

TsCaptionPlacement TsButtonControl::CaptionPlacement() {
  TCanvas& c = style_->BGBitmap.Canvas();
  c.Font().Assign(Font());
  int cw = 0, ch = 0;
  if (ShowCaption) {
    const int textW = c.TextWidth(Caption());
    const int a = std::min(Width() - 2 * margin_, textW);
    Rect calc{0, 0, std::max(a, 0), 0};
    c.Handle()->SelectFont(c.Font().Handle());
    c.Handle()->DrawText(Caption(), calc, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    cw = calc.Width();
    ch = calc.Height();
  }
  return ButtonCaptionRect(Width(), Height(), 0, 0, cw, ch, margin_, Spacing, Layout, Alignment,
                           !Caption().empty(), down_);
}

void TsButtonControl::PaintCaption(Rect r, unsigned flags) {
  TCanvas& c = style_->BGBitmap.Canvas();
  c.Font().Assign(Font());
  const bool hot = style_->IsActive();
  if (!IsValidSkinIndex(style_->SkinIndex)) {
    c.Font().SetColor(hot && style_->HotStyle.HotPainting.FontColor != 0
                          ? style_->HotStyle.HotPainting.FontColor
                          : Font().Color());
  }
  WriteTextExt(c, Caption(), Enabled(), r, DrawTextBiDiModeFlags(flags), style_->SkinIndex, hot);
}

void TsButtonControl::PaintFace() {
  if (ButtonStyle == 3) return;
  TsActiveBGStyle& s = *style_;
  Bitmap& bmp = s.BGBitmap.Image();
  const int w = Width();
  const int h = Height();
  if (ButtonStyle == 4) {
    const int bw = bevelWidth_;
    const int left = (w - bw) / 2;
    s.PaintBevel(bmp, {left, bw, left + 3 * bw, h - bw}, bw, s.GetBevel());
    return;
  }
  const int state = down_ ? 2 : s.IsActive() ? 1 : 0;
  const Bitmap* mask = nullptr;
  TColor transparent = kSkinTransparent;
  if (IsValidSkinIndex(s.SkinIndex)) {
    if (IsValidImgIndex(s.BorderIndex)) {
      mask = &SkinMasks[std::size_t(s.BorderIndex)].Bmp->Image();
      transparent = SkinMasks[std::size_t(s.BorderIndex)].TransparentColor;
    }
  } else if (s.BtnEffects.MaskedBorders.Enabled()) {
    const Bitmap& custom = s.BtnEffects.MaskedBorders.Mask().Image();
    mask = GetBorderMaskBmp(s.BtnEffects.MaskedBorders.Predefined(), &custom);
    transparent = s.BtnEffects.MaskedBorders.TransparentColor();
  }
  Region region(Rect{0, 0, w, h});
  if (mask != nullptr) {
    PaintMaskedBorder(bmp, mask, region, true, transparent, state);
    if (s.RegionChanged) {
      s.RegionChanged = false;
      s.WindowRegion = region;
      if (HandleAllocated()) SetWindowRgn(Handle(), region, true);
    }
  } else {
    s.PaintActiveBevel(ClientRect());
  }
  // The caption.
  TCanvas& c = s.BGBitmap.Canvas();
  c.Brush().SetStyle(BrushStyle::bsClear);
  TsCaptionPlacement place = CaptionPlacement();
  c.Font().Assign(Font());
  if (place.Bounds.Height() > c.TextHeight("T") + 6) place.Flag = DT_CENTER;
  if (ShowCaption) PaintCaption(place.Bounds, place.Flag | DT_WORDBREAK | DT_EXPANDTABS);
  if (Focused() && ShowsFocusFrame()) {
    const int fm = FocusMarginValue();
    PaintDots(*c.Handle(), place.Bounds.Inflate(fm, fm));
  }
}

void TsButtonControl::RenderCache() {
  TsActiveBGStyle& s = *style_;
  s.UpdateBGBitmap();
  if (s.BGBitmap.Empty()) return;
  TsBGInfo parent;
  s.GetParentBGInfo(parent);
  if (ButtonStyle == 3 || ButtonStyle == 4) {
    if (parent.Ready && parent.Bmp != nullptr) {
      CopyBitmapRect(
          s.BGBitmap.Image(), {0, 0}, parent.Bmp->Image(),
          Rect{0, 0, Width(), Height()}.Offset(Left() + parent.OffsetX, Top() + parent.OffsetY));
    } else {
      FillBitmapRect(s.BGBitmap.Image(), {0, 0, Width(), Height()},
                     s.BGBitmap.Canvas().Brush().Color());
    }
  } else {
    s.PaintBG(s.BGBitmap);
  }
  PaintFace();
  if (!Enabled()) {
    const TColor color = Parent() != nullptr ? Parent()->Color() : Color();
    PaintDisabledEffect(s.BGBitmap.Image(), DisabledKind, color, {Left(), Top()}, parent);
  }
  s.BGChanged = false;
}

void TsButtonControl::Paint() {
  if (HasState(csDestroying) || Parent() == nullptr) return;
  if (style_->BGChanged && !Fading()) RenderCache();
  Canvas().Handle()->BitBlt(0, 0, Width(), Height(), *style_->BGBitmap.Canvas().Handle(), 0, 0);
}

// ---- fading ------------------------------------------------------------------------------

void TsButtonControl::StartFadeIn() {
  if (!style_->FadingEnabled()) return;
  if (style_->FadingIterations() <= 0) {
    // Nothing to step through: the hot look at once.
    style_->Invalidate();
    return;
  }
  if (style_->BGChanged) {
    style_->ForcedActive = false;
    RenderCache();
  }
  normalImage_.Assign(style_->BGBitmap);
  style_->ForcedActive = true;
  RenderCache();
  style_->ForcedActive.reset();
  fadeStep_ = 1;
  fadeTimer_->SetInterval(std::uint32_t(std::max(style_->FadingIntervalIn(), 1)));
  fadeTimer_->SetFadeMode(1);
}

void TsButtonControl::StartFadeOut() {
  if (!style_->FadingEnabled()) return;
  if (style_->FadingIterations() <= 0) {
    style_->Invalidate();
    return;
  }
  normalImage_.Assign(style_->BGBitmap);
  style_->ForcedActive = false;
  RenderCache();
  style_->ForcedActive.reset();
  fadeTimer_->SetInterval(std::uint32_t(std::max(style_->FadingIntervalOut(), 1)));
  fadeTimer_->SetFadeMode(2);
}

void TsButtonControl::StopFade() {
  fadeTimer_->SetFadeMode(0);
  fadeStep_ = style_->FadingIterations() - 1;
}

int TsButtonControl::FadeAlpha() const {
  const int iterations = style_->FadingIterations();
  return iterations > 0 ? 255 - fadeStep_ * 255 / iterations : 0;
}

void TsButtonControl::FadeTick() {
  const int iterations = style_->FadingIterations();
  if (HasState(csDestroying) || Application()->Terminated() || iterations <= 0) {
    fadeTimer_->SetFadeMode(0);
    return;
  }
  if (fadeStep_ < 0 || fadeStep_ > iterations) {
    fadeStep_ = fadeStep_ < 0 ? 0 : fadeStep_ - 1;
    fadeTimer_->SetFadeMode(0);
    if (!SkinChanging) style_->BGChanged = true;
    Repaint();
    return;
  }
  switch (fadeTimer_->FadeMode()) {
    case 1:
      FadeStep(true);
      break;
    case 2:
      FadeStep(false);
      break;
    default:
      fadeTimer_->SetEnabled(false);
      break;
  }
}

void TsButtonControl::FadeStep(bool in) {
  const Bitmap& cache = style_->BGBitmap.Image();
  if (normalImage_.Width() != cache.Width() || normalImage_.Height() != cache.Height()) {
    fadeTimer_->SetFadeMode(0);
    return;
  }
  // alpha of 255 keeps the starting look, 0 shows the other one.
  TBitmap temp;
  temp.Assign(in ? normalImage_ : style_->BGBitmap);
  BlendBitmaps(temp.Image(), in ? cache : normalImage_.Image(), std::uint8_t(FadeAlpha()));
  LastFadeAlpha = FadeAlpha();
  if (HandleAllocated()) {
    if (HDC dc = GetDC(Handle())) {
      dc->BitBlt(0, 0, Width(), Height(), *temp.Canvas().Handle(), 0, 0);
      ReleaseDC(Handle(), dc);
    }
  }
  fadeStep_ += in ? 1 : -1;
}

// ---- mouse -------------------------------------------------------------------------------

void TsButtonControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft && Enabled() && !down_) {
    StopFade();
    if (ButtonStyle == 0 || ButtonStyle == 2) {
      down_ = true;
      style_->BGChanged = true;
      Repaint();
    }
  }
  TCustomControl::MouseDown(button, shift, x, y);
}

void TsButtonControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) {
    fadeStep_ = style_->FadingIterations() - 1;
    fadeTimer_->SetFadeMode(0);
    if (ButtonStyle == 0 || ButtonStyle == 2) {
      down_ = false;
      style_->BGChanged = true;
      Repaint();
    }
  }
  TCustomControl::MouseUp(button, shift, x, y);
}

void TsButtonControl::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_ERASEBKGND:
      m.Result = 1;
      return;
    case CM_MOUSEENTER:
      if (m.LParam == reinterpret_cast<LPARAM>(this) && OnMouseEnter) OnMouseEnter(this);
      break;
    case CM_MOUSELEAVE:
      if (m.LParam == reinterpret_cast<LPARAM>(this) && OnMouseLeave) OnMouseLeave(this);
      break;
    case CM_TEXTCHANGED:
      style_->BGChanged = true;
      Invalidate();
      break;
    case CM_EXIT:
    case WM_KILLFOCUS:
      if (down_ && ButtonStyle != 1 && !MouseHeld()) SetDown(false);
      break;
    case WM_SIZE:
      style_->UpdateBGBitmap();
      break;
    default:
      break;
  }
  if (m.Msg == CM_MOUSEENTER || m.Msg == CM_MOUSELEAVE) {
    style_->WndProc(m);
    // The parent still hears of the pointer; the events above were this control's.
    if (Parent() != nullptr) Parent()->Perform(m.Msg, 0, m.LParam);
    return;
  }
  style_->WndProc(m);
  if (m.Result == 1 && m.Msg != WM_SIZE && m.Msg != WM_MOVE) return;
  TCustomControl::WndProc(m);
}

// ---- TsButton ----------------------------------------------------------------------------

TsButton::TsButton(TComponent* owner) : TsButtonControl(owner) {
  style_->KindCode = kKindButton;
  SetTabStop(true);
  SetBounds(0, 0, 75, 25);
}

void TsButton::SetDefault(bool value) {
  default_ = value;
  if (HandleAllocated()) {
    if (TCustomForm* form = GetParentForm())
      form->Perform(CM_FOCUSCHANGED, 0, reinterpret_cast<LPARAM>(form->ActiveControl()));
  }
  if (!HandleAllocated()) defaultActive_ = value;
  style_->Invalidate();
}

bool TsButton::ShowsFocusFrame() {
  if (IsValidSkinIndex(style_->SkinIndex))
    return SkinSections[std::size_t(style_->SkinIndex)].ShowFocus;
  return ShowFocus;
}

void TsButton::Click() {
  if (TCustomForm* form = GetParentForm(); form != nullptr && ModalResult != 0)
    form->SetModalResult(ModalResult);
  TsButtonControl::Click();
}

void TsButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  style_->BGChanged = true;
  TsButtonControl::MouseDown(button, shift, x, y);
  if (button == TMouseButton::mbLeft && CanFocus() && !Focused()) SetFocus();
}

void TsButton::PressByKey() {
  SetDown(true);
  Repaint();
  Application()->ProcessMessages();
  Click();
  SetDown(false);
  Repaint();
  Application()->ProcessMessages();
}

void TsButton::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_DIALOGKEY: {
      const auto key = static_cast<std::uint16_t>(m.WParam);
      const bool plain = (KeyboardShiftState() & (ssShift | ssAlt | ssCtrl)) == 0;
      if (plain && ((key == VK_RETURN && defaultActive_) || (key == VK_ESCAPE && Cancel)) &&
          CanFocus()) {
        PressByKey();
        m.Result = 1;
      }
      return;
    }
    case CM_DIALOGCHAR: {
      const char acc = Accelerator(Caption());
      const char key = char(std::toupper(int(m.WParam & 0xFF)));
      // The accelerator presses the button; a space only the focused one.
      if (((acc != 0 && key == acc) || (key == ' ' && Focused())) && CanFocus()) {
        style_->BGChanged = true;
        PressByKey();
        m.Result = 1;
      }
      return;
    }
    case CN_COMMAND:
      if (HIWORD(m.WParam) == 0) {
        style_->BGChanged = true;
        Click();
      }
      return;
    case CM_FOCUSCHANGED: {
      auto* focused = reinterpret_cast<TControl*>(m.LParam);
      defaultActive_ = dynamic_cast<TsButton*>(focused) != nullptr ? focused == this : default_;
      style_->Invalidate();
      return;
    }
    default:
      break;
  }
  TsButtonControl::WndProc(m);
}

}  // namespace qv
