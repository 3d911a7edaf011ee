#include "platform/classlib/controls.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/classlib/forms.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"
#include "platform/ui/window_system.h"

namespace qv {

namespace {

// GUI-thread state of the control tree: which control a window belongs to, the control
// under the pointer and the graphic control that holds the mouse.
struct ControlRegistry {
  std::unordered_map<HWND, TWinControl*> windows;
  TControl* mouseControl = nullptr;
  TControl* captureControl = nullptr;
  // A key the form took as a dialog key types nothing.
  bool swallowChar = false;
};

ControlRegistry& Registry() {
  static thread_local ControlRegistry registry;
  return registry;
}

thread_local TWinControl* creating = nullptr;  // the control whose window is being made

LRESULT ControlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Each control class has a window class of its own name on each thread, as the report of
// the focused window's class ("TEdit") expects.
void EnsureClass(const std::string& name) {
  WNDCLASS wc;
  wc.lpszClassName = name;
  wc.lpfnWndProc = ControlWindowProc;
  wc.hbrBackground = clNone;  // controls erase with their own colour
  wc.style = CS_DBLCLKS;
  RegisterClass(wc);  // false when already there
}

bool IsMouseMessage(UINT m) {
  return m == WM_MOUSEMOVE || (m >= WM_LBUTTONDOWN && m <= WM_MBUTTONUP);
}

Point MousePos(LPARAM l) {
  return {static_cast<std::int16_t>(LOWORD(std::uintptr_t(l))),
          static_cast<std::int16_t>(HIWORD(std::uintptr_t(l)))};
}

LPARAM MakePos(Point p) {
  return MAKELONG(static_cast<std::uint16_t>(p.X), static_cast<std::uint16_t>(p.Y));
}

}  // namespace

TShiftState KeyboardShiftState() {
  TShiftState s = 0;
  if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

TShiftState MouseShiftState(WPARAM keys) {
  TShiftState s = 0;
  if (keys & MK_SHIFT) s |= ssShift;
  if (keys & MK_CONTROL) s |= ssCtrl;
  if (keys & MK_LBUTTON) s |= ssLeft;
  if (keys & MK_RBUTTON) s |= ssRight;
  if (keys & MK_MBUTTON) s |= ssMiddle;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

void Frame3D(TCanvas& canvas, Rect& r, TColor topLeft, TColor bottomRight, int width) {
  DC* dc = canvas.Handle();
  for (int i = 0; i < width; ++i) {
    dc->FillRect({r.Left, r.Top, r.Right - 1, r.Top + 1}, Brush{BrushStyle::bsSolid, topLeft});
    dc->FillRect({r.Left, r.Top, r.Left + 1, r.Bottom - 1}, Brush{BrushStyle::bsSolid, topLeft});
    dc->FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, Brush{BrushStyle::bsSolid, bottomRight});
    dc->FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom},
                 Brush{BrushStyle::bsSolid, bottomRight});
    r = r.Inflate(-1, -1);
  }
}

// ---- TControl -------------------------------------------------------------------------

TControl::TControl(TComponent* owner) : TComponent(owner) {
  WindowProc = [this](TMessage& m) { WndProc(m); };
  // The form data sets properties first and calls Loaded when all are there.
  if (owner != nullptr && owner->HasState(csLoading)) BeginLoading();
  font_.OnChange = [this](TGraphicsObject*) {
    parentFont_ = false;
    Changed(CM_FONTCHANGED);
  };
}

TControl::~TControl() {
  auto& reg = Registry();
  if (reg.mouseControl == this) reg.mouseControl = nullptr;
  if (reg.captureControl == this) reg.captureControl = nullptr;
  if (TCustomForm* form = GetParentForm(); form != nullptr && form != this)
    form->ControlDestroying(this);
  if (parent_ != nullptr) parent_->RemoveControl(this);
  parent_ = nullptr;
}

void TControl::Loaded() {
  TComponent::Loaded();
  if (parentColor_ && parent_) color_ = parent_->Color();
  if (parentFont_ && parent_) ParentFontChanged();
  if (parent_ && align_ != TAlign::alNone) parent_->Realign();
}

static void TellBiDiModeChanged(TControl* control);

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent == this) throw Exception("A control cannot have itself as its parent");
  if (parent_ != nullptr) parent_->RemoveControl(this);
  parent_ = parent;
  if (parent_ != nullptr) {
    parent_->InsertControl(this);
    if (parentColor_) ParentColorChanged();
    if (parentFont_) ParentFontChanged();
    if (parentBiDiMode_) TellBiDiModeChanged(this);
  }
}

