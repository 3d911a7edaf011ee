// Painting and compositing: what of each window the screen shows (cut by ancestors,
// siblings above, children and regions), update regions, the WM_NCPAINT/WM_PAINT pass,
// DCs on the top-level back buffer, and presenting the changed part to the back end.

#include <cstring>
#include <utility>

#include "platform/ui/window_system_internal.h"

namespace qv::ui_internal {

namespace {

// Takes `other`'s pixels out of `area`; the bounding boxes rule out most pairs cheaply.
void Cut(Region& area, const UiWindow& other) {
  if (area.IsEmpty()) return;
  const Point o = OriginInTop(other);
  const Rect box = Intersect(WindowSize(other).Offset(o.X, o.Y), area.BoundingBox());
  if (box.IsEmpty()) return;
  Region shape = Shape(other);
  shape.Offset(o.X, o.Y);
  area = area.Subtract(shape);
}

Region ShapeInTop(const UiWindow& w) {
  Region r = Shape(w);
  const Point o = OriginInTop(w);
  r.Offset(o.X, o.Y);
  return r;
}

void PaintOne(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  if (!w || !w->redraw || !IsWindowVisible(hwnd) || IsIconic(RootOf(hwnd))) return;
  if (w->ncDirty) {
    w->ncDirty = false;
    Send(hwnd, WM_NCPAINT, 1, 0);
    w = Get(hwnd);
    if (!w) return;
  }
  if (!w->update.IsEmpty()) {
    Send(hwnd, WM_PAINT);
    w = Get(hwnd);
    if (!w) return;
    // A handler that does not validate must not make the window paint forever.
    w->update = Region();
    w->erase = false;
  }
}

void PaintTree(HWND hwnd) {
  PaintOne(hwnd);
  UiWindow* w = Get(hwnd);
  if (!w) return;
  const std::vector<HWND> children = w->children;
  for (auto it = children.rbegin(); it != children.rend(); ++it) PaintTree(*it);
}

HDC MakeDc(UiWindow& w, bool clientOnly, const Region* within) {
  Manager& m = M();
  const HWND root = RootOf(w.hwnd);
  UiWindow* top = Get(root);
  if (!top) return nullptr;
  Region area = VisibleRegion(w, clientOnly);
  const Point o = OriginInTop(w);
  Point org = o;
  if (clientOnly) org = {o.X + w.client.Left, o.Y + w.client.Top};
  if (within) {
    Region extra = *within;
    extra.Offset(org.X, org.Y);
    area = area.Intersect(extra);
  }
  if (IsIconic(root) || !IsWindowVisible(w.hwnd)) area = Region();
  auto dc = std::make_unique<DC>(top->buffer.get());
  dc->SetDeviceOrigin(org);
  Region device = area;
  device.Offset(-org.X, -org.Y);
  dc->SetSystemClip(std::move(device));
  HDC hdc = dc.get();
  m.dcs.emplace(hdc, DcEntry{std::move(dc), w.hwnd, root, std::move(area)});
  return hdc;
}

}  // namespace

// The window's own pixels in window coordinates: its rectangle cut by its region.
Region Shape(const UiWindow& w) {
  Region r(WindowSize(w));
  if (w.region) r = r.Intersect(*w.region);
  return r;
}

// Everything of the window the screen may show, its children's area included, in top-level
// coordinates: cut by its ancestors' client areas and regions and by the siblings above
// it and above each ancestor.
Region WindowArea(const UiWindow& w) {
  if (!Shown(w)) return {};
  Region area = ShapeInTop(w);
  const UiWindow* cur = &w;
  while (!IsTop(*cur)) {
    const UiWindow* parent = Get(cur->parent);
    if (!parent || !Shown(*parent)) return {};
    for (HWND sibling : parent->children) {
      if (sibling == cur->hwnd) break;
      const UiWindow* s = Get(sibling);
      if (s && Shown(*s)) Cut(area, *s);
    }
    const Point po = OriginInTop(*parent);
    Region parentClient(parent->client.Offset(po.X, po.Y));
    area = area.Intersect(parentClient).Intersect(ShapeInTop(*parent));
    cur = parent;
  }
  return area;
}

// What the window itself draws on: its area minus its visible children, optionally only
// the client part.
Region VisibleRegion(const UiWindow& w, bool clientOnly) {
  Region area = WindowArea(w);
  if (area.IsEmpty()) return area;
  const Point o = OriginInTop(w);
  if (clientOnly) area = area.Intersect(Region(w.client.Offset(o.X, o.Y)));
  for (HWND child : w.children) {
    const UiWindow* c = Get(child);
    if (c && Shown(*c)) Cut(area, *c);
  }
  return area;
}

// Painting comes from the queue's idle handler: after the posted messages, before timers.
void SchedulePaint() {
  M().paintPending = true;
}

// Adds `area` (client coordinates) to the window's update region.
void AddUpdate(UiWindow& w, const Region& area, bool erase) {
  const Region clipped = area.Intersect(Region(Rect{0, 0, w.client.Width(), w.client.Height()}));
  if (clipped.IsEmpty()) return;
  w.update = w.update.Union(clipped);
  w.erase = w.erase || erase;
  SchedulePaint();
}

// Marks for repainting every window of the top-level's tree that shows pixels of `area`
// (top-level coordinates).
void InvalidateTreeArea(HWND top, const Region& area) {
  if (area.IsEmpty()) return;
  ForEachInTree(top, [&](UiWindow& w) {
    const Region hit = VisibleRegion(w, false).Intersect(area);
    if (hit.IsEmpty()) return;
    const Point o = OriginInTop(w);
    const Region clientInTop(w.client.Offset(o.X, o.Y));
    Region clientPart = hit.Intersect(clientInTop);
    if (!clientPart.IsEmpty()) {
      clientPart.Offset(-(o.X + w.client.Left), -(o.Y + w.client.Top));
      AddUpdate(w, clientPart, true);
    }
    if (!hit.Subtract(clientInTop).IsEmpty()) {
      w.ncDirty = true;
      SchedulePaint();
    }
  });
}

void InvalidateWhole(UiWindow& w) {
  w.ncDirty = true;
  AddUpdate(w, Region(Rect{0, 0, w.client.Width(), w.client.Height()}), true);
  SchedulePaint();
}

void Present(HWND top) {
  Manager& m = M();
  UiWindow* w = Get(top);
  if (!w || !w->buffer || w->dirty.IsEmpty()) return;
  Region dirty = std::exchange(w->dirty, Region());
  if (Shown(*w) && !(w->style & WS_MINIMIZE)) m.backend->Present(top, *w->buffer, dirty);
}

void DropDcsOf(HWND hwnd, bool topGone) {
  for (auto& [hdc, entry] : M().dcs) {
    if (entry.hwnd == hwnd || (topGone && entry.top == hwnd)) {
      entry.dc->SelectBitmap(nullptr);
      entry.hwnd = 0;
      entry.top = 0;
    }
  }
}

void Manager::Exposed(HWND top, const Rect& area) {
  UiWindow* w = Get(top);
  if (!w || !w->buffer) return;
  w->dirty = w->dirty.Union(Region(area).Intersect(Region(WindowSize(*w))));
  Present(top);
}

}  // namespace qv::ui_internal

