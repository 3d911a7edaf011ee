#include "crashlog/except_notify.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <typeinfo>

#include "crashlog/clipboard_holder.h"
#include "crashlog/code_hook.h"
#include "crashlog/debug_info.h"
#include "crashlog/except_internal.h"
#include "crashlog/freeze_thread.h"
#include "crashlog/report_dialog.h"
#include "crashlog/screenshot.h"
#include "crashlog/send_report.h"
#include "crashlog/shared_facts.h"
#include "crashlog/thread_snapshot.h"
#include "crashlog/trace_log.h"
#include "crashlog/web_page.h"
#include "platform/base/paths.h"
#include "platform/base/text.h"
#include "platform/classlib/dialogs.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "platform/ui/window_system.h"

namespace qv {
namespace ostrel {

pid_t ThreadId() {
  return pid_t(::syscall(SYS_gettid));
}

// ---- state -----------------------------------------------------------------------------------

std::atomic<bool> active{false};
// Set from the installation of the signal handlers, before the hooks that make the logger
// active, so that a fault during the start is reported; cleared with `active`.
std::atomic<bool> catching_faults{false};
std::atomic<bool> console_program{false};
std::atomic<int> reported_errors{0};
std::atomic<int> terminate_request{otNone};
pid_t main_thread = 0;
uintptr_t main_stack_top = 0;
std::string start_folder;

// Set while the module's static objects are being made (cleared once the last one of the
// module's initialisation table has run) and once they are being destroyed.
std::atomic<bool> initializing{true};
std::atomic<bool> finalizing{false};

// Threads whose exceptions are never reported. Read without a lock, in signal handlers too (a
// thread interrupted while it changes the list must not wait for itself); changed under one.
constexpr std::size_t MaxExcluded = 256;
std::mutex excluded_lock;
std::atomic<pid_t> excluded_threads[MaxExcluded];

bool Excluded(pid_t thread) {
  return std::any_of(std::begin(excluded_threads), std::end(excluded_threads),
                     [thread](const std::atomic<pid_t>& t) { return t.load() == thread; });
}

// Above 1, each throw is announced to an attached debugger (a SIGTRAP it stops on).
std::atomic<int> debugger_notify_level{0};

// Each kind of hook: a plain routine and a component event, called in that order.
template <typename Hook>
struct HookPair {
  Hook routine, event;
};
std::mutex hooks_lock;
HookPair<TExceptionNotify> exception_notify;
HookPair<TActionNotify> action_notify;
HookPair<TActionError> action_error;

template <typename Hook>
void SetHook(Hook& slot, Hook hook) {
  std::lock_guard guard(hooks_lock);
  slot = std::move(hook);
}

// One exception at a time travels through the pipeline; the owner's thread id, 0 = free.
std::mutex busy_lock;
std::atomic<pid_t> busy_owner{0};
// Threads between the start of an exception's notification and its end (waiting included).
int pending_notifications = 0;
// Faults whose threads have entered the signal handler and whose reports have not yet begun.
std::atomic<int> waiting_faults{0};
// The thread that reports faults.
std::atomic<pid_t> pipeline_thread{0};

// The end's deadline, moved on while a dialog is open.
bool PastEndWait(std::chrono::steady_clock::time_point& end_by) {
  const auto now = std::chrono::steady_clock::now();
  if (DialogsOpen()) end_by = now + EndWaitForOtherReports;
  return now >= end_by;
}
// How deep the calling thread is in notifications of its own.
thread_local int notifying = 0;
// Threads counted in pending_notifications that a fault of theirs holds in its signal handler
// for good: they are not waited for.
std::atomic<int> held_notifications{0};
struct PendingNotification {
  PendingNotification() {
    std::lock_guard lock(busy_lock);
    ++pending_notifications;
    ++notifying;
  }
  ~PendingNotification() {
    {
      std::lock_guard lock(busy_lock);
      --pending_notifications;
      --notifying;
    }
    // The pipeline thread may wait for it to end the program.
    WakePipelineIfEnding();
  }
};
// The notifications still to be waited for (busy_lock held).
bool NotificationsPending() {
  return pending_notifications > held_notifications.load();
}
// Called by a fault's thread that stays in its handler: its notification, if any, never ends.
void HoldNotification() {
  if (notifying > 0) held_notifications.fetch_add(notifying);
}

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));
CxaThrow real_cxa_throw = nullptr;
using CxaRethrow = void (*)();
CxaRethrow real_cxa_rethrow = nullptr;
using RethrowException = void (*)(std::exception_ptr);
RethrowException real_rethrow_exception = nullptr;
std::terminate_handler previous_terminate = nullptr;

// The signal mask the program started with; a restarted program starts with it too.
sigset_t start_mask;

// A stack is scanned up to its top (known from the thread's own stack), so that main and the
// outer callers are found however deep the fault; this bounds a damaged top. The call stack
// keeps the innermost and outermost of an endless recursion's return addresses.
constexpr uintptr_t MaxScannedStack = uintptr_t(64) << 20;

// Per thread: the exception already reported at its throw, so that terminate does not
// report it again.
thread_local void* reported_object = nullptr;
thread_local bool reported_default = false;
// The last object this thread threw, and where, for a report made when it reaches the
// application's handler.
thread_local void* thrown_object = nullptr;
thread_local uintptr_t thrown_at = 0;
thread_local TOstrelRegisters thrown_registers{};

// The stack top of a listed thread or of the main thread; 0 when it is not known.
uintptr_t KnownStackTop(pid_t thread) {
  TOstrelThreadsList::Entry entry;
  if (OstrelThreadsList().FindById(thread, entry) && entry.stack_top != 0) return entry.stack_top;
  return thread == main_thread ? main_stack_top : 0;
}

uintptr_t StackTopOf(uintptr_t stack_pointer, pid_t thread) {
  if (const uintptr_t top = KnownStackTop(thread); top != 0) return top;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long long from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx", &from, &to) == 2 && stack_pointer >= from &&
        stack_pointer < to)
      return uintptr_t(to);
  }
  return stack_pointer;
}

uintptr_t CurrentStackTop() {
  const pid_t self = ThreadId();
  {
    TOstrelThreadsList::Entry entry;
    if (OstrelThreadsList().FindById(self, entry)) return entry.stack_top;
  }
  if (self == main_thread && main_stack_top != 0) return main_stack_top;
  pthread_attr_t attr;
  uintptr_t top = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* base = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &base, &size) == 0) top = uintptr_t(base) + size;
    pthread_attr_destroy(&attr);
  }
  return top;
}

// ---- the pipeline ----------------------------------------------------------------------------

// The module that holds this logger's code: the program, or a library that carries a logger
// of its own.
const TOstrelModuleEntry* ProgramEntry() {
  static TOstrelModulePtr entry = GetModuleEntryOf(reinterpret_cast<uintptr_t>(&ThreadId));
  return entry.get();
}

uintptr_t OwnHandle() {
  const TOstrelModuleEntry* own = ProgramEntry();
  return own != nullptr ? own->handle : 0;
}

// What may change the message and class shown: the facts that the module holding the
// exception address noted when it recorded the exception.
void TakeOtherModuleFacts(ExceptInfo& e, const TOstrelModulePtr& module) {
  if (module == nullptr || module->handle == OwnHandle()) return;
  std::string class_name, message;
  if (!TakeExceptionFacts(module->handle, class_name, message)) return;
  e.class_name = class_name;
  e.message = message;
  e.has_message = true;
}

