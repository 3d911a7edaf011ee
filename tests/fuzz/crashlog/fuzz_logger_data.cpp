// A module's logger data block as the loader finds it: header, packed or plain body,
// option stream, name table and unit blocks. Whatever the bytes, reading ends without a
// fault, a hang or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crashlog/debug_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses: a whole block, or debug information of a version.
  const uint8_t mode = data[0];
  ++data;
  --size;
  if (mode < 128) {
    qv::TOstrelLoggerData block;
    qv::TOstrelModuleOptions options;
    if (qv::ParseLoggerData(data, size, block, options)) {
      qv::TOstrelStackEntry entry;
      for (uintptr_t address : {0x1000u, 0x1100u, 0x2000u, 0x10000u})
        (void)qv::FindSourceLocation(block.debug, block.data_version, 0, address, entry);
      (void)qv::FindDebugProcAddress(block.debug, block.data_version, 0, "Main.Go");
    }
    return 0;
  }
  const std::vector<uint8_t> debug(data, data + size);
  const int version = mode & 1 ? 404 : 454;
  qv::TOstrelStackEntry entry;
  const auto index = qv::BuildLineIndex(debug, version);
  for (uintptr_t address : {0x1000u, 0x1104u, 0x1170u, 0x155Cu, 0x4000u}) {
    (void)qv::FindSourceLocation(debug, version, 0, address, entry);
    (void)qv::FindSourceLocation(debug, version, 0, address, entry, index.get());
  }
  (void)qv::FindDebugProcAddress(debug, version, 0, "Main.Go");
  return 0;
}
