#include "tags/id3v2_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qv::id3 {
namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " \"" + path + "\": " + std::strerror(errno);
}

}  // namespace

TagFile::TagFile(const std::string& Path, Access Mode) {
  const int flags = (Mode == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  do {
    fd_ = ::open(Path.c_str(), flags);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw FileIoError(ErrnoText("cannot open", Path));
}

TagFile::TagFile(TagFile&& Other) noexcept : fd_(Other.fd_) {
  Other.fd_ = -1;
}

TagFile& TagFile::operator=(TagFile&& Other) noexcept {
  if (this != &Other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = Other.fd_;
    Other.fd_ = -1;
  }
  return *this;
}

TagFile::~TagFile() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TagFile::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw FileIoError(std::string("cannot stat: ") + strerror(errno));
  return st.st_size;
}

size_t TagFile::ReadAt(int64_t Pos, void* Dest, size_t Count) const {
  size_t done = 0;
  auto* out = static_cast<char*>(Dest);
  while (done < Count) {
    const ssize_t n = ::pread(fd_, out + done, Count - done, Pos + static_cast<int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileReadError(std::string("read failed: ") + strerror(errno));
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void TagFile::WriteAt(int64_t Pos, const void* Source, size_t Count) {
  size_t done = 0;
  const auto* in = static_cast<const char*>(Source);
  while (done < Count) {
    const ssize_t n = ::pwrite(fd_, in + done, Count - done, Pos + static_cast<int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileWriteError(std::string("write failed: ") + strerror(errno));
    }
    done += static_cast<size_t>(n);
  }
}

void TagFile::Truncate(int64_t Length) {
  while (::ftruncate(fd_, Length) != 0) {
    if (errno != EINTR) throw FileWriteError(std::string("truncate failed: ") + strerror(errno));
  }
}

void TagFile::Sync() {
  if (::fsync(fd_) != 0 && errno != EINVAL) {
    throw FileWriteError(std::string("sync failed: ") + strerror(errno));
  }
}

void CopyRange(const TagFile& From, int64_t FromPos, TagFile& To, int64_t ToPos, int64_t Count) {
  std::vector<char> block(16384);
  while (Count > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(Count, 16384));
    const size_t got = From.ReadAt(FromPos, block.data(), want);
    if (got != want) throw FileReadError("the file ended early");
    To.WriteAt(ToPos, block.data(), got);
    FromPos += static_cast<int64_t>(got);
    ToPos += static_cast<int64_t>(got);
    Count -= static_cast<int64_t>(got);
  }
}

void ReplaceFile(const std::string& Path, const std::function<void(TagFile&)>& Fill) {
  // Replace the file a symbolic link points to, not the link.
  char resolved[PATH_MAX];
  const std::string target = ::realpath(Path.c_str(), resolved) != nullptr ? resolved : Path;
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) throw FileIoError(ErrnoText("cannot stat", target));

  std::string temp = target + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw FileIoError(ErrnoText("cannot create a temporary file for", target));
  TagFile out(fd);
  bool renamed = false;
  try {
    Fill(out);
    (void)::fchown(fd, st.st_uid, st.st_gid);  // only the owner's group may be kept
    if (::fchmod(fd, st.st_mode & 07777) != 0) throw FileIoError(ErrnoText("cannot chmod", temp));
    out.Sync();
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      throw FileIoError(ErrnoText("cannot rename over", target));
    }
    renamed = true;
  } catch (...) {
    if (!renamed) ::unlink(temp.c_str());
    throw;
  }
}

}  // namespace qv::id3
