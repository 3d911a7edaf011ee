// Multiple-document windows: an MDI client window (class "MDICLIENT") inside a frame window
// holds child windows (WS_CHILD | WS_EX_MDICHILD with a frame of their own). The client
// keeps which child is active, maximises a child over its whole client area (its frame
// lies outside, so its client area fills the MDI client), restores it, minimises it to a
// caption strip along the client's bottom, and shows its own scroll bars while children
// lie outside its client area. Children take their default processing from
// DefMDIChildProcA. GUI thread only.
#pragma once

#include <vector>

#include "platform/msg/messages.h"
#include "platform/ui/window_system.h"

namespace qv {

inline constexpr const char* kMDIClientClass = "MDICLIENT";

constexpr DWORD WS_EX_MDICHILD = 0x00000040;
constexpr WPARAM SC_NEXTWINDOW = 0xF040;

// Messages to the client. wParam names the child where one is needed.
constexpr UINT WM_MDIDESTROY = 0x0221;
// To the client: activates the child. To a child: it lost (wParam) or gained (lParam)
// the activation.
constexpr UINT WM_MDIACTIVATE = 0x0222;
constexpr UINT WM_MDIRESTORE = 0x0223;
// lParam 0: the child below wParam's (0: the active one) in z-order; else the bottom one.
constexpr UINT WM_MDINEXT = 0x0224;
constexpr UINT WM_MDIMAXIMIZE = 0x0225;
// The active child, 0 when none; lParam, when not null, is a bool* told whether it is
// maximised.
constexpr UINT WM_MDIGETACTIVE = 0x0229;

// Registers the client's window class on the calling thread (once).
void RegisterMDIClientClass();
// The default processing of an MDI child: its system commands go through the client,
// its maximised size is the client's, moves and size changes recalculate the client's
// scroll bars, closing destroys it, and a click on it activates it.
LRESULT DefMDIChildProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The keyboard commands of the client's children: Ctrl+F4 closes the active child,
// Ctrl+F6 activates the next one. True when the key message was one of them.
bool TranslateMDISysAccel(HWND client, const MSG& msg);
// The children of a client, front first in z-order (those being destroyed left out).
[[nodiscard]] std::vector<HWND> MDIChildWindows(HWND client);

}  // namespace qv
