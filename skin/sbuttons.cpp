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

namespace {
// The gradients a button placed at design time starts with: grey into white, and for the
// hot look four bands from grey to white and back to light grey.
constexpr const char* kDesignGradient = "8421504;16777215;99;0;0;16777215;16777215;0;0;0";
constexpr const char* kDesignHotGradient =
    "8421504;8421504;10;0;0;8421504;16777215;43;0;0;16777215;10658466;28;0;0;10658466;"
    "13816530;18;0;0;13816530;13816530;0;0;0";
}  // namespace

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
  // A pixel more room on the left and two on the right.
  r.Left -= 1;
  r.Right += 2;
  if (down) r = r.Offset(1, 1);
  return out;
}

Point ButtonGlyphPos(int w, int h, int gw, int gh, int cw, int ch, int m, int g, int layout,
                     TAlignment alignment, bool down) {
  const int x0 = (w - gw - g - cw) / 2 - m;
  const int y0 = (h - gh - g - ch) / 2 - m;
  Point p;
  switch (layout) {
    case 0:
      p.Y = (h - gh) / 2;
      p.X = alignment == TAlignment::taLeftJustify ? m
            : alignment == TAlignment::taCenter    ? m + x0
                                                   : m + 2 * x0;
      break;
    case 1:
      p.Y = (h - gh) / 2;
      p.X = alignment == TAlignment::taLeftJustify ? w - m - 2 * x0 - g - gw
            : alignment == TAlignment::taCenter    ? (w - gw + g + cw) / 2
                                                   : w - gw - m;
      break;
    case 2:
      p.X = (w - gw) / 2;
      p.Y = m + y0;
      break;
    default:
      p.X = (w - gw) / 2;
      p.Y = h - m - y0 - gh;
      break;
  }
  if (down) p = {p.X + 1, p.Y + 1};
  return p;
}

// ---- TsButtonControl ---------------------------------------------------------------------

TsButtonControl::TsButtonControl(TComponent* owner)
    : TCustomControl(owner),
      style_(std::make_unique<TsActiveBGStyle>(this)),
      fadeTimer_(std::make_unique<TFadeTimer>(this)) {
  // No csClickEvents: the release decides the click by the button's style (see MouseUp).
  SetControlStyle(csCaptureMouse | csSetCaption | csOpaque | csDoubleClicks);
  SetBounds(0, 0, 84, 22);
  SetTabStop(false);
  style_->KindCode = kKindButtonControl;
  normalImage_.SetPixelFormat(PixelFormat::pf24bit);
  imageChangeLink_.OnChange = [this](TComponent*) { ImagesChanged(); };
}

TsButtonControl::~TsButtonControl() {
  Destroying();
  fadeTimer_->SetFadeMode(0);
  fadeTimer_.reset();
  actionLink_.reset();
  if (images_ != nullptr) images_->UnRegisterChanges(&imageChangeLink_);
  style_.reset();
}

// ---- glyphs, drop-down menu and action ----------------------------------------------------

void TsButtonControl::ImagesChanged() {
  style_->Invalidate();
  if (autoSize_) AdjustSize();
}

void TsButtonControl::SetImages(TCustomImageList* value) {
  if (value == images_) return;
  if (images_ != nullptr) {
    images_->UnRegisterChanges(&imageChangeLink_);
    RemoveFreeNotification(images_);
  }
  images_ = value;
  if (value != nullptr) {
    value->RegisterChanges(&imageChangeLink_);
    FreeNotification(value);
  }
  ImagesChanged();
}

void TsButtonControl::SetNormalImages(TCustomImageList* value) {
  if (value == normalImages_) return;
  if (normalImages_ != nullptr) RemoveFreeNotification(normalImages_);
  normalImages_ = value;
  if (value != nullptr) FreeNotification(value);
  style_->Invalidate();
}

void TsButtonControl::SetDisabledImages(TCustomImageList* value) {
  if (value == disabledImages_) return;
  if (disabledImages_ != nullptr) RemoveFreeNotification(disabledImages_);
  disabledImages_ = value;
  if (value != nullptr) FreeNotification(value);
  style_->Invalidate();
}

