#include "crashlog/log_report.h"

#include <fcntl.h>
#include <langinfo.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <locale.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "crashlog/send_report.h"
#include "crashlog/trace_log.h"
#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"

namespace qv {

namespace {

const std::string Crlf = "\r\n";
const std::string ReportEnd = "\r\n\r\n\r\n\r\n";

std::string Hex(uint64_t value, int digits = 16) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*llX", digits, static_cast<unsigned long long>(value));
  return buffer;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(Crlf, start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return lines;
    start = end + 2;
  }
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i == 0 ? "" : Crlf) + lines[i];
  return text;
}

bool IsField(const std::string& line) {
  return line.size() >= 2 && line[0] == ' ' && line[1] == ' ';
}

// "0.##"
std::string Gigabytes(double bytes) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", bytes / 1073741824.0);
  std::string text = buffer;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text + " Gb";
}

std::string ReadFirstLine(const std::string& file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  }
  return "";
}

std::string Unquoted(std::string value) {
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

std::string MemoryMb(const std::string& key) {
  const std::string value = ReadFirstLine("/proc/meminfo", key);
  if (value.empty()) return "";
  return IntToStr(
             Round(double(StrToInt64Def(Trim(StringReplace(value, "kB", "", rfReplaceAll)), 0)) /
                   1024.0)) +
         " Mb";
}

// One row of a table: every cell left-aligned in its column.
std::string Row(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) {
  std::string row = "|";
  for (std::size_t i = 0; i < cells.size(); ++i) {
    row += cells[i] + std::string(widths[i] - std::min(widths[i], cells[i].size()), ' ') + "|";
  }
  return row;
}

std::string Table(const std::string& label, std::vector<std::vector<std::string>> rows,
                  std::vector<std::size_t> widths) {
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  std::size_t sum = 7;
  for (std::size_t w : widths) sum += w;
  const std::string rule(sum, '-');
  std::string text = label + ":" + Crlf + rule + Crlf + Row(rows[0], widths) + Crlf + rule;
  for (std::size_t i = 1; i < rows.size(); ++i) text += Crlf + Row(rows[i], widths);
  return text + Crlf + rule;
}

// The language of the locale the user's environment selects for messages. The program never
// sets its own locale (it would stay "C"), so the environment is read as setlocale would.
std::string UserLanguage() {
  std::string name;
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      name.assign(value, strnlen(value, 256));
      break;
    }
  }
  if (name.empty()) name = "C";
  std::string language;
  if (locale_t locale = ::newlocale(LC_IDENTIFICATION_MASK, name.c_str(), nullptr)) {
    language = ::nl_langinfo_l(_NL_IDENTIFICATION_LANGUAGE, locale);
    ::freelocale(locale);
  }
  // A locale that is not installed, or one without a language ("C"), is named as selected.
  return language.empty() ? name : language;
}

}  // namespace

std::string CleanValue(std::string value) {
  for (char& c : value)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  return value;
}

