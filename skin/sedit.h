// The skinned single-line edit: its style (sstyleedits.h) paints its border in the
// non-client area and takes its messages first.
#pragma once

#include <memory>
#include <string>

#include "platform/classlib/stdctrls.h"
#include "skin/sstyleedits.h"

namespace qv {

class TsEdit : public TCustomEdit {
 public:
  explicit TsEdit(TComponent* owner);
  ~TsEdit() override;
  [[nodiscard]] std::string ClassName() const override { return "TsEdit"; }
  [[nodiscard]] TsStyle* sStyle() { return style_.get(); }
  // On first joining a parent the style takes the class name as its section when it has none.
  void SetParent(TWinControl* parent) override;
  void Loaded() override;
  void Invalidate() override;

 protected:
  void WndProc(TMessage& message) override;

 private:
  std::unique_ptr<TsStyle> style_;
};

}  // namespace qv
