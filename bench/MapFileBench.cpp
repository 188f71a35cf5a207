// bench/MapFileBench.cpp - map loading and address lookup, each beside its baseline.
//
// Two maps: the largest real map of the test data and a generated one of about 50 MB (300,000
// publics, 2,000,000 line entries). Loading is compared with reading the file into a vector of
// lines; lookups through the index with the plain scans over the same lists. The real maps are
// looked for in JEX_TESTDATA_DIR, which the environment variable of that name overrides.
#include "mapfile/Jexmapfile.h"
#include "mapfile/MapFormat.h"
#include "tests/mapfile/PlainMapReader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace mf = jex::mapformat;

constexpr int GeneratedUnits = 3000;
constexpr int PublicsPerUnit = 100;
constexpr int EntriesPerUnit = 667;
constexpr std::uint32_t UnitCodeSize = 0x4000;

std::string Hex(std::uint32_t AValue) {
    return mf::HexOffset(AValue);
}

// A Delphi-style map: code and data segments, both publics sections, one line section per unit.
void WriteGeneratedMap(const std::string& APath) {
    std::string text;
    text.reserve(64u << 20);
    text += "\r\n Start         Length     Name                   Class\r\n";
    text += " 0001:00000000 " + Hex(GeneratedUnits * UnitCodeSize) + "H .text CODE\r\n\r\n\r\n";
    text += "Detailed map of segments\r\n\r\n";
    char buffer[160];
    for (int u = 0; u < GeneratedUnits; ++u) {
        std::snprintf(buffer, sizeof buffer,
                      " 0001:%08X %08X C=CODE     S=.text    G=(none)   M=Unit%04d ACBP=A9\r\n",
                      u * UnitCodeSize, UnitCodeSize, u);
        text += buffer;
    }
    for (int u = 0; u < GeneratedUnits; u += 3) {
        std::snprintf(buffer, sizeof buffer,
                      " 0002:%08X 00000010 C=DATA     S=.data    G=DGROUP   M=Unit%04d ACBP=A9\r\n",
                      u * 16, u);
        text += buffer;
    }
    const auto publics = [&](bool AByValue) {
        text += AByValue ? "\r\n\r\n  Address         Publics by Value\r\n\r\n"
                         : "\r\n\r\n  Address         Publics by Name\r\n\r\n";
        if (AByValue)
            text += " 0002:FFB72010       TlsLast\r\n";
        for (int u = 0; u < GeneratedUnits; ++u)
            for (int p = 0; p < PublicsPerUnit; ++p) {
                std::snprintf(buffer, sizeof buffer, " 0001:%08X       U%04d.P%03d\r\n",
                              u * UnitCodeSize + p * (UnitCodeSize / PublicsPerUnit), u, p);
                text += buffer;
            }
    };
    publics(false);
    publics(true);
    text += "\r\n\r\n";
    for (int u = 0; u < GeneratedUnits; ++u) {
        std::snprintf(buffer, sizeof buffer,
                      "Line numbers for Unit%04d(Unit%04d.pas) segment .text\r\n\r\n", u, u);
        text += buffer;
        for (int e = 0; e < EntriesPerUnit; ++e) {
            text += mf::FormatLineEntry(10 + e, u * UnitCodeSize + e * 24);
            if (e % 4 == 3 || e + 1 == EntriesPerUnit)
                text += "\r\n";
        }
        text += "\r\n";
    }
    text += "Bound resource files\r\n\r\nProgram entry point at 0001:00000000\r\n";
    std::ofstream(APath, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
}

struct BenchMap {
    std::string Label;
    std::string Path;
};

std::vector<BenchMap> Maps() {
    std::vector<BenchMap> maps;
    const char* overridden = std::getenv("JEX_TESTDATA_DIR");
    const std::filesystem::path real =
        std::filesystem::path(overridden != nullptr ? overridden : JEX_TESTDATA_DIR) / "maps" /
        "delphi-3dess-lf.map";
    if (std::filesystem::exists(real))
        maps.push_back({"real", real.string()});
    else
        std::fprintf(stderr, "note: %s not found, only the generated map is measured\n",
                     real.string().c_str());
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("jex-mapfile-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string generated = (folder / "generated.map").string();
    WriteGeneratedMap(generated);
    std::fprintf(stderr, "generated map: %s, %ju bytes\n", generated.c_str(),
                 static_cast<std::uintmax_t>(std::filesystem::file_size(generated)));
    maps.push_back({"generated", generated});
    return maps;
}

void ReadLinesOnce(const std::string& APath, std::vector<std::string>& ALines) {
    ALines.clear();
    std::string text;
    {
        std::ifstream in(APath, std::ios::binary);
        in.seekg(0, std::ios::end);
        text.resize(static_cast<std::size_t>(in.tellg()));
        in.seekg(0);
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
    }
    mf::TLineCursor cursor(text);
    std::string_view line;
    while (cursor.Next(line))
        ALines.emplace_back(line);
}

// Baseline: the file read whole and split into a vector of lines, reusing the vector across
// iterations as the reader reuses its lists.
void ReadLines(benchmark::State& AState, const std::string& APath) {
    std::vector<std::string> lines;
    bool warm = false;
    for (auto _ : AState) {
        if (!warm) {
            // One untimed pass, as LoadMapFile gets one, so both run on a warm allocator.
            AState.PauseTiming();
            warm = true;
            ReadLinesOnce(APath, lines);
            AState.ResumeTiming();
        }
        ReadLinesOnce(APath, lines);
        benchmark::DoNotOptimize(lines.data());
    }
    AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations()) *
                             static_cast<std::int64_t>(std::filesystem::file_size(APath)));
}

