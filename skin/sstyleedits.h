// The styles of edit-like controls. The style paints the edit's 3-pixel border in the
// non-client area (from the section's border mask, or as a bevel in the painting or, while
// hot, the selection colours), keeps an optional caption label beside the control and moves
// the focus on the keys listed for it.
#pragma once

#include <memory>
#include <string>

#include "skin/spanels.h"
#include "skin/sstyles.h"

namespace qv {

class TsEditorStyle;
class TsCustomStyle;

class TsEditorBorder : public TPersistent {
 public:
  [[nodiscard]] std::string ClassName() const override { return "TsEditorBorder"; }
  int Width = 2;
  TsEditorBevel Bevel = ebAsBottomBorder;
};

enum TModeSelectionFlag : unsigned { msBorder = 1, msColor = 2 };
using TModeSelection = unsigned;

class TsEditorSelection : public TPersistent {
 public:
  [[nodiscard]] std::string ClassName() const override { return "TsEditorSelection"; }
  TsEditorBorder Border;
  TColor Color = clWindow;
  TModeSelection Mode = msBorder | msColor;
};

namespace sStyleEdits {

class TsPainting : public TPersistent {
 public:
  explicit TsPainting(TsEditorStyle* style) : style_(style) {}
  [[nodiscard]] std::string ClassName() const override { return "TsPainting"; }
  [[nodiscard]] bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool value);
  [[nodiscard]] TColor Color() const { return colors_[2]; }
  [[nodiscard]] TColor ColorBorderTop() const { return colors_[0]; }
  [[nodiscard]] TColor ColorBorderBottom() const { return colors_[1]; }
  // Index 3 the background (clears ParentColor), 0 the top, 1 the bottom border colour.
  void SetColor(int index, TColor value);
  [[nodiscard]] TsEditorBevel Bevel() const { return bevel_; }
  void SetBevel(TsEditorBevel value);
  // Used when no skin is set.
  int BevelWidth = 2;
  // The parent's colour taken while ParentColor is on (which it stays).
  void FollowParentColor(TColor value);

 private:
  void Changed();
  [[nodiscard]] bool CheckKind() const;
  TsEditorStyle* style_;
  bool parentColor_ = false;
  TColor colors_[3] = {clBtnHighlight, 0x7E756B, 0xECFFFF};
  TsEditorBevel bevel_ = ebAsBottomBorder;
};

}  // namespace sStyleEdits

class TsEditorStyle : public TsGenStyle {
 public:
  explicit TsEditorStyle(TControl* owner) : TsGenStyle(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TsEditorStyle"; }
  sStyleEdits::TsPainting Painting{this};
  TsEditorSelection Selection;

  // The background: the selection colour while hot (msColor), else the painting colour.
  [[nodiscard]] TColor GetColor() const;
  // The border of the owner's window, 3 pixels wide.
  void PaintBorder();
  void WndProc(TMessage& message) override;
  [[nodiscard]] TControl* Owner() const { return owner_; }
  // The owner's shadow (a check control's: its glyph's) into its parent's picture.
  void PaintShadow(Bitmap& target, Point offset) override;
  // Without a border mask: the rectangle less its corner pixels for a soft control.
  void UpdateRegion() override;

 protected:
  // Class code answered to SKM_GETSTYLE.
  [[nodiscard]] virtual WPARAM StyleCode() const { return 1; }
  bool AcceptsEditFamily() const override { return true; }
};

enum TsCaptionLayout { sclLeft, sclTopLeft, sclTopCenter, sclTopRight };

class TsStyleCaption : public TPersistent {
 public:
  explicit TsStyleCaption(TsCustomStyle* style) : style_(style) {}
  ~TsStyleCaption() override;
  [[nodiscard]] std::string ClassName() const override { return "TsStyleCaption"; }
  [[nodiscard]] bool Active() const { return label_ != nullptr; }
  void SetActive(bool value);
  [[nodiscard]] const std::string& Text() const { return text_; }
  void SetText(const std::string& value);
  [[nodiscard]] TFont& Font() { return font_; }
  void SetFont(const TFont& value);
  [[nodiscard]] int MaxWidth() const { return maxWidth_; }
  void SetMaxWidth(int value);
  [[nodiscard]] TsCaptionLayout Layout() const { return layout_; }
  void SetLayout(TsCaptionLayout value);
  // The label while the caption is active.
  [[nodiscard]] TsLabel* Label() const { return label_; }
  void UpdatePosition();

 private:
  class CaptionLabel;
  void Update();
  TsCustomStyle* style_;
  TsLabel* label_ = nullptr;
  std::string text_;
  TFont font_;
  int maxWidth_ = 0;
  TsCaptionLayout layout_ = sclLeft;
};

class TsCustomStyle : public TsEditorStyle {
 public:
  explicit TsCustomStyle(TControl* owner) : TsEditorStyle(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TsCustomStyle"; }
  TsStyleCaption Caption{this};
  // Decimal key codes separated by blanks or commas.
  std::string KeysNextControl;
  std::string KeysPrevControl;

  // The edit's OnKeyDown: a listed key moves the focus along the form's tab order.
  void KeyNavigate(TComponent* sender, std::uint16_t& key, TShiftState shift);
  void WndProc(TMessage& message) override;

 protected:
  [[nodiscard]] WPARAM StyleCode() const override { return 14; }
};

class TsStyle : public TsCustomStyle {
 public:
  explicit TsStyle(TControl* owner) : TsCustomStyle(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TsStyle"; }

 protected:
  [[nodiscard]] WPARAM StyleCode() const override { return 15; }
};

}  // namespace qv
