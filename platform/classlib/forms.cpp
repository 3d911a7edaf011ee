#include "platform/classlib/forms.h"

#include <algorithm>
#include <memory>

#include "platform/classlib/dialogs.h"
#include "platform/classlib/menus.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
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
  static TScreen screen;
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
  if (HandleAllocated()) {
    CreateParams p;
    CreateParamsFor(p);
    SetWindowLong(Handle(), GWL_STYLE, std::intptr_t(p.Style));
    SetWindowPos(Handle(), 0, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  }
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
}

Rect TCustomForm::ClientRect() const {
  CreateParams p;
  const_cast<TCustomForm*>(this)->CreateParamsFor(p);
  const Rect c = nonclient::ClientArea(p.Style, p.ExStyle, {0, 0, Width(), Height()});
  return {0, 0, c.Width(), c.Height()};
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
  if (menu_ != nullptr) FreeNotification(static_cast<TComponent*>(menu_));
}

void TCustomForm::Notification(TComponent* component, TOperation operation) {
  TWinControl::Notification(component, operation);
  if (operation == opRemove && component == static_cast<TComponent*>(menu_)) menu_ = nullptr;
}

bool TCustomForm::IsShortCut(std::uint16_t key, TShiftState shift) {
  if (menu_ == nullptr || key == 0) return false;
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
    ShowWindow(Handle(), SW_SHOW);
    SetActiveWindow(Handle());
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
  if (OnClose) OnClose(this, action);
  switch (action) {
    case TCloseAction::caNone:
      return;
    case TCloseAction::caHide:
      Hide();
      return;
    case TCloseAction::caMinimize:
      ShowWindow(Handle(), SW_MINIMIZE);
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
    case WM_MOVE:
    case WM_SIZE: {
      Rect r;
      if (HandleAllocated() && GetWindowRect(Handle(), r)) UpdateBoundsRect(r);
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

void TApplication::HandleException(std::exception_ptr error) {
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
