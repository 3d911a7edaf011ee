// The window system: visible windows built on the message layer's window records, with a
// parent/child tree, z-order, styles, window regions, painting into each top-level
// window's back buffer, an emulated non-client area and input routing. Child windows are
// rectangles composed into their top-level's 24-bit back buffer, parent before child, each
// clipped by its ancestors, the siblings above it, its children and the window regions;
// only top-level windows reach the display back end.
//
// A window belongs to the thread that creates it. Each thread that makes windows runs a
// window system of its own: its back end (an X thread has its own display connection,
// watched by that thread's message loop), window classes, z-order, painting pass (on that
// thread's idle), capture, focus and activation. A thread's windows are dispatched,
// painted and fed input on that thread only, so one thread's windows keep answering while
// another thread is busy or blocked. Other threads talk to them with
// PostMessage/SendMessage/SendMessageTimeout; the functions below see only the calling
// thread's windows, except EnumWindows and GetTopLevelInfo.
// A thread that started a window system stops it before it ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/gfx/color.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/geometry.h"
#include "platform/gfx/region.h"
#include "platform/msg/messages.h"
#include "platform/msg/window.h"
#include "platform/ui/display_backend.h"
#include "platform/ui/system_metrics.h"
#include "platform/ui/virtual_keys.h"

