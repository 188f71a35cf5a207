// host/data/SQLiteTables.h - data sets on SQLite database files: connection, table, query.
//
// TSQLiteConnection opens one database file; TSQLiteTable reads one table of it and writes
// each posted or deleted record back at once through prepared statements with bound
// parameters; TSQLiteQuery reads the result of a SELECT. Every error SQLite reports becomes an
// EDatabaseError carrying SQLite's message. The data sets read their whole result at Open and
// keep it in memory (see TDataSet); Refresh reads it again.
#pragma once

#include "host/data/DB.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace host {

class TSQLiteDataSet;

/// One open database file. Data sets open it when they open; closing it closes them.
/// Without StartTransaction every Post and Delete is its own transaction.
class TSQLiteConnection : public TComponent {
    JEX_CLASS(TSQLiteConnection)

public:
    explicit TSQLiteConnection(TComponent* AOwner);

    /// Closes the data sets and the database, and detaches the data sets.
    ~TSQLiteConnection() override;

    /// The database file's path (":memory:" for a private in-memory database). A missing file
    /// is created on Open.
    const std::string& DatabaseName() const { return FDatabaseName; }

    /// Raises EDatabaseError while connected.
    void SetDatabaseName(const std::string& AValue);

    bool Connected() const { return FHandle != nullptr; }

    /// Opens or closes; while the form is being loaded the value is kept for Loaded.
    void SetConnected(bool AValue);

    /// Milliseconds to wait for a database another connection has locked before the operation
    /// fails with "database is locked"; 0 fails at once.
    int BusyTimeout() const { return FBusyTimeout; }

    void SetBusyTimeout(int AValue);

    /// Opens the database file. Raises EDatabaseError "Cannot open database <path>: <reason>"
    /// when the file cannot be opened or is no database (nothing stays open then), and
    /// "No database name" for an empty DatabaseName.
    void Open();

    /// Closes the open data sets, then the database (a transaction in progress is rolled back).
    void Close();

    /// BEGIN, COMMIT, ROLLBACK. A rollback does not re-read open data sets: Refresh them to
    /// see what is stored.
    void StartTransaction();
    void Commit();
    void Rollback();

    /// True between StartTransaction and Commit or Rollback.
    bool InTransaction() const;

    /// Runs one or more SQL statements that return no rows (opens the database first).
    void ExecSQL(const std::string& ASQL);

    /// The SQLite handle while connected, nullptr otherwise (for code that talks to SQLite
    /// itself; the connection still owns it).
    sqlite3* Handle() const { return FHandle; }

    void Loaded() override;

    /// A prepared statement for ASQL from this connection's cache, reset and with no bindings;
    /// the connection finalises it on Close. Errors are raised as EDatabaseError, prefixed with
    /// AWho's name.
    sqlite3_stmt* Prepare(const std::string& ASQL, const TComponent* AWho);

    /// Raises EDatabaseError with the message of the last failed call on the handle.
    [[noreturn]] void RaiseError(const TComponent* AWho) const;

private:
    friend class TSQLiteDataSet;

    void Execute(const std::string& ASQL);
    void FinalizeStatements();

    std::string FDatabaseName;
    int FBusyTimeout = 0;
    bool FStreamedConnected = false;
    sqlite3* FHandle = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> FStatements;
    std::vector<TSQLiteDataSet*> FDataSets;
};

/// What SQLite data sets share: the connection, and reading rows into records.
class TSQLiteDataSet : public TDataSet {
    JEX_CLASS(TSQLiteDataSet)

public:
    explicit TSQLiteDataSet(TComponent* AOwner);
    ~TSQLiteDataSet() override;

    TSQLiteConnection* Connection() const { return FConnection; }

    /// Closes the data set when the connection changes.
    void SetConnection(TSQLiteConnection* AValue);

    void Notification(TComponent* AComponent, TOperation AOperation) override;

protected:
    /// The connection, opened; EDatabaseError "No connection" without one.
    TSQLiteConnection& OpenConnection();

    /// The value of column AColumn of the row AStmt stands on, as AField keeps it (text that
    /// does not fit the field's type stays text).
    static Variant ColumnValue(sqlite3_stmt* AStmt, int AColumn, const TField* AField);

