// The class library's control tree over the window system. A `TControl` has a parent, a
// position in its parent's client area, colour and font (taken from the parent while the
// parent flags are on), a caption and a replaceable `WindowProc` through which every
// message passes. `TWinControl`s own a child window of the window system and can take the
// focus; `TGraphicControl`s are painted by their parent on its canvas. Everything lives on
// the GUI thread; an event handler may free the control that raised it only through the
// form's posted close (see forms.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/component.h"
#include "platform/classlib/graphics.h"
#include "platform/gfx/geometry.h"
#include "platform/msg/messages.h"

namespace qv {

class TWinControl;
class TCustomForm;

using TNotifyEvent = std::function<void(TComponent* Sender)>;

enum TShiftStateFlag : unsigned {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64,
};
using TShiftState = unsigned;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using TMouseEvent =
    std::function<void(TComponent* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TComponent* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TComponent* Sender, std::uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TComponent* Sender, char& Key)>;

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
// Which way a control reads. Only where things go follows it: right-to-left text is laid
// out as it comes, without shaping or reordering.
enum class TBiDiMode {
  bdLeftToRight,
  bdRightToLeft,
  bdRightToLeftNoAlign,
  bdRightToLeftReadingOnly
};

// Control styles.
enum : unsigned {
  csAcceptsControls = 0x0001,
  csCaptureMouse = 0x0002,
  csClickEvents = 0x0008,
  csFramed = 0x0010,
  csSetCaption = 0x0020,
  csOpaque = 0x0040,
  csDoubleClicks = 0x0080,
  csReplicatable = 0x0800,
};
// Control states.
enum : unsigned {
  csLButtonDown = 0x0001,
  csClicked = 0x0002,
  csCreating = 0x0008,
  csFocusing = 0x0400,
  csCustomPaint = 0x0800,
};

// WM_GETDLGCODE answers.
enum : LRESULT {
  DLGC_WANTARROWS = 0x0001,
  DLGC_WANTTAB = 0x0002,
  DLGC_WANTALLKEYS = 0x0004,
  DLGC_WANTCHARS = 0x0080,
};

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  [[nodiscard]] TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);

  [[nodiscard]] int Left() const { return bounds_.Left; }
  [[nodiscard]] int Top() const { return bounds_.Top; }
  [[nodiscard]] int Width() const { return bounds_.Width(); }
  [[nodiscard]] int Height() const { return bounds_.Height(); }
  void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
  void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
  void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
  void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }
  virtual void SetBounds(int left, int top, int width, int height);
  [[nodiscard]] Rect BoundsRect() const { return bounds_; }
  // The client area: (0, 0) to the size, less what a derived control reserves.
  [[nodiscard]] virtual Rect ClientRect() const { return {0, 0, Width(), Height()}; }
  [[nodiscard]] int ClientWidth() const { return ClientRect().Width(); }
  [[nodiscard]] int ClientHeight() const { return ClientRect().Height(); }
  void SetClientSize(int width, int height);

  [[nodiscard]] TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  [[nodiscard]] bool Visible() const { return visible_; }
  void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible with every ancestor.
  [[nodiscard]] bool Showing() const;
  [[nodiscard]] bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);

  [[nodiscard]] TColor Color() const { return color_; }
  void SetColor(TColor color);
  [[nodiscard]] bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool value);
  [[nodiscard]] TFont& Font() { return font_; }
  [[nodiscard]] bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);

  [[nodiscard]] const std::string& Caption() const { return text_; }
  void SetCaption(std::string_view text) { SetText(text); }
  [[nodiscard]] virtual std::string Text() const { return text_; }
  virtual void SetText(std::string_view text);

  [[nodiscard]] unsigned ControlStyle() const { return controlStyle_; }
  void SetControlStyle(unsigned style) { controlStyle_ = style; }
  [[nodiscard]] unsigned ControlState() const { return controlState_; }
  // Written by whoever takes over a step of the control's life (a skin painting a form).
  void SetControlState(unsigned state) { controlState_ = state; }
  [[nodiscard]] int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }
  [[nodiscard]] const std::string& Hint() const { return hint_; }
  void SetHint(std::string hint) { hint_ = std::move(hint); }

  // Every message goes through here; replace it to subclass, call the saved one to pass on.
  std::function<void(TMessage& Message)> WindowProc;
  LRESULT Perform(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);

  // Marks the control for painting; Repaint paints at once; Update paints what is pending.
  virtual void Invalidate();
  void Repaint();
  virtual void Update();

  [[nodiscard]] Point ClientToScreen(Point p) const;
  [[nodiscard]] Point ScreenToClient(Point p) const;
  // Where a point of this control's client area lies in its parent's client area.
  [[nodiscard]] Point ClientOrigin() const { return {Left(), Top()}; }

  // The form the control lies on (itself for a form); null when it is on none.
  [[nodiscard]] TCustomForm* GetParentForm() const;

  void BringToFront();

  // The reading order: the parent's while ParentBiDiMode is set (setting a mode clears it).
  [[nodiscard]] TBiDiMode BiDiMode() const;
  void SetBiDiMode(TBiDiMode value);
  [[nodiscard]] bool ParentBiDiMode() const { return parentBiDiMode_; }
  void SetParentBiDiMode(bool value);
  // Right-to-left placement (bdRightToLeft), reading (any right-to-left mode) and scroll
  // bars (those of bdRightToLeft and bdRightToLeftNoAlign).
  [[nodiscard]] bool UseRightToLeftAlignment() const;
  [[nodiscard]] bool UseRightToLeftReading() const;
  [[nodiscard]] bool UseRightToLeftScrollBar() const;
  // DrawText flags as the reading order wants them: left and right swapped under
  // right-to-left alignment, DT_RTLREADING for right-to-left reading.
  [[nodiscard]] unsigned DrawTextBiDiModeFlags(unsigned flags) const;

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;

  // What a click does: the class library's Click raises OnClick.
  virtual void Click();

  void Loaded() override;

 protected:
  virtual void WndProc(TMessage& message);
  // Messages nobody handled.
  virtual void DefaultHandler(TMessage& message);
  // Paints the control on `canvas`; graphic controls and custom controls override it.
  virtual void Paint() {}
  [[nodiscard]] virtual TCanvas* GetCanvas() { return nullptr; }

  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  // The parent's colour or font changed and this control follows it.
  virtual void ParentColorChanged();
  virtual void ParentFontChanged();
  virtual void Changed(UINT cm) { Perform(cm); }
  // The control's bounds changed (after the window moved).
  virtual void Resized() {}
  // The reading order changed (its own or, while it follows, its parent's).
  virtual void BiDiModeChanged() {}

  // The flag alone, without telling anyone (forms start hidden).
  void SetVisibleFlag(bool value) { visible_ = value; }
  // Lets a control change its bounds without the window system hearing (on WM_SIZE).
  void UpdateBoundsRect(const Rect& r) { bounds_ = r; }

  friend class TWinControl;

 private:
  void HandleMouse(TMessage& message);

  TWinControl* parent_ = nullptr;
  Rect bounds_{0, 0, 0, 0};
  TAlign align_ = TAlign::alNone;
  bool visible_ = true;
  bool enabled_ = true;
  TColor color_ = clWindow;
  bool parentColor_ = false;
  TFont font_;
  bool parentFont_ = true;
  TBiDiMode biDiMode_ = TBiDiMode::bdLeftToRight;
  bool parentBiDiMode_ = true;
  std::string text_;
  std::string hint_;
  unsigned controlStyle_ = csCaptureMouse | csClickEvents | csSetCaption | csDoubleClicks;
  unsigned controlState_ = 0;
  int tag_ = 0;
};

