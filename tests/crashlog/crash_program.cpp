// Ends the way its first argument says, with the exception logger installed at start-up; the
// report goes to the folder of the second argument. Before it faults it prints
// "LINE=<line>" of the faulting statement on standard error.
//   throw | caught | gui | tthread | worker | two | filtered | null | div | recurse | off | restart
//   | restartfault | excluded | bugprompt | bugask (an internal error asked about on the
//   display, nobody named to send it to) | lifecycle | debugger
//   | hookthrow (the action hook throws before saving a worker's report) | deep (a throw under
//   1000 frames of 512 bytes) | bigbuffer (SIGSEGV raised under a 512 KiB buffer) | quietabort
//   (a subclass of the silent abort) | foreign (another thread's exception handed to the
//   application) | objects (the hook prints the objects of a caught, a worker's and a fault's
//   exception) | bothhooks (a routine and an event) | dlopen <library> (its throw)
//   | filterbox (a filtered class's message shown on the display: prints whether it is topmost)
//   | dlopenonly <library> (loads it and ends) | loadercallback (a fault inside a routine the
//   loader calls back) | throwfault (a worker throws while the main thread's fault is reported)
//   | managerfault (the application's handler gets an exception while a worker's fault is
//   reported)
//   idle (prints "READY <main thread> <worker thread>" and waits with a second thread for
//   signals sent from outside; so do allocating, endingworker, blockfirst, blockalways,
//   loaderworker and throwloop, each with its main thread or worker busy its own way)
// With QV_CRASH_AT_START=1 in its environment, its main thread is sent SIGSEGV as soon as the
// logger's handler is in place, before main runs (the report goes beside the program).
//   <file> | dialog | dialog1 (its call-stack page first, a three-line message) |
//   dialogend (ends after the dialog) |
//   warnings (the action hooks leave a warning before each action and print what is left) |
//   threads (4000 short ones) | dupe (duplicates skipped) | whole <port> (the whole log mailed)
// With a window of its own and the freeze watchdog on (FreezeTimeout 1), the main loop blocks:
//   freeze (1.6 s once) | twitch (30 ms at a time) | unwatched (1.6 s, watchdog switched off)
//   | hung (until the second report is saved) | hungdialog (its dialogs shown, steps asked)
//   | retuned (watched with a time-out of an hour, then 1 s and another message)
//   | stuckhook (a hook holds the hang's report for good; the program then exits)
// With the dialog: in "dialog" the main thread fails beside its window and goes on after the
// dialog until standard input ends.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashlog/except_notify.h"
#include "crashlog/freeze_thread.h"
#include "crashlog/trace_log.h"
#include "platform/base/thread.h"
#include "platform/classlib/dialogs.h"
#include "platform/classlib/forms.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"
#include "platform/ui/window_system.h"

class TDiscError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class TFilteredError : public std::exception {};
class TQuietAbort : public qv::EAbort {};

