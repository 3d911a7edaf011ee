// The exception dialog: a small window with the exception message that opens into a
// resizable view with four pages (general facts, call stack, modules, CPU); it lets the user
// go on, terminate (or restart) the program, and choose to send the report, attach a
// screenshot and copy the report to the clipboard. A second small dialog asks for the steps
// to reproduce the error. Both are made from dialog templates with the bare window system,
// on a thread of their own with a display connection of their own, so that they come up
// even while the program's own windows or its main thread are stuck.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crashlog/call_stack.h"
#include "crashlog/module_options.h"
#include "crashlog/send_progress.h"
#include "platform/gfx/font.h"

namespace qv {

// Control identifiers of the main dialog and of its pages.
enum : int {
  IDC_REPORT_OK = 2,
  IDC_REPORT_TERMINATE = 3,
  IDC_REPORT_DETAILS = 4,
  IDC_REPORT_MESSAGE = 101,
  IDC_REPORT_TABS = 1000,
  IDC_REPORT_LINE = 2000,
  IDC_REPORT_SEND = 3000,
  IDC_REPORT_SCREENSHOT = 4000,
  IDC_REPORT_COPY = 5000,
  IDC_PAGE_LABEL = 102,
  IDC_PAGE_CONTROL = 103,
};

struct TReportDialogInput {
  const TOstrelModuleOptions* options = nullptr;
  std::string message;  // the exception message of the compact view
  std::string general;  // the report header (general page)
  std::string cpu;      // the CPU block (CPU page)
  TOstrelStackList stack;
  std::vector<TOstrelModulePtr> modules;
  uintptr_t program = 0;    // the program module's handle
  bool duplicate = false;   // the report is already in the log
  bool screenshot = false;  // the screenshot switch: the box starts ticked
  int reportedErrors = 1;   // this run's count, this error included
  // Asked when the user chose terminate; false withdraws the choice and the dialog shows
  // again.
  std::function<bool()> confirmTerminate;
  // Called on the dialog's thread once it is up (tests drive it from there).
  std::function<void(HWND dialog)> shown;
};

struct TReportDialogResult {
  bool painted = false;
  bool terminate = false;
  bool send = false, screenshot = false, copy = false;
};

// Shows the dialog and waits until it ends. A dialog that never painted (no display) shows
// the message on standard error and leaves the warning "Cannot show the DialogBox window.".
TReportDialogResult ShowDialog(const TReportDialogInput& input,
                               const TDisplayFactory& display = ProgressDisplay);
// The steps-to-reproduce request; its text trimmed of blanks and control characters, "" when
// it could not be shown.
std::string ShowRequestDialog(const TOstrelModuleOptions& options,
                              const TDisplayFactory& display = ProgressDisplay);

// The rows of the two list pages: six cells and an image index each.
struct TReportRow {
  std::vector<std::string> cells;
  int image = 0;
};
[[nodiscard]] std::vector<TReportRow> CallStackRows(const TOstrelStackList& stack,
                                                    uintptr_t program);
[[nodiscard]] std::vector<TReportRow> ModuleRows(const std::vector<TOstrelModulePtr>& modules);

// The message for the development environment's add-in on activating a call-stack row: the
// unit as a zero-terminated string in 2048 bytes, then the line as a 32-bit little-endian
// integer. It goes as one datagram to the Unix socket "$XDG_RUNTIME_DIR/OstrelLog" (the
// abstract name "OstrelLog" without that folder); true when all 2052 bytes went.
constexpr std::size_t kMailSlotMessageSize = 2052;
[[nodiscard]] std::vector<uint8_t> MailSlotMessage(const std::string& unit, uint32_t line);
[[nodiscard]] std::string MailSlotAddress();
bool SendMailSlotMessage(const std::string& unit, uint32_t line);

// The character sets of fonts, by the numbers fonts know them by.
enum : int {
  ANSI_CHARSET = 0,  // Western
  DEFAULT_CHARSET = 1,
  SHIFTJIS_CHARSET = 128,
  HANGEUL_CHARSET = 129,
  JOHAB_CHARSET = 130,
  GB2312_CHARSET = 134,
  CHINESEBIG5_CHARSET = 136,
  GREEK_CHARSET = 161,
  TURKISH_CHARSET = 162,
  VIETNAMESE_CHARSET = 163,
  HEBREW_CHARSET = 177,
  ARABIC_CHARSET = 178,
  BALTIC_CHARSET = 186,
  RUSSIAN_CHARSET = 204,
  THAI_CHARSET = 222,
  EASTEUROPE_CHARSET = 238,
};
// The character set of the user's default 8-bit code page. The code page is that of the
// locale the environment selects for characters (LC_ALL, LC_CTYPE, LANG) when its character
// encoding names one ("CP1251", "WINDOWS-1250"), else Windows-1252, the 8-bit code page the
// program reads and writes text in (a UTF-8 locale has none of its own); the character set is
// CharsetOfCodePage's.
[[nodiscard]] int GetDefaultCharset();
// The character set of a Windows code page; DEFAULT_CHARSET for one without its own.
[[nodiscard]] int CharsetOfCodePage(unsigned codePage);

// The three fonts of each logger dialog, made when it opens: the bold one of the caption, the
// message font of texts, buttons and tabs, and the fixed-pitch one of the pages and the
// request's edit. Verdana and Lucida Console of 8 points for the Western character set,
// MS Sans Serif and Courier New of 10 points for any other.
struct TDialogFonts {
  explicit TDialogFonts(int charset = GetDefaultCharset());
  Font message, bold, fixed;
};
[[nodiscard]] Font ReportMessageFont();
[[nodiscard]] Font ReportFixedFont();  // of the user's default character set

// Paints the caption bar and frame of a logger dialog (`window`) in the fixed colour scheme
// on WM_NCPAINT and WM_NCACTIVATE (`activation` its wParam; `active` keeps the last one);
// false, painting nothing, when the dialogs use the system's look (`custom` off).
bool PaintDialogFrame(HWND window, UINT message, WPARAM activation, const std::string& caption,
                      bool custom, bool details, bool& active, const Font& bold);

}  // namespace qv
