#include "tags/id3v2.h"

#include <unistd.h>

#include <algorithm>

#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"
#include "tags/id3v2_codec.h"
#include "tags/id3v2_read.h"
#include "tags/id3v2_text.h"
#include "tags/id3v2_write.h"

namespace qv {
namespace {

bool ValidIdChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Results after which the file simply had no tag to parse: saving may build a new one.
bool LoadFoundNoTag(uint16_t result) {
  const uint16_t cls = result & 0xFF00;
  return cls == id3::kNoFile || cls == id3::kBadOffset || cls == id3::kNoTag;
}

}  // namespace

// ---- TFrameIndex ----

TFrameRecord& TFrameIndex::At(int Index) {
  if (Index < 1 || Index > Count()) throw ERangeError();
  return frames_[static_cast<size_t>(Index - 1)];
}

const TFrameRecord& TFrameIndex::At(int Index) const {
  if (Index < 1 || Index > Count()) throw ERangeError();
  return frames_[static_cast<size_t>(Index - 1)];
}

int TFrameIndex::Add(std::string_view ID) {
  const std::string id = UpperCase(ID);
  if (id.size() != 4 || !std::all_of(id.begin(), id.end(), ValidIdChar)) return 0;
  TFrameRecord& rec = frames_.emplace_back();
  std::copy(id.begin(), id.end(), rec.ID.begin());
  rec.Modified = 1;
  return Count();
}

int TFrameIndex::Delete(int Index) {
  if (Index < 1 || Index > Count()) return 0;
  frames_.erase(frames_.begin() + (Index - 1));
  return 1;
}

int TFrameIndex::IndexOf(std::string_view ID) const {
  const std::string id = UpperCase(ID);
  for (size_t i = 0; i < frames_.size(); ++i) {
    if (std::string_view(frames_[i].ID.data(), 4) == id) return static_cast<int>(i + 1);
  }
  return 0;
}

std::string TFrameIndex::ID(int Index) const {
  const TFrameRecord& rec = At(Index);
  return std::string(rec.ID.data(), rec.ID.size());
}

void TFrameIndex::SetMethod(int Index, uint8_t Value) {
  TFrameRecord& rec = At(Index);
  if (rec.Method != Value) rec.Modified = 1;
  rec.Method = Value;
}

void TFrameIndex::SetGroup(int Index, uint8_t Value) {
  TFrameRecord& rec = At(Index);
  if (rec.Group != Value) rec.Modified = 1;
  rec.Group = Value;
}

void TFrameIndex::SetData(int Index, std::vector<uint8_t> Value) {
  TFrameRecord& rec = At(Index);
  rec.Data = std::move(Value);
  rec.Modified = 1;
}

bool TFrameIndex::TagAlterPreservation(int Index) const {
  return (At(Index).Flags[3] & id3::kStatusTagAlter) != 0;
}
bool TFrameIndex::FileAlterPreservation(int Index) const {
  return (At(Index).Flags[3] & id3::kStatusFileAlter) != 0;
}
bool TFrameIndex::ReadOnlyFrame(int Index) const {
  return (At(Index).Flags[3] & id3::kStatusReadOnly) != 0;
}
bool TFrameIndex::Grouping(int Index) const {
  return (At(Index).Flags[4] & id3::kFormatGrouping) != 0;
}
bool TFrameIndex::Compression(int Index) const {
  return (At(Index).Flags[4] & id3::kFormatCompression) != 0;
}
bool TFrameIndex::Encryption(int Index) const {
  return (At(Index).Flags[4] & id3::kFormatEncryption) != 0;
}
bool TFrameIndex::Unsynchronisation(int Index) const {
  return (At(Index).Flags[4] & id3::kFormatUnsync) != 0;
}
bool TFrameIndex::DataLengthIndicator(int Index) const {
  return (At(Index).Flags[4] & id3::kFormatDataLength) != 0;
}
bool TFrameIndex::StoredGrouping(int Index) const {
  return (At(Index).Flags[2] & id3::kFormatGrouping) != 0;
}
bool TFrameIndex::StoredCompression(int Index) const {
  return (At(Index).Flags[2] & id3::kFormatCompression) != 0;
}
bool TFrameIndex::StoredEncryption(int Index) const {
  return (At(Index).Flags[2] & id3::kFormatEncryption) != 0;
}
bool TFrameIndex::StoredUnsynchronisation(int Index) const {
  return (At(Index).Flags[2] & id3::kFormatUnsync) != 0;
}

uint8_t TFrameIndex::ReadFlags(int Index, int Pos) const {
  const TFrameRecord& rec = At(Index);
  if (Pos < 0 || Pos > 2) throw ERangeError();
  return rec.Flags[static_cast<size_t>(Pos)];
}

void TFrameIndex::SetReadFlags(int Index, int Pos, uint8_t Value) {
  TFrameRecord& rec = At(Index);
  if (Pos < 0 || Pos > 2) throw ERangeError();
  rec.Flags[static_cast<size_t>(Pos)] = Value;
}

uint8_t TFrameIndex::WriteFlags(int Index, int Pos) const {
  const TFrameRecord& rec = At(Index);
  if (Pos < 0 || Pos > 2) throw ERangeError();
  return rec.Flags[static_cast<size_t>(Pos + 2)];
}

void TFrameIndex::SetWriteFlags(int Index, int Pos, uint8_t Value) {
  TFrameRecord& rec = At(Index);
  if (Pos < 0 || Pos > 2) throw ERangeError();
  rec.Flags[static_cast<size_t>(Pos + 2)] = Value;
  rec.Modified = 1;
}

// 0 done; 2 unsynchronised, 1 encrypted, -1 already compressed.
int TFrameIndex::CompressFrame(int Index, int Level) {
  TFrameRecord& rec = At(Index);
  uint8_t& stored = rec.Flags[2];
  if (stored & id3::kFormatUnsync) return 2;
  if (stored & id3::kFormatEncryption) return 1;
  if (stored & id3::kFormatCompression) return -1;
  std::vector<uint8_t> packed = id3::CompressBuf(rec.Data, Level);
  rec.DecodedSize = static_cast<int32_t>(rec.Data.size());
  rec.Data = std::move(packed);
  stored |= id3::kFormatCompression;
  rec.Modified = 1;
  return 0;
}

// 0 done, -2 when the inflated size differs from `DecodedSize` (the data is replaced all the
// same); 2 unsynchronised, 1 encrypted, -1 not compressed. The output never exceeds a declared
// size, or the largest tag when none is declared.
int TFrameIndex::DecompressFrame(int Index) {
  TFrameRecord& rec = At(Index);
  uint8_t& stored = rec.Flags[2];
  if (stored & id3::kFormatUnsync) return 2;
  if (stored & id3::kFormatEncryption) return 1;
  if (!(stored & id3::kFormatCompression)) return -1;
  const size_t limit = rec.DecodedSize > 0 ? static_cast<size_t>(rec.DecodedSize)
                                           : static_cast<size_t>(id3::kMaxTagBody);
  std::vector<uint8_t> plain = id3::DecompressBuf(rec.Data, limit < (1u << 20) ? limit : 0, limit);
  const int result = static_cast<int64_t>(plain.size()) == rec.DecodedSize ? 0 : -2;
  rec.DecodedSize = 0;
  rec.Data = std::move(plain);
  stored &= static_cast<uint8_t>(~id3::kFormatCompression);
  rec.Modified = 1;
  return result;
}

// 0 done, -1 already unsynchronised. Compressed or encrypted content is unsynchronised as it
// stands; only plain content records its size as the decoded size.
int TFrameIndex::UnsyncFrame(int Index) {
  TFrameRecord& rec = At(Index);
  uint8_t& stored = rec.Flags[2];
  if (stored & id3::kFormatUnsync) return -1;
  const int64_t size = static_cast<int64_t>(rec.Data.size());
  if (!(stored & (id3::kFormatCompression | id3::kFormatEncryption))) {
    rec.DecodedSize = static_cast<int32_t>(size);
  }
  const int64_t extra = id3::UnsyncCount(rec.Data);
  rec.Data.resize(static_cast<size_t>(size + extra));
  id3::UnsyncBuffer(rec.Data.data(), size);
  // A final $FF gets a guard byte too: readers take an unguarded one as a broken encoding.
  if (!rec.Data.empty() && rec.Data.back() == 0xFF) rec.Data.push_back(0x00);
  stored |= id3::kFormatUnsync;
  rec.Modified = 1;
  return 0;
}

// 0 done, -1 not unsynchronised.
int TFrameIndex::DeunsyncFrame(int Index) {
  TFrameRecord& rec = At(Index);
  uint8_t& stored = rec.Flags[2];
  if (!(stored & id3::kFormatUnsync)) return -1;
  const int64_t size = id3::DeunsyncBuffer(rec.Data.data(), static_cast<int64_t>(rec.Data.size()));
  rec.Data.resize(static_cast<size_t>(size));
  stored &= static_cast<uint8_t>(~id3::kFormatUnsync);
  rec.Modified = 1;
  return 0;
}

// ---- Tid3v2tag ----

void Tid3v2tag::Reset() {
  Version = 3;
  Revision = 0;
  Size = 0;
  Flags = 0;
  ExtFlags = 0;
  PaddingSize = 0;
  ExtHeaderSize = 0;
  CRC = 0;
  Restrictions = 0;
  LastResult = 0;
  Changed = 0;
  ReadOnly = 0;
  TagOffset = 0;
  Done = 1;
  Percent = 0;
  Frames.Clear();
}

uint16_t Tid3v2tag::LoadFromFile(const std::string& FileName_, int64_t Offset) {
  Reset();
  FileName = FileName_;
  TagOffset = std::max<int64_t>(Offset, 0);
  auto finish = [this](uint16_t result) {
    LastResult = result;
    Done = 1;
    return result;
  };
  if (!FileExists(FileName_)) return finish(id3::kNoFile);
  ReadOnly = ::access(FileName_.c_str(), W_OK) != 0 ? 1 : 0;
  try {
    TFileStream file(FileName_, fmOpenRead | fmShareDenyNone);
    if (Offset < 0 || Offset >= file.Size()) return finish(id3::kBadOffset);
    return finish(id3::LoadTag(*this, file, Offset));
  } catch (const EReadError&) {
    return finish(id3::kReadError);
  } catch (const EStreamError&) {
    return finish(id3::kIoError);
  }
}

uint8_t Tid3v2tag::SetTextFrame(std::string_view ID, std::string_view Text) {
  if (ID.size() != 4 || ID[0] != 'T') return 3;
  const std::string id = UpperCase(ID);
  if (id == "TXXX") return 3;
  if (const int index = Frames.IndexOf(id); index != 0) {
    if (Text.empty()) {
      Frames.Delete(index);
      return 0xFF;
    }
    TFrameRecord& rec = Frames.Record(index);
    rec.Flags[2] = 0;  // the new content is plain
    rec.DecodedSize = 0;
    rec.Data = id3::EncodeTextFrame(Text);
    rec.Modified = 1;
    return 0;
  }
  if (Text.empty()) return 0;
  const int index = Frames.Add(id);
  if (index == 0) return 3;
  Frames.SetData(index, id3::EncodeTextFrame(Text));
  return 0;
}

uint16_t Tid3v2tag::SaveToFile(const std::string& FileName_, uint8_t Version_, int64_t Offset,
                               uint8_t Revision_) {
  const bool own = FileName_ == "=";
  const std::string name = own ? FileName : FileName_;
  const int64_t offset = Offset >= 0 ? Offset : (own ? TagOffset : 0);
  const uint8_t version = Version_ == 0xFF ? Version : Version_;
  const uint8_t revision = Revision_ == 0xFF ? Revision : Revision_;
  // Never write over a tag that could not be parsed: its frames would be lost.
  if (LastResult >= 0x100 && !LoadFoundNoTag(LastResult)) return id3::kMalformed;
  if (!FileExists(name)) return id3::kNoFile;
  if (::access(name.c_str(), W_OK) != 0) return id3::kReadOnlyFile;
  const uint16_t result = id3::WriteTag(*this, name, version, offset, revision);
  if (result < 0x100) FileName = name;
  return result;
}

}  // namespace qv
