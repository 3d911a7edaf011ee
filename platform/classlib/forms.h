// Forms, the application object and the screen. A form is a top-level window holding
// controls. `Close` only posts the request: the form closes once the handler that asked
// has returned, so no handler runs on a destroyed form. `ShowModal` serves the queue in a
// nested loop until `ModalResult` is set. The application runs the main loop, routes
// every message past its `OnMessage` hook and reports exceptions that escape handlers in
// the standard error box. All of it lives on the GUI thread.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/classlib/controls.h"
#include "platform/classlib/icon.h"
#include "platform/classlib/stdctrls.h"
#include "platform/ui/display_backend.h"

namespace qv {

class TMainMenu;
class TMenuItem;

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = unsigned;
enum class TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter,
};
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
// An MDI form holds an MDI client window in the client area its aligned controls leave;
// its MDI children are child windows of that client, made while it is the main form.
enum class TFormStyle { fsNormal, fsMDIChild, fsMDIForm };

using TModalResult = int;
enum : TModalResult {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
};

// Frees a form once its handlers have returned (posted to the application's window).
constexpr UINT CM_RELEASE = 0xB1F0;

using TCloseEvent = std::function<void(TComponent* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TComponent* Sender, bool& CanClose)>;

class TCustomForm;

// One of a form's own scroll bars: the window's WS_HSCROLL or WS_VSCROLL bar. It shows
// while it is Visible and its Range exceeds the client area; with the form's AutoScroll
// the range follows the controls. Moving it moves the form's controls.
class TControlScrollBar {
 public:
  TControlScrollBar(TCustomForm& form, TScrollBarKind kind) : form_(form), kind_(kind) {}
  TControlScrollBar(const TControlScrollBar&) = delete;
  TControlScrollBar& operator=(const TControlScrollBar&) = delete;

  [[nodiscard]] TScrollBarKind Kind() const { return kind_; }
  [[nodiscard]] bool Visible() const { return visible_; }
  void SetVisible(bool value);
  // The scrolled extent in pixels. Setting it turns the form's AutoScroll off, as the
  // class library does; AutoScroll sets it from the controls.
  [[nodiscard]] int Range() const { return range_; }
  void SetRange(int value);
  // Pixels an arrow button scrolls.
  [[nodiscard]] int Increment() const { return increment_; }
  void SetIncrement(int value);
  // How far the controls are scrolled: 0 to Range less the client size.
  [[nodiscard]] int Position() const { return position_; }
  void SetPosition(int value);
  // Whether the window shows the bar now.
  [[nodiscard]] bool IsScrollBarVisible() const;

 private:
  friend class TCustomForm;
  // The client width (horizontal bar) or height (vertical bar).
  [[nodiscard]] int ControlSize() const;
  // A WM_HSCROLL/WM_VSCROLL of the window's bar.
  void ScrollMessage(WPARAM code, int thumb);

  TCustomForm& form_;
  TScrollBarKind kind_;
  bool visible_ = true;
  int range_ = 0;
  int increment_ = 8;
  int position_ = 0;
};

