#include "audio/audio_classes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "tests/audio/job_waiter.h"
#include "tests/audio/memory_input.h"

namespace qv {
namespace {

using test::JobWaiter;
using test::TMemoryInput;
using test::WaitFor;

// Copies whatever arrives into memory, as an encoder would into its file.
class TRecordingOutput : public TAudioOutput {
 public:
  explicit TRecordingOutput(TComponent* AOwner = nullptr) : TAudioOutput(AOwner) {}
  ~TRecordingOutput() override { StopWorker(); }

  bool FailPrepare = false;
  std::vector<uint8_t> Data;
  std::atomic<int> Prepares{0};
  std::atomic<int> Dones{0};
  std::atomic<int> Blocks{0};

 protected:
  bool DoOutput(bool Abort) override {
    if (auto r = BeginBlock(Abort)) return *r;
    uint8_t buffer[1000];
    const int n = ReadInput(buffer, sizeof buffer);
    if (n == 0) return false;
    ++Blocks;
    Data.insert(Data.end(), buffer, buffer + n);
    return true;
  }
  void Done() override {
    if (!open_) return;
    open_ = false;
    ++Dones;
    CloseInput();
  }
  void Prepare() override {
    ++Prepares;
    if (FailPrepare) throw EAudioException("File name is not assigned.");
    InitInput(Input());
    Data.clear();
    open_ = true;
  }

 private:
  bool open_ = false;
};

TEST(AudioOutput, DeliversEveryByteAndEndsOnTheWorker) {
  TMemoryInput input(test::MakePcm(5000));
  input.MaxChunk = 700;
  TRecordingOutput output;
  JobWaiter waiter(output);
  output.SetInput(&input);
  EXPECT_EQ(output.Status(), TOutputStatus::osIdle);
  output.Run();
  ASSERT_TRUE(waiter.WaitEnded(1));
  ASSERT_TRUE(WaitFor([&] { return output.Status() == TOutputStatus::osIdle; }));
  EXPECT_EQ(output.Data, input.Pcm());
  EXPECT_EQ(waiter.Done(), 1);
  EXPECT_TRUE(waiter.Errors().empty());
  EXPECT_EQ(output.Dones, 1);
  EXPECT_EQ(input.Flushes, 1);
  EXPECT_NE(waiter.Threads().at(0), std::this_thread::get_id());
  const auto progress = waiter.ProgressSeen();
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);

  // The next job on the same output reports its start: the bar leaves the
  // last job's 100 at once.
  output.Run();
  ASSERT_TRUE(waiter.WaitEnded(2));
  const auto next = waiter.ProgressSeen();
  ASSERT_GT(next.size(), progress.size());
  EXPECT_EQ(next[progress.size()], 0);
  EXPECT_EQ(next.back(), 100);
}

TEST(AudioOutput, ReadErrorEndsTheJobThroughThreadException) {
  TMemoryInput input(test::MakePcm(4000));
  input.MaxChunk = 1000;
  input.ReadErrorAt = 3000;
  TRecordingOutput output;
  JobWaiter waiter(output);
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(waiter.WaitEnded(1));
  ASSERT_TRUE(WaitFor([&] { return output.Status() == TOutputStatus::osIdle; }));
  EXPECT_EQ(waiter.Done(), 0);
  ASSERT_EQ(waiter.Errors().size(), 1u);
  EXPECT_EQ(waiter.Errors()[0], "Read error");
  EXPECT_NE(waiter.Threads().at(0), std::this_thread::get_id());
  EXPECT_EQ(output.Dones, 1);  // the file is closed
  EXPECT_EQ(input.Flushes, 1);
  EXPECT_EQ(output.Data.size(), 3000u);
}

// The job after a job must start even when Run comes while the worker is still
// finishing the previous one, with or without the worker suspending when idle.
TEST(AudioOutput, BackToBackJobsNeverHang) {
  for (const bool suspend : {true, false}) {
    SCOPED_TRACE(suspend);
    TMemoryInput input(test::MakePcm(600));
    input.MaxChunk = 1000;
    TRecordingOutput output;
    output.SetSuspendWhenIdle(suspend);
    JobWaiter waiter(output);
    output.SetInput(&input);
    const int jobs = suspend ? 600 : 20;
    for (int job = 1; job <= jobs; ++job) {
      output.Run();
      ASSERT_TRUE(WaitFor([&] { return output.Status() == TOutputStatus::osIdle; },
                          std::chrono::seconds(30)))
          << "job " << job << " hangs";
    }
    ASSERT_TRUE(waiter.WaitEnded(jobs));
    EXPECT_EQ(waiter.Done(), jobs);
    EXPECT_EQ(output.Prepares, jobs);
    EXPECT_EQ(output.Dones, jobs);
    EXPECT_EQ(output.Data, input.Pcm());
  }
}

// Silence that never ends.
class TEndlessInput : public TAudioInput {
 public:
  explicit TEndlessInput(TComponent* AOwner = nullptr) : TAudioInput(AOwner) {}
  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  int GetData(void* Buffer, int BufferSize) override {
    std::memset(Buffer, 0, size_t(BufferSize));
    return BufferSize;
  }
  void Init() override {
    Size = -1;
    Busy = true;
  }
  void Flush() override {
    Busy = false;
    ++Flushes;
  }
  std::atomic<int> Flushes{0};
};

// Passes its input through, halving every sample.
class THalfConverter : public TAudioConverter {
 public:
  THalfConverter() : TAudioConverter(nullptr) {}
  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  int GetData(void* Buffer, int BufferSize) override {
    std::lock_guard guard(InputLock);
    TAudioInput* const input = Input();
    const int n = input == nullptr ? 0 : input->GetData(Buffer, BufferSize & ~1);
    auto* s = static_cast<int16_t*>(Buffer);
    for (int i = 0; i < n / 2; ++i) s[i] = int16_t(s[i] / 2);
    Position += n;
    return n;
  }
  void Init() override {
    if (Input() != nullptr) Input()->Init();
    Position = 0;
    Size = Input() != nullptr ? Input()->Size.load() : -1;
    Busy = true;
  }
  void Flush() override {
    if (Input() != nullptr) Input()->Flush();
    Busy = false;
  }
};

// Opens the job-end helpers the encoders share to the test.
class TJobEndOutput : public TAudioOutput {
 public:
  TJobEndOutput() : TAudioOutput(nullptr) {}
  ~TJobEndOutput() override { StopWorker(); }
  using TAudioOutput::CloseInput;
  using TAudioOutput::InitInput;
  using TAudioOutput::KeepFirstFailure;

 protected:
  bool DoOutput(bool) override { return false; }
  void Done() override {}
  void Prepare() override {}
};

class TFailingFlushInput : public TMemoryInput {
 public:
  using TMemoryInput::TMemoryInput;
  void Flush() override {
    TMemoryInput::Flush();
    throw EAudioException("The drive is not ready");
  }
};

}  // namespace
}  // namespace qv
