#include "platform/classlib/commctrl.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/base/text.h"
#include "platform/gfx/dc.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"

namespace qv {

namespace {

// What the controls keep per window; only the fields of the window's own kind are used.
struct Control {
  Font font;
  int check = 0;
  bool pressed = false;
  int low = 0, high = 100, pos = 0;  // progress bar
  std::vector<std::string> tabs;     // tab control
  int current = -1;                  // selected tab or list row
  int top = 0;                       // first visible edit line or list row
  std::vector<LVCOLUMN> columns;     // list view
  std::vector<std::vector<std::string>> rows;
  std::vector<int> images;
  const ImageList* small = nullptr;
};

// The calling thread's controls: a control is used on its window's thread only.
std::unordered_map<HWND, Control>& Controls() {
  static thread_local std::unordered_map<HWND, Control> controls;
  return controls;
}

Control& Of(HWND h) {
  return Controls()[h];
}

DWORD StyleOf(HWND h) {
  return static_cast<DWORD>(GetWindowLong(h, GWL_STYLE));
}

Brush Solid(TColor c) {
  return Brush{BrushStyle::bsSolid, c};
}

int LineHeight(const Control& c) {
  Bitmap probe(1, 1);
  DC dc(&probe);
  dc.SelectFont(c.font);
  return std::max(dc.GetTextMetrics().tmHeight, 1);
}

void Notify(HWND h, UINT code) {
  NMHDR header{h, static_cast<std::uintptr_t>(GetWindowLong(h, GWL_ID)), code};
  SendMessage(GetParent(h), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

bool IsReturn(LPARAM msg) {
  const auto* m = reinterpret_cast<const MSG*>(msg);
  return m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN;
}

Point MousePoint(LPARAM l) {
  return {static_cast<std::int16_t>(LOWORD(static_cast<WPARAM>(l))),
          static_cast<std::int16_t>(HIWORD(static_cast<WPARAM>(l)))};
}

// Paints through `draw` with the control's font selected, on a cleared client area.
template <class Draw>
void PaintWith(HWND h, TColor background, Draw draw) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, ps);
  Rect r;
  if (dc && GetClientRect(h, r)) {
    dc->FillRect(r, Solid(background));
    dc->SelectFont(Of(h).font);
    dc->SetBkMode(TRANSPARENT);
    dc->SetTextColor(IsWindowEnabled(h) ? clWindowText : clGrayText);
    draw(*dc, r, Of(h));
  }
  EndPaint(h, ps);
}

void Sunken(DC& dc, const Rect& r) {
  dc.FillRect({r.Left, r.Top, r.Right, r.Top + 1}, Solid(clBtnShadow));
  dc.FillRect({r.Left, r.Top, r.Left + 1, r.Bottom}, Solid(clBtnShadow));
  dc.FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom}, Solid(clBtnHighlight));
  dc.FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, Solid(clBtnHighlight));
}

void Raised(DC& dc, const Rect& r) {
  dc.FillRect({r.Left, r.Top, r.Right, r.Top + 1}, Solid(clBtnHighlight));
  dc.FillRect({r.Left, r.Top, r.Left + 1, r.Bottom}, Solid(clBtnHighlight));
  dc.FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom}, Solid(clBtnShadow));
  dc.FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, Solid(clBtnShadow));
}

// Messages every control kind answers alike; nullopt for the rest.
std::optional<LRESULT> Common(HWND h, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case WM_SETFONT:
      if (w) Of(h).font = *reinterpret_cast<const Font*>(w);
      if (l) InvalidateRect(h, nullptr, true);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(&Of(h).font);
    case WM_SETTEXT: {
      const LRESULT done = DefWindowProcA(h, m, w, l);
      Of(h).top = 0;
      InvalidateRect(h, nullptr, true);
      return done;
    }
    case WM_ENABLE:
      InvalidateRect(h, nullptr, true);
      return 0;
    case WM_NCDESTROY:
      Controls().erase(h);
      return DefWindowProcA(h, m, w, l);
    default:
      return std::nullopt;
  }
}

// ---- BUTTON -----------------------------------------------------------------------------