namespace {

#define SAY_LINE() std::fprintf(stderr, "LINE=%d\n", __LINE__ + 1)

[[gnu::noinline]] void ThrowDiscError() {
  SAY_LINE();
  throw TDiscError("Disc tray jammed");
}

// Rethrows the caught exception from the handler.
[[gnu::noinline]] void RethrowDiscError() {
  try {
    ThrowDiscError();
  } catch (...) {
    SAY_LINE();
    throw;
  }
}

// Rethrows the exception a pointer keeps, after its handler has ended.
[[gnu::noinline]] void RethrowKeptDiscError() {
  std::exception_ptr kept;
  try {
    ThrowDiscError();
  } catch (...) {
    kept = std::current_exception();
  }
  SAY_LINE();
  std::rethrow_exception(kept);
}

// "single <dir> <runs>": a program that allows one instance. Each run notes in <runs>
// whether it got the lock that the run before held, before anything else of it runs (the
// logger starts later); a run after the first ends there.
bool single_first_run = false;
[[gnu::constructor(101)]] void SingleInstanceCheck(int argc, char** argv, char**) {
  if (argc < 4 || std::strcmp(argv[1], "single") != 0) return;
  // Kept open, and so locked, until the run ends.
  const int lock =
      ::open((std::string(argv[2]) + "/instance.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  const bool alone = lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0;
  const int runs = ::open(argv[3], O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (runs < 0) ::_exit(2);
  const bool again = ::lseek(runs, 0, SEEK_END) > 0;
  const char* line = alone ? "alone\n" : "not alone\n";
  if (::write(runs, line, std::strlen(line)) < 0) ::_exit(2);
  ::close(runs);
  if (again) ::_exit(0);
  single_first_run = true;
}

[[gnu::noinline]] void WorkerRoutine() {
  SAY_LINE();
  throw TDiscError("Worker failed");
}

[[gnu::noinline, gnu::no_sanitize("undefined")]] void WriteNull(volatile int* target) {
  SAY_LINE();
  *target = 42;
}

[[gnu::noinline, gnu::no_sanitize("undefined")]] int Divide(int a, int b) {
  // Through volatile copies, so that the division is done at run time.
  volatile int dividend = a;
  volatile int divisor = b;
  SAY_LINE();
  return dividend / divisor;
}

// Each of `depth` frames holds 512 bytes; the innermost throws.
[[gnu::noinline]] int Nested(int depth) {
  volatile char pad[512];
  pad[0] = char(depth);
  if (depth == 0) {
    if (pad[0] == 0) ThrowDiscError();
    return 0;
  }
  return Nested(depth - 1) + pad[0];
}

// Recurses until the stack pointer is near `limit`, then throws.
[[gnu::noinline]] int ThrowNear(uintptr_t limit) {
  volatile char pad[4096];
  pad[0] = 1;
  if (reinterpret_cast<uintptr_t>(&pad[0]) > limit + 8192) return ThrowNear(limit) + pad[0];
  if (limit != 0) ThrowDiscError();
  return pad[0];
}

struct TVirtualBase {
  virtual ~TVirtualBase() = default;
};
struct TVirtualChild : virtual TVirtualBase {};

[[gnu::noinline]] void RaiseUnderBuffer() {
  volatile char buffer[512 << 10];
  buffer[0] = 1;
  ::raise(SIGSEGV);
  buffer[1] = buffer[0];
}

[[gnu::noinline]] int Recurse(int depth) {
  volatile char pad[64];
  pad[0] = char(depth);
  // The stack runs out long before `depth` could wrap round to the end it names.
  if (depth == -1) return 0;
  return Recurse(depth + 1) + pad[0];
}

// A thread of the class library whose Execute fails.
class TFailingThread : public qv::TThread {
 protected:
  void Execute() override {
    SAY_LINE();
    throw TDiscError("Thread object failed");
  }
};

[[gnu::noinline]] void BlockMainLoop(std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  for (auto left = time.count(); left > 0;) {
    SAY_LINE();
    ::poll(nullptr, 0, int(left));  // a signal may end it early
    left = std::chrono::duration_cast<std::chrono::milliseconds>(end -
                                                                 std::chrono::steady_clock::now())
               .count();
  }
}

void ShowMainWindow() {
  qv::WNDCLASS cls;
  cls.lpszClassName = "Frozen";
  cls.hbrBackground = qv::TColor(qv::RGB(0, 128, 0));
  qv::RegisterClass(cls);
  qv::CreateWindowEx(0, "Frozen", "frozen", qv::WS_OVERLAPPEDWINDOW | qv::WS_VISIBLE, 0, 0, 200,
                     100, 0);
  qv::ProcessMessages();
}

int Freeze(const std::string& mode, qv::TOstrelModuleOptions& options) {
  using namespace std::chrono_literals;
  qv::SetOstrelConsoleProgram(false);
  ShowMainWindow();
  options.SetFreezeTimeout(mode == "retuned" ? 3600 : 1);
  options.SetFreezeActivate(true);
  if (mode == "unwatched") options.SetFreezeActivate(false);
  if (mode == "retuned") {
    std::this_thread::sleep_for(200ms);  // the watchdog is under way with the first values
    options.SetFreezeTimeout(1);
    options.SetFreezeMessage("Hung while reading the disc.");
  }
  if (mode == "stuckhook") {
    qv::SetExceptionNotify([](qv::TOstrelExceptionRecord& record, bool&) {
      if (dynamic_cast<const qv::EFrozenApplication*>(record.exception) == nullptr) return;
      std::printf("hook: frozen\n");
      std::fflush(stdout);
      for (;;) std::this_thread::sleep_for(1h);
    });
    BlockMainLoop(1600ms);
    std::exit(0);  // the unloading logger must not wait for the hook for ever
  }
  if (mode == "hungdialog") {  // ended by the terminate button, shown from the second error
    qv::SetMessageBoxesUnattended(false);
    options.SetTerminateButtonErrors(1);
    options.SetRestartAfterTerminate(false);
    options.SetLogOptions(qv::loAskReproduceSteps);
  }
  if (mode == "twitch") {
    for (int i = 0; i < 45; ++i) {
      BlockMainLoop(30ms);
      qv::ProcessMessages();
    }
  } else if (mode == "hung" || mode == "hungdialog") {
    if (mode == "hung") {
      qv::SetActionNotify([](qv::TOstrelExceptionRecord&, int action, bool&) {
        static int saved = 0;
        if (action == 3 && ++saved == 2) ::_exit(0);
      });
    }
    BlockMainLoop(1h);
    std::printf("unblocked\n");
  } else {
    BlockMainLoop(1600ms);
  }
  options.SetFreezeActivate(false);  // waits for a report under way
  return 0;
}

// Made before the logger's starter (this file comes first in the link); destroyed once the
// program ends, when the logger has noted that it is finalising.
struct TLifecycleWitness {
  bool report = false;
  ~TLifecycleWitness() {
    if (report) std::printf("finalizing at destruction: %d\n", int(qv::OstrelLogFinalizing()));
  }
} lifecycle_witness;

pthread_barrier_t barrier;

void* ThrowAtOnce(void* which) {
  pthread_barrier_wait(&barrier);
  throw TDiscError(which == nullptr ? "First thread" : "Second thread");
}

void* RunWorkerRoutine(void*) {
  WorkerRoutine();
  return nullptr;
}

// Prints the exit code the thread ended with.
void JoinAndSay(pthread_t thread) {
  void* code = nullptr;
  pthread_join(thread, &code);
  std::printf("thread exit code %ld\n", long(reinterpret_cast<intptr_t>(code)));
}

pid_t ThreadId() {
  return pid_t(::syscall(SYS_gettid));
}

// The signals this thread blocks, as the kernel lists them.
std::string BlockedSignals() {
  std::ifstream in("/proc/thread-self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("SigBlk:", 0) == 0) return line.substr(7);
  return "?";
}

// The program's own code faults before main: a thread (started before the logger's hooks)
// sends the main thread SIGSEGV as soon as a handler for it is in place.
struct TEarlyFault {
  TEarlyFault() {
    const char* asked = std::getenv("QV_CRASH_AT_START");
    if (asked == nullptr || std::strcmp(asked, "1") != 0) return;
    const pid_t main_thread = ThreadId();
    // A sanitizer runtime may have a handler of its own in place already.
    struct sigaction before {};
    ::sigaction(SIGSEGV, nullptr, &before);
    std::thread([main_thread, before] {
      for (;;) {
        struct sigaction current {};
        ::sigaction(SIGSEGV, nullptr, &current);
        if (current.sa_sigaction != before.sa_sigaction) break;
      }
      ::syscall(SYS_tgkill, ::getpid(), main_thread, SIGSEGV);
    }).detach();
  }
} early_fault;

}  // namespace

// Waits a minute, however often a signal's handler cuts the wait short (as the logger's does
// for a signal sent from outside, and for the snapshot of a thread it reports).
void WaitAMinute() {
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (auto now = std::chrono::steady_clock::now(); now < end;
       now = std::chrono::steady_clock::now())
    ::poll(nullptr, 0, int(std::chrono::ceil<std::chrono::milliseconds>(end - now).count()));
}

// A worker that waits a minute; says "READY <main> <worker>" once it runs.
std::thread StartWaitingWorker() {
  std::atomic<pid_t> worker_id{0};
  std::thread worker([&worker_id] {
    worker_id = ThreadId();
    WaitAMinute();
  });
  while (worker_id.load() == 0) std::this_thread::yield();
  std::printf("READY %d %d\n", int(ThreadId()), int(worker_id.load()));
  std::fflush(stdout);
  return worker;
}

// Named waits, told apart in a report's call stack.
[[gnu::noinline]] void WaitInWorker() {
  WaitAMinute();
  asm volatile("");
}
[[gnu::noinline]] void UnblockAndWaitInMain(const sigset_t& faults) {
  pthread_sigmask(SIG_UNBLOCK, &faults, nullptr);
  WaitAMinute();
  asm volatile("");
}

int main(int argc, char** argv) {
  qv::SetMessageBoxesUnattended(true);
  qv::SetOstrelConsoleProgram(true);
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  qv::TOstrelModuleOptions& options = qv::CurrentOstrelLogOptions();
  options.SetOutputPath(argv[2]);
  if (mode == "freeze" || mode == "twitch" || mode == "unwatched" || mode == "hung" ||
      mode == "hungdialog" || mode == "retuned" || mode == "stuckhook")
    return Freeze(mode, options);
  if (mode == "throw") ThrowDiscError();
  if (mode == "threads") {  // many short threads; prints how much the address space grew
    const auto size = [] {
      std::ifstream in("/proc/self/status");
      std::string line;
      while (std::getline(in, line))
        if (line.rfind("VmSize:", 0) == 0) return std::atol(line.c_str() + 7);
      return 0L;
    };
    std::thread([] {}).join();
    const long before = size();
    for (int i = 0; i < 4000; ++i) std::thread([] {}).join();
    std::printf("GROWTH=%ld\n", size() - before);
    return 0;
  }
  if (mode == "warnings") {  // sent to a port where nobody listens
    options.SetSendWay(qv::swSMTPClient);
    options.SetSMTPHost("127.0.0.1");
    options.SetSMTPPort(1);
    options.SetEMailAddresses("support@quorvel.test");
    options.SetShowSendProgress(false);
    qv::SetActionNotify([](qv::TOstrelExceptionRecord&, int action, bool&) {
      if (action == 1 || action == 3 || action == 4)
        std::printf("before %d: %s\n", action,
                    std::string(qv::ErrorCodeName(qv::LastWarningCode())).c_str());
      qv::Warning(qv::eeEmailShellError, "left by the hook");
    });
    ThrowDiscError();
  }
  if (mode == "dupe") {
    options.SetLogOptions(qv::loNoDuplicateErrors);
    ThrowDiscError();
  }
  if (mode == "whole" && argc > 3) {  // the whole log mailed to the SMTP server at port argv[3]
    options.SetSendWay(qv::swSMTPClient);
    options.SetSMTPHost("127.0.0.1");
    options.SetSMTPPort(uint16_t(std::atoi(argv[3])));
    options.SetEMailAddresses("support@quorvel.test");
    options.SetEMailSubject("whole log");
    options.SetSendWholeLog(true);
    ThrowDiscError();
  }
  if (mode == "dialogend") {  // the main thread fails for good beside its window
    qv::SetOstrelConsoleProgram(false);
    qv::SetMessageBoxesUnattended(false);
    ShowMainWindow();
    ThrowDiscError();
  }
  if (mode == "dialog" || mode == "dialog1") {
    if (mode == "dialog1") options.SetDetailsPage(1);  // the call stack's page first
    qv::SetOstrelConsoleProgram(false);
    qv::SetMessageBoxesUnattended(false);
    ShowMainWindow();
    qv::SetActionNotify(
        [main = std::this_thread::get_id()](qv::TOstrelExceptionRecord&, int a, bool&) {
          if (a == 1 && main == std::this_thread::get_id())
            std::printf("hook on the main thread\n");
        });
    try {
      if (mode == "dialog1") throw TDiscError("Disc tray jammed\r\nOpen the tray\nby hand");
      ThrowDiscError();
    } catch (...) {
      qv::Application()->HandleException(std::current_exception());
    }
    std::printf("continued\n");
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    return 0;
  }
  if (mode == "caught") {
    try {
      ThrowDiscError();
    } catch (const std::exception& e) {
      std::printf("caught %s\n", e.what());
    }
    return 0;
  }
  if (mode == "gui") {
    // As the message loop does with an exception that escaped an event handler.
    try {
      ThrowDiscError();
    } catch (...) {
      qv::Application()->HandleException(std::current_exception());
    }
    std::printf("continued\n");
    return 0;
  }
  if (mode == "worker") {
    pthread_t worker;
    pthread_create(&worker, nullptr, RunWorkerRoutine, nullptr);
    JoinAndSay(worker);
    std::printf("continued\n");
    return 0;
  }
  if (mode == "hookthrow") {
    qv::SetActionNotify([](qv::TOstrelExceptionRecord&, int action, bool&) {
      std::printf("action %d\n", action);
      if (action == 2) throw std::runtime_error("hook failed");
    });
    pthread_t worker;
    pthread_create(&worker, nullptr, RunWorkerRoutine, nullptr);
    JoinAndSay(worker);
    std::printf("continued\n");
    return 0;
  }
  if (mode == "deep") return Nested(1000);
  if (mode == "lowstack") {  // the main thread throws with 48 KiB of its stack left
    pthread_attr_t attr;
    void* base = nullptr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 2;
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    return ThrowNear(reinterpret_cast<uintptr_t>(base) + (48 << 10));
  }
  if (mode == "caughtpointer") {  // a pointer caught as a pointer to its virtual base
    try {
      throw static_cast<TVirtualChild*>(nullptr);
    } catch (TVirtualBase* base) {
      std::printf("caught %d\n", int(base == nullptr));
    }
    return 0;
  }
  if (mode == "bigbuffer") RaiseUnderBuffer();
  if (mode == "quietabort") throw TQuietAbort();
  if (mode == "foreign") {
    std::exception_ptr error;
    std::thread([&] {
      try {
        throw TDiscError("Failed elsewhere");
      } catch (...) {
        error = std::current_exception();
      }
    }).join();
    qv::Application()->HandleException(error);
    std::printf("continued\n");
    return 0;
  }
  if (mode == "objects") {
    qv::SetExceptionNotify([](qv::TOstrelExceptionRecord& record, bool&) {
      const std::exception* e = record.exception;
      std::printf("object %s %s %s\n",
                  e == nullptr                                              ? "none"
                  : dynamic_cast<const TDiscError*>(e) != nullptr           ? "TDiscError"
                  : dynamic_cast<const qv::EAccessViolation*>(e) != nullptr ? "EAccessViolation"
                                                                            : "other",
                  dynamic_cast<const qv::EExternal*>(e) != nullptr ? "external" : "raised",
                  e != nullptr ? e->what() : "");
      std::fflush(stdout);
    });
    try {
      ThrowDiscError();
    } catch (...) {
      qv::Application()->HandleException(std::current_exception());
    }
    pthread_t worker;
    pthread_create(&worker, nullptr, RunWorkerRoutine, nullptr);
    pthread_join(worker, nullptr);
    WriteNull(argc > 100 ? &argc : nullptr);
  }
  if (mode == "bothhooks") {
    qv::SetActionNotify([](qv::TOstrelExceptionRecord&, int action, bool&) {
      if (action == 2) std::printf("routine %d\n", action);
    });
    qv::SetOnActionNotify([](qv::TOstrelExceptionRecord&, int action, bool&) {
      if (action == 2) std::printf("event %d\n", action);
    });
    ThrowDiscError();
  }
  if (mode == "dlopen" && argc > 3) {
    void* library = ::dlopen(argv[3], RTLD_NOW);
    if (library == nullptr) return 4;
    auto* fail = reinterpret_cast<void (*)()>(::dlsym(library, "CrashlogThrowFromLibrary"));
    if (fail == nullptr) return 5;
    fail();
  }
  if (mode == "dlopenonly" && argc > 3) {
    if (::dlopen(argv[3], RTLD_NOW) == nullptr) return 4;
    std::printf("loaded\n");
    return 0;
  }
  if (mode == "throwloop") {  // a worker that throws and catches all the time
    std::atomic<pid_t> worker_id{0};
    std::thread worker([&] {
      worker_id = ThreadId();
      for (unsigned i = 0;; ++i) {
        try {
          throw std::runtime_error("round " + std::to_string(i));
        } catch (const std::runtime_error&) {
        }
      }
    });
    while (worker_id.load() == 0) std::this_thread::yield();
    std::printf("READY %d %d\n", int(ThreadId()), int(worker_id.load()));
    std::fflush(stdout);
    worker.join();
    return 0;
  }
  // Another exception while a fault's report is made: a worker's throw (throwfault), or one
  // the main thread hands to the application's handler (managerfault).
  if (mode == "throwfault" || mode == "managerfault") {
    static std::atomic<bool> reporting{false};
    qv::SetActionNotify([](qv::TOstrelExceptionRecord& record, int, bool&) {
      // The fault's report has begun: the other exception comes, and waits its turn.
      if (record.external && !reporting.exchange(true)) ::poll(nullptr, 0, 300);
    });
    const auto when_reporting = [] {
      while (!reporting.load()) ::poll(nullptr, 0, 1);
    };
    if (mode == "throwfault") {
      std::thread worker([&] {
        when_reporting();
        WorkerRoutine();
      });
      WriteNull(nullptr);
      worker.join();
    } else {
      std::thread worker([] { WriteNull(nullptr); });
      when_reporting();
      qv::ExceptionManager(std::make_exception_ptr(TDiscError("Handed to the application")));
      worker.join();
    }
    return 0;
  }
  if (mode == "selfqueue") {  // a fault signal the program queues to itself
    sigval value{};
    // A value that looks like the logger's own marks.
    value.sival_ptr = reinterpret_cast<void*>(uintptr_t(0x5157000000000008ull));
    ::sigqueue(::getpid(), SIGSEGV, value);
    std::printf("still alive\n");
    return 42;
  }
  // The program's code runs inside the loader while it holds the lock of its module list.
  if (mode == "loadercallback") {
    ::dl_iterate_phdr(
        [](dl_phdr_info*, size_t, void*) -> int {
          WriteNull(nullptr);
          return 1;
        },
        nullptr);
    return 0;
  }
  if (mode == "loaderworker") {  // a worker that waits inside the loader's callback
    std::thread worker([] {
      ::dl_iterate_phdr(
          [](dl_phdr_info*, size_t, void*) -> int {
            std::printf("READY %d %d\n", int(::getpid()), int(ThreadId()));
            std::fflush(stdout);
            WaitInWorker();
            return 1;
          },
          nullptr);
    });
    worker.join();
    return 0;
  }
  if (mode == "idle") {
    std::thread worker = StartWaitingWorker();
    WaitAMinute();
    worker.join();
    return 0;
  }
  if (mode == "allocating") {  // the main thread spends its time inside the allocator
    std::thread worker = StartWaitingWorker();
    // Blocks too large for the per-thread caches: each call takes the allocator's lock. The
    // blocks are used a little, as a program would.
    char* volatile blocks[16] = {};
    for (unsigned i = 0;; ++i) {
      std::free(blocks[i % 16]);
      const std::size_t size = 4096 + (i % 7) * 8192;
      char* block = static_cast<char*>(std::malloc(size));
      for (std::size_t at = 0; at < size; at += 16) block[at] = char(at);
      blocks[i % 16] = block;
    }
  }
  if (mode == "endingworker") {  // a worker that spends its short life in the C library
    std::atomic<pid_t> worker_id{0};
    std::thread worker([&] {
      std::vector<char> block(64 << 20);
      worker_id = ThreadId();
      for (int i = 0; i < 12; ++i) std::memset(block.data(), i, block.size());
    });
    while (worker_id.load() == 0) std::this_thread::yield();
    std::printf("READY %d %d\n", int(ThreadId()), int(worker_id.load()));
    std::fflush(stdout);
    worker.join();
    WaitAMinute();
    return 0;
  }
  // The main thread holds fault signals off for a moment, or for good.
  if (mode == "blockfirst" || mode == "blockalways") {
    sigset_t faults;
    sigemptyset(&faults);
    sigaddset(&faults, SIGSEGV);
    pthread_sigmask(SIG_BLOCK, &faults, nullptr);
    std::atomic<pid_t> worker_id{0};
    std::thread worker([&] {
      pthread_sigmask(SIG_UNBLOCK, &faults, nullptr);  // the mask came from the main thread
      worker_id = ThreadId();
      WaitInWorker();
    });
    while (worker_id.load() == 0) std::this_thread::yield();
    std::printf("READY %d %d\n", int(ThreadId()), int(worker_id.load()));
    std::fflush(stdout);
    ::poll(nullptr, 0, mode == "blockalways" ? 60000 : 300);
    UnblockAndWaitInMain(faults);
    worker.join();
    return 0;
  }
  if (mode == "tthread") {
    TFailingThread thread;
    thread.Start();
    thread.WaitFor();
    std::printf("continued\n");
    return 0;
  }
  if (mode == "two") {
    pthread_barrier_init(&barrier, nullptr, 2);
    pthread_t first, second;
    pthread_create(&first, nullptr, ThrowAtOnce, nullptr);
    pthread_create(&second, nullptr, ThrowAtOnce, &second);
    JoinAndSay(first);
    JoinAndSay(second);
    std::printf("continued\n");
    return 0;
  }
  if (mode == "filtered") {
    qv::TStringList classes, messages;
    classes.Add("TFilteredError");
    messages.Add("");
    options.SetExceptionFilterClasses(classes);
    options.SetExceptionFilterMessages(messages);
    throw TFilteredError();
  }
  if (mode == "filterbox") {
    qv::SetMessageBoxesUnattended(false);
    qv::TStringList classes, messages;
    classes.Add("TFilteredError");
    messages.Add("Insert a disc.");
    options.SetExceptionFilterClasses(classes);
    options.SetExceptionFilterMessages(messages);
    // On a worker, whose report (and so the box) runs on the worker itself: the box's own loop
    // serves the helper, which notes how the box stands, then closes it. (The main thread's
    // report runs on a thread of its own.)
    pthread_t worker;
    pthread_create(
        &worker, nullptr,
        [](void*) -> void* {
          const qv::HWND helper = qv::AllocateHWnd([](qv::HWND, qv::UINT m, qv::WPARAM,
                                                      qv::LPARAM) -> qv::LRESULT {
            if (m != qv::WM_USER || qv::Screen()->FormCount() == 0) return 0;
            qv::TCustomForm* box = qv::Screen()->Forms(qv::Screen()->FormCount() - 1);
            std::printf("box topmost %d\n", int((qv::GetWindowLong(box->Handle(), qv::GWL_EXSTYLE) &
                                                 qv::WS_EX_TOPMOST) != 0));
            std::fflush(stdout);
            box->SetModalResult(qv::mrOk);
            return 0;
          });
          qv::PostMessage(helper, qv::WM_USER, 0, 0);
          throw TFilteredError();
        },
        nullptr);
    pthread_join(worker, nullptr);
    return 0;
  }
  if (mode == "excluded") {
    // A thread left out of the log ends the way it would without the logger.
    // Excluded twice (the second time while it is listed already), it stays excluded.
    std::thread worker([] {
      qv::ExcludeThreadFromOstrelLog(pid_t(::syscall(SYS_gettid)));
      qv::ExcludeThreadFromOstrelLog(pid_t(::syscall(SYS_gettid)));
      WorkerRoutine();
    });
    worker.join();
    return 0;
  }
  if (mode == "bugprompt") {
    // The log file cannot be written (its name is a folder's, and the state folder cannot be
    // made): an internal error, with the trace on (the last parameter) and those who get
    // reports named.
    const std::string blocked = std::string(argv[2]) + "/blocked.olf";
    ::mkdir(blocked.c_str(), 0700);
    options.SetEMailAddresses("bugs@example.org");
    options.SetOutputPath(blocked);
    ThrowDiscError();
  }
  if (mode == "bugask") {
    qv::SetMessageBoxesUnattended(false);
    qv::SetTraceSwitches("DEBUG");
    try {
      throw std::runtime_error("Stack list is empty");
    } catch (...) {
      qv::InternalError("ExceptNotify");
    }
    std::printf("asked\n");
    return 0;
  }
  if (mode == "debugger") {
    std::printf("debugger present: %d\n", int(qv::DebuggerPresent()));
    std::printf("level at start: %d\n", qv::DebuggerNotifyLevel());
    try {
      throw std::runtime_error("first");
    } catch (const std::exception&) {
    }
    std::printf("level after a throw: %d\n", qv::DebuggerNotifyLevel());
    qv::SetDebuggerNotifyLevel(2);
    try {
      throw std::runtime_error("second");
    } catch (const std::exception&) {
    }
    std::printf("level after the second: %d\n", qv::DebuggerNotifyLevel());
    qv::Warning(qv::eeLogError, "The log file is locked.");
    return 0;
  }
  if (mode == "lifecycle") {
    lifecycle_witness.report = true;
    std::printf("initializing in main: %d\n", int(qv::OstrelLogInitializing()));
    std::fflush(stdout);
    return 0;
  }
  if (mode == "null") WriteNull(argc > 100 ? &argc : nullptr);
  if (mode == "div") return Divide(argc, 0);
  if (mode == "recurse") {
    SAY_LINE();
    return Recurse(0);
  }
  if (mode == "threadslist") {  // a started thread is listed by id and by handle until its end
    struct Seen {
      pid_t id = 0;
      bool by_id = false, by_handle = false;
    } seen;
    pthread_t worker;
    const int started = ::pthread_create(
        &worker, nullptr,
        [](void* out) -> void* {
          auto& s = *static_cast<Seen*>(out);
          s.id = pid_t(::syscall(SYS_gettid));
          qv::TOstrelThreadsList::Entry a, b;
          s.by_id = qv::OstrelThreadsList().FindById(s.id, a) &&
                    ::pthread_equal(a.handle, ::pthread_self()) != 0 && a.parameter == out &&
                    a.stack_top > reinterpret_cast<uintptr_t>(&a);
          s.by_handle = qv::OstrelThreadsList().FindByHandle(::pthread_self(), b) && b.id == s.id;
          return nullptr;
        },
        &seen);
    if (started != 0) return 2;
    ::pthread_join(worker, nullptr);
    qv::TOstrelThreadsList::Entry after;
    std::printf("by id %d, by handle %d, after its end %d\n", int(seen.by_id), int(seen.by_handle),
                int(qv::OstrelThreadsList().FindById(seen.id, after)));
    return 0;
  }
  if (mode == "rethrow") RethrowDiscError();
  if (mode == "rethrowkept") RethrowKeptDiscError();
  if (mode == "forkfault") {  // a forked child faults; prints how it ended
    const pid_t child = ::fork();
    if (child == 0) {
      WriteNull(argc > 100 ? &argc : nullptr);
      ::_exit(0);
    }
    int status = 0;
    for (int i = 0; i < 6000 && ::waitpid(child, &status, WNOHANG) == 0; ++i) ::usleep(10000);
    if (::waitpid(child, &status, WNOHANG) == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      std::printf("child hung\n");
    } else if (WIFSIGNALED(status)) {
      std::printf("child signal %d\n", WTERMSIG(status));
    } else {
      std::printf("child status %d\n", WEXITSTATUS(status));
    }
    return 0;
  }
  if (mode == "inittable") {  // prints whether the last initialisation slot can be written
    uintptr_t last = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
          for (int i = 0; i < info->dlpi_phnum; ++i) {
            if (info->dlpi_phdr[i].p_type != PT_DYNAMIC) continue;
            uintptr_t table = 0, size = 0;
            for (auto* d = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr +
                                                              info->dlpi_phdr[i].p_vaddr);
                 d->d_tag != DT_NULL; ++d) {
              if (d->d_tag == DT_INIT_ARRAY) table = info->dlpi_addr + d->d_un.d_ptr;
              if (d->d_tag == DT_INIT_ARRAYSZ) size = d->d_un.d_val;
            }
            if (table != 0 && size >= sizeof(void*))
              *static_cast<uintptr_t*>(data) = table + size - sizeof(void*);
          }
          return 1;  // the program comes first
        },
        &last);
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
      unsigned long from = 0, to = 0;
      char protection[5] = {};
      if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, protection) == 3 && last >= from &&
          last < to)
        std::printf("slot %s\n", protection);
    }
    return 0;
  }
  if (mode == "single" && single_first_run) {
    // The first run's end is made slow by the memory it leaves to free.
    static std::vector<char> ballast(std::size_t(1) << 30);
    for (std::size_t at = 0; at < ballast.size(); at += 4096) ballast[at] = char(at);
    qv::SetExceptionNotify(
        [](qv::TOstrelExceptionRecord&, bool&) { qv::SetTerminateRequest(qv::otRestart); });
    ThrowDiscError();
  }
  if (mode == "default") {  // the notify hook gives the exception to the default handler
    // Any later failure goes on to the report, which prints its class.
    qv::SetExceptionNotify([](qv::TOstrelExceptionRecord& record, bool& go_on) {
      if (record.class_name == "TDiscError") {
        go_on = false;
      } else {
        std::printf("reported %s\n", record.class_name.c_str());
        std::fflush(stdout);
      }
    });
    ThrowDiscError();
  }
  if (mode == "off") {
    options.SetActivateLog(false);
    ThrowDiscError();
  }
  if ((mode == "restart" || mode == "restartfault") && argc > 3) {
    // Each run notes the signals it blocks; the second one then ends.
    std::ifstream in(argv[3]);
    std::string line;
    const bool again = bool(std::getline(in, line));
    in.close();
    std::ofstream(argv[3], std::ios::app) << "run blocking" << BlockedSignals() << "\n";
    if (again) return 0;
    qv::SetExceptionNotify(
        [](qv::TOstrelExceptionRecord&, bool&) { qv::SetTerminateRequest(qv::otRestart); });
    if (mode == "restartfault") WriteNull(argc > 100 ? &argc : nullptr);
    ThrowDiscError();
  }
  return 3;
}
