// The audio pipeline: an input delivers raw PCM, an output pulls it through an
// encoder on its own worker thread. One output object serves job after job.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/component.h"
#include "platform/base/exception.h"
#include "platform/base/streams.h"

namespace qv {

class EAudioException : public Exception {
 public:
  using Exception::Exception;
};

enum class TOutputStatus : uint8_t { osRunning = 0, osPaused = 1, osIdle = 2 };
enum class TFileOutputMode : uint8_t { foRewrite = 0, foAppend = 1 };

// Abstract source of interleaved little-endian PCM.
class TAudioInput : public TComponent {
 public:
  explicit TAudioInput(TComponent* AOwner) : TComponent(AOwner) {}

  // Bytes delivered since Init; read by the owner's thread while the worker reads data.
  std::atomic<int64_t> Position{0};
  // Bytes the job will deliver; -1 when unknown.
  std::atomic<int64_t> Size{0};
  std::atomic<bool> Busy{false};
  // First unread and end position in the input's own chunk buffer (1-based).
  int BufStart = 1;
  int BufEnd = 0;

  virtual int GetBitsPerSample() = 0;
  virtual int GetChannels() = 0;
  virtual int GetSampleRate() = 0;
  virtual int ReservedQuery() { return 0; }
  // Copies up to BufferSize bytes; 0 means the end of the data.
  virtual int GetData(void* Buffer, int BufferSize) = 0;
  // Like GetData, but points Data at the bytes instead of copying them where the input holds
  // them in a buffer of its own; they stay there until the input's next read or Flush. Others
  // copy them into Scratch (BufferSize bytes) and point Data there.
  virtual int GetDataInPlace(const void*& Data, int BufferSize, void* Scratch) {
    Data = Scratch;
    return GetData(Scratch, BufferSize);
  }
  // Flush, swallowing its failure, and leave the input not busy.
  virtual void Reset();
  virtual void Init() = 0;
  virtual void Flush() = 0;
};

// An input that reads another input. Nothing concrete is built on it here;
// outputs treat chains of them correctly.
class TAudioConverter : public TAudioInput {
 public:
  using TAudioInput::TAudioInput;
  [[nodiscard]] TAudioInput* Input() const { return input_.load(); }
  virtual void SetInput(TAudioInput* Value);

 protected:
  // Held around each read of Input and around an input swap.
  std::mutex InputLock;
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  std::atomic<TAudioInput*> input_{nullptr};
};

class TAudioOutput;
using TOutputDoneEvent = std::function<void(TAudioOutput* Sender)>;
using TOutputProgressEvent = std::function<void(TAudioOutput* Sender)>;
using TThreadExceptionEvent = std::function<void(TAudioOutput* Sender, const std::exception& E)>;

// The worker of one output. Idle, it waits on a condition variable for the
// next job; a job handed over while it is still finishing the last one is
// never lost.
class TAudioThread {
 public:
  TAudioThread(std::function<bool(bool Abort)> DoOutput, std::function<void()> OnDone,
               std::function<void(const std::exception& E)> HandleException);
  TAudioThread(const TAudioThread&) = delete;
  TAudioThread& operator=(const TAudioThread&) = delete;
  ~TAudioThread();

  std::atomic<bool> SuspendWhenIdle{true};
  // The abort request of the running job.
  std::atomic<bool> Stop{false};

  // Hands the worker a job.
  void Resume();
  // True while the worker waits for a job.
  [[nodiscard]] bool Suspended() const { return suspended_.load(); }
  // Ends the loop after the current block and joins the worker.
  void Terminate();

 private:
  void Execute();
  void RunJob();

  std::function<bool(bool)> doOutput_;
  std::function<void()> onDone_;
  std::function<void(const std::exception&)> handleException_;

  std::mutex lock_;
  std::condition_variable wake_;
  bool pending_ = false;
  std::atomic<bool> terminating_{false};
  std::atomic<bool> suspended_{true};
  std::thread thread_;
};

// Abstract sink. Each concrete output must call StopWorker() first thing in
// its destructor, while its own state still exists.
class TAudioOutput : public TComponent {
 public:
  explicit TAudioOutput(TComponent* AOwner);
  ~TAudioOutput() override;

  [[nodiscard]] TAudioInput* Input() const { return input_.load(); }
  virtual void SetInput(TAudioInput* Value);

  TOutputDoneEvent OnDone;
  TOutputProgressEvent OnProgress;
  TThreadExceptionEvent OnThreadException;

