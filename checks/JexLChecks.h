// checks/JexLChecks.h - TJexLCheckProcessor: checks a form's input controls against rules and
// marks the failed ones.
//
// Each rule (TJexLCheckProvider or one of its four kinds) is bound to one control and tests it;
// the processor runs them in collection order, puts a small marker image with a hint to the
// right of every failed control, focuses the first failed control that can take the focus and
// beeps once. The processor owns its rules, its default marker picture and the markers. Rules
// forget a control or marker as soon as the framework reports its removal. Runs on the main
// thread only.
#pragma once

#include "host/core/Classes.h"
#include "host/forms/Controls.h"
#include "host/forms/ExtCtrls.h"
#include "host/forms/Graphics.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace jex {

/// The result of a rule's last check.
enum TJexLCheckStatus : std::uint8_t { csUnknown, csValid, csFailed };

class TJexLCheckProviders;

/// A rule of the base kind: bound to one control, it never fails by itself (its OnCheck may
/// still act). The four kinds below derive from it.
class TJexLCheckProvider : public host::TCollectionItem {
    JEX_CLASS(TJexLCheckProvider)

public:
    /// Joins ACollection (which then owns the rule); nullptr makes a free rule.
    explicit TJexLCheckProvider(host::TCollection* ACollection);
    /// Destroys the rule's marker with it.
    ~TJexLCheckProvider() override;

    /// The rule's own marker picture; empty by default (the processor's default is used).
    host::TPicture* Picture() const { return FPicture.get(); }

    /// Copies APicture into the rule's picture (nullptr empties it).
    void SetPicture(host::TPicture* APicture);

    /// The control to test; a reference, not owned. Cleared when the control is destroyed.
    host::TControl* GetCheckControl() const { return FCheckControl; }

    host::TControl* CheckControl() const { return FCheckControl; }

    /// Binds the rule to AValue and asks AValue to tell the processor when it goes away.
    void SetCheckControl(host::TControl* AValue);

    const std::string& HintText() const { return FHintText; }

    void SetHintText(const std::string& AValue);

    /// Whether a failure of this rule may take the focus to its control.
    bool FocusOnError() const { return FFocusOnError; }

    void SetFocusOnError(bool AValue);

    /// csUnknown until the first check, then the result of the last one.
    TJexLCheckStatus Status() const { return FStatus; }

    /// Fired after each check, with the rule as Sender.
    const host::TNotifyEvent& OnCheck() const { return FOnCheck; }

    void SetOnCheck(const host::TNotifyEvent& AValue) { FOnCheck = AValue; }

    /// The marker image, created on the rule's first failure; nullptr before that, and again
    /// once the marker has been destroyed with its parent window.
    host::TImage* LinkedImage() const { return FLinkedImage; }

    /// Runs the check, empties the marker's picture (so it shows nothing until highlighted
    /// again) and fires OnCheck.
    void ExecuteCheck();

    /// Places, refreshes or hides the marker: a rule that has none and has not failed is left
    /// alone; otherwise the marker (created owned by the processor on first use) shows the
    /// rule's own picture when that holds a bitmap, else APicture, transparent and sized to the
    /// picture, 5 pixels right of the control on the control's parent, visible exactly when the
    /// rule failed, with GetHintText as its hint.
    void CreateLinkedImage(host::TPicture* APicture);

    /// True when HintText differs from the default text of the rule's kind; only then is it
    /// written to a stored form.
    virtual bool HintMustBeStored() const;

    /// The text of the marker's hint.
    virtual std::string GetHintText() const;

    /// Copies another rule: the picture (by value), control, hint text and FocusOnError, inside
    /// the collection's BeginUpdate/EndUpdate; each kind then copies its own properties from a
    /// source of its kind or a derived one. Status, OnCheck and the marker stay. A source that
    /// is no rule raises EConvertError "Cannot assign a <Source> to a <Dest>".
    void Assign(host::TPersistent* ASource) override;

    /// Forgets AComponent where the rule refers to it (as its control or its marker); the
    /// processor calls this when the framework reports a removal.
    void ComponentRemoved(host::TComponent* AComponent);

    /// The default hint text of the base kind.
    static constexpr std::string_view DefaultHintText = "Check failed.";

protected:
    /// The rule's test; sets Status. Every kind starts with csValid.
    virtual void InternalCheck();

