// bench/DataSetBench.cpp - 10,000 edits posted through the SQLite table, side by side with the
// same updates made by one prepared sqlite3 statement, both inside one transaction; then the
// same edits with a dataset logger attached: inactive, with every notification filtered out,
// and logging every line, beside one WriteAsString of such a line.
#include "host/data/SQLiteTables.h"
#include "monitors/LogDS.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sqlite3.h>
#include <string>

namespace {

constexpr int Edits = 10000;

std::string BenchFile(const char* AName) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + AName;
}

// A fresh database with Edits orders.
std::string MakeDatabase() {
    const std::string path = BenchFile("jexbench-orders.db");
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::string sql =
        "BEGIN; CREATE TABLE orders (id INTEGER PRIMARY KEY, item TEXT, qty INTEGER);";
    for (int i = 1; i <= Edits; ++i)
        sql += "INSERT INTO orders VALUES (" + std::to_string(i) + ", 'item', 0);";
    sqlite3_exec(db, (sql + "COMMIT").c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return path;
}

void RawPreparedUpdates(benchmark::State& AState) {
    const std::string path = MakeDatabase();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    // The statement the table writes for a change of qty.
    sqlite3_prepare_v2(db, "UPDATE \"orders\" SET \"qty\" = ?1 WHERE \"id\" IS ?2", -1, &stmt,
                       nullptr);
    int value = 0;
    for (auto _ : AState) {
        ++value;
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (int id = 1; id <= Edits; ++id) {
            sqlite3_bind_int64(stmt, 1, value);
            sqlite3_bind_int64(stmt, 2, id);
            if (sqlite3_step(stmt) != SQLITE_DONE)
                AState.SkipWithError("update failed");
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    AState.SetItemsProcessed(AState.iterations() * Edits);
}

BENCHMARK(RawPreparedUpdates)->Unit(benchmark::kMillisecond);

enum TLoggerMode { lmNone, lmInactive, lmFiltered, lmLogging };

void TableEdits(benchmark::State& AState, TLoggerMode AMode) {
    using namespace host;
    const std::string path = MakeDatabase();
    const std::string logPath = BenchFile("jexbench-data.log");
    std::filesystem::remove(logPath);
    std::unique_ptr<TComponent> form(Create<TComponent>(nullptr));
    auto* connection = Create<TSQLiteConnection>(form.get());
    connection->SetDatabaseName(path);
    auto* table = Create<TSQLiteTable>(form.get());
    table->SetConnection(connection);
    table->SetTableName("orders");
    table->Open();
    auto* source = Create<TDataSource>(form.get());
    source->SetDataSet(table);
    if (AMode != lmNone) {
        auto* log = Create<jex::TJexDatasetLog>(form.get());
        log->SetLogFile(logPath);
        log->SetDataSource(source);
        log->SetActive(AMode != lmInactive);
        if (AMode == lmFiltered)
            log->SetFilterEvents({});
    }
    TField* qty = table->FieldByName("qty");
    int value = 0;
    for (auto _ : AState) {
        ++value;
        connection->StartTransaction();
        table->First();
        while (!table->Eof()) {
            table->Edit();
            qty->SetAsInteger(value);
            table->Post();
            table->Next();
        }
        connection->Commit();
    }
    AState.SetItemsProcessed(AState.iterations() * Edits);
    if (AMode == lmLogging) {
        // Lines per edit: Edit (2), the field (1), Post (3), Next (1).
        std::uintmax_t size = std::filesystem::file_size(logPath);
        AState.counters["log_bytes_per_edit"] =
            static_cast<double>(size) / static_cast<double>(AState.iterations() * Edits);
        AState.counters["lines_per_edit"] = 7;
    }
    form.reset();
    std::filesystem::remove(logPath);
}

void TablePostedEdits(benchmark::State& AState) {
    TableEdits(AState, lmNone);
}

void TablePostedEditsLoggerInactive(benchmark::State& AState) {
    TableEdits(AState, lmInactive);
}

void TablePostedEditsLoggerFilteredOut(benchmark::State& AState) {
    TableEdits(AState, lmFiltered);
}

void TablePostedEditsLogged(benchmark::State& AState) {
    TableEdits(AState, lmLogging);
}

BENCHMARK(TablePostedEdits)->Unit(benchmark::kMillisecond);
BENCHMARK(TablePostedEditsLoggerInactive)->Unit(benchmark::kMillisecond);
BENCHMARK(TablePostedEditsLoggerFilteredOut)->Unit(benchmark::kMillisecond);
BENCHMARK(TablePostedEditsLogged)->Unit(benchmark::kMillisecond);

// One line as the logger writes it, appended with WriteAsString: the floor of a logged line.
void WriteAsStringOfALogLine(benchmark::State& AState) {
    const std::string path = BenchFile("jexbench-line.log");
    std::filesystem::remove(path);
    std::unique_ptr<jex::TJexLogBase> log(host::Create<jex::TJexLogBase>(nullptr));
    log->SetLogFile(path);
    const std::string line =
        host::FormatDateTime("c", host::Now()) + " dbeRecordChanged qty:1234\r\n";
    for (auto _ : AState)
        log->WriteAsString(line);
    AState.SetItemsProcessed(AState.iterations());
    std::filesystem::remove(path);
}

BENCHMARK(WriteAsStringOfALogLine);

} // namespace

BENCHMARK_MAIN();
