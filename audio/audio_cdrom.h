// CD-audio input: the digital audio of a range of tracks as 16-bit stereo PCM
// at 44100 Hz, read through the CD ripping library, and the drive and disc
// questions the main window asks.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_classes.h"

namespace qv {

struct TCDRipApi;

enum class TCDDiscInfo : uint8_t {
  cdiDiscNone = 0,
  cdiDiscAudio = 1,
  cdiDiscData = 2,
  cdiDiscMixed = 3,
  cdiDiscUnknown = 4
};

struct TMSF {
  uint8_t Minute = 0, Second = 0, Frame = 0;
  friend bool operator==(const TMSF&, const TMSF&) = default;
};
TMSF FramesToMSF(int Frames);
int MSFToFrames(TMSF MSF);

// A position on the disc: a track and an offset into it.
struct TCDPosition {
  int Track = 0;
  TMSF Offset;
};

struct TCDTrackInfo {
  TMSF Length;
  bool DataTrack = false;
};

class TCDIn : public TAudioInput {
 public:
  // Raises "libcdrip.so could not be loaded." when the library is missing.
  explicit TCDIn(TComponent* AOwner = nullptr);
  ~TCDIn() override;

  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  int GetData(void* Buffer, int BufferSize) override;
  // Points into the chunk being handed out, which is kept until the next read.
  int GetDataInPlace(const void*& Data, int BufferSize, void* Scratch) override;
  void Init() override;
  void Flush() override;

  [[nodiscard]] int DrivesCount();
  [[nodiscard]] std::string DriveName();
  [[nodiscard]] int CurrentDrive() const { return currentDrive_; }
  // Out-of-range values are ignored.
  void SetCurrentDrive(int Value);
  [[nodiscard]] int StartTrack() const { return startTrack_; }
  [[nodiscard]] int EndTrack() const { return endTrack_; }
  void SetStartTrack(int Value);
  void SetEndTrack(int Value);

  [[nodiscard]] TCDDiscInfo DiscInfo();
  // Why the last DiscInfo found no disc to read: no disc, or the ripping
  // library's message when the table of contents could not be read (an
  // unreadable disc image names its file and the fault). Empty when it could.
  [[nodiscard]] std::string DiscError();
  // -1 when the table of contents cannot be read.
  [[nodiscard]] int TracksCount();
  // 0 no medium, 2 playing audio, 1 otherwise.
  [[nodiscard]] int Status();
  [[nodiscard]] TCDTrackInfo TrackInfo(int Track);
  // Every track's `TrackInfo` from one reading of the table of contents; empty when it
  // cannot be read.
  [[nodiscard]] std::vector<TCDTrackInfo> TracksInfo();
  [[nodiscard]] int64_t GetSize();
  void Eject();

 private:
  static constexpr int kChunkSize = 176400;  // 75 sectors: one second of audio
  static constexpr size_t kChunks = 3;       // read ahead: one being handed out, two ready

  void OpenCD();
  void CloseCD();
  // The reading thread of a job: rips chunk after chunk into the free buffers until the
  // range ends, a read fails or StopReading.
  void ReadAhead();
  void StopReading();
  // Whether the waiting reading thread goes on: the first chunk is wanted, or two are free.
  [[nodiscard]] bool ReaderResumes() const { return wanted_ && filled_ + 2 <= kChunks; }
  void CheckIdle() const;
  // The next at most BufferSize bytes of the chunk being handed out, moving on to the next
  // chunk once it is used up: where they are and how many (0 at the end of the range).
  int NextBytes(const uint8_t*& Data, int BufferSize);
  // The sector range [Start, End) of the tracks set; false when the table has no such tracks.
  bool Range(int& Start, int& End);
  // The library's message for the call that just failed.
  [[nodiscard]] std::string LibraryError() const;
  // The ripping library's text for its last failure, as it gives it (empty: none).
  [[nodiscard]] std::string LastErrorText() const;

  const TCDRipApi* cdrip_;
  std::mutex openLock_;
  int openCount_ = 0;
  int currentDrive_ = 0;
  int startTrack_ = 0;
  int endTrack_ = 0;
  TCDPosition startPos_;
  TCDPosition endPos_;
  int64_t rangeSize_ = 0;
  int chunkSize_ = kChunkSize;
  bool ripperOpen_ = false;
  std::string discError_;  // under openLock_

  // The chunks ripped ahead, in a ring: `filled_` of them from `head_` on are ready, and
  // while `holding_` the one at `head_` is being handed out by GetData. The reading thread
  // only touches the others. It reads the first chunk on Init, and goes on only from the first
  // GetData (`wanted_`): what the disc holds past the first second is read when it is asked for,
  // as reading did before there was a thread.
  struct TChunk {
    std::vector<uint8_t> Data;
    int Bytes = 0;
  };
  std::array<TChunk, kChunks> chunks_;
  std::mutex readLock_;
  std::condition_variable readChanged_;
  size_t head_ = 0;
  size_t filled_ = 0;
  bool wanted_ = false;
  bool holding_ = false;
  bool stopReading_ = false;
  bool readEnded_ = false;   // the reading thread is done: the range ended or a read failed
  bool readFailed_ = false;  // after the chunks ready before it
  std::string readError_;    // the library's reason for the failed read: names the drive or file
  // Who waits on readChanged_: each side wakes the other only then.
  bool readerWaiting_ = false;
  bool consumerWaiting_ = false;
  std::thread reader_;
};

}  // namespace qv
