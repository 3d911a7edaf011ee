#include "platform/ui/window_system.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/ui/nonclient.h"

namespace qv {

namespace {

// Our own messages to the window system's service window.
constexpr UINT UM_PAINT = 0xB200;  // from the idle handler: paint the pending windows
constexpr UINT UM_INPUT = 0xB201;  // route the oldest input event

struct UiWindow final : WindowExtra {
  HWND hwnd = 0;
  HWND parent = 0;
  std::vector<HWND> children;  // z-order, front first
  std::string className;
  UINT classStyle = 0;
  TColor background = clBtnFace;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::uintptr_t id = 0;
  std::intptr_t userData = 0;
  std::string text;
  Rect rect;    // parent's client coordinates, screen coordinates for a top-level window
  Rect client;  // window coordinates
  std::optional<Region> region;  // window coordinates
  Region update;                 // client coordinates
  bool erase = false;
  bool ncDirty = false;
  bool destroying = false;
  Rect restoreRect;
  int ncPressed = HTNOWHERE;
  bool redraw = true;  // WM_SETREDRAW
  nonclient::ScrollState scroll[3];
  int trackPos[3] = {};
  // Top-level windows only.
  std::unique_ptr<Bitmap> buffer;
  Region dirty;  // window coordinates: drawn but not presented
};

struct DcEntry {
  std::unique_ptr<DC> dc;
  HWND hwnd = 0;
  HWND top = 0;
  Region area;  // top-level window coordinates the DC may draw on
};

struct InputEvent {
  enum class Kind { Move, Button, Wheel, Left, Key, Focus, Close, Configure, Restore } kind;
  HWND top = 0;
  Point screen{};
  MouseButton button = MouseButton::Left;
  bool down = false;
  unsigned modifiers = 0;
  unsigned vk = 0;
  unsigned scanCode = 0;
  int delta = 0;
  std::string text{};
  std::uint32_t time = 0;
  Rect bounds{};
};

struct ClickRecord {
  HWND hwnd = 0;
  UINT message = 0;
  std::uint32_t time = 0;
  Point screen;
  bool valid = false;
};

struct MoveSizeState {
  bool active = false;
  HWND hwnd = 0;
  WPARAM edge = 0;  // 0: moving, else WMSZ_*
  bool byMouse = false;
  Point start;
  Rect startRect;  // parent coordinates
};

struct ScrollDrag {
  bool active = false;
  HWND hwnd = 0;
  bool vertical = false;
  int grab = 0;  // pointer offset into the thumb along the axis
  int pos = 0;
};

struct CaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) <
             std::tolower(static_cast<unsigned char>(y));
    });
  }
};

class Manager final : public DisplayEvents {
 public:
  explicit Manager(std::unique_ptr<DisplayBackend> backend);
  ~Manager() override;

  // DisplayEvents.
  void MouseMove(HWND top, Point screen, unsigned modifiers, std::uint32_t time) override;
  void MouseButton(HWND top, Point screen, qv::MouseButton button, bool down, unsigned modifiers,
                   std::uint32_t time) override;
  void MouseWheel(HWND top, Point screen, int delta, unsigned modifiers,
                  std::uint32_t time) override;
  void MouseLeft(HWND top) override;
  void Key(HWND top, unsigned vk, bool down, unsigned modifiers, unsigned scanCode,
           std::string_view text, std::uint32_t time) override;
  void Exposed(HWND top, const Rect& area) override;
  void Configured(HWND top, const Rect& screenBounds) override;
  void FocusChanged(HWND top, bool focused) override;
  void CloseRequested(HWND top) override;
  void Restored(HWND top) override;

  std::unique_ptr<DisplayBackend> backend;
  std::thread::id thread;
  HWND service = 0;
  std::vector<HWND> tops;  // z-order, front first
  std::map<std::string, WNDCLASS, CaseLess> classes;
  std::unordered_map<HDC, DcEntry> dcs;
  std::unordered_set<HWND> windows;  // every live window of the window system
  HWND capture = 0;
  HWND focus = 0;
  HWND active = 0;
  std::map<HWND, DWORD> tracking;
  Point cursor;
  bool pointerInside = false;  // over one of our top-level windows
  unsigned buttons = 0;        // MK_*BUTTON
  unsigned modifiers = 0;
  bool keys[256] = {};
  bool paintPending = false;  // the idle handler offers UM_PAINT
  IdleHandler outerIdle;      // the thread's idle handler before ours
  bool painting = false;      // inside PaintPendingWindows, which presents at its end
  std::deque<InputEvent> input;
  ClickRecord lastClick;
  MoveSizeState moveSize;
  ScrollDrag scrollDrag;

  void Queue(InputEvent event);
  void Route(const InputEvent& event);
  void RouteMouse(const InputEvent& event);
  void RouteKey(const InputEvent& event);
  void MoveSizeInput(const InputEvent& event);
  void ScrollDragInput(const InputEvent& event);
  void Deliver(MSG& msg);

  InputHook inputHook;
};

// Not a static object with a destructor: a window system still running when the program
// ends is left as it is rather than torn down after the thread's queue is gone.
Manager* g_manager = nullptr;
std::atomic<std::thread::id> g_guiThread{};

bool OnGuiThread() {
  return g_guiThread.load() == std::this_thread::get_id();
}

Manager& M() {
  const std::thread::id owner = g_guiThread.load();
  if (owner != std::thread::id() && owner != std::this_thread::get_id()) {
    throw std::logic_error("the window system belongs to another thread");
  }
  if (!g_manager) StartWindowSystem(CreateDisplayBackendFromEnvironment());
  return *g_manager;
}

UiWindow* Get(HWND hwnd) {
  // Only our own handles: another thread's window data is that thread's business.
  if (hwnd == 0 || !OnGuiThread() || !g_manager || !g_manager->windows.contains(hwnd)) {
    return nullptr;
  }
  return dynamic_cast<UiWindow*>(GetWindowExtra(hwnd));
}

bool IsTop(const UiWindow& w) {
  return w.parent == 0;
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  LRESULT result = 0;
  CallWindowChain(hwnd, message, wParam, lParam, result);
  return result;
}

LPARAM PointParam(Point p) {
  return MAKELONG(static_cast<std::uint16_t>(static_cast<std::int16_t>(p.X)),
                  static_cast<std::uint16_t>(static_cast<std::int16_t>(p.Y)));
}

HWND RootOf(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  while (w && w->parent) {
    hwnd = w->parent;
    w = Get(hwnd);
  }
  return w ? hwnd : 0;
}

// Window origin in its top-level window's coordinates.
Point OriginInTop(const UiWindow& w) {
  Point p{w.rect.Left, w.rect.Top};
  if (IsTop(w)) return {0, 0};
  const UiWindow* parent = Get(w.parent);
  if (!parent) return p;
  const Point po = OriginInTop(*parent);
  return {po.X + parent->client.Left + p.X, po.Y + parent->client.Top + p.Y};
}

// Screen position of the window's origin.
Point OriginOnScreen(const UiWindow& w) {
  if (IsTop(w)) return {w.rect.Left, w.rect.Top};
  const UiWindow* parent = Get(w.parent);
  if (!parent) return {w.rect.Left, w.rect.Top};
  const Point po = OriginOnScreen(*parent);
  return {po.X + parent->client.Left + w.rect.Left, po.Y + parent->client.Top + w.rect.Top};
}

Rect WindowSize(const UiWindow& w) {
  return {0, 0, w.rect.Width(), w.rect.Height()};
}

// The window's own pixels in window coordinates: its rectangle cut by its region.
Region Shape(const UiWindow& w) {
  Region r(WindowSize(w));
  if (w.region) r = r.Intersect(*w.region);
  return r;
}

// Takes `other`'s pixels out of `area`; the bounding boxes rule out most pairs cheaply.
void Cut(Region& area, const UiWindow& other) {
  if (area.IsEmpty()) return;
  const Point o = OriginInTop(other);
  const Rect box = Intersect(WindowSize(other).Offset(o.X, o.Y), area.BoundingBox());
  if (box.IsEmpty()) return;
  Region shape = Shape(other);
  shape.Offset(o.X, o.Y);
  area = area.Subtract(shape);
}

Region ShapeInTop(const UiWindow& w) {
  Region r = Shape(w);
  const Point o = OriginInTop(w);
  r.Offset(o.X, o.Y);
  return r;
}

bool Shown(const UiWindow& w) {
  return (w.style & WS_VISIBLE) != 0;
}

// Everything of the window the screen may show, its children's area included, in top-level
// coordinates: cut by its ancestors' client areas and regions and by the siblings above
// it and above each ancestor.
Region WindowArea(const UiWindow& w) {
  if (!Shown(w)) return {};
  Region area = ShapeInTop(w);
  const UiWindow* cur = &w;
  while (!IsTop(*cur)) {
    const UiWindow* parent = Get(cur->parent);
    if (!parent || !Shown(*parent)) return {};
    for (HWND sibling : parent->children) {
      if (sibling == cur->hwnd) break;
      const UiWindow* s = Get(sibling);
      if (s && Shown(*s)) Cut(area, *s);
    }
    const Point po = OriginInTop(*parent);
    Region parentClient(parent->client.Offset(po.X, po.Y));
    area = area.Intersect(parentClient).Intersect(ShapeInTop(*parent));
    cur = parent;
  }
  return area;
}

// What the window itself draws on: its area minus its visible children, optionally only
// the client part.
Region VisibleRegion(const UiWindow& w, bool clientOnly) {
  Region area = WindowArea(w);
  if (area.IsEmpty()) return area;
  const Point o = OriginInTop(w);
  if (clientOnly) area = area.Intersect(Region(w.client.Offset(o.X, o.Y)));
  for (HWND child : w.children) {
    const UiWindow* c = Get(child);
    if (c && Shown(*c)) Cut(area, *c);
  }
  return area;
}

// Painting comes from the queue's idle handler: after the posted messages, before timers.
void SchedulePaint() {
  M().paintPending = true;
}

// Adds `area` (client coordinates) to the window's update region.
void AddUpdate(UiWindow& w, const Region& area, bool erase) {
  const Region clipped = area.Intersect(Region(Rect{0, 0, w.client.Width(), w.client.Height()}));
  if (clipped.IsEmpty()) return;
  w.update = w.update.Union(clipped);
  w.erase = w.erase || erase;
  SchedulePaint();
}

void ForEachInTree(HWND hwnd, const std::function<void(UiWindow&)>& fn) {
  UiWindow* w = Get(hwnd);
  if (!w) return;
  fn(*w);
  const std::vector<HWND> children = w->children;
  // Back to front, so that a parent and the children beneath come first.
  for (auto it = children.rbegin(); it != children.rend(); ++it) ForEachInTree(*it, fn);
}

