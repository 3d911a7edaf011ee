// Notices discs arriving in and leaving the drives of the drive list by polling their media
// state: each `Poll` compares every drive with the previous poll and reports the changes. It
// starts no thread and never blocks longer than one status query per drive; the owner calls it
// from a timer. One thread at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/cdrom/cd_drive.h"

namespace qv {

struct MediaChange {
  std::size_t Index = 0;  // in the drive list
  char Letter = 'D';
  bool Arrived = false;  // false: the disc was removed
  friend bool operator==(const MediaChange&, const MediaChange&) = default;
};

struct MediaPoll {
  std::vector<std::size_t> Present;  // drives with a disc, ascending
  std::vector<MediaChange> Changes;  // removals before arrivals of the same drive
};

class MediaWatcher {
 public:
  // Asks drive i of `drives` for its media state.
  using Probe = std::function<MediaStatus(std::size_t)>;

  // Watches the program's drive list (QUORVEL_CDROM, then /dev/sr*).
  MediaWatcher();
  MediaWatcher(std::vector<DriveInfo> drives, Probe probe);
  ~MediaWatcher();
  MediaWatcher(const MediaWatcher&) = delete;
  MediaWatcher& operator=(const MediaWatcher&) = delete;

  [[nodiscard]] const std::vector<DriveInfo>& Drives() const { return drives_; }
  // The first poll reports what is present without changes; a drive whose state cannot be read
  // keeps its last known state.
  MediaPoll Poll();

 private:
  std::vector<DriveInfo> drives_;
  Probe probe_;
  std::vector<std::unique_ptr<CdDrive>> opened_;  // used by the default probe only
  std::vector<MediaStatus> last_;
  bool first_ = true;
};

}  // namespace qv
