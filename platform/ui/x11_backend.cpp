#include "platform/ui/x11_backend.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "platform/msg/fd_watch.h"
#include "platform/ui/virtual_keys.h"

namespace qv {

namespace {

// Xlib's default error handler ends the process; a request on a window the server has
// already dropped (a race with the user closing it) must not.
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

struct MotifHints {
  unsigned long flags;
  unsigned long functions;
  unsigned long decorations;
  long inputMode;
  unsigned long status;
};

int ShiftOf(unsigned long mask) {
  int shift = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

int BitsOf(unsigned long mask) {
  int bits = 0;
  for (; mask; mask >>= 1) bits += static_cast<int>(mask & 1);
  return bits;
}

unsigned Modifiers(unsigned state) {
  unsigned m = 0;
  if (state & ShiftMask) m |= kModShift;
  if (state & ControlMask) m |= kModControl;
  if (state & Mod1Mask) m |= kModAlt;
  return m;
}

std::string Latin1ToUtf8(const char* text, int length) {
  std::string out;
  for (int i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// The clipboard's own connections: losing one of them must not end the process (Xlib's
// default for every connection, kept for the window connections); it is marked dead and
// whoever uses it stops.
struct QuietConnections {
  std::mutex mutex;
  std::set<Display*> displays;
  XIOErrorHandler previous = nullptr;
};

QuietConnections& Quiet() {
  static auto* const quiet = new QuietConnections;  // used until the process ends
  return *quiet;
}

int QuietIOError(Display* dpy) {
  QuietConnections& q = Quiet();
  XIOErrorHandler previous = nullptr;
  {
    const std::lock_guard lock(q.mutex);
    if (q.displays.contains(dpy)) return 0;  // then the display's exit handler runs
    previous = q.previous;
  }
  return previous ? previous(dpy) : 0;
}

void MarkDead(Display*, void* dead) {
  *static_cast<std::atomic<bool>*>(dead) = true;
}

void MakeQuiet(Display* dpy, std::atomic<bool>* dead) {
  QuietConnections& q = Quiet();
  const std::lock_guard lock(q.mutex);
  if (!q.previous) q.previous = XSetIOErrorHandler(QuietIOError);
  q.displays.insert(dpy);
  XSetIOErrorExitHandler(dpy, MarkDead, dead);
}

void ForgetQuiet(Display* dpy) {
  QuietConnections& q = Quiet();
  const std::lock_guard lock(q.mutex);
  q.displays.erase(dpy);
}

std::string Utf8ToLatin1(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
      const unsigned code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3Fu);
      out.push_back(code < 0x100 ? static_cast<char>(code) : '?');
    } else {
      while (i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) ++i;
      out.push_back('?');
    }
  }
  return out;
}

// The process's CLIPBOARD owner on one display: a connection and a thread of its own, so
// that other programs get the text while the process lives, whatever its window threads
// are doing (a frozen main thread included). Never destroyed: it serves until the process
// ends, another program takes the clipboard, or the display goes.
class ClipboardOwner {
 public:
  static ClipboardOwner* Open(const std::string& displayName) {
    Display* dpy = XOpenDisplay(displayName.c_str());
    if (!dpy) return nullptr;
    auto* owner = new ClipboardOwner(dpy, displayName);
    std::thread([owner] { owner->Serve(); }).detach();
    return owner;
  }
  // Owns CLIPBOARD on the calling thread until another client takes it or the display goes.
  static bool Hold(const std::string& displayName, std::string_view text,
                   const std::function<void()>& taken) {
    Display* dpy = XOpenDisplay(displayName.c_str());
    if (!dpy) return false;
    ClipboardOwner owner(dpy, displayName);
    owner.untilLost_ = true;
    if (!owner.Take(text)) {
      XCloseDisplay(dpy);
      ForgetQuiet(dpy);
      return false;
    }
    if (taken) taken();
    owner.Serve();
    XCloseDisplay(dpy);
    ForgetQuiet(dpy);
    return true;
  }
  [[nodiscard]] const std::string& DisplayName() const { return name_; }
  [[nodiscard]] bool Dead() const { return dead_; }

  bool Take(std::string_view text) {
    const std::lock_guard lock(mutex_);
    text_ = std::string(text);
    XSetSelectionOwner(dpy_, clipboard_, window_, CurrentTime);
    owned_ = XGetSelectionOwner(dpy_, clipboard_) == window_;
    return owned_ && !dead_;
  }
  std::optional<std::string> Owned() {
    const std::lock_guard lock(mutex_);
    if (owned_ && !dead_) return text_;
    return std::nullopt;
  }

