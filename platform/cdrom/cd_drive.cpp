#include "platform/cdrom/cd_drive.h"

#include "platform/cdrom/device_drive.h"
#include "platform/cdrom/image_drive.h"

namespace qv {

std::unique_ptr<CdDrive> OpenCdDrive(const DriveInfo& info) {
  if (info.Kind == DriveKind::Device) return std::make_unique<DeviceDrive>(info);
  return std::make_unique<ImageDrive>(info);
}

}  // namespace qv
