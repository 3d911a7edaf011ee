#include "crashlog/code_hook.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>

#include "platform/base/paths.h"
#include "tests/crashlog/hook_targets.h"
#include "tests/fixtures/temp_dir.h"

extern "C" int CrashlogHookLibPid();

namespace qv {
namespace {

using test::MixedFn;

std::atomic<MixedFn> original{nullptr};
std::atomic<int> replacement_calls{0};

// Changes the first argument on the way in and marks the result on the way out.
double Replacement(long i1, double d1, long i2, double d2, long i3, double d3, long i4, double d4,
                   long i5, long i6, long i7, long i8) {
  ++replacement_calls;
  return original.load()(i1 + 100, d1, i2, d2, i3, d3, i4, d4, i5, i6, i7, i8) + 1e6;
}

std::vector<uint8_t> Entry(const void* routine) {
  const auto* p = static_cast<const uint8_t*>(routine);
  return {p, p + 5};
}

TEST(CodeHookTest, ReplacementRunsAndReachesTheOriginalThroughTheTrampoline) {
  for (const MixedFn target : {&test::PaddedMixed, &test::PlainMixed}) {
    SCOPED_TRACE(target == &test::PaddedMixed ? "padded entry" : "plain entry");
    volatile MixedFn call = target;  // keeps the calls from being folded
    const double plain = call(1, 0.5, -2, 1.25, 3, -0.75, 4, 2.5, 5, 6, -7, 8);
    const std::vector<uint8_t> saved = Entry(reinterpret_cast<void*>(target));
    replacement_calls = 0;
    void* trampoline = HookProcedure(reinterpret_cast<void*>(target),
                                     reinterpret_cast<void*>(&Replacement), "Mixed");
    original = reinterpret_cast<MixedFn>(trampoline);

    // The entry is now a relative jump within reach.
    const std::vector<uint8_t> patched = Entry(reinterpret_cast<void*>(target));
    EXPECT_EQ(patched[0], 0xE9);
    for (int round = 0; round < 3; ++round) {
      EXPECT_EQ(call(1, 0.5, -2, 1.25, 3, -0.75, 4, 2.5, 5, 6, -7, 8), plain + 100 + 1e6);
      // The hook is in place again after each call through the trampoline.
      EXPECT_EQ(Entry(reinterpret_cast<void*>(target)), patched);
    }
    EXPECT_EQ(replacement_calls, 3);

    UnhookProcedure(trampoline);
    EXPECT_EQ(Entry(reinterpret_cast<void*>(target)), saved);
    EXPECT_EQ(call(1, 0.5, -2, 1.25, 3, -0.75, 4, 2.5, 5, 6, -7, 8), plain);
    EXPECT_EQ(replacement_calls, 3);
    UnhookProcedure(trampoline);  // unknown now: nothing happens
    UnhookProcedure(nullptr);
  }
}

// Hand-made routines in a page of their own: what their first instructions reach (data by
// RIP-relative address, a called routine, a conditional branch's target) is what the
// trampoline's moved copy reaches.
class HandMadeCode {
 public:
  HandMadeCode() {
    page_ = static_cast<uint8_t*>(::mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC,
                                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    std::memset(page_, 0xCC, 4096);
  }
  ~HandMadeCode() { ::munmap(page_, 4096); }
  HandMadeCode(const HandMadeCode&) = delete;
  HandMadeCode& operator=(const HandMadeCode&) = delete;
  void* Put(std::size_t offset, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), page_ + offset);
    return page_ + offset;
  }
  uint8_t* At(std::size_t offset) { return page_ + offset; }

