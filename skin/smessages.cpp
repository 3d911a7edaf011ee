#include "skin/smessages.h"

#include "platform/classlib/forms.h"
#include "platform/msg/message_queue.h"
#include "skin/scontrolutils.h"
#include "skin/sutils.h"

namespace qv {

TsGeneralDataArray SkinSections;
TsMaskArray SkinMasks;
TsPatternArray SkinPatterns;
TsBGInfo ParentBGInfo;
bool SkinChanging = false;
std::string UpdatedSectionName;

namespace {

// Through the window when it exists (so that procedures subclassed on the window see it),
// else straight to the control.
LRESULT SendToWindow(TWinControl* control, TMessage& message) {
  if (control->HandleAllocated())
    message.Result = SendMessage(control->Handle(), message.Msg, message.WParam, message.LParam);
  else
    message.Result = control->Perform(message.Msg, message.WParam, message.LParam);
  return message.Result;
}

}  // namespace

void BroadcastToControl(TCustomForm* form, TMessage& message) {
  if (form == nullptr || form->HasState(csDestroying)) return;
  SendToWindow(form, message);
  if (const HWND client = form->ClientHandle())
    message.Result = SendMessage(client, message.Msg, message.WParam, message.LParam);
  for (int i = 0; i < form->ComponentCount(); ++i) {
    TComponent* component = form->Components(i);
    if (component->HasState(csDestroying) || component->HasState(csReading)) break;
    if (auto* target = dynamic_cast<ISkinMessageTarget*>(component)) {
      target->SkinWndProc(message);
      continue;
    }
    auto* control = dynamic_cast<TControl*>(component);
    if (control == nullptr || !ControlIsReady(control)) continue;
    message.Result = control->Perform(message.Msg, message.WParam, message.LParam);
  }
}

void BroadcastToForms(TMessage& message) {
  // Not while the program ends: the forms are going, and no application is to be made.
  TApplication* app = ExistingApplication();
  if (app == nullptr || app->HasState(csDestroying)) return;
  // A receiver may free forms; walk by index and look again each time.
  for (int i = 0; i < app->ComponentCount(); ++i) {
    auto* form = dynamic_cast<TCustomForm*>(app->Components(i));
    if (form != nullptr && !form->HasState(csDestroying)) BroadcastToControl(form, message);
  }
}

namespace {

TMessage AskStyle(TComponent* component) {
  TMessage message{SKM_GETSTYLE, 0, 0, 0};
  auto* control = dynamic_cast<TControl*>(component);
  if (control != nullptr && control->WindowProc) control->WindowProc(message);
  return message;
}

}  // namespace

TPersistent* GetStyleOf(TComponent* component) {
  return reinterpret_cast<TPersistent*>(AskStyle(component).LParam);
}

bool IsStyledControl(TComponent* component) {
  // Editor styles answer with their class code (1, 14 or 15).
  return AskStyle(component).WParam != 0;
}

void AskParentBGInfo(TControl* control, TsBGInfo& info) {
  info = TsBGInfo{};
  if (control == nullptr || control->Parent() == nullptr) return;
  ParentBGInfo.Ready = false;
  TMessage message{SKM_GETBGINFO, 0, 0, 0};
  SendToWindow(control->Parent(), message);
  // A parent that did not answer leaves the record zeroed, not holding an older answer.
  if (ParentBGInfo.Ready) info = ParentBGInfo;
}

}  // namespace qv
