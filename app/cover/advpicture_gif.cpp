#include "app/cover/advpicture_gif.h"

namespace qv {

namespace {

// Graphic control extension (8 bytes) plus the image descriptor's separator and its four
// words: the bytes a frame start must have inside the data.
constexpr std::size_t kFrameHeaderBytes = 17;

int Word(std::span<const std::uint8_t> d, std::size_t at) {
  return d[at] | (d[at + 1] << 8);
}

}  // namespace

bool IsGifData(std::span<const std::uint8_t> data) {
  return data.size() >= 5 && data[0] == 'G' && data[1] == 'I' && data[2] == 'F' && data[3] == '8';
}

bool GifScreenSize(std::span<const std::uint8_t> data, int& width, int& height) {
  if (!IsGifData(data) || data.size() < 10) return false;
  width = Word(data, 6);
  height = Word(data, 8);
  return true;
}

std::vector<std::size_t> GifFrameStarts(std::span<const std::uint8_t> data) {
  std::vector<std::size_t> starts;
  if (!IsGifData(data)) return starts;
  for (std::size_t i = 0; i + kFrameHeaderBytes <= data.size(); ++i) {
    if (data[i] == 0x21 && data[i + 1] == 0xF9 && data[i + 2] == 0x04 && data[i + 8] == 0x2C) {
      starts.push_back(i);
    }
  }
  return starts;
}

TGifFrameInfo GifFrameAt(std::span<const std::uint8_t> data, std::size_t start) {
  TGifFrameInfo info;
  if (start + kFrameHeaderBytes > data.size()) return info;
  const std::uint8_t packed = data[start + 3];
  info.Transparent = (packed & 0x01) != 0;
  // The disposal method sits in bits 2-4 of the packed byte (bit 1 is the user-input flag).
  info.Disposal = (packed >> 2) & 0x07;
  info.Delay = Word(data, start + 4);
  info.Left = Word(data, start + 9);
  info.Top = Word(data, start + 11);
  info.Width = Word(data, start + 13);
  info.Height = Word(data, start + 15);
  return info;
}

std::vector<std::uint8_t> GifWithoutEarlierFrames(std::span<const std::uint8_t> data,
                                                  const std::vector<std::size_t>& starts,
                                                  int frame) {
  if (starts.empty()) return {data.begin(), data.end()};
  const std::size_t selected = frame < 1 ? 0 : std::size_t(frame - 1);
  std::vector<std::uint8_t> out(data.begin(), data.begin() + std::ptrdiff_t(starts.front()));
  if (selected < starts.size()) {
    out.insert(out.end(), data.begin() + std::ptrdiff_t(starts[selected]), data.end());
  }
  return out;
}

}  // namespace qv
