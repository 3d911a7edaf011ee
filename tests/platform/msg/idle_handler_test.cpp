// The idle handler: where its messages come among the others, and that waiting with one
// installed still sleeps.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <utility>
#include <vector>

#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "tests/platform/msg/msg_test_util.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::OnFreshThread;
using test::ScopedWindow;

constexpr UINT kIdle = WM_USER + 1, kPosted = WM_USER + 2, kSent = WM_USER + 3;

TEST(IdleHandlerTest, ComesAfterSentAndPostedMessagesAndBeforeQuitAndTimers) {
  OnFreshThread([] {
    auto clock = std::make_shared<FakeClock>();
    MessageQueue::Current().SetClock(clock);
    std::vector<UINT> order;
    HWND hwnd = 0;
    ScopedWindow window([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      order.push_back(m);
      return 0;
    });
    hwnd = window.Handle();
    int pending = 2;  // the handler offers this many messages
    SetIdleHandler([&](MSG& msg, bool remove) {
      if (pending == 0) return false;
      if (remove) --pending;
      msg = MSG{hwnd, kIdle, 0, 0};
      return true;
    });
    SetTimer(hwnd, 1, 10);
    clock->Advance(1s);
    PostMessage(hwnd, kPosted, 0, 0);
    PostQuitMessage(3);
    std::thread sender([hwnd] { SendMessage(hwnd, kSent, 0, 0); });

    // Looking does not use the offer up; a sent message is served while looking.
    MSG msg;
    while (order.empty()) {
      ASSERT_TRUE(PeekMessage(msg, PM_NOREMOVE));
      if (order.empty()) {
        MessageQueue::Current().Wait(test::Generous(), MessageQueue::WaitFor::SentMessages);
      }
    }
    sender.join();
    ASSERT_TRUE(PeekMessage(msg, PM_NOREMOVE));
    EXPECT_EQ(msg.message, kPosted);

    std::vector<UINT> taken;
    while (PeekMessage(msg, PM_REMOVE)) {
      taken.push_back(msg.message);
      if (msg.message != WM_QUIT) DispatchMessage(msg);
    }
    EXPECT_EQ(order, (std::vector<UINT>{kSent, kPosted, kIdle, kIdle, WM_TIMER}));
    EXPECT_EQ(taken, (std::vector<UINT>{kPosted, kIdle, kIdle, WM_QUIT, WM_TIMER}));
    SetIdleHandler(nullptr);
  });
}

}  // namespace
}  // namespace qv
