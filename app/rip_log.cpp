#include "app/rip_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv {

bool TRipLog::OpenLog(const std::string& FileName, std::string* Reason) {
  CloseLog();
  const auto fail = [Reason](const std::string& Why) {
    if (Reason != nullptr) *Reason = Why;
    return false;
  };
  int fd;
  // Never waits in the open: a named pipe in the log's place is refused below. Never through
  // a link either: emptying the log must not empty whatever file a link leads to.
  do {
    fd = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC,
                0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    ::close(fd);
    return fail(S_ISREG(st.st_mode) ? std::strerror(error) : "it is not a regular file");
  }
  // The platform's exclusive share mode: whoever has the file keeps it, and only the holder
  // may empty it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return fail(error == EWOULDBLOCK ? "another program has it open" : std::strerror(error));
  }
  // (O_NONBLOCK changes nothing for a regular file.)
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    const int error = errno;
    ::close(fd);
    return fail(std::strerror(error));
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
