// Parsers for the pieces of an HTTP response, kept apart from the client component so
// they can be tested and fuzzed on their own: the status line, a header field, the
// integer of Content-Length, Content-Range, and the chunked transfer coding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qv {

enum class TStatusLine { NotHttp, Ok, Malformed };

// "HTTP/1.x nnn reason": the version is "1.0" or "1.1", the code three digits.
TStatusLine ParseStatusLine(std::string_view Line, std::string& Version, int& StatusCode,
                            std::string& ReasonPhrase);

// Name (lower case) before the first ':', value after it without leading blanks.
bool SplitHeaderField(std::string_view Line, std::string& Name, std::string& Value);

// Trimmed decimal value; -1 when it is not a non-negative number that fits.
std::int64_t ParseContentLength(std::string_view Value);

// "bytes b-e/total": b and e as texts (empty when absent).
void ParseContentRange(std::string_view Value, std::string& Begin, std::string& End);

enum THttpChunkState {
  httpChunkGetSize,
  httpChunkGetExt,
  httpChunkGetData,
  httpChunkSkipDataEnd,
  httpChunkDone,
  httpChunkSkipTrailer,  // after the last chunk: trailer lines through the empty line
};

// Decodes a chunked body fed in pieces of any size. Chunk data goes to the sink as it
// arrives; the decoder stops at the end of the body so what follows stays unread.
class THttpChunkDecoder {
 public:
  enum TResult { Continue, Complete, Error };
  using Sink = std::function<void(const char* Data, std::size_t Len)>;

  // Chunks above this size are refused as malformed (they cannot be a real answer
  // to this client, and larger values would overflow the count).
  static constexpr std::int64_t kMaxChunk = 0x7FFFFFFF;

  void Reset();
  // Consumes bytes from Data; Consumed tells how many. Complete once the last chunk
  // and its trailer have been read; Error for a malformed size.
  TResult Feed(const char* Data, std::size_t Len, std::size_t& Consumed, const Sink& Out);
  [[nodiscard]] THttpChunkState State() const { return state_; }

 private:
  THttpChunkState state_ = httpChunkGetSize;
  std::int64_t chunkLength_ = 0;
  std::int64_t chunkReceived_ = 0;
  int sizeDigits_ = 0;
  bool trailerLineEmpty_ = true;
};

}  // namespace qv
