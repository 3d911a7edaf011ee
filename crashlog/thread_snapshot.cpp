#include "crashlog/thread_snapshot.h"

#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>

#include "crashlog/hook_internal.h"
#include "crashlog/trace_log.h"

namespace qv {
namespace {

// The request the handler answers; the taker owns `into` again once the state is `written`,
// or once it took the request back while still `requested`.
enum RequestState : int { idle, requested, writing, written };
std::atomic<int> state{idle};
std::atomic<pid_t> target{0};
TThreadSnapshot* into = nullptr;
uintptr_t stack_top = 0;
sem_t done;
int request_signal = 0;
std::mutex takers;

// Through the kernel, page by page: it stops at the first page not mapped, and never touches
// the sanitizers' poisoned red zones the way a load would.
std::size_t CopyStack(uint64_t* to, uintptr_t from, std::size_t bytes) {
  constexpr uintptr_t Page = 4096;
  std::size_t copied = 0;
  while (copied < bytes) {
    const uintptr_t at = from + copied;
    std::size_t chunk = Page - (at & (Page - 1));
    if (chunk > bytes - copied) chunk = bytes - copied;
    if (!hook_detail::ReadBytes(reinterpret_cast<char*>(to) + copied,
                                reinterpret_cast<const void*>(at), chunk))
      break;
    copied += chunk;
  }
  return copied;
}

void SnapshotHandler(int, siginfo_t* info, void* context) {
  if (info->si_code != SI_TKILL || info->si_pid != ::getpid()) return;
  const int saved_errno = errno;
  int expected = requested;
  if (pid_t(::syscall(SYS_gettid)) == target.load() &&
      state.compare_exchange_strong(expected, writing)) {
    TThreadSnapshot& s = *into;
    s.registers = RegistersOf(*static_cast<const ucontext_t*>(context));
    const uintptr_t sp = s.registers.rsp;
    std::size_t bytes = TThreadSnapshot::MaxStackCopy;
    if (stack_top != 0) bytes = stack_top > sp ? stack_top - sp : 0;
    if (bytes > TThreadSnapshot::MaxStackCopy) bytes = TThreadSnapshot::MaxStackCopy;
    s.bytes = CopyStack(s.stack, sp, bytes / 8 * 8);
    state = written;
    ::sem_post(&done);
  }
  errno = saved_errno;
}

}  // namespace

TOstrelRegisters RegistersOf(const ucontext_t& context) {
  const greg_t* g = context.uc_mcontext.gregs;
  TOstrelRegisters r;
  r.rax = g[REG_RAX], r.rbx = g[REG_RBX], r.rcx = g[REG_RCX], r.rdx = g[REG_RDX];
  r.rsi = g[REG_RSI], r.rdi = g[REG_RDI], r.rbp = g[REG_RBP], r.rsp = g[REG_RSP];
  r.rip = g[REG_RIP], r.r8 = g[REG_R8], r.r9 = g[REG_R9], r.r10 = g[REG_R10];
  r.r11 = g[REG_R11], r.r12 = g[REG_R12], r.r13 = g[REG_R13], r.r14 = g[REG_R14];
  r.r15 = g[REG_R15];
  return r;
}

bool InstallThreadSnapshots() {
  static const bool installed = [] {
    ::sem_init(&done, 0, 0);
    for (int signal = SIGRTMIN + 1; signal <= SIGRTMAX; ++signal) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_sigaction = &SnapshotHandler;
      action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
      ::sigemptyset(&action.sa_mask);
      if (::sigaction(signal, &action, nullptr) != 0) continue;
      request_signal = signal;
      return true;
    }
    return false;
  }();
  return installed;
}

int ThreadSnapshotSignal() {
  return request_signal;
}

bool TakeThreadSnapshot(pid_t thread, uintptr_t top, TThreadSnapshot& snapshot) {
  TraceScope trace("TakeThreadSnapshot", {int(thread)});
  if (request_signal == 0 || thread == 0) return trace.Result(false);
  const std::lock_guard lock(takers);
  into = &snapshot;
  stack_top = top;
  target = thread;
  state = requested;
  if (::syscall(SYS_tgkill, ::getpid(), thread, request_signal) != 0) {
    state = idle;
    return trace.Result(false);
  }
  timespec deadline{};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += 2;
  while (::sem_clockwait(&done, CLOCK_MONOTONIC, &deadline) != 0) {
    if (errno == EINTR) continue;
    // Too late: unless the handler is writing already, it must now leave the snapshot alone.
    int expected = requested;
    if (state.compare_exchange_strong(expected, idle)) return trace.Result(false);
    while (::sem_wait(&done) != 0 && errno == EINTR) {
    }
    break;
  }
  const bool taken = state.load() == written;
  state = idle;
  return trace.Result(taken);
}

}  // namespace qv