// Marks for repainting every window of the top-level's tree that shows pixels of `area`
// (top-level coordinates).
void InvalidateTreeArea(HWND top, const Region& area) {
  if (area.IsEmpty()) return;
  ForEachInTree(top, [&](UiWindow& w) {
    const Region hit = VisibleRegion(w, false).Intersect(area);
    if (hit.IsEmpty()) return;
    const Point o = OriginInTop(w);
    const Region clientInTop(w.client.Offset(o.X, o.Y));
    Region clientPart = hit.Intersect(clientInTop);
    if (!clientPart.IsEmpty()) {
      clientPart.Offset(-(o.X + w.client.Left), -(o.Y + w.client.Top));
      AddUpdate(w, clientPart, true);
    }
    if (!hit.Subtract(clientInTop).IsEmpty()) {
      w.ncDirty = true;
      SchedulePaint();
    }
  });
}

void InvalidateWhole(UiWindow& w) {
  w.ncDirty = true;
  AddUpdate(w, Region(Rect{0, 0, w.client.Width(), w.client.Height()}), true);
  SchedulePaint();
}

void Present(HWND top) {
  Manager& m = M();
  UiWindow* w = Get(top);
  if (!w || !w->buffer || w->dirty.IsEmpty()) return;
  Region dirty = std::exchange(w->dirty, Region());
  if (Shown(*w) && !(w->style & WS_MINIMIZE)) m.backend->Present(top, *w->buffer, dirty);
}

// Recomputes the client rectangle through WM_NCCALCSIZE.
void CalcClient(UiWindow& w, WINDOWPOS* pos, const Rect& oldRect) {
  NCCALCSIZE_PARAMS params;
  params.rgrc[0] = w.rect;
  params.rgrc[1] = oldRect;
  params.rgrc[2] = w.client.Offset(oldRect.Left, oldRect.Top);
  params.lppos = pos;
  const HWND hwnd = w.hwnd;
  Send(hwnd, WM_NCCALCSIZE, 1, reinterpret_cast<LPARAM>(&params));
  UiWindow* again = Get(hwnd);
  if (!again) return;
  Rect c = params.rgrc[0].Offset(-again->rect.Left, -again->rect.Top);
  c.Left = std::clamp(c.Left, 0, again->rect.Width());
  c.Top = std::clamp(c.Top, 0, again->rect.Height());
  c.Right = std::clamp(c.Right, c.Left, again->rect.Width());
  c.Bottom = std::clamp(c.Bottom, c.Top, again->rect.Height());
  again->client = c;
}

void DropDcsOf(HWND hwnd, bool topGone) {
  for (auto& [hdc, entry] : M().dcs) {
    if (entry.hwnd == hwnd || (topGone && entry.top == hwnd)) {
      entry.dc->SelectBitmap(nullptr);
      entry.hwnd = 0;
      entry.top = 0;
    }
  }
}

bool IsSelfOrDescendant(HWND ancestor, HWND hwnd) {
  for (UiWindow* w = Get(hwnd); w; w = Get(w->parent)) {
    if (w->hwnd == ancestor) return true;
  }
  return false;
}

void SendMouseLeave(HWND hwnd, DWORD flags) {
  Send(hwnd, (flags & TME_NONCLIENT) ? WM_NCMOUSELEAVE : WM_MOUSELEAVE);
}

void ForgetWindow(Manager& m, HWND hwnd) {
  if (m.capture == hwnd) {
    m.capture = 0;
    m.backend->GrabPointer(RootOf(hwnd), false);
  }
  if (m.focus == hwnd) m.focus = 0;
  if (m.active == hwnd) m.active = 0;
  m.tracking.erase(hwnd);
  if (m.lastClick.hwnd == hwnd) m.lastClick.valid = false;
  if (m.moveSize.hwnd == hwnd) m.moveSize.active = false;
}

void DestroyTree(HWND hwnd) {
  Manager& m = M();
  Send(hwnd, WM_DESTROY);
  UiWindow* w = Get(hwnd);
  if (!w) return;
  const std::vector<HWND> children = w->children;
  for (HWND child : children) {
    UiWindow* c = Get(child);
    if (c && !c->destroying) {
      c->destroying = true;
      DestroyTree(child);
    }
  }
  Send(hwnd, WM_NCDESTROY);
  w = Get(hwnd);
  if (!w) return;
  ForgetWindow(m, hwnd);
  DropDcsOf(hwnd, IsTop(*w));
  if (IsTop(*w)) {
    m.backend->DestroyTopLevel(hwnd);
    std::erase(m.tops, hwnd);
  } else if (UiWindow* parent = Get(w->parent)) {
    std::erase(parent->children, hwnd);
  }
  m.windows.erase(hwnd);
  DeallocateHWnd(hwnd);
}

void ActivateTop(HWND top, WPARAM how) {
  Manager& m = M();
  if (m.active == top) return;
  const HWND old = m.active;
  m.active = top;
  if (Get(old)) {
    Send(old, WM_NCACTIVATE, 0, 0);
    Send(old, WM_ACTIVATE, WA_INACTIVE, static_cast<LPARAM>(top));
  }
  if (Get(top)) {
    Send(top, WM_NCACTIVATE, 1, 0);
    Send(top, WM_ACTIVATE, how, static_cast<LPARAM>(old));
  }
}

// When the active window goes away the front-most remaining one takes over, so that the
// keyboard keeps working after a dialog closes.
void ActivateNext(HWND leaving) {
  Manager& m = M();
  for (HWND top : m.tops) {
    UiWindow* t = Get(top);
    if (!t || top == leaving || t->destroying || !Shown(*t)) continue;
    if (t->style & (WS_MINIMIZE | WS_DISABLED)) continue;
    ActivateTop(top, WA_ACTIVE);
    m.backend->SetInputFocus(top);
    return;
  }
  ActivateTop(0, WA_INACTIVE);
}

void SetVisibility(UiWindow& w, bool show) {
  Manager& m = M();
  const HWND hwnd = w.hwnd;
  if (Shown(w) == show) return;
  Send(hwnd, WM_SHOWWINDOW, show ? 1 : 0, 0);
  UiWindow* again = Get(hwnd);
  if (!again) return;
  if (show) {
    again->style |= WS_VISIBLE;
    if (IsTop(*again)) {
      InvalidateWhole(*again);
      m.backend->SetVisible(hwnd, true);
    } else {
      InvalidateTreeArea(RootOf(hwnd), WindowArea(*again));
    }
  } else {
    const Region area = IsTop(*again) ? Region() : WindowArea(*again);
    again->style &= ~WS_VISIBLE;
    if (IsTop(*again))
      m.backend->SetVisible(hwnd, false);
    else
      InvalidateTreeArea(RootOf(hwnd), area);
    if (m.focus && IsSelfOrDescendant(hwnd, m.focus)) {
      const HWND old = m.focus;
      m.focus = 0;
      Send(old, WM_KILLFOCUS, 0, 0);
    }
    if (m.capture && IsSelfOrDescendant(hwnd, m.capture)) ReleaseCapture();
    if (m.active == hwnd) ActivateNext(hwnd);
  }
}

void FillCreateStruct(CREATESTRUCT& cs, const UiWindow& w, void* param) {
  cs.lpCreateParams = param;
  cs.hwndParent = w.parent;
  cs.x = w.rect.Left;
  cs.y = w.rect.Top;
  cs.cx = w.rect.Width();
  cs.cy = w.rect.Height();
  cs.style = w.style;
  cs.dwExStyle = w.exStyle;
  cs.lpszName = w.text;
  cs.lpszClass = w.className;
}

// The windows under a point, front-most and deepest first; disabled children and what is
// under them inside them are skipped.
void CandidatesAt(HWND hwnd, Point top, std::vector<HWND>& out) {
  UiWindow* w = Get(hwnd);
  if (!w || !Shown(*w)) return;
  const Point o = OriginInTop(*w);
  if (!Shape(*w).Contains({top.X - o.X, top.Y - o.Y})) return;
  if (!IsTop(*w) && (w->style & WS_DISABLED)) return;
  if (w->client.Offset(o.X, o.Y).Contains(top)) {
    for (HWND child : w->children) CandidatesAt(child, top, out);
  }
  out.push_back(hwnd);
}

// The window that gets a mouse event at a screen point, and its hit-test code.
// `preferred` is the top-level the display reported the event on: the display knows the
// stacking of top-level windows better than we do when something else restacked them.
HWND MouseTarget(Point screen, int& hit, HWND preferred = 0) {
  Manager& m = M();
  std::vector<HWND> tops = m.tops;
  if (preferred && std::erase(tops, preferred)) tops.insert(tops.begin(), preferred);
  for (HWND top : tops) {
    UiWindow* t = Get(top);
    if (!t || !Shown(*t) || (t->style & WS_MINIMIZE)) continue;
    const Point p{screen.X - t->rect.Left, screen.Y - t->rect.Top};
    std::vector<HWND> candidates;
    CandidatesAt(top, p, candidates);
    for (HWND c : candidates) {
      if (!Get(c)) continue;
      hit = static_cast<int>(Send(c, WM_NCHITTEST, 0, PointParam(screen)));
      if (hit != HTTRANSPARENT) return c;
    }
    if (!candidates.empty()) {
      hit = HTNOWHERE;
      return 0;
    }
  }
  hit = HTNOWHERE;
  return 0;
}

// The window under the pointer for mouse-leave tracking, ignoring capture.
void UpdateTracking(Manager& m, HWND under, int hit) {
  const auto tracked = m.tracking;
  for (const auto& [hwnd, flags] : tracked) {
    const bool inside =
        hwnd == under &&
        ((flags & TME_NONCLIENT) ? hit != HTCLIENT && hit != HTNOWHERE : hit == HTCLIENT);
    if (inside) continue;
    m.tracking.erase(hwnd);
    if (Get(hwnd)) SendMouseLeave(hwnd, flags);
  }
}

UINT ButtonMessage(qv::MouseButton button, bool down, bool nc, bool dbl) {
  UINT base = 0;
  switch (button) {
    case qv::MouseButton::Left:
      base = WM_LBUTTONDOWN;
      break;
    case qv::MouseButton::Right:
      base = WM_RBUTTONDOWN;
      break;
    case qv::MouseButton::Middle:
      base = WM_MBUTTONDOWN;
      break;
  }
  UINT message = down ? (dbl ? base + 2 : base) : base + 1;
  if (nc) message = message - WM_LBUTTONDOWN + WM_NCLBUTTONDOWN;
  return message;
}

unsigned ButtonFlag(qv::MouseButton button) {
  switch (button) {
    case qv::MouseButton::Left:
      return MK_LBUTTON;
    case qv::MouseButton::Right:
      return MK_RBUTTON;
    case qv::MouseButton::Middle:
      return MK_MBUTTON;
  }
  return 0;
}

