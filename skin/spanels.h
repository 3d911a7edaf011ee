// Skinned labels and panels. A TsLabel is a windowed label that draws its text over a copy
// of its parent's painted background; panels render their section (or their own style's
// background and bevels) into the style's cache and blit it.
#pragma once

#include <memory>
#include <string>

#include "platform/classlib/extctrls.h"
#include "platform/classlib/stdctrls.h"
#include "skin/sstyles.h"

namespace qv {

class TsCustomLabel : public TCustomControl {
 public:
  explicit TsCustomLabel(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TsCustomLabel"; }

  [[nodiscard]] TWinControl* FocusControl() const { return focusControl_; }
  void SetFocusControl(TWinControl* value);
  [[nodiscard]] TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  [[nodiscard]] bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  [[nodiscard]] TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout value);
  [[nodiscard]] bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  [[nodiscard]] bool ShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool value);
  [[nodiscard]] bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  [[nodiscard]] bool MouseInControl() const { return mouseInControl_; }

  // Sizes the label to its text (AutoSize, no alignment).
  void AdjustBounds();

 protected:
  void WndProc(TMessage& message) override;
  void Paint() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  [[nodiscard]] unsigned TextFlags() const;
  void DoDrawText(DC& dc, Rect& r, unsigned flags);
  [[nodiscard]] bool TakeFocus();

  TWinControl* focusControl_ = nullptr;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  bool autoSize_ = true;
  TTextLayout layout_ = TTextLayout::tlTop;
  bool wordWrap_ = false;
  bool showAccelChar_ = true;
  bool transparent_ = true;
  bool mouseInControl_ = false;
};

class TsLabel : public TsCustomLabel {
 public:
  explicit TsLabel(TComponent* owner) : TsCustomLabel(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TsLabel"; }
};

class TsTransparentPanel : public TCustomPanel {
 public:
  explicit TsTransparentPanel(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TsTransparentPanel"; }
};

class TsCustomPanel : public TsTransparentPanel {
 public:
  explicit TsCustomPanel(TComponent* owner);
  ~TsCustomPanel() override;
  [[nodiscard]] std::string ClassName() const override { return "TsCustomPanel"; }

  [[nodiscard]] TsPassiveBGStyle* sStyle() { return style_.get(); }
  [[nodiscard]] TsControlBevel BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TsControlBevel value);
  [[nodiscard]] TsControlBevel BevelInner() const { return bevelInner_; }
  void SetBevelInner(TsControlBevel value);
  // Border width plus the bevels that are painted.
  [[nodiscard]] int BorderSize() const;

  // Renders the cache when its redraw flag is set.
  void RenderCache();
  // Called with the cache's canvas when the cache is rendered anew, before the background.
  std::function<void(TCanvas& canvas)> OnPaint;

  // On first joining a parent the style takes the class name as its section when it has none.
  void SetParent(TWinControl* parent) override;
  void Loaded() override;

 protected:
  void WndProc(TMessage& message) override;
  void Paint() override;
  void PaintCaption(TBitmap& bmp, Rect r);
  // The panel's content over its rendered cache, at every paint before the cache reaches
  // the screen; nothing here.
  virtual void PaintContent(TCanvas& canvas);

 private:
  std::unique_ptr<TsPassiveBGStyle> style_;
  TsControlBevel bevelOuter_ = cbRaisedSoft;
  TsControlBevel bevelInner_ = cbNone;
};

class TsPanel : public TsCustomPanel {
 public:
  explicit TsPanel(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TsPanel"; }
};

// The 20 x 20 size grip between two skinned scroll bars.
class TsGrip : public TsCustomPanel {
 public:
  explicit TsGrip(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TsGrip"; }
  TCustomForm* Form = nullptr;

 protected:
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
};

}  // namespace qv
