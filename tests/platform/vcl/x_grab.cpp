#include "tests/platform/vcl/x_grab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qv::test {

Bitmap GrabXWindow(const std::string& display, unsigned long window, int width, int height) {
  ::Display* dpy = XOpenDisplay(display.c_str());
  if (dpy == nullptr) return {};
  Bitmap out;
  if (XImage* img =
          XGetImage(dpy, window, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap)) {
    out = Bitmap(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const unsigned long p = XGetPixel(img, x, y);
        out.SetPixel(x, y, RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
      }
    XDestroyImage(img);
  }
  XCloseDisplay(dpy);
  return out;
}

}  // namespace qv::test

namespace qv::test {

bool SendXKey(const std::string& display, unsigned long window, unsigned long keysym) {
  ::Display* dpy = XOpenDisplay(display.c_str());
  if (dpy == nullptr) return false;
  XKeyEvent key{};
  key.type = KeyPress;
  key.display = dpy;
  key.window = window;
  key.root = DefaultRootWindow(dpy);
  key.keycode = XKeysymToKeycode(dpy, keysym);
  key.same_screen = True;
  const bool sent =
      XSendEvent(dpy, window, False, KeyPressMask, reinterpret_cast<XEvent*>(&key)) != 0;
  XSync(dpy, False);
  XCloseDisplay(dpy);
  return sent;
}

}  // namespace qv::test
