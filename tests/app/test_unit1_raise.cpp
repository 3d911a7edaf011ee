// The main window asked by a second copy to come to the front, headless: restored only when
// minimised, with a modal box it shows kept in front of it and given the keyboard; and the
// guard's warning shown as a message box.
#include <gtest/gtest.h>

#include "app/one_instance.h"
#include "app/select_album.h"
#include "platform/ui/headless_backend.h"
#include "tests/app/form_test_util.h"

namespace qv::test {
namespace {

class RaiseTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    ASSERT_TRUE(StartWindowSystem(std::make_unique<HeadlessBackend>()));
    Open({});
    ASSERT_GE(form_->OneInstance1->ListenFd(), 0);
  }
  // A second copy starts and ends: its guard finds the lock taken and, destroyed, asks the
  // first copy to come to the front.
  void SecondCopy() {
    TComponent owner{nullptr};
    auto* guard = Create<TOneInstance>(&owner);
    guard->MutexName = form_->OneInstance1->MutexName;
    guard->RaisePriorInstance = true;
    guard->ApplicationTitle = [] { return std::string("Quorvel"); };
    guard->TerminateApplication = [] {};
    guard->Loaded();
    EXPECT_FALSE(guard->FirstInstance());
  }
  // Whether `Above` is nearer the front than `Below` among the top-level windows.
  static bool InFrontOf(HWND Above, HWND Below) {
    for (HWND h = GetWindow(Below, GW_HWNDFIRST); h != 0; h = GetWindow(h, GW_HWNDNEXT)) {
      if (h == Above) return true;
      if (h == Below) return false;
    }
    return false;
  }
};

// A maximised window behind another comes to the front and stays maximised.
TEST_F(RaiseTest, AMaximisedWindowStaysMaximised) {
  const HWND main = form_->Handle();
  ShowWindow(main, SW_MAXIMIZE);
  auto* other = Create<TForm>(Application());
  other->SetBounds(10, 10, 200, 100);
  other->Show();
  SetForegroundWindow(other->Handle());
  ASSERT_NE(GetActiveWindow(), main);
  SecondCopy();
  ASSERT_TRUE(Pump([main] { return GetActiveWindow() == main; }));
  EXPECT_TRUE(IsZoomed(main));
  EXPECT_TRUE(InFrontOf(main, other->Handle()));
}

// The choice list up when the window was minimised: the window is restored, the list stays
// in front of it and keeps the keyboard.
TEST_F(RaiseTest, TheModalChoiceListStaysInFrontAndKeepsTheKeyboard) {
  const HWND main = form_->Handle();
  auto* choice = Create<TselectAlbumFrm>(form_);
  choice->ListBox1->Items().Add("rock 1234abcd Some Artist / Some Album");
  bool checked = false;
  form_->PostToMain([&] {
    const HWND list = choice->Handle();
    ASSERT_TRUE(IsWindowVisible(list));
    ShowWindow(main, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(main));
    SecondCopy();
    EXPECT_TRUE(Pump([main] { return !IsIconic(main); }));
    ProcessMessages();
    EXPECT_FALSE(IsZoomed(main));
    EXPECT_EQ(GetActiveWindow(), list);
    EXPECT_TRUE(InFrontOf(list, main));
    const HWND focus = GetFocus();
    EXPECT_TRUE(focus == list || IsChild(list, focus));
    checked = true;
    choice->SetModalResult(mrOk);
  });
  (void)choice->ShowModal();
  EXPECT_TRUE(checked);
}

// The guard's warning (a second copy told to stay and to tell the user) is a message box;
// without a display it is said on stderr.
TEST_F(RaiseTest, TheGuardsWarningIsAMessageBox) {
  ASSERT_TRUE(form_->OneInstance1->ShowWarning);
  ::testing::internal::CaptureStderr();
  form_->OneInstance1->ShowWarning("Another instance of this application appears to be running!");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Another instance of this application appears to be running!\n");
}

}  // namespace
}  // namespace qv::test
