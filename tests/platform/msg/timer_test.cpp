#include "platform/msg/timer.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "platform/msg/clock.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "tests/platform/msg/msg_test_util.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::OnFreshThread;

// Runs `body` on a fresh thread whose queue uses a fake clock, with a form-like owner.
void WithFakeClock(const std::function<void(FakeClock&, TComponent& owner)>& body) {
  OnFreshThread([&] {
    auto clock = std::make_shared<FakeClock>();
    MessageQueue::Current().SetClock(clock);
    TComponent owner(nullptr);
    body(*clock, owner);
  });
}

// A derived timer extends the tick, as a fade timer steps its animation.
class CountingTimer final : public TTimer {
 public:
  using TTimer::TTimer;
  int steps = 0;

 protected:
  void Timer() override {
    ++steps;
    TTimer::Timer();
  }
};

TEST(TimerTest, HandlerMayFreeItsTimer) {
  WithFakeClock([](FakeClock& clock, TComponent& owner) {
    auto* timer = Create<TTimer>(&owner);
    const HWND handle = timer->Handle();
    int ticks = 0;
    timer->OnTimer = [&](TComponent* sender) {
      ++ticks;
      Free(sender);
    };
    clock.Advance(1s);
    ProcessMessages();
    clock.Advance(1s);
    ProcessMessages();
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_FALSE(IsWindow(handle));
  });
}

}  // namespace
}  // namespace qv