void GatherSystemFacts(TOstrelReportFacts& facts) {
  TraceScope trace("GatherSystemFacts", {});
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) facts.computer = host;
  if (const passwd* pw = ::getpwuid(::geteuid())) facts.user = pw->pw_name;
  facts.total_memory = MemoryMb("MemTotal:");
  facts.free_memory = MemoryMb("MemAvailable:");
  const std::string program = ModuleFileName(0) /* resolved below when empty */;
  std::string exe = program;
  if (exe.empty()) {
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) exe.assign(path, std::size_t(n));
  }
  struct statvfs fs {};
  if (!exe.empty() && ::statvfs(ExtractFilePath(exe).c_str(), &fs) == 0) {
    facts.total_disk = Gigabytes(double(fs.f_blocks) * double(fs.f_frsize));
    facts.free_disk = Gigabytes(double(fs.f_bavail) * double(fs.f_frsize));
  }
  facts.os_type = Unquoted(ReadFirstLine("/etc/os-release", "PRETTY_NAME="));
  utsname names{};
  if (::uname(&names) == 0) {
    facts.os_build = names.release;
    facts.os_update = Trim(names.version);
  }
  facts.os_language = UserLanguage();
  if (facts.app_name.empty()) facts.app_name = ExtractFileName(exe);
  if (facts.parameters.empty()) {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string argument;
    bool first = true;
    while (std::getline(in, argument, '\0')) {
      if (!first) facts.parameters.push_back(argument);
      first = false;
    }
  }
  if (facts.start_time == 0) {
    const std::string stat = ReadFileBytes("/proc/self/stat", 1 << 16);
    const std::size_t close = stat.rfind(')');
    long long ticks = 0;
    if (close != std::string::npos &&
        std::sscanf(stat.c_str() + close + 2,
                    "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d "
                    "%lld",
                    &ticks) == 1) {
      double uptime = 0;
      if (std::FILE* f = std::fopen("/proc/uptime", "r")) {
        if (std::fscanf(f, "%lf", &uptime) != 1) uptime = 0;
        std::fclose(f);
      }
      timespec now{};
      ::clock_gettime(CLOCK_REALTIME, &now);
      facts.start_time = ProcessStartTime(now, uptime, ticks, ::sysconf(_SC_CLK_TCK));
    }
  }
  // The start cannot follow the exception, whatever the clocks' resolution.
  if (facts.exception_time != 0 && facts.start_time > facts.exception_time)
    facts.start_time = facts.exception_time;
}

std::time_t ProcessStartTime(const timespec& now, double uptime, long long start_ticks,
                             long ticks_per_second) {
  if (ticks_per_second <= 0) return 0;
  double age = uptime - double(start_ticks) / double(ticks_per_second);
  if (!(age >= 0)) age = 0;
  // Rounded down at full precision: truncating the age instead would put the start up to a
  // second late, after an exception of the same moment.
  return std::time_t(std::floor(double(now.tv_sec) + double(now.tv_nsec) / 1e9 - age));
}

// ---- TLogItem ----------------------------------------------------------------------------

void TLogItem::AddSection(const std::string& label) {
  if (!text_.empty()) text_ += Crlf + Crlf;
  text_ += label + ":" + Crlf + "-";
  ++section_;
  field_ = 0;
}

void TLogItem::AddField(const std::string& label, const std::string& value, bool include) {
  ++field_;
  if (!include) return;
  text_ += Crlf + "  " + std::to_string(section_) + "." + std::to_string(field_) + " " + label +
           ": " + CleanValue(value);
}

std::string TLogItem::Text() const {
  std::vector<std::string> lines = SplitLines(text_);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool section = !IsField(lines[i]) && i + 1 < lines.size() && lines[i + 1] == "-";
    if (!section) {
      out.push_back(lines[i]);
      continue;
    }
    std::size_t end = i + 2;
    while (end < lines.size() && IsField(lines[end])) ++end;
    if (end == i + 2) {
      // No field: the label, its rule and the empty line after them go.
      if (end < lines.size()) {
        i = end;
      } else {
        if (!out.empty() && out.back().empty()) out.pop_back();
        i = end - 1;
      }
      continue;
    }
    std::size_t column = 0;
    for (std::size_t j = i + 2; j < end; ++j)
      column = std::max(column, lines[j].find(": ") == std::string::npos ? 0 : lines[j].find(": "));
    // The rule is as long as the longest field line; the label does not count.
    std::size_t longest = 0;
    std::vector<std::string> fields;
    for (std::size_t j = i + 2; j < end; ++j) {
      std::string line = lines[j];
      const std::size_t at = line.find(": ");
      if (at != std::string::npos) line.insert(at, column - at, ' ');
      longest = std::max(longest, line.size());
      fields.push_back(line);
    }
    out.push_back(lines[i]);
    out.push_back(std::string(std::max<std::size_t>(longest, 1), '-'));
    out.insert(out.end(), fields.begin(), fields.end());
    i = end - 1;
  }
  return JoinLines(out);
}

// ---- the report ------------------------------------------------------------------------------

std::string ReportAddress(uintptr_t address) {
  return address == 0 ? "" : Hex(address);
}

std::string ReportType(const TOstrelReportFacts& facts) {
  return facts.type.empty() ? "Unknown exception type." : CleanValue(facts.type);
}

