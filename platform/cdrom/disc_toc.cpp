#include "platform/cdrom/disc_toc.h"

#include <string>

#include "platform/cdrom/cdrom_error.h"

namespace qv {

CdMsf AbsoluteToMsf(std::uint32_t absolute) {
  const std::uint32_t seconds = absolute / kCdFramesPerSecond;
  return CdMsf{static_cast<std::uint8_t>(seconds / 60), static_cast<std::uint8_t>(seconds % 60),
               static_cast<std::uint8_t>(absolute % kCdFramesPerSecond)};
}

std::uint32_t MsfToAbsolute(CdMsf msf) {
  return (std::uint32_t{msf.Minute} * 60 + msf.Second) * kCdFramesPerSecond + msf.Frame;
}

std::uint32_t CdToc::TrackSectors(std::size_t index) const {
  if (index >= Tracks.size()) return 0;
  const std::uint32_t end = index + 1 < Tracks.size() ? Tracks[index + 1].StartLsn : LeadOutLsn;
  return end > Tracks[index].StartLsn ? end - Tracks[index].StartLsn : 0;
}

void ValidateToc(const CdToc& toc) {
  if (toc.Tracks.empty()) throw ECdromError("The disc has no tracks");
  if (toc.Tracks.size() > kCdMaxTracks) throw ECdromError("The disc has more than 99 tracks");
  for (std::size_t i = 0; i < toc.Tracks.size(); ++i) {
    const CdTocTrack& t = toc.Tracks[i];
    if (t.Number < 1 || t.Number > kCdMaxTracks)
      throw ECdromError("Track number " + std::to_string(t.Number) + " is out of range");
    if (i > 0 && t.Number != toc.Tracks[i - 1].Number + 1)
      throw ECdromError("Track numbers are not consecutive at track " + std::to_string(t.Number));
    if (i > 0 && t.StartLsn <= toc.Tracks[i - 1].StartLsn)
      throw ECdromError("Track " + std::to_string(t.Number) + " starts before the track before it");
  }
  if (toc.LeadOutLsn <= toc.Tracks.back().StartLsn)
    throw ECdromError("The lead-out does not follow the last track");
  if (toc.LeadOutLsn + kCdLeadInFrames > kCdMaxAbsoluteFrame)
    throw ECdromError("The disc is longer than 99:59:74");
}

}  // namespace qv
