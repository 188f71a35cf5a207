// tests/monitors/LogDSTest.cpp - TJexDatasetLog on a real SQLite database: the lines it
// writes per notification, its filter and events, the INSERT and UPDATE statements it builds,
// the table-name rule, and its data source coming and going.
#include "monitors/LogDS.h"

#include "host/data/MemDS.h"
#include "host/data/SQLiteTables.h"
#include "tests/support/Raises.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace host;
using namespace jex;
using jex::test::ReadFileBytes;
using jex::test::TempDir;

namespace {

// The notification part of each line, after the date and time ("dbeRecordChanged qty:7").
std::vector<std::string> Notifications(const std::string& ALog) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < ALog.size()) {
        const std::size_t end = ALog.find("\r\n", start);
        const std::string line = ALog.substr(start, end - start);
        const std::size_t name = line.find(" dbe");
        lines.push_back(name == std::string::npos ? "(no notification) " + line
                                                  : line.substr(name + 1));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return lines;
}

using TLines = std::vector<std::string>;

class TJexDatasetLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        FForm.reset(Create<TComponent>(nullptr));
        FConnection = Create<TSQLiteConnection>(FForm.get());
        FConnection->SetDatabaseName(FDir.File("shop.db"));
        FConnection->ExecSQL(
            "BEGIN;"
            "CREATE TABLE CUSTOMER (CUSTNO INTEGER PRIMARY KEY, NAME TEXT, \"CITY CODE\" INTEGER);"
            "INSERT INTO CUSTOMER VALUES (1356, 'Ann', 1), (1357, 'Bob', 4), (1358, 'Cid', 5),"
            " (1359, 'Dan', 6), (1360, 'Eve', 7);"
            "CREATE TABLE T (ID INTEGER PRIMARY KEY, A INTEGER, B INTEGER, C TEXT);"
            "COMMIT");
        FTable = Table("CUSTOMER");
        FSource = Create<TDataSource>(FForm.get());
        FSource->SetDataSet(FTable);
        FLog = Create<TJexDatasetLog>(FForm.get());
        FLog->SetLogFile(FDir.File("data.log"));
        FLog->SetActive(true);
        FLog->SetOnSQLStatement(TJexLSQLStatementEvent::FromCallable(
            [this](TObject*, const std::string& ASQL) { FStatements.push_back(ASQL); }));
    }

    void TearDown() override { FForm.reset(); }

    TSQLiteTable* Table(const std::string& AName) {
        auto* table = Create<TSQLiteTable>(FForm.get());
        table->SetConnection(FConnection);
        table->SetTableName(AName);
        return table;
    }

    // Watches FSource and forgets the line that assignment writes.
    void Watch() {
        FLog->SetDataSource(FSource);
        std::filesystem::remove(FLog->LogFile());
    }

    TLines Logged() const { return Notifications(ReadFileBytes(FLog->LogFile())); }

    TempDir FDir;
    std::unique_ptr<TComponent> FForm;
    TSQLiteConnection* FConnection = nullptr;
    TSQLiteTable* FTable = nullptr;
    TDataSource* FSource = nullptr;
    TJexDatasetLog* FLog = nullptr;
    std::vector<std::string> FStatements;
};

} // namespace

TEST_F(TJexDatasetLogTest, NewLoggerLetsEveryNotificationThroughAndWatchesNothing) {
    std::unique_ptr<TJexDatasetLog> log(Create<TJexDatasetLog>(nullptr));
    EXPECT_FALSE(log->Active());
    EXPECT_EQ(log->FilterEvents().Bits(), 127u);
    EXPECT_EQ(log->DataSource(), nullptr);
    EXPECT_EQ(GetSetProp(log.get(), "FilterEvents"),
              "dbeActiveChanged,dbeEditingChanged,dbeDataSetChanged,dbeDataSetScrolled,"
              "dbeLayoutChanged,dbeRecordChanged,dbeUpdateData");
}

