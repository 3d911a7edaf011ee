#include "platform/cdrom/device_drive.h"

#include <cdio/cdio.h>
// Needs cdio.h first.
#include <cdio/audio.h>
#include <cdio/mmc.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cdrom/cdio_support.h"
#include "platform/cdrom/cdrom_error.h"

namespace qv {
namespace {

class Fd {
 public:
  explicit Fd(const std::string& path) {
    do {
      fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
  }
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  [[nodiscard]] bool Valid() const { return fd_ >= 0; }
  [[nodiscard]] int Get() const { return fd_; }

 private:
  int fd_ = -1;
};

// Paranoia reports through a plain callback without a context pointer; reads are serialised by
// the caller, so the thread's own flag is enough.
thread_local bool paranoiaFailed = false;

void ParanoiaCallback(long, paranoia_cb_mode_t mode) {
  if (mode == PARANOIA_CB_READERR || mode == PARANOIA_CB_SKIP) paranoiaFailed = true;
}

}  // namespace

struct DeviceDrive::Session {
  CdioHandle Cdio;
};

namespace {

class ParanoiaReader final : public AudioReader {
 public:
  ParanoiaReader(std::shared_ptr<void> session, CdIo_t* cdio, const std::string& path,
                 std::uint32_t start, std::uint32_t end)
      : session_(std::move(session)), path_(path), position_(start), end_(end) {
    drive_ = cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (!drive_) throw ECdromError("The drive " + path + " cannot read audio");
    if (cdio_cddap_open(drive_) != 0) {
      cdio_cddap_close_no_free_cdio(drive_);
      throw ECdromError("The drive " + path + " cannot read audio");
    }
    paranoia_ = cdio_paranoia_init(drive_);
    cdio_paranoia_modeset(paranoia_, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    cdio_paranoia_seek(paranoia_, static_cast<int32_t>(start), SEEK_SET);
  }
  ~ParanoiaReader() override {
    if (paranoia_) cdio_paranoia_free(paranoia_);
    if (drive_) cdio_cddap_close_no_free_cdio(drive_);
  }

  std::size_t Read(std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (position_ < end_ && out.size() - done >= kCdSectorBytes) {
      paranoiaFailed = false;
      const std::int16_t* samples = cdio_paranoia_read_limited(paranoia_, ParanoiaCallback, 20);
      if (!samples || paranoiaFailed)
        throw ECdromError("Read error at sector " + std::to_string(position_) + " of " + path_);
      std::memcpy(out.data() + done, samples, kCdSectorBytes);
      done += kCdSectorBytes;
      ++position_;
    }
    return done;
  }
  std::uint32_t Position() const override { return position_; }

 private:
  std::shared_ptr<void> session_;  // keeps libcdio's handle alive under the paranoia objects
  std::string path_;
  std::uint32_t position_ = 0;
  std::uint32_t end_ = 0;
  cdrom_drive_t* drive_ = nullptr;
  cdrom_paranoia_t* paranoia_ = nullptr;
};

}  // namespace

MediaState MediaStateFromDriveStatus(int status) {
  switch (status) {
    case CDS_DISC_OK:
      return MediaState::Present;
    case CDS_NO_DISC:
    case CDS_TRAY_OPEN:
    case CDS_DRIVE_NOT_READY:
      return MediaState::Absent;
    default:
      return MediaState::Unknown;
  }
}

DeviceDrive::DeviceDrive(DriveInfo info) : CdDrive(std::move(info)), scsi_(Info().Path) {}

DeviceDrive::~DeviceDrive() = default;

MediaStatus DeviceDrive::GetMediaStatus() {
  const Fd fd(Info().Path);
  if (!fd.Valid()) return MediaStatus{MediaState::Unknown, 0};
  const int status = ::ioctl(fd.Get(), CDROM_DRIVE_STATUS, CDSL_CURRENT);
  return MediaStatus{status < 0 ? MediaState::Unknown : MediaStateFromDriveStatus(status), 0};
}

std::shared_ptr<DeviceDrive::Session> DeviceDrive::Open() {
  // A drive that cannot tell its state may still read a disc; only a known absence stops here.
  if (GetMediaStatus().State == MediaState::Absent)
    throw ECdromError("There is no disc in drive " + Info().Path);
  // A fresh handle per table read, so a changed disc is never read with the old one's layout.
  QuietCdioLog();
  auto session = std::make_shared<Session>();
  session->Cdio.reset(cdio_open(Info().Path.c_str(), DRIVER_LINUX));
  if (!session->Cdio) throw ECdromError("The drive " + Info().Path + " cannot be opened");
  return session;
}

CdToc DeviceDrive::ReadToc() {
  session_.reset();
  lastSession_ = 0;
  std::shared_ptr<Session> session = Open();
  toc_ = TocFromCdio(session->Cdio.get(), Info().Path);
  // An enhanced CD's data session: its first track's start, when audio tracks lie before it.
  lsn_t last = 0;
  if (cdio_get_last_session(session->Cdio.get(), &last) == DRIVER_OP_SUCCESS && last > 0 &&
      toc_.Tracks.front().StartLsn < static_cast<std::uint32_t>(last))
    lastSession_ = static_cast<std::uint32_t>(last);
  session_ = std::move(session);
  return toc_;
}

CdToc DeviceDrive::ReadTocByControl() {
  const Fd fd(Info().Path);
  if (!fd.Valid())
    throw ECdromError("The drive " + Info().Path + " cannot be opened: " + std::strerror(errno));
  return qv::ReadTocByControl(fd.Get(), Info().Path);
}

std::unique_ptr<AudioReader> DeviceDrive::OpenAudio(std::uint32_t startLsn, std::uint32_t endLsn) {
  if (!session_) ReadToc();
  if (endLsn < startLsn || endLsn > toc_.LeadOutLsn)
    throw ECdromError("The sector range " + std::to_string(startLsn) + "-" +
                      std::to_string(endLsn) + " is outside the disc in " + Info().Path);
  return std::make_unique<ParanoiaReader>(session_, session_->Cdio.get(), Info().Path, startLsn,
                                          endLsn);
}

InquiryData DeviceDrive::Identify() {
  std::uint8_t data[96] = {};
  const auto cdb = InquiryCdb(sizeof data);
  const ScsiResult result = scsi_.Execute(cdb, data, std::chrono::seconds(2));
  if (!result.Ok() || result.Transferred < 36)
    throw ECdromError("The drive " + Info().Path + " does not answer INQUIRY");
  return ParseInquiry(std::span<const std::uint8_t>(data, result.Transferred));
}

std::string DeviceDrive::Name() {
  try {
    const InquiryData id = Identify();
    return id.VendorId + " " + id.ProductId + " " + id.Revision + " (" + Info().Path + ")";
  } catch (const ECdromError&) {
    return Info().Path;
  }
}

bool DeviceDrive::IsAudioPlaying() {
  if (!session_) return false;
  cdio_subchannel_t sub{};
  if (cdio_audio_read_subchannel(session_->Cdio.get(), &sub) != DRIVER_OP_SUCCESS) return false;
  return sub.audio_status == CDIO_MMC_READ_SUB_ST_PLAY;
}

void DeviceDrive::Eject(bool open) {
  session_.reset();
  if (open) {
    const driver_return_code_t rc = cdio_eject_media_drive(Info().Path.c_str());
    if (rc != DRIVER_OP_SUCCESS)
      throw ECdromError("The drive " + Info().Path + " cannot eject: " + cdio_driver_errmsg(rc));
    return;
  }
  const driver_return_code_t rc = cdio_close_tray(Info().Path.c_str(), nullptr);
  if (rc != DRIVER_OP_SUCCESS)
    throw ECdromError("The drive " + Info().Path +
                      " cannot close its tray: " + cdio_driver_errmsg(rc));
}

}  // namespace qv
