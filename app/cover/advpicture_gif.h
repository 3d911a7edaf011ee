// The GIF frame scan of the picture control: where frames start in a GIF file, what a
// frame's graphic control extension and image descriptor say, and the copy of the file
// that leaves out the frames before a selected one, so that a decoder showing the first
// image shows that frame. Every read is bounds-checked against the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qv {

struct TGifFrameInfo {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Transparent = false;
  int Disposal = 0;  // 0..7; 2 restores the frame's rectangle to the background
  int Delay = 0;     // hundredths of a second
};

// At least 5 bytes starting "GIF8".
[[nodiscard]] bool IsGifData(std::span<const std::uint8_t> data);
// The logical screen size from the header; false when the data is not a GIF or too short.
bool GifScreenSize(std::span<const std::uint8_t> data, int& width, int& height);
// Offsets of the frame starts: a byte 0x21 followed by 0xF9, 0x04 and, 8 bytes on, by
// 0x2C (a graphic control extension of 4 data bytes followed by an image descriptor),
// with the whole descriptor inside the data.
[[nodiscard]] std::vector<std::size_t> GifFrameStarts(std::span<const std::uint8_t> data);
// The frame starting at `start` (one of GifFrameStarts).
[[nodiscard]] TGifFrameInfo GifFrameAt(std::span<const std::uint8_t> data, std::size_t start);
// The data without the frames before frame `frame` (1-based; below 1 counts as 1). A
// frame past the last leaves every frame out.
[[nodiscard]] std::vector<std::uint8_t> GifWithoutEarlierFrames(
    std::span<const std::uint8_t> data, const std::vector<std::size_t>& starts, int frame);

}  // namespace qv
