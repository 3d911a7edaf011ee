#include "platform/msg/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "tests/platform/msg/msg_test_util.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::Generous;
using test::OnFreshThread;
using test::ScopedWindow;

constexpr int kSenders = 8;
constexpr int kPerSender = 4000;

// A thread that owns one window and pumps until told to quit.
class WindowThread {
 public:
  explicit WindowThread(WndProc procedure) {
    std::latch ready(1);
    thread_ = std::thread([&, procedure = std::move(procedure)] {
      hwnd_ = AllocateHWnd(procedure);
      id_ = std::this_thread::get_id();
      ready.count_down();
      MSG msg;
      while (GetMessage(msg)) DispatchMessage(msg);
    });
    ready.wait();
  }
  ~WindowThread() { Stop(); }
  void Stop() {
    if (!thread_.joinable()) return;
    PostThreadMessage(id_, WM_QUIT, 0, 0);  // never dispatched: GetMessage ends the loop
    thread_.join();
  }
  [[nodiscard]] HWND Handle() const { return hwnd_; }
  [[nodiscard]] std::thread::id Id() const { return id_; }

 private:
  std::thread thread_;
  HWND hwnd_ = 0;
  std::thread::id id_;
};

TEST(MessageQueueTest, PostsFromManyThreadsArriveAllInSenderOrder) {
  std::vector<int> next(kSenders, 0);
  int received = 0;
  bool inOrder = true;
  ScopedWindow window([&](HWND, UINT m, WPARAM sender, LPARAM seq) -> LRESULT {
    if (m != WM_USER) return 0;
    inOrder = inOrder && seq == next[sender];
    next[sender] = int(seq) + 1;
    ++received;
    return 0;
  });
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s) {
    senders.emplace_back([&, s] {
      for (int i = 0; i < kPerSender; ++i) {
        ASSERT_TRUE(PostMessage(window.Handle(), WM_USER, WPARAM(s), i));
      }
    });
  }
  EXPECT_EQ(PumpUntil([&] { return received == kSenders * kPerSender; }, Generous()),
            PumpResult::Done);
  for (auto& sender : senders) sender.join();
  ProcessMessages();
  EXPECT_EQ(received, kSenders * kPerSender);
  EXPECT_TRUE(inOrder);
}

TEST(MessageQueueTest, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  constexpr int kRounds = 300;
  // Each side answers a message by first sending one back to the other side.
  std::atomic<HWND> left = 0;
  std::atomic<HWND> right = 0;
  const auto bounce = [](std::atomic<HWND>& other) {
    return [&other](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
      if (m == WM_USER) return LRESULT(w) + SendMessage(other.load(), WM_USER + 1, w, 0);
      if (m == WM_USER + 1) return LRESULT(w);
      return 0;
    };
  };
  WindowThread a(bounce(right));
  WindowThread b(bounce(left));
  left = a.Handle();
  right = b.Handle();
  std::atomic<int> wrong = 0;
  std::thread fromA([&] {
    for (int i = 0; i < kRounds; ++i) {
      LRESULT r = 0;
      // Ask `a`, which sends to `b` while `b` is being asked to send to `a`.
      if (!SendMessageTimeout(a.Handle(), WM_USER, WPARAM(i), 0, SMTO_NORMAL, 30s, &r) ||
          r != 2 * i) {
        ++wrong;
      }
    }
  });
  std::thread fromB([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (SendMessage(b.Handle(), WM_USER, WPARAM(i), 0) != 2 * i) ++wrong;
    }
  });
  fromA.join();
  fromB.join();
  EXPECT_EQ(wrong.load(), 0);
}

// A blocked GetMessage wakes for a window post, a thread message and WM_QUIT from elsewhere.
TEST(MessageQueueTest, BlockedGetMessageWakesForPostsFromAnotherThread) {
  OnFreshThread([] {
    ScopedWindow window(DefWindowProc);
    const HWND hwnd = window.Handle();
    const auto self = std::this_thread::get_id();
    std::latch first(1);
    std::thread poster([&] {
      PostMessage(hwnd, WM_USER + 3, 11, 22);
      first.wait();
      PostThreadMessage(self, WM_APP, 1, 0);
      PostThreadMessage(self, WM_QUIT, 3, 0);
    });
    MSG msg;
    ASSERT_TRUE(GetMessage(msg));
    EXPECT_EQ(msg.hwnd, hwnd);
    EXPECT_EQ(msg.message, WM_USER + 3);
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(msg.lParam, 22);
    first.count_down();
    ASSERT_TRUE(GetMessage(msg));
    EXPECT_EQ(msg.hwnd, 0u);
    EXPECT_EQ(msg.message, WM_APP);
    EXPECT_FALSE(GetMessage(msg));
    EXPECT_EQ(msg.wParam, 3u);
    poster.join();
  });
}

}  // namespace
}  // namespace qv