// A thread that faulted, or that a signal interrupted, may hold a stream's lock: the logger
// waits for none. Unlocked, the stream's buffer goes first; locked, `text` goes out unbuffered.
void WriteToStream(FILE* stream, std::string_view text) {
  if (::ftrylockfile(stream) == 0) {
    ::fwrite_unlocked(text.data(), 1, text.size(), stream);
    ::fflush_unlocked(stream);
    ::funlockfile(stream);
    return;
  }
  const int fd = ::fileno(stream);
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    at += std::size_t(n);
  }
}

// What the program has written to its standard streams goes out before it ends; its other
// streams are flushed only when no thread can be stopped inside one (no fault is on its way).
void FlushBeforeExit(bool all) {
  if (all) {
    std::fflush(nullptr);
    return;
  }
  WriteToStream(stdout, {});
  WriteToStream(stderr, {});
}

// Ends the process after a report: the shared objects go first.
// `abandoning`: another thread's report was given up on, and may hold a stream's lock.
[[noreturn]] void ExitAfterReport(bool abandoning) {
  const bool fault = abandoning || ThreadId() == pipeline_thread.load();
  // The lines after the report's own save (its routines' ends) are kept too.
  SaveTraceIfFree();
  FlushBeforeExit(!fault);
  ReleaseProcessSharedFacts();
  // After a fault, straight to the kernel: a runtime's own exit steps (a sanitizer's flush
  // of the standard streams) would wait for locks that the faulted threads hold.
  if (fault) ::syscall(SYS_exit_group, 1);
  ::_exit(1);
}

// Never destroyed either: a watchdog left running at exit (its report stuck in a hook) reads them.
TOstrelModuleOptions& CurrentOptions() {
  static auto* options = new TOstrelModuleOptions;
  return *options;
}

// The running program's options (those of its data block once the logger is installed).
// Never destroyed: the watchdog may still read them at exit.
TOstrelModuleOptionsEx& RunningOptions() {
  static auto* options = new TOstrelModuleOptionsEx;
  return *options;
}

// The call that raised: the return address moved back over the call instruction.
uintptr_t CallSite(uintptr_t return_address) {
  uint8_t code[6];
  if (return_address < 6 || !SafeRead(code, return_address - 6, sizeof code)) return return_address;
  if (code[1] == 0xE8) return return_address - 5;
  if (code[0] == 0xFF && code[1] == 0x15) return return_address - 6;
  return return_address - 1;
}

// While the main thread waits for the report of its own exception, the notification hooks
// run there, one call at a time: the report's thread hands the call over and waits for it.
std::mutex main_call_lock;
std::condition_variable_any main_call_done;
std::function<void()> main_call;                // guarded by main_call_lock
std::shared_ptr<MessageQueue> main_call_queue;  // guarded: set while the main thread serves
std::atomic<pid_t> report_thread{0};

void OnMainThread(const std::function<void()>& call) {
  std::unique_lock lock(main_call_lock);
  if (!main_call_queue || ThreadId() != report_thread.load()) {
    lock.unlock();
    // A hook that fails ends neither the report nor the steps after it.
    try {
      call();
    } catch (...) {
      InternalError("ExceptNotify.Hook");
    }
    return;
  }
  main_call = call;
  main_call_queue->Wake();
  main_call_done.wait(lock, [] { return !main_call; });
}

// Main thread: runs the call handed over, if one waits.
void RunMainCall() {
  std::function<void()> call;
  {
    std::lock_guard lock(main_call_lock);
    call = main_call;
  }
  if (!call) return;
  try {
    call();
  } catch (...) {
    InternalError("ExceptNotify.Hook");
  }
  {
    std::lock_guard lock(main_call_lock);
    main_call = nullptr;
  }
  main_call_done.notify_all();
}

template <typename Hook, typename... Args>
void CallHook(HookPair<Hook>& hook, Args&&... args) {
  HookPair<Hook> copy;
  {
    std::lock_guard guard(hooks_lock);
    copy = hook;
  }
  for (Hook* call : {&copy.routine, &copy.event})
    if (*call) OnMainThread([&] { (*call)(args...); });
}

void Restart() {
  std::vector<std::string> arguments;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string argument;
  while (std::getline(in, argument, '\0')) arguments.push_back(argument);
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The new run starts once this one has ended (its end closes the pipe's last writer): a
  // program that allows one instance would otherwise find this one still running.
  int parent_alive[2];
  if (::pipe2(parent_alive, O_CLOEXEC) != 0) return;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(parent_alive[1]);
    char byte;
    ssize_t got = 0;
    do {
      got = ::read(parent_alive[0], &byte, 1);
    } while (got > 0 || (got < 0 && errno == EINTR));
    ::close(parent_alive[0]);
    // The thread that forks may block signals of its own (the pipeline's blocks all).
    ::sigprocmask(SIG_SETMASK, &start_mask, nullptr);
    if (!start_folder.empty() && ::chdir(start_folder.c_str()) != 0) ::_exit(127);
    ::execv("/proc/self/exe", argv.data());
    ::_exit(127);
  }
  ::close(parent_alive[0]);
  // The write end stays open until this process ends.
  if (child < 0) ::close(parent_alive[1]);
}

