// Menus that follow the skin. While a skin is active every main and popup menu of the
// application is owner-drawn with these handlers: popup items over the "MAINMENU"
// background (painted once per popup and cached) in the "MENUITEM" look, with dividers,
// caption items, checked boxes, images and shortcuts; menu-bar items in the "MENUITEM" look
// over the form provider's painted menu line. Unhooking removes only these handlers, so
// the application's own stay.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/base/persistent.h"
#include "platform/classlib/graphics.h"
#include "platform/classlib/menus.h"

namespace qv {

class TsSkinManager;

// "-" is a divider; a longer caption that begins and ends with "-" a caption item.
enum TsMenuItemType { smCaption, smDivider, smNormal, smTopLine };
[[nodiscard]] TsMenuItemType MenuItemType(const TMenuItem& item);

using TsMenuManagerDrawItemEvent =
    std::function<void(TComponent* Sender, TCanvas& ACanvas, Rect ARect, TOwnerDrawState State,
                       TsMenuItemType ItemType)>;

class TsSkinableMenus : public TPersistent {
 public:
  explicit TsSkinableMenus(TsSkinManager* manager);
  ~TsSkinableMenus() override;

  int Margin = 4;
  TAlignment Alignment = TAlignment::taLeftJustify;
  int BevelWidth = 0;
  int BorderWidth = 0;
  [[nodiscard]] TFont& CaptionFont() { return captionFont_; }
  void SetCaptionFont(const TFont& value) { captionFont_.Assign(value); }
  TsMenuManagerDrawItemEvent OnDrawItem;

  // Hooks (active) or unhooks every main menu, popup menu and loose menu item of the
  // application's components and the components they own.
  void UpdateMenus(bool active);
  // UpdateMenus with whether a skin is in use.
  void ApplySkinState();
  void HookMainMenu(TMainMenu* menu, bool active);
  void HookPopupMenu(TPopupMenu* menu, bool active);
  // A top-level item of a main menu gets the menu-bar handlers, any other item the popup
  // handlers where it has none of its own. Unhooking clears only handlers of this object.
  void HookItem(TMenuItem* item, bool active);
  // With `all`, forgets every cached popup background.
  void ClearCache(bool all);
  // True while a maximised MDI child shows its icon in the main form's menu line.
  [[nodiscard]] bool IsMDIChildMaximized() const;
  // The popup item's height (divider 2).
  [[nodiscard]] int MeasureItemHeight(TCanvas& canvas, TMenuItem* item);

  // The handlers themselves.
  void MeasureItem(TComponent* sender, TCanvas& canvas, int& width, int& height);
  void DrawItem(TComponent* sender, TCanvas& canvas, const Rect& r, TOwnerDrawState state);
  void MeasureMenuBarItem(TComponent* sender, TCanvas& canvas, int& width, int& height);
  void DrawMenuBarItem(TComponent* sender, TCanvas& canvas, const Rect& r, TOwnerDrawState state);

  // How many popup backgrounds are cached (for tests).
  [[nodiscard]] std::size_t CachedBackgrounds() const { return cache_.size(); }
  // How many items carry handlers of this object.
  [[nodiscard]] std::size_t HookedItems() const { return hooked_.size(); }
  // The manager heard that `component` is being destroyed: an item of ours needs no
  // unhooking any more.
  void Forget(const TComponent* component);

 private:
  struct Background {
    TMenuItem* popup = nullptr;  // whose items it lies under
    std::unique_ptr<TBitmap> bmp;
  };
  // The popup's background, `width` wide and as high as its items together; `top` is where
  // `item` starts in it (the popup window's rows need not start at its origin).
  TBitmap* BackgroundFor(TMenuItem* popup, int width, const TMenuItem* item, int& top);
  void Walk(TComponent* owner, bool active);
  // Notes or drops `item` as one carrying our handlers.
  void Track(TMenuItem* item);
  void Unhook(TMenuItem* item);
  [[nodiscard]] Size GlyphSize(const TMenuItem& item) const;

  TsSkinManager* manager_;
  TFont captionFont_;
  std::vector<Background> cache_;
  // Every item that carries a handler of ours, wherever it lives, so that all of them are
  // unhooked when this object goes; the manager is told of their end.
  std::vector<TMenuItem*> hooked_;
};

}  // namespace qv