WPARAM MouseKeys(const Manager& m) {
  WPARAM keys = m.buttons;
  if (m.modifiers & kModShift) keys |= MK_SHIFT;
  if (m.modifiers & kModControl) keys |= MK_CONTROL;
  return keys;
}

LRESULT ServiceProc(HWND, UINT message, WPARAM, LPARAM) {
  Manager& m = M();
  if (message == UM_PAINT) {
    PaintPendingWindows();
    return 0;
  }
  if (message == UM_INPUT) {
    if (m.input.empty()) return 0;
    InputEvent event = std::move(m.input.front());
    m.input.pop_front();
    m.Route(event);
  }
  return 0;
}

// The sizes WM_GETMINMAXINFO settles. By default a maximised window fills the work area
// (or its parent's client area) with its frame just outside it.
MINMAXINFO MinMaxInfo(HWND hwnd) {
  MINMAXINFO info;
  info.ptMinTrackSize = {GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
  info.ptMaxTrackSize = {1 << 15, 1 << 15};
  if (UiWindow* w = Get(hwnd)) {
    Rect area;
    if (IsTop(*w)) {
      SystemParametersInfo(SPI_GETWORKAREA, 0, &area, 0);
    } else if (UiWindow* parent = Get(w->parent)) {
      area = {0, 0, parent->client.Width(), parent->client.Height()};
    }
    const int frame = nonclient::Compute(w->style | WS_MAXIMIZE, w->exStyle, WindowSize(*w)).frame;
    info.ptMaxPosition = {area.Left - frame, area.Top - frame};
    info.ptMaxSize = {area.Width() + 2 * frame, area.Height() + 2 * frame};
  }
  Send(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  return info;
}

void ClampTrackSize(HWND hwnd, Rect& r, WPARAM edge) {
  const MINMAXINFO info = MinMaxInfo(hwnd);
  const int w = std::clamp(r.Width(), info.ptMinTrackSize.X, info.ptMaxTrackSize.X);
  const int h = std::clamp(r.Height(), info.ptMinTrackSize.Y, info.ptMaxTrackSize.Y);
  const bool left = edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
  const bool top = edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
  if (left)
    r.Left = r.Right - w;
  else
    r.Right = r.Left + w;
  if (top)
    r.Top = r.Bottom - h;
  else
    r.Bottom = r.Top + h;
}

// The interactive move/size loop: serves the queue until the button is released (or
// Escape puts the window back); the pointer's moves become WM_MOVING/WM_SIZING and
// SetWindowPos calls.
void MoveSizeLoop(HWND hwnd, WPARAM command) {
  Manager& m = M();
  UiWindow* w = Get(hwnd);
  if (!w || m.moveSize.active || (w->style & (WS_MINIMIZE | WS_MAXIMIZE))) return;
  const WPARAM kind = command & 0xFFF0;
  const WPARAM low = command & 0x000F;
  m.moveSize = MoveSizeState{};
  m.moveSize.active = true;
  m.moveSize.hwnd = hwnd;
  m.moveSize.edge = kind == SC_SIZE ? low : 0;
  m.moveSize.byMouse = (m.buttons & MK_LBUTTON) != 0;
  m.moveSize.start = m.cursor;
  m.moveSize.startRect = w->rect;
  if (kind == SC_SIZE && m.moveSize.edge == 0) m.moveSize.edge = WMSZ_BOTTOMRIGHT;
  SetCapture(hwnd);
  Send(hwnd, WM_ENTERSIZEMOVE);
  PumpUntil([&] { return !m.moveSize.active || !Get(hwnd) || Terminated(); });
  m.moveSize.active = false;
  if (!Get(hwnd)) return;
  if (m.capture == hwnd) ReleaseCapture();
  Send(hwnd, WM_EXITSIZEMOVE);
}

}  // namespace

// ---------------------------------------------------------------- the manager

Manager::Manager(std::unique_ptr<DisplayBackend> b)
    : backend(std::move(b)), thread(std::this_thread::get_id()) {}

Manager::~Manager() = default;

void Manager::Queue(InputEvent event) {
  input.push_back(std::move(event));
  if (!PostMessage(service, UM_INPUT, 0, 0)) input.pop_back();
}

void Manager::MouseMove(HWND top, Point screen, unsigned mods, std::uint32_t time) {
  Queue({.kind = InputEvent::Kind::Move,
         .top = top,
         .screen = screen,
         .modifiers = mods,
         .time = time});
}

void Manager::MouseButton(HWND top, Point screen, qv::MouseButton button, bool down, unsigned mods,
                          std::uint32_t time) {
  Queue({.kind = InputEvent::Kind::Button,
         .top = top,
         .screen = screen,
         .button = button,
         .down = down,
         .modifiers = mods,
         .time = time});
}

void Manager::MouseWheel(HWND top, Point screen, int delta, unsigned mods, std::uint32_t time) {
  Queue({.kind = InputEvent::Kind::Wheel,
         .top = top,
         .screen = screen,
         .modifiers = mods,
         .delta = delta,
         .time = time});
}

void Manager::MouseLeft(HWND top) {
  Queue({.kind = InputEvent::Kind::Left, .top = top});
}

void Manager::Key(HWND top, unsigned vk, bool down, unsigned mods, unsigned scanCode,
                  std::string_view text, std::uint32_t time) {
  Queue({.kind = InputEvent::Kind::Key,
         .top = top,
         .down = down,
         .modifiers = mods,
         .vk = vk,
         .scanCode = scanCode,
         .text = std::string(text),
         .time = time});
}

void Manager::Exposed(HWND top, const Rect& area) {
  UiWindow* w = Get(top);
  if (!w || !w->buffer) return;
  w->dirty = w->dirty.Union(Region(area).Intersect(Region(WindowSize(*w))));
  Present(top);
}

void Manager::Configured(HWND top, const Rect& bounds) {
  Queue({.kind = InputEvent::Kind::Configure, .top = top, .bounds = bounds});
}

void Manager::FocusChanged(HWND top, bool focused) {
  Queue({.kind = InputEvent::Kind::Focus, .top = top, .down = focused});
}

void Manager::CloseRequested(HWND top) {
  Queue({.kind = InputEvent::Kind::Close, .top = top});
}

void Manager::Restored(HWND top) {
  Queue({.kind = InputEvent::Kind::Restore, .top = top});
}

void Manager::Route(const InputEvent& e) {
  switch (e.kind) {
    case InputEvent::Kind::Move:
    case InputEvent::Kind::Button:
      RouteMouse(e);
      break;
    case InputEvent::Kind::Wheel: {
      // To the keyboard focus, as the platform sends it; unhandled, it goes up to the parents.
      cursor = e.screen;
      modifiers = e.modifiers;
      const HWND target = Get(focus) ? focus : active;
      if (!Get(target) || moveSize.active || scrollDrag.active) break;
      const WPARAM keys = MouseKeys(*this);
      MSG msg{target, WM_MOUSEWHEEL,
              static_cast<WPARAM>(
                  MAKELONG(static_cast<std::uint16_t>(keys),
                           static_cast<std::uint16_t>(static_cast<std::int16_t>(e.delta)))),
              PointParam(e.screen)};
      Deliver(msg);
      break;
    }
    case InputEvent::Kind::Left:
      pointerInside = false;
      if (!capture && !moveSize.active) UpdateTracking(*this, 0, HTNOWHERE);
      break;
    case InputEvent::Kind::Key:
      RouteKey(e);
      break;
    case InputEvent::Kind::Focus:
      if (e.down && Get(e.top))
        ActivateTop(e.top, WA_ACTIVE);
      else if (!e.down && active == e.top)
        ActivateTop(0, WA_INACTIVE);
      break;
    case InputEvent::Kind::Close:
      if (Get(e.top)) Send(e.top, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case InputEvent::Kind::Restore:
      if (IsIconic(e.top)) Send(e.top, WM_SYSCOMMAND, SC_RESTORE, 0);
      break;
    case InputEvent::Kind::Configure:
      if (UiWindow* w = Get(e.top)) {
        if (w->rect != e.bounds) {
          SetWindowPos(e.top, 0, e.bounds.Left, e.bounds.Top, e.bounds.Width(), e.bounds.Height(),
                       SWP_NOZORDER | SWP_NOACTIVATE);
        }
      }
      break;
  }
}

void Manager::MoveSizeInput(const InputEvent& e) {
  UiWindow* w = Get(moveSize.hwnd);
  if (!w) {
    moveSize.active = false;
    return;
  }
  if (e.kind == InputEvent::Kind::Button) {
    // Releasing the button that started it, or any press for a keyboard-started one.
    if ((moveSize.byMouse && !e.down) || (!moveSize.byMouse && e.down)) moveSize.active = false;
    return;
  }
  const int dx = e.screen.X - moveSize.start.X;
  const int dy = e.screen.Y - moveSize.start.Y;
  Rect r = moveSize.startRect;
  const WPARAM edge = moveSize.edge;
  if (edge == 0) {
    r = r.Offset(dx, dy);
    Send(moveSize.hwnd, WM_MOVING, 0, reinterpret_cast<LPARAM>(&r));
  } else {
    if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT) r.Left += dx;
    if (edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT) r.Right += dx;
    if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT) r.Top += dy;
    if (edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT) r.Bottom += dy;
    ClampTrackSize(moveSize.hwnd, r, edge);
    Send(moveSize.hwnd, WM_SIZING, edge, reinterpret_cast<LPARAM>(&r));
  }
  if (Get(moveSize.hwnd)) {
    SetWindowPos(moveSize.hwnd, 0, r.Left, r.Top, r.Width(), r.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Manager::ScrollDragInput(const InputEvent& e) {
  UiWindow* w = Get(scrollDrag.hwnd);
  if (!w) {
    scrollDrag.active = false;
    return;
  }
  const bool vertical = scrollDrag.vertical;
  const UINT message = vertical ? WM_VSCROLL : WM_HSCROLL;
  const nonclient::ScrollState& state = w->scroll[vertical ? SB_VERT : SB_HORZ];
  const Rect bar = vertical ? nonclient::Compute(w->style, w->exStyle, WindowSize(*w)).vscroll
                            : nonclient::Compute(w->style, w->exStyle, WindowSize(*w)).hscroll;
  const Point o = OriginOnScreen(*w);
  const int along = vertical ? e.screen.Y - o.Y - bar.Top : e.screen.X - o.X - bar.Left;
  const nonclient::ScrollParts parts = nonclient::ScrollBarParts(bar, vertical, state);
  const int arrow = vertical ? parts.first.Height() : parts.first.Width();
  const int pos = nonclient::ScrollPosAt(bar, vertical, state, along - arrow - scrollDrag.grab);
  const HWND hwnd = scrollDrag.hwnd;
  if (e.kind == InputEvent::Kind::Button && !e.down) {
    scrollDrag.active = false;
    Send(hwnd, message, MAKELONG(SB_THUMBPOSITION, static_cast<std::uint16_t>(scrollDrag.pos)));
    if (Get(hwnd)) Send(hwnd, message, SB_ENDSCROLL);
    return;
  }
  if (e.kind == InputEvent::Kind::Move && pos != scrollDrag.pos) {
    scrollDrag.pos = pos;
    w->trackPos[vertical ? SB_VERT : SB_HORZ] = pos;
    Send(hwnd, message, MAKELONG(SB_THUMBTRACK, static_cast<std::uint16_t>(pos)));
  }
}

void Manager::RouteMouse(const InputEvent& e) {
  cursor = e.screen;
  pointerInside = true;
  modifiers = e.modifiers;
  keys[VK_SHIFT] = (e.modifiers & kModShift) != 0;
  keys[VK_CONTROL] = (e.modifiers & kModControl) != 0;
  keys[VK_MENU] = (e.modifiers & kModAlt) != 0;
  if (e.kind == InputEvent::Kind::Button) {
    const unsigned flag = ButtonFlag(e.button);
    buttons = e.down ? (buttons | flag) : (buttons & ~flag);
    keys[flag == MK_LBUTTON ? VK_LBUTTON : flag == MK_RBUTTON ? VK_RBUTTON : VK_MBUTTON] = e.down;
  }
  if (moveSize.active) {
    MoveSizeInput(e);
    return;
  }
  if (scrollDrag.active) {
    ScrollDragInput(e);
    return;
  }
  int hit = HTNOWHERE;
  const HWND under = MouseTarget(e.screen, hit, e.top);
  UpdateTracking(*this, under, hit);
  HWND target = under;
  if (capture && Get(capture)) {
    // The capturing window is still asked, as the platform does (some controls track a
    // drag there); its messages stay client messages whatever it answers.
    target = capture;
    Send(target, WM_NCHITTEST, 0, PointParam(e.screen));
    hit = HTCLIENT;
  }
  UiWindow* w = Get(target);
  if (!w) return;
  const HWND root = RootOf(target);
  UiWindow* rootWindow = Get(root);
  if (!rootWindow || (rootWindow->style & WS_DISABLED)) return;
  if (e.kind == InputEvent::Kind::Button && e.down && active != root && !capture) {
    ActivateTop(root, WA_CLICKACTIVE);
    backend->SetInputFocus(root);
    if (!Get(target)) return;
  }
  const bool nc = hit != HTCLIENT;
  UINT message = nc ? WM_NCMOUSEMOVE : WM_MOUSEMOVE;
  if (e.kind == InputEvent::Kind::Button) {
    bool dbl = false;
    if (e.down) {
      const UINT plain = ButtonMessage(e.button, true, nc, false);
      const int cx = GetSystemMetrics(SM_CXDOUBLECLK);
      const int cy = GetSystemMetrics(SM_CYDOUBLECLK);
      dbl = lastClick.valid && lastClick.hwnd == target && lastClick.message == plain &&
            e.time - lastClick.time <= GetDoubleClickTime() &&
            std::abs(e.screen.X - lastClick.screen.X) <= cx / 2 &&
            std::abs(e.screen.Y - lastClick.screen.Y) <= cy / 2 &&
            (nc || (w->classStyle & CS_DBLCLKS));
      if (dbl) {
        lastClick.valid = false;
      } else {
        lastClick = {target, plain, e.time, e.screen, true};
      }
    }
    message = ButtonMessage(e.button, e.down, nc, dbl);
  }
  if (!capture) {
    // The answer only says whether a cursor was set; we have no cursor shapes to set.
    Send(target, WM_SETCURSOR, static_cast<WPARAM>(target),
         MAKELONG(static_cast<std::uint16_t>(hit), static_cast<std::uint16_t>(message)));
    if (!Get(target)) return;
  }
  MSG msg{target, message, static_cast<WPARAM>(hit), PointParam(e.screen)};
  if (!nc) {
    Point p = e.screen;
    ScreenToClient(target, p);
    msg.wParam = MouseKeys(*this);
    msg.lParam = PointParam(p);
  }
  Deliver(msg);
}

void Manager::Deliver(MSG& msg) {
  if (inputHook) {
    // The hook may replace itself; keep the one running alive.
    const InputHook hook = inputHook;
    if (hook(msg)) return;
  }
  if (Get(msg.hwnd)) Send(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

void Manager::RouteKey(const InputEvent& e) {
  const bool wasDown = e.vk < 256 && keys[e.vk];
  if (e.vk < 256) keys[e.vk] = e.down;
  modifiers = e.modifiers;
  keys[VK_SHIFT] = (e.modifiers & kModShift) != 0 || (e.vk == VK_SHIFT && e.down);
  keys[VK_CONTROL] = (e.modifiers & kModControl) != 0 || (e.vk == VK_CONTROL && e.down);
  keys[VK_MENU] = (e.modifiers & kModAlt) != 0 || (e.vk == VK_MENU && e.down);
  if (moveSize.active) {
    if (e.down && e.vk == VK_ESCAPE) {
      const Rect r = moveSize.startRect;
      SetWindowPos(moveSize.hwnd, 0, r.Left, r.Top, r.Width(), r.Height(),
                   SWP_NOZORDER | SWP_NOACTIVATE);
      moveSize.active = false;
    } else if (e.down && e.vk == VK_RETURN) {
      moveSize.active = false;
    }
    return;
  }
  HWND target = Get(focus) ? focus : active;
  if (!Get(target)) return;
  const bool alt = (e.modifiers & kModAlt) && !(e.modifiers & kModControl);
  LPARAM lParam = 1 | (static_cast<LPARAM>(e.scanCode & 0xFF) << 16);
  if (IsExtendedKey(e.vk)) lParam |= LPARAM(1) << 24;
  if (alt) lParam |= LPARAM(1) << 29;
  if (wasDown) lParam |= LPARAM(1) << 30;  // a repeat, or the release of a held key
  if (!e.down) lParam |= (LPARAM(1) << 30) | (LPARAM(1) << 31);
  const UINT message = e.down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
  MSG key{target, message, e.vk, lParam};
  Deliver(key);
  if (!e.down || e.text.empty()) return;
  // The characters the key types, as TranslateMessage makes them: Latin-1 code points.
  const auto* s = reinterpret_cast<const unsigned char*>(e.text.data());
  for (std::size_t i = 0; i < e.text.size();) {
    unsigned code = s[i];
    std::size_t len = 1;
    if (code >= 0xC0 && code < 0xE0 && i + 1 < e.text.size()) {
      code = ((code & 0x1F) << 6) | (s[i + 1] & 0x3F);
      len = 2;
    } else if (code >= 0xE0 && code < 0xF0 && i + 2 < e.text.size()) {
      code = ((code & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      len = 3;
    } else if (code >= 0xF0 && i + 3 < e.text.size()) {
      code = ((code & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
             (s[i + 3] & 0x3F);
      len = 4;
    }
    i += len;
    if (!Get(target)) return;  // as TranslateMessage: to the key's window
    MSG ch{target, static_cast<UINT>(alt ? WM_SYSCHAR : WM_CHAR), code, lParam};
    Deliver(ch);
  }
}

// ---------------------------------------------------------------- start and stop

bool StartWindowSystem(std::unique_ptr<DisplayBackend> backend) {
  const std::thread::id owner = g_guiThread.load();
  if (owner != std::thread::id() && owner != std::this_thread::get_id()) return false;
  if (g_manager) {
    if (!g_manager->tops.empty()) return false;
    StopWindowSystem();
  }
  if (!backend) return false;
  auto* manager = new Manager(std::move(backend));
  g_manager = manager;
  g_guiThread.store(std::this_thread::get_id());
  manager->service = AllocateHWnd(ServiceProc);
  manager->outerIdle = SetIdleHandler([](MSG& msg, bool remove) {
    Manager* m = g_manager;
    if (m && m->paintPending) {
      // Taken means handled: a loop that drops it loses this pass, not the update regions.
      if (remove) m->paintPending = false;
      msg = MSG{m->service, UM_PAINT, 0, 0};
      return true;
    }
    return m && m->outerIdle && m->outerIdle(msg, remove);
  });
  manager->backend->Start(manager);
  const auto monitors = manager->backend->Monitors();
  Rect screen{0, 0, 1024, 768};
  Rect work = screen;
  for (const auto& mon : monitors) {
    if (mon.Primary || &mon == &monitors.front()) {
      screen = mon.Bounds;
      work = mon.WorkArea;
      if (mon.Primary) break;
    }
  }
  SetScreenGeometry(screen, work, static_cast<int>(monitors.size()));
  return true;
}

void StopWindowSystem() {
  if (!g_manager || !OnGuiThread()) return;
  const std::vector<HWND> tops = g_manager->tops;
  for (HWND top : tops) DestroyWindow(top);
  DeallocateHWnd(g_manager->service);
  SetIdleHandler(std::move(g_manager->outerIdle));
  delete std::exchange(g_manager, nullptr);
  g_guiThread.store(std::thread::id());
}

DisplayBackend& CurrentDisplayBackend() {
  return *M().backend;
}

// ---------------------------------------------------------------- classes and creation

bool RegisterClass(const WNDCLASS& windowClass) {
  if (windowClass.lpszClassName.empty()) return false;
  return M().classes.emplace(windowClass.lpszClassName, windowClass).second;
}

bool UnregisterClass(std::string_view className) {
  return M().classes.erase(std::string(className)) > 0;
}

HWND CreateWindowEx(DWORD exStyle, std::string_view className, std::string_view windowName,
                    DWORD style, int x, int y, int width, int height, HWND parent,
                    std::uintptr_t id, void* param) {
  Manager& m = M();
  const auto cls = m.classes.find(std::string(className));
  if (cls == m.classes.end()) return 0;
  const bool child = (style & WS_CHILD) != 0;
  UiWindow* parentWindow = child ? Get(parent) : nullptr;
  if (child && (!parentWindow || parentWindow->destroying)) return 0;
  WndProc proc = cls->second.lpfnWndProc ? cls->second.lpfnWndProc : WndProc(DefWindowProcA);
  const HWND hwnd = AllocateHWnd(proc);
  // A chain ending in the queue layer's DefWindowProc gets this window system's defaults.
  SetDefaultWindowProc(hwnd, DefWindowProcA);
  auto owned = std::make_unique<UiWindow>();
  UiWindow* w = owned.get();
  w->hwnd = hwnd;
  w->parent = child ? parent : 0;
  w->className = cls->first;
  w->classStyle = cls->second.style;
  w->background = cls->second.hbrBackground;
  w->style = style & ~WS_VISIBLE;
  w->exStyle = exStyle;
  w->id = id;
  w->text = std::string(windowName);
  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) {
    width = 320;
    height = 240;
  }
  w->rect = Bounds(x, y, std::max(width, 0), std::max(height, 0));
  w->client = WindowSize(*w);
  SetWindowExtra(hwnd, std::move(owned));
  m.windows.insert(hwnd);
  if (child) {
    parentWindow->children.insert(parentWindow->children.begin(), hwnd);
  } else {
    m.tops.insert(m.tops.begin(), hwnd);
    w->buffer =
        std::make_unique<Bitmap>(std::max(w->rect.Width(), 1), std::max(w->rect.Height(), 1));
    const DWORD transient = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
    m.backend->CreateTopLevel(hwnd, w->rect, w->text,
                              (style & WS_POPUP) && (exStyle & transient) == transient);
  }
  CREATESTRUCT cs;
  FillCreateStruct(cs, *w, param);
  if (!Send(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    DestroyWindow(hwnd);
    return 0;
  }
  w = Get(hwnd);
  if (!w) return 0;
  CalcClient(*w, nullptr, w->rect);
  w = Get(hwnd);
  if (!w) return 0;
  FillCreateStruct(cs, *w, param);
  if (Send(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    return 0;
  }
  w = Get(hwnd);
  if (!w) return 0;
  w->ncDirty = true;
  AddUpdate(*w, Region(Rect{0, 0, w->client.Width(), w->client.Height()}), true);
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return Get(hwnd) ? hwnd : 0;
}

bool DestroyWindow(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  if (!w || w->destroying) return false;
  w->destroying = true;
  if (Shown(*w) && !IsTop(*w)) {
    const Region area = WindowArea(*w);
    w->style &= ~WS_VISIBLE;
    InvalidateTreeArea(RootOf(hwnd), area);
    w = Get(hwnd);
    if (!w) return true;
  }
  Manager& m = M();
  if (m.active == hwnd) {
    ActivateNext(hwnd);
    if (!Get(hwnd)) return true;
  }
  if (m.focus && IsSelfOrDescendant(hwnd, m.focus)) m.focus = 0;
  if (m.capture && IsSelfOrDescendant(hwnd, m.capture)) ReleaseCapture();
  DestroyTree(hwnd);
  return true;
}

bool IsUiWindow(HWND hwnd) {
  return Get(hwnd) != nullptr;
}

// ---------------------------------------------------------------- tree

HWND GetParent(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w ? w->parent : 0;
}

HWND GetAncestor(HWND hwnd, UINT flags) {
  if (!Get(hwnd)) return 0;
  if (flags == GA_PARENT) return GetParent(hwnd);
  if (flags == GA_ROOT) return RootOf(hwnd);
  return 0;
}

HWND GetWindow(HWND hwnd, UINT command) {
  UiWindow* w = Get(hwnd);
  if (!w) return 0;
  if (command == GW_CHILD) return w->children.empty() ? 0 : w->children.front();
  const std::vector<HWND>* list = &M().tops;
  if (UiWindow* parent = Get(w->parent)) list = &parent->children;
  const auto it = std::find(list->begin(), list->end(), hwnd);
  if (it == list->end()) return 0;
  switch (command) {
    case GW_HWNDFIRST:
      return list->front();
    case GW_HWNDLAST:
      return list->back();
    case GW_HWNDNEXT:
      return it + 1 == list->end() ? 0 : *(it + 1);
    case GW_HWNDPREV:
      return it == list->begin() ? 0 : *(it - 1);
    default:
      return 0;
  }
}

bool IsChild(HWND parent, HWND hwnd) {
  return hwnd != parent && Get(parent) && IsSelfOrDescendant(parent, hwnd);
}

HWND SetParent(HWND hwnd, HWND newParent) {
  Manager& m = M();
  UiWindow* w = Get(hwnd);
  if (!w || IsTop(*w) || w->destroying) return 0;
  UiWindow* np = Get(newParent);
  if (!np || IsSelfOrDescendant(hwnd, newParent)) return 0;
  const HWND old = w->parent;
  const bool shown = Shown(*w);
  const HWND oldRoot = RootOf(hwnd);
  const Region before = shown ? WindowArea(*w) : Region();
  if (UiWindow* op = Get(old)) std::erase(op->children, hwnd);
  DropDcsOf(hwnd, false);
  w->parent = newParent;
  np->children.insert(np->children.begin(), hwnd);
  if (m.capture && IsSelfOrDescendant(hwnd, m.capture)) ReleaseCapture();
  // What it uncovered goes to the windows that show there now.
  InvalidateTreeArea(oldRoot, before);
  if (shown) {
    ForEachInTree(hwnd, [](UiWindow& x) { InvalidateWhole(x); });
  }
  return old;
}

// ---------------------------------------------------------------- geometry

bool GetWindowRect(HWND hwnd, Rect& rect) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const Point o = OriginOnScreen(*w);
  rect = Bounds(o.X, o.Y, w->rect.Width(), w->rect.Height());
  return true;
}

bool GetClientRect(HWND hwnd, Rect& rect) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  rect = {0, 0, w->client.Width(), w->client.Height()};
  return true;
}

bool ClientToScreen(HWND hwnd, Point& p) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const Point o = OriginOnScreen(*w);
  p = {p.X + o.X + w->client.Left, p.Y + o.Y + w->client.Top};
  return true;
}

bool ScreenToClient(HWND hwnd, Point& p) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const Point o = OriginOnScreen(*w);
  p = {p.X - o.X - w->client.Left, p.Y - o.Y - w->client.Top};
  return true;
}

bool MapWindowPoints(HWND from, HWND to, Point* points, int count) {
  if ((from && !Get(from)) || (to && !Get(to))) return false;
  for (int i = 0; i < count; ++i) {
    if (from) ClientToScreen(from, points[i]);
    if (to) ScreenToClient(to, points[i]);
  }
  return true;
}

namespace {

void Restack(UiWindow& w, HWND insertAfter) {
  Manager& m = M();
  std::vector<HWND>& list = IsTop(w) ? m.tops : Get(w.parent)->children;
  if (insertAfter == w.hwnd) return;
  std::erase(list, w.hwnd);
  if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
    list.insert(list.begin(), w.hwnd);
  } else if (insertAfter == HWND_BOTTOM) {
    list.push_back(w.hwnd);
  } else {
    auto it = std::find(list.begin(), list.end(), insertAfter);
    list.insert(it == list.end() ? list.begin() : it + 1, w.hwnd);
  }
  if (IsTop(w) && list.front() == w.hwnd) m.backend->Raise(w.hwnd);
}

}  // namespace

bool SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  Manager& m = M();
  WINDOWPOS pos{hwnd, insertAfter, x, y, cx, cy, flags};
  if (flags & SWP_NOMOVE) {
    pos.x = w->rect.Left;
    pos.y = w->rect.Top;
  }
  if (flags & SWP_NOSIZE) {
    pos.cx = w->rect.Width();
    pos.cy = w->rect.Height();
  }
  Send(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
  w = Get(hwnd);
  if (!w) return false;
  pos.cx = std::max(pos.cx, 0);
  pos.cy = std::max(pos.cy, 0);
  const Rect oldRect = w->rect;
  const Rect newRect = Bounds(pos.x, pos.y, pos.cx, pos.cy);
  const bool moved = newRect.Left != oldRect.Left || newRect.Top != oldRect.Top;
  const bool sized = newRect.Width() != oldRect.Width() || newRect.Height() != oldRect.Height();
  const bool top = IsTop(*w);
  const HWND root = RootOf(hwnd);
  const Region before = top ? Region() : WindowArea(*w);
  if (moved)
    pos.flags &= ~SWP_NOMOVE;
  else
    pos.flags |= SWP_NOMOVE;
  if (sized)
    pos.flags &= ~SWP_NOSIZE;
  else
    pos.flags |= SWP_NOSIZE;
  w->rect = newRect;
  if (!(pos.flags & SWP_NOZORDER)) Restack(*w, pos.hwndInsertAfter);
  if (sized || (pos.flags & SWP_FRAMECHANGED)) {
    CalcClient(*w, &pos, oldRect);
    w = Get(hwnd);
    if (!w) return false;
  }
  if (top) {
    if (moved || sized) m.backend->SetBounds(hwnd, w->rect);
    if (sized) {
      w->buffer->SetSize(std::max(w->rect.Width(), 1), std::max(w->rect.Height(), 1));
      if (w->region) m.backend->SetShape(hwnd, &*w->region);
    }
    if (sized || (pos.flags & SWP_FRAMECHANGED)) InvalidateWhole(*w);
  } else if (!(pos.flags & SWP_NOREDRAW) &&
             (moved || sized || !(pos.flags & SWP_NOZORDER) || (pos.flags & SWP_FRAMECHANGED))) {
    InvalidateTreeArea(root, before.Union(WindowArea(*w)));
    if (sized || (pos.flags & SWP_FRAMECHANGED)) {
      ForEachInTree(hwnd, [](UiWindow& x) {
        if (Shown(x)) InvalidateWhole(x);
      });
    }
  }
  if (pos.flags & SWP_SHOWWINDOW)
    ShowWindow(hwnd, (pos.flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  if (pos.flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  if (!Get(hwnd)) return false;
  Send(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  return true;
}

bool MoveWindow(HWND hwnd, int x, int y, int width, int height, bool repaint) {
  return SetWindowPos(hwnd, 0, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : UINT{SWP_NOREDRAW}));
}

bool BringWindowToTop(HWND hwnd) {
  return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

bool ShowWindow(HWND hwnd, int command) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  Manager& m = M();
  const bool wasVisible = Shown(*w);
  const bool top = IsTop(*w);
  switch (command) {
    case SW_HIDE:
      SetVisibility(*w, false);
      return wasVisible;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
      if (!(w->style & WS_MINIMIZE)) {
        w->style |= WS_MINIMIZE;
        SetVisibility(*w, true);
        if (!Get(hwnd)) return wasVisible;
        if (top) m.backend->Minimize(hwnd);
        Send(hwnd, WM_SIZE, SIZE_MINIMIZED, 0);
        if (m.active == hwnd) ActivateNext(hwnd);
      }
      return wasVisible;
    case SW_MAXIMIZE:
      if (!(w->style & WS_MAXIMIZE)) {
        const MINMAXINFO info = MinMaxInfo(hwnd);
        w = Get(hwnd);
        if (!w) return wasVisible;
        w->restoreRect = w->rect;
        w->style = (w->style | WS_MAXIMIZE) & ~WS_MINIMIZE;
        SetWindowPos(hwnd, 0, info.ptMaxPosition.X, info.ptMaxPosition.Y,
                     std::min(info.ptMaxSize.X, info.ptMaxTrackSize.X),
                     std::min(info.ptMaxSize.Y, info.ptMaxTrackSize.Y),
                     SWP_NOZORDER | SWP_FRAMECHANGED);
        if (!Get(hwnd)) return wasVisible;
      }
      break;
    case SW_RESTORE:
      if (w->style & WS_MINIMIZE) {
        w->style &= ~WS_MINIMIZE;
        if (top && Shown(*w)) {
          m.backend->SetVisible(hwnd, true);
          InvalidateWhole(*w);
        }
        Send(hwnd, WM_SIZE, (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED,
             MAKELONG(static_cast<std::uint16_t>(w->client.Width()),
                      static_cast<std::uint16_t>(w->client.Height())));
        if (!Get(hwnd)) return wasVisible;
      } else if (w->style & WS_MAXIMIZE) {
        w->style &= ~WS_MAXIMIZE;
        const Rect r = w->restoreRect;
        SetWindowPos(hwnd, 0, r.Left, r.Top, r.Width(), r.Height(),
                     SWP_NOZORDER | SWP_FRAMECHANGED);
        if (!Get(hwnd)) return wasVisible;
      }
      break;
    default:
      break;
  }
  w = Get(hwnd);
  if (!w) return wasVisible;
  SetVisibility(*w, true);
  if (top && Get(hwnd) && command != SW_SHOWNA && command != SW_SHOWNOACTIVATE &&
      !(w->style & WS_DISABLED)) {
    ActivateTop(hwnd, WA_ACTIVE);
    m.backend->SetInputFocus(hwnd);
  }
  return wasVisible;
}

bool IsWindowVisible(HWND hwnd) {
  for (UiWindow* w = Get(hwnd); w; w = Get(w->parent)) {
    if (!Shown(*w)) return false;
    if (IsTop(*w)) return true;
  }
  return false;
}

bool IsIconic(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w && (w->style & WS_MINIMIZE);
}

bool IsZoomed(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w && (w->style & WS_MAXIMIZE);
}

bool EnableWindow(HWND hwnd, bool enable) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const bool wasDisabled = (w->style & WS_DISABLED) != 0;
  if (wasDisabled == !enable) return wasDisabled;
  Manager& m = M();
  if (enable) {
    w->style &= ~WS_DISABLED;
  } else {
    w->style |= WS_DISABLED;
    if (m.focus && IsSelfOrDescendant(hwnd, m.focus)) {
      const HWND old = m.focus;
      m.focus = 0;
      Send(old, WM_KILLFOCUS, 0, 0);
    }
    if (m.capture && IsSelfOrDescendant(hwnd, m.capture)) ReleaseCapture();
  }
  if (Get(hwnd)) Send(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  return wasDisabled;
}

bool IsWindowEnabled(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w && !(w->style & WS_DISABLED);
}

// ---------------------------------------------------------------- text, longs, regions

bool SetWindowText(HWND hwnd, std::string_view text) {
  if (!Get(hwnd)) return false;
  const std::string copy(text);
  return Send(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str())) != 0;
}

std::string GetWindowText(HWND hwnd) {
  if (!Get(hwnd)) return {};
  const auto length = Send(hwnd, WM_GETTEXTLENGTH);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const auto copied = Send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(copied, 0, length)));
  return text;
}

std::string GetClassName(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w ? w->className : std::string();
}

std::intptr_t GetWindowLong(HWND hwnd, int index) {
  UiWindow* w = Get(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<std::intptr_t>(w->style);
    case GWL_EXSTYLE:
      return static_cast<std::intptr_t>(w->exStyle);
    case GWL_ID:
      return static_cast<std::intptr_t>(w->id);
    case GWL_USERDATA:
      return w->userData;
    default:
      return 0;
  }
}

std::intptr_t SetWindowLong(HWND hwnd, int index, std::intptr_t value) {
  UiWindow* w = Get(hwnd);
  if (!w) return 0;
  const std::intptr_t old = GetWindowLong(hwnd, index);
  switch (index) {
    case GWL_STYLE: {
      const DWORD keep = WS_VISIBLE | WS_DISABLED | WS_CHILD;
      w->style = (w->style & keep) | (static_cast<DWORD>(value) & ~keep);
      const DWORD v = static_cast<DWORD>(value);
      if ((v & WS_DISABLED) != (static_cast<DWORD>(old) & WS_DISABLED)) {
        EnableWindow(hwnd, !(v & WS_DISABLED));
      }
      if (Get(hwnd) && (v & WS_VISIBLE) != (static_cast<DWORD>(old) & WS_VISIBLE)) {
        ShowWindow(hwnd, (v & WS_VISIBLE) ? SW_SHOWNA : SW_HIDE);
      }
      break;
    }
    case GWL_EXSTYLE:
      w->exStyle = static_cast<DWORD>(value);
      break;
    case GWL_ID:
      w->id = static_cast<std::uintptr_t>(value);
      break;
    case GWL_USERDATA:
      w->userData = value;
      break;
    default:
      return 0;
  }
  return old;
}

bool SetWindowRgn(HWND hwnd, std::optional<Region> region, bool redraw) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  const Region before = IsTop(*w) ? Region() : WindowArea(*w);
  w->region = std::move(region);
  if (IsTop(*w)) {
    M().backend->SetShape(hwnd, w->region ? &*w->region : nullptr);
    if (redraw) InvalidateWhole(*w);
  } else if (redraw) {
    InvalidateTreeArea(RootOf(hwnd), before.Union(WindowArea(*w)));
  }
  return true;
}

int GetWindowRgn(HWND hwnd, Region& region) {
  UiWindow* w = Get(hwnd);
  if (!w) return RGN_ERROR;
  if (!w->region) return NULLREGION;
  region = *w->region;
  return region.Kind();
}

HWND WindowFromPoint(Point screen) {
  Manager& m = M();
  for (HWND top : m.tops) {
    UiWindow* t = Get(top);
    if (!t || !Shown(*t) || (t->style & WS_MINIMIZE)) continue;
    std::vector<HWND> candidates;
    CandidatesAt(top, {screen.X - t->rect.Left, screen.Y - t->rect.Top}, candidates);
    if (!candidates.empty()) return candidates.front();
  }
  return 0;
}

HWND ChildWindowFromPointEx(HWND parent, Point client, UINT flags) {
  UiWindow* p = Get(parent);
  if (!p) return 0;
  if (!Rect{0, 0, p->client.Width(), p->client.Height()}.Contains(client)) return 0;
  for (HWND child : p->children) {
    UiWindow* c = Get(child);
    if (!c) continue;
    if ((flags & CWP_SKIPINVISIBLE) && !Shown(*c)) continue;
    if ((flags & CWP_SKIPDISABLED) && (c->style & WS_DISABLED)) continue;
    if ((flags & CWP_SKIPTRANSPARENT) && (c->exStyle & WS_EX_TRANSPARENT)) continue;
    if (Shape(*c).Contains({client.X - c->rect.Left, client.Y - c->rect.Top})) return child;
  }
  return parent;
}

// ---------------------------------------------------------------- painting

bool InvalidateRgn(HWND hwnd, const Region* region, bool erase) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  AddUpdate(*w, region ? *region : Region(Rect{0, 0, w->client.Width(), w->client.Height()}),
            erase);
  return true;
}

bool InvalidateRect(HWND hwnd, const Rect* rect, bool erase) {
  if (!rect) return InvalidateRgn(hwnd, nullptr, erase);
  const Region r(*rect);
  return InvalidateRgn(hwnd, &r, erase);
}

bool ValidateRect(HWND hwnd, const Rect* rect) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  if (rect) {
    w->update = w->update.Subtract(Region(*rect));
  } else {
    w->update = Region();
  }
  if (w->update.IsEmpty()) w->erase = false;
  return true;
}

bool GetUpdateRect(HWND hwnd, Rect* rect, bool erase) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  if (rect) *rect = w->update.IsEmpty() ? Rect{} : w->update.BoundingBox();
  return !w->update.IsEmpty();
}

namespace {

void PaintOne(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  if (!w || !w->redraw || !IsWindowVisible(hwnd) || IsIconic(RootOf(hwnd))) return;
  if (w->ncDirty) {
    w->ncDirty = false;
    Send(hwnd, WM_NCPAINT, 1, 0);
    w = Get(hwnd);
    if (!w) return;
  }
  if (!w->update.IsEmpty()) {
    Send(hwnd, WM_PAINT);
    w = Get(hwnd);
    if (!w) return;
    // A handler that does not validate must not make the window paint forever.
    w->update = Region();
    w->erase = false;
  }
}

void PaintTree(HWND hwnd) {
  PaintOne(hwnd);
  UiWindow* w = Get(hwnd);
  if (!w) return;
  const std::vector<HWND> children = w->children;
  for (auto it = children.rbegin(); it != children.rend(); ++it) PaintTree(*it);
}

HDC MakeDc(UiWindow& w, bool clientOnly, const Region* within) {
  Manager& m = M();
  const HWND root = RootOf(w.hwnd);
  UiWindow* top = Get(root);
  if (!top) return nullptr;
  Region area = VisibleRegion(w, clientOnly);
  const Point o = OriginInTop(w);
  Point org = o;
  if (clientOnly) org = {o.X + w.client.Left, o.Y + w.client.Top};
  if (within) {
    Region extra = *within;
    extra.Offset(org.X, org.Y);
    area = area.Intersect(extra);
  }
  if (IsIconic(root) || !IsWindowVisible(w.hwnd)) area = Region();
  auto dc = std::make_unique<DC>(top->buffer.get());
  dc->SetDeviceOrigin(org);
  Region device = area;
  device.Offset(-org.X, -org.Y);
  dc->SetSystemClip(std::move(device));
  HDC hdc = dc.get();
  m.dcs.emplace(hdc, DcEntry{std::move(dc), w.hwnd, root, std::move(area)});
  return hdc;
}

}  // namespace

void PaintPendingWindows() {
  Manager& m = M();
  const bool outer = !std::exchange(m.painting, true);
  const std::vector<HWND> tops = m.tops;
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) PaintTree(*it);
  for (HWND top : tops) Present(top);
  if (outer) m.painting = false;
}

bool UpdateWindow(HWND hwnd) {
  if (!Get(hwnd)) return false;
  PaintOne(hwnd);
  Present(RootOf(hwnd));
  return true;
}

bool RedrawWindow(HWND hwnd, const Rect* rect, const Region* region, UINT flags) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  Region area =
      region ? *region : Region(rect ? *rect : Rect{0, 0, w->client.Width(), w->client.Height()});
  if (flags & RDW_INVALIDATE) {
    if (flags & RDW_ALLCHILDREN) {
      const Point o = OriginInTop(*w);
      Region inTop = area;
      inTop.Offset(o.X + w->client.Left, o.Y + w->client.Top);
      inTop = inTop.Intersect(WindowArea(*w));
      ForEachInTree(hwnd, [&](UiWindow& x) {
        if (x.hwnd == hwnd) {
          AddUpdate(x, area, (flags & RDW_ERASE) != 0);
          return;
        }
        if ((flags & RDW_FRAME) && !VisibleRegion(x, false).Intersect(inTop).IsEmpty()) {
          x.ncDirty = true;
          SchedulePaint();
        }
        const Region hit = VisibleRegion(x, true).Intersect(inTop);
        if (hit.IsEmpty()) return;
        const Point xo = OriginInTop(x);
        Region local = hit;
        local.Offset(-(xo.X + x.client.Left), -(xo.Y + x.client.Top));
        AddUpdate(x, local, (flags & RDW_ERASE) != 0);
      });
    } else {
      AddUpdate(*w, area, (flags & RDW_ERASE) != 0);
    }
    if (flags & RDW_FRAME) {
      w->ncDirty = true;
      SchedulePaint();
    }
  } else if (flags & RDW_VALIDATE) {
    w->update = w->update.Subtract(area);
  }
  if (flags & RDW_UPDATENOW) {
    if (flags & RDW_ALLCHILDREN) {
      PaintTree(hwnd);
      Present(RootOf(hwnd));
    } else {
      UpdateWindow(hwnd);
    }
  }
  return true;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT& ps) {
  UiWindow* w = Get(hwnd);
  ps = PAINTSTRUCT{};
  if (!w) return nullptr;
  const Region update = std::exchange(w->update, Region());
  const bool erase = std::exchange(w->erase, false);
  HDC hdc = MakeDc(*w, true, &update);
  if (!hdc) return nullptr;
  ps.hdc = hdc;
  ps.rcPaint = update.IsEmpty() ? Rect{} : update.BoundingBox();
  if (erase) ps.fErase = Send(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) == 0;
  return hdc;
}

