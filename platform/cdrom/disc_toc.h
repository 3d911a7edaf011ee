// The table of contents of a disc as every part of the CD layer sees it: track starts as
// logical sector numbers (LSN 0 is the first sector after the 2-second lead-in), the Q-channel
// control bits of each track and the start of the lead-out.
#pragma once

#include <cstdint>
#include <vector>

namespace qv {

inline constexpr std::uint32_t kCdSectorBytes = 2352;
inline constexpr std::uint32_t kCdFramesPerSecond = 75;
// Absolute addresses (MSF) count the lead-in: LSN 0 is 00:02:00.
inline constexpr std::uint32_t kCdLeadInFrames = 150;
// The largest absolute address an MSF triple with a two-digit minute can hold (99:59:74).
inline constexpr std::uint32_t kCdMaxAbsoluteFrame = 100 * 60 * 75 - 1;
inline constexpr std::uint8_t kCdLeadOutTrack = 0xAA;
inline constexpr std::uint8_t kCdMaxTracks = 99;
// What lies between the first session of a multisession disc and the second: the first
// session's lead-out (6750 sectors), the second's lead-in (4500) and its first pregap (150).
// None of it is audio, and a drive cannot read it.
inline constexpr std::uint32_t kCdSessionGapSectors = 11400;

// Q-channel control bits of a track.
inline constexpr std::uint8_t kCdControlPreEmphasis = 0x01;
inline constexpr std::uint8_t kCdControlCopyPermitted = 0x02;
inline constexpr std::uint8_t kCdControlData = 0x04;
inline constexpr std::uint8_t kCdControlFourChannel = 0x08;

struct CdMsf {
  std::uint8_t Minute = 0;
  std::uint8_t Second = 0;
  std::uint8_t Frame = 0;
  friend bool operator==(const CdMsf&, const CdMsf&) = default;
};

// `absolute` counts frames from the start of the lead-in (LSN + 150).
[[nodiscard]] CdMsf AbsoluteToMsf(std::uint32_t absolute);
[[nodiscard]] std::uint32_t MsfToAbsolute(CdMsf msf);

struct CdTocTrack {
  std::uint8_t Number = 0;
  std::uint32_t StartLsn = 0;
  std::uint8_t Control = 0;
  [[nodiscard]] bool IsData() const { return (Control & kCdControlData) != 0; }
  friend bool operator==(const CdTocTrack&, const CdTocTrack&) = default;
};

struct CdToc {
  // Consecutive track numbers in ascending order of start.
  std::vector<CdTocTrack> Tracks;
  std::uint32_t LeadOutLsn = 0;

  [[nodiscard]] std::uint8_t FirstTrack() const {
    return Tracks.empty() ? 0 : Tracks.front().Number;
  }
  [[nodiscard]] std::uint8_t LastTrack() const { return Tracks.empty() ? 0 : Tracks.back().Number; }
  // Sectors from the track's start to the next track's start (or the lead-out).
  [[nodiscard]] std::uint32_t TrackSectors(std::size_t index) const;
  friend bool operator==(const CdToc&, const CdToc&) = default;
};

// Throws ECdromError unless the table could come from a real disc: 1 to 99 tracks numbered
// consecutively from 1..99, strictly ascending starts, a lead-out after the last track and within
// the MSF range.
void ValidateToc(const CdToc& toc);

}  // namespace qv
