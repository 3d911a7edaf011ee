// A file read in 8192-byte blocks for fast text search, line reads and counted reads, with
// deletes and inserts that rewrite the file through a temporary one. The local CD database
// uses it on its group and length index files. One owner, one thread; not copyable.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/exception.h"

namespace qv {

class EFileNotOpen : public Exception {
 public:
  using Exception::Exception;
};

class TSearchFile final {
 public:
  static constexpr std::size_t kBlockSize = 8192;

  TSearchFile() = default;
  ~TSearchFile();
  TSearchFile(const TSearchFile&) = delete;
  TSearchFile& operator=(const TSearchFile&) = delete;

  [[nodiscard]] const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& name);  // closes the file first
  [[nodiscard]] bool IsOpen() const { return FFd >= 0; }

  bool Open();  // false when there is no name or the file cannot be opened
  void Close();

  [[nodiscard]] std::int64_t FilePos() const;
  [[nodiscard]] bool Eof() const;
  void Seek(std::int64_t position);  // clamped to [0, file size]

  // Moves to the next occurrence of `text` at or after the current position. When there
  // is none the position goes to the end of the file and the result is false.
  bool Find(std::string_view text);
  // `count` bytes from the current position (fewer only at the end of the file).
  void Read(std::int64_t count, std::string& text);
  // Up to the next LF (a CR before it stays), or to the end of the file; moves past the LF.
  void ReadLn(std::string& text);

  // Removes [from, to) / inserts `count` bytes of `text` before `position`. The file is
  // rewritten to a new temporary file of its own beside it and renamed over the old one, so
  // a crash leaves either the old or the new file; a failure throws `Exception` and leaves
  // the old file as it was.
  void Delete(std::int64_t from, std::int64_t to);
  void Insert(std::int64_t position, std::string_view text, std::int64_t count);

 private:
  void RequireOpen(const char* text) const;
  void LoadBlock(std::int64_t position, std::size_t size);
  void Reopen(std::int64_t position);
  void Rewrite(std::int64_t keepEnd, std::string_view middle, std::int64_t resumeFrom);

  std::string FFileName;
  int FFd = -1;
  std::int64_t FSize = 0;      // file size, known from open and our own rewrites
  std::string FBuffer;         // the loaded block
  std::int64_t FBlockPos = 0;  // file position of FBuffer[0]
  std::size_t FCur = 0;        // current byte in FBuffer; the logical position is FBlockPos + FCur
};

}  // namespace qv
