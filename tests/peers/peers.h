// Real servers for the network tests: each peer runs on a free 127.0.0.1 port in its
// own process group, with its configuration and log in a private temporary folder, and
// is stopped by process id when the object is destroyed. A missing binary fails the
// test (CI installs every peer).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qv::test {

// A port nobody listens on at the moment of the call, for a server about to start there
// (it may be handed out again at once: see ClosedPort for a port that must stay unused).
int FreePort();

// A 127.0.0.1 port where nothing listens while the object lives: a socket bound to it but
// not listening holds it, so no other listener can be given the port meanwhile, and a
// connection to it is refused.
class ClosedPort {
 public:
  ClosedPort();
  ~ClosedPort();
  ClosedPort(const ClosedPort&) = delete;
  ClosedPort& operator=(const ClosedPort&) = delete;
  [[nodiscard]] int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};
// Waits (with a generous deadline) until something accepts on 127.0.0.1:port.
bool WaitForPort(int port);

class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess() { Stop(); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  // Starts argv[0] (an absolute path) with output going to logFile; false on failure.
  bool Start(const std::vector<std::string>& argv, const std::string& logFile);
  void Stop();
  [[nodiscard]] pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// Base of every peer: owns the folder and the process.
class Peer {
 public:
  Peer();
  virtual ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  [[nodiscard]] int Port() const { return port_; }
  [[nodiscard]] const std::filesystem::path& Dir() const { return dir_; }
  // True when the peer accepted connections; the failure text otherwise.
  [[nodiscard]] bool Ok() const { return error_.empty(); }
  [[nodiscard]] const std::string& Error() const { return error_; }

 protected:
  // Starts the peer on a free port; `prepare` writes its configuration for that port and
  // gives the command line. A port taken by someone else meanwhile means another try.
  void Launch(const std::function<std::vector<std::string>(int port)>& prepare);
  void WriteText(const std::filesystem::path& path, const std::string& text);
  int port_ = 0;
  std::filesystem::path dir_;
  std::string error_;
  PeerProcess process_;

 private:
  enum class Attempt { kStarted, kRetry, kFatal };
  // One start of `argv` on port_; error_ says why when it is not kStarted (kRetry: it ran
  // but did not accept there, its log attached).
  Attempt TryStart(const std::vector<std::string>& argv);
};

// lighttpd with: /five.txt ("abcde"), /dir/index.html, redirects /old (absolute path),
// /abs (absolute URL), /rel (relative), /loop (to itself), /other (absolute URL naming
// "localhost" instead of 127.0.0.1), Basic auth "carol:pw2" under /secret/, CGIs
// /echo.sh (returns the request body) and /parts.sh (two writes 0.3 s apart, so an
// HTTP/1.1 request gets a chunked answer). Tests may add files under Www().
class Lighttpd : public Peer {
 public:
  Lighttpd();
  [[nodiscard]] std::filesystem::path Www() const { return dir_ / "www"; }
};

// tinyproxy; with auth, Basic "bob:pw1" is required. CONNECT is allowed to connectPort.
class Tinyproxy : public Peer {
 public:
  explicit Tinyproxy(bool auth, int connectPort = 0);
};

// dante-server: SOCKS 4 and 5 without authentication.
class Danted : public Peer {
 public:
  Danted();
};

// microsocks: SOCKS 5; with auth only "alice:s3cret".
class Microsocks : public Peer {
 public:
  explicit Microsocks(bool auth);
};

// twistd3 socks: SOCKS 4 and 4A.
class TwistdSocks : public Peer {
 public:
  TwistdSocks();
};

// socat echo server (every connection gets its bytes back).
class SocatEcho : public Peer {
 public:
  SocatEcho();
};

}  // namespace qv::test
