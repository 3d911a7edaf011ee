#include "platform/classlib/forms.h"

#include <algorithm>
#include <memory>

#include "platform/classlib/dialogs.h"
#include "platform/classlib/menubar.h"
#include "platform/classlib/menus.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "platform/ui/mdi.h"
#include "platform/ui/nonclient.h"
#include "platform/ui/window_system.h"

namespace qv {

namespace {

std::unique_ptr<TApplication>& TheApplication() {
  static std::unique_ptr<TApplication> app;
  return app;
}

}  // namespace

TApplication* Application() {
  auto& app = TheApplication();
  if (!app) app = std::make_unique<TApplication>(nullptr);
  return app.get();
}

TScreen* Screen() {
  static thread_local TScreen screen;
  return &screen;
}

TApplication* ExistingApplication() {
  return TheApplication().get();
}

void DestroyApplication() {
  TheApplication().reset();
}

void ReadFormData(TComponent* form, const std::function<void()>& body) {
  form->BeginLoading();
  body();
  for (int i = 0; i < form->ComponentCount(); ++i) {
    TComponent* c = form->Components(i);
    if (c->HasState(csLoading)) c->Loaded();
  }
  form->Loaded();
}

// ---- TCustomForm ----------------------------------------------------------------------

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  SetVisibleFlag(false);
  SetColor(clBtnFace);
  SetParentFont(false);
  SetBounds(0, 0, 320, 240);
  Screen()->AddForm(this);
}

TCustomForm::~TCustomForm() {
  // A child's window goes while it is still this form, so its client hears of it.
  if (formStyle_ == TFormStyle::fsMDIChild) DestroyWnd();
  if (created_ && OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      Application()->HandleException(std::current_exception());
    }
  }
  Screen()->RemoveForm(this);
  if (TheApplication()) TheApplication()->FormDestroyed(this);
}

void TCustomForm::AfterConstruction() {
  created_ = true;
  if (OnCreate) {
    try {
      OnCreate(this);
    } catch (...) {
      // The form still opens, as a failed creation handler leaves it.
      Application()->HandleException(std::current_exception());
    }
  }
  if (Visible()) ShowForm();
}

void TCustomForm::SetBorderStyle(TFormBorderStyle style) {
  if (style == borderStyle_) return;
  borderStyle_ = style;
  ApplyFrameStyle();
}

void TCustomForm::SetBorderIcons(TBorderIcons icons) {
  if (icons == borderIcons_) return;
  borderIcons_ = icons;
  ApplyFrameStyle();
}

