// Makes audio-CD images for tests and demonstrations: N audio tracks of deterministic audio,
// optionally a data track after them in the CD-Extra layout (a second session after the gap a
// multisession disc leaves; with a shorter gap or none, one session of audio and data), and
// pre-emphasis or copy flags. Writes a single-BIN cue sheet and
// gives the disc's table of contents and CDDB disc id.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/cdrom/disc_toc.h"

namespace qv {

// The lead-out, lead-in and pregap that separate the sessions of a multisession disc.
inline constexpr std::uint32_t kSessionGapSectors = kCdSessionGapSectors;

struct TrackSpec {
  std::uint32_t Sectors = 0;
  bool PreEmphasis = false;
  bool CopyPermitted = false;
};

struct DiscSpec {
  std::vector<TrackSpec> AudioTracks;
  std::uint32_t DataSectors = 0;  // 0: no data track
  std::uint32_t SessionGap = kSessionGapSectors;
  std::uint32_t Seed = 0;  // varies the audio, so two discs with the same layout differ
};

// The table of contents the image will have. Throws ECdromError for an impossible disc (no
// track, more than 99, an empty track, longer than 99:59:74).
[[nodiscard]] CdToc LayOutDisc(const DiscSpec& spec);

// Sector `sector` (counted from the track's start) of audio track `track`: a stereo tone whose
// pitch depends on the track, with a little noise so that no two sectors are alike.
void FillAudioSector(std::uint32_t seed, std::uint8_t track, std::uint32_t sector,
                     std::span<std::uint8_t> out);
// A Mode 1 sector at `lsn`: sync pattern, header, zero user data.
void FillDataSector(std::uint32_t lsn, std::span<std::uint8_t> out);

// The cue sheet text for `toc`, naming `binName`.
[[nodiscard]] std::string CueSheetText(const CdToc& toc, const DiscSpec& spec,
                                       const std::string& binName);

// Writes `cuePath` and the BIN file beside it (same name, extension .bin). Each file goes to a
// temporary name first, so a failure leaves no half-written image. Returns the table.
CdToc WriteDiscImage(const DiscSpec& spec, const std::filesystem::path& cuePath);

// The CDDB (freedb) disc id of the table.
[[nodiscard]] std::uint32_t CddbDiscId(const CdToc& toc);
// "<id> <tracks> <offset>... <seconds>", the form cd-discid prints, then one line per track.
[[nodiscard]] std::string DescribeDisc(const CdToc& toc);

// A length given as seconds ("12", "2.5", "3s") or frames ("1234f"); throws ECdromError.
[[nodiscard]] std::uint32_t ParseLength(const std::string& text);

}  // namespace qv
