#include "platform/msg/fd_watch.h"

#include <algorithm>
#include <exception>

#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"

namespace qv {

struct FdWatchList::Watch {
  WatchId id = 0;
  int fd = -1;
  short events = 0;
  FdCallback callback;
  FdBufferedCheck buffered;
  bool running = false;
  bool removed = false;
};

WatchId WatchFd(int fd, short events, FdCallback callback, FdBufferedCheck buffered) {
  return MessageQueue::Current().Watches().Add(fd, events, std::move(callback),
                                               std::move(buffered));
}

bool SetFdEvents(WatchId id, short events) {
  return MessageQueue::Current().Watches().SetEvents(id, events);
}

bool UnwatchFd(WatchId id) {
  return MessageQueue::Current().Watches().Remove(id);
}

WatchId FdWatchList::Add(int fd, short events, FdCallback callback, FdBufferedCheck buffered) {
  auto watch = std::make_shared<Watch>();
  watch->id = nextId_++;
  watch->fd = fd;
  watch->events = events;
  watch->callback = std::move(callback);
  watch->buffered = std::move(buffered);
  watches_.push_back(std::move(watch));
  return watches_.back()->id;
}

bool FdWatchList::SetEvents(WatchId id, short events) {
  for (const auto& watch : watches_) {
    if (watch->id == id) {
      watch->events = events;
      return true;
    }
  }
  return false;
}

bool FdWatchList::Remove(WatchId id) {
  const auto it = std::find_if(watches_.begin(), watches_.end(),
                               [id](const auto& watch) { return watch->id == id; });
  if (it == watches_.end()) return false;
  // A poll set in progress may still hold it; the flag keeps its callback from running.
  (*it)->removed = true;
  watches_.erase(it);
  return true;
}

void FdWatchList::Clear() {
  for (const auto& watch : watches_) watch->removed = true;
  watches_.clear();
}

void FdWatchList::Prepare(PollSet& set) const {
  set.first = set.fds.size();
  for (const auto& watch : watches_) {
    if (watch->running) continue;
    const bool buffered = watch->buffered && watch->buffered();
    if (watch->events == 0 && !buffered) continue;
    set.fds.push_back(pollfd{watch->fd, watch->events, 0});
    set.watches.push_back(watch);
    set.buffered = set.buffered || buffered;
  }
}

void FdWatchList::Dispatch(const PollSet& set) {
  for (std::size_t i = 0; i < set.watches.size(); ++i) {
    const auto& watch = set.watches[i];
    short revents = set.fds[set.first + i].revents;
    if (revents == 0 && watch->buffered && !watch->removed && watch->buffered()) revents = POLLIN;
    if (revents == 0 || watch->removed || watch->running) continue;
    // A closed descriptor would report POLLNVAL on every poll; pause the watch so a
    // careless owner costs one callback, not a busy loop.
    if ((revents & POLLNVAL) != 0) watch->events = 0;
    watch->running = true;
    try {
      watch->callback(watch->fd, revents);
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
    watch->running = false;
  }
}

}  // namespace qv