// True = default handling wanted.
bool InternalExceptNotify(ExceptInfo& e) {
  TraceLog("InternalExceptNotify", {e.class_name, reinterpret_cast<const void*>(e.address)}, +2);
  TOstrelReportFacts facts;
  facts.exception_time = std::time(nullptr);
  if (e.raised && e.address != 0) e.address = CallSite(e.address);
  // The options in force: those of the faulting module when it carries the logger.
  TOstrelModulePtr module = GetModuleEntryOf(e.address);
  try {
    TakeOtherModuleFacts(e, module);
  } catch (...) {
    InternalError("InternalExceptNotify.ModuleFacts");
  }
  const TOstrelModuleEntry* owner = ProgramEntry();
  if (module && module->has_debug && (owner == nullptr || module->handle != owner->handle))
    owner = module.get();
  TOstrelModuleOptions& options = CurrentOptions();
  if (owner != nullptr) {
    options.Assign(owner == ProgramEntry() ? &RunningOptions() : &owner->options);
    options.SetModuleName(owner->path);
  }
  // Filters.
  if (options.FiltersActive()) {
    const int index = options.ExceptionFilterClasses().IndexOf(e.class_name);
    if (index >= 0) {
      std::string message;
      if (index < options.ExceptionFilterMessages().Count())
        message = options.ExceptionFilterMessages()[index];
      if (!message.empty()) {
        const OpenDialog open;
        MessageBox(message, options.Texts(2),
                   MB_OK | MB_ICONINFORMATION | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST);
      }
      TraceText("InternalExceptNotify=False", -2);
      return false;
    }
  }
  TOstrelStackList stack;
  std::vector<TOstrelModulePtr> modules;
  try {
    uintptr_t from = e.params.stack_pointer, top = e.params.stack_top;
    if (e.stack_copy != nullptr) {
      from = reinterpret_cast<uintptr_t>(e.stack_copy);
      top = from + e.stack_copy_bytes;
    }
    if (top > from + MaxScannedStack) top = from + MaxScannedStack;
    stack = BuildCallStack(e.address, from, top);
    RefreshModulesList();
    modules = ModulesList();
  } catch (...) {
    InternalError("InternalExceptNotify.CallStack");
  }
  facts.address = e.address;
  facts.module = module ? ExtractFileName(module->path) : "";
  facts.type = e.class_name;
  facts.message = e.message;
  facts.has_message = e.has_message;
  facts.registers = e.params.context;
  facts.stack_pointer = e.params.stack_pointer;
  facts.console = console_program.load();
  facts.web_host = IsWebHost(facts.console);
  facts.form_class = e.params.form_class;
  facts.form_text = e.params.form_text;
  facts.control_class = e.params.control_class;
  facts.control_text = e.params.control_text;
  facts.control_password = e.params.control_password;
  if (owner != nullptr) {
    facts.app_name = owner->description;
    facts.app_version = owner->version;
  }
  std::string report;
  TLogFile log = TLogFile::Of(options);
  bool duplicate = false;
  try {
    GatherSystemFacts(facts);
    report = BuildReport(facts, stack, modules, options);
    log.Load();
    duplicate = (options.LogOptions() & loNoDuplicateErrors) != 0 &&
                log.IsDuplicate(ReportAddress(facts.address), facts.module, ReportType(facts),
                                ReportMessage(facts), module ? module->handle : 0);
  } catch (...) {
    InternalError("InternalExceptNotify.Report");
  }
  TOstrelExceptionRecord record{e.class_name, e.message, e.has_message, e.external, e.address,
                                e.thread,     &modules,  &stack,        &options,   &report};
  record.exception = e.object;
  bool go_on = true;
  CallHook(exception_notify, record, go_on);
  if (!go_on) {
    TraceText("InternalExceptNotify=True", -2);
    return true;
  }
  const int error_number = ++reported_errors;
  TraceText(report, 0);
  const bool send_way = options.SendWay() != swNone;
  std::string screenshot;
  if (send_way && options.AttachScreenshot()) {
    screenshot = NewScreenshotFileName();
    if (!screenshot.empty() && !WriteScreenshotPNG(screenshot)) {
      DeleteScreenshot(screenshot);
      screenshot.clear();
    }
  }
  // What the user left ticked; without a dialog the options decide.
  TReportDialogResult choice;
  choice.send = send_way;
  choice.screenshot = !screenshot.empty();
  auto action = [&](int code) {
    bool execute = true;
    CallHook(action_notify, record, code, execute);
    return execute;
  };
  if (options.ShowExceptionDialog()) {
    const bool console = console_program.load();
    if (action(0)) {
      ClearLastWarning();
      // Under a web server the report is the answer to the request: an error page.
      if (IsWebHost(console)) {
        ReportToWebHost(console, options.Texts(2), report);
      } else if (console) {
        WriteToStream(stdout, report + "\n");
      } else {
        try {
          TReportDialogInput input;
          input.options = &options;
          input.message = DialogMessage(facts);
          input.general = BuildReportHeader(facts, options);
          input.cpu = BuildCpuBlock(facts, options);
          input.stack = stack;
          input.modules = modules;
          input.program = ProgramEntry() != nullptr ? ProgramEntry()->handle : 0;
          input.duplicate = duplicate;
          input.screenshot = !screenshot.empty();
          input.reportedErrors = error_number;
          input.confirmTerminate = [&] {
            const HookOutsideDialog hook;
            return action(6);
          };
          const OpenDialog open;
          choice = ShowDialog(input);
          if (choice.terminate)
            SetTerminateRequest(options.RestartAfterTerminate() ? otRestart : otTerminate);
        } catch (...) {
          InternalError("InternalExceptNotify.ShowDialog");
        }
      }
    }
    action(1);
  }
  const bool save = options.SaveLogFile();
  const bool send = send_way && !duplicate && choice.send;
  std::string steps;
  if ((options.LogOptions() & loAskReproduceSteps) != 0 && !console_program.load() && !duplicate &&
      (save || send)) {
    try {
      const OpenDialog open;
      steps = ShowRequestDialog(options);
      if (!steps.empty()) report = AddRequestSection(report, steps, options);
    } catch (...) {
      InternalError("InternalExceptNotify.Request");
    }
  }
  bool saved = false;
  if (save && action(2)) {
    ClearLastWarning();
    for (bool retry = true; retry;) {
      retry = false;
      try {
        if (!duplicate) {
          // Other processes may report into the same file: read, add and write under its lock.
          const TLogFile::Lock held(log.FileName());
          try {
            log.Load();
          } catch (...) {
            InternalError("InternalExceptNotify.LoadLog");
          }
          // A log that could not be read whole is kept beside the new one, never replaced.
          if (!log.Intact()) {
            const std::string aside = log.SetAside();
            if (!aside.empty()) Warning(eeLogError, "The log file was kept as \"" + aside + "\".");
          }
          log.Append(report, options.ErrorsNumberToSave());
          log.Save();
          saved = true;
        }
      } catch (...) {
        ErrorWarning(eeLogError, "SaveLog");
        InternalError("InternalExceptNotify.SaveLog");
        CallHook(action_error, record, 3, retry);
      }
    }
    action(3);
  }
  if (choice.copy) {
    try {
      // The program may end after this report: a holder process keeps the text on the
      // clipboard; without one the text stays only while this process lives.
      if (!HandClipboardToHolder(report)) {
        std::unique_ptr<DisplayBackend> display = ProgressDisplay();
        if (display == nullptr || !display->SetClipboardText(report))
          throw Exception("Cannot copy the report to the clipboard.");
      }
    } catch (...) {
      InternalError("InternalExceptNotify.Clipboard");
    }
  }
  if (send) {
    TReportToSend out;
    out.Report = report;
    if (options.SendWholeLog()) {
      TLogFile whole = log;
      if (!saved) whole.Append(report, options.ErrorsNumberToSave());
      out.Report = whole.WholeText();
    }
    out.LogFileName = log.FileName();
    out.ReproduceSteps = steps;
    out.ScreenshotFile = choice.screenshot ? screenshot : std::string();
    out.OnActionNotify = [&](int code, bool& execute) {
      CallHook(action_notify, record, code, execute);
    };
    out.OnActionError = [&](int code, bool& retry) { CallHook(action_error, record, code, retry); };
    out.MayShowWindows = !console_program.load();
    try {
      ClearLastWarning();
      SendReport(options, out);
    } catch (...) {
      InternalError("InternalExceptNotify.Send");
    }
  }
  DeleteScreenshot(screenshot);
  SaveTrace();
  const int request = terminate_request.load();
  if (request != otNone) {
    TraceText("InternalExceptNotify=False", -2);
    FlushBeforeExit(ThreadId() != pipeline_thread.load());
    if (request == otRestart) Restart();
    ExitAfterReport();
  }
  TraceText("InternalExceptNotify=False", -2);
  return false;
}

// Serialises the pipeline; false when this thread is already inside it (an exception of
// the logger's own) or the logger is off.
// While a thread is inside the pipeline, a fault signal sent to the process goes to another
// thread, whose handler waits its turn: this one could neither wait for itself nor end the
// report it is making. (A fault of its own still ends the program.)
thread_local sigset_t mask_outside_pipeline;

