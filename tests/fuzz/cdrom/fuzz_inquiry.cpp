// INQUIRY answers come from drives: any answer must parse to texts within their fields or be
// refused with ECdromError, and what parses must build back to an answer that parses the same.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/scsi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const qv::InquiryData id = qv::ParseInquiry(std::span(data, size));
    if (id.VendorId.size() > 8 || id.ProductId.size() > 16 || id.Revision.size() > 4 ||
        id.VendorSpecific.size() > 20 || id.DeviceType > 0x1F)
      __builtin_trap();
    const qv::InquiryData again = qv::ParseInquiry(qv::BuildInquiry(id));
    if (again.VendorId != id.VendorId || again.ProductId != id.ProductId ||
        again.Revision != id.Revision || again.VendorSpecific != id.VendorSpecific ||
        again.DeviceType != id.DeviceType)
      __builtin_trap();
  } catch (const qv::ECdromError&) {
  }
  return 0;
}
