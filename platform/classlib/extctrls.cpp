#include "platform/classlib/extctrls.h"

namespace qv {

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 185, 41);
  SetColor(clBtnFace);
  SetControlStyle((ControlStyle() | csAcceptsControls | csOpaque) & ~csClickEvents);
}

void TPanel::LookChanged() {
  Invalidate();
  Realign();
}

void TPanel::SetBevelOuter(TBevelCut value) {
  if (value == bevelOuter_) return;
  bevelOuter_ = value;
  LookChanged();
}

void TPanel::SetBevelInner(TBevelCut value) {
  if (value == bevelInner_) return;
  bevelInner_ = value;
  LookChanged();
}

void TPanel::SetBevelWidth(int value) {
  if (value == bevelWidth_ || value < 1) return;
  bevelWidth_ = value;
  LookChanged();
}

void TPanel::SetBorderWidth(int value) {
  if (value == borderWidth_ || value < 0) return;
  borderWidth_ = value;
  LookChanged();
}

void TPanel::SetBorderStyle(TBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  LookChanged();
}

void TPanel::SetAlignment(TAlignment value) {
  if (value == alignment_) return;
  alignment_ = value;
  Invalidate();
}

void TPanel::AdjustClientRect(Rect& r) const {
  int inset = borderWidth_;
  if (borderStyle_ == TBorderStyle::bsSingle) inset += 1;
  if (bevelOuter_ != TBevelCut::bvNone) inset += bevelWidth_;
  if (bevelInner_ != TBevelCut::bvNone) inset += bevelWidth_;
  r = r.Inflate(-inset, -inset);
}

void TPanel::Paint() {
  TCanvas& c = Canvas();
  DC* dc = c.Handle();
  Rect r = ClientRect();
  if (borderStyle_ == TBorderStyle::bsSingle) Frame3D(c, r, clWindowFrame, clWindowFrame, 1);
  auto bevel = [&](TBevelCut cut) {
    if (cut == TBevelCut::bvNone) return;
    const bool raised = cut == TBevelCut::bvRaised;
    Frame3D(c, r, raised ? clBtnHighlight : clBtnShadow, raised ? clBtnShadow : clBtnHighlight,
            bevelWidth_);
  };
  bevel(bevelOuter_);
  r = r.Inflate(-borderWidth_, -borderWidth_);
  bevel(bevelInner_);
  dc->FillRect(r, Brush{BrushStyle::bsSolid, Color()});
  if (Caption().empty()) return;
  unsigned flags = DT_VCENTER | DT_SINGLELINE | DT_EXPANDTABS;
  if (alignment_ == TAlignment::taCenter) flags |= DT_CENTER;
  if (alignment_ == TAlignment::taRightJustify) flags |= DT_RIGHT;
  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(Enabled() ? Font().Color() : clGrayText);
  dc->DrawText(Caption(), r, flags);
}

}  // namespace qv
