// Reader of the cue sheets that describe disc images: one BINARY file holding raw 2352-byte
// sectors, its tracks with their modes, flags and indexes. It accepts only what a single-file
// image can mean and rejects the rest with an ECdromError naming the line, so nothing behind it
// (libcdio, the reader) ever sees a sheet it could misread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class CueTrackMode { Audio, Mode1Raw, Mode2Raw };

struct CueTrack {
  std::uint8_t Number = 0;
  CueTrackMode Mode = CueTrackMode::Audio;
  // Q-channel control bits from FLAGS (pre-emphasis, copy permitted, four channels) and the data
  // bit for non-audio modes.
  std::uint8_t Control = 0;
  // Sector offsets in the file.
  std::optional<std::uint32_t> Index0;
  std::uint32_t Index1 = 0;
};

struct CueSheet {
  std::string FileName;  // as written in the sheet
  std::vector<CueTrack> Tracks;
};

// Largest cue sheet read; a real one for 99 tracks takes a few kilobytes.
inline constexpr std::size_t kMaxCueSheetBytes = 256 * 1024;

[[nodiscard]] CueSheet ParseCueSheet(std::string_view text);

}  // namespace qv
