#include "platform/msg/timer_list.h"

#include <algorithm>

namespace qv {

void TimerList::Set(HWND hwnd, std::uintptr_t id, Clock::Duration interval, Clock::TimePoint now) {
  // The platform's shortest tick; a zero interval would make the timer due on every look.
  const auto tick = std::max(interval, Clock::Duration(std::chrono::milliseconds(10)));
  for (auto& timer : timers_) {
    if (timer.hwnd == hwnd && timer.id == id) {
      timer.interval = tick;
      timer.due = now + tick;
      return;
    }
  }
  timers_.push_back(Timer{hwnd, id, tick, now + tick});
}

bool TimerList::Kill(HWND hwnd, std::uintptr_t id) {
  return std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) > 0;
}

void TimerList::PurgeWindow(HWND hwnd) {
  std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd; });
}

void TimerList::Rebase(Clock::TimePoint oldNow, Clock::TimePoint newNow) {
  for (auto& timer : timers_) timer.due = newNow + (timer.due - oldNow);
}

std::optional<Clock::TimePoint> TimerList::NextDue() const {
  if (timers_.empty()) return std::nullopt;
  return std::min_element(timers_.begin(), timers_.end(),
                          [](const Timer& a, const Timer& b) { return a.due < b.due; })
      ->due;
}

std::optional<MSG> TimerList::TakeDue(Clock::TimePoint now, bool consume) {
  Timer* first = nullptr;
  for (auto& timer : timers_) {
    if (timer.due <= now && (first == nullptr || timer.due < first->due)) first = &timer;
  }
  if (first == nullptr) return std::nullopt;
  if (consume) first->due = now + first->interval;
  return MSG{first->hwnd, WM_TIMER, first->id, 0};
}

}  // namespace qv
