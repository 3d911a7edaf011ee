#include "platform/ui/icons.h"

#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/gfx/dc.h"
#include "platform/ui/system_metrics.h"

namespace qv {

namespace {

struct IconTable {
  std::mutex mutex;
  std::unordered_map<HICON, std::shared_ptr<const ICONINFO>> icons;  // guarded by `mutex`
  HICON next = 0x20000;                                              // never reused
  HICON application = 0;                                             // the stock icon
};

// Never destroyed: icons may be drawn while the program ends.
IconTable& Table() {
  static auto* const table = new IconTable;
  return *table;
}

std::shared_ptr<const ICONINFO> Find(HICON icon) {
  IconTable& t = Table();
  const std::lock_guard lock(t.mutex);
  const auto it = t.icons.find(icon);
  return it == t.icons.end() ? nullptr : it->second;
}

Bitmap As24Bit(const Bitmap& b) {
  Bitmap copy = b;
  copy.SetPixelFormat(PixelFormat::pf24bit);
  return copy;
}

// The stock application icon: a small window with a title bar, opaque inside its frame.
ICONINFO ApplicationIcon() {
  const int w = GetSystemMetrics(SM_CXICON);
  const int h = GetSystemMetrics(SM_CYICON);
  ICONINFO info;
  info.hbmMask = Bitmap(w, h);
  info.hbmMask.Fill(RGB(255, 255, 255));
  info.hbmColor = Bitmap(w, h);  // black: leaves the background as it is
  const Rect frame{w / 16, h / 8, w - w / 16, h - h / 8};
  DC mask(&info.hbmMask);
  mask.FillRect(frame, Brush{BrushStyle::bsSolid, clBlack});
  DC color(&info.hbmColor);
  color.FillRect(frame, Brush{BrushStyle::bsSolid, clBlack});
  const Rect inside = frame.Inflate(-1, -1);
  color.FillRect(inside, Brush{BrushStyle::bsSolid, clWhite});
  color.FillRect({inside.Left, inside.Top, inside.Right, inside.Top + h / 6},
                 Brush{BrushStyle::bsSolid, clNavy});
  return info;
}

Bitmap Stretched(Bitmap source, int cx, int cy) {
  if (source.Width() == cx && source.Height() == cy) return source;
  Bitmap out(cx, cy);
  DC from(&source);
  DC to(&out);
  to.SetStretchBltMode(COLORONCOLOR);
  to.StretchBlt(0, 0, cx, cy, from, 0, 0, source.Width(), source.Height());
  return out;
}

}  // namespace

HICON CreateIconIndirect(const ICONINFO& info) {
  if (info.hbmColor.Empty() || info.hbmMask.Width() != info.hbmColor.Width() ||
      info.hbmMask.Height() != info.hbmColor.Height()) {
    return 0;
  }
  auto copy = std::make_shared<ICONINFO>();
  copy->fIcon = info.fIcon;
  copy->hbmMask = As24Bit(info.hbmMask);
  copy->hbmColor = As24Bit(info.hbmColor);
  IconTable& t = Table();
  const std::lock_guard lock(t.mutex);
  const HICON icon = t.next++;
  t.icons.emplace(icon, std::move(copy));
  return icon;
}

bool GetIconInfo(HICON icon, ICONINFO& info) {
  const auto found = Find(icon);
  if (!found) return false;
  info = *found;
  return true;
}

bool DestroyIcon(HICON icon) {
  IconTable& t = Table();
  const std::lock_guard lock(t.mutex);
  if (icon == t.application) return false;
  return t.icons.erase(icon) > 0;
}

HICON LoadIcon(std::uintptr_t instance, int name) {
  if (instance != 0 || name != IDI_APPLICATION) return 0;
  IconTable& t = Table();
  {
    const std::lock_guard lock(t.mutex);
    if (t.application) return t.application;
  }
  const HICON made = CreateIconIndirect(ApplicationIcon());
  const std::lock_guard lock(t.mutex);
  if (t.application) {
    t.icons.erase(made);  // another thread was first
  } else {
    t.application = made;
  }
  return t.application;
}

bool DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT step, const Brush* brush,
                UINT flags) {
  const auto info = Find(icon);
  if (!dc || !info || !(flags & DI_NORMAL) || cx < 0 || cy < 0) return false;
  const bool standard = (flags & DI_DEFAULTSIZE) != 0;
  if (cx == 0) cx = standard ? GetSystemMetrics(SM_CXICON) : info->hbmColor.Width();
  if (cy == 0) cy = standard ? GetSystemMetrics(SM_CYICON) : info->hbmColor.Height();
  Bitmap mask = Stretched(info->hbmMask, cx, cy);
  Bitmap image = Stretched(info->hbmColor, cx, cy);
  DC maskDc(&mask);
  DC imageDc(&image);
  if ((flags & DI_NORMAL) == DI_NORMAL) {
    dc->BitBlt(x, y, cx, cy, maskDc, 0, 0, SRCAND);
    dc->BitBlt(x, y, cx, cy, imageDc, 0, 0, SRCINVERT);
  } else {
    dc->BitBlt(x, y, cx, cy, (flags & DI_MASK) ? maskDc : imageDc, 0, 0, SRCCOPY);
  }
  return true;
}

bool DrawIcon(HDC dc, int x, int y, HICON icon) {
  return DrawIconEx(dc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
}

}  // namespace qv
