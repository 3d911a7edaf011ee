#include "skin/scontrolutils.h"

#include "platform/classlib/forms.h"
#include "platform/gfx/dc.h"
#include "skin/smessages.h"
#include "skin/spanels.h"
#include "skin/sstyles.h"

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

bool ControlIsReady(const TControl* control) {
  return control != nullptr && control->Parent() != nullptr && !control->HasState(csLoading) &&
         !control->HasState(csDestroying) && (control->ControlState() & csCreating) == 0;
}

void SendRefreshMessage(TControl* control, bool value) {
  if (control != nullptr) control->Perform(SKM_REFRESH, 0, value ? -1 : 0);
}

// ---- children ----------------------------------------------------------------------------

void RefreshChildren(TWinControl* container, bool repaint) {
  if (container == nullptr) return;
  for (int i = 0; i < container->ControlCount(); ++i) {
    TControl* child = container->Controls(i);
    if (!ControlIsReady(child) || !IsStyledControl(child)) continue;
    TsGenStyle* style = GenStyleOf(child);
    const int k = style != nullptr ? style->KindCode : 0;
    if (k >= 31 && k <= 33) {
      // No check control of this system carries the state PaintCheckedControl draws from
      // (check, caption, glyphs): such a child repaints through its own painting.
      if (repaint) {
        SendRefreshMessage(child, true);
        child->Repaint();
      }
    } else if ((k >= 51 && k <= 57) || k == 68) {
      SendRefreshMessage(child, repaint);
      child->Repaint();
    } else if (k >= 91 && k <= 95) {
      if (repaint) SendRefreshMessage(child, true);
      child->Repaint();
    } else if ((k == 161 || k == 165) && repaint) {
      SendRefreshMessage(child, repaint);
      child->Invalidate();
    }
  }
}

void PaintChildShadows(TWinControl* container, Bitmap& image) {
  if (container == nullptr) return;
  for (int i = 0; i < container->ControlCount(); ++i) {
    TControl* child = container->Controls(i);
    if (child->HasState(csDestroying)) break;
    TsGenStyle* style = GenStyleOf(child);
    if (style == nullptr || !child->Visible() || !style->ShadowOn()) continue;
    style->PaintShadow(image, {0, 0});
  }
}

void RepaintChildLabels(TWinControl* container) {
  if (container == nullptr) return;
  for (int i = 0; i < container->ControlCount(); ++i) {
    TControl* child = container->Controls(i);
    if (dynamic_cast<TsLabel*>(child) != nullptr && ControlIsReady(child)) child->Repaint();
  }
}

}  // namespace qv
