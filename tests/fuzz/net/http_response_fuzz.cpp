// Any byte string as an HTTP response: cut into lines at LF as the client does, the
// first line through the status-line parser, the rest through the header parser, and
// the bytes after the empty line through the chunked decoder, fed in pieces whose sizes
// come from the input too.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/httpprot_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    const auto lf = text.find('\n', pos);
    if (lf == std::string_view::npos) break;
    std::string_view line = text.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = lf + 1;
    if (line.empty()) break;
    if (first) {
      std::string version, reason;
      int code = -1;
      if (qv::ParseStatusLine(line, version, code, reason) == qv::TStatusLine::Ok &&
          (code < 0 || code > 999 || version.size() != 3)) {
        std::abort();
      }
      first = false;
      continue;
    }
    std::string name, value;
    if (qv::SplitHeaderField(line, name, value)) {
      (void)qv::ParseContentLength(value);
      std::string b, e;
      qv::ParseContentRange(value, b, e);
    }
  }
  qv::THttpChunkDecoder decoder;
  std::size_t delivered = 0;
  std::size_t step = size > 0 ? data[0] % 17 + 1 : 1;
  while (pos < text.size()) {
    const std::size_t n = std::min(step, text.size() - pos);
    std::size_t used = 0;
    const auto r = decoder.Feed(text.data() + pos, n, used,
                                [&](const char*, std::size_t len) { delivered += len; });
    if (used > n || delivered > size) std::abort();
    pos += used;
    if (r != qv::THttpChunkDecoder::Continue) break;
    step = step * 2 % 61 + 1;
  }
  return 0;
}
