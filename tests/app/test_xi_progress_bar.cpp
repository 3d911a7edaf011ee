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

TEST(XiProgressBarTest, HorizontalBarAtSeveralPositions) {
  TXiProgressBar bar;
  struct Probe {
    int x, y;
    COLORREF expected;
  };
  struct Case {
    int position;
    std::vector<Probe> probes;
  } const cases[] = {
      {0, {{0, 0, kDesertBorder}, {1, 1, RGB(0xFF, 0xEC, 0xC6)}, {50, 8, kBackMiddle}}},
      // Just under half of the 198 inner pixels: the separator at x = 99.
      {50, {{50, 8, kBarMiddle}, {98, 8, kBarMiddle}, {99, 5, kBarRow14}, {100, 8, kBackMiddle}}},
      {100, {{197, 8, kBarMiddle}, {198, 5, kBarRow14}, {199, 5, kDesertBorder}}},
      {250, {{198, 8, kBarMiddle}, {199, 8, kDesertBorder}, {100, 15, kDesertBorder}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    bar.SetPosition(c.position);
    const Bitmap picture = bar.Render();
    ASSERT_EQ(picture.Width(), 200);
    ASSERT_EQ(picture.Height(), 16);
    for (const Probe& p : c.probes) {
      SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
      EXPECT_EQ(picture.Pixel(p.x, p.y), p.expected);
    }
  }
}

TEST(XiProgressBarTest, SchemesAndCustomColours) {
  TXiProgressBar bar;
  EXPECT_EQ(bar.ColorScheme(), TColorScheme::csDesert);
  bar.SetColorScheme(TColorScheme::csSun);
  EXPECT_EQ(bar.ColorBorder(), 0x006464);
  EXPECT_EQ(bar.ForeColorGrad(), 0x05BCDC);
  bar.SetBackColorFace(clRed);
  EXPECT_EQ(bar.ColorScheme(), TColorScheme::csCustom);
  EXPECT_EQ(bar.ColorBorder(), 0x006464);  // the other colours stay
  bar.SetColorScheme(TColorScheme::csCustom);
  EXPECT_EQ(bar.BackColorFace(), clRed);
  bar.SetColorScheme(TColorScheme::csToxic);
  EXPECT_EQ(bar.BackColorFace(), 0x2C5656);
  EXPECT_EQ(bar.Render().Pixel(0, 0), RGB(0, 0, 0));

  // One flat colour pair makes every probe predictable.
  bar.SetColorBorder(clBlue);
  bar.SetBackColorFace(clWhite);
  bar.SetBackColorGrad(clWhite);
  bar.SetForeColorFace(clLime);
  bar.SetForeColorGrad(clLime);
  bar.SetPosition(25);
  const Bitmap p = bar.Render();
  EXPECT_EQ(p.Pixel(10, 8), RGB(0, 255, 0));
  EXPECT_EQ(p.Pixel(60, 8), RGB(255, 255, 255));
  EXPECT_EQ(p.Pixel(0, 8), RGB(0, 0, 255));
}

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

TEST(XiProgressBarTest, VerticalBarGrowsFromTheBottom) {
  TXiProgressBar bar;
  bar.SetBounds(0, 0, 16, 100);
  bar.SetOrientation(TProgressBarOrientation::pbVertical);
  bar.SetPosition(50);
  const Bitmap p = bar.Render();
  EXPECT_EQ(p.Pixel(8, 70), kBarMiddle);             // bar, half way across
  EXPECT_EQ(p.Pixel(5, 50), RGB(197, 142, 29));      // separator at y = 50
  EXPECT_EQ(p.Pixel(8, 30), RGB(0xFF, 0xF6, 0xE2));  // background, half way across
  EXPECT_EQ(p.Pixel(0, 70), kDesertBorder);
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

TEST_F(XiProgressBarOnFormTest, PaintsOnItsParentAtItsPlace) {
  bar->SetPosition(100);
  EXPECT_EQ(At(49, 10), RGB(1, 2, 3));
  EXPECT_EQ(At(50, 10), kDesertBorder);
  EXPECT_EQ(At(50 + 100, 10 + 8), kBarMiddle);
  EXPECT_EQ(At(50 + 200, 10 + 8), RGB(1, 2, 3));
  bar->SetVisible(false);
  EXPECT_TRUE(bar->Render().Empty());
  Pump();
  EXPECT_EQ(At(50 + 100, 10 + 8), RGB(1, 2, 3));
}

TEST_F(XiProgressBarOnFormTest, PositionBelowMinIsIgnoredAndOthersPaintAtOnce) {
  bar->SetPosition(40);
  EXPECT_EQ(paints, 1);  // before any message was served
  EXPECT_EQ(At(50 + 70, 10 + 8), kBarMiddle);
  bar->SetPosition(-1);  // an output that cannot tell its size
  EXPECT_EQ(bar->Position(), 40);
  EXPECT_EQ(paints, 1);
  bar->SetPosition(130);
  EXPECT_EQ(bar->Position(), 130);
  EXPECT_EQ(paints, 2);
  bar->SetMin(101);  // above Max: ignored
  EXPECT_EQ(bar->Min(), 0);
  bar->SetMax(50);
  bar->SetMax(-5);  // below Min: ignored
  EXPECT_EQ(bar->Max(), 50);
  EXPECT_EQ(paints, 3);
  bar->SetOrientation(TProgressBarOrientation::pbVertical);
  EXPECT_EQ(paints, 3);  // marked only
  Pump();
  EXPECT_EQ(paints, 4);
}

}  // namespace
}  // namespace qv
