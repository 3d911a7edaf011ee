// SCSI (MMC) commands as the CD layer sends and answers them: the command blocks for INQUIRY
// and READ TOC, their answers, and the decoding of sense data. A `ScsiTarget` is anything that
// executes a command block: SG_IO on a real drive, the emulator on a disc image.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/cdrom/disc_toc.h"

namespace qv {

inline constexpr std::uint8_t kScsiTestUnitReady = 0x00;
inline constexpr std::uint8_t kScsiInquiry = 0x12;
inline constexpr std::uint8_t kScsiReadToc = 0x43;

inline constexpr std::uint8_t kScsiStatusGood = 0x00;
inline constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

inline constexpr std::uint8_t kSenseKeyNoSense = 0x0;
inline constexpr std::uint8_t kSenseKeyNotReady = 0x2;
inline constexpr std::uint8_t kSenseKeyMediumError = 0x3;
inline constexpr std::uint8_t kSenseKeyIllegalRequest = 0x5;
inline constexpr std::uint8_t kSenseKeyUnitAttention = 0x6;

// READ TOC formats.
inline constexpr std::uint8_t kTocFormatToc = 0x0;
inline constexpr std::uint8_t kTocFormatSessionInfo = 0x1;

// Outcome of one command. A transport failure (the command never reached the drive) has a
// non-zero `Errno`; a command the drive refused has CHECK CONDITION status and sense data.
struct ScsiResult {
  int Errno = 0;
  std::uint8_t Status = kScsiStatusGood;
  std::uint8_t HostStatus = 0;
  std::uint8_t DriverStatus = 0;
  std::size_t Transferred = 0;  // bytes of data that came back
  std::vector<std::uint8_t> Sense;
  [[nodiscard]] bool Ok() const {
    return Errno == 0 && Status == kScsiStatusGood && HostStatus == 0 && DriverStatus == 0;
  }
};

[[nodiscard]] inline ScsiResult ScsiTransportError(int error) {
  ScsiResult result;
  result.Errno = error;
  return result;
}

class ScsiTarget {
 public:
  virtual ~ScsiTarget() = default;
  // Runs a data-in (or no-data) command; `dataIn` receives up to its size in bytes.
  virtual ScsiResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                             std::chrono::milliseconds timeout) = 0;
};

[[nodiscard]] std::array<std::uint8_t, 6> InquiryCdb(std::uint8_t allocation);
[[nodiscard]] std::array<std::uint8_t, 10> ReadTocCdb(bool msf, std::uint8_t format,
                                                      std::uint8_t startTrack,
                                                      std::uint16_t allocation);

struct SenseInfo {
  bool Valid = false;  // a fixed or descriptor format the decoder knows
  std::uint8_t Key = 0;
  std::uint8_t Asc = 0;
  std::uint8_t Ascq = 0;
  friend bool operator==(const SenseInfo&, const SenseInfo&) = default;
};
[[nodiscard]] SenseInfo DecodeSense(std::span<const std::uint8_t> sense);
// Fixed-format sense data (18 bytes), current error.
[[nodiscard]] std::vector<std::uint8_t> MakeSense(std::uint8_t key, std::uint8_t asc,
                                                  std::uint8_t ascq);
[[nodiscard]] std::string DescribeSense(const SenseInfo& sense);

struct InquiryData {
  std::uint8_t DeviceType = 0;
  std::string VendorId;        // bytes 8-15
  std::string ProductId;       // bytes 16-31
  std::string Revision;        // bytes 32-35
  std::string VendorSpecific;  // bytes 36-55
};
// Standard INQUIRY data (96 bytes) for a CD drive with these identity texts, padded with spaces.
[[nodiscard]] std::vector<std::uint8_t> BuildInquiry(const InquiryData& data);
// Texts cut at their first NUL and trailing spaces; throws ECdromError when `data` is shorter
// than 36 bytes.
[[nodiscard]] InquiryData ParseInquiry(std::span<const std::uint8_t> data);

// The complete READ TOC format 0 answer for `toc`, from `startTrack` on (0 = the first track,
// 0xAA = the lead-out only), addresses in MSF or LBA form. Throws ECdromError for a start track
// past the disc.
[[nodiscard]] std::vector<std::uint8_t> BuildTocResponse(const CdToc& toc, bool msf,
                                                         std::uint8_t startTrack = 0);
// Parses a complete format 0 answer read from track 1 on. Throws ECdromError unless the header,
// length and descriptors are consistent (first <= last <= 99, every track and the lead-out
// present, ascending addresses).
[[nodiscard]] CdToc ParseTocResponse(std::span<const std::uint8_t> data, bool msf);

}  // namespace qv
