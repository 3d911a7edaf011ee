// The logger data block of a module and its debug information.
//
// Every binary that carries the logger holds a block of the logger's own in the ELF
// section ".oldata" (added after linking by tools/oldata), or, in the older form, appended
// to its file as [block without magic][32-bit length][magic]. The block is
//   magic 0x000FAB10 (32), data version (16), 8 reserved bytes, body;
// body = option stream, 32-bit length D, D bytes of debug information; from version 450 on
// the body is one zlib stream. The debug information is a name table (from version 405 on)
// and one block of line entries per unit. Every read is bounded by the real size of the
// block: a truncated or corrupt block is "no data", never a fault or an endless loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crashlog/call_stack.h"
#include "platform/base/streams.h"

namespace qv {

constexpr uint32_t OstrelDataMagic = 0x000FAB10;
constexpr uint8_t OstrelNameKey = 0xA7;
constexpr const char* OstrelDataSection = ".oldata";
// The largest unpacked body accepted.
constexpr std::size_t OstrelMaxUnpacked = std::size_t(64) << 20;

// A read-only stream over a block of memory someone else owns (a loaded image, resource
// data, an unpacked buffer), bounded by the block's real size. Its bytes are read through
// the kernel: an unreadable part of the block reads as the stream's end, never as a fault.
class THModuleStream final : public TStream {
 public:
  THModuleStream(const void* start, std::size_t size);
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;  // throws EWriteError
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  void SetSize(int64_t size) override;  // throws EWriteError

 private:
  uintptr_t start_;
  int64_t size_;
  int64_t position_ = 0;
};

// The address of a code offset of the debug information: module handle + 0x1000 + offset.
[[nodiscard]] uintptr_t CodeOffsetToAddress(uintptr_t handle, uint32_t offset);

// What a block holds.
struct TOstrelLoggerData {
  uint16_t data_version = OstrelCurrentDataVersion;
  uint8_t reserved[8] = {};
  std::vector<uint8_t> debug;
  // Set by ParseLoggerHead while only the name table is unpacked (in `debug`): the block.
  std::shared_ptr<const std::vector<uint8_t>> packed;
};

// Unpacks one whole zlib stream; false for corrupt or truncated data or an output larger
// than `limit`.
bool InflateBuffer(const uint8_t* input, std::size_t size, std::vector<uint8_t>& output,
                   std::size_t limit = OstrelMaxUnpacked);

// Reads a block (with magic) into `data` and `options`; false for a bad block. The body is
// packed from version 450 on unless `never_packed` (the block at a file's end).
bool ParseLoggerData(const uint8_t* block, std::size_t size, TOstrelLoggerData& data,
                     TOstrelModuleOptions& options, bool never_packed = false);
// As ParseLoggerData, but a packed body is unpacked only as far as its name table: `debug`
// then holds that table alone (a stream whose line tables read as missing) and `packed` the
// block, for UnpackedDebugStream. Most of a module's debug information is its line tables,
// which only a report reads.
bool ParseLoggerHead(const uint8_t* block, std::size_t size, TOstrelLoggerData& data,
                     TOstrelModuleOptions& options, bool never_packed = false);
// The module's whole debug stream, unpacked now when its line tables were left packed.
const std::vector<uint8_t>& UnpackedDebugStream(TOstrelModuleEntry& module);
// The block of a module file: the ".oldata" section's bytes (`old_form` false), or the old
// appended block rebuilt with its magic in front (`old_form` true). False without one.
bool ReadLoggerBlock(const std::string& path, std::vector<uint8_t>& block, bool& old_form,
                     bool old_form_only = false);
// The bytes of the named section of an ELF file, when it has one of at most `limit` bytes
// that lies inside the file; only its first `take` bytes when it is longer.
bool ReadElfSection(const std::string& path, std::string_view section, std::size_t limit,
                    std::vector<uint8_t>& bytes, std::size_t take = SIZE_MAX);
// A resource of a loaded module: the bytes of its ELF section `name` of section type `type`
// (SHT_PROGBITS for raw data), read from the module's file. False when the module has no
// such section or its file cannot be read.
bool GetResourceData(uintptr_t handle, std::string_view name, uint32_t type,
                     std::vector<uint8_t>& data);
// `IsOstrelLogModule` / `IsOstrelLogModule_Old` for a loaded module, or for a module file
// (`handle` only traced).
[[nodiscard]] bool IsOstrelLogModule(uintptr_t handle);
[[nodiscard]] bool IsOstrelLogModule_Old(uintptr_t handle);
[[nodiscard]] bool IsOstrelLogModule(const std::string& path, const void* handle);
[[nodiscard]] bool IsOstrelLogModule_Old(const std::string& path, const void* handle);
// Fills the entry's data version, reserved bytes, options and debug stream; false when the
// module carries no (sound) data, the entry then keeping the defaults.
bool LoadDebugInformation(TOstrelModuleEntry& entry);

// Where each unit block's code lies, so that a lookup reads only the blocks that hold the
// address instead of every block's header.
struct TOstrelLineIndex {
  struct Unit {
    uint64_t start = 0, end = 0;  // code offsets, [start, end)
    std::size_t header = 0;       // the block's position in the stream
    uint32_t order = 0;           // the block's number in the stream
  };
  std::vector<Unit> units;        // by start
  std::vector<uint64_t> max_end;  // the largest end of units[0..i]
};
std::shared_ptr<const TOstrelLineIndex> BuildLineIndex(const std::vector<uint8_t>& debug,
                                                       int data_version);

// The line-table lookup over a debug stream of `data_version` whose code offsets count
// from `handle` + 0x1000; fills unit, class, procedure and line (kind 4). The units are
// tried in stream order until one holds an entry for the address; with an index only the
// units whose code range holds it are read.
bool FindSourceLocation(const std::vector<uint8_t>& debug, int data_version, uintptr_t handle,
                        uintptr_t address, TOstrelStackEntry& entry,
                        const TOstrelLineIndex* index = nullptr);
// The same for the loaded module that holds `address`.
bool GetSourceLocation(uintptr_t address, TOstrelStackEntry& entry);
// The address of the first name record equal to `name` ("unit.Class.method"), or 0.
uintptr_t FindDebugProcAddress(const std::vector<uint8_t>& debug, int data_version,
                               uintptr_t handle, std::string_view name);
// FindDebugProcAddress in the module that holds the logger's own code.
uintptr_t GetDebugProcAddress(std::string_view name);
// Hooks the routine of that name (HookProcedure); the trampoline, or nullptr when the
// name is not found.
void* HookDebugProcedure(std::string_view name, void* replacement);

// Sets kind 2 or 3 with unit, class and procedure from an export name.
void ParseExportName(const std::string& name, TOstrelStackEntry& entry);

}  // namespace qv
