// checks/JexLChecks.cpp - the rules, their collection, the processor and the marker bitmap.
#include "checks/JexLChecks.h"

#include "host/core/SysUtils.h"
#include "host/forms/Dialogs.h"
#include "host/forms/StdCtrls.h"

#include <array>
#include <cstddef>
#include <vector>

namespace jex {

using namespace host;

// ---- the marker bitmap ----------------------------------------------------------------------

namespace {

// The marker as drawn: '.' is the magenta ground (the transparent colour), 'R' red, 'Y' yellow.
constexpr std::array<std::string_view, 16> FailedMarkerArt = {
    "................", //
    ".......RR.......", //
    "......RRRR......", //
    ".....RRRRRR.....", //
    "....RRRRRRRR....", //
    "...RRRRRRRRRR...", //
    "..RRRRRYYRRRRR..", //
    ".RRRRRYYYYRRRRR.", //
    ".RRRRRYYYYRRRRR.", //
    "..RRRRRYYRRRRR..", //
    "...RRRRRRRRRR...", //
    "....RRRRRRRR....", //
    ".....RRRRRR.....", //
    "......RRRR......", //
    ".......RR.......", //
    "................", //
};

constexpr int MarkerSide = 16;
constexpr std::size_t PaletteSize = 3;
constexpr std::size_t PixelsAt = 14 + 40 + PaletteSize * 4;
// 8 bits per pixel: a 16-pixel row is 16 bytes, already a multiple of four.
constexpr std::size_t MarkerFileSize = PixelsAt + MarkerSide * MarkerSide;

// A Windows BMP with an 8-bit palette of magenta, red and yellow, rows bottom-up.
constexpr std::array<char, MarkerFileSize> BuildFailedMarker() {
    std::array<char, MarkerFileSize> bmp{};
    std::size_t at = 0;
    const auto put = [&](std::uint32_t AValue, int ABytes) {
        for (int i = 0; i < ABytes; ++i)
            bmp[at++] = static_cast<char>((AValue >> (8 * i)) & 0xFF);
    };
    bmp[at++] = 'B';
    bmp[at++] = 'M';
    put(MarkerFileSize, 4);
    put(0, 4);
    put(PixelsAt, 4);
    put(40, 4); // BITMAPINFOHEADER
    put(MarkerSide, 4);
    put(MarkerSide, 4);
    put(1, 2);
    put(8, 2);
    put(0, 4); // BI_RGB
    put(MarkerSide * MarkerSide, 4);
    put(3780, 4); // 96 dpi
    put(3780, 4);
    put(PaletteSize, 4);
    put(0, 4);
    // Palette entries are blue, green, red, reserved.
    put(0x00FF00FF, 4); // magenta
    put(0x00FF0000, 4); // red
    put(0x00FFFF00, 4); // yellow
    for (int y = MarkerSide - 1; y >= 0; --y)
        for (char c : FailedMarkerArt[static_cast<std::size_t>(y)])
            bmp[at++] = static_cast<char>(c == 'R' ? 1 : c == 'Y' ? 2 : 0);
    return bmp;
}

constexpr std::array<char, MarkerFileSize> FailedMarkerFile = BuildFailedMarker();

constexpr const char* FailedMarkerResource = "JexL_FAILED";
constexpr TColor MarkerTransparentColor = 0xFF00FF;

int& JexLChecksInitCount() {
    static int count = 0;
    return count;
}

// Runs Begin/EndUpdate of a rule's collection around a copy, also when the copy raises.
class TItemUpdate {
public:
    explicit TItemUpdate(TCollection* ACollection)
        : FCollection(ACollection) {
        if (FCollection != nullptr)
            FCollection->BeginUpdate();
    }

    ~TItemUpdate() {
        if (FCollection != nullptr)
            FCollection->EndUpdate();
    }

