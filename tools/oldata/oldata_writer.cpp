#include "tools/oldata/oldata_writer.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "crashlog/debug_info.h"
#include "crashlog/module_options.h"
#include "platform/base/streams.h"

namespace qv::oldata {
namespace {

void AppendU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

// One entry whose steps fit a single form.
void AppendOne(std::vector<uint8_t>& out, uint64_t a, int64_t l, const std::string* name) {
  const bool named = name != nullptr;
  if (!named && a >= 1 && a <= 32 && l >= 1 && l <= 4) {
    out.push_back(uint8_t((l - 1) << 6 | (a - 1) << 1));
  } else if (named && a >= 1 && a <= 8 && l >= 1 && l <= 8) {
    out.push_back(uint8_t((l - 1) << 5 | (a - 1) << 2 | 1));
  } else if (a >= 1 && a <= 128 && l >= 1 && l <= 32) {
    AppendU16(out, uint16_t((l - 1) << 11 | (a - 1) << 4 | (named ? 4 : 0) | 3));
  } else {
    const uint32_t line_field = uint16_t(l - 1);
    const uint32_t address_field = a == 0 ? 0xFFF : uint32_t(a - 1);
    const uint32_t flags = (named ? 4u : 0u) | 0xBu;
    // Form D unless the address step needs more room or the fields spell form E's marker.
    if (a <= 4095 && (line_field << 0 | address_field << 16) != (0xFFFEu | 0xFFEu << 16)) {
      AppendU32(out, address_field << 20 | line_field << 4 | flags);
    } else {
      AppendU32(out, 0x0FFEFFFEu << 4 | flags);
      AppendU16(out, uint16_t(l - 1));
      AppendU16(out, uint16_t(a - 1));
    }
  }
  if (named) AppendShortString(out, *name);
}

}  // namespace

void AppendShortString(std::vector<uint8_t>& out, const std::string& s) {
  const std::size_t n = std::min<std::size_t>(s.size(), 255);
  out.push_back(uint8_t(n));
  for (std::size_t i = 0; i < n; ++i) out.push_back(uint8_t(s[i]) ^ OstrelNameKey);
}

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void AppendLineEntry(std::vector<uint8_t>& out, uint64_t address_step, int64_t line_step,
                     const std::string* name) {
  // Address steps beyond 65536 and line steps beyond 16 bits go in pieces: the pieces
  // before the last move the address with no line step, or the line with no address.
  while (address_step > 65536) {
    AppendOne(out, 65536, 0, nullptr);
    address_step -= 65536;
  }
  while (line_step > 32767 || line_step < -32768) {
    const int64_t part = line_step > 0 ? 32767 : -32768;
    AppendOne(out, 0, part, nullptr);
    line_step -= part;
  }
  AppendOne(out, address_step, line_step, name);
}

std::vector<uint8_t> BuildDebugInfo(const std::vector<NameRecord>& names,
                                    const std::vector<UnitBlock>& units, int version) {
  std::vector<uint8_t> out;
  if (version >= 405) {
    std::vector<uint8_t> table;
    for (const NameRecord& r : names) {
      AppendShortString(table, r.name);
      AppendU32(table, r.offset);
      AppendU32(table, 0);
    }
    AppendU32(out, uint32_t(table.size()));
    out.insert(out.end(), table.begin(), table.end());
  }
  AppendU32(out, uint32_t(units.size()));
  for (const UnitBlock& u : units) {
    AppendShortString(out, u.name);
    AppendU32(out, u.first_line);
    AppendU32(out, u.start);
    AppendU32(out, u.size);
    AppendU32(out, uint32_t(u.entries.size()));
    out.insert(out.end(), u.entries.begin(), u.entries.end());
  }
  return out;
}

std::vector<uint8_t> BuildBlock(const std::vector<uint8_t>& options_stream,
                                const std::vector<uint8_t>& debug, int version) {
  std::vector<uint8_t> body = options_stream;
  AppendU32(body, uint32_t(debug.size()));
  body.insert(body.end(), debug.begin(), debug.end());
  std::vector<uint8_t> out;
  AppendU32(out, OstrelDataMagic);
  AppendU16(out, uint16_t(version));
  out.insert(out.end(), 8, 0);
  if (version < 450) {
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }
  uLongf packed_size = compressBound(uLong(body.size()));
  std::vector<uint8_t> packed(packed_size);
  if (compress2(packed.data(), &packed_size, body.data(), uLong(body.size()), 9) != Z_OK)
    throw std::runtime_error("zlib could not pack the logger data");
  out.insert(out.end(), packed.begin(), packed.begin() + long(packed_size));
  return out;
}

std::vector<uint8_t> DefaultOptionStream() {
  TOstrelModuleOptions options;
  TMemoryStream stream;
  options.SaveToStream(stream);
  return stream.Bytes();
}

}  // namespace qv::oldata
