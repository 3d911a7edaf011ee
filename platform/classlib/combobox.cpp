#include "platform/classlib/stdctrls.h"

#include <algorithm>

#include "platform/classlib/stdctrls_draw.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"

namespace qv {

using namespace draw;

// ---- TComboBox ------------------------------------------------------------------------

// The dropped-down list: a popup window below the combo box that holds the mouse until a
// choice or a click elsewhere closes it.
class TComboDropDown final : public TCustomControl {
 public:
  TComboDropDown(TComponent* owner, TComboBox* combo)
      : TCustomControl(owner), combo_(combo), hot_(combo->ItemIndex()) {
    SetColor(clWindow);
  }

  void MoveHot(int delta) {
    const int n = combo_->Items().Count();
    if (n == 0) return;
    hot_ = std::clamp(hot_ < 0 ? 0 : hot_ + delta, 0, n - 1);
    if (hot_ < top_) top_ = hot_;
    if (hot_ >= top_ + Rows()) top_ = hot_ - Rows() + 1;
    Invalidate();
  }
  [[nodiscard]] int Hot() const { return hot_; }

 protected:
  void CreateParamsFor(CreateParams& p) override {
    p.TopLevel = true;
    p.Style = WS_POPUP | WS_BORDER;
  }
  [[nodiscard]] int RowHeight() const {
    DC measure(nullptr);
    measure.SelectFont(combo_->Font().Handle());
    return std::max(measure.GetTextMetrics().tmHeight, 1);
  }
  [[nodiscard]] int Rows() const { return std::max((Height() - 2) / RowHeight(), 1); }
  [[nodiscard]] int ItemAt(Point p) const {
    if (!ClientRect().Contains(p)) return -1;
    const int i = top_ + (p.Y - 1) / RowHeight();
    return i >= 0 && i < combo_->Items().Count() ? i : -1;
  }
  void WndProc(TMessage& m) override {
    if (m.Msg == WM_LBUTTONUP || m.Msg == WM_LBUTTONDOWN || m.Msg == WM_MOUSEMOVE) {
      const Point p{static_cast<std::int16_t>(LOWORD(std::uintptr_t(m.LParam))),
                    static_cast<std::int16_t>(HIWORD(std::uintptr_t(m.LParam)))};
      const int i = ItemAt(p);
      if (m.Msg == WM_MOUSEMOVE) {
        if (i >= 0 && i != hot_) {
          hot_ = i;
          Invalidate();
        }
        return;
      }
      if (m.Msg == WM_LBUTTONDOWN && i < 0) {
        // A click elsewhere. The list closes once this message is done with it.
        PostMessage(combo_->Handle(), CM_CLOSEUP, 0, 0);
        return;
      }
      if (m.Msg == WM_LBUTTONUP && i >= 0) {
        hot_ = i;
        PostMessage(combo_->Handle(), CM_CLOSEUP, 1, 0);
      }
      return;
    }
    TCustomControl::WndProc(m);
  }
  void Paint() override {
    TCanvas& c = Canvas();
    DC* dc = c.Handle();
    Rect r = ClientRect();
    dc->FrameRect(r, Solid(clWindowFrame));
    r = r.Inflate(-1, -1);
    dc->FillRect(r, Solid(clWindow));
    dc->SelectFont(combo_->Font().Handle());
    dc->SetBkMode(TRANSPARENT);
    const int h = RowHeight();
    for (int i = top_, y = r.Top; i < combo_->Items().Count() && y < r.Bottom; ++i, y += h) {
      const bool hot = i == hot_;
      if (hot) dc->FillRect({r.Left, y, r.Right, y + h}, Solid(clHighlight));
      dc->SetTextColor(hot ? clHighlightText : combo_->Font().Color());
      dc->TextOut(r.Left + 2, y, combo_->Items()[i]);
    }
  }

 private:
  TComboBox* combo_;
  int hot_;
  int top_ = 0;
};

TComboBox::TComboBox(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 145, 21);
  SetTabStop(true);
  SetColor(clWindow);
  items_.OnChange = [this] {
    if (itemIndex_ >= items_.Count()) {
      itemIndex_ = -1;
      TControl::SetText("");
    }
  };
}

TComboBox::~TComboBox() {
  if (dropDown_ != nullptr) {
    TComboDropDown* d = dropDown_;
    dropDown_ = nullptr;
    Free(d);
  }
}

void TComboBox::SetItemIndex(int index) {
  if (index < -1 || index >= items_.Count()) index = -1;
  itemIndex_ = index;
  TControl::SetText(index >= 0 ? items_[index] : std::string());
  Invalidate();
}

void TComboBox::Change() {
  if (OnChange) OnChange(this);
}

