// Each thread's message queue, created the first time the thread needs one and closed
// when the thread ends (its windows go with it). Other threads reach a queue only to
// post, send, wake it or change its timers; retrieval, fd watches and waiting belong to
// the owning thread. The free functions below are the platform's posting interface.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/msg/clock.h"
#include "platform/msg/event_fd.h"
#include "platform/msg/fd_watch.h"
#include "platform/msg/messages.h"
#include "platform/msg/timer_list.h"

namespace qv {

struct SentMessage;

class MessageQueue : public std::enable_shared_from_this<MessageQueue> {
 public:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  // The calling thread's queue, created on first use.
  static MessageQueue& Current();
  // The queue of a thread that has one and has not ended; null otherwise.
  static std::shared_ptr<MessageQueue> ForThread(std::thread::id thread);

  explicit MessageQueue(std::thread::id owner);
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;
  ~MessageQueue();

  [[nodiscard]] std::thread::id ThreadId() const { return owner_; }

  // Any thread. False once the owning thread has ended.
  bool Post(const MSG& msg);
  // Any thread: makes a current or the next wait of the owner return.
  void Wake();
  // Any thread; the caller has checked that the window belongs to this queue.
  bool SetTimer(HWND hwnd, std::uintptr_t id, Clock::Duration interval);
  bool KillTimer(HWND hwnd, std::uintptr_t id);
  // Drops what is queued for a window that is going away; its senders get no answer.
  void PurgeWindow(HWND hwnd);
  // Hands a message sent from another thread to this queue; false once closed.
  bool Enqueue(const std::shared_ptr<SentMessage>& sent);
  // Takes back a sent message nobody has started to handle; false if it is too late.
  bool Withdraw(const std::shared_ptr<SentMessage>& sent);

  // Owning thread only. Handles the messages other threads sent, then the ready
  // descriptors, then takes a posted message, the idle handler's message, WM_QUIT or a
  // due WM_TIMER in that order.
  bool Peek(MSG& msg, UINT remove);
  // Owning thread only: see qv::SetIdleHandler.
  using IdleHandler = std::function<bool(MSG& msg, bool remove)>;
  IdleHandler SetIdleHandler(IdleHandler handler);
  // Owning thread only. Serves the messages other threads sent and waiting senders.
  void ServeSentMessages();
  // What ends a wait of the owning thread besides the deadline and an explicit Wake.
  enum class WaitFor {
    Anything,      // posted or sent messages, WM_QUIT, due timers, ready watches (run)
    SentMessages,  // only messages other threads send (a thread waiting in SendMessage)
    WakeOnly,      // nothing but Wake (SendMessageTimeout with SMTO_BLOCK)
  };
  // Owning thread only. Sleeps in poll, never spinning, until one of `what` may be
  // there or the deadline passes. May return early; callers re-check their condition.
  void Wait(const Deadline& deadline, WaitFor what = WaitFor::Anything);
  void PostQuit(int exitCode);
  // Any thread: a WM_QUIT waits to be taken.
  [[nodiscard]] bool QuitPending() const;

  FdWatchList& Watches() { return watches_; }
  // Replaces the time source of this queue's timers (tests use a `FakeClock`).
  void SetClock(std::shared_ptr<Clock> clock);

  // Called when the owning thread ends: destroys its windows and refuses new messages.
  void Close();

 private:
  [[nodiscard]] bool HasWorkLocked(WaitFor what) const;
  [[nodiscard]] int PollTimeoutLocked(const Deadline& deadline, WaitFor what) const;
  void WakeLocked();
  void PollWatches();

  const std::thread::id owner_;
  EventFd wakeup_;
  FdWatchList watches_;                      // owning thread only
  std::shared_ptr<const IdleHandler> idle_;  // owning thread only

  mutable std::mutex mutex_;
  // Guarded by `mutex_`.
  std::deque<MSG> posted_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  TimerList timers_;
  std::shared_ptr<Clock> clock_;
  std::optional<int> quit_;
  bool waiting_ = false;
  bool wakePending_ = false;
  bool closed_ = false;
};

// Posts to the queue of the window's thread; false when the window does not exist.
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Posts a message without a window (hwnd 0) to a thread that has a queue.
bool PostThreadMessage(std::thread::id thread, UINT message, WPARAM wParam, LPARAM lParam);
// Asks the calling thread's loop to end: GetMessage answers false once the posted
// messages before it are handled.
void PostQuitMessage(int exitCode);

// Calls the window's procedure and returns its answer: directly on the window's own
// thread (an exception then reaches the caller), otherwise by handing the message to
// that thread and waiting for it. A waiting thread keeps handling messages sent to it,
// so two threads sending to each other do not lock up. 0 when the window is gone.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// As SendMessage, giving up after `timeout`. False when the window is gone, the time
// ran out or the window's thread ended; a message not yet started is then withdrawn.
// SMTO_BLOCK keeps the waiting thread from handling messages sent to it meanwhile.
bool SendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                        std::chrono::milliseconds timeout, LRESULT* result);

// Starts or restarts timer `id` of a window: WM_TIMER (wParam = id) every `ms`
// milliseconds, delivered only when no posted message waits, one at a time. Nonzero on
// success, 0 when the window does not exist.
std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, UINT ms);
bool KillTimer(HWND hwnd, std::uintptr_t id);

}  // namespace qv