// The control and every descendant that follows its parent's reading order.
static void TellBiDiModeChanged(TControl* control) {
  control->Perform(CM_BIDIMODECHANGED);
  if (auto* win = dynamic_cast<TWinControl*>(control))
    for (int i = 0; i < win->ControlCount(); ++i)
      if (win->Controls(i)->ParentBiDiMode()) TellBiDiModeChanged(win->Controls(i));
}

TBiDiMode TControl::BiDiMode() const {
  return parentBiDiMode_ && parent_ != nullptr ? parent_->BiDiMode() : biDiMode_;
}

void TControl::SetBiDiMode(TBiDiMode value) {
  if (value == biDiMode_ && !parentBiDiMode_) return;
  biDiMode_ = value;
  parentBiDiMode_ = false;
  TellBiDiModeChanged(this);
}

void TControl::SetParentBiDiMode(bool value) {
  if (value == parentBiDiMode_) return;
  parentBiDiMode_ = value;
  if (parent_ != nullptr) TellBiDiModeChanged(this);
}

bool TControl::UseRightToLeftAlignment() const {
  return BiDiMode() == TBiDiMode::bdRightToLeft;
}

bool TControl::UseRightToLeftReading() const {
  return BiDiMode() != TBiDiMode::bdLeftToRight;
}

bool TControl::UseRightToLeftScrollBar() const {
  const TBiDiMode mode = BiDiMode();
  return mode == TBiDiMode::bdRightToLeft || mode == TBiDiMode::bdRightToLeftNoAlign;
}

unsigned TControl::DrawTextBiDiModeFlags(unsigned flags) const {
  if (UseRightToLeftAlignment()) {
    if ((flags & DT_CENTER) == 0) flags ^= DT_RIGHT;  // DT_LEFT is no bit: left and right swap
  }
  if (UseRightToLeftReading()) flags |= DT_RTLREADING;
  return flags;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  const Rect r = Bounds(left, top, std::max(width, 0), std::max(height, 0));
  if (r == bounds_) return;
  if (parent_ != nullptr && visible_) parent_->InvalidateArea(bounds_);
  bounds_ = r;
  if (parent_ != nullptr && visible_) parent_->InvalidateArea(bounds_);
  Resized();
  if (parent_ != nullptr && align_ != TAlign::alNone) parent_->Realign();
}

void TControl::SetClientSize(int width, int height) {
  const Rect c = ClientRect();
  SetBounds(Left(), Top(), Width() - c.Width() + width, Height() - c.Height() + height);
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_ != nullptr) parent_->Realign();
}

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->visible_) return false;
  return true;
}

void TControl::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  Perform(CM_VISIBLECHANGED, value ? 1 : 0);
  if (parent_ != nullptr) {
    parent_->InvalidateArea(bounds_);
    if (align_ != TAlign::alNone) parent_->Realign();
  }
}

void TControl::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Perform(CM_ENABLEDCHANGED);
}

void TControl::SetColor(TColor color) {
  if (color == color_ && !parentColor_) return;
  color_ = color;
  parentColor_ = false;
  Changed(CM_COLORCHANGED);
}

void TControl::SetParentColor(bool value) {
  if (value == parentColor_) return;
  parentColor_ = value;
  if (value && parent_) ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (!parentColor_ || parent_ == nullptr) return;
  color_ = parent_->Color();
  Perform(CM_COLORCHANGED);
  parentColor_ = true;
}

void TControl::SetParentFont(bool value) {
  if (value == parentFont_) return;
  parentFont_ = value;
  if (value && parent_) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!parentFont_ || parent_ == nullptr) return;
  font_.Assign(parent_->Font());  // OnChange clears the flag; it still follows the parent
  parentFont_ = true;
}

void TControl::SetText(std::string_view text) {
  if (text == text_) return;
  text_ = std::string(text);
  Perform(CM_TEXTCHANGED);
}

LRESULT TControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage m{msg, wParam, lParam, 0};
  WindowProc(m);
  return m.Result;
}

