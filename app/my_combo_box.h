// The window's combo boxes: they want every key, so ESC and BACK reach the window's own key
// handling whichever box has the focus, and Enter opens the list.
#pragma once

#include "platform/classlib/stdctrls.h"

namespace qv {

class TmyComboBox : public TComboBox {
 public:
  explicit TmyComboBox(TComponent* owner) : TComboBox(owner) {}

 protected:
  LRESULT DialogCode() const override { return DLGC_WANTALLKEYS; }
  void KeyDown(std::uint16_t& Key, TShiftState Shift) override;
};

}  // namespace qv
