#include "audio/audio_classes.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace qv {

// ---------------------------------------------------------------- TAudioInput

void TAudioInput::Reset() {
  try {
    Flush();
  } catch (...) {
  }
  Busy = false;
}

// ------------------------------------------------------------ TAudioConverter

void TAudioConverter::SetInput(TAudioInput* Value) {
  if (Value == this) return;
  TAudioInput* const old = input_.load();
  if (Value == old) return;
  if (Busy && Value != nullptr) Value->Init();
  {
    std::lock_guard guard(InputLock);
    input_ = Value;
  }
  if (old != nullptr) RemoveFreeNotification(old);
  if (Value != nullptr) FreeNotification(Value);
  if (Busy && old != nullptr) old->Flush();
}

void TAudioConverter::Notification(TComponent* AComponent, TOperation Operation) {
  TAudioInput::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  std::lock_guard guard(InputLock);
  if (static_cast<TComponent*>(input_.load()) == AComponent) input_ = nullptr;
}

// --------------------------------------------------------------- TAudioThread

TAudioThread::TAudioThread(std::function<bool(bool)> DoOutput, std::function<void()> OnDone,
                           std::function<void(const std::exception&)> HandleException)
    : doOutput_(std::move(DoOutput)),
      onDone_(std::move(OnDone)),
      handleException_(std::move(HandleException)),
      thread_([this] { Execute(); }) {}

TAudioThread::~TAudioThread() {
  Terminate();
}

void TAudioThread::Resume() {
  {
    std::lock_guard guard(lock_);
    pending_ = true;
  }
  wake_.notify_one();
}

