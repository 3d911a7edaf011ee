// What the exception logger's own files share: the pipeline and its state (except_notify.cpp),
// the signal path (fault_signals.cpp) and the threads it lists (logger_threads.cpp). Not for
// the program's use.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

#include "crashlog/call_stack.h"
#include "crashlog/freeze_thread.h"
#include "crashlog/log_report.h"
#include "crashlog/trace_log.h"

namespace qv::ostrel {

[[nodiscard]] pid_t ThreadId();

// ---- the pipeline's state (except_notify.cpp) ---------------------------------------------------

// Set while the logger's hooks are in place.
extern std::atomic<bool> active;
// Set from the installation of the signal handlers, before the hooks that make the logger
// active, so that a fault during the start is reported; cleared with `active`.
extern std::atomic<bool> catching_faults;
extern pid_t main_thread;
// One exception at a time travels through the pipeline; the owner's thread id, 0 = free.
extern std::mutex busy_lock;
extern std::atomic<pid_t> busy_owner;
// The thread that runs the pipeline for an exception of the main thread, while it runs.
extern std::atomic<pid_t> report_thread;
// The thread that reports faults (fault_signals.cpp).
extern std::atomic<pid_t> pipeline_thread;
// Faults whose threads have entered the signal handler and whose reports have not yet ended.
extern std::atomic<int> waiting_faults;

[[nodiscard]] bool Excluded(pid_t thread);
// The notifications of other threads still to be waited for (busy_lock held).
[[nodiscard]] bool NotificationsPending();
// Called by a fault's thread that stays in its handler: its notification, if any, never ends.
void HoldNotification();
// What the pipeline takes from where the exception happened: the faulting thread's registers
// (a fault's context; none for a throw), its stack pointer and stack top, and the foreground
// window and focused control, noted before any dialog moves the focus.
struct TExceptNotifyParams {
  std::optional<TOstrelRegisters> context;
  uintptr_t stack_pointer = 0, stack_top = 0;
  std::string form_class, form_text, control_class, control_text;
  bool control_password = false;
};

// The exception as it enters the pipeline: its object (class and message here), address,
// raised flag, faulting thread and the parameters taken where it happened.
struct ExceptInfo {
  std::string class_name, message;
  bool has_message = false;
  bool external = false;
  bool raised = false;
  uintptr_t address = 0;
  pid_t thread = 0;
  TExceptNotifyParams params;
  // A copy of the stack from the stack pointer up, taken while the thread ran on: the call
  // stack is looked for there instead.
  const void* stack_copy = nullptr;
  std::size_t stack_copy_bytes = 0;
  const std::exception* object = nullptr;
};

// How long the end waits for other threads' exceptions on their way to the log; a report
// waiting for its user (a dialog open) is waited for as long as it is open.
constexpr auto EndWaitForOtherReports = std::chrono::seconds(60);
// The end's deadline, moved on while a dialog is open.
bool PastEndWait(std::chrono::steady_clock::time_point& end_by);

// True = default handling wanted.
bool GoNotify(ExceptInfo& e);
// Reports the current exception, which nothing of the program catches, unless its throw was
// reported already. True = default handling wanted.
bool ReportUncaught(const std::exception_ptr& current);
// Ends the process after a report. `abandoning`: another thread's report was given up on, and
// may hold a stream's lock.
[[noreturn]] void ExitAfterReport(bool abandoning = false);

// The stack top of a listed thread or of the main thread; 0 when it is not known.
[[nodiscard]] uintptr_t KnownStackTop(pid_t thread);
// The same, else the top of the mapping that holds `stack_pointer`.
[[nodiscard]] uintptr_t StackTopOf(uintptr_t stack_pointer, pid_t thread);
// The calling thread's stack top.
[[nodiscard]] uintptr_t CurrentStackTop();
// The module that holds this logger's code, and its handle.
[[nodiscard]] const TOstrelModuleEntry* ProgramEntry();
[[nodiscard]] uintptr_t OwnHandle();
[[nodiscard]] TOstrelModuleOptionsEx& RunningOptions();

// ---- the signal path (fault_signals.cpp) ------------------------------------------------------

// SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT.
[[nodiscard]] sigset_t FaultSignals();
// Starts the pipeline thread, which reads the program's logger data while this thread waits,
// and puts the fault handlers in place; false when the thread could not start. `start_mask`
// is the calling thread's signal mask.
bool InstallFaultSignals(const sigset_t& start_mask);
// Puts back the handlers the logger replaced: all of them, or the one of `signal`.
void RestoreFaultHandlers(int signal = 0);
// Whether a fault or a signal sent from outside is still on its way to a report.
[[nodiscard]] bool FaultsOnTheirWay();
// A thread that ends the program while a signal sent from outside is on its way to the log
// waits here for good: the pipeline thread ends the program once it is reported.
void AwaitSentSignals();
// Wakes the pipeline thread when it waits for other threads' exceptions to end the program.
void WakePipelineIfEnding();

// ---- threads (logger_threads.cpp) --------------------------------------------------------------

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
extern PthreadCreate real_pthread_create;
// The calling thread's alternate signal stack, kept until the process ends (the main thread's).
void InstallAltStack();
// What pthread_create starts instead: the thread is listed, gets its signal stack, and its
// uncaught exception is reported (the thread then ends with exit code 1).
void* HookedThreadProc(void* argument);
int HookedCreateThread(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                       void* parameter);

}  // namespace qv::ostrel
