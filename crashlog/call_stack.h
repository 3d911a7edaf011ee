// Call stacks and the process's module list for the exception logger.
//
// A call stack is found by scanning the raw stack for return addresses: every 8-byte word
// between the stack pointer and the stack top counts when one of the x86-64 call forms
// ends exactly where it points. Each address is then resolved to its module and, where the
// module carries the logger's data block, to unit, class, procedure and line (or to the
// name of an exported routine). Memory is only ever read through the kernel, so an
// unmapped page anywhere in the scanned range is skipped without a fault.
//
// Module handle = the load address of the module's lowest loadable segment. The module
// list and its entries are guarded by one lock; entries are shared, so a call stack keeps
// its modules alive across a refresh.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashlog/module_options.h"

namespace qv {

struct TOstrelLineIndex;

// One exported routine of a module.
struct TOstrelFunction {
  std::string name;  // as exported (mangled)
  uintptr_t address = 0;
  uint64_t size = 0;  // the routine covers [address, address + size], its last byte included
};
using TOstrelFunctionsList = std::vector<TOstrelFunction>;  // sorted by address

enum : uint8_t { mkUnknown = 0, mkProgram = 1, mkPackage = 2, mkLibrary = 3 };

struct TOstrelModuleEntry {
  uintptr_t handle = 0;
  std::string path;
  std::string description;  // from the version section; empty for other files
  std::string version;      // stamped at build, or the file name's suffix ("libc.so.6": "6")
  uint32_t file_size = 0;   // low 32 bits of the file's size, 0 when it is not found
  TOstrelFunctionsList functions;
  uint8_t kind = mkUnknown;  // mkUnknown also marks an entry built while refreshing
  uint16_t data_version = OstrelCurrentDataVersion;
  uint8_t reserved[8] = {};
  TOstrelModuleOptions options;
  std::vector<uint8_t> debug;  // the debug-information stream; empty without logger data
  bool has_debug = false;
  // While set, `debug` holds the name table alone: the logger data block the rest is unpacked
  // from when a report first needs it (UnpackedDebugStream).
  std::shared_ptr<const std::vector<uint8_t>> packed;
  std::shared_ptr<const TOstrelLineIndex> line_index;  // over `debug`
  // The loadable segments, [start, end) each.
  std::vector<std::pair<uintptr_t, uintptr_t>> segments;
  // The loaded image it was built from (the loader's name for it and its dynamic section):
  // a module loaded later at the same handle is another entry.
  std::string image_name;
  uintptr_t image_dynamic = 0;

  [[nodiscard]] bool Contains(uintptr_t address) const;
};
using TOstrelModulePtr = std::shared_ptr<TOstrelModuleEntry>;

enum : uint8_t {
  skNone = 0,       // the address lies in no module
  skModule = 1,     // in a module, nothing more known
  skExport = 2,     // procedure from an undecorated export name
  skQualified = 3,  // unit, class and procedure from a qualified export name
  skLine = 4,       // unit, class, procedure and line from the module's line table
};

struct TOstrelStackEntry {
  uint8_t kind = skNone;
  TOstrelModulePtr module;
  uintptr_t address = 0;
  std::string unit_name, class_name, procedure_name;
  uint32_t line = 0;  // 0 = unknown

  // "Class::procedure", or the procedure alone.
  [[nodiscard]] std::string FunctionName() const;
};
using TOstrelStackList = std::vector<TOstrelStackEntry>;

// The module's file path (/proc/self/exe resolved for the program), empty when the
// handle names no loaded module or the module has no file (the vDSO).
[[nodiscard]] std::string ModuleFileName(uintptr_t handle);
[[nodiscard]] bool ModuleExists(uintptr_t handle);
[[nodiscard]] uint32_t GetModuleFileSize(const std::string& path);
[[nodiscard]] uint8_t GetModuleKind(uintptr_t handle);
// The section in which the project's binaries carry their version.
constexpr const char* OstrelVersionSection = ".quorvel.version";
// The version stamped into the file's version section, else the one taken from a library
// file name's numeric suffix after ".so."; "" without either (and for "0.0.0.0").
[[nodiscard]] std::string GetModuleVersion(const std::string& path);
// The description in the file's version section (its second line); "" without one.
[[nodiscard]] std::string GetModuleDescription(const std::string& path);

// The entry of a loaded module, built (with exports, kind, options and logger data) when it
// is not listed yet or was left incomplete by a refresh; nullptr for no module.
TOstrelModulePtr GetModuleEntry(uintptr_t handle);
TOstrelModulePtr GetModuleEntryOf(uintptr_t address);
// Drops unloaded modules, lists every loaded one (without exports or logger data) and
// sorts the list by handle.
void RefreshModulesList();
// A copy of the list as it stands.
[[nodiscard]] std::vector<TOstrelModulePtr> ModulesList();

// The end of the loaded module's code (the first address past its executable segments),
// or 0 when its headers or any of its code cannot be read.
[[nodiscard]] uintptr_t GetCodeEnd(uintptr_t handle);
// The routine an exported address leads to: the target of the import stub (a jump through
// a slot) found there, or the address itself.
[[nodiscard]] uintptr_t SkipExportThunk(uintptr_t address);
// Fills `list` from the module's dynamic symbol table: defined functions with their real
// sizes (a size of 0 is estimated from the code). True when a record was added.
bool LoadExportedFunctions(uintptr_t handle, TOstrelFunctionsList& list);

// Scans [stack_pointer, stack_top) for return addresses; `start_address` (0 for none)
// becomes the first entry. Every entry is resolved.
TOstrelStackList BuildCallStack(uintptr_t start_address, uintptr_t stack_pointer,
                                uintptr_t stack_top);
// The entries that code bytes and stack words give, unresolved (module and names empty).
TOstrelStackList ScanStack(uintptr_t start_address, uintptr_t stack_pointer, uintptr_t stack_top);
void ResolveAddress(uintptr_t address, TOstrelStackEntry& entry);

// Copies `count` bytes from `address` through the kernel; false (and nothing copied
// reliably) when any of them is unreadable. Never faults.
bool SafeRead(void* destination, uintptr_t address, std::size_t count);

}  // namespace qv
