// The class library's persistent objects: anything whose published state can be copied
// from another object with Assign, and the owned collections of items that stored form
// data is made of. A collection owns its items; an item knows its collection and leaves it
// when it is destroyed. Not thread-safe.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/base/exception.h"

namespace qv {

// Assigning between classes that cannot take each other ("Cannot assign a ... to a ...").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// "List index out of bounds (%d)".
class EListError : public Exception {
 public:
  using Exception::Exception;
};

class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  // Copies `source` into this object. The base asks the source to do it (AssignTo), whose
  // base refuses with EConvertError; a class overrides whichever side knows both.
  virtual void Assign(const TPersistent& source);
  // The class name the messages of the class library give.
  [[nodiscard]] virtual std::string ClassName() const { return "TPersistent"; }
  // The object that owns this one, null when none does.
  [[nodiscard]] virtual TPersistent* GetOwner() const { return nullptr; }

 protected:
  virtual void AssignTo(TPersistent& dest) const;
};

class TCollection;

class TCollectionItem : public TPersistent {
 public:
  // Joins `collection` (null: none) at its end.
  explicit TCollectionItem(TCollection* collection);
  // Leaves its collection.
  ~TCollectionItem() override;

  [[nodiscard]] TCollection* Collection() const { return collection_; }
  // Moves the item into another collection (null: out of any).
  void SetCollection(TCollection* collection);
  // Position in the collection, -1 without one.
  [[nodiscard]] int Index() const;
  void SetIndex(int index);
  [[nodiscard]] TPersistent* GetOwner() const override;
  [[nodiscard]] std::string ClassName() const override { return "TCollectionItem"; }

 protected:
  // Tells the collection that this item (or, with `allItems`, everything) changed.
  void Changed(bool allItems);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
};

class TCollection : public TPersistent {
 public:
  // Makes an empty item of the collection's item class inside `collection`.
  using ItemClass = std::function<TCollectionItem*(TCollection* collection)>;

  TCollection(TPersistent* owner, ItemClass itemClass);
  // Frees every item.
  ~TCollection() override;

  [[nodiscard]] int Count() const { return int(items_.size()); }
  // Throws EListError for an index outside 0..Count-1.
  [[nodiscard]] TCollectionItem* Items(int index) const;
  // A new item of the item class at the end (Insert: at `index`).
  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  // Frees the item at `index`.
  void Delete(int index);
  // Frees every item.
  void Clear();
  // Another collection: its items are copied one by one with their own Assign, after this
  // one was emptied. Anything else goes to the base rule.
  void Assign(const TPersistent& source) override;

  // Update notifications wait until the outermost EndUpdate, which sends one for everything.
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  [[nodiscard]] int UpdateCount() const { return updateCount_; }

  [[nodiscard]] TPersistent* Owner() const { return owner_; }
  [[nodiscard]] TPersistent* GetOwner() const override { return owner_; }
  [[nodiscard]] std::string ClassName() const override { return "TCollection"; }

 protected:
  // `item` changed, or everything when it is null. The base does nothing.
  virtual void Update(TCollectionItem* item) {}
  // After every change (items added, removed, moved, changed).
  void Changed(TCollectionItem* item);

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item, int index);
  void RemoveItem(TCollectionItem* item);
  [[nodiscard]] TCollectionItem* NewItem();

  TPersistent* owner_;
  ItemClass itemClass_;
  std::vector<TCollectionItem*> items_;  // owned
  int updateCount_ = 0;
};

// Typed access for a collection of one item class: `Items` returns T*, `Add` makes a T.
template <class T>
class TOwnedCollection : public TCollection {
 public:
  explicit TOwnedCollection(TPersistent* owner)
      : TCollection(owner, [](TCollection* c) -> TCollectionItem* { return new T(c); }) {}
  [[nodiscard]] T* Items(int index) const { return static_cast<T*>(TCollection::Items(index)); }
  [[nodiscard]] T* operator[](int index) const { return Items(index); }
  T* Add() { return static_cast<T*>(TCollection::Add()); }
  T* Insert(int index) { return static_cast<T*>(TCollection::Insert(index)); }
};

}  // namespace qv
