// Base64 (RFC 4648) for mail and HTTP credentials, line-wise base64 of a file for
// mail attachments, and a content type chosen from a file name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

class TStream;

std::string MimeBase64Encode(std::string_view Text);
// Groups of four from the start; "=" ends its group's output. A character outside the
// alphabet counts as a zero digit, and a short last group yields the bytes it holds.
std::string MimeBase64Decode(std::string_view Text);

std::string FilenameToContentType(std::string_view FileName);

// Opens the file for reading (sharing modes are accepted and ignored); raises
// EFOpenError when it cannot be opened.
std::unique_ptr<TStream> InitFileEncBase64(const std::string& FileName, std::uint16_t ShareMode);
// Next base64 line (up to 54 bytes, 72 characters). More stays true while the file
// has bytes beyond this line.
std::string DoFileEncBase64(std::unique_ptr<TStream>& Stream, bool& More);
void EndFileEncBase64(std::unique_ptr<TStream>& Stream);

}  // namespace qv
