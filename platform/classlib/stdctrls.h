// The standard controls with a plain look: label, push button, single-line edit, list box,
// drop-down combo box and scroll bar. They behave as users know them: buttons click on a
// release over them, edits type and select with keys and mouse, lists choose with arrows
// and clicks. GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/stringlist.h"
#include "platform/classlib/controls.h"

namespace qv {

enum class TBorderStyle { bsNone, bsSingle };
enum class TTextLayout { tlTop, tlCenter, tlBottom };

class TLabel : public TGraphicControl {
 public:
  explicit TLabel(TComponent* owner);

  [[nodiscard]] TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  [[nodiscard]] TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout value);
  [[nodiscard]] bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  [[nodiscard]] bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);

 protected:
  void Paint() override;

 private:
  TAlignment alignment_ = TAlignment::taLeftJustify;
  TTextLayout layout_ = TTextLayout::tlTop;
  bool wordWrap_ = false;
  bool transparent_ = false;
};

class TButton : public TCustomControl {
 public:
  explicit TButton(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TButton"; }

  // Enter anywhere on the form clicks the default button; Escape the cancel button.
  [[nodiscard]] bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  [[nodiscard]] bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  // A click sets the form's ModalResult to this when it is not mrNone.
  [[nodiscard]] int ModalResult() const { return modalResult_; }
  void SetModalResult(int value) { modalResult_ = value; }

  void Click() override;

 protected:
  void WndProc(TMessage& message) override;
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void KeyDown(std::uint16_t& key, TShiftState shift) override;
  void KeyUp(std::uint16_t& key, TShiftState shift) override;

 private:
  void SetPressed(bool value);

  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = 0;
  bool pressed_ = false;    // drawn pushed in
  bool spaceDown_ = false;  // the space bar holds it
};

// One line of text. Positions count bytes of the UTF-8 text and always fall between
// characters.
class TEdit : public TCustomControl {
 public:
  explicit TEdit(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TEdit"; }

  void SetText(std::string_view text) override;
  [[nodiscard]] bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  // 0: no limit; counts characters.
  [[nodiscard]] int MaxLength() const { return maxLength_; }
  void SetMaxLength(int value) { maxLength_ = value; }
  [[nodiscard]] TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  [[nodiscard]] bool AutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool value) { autoSelect_ = value; }

  [[nodiscard]] int SelStart() const;
  void SetSelStart(int value);
  [[nodiscard]] int SelLength() const;
  void SetSelLength(int value);
  [[nodiscard]] std::string SelText() const;
  // Replaces the selection (typing does the same).
  void SetSelText(std::string_view text);
  void SelectAll();
  void ClearSelection() { SetSelText(""); }
  // Where the caret is (the moving end of the selection).
  [[nodiscard]] int CaretPos() const { return caret_; }

  TNotifyEvent OnChange;

 protected:
  void WndProc(TMessage& message) override;
  void Paint() override;
  LRESULT DialogCode() const override { return DLGC_WANTARROWS | DLGC_WANTCHARS; }
  void KeyDown(std::uint16_t& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void DoEnter() override;

 private:
  [[nodiscard]] int Border() const { return borderStyle_ == TBorderStyle::bsSingle ? 2 : 0; }
  [[nodiscard]] int PosFromX(int x);
  [[nodiscard]] int XFromPos(int pos);
  void MoveCaret(int pos, bool extend);
  void Replace(std::string_view text);
  void TextChanged();

  bool readOnly_ = false;
  int maxLength_ = 0;
  TBorderStyle borderStyle_ = TBorderStyle::bsSingle;
  bool autoSelect_ = true;
  int caret_ = 0;
  int anchor_ = 0;
  int scroll_ = 0;  // pixels of text scrolled out on the left
};

// Items of a list or combo box: a string list that repaints its control when it changes.
class TControlStrings {
 public:
  explicit TControlStrings(TControl* control) : control_(control) {}
  [[nodiscard]] int Count() const { return list_.Count(); }
  [[nodiscard]] const std::string& Strings(int index) const { return list_.Strings(index); }
  [[nodiscard]] const std::string& operator[](int index) const { return list_.Strings(index); }
  int Add(std::string s);
  void Insert(int index, std::string s);
  void Delete(int index);
  void Clear();
  void SetStrings(int index, std::string s);
  void Assign(const TStringList& list);
  [[nodiscard]] int IndexOf(std::string_view s) const { return list_.IndexOf(s); }
  [[nodiscard]] const TStringList& List() const { return list_; }
  void BeginUpdate() { ++updating_; }
  void EndUpdate();

  // Called after every change, with the control's own reaction (clamping its index).
  std::function<void()> OnChange;

 private:
  void Changed();