    /// Binds AValue to parameter AIndex (1-based) as AField stores it.
    static int BindValue(sqlite3_stmt* AStmt, int AIndex, const Variant& AValue,
                         const TField* AField);

    /// The field type for a column's declared type, by SQLite's affinity rules; BOOL and
    /// DATE/TIME in the name give booleans and date-times.
    static TFieldType FieldTypeOfDecl(const std::string& ADeclType);

    /// Steps AStmt to its end; raises EDatabaseError with SQLite's message on failure (the
    /// statement is reset either way).
    void Run(sqlite3_stmt* AStmt);

private:
    friend class TSQLiteConnection;
    TSQLiteConnection* FConnection = nullptr;
};

/// One table of the database. The records are identified by the table's primary key, or by
/// the rowid when it has none; Post writes only the columns that changed, Insert only the
/// columns that were given a value (the others get their defaults), and the new record is read
/// back so it shows what the database stored (defaults, an assigned INTEGER PRIMARY KEY).
/// A Post or Delete that finds no stored record raises EDatabaseError "Record not found or
/// changed by another user".
class TSQLiteTable : public TSQLiteDataSet {
    JEX_CLASS(TSQLiteTable)

public:
    explicit TSQLiteTable(TComponent* AOwner);
    ~TSQLiteTable() override;

    /// The table's name in the database (used as one identifier).
    const std::string& TableName() const { return FTableName; }

    /// Raises EDatabaseError "Cannot perform this operation on an open dataset" while open.
    void SetTableName(const std::string& AValue);

protected:
    void InternalOpen() override;
    void InternalClose() override;
    void InternalPost(TDataRecord& ARecord, const TDataRecord* AOld) override;
    void InternalDelete(const TDataRecord& ARecord) override;
    void InternalRefresh() override;

private:
    void ReadRows();
    std::string KeyCondition(int AFirstParam) const;
    void BindKey(sqlite3_stmt* AStmt, int AFirstParam, const TDataRecord& ARecord);
    void Reload(TDataRecord& ARecord, std::int64_t ARowId);
    void CheckOneRow();

    std::string FTableName;
    std::string FQuotedTable;
    std::string FColumnList;     // "a", "b", ... in field order
    std::vector<int> FKeyFields; // the primary key's fields, in key order; empty: by rowid
    bool FHasRowId = true;
    // UPDATE statements by the indexes of the columns they set (the connection's, cached).
    std::unordered_map<std::string, sqlite3_stmt*> FUpdates;
    // The columns the post being written changed (kept to reuse its storage), and the last
    // set of columns written with its statement: a run of edits to the same columns finds its
    // statement without a look-up.
    std::string FChanged;
    std::string FLastChanged;
    sqlite3_stmt* FLastUpdate = nullptr;
};

/// The rows a SELECT returns. The query is read-only: Edit, Insert and Delete raise
/// EDatabaseError "Cannot modify a read-only dataset" (write through a table or ExecSQL).
/// Only one statement may be opened; a text holding several is refused.
class TSQLiteQuery : public TSQLiteDataSet {
    JEX_CLASS(TSQLiteQuery)

public:
    explicit TSQLiteQuery(TComponent* AOwner);
    ~TSQLiteQuery() override;

    /// The statement, as lines; changing it closes the query.
    TStrings* SQL() const { return FSQL.get(); }

    void SetSQL(TStrings* AValue);

    /// Runs SQL as statements that return no rows; RowsAffected then tells how many rows the
    /// last one changed.
    void ExecSQL();

    int RowsAffected() const { return FRowsAffected; }

protected:
    void InternalOpen() override;
    void InternalPost(TDataRecord& ARecord, const TDataRecord* AOld) override;
    void InternalDelete(const TDataRecord& ARecord) override;
    void InternalRefresh() override;

    bool GetCanModify() const override { return false; }

private:
    void SQLChanged(TObject* ASender);
    void ReadRows(bool ADefineFields);

    std::unique_ptr<TStringList> FSQL;
    int FRowsAffected = 0;
};

} // namespace host
