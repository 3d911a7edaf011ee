#include "skin/sstyleedits.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "platform/classlib/forms.h"
#include "platform/ui/window_system.h"
#include "skin/sbordermasks.h"
#include "skin/scheckglyphs.h"
#include "skin/spaintutils.h"
#include "skin/sskindata.h"
#include "skin/sskinmanager.h"

namespace qv {

namespace {

const TsGeneralData* Section(int skinIndex) {
  return IsValidSkinIndex(skinIndex) ? &SkinSections[std::size_t(skinIndex)] : nullptr;
}

TsEditorBevel ClampBevel(LPARAM v) {
  return TsEditorBevel(std::clamp<LPARAM>(v, ebNone, ebAsBottomBorder));
}

bool ListHas(const std::string& list, unsigned key) {
  std::string s = list;
  std::replace(s.begin(), s.end(), ',', ' ');
  std::istringstream in(s);
  for (std::string word; in >> word;)
    if (word == std::to_string(key)) return true;
  return false;
}

}  // namespace

namespace sStyleEdits {

void TsPainting::Changed() {
  if (style_ != nullptr && style_->Owner() != nullptr) style_->Owner()->Invalidate();
}

bool TsPainting::CheckKind() const {
  return style_ != nullptr && style_->KindCode >= 31 && style_->KindCode <= 33;
}

void TsPainting::SetParentColor(bool value) {
  // Check controls always show their parent's colour.
  if (CheckKind()) value = true;
  TControl* c = style_ != nullptr ? style_->Owner() : nullptr;
  if (value == parentColor_) {
    if (value && c != nullptr) colors_[2] = c->Color();
    return;
  }
  // Stored first: the control's own change comes back here as a colour message.
  parentColor_ = value;
  if (c == nullptr) return;
  c->SetParentColor(value);
  if (value) colors_[2] = c->Color();
  c->Invalidate();
}

void TsPainting::FollowParentColor(TColor value) {
  colors_[2] = value;
}

void TsPainting::SetColor(int index, TColor value) {
  if (index == 3) {
    TControl* c = style_ != nullptr ? style_->Owner() : nullptr;
    if (CheckKind()) {
      parentColor_ = true;
      if (c != nullptr) value = c->Color();
    } else {
      parentColor_ = false;
    }
    colors_[2] = value;
  } else if (index == 0 || index == 1) {
    colors_[index] = value;
  }
  Changed();
}

void TsPainting::SetBevel(TsEditorBevel value) {
  bevel_ = value;
  Changed();
}

}  // namespace sStyleEdits

// TsEditorStyle -----------------------------------------------------------------------------

TColor TsEditorStyle::GetColor() const {
  const TsGeneralData* s = Section(SkinIndex);
  const auto* custom = dynamic_cast<const TsCustomStyle*>(this);
  if (custom != nullptr && ControlIsActive() && (Selection.Mode & msColor))
    return s != nullptr ? s->SelectionColor : TColor(ColorToRGB(Selection.Color));
  return s != nullptr ? s->PaintingColor : TColor(ColorToRGB(Painting.Color()));
}

void TsEditorStyle::PaintBorder() {
  auto* win = dynamic_cast<TWinControl*>(owner_);
  if (win == nullptr || !win->HandleAllocated()) return;
  const HWND hwnd = win->Handle();
  const int w = owner_->Width(), h = owner_->Height();
  if (w <= 0 || h <= 0) return;
  const TColor color = GetColor();
  DC* dc = GetWindowDC(hwnd);
  if (dc == nullptr) return;
  const TBitmap* mask =
      IsValidImgIndex(BorderIndex) ? SkinMasks[std::size_t(BorderIndex)].Bmp.get() : nullptr;
  if (mask != nullptr && mask->Image().Width() > 0) {
    BGBitmap.SetSize(w, h);
    Bitmap& bmp = BGBitmap.Image();
    FillBitmapRect(bmp, {0, 0, w, h}, color);
    // The left button held down on the control is its pressed state.
    const int state = (owner_->ControlState() & csLButtonDown) ? 2 : ControlIsActive() ? 1 : 0;
    Region region(Rect{0, 0, w, h});
    PaintMaskedBorder(bmp, &mask->Image(), region, false,
                      SkinMasks[std::size_t(BorderIndex)].TransparentColor, state);
    DC src(&bmp);
    dc->BitBlt(0, 0, w, 3, src, 0, 0);
    dc->BitBlt(0, 3, 3, h - 3, src, 0, 3);
    dc->BitBlt(0, h - 3, w, 3, src, 0, h - 3);
    dc->BitBlt(w - 3, 0, 3, h, src, w - 3, 0);
    ReleaseDC(hwnd, dc);
    // Setting the region repaints the frame, which comes back here: set it only on a change.
    Region current;
    if (GetWindowRgn(hwnd, current) == 0 || !(current == region)) SetWindowRgn(hwnd, region, true);
    BGChanged = false;
    return;
  }
  Rect r{0, 0, w, h};
  PaintFrame3D(*dc, r, color, 3, color);
  if (Painting.Bevel() == ebNone) {
    ReleaseDC(hwnd, dc);
    return;
  }
  const TsGeneralData* s = Section(SkinIndex);
  const TColor top = s != nullptr ? s->PaintingColorBorderTop : Painting.ColorBorderTop();
  const TColor bottom = s != nullptr ? s->PaintingColorBorderBottom : Painting.ColorBorderBottom();
  const Rect outer{0, 0, w, h};
  TsEditorBevel bevel;
  int width;
  const bool hot = ControlIsActive() && (Selection.Mode & msBorder);
  if (hot) {
    bevel = s != nullptr ? s->SelectionBorderBevel : Selection.Border.Bevel;
    width = s != nullptr ? s->SelectionBorderWidth : Selection.Border.Width;
  } else {
    bevel = s != nullptr ? TsEditorBevel(std::min<int>(s->PaintingBevel, ebAsBottomBorder))
                         : Painting.Bevel();
    width = s != nullptr ? s->PaintingBevelWidth : Painting.BevelWidth;
  }
  // A soft control's bevel has `width` lines per side from a width of 2, one line below that
  // (so a width of 0 still shows one); raised and lowered bevels grade them, the top and
  // bottom border kinds draw them in one colour. A hard one has as many plain lines as the
  // width says (none below 1).
  if (bevel != ebNone) {
    PaintRectBevel(*dc, ColorToRGB(top), ColorToRGB(bottom), SoftControl(), int(bevel) - 1, width,
                   outer, color);
    if (hot && width >= 2 && bevel == ebLowered) {
      Rect e = outer;
      PaintFrame3D(*dc, e, clBtnShadow, 1, clWhite);
      PaintFrame3D(*dc, e, cl3DDkShadow, 1, cl3DLight);
    }
  }
  ReleaseDC(hwnd, dc);
}

void TsEditorStyle::WndProc(TMessage& m) {
  if (m.Msg == SKM_GETSTYLE) {
    m.WParam = StyleCode();
    m.LParam = reinterpret_cast<LPARAM>(static_cast<TPersistent*>(this));
    m.Result = 1;
    return;
  }
  // The number between SKM_EDIT_COLOR and SKM_EDIT_COLORBORDERTOP names no property.
  if (m.Msg >= SKM_EDIT_COLOR && m.Msg <= SKM_EDIT_SELECTIONBORDERBEVEL &&
      m.Msg != SKM_EDIT_COLORBORDERTOP - 1) {
    if (int(m.WParam) != GroupIndex) return;
    switch (m.Msg) {
      case SKM_EDIT_COLOR:
        Painting.SetColor(3, TColor(m.LParam));
        break;
      case SKM_EDIT_COLORBORDERTOP:
        Painting.SetColor(0, TColor(m.LParam));
        break;
      case SKM_EDIT_COLORBORDERBOTTOM:
        Painting.SetColor(1, TColor(m.LParam));
        break;
      case SKM_EDIT_BEVEL:
        Painting.SetBevel(ClampBevel(m.LParam));
        break;
      case SKM_EDIT_SELECTIONCOLOR:
        Selection.Color = TColor(m.LParam);
        return;
      case SKM_EDIT_SELECTIONBORDERWIDTH:
        Selection.Border.Width = int(m.LParam);
        return;
      case SKM_EDIT_SELECTIONBORDERBEVEL:
        Selection.Border.Bevel = ClampBevel(m.LParam);
        return;
    }
    if (!SkinChanging) BGChanged = true;
    return;
  }
  if ((m.Msg == CM_COLORCHANGED || m.Msg == CM_PARENTCOLORCHANGED) && Painting.ParentColor() &&
      owner_ != nullptr && owner_->Parent() != nullptr) {
    // Only the stored colour: the Color setter also clears ParentColor, so going through it
    // would leave the edit no longer following its parent after the first change.
    Painting.FollowParentColor(owner_->Parent()->Color());
    if (!SkinChanging) BGChanged = true;
  }
  TsGenStyle::WndProc(m);
}

void TsEditorStyle::PaintShadow(Bitmap& target, Point offset) {
  if (owner_ == nullptr) return;
  const TsGeneralData* s = Section(SkinIndex);
  if (s != nullptr && !s->ShadowEnabled) return;
  const TsShadow& own = Effects.Shadow;
  const int shift = s != nullptr ? s->ShadowOffset : own.Offset();
  Rect bounds = owner_->BoundsRect();
  if (KindCode >= 31 && KindCode <= 33) {
    TsCheckedControlState check;
    check.Width = owner_->Width();
    check.Height = owner_->Height();
    check.SkinIndex = SkinIndex;
    check.SkinSection = SkinSection();
    check.KindCode = KindCode;
    Rect glyph;
    GetCheckGlyphRect(check, glyph);
    bounds = glyph.Offset(owner_->Left(), owner_->Top());
  }
  const std::optional<Rect> place =
      ShadowPlace(target, bounds, std::int64_t(shift) + offset.X, std::int64_t(shift) + offset.Y);
  if (!place) return;
  const Bitmap copy = target;
  DrawShadow(copy, *place, target, {place->Left, place->Top},
             s != nullptr ? s->ShadowTransparency : own.Transparency(),
             s != nullptr ? s->ShadowColor : own.Color(), s != nullptr ? s->ShadowBlur : own.Blur(),
             0, SoftControl() ? 3 : 0);
}

void TsEditorStyle::UpdateRegion() {
  if (KindCode == 7 || KindCode == 8 || IsValidImgIndex(BorderIndex)) return;
  if (owner_ == nullptr || IsValidImgIndex(GetMaskIndex(SkinIndex, SkinSection(), "BORDERSMASK")))
    return;
  const int w = owner_->Width(), h = owner_->Height();
  if (SoftControl() && RoundedKinds.Contains(KindCode))
    WindowRegion = Region({1, 0, w - 1, h}).Union(Region({0, 1, w, h - 1}));
  if (!SkinChanging) BGChanged = true;
  SetRegion(WindowRegion);
}

// Caption label -----------------------------------------------------------------------------

// The label is a child of the control's parent, which frees its children last first and
// so may free the label before the control: the label then tells its caption, which from
// then on neither reads nor frees it.
class TsStyleCaption::CaptionLabel : public TsLabel {
 public:
  CaptionLabel(TComponent* owner, TsStyleCaption* caption) : TsLabel(owner), caption_(caption) {}
  ~CaptionLabel() override {
    if (caption_->label_ == this) caption_->label_ = nullptr;
  }

