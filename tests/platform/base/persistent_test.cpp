#include "platform/base/persistent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/component.h"

namespace qv {
namespace {

class TNamedItem : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
  void Assign(const TPersistent& source) override {
    const auto* other = dynamic_cast<const TNamedItem*>(&source);
    if (other == nullptr) return TCollectionItem::Assign(source);
    name = other->name;
    Changed(false);
  }
  [[nodiscard]] std::string ClassName() const override { return "TNamedItem"; }
  std::string name;
};

class TSpyCollection : public TOwnedCollection<TNamedItem> {
 public:
  using TOwnedCollection::TOwnedCollection;
  [[nodiscard]] std::string Names() const {
    std::string out;
    for (int i = 0; i < Count(); ++i) out += Items(i)->name + ",";
    return out;
  }
  std::vector<TCollectionItem*> updates;

 protected:
  void Update(TCollectionItem* item) override { updates.push_back(item); }
};

TEST(PersistentTest, CollectionsOwnOrderAndCopyTheirItems) {
  TComponent owner(nullptr);
  TSpyCollection a(&owner), b(nullptr);
  EXPECT_EQ(a.GetOwner(), &owner);
  for (const char* n : {"one", "two", "three"}) a.Add()->name = n;
  EXPECT_EQ(a[1]->GetOwner(), &a);
  a[2]->SetIndex(0);
  a.Insert(1)->name = "new";
  EXPECT_EQ(a.Names(), "three,new,one,two,");
  delete a[0];  // an item freed on its own leaves the collection
  a.Delete(0);
  EXPECT_EQ(a.Names(), "one,two,");
  EXPECT_THROW((void)a.Items(2), EListError);

  // Assign empties the target and copies item by item, with one update at the end; a
  // changed item names itself.
  b.Add()->name = "old";
  b.updates.clear();
  b.Assign(a);
  EXPECT_EQ(b.Names(), "one,two,");
  EXPECT_NE(b[0], a[0]);
  EXPECT_EQ(b.updates, std::vector<TCollectionItem*>{nullptr});
  b.updates.clear();
  b[1]->Assign(*a[0]);
  EXPECT_EQ(b.updates, std::vector<TCollectionItem*>{b[1]});

  // Unrelated classes refuse each other.
  try {
    b[0]->Assign(owner);
    ADD_FAILURE() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TComponent to a TNamedItem");
  }
  EXPECT_THROW(b.Assign(*b[0]), EConvertError);
  EXPECT_EQ(b.Count(), 2);
}

}  // namespace
}  // namespace qv
