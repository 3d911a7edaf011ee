#include "tests/peers/peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

extern char** environ;

namespace qv::test {
namespace {

using Clock = std::chrono::steady_clock;

void Nap() {
  const timespec ts{0, 20 * 1000 * 1000};
  nanosleep(&ts, nullptr);
}

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Whether a socket listening on TCP port `port` is held by a process of the process group
// `group` (a daemon's workers included). A foreign listener means another test's peer took
// the port between FreePort and our daemon's bind. Processes whose descriptors cannot be
// read (a daemon that dropped its privileges, for a caller that is not root) cannot be told
// apart, and are taken for ours.
bool ListenerInGroup(int port, pid_t group) {
  std::set<std::string> sockets;
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  std::getline(tcp, line);  // the header
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    const auto colon = local.find(':');
    if (state != "0A" || colon == std::string::npos) continue;  // 0A: listening
    if (std::stoi(local.substr(colon + 1), nullptr, 16) == port)
      sockets.insert("socket:[" + inode + "]");
  }
  if (sockets.empty()) return false;
  bool unreadable = false;
  std::error_code ec;
  for (const auto& proc : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = proc.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream statFile(proc.path() / "stat");
    std::string stat;
    std::getline(statFile, stat);
    const auto close = stat.rfind(')');  // the command name may hold spaces and brackets
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string runState;
    long parent = 0, processGroup = 0;
    rest >> runState >> parent >> processGroup;
    if (processGroup != group) continue;
    std::error_code fdError;
    std::filesystem::directory_iterator fds(proc.path() / "fd", fdError);
    if (fdError) {
      unreadable = unreadable || fdError == std::errc::permission_denied;
      continue;
    }
    for (const auto& fd : fds) {
      std::error_code linkError;
      if (sockets.count(std::filesystem::read_symlink(fd.path(), linkError).string()) != 0)
        return true;
    }
  }
  return unreadable;
}

}  // namespace

int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

ClosedPort::ClosedPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  // No SO_REUSEADDR: a listener that asks for it still cannot share the port.
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd_ >= 0) close(fd_);
    throw std::runtime_error("cannot hold a closed port");
  }
  port_ = ntohs(a.sin_port);
}

ClosedPort::~ClosedPort() {
  if (fd_ >= 0) close(fd_);
}

bool WaitForPort(int port) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Loopback(port);
    const bool ok = connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    close(s);
    if (ok) return true;
    Nap();
  }
  return false;
}

bool PeerProcess::Start(const std::vector<std::string>& argv, const std::string& logFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own process group, so stopping it also ends its workers and CGI children.
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) pid_ = -1;
  return rc == 0;
}

void PeerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    Nap();
  }
  // Workers of the group that outlived their leader.
  kill(-pid_, SIGKILL);
  pid_ = -1;
}

Peer::Peer() {
  std::string templ = (std::filesystem::temp_directory_path() / "qvpeer.XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = templ;
  // Daemons that drop to nobody still read their files here.
  std::filesystem::permissions(
      dir_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                std::filesystem::perms::others_exec);
}

Peer::~Peer() {
  process_.Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void Peer::WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

Peer::Attempt Peer::TryStart(const std::vector<std::string>& argv) {
  if (access(argv[0].c_str(), X_OK) != 0) {
    error_ = argv[0] + " is not installed";
    return Attempt::kFatal;
  }
  if (!process_.Start(argv, (dir_ / "log").string())) {
    error_ = "cannot start " + argv[0];
    return Attempt::kFatal;
  }
  // Accepting, and by our daemon: not someone else who took the port meanwhile (our daemon,
  // still starting, would then fail to listen, and the test would talk to the other peer).
  if (WaitForPort(port_) && waitpid(process_.Pid(), nullptr, WNOHANG) == 0 &&
      ListenerInGroup(port_, process_.Pid())) {
    return Attempt::kStarted;
  }
  process_.Stop();
  std::ifstream log(dir_ / "log");
  error_ = argv[0] + " did not start: " +
           std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
  return Attempt::kRetry;
}

void Peer::Launch(const std::function<std::vector<std::string>(int port)>& prepare) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreePort();
    const Attempt result = TryStart(prepare(port_));
    if (result == Attempt::kStarted) error_.clear();
    if (result != Attempt::kRetry) return;
  }
}