namespace qv {

using namespace ui_internal;

bool InvalidateRgn(HWND hwnd, const Region* region, bool erase) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  AddUpdate(*w, region ? *region : Region(Rect{0, 0, w->client.Width(), w->client.Height()}),
            erase);
  return true;
}

bool InvalidateRect(HWND hwnd, const Rect* rect, bool erase) {
  if (!rect) return InvalidateRgn(hwnd, nullptr, erase);
  const Region r(*rect);
  return InvalidateRgn(hwnd, &r, erase);
}

bool ValidateRect(HWND hwnd, const Rect* rect) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  if (rect) {
    w->update = w->update.Subtract(Region(*rect));
  } else {
    w->update = Region();
  }
  if (w->update.IsEmpty()) w->erase = false;
  return true;
}

bool GetUpdateRect(HWND hwnd, Rect* rect, bool erase) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  if (rect) *rect = w->update.IsEmpty() ? Rect{} : w->update.BoundingBox();
  return !w->update.IsEmpty();
}

void PaintPendingWindows() {
  Manager& m = M();
  const bool outer = !std::exchange(m.painting, true);
  const std::vector<HWND> tops = m.tops;
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) PaintTree(*it);
  for (HWND top : tops) Present(top);
  if (outer) m.painting = false;
}

bool UpdateWindow(HWND hwnd) {
  if (!Get(hwnd)) return false;
  PaintOne(hwnd);
  Present(RootOf(hwnd));
  return true;
}

