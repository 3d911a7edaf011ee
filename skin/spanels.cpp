#include "skin/spanels.h"

#include <cctype>

#include "platform/classlib/forms.h"
#include "platform/gfx/font.h"
#include "platform/ui/window_system.h"
#include "skin/sbordermasks.h"
#include "skin/scontrolutils.h"
#include "skin/spaintutils.h"
#include "skin/sskindata.h"
#include "skin/sutils.h"

namespace qv {

// ---- TsCustomLabel -----------------------------------------------------------------------

TsCustomLabel::TsCustomLabel(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 65, 17);
  SetControlStyle((ControlStyle() | csSetCaption | csOpaque) & ~(csFramed | csReplicatable));
}

void TsCustomLabel::SetFocusControl(TWinControl* value) {
  focusControl_ = value;
  if (value != nullptr) FreeNotification(value);
}

void TsCustomLabel::Notification(TComponent* component, TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (operation == opRemove && component == focusControl_) focusControl_ = nullptr;
}

void TsCustomLabel::SetAlignment(TAlignment value) {
  if (value == alignment_) return;
  alignment_ = value;
  Invalidate();
}
void TsCustomLabel::SetLayout(TTextLayout value) {
  if (value == layout_) return;
  layout_ = value;
  Invalidate();
}
void TsCustomLabel::SetShowAccelChar(bool value) {
  if (value == showAccelChar_) return;
  showAccelChar_ = value;
  Invalidate();
}
void TsCustomLabel::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Invalidate();
}
void TsCustomLabel::SetWordWrap(bool value) {
  wordWrap_ = value;
  AdjustBounds();
}
void TsCustomLabel::SetAutoSize(bool value) {
  autoSize_ = value;
  AdjustBounds();
}

unsigned TsCustomLabel::TextFlags() const {
  return (wordWrap_ ? DT_WORDBREAK : 0u) | DT_EXPANDTABS | AlignmentFlag(alignment_);
}

void TsCustomLabel::DoDrawText(DC& dc, Rect& r, unsigned flags) {
  std::string text = Caption();
  if ((flags & DT_CALCRECT) != 0 && (text.empty() || (showAccelChar_ && text == "&"))) text = " ";
  if (!showAccelChar_) flags |= DT_NOPREFIX;
  flags = DrawTextBiDiModeFlags(flags);
  Canvas().Font().Assign(Font());
  dc.SelectFont(Canvas().Font().Handle());
  dc.SetBkMode(TRANSPARENT);
  if (Enabled() || (flags & DT_CALCRECT) != 0) {
    dc.SetTextColor(Font().Color());
    dc.DrawText(text, r, flags);
    return;
  }
  Rect shifted = r.Offset(1, 1);
  dc.SetTextColor(clBtnHighlight);
  dc.DrawText(text, shifted, flags);
  dc.SetTextColor(clBtnShadow);
  dc.DrawText(text, r, flags);
}

void TsCustomLabel::AdjustBounds() {
  if (!autoSize_ || Parent() == nullptr || HasState(csLoading)) return;
  Bitmap screen(1, 1);
  DC dc(&screen);
  Rect r = ClientRect();
  DoDrawText(dc, r, DT_CALCRECT | DT_EXPANDTABS | (wordWrap_ ? DT_WORDBREAK : 0u));
  // Right to left a left-aligned label grows from its right edge and a right-aligned one
  // from its left edge. An aligned label is put back in its place by its parent.
  TAlignment alignment = alignment_;
  if (UseRightToLeftAlignment() && alignment != TAlignment::taCenter)
    alignment = alignment == TAlignment::taLeftJustify ? TAlignment::taRightJustify
                                                       : TAlignment::taLeftJustify;
  const int x = alignment == TAlignment::taRightJustify ? Left() + Width() - r.Width() : Left();
  SetBounds(x, Top(), r.Width(), r.Height());
}

