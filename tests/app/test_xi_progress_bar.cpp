#include "app/xi_progress_bar.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/gfx/dc.h"
#include "platform/ui/window_system.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv {
namespace {

// The csDesert bar colours half way down a 16-pixel bar, and at row 14 (what the position
// separator takes).
constexpr COLORREF kBarMiddle = RGB(219, 172, 77);
constexpr COLORREF kBarRow14 = RGB(192, 135, 19);
// The csDesert background half way down the 14 inner rows.
constexpr COLORREF kBackMiddle = RGB(255, 246, 226);
constexpr COLORREF kDesertBorder = RGB(0x80, 0x56, 0x00);

// Min = Max leaves nothing to show: no division by zero, an empty bar.
TEST(XiProgressBarTest, EqualMinAndMaxDrawAnEmptyBar) {
  for (auto orientation :
       {TProgressBarOrientation::pbHorizontal, TProgressBarOrientation::pbVertical}) {
    TXiProgressBar bar;
    bar.SetOrientation(orientation);
    bar.SetMax(0);
    ASSERT_EQ(bar.Max(), 0);
    bar.SetPosition(0);
    bar.SetPosition(7);
    const Bitmap p = bar.Render();
    EXPECT_EQ(p.Pixel(100, 8), kBackMiddle);
  }
}

// A bar in one flat background colour and one flat bar colour, so a pixel tells which it is.
void MakeFlat(TXiProgressBar& bar, TProgressBarOrientation Orientation) {
  bar.SetOrientation(Orientation);
  bar.SetBounds(0, 0, 40, 40);
  bar.SetBackColorFace(TColor(RGB(0, 0, 255)));
  bar.SetBackColorGrad(TColor(RGB(0, 0, 255)));
  bar.SetForeColorFace(TColor(RGB(0, 255, 0)));
  bar.SetForeColorGrad(TColor(RGB(0, 255, 0)));
}

// Min raised above the position: the share is negative, and the bar stays empty; only the
// range's size is taken without its sign.
TEST(XiProgressBarTest, MinAbovePositionLeavesTheBarEmpty) {
  for (auto orientation :
       {TProgressBarOrientation::pbHorizontal, TProgressBarOrientation::pbVertical}) {
    TXiProgressBar bar;
    MakeFlat(bar, orientation);
    bar.SetPosition(20);
    bar.SetMin(60);
    ASSERT_EQ(bar.Min(), 60);
    ASSERT_EQ(bar.Position(), 20);
    const Bitmap p = bar.Render();
    EXPECT_EQ(p.Pixel(20, 20), RGB(0, 0, 255)) << int(orientation);
    EXPECT_EQ(p.Pixel(5, 35), RGB(0, 0, 255)) << int(orientation);
  }
}

// A position far above Max fills the whole bar, as one just above it does, however large
// its pixel count would be.
TEST(XiProgressBarTest, PositionFarAboveMaxFillsTheBar) {
  for (auto orientation :
       {TProgressBarOrientation::pbHorizontal, TProgressBarOrientation::pbVertical}) {
    // 298 x 1006711409 / 100 is about 3e9, beyond an int.
    for (int position : {101, 1006711409, std::numeric_limits<int>::max()}) {
      TXiProgressBar bar;
      MakeFlat(bar, orientation);
      bar.SetBounds(0, 0, 300, 300);
      bar.SetPosition(position);
      const Bitmap p = bar.Render();
      EXPECT_EQ(p.Pixel(20, 20), RGB(0, 255, 0)) << int(orientation) << " " << position;
    }
  }
}

// On a form: the bar paints on its parent's canvas at its place; a new position is painted
// before the call returns, the other setters only mark it for the next paint.
class XiProgressBarOnFormTest : public test::ClassLibTest {
 protected:
  void SetUp() override {
    ClassLibTest::SetUp();
    form = MakeForm(300, 40);
    form->SetColor(TColor(RGB(1, 2, 3)));
    bar = Create<TXiProgressBar>(form);
    bar->SetParent(form);
    bar->SetBounds(50, 10, 200, 16);
    ShowForm(form);
    auto proc = bar->WindowProc;
    bar->WindowProc = [this, proc](TMessage& m) {
      proc(m);
      if (m.Msg == WM_PAINT) ++paints;
    };
  }
  COLORREF At(int x, int y) { return SnapshotWindow(form->Handle()).Pixel(x, y); }

  TForm* form = nullptr;
  TXiProgressBar* bar = nullptr;
  int paints = 0;
};

}  // namespace
}  // namespace qv
