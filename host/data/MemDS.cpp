// host/data/MemDS.cpp - TMemDataSet: a data set whose records live only in memory.
#include "host/data/MemDS.h"

namespace host {

TMemDataSet::TMemDataSet(TComponent* AOwner)
    : TDataSet(AOwner)
    , FFieldDefs(std::make_unique<TFieldDefs>(this)) {}

TMemDataSet::~TMemDataSet() {
    CloseForDestroy();
}

void TMemDataSet::SetTableName(const std::string& AValue) {
    if (AValue == FTableName)
        return;
    if (Active())
        Error(SDataSetOpen);
    FTableName = AValue;
}

void TMemDataSet::SetFieldDefs(TFieldDefs* AValue) {
    if (AValue != nullptr)
        FFieldDefs->Assign(AValue);
}

std::vector<TDataRecord> TMemDataSet::Records() const {
    return Active() ? CurrentRecords() : FStored;
}

void TMemDataSet::SetRecords(std::vector<TDataRecord> ARecords) {
    if (Active())
        Error(SDataSetOpen);
    FStored = std::move(ARecords);
}

void TMemDataSet::InternalOpen() {
    if (FFieldDefs->Count() == 0)
        Error("No fields defined");
    for (int i = 0; i < FFieldDefs->Count(); ++i) {
        const TFieldDef* def = FFieldDefs->Items(i);
        TField* field = AddField(def->Name(), def->DataType(), def->Size());
        field->SetRequired(def->Required());
    }
    const auto width = static_cast<std::size_t>(FieldCount());
    for (TDataRecord record : FStored) {
        // Records saved for other columns are cut or padded to these, each value converted.
        record.Values.resize(width, Variant::Null());
        for (std::size_t i = 0; i < width; ++i)
            record.Values[i] = Fields()[static_cast<int>(i)]->ConvertValue(record.Values[i]);
        if (record.Key >= FNextKey)
            FNextKey = record.Key + 1;
        AddRecord(std::move(record));
    }
}

void TMemDataSet::InternalClose() {
    FStored = CurrentRecords();
}

void TMemDataSet::InternalPost(TDataRecord& ARecord, const TDataRecord* AOld) {
    if (AOld == nullptr)
        ARecord.Key = FNextKey++;
}

void TMemDataSet::InternalDelete(const TDataRecord& ARecord) {
    (void)ARecord;
}

const TClassInfo& TMemDataSet::StaticClassInfo() {
    using T = TMemDataSet;
    static const TClassInfo info = TClassInfoBuilder<T>("TMemDataSet", &TDataSet::StaticClassInfo())
                                       .Component()
                                       .String("TableName", &T::TableName, &T::SetTableName)
                                       .Collection("FieldDefs", &T::FieldDefs, &T::SetFieldDefs)
                                       .Build();
    return info;
}

} // namespace host
