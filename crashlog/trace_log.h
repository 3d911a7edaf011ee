// The logger's own failure channels: coded warnings (a failed action such as sending),
// internal errors (an exception inside the logger's code) and a trace of the logger's
// routines, switched on by the program's last command-line parameter and written beside
// the program as "<program>.log". All functions are thread-safe; the trace and the last
// warning are guarded by one lock.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include "platform/base/exception.h"

namespace qv {

enum TOstrelLogErrorCode {
  eeNone,
  eeShowError,
  eeLogError,
  eeEmailMAPIError,
  eeEmailShellError,
  eeEmailSMTPError
};
[[nodiscard]] std::string_view ErrorCodeName(TOstrelLogErrorCode code);

// A window of the logger's that waits for its user (a dialog, a message box): while one is
// open, the end after a report waits for it. A hook called meanwhile, which may never return,
// does not count (HookOutsideDialog).
struct OpenDialog {
  OpenDialog();
  ~OpenDialog();
  OpenDialog(const OpenDialog&) = delete;
  OpenDialog& operator=(const OpenDialog&) = delete;
};
struct HookOutsideDialog {
  HookOutsideDialog();
  ~HookOutsideDialog();
  HookOutsideDialog(const HookOutsideDialog&) = delete;
  HookOutsideDialog& operator=(const HookOutsideDialog&) = delete;
};
[[nodiscard]] bool DialogsOpen();

// The silent abort: never reported, never an internal error.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// One typed argument of a trace line.
class TraceArg {
 public:
  TraceArg(bool v) : text_(v ? "True" : "False") {}
  TraceArg(char v) : text_(1, v) {}
  TraceArg(const char* v) : text_(Quoted(v == nullptr ? "" : v)) {}
  TraceArg(std::string_view v) : text_(Quoted(v)) {}
  TraceArg(const std::string& v) : text_(Quoted(v)) {}
  TraceArg(std::nullptr_t) : text_("nil") {}
  TraceArg(const void* v) : text_(Pointer(v)) {}
  TraceArg(void* v) : text_(Pointer(v)) {}
  template <typename T>
  requires std::is_integral_v<T> TraceArg(T v) : text_(std::to_string(v)) {}
  template <typename T>
  requires std::is_floating_point_v<T> TraceArg(T v) : text_(Float(double(v))) {}
  // An object is traced as its class name.
  template <typename T>
  requires std::is_class_v<T> TraceArg(const T* object)
      : text_(object == nullptr ? "nil" : ClassName(typeid(*object))) {}
  template <typename T>
  requires std::is_class_v<T> TraceArg(T* object) : TraceArg(static_cast<const T*>(object)) {}
  // Any other type.
  static TraceArg Unknown() { return TraceArg(Raw{}, "Unknown"); }
  // An object traced by the class name it has in reports (a list kept as a container).
  static TraceArg Object(std::string class_name) { return TraceArg(Raw{}, std::move(class_name)); }

  [[nodiscard]] const std::string& Text() const { return text_; }

 private:
  struct Raw {};
  TraceArg(Raw, std::string text) : text_(std::move(text)) {}
  static std::string Quoted(std::string_view s);
  static std::string Pointer(const void* p);
  static std::string Float(double v);
  static std::string ClassName(const std::type_info& type);

  std::string text_;
};

// The readable name of a C++ type.
[[nodiscard]] std::string DemangledClassName(const std::type_info& type);

// Stores the last warning, traces "[WARNING] - Code: <name> - Message: "<message>"" and
// writes it to the debug output (stderr while the trace is on or a debugger is attached); an
// SMTP warning also goes
// to a message box while the progress window is open.
void Warning(TOstrelLogErrorCode code, std::string_view message);
// While the "SMTP" progress window is open, an SMTP warning is also shown in a message box
// captioned "Error.". The window's code tells when it opens and closes.
void SetSMTPProgressOpen(bool open);
// Turns the exception being handled into a warning: "[<class>] <message>" for a
// std::exception, else "General '<context>' error.".
void ErrorWarning(TOstrelLogErrorCode code, std::string_view context);
[[nodiscard]] TOstrelLogErrorCode LastWarningCode();
[[nodiscard]] std::string LastWarningMessage();
void ClearLastWarning();

// For the exception being handled (call it inside a catch): traces
// "[ERROR] - Section: <section> - Message: "<message>"", a memory dump of the 32 bytes at
// the exception's address when they are readable (`address`, else where the exception was
// thrown as the throw hook noted it), and saves the trace. With the trace on, the user is
// asked whether to mail the trace file as written; on Yes, when it cannot be sent (no
// recipient set with SetInternalBugRecipient, no file written, or the mail failed), a box
// asks to send the file by hand.
void InternalError(std::string_view section, const void* address = nullptr);
// The state folder of the program at `program`, where the trace and the report file go when
// their own folder is not writable: "$XDG_STATE_HOME/<name>/" when that is an absolute path,
// else "$HOME/.local/state/<name>/"; "" without either.
[[nodiscard]] std::string StateFolder(const std::string& program);
// Noted by the throw hook for each throw of the thread: the thrown object and the address
// the throw was made from.
void NoteThrowSite(const void* object, const void* address);

// Where internal bug reports go, as the logger's options name it; no address is built in.
// The sender is installed by the report-sending code: (recipient, subject, body,
// attachment) -> sent.
void SetInternalBugRecipient(std::string address);
using InternalBugSender =
    std::function<bool(const std::string& recipient, const std::string& subject,
                       const std::string& body, const std::string& file)>;
void SetInternalBugSender(InternalBugSender sender);

// The switches come from the program's last command-line parameter, read once.
[[nodiscard]] bool TraceActive();
// Sets the switches as a last parameter `last_parameter` would (for programs that get
// their command line another way).
void SetTraceSwitches(std::string_view last_parameter);

// A trace line "dd/mm/yy hh:nn:ss  <indent><name>(<args>)"; a negative `indent_change`
// shortens the indentation before the line, a positive one lengthens it after.
void TraceLog(std::string_view name, std::initializer_list<TraceArg> args, int indent_change);
// A line without an argument list ("Name=result" on exit).
void TraceText(std::string_view text, int indent_change);
// A routine's entry and exit in the trace: "name(args)" when it is made (indentation +2),
// "name=result" when it ends (-2); the result is what Result was last given, else empty.
class TraceScope {
 public:
  TraceScope(std::string_view name, std::initializer_list<TraceArg> args);
  ~TraceScope();
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;
  // Notes the routine's result and hands it back.
  template <typename T>
  T Result(T value) {
    if (on_) result_ = TraceArg(value).Text();
    return value;
  }

 private:
  bool on_;
  std::string name_, result_;
};
// An address as a trace argument ("$" and hexadecimal digits).
[[nodiscard]] inline TraceArg TraceAddress(uintptr_t address) {
  return TraceArg(reinterpret_cast<const void*>(address));
}

// Called in the signal handler of a thread that a fault stops for good: when the thread holds
// the trace, the trace is left as it is from then on (a report never waits for it).
void AbandonTraceIfHeld();

// Writes the trace to TraceFileName() when the trace file is on; when that cannot be
// written, to the same name in the program's state folder.
void SaveTrace();
// The same, unless another thread holds the trace (a thread a fault stopped may): the end
// of the program saves what it can and never waits.
void SaveTraceIfFree();
[[nodiscard]] std::string TraceFileName();
// The file the trace was last written to; "" when it could be written nowhere.
[[nodiscard]] std::string SavedTraceFileName();
// The trace lines so far (for inspection).
[[nodiscard]] std::string TraceLines();

}  // namespace qv
