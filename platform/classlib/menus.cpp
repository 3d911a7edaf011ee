#include "platform/classlib/menus.h"

#include <algorithm>
#include <limits>

#include "platform/classlib/commctrl.h"
#include "platform/classlib/forms.h"
#include "platform/ui/window_system.h"

namespace qv {

namespace {

int nextCommand = 1;

Brush Solid(TColor c) {
  return Brush{BrushStyle::bsSolid, c};
}

constexpr int kSeparatorHeight = 8;

Point MsgPoint(LPARAM l) {
  return {static_cast<std::int16_t>(LOWORD(std::uintptr_t(l))),
          static_cast<std::int16_t>(HIWORD(std::uintptr_t(l)))};
}

// One shown level of a popup menu: rows of an item's visible children, a highlighted one,
// and a cascaded level for a highlighted item that has children. The first level holds the
// mouse and the keys and hands them to the deepest level they concern; the outcome is kept
// on the first level.
class TPopupWindow final : public TCustomControl {
 public:
  TPopupWindow(TComponent* owner, TMenu* menu, TMenuItem* source, TPopupWindow* root,
               TPopupTrackHooks* hooks = nullptr)
      : TCustomControl(owner), menu_(menu), root_(root ? root : this), hooks_(hooks) {
    SetColor(clMenu);
    for (int i = 0; i < source->Count(); ++i)
      if (source->Items(i)->Visible()) items_.push_back(source->Items(i));
  }
  ~TPopupWindow() override {
    CloseChild();
    if (parent_ != nullptr && parent_->child_ == this) parent_->child_ = nullptr;
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
      if (item->ShortCut() != 0) w += measure.TextWidth(ShortCutToText(item->ShortCut())) + 16;
      int h = item->IsLine() ? kSeparatorHeight : measure.GetTextMetrics().tmHeight + 6;
      if (item->OnMeasureItem) item->OnMeasureItem(item, canvas, w, h);
      rows_.push_back({2, y, 0, y + h});
      y += h;
      width = std::max(width, w);
    }
    for (Rect& r : rows_) r.Right = 2 + width;
    return {width + 4, y + 2};
  }

  // Places the level with its top-left at a screen point, kept on the screen, and shows it.
  void ShowAt(int x, int y) {
    const Size size = Layout();
    x = std::clamp(x, 0, std::max(Screen()->Width() - size.cx, 0));
    y = std::clamp(y, 0, std::max(Screen()->Height() - size.cy, 0));
    SetBounds(x, y, size.cx, size.cy);
    ShowWindow(Handle(), SW_SHOWNA);
  }

  bool done = false;
  TMenuItem* chosen = nullptr;

  void MoveHot(int step) {
    const int n = int(items_.size());
    for (int k = 1; k <= n; ++k) {
      const int i = ((hot_ < 0 ? (step > 0 ? -1 : n) : hot_) + step * k % n + n) % n;
      if (Selectable(i)) {
        SetHot(i);
        break;
      }
    }
  }

 protected:
  void CreateParamsFor(CreateParams& p) override {
    p.TopLevel = true;
    p.Style = WS_POPUP;
  }

