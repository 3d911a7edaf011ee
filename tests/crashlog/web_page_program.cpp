// Answers a made-up report the way the report pipeline does in a web-server program. The
// exception message carries the request's query text, as one made from request data
// would. A console program unless CRASHLOG_WINDOWED is set; exit status 0 when the page
// was delivered, 1 when not.
#include <cstdlib>
#include <string>

#include "crashlog/web_page.h"

int main() {
  const char* query = std::getenv("QUERY_STRING");
  const std::string report =
      "1.1 Date          : Sunday, 6 December 2026\r\n"
      "1.2 Exception     : EAccessViolation\r\n"
      "1.3 Message       : Bad \"item\" <" +
      std::string(query != nullptr ? query : "") +
      "> & more\r\n"
      "1.4 Module        : Überprüfung.exe\n";
  const bool console = std::getenv("CRASHLOG_WINDOWED") == nullptr;
  return qv::ReportToWebHost(console, "Error <occurred>", report) ? 0 : 1;
}
