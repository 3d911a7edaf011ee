// Any bytes as the resolver configuration the mail sender reads for its DNS servers: every
// server it takes is the value of a "nameserver" line, an IPv4 address other than 0.0.0.0,
// and no line gives more than one.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crashlog/mx_record.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = qv::fuzz::ScratchDir() + "resolv.conf";
  const std::string_view text = qv::fuzz::Text(data, size);
  qv::fuzz::WriteFile(path, text);
  const std::vector<std::string> servers = qv::DnsServersFromFile(path);

  std::size_t lines = 1;
  for (const char c : text) lines += c == '\n';
  if (servers.size() > lines) std::abort();
  std::size_t from = 0;
  for (const std::string& server : servers) {
    in_addr address{};
    if (::inet_pton(AF_INET, server.c_str(), &address) != 1 || address.s_addr == 0) {
      std::fprintf(stderr, "not a server address: '%s'\n", server.c_str());
      std::abort();
    }
    // In file order, each after a "nameserver" of its own.
    std::size_t at = from;
    for (;; ++at) {
      at = text.find(server, at);
      if (at == std::string_view::npos) {
        std::fprintf(stderr, "'%s' is not the value of a nameserver line after the last\n",
                     server.c_str());
        std::abort();
      }
      const std::size_t key = text.rfind("nameserver", at);
      if (key != std::string_view::npos && key >= from) break;
    }
    from = at + server.size();
  }
  return 0;
}
