#include "platform/ui/display_backend.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/ui/headless_backend.h"
#include "platform/ui/x11_backend.h"

namespace qv {

namespace {

// One number of a geometry at `at`: digits, with a sign in front when `sign` says it must
// have one. A number too large for any type counts as no number.
bool TakeNumber(std::string_view text, std::size_t& at, bool sign, long long& value) {
  std::size_t begin = at;
  if (sign) {
    if (at >= text.size() || (text[at] != '+' && text[at] != '-')) return false;
    begin = text[at] == '+' ? at + 1 : at;
    ++at;
  }
  if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + begin, end, value);
  if (error != std::errc()) return false;
  at = std::size_t(stop - text.data());
  return true;
}

// "WxH+X+Y" (either position may be negative: "-1280+0"), nothing before or after.
bool ParseGeometry(std::string_view text, long long& w, long long& h, long long& x, long long& y) {
  std::size_t at = 0;
  if (!TakeNumber(text, at, false, w) || at >= text.size() || text[at++] != 'x') return false;
  return TakeNumber(text, at, false, h) && TakeNumber(text, at, true, x) &&
         TakeNumber(text, at, true, y) && at == text.size();
}

}  // namespace

std::optional<Rect> ScreenRect(long long x, long long y, long long w, long long h) {
  constexpr long long limit = kMaxScreenExtent;
  const auto within = [](long long v) { return v >= -limit && v <= limit; };
  if (w < 1 || h < 1 || w > limit || h > limit || !within(x) || !within(y) || !within(x + w) ||
      !within(y + h))
    return std::nullopt;
  return Bounds(int(x), int(y), int(w), int(h));
}

std::vector<Monitor> ParseMonitorList(std::string_view list, std::vector<std::string>& refused) {
  std::vector<Monitor> monitors;
  Rect desktop;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string_view entry = list.substr(start, comma - start);
    start = comma + 1;
    long long w = 0, h = 0, x = 0, y = 0;
    std::optional<Rect> r;
    const char* why = "it is not a geometry such as 1920x1080+0+0";
    if (ParseGeometry(entry, w, h, x, y)) {
      r = ScreenRect(x, y, w, h);
      why = "no screen is that large or that far out (each side and position up to 16384)";
      if (r) {
        const Rect grown = Union(desktop, *r);
        if (grown.Width() > kMaxScreenExtent || grown.Height() > kMaxScreenExtent) {
          r.reset();
          why = "the monitors together would be larger than 16384 on a side";
        } else {
          desktop = grown;
        }
      }
    }
    if (r) {
      monitors.push_back({*r, *r, monitors.empty()});
    } else {
      refused.push_back("QUORVEL_MONITORS entry \"" + std::string(entry) + "\" ignored: " + why);
    }
  }
  return monitors;
}

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
