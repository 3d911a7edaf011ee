#include "net/md5.h"

#include <algorithm>
#include <cstring>

namespace qv {
namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

std::uint32_t Rotl(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

void Transform(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = std::uint32_t(block[i * 4]) | std::uint32_t(block[i * 4 + 1]) << 8 |
           std::uint32_t(block[i * 4 + 2]) << 16 | std::uint32_t(block[i * 4 + 3]) << 24;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (b & d) | (c & ~d);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const std::uint32_t next = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kSine[i] + x[g], kShift[i]);
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void MD5Init(TMD5Context& Context) {
  Context = TMD5Context{};
  Context.State[0] = 0x67452301;
  Context.State[1] = 0xefcdab89;
  Context.State[2] = 0x98badcfe;
  Context.State[3] = 0x10325476;
}

void MD5UpdateBuffer(TMD5Context& Context, const void* Data, std::size_t Length) {
  const auto* in = static_cast<const std::uint8_t*>(Data);
  std::size_t index = (Context.Count[0] >> 3) & 0x3F;
  const std::uint64_t bits =
      (std::uint64_t(Context.Count[1]) << 32 | Context.Count[0]) + (std::uint64_t(Length) << 3);
  Context.Count[0] = std::uint32_t(bits);
  Context.Count[1] = std::uint32_t(bits >> 32);
  while (Length > 0) {
    const std::size_t n = std::min(Length, 64 - index);
    std::memcpy(Context.Buffer + index, in, n);
    index += n;
    in += n;
    Length -= n;
    if (index == 64) {
      Transform(Context.State, Context.Buffer);
      index = 0;
    }
  }
}

void MD5Final(TMD5Digest& Digest, TMD5Context& Context) {
  std::uint8_t length[8];
  for (int i = 0; i < 4; ++i) {
    length[i] = std::uint8_t(Context.Count[0] >> (8 * i));
    length[i + 4] = std::uint8_t(Context.Count[1] >> (8 * i));
  }
  const std::size_t index = (Context.Count[0] >> 3) & 0x3F;
  const std::size_t padLength = index < 56 ? 56 - index : 120 - index;
  static constexpr std::uint8_t kPadding[64] = {0x80};
  MD5UpdateBuffer(Context, kPadding, padLength);
  MD5UpdateBuffer(Context, length, 8);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) Digest[i * 4 + j] = std::uint8_t(Context.State[i] >> (8 * j));
  }
  Context = TMD5Context{};
}

void MD5UpdateLarge(TMD5Context& Context, const void* Data, std::size_t Length) {
  constexpr std::size_t kStep = 16384;
  const auto* in = static_cast<const std::uint8_t*>(Data);
  while (Length > 0) {
    const std::size_t n = std::min(Length, kStep);
    MD5UpdateBuffer(Context, in, n);
    in += n;
    Length -= n;
  }
}

}  // namespace qv