void TsCustomLabel::Paint() {
  if (Parent() == nullptr || HasState(csDestroying) || HasState(csLoading)) return;
  DC& dc = *Canvas().Handle();
  TsBGInfo info;
  AskParentBGInfo(this, info);
  const Rect client = ClientRect();
  if (!transparent_ || !info.Ready || info.Bmp == nullptr) {
    Canvas().Brush().SetStyle(BrushStyle::bsSolid);
    Canvas().Brush().SetColor(Color());
    Canvas().FillRect(client);
  } else {
    dc.BitBlt(0, 0, client.Width(), client.Height(), *info.Bmp->Canvas().Handle(),
              Left() + info.OffsetX, Top() + info.OffsetY);
  }
  const unsigned flags = TextFlags();
  Rect r = client;
  if (layout_ != TTextLayout::tlTop) {
    Rect calc = r;
    DoDrawText(dc, calc, flags | DT_CALCRECT);
    const int dy = layout_ == TTextLayout::tlCenter ? (client.Height() - calc.Height()) / 2
                                                    : client.Height() - calc.Height();
    r = r.Offset(0, dy);
  }
  DoDrawText(dc, r, flags);
}

bool TsCustomLabel::TakeFocus() {
  if (focusControl_ == nullptr || !Enabled() || !focusControl_->CanFocus()) return false;
  focusControl_->SetFocus();
  return true;
}

void TsCustomLabel::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_TEXTCHANGED:
      Invalidate();
      AdjustBounds();
      return;
    case CM_FONTCHANGED:
      TCustomControl::WndProc(m);
      AdjustBounds();
      return;
    case CM_ENABLEDCHANGED:
      TCustomControl::WndProc(m);
      if (Parent() != nullptr) Repaint();
      return;
    case CM_DIALOGCHAR:
      if (Parent() != nullptr && showAccelChar_ && Accelerator(Caption()) != 0 &&
          char(std::toupper(int(m.WParam & 0xFF))) == Accelerator(Caption()) && TakeFocus())
        m.Result = 1;
      return;
    case WM_LBUTTONDOWN:
      if (Parent() != nullptr) (void)TakeFocus();
      break;
    case WM_ERASEBKGND:
      m.Result = 1;
      return;
    case CM_MOUSEENTER:
    case CM_MOUSELEAVE:
      if (m.LParam == reinterpret_cast<LPARAM>(this)) {
        mouseInControl_ = m.Msg == CM_MOUSEENTER;
        if (Parent() != nullptr) Invalidate();
      }
      break;
    default:
      break;
  }
  TCustomControl::WndProc(m);
}

// ---- panels ------------------------------------------------------------------------------

TsTransparentPanel::TsTransparentPanel(TComponent* owner) : TCustomPanel(owner) {
  SetControlStyle(ControlStyle() | csOpaque);
  SetBevelWidth(2);
}

TsCustomPanel::TsCustomPanel(TComponent* owner)
    : TsTransparentPanel(owner), style_(std::make_unique<TsPassiveBGStyle>(this)) {
  style_->KindCode = kKindCustomPanel;
}

TsCustomPanel::~TsCustomPanel() {
  Destroying();
  style_.reset();
}

void TsCustomPanel::SetParent(TWinControl* parent) {
  TsTransparentPanel::SetParent(parent);
  if (parent != nullptr && style_->SkinSection().empty()) style_->UpdateIndexes();
}

void TsCustomPanel::Loaded() {
  TsTransparentPanel::Loaded();
  style_->UpdateIndexes();
}

void TsCustomPanel::SetBevelOuter(TsControlBevel value) {
  if (value == bevelOuter_) return;
  bevelOuter_ = value;
  // The style's painting bevel follows; it repaints.
  style_->Painting.SetBevel(value);
}

void TsCustomPanel::SetBevelInner(TsControlBevel value) {
  if (value == bevelInner_) return;
  bevelInner_ = value;
  style_->Invalidate();
}

int TsCustomPanel::BorderSize() const {
  return BorderWidth() + (style_->GetBevel() != cbNone ? BevelWidth() : 0) +
         (bevelInner_ != cbNone ? BevelWidth() : 0);
}

void TsCustomPanel::PaintCaption(TBitmap& bmp, Rect r) {
  if (Caption().empty()) return;
  TCanvas& c = bmp.Canvas();
  c.Font().Assign(Font());
  c.Brush().SetStyle(BrushStyle::bsClear);
  const int h = c.TextHeight("W");
  Rect text{r.Left, (r.Top + r.Bottom - h) / 2, r.Right, (r.Top + r.Bottom - h) / 2 + h};
  WriteTextEx(c, Caption(), Enabled(), text,
              DrawTextBiDiModeFlags(AlignmentFlag(Alignment()) | DT_VCENTER | DT_SINGLELINE));
}