bool EndPaint(HWND hwnd, const PAINTSTRUCT& ps) {
  return ReleaseDC(hwnd, ps.hdc);
}

HDC GetDC(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w ? MakeDc(*w, true, nullptr) : nullptr;
}

HDC GetWindowDC(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w ? MakeDc(*w, false, nullptr) : nullptr;
}

bool ReleaseDC(HWND, HDC dc) {
  if (!g_manager || !OnGuiThread()) return false;
  Manager& m = *g_manager;
  const auto it = m.dcs.find(dc);
  if (it == m.dcs.end()) return false;
  DcEntry entry = std::move(it->second);
  m.dcs.erase(it);
  if (UiWindow* top = Get(entry.top)) {
    top->dirty = top->dirty.Union(entry.area);
    // Drawing outside a paint pass shows once the queue is idle, with the other changes.
    if (!entry.area.IsEmpty() && !m.painting) SchedulePaint();
  }
  return true;
}

// ---------------------------------------------------------------- mouse and keyboard

HWND SetCapture(HWND hwnd) {
  Manager& m = M();
  if (!Get(hwnd)) return 0;
  const HWND old = Get(m.capture) ? m.capture : 0;
  if (old == hwnd) return old;
  if (old && RootOf(old) != RootOf(hwnd)) m.backend->GrabPointer(RootOf(old), false);
  m.capture = hwnd;
  if (old) Send(old, WM_CAPTURECHANGED, 0, static_cast<LPARAM>(hwnd));
  m.backend->GrabPointer(RootOf(hwnd), true);
  return old;
}