Lighttpd::Lighttpd() {
  WriteText(Www() / "five.txt", "abcde");
  WriteText(Www() / "dir" / "index.html", "<html>index</html>\n");
  WriteText(Www() / "secret" / "s.txt", "secret");
  WriteText(Www() / "echo.sh",
            "printf 'Content-Type: application/octet-stream\\r\\n\\r\\n'\n"
            "head -c \"$CONTENT_LENGTH\"\n");
  WriteText(Www() / "parts.sh",
            "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
            "printf 'part1-'\nsleep 0.3\nprintf 'part2\\n'\n");
  WriteText(dir_ / "users", "carol:pw2\n");
  Launch([this](int port) {
    const std::string dir = dir_.string();
    const std::string p = std::to_string(port);
    WriteText(
        dir_ / "lighttpd.conf",
        "server.document-root = \"" + dir +
            "/www\"\n"
            "server.port = " +
            p +
            "\n"
            "server.bind = \"127.0.0.1\"\n"
            "server.pid-file = \"" +
            dir +
            "/pid\"\n"
            "server.modules = (\"mod_access\",\"mod_auth\",\"mod_authn_file\",\"mod_redirect\","
            "\"mod_cgi\")\n"
            "url.redirect = (\"^/old$\" => \"/five.txt\", "
            "\"^/abs$\" => \"http://127.0.0.1:" +
            p +
            "/five.txt\", "
            "\"^/other$\" => \"http://localhost:" +
            p +
            "/five.txt\", "
            "\"^/rel$\" => \"dir/index.html\", \"^/loop$\" => \"/loop\")\n"
            "auth.backend = \"plain\"\n"
            "auth.backend.plain.userfile = \"" +
            dir +
            "/users\"\n"
            "auth.require = (\"/secret/\" => (\"method\" => \"basic\", \"realm\" => \"r\", "
            "\"require\" => \"valid-user\"))\n"
            "cgi.assign = (\".sh\" => \"/bin/sh\")\n"
            "server.stream-response-body = 1\n"
            "mimetype.assign = (\".txt\" => \"text/plain\", \".html\" => \"text/html\", "
            "\".bin\" => \"application/octet-stream\")\n");
    return std::vector<std::string>{"/usr/sbin/lighttpd", "-D", "-f",
                                    (dir_ / "lighttpd.conf").string()};
  });
}

Tinyproxy::Tinyproxy(bool auth, int connectPort) {
  Launch([this, auth, connectPort](int port) {
    std::string conf = "User nobody\nGroup nogroup\nPort " + std::to_string(port) +
                       "\nListen 127.0.0.1\nAllow 127.0.0.1\nLogLevel Info\n";
    if (connectPort > 0) conf += "ConnectPort " + std::to_string(connectPort) + "\n";
    if (auth) conf += "BasicAuth bob pw1\n";
    WriteText(dir_ / "tinyproxy.conf", conf);
    return std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c",
                                    (dir_ / "tinyproxy.conf").string()};
  });
}

Danted::Danted() {
  Launch([this](int port) {
    WriteText(dir_ / "danted.conf",
              "logoutput: stderr\n"
              "internal: 127.0.0.1 port = " +
                  std::to_string(port) +
                  "\n"
                  "external: 127.0.0.1\n"
                  "clientmethod: none\n"
                  "socksmethod: none\n"
                  "user.privileged: root\n"
                  "user.unprivileged: nobody\n"
                  "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                  "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  protocol: tcp\n"
                  "  command: connect\n}\n");
    return std::vector<std::string>{"/usr/sbin/danted", "-f", (dir_ / "danted.conf").string(), "-p",
                                    (dir_ / "pid").string()};
  });
}

Microsocks::Microsocks(bool auth) {
  Launch([auth](int port) {
    std::vector<std::string> argv = {"/usr/bin/microsocks", "-i", "127.0.0.1", "-p",
                                     std::to_string(port)};
    if (auth) argv.insert(argv.end(), {"-u", "alice", "-P", "s3cret"});
    return argv;
  });
}

TwistdSocks::TwistdSocks() {
  Launch([this](int port) {
    return std::vector<std::string>{"/usr/bin/twistd3",
                                    "-n",
                                    "--pidfile",
                                    (dir_ / "pid").string(),
                                    "--logfile",
                                    (dir_ / "twistd.log").string(),
                                    "socks",
                                    "-p",
                                    std::to_string(port),
                                    "-i",
                                    "127.0.0.1"};
  });
}

SocatEcho::SocatEcho() {
  Launch([](int port) {
    return std::vector<std::string>{
        "/usr/bin/socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
        "PIPE"};
  });
}

}  // namespace qv::test
