#include "tags/id3v2_write.h"

#include <algorithm>
#include <array>
#include <vector>

#include <climits>
#include <cstdlib>

#include "platform/base/streams.h"
#include "tags/id3v2.h"
#include "tags/id3v2_codec.h"
#include "tags/id3v2_read.h"

namespace qv::id3 {
namespace {

constexpr size_t kBlockSize = 16384;

// Where the bytes of a tag go: a counter, a CRC register, the file, or an unsynchroniser in
// front of one of them.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Put(const uint8_t* data, size_t count) = 0;
  void Put(uint8_t b) { Put(&b, 1); }
  void Zeros(int64_t count) {
    static constexpr std::array<uint8_t, 4096> kZeros{};
    while (count > 0) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(count, kZeros.size()));
      Put(kZeros.data(), n);
      count -= static_cast<int64_t>(n);
    }
  }
};

class CountSink final : public Sink {
 public:
  using Sink::Put;
  void Put(const uint8_t*, size_t count) override { count_ += static_cast<int64_t>(count); }
  [[nodiscard]] int64_t Count() const { return count_; }

 private:
  int64_t count_ = 0;
};

class CrcSink final : public Sink {
 public:
  using Sink::Put;
  void Put(const uint8_t* data, size_t count) override { UpdateCRC32({data, count}, crc_); }
  [[nodiscard]] uint32_t Value() const { return ~crc_; }

 private:
  uint32_t crc_ = 0xFFFFFFFFu;
};

// Collects bytes and writes them to the stream 16 KB at a time, from its position on.
class StreamSink final : public Sink {
 public:
  explicit StreamSink(TStream& stream) : stream_(stream) { buf_.reserve(kBlockSize); }
  using Sink::Put;
  void Put(const uint8_t* data, size_t count) override {
    while (count > 0) {
      const size_t n = std::min(count, kBlockSize - buf_.size());
      buf_.insert(buf_.end(), data, data + n);
      data += n;
      count -= n;
      if (buf_.size() == kBlockSize) Flush();
    }
  }
  void Flush() {
    stream_.WriteBuffer(buf_.data(), static_cast<int64_t>(buf_.size()));
    buf_.clear();
  }

 private:
  TStream& stream_;
  std::vector<uint8_t> buf_;
};

// Copies `count` bytes from `from` at `pos` to `to` at its position, 16 KB at a time.
void CopyRange(TStream& from, int64_t pos, TStream& to, int64_t count) {
  std::vector<uint8_t> block(kBlockSize);
  from.SetPosition(pos);
  while (count > 0) {
    const int64_t n = std::min<int64_t>(count, kBlockSize);
    from.ReadBuffer(block.data(), n);
    to.WriteBuffer(block.data(), n);
    count -= n;
  }
}

// The file a symbolic link names is the one to replace, not the link.
std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// Tag-level unsynchronisation of a version-2.3 tag as a stream: a $00 goes in after every
// $FF that is followed by $00 or a byte of $E0 or more, and after a $FF that ends the frames,
// since padding or audio follows it. Readers remove every $00 that follows a $FF.
class UnsyncSink final : public Sink {
 public:
  explicit UnsyncSink(Sink& next) : next_(next) {}
  using Sink::Put;
  void Put(const uint8_t* data, size_t count) override {
    for (size_t i = 0; i < count; ++i) {
      const uint8_t b = data[i];
      if (afterFF_ && (b == 0x00 || b >= 0xE0)) next_.Put(uint8_t{0});
      next_.Put(b);
      afterFF_ = b == 0xFF;
    }
  }
  void End() {
    if (afterFF_) next_.Put(uint8_t{0});
    afterFF_ = false;
  }

 private:
  Sink& next_;
  bool afterFF_ = false;
};

void PutBigEndian32(Sink& out, uint32_t v) {
  const std::array<uint8_t, 4> b = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                    static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  out.Put(b.data(), b.size());
}

void PutSyncSafe32(Sink& out, uint32_t v) {
  const std::array<uint8_t, 4> b = {
      static_cast<uint8_t>((v >> 21) & 0x7F), static_cast<uint8_t>((v >> 14) & 0x7F),
      static_cast<uint8_t>((v >> 7) & 0x7F), static_cast<uint8_t>(v & 0x7F)};
  out.Put(b.data(), b.size());
}

// Thrown to end the operation with an error class.
struct StopWith {
  uint16_t errorClass;
};

