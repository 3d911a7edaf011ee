// The skinned scroll bar: the class library's scroll-bar interface, painted from the skin's
// scroll sections while a skin is active, with its own hit testing, pressing and 100 ms
// auto-repeat. The form provider puts these in place of a form's own scroll bars.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/classlib/controls.h"
#include "platform/classlib/graphics.h"
#include "platform/classlib/stdctrls.h"
#include "platform/msg/timer.h"
#include "skin/sfadeeffects.h"
#include "skin/smessages.h"
#include "skin/sstyles.h"

namespace qv {

class TCustomForm;

using TOnChangeEvent = std::function<void(TComponent* Sender, int OldValue)>;

enum TsScrollBarPart { sbpFirstButton, sbpSecondButton, sbpTrackBefore, sbpTrackAfter, sbpThumb };

// The text of the range check (the class library's message for a bad scroll-bar range).
inline constexpr const char* kScrollBarRangeText = "Scroll bar property out of range";
// What follows the text: a line feed, then a carriage return, then the limit.
inline constexpr const char* kScrollBarRangeBreak = "\n\r";

class TsScrollBar : public TCustomControl {
 public:
  explicit TsScrollBar(TComponent* owner);
  ~TsScrollBar() override;
  // Also the skin link's default section.
  [[nodiscard]] std::string ClassName() const override { return "TsScrollBar"; }

  [[nodiscard]] TScrollBarKind Kind() const { return kind_; }
  // Swaps width and height when the kind changes (outside loading).
  void SetKind(TScrollBarKind kind);
  [[nodiscard]] int Position() const { return position_; }
  void SetPosition(int value);
  [[nodiscard]] int Min() const { return min_; }
  void SetMin(int value);
  [[nodiscard]] int Max() const { return max_; }
  void SetMax(int value);
  [[nodiscard]] int PageSize() const { return pageSize_; }
  // Negative values are ignored.
  void SetPageSize(int value);
  TScrollBarInc SmallChange = 1;
  TScrollBarInc LargeChange = 1;
  bool Smooth = true;
  TsDisabledKind DisabledKind = dkBlended;
  TOnChangeEvent OnChange;
  // Every scroll the bar does, before the position moves: the code says what moved it
  // (a button: line, the track: page, the thumb: track while dragged and position when
  // let go, Home and End: top and bottom, a release: end) and the handler may change the
  // position it is given.
  TScrollEvent OnScroll;

  // The class library's scroll logic for a scroll code (SB_LINEUP ...) from a scroll
  // notification: the line and page steps go the other way for a horizontal bar in
  // right-to-left mode, thumb positions come mirrored from its window.
  void DoScroll(WPARAM code, int thumbPos);

  // While set, the bar does not paint; EndUpdate clears it and repaints when something
  // changed meanwhile.
  bool UpdateLock = false;
  void EndUpdate();
  // Set by a moved position and by every part-state change; cleared by painting.
  bool NeedRepaint = false;

  // The bar's skin link (kind 142): section indexes, focus and hover, and the cached
  // picture of its track, which it gives as the background of what lies on it.
  [[nodiscard]] TsCommonData& CommonData() { return *commonData_; }
  // On joining a parent and after loading the link looks its section up.
  void SetParent(TWinControl* parent) override;
  void Loaded() override;

  // A range with AMax not above AMin reports an error (once per call) and is stored anyway;
  // the position is clamped into the range. The window gets the range and the position
  // (mirrored for a horizontal bar in right-to-left mode); a moved position is reported.
  void SetParams(int APosition, int AMin, int AMax);

  // -1 for a horizontal bar in right-to-left mode (BiDiMode), 1 otherwise: taken when the
  // window is made and again when the reading order changes. Such a bar reports
  // Max - Position to its window.
  [[nodiscard]] int DirectionFactor() const { return factor_; }

  // Set by the form provider: the component that owns the bar and the form it scrolls.
  TComponent* LinkedOwner = nullptr;
  TCustomForm* LinkedForm = nullptr;

  // Part rectangles and states, for painting, tests and the owner.
  [[nodiscard]] Rect PartRect(TsScrollBarPart part) const;
  [[nodiscard]] int PartState(TsScrollBarPart part) const { return states_[part]; }
  // Stores the state; a hot or pressed part makes the buttons and thumb (other than it)
  // normal and the track parts hot.
  void SetPartState(TsScrollBarPart part, int state);
  [[nodiscard]] int ThumbLength() const;
  [[nodiscard]] int ThumbCentre() const;
  // The position a pointer coordinate along the bar stands for.
  [[nodiscard]] int PositionAt(int coordinate) const;
  // The drag of the thumb: the pointer's distance from Position when it was pressed, and for
  // bars that are not Smooth, where the drag began and whether it runs.
  [[nodiscard]] std::int64_t DragOffset() const { return dragOffset_; }
  [[nodiscard]] int DragStartPos() const { return dragStartPos_; }
  [[nodiscard]] bool Dragging() const { return dragging_; }
  // Whether a repeat timer runs.
  [[nodiscard]] bool Repeating() const { return timer_ != nullptr; }

  // The skinned image of the bar as it would be shown (the skin's look; empty without an
  // active skin).
  [[nodiscard]] Bitmap RenderSkinned();

 protected:
  void WndProc(TMessage& message) override;
  void Paint() override;
  LRESULT DialogCode() const override { return DLGC_WANTARROWS; }
  bool FocusOnClick() const override { return TabStop(); }
  void KeyDown(std::uint16_t& key, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void Click() override {}
  void CreateWnd() override;
  void BiDiModeChanged() override;

 private:
  enum class RepeatKind { Button, Track, Thumb };
  [[nodiscard]] bool Vertical() const { return kind_ == TScrollBarKind::sbVertical; }
  [[nodiscard]] int Length() const { return Vertical() ? Height() : Width(); }
  [[nodiscard]] int ButtonSize() const;
  [[nodiscard]] int PointerValue() const;
  // `value` or a step from the position, kept within Min..Max.
  [[nodiscard]] int Clamped(std::int64_t value) const;
  [[nodiscard]] int Stepped(std::int64_t delta) const;
  [[nodiscard]] int PointerAlong() const;
  void Change(int oldValue);
  // OnScroll with the code, then the position it leaves.
  void Scroll(TScrollCode code, int pos);
  // The button and thumb sections' indexes, looked up again after a skin change.
  void UpdateSectionIndexes();
  void StartTimer(RepeatKind kind);
  void StopTimer();
  void OnRepeat(RepeatKind kind);
  void HoverStates(Point p);
  // The part under a client point (buttons and thumb before the track), -1 outside the bar.
  [[nodiscard]] int PartAt(Point p) const;
  void PaintPlain(DC& dc);
  void SendRangeToWindow();
  void TakeDirectionFactor();

  TScrollBarKind kind_ = TScrollBarKind::sbHorizontal;
  int position_ = 0;
  int min_ = 0;
  int max_ = 100;
  int pageSize_ = 0;
  int factor_ = 1;
  int states_[5] = {};
  std::unique_ptr<TTimer> timer_;
  std::int64_t dragOffset_ = 0;
  bool dragging_ = false;
  int dragStartPos_ = 0;
  std::unique_ptr<TsCommonData> commonData_;
  int firstButtonIndex_ = -1;
  int secondButtonIndex_ = -1;
  int thumbIndex_ = -1;
};

}  // namespace qv