 private:
  ClipboardOwner(Display* dpy, std::string name) : dpy_(dpy), name_(std::move(name)) {
    MakeQuiet(dpy_, &dead_);
    window_ = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 1, 1, 0, 0, 0);
    clipboard_ = XInternAtom(dpy_, "CLIPBOARD", False);
    targets_ = XInternAtom(dpy_, "TARGETS", False);
    utf8_ = XInternAtom(dpy_, "UTF8_STRING", False);
    text_atom_ = XInternAtom(dpy_, "TEXT", False);
  }

  void Serve() {
    pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
    while (!dead_) {
      while (!dead_ && XPending(dpy_) > 0) {
        XEvent ev;
        XNextEvent(dpy_, &ev);
        if (ev.type == SelectionRequest) Answer(ev.xselectionrequest);
        if (ev.type == SelectionClear) {
          const std::lock_guard lock(mutex_);
          owned_ = false;
        }
      }
      if (dead_) break;
      if (untilLost_) {
        const std::lock_guard lock(mutex_);
        if (!owned_) break;
      }
      // A signal (the freeze watchdog's, say) is no reason to stop serving.
      if (poll(&p, 1, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      // The server went: stop here, before Xlib trips over the closed connection.
      if (p.revents & (POLLHUP | POLLERR)) dead_ = true;
    }
  }

  void Answer(const XSelectionRequestEvent& r) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = r.display;
    reply.requestor = r.requestor;
    reply.selection = r.selection;
    reply.target = r.target;
    reply.time = r.time;
    reply.property = None;
    const Atom property = r.property != None ? r.property : r.target;
    std::string text;
    {
      const std::lock_guard lock(mutex_);
      text = text_;
    }
    auto put = [&](Atom type, int format, const void* data, std::size_t count) {
      XChangeProperty(dpy_, r.requestor, property, type, format, PropModeReplace,
                      static_cast<const unsigned char*>(data), static_cast<int>(count));
      reply.property = property;
    };
    if (r.selection == clipboard_ && r.owner == window_) {
      if (r.target == targets_) {
        const Atom list[] = {targets_, utf8_, text_atom_, XA_STRING};
        put(XA_ATOM, 32, list, 4);
      } else if (r.target == utf8_ || r.target == text_atom_) {
        put(utf8_, 8, text.data(), text.size());
      } else if (r.target == XA_STRING) {
        const std::string latin1 = Utf8ToLatin1(text);
        put(XA_STRING, 8, latin1.data(), latin1.size());
      }
    }
    XSendEvent(dpy_, r.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
    XFlush(dpy_);
  }

  Display* dpy_;
  std::string name_;
  std::atomic<bool> dead_{false};
  ::Window window_ = 0;
  Atom clipboard_ = 0, targets_ = 0, utf8_ = 0, text_atom_ = 0;
  std::mutex mutex_;
  std::string text_;    // guarded by mutex_
  bool owned_ = false;  // guarded by mutex_
  bool untilLost_ = false;
};

// The clipboard owner of the display last used; a new one when the display changed or died.
ClipboardOwner* ClipboardOwnerFor(const std::string& displayName) {
  static std::mutex mutex;
  static auto* const owners = new std::vector<ClipboardOwner*>;  // every one, never freed
  const std::lock_guard lock(mutex);
  if (owners->empty() || owners->back()->Dead() || owners->back()->DisplayName() != displayName) {
    ClipboardOwner* owner = ClipboardOwner::Open(displayName);
    if (!owner) return nullptr;
    owners->push_back(owner);
  }
  return owners->back();
}

// Asks the CLIPBOARD owner for UTF-8 text on a connection of its own, waiting for the answer
// until a deadline (a hung owner must not hang us).
std::optional<std::string> RequestClipboard(const std::string& displayName) {
  Display* dpy = XOpenDisplay(displayName.c_str());
  if (!dpy) return std::nullopt;
  std::atomic<bool> dead{false};
  MakeQuiet(dpy, &dead);
  const ::Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
  const Atom clipboard = XInternAtom(dpy, "CLIPBOARD", False);
  const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  const Atom property = XInternAtom(dpy, "QUORVEL_CLIPBOARD", False);
  std::optional<std::string> result;
  if (XGetSelectionOwner(dpy, clipboard) != None) {
    XConvertSelection(dpy, clipboard, utf8, property, w, CurrentTime);
    XFlush(dpy);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    pollfd p{ConnectionNumber(dpy), POLLIN, 0};
    bool answered = false;
    while (!answered && !dead) {
      while (!answered && !dead && XPending(dpy) > 0) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type != SelectionNotify) continue;
        answered = true;
        if (ev.xselection.property == None) break;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(dpy, w, property, 0, 1 << 24, True, AnyPropertyType, &type, &format,
                               &count, &after, &data) == Success &&
            data && format == 8) {
          result = std::string(reinterpret_cast<char*>(data), count);
        }
        if (data) XFree(data);
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (answered || dead || left.count() <= 0) break;
      const int ready = poll(&p, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
    }
  }
  if (!dead) XDestroyWindow(dpy, w);
  XCloseDisplay(dpy);
  ForgetQuiet(dpy);
  return result;
}

}  // namespace

struct X11Backend::Impl {
  Display* dpy = nullptr;
  int screen = 0;
  ::Window root = 0;
  Visual* visual = nullptr;
  int depth = 0;
  GC gc = nullptr;
  Atom wmProtocols = 0, wmDelete = 0, motifHints = 0, netWmName = 0, utf8 = 0, netActive = 0,
       netWorkArea = 0;
  bool shapeExtension = false;
  DisplayEvents* events = nullptr;
  WatchId watch = 0;
  struct Win {
    ::Window xid = 0;
    Rect bounds;
    bool mapped = false;
    bool wantFocus = false;
    bool iconified = false;
  };
  std::map<HWND, Win> windows;
  std::map<::Window, HWND> byX;
  XErrorHandler oldHandler = nullptr;
  std::string displayName;  // as opened, for the connections of the clipboard

