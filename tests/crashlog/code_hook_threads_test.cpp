#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "crashlog/code_hook.h"
#include "tests/crashlog/hook_targets.h"

namespace qv {
namespace {

using test::MixedFn;

std::atomic<MixedFn> original{nullptr};
std::atomic<long> replacement_calls{0};

double Replacement(long i1, double d1, long i2, double d2, long i3, double d3, long i4, double d4,
                   long i5, long i6, long i7, long i8) {
  replacement_calls.fetch_add(1, std::memory_order_relaxed);
  return original.load()(i1, d1, i2, d2, i3, d3, i4, d4, i5, i6, i7, i8);
}

using IntFn = long (*)(long);
std::atomic<IntFn> times_original{nullptr}, plus_original{nullptr};
long TimesTen(long x) {
  return times_original.load()(x) * 10;
}
long PlusOne(long x) {
  return plus_original.load()(x) + 1;
}

// Two threads hook one routine at the same moment: both hooks hold, one leading through the
// other, and both go at the end.
TEST(CodeHookThreadsTest, TwoThreadsHookingOneRoutineKeepBothHooks) {
  const auto page = std::size_t(::sysconf(_SC_PAGESIZE));
  auto* code = static_cast<uint8_t*>(
      ::mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(code, MAP_FAILED);
  const uint8_t identity[] = {0x48, 0x89, 0xF8, 0x90, 0x90, 0xC3};  // mov rax,rdi; nop; nop; ret
  std::memcpy(code, identity, sizeof identity);
  ASSERT_EQ(::mprotect(code, page, PROT_READ | PROT_EXEC), 0);
  volatile IntFn call = reinterpret_cast<IntFn>(code);
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    std::atomic<bool> go{false};
    std::thread times([&] {
      while (!go.load()) {
      }
      times_original = reinterpret_cast<IntFn>(
          HookProcedure(code, reinterpret_cast<void*>(&TimesTen), "Identity"));
    });
    std::thread plus([&] {
      while (!go.load()) {
      }
      plus_original = reinterpret_cast<IntFn>(
          HookProcedure(code, reinterpret_cast<void*>(&PlusOne), "Identity"));
    });
    go = true;
    times.join();
    plus.join();
    const long both = call(3);
    EXPECT_TRUE(both == 31 || both == 40) << both;
    FinalizeHooks();
    EXPECT_EQ(std::memcmp(code, identity, sizeof identity), 0);
    EXPECT_EQ(call(3), 3);
  }
}

// Every thread's call must come back to its own caller with its own result: a return
// address shared between threads would send one of them elsewhere.
TEST(CodeHookThreadsTest, EightThreadsCallThroughOneTrampoline) {
  constexpr int Threads = 8;
  constexpr int Calls = 100000;
  for (const MixedFn target : {&test::PaddedMixed, &test::PlainMixed}) {
    SCOPED_TRACE(target == &test::PaddedMixed ? "padded entry" : "plain entry");
    replacement_calls = 0;
    original = reinterpret_cast<MixedFn>(HookProcedure(
        reinterpret_cast<void*>(target), reinterpret_cast<void*>(&Replacement), "Mixed"));
    std::atomic<long> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
      threads.emplace_back([&, t] {
        volatile MixedFn call = target;
        for (long i = 0; i < Calls; ++i) {
          const double expected =
              test::Checksum(i, 0.5 * t, t, 1.5, -i, 2.0, 3, 0.25, t, i, -t, 9) +
              (target == &test::PlainMixed ? 0.5 : 0.0);
          if (call(i, 0.5 * t, t, 1.5, -i, 2.0, 3, 0.25, t, i, -t, 9) != expected) ++wrong;
        }
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
    // The entry stays patched while threads run through the trampoline: every call goes
    // through the replacement.
    EXPECT_EQ(replacement_calls, long(Threads) * Calls);
    UnhookProcedure(reinterpret_cast<void*>(original.load()));
  }
}

// The protection of the page at `address` as the process's map shows it, e.g. "r--p".
std::string MapsProtection(const void* address) {
  std::ifstream maps("/proc/self/maps");
  const auto at = reinterpret_cast<uintptr_t>(address);
  for (std::string line; std::getline(maps, line);) {
    std::istringstream in(line);
    uintptr_t from = 0, to = 0;
    char dash = 0;
    std::string perms;
    in >> std::hex >> from >> dash >> to >> perms;
    if (at >= from && at < to) return perms;
  }
  return "";
}

// Two threads writing into one page: each write restores the protection the page had
// before any of them, never the other's temporary one, and a page that was not executable
// is never made executable, not even for the write.
TEST(CodeHookThreadsTest, ConcurrentWritesRestoreThePageProtection) {
  for (const int prot : {PROT_READ, PROT_READ | PROT_EXEC}) {
    const bool code = (prot & PROT_EXEC) != 0;
    SCOPED_TRACE(code ? "code page" : "data page");
    auto* page = static_cast<uint8_t*>(
        ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(page, MAP_FAILED);
    ASSERT_EQ(::mprotect(page, 4096, prot), 0);
    std::atomic<bool> done{false}, executable{false};
    std::thread observer([&] {
      while (!done) {
        if (MapsProtection(page).substr(2, 1) == "x") executable = true;
      }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t) {
      writers.emplace_back([page, t] {
        for (uint64_t i = 1; i <= 200; ++i) EXPECT_TRUE(WriteCode(page + 64 * t, &i, sizeof i));
      });
    }
    for (std::thread& t : writers) t.join();
    done = true;
    observer.join();
    EXPECT_EQ(MapsProtection(page), code ? "r-xp" : "r--p");
    if (!code) {
      EXPECT_FALSE(executable);
    }
    EXPECT_EQ(page[0], 200);
    EXPECT_EQ(page[64], 200);
    ::munmap(page, 4096);
  }
}

}  // namespace
}  // namespace qv
