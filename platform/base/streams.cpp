#include "platform/base/streams.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

namespace qv {
namespace {

std::string ErrnoText(int err) {
  return std::strerror(err);
}

[[noreturn]] void ThrowSeekError() {
  throw EStreamError("Stream seek error");
}

// The folder part of a path with "/" separators, "." when there is none.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Removes the temporary file unless the rename went through.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  void Cancel() { path_.clear(); }

 private:
  std::string path_;
};

// A stream over a descriptor it does not own, for the safe-replace writer.
class TFdStream final : public TStream {
 public:
  explicit TFdStream(int fd) : fd_(fd) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t new_size) override;

 private:
  int fd_;
};

int64_t FdRead(int fd, void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const size_t chunk = size_t(std::min<int64_t>(count - done, int64_t(1) << 30));
    const ssize_t n = ::read(fd, p + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done > 0) break;
      throw EReadError("Stream read error. " + ErrnoText(errno));
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t FdWrite(int fd, const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const auto* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const size_t chunk = size_t(std::min<int64_t>(count - done, int64_t(1) << 30));
    const ssize_t n = ::write(fd, p + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EWriteError("Stream write error. " + ErrnoText(errno));
    }
    done += n;
  }
  return done;
}

int64_t FdSeek(int fd, int64_t offset, TSeekOrigin origin) {
  int whence = SEEK_SET;
  if (origin == soFromCurrent) whence = SEEK_CUR;
  if (origin == soFromEnd) whence = SEEK_END;
  const off_t r = ::lseek(fd, off_t(offset), whence);
  if (r < 0) ThrowSeekError();
  return int64_t(r);
}

void FdSetSize(int fd, int64_t new_size) {
  if (new_size < 0) throw EStreamError("Stream size error");
  int r;
  do {
    r = ::ftruncate(fd, off_t(new_size));
  } while (r < 0 && errno == EINTR);
  if (r < 0) throw EWriteError("Stream write error. " + ErrnoText(errno));
  if (FdSeek(fd, 0, soFromCurrent) > new_size) FdSeek(fd, new_size, soFromBeginning);
}

int64_t TFdStream::Read(void* buffer, int64_t count) {
  return FdRead(fd_, buffer, count);
}
int64_t TFdStream::Write(const void* buffer, int64_t count) {
  return FdWrite(fd_, buffer, count);
}
int64_t TFdStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FdSeek(fd_, offset, origin);
}
void TFdStream::SetSize(int64_t new_size) {
  FdSetSize(fd_, new_size);
}

}  // namespace

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the rename is done; a folder we cannot open cannot be synced
  ::fsync(fd);
  ::close(fd);
}

int CreateTempNextTo(const std::string& file_name, std::string& temp_name) {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const std::string folder = FolderOf(file_name);
  // The temporary's name must fit where the target's name does.
  std::string base = BaseNameOf(file_name);
  if (base.size() > 180) base.resize(180);
  const std::string prefix = (folder == "/" ? "" : folder) + "/." + base + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, "%d.%u.%08x.tmp", int(::getpid()), counter++, rd());
    temp_name = prefix + suffix;
    int fd;
    do {
      fd = ::open(temp_name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      // Held while the file is open: its name may outlive its process (see RemoveDeadTemps).
      (void)::flock(fd, LOCK_EX | LOCK_NB);
      return fd;
    }
    if (errno != EEXIST) {
      const int err = errno;
      throw EFCreateError("Cannot create file \"" + file_name + "\". " + ErrnoText(err));
    }
  }
  throw EFCreateError("Cannot create file \"" + file_name + "\". " + ErrnoText(EEXIST));
}

namespace {

// The writer's process id in a name CreateTempNextTo made (".<name>.<pid>.<n>.<8 hex>.tmp"),
// or 0 for any other name.
pid_t TempOwner(std::string_view name) {
  if (name.size() < 2 || name[0] != '.' || !name.ends_with(".tmp")) return 0;
  name.remove_suffix(4);
  const auto field = [&name](bool hex) -> std::string_view {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    const std::string_view f = name.substr(dot + 1);
    for (const char c : f)
      if (!(c >= '0' && c <= '9') && !(hex && ((c >= 'a' && c <= 'f')))) return {};
    name = name.substr(0, dot);
    return f;
  };
  if (field(true).size() != 8 || field(false).empty()) return 0;
  const std::string_view pid = field(false);
  if (pid.empty() || pid.size() > 9) return 0;
  pid_t value = 0;
  for (const char c : pid) value = value * 10 + (c - '0');
  return value;
}

}  // namespace

