#include "app/select_album.h"

#include "platform/ui/virtual_keys.h"

namespace qv {

TselectAlbumFrm::TselectAlbumFrm(TComponent* owner) : TForm(owner) {
  ReadFormData(this, [this] {
    SetName("selectAlbumFrm");
    SetCaption("selectAlbumFrm");
    SetBorderStyle(TFormBorderStyle::bsNone);
    SetBorderIcons(0);
    SetClientSize(421, 265);
    SetPosition(TPosition::poDesktopCenter);
    SetVisible(false);
    ListBox1 = Create<TListBox>(this);
    ListBox1->SetName("ListBox1");
    ListBox1->SetParent(this);
    ListBox1->SetAlign(TAlign::alClient);
    ListBox1->SetBorderStyle(TBorderStyle::bsNone);
    ListBox1->SetTabStop(true);
    ListBox1->OnKeyUp = [this](TComponent* Sender, std::uint16_t& Key, TShiftState Shift) {
      ListBox1KeyUp(Sender, Key, Shift);
    };
    SetActiveControl(ListBox1);
  });
}

void TselectAlbumFrm::ListBox1KeyUp(TComponent*, std::uint16_t& Key, TShiftState) {
  if (Key == VK_RETURN) SetModalResult(mrOk);
  if (Key == VK_BACK) SetModalResult(mrCancel);
}

}  // namespace qv
