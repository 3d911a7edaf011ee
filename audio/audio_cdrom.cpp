#include "audio/audio_cdrom.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "audio/cdrip.h"
#include "platform/base/paths.h"

namespace qv {

namespace {

// A track is audio unless its control bits mark data; copy and pre-emphasis
// bits leave it audio.
bool IsData(const CR_TOCENTRY& Entry) {
  return (Entry.Flag & CR_TOC_FLAG_DATA) != 0;
}

// The track that starts at `Entry`, ending where `Next` starts.
TCDTrackInfo TrackOf(const CR_TOCENTRY& Entry, const CR_TOCENTRY& Next) {
  return {FramesToMSF(int(Next.StartSector) - int(Entry.StartSector)), IsData(Entry)};
}

// Between the audio session of an enhanced CD and its data session lie the
// first session's lead-out and the second's lead-in and pregap: no audio there.
constexpr int kSessionGapSectors = CR_SESSION_GAP_SECTORS;

}  // namespace

TMSF FramesToMSF(int Frames) {
  return {uint8_t(Frames / 75 / 60), uint8_t((Frames / 75) % 60), uint8_t(Frames % 75)};
}

int MSFToFrames(TMSF MSF) {
  return (MSF.Minute * 60 + MSF.Second) * 75 + MSF.Frame;
}

TCDIn::TCDIn(TComponent* AOwner)
    : TAudioInput(AOwner), cdrip_(LoadCDRip(IncludeTrailingPathDelimiter(ExeDir()))) {
  if (cdrip_ == nullptr) throw EAudioException("libcdrip.so could not be loaded.");
}

TCDIn::~TCDIn() {
  if (Busy) Reset();
}

void TCDIn::OpenCD() {
  std::lock_guard guard(openLock_);
  if (openCount_ == 0) cdrip_->CR_SetActiveCDROM(currentDrive_);
  ++openCount_;
}

void TCDIn::CloseCD() {
  std::lock_guard guard(openLock_);
  if (openCount_ > 0) --openCount_;
}

void TCDIn::CheckIdle() const {
  if (Busy) throw EAudioException("The component is buisy");
}

int TCDIn::DrivesCount() {
  OpenCD();
  const int n = cdrip_->CR_GetNumCDROM();
  CloseCD();
  return n;
}

std::string TCDIn::DriveName() {
  OpenCD();
  CR_CDROMPARAMS params{};
  const int rc = cdrip_->CR_GetCDROMParameters(&params);
  CloseCD();
  if (rc != CR_OK) return {};
  return std::string(params.DriveName, strnlen(params.DriveName, 255));
}

void TCDIn::SetCurrentDrive(int Value) {
  if (Value >= 0 && Value < DrivesCount()) currentDrive_ = Value;
}

void TCDIn::SetStartTrack(int Value) {
  CheckIdle();
  startTrack_ = Value;
  startPos_ = {Value, {}};
}

void TCDIn::SetEndTrack(int Value) {
  CheckIdle();
  endTrack_ = Value;
  endPos_ = {Value + 1, {}};
}

TCDDiscInfo TCDIn::DiscInfo() {
  auto result = TCDDiscInfo::cdiDiscUnknown;
  std::string problem;
  OpenCD();
  int32_t status = CR_MEDIA_PRESENT;
  if (cdrip_->CR_IsMediaLoaded(&status) == CR_OK && status != CR_MEDIA_PRESENT) {
    result = TCDDiscInfo::cdiDiscNone;
    problem = "There is no disc in the drive";
  } else if (cdrip_->CR_ReadToc() != CR_OK) {
    problem = LibraryError();
  } else {
    const int n = cdrip_->CR_GetNumTocEntries();
    for (int i = 0; i < n; ++i) {
      const bool data = IsData(cdrip_->CR_GetTocEntry(i));
      if (!data) {
        if (result == TCDDiscInfo::cdiDiscUnknown) result = TCDDiscInfo::cdiDiscAudio;
        if (result == TCDDiscInfo::cdiDiscData) result = TCDDiscInfo::cdiDiscMixed;
      } else {
        if (result == TCDDiscInfo::cdiDiscUnknown) result = TCDDiscInfo::cdiDiscData;
        if (result == TCDDiscInfo::cdiDiscAudio) result = TCDDiscInfo::cdiDiscMixed;
      }
    }
  }
  CloseCD();
  std::lock_guard guard(openLock_);
  discError_ = problem;
  return result;
}

std::string TCDIn::DiscError() {
  std::lock_guard guard(openLock_);
  return discError_;
}

std::string TCDIn::LastErrorText() const {
  char text[2048] = {};
  cdrip_->CR_GetLastErrorText(text, int32_t(sizeof text));
  return std::string(text, strnlen(text, sizeof text));
}

std::string TCDIn::LibraryError() const {
  const std::string message = LastErrorText();
  return message.empty() ? "The table of contents cannot be read" : message;
}

int TCDIn::TracksCount() {
  OpenCD();
  const int n = cdrip_->CR_ReadToc() == CR_OK ? cdrip_->CR_GetNumTocEntries() : -1;
  CloseCD();
  return n;
}

int TCDIn::Status() {
  OpenCD();
  int result = 1;
  int32_t status = CR_MEDIA_ABSENT;
  // A drive that cannot tell is as good as one without a disc.
  if (cdrip_->CR_IsMediaLoaded(&status) != CR_OK || status != CR_MEDIA_PRESENT)
    result = 0;
  else if (cdrip_->CR_IsAudioPlaying() != 0)
    result = 2;
  CloseCD();
  return result;
}

TCDTrackInfo TCDIn::TrackInfo(int Track) {
  CheckIdle();
  const int count = TracksCount();
  if (Track < 1 || Track > count) throw EAudioException("Track out of range.");
  OpenCD();
  const CR_TOCENTRY entry = cdrip_->CR_GetTocEntry(Track - 1);
  const CR_TOCENTRY next = cdrip_->CR_GetTocEntry(Track);
  CloseCD();
  return TrackOf(entry, next);
}

std::vector<TCDTrackInfo> TCDIn::TracksInfo() {
  CheckIdle();
  std::vector<TCDTrackInfo> tracks;
  OpenCD();
  if (cdrip_->CR_ReadToc() == CR_OK) {
    const int count = cdrip_->CR_GetNumTocEntries();
    for (int track = 1; track <= count; ++track)
      tracks.push_back(TrackOf(cdrip_->CR_GetTocEntry(track - 1), cdrip_->CR_GetTocEntry(track)));
  }
  CloseCD();
  return tracks;
}

bool TCDIn::Range(int& Start, int& End) {
  const int count = cdrip_->CR_GetNumTocEntries();
  if (startPos_.Track < 1 || startPos_.Track > count || endPos_.Track < 1 ||
      endPos_.Track > count + 1)
    return false;
  const CR_TOCENTRY first = cdrip_->CR_GetTocEntry(startPos_.Track - 1);
  const CR_TOCENTRY after = cdrip_->CR_GetTocEntry(endPos_.Track - 1);
  Start = int(first.StartSector) + MSFToFrames(startPos_.Offset);
  End = int(after.StartSector) + MSFToFrames(endPos_.Offset);
  // The last track of the first session ends where that session does, not at
  // the next session's first track. The library puts a track in a later
  // session only when the gap is really missing from the disc; a data track
  // in the same session follows the audio at once.
  if (endPos_.Track >= 2 && endPos_.Track <= count &&
      after.Session > cdrip_->CR_GetTocEntry(endPos_.Track - 2).Session &&
      End - kSessionGapSectors > Start)
    End -= kSessionGapSectors;
  return End >= Start;
}

int64_t TCDIn::GetSize() {
  if (Busy) return rangeSize_;
  OpenCD();
  int start = 0, end = 0;
  const bool ok = cdrip_->CR_ReadToc() == CR_OK && Range(start, end);
  CloseCD();
  return ok ? int64_t(end - start) * CR_SECTOR_BYTES : 0;
}

void TCDIn::Eject() {
  CheckIdle();
  cdrip_->CR_EjectCD(1);
}

void TCDIn::Init() {
  CheckIdle();
  if (Status() == 0) throw EAudioException("The drive is not ready");
  const int count = TracksCount();
  if (startPos_.Track < 1 || startPos_.Track > count)
    throw EAudioException("The start track out of range");
  if (TrackInfo(startPos_.Track).DataTrack) throw EAudioException("Trying to rip a data track");
  // An end before the start would make an empty or negative range.
  if (endPos_.Track < 1 || endPos_.Track > count + 1 || endPos_.Track <= startPos_.Track)
    throw EAudioException("The end track out of range");
  OpenCD();
  int start = 0, end = 0;
  if (cdrip_->CR_ReadToc() != CR_OK || !Range(start, end)) {
    CloseCD();
    throw EAudioException("The end track out of range");
  }
  chunkSize_ = kChunkSize;
  int32_t chunk = chunkSize_;
  if (cdrip_->CR_OpenRipper(&chunk, start, end) != CR_OK) {
    CloseCD();
    throw EAudioException("The drive is not ready");
  }
  ripperOpen_ = true;
  for (TChunk& c : chunks_) c.Data.resize(size_t(chunk));
  head_ = filled_ = 0;
  wanted_ = holding_ = stopReading_ = readEnded_ = readFailed_ = false;
  readError_.clear();
  readerWaiting_ = consumerWaiting_ = false;
  try {
    reader_ = std::thread([this] { ReadAhead(); });
  } catch (const std::system_error& e) {
    ripperOpen_ = false;
    cdrip_->CR_CloseRipper();
    CloseCD();
    throw EAudioException(e.what());
  }
  rangeSize_ = int64_t(end - start) * CR_SECTOR_BYTES;
  Size = rangeSize_;
  BufStart = 1;
  BufEnd = 0;
  Position = 0;
  Busy = true;
}

void TCDIn::ReadAhead() {
  std::unique_lock lock(readLock_);
  for (;;) {
    // The first chunk is read at once, while the job is still being set up; the rest once data
    // is wanted. Once the ring is full, reading waits until two chunks are free and then reads
    // both, so that it is woken once per two chunks.
    if ((!wanted_ && filled_ > 0) || filled_ == kChunks) {
      readerWaiting_ = true;
      readChanged_.wait(lock, [this] { return stopReading_ || ReaderResumes(); });
      readerWaiting_ = false;
    }
    if (stopReading_) break;
    TChunk& chunk = chunks_[(head_ + filled_) % kChunks];
    lock.unlock();
    int32_t bytes = 0, abort = 0;
    const bool ok = cdrip_->CR_RipChunk(chunk.Data.data(), &bytes, &abort) == CR_OK;
    std::string reason;
    if (!ok) reason = LastErrorText();
    lock.lock();
    if (!ok) {
      readFailed_ = true;
      readError_ = std::move(reason);
      break;
    }
    chunk.Bytes = std::clamp(int(bytes), 0, int(chunk.Data.size()));
    ++filled_;
    if (chunk.Bytes == 0) break;  // the end of the range
    // The reader is mostly ahead: GetData waits only when it has emptied the ring.
    if (consumerWaiting_) {
      lock.unlock();
      readChanged_.notify_all();
      lock.lock();
    }
  }
  readEnded_ = true;
  lock.unlock();
  readChanged_.notify_all();
}

void TCDIn::StopReading() {
  if (!reader_.joinable()) return;
  {
    std::lock_guard guard(readLock_);
    stopReading_ = true;
  }
  readChanged_.notify_all();
  reader_.join();
}

int TCDIn::GetData(void* Buffer, int BufferSize) {
  const uint8_t* data = nullptr;
  const int count = NextBytes(data, BufferSize);
  if (count > 0) std::memcpy(Buffer, data, size_t(count));
  return count;
}

int TCDIn::GetDataInPlace(const void*& Data, int BufferSize, void*) {
  const uint8_t* data = nullptr;
  const int count = NextBytes(data, BufferSize);
  Data = data;
  return count;
}

int TCDIn::NextBytes(const uint8_t*& Data, int BufferSize) {
  if (!Busy) throw EAudioException("The Stream is not opened");
  if (BufStart > BufEnd) {
    BufStart = 1;
    BufEnd = 0;
    std::unique_lock lock(readLock_);
    if (holding_ || !wanted_) {
      if (holding_) {
        holding_ = false;
        head_ = (head_ + 1) % kChunks;
        --filled_;
      }
      wanted_ = true;
      // Woken only when it waits and may go on, and with the lock released, so that it does
      // not run just to block on the lock again.
      if (readerWaiting_ && ReaderResumes()) {
        lock.unlock();
        readChanged_.notify_all();
        lock.lock();
      }
    }
    consumerWaiting_ = true;
    readChanged_.wait(lock, [this] { return filled_ > 0 || readEnded_; });
    consumerWaiting_ = false;
    if (filled_ > 0) {
      holding_ = true;
      BufEnd = chunks_[head_].Bytes;
      // Nor may a range end early: a shortened track is a failed one.
      if (BufEnd == 0 && Position < rangeSize_) throw EAudioException("Read error on the disc");
    } else if (readFailed_) {
      // A failed read ends the job: the buffer's old audio must never go out again. The
      // library's reason names the drive or the disc image, as the disc check does.
      throw EAudioException(readError_.empty() ? std::string("Read error on the disc")
                                               : "Read error on the disc: " + readError_);
    } else if (Position < rangeSize_) {
      throw EAudioException("Read error on the disc");
    }
  }
  const int count = std::min(BufEnd - BufStart + 1, BufferSize);
  if (count <= 0) return 0;
  Data = chunks_[head_].Data.data() + BufStart - 1;
  BufStart += count;
  Position += count;
  return count;
}

void TCDIn::Flush() {
  StopReading();
  if (ripperOpen_) {
    ripperOpen_ = false;
    cdrip_->CR_CloseRipper();
    CloseCD();
  }
  Busy = false;
  Size = 0;
}

}  // namespace qv