// The busy flag is looked at again and again, the lock let go in between: a thread held in its
// signal handler while it waits its turn holds nothing another one needs.
bool EnterPipeline() {
  const pid_t self = ThreadId();
  for (;;) {
    {
      std::lock_guard lock(busy_lock);
      if (busy_owner.load() == self || report_thread.load() == self) return false;
      if (busy_owner.load() == 0) {
        // Blocked first: a signal sent to it once it owns the pipeline would find no thread
        // that may report it.
        const sigset_t faults = FaultSignals();
        ::pthread_sigmask(SIG_BLOCK, &faults, &mask_outside_pipeline);
        busy_owner = self;
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void LeavePipeline() {
  {
    std::lock_guard lock(busy_lock);
    busy_owner = 0;
  }
  ::pthread_sigmask(SIG_SETMASK, &mask_outside_pipeline, nullptr);
}

// Whether the calling thread is the main thread and has windows of its own to keep painted.
bool MainThreadWithWindows() {
  if (ThreadId() != main_thread) return false;
  const std::thread::id self = std::this_thread::get_id();
  bool found = false;
  EnumWindows([&](HWND hwnd) {
    found = GetWindowThreadId(hwnd) == self;
    return !found;
  });
  return found;
}

bool IsPaintMessage(UINT message) {
  switch (message) {
    case WM_SETREDRAW:
    case WM_PAINT:
    case WM_ERASEBKGND:
    case WM_PAINTICON:
    case WM_ICONERASEBKGND:
    case WM_DISPLAYCHANGE:
    case WM_NCPAINT:
    case WM_PRINT:
    case WM_PRINTCLIENT:
    case 0x8002:
    case 0x8003:
      return true;
    default:
      return false;
  }
}

// The thread that runs the pipeline for an exception of the main thread: it holds the
// exception (object, address, raised flag, parameters and faulting thread), is running until
// the pipeline's result is in, and takes no fault signal of the process's.
class TExceptionThread {
 public:
  TExceptionThread(ExceptInfo& exception, std::shared_ptr<MessageQueue> waker)
      : exception_(exception), waker_(std::move(waker)), thread_([this] { Execute(); }) {}
  TExceptionThread(const TExceptionThread&) = delete;
  TExceptionThread& operator=(const TExceptionThread&) = delete;
  ~TExceptionThread() {
    if (thread_.joinable()) thread_.join();
  }
  [[nodiscard]] bool Running() const { return running_.load(); }
  // Waits for the end of the thread; the pipeline's result (true = default handling).
  bool WaitFor() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

 private:
  void Execute() {
    const sigset_t faults = FaultSignals();
    ::pthread_sigmask(SIG_BLOCK, &faults, nullptr);
    report_thread = ThreadId();
    try {
      result_ = InternalExceptNotify(exception_);
    } catch (...) {
      InternalError("ExceptNotify");
    }
    report_thread = 0;
    running_ = false;
    if (waker_) waker_->Wake();
  }

  ExceptInfo& exception_;
  std::shared_ptr<MessageQueue> waker_;
  std::atomic<bool> running_{true};
  bool result_ = true;
  std::thread thread_;  // last: it starts once the rest is made
};

// The report of a main-thread exception runs on a thread of its own while the main thread
// keeps its windows painted: it serves what other threads send it and dispatches only paint
// messages; clicks and typed characters beep, and they and everything else posted meanwhile
// are dropped (a quit stays pending).
bool ReportWhilePainting(ExceptInfo& e) {
  MessageQueue& queue = MessageQueue::Current();
  const std::shared_ptr<MessageQueue> waker = MessageQueue::ForThread(std::this_thread::get_id());
  {
    std::lock_guard lock(main_call_lock);
    main_call_queue = waker;
  }
  TExceptionThread pipeline(e, waker);
  std::optional<int> quit;
  while (pipeline.Running()) {
    RunMainCall();
    MSG msg;
    int taken = 0;
    for (; taken < 11 && pipeline.Running() && PeekMessage(msg, PM_REMOVE); ++taken) {
      if (msg.message == WM_QUIT) {
        quit = int(msg.wParam);
      } else if (IsPaintMessage(msg.message)) {
        DispatchMessage(msg);
      } else if (msg.message == WM_CHAR || msg.message == WM_LBUTTONDOWN ||
                 msg.message == WM_RBUTTONDOWN || msg.message == WM_MBUTTONDOWN) {
        MessageBeep();
      }
    }
    if (taken == 0 && pipeline.Running()) queue.Wait(std::nullopt);
  }
  const bool answer = pipeline.WaitFor();
  {
    std::lock_guard lock(main_call_lock);
    main_call_queue = nullptr;
  }
  if (quit) PostQuitMessage(*quit);
  return answer;
}

// The foreground window and the focused control, before any dialog moves the focus.
void NoteActiveControls(ExceptInfo& e) {
  FOREGROUNDINFO info;
  if (!GetForegroundInfo(info)) return;
  e.params.form_class = info.formClass;
  e.params.form_text = info.formText;
  e.params.control_class = info.controlClass;
  e.params.control_text = info.controlText;
  e.params.control_password = (info.controlStyle & 0x20 /* ES_PASSWORD */) != 0;
}

// The report of one exception, the pipeline serialised already. True = default handling wanted.
bool ExceptNotify(ExceptInfo& e) {
  TraceScope trace("ExceptNotify", {e.class_name, reinterpret_cast<const void*>(e.address)});
  if (ProgramEntry() != nullptr && !RunningOptions().ActivateLog()) return trace.Result(true);
  NoteActiveControls(e);
  // The main thread's report runs on a thread of its own, so that a main thread with little
  // stack left is reported too (a library's logger only while its module is neither being made
  // nor destroyed); a main thread with windows keeps them painted meanwhile, unless its
  // module's static objects are being made or destroyed (its main loop cannot be served then).
  const bool lifecycle = initializing.load() || finalizing.load();
  const bool library = ProgramEntry() != nullptr && ProgramEntry()->kind == mkLibrary;
  if (ThreadId() != main_thread || (library && lifecycle))
    return trace.Result(InternalExceptNotify(e));
  if (!lifecycle && MainThreadWithWindows()) return trace.Result(ReportWhilePainting(e));
  TExceptionThread pipeline(e, nullptr);
  return trace.Result(pipeline.WaitFor());
}

// The silent abort, or an exception of a class derived from it. An exception whose object the
// logger has not (one of another module's) is known by its class name.
bool IsSilentAbort(const ExceptInfo& e) {
  if (e.object != nullptr) return dynamic_cast<const EAbort*>(e.object) != nullptr;
  return e.class_name == DemangledClassName(typeid(EAbort));
}

// True = default handling wanted.
bool GoNotify(ExceptInfo& e) {
  const int saved_errno = errno;
  TraceLog("GoNotify", {e.class_name, reinterpret_cast<const void*>(e.address), e.raised}, 2);
  bool answer = true;
  if (catching_faults.load() && !IsSilentAbort(e) && !Excluded(e.thread) && EnterPipeline()) {
    try {
      answer = ExceptNotify(e);
    } catch (...) {
      InternalError("GoNotify");
    }
    LeavePipeline();
  }
  errno = saved_errno;
  TraceText(std::string("GoNotify=") + (answer ? "True" : "False"), -2);
  return answer;
}

// ---- C++ throws ------------------------------------------------------------------------------

// DWARF pointer encodings of the language-specific data.
uintptr_t ReadEncoded(const uint8_t*& p, uint8_t encoding) {
  if (encoding == 0xFF) return 0;
  const uint8_t* start = p;
  uintptr_t value = 0;
  auto uleb = [&] {
    uint64_t v = 0;
    int shift = 0;
    uint8_t b;
    do {
      b = *p++;
      v |= uint64_t(b & 0x7F) << shift;
      shift += 7;
    } while (b & 0x80);
    return v;
  };
  auto sleb = [&] {
    int64_t v = 0;
    int shift = 0;
    uint8_t b;
    do {
      b = *p++;
      v |= int64_t(b & 0x7F) << shift;
      shift += 7;
    } while (b & 0x80);
    if (shift < 64 && (b & 0x40)) v |= -(int64_t(1) << shift);
    return v;
  };
  switch (encoding & 0x0F) {
    case 0x00:
      std::memcpy(&value, p, 8);
      p += 8;
      break;
    case 0x01:
      value = uleb();
      break;
    case 0x02: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      p += 2;
      value = v;
      break;
    }
    case 0x03: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      p += 4;
      value = v;
      break;
    }
    case 0x04:
      std::memcpy(&value, p, 8);
      p += 8;
      break;
    case 0x09:
      value = uintptr_t(sleb());
      break;
    case 0x0A: {
      int16_t v;
      std::memcpy(&v, p, 2);
      p += 2;
      value = uintptr_t(intptr_t(v));
      break;
    }
    case 0x0B: {
      int32_t v;
      std::memcpy(&v, p, 4);
      p += 4;
      value = uintptr_t(intptr_t(v));
      break;
    }
    case 0x0C:
      std::memcpy(&value, p, 8);
      p += 8;
      break;
    default:
      return 0;
  }
  if (value != 0 && (encoding & 0x70) == 0x10) value += uintptr_t(start);
  if (value != 0 && (encoding & 0x80) != 0) std::memcpy(&value, reinterpret_cast<void*>(value), 8);
  return value;
}

uint64_t Uleb(const uint8_t*& p) {
  return ReadEncoded(p, 0x01);
}
int64_t Sleb(const uint8_t*& p) {
  return int64_t(ReadEncoded(p, 0x09));
}

uint8_t TypeEncodingSize(uint8_t encoding) {
  switch (encoding & 0x07) {
    case 0x02:
      return 2;
    case 0x03:
      return 4;
    default:
      return 8;
  }
}

// Where the class library's thread wrapper (the routine around a thread's Execute) begins.
uintptr_t thread_wrapper = 0;

struct HandlerSearch {
  const std::type_info* type;
  void* object;
  int frames = 0;
  enum { searching, handled, unhandled } state = searching;
};

// One frame: does its landing pad catch the exception? (noexcept frames end the search.)
_Unwind_Reason_Code SearchFrame(_Unwind_Context* context, void* argument) {
  auto& search = *static_cast<HandlerSearch*>(argument);
  if (++search.frames > 4096) {
    search.state = HandlerSearch::unhandled;
    return _URC_END_OF_STACK;
  }
  const auto* lsda = static_cast<const uint8_t*>(_Unwind_GetLanguageSpecificData(context));
  if (lsda == nullptr) return _URC_NO_REASON;
  int before = 0;
  const uintptr_t ip = _Unwind_GetIPInfo(context, &before) - (before ? 0 : 1);
  const uintptr_t region = _Unwind_GetRegionStart(context);
  const uint8_t* p = lsda;
  const uint8_t lp_encoding = *p++;
  uintptr_t lp_start = region;
  if (lp_encoding != 0xFF) lp_start = ReadEncoded(p, lp_encoding);
  const uint8_t type_encoding = *p++;
  const uint8_t* type_base = nullptr;
  if (type_encoding != 0xFF) {
    const uint64_t offset = Uleb(p);
    type_base = p + offset;
  }
  const uint8_t site_encoding = *p++;
  const uint64_t table_size = Uleb(p);
  const uint8_t* table_end = p + table_size;
  const uint8_t* actions = table_end;
  while (p < table_end) {
    const uintptr_t start = ReadEncoded(p, site_encoding);
    const uintptr_t length = ReadEncoded(p, site_encoding);
    const uintptr_t pad = ReadEncoded(p, site_encoding);
    const uint64_t action = Uleb(p);
    if (ip < region + start) break;
    if (ip >= region + start + length) continue;
    if (pad == 0 || action == 0) return _URC_NO_REASON;  // no pad, or clean-up only
    const uint8_t* a = actions + action - 1;
    for (;;) {
      const int64_t filter = Sleb(a);
      const uint8_t* next = a;
      const int64_t displacement = Sleb(a);
      if (filter > 0 && type_base != nullptr) {
        const uint8_t* entry = type_base - filter * TypeEncodingSize(type_encoding);
        const auto* catch_type =
            reinterpret_cast<const std::type_info*>(ReadEncoded(entry, type_encoding));
        void* adjusted = search.object;
        // A thrown pointer is matched by its value, as the runtime's own search does.
        if (search.type != nullptr && search.type->__is_pointer_p())
          adjusted = *static_cast<void**>(search.object);
        if (catch_type == nullptr || catch_type->__do_catch(search.type, &adjusted, 1)) {
          // The class library's thread wrapper only keeps what its thread failed with.
          // So does the logger's own, around a thread's start routine.
          const bool thread_end =
              region != 0 && (region == thread_wrapper ||
                              region == reinterpret_cast<uintptr_t>(&HookedThreadProc));
          search.state = thread_end ? HandlerSearch::unhandled : HandlerSearch::handled;
          return _URC_END_OF_STACK;
        }
      }
      if (displacement == 0) break;
      a = next + displacement;
    }
    return _URC_NO_REASON;
  }
  (void)lp_start;
  // An address outside the call-site table: the runtime ends the program here (noexcept).
  search.state = HandlerSearch::unhandled;
  return _URC_END_OF_STACK;
}

// The thrown object as a std::exception, when its class derives from one.
const std::exception* StdException(const std::type_info* type, void* object) {
  void* adjusted = object;
  if (type == nullptr || !typeid(std::exception).__do_catch(type, &adjusted, 1)) return nullptr;
  return static_cast<std::exception*>(adjusted);
}

bool IsStdException(const std::type_info* type, void* object, std::string& message) {
  const std::exception* error = StdException(type, object);
  if (error == nullptr) return false;
  try {
    message = error->what();
  } catch (...) {
  }
  return true;
}

[[gnu::noinline]] void ReportThrow(void* object, std::type_info* type, uintptr_t return_address,
                                   uintptr_t stack_pointer, const TOstrelRegisters& registers) {
  if (!active.load()) return;
  thrown_object = object;
  thrown_at = return_address;
  thrown_registers = registers;
  PendingNotification pending;
  ExceptInfo e;
  e.class_name = DemangledClassName(*type);
  e.has_message = IsStdException(type, object, e.message);
  e.object = StdException(type, object);
  try {
    PublishExceptionFacts(OwnHandle(), true, e.class_name, e.has_message, e.message);
  } catch (...) {
    InternalError("PublishExceptionFacts");
  }
  if (IsExceptionHandled(type, object)) return;
  e.raised = true;
  e.address = return_address;
  e.params.stack_pointer = stack_pointer;
  e.params.context = registers;
  e.params.stack_top = CurrentStackTop();
  e.thread = ThreadId();
  reported_default = GoNotify(e);
  reported_object = object;
}

[[noreturn]] void HookedRaise(void* object, std::type_info* type, void (*destructor)(void*)) {
  NoteThrowSite(object, __builtin_return_address(0));
  const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  const auto return_address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  // The registers as the hook finds them, with the thrower's own instruction (the call that
  // threw), stack and frame pointers.
  ucontext_t context{};
  ::getcontext(&context);
  TOstrelRegisters registers = RegistersOf(context);
  registers.rip = CallSite(return_address);
  registers.rsp = frame + 16;
  registers.rbp = *reinterpret_cast<const uintptr_t*>(frame);
  {
    // Left before the throw goes on: it does not come back here.
    TraceScope trace("HookedRaise", {TraceActive() ? DemangledClassName(*type) : std::string(),
                                     TraceAddress(return_address)});
    ReportThrow(object, type, return_address, frame + 16, registers);
  }
  if (debugger_notify_level.load() > 1 && DebuggerPresent()) ::raise(SIGTRAP);
  real_cxa_throw(object, type, destructor);
  __builtin_unreachable();
}

// A rethrow is reported as a throw from where it rethrows, the exception being handled
// (`throw;`) or the one the pointer holds.
void ReportRethrow(const std::exception_ptr& current, uintptr_t return_address,
                   uintptr_t stack_pointer) {
  if (!current) return;
  void* object = nullptr;
  static_assert(sizeof current == sizeof object);
  std::memcpy(&object, &current, sizeof object);
  std::type_info* type = const_cast<std::type_info*>(current.__cxa_exception_type());
  // A handled rethrow (the logger's own look at an exception among them) keeps the site
  // of the throw.
  if (type == nullptr || IsExceptionHandled(type, object)) return;
  NoteThrowSite(object, reinterpret_cast<void*>(return_address));
  // The registers as found here, with the rethrowing call's own instruction and stack.
  ucontext_t context{};
  ::getcontext(&context);
  TOstrelRegisters registers = RegistersOf(context);
  registers.rip = CallSite(return_address);
  registers.rsp = stack_pointer;
  TraceScope trace("HookedRethrow", {DemangledClassName(*type), TraceAddress(return_address)});
  ReportThrow(object, type, return_address, stack_pointer, registers);
}

[[noreturn]] void HookedRethrow() {
  const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  ReportRethrow(std::current_exception(), reinterpret_cast<uintptr_t>(__builtin_return_address(0)),
                frame + 16);
  real_cxa_rethrow();
  __builtin_unreachable();
}

[[noreturn]] void HookedRethrowException(std::exception_ptr pointer) {
  const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  ReportRethrow(pointer, reinterpret_cast<uintptr_t>(__builtin_return_address(0)), frame + 16);
  real_rethrow_exception(std::move(pointer));
  __builtin_unreachable();
}

// Ends the program once no other thread's exception is still on its way to the log. A
// thread's exception that leaves its start routine ends only the thread (HookedThreadProc);
// the terminate handler sees the main thread's, and those stopped by a noexcept boundary,
// which cannot be unwound to the thread's start.
void EndAfterReport() {
  // For a while only: a hook that never returns cannot hold the end for good.
  auto end_by = std::chrono::steady_clock::now() + EndWaitForOtherReports;
  for (;;) {
    {
      std::lock_guard lock(busy_lock);
      if (!NotificationsPending()) break;
    }
    if (PastEndWait(end_by)) ExitAfterReport(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // A fault waiting to be reported is reported first; the pipeline thread then ends the
  // program itself. The count changes in signal handlers, so it is looked at again and again.
  while (FaultsOnTheirWay()) {
    if (PastEndWait(end_by)) ExitAfterReport(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ExitAfterReport();
}

// Reports the current exception, which nothing of the program catches, unless its throw
// was reported already. True = default handling wanted.
bool ReportUncaught(const std::exception_ptr& current) {
  void* object = nullptr;
  std::memcpy(&object, &current, sizeof object);
  if (object == reported_object) return reported_default;
  PendingNotification pending;
  ExceptInfo e;
  const std::type_info* type = abi::__cxa_current_exception_type();
  e.class_name = type ? DemangledClassName(*type) : "";
  if (type != nullptr) e.has_message = IsStdException(type, object, e.message);
  e.object = StdException(type, object);
  e.params.stack_pointer = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  ucontext_t context{};
  ::getcontext(&context);
  e.params.context = RegistersOf(context);
  e.params.stack_top = CurrentStackTop();
  e.thread = ThreadId();
  return GoNotify(e);
}

void HookedExceptProc() {
  std::exception_ptr current = std::current_exception();
  if (!active.load() || !current) {
    if (previous_terminate) previous_terminate();
    std::abort();
  }
  bool default_wanted = true;
  {
    // Left before the end: the program or the thread ends here.
    TraceScope trace("HookedExceptProc", {});
    default_wanted = trace.Result(ReportUncaught(current));
  }
  if (default_wanted) {
    ReleaseProcessSharedFacts();
    // The default handling ends by abort(): no new failure, so it takes SIGABRT's own way.
    RestoreFaultHandlers(SIGABRT);
    if (previous_terminate) previous_terminate();
    std::abort();
  }
  EndAfterReport();
}

// The application's handler of exceptions that escaped an event handler: the logger reports
// them, and the handler's message box follows only when the logger leaves the exception to
// it. (The exception pointer is passed by address, as the calling convention passes it.)
using HandleExceptionProc = void (*)(void* application, std::exception_ptr* error);
HandleExceptionProc replaced_handle_exception = nullptr;

void Hooked_GUIHandleException(void* application, std::exception_ptr* error) {
  TraceScope trace("Hooked_GUIHandleException", {application});
  if (ExceptionManager(*error) && replaced_handle_exception != nullptr)
    replaced_handle_exception(application, error);
}

// The import slots of `routine` lead to `replacement`: a logger of the program takes those
// of every loaded module that has no logger of its own, a logger of a library those of its
// library. The address they led to is returned.
void* HookEverywhere(const char* routine, void* replacement) {
  TraceLog("HookEverywhere", {routine, static_cast<const void*>(replacement)}, 2);
  void* current = ::dlsym(RTLD_DEFAULT, routine);
  Dl_info info{};
  if (current == nullptr || ::dladdr(current, &info) == 0 || info.dli_fname == nullptr) {
    TraceText("HookEverywhere=nil", -2);
    return nullptr;
  }
  RefreshModulesList();
  std::vector<std::string> names;
  const TOstrelModuleEntry* own = ProgramEntry();
  const bool library = own != nullptr && own->kind == mkLibrary;
  for (const TOstrelModulePtr& m : ModulesList()) {
    if ((own != nullptr && m->handle == own->handle) ||
        (!library && !ModuleHasSharedOptions(m->handle)))
      names.push_back(m->path);
  }
  try {
    HookImport(names, info.dli_fname, routine, replacement, true);
  } catch (...) {
    InternalError("InstallOstrelLog.HookImport");
  }
  TraceText("HookEverywhere=" + TraceArg(static_cast<const void*>(current)).Text(), -2);
  return current;
}

// The same, with `real` set to the routine the slots lead to before any of them is changed: a
// call through a slot as soon as it leads to the logger (a throw while the trace is saved, a
// thread another thread starts) finds where to go on.
template <typename Routine>
void HookEverywhere(const char* routine, void* replacement, Routine& real) {
  real = reinterpret_cast<Routine>(::dlsym(RTLD_DEFAULT, routine));
  real = reinterpret_cast<Routine>(HookEverywhere(routine, replacement));
}

// A module loaded later (dlopen) has import slots of its own: they are led to the logger's
// routines as soon as it is loaded, so that its throws and threads are seen too.
using DlOpen = void* (*)(const char*, int);
DlOpen real_dlopen = nullptr;

// How many modules the process has loaded since it started.
unsigned long long LoadedModuleCount() {
  unsigned long long adds = 0;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        *static_cast<unsigned long long*>(data) = info->dlpi_adds;
        return 1;
      },
      &adds);
  return adds;
}

void* HookedDlopen(const char* file, int mode) {
  // The hooking itself opens modules (without loading them): those calls go straight through.
  thread_local bool hooking = false;
  if (hooking) return real_dlopen(file, mode);
  const unsigned long long before = LoadedModuleCount();
  void* handle = real_dlopen(file, mode);
  if (handle != nullptr && active.load() && LoadedModuleCount() != before) {
    static std::mutex lock;
    std::lock_guard guard(lock);
    hooking = true;
    try {
      HookEverywhere("__cxa_throw", reinterpret_cast<void*>(&HookedRaise));
      HookEverywhere("pthread_create", reinterpret_cast<void*>(&HookedCreateThread));
      HookEverywhere("dlopen", reinterpret_cast<void*>(&HookedDlopen));
    } catch (...) {
      InternalError("HookedDlopen");
    }
    hooking = false;
  }
  return handle;
}

// Where the logger's starter was called from while the module's static objects are made;
// 0 when the logger was installed later.
uintptr_t starter_return = 0;

// The last entry of the module's static-initialisation table runs the routine it held,
// then ends the initialisation: the module's static objects are all made. From then on the
// logger's exit handler comes first at exit, so finalising is noted before any of them is
// destroyed.
using InitRoutine = void (*)(int, char**, char**);
InitRoutine saved_last_init = nullptr;
InitRoutine* wrapped_slot = nullptr;

// Writes a slot of the table, whose pages are read-only once relocated: their protection is
// restored after the write.
bool SetSlot(InitRoutine* slot, InitRoutine value) {
  return WriteCode(slot, &value, sizeof value);
}

void EndInitialization() {
  if (!initializing.exchange(false)) return;
  std::atexit([] {
    AwaitSentSignals();
    finalizing = true;
  });
}

void WrappedLastInit(int argc, char** argv, char** env) {
  if (saved_last_init != nullptr) saved_last_init(argc, argv, env);
  EndInitialization();
  // The table is as the module made it again.
  if (wrapped_slot != nullptr) SetSlot(wrapped_slot, saved_last_init);
}

// The module's static-initialisation table (its routines in the order they run).
InitRoutine* ModuleInitTable(uintptr_t handle, std::size_t& count) {
  TraceScope trace("ModuleInitTable", {TraceAddress(handle)});
  struct Search {
    uintptr_t own;
    InitRoutine* table = nullptr;
    std::size_t count = 0;
  } search{handle};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto& s = *static_cast<Search*>(data);
        uintptr_t lowest = UINTPTR_MAX;
        const ElfW(Dyn)* dynamic = nullptr;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& p = info->dlpi_phdr[i];
          if (p.p_type == PT_LOAD)
            lowest = std::min<uintptr_t>(lowest, (info->dlpi_addr + p.p_vaddr) & ~uintptr_t(0xFFF));
          if (p.p_type == PT_DYNAMIC)
            dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + p.p_vaddr);
        }
        if (lowest != s.own || dynamic == nullptr) return 0;
        for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
          if (d->d_tag == DT_INIT_ARRAY)
            s.table = reinterpret_cast<InitRoutine*>(info->dlpi_addr + d->d_un.d_ptr);
          if (d->d_tag == DT_INIT_ARRAYSZ) s.count = d->d_un.d_val / sizeof(InitRoutine);
        }
        return 1;
      },
      &search);
  count = search.table != nullptr ? search.count : 0;
  trace.Result(static_cast<const void*>(search.table));
  return search.table;
}

