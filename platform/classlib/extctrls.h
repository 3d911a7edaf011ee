// The panel: a container with bevels and a centred caption. GUI thread only.
#pragma once

#include "platform/classlib/controls.h"
#include "platform/classlib/stdctrls.h"

namespace qv {

enum class TBevelCut { bvNone, bvLowered, bvRaised };

class TPanel : public TCustomControl {
 public:
  explicit TPanel(TComponent* owner);
  [[nodiscard]] std::string ClassName() const override { return "TPanel"; }

  [[nodiscard]] TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut value);
  [[nodiscard]] TBevelCut BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut value);
  [[nodiscard]] int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value);
  [[nodiscard]] int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value);
  [[nodiscard]] TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  [[nodiscard]] TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);

 protected:
  void Paint() override;
  void AdjustClientRect(Rect& r) const override;

 private:
  void LookChanged();

  TBevelCut bevelOuter_ = TBevelCut::bvRaised;
  TBevelCut bevelInner_ = TBevelCut::bvNone;
  int bevelWidth_ = 1;
  int borderWidth_ = 0;
  TBorderStyle borderStyle_ = TBorderStyle::bsNone;
  TAlignment alignment_ = TAlignment::taCenter;
};

using TCustomPanel = TPanel;

}  // namespace qv
