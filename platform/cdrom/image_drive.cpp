#include "platform/cdrom/image_drive.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/disc_image.h"
#include "platform/cdrom/scsi_emulator.h"

namespace qv {
namespace {

std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h;
}

// Changes when either file is replaced, rewritten or resized. Never 0 for an existing sheet.
std::uint64_t StatIdentity(const struct stat* st, std::uint64_t h) {
  if (st == nullptr) return Mix(h, 1);
  h = Mix(h, st->st_dev);
  h = Mix(h, st->st_ino);
  h = Mix(h, static_cast<std::uint64_t>(st->st_size));
  h = Mix(h, static_cast<std::uint64_t>(st->st_mtim.tv_sec));
  return Mix(h, static_cast<std::uint64_t>(st->st_mtim.tv_nsec));
}

std::uint64_t FileIdentity(const std::string& path, std::uint64_t h) {
  struct stat st {};
  return StatIdentity(::stat(path.c_str(), &st) == 0 ? &st : nullptr, h);
}

// The sheet's status when it is there: a disc in the drive. Something that is there but is
// no file (a pipe, a folder, a device) is a disc as well, one that cannot be read: reading it
// says why, where "no disc" would hide it.
bool SheetPresent(const std::string& path, struct stat& st) {
  return ::stat(path.c_str(), &st) == 0;
}

class ImageAudioReader final : public AudioReader {
 public:
  ImageAudioReader(std::shared_ptr<const DiscImage> image, std::uint32_t start, std::uint32_t end)
      : image_(std::move(image)), position_(start), end_(end) {}

  std::size_t Read(std::span<std::uint8_t> out) override {
    const std::uint32_t room = static_cast<std::uint32_t>(out.size() / kCdSectorBytes);
    const std::uint32_t count = std::min(room, end_ - position_);
    image_->ReadSectors(position_, count, out);
    position_ += count;
    return std::size_t{count} * kCdSectorBytes;
  }
  std::uint32_t Position() const override { return position_; }

 private:
  std::shared_ptr<const DiscImage> image_;
  std::uint32_t position_ = 0;
  std::uint32_t end_ = 0;
};

}  // namespace

ImageDrive::ImageDrive(DriveInfo info) : CdDrive(std::move(info)) {
  emulator_ = std::make_unique<ScsiEmulator>(Identify(), [this]() -> std::optional<CdToc> {
    if (GetMediaStatus().State != MediaState::Present) return std::nullopt;
    return Current()->Toc();
  });
}

ImageDrive::~ImageDrive() = default;

MediaStatus ImageDrive::GetMediaStatus() {
  struct stat st {};
  if (!SheetPresent(Info().Path, st)) return MediaStatus{MediaState::Absent, 0};
  const std::uint64_t identity = StatIdentity(&st, 0);
  return MediaStatus{MediaState::Present, identity == 0 ? 1 : identity};
}

std::shared_ptr<const DiscImage> ImageDrive::Current() {
  struct stat st {};
  if (!SheetPresent(Info().Path, st))
    throw ECdromError("There is no disc in drive " + std::string(1, Info().Letter) + ": (" +
                      Info().Path + " does not exist)");
  // The BIN file belongs to the disc as well: rewriting either means another disc.
  std::uint64_t identity = StatIdentity(&st, 0);
  if (image_) identity = FileIdentity(image_->BinPath(), identity);
  if (!image_ || identity != imageIdentity_) {
    image_.reset();
    image_ = DiscImage::Open(Info().Path);
    imageIdentity_ = FileIdentity(image_->BinPath(), FileIdentity(Info().Path, 0));
  }
  return image_;
}

CdToc ImageDrive::ReadToc() {
  return Current()->Toc();
}

std::uint32_t ImageDrive::LastSessionStart() {
  return image_ ? image_->LastSessionStart() : 0;
}

std::unique_ptr<AudioReader> ImageDrive::OpenAudio(std::uint32_t startLsn, std::uint32_t endLsn) {
  std::shared_ptr<const DiscImage> image = Current();
  if (endLsn < startLsn || endLsn > image->Toc().LeadOutLsn)
    throw ECdromError("The sector range " + std::to_string(startLsn) + "-" +
                      std::to_string(endLsn) + " is outside the disc " + Info().Path);
  return std::make_unique<ImageAudioReader>(std::move(image), startLsn, endLsn);
}

ScsiTarget& ImageDrive::Scsi() {
  return *emulator_;
}

InquiryData ImageDrive::Identify() {
  InquiryData data;
  data.DeviceType = 0x05;
  data.VendorId = "QUORVEL";
  data.ProductId = "DISC IMAGE";
  data.Revision = "1.0";
  data.VendorSpecific = std::filesystem::path(Info().Path).filename().string().substr(0, 20);
  return data;
}

std::string ImageDrive::Name() {
  return "Disc image " + std::filesystem::path(Info().Path).filename().string();
}

void ImageDrive::Eject(bool) {
  throw ECdromError("Drive " + std::string(1, Info().Letter) + ": is a disc image and has no tray");
}

}  // namespace qv
