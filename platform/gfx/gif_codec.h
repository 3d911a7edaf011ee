// GIF through giflib: the first image of a file, placed on the file's logical screen.
// Pixels the image does not cover, and its transparent pixels, take the screen's background
// colour and are left out of the opaque region.
#pragma once

#include <cstdint>
#include <span>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/region.h"

namespace qv {

struct GifPicture {
  Bitmap Image;   // the logical screen's size
  Region Opaque;  // the pixels the first image paints
};

[[nodiscard]] GifPicture LoadGif(std::span<const std::uint8_t> data);

}  // namespace qv
