// The window system belongs to the thread that started it: other threads post to its
// windows, and get no access to its state.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

using ThreadTest = UiTest;

TEST_F(ThreadTest, OtherThreadsPostButDoNotReachIn) {
  const HWND top = Make(0, {0, 0, 40, 40}, 0xC0C0C0, WS_VISIBLE);
  Pump();
  std::atomic<bool> threw{false}, visible{true}, started{true};
  std::thread worker([&] {
    try {
      (void)GetFocus();
    } catch (const std::logic_error&) {
      threw = true;
    }
    visible = IsWindowVisible(top);
    started = StartWindowSystem(std::make_unique<HeadlessBackend>());
    PostMessage(top, WM_USER + 3, 0, 0);
  });
  worker.join();
  EXPECT_TRUE(threw);
  EXPECT_FALSE(visible);
  EXPECT_FALSE(started);
  Pump();
  EXPECT_EQ(MessagesOf(top, {WM_USER + 3}).size(), 1u);
}

}  // namespace
}  // namespace qv::test
