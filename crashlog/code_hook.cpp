#include "crashlog/code_hook.h"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "crashlog/hook_internal.h"
#include "crashlog/trace_log.h"

namespace qv {

EProcNull::EProcNull(std::string_view name)
    : EHookError("Cannot hook a null procedure (\"" + std::string(name) + "\").") {}

ESharedArea::ESharedArea(std::string_view module)
    : EHookError("Cannot hook the module \"" + std::string(module) +
                 "\" located into the shared-area.") {}

EHookingError::EHookingError(std::string_view name)
    : EHookError("Cannot hook the procedure \"" + std::string(name) + "\".") {}

namespace hook_detail {

bool Readable(const void* address, std::size_t count) {
  // Reading through the kernel tells an unmapped address without a fault. The process id
  // comes from the kernel itself: the library's getpid may be hooked.
  std::vector<char> buffer(count);
  const iovec local{buffer.data(), count};
  const iovec remote{const_cast<void*>(address), count};
  const auto self = pid_t(::syscall(SYS_getpid));
  return ::process_vm_readv(self, &local, 1, &remote, 1, 0) == ssize_t(count);
}

}  // namespace hook_detail

namespace {

using hook_detail::Readable;

// A function, since the logger may install its hooks while static objects are still being made.
uintptr_t PageSize() {
  static const uintptr_t size = uintptr_t(::sysconf(_SC_PAGESIZE));
  return size;
}

// Code writes never overlap: one write's restored protection must not cut another's.
std::mutex& CodeWriteLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

// The protection of each page in [first, last], from the process's map.
std::vector<int> PageProtections(uintptr_t first, uintptr_t last) {
  std::vector<int> result;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  std::vector<std::pair<std::pair<uintptr_t, uintptr_t>, int>> areas;
  while (std::getline(maps, line)) {
    std::istringstream in(line);
    uintptr_t from = 0, to = 0;
    char dash = 0;
    std::string perms;
    in >> std::hex >> from >> dash >> to >> perms;
    if (perms.size() < 3) continue;
    const int prot = (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) |
                     (perms[2] == 'x' ? PROT_EXEC : 0);
    areas.push_back({{from, to}, prot});
  }
  for (uintptr_t page = first; page <= last; page += PageSize()) {
    int prot = -1;
    for (const auto& [range, p] : areas) {
      if (page >= range.first && page < range.second) prot = p;
    }
    result.push_back(prot);
  }
  return result;
}

}  // namespace

namespace {

// `previous` holds the protection of each page the bytes touch.
bool WriteCodeWith(void* address, const void* bytes, std::size_t count,
                   const std::vector<int>& previous) {
  if (count == 0) return true;
  if (previous.empty() || std::find(previous.begin(), previous.end(), -1) != previous.end()) {
    return false;
  }
  std::lock_guard guard(CodeWriteLock());
  const auto at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t first = at & ~(PageSize() - 1);
  if (::mprotect(reinterpret_cast<void*>(first), previous.size() * PageSize(),
                 PROT_READ | PROT_WRITE | PROT_EXEC) != 0) {
    return false;
  }
  if ((at & 7) + count <= 8) {
    // Within one aligned word, the bytes change in one store: another thread running this
    // code sees the old instruction or the new one, never half of each.
    auto* word = reinterpret_cast<uint64_t*>(at & ~uintptr_t(7));
    uint64_t value = 0;
    asm volatile("movq (%1), %0" : "=r"(value) : "r"(word) : "memory");
    std::memcpy(reinterpret_cast<char*>(&value) + (at & 7), bytes, count);
    asm volatile("movq %1, (%0)" : : "r"(word), "r"(value) : "memory");
  } else {
    // Plain instructions: the sanitizers keep no shadow for code they could write to.
    void* to = address;
    const void* from = bytes;
    std::size_t n = count;
    asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(n) : : "memory");
  }
  for (std::size_t i = 0; i < previous.size(); ++i) {
    ::mprotect(reinterpret_cast<void*>(first + i * PageSize()), PageSize(), previous[i]);
  }
  __builtin___clear_cache(static_cast<char*>(address), static_cast<char*>(address) + count);
  return true;
}

std::vector<int> ProtectionsAt(const void* address, std::size_t count) {
  const auto at = reinterpret_cast<uintptr_t>(address);
  return PageProtections(at & ~(PageSize() - 1), (at + count - 1) & ~(PageSize() - 1));
}

}  // namespace