  [[nodiscard]] TPopupWindow* Deepest() {
    TPopupWindow* p = this;
    while (p->child_ != nullptr) p = p->child_;
    return p;
  }
  [[nodiscard]] bool Selectable(int row) const {
    if (row < 0 || row >= int(items_.size())) return false;
    const TMenuItem* item = items_[std::size_t(row)];
    return !item->IsLine() && item->Enabled();
  }
  [[nodiscard]] int RowAt(Point p) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].Contains(p)) return int(i);
    return -1;
  }

  void SetHot(int row) {
    if (row == hot_) return;
    hot_ = row;
    Invalidate();
  }
  void CloseChild() {
    if (child_ == nullptr) return;
    TPopupWindow* c = child_;
    child_ = nullptr;
    Free(c);
  }
  // Shows the children of the hot item beside its row.
  void OpenChild() {
    if (!Selectable(hot_) || items_[std::size_t(hot_)]->Count() == 0) return;
    TMenuItem* item = items_[std::size_t(hot_)];
    if (child_ != nullptr && child_->source_ == item) return;
    CloseChild();
    child_ = Create<TPopupWindow>(menu_, menu_, item, root_);
    child_->source_ = item;
    child_->parent_ = this;
    const Point at = ClientToScreen({rows_[std::size_t(hot_)].Right, rows_[std::size_t(hot_)].Top});
    child_->ShowAt(at.X, at.Y - 2);
  }
  void Choose(int row) {
    if (!Selectable(row)) return;
    TMenuItem* item = items_[std::size_t(row)];
    if (item->Count() > 0) {
      SetHot(row);
      OpenChild();
      return;
    }
    root_->chosen = item;
    root_->done = true;
  }

  // Mouse input for this level, in its client coordinates.
  void Mouse(UINT msg, Point p) {
    const int row = RowAt(p);
    if (msg == WM_MOUSEMOVE) {
      if (row < 0) return;
      SetHot(row);
      if (Selectable(row) && items_[std::size_t(row)]->Count() > 0) {
        OpenChild();
      } else {
        CloseChild();
      }
    } else if (msg == WM_LBUTTONUP || msg == WM_RBUTTONUP) {
      Choose(row);
    }
  }

  // Left and Right that no level takes move along the menu bar the menu was opened from.
  void Side(int step) {
    TPopupTrackHooks* hooks = root_->hooks_;
    if (hooks != nullptr && hooks->Side && hooks->Side(step)) root_->done = true;
  }

  void Key(WPARAM vk) {
    switch (vk) {
      case VK_UP:
        MoveHot(-1);
        break;
      case VK_DOWN:
        MoveHot(1);
        break;
      case VK_RIGHT:
        if (Selectable(hot_) && items_[std::size_t(hot_)]->Count() > 0) {
          OpenChild();
          child_->MoveHot(1);
        } else {
          Side(1);
        }
        break;
      case VK_RETURN:
        Choose(hot_);
        if (child_ != nullptr && child_->hot_ < 0) child_->MoveHot(1);
        break;
      case VK_LEFT:
      case VK_ESCAPE:
        if (parent_ != nullptr) {
          parent_->CloseChild();  // this level goes; nothing may touch it after
        } else if (vk == VK_ESCAPE) {
          if (hooks_ != nullptr) hooks_->Escaped = true;
          done = true;
        } else {
          Side(-1);
        }
        break;
      default:
        break;
    }
  }

  void WndProc(TMessage& m) override {
    switch (m.Msg) {
      case WM_MOUSEMOVE:
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_LBUTTONUP:
      case WM_RBUTTONUP: {
        // The first level holds the mouse: find the level under the pointer.
        const Point screen = ClientToScreen(MsgPoint(m.LParam));
        for (TPopupWindow* p = Deepest(); p != nullptr; p = p->parent_) {
          const Point local = p->ScreenToClient(screen);
          if (p->ClientRect().Contains(local)) {
            p->Mouse(m.Msg, local);
            return;
          }
        }
        if (hooks_ != nullptr && hooks_->Mouse && hooks_->Mouse(m.Msg, screen)) {
          done = true;
          return;
        }
        // A press outside every level dismisses the menu.
        if (m.Msg == WM_LBUTTONDOWN || m.Msg == WM_RBUTTONDOWN) done = true;
        return;
      }
      case WM_KEYDOWN:
        Deepest()->Key(m.WParam);
        return;
      case WM_CHAR:
        return;
      case WM_KILLFOCUS:
        if (parent_ == nullptr) done = true;
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
      if (item->DrawByHandler(c, dc, r, state)) continue;
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
      if (item->ShortCut() != 0) {
        Rect keys{r.Left + 20, r.Top, r.Right - 14, r.Bottom};
        dc->DrawText(ShortCutToText(item->ShortCut()), keys, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
      }
      const TColor mark = dc->GetTextColor();
      const int cy = (r.Top + r.Bottom) / 2;
      if (menu_->Images() != nullptr && item->ImageIndex() >= 0) {
        DrawImage(*dc, *menu_->Images(), item->ImageIndex(), r.Left + 2,
                  cy - menu_->Images()->cy / 2);
      } else if (item->Checked()) {
        const int cx = r.Left + 9;
        dc->FillRect({cx - 2, cy - 2, cx + 3, cy + 3}, Solid(mark));
      }
      if (item->Count() > 0) {  // an arrow towards the cascaded level
        const int ax = r.Right - 10;
        for (int k = 0; k < 4; ++k)
          dc->FillRect({ax + k, cy - 3 + k, ax + k + 1, cy + 4 - k}, Solid(mark));
      }
    }
  }

 private:
  TMenu* menu_;
  TPopupWindow* root_;              // the first level (this one for the first)
  TPopupWindow* parent_ = nullptr;  // the level this one cascades from
  TPopupWindow* child_ = nullptr;   // owned as a component by the menu; freed by this one
  TMenuItem* source_ = nullptr;     // whose children this level shows
  TPopupTrackHooks* hooks_;         // the first level's, may be null
  std::vector<TMenuItem*> items_;   // the visible items, owned by the menu's owner
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
      case VK_PRIOR:
        s += "PgUp";
        break;
      case VK_NEXT:
        s += "PgDn";
        break;
      case VK_END:
        s += "End";
        break;
      case VK_HOME:
        s += "Home";
        break;
      case VK_LEFT:
        s += "Left";
        break;
      case VK_UP:
        s += "Up";
        break;
      case VK_RIGHT:
        s += "Right";
        break;
      case VK_DOWN:
        s += "Down";
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

bool TMenuItem::DrawByHandler(TCanvas& canvas, DC* dc, const Rect& r, TOwnerDrawState state) {
  if (!OnAdvancedDrawItem) return false;
  const int saved = dc->SaveDC();
  dc->IntersectClipRect(r.Left, r.Top, r.Right, r.Bottom);
  OnAdvancedDrawItem(this, canvas, r, state);
  dc->RestoreDC(saved);
  canvas.SetHandle(dc);
  return true;
}

TMenu::TMenu(TComponent* owner) : TComponent(owner), items_(Create<TMenuItem>(this)) {}

namespace {
TMenuItem* FindShortCut(TMenuItem* item, std::uint16_t shortCut) {
  for (int i = 0; i < item->Count(); ++i) {
    TMenuItem* c = item->Items(i);
    if (!c->Visible() || !c->Enabled()) continue;
    if (c->ShortCut() == shortCut && c->Count() == 0) return c;
    if (TMenuItem* found = FindShortCut(c, shortCut)) return found;
  }
  return nullptr;
}
}  // namespace

TMainMenu::~TMainMenu() {
  if (merged_ != nullptr) RemoveFreeNotification(merged_);
}

void TMainMenu::Merge(TMainMenu* menu) {
  if (menu == merged_ || menu == this) return;
  if (merged_ != nullptr) RemoveFreeNotification(merged_);
  merged_ = menu;
  if (menu != nullptr) FreeNotification(menu);
}

void TMainMenu::Unmerge(TMainMenu* menu) {
  if (menu == nullptr || menu != merged_) return;
  RemoveFreeNotification(merged_);
  merged_ = nullptr;
}

void TMainMenu::Notification(TComponent* component, TOperation operation) {
  TMenu::Notification(component, operation);
  if (operation == opRemove && component != nullptr && component == merged_) merged_ = nullptr;
}

bool TMainMenu::MergedHasGroup(int group) const {
  if (merged_ == nullptr) return false;
  for (int i = 0; i < merged_->Items()->Count(); ++i)
    if (merged_->Items()->Items(i)->GroupIndex() == group) return true;
  return false;
}

std::vector<TMenuItem*> TMainMenu::BarItems() const {
  std::vector<TMenuItem*> result;
  std::vector<TMenuItem*> pending;  // the merged items not placed yet, in their order
  if (merged_ != nullptr)
    for (int i = 0; i < merged_->Items()->Count(); ++i)
      pending.push_back(merged_->Items()->Items(i));
  // Merged items of groups below `group` go first; with `take`, those of `group` too.
  auto place = [&](int group, bool take) {
    std::vector<TMenuItem*> rest;
    for (TMenuItem* m : pending)
      if (m->GroupIndex() < group || (take && m->GroupIndex() == group))
        result.push_back(m);
      else
        rest.push_back(m);
    pending = std::move(rest);
  };
  for (int i = 0; i < Items()->Count(); ++i) {
    TMenuItem* own = Items()->Items(i);
    const int group = own->GroupIndex();
    if (MergedHasGroup(group)) {
      place(group, true);  // the merged group stands in for every own item of it
      continue;
    }
    place(group, false);
    result.push_back(own);
  }
  place(std::numeric_limits<int>::max(), true);
  return result;
}

bool TMenu::IsShortCut(std::uint16_t shortCut) {
  if (shortCut == 0) return false;
  TMenuItem* item = FindShortCut(items_, shortCut);
  if (item == nullptr) return false;
  item->Click();
  return true;
}

TMenuItem* TrackPopup(TMenu* menu, TMenuItem* source, Point at, TPopupTrackHooks* hooks,
                      HWND* shown) {
  auto* popup = Create<TPopupWindow>(menu, menu, source, nullptr, hooks);
  const HWND previousFocus = GetFocus();
  popup->ShowAt(at.X, at.Y);
  const HWND window = popup->Handle();
  if (shown != nullptr) *shown = window;
  if (hooks != nullptr && hooks->SelectFirst) popup->MoveHot(1);
  SetCapture(window);
  ::qv::SetFocus(window);
  const TComponentWatch alive(popup);
  while (alive.Alive() && !popup->done) {
    if (!Application()->HandleMessage()) break;
  }
  // The menu went while it was up (its form was released meanwhile) and the popup with it:
  // nothing of theirs is touched any more.
  if (!alive.Alive()) return nullptr;
  TMenuItem* chosen = popup->chosen;
  if (GetCapture() == window) ReleaseCapture();
  if (shown != nullptr) *shown = 0;
  Free(popup);
  if (previousFocus != 0 && IsWindow(previousFocus)) ::qv::SetFocus(previousFocus);
  return chosen;
}

void TPopupMenu::Popup(int x, int y) {
  if (window_ != 0) return;
  if (OnPopup) OnPopup(this);
  TMenuItem* chosen = TrackPopup(this, Items(), {x, y}, nullptr, &window_);
  // The command runs once the menu is gone, as a posted menu command would.
  if (chosen != nullptr) chosen->Click();
}

}  // namespace qv