  void Run();
  void Stop();
  [[nodiscard]] TOutputStatus Status() const;
  [[nodiscard]] int Progress() const;
  [[nodiscard]] bool SuspendWhenIdle() const { return Thread->SuspendWhenIdle.load(); }
  void SetSuspendWhenIdle(bool Value) { Thread->SuspendWhenIdle = Value; }
  [[nodiscard]] bool Busy() const { return busy_.load(); }

 protected:
  // Encodes one block; false means the job is over.
  virtual bool DoOutput(bool Abort) = 0;
  // Finishes the encoder, closes the file, flushes the input. Must tolerate
  // being called again and after a partial Prepare.
  virtual void Done() = 0;
  // Opens the file, calls Input.Init, configures the encoder. On failure it
  // releases whatever it opened before raising.
  virtual void Prepare() = 0;

  // The common first steps of every DoOutput: a value to return at once, or
  // nothing when a block should be encoded.
  std::optional<bool> BeginBlock(bool Abort);
  // Input.GetData under the input lock; 0 once the input is gone.
  int ReadInput(void* Buffer, int BufferSize);
  // Input.GetDataInPlace under the input lock, and `Consume(bytes, count)` on what it gave before
  // the lock is released (the bytes belong to the input, which a swap may flush or free);
  // returns the count, 0 once the input is gone.
  template <class Use>
  int ReadInputInPlace(int BufferSize, void* Scratch, Use&& Consume) {
    std::lock_guard guard(inputLock_);
    TAudioInput* const input = input_.load();
    if (input == nullptr) return 0;
    const void* data = nullptr;
    const int n = input->GetDataInPlace(data, BufferSize, Scratch);
    if (n > 0) Consume(static_cast<const uint8_t*>(data), n);
    return n;
  }
  // Input.Init for a job, remembering that the job's end must flush the input.
  void InitInput(TAudioInput* In);
  // Flushes the input opened by InitInput, once per job. Without `Failure` a
  // failure is swallowed; with it, it is kept there unless it already holds one.
  void CloseInput(std::exception_ptr* Failure = nullptr);
  // Runs `Step`; a failure is kept in `Failure` unless it already holds one, so
  // that a job's end goes on releasing and reports the first thing that failed.
  static void KeepFirstFailure(std::exception_ptr& Failure, const std::function<void()>& Step);

  void WhenDone();
  void HandleThreadException(const std::exception& E);
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void StopWorker();

  std::atomic<bool> Active{false};
  int LastProgress = 0;
  std::unique_ptr<TAudioThread> Thread;

 private:
  std::atomic<TAudioInput*> input_{nullptr};
  std::atomic<bool> busy_{false};
  // Set by InitInput, cleared by CloseInput; guarded by inputLock_.
  bool inputOpen_ = false;
  // Held around each GetData and around an input swap.
  std::mutex inputLock_;
};

// An output that writes its encoded bytes to a stream: one the caller supplies,
// or a file it opens for each job.
class TAudioStreamedOutput : public TAudioOutput {
 public:
  using TAudioOutput::TAudioOutput;
  ~TAudioStreamedOutput() override;

  // The output stream of the running job.
  TStream* Stream = nullptr;
  // True when the caller supplied Stream; otherwise each job opens its file.
  bool StreamAssigned = false;

 protected:
  // Creates or truncates the file, or with Append opens an existing one for
  // reading and writing at its end; a supplied stream is used as it is.
  void OpenStream(const std::string& FileName, bool Append);
  [[nodiscard]] bool StreamOpen() const { return Stream != nullptr; }
  void WriteStream(const void* Data, size_t Count);
  void SeekStream(int64_t Offset);
  [[nodiscard]] int64_t TellStream();
  // Closes the file opened for the job; a supplied stream stays.
  void CloseStream();
  // Closes the file after a failed start and removes it when this job created it.
  void DiscardStream();

 private:
  std::unique_ptr<TStream> file_;
  bool created_ = false;
  std::string name_;
};

class TAudioFileOut : public TAudioStreamedOutput {
 public:
  using TAudioStreamedOutput::TAudioStreamedOutput;
  std::string FileName;
  [[nodiscard]] TFileOutputMode FileMode() const { return fileMode_; }
  // Only an output that can append keeps foAppend.
  virtual void SetFileMode(TFileOutputMode Value) { fileMode_ = TFileOutputMode::foRewrite; }

 protected:
  // Raises "File name is not assigned." or opens the file as FileMode says.
  void OpenFile();
  TFileOutputMode fileMode_ = TFileOutputMode::foRewrite;
};

}  // namespace qv
