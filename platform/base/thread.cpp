#include "platform/base/thread.h"

#include <cstdio>
#include <cstdlib>

namespace qv {
namespace {

// wait_for adds the timeout to the clock's now, which overflows for huge values;
// anything beyond a year waits without a limit.
template <class Predicate>
bool WaitWithTimeout(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                     std::chrono::milliseconds timeout, Predicate ready) {
  if (timeout >= std::chrono::hours(24 * 366)) {
    cv.wait(lock, ready);
    return true;
  }
  if (timeout.count() < 0) timeout = std::chrono::milliseconds(0);
  return cv.wait_for(lock, timeout, ready);
}

}  // namespace

// --- TEvent --------------------------------------------------------------------

void TEvent::SetEvent() {
  {
    std::lock_guard lock(mutex_);
    signaled_ = true;
  }
  if (manual_reset_) {
    cv_.notify_all();
  } else {
    cv_.notify_one();
  }
}

void TEvent::ResetEvent() {
  std::lock_guard lock(mutex_);
  signaled_ = false;
}

TWaitResult TEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!WaitWithTimeout(cv_, lock, timeout, [this] { return signaled_; })) return wrTimeout;
  if (!manual_reset_) signaled_ = false;
  return wrSignaled;
}

void TEvent::WaitFor() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return signaled_; });
  if (!manual_reset_) signaled_ = false;
}

bool TEvent::IsSet() {
  std::lock_guard lock(mutex_);
  return signaled_;
}

// --- TThread -------------------------------------------------------------------

TThread::~TThread() {
  // Last resort: a derived class should have stopped the thread already, since
  // Execute may use members that are gone by now.
  if (std::this_thread::get_id() == ThreadID()) {
    // Destroyed from its own Execute or OnTerminate: it cannot join itself, and the
    // code after those calls would touch freed memory.
    std::fputs("qv::TThread destroyed by its own thread\n", stderr);
    std::abort();
  }
  Stop();
}

void TThread::Start() {
  std::lock_guard join_lock(join_mutex_);
  std::lock_guard lock(mutex_);
  if (started_) throw EThread("Thread already started");
  thread_ = std::thread([this] { Run(); });
  id_ = thread_.get_id();
  started_ = true;
}

void TThread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  cv_.notify_all();
  TerminatedSet();
}

bool TThread::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

int TThread::WaitFor() {
  if (std::this_thread::get_id() == ThreadID())
    throw EThread("Cannot call WaitFor on the current thread");
  {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return !started_ || finished_; });
  }
  std::lock_guard join_lock(join_mutex_);
  if (thread_.joinable()) thread_.join();
  return ReturnValue();
}

bool TThread::WaitFor(std::chrono::milliseconds timeout) {
  if (std::this_thread::get_id() == ThreadID())
    throw EThread("Cannot call WaitFor on the current thread");
  {
    std::unique_lock lock(mutex_);
    if (!WaitWithTimeout(cv_, lock, timeout, [this] { return !started_ || finished_; }))
      return false;
  }
  std::lock_guard join_lock(join_mutex_);
  if (thread_.joinable()) thread_.join();
  return true;
}

void TThread::Stop() {
  Terminate();
  WaitFor();
}

bool TThread::Started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

bool TThread::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard lock(mutex_);
  return fatal_;
}

int TThread::ReturnValue() const {
  std::lock_guard lock(mutex_);
  return return_value_;
}

std::thread::id TThread::ThreadID() const {
  std::lock_guard lock(mutex_);
  return id_;
}

bool TThread::WaitForTerminate(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return WaitWithTimeout(cv_, lock, timeout, [this] { return terminated_; });
}

void TThread::SetReturnValue(int value) {
  std::lock_guard lock(mutex_);
  return_value_ = value;
}

void TThread::Run() {
  std::exception_ptr fatal;
  try {
    Execute();
  } catch (...) {
    fatal = std::current_exception();
  }
  {
    std::lock_guard lock(mutex_);
    fatal_ = fatal;
  }
  if (OnTerminate) {
    try {
      OnTerminate(*this);
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!fatal_) fatal_ = std::current_exception();
    }
  }
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  cv_.notify_all();
}

}  // namespace qv
