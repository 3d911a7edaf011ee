// MDI forms: the MDI form's client window, its children, and the child forms' windows
// inside it (see TFormStyle).

#include "platform/classlib/forms.h"
#include "platform/classlib/menubar.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/mdi.h"

namespace qv {

void TCustomForm::SetFormStyle(TFormStyle style) {
  if (style == formStyle_) return;
  formStyle_ = style;
  if (HandleAllocated()) RecreateWnd();
}

HWND TCustomForm::MDIClientOfChild() const {
  if (formStyle_ != TFormStyle::fsMDIChild || !HandleAllocated()) return 0;
  const HWND parent = GetParent(const_cast<TCustomForm*>(this)->Handle());
  return GetClassName(parent) == kMDIClientClass ? parent : 0;
}

namespace {
TCustomForm* MDIMainForm(const TCustomForm* child) {
  TCustomForm* main = Application()->MainForm();
  return main != nullptr && main != child && main->FormStyle() == TFormStyle::fsMDIForm ? main
                                                                                        : nullptr;
}
}  // namespace

void TCustomForm::MDIChildParams(CreateParams& p) {
  TCustomForm* main = MDIMainForm(this);
  p.Style = (p.Style & ~(WS_POPUP | WS_VISIBLE)) | WS_CHILD | WS_CLIPSIBLINGS;
  p.ExStyle |= WS_EX_MDICHILD;
  p.WndParent = main != nullptr ? main->ClientHandle() : 0;
}

void TCustomForm::CreateWnd() {
  if (formStyle_ == TFormStyle::fsMDIChild) {
    TCustomForm* main = MDIMainForm(this);
    if (main == nullptr) throw Exception("Cannot create form. No MDI forms are currently active");
    main->HandleNeeded();
  }
  TWinControl::CreateWnd();
  if (formStyle_ != TFormStyle::fsMDIForm) return;
  RegisterMDIClientClass();
  clientHandle_ = CreateWindowEx(WS_EX_CLIENTEDGE, kMDIClientClass, "",
                                 WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0,
                                 0, Handle());
  if (clientHandle_ == 0) throw Exception("Error creating window for '" + Name() + "'");
  LayoutMDIClient();
}

// The client fills what the aligned controls leave of the client area, under them all.
void TCustomForm::LayoutMDIClient() {
  if (clientHandle_ == 0 || !IsWindow(clientHandle_)) return;
  Rect r;
  if (!GetClientRect(Handle(), r)) return;
  for (int i = 0; i < ControlCount(); ++i) {
    const TControl* c = Controls(i);
    if (!c->Visible()) continue;
    switch (c->Align()) {
      case TAlign::alTop:
        r.Top += c->Height();
        break;
      case TAlign::alBottom:
        r.Bottom -= c->Height();
        break;
      case TAlign::alLeft:
        r.Left += c->Width();
        break;
      case TAlign::alRight:
        r.Right -= c->Width();
        break;
      default:
        break;
    }
  }
  SetWindowPos(clientHandle_, HWND_BOTTOM, r.Left, r.Top, std::max(r.Width(), 0),
               std::max(r.Height(), 0), SWP_NOACTIVATE);
}

TCustomForm* TCustomForm::ActiveMDIChild() const {
  if (clientHandle_ == 0) return nullptr;
  const auto active = HWND(SendMessage(clientHandle_, WM_MDIGETACTIVE, 0, 0));
  return dynamic_cast<TCustomForm*>(TWinControl::FromHandle(active));
}

int TCustomForm::MDIChildCount() const {
  int n = 0;
  for (HWND h : MDIChildWindows(clientHandle_))
    if (dynamic_cast<TCustomForm*>(TWinControl::FromHandle(h)) != nullptr) ++n;
  return n;
}

TCustomForm* TCustomForm::MDIChildren(int index) const {
  for (HWND h : MDIChildWindows(clientHandle_))
    if (auto* f = dynamic_cast<TCustomForm*>(TWinControl::FromHandle(h)); f && index-- == 0)
      return f;
  return nullptr;
}

bool TCustomForm::MDIShortCut(std::uint16_t key) {
  HWND client = clientHandle_;
  if (formStyle_ == TFormStyle::fsMDIChild) client = MDIClientOfChild();
  return client != 0 && TranslateMDISysAccel(client, MSG{client, WM_KEYDOWN, key, 0});
}

// An active child's menu is merged into the MDI form's, and taken out again when another
// child becomes active or the child goes.
void TCustomForm::MergeMDIMenu(bool active) {
  TCustomForm* main = MDIMainForm(this);
  if (main == nullptr || main->Menu() == nullptr || menu_ == nullptr) return;
  TMainMenu* before = main->Menu()->Merged();
  if (active)
    main->Menu()->Merge(menu_);
  else
    main->Menu()->Unmerge(menu_);
  if (main->Menu()->Merged() != before) RefreshMenuBar(*main);
}

void TCustomForm::DefaultHandler(TMessage& m) {
  if (m.Msg == WM_DESTROY) clientHandle_ = 0;  // it goes with the form's window
  if (formStyle_ == TFormStyle::fsMDIChild && HandleAllocated()) {
    if (m.Msg == WM_MDIACTIVATE) MergeMDIMenu(HWND(m.LParam) == Handle());
    if (m.Msg == WM_DESTROY) MergeMDIMenu(false);
    m.Result = DefMDIChildProcA(Handle(), m.Msg, m.WParam, m.LParam);
    return;
  }
  TWinControl::DefaultHandler(m);
}

}  // namespace qv
