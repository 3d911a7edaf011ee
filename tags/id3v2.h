// ID3v2.3 / ID3v2.4 tags: the tag object the ripper keeps for its whole life, its frame list
// and the 16-bit result words. A `Tid3v2tag` is used from one thread at a time; every load
// and save keeps its working state on the stack, so separate objects may work in parallel.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.h"

namespace qv {

// Raised by the frame accessors for an index outside 1..Count or a flag position above 2.
class ERangeError : public Exception {
 public:
  ERangeError() : Exception("Array range out of bounds.") {}
};

// zlib failures of the frame compression.
class EZLibError : public Exception {
 public:
  using Exception::Exception;
};
class EZCompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};
class EZDecompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};

// Result words: the high byte is an error class, the low byte collects warning bits.
namespace id3 {
inline constexpr uint16_t kOk = 0x0000;
inline constexpr uint16_t kPaddingMismatch = 0x0004;
inline constexpr uint16_t kFlagDropped = 0x0008;
inline constexpr uint16_t kRevisionNotZero = 0x0010;
inline constexpr uint16_t kUnknownExtFlags = 0x0040;
inline constexpr uint16_t kUnknownFlags = 0x0080;
inline constexpr uint16_t kNoFile = 0x0100;
inline constexpr uint16_t kReadOnlyFile = 0x0200;
inline constexpr uint16_t kReadError = 0x0300;
inline constexpr uint16_t kWriteError = 0x0400;
inline constexpr uint16_t kIoError = 0x0500;
inline constexpr uint16_t kBadOffset = 0x0800;
inline constexpr uint16_t kNoTag = 0x1000;
inline constexpr uint16_t kBadVersion = 0x1100;
inline constexpr uint16_t kBadRevision = 0x1200;
inline constexpr uint16_t kFileTooShort = 0x2000;
inline constexpr uint16_t kBadFrameId = 0x2100;
inline constexpr uint16_t kTagTooLarge = 0x2200;
inline constexpr uint16_t kCannotEncrypt = 0xC000;
inline constexpr uint16_t kCannotGroup = 0xC100;
inline constexpr uint16_t kCannotDataLength = 0xC200;
inline constexpr uint16_t kNoFrames = 0xFD00;
inline constexpr uint16_t kMalformed = 0xFE00;

// Frame flags in the version-2.4 layout, which the frame list uses for both versions.
inline constexpr uint8_t kStatusTagAlter = 0x40;
inline constexpr uint8_t kStatusFileAlter = 0x20;
inline constexpr uint8_t kStatusReadOnly = 0x10;
inline constexpr uint8_t kFormatGrouping = 0x40;
inline constexpr uint8_t kFormatCompression = 0x08;
inline constexpr uint8_t kFormatEncryption = 0x04;
inline constexpr uint8_t kFormatUnsync = 0x02;
inline constexpr uint8_t kFormatDataLength = 0x01;

// The largest tag body the header's 28-bit size can describe.
inline constexpr int64_t kMaxTagBody = 0x0FFFFFFF;
}  // namespace id3

// One frame as it sits in the tag. `Data` holds the content as stored: compressed,
// encrypted or unsynchronised content stays so until one of the frame operations decodes it.
struct TFrameRecord {
  uint8_t Modified = 0;
  int32_t Position = 0;    // frame header start, counted from the start of the tag
  int32_t HeaderSize = 0;  // frame header plus the extra bytes its flags add
  int32_t Spare = 0;
  std::array<char, 4> ID{};
  // spare, status as read, format as read, status to write, format to write
  std::array<uint8_t, 5> Flags{};
  int32_t DecodedSize = 0;
  uint8_t Method = 0;
  uint8_t Group = 0;
  std::vector<uint8_t> Data;
};