TEST_F(TJexDatasetLogTest, OneLinePerNotificationOfAnEditSession) {
    const TDateTime before = Now();
    FLog->SetDataSource(FSource);
    const TDateTime after = Now();
    const std::string first = ReadFileBytes(FLog->LogFile());
    // The line opens with the local date and time in the "c" format.
    EXPECT_TRUE(first == FormatDateTime("c", before) + " dbeActiveChanged\r\n" ||
                first == FormatDateTime("c", after) + " dbeActiveChanged\r\n")
        << first;
    std::filesystem::remove(FLog->LogFile());

    FTable->Open();
    FTable->MoveBy(3);
    FTable->Edit();
    FTable->FieldByName("NAME")->SetAsString("Dana");
    FTable->Post();
    FTable->Insert();
    FTable->Cancel();
    FTable->Delete();
    FTable->Close();
    EXPECT_EQ(Logged(), (TLines{"dbeActiveChanged", "dbeDataSetScrolled", "dbeEditingChanged",
                                "dbeRecordChanged", "dbeRecordChanged NAME:Dana", "dbeUpdateData",
                                "dbeEditingChanged", "dbeDataSetChanged", "dbeEditingChanged",
                                "dbeDataSetChanged", "dbeEditingChanged", "dbeDataSetChanged",
                                "dbeDataSetChanged", "dbeActiveChanged"}));
    // The record the edit started with is the key's, unchanged: only NAME is named.
    ASSERT_EQ(FStatements.size(), 1u);
    EXPECT_EQ(FStatements[0],
              "UPDATE CUSTOMER\r\nSET\r\n  NAME=\"Dana\"\r\nWHERE\r\n  (NAME=\"Dan\")");
}

TEST_F(TJexDatasetLogTest, FilteredNotificationsAreNeitherLoggedNorDescribed) {
    Watch();
    FLog->SetFilterEvents({dbeRecordChanged, dbeEditingChanged});
    FTable->Open();
    FTable->Edit();
    FTable->FieldByName("CUSTNO")->SetAsInteger(99);
    FTable->Post();
    EXPECT_EQ(Logged(), (TLines{"dbeEditingChanged", "dbeRecordChanged",
                                "dbeRecordChanged CUSTNO:99", "dbeEditingChanged"}));
    EXPECT_TRUE(FStatements.empty()); // dbeUpdateData is filtered out
    FLog->SetFilterEvents({});
    std::filesystem::remove(FLog->LogFile());
    FTable->Edit();
    FTable->FieldByName("NAME")->SetAsString("x");
    FTable->Post();
    EXPECT_FALSE(std::filesystem::exists(FLog->LogFile()));
    EXPECT_TRUE(FStatements.empty());
}

TEST_F(TJexDatasetLogTest, InactiveOrDesigningLoggersStaySilent) {
    FLog->SetActive(false);
    FLog->SetDataSource(FSource);
    FTable->Open();
    EXPECT_FALSE(std::filesystem::exists(FLog->LogFile()));
    FLog->SetActive(true);
    FLog->SetDesigning(true);
    FTable->Next();
    EXPECT_FALSE(std::filesystem::exists(FLog->LogFile()));
    FLog->SetDesigning(false);
    FTable->Next();
    EXPECT_EQ(Logged(), (TLines{"dbeDataSetScrolled"}));
}

TEST_F(TJexDatasetLogTest, OnChangeSeesEachLineAndMayRewriteOrSuppressIt) {
    Watch();
    std::vector<std::string> seen;
    FLog->SetOnChange(TJexLDataChangeEvent::FromCallable(
        [&](TObject* ASender, TJexLDBTypeEvent AState, TField* AField, std::string& ALogText) {
            EXPECT_EQ(ASender, FLog);
            seen.push_back(DBTypeEventName(AState) + (AField ? "/" + AField->FieldName() : ""));
            if (AState == dbeDataSetScrolled)
                ALogText = "moved\r\n";
            else
                ALogText.clear();
        }));
    FTable->Open();
    FTable->Next();
    FTable->Edit();
    FTable->FieldByName("NAME")->SetAsString("B.");
    EXPECT_EQ(seen, (std::vector<std::string>{"dbeActiveChanged", "dbeDataSetScrolled",
                                              "dbeEditingChanged", "dbeRecordChanged",
                                              "dbeRecordChanged/NAME"}));
    EXPECT_EQ(ReadFileBytes(FLog->LogFile()), "moved\r\n");
}

