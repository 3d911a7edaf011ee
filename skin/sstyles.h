// The style objects every skinned control owns: the control forwards its messages to the
// style, which answers the engine's messages, tracks focus and the pointer, keeps the
// window region and the cached background, and knows for each painting value whether the
// skin section or its own properties give it. Also the light skin link of controls without
// a style object, and the routines that walk a container's skinned children.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/classlib/controls.h"
#include "platform/classlib/graphics.h"
#include "platform/gfx/region.h"
#include "skin/smessages.h"
#include "skin/sstyleutil.h"

namespace qv {

class TsGenStyle;

class TsShadow : public TPersistent {
 public:
  explicit TsShadow(TsGenStyle* style) : style_(style) {}
  [[nodiscard]] std::string ClassName() const override { return "TsShadow"; }
  [[nodiscard]] TColor Color() const { return color_; }
  void SetColor(TColor value);
  [[nodiscard]] int Offset() const { return offset_; }
  void SetOffset(int value);
  [[nodiscard]] int Transparency() const { return transparency_; }
  // Kept within 0..100.
  void SetTransparency(int value);
  [[nodiscard]] int Blur() const { return blur_; }
  void SetBlur(int value);
  [[nodiscard]] bool DontUse() const { return dontUse_; }
  void SetDontUse(bool value);
  [[nodiscard]] bool Enabled() const { return enabled_; }
  // Only for a control on a styled parent and of a kind that may cast a shadow.
  void SetEnabled(bool value);

 private:
  void RefreshParent();
  TsGenStyle* style_;
  TColor color_ = 0;
  int offset_ = 8;
  int transparency_ = 60;
  int blur_ = 4;
  bool dontUse_ = true;
  bool enabled_ = false;
};

struct TsEffects {
  explicit TsEffects(TsGenStyle* style) : Shadow(style) {}
  TsShadow Shadow;
};

class TsGenStyle : public TPersistent, public TsStyleHost {
 public:
  explicit TsGenStyle(TControl* owner);
  ~TsGenStyle() override;
  [[nodiscard]] std::string ClassName() const override { return "TsGenStyle"; }

  TsEffects Effects{this};
  [[nodiscard]] const std::string& SkinSection() const { return skinSection_; }
  // Looks the section and its border mask up again and repaints.
  void SetSkinSection(const std::string& value);
  int GroupIndex = 0;
  TNotifyEvent OnMouseEnter;
  [[nodiscard]] bool SoftControl() const { return softControl_; }
  void SetSoftControl(bool value);
  int BorderIndex = -1;
  int SkinIndex = -1;
  bool RegionChanged = true;
  bool BGChanged = true;
  TBitmap BGBitmap;
  // The window region the style gave the control (none: the whole rectangle).
  std::optional<Region> WindowRegion;
  int KindCode = 0;
  bool Focused = false;
  bool MouseIn = false;

  // Every message of the owner passes here first; Result 1 marks it answered.
  virtual void WndProc(TMessage& message);

  // TsStyleHost
  void Invalidate() override;
  [[nodiscard]] TControl* OwnerControl() const override { return owner_; }
  void UpdateRegion() override;
  void MarkRegionChanged() override { RegionChanged = true; }
  [[nodiscard]] int GetGradientPercent() const override { return 0; }
  [[nodiscard]] bool RepaintsOnBackgroundChange() const override { return false; }

  [[nodiscard]] virtual TBitmap* GetBorderMask() const;
  // After the owner was loaded: an empty section becomes the owner's class name.
  virtual void UpdateIndexes();
  // Draws the owner's shadow into its parent's picture, the owner's bounds moved by `offset`.
  virtual void PaintShadow(Bitmap& target, Point offset) {}

  // The hot state.
  [[nodiscard]] bool ControlIsActive() const;
  void GetParentBGInfo(TsBGInfo& info) const;
  void UpdateBGBitmap();
  // Copies `r` of the cached background to the same place of the device context.
  void PaintParentBG(DC& dc, Rect r);
  // The shadow is on, from the section or (for a kind above 0) from the own effects.
  [[nodiscard]] bool ShadowOn() const;

 protected:
  virtual void HandleSkinMessage(TMessage& message);
  // Paint-family property messages (paint styles).
  virtual bool AcceptsPaintFamily() const { return false; }
  // Editor-family property messages (editor styles).
  virtual bool AcceptsEditFamily() const { return false; }
  void LookUpIndexes();
  void SetRegion(std::optional<Region> region);
  // SKM_REFRESH with true to the parent, and the parent repainted.
  void RefreshOwnerParent() const;
  TControl* owner_;

