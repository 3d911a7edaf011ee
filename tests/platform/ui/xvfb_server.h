// An X server of the test's own (Xvfb on a display number it picks itself, stopped by its
// process id) and what a peer client does to it: read a window's pixels, send a key or a
// click, read a window's shape. Xlib stays in the .cpp: its macros (None, Bool, Status)
// clash with everything else.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/geometry.h"

namespace qv::test {

class XvfbServer {
 public:
  // Display() stays empty when the server does not come up before `deadline`: the test
  // fails on that instead of waiting for ever.
  explicit XvfbServer(const std::string& screen = "640x480x24",
                      std::chrono::seconds deadline = std::chrono::seconds(30));
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;
  [[nodiscard]] const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// Each call below opens a connection of its own to `display` and waits until the server has
// handled the request before it returns.

// Empty when the display does not open or the window cannot be read.
Bitmap GrabXWindow(const std::string& display, unsigned long window, int width, int height);

// The whole screen's top-left `width` x `height`, every window on it as the server shows it.
Bitmap GrabXScreen(const std::string& display, int width, int height);

// Sends a key press (an X keysym) to a window, as the X server delivers a user's key;
// `state` holds the modifier masks held with it (ControlMask ...).
bool SendXKey(const std::string& display, unsigned long window, unsigned long keysym,
              unsigned state = 0);

// Sends a press and a release of the first button at (x, y) in the window, (xRoot, yRoot)
// on the screen.
bool SendXClick(const std::string& display, unsigned long window, int x, int y, int xRoot,
                int yRoot);

// A drag as the server delivers it to a program that moves the window with the pointer: a
// press of the first button at `at` (window coordinates) with the window's top-left at
// `origin` on the screen, one move by `delta`, and the release, where the point under the
// pointer is `at` of the moved window again.
bool SendXDrag(const std::string& display, unsigned long window, Point origin, Point at,
               Point delta);
// The rectangles of the window's bounding shape; nothing when they cannot be read.
std::optional<std::vector<Rect>> XShapeRectangles(const std::string& display, unsigned long window);

// Sets a property of 32-bit numbers on the root window, as a desktop publishes its
// _NET_WORKAREA.
bool SetRootCardinals(const std::string& display, const char* property,
                      const std::vector<long>& values);

// A viewable top-level window titled `title`, with its size.
struct XTopLevel {
  unsigned long window = 0;
  int width = 0, height = 0;
};
// Polls the server (the window may belong to another process) until such a window is
// viewable or `deadline` passes; window 0 then.
XTopLevel WaitForViewableXWindow(const std::string& display, const std::string& title,
                                 std::chrono::steady_clock::time_point deadline);

// Asks the CLIPBOARD owner for its text as `target` ("UTF8_STRING", "STRING", "TARGETS": then
// the atoms' raw bytes) as another program would; nothing when it refuses or does not answer.
std::optional<std::string> ReadXClipboard(const std::string& display, const std::string& target,
                                          std::chrono::steady_clock::time_point deadline);

}  // namespace qv::test
