#include "crashlog/report_layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "platform/base/inifile.h"
#include "platform/base/paths.h"
#include "platform/ui/system_metrics.h"

namespace qv {

namespace {

constexpr const char* kSection = "Coordinates";
constexpr int kMaxWidth = 640, kMinWidth = 250;

}  // namespace

TDialogMetrics CurrentDialogMetrics() {
  TDialogMetrics m;
  m.cxFrame = GetSystemMetrics(SM_CXFRAME);
  m.cyFrame = GetSystemMetrics(SM_CYFRAME);
  m.cySmCaption = GetSystemMetrics(SM_CYSMCAPTION);
  m.screenWidth = GetSystemMetrics(SM_CXSCREEN);
  m.screenHeight = GetSystemMetrics(SM_CYSCREEN);
  return m;
}

int CheckBoxAreaHeight(bool sendShown, bool screenshotShown) {
  return sendShown && screenshotShown ? 34 : 20;
}

TCompactLayout CompactLayout(const std::vector<Size>& lines, const TDialogMetrics& metrics) {
  const int margin = 2 * (metrics.cxFrame - 1) + 60;
  const int available = kMaxWidth - margin;
  int widest = 0, height = 0;
  for (const Size& line : lines) {
    if (line.cx > widest) {
      widest = line.cx + 16;
      if (available < widest) {
        // The line wraps: the rows it takes beyond the first.
        height += ((widest - available) / available + 1) * line.cy;
        widest = available;
      }
    }
    height += line.cy;
  }
  const int width = std::max(widest + margin, kMinWidth);
  const int windowHeight =
      2 * (metrics.cyFrame - 1) + (height > 39 ? height - 39 : 0) + 88 + metrics.cySmCaption;
  const int left = (metrics.screenWidth - width) / 2;
  const int top = (metrics.screenHeight - windowHeight) / 2;
  return {Bounds(left, top, width, windowHeight), Bounds(48, 8, width - margin, height)};
}

TDialogControlsLayout ControlsLayout(int w, int h, int boxes) {
  const int dw = w - 466, dh = h - 252, yb = h - 32 - boxes;
  TDialogControlsLayout l;
  l.tab = Bounds(4, 52, 458 + dw, 162 + dh - boxes);
  l.message = Bounds(48, 8, 410 + dw, 42);
  l.ok = Bounds((w - 75) / 2, yb, 75, 25);
  l.details = Bounds(w - 80, yb, 75, 25);
  l.terminate = Bounds(5, yb, 75, 25);
  const int half = (w - 8) / 2;
  l.send = Bounds(4, yb + 34, half, 13);
  l.copy = Bounds(w - half - 4, yb + 34, half, 13);
  l.screenshot = Bounds(23, yb + 50, w - 23, 13);
  return l;
}

bool TerminateButtonShown(const TOstrelModuleOptions& options, int reportedErrors) {
  return options.TerminateButtonLimit() && reportedErrors > options.TerminateButtonErrors();
}

std::string LayoutFileName() {
  std::string folder;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    folder = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    folder = std::string(home) + "/.config";
  } else {
    folder = ".";
  }
  return IncludeTrailingPathDelimiter(folder) + "OstrelLog.ini";
}

TSavedLayout LoadLayout(const std::string& file, const TDialogMetrics& m, int boxes) {
  TMemIniFile ini(file);
  TSavedLayout l;
  l.width = ini.ReadInteger(kSection, "Width", l.width);
  l.height = ini.ReadInteger(kSection, "Height", l.height);
  // A stored size that no window can have gives way to the default; one larger than the
  // screen shrinks to it.
  if (l.width <= 0) l.width = TSavedLayout{}.width;
  if (l.height <= 0) l.height = TSavedLayout{}.height;
  l.width = std::min(l.width, std::max(m.screenWidth, kMinWidth));
  l.height = std::min(l.height, std::max(m.screenHeight - boxes, 1));
  l.left = ini.ReadInteger(kSection, "Left", (m.screenWidth - l.width) / 2);
  l.top = ini.ReadInteger(kSection, "Top", (m.screenHeight - (l.height + boxes)) / 2);
  // The stored numbers may be anything: the sums are taken where they cannot overflow.
  if (int64_t{l.top} + l.height > m.screenHeight) l.top = m.screenHeight - (l.height + boxes);
  if (int64_t{l.left} + l.width > m.screenWidth) l.left = m.screenWidth - l.width;
  l.left = std::max(l.left, 0);
  l.top = std::max(l.top, 0);
  l.state = ini.ReadInteger(kSection, "WindowsState", 1);
  if (l.state != 3 && l.state != 6) l.state = 1;
  for (int i = 0; i < 6; ++i) {
    const std::string n = std::to_string(i);
    auto& stack = l.stackColumns[std::size_t(i)];
    auto& module = l.moduleColumns[std::size_t(i)];
    stack = std::max(ini.ReadInteger(kSection, "Col" + n, stack), 0);
    module = std::max(ini.ReadInteger(kSection, "ColMod" + n, module), 0);
  }
  return l;
}

void SaveLayout(const std::string& file, const TSavedLayout& l) {
  ForceDirectories(ExtractFilePath(file));
  TMemIniFile ini(file);
  ini.WriteInteger(kSection, "Left", l.left);
  ini.WriteInteger(kSection, "Top", l.top);
  ini.WriteInteger(kSection, "Width", l.width);
  ini.WriteInteger(kSection, "Height", l.height);
  ini.WriteInteger(kSection, "WindowsState", l.state);
  for (int i = 0; i < 6; ++i) {
    const std::string n = std::to_string(i);
    ini.WriteInteger(kSection, "Col" + n, l.stackColumns[std::size_t(i)]);
    ini.WriteInteger(kSection, "ColMod" + n, l.moduleColumns[std::size_t(i)]);
  }
  ini.UpdateFile();
}

}  // namespace qv
