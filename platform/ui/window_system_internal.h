// What the window system's units share: the window record kept in each window's extra
// data, the manager that owns the windows of one thread, and the helpers more than one
// unit uses. Only the window system's own .cpp files include this header.
#pragma once

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/msg/pump.h"
#include "platform/ui/nonclient.h"
#include "platform/ui/window_system.h"

namespace qv::ui_internal {

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
  int menuHeight = 0;  // the menu bar's height in the non-client area (SetMenuBarHeight)
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
  // Mouse-leave tracking: the client area and the non-client area of a window are
  // tracked apart (true: non-client).
  std::set<std::pair<HWND, bool>> tracking;
  Point cursor;
  bool pointerInside = false;  // over one of our top-level windows
  unsigned buttons = 0;        // MK_*BUTTON
  unsigned modifiers = 0;
  bool keys[256] = {};
  bool altAlone = false;      // Alt is down and no other key or button came since
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

// The calling thread's window system: each thread that makes windows has its own manager,
// back end (display connection), painting pass and input state, as each thread on the
// platform has its own queue and windows. Not an object with a destructor: a window
// system still running when its thread ends is left as it is rather than torn down after
// the thread's queue is gone.
extern thread_local Manager* g_manager;

// ---- handles and the tree (window_system_handles.cpp)
// Whether the calling thread has a window system running.
[[nodiscard]] bool OnGuiThread();
// The calling thread's manager, started on first use.
Manager& M();
// This thread's window record of a window system window, null for any other handle.
[[nodiscard]] UiWindow* Get(HWND hwnd);
[[nodiscard]] bool IsTop(const UiWindow& w);
[[nodiscard]] bool Shown(const UiWindow& w);
// Through the window's procedure chain; 0 when the window is gone.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
[[nodiscard]] LPARAM PointParam(Point p);
[[nodiscard]] HWND RootOf(HWND hwnd);
[[nodiscard]] bool IsSelfOrDescendant(HWND ancestor, HWND hwnd);
// The window, then its children's trees back to front.
void ForEachInTree(HWND hwnd, const std::function<void(UiWindow&)>& fn);
// Updates what other threads see of a top-level window (EnumWindows, GetTopLevelInfo);
// `gone` removes it.
void PublishTopLevel(const UiWindow& w, bool gone = false);

// Updates what other threads see of the foreground window and the focus (GetForegroundInfo)
// from the calling thread's window system; `stopping` withdraws this thread's facts.
// `askText` (the thread is idle) asks the focused window for its text, which a control may
// keep itself; else the text the window system keeps is taken.
void PublishForeground(bool stopping = false, bool askText = false);

// ---- placement (window_system_placement.cpp)
[[nodiscard]] Point OriginInTop(const UiWindow& w);
[[nodiscard]] Point OriginOnScreen(const UiWindow& w);
[[nodiscard]] Rect WindowSize(const UiWindow& w);
void SetVisibility(UiWindow& w, bool show);

// ---- painting and compositing (window_system_painting.cpp)
[[nodiscard]] Region Shape(const UiWindow& w);
[[nodiscard]] Region WindowArea(const UiWindow& w);
[[nodiscard]] Region VisibleRegion(const UiWindow& w, bool clientOnly);
void SchedulePaint();
void AddUpdate(UiWindow& w, const Region& area, bool erase);
void InvalidateTreeArea(HWND top, const Region& area);
void InvalidateWhole(UiWindow& w);
void Present(HWND top);
void DropDcsOf(HWND hwnd, bool topGone);

// ---- activation (window_system_focus.cpp)
void ActivateTop(HWND top, WPARAM how);
void ActivateNext(HWND leaving);

// ---- non-client handling (window_system_nonclient.cpp)
void CalcClient(UiWindow& w, WINDOWPOS* pos, const Rect& oldRect);
// The default processing of the non-client messages; nullopt for any other message.
std::optional<LRESULT> NonClientDefault(UiWindow& w, UINT message, WPARAM wParam, LPARAM lParam);

// ---- the move/size loop (window_system_movesize.cpp)
[[nodiscard]] MINMAXINFO MinMaxInfo(HWND hwnd);
void MoveSizeLoop(HWND hwnd, WPARAM command);

// ---- a window's own scroll bars (window_system_scrollbars.cpp)
void ScrollBarPress(HWND hwnd, bool vertical, LPARAM screenPoint);

}  // namespace qv::ui_internal
