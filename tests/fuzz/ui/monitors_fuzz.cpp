// Any bytes as QUORVEL_MONITORS: each entry is a monitor or refused with a line that names
// it; every monitor taken is a screen (sides 1 to the limit, edges within it), the first
// one taken is the only primary, and together they fit in the limit on each side.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/display_backend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view list(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> refused;
  const std::vector<qv::Monitor> monitors = qv::ParseMonitorList(list, refused);
  std::size_t entries = 1;
  for (const char c : list) entries += c == ',';
  if (monitors.size() + refused.size() != entries) std::abort();
  for (const std::string& line : refused)
    if (line.rfind("QUORVEL_MONITORS entry \"", 0) != 0) std::abort();
  constexpr int limit = qv::kMaxScreenExtent;
  qv::Rect desktop;
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    const qv::Monitor& m = monitors[i];
    const qv::Rect& r = m.Bounds;
    if (m.Primary != (i == 0) || !(m.WorkArea == r)) std::abort();
    if (r.Width() < 1 || r.Height() < 1 || r.Width() > limit || r.Height() > limit) std::abort();
    if (r.Left < -limit || r.Top < -limit || r.Right > limit || r.Bottom > limit) std::abort();
    desktop = qv::Union(desktop, r);
  }
  if (desktop.Width() > limit || desktop.Height() > limit) std::abort();
  return 0;
}