// Wraps the last entry of the own module's initialisation table; when the logger's own
// starter is that entry (or the table cannot be changed), initialisation ends with it.
void WrapModuleInitTable() {
  TraceLog("WrapModuleInitTable", {}, 2);
  std::size_t count = 0;
  InitRoutine* table = ModuleInitTable(OwnHandle(), count);
  bool wrapped = false;
  if (starter_return != 0 && table != nullptr && count > 0) {
    InitRoutine* slot = &table[count - 1];
    // Still to come: not the routine that runs now (the one that made the logger's starter).
    const auto routine = reinterpret_cast<uintptr_t>(*slot);
    const bool pending = *slot != &WrappedLastInit &&
                         !(starter_return >= routine && starter_return - routine < 0x4000);
    saved_last_init = *slot;
    wrapped = pending && SetSlot(slot, &WrappedLastInit);
    if (wrapped) wrapped_slot = slot;
  }
  if (!wrapped) EndInitialization();
  TraceText(std::string("WrapModuleInitTable=") + (wrapped ? "True" : "False"), -2);
}

}  // namespace ostrel

using namespace ostrel;

// ---- public ----------------------------------------------------------------------------------

bool IsExceptionHandled(const std::type_info* type, void* object) {
  TraceLog("IsExceptionHandled",
           {type != nullptr ? DemangledClassName(*type) : std::string(),
            static_cast<const void*>(object)},
           2);
  HandlerSearch search{type, object};
  _Unwind_Backtrace(&SearchFrame, &search);
  // Without a debugger a console program's throws are not announced to one.
  const bool console = console_program.load();
  if (debugger_notify_level.load() != 0 && console && !IsWebHost(console) && !DebuggerPresent())
    debugger_notify_level = 0;
  const bool handled = search.state == HandlerSearch::handled;
  TraceText(std::string("IsExceptionHandled=") + (handled ? "True" : "False"), -2);
  return handled;
}

