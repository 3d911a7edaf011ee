// The string helpers of the WinInet-style HTTP component: Base64 for the files and streams
// it posts, replacing every occurrence of a text in place, and a stream's bytes as a string.
// Pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace qv {

class TStream;

// Standard Base64 (A-Z, a-z, 0-9, "+", "/"), "=" padding, no line breaks.
[[nodiscard]] std::string Base64Encode(std::string_view S);

// Replaces every occurrence of `Find` in `S` by `Replacement`, left to right, in one pass:
// a replacement that contains `Find` is not searched again, and every other byte (control
// characters too) is kept. An empty `Find` changes nothing.
void ReplaceAll(std::string& S, std::string_view Find, std::string_view Replacement);

// The whole content of `Stream`, from its start, as a string; the position ends at the end.
[[nodiscard]] std::string StreamToString(TStream& Stream);

}  // namespace qv
