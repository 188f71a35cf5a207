// host/data/DB.cpp - data sets, fields, data sources and data links.
#include "host/data/DB.h"

#include "host/data/MemDS.h"
#include "host/data/SQLiteTables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace host {

bool IsEditMode(TDataSetState AState) {
    return AState == dsEdit || AState == dsInsert || AState == dsSetKey;
}

void DatabaseError(const std::string& AMessage, const TComponent* AComponent) {
    if (AComponent != nullptr && !AComponent->Name().empty())
        throw EDatabaseError(AComponent->Name() + ": " + AMessage);
    throw EDatabaseError(AMessage);
}

const TTypeInfo& FieldTypeTypeInfo() {
    return EnumType<TFieldType>(
        "TFieldType",
        {"ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",   "ftBoolean",
         "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",   "ftDateTime",
         "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",   "ftGraphic",
         "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor", "ftFixedChar",
         "ftWideString", "ftLargeint"});
}

// ---- SQL date-time text ---------------------------------------------------------------------

std::string DateTimeToSQLText(TDateTime AValue) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    DecodeDate(AValue, year, month, day);
    DecodeTime(AValue, hour, minute, second, msec);
    char text[32];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    if (hour != 0 || minute != 0 || second != 0 || msec != 0)
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), " %02d:%02d:%02d",
                           hour, minute, second);
    if (msec != 0)
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%03d", msec);
    return text;
}

