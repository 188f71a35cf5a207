// tests/support/SampleComponents.h - a small family of components that publish every kind of
// property (strings, ordinals, sets, floats, sub-objects, string lists, nested collections,
// component references, events and methods), shared by the stored-form and TypInfo tests and
// the stored-form fuzz target.
#pragma once

#include "host/core/Classes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace jex::test {

using host::TClassInfo;
using host::TComponent;
using host::TComponentState;
using host::TDateTime;
using host::TNotifyEvent;
using host::TObject;
using host::TOperation;
using host::TPersistent;
using host::TSet;
using host::TTypeInfo;

/// The names of the sample components in the order their Loaded ran; tests clear it.
std::vector<std::string>& LoadLog();

enum TWidgetKind : std::uint8_t { wkNone, wkSmall, wkLarge };

enum TWidgetOption : std::uint8_t { woBold, woItalic, woUnder };

using TWidgetOptions = TSet<TWidgetOption>;

enum TSendFormat : std::uint8_t { sfBitmap, sfJpeg };

/// The type of TTestWidget's Kind.
const TTypeInfo& WidgetKindType();

/// The type of TTestWidget's and TTestSendTo's Options.
const TTypeInfo& WidgetOptionsType();

/// A settings sub-object, written flattened ("SendTo.EMail").
class TTestSendTo : public TPersistent {
    JEX_CLASS(TTestSendTo)

public:
    const std::string& EMail() const { return FEMail; }

    void SetEMail(const std::string& AValue) { FEMail = AValue; }

    bool Attach() const { return FAttach; }

    void SetAttach(bool AValue) { FAttach = AValue; }

    TSendFormat Format() const { return FFormat; }

    void SetFormat(TSendFormat AValue) { FFormat = AValue; }

    TWidgetOptions Options() const { return FOptions; }

    void SetOptions(TWidgetOptions AValue) { FOptions = AValue; }

    /// Takes every setting of AOther.
    void CopyFrom(const TTestSendTo& AOther);

private:
    std::string FEMail;
    bool FAttach = false;
    TSendFormat FFormat = sfBitmap;
    TWidgetOptions FOptions;
};

/// A string list in miniature.
class TTestLines : public TPersistent, public host::IStreamableStrings {
public:
    std::vector<std::string> GetLines() const override { return FLines; }

    void SetLines(const std::vector<std::string>& ALines) override { FLines = ALines; }

    std::vector<std::string> FLines;
};

class TTestItems;

/// A collection item with a caption, a width, a component reference and items of its own
/// (written only when there are some).
class TTestItem : public TPersistent {
    JEX_CLASS(TTestItem)

public:
    TTestItem();
    ~TTestItem() override;

    const std::string& Caption() const { return FCaption; }

    void SetCaption(const std::string& AValue) { FCaption = AValue; }

    int Width() const { return FWidth; }

    void SetWidth(int AValue) { FWidth = AValue; }

    TComponent* Link() const { return FLink; }

    void SetLink(TComponent* AValue) { FLink = AValue; }

    TTestItems* Children() const { return FChildren.get(); }

    void SetChildren(TTestItems*) {}

    bool HasChildren() const;

private:
    std::string FCaption;
    int FWidth = 0;
    TComponent* FLink = nullptr;
    std::unique_ptr<TTestItems> FChildren;
};

/// A collection in miniature; counts its update brackets.
class TTestItems : public TPersistent, public host::IStreamableCollection {
public:
    int Count() const override { return static_cast<int>(FItems.size()); }

    TTestItem* Item(int AIndex) const override {
        return FItems[static_cast<std::size_t>(AIndex)].get();
    }

    void Clear() override { FItems.clear(); }

    TTestItem* Add() override {
        FItems.push_back(std::make_unique<TTestItem>());
        return FItems.back().get();
    }

    void BeginUpdate() override { ++FUpdateDepth; }

    void EndUpdate() override {
        --FUpdateDepth;
        ++FEndUpdates;
    }

    std::vector<std::unique_ptr<TTestItem>> FItems;
    int FUpdateDepth = 0;
    int FEndUpdates = 0;
};

/// A widget with a property of every kind; records the component state its Caption was set
/// and read in, and its name in LoadLog when loaded.
class TTestWidget : public TComponent {
    JEX_CLASS(TTestWidget)

public:
    explicit TTestWidget(TComponent* AOwner)
        : TComponent(AOwner) {}

