// bench/CollectorBench.cpp - what sending reports to a collector costs.
//
// BM_LogException: one exception handled by the logger (report composed and appended to the
// log) with Collector empty, side by side with Collector set to a systemd-journal-remote
// receiver on 127.0.0.1, where the entry is also queued and the worker sends it meanwhile
// (collector:1), a collector that refuses (collector:2), and a receiver standing back in the
// scheduler, as one on another machine takes none of this machine's CPU (collector:3).
// BM_WorkerDrain: the worker sending 500 queued reports until the queue is empty, side by side
// with the floor: the same 500 entries posted in one upload straight to the receiver. Queued
// one report a file (worker:1, as single reports and the fatal path leave them) and in files of
// BatchSize (worker:2, as the worker writes a burst). The counter reports_per_s gives the
// throughput.
#include "exceptions/LogError.h"
#include "exceptions/ReportCollector.h"
#include "host/forms/Forms.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"
#include "platform/ReportQueue.h"
#include "tests/support/JournalReceiver.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace {

using namespace host;
using namespace jex;

constexpr int DrainCount = 500;
// Reports in a file the worker writes for a burst.
const int BurstFile = static_cast<int>(jex::TJexCollectorSettings().BatchSize);

struct TBenchEnvironment {
    jex::test::TempDir Dir;
    jex::test::TJournalReceiver Receiver{Dir.File("bench.journal")};
    // Stands for a collector on another machine: it takes only CPU the program leaves.
    jex::test::TJournalReceiver Distant{Dir.File("distant.journal")};
    bool Running = Receiver.Start() && Distant.Start() && Distant.StandBack();
};

// Destroyed at exit, which stops the receiver.
TBenchEnvironment& Environment() {
    static TBenchEnvironment environment;
    return environment;
}

std::string SampleReport() {
    std::string report = "08.12.2026 10:47:24 Phys.addr: 004A1F30 \r\nMessage: Exception "
                         "EConvertError in module orders at 000A1F30.\r\n'x' is not a valid "
                         "integer value.\r\n\r\nUnit: Orders\r\nProcedure: TfrmOrders.Save\r\n";
    for (int i = 0; i < 8; ++i)
        report += "\r\nApplication detail line " + std::to_string(i);
    return report + "\r\n======\r\n?";
}

void BM_LogException(benchmark::State& AState) {
    TBenchEnvironment& env = Environment();
    if (!env.Running) {
        AState.SkipWithError("systemd-journal-remote did not start");
        return;
    }
    InitApplication(std::make_unique<THeadlessWidgetSet>());
    {
        std::unique_ptr<TJexExceptionLog> logger(Create<TJexExceptionLog>(nullptr));
        logger->SetLogFile(env.Dir.File("bench.log"));
        logger->SetErrorDialog(edNone);
        logger->SetActive(true);
        logger->SetCollectorQueueFolder(env.Dir.File("queue-log"));
        // 1: the receiver; 2: a collector that refuses, so the worker only waits; 3: the
        // receiver standing back, as one on another machine.
        if (AState.range(0) == 1)
            logger->SetCollector(env.Receiver.Url());
        else if (AState.range(0) == 2)
            logger->SetCollector("http://127.0.0.1:1");
        else if (AState.range(0) == 3)
            logger->SetCollector(env.Distant.Url());
        EConvertError error("'x' is not a valid integer value");
        for (auto _ : AState)
            logger->DoException(nullptr, &error);
        if (AState.range(0) == 1 || AState.range(0) == 3)
            logger->ReportCollector()->Flush(std::chrono::seconds(30));
    }
    DoneApplication();
    std::remove(env.Dir.File("bench.log").c_str());
}

BENCHMARK(BM_LogException)
    ->ArgName("collector")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMicrosecond);

void BM_WorkerDrain(benchmark::State& AState) {
    TBenchEnvironment& env = Environment();
    if (!env.Running) {
        AState.SkipWithError("systemd-journal-remote did not start");
        return;
    }
    const std::string report = SampleReport();
    TJexReportFields fields;
    fields.Report = report;
    fields.Program = "orders";
    fields.ClassName = "EConvertError";
    fields.Unit = "Orders";
    fields.Procedure = "TfrmOrders.Save";
    const std::string entry = ReportEntry(fields);
    std::string body;
    for (int i = 0; i < DrainCount; ++i)
        body += entry;

    const std::string folder = env.Dir.File("queue-drain");
    for (auto _ : AState) {
        if (AState.range(0) == 0) {
            benchmark::DoNotOptimize(
                platform::UploadJournalEntries(env.Receiver.Url(), body, 30000, nullptr).Ok);
            continue;
        }
        AState.PauseTiming();
        platform::TReportQueue queue(folder, 10000);
        queue.Ensure();
        if (AState.range(0) == 1) {
            for (int i = 0; i < DrainCount; ++i)
                queue.Push(entry);
        } else {
            for (int at = 0; at < DrainCount; at += BurstFile) {
                const int count = std::min(BurstFile, DrainCount - at);
                std::string file;
                for (int i = 0; i < count; ++i)
                    file += entry;
                queue.Push(file, static_cast<std::size_t>(count));
            }
        }
        AState.ResumeTiming();
        TJexCollectorSettings settings;
        settings.Address = env.Receiver.Url();
        settings.QueueFolder = folder;
        TJexReportCollector collector(settings);
        if (!collector.Flush(std::chrono::seconds(60)))
            AState.SkipWithError("the queue did not drain");
    }
    AState.counters["reports_per_s"] = benchmark::Counter(
        static_cast<double>(AState.iterations()) * DrainCount, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_WorkerDrain)
    ->ArgName("worker")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
