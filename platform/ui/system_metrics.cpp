#include "platform/ui/system_metrics.h"

#include <mutex>

namespace qv {

namespace {

struct ScreenGeometry {
  std::mutex mutex;
  Rect screen{0, 0, 1024, 768};
  Rect workArea{0, 0, 1024, 768};
  int monitors = 1;
};

ScreenGeometry& Geometry() {
  static ScreenGeometry geometry;
  return geometry;
}

}  // namespace

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL:
    case SM_CYVTHUMB:
    case SM_CXHTHUMB:
      return 16;
    case SM_CYCAPTION:
      return 19;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return 3;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return 4;
    case SM_CXEDGE:
    case SM_CYEDGE:
      return 2;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
      return 32;
    case SM_CYMENU:
      return 19;
    case SM_CXSIZE:
    case SM_CYSIZE:
      return 18;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    case SM_CYSMCAPTION:
      return 15;
    case SM_CXSMSIZE:
    case SM_CYSMSIZE:
      return 12;
    case SM_CXMENUSIZE:
    case SM_CYMENUSIZE:
      return 18;
    case SM_CXMIN:
      return 112;
    case SM_CYMIN:
      return 27;
    case SM_CXMINTRACK:
      return 112;
    case SM_CYMINTRACK:
      return 27;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
      return 4;
    case SM_CXDRAG:
    case SM_CYDRAG:
      return 4;
    default:
      break;
  }
  auto& g = Geometry();
  const std::lock_guard lock(g.mutex);
  switch (index) {
    case SM_CXSCREEN:
      return g.screen.Width();
    case SM_CYSCREEN:
      return g.screen.Height();
    case SM_CXFULLSCREEN:
      return g.workArea.Width();
    case SM_CYFULLSCREEN:
      return g.workArea.Height() - 19;
    case SM_CXMAXIMIZED:
      return g.workArea.Width() + 2 * 4;
    case SM_CYMAXIMIZED:
      return g.workArea.Height() + 2 * 4;
    case SM_CMONITORS:
      return g.monitors;
    default:
      return 0;
  }
}

unsigned GetDoubleClickTime() {
  return 500;
}

bool SystemParametersInfo(unsigned action, unsigned, void* param, unsigned) {
  if (action != SPI_GETWORKAREA || !param) return false;
  auto& g = Geometry();
  const std::lock_guard lock(g.mutex);
  *static_cast<Rect*>(param) = g.workArea;
  return true;
}

void SetScreenGeometry(const Rect& screen, const Rect& workArea, int monitorCount) {
  auto& g = Geometry();
  const std::lock_guard lock(g.mutex);
  g.screen = screen;
  g.workArea = workArea.IsEmpty() ? screen : workArea;
  g.monitors = monitorCount > 0 ? monitorCount : 1;
}

}  // namespace qv
