#include "platform/sock/async_dns.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <thread>
#include <unordered_map>

#include "platform/msg/message_queue.h"
#include "platform/sock/winsock.h"

namespace qv {
namespace {

int SystemHostResolver(const std::string& name, std::vector<in_addr>& out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) return WSAErrorFromGai(rc, errno);
  for (addrinfo* p = list; p != nullptr; p = p->ai_next) {
    const in_addr a = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr;
    bool seen = false;
    for (const auto& b : out) seen = seen || b.s_addr == a.s_addr;
    if (!seen) out.push_back(a);
  }
  ::freeaddrinfo(list);
  return out.empty() ? WSANO_DATA : 0;
}

int SystemAddrResolver(const in_addr& addr, std::string& name) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = addr;
  char host[NI_MAXHOST];
  const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host,
                               nullptr, 0, NI_NAMEREQD);
  if (rc != 0) return WSAErrorFromGai(rc, errno);
  name = host;
  return 0;
}

struct Request {
  WSAHANDLE handle = 0;
  HWND hwnd = 0;
  UINT message = 0;
  bool reverse = false;
  std::string name;
  in_addr addr{};
  std::shared_ptr<HostEntry> result;
};

// Two workers serve the look-ups in order of arrival. Everything below is guarded by
// `mutex`; resolvers are copied out and called without the lock.
class Resolver {
 public:
  static Resolver& Instance() {
    static Resolver instance;
    return instance;
  }

  ~Resolver() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
  }

  HostResolver SetHost(HostResolver r) {
    std::lock_guard lock(mutex_);
    std::swap(host_, r);
    return r;
  }
  AddrResolver SetAddr(AddrResolver r) {
    std::lock_guard lock(mutex_);
    std::swap(addr_, r);
    return r;
  }
  int Resolve(const std::string& name, std::vector<in_addr>& out) {
    HostResolver r;
    {
      std::lock_guard lock(mutex_);
      r = host_;
    }
    return r ? r(name, out) : SystemHostResolver(name, out);
  }
  int Reverse(const in_addr& a, std::string& name) {
    AddrResolver r;
    {
      std::lock_guard lock(mutex_);
      r = addr_;
    }
    return r ? r(a, name) : SystemAddrResolver(a, name);
  }

  WSAHANDLE Start(Request req) {
    std::lock_guard lock(mutex_);
    if (workers_.empty()) {
      for (int i = 0; i < 2; ++i) workers_.emplace_back([this] { Run(); });
    }
    req.handle = nextHandle_++;
    pending_.emplace(req.handle, true);
    const WSAHANDLE h = req.handle;
    queue_.push_back(std::move(req));
    wake_.notify_one();
    return h;
  }

  bool Cancel(WSAHANDLE h) {
    std::lock_guard lock(mutex_);
    return pending_.erase(h) > 0;
  }

 private:
  Resolver() = default;

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      Request req = std::move(queue_.front());
      queue_.pop_front();
      if (pending_.count(req.handle) == 0) continue;  // cancelled before it started
      lock.unlock();
      HostEntry entry;
      int err;
      if (req.reverse) {
        err = Reverse(req.addr, entry.Name);
        if (err == 0) entry.Addresses.push_back(req.addr);
      } else {
        entry.Name = req.name;
        err = Resolve(req.name, entry.Addresses);
      }
      lock.lock();
      if (pending_.erase(req.handle) == 0) continue;  // cancelled meanwhile
      if (err == 0 && req.result) *req.result = std::move(entry);
      // Posted under the lock, so a cancel either comes first or finds nothing.
      PostMessage(req.hwnd, req.message, WPARAM(req.handle), MAKELONG(0, std::uint16_t(err)));
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Request> queue_;
  std::unordered_map<WSAHANDLE, bool> pending_;
  std::vector<std::thread> workers_;
  WSAHANDLE nextHandle_ = 1;
  HostResolver host_;
  AddrResolver addr_;
  bool stop_ = false;
};

// Hands a look-up to the workers; 0 with WSANOTINITIALISED before WSAStartup.
WSAHANDLE StartLookup(Request req, HWND hwnd, UINT message, std::shared_ptr<HostEntry> result) {
  if (!WSAIsStarted()) {
    WSASetLastError(WSANOTINITIALISED);
    return 0;
  }
  req.hwnd = hwnd;
  req.message = message;
  req.result = std::move(result);
  return Resolver::Instance().Start(std::move(req));
}

}  // namespace

HostResolver SetHostResolver(HostResolver resolver) {
  return Resolver::Instance().SetHost(std::move(resolver));
}

AddrResolver SetAddrResolver(AddrResolver resolver) {
  return Resolver::Instance().SetAddr(std::move(resolver));
}

int ResolveHostName(const std::string& name, std::vector<in_addr>& out) {
  return Resolver::Instance().Resolve(name, out);
}

int ResolveHostAddr(const in_addr& addr, std::string& name) {
  return Resolver::Instance().Reverse(addr, name);
}

WSAHANDLE WSAAsyncGetHostByName(HWND hwnd, UINT message, const std::string& name,
                                std::shared_ptr<HostEntry> result) {
  Request req;
  req.name = name;
  return StartLookup(std::move(req), hwnd, message, std::move(result));
}

WSAHANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT message, const in_addr& addr,
                                std::shared_ptr<HostEntry> result) {
  Request req;
  req.reverse = true;
  req.addr = addr;
  return StartLookup(std::move(req), hwnd, message, std::move(result));
}

int WSACancelAsyncRequest(WSAHANDLE handle) {
  if (Resolver::Instance().Cancel(handle)) return 0;
  WSASetLastError(WSAEINVAL);
  return SOCKET_ERROR;
}

}  // namespace qv
