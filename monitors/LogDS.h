// monitors/LogDS.h - TJexDatasetLog: one log line per notification of a watched data set.
//
// The logger watches a data set through its own data link (TLogDataLink), writes a line for
// every notification the data source sends (date and time, the notification, the changed field
// with its value) and, when a record is posted, can describe the change as an INSERT or UPDATE
// statement handed to OnSQLStatement; the statement is not written to the log. Everything runs
// on the thread that works the data set.
#pragma once

#include "host/data/DB.h"
#include "logging/LogBase.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace jex {

/// The notifications a data link receives; the names are also the text written to the log.
enum TJexLDBTypeEvent : std::uint8_t {
    dbeActiveChanged,
    dbeEditingChanged,
    dbeDataSetChanged,
    dbeDataSetScrolled,
    dbeLayoutChanged,
    dbeRecordChanged,
    dbeUpdateData,
};

using TJexLDBTypeEvents = host::TSet<TJexLDBTypeEvent>;

/// (Sender, State, Field, LogText): Field is the changed field or nullptr; the handler may
/// replace LogText, and an empty text is not written.
using TJexLDataChangeEvent =
    host::TEvent<void(host::TObject*, TJexLDBTypeEvent, host::TField*, std::string&)>;

/// (Sender, SQL): the statement describing a posted change.
using TJexLSQLStatementEvent = host::TEvent<void(host::TObject*, const std::string&)>;

class TJexDatasetLog;

/// The logger's data link: each notification becomes one UpdateStatus call on the logger that
/// created it (RecordChanged with its field, the others with none). It does not call the
/// framework's default handling, so a scroll or layout change is not also reported as a
/// change of the data set.
class TLogDataLink : public host::TDataLink {
public:
    explicit TLogDataLink(TJexDatasetLog* ALogger);

    /// Forgets the logger first, so that leaving the data source reaches no logger that is
    /// being destroyed.
    ~TLogDataLink() override;

    /// Keeps the data events whose bits are set in AEvents from this link: the ones the
    /// logger would not write anyway.
    void IgnoreEvents(std::uint32_t AEvents) { SetIgnoredEvents(AEvents); }

protected:
    void ActiveChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled(int ADistance) override;
    void EditingChanged() override;
    void LayoutChanged() override;
    void RecordChanged(host::TField* AField) override;
    void UpdateData() override;

private:
    void Report(TJexLDBTypeEvent AState, host::TField* AField);

    TJexDatasetLog* FLogger; // not owned
};

/// Writes one line per data-set notification to LogFile and describes posted changes as SQL.
class TJexDatasetLog : public TJexLogBase {
    JEX_CLASS(TJexDatasetLog)

public:
    explicit TJexDatasetLog(host::TComponent* AOwner);

    /// Destroys the data link, then the log component.
    ~TJexDatasetLog() override;

    /// Runs the log component's construction, then creates the data link and lets every
    /// notification through the filter.
    void AfterConstruction() override;

    /// The watched data source (the link's); nullptr for none.
    host::TDataSource* DataSource() const { return GetDataSource(); }

    host::TDataSource* GetDataSource() const;

    /// Hands AValue to the link, asks it to tell us when it is destroyed, and (unless the form
    /// is being loaded) reports dbeActiveChanged.
    void SetDataSource(host::TDataSource* AValue);

    /// The notifications that are logged; all seven by default.
    TJexLDBTypeEvents FilterEvents() const { return FFilterEvents; }

    void SetFilterEvents(TJexLDBTypeEvents AValue);

    /// Switches logging on or off; while off the data link passes nothing on but the changes
    /// of its state.
    void SetActive(bool AValue) override;

    TJexLDataChangeEvent OnChange() const { return FOnChange; }

    void SetOnChange(TJexLDataChangeEvent AValue) { FOnChange = std::move(AValue); }

    TJexLSQLStatementEvent OnSQLStatement() const { return FOnSQLStatement; }

    void SetOnSQLStatement(TJexLSQLStatementEvent AValue) { FOnSQLStatement = std::move(AValue); }

    /// Handles one notification: nothing in the designer, while inactive or when AState is
    /// filtered out. For dbeUpdateData builds the statement for OnSQLStatement (when one is
    /// assigned and the statement is not empty); then composes "<date> <time> <State>[ <Field
    /// name>:<value>]\r\n", passes it to OnChange and writes what it then holds to LogFile
    /// (unless LogFile is empty). Errors of the write and of the handlers reach the data-set
    /// operation that caused the notification.
    virtual void UpdateStatus(TJexLDBTypeEvent AState, host::TField* AField);

    /// When the watched data source is removed, watches none (and reports dbeActiveChanged).
    void Notification(host::TComponent* AComponent, host::TOperation AOperation) override;

    /// The statement describing the change of ADataSet's record: an INSERT INTO in dsInsert,
    /// an UPDATE in dsEdit, naming only the fields whose old and new values differ; empty when
    /// none differs or in any other state. Values are written in double quotes, names holding
    /// a space (or a double quote) too; double quotes inside them are doubled.
    static std::string BuildSQLStatement(host::TDataSet* ADataSet);

    /// The table a data set reads: its published TableName, else the first word after "FROM "
    /// in its published SQL (the whole text when there is none), cut before the first ".";
    /// empty for no data set or neither property.
    static std::string TableNameOf(host::TDataSet* ADataSet);

    /// The table an SQL text reads, by the rule of TableNameOf: the first word after "FROM "
    /// (the whole text when there is none), cut before the first ".".
    static std::string TableNameInSQL(std::string_view ASQL);

private:
    // Tells the link which data events can never make a line, so that an inactive logger or
    // one that filters a notification out costs the data set next to nothing.
    void UpdateIgnoredEvents();

    std::unique_ptr<TLogDataLink> FDataLink;
    TJexLDataChangeEvent FOnChange;
    TJexLSQLStatementEvent FOnSQLStatement;
    TJexLDBTypeEvents FFilterEvents;
};

/// The notification's name as written to the log ("dbeDataSetScrolled").
std::string DBTypeEventName(TJexLDBTypeEvent AState);

/// Initialisation of the unit: makes TJexDatasetLog and the data-access classes known to
/// stored forms. Nested calls only count.
void LogDSInitialization();
void LogDSFinalization();

} // namespace jex
