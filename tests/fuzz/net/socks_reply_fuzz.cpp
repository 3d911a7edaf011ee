// Any byte string fed to the SOCKS reply parsers, whole and in growing prefixes as the
// socket collects it: no crash, no read past the data, and a Done reply never claims
// more bytes than it was given.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "net/wsocket_socks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> all(data, size);
  for (std::size_t n = 0; n <= size && n <= qv::kSocksMaxReply + 8; ++n) {
    const auto part = all.first(n);
    for (const auto& r : {qv::ParseSocksMethodReply(part), qv::ParseSocksAuthReply(part),
                          qv::ParseSocks5ConnectReply(part), qv::ParseSocks4ConnectReply(part)}) {
      if (r.Result == qv::TSocksReply::Done && r.Length > n) std::abort();
      if (r.Result == qv::TSocksReply::Failed && r.Error == 0) std::abort();
    }
  }
  return 0;
}
