#include "crashlog/report_dialog.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "crashlog/report_layout.h"
#include "crashlog/trace_log.h"
#include "platform/base/paths.h"
#include "platform/base/text.h"
#include "platform/classlib/dialogs.h"
#include "platform/classlib/dlgtemplate.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/display_backend.h"
#include "platform/ui/nonclient.h"
#include "platform/ui/window_system.h"

namespace qv {

namespace {

constexpr std::uintptr_t kPaintTimer = 1;
// How long a dialog may take to paint before it counts as never shown (an X server paints
// asynchronously, so a single tick is not enough).
constexpr UINT kPaintTimeout = 2000;
constexpr COLORREF kBackground = RGB(212, 208, 200);
// Posted from WM_INITDIALOG: a control of a dialog not yet shown cannot take the focus, so
// the control in wParam takes it once the dialog is up.
constexpr UINT WM_FOCUS_CONTROL = WM_APP + 1;

void FocusWhenShown(HWND dialog, HWND control) {
  PostMessage(dialog, WM_FOCUS_CONTROL, static_cast<WPARAM>(control), 0);
}

// ---- templates -------------------------------------------------------------------------------

DLGTEMPLATE MainTemplate(const TOstrelModuleOptions& o) {
  DLGTEMPLATE t;
  t.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
  t.exStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
  t.caption = o.Texts(2);
  t.cx = 473;
  t.cy = 248;
  t.items = {
      {"BUTTON", "Kill", IDC_REPORT_TERMINATE, WS_TABSTOP | BS_FLAT, 0, 113, 196, 50, 15},
      {"BUTTON", "OK", IDC_REPORT_OK, WS_TABSTOP | BS_DEFPUSHBUTTON | BS_FLAT, 0, 212, 196, 50, 15},
      {"BUTTON", "Details", IDC_REPORT_DETAILS, WS_TABSTOP | BS_FLAT, 0, 316, 196, 50, 15},
      {"STATIC", "Text", IDC_REPORT_MESSAGE, SS_CENTER, 0, 34, 5, 432, 30},
      {"SysTabControl32", "", IDC_REPORT_TABS, 0, WS_EX_STATICEDGE, 7, 40, 462, 151},
      {"STATIC", "", IDC_REPORT_LINE, SS_BLACKFRAME, 0, 134, 219, 208, 2},
      {"BUTTON", "Send an email to the program author", IDC_REPORT_SEND,
       WS_TABSTOP | BS_AUTOCHECKBOX | BS_FLAT, 0, 7, 223, 130, 8},
      {"BUTTON", "Attach a screenshot", IDC_REPORT_SCREENSHOT,
       WS_TABSTOP | BS_AUTOCHECKBOX | BS_FLAT, 0, 19, 233, 145, 8},
      {"BUTTON", "Copy to clipboard", IDC_REPORT_COPY,
       WS_TABSTOP | BS_AUTOCHECKBOX | BS_FLAT | BS_RIGHTBUTTON, 0, 152, 223, 145, 8},
  };
  return t;
}

DLGTEMPLATE PageTemplate(bool list) {
  DLGTEMPLATE t;
  t.style = WS_CHILD | WS_VISIBLE | DS_CONTROL;
  t.cx = 473;
  t.cy = list ? 155 : 168;
  t.items.push_back({"STATIC", "Informations", IDC_PAGE_LABEL, 0, 0, 3, 2, 462, 8});
  if (list) {
    t.items.push_back({"SysListView32", "", IDC_PAGE_CONTROL,
                       LVS_REPORT | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL,
                       WS_EX_CLIENTEDGE, 3, 12, 462, 134});
  } else {
    t.items.push_back({"EDIT", "", IDC_PAGE_CONTROL,
                       ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL,
                       WS_EX_CLIENTEDGE, 4, 15, 462, 146});
  }
  return t;
}

DLGTEMPLATE RequestTemplate(const TOstrelModuleOptions& o) {
  DLGTEMPLATE t;
  t.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER;
  t.exStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
  t.caption = o.Texts(59);
  t.cx = 316;
  t.cy = 153;
  t.items = {
      // As wide as the edit below it: the text does not fit 159 units in the fonts drawn here.
      {"STATIC", o.Texts(60), 100, 0, 0, 8, 8, 302, 8},
      {"EDIT", "", 101, ES_MULTILINE | ES_WANTRETURN | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 0, 8,
       16, 302, 115},
      {"BUTTON", o.Texts(61), IDC_REPORT_OK, BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 260, 135, 50, 14},
  };
  return t;
}

// ---- pictures --------------------------------------------------------------------------------

// A 16 x 16 picture on a magenta ground (the bottom-left pixel, so transparent): a book for a
// library, a box for a package, a window for a program, a sheet for a source unit.
Bitmap ListImage(int kind) {
  Bitmap b(16, 16);
  b.Fill(RGB(255, 0, 255));
  auto box = [&b](int l, int t, int r, int bottom, COLORREF c) {
    for (int y = t; y < bottom; ++y)
      for (int x = l; x < r; ++x) b.SetPixel(x, y, c);
  };
  switch (kind) {
    case 0:
      box(3, 1, 13, 15, RGB(0, 0, 128));
      box(5, 3, 11, 5, RGB(255, 255, 255));
      break;
    case 1:
      box(2, 4, 14, 14, RGB(160, 96, 32));
      box(2, 7, 14, 8, RGB(96, 48, 0));
      break;
    case 2:
      box(1, 2, 15, 14, RGB(0, 0, 128));
      box(2, 5, 14, 13, RGB(255, 255, 255));
      break;
    default:
      box(3, 1, 13, 15, RGB(255, 255, 255));
      for (int y = 4; y < 13; y += 3) box(5, y, 11, y + 1, RGB(0, 0, 0));
      break;
  }
  return b;
}

// A 32 x 32 monitor with a red warning on its screen, on a magenta ground.
Bitmap MonitorPicture() {
  Bitmap b(32, 32);
  b.Fill(RGB(255, 0, 255));
  auto box = [&b](int l, int t, int r, int bottom, COLORREF c) {
    for (int y = t; y < bottom; ++y)
      for (int x = l; x < r; ++x) b.SetPixel(x, y, c);
  };
  box(2, 2, 30, 24, RGB(128, 128, 128));
  box(4, 4, 28, 22, RGB(0, 0, 128));
  box(14, 7, 18, 16, RGB(255, 0, 0));
  box(14, 18, 18, 20, RGB(255, 0, 0));
  box(12, 24, 20, 27, RGB(96, 96, 96));
  box(7, 27, 25, 30, RGB(160, 160, 160));
  return b;
}

// ---- fonts and texts -------------------------------------------------------------------------

void SetFont(HWND control, const Font& font) {
  SendMessage(control, WM_SETFONT, reinterpret_cast<WPARAM>(&font), 1);
}

std::string Hex16(uintptr_t value) {
  char text[20];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// How a dialog of the logger came out.
enum class Shown { no, yes, unattended };

// Runs `body` on a thread of its own that has a window system on the display `display`
// makes. No display: `no`. With nobody to answer (message boxes unattended, or a display
// that lives only in memory), dialogs take their default answer at once, as message boxes
// do: `unattended`, and `body` does not run.
Shown OnWindowThread(const TDisplayFactory& display, const std::function<void()>& body) {
  Shown started = Shown::no;
  std::thread thread([&] {
    std::unique_ptr<DisplayBackend> backend = display ? display() : nullptr;
    if (backend != nullptr && (MessageBoxesUnattended() || backend->Name() == "headless")) {
      started = Shown::unattended;
      return;
    }
    if (backend == nullptr || !StartWindowSystem(std::move(backend))) return;
    started = Shown::yes;
    RegisterDialogControls();
    body();
    StopWindowSystem();
  });
  thread.join();
  return started;
}

// ---- the main dialog -------------------------------------------------------------------------

struct ReportDialog {
  const TReportDialogInput& in;
  const TOstrelModuleOptions& o;
  TDialogFonts fonts;
  ImageList images;
  Bitmap monitor = MonitorPicture();
  TDialogMetrics metrics;
  std::string iniFile = LayoutFileName();
  TSavedLayout layout;
  std::vector<TReportRow> stackRows, moduleRows;
  HWND dialog = 0, page = 0;
  int pageIndex = 0;
  bool details = false, painted = false, active = true, terminate = false;
  bool showSend = false, showShot = false;
  int boxes = 20;
  TReportDialogResult result;

  ReportDialog(const TReportDialogInput& input)
      : in(input),
        o(*input.options),
        stackRows(CallStackRows(input.stack, input.program)),
        moduleRows(ModuleRows(input.modules)) {
    for (int i = 0; i < 4; ++i) images.images.push_back(ListImage(i));
  }

  HWND Item(int id) const { return GetDlgItem(dialog, id); }
  bool SendWay() const { return o.SendWay() != swNone; }

  void Init(HWND h) {
    dialog = h;
    metrics = CurrentDialogMetrics();  // the screen of this thread's display
    showSend = SendWay() && !in.duplicate;
    showShot = showSend && o.AttachScreenshot();
    boxes = CheckBoxAreaHeight(showSend, showShot);
    SetForegroundWindow(h);
    MessageBeep();
    SetWindowText(Item(IDC_REPORT_OK), o.Texts(12));
    SetWindowText(Item(IDC_REPORT_TERMINATE), o.Texts(o.RestartAfterTerminate() ? 14 : 13));
    SetWindowText(Item(IDC_REPORT_SEND), o.Texts(16));
    SetWindowText(Item(IDC_REPORT_SCREENSHOT), o.Texts(17));
    SetWindowText(Item(IDC_REPORT_COPY), o.Texts(18));
    for (int id : {IDC_REPORT_MESSAGE, IDC_REPORT_OK, IDC_REPORT_TERMINATE, IDC_REPORT_DETAILS,
                   IDC_REPORT_TABS, IDC_REPORT_SEND, IDC_REPORT_SCREENSHOT, IDC_REPORT_COPY})
      SetFont(Item(id), fonts.message);
    SendMessage(Item(IDC_REPORT_SEND), BM_SETCHECK, SendWay() ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessage(Item(IDC_REPORT_SCREENSHOT), BM_SETCHECK,
                in.screenshot ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessage(Item(IDC_REPORT_COPY), BM_SETCHECK, BST_UNCHECKED, 0);
    if (!showSend) ShowWindow(Item(IDC_REPORT_SEND), SW_HIDE);
    if (!showShot) ShowWindow(Item(IDC_REPORT_SCREENSHOT), SW_HIDE);
    EnableWindow(Item(IDC_REPORT_SCREENSHOT), SendWay());
    const HWND tabs = Item(IDC_REPORT_TABS);
    for (int i = 0; i < 4; ++i)
      SendMessage(tabs, TCM_INSERTITEM, WPARAM(i),
                  reinterpret_cast<LPARAM>(o.Texts(4 + 2 * i).c_str()));
    pageIndex = std::min<int>(o.DetailsPage(), 3);
    SendMessage(tabs, TCM_SETCURSEL, WPARAM(pageIndex), 0);
    FocusWhenShown(h, Item(IDC_REPORT_OK));
    // The first page may be a list: its columns take the saved widths.
    layout = LoadLayout(iniFile, metrics, boxes);
    CreatePage();
    ToggleDetails(false);
    SetTimer(h, kPaintTimer, kPaintTimeout);
  }

  // ---- pages ----

  void CreatePage() {
    DestroyPage();
    const bool list = pageIndex == 1 || pageIndex == 2;
    page = CreateDialogIndirectParam(
        PageTemplate(list), Item(IDC_REPORT_TABS),
        [this](HWND h, UINT m, WPARAM w, LPARAM l) -> INT_PTR { return PageProc(h, m, w, l); });
    PlaceDetailsPage();
  }

  void DestroyPage() {
    if (page == 0) return;
    const HWND list = GetDlgItem(page, IDC_PAGE_CONTROL);
    if (GetClassName(list) == "SysListView32") {
      auto& widths = pageIndex == 1 ? layout.stackColumns : layout.moduleColumns;
      for (int i = 0; i < 6; ++i)
        widths[std::size_t(i)] = int(SendMessage(list, LVM_GETCOLUMNWIDTH, WPARAM(i), 0));
    }
    DestroyWindow(std::exchange(page, 0));
  }

  void FillList(HWND list, const std::vector<TReportRow>& rows, int firstText,
                const std::array<int, 6>& widths, std::initializer_list<int> rightAligned) {
    SetFont(list, fonts.fixed);
    SendMessage(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(&images));
    for (int c = 0; c < 6; ++c) {
      LVCOLUMN column;
      column.text = o.Texts(firstText + c);
      column.width = widths[std::size_t(c)];
      column.format = std::find(rightAligned.begin(), rightAligned.end(), c) != rightAligned.end()
                          ? LVCFMT_RIGHT
                          : LVCFMT_LEFT;
      SendMessage(list, LVM_INSERTCOLUMN, WPARAM(c), reinterpret_cast<LPARAM>(&column));
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
      LVITEM item;
      item.item = int(r);
      item.text = rows[r].cells[0];
      item.image = rows[r].image;
      const int index = int(SendMessage(list, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item)));
      for (int c = 1; c < 6; ++c) {
        LVITEM cell;
        cell.item = index;
        cell.subItem = c;
        cell.text = rows[r].cells[std::size_t(c)];
        SendMessage(list, LVM_SETITEMTEXT, 0, reinterpret_cast<LPARAM>(&cell));
      }
    }
  }

  INT_PTR PageProc(HWND h, UINT m, WPARAM, LPARAM l) {
    switch (m) {
      case WM_INITDIALOG: {
        const HWND label = GetDlgItem(h, IDC_PAGE_LABEL);
        const HWND control = GetDlgItem(h, IDC_PAGE_CONTROL);
        SetWindowText(label, o.Texts(5 + 2 * pageIndex));
        SetFont(label, fonts.message);
        if (pageIndex == 0 || pageIndex == 3) {
          SetFont(control, fonts.fixed);
          SetWindowText(control, pageIndex == 0 ? in.general : in.cpu);
        } else if (pageIndex == 1) {
          FillList(control, stackRows, 47, layout.stackColumns, {5});
        } else {
          FillList(control, moduleRows, 62, layout.moduleColumns, {3, 4});
        }
        return 0;
      }
      case WM_NOTIFY: {
        const auto* note = reinterpret_cast<const NMHDR*>(l);
        if (pageIndex == 1 && note->code == LVN_ITEMACTIVATE) {
          const int row = reinterpret_cast<const NMITEMACTIVATE*>(l)->iItem;
          if (row >= 0 && std::size_t(row) < stackRows.size()) {
            const TReportRow& r = stackRows[std::size_t(row)];
            if (!r.cells[5].empty())
              SendMailSlotMessage(r.cells[2],
                                  uint32_t(std::strtoul(r.cells[5].c_str(), nullptr, 10)));
          }
          return 1;
        }
        return 0;
      }
      default:
        return 0;
    }
  }

  void PlaceDetailsPage() {
    const HWND tabs = Item(IDC_REPORT_TABS);
    Rect r;
    if (page == 0 || !GetClientRect(tabs, r)) return;
    SendMessage(tabs, TCM_ADJUSTRECT, 0, reinterpret_cast<LPARAM>(&r));
    const Rect area{r.Left - 3, r.Top - 1, r.Right, r.Bottom};
    MoveWindow(page, area.Left, area.Top, area.Width(), area.Height(), true);
    MoveWindow(GetDlgItem(page, IDC_PAGE_CONTROL), 3, 20, area.Width() - 8, area.Height() - 24,
               true);
  }

  // ---- layouts ----

  void ToggleDetails(bool on) {
    TraceScope trace("ToggleDetails", {on});
    details = on;
    if (!o.CustomDialogLook()) {
      for (int id : {IDC_REPORT_OK, IDC_REPORT_TERMINATE, IDC_REPORT_DETAILS, IDC_REPORT_SEND,
                     IDC_REPORT_SCREENSHOT, IDC_REPORT_COPY}) {
        const HWND c = Item(id);
        SetWindowLong(c, GWL_STYLE, GetWindowLong(c, GWL_STYLE) & ~std::intptr_t(BS_FLAT));
      }
    }
    const DWORD sizing = WS_THICKFRAME | WS_MAXIMIZEBOX | (o.CustomDialogLook() ? 0 : WS_SYSMENU);
    DWORD style = DWORD(GetWindowLong(dialog, GWL_STYLE));
    const HWND message = Item(IDC_REPORT_MESSAGE);
    Rect placement;
    int show = SW_SHOWNORMAL;
    if (on) {
      style |= sizing;
      SetWindowText(Item(IDC_REPORT_DETAILS), "<< " + o.Texts(15));
      SetWindowText(message, o.Texts(3));
      // The placement as saved; the column widths are those of the lists shown so far.
      const TSavedLayout saved = LoadLayout(iniFile, metrics, boxes);
      layout.left = saved.left;
      layout.top = saved.top;
      layout.width = saved.width;
      layout.height = saved.height;
      layout.state = saved.state;
      placement = Bounds(layout.left, layout.top, layout.width, layout.height + boxes);
      show = layout.state == 3 ? SW_MAXIMIZE : layout.state == 6 ? SW_MINIMIZE : SW_SHOWNORMAL;
    } else {
      style &= ~sizing;
      SetWindowText(Item(IDC_REPORT_DETAILS), o.Texts(15) + " >>");
      SetWindowText(message, in.message);
      Bitmap probe(1, 1);
      DC dc(&probe);
      dc.SelectFont(fonts.message);
      std::vector<Size> extents;
      for (const std::string& line : SplitTextLines(in.message))
        extents.push_back(dc.GetTextExtentPoint32(line));
      extents.push_back(dc.GetTextExtentPoint32(o.Texts(16) + "    " + o.Texts(18)));
      const TCompactLayout compact = CompactLayout(extents, metrics);
      placement = compact.window;
      placement.Bottom += boxes;
      MoveWindow(message, compact.message.Left, compact.message.Top, compact.message.Width(),
                 compact.message.Height(), true);
    }
    if (IsZoomed(dialog) || IsIconic(dialog)) ShowWindow(dialog, SW_RESTORE);
    SetWindowLong(dialog, GWL_STYLE, std::intptr_t(style));
    SetWindowPos(dialog, 0, placement.Left, placement.Top, placement.Width(), placement.Height(),
                 SWP_NOZORDER | SWP_FRAMECHANGED);
    if (show != SW_SHOWNORMAL) ShowWindow(dialog, show);
    ShowWindow(Item(IDC_REPORT_TABS), on ? SW_SHOW : SW_HIDE);
    Resize();
  }

  void Resize() {
    Rect client;
    if (!GetClientRect(dialog, client)) return;
    const TDialogControlsLayout l = ControlsLayout(client.Width(), client.Height(), boxes);
    auto place = [this](int id, const Rect& r) {
      MoveWindow(Item(id), r.Left, r.Top, r.Width(), r.Height(), true);
    };
    place(IDC_REPORT_TABS, l.tab);
    if (details) place(IDC_REPORT_MESSAGE, l.message);
    place(IDC_REPORT_OK, l.ok);
    place(IDC_REPORT_DETAILS, l.details);
    place(IDC_REPORT_TERMINATE, l.terminate);
    ShowWindow(Item(IDC_REPORT_TERMINATE),
               TerminateButtonShown(o, in.reportedErrors) ? SW_SHOW : SW_HIDE);
    ShowWindow(Item(IDC_REPORT_LINE), SW_HIDE);
    place(IDC_REPORT_SEND, l.send);
    place(IDC_REPORT_COPY, l.copy);
    place(IDC_REPORT_SCREENSHOT, l.screenshot);
    Rect window;
    if (IsZoomed(dialog)) {
      layout.state = 3;
    } else if (IsIconic(dialog)) {
      layout.state = 6;
    } else if (GetWindowRect(dialog, window)) {
      layout.state = 1;
      layout.width = window.Width();
      layout.height = window.Height() - boxes;
    }
    PlaceDetailsPage();
  }

  void Moved() {
    Rect window;
    if (!IsZoomed(dialog) && !IsIconic(dialog) && GetWindowRect(dialog, window)) {
      layout.left = window.Left;
      layout.top = window.Top;
    }
  }

  void SaveIfDetailed() {
    if (!details) return;
    try {
      SaveLayout(iniFile, layout);
    } catch (...) {
      InternalError("ReportDialog.SaveLayout");
    }
  }

  void Paint(HWND h) {
    painted = true;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, ps);
    Rect client;
    if (dc != nullptr && GetClientRect(h, client)) {
      dc->FillRect(client, Brush{BrushStyle::bsSolid,
                                 o.CustomDialogLook() ? TColor(kBackground) : clBtnFace});
      // The picture 8 pixels inside the frame's inner edge and below the caption frame, in
      // window coordinates, its ground colour left out; the client area starts elsewhere
      // in the compact and the detailed view.
      const COLORREF ground = monitor.Pixel(0, monitor.Height() - 1);
      Rect window;
      Point origin{0, 0};
      if (GetWindowRect(h, window) && ClientToScreen(h, origin)) {
        origin.X -= window.Left;
        origin.Y -= window.Top;
      }
      const int x0 = GetSystemMetrics(SM_CXFRAME) - 1 + 8 - origin.X;
      const int y0 = GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYSMCAPTION) + 8 - origin.Y;
      for (int y = 0; y < monitor.Height(); ++y)
        for (int x = 0; x < monitor.Width(); ++x)
          if (monitor.Pixel(x, y) != ground)
            dc->SetPixel(x0 + x, y0 + y, TColor(monitor.Pixel(x, y)));
    }
    EndPaint(h, ps);
  }

  INT_PTR Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
      case WM_INITDIALOG:
        Init(h);
        return 0;  // the OK button has the focus
      case WM_COMMAND:
        switch (LOWORD(w)) {
          case IDC_REPORT_OK:
            EndDialog(h, IDC_REPORT_OK);
            return 1;
          case IDC_REPORT_TERMINATE:
            terminate = true;
            EndDialog(h, IDC_REPORT_TERMINATE);
            return 1;
          case IDC_REPORT_DETAILS:
            SaveIfDetailed();
            ToggleDetails(!details);
            RedrawWindow(h, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
            return 1;
          case IDC_REPORT_SEND:
            EnableWindow(Item(IDC_REPORT_SCREENSHOT),
                         SendMessage(Item(IDC_REPORT_SEND), BM_GETCHECK, 0, 0) == BST_CHECKED);
            return 1;
          default:
            return 0;
        }
      case WM_NOTIFY: {
        const auto* note = reinterpret_cast<const NMHDR*>(l);
        if (note->idFrom == IDC_REPORT_TABS && note->code == TCN_SELCHANGE) {
          DestroyPage();
          pageIndex = int(SendMessage(Item(IDC_REPORT_TABS), TCM_GETCURSEL, 0, 0));
          CreatePage();
          return 1;
        }
        return 0;
      }
      case WM_FOCUS_CONTROL:
        SetFocus(static_cast<HWND>(w));
        return 1;
      case WM_SIZE:
        Resize();
        return 1;
      case WM_MOVE:
        Moved();
        return 1;
      case WM_PAINT:
        Paint(h);
        return 1;
      case WM_ERASEBKGND:
        return 1;  // WM_PAINT fills the whole client area
      case WM_NCPAINT:
      case WM_NCACTIVATE:
        return PaintDialogFrame(h, m, w, o.Texts(2), o.CustomDialogLook(), details, active,
                                fonts.bold);
      case WM_TIMER:
        if (w == kPaintTimer) {
          KillTimer(h, kPaintTimer);
          if (!painted) EndDialog(h, IDC_REPORT_OK);
          return 1;
        }
        return 0;
      case WM_DESTROY:
        KillTimer(h, kPaintTimer);
        result.send = SendMessage(Item(IDC_REPORT_SEND), BM_GETCHECK, 0, 0) == BST_CHECKED;
        result.screenshot =
            SendMessage(Item(IDC_REPORT_SCREENSHOT), BM_GETCHECK, 0, 0) == BST_CHECKED;
        result.copy = SendMessage(Item(IDC_REPORT_COPY), BM_GETCHECK, 0, 0) == BST_CHECKED;
        DestroyPage();
        SaveIfDetailed();
        return 1;
      default:
        return 0;
    }
  }
};

std::string Trimmed(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

}  // namespace

int CharsetOfCodePage(unsigned codePage) {
  static constexpr std::pair<unsigned, int> Charsets[] = {
      {1252, ANSI_CHARSET},   {1250, EASTEUROPE_CHARSET}, {1251, RUSSIAN_CHARSET},
      {1253, GREEK_CHARSET},  {1254, TURKISH_CHARSET},    {1255, HEBREW_CHARSET},
      {1256, ARABIC_CHARSET}, {1257, BALTIC_CHARSET},     {1258, VIETNAMESE_CHARSET},
      {874, THAI_CHARSET},    {932, SHIFTJIS_CHARSET},    {936, GB2312_CHARSET},
      {949, HANGEUL_CHARSET}, {950, CHINESEBIG5_CHARSET}, {1361, JOHAB_CHARSET}};
  for (const auto& [page, charset] : Charsets)
    if (page == codePage) return charset;
  return DEFAULT_CHARSET;
}

int GetDefaultCharset() {
  TraceScope trace("GetDefaultCharset", {});
  std::string name = "C";
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      name.assign(value, strnlen(value, 256));
      break;
    }
  }
  std::string encoding;
  if (locale_t locale = ::newlocale(LC_CTYPE_MASK, name.c_str(), nullptr)) {
    encoding = Upper(::nl_langinfo_l(CODESET, locale));
    ::freelocale(locale);
  }
  for (const char* prefix : {"CP", "WINDOWS-"}) {
    if (encoding.starts_with(prefix)) {
      encoding.erase(0, std::strlen(prefix));
      break;
    }
  }
  unsigned codePage = 1252;
  if (!encoding.empty() && encoding.size() <= 6 &&
      std::all_of(encoding.begin(), encoding.end(), [](char c) { return c >= '0' && c <= '9'; }))
    codePage = unsigned(std::stoul(encoding));
  return trace.Result(CharsetOfCodePage(codePage));
}

