// The Windows-style error codes the platform services report, and the system's text for a
// code as the class library's SysErrorMessage gives it. Pure and thread-safe.
#pragma once

#include <string>

namespace qv {

inline constexpr int ERROR_SUCCESS = 0;
inline constexpr int ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr int ERROR_INVALID_PARAMETER = 87;
inline constexpr int ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr int ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;

// The text for `code`, one sentence ending in a full stop; a code the platform never
// reports gives "Unknown error <code>.".
[[nodiscard]] std::string SysErrorMessage(int code);

}  // namespace qv
