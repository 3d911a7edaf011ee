// Shared between the jump-patch and the import-slot halves of the hooking code.
#pragma once

#include <cstddef>

namespace qv::hook_detail {

// True when `count` bytes at `address` can be read, without touching them.
[[nodiscard]] bool Readable(const void* address, std::size_t count);
// Copies `count` bytes from `address` when all of them can be read.
[[nodiscard]] bool ReadBytes(void* destination, const void* address, std::size_t count);
// Puts every import slot that HookImport changed back to the value it held.
void ReverseImportPatches();

}  // namespace qv::hook_detail
