#include "platform/msg/timer.h"

#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"

namespace qv {

namespace {
constexpr std::uintptr_t kTimerId = 1;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  handle_ = AllocateHWnd([this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_TIMER) return DefWindowProc(hwnd, message, wParam, lParam);
    // Nothing of `this` is touched after the tick: a handler may free the timer.
    Timer();
    return LRESULT(0);
  });
  UpdateTimer();
}

TTimer::~TTimer() {
  // Takes a tick that is already due with it.
  DeallocateHWnd(handle_);
}

void TTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateTimer();
}

void TTimer::SetInterval(std::uint32_t value) {
  if (value == interval_) return;
  interval_ = value;
  UpdateTimer();
}

void TTimer::Timer() {
  if (OnTimer) OnTimer(this);
}

void TTimer::UpdateTimer() {
  KillTimer(handle_, kTimerId);
  if (enabled_ && interval_ != 0) SetTimer(handle_, kTimerId, interval_);
}

}  // namespace qv
