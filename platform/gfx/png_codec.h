// PNG through libpng, for snapshots of windows and pictures compared by the tests.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/gfx/bitmap.h"

namespace qv {

[[nodiscard]] std::vector<std::uint8_t> SavePng(const Bitmap& bitmap);
// Any PNG, flattened to 24 bits (alpha dropped).
[[nodiscard]] Bitmap LoadPng(std::span<const std::uint8_t> data);

}  // namespace qv
