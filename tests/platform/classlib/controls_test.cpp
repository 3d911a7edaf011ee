#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/classlib/dialogs.h"
#include "platform/classlib/extctrls.h"
#include "platform/classlib/forms.h"
#include "platform/classlib/menus.h"
#include "platform/classlib/stdctrls.h"
#include "platform/msg/message_queue.h"
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

TEST_F(ControlsTest, TypingAndSelectingInAnEdit) {
  TForm* form = MakeForm();
  auto* edit = Place<TEdit>(form, {10, 10, 200, 31});
  int changes = 0;
  edit->OnChange = [&](TComponent*) { ++changes; };
  ShowForm(form);
  Click(edit, {5, 10});
  ASSERT_TRUE(edit->Focused());
  Type("hello");
  EXPECT_EQ(edit->Text(), "hello");
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(edit->CaretPos(), 5);

  // Shift+Left twice selects "lo"; typing replaces the selection.
  Key(VK_LEFT, {}, kModShift);
  Key(VK_LEFT, {}, kModShift);
  EXPECT_EQ(edit->SelText(), "lo");
  Type("p");
  EXPECT_EQ(edit->Text(), "help");
  // Left without Shift drops the selection and moves; Delete removes the next character.
  Key(VK_HOME);
  Key(VK_DELETE);
  EXPECT_EQ(edit->Text(), "elp");
  Key(VK_END);
  Key(VK_BACK, "\b");
  EXPECT_EQ(edit->Text(), "el");
  Key(VK_HOME);
  Key(VK_END, {}, kModShift);
  EXPECT_EQ(edit->SelLength(), 2);
  Type("\xE9t\xE9");  // Latin-1 keys become UTF-8 text
  EXPECT_EQ(edit->Text(), "\xC3\xA9t\xC3\xA9");
  Key(VK_LEFT);
  EXPECT_EQ(edit->CaretPos(), 3);  // one character back, two bytes

  // A click puts the caret where it lands: before the first character.
  Click(edit, {1, 10});
  EXPECT_EQ(edit->CaretPos(), 0);
  EXPECT_EQ(edit->SelLength(), 0);
  // Dragging selects; a double click selects a word; Ctrl+A everything.
  const std::string kept = edit->Text();
  edit->SetText("rip the disc");
  Press(edit, {3 + 6 * 4, 10});
  MoveTo(edit, {3 + 6 * 8, 10});
  Release(edit, {3 + 6 * 8, 10});
  EXPECT_EQ(edit->SelText(), "the ");
  headless->Clock()->Advance(std::chrono::seconds(2));  // not a double click with the last
  Click(edit, {3 + 6 * 10, 10});
  Click(edit, {3 + 6 * 10, 10});
  EXPECT_EQ(edit->SelText(), "disc");
  Key('A', "\x01", kModControl);
  EXPECT_EQ(edit->SelText(), "rip the disc");
  edit->SetText(kept);

  // Read-only: the caret moves, the text stays.
  edit->SetReadOnly(true);
  const int before = changes;
  Type("zz");
  Key(VK_DELETE);
  Key(VK_BACK, "\b");
  EXPECT_EQ(edit->Text(), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(changes, before);
  Key(VK_END, {}, kModShift);
  EXPECT_EQ(edit->SelLength(), 5);

  // MaxLength counts characters.
  edit->SetReadOnly(false);
  edit->SetText("");
  edit->SetMaxLength(3);
  Type("abcdef");
  EXPECT_EQ(edit->Text(), "abc");
}

TEST_F(ControlsTest, ChoosingInAListBoxWithKeysAndMouse) {
  TForm* form = MakeForm();
  auto* list = Place<TListBox>(form, {10, 10, 150, 110});
  for (const char* s : {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta",
                        "iota", "kappa", "lambda", "mu"})
    list->Items().Add(s);
  std::vector<int> clicks;
  list->OnClick = [&](TComponent*) { clicks.push_back(list->ItemIndex()); };
  ShowForm(form);
  list->SetFocus();
  Pump();
  ASSERT_TRUE(list->Focused());
  EXPECT_EQ(list->ItemIndex(), -1);
  Key(VK_DOWN);
  Key(VK_DOWN);
  EXPECT_EQ(list->ItemIndex(), 1);
  Key(VK_END);
  EXPECT_EQ(list->ItemIndex(), 11);
  EXPECT_GT(list->TopIndex(), 0);  // scrolled to show it
  Key(VK_HOME);
  EXPECT_EQ(list->ItemIndex(), 0);
  EXPECT_EQ(list->TopIndex(), 0);
  Type("e");  // the next item starting with "e"
  EXPECT_EQ(list->ItemIndex(), 4);
  Key(VK_UP);  // arrows stay in the list instead of moving the focus
  EXPECT_TRUE(list->Focused());

  const int h = list->ItemHeight();
  Click(list, {20, 2 + 2 * h + h / 2});
  EXPECT_EQ(list->ItemIndex(), 2);
  // More items than rows: a scroll bar at the right moves the rows, the focus stays.
  const int topBefore = list->TopIndex();
  Click(list, {140 - 2 - 8, 100 - 2 - 8});  // its down arrow
  EXPECT_EQ(list->TopIndex(), topBefore + 1);
  EXPECT_TRUE(list->Focused());
  Key(VK_HOME);
  EXPECT_EQ(list->TopIndex(), 0);
  Key(VK_DOWN);
  Key(VK_DOWN);
  EXPECT_EQ(clicks, (std::vector<int>{0, 1, 11, 0, 4, 3, 2, 0, 1, 2}));
  // Clicking the chosen item again is no new choice; the empty area below is none.
  Click(list, {20, 2 + 2 * h + h / 2});
  list->Items().Delete(11);
  list->Items().Delete(10);
  EXPECT_EQ(clicks.size(), 10u);

  // A disabled list ignores the user.
  list->SetEnabled(false);
  Click(list, {20, 2 + h / 2});
  EXPECT_EQ(list->ItemIndex(), 2);
  // Clearing the items clears the choice.
  list->Items().Clear();
  EXPECT_EQ(list->ItemIndex(), -1);
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

TEST_F(ControlsTest, AButtonClicksOnAReleaseOverItOnly) {
  TForm* form = MakeForm();
  auto* button = Place<TButton>(form, {10, 10, 85, 35});
  auto* other = Place<TButton>(form, {100, 10, 175, 35});
  int clicks = 0;
  int otherClicks = 0;
  button->OnClick = [&](TComponent*) { ++clicks; };
  other->OnClick = [&](TComponent*) { ++otherClicks; };
  ShowForm(form);

  Press(button, {5, 5});
  Release(button, {100, 40});  // released elsewhere
  EXPECT_EQ(clicks, 0);
  Press(button, {5, 5});
  MoveTo(button, {100, 50});  // away and back again
  Release(button, {6, 6});
  EXPECT_EQ(clicks, 1);
  Press(other, {5, 5});
  Release(button, {6, 6});  // pressed on another button
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(otherClicks, 0);
  Click(button, {30, 12});
  EXPECT_EQ(clicks, 2);
  // The space bar clicks the focused button when it comes up.
  headless->InjectKey(VK_SPACE, true, " ");
  Pump();
  EXPECT_EQ(clicks, 2);
  headless->InjectKey(VK_SPACE, false);
  Pump();
  EXPECT_EQ(clicks, 3);
  // A disabled button does nothing.
  button->SetEnabled(false);
  Click(button, {30, 12});
  EXPECT_EQ(clicks, 3);
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

TEST_F(ControlsTest, DialogKeysReachTheFormWhicheverControlHasTheFocus) {
  auto* form = Create<KeyForm>(Application());
  form->SetBounds(100, 100, 300, 200);
  form->SetKeyPreview(true);
  std::string typed;
  form->OnKeyPress = [&](TComponent*, char& k) { typed += k; };
  auto* edit = Place<TEdit>(form, {10, 10, 150, 31});
  auto* list = Place<TListBox>(form, {10, 40, 150, 100});
  list->Items().Add("one");
  auto* ok = Place<TButton>(form, {160, 10, 235, 35});
  auto* cancel = Place<TButton>(form, {160, 40, 235, 65});
  ok->SetDefault(true);
  cancel->SetCancel(true);
  int okClicks = 0;
  int cancelClicks = 0;
  ok->OnClick = [&](TComponent*) { ++okClicks; };
  cancel->OnClick = [&](TComponent*) { ++cancelClicks; };
  ShowForm(form);

  for (TWinControl* c : std::vector<TWinControl*>{edit, list, ok}) {
    SCOPED_TRACE(c == edit ? "edit" : c == list ? "list" : "button");
    c->SetFocus();
    Pump();
    ASSERT_TRUE(c->Focused());
    form->dialogKeys.clear();
    typed.clear();
    Key(VK_ESCAPE, "\x1b");
    EXPECT_EQ(form->dialogKeys, (std::vector<std::uint16_t>{VK_ESCAPE}));
    EXPECT_EQ(typed, "");  // a key the form took types nothing
    Key(VK_RETURN, "\r");
    EXPECT_EQ(form->dialogKeys, (std::vector<std::uint16_t>{VK_ESCAPE, VK_RETURN}));
  }
  // Enter clicked the default button from the edit and the list, and the focused button.
  EXPECT_EQ(okClicks, 3);
  // The form let Escape through: the cancel button takes it.
  form->takeEscape = false;
  edit->SetFocus();
  Key(VK_ESCAPE, "\x1b");
  EXPECT_EQ(cancelClicks, 1);
  // Ordinary keys reach the form's preview first, then the control.
  typed.clear();
  Type("ab");
  EXPECT_EQ(typed, "ab");
  EXPECT_EQ(edit->Text(), "ab");
  form->OnKeyPress = [&](TComponent*, char& k) {
    if (k == 'x') k = 0;  // the form may swallow a key
  };
  Type("xy");
  EXPECT_EQ(edit->Text(), "aby");
}

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

TEST_F(ControlsTest, AControlAskingForAllKeysPassesThemToTheFormAsTyping) {
  auto* form = Create<KeyForm>(Application());
  form->SetBounds(100, 100, 300, 200);
  form->SetKeyPreview(true);
  std::string typed;
  form->OnKeyPress = [&](TComponent*, char& k) { typed += k; };
  auto* combo = Create<AllKeysCombo>(form);
  combo->SetParent(form);
  combo->SetBounds(10, 10, 150, 21);
  combo->Items().Add("MP3");
  combo->Items().Add("OGG");
  ShowForm(form);
  combo->SetFocus();
  Pump();
  Key(VK_RETURN, "\r");  // opens the list
  EXPECT_TRUE(combo->DroppedDown());
  Key(VK_ESCAPE, "\x1b");  // closes it, and is used up
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_EQ(typed, "\r");
  Key(VK_ESCAPE, "\x1b");  // with the list closed it reaches the form as a typed key
  EXPECT_EQ(typed, "\r\x1b");
  EXPECT_TRUE(form->dialogKeys.empty());
}

TEST_F(ControlsTest, TabMovesThroughTheTabStopsInTabOrder) {
  TForm* form = MakeForm();
  auto* a = Place<TEdit>(form, {10, 10, 100, 31});
  auto* panel = Place<TPanel>(form, {10, 40, 200, 120});
  auto* b = Create<TEdit>(form);
  b->SetParent(panel);
  b->SetBounds(5, 5, 90, 21);
  auto* c = Place<TButton>(form, {10, 130, 85, 155});
  auto* skipped = Place<TEdit>(form, {110, 10, 200, 31});
  skipped->SetTabStop(false);
  auto* hidden = Place<TEdit>(form, {110, 130, 200, 151});
  hidden->SetVisible(false);
  auto* disabled = Place<TListBox>(form, {210, 10, 290, 100});
  disabled->SetEnabled(false);
  c->SetTabOrder(0);  // c, a, panel (b), skipped, hidden, disabled
  ShowForm(form);
  EXPECT_TRUE(c->Focused());  // the first tab stop takes the focus when the form shows

  std::vector<TWinControl*> seen;
  for (int i = 0; i < 4; ++i) {
    Key(VK_TAB, "\t");
    for (TWinControl* w : std::vector<TWinControl*>{a, b, c, skipped, hidden, disabled})
      if (w->Focused()) seen.push_back(w);
  }
  EXPECT_EQ(seen, (std::vector<TWinControl*>{a, b, c, a}));
  Key(VK_TAB, "\t", kModShift);
  EXPECT_TRUE(c->Focused());
  EXPECT_EQ(form->ActiveControl(), c);
  EXPECT_EQ(a->Text(), "");  // Tab typed nothing
  // A click focuses a control that is no tab stop.
  Click(skipped, {5, 5});
  EXPECT_TRUE(skipped->Focused());
}

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

TEST_F(ControlsTest, APopupMenuChoosesAnItem) {
  TForm* form = MakeForm();
  ShowForm(form);
  auto* menu = Create<TPopupMenu>(form);
  std::vector<std::string> clicked;
  bool closedBeforeClick = false;
  std::vector<TMenuItem*> items;
  for (const char* caption : {"Open", "-", "Disabled", "Save"}) {
    auto* item = Create<TMenuItem>(form);
    item->SetCaption(caption);
    item->OnClick = [&, item](TComponent*) {
      clicked.push_back(item->Caption());
      closedBeforeClick = menu->WindowHandle() == 0;
    };
    menu->Items()->Add(item);
    items.push_back(item);
  }
  items[2]->SetEnabled(false);
  // Owner drawing sizes and paints the last item.
  int measured = 0;
  std::vector<TOwnerDrawState> drawn;
  items[3]->OnMeasureItem = [&](TComponent*, TCanvas&, int&, int& h) {
    ++measured;
    h = 30;
  };
  items[3]->OnAdvancedDrawItem = [&](TComponent*, TCanvas& c, const Rect& r, TOwnerDrawState s) {
    drawn.push_back(s);
    c.Brush().SetColor(clRed);
    c.FillRect(r);
  };

  const int rowH = 12 + 6;
  // Rows: Open (2..20), separator (20..28), Disabled (28..46), Save (46..76).
  auto popupWith = [&](std::function<void()> user) {
    const HWND helper = AllocateHWnd([&](HWND h, UINT m, WPARAM, LPARAM) -> LRESULT {
      if (m == WM_USER) {
        PaintPendingWindows();  // what the user sees before acting
        user();
      }
      return 0;
    });
    PostMessage(helper, WM_USER, 0, 0);
    menu->Popup(300, 300);
    DeallocateHWnd(helper);
  };
  popupWith([&] {
    headless->InjectMouseMove({310, 300 + 2 + rowH + 8 + rowH + 15});
    headless->InjectClick({310, 300 + 2 + rowH + 8 + rowH + 15});
  });
  EXPECT_EQ(clicked, (std::vector<std::string>{"Save"}));
  EXPECT_TRUE(closedBeforeClick);
  EXPECT_EQ(measured, 1);
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(drawn.front(), 0u);  // enabled, not chosen yet

  // Keys: Down skips the separator and the disabled item; Enter chooses.
  popupWith([&] {
    headless->InjectKey(VK_DOWN, true);
    headless->InjectKey(VK_DOWN, true);
    headless->InjectKey(VK_DOWN, true);
    headless->InjectKey(VK_RETURN, true, "\r");
  });
  EXPECT_EQ(clicked, (std::vector<std::string>{"Save", "Open"}));
  // A disabled item, a click elsewhere and Escape choose nothing.
  popupWith([&] {
    headless->InjectClick({310, 300 + 2 + rowH + 8 + 5});
    headless->InjectKey(VK_ESCAPE, true, "\x1b");
  });
  popupWith([&] { headless->InjectClick({10, 10}); });
  EXPECT_EQ(clicked.size(), 2u);
  EXPECT_EQ(menu->WindowHandle(), HWND(0));
}

TEST_F(ControlsTest, APopupMenuCascadesIntoSubmenus) {
  TForm* form = MakeForm();
  ShowForm(form);
  auto* menu = Create<TPopupMenu>(form);
  std::vector<std::string> clicked;
  auto add = [&](TMenuItem* parent, const char* caption) {
    auto* item = Create<TMenuItem>(form);
    item->SetCaption(caption);
    item->OnClick = [&clicked, item](TComponent*) { clicked.push_back(item->Caption()); };
    parent->Add(item);
    return item;
  };
  TMenuItem* file = add(menu->Items(), "File");
  add(file, "Open");
  add(file, "Save");
  add(menu->Items(), "Exit");
  auto popupWith = [&](std::function<void()> user) {
    const HWND helper = AllocateHWnd([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      if (m == WM_USER) user();
      return 0;
    });
    PostMessage(helper, WM_USER, 0, 0);
    menu->Popup(300, 300);
    DeallocateHWnd(helper);
  };
  const int rowH = 12 + 6;
  const int fileY = 300 + 2 + rowH / 2;
  // Rows of the first level start 2 pixels in; "File" cascades beside its row.
  popupWith([&] {
    headless->InjectMouseMove({310, fileY});
    // The submenu lies to the right of the first level, its first row level with "File".
    headless->InjectMouseMove({300 + 100, fileY + rowH});
    headless->InjectClick({300 + 100, fileY + rowH});
  });
  EXPECT_EQ(clicked, (std::vector<std::string>{"Save"}));
  // Keys: Right opens the submenu on its first item, Left closes it again, Escape closes
  // the whole menu.
  popupWith([&] {
    headless->InjectKey(VK_DOWN, true);
    headless->InjectKey(VK_RIGHT, true);
    headless->InjectKey(VK_RETURN, true, "\r");
  });
  EXPECT_EQ(clicked, (std::vector<std::string>{"Save", "Open"}));
  popupWith([&] {
    headless->InjectKey(VK_DOWN, true);
    headless->InjectKey(VK_RIGHT, true);
    headless->InjectKey(VK_LEFT, true);
    headless->InjectKey(VK_DOWN, true);
    headless->InjectKey(VK_RETURN, true, "\r");
  });
  EXPECT_EQ(clicked, (std::vector<std::string>{"Save", "Open", "Exit"}));
  popupWith([&] {
    headless->InjectKey(VK_DOWN, true);
    headless->InjectKey(VK_RETURN, true, "\r");    // opens the submenu
    headless->InjectKey(VK_ESCAPE, true, "\x1b");  // closes it
    headless->InjectKey(VK_ESCAPE, true, "\x1b");  // closes the menu
  });
  EXPECT_EQ(clicked.size(), 3u);
  EXPECT_EQ(menu->WindowHandle(), HWND(0));
}

TEST_F(ControlsTest, MainMenuShortcutsWorkOnTheForm) {
  TForm* form = MakeForm();
  auto* edit = Place<TEdit>(form, {10, 10, 150, 31});
  auto* menu = Create<TMainMenu>(form);
  int saves = 0;
  auto* file = Create<TMenuItem>(form);
  file->SetCaption("File");
  menu->Items()->Add(file);
  auto* save = Create<TMenuItem>(form);
  save->SetCaption("Save");
  save->SetShortCut(scCtrl | 'S');
  save->OnClick = [&](TComponent*) { ++saves; };
  file->Add(save);
  form->SetMenu(menu);
  ShowForm(form);
  edit->SetFocus();
  Key('S', "\x13", kModControl);
  EXPECT_EQ(saves, 1);
  Key('S', "s");  // without Ctrl it is typing
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(edit->Text(), "s");
  EXPECT_EQ(ShortCutToText(save->ShortCut()), "Ctrl+S");
  EXPECT_EQ(ShortCutToText(std::uint16_t(scShift) | std::uint16_t(VK_F4)), "Shift+F4");
  save->SetEnabled(false);
  Key('S', "\x13", kModControl);
  EXPECT_EQ(saves, 1);
  Free(menu);  // the form forgets a menu that goes
  EXPECT_EQ(form->Menu(), nullptr);
  Key('S', "\x13", kModControl);
}

TEST_F(ControlsTest, MouseEnterAndLeaveFollowThePointer) {
  TForm* form = MakeForm();
  auto* panel = Place<TPanel>(form, {10, 10, 110, 60});
  auto* label = Create<TLabel>(form);
  label->SetParent(panel);
  label->SetBounds(10, 10, 40, 20);
  auto* button = Place<TButton>(form, {150, 10, 225, 35});
  std::vector<std::string> events;
  for (TControl* c : std::vector<TControl*>{panel, label, button}) {
    const std::string name = c == panel ? "panel" : c == label ? "label" : "button";
    c->OnMouseEnter = [&events, name](TComponent*) { events.push_back("+" + name); };
    c->OnMouseLeave = [&events, name](TComponent*) { events.push_back("-" + name); };
  }
  ShowForm(form);
  MoveTo(panel, {2, 2});
  MoveTo(panel, {15, 15});  // over the label, a graphic control on the panel
  MoveTo(button, {5, 5});
  MoveTo(form, {290, 190});
  headless->InjectMouseLeave();
  Pump();
  EXPECT_EQ(events, (std::vector<std::string>{"+panel", "-panel", "+label", "-label", "+button",
                                              "-button"}));
}

TEST_F(ControlsTest, ParentColourAndFontFlowToChildrenUntilTheyChooseTheirOwn) {
  TForm* form = MakeForm();
  auto* panel = Place<TPanel>(form, {0, 0, 100, 100});
  auto* label = Create<TLabel>(form);
  label->SetParent(panel);
  panel->SetColor(clRed);
  EXPECT_EQ(label->Color(), clRed);  // labels take their parent's colour
  form->Font().SetHeight(-19);
  EXPECT_EQ(panel->Font().Height(), -19);
  EXPECT_EQ(label->Font().Height(), -19);
  label->Font().SetStyle(fsBold);
  EXPECT_FALSE(label->ParentFont());
  form->Font().SetHeight(-11);
  EXPECT_EQ(label->Font().Height(), -19);
  label->SetColor(clBlue);
  panel->SetColor(clLime);
  EXPECT_EQ(label->Color(), clBlue);
  label->SetParentColor(true);
  EXPECT_EQ(label->Color(), clLime);
}

TEST_F(ControlsTest, AlignedControlsFillTheirParent) {
  TForm* form = MakeForm(300, 200);
  auto* bottom = Place<TPanel>(form, {0, 0, 10, 41});
  bottom->SetAlign(TAlign::alBottom);
  auto* above = Place<TPanel>(form, {0, 0, 10, 60});
  above->SetAlign(TAlign::alBottom);
  auto* client = Place<TPanel>(form, {0, 0, 10, 10});
  client->SetAlign(TAlign::alClient);
  auto* inner = Create<TPanel>(form);
  inner->SetParent(bottom);
  inner->SetAlign(TAlign::alClient);
  EXPECT_EQ(bottom->BoundsRect(), (Rect{0, 159, 300, 200}));
  EXPECT_EQ(above->BoundsRect(), (Rect{0, 99, 300, 159}));
  EXPECT_EQ(client->BoundsRect(), (Rect{0, 0, 300, 99}));
  EXPECT_EQ(inner->BoundsRect(), (Rect{1, 1, 299, 40}));  // inside the bevel
  form->SetBounds(100, 100, 400, 300);
  EXPECT_EQ(bottom->BoundsRect(), (Rect{0, 259, 400, 300}));
  EXPECT_EQ(client->BoundsRect(), (Rect{0, 0, 400, 199}));
}

TEST_F(ControlsTest, ScrollBarScrollsWithMouseAndKeys) {
  TForm* form = MakeForm();
  auto* bar = Place<TScrollBar>(form, {10, 10, 210, 26});
  bar->SetParams(0, 0, 100);
  bar->SetLargeChange(10);
  std::vector<int> positions;
  bar->OnChange = [&](TComponent*) { positions.push_back(bar->Position()); };
  std::vector<TScrollCode> codes;
  bar->OnScroll = [&](TComponent*, TScrollCode code, int& pos) {
    codes.push_back(code);
    if (pos > 90) pos = 90;  // OnScroll may change where it goes
  };
  ShowForm(form);
  Click(bar, {195, 8});  // the right arrow
  Click(bar, {150, 8});  // the track right of the thumb
  bar->SetFocus();
  Key(VK_END);
  Key(VK_LEFT);
  EXPECT_EQ(positions, (std::vector<int>{1, 11, 90, 89}));
  EXPECT_EQ(codes, (std::vector<TScrollCode>{scLineDown, scPageDown, scBottom, scLineUp}));
  EXPECT_THROW(bar->SetParams(0, 10, 5), Exception);
}

TEST_F(ControlsTest, FormDataCreatesInOrderAndLoadsOnce) {
  std::vector<std::string> loaded;
  struct Probe : TEdit {
    Probe(TComponent* owner, std::vector<std::string>* log) : TEdit(owner), log_(log) {}
    void Loaded() override {
      log_->push_back(Name() + (HasState(csLoading) ? " loading" : " not loading"));
      TEdit::Loaded();
    }
    std::vector<std::string>* log_;
  };
  auto* form = Create<TForm>(Application());
  Probe* first = nullptr;
  ReadFormData(form, [&] {
    form->SetBorderStyle(TFormBorderStyle::bsNone);
    form->SetCaption("Quorvel");
    form->SetClientSize(790, 560);
    form->SetPosition(TPosition::poScreenCenter);
    form->SetKeyPreview(true);
    form->SetVisible(true);
    first = new Probe(form, &loaded);
    first->SetName("first");
    first->SetParent(form);
    auto* second = new Probe(form, &loaded);
    second->SetName("second");
    second->SetParent(form);
    second->SetAlign(TAlign::alBottom);
    second->SetHeight(41);
    EXPECT_EQ(second->Top(), 0);  // no layout while loading
    form->SetActiveControl(second);
  });
  EXPECT_EQ(loaded, (std::vector<std::string>{"first loading", "second loading"}));
  EXPECT_FALSE(form->HasState(csLoading));
  form->AfterConstruction();  // shows it: its form data made it visible
  Pump();
  EXPECT_EQ(form->Width(), 790);
  EXPECT_EQ(form->Left(), (1024 - 790) / 2);  // centred on the one headless screen
  auto* second = static_cast<Probe*>(form->FindComponent("second"));
  EXPECT_EQ(second->Top(), 560 - 41);
  EXPECT_TRUE(second->Focused());
  EXPECT_TRUE(headless->IsShown(form->Handle()));
}

TEST_F(ControlsTest, ExceptionsFromHandlersGoToTheApplication) {
  TForm* form = MakeForm();
  auto* button = Place<TButton>(form, {10, 10, 85, 35});
  button->OnClick = [](TComponent*) { throw Exception("Disc not ready"); };
  std::vector<std::string> reported;
  Application()->OnException = [&](TComponent*, const std::exception& e) {
    reported.push_back(e.what());
  };
  ShowForm(form);
  Click(button, {10, 10});
  Click(button, {10, 10});  // the loop goes on
  EXPECT_EQ(reported, (std::vector<std::string>{"Disc not ready", "Disc not ready"}));

  // Without a hook, headless: one line on stderr and the default answer.
  Application()->OnException = nullptr;
  Application()->SetTitle("Quorvel");
  testing::internal::CaptureStderr();
  Click(button, {10, 10});
  EXPECT_EQ(MessageBox("Overwrite?", "Quorvel", MB_YESNO | MB_DEFBUTTON2), IDNO);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Quorvel: Disc not ready\nQuorvel: Overwrite?\n");
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

TEST_F(ControlsTest, AFailingCreationHandlerIsReportedAndTheFormStillOpens) {
  Application()->SetTitle("Quorvel");
  testing::internal::CaptureStderr();
  FailingForm* form = nullptr;
  Application()->CreateForm(form);
  Pump();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Quorvel: Cannot open the log\n");
  EXPECT_EQ(form->steps, 1);
  EXPECT_TRUE(headless->IsShown(form->Handle()));
  EXPECT_EQ(Application()->MainForm(), form);
}

TEST_F(ControlsTest, RunServesTheMainFormUntilItCloses) {
  OnOwnGuiThread([&] {
    TForm* main = nullptr;
    Application()->CreateForm(main);
    main->SetBounds(0, 0, 100, 100);
    main->Show();
    std::vector<UINT> seenByHook;
    std::vector<UINT> seenByWindow;
    const HWND helper = AllocateHWnd([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      seenByWindow.push_back(m);
      if (m == WM_USER + 2) main->Close();
      return 0;
    });
    Application()->OnMessage = [&](MSG& msg, bool& handled) {
      if (msg.hwnd != helper) return;
      seenByHook.push_back(msg.message);
      handled = msg.message == WM_USER + 1;  // kept from the window
    };
    PostMessage(helper, WM_USER + 1, 0, 0);
    PostMessage(helper, WM_USER + 2, 0, 0);
    Application()->Run();
    EXPECT_TRUE(Application()->Terminated());
    EXPECT_EQ(seenByHook, (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
    EXPECT_EQ(seenByWindow, (std::vector<UINT>{WM_USER + 2}));
    DeallocateHWnd(helper);
  });
}

TEST_F(ControlsTest, WindowProcCanBeReplacedAndPassesOn) {
  TForm* form = MakeForm();
  auto* button = Place<TButton>(form, {10, 10, 85, 35});
  int clicks = 0;
  button->OnClick = [&](TComponent*) { ++clicks; };
  ShowForm(form);
  const auto inherited = button->WindowProc;
  std::vector<UINT> texts;
  button->WindowProc = [&](TMessage& m) {
    if (m.Msg == WM_LBUTTONDOWN) return;  // swallowed: no press, so no click
    if (m.Msg == CM_TEXTCHANGED) texts.push_back(m.Msg);
    inherited(m);
  };
  Click(button, {10, 10});
  EXPECT_EQ(clicks, 0);
  button->SetCaption("Rip");
  EXPECT_EQ(texts.size(), 1u);
  EXPECT_EQ(button->Perform(WM_GETDLGCODE), 0);
  button->WindowProc = inherited;
  Click(button, {10, 10});
  EXPECT_EQ(clicks, 1);
}

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

TEST_F(ControlsTest, RecreatedWindowsComeBackWithTheirChildren) {
  TForm* form = MakeForm(200, 120);
  auto* panel = Place<TPanel>(form, {10, 10, 190, 110});
  panel->SetCaption("Panel");
  auto* edit = Create<TEdit>(form);
  edit->SetParent(panel);
  edit->SetBounds(10, 10, 100, 21);
  edit->SetText("kept");
  ShowForm(form);
  PaintPendingWindows();
  const Bitmap before = SnapshotWindow(form->Handle());
  const HWND oldPanel = panel->Handle();
  const HWND oldEdit = edit->Handle();
  panel->Perform(CM_RECREATEWND);
  Pump();
  PaintPendingWindows();
  EXPECT_NE(panel->Handle(), oldPanel);
  EXPECT_NE(edit->Handle(), oldEdit);
  EXPECT_FALSE(IsWindow(oldPanel));
  EXPECT_FALSE(IsWindow(oldEdit));
  EXPECT_TRUE(IsWindowVisible(edit->Handle()));
  EXPECT_EQ(TWinControl::FromHandle(edit->Handle()), edit);
  EXPECT_EQ(TWinControl::FromHandle(oldEdit), nullptr);
  EXPECT_TRUE(SnapshotWindow(form->Handle()) == before);
  // The new windows work: a click focuses the edit, typing reaches it.
  Click(edit, {50, 10});
  Type("!");
  EXPECT_EQ(edit->Text(), "kept!");
}

TEST_F(ControlsTest, WindowStateAndTheApplicationWindowHooks) {
  TForm* main = nullptr;
  Application()->CreateForm(main);
  main->SetBorderStyle(TFormBorderStyle::bsSizeable);
  main->SetBounds(10, 10, 200, 150);
  main->Show();
  Pump();
  EXPECT_EQ(main->WindowState(), TWindowState::wsNormal);
  main->SetWindowState(TWindowState::wsMaximized);
  EXPECT_EQ(main->WindowState(), TWindowState::wsMaximized);
  main->SetWindowState(TWindowState::wsNormal);
  EXPECT_EQ(main->WindowState(), TWindowState::wsNormal);
  Application()->Minimize();
  EXPECT_EQ(main->WindowState(), TWindowState::wsMinimized);

  std::vector<UINT> hooked;
  const int id = Application()->HookMainWindow([&](TMessage& m) {
    hooked.push_back(m.Msg);
    if (m.Msg != WM_USER + 7) return false;
    m.Result = 42;
    return true;
  });
  EXPECT_EQ(SendMessage(Application()->Handle(), WM_USER + 7, 0, 0), 42);
  EXPECT_EQ(SendMessage(Application()->Handle(), WM_USER + 8, 0, 0), 0);
  Application()->UnhookMainWindow(id);
  EXPECT_EQ(SendMessage(Application()->Handle(), WM_USER + 7, 0, 0), 0);
  EXPECT_EQ(hooked, (std::vector<UINT>{WM_USER + 7, WM_USER + 8}));
}

TEST_F(ControlsTest, ScreenReportsTheBackEndsMonitors) {
  StopWindowSystem();
  auto backend = std::make_unique<HeadlessBackend>(
      std::vector<Monitor>{{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true},
                           {{1920, 0, 3200, 1024}, {1920, 0, 3200, 1024}, false}});
  headless = backend.get();
  ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  EXPECT_EQ(Screen()->MonitorCount(), 2);
  EXPECT_EQ(Screen()->Monitors()[1].Bounds, (Rect{1920, 0, 3200, 1024}));
  EXPECT_EQ(Screen()->Width(), 1920);
  EXPECT_EQ(Screen()->WorkAreaRect(), (Rect{0, 0, 1920, 1040}));
  TForm* form = MakeForm();
  ShowForm(form);
  EXPECT_EQ(Screen()->ActiveForm(), form);
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

}  // namespace
}  // namespace qv
