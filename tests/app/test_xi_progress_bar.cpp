#include "app/xi_progress_bar.h"

#include <gtest/gtest.h>

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
