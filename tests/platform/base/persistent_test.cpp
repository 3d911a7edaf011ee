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
  ~TNamedItem() override { ++destroyed; }
  void Assign(const TPersistent& source) override {
    if (const auto* other = dynamic_cast<const TNamedItem*>(&source)) {
      name = other->name;
      Changed(false);
    } else {
      TCollectionItem::Assign(source);
    }
  }
  [[nodiscard]] std::string ClassName() const override { return "TNamedItem"; }
  std::string name;
  static inline int destroyed = 0;
};

class TSpyCollection : public TOwnedCollection<TNamedItem> {
 public:
  using TOwnedCollection::TOwnedCollection;
  std::vector<TCollectionItem*> updates;

 protected:
  void Update(TCollectionItem* item) override { updates.push_back(item); }
};

std::vector<std::string> Names(const TSpyCollection& c) {
  std::vector<std::string> out;
  for (int i = 0; i < c.Count(); ++i) out.push_back(c[i]->name);
  return out;
}

TEST(PersistentTest, CollectionOwnsOrdersAndCopiesItsItems) {
  TComponent owner(nullptr);
  TSpyCollection a(&owner), b(nullptr);
  EXPECT_EQ(a.GetOwner(), &owner);
  for (const char* n : {"one", "two", "three"}) a.Add()->name = n;
  EXPECT_EQ(a[1]->Index(), 1);
  EXPECT_EQ(a[1]->GetOwner(), &a);
  a[2]->SetIndex(0);
  EXPECT_EQ(Names(a), (std::vector<std::string>{"three", "one", "two"}));
  a.Insert(1)->name = "new";
  EXPECT_EQ(Names(a), (std::vector<std::string>{"three", "new", "one", "two"}));

  // An item freed on its own leaves the collection; Delete frees.
  TNamedItem::destroyed = 0;
  delete a[0];
  a.Delete(0);
  EXPECT_EQ(TNamedItem::destroyed, 2);
  EXPECT_EQ(Names(a), (std::vector<std::string>{"one", "two"}));
  EXPECT_THROW((void)a.Items(2), EListError);
  EXPECT_THROW((void)a.Items(-1), EListError);

  // Assign empties the target and copies item by item, with one update at the end.
  b.Add()->name = "old";
  b.updates.clear();
  b.Assign(a);
  EXPECT_EQ(Names(b), Names(a));
  EXPECT_NE(b[0], a[0]);
  EXPECT_EQ(b.updates, (std::vector<TCollectionItem*>{nullptr}));
  // An item change outside an update names the item.
  b.updates.clear();
  b[1]->Assign(*a[0]);
  EXPECT_EQ(b.updates, (std::vector<TCollectionItem*>{b[1]}));

  // Moving an item between collections.
  b[0]->SetCollection(&a);
  EXPECT_EQ(Names(a), (std::vector<std::string>{"one", "two", "one"}));
  EXPECT_EQ(b.Count(), 1);
}

TEST(PersistentTest, AssignBetweenUnrelatedClassesIsRefused) {
  TSpyCollection c(nullptr);
  TNamedItem* item = c.Add();
  TComponent component(nullptr);
  try {
    item->Assign(component);
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TComponent to a TNamedItem");
  }
  EXPECT_THROW(c.Assign(*item), EConvertError);
  EXPECT_EQ(c.Count(), 1);
}

}  // namespace
}  // namespace qv