    const std::string& Caption() const {
        FStateAtCaptionRead = ComponentState();
        return FCaption;
    }

    void SetCaption(const std::string& AValue) {
        FCaption = AValue;
        FStateAtCaption = ComponentState();
    }

    int Count() const { return FCount; }

    void SetCount(int AValue) { FCount = AValue; }

    bool Enabled() const { return FEnabled; }

    void SetEnabled(bool AValue) { FEnabled = AValue; }

    bool Visible() const { return FVisible; }

    void SetVisible(bool AValue) { FVisible = AValue; }

    TWidgetKind Kind() const { return FKind; }

    void SetKind(TWidgetKind AValue) { FKind = AValue; }

    // By const reference; the other getters answer by value: the builder takes both.
    const TWidgetOptions& Options() const { return FOptions; }

    void SetOptions(const TWidgetOptions& AValue) { FOptions = AValue; }

    double Ratio() const { return FRatio; }

    void SetRatio(double AValue) { FRatio = AValue; }

    float Scale() const { return FScale; }

    void SetScale(float AValue) { FScale = AValue; }

    std::int64_t Big() const { return FBig; }

    void SetBig(std::int64_t AValue) { FBig = AValue; }

    TDateTime Stamp() const { return FStamp; }

    void SetStamp(TDateTime AValue) { FStamp = AValue; }

    double Price() const { return FPrice; }

    void SetPrice(double AValue) { FPrice = AValue; }

    std::uint32_t Handle() const { return FHandle; }

    void SetHandle(std::uint32_t AValue) { FHandle = AValue; }

    const std::string& Hidden() const { return FHidden; }

    void SetHidden(const std::string& AValue) { FHidden = AValue; }

    bool IsHiddenStored() const { return FStoreHidden; }

    TTestSendTo* SendTo() const { return FSendTo.get(); }

    void SetSendTo(TTestSendTo* AValue) { FSendTo->CopyFrom(*AValue); }

    TTestLines* Lines() const { return FLines.get(); }

    void SetLines(TTestLines* AValue) { FLines->FLines = AValue->FLines; }

    TTestItems* Items() const { return FItems.get(); }

    void SetItems(TTestItems*) {}

    TComponent* Buddy() const { return FBuddy; }

    void SetBuddy(TComponent* AValue);

    const TNotifyEvent& OnClick() const { return FOnClick; }

    void SetOnClick(const TNotifyEvent& AValue) { FOnClick = AValue; }

    void Loaded() override;

    void Notification(TComponent* AComponent, TOperation AOperation) override;

    bool FStoreHidden = false;
    TComponentState FStateAtCaption;
    mutable TComponentState FStateAtCaptionRead;

private:
    std::string FCaption;
    int FCount = 0;
    bool FEnabled = true;
    bool FVisible = false;
    TWidgetKind FKind = wkNone;
    TWidgetOptions FOptions{woBold};
    double FRatio = 0;
    float FScale = 0;
    std::int64_t FBig = 0;
    TDateTime FStamp = 0;
    double FPrice = 0;
    std::uint32_t FHandle = 0;
    std::string FHidden;
    std::unique_ptr<TTestSendTo> FSendTo = std::make_unique<TTestSendTo>();
    std::unique_ptr<TTestLines> FLines = std::make_unique<TTestLines>();
    std::unique_ptr<TTestItems> FItems = std::make_unique<TTestItems>();
    TComponent* FBuddy = nullptr;
    TNotifyEvent FOnClick;
};

/// The root of the sample forms: a caption, an OnCreate event and the published methods the
/// widgets' events bind to.
class TTestForm : public TComponent {
    JEX_CLASS(TTestForm)

public:
    explicit TTestForm(TComponent* AOwner)
        : TComponent(AOwner) {}

    const std::string& Caption() const { return FCaption; }

    void SetCaption(const std::string& AValue) { FCaption = AValue; }

    TNotifyEvent OnCreate() const { return FOnCreate; }

    void SetOnCreate(TNotifyEvent AValue) { FOnCreate = AValue; }

    void WidgetClick(TObject*) { ++FClicks; }

    void FormCreate(TObject*) {}

    void KeyPressed(TObject*, char&) {}

    void Loaded() override;

    int FClicks = 0;

private:
    std::string FCaption;
    TNotifyEvent FOnCreate;
};

/// Registers TTestForm and TTestWidget, so that stored forms can name them.
void RegisterSampleComponents();

} // namespace jex::test
