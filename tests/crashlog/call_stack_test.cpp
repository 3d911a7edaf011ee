#include "crashlog/call_stack.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include "platform/base/paths.h"

extern "C" int f1(void (*)(void*), void*);

namespace qv {
namespace {

// Three pages: code, an unreadable page, more code.
struct CodePages {
  uint8_t* base = nullptr;
  const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
  CodePages() {
    base = static_cast<uint8_t*>(
        ::mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    std::memset(base, 0xCC, 3 * page);
  }
  ~CodePages() { ::munmap(base, 3 * page); }
  void Seal() { ::mprotect(base + page, page, PROT_NONE); }
  [[nodiscard]] uint8_t* Unreadable() const { return base + page; }
};

void Put32(uint8_t* at, int64_t v) {
  const auto v32 = int32_t(v);
  std::memcpy(at, &v32, 4);
}

std::vector<uintptr_t> Addresses(const TOstrelStackList& list) {
  std::vector<uintptr_t> out;
  for (const auto& e : list) out.push_back(e.address);
  return out;
}

TEST(CallStackTest, EveryCallFormGivesItsEntries) {
  CodePages code;
  uint8_t* readable_target = code.base + 3000;  // begins with 0xCC
  uint8_t* call_target = code.base + 3100;
  call_target[0] = 0xE8;
  uint8_t* slot = code.base + 3200;
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;  // the call, ending at the return address
    int rel_at = -1;             // where a rel32 goes
    uint8_t* rel_to = nullptr;   // and what it reaches
    int call_length = 0;         // 0: no entry
    bool adds_target = false;
  };
  const std::vector<Case> cases = {
      {"direct call adds its target", {0xE8, 0, 0, 0, 0}, 1, readable_target, 5, true},
      {"direct call to a call", {0xE8, 0, 0, 0, 0}, 1, call_target, 5, false},
      {"direct call to unreadable code", {0xE8, 0, 0, 0, 0}, 1, code.Unreadable(), 5, false},
      {"call rax", {0xFF, 0xD0}, -1, nullptr, 2},
      {"call r11", {0x41, 0xFF, 0xD3}, -1, nullptr, 3},
      {"call (rax)", {0xFF, 0x10}, -1, nullptr, 2},
      {"call (r15)", {0x41, 0xFF, 0x17}, -1, nullptr, 3},
      {"call d8(rbp)", {0xFF, 0x55, 0x08}, -1, nullptr, 3},
      {"call d8(r13)", {0x41, 0xFF, 0x55, 0x08}, -1, nullptr, 4},
      {"call (rsp)", {0xFF, 0x14, 0x24}, -1, nullptr, 3},
      {"call d8(rsp)", {0xFF, 0x54, 0x24, 0x10}, -1, nullptr, 4},
      {"call d32(rax)", {0xFF, 0x90, 0x00, 0x01, 0x00, 0x00}, -1, nullptr, 6},
      {"call d32(r14)", {0x41, 0xFF, 0x96, 0x00, 0x01, 0x00, 0x00}, -1, nullptr, 7},
      {"call d32(rsp)", {0xFF, 0x94, 0x24, 0x00, 0x01, 0x00, 0x00}, -1, nullptr, 7},
      {"call (r12)", {0x41, 0xFF, 0x14, 0x24}, -1, nullptr, 4},
      {"call d8(r12)", {0x41, 0xFF, 0x54, 0x24, 0x10}, -1, nullptr, 5},
      {"call d32(r12)", {0x41, 0xFF, 0x94, 0x24, 0x00, 0x01, 0x00, 0x00}, -1, nullptr, 8},
      {"call through a readable slot", {0xFF, 0x15, 0, 0, 0, 0}, 2, slot, 6},
      {"call through an unreadable slot", {0xFF, 0x15, 0, 0, 0, 0}, 2, code.Unreadable(), 0},
      {"no call", {0x48, 0x89, 0xC7}, -1, nullptr, 0},
  };
  code.Seal();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    uint8_t* start = code.base + 64 + i * 32;
    std::memcpy(start, c.bytes.data(), c.bytes.size());
    const uintptr_t ret = uintptr_t(start + c.bytes.size());
    if (c.rel_at >= 0) Put32(start + c.rel_at, intptr_t(c.rel_to) - intptr_t(ret));
    uintptr_t stack[3] = {0x1234, ret, 0};
    const TOstrelStackList list = ScanStack(0, uintptr_t(stack), uintptr_t(stack + 3));
    std::vector<uintptr_t> expected;
    if (c.adds_target) expected.push_back(uintptr_t(c.rel_to));
    if (c.call_length != 0) expected.push_back(ret - c.call_length);
    EXPECT_EQ(Addresses(list), expected);
  }
}

TEST(CallStackTest, UnreadablePageInTheStackIsSkipped) {
  CodePages code;
  uint8_t* call = code.base + 100;
  call[0] = 0xFF;
  call[1] = 0xD0;
  const uintptr_t ret = uintptr_t(call + 2);
  // Stack words in the first and the third page; the second cannot be read.
  auto* first = reinterpret_cast<uintptr_t*>(code.base + code.page - 16);
  auto* third = reinterpret_cast<uintptr_t*>(code.base + 2 * code.page + 8);
  first[0] = ret;
  third[0] = ret;
  code.Seal();
  const TOstrelStackList list =
      ScanStack(0xABC, uintptr_t(code.base + code.page - 64), uintptr_t(code.base + 3 * code.page));
  EXPECT_EQ(Addresses(list), (std::vector<uintptr_t>{0xABC, ret - 2, ret - 2}));
}

struct Captured {
  TOstrelStackList stack;
};

[[gnu::noinline]] void CaptureStack(void* context) {
  pthread_attr_t attr;
  void* low = nullptr;
  std::size_t size = 0;
  pthread_getattr_np(pthread_self(), &attr);
  pthread_attr_getstack(&attr, &low, &size);
  pthread_attr_destroy(&attr);
  static_cast<Captured*>(context)->stack =
      BuildCallStack(0, uintptr_t(__builtin_frame_address(0)), uintptr_t(low) + size);
}

TEST(CallStackTest, ChainInALibraryResolvesThroughItsExports) {
  Captured captured;
  const int call_line = __LINE__ + 1;
  f1(&CaptureStack, &captured);
  std::vector<std::string> names;
  bool own_line_found = false;
  for (const TOstrelStackEntry& e : captured.stack) {
    if (e.kind == skLine && e.unit_name == "call_stack_test.cpp" && e.line == uint32_t(call_line))
      own_line_found = e.FunctionName().find("ChainInALibrary") != std::string::npos;
    if (e.module == nullptr || ExtractFileName(e.module->path) != "libcrashlog_stacklib.so")
      continue;
    EXPECT_EQ(e.kind, skExport);
    if (names.empty() || names.back() != e.procedure_name) names.push_back(e.procedure_name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"f3", "f2", "f1"}));
  // The test program's own frame comes from its line table.
  EXPECT_TRUE(own_line_found);
}

