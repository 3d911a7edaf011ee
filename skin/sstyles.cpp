#include "skin/sstyles.h"

#include <algorithm>
#include <limits>

#include "platform/classlib/forms.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"
#include "skin/sbuttons.h"
#include "skin/scontrolutils.h"
#include "skin/sfadeeffects.h"
#include "skin/sgradient.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
#include "skin/sskindata.h"
#include "skin/sskinmanager.h"
#include "skin/sskinprovider.h"
#include "skin/sutils.h"

namespace qv {

namespace {

const TsGeneralData* SectionOf(int skinIndex) {
  return IsValidSkinIndex(skinIndex) ? &SkinSections[std::size_t(skinIndex)] : nullptr;
}

bool IsDestroying(const TControl* c) {
  return c == nullptr || c->HasState(csDestroying);
}

// The form style keeps twice the value a shadow message carries; a value too large for
// that to fit stops at the largest that does.
int DoubledShadowValue(LPARAM value) {
  constexpr LPARAM kLimit = std::numeric_limits<int>::max() / 2;
  return int(2 * std::clamp<LPARAM>(value, -kLimit, kLimit));
}

LPARAM StyleParam(TPersistent* style) {
  return reinterpret_cast<LPARAM>(style);
}

// A section's bitmap for the key. Its JPEG picture is the section painter's alone: the
// style's layers tile bitmaps only.
const Bitmap* MaskImage(int skinIndex, const std::string& section, const std::string& key) {
  const int i = GetMaskIndex(skinIndex, section, key);
  if (IsValidImgIndex(i) && SkinMasks[std::size_t(i)].Bmp != nullptr)
    return &SkinMasks[std::size_t(i)].Bmp->Image();
  return nullptr;
}

const Bitmap* PictureImage(TPicture& picture) {
  if (picture.Width() <= 0 || picture.Height() <= 0) return nullptr;
  return &picture.Bitmap().Image();
}

// Fills R with the colour to (Right + 1, Bottom + 1), as the layer painters do.
void FillLayer(Bitmap& target, Rect r, TColor color) {
  FillBitmapRect(target, {r.Left, r.Top, r.Right + 1, r.Bottom + 1}, color);
}

}  // namespace

TsGenStyle* GenStyleOf(TControl* control) {
  return dynamic_cast<TsGenStyle*>(GetStyleOf(control));
}

std::optional<Rect> ShadowPlace(const Bitmap& picture, Rect bounds, std::int64_t dx,
                                std::int64_t dy) {
  if (bounds.Right + dx <= 0 || bounds.Left + dx >= picture.Width() || bounds.Bottom + dy <= 0 ||
      bounds.Top + dy >= picture.Height())
    return std::nullopt;
  // Overlapping the picture, both edges lie within a control's size of it.
  return bounds.Offset(int(dx), int(dy));
}

// ---- TsShadow ---------------------------------------------------------------------------

void TsShadow::RefreshParent() {
  if (style_ != nullptr) ::qv::RefreshParent(style_->OwnerControl());
}

void TsShadow::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  RefreshParent();
}

void TsShadow::SetOffset(int value) {
  if (value == offset_) return;
  offset_ = value;
  RefreshParent();
}

void TsShadow::SetBlur(int value) {
  if (value == blur_) return;
  blur_ = value;
  RefreshParent();
}

void TsShadow::SetTransparency(int value) {
  value = std::clamp(value, 0, 100);
  if (value == transparency_) return;
  transparency_ = value;
  if (enabled_) RefreshParent();
}

void TsShadow::SetDontUse(bool value) {
  dontUse_ = value;
  if (value) enabled_ = false;
}

void TsShadow::SetEnabled(bool value) {
  TControl* owner = style_ != nullptr ? style_->OwnerControl() : nullptr;
  if (owner == nullptr || owner->Parent() == nullptr || !IsStyledControl(owner->Parent()) ||
      NoShadowKinds.Contains(style_->KindCode))
    return;
  if (value) dontUse_ = false;
  enabled_ = value && !dontUse_;
  RefreshParent();
}

// ---- TsGenStyle --------------------------------------------------------------------------

TsGenStyle::TsGenStyle(TControl* owner) : owner_(owner) {
  BGChanged = !SkinChanging;
  UpdateBGBitmap();
}

TsGenStyle::~TsGenStyle() {
  // Shadows live on the parent: it paints again without this one.
  if (owner_ != nullptr && owner_->Parent() != nullptr && !IsDestroying(owner_->Parent())) {
    Effects.Shadow.SetDontUse(true);
    RefreshOwnerParent();
  }
}

void TsGenStyle::RefreshOwnerParent() const {
  ::qv::RefreshParent(owner_);
}

void TsGenStyle::LookUpIndexes() {
  SkinIndex = GetSkinIndex(skinSection_);
  BorderIndex = GetMaskIndex(SkinIndex, skinSection_, "BORDERSMASK");
}

void TsGenStyle::SetSkinSection(const std::string& value) {
  if (value == skinSection_) return;
  skinSection_ = value;
  LookUpIndexes();
  RegionChanged = true;
  Invalidate();
}

