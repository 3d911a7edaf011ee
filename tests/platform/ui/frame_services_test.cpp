// What a form's skin takes from the window system: whether its subclass still tops the
// window's procedure chain, icons drawn over a background, and where a window's own scroll
// bar and its thumb lie.
#include <gtest/gtest.h>

#include "platform/msg/window.h"
#include "platform/ui/icons.h"
#include "platform/ui/system_metrics.h"
#include "tests/platform/ui/ui_test_util.h"

namespace qv::test {
namespace {

using FrameServicesTest = UiTest;

TEST_F(FrameServicesTest, SubclassOnTopFollowsTheChain) {
  const HWND w = Make(0, {0, 0, 50, 50}, clRed);
  const auto pass = [](HWND h, UINT m, WPARAM wp, LPARAM lp, const WndProc& next) {
    return next(h, m, wp, lp);
  };
  const SubclassId a = SubclassWindow(w, pass);
  const SubclassId b = SubclassWindow(w, pass);
  EXPECT_TRUE(IsSubclassOnTop(w, b));
  EXPECT_FALSE(IsSubclassOnTop(w, a));  // someone subclassed after it
  ASSERT_TRUE(RemoveWindowSubclass(w, b));
  EXPECT_TRUE(IsSubclassOnTop(w, a));
  EXPECT_FALSE(IsSubclassOnTop(w, b));
  ASSERT_TRUE(RemoveWindowSubclass(w, a));
  EXPECT_FALSE(IsSubclassOnTop(w, a));
  EXPECT_FALSE(IsSubclassOnTop(w, 0));
  const SubclassId c = SubclassWindow(w, pass);
  DestroyWindow(w);
  EXPECT_FALSE(IsSubclassOnTop(w, c));
}

TEST_F(FrameServicesTest, DrawIconExCombinesMaskAndImage) {
  // Columns: image, background, background, background inverted by blue.
  ICONINFO info;
  info.hbmMask = Bitmap(4, 2);
  info.hbmColor = Bitmap(4, 2);
  for (int y = 0; y < 2; ++y) {
    info.hbmMask.SetPixel(0, y, RGB(0, 0, 0));
    info.hbmColor.SetPixel(0, y, RGB(255, 0, 0));
    for (int x = 1; x < 4; ++x) info.hbmMask.SetPixel(x, y, RGB(255, 255, 255));
    info.hbmColor.SetPixel(3, y, RGB(0, 0, 255));
  }
  const HICON icon = CreateIconIndirect(info);
  ASSERT_NE(icon, 0u);
  const COLORREF green = RGB(0, 255, 0), red = RGB(255, 0, 0), cyan = RGB(0, 255, 255);
  struct Row {
    int cx, cy;
    UINT flags;
    Point at;
    COLORREF expected;
  };
  const Row rows[] = {
      {0, 0, DI_NORMAL, {0, 1}, red},        {0, 0, DI_NORMAL, {2, 0}, green},
      {0, 0, DI_NORMAL, {3, 1}, cyan},       {0, 0, DI_NORMAL, {4, 0}, green},  // outside
      {8, 4, DI_NORMAL, {1, 3}, red},        {8, 4, DI_NORMAL, {5, 2}, green},
      {8, 4, DI_NORMAL, {7, 3}, cyan},       {0, 0, DI_IMAGE, {2, 0}, RGB(0, 0, 0)},
      {0, 0, DI_MASK, {0, 0}, RGB(0, 0, 0)}, {0, 0, DI_MASK, {2, 0}, RGB(255, 255, 255)},
  };
  for (const Row& row : rows) {
    Bitmap target(10, 6);
    target.Fill(green);
    DC dc(&target);
    ASSERT_TRUE(DrawIconEx(&dc, 0, 0, icon, row.cx, row.cy, 0, nullptr, row.flags));
    EXPECT_EQ(target.Pixel(row.at.X, row.at.Y), row.expected)
        << row.cx << "x" << row.cy << " flags " << row.flags << " at " << row.at.X << ","
        << row.at.Y;
  }
  Bitmap target(4, 2);
  DC dc(&target);
  EXPECT_FALSE(DrawIconEx(&dc, 0, 0, icon, 0, 0, 0, nullptr, 0));
  EXPECT_FALSE(DrawIconEx(&dc, 0, 0, icon, -1, 2, 0, nullptr, DI_NORMAL));
  EXPECT_FALSE(DrawIconEx(nullptr, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
  ICONINFO copy;
  ASSERT_TRUE(GetIconInfo(icon, copy));
  EXPECT_EQ(copy.hbmColor, info.hbmColor);
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_FALSE(DestroyIcon(icon));
  EXPECT_FALSE(GetIconInfo(icon, copy));
  EXPECT_FALSE(DrawIconEx(&dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
  info.hbmMask = Bitmap(3, 2);
  EXPECT_EQ(CreateIconIndirect(info), 0u);  // mask and image of different sizes
}

TEST_F(FrameServicesTest, StockApplicationIconIsSharedAndKeepsItsCorners) {
  const HICON icon = LoadIcon(0, IDI_APPLICATION);
  ASSERT_NE(icon, 0u);
  EXPECT_EQ(LoadIcon(0, IDI_APPLICATION), icon);
  EXPECT_EQ(LoadIcon(0, 1), 0u);
  EXPECT_FALSE(DestroyIcon(icon));
  const int size = GetSystemMetrics(SM_CXICON);
  Bitmap target(size, size);
  target.Fill(RGB(0, 255, 0));
  DC dc(&target);
  ASSERT_TRUE(DrawIcon(&dc, 0, 0, icon));
  EXPECT_EQ(target.Pixel(0, 0), RGB(0, 255, 0));
  EXPECT_NE(target.Pixel(size / 2, size / 2), RGB(0, 255, 0));
}

TEST_F(FrameServicesTest, ScrollBarInfoPlacesTheBarAndItsThumb) {
  // A frame and a caption above the bar: its offsets count from the bar, not the window.
  const HWND w = Make(0, {100, 50, 300, 250}, clRed, WS_CAPTION | WS_VSCROLL);
  const int cx = GetSystemMetrics(SM_CXVSCROLL);
  const int arrow = GetSystemMetrics(SM_CYVSCROLL);
  SCROLLINFO si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMax = 99;
  si.nPage = 50;
  SetScrollInfo(w, SB_VERT, si, true);
  Rect client;
  ASSERT_TRUE(GetClientRect(w, client));
  Point origin{0, 0};
  ClientToScreen(w, origin);
  SCROLLBARINFO info;
  ASSERT_TRUE(GetScrollBarInfo(w, OBJID_VSCROLL, info));
  const Rect beside = Bounds(origin.X + client.Width(), origin.Y, cx, client.Height());
  EXPECT_EQ(info.rcScrollBar, beside);
  EXPECT_EQ(info.dxyLineButton, arrow);
  EXPECT_EQ(info.rgstate[0], 0u);
  EXPECT_EQ(info.xyThumbTop, arrow);  // at the first position, right after the arrow
  EXPECT_GT(info.xyThumbBottom, info.xyThumbTop);
  SetScrollPos(w, SB_VERT, 50, true);
  ASSERT_TRUE(GetScrollBarInfo(w, OBJID_VSCROLL, info));
  EXPECT_EQ(info.xyThumbBottom, client.Height() - arrow);  // at the last, before the arrow
  ASSERT_TRUE(GetScrollBarInfo(w, OBJID_HSCROLL, info));
  EXPECT_EQ(info.rgstate[0], STATE_SYSTEM_INVISIBLE);
  si.nPage = 100;  // the whole range fits
  SetScrollInfo(w, SB_VERT, si, true);
  ASSERT_TRUE(GetScrollBarInfo(w, OBJID_VSCROLL, info));
  EXPECT_EQ(info.rgstate[0], STATE_SYSTEM_UNAVAILABLE);
  EXPECT_EQ(info.rgstate[3], STATE_SYSTEM_INVISIBLE);
  EXPECT_FALSE(GetScrollBarInfo(w, OBJID_CLIENT, info));
  DestroyWindow(w);
  EXPECT_FALSE(GetScrollBarInfo(w, OBJID_VSCROLL, info));
}

}  // namespace
}  // namespace qv::test
