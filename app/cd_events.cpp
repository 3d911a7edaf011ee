#include "app/cd_events.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/base/registry.h"
#include "platform/cdrom/drive_list.h"
#include "platform/cdrom/media_watcher.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"

namespace qv {

namespace {

constexpr const char* kPolicyKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr const char* kPolicyValue = "NoDriveTypeAutoRun";
constexpr uint32_t kCdRomBit = 0x20;
constexpr std::uintptr_t kPollTimer = 1;

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

void TCDOptions::Assign(const TPersistent& Source) {
  const auto* options = dynamic_cast<const TCDOptions*>(&Source);
  if (options == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  Reset = options->Reset;
  SetAutoRun(options->AutoRun());
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
  handle_ =
      AllocateHWnd([this](HWND h, UINT m, WPARAM w, LPARAM l) { return WndProc(h, m, w, l); });
  for (const DriveInfo& drive : ListDrives())
    drives_.push_back(std::string(1, drive.Letter) + ":\\");
}

TCDEvents::~TCDEvents() {
  DeallocateHWnd(handle_);
}

void TCDEvents::WatchMedia(std::unique_ptr<MediaWatcher> Watcher,
                           std::chrono::milliseconds Interval,
                           const std::function<void(const std::string&)>& Problem) {
  watcher_ = Watcher ? std::move(Watcher) : std::make_unique<MediaWatcher>();
  // The first poll only learns what is there.
  watcher_->Poll();
  long ms = long(Interval.count());
  if (ms <= 0) {
    constexpr long kDefault = 1000, kLongest = 86400000;
    const char* env = std::getenv("QUORVEL_MEDIA_POLL_MS");
    ms = kDefault;
    if (env != nullptr) {
      char* end = nullptr;
      errno = 0;
      const long value = std::strtol(env, &end, 10);
      if (end != env && *end == '\0' && errno == 0 && value >= 1 && value <= kLongest)
        ms = value;
      else if (Problem)
        Problem("QUORVEL_MEDIA_POLL_MS \"" + std::string(env) +
                "\" ignored: not a whole number of milliseconds from 1 to " +
                std::to_string(kLongest) + "; polling every " + std::to_string(kDefault) + " ms");
    }
  }
  SetTimer(handle_, kPollTimer, UINT(ms));
}

LRESULT TCDEvents::WndProc(HWND Handle, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_TIMER && WParam == kPollTimer && watcher_) {
    PollMedia(*watcher_);
    return 0;
  }
  if (Msg != WM_DEVICECHANGE) return DefWindowProc(Handle, Msg, WParam, LParam);
  if (Enabled && NotifyMode == TNotifyMode::nmEvent)
    DeviceChange(WParam, reinterpret_cast<const DEV_BROADCAST_HDR*>(LParam));
  return 0;
}

void TCDEvents::DeviceChange(WPARAM Event, const DEV_BROADCAST_HDR* Header) {
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
    SendMessage(handle_, WM_DEVICECHANGE,
                change.Arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                reinterpret_cast<LPARAM>(&volume.dbcv_hdr));
  }
}

}  // namespace qv