class TCustomForm : public TWinControl {
 public:
  explicit TCustomForm(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TCustomForm"; }
  ~TCustomForm() override;

  // Raises OnCreate; called by TApplication::CreateForm once the form data is in.
  virtual void AfterConstruction();

  [[nodiscard]] TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle style);
  [[nodiscard]] TBorderIcons BorderIcons() const { return borderIcons_; }
  // Applied to the window's style (WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX) at once.
  void SetBorderIcons(TBorderIcons icons);
  // A band of the form's colour between the frame and the client area.
  [[nodiscard]] int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value);
  // The icon of the form's title bar; empty: the application's.
  [[nodiscard]] TIcon& Icon() { return icon_; }

  // Controls beyond the client area make the form's scroll bars appear, their ranges
  // following the controls. Turning it off empties both ranges; then they are set by hand.
  [[nodiscard]] bool AutoScroll() const { return autoScroll_; }
  void SetAutoScroll(bool value);
  [[nodiscard]] TControlScrollBar& HorzScrollBar() { return horzScrollBar_; }
  [[nodiscard]] TControlScrollBar& VertScrollBar() { return vertScrollBar_; }
  // Moves every control of the form by (dx, dy) pixels.
  void ScrollBy(int dx, int dy);
  // Set before the form's window is made (a later change makes the window again).
  [[nodiscard]] TFormStyle FormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle style);
  // An MDI form's client window (0 for other forms), its active child and its children,
  // front first.
  [[nodiscard]] HWND ClientHandle() const { return clientHandle_; }
  [[nodiscard]] TCustomForm* ActiveMDIChild() const;
  [[nodiscard]] int MDIChildCount() const;
  [[nodiscard]] TCustomForm* MDIChildren(int index) const;

  [[nodiscard]] TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }
  // The form's main menu (not owned); its shortcuts are tried before dialog keys.
  [[nodiscard]] TMainMenu* Menu() const { return menu_; }
  void SetMenu(TMainMenu* menu);
  // A key with its shift state as a menu shortcut: true when an item took it.
  bool IsShortCut(std::uint16_t key, TShiftState shift);
  // The menu-bar item shown highlighted while the bar is tracked, null otherwise.
  [[nodiscard]] TMenuItem* MenuBarHotItem() const { return menuBarHot_; }
  void SetMenuBarHotItem(TMenuItem* item);

  [[nodiscard]] bool KeyPreview() const { return keyPreview_; }
  void SetKeyPreview(bool value) { keyPreview_ = value; }

  [[nodiscard]] TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* control);

  // What the window system shows: normal, minimised (iconic) or maximised (zoomed).
  [[nodiscard]] TWindowState WindowState() const;
  void SetWindowState(TWindowState state);

  [[nodiscard]] TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult result) { modalResult_ = result; }
  [[nodiscard]] bool Modal() const { return modal_; }

  Rect ClientRect() const override;

  // Asks the form to close once the current handler is done (a posted WM_CLOSE).
  void Close();
  // Shows the form and serves messages until ModalResult is set; returns it.
  TModalResult ShowModal();
  // Frees the form after the current handler (a posted CM_RELEASE).
  void Release();

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  // The control tree tells its form what happens to focus and to controls.
  void FocusChanged(TWinControl* control);
  void ControlDestroying(TControl* control);

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void CreateWnd() override;
  void WndProc(TMessage& message) override;
  // An MDI child's default processing is the MDI child's.
  void DefaultHandler(TMessage& message) override;
  // The dialog-key message: Tab and the arrows move the focus, other keys go to the
  // controls (default and cancel buttons) until one takes them. Result 1: taken.
  virtual void CMDialogKey(TMessage& message);
  // WM_CLOSE: the close query, OnClose and its action.
  virtual void DoClose();
  virtual bool CloseQuery();
  void Paint() override {}
  void Notification(TComponent* component, TOperation operation) override;
  void AlignControls() override;
  // Scrolled: the aligned controls lie in the scrolled area.
  void AdjustClientRect(Rect& r) const override;

 private:
  void ShowForm();
  void PlaceOnScreen();
  void FocusFirst();
  bool BroadcastDialogKey(TWinControl* parent, TMessage& message);
  // The style of the border style and icons onto the window, keeping its state bits.
  void ApplyFrameStyle();
  // Ranges from the controls (AutoScroll), then the window's bars shown or hidden; true
  // when a bar came or went (the client area changed).
  bool UpdateScrollBars();
  friend class TControlScrollBar;
  // MDI (forms_mdi.cpp): the child's window inside the main form's client, the client
  // laid out in what the aligned controls leave, Ctrl+F4 and Ctrl+F6.
  void MDIChildParams(CreateParams& params);
  void LayoutMDIClient();
  bool MDIShortCut(std::uint16_t key);
  [[nodiscard]] HWND MDIClientOfChild() const;
  void MergeMDIMenu(bool active);

  TFormBorderStyle borderStyle_ = TFormBorderStyle::bsSizeable;
  TFormStyle formStyle_ = TFormStyle::fsNormal;
  HWND clientHandle_ = 0;
  TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
  TPosition position_ = TPosition::poDesigned;
  bool keyPreview_ = false;
  TWinControl* activeControl_ = nullptr;  // a control of this form, not owned
  TMainMenu* menu_ = nullptr;             // a component of this form, not owned
  TMenuItem* menuBarHot_ = nullptr;       // an item of menu_, not owned
  TModalResult modalResult_ = mrNone;
  bool modal_ = false;
  bool created_ = false;
  int borderWidth_ = 0;
  TIcon icon_;
  bool autoScroll_ = true;
  bool updatingScrollBars_ = false;
  TControlScrollBar horzScrollBar_{*this, TScrollBarKind::sbHorizontal};
  TControlScrollBar vertScrollBar_{*this, TScrollBarKind::sbVertical};
};