class Writer {
 public:
  Writer(Tid3v2tag& tag, const std::string& path, uint8_t version, int64_t offset, uint8_t revision)
      : tag_(tag), path_(path), version_(version), offset_(offset), revision_(revision) {}

  uint16_t Run();
  [[nodiscard]] uint16_t Result() const { return result_; }

 private:
  [[nodiscard]] bool V3() const { return version_ == 3; }
  [[nodiscard]] bool TagUnsync() const { return V3() && (tag_.Flags & 0x80); }
  [[nodiscard]] TFrameIndex& Frames() const { return tag_.Frames; }
  void Drop() { result_ |= kFlagDropped; }

  void PrepareFlags();
  void TidyFrames();
  void FixDataLengths();
  void EncryptionPass();
  void CompressionPass();
  void GroupingPass();
  void UnsyncPass();
  void ChoosePadding(int64_t fileSize);

  void EmitExtHeader(Sink& out, int64_t padding) const;
  void EmitFrames(Sink& out) const;
  void EmitTag(Sink& out) const;
  [[nodiscard]] int64_t ExtHeaderLength(int64_t padding) const;
  void Finish();

  Tid3v2tag& tag_;
  const std::string& path_;
  uint8_t version_;
  int64_t offset_;
  uint8_t revision_;
  uint16_t result_ = kOk;
  bool extHeader_ = false;
  int64_t oldSize_ = 0;
  int64_t framesLength_ = 0;  // frames as written, unsynchronisation included
  int64_t padding_ = 0;
  int64_t newSize_ = 0;
  uint32_t crc_ = 0;
};

// Brings the tag's unsynchronisation flag and the frames' flags into agreement.
void Writer::PrepareFlags() {
  for (int i = 1; i <= Frames().Count(); ++i) {
    if (Frames().Unsynchronisation(i)) tag_.Flags |= 0x80;
  }
  if (tag_.Flags & 0x80) {
    for (int i = 1; i <= Frames().Count(); ++i) Frames().Record(i).Flags[4] |= kFormatUnsync;
  }
  if (V3()) {
    if (tag_.ExtFlags & 0x20) tag_.Flags |= 0x40;
  } else if (tag_.ExtFlags & 0x70) {
    tag_.Flags |= 0x40;  // the extended header carries these flags
  }
  extHeader_ = (tag_.Flags & 0x40) != 0;
}

void Writer::TidyFrames() {
  for (int i = Frames().Count(); i >= 1; --i) {
    TFrameRecord& rec = Frames().Record(i);
    if (rec.Flags[4] & kFormatCompression) rec.Flags[4] |= kFormatDataLength;
    if (rec.Data.empty()) Frames().Delete(i);
  }
  if (Frames().Count() == 0) throw StopWith{kNoFrames};
}

// A version-2.4 data length indicator must give the size of the content fully decoded.
void Writer::FixDataLengths() {
  for (int i = 1; i <= Frames().Count(); ++i) {
    TFrameRecord& rec = Frames().Record(i);
    if (!(rec.Flags[4] & kFormatDataLength) || rec.DecodedSize != 0) continue;
    const uint8_t stored = rec.Flags[2];
    if (stored & kFormatEncryption) {
      if (!tag_.Tolerant) throw StopWith{kCannotDataLength};
      rec.Flags[4] &= static_cast<uint8_t>(~kFormatDataLength);
      rec.DecodedSize = 0;
      Drop();
      continue;
    }
    if (stored & kFormatUnsync) Frames().DeunsyncFrame(i);
    if (stored & kFormatCompression) Frames().DecompressFrame(i);
    rec.DecodedSize = static_cast<int32_t>(rec.Data.size());
  }
}

// Encrypted content cannot be produced or decoded here, nor can its compression change.
void Writer::EncryptionPass() {
  for (int i = 1; i <= Frames().Count(); ++i) {
    TFrameRecord& rec = Frames().Record(i);
    const uint8_t stored = rec.Flags[2];
    uint8_t& wanted = rec.Flags[4];
    const bool encChange = (stored ^ wanted) & kFormatEncryption;
    const bool packChange =
        (stored & kFormatEncryption) && ((stored ^ wanted) & kFormatCompression);
    if (!encChange && !packChange) continue;
    if (!tag_.Tolerant) throw StopWith{kCannotEncrypt};
    wanted = static_cast<uint8_t>((wanted & ~(kFormatEncryption | kFormatCompression)) |
                                  (stored & (kFormatEncryption | kFormatCompression)));
    Drop();
  }
}