// The frames of one tag, addressed 1-based. Owned by its `Tid3v2tag`.
class TFrameIndex {
 public:
  [[nodiscard]] int Count() const { return static_cast<int>(frames_.size()); }
  // Appends a frame; 0 when `ID` (upper-cased) is not four characters of A-Z, 0-9.
  int Add(std::string_view ID);
  // 1 when the frame was removed, 0 for an index outside 1..Count.
  int Delete(int Index);
  void Clear() { frames_.clear(); }
  // 1-based index of the first frame with this ID, compared without regard to case; 0 if none.
  [[nodiscard]] int IndexOf(std::string_view ID) const;

  // Accessors; each raises `ERangeError` for an index outside 1..Count.
  [[nodiscard]] std::string ID(int Index) const;
  [[nodiscard]] int32_t Position(int Index) const { return At(Index).Position; }
  void SetPosition(int Index, int32_t Value) { At(Index).Position = Value; }
  [[nodiscard]] int32_t HeaderSize(int Index) const { return At(Index).HeaderSize; }
  void SetHeaderSize(int Index, int32_t Value) { At(Index).HeaderSize = Value; }
  [[nodiscard]] int32_t DecodedSize(int Index) const { return At(Index).DecodedSize; }
  void SetDecodedSize(int Index, int32_t Value) { At(Index).DecodedSize = Value; }
  [[nodiscard]] uint8_t Method(int Index) const { return At(Index).Method; }
  void SetMethod(int Index, uint8_t Value);
  [[nodiscard]] uint8_t Group(int Index) const { return At(Index).Group; }
  void SetGroup(int Index, uint8_t Value);
  [[nodiscard]] int64_t DataSize(int Index) const {
    return static_cast<int64_t>(At(Index).Data.size());
  }
  [[nodiscard]] const std::vector<uint8_t>& Data(int Index) const { return At(Index).Data; }
  // Replacing the content marks the frame modified.
  void SetData(int Index, std::vector<uint8_t> Value);

  // Flags to be written, one bit each.
  [[nodiscard]] bool TagAlterPreservation(int Index) const;
  [[nodiscard]] bool FileAlterPreservation(int Index) const;
  [[nodiscard]] bool ReadOnlyFrame(int Index) const;
  [[nodiscard]] bool Grouping(int Index) const;
  [[nodiscard]] bool Compression(int Index) const;
  [[nodiscard]] bool Encryption(int Index) const;
  [[nodiscard]] bool Unsynchronisation(int Index) const;
  [[nodiscard]] bool DataLengthIndicator(int Index) const;
  // Format flags as stored.
  [[nodiscard]] bool StoredGrouping(int Index) const;
  [[nodiscard]] bool StoredCompression(int Index) const;
  [[nodiscard]] bool StoredEncryption(int Index) const;
  [[nodiscard]] bool StoredUnsynchronisation(int Index) const;

  // Position 0..2 over (spare, status as read, format as read).
  [[nodiscard]] uint8_t ReadFlags(int Index, int Pos) const;
  void SetReadFlags(int Index, int Pos, uint8_t Value);
  // Position 0..2 over (format as read, status to write, format to write); setting marks the
  // frame modified.
  [[nodiscard]] uint8_t WriteFlags(int Index, int Pos) const;
  void SetWriteFlags(int Index, int Pos, uint8_t Value);

  // Frame content transformations; the codes are described with each definition.
  int CompressFrame(int Index, int Level);
  int DecompressFrame(int Index);
  int UnsyncFrame(int Index);
  int DeunsyncFrame(int Index);

  [[nodiscard]] TFrameRecord& Record(int Index) { return At(Index); }
  [[nodiscard]] const TFrameRecord& Record(int Index) const { return At(Index); }

 private:
  [[nodiscard]] TFrameRecord& At(int Index);
  [[nodiscard]] const TFrameRecord& At(int Index) const;

  std::vector<TFrameRecord> frames_;
};

// An ID3v2 tag at the start of (or at an offset in) a file. The ripper's main window keeps
// one for its whole life: `LoadFromFile`, a few `SetTextFrame` calls, `SaveToFile`.
// Every operation answers with a result word (see `id3`); only the frame accessors and the
// compression routines raise.
class Tid3v2tag {
 public:
  Tid3v2tag() = default;
  Tid3v2tag(const Tid3v2tag&) = delete;
  Tid3v2tag& operator=(const Tid3v2tag&) = delete;