  Win* Find(HWND hwnd) {
    const auto it = windows.find(hwnd);
    return it == windows.end() ? nullptr : &it->second;
  }
  HWND Of(::Window xid) const {
    const auto it = byX.find(xid);
    return it == byX.end() ? 0 : it->second;
  }
  std::string TitleOf(::Window w) const {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(dpy, w, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data && type == utf8 && format == 8) {
      title.assign(reinterpret_cast<char*>(data), count);
      XFree(data);
      return title;
    }
    if (data) XFree(data);
    char* name = nullptr;
    if (XFetchName(dpy, w, &name) && name) {
      title = name;
      XFree(name);
    }
    return title;
  }
  // The front-most window `match` accepts among `w`'s children, else among theirs down to
  // `depthLeft` more levels (XQueryTree lists children bottom to top).
  ::Window FindWindow(::Window w, const std::function<bool(::Window)>& match, int depthLeft) const {
    ::Window rootReturn = 0, parent = 0;
    ::Window* children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &rootReturn, &parent, &children, &n)) return 0;
    ::Window found = 0;
    for (unsigned i = n; i-- > 0 && !found;) {
      if (match(children[i])) found = children[i];
    }
    for (unsigned i = n; i-- > 0 && !found && depthLeft > 0;) {
      found = FindWindow(children[i], match, depthLeft - 1);
    }
    if (children) XFree(children);
    return found;
  }
  ::Window FindByTitle(::Window w, std::string_view title, int depthLeft) const {
    return FindWindow(
        w, [&](::Window c) { return TitleOf(c) == title; }, depthLeft);
  }
  // A shown window whose _NET_WM_PID `owned` accepts.
  ::Window FindByProcess(const std::function<bool(std::uint32_t)>& owned) const {
    const Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", False);
    const auto match = [&](::Window c) {
      Atom type = 0;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      XWindowAttributes a{};
      const bool ok = XGetWindowProperty(dpy, c, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                                         &count, &after, &data) == Success &&
                      data != nullptr && format == 32 && count == 1 &&
                      owned(std::uint32_t(*reinterpret_cast<unsigned long*>(data))) &&
                      XGetWindowAttributes(dpy, c, &a) && a.map_state == IsViewable;
      if (data) XFree(data);
      return ok;
    };
    return FindWindow(root, match, 2);
  }
};

std::unique_ptr<X11Backend> X11Backend::Open(const char* displayName) {
  // Each thread with windows has a connection of its own; Xlib's shared state (error
  // handler, locale, extension tables) must be locked before the first connection opens.
  static const bool threads = XInitThreads() != 0;
  (void)threads;
  Display* dpy = XOpenDisplay(displayName);
  if (!dpy) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->dpy = dpy;
  impl->displayName = DisplayString(dpy);
  impl->oldHandler = XSetErrorHandler(IgnoreXError);
  impl->screen = DefaultScreen(dpy);
  impl->root = RootWindow(dpy, impl->screen);
  impl->visual = DefaultVisual(dpy, impl->screen);
  impl->depth = DefaultDepth(dpy, impl->screen);
  impl->gc = XCreateGC(dpy, impl->root, 0, nullptr);
  impl->wmProtocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
  impl->wmDelete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  impl->motifHints = XInternAtom(dpy, "_MOTIF_WM_HINTS", False);
  impl->netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
  impl->utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  impl->netActive = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
  impl->netWorkArea = XInternAtom(dpy, "_NET_WORKAREA", False);
  int shapeEvent = 0, shapeError = 0;
  impl->shapeExtension = XShapeQueryExtension(dpy, &shapeEvent, &shapeError);
  return std::unique_ptr<X11Backend>(new X11Backend(std::move(impl)));
}

