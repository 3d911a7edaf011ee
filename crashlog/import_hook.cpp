#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "crashlog/code_hook.h"
#include "crashlog/hook_internal.h"
#include "crashlog/trace_log.h"
#include "platform/base/paths.h"

namespace qv {
namespace {

using hook_detail::Readable;

struct LoadedModule {
  std::string path;
  uintptr_t base = 0;
  const ElfW(Phdr) * phdr = nullptr;
  int phnum = 0;
};

// A slot HookImport changed, with the value it held before.
struct ChangedSlot {
  void** slot = nullptr;
  void* held = nullptr;
};

// One successful HookImport on one module.
struct ImportPatch {
  uintptr_t module = 0;
  void* former = nullptr;
  void* replacement = nullptr;
  std::vector<ChangedSlot> slots;
};

struct ImportPatchList {
  std::mutex lock;
  std::vector<ImportPatch> patches;
};

ImportPatchList& ImportPatches() {
  static auto* list = new ImportPatchList;
  return *list;
}

std::vector<LoadedModule> LoadedModules() {
  std::vector<LoadedModule> modules;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto& list = *static_cast<std::vector<LoadedModule>*>(data);
        std::string path = info->dlpi_name != nullptr ? info->dlpi_name : "";
        // The program itself comes first, without a name.
        if (path.empty() && list.empty()) path = ExeName();
        if (!path.empty())
          list.push_back({path, info->dlpi_addr, info->dlpi_phdr, info->dlpi_phnum});
        return 0;
      },
      &modules);
  return modules;
}

// Readability asked of the kernel only for what no earlier answer covers, a page-aligned
// span at a time: a module's tables and slots lie together, and each question is a system
// call. A span larger than one question may copy is asked in pieces of that size, and
// answers that meet are kept as one span, so that a large table is one entry to look through.
class ReadablePages {
 public:
  bool Check(const void* address, std::size_t size) {
    const auto start = reinterpret_cast<uintptr_t>(address);
    if (size == 0) return true;
    if (start + size < start || start + size > UINTPTR_MAX - 0xFFF) return false;
    for (const auto& [from, to] : known_)
      if (start >= from && start + size <= to) return true;
    const uintptr_t from = start & ~uintptr_t(0xFFF);
    const uintptr_t to = (start + size + 0xFFF) & ~uintptr_t(0xFFF);
    for (uintptr_t piece = from; piece < to; piece += std::min(MaxSpan, to - piece)) {
      const uintptr_t end = piece + std::min(MaxSpan, to - piece);
      if (!Readable(reinterpret_cast<const void*>(piece), end - piece)) return false;
      if (!known_.empty() && known_.back().second == piece)
        known_.back().second = end;
      else
        known_.emplace_back(piece, end);
    }
    return true;
  }

 private:
  static constexpr uintptr_t MaxSpan = uintptr_t(16) << 20;
  std::vector<std::pair<uintptr_t, uintptr_t>> known_;
};

// The import slots named by a module's dynamic relocations (calls through the PLT and
// addresses taken of imported routines), with the name of the symbol each one binds.
struct ImportSlot {
  void** slot = nullptr;
  const char* symbol = nullptr;
  long lazy_index = -1;  // a PLT slot's relocation index, which its lazy-binding stub pushes
};

