#include "crashlog/freeze_thread.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>

#include "crashlog/except_notify.h"
#include "crashlog/shared_facts.h"
#include "crashlog/thread_snapshot.h"
#include "crashlog/trace_log.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr auto PingInterval = 50ms;

// The main thread's snapshot; the watchdog's own, as a report is made from it.
TThreadSnapshot snapshot;

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
    if (!TakeThreadSnapshot(OstrelMainThread(), OstrelMainStackTop(), snapshot)) return;
    const TOstrelRegisters& registers = snapshot.registers;
    if (registers.rip != 0 && registers.rsp != 0) {
      const EFrozenApplication error(TunedMessage());
      NotifyThreadSnapshot(FrozenApplicationClass, error.what(), OstrelMainThread(), registers,
                           OstrelMainStackTop(), snapshot.stack, snapshot.bytes, &error);
    }
  };
  while (!Terminated()) {
    // A failed round is noted and the watch goes on: the watchdog must outlive its own bugs.
    try {
      round();
    } catch (...) {
      InternalError("TFreezeThread.Execute");
      WaitForTerminate(PingInterval);
    }
  }
}

void TOstrelModuleOptionsEx::Changed() {
  TraceScope trace("TOstrelModuleOptionsEx.Changed", {});
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
