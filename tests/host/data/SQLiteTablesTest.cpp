// tests/host/data/SQLiteTablesTest.cpp - SQLite data sets on real database files: writing
// through, keys, defaults, SQLite's errors without half-written records, queries, and stored
// forms.
#include "host/data/SQLiteTables.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <sqlite3.h>
#include <string>
#include <unistd.h>

using namespace host;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

namespace {

// A second, independent connection to the same file, to see what is really stored and to
// lock the database from outside.
class TRawDatabase {
public:
    explicit TRawDatabase(const std::string& APath) { sqlite3_open(APath.c_str(), &FDb); }

    ~TRawDatabase() { sqlite3_close(FDb); }

    TRawDatabase(const TRawDatabase&) = delete;
    TRawDatabase& operator=(const TRawDatabase&) = delete;

    void Exec(const std::string& ASQL) {
        ASSERT_EQ(sqlite3_exec(FDb, ASQL.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(FDb);
    }

    // Every row of ASQL, columns joined by "|", rows by ";" (NULL as "NULL").
    std::string Rows(const std::string& ASQL) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(FDb, ASQL.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            return sqlite3_errmsg(FDb);
        std::string rows;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            if (!rows.empty())
                rows += ";";
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                if (i > 0)
                    rows += "|";
                const auto* text = sqlite3_column_text(stmt, i);
                rows += text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
            }
        }
        sqlite3_finalize(stmt);
        return rows;
    }

private:
    sqlite3* FDb = nullptr;
};

class TSQLiteTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        FOwner.reset(Create<TComponent>(nullptr));
        FConnection = Create<TSQLiteConnection>(FOwner.get());
        FConnection->SetName("Db");
        FConnection->SetDatabaseName(Path());
        FConnection->ExecSQL(
            "CREATE TABLE orders (id INTEGER PRIMARY KEY, item TEXT NOT NULL UNIQUE,"
            " qty INTEGER DEFAULT 1 CHECK (qty >= 0), price REAL, shipped BOOLEAN,"
            " due DATETIME);"
            "INSERT INTO orders (id, item, qty, price) VALUES (1, 'pipe', 2, 9.5),"
            " (2, 'valve', 5, 12.25);");
        FTable = Table("orders");
    }

    std::string Path() const { return FDir.File("shop.db"); }

    TSQLiteTable* Table(const std::string& AName) {
        auto* table = Create<TSQLiteTable>(FOwner.get());
        table->SetName("Orders" + std::to_string(++FTables));
        table->SetConnection(FConnection);
        table->SetTableName(AName);
        return table;
    }

    template <typename F>
    static std::string DatabaseMessage(F AFunc) {
        try {
            AFunc();
        } catch (const EDatabaseError& e) {
            return e.Message();
        }
        return "(nothing raised)";
    }

    TempDir FDir;
    std::unique_ptr<TComponent> FOwner;
    TSQLiteConnection* FConnection = nullptr;
    TSQLiteTable* FTable = nullptr;
    int FTables = 0;
};

} // namespace

TEST_F(TSQLiteTableTest, OpensWithTypedFieldsFromTheDeclaredTypes) {
    FTable->Open();
    ASSERT_EQ(FTable->FieldCount(), 6);
    EXPECT_EQ(FTable->FieldByName("id")->DataType(), ftInteger);
    EXPECT_EQ(FTable->FieldByName("item")->DataType(), ftString);
    EXPECT_TRUE(FTable->FieldByName("item")->Required());
    EXPECT_EQ(FTable->FieldByName("price")->DataType(), ftFloat);
    EXPECT_EQ(FTable->FieldByName("shipped")->DataType(), ftBoolean);
    EXPECT_EQ(FTable->FieldByName("due")->DataType(), ftDateTime);
    EXPECT_EQ(FTable->RecordCount(), 2);
    EXPECT_EQ(FTable->FieldByName("item")->AsString(), "pipe");
    EXPECT_DOUBLE_EQ(FTable->FieldByName("price")->AsFloat(), 9.5);
    EXPECT_TRUE(FTable->FieldByName("shipped")->IsNull());
}

