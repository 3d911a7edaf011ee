#include "platform/msg/event_fd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace qv {

EventFd::EventFd() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

EventFd::~EventFd() {
  ::close(fd_);
}

void EventFd::Signal() {
  const std::uint64_t one = 1;
  // EAGAIN means the counter is saturated, which is as awake as it gets.
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void EventFd::Drain() {
  std::uint64_t count = 0;
  while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

}  // namespace qv
