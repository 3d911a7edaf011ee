#include "crashlog/call_stack.h"

#include <cxxabi.h>
#include <elf.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "crashlog/code_hook.h"
#include "crashlog/debug_info.h"
#include "crashlog/hook_internal.h"
#include "crashlog/name_split.h"
#include "crashlog/trace_log.h"

namespace qv {
namespace {

template <typename T>
bool ReadValue(uintptr_t address, T& value) {
  return SafeRead(&value, address, sizeof value);
}

// One loaded module as the dynamic loader lists it.
struct LoadedImage {
  uintptr_t handle = 0;
  uintptr_t bias = 0;
  std::string name;  // empty for the program
  bool program = false;
  std::vector<ElfW(Phdr)> headers;  // the module's program headers, copied
  std::vector<std::pair<uintptr_t, uintptr_t>> segments;
  uintptr_t dynamic = 0;  // its dynamic section
};

// Adds a module with its headers; one without a loaded segment does not count.
void AddImage(std::vector<LoadedImage>& list, uintptr_t bias, std::string name,
              std::vector<ElfW(Phdr)> headers) {
  LoadedImage image;
  image.bias = bias;
  image.name = std::move(name);
  image.program = list.empty() && image.name.empty();
  uintptr_t lowest = UINTPTR_MAX;
  for (const ElfW(Phdr) & p : headers) {
    if (p.p_type == PT_DYNAMIC) image.dynamic = bias + p.p_vaddr;
    if (p.p_type != PT_LOAD) continue;
    const uintptr_t start = bias + p.p_vaddr;
    image.segments.emplace_back(start, start + p.p_memsz);
    lowest = std::min(lowest, start & ~uintptr_t(0xFFF));
  }
  if (lowest == UINTPTR_MAX) return;
  image.handle = lowest;
  image.headers = std::move(headers);
  list.push_back(std::move(image));
}

// Whether the program headers at `at` are those of `module`: they place its dynamic section
// where the loader has it.
bool HeadersAt(const link_map& module, uintptr_t at, std::size_t count,
               std::vector<ElfW(Phdr)>& headers) {
  if (at == 0 || count == 0 || count > 1024) return false;
  headers.resize(count);
  if (!SafeRead(headers.data(), at, count * sizeof(ElfW(Phdr)))) return false;
  return std::any_of(headers.begin(), headers.end(), [&](const ElfW(Phdr) & p) {
    return p.p_type == PT_DYNAMIC && module.l_addr + p.p_vaddr == uintptr_t(module.l_ld);
  });
}

// The program headers behind an ELF header at `at`, when they are the module's.
bool HeadersBehind(const link_map& module, uintptr_t at, std::vector<ElfW(Phdr)>& headers) {
  ElfW(Ehdr) header;
  return ReadValue(at, header) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
         header.e_phentsize == sizeof(ElfW(Phdr)) && header.e_phoff <= 0x10000 &&
         HeadersAt(module, at + header.e_phoff, header.e_phnum, headers);
}

// The program headers of a listed module: those the kernel gave the program; for the others,
// those behind the ELF header at the module's base, or, for a module linked to load above
// address 0, at the start of the pages below its dynamic section (the nearest ELF header
// whose headers place that section right is the module's).
bool ReadModuleHeaders(const link_map& module, bool first, std::vector<ElfW(Phdr)>& headers) {
  char first_letter = 1;
  if (first && ReadValue(uintptr_t(module.l_name), first_letter) && first_letter == 0)
    return HeadersAt(module, ::getauxval(AT_PHDR), ::getauxval(AT_PHNUM), headers);
  if (HeadersBehind(module, module.l_addr, headers)) return true;
  uintptr_t page = uintptr_t(module.l_ld) & ~uintptr_t(0xFFF);
  for (int pages = 0; pages < 0x10000 && page >= 0x1000; ++pages, page -= 0x1000) {
    uint32_t magic = 0;
    if (page != module.l_addr && ReadValue(page, magic) &&
        std::memcmp(&magic, ELFMAG, SELFMAG) == 0 && HeadersBehind(module, page, headers))
      return true;
  }
  return false;
}

// Where the loader keeps its module list for debuggers: the program's dynamic section names
// it. The loader's symbol is the fallback only: a program linked with a copy of it holds a
// copy the loader never writes to.
uintptr_t LoaderDebugArea() {
  static std::atomic<uintptr_t> found{0};
  if (const uintptr_t known = found.load()) return known;
  const uintptr_t headers = ::getauxval(AT_PHDR);
  const std::size_t count = std::min<std::size_t>(::getauxval(AT_PHNUM), 1024);
  uintptr_t bias = 0, dynamic = 0;
  for (std::size_t i = 0; i < count; ++i) {
    ElfW(Phdr) p;
    if (!ReadValue(headers + i * sizeof p, p)) break;
    if (p.p_type == PT_PHDR) bias = headers - p.p_vaddr;
    if (p.p_type == PT_DYNAMIC) dynamic = p.p_vaddr;
  }
  uintptr_t area = 0;
  for (int i = 0; dynamic != 0 && i < 4096; ++i) {
    ElfW(Dyn) d;
    if (!ReadValue(bias + dynamic + i * sizeof d, d) || d.d_tag == DT_NULL) break;
    if (d.d_tag == DT_DEBUG) area = d.d_un.d_ptr;
  }
  if (area == 0) area = uintptr_t(&_r_debug);
  found.store(area);
  return area;
}

// A module as it was listed: the loader's entry (read again each time, so that a module
// unloaded and another loaded in its place are told apart) and what was read from it.
struct Listed {
  uintptr_t at;
  link_map module;
  std::string name;
  LoadedImage image;
};
// The modules listed last, taken again while their entries are unchanged, and the last list
// read whole. A thread that finds another one listing reads without them: nothing here waits.
struct LoaderListCache {
  std::mutex busy;
  std::vector<Listed> listed;
  std::vector<LoadedImage> last_good;
  bool has_good = false;
  // Set once the loader's list stayed half-changed past the retries: from then on it is read
  // once a time, the last whole list standing in, until it reads whole again.
  std::atomic<bool> stalled{false};
  // Set when a thread waited for the cache in vain: its owner is held, and nobody waits again
  // until the cache is free.
  std::atomic<bool> owner_stuck{false};
};
LoaderListCache& ListCache() {
  static auto* cache = new LoaderListCache;
  return *cache;
}

// The module's name, read a page at most at a time: it may end just before an unmapped one.
bool ReadModuleName(uintptr_t from, std::string& name) {
  name.clear();
  while (name.size() < PATH_MAX) {
    char part[256];
    const std::size_t piece = std::min<uintptr_t>(sizeof part, 0x1000 - (from & 0xFFF));
    if (!SafeRead(part, from, piece)) return false;
    const std::size_t length = strnlen(part, piece);
    name.append(part, length);
    if (length < piece) return true;
    from += piece;
  }
  return true;
}

// The loader's list of modules as it keeps it for debuggers, read without its lock: a report
// is made while a thread may hold that lock for good (one that faulted in a routine the
// loader called back, or waits in its signal handler there). Every word is read through the
// kernel, so a list changed meanwhile can yield no fault. False while the loader changes the
// list; a module whose headers cannot be placed is left out.
bool ReadLoaderList(std::vector<Listed>* known, std::vector<Listed>& now,
                    std::vector<LoadedImage>& images) {
  const uintptr_t area = LoaderDebugArea();
  const auto consistent = [area](r_debug& debug) {
    return ReadValue(area, debug) && debug.r_version >= 1 &&
           debug.r_state == r_debug::RT_CONSISTENT;
  };
  r_debug debug;
  if (!consistent(debug)) return false;
  uintptr_t at = uintptr_t(debug.r_map);
  for (int listed = 0; at != 0; ++listed) {
    Listed entry{at, {}, {}, {}};
    if (listed == 4096 || !ReadValue(at, entry.module) ||
        !ReadModuleName(uintptr_t(entry.module.l_name), entry.name))
      return false;
    at = uintptr_t(entry.module.l_next);
    const Listed* same = nullptr;
    for (std::size_t i = 0; known != nullptr && same == nullptr && i < known->size(); ++i) {
      const Listed& l = (*known)[i];
      if (l.at == entry.at && l.name == entry.name &&
          std::memcmp(&l.module, &entry.module, sizeof entry.module) == 0)
        same = &l;
    }
    if (same != nullptr) {
      images.push_back(same->image);
      now.push_back(*same);
      continue;
    }
    std::vector<ElfW(Phdr)> headers;
    if (!ReadModuleHeaders(entry.module, listed == 0, headers)) continue;
    const std::size_t count = images.size();
    AddImage(images, entry.module.l_addr, entry.name, std::move(headers));
    if (images.size() == count) continue;
    entry.image = images.back();
    now.push_back(std::move(entry));
  }
  r_debug after;
  return consistent(after) && after.r_map == debug.r_map;
}

// The loaded modules. While the loader changes its list the reading is tried again for a
// while; then the last list read whole stands in (the loader may never finish: its thread
// may be the one that faulted). The loader itself is asked only before any list was read.
std::vector<LoadedImage> LoadedImages() {
  LoaderListCache& cache = ListCache();
  // Another thread listing holds the cache a second at most: waited for a little longer, then
  // the list is read without the cache. A wait that ran out is not made again until the cache
  // is free once more. Let go however the listing ends (a thread cancelled while it waits).
  std::unique_lock<std::mutex> owner(cache.busy, std::try_to_lock);
  for (int waited = 0; !owner && !cache.owner_stuck.load() && waited < 750; ++waited) {
    const timespec pause{0, 2'000'000};
    ::nanosleep(&pause, nullptr);
    (void)owner.try_lock();
  }
  cache.owner_stuck = !owner;
  std::vector<LoadedImage> images;
  const int tries = cache.stalled.load() ? 1 : 500;
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) {
      const timespec pause{0, 2'000'000};
      ::nanosleep(&pause, nullptr);
    }
    std::vector<Listed> now;
    images.clear();
    if (ReadLoaderList(owner ? &cache.listed : nullptr, now, images)) {
      if (owner) {
        cache.listed = std::move(now);
        cache.last_good = images;
        cache.has_good = true;
        cache.stalled = false;
      }
      return images;
    }
  }
  images.clear();
  if (owner && cache.has_good) {
    images = cache.last_good;
    cache.stalled = true;
  } else if (owner) {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
          AddImage(*static_cast<std::vector<LoadedImage>*>(data), info->dlpi_addr,
                   info->dlpi_name != nullptr ? info->dlpi_name : "",
                   {info->dlpi_phdr, info->dlpi_phdr + info->dlpi_phnum});
          return 0;
        },
        &images);
  }
  return images;
}

