// Input routing: hit testing, capture, mouse-leave tracking, focus and keys, the move/size
// loop, and what a destroyed window no longer gets.
#include <gtest/gtest.h>

#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

constexpr COLORREF kGrey = 0xC0C0C0, kRed = 0x0000FF, kGreen = 0x00FF00;

using InputTest = UiTest;

TEST_F(InputTest, NonClientHitCodes) {
  const HWND top =
      Make(0, {100, 100, 300, 250}, kGrey, WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0, "Hits");
  Pump();
  struct Case {
    Point p;  // window coordinates
    int hit;
  } cases[] = {
      {{100, 80}, HTCLIENT},  {{100, 10}, HTCAPTION},   {{10, 10}, HTSYSMENU},
      {{186, 10}, HTCLOSE},   {{168, 10}, HTMAXBUTTON}, {{152, 10}, HTMINBUTTON},
      {{1, 80}, HTLEFT},      {{198, 80}, HTRIGHT},     {{100, 1}, HTTOP},
      {{100, 148}, HTBOTTOM}, {{1, 1}, HTTOPLEFT},      {{198, 148}, HTBOTTOMRIGHT},
      {{10, 2}, HTTOPLEFT},   {{198, 2}, HTTOPRIGHT},   {{2, 140}, HTBOTTOMLEFT},
      {{250, 80}, HTNOWHERE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.p.X << "," << c.p.Y);
    const Point screen{c.p.X + 100, c.p.Y + 100};
    EXPECT_EQ(SendMessage(top, WM_NCHITTEST, 0, MAKELONG(screen.X, screen.Y)), c.hit);
  }
  // Presses on the frame become WM_NC* messages with the hit code.
  log.clear();
  headless->InjectButton({101, 180}, MouseButton::Right, true);
  headless->InjectButton({101, 180}, MouseButton::Right, false);
  Pump();
  const auto nc = Of({WM_NCRBUTTONDOWN, WM_NCRBUTTONUP, WM_RBUTTONDOWN});
  ASSERT_EQ(nc.size(), 2u);
  EXPECT_EQ(nc[0].message, WM_NCRBUTTONDOWN);
  EXPECT_EQ(nc[0].wParam, WPARAM{HTLEFT});
  EXPECT_EQ(LParamPoint(nc[0].lParam), (Point{101, 180}));
}

TEST_F(InputTest, ClicksReachTheFrontMostWindowUnlessItIsTransparentOrDisabled) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND below = Make(top, {10, 10, 60, 60}, kRed, WS_VISIBLE);
  const HWND above = Make(top, {30, 30, 80, 80}, kGreen, WS_VISIBLE);
  Pump();
  log.clear();
  headless->InjectClick({40, 40});
  Pump();
  auto downs = Of({WM_LBUTTONDOWN});
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].hwnd, above);
  EXPECT_EQ(LParamPoint(downs[0].lParam), (Point{10, 10}));
  EXPECT_EQ(downs[0].wParam, WPARAM{MK_LBUTTON});

  // A subclass answering HTTRANSPARENT lets the click through to what lies beneath.
  const auto id =
      SubclassWindow(above, [](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
        if (m == WM_NCHITTEST) return LRESULT{HTTRANSPARENT};
        return inherited(h, m, w, l);
      });
  log.clear();
  headless->InjectClick({40, 40});
  Pump();
  downs = Of({WM_LBUTTONDOWN});
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].hwnd, below);
  RemoveWindowSubclass(above, id);

  // A disabled child takes nothing; its parent gets the click.
  EnableWindow(above, false);
  log.clear();
  headless->InjectClick({70, 70});
  Pump();
  downs = Of({WM_LBUTTONDOWN});
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].hwnd, top);
  EXPECT_EQ(ChildWindowFromPointEx(top, {70, 70}, CWP_SKIPDISABLED), top);
  EXPECT_EQ(ChildWindowFromPointEx(top, {70, 70}, CWP_ALL), above);
}