bool RedrawWindow(HWND hwnd, const Rect* rect, const Region* region, UINT flags) {
  UiWindow* w = Get(hwnd);
  if (!w) return false;
  Region area =
      region ? *region : Region(rect ? *rect : Rect{0, 0, w->client.Width(), w->client.Height()});
  if (flags & RDW_INVALIDATE) {
    if (flags & RDW_ALLCHILDREN) {
      const Point o = OriginInTop(*w);
      Region inTop = area;
      inTop.Offset(o.X + w->client.Left, o.Y + w->client.Top);
      inTop = inTop.Intersect(WindowArea(*w));
      ForEachInTree(hwnd, [&](UiWindow& x) {
        if (x.hwnd == hwnd) {
          AddUpdate(x, area, (flags & RDW_ERASE) != 0);
          return;
        }
        if ((flags & RDW_FRAME) && !VisibleRegion(x, false).Intersect(inTop).IsEmpty()) {
          x.ncDirty = true;
          SchedulePaint();
        }
        const Region hit = VisibleRegion(x, true).Intersect(inTop);
        if (hit.IsEmpty()) return;
        const Point xo = OriginInTop(x);
        Region local = hit;
        local.Offset(-(xo.X + x.client.Left), -(xo.Y + x.client.Top));
        AddUpdate(x, local, (flags & RDW_ERASE) != 0);
      });
    } else {
      AddUpdate(*w, area, (flags & RDW_ERASE) != 0);
    }
    if (flags & RDW_FRAME) {
      w->ncDirty = true;
      SchedulePaint();
    }
  } else if (flags & RDW_VALIDATE) {
    w->update = w->update.Subtract(area);
  }
  if (flags & RDW_UPDATENOW) {
    if (flags & RDW_ALLCHILDREN) {
      PaintTree(hwnd);
      Present(RootOf(hwnd));
    } else {
      UpdateWindow(hwnd);
    }
  }
  return true;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT& ps) {
  UiWindow* w = Get(hwnd);
  ps = PAINTSTRUCT{};
  if (!w) return nullptr;
  const Region update = std::exchange(w->update, Region());
  const bool erase = std::exchange(w->erase, false);
  HDC hdc = MakeDc(*w, true, &update);
  if (!hdc) return nullptr;
  ps.hdc = hdc;
  ps.rcPaint = update.IsEmpty() ? Rect{} : update.BoundingBox();
  if (erase) ps.fErase = Send(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) == 0;
  return hdc;
}

bool EndPaint(HWND hwnd, const PAINTSTRUCT& ps) {
  return ReleaseDC(hwnd, ps.hdc);
}

HDC GetDC(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w ? MakeDc(*w, true, nullptr) : nullptr;
}

HDC GetWindowDC(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  return w ? MakeDc(*w, false, nullptr) : nullptr;
}

bool ReleaseDC(HWND, HDC dc) {
  if (!g_manager || !OnGuiThread()) return false;
  Manager& m = *g_manager;
  const auto it = m.dcs.find(dc);
  if (it == m.dcs.end()) return false;
  DcEntry entry = std::move(it->second);
  m.dcs.erase(it);
  if (UiWindow* top = Get(entry.top)) {
    top->dirty = top->dirty.Union(entry.area);
    // Drawing outside a paint pass shows once the queue is idle, with the other changes.
    if (!entry.area.IsEmpty() && !m.painting) SchedulePaint();
  }
  return true;
}

Bitmap SnapshotWindow(HWND hwnd) {
  UiWindow* w = Get(hwnd);
  if (!w || !IsWindowVisible(hwnd)) return {};
  UiWindow* top = Get(RootOf(hwnd));
  if (!top || !top->buffer) return {};
  const Point o = OriginInTop(*w);
  Bitmap out(w->rect.Width(), w->rect.Height());
  for (int y = 0; y < out.Height(); ++y) {
    const int sy = y + o.Y;
    if (sy < 0 || sy >= top->buffer->Height()) continue;
    for (int x = 0; x < out.Width(); ++x) {
      const int sx = x + o.X;
      if (sx < 0 || sx >= top->buffer->Width()) continue;
      std::memcpy(out.ScanLine(y) + 3 * x, top->buffer->ScanLine(sy) + 3 * sx, 3);
    }
  }
  return out;
}

}  // namespace qv
