#include "platform/msg/message_queue.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/msg/pump.h"
#include "platform/msg/window.h"

namespace qv {

// A message one thread sends to a window of another and waits for.
struct SentMessage {
  MSG msg;
  std::shared_ptr<MessageQueue> sender;  // woken when the answer is there
  LRESULT result = 0;                    // written before `finished`
  bool answered = false;                 // written before `finished`
  std::atomic<bool> finished{false};
};

namespace {

void Finish(const std::shared_ptr<SentMessage>& sent, bool answered, LRESULT result) {
  sent->result = result;
  sent->answered = answered;
  sent->finished.store(true, std::memory_order_release);
  sent->sender->Wake();
}

// Every thread's queue, for PostThreadMessage. Never destroyed: threads may end after main.
struct ThreadTable {
  std::mutex mutex;
  std::unordered_map<std::thread::id, std::weak_ptr<MessageQueue>> queues;
};

ThreadTable& Threads() {
  static auto* const table = new ThreadTable;
  return *table;
}

// Closes the thread's queue when the thread ends.
struct QueueHolder {
  std::shared_ptr<MessageQueue> queue;
  ~QueueHolder() {
    if (queue) queue->Close();
  }
};

thread_local QueueHolder currentQueue;

int MillisecondsUntil(std::chrono::steady_clock::duration left) {
  if (left <= left.zero()) return 0;
  // Round up so that a wait never ends just before its due time and spins.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return int(std::min<std::int64_t>(ms, INT_MAX));
}

}  // namespace

MessageQueue& MessageQueue::Current() {
  if (!currentQueue.queue) {
    auto queue = std::make_shared<MessageQueue>(std::this_thread::get_id());
    auto& table = Threads();
    const std::lock_guard lock(table.mutex);
    table.queues[queue->ThreadId()] = queue;
    currentQueue.queue = std::move(queue);
  }
  return *currentQueue.queue;
}

std::shared_ptr<MessageQueue> MessageQueue::ForThread(std::thread::id thread) {
  auto& table = Threads();
  const std::lock_guard lock(table.mutex);
  const auto it = table.queues.find(thread);
  return it == table.queues.end() ? nullptr : it->second.lock();
}

MessageQueue::MessageQueue(std::thread::id owner)
    : owner_(owner), clock_(SteadyClock::Instance()) {}

MessageQueue::~MessageQueue() = default;

bool MessageQueue::Post(const MSG& msg) {
  const std::lock_guard lock(mutex_);
  if (closed_) return false;
  posted_.push_back(msg);
  WakeLocked();
  return true;
}

void MessageQueue::Wake() {
  const std::lock_guard lock(mutex_);
  WakeLocked();
}

void MessageQueue::WakeLocked() {
  wakePending_ = true;
  // Only a thread inside poll needs the descriptor; one write is enough to get it out.
  if (waiting_) {
    waiting_ = false;
    wakeup_.Signal();
  }
}

bool MessageQueue::SetTimer(HWND hwnd, std::uintptr_t id, Clock::Duration interval) {
  const std::lock_guard lock(mutex_);
  if (closed_) return false;
  timers_.Set(hwnd, id, interval, clock_->Now());
  WakeLocked();  // the owner may be sleeping towards a later timer
  return true;
}

bool MessageQueue::KillTimer(HWND hwnd, std::uintptr_t id) {
  const std::lock_guard lock(mutex_);
  return timers_.Kill(hwnd, id);
}

void MessageQueue::PurgeWindow(HWND hwnd) {
  std::vector<std::shared_ptr<SentMessage>> orphans;
  {
    const std::lock_guard lock(mutex_);
    std::erase_if(posted_, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
    timers_.PurgeWindow(hwnd);
    for (auto it = sent_.begin(); it != sent_.end();) {
      if ((*it)->msg.hwnd == hwnd) {
        orphans.push_back(std::move(*it));
        it = sent_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& sent : orphans) Finish(sent, false, 0);
}

bool MessageQueue::Enqueue(const std::shared_ptr<SentMessage>& sent) {
  const std::lock_guard lock(mutex_);
  if (closed_) return false;
  sent_.push_back(sent);
  WakeLocked();
  return true;
}

bool MessageQueue::Withdraw(const std::shared_ptr<SentMessage>& sent) {
  const std::lock_guard lock(mutex_);
  const auto it = std::find(sent_.begin(), sent_.end(), sent);
  if (it == sent_.end()) return false;
  sent_.erase(it);
  return true;
}

void MessageQueue::ServeSentMessages() {
  for (;;) {
    std::shared_ptr<SentMessage> sent;
    {
      const std::lock_guard lock(mutex_);
      if (sent_.empty()) return;
      sent = std::move(sent_.front());
      sent_.pop_front();
    }
    LRESULT result = 0;
    bool answered = false;
    try {
      answered = CallWindowChain(sent->msg.hwnd, sent->msg.message, sent->msg.wParam,
                                 sent->msg.lParam, result);
    } catch (...) {
      // The window did get the message; its failure is this thread's to report.
      answered = true;
      result = 0;
      HandleApplicationException(std::current_exception());
    }
    Finish(sent, answered, result);
  }
}

void MessageQueue::PollWatches() {
  FdWatchList::PollSet set;
  watches_.Prepare(set);
  if (set.fds.empty()) return;
  int ready = 0;
  do {
    ready = ::poll(set.fds.data(), set.fds.size(), 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) throw std::system_error(errno, std::generic_category(), "poll");
  if (ready > 0 || set.buffered) watches_.Dispatch(set);
}

bool MessageQueue::Peek(MSG& msg, UINT remove) {
  ServeSentMessages();
  if (!watches_.Empty()) PollWatches();
  const bool take = (remove & PM_REMOVE) != 0;
  {
    const std::lock_guard lock(mutex_);
    if (!posted_.empty()) {
      msg = posted_.front();
      if (take) posted_.pop_front();
      return true;
    }
  }
  // Outside the lock: the handler may post, send or replace itself (the copy keeps it
  // alive meanwhile).
  if (const auto idle = idle_; idle && (*idle)(msg, take)) return true;
  const std::lock_guard lock(mutex_);
  if (quit_) {
    msg = MSG{0, WM_QUIT, WPARAM(*quit_), 0};
    if (take) quit_.reset();
    return true;
  }
  if (auto timer = timers_.TakeDue(clock_->Now(), take)) {
    msg = *timer;
    return true;
  }
  return false;
}

MessageQueue::IdleHandler MessageQueue::SetIdleHandler(IdleHandler handler) {
  auto old = std::exchange(
      idle_, handler ? std::make_shared<const IdleHandler>(std::move(handler)) : nullptr);
  return old ? *old : nullptr;
}

void MessageQueue::PostQuit(int exitCode) {
  const std::lock_guard lock(mutex_);
  quit_ = exitCode;
  WakeLocked();
}

bool MessageQueue::QuitPending() const {
  const std::lock_guard lock(mutex_);
  return quit_.has_value();
}

bool MessageQueue::HasWorkLocked(WaitFor what) const {
  switch (what) {
    case WaitFor::Anything: {
      if (!posted_.empty() || !sent_.empty() || quit_) return true;
      const auto due = timers_.NextDue();
      return due && *due <= clock_->Now();
    }
    case WaitFor::SentMessages:
      return !sent_.empty();
    case WaitFor::WakeOnly:
      return false;
  }
  return false;
}

int MessageQueue::PollTimeoutLocked(const Deadline& deadline, WaitFor what) const {
  int timeout = -1;
  if (deadline) timeout = MillisecondsUntil(*deadline - std::chrono::steady_clock::now());
  if (what == WaitFor::Anything) {
    if (const auto due = timers_.NextDue()) {
      if (const auto left = clock_->RealTimeUntil(*due)) {
        const int ms = MillisecondsUntil(*left);
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
      }
    }
  }
  return timeout;
}

void MessageQueue::Wait(const Deadline& deadline, WaitFor what) {
  int timeout = -1;
  {
    const std::lock_guard lock(mutex_);
    if (wakePending_ || HasWorkLocked(what)) {
      wakePending_ = false;
      return;
    }
    timeout = PollTimeoutLocked(deadline, what);
    if (timeout == 0) return;
    waiting_ = true;
  }
  FdWatchList::PollSet set;
  set.fds.push_back(pollfd{wakeup_.Fd(), POLLIN, 0});
  if (what == WaitFor::Anything) watches_.Prepare(set);
  const int ready = ::poll(set.fds.data(), set.fds.size(), set.buffered ? 0 : timeout);
  const int pollError = ready < 0 ? errno : 0;
  {
    const std::lock_guard lock(mutex_);
    waiting_ = false;
    wakePending_ = false;
  }
  if ((set.fds[0].revents & POLLIN) != 0) wakeup_.Drain();
  // EINTR is no different from a spurious wake: the caller looks again. Any other
  // failure would make every caller spin, so it is reported instead.
  if (pollError != 0 && pollError != EINTR) {
    throw std::system_error(pollError, std::generic_category(), "poll");
  }
  if (ready > 0 || set.buffered) watches_.Dispatch(set);
}

void MessageQueue::SetClock(std::shared_ptr<Clock> clock) {
  std::shared_ptr<Clock> old;
  {
    const std::lock_guard lock(mutex_);
    old = std::exchange(clock_, clock);
    timers_.Rebase(old->Now(), clock_->Now());
    WakeLocked();
  }
  old->Detach(this);
  clock->Attach(weak_from_this());
}

void MessageQueue::Close() {
  window_registry::DestroyWindowsOf(this);
  std::deque<std::shared_ptr<SentMessage>> orphans;
  std::shared_ptr<Clock> clock;
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    posted_.clear();
    timers_.Clear();
    quit_.reset();
    orphans.swap(sent_);
    clock = clock_;
  }
  for (const auto& sent : orphans) Finish(sent, false, 0);
  clock->Detach(this);
  watches_.Clear();
  idle_.reset();
  auto& table = Threads();
  const std::lock_guard lock(table.mutex);
  const auto it = table.queues.find(owner_);
  if (it != table.queues.end() && it->second.lock().get() == this) table.queues.erase(it);
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Under the registry's shared lock: a window destroyed meanwhile purges this post.
  const window_registry::LiveWindow live(hwnd);
  return live.Queue() != nullptr && live.Queue()->Post(MSG{hwnd, message, wParam, lParam});
}

bool PostThreadMessage(std::thread::id thread, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto queue = MessageQueue::ForThread(thread);
  return queue && queue->Post(MSG{0, message, wParam, lParam});
}

void PostQuitMessage(int exitCode) {
  MessageQueue::Current().PostQuit(exitCode);
}

namespace {

bool SendAndWait(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                 const MessageQueue::Deadline& deadline, LRESULT& result) {
  auto& self = MessageQueue::Current();
  if (GetWindowThreadId(hwnd) == self.ThreadId()) {
    return CallWindowChain(hwnd, message, wParam, lParam, result);
  }
  auto sent = std::make_shared<SentMessage>();
  sent->msg = MSG{hwnd, message, wParam, lParam};
  sent->sender = self.shared_from_this();
  std::shared_ptr<MessageQueue> target;
  {
    const window_registry::LiveWindow live(hwnd);
    if (live.Queue() == nullptr || !live.Queue()->Enqueue(sent)) return false;
    target = live.Queue()->shared_from_this();
  }
  const bool block = (flags & SMTO_BLOCK) != 0;
  const auto answer = [&] {
    result = sent->answered ? sent->result : 0;
    return sent->answered;
  };
  for (;;) {
    if (sent->finished.load(std::memory_order_acquire)) return answer();
    if (!block) {
      self.ServeSentMessages();
      if (sent->finished.load(std::memory_order_acquire)) return answer();
    }
    if (deadline && std::chrono::steady_clock::now() >= *deadline) {
      if (target->Withdraw(sent)) return false;
      // Too late to withdraw: it is being handled, and the answer may be in already.
      if (sent->finished.load(std::memory_order_acquire)) return answer();
      return false;
    }
    self.Wait(deadline,
              block ? MessageQueue::WaitFor::WakeOnly : MessageQueue::WaitFor::SentMessages);
  }
}

}  // namespace

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  SendAndWait(hwnd, message, wParam, lParam, SMTO_NORMAL, std::nullopt, result);
  return result;
}

bool SendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                        std::chrono::milliseconds timeout, LRESULT* result) {
  LRESULT answer = 0;
  const bool ok = SendAndWait(hwnd, message, wParam, lParam, flags,
                              std::chrono::steady_clock::now() + timeout, answer);
  if (result != nullptr) *result = answer;
  return ok;
}

std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, UINT ms) {
  const window_registry::LiveWindow live(hwnd);
  if (live.Queue() == nullptr) return 0;
  if (!live.Queue()->SetTimer(hwnd, id, std::chrono::milliseconds(ms))) return 0;
  return id != 0 ? id : 1;
}

bool KillTimer(HWND hwnd, std::uintptr_t id) {
  const window_registry::LiveWindow live(hwnd);
  return live.Queue() != nullptr && live.Queue()->KillTimer(hwnd, id);
}

}  // namespace qv