TEST_F(InputTest, CaptureKeepsTheMouseUntilReleased) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND a = Make(top, {0, 0, 50, 50}, kRed, WS_VISIBLE);
  const HWND b = Make(top, {50, 0, 100, 50}, kGreen, WS_VISIBLE);
  SubclassWindow(a, [](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
    if (m == WM_LBUTTONDOWN) SetCapture(h);
    const LRESULT result = inherited(h, m, w, l);
    if (m == WM_LBUTTONUP) ReleaseCapture();
    return result;
  });
  Pump();
  log.clear();
  headless->InjectButton({10, 10}, MouseButton::Left, true);
  headless->InjectMouseMove({70, 20});    // over b
  headless->InjectMouseMove({200, 300});  // off the window
  headless->InjectButton({200, 300}, MouseButton::Left, false);
  headless->InjectMouseMove({60, 10});
  Pump();
  EXPECT_EQ(MessagesOf(a, {WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP, WM_CAPTURECHANGED}),
            (std::vector<UINT>{WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_MOUSEMOVE,
                               WM_LBUTTONUP, WM_CAPTURECHANGED}));
  const auto moves = Of({WM_MOUSEMOVE});
  // a's moves in its own coordinates, even far outside; then b gets the last one.
  ASSERT_EQ(moves.size(), 4u);
  EXPECT_EQ(LParamPoint(moves[1].lParam), (Point{70, 20}));
  EXPECT_EQ(LParamPoint(moves[2].lParam), (Point{200, 300}));
  EXPECT_EQ(moves[3].hwnd, b);
  EXPECT_EQ(LParamPoint(moves[3].lParam), (Point{10, 10}));
  // While it held the capture, a was asked for hit codes even for points far outside it.
  bool askedOutside = false;
  for (const auto& e : Of({WM_NCHITTEST})) {
    askedOutside = askedOutside || (e.hwnd == a && LParamPoint(e.lParam) == Point{200, 300});
  }
  EXPECT_TRUE(askedOutside);
  EXPECT_EQ(GetCapture(), HWND{0});
  EXPECT_FALSE(headless->Grabbed());

  // Taking the capture tells the old owner.
  SetCapture(a);
  EXPECT_TRUE(headless->Grabbed());
  log.clear();
  EXPECT_EQ(SetCapture(b), a);
  EXPECT_EQ(MessagesOf(a, {WM_CAPTURECHANGED}).size(), 1u);
  ReleaseCapture();
}

TEST_F(InputTest, MouseLeaveOncePerTrackingRequest) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND a = Make(top, {0, 0, 50, 50}, kRed, WS_VISIBLE);
  Make(top, {50, 0, 100, 50}, kGreen, WS_VISIBLE);
  SubclassWindow(a, [](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
    if (m == WM_MOUSEMOVE) {
      TRACKMOUSEEVENT tme{TME_LEAVE, h, 0};
      TrackMouseEvent(tme);
    }
    return inherited(h, m, w, l);
  });
  Pump();
  log.clear();
  headless->InjectMouseMove({10, 10});
  headless->InjectMouseMove({20, 20});
  headless->InjectMouseMove({70, 20});  // into the sibling
  headless->InjectMouseMove({80, 20});
  Pump();
  EXPECT_EQ(MessagesOf(a, {WM_MOUSEMOVE, WM_MOUSELEAVE}),
            (std::vector<UINT>{WM_MOUSEMOVE, WM_MOUSEMOVE, WM_MOUSELEAVE}));

  // Leaving the program's windows altogether counts too.
  log.clear();
  headless->InjectMouseMove({10, 10});
  headless->InjectMouseLeave();
  Pump();
  EXPECT_EQ(MessagesOf(a, {WM_MOUSEMOVE, WM_MOUSELEAVE}),
            (std::vector<UINT>{WM_MOUSEMOVE, WM_MOUSELEAVE}));

  // Asking while the pointer is elsewhere gives the leave at once.
  log.clear();
  TRACKMOUSEEVENT tme{TME_LEAVE, a, 0};
  TrackMouseEvent(tme);
  Pump();
  EXPECT_EQ(MessagesOf(a, {WM_MOUSELEAVE}).size(), 1u);
}

