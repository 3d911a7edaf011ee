// The engine's owner-painted push buttons: the face is rendered into the style's cached
// bitmap in a normal and a hot look, blitted on paint, and cross-faded between the looks by
// a timer. TsButton adds the dialog behaviour (default and cancel buttons, modal results,
// the focus frame and the keys).
#pragma once

#include <memory>
#include <string>

#include "platform/classlib/controls.h"
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
  TAlignment Alignment = TAlignment::taCenter;
  bool ShowCaption = true;
  int Spacing = 3;
  [[nodiscard]] int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value);
  std::uint8_t ButtonStyle = 0;
  [[nodiscard]] bool Down() const { return down_; }
  void SetDown(bool value);
  std::uint8_t Layout = 0;

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
  // The alpha of the last blend shown (-1 before any).
  int LastFadeAlpha = -1;

  // The caption rectangle for the current size, font and state.
  [[nodiscard]] TsCaptionPlacement CaptionPlacement();

  // On first joining a parent the style takes the class name as its section when it has none.
  void SetParent(TWinControl* parent) override;
  void Loaded() override;

 protected:
  void WndProc(TMessage& message) override;
  void Paint() override;
  // Border by state, caption and focus frame into the cache.
  virtual void PaintFace();
  virtual void PaintCaption(Rect r, unsigned flags);
  // Renders the whole face into the cache (background and face).
  void RenderCache();
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  [[nodiscard]] virtual bool ShowsFocusFrame() { return false; }
  [[nodiscard]] virtual int FocusMarginValue() const { return 0; }
  std::unique_ptr<TsActiveBGStyle> style_;

 private:
  void FadeStep(bool in);
  [[nodiscard]] bool Fading() const { return fadeTimer_->FadeMode() != 0; }
  int margin_ = 0;
  int bevelWidth_ = 2;
  bool down_ = false;
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

 protected:
  void WndProc(TMessage& message) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  bool ShowsFocusFrame() override;
  int FocusMarginValue() const override { return FocusMargin; }

 private:
  void PressByKey();
  bool default_ = false;
  bool defaultActive_ = false;
};

// Links a button to an action's caption, checked state (Down) and image index.
class TsButtonActionLink {
 public:
  explicit TsButtonActionLink(TsButtonControl* button) : button_(button) {}
  [[nodiscard]] bool IsCheckedLinked(bool actionChecked) const {
    return actionChecked == button_->Down();
  }
  void SetCaption(const std::string& value) {
    if (button_->Caption() != value) button_->SetCaption(value);
  }
  void SetChecked(bool value) { button_->SetDown(value); }

 private:
  TsButtonControl* button_;
};

}  // namespace qv