void TCustomForm::ApplyFrameStyle() {
  if (!HandleAllocated()) return;
  CreateParams p;
  CreateParamsFor(p);
  const HWND h = Handle();
  // Shown, disabled, minimised or maximised, and the scroll bars stay as they are.
  constexpr std::uint32_t kState =
      WS_VISIBLE | WS_DISABLED | WS_MINIMIZE | WS_MAXIMIZE | WS_HSCROLL | WS_VSCROLL;
  constexpr std::uint32_t kFrameEx = WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW;
  const auto style = static_cast<std::uint32_t>(GetWindowLong(h, GWL_STYLE));
  const auto exStyle = static_cast<std::uint32_t>(GetWindowLong(h, GWL_EXSTYLE));
  SetWindowLong(h, GWL_STYLE, std::intptr_t((p.Style & ~kState) | (style & kState)));
  SetWindowLong(h, GWL_EXSTYLE, std::intptr_t((exStyle & ~kFrameEx) | (p.ExStyle & kFrameEx)));
  SetWindowPos(h, 0, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TCustomForm::SetBorderWidth(int value) {
  value = std::max(value, 0);
  if (value == borderWidth_) return;
  borderWidth_ = value;
  if (HandleAllocated()) {
    SetWindowPos(Handle(), 0, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  Realign();
}

void TCustomForm::CreateParamsFor(CreateParams& p) {
  p.TopLevel = true;
  p.Caption = Caption();
  switch (borderStyle_) {
    case TFormBorderStyle::bsNone:
      p.Style = WS_POPUP;
      break;
    case TFormBorderStyle::bsSingle:
    case TFormBorderStyle::bsToolWindow:
      p.Style = WS_CAPTION | WS_BORDER;
      break;
    case TFormBorderStyle::bsSizeable:
    case TFormBorderStyle::bsSizeToolWin:
      p.Style = WS_CAPTION | WS_THICKFRAME;
      break;
    case TFormBorderStyle::bsDialog:
      p.Style = WS_POPUP | WS_CAPTION;
      p.ExStyle = WS_EX_DLGMODALFRAME;
      break;
  }
  if (borderStyle_ != TFormBorderStyle::bsNone && (borderIcons_ & biSystemMenu)) {
    p.Style |= WS_SYSMENU;
    if (borderStyle_ == TFormBorderStyle::bsSingle ||
        borderStyle_ == TFormBorderStyle::bsSizeable) {
      if (borderIcons_ & biMinimize) p.Style |= WS_MINIMIZEBOX;
      if (borderIcons_ & biMaximize) p.Style |= WS_MAXIMIZEBOX;
    }
  }
  if (borderStyle_ == TFormBorderStyle::bsToolWindow ||
      borderStyle_ == TFormBorderStyle::bsSizeToolWin)
    p.ExStyle |= WS_EX_TOOLWINDOW;
  p.Style |= WS_CLIPCHILDREN;
  if (!Enabled()) p.Style |= WS_DISABLED;
  if (formStyle_ == TFormStyle::fsMDIChild) MDIChildParams(p);
}

Rect TCustomForm::ClientRect() const {
  // Whoever draws the frame (the window system, or a procedure that took the non-client area
  // over) decides where the client area lies: its thickness is read off the window itself.
  if (HandleAllocated()) {
    const HWND h = const_cast<TCustomForm*>(this)->Handle();
    Rect window, client;
    if (!IsIconic(h) && GetWindowRect(h, window) && GetClientRect(h, client) && !client.IsEmpty())
      return {0, 0, std::max(Width() - (window.Width() - client.Width()), 0),
              std::max(Height() - (window.Height() - client.Height()), 0)};
  }
  CreateParams p;
  auto* self = const_cast<TCustomForm*>(this);
  self->CreateParamsFor(p);
  int menuHeight = 0;
  if (HandleAllocated()) {
    p.Style |= std::uint32_t(GetWindowLong(self->Handle(), GWL_STYLE)) & (WS_HSCROLL | WS_VSCROLL);
    menuHeight = GetMenuBarRect(self->Handle()).Height();
  }
  const Rect c = nonclient::ClientArea(p.Style, p.ExStyle, {0, 0, Width(), Height()}, menuHeight);
  return {0, 0, std::max(c.Width() - 2 * borderWidth_, 0),
          std::max(c.Height() - 2 * borderWidth_, 0)};
}

// ---- scrolling ------------------------------------------------------------------------

void TControlScrollBar::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  form_.Realign();
}

void TControlScrollBar::SetRange(int value) {
  form_.autoScroll_ = false;
  value = std::max(value, 0);
  if (value == range_) return;
  range_ = value;
  form_.Realign();
}

void TControlScrollBar::SetIncrement(int value) {
  increment_ = std::clamp(value, 1, 32767);
}

int TControlScrollBar::ControlSize() const {
  const Rect c = form_.ClientRect();
  return kind_ == TScrollBarKind::sbHorizontal ? c.Width() : c.Height();
}

bool TControlScrollBar::IsScrollBarVisible() const {
  if (!form_.HandleAllocated()) return false;
  const std::uint32_t bit = kind_ == TScrollBarKind::sbHorizontal ? WS_HSCROLL : WS_VSCROLL;
  return (std::uint32_t(GetWindowLong(form_.Handle(), GWL_STYLE)) & bit) != 0;
}

void TControlScrollBar::SetPosition(int value) {
  value = std::clamp(value, 0, std::max(range_ - ControlSize(), 0));
  if (value == position_) return;
  const int delta = value - std::exchange(position_, value);
  if (kind_ == TScrollBarKind::sbHorizontal)
    form_.ScrollBy(-delta, 0);
  else
    form_.ScrollBy(0, -delta);
  if (IsScrollBarVisible()) {
    SetScrollPos(form_.Handle(), kind_ == TScrollBarKind::sbHorizontal ? SB_HORZ : SB_VERT,
                 position_, true);
  }
}

void TControlScrollBar::ScrollMessage(WPARAM code, int thumb) {
  switch (code) {
    case SB_LINEUP:
      SetPosition(position_ - increment_);
      break;
    case SB_LINEDOWN:
      SetPosition(position_ + increment_);
      break;
    case SB_PAGEUP:
      SetPosition(position_ - ControlSize());
      break;
    case SB_PAGEDOWN:
      SetPosition(position_ + ControlSize());
      break;
    case SB_THUMBPOSITION:
      SetPosition(thumb);
      break;
    case SB_TOP:
      SetPosition(0);
      break;
    case SB_BOTTOM:
      SetPosition(range_);
      break;
    default:
      break;
  }
}

void TCustomForm::SetAutoScroll(bool value) {
  if (value == autoScroll_) return;
  autoScroll_ = value;
  if (!value) horzScrollBar_.range_ = vertScrollBar_.range_ = 0;
  Realign();
}

void TCustomForm::ScrollBy(int dx, int dy) {
  if (dx == 0 && dy == 0) return;
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* c = Controls(i);
    c->SetBounds(c->Left() + dx, c->Top() + dy, c->Width(), c->Height());
  }
}

void TCustomForm::AlignControls() {
  TWinControl::AlignControls();
  // Bars that came or went changed the client area: the controls are laid out in the new one.
  if (UpdateScrollBars()) TWinControl::AlignControls();
  LayoutMDIClient();
}

void TCustomForm::AdjustClientRect(Rect& r) const {
  r = Bounds(r.Left - horzScrollBar_.position_, r.Top - vertScrollBar_.position_,
             std::max(r.Width(), horzScrollBar_.range_),
             std::max(r.Height(), vertScrollBar_.range_));
}

bool TCustomForm::UpdateScrollBars() {
  if (updatingScrollBars_ || !HandleAllocated() || HasState(csLoading) || HasState(csDestroying))
    return false;
  updatingScrollBars_ = true;
  bool frameChanged = false;
  if (autoScroll_) {
    // As far as the controls reach, with the ones aligned to the far side kept after them.
    int right = 0, rightMargin = 0, bottom = 0, bottomMargin = 0;
    for (int i = 0; i < ControlCount(); ++i) {
      const TControl* c = Controls(i);
      if (!c->Visible()) continue;
      const TAlign a = c->Align();
      if (a == TAlign::alNone || a == TAlign::alLeft)
        right = std::max(right, horzScrollBar_.position_ + c->Left() + c->Width());
      if (a == TAlign::alRight) rightMargin += c->Width();
      if (a == TAlign::alNone || a == TAlign::alTop)
        bottom = std::max(bottom, vertScrollBar_.position_ + c->Top() + c->Height());
      if (a == TAlign::alBottom) bottomMargin += c->Height();
    }
    horzScrollBar_.range_ = right + rightMargin;
    vertScrollBar_.range_ = bottom + bottomMargin;
  }
  // A bar that appears narrows the client area across it, which may call for the other.
  for (int pass = 0; pass < 3; ++pass) {
    bool changed = false;
    for (TControlScrollBar* bar : {&horzScrollBar_, &vertScrollBar_}) {
      const bool horizontal = bar->kind_ == TScrollBarKind::sbHorizontal;
      const bool show = bar->visible_ && bar->range_ > bar->ControlSize();
      if (show != bar->IsScrollBarVisible()) {
        const HWND h = Handle();
        const std::uint32_t bit = horizontal ? WS_HSCROLL : WS_VSCROLL;
        const auto style = std::uint32_t(GetWindowLong(h, GWL_STYLE));
        SetWindowLong(h, GWL_STYLE, std::intptr_t(show ? style | bit : style & ~bit));
        SetWindowPos(h, 0, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        changed = frameChanged = true;
      }
      // Hidden, the controls go back; shown, the position stays within the range.
      const int position =
          show ? std::clamp(bar->position_, 0, std::max(bar->range_ - bar->ControlSize(), 0)) : 0;
      if (position != bar->position_) {
        const int delta = position - std::exchange(bar->position_, position);
        ScrollBy(horizontal ? -delta : 0, horizontal ? 0 : -delta);
      }
      if (show) {
        SCROLLINFO info;
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        info.nMin = 0;
        info.nMax = bar->range_ - 1;
        info.nPage = UINT(bar->ControlSize());
        info.nPos = bar->position_;
        SetScrollInfo(Handle(), horizontal ? SB_HORZ : SB_VERT, info, true);
      }
    }
    if (!changed) break;
  }
  updatingScrollBars_ = false;
  return frameChanged;
}

void TCustomForm::SetActiveControl(TWinControl* control) {
  if (control == this) control = nullptr;
  activeControl_ = control;
  if (control != nullptr && HandleAllocated() && Visible() && control->CanFocus() &&
      !control->Focused())
    ::qv::SetFocus(control->Handle());
}

void TCustomForm::FocusChanged(TWinControl* control) {
  activeControl_ = control;
  // Every control hears where the focus went (buttons change their default look).
  Perform(CM_FOCUSCHANGED, 0, reinterpret_cast<LPARAM>(control));
}

void TCustomForm::SetMenu(TMainMenu* menu) {
  if (menu == menu_) return;
  if (menu_ != nullptr) RemoveFreeNotification(static_cast<TComponent*>(menu_));
  menu_ = menu;
  menuBarHot_ = nullptr;
  if (menu_ != nullptr) FreeNotification(static_cast<TComponent*>(menu_));
  RefreshMenuBar(*this);
}

void TCustomForm::SetMenuBarHotItem(TMenuItem* item) {
  if (item == menuBarHot_) return;
  menuBarHot_ = item;
  if (HandleAllocated()) SendMessage(Handle(), CM_MENUBARCHANGED, 0, 0);
}

void TCustomForm::Notification(TComponent* component, TOperation operation) {
  TWinControl::Notification(component, operation);
  if (operation == opRemove && component == static_cast<TComponent*>(menu_)) {
    menu_ = nullptr;
    menuBarHot_ = nullptr;
  }
}

bool TCustomForm::IsShortCut(std::uint16_t key, TShiftState shift) {
  if (key == 0) return false;
  if (MDIShortCut(key)) return true;
  if (menu_ == nullptr) return false;
  std::uint16_t shortCut = key & 0xFF;
  if (shift & ssShift) shortCut |= scShift;
  if (shift & ssCtrl) shortCut |= scCtrl;
  if (shift & ssAlt) shortCut |= scAlt;
  return menu_->IsShortCut(shortCut);
}

void TCustomForm::ControlDestroying(TControl* control) {
  if (activeControl_ == control) activeControl_ = nullptr;
}

void TCustomForm::PlaceOnScreen() {
  if (position_ != TPosition::poScreenCenter && position_ != TPosition::poDesktopCenter &&
      position_ != TPosition::poMainFormCenter && position_ != TPosition::poOwnerFormCenter)
    return;
  Rect area{0, 0, Screen()->Width(), Screen()->Height()};
  if ((position_ == TPosition::poMainFormCenter || position_ == TPosition::poOwnerFormCenter)) {
    TCustomForm* main = Application()->MainForm();
    if (main != nullptr && main != this && main->Visible()) area = main->BoundsRect();
  }
  SetBounds(area.Left + (area.Width() - Width()) / 2, area.Top + (area.Height() - Height()) / 2,
            Width(), Height());
}

void TCustomForm::ShowForm() {
  if (HasState(csLoading) || HasState(csDestroying)) return;
  const bool wasShown = HandleAllocated() && IsWindowVisible(Handle());
  if (!wasShown) PlaceOnScreen();
  HandleNeeded();
  if (!wasShown) {
    Realign();  // with the window: its scroll bars
    ShowWindow(Handle(), SW_SHOW);
    SetActiveWindow(Handle());
    if (const HWND client = MDIClientOfChild())
      SendMessage(client, WM_MDIACTIVATE, WPARAM(Handle()), 0);
    FocusFirst();
    if (OnShow) OnShow(this);
  }
}

void TCustomForm::FocusFirst() {
  if (activeControl_ != nullptr && activeControl_->CanFocus()) {
    ::qv::SetFocus(activeControl_->Handle());
    return;
  }
  if (TWinControl* first = FindNextControl(nullptr, true, true)) {
    first->SetFocus();
    return;
  }
  ::qv::SetFocus(Handle());
}

TWindowState TCustomForm::WindowState() const {
  if (!HandleAllocated()) return TWindowState::wsNormal;
  const HWND h = const_cast<TCustomForm*>(this)->Handle();
  if (IsIconic(h)) return TWindowState::wsMinimized;
  if (IsZoomed(h)) return TWindowState::wsMaximized;
  return TWindowState::wsNormal;
}

void TCustomForm::SetWindowState(TWindowState state) {
  if (state == WindowState()) return;
  if (formStyle_ == TFormStyle::fsMDIChild) {  // inside the client, through its commands
    SendMessage(Handle(), WM_SYSCOMMAND,
                state == TWindowState::wsMinimized   ? SC_MINIMIZE
                : state == TWindowState::wsMaximized ? SC_MAXIMIZE
                                                     : SC_RESTORE,
                0);
    return;
  }
  const int command = state == TWindowState::wsMinimized   ? SW_MINIMIZE
                      : state == TWindowState::wsMaximized ? SW_MAXIMIZE
                                                           : SW_RESTORE;
  ShowWindow(Handle(), command);
}

void TCustomForm::Close() {
  if (HandleAllocated()) PostMessage(Handle(), WM_CLOSE, 0, 0);
}

void TCustomForm::Release() {
  if (HandleAllocated()) PostMessage(Application()->Handle(), CM_RELEASE, 0, LPARAM(Handle()));
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::DoClose() {
  if (modal_) {
    if (modalResult_ == mrNone) modalResult_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  const bool isMain = Application()->MainForm() == this;
  TCloseAction action = isMain ? TCloseAction::caFree : TCloseAction::caHide;
  if (formStyle_ == TFormStyle::fsMDIChild)
    action = (borderIcons_ & biMinimize) ? TCloseAction::caMinimize : TCloseAction::caNone;
  if (OnClose) OnClose(this, action);
  switch (action) {
    case TCloseAction::caNone:
      return;
    case TCloseAction::caHide:
      Hide();
      return;
    case TCloseAction::caMinimize:
      SetWindowState(TWindowState::wsMinimized);
      return;
    case TCloseAction::caFree:
      if (isMain) {
        Application()->Terminate();
      } else {
        Release();
      }
      return;
  }
}

TModalResult TCustomForm::ShowModal() {
  if (modal_ || (HandleAllocated() && IsWindowVisible(Handle())))
    throw Exception("Cannot make a visible window modal");
  // Every other shown form waits until this one is done.
  std::vector<HWND> disabled;
  for (int i = 0; i < Screen()->FormCount(); ++i) {
    TCustomForm* f = Screen()->Forms(i);
    if (f == this || !f->HandleAllocated()) continue;
    const HWND h = f->Handle();
    if (IsWindowVisible(h) && IsWindowEnabled(h)) {
      EnableWindow(h, false);
      disabled.push_back(h);
    }
  }
  modal_ = true;
  modalResult_ = mrNone;
  SetVisibleFlag(true);
  ShowForm();
  while (true) {
    while (modalResult_ == mrNone) {
      if (!Application()->HandleMessage()) break;
    }
    if (modalResult_ == mrNone) {  // the application is ending
      modalResult_ = mrCancel;
      break;
    }
    // The form may still refuse to close.
    if (!CloseQuery()) {
      modalResult_ = mrNone;
      continue;
    }
    TCloseAction action = TCloseAction::caHide;
    if (OnClose) OnClose(this, action);
    if (action == TCloseAction::caNone) {
      modalResult_ = mrNone;
      continue;
    }
    break;
  }
  modal_ = false;
  for (HWND h : disabled)
    if (IsWindow(h)) EnableWindow(h, true);
  Hide();
  if (!disabled.empty() && IsWindow(disabled.front())) SetActiveWindow(disabled.front());
  return modalResult_;
}

bool TCustomForm::BroadcastDialogKey(TWinControl* parent, TMessage& m) {
  for (int i = 0; i < parent->ControlCount(); ++i) {
    TControl* c = parent->Controls(i);
    if (!c->Visible()) continue;
    c->WindowProc(m);
    if (m.Result != 0) return true;
    if (auto* w = dynamic_cast<TWinControl*>(c); w && BroadcastDialogKey(w, m)) return true;
  }
  return false;
}

void TCustomForm::CMDialogKey(TMessage& m) {
  const auto key = static_cast<std::uint16_t>(m.WParam);
  const bool shift = (KeyboardShiftState() & ssShift) != 0;
  switch (key) {
    case VK_TAB:
      if (KeyboardShiftState() & (ssCtrl | ssAlt)) break;
      SelectNext(activeControl_, !shift, true);
      m.Result = 1;
      return;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
      if (activeControl_ != nullptr && activeControl_->Parent() != nullptr) {
        activeControl_->Parent()->SelectNext(activeControl_, key == VK_RIGHT || key == VK_DOWN,
                                             false);
        m.Result = 1;
        return;
      }
      break;
    default:
      break;
  }
  BroadcastDialogKey(this, m);
}

void TCustomForm::WndProc(TMessage& m) {
  if (MenuBarMessage(*this, m)) return;
  switch (m.Msg) {
    case CM_DIALOGKEY:
      CMDialogKey(m);
      return;
    case CM_DIALOGCHAR:
      // Accelerators: the first control that takes the character ends the walk.
      BroadcastDialogKey(this, m);
      return;
    case WM_CLOSE:
      DoClose();
      return;
    case WM_SETFOCUS:
      // The form itself has the focus only when none of its controls can.
      if (activeControl_ != nullptr && activeControl_->CanFocus()) {
        ::qv::SetFocus(activeControl_->Handle());
        return;
      }
      break;
    case CM_VISIBLECHANGED:
      if (m.WParam) {
        if (created_ && !modal_) ShowForm();
      } else if (HandleAllocated()) {
        ShowWindow(Handle(), SW_HIDE);
        if (OnHide) OnHide(this);
      }
      return;
    case CM_TEXTCHANGED:
      if (HandleAllocated()) SetWindowText(Handle(), Caption());
      return;
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (m.LParam == 0) {  // the window's own bar
        (m.Msg == WM_HSCROLL ? horzScrollBar_ : vertScrollBar_)
            .ScrollMessage(LOWORD(m.WParam), static_cast<std::int16_t>(HIWORD(m.WParam)));
        return;
      }
      break;
    case WM_NCCALCSIZE:
      TWinControl::WndProc(m);
      if (m.WParam != 0 && m.LParam != 0 && borderWidth_ > 0) {
        auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(m.LParam);
        params->rgrc[0] = params->rgrc[0].Inflate(-borderWidth_, -borderWidth_);
      }
      return;
    case WM_NCPAINT:
      TWinControl::WndProc(m);
      if (borderWidth_ > 0 && HandleAllocated()) {
        // The band between the frame and the client area, in the form's colour.
        const HWND h = Handle();
        Rect window, client;
        (void)GetWindowRect(h, window);
        (void)GetClientRect(h, client);
        Point origin{0, 0};
        ::qv::ClientToScreen(h, origin);
        const Rect inner = client.Offset(origin.X - window.Left, origin.Y - window.Top);
        if (DC* dc = GetWindowDC(h)) {
          const Region band =
              Region(inner.Inflate(borderWidth_, borderWidth_)).Subtract(Region(inner));
          dc->FillRgn(band, Brush{BrushStyle::bsSolid, Color()});
          ReleaseDC(h, dc);
        }
      }
      if (HandleAllocated()) PaintMenuBar(*this);
      return;
    case WM_MOVE:
    case WM_SIZE: {
      Rect r;
      if (HandleAllocated() && GetWindowRect(Handle(), r)) {
        Point at{r.Left, r.Top};  // a child's place is in its parent's client area
        if (formStyle_ == TFormStyle::fsMDIChild) ::qv::ScreenToClient(GetParent(Handle()), at);
        UpdateBoundsRect(Bounds(at.X, at.Y, r.Width(), r.Height()));
      }
      break;
    }
    default:
      break;
  }
  TWinControl::WndProc(m);
}

// ---- TApplication ---------------------------------------------------------------------

TApplication::TApplication(TComponent* owner) : TComponent(owner) {
  handle_ = AllocateHWnd([this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    return MainWindowProc(message, wParam, lParam);
  });
  SetApplicationExceptionHandler([this](std::exception_ptr e) { HandleException(e); });
}

LRESULT TApplication::MainWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  TMessage m{message, wParam, lParam, 0};
  // A hook may unhook itself: walk a copy.
  for (const auto& [id, hook] : std::vector<std::pair<int, TWindowHook>>(hooks_))
    if (hook(m)) return m.Result;
  if (message == CM_RELEASE) {
    if (TWinControl* form = TWinControl::FromHandle(HWND(lParam))) {
      form->Destroying();
      delete form;
    }
    return 0;
  }
  return DefWindowProc(handle_, message, wParam, lParam);
}

int TApplication::HookMainWindow(TWindowHook hook) {
  hooks_.emplace_back(nextHook_, std::move(hook));
  return nextHook_++;
}

void TApplication::UnhookMainWindow(int id) {
  std::erase_if(hooks_, [id](const auto& h) { return h.first == id; });
}

void TApplication::Minimize() {
  if (mainForm_ != nullptr) mainForm_->SetWindowState(TWindowState::wsMinimized);
}

TApplication::~TApplication() {
  SetApplicationExceptionHandler(nullptr);
  DestroyComponents();
  DeallocateHWnd(handle_);
}

void TApplication::FormDestroyed(TCustomForm* form) {
  if (mainForm_ == form) mainForm_ = nullptr;
}

void TApplication::ProcessMessage(MSG& msg) {
  bool handled = false;
  if (OnMessage) {
    try {
      OnMessage(msg, handled);
    } catch (...) {
      HandleException(std::current_exception());
      handled = true;
    }
  }
  if (!handled) DispatchMessage(msg);
}

bool TApplication::HandleMessage() {
  if (qv::Terminated()) return false;
  MSG msg;
  if (!GetMessage(msg)) {
    // Leave the quit for the loop outside a nested one.
    PostQuitMessage(int(msg.wParam));
    return false;
  }
  ProcessMessage(msg);
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (!qv::Terminated() && PeekMessage(msg, PM_NOREMOVE)) {
    if (msg.message == WM_QUIT) {
      qv::ProcessMessages();  // marks the thread terminated, the quit stays pending
      return;
    }
    if (!PeekMessage(msg, PM_REMOVE)) return;
    ProcessMessage(msg);
  }
  PaintPendingWindows();
}

void TApplication::Run() {
  if (mainForm_ != nullptr && mainForm_->Visible() && !mainForm_->HandleAllocated())
    mainForm_->Show();
  while (HandleMessage()) {
    if (mainForm_ == nullptr) break;
  }
}

void TApplication::Terminate() {
  PostQuitMessage(0);
}

bool TApplication::Terminated() const {
  return qv::Terminated();
}

// Padded at its entry, so that a hook (the exception logger's) can take it over.
[[gnu::patchable_function_entry(5, 0)]] void TApplication::HandleException(
    std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    if (OnException) {
      OnException(this, e);
    } else {
      MessageBox(e.what(), title_.empty() ? "Error" : title_, MB_OK | MB_ICONSTOP);
    }
  } catch (...) {
    MessageBox("Unknown exception", title_.empty() ? "Error" : title_, MB_OK | MB_ICONSTOP);
  }
}

// ---- TScreen --------------------------------------------------------------------------

std::vector<Monitor> TScreen::Monitors() const {
  return CurrentDisplayBackend().Monitors();
}

namespace {
Monitor PrimaryMonitor() {
  const std::vector<Monitor> all = CurrentDisplayBackend().Monitors();
  for (const Monitor& m : all)
    if (m.Primary) return m;
  if (!all.empty()) return all.front();
  return Monitor{{0, 0, 1024, 768}, {0, 0, 1024, 768}, true};
}
}  // namespace

int TScreen::Width() const {
  return PrimaryMonitor().Bounds.Width();
}

int TScreen::Height() const {
  return PrimaryMonitor().Bounds.Height();
}

Rect TScreen::WorkAreaRect() const {
  return PrimaryMonitor().WorkArea;
}

TCustomForm* TScreen::ActiveForm() const {
  const HWND active = GetActiveWindow();
  for (TCustomForm* f : forms_)
    if (f->HandleAllocated() && f->Handle() == active) return f;
  return nullptr;
}

void TScreen::RemoveForm(TCustomForm* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
}

}  // namespace qv
