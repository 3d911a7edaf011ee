// Stands in for a mail program started for a mail-to link: it shows a window titled
// "mail handler" that names its process in _NET_WM_PID, and ends at once. The window is
// kept by the X server after the program's end, so the sender finds it whenever it looks.
// With QV_HANDLER_STAYS=<file> it writes its process id there and stays a while, as a mail
// program does: less than the sender would wait for a handler to end.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main() {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return 2;
  const Window root = DefaultRootWindow(dpy);
  const Window w = XCreateSimpleWindow(dpy, root, 10, 10, 120, 80, 0, 0, 0xFFFFFF);
  XStoreName(dpy, w, "mail handler");
  const unsigned long pid = static_cast<unsigned long>(::getpid());
  XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  XMapWindow(dpy, w);
  XSetCloseDownMode(dpy, RetainPermanent);
  XSync(dpy, False);
  if (const char* stays = std::getenv("QV_HANDLER_STAYS")) {
    if (FILE* f = std::fopen(stays, "w")) {
      std::fprintf(f, "%lu\n", pid);
      std::fclose(f);
    }
    ::sleep(9);
  }
  XCloseDisplay(dpy);
  return 0;
}
