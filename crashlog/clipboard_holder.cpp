#include "crashlog/clipboard_holder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/ui/x11_backend.h"

extern char** environ;

namespace qv {
namespace {

constexpr const char* kHolderVariable = "OSTRELLOG_CLIPBOARD_HOLDER";
// A report is a few hundred kilobytes at most; more is not a report.
constexpr std::size_t kMaxText = std::size_t(64) << 20;
constexpr int kTakenWaitMs = 5000;

std::string DisplayName() {
  const char* choice = std::getenv("QUORVEL_DISPLAY");
  if (choice != nullptr && std::string_view(choice) == "headless") return {};
  const char* display = std::getenv("DISPLAY");
  return display != nullptr ? display : "";
}

void CloseBoth(int pair[2]) {
  for (int i = 0; i < 2; ++i)
    if (pair[i] >= 0) ::close(pair[i]);
}

}  // namespace

bool HandClipboardToHolder(const std::string& text) {
  if (DisplayName().empty() || text.size() > kMaxText) return false;
  // Sockets rather than pipes: a holder that ends early must not raise SIGPIPE here.
  int input[2] = {-1, -1}, answer[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0) return false;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, answer) != 0) {
    CloseBoth(input);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[1], 0);
  posix_spawn_file_actions_adddup2(&actions, answer[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A session of its own, no signal blocked (the reporting thread blocks them all) and the
  // default actions: it outlives the program and whatever ends the program's group.
  sigset_t none, all;
  ::sigemptyset(&none);
  ::sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> variables;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (std::strncmp(*e, kHolderVariable, std::strlen(kHolderVariable)) != 0)
      variables.emplace_back(*e);
  }
  variables.push_back(std::string(kHolderVariable) + "=1");
  std::vector<char*> env;
  for (std::string& v : variables) env.push_back(v.data());
  env.push_back(nullptr);
  char name[] = "ostrellog-clipboard";
  char* argv[] = {name, nullptr};
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, "/proc/self/exe", &actions, &attributes, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(input[1]);
  ::close(answer[1]);
  input[1] = answer[1] = -1;
  if (spawned != 0) {
    CloseBoth(input);
    CloseBoth(answer);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTakenWaitMs);
  const auto left = [&] {
    return int(std::max<int64_t>(
        0, std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
               .count()));
  };
  bool sent = true;
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n =
        ::send(input[0], text.data() + done, text.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += std::size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    pollfd p{input[0], POLLOUT, 0};
    if ((n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) || ::poll(&p, 1, left()) == 0) {
      sent = false;
      break;
    }
  }
  ::close(input[0]);
  // The holder says "1" once it owns the clipboard; the holder is its own now (the process
  // that reaps it is whoever adopts it).
  char taken = 0;
  if (sent) {
    pollfd p{answer[0], POLLIN, 0};
    for (;;) {
      const int rc = ::poll(&p, 1, left());
      if (rc < 0 && errno == EINTR) continue;
      if (rc > 0 && ::recv(answer[0], &taken, 1, 0) != 1) taken = 0;
      break;
    }
  }
  ::close(answer[0]);
  return taken == '1';
}

void RunClipboardHolderIfAsked() {
  const char* asked = std::getenv(kHolderVariable);
  if (asked == nullptr || std::string_view(asked) != "1") return;
  ::unsetenv(kHolderVariable);
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, std::size_t(n));
    if (text.size() > kMaxText) ::_exit(1);
  }
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) ::dup2(null, 0);
  const bool held = HoldClipboardText(DisplayName(), text, [null] {
    const char yes = '1';
    (void)::write(1, &yes, 1);
    if (null >= 0) ::dup2(null, 1);
  });
  ::_exit(held ? 0 : 1);
}

}  // namespace qv
