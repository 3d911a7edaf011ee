// The program's own skin, drawn from code: the stored skin's folder ("Options.dat" with its
// bitmaps and JPEG picture) and the built-in bitmaps (border masks BORD1-BORD6 and the check
// and radio glyphs). Everything is computed from the palette below, so the same program
// always writes the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/gfx/bitmap.h"

namespace qv::skingen {

// The folder names below the output folder.
inline constexpr const char* kSkinFolder = "Ferrane";
inline constexpr const char* kBuiltinFolder = "builtin";
// The name the compiled skin is stored under.
inline constexpr const char* kStoredSkinName = "Ferrane (internal)";

// A file to write, its path relative to the output folder.
struct ArtFile {
  std::string Path;
  std::vector<std::uint8_t> Bytes;
};

// A picture for the contact sheet.
struct ArtImage {
  std::string Name;
  Bitmap Image;
};

// A section's colours as the contact sheet shows them: background (gradient ends, or the
// plain colour twice) and text, normal and hot.
struct ArtSwatch {
  std::string Section;
  COLORREF Top = 0, Bottom = 0, Text = 0;
  COLORREF HotTop = 0, HotBottom = 0, HotText = 0;
};

struct Art {
  std::vector<ArtFile> Files;  // in writing order; Options.dat first
  std::vector<ArtImage> Images;
  std::vector<ArtSwatch> Swatches;
};

[[nodiscard]] Art MakeArt();

// A window put together from the pictures, as the painting code combines them.
[[nodiscard]] Bitmap PreviewScene(const Art& art);

// The scene, every image at a readable scale with its name, and the sections' colour swatches.
[[nodiscard]] Bitmap ContactSheet(const Art& art);

}  // namespace qv::skingen
