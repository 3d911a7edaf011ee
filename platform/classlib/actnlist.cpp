#include "platform/classlib/actnlist.h"

#include <algorithm>

#include "platform/classlib/imglist.h"

namespace qv {

TBasicActionLink::~TBasicActionLink() {
  SetAction(nullptr);
}

void TBasicActionLink::SetAction(TBasicAction* value) {
  if (value == action_) return;
  if (action_ != nullptr) action_->UnRegisterChanges(this);
  if (value != nullptr) value->RegisterChanges(this);
}

bool TBasicActionLink::Execute() {
  return action_ != nullptr && action_->Execute();
}

TBasicAction::~TBasicAction() {
  // The clients keep their links, now without an action.
  for (TBasicActionLink* link : links_) link->action_ = nullptr;
  links_.clear();
}

bool TBasicAction::Execute() {
  if (!OnExecute) return false;
  OnExecute(this);
  return true;
}

void TBasicAction::RegisterChanges(TBasicActionLink* link) {
  if (link == nullptr || IsLinked(link)) return;
  if (link->action_ != nullptr) link->action_->UnRegisterChanges(link);
  links_.push_back(link);
  link->action_ = this;
  link->Change();
}

void TBasicAction::UnRegisterChanges(TBasicActionLink* link) {
  if (link == nullptr) return;
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (link->action_ == this) link->action_ = nullptr;
}

bool TBasicAction::IsLinked(TBasicActionLink* link) const {
  return std::find(links_.begin(), links_.end(), link) != links_.end();
}

void TBasicAction::Change() {
  // A copy: a client may drop its link while it hears of the change.
  for (TBasicActionLink* link : Links())
    if (IsLinked(link)) link->Change();
}

void TCustomActionList::SetImages(TCustomImageList* value) {
  if (value == images_) return;
  if (images_ != nullptr) RemoveFreeNotification(images_);
  images_ = value;
  if (value != nullptr) FreeNotification(value);
}

void TCustomActionList::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == images_) images_ = nullptr;
}

namespace {
// Every link of the action that knows action values.
template <class F>
void ForEachActionLink(const std::vector<TBasicActionLink*>& links, F f) {
  for (TBasicActionLink* link : links)
    if (auto* al = dynamic_cast<TActionLink*>(link)) f(*al);
}
}  // namespace

void TCustomAction::SetCaption(const std::string& value) {
  if (value == caption_) return;
  ForEachActionLink(Links(), [&](TActionLink& l) { l.SetCaption(value); });
  caption_ = value;
  Change();
}

void TCustomAction::SetChecked(bool value) {
  if (value == checked_) return;
  ForEachActionLink(Links(), [&](TActionLink& l) { l.SetChecked(value); });
  checked_ = value;
  Change();
}

void TCustomAction::SetEnabled(bool value) {
  if (value == enabled_) return;
  ForEachActionLink(Links(), [&](TActionLink& l) { l.SetEnabled(value); });
  enabled_ = value;
  Change();
}

void TCustomAction::SetHint(const std::string& value) {
  if (value == hint_) return;
  ForEachActionLink(Links(), [&](TActionLink& l) { l.SetHint(value); });
  hint_ = value;
  Change();
}

void TCustomAction::SetImageIndex(int value) {
  if (value == imageIndex_) return;
  ForEachActionLink(Links(), [&](TActionLink& l) { l.SetImageIndex(value); });
  imageIndex_ = value;
  Change();
}

bool TControlActionLink::IsCaptionLinked() const {
  const TCustomAction* a = CustomAction();
  return a != nullptr && client_->Caption() == a->Caption();
}

bool TControlActionLink::IsEnabledLinked() const {
  const TCustomAction* a = CustomAction();
  return a != nullptr && client_->Enabled() == a->Enabled();
}

bool TControlActionLink::IsHintLinked() const {
  const TCustomAction* a = CustomAction();
  return a != nullptr && client_->Hint() == a->Hint();
}

void TControlActionLink::SetCaption(const std::string& value) {
  if (IsCaptionLinked()) client_->SetCaption(value);
}

void TControlActionLink::SetEnabled(bool value) {
  if (IsEnabledLinked()) client_->SetEnabled(value);
}

void TControlActionLink::SetHint(const std::string& value) {
  if (IsHintLinked()) client_->SetHint(value);
}

}  // namespace qv
