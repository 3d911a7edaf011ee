// Helpers shared by the message-loop tests.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/msg/pump.h"
#include "platform/msg/window.h"

namespace qv::test {

// Long enough never to trip on a loaded machine; a test that needs it has hung.
inline std::chrono::steady_clock::time_point Generous() {
  return std::chrono::steady_clock::now() + std::chrono::seconds(30);
}

// Runs `body` on a thread of its own, so its queue (and any WM_QUIT, fake clock or
// terminated flag it leaves behind) ends with it.
inline void OnFreshThread(const std::function<void()>& body) {
  std::thread thread(body);
  thread.join();
}

class ScopedWindow {
 public:
  explicit ScopedWindow(WndProc procedure) : hwnd_(AllocateHWnd(std::move(procedure))) {}
  ~ScopedWindow() { DeallocateHWnd(hwnd_); }
  ScopedWindow(const ScopedWindow&) = delete;
  ScopedWindow& operator=(const ScopedWindow&) = delete;
  [[nodiscard]] HWND Handle() const { return hwnd_; }

 private:
  HWND hwnd_;
};

// Collects what reaches the application exception handler while it lives.
class CaughtExceptions {
 public:
  CaughtExceptions()
      : previous_(SetApplicationExceptionHandler([this](std::exception_ptr error) {
          try {
            std::rethrow_exception(error);
          } catch (const std::exception& e) {
            const std::lock_guard lock(mutex_);
            texts_.push_back(e.what());
          }
        })) {}
  ~CaughtExceptions() { SetApplicationExceptionHandler(previous_); }

  [[nodiscard]] std::vector<std::string> Texts() const {
    const std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
  ExceptionHandler previous_;
};

}  // namespace qv::test