void TControl::Invalidate() {
  if (parent_ != nullptr && visible_) parent_->InvalidateArea(bounds_);
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

void TControl::Update() {
  if (parent_ != nullptr) parent_->Update();
}

Point TControl::ClientToScreen(Point p) const {
  if (const auto* w = dynamic_cast<const TWinControl*>(this); w && w->HandleAllocated()) {
    ::qv::ClientToScreen(const_cast<TWinControl*>(w)->Handle(), p);
    return p;
  }
  if (parent_ == nullptr) return p;
  return parent_->ClientToScreen({p.X + Left(), p.Y + Top()});
}

Point TControl::ScreenToClient(Point p) const {
  const Point origin = ClientToScreen({0, 0});
  return {p.X - origin.X, p.Y - origin.Y};
}

TCustomForm* TControl::GetParentForm() const {
  const TControl* c = this;
  while (c->parent_ != nullptr) c = c->parent_;
  return const_cast<TCustomForm*>(dynamic_cast<const TCustomForm*>(c));
}

void TControl::BringToFront() {
  if (parent_ == nullptr) return;
  auto& list = parent_->controls_;
  list.erase(std::find(list.begin(), list.end(), this));
  list.push_back(this);
  if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
    SetWindowPos(w->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Invalidate();
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TControl::HandleMouse(TMessage& m) {
  const Point p = MousePos(m.LParam);
  const TShiftState shift = MouseShiftState(m.WParam);
  switch (m.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (controlStyle_ & csClickEvents) controlState_ |= csClicked;
      controlState_ |= csLButtonDown;
      MouseDown(TMouseButton::mbLeft, shift | (m.Msg == WM_LBUTTONDBLCLK ? unsigned(ssDouble) : 0u),
                p.X, p.Y);
      if (m.Msg == WM_LBUTTONDBLCLK && OnDblClick) OnDblClick(this);
      break;
    case WM_LBUTTONUP: {
      const bool clicked = (controlState_ & csClicked) != 0;
      controlState_ &= ~(csClicked | csLButtonDown);
      // A click needs the press and the release both on the control.
      if (clicked && ClientRect().Contains(p)) Click();
      MouseUp(TMouseButton::mbLeft, shift, p.X, p.Y);
      break;
    }
    case WM_RBUTTONDOWN:
      MouseDown(TMouseButton::mbRight, shift, p.X, p.Y);
      break;
    case WM_RBUTTONUP:
      MouseUp(TMouseButton::mbRight, shift, p.X, p.Y);
      break;
    case WM_MOUSEMOVE:
      MouseMove(shift, p.X, p.Y);
      break;
    default:
      break;
  }
}

void TControl::WndProc(TMessage& m) {
  if (IsMouseMessage(m.Msg)) {
    if (!enabled_) return;
    HandleMouse(m);
    return;
  }
  switch (m.Msg) {
    case CM_BIDIMODECHANGED:
      BiDiModeChanged();
      return;
    case CM_MOUSEENTER:
      if (m.LParam == reinterpret_cast<LPARAM>(this) && OnMouseEnter) OnMouseEnter(this);
      if (parent_ != nullptr) parent_->Perform(CM_MOUSEENTER, 0, m.LParam);
      return;
    case CM_MOUSELEAVE:
      if (m.LParam == reinterpret_cast<LPARAM>(this) && OnMouseLeave) OnMouseLeave(this);
      if (parent_ != nullptr) parent_->Perform(CM_MOUSELEAVE, 0, m.LParam);
      return;
    case CM_PARENTCOLORCHANGED:
      ParentColorChanged();
      return;
    case CM_COLORCHANGED:
    case CM_FONTCHANGED:
    case CM_TEXTCHANGED:
    case CM_ENABLEDCHANGED:
    case CM_VISIBLECHANGED:
    case CM_SYSCOLORCHANGE:
      Invalidate();
      return;
    case WM_PAINT:
      // A graphic control painted by its parent: wParam is the parent's DC, set up for it.
      if (TCanvas* canvas = GetCanvas(); canvas && m.WParam) {
        canvas->SetHandle(reinterpret_cast<DC*>(m.WParam));
        canvas->Font().Assign(Font());
        canvas->Lock();
        Paint();
        canvas->Unlock();
        canvas->SetHandle(nullptr);
      }
      return;
    default:
      DefaultHandler(m);
  }
}

void TControl::DefaultHandler(TMessage&) {}

// ---- TWinControl ----------------------------------------------------------------------

namespace {

LRESULT ControlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto& reg = Registry();
  auto it = reg.windows.find(hwnd);
  if (it == reg.windows.end()) {
    if (message == WM_NCCREATE && creating != nullptr) {
      it = reg.windows.emplace(hwnd, creating).first;
    } else {
      return DefWindowProcA(hwnd, message, wParam, lParam);
    }
  }
  return it->second->ProcedureFor(hwnd, message, wParam, lParam);
}

}  // namespace

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  // Children go first: they take their windows and their places in our lists with them.
  while (!controls_.empty()) {
    TControl* child = controls_.back();
    child->Destroying();
    delete child;
  }
  DestroyWnd();
}

TWinControl* TWinControl::FromHandle(HWND hwnd) {
  auto& reg = Registry();
  const auto it = reg.windows.find(hwnd);
  return it == reg.windows.end() ? nullptr : it->second;
}

HWND TWinControl::Handle() {
  if (handle_ == 0) CreateHandle();
  return handle_;
}

void TWinControl::CreateParamsFor(CreateParams& p) {
  p.Style = WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  if (Visible()) p.Style |= WS_VISIBLE;
  if (!Enabled()) p.Style |= WS_DISABLED;
  if (TabStop()) p.Style |= WS_TABSTOP;
  p.Caption = Caption();
}

void TWinControl::CreateHandle() {
  CreateParams p;
  CreateParamsFor(p);
  HWND parentHandle = 0;
  if (!p.TopLevel && !p.MessageOnly) {
    if (Parent() == nullptr) throw Exception("Control '" + Name() + "' has no parent window");
    parentHandle = Parent()->Handle();  // may have made ours along with its own
    if (handle_ != 0) return;
  }
  CreateWnd();
  (void)parentHandle;
  // The windowed children come along, back to front, so the z-order matches the list.
  for (TControl* c : std::vector<TControl*>(controls_))
    if (auto* w = dynamic_cast<TWinControl*>(c); w && !w->HandleAllocated()) w->CreateHandle();
}

void TWinControl::CreateWnd() {
  CreateParams p;
  CreateParamsFor(p);
  if (p.MessageOnly) {
    const HWND h = AllocateHWnd([this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
      return ProcedureFor(hwnd, message, wParam, lParam);
    });
    if (h == 0) throw Exception("Error creating window for '" + Name() + "'");
    handle_ = h;
    messageOnly_ = true;
    Registry().windows[h] = this;
    return;
  }
  const std::string windowClass = ClassName();
  EnsureClass(windowClass);
  HWND parentHandle = p.WndParent != 0 ? p.WndParent : p.TopLevel ? 0 : Parent()->handle_;
  TWinControl* saved = creating;
  creating = this;
  const HWND h = CreateWindowEx(p.ExStyle, windowClass, p.Caption, p.Style, Left(), Top(), Width(),
                                Height(), parentHandle, 0, this);
  creating = saved;
  if (h == 0) throw Exception("Error creating window for '" + Name() + "'");
  handle_ = h;
}

void TWinControl::DestroyWnd() {
  if (handle_ == 0) return;
  const HWND h = handle_;
  destroyingHandle_ = true;
  if (messageOnly_) {
    messageOnly_ = false;
    DeallocateHWnd(h);
  } else {
    DestroyWindow(h);
  }
  Registry().windows.erase(h);
  handle_ = 0;
  destroyingHandle_ = false;
}

LRESULT TWinControl::ProcedureFor(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (handle_ == 0) handle_ = hwnd;  // messages during CreateWindowEx
  if (message == WM_NCDESTROY) {
    const LRESULT r = DefWindowProcA(hwnd, message, wParam, lParam);
    Registry().windows.erase(hwnd);
    handle_ = 0;
    return r;
  }
  TMessage m{message, wParam, lParam, 0};
  WindowProc(m);
  return m.Result;
}

void TWinControl::DefaultHandler(TMessage& m) {
  if (handle_ != 0 && messageOnly_) {
    m.Result = DefWindowProc(handle_, m.Msg, m.WParam, m.LParam);
    return;
  }
  if (handle_ != 0) m.Result = DefWindowProcA(handle_, m.Msg, m.WParam, m.LParam);
}

void TWinControl::InsertControl(TControl* control) {
  controls_.push_back(control);
  if (auto* w = dynamic_cast<TWinControl*>(control)) {
    tabList_.push_back(w);
    if (handle_ != 0 && !w->HandleAllocated()) w->CreateHandle();
  }
  if (control->Align() != TAlign::alNone) Realign();
  control->Invalidate();
}

void TWinControl::RemoveControl(TControl* control) {
  if (Registry().mouseControl == control) Registry().mouseControl = nullptr;
  InvalidateArea(control->BoundsRect());
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), control), tabList_.end());
  if (auto* w = dynamic_cast<TWinControl*>(control);
      w && w->HandleAllocated() && !w->destroyingHandle_ && !w->HasState(csDestroying)) {
    // A control moved elsewhere makes its window again under its new parent.
    w->DestroyWnd();
  }
  if (control->Align() != TAlign::alNone) Realign();
}