TDialogFonts::TDialogFonts(int charset) : message(ReportMessageFont()) {
  // The caption font's height: that of the small caption bar's text.
  const int caption = -GetSystemMetrics(SM_CYSMCAPTION) * 2 / 3;
  if (charset == ANSI_CHARSET) {
    bold = Font{"Verdana", caption, fsBold};
    fixed = Font{"Lucida Console", PointsToHeight(8), 0};
  } else {
    bold = Font{"MS Sans Serif", caption, fsBold};
    fixed = Font{"Courier New", PointsToHeight(10), 0};
  }
}

Font ReportMessageFont() {
  return Font{"MS Sans Serif", PointsToHeight(8), 0};
}

Font ReportFixedFont() {
  return TDialogFonts().fixed;
}

// ---- caption and frame -----------------------------------------------------------------------

bool PaintDialogFrame(HWND window, UINT message, WPARAM activation, const std::string& caption,
                      bool custom, bool details, bool& active, const Font& bold) {
  TraceScope trace("PaintDialogFrame", {int(message), custom, details});
  if (!custom) return trace.Result(false);
  if (message == WM_NCACTIVATE) active = activation != 0;
  Rect r;
  if (!GetWindowRect(window, r)) return trace.Result(false);
  const int width = r.Width(), height = r.Height();
  const int cx = GetSystemMetrics(SM_CXFRAME), cy = GetSystemMetrics(SM_CYFRAME);
  const int cap = GetSystemMetrics(SM_CYSMCAPTION);
  const Rect inner{cx - 1, cy - 1, width - (cx - 1), height - (cy - 1)};
  Rect bar{cx, cy, width - cx, cy + cap - 1};
  const Rect captionFrame{inner.Left, inner.Top, inner.Right, bar.Bottom + 1};
  const COLORREF base = active ? RGB(130, 155, 194) : RGB(151, 151, 151);
  const TColor frame = TColor(active ? RGB(64, 64, 64) : RGB(48, 48, 48));
  const TColor fill = TColor(active ? RGB(128, 128, 128) : RGB(96, 96, 96));
  HDC dc = GetWindowDC(window);
  if (dc == nullptr) return trace.Result(false);
  const Brush frameBrush{BrushStyle::bsSolid, frame};
  const Brush fillBrush{BrushStyle::bsSolid, fill};
  dc->FillRect(bar, Brush{BrushStyle::bsSolid, TColor(base)});
  double red = GetRValue(base), green = GetGValue(base), blue = GetBValue(base);
  Rect band = bar;
  for (int i = bar.Height() / 5; i > 0; --i) {
    red = std::min(std::nearbyint(red * 0.96), 255.0);
    green = std::min(std::nearbyint(green * 0.96), 255.0);
    blue = std::min(std::nearbyint(blue * 0.96), 255.0);
    dc->FillRect(
        band, Brush{BrushStyle::bsSolid, TColor(RGB(uint8_t(red), uint8_t(green), uint8_t(blue)))});
    band.Top += 2;
    band.Bottom -= 2;
  }
  dc->FrameRect({0, 0, width, height}, frameBrush);
  if (details) {
    dc->FrameRect(captionFrame, frameBrush);
    dc->FrameRect(inner, frameBrush);
  } else {
    dc->FrameRect(
        {captionFrame.Left, captionFrame.Top, captionFrame.Right, captionFrame.Bottom - 1},
        frameBrush);
  }
  dc->FillRect({1, 1, inner.Left, height - 1}, fillBrush);
  dc->FillRect({1, 1, width - 1, inner.Top}, fillBrush);
  dc->FillRect({1, inner.Bottom, width - 1, height - 1}, fillBrush);
  dc->FillRect({inner.Right, 1, width - 1, height - 1}, fillBrush);
  dc->SelectFont(bold);
  dc->SetBkMode(TRANSPARENT);
  bar.Top -= 1;
  const int y = bar.Top + (bar.Height() - dc->GetTextExtentPoint32(caption).cy) / 2;
  if (active) {
    dc->SetTextColor(TColor(RGB(34, 34, 34)));
    dc->TextOut(bar.Left + 5, y, caption);
    dc->SetTextColor(clWhite);
  } else {
    dc->SetTextColor(TColor(RGB(224, 224, 224)));
  }
  dc->TextOut(bar.Left + 4, y, caption);
  ReleaseDC(window, dc);
  return trace.Result(true);
}

