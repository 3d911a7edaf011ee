// Fails with an exception that nothing catches, with the exception logger installed, as a
// program run by a web server would. Its message carries the request's query text, as one
// made from request data would. A console program unless CRASHLOG_WINDOWED is set.
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "crashlog/except_notify.h"
#include "platform/classlib/dialogs.h"

int main() {
  qv::SetMessageBoxesUnattended(true);
  qv::SetOstrelConsoleProgram(std::getenv("CRASHLOG_WINDOWED") == nullptr);
  qv::CurrentOstrelLogOptions().SetSaveLogFile(false);
  const char* query = std::getenv("QUERY_STRING");
  throw std::runtime_error("Bad \"item\" <" + std::string(query != nullptr ? query : "") +
                           "> & more in Überprüfung");
}