std::string ReportMessage(const TOstrelReportFacts& facts) {
  std::string message =
      facts.has_message && !facts.message.empty() ? facts.message : "Unknown error message.";
  message = CleanValue(message);
  if (message.back() != '.') message += '.';
  return message;
}

std::string DialogMessage(const TOstrelReportFacts& facts) {
  std::string message =
      facts.has_message && !facts.message.empty() ? facts.message : "Unknown error message.";
  for (char& c : message)
    if (static_cast<unsigned char>(c) < 32 && c != '\r' && c != '\n') c = ' ';
  return message;
}

int LogFieldBit(std::string_view key) {
  for (std::size_t i = 0; i < kLogFieldKeys.size(); ++i) {
    if (key == kLogFieldKeys[i]) return int(i);
  }
  return -1;
}

std::string BuildReportHeader(const TOstrelReportFacts& facts,
                              const TOstrelModuleOptions& options) {
  TraceScope trace("BuildReportHeader", {facts.type});
  auto text = [&](int index) { return options.Texts(index); };
  TLogItem item;
  item.AddSection(text(19));
  item.AddField(text(20), facts.start_time == 0 ? "" : RFC822Date(facts.start_time));
  item.AddField(text(21), facts.app_name);
  item.AddField(text(22), facts.app_version);
  std::string parameters;
  for (const std::string& p : facts.parameters)
    parameters += (parameters.empty() ? "\"" : " \"") + p + "\"";
  item.AddField(text(23), parameters);
  item.AddSection(text(24));
  item.AddField(text(25), facts.exception_time == 0 ? "" : RFC822Date(facts.exception_time));
  item.AddField(text(26), ReportAddress(facts.address));
  item.AddField(text(27), facts.module);
  item.AddField(text(28), ReportType(facts));
  item.AddField(text(29), ReportMessage(facts));
  item.AddSection(text(30));
  // Only the window facts can be switched off; programs without windows have none.
  auto shown = [&](std::string_view key) {
    const int bit = LogFieldBit(key);
    return !facts.console && !facts.web_host && bit >= 0 &&
           (options.LogSections() & (1u << bit)) != 0;
  };
  std::string control_text = facts.control_text;
  if (facts.control_password && UpperCase(facts.control_class).find("EDIT") != std::string::npos)
    control_text.assign(control_text.size(), '*');
  item.AddField(text(31), facts.form_class, shown("Active Controls|Form Class"));
  item.AddField(text(32), facts.form_text, shown("Active Controls|Form Text"));
  item.AddField(text(33), facts.control_class, shown("Active Controls|Control Class"));
  item.AddField(text(34), control_text, shown("Active Controls|Control Text"));
  item.AddSection(text(35));
  item.AddField(text(36), facts.computer);
  item.AddField(text(37), facts.user);
  item.AddField(text(38), facts.total_memory);
  item.AddField(text(39), facts.free_memory);
  item.AddField(text(40), facts.total_disk);
  item.AddField(text(41), facts.free_disk);
  item.AddSection(text(42));
  item.AddField(text(43), facts.os_type);
  item.AddField(text(44), facts.os_build);
  item.AddField(text(45), facts.os_update);
  item.AddField(text(46), facts.os_language);
  return trace.Result("OstrelLog 4.5.4\r\n\r\n" + item.Text());
}

std::string BuildReportTables(const TOstrelStackList& stack,
                              const std::vector<TOstrelModulePtr>& modules,
                              const TOstrelModuleOptions& options) {
  TraceScope trace("BuildReportTables", {int(stack.size()), int(modules.size())});
  auto text = [&](int index) { return CleanValue(options.Texts(index)); };
  std::vector<std::vector<std::string>> rows = {
      {text(47), text(48), text(49), text(50), text(51), text(52)}};
  for (const TOstrelStackEntry& entry : stack) {
    if (entry.kind < skExport) continue;
    rows.push_back(
        {Hex(entry.address), entry.module ? CleanValue(ExtractFileName(entry.module->path)) : "",
         CleanValue(entry.unit_name), CleanValue(entry.class_name),
         CleanValue(entry.procedure_name), entry.line == 0 ? "" : std::to_string(entry.line)});
  }
  std::string result = Table(text(7), std::move(rows), {16, 0, 0, 0, 0, 0});
  rows = {{text(62), text(63), text(64), text(65), text(66), text(67)}};
  for (const TOstrelModulePtr& module : modules) {
    std::string folder = ExtractFilePath(module->path);
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    rows.push_back({Hex(module->handle), CleanValue(ExtractFileName(module->path)),
                    CleanValue(module->description), CleanValue(module->version),
                    std::to_string(module->file_size), CleanValue(folder)});
  }
  return trace.Result(result + Crlf + Crlf + Table(text(9), std::move(rows), {16, 0, 0, 0, 0, 0}));
}

