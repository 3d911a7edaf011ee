// The choice list shown when the CD database offers several entries and "-cddbchoice" was
// given: a borderless window with one list; Enter takes the highlighted line, Backspace
// cancels.
#pragma once

#include "platform/classlib/forms.h"
#include "platform/classlib/stdctrls.h"

namespace qv {

class TselectAlbumFrm : public TForm {
 public:
  explicit TselectAlbumFrm(TComponent* owner);
  TListBox* ListBox1 = nullptr;
  void ListBox1KeyUp(TComponent* Sender, std::uint16_t& Key, TShiftState Shift);
};

}  // namespace qv
