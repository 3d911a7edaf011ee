// Where the report dialog puts itself and its controls: the compact view sized to the
// exception message, the detailed view's saved placement in "OstrelLog.ini" (section
// [Coordinates]) and the controls' rectangles for a client size. Pure geometry, so that it
// can be checked without a display.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "crashlog/module_options.h"
#include "platform/gfx/geometry.h"

namespace qv {

// The frame metrics and the screen the layout is made for.
struct TDialogMetrics {
  int cxFrame = 4, cyFrame = 4, cySmCaption = 15;
  int screenWidth = 1024, screenHeight = 768;
};
[[nodiscard]] TDialogMetrics CurrentDialogMetrics();

// Height of the check-box rows: 34 with the send and the screenshot box, else 20.
[[nodiscard]] int CheckBoxAreaHeight(bool sendShown, bool screenshotShown);

// The compact view: the window rectangle (without the check-box rows, which are added
// below it) and the message's rectangle in the client area.
struct TCompactLayout {
  Rect window;
  Rect message;
};
// `lines`: the extents of each message line and of the check boxes' row, in the message font.
[[nodiscard]] TCompactLayout CompactLayout(const std::vector<Size>& lines,
                                           const TDialogMetrics& metrics);

// The controls for a client size; `boxes` is the check-box area height.
struct TDialogControlsLayout {
  Rect tab, message, ok, details, terminate, send, copy, screenshot;
};
[[nodiscard]] TDialogControlsLayout ControlsLayout(int clientWidth, int clientHeight, int boxes);

// Whether the terminate button shows for the `reportedErrors`-th error of the run.
[[nodiscard]] bool TerminateButtonShown(const TOstrelModuleOptions& options, int reportedErrors);

// The detailed view as stored: the outer rectangle's left, top, width and height (the
// height without the check-box rows), the show state (1 normal, 3 maximised, 6 minimised)
// and the column widths of the call-stack and module lists.
constexpr int kAddressColumn = 150;
struct TSavedLayout {
  int left = 0, top = 0, width = 640, height = 385, state = 1;
  // The address and handle columns hold 16 hexadecimal digits in the fixed font.
  std::array<int, 6> stackColumns{kAddressColumn, 102, 105, 118, 137, 48};
  std::array<int, 6> moduleColumns{kAddressColumn, 100, 130, 65, 65, 150};
};
// "$XDG_CONFIG_HOME/OstrelLog.ini", "~/.config/OstrelLog.ini" without it.
[[nodiscard]] std::string LayoutFileName();
// Reads the layout; missing values take the defaults (centred on the screen) and the
// window is kept on the screen.
[[nodiscard]] TSavedLayout LoadLayout(const std::string& file, const TDialogMetrics& metrics,
                                      int boxes);
void SaveLayout(const std::string& file, const TSavedLayout& layout);

}  // namespace qv