 private:
  uint8_t* page_;
};

using IntFn = long (*)(long);
std::atomic<IntFn> int_original{nullptr};
long TimesTen(long x) {
  return int_original.load()(x) * 10;
}

TEST(CodeHookTest, MovedEntryInstructionsReachWhatTheyReachedBefore) {
  HandMadeCode code;
  const uint64_t stored = 0x112233445566;
  std::memcpy(code.At(0x800), &stored, 8);
  // mov rax,[rip+0x7F9] (the stored value); ret
  auto* load = reinterpret_cast<IntFn>(code.Put(0x0, {0x48, 0x8B, 0x05, 0xF9, 0x07, 0, 0, 0xC3}));
  // test edi,edi; je +6; mov eax,7; ret; mov eax,9; ret
  auto* branch = reinterpret_cast<IntFn>(
      code.Put(0x100, {0x85, 0xFF, 0x74, 0x06, 0xB8, 7, 0, 0, 0, 0xC3, 0xB8, 9, 0, 0, 0, 0xC3}));
  // call +0x3B (mov eax,5; ret); add eax,edi; ret
  auto* call = reinterpret_cast<IntFn>(code.Put(0x200, {0xE8, 0x3B, 0, 0, 0, 0x01, 0xF8, 0xC3}));
  code.Put(0x240, {0xB8, 5, 0, 0, 0, 0xC3});
  ASSERT_EQ(uint64_t(load(0)), stored);
  ASSERT_EQ(branch(0), 9);
  ASSERT_EQ(branch(1), 7);
  ASSERT_EQ(call(2), 7);
  const struct {
    IntFn routine;
    long argument, expected;
  } cases[] = {{load, 0, long(stored * 10)}, {branch, 0, 90}, {branch, 1, 70}, {call, 2, 70}};
  for (const auto& c : cases) {
    int_original = reinterpret_cast<IntFn>(HookProcedure(
        reinterpret_cast<void*>(c.routine), reinterpret_cast<void*>(&TimesTen), "HandMade"));
    volatile IntFn routine = c.routine;
    EXPECT_EQ(routine(c.argument), c.expected);
    UnhookProcedure(reinterpret_cast<void*>(int_original.load()));
    EXPECT_EQ(routine(c.argument), c.expected / 10);
  }
}

std::atomic<IntFn> plus_original{nullptr};
long PlusOne(long x) {
  return plus_original.load()(x) + 1;
}

// A second hook on a routine leads through the first: the first may only go after it, or
// the routine would be left jumping into a dropped block.
TEST(CodeHookTest, RoutineHookedTwiceIsUndoneLatestFirst) {
  HandMadeCode code;
  // mov rax,rdi; nop; nop; ret
  void* identity = code.Put(0, {0x48, 0x89, 0xF8, 0x90, 0x90, 0xC3});
  volatile IntFn call = reinterpret_cast<IntFn>(identity);
  const std::vector<uint8_t> saved = Entry(identity);
  const auto hook_twice = [&] {
    int_original = reinterpret_cast<IntFn>(
        HookProcedure(identity, reinterpret_cast<void*>(&TimesTen), "Identity"));
    plus_original = reinterpret_cast<IntFn>(
        HookProcedure(identity, reinterpret_cast<void*>(&PlusOne), "Identity"));
    EXPECT_EQ(call(3), 31);
  };
  hook_twice();
  FinalizeHooks();
  EXPECT_EQ(Entry(identity), saved);
  EXPECT_EQ(call(3), 3);

  hook_twice();
  try {
    UnhookProcedure(reinterpret_cast<void*>(int_original.load()));
    ADD_FAILURE() << "the earlier hook went first";
  } catch (const EHookingError& e) {
    EXPECT_STREQ(e.what(), "Cannot hook the procedure \"Identity\".");
  }
  EXPECT_EQ(call(3), 31);
  UnhookProcedure(reinterpret_cast<void*>(plus_original.load()));
  EXPECT_EQ(call(3), 30);
  UnhookProcedure(reinterpret_cast<void*>(int_original.load()));
  EXPECT_EQ(Entry(identity), saved);
  EXPECT_EQ(call(3), 3);
}

// A routine unloaded while hooked, with other bytes mapped where it was: its hook goes without
// writing anything there.
TEST(CodeHookTest, HookOfARoutineUnloadedSinceWritesNothingBack) {
  const auto page = std::size_t(::sysconf(_SC_PAGESIZE));
  auto* code = static_cast<uint8_t*>(
      ::mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(code, MAP_FAILED);
  const uint8_t identity[] = {0x48, 0x89, 0xF8, 0x90, 0x90, 0xC3};  // mov rax,rdi; nop; nop; ret
  std::memcpy(code, identity, sizeof identity);
  ASSERT_EQ(::mprotect(code, page, PROT_READ | PROT_EXEC), 0);
  void* trampoline = HookProcedure(code, reinterpret_cast<void*>(&TimesTen), "Unloaded");
  ASSERT_EQ(::munmap(code, page), 0);
  auto* other =
      static_cast<uint8_t*>(::mmap(code, page, PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0));
  ASSERT_EQ(other, code);
  std::memset(other, 0x5A, 16);
  UnhookProcedure(trampoline);
  EXPECT_EQ(std::vector<uint8_t>(other, other + 16), std::vector<uint8_t>(16, 0x5A));
  // Gone from the list: finalisation writes nothing there either.
  FinalizeHooks();
  EXPECT_EQ(std::vector<uint8_t>(other, other + 16), std::vector<uint8_t>(16, 0x5A));
  ::munmap(other, page);
}

std::atomic<IntFn> minus_original{nullptr};
long MinusOne(long x) {
  return minus_original.load()(x) - 1;
}

// A hook whose patch can no longer be written over (its page now maps a read-only file) stays;
// finalisation still undoes the hooks of the other routines.
TEST(CodeHookTest, FinalisationGoesPastAHookItCannotUndo) {
  HandMadeCode a_code, b_code, c_code;
  const std::initializer_list<uint8_t> identity = {0x48, 0x89, 0xF8, 0x90, 0x90, 0xC3};
  volatile IntFn a = reinterpret_cast<IntFn>(a_code.Put(0, identity));
  volatile IntFn b = reinterpret_cast<IntFn>(b_code.Put(0, identity));
  volatile IntFn c = reinterpret_cast<IntFn>(c_code.Put(0, identity));
  plus_original = reinterpret_cast<IntFn>(
      HookProcedure(reinterpret_cast<void*>(a), reinterpret_cast<void*>(&PlusOne), "A"));
  int_original = reinterpret_cast<IntFn>(
      HookProcedure(reinterpret_cast<void*>(b), reinterpret_cast<void*>(&TimesTen), "B"));
  minus_original = reinterpret_cast<IntFn>(
      HookProcedure(reinterpret_cast<void*>(c), reinterpret_cast<void*>(&MinusOne), "C"));
  test::TempDir dir;
  const std::string file = (dir.Path() / "page").string();
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b_code.At(0)), 4096);
  }
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::mmap(b_code.At(0), 4096, PROT_READ | PROT_EXEC, MAP_SHARED | MAP_FIXED, fd, 0),
            b_code.At(0));
  ::close(fd);
  EXPECT_THROW(UnhookProcedure(reinterpret_cast<void*>(int_original.load())), EHookingError);
  FinalizeHooks();
  EXPECT_EQ(a(3), 3);
  EXPECT_EQ(c(3), 3);
  EXPECT_EQ(b(3), 30);
}