TEST_F(InputTest, FocusAndKeys) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND a = Make(top, {0, 0, 50, 50}, kRed, WS_VISIBLE);
  const HWND b = Make(top, {50, 0, 100, 50}, kGreen, WS_VISIBLE);
  Pump();
  EXPECT_EQ(GetActiveWindow(), top);
  EXPECT_EQ(GetFocus(), top);  // activation gave the top-level the focus
  log.clear();
  EXPECT_EQ(SetFocus(a), top);
  EXPECT_EQ(SetFocus(b), a);
  const auto focus = Of({WM_SETFOCUS, WM_KILLFOCUS});
  ASSERT_EQ(focus.size(), 4u);
  EXPECT_EQ(focus[0].hwnd, top);
  EXPECT_EQ(focus[0].message, WM_KILLFOCUS);
  EXPECT_EQ(focus[1].hwnd, a);
  EXPECT_EQ(focus[1].message, WM_SETFOCUS);
  EXPECT_EQ(focus[1].wParam, WPARAM{top});
  EXPECT_EQ(focus[2].hwnd, a);
  EXPECT_EQ(focus[2].message, WM_KILLFOCUS);
  EXPECT_EQ(focus[2].wParam, WPARAM{b});
  EXPECT_EQ(focus[3].hwnd, b);
  EXPECT_EQ(focus[3].message, WM_SETFOCUS);

  log.clear();
  headless->InjectKey('A', true, "a");
  headless->InjectKey('A', false);
  headless->InjectKey(VK_RETURN, true, "\r");
  headless->InjectKey(VK_LEFT, true);
  headless->InjectKey('E', true, "\xC3\xA9");  // é
  Pump();
  const auto keys = Of({WM_KEYDOWN, WM_KEYUP, WM_CHAR});
  std::vector<std::pair<UINT, WPARAM>> got;
  for (const auto& k : keys) {
    EXPECT_EQ(k.hwnd, b);
    got.emplace_back(k.message, k.wParam);
  }
  EXPECT_EQ(got, (std::vector<std::pair<UINT, WPARAM>>{{WM_KEYDOWN, 'A'},
                                                       {WM_CHAR, 'a'},
                                                       {WM_KEYUP, 'A'},
                                                       {WM_KEYDOWN, VK_RETURN},
                                                       {WM_CHAR, 13},
                                                       {WM_KEYDOWN, VK_LEFT},
                                                       {WM_KEYDOWN, 'E'},
                                                       {WM_CHAR, 0xE9}}));
  EXPECT_TRUE(keys[2].lParam & (LPARAM(1) << 31));  // key up: transition bit
  EXPECT_TRUE(keys[5].lParam & (LPARAM(1) << 24));  // extended key

  // Disabled and hidden windows refuse the focus; disabling the focus takes it away.
  EnableWindow(a, false);
  EXPECT_EQ(SetFocus(a), HWND{0});
  EXPECT_EQ(GetFocus(), b);
  log.clear();
  EnableWindow(b, false);
  EXPECT_EQ(GetFocus(), HWND{0});
  EXPECT_EQ(MessagesOf(b, {WM_KILLFOCUS}).size(), 1u);
}

TEST_F(InputTest, DoubleClicksNeedTheClassStyleAndTheFakeClock) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  Pump();
  log.clear();
  headless->InjectClick({10, 10});
  headless->InjectClick({11, 10});
  Pump();
  headless->Clock()->Advance(std::chrono::milliseconds(GetDoubleClickTime() + 1));
  headless->InjectClick({11, 10});
  Pump();
  EXPECT_EQ(MessagesOf(top, {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK}),
            (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONDOWN}));
}

