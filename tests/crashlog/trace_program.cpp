// Traces a few nested routines, a warning and an internal error, then ends without
// saving, so only the switches decide what reaches "<program>.log".
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "crashlog/trace_log.h"
#include "platform/classlib/dialogs.h"

namespace {

struct TReport {
  virtual ~TReport() = default;
};

const unsigned char dump_bytes[32] = {0x00, 0x01, 0x7F, 0x80, 0xAB, 0xFF};

}  // namespace

int main() {
  qv::SetMessageBoxesUnattended(true);
  if (const char* recipient = std::getenv("CRASHLOG_BUG_RECIPIENT")) {
    qv::SetInternalBugRecipient(recipient);
  }
  TReport report;
  const TReport* none = nullptr;
  qv::TraceLog("ExceptNotify", {&report, 42, true, "text", none}, +2);
  qv::TraceLog("BuildCallStack", {2.5, 'x'}, +2);
  qv::TraceText("BuildCallStack=3", -2);
  qv::Warning(qv::eeEmailSMTPError, "Socket timeout.");
  try {
    throw std::runtime_error("Stack list is empty");
  } catch (...) {
    qv::InternalError("ExceptNotify", dump_bytes);
  }
  qv::TraceText("ExceptNotify=False", -2);
  std::printf("saved to '%s'\n", qv::SavedTraceFileName().c_str());
  std::fflush(stdout);
  ::_exit(0);
}
