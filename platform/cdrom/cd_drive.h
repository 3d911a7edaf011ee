// One CD drive of the drive list, real or a disc image, with everything the program asks of a
// drive: whether a disc is in it, its table of contents, its audio, SCSI commands, its identity
// and the tray. A drive object is used by one thread at a time; the CD ripping library puts its
// own lock around it. Failures are ECdromError.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/cdrom/disc_toc.h"
#include "platform/cdrom/drive_list.h"
#include "platform/cdrom/scsi.h"

namespace qv {

enum class MediaState { Absent, Present, Unknown };

struct MediaStatus {
  MediaState State = MediaState::Unknown;
  // Changes when another disc is in the drive while it stays present (an image file replaced);
  // 0 where the drive cannot tell.
  std::uint64_t Identity = 0;
};

// Sequential reader of a sector range [start, end) of the disc's audio.
class AudioReader {
 public:
  virtual ~AudioReader() = default;
  // Fills whole sectors of `out` (a multiple of 2352 bytes) from the current position; returns
  // the bytes delivered, 0 at the end of the range. Throws ECdromError on a read error.
  virtual std::size_t Read(std::span<std::uint8_t> out) = 0;
  [[nodiscard]] virtual std::uint32_t Position() const = 0;
};

class CdDrive {
 public:
  explicit CdDrive(DriveInfo info) : info_(std::move(info)) {}
  virtual ~CdDrive() = default;
  CdDrive(const CdDrive&) = delete;
  CdDrive& operator=(const CdDrive&) = delete;

  [[nodiscard]] const DriveInfo& Info() const { return info_; }

  virtual MediaStatus GetMediaStatus() = 0;
  // The disc's table of contents as the drive reports it.
  virtual CdToc ReadToc() = 0;
  // Where the last session of the disc read by ReadToc begins (its first track's start) when
  // the sessions before it end kCdSessionGapSectors before it, sectors that hold no audio; 0
  // for a disc of one session, or where the drive cannot tell.
  virtual std::uint32_t LastSessionStart() { return 0; }
  // The same table through the CD-ROM controls instead of SCSI commands (the second way a
  // caller may take when SCSI commands are refused).
  virtual CdToc ReadTocByControl() = 0;
  // Opens [startLsn, endLsn) of the table last read (reading it when needed); refuses a range
  // that is empty-backwards or runs past the lead-out.
  virtual std::unique_ptr<AudioReader> OpenAudio(std::uint32_t startLsn, std::uint32_t endLsn) = 0;
  virtual ScsiTarget& Scsi() = 0;
  virtual InquiryData Identify() = 0;
  // A name to show a person, e.g. "HL-DT-ST DVDRAM GH24NSD1 (/dev/sr0)".
  virtual std::string Name() = 0;
  virtual bool IsAudioPlaying() = 0;
  // Opens (or closes) the tray; throws where the drive has none.
  virtual void Eject(bool open) = 0;

 private:
  DriveInfo info_;
};

[[nodiscard]] std::unique_ptr<CdDrive> OpenCdDrive(const DriveInfo& info);

}  // namespace qv