void SetDebuggerNotifyLevel(int level) {
  debugger_notify_level = level;
}

int DebuggerNotifyLevel() {
  return debugger_notify_level.load();
}

void SetExceptionNotify(TExceptionNotify hook) {
  SetHook(exception_notify.routine, std::move(hook));
}
void SetActionNotify(TActionNotify hook) {
  SetHook(action_notify.routine, std::move(hook));
}
void SetActionError(TActionError hook) {
  SetHook(action_error.routine, std::move(hook));
}
void SetOnExceptionNotify(TExceptionNotify event) {
  SetHook(exception_notify.event, std::move(event));
}
void SetOnActionNotify(TActionNotify event) {
  SetHook(action_notify.event, std::move(event));
}
void SetOnActionError(TActionError event) {
  SetHook(action_error.event, std::move(event));
}
void SetTerminateRequest(TOstrelTerminate request) {
  terminate_request = request;
}
void SetOstrelConsoleProgram(bool console) {
  console_program = console;
  // A console program's throws are announced to a debugger until one is found absent.
  if (console && !IsWebHost(console)) debugger_notify_level = 1;
}
int OstrelReportedErrors() {
  return reported_errors.load();
}
bool OstrelLogActive() {
  return active.load();
}

TOstrelModuleOptions& CurrentOstrelLogOptions() {
  TraceScope trace("CurrentOstrelLogOptions", {});
  if (!active.load() || ProgramEntry() == nullptr)
    throw Exception("Cannot use 'CurrentOstrelLogOptions' function without OstrelLog activate.");
  trace.Result(TraceArg::Object("TOstrelModuleOptionsEx"));
  return RunningOptions();
}