bool TrySQLTextToDateTime(const std::string& AText, TDateTime& ADateTime) {
    // Digits at fixed places: yyyy-mm-dd[( |T)hh:nn[:ss[.zzz]]].
    auto digits = [&](std::size_t APos, std::size_t ACount, int& AValue) {
        if (APos + ACount > AText.size())
            return false;
        AValue = 0;
        for (std::size_t i = APos; i < APos + ACount; ++i) {
            if (AText[i] < '0' || AText[i] > '9')
                return false;
            AValue = AValue * 10 + (AText[i] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    if (!digits(0, 4, year) || AText.size() < 10 || AText[4] != '-' || !digits(5, 2, month) ||
        AText[7] != '-' || !digits(8, 2, day))
        return false;
    std::size_t end = 10;
    if (AText.size() > 10) {
        if ((AText[10] != ' ' && AText[10] != 'T') || !digits(11, 2, hour) || AText.size() < 16 ||
            AText[13] != ':' || !digits(14, 2, minute))
            return false;
        end = 16;
        if (AText.size() > 16) {
            if (AText[16] != ':' || !digits(17, 2, second))
                return false;
            end = 19;
            if (AText.size() > 19) {
                if (AText[19] != '.' || !digits(20, 3, msec))
                    return false;
                end = 23;
            }
        }
    }
    TDateTime date = 0, time = 0;
    if (end != AText.size() || !TryEncodeDate(year, month, day, date) ||
        !TryEncodeTime(hour, minute, second, msec, time))
        return false;
    // Days before 1899-12-30 are negative; the time still counts forward within the day.
    ADateTime = date >= 0 ? date + time : date - time;
    return true;
}

// ---- TField ---------------------------------------------------------------------------------

TField::TField(TComponent* AOwner, TFieldType ADataType)
    : TComponent(AOwner)
    , FDataType(ADataType) {}

TField::~TField() = default;

namespace {

const Variant& NullVariant() {
    static const Variant null = Variant::Null();
    return null;
}

[[noreturn]] void ConvertError(const char* AFormat, const std::string& AText) {
    throw EConvertError(Format(AFormat, {AText}));
}

// Calls AFunc for each element of AList that is still in it when its turn comes: a handler may
// detach sources or links while they are told. The snapshot stays on the stack for the usual
// few elements, so a notification costs no allocation.
template <typename T, typename F>
[[gnu::noinline]] void ForEachInSnapshot(const std::vector<T*>& AList, F AFunc) {
    constexpr std::size_t small = 8;
    T* fixed[small];
    std::vector<T*> large;
    T* const* snapshot = fixed;
    const std::size_t count = AList.size();
    if (count <= small) {
        std::copy(AList.begin(), AList.end(), fixed);
    } else {
        large = AList;
        snapshot = large.data();
    }
    for (std::size_t i = 0; i < count; ++i) {
        T* item = snapshot[i];
        const bool listed = i < AList.size() && AList[i] == item
                                ? true
                                : std::find(AList.begin(), AList.end(), item) != AList.end();
        if (listed)
            AFunc(item);
    }
}

// As ForEachInSnapshot; a list of one needs no snapshot, since nothing has run before its only
// element's turn. Notifications run for every step of every edit, so this part stays small
// enough to inline.
template <typename T, typename F>
inline void ForEachStillListed(const std::vector<T*>& AList, F AFunc) {
    if (AList.empty())
        return;
    if (AList.size() == 1) {
        AFunc(AList.front());
        return;
    }
    ForEachInSnapshot(AList, AFunc);
}

} // namespace

Variant TField::ConvertValue(const Variant& AValue) const {
    if (AValue.IsAbsent())
        return Variant::Null();
    const bool text = AValue.VarType() == varString;
    switch (FDataType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
        if (text)
            return Variant(StrToInt64(AValue.AsString())); // EConvertError for other text
        return Variant(AValue.AsInt64());
    case ftFloat:
    case ftCurrency:
    case ftBCD:
        if (text)
            return Variant(static_cast<double>(StrToFloat(AValue.AsString())));
        return Variant(AValue.AsDouble());
    case ftBoolean:
        if (text) {
            const std::string& s = AValue.AsString();
            if (SameText(s, "True"))
                return Variant(true);
            if (SameText(s, "False"))
                return Variant(false);
            ConvertError("'%s' is not a valid boolean value", s);
        }
        return Variant(AValue.AsBoolean());
    case ftDate:
    case ftTime:
    case ftDateTime: {
        if (!text)
            return Variant::FromDateTime(AValue.AsDouble());
        TDateTime value = 0;
        if (!TrySQLTextToDateTime(AValue.AsString(), value))
            ConvertError("'%s' is not a valid date and time", AValue.AsString());
        return Variant::FromDateTime(value);
    }
    default:
        return Variant(VarToStr(AValue));
    }
}

const Variant& TField::Value() const {
    return FDataSet != nullptr ? FDataSet->FieldValue(this) : NullVariant();
}

const Variant& TField::OldValue() const {
    return FDataSet != nullptr ? FDataSet->FieldOldValue(this) : NullVariant();
}

void TField::SetValue(const Variant& AValue) {
    if (FDataSet == nullptr)
        DatabaseError("Field '" + FFieldName + "' has no dataset");
    FDataSet->SetFieldValue(this, AValue);
}

std::string TField::AsString() const {
    return VarToStr(Value());
}

void TField::SetAsString(const std::string& AValue) {
    SetValue(Variant(AValue));
}

std::int64_t TField::AsInteger() const {
    const Variant& v = Value();
    return v.IsAbsent() ? 0 : ConvertValue(v).AsInt64();
}

void TField::SetAsInteger(std::int64_t AValue) {
    SetValue(Variant(AValue));
}

double TField::AsFloat() const {
    const Variant& v = Value();
    return v.IsAbsent() ? 0 : v.AsDouble();
}

void TField::SetAsFloat(double AValue) {
    SetValue(Variant(AValue));
}

bool TField::AsBoolean() const {
    const Variant& v = Value();
    return v.IsAbsent() ? false : v.AsBoolean();
}

void TField::SetAsBoolean(bool AValue) {
    SetValue(Variant(AValue));
}

TDateTime TField::AsDateTime() const {
    const Variant& v = Value();
    if (v.IsAbsent())
        return 0;
    return v.VarType() == varString ? ConvertValue(v).AsDouble() : v.AsDouble();
}

void TField::SetAsDateTime(TDateTime AValue) {
    SetValue(Variant::FromDateTime(AValue));
}

void TField::SetVisible(bool AValue) {
    if (FVisible == AValue)
        return;
    FVisible = AValue;
    if (FDataSet != nullptr && FDataSet->Active())
        FDataSet->DataEvent(deLayoutChange, 0);
}

std::unique_ptr<TField> CreateField(TFieldType AType) {
    switch (AType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: {
        auto f = std::make_unique<TIntegerField>(nullptr);
        f->FDataType = AType;
        return f;
    }
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
        auto f = std::make_unique<TFloatField>(nullptr);
        f->FDataType = AType;
        return f;
    }
    case ftBoolean:
        return std::make_unique<TBooleanField>(nullptr);
    case ftDate:
    case ftTime:
    case ftDateTime: {
        auto f = std::make_unique<TDateTimeField>(nullptr);
        f->FDataType = AType;
        return f;
    }
    case ftString:
        return std::make_unique<TStringField>(nullptr);
    default: {
        // Blobs, memos and the rest are held as their bytes.
        auto f = std::make_unique<TStringField>(nullptr);
        f->FDataType = AType;
        return f;
    }
    }
}

TField* TFields::Fields(int AIndex) const {
    if (AIndex < 0 || AIndex >= Count())
        throw EListError("List index out of bounds (" + std::to_string(AIndex) + ")");
    return FList[static_cast<std::size_t>(AIndex)];
}

TField* TFields::FindField(const std::string& AName) const {
    for (TField* f : FList)
        if (SameText(f->FieldName(), AName))
            return f;
    return nullptr;
}

// ---- TFieldDef, TFieldDefs ------------------------------------------------------------------

TFieldDef::TFieldDef(TCollection* ACollection)
    : TCollectionItem(ACollection) {}

void TFieldDef::SetName(const std::string& AValue) {
    FName = AValue;
    Changed(false);
}

void TFieldDef::SetDataType(TFieldType AValue) {
    FDataType = AValue;
    Changed(false);
}

void TFieldDef::SetSize(int AValue) {
    FSize = AValue;
    Changed(false);
}

void TFieldDef::SetRequired(bool AValue) {
    FRequired = AValue;
    Changed(false);
}

void TFieldDef::Assign(TPersistent* ASource) {
    if (auto* source = dynamic_cast<TFieldDef*>(ASource)) {
        FName = source->FName;
        FDataType = source->FDataType;
        FSize = source->FSize;
        FRequired = source->FRequired;
        Changed(false);
        return;
    }
    TCollectionItem::Assign(ASource);
}

TFieldDefs::TFieldDefs(TPersistent* AOwner)
    : TOwnedCollection(AOwner, ItemClassOf<TFieldDef>()) {}

TFieldDef* TFieldDefs::Add(const std::string& AName, TFieldType ADataType, int ASize,
                           bool ARequired) {
    auto* def = static_cast<TFieldDef*>(TCollection::Add());
    BeginUpdate();
    def->SetName(AName);
    def->SetDataType(ADataType);
    def->SetSize(ASize);
    def->SetRequired(ARequired);
    EndUpdate();
    return def;
}

// ---- TDataSet: opening and closing ----------------------------------------------------------

TDataSet::TDataSet(TComponent* AOwner)
    : TComponent(AOwner) {}

TDataSet::~TDataSet() {
    while (!FDataSources.empty())
        RemoveDataSource(FDataSources.back());
}

void TDataSet::Fire(const TDataSetNotifyEvent& AEvent, TDataSet* ASender) {
    if (AEvent.Assigned())
        AEvent(ASender);
}

void TDataSet::SetActive(bool AValue) {
    if (ComponentState().Contains(csLoading)) {
        FStreamedActive = AValue;
        return;
    }
    if (AValue)
        Open();
    else
        Close();
}

void TDataSet::Loaded() {
    TComponent::Loaded();
    if (FStreamedActive) {
        FStreamedActive = false;
        Open();
    }
}

void TDataSet::Open() {
    if (Active())
        return;
    Fire(FBeforeOpen, this);
    try {
        InternalOpen();
    } catch (...) {
        ClearFields();
        FRecords.clear();
        try {
            InternalClose();
        } catch (...) {
            // The reason the open failed is the error to report.
        }
        throw;
    }
    FCurrent = FRecords.empty() ? -1 : 0;
    FBof = true;
    FEof = FRecords.empty();
    SetState(dsBrowse);
    Fire(FAfterOpen, this);
    if (!IsEmpty())
        Fire(FAfterScroll, this);
}

void TDataSet::Close() {
    if (!Active())
        return;
    Fire(FBeforeClose, this);
    SetState(dsInactive);
    FBuffer = TDataRecord();
    FOld = TDataRecord();
    InternalClose();
    FRecords.clear();
    ClearFields();
    FCurrent = -1;
    FBof = FEof = true;
    Fire(FAfterClose, this);
}

void TDataSet::CloseForDestroy() {
    if (!Active())
        return;
    SetState(dsInactive);
    try {
        InternalClose();
    } catch (...) {
        // A destructor cannot report; the store's handles are released either way.
    }
    FRecords.clear();
    ClearFields();
}

TField* TDataSet::AddField(const std::string& AName, TFieldType AType, int ASize) {
    std::unique_ptr<TField> field = CreateField(AType);
    field->SetFieldName(AName);
    field->SetSize(ASize);
    field->FDataSet = this;
    field->FIndex = FFields.Count();
    FFields.FList.push_back(field.get());
    FOwnedFields.push_back(std::move(field));
    return FFields.FList.back();
}

void TDataSet::ClearFields() {
    FFields.FList.clear();
    FOwnedFields.clear();
}

TField* TDataSet::FieldByName(const std::string& AName) const {
    TField* f = FindField(AName);
    if (f == nullptr)
        Error("Field '" + AName + "' not found");
    return f;
}

void TDataSet::SetState(TDataSetState AValue) {
    if (FState == AValue)
        return;
    FState = AValue;
    FModified = false;
    DataEvent(deUpdateState, 0);
}

void TDataSet::CheckActive() const {
    if (!Active())
        Error(SDataSetClosed);
}

int TDataSet::RecNo() const {
    if (FState == dsInsert || FCurrent < 0)
        return 0;
    return FCurrent + 1;
}

// ---- TDataSet: navigation -------------------------------------------------------------------

void TDataSet::First() {
    CheckBrowseMode();
    Fire(FBeforeScroll, this);
    FCurrent = FRecords.empty() ? -1 : 0;
    FBof = true;
    FEof = FRecords.empty();
    DataEvent(deDataSetChange, 0);
    Fire(FAfterScroll, this);
}

void TDataSet::Last() {
    CheckBrowseMode();
    Fire(FBeforeScroll, this);
    FCurrent = static_cast<int>(FRecords.size()) - 1;
    FEof = true;
    FBof = FRecords.empty();
    DataEvent(deDataSetChange, 0);
    Fire(FAfterScroll, this);
}

int TDataSet::MoveBy(int ADistance) {
    CheckBrowseMode();
    Fire(FBeforeScroll, this);
    if (!((ADistance > 0 && !FEof) || (ADistance < 0 && !FBof)))
        return 0;
    FBof = FEof = false;
    const int last = static_cast<int>(FRecords.size()) - 1;
    const long target = static_cast<long>(FCurrent) + ADistance;
    int moved = 0;
    if (target > last) {
        moved = last - FCurrent;
        FEof = true;
    } else if (target < 0) {
        moved = -FCurrent;
        FBof = true;
    } else {
        moved = ADistance;
    }
    FCurrent += moved;
    if (FRecords.empty())
        FBof = FEof = true;
    DataEvent(deDataSetScroll, moved);
    Fire(FAfterScroll, this);
    return moved;
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    if (FState == dsEdit || FState == dsInsert) {
        UpdateRecord();
        if (FModified)
            Post();
        else
            Cancel();
    }
}

void TDataSet::Refresh() {
    CheckBrowseMode();
    InternalRefresh();
    if (FCurrent >= static_cast<int>(FRecords.size()))
        FCurrent = static_cast<int>(FRecords.size()) - 1;
    if (FCurrent < 0 && !FRecords.empty())
        FCurrent = 0;
    FBof = FEof = FRecords.empty();
    DataEvent(deDataSetChange, 0);
}

// ---- TDataSet: editing ----------------------------------------------------------------------

void TDataSet::Edit() {
    if (IsEditMode(FState))
        return;
    if (FRecords.empty()) {
        Insert();
        return;
    }
    CheckBrowseMode();
    if (!CanModify())
        Error(SDataSetReadOnly);
    Fire(FBeforeEdit, this);
    FOld = FRecords[static_cast<std::size_t>(FCurrent)];
    FBuffer = FOld;
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    Fire(FAfterEdit, this);
}

void TDataSet::Insert() {
    BeginInsertAppend(false);
}

void TDataSet::Append() {
    BeginInsertAppend(true);
}

void TDataSet::BeginInsertAppend(bool AAppend) {
    CheckBrowseMode();
    if (!CanModify())
        Error(SDataSetReadOnly);
    Fire(FBeforeInsert, this);
    Fire(FBeforeScroll, this);
    FInsertAt = AAppend || FCurrent < 0 ? static_cast<int>(FRecords.size()) : FCurrent;
    FOld = TDataRecord();
    FBuffer = TDataRecord();
    FBuffer.Values.assign(static_cast<std::size_t>(FFields.Count()), Variant::Null());
    if (AAppend)
        FEof = true;
    SetState(dsInsert);
    try {
        Fire(FOnNewRecord, this);
    } catch (...) {
        // A new record whose defaults fail is given up.
        FBuffer = TDataRecord();
        SetState(dsBrowse);
        DataEvent(deDataSetChange, 0);
        throw;
    }
    FModified = false;
    DataEvent(deDataSetChange, 0);
    Fire(FAfterInsert, this);
    Fire(FAfterScroll, this);
}

void TDataSet::UpdateRecord() {
    if (!IsEditMode(FState))
        Error(SNotEditing);
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::Post() {
    UpdateRecord();
    if (FState != dsEdit && FState != dsInsert)
        return;
    DataEvent(deCheckBrowseMode, 0);
    Fire(FBeforePost, this);
    for (TField* f : FFields)
        if (f->Required() && FBuffer.Values[static_cast<std::size_t>(f->Index())].IsAbsent())
            Error("Field '" + f->FieldName() + "' must have a value");
    if (FState == dsInsert) {
        // The store may fill in what it made of the record; it works on a copy, so a refusal
        // leaves the user's values as they were set.
        TDataRecord written = FBuffer;
        InternalPost(written, nullptr);
        FRecords.insert(FRecords.begin() + FInsertAt, std::move(written));
        FCurrent = FInsertAt;
    } else {
        InternalPost(FBuffer, &FOld);
        // The stored record's storage becomes the next edit's buffer.
        std::swap(FRecords[static_cast<std::size_t>(FCurrent)], FBuffer);
    }
    FBof = FEof = false;
    SetState(dsBrowse);
    DataEvent(deDataSetChange, 0);
    Fire(FAfterPost, this);
}

void TDataSet::Cancel() {
    if (FState != dsEdit && FState != dsInsert)
        return;
    DataEvent(deCheckBrowseMode, 0);
    Fire(FBeforeCancel, this);
    const bool inserting = FState == dsInsert;
    if (inserting)
        Fire(FBeforeScroll, this);
    FBuffer = TDataRecord();
    FOld = TDataRecord();
    if (inserting) {
        FBof = FCurrent <= 0;
        FEof = FRecords.empty();
    }
    SetState(dsBrowse);
    DataEvent(deDataSetChange, 0);
    Fire(FAfterCancel, this);
    if (inserting)
        Fire(FAfterScroll, this);
}

void TDataSet::Delete() {
    CheckActive();
    if (FState == dsInsert) {
        Cancel();
        return;
    }
    if (FRecords.empty())
        Error(SDataSetEmpty);
    if (!CanModify())
        Error(SDataSetReadOnly);
    DataEvent(deCheckBrowseMode, 0);
    Fire(FBeforeDelete, this);
    Fire(FBeforeScroll, this);
    InternalDelete(FRecords[static_cast<std::size_t>(FCurrent)]);
    FRecords.erase(FRecords.begin() + FCurrent);
    if (FCurrent >= static_cast<int>(FRecords.size()))
        FCurrent = static_cast<int>(FRecords.size()) - 1;
    FBof = FEof = FRecords.empty();
    FBuffer = TDataRecord();
    FOld = TDataRecord();
    SetState(dsBrowse);
    DataEvent(deDataSetChange, 0);
    Fire(FAfterDelete, this);
    Fire(FAfterScroll, this);
}

// ---- TDataSet: field values -----------------------------------------------------------------

const Variant& TDataSet::FieldValue(const TField* AField) const {
    const auto i = static_cast<std::size_t>(AField->Index());
    if (IsEditMode(FState))
        return FBuffer.Values[i];
    if (FCurrent < 0 || FState == dsInactive)
        return NullVariant();
    return FRecords[static_cast<std::size_t>(FCurrent)].Values[i];
}

const Variant& TDataSet::FieldOldValue(const TField* AField) const {
    if (FState == dsInsert)
        return NullVariant();
    if (FState == dsEdit)
        return FOld.Values[static_cast<std::size_t>(AField->Index())];
    return FieldValue(AField);
}

void TDataSet::SetFieldValue(TField* AField, const Variant& AValue) {
    if (!IsEditMode(FState))
        Error(SNotEditing);
    if (AField->ReadOnly())
        Error("Field '" + AField->FieldName() + "' cannot be modified");
    Variant& slot = FBuffer.Values[static_cast<std::size_t>(AField->Index())];
    Variant value = AField->ConvertValue(AValue);
    if (AField->OnValidate().Assigned()) {
        // The handler sees the new value in place; a refusal puts the old one back.
        Variant previous = slot;
        slot = std::move(value);
        try {
            AField->OnValidate()(AField);
        } catch (...) {
            slot = std::move(previous);
            throw;
        }
    } else {
        slot = std::move(value);
    }
    DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(AField));
}

// ---- TDataSet: notifications ----------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent AEvent, std::intptr_t AInfo) {
    if (AEvent == deFieldChange) {
        FModified = true;
        auto* field = reinterpret_cast<TField*>(AInfo);
        if (field != nullptr && field->OnChange().Assigned())
            field->OnChange()(field);
    }
    if (FDisableCount > 0) {
        if (AEvent == deLayoutChange)
            FEnableEvent = deLayoutChange;
        return;
    }
    if (FState == dsBlockRead)
        return;
    ForEachStillListed(FDataSources,
                       [&](TDataSource* ASource) { ASource->DataEvent(AEvent, AInfo); });
}

void TDataSet::DisableControls() {
    if (FDisableCount == 0) {
        FDisableState = FState;
        FEnableEvent = deDataSetChange;
    }
    ++FDisableCount;
}

void TDataSet::EnableControls() {
    if (FDisableCount == 0)
        return;
    if (--FDisableCount > 0)
        return;
    if (FDisableState != FState)
        DataEvent(deUpdateState, 0);
    if (FDisableState != dsInactive && FState != dsInactive)
        DataEvent(FEnableEvent, 0);
}

void TDataSet::AddDataSource(TDataSource* ASource) {
    FDataSources.push_back(ASource);
    ASource->FDataSet = this;
    ASource->DataEvent(deUpdateState, 0);
}

void TDataSet::RemoveDataSource(TDataSource* ASource) {
    ASource->FDataSet = nullptr;
    FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), ASource),
                       FDataSources.end());
    ASource->DataEvent(deUpdateState, 0);
}