std::vector<ImportSlot> ImportSlots(const LoadedModule& module, ReadablePages& readable) {
  std::vector<ImportSlot> slots;
  const ElfW(Dyn)* dynamic = nullptr;
  for (int i = 0; i < module.phnum; ++i) {
    if (module.phdr[i].p_type == PT_DYNAMIC) {
      dynamic = reinterpret_cast<const ElfW(Dyn)*>(module.base + module.phdr[i].p_vaddr);
    }
  }
  if (dynamic == nullptr) return slots;
  uintptr_t symtab = 0, strtab = 0, jmprel = 0, rela = 0;
  std::size_t strsz = 0, pltrelsz = 0, relasz = 0;
  int64_t pltrel = DT_RELA;
  // The loader has relocated these addresses in most modules but not in all.
  const auto address = [&](const ElfW(Dyn) & d) {
    return d.d_un.d_ptr < module.base ? module.base + d.d_un.d_ptr : uintptr_t(d.d_un.d_ptr);
  };
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
    switch (d->d_tag) {
      case DT_SYMTAB:
        symtab = address(*d);
        break;
      case DT_STRTAB:
        strtab = address(*d);
        break;
      case DT_STRSZ:
        strsz = d->d_un.d_val;
        break;
      case DT_JMPREL:
        jmprel = address(*d);
        break;
      case DT_PLTRELSZ:
        pltrelsz = d->d_un.d_val;
        break;
      case DT_PLTREL:
        pltrel = int64_t(d->d_un.d_val);
        break;
      case DT_RELA:
        rela = address(*d);
        break;
      case DT_RELASZ:
        relasz = d->d_un.d_val;
        break;
      default:
        break;
    }
  }
  if (symtab == 0 || strtab == 0) return slots;
  const auto scan = [&](uintptr_t table, std::size_t size, bool plt) {
    if (table == 0 || !readable.Check(reinterpret_cast<void*>(table), size)) return;
    const auto* r = reinterpret_cast<const ElfW(Rela)*>(table);
    // The symbols the table names, asked about at once.
    std::size_t last = 0;
    for (std::size_t i = 0; i < size / sizeof(ElfW(Rela)); ++i)
      last = std::max<std::size_t>(last, ELF64_R_SYM(r[i].r_info));
    if (size >= sizeof(ElfW(Rela)))
      (void)readable.Check(reinterpret_cast<const void*>(symtab), (last + 1) * sizeof(ElfW(Sym)));
    for (std::size_t i = 0; i < size / sizeof(ElfW(Rela)); ++i) {
      const auto type = ELF64_R_TYPE(r[i].r_info);
      if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) continue;
      const auto* sym = reinterpret_cast<const ElfW(Sym)*>(symtab) + ELF64_R_SYM(r[i].r_info);
      if (!readable.Check(sym, sizeof *sym) || sym->st_name >= strsz) continue;
      slots.push_back({reinterpret_cast<void**>(module.base + r[i].r_offset),
                       reinterpret_cast<const char*>(strtab + sym->st_name),
                       plt && type == R_X86_64_JUMP_SLOT ? long(i) : -1});
    }
  };
  if (pltrel == DT_RELA) scan(jmprel, pltrelsz, true);
  scan(rela, relasz, false);
  return slots;
}

bool InModule(const LoadedModule& module, uintptr_t address) {
  for (int i = 0; i < module.phnum; ++i) {
    const ElfW(Phdr)& p = module.phdr[i];
    if (p.p_type != PT_LOAD) continue;
    const uintptr_t start = module.base + p.p_vaddr;
    if (address >= start && address < start + p.p_memsz) return true;
  }
  return false;
}

// True when the slot is not bound yet: it still leads to its own lazy-binding stub in the
// module's PLT, which pushes the slot's relocation index ("push imm32", after an endbr64
// in the stubs built for indirect-branch tracking). A slot bound to anything else, the
// module's own copy of a routine of that name included, is bound.
bool LeadsToOwnStub(const LoadedModule& module, const ImportSlot& slot, void* value) {
  const auto at = reinterpret_cast<uintptr_t>(value);
  uint8_t p[9];
  if (slot.lazy_index < 0 || !InModule(module, at) || !hook_detail::ReadBytes(p, value, sizeof p))
    return false;
  const std::size_t push = p[0] == 0xF3 && p[1] == 0x0F && p[2] == 0x1E && p[3] == 0xFA ? 4 : 0;
  uint32_t index = 0;
  std::memcpy(&index, p + push + 1, sizeof index);
  return p[push] == 0x68 && index == uint32_t(slot.lazy_index);
}

