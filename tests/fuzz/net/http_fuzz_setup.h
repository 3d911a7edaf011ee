// Set-up shared by the targets that drive the HTTP client against a peer on loopback.
#pragma once

#include <arpa/inet.h>

#include <exception>
#include <string>
#include <vector>

#include "net/httpprot.h"
#include "platform/msg/pump.h"
#include "platform/sock/async_dns.h"

namespace qv::fuzz {

// Every host name answers 127.0.0.1. A line too long or a malformed answer is thrown from
// the socket's handler, which then aborts the connection; anything else is a finding.
inline void UseLoopbackHttp() {
  SetHostResolver([](const std::string&, std::vector<in_addr>& out) {
    out.push_back(in_addr{htonl(INADDR_LOOPBACK)});
    return 0;
  });
  SetApplicationExceptionHandler([](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const EHttpException&) {
    }
  });
}

}  // namespace qv::fuzz
