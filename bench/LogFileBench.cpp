// bench/LogFileBench.cpp - the folder monitor side by side with bare inotify: change-to-event
// latency, the time a stop takes, wake-ups while idle, and a burst of creations in a subtree.
//
// The folders live under $JEX_BENCH_DIR, else /dev/shm, else the temporary folder, so that the
// file system's own cost does not drown what is measured.
#include "bench/BenchScratch.h"
#include "monitors/LogFile.h"
#include "tests/support/ThreadStats.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <set>
#include <string>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using jex::bench::MeasureRounds;
using jex::bench::TScratch;

namespace {

constexpr int BurstFolders = 100;
constexpr int BurstFiles = 10000;

void CreateFile(const fs::path& APath, bool AWithContent = false) {
    const int fd = open(APath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0)
        return;
    if (AWithContent) [[maybe_unused]]
        const ssize_t written = write(fd, "x", 1);
    close(fd);
}

/// The inotify watches the process holds, as the kernel lists them.
long ProcessWatchCount() {
    long count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(entry.path(), ec).string() != "anon_inode:inotify")
            continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        for (std::string line; std::getline(info, line);)
            if (line.rfind("inotify wd:", 0) == 0)
                ++count;
    }
    return count;
}

/// A folder monitor on AFolder counting its events by kind.
struct TMonitor {
    TMonitor(const fs::path& AFolder, jex::TFileNotificationOptions AOptions) {
        Log.reset(host::Create<jex::TJexFileLog>(nullptr));
        Log->SetFolder(AFolder.string());
        Log->SetOptions(AOptions);
        Log->SetOnFileNotification(jex::TFileNotifyEvent::FromCallable(
            [this](host::TObject*, jex::TFileNotificationOption AAction) {
                ++Events;
                Seen.insert(AAction);
            }));
    }

    std::unique_ptr<jex::TJexFileLog> Log;
    long Events = 0;
    std::set<jex::TFileNotificationOption> Seen;
};

// ---- Change to event ------------------------------------------------------------------------

// Baseline: the kernel's own delivery, read on the thread that made the change.
void RawInotifyLatency(benchmark::State& AState) {
    TScratch dir;
    const int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, dir.Path.c_str(), IN_CREATE);
    alignas(inotify_event) char buffer[4096];
    int i = 0;
    MeasureRounds(AState, [&] {
        CreateFile(dir.Path / ("f" + std::to_string(i++)));
        pollfd pfd{fd, POLLIN, 0};
        poll(&pfd, 1, -1);
        [[maybe_unused]] const ssize_t got = read(fd, buffer, sizeof buffer);
    });
    close(fd);
}

BENCHMARK(RawInotifyLatency)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A file created in the folder until OnFileNotification runs on the main thread.
void FileLogLatency(benchmark::State& AState) {
    TScratch dir;
    TMonitor monitor(dir.Path, {jex::foFile});
    monitor.Log->SetActive(true);
    int i = 0;
    MeasureRounds(AState, [&] {
        const long before = monitor.Events;
        CreateFile(dir.Path / ("f" + std::to_string(i++)));
        while (monitor.Events == before)
            host::CheckSynchronize();
    });
}

BENCHMARK(FileLogLatency)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// ---- Stopping -------------------------------------------------------------------------------

