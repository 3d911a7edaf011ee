// JPEG through libjpeg: decoding (optionally to grey, as libjpeg's grey-scale output gives
// it) and encoding, for skins and pictures made by the tools and the tests.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/gfx/bitmap.h"

namespace qv {

[[nodiscard]] Bitmap LoadJpeg(std::span<const std::uint8_t> data, bool grayscale = false);
[[nodiscard]] std::vector<std::uint8_t> SaveJpeg(const Bitmap& bitmap, int quality = 90);

}  // namespace qv