 private:
  void Moved(bool sized);
  std::string skinSection_;
  bool softControl_ = true;
};

class TsPaintStyle : public TsGenStyle {
 public:
  explicit TsPaintStyle(TControl* owner) : TsGenStyle(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TsPaintStyle"; }
  TsPainting Painting{this};
  // The published group, compared against by SKM_PAINT_COLOR only: it hides the inherited
  // one, which every other engine message is compared against and which so stays 0.
  int GroupIndex = 0;
  void WndProc(TMessage& message) override;
  void PaintShadow(Bitmap& target, Point offset) override;
  // A panel's outer bevel follows the painting's.
  void PaintingBevelChanged(TsControlBevel bevel) override;
  // The bevel painter over `r` of the bitmap.
  void PaintBevel(Bitmap& bmp, Rect r, int width, TsControlBevel bevel) const;

 protected:
  bool AcceptsPaintFamily() const override { return true; }
};

class TsPassiveBGStyle : public TsPaintStyle {
 public:
  explicit TsPassiveBGStyle(TControl* owner) : TsPaintStyle(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TsPassiveBGStyle"; }
  TsBackground Background{this};

  void WndProc(TMessage& message) override;
  [[nodiscard]] bool RepaintsOnBackgroundChange() const override { return true; }

  [[nodiscard]] virtual TColor GetPaintingColor() const;
  [[nodiscard]] virtual TsControlBevel GetBevel() const;
  [[nodiscard]] virtual int GetBevelWidth() const;
  [[nodiscard]] int GetGradientPercent() const override;
  [[nodiscard]] virtual const TsGradArray& GetGradArray() const;
  [[nodiscard]] virtual int GetImagePercent() const;
  [[nodiscard]] virtual const Bitmap* GetImage() const;
  [[nodiscard]] virtual int GetTransparency() const;

  // Paints the background layers over the parent's picture into `target` (BGBitmap).
  virtual void PaintBG(TBitmap& target);

 protected:
  // The layers and the parent blend over R; `hot` selects the hot rules.
  void PaintBGWith(Bitmap& target, Rect r, bool hot);
  void PaintChildShadowsInto(Bitmap& target);
};

class TsActiveBGStyle : public TsPassiveBGStyle {
 public:
  explicit TsActiveBGStyle(TControl* owner);
  [[nodiscard]] std::string ClassName() const override { return "TsActiveBGStyle"; }
  TsHotStyle HotStyle{this};
  TsActiveEffects BtnEffects{this};

  [[nodiscard]] TColor GetPaintingColor() const override;
  [[nodiscard]] TsControlBevel GetBevel() const override;
  [[nodiscard]] int GetBevelWidth() const override;
  [[nodiscard]] int GetGradientPercent() const override;
  [[nodiscard]] const TsGradArray& GetGradArray() const override;
  [[nodiscard]] int GetImagePercent() const override;
  [[nodiscard]] const Bitmap* GetImage() const override;
  [[nodiscard]] int GetTransparency() const override;

  [[nodiscard]] bool FadingEnabled() const;
  [[nodiscard]] int FadingIntervalIn() const;
  [[nodiscard]] int FadingIntervalOut() const;
  [[nodiscard]] int FadingIterations() const;

  void PaintBG(TBitmap& target) override;
  // The bevel by state into BGBitmap.
  void PaintBevel(Rect r);
  using TsPaintStyle::PaintBevel;
  void UpdateRegion() override;
  // The hot look is being painted (a fade renders both looks on demand).
  std::optional<bool> ForcedActive;
  [[nodiscard]] bool IsActive() const { return ForcedActive ? *ForcedActive : ControlIsActive(); }
};

// The form style of a skin provider (section "FORM", kind 224): it answers the engine's
// messages for the provider's form within its group (or 21), keeps the section and border
// indexes, and holds the cached image of the whole window. Owned by the provider.
class TsPassivePaintStyle : public TPersistent {
 public:
  explicit TsPassivePaintStyle(TComponent* owner) : owner_(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TsPassivePaintStyle"; }
  std::string SkinSection = "FORM";
  int GroupIndex = 0;
  int KindCode = kKindFormStyle;
  int SkinIndex = -1;
  int BorderIndex = -1;
  TsPassiveShadow Shadow;
  TsPassivePainting Painting;
  TsBackground Background{nullptr};
  // The image of the whole window (frame and client).
  TBitmap CacheBmp;

  void WndProc(TMessage& message);
  [[nodiscard]] int GetSkinIndex() const;
  // The mask of the section and property (upper case), else that of the section's parent
  // section, one level up only.
  [[nodiscard]] int GetMaskIndex(const std::string& section, const std::string& property) const;
  // The style's own layers (its background's image and gradient, its colour) over `r` of
  // the bitmap; no transparency. Shadowed children of a container owner follow.
  void Repaint(Bitmap& bmp, Rect r);
  [[nodiscard]] TComponent* Owner() const { return owner_; }

 private:
  void NewSkin(TMessage& message);
  void RemoveSkin();
  TComponent* owner_;  // the provider (or another component) that owns the style
};

// The skin link of controls without a style object.
class TsCommonData : public TPersistent {
 public:
  TsCommonData(TComponent* owner, bool withCache);
  [[nodiscard]] std::string ClassName() const override { return "TsCommonData"; }
  [[nodiscard]] const std::string& SkinSection() const { return skinSection_; }
  void SetSkinSection(const std::string& value);
  int BorderIndex = -1;
  int SkinIndex = -1;
  bool SkinChanged = true;
  bool BGChanged = true;
  bool NoCache;
  std::unique_ptr<TBitmap> CacheBmp;
  int KindCode = 0;
  bool Focused = false;
  bool MouseIn = false;

  void Loaded();
  void UpdateCacheBmp();
  void Invalidate();
  [[nodiscard]] bool ControlIsActive() const;
  void GetParentBGInfo(TsBGInfo& info) const;
  void WndProc(TMessage& message);
  [[nodiscard]] TControl* OwnerControl() const { return ownerControl_; }

 private:
  void LookUp();
  TComponent* owner_;
  TControl* ownerControl_;
  std::string skinSection_;
};

// The style object of a control as a TsGenStyle (null when none).
[[nodiscard]] TsGenStyle* GenStyleOf(TControl* control);
// `bounds` moved by (dx, dy), when it then overlaps the picture; a skin's shadow offset may
// be any int, and a shadow wholly off the picture is not drawn.
[[nodiscard]] std::optional<Rect> ShadowPlace(const Bitmap& picture, Rect bounds, std::int64_t dx,
                                              std::int64_t dy);

}  // namespace qv
