// Any bytes as the report dialog's stored placement ("OstrelLog.ini"), for a screen and a
// check-box area the first bytes pick: the detailed view it gives lies on the screen
// with a size no window can lack, and the stored state is one of the three.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crashlog/report_layout.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  qv::TDialogMetrics metrics;
  metrics.screenWidth = 320 + data[0] * 32;
  metrics.screenHeight = 240 + data[1] * 32;
  const int boxes = data[2] & 1 ? 34 : 20;
  const std::string path = qv::fuzz::ScratchDir() + "OstrelLog.ini";
  qv::fuzz::WriteFile(path, qv::fuzz::Text(data + 3, size - 3));
  const qv::TSavedLayout l = qv::LoadLayout(path, metrics, boxes);
  if (l.width < 1 || l.height < 1 || l.left < 0 || l.top < 0) std::abort();
  if (l.width > metrics.screenWidth || l.height + boxes > metrics.screenHeight) std::abort();
  if (l.left + l.width > metrics.screenWidth) std::abort();
  if (l.top + l.height > metrics.screenHeight) std::abort();
  if (l.state != 1 && l.state != 3 && l.state != 6) std::abort();
  for (const int column : l.stackColumns)
    if (column < 0) std::abort();
  for (const int column : l.moduleColumns)
    if (column < 0) std::abort();
  return 0;
}
