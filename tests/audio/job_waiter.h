// Records an output's events from whatever thread fires them and lets a test
// wait for them with a generous deadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_classes.h"

namespace qv::test {

class JobWaiter {
 public:
  explicit JobWaiter(TAudioOutput& Output) : output_(Output) {
    Output.OnDone = [this](TAudioOutput*) {
      std::lock_guard lock(m_);
      ++done_;
      threads_.push_back(std::this_thread::get_id());
      cv_.notify_all();
    };
    Output.OnThreadException = [this](TAudioOutput*, const std::exception& e) {
      std::lock_guard lock(m_);
      errors_.push_back(e.what());
      threads_.push_back(std::this_thread::get_id());
      cv_.notify_all();
    };
    Output.OnProgress = [this, &Output](TAudioOutput*) {
      std::lock_guard lock(m_);
      progress_.push_back(Output.Progress());
    };
  }

  ~JobWaiter() {
    output_.OnDone = nullptr;
    output_.OnThreadException = nullptr;
    output_.OnProgress = nullptr;
  }
  JobWaiter(const JobWaiter&) = delete;
  JobWaiter& operator=(const JobWaiter&) = delete;

  // Waits until `Count` jobs have ended either way; false on timeout.
  bool WaitEnded(int Count, std::chrono::seconds Deadline = std::chrono::seconds(60)) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, Deadline, [&] { return done_ + int(errors_.size()) >= Count; });
  }
  int Done() {
    std::lock_guard lock(m_);
    return done_;
  }
  std::vector<std::string> Errors() {
    std::lock_guard lock(m_);
    return errors_;
  }
  std::vector<int> ProgressSeen() {
    std::lock_guard lock(m_);
    return progress_;
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard lock(m_);
    return threads_;
  }

 private:
  TAudioOutput& output_;
  std::mutex m_;
  std::condition_variable cv_;
  int done_ = 0;
  std::vector<std::string> errors_;
  std::vector<int> progress_;
  std::vector<std::thread::id> threads_;
};

// Polls `Condition` until it holds; false after the deadline.
template <class F>
bool WaitFor(F Condition, std::chrono::seconds Deadline = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + Deadline;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

// Runs one job to its end; the messages of OnThreadException, empty on success.
inline std::vector<std::string> RunJob(TAudioOutput& Output, TAudioInput& Input) {
  JobWaiter waiter(Output);
  Output.SetInput(&Input);
  Output.Run();
  if (!waiter.WaitEnded(1)) return {"job did not end"};
  if (!WaitFor([&] { return Output.Status() == TOutputStatus::osIdle; }))
    return {"output did not become idle"};
  return waiter.Errors();
}

// Runs one job and stops it once the input has delivered more than `StopAfter`
// bytes. A stopped job ends through OnDone, so the result is empty on success;
// otherwise it holds the messages of OnThreadException or what went wrong.
inline std::vector<std::string> RunAndStop(TAudioOutput& Output, TAudioInput& Input,
                                           int64_t StopAfter) {
  JobWaiter waiter(Output);
  Output.SetInput(&Input);
  Output.Run();
  if (!WaitFor([&] { return Input.Position > StopAfter; })) return {"job did not get far enough"};
  Output.Stop();
  if (!waiter.WaitEnded(1)) return {"job did not end"};
  if (waiter.Done() != 1) return waiter.Errors();
  if (!WaitFor([&] { return Output.Status() == TOutputStatus::osIdle; }))
    return {"output did not become idle"};
  return {};
}

}  // namespace qv::test
