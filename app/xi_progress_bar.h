// The rip's progress bar: a two-colour gradient background, a gradient bar and a border,
// from one of twelve colour schemes or five colours of its own. A new position is painted at
// once, so the bar moves while the rip loop serves messages. Until the control library
// exists it renders into a bitmap of its own; the control will copy that to the screen
// through the two hooks. Main thread only.
#pragma once

#include <functional>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/color.h"

namespace qv {

class DC;

enum class TColorScheme {
  csCustom,
  csDesert,
  csGrass,
  csSilver,
  csSky,
  csRose,
  csSun,
  csHackers,
  csNight,
  csVelvet,
  csMetal,
  csViolet,
  csToxic
};
enum class TProgressBarOrientation { pbHorizontal, pbVertical };

class TXiProgressBar {
 public:
  TXiProgressBar();

  [[nodiscard]] TColorScheme ColorScheme() const { return scheme_; }
  // Sets the five colours; csCustom keeps them.
  void SetColorScheme(TColorScheme Value);
  [[nodiscard]] TColor ColorBorder() const { return border_; }
  [[nodiscard]] TColor BackColorFace() const { return backFace_; }
  [[nodiscard]] TColor BackColorGrad() const { return backGrad_; }
  [[nodiscard]] TColor ForeColorFace() const { return foreFace_; }
  [[nodiscard]] TColor ForeColorGrad() const { return foreGrad_; }
  // Each switches the scheme to csCustom.
  void SetColorBorder(TColor Value);
  void SetBackColorFace(TColor Value);
  void SetBackColorGrad(TColor Value);
  void SetForeColorFace(TColor Value);
  void SetForeColorGrad(TColor Value);

  [[nodiscard]] int Min() const { return min_; }
  [[nodiscard]] int Max() const { return max_; }
  [[nodiscard]] int Position() const { return position_; }
  [[nodiscard]] int Step() const { return step_; }
  // Ignored when above Max.
  void SetMin(int Value);
  // Ignored when below Min.
  void SetMax(int Value);
  // A value below Min (an output that cannot tell its size reports -1) is ignored; any
  // other is kept, also above Max.
  void SetPosition(int Value);
  void SetStep(int Value);
  [[nodiscard]] TProgressBarOrientation Orientation() const { return orientation_; }
  void SetOrientation(TProgressBarOrientation Value);

  int Width = 200;
  int Height = 16;
  bool Visible = true;

  // The control's paint-now and invalidate; without them nothing happens.
  std::function<void()> OnRepaint;
  std::function<void()> OnInvalidate;

  // The control's picture at its size (empty when not visible or of no size).
  [[nodiscard]] Bitmap Render() const;
  // Paints the picture onto `Canvas` at (X, Y).
  void Paint(DC& Canvas, int X, int Y) const;

 private:
  void SetColor(TColor& Field, TColor Value);
  void Repaint() const {
    if (OnRepaint) OnRepaint();
  }
  void Invalidate() const {
    if (OnInvalidate) OnInvalidate();
  }

  TColorScheme scheme_ = TColorScheme::csDesert;
  TColor border_ = 0, backFace_ = 0, backGrad_ = 0, foreFace_ = 0, foreGrad_ = 0;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  int step_ = 10;
  TProgressBarOrientation orientation_ = TProgressBarOrientation::pbHorizontal;
};

}  // namespace qv
