// Threads with a plain start/stop/wait contract, a waitable event and a lock.
//
// TThread: derive, override Execute, call Start. Execute should return soon after
// Terminated() becomes true; TerminatedSet is the hook to wake it from a wait, and
// WaitForTerminate(timeout) is a ready-made interruptible wait. An exception that
// escapes Execute is kept in FatalException. OnTerminate fires on the worker thread
// as the last thing it does, and must not destroy the thread object. A derived class must stop the
// thread (Stop) in its own destructor, because Execute may use the derived members; ~TThread stops
// it as a last resort. The methods may be called from any thread except WaitFor/Stop from the
// worker itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/base/exception.h"

namespace qv {

class EThread : public Exception {
 public:
  using Exception::Exception;
};

enum TWaitResult { wrSignaled, wrTimeout };

// A timeout that never runs out.
constexpr std::chrono::milliseconds kInfiniteWait = std::chrono::milliseconds::max();

// An event as the platform has one: manual-reset (stays set until ResetEvent) or
// auto-reset (one waiter takes it and it resets). Safe from any thread.
class TEvent {
 public:
  explicit TEvent(bool manual_reset = true, bool initial_state = false)
      : manual_reset_(manual_reset), signaled_(initial_state) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits until the event is set or the timeout passes.
  TWaitResult WaitFor(std::chrono::milliseconds timeout);
  void WaitFor();
  [[nodiscard]] bool IsSet();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool manual_reset_;
  bool signaled_;
};

// std::mutex with the class library's names; usable with std::lock_guard.
class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  void Acquire() { mutex_.lock(); }
  void Release() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  bool try_lock() { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

class TThread {
 public:
  // The thread is not running until Start.
  TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  virtual ~TThread();

  // Starts the thread; throws EThread "Thread already started" the second time.
  void Start();
  // Asks Execute to finish: sets Terminated and calls TerminatedSet. Idempotent.
  void Terminate();
  [[nodiscard]] bool Terminated() const;
  // Blocks until Execute has returned and OnTerminate has run (at once if the thread
  // was never started). Returns ReturnValue. Throws EThread when called from the
  // worker thread itself.
  int WaitFor();
  // As WaitFor with a limit; false on timeout.
  bool WaitFor(std::chrono::milliseconds timeout);
  // Terminate, then WaitFor.
  void Stop();

  [[nodiscard]] bool Started() const;
  [[nodiscard]] bool Finished() const;
  [[nodiscard]] std::exception_ptr FatalException() const;
  [[nodiscard]] int ReturnValue() const;
  [[nodiscard]] std::thread::id ThreadID() const;

  // Fires on the worker thread after Execute. Set before Start.
  std::function<void(TThread&)> OnTerminate;

 protected:
  virtual void Execute() = 0;
  // Called by Terminate on the calling thread (outside any lock of TThread).
  virtual void TerminatedSet() {}
  // From Execute: waits up to `timeout`; true when Terminate was called.
  bool WaitForTerminate(std::chrono::milliseconds timeout);
  void SetReturnValue(int value);

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable cv_;  // Terminate and the end of Run
  bool started_ = false;
  bool terminated_ = false;
  bool finished_ = false;
  int return_value_ = 0;
  std::exception_ptr fatal_;
  std::thread::id id_;
  std::mutex join_mutex_;  // guards thread_: Start and joining from several waiters
  std::thread thread_;
};

}  // namespace qv