TEST_F(TJexDatasetLogTest, WithoutLogFileTheEventsStillFire) {
    FLog->SetLogFile("");
    int changes = 0;
    FLog->SetOnChange(TJexLDataChangeEvent::FromCallable(
        [&](TObject*, TJexLDBTypeEvent, TField*, std::string&) { ++changes; }));
    FLog->SetDataSource(FSource);
    FTable->Open();
    FTable->Edit();
    FTable->FieldByName("NAME")->SetAsString("Anne");
    FTable->Post();
    EXPECT_EQ(changes, 8);
    EXPECT_EQ(FStatements.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(FDir.File("data.log")));
}

TEST_F(TJexDatasetLogTest, AnEditWithoutChangeBuildsNoStatement) {
    Watch();
    FTable->Open();
    FTable->Edit();
    FTable->FieldByName("NAME")->SetAsString("Ann");
    FTable->Post();
    EXPECT_TRUE(FStatements.empty());
    EXPECT_EQ(Logged().size(), 7u);
}

TEST_F(TJexDatasetLogTest, InsertStatementNamesTheFieldsThatWereSet) {
    TSQLiteTable* t = Table("T");
    FSource->SetDataSet(t);
    Watch();
    t->Open();
    t->Append();
    t->FieldByName("A")->SetAsInteger(1);
    t->FieldByName("B")->SetAsInteger(2);
    t->Post();
    ASSERT_EQ(FStatements.size(), 1u);
    EXPECT_EQ(FStatements[0], "INSERT INTO T\r\n  (A, B)\r\nVALUES\r\n  (\"1\", \"2\")");
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 1); // written, and read back with its key
}

TEST_F(TJexDatasetLogTest, UpdateStatementQuotesNamesWithASpace) {
    Watch();
    FTable->Open();
    FTable->Edit();
    FTable->FieldByName("NAME")->SetAsString("Anna");
    FTable->FieldByName("CITY CODE")->SetAsInteger(2);
    FTable->Post();
    ASSERT_EQ(FStatements.size(), 1u);
    EXPECT_EQ(FStatements[0], "UPDATE CUSTOMER\r\n"
                              "SET\r\n"
                              "  NAME=\"Anna\", \"CITY CODE\"=\"2\"\r\n"
                              "WHERE\r\n"
                              "  (NAME=\"Ann\") AND (\"CITY CODE\"=\"1\")");
}

TEST_F(TJexDatasetLogTest, DoubleQuotesInsideValuesAndNamesAreDoubled) {
    FConnection->ExecSQL("CREATE TABLE parts (id INTEGER PRIMARY KEY, \"size\"\"in\" TEXT);"
                         "INSERT INTO parts VALUES (1, '4\" pipe')");
    TSQLiteTable* parts = Table("parts");
    FSource->SetDataSet(parts);
    Watch();
    parts->Open();
    parts->Edit();
    parts->FieldByName("size\"in")->SetAsString("5\" pipe\", 1=1 --");
    parts->Post();
    ASSERT_EQ(FStatements.size(), 1u);
    EXPECT_EQ(FStatements[0],
              "UPDATE parts\r\nSET\r\n  \"size\"\"in\"=\"5\"\" pipe\"\", 1=1 --\"\r\n"
              "WHERE\r\n  (\"size\"\"in\"=\"4\"\" pipe\")");
}

