// A drive whose disc is a cue/bin image: the disc is in the drive while the cue sheet exists,
// SCSI commands are answered by the emulator from the image's table of contents, and the image
// is reopened whenever its files change.
#pragma once

#include <memory>

#include "platform/cdrom/cd_drive.h"

namespace qv {

class DiscImage;
class ScsiEmulator;

class ImageDrive final : public CdDrive {
 public:
  explicit ImageDrive(DriveInfo info);
  ~ImageDrive() override;

  MediaStatus GetMediaStatus() override;
  CdToc ReadToc() override;
  CdToc ReadTocByControl() override { return ReadToc(); }
  std::uint32_t LastSessionStart() override;
  std::unique_ptr<AudioReader> OpenAudio(std::uint32_t startLsn, std::uint32_t endLsn) override;
  ScsiTarget& Scsi() override;
  InquiryData Identify() override;
  std::string Name() override;
  bool IsAudioPlaying() override { return false; }
  void Eject(bool open) override;

 private:
  // The image as the files are now; reopened when their identity changed.
  std::shared_ptr<const DiscImage> Current();

  std::shared_ptr<const DiscImage> image_;
  std::uint64_t imageIdentity_ = 0;
  std::unique_ptr<ScsiEmulator> emulator_;
};

}  // namespace qv
