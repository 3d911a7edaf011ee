// The engine's owner-painted push buttons: the face is rendered into the style's cached
// bitmap in a normal and a hot look, blitted on paint, and cross-faded between the looks by
// a timer. TsButton adds the dialog behaviour (default and cancel buttons, modal results,
// the focus frame and the keys).
#pragma once

#include <memory>
#include <string>

#include "platform/classlib/actnlist.h"
#include "platform/classlib/controls.h"
#include "platform/classlib/imglist.h"
#include "platform/classlib/menus.h"
#include "platform/msg/timer.h"
#include "skin/sfadeeffects.h"
#include "skin/sstyles.h"

namespace qv {

class TsButtonControl;

class TFadeTimer : public TTimer {
 public:
  explicit TFadeTimer(TsButtonControl* button);
  [[nodiscard]] int FadeMode() const { return fadeMode_; }
  // 0 idle, 1 fading in, 2 fading out; the timer runs exactly while the mode is not 0.
  void SetFadeMode(int mode);

 protected:
  void Timer() override;

 private:
  TsButtonControl* button_;
  int fadeMode_ = 0;
};

// Where the caption of a button goes (layout 0..3) and the DrawText alignment flag it
// gets; `down` moves it one pixel right and down.
struct TsCaptionPlacement {
  Rect Bounds;
  unsigned Flag = 0;
};
[[nodiscard]] TsCaptionPlacement ButtonCaptionRect(int w, int h, int glyphW, int glyphH,
                                                   int captionW, int captionH, int margin,
                                                   int spacing, int layout, TAlignment alignment,
                                                   bool hasCaption, bool down);
// Where the glyph's top-left goes for the same terms; `gap` is the spacing when the caption
// is shown and not empty and a glyph exists, else 0.
[[nodiscard]] Point ButtonGlyphPos(int w, int h, int glyphW, int glyphH, int captionW, int captionH,
                                   int margin, int gap, int layout, TAlignment alignment,
                                   bool down);

// Width and height of the drop-down arrow's triangle.
inline constexpr int kDropArrowWidth = 6;
inline constexpr int kDropArrowHeight = 3;

class TsButtonActionLink;

class TsButtonControl : public TCustomControl {
 public:
  explicit TsButtonControl(TComponent* owner);
  ~TsButtonControl() override;
  [[nodiscard]] std::string ClassName() const override { return "TsButtonControl"; }

  [[nodiscard]] TsActiveBGStyle* sStyle() { return style_.get(); }
  [[nodiscard]] const TsActiveBGStyle* sStyle() const { return style_.get(); }

  [[nodiscard]] int Margin() const { return margin_; }
  void SetMargin(int value);
  TsDisabledKind DisabledKind = dkBlended;
  // How the glyph of a disabled button is drawn when no DisabledImages list applies.
  TsDisabledKind DisabledGlyphKind = dkBlended;
  TAlignment Alignment = TAlignment::taCenter;
  bool ShowCaption = true;
  int Spacing = 3;
  [[nodiscard]] int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value);
  // 0 push, 1 toggle (stays down), 2 drop-down (the arrow part opens DropdownMenu), 3 and
  // 4 painted over the parent's picture (4 with a bevel strip).
  std::uint8_t ButtonStyle = 0;
  [[nodiscard]] bool Down() const { return down_; }
  // Also the state a toggle (style 1) keeps.
  void SetDown(bool value);
  std::uint8_t Layout = 0;

  // Glyph sources. Images is watched for changes; all three are dropped when freed.
  [[nodiscard]] TCustomImageList* Images() const { return images_; }
  void SetImages(TCustomImageList* value);
  [[nodiscard]] TCustomImageList* NormalImages() const { return normalImages_; }
  void SetNormalImages(TCustomImageList* value);
  [[nodiscard]] TCustomImageList* DisabledImages() const { return disabledImages_; }
  void SetDisabledImages(TCustomImageList* value);
  [[nodiscard]] int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  // The list the glyph comes from in the current state (null: none).
  [[nodiscard]] TCustomImageList* CurrentImages() const;
  // Grey glyph from Images while the button is not hot.
  bool GlyphGrayed = false;
  // Percent of the face that shows through the glyph while the button is not hot.
  int GlyphBlend = 0;
  [[nodiscard]] bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  // Sizes the button to its glyph, caption, spacing, margins and bevel (AutoSize).
  void AdjustSize();
  [[nodiscard]] TPopupMenu* DropdownMenu() const { return dropdownMenu_; }
  void SetDropdownMenu(TPopupMenu* value);
  // The drop-down menu is showing.
  [[nodiscard]] bool DroppedDown() const { return droppedDown_; }
  // Width of the arrow part at the right of a drop-down button (0: none).
  [[nodiscard]] virtual int ArrowWidth() const { return 0; }

  // The action the button follows (caption, Down, image index, hint) and runs on a click.
  [[nodiscard]] TBasicAction* Action() const;
  void SetAction(TBasicAction* value);
  // The action changed: take its image list (when the button has none), image index,
  // caption and hint.
  virtual void ActionChange(TBasicAction* sender);
  void Click() override;

  // The left button is held on the control.
  [[nodiscard]] bool MouseHeld() const { return (ControlState() & csLButtonDown) != 0; }