bool FindImage(uintptr_t handle, LoadedImage& found) {
  for (LoadedImage& image : LoadedImages()) {
    if (image.handle == handle) {
      found = std::move(image);
      return true;
    }
  }
  return false;
}

std::string ImagePath(const LoadedImage& image) {
  if (image.program) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
  }
  // A module without a file (the vDSO) does not count.
  struct stat st {};
  if (image.name.empty() || ::stat(image.name.c_str(), &st) != 0) return {};
  return image.name;
}

// The process's module list: it owns its entries (shared with the call stacks that name
// them), sorted by handle, under one lock.
struct TOstrelModulesList {
  std::mutex lock;
  std::vector<TOstrelModulePtr> modules;
};

TOstrelModulesList& Modules() {
  static auto* state = new TOstrelModulesList;
  return *state;
}

// What the entry of a loaded image is built from, taken from the listing that found it.
uintptr_t CodeEndOf(const LoadedImage& image);
bool ExportedFunctionsOf(const LoadedImage& image, TOstrelFunctionsList& list);
uint8_t ModuleKindOf(const LoadedImage& image);

// Builds the entry of a loaded image; `full` adds exports, kind and logger data.
TOstrelModulePtr BuildEntry(const LoadedImage& image, bool full) {
  const std::string path = ImagePath(image);
  if (path.empty()) return nullptr;
  auto entry = std::make_shared<TOstrelModuleEntry>();
  entry->handle = image.handle;
  entry->path = path;
  entry->description = GetModuleDescription(path);
  entry->version = GetModuleVersion(path);
  entry->file_size = GetModuleFileSize(path);
  entry->segments = image.segments;
  entry->image_name = image.name;
  entry->image_dynamic = image.dynamic;
  if (full) {
    ExportedFunctionsOf(image, entry->functions);
    entry->kind = ModuleKindOf(image);
    LoadDebugInformation(*entry);
  }
  entry->options.SetModuleName(path);
  return entry;
}