void TsButtonControl::SetImageIndex(int value) {
  if (value == imageIndex_) return;
  imageIndex_ = value;
  ImagesChanged();
}

void TsButtonControl::SetDropdownMenu(TPopupMenu* value) {
  if (value == dropdownMenu_) return;
  if (dropdownMenu_ != nullptr) RemoveFreeNotification(dropdownMenu_);
  dropdownMenu_ = value;
  if (value != nullptr) FreeNotification(value);
}

void TsButtonControl::Notification(TComponent* component, TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == images_) {
    // The list unregistered its links as it went.
    images_ = nullptr;
    style_->Invalidate();
  }
  if (component == normalImages_) normalImages_ = nullptr;
  if (component == disabledImages_) disabledImages_ = nullptr;
  if (component == dropdownMenu_) dropdownMenu_ = nullptr;
}

TCustomImageList* TsButtonControl::CurrentImages() const {
  if (Enabled()) {
    if (normalImages_ != nullptr && !style_->IsActive()) return normalImages_;
    return images_;
  }
  return disabledImages_ != nullptr ? disabledImages_ : images_;
}

int TsButtonControl::GlyphWidth() const {
  const TCustomImageList* list = CurrentImages();
  return list != nullptr && imageIndex_ >= 0 ? list->Width() : 0;
}

int TsButtonControl::GlyphHeight() const {
  const TCustomImageList* list = CurrentImages();
  return list != nullptr && imageIndex_ >= 0 ? list->Height() : 0;
}

void TsButtonControl::SetAutoSize(bool value) {
  if (value == autoSize_) return;
  autoSize_ = value;
  if (value) AdjustSize();
  style_->Invalidate();
}