bool WriteCode(void* address, const void* bytes, std::size_t count) {
  return count == 0 || WriteCodeWith(address, bytes, count, ProtectionsAt(address, count));
}

void* ResolveImportStub(void* address) {
  auto* p = static_cast<const uint8_t*>(address);
  if (p == nullptr || !Readable(p, 16)) return address;
  std::size_t at = 0;
  if (p[0] == 0xF3 && p[1] == 0x0F && p[2] == 0x1E && p[3] == 0xFA) at = 4;  // endbr64
  if (p[at] == 0xF2) ++at;                                                   // bnd prefix
  if (p[at] != 0xFF || p[at + 1] != 0x25) return address;
  const std::size_t end = at + 6;
  // What follows the jump in each stub form: the lazy-binding push, or padding.
  const bool filler =
      p[end] == 0x68 || p[end] == 0x66 || p[end] == 0x0F || p[end] == 0x90 || p[end] == 0xCC;
  if (!filler) return address;
  int32_t displacement = 0;
  std::memcpy(&displacement, p + at + 2, 4);
  const uint8_t* slot = p + end + displacement;
  if (!Readable(slot, sizeof(void*))) return address;
  void* target = nullptr;
  std::memcpy(&target, slot, sizeof target);
  // A slot not yet bound points back into its own stub.
  const auto t = reinterpret_cast<uintptr_t>(target);
  const auto a = reinterpret_cast<uintptr_t>(address);
  if (target == nullptr || (t >= a && t < a + 16)) return address;
  return target;
}

namespace {

constexpr std::size_t PatchSize = 5;

enum class TrampolineForm { JumpPastPad, LiftHook };

// What the logger keeps per hooked routine; the code lives in its own executable page.
struct HookBlock {
  uint8_t* hooked = nullptr;
  void* replacement = nullptr;
  uint8_t* page = nullptr;
  void* trampoline = nullptr;
  uint8_t saved[PatchSize] = {};
  uint8_t patch[PatchSize] = {};
  TrampolineForm form = TrampolineForm::JumpPastPad;
  std::mutex lock;
  std::vector<int> protections;  // of the entry's pages, read once when hooking
  int users = 0;                 // threads inside a lifting trampoline
  bool hooked_now = true;        // cleared by UnhookProcedure
};

struct HookList {
  std::mutex lock;
  std::vector<HookBlock*> blocks;
  std::vector<HookBlock*> retired;  // unhooked, kept for threads still passing through
};

HookList& Hooks() {
  static auto* list = new HookList;
  return *list;
}

// Return addresses of the trampoline calls this thread is in. A fixed array: the hooked
// routine may be the allocator itself.
constexpr int ReturnStackDepth = 1024;
thread_local void* return_stack[ReturnStackDepth];
thread_local int return_depth = 0;

extern "C" void QvTrampolineEnter(HookBlock* block, void* return_address) {
  if (return_depth == ReturnStackDepth) {
    // Nowhere to keep the way back: continuing would return to a wrong caller.
    static const char message[] = "Hook trampolines nested too deeply\n";
    ::write(STDERR_FILENO, message, sizeof message - 1);
    std::abort();
  }
  return_stack[return_depth++] = return_address;
  std::lock_guard guard(block->lock);
  if (block->users++ == 0 && block->hooked_now) {
    WriteCodeWith(block->hooked, block->saved, PatchSize, block->protections);
  }
}

extern "C" void* QvTrampolineLeave(HookBlock* block) {
  {
    std::lock_guard guard(block->lock);
    if (--block->users == 0 && block->hooked_now) {
      WriteCodeWith(block->hooked, block->patch, PatchSize, block->protections);
    }
  }
  return return_stack[--return_depth];
}

class CodeBuffer {
 public:
  explicit CodeBuffer(uint8_t* at) : at_(at) {}
  CodeBuffer& operator<<(std::initializer_list<uint8_t> bytes) {
    for (const uint8_t b : bytes) *at_++ = b;
    return *this;
  }
  CodeBuffer& Abs64(const void* value) {
    std::memcpy(at_, &value, 8);
    at_ += 8;
    return *this;
  }
  // jmp [rip+0] followed by the target.
  CodeBuffer& JumpTo(const void* target) {
    return (*this << std::initializer_list<uint8_t>{0xFF, 0x25, 0, 0, 0, 0}).Abs64(target);
  }
  [[nodiscard]] uint8_t* At() const { return at_; }