std::string BuildCpuBlock(const TOstrelReportFacts& facts, const TOstrelModuleOptions& options) {
  TraceScope trace("BuildCpuBlock", {TraceAddress(facts.stack_pointer)});
  const std::optional<TOstrelRegisters>& r = facts.registers;
  auto reg = [&](uint64_t TOstrelRegisters::*field) {
    return r ? Hex((*r).*field) : std::string("????");
  };
  using R = TOstrelRegisters;
  const std::pair<const char*, uint64_t R::*> pairs[][2] = {
      {{"RAX", &R::rax}, {"RDI", &R::rdi}},  {{"RBX", &R::rbx}, {"RSI", &R::rsi}},
      {{"RCX", &R::rcx}, {"RSP", &R::rsp}},  {{"RDX", &R::rdx}, {"RIP", &R::rip}},
      {{"RBP", &R::rbp}, {"R8 ", &R::r8}},   {{"R9 ", &R::r9}, {"R10", &R::r10}},
      {{"R11", &R::r11}, {"R12", &R::r12}},  {{"R13", &R::r13}, {"R14", &R::r14}},
      {{"R15", &R::r15}, {nullptr, nullptr}}};
  std::string text = CleanValue(options.Texts(68)) + ":" + Crlf + std::string(45, '-') + Crlf;
  for (const auto& line : pairs) {
    text += std::string(line[0].first) + ": " + reg(line[0].second);
    if (line[1].first != nullptr)
      text += std::string("   ") + line[1].first + ": " + reg(line[1].second);
    text += Crlf;
  }
  text += Crlf;
  std::string stack = CleanValue(options.Texts(69)) + ":";
  stack.resize(std::max<std::size_t>(stack.size(), 37), ' ');
  text += stack + CleanValue(options.Texts(70)) + ":" + Crlf + std::string(34, '-') + "   " +
          std::string(83, '-') + Crlf;
  uint64_t words[16];
  uint8_t code[256];
  if (facts.stack_pointer == 0 || facts.address == 0 ||
      !SafeRead(words, facts.stack_pointer, sizeof words) ||
      !SafeRead(code, facts.address, sizeof code))
    return trace.Result(text);
  for (int i = 0; i < 16; ++i) {
    std::string line = Hex(facts.stack_pointer + i * 8) + ": " + Hex(words[i]) + "   " +
                       Hex(facts.address + i * 16) + ": ";
    std::string chars;
    for (int j = 0; j < 16; ++j) {
      const uint8_t b = code[i * 16 + j];
      line += Hex(b, 2) + " ";
      chars += b < 32 || b > 126 ? '.' : char(b);
    }
    text += (i == 0 ? "" : Crlf) + line + " " + chars;
  }
  return trace.Result(text);
}

std::string BuildReport(const TOstrelReportFacts& facts, const TOstrelStackList& stack,
                        const std::vector<TOstrelModulePtr>& modules,
                        const TOstrelModuleOptions& options) {
  TraceScope trace("BuildReport", {facts.type, TraceAddress(facts.address)});
  return trace.Result(BuildReportHeader(facts, options) + Crlf +
                      BuildReportTables(stack, modules, options) + Crlf + Crlf +
                      BuildCpuBlock(facts, options));
}

