// The web component's URL and multipart helpers over any text: the input (cut at NULs) is a
// URL, the bytes of a posted stream, and a text to replace with its replacement. A URL is
// cracked into parts with nothing a request line cannot carry, or refused with the
// component's message; a stream's value is its Base64 in lines of 64; the replacement is the
// one-pass replacement.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/iehttp.h"
#include "app/iehttp_strings.h"
#include "platform/base/streams.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

std::string Base64Decode(std::string_view text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '=') break;
    const std::size_t v = alphabet.find(c);
    if (v == std::string::npos) Fail("not Base64: " + std::string(1, c));
    bits = bits << 6 | unsigned(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += char(bits >> count & 0xFF);
    }
  }
  return out;
}

bool Printable(const std::string& s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = qv::fuzz::Parts(data, size, 4);
  qv::TComponent form(nullptr);
  auto* ie = new qv::TIEHTTP(&form);

  const std::string url(parts[0]);
  try {
    ie->SetURL(url);
    const qv::TURLComponents& c = ie->URLComponents();
    // What goes on the request line and in the Host header.
    if (!url.empty() && (!Printable(c.UrlPath) || !Printable(c.ExtraInfo)))
      Fail("a cracked path or query that a request line cannot carry");
    if (c.HostName.find_first_of("\r\n") != std::string::npos) Fail("a host name with a line end");
  } catch (const qv::Exception& e) {
    if (e.Message().rfind("TIE: Invalid URL. Error - ", 0) != 0) Fail("refused as " + e.Message());
  }

  ie->SetMultipartPOST(true);
  auto stream = std::make_unique<qv::TMemoryStream>();
  stream->Write(parts[1].data(), std::int64_t(parts[1].size()));
  ie->AddMultipartStream("file", std::move(stream));
  const std::string& value = ie->MultipartVars().back().Value;
  std::string joined;
  for (std::size_t at = 0; at < value.size();) {
    const std::size_t cr = value.find('\r', at);
    const std::string_view line =
        std::string_view(value).substr(at, cr == std::string::npos ? cr : cr - at);
    if (line.size() > 64 || (cr != std::string::npos && line.size() != 64))
      Fail("a Base64 line that is not 64 long");
    joined += line;
    if (cr == std::string::npos) break;
    at = cr + 1;
  }
  if (joined != qv::Base64Encode(parts[1]) || Base64Decode(joined) != parts[1] ||
      joined.size() != (parts[1].size() + 2) / 3 * 4)
    Fail("a stream that does not come back from its value");

  std::string text(parts[1]);
  qv::ReplaceAll(text, parts[2], parts[3]);
  std::string expected;
  if (parts[2].empty()) {
    expected = parts[1];
  } else {
    const std::string_view s = parts[1];
    for (std::size_t at = 0;;) {
      const std::size_t found = s.find(parts[2], at);
      expected += s.substr(at, found == std::string_view::npos ? found : found - at);
      if (found == std::string_view::npos) break;
      expected += parts[3];
      at = found + parts[2].size();
    }
  }
  if (text != expected) Fail("a replacement that is not the one-pass one");
  return 0;
}