X11Backend::X11Backend(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

X11Backend::~X11Backend() {
  if (impl_->watch) UnwatchFd(impl_->watch);
  for (auto& [hwnd, win] : impl_->windows) XDestroyWindow(impl_->dpy, win.xid);
  XFreeGC(impl_->dpy, impl_->gc);
  XCloseDisplay(impl_->dpy);
}

void X11Backend::Start(DisplayEvents* events) {
  impl_->events = events;
  Display* dpy = impl_->dpy;
  impl_->watch = WatchFd(
      ConnectionNumber(dpy), POLLIN, [this](int, short) { HandlePending(); },
      [dpy] { return XQLength(dpy) > 0; });
}

void X11Backend::HandlePending() {
  Impl& x = *impl_;
  while (XPending(x.dpy) > 0) {
    XEvent ev;
    XNextEvent(x.dpy, &ev);
    const HWND hwnd = x.Of(ev.xany.window);
    Impl::Win* win = x.Find(hwnd);
    if (!win || !x.events) continue;
    const Point origin{win->bounds.Left, win->bounds.Top};
    switch (ev.type) {
      case Expose:
        x.events->Exposed(hwnd,
                          Bounds(ev.xexpose.x, ev.xexpose.y, ev.xexpose.width, ev.xexpose.height));
        break;
      case MotionNotify:
        x.events->MouseMove(hwnd, {origin.X + ev.xmotion.x, origin.Y + ev.xmotion.y},
                            Modifiers(ev.xmotion.state),
                            static_cast<std::uint32_t>(ev.xmotion.time));
        break;
      case ButtonPress:
      case ButtonRelease: {
        MouseButton button;
        switch (ev.xbutton.button) {
          case Button1:
            button = MouseButton::Left;
            break;
          case Button2:
            button = MouseButton::Middle;
            break;
          case Button3:
            button = MouseButton::Right;
            break;
          case Button4:
          case Button5:
            if (ev.type == ButtonPress) {
              x.events->MouseWheel(hwnd, {origin.X + ev.xbutton.x, origin.Y + ev.xbutton.y},
                                   ev.xbutton.button == Button4 ? 120 : -120,
                                   Modifiers(ev.xbutton.state),
                                   static_cast<std::uint32_t>(ev.xbutton.time));
            }
            continue;
          default:
            continue;  // sideways scrolling and extra buttons: nothing takes them
        }
        x.events->MouseButton(hwnd, {origin.X + ev.xbutton.x, origin.Y + ev.xbutton.y}, button,
                              ev.type == ButtonPress, Modifiers(ev.xbutton.state),
                              static_cast<std::uint32_t>(ev.xbutton.time));
        break;
      }
      case LeaveNotify:
        if (ev.xcrossing.mode == NotifyNormal && ev.xcrossing.detail != NotifyInferior) {
          x.events->MouseLeft(hwnd);
        }
        break;
      case KeyPress:
      case KeyRelease: {
        char text[32];
        KeySym keysym = NoSymbol;
        const int length = XLookupString(&ev.xkey, text, sizeof text, &keysym, nullptr);
        unsigned vk = VirtualKeyFromKeysym(static_cast<std::uint32_t>(keysym));
        if (vk == 0)
          vk = VirtualKeyFromKeysym(static_cast<std::uint32_t>(XLookupKeysym(&ev.xkey, 0)));
        const bool down = ev.type == KeyPress;
        x.events->Key(hwnd, vk, down, Modifiers(ev.xkey.state), ev.xkey.keycode - 8,
                      down ? Latin1ToUtf8(text, length) : std::string(),
                      static_cast<std::uint32_t>(ev.xkey.time));
        break;
      }
      case ConfigureNotify: {
        int rx = 0, ry = 0;
        ::Window child = 0;
        XTranslateCoordinates(x.dpy, win->xid, x.root, 0, 0, &rx, &ry, &child);
        const Rect bounds = Bounds(rx, ry, ev.xconfigure.width, ev.xconfigure.height);
        if (bounds != win->bounds) {
          win->bounds = bounds;
          x.events->Configured(hwnd, bounds);
        }
        break;
      }
      case MapNotify:
        win->mapped = true;
        if (std::exchange(win->iconified, false)) x.events->Restored(hwnd);
        if (win->wantFocus) {
          win->wantFocus = false;
          XSetInputFocus(x.dpy, win->xid, RevertToParent, CurrentTime);
        }
        break;
      case UnmapNotify:
        win->mapped = false;
        break;
      case FocusIn:
      case FocusOut:
        if (ev.xfocus.mode == NotifyNormal || ev.xfocus.mode == NotifyWhileGrabbed) {
          x.events->FocusChanged(hwnd, ev.type == FocusIn);
        }
        break;
      case ClientMessage:
        if (ev.xclient.message_type == x.wmProtocols &&
            static_cast<Atom>(ev.xclient.data.l[0]) == x.wmDelete) {
          x.events->CloseRequested(hwnd);
        }
        break;
      default:
        break;
    }
  }
}

void X11Backend::CreateTopLevel(HWND hwnd, const Rect& bounds, std::string_view title, bool popup) {
  Impl& x = *impl_;
  XSetWindowAttributes attrs{};
  attrs.background_pixmap = None;  // we paint every pixel ourselves
  attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                     KeyPressMask | KeyReleaseMask | EnterWindowMask | LeaveWindowMask |
                     StructureNotifyMask | FocusChangeMask;
  attrs.override_redirect = popup ? True : False;
  attrs.bit_gravity = NorthWestGravity;
  const ::Window xid = XCreateWindow(
      x.dpy, x.root, bounds.Left, bounds.Top, static_cast<unsigned>(std::max(bounds.Width(), 1)),
      static_cast<unsigned>(std::max(bounds.Height(), 1)), 0, x.depth, InputOutput, x.visual,
      CWBackPixmap | CWEventMask | CWOverrideRedirect | CWBitGravity, &attrs);
  MotifHints hints{2, 0, 0, 0, 0};  // decorations: none
  XChangeProperty(x.dpy, xid, x.motifHints, x.motifHints, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&hints), 5);
  XSetWMProtocols(x.dpy, xid, &x.wmDelete, 1);
  XSizeHints size{};
  size.flags = USPosition | USSize;
  size.x = bounds.Left;
  size.y = bounds.Top;
  size.width = bounds.Width();
  size.height = bounds.Height();
  XSetWMNormalHints(x.dpy, xid, &size);
  XClassHint cls{const_cast<char*>("quorvel"), const_cast<char*>("Quorvel")};
  XSetClassHint(x.dpy, xid, &cls);
  x.windows[hwnd] = {xid, bounds, false, false, false};
  x.byX[xid] = hwnd;
  SetTitle(hwnd, title);
  XFlush(x.dpy);
}