// A routine shorter than the patch, or one whose first instructions branch back among
// themselves, cannot be patched without breaking what follows.
TEST(CodeHookTest, EntryThatCannotBeMovedIsRefused) {
  HandMadeCode code;
  void* tiny = code.Put(0, {0xC3, 0x90, 0x90, 0x90, 0x90, 0xC3});  // ret; what follows
  // xor eax,eax; jne to itself (within the patch's bytes); nop; ret
  void* back = code.Put(0x100, {0x31, 0xC0, 0x75, 0xFE, 0x90, 0xC3});
  // xor eax,eax; 1: inc eax; cmp eax,10; jl 1b; ret: the loop's branch lies past the moved
  // instructions but lands among them.
  void* loop = code.Put(0x200, {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x7C, 0xF9, 0xC3});
  // A branch back among the moved instructions that follows an early ret, reached by a
  // forward branch over it.
  void* late = code.Put(
      0x300, {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x7D, 0x01, 0xC3, 0xEB, 0xF6, 0xCC});
  // A jump table's jump through a register, then a case that branches back among the moved
  // instructions: xor eax,eax; 1: inc eax; cmp eax,10; jmp *%rcx; jmp 1b; ret
  void* table =
      code.Put(0x400, {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0xFF, 0xE1, 0xEB, 0xF7, 0xC3});
  // The same with a case that returns first: ...; jmp *%rcx; ret; jmp 1b
  void* later_case = code.Put(
      0x500, {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0xFF, 0xE1, 0xC3, 0xEB, 0xF6, 0xCC});
  // A table in memory indexed by a register: ...; jmp *0x10(,%rcx,8); jmp 1b
  void* indexed = code.Put(0x600, {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0xFF, 0x24, 0xCD, 0x10,
                                   0x00, 0x00, 0x00, 0xEB, 0xF2, 0xCC});
  // Indexed by r12: ...; jmp *0x10(,%r12,8); jmp 1b
  void* indexed_r12 = code.Put(0x700, {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x42, 0xFF, 0x24,
                                       0xE5, 0x10, 0x00, 0x00, 0x00, 0xEB, 0xF1, 0xCC});
  for (void* routine : {tiny, back, loop, late, table, later_case, indexed, indexed_r12}) {
    const std::vector<uint8_t> before = Entry(routine);
    try {
      HookProcedure(routine, reinterpret_cast<void*>(&TimesTen), "Tiny");
      ADD_FAILURE() << "hooked";
    } catch (const EHookingError& e) {
      EXPECT_STREQ(e.what(), "Cannot hook the procedure \"Tiny\".");
    }
    EXPECT_EQ(Entry(routine), before);
  }
  EXPECT_EQ(reinterpret_cast<IntFn>(loop)(0), 10);
}

