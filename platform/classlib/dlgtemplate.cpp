#include "platform/classlib/dlgtemplate.h"

#include <cmath>
#include <optional>
#include <unordered_map>

#include "platform/classlib/dialogs.h"
#include "platform/gfx/dc.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/ui/nonclient.h"

namespace qv {

namespace {

constexpr const char* kDialogClass = "#32770";

struct Dialog {
  DLGPROC proc;
  Font font;
  Size units;
  std::optional<INT_PTR> result;  // set by EndDialog
};

// The calling thread's dialogs.
std::unordered_map<HWND, Dialog>& Dialogs() {
  static thread_local std::unordered_map<HWND, Dialog> dialogs;
  return dialogs;
}

Dialog* Find(HWND h) {
  const auto it = Dialogs().find(h);
  return it == Dialogs().end() ? nullptr : &it->second;
}

int Scale(int value, int units, int per) {
  return static_cast<int>(std::lround(static_cast<double>(value) * units / per));
}

Rect ToPixels(Size units, int x, int y, int cx, int cy) {
  return {Scale(x, units.cx, 4), Scale(y, units.cy, 8), Scale(x + cx, units.cx, 4),
          Scale(y + cy, units.cy, 8)};
}

LRESULT DialogProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  Dialog* d = Find(h);
  if (d && d->proc && m != WM_NCDESTROY) {
    const DLGPROC proc = d->proc;  // the dialog may go while it runs
    if (proc(h, m, w, l)) return m == WM_INITDIALOG ? 1 : 0;
  }
  switch (m) {
    case WM_CLOSE:
      PostMessage(h, WM_COMMAND, IDCANCEL, 0);
      return 0;
    case WM_NCDESTROY:
      if (d && d->proc) d->proc(h, m, w, l);
      Dialogs().erase(h);
      break;
    default:
      break;
  }
  return DefWindowProcA(h, m, w, l);
}

void EnsureDialogClass() {
  RegisterDialogControls();
  WNDCLASS wc;
  wc.lpszClassName = kDialogClass;
  wc.lpfnWndProc = DialogProc;
  RegisterClass(wc);
}

bool IsDefaultButton(HWND child) {
  return GetClassName(child) == "BUTTON" &&
         (GetWindowLong(child, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON;
}

}  // namespace

Size DialogBaseUnits(const Font& font) {
  Bitmap probe(1, 1);
  DC dc(&probe);
  dc.SelectFont(font);
  const Size letters =
      dc.GetTextExtentPoint32("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return {(letters.cx / 26 + 1) / 2, dc.GetTextMetrics().tmHeight};
}

bool MapDialogRect(HWND dialog, Rect& rect) {
  const Dialog* d = Find(dialog);
  if (!d) return false;
  rect = ToPixels(d->units, rect.Left, rect.Top, rect.Width(), rect.Height());
  return true;
}

HWND CreateDialogIndirectParam(const DLGTEMPLATE& t, HWND parent, DLGPROC proc, LPARAM init) {
  EnsureDialogClass();
  const Font font{t.fontName, PointsToHeight(t.pointSize), 0};
  const Size units = DialogBaseUnits(font);
  const bool child = t.style & (WS_CHILD | DS_CONTROL);
  const DWORD style = (t.style & ~WS_VISIBLE) | (child ? WS_CHILD : 0);
  // The template gives the client area; the frame comes around it.
  const Rect client = ToPixels(units, t.x, t.y, t.cx, t.cy);
  const Rect inside = nonclient::ClientArea(style, t.exStyle, {0, 0, 1000, 1000});
  Rect window{client.Left, client.Top, client.Right + 1000 - inside.Width(),
              client.Bottom + 1000 - inside.Height()};
  if ((t.style & DS_CENTER) && !child) {
    const Rect screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    window = Bounds((screen.Width() - window.Width()) / 2, (screen.Height() - window.Height()) / 2,
                    window.Width(), window.Height());
  }
  const HWND h = CreateWindowEx(t.exStyle, kDialogClass, t.caption, style, window.Left, window.Top,
                                window.Width(), window.Height(), parent);
  if (!h) return 0;
  Dialogs()[h] = Dialog{std::move(proc), font, units, std::nullopt};
  for (const DLGITEMTEMPLATE& item : t.items) {
    const Rect r = ToPixels(units, item.x, item.y, item.cx, item.cy);
    const HWND c = CreateWindowEx(item.exStyle, item.windowClass, item.text,
                                  item.style | WS_CHILD | WS_VISIBLE, r.Left, r.Top, r.Width(),
                                  r.Height(), h, static_cast<std::uintptr_t>(item.id));
    if (c) SendMessage(c, WM_SETFONT, reinterpret_cast<WPARAM>(&font), 0);
  }
  Dialog* d = Find(h);
  if (d && d->proc && d->proc(h, WM_INITDIALOG, 0, init)) {
    // The first control that takes the tab key gets the focus.
    for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      if (GetWindowLong(c, GWL_STYLE) & WS_TABSTOP) {
        SetFocus(c);
        break;
      }
    }
  }
  if (IsUiWindow(h) && (t.style & WS_VISIBLE)) ShowWindow(h, SW_SHOW);
  return IsUiWindow(h) ? h : 0;
}

INT_PTR DialogBoxIndirectParam(const DLGTEMPLATE& t, HWND parent, DLGPROC proc, LPARAM init) {
  const HWND h = CreateDialogIndirectParam(t, parent, std::move(proc), init);
  if (!h) return -1;
  ShowWindow(h, SW_SHOW);
  // Mouse and key messages go straight to their windows: the dialog keys are taken in the
  // window system's input hook while the dialog runs.
  InputHook outer;
  outer = SetInputHook(
      [h, &outer](MSG& msg) { return IsDialogMessage(h, msg) || (outer && outer(msg)); });
  INT_PTR result = -1;
  MSG msg;
  while (true) {
    if (Dialog* d = Find(h); !d || d->result) {
      if (d) result = *d->result;
      break;
    }
    if (!GetMessage(msg)) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside
      break;
    }
    DispatchMessage(msg);
  }
  SetInputHook(std::move(outer));
  if (IsUiWindow(h)) DestroyWindow(h);
  return result;
}

bool EndDialog(HWND dialog, INT_PTR result) {
  Dialog* d = Find(dialog);
  if (!d) return false;
  d->result = result;
  ShowWindow(dialog, SW_HIDE);
  PostMessage(dialog, WM_NULL, 0, 0);  // wakes the modal loop
  return true;
}

bool IsDialogMessage(HWND dialog, const MSG& msg) {
  if (msg.message != WM_KEYDOWN || (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd))) {
    return false;
  }
  if (msg.wParam != VK_ESCAPE && msg.wParam != VK_RETURN) return false;
  // A control that wants the key (a list activating its row, an edit taking Return) keeps it.
  if (SendMessage(msg.hwnd, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg)) &
      DLGC_WANTALLKEYS) {
    return false;
  }
  if (msg.wParam == VK_ESCAPE) {
    SendMessage(dialog, WM_COMMAND, IDCANCEL, static_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    return true;
  }
  int id = IDOK;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (IsDefaultButton(c)) id = GetDlgCtrlID(c);
  }
  SendMessage(dialog, WM_COMMAND, static_cast<WPARAM>(id),
              static_cast<LPARAM>(GetDlgItem(dialog, id)));
  return true;
}

HWND GetDlgItem(HWND dialog, int id) {
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(c) == id) return c;
  }
  return 0;
}

int GetDlgCtrlID(HWND control) {
  return static_cast<int>(GetWindowLong(control, GWL_ID));
}

}  // namespace qv