bool ReleaseCapture() {
  Manager& m = M();
  const HWND old = m.capture;
  if (!old) return true;
  m.capture = 0;
  if (Get(old)) {
    m.backend->GrabPointer(RootOf(old), false);
    Send(old, WM_CAPTURECHANGED, 0, 0);
  }
  return true;
}

HWND GetCapture() {
  Manager& m = M();
  return Get(m.capture) ? m.capture : 0;
}

bool TrackMouseEvent(TRACKMOUSEEVENT& tme) {
  Manager& m = M();
  if (!Get(tme.hwndTrack)) return false;
  if (tme.dwFlags & TME_CANCEL) {
    m.tracking.erase(tme.hwndTrack);
    return true;
  }
  if (!(tme.dwFlags & TME_LEAVE)) return true;
  // Is the pointer over the window (the right part of it) now?
  bool inside = false;
  int hit = HTNOWHERE;
  if (!m.moveSize.active && m.pointerInside) {
    Rect r;
    if (GetWindowRect(tme.hwndTrack, r) && r.Contains(m.cursor)) {
      const HWND under = MouseTarget(m.cursor, hit);
      inside = under == tme.hwndTrack &&
               ((tme.dwFlags & TME_NONCLIENT) ? hit != HTCLIENT : hit == HTCLIENT);
    }
  }
  if (inside) {
    m.tracking[tme.hwndTrack] = tme.dwFlags & (TME_LEAVE | TME_NONCLIENT);
  } else {
    PostMessage(tme.hwndTrack, (tme.dwFlags & TME_NONCLIENT) ? WM_NCMOUSELEAVE : WM_MOUSELEAVE, 0,
                0);
  }
  return true;
}

