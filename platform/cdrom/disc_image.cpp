#include "platform/cdrom/disc_image.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/base/streams.h"
#include "platform/cdrom/cdio_support.h"
#include "platform/cdrom/cdrom_error.h"

namespace qv {

namespace {

// Opens a file the user named for reading, once, as a regular file and without waiting: a
// named pipe or a device put in its place is refused, never waited on.
int OpenImageFile(const std::string& path, const std::string& what) {
  int error = 0;
  const int fd = TryOpenRegularFile(path, error);
  if (fd >= 0) return fd;
  if (error == 0 || error == EISDIR) throw ECdromError(what + " " + path + " is not a file");
  throw ECdromError(
      what + " " + path +
      (error == EACCES || error == EPERM ? " cannot be read: " : " cannot be opened: ") +
      std::strerror(error));
}

// The whole sheet, read from what was opened and no further than its size when opened.
std::string ReadCueFile(int fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    throw ECdromError("The cue sheet " + path + " cannot be read: " + std::strerror(errno));
  if (static_cast<std::uint64_t>(st.st_size) > kMaxCueSheetBytes)
    throw ECdromError("The cue sheet " + path + " is too large");
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw ECdromError("The cue sheet " + path + " cannot be read: " + std::strerror(errno));
    if (n == 0) break;  // shrunk since: what is there is the sheet
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  return text;
}

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

// libcdio reads a cue image's sectors and takes its lead-out from "<sheet name>.bin", whatever
// file the sheet names. So it is shown a private folder holding "image.cue", a copy of the
// sheet as it was read and checked, and "image.bin", a link to the BIN file as it was opened
// (through this process's descriptor, not by its name again); the folder lives as long as the
// handle.
struct DiscImage::Handle {
  std::filesystem::path Folder;
  CdioHandle Cdio;
  // The BIN file as it was opened, for the audio reads: libcdio reports a read cut short by
  // a file that shrank as a success, so the sectors are read here, where the count is seen.
  int BinFd = -1;