std::string AddRequestSection(const std::string& report, const std::string& request,
                              const TOstrelModuleOptions& options) {
  TraceScope trace("AddRequestSection", {int(request.size())});
  // Empty lines would end the report in the log file.
  std::string steps =
      StringReplace(StringReplace(request, "\r\n", "\n", rfReplaceAll), "\r", "\n", rfReplaceAll);
  while (steps.find("\n\n") != std::string::npos)
    steps = StringReplace(steps, "\n\n", "\n", rfReplaceAll);
  for (char& c : steps)
    if (static_cast<unsigned char>(c) < 32 && c != '\n') c = ' ';
  return trace.Result(report + Crlf + CleanValue(options.Texts(59)) + ":" + Crlf +
                      std::string(40, '-') + Crlf + StringReplace(steps, "\n", Crlf, rfReplaceAll));
}

// ---- TLogFile --------------------------------------------------------------------------------

TLogFile TLogFile::Of(const TOstrelModuleOptions& options) {
  const std::string file = options.OutputLogFile();
  std::string folder = ExtractFilePath(file);
  if (folder.empty()) folder = ".";
  struct stat st {};
  const bool taken = ::lstat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
  if (!taken && ::access(folder.c_str(), W_OK) == 0) return TLogFile(file);
  const std::string state = StateFolder(options.ModuleName());
  if (state.empty() || !ForceDirectories(ExcludeTrailingPathDelimiter(state)))
    return TLogFile(file);
  TLogFile log(state + ExtractFileName(file));
  log.named_ = file;
  return log;
}

void TLogFile::Load() {
  TraceScope trace("TLogFile.Load", {file_name_});
  reports_.clear();
  intact_ = true;
  if (!FileExists(file_name_)) return;
  std::string data;
  try {
    data = ReadFileBytes(file_name_);
  } catch (...) {
    intact_ = false;
    throw;
  }
  // Whatever lies between the reports besides line ends is text this log cannot keep.
  const auto only_line_ends = [&](std::size_t from, std::size_t to) {
    return data.find_first_not_of("\r\n", from) >= to;
  };
  std::size_t start = 0;
  std::size_t kept_to = 0;
  for (;;) {
    start = data.find("OstrelLog ", start);
    if (start == std::string::npos) break;
    if (start != 0 && (start < 2 || data.compare(start - 2, 2, Crlf) != 0)) {
      start += 1;
      continue;
    }
    const std::size_t end = data.find(ReportEnd, start);
    if (end == std::string::npos) break;
    if (!only_line_ends(kept_to, start)) intact_ = false;
    reports_.push_back(data.substr(start, end + 6 - start));
    start = end + 6;
    kept_to = start;
  }
  if (!only_line_ends(kept_to, data.size())) intact_ = false;
}

std::string TLogFile::SetAside() const {
  for (int n = 1; n < 1000; ++n) {
    const std::string name = file_name_ + ".unread" + (n == 1 ? "" : "-" + std::to_string(n));
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 || errno != ENOENT) continue;
    // Without replacing: another process may have set its copy aside under this name.
    if (::renameat2(AT_FDCWD, file_name_.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0)
      return name;
    if (errno == ENOENT && !FileExists(file_name_)) return {};
    if (errno != EEXIST) break;
  }
  throw EFCreateError("Cannot set the log file \"" + file_name_ + "\" aside.");
}

