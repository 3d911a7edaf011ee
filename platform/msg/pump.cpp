#include "platform/msg/pump.h"

#include <iostream>
#include <mutex>
#include <utility>

#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"

namespace qv {

namespace {

// Set when a loop takes WM_QUIT. It lasts while the quit is passed on to the loops outside
// (posted again); a loop that keeps it ends it, and the thread's later loops run as usual.
thread_local bool quitTaken = false;

struct HandlerSlot {
  std::mutex mutex;
  ExceptionHandler handler;  // guarded by `mutex`
};

HandlerSlot& Handler() {
  static auto* const slot = new HandlerSlot;
  return *slot;
}

// Takes the next message, noting WM_QUIT for Terminated.
bool Take(MSG& msg) {
  if (!MessageQueue::Current().Peek(msg, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT && msg.hwnd == 0) {
    quitTaken = true;
  } else if (quitTaken && !MessageQueue::Current().QuitPending()) {
    quitTaken = false;
  }
  return true;
}

}  // namespace

bool PeekMessage(MSG& msg, UINT remove) {
  if ((remove & PM_REMOVE) != 0) return Take(msg);
  return MessageQueue::Current().Peek(msg, remove);
}

bool GetMessage(MSG& msg) {
  auto& queue = MessageQueue::Current();
  while (!Take(msg)) queue.Wait(std::nullopt);
  return !(msg.message == WM_QUIT && msg.hwnd == 0);
}

IdleHandler SetIdleHandler(IdleHandler handler) {
  return MessageQueue::Current().SetIdleHandler(std::move(handler));
}

LRESULT DispatchMessage(const MSG& msg) {
  if (msg.hwnd == 0) return 0;
  LRESULT result = 0;
  try {
    CallWindowChain(msg.hwnd, msg.message, msg.wParam, msg.lParam, result);
  } catch (...) {
    HandleApplicationException(std::current_exception());
    return 0;
  }
  return result;
}

void ProcessMessages() {
  MSG msg;
  while (Take(msg)) {
    if (msg.message == WM_QUIT && msg.hwnd == 0) {
      PostQuitMessage(int(msg.wParam));
      return;
    }
    DispatchMessage(msg);
  }
}

PumpResult PumpUntil(const std::function<bool()>& done,
                     std::optional<std::chrono::steady_clock::time_point> deadline) {
  auto& queue = MessageQueue::Current();
  const auto expired = [&] { return deadline && std::chrono::steady_clock::now() >= *deadline; };
  for (;;) {
    if (done()) return PumpResult::Done;
    MSG msg;
    if (Take(msg)) {
      if (msg.message == WM_QUIT && msg.hwnd == 0) {
        PostQuitMessage(int(msg.wParam));
        return PumpResult::Quit;
      }
      DispatchMessage(msg);
      // A flood of messages must not keep the caller past its deadline.
      if (expired() && !done()) return PumpResult::TimedOut;
      continue;
    }
    // Taking nothing may still have run descriptor callbacks that changed the condition.
    if (done()) return PumpResult::Done;
    if (expired()) return PumpResult::TimedOut;
    queue.Wait(deadline);
  }
}

bool Terminated() {
  if (quitTaken && !MessageQueue::Current().QuitPending()) quitTaken = false;
  return quitTaken;
}

ExceptionHandler SetApplicationExceptionHandler(ExceptionHandler handler) {
  auto& slot = Handler();
  const std::lock_guard lock(slot.mutex);
  return std::exchange(slot.handler, std::move(handler));
}

void HandleApplicationException(std::exception_ptr error) {
  ExceptionHandler handler;
  {
    auto& slot = Handler();
    const std::lock_guard lock(slot.mutex);
    handler = slot.handler;
  }
  if (handler) {
    handler(error);
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::cerr << "Exception: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "Exception of unknown type\n";
  }
}

}  // namespace qv