void TsGenStyle::SetSoftControl(bool value) {
  if (value == softControl_) return;
  softControl_ = value;
  RegionChanged = true;
  Invalidate();
}

void TsGenStyle::UpdateIndexes() {
  BGChanged = true;
  if (skinSection_.empty() && owner_ != nullptr) skinSection_ = owner_->ClassName();
  LookUpIndexes();
}

void TsGenStyle::Invalidate() {
  if (SkinChanging) return;
  BGChanged = true;
  if (owner_ != nullptr && !owner_->HasState(csLoading) && !IsDestroying(owner_) &&
      (owner_->ControlState() & csCreating) == 0 && owner_->Visible())
    owner_->Invalidate();
}

void TsGenStyle::SetRegion(std::optional<Region> region) {
  WindowRegion = std::move(region);
  auto* win = dynamic_cast<TWinControl*>(owner_);
  if (win != nullptr && win->HandleAllocated()) SetWindowRgn(win->Handle(), WindowRegion, true);
}

void TsGenStyle::UpdateRegion() {
  if (!RegionChanged) return;
  RegionChanged = false;
  std::optional<Region> region;
  if (owner_ != nullptr && softControl_ && RoundedKinds.Contains(KindCode)) {
    const Rect r = owner_->ClientRect();
    // The four corner pixels are cut.
    region = Region({r.Left + 1, r.Top, r.Right - 1, r.Bottom})
                 .Union(Region({r.Left, r.Top + 1, r.Right, r.Bottom - 1}));
  }
  if (!SkinChanging) BGChanged = true;
  SetRegion(std::move(region));
}

TBitmap* TsGenStyle::GetBorderMask() const {
  if (!IsValidSkinIndex(SkinIndex)) return nullptr;
  const int i = GetMaskIndex(SkinIndex, skinSection_, "BORDERSMASK");
  return IsValidImgIndex(i) ? SkinMasks[std::size_t(i)].Bmp.get() : nullptr;
}

bool TsGenStyle::ControlIsActive() const {
  if (owner_ == nullptr || IsDestroying(owner_)) return false;
  if (const auto* button = dynamic_cast<const TsButton*>(owner_);
      button != nullptr && button->ActsAsDefault())
    return true;
  if (!owner_->Enabled()) return false;
  if (const auto* b = dynamic_cast<const TsButtonControl*>(owner_); b != nullptr && b->MouseHeld())
    return true;
  if (NoHotKinds.Contains(KindCode)) return false;
  if (Focused) return true;
  if (const auto* win = dynamic_cast<const TWinControl*>(owner_); win != nullptr && win->Focused())
    return true;
  return MouseIn;
}

void TsGenStyle::GetParentBGInfo(TsBGInfo& info) const {
  AskParentBGInfo(owner_, info);
}

void TsGenStyle::UpdateBGBitmap() {
  const int w = owner_ != nullptr ? owner_->Width() : 0;
  const int h = owner_ != nullptr ? owner_->Height() : 0;
  if (BGBitmap.GetPixelFormat() != PixelFormat::pf24bit)
    BGBitmap.SetPixelFormat(PixelFormat::pf24bit);
  if (BGBitmap.Width() != w || BGBitmap.Height() != h) BGBitmap.SetSize(w, h);
}

void TsGenStyle::PaintParentBG(DC& dc, Rect r) {
  const int saved = dc.SaveDC();
  dc.BitBlt(r.Left, r.Top, r.Width(), r.Height(), *BGBitmap.Canvas().Handle(), r.Left, r.Top);
  dc.RestoreDC(saved);
  BGChanged = false;
}

bool TsGenStyle::ShadowOn() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->ShadowEnabled;
  return KindCode > 0 && Effects.Shadow.Enabled();
}

void TsGenStyle::Moved(bool sized) {
  if (sized) {
    if (!SkinChanging) RegionChanged = true;
    BGChanged = true;
    UpdateRegion();
  }
  // Moved alone, a see-through control has another part of its parent's picture under it.
  BGChanged = true;
  const TsGeneralData* s = SectionOf(SkinIndex);
  if ((s != nullptr && s->ShadowEnabled) || Effects.Shadow.Enabled()) RefreshOwnerParent();
  if (auto* b = dynamic_cast<TsButtonControl*>(owner_)) b->Invalidate();
}

