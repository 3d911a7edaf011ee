// The background's two percentages, which share a hundred, seen through a recording host.
#include <gtest/gtest.h>

#include <string>

#include "skin/sstyleutil.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv {
namespace {

struct THost : TsStyleHost {
  void Invalidate() override { ++invalidated; }
  [[nodiscard]] TControl* OwnerControl() const override { return control; }
  void UpdateRegion() override { ++regions; }
  void MarkRegionChanged() override { ++marked; }
  [[nodiscard]] int GetGradientPercent() const override { return gradientPercent; }
  [[nodiscard]] bool RepaintsOnBackgroundChange() const override { return passive; }
  TControl* control = nullptr;
  int invalidated = 0, regions = 0, marked = 0, gradientPercent = 0;
  bool passive = true;
};

using StylePartsTest = test::ClassLibTest;

TEST_F(StylePartsTest, ImageAndGradientNeverExceedAHundredPercent) {
  THost host;
  TsBackground background(nullptr);  // no style: the gradient's own percentage counts
  EXPECT_EQ(background.Gradient().Percent(), 70);
  background.Image().SetPercent(80);
  EXPECT_EQ(background.Gradient().Percent(), 20);
  background.Gradient().SetPercent(90);
  EXPECT_EQ(background.Image().Percent(), 10);
  background.Gradient().SetPercent(150);
  EXPECT_EQ(background.Gradient().Percent(), 100);
  EXPECT_EQ(background.Image().Percent(), 0);

  // With a style, the percentage it paints with decides, and a passive style repaints.
  TsBackground styled(&host);
  host.gradientPercent = 30;
  styled.Image().SetPercent(80);
  EXPECT_EQ(styled.Gradient().Percent(), 20);
  EXPECT_EQ(host.invalidated, 1);
  styled.Gradient().SetData("0;255;100;0;0");
  styled.Gradient().SetData("0;255;100;0;0");  // unchanged: no repaint
  EXPECT_EQ(styled.Gradient().GradArray().size(), 1u);
  EXPECT_EQ(host.invalidated, 2);
  host.passive = false;
  styled.Gradient().SetData("");
  EXPECT_TRUE(styled.Gradient().GradArray().empty());
  EXPECT_EQ(host.invalidated, 2);

  TsHotBackground copy(nullptr);
  copy.Assign(styled);
  EXPECT_EQ(copy.Image().Percent(), 80);
  EXPECT_EQ(copy.Gradient().Percent(), 20);
  EXPECT_THROW(copy.Assign(copy.Image()), EConvertError);
}

// The percent fields of the parts hold 0..100 whatever they are given.
TEST_F(StylePartsTest, PercentFieldsClampOnAssignment) {
  static_assert(sizeof(TPercent) == 1);
  TsFading fading;
  TsHotPainting hot;
  TsPassiveShadow shadow;
  EXPECT_EQ(fading.Iterations + fading.IntervalIn + fading.IntervalOut, 15);
  EXPECT_EQ(shadow.Transparency, 50);
  fading.Iterations = 250;
  fading.IntervalIn = -3;
  fading.IntervalOut = 100;
  hot.Transparency = 0xFF;
  shadow.Transparency = 101;
  EXPECT_EQ(fading.Iterations, 100);
  EXPECT_EQ(fading.IntervalIn, 0);
  EXPECT_EQ(fading.IntervalOut, 100);
  EXPECT_EQ(hot.Transparency, 100);
  EXPECT_EQ(shadow.Transparency, 100);
  TsBackground background(nullptr);
  background.Image().SetPercent(-20);
  EXPECT_EQ(background.Image().Percent(), 0);
  EXPECT_EQ(background.Gradient().Percent(), 70);
}

}  // namespace
}  // namespace qv
