// Reads what an X server shows of a window, through a connection of its own. Kept apart
// from the tests because Xlib's macros clash with everything else.
#pragma once

#include <string>

#include "platform/gfx/bitmap.h"

namespace qv::test {

// Empty when the display does not open or the window cannot be read.
Bitmap GrabXWindow(const std::string& display, unsigned long window, int width, int height);

}  // namespace qv::test

namespace qv::test {

// Sends a key press (an X keysym) to a window, as the X server delivers a user's key.
bool SendXKey(const std::string& display, unsigned long window, unsigned long keysym);

}  // namespace qv::test