namespace qv {

using DWORD = std::uint32_t;
using HDC = DC*;

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_CAPTION = WS_BORDER | WS_DLGFRAME;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_CONTEXTHELP = 0x00000400;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;

// Class styles.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

// A window class: the base of its windows' procedure chains and their background.
struct WNDCLASS {
  UINT style = 0;
  WndProc lpfnWndProc;  // null: DefWindowProcA
  std::string lpszClassName;
  TColor hbrBackground = clBtnFace;  // clNone: WM_ERASEBKGND leaves the background alone
};
// False when the name is empty or taken.
bool RegisterClass(const WNDCLASS& windowClass);
bool UnregisterClass(std::string_view className);

// What WM_NCCREATE and WM_CREATE carry in lParam.
struct CREATESTRUCT {
  void* lpCreateParams = nullptr;
  HWND hwndParent = 0;
  int cy = 0;
  int cx = 0;
  int y = 0;
  int x = 0;
  DWORD style = 0;
  std::string_view lpszName;
  std::string_view lpszClass;
  DWORD dwExStyle = 0;
};

// Creates a window of a registered class. A WS_CHILD window lies in its parent's client
// area at (x, y); any other window is top-level, at screen coordinates. A WS_POPUP window
// with WS_EX_TOOLWINDOW and WS_EX_TOPMOST (a menu, a drop-down list) is shown without the
// desktop's window manager taking charge of it. 0 when the class is
// unknown, a child has no live parent, or WM_NCCREATE/WM_CREATE refused (answered 0/-1).
HWND CreateWindowEx(DWORD exStyle, std::string_view className, std::string_view windowName,
                    DWORD style, int x, int y, int width, int height, HWND parent,
                    std::uintptr_t id = 0, void* param = nullptr);
// Sends WM_DESTROY (window first, then its children) and WM_NCDESTROY (children first),
// then the handle is gone: later messages to it are dropped. False for an unknown handle.
bool DestroyWindow(HWND hwnd);

// The default processing of visible windows: text, non-client size, hit testing and
// painting, background erasing, the WM_NC* mouse messages, system commands (including the
// interactive move/size loop) and closing. The message layer's DefWindowProc hands the
// window system's windows to it; hidden AllocateHWnd windows keep answering 0 there.
LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Tree and z-order.
enum : UINT { GW_HWNDFIRST = 0, GW_HWNDLAST = 1, GW_HWNDNEXT = 2, GW_HWNDPREV = 3, GW_CHILD = 5 };
enum : UINT { GA_PARENT = 1, GA_ROOT = 2 };
[[nodiscard]] HWND GetParent(HWND hwnd);
[[nodiscard]] HWND GetAncestor(HWND hwnd, UINT flags);
// GW_HWNDNEXT goes down the z-order (towards the back); GW_CHILD is the front child.
[[nodiscard]] HWND GetWindow(HWND hwnd, UINT command);
[[nodiscard]] bool IsChild(HWND parent, HWND hwnd);
// Reparents a child window (0 makes it top-level); returns the old parent, 0 on failure.
HWND SetParent(HWND hwnd, HWND newParent);
// Whether the handle names a window of this window system (not a hidden AllocateHWnd one).
[[nodiscard]] bool IsUiWindow(HWND hwnd);

// Any thread: the top-level windows of every thread of the process, oldest first, until
// `callback` answers false. With GetWindowThreadId and GetTopLevelInfo, a thread finds
// another thread's windows without touching them.
void EnumWindows(const std::function<bool(HWND hwnd)>& callback);
// What any thread may read of a top-level window of any thread: whether it is shown and
// its extended style. False for other handles.
struct TOPLEVELINFO {
  bool visible = false;
  DWORD exStyle = 0;
};
bool GetTopLevelInfo(HWND hwnd, TOPLEVELINFO& info);

// Geometry. Window rectangles are in screen coordinates, client ones start at (0, 0).
[[nodiscard]] bool GetWindowRect(HWND hwnd, Rect& rect);
[[nodiscard]] bool GetClientRect(HWND hwnd, Rect& rect);
bool ClientToScreen(HWND hwnd, Point& p);
bool ScreenToClient(HWND hwnd, Point& p);
// Converts points between two windows' client coordinates (0: the screen).
bool MapWindowPoints(HWND from, HWND to, Point* points, int count);

struct WINDOWPOS {
  HWND hwnd = 0;
  HWND hwndInsertAfter = 0;
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  UINT flags = 0;
};
struct NCCALCSIZE_PARAMS {
  Rect rgrc[3];  // in: new window, old window, old client rectangle (parent coordinates)
  WINDOWPOS* lppos = nullptr;
};
// What WM_MEASUREITEM carries in lParam; the answer goes into itemWidth and itemHeight.
constexpr UINT ODT_MENU = 1;
struct MEASUREITEMSTRUCT {
  UINT CtlType = 0;
  UINT CtlID = 0;
  UINT itemID = 0;
  UINT itemWidth = 0;
  UINT itemHeight = 0;
  std::uintptr_t itemData = 0;
};
struct MINMAXINFO {
  Point ptReserved;
  Point ptMaxSize;
  Point ptMaxPosition;
  Point ptMinTrackSize;
  Point ptMaxTrackSize;
};

constexpr HWND HWND_TOP = 0;
constexpr HWND HWND_BOTTOM = 1;
constexpr HWND HWND_TOPMOST = static_cast<HWND>(-1);
constexpr HWND HWND_NOTOPMOST = static_cast<HWND>(-2);

enum : UINT {
  SWP_NOSIZE = 0x0001,
  SWP_NOMOVE = 0x0002,
  SWP_NOZORDER = 0x0004,
  SWP_NOREDRAW = 0x0008,
  SWP_NOACTIVATE = 0x0010,
  SWP_FRAMECHANGED = 0x0020,
  SWP_SHOWWINDOW = 0x0040,
  SWP_HIDEWINDOW = 0x0080,
  SWP_NOOWNERZORDER = 0x0200,
};
bool SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
bool MoveWindow(HWND hwnd, int x, int y, int width, int height, bool repaint);
bool BringWindowToTop(HWND hwnd);

enum : int {
  SW_HIDE = 0,
  SW_SHOWNORMAL = 1,
  SW_SHOWMINIMIZED = 2,
  SW_MAXIMIZE = 3,
  SW_SHOWNOACTIVATE = 4,
  SW_SHOW = 5,
  SW_MINIMIZE = 6,
  SW_SHOWNA = 8,
  SW_RESTORE = 9,
};
// Returns whether the window was visible before.
bool ShowWindow(HWND hwnd, int command);
[[nodiscard]] bool IsWindowVisible(HWND hwnd);  // it and all its ancestors
[[nodiscard]] bool IsIconic(HWND hwnd);
[[nodiscard]] bool IsZoomed(HWND hwnd);
// Returns whether the window was disabled before; sends WM_ENABLE on a change.
bool EnableWindow(HWND hwnd, bool enable);
[[nodiscard]] bool IsWindowEnabled(HWND hwnd);

// Text through WM_SETTEXT/WM_GETTEXT (lParam: const char* / char* buffer of wParam bytes).
bool SetWindowText(HWND hwnd, std::string_view text);
[[nodiscard]] std::string GetWindowText(HWND hwnd);
[[nodiscard]] std::string GetClassName(HWND hwnd);

enum : int { GWL_EXSTYLE = -20, GWL_STYLE = -16, GWL_ID = -12, GWL_USERDATA = -21 };
[[nodiscard]] std::intptr_t GetWindowLong(HWND hwnd, int index);
// Style changes take effect on the next SWP_FRAMECHANGED (as on the platform), except
// WS_VISIBLE and WS_DISABLED, which are applied through ShowWindow and EnableWindow.
std::intptr_t SetWindowLong(HWND hwnd, int index, std::intptr_t value);

// The window region in window coordinates; nullopt removes it. The window system keeps
// its own copy. Top-level regions also cut the back end's window shape.
bool SetWindowRgn(HWND hwnd, std::optional<Region> region, bool redraw);
// NULLREGION when the window has no region (then `region` is left alone), else its kind.
int GetWindowRgn(HWND hwnd, Region& region);

// Scroll bars: a window's own (SB_HORZ, SB_VERT: drawn in its non-client area with
// WS_HSCROLL/WS_VSCROLL) and a scroll-bar control's (SB_CTL: kept for the control to draw).
enum : int { SB_HORZ = 0, SB_VERT = 1, SB_CTL = 2 };
enum : UINT {
  SIF_RANGE = 0x01,
  SIF_PAGE = 0x02,
  SIF_POS = 0x04,
  SIF_DISABLENOSCROLL = 0x08,
  SIF_TRACKPOS = 0x10,
  SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS,
};
// WM_HSCROLL/WM_VSCROLL carry the scroll codes of platform/msg/messages.h (SB_LINEUP ...) in
// the low word of wParam, and for SB_THUMBTRACK and SB_THUMBPOSITION the thumb's position in
// the high word.
struct SCROLLINFO {
  UINT cbSize = sizeof(SCROLLINFO);
  UINT fMask = 0;
  int nMin = 0;
  int nMax = 0;
  UINT nPage = 0;
  int nPos = 0;
  int nTrackPos = 0;
};
// Sets what fMask names; the page is kept within the range and the position within
// [nMin, nMax - max(nPage - 1, 0)]. Returns the position.
int SetScrollInfo(HWND hwnd, int bar, const SCROLLINFO& info, bool redraw);
bool GetScrollInfo(HWND hwnd, int bar, SCROLLINFO& info);
int SetScrollPos(HWND hwnd, int bar, int pos, bool redraw);  // returns the previous position
[[nodiscard]] int GetScrollPos(HWND hwnd, int bar);
bool SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, bool redraw);