namespace {
// The dialog's caption and the message as one line on standard error, for a run with no
// dialog to show; the message's own lines are joined by spaces.
void PrintErrorLine(const TReportDialogInput& input) {
  std::string line = input.message;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "%s: %s\n", input.options->Texts(2).c_str(), line.c_str());
  std::fflush(stderr);
}
}  // namespace

TReportDialogResult ShowDialog(const TReportDialogInput& input, const TDisplayFactory& display) {
  TraceLog("ShowDialog", {input.message}, +2);
  TReportDialogResult result;
  // The window in front before the dialog (of whichever program) is brought back after it.
  std::optional<std::uint64_t> previous;
  for (;;) {
    ReportDialog dialog(input);
    const Shown shown = OnWindowThread(display, [&] {
      DisplayBackend& screen = CurrentDisplayBackend();
      if (!previous) previous = screen.ForegroundWindow();
      DialogBoxIndirectParam(MainTemplate(*input.options), 0,
                             [&](HWND h, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
                               const INT_PTR answer = dialog.Proc(h, m, w, l);
                               if (m == WM_INITDIALOG && input.shown) input.shown(h);
                               return answer;
                             });
      if (*previous != 0) screen.ActivateForegroundWindow(*previous);
    });
    if (shown == Shown::unattended) {
      // The boxes as the dialog would have shown them; the program goes on.
      PrintErrorLine(input);
      result.painted = true;
      result.send = input.options->SendWay() != swNone;
      result.screenshot = input.screenshot;
      break;
    }
    result = dialog.result;
    result.painted = dialog.painted;
    result.terminate = dialog.terminate;
    if (shown == Shown::no) {
      // No display to show it on: the send box's default answer; there is no screen to take.
      result.send = input.options->SendWay() != swNone;
      result.screenshot = false;
    }
    if (!result.painted) {
      // No window came up: the user still learns of the error.
      PrintErrorLine(input);
    }
    if (result.terminate && input.confirmTerminate) {
      ClearLastWarning();
      if (!input.confirmTerminate()) continue;
    }
    break;
  }
  if (!result.painted) Warning(eeShowError, "Cannot show the DialogBox window.");
  TraceText(result.terminate ? "ShowDialog=Terminate" : "ShowDialog=OK", -2);
  return result;
}

