// The skinned edit on the headless back end: key navigation, the caption label, the border.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/ui/display_backend.h"
#include "platform/ui/virtual_keys.h"
#include "skin/sedit.h"
#include "skin/spaintutils.h"
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

TEST_F(EditTest, BorderOnlySelectionKeepsThePaintingColour) {
  TsEdit* e = AddEdit({10, 10, 110, 31});
  TsStyle* s = e->sStyle();
  s->Selection.Mode = msBorder;
  s->Selection.Border.Bevel = ebAsTopBorder;
  ShowForm(form);
  EXPECT_EQ(e->ClientRect(), (Rect{0, 0, 94, 15}));
  const TColor normal = s->GetColor();
  s->MouseIn = true;
  EXPECT_TRUE(s->ControlIsActive());
  EXPECT_EQ(s->GetColor(), normal);
  s->Selection.Mode = msBorder | msColor;
  EXPECT_EQ(s->GetColor(), TColor(ColorToRGB(s->Selection.Color)));
}

}  // namespace
}  // namespace qv