TEST_F(TJexDatasetLogTest, TableNameComesFromTableNameOrTheSQLText) {
    EXPECT_EQ(TJexDatasetLog::TableNameOf(nullptr), "");
    EXPECT_EQ(TJexDatasetLog::TableNameOf(FTable), "CUSTOMER");
    auto* query = Create<TSQLiteQuery>(FForm.get());
    query->SQL()->SetText("select * from orders o where o.id=1");
    EXPECT_EQ(TJexDatasetLog::TableNameOf(query), "orders");
    query->SQL()->SetText("SELECT * FROM main.orders");
    EXPECT_EQ(TJexDatasetLog::TableNameOf(query), "main");
    query->SQL()->SetText("SELECT *\r\nFROM customers\r\n");
    EXPECT_EQ(TJexDatasetLog::TableNameOf(query), "customers");
    query->SQL()->SetText("select 1.5");
    EXPECT_EQ(TJexDatasetLog::TableNameOf(query), "select 1");
    auto* memory = Create<TMemDataSet>(FForm.get());
    memory->SetTableName("orders.db");
    EXPECT_EQ(TJexDatasetLog::TableNameOf(memory), "orders");
}

TEST_F(TJexDatasetLogTest, AStatementIsBuiltEvenWithoutATableName) {
    auto* memory = Create<TMemDataSet>(FForm.get());
    memory->FieldDefs()->Add("qty", ftInteger);
    memory->Open();
    FSource->SetDataSet(memory);
    Watch();
    memory->Insert();
    memory->FieldByName("qty")->SetAsInteger(3);
    memory->Post();
    ASSERT_EQ(FStatements.size(), 1u);
    EXPECT_EQ(FStatements[0], "INSERT INTO \r\n  (qty)\r\nVALUES\r\n  (\"3\")");
}

TEST_F(TJexDatasetLogTest, RemovingTheDataSourceWatchesNoneAndSaysSo) {
    Watch();
    FTable->Open();
    std::filesystem::remove(FLog->LogFile());
    FForm->RemoveComponent(FSource);
    std::unique_ptr<TDataSource> removed(FSource);
    EXPECT_EQ(FLog->DataSource(), nullptr);
    // The link leaving an open source, then the logger's own report.
    EXPECT_EQ(Logged(), (TLines{"dbeActiveChanged", "dbeActiveChanged"}));
}

TEST_F(TJexDatasetLogTest, ADestroyedDataSourceLeavesNoDanglingLink) {
    auto other = std::unique_ptr<TComponent>(Create<TComponent>(nullptr));
    auto* source = Create<TDataSource>(other.get());
    source->SetDataSet(FTable);
    FLog->SetDataSource(source);
    FTable->Open();
    std::filesystem::remove(FLog->LogFile());
    other.reset(); // another form's source goes first
    EXPECT_EQ(FLog->DataSource(), nullptr);
    EXPECT_EQ(Logged(), (TLines{"dbeActiveChanged"}));
    FTable->Next(); // reaches no logger
    EXPECT_EQ(Logged().size(), 1u);
}

TEST_F(TJexDatasetLogTest, ALoggerDestroyedWhileWatchingHearsNothingMore) {
    Watch();
    FTable->Open();
    const std::string path = FLog->LogFile();
    delete FLog;
    FTable->Next();
    FTable->Close();
    EXPECT_EQ(Notifications(ReadFileBytes(path)), (TLines{"dbeActiveChanged"}));
}

TEST_F(TJexDatasetLogTest, AFailedWriteReachesTheDataSetOperation) {
    Watch();
    FTable->Open();
    FLog->SetLogFile(FDir.File("no/such/folder/data.log"));
    EXPECT_THROW(FTable->Next(), EStreamError);
    FLog->SetLogFile(FDir.File("data.log"));
    FTable->Next();
    EXPECT_EQ(FTable->RecNo(), 3);
}

// ---- Stored forms --------------------------------------------------------------------------

namespace {

class TOrdersForm : public TComponent {
    JEX_CLASS(TOrdersForm)

public:
    using TComponent::TComponent;
};

const TClassInfo& TOrdersForm::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TOrdersForm>("TOrdersForm", &TComponent::StaticClassInfo())
            .Component()
            .Build();
    return info;
}

} // namespace

