// libFuzzer target over the MX answer parser: the datagram's own identifier is taken as
// the query's, so the fuzzer gets past the header check. Any bytes must end without a
// read outside the datagram and give an exchange no longer than a DNS name can be.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "crashlog/mx_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint16_t id = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
  const std::string exchange = qv::ParseMXAnswer(std::span<const uint8_t>(data, size), id);
  if (exchange.size() > 253) std::abort();
  if (!qv::ParseMXAnswer(std::span<const uint8_t>(data, size), uint16_t(id + 1)).empty()) {
    std::abort();  // an answer to another query was taken
  }
  return 0;
}
