#include "platform/msg/pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"
#include "tests/platform/msg/msg_test_util.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::CaughtExceptions;
using test::Generous;
using test::OnFreshThread;
using test::ScopedWindow;

TEST(PumpTest, ConditionChangedByAnotherThreadIsSeenAfterAWakeUp) {
  OnFreshThread([] {
    std::atomic<bool> finished = false;
    MessageQueue::Current();
    const auto self = std::this_thread::get_id();
    std::thread worker([&] {
      finished = true;
      PostThreadMessage(self, WM_NULL, 0, 0);
    });
    EXPECT_EQ(PumpUntil([&] { return finished.load(); }, Generous()), PumpResult::Done);
    worker.join();
  });
}

TEST(PumpTest, QuitInANestedLoopReachesTheOuterLoop) {
  OnFreshThread([] {
    PumpResult nested = PumpResult::Done;
    bool nestedSawQuit = false;
    int after = 0;
    ScopedWindow window([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      if (m == WM_USER) {
        PostQuitMessage(4);
        nested = PumpUntil([] { return false; }, Generous());
        nestedSawQuit = Terminated();
      }
      if (m == WM_USER + 1) ++after;
      return 0;
    });
    PostMessage(window.Handle(), WM_USER, 0, 0);
    MSG msg;
    int dispatched = 0;
    while (GetMessage(msg)) {
      DispatchMessage(msg);
      ++dispatched;
    }
    EXPECT_EQ(nested, PumpResult::Quit);
    EXPECT_TRUE(nestedSawQuit);
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_EQ(dispatched, 1);
    // The outer loop kept the quit: it is gone, and a later loop runs to its condition.
    EXPECT_FALSE(Terminated());
    PostMessage(window.Handle(), WM_USER + 1, 0, 0);
    EXPECT_EQ(PumpUntil([&] { return after == 1; }, Generous()), PumpResult::Done);
  });
}

}  // namespace
}  // namespace qv