  void StartFadeIn();
  void StartFadeOut();
  void StopFade();
  [[nodiscard]] TFadeTimer& FadeTimer() { return *fadeTimer_; }
  [[nodiscard]] int FadeStep() const { return fadeStep_; }
  // One tick of the fade (the timer calls it).
  void FadeTick();
  // The alpha of the current fade step.
  [[nodiscard]] int FadeAlpha() const;
  // The copy of the look a fade starts from.
  [[nodiscard]] const TBitmap& NormalImage() const { return normalImage_; }
  // The alpha of the last blend shown (-1 before any).
  int LastFadeAlpha = -1;

  // The caption rectangle for the current size, font and state.
  [[nodiscard]] TsCaptionPlacement CaptionPlacement();
  // The glyph's top-left for the current size, font and state.
  [[nodiscard]] Point GlyphPlacement();
  [[nodiscard]] int GlyphWidth() const;
  [[nodiscard]] int GlyphHeight() const;

  // On first joining a parent the style takes the class name as its section when it has none.
  void SetParent(TWinControl* parent) override;
  void Loaded() override;

 protected:
  void WndProc(TMessage& message) override;
  void Paint() override;
  // Border by state, caption and focus frame into the cache.
  virtual void PaintFace();
  virtual void PaintCaption(Rect r, unsigned flags);
  // The image-list glyph at its place in the cache.
  virtual void PaintGlyph();
  // Style 2: the drop-down triangle in the arrow part.
  virtual void PaintArrow();
  void Notification(TComponent* component, TOperation operation) override;
  // Renders the whole face into the cache (background and face). While a fade runs the
  // blend owns the face: only the parent's picture under styles 3 and 4 and the disabled
  // look are painted.
  void RenderCache(bool fading = false);
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  [[nodiscard]] virtual bool ShowsFocusFrame() { return false; }
  // A key holds the button pressed until it comes up (or the focus goes); the press's end
  // shows the state the button rests in: up, or a toggle's own.
  void PressByKey();
  void EndKeyPress();
  [[nodiscard]] bool KeyPressed() const { return keyPress_; }
  // The pressed look alone; a toggle's own state stays.
  void ShowDown(bool value);
  [[nodiscard]] bool ToggleDown() const { return toggleDown_; }
  [[nodiscard]] virtual int FocusMarginValue() const { return 0; }
  std::unique_ptr<TsActiveBGStyle> style_;

 private:
  void FadeStep(bool in);
  [[nodiscard]] bool Fading() const { return fadeTimer_->FadeMode() != 0; }
  // Caption size as measured for placement (glyph terms included).
  [[nodiscard]] Size MeasureCaption();
  void DropDown();
  void ImagesChanged();
  int margin_ = 0;
  TCustomImageList* images_ = nullptr;
  TCustomImageList* normalImages_ = nullptr;
  TCustomImageList* disabledImages_ = nullptr;
  TChangeLink imageChangeLink_;
  int imageIndex_ = -1;
  bool autoSize_ = false;
  TPopupMenu* dropdownMenu_ = nullptr;
  bool droppedDown_ = false;
  std::unique_ptr<TsButtonActionLink> actionLink_;
  int bevelWidth_ = 2;
  bool down_ = false;
  // The toggle's state (down after an odd number of clicks) and whether a key holds the
  // button pressed.
  bool toggleDown_ = false;
  bool keyPress_ = false;
  TBitmap normalImage_;
  int fadeStep_ = 0;
  std::unique_ptr<TFadeTimer> fadeTimer_;
};

class TsButton : public TsButtonControl {
 public:
  explicit TsButton(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TsButton"; }

  bool Cancel = false;
  [[nodiscard]] bool Default() const { return default_; }
  void SetDefault(bool value);
  int ModalResult = 0;
  bool ShowFocus = true;
  int FocusMargin = 1;
  // This is the button Enter would press.
  [[nodiscard]] bool DefaultActive() const { return defaultActive_; }
  // Default and currently acting as the form's default button.
  [[nodiscard]] bool ActsAsDefault() const { return default_ && defaultActive_; }

  void Click() override;
  // A drop-down button keeps a part at its right for the arrow.
  [[nodiscard]] int ArrowWidth() const override { return ButtonStyle == 2 ? kArrowPart : 0; }
  static constexpr int kArrowPart = 15;

 protected:
  void WndProc(TMessage& message) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  bool ShowsFocusFrame() override;
  int FocusMarginValue() const override { return FocusMargin; }

 private:
  // Enter or Escape: pressed, clicked and let go at once.
  void PressAndClick();
  bool default_ = false;
  bool defaultActive_ = false;
};

// Links a button to an action's caption, checked state (Down) and image index.
class TsButtonActionLink : public TControlActionLink {
 public:
  explicit TsButtonActionLink(TsButtonControl* button)
      : TControlActionLink(button), button_(button) {}
  // Checked follows the action only while the action's Checked equals Down.
  [[nodiscard]] bool IsCheckedLinked() const override;
  [[nodiscard]] bool IsImageIndexLinked() const override;
  // The text changes only when it differs.
  void SetCaption(const std::string& value) override;
  void SetChecked(bool value) override;
  void SetImageIndex(int value) override;
  void Change() override;

 private:
  TsButtonControl* button_;  // the owner of the link
};

}  // namespace qv
