// Lowers the file-size limit for a scope, so that writes past it fail with EFBIG
// even for root: the stand-in for a full disc.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace qv::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    saved_ = ::getrlimit(RLIMIT_FSIZE, &old_) == 0;
    rlimit lowered = old_;
    lowered.rlim_cur = bytes;
    ok_ = saved_ && ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    if (saved_) ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_handler_);
  }
  // False when the limit could not be lowered.
  [[nodiscard]] bool ok() const { return ok_; }

 private:
  rlimit old_{};
  bool saved_ = false;
  bool ok_ = false;
  void (*old_handler_)(int) = nullptr;
};

}  // namespace qv::testing