std::string ShowRequestDialog(const TOstrelModuleOptions& options, const TDisplayFactory& display) {
  TraceScope trace("ShowRequestDialog", {});
  std::string text;
  TDialogFonts fonts;
  bool active = true;
  OnWindowThread(display, [&] {
    DialogBoxIndirectParam(
        RequestTemplate(options), 0, [&](HWND h, UINT m, WPARAM w, LPARAM) -> INT_PTR {
          switch (m) {
            case WM_INITDIALOG:
              SetFont(GetDlgItem(h, 100), fonts.message);
              SetFont(GetDlgItem(h, IDC_REPORT_OK), fonts.message);
              SetFont(GetDlgItem(h, 101), fonts.fixed);
              FocusWhenShown(h, GetDlgItem(h, 101));
              return 0;
            case WM_FOCUS_CONTROL:
              SetFocus(static_cast<HWND>(w));
              return 1;
            case WM_COMMAND:
              if (LOWORD(w) == IDC_REPORT_OK) {
                text = Trimmed(GetWindowText(GetDlgItem(h, 101)));
                EndDialog(h, IDC_REPORT_OK);
                return 1;
              }
              return 0;
            case WM_NCPAINT:
            case WM_NCACTIVATE:
              return PaintDialogFrame(h, m, w, options.Texts(59), options.CustomDialogLook(), false,
                                      active, fonts.bold);
            default:
              return 0;
          }
        });
  });
  return trace.Result(text);
}