bool SameImage(const TOstrelModuleEntry& entry, const LoadedImage& image) {
  return entry.handle == image.handle && entry.image_name == image.name &&
         entry.image_dynamic == image.dynamic;
}

// Addresses compare unsigned: a signed difference overflows between modules far apart.
void SortByHandle(std::vector<TOstrelModulePtr>& modules) {
  std::sort(
      modules.begin(), modules.end(),
      [](const TOstrelModulePtr& a, const TOstrelModulePtr& b) { return a->handle < b->handle; });
}

// The size of a routine exported without one: up to its first return (after a frame
// teardown when it begins by saving the frame pointer), within the module's code.
uint64_t EstimateRoutineSize(uintptr_t start, uintptr_t code_end) {
  if (code_end <= start) return 0;
  // Read a page at a time: the routine may end before a page that cannot be read.
  std::vector<uint8_t> code;
  const uintptr_t end = start + std::min<uintptr_t>(code_end - start, 0x10000);
  const auto is_return = [](uint8_t b) { return b == 0xC2 || b == 0xC3 || b == 0xCA || b == 0xCB; };
  for (uintptr_t at = start; at < end;) {
    const uintptr_t piece = std::min<uintptr_t>(end - at, 0x1000 - (at & 0xFFF));
    const std::size_t from = code.size();
    code.resize(from + piece);
    if (!SafeRead(code.data() + from, at, piece)) return 0;
    at += piece;
    const bool framed = code[0] == 0x55;
    // A frame teardown's last byte may be the last one read: it is looked at with the next.
    for (std::size_t i = from == 0 ? 0 : from - 1; i < code.size(); ++i) {
      if (!framed && is_return(code[i])) return i;
      if (framed && (code[i] == 0x5D || code[i] == 0xC9) && i + 1 < code.size() &&
          is_return(code[i + 1]))
        return i + 1;
    }
  }
  return 1;
}

}  // namespace

