// Painting: order, composition into the top-level back buffer, clipping and presenting.
#include <gtest/gtest.h>

#include "platform/gfx/png_codec.h"
#include "tests/platform/base/temp_dir.h"
#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

constexpr COLORREF kGrey = 0xC0C0C0, kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000;

using PaintingTest = UiTest;
using qv::testing::ReadFile;
using qv::testing::TempDir;

TEST_F(PaintingTest, ParentsPaintBeforeChildrenAfterThePostedMessages) {
  const HWND top = Make(0, {10, 10, 210, 160}, kGrey);
  const HWND a = Make(top, {10, 10, 110, 60}, kRed, WS_VISIBLE);
  const HWND a1 = Make(a, {5, 5, 25, 25}, kBlue, WS_VISIBLE);
  const HWND b = Make(top, {50, 40, 150, 120}, kGreen, WS_VISIBLE);
  ShowWindow(top, SW_SHOW);
  constexpr UINT kMine = WM_USER + 7;
  PostMessage(b, kMine, 0, 0);
  log.clear();
  Pump();

  std::vector<std::pair<HWND, UINT>> order;
  for (const auto& e : Of({WM_NCPAINT, WM_ERASEBKGND, WM_PAINT, kMine})) {
    order.emplace_back(e.hwnd, e.message);
  }
  const std::vector<std::pair<HWND, UINT>> expected = {
      {b, kMine},                                                // posted first
      {top, WM_NCPAINT}, {top, WM_PAINT}, {top, WM_ERASEBKGND},  // then the tree,
      {a, WM_NCPAINT},   {a, WM_PAINT},   {a, WM_ERASEBKGND},    // parent first,
      {a1, WM_NCPAINT},  {a1, WM_PAINT},  {a1, WM_ERASEBKGND},   // back to front
      {b, WM_NCPAINT},   {b, WM_PAINT},   {b, WM_ERASEBKGND},
  };
  EXPECT_EQ(order, expected);

  // Composition: b lies above a, a1 inside a; the screen shows what the back buffer holds.
  EXPECT_EQ(At(top, 0, 0), kGrey);
  EXPECT_EQ(At(top, 12, 12), kRed);
  EXPECT_EQ(At(top, 17, 17), kBlue);
  EXPECT_EQ(At(top, 60, 50), kGreen);  // overlap of a and b
  EXPECT_EQ(At(top, 149, 119), kGreen);
  EXPECT_EQ(At(top, 150, 120), kGrey);
  EXPECT_EQ(*headless->Presented(top), SnapshotWindow(top));

  // Nothing pending: another pump paints nothing.
  log.clear();
  Pump();
  EXPECT_TRUE(Of({WM_NCPAINT, WM_PAINT}).empty());
}

TEST_F(PaintingTest, DcsAreClippedBySiblingsChildrenAndRegions) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND a = Make(top, {10, 10, 60, 60}, kRed, WS_VISIBLE);
  const HWND child = Make(a, {0, 0, 10, 10}, kBlue, WS_VISIBLE);
  const HWND b = Make(top, {40, 40, 90, 90}, kGreen, WS_VISIBLE);
  Pump();
  (void)child;
  // Drawing over all of a's client area touches only what shows of a.
  HDC dc = GetDC(a);
  ASSERT_NE(dc, nullptr);
  dc->FillRect({-100, -100, 200, 200}, Brush{BrushStyle::bsSolid, static_cast<TColor>(0x00FFFF)});
  ReleaseDC(a, dc);
  EXPECT_EQ(At(top, 20, 20), 0x00FFFFu);
  EXPECT_EQ(At(top, 12, 12), kBlue);   // its child
  EXPECT_EQ(At(top, 45, 45), kGreen);  // the sibling above
  EXPECT_EQ(At(top, 5, 5), kGrey);     // the parent
  EXPECT_EQ(At(top, 65, 20), kGrey);

  // A region on b: the cut-away part shows what lies beneath once it is repainted.
  ASSERT_TRUE(SetWindowRgn(b, CreateRectRgn(25, 25, 50, 50), true));
  Pump();
  EXPECT_EQ(At(top, 45, 45), kRed);  // a, repainted (its own colour again)
  EXPECT_EQ(At(top, 80, 80), kGreen);
  EXPECT_EQ(At(top, 62, 62), kGrey);  // inside b's rectangle, outside region and a
  EXPECT_EQ(WindowFromPoint({45, 45}), a);
  EXPECT_EQ(WindowFromPoint({80, 80}), b);

  // The window DC reaches the non-client area; the client DC does not.
  const HWND framed = Make(top, {0, 70, 30, 100}, kBlue, WS_VISIBLE | WS_BORDER);
  Pump();
  EXPECT_EQ(At(top, 0, 70), GetSysColor(COLOR_WINDOWFRAME));
  dc = GetDC(framed);
  dc->FillRect({-5, -5, 50, 50}, Brush{BrushStyle::bsSolid, static_cast<TColor>(kRed)});
  ReleaseDC(framed, dc);
  EXPECT_EQ(At(top, 0, 70), GetSysColor(COLOR_WINDOWFRAME));
  EXPECT_EQ(At(top, 1, 71), kRed);
  dc = GetWindowDC(framed);
  dc->FillRect({0, 0, 1, 1}, Brush{BrushStyle::bsSolid, static_cast<TColor>(kGreen)});
  ReleaseDC(framed, dc);
  EXPECT_EQ(At(top, 0, 70), kGreen);
}

