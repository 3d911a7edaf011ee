// The file access of the tag code: a small POSIX file with positioned reads and writes, and
// the one place where a file is replaced through a temporary copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/base/exception.h"

namespace qv::id3 {

// Failures map to the result words $0300 (read), $0400 (write) and $0500 (other I/O).
class FileReadError : public Exception {
 public:
  using Exception::Exception;
};
class FileWriteError : public Exception {
 public:
  using Exception::Exception;
};
class FileIoError : public Exception {
 public:
  using Exception::Exception;
};

// Owns one file descriptor; move-only.
class TagFile {
 public:
  enum class Access { Read, ReadWrite };
  TagFile() = default;
  TagFile(const std::string& Path, Access Mode);
  TagFile(TagFile&& Other) noexcept;
  TagFile& operator=(TagFile&& Other) noexcept;
  TagFile(const TagFile&) = delete;
  TagFile& operator=(const TagFile&) = delete;
  ~TagFile();

  [[nodiscard]] int64_t Size() const;
  // Reads up to `Count` bytes at `Pos`; fewer only at the end of the file.
  size_t ReadAt(int64_t Pos, void* Dest, size_t Count) const;
  void WriteAt(int64_t Pos, const void* Source, size_t Count);
  void Truncate(int64_t Length);
  void Sync();
  [[nodiscard]] int Fd() const { return fd_; }

 private:
  friend void ReplaceFile(const std::string&, const std::function<void(TagFile&)>&);
  explicit TagFile(int Fd) : fd_(Fd) {}
  int fd_ = -1;
};

// Writes a new version of `Path` into a temporary file in the same folder, which `Fill`
// writes from position 0, and renames it over `Path` once complete and synced. On any failure
// the temporary is removed and `Path` is left as it was. The new file keeps the old one's
// permissions (and owner, where allowed).
void ReplaceFile(const std::string& Path, const std::function<void(TagFile&)>& Fill);

// Copies `Count` bytes from `From` at `FromPos` to `To` at `ToPos` in 16 KB blocks; fails with
// `FileReadError` when the source ends early.
void CopyRange(const TagFile& From, int64_t FromPos, TagFile& To, int64_t ToPos, int64_t Count);

}  // namespace qv::id3
