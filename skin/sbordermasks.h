// Borders painted from a three-state mask while their transparent pixels are cut out of the
// control's window region, state frames of three-state glyphs, and the built-in images (the
// border masks "BORD1".."BORD6" and the check glyphs) that controls may use instead of the
// skin's.
#pragma once

#include <string>
#include <string_view>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/color.h"
#include "platform/gfx/geometry.h"
#include "platform/gfx/region.h"

namespace qv {

// Built-in images by resource name. The program's generated skin data registers them at
// start-up; a name nobody registered gives null. Registering a name again replaces it.
void RegisterBuiltinImage(const std::string& name, Bitmap image);
[[nodiscard]] const Bitmap* BuiltinImage(std::string_view name);
void ClearBuiltinImages();

enum TsPredefinedBorders {
  pdBorder1,
  pdBorder2,
  pdBorder3,
  pdBorder4,
  pdBorder5,
  pdBorder6,
  pdCustom
};

// pdBorder1..pdBorder6 give "BORD1".."BORD6"; pdCustom the control's own mask when it has a
// width, else "BORD1".
[[nodiscard]] const Bitmap* GetBorderMaskBmp(TsPredefinedBorders kind, const Bitmap* custom);

// Paints the state frame of the mask around the whole target and removes the pixels where
// the frame's image is `transparent` from `region`. Nothing without a mask, for a target not
// wider and higher than 2 pixels, or for a mask with cells of no size.
void PaintMaskedBorder(Bitmap& target, const Bitmap* mask, Region& region, bool fillCentre,
                       TColor transparent, int state);

// One state frame of a glyph (three frames across, the mask in the lower half) at `at`; a
// negative coordinate paints only the visible part. Pixels equal to `transparent` are
// skipped; mode 1 blends the others through the mask, any other mode shows them fainter.
// A missing glyph is reported once ("PaintBlendGlyph error") and paints nothing.
void PaintBlendGlyph(Bitmap& target, const Bitmap* glyph, Point at, int mode, TColor transparent,
                     int state);
// The same frame painted as new := s + m * d div 256 - m * s div 256.
void PaintMaskedGlyph(Bitmap& target, const Bitmap& glyph, Point at, TColor transparent, int state);

}  // namespace qv
