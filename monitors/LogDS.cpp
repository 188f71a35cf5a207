// monitors/LogDS.cpp - TJexDatasetLog and its data link TLogDataLink.
#include "monitors/LogDS.h"

#include <typeinfo>

namespace jex {

using namespace host;

namespace {

const TTypeInfo& DBTypeEventType() {
    return EnumType<TJexLDBTypeEvent>("TJexLDBTypeEvent",
                                      {"dbeActiveChanged", "dbeEditingChanged", "dbeDataSetChanged",
                                       "dbeDataSetScrolled", "dbeLayoutChanged", "dbeRecordChanged",
                                       "dbeUpdateData"});
}

const TTypeInfo& DBTypeEventsType() {
    return SetType<TJexLDBTypeEvent>("TJexLDBTypeEvents", DBTypeEventType());
}

constexpr TJexLDBTypeEvents AllEvents{dbeActiveChanged,   dbeEditingChanged, dbeDataSetChanged,
                                      dbeDataSetScrolled, dbeLayoutChanged,  dbeRecordChanged,
                                      dbeUpdateData};

// A text inside double quotes, its own double quotes doubled so it cannot end the quotes early.
std::string Quoted(const std::string& AText) {
    return AnsiQuotedStr(AText, '"');
}

// A field name as the statement writes it: quoted when it holds a space or a double quote.
std::string StatementName(const std::string& AName) {
    if (AName.find(' ') == std::string::npos && AName.find('"') == std::string::npos)
        return AName;
    return Quoted(AName);
}

int& LogDSInitCount() {
    static int count = 0;
    return count;
}

} // namespace

std::string DBTypeEventName(TJexLDBTypeEvent AState) {
    return GetEnumName(DBTypeEventType(), AState);
}

// ---- TLogDataLink ---------------------------------------------------------------------------

TLogDataLink::TLogDataLink(TJexDatasetLog* ALogger)
    : FLogger(ALogger) {}

TLogDataLink::~TLogDataLink() {
    FLogger = nullptr;
    // The data link's own teardown (leaving the source) follows and reaches no logger.
}

void TLogDataLink::Report(TJexLDBTypeEvent AState, TField* AField) {
    if (FLogger != nullptr)
        FLogger->UpdateStatus(AState, AField);
}

void TLogDataLink::ActiveChanged() {
    Report(dbeActiveChanged, nullptr);
}

void TLogDataLink::DataSetChanged() {
    Report(dbeDataSetChanged, nullptr);
}

void TLogDataLink::DataSetScrolled(int ADistance) {
    (void)ADistance; // one line per scroll, whatever its distance
    Report(dbeDataSetScrolled, nullptr);
}

void TLogDataLink::EditingChanged() {
    Report(dbeEditingChanged, nullptr);
}

void TLogDataLink::LayoutChanged() {
    Report(dbeLayoutChanged, nullptr);
}

void TLogDataLink::RecordChanged(TField* AField) {
    Report(dbeRecordChanged, AField);
}

void TLogDataLink::UpdateData() {
    Report(dbeUpdateData, nullptr);
}

// ---- TJexDatasetLog -------------------------------------------------------------------------

TJexDatasetLog::TJexDatasetLog(TComponent* AOwner)
    : TJexLogBase(AOwner) {}

TJexDatasetLog::~TJexDatasetLog() {
    FDataLink.reset();
}

void TJexDatasetLog::AfterConstruction() {
    TJexLogBase::AfterConstruction();
    FDataLink = std::make_unique<TLogDataLink>(this);
    FFilterEvents = AllEvents;
    UpdateIgnoredEvents();
}

void TJexDatasetLog::SetFilterEvents(TJexLDBTypeEvents AValue) {
    FFilterEvents = AValue;
    UpdateIgnoredEvents();
}

void TJexDatasetLog::SetActive(bool AValue) {
    TJexLogBase::SetActive(AValue);
    UpdateIgnoredEvents();
}

void TJexDatasetLog::UpdateIgnoredEvents() {
    if (!FDataLink)
        return;
    // A descendant may do more in UpdateStatus than this class: it hears every event.
    if (typeid(*this) != typeid(TJexDatasetLog)) {
        FDataLink->IgnoreEvents(0);
        return;
    }
    // The state changes (ActiveChanged, EditingChanged) always get through; UpdateStatus
    // filters them as before.
    std::uint32_t ignored = ~std::uint32_t{0};
    if (Active()) {
        auto pass = [&](TJexLDBTypeEvent AState, TDataEvent AEvent) {
            if (FFilterEvents.Contains(AState))
                ignored &= ~(std::uint32_t{1} << AEvent);
        };
        pass(dbeRecordChanged, deFieldChange);
        pass(dbeRecordChanged, deRecordChange);
        pass(dbeDataSetChanged, deDataSetChange);
        pass(dbeDataSetScrolled, deDataSetScroll);
        pass(dbeLayoutChanged, deLayoutChange);
        pass(dbeUpdateData, deUpdateRecord);
    }
    FDataLink->IgnoreEvents(ignored);
}

TDataSource* TJexDatasetLog::GetDataSource() const {
    return FDataLink ? FDataLink->DataSource() : nullptr;
}

void TJexDatasetLog::SetDataSource(TDataSource* AValue) {
    if (FDataLink)
        FDataLink->SetDataSource(AValue);
    if (AValue != nullptr)
        AValue->FreeNotification(this);
    if (!ComponentState().Contains(csLoading))
        UpdateStatus(dbeActiveChanged, nullptr);
}

void TJexDatasetLog::Notification(TComponent* AComponent, TOperation AOperation) {
    TJexLogBase::Notification(AComponent, AOperation);
    if (AOperation == opRemove && FDataLink && AComponent != nullptr &&
        AComponent == FDataLink->DataSource())
        SetDataSource(nullptr);
}

void TJexDatasetLog::UpdateStatus(TJexLDBTypeEvent AState, TField* AField) {
    if (ComponentState().Contains(csDesigning) || !Active() || !FFilterEvents.Contains(AState))
        return;
    if (AState == dbeUpdateData && FOnSQLStatement.Assigned()) {
        const std::string sql = BuildSQLStatement(FDataLink ? FDataLink->DataSet() : nullptr);
        if (!sql.empty())
            FOnSQLStatement(this, sql);
    }
    std::string line = FormatDateTime("c", Now()) + ' ' + DBTypeEventName(AState);
    if (AField != nullptr)
        line += ' ' + AField->FieldName() + ':' + AField->AsString();
    line += "\r\n";
    if (FOnChange.Assigned())
        FOnChange(this, AState, AField, line);
    if (!LogFile().empty())
        WriteAsString(line);
}

std::string TJexDatasetLog::BuildSQLStatement(TDataSet* ADataSet) {
    if (ADataSet == nullptr)
        return std::string();
    const TDataSetState state = ADataSet->State();
    std::string first, second;
    for (TField* field : ADataSet->Fields()) {
        const Variant& oldValue = field->OldValue();
        const Variant& newValue = field->NewValue();
        if (oldValue == newValue)
            continue;
        const std::string name = StatementName(field->FieldName());
        const std::string quotedNew = Quoted(VarToStr(newValue));
        if (!first.empty())
            first += ", ";
        if (state == dsEdit) {
            first += name + "=" + quotedNew;
            if (!second.empty())
                second += " AND ";
            second += "(" + name + "=" + Quoted(VarToStr(oldValue)) + ")";
        } else if (state == dsInsert) {
            first += name;
            if (!second.empty())
                second += ", ";
            second += quotedNew;
        }
    }
    if (first.empty() || second.empty())
        return std::string();
    const std::string table = TableNameOf(ADataSet);
    if (state == dsInsert)
        return "INSERT INTO " + table + "\r\n  (" + first + ")\r\nVALUES\r\n  (" + second + ")";
    if (state == dsEdit)
        return "UPDATE " + table + "\r\nSET\r\n  " + first + "\r\nWHERE\r\n  " + second;
    return std::string();
}

std::string TJexDatasetLog::TableNameOf(TDataSet* ADataSet) {
    if (ADataSet == nullptr)
        return std::string();
    std::string name;
    const TPropInfo* tableName = GetPropInfo(ADataSet, "TableName");
    const TPropInfo* sql = GetPropInfo(ADataSet, "SQL");
    if (tableName != nullptr && tableName->PropType->Kind == tkString) {
        name = GetStrProp(ADataSet, tableName);
    } else if (sql != nullptr && sql->PropType->Kind == tkClass) {
        if (auto* lines = dynamic_cast<TStrings*>(GetObjectProp(ADataSet, "SQL")))
            return TableNameInSQL(lines->Text());
    }
    return name.substr(0, name.find('.'));
}

std::string TJexDatasetLog::TableNameInSQL(std::string_view ASQL) {
    std::string name(ASQL);
    const std::size_t from = UpperCase(name).find("FROM ");
    if (from != std::string::npos) {
        name.erase(0, from + 5);
        for (char stop : {' ', '\r', '\n'})
            name = name.substr(0, name.find(stop));
    }
    return name.substr(0, name.find('.'));
}

// ---- Published members and the unit ---------------------------------------------------------

const TClassInfo& TJexDatasetLog::StaticClassInfo() {
    using T = TJexDatasetLog;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexDatasetLog", &TJexLogBase::StaticClassInfo())
            .Component()
            .Object("DataSource", &T::GetDataSource, &T::SetDataSource)
            .Set("FilterEvents", &T::FilterEvents, &T::SetFilterEvents, DBTypeEventsType(),
                 AllEvents)
            .Event("OnChange", &T::OnChange, &T::SetOnChange)
            .Event("OnSQLStatement", &T::OnSQLStatement, &T::SetOnSQLStatement)
            .Build();
    return info;
}

void LogDSInitialization() {
    if (LogDSInitCount()-- == 0) {
        RegisterDBClasses();
        RegisterClass(TJexDatasetLog::StaticClassInfo());
    }
}

void LogDSFinalization() {
    ++LogDSInitCount();
}

} // namespace jex