class TForm : public TCustomForm {
 public:
  explicit TForm(TComponent* owner) : TCustomForm(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TForm"; }
};

// The application object: one per program, on the GUI thread.
class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* owner);
  ~TApplication() override;

  [[nodiscard]] const std::string& Title() const { return title_; }
  void SetTitle(std::string title) { title_ = std::move(title); }
  [[nodiscard]] TCustomForm* MainForm() const { return mainForm_; }
  // The program's icon, shown by forms without one of their own.
  [[nodiscard]] TIcon& Icon() { return icon_; }

  // Makes a form owned by the application; the first one becomes the main form.
  template <class T>
  void CreateForm(T*& reference) {
    T* form = new T(this);
    reference = form;
    if (mainForm_ == nullptr) mainForm_ = form;
    form->AfterConstruction();
  }

  // Shows the main form (when its form data makes it visible) and serves messages until
  // Terminate or the main form closes.
  void Run();
  // One message, waiting for it; false once the loop should end.
  bool HandleMessage();
  // Everything that is ready, without waiting.
  void ProcessMessages();
  void Terminate();
  [[nodiscard]] bool Terminated() const;
  // Minimises the main form.
  void Minimize();

  // Hooks see every message of the application's hidden window first; true keeps it.
  using TWindowHook = std::function<bool(TMessage& Message)>;
  int HookMainWindow(TWindowHook hook);
  void UnhookMainWindow(int id);

  // Sees every message the loops take before it is dispatched; Handled = true keeps it.
  std::function<void(MSG& Msg, bool& Handled)> OnMessage;
  // Replaces the standard error box.
  std::function<void(TComponent* Sender, const std::exception& E)> OnException;

  // Reports an exception that escaped a handler: OnException, or the standard error box
  // with the exception's text. The loop then goes on.
  [[gnu::noinline]] void HandleException(std::exception_ptr error);

  // The hidden window that frees released forms.
  [[nodiscard]] HWND Handle() const { return handle_; }

  // For the forms: the main form went away.
  void FormDestroyed(TCustomForm* form);

 private:
  void ProcessMessage(MSG& msg);

  LRESULT MainWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  std::string title_;
  TCustomForm* mainForm_ = nullptr;  // owned as a component
  HWND handle_ = 0;
  std::vector<std::pair<int, TWindowHook>> hooks_;
  int nextHook_ = 1;
  TIcon icon_;
};

// The screen: monitors from the display back end, and the forms of the program.
class TScreen {
 public:
  [[nodiscard]] std::vector<Monitor> Monitors() const;
  [[nodiscard]] int MonitorCount() const { return int(Monitors().size()); }
  // The primary monitor's size and work area.
  [[nodiscard]] int Width() const;
  [[nodiscard]] int Height() const;
  [[nodiscard]] Rect WorkAreaRect() const;

  // The font menus are drawn with.
  [[nodiscard]] TFont& MenuFont() { return menuFont_; }

  [[nodiscard]] int FormCount() const { return int(forms_.size()); }
  [[nodiscard]] TCustomForm* Forms(int index) const { return forms_.at(std::size_t(index)); }
  // The form of the active window, null when another program's window is active.
  [[nodiscard]] TCustomForm* ActiveForm() const;

  void AddForm(TCustomForm* form) { forms_.push_back(form); }
  void RemoveForm(TCustomForm* form);

 private:
  std::vector<TCustomForm*> forms_;  // not owned
  TFont menuFont_;
};

// The program's application, and the calling thread's screen (its forms), made on first use. The
// application and its forms are freed by DestroyApplication, which the program calls
// before it stops the window system (at the end of main).
[[nodiscard]] TApplication* Application();
[[nodiscard]] TScreen* Screen();
void DestroyApplication();
// The application when it exists, without making one (null before the first use and
// while DestroyApplication runs), for code that may run while the program ends.
[[nodiscard]] TApplication* ExistingApplication();

// Stored form data: runs `body` (which creates the components in the stored order and sets
// their stored properties) with the form loading, then calls Loaded on every component the
// form owns, in order, and on the form.
void ReadFormData(TComponent* form, const std::function<void()>& body);

}  // namespace qv