void Click(HWND h) {
  if ((StyleOf(h) & 0xF) == BS_AUTOCHECKBOX) {
    Of(h).check = Of(h).check ? 0 : 1;
    InvalidateRect(h, nullptr, false);
  }
  SendMessage(GetParent(h), WM_COMMAND,
              MAKELONG(static_cast<std::uint16_t>(GetWindowLong(h, GWL_ID)), BN_CLICKED),
              static_cast<LPARAM>(h));
}

LRESULT ButtonProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (auto r = Common(h, m, w, l)) return *r;
  const DWORD style = StyleOf(h);
  const bool checkBox = (style & 0xF) == BS_AUTOCHECKBOX;
  switch (m) {
    case BM_GETCHECK:
      return Of(h).check;
    case BM_SETCHECK:
      Of(h).check = w == BST_CHECKED ? 1 : 0;
      InvalidateRect(h, nullptr, false);
      return 0;
    case BM_CLICK:
      Click(h);
      return 0;
    case WM_LBUTTONDOWN:
      Of(h).pressed = true;
      SetCapture(h);
      SetFocus(h);
      InvalidateRect(h, nullptr, false);
      return 0;
    case WM_LBUTTONUP: {
      const bool was = std::exchange(Of(h).pressed, false);
      ReleaseCapture();
      InvalidateRect(h, nullptr, false);
      Rect r;
      if (was && GetClientRect(h, r) && r.Contains(MousePoint(l))) Click(h);
      return 0;
    }
    case WM_KEYDOWN:
      if (w == VK_SPACE) Click(h);
      return 0;
    case WM_PAINT:
      PaintWith(h, clBtnFace, [&](DC& dc, Rect r, Control& c) {
        const std::string text = GetWindowText(h);
        if (checkBox) {
          const int box = 13;
          const bool right = style & BS_RIGHTBUTTON;
          const int top = (r.Height() - box) / 2;
          const Rect square =
              right ? Rect{r.Right - box, top, r.Right, top + box} : Rect{0, top, box, top + box};
          dc.FillRect(square, Solid(clWindow));
          dc.FrameRect(square, Solid(style & BS_FLAT ? clBlack : clBtnShadow));
          if (c.check) dc.FillRect(square.Inflate(-3, -3), Solid(clWindowText));
          Rect label =
              right ? Rect{0, 0, r.Right - box - 4, r.Bottom} : Rect{box + 4, 0, r.Right, r.Bottom};
          dc.DrawText(text, label, DT_SINGLELINE | DT_VCENTER | (right ? DT_RIGHT : DT_LEFT));
          return;
        }
        if (style & BS_FLAT) {
          dc.FrameRect(r, Solid(clBlack));
        } else {
          (c.pressed ? Sunken : Raised)(dc, r);
        }
        if ((style & 0xF) == BS_DEFPUSHBUTTON) dc.FrameRect(r, Solid(clBlack));
        Rect label = r;
        if (c.pressed) label = label.Offset(1, 1);
        dc.DrawText(text, label, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
      });
      return 0;
    default:
      return DefWindowProcA(h, m, w, l);
  }
}

// ---- STATIC -----------------------------------------------------------------------------

LRESULT StaticProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (auto r = Common(h, m, w, l)) return *r;
  if (m != WM_PAINT) return m == WM_NCHITTEST ? LRESULT{HTTRANSPARENT} : DefWindowProcA(h, m, w, l);
  const DWORD style = StyleOf(h);
  PaintWith(h, clBtnFace, [&](DC& dc, Rect r, Control&) {
    if ((style & 0x1F) == SS_BLACKFRAME) {
      dc.FrameRect(r, Solid(clBlack));
      return;
    }
    dc.DrawText(GetWindowText(h), r,
                DT_WORDBREAK | ((style & 0x1F) == SS_CENTER ? unsigned{DT_CENTER} : 0u));
  });
  return 0;
}

// ---- EDIT -------------------------------------------------------------------------------

int VisibleLines(HWND h) {
  Rect r;
  if (!GetClientRect(h, r)) return 1;
  return std::max(r.Height() / LineHeight(Of(h)), 1);
}

void UpdateEditScroll(HWND h) {
  if (!(StyleOf(h) & WS_VSCROLL)) return;
  SCROLLINFO si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMax = static_cast<int>(SplitTextLines(GetWindowText(h)).size()) - 1;
  si.nPage = static_cast<UINT>(VisibleLines(h));
  si.nPos = Of(h).top;
  SetScrollInfo(h, SB_VERT, si, true);
}

