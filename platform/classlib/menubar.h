// A form's menu bar: the visible top-level items of its main menu in the window's
// non-client area, below the caption, wrapping into more lines when the form is narrow.
// Plain items show their caption; with the menu's OwnerDraw, items with OnMeasureItem and
// OnAdvancedDrawItem are sized and drawn by them. A press on an item opens its popup below
// it; while one is open, moving over another item opens that one's; a click elsewhere or
// Escape closes it. F10 or Alt alone selects the first item: Left and Right move, Down or
// Enter opens, Escape leaves; Alt with an item's accelerator letter opens that item. A
// chosen item's OnClick runs once the menu is gone. GUI thread only.
#pragma once

#include <utility>
#include <vector>

#include "platform/classlib/menus.h"

namespace qv {

class TCustomForm;

// Where the bar and its items lie, in window coordinates: the answer to CM_MENUBARLAYOUT.
// The form gives the window system's bar; a procedure that paints the non-client area
// itself answers with the places it draws the items at.
struct TMenuBarLayout {
  Rect Bar;
  std::vector<std::pair<TMenuItem*, Rect>> Items;
};

// Lays the form's visible top-level items out from `bar`'s top-left, `lineHeight` high and
// each as wide as measured plus the spacing between items (SM_CXMENUSIZE - 6), starting a
// line when one would pass `bar.Right`. Returns the number of lines (0 without items).
int LayOutMenuBar(TCustomForm& form, const Rect& bar, int lineHeight,
                  std::vector<std::pair<TMenuItem*, Rect>>& items);
// An item's width on the bar before the spacing: its OnMeasureItem's answer when the menu
// is owner-drawn and it has one, else the width of its caption.
int MeasureMenuBarItem(TMainMenu& menu, TMenuItem& item, TCanvas& canvas);
// The layout as the form's window answers it (through its window procedure chain).
[[nodiscard]] TMenuBarLayout GetMenuBarLayout(TCustomForm& form);
// After items were added, removed, shown or hidden: the bar is laid out and drawn anew.
void RefreshMenuBar(TCustomForm& form);
// Tracks the bar from item `index`: opens its popup (`open`) or only selects it; with
// `keyboard` the popup's first item is selected.
void TrackMenuBar(TCustomForm& form, int index, bool open, bool keyboard);

// The form's handling of the bar's messages (non-client size and hit test, the SC_MOUSEMENU
// and SC_KEYMENU system commands, CM_MENUBARLAYOUT, CM_MENUBARCHANGED); true when handled.
bool MenuBarMessage(TCustomForm& form, TMessage& m);
// Draws the items on the window system's bar (part of the form's WM_NCPAINT).
void PaintMenuBar(TCustomForm& form);

}  // namespace qv