int TWinControl::TabOrder() const {
  if (Parent() == nullptr) return -1;
  const auto& list = Parent()->tabList_;
  return int(std::find(list.begin(), list.end(), this) - list.begin());
}

void TWinControl::SetTabOrder(int order) {
  if (Parent() == nullptr) return;
  auto& list = Parent()->tabList_;
  list.erase(std::find(list.begin(), list.end(), this));
  order = std::clamp(order, 0, int(list.size()));
  list.insert(list.begin() + order, this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) const {
  for (TWinControl* w : tabList_) {
    list.push_back(w);
    w->GetTabOrderList(list);
  }
}

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

bool TWinControl::Focused() const {
  return handle_ != 0 && GetFocus() == handle_;
}

void TWinControl::SetFocus() {
  TCustomForm* form = GetParentForm();
  if (form != nullptr && form != this) form->SetActiveControl(this);
  if (!CanFocus()) return;
  if (form != nullptr && !form->HandleAllocated()) return;  // focused when the form shows
  ::qv::SetFocus(Handle());
}

TWinControl* TWinControl::FindNextControl(TWinControl* current, bool forward,
                                          bool checkTabStop) const {
  std::vector<TWinControl*> list;
  GetTabOrderList(list);
  if (list.empty()) return nullptr;
  const int n = int(list.size());
  int start = int(std::find(list.begin(), list.end(), current) - list.begin());
  if (start == n) start = forward ? n - 1 : 0;
  for (int step = 1; step <= n; ++step) {
    const int i = ((forward ? start + step : start - step) % n + n) % n;
    TWinControl* c = list[std::size_t(i)];
    if (c != current && c->CanFocus() && (!checkTabStop || c->TabStop())) return c;
  }
  return nullptr;
}

void TWinControl::SelectNext(TWinControl* current, bool forward, bool checkTabStop) {
  if (TWinControl* next = FindNextControl(current, forward, checkTabStop)) next->SetFocus();
}

TControl* TWinControl::ControlAtPos(Point p, bool allowDisabled) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (!c->Visible() || (!allowDisabled && !c->Enabled())) continue;
    if (!c->BoundsRect().Contains(p)) continue;
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
      TControl* inner = w->ControlAtPos({p.X - c->Left(), p.Y - c->Top()}, allowDisabled);
      return inner ? inner : c;
    }
    return c;
  }
  return nullptr;
}