TEST(CallStackTest, ModuleListHoldsProgramAndLibraries) {
  RefreshModulesList();
  const auto list = ModulesList();
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a->handle < b->handle; }));
  char exe[4096];
  ASSERT_NE(::realpath("/proc/self/exe", exe), nullptr);
  bool program = false, libc = false;
  for (const TOstrelModulePtr& listed : list) {
    const TOstrelModulePtr m = GetModuleEntry(listed->handle);
    ASSERT_NE(m, nullptr);
    if (m->path == exe) {
      program = true;
      EXPECT_EQ(m->kind, mkProgram);
      EXPECT_TRUE(m->has_debug);
      // The project's binaries carry version and description in their version section.
      EXPECT_EQ(m->version, "1.0.0.0");
      EXPECT_EQ(m->description, "Quorvel audio-CD ripper");
    }
    if (ExtractFileName(m->path) == "libc.so.6") {
      libc = true;
      struct stat st {};
      ASSERT_EQ(::stat(m->path.c_str(), &st), 0);
      EXPECT_EQ(m->kind, mkLibrary);
      EXPECT_EQ(m->file_size, uint32_t(st.st_size));
      EXPECT_EQ(m->version, "6");
      EXPECT_EQ(m->description, "");
      EXPECT_FALSE(m->functions.empty());
    }
  }
  EXPECT_TRUE(program);
  EXPECT_TRUE(libc);
  // The list is read without the loader's lock, and holds every module with a file that the
  // loader gives.
  std::vector<std::pair<uintptr_t, std::string>> loaded;
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        uintptr_t lowest = UINTPTR_MAX;
        for (int i = 0; i < info->dlpi_phnum; ++i)
          if (info->dlpi_phdr[i].p_type == PT_LOAD)
            lowest = std::min<uintptr_t>(
                lowest, (info->dlpi_addr + info->dlpi_phdr[i].p_vaddr) & ~uintptr_t(0xFFF));
        static_cast<std::vector<std::pair<uintptr_t, std::string>>*>(data)->emplace_back(
            lowest, info->dlpi_name);
        return 0;
      },
      &loaded);
  for (const auto& [handle, name] : loaded) {
    struct stat st {};
    if (&name != &loaded.front().second && ::stat(name.c_str(), &st) != 0) continue;
    EXPECT_TRUE(std::any_of(list.begin(), list.end(), [&](const TOstrelModulePtr& m) {
      return m->handle == handle && (name.empty() || m->path == name);
    })) << name;
  }
}

