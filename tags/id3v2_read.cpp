#include "tags/id3v2_read.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/base/streams.h"
#include "tags/id3v2.h"

namespace qv::id3 {
namespace {

constexpr size_t kRingSize = 65536;
constexpr size_t kBlockSize = 16384;

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A sync-safe integer; false when a byte has its top bit set.
bool SyncSafe32(const uint8_t* p, uint32_t& value) {
  if ((p[0] | p[1] | p[2] | p[3]) & 0x80) return false;
  value = (uint32_t{p[0]} << 21) | (uint32_t{p[1]} << 14) | (uint32_t{p[2]} << 7) | p[3];
  return true;
}

bool ValidHeader(const uint8_t* h) {
  return std::memcmp(h, "ID3", 3) == 0 && h[3] != 0xFF && h[4] != 0xFF &&
         ((h[6] | h[7] | h[8] | h[9]) & 0x80) == 0;
}

bool IsPadding(const uint8_t* header, size_t count) {
  if (count >= 4 && std::memcmp(header, "MP3e", 4) == 0) return true;
  return std::all_of(header, header + count, [](uint8_t b) { return b == 0; });
}

// The tag body as a byte stream: read from the file in 16 KB blocks into a 64 KB window, with
// the tag-level unsynchronisation of a version-2.3 tag removed as the bytes arrive.
class TagSource {
 public:
  TagSource(TStream& file, int64_t bodyStart, int64_t bodyLength, bool unsync)
      : file_(file), pos_(bodyStart), rawLeft_(bodyLength), unsync_(unsync) {}

  // Bytes the body may still yield; an upper bound while unsynchronised bytes are unread.
  [[nodiscard]] int64_t Remaining() const { return rawLeft_ + static_cast<int64_t>(tail_ - head_); }
  [[nodiscard]] int64_t FilePosition() const { return pos_; }
  [[nodiscard]] int64_t Consumed() const { return consumed_; }
  // True when the body has no byte left, unsynchronisation taken into account.
  bool AtEnd() { return head_ == tail_ && !Refill(); }

  size_t Read(uint8_t* dest, size_t count) {
    size_t done = 0;
    while (done < count) {
      if (head_ == tail_ && !Refill()) break;
      const size_t n = std::min(count - done, tail_ - head_);
      std::memcpy(dest + done, ring_.data() + head_, n);
      head_ += n;
      done += n;
    }
    consumed_ += static_cast<int64_t>(done);
    return done;
  }

  void Skip(int64_t count) {
    std::array<uint8_t, 4096> sink{};
    while (count > 0) {
      const size_t got = Read(sink.data(), static_cast<size_t>(std::min<int64_t>(count, 4096)));
      if (got == 0) break;
      count -= static_cast<int64_t>(got);
    }
  }

 private:
  bool Refill() {
    if (rawLeft_ == 0) return false;
    std::memmove(ring_.data(), ring_.data() + head_, tail_ - head_);
    tail_ -= head_;
    head_ = 0;
    while (tail_ < kRingSize && rawLeft_ > 0) {
      const size_t want = static_cast<size_t>(std::min<int64_t>(
          {rawLeft_, static_cast<int64_t>(kBlockSize), static_cast<int64_t>(kRingSize - tail_)}));
      const size_t got = ReadAt(file_, pos_, ring_.data() + tail_, want);
      if (got == 0) {
        rawLeft_ = 0;  // the file shrank under us: end the body here
        break;
      }
      pos_ += static_cast<int64_t>(got);
      rawLeft_ -= static_cast<int64_t>(got);
      tail_ += Decode(tail_, got);
    }
    return tail_ > head_;
  }

  // Removes every $00 that follows a $FF, remembering a $FF at the end for the next block.
  size_t Decode(size_t start, size_t count) {
    if (!unsync_) return count;
    size_t out = start;
    for (size_t i = start; i < start + count; ++i) {
      const uint8_t b = ring_[i];
      if (afterFF_ && b == 0x00) {
        afterFF_ = false;
        continue;
      }
      ring_[out++] = b;
      afterFF_ = b == 0xFF;
    }
    return out - start;
  }