void TsGenStyle::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_SETFOCUS:
    case CM_ENTER:
      Focused = true;
      if (KindCode < 1 || KindCode > 15) Invalidate();
      return;
    case WM_KILLFOCUS:
    case CM_EXIT:
      Focused = false;
      Invalidate();
      return;
    case WM_FONTCHANGE:
    case CM_ENABLEDCHANGED:
      Invalidate();
      return;
    case WM_SIZE:
      Moved(true);
      return;
    case WM_MOVE:
      Moved(false);
      return;
    case CM_VISIBLECHANGED:
      if (owner_ != nullptr && !owner_->Visible()) {
        const TsGeneralData* s = SectionOf(SkinIndex);
        if ((s != nullptr && s->ShadowEnabled) || (KindCode > 0 && Effects.Shadow.Enabled()))
          RefreshOwnerParent();
      }
      return;
    case CM_MOUSEENTER:
    case CM_MOUSELEAVE: {
      // Only the control's own enter and leave; those of its children pass by.
      if (m.LParam != 0 && m.LParam != reinterpret_cast<LPARAM>(owner_)) return;
      m.Result = 1;
      if (NoHotKinds.Contains(KindCode)) return;
      const bool enter = m.Msg == CM_MOUSEENTER;
      MouseIn = enter;
      // Only a button the user is not working with fades; anything else is repainted at once.
      const auto* win = dynamic_cast<const TWinControl*>(owner_);
      const bool focused = Focused || (win != nullptr && win->Focused());
      auto* button = dynamic_cast<TsButtonControl*>(owner_);
      auto* active = dynamic_cast<TsActiveBGStyle*>(this);
      if (!focused && button != nullptr && !button->HasState(csDesigning) &&
          button->ButtonStyle != 3 && button->ButtonStyle != 4 && active != nullptr &&
          active->FadingEnabled()) {
        enter ? button->StartFadeIn() : button->StartFadeOut();
      } else {
        Invalidate();
      }
      if (enter && OnMouseEnter) OnMouseEnter(owner_);
      return;
    }
    case SKM_GETSTYLE:
      m.WParam = 1;
      m.LParam = StyleParam(this);
      m.Result = 1;
      return;
    default:
      break;
  }
  if (m.Msg >= SKM_REFRESH && m.Msg <= 0xA414) {
    HandleSkinMessage(m);
  } else if (m.Msg >= SKM_EDIT_FIRST && m.Msg <= SKM_EDIT_LAST && AcceptsEditFamily()) {
    HandleSkinMessage(m);
  } else if (m.Msg >= SKM_PAINT_FIRST && m.Msg <= SKM_PAINT_LAST && AcceptsPaintFamily()) {
    HandleSkinMessage(m);
  }
}

void TsGenStyle::HandleSkinMessage(TMessage& m) {
  if (m.WParam != WPARAM(GroupIndex)) return;
  switch (m.Msg) {
    case SKM_REFRESH:
      if (!SkinChanging) BGChanged = m.LParam != 0;
      m.Result = 1;
      return;
    case SKM_NEWSKIN:
      BGChanged = true;
      LookUpIndexes();
      SkinChanging = false;
      RegionChanged = true;
      return;
    case SKM_REMOVESKIN:
      SkinIndex = BorderIndex = -1;
      RegionChanged = true;
      Invalidate();
      return;
    case SKM_BEFORECHANGE:
      SkinIndex = BorderIndex = -1;
      return;
    case SKM_REPAINT:
      BGChanged = true;
      Invalidate();
      if (owner_ != nullptr) owner_->Invalidate();
      return;
    case SKM_GETBGINFO:
      ParentBGInfo.Bmp = &BGBitmap;
      ParentBGInfo.OffsetX = 0;
      ParentBGInfo.OffsetY = 0;
      ParentBGInfo.Ready = KindCode != 7 && KindCode != 8;
      m.Result = 1;
      return;
    case SKM_UPDATESECTION: {
      std::string upper = skinSection_;
      for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
      if (upper == UpdatedSectionName) {
        SkinChanging = false;
        RegionChanged = true;
        Invalidate();
        if (owner_ != nullptr) owner_->Perform(WM_PAINT);
      }
      return;
    }
    default:
      break;
  }
  // The two property families carry the same meaning at the same offsets.
  UINT offset;
  if (m.Msg >= SKM_PAINT_FIRST && m.Msg <= SKM_PAINT_LAST)
    offset = m.Msg - SKM_PAINT_FIRST;
  else if (m.Msg >= SKM_EDIT_FIRST && m.Msg <= SKM_EDIT_LAST)
    offset = m.Msg - SKM_EDIT_FIRST;
  else
    return;
  auto& shadow = Effects.Shadow;
  switch (offset) {
    case SKM_OFFSET_SOFTCONTROL:
      SetSoftControl(m.LParam != 0);
      break;
    case SKM_OFFSET_COLOR:
      // The paint style sets the colour itself, against its own group; here it only marks
      // the background. The editor family has no colour.
      if (m.Msg != SKM_PAINT_COLOR) return;
      break;
    case SKM_OFFSET_SHADOWENABLED:
      shadow.SetEnabled(m.LParam != 0 && !NoShadowKinds.Contains(KindCode) && owner_ != nullptr &&
                        owner_->Visible() && !shadow.DontUse());
      break;
    case SKM_OFFSET_SHADOWCOLOR:
      shadow.SetColor(TColor(m.LParam));
      break;
    case SKM_OFFSET_SHADOWTRANSPARENCY:
      shadow.SetTransparency(int(m.LParam));
      break;
    case SKM_OFFSET_SHADOWOFFSET:
      shadow.SetOffset(int(m.LParam));
      break;
    case SKM_OFFSET_SHADOWBLUR:
      shadow.SetBlur(int(m.LParam));
      break;
    case SKM_OFFSET_SHADOWUPDATE:
      if (ContainerKinds.Contains(KindCode)) {
        auto* win = dynamic_cast<TWinControl*>(owner_);
        for (int i = 0; win != nullptr && i < win->ControlCount(); ++i) {
          TsGenStyle* child = GenStyleOf(win->Controls(i));
          if (child != nullptr && !child->Effects.Shadow.DontUse()) {
            if (!SkinChanging) BGChanged = true;
            owner_->Invalidate();
            break;
          }
        }
      }
      break;
    default:
      return;
  }
  if (!SkinChanging) BGChanged = true;
}

