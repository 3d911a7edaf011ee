#include "platform/services/sys_error.h"

namespace qv {

std::string SysErrorMessage(int code) {
  switch (code) {
    case ERROR_SUCCESS:
      return "The operation completed successfully.";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "Not enough memory is available to complete the operation.";
    case ERROR_INVALID_PARAMETER:
      return "A parameter is not valid.";
    case ERROR_INTERNET_INVALID_URL:
      return "The URL is not valid.";
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
      return "The URL scheme is not recognised or not supported.";
    default:
      return "Unknown error " + std::to_string(code) + ".";
  }
}

}  // namespace qv