// ---- TDataSource ----------------------------------------------------------------------------

TDataSource::TDataSource(TComponent* AOwner)
    : TComponent(AOwner) {}

TDataSource::~TDataSource() {
    FOnStateChange.Clear();
    FOnDataChange.Clear();
    FOnUpdateData.Clear();
    SetDataSet(nullptr);
    while (!FDataLinks.empty())
        RemoveDataLink(FDataLinks.back());
}

void TDataSource::SetDataSet(TDataSet* AValue) {
    if (AValue == FDataSet)
        return;
    if (FDataSet != nullptr)
        FDataSet->RemoveDataSource(this);
    if (AValue != nullptr)
        AValue->AddDataSource(this);
}

void TDataSource::SetEnabled(bool AValue) {
    if (FEnabled == AValue)
        return;
    FEnabled = AValue;
    DataEvent(deUpdateState, 0);
}

void TDataSource::Edit() {
    if (FAutoEdit && FState == dsBrowse && FDataSet != nullptr)
        FDataSet->Edit();
}

void TDataSource::DataEvent(TDataEvent AEvent, std::intptr_t AInfo) {
    if (AEvent == deUpdateState) {
        const TDataSetState state =
            FEnabled && FDataSet != nullptr ? FDataSet->State() : dsInactive;
        if (state == FState)
            return;
        const TDataSetState previous = FState;
        FState = state;
        NotifyDataLinks(deUpdateState, 0);
        if (FOnStateChange.Assigned())
            FOnStateChange(this);
        if (previous == dsInactive && FOnDataChange.Assigned())
            FOnDataChange(this, nullptr);
        return;
    }
    if (FState == dsInactive)
        return;
    NotifyDataLinks(AEvent, AInfo);
    switch (AEvent) {
    case deFieldChange:
        if (FOnDataChange.Assigned())
            FOnDataChange(this, reinterpret_cast<TField*>(AInfo));
        break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
        if (FOnDataChange.Assigned())
            FOnDataChange(this, nullptr);
        break;
    case deUpdateRecord:
        if (FOnUpdateData.Assigned())
            FOnUpdateData(this);
        break;
    default:
        break;
    }
}

