// The rip's progress bar: a two-colour gradient background, a gradient bar and a border,
// from one of twelve colour schemes or five colours of its own. A new position is painted at
// once, so the bar moves while the rip loop serves messages. It is painted by its parent:
// the picture is drawn into an off-screen bitmap and copied onto the control's canvas.
// Main thread only.
#pragma once

#include "platform/classlib/controls.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/color.h"

namespace qv {

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

class TXiProgressBar : public TGraphicControl {
 public:
  // 200 x 16.
  explicit TXiProgressBar(TComponent* owner = nullptr);

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

  // The control's picture at its size (empty when not visible or of no size).
  [[nodiscard]] Bitmap Render() const;

 protected:
  // Copies the picture onto the control's canvas.
  void Paint() override;

 private:
  void SetColor(TColor& Field, TColor Value);

  TColorScheme scheme_ = TColorScheme::csDesert;
  TColor border_ = 0, backFace_ = 0, backGrad_ = 0, foreFace_ = 0, foreGrad_ = 0;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  int step_ = 10;
  TProgressBarOrientation orientation_ = TProgressBarOrientation::pbHorizontal;
};

}  // namespace qv
