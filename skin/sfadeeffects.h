// Tinting a bitmap toward a colour, and the look of a disabled control.
#pragma once

#include <cstdint>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/color.h"
#include "platform/gfx/geometry.h"
#include "skin/smessages.h"

namespace qv {

// A set of (dkBlended, dkGrayed).
enum : unsigned { dkBlended = 1, dkGrayed = 2 };
using TsDisabledKind = unsigned;

// Keeps `percent` of each pixel of `r` and takes the rest from the colour:
// Round(channel * k + colour * (1 - k)), k = percent / 100. The rectangle includes its right
// and bottom edges and is clipped to the bitmap.
void FadeRect(Bitmap& bmp, Rect r, int percent, TColor color);

// dkGrayed greys the whole image; then dkBlended mixes it half and half with the parent's
// background under it (the image's (0, 0) lies at `offset` of the parent's OffsetX and
// OffsetY), or, without a ready parent background, tints it halfway toward `color` (the
// colour of the control the caller takes colours from).
void PaintDisabledEffect(Bitmap& image, TsDisabledKind kind, TColor color, Point offset,
                         const TsBGInfo& parent);

}  // namespace qv
