// Disc arrival and removal for the main window, and the AutoRun policy while the program
// runs. `TCDEvents` decodes the system's device-change broadcast as the hidden window of
// the platform it was written for receives it; here the broadcasts are made from the media
// watcher's polls of the drive list (`PollMedia`, called from a timer of the owner's message
// loop). `TCDOptions` switches AutoRun for CD drives off in the registry stand-in and puts
// the earlier value back at the end; it never touches the desktop's own settings. Main
// thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/component.h"
#include "platform/base/persistent.h"
#include "platform/msg/messages.h"

namespace qv {

class MediaWatcher;

// What the device-change broadcast carries.
inline constexpr uint32_t DBT_DEVTYP_VOLUME = 2;
inline constexpr uint16_t DBTF_MEDIA = 1;

struct DEV_BROADCAST_HDR {
  uint32_t dbch_size = 0;
  uint32_t dbch_devicetype = 0;
  uint32_t dbch_reserved = 0;
};
struct DEV_BROADCAST_VOLUME {
  DEV_BROADCAST_HDR dbcv_hdr{sizeof(DEV_BROADCAST_VOLUME), DBT_DEVTYP_VOLUME, 0};
  uint32_t dbcv_unitmask = 0;
  uint16_t dbcv_flags = 0;
};

class TCDOptions : public TPersistent {
 public:
  // Remembers the current AutoRun state.
  TCDOptions();
  // Writes the remembered state back when `Reset` is set.
  ~TCDOptions() override;
  // From another TCDOptions: copies the fields (the property assignment); anything else is
  // refused with EConvertError.
  void Assign(const TPersistent& Source) override;
  [[nodiscard]] std::string ClassName() const override { return "TCDOptions"; }

  // True unless the policy value has the CD-ROM bit (0x20); a missing key or value is True.
  [[nodiscard]] bool AutoRun() const;
  // Changes the bit of an existing value, keeping its type (integer or 4 binary bytes);
  // a missing value, or one of another type, is left alone.
  void SetAutoRun(bool Value);
  bool Reset = true;

 private:
  bool initial_ = true;
};

enum class TNotifyMode { nmNone, nmEvent, nmScan };
using TDeviceChangeEvent = std::function<void(TComponent* Sender, char FirstDriveLetter)>;

class TCDEvents : public TComponent {
 public:
  explicit TCDEvents(TComponent* AOwner);
  ~TCDEvents() override;

  [[nodiscard]] TCDOptions& Options() { return *options_; }
  void SetOptions(const TCDOptions& Value) { options_->Assign(Value); }
  bool Enabled = true;
  TNotifyMode NotifyMode = TNotifyMode::nmEvent;
  TDeviceChangeEvent AfterArrival;
  TDeviceChangeEvent AfterRemove;

  // The roots of the CD drives found at creation ("D:\", ...).
  [[nodiscard]] const std::vector<std::string>& Drives() const { return drives_; }

  // The hidden window: it decodes the device-change broadcast (WM_DEVICECHANGE with a
  // DEV_BROADCAST_VOLUME in LParam); anything else gets the default answer.
  [[nodiscard]] HWND Handle() const { return handle_; }
  // Polls `Watcher` (null: the program's drive list) every `Interval` (0: 1000 ms, or
  // QUORVEL_MEDIA_POLL_MS) from a timer of the hidden window. A variable that is no whole
  // number of milliseconds from 1 to a day is told to `Problem` and 1000 ms used.
  void WatchMedia(std::unique_ptr<MediaWatcher> Watcher = nullptr,
                  std::chrono::milliseconds Interval = {},
                  const std::function<void(const std::string&)>& Problem = {});
  // Sends the watcher's changes since its last poll to the hidden window as broadcasts.
  void PollMedia(MediaWatcher& Watcher);

 private:
  LRESULT WndProc(HWND Handle, UINT Msg, WPARAM WParam, LPARAM LParam);
  void DeviceChange(WPARAM Event, const DEV_BROADCAST_HDR* Header);

  HWND handle_ = 0;
  std::unique_ptr<TCDOptions> options_;
  std::vector<std::string> drives_;
  std::unique_ptr<MediaWatcher> watcher_;
};

}  // namespace qv
