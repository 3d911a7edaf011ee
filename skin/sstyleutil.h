// The style parts: the small property objects through which a style object publishes its
// own painting values (used where the skin has no section for the control, and for values
// a skin does not carry), with their defaults and what each change sets off.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/persistent.h"
#include "platform/classlib/controls.h"
#include "platform/classlib/graphics.h"
#include "skin/sbordermasks.h"
#include "skin/smessages.h"

namespace qv {

// What a style part needs of the style object that owns it. The style objects implement
// it; a part without a style (null) only stores its values.
class TsStyleHost {
 public:
  // The style's own repaint: redraw flag, and a repaint of a ready control.
  virtual void Invalidate() = 0;
  // The control the style serves (null when none).
  [[nodiscard]] virtual TControl* OwnerControl() const = 0;
  // Rebuilds the window region (when its flag is set).
  virtual void UpdateRegion() = 0;
  // The gradient percentage the style paints with (the section's or its own).
  [[nodiscard]] virtual int GetGradientPercent() const = 0;
  // Whether a change of a background part repaints the style (passive background styles).
  [[nodiscard]] virtual bool RepaintsOnBackgroundChange() const = 0;
  // The painting bevel changed: a panel's outer bevel follows it.
  virtual void PaintingBevelChanged(TsControlBevel bevel) {}
  // The region is to be made again when the control is next painted.
  virtual void MarkRegionChanged() = 0;

 protected:
  ~TsStyleHost() = default;
};

// Percentages of the style parts hold 0..100.
[[nodiscard]] constexpr int ClampPercent(int value) {
  return value < 0 ? 0 : value > 100 ? 100 : value;
}

// A percentage of a style part: a value outside 0..100 is clamped as it is assigned.
class TPercent {
 public:
  // Implicit both ways: the parts' fields are plain values to their readers and writers.
  constexpr TPercent(int value = 0) : value_(std::uint8_t(ClampPercent(value))) {}  // NOLINT
  constexpr operator int() const { return value_; }                                 // NOLINT

 private:
  std::uint8_t value_;
};

// SKM_REFRESH with true to the control's parent, and the parent repainted.
void RefreshParent(const TControl* control);

// The painting values of a paint style.
class TsPainting : public TPersistent {
 public:
  explicit TsPainting(TsStyleHost* host) : host_(host) {}
  [[nodiscard]] std::string ClassName() const override { return "TsPainting"; }

  [[nodiscard]] bool ParentColor() const { return parentColor_; }
  // Also the control's ParentColor; when on, the parent's colour is taken.
  void SetParentColor(bool value);
  [[nodiscard]] TColor Color() const { return color_; }
  // The indexed colour setter (index 3): a new colour turns ParentColor off and goes to
  // the control as well. Other indexes, and the colour already held, change nothing.
  void SetColor(int index, TColor value);
  void SetColor(TColor value) { SetColor(kColorIndex, value); }
  [[nodiscard]] TsControlBevel Bevel() const { return bevel_; }
  void SetBevel(TsControlBevel value);
  [[nodiscard]] int Transparency() const { return transparency_; }
  void SetTransparency(int value);
  int BevelWidth = 0;

  static constexpr int kColorIndex = 3;

 private:
  TsStyleHost* host_;
  bool parentColor_ = true;
  TColor color_ = 0xCAC2B7;
  TsControlBevel bevel_ = cbRaisedSoft;
  int transparency_ = 0;
};

// The form style's painting and shadow: plain values.
struct TsPassivePainting {
  TsControlBevel Bevel = cbRaisedSoft;
  TColor Color = clMenu;
  TColor ColorBorderTop = 0xFFFFFF;
  TColor ColorBorderBottom = 0;
  int Transparency = 50;
};
struct TsPassiveShadow {
  bool Enabled = true;
  int Offset = 10;
  TColor Color = 0;
  TPercent Transparency = 50;
  int Blur = 6;
};

struct TsHotPainting {
  TColor Color = 0xCFB78F;
  TColor FontColor = 0;
  TFontStyles FontStyle = 0;
  TPercent Transparency = 0;
  TsControlBevel Bevel = cbRaisedSoft;
  int BevelWidth = 5;
};

class TsHotBackground;

// A part of a background; a change is reported to the background.
class TsBGAddon : public TPersistent {
 public:
  explicit TsBGAddon(TsHotBackground* owner) : owner_(owner) {}
  [[nodiscard]] TsHotBackground* Owner() const { return owner_; }