void TDataSource::NotifyDataLinks(TDataEvent AEvent, std::intptr_t AInfo) {
    // The links that are no controls first, then the controls; each round looks at the list
    // as it is when the round starts.
    if (FDataLinks.empty())
        return;
    if (FDataLinks.size() == 1) {
        // The usual single link, without snapshots; the second round is only needed when its
        // handler changed the list or made the link a control.
        TDataLink* link = FDataLinks.front();
        if (link->VisualControl()) {
            if (!link->Ignores(AEvent))
                link->DataEvent(AEvent, AInfo);
            return;
        }
        if (link->Ignores(AEvent))
            return;
        link->DataEvent(AEvent, AInfo);
        if (FDataLinks.size() == 1 && FDataLinks.front() == link && !link->VisualControl())
            return;
        NotifyDataLinks(true, AEvent, AInfo);
        return;
    }
    NotifyDataLinks(false, AEvent, AInfo);
    NotifyDataLinks(true, AEvent, AInfo);
}

void TDataSource::NotifyDataLinks(bool AVisual, TDataEvent AEvent, std::intptr_t AInfo) {
    ForEachStillListed(FDataLinks, [&](TDataLink* ALink) {
        if (ALink->VisualControl() == AVisual && !ALink->Ignores(AEvent))
            ALink->DataEvent(AEvent, AInfo);
    });
}

