// The text of one exception report and the log file that keeps the latest reports.
//
// A report is a header (numbered fields in sections, aligned per section), the call-stack
// and module tables and the CPU block (x86-64 registers, a stack and code dump), with CR LF
// line ends. No value may carry a line end: a run of empty lines is what separates reports
// in the log file, so every value is cleaned of control characters.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crashlog/call_stack.h"
#include "crashlog/module_options.h"

namespace qv {

// The registers of the faulting thread, in the order of the CPU block.
struct TOstrelRegisters {
  uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rbp = 0, rsp = 0, rip = 0;
  uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
};

// Every fact the header shows; empty strings are empty fields.
struct TOstrelReportFacts {
  std::time_t start_time = 0;
  std::string app_name, app_version;
  std::vector<std::string> parameters;
  std::time_t exception_time = 0;
  uintptr_t address = 0;  // 0: unknown
  std::string module, type, message;
  bool has_message = false;  // the object is a std::exception
  std::string form_class, form_text, control_class, control_text;
  bool control_password = false;
  std::string computer, user, total_memory, free_memory, total_disk, free_disk;
  std::string os_type, os_build, os_update, os_language;
  bool console = false;   // console programs leave the Active Controls out
  bool web_host = false;  // as do web-server extensions and CGI programs
  std::optional<TOstrelRegisters> registers;
  uintptr_t stack_pointer = 0;
};

// The header's fields, "section|field", in the order the log-sections option gives them
// their bits: bit n of `LogSections` belongs to kLogFieldKeys[n].
inline constexpr std::array<const char*, 23> kLogFieldKeys = {"Application|Start Date",
                                                              "Application|Name",
                                                              "Application|Version Number",
                                                              "Application|Parameters",
                                                              "Exception|Date",
                                                              "Exception|Address",
                                                              "Exception|Module",
                                                              "Exception|Type",
                                                              "Exception|Message",
                                                              "Active Controls|Form Class",
                                                              "Active Controls|Form Text",
                                                              "Active Controls|Control Class",
                                                              "Active Controls|Control Text",
                                                              "Computer|Name",
                                                              "Computer|User",
                                                              "Computer|Total Memory",
                                                              "Computer|Free Memory",
                                                              "Computer|Total Disk",
                                                              "Computer|Free Disk",
                                                              "Operating System|Type",
                                                              "Operating System|Build #",
                                                              "Operating System|Update",
                                                              "Operating System|Language"};

// The bit of `LogSections` that enables the field named by `key`; -1 for no such key.
[[nodiscard]] int LogFieldBit(std::string_view key);

// Computer, memory, disk (of the program file's folder), system and language facts (the
// language of the locale that LC_ALL, LC_MESSAGES or LANG selects), the program's name,
// version, parameters and start time. Dates are shown as RFC822Date (send_report.h) has them.
void GatherSystemFacts(TOstrelReportFacts& facts);
// The second in which the process started, from the current time, the system's uptime and
// the process's start in clock ticks after boot; rounded down.
[[nodiscard]] std::time_t ProcessStartTime(const timespec& now, double uptime,
                                           long long start_ticks, long ticks_per_second);

// Builds the header block: sections and numbered fields, then the layout pass.
class TLogItem {
 public:
  void AddSection(const std::string& label);
  void AddField(const std::string& label, const std::string& value, bool include = true);
  // The aligned text: empty sections removed, ": " aligned per section, rules sized.
  [[nodiscard]] std::string Text() const;

 private:
  std::string text_;
  int section_ = 0;
  int field_ = 0;
};

[[nodiscard]] std::string BuildReportHeader(const TOstrelReportFacts& facts,
                                            const TOstrelModuleOptions& options);
[[nodiscard]] std::string BuildReportTables(const TOstrelStackList& stack,
                                            const std::vector<TOstrelModulePtr>& modules,
                                            const TOstrelModuleOptions& options);
[[nodiscard]] std::string BuildCpuBlock(const TOstrelReportFacts& facts,
                                        const TOstrelModuleOptions& options);
[[nodiscard]] std::string BuildReport(const TOstrelReportFacts& facts,
                                      const TOstrelStackList& stack,
                                      const std::vector<TOstrelModulePtr>& modules,
                                      const TOstrelModuleOptions& options);
// The report with the user's steps to reproduce appended (empty lines collapsed).
[[nodiscard]] std::string AddRequestSection(const std::string& report, const std::string& request,
                                            const TOstrelModuleOptions& options);

// The log file of one module: the stored reports, oldest first.
class TLogFile {
 public:
  explicit TLogFile(std::string file_name) : file_name_(std::move(file_name)) {}
  // The log the options name; when that name holds something other than a regular file (a
  // link, a folder, a pipe) or its folder cannot be written, the same name in the program's
  // state folder, and Save says so on stderr.
  [[nodiscard]] static TLogFile Of(const TOstrelModuleOptions& options);
  [[nodiscard]] const std::string& FileName() const { return file_name_; }
  // Reads the stored reports; a missing file is an empty log, an unreadable one throws.
  void Load();
  // False when the last Load could not read the file or skipped text that is not a whole
  // report: saving would then lose what it skipped.
  [[nodiscard]] bool Intact() const { return intact_; }
  // Renames the file to a free name beside it (".unread", ".unread-2", ...) and answers
  // that name; "" when there is no file. Throws when it cannot.
  std::string SetAside() const;

  // Holds the log file for one read-modify-write against other processes that report into
  // it (creates an empty file when there is none).
  class Lock {
   public:
    explicit Lock(const std::string& file_name);
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock();

   private:
    int fd_ = -1;
  };
  // Drops the oldest reports until fewer than `max_reports` (at least 1) remain, then adds.
  void Append(const std::string& report, int max_reports);
  // Writes every stored report through a temporary file; throws when it cannot.
  void Save() const;
  // Whether a stored report has the same address, module, type and message fields. With the
  // module's load address the address counts as the same when its offset into the module is
  // (each run loads the module elsewhere).
  [[nodiscard]] bool IsDuplicate(const std::string& address, const std::string& module,
                                 const std::string& type, const std::string& message,
                                 uintptr_t module_handle = 0) const;
  [[nodiscard]] const std::vector<std::string>& Reports() const { return reports_; }
  // The whole log as it is sent.
  [[nodiscard]] std::string WholeText() const;

 private:
  std::string file_name_;
  std::string named_;  // the name the options gave, when the log is kept elsewhere
  std::vector<std::string> reports_;
  bool intact_ = true;
};

// The values the header shows for the address and message fields (also used by the
// duplicate test).
[[nodiscard]] std::string ReportAddress(uintptr_t address);
[[nodiscard]] std::string ReportMessage(const TOstrelReportFacts& facts);
[[nodiscard]] std::string ReportType(const TOstrelReportFacts& facts);
// The message as the dialog shows it: its own lines kept, other control characters as spaces.
[[nodiscard]] std::string DialogMessage(const TOstrelReportFacts& facts);
// Control characters become spaces.
[[nodiscard]] std::string CleanValue(std::string value);

}  // namespace qv
