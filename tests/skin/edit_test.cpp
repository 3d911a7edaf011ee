// The skinned edit on the headless back end: key navigation, the caption label, the border.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <utility>

#include "platform/ui/display_backend.h"
#include "platform/ui/virtual_keys.h"
#include "skin/sedit.h"
#include "skin/spaintutils.h"
#include "skin/spanels.h"
#include "tests/skin/paint_test_util.h"
#include "tests/skin/skin_fixture.h"

namespace qv {
namespace {

class EditTest : public test::SkinTest {
 protected:
  TsEdit* AddEdit(Rect r) {
    auto* e = Create<TsEdit>(form);
    e->SetParent(form);
    e->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    e->SetTabStop(true);
    return e;
  }
  // What the screen shows of the whole edit, border included (the form is borderless).
  Bitmap Shot(TControl* c) {
    Pump();
    const Bitmap* screen = headless->Presented(form->Handle());
    Bitmap out(c->Width(), c->Height());
    if (screen == nullptr) return out;
    CopyBitmapRect(out, {0, 0}, *screen, c->BoundsRect());
    return out;
  }
};

TEST_F(EditTest, ListedKeysMoveAlongTheTabOrderWithWrap) {
  TsEdit* a = AddEdit({10, 10, 110, 31});
  TsEdit* b = AddEdit({10, 40, 110, 61});
  a->sStyle()->KeysNextControl = "13, 40";
  b->sStyle()->KeysNextControl = "13, 40";
  ShowForm(form);
  a->SetFocus();
  Pump();
  const struct {
    unsigned key;
    unsigned modifiers;
    TsEdit* focused;
  } cases[] = {{VK_RETURN, 0, b},
               {VK_DOWN, 0, a} /* wraps to the first */,
               {VK_RETURN, kModControl, a},
               {VK_UP, 0, a}};
  for (const auto& c : cases) {
    Key(c.key, {}, c.modifiers);
    EXPECT_TRUE(c.focused->Focused()) << c.key << " " << c.modifiers;
  }
  // The key is swallowed on a match and left alone otherwise.
  for (const auto& [key, shift, after] :
       {std::tuple{VK_RETURN, 0u, 0u}, std::tuple{VK_RETURN, unsigned(ssCtrl), unsigned(VK_RETURN)},
        std::tuple{VK_UP, 0u, unsigned(VK_UP)}}) {
    std::uint16_t k = std::uint16_t(key);
    a->OnKeyDown(a, k, shift);
    EXPECT_EQ(k, after) << key;
  }
  b->SetTabStop(false);
  a->SetFocus();
  Pump();
  Key(VK_RETURN);  // nothing else to go to: back at the start, the search stops
  EXPECT_TRUE(a->Focused());
  // Typing still reaches the edit.
  Type("abc");
  EXPECT_EQ(a->Text(), "abc");
}

TEST_F(EditTest, TopRightCaptionEndsAtTheRightEdgeThenTakesMaxWidth) {
  TsEdit* e = AddEdit({100, 50, 200, 71});
  TsStyleCaption& cap = e->sStyle()->Caption;
  cap.SetText("Artist name");
  cap.SetLayout(sclTopRight);
  cap.SetActive(true);
  TsLabel* label = cap.Label();
  ASSERT_NE(label, nullptr);
  const int fh = GetFontHeight(label->Font().Handle());
  EXPECT_EQ(label->Left() + label->Width(), 200);
  EXPECT_EQ(label->Top(), 50 - fh + 5);
  const int left = label->Left();
  cap.SetMaxWidth(50);
  EXPECT_EQ(label->Left(), left);
  EXPECT_EQ(label->Width(), 50);
  EXPECT_TRUE(label->WordWrap());
  EXPECT_FALSE(label->AutoSize());
  cap.SetActive(false);
  EXPECT_EQ(cap.Label(), nullptr);
}

// The caption label is a child of the edit's parent, which frees its children last first:
// the label goes before the edit. Run under the address checker, a second free or a read of
// the freed label fails these.
TEST_F(EditTest, CaptionLabelSurvivesEveryTeardownOrder) {
  {
    auto* panel = Add<TsPanel>(form, {0, 0, 250, 150});
    TsEdit* e = Add<TsEdit>(panel, {100, 50, 200, 71});
    e->sStyle()->Caption.SetActive(true);
    ASSERT_NE(e->sStyle()->Caption.Label(), nullptr);
    ASSERT_EQ(e->sStyle()->Caption.Label()->Parent(), panel);
    ShowForm(form);
    delete panel;
    Pump();
  }
  {
    TForm* other = MakeForm();
    auto* panel = Add<TsPanel>(other, {0, 0, 250, 150});
    TsEdit* e = Add<TsEdit>(panel, {100, 50, 200, 71});
    TsEdit* direct = Add<TsEdit>(other, {100, 100, 200, 121});
    e->sStyle()->Caption.SetActive(true);
    direct->sStyle()->Caption.SetActive(true);
    ShowForm(other);
    delete other;
    Pump();
  }
  {
    // The label freed on its own: the caption is inactive and its setters leave it alone.
    TsEdit* e = AddEdit({100, 50, 200, 71});
    TsStyleCaption& cap = e->sStyle()->Caption;
    cap.SetActive(true);
    delete cap.Label();
    EXPECT_FALSE(cap.Active());
    cap.SetText("Album");
    e->SetVisible(false);
    e->SetBounds(90, 40, 100, 21);
    cap.SetActive(true);  // a new label
    ASSERT_NE(cap.Label(), nullptr);
    EXPECT_EQ(cap.Label()->Caption(), "Album");
    delete e;
  }
}

// Every painting setter repaints the edit; turning ParentColor off as well as on.
TEST_F(EditTest, PaintingSettersRepaintTheEdit) {
  struct CountingEdit : TsEdit {
    using TsEdit::TsEdit;
    int repaints = 0;
    void Invalidate() override {
      ++repaints;
      TsEdit::Invalidate();
    }
  };
  auto* e = Add<CountingEdit>(form, {10, 10, 110, 31});
  auto& painting = e->sStyle()->Painting;
  const std::pair<const char*, std::function<void()>> setters[] = {
      {"ParentColor on", [&] { painting.SetParentColor(true); }},
      {"ParentColor off", [&] { painting.SetParentColor(false); }},
      {"Color", [&] { painting.SetColor(3, 0x112233); }},
      {"ColorBorderTop", [&] { painting.SetColor(0, 0x445566); }},
      {"Bevel", [&] { painting.SetBevel(ebLowered); }}};
  for (const auto& [name, set] : setters) {
    e->repaints = 0;
    set();
    EXPECT_GT(e->repaints, 0) << name;
  }
  EXPECT_FALSE(painting.ParentColor());
  EXPECT_FALSE(e->ParentColor());
}

TEST_F(EditTest, SkinnedEditLooksMatchTheirGoldens) {
  Options("Fixture",
          "[TsEdit]\nPaintingColor=15790320\nPaintingColorBorderTop=16777215\n"
          "PaintingColorBorderBottom=8421504\nPaintingBevel=2\nPaintingBevelWidth=1\n"
          "SelectionColor=14745599\nSelectionBorderBevel=2\nSelectionBorderWidth=2\n");
  manager->SetSkinName("Fixture");
  TsEdit* other = AddEdit({10, 40, 110, 61});
  TsEdit* e = AddEdit({10, 10, 110, 31});
  e->SetText("Track 01");
  ShowForm(form);
  other->SetFocus();
  Pump();
  const Bitmap normal = Shot(e);
  EXPECT_EQ(normal.Pixel(50, 10), RGB(240, 240, 240));  // the section's painting colour
  test::ExpectGolden(normal, "edit_normal");
  MoveTo(e, {5, 5});
  const Bitmap hot = Shot(e);
  EXPECT_EQ(hot.Pixel(50, 10), RGB(255, 255, 224));  // the selection colour
  test::ExpectGolden(hot, "edit_hot");
  MoveTo(other, {5, 5});
  e->SetFocus();
  e->SetSelStart(0);
  e->SetSelLength(5);
  test::ExpectGolden(Shot(e), "edit_focused_selection");
}

// A skin's bevel of no width still gives a soft edit one line per side; a hard edit none.
TEST_F(EditTest, SoftEditKeepsOneBevelLineAtWidthZero) {
  Options("Thin",
          "[TsEdit]\nPaintingColor=15790320\nPaintingColorBorderTop=255\n"
          "PaintingBevel=3\nPaintingBevelWidth=0\n");
  manager->SetSkinName("Thin");
  TsEdit* soft = AddEdit({10, 10, 110, 31});
  TsEdit* hard = AddEdit({10, 40, 110, 61});
  soft->sStyle()->SetSoftControl(true);
  hard->sStyle()->SetSoftControl(false);
  // The focused one is hot: no selection border, so that both show the painting bevel.
  soft->sStyle()->Selection.Mode = msColor;
  hard->sStyle()->Selection.Mode = msColor;
  ShowForm(form);
  Pump();
  const Bitmap s = Shot(soft), h = Shot(hard);
  for (const Point p : {Point{0, 10}, Point{50, 0}, Point{99, 10}, Point{50, 20}})
    EXPECT_EQ(s.Pixel(p.X, p.Y), RGB(255, 0, 0)) << p.X << "," << p.Y;
  EXPECT_EQ(h.Pixel(0, 10), RGB(240, 240, 240));
}

// A 27 x 18 borders mask: 3 x 3 cells per state, a ring in the state's colour with fuchsia
// outer corners; the mask half is black on the ring and white inside.
Bitmap EditMask() {
  Bitmap m(27, 18);
  const COLORREF ring[3] = {RGB(40, 40, 60), RGB(30, 60, 200), RGB(30, 140, 60)};
  for (int f = 0; f < 3; ++f)
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 9; ++x) {
        const bool edge = x < 3 || y < 3 || x > 5 || y > 5;
        const bool corner = (x == 0 || x == 8) && (y == 0 || y == 8);
        m.SetPixel(9 * f + x, y, corner ? 0xFF00FF : edge ? ring[f] : RGB(255, 255, 0));
        m.SetPixel(9 * f + x, y + 9, edge ? 0x000000 : 0xFFFFFF);
      }
  return m;
}

// With a border mask and the selection's border mode only, a hot edit shows the mask's hot
// frame and keeps its painting colour inside.
TEST_F(EditTest, HotEditWithOnlyABorderMaskShowsTheHotFrame) {
  Options("Masked", "[TsEdit]\nPaintingColor=15790320\nBORDERSMASK=ring.bmp\n");
  qv::testing::WriteFile(Folder("Masked") + "/ring.bmp", Bytes(SaveBmp(EditMask())));
  manager->SetSkinName("Masked");
  TsEdit* other = AddEdit({10, 40, 110, 61});
  TsEdit* e = AddEdit({10, 10, 110, 31});
  e->sStyle()->Selection.Mode = msBorder;
  ShowForm(form);
  other->SetFocus();
  Pump();
  ASSERT_GE(e->sStyle()->BorderIndex, 0);
  EXPECT_EQ(Shot(e).Pixel(1, 10), RGB(40, 40, 60));
  MoveTo(e, {5, 5});
  const Bitmap hot = Shot(e);
  EXPECT_EQ(hot.Pixel(1, 10), RGB(30, 60, 200));
  EXPECT_EQ(hot.Pixel(50, 10), RGB(240, 240, 240));  // the inside keeps the painting colour
  Region region;
  ASSERT_NE(GetWindowRgn(e->Handle(), region), 0);
  EXPECT_FALSE(region.Contains({0, 0}));  // the fuchsia corner is cut away
  EXPECT_TRUE(region.Contains({1, 0}));
  // The button held down on it shows the pressed frame, and letting go the hot one again.
  Press(e, {5, 5});
  EXPECT_EQ(Shot(e).Pixel(1, 10), RGB(30, 140, 60));
  Release(e, {5, 5});
  EXPECT_EQ(Shot(e).Pixel(1, 10), RGB(30, 60, 200));
}

}  // namespace
}  // namespace qv
