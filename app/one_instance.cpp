#include "app/one_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/base/paths.h"
#include "platform/ui/window_system.h"

namespace qv {

namespace {

constexpr const char* kRaiseCommand = "RAISE ";

std::string SystemError(const std::string& What) {
  return What + ": " + std::strerror(errno);
}

EOneInstance Failure(const std::string& Text, const std::string& Message) {
  return EOneInstance(Text + " An Exception was raised with the message : " + Message);
}

bool MakeAddress(const std::string& Path, sockaddr_un& Address) {
  std::memset(&Address, 0, sizeof Address);
  Address.sun_family = AF_UNIX;
  if (Path.size() >= sizeof Address.sun_path) return false;
  std::memcpy(Address.sun_path, Path.c_str(), Path.size() + 1);
  return true;
}

}  // namespace

TOneInstance::TOneInstance(TComponent* AOwner) : TComponent(AOwner) {
  if (AOwner != nullptr) {
    for (int i = 0; i < AOwner->ComponentCount(); ++i) {
      TComponent* c = AOwner->Components(i);
      // The base part's destructor takes this one out of the owner's list again.
      if (c != this && dynamic_cast<TOneInstance*>(c) != nullptr)
        throw Exception("OneInstance component duplicated in " + AOwner->Name());
    }
  }
  MutexName = ExtractFileName(ExeName());
}

TOneInstance::~TOneInstance() {
  if (FFirstInstance) {
    if (listenFd_ >= 0) {
      ::close(listenFd_);
      ::unlink(socketPath_.c_str());
    }
    // A destructor cannot raise: a lock that will not close is said on stderr (the kernel
    // lets go of it when the process ends).
    if (lockFd_ >= 0 && ::close(lockFd_) != 0) {
      const EOneInstance e = Failure("Unable to close Mutex!", SystemError(lockFile_));
      std::fprintf(stderr, "%s\n", e.what());
    }
  } else if (loaded_) {
    (void)RaisePrior();
  }
}

std::string TOneInstance::LockFolder() {
  // A runtime folder that is named but missing (a stale environment) is no reason to refuse
  // to start.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime != nullptr && *runtime != '\0' && DirectoryExists(runtime)
                                 ? std::string(runtime) + "/quorvel"
                                 : "/tmp/quorvel-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw EOneInstance(SystemError("cannot create " + folder));
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) throw EOneInstance(SystemError(folder));
  // Anyone who could write here could hold the lock or answer in our place.
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
    throw EOneInstance(folder + " is not a private folder of this user");
  return folder + "/";
}

void TOneInstance::Loaded() {
  TComponent::Loaded();
  if (HasState(csDesigning)) return;
  loaded_ = true;
  savedTitle_ = ApplicationTitle ? ApplicationTitle() : std::string();

  std::string folder;
  try {
    folder = LockFolder();
  } catch (const std::exception& e) {
    throw Failure("Unable to verify that Mutex already exists!", e.what());
  }
  const std::string name = SafePathComponent(MutexName);
  lockFile_ = folder + name + ".lock";
  const int fd = ::open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    throw Failure("Unable to verify that Mutex already exists!", SystemError(name + ".lock"));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (::close(fd) != 0) throw Failure("Unable to close Mutex!", SystemError(name + ".lock"));
    if (error != EWOULDBLOCK) {
      errno = error;
      throw Failure("Unable to create Mutex!", SystemError(name + ".lock"));
    }
    FFirstInstance = false;
    if (ApplicationExists) ApplicationExists(this);
    if (Terminate) {
      if (InformUser)
        throw EOneInstance(
            "Another instance of this application appears to be running. You must \r\nclose "
            "any previous instances before continuing. ");
      if (TerminateApplication) TerminateApplication();
    } else if (InformUser && ShowWarning) {
      ShowWarning("Another instance of this application appears to be running!");
    }
    return;
  }
  lockFd_ = fd;
  FFirstInstance = true;

  // The request socket; a stale one of a copy that died is ours to replace.
  socketPath_ = folder + name + ".sock";
  sockaddr_un address;
  if (!MakeAddress(socketPath_, address)) return;
  ::unlink(socketPath_.c_str());
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, 8) != 0) {
    ::close(s);
    return;
  }
  listenFd_ = s;
}

void TOneInstance::ServeRaiseRequests() {
  if (listenFd_ < 0) return;
  for (;;) {
    const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c < 0) {
      if (errno == EINTR) continue;
      return;  // nothing more waiting
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    const bool sameUser =
        ::getsockopt(c, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
    std::string line;
    // A second copy writes its one short line and closes; a peer that does not is given
    // up after a second.
    while (sameUser && line.find('\n') == std::string::npos && line.size() < 4096) {
      pollfd p{c, POLLIN, 0};
      const int ready = ::poll(&p, 1, 1000);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      char buffer[512];
      const ssize_t n = ::read(c, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) break;
      line.append(buffer, size_t(n));
    }
    ::close(c);
    const size_t end = line.find('\n');
    if (end == std::string::npos || line.compare(0, 6, kRaiseCommand) != 0) continue;
    const std::string title = line.substr(6, end - 6);
    const std::string own = ApplicationTitle ? ApplicationTitle() : std::string();
    if (title == own && OnRaiseRequest) OnRaiseRequest();
  }
}

void TOneInstance::BringToFront(HWND Window, HWND Popup) {
  if (Window != 0) {
    // Restored only from the task bar: a maximised window stays maximised.
    if (IsIconic(Window)) ShowWindow(Window, SW_RESTORE);
    BringWindowToTop(Window);
  }
  if (Popup == 0) return;
  if (IsIconic(Popup)) ShowWindow(Popup, SW_RESTORE);
  BringWindowToTop(Popup);
  SetForegroundWindow(Popup);
}

bool TOneInstance::RaisePrior() {
  if (FFirstInstance || !loaded_ || !RaisePriorInstance || savedTitle_.empty()) return true;
  if (raised_) return priorAnswered_;
  raised_ = true;
  sockaddr_un address;
  std::string folder;
  try {
    folder = LockFolder();
  } catch (const std::exception&) {
    return false;
  }
  if (!MakeAddress(folder + SafePathComponent(MutexName) + ".sock", address)) return false;
  // Never waits for the first copy: one that does not take connections (stopped, or its
  // queue full) refuses at once, and a request that is queued is read when it runs again.
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = kRaiseCommand + savedTitle_ + "\n";
    priorAnswered_ = ::send(s, request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
                     ssize_t(request.size());
  }
  ::close(s);
  return priorAnswered_;
}
}  // namespace qv
