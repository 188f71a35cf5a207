// bench/LogRegistryBench.cpp - the key store and the registry monitor side by side with the bare
// file operations they stand on: a 100-byte WriteString against writing the same bytes to a
// temporary file and renaming it (plain, and flushed as the store flushes) and against the file
// library's one-step replacement that the tools use too; and the latency from a value write to
// OnRegistryNotification against bare inotify on the same folder.
//
// The store lives in a scratch folder (bench/BenchScratch.h).
#include "bench/BenchScratch.h"
#include "host/core/Registry.h"
#include "monitors/LogRegistry.h"
#include "platform/KeyStore.h"
#include "platform/linux/FileOps.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

using jex::bench::MeasureRounds;

namespace {

const std::string Payload(100, 'v');

/// A fresh store root with the key Software\Bench, removed afterwards.
struct TScratchStore {
    TScratchStore() {
        platform::LinuxKeyStore().SetRoot(Scratch.Path.string());
        Registry.SetRootKey(host::HKEY_LOCAL_MACHINE);
        Registry.OpenKey("Software\\Bench", true);
    }

    ~TScratchStore() {
        Registry.CloseKey();
        platform::LinuxKeyStore().SetRoot({});
    }

    fs::path KeyFolder() const {
        return Scratch.Path / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "BENCH";
    }

    jex::bench::TScratch Scratch;
    host::TRegistry Registry;
};

void WriteAndRename(const fs::path& AFolder, bool ASync) {
    const std::string temporary = (AFolder / ".tmp").string();
    const std::string target = (AFolder / "=TARGET").string();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    [[maybe_unused]] const ssize_t written = ::write(fd, Payload.data(), Payload.size());
    if (ASync)
        ::fsync(fd);
    ::close(fd);
    ::rename(temporary.c_str(), target.c_str());
    if (ASync) {
        const int dir = ::open(AFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(dir);
        ::close(dir);
    }
}

// ---- A value write ---------------------------------------------------------------------------

void TempFileRename(benchmark::State& AState) {
    TScratchStore store;
    for (auto _ : AState)
        WriteAndRename(store.KeyFolder(), false);
}

BENCHMARK(TempFileRename)->Unit(benchmark::kMicrosecond);

void TempFileRenameFlushed(benchmark::State& AState) {
    TScratchStore store;
    for (auto _ : AState)
        WriteAndRename(store.KeyFolder(), true);
}

BENCHMARK(TempFileRenameFlushed)->Unit(benchmark::kMicrosecond);

// The one-step replacement the store and the tools share, through its table of system calls.
void FileOpsReplace(benchmark::State& AState) {
    TScratchStore store;
    const std::string target = (store.KeyFolder() / "=TARGET").string();
    for (auto _ : AState)
        fileops::ReplaceFile(target, Payload);
}

BENCHMARK(FileOpsReplace)->Unit(benchmark::kMicrosecond);

void FileOpsReplaceFlushed(benchmark::State& AState) {
    TScratchStore store;
    const std::string target = (store.KeyFolder() / "=TARGET").string();
    for (auto _ : AState)
        fileops::ReplaceFile(target, Payload, {{}, true});
}

BENCHMARK(FileOpsReplaceFlushed)->Unit(benchmark::kMicrosecond);

void RegistryWriteString(benchmark::State& AState) {
    TScratchStore store;
    for (auto _ : AState)
        store.Registry.WriteString("Target", Payload);
}

BENCHMARK(RegistryWriteString)->Unit(benchmark::kMicrosecond);

// ---- Write to event --------------------------------------------------------------------------

// Baseline: the kernel's own delivery of the rename, read on the writing thread.
void RawInotifyLatency(benchmark::State& AState) {
    TScratchStore store;
    const int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, store.KeyFolder().c_str(), IN_MOVED_TO);
    alignas(inotify_event) char buffer[4096];
    MeasureRounds(AState, [&] {
        WriteAndRename(store.KeyFolder(), true);
        pollfd pfd{fd, POLLIN, 0};
        poll(&pfd, 1, -1);
        [[maybe_unused]] const ssize_t got = read(fd, buffer, sizeof buffer);
    });
    close(fd);
}

BENCHMARK(RawInotifyLatency)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

// WriteString until OnRegistryNotification runs on the main thread.
void RegistryLogLatency(benchmark::State& AState) {
    TScratchStore store;
    std::unique_ptr<jex::TJexRegistryLog> log(host::Create<jex::TJexRegistryLog>(nullptr));
    long events = 0;
    log->SetKey("Software\\Bench");
    log->SetOptions({jex::roLastSet});
    log->SetOnRegistryNotification(
        host::TNotifyEvent::FromCallable([&events](host::TObject*) { ++events; }));
    log->SetActive(true);
    while (!log->Worker()->Watching())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    MeasureRounds(AState, [&] {
        const long before = events;
        store.Registry.WriteString("Target", Payload);
        while (events == before)
            host::CheckSynchronize();
    });
    log->SetActive(false);
}

BENCHMARK(RegistryLogLatency)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