void X11Backend::DestroyTopLevel(HWND hwnd) {
  Impl& x = *impl_;
  Impl::Win* win = x.Find(hwnd);
  if (!win) return;
  XDestroyWindow(x.dpy, win->xid);
  x.byX.erase(win->xid);
  x.windows.erase(hwnd);
  XFlush(x.dpy);
}

void X11Backend::SetBounds(HWND hwnd, const Rect& bounds) {
  Impl& x = *impl_;
  Impl::Win* win = x.Find(hwnd);
  if (!win) return;
  win->bounds = bounds;
  XMoveResizeWindow(x.dpy, win->xid, bounds.Left, bounds.Top,
                    static_cast<unsigned>(std::max(bounds.Width(), 1)),
                    static_cast<unsigned>(std::max(bounds.Height(), 1)));
  XFlush(x.dpy);
}

void X11Backend::SetVisible(HWND hwnd, bool visible) {
  Impl& x = *impl_;
  Impl::Win* win = x.Find(hwnd);
  if (!win) return;
  if (visible) {
    XMapRaised(x.dpy, win->xid);
  } else {
    XUnmapWindow(x.dpy, win->xid);
  }
  XFlush(x.dpy);
}

void X11Backend::SetTitle(HWND hwnd, std::string_view title) {
  Impl& x = *impl_;
  Impl::Win* win = x.Find(hwnd);
  if (!win) return;
  const std::string text(title);
  XStoreName(x.dpy, win->xid, text.c_str());
  XChangeProperty(x.dpy, win->xid, x.netWmName, x.utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<int>(text.size()));
  XFlush(x.dpy);
}

