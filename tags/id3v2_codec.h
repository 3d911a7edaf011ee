// Byte-level routines of the ID3v2 code: CRC-32, unsynchronisation and zlib glue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qv::id3 {

// Feeds bytes into a reflected CRC-32 register (polynomial 0xEDB88320). The caller applies
// the initial value and the final inversion.
void UpdateCRC32(std::span<const uint8_t> Buffer, uint32_t& CRC);
// The standard CRC-32 (initial 0xFFFFFFFF, final inversion) of one buffer.
uint32_t CRC32(std::span<const uint8_t> Buffer);

// The number of $00 bytes that unsynchronisation inserts: one after every $FF followed by $00
// or by a byte of $E0 or more.
int64_t UnsyncCount(std::span<const uint8_t> Bytes);
int64_t UnsyncCount(uint32_t Value);
// Unsynchronises the first `Count` bytes of `Buffer` in place, working backwards; the buffer
// must have room for the inserted bytes. Returns the number inserted.
int64_t UnsyncBuffer(uint8_t* Buffer, int64_t Count);
// Removes every $00 that follows a $FF, in place; returns the new length.
int64_t DeunsyncBuffer(uint8_t* Buffer, int64_t Count);

// Compression levels by `Level` 0..3 (out-of-range levels are clamped).
int CompressionLevel(int Level);
// Whole-buffer deflate; raises `EZCompressionError`.
std::vector<uint8_t> CompressBuf(std::span<const uint8_t> In, int Level);
// Whole-buffer inflate of one complete zlib stream; raises `EZDecompressionError` for a
// damaged, truncated or dictionary-bound stream, and when the output would exceed `OutLimit`.
std::vector<uint8_t> DecompressBuf(std::span<const uint8_t> In, size_t OutEstimate,
                                   size_t OutLimit);
// Pass non-negative zlib codes through; raise with zlib's message for a negative one.
int CCheck(int Code);
int DCheck(int Code);

}  // namespace qv::id3
