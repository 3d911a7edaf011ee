// Writing the exception logger's data block: the line entries of the unit blocks, the
// name table, and the block itself (header, option stream, debug information, packed
// with zlib from version 450 on). The reader is crashlog/debug_info.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::oldata {

// A short string: one length byte and at most 255 bytes combined with the key.
void AppendShortString(std::vector<uint8_t>& out, const std::string& s);
void AppendU32(std::vector<uint8_t>& out, uint32_t v);

// Appends one line entry in the shortest form that holds the steps (forms A to E); a step
// too large for one entry is split over several. `address_step` 0 gives an entry that
// covers no address. `name` (may be null) follows the (last) entry.
void AppendLineEntry(std::vector<uint8_t>& out, uint64_t address_step, int64_t line_step,
                     const std::string* name);

struct UnitBlock {
  std::string name;
  uint32_t first_line = 0;
  uint32_t start = 0;  // code offset
  uint32_t size = 0;
  std::vector<uint8_t> entries;
};

struct NameRecord {
  std::string name;  // "unit.Class.method"
  uint32_t offset = 0;
};

// The debug information: name table (when `version` >= 405) and unit blocks.
std::vector<uint8_t> BuildDebugInfo(const std::vector<NameRecord>& names,
                                    const std::vector<UnitBlock>& units, int version = 454);
// The whole block with magic, version and zero reserved bytes; packed from version 450.
std::vector<uint8_t> BuildBlock(const std::vector<uint8_t>& options_stream,
                                const std::vector<uint8_t>& debug, int version = 454);
// The default option stream of the current version.
std::vector<uint8_t> DefaultOptionStream();

}  // namespace qv::oldata
