#include "platform/ui/display_backend.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/ui/headless_backend.h"
#include "platform/ui/x11_backend.h"

namespace qv {

std::unique_ptr<DisplayBackend> CreateDisplayBackendFromEnvironment() {
  const char* env = std::getenv("QUORVEL_DISPLAY");
  const std::string choice = env ? env : "";
  if (choice == "headless") return HeadlessBackend::FromEnvironment();
  if (choice == "x11") {
    // Asked for by name: not finding a display is an error, not a quiet change of mode.
    if (auto x11 = X11Backend::Open(nullptr)) return x11;
    const char* display = std::getenv("DISPLAY");
    throw std::runtime_error(std::string("QUORVEL_DISPLAY=x11, but the X display \"") +
                             (display ? display : "") + "\" does not open");
  }
  if (!choice.empty()) {
    std::fprintf(stderr, "quorvel: QUORVEL_DISPLAY=%s is neither x11 nor headless; ignored\n",
                 choice.c_str());
  }
  if (auto x11 = X11Backend::Open(nullptr)) return x11;
  std::fprintf(stderr, "quorvel: no X display; running headless\n");
  return HeadlessBackend::FromEnvironment();
}

}  // namespace qv
