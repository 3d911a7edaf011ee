// Actions: one command (its caption, checked and enabled state, hint, image) that several
// controls show and run. A control follows an action through an action link it owns; the
// action tells its links of every change, and a link lets go of an action that is
// destroyed. GUI thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/base/component.h"
#include "platform/classlib/controls.h"

namespace qv {

class TBasicAction;
class TCustomImageList;

// The client side of an action: owned by the control it serves.
class TBasicActionLink {
 public:
  TBasicActionLink() = default;
  TBasicActionLink(const TBasicActionLink&) = delete;
  TBasicActionLink& operator=(const TBasicActionLink&) = delete;
  virtual ~TBasicActionLink();

  [[nodiscard]] TBasicAction* Action() const { return action_; }
  void SetAction(TBasicAction* value);
  // Runs the action; false when there is none or it did not run.
  virtual bool Execute();
  // Called by the action after any change (and once when the link takes it).
  virtual void Change() {}

 private:
  friend class TBasicAction;
  TBasicAction* action_ = nullptr;
};

class TBasicAction : public TComponent {
 public:
  explicit TBasicAction(TComponent* owner) : TComponent(owner) {}
  ~TBasicAction() override;
  [[nodiscard]] std::string ClassName() const override { return "TBasicAction"; }

  // OnExecute with the action as the sender; false when there is no handler.
  virtual bool Execute();
  TNotifyEvent OnExecute;

  void RegisterChanges(TBasicActionLink* link);
  void UnRegisterChanges(TBasicActionLink* link);

 protected:
  // Tells every link that something changed.
  void Change();
  [[nodiscard]] std::vector<TBasicActionLink*> Links() const { return links_; }
  [[nodiscard]] bool IsLinked(TBasicActionLink* link) const;

 private:
  std::vector<TBasicActionLink*> links_;  // not owned
};

// A list of actions with the image list their image indexes point into.
class TCustomActionList : public TComponent {
 public:
  explicit TCustomActionList(TComponent* owner) : TComponent(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TCustomActionList"; }
  [[nodiscard]] TCustomImageList* Images() const { return images_; }
  void SetImages(TCustomImageList* value);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TCustomImageList* images_ = nullptr;
};

class TActionList final : public TCustomActionList {
 public:
  using TCustomActionList::TCustomActionList;
  [[nodiscard]] std::string ClassName() const override { return "TActionList"; }
};

class TCustomAction : public TBasicAction {
 public:
  explicit TCustomAction(TComponent* owner) : TBasicAction(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TCustomAction"; }

  // Each setter tells the links the new value first (they compare it with the old one to
  // see whether their control still follows the action), then stores it and reports the
  // change.
  [[nodiscard]] const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  [[nodiscard]] bool Checked() const { return checked_; }
  void SetChecked(bool value);
  [[nodiscard]] bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  [[nodiscard]] const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value);
  [[nodiscard]] int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  [[nodiscard]] TCustomActionList* ActionList() const { return actionList_; }
  void SetActionList(TCustomActionList* value) { actionList_ = value; }

 private:
  std::string caption_;
  bool checked_ = false;
  bool enabled_ = true;
  std::string hint_;
  int imageIndex_ = -1;
  TCustomActionList* actionList_ = nullptr;  // not owned
};

class TAction final : public TCustomAction {
 public:
  using TCustomAction::TCustomAction;
  [[nodiscard]] std::string ClassName() const override { return "TAction"; }
};

// The link of an action that knows the values of a TCustomAction.
class TActionLink : public TBasicActionLink {
 public:
  [[nodiscard]] virtual bool IsCaptionLinked() const { return CustomAction() != nullptr; }
  [[nodiscard]] virtual bool IsCheckedLinked() const { return CustomAction() != nullptr; }
  [[nodiscard]] virtual bool IsEnabledLinked() const { return CustomAction() != nullptr; }
  [[nodiscard]] virtual bool IsHintLinked() const { return CustomAction() != nullptr; }
  [[nodiscard]] virtual bool IsImageIndexLinked() const { return CustomAction() != nullptr; }
  virtual void SetCaption(const std::string& value) {}
  virtual void SetChecked(bool value) {}
  virtual void SetEnabled(bool value) {}
  virtual void SetHint(const std::string& value) {}
  virtual void SetImageIndex(int value) {}

 protected:
  [[nodiscard]] TCustomAction* CustomAction() const {
    return dynamic_cast<TCustomAction*>(Action());
  }
};

// A control's link: caption, enabled state and hint follow the action while they still
// equal the action's old values; a run of the action is the control's click.
class TControlActionLink : public TActionLink {
 public:
  explicit TControlActionLink(TControl* client) : client_(client) {}
  [[nodiscard]] bool IsCaptionLinked() const override;
  [[nodiscard]] bool IsEnabledLinked() const override;
  [[nodiscard]] bool IsHintLinked() const override;
  void SetCaption(const std::string& value) override;
  void SetEnabled(bool value) override;
  void SetHint(const std::string& value) override;

 protected:
  TControl* client_;  // the owner of the link
};

}  // namespace qv