pid_t OstrelMainThread() {
  return main_thread;
}

uintptr_t OstrelMainStackTop() {
  return main_stack_top;
}

bool OstrelPipelineBusy() {
  return busy_owner.load() != 0;
}

bool NotifyThreadSnapshot(const std::string& class_name, const std::string& message, pid_t thread,
                          const TOstrelRegisters& registers, uintptr_t stack_top,
                          const void* stack_copy, std::size_t stack_bytes,
                          const std::exception* error) {
  if (!active.load()) return true;
  PendingNotification pending;
  ExceptInfo e;
  e.class_name = class_name;
  e.message = message;
  e.has_message = true;
  e.address = registers.rip;
  e.params.stack_pointer = registers.rsp;
  e.params.stack_top = stack_top;
  e.params.context = registers;
  e.thread = thread;
  e.stack_copy = stack_copy;
  e.stack_copy_bytes = stack_bytes;
  e.object = error;
  return GoNotify(e);
}

bool ExceptionManager(std::exception_ptr error) {
  if (!error) return true;
  TraceScope trace("ExceptionManager", {});
  ExceptInfo e;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return trace.Result(true);
  } catch (...) {
  }
  // On its way to the log: a fault that ends the program meanwhile waits for it.
  PendingNotification pending;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& x) {
    e.class_name = DemangledClassName(typeid(x));
    e.message = x.what();
    e.has_message = true;
    // The object lives on in `error` while the report is made.
    e.object = &x;
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    e.class_name = type ? DemangledClassName(*type) : "";
  }
  void* object = nullptr;
  std::memcpy(&object, &error, sizeof object);
  // Not noted at its throw (thrown on another thread, say): the address and registers are
  // those of now.
  if (object != nullptr && object == thrown_object) {
    e.address = thrown_at;
    e.params.context = thrown_registers;
    // Used: another object made later at the same address is not taken for this one.
    thrown_object = nullptr;
  } else {
    e.address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
    ucontext_t context{};
    ::getcontext(&context);
    TOstrelRegisters now = RegistersOf(context);
    now.rip = e.address;
    e.params.context = now;
  }
  e.raised = true;
  e.params.stack_pointer = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  e.params.stack_top = CurrentStackTop();
  e.thread = ThreadId();
  return trace.Result(GoNotify(e));
}

