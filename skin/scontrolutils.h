// Routines over controls and their parents that the painting code needs.
#pragma once

#include "platform/classlib/controls.h"
#include "platform/gfx/bitmap.h"

namespace qv {

class TCustomForm;

// The first of the control and its parents that is a form; null when none is.
[[nodiscard]] TCustomForm* FindParentForm(TControl* control);
// The control's DrawText flags for the alignment with DT_EXPANDTABS and DT_VCENTER.
[[nodiscard]] unsigned AlignmentDrawFlags(const TControl& control, TAlignment alignment);
// DT_LEFT, DT_RIGHT or DT_CENTER.
[[nodiscard]] unsigned AlignmentFlag(TAlignment alignment);

// The control exists, has a parent, and is neither loading, nor being destroyed, nor
// being created.
[[nodiscard]] bool ControlIsReady(const TControl* control);
// SKM_REFRESH performed on the control: WParam 0, LParam -1 for true and 0 for false.
void SendRefreshMessage(TControl* control, bool value);

// Tells skinned children their picture must be redrawn, by their kind.
void RefreshChildren(TWinControl* container, bool repaint);
// The shadows of the container's visible shadowed children into its picture.
void PaintChildShadows(TWinControl* container, Bitmap& image);
// Repaints every ready TsLabel child.
void RepaintChildLabels(TWinControl* container);

}  // namespace qv
