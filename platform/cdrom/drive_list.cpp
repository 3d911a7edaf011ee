#include "platform/cdrom/drive_list.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qv {
namespace {

// The N of "srN", or -1 for any other name.
long DeviceNumber(const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "sr") != 0 || name.size() > 12) return -1;
  long n = 0;
  for (std::size_t i = 2; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

}  // namespace

std::vector<DriveInfo> ListDrives() {
  const char* images = std::getenv("QUORVEL_CDROM");
  return ListDrives(images ? images : "", "/dev");
}

std::vector<DriveInfo> ListDrives(std::string_view imageList, const std::string& deviceDir) {
  std::vector<DriveInfo> drives;
  auto add = [&drives](DriveKind kind, std::string path) {
    if (drives.size() >= kMaxDrives) return;
    drives.push_back(DriveInfo{kind, std::move(path), static_cast<char>('D' + drives.size())});
  };

  while (!imageList.empty()) {
    const std::size_t sep = imageList.find(';');
    std::string_view item = imageList.substr(0, sep);
    imageList = sep == std::string_view::npos ? std::string_view{} : imageList.substr(sep + 1);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (item.empty()) continue;
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(item), ec);
    add(DriveKind::Image, ec ? std::string(item) : path.lexically_normal().string());
  }

  std::vector<std::pair<long, std::string>> devices;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(deviceDir, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const long number = DeviceNumber(name);
    if (number >= 0) devices.emplace_back(number, it->path().string());
  }
  std::sort(devices.begin(), devices.end());
  for (auto& [number, path] : devices) add(DriveKind::Device, std::move(path));
  return drives;
}

}  // namespace qv