  TControl* control_;  // the owning control
  TStringList list_;
  int updating_ = 0;
};

class TScrollBar;

class TListBox : public TCustomControl {
 public:
  explicit TListBox(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TListBox"; }

  [[nodiscard]] TControlStrings& Items() { return items_; }
  // -1: nothing chosen. Setting it raises no event; the user's choices raise OnClick.
  [[nodiscard]] int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  [[nodiscard]] int TopIndex() const { return topIndex_; }
  void SetTopIndex(int index);
  [[nodiscard]] int ItemHeight() const;
  void SetItemHeight(int value) { itemHeight_ = value; }
  [[nodiscard]] TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  // The item at a client point, -1 for none.
  [[nodiscard]] int ItemAtPos(Point p) const;

 protected:
  void Paint() override;
  void WndProc(TMessage& message) override;
  LRESULT DialogCode() const override { return DLGC_WANTARROWS | DLGC_WANTCHARS; }
  void KeyDown(std::uint16_t& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void Click() override {}  // OnClick follows the choice, not the mouse button
  void Resized() override { UpdateScrollBar(); }

 private:
  [[nodiscard]] int Border() const { return borderStyle_ == TBorderStyle::bsSingle ? 2 : 0; }
  [[nodiscard]] int VisibleRows() const;
  void Choose(int index);
  void MakeVisible(int index);
  // Shows a vertical scroll bar while there are more items than rows, in step with TopIndex.
  void UpdateScrollBar();
  [[nodiscard]] int RowsRight() const;

  TControlStrings items_{this};
  int itemIndex_ = -1;
  int topIndex_ = 0;
  int itemHeight_ = 0;  // 0: from the font
  TBorderStyle borderStyle_ = TBorderStyle::bsSingle;
  TScrollBar* scrollBar_ = nullptr;  // a child owned by this control, made when needed
};

class TComboDropDown;

// The dropped list asks its combo box to close it (wParam 1: take the highlighted item).
constexpr UINT CM_CLOSEUP = 0xB1F1;

// A field showing the chosen item and a button that drops the list down (the class
// library's drop-down-list style). The field's text is the chosen item; a program may set
// another text, the user cannot type one.
class TComboBox : public TCustomControl {
 public:
  explicit TComboBox(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TComboBox"; }
  ~TComboBox() override;

  [[nodiscard]] TControlStrings& Items() { return items_; }
  [[nodiscard]] int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  [[nodiscard]] int DropDownCount() const { return dropDownCount_; }
  void SetDropDownCount(int value) { dropDownCount_ = value; }
  [[nodiscard]] bool DroppedDown() const { return dropDown_ != nullptr; }
  void SetDroppedDown(bool value);

  // Raised when the user changes the choice.
  TNotifyEvent OnChange;

 protected:
  void Paint() override;
  void WndProc(TMessage& message) override;
  LRESULT DialogCode() const override;
  void KeyDown(std::uint16_t& key, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void Click() override {}
  // Whoever overrides it must call it: it raises OnChange.
  virtual void Change();

 private:
  friend class TComboDropDown;
  void CloseUp(bool accept);
  void Choose(int index);

  TControlStrings items_{this};
  int itemIndex_ = -1;
  int dropDownCount_ = 8;
  TComboDropDown* dropDown_ = nullptr;  // owned by this control while shown
};

// The class library derives its published controls from these; here the published classes
// are the bases, with every property public and the behaviour virtual.
using TCustomEdit = TEdit;
using TCustomListBox = TListBox;
using TCustomComboBox = TComboBox;

enum class TScrollBarKind { sbHorizontal, sbVertical };
enum TScrollCode {
  scLineUp,
  scLineDown,
  scPageUp,
  scPageDown,
  scPosition,
  scTrack,
  scTop,
  scBottom,
  scEndScroll,
};
// A scroll bar's line or page step (1..32767).
using TScrollBarInc = int;
using TScrollEvent =
    std::function<void(TComponent* Sender, TScrollCode ScrollCode, int& ScrollPos)>;

// The scroll code of a scroll request (SB_LINEUP ...) and the position it asks for from
// `position`, held to [min, max]. `direction` -1 steps lines and pages the other way (a
// right-to-left bar); `thumbPos` is the thumb's position for SB_THUMBPOSITION/SB_THUMBTRACK.
TScrollCode ScrollRequest(WPARAM code, int position, int thumbPos, int smallChange, int largeChange,
                          int min, int max, int direction, int& newPos);

class TScrollBar : public TCustomControl {
 public:
  explicit TScrollBar(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TScrollBar"; }

  [[nodiscard]] TScrollBarKind Kind() const { return kind_; }
  void SetKind(TScrollBarKind kind);
  [[nodiscard]] int Min() const { return min_; }
  [[nodiscard]] int Max() const { return max_; }
  [[nodiscard]] int Position() const { return position_; }
  void SetPosition(int value);
  void SetParams(int position, int min, int max);
  void SetMin(int v) { SetParams(position_, v, max_); }
  void SetMax(int v) { SetParams(position_, min_, v); }
  [[nodiscard]] int SmallChange() const { return smallChange_; }
  void SetSmallChange(int v) { smallChange_ = v; }
  [[nodiscard]] int LargeChange() const { return largeChange_; }
  void SetLargeChange(int v) { largeChange_ = v; }
  [[nodiscard]] int PageSize() const { return pageSize_; }
  void SetPageSize(int v);

  // One scroll step as the platform reports it: OnScroll may change the new position,
  // then Position takes it (OnChange when it moved).
  void DoScroll(WPARAM code, int thumbPos);

  TNotifyEvent OnChange;
  TScrollEvent OnScroll;

 protected:
  void Paint() override;
  LRESULT DialogCode() const override { return DLGC_WANTARROWS; }
  // A scroll bar that is no tab stop (one inside a list) leaves the focus where it is.
  bool FocusOnClick() const override { return TabStop(); }
  void KeyDown(std::uint16_t& key, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void Click() override {}

 private:
  [[nodiscard]] int Length() const;
  [[nodiscard]] int Thickness() const;
  // The thumb along the track: start and size in pixels from the control's start.
  void Thumb(int& start, int& size) const;
  [[nodiscard]] int PosFromPixel(int pixel) const;

  TScrollBarKind kind_ = TScrollBarKind::sbHorizontal;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  int smallChange_ = 1;
  int largeChange_ = 1;
  int pageSize_ = 0;
  bool dragging_ = false;
  int dragOffset_ = 0;
};

}  // namespace qv
