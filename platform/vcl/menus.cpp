#include "platform/vcl/menus.h"

#include <algorithm>

#include "platform/ui/window_system.h"
#include "platform/vcl/forms.h"

namespace qv {

namespace {

int nextCommand = 1;

Brush Solid(TColor c) {
  return Brush{BrushStyle::bsSolid, c};
}

constexpr int kSeparatorHeight = 8;

// The shown popup: rows of the visible items, a highlighted one, and the outcome.
class TPopupWindow final : public TCustomControl {
 public:
  TPopupWindow(TComponent* owner, TMenu* menu) : TCustomControl(owner), menu_(menu) {
    SetColor(clMenu);
    for (int i = 0; i < menu->Items()->Count(); ++i)
      if (menu->Items()->Items(i)->Visible()) items_.push_back(menu->Items()->Items(i));
  }

  // Measures the rows (asking owner-drawn items) and returns the window's size.
  Size Layout() {
    DC measure(nullptr);
    measure.SelectFont(Font().Handle());
    TCanvas canvas;
    canvas.SetHandle(&measure);
    canvas.Font().Assign(Font());
    int width = 0;
    int y = 2;
    rows_.clear();
    for (TMenuItem* item : items_) {
      int w = measure.TextWidth(item->Caption()) + 40;
      int h = item->IsLine() ? kSeparatorHeight : measure.GetTextMetrics().tmHeight + 6;
      if (item->OnMeasureItem) item->OnMeasureItem(item, canvas, w, h);
      rows_.push_back({2, y, 0, y + h});
      y += h;
      width = std::max(width, w);
    }
    for (Rect& r : rows_) r.Right = 2 + width;
    return {width + 4, y + 2};
  }

  void MoveHot(int step) {
    const int n = int(items_.size());
    for (int k = 1; k <= n; ++k) {
      const int i = ((hot_ < 0 ? (step > 0 ? -1 : n) : hot_) + step * k % n + n) % n;
      if (!items_[std::size_t(i)]->IsLine() && items_[std::size_t(i)]->Enabled()) {
        hot_ = i;
        break;
      }
    }
    Invalidate();
  }

  bool done = false;
  TMenuItem* chosen = nullptr;

 protected:
  void CreateParamsFor(CreateParams& p) override {
    p.TopLevel = true;
    p.Style = WS_POPUP;
  }

  int RowAt(Point p) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].Contains(p)) return int(i);
    return -1;
  }

  void Choose(int row) {
    if (row < 0) return;
    TMenuItem* item = items_[std::size_t(row)];
    if (item->IsLine() || !item->Enabled()) return;
    chosen = item;
    done = true;
  }

  void WndProc(TMessage& m) override {
    switch (m.Msg) {
      case WM_MOUSEMOVE: {
        const int row = RowAt({static_cast<std::int16_t>(LOWORD(std::uintptr_t(m.LParam))),
                               static_cast<std::int16_t>(HIWORD(std::uintptr_t(m.LParam)))});
        if (row != hot_ && row >= 0) {
          hot_ = row;
          Invalidate();
        }
        return;
      }
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN: {
        const Point p{static_cast<std::int16_t>(LOWORD(std::uintptr_t(m.LParam))),
                      static_cast<std::int16_t>(HIWORD(std::uintptr_t(m.LParam)))};
        if (!ClientRect().Contains(p)) done = true;  // a click elsewhere dismisses it
        return;
      }
      case WM_LBUTTONUP:
      case WM_RBUTTONUP:
        Choose(RowAt({static_cast<std::int16_t>(LOWORD(std::uintptr_t(m.LParam))),
                      static_cast<std::int16_t>(HIWORD(std::uintptr_t(m.LParam)))}));
        return;
      case WM_KEYDOWN:
        switch (m.WParam) {
          case VK_UP:
            MoveHot(-1);
            break;
          case VK_DOWN:
            MoveHot(1);
            break;
          case VK_RETURN:
            Choose(hot_);
            break;
          case VK_ESCAPE:
            done = true;
            break;
          default:
            break;
        }
        return;
      case WM_CHAR:
        return;
      case WM_KILLFOCUS:
        done = true;
        return;
      default:
        TCustomControl::WndProc(m);
    }
  }

  void Paint() override {
    TCanvas& c = Canvas();
    DC* dc = c.Handle();
    Rect frame = ClientRect();
    Frame3D(c, frame, cl3DLight, cl3DDkShadow, 1);
    Frame3D(c, frame, clBtnHighlight, clBtnShadow, 1);
    dc->FillRect(frame, Solid(clMenu));
    for (std::size_t i = 0; i < items_.size(); ++i) {
      TMenuItem* item = items_[i];
      const Rect& r = rows_[i];
      TOwnerDrawState state = 0;
      if (int(i) == hot_) state |= odSelected;
      if (!item->Enabled()) state |= odDisabled | odGrayed;
      if (item->Checked()) state |= odChecked;
      if (item->Default()) state |= odDefault;
      if (item->OnAdvancedDrawItem) {
        const int save = dc->SaveDC();
        dc->IntersectClipRect(r.Left, r.Top, r.Right, r.Bottom);
        item->OnAdvancedDrawItem(item, c, r, state);
        dc->RestoreDC(save);
        // The canvas objects may have been changed by the handler; start afresh next row.
        c.SetHandle(dc);
        continue;
      }
      if (item->IsLine()) {
        const int y = (r.Top + r.Bottom) / 2 - 1;
        dc->FillRect({r.Left + 1, y, r.Right - 1, y + 1}, Solid(clBtnShadow));
        dc->FillRect({r.Left + 1, y + 1, r.Right - 1, y + 2}, Solid(clBtnHighlight));
        continue;
      }
      const bool hot = (state & odSelected) && item->Enabled();
      if (hot) dc->FillRect(r, Solid(clHighlight));
      dc->SetBkMode(TRANSPARENT);
      dc->SetTextColor(!item->Enabled() ? clGrayText : hot ? clHighlightText : clMenuText);
      qv::Font f = Font().Handle();
      if (item->Default()) f.Style |= fsBold;
      dc->SelectFont(f);
      Rect text{r.Left + 20, r.Top, r.Right - 4, r.Bottom};
      dc->DrawText(item->Caption(), text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
      if (item->Checked()) {
        const int cx = r.Left + 9;
        const int cy = (r.Top + r.Bottom) / 2;
        dc->FillRect({cx - 2, cy - 2, cx + 3, cy + 3}, Solid(dc->GetTextColor()));
      }
    }
  }

 private:
  TMenu* menu_;
  std::vector<TMenuItem*> items_;  // the visible items, owned by the menu's owner
  std::vector<Rect> rows_;
  int hot_ = -1;
};

}  // namespace

