// The timers of one thread's queue. WM_TIMER is never queued: when the queue finds no
// posted message it asks this list for a timer that is due, which both gives timers the
// lowest priority and coalesces ticks a busy thread missed into one. Not locked itself;
// the owning queue's mutex guards it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/msg/clock.h"
#include "platform/msg/messages.h"

namespace qv {

class TimerList {
 public:
  // Starts or restarts the timer (hwnd, id); the first tick comes `interval` after `now`.
  void Set(HWND hwnd, std::uintptr_t id, Clock::Duration interval, Clock::TimePoint now);
  bool Kill(HWND hwnd, std::uintptr_t id);
  void PurgeWindow(HWND hwnd);
  void Clear() { timers_.clear(); }
  // Moves every due time from one clock's time line to another's.
  void Rebase(Clock::TimePoint oldNow, Clock::TimePoint newNow);

  [[nodiscard]] bool Empty() const { return timers_.empty(); }
  [[nodiscard]] std::optional<Clock::TimePoint> NextDue() const;
  // The WM_TIMER of the timer that has been due longest, if any. With `consume` the
  // timer's next tick is scheduled a full interval after `now`, however late this one was.
  [[nodiscard]] std::optional<MSG> TakeDue(Clock::TimePoint now, bool consume);

 private:
  struct Timer {
    HWND hwnd = 0;
    std::uintptr_t id = 0;
    Clock::Duration interval{};
    Clock::TimePoint due{};
  };
  std::vector<Timer> timers_;
};

}  // namespace qv