// Baseline: waking a thread blocked on an eventfd and joining it.
void WakeAndJoinThread(benchmark::State& AState) {
    for (auto _ : AState) {
        AState.PauseTiming();
        const int fd = eventfd(0, EFD_CLOEXEC);
        std::thread waiter([fd] {
            pollfd pfd{fd, POLLIN, 0};
            poll(&pfd, 1, -1);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        AState.ResumeTiming();
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(fd, &one, sizeof one);
        waiter.join();
        AState.PauseTiming();
        close(fd);
        AState.ResumeTiming();
    }
}

BENCHMARK(WakeAndJoinThread)->Iterations(50)->Unit(benchmark::kMicrosecond);

// Active := False on a monitor whose worker waits.
void FileLogStop(benchmark::State& AState) {
    TScratch dir;
    TMonitor monitor(dir.Path, {jex::foFile, jex::foFolder, jex::foWatchSubFolders});
    for (auto _ : AState) {
        AState.PauseTiming();
        monitor.Log->SetActive(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        AState.ResumeTiming();
        monitor.Log->SetActive(false);
    }
}

BENCHMARK(FileLogStop)->Iterations(50)->Unit(benchmark::kMicrosecond);

// ---- Idle -----------------------------------------------------------------------------------

constexpr auto IdleSpan = std::chrono::seconds(2);

// Baseline: a worker that polls with the classic 200 ms time-out.
void PollingWorkerIdle(benchmark::State& AState) {
    for (auto _ : AState) {
        std::atomic<bool> stop{false};
        std::atomic<std::uint64_t> tid{0};
        std::thread worker([&] {
            tid = static_cast<std::uint64_t>(gettid());
            while (!stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
        });
        while (tid == 0)
            std::this_thread::yield();
        const long before = jex::test::ContextSwitches(tid);
        std::this_thread::sleep_for(IdleSpan);
        AState.counters["wakeups_per_s"] =
            static_cast<double>(jex::test::ContextSwitches(tid) - before) /
            std::chrono::duration<double>(IdleSpan).count();
        stop = true;
        worker.join();
    }
}

BENCHMARK(PollingWorkerIdle)->Iterations(1)->Unit(benchmark::kMillisecond);

// The monitor's worker while nothing changes.
void FileLogIdle(benchmark::State& AState) {
    TScratch dir;
    TMonitor monitor(dir.Path, {jex::foFile, jex::foFolder, jex::foAttributes, jex::foSize,
                                jex::foTime, jex::foWatchSubFolders});
    monitor.Log->SetActive(true);
    for (auto _ : AState) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // let it reach its wait
        const std::uint64_t tid = monitor.Log->Worker()->ThreadID();
        const long before = jex::test::ContextSwitches(tid);
        std::this_thread::sleep_for(IdleSpan);
        AState.counters["wakeups_per_s"] =
            static_cast<double>(jex::test::ContextSwitches(tid) - before) /
            std::chrono::duration<double>(IdleSpan).count();
    }
}

BENCHMARK(FileLogIdle)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- A burst in a subtree -------------------------------------------------------------------

void MakeFolders(const fs::path& ARoot) {
    for (int i = 0; i < BurstFolders; ++i)
        fs::create_directory(ARoot / ("sub" + std::to_string(i)));
}

void Burst(const fs::path& ARoot) {
    for (int i = 0; i < BurstFiles; ++i)
        CreateFile(ARoot / ("sub" + std::to_string(i % BurstFolders)) / ("f" + std::to_string(i)),
                   true);
}

// Baseline: the same burst under bare inotify watches of every folder, read to the end.
void RawInotifyBurst(benchmark::State& AState) {
    for (auto _ : AState) {
        AState.PauseTiming();
        TScratch dir;
        MakeFolders(dir.Path);
        const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        const std::uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                   IN_MODIFY | IN_CLOSE_WRITE;
        inotify_add_watch(fd, dir.Path.c_str(), mask);
        for (const auto& entry : fs::directory_iterator(dir.Path))
            inotify_add_watch(fd, entry.path().c_str(), mask);
        AState.ResumeTiming();
        Burst(dir.Path);
        alignas(inotify_event) static char buffer[64 * 1024];
        while (read(fd, buffer, sizeof buffer) > 0) {
        }
        AState.PauseTiming();
        close(fd);
        AState.ResumeTiming();
    }
}

BENCHMARK(RawInotifyBurst)->Iterations(3)->Unit(benchmark::kMillisecond);

// The burst under a monitor of the subtree with every option, until every kind that changed
// (names, sizes, times) has been reported.
void FileLogBurst(benchmark::State& AState) {
    bool complete = true;
    long watches = 0;
    for (auto _ : AState) {
        AState.PauseTiming();
        TScratch dir;
        MakeFolders(dir.Path);
        TMonitor monitor(dir.Path, {jex::foFile, jex::foFolder, jex::foAttributes, jex::foSize,
                                    jex::foTime, jex::foWatchSubFolders});
        monitor.Log->SetActive(true);
        AState.ResumeTiming();
        Burst(dir.Path);
        const auto all = [&] {
            return monitor.Seen.count(jex::foFile) != 0 && monitor.Seen.count(jex::foSize) != 0 &&
                   monitor.Seen.count(jex::foTime) != 0;
        };
        const Clock::time_point give_up = Clock::now() + std::chrono::seconds(30);
        while (!all() && Clock::now() < give_up)
            if (!host::CheckSynchronize())
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        AState.PauseTiming();
        complete = complete && all();
        // Let the worker settle (an overflow rebuilds the watches), then count them.
        for (const Clock::time_point quiet = Clock::now() + std::chrono::milliseconds(300);
             Clock::now() < quiet;)
            if (!host::CheckSynchronize())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        watches = ProcessWatchCount();
        monitor.Log->SetActive(false);
        AState.ResumeTiming();
    }
    AState.counters["kinds_reported"] = complete ? 1 : 0;
    AState.counters["watches"] = static_cast<double>(watches);
    AState.counters["folders"] = BurstFolders + 1;
    if (!complete || watches != BurstFolders + 1)
        AState.SkipWithError("a kind of change went unreported or the watch count is wrong");
}

BENCHMARK(FileLogBurst)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
