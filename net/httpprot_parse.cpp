#include "net/httpprot_parse.h"
#include "platform/base/text.h"

#include <algorithm>
#include <cctype>

namespace qv {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

TStatusLine ParseStatusLine(std::string_view Line, std::string& Version, int& StatusCode,
                            std::string& ReasonPhrase) {
  if (Line.size() < 8) return TStatusLine::NotHttp;
  std::string head(Line.substr(0, 8));
  for (char& c : head) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (head != "HTTP/1.0" && head != "HTTP/1.1") return TStatusLine::NotHttp;
  if (Line.size() < 12 || Line[8] != ' ') return TStatusLine::Malformed;
  int code = 0;
  for (std::size_t i = 9; i < 12; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(Line[i]))) return TStatusLine::Malformed;
    code = code * 10 + (Line[i] - '0');
  }
  if (Line.size() > 12 && Line[12] != ' ') return TStatusLine::Malformed;
  Version = std::string(Line.substr(5, 3));
  StatusCode = code;
  ReasonPhrase = Line.size() > 13 ? std::string(Line.substr(13)) : std::string();
  return TStatusLine::Ok;
}

bool SplitHeaderField(std::string_view Line, std::string& Name, std::string& Value) {
  const auto colon = Line.find(':');
  if (colon == std::string_view::npos) return false;
  Name.assign(Line.substr(0, colon));
  for (char& c : Name) c = char(std::tolower(static_cast<unsigned char>(c)));
  std::string_view v = Line.substr(colon + 1);
  while (!v.empty() && IsBlank(v.front())) v.remove_prefix(1);
  Value.assign(v);
  return true;
}

std::int64_t ParseContentLength(std::string_view Value) {
  const std::string_view v = TrimSpaces(Value);
  if (v.empty() || v.size() > 18) return -1;
  std::int64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

void ParseContentRange(std::string_view Value, std::string& Begin, std::string& End) {
  Begin.clear();
  End.clear();
  if (Value.size() <= 6) return;
  const std::string_view range = Value.substr(6);  // after "bytes "
  const auto dash = range.find('-');
  if (dash == std::string_view::npos) return;
  Begin.assign(TrimSpaces(range.substr(0, dash)));
  const auto slash = range.find('/', dash + 1);
  End.assign(TrimSpaces(range.substr(
      dash + 1, slash == std::string_view::npos ? std::string_view::npos : slash - dash - 1)));
}

void THttpChunkDecoder::Reset() {
  *this = THttpChunkDecoder();
}

THttpChunkDecoder::TResult THttpChunkDecoder::Feed(const char* Data, std::size_t Len,
                                                   std::size_t& Consumed, const Sink& Out) {
  std::size_t i = 0;
  while (i < Len && state_ != httpChunkDone) {
    const char c = Data[i];
    switch (state_) {
      case httpChunkGetSize: {
        const int d = HexDigit(c);
        if (d < 0) {
          if (sizeDigits_ == 0) {
            Consumed = i;
            return Error;
          }
          state_ = httpChunkGetExt;  // this byte is looked at again there
          break;
        }
        chunkLength_ = chunkLength_ * 16 + d;
        ++sizeDigits_;
        if (chunkLength_ > kMaxChunk) {
          Consumed = i;
          return Error;
        }
        ++i;
        break;
      }
      case httpChunkGetExt:
        ++i;
        if (c == '\n') state_ = chunkLength_ == 0 ? httpChunkSkipTrailer : httpChunkGetData;
        break;
      case httpChunkGetData: {
        const std::size_t n = std::size_t(
            std::min<std::int64_t>(chunkLength_ - chunkReceived_, std::int64_t(Len - i)));
        if (n > 0 && Out) Out(Data + i, n);
        chunkReceived_ += std::int64_t(n);
        i += n;
        if (chunkReceived_ == chunkLength_) state_ = httpChunkSkipDataEnd;
        break;
      }
      case httpChunkSkipDataEnd:
        ++i;
        if (c == '\n') {
          state_ = httpChunkGetSize;
          chunkLength_ = chunkReceived_ = 0;
          sizeDigits_ = 0;
        }
        break;
      case httpChunkSkipTrailer:
        ++i;
        if (c == '\n') {
          if (trailerLineEmpty_) state_ = httpChunkDone;
          trailerLineEmpty_ = true;
        } else if (c != '\r') {
          trailerLineEmpty_ = false;
        }
        break;
      case httpChunkDone:
        break;
    }
  }
  Consumed = i;
  return state_ == httpChunkDone ? Complete : Continue;
}

}  // namespace qv
