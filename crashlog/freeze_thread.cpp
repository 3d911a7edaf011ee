#include "crashlog/freeze_thread.h"

#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "crashlog/except_notify.h"
#include "crashlog/shared_facts.h"
#include "crashlog/trace_log.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr auto PingInterval = 50ms;
constexpr std::size_t MaxStackCopy = std::size_t(256) << 10;

// ---- the main thread's snapshot --------------------------------------------------------------

// Taken by the signal handler on the main thread; the watchdog owns it from `written` until
// it sets `idle` again.
enum SnapshotState : int { idle, requested, writing, written };
struct Snapshot {
  std::atomic<int> state{idle};
  ucontext_t context;
  std::size_t bytes = 0;
  uint64_t stack[MaxStackCopy / 8];
};
Snapshot snapshot;
sem_t snapshot_done;
int snapshot_signal = 0;

// Word by word and unchecked: the live stack holds the sanitizers' poisoned red zones.
[[gnu::no_sanitize_address, gnu::no_sanitize_thread]] __attribute__((no_sanitize("undefined"))) void
CopyStack(uint64_t* to, uintptr_t from, std::size_t words) {
  const volatile uint64_t* source = reinterpret_cast<const volatile uint64_t*>(from);
  for (std::size_t i = 0; i < words; ++i) to[i] = source[i];
}

void SnapshotHandler(int, siginfo_t* info, void* context) {
  if (info->si_code != SI_TKILL || info->si_pid != ::getpid()) return;
  int expected = requested;
  if (!snapshot.state.compare_exchange_strong(expected, writing)) return;
  const int saved_errno = errno;
  std::memcpy(&snapshot.context, context, sizeof snapshot.context);
  const uintptr_t sp = uintptr_t(snapshot.context.uc_mcontext.gregs[REG_RSP]);
  const uintptr_t top = OstrelMainStackTop();
  std::size_t bytes = top > sp ? top - sp : 0;
  if (bytes > MaxStackCopy) bytes = MaxStackCopy;
  CopyStack(snapshot.stack, sp, bytes / 8);
  snapshot.bytes = bytes / 8 * 8;
  snapshot.state = written;
  ::sem_post(&snapshot_done);
  errno = saved_errno;
}

// The first real-time signal nobody handles carries the request; false when none is free.
bool InstallSnapshotHandler() {
  static const bool installed = [] {
    ::sem_init(&snapshot_done, 0, 0);
    for (int signal = SIGRTMIN + 1; signal <= SIGRTMAX; ++signal) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_sigaction = &SnapshotHandler;
      action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
      ::sigemptyset(&action.sa_mask);
      if (::sigaction(signal, &action, nullptr) != 0) continue;
      snapshot_signal = signal;
      return true;
    }
    return false;
  }();
  return installed;
}

// Asks the main thread for its snapshot; false when it did not come in time (a thread
// that blocks the signal, or one stopped by a debugger). The caller releases it.
bool TakeMainThreadSnapshot() {
  TraceScope trace("TakeMainThreadSnapshot", {});
  snapshot.state = requested;
  if (::syscall(SYS_tgkill, ::getpid(), OstrelMainThread(), snapshot_signal) != 0) {
    snapshot.state = idle;
    return trace.Result(false);
  }
  timespec deadline{};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += 2;
  while (::sem_clockwait(&snapshot_done, CLOCK_MONOTONIC, &deadline) != 0) {
    if (errno == EINTR) continue;
    // Too late: unless the handler is writing already, it must now leave the slot alone.
    int expected = requested;
    if (snapshot.state.compare_exchange_strong(expected, idle)) return trace.Result(false);
    while (::sem_wait(&snapshot_done) != 0 && errno == EINTR) {
    }
    break;
  }
  return trace.Result(snapshot.state.load() == written);
}

// ---- the main window -------------------------------------------------------------------------

// The first top-level window of the process that is shown and is no tool window (unless it
// asks for a task-bar button). Windows here have no owners.
HWND FindMainWindow() {
  HWND found = 0;
  EnumWindows([&](HWND hwnd) {
    TOPLEVELINFO info;
    if (!GetTopLevelInfo(hwnd, info) || !info.visible) return true;
    if ((info.exStyle & WS_EX_TOOLWINDOW) != 0 && (info.exStyle & WS_EX_APPWINDOW) == 0)
      return true;
    found = hwnd;
    return false;
  });
  return found;
}

// ---- the running watchdog --------------------------------------------------------------------

std::mutex watchdog_lock;
// Never destroyed: at exit the logger stops the watchdog itself, with a limit on the wait.
std::unique_ptr<TFreezeThread>& Watchdog() {
  static auto* watchdog = new std::unique_ptr<TFreezeThread>;
  return *watchdog;
}
// The last watchdog that did not end within its stop's limit.
TFreezeThread* abandoned = nullptr;

// FreezeTimeout and FreezeMessage of the running options, copied whenever they change: the
// watchdog reads them here, as the options themselves belong to the thread that sets them.
struct Tuning {
  std::mutex lock;
  int timeout_ms = 0;
  std::string message;
};
// Never destroyed: a watchdog left running at exit still reads it.
Tuning& Tuned() {
  static auto* tuning = new Tuning;
  return *tuning;
}

void Tune(const TOstrelModuleOptions& options) {
  const int timeout_ms =
      int(std::clamp<int64_t>(int64_t(options.FreezeTimeout()) * 1000, 0, INT32_MAX));
  Tuning& tuning = Tuned();
  const std::lock_guard lock(tuning.lock);
  tuning.timeout_ms = timeout_ms;
  tuning.message = options.FreezeMessage();
}