void ScrollEditTo(HWND h, int line) {
  const int count = static_cast<int>(SplitTextLines(GetWindowText(h)).size());
  line = std::clamp(line, 0, std::max(count - VisibleLines(h), 0));
  if (line == Of(h).top) return;
  Of(h).top = line;
  UpdateEditScroll(h);
  InvalidateRect(h, nullptr, true);
}

LRESULT EditProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_SETTEXT || m == WM_SIZE) {
    const LRESULT r = m == WM_SETTEXT ? *Common(h, m, w, l) : DefWindowProcA(h, m, w, l);
    UpdateEditScroll(h);
    return r;
  }
  if (auto r = Common(h, m, w, l)) return *r;
  const DWORD style = StyleOf(h);
  switch (m) {
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS |
             ((style & ES_WANTRETURN) && IsReturn(l) ? LRESULT{DLGC_WANTALLKEYS} : 0);
    case EM_GETLINECOUNT:
      return static_cast<LRESULT>(SplitTextLines(GetWindowText(h)).size());
    case EM_GETFIRSTVISIBLELINE:
      return Of(h).top;
    case EM_LINESCROLL:
      ScrollEditTo(h, Of(h).top + static_cast<int>(l));
      return 1;
    case WM_VSCROLL: {
      const int page = VisibleLines(h);
      const int top = Of(h).top;
      const WPARAM code = LOWORD(w);
      const int to = code == SB_LINEUP     ? top - 1
                     : code == SB_LINEDOWN ? top + 1
                     : code == SB_PAGEUP   ? top - page
                     : code == SB_PAGEDOWN ? top + page
                     : code == SB_THUMBTRACK || code == SB_THUMBPOSITION
                         ? static_cast<int>(HIWORD(w))
                         : top;
      ScrollEditTo(h, to);
      return 0;
    }
    case WM_MOUSEWHEEL:
      ScrollEditTo(h, Of(h).top - 3 * static_cast<std::int16_t>(HIWORD(w)) / 120);
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(h);
      return 0;
    case WM_KEYDOWN:
      if (w == VK_UP || w == VK_DOWN) ScrollEditTo(h, Of(h).top + (w == VK_UP ? -1 : 1));
      if (w == VK_PRIOR || w == VK_NEXT) {
        ScrollEditTo(h, Of(h).top + (w == VK_PRIOR ? -1 : 1) * VisibleLines(h));
      }
      return 0;
    case WM_CHAR: {
      if (style & ES_READONLY) return 0;
      std::string text = GetWindowText(h);
      if (w == VK_BACK) {
        if (!text.empty()) text.pop_back();
      } else if (w == '\r') {
        if (!(style & ES_WANTRETURN)) return 0;
        text += "\r\n";
      } else if (w >= 0x20) {
        text += static_cast<char>(w);
      }
      SetWindowText(h, text);
      ScrollEditTo(h, static_cast<int>(SplitTextLines(text).size()));
      return 0;
    }
    case WM_PAINT:
      PaintWith(h, (style & ES_READONLY) && !(style & ES_MULTILINE) ? clBtnFace : clWindow,
                [&](DC& dc, Rect r, Control& c) {
                  const auto lines = SplitTextLines(GetWindowText(h));
                  const int height = LineHeight(c);
                  int y = 0;
                  for (std::size_t i = static_cast<std::size_t>(c.top);
                       i < lines.size() && y < r.Bottom; ++i, y += height) {
                    const std::string shown =
                        style & ES_PASSWORD ? std::string(lines[i].size(), '*') : lines[i];
                    dc.TextOut(2, y, shown);
                  }
                });
      return 0;
    default:
      return DefWindowProcA(h, m, w, l);
  }
}

// ---- msctls_progress32 ------------------------------------------------------------------