void TWinControl::InvalidateArea(const Rect& r) {
  if (handle_ != 0) InvalidateRect(handle_, &r, true);
}

Rect TWinControl::ClientRect() const {
  Rect r;
  if (handle_ != 0 && GetClientRect(handle_, r)) return r;
  return TControl::ClientRect();
}

void TWinControl::Invalidate() {
  if (handle_ != 0) InvalidateRect(handle_, nullptr, true);
}

void TWinControl::Update() {
  if (handle_ != 0) UpdateWindow(handle_);
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  const Rect old = BoundsRect();
  TControl::SetBounds(left, top, width, height);
  if (BoundsRect() == old) return;
  if (handle_ != 0) MoveWindow(handle_, Left(), Top(), Width(), Height(), true);
  if (BoundsRect().Width() != old.Width() || BoundsRect().Height() != old.Height()) Realign();
}

void TWinControl::Loaded() {
  TControl::Loaded();
  Realign();
}

bool TWinControl::FocusOnClick() const {
  // Controls take the focus when clicked; containers and forms leave it where it is.
  return !(ControlStyle() & csAcceptsControls) && GetParentForm() != this;
}

void TWinControl::Realign() {
  if (aligning_ || HasState(csLoading) || HasState(csDestroying)) return;
  aligning_ = true;
  AlignControls();
  aligning_ = false;
}

void TWinControl::AlignControls() {
  Rect r = ClientRect();
  AdjustClientRect(r);
  for (TAlign kind :
       {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient}) {
    for (TControl* c : std::vector<TControl*>(controls_)) {
      if (c->Align() != kind || !c->Visible()) continue;
      switch (kind) {
        case TAlign::alTop:
          c->SetBounds(r.Left, r.Top, r.Width(), c->Height());
          r.Top += c->Height();
          break;
        case TAlign::alBottom:
          c->SetBounds(r.Left, r.Bottom - c->Height(), r.Width(), c->Height());
          r.Bottom -= c->Height();
          break;
        case TAlign::alLeft:
          c->SetBounds(r.Left, r.Top, c->Width(), r.Height());
          r.Left += c->Width();
          break;
        case TAlign::alRight:
          c->SetBounds(r.Right - c->Width(), r.Top, c->Width(), r.Height());
          r.Right -= c->Width();
          break;
        default:
          c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
          break;
      }
    }
  }
}

