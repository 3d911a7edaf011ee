// The display back end on an X server through Xlib: one undecorated X window per top-level
// window, the window region as its XShape, XPutImage of the changed part of the back
// buffer, key codes to virtual keys, monitors from XRandR. The X connection is one more
// descriptor the thread's message loop watches.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/display_backend.h"

namespace qv {

class X11Backend final : public DisplayBackend {
 public:
  // Connects to `displayName` (null: $DISPLAY); null when no display opens.
  static std::unique_ptr<X11Backend> Open(const char* displayName);
  ~X11Backend() override;

  [[nodiscard]] std::string_view Name() const override { return "x11"; }
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
  [[nodiscard]] std::vector<Monitor> Monitors() override;
  [[nodiscard]] Point CursorPos() override;
  bool RaiseWindowByTitle(std::string_view title) override;
  // By _NET_WM_PID; the window manager is asked with _NET_WM_STATE and _NET_ACTIVE_WINDOW.
  bool RaiseProcessWindow(const std::function<bool(std::uint32_t pid)>& owned) override;
  void Beep() override;
  // The focus window (else the window manager's active one); activating raises it, asks the
  // window manager for it and sets the focus on it.
  [[nodiscard]] std::uint64_t ForegroundWindow() override;
  bool ActivateForegroundWindow(std::uint64_t window) override;
  // XGetImage of the root window.
  [[nodiscard]] Bitmap CaptureScreen() override;
  // CLIPBOARD is owned and answered (TARGETS, UTF8_STRING, TEXT, STRING) by a connection and
  // thread of the process's own; reading asks the owner on a connection of its own.
  bool SetClipboardText(std::string_view text) override;
  [[nodiscard]] std::optional<std::string> ClipboardText() override;

  // The X window of a top-level window (0 for none), and whether the X server has mapped
  // it: for tests that look at the server's side.
  [[nodiscard]] unsigned long XWindow(HWND hwnd) const;
  [[nodiscard]] bool Mapped(HWND hwnd) const;
  // Sends everything buffered and waits until the server has handled it.
  void Sync();

 private:
  struct Impl;
  explicit X11Backend(std::unique_ptr<Impl> impl);
  void HandlePending();
  std::unique_ptr<Impl> impl_;
};

// Owns CLIPBOARD with `text` on a connection of the calling thread and answers other clients
// until one of them takes the clipboard or the display goes; `taken` is called once the text
// is owned. For a process that keeps a text on the clipboard after its program ended. False
// when the display does not open or the clipboard cannot be taken.
bool HoldClipboardText(const std::string& displayName, std::string_view text,
                       const std::function<void()>& taken);

}  // namespace qv
