#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/msg/clock.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "tests/platform/msg/msg_test_util.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::Generous;
using test::OnFreshThread;
using test::ScopedWindow;

// Everything a window received, as (message, wParam) pairs.
struct Log {
  std::vector<std::pair<UINT, WPARAM>> entries;
  WndProc Procedure() {
    return [this](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
      entries.emplace_back(m, w);
      return 0;
    };
  }
};

std::shared_ptr<FakeClock> UseFakeClock() {
  auto clock = std::make_shared<FakeClock>();
  MessageQueue::Current().SetClock(clock);
  return clock;
}

TEST(SetTimerTest, TimerWaitsForPostedMessagesAndCoalescesMissedTicks) {
  OnFreshThread([] {
    const auto clock = UseFakeClock();
    Log log;
    ScopedWindow window(log.Procedure());
    ASSERT_NE(SetTimer(window.Handle(), 7, 100), 0u);
    ProcessMessages();
    EXPECT_TRUE(log.entries.empty()) << "not due yet";

    // Ten intervals pass while two posted messages wait: the posts come first, and the
    // missed ticks make one WM_TIMER.
    clock->Advance(1s);
    PostMessage(window.Handle(), WM_USER, 1, 0);
    PostMessage(window.Handle(), WM_USER, 2, 0);
    ProcessMessages();
    const std::vector<std::pair<UINT, WPARAM>> expected{{WM_USER, 1}, {WM_USER, 2}, {WM_TIMER, 7}};
    EXPECT_EQ(log.entries, expected);

    // The next tick is a full interval after the last delivery, not on the old grid.
    log.entries.clear();
    clock->Advance(99ms);
    ProcessMessages();
    EXPECT_TRUE(log.entries.empty());
    clock->Advance(1ms);
    ProcessMessages();
    EXPECT_EQ(log.entries, (std::vector<std::pair<UINT, WPARAM>>{{WM_TIMER, 7}}));
  });
}

// A blocked GetMessage wakes when another thread moves the clock, or sets the timer itself.
TEST(SetTimerTest, BlockedGetMessageWakesForATimerMovedOrSetElsewhere) {
  for (const bool setElsewhere : {false, true}) {
    SCOPED_TRACE(setElsewhere);
    OnFreshThread([setElsewhere] {
      const auto clock = UseFakeClock();
      ScopedWindow window(DefWindowProc);
      const HWND hwnd = window.Handle();
      if (!setElsewhere) SetTimer(hwnd, 9, 500);
      std::thread other([=] {
        if (setElsewhere) SetTimer(hwnd, 9, 500);
        clock->Advance(500ms);
      });
      MSG msg;
      ASSERT_TRUE(GetMessage(msg));
      other.join();
      EXPECT_EQ(msg.message, WM_TIMER);
      EXPECT_EQ(msg.wParam, 9u);
    });
  }
}

}  // namespace
}  // namespace qv