TEST_F(TSQLiteTableTest, PostWritesOnlyTheChangedColumnsOfThatRecord) {
    FTable->Open();
    FTable->Next();
    FTable->Edit();
    FTable->FieldByName("qty")->SetAsInteger(7);
    FTable->FieldByName("shipped")->SetAsBoolean(true);
    FTable->FieldByName("due")->SetAsDateTime(EncodeDate(2026, 12, 24) + EncodeTime(9, 0, 0, 0));
    TRawDatabase raw(Path());
    raw.Exec("UPDATE orders SET price = 13 WHERE id = 2"); // a change the edit did not touch
    FTable->Post();
    EXPECT_EQ(raw.Rows("SELECT * FROM orders ORDER BY id"),
              "1|pipe|2|9.5|NULL|NULL;2|valve|7|13.0|1|2026-12-24 09:00:00");
    FTable->Close();
    FTable->Open();
    FTable->Last();
    EXPECT_EQ(FTable->FieldByName("due")->AsString(), "12/24/2026 9:00:00 AM");
    EXPECT_TRUE(FTable->FieldByName("shipped")->AsBoolean());
}

TEST_F(TSQLiteTableTest, InsertedRecordsShowTheDefaultsAndTheAssignedKey) {
    FTable->Open();
    FTable->Append();
    FTable->FieldByName("item")->SetAsString("5\" pipe, \"brass\"");
    FTable->Post();
    EXPECT_EQ(FTable->FieldByName("id")->AsInteger(), 3);
    EXPECT_EQ(FTable->FieldByName("qty")->AsInteger(), 1);
    TRawDatabase raw(Path());
    EXPECT_EQ(raw.Rows("SELECT id, item, qty FROM orders WHERE id = 3"), "3|5\" pipe, \"brass\"|1");
    FTable->Delete();
    EXPECT_EQ(raw.Rows("SELECT count(*) FROM orders"), "2");
}

TEST_F(TSQLiteTableTest, TablesWithoutKeyUseTheRowidAndCompositeKeysWork) {
    FConnection->ExecSQL("CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('a'), ('a');"
                         "CREATE TABLE \"odd \"\"name\" (k1 TEXT, k2 INTEGER, v TEXT,"
                         " PRIMARY KEY (k2, k1)) WITHOUT ROWID;"
                         "INSERT INTO \"odd \"\"name\" VALUES ('x', 1, 'one'), ('x', 2, 'two');");
    TSQLiteTable* notes = Table("notes");
    notes->Open();
    notes->Next();
    notes->Edit();
    notes->FieldByName("body")->SetAsString("b");
    notes->Post();
    TRawDatabase raw(Path());
    EXPECT_EQ(raw.Rows("SELECT body FROM notes ORDER BY rowid"), "a;b");

    TSQLiteTable* odd = Table("odd \"name");
    odd->Open();
    odd->Next();
    odd->Edit();
    odd->FieldByName("v")->SetAsString("deux");
    odd->Post();
    odd->Insert();
    odd->FieldByName("k1")->SetAsString("y");
    odd->FieldByName("k2")->SetAsInteger(1);
    odd->FieldByName("v")->SetAsString("new");
    odd->Post();
    odd->First();
    odd->Delete();
    EXPECT_EQ(raw.Rows("SELECT * FROM \"odd \"\"name\" ORDER BY k2, k1"), "y|1|new;x|2|deux");
}

