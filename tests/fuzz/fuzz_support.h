// Setup shared by the fuzz targets: splitting one input into parts, a scratch folder for
// targets whose parser reads files, and a loopback peer that plays the input to a real
// network client.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/msg/fd_watch.h"
#include "platform/msg/pump.h"
#include "tests/fixtures/loopback.h"

namespace qv::fuzz {

// The input cut at each NUL into at most `count` parts (the last takes the rest); missing
// parts are empty. Text formats have no NUL, so a seed is its parts joined by NULs.
inline std::vector<std::string_view> Parts(const std::uint8_t* data, std::size_t size,
                                           std::size_t count) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < count) {
    const auto nul = rest.find('\0');
    if (nul == std::string_view::npos) break;
    parts.push_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  parts.push_back(rest);
  parts.resize(count);
  return parts;
}

// A folder of this process, removed at exit.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    static char name[] = "/tmp/qv-fuzz-XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(name); });
    return std::string(name) + "/";
  }();
  return dir;
}

// Bytes of an input or a seed as text.
inline std::string_view Text(const void* data, std::size_t size) {
  return {static_cast<const char*>(data), size};
}
template <class Bytes>
inline std::string_view Text(const Bytes& bytes) {
  return Text(bytes.data(), bytes.size());
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

using test::ListenOnLoopback;

// A server on 127.0.0.1 played by the input: it accepts the client's connections in turn and
// sends each its part of the script (the parts are cut at NUL bytes), one piece each time this
// thread's queue runs idle (that is, once the client has handled what came before and waits),
// so the client meets every cut the input asks for. What the client sends is kept
// (`Received`). After a part it ends its side of the connection; a connection beyond the parts,
// or beside one still open, is closed at once.
class LoopbackPeer {
 public:
  LoopbackPeer() { listener_ = ListenOnLoopback(SOCK_NONBLOCK, 16, port_); }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  [[nodiscard]] int Port() const { return port_; }
  [[nodiscard]] const std::string& Received() const { return received_; }

  // Plays `script` in pieces of `cut` bytes (every fourth piece 32 times as long); 0 sends
  // each part at once.
  void Serve(std::string_view script, std::uint8_t cut) {
    script_ = script;
    cut_ = cut;
    sent_ = 0;
    pieces_ = 0;
    received_.clear();
    listenWatch_ = WatchFd(listener_, POLLIN, [this](int, short) { Accept(); });
    SetIdleHandler([this](MSG&, bool) {
      Step();
      return false;
    });
  }

  void Stop() {
    SetIdleHandler(nullptr);
    UnwatchFd(listenWatch_);
    Drop();
    for (int c; (c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) HardClose(c);
  }

 private:
  void Accept() {
    const int c = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c < 0) return;
    if (conn_ >= 0) Drain();  // a client that closed one connection and opened the next
    if (conn_ >= 0 || sent_ > script_.size()) {
      HardClose(c);
      return;
    }
    conn_ = c;
    // Each piece leaves at once rather than waiting for the last one's acknowledgement.
    const int on = 1;
    ::setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connWatch_ = WatchFd(conn_, POLLIN, [this](int, short) { Drain(); });
  }

  void Drain() {
    char buf[16384];
    for (;;) {
      const ssize_t n = ::recv(conn_, buf, sizeof buf, 0);
      if (n > 0) {
        received_.append(buf, std::size_t(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) Drop();
      return;
    }
  }

  // The client is waiting: the next piece, or the end of the connection's part.
  void Step() {
    if (conn_ < 0 || ended_) return;
    const std::size_t end = std::min(script_.find('\0', sent_), script_.size());
    if (sent_ >= end) {
      ::shutdown(conn_, SHUT_WR);
      ended_ = true;
      sent_ = end + 1;  // past the NUL: the next connection's part
      return;
    }
    std::size_t n = end - sent_;
    if (cut_ != 0) n = std::min<std::size_t>(n, pieces_ % 4 == 3 ? cut_ * 32u : cut_);
    const ssize_t done = ::send(conn_, script_.data() + sent_, n, MSG_NOSIGNAL);
    if (done < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) Drop();
      return;
    }
    sent_ += std::size_t(done);
    ++pieces_;
  }

  // A reset rather than an orderly close: no TIME_WAIT left behind by thousands of runs.
  static void HardClose(int fd) {
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
  }

  void Drop() {
    if (conn_ < 0) return;
    if (!ended_) sent_ = std::min(script_.find('\0', sent_), script_.size()) + 1;
    UnwatchFd(connWatch_);
    HardClose(conn_);
    conn_ = -1;
    ended_ = false;
  }

  int listener_ = -1;
  int port_ = 0;
  int conn_ = -1;
  bool ended_ = false;
  WatchId listenWatch_ = 0, connWatch_ = 0;
  std::string_view script_;
  std::string received_;
  std::uint8_t cut_ = 0;
  std::size_t sent_ = 0, pieces_ = 0;
};

// Serves this thread's queue until `done`; a client that never ends is a finding.
inline void PumpOrAbort(const std::function<bool()>& done, const char* what) {
  using namespace std::chrono_literals;
  if (PumpUntil(done, std::chrono::steady_clock::now() + 20s) != PumpResult::Done) {
    std::fprintf(stderr, "%s never ended\n", what);
    std::abort();
  }
}

}  // namespace qv::fuzz
