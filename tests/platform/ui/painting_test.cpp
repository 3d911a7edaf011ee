// Painting: order, composition into the top-level back buffer, clipping and presenting.
#include <gtest/gtest.h>

#include <functional>

#include "platform/gfx/png_codec.h"
#include "tests/platform/base/temp_dir.h"
#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

constexpr COLORREF kGrey = 0xC0C0C0, kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000;

using PaintingTest = UiTest;
using qv::testing::ReadFile;
using qv::testing::TempDir;

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

// Children that lay beyond a top-level's edges are painted once growing the window shows
// them, whether it is dragged larger or maximised; they do not wait for the pointer.
TEST_F(PaintingTest, GrowingATopLevelPaintsTheChildrenItReveals) {
  struct Case {
    const char* what;
    std::function<void(HWND)> grow;
  };
  const Case cases[] = {
      {"resized",
       [](HWND top) { SetWindowPos(top, 0, 0, 0, 220, 160, SWP_NOMOVE | SWP_NOZORDER); }},
      {"maximised", [](HWND top) { ShowWindow(top, SW_MAXIMIZE); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const HWND top = Make(0, {0, 0, 100, 80}, kGrey, WS_VISIBLE);
    Make(top, {60, 20, 180, 70}, kRed, WS_VISIBLE);       // beyond the right edge
    Make(top, {10, 90, 50, 140}, kBlue, WS_VISIBLE);      // below the bottom edge
    Make(top, {120, 100, 200, 150}, kGreen, WS_VISIBLE);  // beyond both
    Pump();
    EXPECT_EQ(At(top, 70, 30), kRed);
    c.grow(top);
    Pump();
    EXPECT_EQ(At(top, 150, 30), kRed);
    EXPECT_EQ(At(top, 20, 120), kBlue);
    EXPECT_EQ(At(top, 150, 120), kGreen);
    EXPECT_EQ(At(top, 100, 120), kGrey);
    DestroyWindow(top);
  }
}

}  // namespace
}  // namespace qv::test
