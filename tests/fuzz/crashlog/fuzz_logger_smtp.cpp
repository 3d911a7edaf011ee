// libFuzzer target over the logger's own SMTP client: a server on 127.0.0.1, on a thread of
// its own, answers one mailing with the input, in pieces, whatever the client says. The
// conversation must end (the server ends its side after the script) and the client must keep
// its memory bounded however long, unended or cut the replies are.
//
// Input: byte 0 = flags (bit 0: log in with a user and a password, bit 1: the body holds a
// line that starts with "."), byte 1 = piece size (0: all at once), byte 2 = how many times
// the script's last part (after its last NUL) is repeated, in 16 KiB steps (up to 4 MiB), then
// the script; its NULs cut it into parts that the server sends one after another.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "crashlog/send_report.h"
#include "crashlog/trace_log.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::size_t kRepeatStep = 16384;

class ScriptServer {
 public:
  ScriptServer() {
    int port = 0;
    listener_ = qv::fuzz::ListenOnLoopback(0, 4, port);
    port_ = uint16_t(port);
    std::thread([this] { Run(); }).detach();
  }

  [[nodiscard]] uint16_t Port() const { return port_; }

  // Hands the next connection its script; Finished() waits until that connection is over.
  void Prepare(std::string script, std::size_t cut) {
    const std::lock_guard lock(mutex_);
    script_ = std::move(script);
    cut_ = cut;
    done_ = false;
  }
  void Finished() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
  }

 private:
  void Run() {
    for (;;) {
      const int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string script;
      std::size_t cut = 0;
      {
        const std::lock_guard lock(mutex_);
        script = script_;
        cut = cut_;
      }
      const int on = 1;
      ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      QuickAck(c);
      Play(c, script, cut);
      ::shutdown(c, SHUT_WR);
      // Whatever the client still says, until it hangs up.
      char buffer[16384];
      while (::recv(c, buffer, sizeof buffer, 0) > 0) QuickAck(c);
      const linger hard{1, 0};
      ::setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      ::close(c);
      {
        const std::lock_guard lock(mutex_);
        done_ = true;
      }
      changed_.notify_all();
    }
  }

  // The client's small writes wait for acknowledgements: give them at once, not 40 ms later.
  static void QuickAck(int c) {
    const int on = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
  }

  // Each part, in pieces; before the next part the client has a moment to speak, so that a
  // part answers a command rather than joining the one before.
  static void Play(int c, const std::string& script, std::size_t cut) {
    std::size_t at = 0;
    while (at <= script.size()) {
      std::size_t end = script.find('\0', at);
      if (end == std::string::npos) end = script.size();
      for (std::size_t pos = at; pos < end;) {
        const std::size_t n = cut == 0 ? end - pos : std::min(cut, end - pos);
        const ssize_t sent = ::send(c, script.data() + pos, n, MSG_NOSIGNAL);
        if (sent <= 0) return;  // the client has gone
        pos += std::size_t(sent);
      }
      const bool empty = end == at;
      at = end + 1;
      if (empty) continue;  // an empty part waits for nothing
      pollfd p{c, POLLIN, 0};
      ::poll(&p, 1, 2);
      char buffer[4096];
      while (::recv(c, buffer, sizeof buffer, MSG_DONTWAIT) > 0) QuickAck(c);
    }
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string script_;
  std::size_t cut_ = 0;
  bool done_ = true;
};

ScriptServer& Server() {
  static ScriptServer* server = new ScriptServer;  // serves until the process ends
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t flags = data[0];
  const std::size_t cut = data[1];
  const std::size_t repeat = data[2];
  std::string script(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::size_t last = script.rfind('\0');
  const std::string tail = script.substr(last == std::string::npos ? 0 : last + 1);
  if (!tail.empty() && repeat != 0) {
    std::string block = tail;
    while (block.size() < kRepeatStep) block += block;
    const std::size_t want = script.size() + repeat * kRepeatStep;
    script.reserve(want + block.size());
    while (script.size() < want) script += block;
  }
  ScriptServer& server = Server();
  server.Prepare(std::move(script), cut);
  const bool login = (flags & 1) != 0;
  const std::string body = (flags & 2) != 0 ? "Report\r\n.\r\n..\r\nend" : "Report";
  (void)qv::SendBySMTP(false, "crash@quorvel.test", "127.0.0.1", {}, body, "Crash",
                       "support@quorvel.test", login ? "user" : "", login ? "secret" : "",
                       server.Port());
  server.Finished();
  qv::ClearLastWarning();
  return 0;
}