Point GetCursorPos() {
  return M().cursor;
}

HWND SetFocus(HWND hwnd) {
  Manager& m = M();
  const HWND old = Get(m.focus) ? m.focus : 0;
  if (hwnd == 0) {
    m.focus = 0;
    if (old) Send(old, WM_KILLFOCUS, 0, 0);
    return old;
  }
  UiWindow* w = Get(hwnd);
  if (!w || !IsWindowVisible(hwnd)) return 0;
  for (UiWindow* a = w; a; a = Get(a->parent)) {
    if (a->style & WS_DISABLED) return 0;
  }
  if (old == hwnd) return old;
  const HWND root = RootOf(hwnd);
  if (m.active != root) {
    ActivateTop(root, WA_ACTIVE);
    if (!Get(hwnd)) return 0;
  }
  // The activation may have moved the focus already.
  const HWND current = Get(m.focus) ? m.focus : 0;
  if (current == hwnd) return old;
  m.focus = hwnd;
  if (current) Send(current, WM_KILLFOCUS, static_cast<WPARAM>(hwnd), 0);
  if (m.focus == hwnd && Get(hwnd)) Send(hwnd, WM_SETFOCUS, static_cast<WPARAM>(current), 0);
  return old;
}

HWND GetFocus() {
  Manager& m = M();
  return Get(m.focus) ? m.focus : 0;
}