TEST_F(TSQLiteTableTest, AFailedPostKeepsTheEditAndWritesNothing) {
    FTable->Open();
    FTable->Edit();
    FTable->FieldByName("item")->SetAsString("valve"); // UNIQUE
    FTable->FieldByName("qty")->SetAsInteger(3);
    EXPECT_EQ(DatabaseMessage([&] { FTable->Post(); }),
              "Orders1: UNIQUE constraint failed: orders.item");
    EXPECT_EQ(FTable->State(), dsEdit);
    EXPECT_EQ(FTable->FieldByName("item")->AsString(), "valve");
    EXPECT_EQ(FTable->FieldByName("qty")->AsInteger(), 3);
    TRawDatabase raw(Path());
    EXPECT_EQ(raw.Rows("SELECT item, qty FROM orders WHERE id = 1"), "pipe|2");
    FTable->FieldByName("qty")->SetAsInteger(-1);
    FTable->FieldByName("item")->SetAsString("pipe");
    EXPECT_EQ(DatabaseMessage([&] { FTable->Post(); }),
              "Orders1: CHECK constraint failed: qty >= 0");
    FTable->FieldByName("qty")->SetAsInteger(4);
    FTable->Post();
    EXPECT_EQ(raw.Rows("SELECT item, qty FROM orders WHERE id = 1"), "pipe|4");
}

TEST_F(TSQLiteTableTest, ALockedDatabaseFailsThePostUntilTheLockIsGone) {
    FTable->Open();
    FTable->Edit();
    FTable->FieldByName("qty")->SetAsInteger(8);
    {
        TRawDatabase other(Path());
        other.Exec("BEGIN EXCLUSIVE");
        EXPECT_EQ(DatabaseMessage([&] { FTable->Post(); }), "Orders1: database is locked");
        EXPECT_EQ(FTable->State(), dsEdit);
        other.Exec("ROLLBACK");
    }
    FTable->Post();
    TRawDatabase raw(Path());
    EXPECT_EQ(raw.Rows("SELECT qty FROM orders WHERE id = 1"), "8");
}

