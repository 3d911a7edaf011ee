#include "platform/sock/winsock.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <unordered_map>

#include "platform/msg/fd_watch.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"

namespace qv {
namespace {

thread_local int tLastError = 0;
thread_local int tLastErrno = 0;

std::mutex gLibraryMutex;
int gStartCount = 0;  // guarded by gLibraryMutex
std::atomic<bool> gStarted{false};

// Per-socket state of the asynchronous selection. The owning thread touches it; the
// registry lock covers lookups from any thread.
struct SocketState {
  int fd = -1;
  HWND hwnd = 0;
  UINT message = 0;
  long mask = 0;
  WatchId watch = 0;
  bool listening = false;
  bool connectPending = false;  // connect returned would-block, FD_CONNECT not yet posted
  bool readEnabled = true;
  bool acceptEnabled = true;
  bool writeWanted = false;  // a send would have blocked; FD_WRITE when writable
  bool closeSent = false;
};

std::mutex gRegistryMutex;
std::unordered_map<std::intptr_t, std::shared_ptr<SocketState>> gSockets;  // guarded
std::intptr_t gNextHandle = 1;                                             // guarded

std::shared_ptr<SocketState> Find(SOCKET s) {
  std::lock_guard lock(gRegistryMutex);
  const auto it = gSockets.find(static_cast<std::intptr_t>(s));
  return it == gSockets.end() ? nullptr : it->second;
}

int Fail(int code) {
  tLastError = code;
  return SOCKET_ERROR;
}

int FailErrno(int err) {
  tLastErrno = err;
  return Fail(WSAErrorFromErrno(err));
}

bool Started() {
  if (gStarted.load()) return true;
  tLastError = WSANOTINITIALISED;
  return false;
}

constexpr UINT WM_SOCKET_RELAY = WM_USER + 0x7A0;

// Notifications travel through a hidden window of the socket's thread, which hands each
// one to the socket's window only if the socket still exists: closing a socket drops
// whatever of its notifications is still queued.
LRESULT RelayProc(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_SOCKET_RELAY) return 0;
  HWND target = 0;
  UINT targetMessage = 0;
  {
    std::lock_guard lock(gRegistryMutex);
    const auto it = gSockets.find(static_cast<std::intptr_t>(wParam));
    if (it == gSockets.end() || it->second->hwnd == 0) return 0;
    target = it->second->hwnd;
    targetMessage = it->second->message;
  }
  LRESULT result = 0;
  CallWindowChain(target, targetMessage, wParam, lParam, result);
  return result;
}

HWND RelayWindow() {
  thread_local HWND relay = 0;
  if (relay == 0 || !IsWindow(relay)) relay = AllocateHWnd(RelayProc);
  return relay;
}

void Post(const SocketState& st, SOCKET s, long event, int error) {
  PostMessage(RelayWindow(), WM_SOCKET_RELAY, WPARAM(static_cast<std::intptr_t>(s)),
              MAKELONG(std::uint16_t(event), std::uint16_t(error)));
}

int SocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  return err;
}

short WantedEvents(const SocketState& st) {
  if (st.mask == 0 || st.hwnd == 0) return 0;
  short ev = 0;
  if (st.connectPending)
    return (st.mask & (FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE)) ? POLLOUT : 0;
  if (st.listening) return (st.acceptEnabled && (st.mask & FD_ACCEPT)) ? POLLIN : 0;
  if (st.closeSent) return 0;
  if (st.readEnabled && (st.mask & (FD_READ | FD_CLOSE))) ev |= POLLIN | POLLRDHUP;
  if (st.writeWanted && (st.mask & FD_WRITE)) ev |= POLLOUT;
  return ev;
}

void UpdateWatch(const SocketState& st) {
  if (st.watch != 0) SetFdEvents(st.watch, WantedEvents(st));
}

void OnReady(SOCKET s, short revents) {
  auto st = Find(s);
  if (!st || st->hwnd == 0) return;
  if (st->connectPending) {
    const int err = SocketError(st->fd);
    st->connectPending = false;
    if (st->mask & FD_CONNECT) Post(*st, s, FD_CONNECT, err ? WSAErrorFromErrno(err) : 0);
    if (err != 0) {
      // A refused connect shows POLLIN|POLLOUT|POLLERR|POLLHUP; it is FD_CONNECT only.
      st->closeSent = true;
    } else if (st->mask & FD_WRITE) {
      Post(*st, s, FD_WRITE, 0);
    }
    UpdateWatch(*st);
    return;
  }
  if (st->listening) {
    if ((revents & POLLIN) && st->acceptEnabled) {
      st->acceptEnabled = false;
      Post(*st, s, FD_ACCEPT, 0);
    }
    UpdateWatch(*st);
    return;
  }
  if ((revents & POLLOUT) && st->writeWanted) {
    st->writeWanted = false;
    Post(*st, s, FD_WRITE, 0);
  }
  if ((revents & (POLLIN | POLLRDHUP | POLLERR | POLLHUP)) && st->readEnabled && !st->closeSent) {
    char probe;
    const ssize_t n = ::recv(st->fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
      if (st->mask & FD_READ) {
        st->readEnabled = false;  // again after the next recv
        Post(*st, s, FD_READ, 0);
      }
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      const int err = n == 0 ? 0 : WSAErrorFromErrno(errno);
      st->closeSent = true;
      if (st->mask & FD_CLOSE) Post(*st, s, FD_CLOSE, err);
    }
  }
  UpdateWatch(*st);
}