HWND GetActiveWindow() {
  Manager& m = M();
  return Get(m.active) ? m.active : 0;
}

HWND SetActiveWindow(HWND hwnd) {
  const HWND old = GetActiveWindow();
  if (!Get(hwnd)) return 0;
  ActivateTop(RootOf(hwnd), WA_ACTIVE);
  return old;
}

bool SetForegroundWindow(HWND hwnd) {
  Manager& m = M();
  const HWND root = RootOf(hwnd);
  if (!root) return false;
  BringWindowToTop(root);
  m.backend->Raise(root);
  m.backend->SetInputFocus(root);
  ActivateTop(root, WA_ACTIVE);
  return true;
}

std::int16_t GetKeyState(int vk) {
  Manager& m = M();
  if (vk < 0 || vk > 255) return 0;
  return m.keys[vk] ? static_cast<std::int16_t>(0x8000) : 0;
}

InputHook SetInputHook(InputHook hook) {
  return std::exchange(M().inputHook, std::move(hook));
}

UINT RegisterWindowMessage(std::string_view name) {
  static std::mutex mutex;
  static std::map<std::string, UINT, CaseLess> names;
  if (name.empty()) return 0;
  const std::lock_guard lock(mutex);
  const auto [it, added] = names.emplace(std::string(name), 0xC000 + names.size());
  if (it->second > 0xFFFF) return 0;
  return it->second;
}

Bitmap SnapshotWindow(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  if (!w || !IsWindowVisible(hwnd)) return {};
  UiWindow* top = Get(RootOf(hwnd));
  if (!top || !top->buffer) return {};
  const Point o = OriginInTop(*w);
  Bitmap out(w->rect.Width(), w->rect.Height());
  for (int y = 0; y < out.Height(); ++y) {
    const int sy = y + o.Y;
    if (sy < 0 || sy >= top->buffer->Height()) continue;
    for (int x = 0; x < out.Width(); ++x) {
      const int sx = x + o.X;
      if (sx < 0 || sx >= top->buffer->Width()) continue;
      std::memcpy(out.ScanLine(y) + 3 * x, top->buffer->ScanLine(sy) + 3 * sx, 3);
    }
  }
  return out;
}

// ---------------------------------------------------------------- scroll bars

namespace {

nonclient::ScrollState* ScrollOf(HWND hwnd, int bar, UiWindow** window = nullptr) {
  UiWindow* w = Get(hwnd);
  if (!w || bar < SB_HORZ || bar > SB_CTL) return nullptr;
  if (window) *window = w;
  return &w->scroll[bar];
}

void ScrollChanged(UiWindow& w, int bar, bool redraw) {
  if (!redraw || bar == SB_CTL) return;
  if ((bar == SB_VERT && (w.style & WS_VSCROLL)) || (bar == SB_HORZ && (w.style & WS_HSCROLL))) {
    w.ncDirty = true;
    SchedulePaint();
  }
}

// A press on a window's own scroll bar: the arrows and the track scroll by a line or a
// page; the thumb is dragged in a loop of its own until the button comes up.
void ScrollBarPress(HWND hwnd, bool vertical, LPARAM screenPoint) {
  Manager& m = M();
  UiWindow* w = Get(hwnd);
  if (!w || m.scrollDrag.active) return;
  const nonclient::Layout layout = nonclient::Compute(w->style, w->exStyle, WindowSize(*w));
  const Rect bar = vertical ? layout.vscroll : layout.hscroll;
  const nonclient::ScrollState state = w->scroll[vertical ? SB_VERT : SB_HORZ];
  const nonclient::ScrollParts parts = nonclient::ScrollBarParts(bar, vertical, state);
  const Point o = OriginOnScreen(*w);
  const Point p{static_cast<std::int16_t>(LOWORD(static_cast<WPARAM>(screenPoint))) - o.X,
                static_cast<std::int16_t>(HIWORD(static_cast<WPARAM>(screenPoint))) - o.Y};
  const UINT message = vertical ? WM_VSCROLL : WM_HSCROLL;
  WPARAM code = SB_ENDSCROLL;
  if (parts.first.Contains(p))
    code = SB_LINEUP;
  else if (parts.last.Contains(p))
    code = SB_LINEDOWN;
  else if (parts.trackBefore.Contains(p))
    code = SB_PAGEUP;
  else if (parts.trackAfter.Contains(p))
    code = SB_PAGEDOWN;
  if (code != SB_ENDSCROLL) {
    Send(hwnd, message, code);
    if (Get(hwnd)) Send(hwnd, message, SB_ENDSCROLL);
    return;
  }
  if (!parts.thumb.Contains(p) || !(m.buttons & MK_LBUTTON)) return;
  m.scrollDrag = ScrollDrag{true, hwnd, vertical,
                            vertical ? p.Y - parts.thumb.Top : p.X - parts.thumb.Left, state.pos};
  SetCapture(hwnd);
  PumpUntil([&] { return !m.scrollDrag.active || !Get(hwnd) || Terminated(); });
  m.scrollDrag.active = false;
  if (Get(hwnd) && m.capture == hwnd) ReleaseCapture();
}

}  // namespace

