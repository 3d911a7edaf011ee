// A library with a logger of its own: it notes an exception of its own class and then fails
// while handling it. The logger of the other library reports the fault.
#include <stdexcept>
#include <string>

#include "crashlog/except_notify.h"

namespace {

class TTrayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[gnu::noinline, gnu::no_sanitize("undefined")]] void WriteThrough(volatile int* target) {
  *target = 7;
}

}  // namespace

extern "C" [[gnu::visibility("default")]] void FactsAConfigure(const char* folder) {
  qv::TOstrelModuleOptions& options = qv::CurrentOstrelLogOptions();
  options.SetOutputPath(folder);
  options.SetShowExceptionDialog(false);
  options.SetSendWay(qv::swNone);
  options.SetSaveLogFile(true);
}

extern "C" [[gnu::visibility("default")]] void FactsAFailWhileHandling() {
  try {
    throw TTrayError("Tray motor stalled");
  } catch (const TTrayError&) {
    WriteThrough(nullptr);
  }
}
