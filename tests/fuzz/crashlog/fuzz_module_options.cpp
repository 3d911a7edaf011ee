// libFuzzer target over the logger's option stream: the first byte picks one of the data
// versions, the rest is the stream. Any bytes must load or be refused with
// EOptionStreamError; what loads must save and load again to the same bytes.
#include <cstdint>
#include <cstdlib>

#include "crashlog/module_options.h"
#include "platform/base/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int versions[] = {401, 403, 420, 421, 422, 450, 454};
  if (size == 0) return 0;
  const int version = versions[data[0] % (sizeof versions / sizeof versions[0])];
  qv::TMemoryStream input;
  input.WriteBuffer(data + 1, int64_t(size - 1));
  input.SetPosition(0);
  qv::TOstrelModuleOptions options;
  try {
    options.LoadFromStream(input, version);
  } catch (const qv::EOptionStreamError&) {
    return 0;
  }
  qv::TMemoryStream saved;
  options.SaveToStream(saved);
  saved.SetPosition(0);
  qv::TOstrelModuleOptions again;
  again.LoadFromStream(saved, qv::OstrelCurrentDataVersion);
  qv::TMemoryStream resaved;
  again.SaveToStream(resaved);
  if (resaved.Bytes() != saved.Bytes()) std::abort();
  return 0;
}
