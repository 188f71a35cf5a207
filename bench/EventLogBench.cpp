// bench/EventLogBench.cpp - the system event log: WriteToEventLog of a 100-character text side
// by side with WriteAsString of the same text; ReadEvent at random positions of a log of
// 1,000,000 records side by side with a bare pread of a record at a random offset; and
// GetEventCount on a small and on a large log.
#include "logging/LogBase.h"
#include "monitors/LogNT.h"
#include "platform/EventLog.h"
#include "platform/KeyStore.h"
#include "platform/linux/EventLogFile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

const std::string& Text() {
    static const std::string text(100, 't');
    return text;
}

// A private folder for the store and the key store, removed at exit.
const std::string& Folder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/jexbench-XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        std::string path = made != nullptr ? made : "/tmp/jexbench-eventlog";
        platform::LinuxKeyStore().SetRoot(path + "/registry");
        platform::LinuxEventStore().SetRoot(path + "/logs");
        std::atexit([] { std::filesystem::remove_all(Folder()); });
        return path;
    }();
    return folder;
}

// Writes the log ALog with ACount records of about 150 bytes straight into its file, once.
std::string MakeLog(const std::string& ALog, std::uint32_t ACount) {
    Folder();
    const std::string path = platform::LinuxEventStore().LogFilePath(ALog);
    if (std::filesystem::exists(path))
        return path;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    platform::eventlog::THeader header;
    header.MaxSize = 0xFFFFFFFF;
    std::string records;
    platform::TEventReport report;
    report.Strings = {Text()};
    for (std::uint32_t n = 1; n <= ACount; ++n)
        records += platform::BuildEventRecord(report, n, 0, "Bench", "host");
    header.OldestRecordNumber = 1;
    header.CurrentRecordNumber = ACount + 1;
    header.EndOffset = static_cast<std::uint32_t>(platform::EventLogHeaderSize + records.size());
    out << platform::eventlog::HeaderBytes(header) << records
        << platform::eventlog::EofBytes(header);
    return path;
}

void WriteAsString100(benchmark::State& AState) {
    const std::string path = Folder() + "/plain.log";
    std::unique_ptr<jex::TJexLogBase> log(host::Create<jex::TJexLogBase>(nullptr));
    log->SetLogFile(path);
    for (auto _ : AState)
        log->WriteAsString(Text());
    AState.SetItemsProcessed(AState.iterations());
    std::filesystem::remove(path);
}

BENCHMARK(WriteAsString100);

void WriteToEventLog100(benchmark::State& AState) {
    Folder();
    platform::LinuxEventStore().SetSystemLogMirror(true);
    std::unique_ptr<jex::TJexNTEventLog> log(host::Create<jex::TJexNTEventLog>(nullptr));
    log->SetSource("Bench");
    for (auto _ : AState)
        log->WriteToEventLog(Text(), jex::EVENTLOG_INFORMATION_TYPE, 0, 1);
    AState.SetItemsProcessed(AState.iterations());
    std::filesystem::remove(platform::LinuxEventStore().LogFilePath(""));
}

BENCHMARK(WriteToEventLog100);

constexpr std::uint32_t Million = 1000000;

// The floor: one pread of a record's size at a random record-aligned offset of the same file.
void PreadRandomRecord(benchmark::State& AState) {
    const std::string path = MakeLog("Million", Million);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::mt19937 random(7);
    const std::uint32_t size = static_cast<std::uint32_t>(
        platform::BuildEventRecord({}, 1, 0, "Bench", "host").size() + 101);
    char buffer[512];
    for (auto _ : AState) {
        const std::uint64_t at =
            platform::EventLogHeaderSize + std::uint64_t{random() % Million} * size;
        benchmark::DoNotOptimize(::pread(fd, buffer, size, static_cast<off_t>(at)));
    }
    ::close(fd);
}

BENCHMARK(PreadRandomRecord);

void ReadEventRandomPosition(benchmark::State& AState) {
    MakeLog("Million", Million);
    std::unique_ptr<jex::TJexNTEventLog> log(host::Create<jex::TJexNTEventLog>(nullptr));
    log->SetSource("Million"); // the log opened is the one of that name
    log->Open();
    log->ReadEvent(Million - 1); // the first read builds the index
    if (log->GetEventString(0) != Text())
        AState.SkipWithError("the log does not read back");
    std::mt19937 random(11);
    for (auto _ : AState) {
        log->ReadEvent(random() % Million);
        benchmark::DoNotOptimize(log->GetEventID());
    }
}

BENCHMARK(ReadEventRandomPosition)->Unit(benchmark::kMicrosecond);

void GetEventCount(benchmark::State& AState) {
    const std::string name = "Count" + std::to_string(AState.range(0));
    MakeLog(name, static_cast<std::uint32_t>(AState.range(0)));
    std::unique_ptr<jex::TJexNTEventLog> log(host::Create<jex::TJexNTEventLog>(nullptr));
    log->SetSource(name);
    log->Open();
    for (auto _ : AState)
        benchmark::DoNotOptimize(log->GetEventCount());
}

BENCHMARK(GetEventCount)->Arg(1000)->Arg(Million);

} // namespace

BENCHMARK_MAIN();
