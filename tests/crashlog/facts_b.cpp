// A second library with a logger of its own, made after the first: its logger is the one
// that takes the process's faults.
#include "crashlog/except_notify.h"

extern "C" [[gnu::visibility("default")]] bool FactsBActive() {
  return qv::OstrelLogActive();
}