void LoadMapFile(benchmark::State& AState, const std::string& APath) {
    jex::TJexMapFile map;
    map.SetMapFileName(APath);
    map.LoadMapFile();
    for (auto _ : AState) {
        map.LoadMapFile();
        benchmark::DoNotOptimize(map.PublicLines().data());
    }
    AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations()) *
                             static_cast<std::int64_t>(std::filesystem::file_size(APath)));
}

// Addresses of publics and points between them, in random order.
std::vector<std::uint32_t> LookupAddresses(const jex::TJexMapFile& AMap) {
    std::vector<std::uint32_t> addresses;
    std::mt19937 random(42);
    for (const std::string& line : AMap.PublicLines()) {
        std::uint32_t offset = 0;
        if (mf::InCodeSegment(line) && mf::ReadHexField(line, mf::PublicOffsetColumn, offset))
            addresses.push_back(offset +
                                std::uniform_int_distribution<std::uint32_t>(0, 40)(random) +
                                AMap.BaseAddress());
    }
    std::shuffle(addresses.begin(), addresses.end(), random);
    addresses.resize(std::min<std::size_t>(addresses.size(), 4096));
    return addresses;
}

void FirstLookup(benchmark::State& AState, const std::string& APath) {
    jex::TJexMapFile map;
    map.SetMapFileName(APath);
    for (auto _ : AState) {
        AState.PauseTiming();
        map.LoadMapFile();
        AState.ResumeTiming();
        map.LoadExceptionData(reinterpret_cast<const void*>(std::uintptr_t{0x00401234}));
        benchmark::DoNotOptimize(map.LineNumber());
    }
}

void LookupIndexed(benchmark::State& AState, const std::string& APath) {
    jex::TJexMapFile map;
    map.SetMapFileName(APath);
    map.LoadMapFile();
    const std::vector<std::uint32_t> addresses = LookupAddresses(map);
    map.LoadExceptionData(reinterpret_cast<const void*>(std::uintptr_t{addresses.front()}));
    std::size_t next = 0;
    std::int64_t withLine = 0;
    for (auto _ : AState) {
        map.LoadExceptionData(reinterpret_cast<const void*>(std::uintptr_t{addresses[next]}));
        withLine += map.LineNumber() != 0;
        next = (next + 1) % addresses.size();
    }
    AState.counters["with_line"] =
        benchmark::Counter(static_cast<double>(withLine), benchmark::Counter::kAvgIterations);
}

void LookupPlainScan(benchmark::State& AState, const std::string& APath) {
    jex::TJexMapFile map;
    map.SetMapFileName(APath);
    map.LoadMapFile();
    jex::test::PlainMapReader plain;
    plain.Segments = map.SegmentLines();
    plain.Publics = map.PublicLines();
    plain.LineNumbers = map.LineNumberLines();
    const std::vector<std::uint32_t> addresses = LookupAddresses(map);
    std::size_t next = 0;
    std::int64_t withLine = 0;
    for (auto _ : AState) {
        withLine += plain.Lookup(addresses[next]).Line != 0;
        next = (next + 1) % addresses.size();
    }
    AState.counters["with_line"] =
        benchmark::Counter(static_cast<double>(withLine), benchmark::Counter::kAvgIterations);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::vector<BenchMap> maps = Maps();
    for (const BenchMap& map : maps) {
        // Fixed rounds for the two loads, so both see the same number of passes.
        benchmark::RegisterBenchmark(("ReadLines/" + map.Label).c_str(), ReadLines, map.Path)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(map.Label == "real" ? 500 : 8);
        benchmark::RegisterBenchmark(("LoadMapFile/" + map.Label).c_str(), LoadMapFile, map.Path)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(map.Label == "real" ? 500 : 8);
        benchmark::RegisterBenchmark(("FirstLookup/" + map.Label).c_str(), FirstLookup, map.Path)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("LookupIndexed/" + map.Label).c_str(), LookupIndexed,
                                     map.Path)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("LookupPlainScan/" + map.Label).c_str(), LookupPlainScan,
                                     map.Path)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const BenchMap& map : maps)
        if (map.Label == "generated")
            std::filesystem::remove_all(std::filesystem::path(map.Path).parent_path());
    return 0;
}