void NoteOstrelLogStarter(uintptr_t return_address) {
  starter_return = return_address;
}

void ExcludeThreadFromOstrelLog(pid_t thread, bool excluded) {
  if (thread == 0) return;
  std::lock_guard guard(excluded_lock);
  // Never unlisted for a moment while it stays excluded.
  if (excluded && Excluded(thread)) return;
  for (std::atomic<pid_t>& t : excluded_threads)
    if (t.load() == thread) t = 0;
  if (!excluded) return;
  for (std::atomic<pid_t>& t : excluded_threads) {
    if (t.load() != 0) continue;
    t = thread;
    return;
  }
  // A list this long is a program's error: the thread stays reported.
  TraceText("ExcludeThreadFromOstrelLog: more than " + std::to_string(MaxExcluded) +
                " threads excluded; thread " + std::to_string(thread) + " is not",
            0);
}

bool OstrelLogInitializing() {
  return initializing.load();
}

bool OstrelLogFinalizing() {
  return finalizing.load();
}

void InstallOstrelLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    ::pthread_sigmask(SIG_SETMASK, nullptr, &start_mask);
    main_thread = ThreadId();
    main_stack_top = CurrentStackTop();
    char folder[4096];
    if (::getcwd(folder, sizeof folder) != nullptr) start_folder = folder;
    const bool started = InstallFaultSignals(start_mask);
    TraceScope trace("InstallOstrelLog", {});
    previous_terminate = std::set_terminate(&HookedExceptProc);
    HookEverywhere("__cxa_throw", reinterpret_cast<void*>(&HookedRaise), real_cxa_throw);
    // Rethrows pass by neither: without these a rethrow would be reported from the
    // terminate handler, with no address and the logger's own frames first.
    HookEverywhere("__cxa_rethrow", reinterpret_cast<void*>(&HookedRethrow), real_cxa_rethrow);
    HookEverywhere("_ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE",
                   reinterpret_cast<void*>(&HookedRethrowException), real_rethrow_exception);
    HookEverywhere("pthread_create", reinterpret_cast<void*>(&HookedCreateThread),
                   real_pthread_create);
    HookEverywhere("dlopen", reinterpret_cast<void*>(&HookedDlopen), real_dlopen);
    active = started && real_cxa_throw != nullptr && real_pthread_create != nullptr;
    catching_faults = active.load();
    // Other modules' loggers read the program's options (and what the module changes later)
    // from here; the watchdog starts here when they ask for it.
    if (const TOstrelModuleEntry* program = ProgramEntry(); active.load() && program != nullptr) {
      try {
        ReleaseStaleSharedFacts();
        SetPublishedModuleOptions(program->handle, &RunningOptions());
      } catch (...) {
        InternalError("InstallOstrelLog.PublishModuleOptions");
      }
      StartFreezeWatchdog();
    }
    // An internal error may be mailed, with the trace, to those who get the reports.
    InstallInternalBugSender();
    SetInternalBugRecipient(RunningOptions().EMailAddresses());
    WrapModuleInitTable();
    // At exit the logger steps back before the program's objects are destroyed.
    std::atexit([] { FinalizeOstrelLog(); });
    thread_wrapper = GetDebugProcAddress("thread.qv::TThread.Run");
    // Found through the program's own debug information; absent from programs without the
    // class library's application.
    try {
      replaced_handle_exception = reinterpret_cast<HandleExceptionProc>(
          HookDebugProcedure("forms.qv::TApplication.HandleException",
                             reinterpret_cast<void*>(&Hooked_GUIHandleException)));
    } catch (...) {
      InternalError("InstallOstrelLog.HandleException");
    }
  });
}

void FinalizeOstrelLog() {
  if (!active.load()) return;
  {
    TraceScope trace("FinalizeOstrelLog", {});
    AwaitSentSignals();
    StopFreezeWatchdog(FreezeStopWaitLimit);
    if (!active.exchange(false)) return;
    catching_faults = false;
    RestoreFaultHandlers();
    std::set_terminate(previous_terminate);
    SetPublishedModuleOptions(0, nullptr);
    ReleaseSharedFacts();
  }
  // With its own end in it.
  SaveTrace();
}

}  // namespace qv

// Linked into a program with -Wl,--undefined=qv_ostrel_log_startup: the logger installs
// itself while the program's static objects are made, before main runs.
extern "C" {
[[gnu::used]] int qv_ostrel_log_startup = 0;
}
namespace {
struct OstrelLogStarter {
  [[gnu::noinline]] OstrelLogStarter() {
    qv::RunClipboardHolderIfAsked();
    qv::NoteOstrelLogStarter(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
    qv::InstallOstrelLog();
  }
} ostrel_log_starter;
}  // namespace