void TComboBox::Choose(int index) {
  if (items_.Count() == 0) return;
  index = std::clamp(index, 0, items_.Count() - 1);
  if (index == itemIndex_) return;
  SetItemIndex(index);
  Change();
}

LRESULT TComboBox::DialogCode() const {
  // While the list is down, Enter and Escape close it instead of reaching the form.
  return DLGC_WANTARROWS | DLGC_WANTCHARS |
         (dropDown_ != nullptr ? LRESULT(DLGC_WANTALLKEYS) : LRESULT(0));
}

void TComboBox::SetDroppedDown(bool value) {
  if (value == DroppedDown()) return;
  if (!value) {
    CloseUp(false);
    return;
  }
  if (!Showing() || !Enabled()) return;
  auto* d = Create<TComboDropDown>(this, this);
  const int rows = std::clamp(items_.Count(), 1, std::max(dropDownCount_, 1));
  DC measure(nullptr);
  measure.SelectFont(Font().Handle());
  const int h = rows * std::max(measure.GetTextMetrics().tmHeight, 1) + 2;
  const Point p = ClientToScreen({0, Height()});
  d->SetBounds(p.X, p.Y, Width(), h);
  dropDown_ = d;
  ShowWindow(d->Handle(), SW_SHOWNA);
  SetCapture(d->Handle());
  Invalidate();
}

void TComboBox::CloseUp(bool accept) {
  TComboDropDown* d = dropDown_;
  if (d == nullptr) return;
  const int chosen = d->Hot();
  dropDown_ = nullptr;
  if (GetCapture() == d->Handle()) ReleaseCapture();
  Free(d);
  Invalidate();
  if (accept && chosen >= 0) Choose(chosen);
}

void TComboBox::KeyDown(std::uint16_t& key, TShiftState shift) {
  if (dropDown_ != nullptr) {
    switch (key) {
      case VK_UP:
        dropDown_->MoveHot(-1);
        break;
      case VK_DOWN:
        dropDown_->MoveHot(1);
        break;
      case VK_RETURN:
        CloseUp(true);
        break;
      case VK_ESCAPE:
      case VK_F4:
        CloseUp(false);
        break;
      default:
        return;
    }
    key = 0;
    return;
  }
  switch (key) {
    case VK_F4:
      SetDroppedDown(true);
      break;
    case VK_DOWN:
      if (shift & ssAlt)
        SetDroppedDown(true);
      else
        Choose(itemIndex_ + 1);
      break;
    case VK_UP:
      Choose(itemIndex_ < 0 ? 0 : itemIndex_ - 1);
      break;
    case VK_HOME:
      Choose(0);
      break;
    case VK_END:
      Choose(items_.Count() - 1);
      break;
    default:
      return;
  }
  key = 0;
}

void TComboBox::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) SetDroppedDown(!DroppedDown());
  TCustomControl::MouseDown(button, shift, x, y);
}

void TComboBox::WndProc(TMessage& m) {
  if (m.Msg == CM_CLOSEUP) {
    CloseUp(m.WParam != 0);
    return;
  }
  if (m.Msg == WM_KILLFOCUS) CloseUp(false);
  TCustomControl::WndProc(m);
}

void TComboBox::Paint() {
  TCanvas& c = Canvas();
  DC* dc = c.Handle();
  Rect r = ClientRect();
  SunkenBorder(c, r);
  const int buttonW = std::min(17, r.Width());
  Rect button{r.Right - buttonW, r.Top, r.Right, r.Bottom};
  Rect field{r.Left, r.Top, button.Left, r.Bottom};
  dc->FillRect(field, Solid(Enabled() ? Color() : clBtnFace));
  Rect b = button;
  if (dropDown_ != nullptr) {
    Frame3D(c, b, clBtnShadow, clBtnShadow, 1);
  } else {
    RaisedBorder(c, b);
  }
  dc->FillRect(b, Solid(clBtnFace));
  DownArrow(dc, b, Enabled() ? clBtnText : clGrayText);
  const int textH = dc->GetTextMetrics().tmHeight;
  const int y = field.Top + (field.Height() - textH) / 2;
  Rect textRect{field.Left + 1, y, field.Right - 1, y + textH};
  dc->SetBkMode(TRANSPARENT);
  if (Focused() && dropDown_ == nullptr) {
    dc->FillRect(textRect, Solid(clHighlight));
    dc->SetTextColor(clHighlightText);
  } else {
    dc->SetTextColor(Enabled() ? Font().Color() : clGrayText);
  }
  const int save = dc->SaveDC();
  dc->IntersectClipRect(field.Left, field.Top, field.Right, field.Bottom);
  dc->TextOut(textRect.Left + 1, y, Text());
  dc->RestoreDC(save);
}

}  // namespace qv
