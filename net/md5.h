// MD5 message digest (RFC 1321), used by the mail client's CRAM-MD5 answer.
// A context is a plain record owned by the caller; any thread may use its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qv {

struct TMD5Context {
  std::uint32_t State[4] = {};
  std::uint32_t Count[2] = {};  // bit count, low word first
  std::uint8_t Buffer[64] = {};
};

using TMD5Digest = std::array<std::uint8_t, 16>;

void MD5Init(TMD5Context& Context);
void MD5UpdateBuffer(TMD5Context& Context, const void* Data, std::size_t Length);
// Pads, writes the digest and clears the context.
void MD5Final(TMD5Digest& Digest, TMD5Context& Context);
// Feeds a large buffer in 16 KiB steps.
void MD5UpdateLarge(TMD5Context& Context, const void* Data, std::size_t Length);

}  // namespace qv
