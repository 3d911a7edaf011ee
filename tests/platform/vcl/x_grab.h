// Reads what an X server shows of a window, through a connection of its own. Kept apart
// from the tests because Xlib's macros clash with everything else.
#pragma once

#include <string>

#include "platform/gfx/bitmap.h"

namespace qv::test {

// Empty when the display does not open or the window cannot be read.
Bitmap GrabXWindow(const std::string& display, unsigned long window, int width, int height);

}  // namespace qv::test
