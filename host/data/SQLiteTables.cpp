// host/data/SQLiteTables.cpp - data sets on SQLite database files: connection, table, query.
#include "host/data/SQLiteTables.h"

#include <algorithm>
#include <cstring>
#include <sqlite3.h>

namespace host {

namespace {

// A name as one SQL identifier: in double quotes, with inner double quotes doubled.
std::string QuoteIdent(const std::string& AName) {
    return AnsiQuotedStr(AName, '"');
}

// Resets a statement on every way out of a scope, so the cache hands it out clean.
class TStatementReset {
public:
    explicit TStatementReset(sqlite3_stmt* AStmt)
        : FStmt(AStmt) {}

    ~TStatementReset() {
        sqlite3_reset(FStmt);
        sqlite3_clear_bindings(FStmt);
    }

    TStatementReset(const TStatementReset&) = delete;
    TStatementReset& operator=(const TStatementReset&) = delete;

private:
    sqlite3_stmt* FStmt;
};

// Owns a statement that is not cached.
struct TStatementFinalizer {
    void operator()(sqlite3_stmt* AStmt) const { sqlite3_finalize(AStmt); }
};

using TOwnedStatement = std::unique_ptr<sqlite3_stmt, TStatementFinalizer>;

// Two stored values are the same when they have the same type and compare equal; text kept in
// a numeric field compares unequal to a number instead of failing to convert.
bool SameStored(const Variant& A, const Variant& B) {
    return A.VarType() == B.VarType() && A == B;
}

std::string ColumnText(sqlite3_stmt* AStmt, int AColumn) {
    const auto* text = static_cast<const char*>(sqlite3_column_blob(AStmt, AColumn));
    const int size = sqlite3_column_bytes(AStmt, AColumn);
    return text != nullptr ? std::string(text, static_cast<std::size_t>(size)) : std::string();
}

} // namespace

// ---- TSQLiteConnection ----------------------------------------------------------------------

TSQLiteConnection::TSQLiteConnection(TComponent* AOwner)
    : TComponent(AOwner) {}

TSQLiteConnection::~TSQLiteConnection() {
    for (TSQLiteDataSet* dataSet : FDataSets) {
        dataSet->CloseForDestroy();
        dataSet->FConnection = nullptr;
    }
    FDataSets.clear();
    FinalizeStatements();
    if (FHandle != nullptr)
        sqlite3_close_v2(FHandle);
}

void TSQLiteConnection::SetDatabaseName(const std::string& AValue) {
    if (AValue == FDatabaseName)
        return;
    if (Connected())
        DatabaseError("Cannot change the database name while connected", this);
    FDatabaseName = AValue;
}

void TSQLiteConnection::SetConnected(bool AValue) {
    if (ComponentState().Contains(csLoading)) {
        FStreamedConnected = AValue;
        return;
    }
    if (AValue)
        Open();
    else
        Close();
}

void TSQLiteConnection::SetBusyTimeout(int AValue) {
    FBusyTimeout = std::max(AValue, 0);
    if (FHandle != nullptr)
        sqlite3_busy_timeout(FHandle, FBusyTimeout);
}

void TSQLiteConnection::Loaded() {
    TComponent::Loaded();
    if (FStreamedConnected) {
        FStreamedConnected = false;
        Open();
    }
}

void TSQLiteConnection::Open() {
    if (FHandle != nullptr)
        return;
    if (FDatabaseName.empty())
        DatabaseError("No database name", this);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(FDatabaseName.c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::string reason;
    if (rc != SQLITE_OK) {
        reason = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    } else if (sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr) != SQLITE_OK) {
        // SQLite reads the file only when asked; ask now, so a file that is no database (or
        // that we may not read) fails here and not at the first data set.
        reason = sqlite3_errmsg(db);
    }
    if (!reason.empty()) {
        sqlite3_close_v2(db);
        DatabaseError("Cannot open database " + FDatabaseName + ": " + reason, this);
    }
    FHandle = db;
    sqlite3_busy_timeout(FHandle, FBusyTimeout);
    sqlite3_extended_result_codes(FHandle, 1);
}

void TSQLiteConnection::Close() {
    if (FHandle == nullptr)
        return;
    for (TSQLiteDataSet* dataSet : std::vector<TSQLiteDataSet*>(FDataSets))
        dataSet->Close();
    FinalizeStatements();
    sqlite3_close_v2(FHandle);
    FHandle = nullptr;
}

void TSQLiteConnection::FinalizeStatements() {
    for (auto& [sql, stmt] : FStatements)
        sqlite3_finalize(stmt);
    FStatements.clear();
}

void TSQLiteConnection::RaiseError(const TComponent* AWho) const {
    DatabaseError(FHandle != nullptr ? sqlite3_errmsg(FHandle) : "Database is not open", AWho);
}

void TSQLiteConnection::Execute(const std::string& ASQL) {
    Open();
    char* message = nullptr;
    if (sqlite3_exec(FHandle, ASQL.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message != nullptr ? message : sqlite3_errmsg(FHandle);
        sqlite3_free(message);
        DatabaseError(text, this);
    }
}

void TSQLiteConnection::StartTransaction() {
    Execute("BEGIN");
}

void TSQLiteConnection::Commit() {
    Execute("COMMIT");
}

void TSQLiteConnection::Rollback() {
    Execute("ROLLBACK");
}

bool TSQLiteConnection::InTransaction() const {
    return FHandle != nullptr && sqlite3_get_autocommit(FHandle) == 0;
}

void TSQLiteConnection::ExecSQL(const std::string& ASQL) {
    Execute(ASQL);
}

sqlite3_stmt* TSQLiteConnection::Prepare(const std::string& ASQL, const TComponent* AWho) {
    Open();
    auto it = FStatements.find(ASQL);
    if (it != FStatements.end())
        return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(FHandle, ASQL.c_str(), static_cast<int>(ASQL.size()),
                           SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
        RaiseError(AWho);
    FStatements.emplace(ASQL, stmt);
    return stmt;
}

// ---- TSQLiteDataSet -------------------------------------------------------------------------

TSQLiteDataSet::TSQLiteDataSet(TComponent* AOwner)
    : TDataSet(AOwner) {}

TSQLiteDataSet::~TSQLiteDataSet() {
    SetConnection(nullptr);
}

void TSQLiteDataSet::SetConnection(TSQLiteConnection* AValue) {
    if (AValue == FConnection)
        return;
    if (!ComponentState().Contains(csDestroying))
        Close();
    if (FConnection != nullptr) {
        auto& list = FConnection->FDataSets;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        FConnection->RemoveFreeNotification(this);
    }
    FConnection = AValue;
    if (FConnection != nullptr) {
        FConnection->FDataSets.push_back(this);
        FConnection->FreeNotification(this);
    }
}

void TSQLiteDataSet::Notification(TComponent* AComponent, TOperation AOperation) {
    TDataSet::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent != nullptr && AComponent == FConnection)
        SetConnection(nullptr);
}

TSQLiteConnection& TSQLiteDataSet::OpenConnection() {
    if (FConnection == nullptr)
        Error("No connection");
    FConnection->Open();
    return *FConnection;
}

void TSQLiteDataSet::Run(sqlite3_stmt* AStmt) {
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW)
        rc = sqlite3_step(AStmt);
    if (rc != SQLITE_DONE) {
        // The statement's own message; reading it before the reset keeps it.
        const std::string message = sqlite3_errmsg(sqlite3_db_handle(AStmt));
        sqlite3_reset(AStmt);
        Error(message);
    }
}

TFieldType TSQLiteDataSet::FieldTypeOfDecl(const std::string& ADeclType) {
    const std::string t = UpperCase(ADeclType);
    auto has = [&](const char* APart) { return t.find(APart) != std::string::npos; };
    if (has("BOOL"))
        return ftBoolean;
    if (has("DATE") || has("TIME"))
        return ftDateTime;
    if (has("INT"))
        return ftInteger;
    if (has("CHAR") || has("CLOB") || has("TEXT"))
        return ftString;
    if (t.empty() || has("BLOB"))
        return ftBlob;
    return ftFloat; // REAL, FLOA, DOUB, NUMERIC and the rest of numeric affinity
}

Variant TSQLiteDataSet::ColumnValue(sqlite3_stmt* AStmt, int AColumn, const TField* AField) {
    Variant raw;
    switch (sqlite3_column_type(AStmt, AColumn)) {
    case SQLITE_NULL:
        return Variant::Null();
    case SQLITE_INTEGER:
        raw = Variant(static_cast<std::int64_t>(sqlite3_column_int64(AStmt, AColumn)));
        break;
    case SQLITE_FLOAT:
        raw = Variant(sqlite3_column_double(AStmt, AColumn));
        break;
    default:
        raw = Variant(ColumnText(AStmt, AColumn));
        break;
    }
    if (AField == nullptr)
        return raw;
    try {
        return AField->ConvertValue(raw);
    } catch (const EConvertError&) {
        return raw; // SQLite lets a column hold any value; show what is there
    } catch (const EVariantError&) {
        return raw;
    }
}

int TSQLiteDataSet::BindValue(sqlite3_stmt* AStmt, int AIndex, const Variant& AValue,
                              const TField* AField) {
    switch (AValue.VarType()) {
    case varEmpty:
    case varNull:
        return sqlite3_bind_null(AStmt, AIndex);
    case varInteger:
    case varInt64:
    case varBoolean:
        return sqlite3_bind_int64(AStmt, AIndex, AValue.AsInt64());
    case varDouble:
        return sqlite3_bind_double(AStmt, AIndex, AValue.AsDouble());
    case varDate: {
        const std::string text = DateTimeToSQLText(AValue.AsDouble());
        return sqlite3_bind_text(AStmt, AIndex, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
    }
    case varString:
    default: {
        const std::string text = AValue.AsString();
        if (AField != nullptr && AField->DataType() == ftBlob)
            return sqlite3_bind_blob(AStmt, AIndex, text.data(), static_cast<int>(text.size()),
                                     SQLITE_TRANSIENT);
        return sqlite3_bind_text(AStmt, AIndex, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
    }
    }
}

// ---- TSQLiteTable ---------------------------------------------------------------------------

TSQLiteTable::TSQLiteTable(TComponent* AOwner)
    : TSQLiteDataSet(AOwner) {}

TSQLiteTable::~TSQLiteTable() {
    CloseForDestroy();
}

void TSQLiteTable::SetTableName(const std::string& AValue) {
    if (AValue == FTableName)
        return;
    if (Active())
        Error(SDataSetOpen);
    FTableName = AValue;
}

void TSQLiteTable::InternalOpen() {
    TSQLiteConnection& connection = OpenConnection();
    if (FTableName.empty())
        Error("No table name");
    FQuotedTable = QuoteIdent(FTableName);
    FKeyFields.clear();
    FColumnList.clear();
    {
        // The columns in table order, with their declared types and places in the key.
        TOwnedStatement info;
        sqlite3_stmt* raw = nullptr;
        const std::string sql = "PRAGMA table_info(" + FQuotedTable + ")";
        if (sqlite3_prepare_v2(connection.Handle(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
            connection.RaiseError(this);
        info.reset(raw);
        std::vector<std::pair<int, int>> keys; // (place in key, field index)
        int rc = SQLITE_OK;
        while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
            const std::string name = ColumnText(raw, 1);
            const std::string decl = ColumnText(raw, 2);
            TField* field = AddField(name, FieldTypeOfDecl(decl));
            field->SetRequired(sqlite3_column_int(raw, 3) != 0 &&
                               sqlite3_column_type(raw, 4) == SQLITE_NULL);
            if (const int pk = sqlite3_column_int(raw, 5); pk > 0)
                keys.emplace_back(pk, field->Index());
            if (!FColumnList.empty())
                FColumnList += ", ";
            FColumnList += QuoteIdent(name);
        }
        if (rc != SQLITE_DONE)
            connection.RaiseError(this);
        if (FieldCount() == 0)
            Error("no such table: " + FTableName);
        std::sort(keys.begin(), keys.end());
        for (const auto& key : keys)
            FKeyFields.push_back(key.second);
    }
    // A table declared WITHOUT ROWID has no rowid; then it always has a primary key.
    sqlite3_stmt* probe = nullptr;
    const std::string probeSql = "SELECT rowid FROM " + FQuotedTable + " LIMIT 0";
    FHasRowId =
        sqlite3_prepare_v2(connection.Handle(), probeSql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    ReadRows();
}

void TSQLiteTable::ReadRows() {
    TSQLiteConnection& connection = OpenConnection();
    const std::string sql =
        "SELECT " + std::string(FHasRowId ? "rowid, " : "") + FColumnList + " FROM " + FQuotedTable;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(connection.Handle(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        connection.RaiseError(this);
    TOwnedStatement stmt(raw);
    const int first = FHasRowId ? 1 : 0;
    const auto width = static_cast<std::size_t>(FieldCount());
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        TDataRecord record;
        record.Values.reserve(width);
        if (FHasRowId)
            record.Key = sqlite3_column_int64(raw, 0);
        for (std::size_t i = 0; i < width; ++i)
            record.Values.push_back(
                ColumnValue(raw, first + static_cast<int>(i), Fields()[static_cast<int>(i)]));
        AddRecord(std::move(record));
    }
    if (rc != SQLITE_DONE)
        connection.RaiseError(this);
}

void TSQLiteTable::InternalClose() {
    FKeyFields.clear();
    FUpdates.clear(); // the connection owns and finalises the statements
    FLastChanged.clear();
    FLastUpdate = nullptr;
}

void TSQLiteTable::InternalRefresh() {
    ClearRecords();
    ReadRows();
}

std::string TSQLiteTable::KeyCondition(int AFirstParam) const {
    if (FKeyFields.empty())
        return "rowid = ?" + std::to_string(AFirstParam);
    std::string condition;
    int param = AFirstParam;
    for (int index : FKeyFields) {
        if (!condition.empty())
            condition += " AND ";
        // IS, not =: a key column of a rowid table may hold NULL.
        condition += QuoteIdent(Fields()[index]->FieldName()) + " IS ?" + std::to_string(param++);
    }
    return condition;
}

void TSQLiteTable::BindKey(sqlite3_stmt* AStmt, int AFirstParam, const TDataRecord& ARecord) {
    if (FKeyFields.empty()) {
        sqlite3_bind_int64(AStmt, AFirstParam, ARecord.Key);
        return;
    }
    int param = AFirstParam;
    for (int index : FKeyFields)
        BindValue(AStmt, param++, ARecord.Values[static_cast<std::size_t>(index)], Fields()[index]);
}

void TSQLiteTable::CheckOneRow() {
    if (sqlite3_changes(Connection()->Handle()) == 0)
        Error("Record not found or changed by another user");
}

void TSQLiteTable::InternalPost(TDataRecord& ARecord, const TDataRecord* AOld) {
    TSQLiteConnection& connection = OpenConnection();
    const int count = FieldCount();
    if (AOld == nullptr) {
        // Only the columns given a value, so the others get the table's defaults.
        std::string columns, values;
        std::vector<int> given;
        for (int i = 0; i < count; ++i) {
            if (ARecord.Values[static_cast<std::size_t>(i)].IsAbsent())
                continue;
            given.push_back(i);
            if (!columns.empty()) {
                columns += ", ";
                values += ", ";
            }
            columns += QuoteIdent(Fields()[i]->FieldName());
            values += "?" + std::to_string(given.size());
        }
        const std::string sql = given.empty() ? "INSERT INTO " + FQuotedTable + " DEFAULT VALUES"
                                              : "INSERT INTO " + FQuotedTable + " (" + columns +
                                                    ") VALUES (" + values + ")";
        sqlite3_stmt* stmt = connection.Prepare(sql, this);
        TStatementReset reset(stmt);
        for (std::size_t p = 0; p < given.size(); ++p)
            BindValue(stmt, static_cast<int>(p) + 1,
                      ARecord.Values[static_cast<std::size_t>(given[p])], Fields()[given[p]]);
        Run(stmt);
        Reload(ARecord, sqlite3_last_insert_rowid(connection.Handle()));
        return;
    }
    // Only the columns that changed; the record is found by its old key. The statement for a
    // set of changed columns is built once per opening (keyed by their indexes).
    std::string& changed = FChanged;
    changed.clear();
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (!SameStored(ARecord.Values[at], AOld->Values[at]))
            changed.append(reinterpret_cast<const char*>(&i), sizeof i);
    }
    if (changed.empty())
        return;
    const auto changedCount = static_cast<int>(changed.size() / sizeof(int));
    auto changedAt = [&](int AIndex) {
        int index = 0;
        std::memcpy(&index, changed.data() + static_cast<std::size_t>(AIndex) * sizeof index,
                    sizeof index);
        return index;
    };
    sqlite3_stmt* stmt = FLastUpdate != nullptr && changed == FLastChanged ? FLastUpdate : nullptr;
    if (stmt == nullptr) {
        sqlite3_stmt*& cached = FUpdates[changed];
        if (cached == nullptr) {
            std::string assignments;
            for (int p = 0; p < changedCount; ++p) {
                if (!assignments.empty())
                    assignments += ", ";
                assignments += QuoteIdent(Fields()[changedAt(p)]->FieldName()) + " = ?" +
                               std::to_string(p + 1);
            }
            cached = connection.Prepare("UPDATE " + FQuotedTable + " SET " + assignments +
                                            " WHERE " + KeyCondition(changedCount + 1),
                                        this);
        }
        stmt = cached;
        FLastChanged = changed;
        FLastUpdate = stmt;
    }
    TStatementReset reset(stmt);
    for (int p = 0; p < changedCount; ++p) {
        const int field = changedAt(p);
        BindValue(stmt, p + 1, ARecord.Values[static_cast<std::size_t>(field)], Fields()[field]);
    }
    BindKey(stmt, changedCount + 1, *AOld);
    Run(stmt);
    CheckOneRow();
}

void TSQLiteTable::Reload(TDataRecord& ARecord, std::int64_t ARowId) {
    TSQLiteConnection& connection = OpenConnection();
    std::string sql = "SELECT " + FColumnList + " FROM " + FQuotedTable + " WHERE ";
    if (FHasRowId) {
        ARecord.Key = ARowId;
        sql += "rowid = ?1";
    } else {
        sql += KeyCondition(1);
    }
    sqlite3_stmt* stmt = connection.Prepare(sql, this);
    TStatementReset reset(stmt);
    if (FHasRowId)
        sqlite3_bind_int64(stmt, 1, ARowId);
    else
        BindKey(stmt, 1, ARecord);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        for (int i = 0; i < FieldCount(); ++i)
            ARecord.Values[static_cast<std::size_t>(i)] = ColumnValue(stmt, i, Fields()[i]);
    } else if (rc != SQLITE_DONE) {
        connection.RaiseError(this);
    }
}

void TSQLiteTable::InternalDelete(const TDataRecord& ARecord) {
    TSQLiteConnection& connection = OpenConnection();
    sqlite3_stmt* stmt =
        connection.Prepare("DELETE FROM " + FQuotedTable + " WHERE " + KeyCondition(1), this);
    TStatementReset reset(stmt);
    BindKey(stmt, 1, ARecord);
    Run(stmt);
    CheckOneRow();
}

// ---- TSQLiteQuery ---------------------------------------------------------------------------

TSQLiteQuery::TSQLiteQuery(TComponent* AOwner)
    : TSQLiteDataSet(AOwner)
    , FSQL(std::make_unique<TStringList>()) {
    FSQL->SetOnChange(TNotifyEvent(this, &TSQLiteQuery::SQLChanged));
}

TSQLiteQuery::~TSQLiteQuery() {
    CloseForDestroy();
    FSQL->SetOnChange(nullptr);
}

void TSQLiteQuery::SetSQL(TStrings* AValue) {
    if (AValue != nullptr)
        FSQL->Assign(AValue);
    else
        FSQL->Clear();
}

void TSQLiteQuery::SQLChanged(TObject* ASender) {
    (void)ASender;
    if (!ComponentState().Contains(csLoading))
        Close();
}

void TSQLiteQuery::ExecSQL() {
    TSQLiteConnection& connection = OpenConnection();
    const std::string sql = FSQL->Text();
    char* message = nullptr;
    if (sqlite3_exec(connection.Handle(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message != nullptr ? message : sqlite3_errmsg(connection.Handle());
        sqlite3_free(message);
        Error(text);
    }
    FRowsAffected = sqlite3_changes(connection.Handle());
}

void TSQLiteQuery::InternalOpen() {
    ReadRows(true);
}

void TSQLiteQuery::InternalRefresh() {
    ClearRecords();
    ReadRows(false);
}

void TSQLiteQuery::ReadRows(bool ADefineFields) {
    TSQLiteConnection& connection = OpenConnection();
    const std::string sql = FSQL->Text();
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(connection.Handle(), sql.c_str(), static_cast<int>(sql.size()), &raw,
                           &tail) != SQLITE_OK)
        connection.RaiseError(this);
    TOwnedStatement stmt(raw);
    if (raw == nullptr)
        Error("No SQL statement");
    if (tail != nullptr && std::any_of(tail, sql.c_str() + sql.size(), [](char c) {
            return c != ' ' && c != '\r' && c != '\n' && c != '\t' && c != ';';
        }))
        Error("SQL holds more than one statement");
    const int columns = sqlite3_column_count(raw);
    if (columns == 0)
        Error("SQL statement returns no result set");
    int rc = sqlite3_step(raw);
    if (ADefineFields) {
        // Declared types where the column comes from a table, else the first row's values.
        for (int i = 0; i < columns; ++i) {
            const char* decl = sqlite3_column_decltype(raw, i);
            TFieldType type = ftString;
            if (decl != nullptr)
                type = FieldTypeOfDecl(decl);
            else if (rc == SQLITE_ROW && sqlite3_column_type(raw, i) == SQLITE_INTEGER)
                type = ftInteger;
            else if (rc == SQLITE_ROW && sqlite3_column_type(raw, i) == SQLITE_FLOAT)
                type = ftFloat;
            AddField(sqlite3_column_name(raw, i), type);
        }
    }
    for (; rc == SQLITE_ROW; rc = sqlite3_step(raw)) {
        TDataRecord record;
        record.Values.reserve(static_cast<std::size_t>(columns));
        for (int i = 0; i < columns; ++i)
            record.Values.push_back(ColumnValue(raw, i, i < FieldCount() ? Fields()[i] : nullptr));
        AddRecord(std::move(record));
    }
    if (rc != SQLITE_DONE)
        connection.RaiseError(this);
}

void TSQLiteQuery::InternalPost(TDataRecord& ARecord, const TDataRecord* AOld) {
    (void)ARecord;
    (void)AOld;
    Error(SDataSetReadOnly);
}

void TSQLiteQuery::InternalDelete(const TDataRecord& ARecord) {
    (void)ARecord;
    Error(SDataSetReadOnly);
}

// ---- Published members ----------------------------------------------------------------------

const TClassInfo& TSQLiteConnection::StaticClassInfo() {
    using T = TSQLiteConnection;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TSQLiteConnection", &TComponent::StaticClassInfo())
            .Component()
            .String("DatabaseName", &T::DatabaseName, &T::SetDatabaseName)
            .Integer("BusyTimeout", &T::BusyTimeout, &T::SetBusyTimeout, 0)
            .Bool("Connected", &T::Connected, &T::SetConnected, false)
            .Build();
    return info;
}

const TClassInfo& TSQLiteDataSet::StaticClassInfo() {
    using T = TSQLiteDataSet;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TSQLiteDataSet", &TDataSet::StaticClassInfo())
            .Object("Connection", &T::Connection, &T::SetConnection)
            .Build();
    return info;
}

const TClassInfo& TSQLiteTable::StaticClassInfo() {
    using T = TSQLiteTable;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TSQLiteTable", &TSQLiteDataSet::StaticClassInfo())
            .Component()
            .String("TableName", &T::TableName, &T::SetTableName)
            .Build();
    return info;
}

const TClassInfo& TSQLiteQuery::StaticClassInfo() {
    using T = TSQLiteQuery;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TSQLiteQuery", &TSQLiteDataSet::StaticClassInfo())
            .Component()
            .Strings("SQL", &T::SQL, &T::SetSQL)
            .Build();
    return info;
}

} // namespace host
