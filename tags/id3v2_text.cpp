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
  // `utf8` is well-formed here, so each lead byte gives its sequence's length.
  for (size_t i = 0; i < utf8.size();) {
    const auto b0 = static_cast<uint8_t>(utf8[i]);
    const int len = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
    i += static_cast<size_t>(len);
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
