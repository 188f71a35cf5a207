// host/core/ClassesComponent.cpp - TPersistent and TComponent.
#include "host/core/ClassesComponent.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace host {

namespace {

bool SameTextAscii(const std::string& A, const std::string& B) {
    return A.size() == B.size() && strncasecmp(A.c_str(), B.c_str(), A.size()) == 0;
}

} // namespace

// ---- TPersistent ----------------------------------------------------------------------------

void TPersistent::Assign(TPersistent* ASource) {
    if (ASource != nullptr) {
        ASource->AssignTo(this);
        return;
    }
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* ADest) {
    ADest->AssignError(this);
}

void TPersistent::AssignError(TPersistent* ASource) {
    const std::string source = ASource != nullptr ? ASource->ClassName() : "nil";
    throw EConvertError("Cannot assign a " + source + " to a " + ClassName());
}

std::string TPersistent::GetNamePath() const {
    std::string result = ClassName();
    if (const TPersistent* owner = GetOwner()) {
        const std::string ownerPath = owner->GetNamePath();
        if (!ownerPath.empty())
            result = ownerPath + "." + result;
    }
    return result;
}

// ---- TComponent -----------------------------------------------------------------------------

bool IsValidIdent(const std::string& AName) {
    if (AName.empty())
        return true;
    auto isStart = [](unsigned char c) { return std::isalpha(c) != 0 || c == '_'; };
    if (static_cast<unsigned char>(AName[0]) >= 128 || !isStart(AName[0]))
        return false;
    return std::all_of(AName.begin() + 1, AName.end(), [&](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 128 && (isStart(u) || std::isdigit(u) != 0);
    });
}

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner != nullptr)
        AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Tell the linked components, last registered first; each removes its link to us.
    while (!FFreeNotifies.empty()) {
        TComponent* other = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        auto& back = other->FFreeNotifies;
        back.erase(std::remove(back.begin(), back.end(), this), back.end());
        other->Notification(this, opRemove);
    }
    // Owned components go last created first.
    while (!FComponents.empty()) {
        TComponent* child = FComponents.back();
        if (child->FState.Contains(csFreeNotification))
            RemoveComponent(child);
        else
            Remove(child);
        delete child;
    }
    if (FOwner != nullptr)
        FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int AIndex) const {
    if (AIndex < 0 || AIndex >= ComponentCount())
        throw EListError("List index out of bounds (" + std::to_string(AIndex) + ")");
    return FComponents[static_cast<std::size_t>(AIndex)];
}

int TComponent::ComponentIndex() const {
    if (FOwner == nullptr)
        return -1;
    const auto& list = FOwner->FComponents;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
    if (AName.empty())
        return nullptr;
    for (TComponent* c : FComponents)
        if (SameTextAscii(c->FName, AName))
            return c;
    return nullptr;
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& ACurName,
                                const std::string& ANewName) const {
    if (AComponent != nullptr && !SameTextAscii(ACurName, ANewName)) {
        TComponent* found = FindComponent(ANewName);
        if (found != nullptr && found != AComponent)
            throw EComponentError("A component named " + ANewName + " already exists");
    }
}

void TComponent::SetName(const std::string& AName) {
    if (AName == FName)
        return;
    if (!IsValidIdent(AName))
        throw EComponentError("''" + AName + "'' is not a valid component name");
    if (FOwner != nullptr)
        FOwner->ValidateRename(this, FName, AName);
    FName = AName;
}

void TComponent::Insert(TComponent* AComponent) {
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent),
                      FComponents.end());
    AComponent->FOwner = nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
    ValidateRename(AComponent, std::string(), AComponent->FName);
    Insert(AComponent);
    if (FState.Contains(csDesigning))
        AComponent->SetDesigning(true);
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    Notification(AComponent, opRemove);
    Remove(AComponent);
}

void TComponent::Notification(TComponent* AComponent, TOperation AOperation) {
    if (AOperation == opRemove && AComponent != nullptr)
        RemoveFreeNotification(AComponent);
    // Forward to the owned components; the list may shrink while we go.
    for (std::size_t i = 0; i < FComponents.size(); ++i)
        FComponents[i]->Notification(AComponent, AOperation);
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr)
        return;
    if (FOwner == nullptr || AComponent->FOwner != FOwner) {
        auto addTo = [](std::vector<TComponent*>& AList, TComponent* AItem) {
            if (std::find(AList.begin(), AList.end(), AItem) == AList.end())
                AList.push_back(AItem);
        };
        addTo(FFreeNotifies, AComponent);
        addTo(AComponent->FFreeNotifies, this);
    }
    FState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    auto removeFrom = [](std::vector<TComponent*>& AList, TComponent* AItem) {
        AList.erase(std::remove(AList.begin(), AList.end(), AItem), AList.end());
    };
    removeFrom(FFreeNotifies, AComponent);
    removeFrom(AComponent->FFreeNotifies, this);
}

void TComponent::Loaded() {
    FState.Exclude(csLoading);
}

void TComponent::SetDesigning(bool AValue, bool ASetChildren) {
    SetState(csDesigning, AValue);
    if (ASetChildren)
        for (TComponent* c : FComponents)
            c->SetDesigning(AValue, true);
}

void TComponent::SetState(TComponentStateMember AMember, bool AValue) {
    if (AValue)
        FState.Include(AMember);
    else
        FState.Exclude(AMember);
}

void TComponent::Destroying() {
    if (FState.Contains(csDestroying))
        return;
    FState.Include(csDestroying);
    for (TComponent* c : FComponents)
        c->Destroying();
}

} // namespace host

namespace host {

const TClassInfo& TPersistent::StaticClassInfo() {
    static const TClassInfo info{.Name = "TPersistent", .Parent = &TObject::StaticClassInfo()};
    return info;
}

const TClassInfo& TComponent::StaticClassInfo() {
    using T = TComponent;
    // Name comes from the object header of a stored form, never from a property line.
    static const TClassInfo info =
        TClassInfoBuilder<T>("TComponent", &TPersistent::StaticClassInfo())
            .Component()
            .String("Name", &T::Name, &T::SetName, Stored(false))
            .Integer("Tag", &T::Tag, &T::SetTag, 0)
            .Build();
    return info;
}

} // namespace host
