// Byte streams as the class library has them: an abstract TStream with 64-bit
// positions, a file stream over a POSIX descriptor and a growable memory stream,
// plus the helpers that replace a file without ever leaving half of it behind.
// A stream object belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.h"

namespace qv {

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
// "Stream read error": fewer bytes than asked for in ReadBuffer.
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// "Stream write error": fewer bytes than asked for in WriteBuffer.
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// "Cannot open file \"<path>\". <reason>"
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// "Cannot create file \"<path>\". <reason>"
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

enum TSeekOrigin { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };
constexpr TSeekOrigin soBeginning = soFromBeginning;
constexpr TSeekOrigin soCurrent = soFromCurrent;
constexpr TSeekOrigin soEnd = soFromEnd;

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Read/Write move up to `count` bytes and return how many moved (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Returns the new position. Seeking before 0 throws EStreamError; past the end is
  // allowed, and a later write fills the gap with zeros.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t new_size) = 0;

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, soFromBeginning); }

  // All or nothing: throw EReadError / EWriteError when fewer bytes moved.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteBuffer(std::string_view bytes) { WriteBuffer(bytes.data(), int64_t(bytes.size())); }
  // Copies `count` bytes from the source's position; `count` 0 copies the whole source
  // from its start. Returns the bytes copied; a short source throws EReadError.
  int64_t CopyFrom(TStream& source, int64_t count);
};

enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  // Creates or truncates, opened for reading and writing.
  fmCreate = 0xFF00,
};

// Opens a file for reading only when it is a regular file, and never waits in the open: a
// named pipe without a writer, a device or a socket is opened without blocking, seen for
// what it is and closed. Every file a user names (configuration, skins, pictures) is opened
// this way, so that no such file can stop the program from starting or ending. Returns the
// descriptor (close-on-exec, its reads blocking as usual); throws EFOpenError
// "Cannot open file \"<path>\". <reason>" otherwise.
[[nodiscard]] int OpenRegularFile(const std::string& file_name);
// The same without an exception: -1 with the system's error in `error`, or with `error` 0
// when the file is there but is no regular file (a folder gives EISDIR).
[[nodiscard]] int TryOpenRegularFile(const std::string& file_name, int& error);

// A file opened by name. Share flags are accepted and ignored: Linux has no
// mandatory sharing. New files get mode 0666 less the umask. Descriptors are
// close-on-exec. Opened for reading only, it must be a regular file (OpenRegularFile).
class TFileStream final : public TStream {
 public:
  TFileStream(const std::string& file_name, uint16_t mode);
  // Takes over a descriptor already open on `file_name` (one CreateTempNextTo reserved), so
  // that what is written goes to that file and never to whatever the name leads to now.
  TFileStream(int fd, std::string file_name);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t new_size) override;

  [[nodiscard]] const std::string& FileName() const { return file_name_; }
  // Reading, writing or seeking through the descriptor itself leaves Position() behind:
  // the stream keeps the position it moved to instead of asking the system each time.
  [[nodiscard]] int Handle() const { return fd_; }
  // Flushes the file's data to the device; throws EWriteError on failure.
  void Sync();
  // Has the system start writing what was written so far to the device, without waiting
  // for it, so that a later Sync has little left to wait for. Errors are left to Sync.
  void StartWriteBack();

 private:
  std::string file_name_;
  int fd_ = -1;
  int64_t position_ = -1;  // the descriptor's offset; -1 when not known (after a failure)
};

class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(data_.size()); }
  void SetSize(int64_t new_size) override;

  // Valid until the next call that changes the size.
  [[nodiscard]] uint8_t* Memory() { return data_.data(); }
  [[nodiscard]] const std::vector<uint8_t>& Bytes() const { return data_; }
  void Clear();
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& dest);
  // Throws EFOpenError when the file cannot be read.
  void LoadFromFile(const std::string& file_name);
  // Replaces the file safely (see ReplaceFileSafely).
  void SaveToFile(const std::string& file_name);

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// Whole-file reading; throws EFOpenError when the file cannot be opened or read, or
// is larger than `max_bytes`.
[[nodiscard]] std::string ReadFileBytes(const std::string& file_name, int64_t max_bytes = int64_t(1)
                                                                                          << 31);

// Creates a new file of its own next to `file_name` (the same folder, a hidden name no other
// writer uses), exclusively: never through a link, never over another file. Mode 0666 less
// the umask; returns the descriptor (read and write, close-on-exec) and the name in
// `temp_name`; throws EFCreateError.
[[nodiscard]] int CreateTempNextTo(const std::string& file_name, std::string& temp_name);

// Puts the folder's entries (a rename into it) on the device; errors are ignored, the
// rename being done. "" is the current folder.
void SyncFolder(const std::string& folder);

// Removes from `folder` the temporary files CreateTempNextTo made for processes that have
// ended without removing them (killed, or the power went). A file whose process still runs,
// or that is still open to its writer, is left alone; errors are ignored.
void RemoveDeadTemps(const std::string& folder);

// Writes a file by way of a temporary name in the same folder: `writer` fills the
// stream, the data are flushed to the device, and the temporary is renamed over
// `file_name`. Whatever fails (the writer throws, the disc is full, the folder is
// read-only), the temporary is removed and the old file is left as it was; the
// failure is thrown (EFCreateError, EWriteError or the writer's exception). A file
// that is replaced keeps its permission bits; a new one gets 0666 less the umask.
void ReplaceFileSafely(const std::string& file_name, const std::function<void(TStream&)>& writer);
void WriteFileAtomically(const std::string& file_name, std::string_view bytes);
void WriteFileAtomically(const std::string& file_name, std::span<const uint8_t> bytes);

}  // namespace qv