void TsCustomPanel::RenderCache() {
  TsPassiveBGStyle& s = *style_;
  if (s.Painting.Bevel() != bevelOuter_) s.Painting.SetBevel(bevelOuter_);
  s.UpdateBGBitmap();
  TBitmap& bmp = s.BGBitmap;
  if (bmp.Empty()) return;
  const int border = BorderSize();
  const Rect content = ClientRect().Inflate(-border, -border);
  if (OnPaint) OnPaint(bmp.Canvas());
  if (IsValidSkinIndex(s.SkinIndex)) {
    const bool region = s.RegionChanged;
    Region shape(Rect{0, 0, Width(), Height()});
    TsBGInfo parent;
    s.GetParentBGInfo(parent);
    PaintItemBG(s.SkinIndex, s.SkinSection(), parent, bmp.Image(), {Left(), Top()},
                {0, 0, Width(), Height()}, 0);
    PaintCaption(bmp, content);
    if (IsValidImgIndex(s.BorderIndex)) {
      const TsMaskData& mask = SkinMasks[std::size_t(s.BorderIndex)];
      PaintMaskedBorder(bmp.Image(), &mask.Bmp->Image(), shape, false, mask.TransparentColor, 0);
    }
    if (region) {
      s.RegionChanged = false;
      s.WindowRegion = shape;
      if (HandleAllocated()) SetWindowRgn(Handle(), shape, true);
    }
  } else {
    s.PaintBG(bmp);
    s.UpdateRegion();
    Rect r{0, 0, Width(), Height()};
    if (bevelOuter_ != cbNone)
      PaintBevel(bmp.Image(), r, BevelWidth(), bevelOuter_, s.SoftControl());
    const int inset = BevelWidth() + BorderWidth();
    if (bevelInner_ != cbNone)
      PaintBevel(bmp.Image(), r.Inflate(-inset, -inset), BevelWidth(), bevelInner_,
                 s.SoftControl());
    PaintCaption(bmp, content);
  }
  s.BGChanged = false;
  // Labels and styled children show this picture through: they draw again over the new one.
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* child = Controls(i);
    if (TsGenStyle* style = GenStyleOf(child); style != nullptr && !SkinChanging)
      style->BGChanged = true;
    if (dynamic_cast<TsLabel*>(child) != nullptr || IsStyledControl(child)) child->Invalidate();
  }
}

void TsCustomPanel::Paint() {
  if (!ControlIsReady(this)) {
    TsTransparentPanel::Paint();
    return;
  }
  if (style_->BGChanged) RenderCache();
  TBitmap& bmp = style_->BGBitmap;
  if (!bmp.Empty()) PaintContent(bmp.Canvas());
  Canvas().Handle()->BitBlt(0, 0, ClientWidth(), ClientHeight(), *bmp.Canvas().Handle(), 0, 0);
}

void TsCustomPanel::PaintContent(TCanvas&) {}

void TsCustomPanel::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_ERASEBKGND:
      m.Result = 1;
      return;
    case WM_SETTEXT:
    case CM_TEXTCHANGED:
      if (!SkinChanging) style_->BGChanged = true;
      break;
    case SKM_GETBGINFO:
      // Children ask before the panel painted: the picture they copy is made first.
      if (style_->BGChanged && ControlIsReady(this) && m.WParam == WPARAM(style_->GroupIndex))
        RenderCache();
      break;
    default:
      break;
  }
  style_->WndProc(m);
  if (m.Result == 1) return;
  TsTransparentPanel::WndProc(m);
}

TsPanel::TsPanel(TComponent* owner) : TsCustomPanel(owner) {
  sStyle()->KindCode = kKindPanel;
}

TsGrip::TsGrip(TComponent* owner) : TsCustomPanel(owner) {
  SetCaption(" ");
  sStyle()->SetSkinSection("TSGRIP");
  SetAlign(TAlign::alNone);
  SetBounds(Left(), Top(), 20, 20);
}

void TsGrip::Paint() {
  sStyle()->BGChanged = true;
  TsCustomPanel::Paint();
}

void TsGrip::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft && Form != nullptr) {
    ReleaseCapture();
    Form->Perform(WM_SYSCOMMAND, 0xF010, 0);
    return;
  }
  TsCustomPanel::MouseDown(button, shift, x, y);
}

}  // namespace qv
