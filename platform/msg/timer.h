// The class library's timer component: a hidden window of the creating thread receives
// WM_TIMER every `Interval` milliseconds while `Enabled`, and each tick calls `Timer`,
// which fires `OnTimer`. Ticks follow the queue's rules (after posted messages, one at
// a time). Used and destroyed on the creating thread; `OnTimer` may destroy the timer.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/base/component.h"
#include "platform/msg/messages.h"

namespace qv {

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;

  [[nodiscard]] bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  [[nodiscard]] std::uint32_t Interval() const { return interval_; }
  // 0 stops the ticks while keeping `Enabled` as it is.
  void SetInterval(std::uint32_t value);
  [[nodiscard]] HWND Handle() const { return handle_; }

  std::function<void(TComponent* Sender)> OnTimer;

 protected:
  // One tick; derived timers extend it.
  virtual void Timer();

 private:
  // Restarts the count, or stops it when disabled or the interval is 0.
  void UpdateTimer();

  HWND handle_ = 0;
  bool enabled_ = true;
  std::uint32_t interval_ = 1000;
};

}  // namespace qv
