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
TReportDialogResult ShowReportDialog(const TReportDialogInput& input,
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

// The font of the dialog's texts, buttons and tabs, and the fixed-pitch one of the pages.
[[nodiscard]] Font ReportMessageFont();
[[nodiscard]] Font ReportFixedFont();

}  // namespace qv
