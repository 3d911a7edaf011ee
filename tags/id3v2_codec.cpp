#include "tags/id3v2_codec.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <string>

#include "tags/id3v2.h"

namespace qv::id3 {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

bool NeedsGuard(uint8_t next) {
  return next == 0x00 || next >= 0xE0;
}

std::string ZMessage(int code) {
  const char* text = zError(code);
  return text != nullptr ? text : "zlib error " + std::to_string(code);
}

}  // namespace

void UpdateCRC32(std::span<const uint8_t> Buffer, uint32_t& CRC) {
  for (const uint8_t b : Buffer) CRC = kCrcTable[(CRC ^ b) & 0xFF] ^ (CRC >> 8);
}

uint32_t CRC32(std::span<const uint8_t> Buffer) {
  uint32_t crc = 0xFFFFFFFFu;
  UpdateCRC32(Buffer, crc);
  return ~crc;
}

int64_t UnsyncCount(std::span<const uint8_t> Bytes) {
  int64_t count = 0;
  // A guarded pair moves on to its second byte, so "$FF $FF $00" counts both pairs.
  for (size_t i = 0; i + 1 < Bytes.size(); ++i) {
    if (Bytes[i] != 0xFF) continue;
    if (NeedsGuard(Bytes[i + 1])) {
      ++count;
    } else {
      ++i;
    }
  }
  return count;
}

int64_t UnsyncCount(uint32_t Value) {
  const std::array<uint8_t, 4> bytes = {
      static_cast<uint8_t>(Value >> 24), static_cast<uint8_t>(Value >> 16),
      static_cast<uint8_t>(Value >> 8), static_cast<uint8_t>(Value)};
  return UnsyncCount(bytes);
}

int64_t UnsyncBuffer(uint8_t* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  const int64_t inserted = UnsyncCount(std::span<const uint8_t>(Buffer, Count));
  int64_t outstanding = inserted;
  // Backwards, so every byte is moved up before anything overwrites it.
  for (int64_t i = Count - 1; i >= 0 && outstanding > 0; --i) {
    const bool guard = i + 1 < Count && Buffer[i] == 0xFF && NeedsGuard(Buffer[i + 1]);
    if (guard) {
      Buffer[i + outstanding] = 0x00;
      --outstanding;
    }
    Buffer[i + outstanding] = Buffer[i];
  }
  return inserted;
}

int64_t DeunsyncBuffer(uint8_t* Buffer, int64_t Count) {
  int64_t out = 0;
  bool afterFF = false;
  for (int64_t i = 0; i < Count; ++i) {
    const uint8_t b = Buffer[i];
    if (afterFF && b == 0x00) {
      afterFF = false;
      continue;
    }
    Buffer[out++] = b;
    afterFF = b == 0xFF;
  }
  return out;
}

int CompressionLevel(int Level) {
  static constexpr std::array<int, 4> kLevels = {Z_NO_COMPRESSION, Z_BEST_SPEED,
                                                 Z_DEFAULT_COMPRESSION, Z_BEST_COMPRESSION};
  return kLevels[std::clamp(Level, 0, 3)];
}

int CCheck(int Code) {
  if (Code < 0) throw EZCompressionError(ZMessage(Code));
  return Code;
}

int DCheck(int Code) {
  if (Code < 0) throw EZDecompressionError(ZMessage(Code));
  return Code;
}

std::vector<uint8_t> CompressBuf(std::span<const uint8_t> In, int Level) {
  z_stream zs{};
  CCheck(deflateInit(&zs, CompressionLevel(Level)));
  std::vector<uint8_t> out(deflateBound(&zs, static_cast<uLong>(In.size())));
  zs.next_in = const_cast<Bytef*>(In.data());
  zs.avail_in = static_cast<uInt>(In.size());
  int code = Z_OK;
  while (code != Z_STREAM_END) {
    if (zs.total_out == out.size()) out.resize(out.size() + 256);
    zs.next_out = out.data() + zs.total_out;
    zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
    code = deflate(&zs, Z_FINISH);
    if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR) {
      deflateEnd(&zs);
      CCheck(code < 0 ? code : Z_STREAM_ERROR);
    }
  }
  out.resize(zs.total_out);
  CCheck(deflateEnd(&zs));
  return out;
}

std::vector<uint8_t> DecompressBuf(std::span<const uint8_t> In, size_t OutEstimate,
                                   size_t OutLimit) {
  z_stream zs{};
  DCheck(inflateInit(&zs));
  const size_t step = std::max<size_t>(256, (In.size() + 255) & ~size_t{255});
  std::vector<uint8_t> out(std::min(OutEstimate != 0 ? OutEstimate : step, OutLimit));
  zs.next_in = const_cast<Bytef*>(In.data());
  zs.avail_in = static_cast<uInt>(In.size());
  int code = Z_OK;
  auto fail = [&zs](const std::string& message) {
    inflateEnd(&zs);
    throw EZDecompressionError(message);
  };
  while (code != Z_STREAM_END) {
    if (zs.total_out == out.size()) {
      if (out.size() >= OutLimit) fail("output exceeds the declared size");
      // Geometric growth keeps a large frame from costing quadratic copying.
      out.resize(std::min(OutLimit, std::max(out.size() * 2, out.size() + step)));
    }
    zs.next_out = out.data() + zs.total_out;
    zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
    const uLong before = zs.total_out;
    const uInt inBefore = zs.avail_in;
    code = inflate(&zs, Z_NO_FLUSH);
    if (code == Z_STREAM_END) break;
    // Anything but plain progress is fatal: a stream that wants a preset dictionary would
    // otherwise ask for one forever, and a stream that runs out of input never ends.
    if (code != Z_OK && code != Z_BUF_ERROR) fail(ZMessage(code));
    const bool progressed = zs.total_out != before || zs.avail_in != inBefore;
    if (!progressed && zs.avail_out != 0) fail(ZMessage(Z_BUF_ERROR));
  }
  out.resize(zs.total_out);
  DCheck(inflateEnd(&zs));
  return out;
}

}  // namespace qv::id3
