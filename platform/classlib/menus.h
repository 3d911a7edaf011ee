// Menus: items in a tree, a main menu (a holder of items; no menu bar is drawn) and a popup
// menu shown as a modal popup window. An item's OnClick runs after the popup has closed.
// Owner drawing: OnMeasureItem sizes an item and OnAdvancedDrawItem paints it instead of
// the plain look. GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/classlib/controls.h"

namespace qv {

enum TOwnerDrawStateFlag : unsigned {
  odSelected = 0x01,
  odGrayed = 0x02,
  odDisabled = 0x04,
  odChecked = 0x08,
  odFocused = 0x10,
  odDefault = 0x20,
  odHotLight = 0x40,  // a menu-bar item under the pointer
};
using TOwnerDrawState = unsigned;

class TMenuItem;
using TMenuMeasureItemEvent =
    std::function<void(TComponent* Sender, TCanvas& ACanvas, int& Width, int& Height)>;
using TAdvancedMenuDrawItemEvent = std::function<void(TComponent* Sender, TCanvas& ACanvas,
                                                      const Rect& ARect, TOwnerDrawState State)>;

// Shortcut values: a virtual key with these flags.
enum : std::uint16_t { scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000 };
[[nodiscard]] std::string ShortCutToText(std::uint16_t shortCut);

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  [[nodiscard]] const std::string& Caption() const { return caption_; }
  void SetCaption(std::string value) { caption_ = std::move(value); }
  // A caption of "-" makes a separator line.
  [[nodiscard]] bool IsLine() const { return caption_ == "-"; }
  [[nodiscard]] bool Checked() const { return checked_; }
  void SetChecked(bool value) { checked_ = value; }
  [[nodiscard]] bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  [[nodiscard]] bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  [[nodiscard]] bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  [[nodiscard]] int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value) { imageIndex_ = value; }
  [[nodiscard]] int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int value) { groupIndex_ = value; }
  [[nodiscard]] std::uint16_t ShortCut() const { return shortCut_; }
  void SetShortCut(std::uint16_t value) { shortCut_ = value; }
  // A number unique among the program's items, as menu commands carry.
  [[nodiscard]] int Command() const { return command_; }

  [[nodiscard]] TMenuItem* Parent() const { return parent_; }
  [[nodiscard]] int Count() const { return int(items_.size()); }
  [[nodiscard]] TMenuItem* Items(int index) const { return items_.at(std::size_t(index)); }
  [[nodiscard]] int MenuIndex() const;
  void Add(TMenuItem* item);
  void Insert(int index, TMenuItem* item);
  // Takes the item out of this one (it stays alive); Delete frees it.
  void Remove(TMenuItem* item);
  void Delete(int index);

  virtual void Click();
  // Lets OnAdvancedDrawItem paint the item in `r` of `canvas` (clipped to it; the canvas is
  // reset to `dc` after, as the handler may have changed its objects); false without one.
  bool DrawByHandler(TCanvas& canvas, DC* dc, const Rect& r, TOwnerDrawState state);

  TNotifyEvent OnClick;
  TMenuMeasureItemEvent OnMeasureItem;
  TAdvancedMenuDrawItemEvent OnAdvancedDrawItem;

 private:
  std::string caption_;
  bool checked_ = false;
  bool enabled_ = true;
  bool visible_ = true;
  bool default_ = false;
  int imageIndex_ = -1;
  int groupIndex_ = 0;
  std::uint16_t shortCut_ = 0;
  int command_ = 0;
  TMenuItem* parent_ = nullptr;    // not owned
  std::vector<TMenuItem*> items_;  // owned as components by their owner
};

struct ImageList;

class TMenu : public TComponent {
 public:
  explicit TMenu(TComponent* owner);
  [[nodiscard]] TMenuItem* Items() const { return items_; }
  [[nodiscard]] bool OwnerDraw() const { return ownerDraw_; }
  void SetOwnerDraw(bool value) { ownerDraw_ = value; }
  // The images the items' ImageIndex picks from (kept by pointer, not owned); null: none.
  [[nodiscard]] const ImageList* Images() const { return images_; }
  void SetImages(const ImageList* value) { images_ = value; }
  // Clicks the enabled, visible item with this shortcut; false when there is none.
  bool IsShortCut(std::uint16_t shortCut);

 private:
  TMenuItem* items_;  // owned as a component
  bool ownerDraw_ = false;
  const ImageList* images_ = nullptr;
};

// The form's menu: its visible top-level items make the form's menu bar (menubar.h), and
// its items' shortcuts work on the form. Another menu (an active MDI child's) can be merged
// into it by GroupIndex: the merged menu's top-level items take the place of this one's
// items of the same group, and those of a group this menu lacks come in group order. The
// items stay where they are; only the bar shows them together.
class TMainMenu : public TMenu {
 public:
  explicit TMainMenu(TComponent* owner) : TMenu(owner) {}
  ~TMainMenu() override;

  // One merged menu at a time: merging another replaces it. Unmerge takes out only the
  // menu that is merged.
  void Merge(TMainMenu* menu);
  void Unmerge(TMainMenu* menu);
  [[nodiscard]] TMainMenu* Merged() const { return merged_; }
  // Whether the merged menu has a top-level item of that group.
  [[nodiscard]] bool MergedHasGroup(int group) const;
  // The top-level items the bar shows, in order (invisible ones included).
  [[nodiscard]] std::vector<TMenuItem*> BarItems() const;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TMainMenu* merged_ = nullptr;
};

class TPopupMenu : public TMenu {
 public:
  explicit TPopupMenu(TComponent* owner) : TMenu(owner) {}

  // Shows the visible items at a screen point and waits until one is chosen (its OnClick
  // runs before Popup returns) or the menu is dismissed (Escape, a click elsewhere).
  void Popup(int x, int y);
  // The popup window while it is shown, 0 otherwise.
  [[nodiscard]] HWND WindowHandle() const { return window_; }

  TNotifyEvent OnPopup;

 private:
  HWND window_ = 0;
};

// What a popup tracked from a menu bar tells the bar. Mouse: a mouse message outside every
// level of the popup, at a screen point; true ends the popup. Side: Left (-1) or Right (+1)
// that no level takes; true ends the popup. Escaped: set when Escape closed the first level.
struct TPopupTrackHooks {
  std::function<bool(UINT msg, Point screen)> Mouse;
  std::function<bool(int step)> Side;
  bool SelectFirst = false;  // the first selectable item starts highlighted
  bool Escaped = false;
};
// Shows `source`'s visible children at a screen point and tracks them until one is chosen
// (returned, not clicked) or the popup ends (null). `shown` holds the popup window meanwhile.
TMenuItem* TrackPopup(TMenu* menu, TMenuItem* source, Point at, TPopupTrackHooks* hooks,
                      HWND* shown);

}  // namespace qv
