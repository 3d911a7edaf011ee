#include <unistd.h>

// Built twice, answering OWN_VALUE: the copy that a module's own calls reach, and the copy
// that holds the same names elsewhere.
extern "C" int CrashlogOwnValue() {
  return OWN_VALUE;
}

// Calls the routine above through this library's own import slot.
extern "C" int CrashlogOwnCall() {
  return CrashlogOwnValue();
}

// Calls getpid through an import slot that nothing binds before the first call.
extern "C" int CrashlogOwnPid() {
  return ::getpid();
}
