// The system's dialog controls as bare window classes, for dialogs built from templates
// without forms: "BUTTON" (push button, check box), "STATIC", "EDIT" (read-only multi-line
// display), "msctls_progress32", "SysTabControl32" and "SysListView32" (report view with
// small images). Their state lives with the window on the thread that made it; controls
// tell their parent about changes with WM_COMMAND (buttons) and WM_NOTIFY (tabs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/classlib/controls.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/font.h"
#include "platform/ui/window_system.h"

namespace qv {

// Registers the classes on the calling thread's window system (again harmlessly).
void RegisterDialogControls();

// Buttons.
enum : DWORD {
  BS_PUSHBUTTON = 0x0,
  BS_DEFPUSHBUTTON = 0x1,
  BS_AUTOCHECKBOX = 0x3,
  BS_RIGHTBUTTON = 0x20,
  BS_FLAT = 0x8000,
};
enum : UINT { BM_GETCHECK = 0x00F0, BM_SETCHECK = 0x00F1, BM_CLICK = 0x00F5 };
enum : WPARAM { BST_UNCHECKED = 0, BST_CHECKED = 1 };
enum : UINT { BN_CLICKED = 0 };

// Statics.
enum : DWORD { SS_CENTER = 0x1, SS_BLACKFRAME = 0x7 };

// Edits: the display kind (multi-line, read-only) and the password style the error report
// looks for.
enum : DWORD {
  ES_MULTILINE = 0x4,
  ES_PASSWORD = 0x20,
  ES_AUTOVSCROLL = 0x40,
  ES_WANTRETURN = 0x1000,
  ES_READONLY = 0x800,
};
enum : UINT { EM_LINESCROLL = 0x00B6, EM_GETLINECOUNT = 0x00BA, EM_GETFIRSTVISIBLELINE = 0x00CE };

// Progress bar: the range (low word minimum, high word maximum) and position.
enum : UINT { PBM_SETRANGE = 0x0401, PBM_SETPOS = 0x0402, PBM_GETPOS = 0x0408 };

// What WM_NOTIFY carries in lParam.
struct NMHDR {
  HWND hwndFrom = 0;
  std::uintptr_t idFrom = 0;
  UINT code = 0;
};

// Tab control: items by text (lParam: const char*), the selection, the display area.
enum : UINT {
  TCM_GETITEMCOUNT = 0x1304,
  TCM_INSERTITEM = 0x1307,  // wParam: index
  TCM_GETCURSEL = 0x130B,
  TCM_SETCURSEL = 0x130C,    // sends no notification, as on the platform
  TCM_ADJUSTRECT = 0x1328,   // wParam false: window rectangle (Rect*) to display area
  TCM_GETITEMRECT = 0x130A,  // wParam: index, lParam: Rect* in client coordinates
};
enum : UINT { TCN_SELCHANGE = 0xFFFFFDD9 };  // -551

// List view in report mode with small images.
enum : DWORD { LVS_REPORT = 0x1, LVS_SHOWSELALWAYS = 0x8 };
enum : int { LVCFMT_LEFT = 0, LVCFMT_RIGHT = 1 };
struct LVCOLUMN {
  std::string text;
  int width = 60;
  int format = LVCFMT_LEFT;
};
struct LVITEM {
  int item = 0;
  int subItem = 0;
  std::string text;
  int image = -1;
};
// Images of one size drawn over a transparent colour (the bitmaps' bottom-left pixel when
// `transparent` is clNone).
struct ImageList {
  int cx = 16, cy = 16;
  std::vector<Bitmap> images;
  TColor transparent = clNone;
};
// Draws an image with its top-left at (x, y); a disabled one greyed. Nothing for a bad index.
void DrawImage(DC& dc, const ImageList& list, int index, int x, int y, bool enabled = true);
enum : UINT {
  LVM_SETIMAGELIST = 0x1003,  // wParam LVSIL_SMALL, lParam const ImageList* (kept by pointer)
  LVM_GETITEMCOUNT = 0x1004,
  LVM_GETNEXTITEM = 0x100C,  // wParam start (-1), lParam LVNI_SELECTED: index or -1
  LVM_GETCOLUMNWIDTH = 0x101D,
  LVM_SETCOLUMNWIDTH = 0x101E,
  LVM_SETITEMSTATE = 0x102B,  // wParam index: selects that row
  LVM_INSERTITEM = 0x1007,    // lParam const LVITEM*: returns the index
  LVM_SETITEMTEXT = 0x1074,   // lParam const LVITEM* (item, subItem, text)
  LVM_GETITEMTEXT = 0x1073,   // lParam LVITEM* (item, subItem): fills text
  LVM_INSERTCOLUMN = 0x101B,  // wParam index, lParam const LVCOLUMN*
};
enum : WPARAM { LVSIL_SMALL = 1 };
// A row was activated: a double click on it, or Return while the list has the focus (the list
// takes Return from the dialog keys then).
constexpr UINT LVN_ITEMACTIVATE = 0xFFFFFF8E;  // -114
struct NMITEMACTIVATE {
  NMHDR hdr;
  int iItem = -1;
};
enum : LPARAM { LVNI_SELECTED = 2 };

}  // namespace qv