// Where a window's own scroll bar lies and what of it shows.
enum : int { OBJID_VSCROLL = -5, OBJID_HSCROLL = -6, OBJID_CLIENT = -4 };
enum : DWORD { STATE_SYSTEM_UNAVAILABLE = 0x1, STATE_SYSTEM_INVISIBLE = 0x8000 };
struct SCROLLBARINFO {
  DWORD cbSize = sizeof(SCROLLBARINFO);
  Rect rcScrollBar;       // screen coordinates
  int dxyLineButton = 0;  // length of an arrow button along the bar
  int xyThumbTop = 0;     // the thumb's start and end, from the bar's start
  int xyThumbBottom = 0;
  int reserved = 0;
  // The bar, the first arrow, the track before the thumb, the thumb, the track after it,
  // the last arrow.
  DWORD rgstate[6] = {};
};
// OBJID_HSCROLL or OBJID_VSCROLL: the bar is STATE_SYSTEM_INVISIBLE without WS_HSCROLL /
// WS_VSCROLL, STATE_SYSTEM_UNAVAILABLE while the window is disabled or its whole range fits
// in the page; then the thumb is STATE_SYSTEM_INVISIBLE. False for an unknown window and
// any other object (a scroll-bar control draws itself).
bool GetScrollBarInfo(HWND hwnd, int object, SCROLLBARINFO& info);

// The menu bar a top-level window keeps below its caption, in all its lines: the default
// non-client handling reserves the height (from the next WM_NCCALCSIZE on), answers HTMENU
// over it, fills it with clMenu for the owner to draw the items on, and turns a press on it
// into WM_SYSCOMMAND SC_MOUSEMENU. F10, Alt alone and Alt with a character send SC_KEYMENU.
bool SetMenuBarHeight(HWND hwnd, int height);
// The bar in window coordinates; empty without one.
[[nodiscard]] Rect GetMenuBarRect(HWND hwnd);

