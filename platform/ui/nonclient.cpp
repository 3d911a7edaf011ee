#include "platform/ui/nonclient.h"

#include <algorithm>

#include "platform/ui/window_system.h"

namespace qv::nonclient {

namespace {

bool HasCaption(unsigned style) {
  return (style & WS_CAPTION) == WS_CAPTION;
}

int FrameWidth(unsigned style, unsigned exStyle) {
  if (style & WS_THICKFRAME) return GetSystemMetrics(SM_CXFRAME);
  if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME)) {
    return GetSystemMetrics(SM_CXDLGFRAME);
  }
  if (style & WS_BORDER) return GetSystemMetrics(SM_CXBORDER);
  return 0;
}

int EdgeWidth(unsigned exStyle) {
  if (exStyle & WS_EX_CLIENTEDGE) return GetSystemMetrics(SM_CXEDGE);
  if (exStyle & WS_EX_STATICEDGE) return GetSystemMetrics(SM_CXBORDER);
  return 0;
}

Rect Clamp(Rect r) {
  r.Right = std::max(r.Right, r.Left);
  r.Bottom = std::max(r.Bottom, r.Top);
  return r;
}

void Fill(DC& dc, const Rect& r, int sysColor) {
  dc.FillRect(r, Brush{BrushStyle::bsSolid, SysColor(sysColor)});
}

// A raised or sunken 3-D edge one pixel wide: `light` on the top and left, `dark` on the
// bottom and right.
void Edge(DC& dc, const Rect& r, int light, int dark) {
  if (r.IsEmpty()) return;
  Fill(dc, {r.Left, r.Top, r.Right - 1, r.Top + 1}, light);
  Fill(dc, {r.Left, r.Top, r.Left + 1, r.Bottom - 1}, light);
  Fill(dc, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, dark);
  Fill(dc, {r.Right - 1, r.Top, r.Right, r.Bottom}, dark);
}

void Button(DC& dc, const Rect& r) {
  if (r.IsEmpty()) return;
  Fill(dc, r, COLOR_BTNFACE);
  Edge(dc, r, COLOR_3DLIGHT, COLOR_3DDKSHADOW);
  Edge(dc, r.Inflate(-1, -1), COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW);
}

void Glyph(DC& dc, const Rect& r, int kind) {
  if (r.IsEmpty()) return;
  dc.SelectPen(Pen{PenStyle::psSolid, SysColor(COLOR_BTNTEXT), 1});
  const Rect g = r.Inflate(-4, -3);
  switch (kind) {
    case HTCLOSE:
      dc.MoveTo(g.Left, g.Top);
      dc.LineTo(g.Right, g.Bottom);
      dc.MoveTo(g.Right - 1, g.Top);
      dc.LineTo(g.Left - 1, g.Bottom);
      break;
    case HTMAXBUTTON:
      dc.FrameRect(g, Brush{BrushStyle::bsSolid, SysColor(COLOR_BTNTEXT)});
      Fill(dc, {g.Left, g.Top + 1, g.Right, g.Top + 2}, COLOR_BTNTEXT);
      break;
    case HTMINBUTTON:
      Fill(dc, {g.Left, g.Bottom - 2, g.Right - 2, g.Bottom}, COLOR_BTNTEXT);
      break;
    case HTHELP:
      Fill(dc, {g.Left + g.Width() / 2 - 1, g.Bottom - 2, g.Left + g.Width() / 2 + 1, g.Bottom},
           COLOR_BTNTEXT);
      dc.FrameRect({g.Left + 1, g.Top, g.Right - 1, g.Top + g.Height() / 2},
                   Brush{BrushStyle::bsSolid, SysColor(COLOR_BTNTEXT)});
      break;
    default:
      break;
  }
}

struct Track {
  int start = 0;   // first pixel of the track along the axis
  int length = 0;  // pixels between the arrows
  int arrow = 0;
  int thumb = 0;  // thumb length, 0 for none
  int span = 0;   // positions the thumb can take (range less the page)
};

Track TrackOf(const Rect& bar, bool vertical, const ScrollState& s) {
  Track t;
  const int length = vertical ? bar.Height() : bar.Width();
  t.arrow = std::min(GetSystemMetrics(vertical ? SM_CYVSCROLL : SM_CXHSCROLL), length / 2);
  t.start = (vertical ? bar.Top : bar.Left) + t.arrow;
  t.length = std::max(length - 2 * t.arrow, 0);
  const long long range = static_cast<long long>(s.max) - s.min + 1;
  const long long page = std::min<long long>(s.page, range);
  if (range <= 1 || page >= range) return t;
  const int minimum = 8;
  int thumb = page > 0 ? static_cast<int>(t.length * page / range) : t.arrow;
  thumb = std::max(thumb, minimum);
  if (thumb > t.length) return t;
  t.thumb = thumb;
  t.span = static_cast<int>(range - std::max<long long>(page, 1));
  return t;
}

}  // namespace