TEST_F(TJexDatasetLogTest, AStoredLoggerFindsItsSourceAndLogsNothingWhileLoading) {
    RegisterClass(TOrdersForm::StaticClassInfo());
    const std::string path = FDir.File("stored.log");
    const std::string text = "object frmOrders: TOrdersForm\r\n"
                             "  object Orders: TMemDataSet\r\n"
                             "    TableName = 'orders'\r\n"
                             "    FieldDefs = <\r\n"
                             "      item\r\n"
                             "        Name = 'qty'\r\n"
                             "        DataType = ftInteger\r\n"
                             "      end>\r\n"
                             "  end\r\n"
                             "  object dsOrders: TDataSource\r\n"
                             "    DataSet = Orders\r\n"
                             "  end\r\n"
                             "  object OrdersLog: TJexDatasetLog\r\n"
                             "    Active = True\r\n"
                             "    LogFile = '" +
                             path +
                             "'\r\n"
                             "    DataSource = dsOrders\r\n"
                             "    FilterEvents = [dbeActiveChanged, dbeRecordChanged]\r\n"
                             "  end\r\n"
                             "end\r\n";
    std::unique_ptr<TComponent> form(ReadComponentFromText(text));
    auto* log = dynamic_cast<TJexDatasetLog*>(form->FindComponent("OrdersLog"));
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->DataSource(), form->FindComponent("dsOrders"));
    EXPECT_EQ(log->FilterEvents(), (TJexLDBTypeEvents{dbeActiveChanged, dbeRecordChanged}));
    EXPECT_FALSE(std::filesystem::exists(path));
    auto* orders = dynamic_cast<TMemDataSet*>(form->FindComponent("Orders"));
    orders->Open();
    orders->Insert();
    orders->FieldByName("qty")->SetAsInteger(4);
    EXPECT_EQ(Notifications(ReadFileBytes(path)),
              (TLines{"dbeActiveChanged", "dbeRecordChanged qty:4"}));
    EXPECT_NE(
        WriteComponentToText(form.get())
            .find("    DataSource = dsOrders\r\n"
                  "    FilterEvents = [dbeActiveChanged, dbeRecordChanged]\r\n  end\r\nend\r\n"),
        std::string::npos);
}

TEST_F(TJexDatasetLogTest, ANotificationLetThroughAgainIsLoggedAgain) {
    Watch();
    FLog->SetFilterEvents({});
    FTable->Open();
    FTable->Next();
    EXPECT_FALSE(std::filesystem::exists(FLog->LogFile()));
    FLog->SetFilterEvents({dbeDataSetScrolled});
    FTable->Next();
    FLog->SetActive(false);
    FTable->Next();
    FLog->SetActive(true);
    FTable->Edit(); // filtered out
    FTable->Cancel();
    FTable->Next();
    EXPECT_EQ(Logged(), (TLines{"dbeDataSetScrolled", "dbeDataSetScrolled"}));
}

namespace {

// A logger of its own that counts what reaches UpdateStatus, whatever it then writes.
class TCountingDatasetLog : public TJexDatasetLog {
public:
    using TJexDatasetLog::TJexDatasetLog;

    int Heard = 0;

    void UpdateStatus(TJexLDBTypeEvent AState, TField* AField) override {
        ++Heard;
        TJexDatasetLog::UpdateStatus(AState, AField);
    }
};

} // namespace

TEST_F(TJexDatasetLogTest, ADescendantsUpdateStatusHearsEveryNotificationEvenWhenInactive) {
    auto* log = Create<TCountingDatasetLog>(FForm.get());
    log->SetLogFile(FDir.File("counted.log"));
    log->SetFilterEvents({});
    log->SetDataSource(FSource);
    FTable->Open();
    const int opened = log->Heard;
    FTable->Next();
    FTable->Next();
    EXPECT_EQ(log->Heard, opened + 2);
    EXPECT_FALSE(std::filesystem::exists(log->LogFile()));
}

// ---- Handlers that raise --------------------------------------------------------------------

