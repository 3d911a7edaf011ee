// Skin numbers at the extremes of their type: a bevel as wide as an int may be paints what
// a bevel wider than the control paints, and percentages and transparencies that would
// overflow in their arithmetic give the picture of a large value that does not.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "skin/sbuttons.h"
#include "skin/sedit.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
#include "tests/skin/paint_test_util.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

// Replaces every "{}" in the pattern by the value.
std::string With(std::string pattern, long long value) {
  for (auto at = pattern.find("{}"); at != std::string::npos; at = pattern.find("{}"))
    pattern.replace(at, 2, std::to_string(value));
  return pattern;
}

std::string Diff(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return " sizes differ";
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y))
        return " at " + std::to_string(x) + "," + std::to_string(y) + ": " +
               std::to_string(a.Pixel(x, y)) + " against " + std::to_string(b.Pixel(x, y));
  return " same pixels";
}

class ExtremesTest : public test::SkinTest {
 protected:
  template <class T>
  T* Add(Rect r) {
    auto* c = Create<T>(form);
    c->SetParent(form);
    c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    return c;
  }
  Bitmap Shot(TControl* c) {
    Pump();
    const Bitmap* screen = headless->Presented(form->Handle());
    Bitmap out(c->Width(), c->Height());
    if (screen != nullptr) CopyBitmapRect(out, {0, 0}, *screen, c->BoundsRect());
    return out;
  }
};

// Every bevel kind, flat and graded, on a rectangle that sits partly outside the bitmap.
TEST(RectBevelTest, WidthsBeyondTheBitmapPaintNoMoreThanTheBitmapHolds) {
  for (const bool gradient : {false, true})
    for (int kind = 0; kind < 4; ++kind)
      for (const Rect r : {Rect{0, 0, 24, 16}, Rect{-30, -5, 20, 12}, Rect{5, 4, 90, 70}}) {
        const auto paint = [&](int width) {
          Bitmap bmp(24, 16);
          bmp.Fill(0x336699);
          DC dc(&bmp);
          PaintRectBevel(dc, RGB(250, 250, 250), RGB(10, 20, 30), gradient, kind, width, r,
                         RGB(200, 100, 0));
          return bmp;
        };
        // A width below one paints a single line graded, nothing flat, whatever it is.
        EXPECT_TRUE(paint(INT_MIN) == paint(0)) << "kind " << kind << " gradient " << gradient;
        const Bitmap huge = paint(INT_MAX);
        // A graded line's colour depends on the width; at these widths it rounds the same.
        const Bitmap wide = paint(gradient ? 100'000'000 : 200);
        EXPECT_TRUE(huge == wide) << "kind " << kind << " gradient " << gradient << " at " << r.Left
                                  << "," << r.Top;
      }
}

// An edit's section without a borders mask and a bevel (or, focused, a selection border)
// as wide as an int may be.
TEST_F(ExtremesTest, EditBevelAsWideAsAnIntPaintsAsAWideOne) {
  const std::string section =
      "[TsEdit]\nPaintingColor=15790320\nPaintingColorBorderTop=16777215\n"
      "PaintingColorBorderBottom=8421504\nPaintingBevel={bevel}\nPaintingBevelWidth={}\n"
      "SelectionColor=14745599\nSelectionBorderBevel=2\nSelectionBorderWidth={}\n";
  TsEdit* other = Add<TsEdit>({10, 40, 110, 61});
  TsEdit* e = Add<TsEdit>({10, 10, 110, 31});
  other->SetTabStop(true);
  e->SetTabStop(true);
  ShowForm(form);
  for (const char* bevel : {"1", "2", "3", "4"}) {
    std::string text = section;
    text.replace(text.find("{bevel}"), 7, bevel);
    Bitmap shots[2][2];  // [huge][focused]
    for (const int huge : {0, 1}) {
      Options("S", With(text, huge ? INT_MAX : 100'000'000));
      manager->SetSkinName("S");
      other->SetFocus();
      shots[huge][0] = Shot(e);
      e->SetFocus();
      shots[huge][1] = Shot(e);
    }
    EXPECT_TRUE(shots[1][0] == shots[0][0]) << "bevel " << bevel;
    EXPECT_TRUE(shots[1][1] == shots[0][1]) << "bevel " << bevel << " focused";
  }
}