int SetScrollInfo(HWND hwnd, int bar, const SCROLLINFO& info, bool redraw) {
  UiWindow* w = nullptr;
  nonclient::ScrollState* s = ScrollOf(hwnd, bar, &w);
  if (!s) return 0;
  if (info.fMask & SIF_RANGE) {
    s->min = info.nMin;
    s->max = std::max(info.nMax, info.nMin);
  }
  if (info.fMask & SIF_PAGE) s->page = info.nPage;
  const long long range = static_cast<long long>(s->max) - s->min + 1;
  s->page = static_cast<unsigned>(std::min<long long>(s->page, range));
  if (info.fMask & SIF_POS) s->pos = info.nPos;
  const long long top = static_cast<long long>(s->max) - std::max<long long>(s->page - 1LL, 0);
  s->pos =
      static_cast<int>(std::clamp<long long>(s->pos, s->min, std::max<long long>(top, s->min)));
  ScrollChanged(*w, bar, redraw);
  return s->pos;
}

bool GetScrollInfo(HWND hwnd, int bar, SCROLLINFO& info) {
  UiWindow* w = nullptr;
  const nonclient::ScrollState* s = ScrollOf(hwnd, bar, &w);
  if (!s) return false;
  if (info.fMask & SIF_RANGE) {
    info.nMin = s->min;
    info.nMax = s->max;
  }
  if (info.fMask & SIF_PAGE) info.nPage = s->page;
  if (info.fMask & SIF_POS) info.nPos = s->pos;
  if (info.fMask & SIF_TRACKPOS) {
    const bool dragging = M().scrollDrag.active && M().scrollDrag.hwnd == hwnd &&
                          (bar == SB_VERT) == M().scrollDrag.vertical;
    info.nTrackPos = dragging ? w->trackPos[bar] : s->pos;
  }
  return true;
}

int SetScrollPos(HWND hwnd, int bar, int pos, bool redraw) {
  const nonclient::ScrollState* s = ScrollOf(hwnd, bar);
  if (!s) return 0;
  const int old = s->pos;
  SCROLLINFO info;
  info.fMask = SIF_POS;
  info.nPos = pos;
  SetScrollInfo(hwnd, bar, info, redraw);
  return old;
}

int GetScrollPos(HWND hwnd, int bar) {
  const nonclient::ScrollState* s = ScrollOf(hwnd, bar);
  return s ? s->pos : 0;
}

bool SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, bool redraw) {
  if (!ScrollOf(hwnd, bar)) return false;
  SCROLLINFO info;
  info.fMask = SIF_RANGE;
  info.nMin = minPos;
  info.nMax = maxPos;
  SetScrollInfo(hwnd, bar, info, redraw);
  return true;
}

// ---------------------------------------------------------------- default processing

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  UiWindow* w = Get(hwnd);
  // Not DefWindowProc: it hands our windows back to this procedure.
  if (!w) return 0;
  switch (message) {
    case WM_NCCREATE:
      return 1;
    case WM_NCCALCSIZE: {
      auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
      if (!params) return 0;
      const Rect win = params->rgrc[0];
      const Rect c = nonclient::ClientArea(w->style, w->exStyle, {0, 0, win.Width(), win.Height()});
      params->rgrc[0] = c.Offset(win.Left, win.Top);
      return 0;
    }
    case WM_NCHITTEST: {
      Point p{static_cast<std::int16_t>(LOWORD(static_cast<WPARAM>(lParam))),
              static_cast<std::int16_t>(HIWORD(static_cast<WPARAM>(lParam)))};
      const Point o = OriginOnScreen(*w);
      p = {p.X - o.X, p.Y - o.Y};
      if (!Shape(*w).Contains(p)) return HTNOWHERE;
      return nonclient::HitTest(w->style, w->exStyle, WindowSize(*w), w->client, p);
    }
    case WM_NCPAINT: {
      HDC dc = GetWindowDC(hwnd);
      if (!dc) return 0;
      const bool active = M().active == RootOf(hwnd);
      nonclient::Paint(*dc, w->style, w->exStyle, WindowSize(*w), w->client, w->text, active,
                       w->scroll[SB_HORZ], w->scroll[SB_VERT]);
      ReleaseDC(hwnd, dc);
      return 0;
    }
    case WM_NCACTIVATE:
      if ((w->style & WS_CAPTION) == WS_CAPTION) {
        w->ncDirty = true;
        SchedulePaint();
      }
      return 1;
    case WM_ERASEBKGND: {
      if (w->background == clNone) return 0;
      auto* dc = reinterpret_cast<DC*>(wParam);
      if (!dc) return 0;
      dc->FillRect({0, 0, w->client.Width(), w->client.Height()},
                   Brush{BrushStyle::bsSolid, w->background});
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, ps);
      EndPaint(hwnd, ps);
      return 0;
    }
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      w->text = text ? text : "";
      if (IsTop(*w)) M().backend->SetTitle(hwnd, w->text);
      if ((w->style & WS_CAPTION) == WS_CAPTION) {
        w->ncDirty = true;
        SchedulePaint();
      }
      return 1;
    }
    case WM_GETTEXT: {
      char* buffer = reinterpret_cast<char*>(lParam);
      if (!buffer || wParam == 0) return 0;
      const std::size_t n = std::min<std::size_t>(w->text.size(), wParam - 1);
      std::memcpy(buffer, w->text.data(), n);
      buffer[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_WINDOWPOSCHANGED: {
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (!pos) return 0;
      if (!(pos->flags & SWP_NOMOVE)) {
        Send(hwnd, WM_MOVE, 0,
             PointParam({w->rect.Left + w->client.Left, w->rect.Top + w->client.Top}));
      }
      w = Get(hwnd);
      if (w && (!(pos->flags & SWP_NOSIZE) || (pos->flags & SWP_FRAMECHANGED))) {
        const WPARAM kind = (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED;
        Send(hwnd, WM_SIZE, kind,
             MAKELONG(static_cast<std::uint16_t>(w->client.Width()),
                      static_cast<std::uint16_t>(w->client.Height())));
      }
      return 0;
    }
    case WM_NCLBUTTONDOWN: {
      const int hit = static_cast<int>(wParam);
      w->ncPressed = hit;
      if (hit == HTVSCROLL || hit == HTHSCROLL) {
        ScrollBarPress(hwnd, hit == HTVSCROLL, lParam);
      } else if (hit == HTCAPTION) {
        Send(hwnd, WM_SYSCOMMAND, SC_MOVE | WPARAM{HTCAPTION}, lParam);
      } else if (hit >= HTLEFT && hit <= HTBOTTOMRIGHT) {
        Send(hwnd, WM_SYSCOMMAND, SC_SIZE | static_cast<WPARAM>(hit - HTLEFT + 1), lParam);
      }
      return 0;
    }
    case WM_NCLBUTTONUP: {
      const int hit = static_cast<int>(wParam);
      const int pressed = std::exchange(w->ncPressed, HTNOWHERE);
      if (hit != pressed) return 0;
      const HWND root = RootOf(hwnd);
      switch (hit) {
        case HTCLOSE:
          Send(root, WM_SYSCOMMAND, SC_CLOSE, lParam);
          break;
        case HTMINBUTTON:  // shown (disabled) beside a maximise box without a minimise box
          if (w->style & WS_MINIMIZEBOX) Send(root, WM_SYSCOMMAND, SC_MINIMIZE, lParam);
          break;
        case HTMAXBUTTON:
          if (w->style & WS_MAXIMIZEBOX) {
            Send(root, WM_SYSCOMMAND, IsZoomed(root) ? SC_RESTORE : SC_MAXIMIZE, lParam);
          }
          break;
        case HTHELP:
          Send(root, WM_SYSCOMMAND, SC_CONTEXTHELP, lParam);
          break;
        default:
          break;
      }
      return 0;
    }
    case WM_NCLBUTTONDBLCLK:
      if (wParam == HTCAPTION && (w->style & WS_MAXIMIZEBOX)) {
        Send(hwnd, WM_SYSCOMMAND, IsZoomed(hwnd) ? SC_RESTORE : SC_MAXIMIZE, lParam);
      }
      return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_MOVE:
        case SC_SIZE:
          MoveSizeLoop(hwnd, wParam);
          break;
        case SC_CLOSE:
          Send(hwnd, WM_CLOSE);
          break;
        case SC_MINIMIZE:
          ShowWindow(hwnd, SW_MINIMIZE);
          break;
        case SC_MAXIMIZE:
          ShowWindow(hwnd, SW_MAXIMIZE);
          break;
        case SC_RESTORE:
          ShowWindow(hwnd, SW_RESTORE);
          break;
        default:
          break;
      }
      return 0;
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4) Send(RootOf(hwnd), WM_SYSCOMMAND, SC_CLOSE, 0);
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (!focus || RootOf(focus) != hwnd) SetFocus(hwnd);
      }
      return 0;
    case WM_MOUSEACTIVATE:
      return 1;  // MA_ACTIVATE
    case WM_MOUSEWHEEL:
      return w->parent ? Send(w->parent, message, wParam, lParam) : 0;
    case WM_SETREDRAW:
      // Updates collect while drawing is off; turning it on paints nothing by itself.
      w->redraw = wParam != 0;
      if (w->redraw && (!w->update.IsEmpty() || w->ncDirty)) SchedulePaint();
      return 0;
    case WM_SETCURSOR:
      // The parent may set the cursor for its children.
      if (w->parent && Send(w->parent, WM_SETCURSOR, wParam, lParam)) return 1;
      return 0;
    default:
      return 0;
  }
}

}  // namespace qv
