#include "net/sha1.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qv {
namespace {

std::uint32_t Rotl(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

void ProcessMessageBlock(SHA1Context& c) {
  std::uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = std::uint32_t(c.Message_Block[t * 4]) << 24 |
           std::uint32_t(c.Message_Block[t * 4 + 1]) << 16 |
           std::uint32_t(c.Message_Block[t * 4 + 2]) << 8 | c.Message_Block[t * 4 + 3];
  }
  for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  std::uint32_t a = c.Intermediate_Hash[0], b = c.Intermediate_Hash[1], cc = c.Intermediate_Hash[2],
                d = c.Intermediate_Hash[3], e = c.Intermediate_Hash[4];
  for (int t = 0; t < 80; ++t) {
    std::uint32_t f, k;
    if (t < 20) {
      f = (b & cc) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ cc ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & cc) | (b & d) | (cc & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ cc ^ d;
      k = 0xCA62C1D6;
    }
    const std::uint32_t temp = Rotl(a, 5) + f + e + w[t] + k;
    e = d;
    d = cc;
    cc = Rotl(b, 30);
    b = a;
    a = temp;
  }
  c.Intermediate_Hash[0] += a;
  c.Intermediate_Hash[1] += b;
  c.Intermediate_Hash[2] += cc;
  c.Intermediate_Hash[3] += d;
  c.Intermediate_Hash[4] += e;
  c.Message_Block_Index = 0;
}

void PadMessage(SHA1Context& c) {
  c.Message_Block[c.Message_Block_Index++] = 0x80;
  if (c.Message_Block_Index > 56) {
    while (c.Message_Block_Index < 64) c.Message_Block[c.Message_Block_Index++] = 0;
    ProcessMessageBlock(c);
  }
  while (c.Message_Block_Index < 56) c.Message_Block[c.Message_Block_Index++] = 0;
  for (int i = 0; i < 4; ++i) {
    c.Message_Block[56 + i] = std::uint8_t(c.Length_High >> (24 - 8 * i));
    c.Message_Block[60 + i] = std::uint8_t(c.Length_Low >> (24 - 8 * i));
  }
  ProcessMessageBlock(c);
}

}  // namespace

int SHA1Reset(SHA1Context& Context) {
  Context = SHA1Context{};
  Context.Intermediate_Hash[0] = 0x67452301;
  Context.Intermediate_Hash[1] = 0xEFCDAB89;
  Context.Intermediate_Hash[2] = 0x98BADCFE;
  Context.Intermediate_Hash[3] = 0x10325476;
  Context.Intermediate_Hash[4] = 0xC3D2E1F0;
  return shaSuccess;
}

int SHA1Input(SHA1Context& Context, const void* Data, std::size_t Length) {
  if (Length == 0) return shaSuccess;
  if (Data == nullptr) return shaNull;
  if (Context.Computed) {
    Context.Corrupted = shaStateError;
    return shaStateError;
  }
  // Once the count has overflowed the digest is meaningless; refuse more input.
  if (Context.Corrupted != 0) return Context.Corrupted;
  // The 64-bit bit count must not wrap.
  const std::uint64_t bits = std::uint64_t(Context.Length_High) << 32 | Context.Length_Low;
  if (Length > (UINT64_MAX - bits) / 8) {
    Context.Corrupted = shaNull;
    return shaNull;
  }
  const std::uint64_t total = bits + std::uint64_t(Length) * 8;
  Context.Length_Low = std::uint32_t(total);
  Context.Length_High = std::uint32_t(total >> 32);
  const auto* in = static_cast<const std::uint8_t*>(Data);
  while (Length > 0) {
    const std::size_t n =
        std::min<std::size_t>(Length, 64 - std::size_t(Context.Message_Block_Index));
    std::memcpy(Context.Message_Block + Context.Message_Block_Index, in, n);
    Context.Message_Block_Index += int(n);
    in += n;
    Length -= n;
    if (Context.Message_Block_Index == 64) ProcessMessageBlock(Context);
  }
  return shaSuccess;
}

int SHA1Result(SHA1Context& Context, SHA1Digest& Digest) {
  if (Context.Corrupted != 0) return Context.Corrupted;
  if (!Context.Computed) {
    PadMessage(Context);
    std::memset(Context.Message_Block, 0, sizeof Context.Message_Block);
    Context.Length_Low = 0;
    Context.Length_High = 0;
    Context.Computed = true;
  }
  for (int i = 0; i < 20; ++i) {
    Digest[i] = std::uint8_t(Context.Intermediate_Hash[i >> 2] >> (8 * (3 - (i & 3))));
  }
  return shaSuccess;
}

void HMAC_SHA1(const void* Data, std::size_t DataLength, const void* Key, SHA1Digest& Digest,
               std::size_t KeyLength) {
  std::uint8_t key[64] = {};
  if (KeyLength > 64) {
    SHA1Context c;
    SHA1Reset(c);
    SHA1Input(c, Key, KeyLength);
    SHA1Digest hashed;
    SHA1Result(c, hashed);
    std::memcpy(key, hashed.data(), hashed.size());
  } else if (KeyLength > 0) {
    std::memcpy(key, Key, KeyLength);
  }
  std::uint8_t pad[64];
  for (int i = 0; i < 64; ++i) pad[i] = key[i] ^ 0x36;
  SHA1Context inner;
  SHA1Reset(inner);
  SHA1Input(inner, pad, 64);
  SHA1Input(inner, Data, DataLength);
  SHA1Digest innerDigest;
  SHA1Result(inner, innerDigest);
  for (int i = 0; i < 64; ++i) pad[i] = key[i] ^ 0x5C;
  SHA1Context outer;
  SHA1Reset(outer);
  SHA1Input(outer, pad, 64);
  SHA1Input(outer, innerDigest.data(), innerDigest.size());
  SHA1Result(outer, Digest);
}

}  // namespace qv
