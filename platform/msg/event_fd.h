// An eventfd that wakes a thread blocked in poll. Owned by one queue; `Signal` may be
// called from any thread, `Drain` only by the thread that polls it.
#pragma once

namespace qv {

class EventFd {
 public:
  EventFd();
  ~EventFd();
  EventFd(const EventFd&) = delete;
  EventFd& operator=(const EventFd&) = delete;

  [[nodiscard]] int Fd() const { return fd_; }
  void Signal();
  void Drain();

 private:
  int fd_ = -1;
};

}  // namespace qv
