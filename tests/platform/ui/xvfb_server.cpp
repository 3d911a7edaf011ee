#include "tests/platform/ui/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/gfx/color.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

extern char** environ;

namespace qv::test {

XvfbServer::XvfbServer(const std::string& screen, std::chrono::seconds deadline) {
  int fds[2];
  if (::pipe(fds) != 0) return;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  const std::string fd = std::to_string(fds[1]);
  const char* argv[] = {"Xvfb",         "-displayfd", fd.c_str(), "-screen", "0",
                        screen.c_str(), "-nolisten",  "tcp",      nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Neither output is the test's: a server left behind by a test that died must not hold the
  // test's output open (the runner would wait for it).
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    pid_ = -1;
    ::close(fds[0]);
    return;
  }
  // Xvfb writes its display number once it accepts connections.
  std::string number;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (number.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[32];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (number.find('\n') != std::string::npos) display_ = ":" + number.substr(0, number.find('\n'));
}

XvfbServer::~XvfbServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

namespace {

// A peer connection, closed on every way out.
// A window of the program under test can go between two requests about it; Xlib's default
// handler would end the test process on the error that follows.
int IgnoreVanishedWindow(::Display*, XErrorEvent*) {
  return 0;
}

class Peer {
 public:
  explicit Peer(const std::string& display) : dpy_(XOpenDisplay(display.c_str())) {
    XSetErrorHandler(IgnoreVanishedWindow);
  }
  ~Peer() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  [[nodiscard]] ::Display* get() const { return dpy_; }

 private:
  ::Display* dpy_;
};

}  // namespace

Bitmap GrabXWindow(const std::string& display, unsigned long window, int width, int height) {
  const Peer peer(display);
  if (peer.get() == nullptr) return {};
  XImage* image = XGetImage(peer.get(), window, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  Bitmap out(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      out.SetPixel(x, y, RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    }
  XDestroyImage(image);
  return out;
}

Bitmap GrabXScreen(const std::string& display, int width, int height) {
  unsigned long root = 0;
  {
    const Peer peer(display);
    if (peer.get() == nullptr) return {};
    root = DefaultRootWindow(peer.get());
  }
  return GrabXWindow(display, root, width, height);
}

bool SendXKey(const std::string& display, unsigned long window, unsigned long keysym,
              unsigned state) {
  const Peer peer(display);
  if (peer.get() == nullptr) return false;
  XKeyEvent key{};
  key.type = KeyPress;
  key.display = peer.get();
  key.window = window;
  key.root = DefaultRootWindow(peer.get());
  key.keycode = XKeysymToKeycode(peer.get(), keysym);
  key.state = state;
  key.same_screen = True;
  const bool sent =
      XSendEvent(peer.get(), window, False, KeyPressMask, reinterpret_cast<XEvent*>(&key)) != 0;
  XSync(peer.get(), False);
  return sent;
}

bool SendXClick(const std::string& display, unsigned long window, int x, int y, int xRoot,
                int yRoot) {
  const Peer peer(display);
  if (peer.get() == nullptr) return false;
  bool sent = true;
  for (int type : {ButtonPress, ButtonRelease}) {
    XEvent ev{};
    ev.xbutton.type = type;
    ev.xbutton.display = peer.get();
    ev.xbutton.window = window;
    ev.xbutton.root = DefaultRootWindow(peer.get());
    ev.xbutton.x = x;
    ev.xbutton.y = y;
    ev.xbutton.x_root = xRoot;
    ev.xbutton.y_root = yRoot;
    ev.xbutton.button = Button1;
    ev.xbutton.same_screen = True;
    ev.xbutton.time = CurrentTime;
    sent = XSendEvent(peer.get(), window, False,
                      type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &ev) != 0 &&
           sent;
  }
  XSync(peer.get(), False);
  return sent;
}

bool SendXDrag(const std::string& display, unsigned long window, Point origin, Point at,
               Point delta) {
  const Peer peer(display);
  if (peer.get() == nullptr) return false;
  bool sent = true;
  // Window coordinates relative to the window as it stands when the event is handled.
  auto send = [&](int type, Point win, Point screen) {
    XEvent ev{};
    ev.type = type;
    if (type == MotionNotify) {
      ev.xmotion.display = peer.get();
      ev.xmotion.window = window;
      ev.xmotion.root = DefaultRootWindow(peer.get());
      ev.xmotion.x = win.X;
      ev.xmotion.y = win.Y;
      ev.xmotion.x_root = screen.X;
      ev.xmotion.y_root = screen.Y;
      ev.xmotion.state = Button1Mask;
      ev.xmotion.same_screen = True;
    } else {
      ev.xbutton.display = peer.get();
      ev.xbutton.window = window;
      ev.xbutton.root = DefaultRootWindow(peer.get());
      ev.xbutton.x = win.X;
      ev.xbutton.y = win.Y;
      ev.xbutton.x_root = screen.X;
      ev.xbutton.y_root = screen.Y;
      ev.xbutton.button = Button1;
      ev.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
      ev.xbutton.same_screen = True;
    }
    const long mask = type == ButtonPress     ? ButtonPressMask
                      : type == ButtonRelease ? ButtonReleaseMask
                                              : PointerMotionMask;
    sent = XSendEvent(peer.get(), window, False, mask, &ev) != 0 && sent;
  };
  const Point start{origin.X + at.X, origin.Y + at.Y};
  const Point end{start.X + delta.X, start.Y + delta.Y};
  send(ButtonPress, at, start);
  send(MotionNotify, {at.X + delta.X, at.Y + delta.Y}, end);
  send(ButtonRelease, at, end);
  XSync(peer.get(), False);
  return sent;
}

bool SetRootCardinals(const std::string& display, const char* property,
                      const std::vector<long>& values) {
  const Peer peer(display);
  if (peer.get() == nullptr) return false;
  ::Display* dpy = peer.get();
  XChangeProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, property, False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(values.data()),
                  int(values.size()));
  XSync(dpy, False);
  return true;
}

std::optional<std::vector<Rect>> XShapeRectangles(const std::string& display,
                                                  unsigned long window) {
  const Peer peer(display);
  if (peer.get() == nullptr) return std::nullopt;
  int count = 0, ordering = 0;
  XRectangle* rects = XShapeGetRectangles(peer.get(), window, ShapeBounding, &count, &ordering);
  if (rects == nullptr) return std::nullopt;
  std::vector<Rect> out;
  for (int i = 0; i < count; ++i)
    out.push_back(Bounds(rects[i].x, rects[i].y, rects[i].width, rects[i].height));
  XFree(rects);
  return out;
}

namespace {

// The top-level window titled `title` (the window manager-less server keeps them as children
// of the root); 0 when there is none.
unsigned long FindTitled(::Display* dpy, const std::string& title) {
  ::Window root, parent, *children = nullptr;
  unsigned count = 0;
  unsigned long found = 0;
  if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count) == 0) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    if (XFetchName(dpy, children[i], &name) != 0 && name != nullptr) {
      if (title == name) found = children[i];
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

}  // namespace

XTopLevel WaitForViewableXWindow(const std::string& display, const std::string& title,
                                 std::chrono::steady_clock::time_point deadline) {
  const Peer peer(display);
  if (peer.get() == nullptr) return {};
  while (std::chrono::steady_clock::now() < deadline) {
    const unsigned long xid = FindTitled(peer.get(), title);
    XWindowAttributes attributes{};
    if (xid != 0 && XGetWindowAttributes(peer.get(), xid, &attributes) != 0 &&
        attributes.map_state == IsViewable)
      return {xid, attributes.width, attributes.height};
    // The server belongs to no one here to wait on: look again shortly.
    ::poll(nullptr, 0, 20);
  }
  return {};
}

}  // namespace qv::test

namespace qv::test {

std::optional<std::string> ReadXClipboard(const std::string& display, const std::string& target,
                                          std::chrono::steady_clock::time_point deadline) {
  const Peer peer(display);
  ::Display* dpy = peer.get();
  if (dpy == nullptr) return std::nullopt;
  const ::Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
  const Atom property = XInternAtom(dpy, "PEER_CLIPBOARD", False);
  XConvertSelection(dpy, XInternAtom(dpy, "CLIPBOARD", False),
                    XInternAtom(dpy, target.c_str(), False), property, w, CurrentTime);
  XFlush(dpy);
  pollfd p{ConnectionNumber(dpy), POLLIN, 0};
  while (true) {
    while (XPending(dpy) > 0) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type != SelectionNotify) continue;
      if (ev.xselection.property == None) return std::nullopt;
      Atom type = 0;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      std::optional<std::string> text;
      if (XGetWindowProperty(dpy, w, property, 0, 1 << 20, True, AnyPropertyType, &type, &format,
                             &count, &after, &data) == Success &&
          data != nullptr) {
        text = std::string(reinterpret_cast<char*>(data),
                           count * (format == 32 ? sizeof(long) : std::size_t(format) / 8));
      }
      if (data != nullptr) XFree(data);
      return text;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
  }
}

}  // namespace qv::test