void Writer::CompressionPass() {
  const int level = std::clamp<int>(tag_.Level, 0, 3);
  for (int i = 1; i <= Frames().Count(); ++i) {
    TFrameRecord& rec = Frames().Record(i);
    if (rec.Flags[2] & kFormatEncryption) continue;
    const bool stored = rec.Flags[2] & kFormatCompression;
    const bool wanted = rec.Flags[4] & kFormatCompression;
    // A version-2.3 compressed frame states its decompressed size; recompress when unknown.
    const bool needSize = V3() && wanted && stored && rec.DecodedSize <= 0;
    if (stored == wanted && !needSize) continue;
    tag_.Status = "Applying compression";
    if (rec.Flags[2] & kFormatUnsync) Frames().DeunsyncFrame(i);
    if (stored) {
      Frames().DecompressFrame(i);
      rec.DecodedSize = static_cast<int32_t>(rec.Data.size());  // plain content's own length
    }
    if (wanted) Frames().CompressFrame(i, level);
  }
  tag_.Percent = 5;
}

void Writer::GroupingPass() {
  for (int i = 1; i <= Frames().Count(); ++i) {
    TFrameRecord& rec = Frames().Record(i);
    if (!((rec.Flags[2] ^ rec.Flags[4]) & kFormatGrouping)) continue;
    if (!tag_.Tolerant) throw StopWith{kCannotGroup};
    rec.Flags[4] =
        static_cast<uint8_t>((rec.Flags[4] & ~kFormatGrouping) | (rec.Flags[2] & kFormatGrouping));
    Drop();
  }
}

// Last, so that it covers compressed content too. A version-2.3 tag unsynchronises as a
// whole while it is written, so its frames are kept plain here.
void Writer::UnsyncPass() {
  for (int i = 1; i <= Frames().Count(); ++i) {
    TFrameRecord& rec = Frames().Record(i);
    const bool stored = rec.Flags[2] & kFormatUnsync;
    const bool wanted = !V3() && (rec.Flags[4] & kFormatUnsync);
    if (stored == wanted) continue;
    tag_.Status = "Applying unsync";
    if (wanted) {
      Frames().UnsyncFrame(i);
    } else {
      Frames().DeunsyncFrame(i);
    }
  }
  tag_.Percent = 10;
}

void Writer::EmitExtHeader(Sink& out, int64_t padding) const {
  if (!extHeader_) return;
  if (V3()) {
    const bool crc = tag_.ExtFlags & 0x20;
    PutBigEndian32(out, crc ? 10 : 6);
    out.Put(uint8_t{crc ? uint8_t{0x80} : uint8_t{0x00}});
    out.Put(uint8_t{0});
    PutBigEndian32(out, static_cast<uint32_t>(padding));
    if (crc) PutBigEndian32(out, crc_);
    return;
  }
  const uint8_t flags = tag_.ExtFlags & 0x70;
  const uint32_t size =
      6 + ((flags & 0x40) ? 1 : 0) + ((flags & 0x20) ? 6 : 0) + ((flags & 0x10) ? 2 : 0);
  PutSyncSafe32(out, size);
  out.Put(uint8_t{1});
  out.Put(flags);
  if (flags & 0x40) out.Put(uint8_t{0});
  if (flags & 0x20) {
    const std::array<uint8_t, 6> b = {5,
                                      static_cast<uint8_t>((crc_ >> 28) & 0x0F),
                                      static_cast<uint8_t>((crc_ >> 21) & 0x7F),
                                      static_cast<uint8_t>((crc_ >> 14) & 0x7F),
                                      static_cast<uint8_t>((crc_ >> 7) & 0x7F),
                                      static_cast<uint8_t>(crc_ & 0x7F)};
    out.Put(b.data(), b.size());
  }
  if (flags & 0x10) {
    out.Put(uint8_t{1});
    out.Put(tag_.Restrictions);
  }
}

