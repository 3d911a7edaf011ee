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

TEST(IdleHandlerTest, PostedMessagesMadeByTheIdleMessageComeFirstAgain) {
  OnFreshThread([] {
    std::vector<UINT> order;
    HWND hwnd = 0;
    bool offered = false;
    int idleLeft = 3;
    ScopedWindow window([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      order.push_back(m);
      if (m == kIdle && --idleLeft > 0) {
        PostMessage(hwnd, kPosted, 0, 0);
        offered = true;
      }
      return 0;
    });
    hwnd = window.Handle();
    offered = true;
    SetIdleHandler([&](MSG& msg, bool remove) {
      if (!offered) return false;
      if (remove) offered = false;
      msg = MSG{hwnd, kIdle, 0, 0};
      return true;
    });
    ProcessMessages();
    EXPECT_EQ(order, (std::vector<UINT>{kIdle, kPosted, kIdle, kPosted, kIdle}));
    SetIdleHandler(nullptr);
  });
}

TEST(IdleHandlerTest, GetMessageSleepsWhileTheHandlerHasNothing) {
  OnFreshThread([] {
    int calls = 0;
    std::latch consulted(1);
    const auto self = std::this_thread::get_id();
    SetIdleHandler([&](MSG&, bool) {
      if (++calls == 1) consulted.count_down();
      return false;
    });
    std::thread poster([&] {
      consulted.wait();
      PostThreadMessage(self, kPosted, 0, 0);
    });
    MSG msg;
    ASSERT_TRUE(GetMessage(msg));
    poster.join();
    EXPECT_EQ(msg.message, kPosted);
    // Once before sleeping, perhaps once after a wake that found nothing: never a spin.
    EXPECT_LE(calls, 3);
    SetIdleHandler(nullptr);
  });
}

TEST(IdleHandlerTest, ReplacingHandsBackThePreviousAndAHandlerMayRemoveItself) {
  OnFreshThread([] {
    int first = 0;
    EXPECT_FALSE(SetIdleHandler([&](MSG&, bool) {
      ++first;
      return false;
    }));
    // The second hands on to the first and removes itself while it runs: the queue keeps
    // it alive until it returns.
    auto below = std::make_shared<IdleHandler>();
    *below = SetIdleHandler([below](MSG& msg, bool remove) {
      const auto keep = below;
      EXPECT_TRUE(SetIdleHandler(nullptr));
      return (*keep)(msg, remove);
    });
    ASSERT_TRUE(*below);
    MSG msg;
    EXPECT_FALSE(PeekMessage(msg, PM_REMOVE));
    EXPECT_EQ(first, 1);
    EXPECT_FALSE(PeekMessage(msg, PM_REMOVE));
    EXPECT_EQ(first, 1);  // nothing installed any more
  });
}

TEST(IdleHandlerTest, DefWindowProcHandsRegisteredWindowsToTheirDefaultProcedure) {
  OnFreshThread([] {
    ScopedWindow plain(DefWindowProc);
    ScopedWindow faced(DefWindowProc);
    ASSERT_TRUE(SetDefaultWindowProc(faced.Handle(), [](HWND, UINT m, WPARAM w, LPARAM) {
      return m == WM_USER ? LRESULT(w * 2) : LRESULT(0);
    }));
    EXPECT_EQ(SendMessage(plain.Handle(), WM_USER, 21, 0), 0);
    EXPECT_EQ(SendMessage(faced.Handle(), WM_USER, 21, 0), 42);
    // A subclass handing on reaches it as well; so does another thread's send.
    SubclassWindow(faced.Handle(), [](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& next) {
      return next(h, m, w + 1, l);
    });
    EXPECT_EQ(SendMessage(faced.Handle(), WM_USER, 20, 0), 42);
    std::atomic<LRESULT> fromThread{0};
    const auto self = std::this_thread::get_id();
    std::thread other([&] {
      LRESULT answer = 0;
      SendMessageTimeout(faced.Handle(), WM_USER, 4, 0, SMTO_NORMAL, 30s, &answer);
      fromThread = answer;
      PostThreadMessage(self, WM_NULL, 0, 0);  // wakes the pump to look again
    });
    PumpUntil([&] { return fromThread != 0; }, test::Generous());
    other.join();
    EXPECT_EQ(fromThread, 10);
    EXPECT_FALSE(SetDefaultWindowProc(HWND(1), nullptr));
  });
}

}  // namespace
}  // namespace qv
