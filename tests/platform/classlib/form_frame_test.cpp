// What a form shows around its client area: the border style and icons on the window's
// style, a border band, its own scroll bars following the controls, and its icon.
#include <gtest/gtest.h>

#include "platform/classlib/extctrls.h"
#include "platform/classlib/forms.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/nonclient.h"
#include "platform/ui/window_system.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv {
namespace {

using FormFrameTest = test::ClassLibTest;

TEST_F(FormFrameTest, BorderStyleAndIconsReachTheShownWindow) {
  TForm* form = MakeForm();
  form->SetBorderStyle(TFormBorderStyle::bsSizeable);
  ShowForm(form);
  const HWND h = form->Handle();
  constexpr DWORD kBoxes = WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  struct Row {
    TFormBorderStyle style;
    TBorderIcons icons;
    DWORD expected;
  };
  const Row rows[] = {
      {TFormBorderStyle::bsSizeable, biSystemMenu, WS_SYSMENU},
      {TFormBorderStyle::bsSizeable, 0, 0},
      {TFormBorderStyle::bsSingle, biSystemMenu | biMinimize, WS_SYSMENU | WS_MINIMIZEBOX},
      {TFormBorderStyle::bsSizeable, biSystemMenu | biMaximize, WS_SYSMENU | WS_MAXIMIZEBOX},
      {TFormBorderStyle::bsDialog, biSystemMenu | biMinimize | biMaximize, WS_SYSMENU},
      {TFormBorderStyle::bsNone, biSystemMenu, 0},
  };
  for (const Row& row : rows) {
    form->SetBorderStyle(row.style);
    form->SetBorderIcons(row.icons);
    Pump();
    EXPECT_EQ(DWORD(GetWindowLong(h, GWL_STYLE)) & kBoxes, row.expected)
        << int(row.style) << " " << row.icons;
    EXPECT_TRUE(IsWindowVisible(h));  // a new frame style does not hide the form
  }
  // The close button comes and goes with the system menu icon.
  form->SetBorderStyle(TFormBorderStyle::bsSingle);
  form->SetBorderIcons(biSystemMenu);
  Pump();
  const auto style = DWORD(GetWindowLong(h, GWL_STYLE));
  const auto exStyle = DWORD(GetWindowLong(h, GWL_EXSTYLE));
  const Rect close =
      nonclient::Compute(style, exStyle, {0, 0, form->Width(), form->Height()}).closeButton;
  ASSERT_FALSE(close.IsEmpty());
  const LPARAM at = MAKELONG(form->Left() + close.Left + close.Width() / 2,
                             form->Top() + close.Top + close.Height() / 2);
  EXPECT_EQ(SendMessage(h, WM_NCHITTEST, 0, at), HTCLOSE);
  form->SetBorderIcons(0);
  EXPECT_EQ(SendMessage(h, WM_NCHITTEST, 0, at), HTCAPTION);
  // A maximised form stays maximised.
  form->SetBorderStyle(TFormBorderStyle::bsSizeable);
  form->SetWindowState(TWindowState::wsMaximized);
  form->SetBorderIcons(biSystemMenu | biMaximize);
  EXPECT_TRUE(IsZoomed(h));
  EXPECT_TRUE(IsWindowVisible(h));
}

TEST_F(FormFrameTest, BorderWidthIsABandOfTheFormsColour) {
  TForm* form = MakeForm(300, 200);  // no frame of its own
  form->SetColor(clRed);
  auto* panel = Create<TPanel>(form);
  panel->SetParent(form);
  panel->SetColor(clBlue);
  panel->SetBevelOuter(TBevelCut::bvNone);
  panel->SetAlign(TAlign::alClient);
  ShowForm(form);
  form->SetBorderWidth(10);
  Pump();
  const HWND h = form->Handle();
  Rect client;
  ASSERT_TRUE(GetClientRect(h, client));
  EXPECT_EQ(client, (Rect{0, 0, 280, 180}));
  EXPECT_EQ(form->ClientRect(), client);
  EXPECT_EQ(panel->BoundsRect(), client);
  const Bitmap shot = SnapshotWindow(h);
  EXPECT_EQ(shot.Pixel(5, 5), ColorToRGB(clRed));
  EXPECT_EQ(shot.Pixel(294, 194), ColorToRGB(clRed));
  EXPECT_EQ(shot.Pixel(10, 10), ColorToRGB(clBlue));
  EXPECT_EQ(shot.Pixel(289, 189), ColorToRGB(clBlue));
  form->SetBorderWidth(0);
  Pump();
  EXPECT_EQ(panel->BoundsRect(), (Rect{0, 0, 300, 200}));
}

TEST_F(FormFrameTest, AutoScrollFollowsTheControls) {
  TForm* form = MakeForm(300, 200);
  auto* low = Create<TPanel>(form);
  low->SetParent(form);
  low->SetBounds(100, 400, 50, 50);
  ShowForm(form);
  const HWND h = form->Handle();
  TControlScrollBar& vert = form->VertScrollBar();
  ASSERT_TRUE(vert.IsScrollBarVisible());
  EXPECT_FALSE(form->HorzScrollBar().IsScrollBarVisible());
  EXPECT_EQ(vert.Range(), 450);
  SCROLLINFO si;
  si.fMask = SIF_ALL;
  ASSERT_TRUE(GetScrollInfo(h, SB_VERT, si));
  EXPECT_EQ(si.nMax, 449);
  EXPECT_EQ(si.nPage, 200u);

  struct Step {
    WPARAM code;
    int thumb;
    int position;
  };
  const Step steps[] = {
      {SB_LINEDOWN, 0, 8},          {SB_PAGEDOWN, 0, 208},    {SB_PAGEDOWN, 0, 250},  // clamped
      {SB_LINEUP, 0, 242},          {SB_TOP, 0, 0},           {SB_BOTTOM, 0, 250},
      {SB_THUMBPOSITION, 100, 100}, {SB_THUMBTRACK, 10, 100},
  };
  for (const Step& step : steps) {
    SendMessage(h, WM_VSCROLL, MAKELONG(step.code, step.thumb), 0);
    EXPECT_EQ(vert.Position(), step.position) << step.code;
    EXPECT_EQ(low->Top(), 400 - step.position) << step.code;
    EXPECT_EQ(GetScrollPos(h, SB_VERT), step.position) << step.code;
  }
  // A press on the bar's lower arrow scrolls by a line.
  SCROLLBARINFO bar;
  ASSERT_TRUE(GetScrollBarInfo(h, OBJID_VSCROLL, bar));
  headless->InjectClick({bar.rcScrollBar.Left + 2, bar.rcScrollBar.Bottom - 2});
  Pump();
  EXPECT_EQ(vert.Position(), 108);

  // Off, the ranges go: the bar goes and the controls come back.
  form->SetAutoScroll(false);
  EXPECT_FALSE(vert.IsScrollBarVisible());
  EXPECT_EQ(vert.Position(), 0);
  EXPECT_EQ(low->Top(), 400);
  // A range of its own shows it again, unless the bar is not to be visible.
  vert.SetRange(600);
  EXPECT_FALSE(form->AutoScroll());
  EXPECT_TRUE(vert.IsScrollBarVisible());
  vert.SetPosition(50);
  EXPECT_EQ(low->Top(), 350);
  vert.SetVisible(false);
  EXPECT_FALSE(vert.IsScrollBarVisible());
  EXPECT_EQ(low->Top(), 400);
}

TEST_F(FormFrameTest, IconsAreOwnedAndCopied) {
  TForm* form = MakeForm();
  EXPECT_TRUE(form->Icon().Empty());
  EXPECT_TRUE(Application()->Icon().Empty());
  ICONINFO info;
  info.hbmMask = Bitmap(2, 2);  // black: all image
  info.hbmColor = Bitmap(2, 2);
  info.hbmColor.Fill(RGB(255, 0, 0));
  const HICON icon = CreateIconIndirect(info);
  form->Icon().SetHandle(icon);
  EXPECT_EQ(form->Icon().Width(), 2);
  TIcon copy;
  copy.Assign(form->Icon());
  EXPECT_NE(copy.Handle(), icon);
  TBitmap drawn(4, 4);
  drawn.Canvas().Draw(1, 1, &copy);
  EXPECT_EQ(drawn.Image().Pixel(2, 2), RGB(255, 0, 0));
  EXPECT_EQ(drawn.Image().Pixel(3, 3), RGB(0, 0, 0));
  TBitmap bitmap;
  EXPECT_THROW(copy.Assign(bitmap), EConvertError);
  EXPECT_THROW(copy.SetWidth(5), EInvalidGraphicOperation);
  delete form;
  ICONINFO gone;
  EXPECT_FALSE(GetIconInfo(icon, gone));  // the form's icon went with it
  EXPECT_TRUE(GetIconInfo(copy.Handle(), gone));
}

}  // namespace
}  // namespace qv