bool SafeRead(void* destination, uintptr_t address, std::size_t count) {
  return hook_detail::ReadBytes(destination, reinterpret_cast<const void*>(address), count);
}

bool TOstrelModuleEntry::Contains(uintptr_t address) const {
  return std::any_of(segments.begin(), segments.end(),
                     [&](const auto& s) { return address >= s.first && address < s.second; });
}

std::string TOstrelStackEntry::FunctionName() const {
  return class_name.empty() ? procedure_name : class_name + "::" + procedure_name;
}

std::string ModuleFileName(uintptr_t handle) {
  TraceScope trace("ModuleFileName", {TraceAddress(handle)});
  LoadedImage image;
  return trace.Result(FindImage(handle, image) ? ImagePath(image) : std::string());
}

bool ModuleExists(uintptr_t handle) {
  TraceScope trace("ModuleExists", {TraceAddress(handle)});
  return trace.Result(!ModuleFileName(handle).empty());
}

uint32_t GetModuleFileSize(const std::string& path) {
  TraceScope trace("GetModuleFileSize", {path});
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return trace.Result(uint32_t(0));
  return trace.Result(uint32_t(uint64_t(st.st_size) & 0xFFFFFFFFu));
}

uint8_t GetModuleKind(uintptr_t handle) {
  LoadedImage image;
  if (FindImage(handle, image)) return ModuleKindOf(image);
  TraceScope trace("GetModuleKind", {TraceAddress(handle)});
  return trace.Result(uint8_t(mkUnknown));
}