TEST_F(TSQLiteTableTest, AnInsertWhileAnotherProcessHoldsTheLockFailsClearlyAndIsKept) {
    FTable->Open();
    FConnection->SetBusyTimeout(50);
    int locked[2] = {-1, -1};
    int release[2] = {-1, -1};
    ASSERT_EQ(pipe(locked), 0);
    ASSERT_EQ(pipe(release), 0);
    jex::test::TChildProcess holder([&] {
        sqlite3* db = nullptr;
        if (sqlite3_open(Path().c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return 1;
        char byte = 1;
        if (write(locked[1], &byte, 1) != 1 || read(release[0], &byte, 1) != 1)
            return 2;
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return 0;
    });
    char byte = 0;
    ASSERT_EQ(read(locked[0], &byte, 1), 1) << "the other process could not lock";

    FTable->Append();
    FTable->FieldByName("item")->SetAsString("gasket");
    FTable->FieldByName("qty")->SetAsInteger(7);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(DatabaseMessage([&] { FTable->Post(); }), "Orders1: database is locked");
        EXPECT_EQ(FTable->State(), dsInsert);
        EXPECT_EQ(FTable->FieldByName("item")->AsString(), "gasket");
    }
    EXPECT_EQ(write(release[1], &byte, 1), 1);
    EXPECT_EQ(holder.Wait(), 0);
    for (const int end : {locked[0], locked[1], release[0], release[1]})
        close(end);

    // Once the lock is gone the kept record goes in, once.
    FTable->Post();
    EXPECT_EQ(FTable->State(), dsBrowse);
    TRawDatabase raw(Path());
    EXPECT_EQ(raw.Rows("SELECT count(*), qty FROM orders WHERE item = 'gasket'"), "1|7");
    EXPECT_EQ(raw.Rows("SELECT count(*) FROM orders"), "3");
}

TEST_F(TSQLiteTableTest, ARecordDeletedByAnotherUserIsReportedNotPassedOver) {
    FTable->Open();
    TRawDatabase raw(Path());
    raw.Exec("DELETE FROM orders WHERE id = 1");
    FTable->Edit();
    FTable->FieldByName("qty")->SetAsInteger(9);
    EXPECT_EQ(DatabaseMessage([&] { FTable->Post(); }),
              "Orders1: Record not found or changed by another user");
    EXPECT_EQ(FTable->State(), dsEdit);
    FTable->Cancel();
    EXPECT_EQ(DatabaseMessage([&] { FTable->Delete(); }),
              "Orders1: Record not found or changed by another user");
    EXPECT_EQ(FTable->RecordCount(), 2);
    FTable->Refresh();
    EXPECT_EQ(FTable->RecordCount(), 1);
}

TEST_F(TSQLiteTableTest, TransactionsCommitOrRollBack) {
    FTable->Open();
    FConnection->StartTransaction();
    EXPECT_TRUE(FConnection->InTransaction());
    FTable->Edit();
    FTable->FieldByName("qty")->SetAsInteger(100);
    FTable->Post();
    FConnection->Rollback();
    FTable->Refresh();
    EXPECT_EQ(FTable->FieldByName("qty")->AsInteger(), 2);
    FConnection->StartTransaction();
    FTable->Edit();
    FTable->FieldByName("qty")->SetAsInteger(100);
    FTable->Post();
    FConnection->Commit();
    EXPECT_FALSE(FConnection->InTransaction());
    TRawDatabase raw(Path());
    EXPECT_EQ(raw.Rows("SELECT qty FROM orders WHERE id = 1"), "100");
}

TEST_F(TSQLiteTableTest, DatabasesThatCannotBeOpenedGiveAClearError) {
    auto* bad = Create<TSQLiteConnection>(FOwner.get());
    bad->SetName("Bad");
    const std::string notADatabase = FDir.File("notes.txt");
    WriteFileBytes(notADatabase, "these are my notes, not a database file at all...........");
    bad->SetDatabaseName(notADatabase);
    EXPECT_EQ(DatabaseMessage([&] { bad->Open(); }),
              "Bad: Cannot open database " + notADatabase + ": file is not a database");
    EXPECT_FALSE(bad->Connected());
    const std::string missingFolder = FDir.File("no/such/folder.db");
    bad->SetDatabaseName(missingFolder);
    EXPECT_EQ(DatabaseMessage([&] { bad->Open(); }),
              "Bad: Cannot open database " + missingFolder + ": unable to open database file");
    bad->SetDatabaseName("");
    EXPECT_EQ(DatabaseMessage([&] { bad->Open(); }), "Bad: No database name");
    TSQLiteTable* missing = Table("nothing");
    EXPECT_EQ(DatabaseMessage([&] { missing->Open(); }), "Orders2: no such table: nothing");
    EXPECT_FALSE(missing->Active());
    auto* loose = Create<TSQLiteTable>(FOwner.get());
    EXPECT_EQ(DatabaseMessage([&] { loose->Open(); }), "No connection");
}

TEST_F(TSQLiteTableTest, ClosingOrDestroyingTheConnectionClosesItsTables) {
    FTable->Open();
    FConnection->Close();
    EXPECT_FALSE(FTable->Active());
    FTable->Open();
    delete FConnection;
    EXPECT_FALSE(FTable->Active());
    EXPECT_EQ(FTable->Connection(), nullptr);
}

// ---- Queries ----------------------------------------------------------------------------------

TEST_F(TSQLiteTableTest, AQueryReadsItsResultAndIsReadOnly) {
    auto* query = Create<TSQLiteQuery>(FOwner.get());
    query->SetName("Totals");
    query->SetConnection(FConnection);
    query->SQL()->Add("SELECT item, qty * price AS total, count(*) OVER () AS n");
    query->SQL()->Add("FROM orders ORDER BY id;");
    query->Open();
    ASSERT_EQ(query->FieldCount(), 3);
    EXPECT_EQ(query->FieldByName("total")->DataType(), ftFloat);
    EXPECT_EQ(query->FieldByName("n")->DataType(), ftInteger);
    EXPECT_EQ(query->FieldByName("total")->AsString(), "19");
    query->Next();
    EXPECT_EQ(query->FieldByName("item")->AsString(), "valve");
    EXPECT_EQ(DatabaseMessage([&] { query->Edit(); }), "Totals: Cannot modify a read-only dataset");
    EXPECT_EQ(DatabaseMessage([&] { query->Delete(); }),
              "Totals: Cannot modify a read-only dataset");
    // Changing the text closes the query.
    query->SQL()->Add("-- more");
    EXPECT_FALSE(query->Active());
}

TEST_F(TSQLiteTableTest, BadQueryTextsAreRefusedWithSQLitesMessage) {
    auto* query = Create<TSQLiteQuery>(FOwner.get());
    query->SetName("Q");
    query->SetConnection(FConnection);
    query->SQL()->SetText("SELEC * FROM orders");
    EXPECT_EQ(DatabaseMessage([&] { query->Open(); }), "Q: near \"SELEC\": syntax error");
    EXPECT_FALSE(query->Active());
    query->SQL()->SetText("SELECT 1; DROP TABLE orders");
    EXPECT_EQ(DatabaseMessage([&] { query->Open(); }), "Q: SQL holds more than one statement");
    query->SQL()->SetText("DELETE FROM orders WHERE id = 2");
    EXPECT_EQ(DatabaseMessage([&] { query->Open(); }), "Q: SQL statement returns no result set");
    TRawDatabase raw(Path());
    EXPECT_EQ(raw.Rows("SELECT count(*) FROM orders"), "2");
    query->ExecSQL();
    EXPECT_EQ(query->RowsAffected(), 1);
    EXPECT_EQ(raw.Rows("SELECT count(*) FROM orders"), "1");
}

// ---- Stored forms -----------------------------------------------------------------------------

namespace {

class TDataModule : public TComponent {
    JEX_CLASS(TDataModule)

public:
    using TComponent::TComponent;
};

const TClassInfo& TDataModule::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TDataModule>("TDataModule", &TComponent::StaticClassInfo())
            .Component()
            .Build();
    return info;
}

} // namespace