    void SetStatus(TJexLCheckStatus AValue) { FStatus = AValue; }

    /// The default hint text of the rule's kind.
    virtual std::string_view KindHintText() const { return DefaultHintText; }

private:
    // The processor (or other component) that owns the rule's collection; nullptr for none.
    host::TComponent* OwnerComponent() const;

    std::unique_ptr<host::TPicture> FPicture;
    host::TControl* FCheckControl = nullptr;
    std::string FHintText;
    bool FFocusOnError = true;
    TJexLCheckStatus FStatus = csUnknown;
    host::TNotifyEvent FOnCheck;
    host::TImage* FLinkedImage = nullptr;
};

/// The class-reference type of rules: constructs a rule of one kind in a collection.
using TJexLCheckProviderClass = host::TCollectionItemClass;

/// An edit box or memo must not be empty (while Required).
class TJexLCheckProviderEdit : public TJexLCheckProvider {
    JEX_CLASS(TJexLCheckProviderEdit)

public:
    explicit TJexLCheckProviderEdit(host::TCollection* ACollection);

    bool Required() const { return FRequired; }

    void SetRequired(bool AValue);

    void Assign(host::TPersistent* ASource) override;

    static constexpr std::string_view DefaultHintText = "Editbox can not be empty";

protected:
    /// Fails a memo whose lines hold no text, and any edit box whose text is empty.
    void InternalCheck() override;

    std::string_view KindHintText() const override { return DefaultHintText; }

private:
    bool FRequired = true;
};

/// An edit box must hold a number between MinValue and MaxValue (both included).
class TJexLCheckProviderNumericEdit : public TJexLCheckProviderEdit {
    JEX_CLASS(TJexLCheckProviderNumericEdit)

public:
    explicit TJexLCheckProviderNumericEdit(host::TCollection* ACollection);

    double MinValue() const { return FMinValue; }

    void SetMinValue(double AValue);

    double MaxValue() const { return FMaxValue; }

    void SetMaxValue(double AValue);

    /// The fixed text with both bounds (two decimals each), unless HintText was changed from
    /// the kind's default: then HintText, so a hint the developer wrote reaches the marker.
    std::string GetHintText() const override;

    void Assign(host::TPersistent* ASource) override;

    static constexpr std::string_view DefaultHintText =
        "Editbox must contain the value in range betwen %f and %f";

protected:
    /// The edit kind's check first; then the text, read with StrToFloat in the locale, must lie
    /// within the bounds. Text that is no number fails the rule (it does not raise); an empty
    /// box that is not Required holds no number to check and passes.
    void InternalCheck() override;

    std::string_view KindHintText() const override { return DefaultHintText; }

private:
    double FMinValue = 0;
    double FMaxValue = 0;
};

/// A check box must be ticked (while Checked; with Checked false the rule never fails).
class TJexLCheckProviderCheckbox : public TJexLCheckProvider {
    JEX_CLASS(TJexLCheckProviderCheckbox)

public:
    explicit TJexLCheckProviderCheckbox(host::TCollection* ACollection);

    bool Checked() const { return FChecked; }

    void SetChecked(bool AValue);

    void Assign(host::TPersistent* ASource) override;

    static constexpr std::string_view DefaultHintText = "Checkbox must be checked";

protected:
    void InternalCheck() override;

    std::string_view KindHintText() const override { return DefaultHintText; }

private:
    bool FChecked = true;
};

/// A combo box must not be empty (while Required).
class TJexLCheckProviderCombobox : public TJexLCheckProvider {
    JEX_CLASS(TJexLCheckProviderCombobox)

public:
    explicit TJexLCheckProviderCombobox(host::TCollection* ACollection);

    bool Required() const { return FRequired; }

    void SetRequired(bool AValue);

    void Assign(host::TPersistent* ASource) override;

    static constexpr std::string_view DefaultHintText = "Editbox can not be empty";

protected:
    void InternalCheck() override;

    std::string_view KindHintText() const override { return DefaultHintText; }

private:
    bool FRequired = true;
};

/// Makes the rule kind AClass known by its class name to stored forms and to copies of rule
/// collections, which then make rules of that kind again with ACreate. The four kinds of this
/// unit are known from the start; registering a name again replaces its constructor.
void RegisterCheckProviderClass(const host::TClassInfo& AClass, TJexLCheckProviderClass ACreate);

