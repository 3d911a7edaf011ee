// Dialogs from templates in dialog units and the system's dialog controls: a modal dialog on
// a thread of its own while the main thread waits, the controls' answers to the user, and
// the window class names the error report reads.
#include <gtest/gtest.h>

#include <cmath>
#include <future>

#include "platform/classlib/dialogs.h"
#include "platform/classlib/dlgtemplate.h"
#include "platform/classlib/stdctrls.h"
#include "platform/msg/message_queue.h"
#include "tests/platform/classlib/classlib_test_util.h"

namespace qv::test {
namespace {

using DialogTest = ClassLibTest;

// A part of the error dialog's main template.
DLGTEMPLATE MainTemplate() {
  DLGTEMPLATE t;
  t.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
  t.caption = "Error.";
  t.x = 10;
  t.y = 10;
  t.cx = 473;
  t.cy = 248;
  t.items = {
      {"BUTTON", "&OK", IDOK, BS_DEFPUSHBUTTON | BS_FLAT | WS_TABSTOP, 0, 212, 196, 50, 15},
      {"STATIC", "Text", 101, SS_CENTER, 0, 34, 5, 432, 30},
      {"SysTabControl32", "", 1000, 0, 0, 7, 40, 462, 151},
      {"BUTTON", "Copy to clipboard", 5000, BS_AUTOCHECKBOX | BS_RIGHTBUTTON, 0, 152, 223, 145, 8}};
  return t;
}

TEST_F(DialogTest, TemplateUnitsBecomePixelsOfTheTemplatesFont) {
  const Size units = DialogBaseUnits(Font{"MS Sans Serif", PointsToHeight(8), 0});
  ASSERT_GT(units.cx, 0);
  ASSERT_GT(units.cy, 0);
  const HWND dlg = CreateDialogIndirectParam(MainTemplate(), 0, {});
  ASSERT_NE(dlg, 0u);
  Rect client;
  ASSERT_TRUE(GetClientRect(dlg, client));
  EXPECT_EQ(client.Width(), std::lround(473.0 * units.cx / 4));
  EXPECT_EQ(client.Height(), std::lround(248.0 * units.cy / 8));
  Rect button{212, 196, 262, 211};
  ASSERT_TRUE(MapDialogRect(dlg, button));
  Rect placed;
  ASSERT_TRUE(GetWindowRect(GetDlgItem(dlg, IDOK), placed));
  Point origin{0, 0};
  ClientToScreen(dlg, origin);
  EXPECT_EQ(placed.Offset(-origin.X, -origin.Y), button);
  EXPECT_FALSE(MapDialogRect(GetDlgItem(dlg, IDOK), button));  // not a dialog
  // The window classes the report names, for dialog controls and class-library controls.
  EXPECT_EQ(GetClassName(dlg), "#32770");
  EXPECT_EQ(GetClassName(GetDlgItem(dlg, 1000)), "SysTabControl32");
  TForm* form = MakeForm();
  auto* edit = Create<TEdit>(form);
  edit->SetParent(form);
  ShowForm(form);
  EXPECT_EQ(GetClassName(edit->Handle()), "TEdit");
  EXPECT_EQ(GetClassName(form->Handle()), "TForm");
  DestroyWindow(dlg);
}

// The dialog runs modally on its own thread with its own headless screen while the main
// thread is blocked on the result; the user ticks the box, changes the tab, activates list
// rows by double click and by Return (which the list takes from the dialog keys) and presses
// Escape.
TEST_F(DialogTest, AModalDialogOnAWorkerThreadAnswersTheUser) {
  struct Seen {
    INT_PTR result = 0;
    int checked = -1, tab = -1, tabChanges = 0;
    std::vector<int> activated;
    bool ok = false;
  };
  auto seen = std::async(std::launch::async, [] {
    Seen s;
    auto backend = std::make_unique<HeadlessBackend>();
    HeadlessBackend* screen = backend.get();
    StartWindowSystem(std::move(backend));
    constexpr UINT kAct = WM_USER + 1;
    DLGTEMPLATE t = MainTemplate();
    t.items.push_back({"SysListView32", "", 103, LVS_REPORT | WS_TABSTOP, 0, 7, 60, 200, 100});
    s.result = DialogBoxIndirectParam(t, 0, [&](HWND dlg, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
      const HWND tabs = GetDlgItem(dlg, 1000);
      switch (m) {
        case WM_INITDIALOG:
          for (const char* text : {"General", "Call Stack", "Modules", "CPU"}) {
            SendMessage(tabs, TCM_INSERTITEM, 9, reinterpret_cast<LPARAM>(text));
          }
          for (int i = 0; i < 2; ++i) {
            LVITEM item{i, 0, "row", -1};
            SendMessage(GetDlgItem(dlg, 103), LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
          }
          PostMessage(dlg, kAct, 0, 0);
          return true;
        case kAct: {
          Rect r;
          Point p{0, 0};
          (void)GetWindowRect(GetDlgItem(dlg, 5000), r);  // the box is on the right
          screen->InjectClick({r.Right - 3, (r.Top + r.Bottom) / 2});
          SendMessage(tabs, TCM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&r));
          p = {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
          ClientToScreen(tabs, p);
          screen->InjectClick(p);
          const int line = DialogBaseUnits(Font{}).cy;
          p = {20, (line + 6) + (line + 1) + 3};  // the list's second row
          ClientToScreen(GetDlgItem(dlg, 103), p);
          screen->InjectClick(p);
          screen->InjectClick(p);
          for (unsigned vk : {VK_UP, VK_RETURN, VK_ESCAPE}) screen->InjectKey(vk, true);
          return true;
        }
        case WM_NOTIFY:
          if (reinterpret_cast<NMHDR*>(l)->code == TCN_SELCHANGE) ++s.tabChanges;
          if (reinterpret_cast<NMHDR*>(l)->code == LVN_ITEMACTIVATE) {
            s.activated.push_back(reinterpret_cast<NMITEMACTIVATE*>(l)->iItem);
          }
          return true;
        case WM_COMMAND:
          s.ok = s.ok || LOWORD(w) == IDOK;
          if (LOWORD(w) == IDCANCEL) {
            s.checked = static_cast<int>(SendMessage(GetDlgItem(dlg, 5000), BM_GETCHECK, 0, 0));
            s.tab = static_cast<int>(SendMessage(tabs, TCM_GETCURSEL, 0, 0));
            EndDialog(dlg, 42);
          }
          return true;
        default:
          return false;
      }
    });
    StopWindowSystem();
    return s;
  });
  ASSERT_EQ(seen.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const Seen s = seen.get();
  EXPECT_EQ(s.result, 42);
  EXPECT_EQ(s.checked, int{BST_CHECKED});
  EXPECT_EQ(s.tab, 2);
  EXPECT_EQ(s.tabChanges, 1);
  EXPECT_EQ(s.activated, (std::vector<int>{1, 0}));
  EXPECT_FALSE(s.ok);
}

TEST_F(DialogTest, ControlsAnswerTheirMessagesAndPaintWhatTheyHold) {
  RegisterDialogControls();
  const HWND top = CreateWindowEx(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, 0);
  auto make = [&](const char* cls, DWORD style, const char* text, Rect r) {
    return CreateWindowEx(0, cls, text, WS_CHILD | WS_VISIBLE | style, r.Left, r.Top, r.Width(),
                          r.Height(), top, 7);
  };
  // Progress: the position stays in the range and fills its share.
  const HWND bar = make("msctls_progress32", 0, "", Bounds(0, 0, 100, 10));
  SendMessage(bar, PBM_SETRANGE, 0, MAKELONG(0, 200));
  EXPECT_EQ(SendMessage(bar, PBM_SETPOS, 500, 0), 0);
  EXPECT_EQ(SendMessage(bar, PBM_GETPOS, 0, 0), 200);
  SendMessage(bar, PBM_SETPOS, 100, 0);
  // Read-only multi-line edit: typing changes nothing, lines count CR LF once, scrolls.
  const HWND memo = make("EDIT", ES_MULTILINE | ES_READONLY | WS_VSCROLL, "a\r\nb\nc\r\nd",
                         Bounds(0, 20, 100, 30));
  SendMessage(memo, WM_CHAR, 'x', 0);
  EXPECT_EQ(GetWindowText(memo), "a\r\nb\nc\r\nd");
  EXPECT_EQ(SendMessage(memo, EM_GETLINECOUNT, 0, 0), 4);
  const int line = DialogBaseUnits(Font{}).cy, header = line + 6, row = std::max(line, 16) + 1;
  SendMessage(memo, EM_LINESCROLL, 0, 10);
  EXPECT_EQ(SendMessage(memo, EM_GETFIRSTVISIBLELINE, 0, 0), 4 - 30 / line);
  // Report list with a small image: rows, sub-items, a click selects the row.
  static const ImageList images{16, 16, {Bitmap(16, 16)}, clWhite};
  const HWND list = make("SysListView32", LVS_REPORT, "", Bounds(0, 60, 300, 120));
  SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(&images));
  for (const char* name : {"Address", "Line"}) {
    LVCOLUMN col{name, 80, LVCFMT_LEFT};
    SendMessage(list, LVM_INSERTCOLUMN, 9, reinterpret_cast<LPARAM>(&col));
  }
  for (int i = 0; i < 3; ++i) {
    LVITEM item{i, 0, "0040100" + std::to_string(i), 0};
    SendMessage(list, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
    item.subItem = 1;
    item.text = std::to_string(10 * i);
    SendMessage(list, LVM_SETITEMTEXT, 0, reinterpret_cast<LPARAM>(&item));
  }
  EXPECT_EQ(SendMessage(list, LVM_GETITEMCOUNT, 0, 0), 3);
  LVITEM probe{2, 1, "", 0};
  SendMessage(list, LVM_GETITEMTEXT, 0, reinterpret_cast<LPARAM>(&probe));
  EXPECT_EQ(probe.text, "20");
  EXPECT_EQ(SendMessage(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED), -1);
  Pump();
  const Bitmap before = SnapshotWindow(top);
  headless->InjectClick({150, 60 + header + 3 * row + 2});  // below the rows: no change
  headless->InjectClick({150, 60 + header + row + 2});      // the second row
  Pump();
  EXPECT_EQ(SendMessage(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED), 1);
  const Bitmap after = SnapshotWindow(top);
  EXPECT_EQ(after.Pixel(49, 5), ColorToRGB(clHighlight));  // the bar's filled half
  EXPECT_EQ(after.Pixel(50, 5), ColorToRGB(clBtnFace));
  EXPECT_EQ(before.Pixel(4, 60 + header + 4), ColorToRGB(clBlack));             // the row's image
  EXPECT_EQ(after.Pixel(120, 60 + header + row + 8), ColorToRGB(clHighlight));  // whole row
  EXPECT_EQ(after.Pixel(120, 60 + header + 8), ColorToRGB(clWhite));
  DestroyWindow(top);
}

}  // namespace
}  // namespace qv::test