// A control with a window of its own: children, focus, keyboard, a tab order.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  // Also the name of its window class.
  [[nodiscard]] std::string ClassName() const override { return "TWinControl"; }
  ~TWinControl() override;

  // The window, made (with those of the parents) on first use.
  [[nodiscard]] HWND Handle();
  [[nodiscard]] bool HandleAllocated() const { return handle_ != 0; }
  void HandleNeeded() { (void)Handle(); }
  // The control of a window of this program, null for any other handle.
  [[nodiscard]] static TWinControl* FromHandle(HWND hwnd);

  [[nodiscard]] int ControlCount() const { return int(controls_.size()); }
  [[nodiscard]] TControl* Controls(int index) const { return controls_.at(std::size_t(index)); }

  [[nodiscard]] bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value) { tabStop_ = value; }
  // Position among the parent's tab stops; setting moves the others along.
  [[nodiscard]] int TabOrder() const;
  void SetTabOrder(int order);
  // The windowed children in tab order, depth first.
  void GetTabOrderList(std::vector<TWinControl*>& list) const;

  [[nodiscard]] virtual bool CanFocus() const;
  [[nodiscard]] bool Focused() const;
  virtual void SetFocus();
  // The next (or previous) tab stop after `current` within this control; focuses it.
  void SelectNext(TWinControl* current, bool forward, bool checkTabStop);
  [[nodiscard]] TWinControl* FindNextControl(TWinControl* current, bool forward,
                                             bool checkTabStop) const;

  // The deepest visible control (graphic ones included) under a client point, or null.
  [[nodiscard]] TControl* ControlAtPos(Point p, bool allowDisabled) const;

  // With a window: the client rectangle the window's WM_NCCALCSIZE left (a border drawn in
  // the non-client area is not part of it); before: the whole size.
  [[nodiscard]] Rect ClientRect() const override;
  void Invalidate() override;
  void Update() override;
  // Part of the client area to paint again.
  void InvalidateArea(const Rect& r);
  void SetBounds(int left, int top, int width, int height) override;
  // Lays the aligned children out again.
  void Realign();
  void Loaded() override;

  // Makes the window (and its children's) again, as CM_RECREATEWND asks.
  void RecreateWnd();

  // The window system's entry: every message of the control's window comes here.
  LRESULT ProcedureFor(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;

 protected:
  struct CreateParams {
    std::uint32_t Style = 0;
    std::uint32_t ExStyle = 0;
    std::string Caption;
    bool TopLevel = false;
    HWND WndParent = 0;  // set: the window is made inside it, whatever TopLevel says
    // A hidden window of the message layer only (no window of the display, no parent):
    // for timers and posted messages, also on a thread without the window system.
    bool MessageOnly = false;
  };
  virtual void CreateParamsFor(CreateParams& params);
  virtual void CreateWnd();
  virtual void DestroyWnd();
  void WndProc(TMessage& message) override;
  void DefaultHandler(TMessage& message) override;
  // Paints the window: background, Paint of a custom control, then the graphic children.
  virtual void PaintWindow(DC* dc);
  void PaintControls(DC* dc);

  // Keys after the form's preview; return true when the key was used up.
  virtual bool DoKeyDown(std::uint16_t& key, TShiftState shift);
  virtual bool DoKeyPress(char& key);
  virtual void KeyDown(std::uint16_t& key, TShiftState shift) {}
  virtual void KeyUp(std::uint16_t& key, TShiftState shift) {}
  virtual void KeyPress(char& key) {}
  virtual void DoEnter();
  virtual void DoExit();
  // WM_GETDLGCODE's answer.
  [[nodiscard]] virtual LRESULT DialogCode() const { return 0; }
  // Whether a click gives this control the focus.
  [[nodiscard]] virtual bool FocusOnClick() const;

  // Children join and leave through SetParent.
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  virtual void AlignControls();
  // The part of the client area aligned children fill (inside borders and bevels).
  virtual void AdjustClientRect(Rect& r) const {}
  // CM_PARENTCOLORCHANGED or the parent font to every child.
  void NotifyChildren(UINT cm);
  // True when the form took the key as a dialog key.
  bool SendDialogKey(std::uint16_t key, LPARAM keyData);
  // CM_DIALOGCHAR to the form, which offers it to its controls; true when one took it.
  bool SendDialogChar(WPARAM key, LPARAM keyData);

  friend class TControl;

 private:
  void CreateHandle();
  void UpdateMouseControl(Point client);

  HWND handle_ = 0;
  std::vector<TControl*> controls_;    // every child, back to front
  std::vector<TWinControl*> tabList_;  // windowed children, in tab order
  bool tabStop_ = false;
  bool destroyingHandle_ = false;
  bool messageOnly_ = false;  // the window is a hidden one of the message layer
  bool aligning_ = false;
};

// Painted by the parent on its canvas; no window of its own.
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* owner);
  ~TGraphicControl() override;
  [[nodiscard]] TCanvas& Canvas() { return canvas_; }

 protected:
  void WndProc(TMessage& message) override;
  TCanvas* GetCanvas() override { return &canvas_; }

 private:
  TCanvas canvas_;
};

// A windowed control that paints itself on its canvas.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TCustomControl"; }
  ~TCustomControl() override;
  [[nodiscard]] TCanvas& Canvas() { return canvas_; }

 protected:
  void PaintWindow(DC* dc) override;
  TCanvas* GetCanvas() override { return &canvas_; }

 private:
  TCanvas canvas_;
};

// Shift state from the window system's key-state flags and GetKeyState.
[[nodiscard]] TShiftState KeyboardShiftState();
[[nodiscard]] TShiftState MouseShiftState(WPARAM keys);

// The default look of raised and lowered 3-D frames.
void Frame3D(TCanvas& canvas, Rect& r, TColor topLeft, TColor bottomRight, int width);

}  // namespace qv
