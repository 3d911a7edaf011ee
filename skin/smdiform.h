// The skinned MDI client of an MDI form: made by the form's provider, it takes over the
// client window's procedure so that the client's background and its 2-pixel frame come
// from the provider's cached window image, puts the maximised child's Restore, Minimize
// and Close commands first in the form's main menu while a child is maximised, and
// covers the client's own scroll bars with skinned ones that scroll it.
#pragma once

#include <memory>

#include "platform/classlib/forms.h"
#include "platform/classlib/menus.h"
#include "platform/msg/window.h"
#include "skin/sscrollbar.h"

namespace qv {

class TsSkinProvider;

class TsMDIForm {
 public:
  explicit TsMDIForm(TsSkinProvider* provider);
  ~TsMDIForm();
  TsMDIForm(const TsMDIForm&) = delete;
  TsMDIForm& operator=(const TsMDIForm&) = delete;

  // After a child was minimised, maximised, restored or closed: the child-menu item is
  // first in the main menu exactly while the active child is maximised.
  void UpdateMDIMenu();
  // The skinned bars follow the client's own scroll bars (none while a child is
  // maximised or without an active skin).
  void UpdateScrollBars();

  // Where the MDI area lies in the form's window image.
  [[nodiscard]] int MDIAreaWidth() const;
  [[nodiscard]] int MDIAreaHeight() const;
  [[nodiscard]] int MDIOffsetX() const;
  [[nodiscard]] int MDIOffsetY() const;
  // Whether the client's active child is maximised.
  [[nodiscard]] bool ChildMaximized() const;

  // "sMDICII": Restore, Minimize, a line and Close (Ctrl+F4) for the active child.
  [[nodiscard]] TMenuItem* ChildMenuItem() const { return childItem_.get(); }
  // The skinned bars and the grip while they are shown, else null.
  [[nodiscard]] TsScrollBar* VertBar() const { return Shown(vBar_); }
  [[nodiscard]] TsScrollBar* HorzBar() const { return Shown(hBar_); }
  [[nodiscard]] TControl* Grip() const { return Shown(grip_); }
  // How far the client's scroll range of a direction starts below 0.
  [[nodiscard]] static int RangeShift(bool vertical);
  // A bar or the grip going away with the form (the provider hears of it as their owner).
  void Forget(const TComponent* component);

 private:
  struct SystemBar {
    int min = 0, max = 0, page = 0, pos = 0;
    Rect rect;  // screen coordinates
  };
  void HookClient();
  LRESULT ClientProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, const WndProc& inherited);
  bool ReadSystemBar(bool vertical, SystemBar& bar);
  void HideBars();
  void FreeBars();
  template <class T>
  static T* Shown(T* control) {
    return control != nullptr && control->Visible() ? control : nullptr;
  }
  void ScrollClient(bool vertical, TsScrollBar* bar);
  void CopyFromCache(DC& dc, Rect area, int inset);
  [[nodiscard]] Rect FormClient() const;
  [[nodiscard]] int AlignedSize(TAlign align) const;
  [[nodiscard]] HWND Client() const;
  [[nodiscard]] bool FormBusy() const;

  HWND hookedClient_ = 0;
  SubclassId hookId_ = 0;
  TsScrollBar* vBar_ = nullptr;
  TsScrollBar* hBar_ = nullptr;
  TControl* grip_ = nullptr;
  TCustomForm* form_;
  std::unique_ptr<TMenuItem> childItem_;
  TsSkinProvider* provider_;
};

}  // namespace qv