LRESULT ProgressProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (auto r = Common(h, m, w, l)) return *r;
  Control& c = Of(h);
  switch (m) {
    case PBM_SETRANGE: {
      const LRESULT old =
          MAKELONG(static_cast<std::uint16_t>(c.low), static_cast<std::uint16_t>(c.high));
      c.low = LOWORD(static_cast<WPARAM>(l));
      c.high = std::max<int>(HIWORD(static_cast<WPARAM>(l)), c.low);
      c.pos = std::clamp(c.pos, c.low, c.high);
      InvalidateRect(h, nullptr, false);
      return old;
    }
    case PBM_SETPOS: {
      const int old = c.pos;
      c.pos = std::clamp(static_cast<int>(w), c.low, c.high);
      InvalidateRect(h, nullptr, false);
      return old;
    }
    case PBM_GETPOS:
      return c.pos;
    case WM_PAINT:
      PaintWith(h, clBtnFace, [&](DC& dc, Rect r, Control& p) {
        const int span = std::max(p.high - p.low, 1);
        const int filled =
            static_cast<int>(static_cast<long long>(r.Width()) * (p.pos - p.low) / span);
        dc.FillRect({r.Left, r.Top, r.Left + filled, r.Bottom}, Solid(clHighlight));
      });
      return 0;
    default:
      return DefWindowProcA(h, m, w, l);
  }
}

// ---- SysTabControl32 ---------------------------------------------------------------------

int TabRowHeight(const Control& c) {
  return LineHeight(c) + 6;
}

Rect TabRect(HWND h, int index) {
  Control& c = Of(h);
  Bitmap probe(1, 1);
  DC dc(&probe);
  dc.SelectFont(c.font);
  int x = 2;
  for (int i = 0; i < static_cast<int>(c.tabs.size()); ++i) {
    const int width = dc.TextWidth(c.tabs[static_cast<std::size_t>(i)]) + 12;
    if (i == index) return {x, 2, x + width, TabRowHeight(c)};
    x += width;
  }
  return {};
}

LRESULT TabProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (auto r = Common(h, m, w, l)) return *r;
  Control& c = Of(h);
  const int count = static_cast<int>(c.tabs.size());
  switch (m) {
    case TCM_GETITEMCOUNT:
      return count;
    case TCM_INSERTITEM: {
      const int at = std::clamp(static_cast<int>(w), 0, count);
      c.tabs.insert(c.tabs.begin() + at, reinterpret_cast<const char*>(l));
      if (c.current < 0) c.current = 0;
      InvalidateRect(h, nullptr, true);
      return at;
    }
    case TCM_GETCURSEL:
      return c.current;
    case TCM_SETCURSEL: {
      if (static_cast<int>(w) < 0 || static_cast<int>(w) >= count) return -1;
      const int old = std::exchange(c.current, static_cast<int>(w));
      InvalidateRect(h, nullptr, true);
      return old;
    }
    case TCM_GETITEMRECT:
      if (static_cast<int>(w) < 0 || static_cast<int>(w) >= count) return 0;
      *reinterpret_cast<Rect*>(l) = TabRect(h, static_cast<int>(w));
      return 1;
    case TCM_ADJUSTRECT: {
      Rect& r = *reinterpret_cast<Rect*>(l);
      const int row = TabRowHeight(c);
      r = w ? Rect{r.Left - 4, r.Top - row - 4, r.Right + 4, r.Bottom + 4}
            : Rect{r.Left + 4, r.Top + row + 4, r.Right - 4, r.Bottom - 4};
      return 0;
    }
    case WM_LBUTTONDOWN:
      for (int i = 0; i < count; ++i) {
        if (i != c.current && TabRect(h, i).Contains(MousePoint(l))) {
          c.current = i;
          InvalidateRect(h, nullptr, true);
          Notify(h, TCN_SELCHANGE);
          break;
        }
      }
      return 0;
    case WM_PAINT:
      PaintWith(h, clBtnFace, [&](DC& dc, Rect r, Control& t) {
        Raised(dc, {r.Left, TabRowHeight(t), r.Right, r.Bottom});
        for (int i = 0; i < static_cast<int>(t.tabs.size()); ++i) {
          Rect tab = TabRect(h, i);
          if (i == t.current) tab = {tab.Left - 2, tab.Top - 2, tab.Right + 2, tab.Bottom + 1};
          dc.FillRect(tab, Solid(clBtnFace));
          Raised(dc, {tab.Left, tab.Top, tab.Right, tab.Bottom + 2});
          dc.DrawText(t.tabs[static_cast<std::size_t>(i)], tab,
                      DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        }
      });
      return 0;
    default:
      return DefWindowProcA(h, m, w, l);
  }
}

// ---- SysListView32 (report view) ---------------------------------------------------------

int RowHeight(const Control& c) {
  return std::max(LineHeight(c), c.small ? c.small->cy : 0) + 1;
}

