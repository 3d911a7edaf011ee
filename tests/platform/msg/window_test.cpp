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

// Each subclass prefixes its letter, so the answer spells the order the chain ran in.
TEST(WindowTest, SubclassesRunTopFirstAndLeaveInAnyOrder) {
  std::string trace;
  ScopedWindow window([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    trace += "base";
    return 7;
  });
  const auto layer = [&trace](char name) {
    return [&trace, name](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
      trace += name;
      return inherited(h, m, w, l) + 1;
    };
  };
  const SubclassId a = SubclassWindow(window.Handle(), layer('a'));
  const SubclassId b = SubclassWindow(window.Handle(), layer('b'));
  const SubclassId c = SubclassWindow(window.Handle(), layer('c'));
  struct Step {
    SubclassId remove;
    const char* trace;
    LRESULT result;
  };
  const Step steps[] = {{0, "cbabase", 10}, {b, "cabase", 9}, {c, "abase", 8}, {a, "base", 7}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.trace);
    if (step.remove != 0) {
      EXPECT_TRUE(RemoveWindowSubclass(window.Handle(), step.remove));
    }
    trace.clear();
    EXPECT_EQ(SendMessage(window.Handle(), WM_USER, 0, 0), step.result);
    EXPECT_EQ(trace, step.trace);
  }
  EXPECT_FALSE(RemoveWindowSubclass(window.Handle(), a));

  // A subclass may answer without passing the message on.
  SubclassWindow(window.Handle(), [](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& next) {
    return m == WM_PAINT ? 99 : next(h, m, w, l);
  });
  trace.clear();
  EXPECT_EQ(SendMessage(window.Handle(), WM_PAINT, 0, 0), 99);
  EXPECT_EQ(trace, "");
  EXPECT_EQ(SendMessage(window.Handle(), WM_SIZE, 0, 0), 7);
  EXPECT_EQ(trace, "base");
}

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
