// A real drive (/dev/srN): media state from CDROM_DRIVE_STATUS, the table of contents and the
// tray through libcdio, audio through libcdio-paranoia, SCSI commands through SG_IO. The user
// needs read access to the device node (group "cdrom").
#pragma once

#include <memory>

#include "platform/cdrom/cd_drive.h"
#include "platform/cdrom/sg_io.h"

namespace qv {

class DeviceDrive final : public CdDrive {
 public:
  explicit DeviceDrive(DriveInfo info);
  ~DeviceDrive() override;

  MediaStatus GetMediaStatus() override;
  CdToc ReadToc() override;
  CdToc ReadTocByControl() override;
  std::uint32_t LastSessionStart() override { return lastSession_; }
  std::unique_ptr<AudioReader> OpenAudio(std::uint32_t startLsn, std::uint32_t endLsn) override;
  ScsiTarget& Scsi() override { return scsi_; }
  InquiryData Identify() override;
  std::string Name() override;
  bool IsAudioPlaying() override;
  void Eject(bool open) override;

 private:
  struct Session;
  // libcdio's view of the disc now in the drive; reopened after a media change.
  std::shared_ptr<Session> Open();

  SgIoTarget scsi_;
  std::shared_ptr<Session> session_;
  CdToc toc_;
  std::uint32_t lastSession_ = 0;
};

// CDROM_DRIVE_STATUS's answer as a media state.
[[nodiscard]] MediaState MediaStateFromDriveStatus(int status);

}  // namespace qv