/// Registers the rule kind K (a class derived from TJexLCheckProvider).
template <typename K>
void RegisterCheckProviderClass() {
    RegisterCheckProviderClass(K::StaticClassInfo(), host::ItemClassOf<K>());
}

/// The constructor of the rule kind called AClassName (ignoring case); nullptr when unknown.
TJexLCheckProviderClass FindCheckProviderClass(const std::string& AClassName);

/// The processor's rules. Add creates a rule of the base kind; a rule of another kind is made
/// by constructing that kind with this collection. Copies and stored forms keep each rule's
/// kind; a stored form without kinds loads every rule as the base kind, as before.
class TJexLCheckProviders : public host::TCollection {
    JEX_CLASS(TJexLCheckProviders)

public:
    /// AOwner (the processor) is what GetOwner returns and what owns the rules' markers.
    explicit TJexLCheckProviders(host::TComponent* AOwner);

    /// A new rule of the base kind at the end.
    TJexLCheckProvider* Add() override;

    /// The rule at AIndex; EListError "List index out of bounds (<index>)" outside.
    TJexLCheckProvider* GetCheckProvider(int AIndex) const;

    /// Assigns AValue into the existing rule at AIndex.
    void SetCheckProvider(int AIndex, TJexLCheckProvider* AValue);

    host::TPersistent* GetOwner() const override { return FOwner; }

    /// Replaces the rules by copies of a rule collection's rules, each of its source's kind
    /// (a kind that is not registered is copied as the base kind), in one update. Other sources
    /// go to the collection's Assign.
    void Assign(host::TPersistent* ASource) override;

    /// The class name of the rule at AIndex when it is not of the base kind.
    std::string StoredItemClass(int AIndex) const override;

    /// A new rule of the registered kind AClassName at the end; nullptr for an unknown kind.
    host::TPersistent* AddStoredItem(const std::string& AClassName) override;

    /// The owner as a component.
    host::TComponent* OwnerComponent() const { return FOwner; }

private:
    host::TComponent* FOwner;
};

/// Checks the controls of a form against its rules and marks the failed ones.
class TJexLCheckProcessor : public host::TComponent {
    JEX_CLASS(TJexLCheckProcessor)

public:
    /// Loads the default marker from the library's bitmap resource "JexL_FAILED" (transparent
    /// colour magenta, transparency on).
    explicit TJexLCheckProcessor(host::TComponent* AOwner);
    /// Destroys the rules (and with them the markers) and the default picture.
    ~TJexLCheckProcessor() override;

    /// The marker shown for failed rules that have no picture of their own.
    host::TPicture* DefaultPicture() const { return FDefaultPicture.get(); }

    /// Copies APicture into the default picture.
    void SetDefaultPicture(host::TPicture* APicture);

    TJexLCheckProviders* CheckProviders() const { return FCheckProviders.get(); }

    /// Copies the rules of AValue into this processor's collection.
    void SetCheckProviders(TJexLCheckProviders* AValue);

    /// Whether a failed run beeps (once).
    bool BeepOnError() const { return FBeepOnError; }

    void SetBeepOnError(bool AValue) { FBeepOnError = AValue; }

    /// Checks every rule; true when none failed. Otherwise the failed controls are marked,
    /// focused and beeped at (HighlightFailed).
    bool Execute();

    /// ExecuteCheck on every rule, in collection order.
    void CheckAllProviders();

    /// How many rules failed their last check.
    int FailedCount() const;

    /// For every rule in order: places or hides its marker; for failed ones gives the focus to
    /// the first control that may and can take it, and sounds the error beep (16) once.
    void HighlightFailed();

    /// Clears the rules' references to a control or marker that is being removed.
    void Notification(host::TComponent* AComponent, host::TOperation AOperation) override;

private:
    std::unique_ptr<host::TPicture> FDefaultPicture;
    std::unique_ptr<TJexLCheckProviders> FCheckProviders;
    bool FBeepOnError = true;
};

/// The library's marker bitmap "JexL_FAILED" as a whole BMP file: 16 x 16, a red diamond with a
/// small yellow centre on a magenta ground.
std::string_view FailedMarkerBitmap();

/// Initialisation and finalisation of the unit: registers the processor's class and the marker
/// bitmap resource (nested calls only count).
void JexLChecksInitialization();
void JexLChecksFinalization();

} // namespace jex