ScrollParts ScrollBarParts(const Rect& bar, bool vertical, const ScrollState& s) {
  ScrollParts parts;
  const Track t = TrackOf(bar, vertical, s);
  auto along = [&](int from, int to) {
    return vertical ? Rect{bar.Left, from, bar.Right, to} : Rect{from, bar.Top, to, bar.Bottom};
  };
  parts.first = along(t.start - t.arrow, t.start);
  parts.last = along(t.start + t.length, t.start + t.length + t.arrow);
  if (t.thumb == 0) {
    parts.trackBefore = along(t.start, t.start + t.length);
    return parts;
  }
  const long long pos = std::clamp<long long>(static_cast<long long>(s.pos) - s.min, 0, t.span);
  const int offset = t.span > 0 ? static_cast<int>(pos * (t.length - t.thumb) / t.span) : 0;
  parts.trackBefore = along(t.start, t.start + offset);
  parts.thumb = along(t.start + offset, t.start + offset + t.thumb);
  parts.trackAfter = along(t.start + offset + t.thumb, t.start + t.length);
  return parts;
}

int ScrollPosAt(const Rect& bar, bool vertical, const ScrollState& s, int offset) {
  const Track t = TrackOf(bar, vertical, s);
  if (t.thumb == 0 || t.length <= t.thumb) return s.min;
  const long long room = t.length - t.thumb;
  const long long at = std::clamp<long long>(offset, 0, room);
  // Nearest position, as the thumb's pixel offsets are rounded down from positions.
  return s.min + static_cast<int>((at * t.span + room / 2) / room);
}

Layout Compute(unsigned style, unsigned exStyle, const Rect& window, int menuHeight) {
  Layout l;
  l.frame = FrameWidth(style, exStyle);
  Rect inner = Clamp(window.Inflate(-l.frame, -l.frame));
  if (HasCaption(style)) {
    const bool tool = (exStyle & WS_EX_TOOLWINDOW) != 0;
    const int height = GetSystemMetrics(tool ? SM_CYSMCAPTION : SM_CYCAPTION);
    l.caption = Clamp({inner.Left, inner.Top, inner.Right, inner.Top + height - 1});
    inner.Top = std::min(inner.Top + height, inner.Bottom);
    const int bh = std::max(l.caption.Height() - 4, 0);
    const int bw = bh + 2;
    int right = l.caption.Right - 2;
    auto take = [&](Rect& button) {
      button = Clamp({right - bw, l.caption.Top + 2, right, l.caption.Top + 2 + bh});
      right -= bw;
    };
    if (style & WS_SYSMENU) {
      if (!tool)
        l.sysMenu =
            Clamp({l.caption.Left, l.caption.Top, l.caption.Left + height - 1, l.caption.Bottom});
      take(l.closeButton);
      right -= 2;
      if (!tool && (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX))) {
        take(l.maxButton);
        take(l.minButton);
      } else if (exStyle & WS_EX_CONTEXTHELP) {
        take(l.helpButton);
      }
    }
  }
  if (menuHeight > 0 && !(style & WS_CHILD)) {
    l.menu = Clamp({inner.Left, inner.Top, inner.Right, inner.Top + menuHeight});
    inner.Top = l.menu.Bottom;
  }
  l.edge = inner;
  const int edge = EdgeWidth(exStyle);
  inner = Clamp(inner.Inflate(-edge, -edge));
  const int sb = GetSystemMetrics(SM_CXVSCROLL);
  if (style & WS_VSCROLL) {
    l.vscroll =
        Clamp({std::max(inner.Right - sb, inner.Left), inner.Top, inner.Right, inner.Bottom});
    inner.Right = l.vscroll.Left;
  }
  if (style & WS_HSCROLL) {
    l.hscroll =
        Clamp({inner.Left, std::max(inner.Bottom - sb, inner.Top), inner.Right, inner.Bottom});
    inner.Bottom = l.hscroll.Top;
    // The corner between two bars belongs to neither.
    if (!l.vscroll.IsEmpty()) l.vscroll.Bottom = std::max(l.hscroll.Top, l.vscroll.Top);
  }
  l.client = inner;
  return l;
}

Rect ClientArea(unsigned style, unsigned exStyle, const Rect& window, int menuHeight) {
  return Compute(style, exStyle, window, menuHeight).client;
}