  TStream& file_;
  int64_t pos_;
  int64_t rawLeft_;
  bool unsync_;
  bool afterFF_ = false;
  int64_t consumed_ = 0;
  std::vector<uint8_t> ring_ = std::vector<uint8_t>(kRingSize);
  size_t head_ = 0;
  size_t tail_ = 0;
};

// Stops the parse with an error class, keeping the warning bits gathered so far.
uint16_t Stop(uint16_t result, uint16_t errorClass) {
  return static_cast<uint16_t>((result & 0x00FF) | errorClass);
}

class Parser {
 public:
  Parser(Tid3v2tag& tag, TStream& file, int64_t offset) : tag_(tag), file_(file), offset_(offset) {}

  uint16_t Run(const uint8_t* header, uint16_t result);

 private:
  void UpdatePercent(const TagSource& src) const {
    const double total = static_cast<double>(tag_.Size + 10);
    const double done = static_cast<double>(src.FilePosition() - offset_);
    tag_.Percent = static_cast<uint8_t>(std::clamp(std::nearbyint(done / total * 100), 0.0, 100.0));
  }
  bool ExtendedHeader23(TagSource& src, uint16_t& result);
  bool ExtendedHeader24(TagSource& src, uint16_t& result);
  bool Frames(TagSource& src, uint16_t& result);

