#include <unistd.h>

// Calls getpid through this library's own import slot.
extern "C" int CrashlogHookLibPid() {
  return ::getpid();
}
