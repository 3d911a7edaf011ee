// Helpers the socket component's sources share.
#pragma once

#include <netinet/in.h>

#include <string>

namespace qv {

// A dotted quad read as decimal (glibc's inet_addr reads "010" as octal); false for
// anything WSocketIsDottedIP refuses.
bool WSocketParseDotted(const std::string& s, in_addr& out);

}  // namespace qv
