#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/classlib/dialogs.h"
#include "platform/classlib/extctrls.h"
#include "platform/classlib/forms.h"
#include "platform/classlib/menus.h"
#include "platform/classlib/stdctrls.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "platform/ui/window_system.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv {
namespace {

using test::ClassLibTest;

class ControlsTest : public ClassLibTest {};

template <class T>
T* Place(TForm* form, Rect r) {
  auto* c = Create<T>(form);
  c->SetParent(form);
  c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
  return c;
}

// A form that records the dialog keys it gets, as the main window's handler does.
class KeyForm : public TForm {
 public:
  explicit KeyForm(TComponent* owner) : TForm(owner) {}
  std::vector<std::uint16_t> dialogKeys;
  bool takeEscape = true;

 protected:
  void CMDialogKey(TMessage& m) override {
    dialogKeys.push_back(static_cast<std::uint16_t>(m.WParam));
    if (m.WParam == VK_ESCAPE && takeEscape) {
      m.Result = 1;
      return;
    }
    TForm::CMDialogKey(m);
  }
};

// A combo box that asks for every key, as the program's own combo boxes do.
class AllKeysCombo : public TCustomComboBox {
 public:
  explicit AllKeysCombo(TComponent* owner) : TCustomComboBox(owner) {}

 protected:
  LRESULT DialogCode() const override { return DLGC_WANTALLKEYS; }
  void KeyPress(char& key) override {
    if (key == '\r' && !DroppedDown()) {
      SetDroppedDown(true);
      key = 0;
      return;
    }
    TCustomComboBox::KeyPress(key);
  }
};

TEST_F(ControlsTest, ClosingDuringAClickHandlerWaitsForTheHandler) {
  OnOwnGuiThread([&] {
    TForm* main = nullptr;
    Application()->CreateForm(main);
    ASSERT_EQ(Application()->MainForm(), main);
    main->Show();
    Pump();
    auto* second = Create<TForm>(Application());
    second->SetBounds(150, 150, 200, 100);
    auto* button = Create<TButton>(second);
    button->SetParent(second);
    button->SetBounds(10, 10, 75, 25);
    bool destroyed = false;
    second->OnDestroy = [&](TComponent*) { destroyed = true; };
    second->OnClose = [](TComponent*, TCloseAction& action) { action = TCloseAction::caFree; };
    bool aliveAfterClose = false;
    button->OnClick = [&](TComponent*) {
      second->Close();
      // Still here: the handler goes on with its form and its button.
      aliveAfterClose = !destroyed && second->Visible();
      button->SetCaption("clicked");
    };
    second->AfterConstruction();
    second->Show();
    Pump();
    Click(button, {10, 10});
    EXPECT_TRUE(aliveAfterClose);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(Screen()->FormCount(), 1);

    // Closing the main form ends the application.
    EXPECT_FALSE(Application()->Terminated());
    main->Close();
    Pump();
    EXPECT_TRUE(Application()->Terminated());
  });
}

// A form whose creation handler fails part way still opens; the failure is reported.
class FailingForm : public TForm {
 public:
  explicit FailingForm(TComponent* owner) : TForm(owner) {
    ReadFormData(this, [this] {
      SetBorderStyle(TFormBorderStyle::bsNone);
      SetBounds(0, 0, 100, 80);
      SetVisible(true);
    });
    OnCreate = [this](TComponent*) {
      steps = 1;
      throw Exception("Cannot open the log");
    };
  }
  int steps = 0;
};

// Characters a focused control does not type, and Alt+letters, go round the form's
// controls as CM_DIALOGCHAR until one takes them; a child's WM_COMMAND comes back to it as
// CN_COMMAND.
TEST_F(ControlsTest, DialogCharsReachTheFormsControlsAndCommandsAreReflected) {
  TForm* form = MakeForm();
  auto* button = Place<TButton>(form, {10, 10, 85, 35});
  auto* edit = Place<TEdit>(form, {10, 40, 85, 60});
  auto* panel = Place<TPanel>(form, {100, 10, 200, 60});
  auto* inner = Place<TButton>(form, {5, 5, 50, 30});
  inner->SetParent(panel);
  std::vector<std::string> chars;
  std::vector<WPARAM> commands;
  const auto inherited = inner->WindowProc;
  inner->WindowProc = [&](TMessage& m) {
    if (m.Msg == CM_DIALOGCHAR) {
      chars.push_back(std::string(1, char(m.WParam)));
      m.Result = m.WParam == 'r' ? 1 : 0;
      return;
    }
    if (m.Msg == CN_COMMAND) commands.push_back(m.WParam);
    inherited(m);
  };
  ShowForm(form);
  button->SetFocus();
  Type("r");
  edit->SetFocus();
  Type("x");  // typed into the edit, offered to nobody
  headless->InjectKey('Q', true, "q", kModAlt);
  headless->InjectKey('Q', false, {}, kModAlt);
  Pump();
  EXPECT_EQ(chars, (std::vector<std::string>{"r", "q"}));
  EXPECT_EQ(edit->Text(), "x");
  panel->Perform(WM_COMMAND, 7, static_cast<LPARAM>(inner->Handle()));
  EXPECT_EQ(commands, (std::vector<WPARAM>{7}));
  inner->WindowProc = inherited;  // the lambda's locals end with the test
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// Components that outlive the application's last moments must not make a new one.
TEST_F(ControlsTest, ExistingApplicationMakesNone) {
  DestroyApplication();
  EXPECT_EQ(ExistingApplication(), nullptr);
  struct TWatcher : TComponent {
    using TComponent::TComponent;
    ~TWatcher() override { *seen = ExistingApplication(); }
    TApplication** seen = nullptr;
  };
  TApplication* seen = Application();
  EXPECT_EQ(ExistingApplication(), seen);
  auto* watcher = Create<TWatcher>(MakeForm());
  watcher->seen = &seen;
  DestroyApplication();
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(ExistingApplication(), nullptr);
}

// An edit that keeps a 3-pixel border out of its client area, as a skinned edit does.
class NcEdit : public TEdit {
 public:
  using TEdit::TEdit;

 protected:
  void WndProc(TMessage& m) override {
    TEdit::WndProc(m);
    if (m.Msg == WM_NCCALCSIZE) {
      auto* p = reinterpret_cast<NCCALCSIZE_PARAMS*>(m.LParam);
      Rect& r = p->rgrc[0];
      r = {r.Left + 3, r.Top + 3, r.Right - 3, r.Bottom - 3};
    }
  }
};

TEST_F(ControlsTest, ClientRectIsWhatNcCalcSizeLeft) {
  TForm* form = MakeForm();
  auto* edit = Place<NcEdit>(form, {10, 10, 110, 31});
  EXPECT_EQ(edit->ClientRect(), (Rect{0, 0, 100, 21}));  // no window yet: the whole size
  edit->HandleNeeded();
  EXPECT_EQ(edit->ClientRect(), (Rect{0, 0, 94, 15}));
  edit->SetBounds(10, 10, 60, 20);
  EXPECT_EQ(edit->ClientRect(), (Rect{0, 0, 54, 14}));
  auto* plain = Place<TEdit>(form, {10, 40, 110, 61});
  plain->HandleNeeded();
  EXPECT_EQ(plain->ClientRect(), (Rect{0, 0, 100, 21}));
}

// An edit keeps its text itself; its window answers with it, and another thread that reads
// the focus (as the exception logger does for a report) sees it once this thread is idle.
TEST_F(ControlsTest, FocusedEditsOwnTextReachesOtherThreads) {
  TForm* form = MakeForm();
  form->SetCaption("Rip settings");
  auto* edit = Place<TEdit>(form, {10, 10, 110, 31});
  ShowForm(form);
  edit->SetFocus();
  Type("blue");
  EXPECT_EQ(edit->Text(), "blue");
  EXPECT_EQ(GetWindowText(edit->Handle()), "blue");
  qv::ProcessMessages();  // the thread goes idle, as in its message loop
  FOREGROUNDINFO info;
  bool seen = false;
  std::thread([&] { seen = GetForegroundInfo(info); }).join();
  ASSERT_TRUE(seen);
  EXPECT_EQ(info.formText, "Rip settings");
  EXPECT_EQ(info.controlClass, GetClassName(edit->Handle()));
  EXPECT_EQ(info.controlText, "blue");
}

TEST(ShortCutText, NamesModifiersAndKeys) {
  const struct {
    std::uint16_t shortCut;
    const char* text;
  } cases[] = {{std::uint16_t(scCtrl | 'S'), "Ctrl+S"},
               {std::uint16_t(scShift | scCtrl | unsigned(VK_F5)), "Shift+Ctrl+F5"},
               {std::uint16_t(scAlt | unsigned(VK_DOWN)), "Alt+Down"},
               {VK_NEXT, "PgDn"},
               {VK_RETURN, "Enter"},
               {std::uint16_t(scCtrl | unsigned(VK_CAPITAL)), ""}};
  for (const auto& c : cases) EXPECT_EQ(ShortCutToText(c.shortCut), c.text) << c.shortCut;
}

}  // namespace
}  // namespace qv