// ---- TsPaintStyle ------------------------------------------------------------------------

void TsPaintStyle::WndProc(TMessage& m) {
  if ((m.Msg == CM_PARENTCOLORCHANGED || m.Msg == CM_SYSCOLORCHANGE) && Painting.ParentColor() &&
      owner_ != nullptr && owner_->Parent() != nullptr) {
    // The field follows the parent without giving up ParentColor.
    const TColor parent = owner_->Parent()->Color();
    if (parent != Painting.Color()) {
      Painting.SetColor(parent);
      Painting.SetParentColor(true);
    }
    Invalidate();
  }
  // SetColor invalidates when the colour changes; the same colour again repaints nothing.
  if (m.Msg == SKM_PAINT_COLOR && m.WParam == WPARAM(GroupIndex))
    Painting.SetColor(TColor(m.LParam));
  // Then as every paint-family message, against the inherited group.
  TsGenStyle::WndProc(m);
}

void TsPaintStyle::PaintShadow(Bitmap& target, Point offset) {
  if (owner_ == nullptr) return;
  int shadowOffset, blur, transparency;
  TColor color;
  if (const TsGeneralData* s = SectionOf(SkinIndex)) {
    if (!s->ShadowEnabled || s->PaintingTransparency > 100) return;
    shadowOffset = s->ShadowOffset;
    color = s->ShadowColor;
    blur = s->ShadowBlur;
    const int p = ShadowedKinds.Contains(KindCode) && s->PaintingTransparency > 0
                      ? s->PaintingTransparency
                      : 0;
    transparency = MixPercent(p, s->ShadowTransparency);
  } else {
    const auto& sh = Effects.Shadow;
    shadowOffset = sh.Offset();
    color = sh.Color();
    blur = sh.Blur();
    const int p = ShadowedKinds.Contains(KindCode) && Painting.Transparency() > 0
                      ? Painting.Transparency()
                      : 0;
    transparency = MixPercent(p, sh.Transparency());
  }
  const std::optional<Rect> place =
      ShadowPlace(target, owner_->BoundsRect(), std::int64_t(shadowOffset) + offset.X,
                  std::int64_t(shadowOffset) + offset.Y);
  if (!place) return;
  const Bitmap copy = target;
  DrawShadow(copy, *place, target, {place->Left, place->Top}, std::clamp(transparency, 0, 100),
             color, blur, 0, SoftControl() ? 6 : 0);
}

void TsPaintStyle::PaintingBevelChanged(TsControlBevel bevel) {
  if (auto* panel = dynamic_cast<TsCustomPanel*>(owner_);
      panel != nullptr && panel->BevelOuter() != bevel)
    panel->SetBevelOuter(bevel);
}

void TsPaintStyle::PaintBevel(Bitmap& bmp, Rect r, int width, TsControlBevel bevel) const {
  ::qv::PaintBevel(bmp, r, width, bevel, SoftControl());
}

// ---- TsPassiveBGStyle --------------------------------------------------------------------

void TsPassiveBGStyle::WndProc(TMessage& m) {
  if (m.Msg == SKM_UPDATETRANSPARENT &&
      (m.WParam == WPARAM(TsGenStyle::GroupIndex) || m.WParam == WPARAM(kFormStyleGroup))) {
    const TsGeneralData* s = SectionOf(SkinIndex);
    if (s != nullptr && s->PaintingTransparency >= 1) {
      BGChanged = true;
      if (owner_ != nullptr) owner_->Invalidate();
    }
    return;
  }
  TsPaintStyle::WndProc(m);
}

TColor TsPassiveBGStyle::GetPaintingColor() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->PaintingColor;
  return ColorToRGB(Painting.Color());
}
TsControlBevel TsPassiveBGStyle::GetBevel() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->PaintingBevel;
  return Painting.Bevel();
}
int TsPassiveBGStyle::GetBevelWidth() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->PaintingBevelWidth;
  return Painting.BevelWidth;
}
int TsPassiveBGStyle::GetGradientPercent() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->GradientPercent;
  return const_cast<TsBackground&>(Background).Gradient().Percent();
}
const TsGradArray& TsPassiveBGStyle::GetGradArray() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->GradientArray;
  return const_cast<TsBackground&>(Background).Gradient().GradArray();
}
int TsPassiveBGStyle::GetImagePercent() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->ImagePercent;
  return const_cast<TsBackground&>(Background).Image().Percent();
}
const Bitmap* TsPassiveBGStyle::GetImage() const {
  if (IsValidSkinIndex(SkinIndex)) return MaskImage(SkinIndex, SkinSection(), "IMAGEFILE");
  return PictureImage(const_cast<TsBackground&>(Background).Image().Image());
}
int TsPassiveBGStyle::GetTransparency() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->PaintingTransparency;
  return Painting.Transparency();
}

