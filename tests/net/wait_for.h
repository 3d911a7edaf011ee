// Waiting in the socket tests: the components report through this thread's message queue.
#pragma once

#include <chrono>
#include <functional>

#include "platform/msg/pump.h"

namespace qv::test {

// Pumps this thread's messages until `done` holds; false after a generous 20 s.
inline bool WaitFor(const std::function<bool()>& done) {
  using namespace std::chrono_literals;
  return PumpUntil(done, std::chrono::steady_clock::now() + 20s) == PumpResult::Done;
}

}  // namespace qv::test
