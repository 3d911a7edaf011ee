// Text frame content: the program's UTF-8 strings in the encodings the tag allows.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace qv::id3 {

// The content of a text frame: encoding byte 0 and ISO-8859-1 when every character fits,
// else encoding 1 (UTF-16 with a byte-order mark), which both tag versions accept. Bytes that
// are not valid UTF-8 are taken as Windows-1252. No terminator is added.
std::vector<uint8_t> EncodeTextFrame(std::string_view Text);

}  // namespace qv::id3
