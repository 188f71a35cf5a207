// tests/host/core/ClassesCollectionsTest.cpp - collections: update reporting, IDs, moving,
// deleting, assignment and name paths.
#include "host/core/Classes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace host;

namespace {

class TValueItem : public TCollectionItem {
public:
    explicit TValueItem(TCollection* ACollection)
        : TCollectionItem(ACollection) {}

    int Value() const { return FValue; }

    void SetValue(int AValue) {
        FValue = AValue;
        Changed(false);
    }

    void Assign(TPersistent* ASource) override {
        if (auto* source = dynamic_cast<TValueItem*>(ASource)) {
            SetValue(source->FValue);
            return;
        }
        TCollectionItem::Assign(ASource);
    }

    bool Complete = true; // set once the derived part is built

private:
    int FValue = 0;
};

class TPlainItem : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
};

// Records what Update was told: "all" or "item <value>", and whether every item was complete.
class TRecordingCollection : public TCollection {
public:
    explicit TRecordingCollection(TCollectionItemClass AItemClass = ItemClassOf<TValueItem>())
        : TCollection(AItemClass) {}

    std::vector<std::string> Log;
    bool SawIncompleteItem = false;

protected:
    void Update(TCollectionItem* AItem) override {
        for (int i = 0; i < Count(); ++i) {
            auto* item = dynamic_cast<TValueItem*>(Items(i));
            if (item == nullptr || !item->Complete)
                SawIncompleteItem = true;
        }
        if (AItem == nullptr)
            Log.push_back("all");
        else
            Log.push_back("item " + std::to_string(static_cast<TValueItem*>(AItem)->Value()));
    }
};

TValueItem* AddValue(TCollection& ACollection, int AValue) {
    auto* item = static_cast<TValueItem*>(ACollection.Add());
    item->SetValue(AValue);
    return item;
}

std::vector<int> Values(const TCollection& ACollection) {
    std::vector<int> result;
    for (int i = 0; i < ACollection.Count(); ++i)
        result.push_back(static_cast<TValueItem*>(ACollection.Items(i))->Value());
    return result;
}

// A component that publishes its collection, for name paths.
class TCollectionOwner : public TComponent {
    JEX_CLASS(TCollectionOwner)

public:
    explicit TCollectionOwner(TComponent* AOwner)
        : TComponent(AOwner)
        , FProviders(this, ItemClassOf<TValueItem>()) {}

    TOwnedCollection& Providers() { return FProviders; }

private:
    TOwnedCollection FProviders;
};

const TClassInfo& TCollectionOwner::StaticClassInfo() {
    static const TTypeInfo collectionType{.Name = "TOwnedCollection",
                                          .Kind = tkClass,
                                          .ClassType = &TOwnedCollection::StaticClassInfo()};
    static const TClassInfo info{
        .Name = "TCollectionOwner",
        .Parent = &TComponent::StaticClassInfo(),
        .Props = {TPropInfo{.Name = "Providers",
                            .PropType = &collectionType,
                            .GetObject = [](const TObject* AObject) -> TObject* {
                                auto* owner = const_cast<TCollectionOwner*>(
                                    static_cast<const TCollectionOwner*>(AObject));
                                return &owner->Providers();
                            }}}};
    return info;
}

} // namespace

TEST(TCollectionTest, AddReportsOneUpdateOnceTheItemIsComplete) {
    TRecordingCollection collection;
    TCollectionItem* item = collection.Add();
    EXPECT_EQ(collection.Log, (std::vector<std::string>{"all"}));
    EXPECT_FALSE(collection.SawIncompleteItem);
    EXPECT_EQ(item->Collection(), &collection);
    EXPECT_EQ(item->GetOwner(), &collection);
    EXPECT_EQ(collection.GetOwner(), nullptr);
}

TEST(TCollectionTest, ItemChangesReportTheItemUnlessUpdating) {
    TRecordingCollection collection;
    TValueItem* item = AddValue(collection, 7);
    EXPECT_EQ(collection.Log, (std::vector<std::string>{"all", "item 7"}));
    collection.Log.clear();

    collection.BeginUpdate();
    item->SetValue(8);
    AddValue(collection, 9);
    collection.BeginUpdate();
    collection.EndUpdate();
    EXPECT_TRUE(collection.Log.empty());
    collection.EndUpdate();
    EXPECT_EQ(collection.Log, (std::vector<std::string>{"all"}));

    collection.Log.clear();
    collection.BeginUpdate();
    collection.EndUpdate(); // nothing changed, still reported
    EXPECT_EQ(collection.Log, (std::vector<std::string>{"all"}));
}

TEST(TCollectionTest, IdsCountUpAndAreNeverReused) {
    TRecordingCollection collection;
    AddValue(collection, 0);
    AddValue(collection, 1);
    AddValue(collection, 2);
    collection.Delete(1);
    collection.Delete(1);
    TCollectionItem* fresh = collection.Add();
    EXPECT_EQ(collection.Items(0)->ID(), 0);
    EXPECT_EQ(fresh->ID(), 3);
    EXPECT_EQ(collection.FindItemID(3), fresh);
    EXPECT_EQ(collection.FindItemID(1), nullptr);
}

