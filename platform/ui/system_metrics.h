// The fixed system metrics the window system draws and hit-tests with. They do not follow the
// desktop the program runs under, so the same window has the same pixels everywhere; only
// the screen size and the work area come from the display.
#pragma once

#include "platform/gfx/geometry.h"

namespace qv {

enum : int {
  SM_CXSCREEN = 0,
  SM_CYSCREEN = 1,
  SM_CXVSCROLL = 2,
  SM_CYHSCROLL = 3,
  SM_CYCAPTION = 4,
  SM_CXBORDER = 5,
  SM_CYBORDER = 6,
  SM_CXDLGFRAME = 7,
  SM_CYDLGFRAME = 8,
  SM_CYVTHUMB = 9,
  SM_CXHTHUMB = 10,
  SM_CXICON = 11,
  SM_CYICON = 12,
  SM_CXCURSOR = 13,
  SM_CYCURSOR = 14,
  SM_CYMENU = 15,
  SM_CXFULLSCREEN = 16,
  SM_CYFULLSCREEN = 17,
  SM_CYVSCROLL = 20,
  SM_CXHSCROLL = 21,
  SM_CXMIN = 28,
  SM_CYMIN = 29,
  SM_CXSIZE = 30,
  SM_CYSIZE = 31,
  SM_CXFRAME = 32,
  SM_CYFRAME = 33,
  SM_CXMINTRACK = 34,
  SM_CYMINTRACK = 35,
  SM_CXDOUBLECLK = 36,
  SM_CYDOUBLECLK = 37,
  SM_CXEDGE = 45,
  SM_CYEDGE = 46,
  SM_CXSMICON = 49,
  SM_CYSMICON = 50,
  SM_CYSMCAPTION = 51,
  SM_CXSMSIZE = 52,
  SM_CYSMSIZE = 53,
  SM_CXMENUSIZE = 54,
  SM_CYMENUSIZE = 55,
  SM_CXMAXIMIZED = 61,
  SM_CYMAXIMIZED = 62,
  SM_CXDRAG = 68,
  SM_CYDRAG = 69,
  SM_CMONITORS = 80,
};

// Unknown indexes give 0, as the platform answers them.
[[nodiscard]] int GetSystemMetrics(int index);

// The double-click time in milliseconds.
[[nodiscard]] unsigned GetDoubleClickTime();

enum : unsigned { SPI_GETWORKAREA = 0x0030 };
// SPI_GETWORKAREA writes the primary monitor's work area to the Rect `param` points at.
// False for anything else.
bool SystemParametersInfo(unsigned action, unsigned uiParam, void* param, unsigned winIni);

// Set by the display back end when it starts: the primary screen and its work area.
void SetScreenGeometry(const Rect& screen, const Rect& workArea, int monitorCount);

}  // namespace qv
