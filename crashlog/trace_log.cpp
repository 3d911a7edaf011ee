#include "crashlog/trace_log.h"

#include <cxxabi.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>

#include "crashlog/except_notify.h"
#include "crashlog/hook_internal.h"
#include "platform/base/paths.h"
#include "platform/base/stringlist.h"
#include "platform/base/text.h"
#include "platform/classlib/dialogs.h"

namespace qv {

namespace {
std::atomic<int> dialogs_open{0};
}  // namespace

OpenDialog::OpenDialog() {
  dialogs_open.fetch_add(1);
}
OpenDialog::~OpenDialog() {
  dialogs_open.fetch_sub(1);
}
HookOutsideDialog::HookOutsideDialog() {
  dialogs_open.fetch_sub(1);
}
HookOutsideDialog::~HookOutsideDialog() {
  dialogs_open.fetch_add(1);
}
bool DialogsOpen() {
  return dialogs_open.load() > 0;
}

namespace {

// Everything the trace and the warnings share, behind one lock.
struct TraceState {
  std::mutex lock;
  bool switches_read = false;
  bool trace_on = false;
  bool trace_file_on = false;
  bool save_every_line = false;
  TStringList lines;
  std::string indent;
  TOstrelLogErrorCode warning_code = eeNone;
  std::string warning_message;
  std::string bug_recipient;
  InternalBugSender bug_sender;
  std::string saved_to;  // where the trace was last written, "" while nowhere
};

TraceState& State() {
  static TraceState* state = new TraceState;  // outlives every static destructor
  return *state;
}

// Whether this thread holds the trace: a throw in the trace's own code (its file cannot be
// written) passes through the traced throw hook, which must not wait for its own thread.
thread_local bool holding_trace = false;
// A fault stopped a thread for good while it held the trace: it is never given back, so the
// report of that fault and everything after it leave the trace alone.
std::atomic<bool> trace_abandoned{false};

// The trace's lock, unless this thread holds it already or a stopped thread holds it for good;
// whoever does not get it leaves the trace as it is.
class TraceHold {
 public:
  explicit TraceHold(TraceState& s, bool wait = true) {
    if (holding_trace || trace_abandoned.load()) return;
    lock_ = wait ? std::unique_lock(s.lock) : std::unique_lock(s.lock, std::try_to_lock);
    holding_trace = lock_.owns_lock();
  }
  ~TraceHold() { unlock(); }
  TraceHold(const TraceHold&) = delete;
  TraceHold& operator=(const TraceHold&) = delete;
  explicit operator bool() const { return lock_.owns_lock(); }
  void unlock() {
    if (!lock_.owns_lock()) return;
    holding_trace = false;
    lock_.unlock();
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

std::string LastCommandLineParameter() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string last;
  std::size_t start = 0;
  int index = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (index++ > 0) last = all.substr(start, end - start);
    start = end + 1;
  }
  return last;
}

void ApplySwitches(TraceState& s, std::string_view last_parameter) {
  const std::string upper = UpperCase(last_parameter);
  s.trace_on = upper.find("DEBUG") != std::string::npos;
  s.trace_file_on = s.trace_on;
  s.save_every_line = upper.find("SAVE") != std::string::npos;
  s.switches_read = true;
}

void ReadSwitchesLocked(TraceState& s) {
  if (!s.switches_read) ApplySwitches(s, LastCommandLineParameter());
}

void DebugOutput(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%d/%m/%y %H:%M:%S", &local);
  return stamp;
}

}  // namespace

std::string StateFolder(const std::string& program) {
  std::string state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    state = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    state = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  return state + "/" + ChangeFileExt(ExtractFileName(program), "") + "/";
}

namespace {

// The state lock is held.
void SaveTraceLocked(TraceState& s) {
  if (!s.trace_on || !s.trace_file_on) return;
  const std::string file = TraceFileName();
  try {
    s.lines.SaveToFile(file);
    s.saved_to = file;
  } catch (const std::exception&) {
    // The program's folder may be read-only (an installed program): use the state folder.
    s.saved_to.clear();
    const std::string folder = StateFolder(ExeName());
    if (folder.empty()) return;
    try {
      ForceDirectories(folder);
      s.lines.SaveToFile(folder + ExtractFileName(file));
      s.saved_to = folder + ExtractFileName(file);
    } catch (const std::exception&) {
      // Nowhere to write: the trace stays in memory.
    }
  }
}

void AddLineLocked(TraceState& s, const std::string& text, int indent_change) {
  if (indent_change < 0) {
    const std::size_t cut = std::min<std::size_t>(s.indent.size(), std::size_t(-indent_change));
    s.indent.resize(s.indent.size() - cut);
  }
  s.lines.Add(Now() + "  " + s.indent + text);
  if (indent_change > 0) s.indent.append(std::size_t(indent_change), ' ');
  if (s.save_every_line) SaveTraceLocked(s);
}

// A warning or error line: kept only while the trace is on, so a long run without it
// gathers nothing; the debug output (stderr) has it also while a debugger is attached.
void AddLine(const std::string& text) {
  TraceState& s = State();
  TraceHold guard(s);
  if (guard) ReadSwitchesLocked(s);
  if (guard && s.trace_on) {
    DebugOutput(text);
    AddLineLocked(s, text, 0);
    return;
  }
  guard.unlock();
  if (DebuggerPresent()) DebugOutput(text);
}

}  // namespace

// Here rather than with the hooks: the debug output asks it, and programs that only trace
// must not pull the hooks in.
bool DebuggerPresent() {
  TraceScope trace("DebuggerPresent", {});
  // The kernel names the process that traces this one; 0 when none does.
  std::ifstream status("/proc/self/status");
  std::string line;
  for (int lines = 0; lines < 256 && std::getline(status, line); ++lines) {
    if (line.rfind("TracerPid:", 0) == 0) return trace.Result(std::atoi(line.c_str() + 10) != 0);
  }
  return trace.Result(false);
}

std::string_view ErrorCodeName(TOstrelLogErrorCode code) {
  switch (code) {
    case eeNone:
      return "eeNone";
    case eeShowError:
      return "eeShowError";
    case eeLogError:
      return "eeLogError";
    case eeEmailMAPIError:
      return "eeEmailMAPIError";
    case eeEmailShellError:
      return "eeEmailShellError";
    case eeEmailSMTPError:
      return "eeEmailSMTPError";
  }
  return "eeNone";
}

std::string DemangledClassName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

std::string TraceArg::Quoted(std::string_view s) {
  return "'" + std::string(s) + "'";
}

std::string TraceArg::Pointer(const void* p) {
  if (p == nullptr) return "nil";
  char text[24];
  std::snprintf(text, sizeof text, "$%016" PRIXPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}

std::string TraceArg::Float(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15G", v);
  return text;
}

std::string TraceArg::ClassName(const std::type_info& type) {
  return DemangledClassName(type);
}

// Progress windows open now (a count: each send opens its own).
std::atomic<int> smtp_progress_open{0};

void SetSMTPProgressOpen(bool open) {
  smtp_progress_open += open ? 1 : -1;
}

void Warning(TOstrelLogErrorCode code, std::string_view message) {
  {
    TraceState& s = State();
    TraceHold guard(s);
    if (guard) {
      s.warning_code = code;
      s.warning_message = std::string(message);
    }
  }
  AddLine("[WARNING] - Code: " + std::string(ErrorCodeName(code)) + " - Message: \"" +
          std::string(message) + "\"");
  if (code == eeEmailSMTPError && smtp_progress_open.load() > 0) {
    const OpenDialog open;
    MessageBox(message, "Error.",
               MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST);
  }
}

void ErrorWarning(TOstrelLogErrorCode code, std::string_view context) {
  std::string message = "General '" + std::string(context) + "' error.";
  if (const std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      message = "[" + DemangledClassName(typeid(e)) + "] " + e.what();
    } catch (...) {
    }
  }
  Warning(code, message);
}

TOstrelLogErrorCode LastWarningCode() {
  const TraceHold guard(State());
  return guard ? State().warning_code : eeNone;
}

std::string LastWarningMessage() {
  const TraceHold guard(State());
  return guard ? State().warning_message : std::string();
}

void ClearLastWarning() {
  const TraceHold guard(State());
  if (!guard) return;
  State().warning_code = eeNone;
  State().warning_message.clear();
}

namespace {

// Where this thread threw last, noted by the throw hook: the address of an exception that
// reaches the internal-error channel.
thread_local const void* thrown_object = nullptr;
thread_local const void* thrown_at = nullptr;

// The object of the exception being handled (what the exception pointer holds).
const void* CurrentExceptionObject() {
  std::exception_ptr current = std::current_exception();
  if (!current) return nullptr;
  const void* object = nullptr;
  static_assert(sizeof current == sizeof object);
  std::memcpy(&object, &current, sizeof object);
  return object;
}

}  // namespace

void NoteThrowSite(const void* object, const void* address) {
  thrown_object = object;
  thrown_at = address;
}

void InternalError(std::string_view section, const void* address) {
  std::string message = "General internal error.";
  if (const std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const EAbort&) {
      return;
    } catch (const std::exception& e) {
      message = e.what();
    } catch (...) {
    }
  }
  AddLine("[ERROR] - Section: " + std::string(section) + " - Message: \"" + message + "\"");
  if (address == nullptr && thrown_object != nullptr && thrown_object == CurrentExceptionObject())
    address = thrown_at;
  constexpr std::size_t DumpSize = 32;
  const auto at = reinterpret_cast<uintptr_t>(address);
  if (address != nullptr && at <= UINTPTR_MAX - DumpSize &&
      hook_detail::Readable(address, DumpSize)) {
    uint8_t bytes[DumpSize];
    std::memcpy(bytes, address, DumpSize);
    std::string dump = "Memory Dump:";
    for (const uint8_t b : bytes) {
      char hex[5];
      std::snprintf(hex, sizeof hex, " $%02X", b);
      dump += hex;
    }
    AddLine(dump);
  }
  std::string recipient;
  InternalBugSender sender;
  bool trace_on = false;
  {
    TraceState& s = State();
    const TraceHold guard(s);
    if (!guard) return;
    SaveTraceLocked(s);
    trace_on = s.trace_on;
    recipient = s.bug_recipient;
    sender = s.bug_sender;
  }
  if (!trace_on) return;
  const std::string question = "Error: '" + message +
                               "'\r\n\r\nThis is an internal OstrelLog bug.\r\nDo you want to "
                               "send the bug information to OstrelLog author?";
  {
    const OpenDialog open;
    if (MessageBox(question, "Probably internal bug", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) !=
        IDYES)
      return;
  }
  SaveTrace();
  // The attachment is the file as written, which may be in the state folder; without one
  // nothing is sent.
  const std::string attachment = SavedTraceFileName();
  const std::string subject = "OstrelLog 4.5.4 critical bug.";
  if (!recipient.empty() && sender && !attachment.empty() && FileExists(attachment) &&
      sender(recipient, subject, subject, attachment))
    return;
  // Not sent (no address to send it to, no file, or the mail failed): the user can still
  // send it.
  const OpenDialog open;
  MessageBox("The bug information could not be sent.\r\nPlease send the file \"" +
                 (attachment.empty() ? TraceFileName() : attachment) + "\" by hand to " +
                 (recipient.empty() ? std::string("the program's author") : recipient) + ".",
             "Information.", MB_OK | MB_ICONINFORMATION);
}