 private:
  uint8_t* at_;
};

// Saves the argument registers, runs `helper(block, r11)` and restores them.
void EmitLiftingTrampoline(CodeBuffer& code, HookBlock* block) {
  using B = std::initializer_list<uint8_t>;
  code << B{0x41, 0x5B};                                                        // pop r11 (return)
  code << B{0x57, 0x56, 0x52, 0x51, 0x41, 0x50, 0x41, 0x51, 0x50, 0x41, 0x52};  // push args
  code << B{0x48, 0x81, 0xEC, 0x80, 0x00, 0x00, 0x00};                          // sub rsp,128
  for (uint8_t i = 0; i < 8; ++i) {  // movdqu [rsp+16i],xmmi
    if (i == 0)
      code << B{0xF3, 0x0F, 0x7F, 0x04, 0x24};
    else
      code << B{0xF3, 0x0F, 0x7F, uint8_t(0x44 | i << 3), 0x24, uint8_t(16 * i)};
  }
  code << B{0x48, 0xBF};
  code.Abs64(block);            // mov rdi, block
  code << B{0x4C, 0x89, 0xDE};  // mov rsi, r11
  code << B{0x48, 0xB8};
  code.Abs64(reinterpret_cast<void*>(&QvTrampolineEnter));  // mov rax, enter
  code << B{0xFF, 0xD0};                                    // call rax
  for (uint8_t i = 0; i < 8; ++i) {                         // movdqu xmmi,[rsp+16i]
    if (i == 0)
      code << B{0xF3, 0x0F, 0x6F, 0x04, 0x24};
    else
      code << B{0xF3, 0x0F, 0x6F, uint8_t(0x44 | i << 3), 0x24, uint8_t(16 * i)};
  }
  code << B{0x48, 0x81, 0xC4, 0x80, 0x00, 0x00, 0x00};                          // add rsp,128
  code << B{0x41, 0x5A, 0x58, 0x41, 0x59, 0x41, 0x58, 0x59, 0x5A, 0x5E, 0x5F};  // pop args
  code << B{0x49, 0xBB};
  code.Abs64(block->hooked);                      // mov r11, hooked
  code << B{0x41, 0xFF, 0xD3};                    // call r11
  code << B{0x50, 0x52, 0x48, 0x83, 0xEC, 0x20};  // push rax,rdx; sub rsp,32
  code << B{0xF3, 0x0F, 0x7F, 0x04, 0x24, 0xF3, 0x0F, 0x7F, 0x4C, 0x24, 0x10};  // keep xmm0,xmm1
  code << B{0x48, 0xBF};
  code.Abs64(block);  // mov rdi, block
  code << B{0x48, 0xB8};
  code.Abs64(reinterpret_cast<void*>(&QvTrampolineLeave));  // mov rax, leave
  code << B{0xFF, 0xD0, 0x49, 0x89, 0xC3};                  // call rax; mov r11,rax
  code << B{0xF3, 0x0F, 0x6F, 0x04, 0x24, 0xF3, 0x0F, 0x6F, 0x4C, 0x24, 0x10};  // xmm0,xmm1 back
  code << B{0x48, 0x83, 0xC4, 0x20, 0x5A, 0x58};  // add rsp,32; pop rdx,rax
  code << B{0x41, 0xFF, 0xE3};                    // jmp r11
}

// A page within reach of a rel32 jump from `near`.
uint8_t* AllocateNear(uintptr_t near) {
  constexpr uintptr_t Step = uintptr_t(1) << 20;
  constexpr uintptr_t Reach = (uintptr_t(1) << 31) - (uintptr_t(1) << 24);
  const uintptr_t base = near & ~(PageSize() - 1);
  for (uintptr_t distance = Step; distance < Reach; distance += Step) {
    for (const int sign : {-1, 1}) {
      if (sign < 0 && distance > base) continue;
      const uintptr_t hint = sign < 0 ? base - distance : base + distance;
      void* page = ::mmap(reinterpret_cast<void*>(hint), PageSize(), PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
      if (page == MAP_FAILED) continue;
      const auto got = reinterpret_cast<uintptr_t>(page);
      const uintptr_t gap = got > near ? got - near : near - got;
      if (gap < Reach) return static_cast<uint8_t*>(page);
      ::munmap(page, PageSize());  // an old kernel took the address as a mere hint
    }
  }
  return nullptr;
}

bool IsNopPad(const uint8_t* entry) {
  static const uint8_t single[PatchSize] = {0x90, 0x90, 0x90, 0x90, 0x90};
  static const uint8_t wide[PatchSize] = {0x0F, 0x1F, 0x44, 0x00, 0x00};
  return std::memcmp(entry, single, PatchSize) == 0 || std::memcmp(entry, wide, PatchSize) == 0;
}

}  // namespace

void* HookProcedure(void* hooked, void* replacement, std::string_view name) {
  TraceScope trace("HookProcedure",
                   {static_cast<const void*>(hooked), static_cast<const void*>(replacement), name});
  hooked = ResolveImportStub(hooked);
  replacement = ResolveImportStub(replacement);
  if (hooked == nullptr || replacement == nullptr) throw EProcNull(name);
  auto* target = static_cast<uint8_t*>(hooked);
  if (!Readable(target, PatchSize)) throw EHookingError(name);

  auto block = std::make_unique<HookBlock>();
  block->hooked = target;
  block->replacement = replacement;
  std::memcpy(block->saved, target, PatchSize);
  block->form = IsNopPad(block->saved) ? TrampolineForm::JumpPastPad : TrampolineForm::LiftHook;
  block->page = AllocateNear(reinterpret_cast<uintptr_t>(target));
  if (block->page == nullptr) throw EHookingError(name);

  // The stub at the page's start leads to the replacement; the trampoline follows.
  CodeBuffer code(block->page);
  code.JumpTo(replacement);
  block->trampoline = block->page + 16;
  CodeBuffer tramp(block->page + 16);
  if (block->form == TrampolineForm::JumpPastPad) {
    tramp.JumpTo(target + PatchSize);
  } else {
    EmitLiftingTrampoline(tramp, block.get());
  }
  ::mprotect(block->page, PageSize(), PROT_READ | PROT_EXEC);

  const int32_t displacement =
      int32_t(reinterpret_cast<intptr_t>(block->page) - reinterpret_cast<intptr_t>(target + 5));
  block->patch[0] = 0xE9;
  std::memcpy(block->patch + 1, &displacement, 4);

  HookList& list = Hooks();
  std::lock_guard guard(list.lock);
  block->protections = ProtectionsAt(target, PatchSize);
  if (!WriteCodeWith(target, block->patch, PatchSize, block->protections)) {
    ::munmap(block->page, PageSize());
    throw EHookingError(name);
  }
  void* trampoline = block->trampoline;
  list.blocks.push_back(block.release());
  return trampoline;
}

void UnhookProcedure(void* trampoline) {
  TraceScope trace("UnhookProcedure", {static_cast<const void*>(trampoline)});
  if (trampoline == nullptr) return;
  HookList& list = Hooks();
  std::lock_guard guard(list.lock);
  const auto it = std::find_if(list.blocks.begin(), list.blocks.end(),
                               [&](const HookBlock* b) { return b->trampoline == trampoline; });
  if (it == list.blocks.end()) return;
  HookBlock* block = *it;
  {
    std::lock_guard block_guard(block->lock);
    block->hooked_now = false;
    // With a thread inside a lifting trampoline the entry holds its own bytes already.
    if (block->users == 0)
      WriteCodeWith(block->hooked, block->saved, PatchSize, block->protections);
  }
  list.blocks.erase(it);
  // The block and its page stay: a thread may still be on its way through them.
  list.retired.push_back(block);
}

void FinalizeHooks() {
  TraceScope trace("FinalizeHooks", {});
  for (;;) {
    void* first = nullptr;
    {
      HookList& list = Hooks();
      std::lock_guard guard(list.lock);
      if (list.blocks.empty()) break;
      first = list.blocks.front()->trampoline;
    }
    UnhookProcedure(first);
  }
  hook_detail::ReverseImportPatches();
}

namespace {

// The hooks are undone when the program ends, as the unit's finalisation does.
struct Finalizer {
  ~Finalizer() { FinalizeHooks(); }
} finalizer;

}  // namespace

}  // namespace qv