void TAudioThread::Terminate() {
  {
    std::lock_guard guard(lock_);
    terminating_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void TAudioThread::Execute() {
  std::unique_lock guard(lock_);
  for (;;) {
    // A job handed over before we get here is still pending: nothing is lost.
    suspended_ = true;
    wake_.wait(guard, [this] { return pending_ || terminating_.load(); });
    if (terminating_) break;
    pending_ = false;
    suspended_ = false;
    guard.unlock();
    RunJob();
    guard.lock();
  }
}

void TAudioThread::RunJob() {
  // Without SuspendWhenIdle the worker would go on calling DoOutput, which does
  // nothing while the output is inactive; waiting for the next job is the same
  // without burning a core.
  while (!terminating_) {
    try {
      if (doOutput_(Stop.load())) continue;
      Stop = false;
      onDone_();
      return;
    } catch (const std::exception& e) {
      Stop = false;
      handleException_(e);
      return;
    } catch (...) {
      Stop = false;
      handleException_(EAudioException("Unknown error"));
      return;
    }
  }
}

// --------------------------------------------------------------- TAudioOutput

TAudioOutput::TAudioOutput(TComponent* AOwner)
    : TComponent(AOwner),
      Thread(std::make_unique<TAudioThread>(
          [this](bool abort) { return DoOutput(abort); }, [this] { WhenDone(); },
          [this](const std::exception& e) { HandleThreadException(e); })) {}

TAudioOutput::~TAudioOutput() {
  // A concrete output has already stopped its worker; this only covers one
  // that did not, without touching state that no longer exists.
  if (Thread) Thread->Terminate();
}

void TAudioOutput::StopWorker() {
  if (!Thread) return;
  // The worker leaves at the next block; a job cut short this way fires no
  // event, since the owner's handlers may already be gone.
  Thread->Terminate();
  // A job cut short by the destruction still closes its file and its input.
  if (busy_) {
    Active = false;
    try {
      Done();
    } catch (...) {
    }
    busy_ = false;
  }
}

void TAudioOutput::SetInput(TAudioInput* Value) {
  TAudioInput* old = nullptr;
  {
    // Deciding under the input lock keeps the swap and the job's end apart: either the
    // job still has its input open, and the new input is opened and the old one closed
    // here, or the job has already closed it and the swap opens nothing.
    std::lock_guard guard(inputLock_);
    old = input_.load();
    if (Value == old) return;
    if (inputOpen_ && Value != nullptr) Value->Init();
    input_ = Value;
    if (inputOpen_ && old != nullptr) old->Flush();
  }
  if (old != nullptr) RemoveFreeNotification(old);
  if (Value != nullptr) FreeNotification(Value);
}

void TAudioOutput::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  std::lock_guard guard(inputLock_);
  if (static_cast<TComponent*>(input_.load()) == AComponent) input_ = nullptr;
}

void TAudioOutput::Run() {
  if (busy_) throw EAudioException("Component is buisy");
  if (input_.load() == nullptr) throw EAudioException("Input is not assigned");
  try {
    Prepare();
    busy_ = true;
    Thread->Stop = false;
    Active = true;
    Thread->Resume();
  } catch (const std::exception& e) {
    HandleThreadException(e);
  }
}

void TAudioOutput::Stop() {
  Thread->Stop = true;
}

TOutputStatus TAudioOutput::Status() const {
  if (!busy_) return TOutputStatus::osIdle;
  return Thread->Suspended() ? TOutputStatus::osPaused : TOutputStatus::osRunning;
}

int TAudioOutput::Progress() const {
  TAudioInput* const input = input_.load();
  if (input == nullptr) return 0;
  const int64_t size = input->Size.load();
  if (size == -1) return -1;
  if (size == 0) return 0;
  // nearbyint rounds halves to even in the default rounding mode.
  return int(std::nearbyint(double(input->Position.load()) / double(size) * 100.0));
}

std::optional<bool> TAudioOutput::BeginBlock(bool Abort) {
  if (!Active) return true;
  const int progress = Progress();
  if (progress != LastProgress) {
    LastProgress = progress;
    if (OnProgress) OnProgress(this);
  }
  if (Abort) return false;
  return std::nullopt;
}

int TAudioOutput::ReadInput(void* Buffer, int BufferSize) {
  std::lock_guard guard(inputLock_);
  TAudioInput* const input = input_.load();
  return input == nullptr ? 0 : input->GetData(Buffer, BufferSize);
}

void TAudioOutput::InitInput(TAudioInput* In) {
  std::lock_guard guard(inputLock_);
  In->Init();
  inputOpen_ = true;
}

void TAudioOutput::CloseInput(std::exception_ptr* Failure) {
  std::lock_guard guard(inputLock_);
  if (!inputOpen_) return;
  inputOpen_ = false;
  try {
    if (auto* input = input_.load()) input->Flush();
  } catch (...) {
    if (Failure != nullptr && !*Failure) *Failure = std::current_exception();
  }
}

void TAudioOutput::KeepFirstFailure(std::exception_ptr& Failure,
                                    const std::function<void()>& Step) {
  try {
    Step();
  } catch (...) {
    if (!Failure) Failure = std::current_exception();
  }
}

void TAudioOutput::WhenDone() {
  if (!busy_) return;
  Active = false;
  Done();
  busy_ = false;
  if (OnDone) OnDone(this);
}

void TAudioOutput::HandleThreadException(const std::exception& E) {
  // Input locks are scoped, so an exception has already released them, in a
  // chain of converters as well.
  if (busy_) {
    try {
      Done();
    } catch (...) {
    }
  }
  Active = false;
  busy_ = false;
  if (OnThreadException) OnThreadException(this, E);
}

// -------------------------------------------------------- TAudioStreamedOutput

TAudioStreamedOutput::~TAudioStreamedOutput() = default;

void TAudioStreamedOutput::OpenStream(const std::string& FileName, bool Append) {
  name_ = FileName;  // a supplied stream's failures name the file too
  if (StreamAssigned) return;
  std::error_code ec;
  const bool exists = std::filesystem::exists(FileName, ec);
  try {
    if (Append && exists) {
      file_ = std::make_unique<TFileStream>(FileName, fmOpenReadWrite | fmShareExclusive);
      file_->Seek(0, soFromEnd);
    } else {
      // New files get 0666 less the umask (the class library's access rights of
      // 0 would make them unreadable here).
      file_ = std::make_unique<TFileStream>(FileName, fmCreate);
    }
  } catch (const EStreamError& e) {
    file_.reset();
    throw EAudioException(e.what());
  }
  created_ = !exists;
  Stream = file_.get();
}

void TAudioStreamedOutput::WriteStream(const void* Data, size_t Count) {
  try {
    Stream->WriteBuffer(Data, int64_t(Count));
  } catch (const EStreamError& e) {
    throw EAudioException("Cannot write file \"" + name_ + "\". " + e.what());
  }
}

void TAudioStreamedOutput::SeekStream(int64_t Offset) {
  Stream->Seek(Offset, soFromBeginning);
}

int64_t TAudioStreamedOutput::TellStream() {
  return Stream->Position();
}

void TAudioStreamedOutput::CloseStream() {
  if (StreamAssigned) return;
  Stream = nullptr;
  file_.reset();
}

void TAudioStreamedOutput::DiscardStream() {
  if (StreamAssigned || !file_) return;
  Stream = nullptr;
  file_.reset();
  std::error_code ec;
  if (created_) std::filesystem::remove(name_, ec);
}

// -------------------------------------------------------------- TAudioFileOut

void TAudioFileOut::OpenFile() {
  if (FileName.empty()) throw EAudioException("File name is not assigned.");
  OpenStream(FileName, fileMode_ == TFileOutputMode::foAppend);
}

}  // namespace qv