int HeaderHeight(const Control& c) {
  return LineHeight(c) + 6;
}

int RowAt(HWND h, Point p) {
  const Control& c = Of(h);
  if (p.Y < HeaderHeight(c)) return -1;
  const int row = c.top + (p.Y - HeaderHeight(c)) / RowHeight(c);
  return row < static_cast<int>(c.rows.size()) ? row : -1;
}

void SelectRow(HWND h, int row) {
  Control& c = Of(h);
  const int count = static_cast<int>(c.rows.size());
  if (count == 0) return;
  c.current = std::clamp(row, 0, count - 1);
  Rect r;
  if (!GetClientRect(h, r)) return;
  const int page = std::max((r.Height() - HeaderHeight(c)) / RowHeight(c), 1);
  if (c.current < c.top) c.top = c.current;
  if (c.current >= c.top + page) c.top = c.current - page + 1;
  InvalidateRect(h, nullptr, true);
}

void Activate(HWND h, int row) {
  NMITEMACTIVATE note;
  note.hdr = {h, static_cast<std::uintptr_t>(GetWindowLong(h, GWL_ID)), LVN_ITEMACTIVATE};
  note.iItem = row;
  SendMessage(GetParent(h), WM_NOTIFY, note.hdr.idFrom, reinterpret_cast<LPARAM>(&note));
}

LRESULT ListViewProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (auto r = Common(h, m, w, l)) return *r;
  Control& c = Of(h);
  const int count = static_cast<int>(c.rows.size());
  switch (m) {
    case LVM_SETIMAGELIST:
      if (w == LVSIL_SMALL) c.small = reinterpret_cast<const ImageList*>(l);
      InvalidateRect(h, nullptr, true);
      return 0;
    case LVM_INSERTCOLUMN: {
      const int at = std::clamp(static_cast<int>(w), 0, static_cast<int>(c.columns.size()));
      c.columns.insert(c.columns.begin() + at, *reinterpret_cast<const LVCOLUMN*>(l));
      for (auto& row : c.rows) {
        if (static_cast<int>(row.size()) > at) row.insert(row.begin() + at, std::string());
      }
      InvalidateRect(h, nullptr, true);
      return at;
    }
    case LVM_GETCOLUMNWIDTH:
      return w < c.columns.size() ? c.columns[w].width : 0;
    case LVM_SETCOLUMNWIDTH:
      if (w >= c.columns.size()) return 0;
      c.columns[w].width = static_cast<int>(l);
      InvalidateRect(h, nullptr, true);
      return 1;
    case LVM_INSERTITEM: {
      const auto& item = *reinterpret_cast<const LVITEM*>(l);
      const int at = std::clamp(item.item, 0, count);
      c.rows.insert(c.rows.begin() + at, std::vector<std::string>{item.text});
      c.images.insert(c.images.begin() + at, item.image);
      if (c.current >= at) ++c.current;
      InvalidateRect(h, nullptr, true);
      return at;
    }
    case LVM_SETITEMTEXT:
    case LVM_GETITEMTEXT: {
      auto& item = *reinterpret_cast<LVITEM*>(l);
      if (item.item < 0 || item.item >= count || item.subItem < 0) return 0;
      auto& row = c.rows[static_cast<std::size_t>(item.item)];
      const auto sub = static_cast<std::size_t>(item.subItem);
      if (m == LVM_GETITEMTEXT) {
        item.text = sub < row.size() ? row[sub] : std::string();
        return static_cast<LRESULT>(item.text.size());
      }
      if (row.size() <= sub) row.resize(sub + 1);
      row[sub] = item.text;
      InvalidateRect(h, nullptr, true);
      return 1;
    }
    case LVM_GETITEMCOUNT:
      return count;
    case LVM_GETNEXTITEM:
      return l == LVNI_SELECTED && c.current > static_cast<int>(w) ? c.current : -1;
    case LVM_SETITEMSTATE:
      SelectRow(h, static_cast<int>(w));
      return 1;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | (IsReturn(l) && c.current >= 0 ? LRESULT{DLGC_WANTALLKEYS} : 0);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      SetFocus(h);
      const int row = RowAt(h, MousePoint(l));
      if (row >= 0) SelectRow(h, row);
      if (row >= 0 && m == WM_LBUTTONDBLCLK) Activate(h, row);
      return 0;
    }
    case WM_KEYDOWN:
      if (w == VK_UP || w == VK_DOWN) SelectRow(h, c.current + (w == VK_UP ? -1 : 1));
      if (w == VK_RETURN && c.current >= 0) Activate(h, c.current);
      return 0;
    case WM_MOUSEWHEEL:
      c.top = std::clamp(c.top - 3 * static_cast<std::int16_t>(HIWORD(w)) / 120, 0,
                         std::max(count - 1, 0));
      InvalidateRect(h, nullptr, true);
      return 0;
    case WM_PAINT:
      PaintWith(h, clWhite, [&](DC& dc, Rect r, Control& v) {
        const int header = HeaderHeight(v);
        const int rowHeight = RowHeight(v);
        int x = 0;
        for (const LVCOLUMN& col : v.columns) {
          const Rect cell{x, 0, x + col.width, header};
          dc.FillRect(cell, Solid(clBtnFace));
          Raised(dc, cell);
          Rect text = cell.Inflate(-4, 0);
          dc.SetTextColor(clBlack);
          dc.DrawText(col.text, text, DT_SINGLELINE | DT_VCENTER);
          x += col.width;
        }
        int y = header;
        for (int i = v.top; i < static_cast<int>(v.rows.size()) && y < r.Bottom;
             ++i, y += rowHeight) {
          const bool selected = i == v.current;
          if (selected) dc.FillRect({0, y, x, y + rowHeight}, Solid(clHighlight));
          dc.SetTextColor(selected ? clHighlightText : clBlack);
          int cx = 0;
          const auto& row = v.rows[static_cast<std::size_t>(i)];
          for (std::size_t col = 0; col < v.columns.size(); ++col) {
            Rect cell{cx + 2, y, cx + v.columns[col].width - 2, y + rowHeight};
            if (col == 0 && v.small) {
              DrawImage(dc, *v.small, v.images[static_cast<std::size_t>(i)], cell.Left, y);
              cell.Left += v.small->cx + 2;
            }
            if (col < row.size()) {
              dc.DrawText(row[col], cell,
                          DT_SINGLELINE | DT_VCENTER |
                              (v.columns[col].format == LVCFMT_RIGHT ? DT_RIGHT : DT_LEFT));
            }
            cx += v.columns[col].width;
          }
        }
      });
      return 0;
    default:
      return DefWindowProcA(h, m, w, l);
  }
}

}  // namespace