// Hit testing.
[[nodiscard]] HWND WindowFromPoint(Point screen);
enum : UINT { CWP_ALL = 0, CWP_SKIPINVISIBLE = 1, CWP_SKIPDISABLED = 2, CWP_SKIPTRANSPARENT = 4 };
// The child (not grandchild) of `parent` under the point in `parent`'s client coordinates,
// `parent` itself when no child is there, 0 outside it.
[[nodiscard]] HWND ChildWindowFromPointEx(HWND parent, Point client, UINT flags);

// Hit-test codes of WM_NCHITTEST.
enum : int {
  HTERROR = -2,
  HTTRANSPARENT = -1,
  HTNOWHERE = 0,
  HTCLIENT = 1,
  HTCAPTION = 2,
  HTSYSMENU = 3,
  HTMENU = 5,
  HTHSCROLL = 6,
  HTVSCROLL = 7,
  HTMINBUTTON = 8,
  HTMAXBUTTON = 9,
  HTLEFT = 10,
  HTRIGHT = 11,
  HTTOP = 12,
  HTTOPLEFT = 13,
  HTTOPRIGHT = 14,
  HTBOTTOM = 15,
  HTBOTTOMLEFT = 16,
  HTBOTTOMRIGHT = 17,
  HTBORDER = 18,
  HTCLOSE = 20,
  HTHELP = 21,
};

// System commands (WM_SYSCOMMAND wParam; the low four bits carry the hit code or sizing
// edge that started a mouse move or size).
enum : WPARAM {
  SC_SIZE = 0xF000,
  SC_MOVE = 0xF010,
  SC_MINIMIZE = 0xF020,
  SC_MAXIMIZE = 0xF030,
  SC_CLOSE = 0xF060,
  SC_MOUSEMENU = 0xF090,  // a press on the menu bar (lParam: the screen point)
  SC_KEYMENU = 0xF100,    // F10 or Alt (lParam 0) or Alt with a character (lParam: it)
  SC_RESTORE = 0xF120,
  SC_CONTEXTHELP = 0xF180,
};
// WM_SIZING edges.
enum : WPARAM {
  WMSZ_LEFT = 1,
  WMSZ_RIGHT = 2,
  WMSZ_TOP = 3,
  WMSZ_TOPLEFT = 4,
  WMSZ_TOPRIGHT = 5,
  WMSZ_BOTTOM = 6,
  WMSZ_BOTTOMLEFT = 7,
  WMSZ_BOTTOMRIGHT = 8,
};
// WM_SIZE kinds.
enum : WPARAM { SIZE_RESTORED = 0, SIZE_MINIMIZED = 1, SIZE_MAXIMIZED = 2 };
// WM_ACTIVATE kinds.
enum : WPARAM { WA_INACTIVE = 0, WA_ACTIVE = 1, WA_CLICKACTIVE = 2 };

// Painting. Update regions are kept per window; WM_NCPAINT, WM_PAINT (and WM_ERASEBKGND
// from BeginPaint) go out parent before child once the thread's posted messages are
// handled, then the changed part of each top-level is presented.
bool InvalidateRect(HWND hwnd, const Rect* rect, bool erase);  // client coordinates
bool InvalidateRgn(HWND hwnd, const Region* region, bool erase);
bool ValidateRect(HWND hwnd, const Rect* rect);
// The update region's bounding box (client coordinates); false when there is none.
bool GetUpdateRect(HWND hwnd, Rect* rect, bool erase);
// Paints the window's pending update now (not its children), then presents.
bool UpdateWindow(HWND hwnd);
enum : UINT {
  RDW_INVALIDATE = 0x0001,
  RDW_ERASE = 0x0004,
  RDW_VALIDATE = 0x0008,
  RDW_FRAME = 0x0400,
  RDW_ALLCHILDREN = 0x0080,
  RDW_UPDATENOW = 0x0100,
};
bool RedrawWindow(HWND hwnd, const Rect* rect, const Region* region, UINT flags);

