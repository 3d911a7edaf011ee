// MDI forms on the headless back end without a skin: the client's children, their order
// and activation, minimised strips, the default close action, the client's own scroll bars.
#include <gtest/gtest.h>

#include "platform/classlib/forms.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/mdi.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv {
namespace {

class TMdiFrame : public TForm {
 public:
  explicit TMdiFrame(TComponent* owner) : TForm(owner) {
    SetFormStyle(TFormStyle::fsMDIForm);
    SetBounds(0, 0, 400, 300);
  }
};

class MdiFormTest : public test::ClassLibTest {
 protected:
  void SetUp() override {
    ClassLibTest::SetUp();
    Application()->CreateForm(frame);
    frame->Show();
    Pump();
    client = frame->ClientHandle();
    ASSERT_NE(client, 0u);
  }
  TForm* Child(const char* name, Rect r, TBorderIcons icons = biSystemMenu | biMinimize) {
    auto* c = Create<TForm>(Application());
    c->SetName(name);
    c->SetFormStyle(TFormStyle::fsMDIChild);
    c->SetBorderIcons(icons);
    c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
    c->AfterConstruction();
    c->Show();
    Pump();
    return c;
  }
  std::string Order() const {
    std::string s;
    for (int i = 0; i < frame->MDIChildCount(); ++i) s += frame->MDIChildren(i)->Name();
    return s;
  }
  TMdiFrame* frame = nullptr;
  HWND client = 0;
};

TEST_F(MdiFormTest, ChildrenOrderActivationAndNext) {
  Child("A", Bounds(0, 0, 100, 80));
  Child("B", Bounds(20, 20, 100, 80));
  Child("C", Bounds(40, 40, 100, 80));
  struct Step {
    WPARAM next;  // lParam of WM_MDINEXT; 2: nothing sent
    std::string order;
  };
  for (const Step& s : {Step{2, "CBA"}, Step{0, "BAC"}, Step{0, "ACB"}, Step{1, "BAC"}}) {
    if (s.next != 2) SendMessage(client, WM_MDINEXT, 0, LPARAM(s.next));
    Pump();
    EXPECT_EQ(Order(), s.order);
    EXPECT_EQ(frame->ActiveMDIChild()->Name(), s.order.substr(0, 1));
  }
}

TEST_F(MdiFormTest, MinimisedChildrenLineUpAlongTheBottomAndComeBack) {
  TForm* a = Child("A", Bounds(10, 10, 100, 80));
  TForm* b = Child("B", Bounds(30, 30, 100, 80));
  Rect area;
  ASSERT_TRUE(GetClientRect(client, area));
  a->SetWindowState(TWindowState::wsMinimized);
  b->SetWindowState(TWindowState::wsMinimized);
  Pump();
  for (const auto& [form, slot] : {std::pair{a, 0}, std::pair{b, 1}}) {
    EXPECT_EQ(form->WindowState(), TWindowState::wsMinimized);
    EXPECT_EQ(form->Left(), 160 * slot);
    EXPECT_EQ(form->Width(), 160);
    EXPECT_EQ(form->Top() + form->Height(), area.Height());
  }
  a->SetWindowState(TWindowState::wsNormal);
  Pump();
  EXPECT_EQ(a->BoundsRect(), Bounds(10, 10, 100, 80));
}

TEST_F(MdiFormTest, CloseMinimisesWithAMinimiseIconElseDoesNothing) {
  for (const TBorderIcons icons :
       {TBorderIcons(biSystemMenu | biMinimize), TBorderIcons(biSystemMenu)}) {
    TForm* c = Child("C", Bounds(10, 10, 100, 80), icons);
    c->Close();
    Pump();
    EXPECT_EQ(c->WindowState(),
              (icons & biMinimize) ? TWindowState::wsMinimized : TWindowState::wsNormal);
    EXPECT_EQ(frame->MDIChildCount(), icons == biSystemMenu ? 2 : 1);
  }
}

TEST_F(MdiFormTest, ClientScrollsChildrenOutsideItAndNotAMaximisedOne) {
  TForm* a = Child("A", Bounds(-50, 10, 100, 80));
  SCROLLINFO si;
  si.fMask = SIF_ALL;
  ASSERT_TRUE(GetScrollInfo(client, SB_HORZ, si));
  EXPECT_NE(GetWindowLong(client, GWL_STYLE) & WS_HSCROLL, 0);
  EXPECT_EQ(si.nMin, -50);
  EXPECT_EQ(si.nPos, 0);
  SendMessage(client, WM_HSCROLL, MAKELONG(SB_THUMBPOSITION, std::uint16_t(-20)), 0);
  EXPECT_EQ(a->Left(), -30);
  ASSERT_TRUE(GetScrollInfo(client, SB_HORZ, si));
  EXPECT_EQ(si.nMin, -30);
  a->SetWindowState(TWindowState::wsMaximized);
  Pump();
  EXPECT_EQ(GetWindowLong(client, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL), 0);
  Rect ac, cc;
  ASSERT_TRUE(GetClientRect(a->Handle(), ac));
  ASSERT_TRUE(GetClientRect(client, cc));
  EXPECT_EQ(ac, cc);
}

TEST_F(MdiFormTest, ChildWithoutAnMdiMainFormIsRefused) {
  frame->SetFormStyle(TFormStyle::fsNormal);
  auto* c = Create<TForm>(Application());
  c->SetFormStyle(TFormStyle::fsMDIChild);
  EXPECT_THROW(c->HandleNeeded(), Exception);
}

}  // namespace
}  // namespace qv
