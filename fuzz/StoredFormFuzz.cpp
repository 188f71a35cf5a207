// fuzz/StoredFormFuzz.cpp - libFuzzer target for the stored-form reader and writer.
//
// Feeds arbitrary text to ReadComponentFromText with a small family of registered classes
// that publish every kind of property (strings, ordinals, sets, floats, sub-objects, string
// lists, nested collections, component references, events). Any host exception is a fine
// answer; a crash, a leak, or a form that reads but does not read back to the same text is a
// fault.
#include "host/core/ClassesStreaming.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace host;

namespace {

enum TFuzzKind : std::uint8_t { fkA, fkB, fkC };

enum TFuzzFlag : std::uint8_t { ffOne, ffTwo, ffThree };

using TFuzzFlags = TSet<TFuzzFlag>;

const TTypeInfo& FuzzKindType() {
    return EnumType<TFuzzKind>("TFuzzKind", {"fkA", "fkB", "fkC"});
}

const TTypeInfo& FuzzFlagsType() {
    return SetType<TFuzzFlag>("TFuzzFlags",
                              EnumType<TFuzzFlag>("TFuzzFlag", {"ffOne", "ffTwo", "ffThree"}));
}

class TFuzzItems;

class TFuzzItem : public TPersistent {
    JEX_CLASS(TFuzzItem)

public:
    TFuzzItem();
    ~TFuzzItem() override;

    const std::string& Text() const { return FText; }

    void SetText(const std::string& AValue) { FText = AValue; }

    TComponent* Link() const { return FLink; }

    void SetLink(TComponent* AValue) { FLink = AValue; }

    TFuzzItems* Children() const { return FChildren.get(); }

    void SetChildren(TFuzzItems*) {}

private:
    std::string FText;
    TComponent* FLink = nullptr;
    std::unique_ptr<TFuzzItems> FChildren;
};

class TFuzzItems : public TPersistent, public IStreamableCollection {
public:
    int Count() const override { return static_cast<int>(FItems.size()); }

    TFuzzItem* Item(int AIndex) const override {
        return FItems[static_cast<std::size_t>(AIndex)].get();
    }

    void Clear() override { FItems.clear(); }

    TFuzzItem* Add() override {
        FItems.push_back(std::make_unique<TFuzzItem>());
        return FItems.back().get();
    }

    void BeginUpdate() override {}

    void EndUpdate() override {}

private:
    std::vector<std::unique_ptr<TFuzzItem>> FItems;
};

TFuzzItem::TFuzzItem()
    : FChildren(std::make_unique<TFuzzItems>()) {}

TFuzzItem::~TFuzzItem() = default;

const TClassInfo& TFuzzItem::StaticClassInfo() {
    using T = TFuzzItem;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TFuzzItem", &TPersistent::StaticClassInfo())
            .String("Text", &T::Text, &T::SetText)
            .Object("Link", &T::Link, &T::SetLink)
            .Collection("Children", &T::Children, &T::SetChildren)
            .Build();
    return info;
}

class TFuzzLines : public TPersistent, public IStreamableStrings {
public:
    std::vector<std::string> GetLines() const override { return FLines; }

    void SetLines(const std::vector<std::string>& ALines) override { FLines = ALines; }

private:
    std::vector<std::string> FLines;
};

class TFuzzSettings : public TPersistent {
    JEX_CLASS(TFuzzSettings)

public:
    const std::string& Address() const { return FAddress; }

    void SetAddress(const std::string& AValue) { FAddress = AValue; }

    TFuzzFlags Flags() const { return FFlags; }

    void SetFlags(TFuzzFlags AValue) { FFlags = AValue; }

private:
    std::string FAddress;
    TFuzzFlags FFlags;
};

const TClassInfo& TFuzzSettings::StaticClassInfo() {
    using T = TFuzzSettings;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TFuzzSettings", &TPersistent::StaticClassInfo())
            .String("Address", &T::Address, &T::SetAddress)
            .Set("Flags", &T::Flags, &T::SetFlags, FuzzFlagsType())
            .Build();
    return info;
}

class TFuzzWidget : public TComponent {
    JEX_CLASS(TFuzzWidget)

public:
    explicit TFuzzWidget(TComponent* AOwner)
        : TComponent(AOwner) {}

    const std::string& Caption() const { return FCaption; }

    void SetCaption(const std::string& AValue) { FCaption = AValue; }

    int Count() const { return FCount; }

    void SetCount(int AValue) { FCount = AValue; }

    std::uint32_t Handle() const { return FHandle; }

    void SetHandle(std::uint32_t AValue) { FHandle = AValue; }

    std::int64_t Big() const { return FBig; }

    void SetBig(std::int64_t AValue) { FBig = AValue; }

    bool Enabled() const { return FEnabled; }

    void SetEnabled(bool AValue) { FEnabled = AValue; }

    TFuzzKind Kind() const { return FKind; }

    void SetKind(TFuzzKind AValue) { FKind = AValue; }

    TFuzzFlags Flags() const { return FFlags; }

    void SetFlags(TFuzzFlags AValue) { FFlags = AValue; }

    double Ratio() const { return FRatio; }

    void SetRatio(double AValue) { FRatio = AValue; }

    float Scale() const { return FScale; }

    void SetScale(float AValue) { FScale = AValue; }

    double Price() const { return FPrice; }