void TsPassiveBGStyle::PaintBG(TBitmap& target) {
  PaintBGWith(target.Image(), {0, 0, owner_ ? owner_->Width() : 0, owner_ ? owner_->Height() : 0},
              false);
  if (ContainerKinds.Contains(KindCode)) PaintChildShadowsInto(target.Image());
}

void TsPassiveBGStyle::PaintChildShadowsInto(Bitmap& target) {
  if (auto* win = dynamic_cast<TWinControl*>(owner_)) PaintChildShadows(win, target);
}

void TsPassiveBGStyle::PaintBGWith(Bitmap& target, Rect r, bool hot) {
  if (owner_ == nullptr || target.Empty()) return;
  TsBGInfo parent;
  GetParentBGInfo(parent);
  const int t = GetTransparency();
  const bool ready = parent.Ready && parent.Bmp != nullptr;
  const Rect under = owner_->BoundsRect().Offset(parent.OffsetX, parent.OffsetY);
  const auto copyParent = [&](Bitmap& into) {
    CopyBitmapRect(into, {0, 0}, parent.Bmp->Image(),
                   {under.Left, under.Top, under.Left + into.Width(), under.Top + into.Height()});
  };
  if (ready && t == 100) {
    copyParent(target);
    return;
  }
  if (ready && t < 0) return;
  Bitmap temp(target.Width(), target.Height());
  // Layers.
  const int ip = GetImagePercent();
  const int gp = GetGradientPercent();
  const TColor color = ColorToRGB(GetPaintingColor());
  bool imageDrawn = false;
  if (ip > 0) {
    const Bitmap* image = GetImage();
    if (image != nullptr && !image->Empty()) {
      TileGraphic(target, r, *image);
      imageDrawn = true;
    } else if (!hot) {
      FillLayer(target, r, color);
    }
  }
  if (gp > 0) {
    const TsGradArray& grad = GetGradArray();
    Bitmap& into = imageDrawn ? temp : target;
    if (grad.empty()) {
      FillLayer(into, r, color);
    } else {
      PaintGrad(into, grad, r);
    }
    if (imageDrawn) {
      // Skin numbers may be anything an int holds: worked out in a wider type, and a
      // percentage beyond 100 blends as 100 does.
      const std::int64_t a =
          std::min<std::int64_t>(std::int64_t(ip) * (hot ? 255 : 256) / 100, 255);
      BlendBitmaps(target, temp, std::uint8_t(a));
    }
  }
  const std::int64_t s = std::int64_t(ip) + gp;
  if (s >= 1 && s <= 99) {
    FadeRect(target, {0, 0, target.Width() - 1, target.Height() - 1}, int(s), color);
  } else if (s != 100) {
    FillLayer(target, r, color);
  }
  if (ready && t > 0) {
    if (hot) temp = target;
    copyParent(temp);
    // The layers keep (100 - T) percent; only the low byte of the factor counts.
    BlendBitmaps(target, temp, std::uint8_t((100 - std::int64_t(t)) * 255 / 100));
  }
}

// ---- TsActiveBGStyle ---------------------------------------------------------------------

TsActiveBGStyle::TsActiveBGStyle(TControl* owner) : TsPassiveBGStyle(owner) {}

TColor TsActiveBGStyle::GetPaintingColor() const {
  if (!IsActive()) return TsPassiveBGStyle::GetPaintingColor();
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->HotPaintingColor;
  return ColorToRGB(HotStyle.HotPainting.Color);
}
TsControlBevel TsActiveBGStyle::GetBevel() const {
  if (!IsActive()) return TsPassiveBGStyle::GetBevel();
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->HotPaintingBevel;
  return HotStyle.HotPainting.Bevel;
}
int TsActiveBGStyle::GetBevelWidth() const {
  if (!IsActive()) return TsPassiveBGStyle::GetBevelWidth();
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->HotPaintingBevelWidth;
  return HotStyle.HotPainting.BevelWidth;
}
int TsActiveBGStyle::GetGradientPercent() const {
  if (!IsActive()) return TsPassiveBGStyle::GetGradientPercent();
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->HotGradientPercent;
  return const_cast<TsHotBackground&>(HotStyle.HotBackground).Gradient().Percent();
}
const TsGradArray& TsActiveBGStyle::GetGradArray() const {
  if (!IsActive()) return TsPassiveBGStyle::GetGradArray();
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->HotGradientArray;
  return const_cast<TsHotBackground&>(HotStyle.HotBackground).Gradient().GradArray();
}
int TsActiveBGStyle::GetImagePercent() const {
  if (!IsActive()) return TsPassiveBGStyle::GetImagePercent();
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->HotImagePercent;
  return const_cast<TsHotBackground&>(HotStyle.HotBackground).Image().Percent();
}
const Bitmap* TsActiveBGStyle::GetImage() const {
  if (!IsActive()) return TsPassiveBGStyle::GetImage();
  if (IsValidSkinIndex(SkinIndex)) return MaskImage(SkinIndex, SkinSection(), "HOTIMAGEFILE");
  return PictureImage(const_cast<TsHotBackground&>(HotStyle.HotBackground).Image().Image());
}
int TsActiveBGStyle::GetTransparency() const {
  if (!IsActive()) return TsPassiveBGStyle::GetTransparency();
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->HotPaintingTransparency;
  return HotStyle.HotPainting.Transparency;
}