TEST_F(InputTest, DraggingTheCaptionMovesTheWindowAndEscapeTakesItBack) {
  const HWND top =
      Make(0, {100, 100, 300, 250}, kGrey, WS_VISIBLE | WS_CAPTION | WS_THICKFRAME, 0, "Move");
  Pump();
  log.clear();
  headless->InjectButton({200, 110}, MouseButton::Left, true);
  headless->InjectMouseMove({230, 140});
  headless->InjectMouseMove({250, 150});
  headless->InjectButton({250, 150}, MouseButton::Left, false);
  Pump();
  Rect r;
  ASSERT_TRUE(GetWindowRect(top, r));
  EXPECT_EQ(r, Rect(150, 140, 350, 290));
  EXPECT_EQ(MessagesOf(top, {WM_ENTERSIZEMOVE, WM_MOVING, WM_EXITSIZEMOVE}),
            (std::vector<UINT>{WM_ENTERSIZEMOVE, WM_MOVING, WM_MOVING, WM_EXITSIZEMOVE}));
  EXPECT_EQ(GetCapture(), HWND{0});

  // Sizing from the bottom-right corner, kept above the minimum track size.
  headless->InjectButton({349, 289}, MouseButton::Left, true);
  headless->InjectMouseMove({369, 299});
  headless->InjectButton({369, 299}, MouseButton::Left, false);
  Pump();
  ASSERT_TRUE(GetWindowRect(top, r));
  EXPECT_EQ(r, Rect(150, 140, 370, 300));
  Rect client;
  ASSERT_TRUE(GetClientRect(top, client));
  EXPECT_EQ(client.Width(), 220 - 2 * GetSystemMetrics(SM_CXFRAME));
  headless->InjectButton({369, 299}, MouseButton::Left, true);
  headless->InjectMouseMove({100, 100});
  headless->InjectButton({100, 100}, MouseButton::Left, false);
  Pump();
  ASSERT_TRUE(GetWindowRect(top, r));
  EXPECT_EQ(r.Width(), GetSystemMetrics(SM_CXMINTRACK));
  EXPECT_EQ(r.Height(), GetSystemMetrics(SM_CYMINTRACK));

  ASSERT_TRUE(MoveWindow(top, 150, 140, 220, 160, true));
  headless->InjectButton({200, 150}, MouseButton::Left, true);
  headless->InjectMouseMove({400, 400});
  headless->InjectKey(VK_ESCAPE, true);
  headless->InjectButton({400, 400}, MouseButton::Left, false);
  Pump();
  ASSERT_TRUE(GetWindowRect(top, r));
  EXPECT_EQ(r, Rect(150, 140, 370, 300));
}

TEST_F(InputTest, ADestroyedWindowReceivesNothing) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND a = Make(top, {0, 0, 50, 50}, kRed, WS_VISIBLE);
  const HWND inner = Make(a, {5, 5, 20, 20}, kGreen, WS_VISIBLE);
  Pump();
  SetFocus(inner);
  SetCapture(a);
  InvalidateRect(a, nullptr, true);
  PostMessage(a, WM_USER, 0, 0);
  TRACKMOUSEEVENT tme{TME_LEAVE, a, 0};
  headless->InjectMouseMove({10, 10});
  Pump();
  TrackMouseEvent(tme);
  headless->InjectButton({10, 10}, MouseButton::Left, true);
  log.clear();
  ASSERT_TRUE(DestroyWindow(a));
  // Destruction order: WM_DESTROY parent first, WM_NCDESTROY child first.
  std::vector<std::pair<HWND, UINT>> order;
  for (const auto& e : Of({WM_DESTROY, WM_NCDESTROY})) order.emplace_back(e.hwnd, e.message);
  EXPECT_EQ(order,
            (std::vector<std::pair<HWND, UINT>>{
                {a, WM_DESTROY}, {inner, WM_DESTROY}, {inner, WM_NCDESTROY}, {a, WM_NCDESTROY}}));
  EXPECT_FALSE(IsWindow(a));
  EXPECT_FALSE(IsWindow(inner));
  EXPECT_EQ(GetCapture(), HWND{0});
  EXPECT_EQ(GetFocus(), HWND{0});
  EXPECT_FALSE(DestroyWindow(a));
  log.clear();
  headless->InjectButton({10, 10}, MouseButton::Left, false);
  headless->InjectClick({10, 10});
  headless->InjectMouseMove({60, 60});
  PostMessage(a, WM_USER + 1, 0, 0);
  EXPECT_EQ(SendMessage(a, WM_USER + 2, 0, 0), 0);
  Pump();
  for (const auto& e : log) {
    EXPECT_NE(e.hwnd, a) << std::hex << e.message;
    EXPECT_NE(e.hwnd, inner) << std::hex << e.message;
  }
  // What it covered belongs to the parent now, painted and clicked.
  EXPECT_EQ(At(top, 10, 10), kGrey);
  EXPECT_EQ(MessagesOf(top, {WM_LBUTTONDOWN}).size(), 1u);
  EXPECT_EQ(GetWindow(top, GW_CHILD), HWND{0});
}

