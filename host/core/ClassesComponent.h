// host/core/ClassesComponent.h - persistent objects and components: ownership, names,
// notifications (Classes unit).
//
// TComponent follows the framework's rules: the owner destroys what it owns (last created
// first), names are identifiers unique among siblings, FreeNotification links components of
// different owners, and components are created in two phases (Create<T>) so that overridable
// steps run on the complete object.
#pragma once

#include "host/core/SysUtils.h"
#include "host/core/System.h"
#include "host/core/TypInfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace host {

class TPersistent : public TObject {
    JEX_CLASS(TPersistent)

public:
    /// Copies ASource into this object. The base asks ASource->AssignTo and, failing that,
    /// raises EConvertError "Cannot assign a <Source> to a <Dest>" (nil for no source).
    virtual void Assign(TPersistent* ASource);

    /// Path of the object for messages and the designer ("Form1.SendTo").
    virtual std::string GetNamePath() const;

    /// The object that owns this one for streaming and name paths; nullptr for none.
    virtual TPersistent* GetOwner() const { return nullptr; }

protected:
    virtual void AssignTo(TPersistent* ADest);
    [[noreturn]] void AssignError(TPersistent* ASource);
};

enum TComponentStateMember : std::uint8_t {
    csLoading,
    csReading,
    csWriting,
    csDestroying,
    csDesigning,
    csAncestor,
    csUpdating,
    csFixups,
    csFreeNotification,
    csInline,
    csDesignInstance,
};

using TComponentState = TSet<TComponentStateMember>;

enum TOperation : std::uint8_t { opInsert, opRemove };

class TComponent : public TPersistent {
    JEX_CLASS(TComponent)

public:
    /// First construction phase: joins AOwner (which then destroys this component). Create
    /// components with host::Create<T>(owner), which also runs AfterConstruction.
    explicit TComponent(TComponent* AOwner);

    /// Runs the framework's destruction: marks this component and its owned ones as
    /// destroying, tells the components linked by FreeNotification, destroys the owned
    /// components last created first, and leaves the owner.
    ~TComponent() override;

    /// Second construction phase, run once the object is complete; overrides call the
    /// inherited one first.
    virtual void AfterConstruction() {}

    TComponent* Owner() const { return FOwner; }

    const std::string& Name() const { return FName; }

    /// Renames the component. Raises EComponentError for a name that is not an identifier or
    /// that a sibling already has (ignoring case).
    void SetName(const std::string& AName);

    std::intptr_t Tag() const { return FTag; }

    void SetTag(std::intptr_t AValue) { FTag = AValue; }

    TComponentState ComponentState() const { return FState; }

    int ComponentCount() const { return static_cast<int>(FComponents.size()); }

    TComponent* Components(int AIndex) const;

    /// Index among the owner's components, -1 without owner.
    int ComponentIndex() const;

    /// The owned component called AName (ignoring case); nullptr for none or an empty name.
    TComponent* FindComponent(const std::string& AName) const;

    /// Asks to tell AComponent (through Notification) when this component is destroyed.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);

    /// Called once a stored form's properties have been applied; clears csLoading.
    virtual void Loaded();

    /// Sets or clears the designing state, for this component and (optionally) what it owns.
    void SetDesigning(bool AValue, bool ASetChildren = true);

    /// Sets or clears one state flag; the stored-form reader uses it for csLoading/csReading.
    void SetState(TComponentStateMember AMember, bool AValue);

    /// Marks this component and everything it owns as destroying.
    void Destroying();

    std::string GetNamePath() const override { return FName; }

    TPersistent* GetOwner() const override { return FOwner; }

    /// Told when AComponent joins or leaves this component's owner, or when a component that
    /// this one asked for a free notification is destroyed. Overrides call the inherited one,
    /// which forwards the call to the owned components.
    virtual void Notification(TComponent* AComponent, TOperation AOperation);

private:
    void Insert(TComponent* AComponent);
    void Remove(TComponent* AComponent);
    void ValidateRename(TComponent* AComponent, const std::string& ACurName,
                        const std::string& ANewName) const;

    TComponent* FOwner = nullptr;
    std::string FName;
    std::intptr_t FTag = 0;
    TComponentState FState;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

/// True when AName is a valid component name: empty, or an ASCII identifier.
bool IsValidIdent(const std::string& AName);

/// Creates a component of class T owned by AOwner in two phases: constructs it, then runs
/// AfterConstruction on the complete object. Should that raise, the component is destroyed and
/// the error passes on.
template <typename T, typename... A>
T* Create(TComponent* AOwner, A&&... AArgs) {
    T* component = new T(AOwner, std::forward<A>(AArgs)...);
    try {
        component->AfterConstruction();
    } catch (...) {
        delete component;
        throw;
    }
    return component;
}

/// Sets one state flag of a component for a scope and restores its previous value.
class TComponentStateScope {
public:
    TComponentStateScope(TComponent* AComponent, TComponentStateMember AMember)
        : FComponent(AComponent)
        , FMember(AMember)
        , FWasSet(AComponent->ComponentState().Contains(AMember)) {
        FComponent->SetState(FMember, true);
    }

    ~TComponentStateScope() { FComponent->SetState(FMember, FWasSet); }

    TComponentStateScope(const TComponentStateScope&) = delete;
    TComponentStateScope& operator=(const TComponentStateScope&) = delete;

private:
    TComponent* FComponent;
    TComponentStateMember FMember;
    bool FWasSet;
};

} // namespace host
