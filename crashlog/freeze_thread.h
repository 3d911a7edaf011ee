// The freeze watchdog: a hung main thread raises no exception, so a thread of the logger's
// own asks the program's main window every 50 ms whether it still answers. After
// FreezeTimeout seconds without an answer it takes the main thread's registers and a copy of
// its stack (a real-time signal whose handler copies them and returns at once, so the main
// thread is never held) and reports "EFrozenApplication" at the main thread's instruction
// and stack pointers through the report pipeline, as a crash is reported. A main thread
// still hung is reported again after another time-out. While another exception travels
// through the pipeline no waiting time is counted.
#pragma once

#include "crashlog/module_options.h"
#include "platform/base/exception.h"
#include "platform/base/thread.h"

namespace qv {

// The class name the hang is reported under.
inline constexpr const char* FrozenApplicationClass = "EFrozenApplication";

// The exception a hang is reported as: a notification hook finds it in the record's
// `exception` and can tell a hang from a crash by its type.
class EFrozenApplication : public Exception {
 public:
  using Exception::Exception;
};

class TFreezeThread : public TThread {
 public:
  ~TFreezeThread() override;

 protected:
  // FreezeTimeout and FreezeMessage are read from the running options each time round, so
  // a change while it runs counts; a time-out of 0 or less watches nothing meanwhile.
  void Execute() override;
};

// The running program's options: switching ActivateLog or FreezeActivate stops the
// watchdog when either is now off, else starts it.
class TOstrelModuleOptionsEx : public TOstrelModuleOptions {
 public:
  void SetActivateLog(bool v) override;
  void SetFreezeActivate(bool v) override;
  // Other modules' loggers see the change.
  void Changed() override;

 private:
  void Restart();
};

// Starts the watchdog with the running program's options unless one runs; stops it and
// waits for its end, at most `limit` (FreezeStopWaitLimit as the logger is unloaded): a watchdog
// still busy after that (its report held by a hook or a dialog) is left to end by itself, so
// unloading the logger never hangs. From the watchdog's own thread it is only asked to end.
inline constexpr std::chrono::milliseconds FreezeStopWaitLimit{5000};
void StartFreezeWatchdog();
void StopFreezeWatchdog(std::chrono::milliseconds limit = kInfiniteWait);

}  // namespace qv