void RegisterDialogControls() {
  const struct {
    const char* name;
    LRESULT (*proc)(HWND, UINT, WPARAM, LPARAM);
  } classes[] = {{"BUTTON", ButtonProc},       {"STATIC", StaticProc},
                 {"EDIT", EditProc},           {"msctls_progress32", ProgressProc},
                 {"SysTabControl32", TabProc}, {"SysListView32", ListViewProc}};
  for (const auto& c : classes) {
    WNDCLASS wc;
    wc.lpszClassName = c.name;
    wc.lpfnWndProc = c.proc;
    wc.hbrBackground = clNone;  // each paints its whole client area
    wc.style = CS_DBLCLKS;
    RegisterClass(wc);
  }
}

void DrawImage(DC& dc, const ImageList& list, int index, int x, int y, bool enabled) {
  if (index < 0 || index >= static_cast<int>(list.images.size())) return;
  const Bitmap& b = list.images[static_cast<std::size_t>(index)];
  const COLORREF key =
      list.transparent == clNone ? b.Pixel(0, b.Height() - 1) : ColorToRGB(list.transparent);
  for (int yy = 0; yy < std::min(b.Height(), list.cy); ++yy) {
    for (int xx = 0; xx < std::min(b.Width(), list.cx); ++xx) {
      COLORREF p = b.Pixel(xx, yy);
      if (p == key) continue;
      if (!enabled) {  // disabled: a light grey of the pixel's brightness
        const unsigned g = (GetRValue(p) * 30 + GetGValue(p) * 59 + GetBValue(p) * 11) / 100;
        const unsigned v = 128 + g / 2;
        p = RGB(std::uint8_t(v), std::uint8_t(v), std::uint8_t(v));
      }
      dc.SetPixel(x + xx, y + yy, static_cast<TColor>(p));
    }
  }
}

}  // namespace qv
