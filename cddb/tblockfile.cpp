#include "cddb/tblockfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/base/streams.h"

namespace qv {

namespace {

std::string ErrorText(const std::string& what, const std::string& name) {
  return what + " \"" + name + "\": " + std::strerror(errno);
}

// Writes all of `data`; false with errno set on failure.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads up to `size` bytes at `offset`; the count read, or -1 with errno set.
ssize_t ReadAt(int fd, char* data, std::size_t size, std::int64_t offset) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, data + got, size - got, offset + static_cast<off_t>(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

TSearchFile::~TSearchFile() {
  Close();
}

void TSearchFile::SetFileName(const std::string& name) {
  Close();
  FFileName = name;
}

bool TSearchFile::Open() {
  if (FFileName.empty()) return false;
  if (IsOpen()) return true;
  // A named pipe or a device in the database's place would wait in the open for ever.
  int fd;
  try {
    fd = OpenRegularFile(FFileName);
  } catch (const Exception&) {
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  FFd = fd;
  FSize = st.st_size;
  LoadBlock(0, kBlockSize);
  return true;
}

void TSearchFile::Close() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
  FSize = 0;
  FBuffer.clear();
  FBlockPos = 0;
  FCur = 0;
}

void TSearchFile::RequireOpen(const char* text) const {
  if (!IsOpen()) throw EFileNotOpen(text);
}

void TSearchFile::LoadBlock(std::int64_t position, std::size_t size) {
  FBuffer.resize(size);
  const ssize_t got = ReadAt(FFd, FBuffer.data(), size, position);
  if (got < 0) {
    FBuffer.clear();
    throw Exception(ErrorText("Couldn't read", FFileName));
  }
  FBuffer.resize(static_cast<std::size_t>(got));
  FBlockPos = position;
  FCur = 0;
  // A short read means the file ends here, whatever its size was when opened.
  if (static_cast<std::size_t>(got) < size) FSize = position + got;
}

std::int64_t TSearchFile::FilePos() const {
  RequireOpen("File position from closed file");
  return FBlockPos + static_cast<std::int64_t>(FCur);
}

bool TSearchFile::Eof() const {
  RequireOpen("EOF on closed file");
  return FBlockPos + static_cast<std::int64_t>(FCur) >= FSize;
}

void TSearchFile::Seek(std::int64_t position) {
  RequireOpen("File position from closed file");
  position = std::clamp<std::int64_t>(position, 0, FSize);
  if (position >= FBlockPos && position <= FBlockPos + static_cast<std::int64_t>(FBuffer.size())) {
    FCur = static_cast<std::size_t>(position - FBlockPos);
    return;
  }
  const std::int64_t block = position / kBlockSize * kBlockSize;
  LoadBlock(block, kBlockSize);
  FCur = std::min<std::size_t>(static_cast<std::size_t>(position - block), FBuffer.size());
}

bool TSearchFile::Find(std::string_view text) {
  RequireOpen("Find in closed file");
  if (text.empty()) return true;
  const std::size_t window = std::max(kBlockSize, 2 * text.size());
  std::int64_t pos = FBlockPos + static_cast<std::int64_t>(FCur);
  for (;;) {
    const std::int64_t loadedEnd = FBlockPos + static_cast<std::int64_t>(FBuffer.size());
    const bool covered =
        pos >= FBlockPos && pos <= loadedEnd &&
        (pos + static_cast<std::int64_t>(text.size()) <= loadedEnd || loadedEnd >= FSize);
    if (!covered) LoadBlock(pos, window);
    // The whole valid range is searched, zero bytes included.
    const std::size_t from = static_cast<std::size_t>(pos - FBlockPos);
    const std::size_t at = std::string_view(FBuffer).find(text, from);
    if (at != std::string_view::npos) {
      FCur = at;
      return true;
    }
    if (FBlockPos + static_cast<std::int64_t>(FBuffer.size()) >= FSize) {
      FCur = FBuffer.size();
      return false;
    }
    // Keep the last L-1 bytes so that a match across the block boundary is found.
    pos = FBlockPos + static_cast<std::int64_t>(FBuffer.size() - (text.size() - 1));
    LoadBlock(pos, window);
  }
}

void TSearchFile::Read(std::int64_t count, std::string& text) {
  RequireOpen("Read from closed file");
  text.clear();
  std::int64_t pos = FBlockPos + static_cast<std::int64_t>(FCur);
  std::int64_t missing = std::clamp<std::int64_t>(count, 0, std::max<std::int64_t>(FSize - pos, 0));
  text.reserve(static_cast<std::size_t>(missing));
  while (missing > 0) {
    if (pos < FBlockPos || pos >= FBlockPos + static_cast<std::int64_t>(FBuffer.size())) {
      LoadBlock(pos, kBlockSize);
      if (FBuffer.empty()) break;
    }
    const std::size_t from = static_cast<std::size_t>(pos - FBlockPos);
    const std::size_t take = std::min<std::size_t>(FBuffer.size() - from, missing);
    text.append(FBuffer, from, take);
    pos += static_cast<std::int64_t>(take);
    missing -= static_cast<std::int64_t>(take);
    FCur = from + take;
  }
}

void TSearchFile::ReadLn(std::string& text) {
  RequireOpen("Read from closed file");
  const std::int64_t start = FilePos();
  const bool found = Find("\n");
  const std::int64_t end = found ? FilePos() : FSize;
  Seek(start);
  Read(end - start, text);
  if (found) Seek(end + 1);
}

void TSearchFile::Delete(std::int64_t from, std::int64_t to) {
  RequireOpen("Delete from closed file");
  from = std::clamp<std::int64_t>(from, 0, FSize);
  to = std::clamp<std::int64_t>(to, 0, FSize);
  if (from >= to) return;
  const std::int64_t remembered = FilePos();
  Rewrite(from, {}, to);
  Seek(remembered < FSize ? remembered : std::max<std::int64_t>(FSize - 1, 0));
}

void TSearchFile::Insert(std::int64_t position, std::string_view text, std::int64_t count) {
  RequireOpen("Insert into closed file");
  position = std::clamp<std::int64_t>(position, 0, FSize);
  count = std::clamp<std::int64_t>(count, 0, static_cast<std::int64_t>(text.size()));
  const std::int64_t remembered = FilePos();
  Rewrite(position, text.substr(0, static_cast<std::size_t>(count)), position);
  Seek(remembered);
}

// New file = old [0, keepEnd) + middle + old [resumeFrom, end), written beside the old one
// and renamed over it.
void TSearchFile::Rewrite(std::int64_t keepEnd, std::string_view middle, std::int64_t resumeFrom) {
  // A fixed temporary name could be a link planted there, or another program's file.
  std::string temp;
  int out;
  try {
    out = CreateTempNextTo(FFileName, temp);
  } catch (const Exception& e) {
    throw Exception("Couldn't create a temporary file for \"" + FFileName + "\": " + e.what());
  }
  struct stat st {};
  const mode_t mode = ::fstat(FFd, &st) == 0 ? (st.st_mode & 07777) : 0666;
  const auto fail = [&](const char* what) {
    const std::string message = ErrorText(what, temp);
    ::close(out);
    ::unlink(temp.c_str());
    throw Exception(message);
  };
  std::string chunk(1 << 16, '\0');
  const auto copy = [&](std::int64_t from, std::int64_t to) {
    while (from < to) {
      const std::size_t want = std::min<std::int64_t>(to - from, chunk.size());
      const ssize_t got = ReadAt(FFd, chunk.data(), want, from);
      if (got <= 0) {
        if (got == 0) errno = EIO;  // the file shrank under us
        fail("Couldn't copy into");
      }
      if (!WriteAll(out, chunk.data(), static_cast<std::size_t>(got))) fail("Couldn't write");
      from += got;
    }
  };
  copy(0, keepEnd);
  if (!WriteAll(out, middle.data(), middle.size())) fail("Couldn't write");
  copy(resumeFrom, FSize);
  if (::fchmod(out, mode) != 0) fail("Couldn't set the mode of");
  if (::close(out) != 0) {
    const std::string message = ErrorText("Couldn't write", temp);
    ::unlink(temp.c_str());
    throw Exception(message);
  }
  if (::rename(temp.c_str(), FFileName.c_str()) != 0) {
    const std::string message = ErrorText("Couldn't replace", FFileName);
    ::unlink(temp.c_str());
    throw Exception(message);
  }
  Reopen(FBlockPos);
}

void TSearchFile::Reopen(std::int64_t position) {
  const std::string name = FFileName;
  Close();
  FFileName = name;
  if (!Open()) throw Exception("Couldn't reopen \"" + name + "\"");
  Seek(position);
}

}  // namespace qv