void Writer::EmitFrames(Sink& out) const {
  for (int i = 1; i <= Frames().Count(); ++i) {
    const TFrameRecord& rec = Frames().Record(i);
    const uint8_t status = rec.Flags[3];
    const uint8_t format = rec.Flags[4];
    out.Put(reinterpret_cast<const uint8_t*>(rec.ID.data()), 4);
    const auto content = static_cast<uint32_t>(rec.Data.size());
    if (V3()) {
      const bool packed = format & kFormatCompression;
      const bool crypt = format & kFormatEncryption;
      const bool group = format & kFormatGrouping;
      PutBigEndian32(out, content + (packed ? 4 : 0) + (crypt ? 1 : 0) + (group ? 1 : 0));
      out.Put(static_cast<uint8_t>((status << 1) & 0xE0));
      out.Put(static_cast<uint8_t>((packed ? 0x80 : 0) | (crypt ? 0x40 : 0) | (group ? 0x20 : 0)));
      if (packed) PutBigEndian32(out, static_cast<uint32_t>(rec.DecodedSize));
      if (crypt) out.Put(rec.Method);
      if (group) out.Put(rec.Group);
    } else {
      const bool group = format & kFormatGrouping;
      const bool crypt = format & kFormatEncryption;
      const bool length = format & kFormatDataLength;
      PutSyncSafe32(out, content + (group ? 1 : 0) + (crypt ? 1 : 0) + (length ? 4 : 0));
      out.Put(static_cast<uint8_t>(status & 0x70));
      out.Put(static_cast<uint8_t>(format & 0x4F));
      if (group) out.Put(rec.Group);
      if (crypt) out.Put(rec.Method);
      if (length) PutSyncSafe32(out, static_cast<uint32_t>(rec.DecodedSize));
    }
    out.Put(rec.Data.data(), rec.Data.size());
  }
}

int64_t Writer::ExtHeaderLength(int64_t padding) const {
  CountSink count;
  if (TagUnsync()) {
    // The first frame ID follows, which never needs a guard byte.
    UnsyncSink unsync(count);
    EmitExtHeader(unsync, padding);
  } else {
    EmitExtHeader(count, padding);
  }
  return count.Count();
}

void Writer::EmitTag(Sink& out) const {
  const std::array<uint8_t, 6> head = {
      'I', 'D', '3', version_, revision_, static_cast<uint8_t>(tag_.Flags & 0xE0)};
  out.Put(head.data(), head.size());
  PutSyncSafe32(out, static_cast<uint32_t>(newSize_ - 10));
  if (TagUnsync()) {
    UnsyncSink unsync(out);
    EmitExtHeader(unsync, padding_);
    EmitFrames(unsync);
    unsync.End();
  } else {
    EmitExtHeader(out, padding_);
    EmitFrames(out);
  }
  out.Zeros(padding_);
}

void Writer::ChoosePadding(int64_t fileSize) {
  const int64_t unit = std::max<int64_t>(tag_.PaddingUnit, 1);
  const int64_t bare = 10 + ExtHeaderLength(0) + framesLength_;
  // The padding that makes the file end on a multiple of the unit: 1..unit bytes.
  const int64_t aligned = unit - ((fileSize - oldSize_ + bare) % unit);
  int64_t padding = aligned;
  if (tag_.PaddingMode == 0) {
    padding = std::max<int64_t>(tag_.PaddingSize, 0);
  } else if (tag_.PaddingMode == 1 && bare <= oldSize_ && tag_.PaddingLimit < unit) {
    padding = oldSize_ - bare;  // keep the old length: the audio stays where it is
  }
  // A version-2.3 unsynchronised extended header may grow with the padding value it holds;
  // settle on a value that still gives the intended total.
  const int64_t total = bare + padding;
  for (int round = 0; round < 8; ++round) {
    const int64_t p = total - 10 - ExtHeaderLength(padding) - framesLength_;
    if (p < 0 || p == padding) break;
    padding = p;
  }
  padding_ = padding;
  newSize_ = 10 + ExtHeaderLength(padding_) + framesLength_ + padding_;
  tag_.PaddingSize = padding_;
}