  // Reads the tag at `Offset`. Every load first resets the object, so it then describes the
  // file just loaded (an empty tag when the file has none).
  uint16_t LoadFromFile(const std::string& FileName, int64_t Offset = 0);
  // `ID` must be four characters beginning with "T" (not "TXXX"): 3 otherwise. An empty
  // `Text` removes the frame ($FF) or does nothing (0). `Text` is UTF-8.
  uint8_t SetTextFrame(std::string_view ID, std::string_view Text);
  // `FileName` "=" is the file of the last load, a negative `Offset` the tag's own offset
  // (0 for another file), `Version`/`Revision` $FF the tag's own.
  uint16_t SaveToFile(const std::string& FileName = "=", uint8_t Version = 0xFF,
                      int64_t Offset = -1, uint8_t Revision = 0xFF);

  // Header flags; each writer marks the tag changed.
  [[nodiscard]] bool Unsynchronisation() const { return (Flags & 0x80) != 0; }
  void SetUnsynchronisation(bool On) { SetFlag(Flags, 0x80, On); }
  [[nodiscard]] bool ExtendedHeader() const { return (Flags & 0x40) != 0; }
  void SetExtendedHeader(bool On) { SetFlag(Flags, 0x40, On); }
  void SetExperimental(bool On) { SetFlag(Flags, 0x20, On); }
  void SetFooter(bool On) { SetFlag(Flags, 0x10, On); }
  [[nodiscard]] bool TagIsUpdate() const { return (ExtFlags & 0x40) != 0; }
  void SetTagIsUpdate(bool On) { SetFlag(ExtFlags, 0x40, On); }
  [[nodiscard]] bool CRCPresent() const { return (ExtFlags & 0x20) != 0; }
  void SetCRCPresent(bool On) { SetFlag(ExtFlags, 0x20, On); }
  [[nodiscard]] bool TagRestrictions() const { return (ExtFlags & 0x10) != 0; }
  void SetTagRestrictions(bool On) { SetFlag(ExtFlags, 0x10, On); }

  uint8_t Version = 3;
  uint8_t Revision = 0;
  int64_t Size = 0;  // body size after a load; total length written after a save
  uint8_t Flags = 0;
  uint8_t ExtFlags = 0;
  int64_t PaddingSize = 0;
  int64_t ExtHeaderSize = 0;
  uint32_t CRC = 0;
  uint8_t Restrictions = 0;
  uint16_t LastResult = 0;
  uint8_t Changed = 0;
  uint8_t ReadOnly = 0;
  std::string FileName;
  int64_t TagOffset = 0;
  uint8_t Done = 1;
  uint8_t Percent = 0;
  std::string Status;
  TFrameIndex Frames;

  uint8_t SpareOption = 0;    // read by nothing
  uint8_t AllowRevision = 1;  // let a tag with a non-zero revision load
  uint8_t Tolerant = 0;       // let the writer drop flag changes it cannot carry out
  uint8_t Tidy = 1;           // data length indicator for compressed frames; drop empty frames
  uint8_t Level = 2;          // compression level: 0 none, 1 fastest, 2 zlib default, 3 best
  uint8_t PaddingMode = 1;  // 0 keep `PaddingSize`, 1 align as `PaddingLimit` says, 2 always align
  int64_t PaddingUnit = 4096;
  // Below `PaddingUnit`, a tag that fits its old space keeps its length in mode 1; otherwise
  // mode 1 re-aligns such a tag too.
  int64_t PaddingLimit = 4096;

 private:
  void SetFlag(uint8_t& Field, uint8_t Bit, bool On) {
    Field = On ? (Field | Bit) : (Field & ~Bit);
    Changed = 1;
  }
  void Reset();
};

}  // namespace qv
