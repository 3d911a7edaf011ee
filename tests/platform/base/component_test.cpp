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

TEST(TComponentTest, TheOwnerAndSiblingsHearOfInsertAndRemove) {
  std::vector<std::string> log;
  auto form = std::make_unique<Probe>(nullptr, "form", &log);
  Create<Probe>(form.get(), "a", &log);
  log.clear();
  auto* b = Create<Probe>(form.get(), "b", &log);
  // The owner is told and passes it on to every owned component first. The new one is
  // still being built, so nobody can see more of it than its TComponent part.
  EXPECT_EQ(log, (std::vector<std::string>{"a +?", "form +?"}));
  log.clear();
  delete b;  // destroyed first: it leaves its owner's list
  EXPECT_EQ(log, (std::vector<std::string>{"~b", "a -?", "form -?"}));
  EXPECT_EQ(form->ComponentCount(), 1);
}

TEST(TComponentTest, FreeNotificationWorksBothWays) {
  std::vector<std::string> log;
  auto input = std::make_unique<Probe>(nullptr, "input", &log);
  auto output = std::make_unique<Probe>(nullptr, "output", &log);
  output->partner = input.get();
  input->partner = output.get();
  output->FreeNotification(input.get());
  input.reset();
  EXPECT_EQ(output->partner, nullptr);

  auto again = std::make_unique<Probe>(nullptr, "again", &log);
  again->partner = output.get();
  output->FreeNotification(again.get());  // registered from the other side
  output.reset();
  EXPECT_EQ(again->partner, nullptr);

  // Registered twice, removed once: the call stops.
  auto b = std::make_unique<Probe>(nullptr, "b", &log);
  again->FreeNotification(b.get());
  again->FreeNotification(b.get());
  b->RemoveFreeNotification(again.get());
  log.clear();
  b.reset();
  EXPECT_EQ(log, std::vector<std::string>{"~b"});  // again heard nothing
}

TEST(TComponentTest, PartnersInsideOneOwnerDyingTogetherAreSafe) {
  // Each sibling points at the other; whichever dies first must not leave the
  // other with a notification for a freed object.
  std::vector<std::string> log;
  {
    auto form = std::make_unique<Probe>(nullptr, "form", &log);
    auto* in = Create<Probe>(form.get(), "in", &log);
    auto* out = Create<Probe>(form.get(), "out", &log);
    out->partner = in;
    in->partner = out;
    out->FreeNotification(in);
  }
  // out dies first (reverse order) and in hears of it; in dies without a word to out.
  EXPECT_EQ(log.end() - std::find(log.begin(), log.end(), "~out!"), 3)
      << ::testing::PrintToString(log);
  EXPECT_EQ(log[log.size() - 2], "in -?");
  EXPECT_EQ(log.back(), "~in!");
}

TEST(TComponentTest, MovingAndRemovingOwnership) {
  std::vector<std::string> log;
  auto one = std::make_unique<Probe>(nullptr, "one", &log);
  auto two = std::make_unique<Probe>(nullptr, "two", &log);
  auto* c = Create<Probe>(one.get(), "c", &log);
  two->InsertComponent(c);
  EXPECT_EQ(c->Owner(), two.get());
  EXPECT_EQ(one->ComponentCount(), 0);
  EXPECT_EQ(two->ComponentCount(), 1);
  two->RemoveComponent(c);
  EXPECT_EQ(c->Owner(), nullptr);
  std::unique_ptr<Probe> mine(c);  // the caller owns it now
  two.reset();
  EXPECT_EQ(Only(log, '~'), std::vector<std::string>{"~two"});
}

TEST(TComponentTest, StateFlagsAndLoaded) {
  std::vector<std::string> log;
  auto form = std::make_unique<Probe>(nullptr, "form", &log);
  form->BeginLoading();
  EXPECT_TRUE(form->HasState(csLoading));
  form->Loaded();
  EXPECT_FALSE(form->HasState(csLoading));
  EXPECT_EQ(log.back(), "loaded form");
  form->SetDesigning(true);
  auto* child = Create<Probe>(form.get(), "child", &log);
  EXPECT_TRUE(child->HasState(csDesigning));  // inherited at insertion
  form->SetDesigning(false);
  EXPECT_FALSE(child->HasState(csDesigning));
  log.clear();
  Free(child);
  EXPECT_EQ(form->ComponentCount(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"~child!", "form -?"}));
  Free(nullptr);
  EXPECT_THROW(Create<Probe>(nullptr, "x", &log), std::invalid_argument);
}

}  // namespace
}  // namespace qv