void TsButtonControl::AdjustSize() {
  if (!autoSize_ || down_ || HasState(csLoading)) return;
  TCanvas& c = style_->BGBitmap.Canvas();
  c.Font().Assign(Font());
  const int gw = GlyphWidth();
  const int gh = GlyphHeight();
  int cw = 0, ch = 0;
  if (ShowCaption && !Caption().empty()) {
    Rect calc{0, 0, c.TextWidth(Caption()), 0};
    c.Handle()->SelectFont(c.Font().Handle());
    c.Handle()->DrawText(Caption(), calc, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    cw = calc.Width();
    ch = std::max(calc.Height(), c.TextHeight("W"));
  }
  const bool both = (gw > 0 || gh > 0) && cw > 0;
  const int gap = both ? Spacing : 0;
  const int frame = 2 * margin_ + 2 * bevelWidth_;
  int w = 0, h = 0;
  if (Layout <= 1) {
    w = gw + gap + cw;
    h = std::max(gh, ch);
  } else {
    w = std::max(gw, cw);
    h = gh + gap + ch;
  }
  SetBounds(Left(), Top(), w + frame + ArrowWidth(), h + frame);
}

TBasicAction* TsButtonControl::Action() const {
  return actionLink_ != nullptr ? actionLink_->Action() : nullptr;
}

void TsButtonControl::SetAction(TBasicAction* value) {
  if (value == nullptr) {
    actionLink_.reset();
    return;
  }
  if (actionLink_ == nullptr) actionLink_ = std::make_unique<TsButtonActionLink>(this);
  actionLink_->SetAction(value);
}

void TsButtonControl::ActionChange(TBasicAction* sender) {
  auto* action = dynamic_cast<TCustomAction*>(sender);
  if (action == nullptr) return;
  if (images_ == nullptr && action->ActionList() != nullptr)
    SetImages(action->ActionList()->Images());
  SetImageIndex(action->ImageIndex());
  if (Caption() != action->Caption()) {
    SetCaption(action->Caption());
    style_->Invalidate();
  }
  SetHint(action->Hint());
}

void TsButtonControl::Click() {
  // A toggle changes with a click alone, whether the mouse or a key made it.
  if (ButtonStyle == 1) {
    toggleDown_ = !toggleDown_;
    ShowDown(toggleDown_);
  }
  // The action runs in place of OnClick, unless the button has a handler of its own.
  if (!OnClick && actionLink_ != nullptr && actionLink_->Execute()) return;
  TCustomControl::Click();
}

bool TsButtonActionLink::IsCheckedLinked() const {
  const TCustomAction* a = CustomAction();
  return a != nullptr && a->Checked() == button_->Down();
}

bool TsButtonActionLink::IsImageIndexLinked() const {
  const TCustomAction* a = CustomAction();
  return a != nullptr && a->ImageIndex() == button_->ImageIndex();
}

void TsButtonActionLink::SetCaption(const std::string& value) {
  if (IsCaptionLinked() && button_->Caption() != value) button_->SetCaption(value);
}

void TsButtonActionLink::SetChecked(bool value) {
  if (IsCheckedLinked()) button_->SetDown(value);
}

void TsButtonActionLink::SetImageIndex(int value) {
  if (IsImageIndexLinked()) button_->SetImageIndex(value);
}

void TsButtonActionLink::Change() {
  if (Action() != nullptr) button_->ActionChange(Action());
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
  if (ButtonStyle == 1) toggleDown_ = value;
  ShowDown(value);
}

void TsButtonControl::ShowDown(bool value) {
  if (value == down_) return;
  down_ = value;
  style_->Invalidate();
}

void TsButtonControl::PressByKey() {
  keyPress_ = true;
  ShowDown(true);
}

void TsButtonControl::EndKeyPress() {
  keyPress_ = false;
  ShowDown(ButtonStyle == 1 && toggleDown_);
}

Size TsButtonControl::MeasureCaption() {
  if (!ShowCaption) return {};
  TCanvas& c = style_->BGBitmap.Canvas();
  c.Font().Assign(Font());
  const int gw = GlyphWidth();
  const int textW = c.TextWidth(Caption());
  int a = 0;
  if (Layout <= 1) {
    const int g = gw > 0 && !Caption().empty() ? Spacing : 0;
    a = std::min(Width() - gw - 2 * margin_ - g, g + textW);
  } else {
    a = std::min(textW, Width() - 2 * margin_);
  }
  Rect calc{0, 0, std::max(a, 0), 0};
  c.Handle()->SelectFont(c.Font().Handle());
  c.Handle()->DrawText(Caption(), calc, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
  return {calc.Width(), calc.Height()};
}

TsCaptionPlacement TsButtonControl::CaptionPlacement() {
  const Size cs = MeasureCaption();
  return ButtonCaptionRect(Width(), Height(), GlyphWidth(), GlyphHeight(), cs.cx, cs.cy, margin_,
                           Spacing, Layout, Alignment, !Caption().empty(), down_);
}

Point TsButtonControl::GlyphPlacement() {
  const Size cs = MeasureCaption();
  const int gw = GlyphWidth();
  const int gh = GlyphHeight();
  const bool glyph = Layout <= 1 ? gw > 0 : gh > 0;
  const int g = ShowCaption && glyph && !Caption().empty() ? Spacing : 0;
  return ButtonGlyphPos(Width(), Height(), gw, gh, cs.cx, cs.cy, margin_, g, Layout, Alignment,
                        down_);
}

void TsButtonControl::PaintGlyph() {
  TCustomImageList* list = CurrentImages();
  if (list == nullptr || imageIndex_ < 0 || list->Image(imageIndex_) == nullptr) return;
  Bitmap glyph(list->Width(), list->Height(), PixelFormat::pf24bit);
  glyph.Fill(list->BkColor() == clNone ? COLORREF(kSkinTransparent) : ColorToRGB(list->BkColor()));
  list->Draw(glyph, 0, 0, imageIndex_);
  Bitmap& cache = style_->BGBitmap.Image();
  const Point at = GlyphPlacement();
  const Rect whole{0, 0, glyph.Width() - 1, glyph.Height() - 1};
  // The bottom-left pixel names the transparent colour when the glyph is copied, after any
  // greying, so that the see-through pixels stay see-through.
  const auto copy = [&](double blend) {
    const TColor transparent = TColor(glyph.Pixel(0, glyph.Height() - 1));
    if (blend > 0)
      BlendBitmapRect(cache, at.X, at.Y, transparent, blend, whole, glyph);
    else
      SumBitmapsRect(cache, glyph, at.X, transparent, at.Y);
  };
  if (Enabled() || list == disabledImages_) {
    if (!style_->IsActive()) {
      if (GlyphGrayed && list == images_) GrayScale(glyph);
      if (GlyphBlend > 0) return copy(GlyphBlend / 100.0);
    }
    return copy(0);
  }
  if ((DisabledGlyphKind & dkGrayed) != 0) GrayScale(glyph);
  copy((DisabledGlyphKind & dkBlended) != 0 ? 0.5 : 0);
}

void TsButtonControl::PaintArrow() {
  const int aw = ArrowWidth();
  if (ButtonStyle != 2 || aw <= 0) return;
  const bool hot = style_->IsActive();
  TColor color = Font().Color();
  if (IsValidSkinIndex(style_->SkinIndex)) {
    const TsGeneralData& d = SkinSections[std::size_t(style_->SkinIndex)];
    color = hot ? d.HotFontColor : d.FontColor;
  } else if (hot && style_->HotStyle.HotPainting.FontColor != 0) {
    color = style_->HotStyle.HotPainting.FontColor;
  }
  const int shift = down_ ? 1 : 0;
  const int x0 = Width() - aw + (aw - kDropArrowWidth) / 2 + shift;
  const int y0 = (Height() - kDropArrowHeight) / 2 + shift;
  // Rows of 6, 4 and 2 pixels: a triangle pointing down.
  for (int i = 0; i < kDropArrowHeight; ++i)
    FillBitmapRect(style_->BGBitmap.Image(), {x0 + i, y0 + i, x0 + kDropArrowWidth - i, y0 + i + 1},
                   color);
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
  // A new region whenever one is asked for: a look without a mask (another skin, or none)
  // takes the whole rectangle back.
  Region region(Rect{0, 0, w, h});
  if (mask != nullptr) {
    PaintMaskedBorder(bmp, mask, region, true, transparent, state);
  } else {
    Rect face = ClientRect();
    face.Right -= ArrowWidth();
    s.PaintBevel(face);
  }
  if (s.RegionChanged) {
    s.RegionChanged = false;
    s.WindowRegion = region;
    if (HandleAllocated()) SetWindowRgn(Handle(), region, true);
  }
  PaintGlyph();
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

void TsButtonControl::RenderCache(bool fading) {
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
  } else if (!fading) {
    s.PaintBG(s.BGBitmap);
  }
  if (!fading) {
    PaintFace();
    PaintArrow();
  }
  if (!Enabled()) {
    const TColor color = Parent() != nullptr ? Parent()->Color() : Color();
    PaintDisabledEffect(s.BGBitmap.Image(), DisabledKind, color, {Left(), Top()}, parent);
  }
  s.BGChanged = false;
}

void TsButtonControl::Paint() {
  if (HasState(csDestroying) || Parent() == nullptr) return;
  if (style_->BGChanged) RenderCache(Fading());
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

// A drop-down menu open anywhere: a second one waits for it to close.
namespace {
bool gDropDownOpen = false;
}  // namespace

void TsButtonControl::DropDown() {
  droppedDown_ = true;
  gDropDownOpen = true;
  style_->BGChanged = true;
  Repaint();
  const Point at = ClientToScreen({0, Height() + 1});
  const TComponentWatch self(this);
  dropdownMenu_->Popup(at.X, at.Y);
  gDropDownOpen = false;
  if (!self.Alive()) return;  // the form (and the button) went while the menu was up
  // The menu took the pointer's leave: the button forgets its hot state itself.
  const Point pointer = ScreenToClient(GetCursorPos());
  if (!ClientRect().Contains(pointer)) {
    style_->MouseIn = false;
    style_->Focused = false;
  }
  droppedDown_ = false;
  style_->BGChanged = true;
  Repaint();
}

void TsButtonControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft && Enabled() && !down_) {
    StopFade();
    if (ButtonStyle == 2 && x >= Width() - ArrowWidth() && ArrowWidth() > 0 &&
        dropdownMenu_ != nullptr && !gDropDownOpen) {
      TCustomControl::MouseDown(button, shift, x, y);
      DropDown();
      return;
    }
    if (ButtonStyle == 0 || ButtonStyle == 2) {
      down_ = true;
      style_->BGChanged = true;
      Repaint();
    }
  }
  TCustomControl::MouseDown(button, shift, x, y);
}

void TsButtonControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (button != TMouseButton::mbLeft || ButtonStyle == 3 || ButtonStyle == 4) {
    TCustomControl::MouseUp(button, shift, x, y);
    return;
  }
  fadeStep_ = style_->FadingIterations() - 1;
  fadeTimer_->SetFadeMode(0);
  const bool inside = ClientRect().Contains({x, y});
  bool click = false;
  if (ButtonStyle == 1) {
    // The click turns the toggle over.
    click = inside;
  } else if (down_) {
    down_ = false;
    click = inside;
  }
  style_->BGChanged = true;
  Repaint();
  TCustomControl::MouseUp(button, shift, x, y);
  if (click) Click();
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
      if (autoSize_) AdjustSize();
      Invalidate();
      break;
    case CM_EXIT:
    case WM_KILLFOCUS:
      // A key press that never came up ends without a click.
      if (keyPress_) EndKeyPress();
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
  // A button dropped on a form in the designer starts with the house gradients, normal
  // and hot, where its style has none yet.
  if (HasState(csDesigning)) {
    TsBGGradient& normal = style_->Background.Gradient();
    if (normal.Data().empty()) normal.SetData(kDesignGradient);
    TsBGGradient& hot = style_->HotStyle.HotBackground.Gradient();
    if (hot.Data().empty()) hot.SetData(kDesignHotGradient);
  }
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
  const TComponentWatch self(this);  // a drop-down menu may outlast the form
  TsButtonControl::MouseDown(button, shift, x, y);
  if (self.Alive() && button == TMouseButton::mbLeft && CanFocus() && !Focused()) SetFocus();
}

