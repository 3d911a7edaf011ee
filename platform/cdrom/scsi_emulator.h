// Answers SCSI command blocks for a drive that has no hardware behind it (a disc image), the
// way an MMC drive would: INQUIRY from a fixed identity, TEST UNIT READY and READ TOC (format 0,
// MSF or LBA) from the disc's table of contents. Any other command gets CHECK CONDITION with
// ILLEGAL REQUEST / invalid command operation code; a command needing the disc gets NOT READY /
// medium not present when there is none. Used on one thread at a time, like the drive it serves.
#pragma once

#include <functional>
#include <optional>

#include "platform/cdrom/scsi.h"

namespace qv {

class ScsiEmulator final : public ScsiTarget {
 public:
  // Asked at every command that needs the disc: no value means no medium; an ECdromError means
  // a medium that cannot be read.
  using MediumProbe = std::function<std::optional<CdToc>()>;

  ScsiEmulator(InquiryData identity, MediumProbe medium);

  ScsiResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                     std::chrono::milliseconds timeout) override;

 private:
  ScsiResult ReadToc(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn);
  // Nullopt with `result` set when the command must fail for the medium's sake.
  std::optional<CdToc> Medium(ScsiResult& result);

  InquiryData identity_;
  MediumProbe medium_;
};

}  // namespace qv
