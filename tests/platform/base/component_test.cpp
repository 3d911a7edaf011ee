#include "platform/base/component.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace qv {
namespace {

// Records its own destruction and every notification it receives.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string name, std::vector<std::string>* log)
      : TComponent(owner), log_(log) {
    SetName(std::move(name));
  }
  ~Probe() override {
    // csDestroying is set here when the owner (or Free) announced the destruction.
    log_->push_back("~" + Name() + (HasState(csDestroying) ? "!" : ""));
  }
  void Loaded() override {
    log_->push_back("loaded " + Name());
    TComponent::Loaded();
  }
  TComponent* partner = nullptr;  // cleared when the partner goes away

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    const auto* p = dynamic_cast<Probe*>(component);
    log_->push_back(Name() + (operation == opInsert ? " +" : " -") + (p ? p->Name() : "?"));
    if (operation == opRemove && component == partner) partner = nullptr;
  }

 private:
  std::vector<std::string>* log_;
};

std::vector<std::string> Only(const std::vector<std::string>& log, char prefix) {
  std::vector<std::string> out;
  for (const auto& s : log)
    if (!s.empty() && s[0] == prefix) out.push_back(s);
  return out;
}

TEST(TComponentTest, OwnedComponentsAreDestroyedInReverseOrder) {
  std::vector<std::string> log;
  {
    auto form = std::make_unique<Probe>(nullptr, "form", &log);
    auto* a = Create<Probe>(form.get(), "a", &log);
    auto* b = Create<Probe>(form.get(), "b", &log);
    Create<Probe>(b, "b1", &log);
    Create<Probe>(form.get(), "c", &log);
    EXPECT_EQ(form->ComponentCount(), 3);
    EXPECT_EQ(form->Components(0), a);
    EXPECT_EQ(b->ComponentIndex(), 1);
    EXPECT_EQ(form->FindComponent("B"), b);
    EXPECT_EQ(form->FindComponent("b1"), nullptr);  // owned by b, not by the form
  }
  const std::vector<std::string> expected = {"~form", "~c!", "~b!", "~b1!", "~a!"};
  EXPECT_EQ(Only(log, '~'), expected);

  // DestroyComponents empties the list the same way and leaves the owner alive.
  log.clear();
  auto form = std::make_unique<Probe>(nullptr, "form", &log);
  Create<Probe>(form.get(), "a", &log);
  Create<Probe>(form.get(), "b", &log);
  form->DestroyComponents();
  EXPECT_EQ(form->ComponentCount(), 0);
  EXPECT_EQ(Only(log, '~'), (std::vector<std::string>{"~b", "~a"}));
  EXPECT_FALSE(form->HasState(csDestroying));
}

}  // namespace
}  // namespace qv
