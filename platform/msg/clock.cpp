#include "platform/msg/clock.h"

#include <algorithm>

#include "platform/msg/message_queue.h"

namespace qv {

std::shared_ptr<SteadyClock> SteadyClock::Instance() {
  static const auto clock = std::make_shared<SteadyClock>();
  return clock;
}

std::optional<Clock::Duration> SteadyClock::RealTimeUntil(TimePoint due) const {
  return std::max(Duration::zero(), due - Now());
}

// Starts well away from the epoch so that "now minus an interval" stays meaningful.
FakeClock::FakeClock() : now_(TimePoint{} + std::chrono::hours(1)) {}

Clock::TimePoint FakeClock::Now() const {
  const std::lock_guard lock(mutex_);
  return now_;
}

std::optional<Clock::Duration> FakeClock::RealTimeUntil(TimePoint due) const {
  if (due <= Now()) return Duration::zero();
  return std::nullopt;
}

void FakeClock::Attach(const std::weak_ptr<MessageQueue>& queue) {
  const std::lock_guard lock(mutex_);
  queues_.push_back(queue);
}

void FakeClock::Detach(const MessageQueue* queue) {
  const std::lock_guard lock(mutex_);
  std::erase_if(queues_, [queue](const std::weak_ptr<MessageQueue>& q) {
    const auto locked = q.lock();
    return !locked || locked.get() == queue;
  });
}

void FakeClock::Advance(Duration step) {
  std::vector<std::weak_ptr<MessageQueue>> queues;
  {
    const std::lock_guard lock(mutex_);
    now_ += step;
    queues = queues_;
  }
  // Outside our lock: waking takes the queue's lock, and a queue may ask us for the time.
  for (const auto& weak : queues) {
    if (const auto queue = weak.lock()) queue->Wake();
  }
}

}  // namespace qv