bool TsActiveBGStyle::FadingEnabled() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->FadingEnabled;
  return BtnEffects.Fading.Enabled;
}
int TsActiveBGStyle::FadingIntervalIn() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->FadingIntervalIn;
  return BtnEffects.Fading.IntervalIn;
}
int TsActiveBGStyle::FadingIntervalOut() const {
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return s->FadingIntervalOut;
  return BtnEffects.Fading.IntervalOut;
}
int TsActiveBGStyle::FadingIterations() const {
  // A percentage as the own property is; a skin's 32-bit number is held to the same range,
  // which keeps the fade's step arithmetic in range.
  if (const TsGeneralData* s = SectionOf(SkinIndex)) return ClampPercent(s->FadingIterations);
  return BtnEffects.Fading.Iterations;  // held to 0..100 already
}

void TsActiveBGStyle::PaintBG(TBitmap& target) {
  if (!IsActive()) {
    TsPassiveBGStyle::PaintBG(target);
    return;
  }
  Rect r{0, 0, owner_ ? owner_->Width() : 0, owner_ ? owner_->Height() : 0};
  if (const auto* b = dynamic_cast<const TsButtonControl*>(owner_); b != nullptr && b->Down())
    r = r.Offset(1, 1);
  PaintBGWith(BGBitmap.Image(), r, true);
}

void TsActiveBGStyle::PaintBevel(Rect r) {
  auto* button = dynamic_cast<TsButtonControl*>(owner_);
  const bool down = button != nullptr && button->Down();
  Bitmap& bmp = BGBitmap.Image();
  if (!IsActive()) {
    const int width = button != nullptr ? button->BevelWidth() : 1;
    TsControlBevel bevel = GetBevel();
    if (down && bevel == cbRaisedSoft) bevel = cbLoweredSoft;
    if (down && bevel == cbRaisedHard) bevel = cbLoweredHard;
    if (bevel != cbNone) PaintBevel(bmp, r, width, bevel);
  } else if (down) {
    const int width = GetBevelWidth() / 4 + 1;
    PaintBevel(bmp, r, width, cbLoweredSoft);
    // A glyph stands where the inner bevel would go.
    if (button->GlyphWidth() <= 0) PaintBevel(bmp, r.Inflate(-width, -width), width, cbLoweredSoft);
  } else {
    PaintBevel(bmp, r, GetBevelWidth(), GetBevel());
  }
  if (const auto* b = dynamic_cast<const TsButton*>(owner_); b != nullptr && b->ActsAsDefault()) {
    // The default button's frame.
    const Rect f = r;
    FillBitmapRect(bmp, {f.Left, f.Top, f.Right, f.Top + 1}, clBlack);
    FillBitmapRect(bmp, {f.Left, f.Bottom - 1, f.Right, f.Bottom}, clBlack);
    FillBitmapRect(bmp, {f.Left, f.Top, f.Left + 1, f.Bottom}, clBlack);
    FillBitmapRect(bmp, {f.Right - 1, f.Top, f.Right, f.Bottom}, clBlack);
  }
}

void TsActiveBGStyle::UpdateRegion() {
  if (owner_ != nullptr && !BtnEffects.MaskedBorders.Enabled() && !IsValidSkinIndex(SkinIndex)) {
    RegionChanged = true;
    TsGenStyle::UpdateRegion();
    return;
  }
  TsGenStyle::UpdateRegion();
}

// ---- TsPassivePaintStyle -----------------------------------------------------------------

void TsPassivePaintStyle::WndProc(TMessage& m) {
  if (m.Msg < SKM_GETSTYLE || m.Msg > SKM_PAINT_LAST) return;
  if (m.WParam != WPARAM(GroupIndex) && m.WParam != WPARAM(kFormStyleGroup)) return;
  switch (m.Msg) {
    case SKM_GETSTYLE:
      m.WParam = 1;
      m.LParam = StyleParam(this);
      return;
    case SKM_NEWSKIN:
      NewSkin(m);
      return;
    case SKM_REMOVESKIN:
      RemoveSkin();
      return;
    case SKM_BEFORECHANGE:
      SkinIndex = BorderIndex = -1;
      return;
    case SKM_PAINT_COLOR:
      if (Painting.Color != TColor(m.LParam)) Painting.Color = TColor(m.LParam);
      return;
    case SKM_PAINT_SHADOWENABLED:
      if (KindCode != 211) Shadow.Enabled = m.LParam != 0;
      return;
    case SKM_PAINT_SHADOWCOLOR:
      Shadow.Color = TColor(m.LParam);
      return;
    case SKM_PAINT_SHADOWTRANSPARENCY:
      Shadow.Transparency = int(m.LParam & 0xFF);
      return;
    case SKM_PAINT_SHADOWOFFSET:
      Shadow.Offset = DoubledShadowValue(m.LParam);
      return;
    case SKM_PAINT_SHADOWBLUR:
      Shadow.Blur = DoubledShadowValue(m.LParam);
      return;
    default:
      return;
  }
}

int TsPassivePaintStyle::GetSkinIndex() const {
  return qv::GetSkinIndex(SkinSection);
}