// Points every import slot of the module that holds `look_for` at `new_address`, and the
// slots of `routine` that the loader has not bound yet. Returns the slots changed.
std::vector<ChangedSlot> RewriteSlots(const LoadedModule& module, const std::string& routine,
                                      void* look_for, void* new_address) {
  std::vector<ChangedSlot> changed;
  ReadablePages readable;
  const std::vector<ImportSlot> slots = ImportSlots(module, readable);
  // The slots lie together (the module's GOT): asked about at once.
  if (!slots.empty()) {
    const auto [low, high] = std::minmax_element(
        slots.begin(), slots.end(),
        [](const ImportSlot& a, const ImportSlot& b) { return a.slot < b.slot; });
    (void)readable.Check(low->slot, std::size_t(reinterpret_cast<uintptr_t>(high->slot) -
                                                reinterpret_cast<uintptr_t>(low->slot)) +
                                        sizeof(void*));
  }
  for (const ImportSlot& s : slots) {
    if (!readable.Check(s.slot, sizeof(void*))) continue;
    void* current = __atomic_load_n(s.slot, __ATOMIC_ACQUIRE);
    const bool unbound = routine == s.symbol && LeadsToOwnStub(module, s, current);
    if (current != look_for && !unbound) continue;
    if (WriteCode(s.slot, &new_address, sizeof new_address)) changed.push_back({s.slot, current});
  }
  return changed;
}

}  // namespace

bool HookImport(const std::vector<std::string>& modules, std::string_view library,
                std::string_view routine, void* replacement, bool quiet, void** former) {
  TraceScope trace("HookImport", {library, routine, static_cast<const void*>(replacement), quiet});
  const std::string name = std::string(library) + "." + std::string(routine);
  void* current = nullptr;
  if (void* handle = ::dlopen(std::string(library).c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
    current = ::dlsym(handle, std::string(routine).c_str());
    ::dlclose(handle);
  }
  if (current == nullptr || replacement == nullptr) throw EProcNull(name);
  if (former != nullptr) *former = current;

  bool any = false;
  for (const LoadedModule& module : LoadedModules()) {
    const bool listed = std::any_of(modules.begin(), modules.end(), [&](const std::string& m) {
      return m == module.path || m == ExtractFileName(module.path);
    });
    if (!listed) continue;
    std::vector<ChangedSlot> changed =
        RewriteSlots(module, std::string(routine), current, replacement);
    if (changed.empty()) continue;
    any = true;
    ImportPatchList& list = ImportPatches();
    std::lock_guard guard(list.lock);
    list.patches.push_back({module.base, current, replacement, std::move(changed)});
  }
  if (!any && !quiet) throw EHookingError(name);
  return trace.Result(any);
}

namespace hook_detail {

void ReverseImportPatches() {
  TraceScope trace("ReverseImportPatches", {});
  std::vector<ImportPatch> patches;
  {
    ImportPatchList& list = ImportPatches();
    std::lock_guard guard(list.lock);
    patches.swap(list.patches);
  }
  const std::vector<LoadedModule> loaded = LoadedModules();
  for (const ImportPatch& patch : patches) {
    // A module unloaded since has no slots left to mend.
    if (std::none_of(loaded.begin(), loaded.end(),
                     [&](const LoadedModule& m) { return m.base == patch.module; }))
      continue;
    // Each changed slot gets back exactly what it held (a slot not bound then leads to its
    // stub again), unless something else has been written there since.
    for (const ChangedSlot& changed : patch.slots) {
      if (Readable(changed.slot, sizeof(void*)) &&
          __atomic_load_n(changed.slot, __ATOMIC_ACQUIRE) == patch.replacement)
        WriteCode(changed.slot, &changed.held, sizeof changed.held);
    }
  }
}

}  // namespace hook_detail

}  // namespace qv
