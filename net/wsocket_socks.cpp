#include "net/wsocket_socks.h"

#include <arpa/inet.h>

namespace qv {
namespace {

TSocksReply Fail(int error, std::string msg) {
  TSocksReply r;
  r.Result = TSocksReply::Failed;
  r.Error = error;
  r.Msg = std::move(msg);
  return r;
}

TSocksReply VersionError() {
  return Fail(20002, "socks version error");
}

TSocksReply Socks5Code(int code) {
  static const char* const kTexts[] = {
      "general SOCKS server failure", "connection not allowed by ruleset",
      "network unreachable",          "host unreachable",
      "connection refused",           "time to live expired",
      "command not supported",        "address type not supported"};
  if (code >= 1 && code <= 8) return Fail(20003 + code, kTexts[code - 1]);
  return Fail(20012, "unassigned error #" + std::to_string(code));
}

}  // namespace

TSocksReply ParseSocksMethodReply(std::span<const std::uint8_t> Data) {
  if (Data.empty()) return {};
  if (Data[0] != 5) return VersionError();
  if (Data.size() < 2) return {};
  if (Data[1] != 0 && Data[1] != 2) return Fail(20003, "authentification method not acceptable");
  TSocksReply r;
  r.Result = TSocksReply::Done;
  r.Length = 2;
  r.Method = Data[1];
  return r;
}

TSocksReply ParseSocksAuthReply(std::span<const std::uint8_t> Data) {
  if (Data.empty()) return {};
  if (Data[0] != 1) return VersionError();
  if (Data.size() < 2) return {};
  // The server must wait for our connect request; anything more is out of order.
  if (Data.size() > 2) return Fail(20001, "too much data availaible");
  if (Data[1] != 0) return Fail(20015, "socks authentication failed");
  TSocksReply r;
  r.Result = TSocksReply::Done;
  r.Length = 2;
  return r;
}

TSocksReply ParseSocks5ConnectReply(std::span<const std::uint8_t> Data) {
  if (Data.empty()) return {};
  if (Data[0] != 5) return VersionError();
  if (Data.size() < 2) return {};
  if (Data[1] != 0) return Socks5Code(Data[1]);
  if (Data.size() < 5) return {};
  std::size_t need;
  switch (Data[3]) {
    case 1:
      need = 10;
      break;
    case 3:
      need = std::size_t(Data[4]) + 7;
      break;
    case 4:
      need = 22;
      break;  // an IPv6 bound address; the connection itself is fine
    default:
      return Fail(20011, "address type not supported");
  }
  if (Data.size() < need) return {};
  TSocksReply r;
  r.Result = TSocksReply::Done;
  r.Length = need;
  if (Data[3] == 1) {
    r.BoundAddr = std::to_string(Data[4]) + "." + std::to_string(Data[5]) + "." +
                  std::to_string(Data[6]) + "." + std::to_string(Data[7]);
  } else if (Data[3] == 3) {
    r.BoundAddr.assign(reinterpret_cast<const char*>(Data.data()) + 5, Data[4]);
  } else {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, Data.data() + 4, text, sizeof text);
    r.BoundAddr = text;
  }
  r.BoundPort = std::to_string(unsigned(Data[need - 2]) << 8 | Data[need - 1]);
  return r;
}

TSocksReply ParseSocks4ConnectReply(std::span<const std::uint8_t> Data) {
  if (Data.empty()) return {};
  if (Data[0] != 0) return VersionError();
  if (Data.size() < 8) return {};
  switch (Data[1]) {
    case 90: {
      TSocksReply r;
      r.Result = TSocksReply::Done;
      r.Length = 8;
      return r;
    }
    case 91:
      return Fail(20016, "request rejected or failed");
    case 92:
      return Fail(20008, "connection refused");
    case 93:
      return Fail(20015, "authentification failed");
    default:
      return Fail(20012, "unassigned error #" + std::to_string(Data[1]));
  }
}

}  // namespace qv