// A page holding a stub of each PLT form, jumping through a slot that holds `target`.
TEST(CodeHookTest, ImportStubsResolveThroughTheirSlot) {
  void* page = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  auto* p = static_cast<uint8_t*>(page);
  void* target = reinterpret_cast<void*>(&test::PlainMixed);
  std::memcpy(p + 2048, &target, 8);
  const struct {
    std::vector<uint8_t> prefix, suffix;
    bool resolves;
  } cases[] = {
      {{0xFF, 0x25}, {0x68, 1, 0, 0, 0}, true},                          // lazy PLT
      {{0xFF, 0x25}, {0x66, 0x90}, true},                                // .plt.got
      {{0xF3, 0x0F, 0x1E, 0xFA, 0xF2, 0xFF, 0x25}, {0x0F, 0x1F}, true},  // .plt.sec
      {{0xFF, 0x25}, {0x48, 0x89}, false},                               // an ordinary jump
      {{0xFF, 0x15}, {0x66, 0x90}, false},                               // a call
  };
  for (const auto& c : cases) {
    std::memset(p, 0xCC, 64);
    std::memcpy(p, c.prefix.data(), c.prefix.size());
    const int32_t displacement = int32_t(2048 - (c.prefix.size() + 4));
    std::memcpy(p + c.prefix.size(), &displacement, 4);
    std::memcpy(p + c.prefix.size() + 4, c.suffix.data(), c.suffix.size());
    EXPECT_EQ(ResolveImportStub(p), c.resolves ? target : page);
  }
  // A slot not bound yet leads back into its stub: the stub is what counts.
  void* self = p + 6;
  std::memcpy(p + 2048, &self, 8);
  const uint8_t lazy[] = {0xFF, 0x25, 0xFA, 0x07, 0, 0, 0x68, 0, 0, 0, 0};
  std::memcpy(p, lazy, sizeof lazy);
  EXPECT_EQ(ResolveImportStub(p), page);
  ::munmap(page, 4096);
  EXPECT_EQ(ResolveImportStub(nullptr), nullptr);
}

pid_t FakeGetpid() {
  return 4242;
}

TEST(CodeHookTest, HookImportRedirectsGetpidUntilFinalisation) {
  const pid_t real = pid_t(::syscall(SYS_getpid));
  ASSERT_EQ(::getpid(), real);
  ASSERT_EQ(CrashlogHookLibPid(), real);
  void* former = nullptr;
  const std::vector<std::string> modules = {ExtractFileName(ExeName()), "libcrashlog_hooklib.so"};
  ASSERT_TRUE(HookImport(modules, "libc.so.6", "getpid", reinterpret_cast<void*>(&FakeGetpid),
                         false, &former));
  EXPECT_EQ(former, ::dlsym(RTLD_NEXT, "getpid"));
  EXPECT_EQ(::getpid(), 4242);
  EXPECT_EQ(CrashlogHookLibPid(), 4242);
  FinalizeHooks();
  EXPECT_EQ(::getpid(), real);
  EXPECT_EQ(CrashlogHookLibPid(), real);
}