void TDataSource::AddDataLink(TDataLink* ALink) {
    FDataLinks.push_back(ALink);
    ALink->FDataSource = this;
    ALink->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* ALink) {
    ALink->FDataSource = nullptr;
    FDataLinks.erase(std::remove(FDataLinks.begin(), FDataLinks.end(), ALink), FDataLinks.end());
    ALink->UpdateState();
}

// ---- TDataLink ------------------------------------------------------------------------------

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
    SetDataSource(nullptr);
}

void TDataLink::SetDataSource(TDataSource* AValue) {
    if (AValue == FDataSource)
        return;
    if (FDataSource != nullptr)
        FDataSource->RemoveDataLink(this);
    if (AValue != nullptr)
        AValue->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const {
    return FDataSource != nullptr ? FDataSource->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool AValue) {
    if (FReadOnly == AValue)
        return;
    FReadOnly = AValue;
    UpdateState();
}

bool TDataLink::Edit() {
    if (!FReadOnly && FDataSource != nullptr)
        FDataSource->Edit();
    return FEditing;
}

void TDataLink::UpdateRecord() {
    FUpdating = true;
    try {
        UpdateData();
    } catch (...) {
        FUpdating = false;
        throw;
    }
    FUpdating = false;
}

void TDataLink::DataSetScrolled(int ADistance) {
    (void)ADistance;
    DataSetChanged();
}

void TDataLink::UpdateState() {
    const bool active = FDataSource != nullptr && FDataSource->State() != dsInactive;
    if (active != FActive) {
        FActive = active;
        ActiveChanged();
    }
    const bool editing = FDataSource != nullptr && IsEditMode(FDataSource->State()) && !FReadOnly;
    if (editing != FEditing) {
        FEditing = editing;
        EditingChanged();
    }
}

void TDataLink::DataEvent(TDataEvent AEvent, std::intptr_t AInfo) {
    if (AEvent == deUpdateState) {
        UpdateState();
        return;
    }
    if (!FActive)
        return;
    switch (AEvent) {
    case deFieldChange:
    case deRecordChange:
        if (!FUpdating)
            RecordChanged(reinterpret_cast<TField*>(AInfo));
        break;
    case deDataSetChange:
        DataSetChanged();
        break;
    case deDataSetScroll:
        DataSetScrolled(static_cast<int>(AInfo));
        break;
    case deLayoutChange:
        LayoutChanged();
        break;
    case deUpdateRecord:
        UpdateRecord();
        break;
    case deCheckBrowseMode:
        CheckBrowseMode();
        break;
    case deFocusControl:
        FocusControl(reinterpret_cast<TField**>(AInfo));
        break;
    default:
        break;
    }
}

// ---- Published members ----------------------------------------------------------------------

const TClassInfo& TField::StaticClassInfo() {
    using T = TField;
    static const TClassInfo info = TClassInfoBuilder<T>("TField", &TComponent::StaticClassInfo())
                                       .String("FieldName", &T::FieldName, &T::SetFieldName)
                                       .Bool("ReadOnly", &T::ReadOnly, &T::SetReadOnly, false)
                                       .Bool("Required", &T::Required, &T::SetRequired, false)
                                       .Bool("Visible", &T::Visible, &T::SetVisible, true)
                                       .Event("OnChange", &T::OnChange, &T::SetOnChange)
                                       .Event("OnValidate", &T::OnValidate, &T::SetOnValidate)
                                       .Build();
    return info;
}

const TClassInfo& TFieldDef::StaticClassInfo() {
    using T = TFieldDef;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TFieldDef", &TCollectionItem::StaticClassInfo())
            .String("Name", &T::Name, &T::SetName)
            .Enum("DataType", &T::DataType, &T::SetDataType, FieldTypeTypeInfo(), ftUnknown)
            .Integer("Size", &T::Size, &T::SetSize, 0)
            .Bool("Required", &T::Required, &T::SetRequired, false)
            .Build();
    return info;
}

const TClassInfo& TFieldDefs::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TFieldDefs>("TFieldDefs", &TOwnedCollection::StaticClassInfo()).Build();
    return info;
}

