#include "platform/classlib/stdctrls_draw.h"

#include "platform/classlib/controls.h"

namespace qv::draw {

Brush Solid(TColor c) {
  return Brush{BrushStyle::bsSolid, c};
}

// A UTF-8 text's character boundaries: the start of the character before or after `pos`.
void SunkenBorder(TCanvas& canvas, Rect& r) {
  Frame3D(canvas, r, clBtnShadow, clBtnHighlight, 1);
  Frame3D(canvas, r, cl3DDkShadow, cl3DLight, 1);
}

void RaisedBorder(TCanvas& canvas, Rect& r) {
  Frame3D(canvas, r, clBtnHighlight, cl3DDkShadow, 1);
  Frame3D(canvas, r, cl3DLight, clBtnShadow, 1);
}

void DownArrow(DC* dc, const Rect& r, TColor color) {
  const int cx = (r.Left + r.Right) / 2;
  const int cy = (r.Top + r.Bottom) / 2 - 1;
  for (int i = 0; i < 4; ++i)
    dc->FillRect({cx - 3 + i, cy + i, cx + 4 - i, cy + i + 1}, Solid(color));
}

}  // namespace qv::draw
