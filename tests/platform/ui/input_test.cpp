// Input routing: hit testing, capture, mouse-leave tracking, focus and keys, the move/size
// loop, and what a destroyed window no longer gets.
#include <gtest/gtest.h>

#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

constexpr COLORREF kGrey = 0xC0C0C0, kRed = 0x0000FF, kGreen = 0x00FF00;

using InputTest = UiTest;

// The platform's scroll codes (the class library gives them names).
constexpr WPARAM SB_LINEUP = 0, SB_LINEDOWN = 1, SB_PAGEDOWN = 3, SB_THUMBPOSITION = 4,
                 SB_THUMBTRACK = 5, SB_ENDSCROLL = 8;

TEST_F(InputTest, WindowScrollBars) {
  // 100 x 100 with a vertical bar: arrows 16 high, track 68 pixels from y 16.
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE | WS_VSCROLL);
  SCROLLINFO info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMin = 0;
  info.nMax = 99;
  info.nPage = 25;
  info.nPos = 500;
  EXPECT_EQ(SetScrollInfo(top, SB_VERT, info, true), 75);  // 99 - (25 - 1)
  EXPECT_EQ(SetScrollPos(top, SB_VERT, -4, true), 75);
  EXPECT_EQ(GetScrollPos(top, SB_VERT), 0);
  SCROLLINFO got;
  got.fMask = SIF_ALL;
  ASSERT_TRUE(GetScrollInfo(top, SB_VERT, got));
  EXPECT_EQ(got.nMax, 99);
  EXPECT_EQ(got.nPage, 25u);
  EXPECT_FALSE(GetScrollInfo(top, 7, got));
  Pump();
  // The thumb: a quarter of the track at the top of it.
  const COLORREF face = GetSysColor(COLOR_BTNFACE), track = GetSysColor(COLOR_SCROLLBAR);
  EXPECT_EQ(At(top, 92, 16 + 8), face);
  EXPECT_EQ(At(top, 92, 16 + 17 + 4), track);

  struct Case {
    int y;
    WPARAM code;
  } cases[] = {{5, SB_LINEUP}, {95, SB_LINEDOWN}, {60, SB_PAGEDOWN}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.y);
    log.clear();
    headless->InjectClick({92, c.y});
    Pump();
    const auto scrolls = Of({WM_VSCROLL});
    ASSERT_EQ(scrolls.size(), 2u);
    EXPECT_EQ(LOWORD(scrolls[0].wParam), c.code);
    EXPECT_EQ(LOWORD(scrolls[1].wParam), SB_ENDSCROLL);
  }

  // Dragging the thumb half-way down the track: positions as it goes, then the last one.
  log.clear();
  headless->InjectButton({92, 20}, MouseButton::Left, true);
  headless->InjectMouseMove({92, 20 + 25});
  headless->InjectMouseMove({92, 20 + 51});  // the whole room: 68 - 17
  headless->InjectButton({92, 20 + 51}, MouseButton::Left, false);
  Pump();
  std::vector<std::pair<WPARAM, int>> got2;
  for (const auto& e : Of({WM_VSCROLL})) got2.emplace_back(LOWORD(e.wParam), HIWORD(e.wParam));
  EXPECT_EQ(
      got2,
      (std::vector<std::pair<WPARAM, int>>{
          {SB_THUMBTRACK, 37}, {SB_THUMBTRACK, 75}, {SB_THUMBPOSITION, 75}, {SB_ENDSCROLL, 0}}));
  EXPECT_EQ(GetCapture(), HWND{0});
}

TEST_F(InputTest, ModalLoopsRunAsUsualAfterAQuitWasTaken) {
  // A WM_QUIT that a loop took is gone: the move and scroll loops that follow run.
  PostQuitMessage(0);
  MSG msg;
  ASSERT_TRUE(PeekMessage(msg, PM_REMOVE));
  ASSERT_EQ(msg.message, WM_QUIT);
  const HWND bar = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE | WS_VSCROLL);
  SetScrollRange(bar, SB_VERT, 0, 99, false);
  SCROLLINFO info;
  info.fMask = SIF_PAGE;
  info.nPage = 25;
  SetScrollInfo(bar, SB_VERT, info, true);
  const HWND moved = Make(0, {200, 200, 400, 350}, kGrey, WS_VISIBLE | WS_CAPTION, 0, "Move");
  Pump();
  struct Case {
    const char* name;
    Point from, to;
    UINT message;  // what only the modal loop sends
  } cases[] = {{"thumb", {92, 20}, {92, 71}, WM_VSCROLL},
               {"caption", {300, 210}, {330, 240}, WM_MOVING}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    headless->InjectButton(c.from, MouseButton::Left, true);
    headless->InjectMouseMove(c.to);
    headless->InjectButton(c.to, MouseButton::Left, false);
    Pump();
    EXPECT_FALSE(Of({c.message}).empty());
  }
  Rect r;
  ASSERT_TRUE(GetWindowRect(moved, r));
  EXPECT_EQ(r, Rect(230, 230, 430, 380));
}

}  // namespace
}  // namespace qv::test
