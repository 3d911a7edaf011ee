#include <stdexcept>

// Loaded by the crash program with dlopen after start-up: throws through this library's own
// import slot of the runtime's throw.
extern "C" [[gnu::noinline]] void CrashlogThrowFromLibrary() {
  throw std::runtime_error("Library failed");
}
