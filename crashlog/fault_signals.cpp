// The signal path of the exception logger.
// A fault a thread raises itself (at an address, or by abort() or raise(); whatever this process
// sends itself counts so) cannot be resumed: its handler hands it to the pipeline thread and
// waits there. A signal another process sends may find its thread anywhere, holding any lock:
// its handler only notes it and returns. The pipeline thread then takes a snapshot of the thread
// the signal names and reports it from that copy, so no thread is held for it.
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "crashlog/except_internal.h"
#include "crashlog/except_notify.h"
#include "crashlog/hook_internal.h"
#include "crashlog/shared_facts.h"
#include "crashlog/thread_snapshot.h"
#include "crashlog/trace_log.h"

namespace qv::ostrel {
namespace {

constexpr int Signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction previous_actions[5];

// Wakes the pipeline thread: a fault handed over, a signal noted, a notification ended while
// the pipeline waits to end the program.
int wake_fd = -1;
std::atomic<bool> ending{false};

void WakePipeline() {
  const uint64_t one = 1;
  // An event counter: the write never blocks, and wakes once however many came meanwhile.
  [[maybe_unused]] const ssize_t written = ::write(wake_fd, &one, sizeof one);
}

// Waits for a wake, until `until` when one is given. The pipeline thread blocks the fault
// signals except here, where it holds nothing: one sent to it is noted like any other.
void AwaitWake(const std::chrono::steady_clock::time_point* until) {
  timespec timeout{};
  if (until != nullptr) {
    const auto left =
        std::chrono::ceil<std::chrono::nanoseconds>(*until - std::chrono::steady_clock::now());
    const int64_t ns = std::max<int64_t>(left.count(), 0);
    timeout = {time_t(ns / 1000000000), long(ns % 1000000000)};
  }
  sigset_t open;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &open);
  for (const int signal : Signals) ::sigdelset(&open, signal);
  pollfd wake{wake_fd, POLLIN, 0};
  if (::ppoll(&wake, 1, until != nullptr ? &timeout : nullptr, &open) <= 0) return;
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(wake_fd, &count, sizeof count);
}

struct SignalSlot {
  int signal = 0;
  siginfo_t info{};
  ucontext_t context{};
  pid_t thread = 0;
  bool default_wanted = false;
};
// A fault's slot: taken (slot_free), filled and posted (fault_posted), answered (slot_done).
SignalSlot slot;
sem_t slot_free, slot_done;
std::atomic<bool> fault_posted{false};
// Posted by the pipeline thread once it has read the program's logger data.
sem_t data_ready;

void SemWait(sem_t* s) {
  while (::sem_wait(s) != 0 && errno == EINTR) {
  }
}

void DefaultSignal(int signal, siginfo_t* info) {
  ReleaseProcessSharedFacts();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  ::sigaction(signal, &action, nullptr);
  // A sent signal does not come back by itself when the handler returns.
  if (info->si_code <= 0 || signal == SIGABRT) ::raise(signal);
}

// Signals sent from outside, in the order they came. An entry is written once, by the handler
// that claims it, and read by the pipeline thread once it is noted; none is used again, since
// the program ends once they are reported. Signals past the last entry are only counted.
struct SentSignal {
  int signal = 0;
  siginfo_t info{};
  pid_t landed = 0;            // the thread the kernel gave it to
  TOstrelRegisters registers;  // that thread's, where the signal found it
  std::atomic<bool> noted{false};
};
constexpr int MaxSentSignals = 64;
SentSignal sent_signals[MaxSentSignals];
std::atomic<int> sent_claimed{0};
// Reported so far; changed by the pipeline thread alone.
std::atomic<int> sent_reported{0};

// Sent by another process (the kernel's faults, and what this process sends itself, are taken
// where they are).
bool SentFromOutside(const siginfo_t& info) {
  return info.si_code <= 0 && info.si_pid != ::getpid();
}

// The pipeline thread's stack as a signal sent to it found it (waiting for a wake): by the time
// it reports the signal, its own calls have written over that part of its stack. It takes
// such signals only while it waits, so one copy serves each in turn.
uintptr_t pipeline_stack_top = 0;
uint64_t pipeline_stack[8192];
std::size_t pipeline_stack_bytes = 0;

void NoteSentSignal(int signal, const siginfo_t& info, const ucontext_t& context) {
  const int at = sent_claimed.fetch_add(1);
  if (at < MaxSentSignals) {
    SentSignal& s = sent_signals[at];
    s.signal = signal;
    s.info = info;
    s.landed = ThreadId();
    s.registers = RegistersOf(context);
    if (s.landed == pipeline_thread.load() && pipeline_stack_top > s.registers.rsp) {
      const std::size_t bytes =
          std::min<std::size_t>(pipeline_stack_top - s.registers.rsp, sizeof pipeline_stack);
      pipeline_stack_bytes =
          hook_detail::ReadBytes(pipeline_stack, reinterpret_cast<const void*>(s.registers.rsp),
                                 bytes)
              ? bytes
              : 0;
    }
    s.noted = true;
  }
  WakePipeline();
}

int SentSignalsOnTheirWay() {
  return std::min(sent_claimed.load(), MaxSentSignals) - sent_reported.load();
}

bool ThreadMayReport(pid_t thread) {
  return thread != 0 && thread != pipeline_thread.load() && thread != busy_owner.load() &&
         thread != report_thread.load() && !Excluded(thread);
}

// A fault signal sent to the pipeline thread (it takes them only while it waits).
bool SentToThePipeline(const siginfo_t& info) {
  return info.si_code <= 0 && ThreadId() == pipeline_thread.load();
}

void SignalHandler(int signal, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  if (catching_faults.load() && (SentFromOutside(*info) || SentToThePipeline(*info))) {
    NoteSentSignal(signal, *info, *static_cast<const ucontext_t*>(context));
    errno = saved_errno;
    return;
  }
  const pid_t self = ThreadId();
  if (!catching_faults.load() || !ThreadMayReport(self)) {
    DefaultSignal(signal, info);
    errno = saved_errno;
    return;
  }
  waiting_faults.fetch_add(1);
  HoldNotification();
  AbandonTraceIfHeld();
  SemWait(&slot_free);
  slot.signal = signal;
  slot.info = *info;
  std::memcpy(&slot.context, context, sizeof slot.context);
  slot.thread = self;
  fault_posted = true;
  WakePipeline();
  // Not posted when the program ends after the report: a fault cannot be resumed.
  SemWait(&slot_done);
  const bool default_wanted = slot.default_wanted;
  ::sem_post(&slot_free);
  if (default_wanted) DefaultSignal(signal, info);
  errno = saved_errno;
}

std::string SignalClass(int signal, const siginfo_t& info) {
  switch (signal) {
    case SIGSEGV:
      return "EAccessViolation";
    case SIGBUS:
      return "EBusError";
    case SIGILL:
      return "EIllegalInstruction";
    case SIGABRT:
      return "EAbortSignal";
    case SIGFPE:
      return info.si_code == FPE_INTDIV   ? "EIntDivByZero"
             : info.si_code == FPE_INTOVF ? "EIntOverflow"
                                          : "EMathError";
  }
  return "EExternal";
}

// The object the hooks get for a fault of the class SignalClass names.
std::unique_ptr<EExternal> FaultObject(const std::string& class_name, const std::string& message) {
  if (class_name == "EAccessViolation") return std::make_unique<EAccessViolation>(message);
  if (class_name == "EBusError") return std::make_unique<EBusError>(message);
  if (class_name == "EIllegalInstruction") return std::make_unique<EIllegalInstruction>(message);
  if (class_name == "EAbortSignal") return std::make_unique<EAbortSignal>(message);
  if (class_name == "EIntDivByZero") return std::make_unique<EIntDivByZero>(message);
  if (class_name == "EIntOverflow") return std::make_unique<EIntOverflow>(message);
  if (class_name == "EMathError") return std::make_unique<EMathError>(message);
  return std::make_unique<EExternal>(message);
}

std::string SignalMessage(int signal, const siginfo_t& info, uintptr_t address) {
  char text[160];
  if (info.si_code <= 0) {
    std::snprintf(text, sizeof text, "Signal SIG%s sent by process %d at address %016llX",
                  sigabbrev_np(signal), int(info.si_pid), (unsigned long long)address);
  } else if (signal == SIGSEGV || signal == SIGBUS) {
    std::snprintf(text, sizeof text,
                  "Access violation at address %016llX accessing address %016llX",
                  (unsigned long long)address, (unsigned long long)uintptr_t(info.si_addr));
  } else {
    std::snprintf(text, sizeof text, "%s at address %016llX", sigdescr_np(signal),
                  (unsigned long long)address);
  }
  return text;
}

// A fault becomes an exception object (class and message from the signal, the registers where
// it found its thread), which is then notified; `stack_copy`, when given, is where its call
// stack is looked for. True = default handling.
bool NotifySignal(int signal, const siginfo_t& info, pid_t thread, const TOstrelRegisters& r,
                  uintptr_t stack_top, const void* stack_copy = nullptr,
                  std::size_t stack_bytes = 0) {
  ExceptInfo e;
  e.class_name = SignalClass(signal, info);
  e.message = SignalMessage(signal, info, r.rip);
  e.has_message = true;
  e.external = true;
  const std::unique_ptr<EExternal> object = FaultObject(e.class_name, e.message);
  e.object = object.get();
  e.address = r.rip;
  e.params.stack_pointer = r.rsp;
  e.params.context = r;
  e.thread = thread;
  e.params.stack_top = stack_top;
  e.stack_copy = stack_copy;
  e.stack_copy_bytes = stack_bytes;
  try {
    PublishExceptionFacts(OwnHandle(), true, e.class_name, true, e.message);
  } catch (...) {
    InternalError("PublishExceptionFacts");
  }
  return GoNotify(e);
}

// A fault handed over by its thread. True = default handling. Its thread waits in the handler
// meanwhile: when it held the trace, that thread's handler has left the trace alone and so
// do these lines.
bool HookedExceptionObject(const SignalSlot& fault) {
  const TOstrelRegisters r = RegistersOf(fault.context);
  TraceScope trace("HookedExceptionObject",
                   {int(fault.signal), int(fault.thread), TraceAddress(r.rip)});
  return trace.Result(
      NotifySignal(fault.signal, fault.info, fault.thread, r, StackTopOf(r.rsp, fault.thread)));
}

// The pipeline thread's copy of the thread a sent signal names.
TThreadSnapshot sent_snapshot;

// A signal sent from outside, reported from a snapshot of the thread it names: the one it was
// sent to, or the main thread for one sent to the process (the kernel gives that to any
// thread). A thread that does not answer (it ended, or blocks every signal) is reported where
// the signal found the thread it came to. True = default handling.
bool ReportSentSignal(const SentSignal& s) {
  TraceScope trace("ReportSentSignal", {int(s.signal), int(s.landed)});
  const pid_t named = s.info.si_code == SI_TKILL || main_thread == 0 ? s.landed : main_thread;
  const uintptr_t top = KnownStackTop(named);
  if (named != ThreadId() && TakeThreadSnapshot(named, top, sent_snapshot)) {
    const TOstrelRegisters& r = sent_snapshot.registers;
    return trace.Result(NotifySignal(s.signal, s.info, named, r, r.rsp + sent_snapshot.bytes,
                                     sent_snapshot.stack, sent_snapshot.bytes));
  }
  if (named == ThreadId() && pipeline_stack_bytes != 0)
    return trace.Result(NotifySignal(s.signal, s.info, named, s.registers,
                                     s.registers.rsp + pipeline_stack_bytes, pipeline_stack,
                                     pipeline_stack_bytes));
  return trace.Result(
      NotifySignal(s.signal, s.info, s.landed, s.registers, StackTopOf(s.registers.rsp, s.landed)));
}

// Default handling of a sent signal: the program ends by it, from this thread.
[[noreturn]] void DieBySentSignal(int signal) {
  ReleaseProcessSharedFacts();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  ::sigaction(signal, &action, nullptr);
  sigset_t only;
  ::sigemptyset(&only);
  ::sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::syscall(SYS_exit_group, 128 + signal);
  __builtin_unreachable();
}

// The program's logger data (its options and debug information), read on the pipeline
// thread while the main thread waits: a fault of the main thread meanwhile is reported.
void LoadProgramData() {
  if (const TOstrelModuleEntry* program = ProgramEntry(); program != nullptr)
    RunningOptions().Assign(&program->options);
}

// A fault signal sent to this thread that waits until the thread waits for a wake.
bool OwnFaultSignalsPending() {
  sigset_t pending;
  if (::sigpending(&pending) != 0) return false;
  for (const int signal : Signals)
    if (::sigismember(&pending, signal) == 1) return true;
  return false;
}

// Blocks every signal (its mask comes from its creator) but while it waits for a wake: a fault
// of its own ends the program, and a fault signal sent to it waits until it can be noted.
void* PipelineThread(void*) {
  pipeline_thread = ThreadId();
  pipeline_stack_top = CurrentStackTop();
  try {
    LoadProgramData();
  } catch (...) {
    InternalError("InstallOstrelLog.LoadProgramData");
  }
  ::sem_post(&data_ready);
  // After a report the program ends, once the faults and signals on their way and other
  // threads' exceptions are reported too; those for a while only: a hook that never returns
  // cannot hold the end for good.
  std::chrono::steady_clock::time_point end_by{};
  bool lost_told = false;
  const auto must_end = [&end_by] {
    if (!ending.exchange(true)) end_by = std::chrono::steady_clock::now() + EndWaitForOtherReports;
  };
  const auto may_end = [&end_by] {
    if (FaultsOnTheirWay() || OwnFaultSignalsPending()) return false;
    std::lock_guard lock(busy_lock);
    return !NotificationsPending() || PastEndWait(end_by);
  };
  for (;;) {
    AwaitWake(ending.load() ? &end_by : nullptr);
    if (fault_posted.exchange(false)) {
      // Still counted while it is reported: a thread that ends the program meanwhile waits.
      slot.default_wanted = HookedExceptionObject(slot);
      waiting_faults.fetch_sub(1);
      if (slot.default_wanted) {
        ::sem_post(&slot_done);
      } else {
        // A fault cannot be resumed: its thread stays in the handler.
        must_end();
        if (may_end()) ExitAfterReport();
        ::sem_post(&slot_free);
      }
    }
    for (int at = sent_reported.load();
         at < std::min(sent_claimed.load(), MaxSentSignals) && sent_signals[at].noted.load();
         at = sent_reported.load()) {
      if (ReportSentSignal(sent_signals[at])) DieBySentSignal(sent_signals[at].signal);
      sent_reported.fetch_add(1);
      must_end();
    }
    if (const int lost = sent_claimed.load() - MaxSentSignals; lost > 0 && !lost_told) {
      lost_told = true;
      TraceText("PipelineThread: more signals were sent than are noted; " + std::to_string(lost) +
                    " or more go unreported",
                0);
    }
    if (ending.load() && may_end()) ExitAfterReport();
  }
  return nullptr;
}

}  // namespace

