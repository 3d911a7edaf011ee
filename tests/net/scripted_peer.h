// A TCP server for protocol tests that plays a fixed script on one connection: send
// these bytes, read that many, close. It runs on its own thread with plain blocking
// POSIX sockets, independent of the code under test, and records what it read.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

class ScriptedPeer {
 public:
  struct Step {
    enum Kind { Send, Read, ReadUntil, Close, Reset } kind;
    std::string data;       // bytes to send, or the text to read up to (ReadUntil)
    std::size_t count = 0;  // bytes to read (Read)
  };
  static Step SendBytes(std::string s) { return {Step::Send, std::move(s), 0}; }
  static Step ReadBytes(std::size_t n) { return {Step::Read, {}, n}; }
  static Step ReadUntil(std::string s) { return {Step::ReadUntil, std::move(s), 0}; }
  static Step CloseNow() { return {Step::Close, {}, 0}; }
  // Ends the connection with a reset instead of an orderly close.
  static Step ResetNow() { return {Step::Reset, {}, 0}; }

  // Serves `connections` connections in turn, each with the same script.
  explicit ScriptedPeer(std::vector<Step> script, int connections = 1)
      : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(listener_, 4);
    thread_ = std::thread([this, connections] {
      for (int i = 0; i < connections; ++i) Serve();
    });
  }
  ~ScriptedPeer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  [[nodiscard]] int Port() const { return port_; }
  [[nodiscard]] std::string Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  void Serve() {
    const int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) return;
    std::string got;
    for (const auto& step : script_) {
      if (step.kind == Step::Send) {
        ::send(c, step.data.data(), step.data.size(), MSG_NOSIGNAL);
      } else if (step.kind == Step::Close) {
        break;
      } else if (step.kind == Step::Reset) {
        const linger l{1, 0};
        ::setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(c);
        return;
      } else {
        // Reads with a generous limit so a broken client fails the test instead of hanging.
        for (;;) {
          if (step.kind == Step::Read && got.size() >= step.count) break;
          if (step.kind == Step::ReadUntil && got.find(step.data) != std::string::npos) break;
          pollfd p{c, POLLIN, 0};
          if (::poll(&p, 1, 20000) <= 0) break;
          char buf[65536];
          const ssize_t n = ::recv(c, buf, sizeof buf, 0);
          if (n <= 0) break;
          got.append(buf, std::size_t(n));
          std::lock_guard lock(mutex_);
          received_.append(buf, std::size_t(n));
        }
        if (step.kind == Step::ReadUntil) {
          const auto at = got.find(step.data);
          got = at == std::string::npos ? std::string() : got.substr(at + step.data.size());
        } else {
          got = got.size() > step.count ? got.substr(step.count) : std::string();
        }
      }
    }
    ::shutdown(c, SHUT_WR);
    // Wait for the client to close, so our close never resets unread data.
    pollfd p{c, POLLIN, 0};
    char buf[4096];
    while (::poll(&p, 1, 5000) > 0 && ::recv(c, buf, sizeof buf, 0) > 0) {
    }
    ::close(c);
  }

  std::vector<Step> script_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::string received_;  // guarded by mutex_
};

}  // namespace qv::test
