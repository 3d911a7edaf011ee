#include "platform/cdrom/scsi_emulator.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/cdrom/cdrom_error.h"

namespace qv {
namespace {

ScsiResult CheckCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  ScsiResult result;
  result.Status = kScsiStatusCheckCondition;
  result.Sense = MakeSense(key, asc, ascq);
  return result;
}

ScsiResult InvalidField() {
  return CheckCondition(kSenseKeyIllegalRequest, 0x24, 0x00);
}

ScsiResult Transfer(const std::vector<std::uint8_t>& answer, std::size_t allocation,
                    std::span<std::uint8_t> dataIn) {
  ScsiResult result;
  result.Transferred = std::min({answer.size(), allocation, dataIn.size()});
  std::memcpy(dataIn.data(), answer.data(), result.Transferred);
  return result;
}

// Command block length by operation code group (SPC): 6, 10, 10, reserved, 16, 12.
std::size_t CdbLength(std::uint8_t opcode) {
  switch (opcode >> 5) {
    case 0:
      return 6;
    case 1:
    case 2:
      return 10;
    case 4:
      return 16;
    case 5:
      return 12;
    default:
      return 0;
  }
}

}  // namespace

ScsiEmulator::ScsiEmulator(InquiryData identity, MediumProbe medium)
    : identity_(std::move(identity)), medium_(std::move(medium)) {}

std::optional<CdToc> ScsiEmulator::Medium(ScsiResult& result) {
  try {
    std::optional<CdToc> toc = medium_();
    if (!toc) result = CheckCondition(kSenseKeyNotReady, 0x3A, 0x00);
    return toc;
  } catch (const ECdromError&) {
    // A disc the drive cannot make sense of: "cannot read medium, incompatible format".
    result = CheckCondition(kSenseKeyMediumError, 0x30, 0x02);
    return std::nullopt;
  }
}

ScsiResult ScsiEmulator::Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                                 std::chrono::milliseconds) {
  if (cdb.empty()) return ScsiTransportError(EINVAL);
  const std::size_t length = CdbLength(cdb[0]);
  if (length == 0) return CheckCondition(kSenseKeyIllegalRequest, 0x20, 0x00);
  if (cdb.size() < length) return ScsiTransportError(EINVAL);

  switch (cdb[0]) {
    case kScsiTestUnitReady: {
      ScsiResult result;
      (void)Medium(result);
      return result;
    }
    case kScsiInquiry: {
      if (cdb[1] & 0x01) return InvalidField();  // vital product data pages are not offered
      if (cdb[2] != 0) return InvalidField();
      const std::size_t allocation = std::size_t{cdb[3]} << 8 | cdb[4];
      return Transfer(BuildInquiry(identity_), allocation, dataIn);
    }
    case kScsiReadToc:
      return ReadToc(cdb, dataIn);
    default:
      return CheckCondition(kSenseKeyIllegalRequest, 0x20, 0x00);
  }
}

ScsiResult ScsiEmulator::ReadToc(std::span<const std::uint8_t> cdb,
                                 std::span<std::uint8_t> dataIn) {
  const bool msf = (cdb[1] & 0x02) != 0;
  std::uint8_t format = cdb[2] & 0x0F;
  // Older drives took the format from the top bits of the control byte.
  if (format == 0) format = cdb[9] >> 6;
  const std::uint8_t startTrack = cdb[6];
  const std::size_t allocation = std::size_t{cdb[7]} << 8 | cdb[8];
  if (format != kTocFormatToc) return InvalidField();

  ScsiResult result;
  const std::optional<CdToc> toc = Medium(result);
  if (!toc) return result;
  if (startTrack != kCdLeadOutTrack && startTrack > toc->LastTrack()) return InvalidField();
  return Transfer(BuildTocResponse(*toc, msf, startTrack), allocation, dataIn);
}

}  // namespace qv
