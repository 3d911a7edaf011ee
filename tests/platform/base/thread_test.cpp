#include "platform/base/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv {
namespace {

using namespace std::chrono_literals;

// Generous: these waits end as soon as the condition holds; the limit only turns a
// hang into a failure.
constexpr auto kDeadline = 30s;

// Works in steps until terminated; each step waits on the terminate signal.
class Worker final : public TThread {
 public:
  ~Worker() override { Stop(); }
  std::atomic<int> steps{0};
  TEvent first_step;

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++steps;
      first_step.SetEvent();
      if (WaitForTerminate(10ms)) break;
    }
    SetReturnValue(steps.load());
  }
};

class Thrower final : public TThread {
 public:
  ~Thrower() override { Stop(); }

 protected:
  void Execute() override { throw std::runtime_error("boom"); }
};

// Waits on its own condition; Terminate must wake it through TerminatedSet.
class Sleeper final : public TThread {
 public:
  ~Sleeper() override { Stop(); }
  TEvent waiting;

 protected:
  void Execute() override {
    waiting.SetEvent();
    wake_.WaitFor();  // no timeout: only TerminatedSet can end this
  }
  void TerminatedSet() override { wake_.SetEvent(); }

 private:
  TEvent wake_;
};

TEST(TThreadTest, StartTerminateWaitFor) {
  Worker w;
  std::atomic<int> terminated_calls{0};
  std::thread::id on_terminate_thread;
  w.OnTerminate = [&](TThread& t) {
    ++terminated_calls;
    on_terminate_thread = std::this_thread::get_id();
    EXPECT_TRUE(t.Terminated());
  };
  w.Start();
  EXPECT_THROW(w.Start(), EThread);
  ASSERT_EQ(w.first_step.WaitFor(kDeadline), wrSignaled);
  EXPECT_TRUE(w.Started());
  w.Terminate();
  w.Terminate();  // idempotent
  const int result = w.WaitFor();
  EXPECT_TRUE(w.Finished());
  EXPECT_GE(result, 1);
  EXPECT_EQ(result, w.ReturnValue());
  EXPECT_EQ(terminated_calls.load(), 1);
  EXPECT_EQ(on_terminate_thread, w.ThreadID());  // fired on the worker
  EXPECT_NE(on_terminate_thread, std::this_thread::get_id());
  EXPECT_EQ(w.FatalException(), nullptr);
  EXPECT_EQ(w.WaitFor(), result);  // again: returns at once
}

TEST(TThreadTest, TerminateWakesAWaitingExecute) {
  Sleeper s;
  s.Start();
  ASSERT_EQ(s.waiting.WaitFor(kDeadline), wrSignaled);
  s.Terminate();
  EXPECT_TRUE(s.WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(kDeadline)));
}

TEST(TThreadTest, DestroyingARunningThreadStopsIt) {
  std::atomic<bool> ended{false};
  {
    Worker w;
    w.OnTerminate = [&](TThread&) { ended = true; };
    w.Start();
    ASSERT_EQ(w.first_step.WaitFor(kDeadline), wrSignaled);
  }
  EXPECT_TRUE(ended.load());
}

TEST(TEventTest, ManualAndAutoReset) {
  TEvent manual(true, false);
  EXPECT_EQ(manual.WaitFor(0ms), wrTimeout);
  manual.SetEvent();
  EXPECT_EQ(manual.WaitFor(0ms), wrSignaled);
  EXPECT_EQ(manual.WaitFor(0ms), wrSignaled);  // stays set
  manual.ResetEvent();
  EXPECT_FALSE(manual.IsSet());

  manual.SetEvent();
  EXPECT_EQ(manual.WaitFor(kInfiniteWait), wrSignaled);  // no overflow in the deadline
  EXPECT_EQ(manual.WaitFor(std::chrono::milliseconds(-5)), wrSignaled);

  TEvent automatic(false, true);
  EXPECT_EQ(automatic.WaitFor(0ms), wrSignaled);
  EXPECT_EQ(automatic.WaitFor(0ms), wrTimeout);  // taken by the first waiter
}

TEST(TEventTest, WakesAWaiterOnAnotherThread) {
  TEvent go(false, false);
  TEvent back(true, false);
  std::thread t([&] {
    if (go.WaitFor(kDeadline) == wrSignaled) back.SetEvent();
  });
  go.SetEvent();
  EXPECT_EQ(back.WaitFor(kDeadline), wrSignaled);
  t.join();
}

}  // namespace
}  // namespace qv
