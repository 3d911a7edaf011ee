// Painting's place in the queue (after posted messages, before timers) and the message
// layer's DefWindowProc reaching the window system's defaults.
#include <gtest/gtest.h>

#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

constexpr COLORREF kGrey = 0xC0C0C0;
constexpr UINT kMine = WM_USER + 9;

class IdlePaintTest : public UiTest {
 protected:
  // Takes and dispatches `count` messages one at a time, as an application loop would.
  void Step(int count) {
    for (int i = 0; i < count; ++i) {
      MSG msg;
      ASSERT_TRUE(PeekMessage(msg, PM_REMOVE)) << "step " << i;
      DispatchMessage(msg);
    }
  }

  std::vector<UINT> Sequence(std::initializer_list<UINT> only) const {
    std::vector<UINT> out;
    for (const auto& e : Of(only)) out.push_back(e.message);
    return out;
  }
};

TEST_F(IdlePaintTest, PaintComesAfterThePostedMessagesAndBeforeTimersAndQuit) {
  const HWND top = Make(0, {0, 0, 50, 50}, kGrey, WS_VISIBLE);
  Pump();
  SetTimer(top, 1, 10);
  headless->Clock()->Advance(1s);
  InvalidateRect(top, nullptr, true);
  PostMessage(top, kMine, 0, 0);
  PostMessage(top, kMine, 1, 0);
  log.clear();
  Pump();
  EXPECT_EQ(Sequence({kMine, WM_PAINT, WM_TIMER}),
            (std::vector<UINT>{kMine, kMine, WM_PAINT, WM_TIMER}));

  // Looking does not use painting up, and a pending quit waits for it.
  InvalidateRect(top, nullptr, false);
  PostQuitMessage(0);
  MSG msg;
  ASSERT_TRUE(PeekMessage(msg, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessage(msg, PM_NOREMOVE));
  log.clear();
  Pump();  // stops at WM_QUIT and leaves it pending
  EXPECT_EQ(Sequence({WM_PAINT}), (std::vector<UINT>{WM_PAINT}));
  ASSERT_TRUE(PeekMessage(msg, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  KillTimer(top, 1);
}

TEST_F(IdlePaintTest, ATimerThatAlwaysInvalidatesDoesNotStarvePainting) {
  const HWND top = Make(0, {0, 0, 50, 50}, kGrey, WS_VISIBLE);
  Pump();
  SubclassWindow(top, [&](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
    if (m == WM_TIMER) {
      InvalidateRect(h, nullptr, false);
      headless->Clock()->Advance(1s);  // due again at once
    }
    return inherited(h, m, w, l);
  });
  SetTimer(top, 1, 10);
  headless->Clock()->Advance(1s);
  log.clear();
  Step(8);
  EXPECT_EQ(Sequence({WM_TIMER, WM_PAINT}),
            (std::vector<UINT>{WM_TIMER, WM_PAINT, WM_TIMER, WM_PAINT, WM_TIMER, WM_PAINT, WM_TIMER,
                               WM_PAINT}));
  KillTimer(top, 1);
}

}  // namespace
}  // namespace qv::test
