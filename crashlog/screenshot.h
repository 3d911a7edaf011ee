// The screen at the moment of an error as a PNG file: the whole display, reduced to a
// palette of 256 colours, written by the logger's own chunk writer with deflate from zlib.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "crashlog/send_progress.h"
#include "platform/gfx/bitmap.h"

namespace qv {

// The fixed palette: 6 levels of red, 7 of green and 6 of blue (indexes r * 42 + g * 6 + b),
// the last four entries black. Every colour lies within this distance of its entry on each
// channel.
constexpr int kScreenshotColourBound = 26;
using TScreenshotPalette = std::array<uint8_t, 256 * 3>;
[[nodiscard]] const TScreenshotPalette& ScreenshotPalette();
// The nearest palette entry of a colour.
[[nodiscard]] uint8_t PaletteIndex(uint8_t red, uint8_t green, uint8_t blue);

// CRC-32 of the PNG chunks (polynomial 0xEDB88320) over `size` bytes, going on from `crc`:
// a chunk's CRC starts from all ones and is inverted at its end.
[[nodiscard]] uint32_t PngCrc32(uint32_t crc, const uint8_t* data, std::size_t size);

// Writes the bitmap as an 8-bit palette PNG (filter 0 on every row, deflate level 9, an IDAT
// chunk for each full output buffer of 0x3FFFF bytes). The file must not exist yet (it is
// never followed through a link); a file left half-written is removed. True when written;
// every failure throws.
bool WritePalettePNG(const std::string& file_name, const Bitmap& image);

// Captures the whole screen through a display connection of its own and writes it;
// nothing is written when there is no display or the capture fails, and the failure goes
// to the internal error channel.
bool WriteScreenshotPNG(const std::string& file_name,
                        const TDisplayFactory& display = ProgressDisplay);

// "Screenshot.png" in a folder of the temporary folder that only this process uses (made
// here); "" when the folder cannot be made. DeleteScreenshot removes the file and folder.
[[nodiscard]] std::string NewScreenshotFileName();
void DeleteScreenshot(const std::string& file_name);

}  // namespace qv
