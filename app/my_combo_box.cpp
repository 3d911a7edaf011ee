#include "app/my_combo_box.h"

#include "platform/ui/virtual_keys.h"

namespace qv {

void TmyComboBox::KeyDown(std::uint16_t& Key, TShiftState Shift) {
  if (Key == VK_RETURN && !DroppedDown()) {
    SetDroppedDown(true);
    Key = 0;
    return;
  }
  // An open list closes on Enter (taking the item) and Escape; the class library does it.
  TComboBox::KeyDown(Key, Shift);
}

}  // namespace qv