void TWinControl::NotifyChildren(UINT cm) {
  for (TControl* c : std::vector<TControl*>(controls_)) {
    if (cm == CM_FONTCHANGED)
      c->ParentFontChanged();
    else
      c->Perform(CM_PARENTCOLORCHANGED);
  }
}

void TWinControl::PaintWindow(DC* dc) {
  PaintControls(dc);
}

void TWinControl::PaintControls(DC* dc) {
  for (TControl* c : std::vector<TControl*>(controls_)) {
    if (dynamic_cast<TWinControl*>(c) != nullptr || !c->Visible()) continue;
    const int saved = dc->SaveDC();
    const Point org = dc->GetViewportOrg();
    dc->IntersectClipRect(c->Left(), c->Top(), c->Left() + c->Width(), c->Top() + c->Height());
    dc->SetViewportOrg({org.X + c->Left(), org.Y + c->Top()});
    c->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    dc->RestoreDC(saved);
  }
}

void TWinControl::DoEnter() {
  Perform(CM_ENTER);
  if (OnEnter) OnEnter(this);
}

void TWinControl::DoExit() {
  Perform(CM_EXIT);
  if (OnExit) OnExit(this);
}

bool TWinControl::DoKeyDown(std::uint16_t& key, TShiftState shift) {
  TCustomForm* form = GetParentForm();
  if (form != nullptr && form != this && form->KeyPreview() && form->OnKeyDown)
    form->OnKeyDown(form, key, shift);
  if (key == 0) return true;
  if (OnKeyDown) OnKeyDown(this, key, shift);
  if (key == 0) return true;
  KeyDown(key, shift);
  return key == 0;
}

bool TWinControl::DoKeyPress(char& key) {
  TCustomForm* form = GetParentForm();
  if (form != nullptr && form != this && form->KeyPreview() && form->OnKeyPress)
    form->OnKeyPress(form, key);
  if (key == 0) return true;
  if (OnKeyPress) OnKeyPress(this, key);
  if (key == 0) return true;
  KeyPress(key);
  return key == 0;
}

bool TWinControl::SendDialogChar(WPARAM key, LPARAM keyData) {
  TCustomForm* form = GetParentForm();
  return form != nullptr && form->Perform(CM_DIALOGCHAR, key, keyData) != 0;
}

// Dialog keys go to the form before the control sees them, unless the control asked for
// them (WM_GETDLGCODE); a key the form takes types nothing.
bool TWinControl::SendDialogKey(std::uint16_t key, LPARAM keyData) {
  LRESULT mask = 0;
  switch (key) {
    case VK_TAB:
      mask = DLGC_WANTTAB;
      break;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
      mask = DLGC_WANTARROWS;
      break;
    case VK_RETURN:
    case VK_ESCAPE:
    case VK_CANCEL:
      mask = DLGC_WANTALLKEYS;
      break;
    default:
      return false;
  }
  const LRESULT code = Perform(WM_GETDLGCODE);
  if (code & (mask | DLGC_WANTALLKEYS)) return false;
  TCustomForm* form = GetParentForm();
  if (form == nullptr) return false;
  return form->Perform(CM_DIALOGKEY, key, keyData) != 0;
}

void TWinControl::UpdateMouseControl(Point client) {
  auto& reg = Registry();
  TControl* under = nullptr;
  if (ClientRect().Contains(client)) {
    under = ControlAtPos(client, true);
    if (under == nullptr || dynamic_cast<TWinControl*>(under) != nullptr) under = this;
  }
  if (under == reg.mouseControl) return;
  TControl* old = reg.mouseControl;
  reg.mouseControl = under;
  if (old != nullptr) old->Perform(CM_MOUSELEAVE, 0, reinterpret_cast<LPARAM>(old));
  if (under != nullptr && reg.mouseControl == under) {
    under->Perform(CM_MOUSEENTER, 0, reinterpret_cast<LPARAM>(under));
    TRACKMOUSEEVENT tme;
    tme.dwFlags = TME_LEAVE;
    tme.hwndTrack = handle_;
    TrackMouseEvent(tme);
  }
}

