// The HTTP client itself against a server played by the input over loopback: its line
// cutting and 8,192-byte line limit, status line and header handling, the switch to the
// body, chunk framing, Location parsing and relocations (every host name resolves to the
// peer). The first byte sets how the answer is cut into reads, the second the request (bit 32:
// the request is aborted from the message loop once the document has brought 0, 4, 8 or 12
// KiB, as bits 64 and 128 say); a NUL ends one connection's answer, the rest goes to the next
// connection. Seeds with answers longer than a line may be are written at build time.
// Every request must end exactly once, in the ready state, counting no more than it got, and
// nothing the server says may add lines to the requests.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/httpprot.h"
#include "platform/base/streams.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/net/http_fuzz_setup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qv::fuzz::LoopbackPeer peer;
  static const bool once = [] {
    qv::fuzz::UseLoopbackHttp();
    return true;
  }();
  (void)once;
  if (size < 2) return 0;
  const std::uint8_t options = data[1];
  const std::string port = std::to_string(peer.Port());

  qv::THttpCli http;
  qv::TMemoryStream body;
  http.RcvdStream = &body;
  if (options & 1) http.SetRequestVer("1.1");
  if (options & 4) {
    http.Proxy = "proxy.test";
    http.ProxyPort = port;
    http.URL = "http://site.test/a/b/doc?q=1";
  } else {
    http.URL = "http://site.test:" + port + ((options & 16) ? "/a/b/" : "/a/b/doc.htm");
  }
  http.FollowRelocation = !(options & 8);
  int done = 0;
  std::int64_t delivered = 0;
  http.OnRequestDone = [&](qv::THttpCli*, qv::THttpRequest, std::uint16_t) { ++done; };
  const std::int64_t abortAt = (options & 32) ? std::int64_t(options >> 6) * 4096 : -1;
  bool aborted = false;
  http.OnDocData = [&](qv::THttpCli*, const void*, int len) { delivered += len; };
  // Each document is counted from its first byte; a relocation the client gives up on may
  // leave the count at zero, never above what the document brought.
  http.OnDocBegin = [&](qv::THttpCli*) { delivered = 0; };
  http.OnLocationChange = [&](qv::THttpCli*) { delivered = 0; };

  peer.Serve(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2), data[0]);
  http.StartRequest((options & 2) ? qv::httpHEAD : qv::httpGET);
  // The abort comes from the message loop between two reads, as a user's or a timer's does.
  qv::fuzz::PumpOrAbort(
      [&] {
        if (abortAt >= 0 && !aborted && done == 0 && delivered >= abortAt &&
            http.State() != qv::httpReady) {
          aborted = true;
          http.Abort();
        }
        return done > 0;
      },
      "HTTP request");
  qv::ProcessMessages();
  peer.Stop();
  // Whatever a Location said, the requests on the wire are whole lines: no CR or LF but in
  // the line ends.
  std::string requests = peer.Received();
  for (std::size_t at; (at = requests.find("\r\n")) != std::string::npos;) requests.erase(at, 2);
  if (done != 1 || http.State() != qv::httpReady || http.RcvdCount() > delivered ||
      body.Size() < http.RcvdCount() || requests.find_first_of("\r\n") != std::string::npos) {
    std::fprintf(stderr, "done %d, state %d, delivered %lld of %lld\n", done, int(http.State()),
                 static_cast<long long>(delivered), static_cast<long long>(http.RcvdCount()));
    std::abort();
  }
  return 0;
}