TEST_F(PaintingTest, TopLevelRegionShapesTheBackEndWindow) {
  const HWND top = Make(0, {0, 0, 50, 40}, kGrey, WS_VISIBLE);
  const Region round = CreateRoundRectRgn(0, 0, 50, 40, 20, 20);
  SetWindowRgn(top, round, true);
  ASSERT_NE(headless->Shape(top), nullptr);
  EXPECT_EQ(*headless->Shape(top), round);
  Region back;
  EXPECT_EQ(GetWindowRgn(top, back), COMPLEXREGION);
  EXPECT_EQ(back, round);
  SetWindowRgn(top, std::nullopt, true);
  EXPECT_EQ(headless->Shape(top), nullptr);
  EXPECT_EQ(GetWindowRgn(top, back), NULLREGION);
}

TEST_F(PaintingTest, OnlyTheInvalidPartIsRepaintedAndPresented) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND a = Make(top, {10, 10, 60, 60}, kRed, WS_VISIBLE);
  Pump();
  const int presents = headless->PresentCount(top);
  log.clear();
  const Rect r{5, 5, 15, 10};
  InvalidateRect(a, &r, false);
  Rect update;
  EXPECT_TRUE(GetUpdateRect(a, &update, false));
  EXPECT_EQ(update, r);
  Pump();
  EXPECT_EQ(MessagesOf(a, {WM_PAINT, WM_ERASEBKGND, WM_NCPAINT}), std::vector<UINT>{WM_PAINT});
  EXPECT_TRUE(MessagesOf(top).empty());
  EXPECT_EQ(headless->PresentCount(top), presents + 1);
  EXPECT_EQ(headless->LastPresented(top), Region(Rect{15, 15, 25, 20}));
  EXPECT_FALSE(GetUpdateRect(a, &update, false));

  // Hiding a child repaints what was under it; showing it again repaints it.
  log.clear();
  ShowWindow(a, SW_HIDE);
  Pump();
  EXPECT_EQ(MessagesOf(top, {WM_PAINT}).size(), 1u);
  EXPECT_EQ(At(top, 30, 30), kGrey);
  ShowWindow(a, SW_SHOW);
  Pump();
  EXPECT_EQ(At(top, 30, 30), kRed);

  // Moving a child repaints both places.
  MoveWindow(a, 40, 40, 50, 50, true);
  Pump();
  EXPECT_EQ(At(top, 15, 15), kGrey);
  EXPECT_EQ(At(top, 85, 85), kRed);
  Rect wr;
  ASSERT_TRUE(GetWindowRect(a, wr));
  EXPECT_EQ(wr, Rect(40, 40, 90, 90));
}

TEST_F(PaintingTest, AHandlerThatDoesNotValidatePaintsOnce) {
  const HWND top = Make(0, {0, 0, 20, 20}, kGrey, WS_VISIBLE);
  int paints = 0;
  SubclassWindow(top, [&](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
    if (m == WM_PAINT) {
      ++paints;
      return LRESULT{0};  // no BeginPaint
    }
    return inherited(h, m, w, l);
  });
  Pump();
  Pump();
  EXPECT_EQ(paints, 1);
}

