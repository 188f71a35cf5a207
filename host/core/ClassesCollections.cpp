// host/core/ClassesCollections.cpp - TCollectionItem, TCollection and TOwnedCollection.
#include "host/core/ClassesCollections.h"

#include "host/core/TypInfo.h"

#include <algorithm>

namespace host {

namespace {

[[noreturn]] void ListIndexError(int AIndex) {
    throw EListError("List index out of bounds (" + std::to_string(AIndex) + ")");
}

// Keeps a collection updating for a scope, also when an error leaves it.
class TCollectionUpdate {
public:
    explicit TCollectionUpdate(TCollection& ACollection)
        : FCollection(ACollection) {
        FCollection.BeginUpdate();
    }

    ~TCollectionUpdate() { FCollection.EndUpdate(); }

    TCollectionUpdate(const TCollectionUpdate&) = delete;
    TCollectionUpdate& operator=(const TCollectionUpdate&) = delete;

private:
    TCollection& FCollection;
};

} // namespace

// ---- TCollectionItem ------------------------------------------------------------------------

TCollectionItem::TCollectionItem(TCollection* ACollection) {
    SetCollection(ACollection);
}

TCollectionItem::~TCollectionItem() {
    SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* ACollection) {
    if (ACollection == FCollection)
        return;
    if (FCollection != nullptr)
        FCollection->RemoveItem(this);
    if (ACollection != nullptr)
        ACollection->InsertItem(this);
}

int TCollectionItem::Index() const {
    if (FCollection == nullptr)
        return -1;
    const auto& items = FCollection->FItems;
    const auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int AValue) {
    const int current = Index();
    if (current < 0 || current == AValue)
        return;
    auto& items = FCollection->FItems;
    if (AValue < 0 || AValue >= static_cast<int>(items.size()))
        ListIndexError(AValue);
    items.erase(items.begin() + current);
    items.insert(items.begin() + AValue, this);
    Changed(true);
}

std::string TCollectionItem::DisplayName() const {
    return ClassName();
}

void TCollectionItem::SetDisplayName(const std::string&) {
    Changed(false);
}

TPersistent* TCollectionItem::GetOwner() const {
    return FCollection;
}

std::string TCollectionItem::GetNamePath() const {
    if (FCollection == nullptr)
        return ClassName();
    return FCollection->GetNamePath() + "[" + std::to_string(Index()) + "]";
}

void TCollectionItem::Changed(bool AAllItems) {
    if (FCollection != nullptr && FCollection->FUpdateCount == 0)
        FCollection->Update(AAllItems ? nullptr : this);
}

// ---- TCollection ----------------------------------------------------------------------------

TCollection::TCollection(TCollectionItemClass AItemClass)
    : FItemClass(AItemClass) {}

TCollection::~TCollection() {
    // The derived part is gone: nothing may reach an override of Update any more.
    FUpdateCount = 1;
    while (!FItems.empty())
        delete FItems.back();
}

void TCollection::InsertItem(TCollectionItem* AItem) {
    FItems.push_back(AItem);
    AItem->FCollection = this;
    AItem->FID = FNextID++;
    Changed();
}

void TCollection::RemoveItem(TCollectionItem* AItem) {
    FItems.erase(std::find(FItems.begin(), FItems.end(), AItem));
    AItem->FCollection = nullptr;
    Changed();
}

TCollectionItem* TCollection::Add() {
    if (FItemClass == nullptr)
        throw EListError("Collection has no item class");
    // The item joins from inside its base constructor; the change is reported once the whole
    // item exists, so an Update override never meets a half-built item.
    ++FUpdateCount;
    TCollectionItem* item = nullptr;
    try {
        item = FItemClass(this);
    } catch (...) {
        --FUpdateCount;
        throw;
    }
    --FUpdateCount;
    Changed();
    return item;
}

TCollectionItem* TCollection::Insert(int AIndex) {
    if (AIndex < 0 || AIndex > Count())
        ListIndexError(AIndex);
    TCollectionItem* item = Add();
    item->SetIndex(AIndex);
    return item;
}

void TCollection::Delete(int AIndex) {
    delete Items(AIndex);
}

void TCollection::Clear() {
    if (FItems.empty())
        return;
    TCollectionUpdate update(*this);
    while (!FItems.empty())
        delete FItems.back();
}

TCollectionItem* TCollection::Items(int AIndex) const {
    if (AIndex < 0 || AIndex >= Count())
        ListIndexError(AIndex);
    return FItems[static_cast<std::size_t>(AIndex)];
}

void TCollection::SetItems(int AIndex, TCollectionItem* AValue) {
    Items(AIndex)->Assign(AValue);
}

TCollectionItem* TCollection::FindItemID(int AID) const {
    for (TCollectionItem* item : FItems)
        if (item->FID == AID)
            return item;
    return nullptr;
}

void TCollection::BeginUpdate() {
    ++FUpdateCount;
}

void TCollection::EndUpdate() {
    --FUpdateCount;
    Changed();
}

void TCollection::Changed() {
    if (FUpdateCount == 0)
        Update(nullptr);
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Assign(TPersistent* ASource) {
    if (auto* source = dynamic_cast<TCollection*>(ASource)) {
        // Clearing first would empty the very collection we copy from.
        if (source == this)
            return;
        TCollectionUpdate update(*this);
        Clear();
        for (TCollectionItem* item : source->FItems)
            Add()->Assign(item);
        return;
    }
    TPersistent::Assign(ASource);
}

std::string TCollection::PropName() const {
    const TPersistent* owner = GetOwner();
    if (owner == nullptr)
        return {};
    for (const TClassInfo* info = &owner->ClassInfo(); info != nullptr; info = info->Parent)
        for (const TPropInfo& prop : info->Props)
            if (prop.PropType != nullptr && prop.PropType->Kind == tkClass && prop.GetObject &&
                prop.GetObject(owner) == this)
                return prop.Name;
    return {};
}

std::string TCollection::GetNamePath() const {
    const TPersistent* owner = GetOwner();
    if (owner == nullptr)
        return ClassName();
    const std::string ownerPath = owner->GetNamePath();
    if (ownerPath.empty())
        return ownerPath;
    return ownerPath + "." + PropName();
}

} // namespace host

namespace host {

const TClassInfo& TCollectionItem::StaticClassInfo() {
    static const TClassInfo info{.Name = "TCollectionItem",
                                 .Parent = &TPersistent::StaticClassInfo()};
    return info;
}

const TClassInfo& TCollection::StaticClassInfo() {
    static const TClassInfo info{.Name = "TCollection", .Parent = &TPersistent::StaticClassInfo()};
    return info;
}

const TClassInfo& TOwnedCollection::StaticClassInfo() {
    static const TClassInfo info{.Name = "TOwnedCollection",
                                 .Parent = &TCollection::StaticClassInfo()};
    return info;
}

} // namespace host
