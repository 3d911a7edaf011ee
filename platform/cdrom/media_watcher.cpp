#include "platform/cdrom/media_watcher.h"

namespace qv {

MediaWatcher::MediaWatcher() : drives_(ListDrives()) {
  for (const DriveInfo& info : drives_) opened_.push_back(OpenCdDrive(info));
  probe_ = [this](std::size_t i) { return opened_[i]->GetMediaStatus(); };
}

MediaWatcher::MediaWatcher(std::vector<DriveInfo> drives, Probe probe)
    : drives_(std::move(drives)), probe_(std::move(probe)) {}

MediaWatcher::~MediaWatcher() = default;

MediaPoll MediaWatcher::Poll() {
  last_.resize(drives_.size(), MediaStatus{MediaState::Absent, 0});
  MediaPoll poll;
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    const MediaStatus now = probe_(i);
    MediaStatus& before = last_[i];
    if (now.State != MediaState::Unknown) {
      const bool was = before.State == MediaState::Present;
      const bool is = now.State == MediaState::Present;
      const bool swapped = was && is && now.Identity != before.Identity;
      if (!first_) {
        if (was && (!is || swapped))
          poll.Changes.push_back(MediaChange{i, drives_[i].Letter, false});
        if (is && (!was || swapped))
          poll.Changes.push_back(MediaChange{i, drives_[i].Letter, true});
      }
      before = now;
    }
    if (before.State == MediaState::Present) poll.Present.push_back(i);
  }
  first_ = false;
  return poll;
}

}  // namespace qv