namespace {

// The name stored for customer ACustNo, read past the data set through a query of its own.
std::string StoredName(TComponent* AOwner, TSQLiteConnection* AConnection, int ACustNo) {
    auto* query = Create<TSQLiteQuery>(AOwner);
    query->SetConnection(AConnection);
    query->SQL()->SetText("SELECT NAME FROM CUSTOMER WHERE CUSTNO=" + std::to_string(ACustNo));
    query->Open();
    const std::string name = query->FieldByName("NAME")->AsString();
    delete query;
    return name;
}

std::size_t CountOf(const TLines& ALines, const std::string& ALine) {
    return static_cast<std::size_t>(std::count(ALines.begin(), ALines.end(), ALine));
}

} // namespace

TEST_F(TJexDatasetLogTest, AHandlerThatRaisesDuringAPostKeepsTheEditAndTheRetryIsLoggedOnce) {
    for (const bool inStatement : {true, false}) {
        SCOPED_TRACE(inStatement ? "OnSQLStatement raises" : "OnChange raises");
        bool raise = true;
        const auto failOnce = [&raise] {
            if (std::exchange(raise, false))
                throw EDatabaseError("handler failed");
        };
        FStatements.clear();
        FLog->SetOnSQLStatement(TJexLSQLStatementEvent::FromCallable(
            [&, inStatement](TObject*, const std::string& ASQL) {
                if (inStatement)
                    failOnce();
                FStatements.push_back(ASQL);
            }));
        FLog->SetOnChange(TJexLDataChangeEvent::FromCallable(
            [&, inStatement](TObject*, TJexLDBTypeEvent AState, TField*, std::string&) {
                if (!inStatement && AState == dbeUpdateData)
                    failOnce();
            }));
        const std::string name = inStatement ? "Anna" : "Anne";
        FTable->Open();
        Watch();
        FTable->Edit();
        FTable->FieldByName("NAME")->SetAsString(name);
        EXPECT_EQ(jex::test::MessageOf<EDatabaseError>([&] { FTable->Post(); }), "handler failed");
        // Nothing was stored and nothing was lost: the record is still being edited.
        EXPECT_EQ(FTable->State(), dsEdit);
        EXPECT_EQ(FTable->FieldByName("NAME")->AsString(), name);
        EXPECT_EQ(StoredName(FForm.get(), FConnection, 1356), inStatement ? "Ann" : "Anna");
        EXPECT_EQ(CountOf(Logged(), "dbeUpdateData"), 0u);

        FTable->Post();
        EXPECT_EQ(FTable->State(), dsBrowse);
        EXPECT_EQ(StoredName(FForm.get(), FConnection, 1356), name);
        EXPECT_EQ(CountOf(Logged(), "dbeUpdateData"), 1u);
        // Each attempt is described once: the failed one too when OnChange raised after it.
        EXPECT_EQ(FStatements.size(), inStatement ? 1u : 2u);
        FTable->Close();
    }
}

TEST_F(TJexDatasetLogTest, AnOnChangeThatRaisesReachesTheOperationAndTheNextNotificationIsLogged) {
    int raised = 0;
    FLog->SetOnChange(TJexLDataChangeEvent::FromCallable(
        [&](TObject*, TJexLDBTypeEvent AState, TField*, std::string&) {
            if (AState == dbeDataSetScrolled && raised++ == 0)
                throw EDatabaseError("handler failed");
        }));
    FTable->Open();
    Watch();
    EXPECT_EQ(jex::test::MessageOf<EDatabaseError>([&] { FTable->Next(); }), "handler failed");
    // The move itself happened; only its line is missing, as the handler asked.
    EXPECT_EQ(FTable->RecNo(), 2);
    EXPECT_FALSE(std::filesystem::exists(FLog->LogFile()));
    FTable->Next();
    FTable->Edit();
    FTable->FieldByName("NAME")->SetAsString("Cyd");
    FTable->Post();
    EXPECT_EQ(FTable->RecNo(), 3);
    EXPECT_EQ(Logged(), (TLines{"dbeDataSetScrolled", "dbeEditingChanged", "dbeRecordChanged",
                                "dbeRecordChanged NAME:Cyd", "dbeUpdateData", "dbeEditingChanged",
                                "dbeDataSetChanged"}));
}