// Percentages and transparencies whose arithmetic overflows an int (the sanitizers stop the
// test there) paint as the large value that does not overflow.
TEST_F(ExtremesTest, PercentagesAtTheExtremesPaintAsLargeOnes) {
  Bmp("S", "tile.bmp", 5, 3, RGB(20, 200, 40));
  const char* common =
      "PaintingColor=255\nHotPaintingColor=16711680\nIMAGEFILE=tile.bmp\n"
      "HOTIMAGEFILE=tile.bmp\nGradientData=65280;255;100;0;0\nHotGradientData=65280;255;100;0;0\n";
  const struct {
    const char* values;  // "{}" stands for the extreme or the large value
    long long extreme, large;
  } cases[] = {
      {"HotImagePercent={}\nHotGradientPercent=10\n", INT_MAX, 1'000'000},
      {"GradientPercent={}\nImagePercent=1\n", INT_MAX, 1'000'000},
      {"ImagePercent={}\nGradientPercent=50\n", INT_MAX, 1'000'000},
      {"ImagePercent={}\nGradientPercent={}\n", INT_MIN, -1'000'000},
      {"HotImagePercent={}\nHotGradientPercent={}\n", INT_MIN, -1'000'000},
      {"PaintingTransparency={}\nHotPaintingTransparency={}\n", INT_MIN, -1'000'000},
  };
  Options("S", "[A]\n");
  manager->SetSkinName("S");  // the panel takes its section from a skin
  auto* panel = Add<TsPanel>({0, 60, 40, 90});
  panel->sStyle()->SetSkinSection("A");
  ShowForm(form);
  TBitmap parent;
  parent.SetSize(60, 40);
  parent.SetPixelFormat(PixelFormat::pf24bit);
  parent.Image().Fill(RGB(90, 90, 90));
  const TsBGInfo parents[] = {DefaultPaintInfo, {&parent, 2, 3, true}};
  for (const auto& c : cases) {
    std::vector<Bitmap> pictures[2];
    for (const int extreme : {0, 1}) {
      const long long v = extreme ? c.extreme : c.large;
      Options("S", "[A]\n" + std::string(common) + With(c.values, v));
      manager->SetSkinName("S");
      const int index = GetSkinIndex("A");
      ASSERT_GE(index, 0);
      std::vector<Bitmap>& out = pictures[extreme];
      for (int state = -1; state <= 4; ++state)
        for (const TsBGInfo& p : parents) {
          Bitmap bmp(30, 20);
          PaintItem(index, "A", p, bmp, {1, 1}, {0, 0, 30, 20}, state, true);
          out.push_back(bmp);
        }
      out.push_back(Shot(panel));
    }
    ASSERT_EQ(pictures[1].size(), pictures[0].size());
    for (std::size_t i = 0; i < pictures[0].size(); ++i)
      EXPECT_TRUE(pictures[1][i] == pictures[0][i])
          << c.values << " at " << c.extreme << ", #" << i << Diff(pictures[1][i], pictures[0][i]);
  }
}

// A faded button whose section counts its fade steps at the ends of an int (or beyond what
// the step arithmetic holds): entered, clicked, left and stepped through, it fades as one
// of 0 or 100 steps does (the sanitizers stop the test at an overflow).
TEST_F(ExtremesTest, FadeIterationsAtTheExtremesFadeAsTheirBound) {
  auto* b = Add<TsButton>({10, 10, 85, 35});
  auto* other = Add<TsButton>({10, 40, 85, 65});
  ShowForm(form);
  for (const long long v :
       {static_cast<long long>(INT_MAX), 9'000'000LL, static_cast<long long>(INT_MIN), -2LL}) {
    Options("S", With("[TsButton]\nFadingEnabled=TRUE\nFadingIterations={}\n", v));
    manager->SetSkinName("S");
    ASSERT_GE(b->sStyle()->SkinIndex, 0);
    EXPECT_EQ(b->sStyle()->FadingIterations(), v < 0 ? 0 : 100) << v;
    b->Perform(CM_MOUSEENTER, 0, 0);
    for (int i = 0; i < 3; ++i) b->FadeTick();
    Press(b, {5, 5});
    Release(b, {5, 5});
    other->SetFocus();  // the click's focus goes: leaving fades out from the last step
    Pump();
    b->Perform(CM_MOUSELEAVE, 0, 0);
    for (int i = 0; i < 3; ++i) b->FadeTick();
    EXPECT_GE(b->FadeAlpha(), 0) << v;
    EXPECT_LE(b->FadeAlpha(), 255) << v;
    Pump();
  }
}

// A button's section shadow at the largest offset, inside a panel without a section that
// paints its children's shadows: placed off the panel's picture, which stays as it was.
TEST_F(ExtremesTest, ShadowOffsetAsLargeAsAnIntLandsOffThePicture) {
  auto* panel = Add<TsPanel>({0, 0, 120, 60});
  panel->sStyle()->SetSkinSection("NOSUCHSECTION");
  auto* b = Create<TsButton>(form);
  b->SetParent(panel);
  b->SetBounds(10, 10, 75, 25);
  ShowForm(form);
  Bitmap pictures[2];
  for (const long long v : {static_cast<long long>(INT_MAX), 0LL}) {
    Options("S", With("[TsButton]\nShadowEnabled=TRUE\nShadowOffset={}\nShadowBlur=0\n", v));
    manager->SetSkinName("S");
    ASSERT_GE(b->sStyle()->SkinIndex, 0);
    ASSERT_EQ(panel->sStyle()->SkinIndex, -1);
    panel->sStyle()->BGChanged = true;
    panel->Repaint();
    Pump();
    pictures[v == 0] = panel->sStyle()->BGBitmap.Image();
  }
  // Offset 0 shadows the button's own place; INT_MAX nothing at all.
  Bitmap plain = pictures[0];
  EXPECT_FALSE(pictures[1] == plain);
  EXPECT_EQ(plain.Pixel(100, 50), pictures[1].Pixel(100, 50));
  // Added to a placement offset as large, it still lands off the picture.
  Options("S", "[TsButton]\nShadowEnabled=TRUE\nShadowOffset=2147483647\nShadowBlur=0\n");
  manager->SetSkinName("S");
  Bitmap image(120, 60);
  image.Fill(clWhite);
  const Bitmap before = image;
  b->sStyle()->PaintShadow(image, {INT_MAX, INT_MAX});
  EXPECT_TRUE(image == before);
}

}  // namespace
}  // namespace qv