 protected:
  void Changed();

 private:
  TsHotBackground* owner_;
};

class TsBGImage : public TsBGAddon {
 public:
  using TsBGAddon::TsBGAddon;
  [[nodiscard]] std::string ClassName() const override { return "TsBGImage"; }
  [[nodiscard]] TPicture& Image() { return image_; }
  void SetImage(const TPicture& value);
  [[nodiscard]] const std::string& ImageName() const { return imageName_; }
  // Only a file that exists is taken (and loaded).
  void SetImageName(const std::string& value);
  [[nodiscard]] int Percent() const { return percent_; }
  // Image and gradient together never exceed 100 %: the gradient gives way.
  void SetPercent(int value);
  void Assign(const TPersistent& source) override;

 private:
  friend class TsBGGradient;
  TPicture image_;
  std::string imageName_;
  TPercent percent_ = 0;
};

class TsBGGradient : public TsBGAddon {
 public:
  using TsBGAddon::TsBGAddon;
  [[nodiscard]] std::string ClassName() const override { return "TsBGGradient"; }
  [[nodiscard]] const TsGradientData& Data() const { return data_; }
  // A new text is parsed into GradArray.
  void SetData(const TsGradientData& value);
  [[nodiscard]] const TsGradArray& GradArray() const { return gradArray_; }
  [[nodiscard]] int Percent() const { return percent_; }
  // Image and gradient together never exceed 100 %: the image gives way.
  void SetPercent(int value);
  void Assign(const TPersistent& source) override;

 private:
  friend class TsBGImage;
  TsGradientData data_;
  TsGradArray gradArray_;
  TPercent percent_ = 70;
};

class TsHotBackground : public TPersistent {
 public:
  explicit TsHotBackground(TsStyleHost* host) : host_(host) {}
  [[nodiscard]] std::string ClassName() const override { return "TsHotBackground"; }
  [[nodiscard]] TsBGImage& Image() { return image_; }
  [[nodiscard]] TsBGGradient& Gradient() { return gradient_; }
  [[nodiscard]] TsStyleHost* Host() const { return host_; }
  void Assign(const TPersistent& source) override;
  // A part changed: a passive background style repaints.
  void PartChanged();

 private:
  TsStyleHost* host_;
  TsBGImage image_{this};
  TsBGGradient gradient_{this};
};

class TsBackground : public TsHotBackground {
 public:
  using TsHotBackground::TsHotBackground;
  [[nodiscard]] std::string ClassName() const override { return "TsBackground"; }
  bool ListenMSG = false;
};

struct TsHotStyle {
  explicit TsHotStyle(TsStyleHost* host) : HotBackground(host) {}
  TsHotPainting HotPainting;
  TsHotBackground HotBackground;
};

struct TsFading {
  bool Enabled = true;
  TPercent Iterations = 5;
  TPercent IntervalIn = 5;
  TPercent IntervalOut = 5;
};

class TsMaskedBorders : public TPersistent {
 public:
  explicit TsMaskedBorders(TsStyleHost* host) : host_(host) {}
  [[nodiscard]] std::string ClassName() const override { return "TsMaskedBorders"; }
  [[nodiscard]] TBitmap& Mask() { return mask_; }
  // Takes the bitmap (in 24 bits) as the custom border mask.
  void SetMask(const TBitmap& value);
  [[nodiscard]] TsPredefinedBorders Predefined() const { return predefined_; }
  void SetPredefined(TsPredefinedBorders value);
  [[nodiscard]] TColor TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(TColor value);
  [[nodiscard]] bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);

 private:
  void Reshape();

  TsStyleHost* host_;
  TBitmap mask_;
  TsPredefinedBorders predefined_ = pdBorder1;
  TColor transparentColor_ = 0xFF00FF;
  bool enabled_ = true;
};

struct TsActiveEffects {
  explicit TsActiveEffects(TsStyleHost* host) : MaskedBorders(host) {}
  TsFading Fading;
  TsMaskedBorders MaskedBorders;
};

}  // namespace qv
