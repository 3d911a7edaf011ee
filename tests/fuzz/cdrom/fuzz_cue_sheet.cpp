// Cue sheets come from anywhere a user downloads disc images. The reader must either accept a
// sheet that describes a usable layout or throw ECdromError; nothing else.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/cue_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const qv::CueSheet sheet =
        qv::ParseCueSheet(std::string_view(reinterpret_cast<const char*>(data), size));
    if (sheet.FileName.empty() || sheet.Tracks.empty() || sheet.Tracks.size() > 99)
      __builtin_trap();
    for (std::size_t i = 1; i < sheet.Tracks.size(); ++i) {
      const qv::CueTrack& t = sheet.Tracks[i];
      if (t.Number != sheet.Tracks[i - 1].Number + 1) __builtin_trap();
      if (t.Index1 <= sheet.Tracks[i - 1].Index1) __builtin_trap();
      if (t.Index0 && *t.Index0 > t.Index1) __builtin_trap();
    }
  } catch (const qv::ECdromError&) {
  }
  return 0;
}
