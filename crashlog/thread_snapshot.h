// A snapshot of a running thread: its registers and a copy of its stack from the stack pointer
// up, taken by a real-time signal whose handler copies them and returns at once, so the thread
// is never held and keeps every lock it holds for no longer than a copy takes. The freeze
// watchdog takes the main thread's this way, and the report pipeline the thread a signal sent
// from outside names.
#pragma once

#include <sys/types.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

#include "crashlog/log_report.h"

namespace qv {

// The registers of a signal's context.
[[nodiscard]] TOstrelRegisters RegistersOf(const ucontext_t& context);

struct TThreadSnapshot {
  // As much of a stack as is copied: enough for a main loop's stack from a deep handler.
  static constexpr std::size_t MaxStackCopy = std::size_t(1) << 20;
  TOstrelRegisters registers;
  std::size_t bytes = 0;  // copied from registers.rsp up
  uint64_t stack[MaxStackCopy / 8];
};

// Sets up the signal that carries the requests (the first real-time signal nobody handles);
// false when none is free. Called once at start-up, before any request.
bool InstallThreadSnapshots();
// That signal (0 before it is set up): a handler that must not be looked into blocks it.
[[nodiscard]] int ThreadSnapshotSignal();

// Takes the snapshot of `thread`, copying its stack up to `stack_top` (as far as it is mapped,
// up to MaxStackCopy; 0 = its top is not known). False when the thread does not answer in
// time: it ended, blocks the signal, or a debugger stopped it. One request at a time is made;
// a second taker waits for the first.
bool TakeThreadSnapshot(pid_t thread, uintptr_t stack_top, TThreadSnapshot& into);

}  // namespace qv
