#include "platform/msg/window.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "tests/platform/msg/msg_test_util.h"

namespace qv {
namespace {

using test::OnFreshThread;
using test::ScopedWindow;

TEST(WindowTest, RemovingASubclassDuringItsOwnCallIsSafe) {
  ScopedWindow window(DefWindowProc);
  SubclassId id = 0;
  int calls = 0;
  id = SubclassWindow(window.Handle(),
                      [&](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& next) -> LRESULT {
                        ++calls;
                        RemoveWindowSubclass(h, id);
                        return next(h, m, w, l) + 5;  // the chain it started with still holds
                      });
  EXPECT_EQ(SendMessage(window.Handle(), WM_USER, 0, 0), 5);
  EXPECT_EQ(SendMessage(window.Handle(), WM_USER, 0, 0), 0);
  EXPECT_EQ(calls, 1);
}

TEST(WindowTest, WindowMayDestroyItselfWhileHandlingAMessage) {
  HWND hwnd = 0;
  std::vector<UINT> seen;
  hwnd = AllocateHWnd([&](HWND h, UINT m, WPARAM, LPARAM) -> LRESULT {
    seen.push_back(m);
    if (m == WM_CLOSE) DeallocateHWnd(h);
    return 0;
  });
  ASSERT_TRUE(PostMessage(hwnd, WM_CLOSE, 0, 0));
  ASSERT_TRUE(PostMessage(hwnd, WM_USER, 0, 0));  // purged by the destroy
  ProcessMessages();
  EXPECT_EQ(seen, std::vector<UINT>{WM_CLOSE});
  EXPECT_FALSE(IsWindow(hwnd));
}

}  // namespace
}  // namespace qv