// A refresh lists a new module without reading it; asking for it then builds it whole.
// An unloaded module leaves the list at the next refresh.
TEST(CallStackTest, RefreshFollowsLoadedModules) {
  const std::string path = std::string(QV_BINARY_DIR) + "/bin/libcrashlog_looselib.so";
  const auto find = [&]() -> TOstrelModulePtr {
    for (const TOstrelModulePtr& m : ModulesList())
      if (m->path == path) return m;
    return nullptr;
  };
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  RefreshModulesList();
  const TOstrelModulePtr listed = find();
  ASSERT_NE(listed, nullptr);
  EXPECT_EQ(listed->kind, mkUnknown);
  EXPECT_TRUE(listed->functions.empty());
  const TOstrelModulePtr built = GetModuleEntry(listed->handle);
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(built->kind, mkLibrary);
  EXPECT_EQ(built->functions.size(), 4u);  // f1, f2, f3, f_unsized
  EXPECT_EQ(find(), built);
  // An estimated size reaches the return byte, which is the routine's own.
  const auto unsized = reinterpret_cast<uintptr_t>(::dlsym(library, "f_unsized"));
  ASSERT_NE(unsized, 0u);
  for (const uintptr_t at : {unsized, unsized + 6}) {
    TOstrelStackEntry entry;
    ResolveAddress(at, entry);
    EXPECT_EQ(entry.procedure_name, "f_unsized") << at - unsized;
  }
  ::dlclose(library);
  RefreshModulesList();
  EXPECT_EQ(find(), nullptr);
}

