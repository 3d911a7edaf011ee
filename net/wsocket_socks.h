// Parsers of SOCKS server replies, kept apart from the socket so they can be tested and
// fuzzed on their own. Each takes the bytes collected so far and says whether the reply
// is complete, needs more bytes or is an error with its code and text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qv {

struct TSocksReply {
  enum Status { NeedMore, Done, Failed };
  Status Result = NeedMore;
  int Error = 0;           // 20001..20016 when Failed
  std::string Msg;         // the error text when Failed
  std::size_t Length = 0;  // bytes the complete reply occupies (the rest is data)
  int Method = 0;          // method reply: the method the server chose
  std::string BoundAddr;   // connect reply (SOCKS 5)
  std::string BoundPort;
};

// Largest SOCKS 5 connect reply: a 255-byte name plus 7 bytes.
constexpr std::size_t kSocksMaxReply = 262;

TSocksReply ParseSocksMethodReply(std::span<const std::uint8_t> Data);
TSocksReply ParseSocksAuthReply(std::span<const std::uint8_t> Data);
TSocksReply ParseSocks5ConnectReply(std::span<const std::uint8_t> Data);
TSocksReply ParseSocks4ConnectReply(std::span<const std::uint8_t> Data);

}  // namespace qv