TEST_F(InputTest, SubclassesAddedAndRemovedInAnyOrder) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE, 0, "base");
  std::string trace;
  auto layer = [&trace](char name) {
    return [&trace, name](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
      if (m == WM_USER) trace.push_back(name);
      if (m == WM_NCHITTEST && name == 'c') return LRESULT{HTCAPTION};
      return inherited(h, m, w, l);
    };
  };
  const auto a = SubclassWindow(top, layer('a'));
  const auto b = SubclassWindow(top, layer('b'));
  const auto c = SubclassWindow(top, layer('c'));
  struct Step {
    SubclassId remove;
    std::string expected;
  } steps[] = {{0, "cba"}, {b, "ca"}, {a, "c"}, {c, ""}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.expected);
    if (step.remove) {
      EXPECT_TRUE(RemoveWindowSubclass(top, step.remove));
    }
    trace.clear();
    SendMessage(top, WM_USER, 0, 0);
    EXPECT_EQ(trace, step.expected);
    // The base below the chain still answers.
    EXPECT_EQ(GetWindowText(top), "base");
  }
  // While 'c' was there its hit code routed presses to the non-client messages.
  const auto d = SubclassWindow(top, layer('c'));
  log.clear();
  headless->InjectButton({50, 50}, MouseButton::Right, true);
  Pump();
  EXPECT_EQ(MessagesOf(top, {WM_NCRBUTTONDOWN, WM_RBUTTONDOWN}),
            std::vector<UINT>{WM_NCRBUTTONDOWN});
  RemoveWindowSubclass(top, d);
  log.clear();
  headless->InjectButton({50, 50}, MouseButton::Right, false);
  headless->InjectButton({50, 50}, MouseButton::Right, true);
  Pump();
  EXPECT_EQ(MessagesOf(top, {WM_NCRBUTTONDOWN, WM_RBUTTONDOWN, WM_RBUTTONUP}),
            (std::vector<UINT>{WM_RBUTTONUP, WM_RBUTTONDOWN}));
}

TEST_F(InputTest, TheInputHookSeesAndMayTakeInput) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  Pump();
  std::vector<UINT> seen;
  SetInputHook([&](MSG& msg) {
    seen.push_back(msg.message);
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) return true;
    if (msg.message == WM_CHAR && msg.wParam == 'q') msg.wParam = 'X';
    return false;
  });
  log.clear();
  headless->InjectKey(VK_ESCAPE, true, "\x1b");
  headless->InjectKey('Q', true, "q");
  headless->InjectClick({5, 5});
  Pump();
  EXPECT_EQ(seen, (std::vector<UINT>{WM_KEYDOWN, WM_CHAR, WM_KEYDOWN, WM_CHAR, WM_MOUSEMOVE,
                                     WM_LBUTTONDOWN, WM_LBUTTONUP}));
  const auto keys = Of({WM_KEYDOWN, WM_CHAR});
  ASSERT_EQ(keys.size(), 3u);  // the Escape key-down was taken
  EXPECT_EQ(keys[0].wParam, WPARAM{27});
  EXPECT_EQ(keys[2].wParam, WPARAM{'X'});
  EXPECT_EQ(MessagesOf(top, {WM_LBUTTONDOWN}).size(), 1u);
  SetInputHook({});
}

TEST_F(InputTest, MaximiseAndRestoreFollowMinMaxInfo) {
  const HWND top = Make(0, {100, 100, 300, 250}, kGrey,
                        WS_VISIBLE | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MAXIMIZEBOX);
  Pump();
  Rect work;
  ASSERT_TRUE(SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0));
  const int frame = GetSystemMetrics(SM_CXFRAME);
  ShowWindow(top, SW_MAXIMIZE);
  Rect r;
  ASSERT_TRUE(GetWindowRect(top, r));
  EXPECT_EQ(r, work.Inflate(frame, frame));
  EXPECT_TRUE(IsZoomed(top));
  // The maximise button of the caption restores it again (press and release on it).
  const int closeLeft = r.Right - frame - 2 - 16;
  const Point maxButton{closeLeft - 2 - 8, r.Top + frame + 6};
  EXPECT_EQ(SendMessage(top, WM_NCHITTEST, 0, MAKELONG(maxButton.X, maxButton.Y)), HTMAXBUTTON);
  headless->InjectClick(maxButton);
  Pump();
  EXPECT_FALSE(IsZoomed(top));
  ASSERT_TRUE(GetWindowRect(top, r));
  EXPECT_EQ(r, Rect(100, 100, 300, 250));

  // A caption button acts only when the press began on it.
  ASSERT_TRUE(GetWindowRect(top, r));
  const Point minButton{r.Right - frame - 2 - 16 - 2 - 16 - 8, r.Top + frame + 6};
  const Point closeButton{r.Right - frame - 2 - 8, r.Top + frame + 6};
  EXPECT_EQ(SendMessage(top, WM_NCHITTEST, 0, MAKELONG(minButton.X, minButton.Y)), HTMINBUTTON);
  EXPECT_EQ(SendMessage(top, WM_NCHITTEST, 0, MAKELONG(closeButton.X, closeButton.Y)), HTCLOSE);
  headless->InjectButton(minButton, MouseButton::Left, true);
  headless->InjectButton(closeButton, MouseButton::Left, false);
  Pump();
  EXPECT_TRUE(IsWindow(top));
  EXPECT_FALSE(IsIconic(top));

  // A handler may bound the maximised size.
  SubclassWindow(top, [](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
    if (m == WM_GETMINMAXINFO) reinterpret_cast<MINMAXINFO*>(l)->ptMaxTrackSize = {400, 300};
    return inherited(h, m, w, l);
  });
  ShowWindow(top, SW_MAXIMIZE);
  ASSERT_TRUE(GetWindowRect(top, r));
  EXPECT_EQ(r.Width(), 400);
  EXPECT_EQ(r.Height(), 300);
}

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

