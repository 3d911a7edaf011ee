// The time source of the message timers. Real runs use `SteadyClock`; tests swap in a
// `FakeClock` on their thread's queue and move time forward by hand, so timer order and
// coalescing can be checked without waiting. Deadlines of waits stay in real time.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qv {

class MessageQueue;

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;

  virtual ~Clock() = default;
  [[nodiscard]] virtual TimePoint Now() const = 0;
  // How long a waiting thread has to sleep in real time until `due` comes; nullopt when
  // only an explicit step of the clock can bring it (the clock then wakes its queues).
  [[nodiscard]] virtual std::optional<Duration> RealTimeUntil(TimePoint due) const = 0;
  // Called by a queue that starts or stops using this clock.
  virtual void Attach(const std::weak_ptr<MessageQueue>& queue) {}
  virtual void Detach(const MessageQueue* queue) {}
};

class SteadyClock final : public Clock {
 public:
  static std::shared_ptr<SteadyClock> Instance();
  [[nodiscard]] TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  [[nodiscard]] std::optional<Duration> RealTimeUntil(TimePoint due) const override;
};

// A clock that only moves when told to. Thread-safe; `Advance` wakes every queue that
// uses it so a blocked GetMessage sees the timers that became due.
class FakeClock final : public Clock {
 public:
  FakeClock();
  [[nodiscard]] TimePoint Now() const override;
  [[nodiscard]] std::optional<Duration> RealTimeUntil(TimePoint due) const override;
  void Attach(const std::weak_ptr<MessageQueue>& queue) override;
  void Detach(const MessageQueue* queue) override;

  void Advance(Duration step);

 private:
  mutable std::mutex mutex_;
  TimePoint now_{};
  std::vector<std::weak_ptr<MessageQueue>> queues_;
};

}  // namespace qv