 private:
  TsStyleCaption* caption_;
};

TsStyleCaption::~TsStyleCaption() {
  SetActive(false);
}

void TsStyleCaption::SetActive(bool value) {
  TControl* c = style_->Owner();
  if (value == Active() || c == nullptr) return;
  if (!value) {
    delete std::exchange(label_, nullptr);
    return;
  }
  label_ = new CaptionLabel(c, this);
  label_->SetParent(c->Parent());
  label_->SetControlStyle(csOpaque | csReplicatable);
  label_->SetLayout(TTextLayout::tlTop);
  if (auto* w = dynamic_cast<TWinControl*>(c)) label_->SetFocusControl(w);
  label_->SetAlignment(TAlignment::taRightJustify);
  label_->SetName(c->Name() + "Label");
  if (text_.empty()) text_ = c->Name();
  label_->SetCaption(text_);
  label_->SetVisible(c->Visible());
  UpdatePosition();
}

void TsStyleCaption::Update() {
  if (label_ == nullptr) return;
  label_->SetCaption(text_);
  UpdatePosition();
}

void TsStyleCaption::SetText(const std::string& value) {
  text_ = value;
  Update();
}

void TsStyleCaption::SetFont(const TFont& value) {
  font_.Assign(value);
  if (label_ != nullptr) label_->Font().Assign(value);
  Update();
}

void TsStyleCaption::SetMaxWidth(int value) {
  maxWidth_ = value;
  Update();
}

void TsStyleCaption::SetLayout(TsCaptionLayout value) {
  layout_ = value;
  Update();
}

void TsStyleCaption::UpdatePosition() {
  TControl* c = style_->Owner();
  if (label_ == nullptr || c == nullptr || label_->Parent() == nullptr) return;
  label_->SetAutoSize(true);
  label_->AdjustBounds();
  const int fh = GetFontHeight(label_->Font().Handle());
  const int lw = label_->Width();
  switch (layout_) {
    case sclLeft:
      label_->SetAlignment(TAlignment::taRightJustify);
      label_->SetLeft(c->Left() - lw - 4);
      label_->SetTop(c->Top() - (fh - (c->Height() - 6)) / 2 + 6);
      break;
    case sclTopLeft:
      label_->SetAlignment(TAlignment::taLeftJustify);
      label_->SetLeft(c->Left());
      label_->SetTop(c->Top() - fh + 5);
      break;
    case sclTopCenter:
      label_->SetAlignment(TAlignment::taCenter);
      label_->SetLeft(c->Left() + (c->Width() - lw) / 2);
      label_->SetTop(c->Top() - fh + 5);
      break;
    case sclTopRight:
      label_->SetAlignment(TAlignment::taRightJustify);
      label_->SetLeft(c->Left() + c->Width() - lw);
      label_->SetTop(c->Top() - fh + 5);
      break;
  }
  if (maxWidth_ != 0) {
    label_->SetAutoSize(false);
    label_->SetWidth(maxWidth_);
    label_->SetWordWrap(true);
  }
  label_->SetTransparent(true);
}

// TsCustomStyle -----------------------------------------------------------------------------

void TsCustomStyle::KeyNavigate(TComponent*, std::uint16_t& key, TShiftState shift) {
  if (shift & (ssShift | ssAlt | ssCtrl)) return;
  bool forward;
  if (ListHas(KeysNextControl, key))
    forward = true;
  else if (ListHas(KeysPrevControl, key))
    forward = false;
  else
    return;
  key = 0;
  auto* self = dynamic_cast<TWinControl*>(owner_);
  TCustomForm* form = owner_ != nullptr ? owner_->GetParentForm() : nullptr;
  if (self == nullptr || form == nullptr) return;
  std::vector<TWinControl*> list;
  form->GetTabOrderList(list);
  const auto at = std::find(list.begin(), list.end(), self);
  if (at == list.end()) return;
  const int n = int(list.size());
  const int start = int(at - list.begin());
  for (int i = (start + (forward ? 1 : n - 1)) % n; i != start;
       i = (i + (forward ? 1 : n - 1)) % n) {
    TWinControl* w = list[std::size_t(i)];
    if (w->CanFocus() && w->TabStop() && w->Enabled() && w->Visible()) {
      w->SetFocus();
      owner_->Invalidate();
      return;
    }
  }
}

void TsCustomStyle::WndProc(TMessage& m) {
  TsStyleCaption& cap = Caption;
  switch (m.Msg) {
    case WM_MOVE:
    case WM_SIZE:
      if (cap.Active()) cap.UpdatePosition();
      if (owner_ != nullptr) owner_->Repaint();
      break;
    case CM_VISIBLECHANGED:
      if (cap.Label() != nullptr && owner_ != nullptr) {
        cap.Label()->SetVisible(owner_->Visible());
        if (!SkinChanging) BGChanged = true;
      }
      break;
    case CM_ENABLEDCHANGED:
    case 0x001D:
      if (cap.Label() != nullptr && owner_ != nullptr) {
        cap.Label()->SetEnabled(owner_->Enabled());
        cap.Label()->Invalidate();
      }
      break;
    default:
      break;
  }
  TsEditorStyle::WndProc(m);
}

}  // namespace qv
