// host/core/ClassesCollections.h - collections of persistent items (TCollection).
//
// Part of the Classes unit (Classes.h includes it). A collection owns its items,
// creates them through its item class, numbers them with IDs that are never reused and reports
// every change through the virtual Update, batched by BeginUpdate/EndUpdate. Stored forms write
// collection properties as "< item ... end >" lists.
#pragma once

#include "host/core/ClassesComponent.h"
#include "host/core/SysUtils.h"
#include "host/core/System.h"

#include <string>
#include <vector>

namespace host {

class TCollection;
class TCollectionItem;

/// The item class of a collection: constructs one item of the class in ACollection (the
/// item's constructor adds it there). ItemClassOf<T>() gives the one for class T.
using TCollectionItemClass = TCollectionItem* (*)(TCollection* ACollection);

template <typename T>
TCollectionItemClass ItemClassOf() {
    return [](TCollection* ACollection) -> TCollectionItem* { return new T(ACollection); };
}

/// One item of a collection. Constructing it with a collection adds it there (the collection
/// then owns it); deleting it removes it, which the collection reports as a change.
class TCollectionItem : public TPersistent {
    JEX_CLASS(TCollectionItem)

public:
    explicit TCollectionItem(TCollection* ACollection);
    ~TCollectionItem() override;

    TCollection* Collection() const { return FCollection; }

    /// Moves the item into ACollection (nullptr: out of any collection, the caller then owns
    /// it), reporting the change to both collections.
    void SetCollection(TCollection* ACollection);

    /// Unique within the collection, in order of addition; never reused.
    int ID() const { return FID; }

    /// Position in the collection; -1 without one.
    int Index() const;

    /// Moves the item to AValue and reports a change of all items. Raises EListError
    /// "List index out of bounds (<index>)" for a place outside the collection.
    virtual void SetIndex(int AValue);

    /// The name the designer shows: the class name unless a derived class knows better.
    virtual std::string DisplayName() const;

    /// The base stores no name; it only reports the change.
    virtual void SetDisplayName(const std::string& AValue);

    /// The collection.
    TPersistent* GetOwner() const override;

    /// "<collection path>[<index>]"; the class name when the item is in no collection.
    std::string GetNamePath() const override;

protected:
    /// Reports a change of this item (AAllItems: of the whole collection) unless the
    /// collection is updating. Property setters call Changed(false).
    void Changed(bool AAllItems);

private:
    friend class TCollection;

    TCollection* FCollection = nullptr;
    int FID = 0;
};

/// A list of items of one item class, which it owns. Every addition, removal and move
/// reports Update(nullptr) (a change of one item's properties reports Update(item)) unless an
/// update is in progress; the outermost EndUpdate then always reports Update(nullptr).
class TCollection : public TPersistent, public IStreamableCollection {
    JEX_CLASS(TCollection)

public:
    // Stored forms read and write the items as "< item ... end >".
    TPersistent* Item(int AIndex) const override { return Items(AIndex); }

    explicit TCollection(TCollectionItemClass AItemClass);

    /// Frees the items without reporting changes.
    ~TCollection() override;

    TCollectionItemClass ItemClass() const { return FItemClass; }

    /// Creates a new item of the item class at the end; one Update(nullptr) once the item is
    /// complete.
    TCollectionItem* Add() override;

    /// Adds an item and moves it to AIndex (0..Count); EListError for any other place, before
    /// anything is added.
    TCollectionItem* Insert(int AIndex);

    /// Frees the item at AIndex (EListError when there is none).
    void Delete(int AIndex);

    /// Frees all items, last first, as one update; nothing is reported when already empty.
    void Clear() override;

    int Count() const override { return static_cast<int>(FItems.size()); }

    /// The item at AIndex; EListError "List index out of bounds (<index>)" outside.
    TCollectionItem* Items(int AIndex) const;

    /// Assigns AValue to the item at AIndex.
    void SetItems(int AIndex, TCollectionItem* AValue);

    /// The item with AID; nullptr when none has it.
    TCollectionItem* FindItemID(int AID) const;

    void BeginUpdate() override;
    void EndUpdate() override;

    int UpdateCount() const { return FUpdateCount; }

    /// Replaces the items by copies of a collection's items (each new item Assigns its
    /// source, so item classes must override Assign) in one update; other sources go to
    /// TPersistent::Assign. Assigning a collection to itself keeps it.
    void Assign(TPersistent* ASource) override;

    /// "<owner path>.<property name>", naming the owner's published property that holds this
    /// collection; the class name without owner, empty when the owner has no path.
    std::string GetNamePath() const override;

protected:
    /// Told of a change: AItem changed, or (nullptr) the collection as a whole.
    virtual void Update(TCollectionItem* AItem);

    /// Reports Update(nullptr) unless updating.
    void Changed();

private:
    friend class TCollectionItem;

    void InsertItem(TCollectionItem* AItem);
    void RemoveItem(TCollectionItem* AItem);
    std::string PropName() const;

    TCollectionItemClass FItemClass;
    std::vector<TCollectionItem*> FItems;
    int FUpdateCount = 0;
    int FNextID = 0;
};

/// A collection that belongs to an object (a component's collection property): GetOwner
/// returns that object, which gives the collection and its items their name paths.
class TOwnedCollection : public TCollection {
    JEX_CLASS(TOwnedCollection)

public:
    TOwnedCollection(TPersistent* AOwner, TCollectionItemClass AItemClass)
        : TCollection(AItemClass)
        , FOwner(AOwner) {}

    TPersistent* GetOwner() const override { return FOwner; }

private:
    TPersistent* FOwner;
};

} // namespace host
