// The exception logger's hooks and its report pipeline.
//
// Once installed (at start-up of every program linked with InstallOstrelLogAtStartup), the
// logger sees:
// - every C++ throw, through the import slots of `__cxa_throw`: a throw that no frame of
//   the thread catches (found from the unwinder's language-specific data) is reported on
//   the throwing thread before the runtime ends the program;
// - an exception that ends in the terminate handler without having been reported;
// - SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT, taken on per-thread alternate stacks: a
//   thread's own fault is handed to a pipeline thread started in advance (the faulting thread
//   waits); one another process sends is only noted, and the pipeline thread reports it from a
//   snapshot of the thread it names (fault_signals.cpp);
// - thread starts, through the import slots of `pthread_create`: each thread is listed
//   with its stack and gets an alternate signal stack.
// A reported exception ends the program with exit code 1 (a worker thread's throw ends
// that thread only). With the log switched off, every exception takes the default path.
#pragma once

#include <pthread.h>
#include <sys/types.h>
#include <ucontext.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "crashlog/call_stack.h"
#include "crashlog/log_report.h"
#include "crashlog/module_options.h"
#include "crashlog/thread_snapshot.h"
#include "crashlog/trace_log.h"
#include "platform/base/exception.h"

namespace qv {

// The facts handed to the notification hooks.
struct TOstrelExceptionRecord {
  std::string class_name, message;
  bool has_message = false;
  bool external = false;  // a processor or system fault, not a throw
  uintptr_t address = 0;
  pid_t thread_id = 0;
  const std::vector<TOstrelModulePtr>* modules = nullptr;
  const TOstrelStackList* stack = nullptr;
  const TOstrelModuleOptions* options = nullptr;
  const std::string* report = nullptr;
  // The exception object: the one thrown or caught when it is a std::exception, the
  // logger's own for a fault (an EExternal) or a hang (EFrozenApplication); else null.
  const std::exception* exception = nullptr;
};

// Processor and system faults become objects of these classes for the hooks.
class EExternal : public Exception {
 public:
  using Exception::Exception;
};
class EAccessViolation : public EExternal {
 public:
  using EExternal::EExternal;
};
class EBusError : public EExternal {
 public:
  using EExternal::EExternal;
};
class EIllegalInstruction : public EExternal {
 public:
  using EExternal::EExternal;
};
class EAbortSignal : public EExternal {
 public:
  using EExternal::EExternal;
};
class EIntDivByZero : public EExternal {
 public:
  using EExternal::EExternal;
};
class EIntOverflow : public EExternal {
 public:
  using EExternal::EExternal;
};
class EMathError : public EExternal {
 public:
  using EExternal::EExternal;
};

// Clearing `continue_pipeline` gives the exception to the default handler.
using TExceptionNotify = std::function<void(TOstrelExceptionRecord&, bool& continue_pipeline)>;
// Codes: 0/1 around the dialog, 2/3 around saving, 4/5 around sending, 6 terminate chosen.
using TActionNotify = std::function<void(TOstrelExceptionRecord&, int action, bool& execute)>;
// Codes 3 (saving) and 5 (sending) failed; setting `retry` repeats the action.
using TActionError = std::function<void(TOstrelExceptionRecord&, int action, bool& retry)>;
// Each hook is a plain routine and a component event: both are called when set, the routine
// first.
void SetExceptionNotify(TExceptionNotify hook);
void SetActionNotify(TActionNotify hook);
void SetActionError(TActionError hook);
void SetOnExceptionNotify(TExceptionNotify event);
void SetOnActionNotify(TActionNotify event);
void SetOnActionError(TActionError event);

enum TOstrelTerminate { otNone, otTerminate, otRestart };
// What the pipeline does at its end (the dialog's Terminate and Restart buttons).
void SetTerminateRequest(TOstrelTerminate request);

// Installs the hooks once; the logger is then active until FinalizeOstrelLog.
void InstallOstrelLog();
void FinalizeOstrelLog();
[[nodiscard]] bool OstrelLogActive();
// The options of the program's module; throws when the logger is not active.
TOstrelModuleOptions& CurrentOstrelLogOptions();
// Console programs write the report to standard output instead of showing the dialog.
void SetOstrelConsoleProgram(bool console);
// Reports an exception that reached the application's default handler; true = let the
// default handler run.
bool ExceptionManager(std::exception_ptr error);
// Reports counted since start-up.
[[nodiscard]] int OstrelReportedErrors();

// For the freeze watchdog: the main thread's kernel id and stack top, recorded at start-up;
// whether an exception is travelling through the pipeline now; the registers of a signal's
// context; and the report of a thread from a snapshot of its registers and of its stack
// from the stack pointer up (`stack_copy`, `stack_bytes`), where its call stack is looked
// for; `error`, when given, is the exception object the hooks get. The report waits until
// the pipeline is free; true = default handling wanted.
[[nodiscard]] pid_t OstrelMainThread();
[[nodiscard]] uintptr_t OstrelMainStackTop();
[[nodiscard]] bool OstrelPipelineBusy();
bool NotifyThreadSnapshot(const std::string& class_name, const std::string& message, pid_t thread,
                          const TOstrelRegisters& registers, uintptr_t stack_top,
                          const void* stack_copy, std::size_t stack_bytes,
                          const std::exception* error = nullptr);

// The threads started through pthread_create while the logger is active, each listed from
// its start until its end: found by kernel id or by handle, under a lock of the list's own
// that is never held while calling out. Entries are handed out as copies.
class TOstrelThreadsList {
 public:
  struct Entry {
    pid_t id = 0;
    pthread_t handle{};
    void* (*start)(void*) = nullptr;
    void* parameter = nullptr;
    uintptr_t stack_top = 0;
  };
  void Add(const Entry& entry);
  void Remove(pid_t id);
  [[nodiscard]] bool FindById(pid_t id, Entry& found) const;
  [[nodiscard]] bool FindByHandle(pthread_t handle, Entry& found) const;

 private:
  mutable std::mutex lock_;
  std::map<pid_t, Entry> entries_;
};
// The process's list; never destroyed, since threads still running at exit leave it then.
TOstrelThreadsList& OstrelThreadsList();

// Exceptions of an excluded thread (kernel thread id) are never reported.
void ExcludeThreadFromOstrelLog(pid_t thread, bool excluded = true);
// Set from the installation until the last static object of the logger's module is made;
// set once the module's static objects are being destroyed (the process ends).
[[nodiscard]] bool OstrelLogInitializing();
[[nodiscard]] bool OstrelLogFinalizing();
// Called by the logger's starter while the module's static objects are made.
void NoteOstrelLogStarter(uintptr_t return_address);
// Whether a debugger (any tracer) is attached to the process.
[[nodiscard]] bool DebuggerPresent();
// Above 1, each throw stops an attached debugger (SIGTRAP). A console program starts at 1;
// without a debugger the handler search sets it to 0.
void SetDebuggerNotifyLevel(int level);
[[nodiscard]] int DebuggerNotifyLevel();

// Whether a frame of the current thread's stack, above the caller, catches an exception of
// `type` (the object at `object`): catch(...) or a matching class.
[[nodiscard]] bool IsExceptionHandled(const std::type_info* type, void* object);

}  // namespace qv