int TsPassivePaintStyle::GetMaskIndex(const std::string& section,
                                      const std::string& property) const {
  if (!SkinData.Active) return -1;  // as every look-up of the skin tables
  const auto find = [&](const std::string& s) {
    const std::string sec = UpperCase(s);
    const std::string prop = UpperCase(property);
    for (std::size_t i = 0; i < SkinMasks.size(); ++i)
      if (SkinMasks[i].ClassName == sec && SkinMasks[i].PropertyName == prop) return int(i);
    return -1;
  };
  const int own = find(section);
  if (own >= 0 || !IsValidSkinIndex(SkinIndex)) return own;
  const std::string& parent = SkinSections[std::size_t(SkinIndex)].ParentClassName;
  if (parent.empty() || UpperCase(parent) == UpperCase(section)) return -1;
  return find(parent);
}

void TsPassivePaintStyle::NewSkin(TMessage& m) {
  auto* provider = dynamic_cast<TsSkinProvider*>(owner_);
  TsSkinManager* manager = SkinData.SkinManager;
  if (manager != nullptr) manager->SkinableMenus().ClearCache(true);
  SkinIndex = GetSkinIndex();
  BorderIndex = GetMaskIndex(SkinSection, "BORDERSMASK");
  if (provider == nullptr || manager == nullptr) return;
  provider->UpdateSkinIndexes();
  if (provider->SkinManager() == nullptr) provider->SetSkinManager(manager);
  if (provider->HasState(csDesigning)) return;
  TCustomForm* form = provider->Form();
  if (form == nullptr) return;
  if (form->BorderIcons() != 0) form->SetBorderIcons(0);
  form->SetAutoScroll(false);  // the provider's bars scroll the skinned form
  manager->SkinableMenus().ApplySkinState();
  if (!provider->HookedOnTop()) {
    provider->FormActive = Screen()->ActiveForm() == form;
    provider->Rehook();
  }
  for (TsScrollBar* bar : {provider->VertBar(), provider->HorzBar()})
    if (bar != nullptr && bar->HandleAllocated())
      SendMessage(bar->Handle(), m.Msg, m.WParam, m.LParam);
  provider->NeedRepaint = true;
  if (form->HandleAllocated()) SendMessage(form->Handle(), WM_NCPAINT, m.WParam, m.LParam);
}

void TsPassivePaintStyle::RemoveSkin() {
  auto* provider = dynamic_cast<TsSkinProvider*>(owner_);
  if (provider == nullptr) return;
  BorderIndex = SkinIndex = -1;
  provider->NeedRepaint = true;
  TsSkinManager* manager = provider->SkinManager();
  if (provider->HasState(csDesigning) || manager == nullptr) return;
  manager->SkinableMenus().ClearCache(true);
  manager->SkinableMenus().UpdateMenus(false);
  TCustomForm* form = provider->Form();
  if (form == nullptr) return;
  form->SetAutoScroll(provider->KeptAutoScroll());
  if (form->BorderIcons() != provider->KeptBorderIcons()) {
    provider->Suspended = true;
    form->SetBorderIcons(provider->KeptBorderIcons());
    provider->Suspended = false;
  } else if (form->FormStyle() != TFormStyle::fsMDIForm &&
             form->FormStyle() != TFormStyle::fsMDIChild) {
    // The frame the window system draws comes back with a new window. Not on an MDI form:
    // a new window would take its client and every child with it; nor on an MDI child: a
    // new one next to a maximised sibling comes back with the maximised bounds. Their
    // frames came back with the provider's frame change.
    form->Perform(CM_RECREATEWND);
  }
}

void TsPassivePaintStyle::Repaint(Bitmap& bmp, Rect r) {
  if (bmp.Empty()) return;
  const int ip = Background.Image().Percent();
  const int gp = Background.Gradient().Percent();
  const TColor color = ColorToRGB(Painting.Color);
  Bitmap temp(bmp.Width(), bmp.Height());
  bool imageDrawn = false;
  if (ip > 0) {
    const Bitmap* image = PictureImage(Background.Image().Image());
    if (image != nullptr && !image->Empty()) {
      TileGraphic(bmp, r, *image);
      imageDrawn = true;
    } else {
      FillBitmapRect(bmp, r, color);
    }
  }
  if (gp > 0) {
    const TsGradArray& grad = Background.Gradient().GradArray();
    if (grad.empty() && !imageDrawn) {
      FillBitmapRect(bmp, r, color);
    } else {
      // Through the temporary bitmap, and only R of it: the target is the whole window's
      // picture, and a horizontal gradient runs on to the bitmap's last column. Without an
      // image, what the gradient leaves unpainted keeps its pixels.
      if (!imageDrawn) temp = bmp;
      if (grad.empty())
        FillBitmapRect(temp, r, color);
      else
        PaintGrad(temp, grad, r);
      if (imageDrawn)
        BlendBitmaps(bmp, temp, std::uint8_t(std::min(ip * 256 / 100, 255)), r);
      else
        CopyBitmapRect(bmp, {r.Left, r.Top}, temp, r);
    }
  }
  const int s = ip + gp;
  // Only the rectangle, [Left, Right) x [Top, Bottom): the bitmap is the whole window's
  // picture (the fade takes its last row and column inclusive).
  if (s >= 1 && s <= 99)
    FadeRect(bmp, {r.Left, r.Top, r.Right - 1, r.Bottom - 1}, s, color);
  else if (s != 100)
    FillBitmapRect(bmp, r, color);
  if (!ContainerKinds.Contains(KindCode)) return;
  auto* container = dynamic_cast<TWinControl*>(owner_);
  if (container == nullptr) return;
  for (int i = 0; i < container->ControlCount(); ++i) {
    TControl* child = container->Controls(i);
    TsGenStyle* style = GenStyleOf(child);
    if (style == nullptr || !child->Visible() || style->KindCode <= 0 ||
        !style->Effects.Shadow.Enabled())
      continue;
    style->PaintShadow(bmp, {0, 0});
  }
}