TEST_F(TSQLiteTableTest, ConnectionTableQueryAndSourceRoundTripThroughAStoredForm) {
    RegisterDBClasses();
    RegisterClass(TDataModule::StaticClassInfo());
    std::unique_ptr<TDataModule> module(Create<TDataModule>(nullptr));
    module->SetName("dmShop");
    auto* connection = Create<TSQLiteConnection>(module.get());
    connection->SetName("Shop");
    connection->SetDatabaseName(Path());
    auto* table = Create<TSQLiteTable>(module.get());
    table->SetName("tblOrders");
    table->SetConnection(connection);
    table->SetTableName("orders");
    table->Open();
    auto* query = Create<TSQLiteQuery>(module.get());
    query->SetName("qryOrders");
    query->SetConnection(connection);
    query->SQL()->SetText("select * from orders o\r\nwhere o.id=1");
    auto* source = Create<TDataSource>(module.get());
    source->SetName("dsOrders");
    source->SetDataSet(table);

    const std::string text = WriteComponentToText(module.get());
    EXPECT_NE(text.find("    DatabaseName = '" + Path() + "'\r\n"), std::string::npos) << text;
    EXPECT_NE(
        text.find("    Active = True\r\n    Connection = Shop\r\n    TableName = 'orders'\r\n"),
        std::string::npos)
        << text;
    EXPECT_NE(
        text.find("    SQL.Strings = (\r\n      'select * from orders o'\r\n      'where o.id=1')"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("    DataSet = tblOrders\r\n"), std::string::npos) << text;
    module.reset();

    std::unique_ptr<TComponent> back(ReadComponentFromText(text));
    auto* readTable = dynamic_cast<TSQLiteTable*>(back->FindComponent("tblOrders"));
    ASSERT_NE(readTable, nullptr);
    EXPECT_TRUE(readTable->Active());
    EXPECT_EQ(readTable->RecordCount(), 2);
    auto* readSource = dynamic_cast<TDataSource*>(back->FindComponent("dsOrders"));
    ASSERT_NE(readSource, nullptr);
    EXPECT_EQ(readSource->DataSet(), readTable);
    EXPECT_EQ(readSource->State(), dsBrowse);
    auto* readQuery = dynamic_cast<TSQLiteQuery*>(back->FindComponent("qryOrders"));
    ASSERT_NE(readQuery, nullptr);
    EXPECT_EQ(readQuery->SQL()->Text(), "select * from orders o\r\nwhere o.id=1\r\n");
}
