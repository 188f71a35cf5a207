// bench/BenchScratch.h - what the monitor benchmarks share: a scratch folder on a fast file
// system, and the latency loop with the median and 99th percentile of its samples.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace jex::bench {

/// $JEX_BENCH_DIR, else /dev/shm, else the temporary folder, so that the file system's own cost
/// does not drown what is measured.
inline std::filesystem::path BenchBase() {
    if (const char* dir = std::getenv("JEX_BENCH_DIR"); dir != nullptr && *dir != '\0')
        return dir;
    if (std::filesystem::is_directory("/dev/shm"))
        return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

/// A fresh folder, removed with its contents afterwards.
struct TScratch {
    TScratch() {
        std::string pattern = (BenchBase() / "jexbench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            Path = pattern;
    }

    ~TScratch() {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }

    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    std::filesystem::path Path;
};

inline double Microseconds(std::chrono::steady_clock::duration ADuration) {
    return std::chrono::duration<double, std::micro>(ADuration).count();
}

/// Adds the samples' median and 99th percentile (microseconds) to the benchmark's counters.
inline void ReportPercentiles(benchmark::State& AState, std::vector<double> ASamples) {
    if (ASamples.empty())
        return;
    std::sort(ASamples.begin(), ASamples.end());
    AState.counters["median_us"] = ASamples[ASamples.size() / 2];
    AState.counters["p99_us"] = ASamples[std::min(ASamples.size() - 1, ASamples.size() * 99 / 100)];
}

/// Times ARound (a change and the wait until it arrives) once per iteration as the iteration's
/// manual time, and reports the median and 99th percentile.
template <typename F>
void MeasureRounds(benchmark::State& AState, F ARound) {
    std::vector<double> samples;
    for (auto _ : AState) {
        const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        ARound();
        const std::chrono::steady_clock::duration took = std::chrono::steady_clock::now() - start;
        AState.SetIterationTime(std::chrono::duration<double>(took).count());
        samples.push_back(Microseconds(took));
    }
    ReportPercentiles(AState, std::move(samples));
}

} // namespace jex::bench