struct PAINTSTRUCT {
  HDC hdc = nullptr;
  bool fErase = false;  // true: the background still needs erasing
  Rect rcPaint;         // client coordinates
};
// The DC covers the update region (clipped by everything above the window); the region
// is validated. A window whose handler does not call BeginPaint is validated anyway
// after its WM_PAINT, so painting never loops.
HDC BeginPaint(HWND hwnd, PAINTSTRUCT& ps);
bool EndPaint(HWND hwnd, const PAINTSTRUCT& ps);
// A DC on the client area (GetDC) or the whole window (GetWindowDC) in the top-level back
// buffer, clipped to what of the window is visible. Drawing on it is presented when the DC
// is released. Null for an unknown handle. DCs not released go with their window.
HDC GetDC(HWND hwnd);
HDC GetWindowDC(HWND hwnd);
bool ReleaseDC(HWND hwnd, HDC dc);
// Sends the pending WM_NCPAINT/WM_PAINT of every window now and presents.
void PaintPendingWindows();

// Mouse.
HWND SetCapture(HWND hwnd);
bool ReleaseCapture();
[[nodiscard]] HWND GetCapture();
enum : DWORD { TME_HOVER = 1, TME_LEAVE = 2, TME_NONCLIENT = 0x10, TME_CANCEL = 0x80000000 };
struct TRACKMOUSEEVENT {
  DWORD dwFlags = 0;
  HWND hwndTrack = 0;
  DWORD dwHoverTime = 0;
};
// TME_LEAVE: one WM_MOUSELEAVE (WM_NCMOUSELEAVE with TME_NONCLIENT) when the pointer leaves
// the window's client (non-client) area; posted at once when it is not there now.
bool TrackMouseEvent(TRACKMOUSEEVENT& tme);
[[nodiscard]] Point GetCursorPos();

// What any thread may read of the foreground window (the active top-level window of the
// window system that activated one last) and of that window system's focused window:
// class names, texts and the focused window's style, as they stood when that thread last
// changed the activation or the focus, or last went idle. The focused window's text is the
// one it answers WM_GETTEXT with (a control that keeps its text itself included) as of the
// thread's last idle; a change of focus since then shows the text the window system keeps. False
// when no thread has an active window, or when the thread that updates the facts was stopped while
// doing so.
struct FOREGROUNDINFO {
  std::string formClass, formText;
  std::string controlClass, controlText;  // empty without a focused window
  DWORD controlStyle = 0;
};
bool GetForegroundInfo(FOREGROUNDINFO& info);

// Keyboard.
HWND SetFocus(HWND hwnd);  // returns the previous focus; 0 and no change when refused
[[nodiscard]] HWND GetFocus();
[[nodiscard]] HWND GetActiveWindow();
HWND SetActiveWindow(HWND hwnd);
bool SetForegroundWindow(HWND hwnd);
// Bit 15 set while the key is down (VK_SHIFT, VK_CONTROL, VK_MENU, the mouse buttons).
[[nodiscard]] std::int16_t GetKeyState(int vk);

// Sees every mouse and key message before its window does (the application's message
// hook: dialog keys, key preview). It may change the message; true means handled, the
// window does not get it. Returns the hook it replaces.
using InputHook = std::function<bool(MSG& msg)>;
InputHook SetInputHook(InputHook hook);

// Message numbers shared between windows by name (case-insensitive), from 0xC000 up.
UINT RegisterWindowMessage(std::string_view name);

// The window system on the calling thread. The first call of any function above starts it with
// CreateDisplayBackendFromEnvironment(); StartWindowSystem picks the back end instead.
// False (and nothing changed) while windows of an earlier back end exist.
bool StartWindowSystem(std::unique_ptr<DisplayBackend> backend);
// Destroys every window and drops the back end; the next use starts afresh.
void StopWindowSystem();
[[nodiscard]] DisplayBackend& CurrentDisplayBackend();

// The whole display as the back end shows it (CaptureScreen), and the desktop's clipboard
// (SetClipboardText, GetClipboardText): see DisplayBackend.
[[nodiscard]] Bitmap CaptureScreen();
// The error beep, on the display's bell.
void MessageBeep();
bool SetClipboardText(std::string_view text);
[[nodiscard]] std::optional<std::string> GetClipboardText();

// The top-level back buffer's pixels of the window (its whole window rectangle); for
// tests and screenshots. Empty for an unknown or hidden window.
[[nodiscard]] Bitmap SnapshotWindow(HWND hwnd);

}  // namespace qv