int HitTest(unsigned style, unsigned exStyle, const Rect& window, const Rect& client, Point p,
            int menuHeight) {
  if (!window.Contains(p)) return HTNOWHERE;
  if (client.Contains(p)) return HTCLIENT;
  const Layout l = Compute(style, exStyle, window, menuHeight);
  if (l.menu.Contains(p)) return HTMENU;
  if (l.vscroll.Contains(p)) return HTVSCROLL;
  if (l.hscroll.Contains(p)) return HTHSCROLL;
  if (l.closeButton.Contains(p)) return HTCLOSE;
  if (l.maxButton.Contains(p)) return HTMAXBUTTON;
  if (l.minButton.Contains(p)) return HTMINBUTTON;
  if (l.helpButton.Contains(p)) return HTHELP;
  if (l.sysMenu.Contains(p)) return HTSYSMENU;
  if (!l.caption.IsEmpty() && p.Y >= l.caption.Top && p.Y <= l.caption.Bottom &&
      p.X >= l.caption.Left && p.X < l.caption.Right) {
    return HTCAPTION;
  }
  if ((style & WS_THICKFRAME) && l.frame > 0) {
    // Corners reach along each edge as far as a caption is high, as on the platform.
    const int corner = GetSystemMetrics(SM_CYCAPTION) + l.frame;
    const bool left = p.X < l.frame;
    const bool right = p.X >= window.Right - l.frame;
    const bool top = p.Y < l.frame;
    const bool bottom = p.Y >= window.Bottom - l.frame;
    const bool nearLeft = p.X < corner;
    const bool nearRight = p.X >= window.Right - corner;
    const bool nearTop = p.Y < corner;
    const bool nearBottom = p.Y >= window.Bottom - corner;
    if ((top && nearLeft) || (left && nearTop)) return HTTOPLEFT;
    if ((top && nearRight) || (right && nearTop)) return HTTOPRIGHT;
    if ((bottom && nearLeft) || (left && nearBottom)) return HTBOTTOMLEFT;
    if ((bottom && nearRight) || (right && nearBottom)) return HTBOTTOMRIGHT;
    if (left) return HTLEFT;
    if (right) return HTRIGHT;
    if (top) return HTTOP;
    if (bottom) return HTBOTTOM;
  }
  return HTBORDER;
}

void Paint(DC& dc, unsigned style, unsigned exStyle, const Rect& window, const Rect& client,
           std::string_view caption, bool active, const ScrollState& horizontal,
           const ScrollState& vertical, int menuHeight) {
  const Layout l = Compute(style, exStyle, window, menuHeight);
  dc.SaveDC();
  dc.ExcludeClipRect(client.Left, client.Top, client.Right, client.Bottom);
  if (l.frame == 1) {
    dc.FrameRect(window, Brush{BrushStyle::bsSolid, SysColor(COLOR_WINDOWFRAME)});
  } else if (l.frame > 1) {
    Fill(dc, window, (style & WS_THICKFRAME) ? COLOR_ACTIVEBORDER : COLOR_BTNFACE);
    Edge(dc, window, COLOR_3DLIGHT, COLOR_3DDKSHADOW);
    Edge(dc, window.Inflate(-1, -1), COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW);
  }
  if (!l.caption.IsEmpty()) {
    Fill(dc, {l.caption.Left, l.caption.Top, l.caption.Right, l.caption.Bottom + 1}, COLOR_BTNFACE);
    Fill(dc, l.caption, active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION);
    Rect text = l.caption;
    text.Left += l.sysMenu.IsEmpty() ? 2 : l.sysMenu.Width() + 2;
    const Rect& leftmost = !l.minButton.IsEmpty()    ? l.minButton
                           : !l.helpButton.IsEmpty() ? l.helpButton
                                                     : l.closeButton;
    if (!leftmost.IsEmpty()) text.Right = leftmost.Left - 2;
    Font font;
    font.Style = fsBold;
    dc.SelectFont(font);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(SysColor(active ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT));
    dc.DrawText(caption, text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (!l.sysMenu.IsEmpty()) {
      const Rect icon = l.sysMenu.Inflate(-2, -2);
      Fill(dc, icon, COLOR_BTNFACE);
      Edge(dc, icon, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW);
    }
    Button(dc, l.closeButton);
    Glyph(dc, l.closeButton, HTCLOSE);
    Button(dc, l.maxButton);
    Glyph(dc, l.maxButton, HTMAXBUTTON);
    Button(dc, l.minButton);
    Glyph(dc, l.minButton, HTMINBUTTON);
    Button(dc, l.helpButton);
    Glyph(dc, l.helpButton, HTHELP);
  }
  // The bar's items are drawn by the window's owner over this background.
  if (!l.menu.IsEmpty()) Fill(dc, l.menu, COLOR_MENU);
  if (exStyle & WS_EX_CLIENTEDGE) {
    Edge(dc, l.edge, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT);
    Edge(dc, l.edge.Inflate(-1, -1), COLOR_3DDKSHADOW, COLOR_3DLIGHT);
  } else if (exStyle & WS_EX_STATICEDGE) {
    Edge(dc, l.edge, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT);
  }
  for (const Rect* bar : {&l.vscroll, &l.hscroll}) {
    if (bar->IsEmpty()) continue;
    Fill(dc, *bar, COLOR_SCROLLBAR);
    const bool isVertical = bar == &l.vscroll;
    const ScrollParts parts = ScrollBarParts(*bar, isVertical, isVertical ? vertical : horizontal);
    Button(dc, parts.first);
    Button(dc, parts.last);
    Button(dc, parts.thumb);
  }
  if (!l.vscroll.IsEmpty() && !l.hscroll.IsEmpty()) {
    Fill(dc, {l.vscroll.Left, l.hscroll.Top, l.vscroll.Right, l.hscroll.Bottom}, COLOR_BTNFACE);
  }
  dc.RestoreDC(-1);
}

}  // namespace qv::nonclient