sigset_t FaultSignals() {
  sigset_t faults;
  ::sigemptyset(&faults);
  for (const int signal : Signals) ::sigaddset(&faults, signal);
  return faults;
}

bool FaultsOnTheirWay() {
  return waiting_faults.load() > 0 || SentSignalsOnTheirWay() > 0;
}

void AwaitSentSignals() {
  if (sent_claimed.load() == 0 || ThreadId() == pipeline_thread.load()) return;
  for (;;) ::pause();
}

void WakePipelineIfEnding() {
  if (ending.load()) WakePipeline();
}

void RestoreFaultHandlers(int signal) {
  for (int i = 0; i < 5; ++i)
    if (signal == 0 || Signals[i] == signal) ::sigaction(Signals[i], &previous_actions[i], nullptr);
}

bool InstallFaultSignals(const sigset_t& start_mask) {
  ::sem_init(&slot_free, 0, 1);
  ::sem_init(&slot_done, 0, 0);
  ::sem_init(&data_ready, 0, 0);
  wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  InstallThreadSnapshots();
  // Faults are caught first: the pipeline thread reads the logger data while this thread
  // waits for it, and reports a fault that comes meanwhile.
  sigset_t all;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, nullptr);
  pthread_t pipeline;
  const bool started =
      wake_fd >= 0 && ::pthread_create(&pipeline, nullptr, &PipelineThread, nullptr) == 0;
  if (started) ::pthread_detach(pipeline);
  ::pthread_sigmask(SIG_SETMASK, &start_mask, nullptr);
  InstallAltStack();
  struct sigaction action {};
  action.sa_sigaction = &SignalHandler;
  // A handler that returns (for a signal sent from outside) lets the call it cut short go on.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  // A thread in the handler takes no second fault signal: it would wait for itself. Nor is
  // it looked into there: the snapshot of a thread a sent signal names is taken where the
  // signal found it, once its handler has returned.
  action.sa_mask = FaultSignals();
  if (ThreadSnapshotSignal() != 0) ::sigaddset(&action.sa_mask, ThreadSnapshotSignal());
  // Set first: a fault may come as soon as its handler is in place.
  catching_faults = started;
  for (int i = 0; i < 5; ++i) ::sigaction(Signals[i], &action, &previous_actions[i]);
  // A forked child has no pipeline thread: its faults end it as they would unlogged.
  ::pthread_atfork(nullptr, nullptr, [] {
    catching_faults = false;
    sent_claimed = 0;
    active = false;
    for (int i = 0; i < 5; ++i) ::sigaction(Signals[i], &previous_actions[i], nullptr);
  });
  // Nothing but the wait until the data is read: a fault in the middle of a first-use
  // initialisation (the trace's state) would hold its guard against the pipeline thread.
  if (started) SemWait(&data_ready);
  return started;
}

}  // namespace qv::ostrel