  Handle(const std::string& cuePath, const std::string& cueText, int binFd) : BinFd(binFd) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-image-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      const int error = errno;
      ::close(BinFd);
      throw ECdromError("Cannot create a folder for the disc image " + cuePath + ": " +
                        std::strerror(error));
    }
    Folder = pattern;
    std::string failure;
    const int fd = ::open((Folder / "image.cue").c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, cueText.data(), cueText.size()) != ssize_t(cueText.size()))
      failure = std::strerror(errno);
    if (fd >= 0 && ::close(fd) != 0 && failure.empty()) failure = std::strerror(errno);
    std::error_code ec;
    if (failure.empty())
      std::filesystem::create_symlink("/proc/self/fd/" + std::to_string(BinFd),
                                      Folder / "image.bin", ec);
    if (ec) failure = ec.message();
    if (!failure.empty()) {
      Release();
      throw ECdromError("Cannot prepare the disc image " + cuePath + ": " + failure);
    }
  }
  ~Handle() { Release(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  [[nodiscard]] std::string CuePath() const { return (Folder / "image.cue").string(); }

 private:
  void Release() {
    Cdio.reset();
    if (BinFd >= 0) ::close(BinFd);
    BinFd = -1;
    std::error_code ec;
    if (!Folder.empty()) std::filesystem::remove_all(Folder, ec);
    Folder.clear();
  }
};

namespace {

std::string Describe(const CdToc& toc) {
  std::string s;
  for (const CdTocTrack& t : toc.Tracks)
    s += std::to_string(t.Number) + "@" + std::to_string(t.StartLsn) + (t.IsData() ? "d " : " ");
  return s + "lead-out@" + std::to_string(toc.LeadOutLsn);
}

}  // namespace

std::string ResolveBinPath(const std::string& cuePath, const std::string& fileName) {
  const std::filesystem::path name(fileName);
  if (name.is_absolute()) return name.string();
  return (std::filesystem::path(cuePath).parent_path() / name).string();
}

DiscImage::~DiscImage() = default;

std::unique_ptr<DiscImage> DiscImage::Open(const std::string& cuePath) {
  std::unique_ptr<DiscImage> image(new DiscImage());
  image->cuePath_ = cuePath;
  std::string cueText;
  {
    const FdCloser cue{OpenImageFile(cuePath, "The cue sheet")};
    cueText = ReadCueFile(cue.fd, cuePath);
  }
  try {
    image->sheet_ = ParseCueSheet(cueText);
  } catch (const ECdromError& e) {
    throw ECdromError("The cue sheet " + cuePath + " is malformed: " + e.what());
  }
  image->binPath_ = ResolveBinPath(cuePath, image->sheet_.FileName);
  const std::string& bin = image->binPath_;

  // Opened once: the checks below and every read, libcdio's included, are of this file.
  FdCloser binFd{OpenImageFile(bin, "The BIN file")};
  struct stat st {};
  if (::fstat(binFd.fd, &st) != 0)
    throw ECdromError("The BIN file " + bin + " cannot be read: " + std::strerror(errno));
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (size % kCdSectorBytes != 0)
    throw ECdromError("The BIN file " + bin + " is truncated: " + std::to_string(size) +
                      " bytes is not a whole number of 2352-byte sectors");
  const std::uint64_t sectors = size / kCdSectorBytes;
  const CueTrack& last = image->sheet_.Tracks.back();
  if (sectors <= last.Index1)
    throw ECdromError("The BIN file " + bin + " ends before track " + std::to_string(last.Number) +
                      " starts");
  if (sectors + kCdLeadInFrames > kCdMaxAbsoluteFrame)
    throw ECdromError("The BIN file " + bin + " is longer than a CD");

  // What the sheet says the disc is; libcdio must read the same.
  CdToc expected;
  for (const CueTrack& t : image->sheet_.Tracks)
    expected.Tracks.push_back(CdTocTrack{t.Number, t.Index1, t.Control});
  expected.LeadOutLsn = static_cast<std::uint32_t>(sectors);

  QuietCdioLog();
  auto handle = std::make_unique<Handle>(cuePath, cueText, std::exchange(binFd.fd, -1));
  handle->Cdio.reset(cdio_open_cue(handle->CuePath().c_str()));
  if (!handle->Cdio) throw ECdromError("The disc image " + cuePath + " cannot be opened");
  image->toc_ = TocFromCdio(handle->Cdio.get(), cuePath);
  if (image->toc_ != expected)
    throw ECdromError("The disc image " + cuePath + " is read inconsistently: the sheet says " +
                      Describe(expected) + ", libcdio reads " + Describe(image->toc_));
  image->handle_ = std::move(handle);
  const std::vector<CueTrack>& tracks = image->sheet_.Tracks;
  for (std::size_t i = 1; i < tracks.size(); ++i) {
    const CueTrack& t = tracks[i];
    if (t.Mode != CueTrackMode::Audio && tracks[i - 1].Mode == CueTrackMode::Audio && t.Index0 &&
        t.Index1 - *t.Index0 >= kCdSessionGapSectors)
      image->lastSessionStart_ = t.Index1;
  }
  return image;
}

void DiscImage::ReadSectors(std::uint32_t lsn, std::uint32_t count,
                            std::span<std::uint8_t> out) const {
  if (count == 0) return;
  if (lsn >= toc_.LeadOutLsn || count > toc_.LeadOutLsn - lsn)
    throw ECdromError("Sectors " + std::to_string(lsn) + "-" + std::to_string(lsn + count - 1) +
                      " are outside the disc " + cuePath_);
  if (out.size() < std::size_t{count} * kCdSectorBytes)
    throw ECdromError("The buffer for sectors of " + cuePath_ + " is too small");
  // libcdio keeps reading a BIN file that was removed or replaced after it opened it, so
  // look at the file itself first.
  struct stat st {};
  if (::stat(binPath_.c_str(), &st) != 0 ||
      static_cast<std::uint64_t>(st.st_size) < std::uint64_t{lsn + count} * kCdSectorBytes)
    throw ECdromError("Read error at sector " + std::to_string(lsn) + ": the BIN file " + binPath_ +
                      " is missing or shorter than the disc");
  // The file may still shrink while the read is under way: only a whole read is audio.
  const std::size_t want = std::size_t{count} * kCdSectorBytes;
  const off_t at = static_cast<off_t>(lsn) * static_cast<off_t>(kCdSectorBytes);
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(handle_->BinFd, out.data() + got, want - got, at + off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw ECdromError("Read error at sector " + std::to_string(lsn) + " of " + cuePath_ + ": " +
                        std::strerror(errno));
    if (n == 0)
      throw ECdromError("Read error at sector " + std::to_string(lsn + got / kCdSectorBytes) +
                        ": the BIN file " + binPath_ + " ended before the disc's end");
    got += static_cast<std::size_t>(n);
  }
}

}  // namespace qv
