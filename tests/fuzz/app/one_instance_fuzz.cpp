// Any requests on the single-instance socket: the first part of the input (cut at NULs) is
// the running copy's title, each further part what one later connection writes before it
// closes. The running copy must come to the front exactly for the requests "RAISE <its
// title>" ended by a line end within the 4,096 bytes it reads, and for nothing else.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/one_instance.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

qv::TComponent owner(nullptr);
std::string title;
int raised = 0;

qv::TOneInstance* MakeFirstCopy() {
  ::setenv("XDG_RUNTIME_DIR", qv::fuzz::ScratchDir().c_str(), 1);
  auto* one = new qv::TOneInstance(&owner);
  one->MutexName = "QuorvelFuzz";
  one->ApplicationTitle = [] { return title; };
  one->OnRaiseRequest = [] { ++raised; };
  one->Loaded();
  if (!one->FirstInstance() || one->ListenFd() < 0) std::abort();
  return one;
}

// Connects to the running copy's socket and writes `request`, then closes.
void Ask(const std::string& path, std::string_view request) {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    std::abort();
  for (std::size_t done = 0; done < request.size();) {
    const ssize_t n = ::send(s, request.data() + done, request.size() - done, MSG_NOSIGNAL);
    if (n <= 0) std::abort();
    done += std::size_t(n);
  }
  ::close(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qv::TOneInstance* one = MakeFirstCopy();
  static const std::string path = qv::fuzz::ScratchDir() + "quorvel/QuorvelFuzz.sock";
  // The socket takes eight waiting connections.
  const auto parts = qv::fuzz::Parts(data, size, 7);
  title = std::string(parts[0]);
  int expected = 0;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string_view r = parts[i];
    const std::size_t end = r.find('\n');
    if (end != std::string_view::npos && end < 4096 && r.substr(0, 6) == "RAISE " &&
        r.substr(6, end - 6) == title)
      ++expected;
    Ask(path, r);
  }
  raised = 0;
  one->ServeRaiseRequests();
  if (raised != expected) {
    std::fprintf(stderr, "raised %d times for %d requests\n", raised, expected);
    std::abort();
  }
  return 0;
}
