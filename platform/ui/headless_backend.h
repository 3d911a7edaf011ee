// The display back end without a display: top-level windows exist only as the window
// system's back buffers. Tests script input through it (it plays the part of the user) and
// move its fake clock, which it installs on the thread that starts it; the program running
// without a display (FromEnvironment) keeps real time.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/msg/clock.h"
#include "platform/ui/display_backend.h"

namespace qv {

class HeadlessBackend final : public DisplayBackend {
 public:
  // `monitors` empty: one 1024x768 screen. `clock` null: timers keep the real clock.
  explicit HeadlessBackend(std::vector<Monitor> monitors = {},
                           std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>());
  // For the program without a display: real time, monitors from QUORVEL_MONITORS
  // ("1920x1080+0+0,1280x1024+1920+0"), else the default.
  static std::unique_ptr<HeadlessBackend> FromEnvironment();
  // Gives the thread its real clock back when the fake one was installed.
  ~HeadlessBackend() override;

  [[nodiscard]] std::string_view Name() const override { return "headless"; }
  void Start(DisplayEvents* events) override;
  void CreateTopLevel(HWND hwnd, const Rect& screenBounds, std::string_view title,
                      bool popup) override;
  void DestroyTopLevel(HWND hwnd) override;
  void SetBounds(HWND hwnd, const Rect& screenBounds) override;
  void SetVisible(HWND hwnd, bool visible) override;
  void SetTitle(HWND hwnd, std::string_view title) override;
  void SetShape(HWND hwnd, const Region* shape) override;
  void Present(HWND hwnd, const Bitmap& backBuffer, const Region& dirty) override;
  void Raise(HWND hwnd) override;
  void Minimize(HWND hwnd) override;
  void GrabPointer(HWND hwnd, bool grab) override;
  void SetInputFocus(HWND hwnd) override;
  [[nodiscard]] std::vector<Monitor> Monitors() override { return monitors_; }
  [[nodiscard]] Point CursorPos() override { return pointer_; }
  bool RaiseWindowByTitle(std::string_view title) override;
  // The shown windows of every headless back end of the process (each thread's), over a
  // black desktop, in the back ends' order of starting and each one's z-order.
  [[nodiscard]] Bitmap CaptureScreen() override;
  // One in-process clipboard for the whole process.
  bool SetClipboardText(std::string_view text) override;
  [[nodiscard]] std::optional<std::string> ClipboardText() override;

  // Input injection, in screen coordinates. The events reach the windows once the
  // thread's queue is served (ProcessMessages).
  void InjectMouseMove(Point screen, unsigned modifiers = 0);
  void InjectButton(Point screen, MouseButton button, bool down, unsigned modifiers = 0);
  void InjectClick(Point screen, MouseButton button = MouseButton::Left);
  // `delta` in the platform's units: 120 a notch, positive away from the user.
  void InjectWheel(Point screen, int delta, unsigned modifiers = 0);
  // The pointer leaves every window of the program.
  void InjectMouseLeave();
  // `text` is what the key types (WM_CHAR), empty for keys that type nothing.
  void InjectKey(unsigned vk, bool down, std::string_view text = {}, unsigned modifiers = 0);
  void InjectClose(HWND top);
  // The user restores a minimised window (from a task bar).
  void InjectRestore(HWND top);

  // The fake clock of the thread that started the back end (timers and double clicks);
  // null when the back end keeps real time.
  [[nodiscard]] FakeClock* Clock() { return clock_.get(); }

  // What the "screen" shows of a top-level window: the presented pixels.
  [[nodiscard]] const Bitmap* Presented(HWND top) const;
  // The part presented last, and how many presents there were.
  [[nodiscard]] Region LastPresented(HWND top) const;
  [[nodiscard]] int PresentCount(HWND top) const;
  [[nodiscard]] bool IsShown(HWND top) const;
  [[nodiscard]] const Region* Shape(HWND top) const;
  [[nodiscard]] std::string Title(HWND top) const;
  [[nodiscard]] bool Grabbed() const { return grab_ != 0; }
  // The top-level window (front-most first) under a screen point; 0 for none.
  [[nodiscard]] HWND TopAt(Point screen) const;
  // Writes the presented pixels of a top-level window as a PNG; false on failure.
  bool SavePng(HWND top, const std::string& path) const;

 private:
  struct Window {
    Rect bounds;
    std::string title;
    bool shown = false;
    bool minimized = false;
    std::optional<Region> shape;
    Bitmap screen;
    Region lastPresented;
    int presents = 0;
  };
  [[nodiscard]] std::uint32_t Now() const;
  [[nodiscard]] HWND PointerOwner(Point screen) const;

  // Compose this back end's windows onto `desktop` (screen origin `origin`); takes mutex_.
  void ComposeOnto(Bitmap& desktop, Point origin) const;

  std::vector<Monitor> monitors_;
  DisplayEvents* events_ = nullptr;
  // Guards `windows_` and `stack_` against CaptureScreen on other threads: the owning
  // thread takes it to change them, other threads to read them.
  mutable std::mutex mutex_;
  std::shared_ptr<FakeClock> clock_;
  bool clockInstalled_ = false;
  std::map<HWND, Window> windows_;
  std::vector<HWND> stack_;  // front first
  HWND grab_ = 0;
  HWND focus_ = 0;
  HWND under_ = 0;  // top-level the pointer is over
  Point pointer_;
  unsigned buttons_ = 0;  // bit per MouseButton held
  HWND pressTop_ = 0;     // where the first held button went down
};

}  // namespace qv
