#include "skin/scontrolutils.h"

#include "platform/classlib/forms.h"
#include "platform/gfx/dc.h"

namespace qv {

TCustomForm* FindParentForm(TControl* control) {
  for (TControl* c = control; c != nullptr; c = c->Parent())
    if (auto* form = dynamic_cast<TCustomForm*>(c)) return form;
  return nullptr;
}

unsigned AlignmentFlag(TAlignment alignment) {
  switch (alignment) {
    case TAlignment::taRightJustify:
      return DT_RIGHT;
    case TAlignment::taCenter:
      return DT_CENTER;
    default:
      return DT_LEFT;
  }
}

unsigned AlignmentDrawFlags(const TControl& control, TAlignment alignment) {
  return control.DrawTextBiDiModeFlags(AlignmentFlag(alignment) | DT_EXPANDTABS | DT_VCENTER);
}

}  // namespace qv