void TWinControl::WndProc(TMessage& m) {
  auto& reg = Registry();
  if (IsMouseMessage(m.Msg)) {
    // The window's default handling sees its mouse messages first, as the platform's does:
    // a press anywhere in an inactive MDI child activates it before the child acts on it.
    if (handle_ != 0 && Enabled()) DefaultHandler(m);
    const Point p = MousePos(m.LParam);
    if (m.Msg == WM_MOUSEMOVE) UpdateMouseControl(p);
    // A graphic child under the pointer, or holding the mouse, takes the message.
    TControl* target = reg.captureControl;
    if (target != nullptr && target->Parent() != this) target = nullptr;
    if (target == nullptr && GetCapture() != handle_) {
      for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        TControl* c = *it;
        if (dynamic_cast<TWinControl*>(c) || !c->Visible() || !c->Enabled()) continue;
        if (c->BoundsRect().Contains(p)) {
          target = c;
          break;
        }
      }
    }
    if (target != nullptr) {
      if (m.Msg == WM_LBUTTONDOWN && (target->ControlStyle() & csCaptureMouse)) {
        reg.captureControl = target;
        SetCapture(handle_);
      }
      const bool up = m.Msg == WM_LBUTTONUP;
      target->Perform(m.Msg, m.WParam, MakePos({p.X - target->Left(), p.Y - target->Top()}));
      if (up && reg.captureControl == target) {
        reg.captureControl = nullptr;
        ReleaseCapture();
      }
      return;
    }
    if (!Enabled()) return;
    if (m.Msg == WM_LBUTTONDOWN) {
      if (FocusOnClick() && CanFocus() && !Focused()) SetFocus();
      if (ControlStyle() & csCaptureMouse) SetCapture(handle_);
    }
    if (m.Msg != WM_LBUTTONUP) {
      TControl::WndProc(m);
      return;
    }
    // A release handler may let pending messages run and free the form with this control.
    const TComponentWatch self(this);
    TControl::WndProc(m);
    if (self.Alive() && GetCapture() == handle_ && handle_ != 0) ReleaseCapture();
    return;
  }
  switch (m.Msg) {
    case WM_MOUSELEAVE:
      if (reg.mouseControl != nullptr &&
          (reg.mouseControl == this || (reg.mouseControl->Parent() == this &&
                                        dynamic_cast<TWinControl*>(reg.mouseControl) == nullptr))) {
        TControl* old = reg.mouseControl;
        reg.mouseControl = nullptr;
        old->Perform(CM_MOUSELEAVE, 0, reinterpret_cast<LPARAM>(old));
      }
      return;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      reg.swallowChar = false;
      auto key = static_cast<std::uint16_t>(m.WParam);
      // Menu shortcuts come first, then dialog keys, then the control.
      if (TCustomForm* form = GetParentForm();
          form != nullptr && form->IsShortCut(key, KeyboardShiftState())) {
        reg.swallowChar = true;
        return;
      }
      if (SendDialogKey(key, m.LParam)) {
        reg.swallowChar = true;
        return;
      }
      // A key used up on its way down types nothing either (Escape closing a list).
      if (DoKeyDown(key, KeyboardShiftState())) {
        reg.swallowChar = true;
        return;
      }
      DefaultHandler(m);
      return;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      auto key = static_cast<std::uint16_t>(m.WParam);
      TCustomForm* form = GetParentForm();
      if (form != nullptr && form != this && form->KeyPreview() && form->OnKeyUp)
        form->OnKeyUp(form, key, KeyboardShiftState());
      if (key != 0 && OnKeyUp) OnKeyUp(this, key, KeyboardShiftState());
      if (key != 0) KeyUp(key, KeyboardShiftState());
      if (key == VK_MENU) DefaultHandler(m);  // Alt alone enters the menu bar
      return;
    }
    case WM_CHAR: {
      if (reg.swallowChar) return;
      if (m.WParam > 0xFF) return;  // beyond the code page the controls keep text in
      char key = static_cast<char>(m.WParam);
      if (DoKeyPress(key)) return;
      // A character the control does not type is offered to the form's controls as an
      // accelerator.
      if ((Perform(WM_GETDLGCODE) & (DLGC_WANTCHARS | DLGC_WANTALLKEYS)) == 0)
        SendDialogChar(static_cast<unsigned char>(key), m.LParam);
      return;
    }
    case WM_SYSCHAR:
      if (m.WParam <= 0xFF && SendDialogChar(m.WParam, m.LParam)) return;
      TControl::WndProc(m);
      return;
    case WM_COMMAND:
      // A child's notification goes back to the child as CN_COMMAND.
      if (TWinControl* child = FromHandle(static_cast<HWND>(m.LParam));
          child != nullptr && child != this) {
        m.Result = child->Perform(CN_COMMAND, m.WParam, m.LParam);
        return;
      }
      TControl::WndProc(m);
      return;
    case WM_GETDLGCODE:
      m.Result = DialogCode();
      return;
    case WM_GETTEXT: {
      // The control keeps its text itself; the window answers with it, as a system
      // control does with the text it keeps.
      auto* buffer = reinterpret_cast<char*>(m.LParam);
      if (buffer == nullptr || m.WParam == 0) {
        m.Result = 0;
        return;
      }
      const std::string text = Text();
      const std::size_t n = std::min<std::size_t>(text.size(), std::size_t(m.WParam) - 1);
      std::memcpy(buffer, text.data(), n);
      buffer[n] = '\0';
      m.Result = LRESULT(n);
      return;
    }
    case WM_GETTEXTLENGTH:
      m.Result = LRESULT(Text().size());
      return;
    case WM_SETFOCUS:
      if (TCustomForm* form = GetParentForm(); form != nullptr && form != this)
        form->FocusChanged(this);
      DoEnter();
      Invalidate();
      return;
    case WM_KILLFOCUS:
      DoExit();
      Invalidate();
      return;
    case WM_ERASEBKGND: {
      if (auto* dc = reinterpret_cast<DC*>(m.WParam)) {
        dc->FillRect(ClientRect(), Brush{BrushStyle::bsSolid, Color()});
      }
      m.Result = 1;
      return;
    }
    case WM_PAINT: {
      if (m.WParam != 0) {  // painted into a DC given by the parent
        PaintWindow(reinterpret_cast<DC*>(m.WParam));
        return;
      }
      PAINTSTRUCT ps;
      DC* dc = BeginPaint(handle_, ps);
      if (dc != nullptr) PaintWindow(dc);
      EndPaint(handle_, ps);
      return;
    }
    case WM_SIZE:
      Realign();
      DefaultHandler(m);
      return;
    case CM_COLORCHANGED:
      Invalidate();
      NotifyChildren(CM_PARENTCOLORCHANGED);
      return;
    case CM_FONTCHANGED:
      Invalidate();
      NotifyChildren(CM_FONTCHANGED);
      return;
    case CM_VISIBLECHANGED:
      if (handle_ != 0) ShowWindow(handle_, m.WParam ? SW_SHOWNA : SW_HIDE);
      return;
    case CM_ENABLEDCHANGED:
      if (handle_ != 0) EnableWindow(handle_, Enabled());
      Invalidate();
      return;
    case CM_TEXTCHANGED:
      Invalidate();
      return;
    case CM_RECREATEWND:
      RecreateWnd();
      return;
    case WM_SYSCOLORCHANGE:
    case CM_SYSCOLORCHANGE:
      // System colours are resolved when drawn: paint again, and tell the children.
      Invalidate();
      for (TControl* c : std::vector<TControl*>(controls_)) c->Perform(CM_SYSCOLORCHANGE);
      return;
    case CM_FOCUSCHANGED:
      for (TControl* c : std::vector<TControl*>(controls_))
        c->Perform(CM_FOCUSCHANGED, 0, m.LParam);
      return;
    default:
      TControl::WndProc(m);
  }
}

void TWinControl::RecreateWnd() {
  if (handle_ == 0) return;
  // The children's windows go with ours and come back with it, and so does the focus.
  TWinControl* focused = FromHandle(GetFocus());
  bool inside = false;
  for (TControl* c = focused; c != nullptr && !inside; c = c->Parent()) inside = c == this;
  DestroyWnd();
  CreateHandle();
  if (Showing()) ShowWindow(handle_, Parent() == nullptr ? SW_SHOW : SW_SHOWNA);
  if (inside && focused->CanFocus()) ::qv::SetFocus(focused->Handle());
}

// ---- graphic and custom controls ------------------------------------------------------

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner) {}
TGraphicControl::~TGraphicControl() = default;

void TGraphicControl::WndProc(TMessage& m) {
  TControl::WndProc(m);
}

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner) {}
TCustomControl::~TCustomControl() = default;

void TCustomControl::PaintWindow(DC* dc) {
  canvas_.SetHandle(dc);
  canvas_.Font().Assign(Font());
  canvas_.Lock();
  Paint();
  canvas_.Unlock();
  canvas_.SetHandle(nullptr);
  PaintControls(dc);
}

}  // namespace qv