void TsButton::PressAndClick() {
  // Only pressed for the look: the key's own release, met while messages are processed
  // here, must not click a second time.
  // The messages let run here may free the form (a release of it was pending), and the
  // button with it: then nothing more is done.
  const TComponentWatch self(this);
  ShowDown(true);
  Repaint();
  Application()->ProcessMessages();
  if (!self.Alive()) return;
  Click();
  if (!self.Alive()) return;
  ShowDown(ButtonStyle == 1 && ToggleDown());
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
        PressAndClick();
        m.Result = 1;
      }
      return;
    }
    case CM_DIALOGCHAR: {
      const char acc = Accelerator(Caption());
      const char key = char(std::toupper(int(m.WParam & 0xFF)));
      // The accelerator presses the button; a space only the focused one. The release of
      // the key clicks it, so the button takes the focus to hear that release.
      if (((acc != 0 && key == acc) || (key == ' ' && Focused())) && CanFocus()) {
        if (!Focused()) SetFocus();
        style_->BGChanged = true;
        PressByKey();
        Repaint();
        m.Result = 1;
      }
      return;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
      // Only the release of a key that pressed the button clicks it: not a toggle held down
      // by an earlier click, nor a button that Enter or the mouse holds down.
      if (Down() && KeyPressed()) {
        const TComponentWatch self(this);
        EndKeyPress();
        Repaint();
        Application()->ProcessMessages();
        if (self.Alive()) Click();  // not when the form went meanwhile
        return;
      }
      break;
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