    TItemUpdate(const TItemUpdate&) = delete;
    TItemUpdate& operator=(const TItemUpdate&) = delete;

private:
    TCollection* FCollection;
};

} // namespace

std::string_view FailedMarkerBitmap() {
    return {FailedMarkerFile.data(), FailedMarkerFile.size()};
}

void JexLChecksInitialization() {
    if (JexLChecksInitCount()-- == 0) {
        RegisterBitmapResource(FailedMarkerResource, FailedMarkerBitmap());
        RegisterClass(TJexLCheckProcessor::StaticClassInfo());
    }
}

void JexLChecksFinalization() {
    ++JexLChecksInitCount();
}

// ---- published properties -------------------------------------------------------------------

const TClassInfo& TJexLCheckProvider::StaticClassInfo() {
    using T = TJexLCheckProvider;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexLCheckProvider", &TCollectionItem::StaticClassInfo())
            .Object("Picture", &T::Picture, &T::SetPicture)
            .Object("CheckControl", &T::CheckControl, &T::SetCheckControl)
            .String("HintText", &T::HintText, &T::SetHintText, Stored(&T::HintMustBeStored))
            .Bool("FocusOnError", &T::FocusOnError, &T::SetFocusOnError, true)
            .Event("OnCheck", &T::OnCheck, &T::SetOnCheck)
            .Build();
    return info;
}

const TClassInfo& TJexLCheckProviderEdit::StaticClassInfo() {
    using T = TJexLCheckProviderEdit;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexLCheckProviderEdit", &TJexLCheckProvider::StaticClassInfo())
            .Bool("Required", &T::Required, &T::SetRequired, true)
            .Build();
    return info;
}

const TClassInfo& TJexLCheckProviderNumericEdit::StaticClassInfo() {
    using T = TJexLCheckProviderNumericEdit;
    static const TClassInfo info = TClassInfoBuilder<T>("TJexLCheckProviderNumericEdit",
                                                        &TJexLCheckProviderEdit::StaticClassInfo())
                                       .Float("MinValue", &T::MinValue, &T::SetMinValue)
                                       .Float("MaxValue", &T::MaxValue, &T::SetMaxValue)
                                       .Build();
    return info;
}

const TClassInfo& TJexLCheckProviderCheckbox::StaticClassInfo() {
    using T = TJexLCheckProviderCheckbox;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexLCheckProviderCheckbox", &TJexLCheckProvider::StaticClassInfo())
            .Bool("Checked", &T::Checked, &T::SetChecked, true)
            .Build();
    return info;
}

const TClassInfo& TJexLCheckProviderCombobox::StaticClassInfo() {
    using T = TJexLCheckProviderCombobox;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexLCheckProviderCombobox", &TJexLCheckProvider::StaticClassInfo())
            .Bool("Required", &T::Required, &T::SetRequired, true)
            .Build();
    return info;
}

const TClassInfo& TJexLCheckProviders::StaticClassInfo() {
    static const TClassInfo info{.Name = "TJexLCheckProviders",
                                 .Parent = &TCollection::StaticClassInfo()};
    return info;
}

const TClassInfo& TJexLCheckProcessor::StaticClassInfo() {
    using T = TJexLCheckProcessor;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexLCheckProcessor", &TComponent::StaticClassInfo())
            .Component()
            .Object("DefaultPicture", &T::DefaultPicture, &T::SetDefaultPicture)
            .Bool("BeepOnError", &T::BeepOnError, &T::SetBeepOnError, true)
            .Collection("CheckProviders", &T::CheckProviders, &T::SetCheckProviders)
            .Build();
    return info;
}

// ---- TJexLCheckProvider ---------------------------------------------------------------------

TJexLCheckProvider::TJexLCheckProvider(TCollection* ACollection)
    : TCollectionItem(ACollection)
    , FPicture(std::make_unique<TPicture>())
    , FHintText(DefaultHintText) {}

TJexLCheckProvider::~TJexLCheckProvider() {
    // Forget the marker before it goes, so its removal notice finds nothing to clear here.
    TImage* marker = FLinkedImage;
    FLinkedImage = nullptr;
    delete marker;
}

TComponent* TJexLCheckProvider::OwnerComponent() const {
    if (auto* providers = dynamic_cast<TJexLCheckProviders*>(Collection()))
        return providers->OwnerComponent();
    return Collection() != nullptr ? dynamic_cast<TComponent*>(Collection()->GetOwner()) : nullptr;
}

void TJexLCheckProvider::SetPicture(TPicture* APicture) {
    FPicture->Assign(APicture);
}

void TJexLCheckProvider::SetCheckControl(TControl* AValue) {
    if (AValue == FCheckControl)
        return;
    FCheckControl = AValue;
    // The processor hears of the control's end and clears this reference then.
    if (AValue != nullptr)
        if (TComponent* owner = OwnerComponent())
            AValue->FreeNotification(owner);
    Changed(false);
}

void TJexLCheckProvider::SetHintText(const std::string& AValue) {
    if (AValue == FHintText)
        return;
    FHintText = AValue;
    Changed(false);
}

void TJexLCheckProvider::SetFocusOnError(bool AValue) {
    if (AValue == FFocusOnError)
        return;
    FFocusOnError = AValue;
    Changed(false);
}

void TJexLCheckProvider::ExecuteCheck() {
    InternalCheck();
    if (FLinkedImage != nullptr)
        FLinkedImage->Picture()->Assign(nullptr);
    if (FOnCheck.Assigned())
        FOnCheck(this);
}

void TJexLCheckProvider::InternalCheck() {
    FStatus = csValid;
}

bool TJexLCheckProvider::HintMustBeStored() const {
    return FHintText != KindHintText();
}

std::string TJexLCheckProvider::GetHintText() const {
    return FHintText;
}

void TJexLCheckProvider::CreateLinkedImage(TPicture* APicture) {
    if (FLinkedImage == nullptr && FStatus != csFailed)
        return;
    if (FLinkedImage == nullptr) {
        // A marker needs an owner that tells this rule of its end; a rule outside a
        // processor's collection has none, so it shows no marker.
        TComponent* owner = OwnerComponent();
        if (owner == nullptr)
            return;
        FLinkedImage = Create<TImage>(owner);
    }
    auto* own = dynamic_cast<TBitmap*>(FPicture->Graphic());
    if (own == nullptr || own->Empty())
        FLinkedImage->Picture()->Assign(APicture);
    else
        FLinkedImage->Picture()->Assign(FPicture.get());
    FLinkedImage->SetTransparent(true);
    FLinkedImage->SetAutoSize(true);
    FLinkedImage->SetShowHint(true);
    if (FCheckControl != nullptr) {
        FLinkedImage->SetParent(FCheckControl->Parent());
        FLinkedImage->SetBounds(FCheckControl->Left() + FCheckControl->Width() + 5,
                                FCheckControl->Top(), FLinkedImage->Width(),
                                FLinkedImage->Height());
    }
    FLinkedImage->SetVisible(FStatus == csFailed);
    FLinkedImage->SetHint(GetHintText());
}

void TJexLCheckProvider::Assign(TPersistent* ASource) {
    auto* source = dynamic_cast<TJexLCheckProvider*>(ASource);
    if (source == nullptr) {
        TCollectionItem::Assign(ASource);
        return;
    }
    const TItemUpdate update(Collection());
    FPicture->Assign(source->FPicture.get());
    SetCheckControl(source->FCheckControl);
    FHintText = source->FHintText;
    FFocusOnError = source->FFocusOnError;
}

void TJexLCheckProvider::ComponentRemoved(TComponent* AComponent) {
    if (AComponent == nullptr)
        return;
    if (AComponent == FCheckControl)
        FCheckControl = nullptr;
    if (AComponent == FLinkedImage)
        FLinkedImage = nullptr;
}

// ---- TJexLCheckProviderEdit -----------------------------------------------------------------

TJexLCheckProviderEdit::TJexLCheckProviderEdit(TCollection* ACollection)
    : TJexLCheckProvider(ACollection) {
    SetHintText(std::string(DefaultHintText));
}

void TJexLCheckProviderEdit::SetRequired(bool AValue) {
    if (AValue == FRequired)
        return;
    FRequired = AValue;
    Changed(false);
}

void TJexLCheckProviderEdit::InternalCheck() {
    TJexLCheckProvider::InternalCheck();
    if (!FRequired)
        return;
    if (auto* memo = dynamic_cast<TMemo*>(CheckControl()); memo != nullptr) {
        if (memo->Lines()->Text().empty()) {
            SetStatus(csFailed);
            return;
        }
    }
    if (auto* edit = dynamic_cast<TCustomEdit*>(CheckControl()); edit != nullptr)
        if (edit->Text().empty())
            SetStatus(csFailed);
}

void TJexLCheckProviderEdit::Assign(TPersistent* ASource) {
    TJexLCheckProvider::Assign(ASource);
    if (auto* source = dynamic_cast<TJexLCheckProviderEdit*>(ASource))
        SetRequired(source->FRequired);
}

// ---- TJexLCheckProviderNumericEdit ----------------------------------------------------------

TJexLCheckProviderNumericEdit::TJexLCheckProviderNumericEdit(TCollection* ACollection)
    : TJexLCheckProviderEdit(ACollection) {
    SetHintText(std::string(DefaultHintText));
}

void TJexLCheckProviderNumericEdit::SetMinValue(double AValue) {
    FMinValue = AValue;
    Changed(false);
}

void TJexLCheckProviderNumericEdit::SetMaxValue(double AValue) {
    FMaxValue = AValue;
    Changed(false);
}

void TJexLCheckProviderNumericEdit::InternalCheck() {
    TJexLCheckProviderEdit::InternalCheck();
    auto* edit = dynamic_cast<TCustomEdit*>(CheckControl());
    if (edit == nullptr || Status() == csFailed)
        return;
    // An optional box left empty holds nothing to check.
    if (edit->Text().empty() && !Required())
        return;
    // The input is what this rule exists to check: text that is no number fails it instead
    // of ending the whole run with a conversion error.
    long double value = 0;
    try {
        value = StrToFloat(edit->Text());
    } catch (const EConvertError&) {
        SetStatus(csFailed);
        return;
    }
    if (value < FMinValue || value > FMaxValue)
        SetStatus(csFailed);
}

std::string TJexLCheckProviderNumericEdit::GetHintText() const {
    if (HintMustBeStored())
        return HintText();
    return Format(std::string(DefaultHintText), {FMinValue, FMaxValue});
}

void TJexLCheckProviderNumericEdit::Assign(TPersistent* ASource) {
    TJexLCheckProviderEdit::Assign(ASource);
    if (auto* source = dynamic_cast<TJexLCheckProviderNumericEdit*>(ASource)) {
        SetMinValue(source->FMinValue);
        SetMaxValue(source->FMaxValue);
    }
}

// ---- TJexLCheckProviderCheckbox -------------------------------------------------------------

TJexLCheckProviderCheckbox::TJexLCheckProviderCheckbox(TCollection* ACollection)
    : TJexLCheckProvider(ACollection) {
    SetHintText(std::string(DefaultHintText));
}

void TJexLCheckProviderCheckbox::SetChecked(bool AValue) {
    if (AValue == FChecked)
        return;
    FChecked = AValue;
    Changed(false);
}

void TJexLCheckProviderCheckbox::InternalCheck() {
    TJexLCheckProvider::InternalCheck();
    if (auto* box = dynamic_cast<TCheckBox*>(CheckControl()); box != nullptr && FChecked)
        if (!box->Checked())
            SetStatus(csFailed);
}

void TJexLCheckProviderCheckbox::Assign(TPersistent* ASource) {
    TJexLCheckProvider::Assign(ASource);
    if (auto* source = dynamic_cast<TJexLCheckProviderCheckbox*>(ASource))
        SetChecked(source->FChecked);
}

// ---- TJexLCheckProviderCombobox -------------------------------------------------------------

TJexLCheckProviderCombobox::TJexLCheckProviderCombobox(TCollection* ACollection)
    : TJexLCheckProvider(ACollection) {
    SetHintText(std::string(DefaultHintText));
}

void TJexLCheckProviderCombobox::SetRequired(bool AValue) {
    if (AValue == FRequired)
        return;
    FRequired = AValue;
    Changed(false);
}

void TJexLCheckProviderCombobox::InternalCheck() {
    TJexLCheckProvider::InternalCheck();
    if (auto* combo = dynamic_cast<TComboBox*>(CheckControl()); combo != nullptr && FRequired)
        if (combo->Text().empty())
            SetStatus(csFailed);
}

void TJexLCheckProviderCombobox::Assign(TPersistent* ASource) {
    TJexLCheckProvider::Assign(ASource);
    if (auto* source = dynamic_cast<TJexLCheckProviderCombobox*>(ASource))
        SetRequired(source->FRequired);
}

// ---- rule kinds -----------------------------------------------------------------------------

namespace {

struct TRuleKind {
    std::string Name;
    TJexLCheckProviderClass Create;
};

std::vector<TRuleKind>& RuleKinds() {
    static std::vector<TRuleKind> kinds = {
        {TJexLCheckProviderEdit::StaticClassInfo().Name, ItemClassOf<TJexLCheckProviderEdit>()},
        {TJexLCheckProviderNumericEdit::StaticClassInfo().Name,
         ItemClassOf<TJexLCheckProviderNumericEdit>()},
        {TJexLCheckProviderCheckbox::StaticClassInfo().Name,
         ItemClassOf<TJexLCheckProviderCheckbox>()},
        {TJexLCheckProviderCombobox::StaticClassInfo().Name,
         ItemClassOf<TJexLCheckProviderCombobox>()},
    };
    return kinds;
}

} // namespace

void RegisterCheckProviderClass(const TClassInfo& AClass, TJexLCheckProviderClass ACreate) {
    for (TRuleKind& kind : RuleKinds())
        if (SameText(kind.Name, AClass.Name)) {
            kind.Create = ACreate;
            return;
        }
    RuleKinds().push_back({AClass.Name, ACreate});
}

TJexLCheckProviderClass FindCheckProviderClass(const std::string& AClassName) {
    for (const TRuleKind& kind : RuleKinds())
        if (SameText(kind.Name, AClassName))
            return kind.Create;
    return nullptr;
}

// ---- TJexLCheckProviders --------------------------------------------------------------------

TJexLCheckProviders::TJexLCheckProviders(TComponent* AOwner)
    : TCollection(ItemClassOf<TJexLCheckProvider>())
    , FOwner(AOwner) {}

TJexLCheckProvider* TJexLCheckProviders::Add() {
    return static_cast<TJexLCheckProvider*>(TCollection::Add());
}

TJexLCheckProvider* TJexLCheckProviders::GetCheckProvider(int AIndex) const {
    return static_cast<TJexLCheckProvider*>(Items(AIndex));
}

void TJexLCheckProviders::SetCheckProvider(int AIndex, TJexLCheckProvider* AValue) {
    GetCheckProvider(AIndex)->Assign(AValue);
}

void TJexLCheckProviders::Assign(TPersistent* ASource) {
    auto* source = dynamic_cast<TJexLCheckProviders*>(ASource);
    if (source == nullptr || source == this) {
        TCollection::Assign(ASource);
        return;
    }
    // Each copy is made as its source's kind, so a numeric rule stays numeric; Add alone would
    // make base rules that keep neither the kind's test nor its properties.
    BeginUpdate();
    try {
        Clear();
        for (int i = 0; i < source->Count(); ++i) {
            TJexLCheckProvider* from = source->GetCheckProvider(i);
            TJexLCheckProviderClass create = FindCheckProviderClass(from->ClassName());
            TCollectionItem* copy = create != nullptr ? create(this) : TCollection::Add();
            copy->Assign(from);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TJexLCheckProviders::StoredItemClass(int AIndex) const {
    TJexLCheckProvider* rule = GetCheckProvider(AIndex);
    if (&rule->ClassInfo() == &TJexLCheckProvider::StaticClassInfo())
        return {};
    return rule->ClassName();
}

TPersistent* TJexLCheckProviders::AddStoredItem(const std::string& AClassName) {
    TJexLCheckProviderClass create = FindCheckProviderClass(AClassName);
    return create != nullptr ? create(this) : nullptr;
}

// ---- TJexLCheckProcessor --------------------------------------------------------------------

TJexLCheckProcessor::TJexLCheckProcessor(TComponent* AOwner)
    : TComponent(AOwner)
    , FDefaultPicture(std::make_unique<TPicture>())
    , FCheckProviders(std::make_unique<TJexLCheckProviders>(this)) {
    TBitmap* marker = FDefaultPicture->Bitmap();
    marker->LoadFromResourceName(FailedMarkerResource);
    marker->SetTransparentColor(MarkerTransparentColor);
    marker->SetTransparent(true);
}

TJexLCheckProcessor::~TJexLCheckProcessor() {
    // The rules go first: their markers' removal notices must find no half-destroyed
    // collection here.
    FCheckProviders.reset();
}

void TJexLCheckProcessor::SetDefaultPicture(TPicture* APicture) {
    FDefaultPicture->Assign(APicture);
}

void TJexLCheckProcessor::SetCheckProviders(TJexLCheckProviders* AValue) {
    FCheckProviders->Assign(AValue);
}

bool TJexLCheckProcessor::Execute() {
    CheckAllProviders();
    const int failed = FailedCount();
    if (failed > 0)
        HighlightFailed();
    return failed == 0;
}

void TJexLCheckProcessor::CheckAllProviders() {
    // By index: an OnCheck handler may add or delete rules.
    for (int i = 0; i < FCheckProviders->Count(); ++i)
        FCheckProviders->GetCheckProvider(i)->ExecuteCheck();
}

int TJexLCheckProcessor::FailedCount() const {
    int count = 0;
    for (int i = 0; i < FCheckProviders->Count(); ++i)
        if (FCheckProviders->GetCheckProvider(i)->Status() == csFailed)
            ++count;
    return count;
}

void TJexLCheckProcessor::HighlightFailed() {
    bool focused = false;
    bool beeped = false;
    for (int i = 0; i < FCheckProviders->Count(); ++i) {
        TJexLCheckProvider* rule = FCheckProviders->GetCheckProvider(i);
        rule->CreateLinkedImage(FDefaultPicture.get());
        if (rule->Status() != csFailed)
            continue;
        if (rule->FocusOnError() && !focused) {
            auto* control = dynamic_cast<TWinControl*>(rule->CheckControl());
            if (control != nullptr && control->CanFocus()) {
                control->SetFocus();
                focused = true;
            }
        }
        if (FBeepOnError && !beeped) {
            MessageBeep(MB_ICONHAND);
            beeped = true;
        }
    }
}

void TJexLCheckProcessor::Notification(TComponent* AComponent, TOperation AOperation) {
    TComponent::Notification(AComponent, AOperation);
    if (AOperation != opRemove || FCheckProviders == nullptr)
        return;
    for (int i = 0; i < FCheckProviders->Count(); ++i)
        FCheckProviders->GetCheckProvider(i)->ComponentRemoved(AComponent);
}

} // namespace jex
