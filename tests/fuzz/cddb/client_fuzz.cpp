// A CDDB answer of any size through the real HTTP client into the CD database component. A
// server on 127.0.0.1 plays the input: its first part as it is, then its second part again
// and again, up to 64 MiB, as a flooding server or proxy would send it. The first byte picks
// query or read, the owner's choice and the way to the server (directly or as a proxy), the
// second how many times the second part is sent (a power of two).
// Whatever the answer, the request must end, the component may hold no more of it than a few
// times its bound on an answer, and no more text than that bound (each byte at most three
// once made UTF-8) may reach its parser.
#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "cddb/cddb.h"
#include "net/httpprot.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/net/http_fuzz_setup.h"

namespace {

constexpr std::size_t kMaxScript = std::size_t(32) << 20;
constexpr std::size_t kBound = std::size_t(qv::TCddb::kMaxAnswerBytes);

// Bytes the program holds now (the sanitizer's count, which every fuzz build has).
std::size_t Allocated() {
  return __sanitizer_get_current_allocated_bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qv::fuzz::LoopbackPeer peer;
  static const bool once = [] {
    qv::fuzz::UseLoopbackHttp();
    return true;
  }();
  (void)once;
  if (size < 2) return 0;
  const std::uint8_t options = data[0];
  const auto parts = qv::fuzz::Parts(data + 2, size - 2, 2);
  std::string script(parts[0]);
  const std::string_view unit = parts[1];
  if (!unit.empty()) {
    const std::size_t times =
        std::min<std::size_t>(std::size_t(1) << (data[1] & 31), kMaxScript / unit.size());
    script.reserve(script.size() + unit.size() * times);
    for (std::size_t i = 0; i < times; ++i) script += unit;
  }

  qv::TCddb cddb(nullptr);
  const std::string port = std::to_string(peer.Port());
  if (options & 8) {
    cddb.SetProxyAddress("127.0.0.1");
    cddb.SetProxyPort(port);
    cddb.ServerAddr = "cddb.test";
    cddb.ServerPort = "80";
  } else {
    cddb.ServerAddr = "127.0.0.1";
    cddb.ServerPort = port;
  }
  qv::TCDTOC toc;
  toc.TrackCount = 2;
  toc.Tracks[0] = {0, 2, 0, true};
  toc.Tracks[1] = {2, 0, 0, true};
  toc.LeadOut = {5, 0, 0, false};
  cddb.AssignTOC(toc);
  const int choice = static_cast<int>((options >> 1) % 4) - 1;
  cddb.OnMatch = [choice](qv::TComponent*, const qv::TMatchArray&, int& rightOne) {
    rightOne = choice;
  };
  std::size_t parsed = 0;
  cddb.OnDataExchange = [&parsed](qv::TComponent*, const std::string& text) {
    parsed += text.size();
  };

  const std::size_t before = Allocated();
  peer.Serve(script, 0);
  const bool read = options & 1;
  if (read) {
    cddb.CDInfo.Category = "rock";
    cddb.CDInfo.DiscID = "05012a02";
    cddb.State = qv::cdsMatchFound;
    if (cddb.ReadEntry() != 0) std::abort();
  } else if (cddb.Query() != 0) {
    std::abort();
  }
  parsed = 0;  // the request's URL
  qv::fuzz::PumpOrAbort(
      [&] { return cddb.State != qv::cdsQuerying && cddb.State != qv::cdsReading; },
      "CDDB request");
  qv::ProcessMessages();
  // What the component keeps of the answer, until its next request.
  const std::size_t held = Allocated() - std::min(before, Allocated());
  peer.Stop();
  if (held > 3 * kBound || parsed > 3 * kBound) {
    std::fprintf(stderr, "a %zu-byte answer: %zu bytes held, %zu bytes parsed\n", script.size(),
                 held, parsed);
    std::abort();
  }
  return 0;
}
