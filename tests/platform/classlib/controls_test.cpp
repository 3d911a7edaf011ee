#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"
#include "platform/ui/window_system.h"
#include "platform/classlib/dialogs.h"
#include "platform/classlib/extctrls.h"
#include "platform/classlib/forms.h"
#include "platform/classlib/menus.h"
#include "platform/classlib/stdctrls.h"
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

TEST_F(ControlsTest, ChoosingInAComboBoxWithKeysAndMouse) {
  TForm* form = MakeForm();
  auto* combo = Place<TComboBox>(form, {10, 10, 150, 31});
  for (const char* s : {"MP3", "OGG", "FLAC"}) combo->Items().Add(s);
  combo->SetItemIndex(0);
  std::vector<std::string> changes;
  combo->OnChange = [&](TComponent*) { changes.push_back(combo->Text()); };
  int dialogKeys = 0;
  form->OnKeyPress = [&](TComponent*, char& k) {
    if (k == 27 || k == 13) ++dialogKeys;
  };
  form->SetKeyPreview(true);
  ShowForm(form);
  combo->SetFocus();
  Pump();
  EXPECT_EQ(combo->Text(), "MP3");

  Key(VK_DOWN);
  EXPECT_EQ(combo->ItemIndex(), 1);
  Key(VK_DOWN);
  Key(VK_DOWN);  // stays on the last
  EXPECT_EQ(combo->Text(), "FLAC");
  EXPECT_EQ(changes, (std::vector<std::string>{"OGG", "FLAC"}));

  // A click drops the list down; a click on an item chooses it and closes the list.
  Click(combo, {130, 10});
  ASSERT_TRUE(combo->DroppedDown());
  const int rowH = 12;  // the built-in font's cell
  headless->InjectClick(combo->ClientToScreen({20, 21 + 1 + rowH / 2}));
  Pump();
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_EQ(combo->Text(), "MP3");

  // F4 opens it, arrows move in the list, Enter takes the choice; Escape closes without
  // one, and neither key reaches the form while the list is down.
  Key(VK_F4);
  ASSERT_TRUE(combo->DroppedDown());
  Key(VK_DOWN);
  Key(VK_RETURN, "\r");
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_EQ(combo->Text(), "OGG");
  Key(VK_DOWN, {}, kModAlt);
  ASSERT_TRUE(combo->DroppedDown());
  Key(VK_DOWN);
  Key(VK_ESCAPE, "\x1b");
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_EQ(combo->Text(), "OGG");
  EXPECT_EQ(changes, (std::vector<std::string>{"OGG", "FLAC", "MP3", "OGG"}));
  EXPECT_EQ(dialogKeys, 0);

  // A click outside the dropped list only closes it.
  Click(combo, {130, 10});
  ASSERT_TRUE(combo->DroppedDown());
  Click(form, {250, 150});
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_EQ(combo->Text(), "OGG");
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

TEST_F(ControlsTest, ModalFormRunsANestedLoopUntilItHasAResult) {
  TForm* main = MakeForm();
  auto* open = Place<TButton>(main, {10, 10, 85, 35});
  ShowForm(main);
  const HWND mainHandle = main->Handle();

  TModalResult result = mrNone;
  bool mainDisabledMeanwhile = false;
  int depthAfterShow = 0;
  open->OnClick = [&](TComponent*) {
    auto* dialog = Create<TForm>(Application());
    dialog->SetBorderStyle(TFormBorderStyle::bsDialog);
    dialog->SetPosition(TPosition::poScreenCenter);
    dialog->SetBounds(0, 0, 200, 120);
    auto* ok = Create<TButton>(dialog);
    ok->SetParent(dialog);
    ok->SetBounds(60, 40, 75, 25);
    ok->SetModalResult(mrOk);
    ok->SetDefault(true);
    dialog->AfterConstruction();
    // The user presses Enter once the dialog is up; the click runs in the nested loop.
    dialog->OnShow = [&](TComponent*) {
      ++depthAfterShow;
      headless->InjectKey(VK_RETURN, true, "\r");
      headless->InjectKey(VK_RETURN, false);
    };
    ok->OnClick = [&](TComponent*) { mainDisabledMeanwhile = !IsWindowEnabled(mainHandle); };
    result = dialog->ShowModal();
    EXPECT_FALSE(IsWindowVisible(dialog->Handle()));
    Free(dialog);
  };
  Click(open, {10, 10});
  EXPECT_EQ(depthAfterShow, 1);
  EXPECT_EQ(result, mrOk);
  EXPECT_TRUE(mainDisabledMeanwhile);
  EXPECT_TRUE(IsWindowEnabled(mainHandle));

  // Closing a modal form is a cancel; a close query can refuse it.
  auto* dialog = Create<TForm>(Application());
  dialog->SetBounds(120, 120, 100, 80);
  dialog->AfterConstruction();
  int queries = 0;
  dialog->OnCloseQuery = [&](TComponent*, bool& canClose) { canClose = ++queries > 1; };
  dialog->OnShow = [&](TComponent*) {
    dialog->Close();
    dialog->Close();
  };
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_EQ(queries, 2);
  dialog->OnShow = nullptr;
  EXPECT_THROW(
      {
        dialog->Show();
        dialog->ShowModal();
      },
      Exception);
}

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

}  // namespace
}  // namespace qv