  Tid3v2tag& tag_;
  TStream& file_;
  int64_t offset_;
  bool declaredPadding_ = false;
};

uint16_t Parser::Run(const uint8_t* header, uint16_t result) {
  const uint8_t flags = header[5];
  const uint8_t known = tag_.Version == 3 ? 0xE0 : 0xF0;
  if (flags & ~known) result |= kUnknownFlags;
  tag_.Flags = flags & known;
  uint32_t size = 0;
  SyncSafe32(header + 6, size);  // the header check has ruled out bad bytes
  tag_.Size = size;
  if (file_.Size() < offset_ + tag_.Size + 10) return Stop(result, kFileTooShort);

  const bool unsync = tag_.Version == 3 && (tag_.Flags & 0x80);
  TagSource src(file_, offset_ + 10, tag_.Size, unsync);
  UpdatePercent(src);
  tag_.Frames.Clear();

  const bool ok = tag_.Version == 3 ? ExtendedHeader23(src, result) : ExtendedHeader24(src, result);
  if (!ok) return result;
  Frames(src, result);
  return result;
}

bool Parser::ExtendedHeader23(TagSource& src, uint16_t& result) {
  if (!(tag_.Flags & 0x40) || src.Remaining() < 11) {
    tag_.ExtHeaderSize = tag_.PaddingSize = tag_.CRC = tag_.Restrictions = 0;
    tag_.ExtFlags &= static_cast<uint8_t>(~0x20);
    return true;
  }
  std::array<uint8_t, 10> b{};
  if (src.Read(b.data(), b.size()) != b.size()) {
    result = Stop(result, kMalformed);
    return false;
  }
  tag_.ExtHeaderSize = BigEndian32(b.data());
  const bool crc = b[4] & 0x80;
  tag_.ExtFlags = crc ? 0x20 : 0x00;
  if ((b[4] & 0x7F) || b[5]) result |= kUnknownExtFlags;
  tag_.PaddingSize = BigEndian32(b.data() + 6);
  declaredPadding_ = true;
  tag_.CRC = 0;
  if (crc && tag_.ExtHeaderSize == 10) {
    std::array<uint8_t, 4> c{};
    if (src.Read(c.data(), c.size()) != c.size()) {
      result = Stop(result, kMalformed);
      return false;
    }
    tag_.CRC = BigEndian32(c.data());
  }
  return true;
}

bool Parser::ExtendedHeader24(TagSource& src, uint16_t& result) {
  if (!(tag_.Flags & 0x40) || src.Remaining() < 7) {
    tag_.ExtFlags &= static_cast<uint8_t>(~0x70);
    tag_.ExtHeaderSize = tag_.PaddingSize = tag_.CRC = tag_.Restrictions = 0;
    return true;
  }
  auto malformed = [&result] {
    result = Stop(result, kMalformed);
    return false;
  };
  std::vector<uint8_t> b(4);
  uint32_t size = 0;
  if (src.Read(b.data(), 4) != 4 || !SyncSafe32(b.data(), size) || size < 6) return malformed();
  tag_.ExtHeaderSize = size;
  if (static_cast<int64_t>(size) - 4 > src.Remaining()) return malformed();
  b.resize(size);
  if (src.Read(b.data() + 4, size - 4) != size - 4) return malformed();
  const uint8_t flagBytes = b[4];
  if (flagBytes == 0 || 5u + flagBytes > size) return malformed();
  tag_.PaddingSize = 0;
  const uint8_t flags = b[5];
  tag_.ExtFlags = flags & 0x70;
  if ((flags & 0x8F) || flagBytes > 1) result |= kUnknownExtFlags;
  size_t pos = 5u + flagBytes;
  for (const uint8_t bit : {0x80, 0x40, 0x20, 0x10}) {
    if (!(flags & bit)) continue;
    if (pos >= size) return malformed();
    const size_t len = b[pos++];
    if (pos + len > size) return malformed();
    if (bit == 0x20) {
      if (len < 5) return malformed();
      uint64_t crc = 0;
      for (size_t k = 0; k < 5; ++k) crc = (crc << 7) | (b[pos + k] & 0x7F);
      tag_.CRC = static_cast<uint32_t>(crc);
    } else if (bit == 0x10) {
      if (len < 1) return malformed();
      tag_.Restrictions = b[pos + len - 1];
    }
    pos += len;
  }
  return true;
}

bool Parser::Frames(TagSource& src, uint16_t& result) {
  const bool v3 = tag_.Version == 3;
  // In a version-2.4 tag the header's unsynchronisation flag speaks for every frame.
  const uint8_t tagUnsync = (!v3 && (tag_.Flags & 0x80)) ? kFormatUnsync : 0;
  while (src.Remaining() > 0) {
    UpdatePercent(src);
    const int64_t position = 10 + src.Consumed();
    std::array<uint8_t, 10> h{};
    const size_t want = static_cast<size_t>(std::min<int64_t>(10, src.Remaining()));
    const size_t got = src.Read(h.data(), want);
    if (IsPadding(h.data(), got)) {
      const int64_t measure = static_cast<int64_t>(got) + src.Remaining();
      if (declaredPadding_) {
        if (measure != tag_.PaddingSize) result |= kPaddingMismatch;
      } else {
        tag_.PaddingSize = measure;
      }
      return true;
    }
    if (got < 10 || src.AtEnd()) {
      // No frame fits in what is left: a tag that declares padding ends here, any other
      // ends inside a frame.
      if (tag_.PaddingSize != 0) return true;
      result = Stop(result, kMalformed);
      return false;
    }
    const int index = tag_.Frames.Add(std::string_view(reinterpret_cast<char*>(h.data()), 4));
    if (index == 0) {
      result = Stop(result, kBadFrameId);
      return false;
    }
    TFrameRecord& rec = tag_.Frames.Record(index);
    rec.Modified = 0;
    int64_t frameSize = 0;
    if (v3) {
      frameSize = BigEndian32(h.data() + 4);
    } else {
      uint32_t s = 0;
      if (!SyncSafe32(h.data() + 4, s)) {
        result = Stop(result, kMalformed);
        return false;
      }
      frameSize = s;
    }
    if (frameSize > src.Remaining() || (v3 && position + 10 + frameSize > 0x10000000)) {
      result = Stop(result, kMalformed);
      return false;
    }
    rec.Position = static_cast<int32_t>(position);
    uint8_t status = h[8];
    uint8_t format = h[9];
    if (v3) {
      status = static_cast<uint8_t>(h[8] >> 1) & 0x70;
      format = 0;
      if (h[9] & 0x20) format |= kFormatGrouping;
      if (h[9] & 0x80) format |= kFormatCompression | kFormatDataLength;
      if (h[9] & 0x40) format |= kFormatEncryption;
    } else {
      format |= tagUnsync;
    }
    rec.Flags = {0, status, format, status, format};

    // The extra bytes the flags announce, in each version's order.
    std::array<uint8_t, 6> extra{};
    size_t extraCount = 0;
    if (v3) {
      extraCount = ((format & kFormatCompression) ? 4 : 0) +
                   ((format & kFormatEncryption) ? 1 : 0) + ((format & kFormatGrouping) ? 1 : 0);
    } else {
      extraCount = ((format & kFormatGrouping) ? 1 : 0) + ((format & kFormatEncryption) ? 1 : 0) +
                   ((format & kFormatDataLength) ? 4 : 0);
    }
    if (static_cast<int64_t>(extraCount) > frameSize ||
        src.Read(extra.data(), extraCount) != extraCount) {
      result = Stop(result, kMalformed);
      return false;
    }
    const uint8_t* e = extra.data();
    if (v3) {
      if (format & kFormatCompression) {
        rec.DecodedSize = static_cast<int32_t>(std::min<uint32_t>(BigEndian32(e), 0x7FFFFFFF));
        e += 4;
      }
      if (format & kFormatEncryption) rec.Method = *e++;
      if (format & kFormatGrouping) rec.Group = *e++;
    } else {
      if (format & kFormatGrouping) rec.Group = *e++;
      if (format & kFormatEncryption) rec.Method = *e++;
      if (format & kFormatDataLength) {
        uint32_t s = 0;
        if (!SyncSafe32(e, s)) {
          result = Stop(result, kMalformed);
          return false;
        }
        rec.DecodedSize = static_cast<int32_t>(s);
      }
    }
    rec.HeaderSize = static_cast<int32_t>(10 + extraCount);
    const size_t dataSize = static_cast<size_t>(frameSize) - extraCount;
    rec.Data.resize(dataSize);
    if (src.Read(rec.Data.data(), dataSize) != dataSize) {
      result = Stop(result, kMalformed);
      return false;
    }
  }
  return true;
}

}  // namespace

uint16_t LoadTag(Tid3v2tag& Tag, TStream& File, int64_t Offset) {
  Tag.Done = 0;
  Tag.Percent = 0;
  Tag.Status = "Loading tag";
  if (File.Size() - Offset < 10) return kNoTag;
  std::array<uint8_t, 10> h{};
  if (ReadAt(File, Offset, h.data(), h.size()) != h.size() || !ValidHeader(h.data())) {
    return kNoTag;
  }
  Tag.Version = h[3];
  Tag.Revision = h[4];
  Tag.TagOffset = Offset;
  if (Tag.Version != 3 && Tag.Version != 4) return kBadVersion;
  uint16_t result = kOk;
  if (Tag.Revision != 0) {
    if (!Tag.AllowRevision) return kBadRevision;
    result |= kRevisionNotZero;
  }
  result = Parser(Tag, File, Offset).Run(h.data(), result);
  Tag.LastResult = result;
  Tag.Changed = 0;
  Tag.Done = 1;
  Tag.Percent = 100;
  Tag.Status = "Load Complete";
  return result;
}

int64_t ExistingTagSize(TStream& File, int64_t Offset) {
  const int64_t available = File.Size() - Offset;
  if (available < 10) return 0;
  std::array<uint8_t, 10> h{};
  if (ReadAt(File, Offset, h.data(), h.size()) != h.size() || !ValidHeader(h.data())) return 0;
  uint32_t size = 0;
  SyncSafe32(h.data() + 6, size);
  int64_t total = int64_t{size} + 10;
  if (h[3] == 4 && (h[5] & 0x10)) total += 10;  // the footer belongs to the old tag too
  return std::min(total, available);
}

size_t ReadAt(TStream& File, int64_t Pos, void* Dest, size_t Count) {
  File.SetPosition(Pos);
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(Dest);
  while (done < Count) {
    const int64_t n = File.Read(out + done, static_cast<int64_t>(Count - done));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace qv::id3
