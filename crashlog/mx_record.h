// Finding a recipient's mail exchanger: a DNS MX query over UDP to the machine's DNS
// servers (the "nameserver" lines of the resolver configuration, 0.0.0.0 never), then one
// public server as the last resort. The answer parser takes any bytes from the network:
// every read is bounded and compression pointers may only point backwards.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct TMXLookupSettings {
  std::string ResolvConf = "/etc/resolv.conf";
  // Asked after the configured servers; "" switches it off.
  std::string FallbackServer = "1.1.1.1";
  uint16_t DnsPort = 53;
  uint32_t Timeout = 30000;
};
// Process-wide; tests point them at servers on the loopback.
void SetMXLookupSettings(TMXLookupSettings settings);
[[nodiscard]] TMXLookupSettings MXLookupSettings();

// The IPv4 servers of a resolver configuration file, in file order, without 0.0.0.0.
[[nodiscard]] std::vector<std::string> DnsServersFromFile(const std::string& path);

// The query datagram for the domain's MX records; "" when the domain cannot be written
// as DNS labels (a label over 63 bytes, a name over 255).
[[nodiscard]] std::string BuildMXQuery(std::string_view domain, uint16_t id);
// The exchange with the lowest preference (the first of equals) in an answer to the
// query with `id`; "" when the datagram is not such an answer or holds no MX record.
[[nodiscard]] std::string ParseMXAnswer(std::span<const uint8_t> answer, uint16_t id);

// The mail exchanger of the domain after the first "@" of `address` (the whole address
// when there is none). Throws EOstrelSocketError "Cannot resolve the "<domain>" MX
// record." when no server named one, and the socket's error when a server failed.
[[nodiscard]] std::string ResolveMXRecord(std::string_view address);

}  // namespace qv
