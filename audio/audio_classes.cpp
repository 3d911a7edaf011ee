#include "audio/audio_classes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace qv {

// ---------------------------------------------------------------- TAudioInput

TAudioInput::~TAudioInput() {
  // Copy first: a client forgets this input while being told.
  const auto clients = clients_;
  for (auto* client : clients) client->InputRemoved(this);
}

void TAudioInput::Reset() {
  try {
    Flush();
  } catch (...) {
  }
  Busy = false;
}

void TAudioInput::AddClient(TAudioInputClient* Client) {
  if (std::find(clients_.begin(), clients_.end(), Client) == clients_.end())
    clients_.push_back(Client);
}

void TAudioInput::RemoveClient(TAudioInputClient* Client) {
  clients_.erase(std::remove(clients_.begin(), clients_.end(), Client), clients_.end());
}

// ------------------------------------------------------------ TAudioConverter

TAudioConverter::~TAudioConverter() {
  if (auto* input = input_.load()) input->RemoveClient(this);
}

void TAudioConverter::SetInput(TAudioInput* Value) {
  if (Value == this) return;
  TAudioInput* const old = input_.load();
  if (Value == old) return;
  if (Busy && Value != nullptr) Value->Init();
  {
    std::lock_guard guard(InputLock);
    input_ = Value;
  }
  if (old != nullptr) old->RemoveClient(this);
  if (Value != nullptr) Value->AddClient(this);
  if (Busy && old != nullptr) old->Flush();
}

void TAudioConverter::InputRemoved(TAudioInput* Removed) {
  std::lock_guard guard(InputLock);
  if (input_.load() == Removed) input_ = nullptr;
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

TAudioOutput::TAudioOutput()
    : Thread(std::make_unique<TAudioThread>(
          [this](bool abort) { return DoOutput(abort); }, [this] { WhenDone(); },
          [this](const std::exception& e) { HandleThreadException(e); })) {}

TAudioOutput::~TAudioOutput() {
  // A concrete output has already stopped its worker; this only covers one
  // that did not, without touching state that no longer exists.
  if (Thread) Thread->Terminate();
  if (auto* input = input_.load()) input->RemoveClient(this);
}

void TAudioOutput::StopWorker() {
  if (!Thread) return;
  Thread->Stop = true;
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
  TAudioInput* const old = input_.load();
  if (Value == old) return;
  if (busy_ && Value != nullptr) Value->Init();
  {
    std::lock_guard guard(inputLock_);
    input_ = Value;
  }
  if (old != nullptr) old->RemoveClient(this);
  if (Value != nullptr) Value->AddClient(this);
  if (busy_ && old != nullptr) old->Flush();
}

void TAudioOutput::InputRemoved(TAudioInput* Removed) {
  std::lock_guard guard(inputLock_);
  if (input_.load() == Removed) input_ = nullptr;
}

void TAudioOutput::Run() {
  if (busy_) throw EAudioException("Component is buisy");
  if (input_.load() == nullptr) throw EAudioException("Input is not assigned");
  try {
    Prepare();
    LastProgress = 0;
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

void TAudioOutput::FlushInput() {
  if (auto* input = input_.load()) input->Flush();
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

void TAudioStreamedOutput::Fail(const char* What) {
  throw EAudioException(std::string(What) + " \"" + name_ + "\". " + std::strerror(errno));
}

void TAudioStreamedOutput::OpenStream(const std::string& FileName, bool Append) {
  name_ = FileName;
  created_ = false;
  if (Append) {
    fd_ = ::open(FileName.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0 && errno != ENOENT) Fail("Cannot open file");
  }
  if (fd_ >= 0) {
    // The class library's exclusive sharing: no second writer appends at once.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::lseek(fd_, 0, SEEK_END) < 0) {
      const int err = errno;
      ::close(fd_);
      fd_ = -1;
      errno = err;
      Fail("Cannot open file");
    }
    return;
  }
  // New files get 0666 less the umask: a mode of 0 would make them unreadable.
  // Only a file this job created is removed again after a failed start.
  fd_ = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  created_ = fd_ >= 0;
  if (fd_ < 0 && errno == EEXIST) fd_ = ::open(FileName.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
  if (fd_ < 0) Fail("Cannot create file");
}

void TAudioStreamedOutput::WriteStream(const void* Data, size_t Count) {
  const auto* p = static_cast<const uint8_t*>(Data);
  while (Count > 0) {
    const ssize_t n = ::write(fd_, p, Count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("Cannot write file");
    p += n;
    Count -= size_t(n);
  }
}

void TAudioStreamedOutput::SeekStream(int64_t Offset) {
  if (::lseek(fd_, off_t(Offset), SEEK_SET) < 0) Fail("Cannot seek in file");
}

int64_t TAudioStreamedOutput::TellStream() {
  const off_t pos = ::lseek(fd_, 0, SEEK_CUR);
  if (pos < 0) Fail("Cannot seek in file");
  return int64_t(pos);
}

void TAudioStreamedOutput::CloseStream() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) Fail("Cannot write file");
}

void TAudioStreamedOutput::DiscardStream() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  if (created_) ::unlink(name_.c_str());
}

// -------------------------------------------------------------- TAudioFileOut

void TAudioFileOut::OpenFile() {
  if (FileName.empty()) throw EAudioException("File name is not assigned.");
  OpenStream(FileName, fileMode_ == TFileOutputMode::foAppend);
}

}  // namespace qv