TEST(TCollectionTest, DeletingAnItemRemovesItAndReports) {
    TRecordingCollection collection;
    AddValue(collection, 1);
    TValueItem* second = AddValue(collection, 2);
    AddValue(collection, 3);
    collection.Log.clear();
    delete second;
    EXPECT_EQ(Values(collection), (std::vector<int>{1, 3}));
    EXPECT_EQ(collection.Log, (std::vector<std::string>{"all"}));
    EXPECT_EQ(collection.Items(1)->Index(), 1);
}

TEST(TCollectionTest, ClearReportsOnceAndNothingWhenEmpty) {
    TRecordingCollection collection;
    collection.Clear();
    EXPECT_TRUE(collection.Log.empty());
    AddValue(collection, 1);
    AddValue(collection, 2);
    collection.Log.clear();
    collection.Clear();
    EXPECT_EQ(collection.Count(), 0);
    EXPECT_EQ(collection.Log, (std::vector<std::string>{"all"}));
}

TEST(TCollectionTest, MovingAnItemReportsAllItems) {
    TRecordingCollection collection;
    for (int v : {10, 20, 30})
        AddValue(collection, v);
    collection.Log.clear();
    collection.Items(2)->SetIndex(0);
    EXPECT_EQ(Values(collection), (std::vector<int>{30, 10, 20}));
    EXPECT_EQ(collection.Log, (std::vector<std::string>{"all"}));
    try {
        collection.Items(0)->SetIndex(3);
        FAIL() << "moved outside the collection";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (3)");
    }
    EXPECT_EQ(Values(collection), (std::vector<int>{30, 10, 20}));
}

TEST(TCollectionTest, InsertPlacesTheNewItemAndRefusesBadPlacesBeforeAdding) {
    TRecordingCollection collection;
    AddValue(collection, 1);
    AddValue(collection, 2);
    static_cast<TValueItem*>(collection.Insert(1))->SetValue(5);
    static_cast<TValueItem*>(collection.Insert(3))->SetValue(6);
    EXPECT_EQ(Values(collection), (std::vector<int>{1, 5, 2, 6}));
    EXPECT_THROW(collection.Insert(5), EListError);
    EXPECT_THROW(collection.Insert(-1), EListError);
    EXPECT_EQ(collection.Count(), 4);
}

TEST(TCollectionTest, ItemsOutsideTheListRaiseListErrors) {
    TRecordingCollection collection;
    AddValue(collection, 1);
    try {
        collection.Items(1);
        FAIL() << "no error";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (1)");
    }
    EXPECT_THROW(collection.Delete(-1), EListError);
}

TEST(TCollectionTest, AssignCopiesItemsThroughTheirAssign) {
    TRecordingCollection source;
    AddValue(source, 4);
    AddValue(source, 5);
    TRecordingCollection target;
    AddValue(target, 99);
    target.Log.clear();
    target.Assign(&source);
    EXPECT_EQ(Values(target), (std::vector<int>{4, 5}));
    EXPECT_EQ(target.Log, (std::vector<std::string>{"all"}));

    target.Assign(&target);
    EXPECT_EQ(Values(target), (std::vector<int>{4, 5}));
}

TEST(TCollectionTest, AssignWithoutItemAssignRaisesOnTheFirstItem) {
    TCollection source(ItemClassOf<TPlainItem>());
    source.Add();
    TCollection target(ItemClassOf<TPlainItem>());
    try {
        target.Assign(&source);
        FAIL() << "items without Assign were copied";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TPlainItem to a TPlainItem");
    }
    EXPECT_EQ(target.UpdateCount(), 0);
}

TEST(TCollectionTest, OwnedCollectionNamesItsPathThroughTheOwnersProperty) {
    auto* form = Create<TCollectionOwner>(nullptr);
    form->SetName("Processor1");
    TOwnedCollection& providers = form->Providers();
    EXPECT_EQ(providers.GetOwner(), form);
    providers.Add();
    TCollectionItem* second = providers.Add();
    EXPECT_EQ(providers.GetNamePath(), "Processor1.Providers");
    EXPECT_EQ(second->GetNamePath(), "Processor1.Providers[1]");
    EXPECT_EQ(second->DisplayName(), "TValueItem");

    TCollection loose(ItemClassOf<TValueItem>());
    EXPECT_EQ(loose.GetNamePath(), "TCollection");
    delete form;
}

TEST(TCollectionTest, ItemsCanLeaveAndJoinCollections) {
    TRecordingCollection first;
    TRecordingCollection second;
    TValueItem* item = AddValue(first, 1);
    first.Log.clear();
    item->SetCollection(&second);
    EXPECT_EQ(first.Count(), 0);
    EXPECT_EQ(second.Items(0), item);
    EXPECT_EQ(first.Log, (std::vector<std::string>{"all"}));
    item->SetCollection(nullptr);
    EXPECT_EQ(item->Index(), -1);
    EXPECT_EQ(item->GetNamePath(), "TValueItem");
    delete item; // no longer owned by any collection
}