std::vector<TReportRow> CallStackRows(const TOstrelStackList& stack, uintptr_t program) {
  std::vector<TReportRow> rows;
  for (const TOstrelStackEntry& e : stack) {
    if (e.kind < skExport || e.kind > skLine) continue;
    if (e.kind == skQualified && e.module && e.module->handle == program) continue;
    TReportRow row;
    row.cells = {Hex16(e.address), e.module ? ExtractFileName(e.module->path) : std::string(),
                 e.unit_name,      e.class_name,
                 e.procedure_name, e.line == 0 ? std::string() : std::to_string(e.line)};
    if (e.kind == skLine) {
      row.image = 3;
    } else {
      const uint8_t kind = e.module ? e.module->kind : uint8_t(mkUnknown);
      row.image = kind == mkProgram ? 2 : kind == mkPackage ? 1 : 0;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<TReportRow> ModuleRows(const std::vector<TOstrelModulePtr>& modules) {
  std::vector<TReportRow> rows;
  for (const TOstrelModulePtr& m : modules) {
    if (!m) continue;
    std::string version = m->version;
    const std::size_t first = version.find('.');
    const std::size_t second = first == std::string::npos ? first : version.find('.', first + 1);
    if (second != std::string::npos) version = version.substr(0, second + 1) + "x";
    const double kb = std::nearbyint(double(m->file_size) / 1024.0);
    std::string folder = ExtractFilePath(m->path);
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    TReportRow row;
    row.cells = {Hex16(m->handle),
                 ExtractFileName(m->path),
                 m->description,
                 version,
                 std::to_string(static_cast<long long>(kb)) + " Kb",
                 folder};
    const std::string ext = Upper(ExtractFileExt(m->path));
    // Executables carry no extension here: the module's kind tells the program.
    row.image = ext == ".BPL" || ext == ".DPL" ? 1 : ext == ".EXE" || m->kind == mkProgram ? 2 : 0;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<uint8_t> MailSlotMessage(const std::string& unit, uint32_t line) {
  std::vector<uint8_t> message(kMailSlotMessageSize, 0);
  // The unit keeps its terminating zero: a longer name is cut.
  std::memcpy(message.data(), unit.data(), std::min<std::size_t>(unit.size(), 2047));
  for (int i = 0; i < 4; ++i) message[std::size_t(2048 + i)] = uint8_t(line >> (8 * i));
  return message;
}

std::string MailSlotAddress() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/')
    return IncludeTrailingPathDelimiter(runtime) + "OstrelLog";
  return std::string(1, '\0') + "OstrelLog";
}

bool SendMailSlotMessage(const std::string& unit, uint32_t line) {
  TraceScope trace("SendMailSlotMessage", {unit, line});
  const std::string address = MailSlotAddress();
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  if (address.size() >= sizeof to.sun_path) return trace.Result(false);
  std::memcpy(to.sun_path, address.data(), address.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return trace.Result(false);
  const std::vector<uint8_t> message = MailSlotMessage(unit, line);
  const socklen_t length =
      socklen_t(offsetof(sockaddr_un, sun_path) + address.size() + (address[0] == '\0' ? 0 : 1));
  const ssize_t sent = ::sendto(fd, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to), length);
  ::close(fd);
  return trace.Result(sent == ssize_t(message.size()));
}

}  // namespace qv