void ReArmRead(SOCKET s) {
  auto st = Find(s);
  if (!st || st->readEnabled) return;
  st->readEnabled = true;
  UpdateWatch(*st);
}

}  // namespace

int WSAGetLastError() {
  return tLastError;
}
void WSASetLastError(int code) {
  tLastError = code;
}
int WSAGetLastErrno() {
  return tLastErrno;
}

int WSAErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return 0;
    case EINTR:
      return WSAEINTR;
    case EBADF:
      return WSAEBADF;
    case EACCES:
    case EPERM:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return WSAEMFILE;
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EINPROGRESS:
      return WSAEINPROGRESS;
    case EALREADY:
      return WSAEALREADY;
    case ENOTSOCK:
      return WSAENOTSOCK;
    case EDESTADDRREQ:
      return WSAEDESTADDRREQ;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EPROTOTYPE:
      return WSAEPROTOTYPE;
    case ENOPROTOOPT:
      return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
      return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
      return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
      return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
      return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ENETRESET:
      return WSAENETRESET;
    case ECONNABORTED:
      return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
      return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return WSAENOBUFS;
    case EISCONN:
      return WSAEISCONN;
    case ENOTCONN:
      return WSAENOTCONN;
    case ESHUTDOWN:
      return WSAESHUTDOWN;
    case ETOOMANYREFS:
      return WSAETOOMANYREFS;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case ELOOP:
      return WSAELOOP;
    case ENAMETOOLONG:
      return WSAENAMETOOLONG;
    case EHOSTDOWN:
      return WSAEHOSTDOWN;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    case ENOTEMPTY:
      return 10066;
    case EUSERS:
      return 10068;
    case EDQUOT:
      return 10069;
    case ESTALE:
      return 10070;
    case EREMOTE:
      return 10071;
    default:
      // Never 10000 + errno: errno 35 would read as "would block".
      tLastErrno = err;
      return WSAEINVAL;
  }
}

int WSAErrorFromGai(int gaiResult, int err) {
  switch (gaiResult) {
    case 0:
      return 0;
    case EAI_NONAME:
    case EAI_SERVICE:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_FAIL:
      return WSANO_RECOVERY;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
    case EAI_SYSTEM:
      return WSAErrorFromErrno(err);
    case EAI_MEMORY:
      return WSAENOBUFS;
    default:
      return WSANO_RECOVERY;
  }
}

int WSAStartup(std::uint16_t versionRequested) {
  std::lock_guard lock(gLibraryMutex);
  ++gStartCount;
  gStarted = true;
  return 0;
}

int WSACleanup() {
  std::lock_guard lock(gLibraryMutex);
  if (gStartCount == 0) return Fail(WSANOTINITIALISED);
  if (--gStartCount == 0) gStarted = false;
  return 0;
}

bool WSAIsStarted() {
  return gStarted.load();
}

int SocketFd(SOCKET s) {
  auto st = Find(s);
  return st ? st->fd : -1;
}

SOCKET socket(int af, int type, int protocol) {
  if (!Started()) return INVALID_SOCKET;
  const int fd = ::socket(af, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    FailErrno(errno);
    return INVALID_SOCKET;
  }
  auto st = std::make_shared<SocketState>();
  st->fd = fd;
  std::lock_guard lock(gRegistryMutex);
  const SOCKET s = SOCKET(gNextHandle++);
  gSockets.emplace(static_cast<std::intptr_t>(s), std::move(st));
  return s;
}

int closesocket(SOCKET s) {
  std::shared_ptr<SocketState> st;
  {
    std::lock_guard lock(gRegistryMutex);
    const auto it = gSockets.find(static_cast<std::intptr_t>(s));
    if (it == gSockets.end()) return Fail(WSAENOTSOCK);
    st = it->second;
    gSockets.erase(it);
  }
  // The watch goes before the descriptor: Linux hands the number out again at once.
  if (st->watch != 0) UnwatchFd(st->watch);
  // Never retried: after close(2) fails the descriptor is gone anyway.
  if (::close(st->fd) != 0 && errno != EINTR) return FailErrno(errno);
  return 0;
}

int bind(SOCKET s, const sockaddr* addr, socklen_t len) {
  const int fd = SocketFd(s);
  if (fd < 0) return Fail(Started() ? WSAENOTSOCK : WSANOTINITIALISED);
  return ::bind(fd, addr, len) == 0 ? 0 : FailErrno(errno);
}

