// bench/LogBaseBench.cpp - appending 100-byte records with WriteAsString, side by side with the
// floor of the open-per-write design: a plain open(O_APPEND) + write + close per record.
#include "logging/LogBase.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string& Record() {
    static const std::string record = std::string(98, 'r') + "\r\n";
    return record;
}

std::string BenchFile(const char* AName) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + AName;
}

void PlainAppendLoop(benchmark::State& AState) {
    const std::string path = BenchFile("jexbench-plain.log");
    std::filesystem::remove(path);
    for (auto _ : AState) {
        const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        if (fd < 0 || write(fd, Record().data(), Record().size()) < 0)
            AState.SkipWithError("plain write failed");
        close(fd);
    }
    AState.SetItemsProcessed(AState.iterations());
    std::filesystem::remove(path);
}

BENCHMARK(PlainAppendLoop);

void WriteAsStringOneThread(benchmark::State& AState) {
    const std::string path = BenchFile("jexbench-log.log");
    std::filesystem::remove(path);
    std::unique_ptr<jex::TJexLogBase> log(host::Create<jex::TJexLogBase>(nullptr));
    log->SetLogFile(path);
    for (auto _ : AState)
        log->WriteAsString(Record());
    AState.SetItemsProcessed(AState.iterations());
    std::filesystem::remove(path);
}

BENCHMARK(WriteAsStringOneThread);

// Four components on four threads share one file; the write lock serialises them.
void WriteAsStringFourThreads(benchmark::State& AState) {
    static std::vector<std::unique_ptr<jex::TJexLogBase>> logs;
    const std::string path = BenchFile("jexbench-mt.log");
    if (AState.thread_index() == 0) {
        std::filesystem::remove(path);
        logs.clear();
        for (int i = 0; i < AState.threads(); ++i) {
            logs.emplace_back(host::Create<jex::TJexLogBase>(nullptr));
            logs.back()->SetLogFile(path);
        }
    }
    jex::TJexLogBase* log = nullptr;
    for (auto _ : AState) {
        if (log == nullptr)
            log = logs[static_cast<std::size_t>(AState.thread_index())].get();
        log->WriteAsString(Record());
    }
    AState.SetItemsProcessed(AState.iterations());
}

BENCHMARK(WriteAsStringFourThreads)->Threads(4)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