// The writable segments of a loaded library, where its import slots lie.
std::vector<uint8_t> WritableSegments(void* handle) {
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) return {};
  std::pair<uintptr_t, std::vector<uint8_t>> found{map->l_addr, {}};
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto& [base, bytes] = *static_cast<std::pair<uintptr_t, std::vector<uint8_t>>*>(data);
        if (info->dlpi_addr != base) return 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& p = info->dlpi_phdr[i];
          if (p.p_type != PT_LOAD || (p.p_flags & PF_W) == 0) continue;
          const auto* at = reinterpret_cast<const uint8_t*>(base + p.p_vaddr);
          bytes.insert(bytes.end(), at, at + p.p_memsz);
        }
        return 1;
      },
      &found);
  return found.second;
}

int FakeValue() {
  return 99;
}

// A slot that a library binds to its own copy of the routine is not the named library's
// routine and stays as it is; a slot not bound yet leads to its own lazy-binding stub and
// is patched; the reversal puts back exactly what the slots held.
TEST(CodeHookTest, HookImportLeavesSlotsBoundToTheModulesOwnRoutine) {
  const std::string bin = std::string(QV_BINARY_DIR) + "/bin/";
  const std::string base_path = bin + "libcrashlog_ownbase.so";
  void* base = ::dlopen(base_path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  void* own = ::dlopen((bin + "libcrashlog_ownlib.so").c_str(), RTLD_LAZY | RTLD_LOCAL);
  ASSERT_NE(base, nullptr);
  ASSERT_NE(own, nullptr);
  const auto own_call = reinterpret_cast<int (*)()>(::dlsym(own, "CrashlogOwnCall"));
  const auto own_pid = reinterpret_cast<int (*)()>(::dlsym(own, "CrashlogOwnPid"));
  ASSERT_NE(own_call, nullptr);
  ASSERT_NE(own_pid, nullptr);
  ASSERT_EQ(own_call(), 2);  // binds the library's slot to its own copy
  const std::vector<uint8_t> before = WritableSegments(own);
  ASSERT_FALSE(before.empty());

  const std::vector<std::string> modules = {"libcrashlog_ownlib.so"};
  EXPECT_FALSE(HookImport(modules, base_path, "CrashlogOwnValue",
                          reinterpret_cast<void*>(&FakeValue), true));
  EXPECT_EQ(own_call(), 2);
  EXPECT_TRUE(
      HookImport(modules, "libc.so.6", "getpid", reinterpret_cast<void*>(&FakeGetpid), false));
  EXPECT_EQ(own_pid(), 4242);
  FinalizeHooks();
  EXPECT_EQ(WritableSegments(own), before);
  EXPECT_EQ(own_call(), 2);
  EXPECT_EQ(own_pid(), pid_t(::syscall(SYS_getpid)));
  ::dlclose(own);
  ::dlclose(base);
}

TEST(CodeHookTest, FailuresCarryTheirTexts) {
  const struct {
    std::function<void()> attempt;
    std::string message;
  } cases[] = {
      {[] { HookProcedure(nullptr, reinterpret_cast<void*>(&FakeGetpid), "Missing"); },
       "Cannot hook a null procedure (\"Missing\")."},
      {[] { HookImport({"nowhere.so"}, "libc.so.6", "no_such_routine", nullptr, false); },
       "Cannot hook a null procedure (\"libc.so.6.no_such_routine\")."},
      {[] {
         HookImport({"nowhere.so"}, "libc.so.6", "getppid", reinterpret_cast<void*>(&FakeGetpid),
                    false);
       },
       "Cannot hook the procedure \"libc.so.6.getppid\"."},
      {[] { throw ESharedArea("libc.so.6"); },
       "Cannot hook the module \"libc.so.6\" located into the shared-area."},
  };
  for (const auto& c : cases) {
    try {
      c.attempt();
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const EHookError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
  EXPECT_FALSE(HookImport({"nowhere.so"}, "libc.so.6", "getppid",
                          reinterpret_cast<void*>(&FakeGetpid), true));
}

}  // namespace
}  // namespace qv
