// The one list of CD drives the whole program shares: the disc images named in QUORVEL_CDROM
// (";"-separated .cue paths) first, then the real drives /dev/sr0, /dev/sr1, ... in number
// order. Index i is the same drive in the CD input, the CD database and the media watcher, and
// has the letter 'D' + i. No drive at all is a valid answer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class DriveKind { Image, Device };

struct DriveInfo {
  DriveKind Kind = DriveKind::Image;
  std::string Path;  // absolute path of the .cue sheet, or the device node
  char Letter = 'D';
  friend bool operator==(const DriveInfo&, const DriveInfo&) = default;
};

// Letters run from D to Z, so the list stops at 23 drives.
inline constexpr std::size_t kMaxDrives = 23;

// From the environment and /dev.
[[nodiscard]] std::vector<DriveInfo> ListDrives();
// From an explicit image list and device folder; relative image paths are made absolute against
// the current directory, empty items are skipped.
[[nodiscard]] std::vector<DriveInfo> ListDrives(std::string_view imageList,
                                                const std::string& deviceDir);

}  // namespace qv
