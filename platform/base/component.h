// The class library's component model: a component may have an owner, which keeps a
// list of the components it owns and destroys them, last inserted first, when it is
// destroyed itself. Components that refer to one another register for free
// notification so that each hears when the other goes away. Components belong to
// the thread that created them (the main thread, except inside the audio pipeline).
//
// Ownership idiom: a component with an owner is always allocated with `Create`:
//
//   auto* out = qv::Create<TMP3Out>(form);   // `form` frees it; never delete it twice
//
// Its constructor takes the owner as its first argument and passes it to
// TComponent. It may be destroyed early with `delete` (or `Free`); it then leaves
// its owner's list. A component without an owner is held in a std::unique_ptr by
// whoever created it. A component with an owner must never live on the stack or in
// a std::unique_ptr: the owner would free it a second time.
//
// An owner's own destructor body runs before its owned components are destroyed; a
// class whose owned components need its members while they go calls
// DestroyComponents() first in its destructor.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/persistent.h"

namespace qv {

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : uint32_t {
  csLoading = 0x01,
  csReading = 0x02,
  csWriting = 0x04,
  csDestroying = 0x08,
  csDesigning = 0x10,
};
using TComponentState = uint32_t;

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  // Sets csDestroying on itself and everything it owns, notifies the components
  // registered for free notification, destroys the owned components (last
  // inserted first) and leaves its owner's list.
  virtual ~TComponent();

  [[nodiscard]] TComponent* Owner() const { return owner_; }
  [[nodiscard]] TPersistent* GetOwner() const override { return owner_; }
  [[nodiscard]] std::string ClassName() const override { return "TComponent"; }
  [[nodiscard]] const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  [[nodiscard]] int ComponentCount() const { return int(components_.size()); }
  [[nodiscard]] TComponent* Components(int index) const { return components_.at(size_t(index)); }
  // Index in the owner's list, -1 without an owner.
  [[nodiscard]] int ComponentIndex() const;
  // First owned component of that name, without regard to case; nullptr if none.
  [[nodiscard]] TComponent* FindComponent(const std::string& name) const;

  [[nodiscard]] TComponentState ComponentState() const { return state_; }
  [[nodiscard]] bool HasState(TComponentStateFlag flag) const { return (state_ & flag) != 0; }

  // Moves `component` into this component's list (taking it from its former owner).
  void InsertComponent(TComponent* component);
  // Takes `component` out of the list without destroying it; the caller owns it now.
  void RemoveComponent(TComponent* component);
  // Destroys every owned component, last inserted first.
  void DestroyComponents();
  // Marks this component and everything it owns as being destroyed.
  void Destroying();

  // Asks to be told (Notification with opRemove) when `component` is destroyed. The
  // registration goes both ways: `component` hears of this one's end as well.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // The stored-form loader sets csLoading, sets the stored properties, then calls
  // Loaded, which clears it.
  void BeginLoading() { state_ |= csLoading; }
  virtual void Loaded() { state_ &= ~TComponentState(csLoading); }
  // Design time is never entered by the program itself; kept for the checks that
  // components make of it.
  void SetDesigning(bool value);

 protected:
  // Called on the owner (opInsert/opRemove) when a component joins or leaves its
  // list, and on each free-notification partner when one is destroyed. The base
  // forgets `component` as a partner on opRemove and passes the call on to every
  // owned component, so siblings hear of each other. Overrides must call it.
  // `component` may be partly constructed or destroyed: compare it, don't use it.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);

  TComponent* owner_ = nullptr;
  std::string name_;
  TComponentState state_ = 0;
  std::vector<TComponent*> components_;     // owned, in insertion order
  std::vector<TComponent*> free_notifies_;  // partners, not owned
};

// Allocates a component owned by `owner`; see the ownership idiom above. `owner`
// must not be null (use std::make_unique for a component without one).
template <class T, class... Args>
T* Create(TComponent* owner, Args&&... args) {
  if (owner == nullptr) throw std::invalid_argument("qv::Create needs an owner");
  return new T(owner, std::forward<Args>(args)...);
}

// Watches a component across code that may destroy it (a handler that lets pending
// messages run, where a released form goes): Alive() is false once it was destroyed.
class TComponentWatch final : private TComponent {
 public:
  explicit TComponentWatch(TComponent* watched);
  ~TComponentWatch() override;
  [[nodiscard]] bool Alive() const { return watched_ != nullptr; }

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TComponent* watched_;
};

// Destroys a component early (it leaves its owner's list); null is allowed.
inline void Free(TComponent* component) {
  if (component == nullptr) return;
  component->Destroying();
  delete component;
}

}  // namespace qv