void Writer::Finish() {
  tag_.Version = version_;
  tag_.Revision = revision_;
  tag_.Flags &= 0xE0;  // no footer is written
  tag_.Size = newSize_;
  tag_.CRC = crc_;
  tag_.ExtHeaderSize = extHeader_ ? ExtHeaderLength(padding_) : 0;
  tag_.TagOffset = offset_;
  int64_t pos = 10 + tag_.ExtHeaderSize;
  for (int i = 1; i <= Frames().Count(); ++i) {
    TFrameRecord& rec = Frames().Record(i);
    const uint8_t format = rec.Flags[4];
    const int extras =
        V3() ? ((format & kFormatCompression) ? 4 : 0) + ((format & kFormatEncryption) ? 1 : 0) +
                   ((format & kFormatGrouping) ? 1 : 0)
             : ((format & kFormatGrouping) ? 1 : 0) + ((format & kFormatEncryption) ? 1 : 0) +
                   ((format & kFormatDataLength) ? 4 : 0);
    rec.Position = static_cast<int32_t>(pos);
    rec.HeaderSize = 10 + extras;
    pos += 10 + extras + static_cast<int64_t>(rec.Data.size());
    rec.Flags[1] = rec.Flags[3];
    rec.Flags[2] = V3() ? static_cast<uint8_t>(format & ~kFormatUnsync) : format;
    rec.Modified = 0;
  }
  tag_.LastResult = result_;
  tag_.Changed = 0;
  tag_.Percent = 100;
  tag_.Status = "Save Complete";
}

uint16_t Writer::Run() {
  if (version_ != 3 && version_ != 4) throw StopWith{kBadVersion};
  if (revision_ != 0) throw StopWith{kBadRevision};
  if (Frames().Count() == 0) throw StopWith{kNoFrames};
  tag_.Percent = 0;
  tag_.Status = "Preparing tag";
  TFileStream file(path_, fmOpenReadWrite | fmShareDenyWrite);
  const int64_t fileSize = file.Size();
  if (fileSize < offset_) throw StopWith{kBadOffset};

  PrepareFlags();
  if (tag_.Tidy) TidyFrames();
  if (!V3()) FixDataLengths();
  EncryptionPass();
  CompressionPass();
  GroupingPass();
  UnsyncPass();

  oldSize_ = ExistingTagSize(file, offset_);
  {
    CountSink count;
    if (TagUnsync()) {
      UnsyncSink unsync(count);
      EmitFrames(unsync);
      unsync.End();
    } else {
      EmitFrames(count);
    }
    framesLength_ = count.Count();
  }
  const bool crc = extHeader_ && (tag_.ExtFlags & 0x20);
  if (crc && V3()) {
    // Over the frames before unsynchronisation.
    tag_.Status = "Calculating CRC-32";
    CrcSink sum;
    EmitFrames(sum);
    crc_ = sum.Value();
  }
  ChoosePadding(fileSize);
  if (crc && !V3()) {
    // Over the frames and the padding.
    tag_.Status = "Calculating CRC-32";
    CrcSink sum;
    EmitFrames(sum);
    sum.Zeros(padding_);
    crc_ = sum.Value();
  }
  if (newSize_ - 10 > kMaxTagBody) throw StopWith{kTagTooLarge};

  if (newSize_ == oldSize_) {
    tag_.Status = "Writing new tag";
    file.SetPosition(offset_);
    StreamSink out(file);
    EmitTag(out);
    out.Flush();
  } else {
    // The audio has to move: build the new file beside the old one, so that a failure
    // anywhere leaves the original as it was.
    tag_.Status = "Re-positioning audio data";
    const int64_t audio = std::max<int64_t>(fileSize - offset_ - oldSize_, 0);
    ReplaceFileSafely(RealPath(path_), [&](TStream& out) {
      CopyRange(file, 0, out, offset_);
      StreamSink sink(out);
      EmitTag(sink);
      sink.Flush();
      CopyRange(file, offset_ + oldSize_, out, audio);
    });
  }
  Finish();
  return result_;
}

}  // namespace

uint16_t WriteTag(Tid3v2tag& Tag, const std::string& Path, uint8_t Version, int64_t Offset,
                  uint8_t Revision) {
  Writer writer(Tag, Path, Version, Offset, Revision);
  auto fail = [&writer](uint16_t errorClass) {
    return static_cast<uint16_t>((writer.Result() & 0x00FF) | errorClass);
  };
  try {
    return writer.Run();
  } catch (const StopWith& stop) {
    return fail(stop.errorClass);
  } catch (const EReadError& e) {
    // The result word only has the class: the last status says what the system answered.
    Tag.Status = e.what();
    return fail(kReadError);
  } catch (const EWriteError& e) {
    Tag.Status = e.what();
    return fail(kWriteError);
  } catch (const EStreamError& e) {
    Tag.Status = e.what();
    return fail(kIoError);
  } catch (const EZLibError&) {
    // A frame whose compressed content cannot be decoded: nothing was written.
    return fail(kMalformed);
  }
}

}  // namespace qv::id3
