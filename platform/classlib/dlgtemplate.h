// Dialogs from templates in dialog units, made with the bare window system (no forms): the
// dialog window (class "#32770") and its controls, a dialog procedure, the modal loop with
// the dialog keys (Escape, Return) and the conversion of dialog units to pixels from the
// template's font.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/classlib/commctrl.h"

namespace qv {

using INT_PTR = std::intptr_t;

struct DLGITEMTEMPLATE {
  std::string windowClass;  // "BUTTON", "EDIT", ... (RegisterDialogControls)
  std::string text;
  int id = 0;
  DWORD style = 0;  // WS_CHILD and WS_VISIBLE are added
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};

// DS_CONTROL: a child dialog (a page) placed in its parent's client area.
enum : DWORD { DS_MODALFRAME = 0x80, DS_CENTER = 0x800, DS_CONTROL = 0x400 };

struct DLGTEMPLATE {
  DWORD style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
  DWORD exStyle = 0;
  std::string caption;
  std::string fontName = "MS Sans Serif";
  int pointSize = 8;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units; the size is the client area's
  std::vector<DLGITEMTEMPLATE> items;
};

// Answers true for a message it handled (WM_INITDIALOG: true lets the dialog focus its
// first control).
using DLGPROC = std::function<INT_PTR(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)>;
constexpr UINT WM_INITDIALOG = 0x0110;

// The font's dialog base units: its average character width over the Latin letters and its
// height, in pixels.
[[nodiscard]] Size DialogBaseUnits(const Font& font);
// Converts a rectangle in the dialog's units to pixels; false for a window that is not a
// dialog.
bool MapDialogRect(HWND dialog, Rect& rect);

// Makes the dialog hidden unless its template has WS_VISIBLE, sends each control WM_SETFONT
// with the template's font, then WM_INITDIALOG (lParam: `init`). 0 on failure.
HWND CreateDialogIndirectParam(const DLGTEMPLATE& dialog, HWND parent, DLGPROC proc,
                               LPARAM init = 0);
// Shows the dialog and serves the calling thread's queue until EndDialog; returns its
// result (-1 when it could not be made or WM_QUIT ended the loop).
INT_PTR DialogBoxIndirectParam(const DLGTEMPLATE& dialog, HWND parent, DLGPROC proc,
                               LPARAM init = 0);
bool EndDialog(HWND dialog, INT_PTR result);
// The dialog keys for a key message of the dialog or its controls: Escape sends WM_COMMAND
// IDCANCEL, Return the default button's identifier (IDOK without one), unless the control
// wants the key (WM_GETDLGCODE, lParam the MSG, answers DLGC_WANTALLKEYS). True when the
// message was taken.
bool IsDialogMessage(HWND dialog, const MSG& msg);

[[nodiscard]] HWND GetDlgItem(HWND dialog, int id);
[[nodiscard]] int GetDlgCtrlID(HWND control);

}  // namespace qv
