// The window registry: every window handle of the process, the thread that owns it and
// its chain of window procedures. Hidden windows (AllocateHWnd) are bare records; the
// window system builds visible windows on the same records and keeps its own state in
// the window's extra data. Any thread may look a handle up; a window is used and
// destroyed by its owning thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <thread>

#include "platform/msg/messages.h"

namespace qv {

class MessageQueue;

using WndProc = std::function<LRESULT(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)>;
// A procedure installed over a window's procedure. It sees each message first and hands
// what it does not handle itself to `inherited`, the procedure it was installed over.
using SubclassProc = std::function<LRESULT(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                           const WndProc& inherited)>;
using SubclassId = std::uint64_t;

// Per-window state of whoever builds on the record; destroyed with the window.
class WindowExtra {
 public:
  virtual ~WindowExtra() = default;
};

// A hidden window owned by the calling thread, receiving posted and sent messages and
// timers through `procedure`.
HWND AllocateHWnd(WndProc procedure);
// Destroys the window: its queued messages and timers go, waiting senders are released
// with no answer, and later posts to the handle fail. Unknown handles are ignored.
void DeallocateHWnd(HWND hwnd);
[[nodiscard]] bool IsWindow(HWND hwnd);
// The thread that owns the window; a default id when the window does not exist.
[[nodiscard]] std::thread::id GetWindowThreadId(HWND hwnd);

// The end of every chain for messages nobody handled: the window's default procedure
// when it has one (the window system's windows do), else 0.
LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The default processing of whoever builds visible windows on the record. It must not
// call DefWindowProc itself: it is what DefWindowProc calls.
using DefaultWindowProc = LRESULT (*)(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Makes DefWindowProc hand the window's messages to `procedure` (null: answer 0); false
// when the window does not exist.
bool SetDefaultWindowProc(HWND hwnd, DefaultWindowProc procedure);

// Installs `procedure` on top of the window's chain; 0 when the window does not exist.
// Subclasses can be removed in any order: each keeps calling whatever is below it now.
SubclassId SubclassWindow(HWND hwnd, SubclassProc procedure);
bool RemoveWindowSubclass(HWND hwnd, SubclassId id);
// Whether `id` is the top of the window's chain, so that removing it gives the window back
// the procedure it had before; false once another subclass went on top of it, after it was
// removed, and for a window that does not exist.
[[nodiscard]] bool IsSubclassOnTop(HWND hwnd, SubclassId id);

// Runs the message through the window's chain on the calling thread, exceptions
// included; false (and no call) when the window does not exist.
bool CallWindowChain(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

// Extra data of the window (owned by the record); false when the window does not exist.
bool SetWindowExtra(HWND hwnd, std::unique_ptr<WindowExtra> extra);
// The window's extra data, valid until the window is destroyed; owning thread only.
[[nodiscard]] WindowExtra* GetWindowExtra(HWND hwnd);

namespace window_registry {
// For the queues: holds the registry's shared lock while a message or timer is added to
// a window's queue, so that a window destroyed meanwhile finds it there and purges it.
class LiveWindow {
 public:
  explicit LiveWindow(HWND hwnd);
  // The owning thread's queue; null when the window does not exist.
  [[nodiscard]] MessageQueue* Queue() const { return queue_; }

 private:
  std::shared_lock<std::shared_mutex> lock_;
  MessageQueue* queue_ = nullptr;
};
// Destroys every window a queue owns; called when its thread ends.
void DestroyWindowsOf(const MessageQueue* queue);
}  // namespace window_registry

}  // namespace qv
