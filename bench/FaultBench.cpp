// bench/FaultBench.cpp - the fatal path from signal to report on disk, side by side with its
// floor: 100 children that fault with an exception logger installed (the report is composed in
// the signal handler and appended to the log), against 100 children that set up the same
// application and logger and only write the same bytes to the log and exit. Each child is timed
// from start to end by the parent; the median of each side is the counter median_ms.
#include "exceptions/LogError.h"
#include "host/forms/Forms.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int* volatile nullPointer = nullptr;

std::string BenchFile(const char* AName) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + AName;
}

void SetUpApplication(const char* ALogPath) {
    using namespace host;
    using namespace jex;
    InitApplication(std::make_unique<THeadlessWidgetSet>());
    TForm* form = Application->CreateForm<TForm>();
    TJexExceptionLog* logger = Create<TJexExceptionLog>(form);
    logger->SetLogFile(ALogPath);
    logger->SetFormats({lfExceptionClassName, lfMessage, lfSourceLine, lfCallStack});
    logger->SetErrorDialog(edNone);
    logger->SetActive(true);
}

[[noreturn]] void CrashChild(const char* ALogPath) {
    SetUpApplication(ALogPath);
    std::_Exit(*nullPointer);
}

[[noreturn]] void WriteChild(const char* ALogPath, const char* ABytesPath) {
    std::ifstream in(ABytesPath, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SetUpApplication(ALogPath);
    const int fd = open(ALogPath, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    const bool ok =
        fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    std::_Exit(ok ? 0 : 1);
}

std::string selfPath;

// Runs this program as a child with AArgs and returns how long it ran, in milliseconds.
double TimeChild(const std::vector<std::string>& AArgs) {
    std::vector<char*> argv{selfPath.data()};
    std::vector<std::string> args = AArgs;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        struct rlimit noCore {
            0, 0
        };

        setrlimit(RLIMIT_CORE, &noCore);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> AValues) {
    std::sort(AValues.begin(), AValues.end());
    return AValues.empty() ? 0 : AValues[AValues.size() / 2];
}

void RunChildren(benchmark::State& AState, bool ACrash) {
    const std::string log = BenchFile(ACrash ? "jexbench-fatal.log" : "jexbench-floor.log");
    const std::string bytes = BenchFile("jexbench-fatal-report.txt");
    // One crash first, to have the report's bytes for the children that only write them.
    std::filesystem::remove(bytes);
    TimeChild({"--crash", bytes});
    std::vector<double> times;
    for (auto _ : AState) {
        std::filesystem::remove(log);
        const double ms = ACrash ? TimeChild({"--crash", log}) : TimeChild({"--write", log, bytes});
        times.push_back(ms);
        AState.SetIterationTime(ms / 1000);
    }
    AState.counters["median_ms"] = Median(times);
    AState.counters["report_bytes"] = static_cast<double>(std::filesystem::file_size(bytes));
    std::filesystem::remove(log);
    std::filesystem::remove(bytes);
}

void ChildWritesTheReportAndExits(benchmark::State& AState) {
    RunChildren(AState, false);
}

void ChildFaultsAndTheFatalPathWritesTheReport(benchmark::State& AState) {
    RunChildren(AState, true);
}

BENCHMARK(ChildWritesTheReportAndExits)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ChildFaultsAndTheFatalPathWritesTheReport)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int AArgc, char** AArgv) {
    if (AArgc == 3 && std::strcmp(AArgv[1], "--crash") == 0)
        CrashChild(AArgv[2]);
    if (AArgc == 4 && std::strcmp(AArgv[1], "--write") == 0)
        WriteChild(AArgv[2], AArgv[3]);
    selfPath = std::filesystem::canonical("/proc/self/exe").string();
    benchmark::Initialize(&AArgc, AArgv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