void X11Backend::SetShape(HWND hwnd, const Region* shape) {
  Impl& x = *impl_;
  Impl::Win* win = x.Find(hwnd);
  if (!win || !x.shapeExtension) return;
  if (!shape) {
    XShapeCombineMask(x.dpy, win->xid, ShapeBounding, 0, 0, None, ShapeSet);
  } else {
    std::vector<XRectangle> rects;
    for (const Rect& r : shape->Rects()) {
      rects.push_back({static_cast<short>(r.Left), static_cast<short>(r.Top),
                       static_cast<unsigned short>(r.Width()),
                       static_cast<unsigned short>(r.Height())});
    }
    XShapeCombineRectangles(x.dpy, win->xid, ShapeBounding, 0, 0, rects.data(),
                            static_cast<int>(rects.size()), ShapeSet, YXBanded);
  }
  XFlush(x.dpy);
}

void X11Backend::Present(HWND hwnd, const Bitmap& buffer, const Region& dirty) {
  Impl& x = *impl_;
  Impl::Win* win = x.Find(hwnd);
  if (!win) return;
  Region area = dirty.Intersect(Region(buffer.BoundsRect()));
  std::vector<Rect> rects = area.Rects();
  // Many small pieces cost more in requests than the pixels between them.
  if (rects.size() > 32) rects = {area.BoundingBox()};
  const unsigned long rm = x.visual->red_mask, gm = x.visual->green_mask, bm = x.visual->blue_mask;
  const bool fast = x.depth >= 24 && rm == 0xFF0000 && gm == 0x00FF00 && bm == 0x0000FF;
  const int rs = ShiftOf(rm), gs = ShiftOf(gm), bs = ShiftOf(bm);
  const int rb = BitsOf(rm), gb = BitsOf(gm), bb = BitsOf(bm);
  for (const Rect& r : rects) {
    if (r.IsEmpty()) continue;
    XImage* image =
        XCreateImage(x.dpy, x.visual, static_cast<unsigned>(x.depth), ZPixmap, 0, nullptr,
                     static_cast<unsigned>(r.Width()), static_cast<unsigned>(r.Height()), 32, 0);
    if (!image) continue;
    image->data = static_cast<char*>(
        std::malloc(static_cast<std::size_t>(image->bytes_per_line) * r.Height()));
    if (!image->data) {
      XDestroyImage(image);
      continue;
    }
    for (int y = 0; y < r.Height(); ++y) {
      const std::uint8_t* src = buffer.ScanLine(r.Top + y) + 3 * r.Left;
      if (fast && image->bits_per_pixel == 32) {
        auto* dst = reinterpret_cast<std::uint8_t*>(image->data + y * image->bytes_per_line);
        const bool msb = image->byte_order == MSBFirst;
        for (int i = 0; i < r.Width(); ++i, src += 3, dst += 4) {
          if (msb) {
            dst[0] = 0;
            dst[1] = src[2];
            dst[2] = src[1];
            dst[3] = src[0];
          } else {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0;
          }
        }
      } else {
        for (int i = 0; i < r.Width(); ++i, src += 3) {
          const unsigned long pixel =
              ((static_cast<unsigned long>(src[2]) >> (8 - std::min(rb, 8))) << rs) |
              ((static_cast<unsigned long>(src[1]) >> (8 - std::min(gb, 8))) << gs) |
              ((static_cast<unsigned long>(src[0]) >> (8 - std::min(bb, 8))) << bs);
          XPutPixel(image, i, y, pixel);
        }
      }
    }
    XPutImage(x.dpy, win->xid, x.gc, image, 0, 0, r.Left, r.Top, static_cast<unsigned>(r.Width()),
              static_cast<unsigned>(r.Height()));
    XDestroyImage(image);
  }
  XFlush(x.dpy);
}

void X11Backend::Raise(HWND hwnd) {
  Impl& x = *impl_;
  if (Impl::Win* win = x.Find(hwnd)) {
    XRaiseWindow(x.dpy, win->xid);
    XFlush(x.dpy);
  }
}

void X11Backend::Minimize(HWND hwnd) {
  Impl& x = *impl_;
  if (Impl::Win* win = x.Find(hwnd)) {
    win->iconified = true;
    XIconifyWindow(x.dpy, win->xid, x.screen);
    XFlush(x.dpy);
  }
}

