// What a display back end does for the window system: only top-level windows reach it. It
// shows a top-level's composed back buffer, cuts its shape and feeds input back through
// `DisplayEvents`. One back end is chosen when the window system starts; window code never
// asks which one it is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/geometry.h"
#include "platform/gfx/region.h"
#include "platform/msg/messages.h"

namespace qv {

struct Monitor {
  Rect Bounds;
  Rect WorkArea;
  bool Primary = false;
};

// The largest screen the program takes: each side of a monitor, and of the desktop all the
// monitors make together, and the distance of any edge from the origin.
inline constexpr int kMaxScreenExtent = 16384;
// A screen rectangle from numbers that come from outside (the environment, the X server):
// nullopt when no screen can be so (a side below 1 or beyond kMaxScreenExtent, an edge
// beyond it either way). Nothing here overflows, whatever the numbers.
[[nodiscard]] std::optional<Rect> ScreenRect(long long x, long long y, long long w, long long h);
// Monitors from a list such as "1920x1080+0+0,1280x1024+1920+0" (the first is the primary):
// an entry that is no geometry, that no screen can be, or that would make the desktop larger
// than kMaxScreenExtent on a side is left out, and `refused` gets a line saying why.
[[nodiscard]] std::vector<Monitor> ParseMonitorList(std::string_view list,
                                                    std::vector<std::string>& refused);

enum class MouseButton { Left, Right, Middle };

// Modifier keys and mouse buttons held while an input event happened.
enum : unsigned {
  kModShift = 1,
  kModControl = 2,
  kModAlt = 4,
};

// Input and window-manager events from the back end, in screen coordinates. `time` is the
// event's time stamp in milliseconds (only differences matter: double clicks).
class DisplayEvents {
 public:
  virtual ~DisplayEvents() = default;
  virtual void MouseMove(HWND top, Point screen, unsigned modifiers, std::uint32_t time) = 0;
  virtual void MouseButton(HWND top, Point screen, MouseButton button, bool down,
                           unsigned modifiers, std::uint32_t time) = 0;
  // One notch of the wheel is 120, positive away from the user.
  virtual void MouseWheel(HWND top, Point screen, int delta, unsigned modifiers,
                          std::uint32_t time) = 0;
  // The pointer left the top-level window (not into one of its children: those are ours).
  virtual void MouseLeft(HWND top) = 0;
  // `vk` from VirtualKeyFromKeysym; `text` the UTF-8 characters the key types (key down).
  virtual void Key(HWND top, unsigned vk, bool down, unsigned modifiers, unsigned scanCode,
                   std::string_view text, std::uint32_t time) = 0;
  // Part of the window must be shown again (X Expose): presents from the back buffer.
  virtual void Exposed(HWND top, const Rect& area) = 0;
  // Someone else (the user through a window manager) moved or sized the window.
  virtual void Configured(HWND top, const Rect& screenBounds) = 0;
  virtual void FocusChanged(HWND top, bool focused) = 0;
  virtual void CloseRequested(HWND top) = 0;
  // The user brought a minimised window back (from a task bar).
  virtual void Restored(HWND top) = 0;
};

class DisplayBackend {
 public:
  virtual ~DisplayBackend() = default;
  [[nodiscard]] virtual std::string_view Name() const = 0;
  // Called once by the window system when it adopts the back end, on the thread
  // whose window system it serves; every call after that comes from that thread.
  virtual void Start(DisplayEvents* events) = 0;
  // Undecorated window; popups (menus, drop-downs) are not managed by the window manager.
  virtual void CreateTopLevel(HWND hwnd, const Rect& screenBounds, std::string_view title,
                              bool popup) = 0;
  virtual void DestroyTopLevel(HWND hwnd) = 0;
  virtual void SetBounds(HWND hwnd, const Rect& screenBounds) = 0;
  virtual void SetVisible(HWND hwnd, bool visible) = 0;
  virtual void SetTitle(HWND hwnd, std::string_view title) = 0;
  // The window's shape in window coordinates; null removes it.
  virtual void SetShape(HWND hwnd, const Region* shape) = 0;
  // Shows `dirty` (window coordinates) of the composed back buffer.
  virtual void Present(HWND hwnd, const Bitmap& backBuffer, const Region& dirty) = 0;
  virtual void Raise(HWND hwnd) = 0;
  virtual void Minimize(HWND hwnd) = 0;
  // Keeps pointer events coming to the window while a button is held outside it.
  virtual void GrabPointer(HWND hwnd, bool grab) = 0;
  virtual void SetInputFocus(HWND hwnd) = 0;
  [[nodiscard]] virtual std::vector<Monitor> Monitors() = 0;
  [[nodiscard]] virtual Point CursorPos() = 0;
  // Finds a top-level window of any program with this exact title and brings it to the
  // front; false when there is none.
  virtual bool RaiseWindowByTitle(std::string_view title) = 0;
  // Finds a shown top-level window of another program whose process `owned` accepts and
  // asks for it in front, kept above the others and maximised; false when there is none or
  // the display has no such windows.
  virtual bool RaiseProcessWindow(const std::function<bool(std::uint32_t pid)>& owned) {
    (void)owned;
    return false;
  }
  // Sounds the display's bell; where there is none, nothing happens.
  virtual void Beep() {}
  // The window of any program that has the display's keyboard focus now, as the display
  // names it (0: none, or a display without such windows), and bringing such a window back
  // to the front with the focus (false when it cannot be asked for).
  [[nodiscard]] virtual std::uint64_t ForegroundWindow() { return 0; }
  virtual bool ActivateForegroundWindow(std::uint64_t window) {
    (void)window;
    return false;
  }
  // What the whole display shows now (the bounding box of the monitors, every program's
  // windows); empty when it cannot be read. Any thread may call it.
  [[nodiscard]] virtual Bitmap CaptureScreen() = 0;
  // Puts UTF-8 text on the desktop's clipboard; it stays there, answering other programs,
  // while the process lives or until another program takes the clipboard. False when the
  // clipboard cannot be taken.
  virtual bool SetClipboardText(std::string_view text) = 0;
  // The clipboard's text, whoever holds it; nullopt when there is none.
  [[nodiscard]] virtual std::optional<std::string> ClipboardText() = 0;
};

// The back end QUORVEL_DISPLAY asks for: "x11", "headless", or unset for X11 when a
// display opens and headless otherwise (saying so in one line on stderr).
std::unique_ptr<DisplayBackend> CreateDisplayBackendFromEnvironment();

}  // namespace qv
