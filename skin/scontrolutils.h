// Routines over controls and their parents that the painting code needs.
#pragma once

#include "platform/classlib/controls.h"

namespace qv {

class TCustomForm;

// The first of the control and its parents that is a form; null when none is.
[[nodiscard]] TCustomForm* FindParentForm(TControl* control);
// The control's DrawText flags for the alignment with DT_EXPANDTABS and DT_VCENTER.
[[nodiscard]] unsigned AlignmentDrawFlags(const TControl& control, TAlignment alignment);
// DT_LEFT, DT_RIGHT or DT_CENTER.
[[nodiscard]] unsigned AlignmentFlag(TAlignment alignment);

}  // namespace qv