void SetInternalBugRecipient(std::string address) {
  const TraceHold guard(State());
  if (guard) State().bug_recipient = std::move(address);
}

void SetInternalBugSender(InternalBugSender sender) {
  const TraceHold guard(State());
  if (guard) State().bug_sender = std::move(sender);
}

bool TraceActive() {
  TraceState& s = State();
  const TraceHold guard(s);
  if (!guard) return false;
  ReadSwitchesLocked(s);
  return s.trace_on;
}

void SetTraceSwitches(std::string_view last_parameter) {
  TraceState& s = State();
  const TraceHold guard(s);
  if (guard) ApplySwitches(s, last_parameter);
}

void TraceLog(std::string_view name, std::initializer_list<TraceArg> args, int indent_change) {
  if (!TraceActive()) return;
  std::string text(name);
  text += '(';
  bool first = true;
  for (const TraceArg& arg : args) {
    if (!first) text += ", ";
    text += arg.Text();
    first = false;
  }
  text += ')';
  TraceText(text, indent_change);
}

TraceScope::TraceScope(std::string_view name, std::initializer_list<TraceArg> args)
    : on_(TraceActive()) {
  if (!on_) return;
  name_ = std::string(name);
  TraceLog(name, args, 2);
}

TraceScope::~TraceScope() {
  if (on_) TraceText(name_ + "=" + result_, -2);
}

void TraceText(std::string_view text, int indent_change) {
  TraceState& s = State();
  const TraceHold guard(s);
  if (!guard) return;
  ReadSwitchesLocked(s);
  if (!s.trace_on) return;
  AddLineLocked(s, std::string(text), indent_change);
}

void AbandonTraceIfHeld() {
  if (holding_trace) trace_abandoned.store(true);
}

void SaveTrace() {
  TraceState& s = State();
  const TraceHold guard(s);
  if (!guard) return;
  ReadSwitchesLocked(s);
  SaveTraceLocked(s);
}

void SaveTraceIfFree() {
  TraceState& s = State();
  const TraceHold guard(s, false);
  if (!guard) return;
  ReadSwitchesLocked(s);
  SaveTraceLocked(s);
}

std::string TraceFileName() {
  return ChangeFileExt(ExeName(), ".log");
}

std::string SavedTraceFileName() {
  TraceState& s = State();
  const TraceHold guard(s);
  return guard ? s.saved_to : std::string();
}

std::string TraceLines() {
  TraceState& s = State();
  const TraceHold guard(s);
  std::string all;
  if (!guard) return all;
  for (int i = 0; i < s.lines.Count(); ++i) all += s.lines[i] + "\n";
  return all;
}

}  // namespace qv
