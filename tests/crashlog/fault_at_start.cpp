// Preloaded into a program by a test: the program's first connection to an X display
// (made while it starts, before it has parsed its command line) faults instead. Later
// connections, such as the report dialog's own, are made as usual.
#include <dlfcn.h>

#include <atomic>
#include <cstdint>

using Display = struct _XDisplay;

extern "C" Display* XOpenDisplay(const char* name) {
  static std::atomic<bool> first{true};
  // An address in the never-mapped first page, not a null pointer the compiler may rewrite.
  if (first.exchange(false)) *reinterpret_cast<volatile int*>(std::uintptr_t(16)) = 1;
  using Open = Display* (*)(const char*);
  static const auto real = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "XOpenDisplay"));
  return real != nullptr ? real(name) : nullptr;
}