namespace {

uint8_t ModuleKindOf(const LoadedImage& image) {
  const uintptr_t handle = image.handle;
  TraceScope trace("GetModuleKind", {TraceAddress(handle)});
  THModuleStream headers(reinterpret_cast<const void*>(handle), sizeof(ElfW(Ehdr)));
  ElfW(Ehdr) header;
  if (headers.Read(&header, sizeof header) != sizeof header ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
    return trace.Result(uint8_t(mkUnknown));
  if (header.e_type == ET_EXEC) return trace.Result(uint8_t(mkProgram));
  if (header.e_type != ET_DYN) return trace.Result(uint8_t(mkUnknown));
  // A position-independent file is the program when the loader started it, else a library
  // (libc, for one, could run as a program too).
  return trace.Result(uint8_t(image.program ? mkProgram : mkLibrary));
}

}  // namespace

namespace {

// The lines of the file's version section: the version, then the description (older
// binaries carry the version alone).
std::vector<std::string> VersionStamp(const std::string& path) {
  std::vector<uint8_t> stamp;
  std::vector<std::string> lines;
  if (!ReadElfSection(path, OstrelVersionSection, 1024, stamp)) return lines;
  std::string line;
  for (const uint8_t c : stamp) {
    if (c == '\n' || c == '\0') {
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += char(c);
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

}  // namespace

std::string GetModuleDescription(const std::string& path) {
  TraceScope trace("GetModuleDescription", {path});
  const std::vector<std::string> stamp = VersionStamp(path);
  return trace.Result(stamp.size() >= 2 ? stamp[1] : std::string());
}

std::string GetModuleVersion(const std::string& path) {
  TraceScope trace("GetModuleVersion", {path});
  // The project's own binaries carry their version ("1.0.0.0") in a section of their own.
  if (const std::vector<std::string> stamp = VersionStamp(path); !stamp.empty()) {
    const std::string& version = stamp[0];
    if (!version.empty() && version.find_first_not_of("0123456789.") == std::string::npos &&
        version.find_first_not_of("0.") != std::string::npos)
      return trace.Result(version);
  }
  char resolved[PATH_MAX];
  const std::string real = ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  const auto so = real.rfind(".so.");
  if (so == std::string::npos) return trace.Result(std::string());
  const std::string suffix = real.substr(so + 4);
  if (suffix.empty() || suffix.find_first_not_of("0123456789.") != std::string::npos)
    return trace.Result(std::string());
  if (suffix.find_first_not_of("0.") == std::string::npos)
    return trace.Result(std::string());  // 0.0.0.0 is none
  return trace.Result(suffix);
}

uintptr_t GetCodeEnd(uintptr_t handle) {
  LoadedImage image;
  return FindImage(handle, image) ? CodeEndOf(image) : 0;
}

namespace {

uintptr_t CodeEndOf(const LoadedImage& image) {
  ElfW(Ehdr) header;
  if (!ReadValue(image.handle, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
    return 0;
  uintptr_t end = 0;
  for (const ElfW(Phdr) & p : image.headers) {
    if (p.p_type != PT_LOAD || (p.p_flags & PF_X) == 0 || p.p_memsz == 0) continue;
    // The whole range must be mapped: its first and its last byte can be read.
    const uintptr_t start = image.bias + p.p_vaddr;
    uint8_t byte = 0;
    if (!ReadValue(start, byte) || !ReadValue(start + p.p_memsz - 1, byte)) return 0;
    end = std::max<uintptr_t>(end, start + p.p_memsz);
  }
  return end;
}

}  // namespace

uintptr_t SkipExportThunk(uintptr_t address) {
  return reinterpret_cast<uintptr_t>(ResolveImportStub(reinterpret_cast<void*>(address)));
}

bool LoadExportedFunctions(uintptr_t handle, TOstrelFunctionsList& list) {
  LoadedImage image;
  if (FindImage(handle, image)) return ExportedFunctionsOf(image, list);
  TraceScope trace("LoadExportedFunctions", {TraceAddress(handle)});
  return trace.Result(false);
}

namespace {

bool ExportedFunctionsOf(const LoadedImage& image, TOstrelFunctionsList& list) {
  TraceScope trace("LoadExportedFunctions", {TraceAddress(image.handle)});
  const uintptr_t code_end = CodeEndOf(image);
  if (code_end == 0) return trace.Result(false);
  const ElfW(Dyn)* dynamic = nullptr;
  for (const ElfW(Phdr) & p : image.headers) {
    if (p.p_type == PT_DYNAMIC)
      dynamic = reinterpret_cast<const ElfW(Dyn)*>(image.bias + p.p_vaddr);
  }
  if (dynamic == nullptr) return trace.Result(false);
  uintptr_t symtab = 0, strtab = 0, hash = 0, gnu_hash = 0;
  std::size_t strsz = 0;
  const auto address = [&](uintptr_t v) { return v < image.bias ? image.bias + v : v; };
  for (uintptr_t at = uintptr_t(dynamic);; at += sizeof(ElfW(Dyn))) {
    ElfW(Dyn) d;
    if (!ReadValue(at, d) || d.d_tag == DT_NULL) break;
    switch (d.d_tag) {
      case DT_SYMTAB:
        symtab = address(d.d_un.d_ptr);
        break;
      case DT_STRTAB:
        strtab = address(d.d_un.d_ptr);
        break;
      case DT_STRSZ:
        strsz = d.d_un.d_val;
        break;
      case DT_HASH:
        hash = address(d.d_un.d_ptr);
        break;
      case DT_GNU_HASH:
        gnu_hash = address(d.d_un.d_ptr);
        break;
      default:
        break;
    }
  }
  if (symtab == 0 || strtab == 0) return trace.Result(false);
  // The symbol count: DT_HASH's chain count, or one past the last symbol of the GNU hash.
  std::size_t count = 0;
  if (uint32_t h[2]; hash != 0 && ReadValue(hash, h)) {
    count = h[1];
  } else if (uint32_t g[4]; gnu_hash != 0 && ReadValue(gnu_hash, g)) {
    const uint32_t buckets = g[0], symoffset = g[1], bloom = g[2];
    const uintptr_t bucket_at = gnu_hash + 16 + uintptr_t(bloom) * sizeof(ElfW(Addr));
    const uintptr_t chain_at = bucket_at + uintptr_t(buckets) * 4;
    uint32_t last = 0;
    for (uint32_t b = 0; b < buckets; ++b) {
      uint32_t v = 0;
      if (ReadValue(bucket_at + b * 4, v)) last = std::max(last, v);
    }
    if (last >= symoffset) {
      for (uint32_t chain = 0; ReadValue(chain_at + uintptr_t(last - symoffset) * 4, chain);) {
        ++last;
        if ((chain & 1) != 0) break;
      }
      count = last;
    }
  }
  count = std::min<std::size_t>(count, 1 << 22);
  const std::size_t before = list.size();
  for (std::size_t i = 0; i < count; ++i) {
    ElfW(Sym) sym;
    if (!ReadValue(symtab + i * sizeof sym, sym)) break;
    const int type = ELF64_ST_TYPE(sym.st_info);
    if ((type != STT_FUNC && type != STT_GNU_IFUNC) || sym.st_shndx == SHN_UNDEF ||
        sym.st_value == 0 || sym.st_name >= strsz)
      continue;
    char name[257] = {};
    const std::size_t room = std::min<std::size_t>(256, strsz - sym.st_name);
    // The string may end before the table does; read what can be read.
    std::size_t got = room;
    while (got > 0 && !SafeRead(name, strtab + sym.st_name, got)) got /= 2;
    if (got == 0) continue;
    name[std::min(got, std::size_t(256))] = 0;
    TOstrelFunction f;
    f.name = std::string(name, strnlen(name, got));
    f.address = SkipExportThunk(image.bias + sym.st_value);
    // The size reaches the routine's last byte: the symbol table counts bytes, the estimate
    // ends at the return byte.
    f.size = sym.st_size != 0 ? sym.st_size - 1 : EstimateRoutineSize(f.address, code_end);
    list.push_back(std::move(f));
  }
  std::sort(list.begin(), list.end(), [](const TOstrelFunction& a, const TOstrelFunction& b) {
    return a.address < b.address;
  });
  return trace.Result(list.size() > before);
}

// The complete entry of a loaded image: the listed one while it is of that image, else built
// now (an entry of a module unloaded since, or built while refreshing, is replaced).
TOstrelModulePtr EntryOfImage(const LoadedImage& image) {
  TOstrelModulesList& state = Modules();
  {
    std::lock_guard guard(state.lock);
    for (const TOstrelModulePtr& m : state.modules) {
      if (SameImage(*m, image) && m->kind != mkUnknown) return m;
    }
  }
  TOstrelModulePtr entry = BuildEntry(image, true);
  if (entry == nullptr) return nullptr;
  std::lock_guard guard(state.lock);
  auto& list = state.modules;
  // Another thread may have built it meanwhile.
  for (TOstrelModulePtr& m : list) {
    if (m->handle != image.handle) continue;
    if (SameImage(*m, image) && m->kind != mkUnknown) return m;
    m = entry;
    return entry;
  }
  list.push_back(entry);
  SortByHandle(list);
  return entry;
}

}  // namespace

TOstrelModulePtr GetModuleEntry(uintptr_t handle) {
  TraceScope trace("GetModuleEntry", {TraceAddress(handle)});
  LoadedImage image;
  TOstrelModulePtr entry = FindImage(handle, image) ? EntryOfImage(image) : nullptr;
  trace.Result(entry.get());
  return entry;
}

TOstrelModulePtr GetModuleEntryOf(uintptr_t address) {
  TraceScope trace("GetModuleEntryOf", {TraceAddress(address)});
  for (const LoadedImage& image : LoadedImages()) {
    for (const auto& [start, end] : image.segments) {
      if (address >= start && address < end) {
        TOstrelModulePtr entry = EntryOfImage(image);
        trace.Result(entry.get());
        return entry;
      }
    }
  }
  return trace.Result(nullptr);
}

void RefreshModulesList() {
  TraceScope trace("RefreshModulesList", {});
  const std::vector<LoadedImage> images = LoadedImages();
  // Nothing read (the program itself is always loaded): the list stays as it is.
  if (images.empty()) return;
  TOstrelModulesList& state = Modules();
  std::lock_guard guard(state.lock);
  auto& list = state.modules;
  // An entry goes when its image is gone, or its file (the entry is of a file).
  std::erase_if(list, [&](const TOstrelModulePtr& m) {
    return std::none_of(images.begin(), images.end(), [&](const LoadedImage& i) {
      return SameImage(*m, i) && !ImagePath(i).empty();
    });
  });
  for (const LoadedImage& image : images) {
    const bool listed = std::any_of(
        list.begin(), list.end(), [&](const TOstrelModulePtr& m) { return SameImage(*m, image); });
    if (listed) continue;
    if (TOstrelModulePtr entry = BuildEntry(image, false)) list.push_back(std::move(entry));
  }
  SortByHandle(list);
}

std::vector<TOstrelModulePtr> ModulesList() {
  TOstrelModulesList& state = Modules();
  std::lock_guard guard(state.lock);
  return state.modules;
}

// ---- the stack scan

namespace {

bool InRange(uint8_t b, uint8_t low, uint8_t high) {
  return b >= low && b <= high;
}
// ModRM bytes of `call` through a register's memory with an 8-bit or 32-bit displacement
// (base register not rsp/r12, which need a SIB byte).
bool IndirectBase(uint8_t modrm, uint8_t mod_bits) {
  return (modrm & 0xF8) == (mod_bits | 0x10) && (modrm & 7) != 4;
}

// The length of the call instruction that ends at `code + 9` (code holds the 9 bytes
// before the return address), 0 for none. `slot_ok` tells whether a RIP-relative slot
// is readable.
int CallLength(const uint8_t* c, uintptr_t ret) {
  const auto at = [&](int back) { return c[9 - back]; };
  // call rel32
  if (at(5) == 0xE8) return 5;
  // call *%reg / *%r8..r15
  if (at(3) == 0x41 && at(2) == 0xFF && InRange(at(1), 0xD0, 0xD7)) return 3;
  if (at(2) == 0xFF && InRange(at(1), 0xD0, 0xD7)) return 2;
  // call *(%reg)
  const auto mem0 = [](uint8_t m) { return InRange(m, 0x10, 0x13) || m == 0x16 || m == 0x17; };
  if (at(3) == 0x41 && at(2) == 0xFF && mem0(at(1))) return 3;
  if (at(2) == 0xFF && mem0(at(1))) return 2;
  // call *d8(%reg), *(%rsp), *d8(%rsp)
  if (at(4) == 0x41 && at(3) == 0xFF && IndirectBase(at(2), 0x40)) return 4;
  if (at(3) == 0xFF && IndirectBase(at(2), 0x40)) return 3;
  // (%rsp) and (%r12) need a SIB byte; the REX prefix comes first, so the longer form first.
  if (at(4) == 0x41 && at(3) == 0xFF && at(2) == 0x14 && at(1) == 0x24) return 4;
  if (at(3) == 0xFF && at(2) == 0x14 && at(1) == 0x24) return 3;
  if (at(5) == 0x41 && at(4) == 0xFF && at(3) == 0x54 && at(2) == 0x24) return 5;
  if (at(4) == 0xFF && at(3) == 0x54 && at(2) == 0x24) return 4;
  // call *d32(%reg), *d32(%rsp)
  if (at(7) == 0x41 && at(6) == 0xFF && IndirectBase(at(5), 0x80)) return 7;
  if (at(6) == 0xFF && IndirectBase(at(5), 0x80)) return 6;
  // call *rel32(%rip): the slot must be readable
  if (at(6) == 0xFF && at(5) == 0x15) {
    int32_t rel;
    std::memcpy(&rel, c + 9 - 4, 4);
    uintptr_t slot;
    return ReadValue(ret + intptr_t(rel), slot) ? 6 : 0;
  }
  if (at(8) == 0x41 && at(7) == 0xFF && at(6) == 0x94 && at(5) == 0x24) return 8;
  if (at(7) == 0xFF && at(6) == 0x94 && at(5) == 0x24) return 7;
  return 0;
}

TOstrelStackEntry At(uintptr_t address) {
  TOstrelStackEntry entry;
  entry.address = address;
  return entry;
}

void AddCandidate(uintptr_t ret, TOstrelStackList& list) {
  uint8_t code[9];
  if (ret < 9 || !SafeRead(code, ret - 9, 9)) {
    // Near the start of a mapping only the last 7 bytes may be readable.
    uint8_t last7[7];
    if (ret < 7 || !SafeRead(last7, ret - 7, 7)) return;
    std::memset(code, 0, 2);
    std::memcpy(code + 2, last7, 7);
  }
  const int length = CallLength(code, ret);
  if (length == 0) return;
  if (length == 5) {
    int32_t rel;
    std::memcpy(&rel, code + 5, 4);
    auto target = uintptr_t(intptr_t(ret) + rel);
    // A call into an import stub names the routine behind it.
    uint8_t first = 0;
    if (ReadValue(target, first)) {
      target = reinterpret_cast<uintptr_t>(ResolveImportStub(reinterpret_cast<void*>(target)));
      if (ReadValue(target, first) && first != 0xE8) list.push_back(At(target));
    }
  }
  list.push_back(At(ret - uintptr_t(length)));
}

}  // namespace

TOstrelStackList ScanStack(uintptr_t start_address, uintptr_t stack_pointer, uintptr_t stack_top) {
  TOstrelStackList list;
  if (start_address != 0) list.push_back(At(start_address));
  constexpr std::size_t Block = 400;
  // No thread's stack is larger; a damaged stack top must not start an endless scan.
  constexpr uintptr_t MaxStack = uintptr_t(256) << 20;
  if (stack_top > stack_pointer && stack_top - stack_pointer > MaxStack)
    stack_top = stack_pointer + MaxStack;
  uintptr_t word = (stack_pointer + 7) & ~uintptr_t(7);
  while (word + 8 <= stack_top) {
    const std::size_t n = std::min<std::size_t>(Block, (stack_top - word) & ~std::size_t(7));
    uintptr_t values[Block / 8];
    if (SafeRead(values, word, n)) {
      for (std::size_t i = 0; i < n / 8; ++i) AddCandidate(values[i], list);
    } else {
      // A block that is not wholly readable is taken word by word.
      for (std::size_t i = 0; i < n / 8; ++i) {
        uintptr_t v;
        if (ReadValue(word + i * 8, v)) AddCandidate(v, list);
      }
    }
    word += n;
  }
  return list;
}

TOstrelStackList BuildCallStack(uintptr_t start_address, uintptr_t stack_pointer,
                                uintptr_t stack_top) {
  TraceScope trace("BuildCallStack", {TraceAddress(start_address), TraceAddress(stack_pointer),
                                      TraceAddress(stack_top)});
  TOstrelStackList list = ScanStack(start_address, stack_pointer, stack_top);
  // An endless recursion leaves the same return addresses by the hundred thousand: the
  // innermost ones and the outermost ones (main and the thread's start) are kept.
  constexpr std::size_t Innermost = 1500, Outermost = 500;
  if (list.size() > Innermost + Outermost)
    list.erase(list.begin() + std::ptrdiff_t(Innermost), list.end() - std::ptrdiff_t(Outermost));
  for (TOstrelStackEntry& entry : list) ResolveAddress(entry.address, entry);
  trace.Result(TraceArg::Object("TOstrelStackList"));
  return list;
}

void ResolveAddress(uintptr_t address, TOstrelStackEntry& entry) {
  TraceScope trace("ResolveAddress", {TraceAddress(address)});
  if (GetSourceLocation(address, entry)) return;
  entry = TOstrelStackEntry{};
  entry.address = address;
  TOstrelModulePtr module = GetModuleEntryOf(address);
  if (module == nullptr) return;
  entry.module = module;
  entry.kind = skModule;
  const TOstrelFunctionsList& f = module->functions;
  // The first record in address order whose range holds the address.
  auto it = std::upper_bound(f.begin(), f.end(), address,
                             [](uintptr_t a, const TOstrelFunction& r) { return a < r.address; });
  const TOstrelFunction* found = nullptr;
  for (int steps = 0; it != f.begin() && steps < 64; ++steps) {
    --it;
    if (address - it->address <= it->size) found = &*it;
  }
  if (found == nullptr) return;
  ParseExportName(found->name, entry);
  // Mangled C++ names are shown demangled; the logger's own name syntax stays as it is.
  if (entry.kind == skExport && entry.procedure_name.starts_with("_Z")) {
    int status = 0;
    char* plain = abi::__cxa_demangle(entry.procedure_name.c_str(), nullptr, nullptr, &status);
    if (status == 0 && plain != nullptr) entry.procedure_name = plain;
    std::free(plain);
  }
  entry.procedure_name = WithoutCloneSuffix(entry.procedure_name);
}

}  // namespace qv
