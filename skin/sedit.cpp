#include "skin/sedit.h"

#include "platform/ui/window_system.h"
#include "skin/sskindata.h"

namespace qv {

// TsEdit ------------------------------------------------------------------------------------

TsEdit::TsEdit(TComponent* owner) : TCustomEdit(owner), style_(std::make_unique<TsStyle>(this)) {
  style_->KindCode = 3;
  SetBorderStyle(TBorderStyle::bsNone);
  SetParentFont(true);
  SetHeight(21);
  OnKeyDown = [this](TComponent* sender, std::uint16_t& key, TShiftState shift) {
    style_->KeyNavigate(sender, key, shift);
  };
}

TsEdit::~TsEdit() {
  OnKeyDown = nullptr;
  style_.reset();
}

void TsEdit::SetParent(TWinControl* parent) {
  TCustomEdit::SetParent(parent);
  if (parent != nullptr && style_->SkinSection().empty()) style_->UpdateIndexes();
}

void TsEdit::Loaded() {
  TCustomEdit::Loaded();
  style_->UpdateIndexes();
}

void TsEdit::Invalidate() {
  if (style_ == nullptr) return TCustomEdit::Invalidate();
  SetColor(style_->GetColor());
  if (HandleAllocated()) style_->PaintBorder();
  TCustomEdit::Invalidate();
}

void TsEdit::WndProc(TMessage& m) {
  if (style_ == nullptr) return TCustomEdit::WndProc(m);
  style_->WndProc(m);
  if (m.Result == 1) return;
  switch (m.Msg) {
    case WM_NCCALCSIZE: {
      TCustomEdit::WndProc(m);
      auto* p = reinterpret_cast<NCCALCSIZE_PARAMS*>(m.LParam);
      if (p != nullptr) {
        Rect& r = p->rgrc[0];
        r = {r.Left + 3, r.Top + 3, r.Right - 3, r.Bottom - 3};
      }
      return;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
      // A masked border has a pressed frame, shown while the button is held.
      TCustomEdit::WndProc(m);
      if (HandleAllocated() && IsValidImgIndex(style_->BorderIndex)) style_->PaintBorder();
      return;
    case WM_NCPAINT:
      if (HasState(csLoading) || HasState(csDestroying)) break;
      SetColor(style_->GetColor());
      TCustomEdit::WndProc(m);
      style_->PaintBorder();
      return;
    default:
      break;
  }
  TCustomEdit::WndProc(m);
}

}  // namespace qv
