// examples/DataSetLogDemo.cpp - the demo's part for the dataset change logger.
//
// A form owns an SQLite connection, a table of orders, a data source and a TJexDatasetLog on
// it. The demo edits one order, adds one and deletes one; the logger writes a line for each
// notification to its log file and hands each posted change to OnSQLStatement as a statement.
#include "examples/DataSetLogDemo.h"

#include "host/data/SQLiteTables.h"
#include "monitors/LogDS.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace demo {

void DataSetLogDemo(const std::string& AFolder) {
    using namespace host;
    using namespace jex;
    const std::filesystem::path dir(AFolder);
    const std::string dbPath = (dir / "jexdemo-orders.db").string();
    const std::string logPath = (dir / "jexdemo-orders.log").string();
    std::filesystem::remove(dbPath);
    std::filesystem::remove(logPath);

    std::unique_ptr<TComponent> form(Create<TComponent>(nullptr));
    form->SetName("frmOrders");
    auto* connection = Create<TSQLiteConnection>(form.get());
    connection->SetName("Shop");
    connection->SetDatabaseName(dbPath);
    connection->ExecSQL("CREATE TABLE orders (id INTEGER PRIMARY KEY, item TEXT, qty INTEGER);"
                        "INSERT INTO orders (item, qty) VALUES ('valve', 2), ('hose', 5);");
    auto* orders = Create<TSQLiteTable>(form.get());
    orders->SetName("tblOrders");
    orders->SetConnection(connection);
    orders->SetTableName("orders");
    auto* source = Create<TDataSource>(form.get());
    source->SetDataSet(orders);

    auto* log = Create<TJexDatasetLog>(form.get());
    log->SetName("OrdersLog");
    log->SetLogFile(logPath);
    log->SetActive(true);
    std::vector<std::string> statements;
    log->SetOnSQLStatement(TJexLSQLStatementEvent::FromCallable(
        [&](TObject*, const std::string& ASQL) { statements.push_back(ASQL); }));
    log->SetDataSource(source);

    orders->Open();
    orders->Edit();
    orders->FieldByName("qty")->SetAsInteger(3);
    orders->Post();
    orders->Append();
    orders->FieldByName("item")->SetAsString("5\" pipe");
    orders->FieldByName("qty")->SetAsInteger(10);
    orders->Post();
    orders->First();
    orders->Next();
    orders->Delete();

    std::cout << "\n== " << logPath << " (written by TJexDatasetLog) ==\n";
    TStringList lines;
    lines.LoadFromFile(logPath);
    for (int i = 0; i < lines.Count(); ++i)
        std::cout << lines[i] << "\n";
    std::cout << "\n== Statements handed to OnSQLStatement ==\n";
    for (std::string sql : statements) {
        for (std::size_t at = sql.find("\r\n"); at != std::string::npos; at = sql.find("\r\n", at))
            sql.replace(at, 2, "\n");
        std::cout << sql << "\n\n";
    }
    std::cout << "== Stored orders: ";
    orders->Refresh();
    for (orders->First(); !orders->Eof(); orders->Next())
        std::cout << orders->FieldByName("id")->AsString() << " "
                  << orders->FieldByName("item")->AsString() << " x"
                  << orders->FieldByName("qty")->AsString()
                  << (orders->RecNo() < orders->RecordCount() ? ", " : "");
    std::cout << " ==\n";
    form.reset();
    std::filesystem::remove(dbPath);
    std::filesystem::remove(logPath);
}

} // namespace demo
