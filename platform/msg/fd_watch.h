// File descriptors a thread's message loop watches besides its own queue: sockets, the
// X11 connection, device monitors. Callbacks run on the thread that added the watch,
// from inside its message retrieval, so they may post, send or pump like any handler.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qv {

using FdCallback = std::function<void(int fd, short revents)>;
// Lets a source that reads ahead (Xlib keeps events in its own buffer) say it has input
// the descriptor no longer shows; the loop then calls it without sleeping.
using FdBufferedCheck = std::function<bool()>;
using WatchId = std::uint64_t;

// Watches on the calling thread's queue. `events` are poll(2) bits; 0 pauses a watch.
// A watch must be removed before its descriptor is closed: Linux reuses the number.
WatchId WatchFd(int fd, short events, FdCallback callback, FdBufferedCheck buffered = {});
bool SetFdEvents(WatchId id, short events);
bool UnwatchFd(WatchId id);

// The watch set of one queue. Used only by the queue's own thread, so it needs no lock.
class FdWatchList {
 public:
  struct Watch;
  // The descriptors of one poll and the watches they belong to, in the same order.
  struct PollSet {
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<Watch>> watches;
    std::size_t first = 0;  // index in `fds` of the first watch
    bool buffered = false;  // a watch has input waiting already: do not sleep
  };

  WatchId Add(int fd, short events, FdCallback callback, FdBufferedCheck buffered);
  bool SetEvents(WatchId id, short events);
  bool Remove(WatchId id);
  [[nodiscard]] bool Empty() const { return watches_.empty(); }
  void Clear();

  // Adds the active watches to `set`. A watch whose callback is running is left out, so
  // a callback that pumps is not re-entered for the same descriptor.
  void Prepare(PollSet& set) const;
  // Runs the callbacks of the watches that poll (or their buffer) reported ready.
  void Dispatch(const PollSet& set);

 private:
  std::vector<std::shared_ptr<Watch>> watches_;
  WatchId nextId_ = 1;
};

}  // namespace qv