std::string ShortCutToText(std::uint16_t shortCut) {
  std::string s;
  if (shortCut & scShift) s += "Shift+";
  if (shortCut & scCtrl) s += "Ctrl+";
  if (shortCut & scAlt) s += "Alt+";
  const unsigned vk = shortCut & 0xFF;
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) {
    s += char(vk);
  } else if (vk >= VK_F1 && vk <= VK_F24) {
    s += "F" + std::to_string(vk - VK_F1 + 1);
  } else {
    switch (vk) {
      case VK_RETURN:
        s += "Enter";
        break;
      case VK_ESCAPE:
        s += "Esc";
        break;
      case VK_SPACE:
        s += "Space";
        break;
      case VK_DELETE:
        s += "Del";
        break;
      case VK_INSERT:
        s += "Ins";
        break;
      case VK_BACK:
        s += "BkSp";
        break;
      case VK_TAB:
        s += "Tab";
        break;
      default:
        return {};
    }
  }
  return s;
}

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner), command_(nextCommand++) {}

TMenuItem::~TMenuItem() {
  if (parent_ != nullptr) parent_->Remove(this);
  for (TMenuItem* child : items_) child->parent_ = nullptr;
}

int TMenuItem::MenuIndex() const {
  if (parent_ == nullptr) return -1;
  const auto& list = parent_->items_;
  return int(std::find(list.begin(), list.end(), this) - list.begin());
}

void TMenuItem::Add(TMenuItem* item) {
  Insert(Count(), item);
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (item == nullptr) return;
  if (item->parent_ != nullptr) throw Exception("Menu inserted twice");
  index = std::clamp(index, 0, Count());
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  const auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
}

void TMenuItem::Delete(int index) {
  TMenuItem* item = items_.at(std::size_t(index));
  Remove(item);
  Free(item);
}

void TMenuItem::Click() {
  if (enabled_ && OnClick) OnClick(this);
}

TMenu::TMenu(TComponent* owner) : TComponent(owner), items_(Create<TMenuItem>(this)) {}

void TPopupMenu::Popup(int x, int y) {
  if (window_ != 0) return;
  if (OnPopup) OnPopup(this);
  auto* popup = Create<TPopupWindow>(this, this);
  const Size size = popup->Layout();
  // Kept on the screen.
  const int sx = std::clamp(x, 0, std::max(Screen()->Width() - size.cx, 0));
  const int sy = std::clamp(y, 0, std::max(Screen()->Height() - size.cy, 0));
  popup->SetBounds(sx, sy, size.cx, size.cy);
  const HWND previousFocus = GetFocus();
  window_ = popup->Handle();
  ShowWindow(window_, SW_SHOW);
  SetCapture(window_);
  ::qv::SetFocus(window_);
  while (!popup->done) {
    if (!Application()->HandleMessage()) break;
  }
  TMenuItem* chosen = popup->chosen;
  if (GetCapture() == window_) ReleaseCapture();
  window_ = 0;
  Free(popup);
  if (previousFocus != 0 && IsWindow(previousFocus)) ::qv::SetFocus(previousFocus);
  if (chosen != nullptr) chosen->Click();
}

}  // namespace qv