    void SetPrice(double AValue) { FPrice = AValue; }

    TDateTime Stamp() const { return FStamp; }

    void SetStamp(TDateTime AValue) { FStamp = AValue; }

    TFuzzSettings* Settings() const { return FSettings.get(); }

    void SetSettings(TFuzzSettings*) {}

    TFuzzLines* Lines() const { return FLines.get(); }

    void SetLines(TFuzzLines* AValue) { FLines->SetLines(AValue->GetLines()); }

    TFuzzItems* Items() const { return FItems.get(); }

    void SetItems(TFuzzItems*) {}

    TComponent* Buddy() const { return FBuddy; }

    void SetBuddy(TComponent* AValue) {
        FBuddy = AValue;
        if (AValue != nullptr)
            AValue->FreeNotification(this);
    }

    TNotifyEvent OnClick() const { return FOnClick; }

    void SetOnClick(TNotifyEvent AValue) { FOnClick = AValue; }

    void Notification(TComponent* AComponent, TOperation AOperation) override {
        TComponent::Notification(AComponent, AOperation);
        if (AOperation == opRemove && AComponent == FBuddy)
            FBuddy = nullptr;
    }

private:
    std::string FCaption;
    int FCount = 0;
    std::uint32_t FHandle = 0;
    std::int64_t FBig = 0;
    bool FEnabled = true;
    TFuzzKind FKind = fkA;
    TFuzzFlags FFlags;
    double FRatio = 0;
    float FScale = 0;
    double FPrice = 0;
    TDateTime FStamp = 0;
    std::unique_ptr<TFuzzSettings> FSettings = std::make_unique<TFuzzSettings>();
    std::unique_ptr<TFuzzLines> FLines = std::make_unique<TFuzzLines>();
    std::unique_ptr<TFuzzItems> FItems = std::make_unique<TFuzzItems>();
    TComponent* FBuddy = nullptr;
    TNotifyEvent FOnClick;
};

const TClassInfo& TFuzzWidget::StaticClassInfo() {
    using T = TFuzzWidget;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TFuzzWidget", &TComponent::StaticClassInfo())
            .Component()
            .String("Caption", &T::Caption, &T::SetCaption)
            .Integer("Count", &T::Count, &T::SetCount)
            .Integer("Handle", &T::Handle, &T::SetHandle, 0)
            .Int64("Big", &T::Big, &T::SetBig)
            .Bool("Enabled", &T::Enabled, &T::SetEnabled, true)
            .Enum("Kind", &T::Kind, &T::SetKind, FuzzKindType(), fkA)
            .Set("Flags", &T::Flags, &T::SetFlags, FuzzFlagsType(), TFuzzFlags{})
            .Float("Ratio", &T::Ratio, &T::SetRatio)
            .Float("Scale", &T::Scale, &T::SetScale, ftSingle)
            .Float("Price", &T::Price, &T::SetPrice, ftCurr)
            .DateTime("Stamp", &T::Stamp, &T::SetStamp)
            .Object("Settings", &T::Settings, &T::SetSettings)
            .Strings("Lines", &T::Lines, &T::SetLines)
            .Collection("Items", &T::Items, &T::SetItems)
            .Object("Buddy", &T::Buddy, &T::SetBuddy)
            .Event("OnClick", &T::OnClick, &T::SetOnClick)
            .Build();
    return info;
}

class TFuzzForm : public TFuzzWidget {
    JEX_CLASS(TFuzzForm)

public:
    using TFuzzWidget::TFuzzWidget;

    void Click(TObject*) {}

    void Key(TObject*, char&) {}
};

const TClassInfo& TFuzzForm::StaticClassInfo() {
    using T = TFuzzForm;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TFuzzForm", &TFuzzWidget::StaticClassInfo())
            .Component()
            .Method("Click", &T::Click)
            .Method("Key", &T::Key)
            .Build();
    return info;
}

std::unique_ptr<TComponent> ReadOrNull(const std::string& AText) {
    try {
        return std::unique_ptr<TComponent>(ReadComponentFromText(AText));
    } catch (const Exception& e) {
        // Set STORED_FORM_FUZZ_VERBOSE to see why an input (a seed, say) is refused.
        static const bool verbose = std::getenv("STORED_FORM_FUZZ_VERBOSE") != nullptr;
        if (verbose)
            std::fprintf(stderr, "refused: %s\n", e.Message().c_str());
        return nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const bool registered = [] {
        RegisterClasses({&TFuzzForm::StaticClassInfo(), &TFuzzWidget::StaticClassInfo()});
        return true;
    }();
    (void)registered;
    const std::string text(reinterpret_cast<const char*>(AData), ASize);
    std::unique_ptr<TComponent> first = ReadOrNull(text);
    if (!first)
        return 0;
    // What was read must write, and the written text must read back to the same text.
    const std::string written = WriteComponentToText(first.get());
    first.reset();
    std::unique_ptr<TComponent> second = ReadOrNull(written);
    if (!second) {
        std::fprintf(stderr, "written form does not read back:\n%s\n", written.c_str());
        std::abort();
    }
    const std::string rewritten = WriteComponentToText(second.get());
    if (rewritten != written) {
        std::fprintf(stderr, "round trip changed the form:\n%s\n---\n%s\n", written.c_str(),
                     rewritten.c_str());
        std::abort();
    }
    return 0;
}
