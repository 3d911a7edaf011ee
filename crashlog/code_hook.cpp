#include "crashlog/code_hook.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include <Zydis/Zydis.h>

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

namespace {

// The bytes passed through a pipe: writing from memory that cannot be read fails with
// EFAULT, as reading it through the kernel does, without a fault. Straight to the kernel: a
// sanitizer's checked write would read the bytes itself, and a signal handler may call this.
bool ReadThroughPipe(void* destination, const void* address, std::size_t count) {
  int fds[2];
  if (::syscall(SYS_pipe2, fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  bool ok = true;
  for (std::size_t at = 0; ok && at < count;) {
    const std::size_t piece = std::min<std::size_t>(count - at, 4096);
    ok = ::syscall(SYS_write, fds[1], static_cast<const char*>(address) + at, piece) ==
             long(piece) &&
         ::syscall(SYS_read, fds[0], static_cast<char*>(destination) + at, piece) == long(piece);
    at += piece;
  }
  ::syscall(SYS_close, fds[0]);
  ::syscall(SYS_close, fds[1]);
  return ok;
}

}  // namespace

bool ReadBytes(void* destination, const void* address, std::size_t count) {
  if (count == 0) return true;
  if (reinterpret_cast<uintptr_t>(address) + count < reinterpret_cast<uintptr_t>(address))
    return false;
  // Reading through the kernel tells an unmapped address without a fault, and reads what a
  // sanitizer keeps out of bounds (any address may be asked about). The process id comes
  // from the kernel itself: the library's getpid may be hooked.
  const iovec local{destination, count};
  const iovec remote{const_cast<void*>(address), count};
  const auto self = pid_t(::syscall(SYS_getpid));
  const ssize_t n = ::process_vm_readv(self, &local, 1, &remote, 1, 0);
  if (n == ssize_t(count)) return true;
  // Denied (a sandbox's filter of system calls): a pipe tells readable from unreadable too.
  if (n >= 0 || (errno != EPERM && errno != ENOSYS)) return false;
  return ReadThroughPipe(destination, address, count);
}

bool Readable(const void* address, std::size_t count) {
  std::vector<char> buffer(count);
  return ReadBytes(buffer.data(), address, count);
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

bool WriteCode(void* address, const void* bytes, std::size_t count) {
  if (count == 0) return true;
  // The protections are read under the lock: read outside it, they could be another
  // write's temporary ones, which this write would then leave in place.
  std::lock_guard guard(CodeWriteLock());
  const auto at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t first = at & ~(PageSize() - 1);
  const std::vector<int> previous = PageProtections(first, (at + count - 1) & ~(PageSize() - 1));
  if (std::find(previous.begin(), previous.end(), -1) != previous.end()) return false;
  const auto page = [&](std::size_t i) { return reinterpret_cast<void*>(first + i * PageSize()); };
  // Writable for the write; executable only when it was (other threads may be running it).
  for (std::size_t i = 0; i < previous.size(); ++i) {
    if (::mprotect(page(i), PageSize(), previous[i] | PROT_READ | PROT_WRITE) != 0) {
      while (i-- > 0) ::mprotect(page(i), PageSize(), previous[i]);
      return false;
    }
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
  for (std::size_t i = 0; i < previous.size(); ++i) ::mprotect(page(i), PageSize(), previous[i]);
  __builtin___clear_cache(static_cast<char*>(address), static_cast<char*>(address) + count);
  return true;
}

void* ResolveImportStub(void* address) {
  uint8_t p[16];
  if (address == nullptr || !hook_detail::ReadBytes(p, address, sizeof p)) return address;
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
  const uint8_t* slot = static_cast<const uint8_t*>(address) + end + displacement;
  void* target = nullptr;
  if (!hook_detail::ReadBytes(&target, slot, sizeof target)) return address;
  // A slot not yet bound points back into its own stub.
  const auto t = reinterpret_cast<uintptr_t>(target);
  const auto a = reinterpret_cast<uintptr_t>(address);
  if (target == nullptr || (t >= a && t < a + 16)) return address;
  return target;
}

namespace {

constexpr std::size_t PatchSize = 5;

// What the logger keeps per hooked routine; the code lives in its own executable page.
struct HookBlock {
  uint8_t* hooked = nullptr;
  void* replacement = nullptr;
  uint8_t* page = nullptr;
  void* trampoline = nullptr;
  uint8_t saved[PatchSize] = {};
  std::string name;  // for the refusal to unhook it out of turn
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

class CodeBuffer {
 public:
  explicit CodeBuffer(uint8_t* at) : at_(at) {}
  CodeBuffer& operator<<(std::initializer_list<uint8_t> bytes) {
    for (const uint8_t b : bytes) *at_++ = b;
    return *this;
  }
  CodeBuffer& Bytes(const uint8_t* bytes, std::size_t count) {
    std::memcpy(at_, bytes, count);
    at_ += count;
    return *this;
  }
  CodeBuffer& Abs64(uintptr_t value) {
    std::memcpy(at_, &value, 8);
    at_ += 8;
    return *this;
  }
  // jmp [rip+0] followed by the target.
  CodeBuffer& JumpTo(uintptr_t target) {
    return (*this << std::initializer_list<uint8_t>{0xFF, 0x25, 0, 0, 0, 0}).Abs64(target);
  }
  [[nodiscard]] uint8_t* At() const { return at_; }

 private:
  uint8_t* at_;
};

// Adds the targets of the relative branches in the rest of the routine, from `from` on, to
// `targets`: a branch back into the moved bytes would land inside the patch. The routine
// ends at a ret or unconditional jump that no branch seen so far passes (after a jump table's
// jump, at padding); the scan stops
// early at code it cannot read or decode, and at its bound.
void ScanRoutineBranches(const ZydisDecoder& decoder, uintptr_t from,
                         std::vector<uintptr_t>& targets) {
  constexpr std::size_t MaxInstruction = 15;
  constexpr uintptr_t MaxExtent = 64 * 1024;
  uintptr_t furthest = from;  // the furthest forward branch target seen
  bool table = false;         // a jump table's jump was seen
  for (uintptr_t ip = from; ip - from < MaxExtent;) {
    uint8_t bytes[MaxInstruction];
    // The last instruction may sit at the end of a mapping: read less when needed.
    std::size_t count = sizeof bytes;
    while (count > 0 && !hook_detail::ReadBytes(bytes, reinterpret_cast<const void*>(ip), count))
      --count;
    ZydisDecodedInstruction in;
    if (count == 0 ||
        ZYAN_FAILED(ZydisDecoderDecodeInstruction(&decoder, nullptr, bytes, count, &in)))
      return;
    const uintptr_t next = ip + in.length;
    if ((in.attributes & ZYDIS_ATTRIB_IS_RELATIVE) != 0 && in.raw.imm[0].is_relative) {
      const uintptr_t target = next + uintptr_t(in.raw.imm[0].value.s);
      targets.push_back(target);
      if (target > furthest && target - from < MaxExtent) furthest = target;
    }
    // A jump through a register, or through a table indexed by one, is a jump table's: the
    // cases reached through it follow, in no order the scan can know, so from there on only
    // padding, code it cannot decode or the bound end it. A jump through one memory word is
    // a tail call.
    if (in.mnemonic == ZYDIS_MNEMONIC_JMP && (in.attributes & ZYDIS_ATTRIB_IS_RELATIVE) == 0 &&
        (in.raw.modrm.mod == 3 ||
         (in.raw.modrm.rm == 4 && (in.raw.sib.index | (in.raw.rex.X << 3)) != 4)))
      table = true;
    if (in.mnemonic == ZYDIS_MNEMONIC_INT3 && table) return;
    const bool ends = in.mnemonic == ZYDIS_MNEMONIC_RET || in.mnemonic == ZYDIS_MNEMONIC_JMP ||
                      in.mnemonic == ZYDIS_MNEMONIC_UD2 || in.mnemonic == ZYDIS_MNEMONIC_HLT;
    if (ends && !table && next > furthest) return;
    ip = next;
  }
}

// The routine's first instructions, as many as the patch covers, moved to `out` and followed
// by a jump to the instruction after them: the trampoline runs them in their place, so the
// patch stays in the entry while other threads call the routine. Relative operands are made
// to reach what they reached before. False when they cannot be moved: a routine that ends
// (or jumps away) within the patch's bytes, a branch among them, a relative form with no
// equivalent here, or data out of reach of the trampoline.
bool MoveEntryInstructions(const uint8_t* entry, CodeBuffer& out) {
  ZydisDecoder decoder;
  if (ZYAN_FAILED(ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64)))
    return false;
  constexpr std::size_t MaxInstruction = 15;
  std::vector<uintptr_t> branch_targets;
  std::size_t covered = 0;
  while (covered < PatchSize) {
    const uint8_t* at = entry + covered;
    uint8_t bytes[MaxInstruction];
    if (!hook_detail::ReadBytes(bytes, at, sizeof bytes)) return false;
    ZydisDecodedInstruction in;
    if (ZYAN_FAILED(ZydisDecoderDecodeInstruction(&decoder, nullptr, bytes, sizeof bytes, &in)))
      return false;
    const auto ip = reinterpret_cast<uintptr_t>(at);
    const uintptr_t next = ip + in.length;
    covered += in.length;
    const bool ends = in.mnemonic == ZYDIS_MNEMONIC_RET || in.mnemonic == ZYDIS_MNEMONIC_JMP ||
                      in.mnemonic == ZYDIS_MNEMONIC_INT3 || in.mnemonic == ZYDIS_MNEMONIC_UD2 ||
                      in.mnemonic == ZYDIS_MNEMONIC_HLT;
    // What follows a routine's end may be another routine, or a branch target.
    if (ends && covered < PatchSize) return false;
    if ((in.attributes & ZYDIS_ATTRIB_IS_RELATIVE) != 0 && in.raw.imm[0].is_relative) {
      const uintptr_t target = next + uintptr_t(in.raw.imm[0].value.s);
      branch_targets.push_back(target);
      const bool short_jcc =
          in.opcode_map == ZYDIS_OPCODE_MAP_DEFAULT && (in.opcode & 0xF0) == 0x70;
      const bool near_jcc = in.opcode_map == ZYDIS_OPCODE_MAP_0F && (in.opcode & 0xF0) == 0x80;
      if (in.mnemonic == ZYDIS_MNEMONIC_JMP) {
        out.JumpTo(target);
      } else if (in.mnemonic == ZYDIS_MNEMONIC_CALL) {
        // call [rip+2]; jmp over the address; the address.
        out << std::initializer_list<uint8_t>{0xFF, 0x15, 0x02, 0, 0, 0, 0xEB, 0x08};
        out.Abs64(target);
      } else if (short_jcc || near_jcc) {
        // The opposite condition jumps over an absolute jump to the target.
        out << std::initializer_list<uint8_t>{uint8_t(0x70 | ((in.opcode & 0x0F) ^ 1)), 14};
        out.JumpTo(target);
      } else {
        return false;  // loop, jrcxz, xbegin: no equivalent within reach
      }
      continue;
    }
    const uint8_t* moved = out.At();
    out.Bytes(bytes, in.length);
    const bool rip_relative = (in.attributes & ZYDIS_ATTRIB_HAS_MODRM) != 0 &&
                              in.raw.modrm.mod == 0 && in.raw.modrm.rm == 5 &&
                              in.raw.disp.size == 32;
    if (rip_relative) {
      const uintptr_t data = next + uintptr_t(in.raw.disp.value);
      const auto moved_next = reinterpret_cast<uintptr_t>(moved) + in.length;
      const auto displacement = intptr_t(data - moved_next);
      if (displacement != intptr_t(int32_t(displacement))) return false;
      const auto value = int32_t(displacement);
      std::memcpy(const_cast<uint8_t*>(moved) + in.raw.disp.offset, &value, 4);
    }
  }
  const auto start = reinterpret_cast<uintptr_t>(entry);
  ScanRoutineBranches(decoder, start + covered, branch_targets);
  for (const uintptr_t target : branch_targets) {
    if (target > start && target < start + covered) return false;
  }
  out.JumpTo(start + covered);
  return true;
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

}  // namespace

void* HookProcedure(void* hooked, void* replacement, std::string_view name) {
  TraceScope trace("HookProcedure",
                   {static_cast<const void*>(hooked), static_cast<const void*>(replacement), name});
  hooked = ResolveImportStub(hooked);
  replacement = ResolveImportStub(replacement);
  if (hooked == nullptr || replacement == nullptr) throw EProcNull(name);
  auto* target = static_cast<uint8_t*>(hooked);
  if (!Readable(target, PatchSize)) throw EHookingError(name);

  // Held from the entry's first read to the patch: a second hook of the routine made at the
  // same time saves this one's patch, not the bytes this one saved.
  HookList& list = Hooks();
  std::lock_guard guard(list.lock);
  auto block = std::make_unique<HookBlock>();
  block->hooked = target;
  block->replacement = replacement;
  block->name = name;
  std::memcpy(block->saved, target, PatchSize);
  block->page = AllocateNear(reinterpret_cast<uintptr_t>(target));
  if (block->page == nullptr) throw EHookingError(name);

  // The stub at the page's start leads to the replacement; the trampoline follows.
  CodeBuffer code(block->page);
  code.JumpTo(reinterpret_cast<uintptr_t>(replacement));
  block->trampoline = block->page + 16;
  CodeBuffer tramp(block->page + 16);
  if (!MoveEntryInstructions(target, tramp)) {
    ::munmap(block->page, PageSize());
    throw EHookingError(name);
  }
  ::mprotect(block->page, PageSize(), PROT_READ | PROT_EXEC);

  const int32_t displacement =
      int32_t(reinterpret_cast<intptr_t>(block->page) - reinterpret_cast<intptr_t>(target + 5));
  uint8_t patch[PatchSize] = {0xE9};
  std::memcpy(patch + 1, &displacement, 4);

  if (!WriteCode(target, patch, PatchSize)) {
    ::munmap(block->page, PageSize());
    throw EHookingError(name);
  }
  void* trampoline = block->trampoline;
  list.blocks.push_back(block.release());
  return trace.Result(trampoline);
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
  // A later hook on the same routine saved this one's patch and leads through this block:
  // writing these saved bytes would cut it off, and its own would later restore the patch
  // of a dropped block. Hooks of one routine go last first.
  if (std::any_of(it + 1, list.blocks.end(),
                  [&](const HookBlock* b) { return b->hooked == block->hooked; })) {
    throw EHookingError(block->name);
  }
  // The saved bytes go back only over this block's own patch: a routine unloaded since (its
  // page gone, or something else there now) is left alone.
  uint8_t patch[PatchSize] = {0xE9};
  const int32_t displacement = int32_t(reinterpret_cast<intptr_t>(block->page) -
                                       reinterpret_cast<intptr_t>(block->hooked + 5));
  std::memcpy(patch + 1, &displacement, 4);
  uint8_t now[PatchSize];
  if (hook_detail::ReadBytes(now, block->hooked, PatchSize) &&
      std::memcmp(now, patch, PatchSize) == 0 &&
      !WriteCode(block->hooked, block->saved, PatchSize)) {
    // Not written back: the patch still leads through the block, which stays listed.
    throw EHookingError(block->name);
  }
  list.blocks.erase(it);
  // The block and its page stay: a thread may still be on its way through them.
  list.retired.push_back(block);
}

void FinalizeHooks() {
  TraceScope trace("FinalizeHooks", {});
  // The latest first: a routine hooked twice gets its own entry back, not the first hook's. One
  // whose patch cannot be taken out stays, with the hooks of its routine before it.
  std::vector<std::pair<void*, uint8_t*>> latest_first;
  {
    HookList& list = Hooks();
    std::lock_guard guard(list.lock);
    for (auto b = list.blocks.rbegin(); b != list.blocks.rend(); ++b)
      latest_first.emplace_back((*b)->trampoline, (*b)->hooked);
  }
  std::vector<uint8_t*> kept;
  for (const auto& [trampoline, routine] : latest_first) {
    if (std::find(kept.begin(), kept.end(), routine) != kept.end()) continue;
    try {
      UnhookProcedure(trampoline);
    } catch (const EHookError&) {
      kept.push_back(routine);
    }
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
