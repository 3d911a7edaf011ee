#include "platform/cdrom/sg_io.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/cdrom/cdrom_error.h"

namespace qv {

void FillSgIoHeader(sg_io_hdr& header, std::span<const std::uint8_t> cdb,
                    std::span<std::uint8_t> dataIn, std::span<std::uint8_t> sense,
                    std::chrono::milliseconds timeout) {
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  header.dxfer_direction = dataIn.empty() ? SG_DXFER_NONE : SG_DXFER_FROM_DEV;
  header.cmd_len = static_cast<unsigned char>(cdb.size());
  // The kernel only reads the command block.
  header.cmdp = const_cast<unsigned char*>(cdb.data());
  header.dxfer_len = static_cast<unsigned int>(dataIn.size());
  header.dxferp = dataIn.empty() ? nullptr : dataIn.data();
  header.mx_sb_len = static_cast<unsigned char>(std::min<std::size_t>(sense.size(), 255));
  header.sbp = sense.data();
  header.timeout = static_cast<unsigned int>(timeout.count());
}

ScsiResult SgIoResult(const sg_io_hdr& header, int ioctlResult, int error,
                      std::span<const std::uint8_t> sense) {
  ScsiResult result;
  if (ioctlResult < 0) {
    result.Errno = error != 0 ? error : EIO;
    return result;
  }
  result.Status = header.status;
  result.HostStatus = static_cast<std::uint8_t>(header.host_status);
  result.DriverStatus = static_cast<std::uint8_t>(header.driver_status);
  const int resid = header.resid < 0 ? 0 : header.resid;
  result.Transferred =
      header.dxfer_len > static_cast<unsigned>(resid) ? header.dxfer_len - resid : 0;
  const std::size_t senseBytes = std::min<std::size_t>(header.sb_len_wr, sense.size());
  result.Sense.assign(sense.begin(), sense.begin() + static_cast<std::ptrdiff_t>(senseBytes));
  // Some drivers report CHECK CONDITION only through the driver status.
  if (result.Status == kScsiStatusGood && (header.driver_status & 0x0F) == 0x08 /* SENSE */ &&
      !result.Sense.empty())
    result.Status = kScsiStatusCheckCondition;
  return result;
}

ScsiResult SgIoTarget::Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                               std::chrono::milliseconds timeout) {
  if (cdb.empty() || cdb.size() > 16) return ScsiTransportError(EINVAL);
  int fd = -1;
  do {
    fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ScsiTransportError(errno);

  std::uint8_t sense[kSgSenseBytes] = {};
  sg_io_hdr header{};
  FillSgIoHeader(header, cdb, dataIn, sense, timeout);
  int rc = 0;
  do {
    rc = ::ioctl(fd, SG_IO, &header);
  } while (rc < 0 && errno == EINTR);
  const int error = rc < 0 ? errno : 0;
  ::close(fd);
  return SgIoResult(header, rc, error, sense);
}

CdToc TocFromControlEntries(std::uint8_t first, std::uint8_t last,
                            std::span<const TocControlEntry> entries) {
  if (first < 1 || first > last || last > kCdMaxTracks)
    throw ECdromError("The drive reports no valid track range");
  if (entries.size() != std::size_t{last} - first + 2)
    throw ECdromError("The drive's table of contents is incomplete");
  CdToc toc;
  for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
    const TocControlEntry& e = entries[i];
    if (e.Track != first + i || e.Lba < 0)
      throw ECdromError("The drive's table of contents has an invalid entry");
    toc.Tracks.push_back(CdTocTrack{e.Track, static_cast<std::uint32_t>(e.Lba),
                                    static_cast<std::uint8_t>(e.Control & 0x0F)});
  }
  if (entries.back().Track != kCdLeadOutTrack || entries.back().Lba < 0)
    throw ECdromError("The drive's table of contents has no lead-out");
  toc.LeadOutLsn = static_cast<std::uint32_t>(entries.back().Lba);
  ValidateToc(toc);
  return toc;
}

CdToc ReadTocByControl(int fd, const std::string& path) {
  cdrom_tochdr header{};
  if (::ioctl(fd, CDROMREADTOCHDR, &header) != 0)
    throw ECdromError("The table of contents of " + path +
                      " cannot be read: " + std::strerror(errno));
  std::vector<TocControlEntry> entries;
  for (int track = header.cdth_trk0; track <= header.cdth_trk1 + 1 && track <= kCdMaxTracks + 1;
       ++track) {
    cdrom_tocentry entry{};
    entry.cdte_track = static_cast<__u8>(track == header.cdth_trk1 + 1 ? CDROM_LEADOUT : track);
    entry.cdte_format = CDROM_LBA;
    if (::ioctl(fd, CDROMREADTOCENTRY, &entry) != 0)
      throw ECdromError("Track " + std::to_string(track) + " of " + path +
                        " cannot be read: " + std::strerror(errno));
    entries.push_back(TocControlEntry{entry.cdte_track, static_cast<std::uint8_t>(entry.cdte_ctrl),
                                      entry.cdte_addr.lba});
  }
  return TocFromControlEntries(header.cdth_trk0, header.cdth_trk1, entries);
}

}  // namespace qv
