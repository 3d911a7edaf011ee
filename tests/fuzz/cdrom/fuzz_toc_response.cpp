// READ TOC answers come from drives; a broken or hostile one must not make the parser read past
// the answer or accept a table that could not be on a disc.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/scsi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool msf = data[0] & 1;
  const std::span<const std::uint8_t> answer(data + 1, size - 1);
  try {
    const qv::CdToc toc = qv::ParseTocResponse(answer, msf);
    // What parses must build back to an answer that parses to the same table.
    if (qv::ParseTocResponse(qv::BuildTocResponse(toc, msf), msf) != toc) __builtin_trap();
  } catch (const qv::ECdromError&) {
  }
  (void)qv::DecodeSense(answer);
  return 0;
}