// A module unloaded and another one loaded at its place: the new one is named, in the list
// and for its routines, not the one that was there.
TEST(CallStackTest, ModuleLoadedWhereAnotherWasIsItself) {
  const std::string first = std::string(QV_BINARY_DIR) + "/bin/libcrashlog_looselib.so";
  const std::string second = std::string(QV_BINARY_DIR) + "/bin/libcrashlog_looselib2.so";
  void* library = ::dlopen(first.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  const auto before = reinterpret_cast<uintptr_t>(::dlsym(library, "f2"));
  const TOstrelModulePtr old_entry = GetModuleEntryOf(before);
  ASSERT_NE(old_entry, nullptr);
  EXPECT_EQ(old_entry->path, first);
  ::dlclose(library);
  library = ::dlopen(second.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  const auto after = reinterpret_cast<uintptr_t>(::dlsym(library, "f2"));
  const TOstrelModulePtr entry = GetModuleEntryOf(after);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->path, second);
  TOstrelStackEntry resolved;
  ResolveAddress(after, resolved);
  ASSERT_NE(resolved.module, nullptr);
  EXPECT_EQ(resolved.module->path, second);
  EXPECT_EQ(resolved.procedure_name, "f2");
  RefreshModulesList();
  for (const TOstrelModulePtr& m : ModulesList()) EXPECT_NE(m->path, first);
  if (after != before) std::printf("(loaded elsewhere this time)\n");
  ::dlclose(library);
}

// Modules are listed while another thread holds the loader's lock for good (it waits inside
// a routine the loader calls back), one linked to load above address 0 included.
TEST(CallStackTest, ModulesAreListedWhileTheLoaderIsHeld) {
  const std::string based = std::string(QV_BINARY_DIR) + "/bin/libcrashlog_basedlib.so";
  void* library = ::dlopen(based.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  std::promise<void> inside, leave;
  std::shared_future<void> may_leave = leave.get_future().share();
  std::thread holder([&] {
    using Signals = std::pair<std::promise<void>*, std::shared_future<void>*>;
    Signals signals(&inside, &may_leave);
    ::dl_iterate_phdr(
        [](dl_phdr_info*, size_t, void* data) -> int {
          auto& [in, out] = *static_cast<Signals*>(data);
          in->set_value();
          out->wait();
          return 1;
        },
        &signals);
  });
  inside.get_future().wait();
  // Listed on a thread that never listed before; the test fails, not hangs, when it waits.
  auto listed = std::async(std::launch::async, [] {
    RefreshModulesList();
    return ModulesList();
  });
  const bool answered = listed.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  leave.set_value();
  holder.join();
  ASSERT_TRUE(answered);
  const auto list = listed.get();
  EXPECT_TRUE(std::any_of(list.begin(), list.end(),
                          [&](const TOstrelModulePtr& m) { return m->path == based; }));
  const auto f2 = reinterpret_cast<uintptr_t>(::dlsym(library, "f2"));
  TOstrelStackEntry resolved;
  ResolveAddress(f2, resolved);
  EXPECT_EQ(resolved.procedure_name, "f2");
  ::dlclose(library);
}

// While the loader's list stays half-changed (its thread may be the one that faulted), the
// last whole list stands in: modules and routines are still named.
r_debug* LoaderDebugArea() {
  for (const ElfW(Dyn)* d = _DYNAMIC; d->d_tag != DT_NULL; ++d)
    if (d->d_tag == DT_DEBUG) return reinterpret_cast<r_debug*>(d->d_un.d_ptr);
  return nullptr;
}

TEST(CallStackTest, ListLeftHalfChangedGivesTheLastWholeOne) {
  r_debug* debug = LoaderDebugArea();
  ASSERT_NE(debug, nullptr);
  const auto routine = reinterpret_cast<uintptr_t>(&f1);
  RefreshModulesList();
  debug->r_state = r_debug::RT_ADD;
  RefreshModulesList();
  // Looked up on another thread at the same time: it is never left with no list.
  std::atomic<bool> stop{false};
  std::atomic<int> lookups{0}, missed{0};
  std::thread other([&] {
    while (!stop.load()) {
      lookups.fetch_add(1);
      if (GetModuleEntryOf(routine) == nullptr) missed.fetch_add(1);
    }
  });
  int empty_lists = 0;
  for (int i = 0; i < 200; ++i) {
    RefreshModulesList();
    if (ModulesList().empty()) ++empty_lists;
  }
  stop = true;
  other.join();
  const TOstrelModulePtr entry = GetModuleEntryOf(routine);
  TOstrelStackEntry resolved;
  ResolveAddress(routine, resolved);
  const auto list = ModulesList();
  debug->r_state = r_debug::RT_CONSISTENT;
  EXPECT_EQ(empty_lists, 0);
  EXPECT_EQ(missed.load(), 0) << "of " << lookups.load();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(ExtractFileName(entry->path), "libcrashlog_stacklib.so");
  EXPECT_EQ(resolved.procedure_name, "f1");
  EXPECT_TRUE(std::any_of(list.begin(), list.end(), [](const TOstrelModulePtr& m) {
    return ExtractFileName(m->path) == "libcrashlog_stacklib.so";
  }));
}

// A module's code ends past its executable segments, and every exported routine lies
// before that end; an exported address that only jumps on through a slot counts as the
// routine it jumps to.
TEST(CallStackTest, CodeEndAndExportThunks) {
  void* libc = ::dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(libc, nullptr);
  const auto getpid_at = reinterpret_cast<uintptr_t>(::dlsym(libc, "getpid"));
  ::dlclose(libc);
  const TOstrelModulePtr m = GetModuleEntryOf(getpid_at);
  ASSERT_NE(m, nullptr);
  const uintptr_t end = GetCodeEnd(m->handle);
  EXPECT_GT(end, getpid_at);
  uint8_t byte = 0;
  EXPECT_TRUE(SafeRead(&byte, end - 1, 1));
  ASSERT_FALSE(m->functions.empty());
  for (const TOstrelFunction& f : m->functions) EXPECT_LT(f.address, end) << f.name;
  EXPECT_EQ(GetCodeEnd(0), 0u);

  CodePages code;
  const uint8_t stub[] = {0xFF, 0x25, 0xFA, 0x07, 0, 0, 0x66, 0x90};  // jmp [rip + 0x7FA]
  std::memcpy(code.base, stub, sizeof stub);
  std::memcpy(code.base + 0x800, &getpid_at, 8);
  EXPECT_EQ(SkipExportThunk(uintptr_t(code.base)), getpid_at);
  EXPECT_EQ(SkipExportThunk(getpid_at), getpid_at);
}

}  // namespace
}  // namespace qv

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cstddef>

namespace qv {
namespace {

// Where a sandbox denies reading memory through the kernel, readable memory is still read and
// unreadable memory still refused (a stack scan would otherwise find nothing at all).
TEST(CallStackTest, MemoryIsReadWhereReadingThroughTheKernelIsDenied) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sock_filter filter[] = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_process_vm_readv, 0, 1),
                            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
                            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
    sock_fprog program{sizeof filter / sizeof filter[0], filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      ::_exit(3);
    std::vector<uint8_t> value(10000), copy(10000);
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = uint8_t(i * 7);
    const bool read = SafeRead(copy.data(), uintptr_t(value.data()), value.size()) && copy == value;
    const bool refused = !SafeRead(copy.data(), 16, 8);
    ::_exit(read ? (refused ? 0 : 2) : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: readable memory refused, 2: unreadable memory read";
}

}  // namespace
}  // namespace qv