void X11Backend::GrabPointer(HWND hwnd, bool grab) {
  Impl& x = *impl_;
  Impl::Win* win = x.Find(hwnd);
  if (!win) return;
  if (grab) {
    XGrabPointer(x.dpy, win->xid, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                 GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
  } else {
    XUngrabPointer(x.dpy, CurrentTime);
  }
  XFlush(x.dpy);
}

void X11Backend::SetInputFocus(HWND hwnd) {
  Impl& x = *impl_;
  Impl::Win* win = x.Find(hwnd);
  if (!win) return;
  // The server refuses focus for a window that is not viewable yet; MapNotify does it then.
  if (win->mapped) {
    XSetInputFocus(x.dpy, win->xid, RevertToParent, CurrentTime);
    XFlush(x.dpy);
  } else {
    win->wantFocus = true;
  }
}

Bitmap X11Backend::CaptureScreen() {
  Impl& x = *impl_;
  XWindowAttributes root{};
  if (!XGetWindowAttributes(x.dpy, x.root, &root)) return {};
  XImage* image = XGetImage(x.dpy, x.root, 0, 0, static_cast<unsigned>(root.width),
                            static_cast<unsigned>(root.height), AllPlanes, ZPixmap);
  if (!image) return {};
  const unsigned long masks[3] = {image->red_mask, image->green_mask, image->blue_mask};
  int shifts[3], bits[3];
  for (int i = 0; i < 3; ++i) {
    shifts[i] = ShiftOf(masks[i]);
    bits[i] = std::max(BitsOf(masks[i]), 1);
  }
  // A palette visual has no colour masks: its pixels are colormap indexes, read through the
  // root window's colormap (indexes outside it stay black).
  std::vector<XColor> palette;
  const bool indexed = masks[0] == 0 && masks[1] == 0 && masks[2] == 0 && root.visual != nullptr &&
                       root.colormap != None && root.visual->map_entries > 0;
  if (indexed) {
    palette.resize(std::size_t(std::min(root.visual->map_entries, 1 << 16)));
    for (std::size_t i = 0; i < palette.size(); ++i) palette[i].pixel = i;
    XQueryColors(x.dpy, root.colormap, palette.data(), int(palette.size()));
  }
  Bitmap screen(root.width, root.height);
  for (int y = 0; y < root.height; ++y) {
    std::uint8_t* row = screen.ScanLine(y);
    for (int px = 0; px < root.width; ++px) {
      const unsigned long pixel = XGetPixel(image, px, y);
      if (indexed) {
        const XColor* c = pixel < palette.size() ? &palette[pixel] : nullptr;
        row[3 * px] = c ? std::uint8_t(c->blue >> 8) : 0;
        row[3 * px + 1] = c ? std::uint8_t(c->green >> 8) : 0;
        row[3 * px + 2] = c ? std::uint8_t(c->red >> 8) : 0;
        continue;
      }
      for (int i = 0; i < 3; ++i) {  // red, green, blue to the row's blue, green, red
        const unsigned long v = (pixel & masks[i]) >> shifts[i];
        row[3 * px + 2 - i] = static_cast<std::uint8_t>(v * 255 / ((1ul << bits[i]) - 1));
      }
    }
  }
  XDestroyImage(image);
  return screen;
}

bool HoldClipboardText(const std::string& displayName, std::string_view text,
                       const std::function<void()>& taken) {
  return ClipboardOwner::Hold(displayName, text, taken);
}

bool X11Backend::SetClipboardText(std::string_view text) {
  ClipboardOwner* owner = ClipboardOwnerFor(impl_->displayName);
  return owner && owner->Take(text);
}

std::optional<std::string> X11Backend::ClipboardText() {
  ClipboardOwner* owner = ClipboardOwnerFor(impl_->displayName);
  if (owner) {
    if (auto own = owner->Owned()) return own;
  }
  return RequestClipboard(impl_->displayName);
}

std::vector<Monitor> X11Backend::Monitors() {
  Impl& x = *impl_;
  std::vector<Monitor> monitors;
  int n = 0;
  int eventBase = 0, errorBase = 0;
  if (XRRQueryExtension(x.dpy, &eventBase, &errorBase)) {
    if (XRRMonitorInfo* info = XRRGetMonitors(x.dpy, x.root, True, &n)) {
      for (int i = 0; i < n; ++i) {
        if (const auto r = ScreenRect(info[i].x, info[i].y, info[i].width, info[i].height)) {
          monitors.push_back({*r, *r, info[i].primary != 0});
        } else {
          std::fprintf(stderr,
                       "quorvel: the X server's monitor %dx%d%+d%+d ignored: no screen is "
                       "that large or that far out\n",
                       info[i].width, info[i].height, info[i].x, info[i].y);
        }
      }
      XRRFreeMonitors(info);
    }
  }
  if (monitors.empty()) {
    const Rect r = ScreenRect(0, 0, DisplayWidth(x.dpy, x.screen), DisplayHeight(x.dpy, x.screen))
                       .value_or(Rect{0, 0, 1024, 768});
    monitors.push_back({r, r, true});
  }
  if (std::none_of(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.Primary; })) {
    monitors.front().Primary = true;
  }
  // A desktop's panels: the work area it publishes, cut to each monitor.
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(x.dpy, x.root, x.netWorkArea, 0, 4, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) == Success &&
      data && format == 32 && count >= 4) {
    // The numbers are whatever a client put there: one that no screen has is left out.
    const long* v = reinterpret_cast<const long*>(data);
    if (const auto work = ScreenRect(v[0], v[1], v[2], v[3])) {
      for (auto& m : monitors) {
        const Rect cut = Intersect(m.Bounds, *work);
        if (!cut.IsEmpty()) m.WorkArea = cut;
      }
    } else {
      std::fprintf(stderr,
                   "quorvel: the desktop's work area %ldx%ld%+ld%+ld ignored: no screen "
                   "is that large or that far out\n",
                   v[2], v[3], v[0], v[1]);
    }
  }
  if (data) XFree(data);
  return monitors;
}

