// Waiting in the socket tests: the components report through this thread's message queue.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"

namespace qv::test {

// Pumps this thread's messages until `done` holds; false after a generous 20 s.
inline bool WaitFor(const std::function<bool()>& done) {
  using namespace std::chrono_literals;
  return PumpUntil(done, std::chrono::steady_clock::now() + 20s) == PumpResult::Done;
}

// Serves this thread's queue until a message `message` is posted, and leaves that one
// queued (taken and posted again); false after a generous 20 s.
inline bool WaitUntilQueued(UINT message) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  for (;;) {
    MSG msg{};
    if (PeekMessage(msg, PM_REMOVE)) {
      if (msg.message == message) {
        PostMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        return true;
      }
      DispatchMessage(msg);
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
}

}  // namespace qv::test