TEST_F(InputTest, TheWheelGoesToTheFocusAndUpToItsParents) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND list = Make(top, {0, 0, 50, 50}, kRed, WS_VISIBLE);
  Pump();
  SetFocus(list);
  log.clear();
  headless->InjectWheel({80, 80}, -240, kModShift);
  Pump();
  const auto wheels = Of({WM_MOUSEWHEEL});
  ASSERT_EQ(wheels.size(), 2u);  // the list does not take it: its parent gets it too
  EXPECT_EQ(wheels[0].hwnd, list);
  EXPECT_EQ(wheels[1].hwnd, top);
  EXPECT_EQ(static_cast<std::int16_t>(HIWORD(wheels[0].wParam)), -240);
  EXPECT_EQ(LOWORD(wheels[0].wParam), MK_SHIFT);
  EXPECT_EQ(LParamPoint(wheels[0].lParam), (Point{80, 80}));
}

TEST_F(InputTest, SetRedrawHoldsPaintingBack) {
  const HWND top = Make(0, {0, 0, 50, 50}, kGrey, WS_VISIBLE);
  Pump();
  SendMessage(top, WM_SETREDRAW, 0, 0);
  InvalidateRect(top, nullptr, false);
  log.clear();
  Pump();
  EXPECT_TRUE(MessagesOf(top, {WM_PAINT}).empty());
  SendMessage(top, WM_SETREDRAW, 1, 0);
  Pump();
  EXPECT_EQ(MessagesOf(top, {WM_PAINT}).size(), 1u);
}

TEST_F(InputTest, ActivationMovesOnAndMinimisedWindowsComeBack) {
  const HWND main = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND dialog = Make(0, {20, 20, 80, 80}, kRed, WS_VISIBLE);
  Pump();
  EXPECT_EQ(GetActiveWindow(), dialog);
  EXPECT_EQ(GetFocus(), dialog);
  log.clear();
  DestroyWindow(dialog);
  EXPECT_EQ(GetActiveWindow(), main);
  EXPECT_EQ(GetFocus(), main);
  EXPECT_EQ(MessagesOf(main, {WM_ACTIVATE, WM_SETFOCUS}),
            (std::vector<UINT>{WM_ACTIVATE, WM_SETFOCUS}));

  ShowWindow(main, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(main));
  EXPECT_FALSE(headless->IsShown(main));
  EXPECT_EQ(GetActiveWindow(), HWND{0});
  SetWindowLong(main, GWL_USERDATA, kGreen);
  InvalidateRect(main, nullptr, true);
  Pump();
  log.clear();
  headless->InjectRestore(main);
  Pump();
  EXPECT_FALSE(IsIconic(main));
  EXPECT_TRUE(headless->IsShown(main));
  EXPECT_EQ(headless->Presented(main)->Pixel(50, 50), kGreen);
  EXPECT_EQ(MessagesOf(main, {WM_SIZE}).size(), 1u);
}

}  // namespace
}  // namespace qv::test
