// The platform's URL cracker: splits a URL into scheme, host, port, credentials, path and
// extra information (query and fragment), over libcurl's URL parser. Every part is a string
// of its own length, so a long URL is never cut short (the parser itself refuses input of
// 8 MB or more). Pure and thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Escape the characters a URL may not carry as they stand.
inline constexpr uint32_t ICU_ESCAPE = 0x80000000;

struct TURLComponents {
  std::string Scheme;    // lower case: "http", "https", "ftp", ...
  std::string HostName;  // as written; an IPv6 address keeps its brackets
  uint16_t Port = 0;     // the scheme's default when the URL gives none; 0 when it has none
  std::string UserName;  // as written; "" when the URL names none
  std::string Password;
  std::string UrlPath;    // "/" when the URL names no path
  std::string ExtraInfo;  // "?query", "#fragment" or both in that order; "" when neither
};

// Cracks `url` into `components` and returns ERROR_SUCCESS, or leaves `components` empty and
// returns ERROR_INTERNET_INVALID_URL, ERROR_INTERNET_UNRECOGNIZED_SCHEME (a scheme the parser
// does not know, or none) or ERROR_NOT_ENOUGH_MEMORY (see sys_error.h). With ICU_ESCAPE the
// path and the extra information get space, the bytes above 0x7E and `"<>\^`{|}` as %XX;
// without it they are kept as written. Control characters are refused either way; escapes
// already in the URL and dot segments of the path are kept.
[[nodiscard]] int InternetCrackUrl(std::string_view url, uint32_t flags,
                                   TURLComponents& components);

}  // namespace qv