int listen(SOCKET s, int backlog) {
  auto st = Find(s);
  if (!st) return Fail(WSAENOTSOCK);
  if (::listen(st->fd, backlog) != 0) return FailErrno(errno);
  st->listening = true;
  UpdateWatch(*st);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, socklen_t* len) {
  auto st = Find(s);
  if (!st) {
    Fail(WSAENOTSOCK);
    return INVALID_SOCKET;
  }
  const int fd = ::accept4(st->fd, addr, len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  const int err = errno;
  if (!st->acceptEnabled) {
    st->acceptEnabled = true;
    UpdateWatch(*st);
  }
  if (fd < 0) {
    FailErrno(err);
    return INVALID_SOCKET;
  }
  auto ns = std::make_shared<SocketState>();
  ns->fd = fd;
  std::lock_guard lock(gRegistryMutex);
  const SOCKET n = SOCKET(gNextHandle++);
  gSockets.emplace(static_cast<std::intptr_t>(n), std::move(ns));
  return n;
}

int connect(SOCKET s, const sockaddr* addr, socklen_t len) {
  auto st = Find(s);
  if (!st) return Fail(Started() ? WSAENOTSOCK : WSANOTINITIALISED);
  if (::connect(st->fd, addr, len) == 0) {
    // Loopback may connect at once; the notification still comes from the loop.
    st->connectPending = true;
    UpdateWatch(*st);
    return 0;
  }
  if (errno == EINPROGRESS) {
    st->connectPending = true;
    UpdateWatch(*st);
    return Fail(WSAEWOULDBLOCK);
  }
  return FailErrno(errno);
}

int send(SOCKET s, const void* buf, int len, int flags) {
  auto st = Find(s);
  if (!st) return Fail(WSAENOTSOCK);
  const ssize_t n = ::send(st->fd, buf, std::size_t(len), (flags & 1 ? MSG_OOB : 0) | MSG_NOSIGNAL);
  if (n >= 0) {
    // A short send means the buffer is full, as would-block does on the next call:
    // FD_WRITE comes when there is room again.
    if (n < len && !st->writeWanted) {
      st->writeWanted = true;
      UpdateWatch(*st);
    }
    return int(n);
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    st->writeWanted = true;
    UpdateWatch(*st);
  }
  return FailErrno(errno);
}

int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, socklen_t tolen) {
  auto st = Find(s);
  if (!st) return Fail(WSAENOTSOCK);
  const ssize_t n =
      ::sendto(st->fd, buf, std::size_t(len), (flags & 1 ? MSG_OOB : 0) | MSG_NOSIGNAL, to, tolen);
  if (n >= 0) return int(n);
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    st->writeWanted = true;
    UpdateWatch(*st);
  }
  return FailErrno(errno);
}

int recv(SOCKET s, void* buf, int len, int flags) {
  auto st = Find(s);
  if (!st) return Fail(WSAENOTSOCK);
  const ssize_t n = ::recv(st->fd, buf, std::size_t(len), flags);
  const int err = errno;
  ReArmRead(s);
  if (n >= 0) return int(n);
  return FailErrno(err);
}

int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, socklen_t* fromlen) {
  auto st = Find(s);
  if (!st) return Fail(WSAENOTSOCK);
  const ssize_t n = ::recvfrom(st->fd, buf, std::size_t(len), flags, from, fromlen);
  const int err = errno;
  ReArmRead(s);
  if (n >= 0) return int(n);
  return FailErrno(err);
}

int shutdown(SOCKET s, int how) {
  const int fd = SocketFd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  return ::shutdown(fd, how) == 0 ? 0 : FailErrno(errno);
}

int setsockopt(SOCKET s, int level, int name, const void* value, socklen_t len) {
  const int fd = SocketFd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  return ::setsockopt(fd, level, name, value, len) == 0 ? 0 : FailErrno(errno);
}

int getsockname(SOCKET s, sockaddr* addr, socklen_t* len) {
  const int fd = SocketFd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  return ::getsockname(fd, addr, len) == 0 ? 0 : FailErrno(errno);
}

int getpeername(SOCKET s, sockaddr* addr, socklen_t* len) {
  const int fd = SocketFd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  return ::getpeername(fd, addr, len) == 0 ? 0 : FailErrno(errno);
}

int ioctlsocket(SOCKET s, long cmd, unsigned long* arg) {
  const int fd = SocketFd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  if (cmd == FIONREAD_) {
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) != 0) return FailErrno(errno);
    *arg = static_cast<unsigned long>(n);
    return 0;
  }
  if (cmd == FIONBIO_) return 0;  // always non-blocking
  return Fail(WSAEINVAL);
}

int WSAIoctl(SOCKET s, unsigned long code, const void* in, unsigned long inLen, void* out,
             unsigned long outLen, unsigned long* bytesReturned) {
  if (SocketFd(s) < 0) return Fail(WSAENOTSOCK);
  return Fail(WSAEOPNOTSUPP);
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT message, long mask) {
  auto st = Find(s);
  if (!st) return Fail(WSAENOTSOCK);
  st->hwnd = mask == 0 ? st->hwnd : hwnd;
  st->message = message;
  st->mask = mask;
  if (st->watch == 0 && mask != 0) {
    st->watch =
        WatchFd(st->fd, WantedEvents(*st), [s](int, short revents) { OnReady(s, revents); });
  }
  UpdateWatch(*st);
  return 0;
}

}  // namespace qv