// ---- TsCommonData ------------------------------------------------------------------------

TsCommonData::TsCommonData(TComponent* owner, bool withCache)
    : NoCache(!withCache), owner_(owner), ownerControl_(dynamic_cast<TControl*>(owner)) {
  if (withCache) UpdateCacheBmp();
}

void TsCommonData::UpdateCacheBmp() {
  if (CacheBmp == nullptr) CacheBmp = std::make_unique<TBitmap>();
  if (ownerControl_ != nullptr && (CacheBmp->Width() != ownerControl_->Width() ||
                                   CacheBmp->Height() != ownerControl_->Height()))
    CacheBmp->SetSize(ownerControl_->Width(), ownerControl_->Height());
  if (CacheBmp->GetPixelFormat() != PixelFormat::pf24bit)
    CacheBmp->SetPixelFormat(PixelFormat::pf24bit);
}

void TsCommonData::LookUp() {
  SkinIndex = GetSkinIndex(skinSection_);
  BorderIndex = GetMaskIndex(SkinIndex, skinSection_, "BORDERSMASK");
}

void TsCommonData::Loaded() {
  BGChanged = true;
  if (skinSection_.empty() && owner_ != nullptr) skinSection_ = owner_->ClassName();
  LookUp();
}

void TsCommonData::SetSkinSection(const std::string& value) {
  if (value != skinSection_) {
    skinSection_ = value;
    LookUp();
  }
  Invalidate();
}

void TsCommonData::Invalidate() {
  if (ownerControl_ == nullptr) return;
  BGChanged = true;
  if (ControlIsReady(ownerControl_)) ownerControl_->Invalidate();
}

bool TsCommonData::ControlIsActive() const {
  if (!ControlIsReady(ownerControl_) || !ownerControl_->Enabled()) return false;
  if (NoHotKinds.Contains(KindCode)) return false;
  if (Focused) return true;
  if (const auto* w = dynamic_cast<const TWinControl*>(ownerControl_); w && w->Focused())
    return true;
  return MouseIn;
}

void TsCommonData::GetParentBGInfo(TsBGInfo& info) const {
  AskParentBGInfo(ownerControl_, info);
}

void TsCommonData::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_SETFOCUS:
    case CM_ENTER:
      BGChanged = true;
      Focused = true;
      return;
    case WM_KILLFOCUS:
    case CM_EXIT:
      BGChanged = true;
      Focused = false;
      return;
    case WM_FONTCHANGE:
    case CM_ENABLEDCHANGED:
      Invalidate();
      return;
    case CM_MOUSEENTER:
    case CM_MOUSELEAVE:
      if (!NoHotKinds.Contains(KindCode)) MouseIn = m.Msg == CM_MOUSEENTER;
      m.Result = 1;
      return;
    case WM_MOVE:
    case WM_SIZE:
    case WM_WINDOWPOSCHANGED:
      BGChanged = true;
      if (ownerControl_ != nullptr) ownerControl_->Perform(SKM_CONTROLMOVED, 0, 0);
      return;
    case SKM_NEWSKIN:
      LookUp();
      SkinChanged = true;
      return;
    case SKM_REMOVESKIN:
      SkinIndex = BorderIndex = -1;
      SkinChanged = true;
      return;
    case SKM_REPAINT:
      Invalidate();
      if (auto* w = dynamic_cast<TWinControl*>(ownerControl_)) RepaintChildLabels(w);
      return;
    case SKM_GETBGINFO:
      ParentBGInfo.Ready = false;
      if (CacheBmp != nullptr) {
        ParentBGInfo = {CacheBmp.get(), 0, 0, true};
      }
      m.Result = 1;
      return;
    case SKM_UPDATESECTION: {
      std::string upper = skinSection_;
      for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
      if (upper == UpdatedSectionName) {
        SkinChanged = true;
        Invalidate();
        if (ownerControl_ != nullptr) ownerControl_->Perform(WM_PAINT);
      }
      return;
    }
    case SKM_UPDATETRANSPARENT: {
      const TsGeneralData* s = SectionOf(SkinIndex);
      if (ownerControl_ != nullptr && s != nullptr && s->PaintingTransparency > 0) {
        BGChanged = true;
        ownerControl_->Invalidate();
      }
      return;
    }
    default:
      return;
  }
}

}  // namespace qv