Point X11Backend::CursorPos() {
  Impl& x = *impl_;
  ::Window rootReturn = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(x.dpy, x.root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask);
  return {rx, ry};
}

void X11Backend::Beep() {
  XBell(impl_->dpy, 0);
  XFlush(impl_->dpy);
}

std::uint64_t X11Backend::ForegroundWindow() {
  Impl& x = *impl_;
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(x.dpy, &focus, &revert);
  if (focus != None && focus != PointerRoot && focus != x.root) return focus;
  // A window manager may keep the focus on a frame of its own: it names the active window.
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  ::Window active = 0;
  if (XGetWindowProperty(x.dpy, x.root, x.netActive, 0, 1, False, XA_WINDOW, &type, &format, &count,
                         &after, &data) == Success &&
      data != nullptr && format == 32 && count == 1)
    active = *reinterpret_cast<::Window*>(data);
  if (data) XFree(data);
  return active;
}

bool X11Backend::ActivateForegroundWindow(std::uint64_t window) {
  Impl& x = *impl_;
  XWindowAttributes a{};
  // Gone meanwhile, or not shown: nothing to bring back (errors are ignored).
  if (window == 0 || !XGetWindowAttributes(x.dpy, ::Window(window), &a) ||
      a.map_state != IsViewable)
    return false;
  XRaiseWindow(x.dpy, ::Window(window));
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = ::Window(window);
  ev.xclient.message_type = x.netActive;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = 1;  // from an application
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(x.dpy, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
  XSetInputFocus(x.dpy, ::Window(window), RevertToParent, CurrentTime);
  XSync(x.dpy, False);
  return true;
}

bool X11Backend::RaiseWindowByTitle(std::string_view title) {
  Impl& x = *impl_;
  const ::Window found = x.FindByTitle(x.root, title, 2);
  if (!found) return false;
  XMapRaised(x.dpy, found);
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = found;
  ev.xclient.message_type = x.netActive;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = 1;  // from an application
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(x.dpy, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
  XFlush(x.dpy);
  return true;
}

bool X11Backend::RaiseProcessWindow(const std::function<bool(std::uint32_t pid)>& owned) {
  Impl& x = *impl_;
  const ::Window found = x.FindByProcess(owned);
  if (!found) return false;
  XRaiseWindow(x.dpy, found);
  const auto ask = [&](Atom type, long a, long b, long c) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = found;
    ev.xclient.message_type = type;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = a;
    ev.xclient.data.l[1] = b;
    ev.xclient.data.l[2] = c;
    ev.xclient.data.l[3] = 1;  // from an application
    XSendEvent(x.dpy, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
  };
  const Atom state = XInternAtom(x.dpy, "_NET_WM_STATE", False);
  const long add = 1;
  ask(state, add, long(XInternAtom(x.dpy, "_NET_WM_STATE_ABOVE", False)), 0);
  ask(state, add, long(XInternAtom(x.dpy, "_NET_WM_STATE_MAXIMIZED_VERT", False)),
      long(XInternAtom(x.dpy, "_NET_WM_STATE_MAXIMIZED_HORZ", False)));
  ask(x.netActive, 1, CurrentTime, 0);
  XFlush(x.dpy);
  return true;
}

unsigned long X11Backend::XWindow(HWND hwnd) const {
  const auto it = impl_->windows.find(hwnd);
  return it == impl_->windows.end() ? 0 : it->second.xid;
}

bool X11Backend::Mapped(HWND hwnd) const {
  const auto it = impl_->windows.find(hwnd);
  return it != impl_->windows.end() && it->second.mapped;
}

void X11Backend::Sync() {
  XSync(impl_->dpy, False);
}

}  // namespace qv
