// Gradients: the text form of a gradient, and its painter on 24-bit bitmaps.
#pragma once

#include <string_view>

#include "platform/classlib/graphics.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/geometry.h"
#include "skin/smessages.h"

namespace qv {

// Parses ";"-separated integers, five per point (Color1, Color2, Percent, Mode, unused); a
// trailing incomplete point is dropped; a Percent keeps its low byte. Text from a skin is
// not trusted: when one of the words read is not an integer the whole gradient is taken as
// absent and the array comes back empty (raising would abort the skin change).
void PrepareGradArray(std::string_view text, TsGradArray& gradient);

// Paints the gradient into `r` of the bitmap, band after band as the points' percentages
// say, vertically (Mode 0 of the first point) or horizontally (Mode 1); any other mode, an
// empty array or an empty rectangle paints nothing. A vertical band ends on `r`'s last row
// when it is the last or would pass the bitmap, so an earlier one may run on below `r`;
// horizontal bands end on the bitmap's last column at the latest, the last one always
// there. Vertical bands keep to `r`'s columns, horizontal ones to its rows, and nothing
// outside the bitmap is written.
void PaintGrad(Bitmap& bitmap, const TsGradArray& gradient, Rect r);
void PaintGrad(TBitmap& bitmap, const TsGradArray& gradient, const Rect& r);

}  // namespace qv
