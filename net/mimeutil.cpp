#include "net/mimeutil.h"

#include <algorithm>
#include <cctype>
#include "platform/base/streams.h"

namespace qv {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DigitValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

std::string Encode(const unsigned char* p, std::size_t n) {
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  for (std::size_t i = 0; i < n; i += 3) {
    const std::size_t left = n - i;
    const unsigned v = unsigned(p[i]) << 16 | (left > 1 ? unsigned(p[i + 1]) << 8 : 0) |
                       (left > 2 ? unsigned(p[i + 2]) : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += left > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += left > 2 ? kAlphabet[v & 63] : '=';
  }
  return out;
}

}  // namespace

std::string MimeBase64Encode(std::string_view Text) {
  return Encode(reinterpret_cast<const unsigned char*>(Text.data()), Text.size());
}

std::string MimeBase64Decode(std::string_view Text) {
  std::string out;
  out.reserve(Text.size() / 4 * 3 + 3);
  for (std::size_t i = 0; i < Text.size(); i += 4) {
    const std::size_t n = std::min<std::size_t>(4, Text.size() - i);
    std::size_t digits = n;
    for (std::size_t k = 0; k < n; ++k) {
      if (Text[i + k] == '=') {
        digits = k;
        break;
      }
    }
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = v << 6 | (k < digits ? DigitValue(Text[i + k]) : 0);
    // d digits carry d - 1 whole bytes.
    for (std::size_t k = 0; k + 1 < digits; ++k) out += char((v >> (16 - 8 * k)) & 0xFF);
  }
  return out;
}

std::string FilenameToContentType(std::string_view FileName) {
  const auto dot = FileName.rfind('.');
  if (dot == std::string_view::npos) return "application/octet-stream";
  std::string ext(FileName.substr(dot + 1));
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "htm" || ext == "html") return "text/html";
  if (ext == "gif") return "image/gif";
  if (ext == "bmp") return "image/bmp";
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "txt") return "text/plain";
  return "application/octet-stream";
}

std::unique_ptr<TStream> InitFileEncBase64(const std::string& FileName, std::uint16_t ShareMode) {
  return std::make_unique<TFileStream>(FileName, std::uint16_t(fmOpenRead | ShareMode));
}

std::string DoFileEncBase64(std::unique_ptr<TStream>& Stream, bool& More) {
  More = false;
  if (!Stream) return {};
  unsigned char block[54];
  const auto got = static_cast<std::size_t>(Stream->Read(block, sizeof block));
  // Decided by the end of the file rather than by a full last group, so a file whose
  // length is a multiple of three gets no empty line at its end.
  More = got == sizeof block && Stream->Position() < Stream->Size();
  return Encode(block, got);
}

void EndFileEncBase64(std::unique_ptr<TStream>& Stream) {
  Stream.reset();
}

}  // namespace qv
