// SHA-1 (FIPS 180-1) with status codes, and HMAC-SHA1 (RFC 2104) for the mail
// client's CRAM-SHA1 answer. A context is a plain record owned by the caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qv {

constexpr int shaSuccess = 0;
constexpr int shaNull = 1;        // no data with a non-zero length; also a bit count overflow
constexpr int shaStateError = 3;  // input after the result was taken

struct SHA1Context {
  std::uint32_t Intermediate_Hash[5] = {};
  std::uint32_t Length_Low = 0;  // bit count, low and high words
  std::uint32_t Length_High = 0;
  int Message_Block_Index = 0;
  std::uint8_t Message_Block[64] = {};
  bool Computed = false;
  int Corrupted = 0;
};

using SHA1Digest = std::array<std::uint8_t, 20>;

int SHA1Reset(SHA1Context& Context);
int SHA1Input(SHA1Context& Context, const void* Data, std::size_t Length);
int SHA1Result(SHA1Context& Context, SHA1Digest& Digest);

void HMAC_SHA1(const void* Data, std::size_t DataLength, const void* Key, SHA1Digest& Digest,
               std::size_t KeyLength);

}  // namespace qv
