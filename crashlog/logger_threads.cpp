// The threads the exception logger lists: every thread started through pthread_create while it
// is active is listed from its start to its end, with its stack, and gets an alternate signal
// stack on which its faults are taken; an exception that leaves its start routine is reported
// and ends only that thread.
#include <cxxabi.h>
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>

#include <exception>
#include <memory>
#include <mutex>

#include "crashlog/except_internal.h"
#include "crashlog/except_notify.h"
#include "crashlog/trace_log.h"

namespace qv {
namespace ostrel {

PthreadCreate real_pthread_create = nullptr;

namespace {

constexpr std::size_t AltStackSize = 256 << 10;

void* MapAltStack() {
  void* memory =
      ::mmap(nullptr, AltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = AltStackSize;
  if (::sigaltstack(&stack, nullptr) == 0) return memory;
  ::munmap(memory, AltStackSize);
  return nullptr;
}

// A thread's stack goes when the thread ends: short threads come and go by the thousand. The
// stack the thread had before (a sanitizer runtime's, say) is put back, so that whoever made
// it frees it.
struct ThreadAltStack {
  stack_t previous{};
  void* memory = nullptr;
  ThreadAltStack() {
    if (::sigaltstack(nullptr, &previous) == 0) memory = MapAltStack();
  }
  ThreadAltStack(const ThreadAltStack&) = delete;
  ThreadAltStack& operator=(const ThreadAltStack&) = delete;
  ~ThreadAltStack() {
    if (memory == nullptr) return;
    if ((previous.ss_flags & SS_DISABLE) != 0) previous = stack_t{nullptr, SS_DISABLE, 0};
    if (::sigaltstack(&previous, nullptr) == 0) ::munmap(memory, AltStackSize);
  }
};

struct ThreadRegistration {
  pid_t id = ThreadId();
  ~ThreadRegistration() {
    OstrelThreadsList().Remove(id);
    // Its number may be given to another thread: that one is not excluded.
    ExcludeThreadFromOstrelLog(id, false);
  }
};

struct ThreadStart {
  void* (*start)(void*);
  void* parameter;
};

// What a thread started through the logger holds until it ends: its entry in the list and its
// signal stack. A thread-specific key's destructor lets them go, after the thread's own
// thread_local objects are gone; unlike a thread_local object's, it needs no loader lock to be
// set up (a thread a library's constructor starts and waits for, while its loading thread
// holds that lock, would wait for ever).
struct ThreadHold {
  ThreadRegistration registration;
  ThreadAltStack alt_stack;
};
pthread_key_t thread_hold_key;
bool thread_hold_key_made = false;
pthread_once_t thread_hold_once = PTHREAD_ONCE_INIT;

// Null once the key holds it; a thread the key cannot serve keeps it to its start routine's
// end.
std::unique_ptr<ThreadHold> HoldThread() {
  ::pthread_once(&thread_hold_once, [] {
    thread_hold_key_made = ::pthread_key_create(&thread_hold_key, [](void* hold) {
                             delete static_cast<ThreadHold*>(hold);
                           }) == 0;
  });
  auto hold = std::make_unique<ThreadHold>();
  if (thread_hold_key_made && ::pthread_setspecific(thread_hold_key, hold.get()) == 0)
    (void)hold.release();
  return hold;
}

}  // namespace

// The main thread's stack serves until the process ends.
void InstallAltStack() {
  (void)MapAltStack();
}

void* HookedThreadProc(void* argument) {
  const ThreadStart start = *static_cast<ThreadStart*>(argument);
  delete static_cast<ThreadStart*>(argument);
  // Entered when the thread starts, left when its start routine ends (a thread that is
  // cancelled or calls pthread_exit leaves it with no result).
  TraceScope trace("HookedThreadProc",
                   {reinterpret_cast<const void*>(start.start), start.parameter});
  const std::unique_ptr<ThreadHold> unheld = HoldThread();
  TOstrelThreadsList::Entry entry{ThreadId(), pthread_self(), start.start, start.parameter, 0};
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* base = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &base, &size) == 0) entry.stack_top = uintptr_t(base) + size;
    pthread_attr_destroy(&attr);
  }
  OstrelThreadsList().Add(entry);
  try {
    return trace.Result(start.start(start.parameter));
  } catch (const abi::__forced_unwind&) {
    throw;  // pthread_exit or a cancellation on its way out
  } catch (...) {
    // As without the logger, for a thread left out of the log.
    if (!active.load() || Excluded(ThreadId())) std::terminate();
    // Reported (at its throw, as a rule); the thread ends with exit code 1 and the program
    // goes on.
    (void)ReportUncaught(std::current_exception());
    return trace.Result(reinterpret_cast<void*>(1));
  }
}

int HookedCreateThread(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                       void* parameter) {
  // The slots lead here a moment before the routine they led to is noted: a thread started
  // meanwhile (a report's own, for a signal sent while the logger installs) finds it itself.
  PthreadCreate real = real_pthread_create;
  if (real == nullptr)
    real = reinterpret_cast<PthreadCreate>(::dlsym(RTLD_DEFAULT, "pthread_create"));
  if (real == nullptr) return EAGAIN;
  if (!active.load()) return real(thread, attr, start, parameter);
  TraceScope trace("HookedCreateThread", {reinterpret_cast<const void*>(start), parameter});
  auto* boot = new ThreadStart{start, parameter};
  const int result = real(thread, attr, &HookedThreadProc, boot);
  if (result != 0) delete boot;
  return trace.Result(result);
}

}  // namespace ostrel

void TOstrelThreadsList::Add(const Entry& entry) {
  std::lock_guard guard(lock_);
  entries_[entry.id] = entry;
}

void TOstrelThreadsList::Remove(pid_t id) {
  std::lock_guard guard(lock_);
  entries_.erase(id);
}

bool TOstrelThreadsList::FindById(pid_t id, Entry& found) const {
  std::lock_guard guard(lock_);
  const auto it = entries_.find(id);
  if (it == entries_.end()) return false;
  found = it->second;
  return true;
}

bool TOstrelThreadsList::FindByHandle(pthread_t handle, Entry& found) const {
  std::lock_guard guard(lock_);
  for (const auto& [id, entry] : entries_) {
    if (::pthread_equal(entry.handle, handle) == 0) continue;
    found = entry;
    return true;
  }
  return false;
}

TOstrelThreadsList& OstrelThreadsList() {
  static auto* list = new TOstrelThreadsList;
  return *list;
}

}  // namespace qv