TLogFile::Lock::Lock(const std::string& file_name) {
  // The log is replaced by renaming a new file over it: the lock is on the file the name
  // holds once it is granted.
  for (int attempt = 0; attempt < 100; ++attempt) {
    fd_ = ::open(file_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd_ < 0)
      throw EFOpenError("Cannot open file \"" + file_name + "\". " + std::strerror(errno));
    struct stat held {};
    if (::fstat(fd_, &held) != 0 || !S_ISREG(held.st_mode)) break;
    int rc;
    while ((rc = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    struct stat named {};
    if (rc == 0 && ::stat(file_name.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
      return;
    ::close(fd_);
    fd_ = -1;
    if (rc != 0) break;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  throw EFOpenError("Cannot lock file \"" + file_name + "\".");
}

TLogFile::Lock::~Lock() {
  if (fd_ >= 0) ::close(fd_);
}

void TLogFile::Append(const std::string& report, int max_reports) {
  TraceScope trace("TLogFile.Append", {int(report.size()), max_reports});
  const std::size_t keep = std::size_t(std::max(max_reports, 1));
  while (!reports_.empty() && reports_.size() >= keep) reports_.erase(reports_.begin());
  reports_.push_back(report + ReportEnd);
}

std::string TLogFile::WholeText() const {
  std::string text;
  for (const std::string& report : reports_) text += report + Crlf;
  return text;
}

void TLogFile::Save() const {
  TraceScope trace("TLogFile.Save", {file_name_});
  WriteFileAtomically(file_name_, WholeText());
  // Whoever looks for the report beside the program learns where it is. Written past the
  // stream: a thread that faulted may hold its lock.
  if (named_.empty()) return;
  const std::string note = ChangeFileExt(ExtractFileName(ExeName()), "") +
                           ": the exception report was saved in \"" + file_name_ + "\" (\"" +
                           named_ + "\" cannot take it).\n";
  for (std::size_t at = 0; at < note.size();) {
    const ssize_t n = ::write(STDERR_FILENO, note.data() + at, note.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    at += std::size_t(n);
  }
}

namespace {

// The value after the first ": " of the header line of field `key` ("\r\n  2.2 ").
std::optional<std::string> FieldValue(const std::string& report, const char* key) {
  const std::size_t line = report.find(key);
  if (line == std::string::npos) return std::nullopt;
  const std::size_t end = report.find(Crlf, line + 2);
  const std::size_t colon = report.find(": ", line + 2);
  if (colon == std::string::npos || (end != std::string::npos && colon > end)) return std::nullopt;
  return report.substr(colon + 2, end == std::string::npos ? std::string::npos : end - colon - 2);
}

std::optional<uint64_t> ParseHex(std::string_view text) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    value = value << 4 | uint64_t(digit);
  }
  return value;
}

// The load address a report's module table gives `module` (its last row of that name: the
// module table follows the call stack's).
std::optional<uint64_t> StoredModuleHandle(const std::string& report, const std::string& module) {
  std::optional<uint64_t> handle;
  for (std::size_t start = 0; start < report.size();) {
    std::size_t end = report.find(Crlf, start);
    if (end == std::string::npos) end = report.size();
    const std::string_view line(report.data() + start, end - start);
    start = end + 2;
    if (line.size() < 3 || line[0] != '|') continue;
    const std::size_t first = line.find('|', 1);
    if (first == std::string_view::npos) continue;
    const std::size_t second = line.find('|', first + 1);
    if (second == std::string_view::npos) continue;
    if (Trim(line.substr(first + 1, second - first - 1)) != module) continue;
    const std::optional<uint64_t> value = ParseHex(Trim(line.substr(1, first - 1)));
    if (value) handle = value;
  }
  return handle;
}

}  // namespace

bool TLogFile::IsDuplicate(const std::string& address, const std::string& module,
                           const std::string& type, const std::string& message,
                           uintptr_t module_handle) const {
  // Load addresses change from run to run: within a module the offset is what repeats.
  const std::optional<uint64_t> absolute = ParseHex(address);
  const bool relative =
      module_handle != 0 && !module.empty() && absolute.has_value() && *absolute >= module_handle;
  TraceScope trace("TLogFile.IsDuplicate", {address, module, type});
  for (const std::string& report : reports_) {
    const std::optional<std::string> stored_module = FieldValue(report, "\r\n  2.3 ");
    const std::optional<std::string> stored_type = FieldValue(report, "\r\n  2.4 ");
    const std::optional<std::string> stored_message = FieldValue(report, "\r\n  2.5 ");
    const std::optional<std::string> stored_address = FieldValue(report, "\r\n  2.2 ");
    if (stored_module != module || stored_type != type || stored_message != message ||
        !stored_address)
      continue;
    if (*stored_address == address) return trace.Result(true);
    if (!relative) continue;
    const std::optional<uint64_t> stored = ParseHex(*stored_address);
    const std::optional<uint64_t> base = StoredModuleHandle(report, module);
    if (stored && base && *stored >= *base && *stored - *base == *absolute - module_handle)
      return trace.Result(true);
  }
  return trace.Result(false);
}

}  // namespace qv
