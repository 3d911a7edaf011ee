// SCSI commands to a real drive through the kernel's SG_IO interface, and the CD-ROM controls
// (CDROMREADTOCHDR / CDROMREADTOCENTRY) as the second way to a table of contents. The header
// building and result decoding are separate functions so they can be checked without a drive.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/cdrom/scsi.h"

struct sg_io_hdr;

namespace qv {

// Sense bytes asked for with every command.
inline constexpr std::size_t kSgSenseBytes = 32;

// Fills `header` for a data-in command (no data when `dataIn` is empty). `sense` must outlive
// the call that uses the header.
void FillSgIoHeader(sg_io_hdr& header, std::span<const std::uint8_t> cdb,
                    std::span<std::uint8_t> dataIn, std::span<std::uint8_t> sense,
                    std::chrono::milliseconds timeout);
// The result of an SG_IO call that returned `ioctlResult` (errno `error` when -1).
[[nodiscard]] ScsiResult SgIoResult(const sg_io_hdr& header, int ioctlResult, int error,
                                    std::span<const std::uint8_t> sense);

// A device node (e.g. /dev/sr0), opened for each command.
class SgIoTarget final : public ScsiTarget {
 public:
  explicit SgIoTarget(std::string path) : path_(std::move(path)) {}
  ScsiResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                     std::chrono::milliseconds timeout) override;

 private:
  std::string path_;
};

// One entry as CDROMREADTOCENTRY returns it in LBA form.
struct TocControlEntry {
  std::uint8_t Track = 0;  // 0xAA for the lead-out
  std::uint8_t Control = 0;
  std::int32_t Lba = 0;
};
// The table from the header's first and last track and the entries (tracks, then the lead-out).
// Throws ECdromError when they do not form a valid table.
[[nodiscard]] CdToc TocFromControlEntries(std::uint8_t first, std::uint8_t last,
                                          std::span<const TocControlEntry> entries);
// Reads the table of an open device through the CD-ROM controls.
[[nodiscard]] CdToc ReadTocByControl(int fd, const std::string& path);

}  // namespace qv
