#include "platform/cdrom/cdio_support.h"

#include <cdio/logging.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/cdrom/cdrom_error.h"

namespace qv {
namespace {

void LogErrorsOnly(cdio_log_level_t level, const char* message) {
  if (level >= CDIO_LOG_ERROR) std::fprintf(stderr, "libcdio: %s\n", message);
}

}  // namespace

void QuietCdioLog() {
  static std::once_flag once;
  std::call_once(once, [] { cdio_log_set_handler(LogErrorsOnly); });
}

CdToc TocFromCdio(CdIo_t* cdio, const std::string& what) {
  const track_t first = cdio_get_first_track_num(cdio);
  const track_t count = cdio_get_num_tracks(cdio);
  if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0)
    throw ECdromError("The table of contents of " + what + " cannot be read");
  CdToc toc;
  for (track_t i = 0; i < count; ++i) {
    const track_t n = static_cast<track_t>(first + i);
    const lsn_t lsn = cdio_get_track_lsn(cdio, n);
    if (lsn == CDIO_INVALID_LSN || lsn < 0)
      throw ECdromError("Track " + std::to_string(n) + " of " + what + " has no start");
    CdTocTrack track{static_cast<std::uint8_t>(n), static_cast<std::uint32_t>(lsn), 0};
    if (cdio_get_track_format(cdio, n) != TRACK_FORMAT_AUDIO) track.Control |= kCdControlData;
    if (cdio_get_track_copy_permit(cdio, n) == CDIO_TRACK_FLAG_TRUE)
      track.Control |= kCdControlCopyPermitted;
    if (cdio_get_track_preemphasis(cdio, n) == CDIO_TRACK_FLAG_TRUE)
      track.Control |= kCdControlPreEmphasis;
    if (cdio_get_track_channels(cdio, n) == 4) track.Control |= kCdControlFourChannel;
    toc.Tracks.push_back(track);
  }
  const lsn_t leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
  if (leadOut == CDIO_INVALID_LSN || leadOut < 0)
    throw ECdromError("The lead-out of " + what + " cannot be read");
  toc.LeadOutLsn = static_cast<std::uint32_t>(leadOut);
  ValidateToc(toc);
  return toc;
}

}  // namespace qv
