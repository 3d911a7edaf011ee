// The plain look shared by the standard controls: solid brushes, sunken and raised frames,
// the drop-down arrow. Included only by the controls' sources.
#pragma once

#include "platform/classlib/graphics.h"
#include "platform/gfx/dc.h"

namespace qv::draw {

[[nodiscard]] Brush Solid(TColor c);
// Two-pixel frames; `r` shrinks to what lies inside.
void SunkenBorder(TCanvas& canvas, Rect& r);
void RaisedBorder(TCanvas& canvas, Rect& r);
void DownArrow(DC* dc, const Rect& r, TColor color);

}  // namespace qv::draw
