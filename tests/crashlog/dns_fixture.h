// The DNS server of the mail-exchanger tests (dns_fixture.py) as a peer on a free
// loopback port, and the lookup settings that send every query there and nowhere else.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "crashlog/mx_record.h"
#include "tests/peers/peers.h"

namespace qv::test {

class DnsFixture : public Peer {
 public:
  // Triples of domain, preference, exchange.
  explicit DnsFixture(const std::vector<std::string>& records) {
    Launch([&](int port) {
      std::vector<std::string> argv = {
          "/usr/bin/python3", std::string(QV_SOURCE_DIR) + "/tests/crashlog/dns_fixture.py",
          std::to_string(port), Log()};
      argv.insert(argv.end(), records.begin(), records.end());
      return argv;
    });
  }
  [[nodiscard]] std::string Log() const { return (dir_ / "queries.log").string(); }
  // Settings whose resolver file names only this server.
  [[nodiscard]] TMXLookupSettings Settings(uint32_t timeout = 10000) const {
    const std::string resolv = (dir_ / "resolv.conf").string();
    std::ofstream(resolv) << "nameserver 127.0.0.1\n";
    return {resolv, "", static_cast<uint16_t>(port_), timeout};
  }
};

}  // namespace qv::test