void RemoveDeadTemps(const std::string& folder) {
  DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
  if (d == nullptr) return;
  const int dir = ::dirfd(d);
  while (const dirent* e = ::readdir(d)) {
    const pid_t owner = TempOwner(e->d_name);
    // A process that still runs (or that we may not signal) may still be writing it.
    if (owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    const int fd =
        ::openat(dir, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // Its lock is free only once no writer has it open (one of another process namespace).
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      (void)::unlinkat(dir, e->d_name, 0);
    ::close(fd);
  }
  ::closedir(d);
}

// --- TStream -------------------------------------------------------------------

int64_t TStream::Size() {
  const int64_t pos = Seek(0, soFromCurrent);
  const int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count))
    throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count))
    throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) throw EReadError("Stream read error");
  std::vector<char> buffer(size_t(std::min<int64_t>(count, 1 << 20)));
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min<int64_t>(left, int64_t(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

// --- TFileStream ---------------------------------------------------------------

int TryOpenRegularFile(const std::string& file_name, int& error) {
  int fd;
  do {
    fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  struct stat st {};
  error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (error == 0 && !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  // Reads wait for the disc as usual.
  const int flags = error != 0 ? -1 : ::fcntl(fd, F_GETFL);
  if (error == 0 && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) error = errno;
  if (error != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int OpenRegularFile(const std::string& file_name) {
  int error = 0;
  const int fd = TryOpenRegularFile(file_name, error);
  if (fd < 0)
    throw EFOpenError("Cannot open file \"" + file_name + "\". " +
                      (error != 0 ? ErrnoText(error) : std::string("Not a regular file")));
  return fd;
}

TFileStream::TFileStream(const std::string& file_name, uint16_t mode) : file_name_(file_name) {
  int flags = O_CLOEXEC;
  const bool create = (mode & 0xFF00) == fmCreate;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 0x3) {
      case fmOpenWrite:
        flags |= O_WRONLY;
        break;
      case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
      default:
        fd_ = OpenRegularFile(file_name);
        return;
    }
  }
  do {
    fd_ = ::open(file_name.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    const int err = errno;
    if (create) throw EFCreateError("Cannot create file \"" + file_name + "\". " + ErrnoText(err));
    throw EFOpenError("Cannot open file \"" + file_name + "\". " + ErrnoText(err));
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file \"" + file_name + "\". " + ErrnoText(EISDIR));
  }
}

TFileStream::TFileStream(int fd, std::string file_name)
    : file_name_(std::move(file_name)), fd_(fd) {}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  const int64_t at = std::exchange(position_, -1);
  const int64_t n = FdRead(fd_, buffer, count);
  if (at >= 0) position_ = at + n;
  return n;
}
int64_t TFileStream::Write(const void* buffer, int64_t count) {
  const int64_t at = std::exchange(position_, -1);
  const int64_t n = FdWrite(fd_, buffer, count);
  if (at >= 0) position_ = at + n;
  return n;
}
int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  // Encoders ask where they are after each frame they write: that costs no system call.
  if (origin == soFromCurrent && offset == 0 && position_ >= 0) return position_;
  position_ = -1;
  position_ = FdSeek(fd_, offset, origin);
  return position_;
}

int64_t TFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EStreamError("Stream size error. " + ErrnoText(errno));
  return int64_t(st.st_size);
}

void TFileStream::SetSize(int64_t new_size) {
  FdSetSize(fd_, new_size);
}

void TFileStream::Sync() {
  if (::fsync(fd_) != 0) throw EWriteError("Stream write error. " + ErrnoText(errno));
}

void TFileStream::StartWriteBack() {
  (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

// --- TMemoryStream -------------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= int64_t(data_.size())) return 0;
  const int64_t n = std::min<int64_t>(count, int64_t(data_.size()) - position_);
  std::memcpy(buffer, data_.data() + position_, size_t(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (count > std::numeric_limits<int64_t>::max() - position_) throw EWriteError("Out of memory");
  const int64_t end = position_ + count;
  if (end > int64_t(data_.size())) SetSize(end);
  std::memcpy(data_.data() + position_, buffer, size_t(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == soFromCurrent) base = position_;
  if (origin == soFromEnd) base = int64_t(data_.size());
  if ((offset < 0 && base + offset < 0) ||
      (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset))
    ThrowSeekError();
  position_ = base + offset;
  return position_;
}

void TMemoryStream::SetSize(int64_t new_size) {
  if (new_size < 0) throw EStreamError("Stream size error");
  try {
    data_.resize(size_t(new_size));
  } catch (const std::bad_alloc&) {
    throw EWriteError("Out of memory while expanding memory stream");
  } catch (const std::length_error&) {
    throw EWriteError("Out of memory while expanding memory stream");
  }
  if (position_ > new_size) position_ = new_size;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const int64_t size = source.Size();
  SetSize(size);
  position_ = 0;
  if (size != 0) source.ReadBuffer(data_.data(), size);
}

void TMemoryStream::SaveToStream(TStream& dest) {
  if (!data_.empty()) dest.WriteBuffer(data_.data(), int64_t(data_.size()));
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& file_name) {
  WriteFileAtomically(file_name, std::span<const uint8_t>(data_));
}

// --- whole files ---------------------------------------------------------------

std::string ReadFileBytes(const std::string& file_name, int64_t max_bytes) {
  TFileStream file(file_name, fmOpenRead);
  const int64_t size = file.Size();
  if (size > max_bytes)
    throw EFOpenError("Cannot open file \"" + file_name + "\". " + ErrnoText(EFBIG));
  std::string out;
  // Files whose size is not known in advance (/proc) are read to their end.
  char chunk[65536];
  out.reserve(size_t(size));
  for (;;) {
    int64_t n;
    try {
      n = file.Read(chunk, sizeof chunk);
    } catch (const EReadError& e) {
      throw EFOpenError("Cannot open file \"" + file_name + "\". " + e.what());
    }
    if (n == 0) break;
    if (int64_t(out.size()) + n > max_bytes)
      throw EFOpenError("Cannot open file \"" + file_name + "\". " + ErrnoText(EFBIG));
    out.append(chunk, size_t(n));
  }
  return out;
}

void ReplaceFileSafely(const std::string& file_name, const std::function<void(TStream&)>& writer) {
  std::string temp_name;
  const int fd = CreateTempNextTo(file_name, temp_name);
  TempFileGuard guard(temp_name);
  struct FdCloser {
    int fd;
    ~FdCloser() {
      if (fd >= 0) ::close(fd);
    }
  } closer{fd};

  // A replaced file keeps its permission bits.
  struct stat old {};
  if (::stat(file_name.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(fd, old.st_mode & 07777);

  TFdStream stream(fd);
  writer(stream);
  if (::fsync(fd) != 0) throw EWriteError("Stream write error. " + ErrnoText(errno));
  const int fd_copy = closer.fd;
  closer.fd = -1;
  if (::close(fd_copy) != 0 && errno != EINTR)
    throw EWriteError("Stream write error. " + ErrnoText(errno));
  if (::rename(temp_name.c_str(), file_name.c_str()) != 0) {
    const int err = errno;
    throw EFCreateError("Cannot create file \"" + file_name + "\". " + ErrnoText(err));
  }
  guard.Cancel();
  SyncFolder(FolderOf(file_name));
}

void WriteFileAtomically(const std::string& file_name, std::string_view bytes) {
  ReplaceFileSafely(file_name,
                    [&](TStream& s) { s.WriteBuffer(bytes.data(), int64_t(bytes.size())); });
}

void WriteFileAtomically(const std::string& file_name, std::span<const uint8_t> bytes) {
  ReplaceFileSafely(file_name,
                    [&](TStream& s) { s.WriteBuffer(bytes.data(), int64_t(bytes.size())); });
}

}  // namespace qv