int TunedTimeout() {
  Tuning& tuning = Tuned();
  const std::lock_guard lock(tuning.lock);
  return tuning.timeout_ms;
}

std::string TunedMessage() {
  Tuning& tuning = Tuned();
  const std::lock_guard lock(tuning.lock);
  return tuning.message;
}

}  // namespace

TFreezeThread::~TFreezeThread() {
  Stop();
}

void TFreezeThread::Execute() {
  TraceScope trace("TFreezeThread.Execute", {});
  if (!InstallSnapshotHandler()) return;
  // One round: find the main window, ping it until it answers no more for the timeout, then
  // report it frozen.
  const auto round = [this] {
    const HWND window = TunedTimeout() > 0 ? FindMainWindow() : 0;
    if (window == 0) {
      WaitForTerminate(PingInterval);
      return;
    }
    // 64 bits: the timeout reaches INT32_MAX ms, and a step past it must not wrap.
    int64_t waited = 0;
    int64_t timeout_ms = TunedTimeout();
    while (!Terminated() && timeout_ms > 0 && waited < timeout_ms) {
      if (SendMessageTimeout(window, WM_NULL, 0, 0, SMTO_BLOCK, PingInterval, nullptr)) {
        waited = 0;
        for (int i = 0; i < 5; ++i)
          if (WaitForTerminate(PingInterval)) break;
      } else if (!IsWindow(window)) {
        break;
      } else if (OstrelPipelineBusy()) {
        // An exception's report (its dialog, say) may hold the main thread: not a hang.
        waited = 0;
      } else {
        waited += PingInterval.count();
      }
      timeout_ms = TunedTimeout();
    }
    // A window gone is looked for again.
    if (Terminated() || timeout_ms <= 0 || waited < timeout_ms) return;
    if (!TakeMainThreadSnapshot()) return;
    const TOstrelRegisters registers = RegistersOf(snapshot.context);
    if (registers.rip != 0 && registers.rsp != 0) {
      const EFrozenApplication error(TunedMessage());
      NotifyThreadSnapshot(FrozenApplicationClass, error.what(), OstrelMainThread(), registers,
                           OstrelMainStackTop(), snapshot.stack, snapshot.bytes, &error);
    }
    snapshot.state = idle;
  };
  while (!Terminated()) {
    // A failed round is noted and the watch goes on: the watchdog must outlive its own bugs.
    try {
      round();
    } catch (...) {
      int written_state = written;
      snapshot.state.compare_exchange_strong(written_state, idle);
      InternalError("TFreezeThread.Execute");
      WaitForTerminate(PingInterval);
    }
  }
}

void TOstrelModuleOptionsEx::Changed() {
  Tune(*this);
  RepublishModuleOptions();
  // Internal bugs go, with the trace, to those who get the program's reports.
  SetInternalBugRecipient(EMailAddresses());
}

// Switching off, the watchdog ends first: a report under way reads these options.
void TOstrelModuleOptionsEx::SetActivateLog(bool v) {
  if (v == ActivateLog()) return;
  if (!v) StopFreezeWatchdog();
  TOstrelModuleOptions::SetActivateLog(v);
  Restart();
}

void TOstrelModuleOptionsEx::SetFreezeActivate(bool v) {
  if (v == FreezeActivate()) return;
  if (!v) StopFreezeWatchdog();
  TOstrelModuleOptions::SetFreezeActivate(v);
  Restart();
}

void TOstrelModuleOptionsEx::Restart() {
  if (!ActivateLog() || !FreezeActivate())
    StopFreezeWatchdog();
  else
    StartFreezeWatchdog();
}

void StartFreezeWatchdog() {
  TraceScope trace("StartFreezeWatchdog", {});
  std::unique_ptr<TFreezeThread> ended;
  {
    const std::lock_guard lock(watchdog_lock);
    std::unique_ptr<TFreezeThread>& watchdog = Watchdog();
    if (watchdog && !watchdog->Terminated()) return;
    // Asked to end from its own report's hook, it cannot start itself again.
    if (watchdog && watchdog->ThreadID() == std::this_thread::get_id()) return;
    if (!OstrelLogActive()) return;
    const TOstrelModuleOptions& options = CurrentOstrelLogOptions();
    if (!options.ActivateLog() || !options.FreezeActivate()) return;
    Tune(options);
    ended = std::move(watchdog);
    watchdog = std::make_unique<TFreezeThread>();
    watchdog->Start();
  }
}

void StopFreezeWatchdog(std::chrono::milliseconds limit) {
  TraceScope trace("StopFreezeWatchdog", {});
  std::unique_ptr<TFreezeThread> running;
  {
    const std::lock_guard lock(watchdog_lock);
    std::unique_ptr<TFreezeThread>& watchdog = Watchdog();
    if (!watchdog) return;
    // A notification hook on the watchdog's own report: it ends after this report.
    if (watchdog->ThreadID() == std::this_thread::get_id()) {
      watchdog->Terminate();
      return;
    }
    running = std::move(watchdog);
  }
  running->Terminate();
  // Still busy past the limit: left running rather than waited for or killed, as it may
  // hold locks; its object is never freed, so it can end on its own.
  if (!running->WaitFor(limit)) {
    const std::lock_guard lock(watchdog_lock);
    abandoned = running.release();
  }
}

}  // namespace qv
