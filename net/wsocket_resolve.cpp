// Name, port and protocol resolution of the socket component, and its error texts.
#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

#include "net/wsocket.h"
#include "net/wsocket_resolve.h"
#include "platform/base/text.h"

namespace qv {
namespace {

std::string Format(const char* fmt, const std::string& s, int n) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, s.c_str(), n);
  return buf;
}

}  // namespace

// Own decimal parser: glibc's inet_addr reads "010" as octal.
bool WSocketParseDotted(const std::string& s, in_addr& out) {
  if (!WSocketIsDottedIP(s)) return false;
  const std::string t = std::string(TrimSpaces(s));
  std::uint32_t value = 0;
  unsigned part = 0;
  for (char c : t) {
    if (c == '.') {
      value = value << 8 | part;
      part = 0;
    } else {
      part = part * 10 + unsigned(c - '0');
    }
  }
  value = value << 8 | part;
  out.s_addr = htonl(value);
  return true;
}

bool WSocketIsDottedIP(const std::string& S) {
  std::size_t i = 0;
  while (i < S.size() && S[i] == ' ') ++i;
  if (i == S.size() || S[i] == '.') return false;
  int dots = 0;
  unsigned part = 0;
  bool digit = false;
  for (; i < S.size(); ++i) {
    const char c = S[i];
    if (c == ' ') break;
    if (c == '.') {
      if (!digit) return false;
      ++dots;
      part = 0;
      digit = false;
    } else if (c >= '0' && c <= '9') {
      part = part * 10 + unsigned(c - '0');
      if (part > 255) return false;
      digit = true;
    } else {
      return false;
    }
  }
  for (; i < S.size(); ++i) {
    if (S[i] != ' ') return false;
  }
  return dots == 3 && digit;
}

in_addr WSocketResolveHost(const std::string& Host) {
  if (Host.empty() || Host.size() >= 257) {
    throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid Hostname.");
  }
  in_addr a{};
  if (WSocketIsDottedIP(Host)) {
    WSocketParseDotted(Host, a);
    if (a.s_addr == INADDR_NONE && TrimSpaces(Host) != "255.255.255.255") {
      throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid IP address.");
    }
    return a;
  }
  std::vector<in_addr> list;
  const int err = ResolveHostName(Host, list);
  if (err != 0 || list.empty()) {
    throw ESocketException(Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                  Host, err != 0 ? err : WSANO_DATA));
  }
  return list.front();
}

std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto) {
  if (Port.empty() || Port.size() >= 32)
    throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (Proto.empty() || Proto.size() >= 32) {
    throw ESocketException("WSocketResolvePort: Invalid Proto.");
  }
  std::size_t i = 0;
  while (i < Port.size() && Port[i] == ' ') ++i;
  if (i < Port.size() && std::isdigit(static_cast<unsigned char>(Port[i]))) {
    unsigned long n = 0;
    for (; i < Port.size() && std::isdigit(static_cast<unsigned char>(Port[i])); ++i) {
      n = n * 10 + unsigned(Port[i] - '0');
      // Beyond 65535 a port would silently wrap to another one.
      if (n > 65535) throw ESocketException("WSocketResolvePort: Invalid Port.");
    }
    return std::uint16_t(n);
  }
  servent se{};
  servent* result = nullptr;
  char buf[1024];
  const std::string p(TrimSpaces(Port)), pr(TrimSpaces(Proto));
  if (getservbyname_r(p.c_str(), pr.c_str(), &se, buf, sizeof buf, &result) != 0 ||
      result == nullptr) {
    throw ESocketException(
        Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", Port, WSANO_DATA));
  }
  return ntohs(std::uint16_t(result->s_port));
}

int WSocketResolveProto(const std::string& Proto) {
  if (Proto.empty() || Proto.size() >= 32) {
    throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  }
  std::size_t i = 0;
  while (i < Proto.size() && Proto[i] == ' ') ++i;
  if (i < Proto.size() && std::isdigit(static_cast<unsigned char>(Proto[i]))) {
    int n = 0;
    for (; i < Proto.size() && std::isdigit(static_cast<unsigned char>(Proto[i])) && n < 100000;
         ++i) {
      n = n * 10 + (Proto[i] - '0');
    }
    return n;
  }
  const std::string p = LowerCase(TrimSpaces(Proto));
  if (p == "tcp") return 6;
  if (p == "udp") return 17;
  if (p == "raw") return 255;
  protoent pe{};
  protoent* result = nullptr;
  char buf[1024];
  if (getprotobyname_r(p.c_str(), &pe, buf, sizeof buf, &result) != 0 || result == nullptr) {
    throw ESocketException(
        Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", Proto, WSANO_DATA));
  }
  return result->p_proto;
}

std::string LocalHostName() {
  char buf[64] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) throw ESocketException("Winsock.GetHostName failed");
  return buf;
}

std::string WSocketErrorDesc(int Code) {
  switch (Code) {
    case 0:
      return "No Error";
    case 10004:
      return "Interrupted system call";
    case 10009:
      return "Bad file number";
    case 10013:
      return "Permission denied";
    case 10014:
      return "Bad address";
    case 10022:
      return "Invalid argument";
    case 10024:
      return "Too many open files";
    case 10035:
      return "Operation would block";
    case 10036:
      return "Operation now in progress";
    case 10037:
      return "Operation already in progress";
    case 10038:
      return "Socket operation on non-socket";
    case 10039:
      return "Destination address required";
    case 10040:
      return "Message too long";
    case 10041:
      return "Protocol wrong type for socket";
    case 10042:
      return "Protocol not available";
    case 10043:
      return "Protocol not supported";
    case 10044:
      return "Socket type not supported";
    case 10045:
      return "Operation not supported on socket";
    case 10046:
      return "Protocol family not supported";
    case 10047:
      return "Address family not supported by protocol family";
    case 10048:
      return "Address already in use";
    case 10049:
      return "Address not available";
    case 10050:
      return "Network is down";
    case 10051:
      return "Network is unreachable";
    case 10052:
      return "Network dropped connection on reset";
    case 10053:
      return "Connection aborted";
    case 10054:
      return "Connection reset by peer";
    case 10055:
      return "No buffer space available";
    case 10056:
      return "Socket is already connected";
    case 10057:
      return "Socket is not connected";
    case 10058:
      return "Can't send after socket shutdown";
    case 10059:
      return "Too many references: can't splice";
    case 10060:
      return "Connection timed out";
    case 10061:
      return "Connection refused";
    case 10062:
      return "Too many levels of symbolic links";
    case 10063:
      return "File name too long";
    case 10064:
      return "Host is down";
    case 10065:
      return "No route to host";
    case 10066:
      return "Directory not empty";
    case 10067:
      return "Too many processes";
    case 10068:
      return "Too many users";
    case 10069:
      return "Disc quota exceeded";
    case 10070:
      return "Stale NFS file handle";
    case 10071:
      return "Too many levels of remote in path";
    case 10091:
      return "Network sub-system is unusable";
    case 10092:
      return "WinSock DLL cannot support this application";
    case 10093:
      return "WinSock not initialized";
    case 11001:
      return "Host not found";
    case 11002:
      return "Non-authoritative host not found";
    case 11003:
      return "Non-recoverable error";
    case 11004:
      return "No Data";
    default:
      return "Not a WinSock error";
  }
}

}  // namespace qv
