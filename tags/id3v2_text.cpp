#include "tags/id3v2_text.h"

#include <string>

#include "platform/base/text.h"

namespace qv::id3 {

std::vector<uint8_t> EncodeTextFrame(std::string_view Text) {
  const std::string utf8 = ToUtf8Auto(Text);
  bool lossless = false;
  const std::string latin1 = Utf8ToLatin1(utf8, &lossless);
  std::vector<uint8_t> out;
  if (lossless) {
    out.reserve(latin1.size() + 1);
    out.push_back(0);
    out.insert(out.end(), latin1.begin(), latin1.end());
    return out;
  }
  out.reserve(utf8.size() * 2 + 3);
  out.push_back(1);  // UTF-16, little-endian byte-order mark
  out.push_back(0xFF);
  out.push_back(0xFE);
  auto put = [&out](char32_t unit) {
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(utf8, i, cp);
    // `utf8` is well-formed here; the guard only keeps the loop finite.
    if (len == 0) cp = 0xFFFD;
    i += len == 0 ? 1 : len;
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

}  // namespace qv::id3