TEST_F(PaintingTest, NonClientAreaFromTheMetricsTable) {
  const HWND top = Make(0, {0, 0, 200, 150}, kGrey, WS_VISIBLE | WS_OVERLAPPEDWINDOW,
                        WS_EX_CLIENTEDGE, "Caption");
  Rect client;
  ASSERT_TRUE(GetClientRect(top, client));
  const int frame = GetSystemMetrics(SM_CXFRAME), caption = GetSystemMetrics(SM_CYCAPTION),
            edge = GetSystemMetrics(SM_CXEDGE);
  EXPECT_EQ(client.Width(), 200 - 2 * frame - 2 * edge);
  EXPECT_EQ(client.Height(), 150 - 2 * frame - caption - 2 * edge);
  Point origin{0, 0};
  ClientToScreen(top, origin);
  EXPECT_EQ(origin, (Point{frame + edge, frame + caption + edge}));
  Pump();
  // The caption of the active window in its colour, the client area in the window's.
  EXPECT_EQ(At(top, 130, frame + 2), GetSysColor(COLOR_ACTIVECAPTION));
  EXPECT_EQ(At(top, origin.X + 1, origin.Y + 1), kGrey);
  // A subclass may change the frame: the client area follows on SWP_FRAMECHANGED.
  SubclassWindow(top, [](HWND h, UINT m, WPARAM w, LPARAM l, const WndProc& inherited) {
    if (m == WM_NCCALCSIZE) return LRESULT{0};  // no frame at all
    return inherited(h, m, w, l);
  });
  SetWindowPos(top, 0, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  ASSERT_TRUE(GetClientRect(top, client));
  EXPECT_EQ(client, Rect(0, 0, 200, 150));
}

TEST_F(PaintingTest, ZOrderAndReparenting) {
  const HWND top = Make(0, {0, 0, 100, 100}, kGrey, WS_VISIBLE);
  const HWND below = Make(top, {10, 10, 60, 60}, kRed, WS_VISIBLE);
  const HWND above = Make(top, {40, 40, 90, 90}, kGreen, WS_VISIBLE);
  Pump();
  EXPECT_EQ(GetWindow(top, GW_CHILD), above);
  EXPECT_EQ(GetWindow(above, GW_HWNDNEXT), below);
  EXPECT_EQ(At(top, 50, 50), kGreen);
  BringWindowToTop(below);
  Pump();
  EXPECT_EQ(GetWindow(top, GW_CHILD), below);
  EXPECT_EQ(GetWindow(below, GW_HWNDPREV), HWND{0});
  EXPECT_EQ(At(top, 50, 50), kRed);
  SetWindowPos(below, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  Pump();
  EXPECT_EQ(At(top, 50, 50), kGreen);

  // Moving `above` into `below`: it now lies in below's client area, clipped by it.
  EXPECT_EQ(SetParent(above, below), top);
  EXPECT_EQ(GetParent(above), below);
  EXPECT_TRUE(IsChild(top, above));
  EXPECT_EQ(SetParent(below, above), HWND{0});  // no cycles
  Pump();
  EXPECT_EQ(At(top, 45, 45), kRed);    // its old place, below's own again
  EXPECT_EQ(At(top, 55, 55), kGreen);  // below's (40, 40) .. (50, 50)
  EXPECT_EQ(At(top, 65, 65), kGrey);   // outside below: cut away
}

TEST_F(PaintingTest, SnapshotAsPng) {
  const HWND top = Make(0, {0, 0, 30, 20}, kGrey, WS_VISIBLE);
  Make(top, {5, 5, 15, 15}, kBlue, WS_VISIBLE);
  Pump();
  const TempDir dir;
  const std::string path = dir / "snapshot.png";
  ASSERT_TRUE(headless->SavePng(top, path));
  const std::string bytes = ReadFile(path);
  EXPECT_EQ(LoadPng({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}),
            SnapshotWindow(top));
  EXPECT_FALSE(headless->SavePng(top, dir / "missing/x.png"));
}

}  // namespace
}  // namespace qv::test
