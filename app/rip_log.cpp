#include "app/rip_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace qv {

bool TRipLog::OpenLog(const std::string& FileName) {
  CloseLog();
  int fd;
  do {
    fd = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  // The platform's exclusive share mode: whoever has the file keeps it, and only the holder
  // may empty it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0 ||
      ::lseek(fd, 0, SEEK_SET) != 0) {
    ::close(fd);
    return false;
  }
  std::lock_guard guard(lock_);
  FLogHandle = fd;
  return true;
}

void TRipLog::CloseLog() {
  std::lock_guard guard(lock_);
  if (FLogHandle < 0) return;
  ::close(FLogHandle);
  FLogHandle = -1;
}

bool TRipLog::IsOpen() const {
  std::lock_guard guard(lock_);
  return FLogHandle >= 0;
}

void TRipLog::WriteLog(const std::string& Msg) {
  if (FDebug) Append(Msg);
}

void TRipLog::Report(const std::string& Msg) {
  Append(Msg);
}

void TRipLog::Append(const std::string& Msg) {
  std::lock_guard guard(lock_);
  if (FLogHandle < 0) return;
  const std::string line = Msg + "\n";
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(FLogHandle, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += size_t(n);
  }
}

}  // namespace qv
