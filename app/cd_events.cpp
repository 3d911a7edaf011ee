#include "app/cd_events.h"

#include <cstring>

#include "platform/base/registry.h"
#include "platform/cdrom/drive_list.h"
#include "platform/cdrom/media_watcher.h"

namespace qv {

namespace {

constexpr const char* kPolicyKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kPolicyValue = "NoDriveTypeAutoRun";
constexpr uint32_t kCdRomBit = 0x20;

// The policy value as stored, when it is an integer or 4 binary bytes.
bool ReadPolicy(TRegistry& Registry, uint32_t& Value, bool& Binary) {
  if (!Registry.ValueExists(kPolicyValue)) return false;
  const TRegDataType type = Registry.GetDataType(kPolicyValue);
  if (type == rdInteger) {
    Value = uint32_t(Registry.ReadInteger(kPolicyValue));
    Binary = false;
    return true;
  }
  if (type == rdBinary) {
    const std::vector<uint8_t> bytes = Registry.ReadBinaryData(kPolicyValue);
    if (bytes.size() != 4) return false;
    std::memcpy(&Value, bytes.data(), 4);  // little-endian, as stored
    Binary = true;
    return true;
  }
  return false;
}

}  // namespace

TCDOptions::TCDOptions() {
  initial_ = AutoRun();
}

TCDOptions::~TCDOptions() {
  if (!Reset) return;
  try {
    SetAutoRun(initial_);
  } catch (const std::exception&) {
    // The registry file could not be written: nothing else to do on the way out.
  }
}

void TCDOptions::Assign(const TCDOptions& Source) {
  Reset = Source.Reset;
  SetAutoRun(Source.AutoRun());
}

bool TCDOptions::AutoRun() const {
  try {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_CURRENT_USER);
    if (!registry.OpenKeyReadOnly(kPolicyKey)) return true;
    uint32_t value = 0;
    bool binary = false;
    if (!ReadPolicy(registry, value, binary)) return true;
    return (value & kCdRomBit) == 0;
  } catch (const std::exception&) {
    return true;
  }
}

void TCDOptions::SetAutoRun(bool Value) {
  TRegistry registry;
  registry.SetRootKey(HKEY_CURRENT_USER);
  if (!registry.KeyExists(kPolicyKey) || !registry.OpenKey(kPolicyKey, false)) return;
  uint32_t value = 0;
  bool binary = false;
  if (!ReadPolicy(registry, value, binary)) return;
  value = Value ? (value & ~kCdRomBit) : (value | kCdRomBit);
  if (binary) {
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    registry.WriteBinaryData(kPolicyValue, bytes);
  } else {
    registry.WriteInteger(kPolicyValue, int32_t(value));
  }
}

TCDEvents::TCDEvents(TComponent* AOwner)
    : TComponent(AOwner), options_(std::make_unique<TCDOptions>()) {
  for (const DriveInfo& drive : ListDrives())
    drives_.push_back(std::string(1, drive.Letter) + ":\\");
}

TCDEvents::~TCDEvents() = default;

intptr_t TCDEvents::WndProc(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  if (Msg != WM_DEVICECHANGE) return 0;
  if (Enabled && NotifyMode == TNotifyMode::nmEvent)
    DeviceChange(WParam, reinterpret_cast<const DEV_BROADCAST_HDR*>(LParam));
  return 0;
}

void TCDEvents::DeviceChange(uintptr_t Event, const DEV_BROADCAST_HDR* Header) {
  if (Event != DBT_DEVICEARRIVAL && Event != DBT_DEVICEREMOVECOMPLETE) return;
  if (Header == nullptr || Header->dbch_devicetype != DBT_DEVTYP_VOLUME ||
      Header->dbch_size < sizeof(DEV_BROADCAST_VOLUME))
    return;
  // The header is the volume record's first member.
  const auto* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(Header);
  // Only changes of removable media count, not drives coming and going.
  if ((volume->dbcv_flags & DBTF_MEDIA) == 0) return;
  const uint32_t mask = volume->dbcv_unitmask;
  if (mask == 0) return;
  char letter = 'A';
  for (uint32_t m = mask; (m & 1) == 0; m >>= 1) ++letter;
  const TDeviceChangeEvent& handler = Event == DBT_DEVICEARRIVAL ? AfterArrival : AfterRemove;
  if (handler) handler(this, letter);
}

void TCDEvents::PollMedia(MediaWatcher& Watcher) {
  for (const MediaChange& change : Watcher.Poll().Changes) {
    if (change.Letter < 'A' || change.Letter > 'Z') continue;
    DEV_BROADCAST_VOLUME volume;
    volume.dbcv_unitmask = 1u << (change.Letter - 'A');
    volume.dbcv_flags = DBTF_MEDIA;
    WndProc(WM_DEVICECHANGE, change.Arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
            reinterpret_cast<intptr_t>(&volume.dbcv_hdr));
  }
}

}  // namespace qv
