// The emulated non-client area: where the frame, caption, caption buttons and scroll bars
// of a window with a given style lie, what a point on them hits, and their plain look.
// All rectangles are in window coordinates (the window's top-left is (0, 0)).
#pragma once

#include <string_view>

#include "platform/gfx/dc.h"
#include "platform/gfx/geometry.h"

namespace qv::nonclient {

struct Layout {
  int frame = 0;     // width of the frame or border on each side
  Rect caption;      // empty without WS_CAPTION
  Rect sysMenu;      // the icon at the caption's left
  Rect closeButton;  // empty without WS_SYSMENU
  Rect maxButton;    // empty without a maximise or minimise box
  Rect minButton;
  Rect helpButton;  // WS_EX_CONTEXTHELP without the min/max boxes
  Rect menu;        // the menu bar below the caption; empty without one
  Rect edge;        // inside of the client edge (the client area with scroll bars)
  Rect vscroll;     // empty without WS_VSCROLL
  Rect hscroll;     // empty without WS_HSCROLL
  Rect client;
};

// What a window's scroll bar shows: the range, the page and the position.
struct ScrollState {
  int min = 0;
  int max = 0;
  unsigned page = 0;
  int pos = 0;
};

// The parts of a scroll bar, along its axis: the two arrow buttons, the thumb (empty when
// the whole range fits or the bar is too short) and the track on either side of it.
struct ScrollParts {
  Rect first;
  Rect last;
  Rect thumb;
  Rect trackBefore;
  Rect trackAfter;
};
[[nodiscard]] ScrollParts ScrollBarParts(const Rect& bar, bool vertical, const ScrollState& s);
// The position a thumb dragged to `offset` pixels from the track's start stands for.
[[nodiscard]] int ScrollPosAt(const Rect& bar, bool vertical, const ScrollState& s, int offset);

// `menuHeight` is the height of the window's menu bar (all its lines), 0 without one.
[[nodiscard]] Layout Compute(unsigned style, unsigned exStyle, const Rect& window,
                             int menuHeight = 0);
[[nodiscard]] Rect ClientArea(unsigned style, unsigned exStyle, const Rect& window,
                              int menuHeight = 0);
// HTCLIENT, HTCAPTION, HTLEFT ... for a point inside the window.
[[nodiscard]] int HitTest(unsigned style, unsigned exStyle, const Rect& window, const Rect& client,
                          Point p, int menuHeight = 0);
// Draws everything but the client area on a window DC.
void Paint(DC& dc, unsigned style, unsigned exStyle, const Rect& window, const Rect& client,
           std::string_view caption, bool active, const ScrollState& horizontal = {},
           const ScrollState& vertical = {}, int menuHeight = 0);

}  // namespace qv::nonclient