const TClassInfo& TDataSet::StaticClassInfo() {
    using T = TDataSet;
    static const TClassInfo info = TClassInfoBuilder<T>("TDataSet", &TComponent::StaticClassInfo())
                                       .Bool("Active", &T::Active, &T::SetActive, false)
                                       .Event("BeforeOpen", &T::BeforeOpen, &T::SetBeforeOpen)
                                       .Event("AfterOpen", &T::AfterOpen, &T::SetAfterOpen)
                                       .Event("BeforeClose", &T::BeforeClose, &T::SetBeforeClose)
                                       .Event("AfterClose", &T::AfterClose, &T::SetAfterClose)
                                       .Event("BeforeInsert", &T::BeforeInsert, &T::SetBeforeInsert)
                                       .Event("AfterInsert", &T::AfterInsert, &T::SetAfterInsert)
                                       .Event("BeforeEdit", &T::BeforeEdit, &T::SetBeforeEdit)
                                       .Event("AfterEdit", &T::AfterEdit, &T::SetAfterEdit)
                                       .Event("BeforePost", &T::BeforePost, &T::SetBeforePost)
                                       .Event("AfterPost", &T::AfterPost, &T::SetAfterPost)
                                       .Event("BeforeCancel", &T::BeforeCancel, &T::SetBeforeCancel)
                                       .Event("AfterCancel", &T::AfterCancel, &T::SetAfterCancel)
                                       .Event("BeforeDelete", &T::BeforeDelete, &T::SetBeforeDelete)
                                       .Event("AfterDelete", &T::AfterDelete, &T::SetAfterDelete)
                                       .Event("BeforeScroll", &T::BeforeScroll, &T::SetBeforeScroll)
                                       .Event("AfterScroll", &T::AfterScroll, &T::SetAfterScroll)
                                       .Event("OnNewRecord", &T::OnNewRecord, &T::SetOnNewRecord)
                                       .Build();
    return info;
}

const TClassInfo& TDataSource::StaticClassInfo() {
    using T = TDataSource;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TDataSource", &TComponent::StaticClassInfo())
            .Component()
            .Bool("AutoEdit", &T::AutoEdit, &T::SetAutoEdit, true)
            .Object("DataSet", &T::DataSet, &T::SetDataSet)
            .Bool("Enabled", &T::Enabled, &T::SetEnabled, true)
            .Event("OnStateChange", &T::OnStateChange, &T::SetOnStateChange)
            .Event("OnDataChange", &T::OnDataChange, &T::SetOnDataChange)
            .Event("OnUpdateData", &T::OnUpdateData, &T::SetOnUpdateData)
            .Build();
    return info;
}

void RegisterDBClasses() {
    RegisterClasses({&TDataSource::StaticClassInfo(), &TMemDataSet::StaticClassInfo(),
                     &TSQLiteConnection::StaticClassInfo(), &TSQLiteTable::StaticClassInfo(),
                     &TSQLiteQuery::StaticClassInfo()});
}

} // namespace host
