// bench/VellinBench.cpp - vellin's merge against reading the same bytes, on the largest real
// TDS/map pair and on a generated TDS file of about 50 MB.
//
// Each case has its baseline in the same run: "Copy" reads the TDS file and the map into memory
// and drops them (what `cat tds map > /dev/null` does), "Merge" runs MergeIntoMapFile on a fresh
// copy of the map. The ratio of the two is the figure that matters; absolute times vary by
// machine. Set JEX_TESTDATA_DIR when the shared test data is not beside the source tree.
#include "tests/tool/TdsBuilder.h"
#include "tool/TdsReader.h"
#include "tool/vellin.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary | std::ios::ate);
    std::string text(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

void WriteAll(const std::string& APath, const std::string& AText) {
    std::ofstream(APath, std::ios::binary | std::ios::trunc) << AText;
}

const std::string MapHead = "\r\n Start         Length     Name                   Class\r\n"
                            " 0001:00401000 000031B44H _TEXT                  CODE\r\n"
                            "\r\nDetailed map of segments\r\n\r\n"
                            " 0001:00000000 00031B44 C=CODE S=.text G=(none) M=File1 ACBP=A9\r\n"
                            "\r\n\r\n  Address         Publics by Name\r\n\r\n";

// A folder for the benchmark's files, removed at exit.
struct TWorkDir {
    TWorkDir() {
        std::string pattern = (fs::temp_directory_path() / "vellinbench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            Path = pattern;
    }

    ~TWorkDir() {
        std::error_code error;
        if (!Path.empty())
            fs::remove_all(Path, error);
    }

    std::string File(const std::string& AName) const { return (Path / AName).string(); }

    fs::path Path;
};

TWorkDir& Work() {
    static TWorkDir dir;
    return dir;
}

// A TDS file shaped like the real ones: per module a few source files with rising lines, many
// header entries whose inline code repeats lines (dropped by the merge), procedures with
// mangled names, references to them in the global symbols, and a type blob that is passed over.
std::string GenerateTds(std::size_t AModules) {
    vellin::test::TTdsBuilder tds;
    std::uint32_t offset = 0x1000;
    for (std::size_t m = 0; m < AModules; ++m) {
        std::vector<vellin::test::TTdsSourceFile> files;
        std::vector<vellin::test::TTdsProcedure> procedures;
        const std::string unit = "Unit" + std::to_string(m);
        for (int f = 0; f < 2; ++f) {
            vellin::test::TTdsSourceFile file{
                "C:\\Projects\\Big\\" + unit + "_" + std::to_string(f) + ".cpp", {}};
            std::uint16_t line = 10;
            for (int r = 0; r < 8; ++r) {
                std::vector<vellin::test::TTdsLine> range;
                procedures.push_back({offset, "@" + unit + "@TForm" + std::to_string(f) +
                                                  "@Method" + std::to_string(r) +
                                                  "$qqrp14System@TObject"});
                line = static_cast<std::uint16_t>(line - 3); // loops step back a little
                for (int e = 0; e < 9; ++e) {
                    range.emplace_back(line, offset);
                    line = static_cast<std::uint16_t>(line + 1 + e % 3);
                    offset += 7;
                }
                range.emplace_back(0, offset);
                file.Ranges.push_back(std::move(range));
            }
            files.push_back(std::move(file));
        }
        for (int h = 0; h < 12; ++h) {
            vellin::test::TTdsSourceFile header{
                "C:\\Program Files\\Embarcadero\\include\\dinkumware64\\x" + std::to_string(h), {}};
            const auto base = static_cast<std::uint16_t>(200 + 37 * h);
            header.Ranges.push_back({{base, offset},
                                     {static_cast<std::uint16_t>(base + 1), offset + 4},
                                     {0, offset + 9}});
            header.Ranges.push_back({{base, offset + 9}, {0, offset + 12}});
            offset += 16;
            files.push_back(std::move(header));
        }
        for (const auto& procedure : procedures)
            tds.AddReference(procedure);
        tds.AddModule(files, procedures);
    }
    // Types take about a quarter of a real file.
    std::string types(AModules * 2800, '\0');
    for (std::size_t i = 0; i < types.size(); ++i)
        types[i] = static_cast<char>(i * 131 % 251);
    tds.AddRaw(0x12B, std::move(types));
    return tds.Build();
}

struct TPair {
    std::string Tds;
    std::string MapText;
    std::string Map;
};

const TPair& GeneratedPair() {
    static const TPair pair = [] {
        TPair p{Work().File("big.tds"), MapHead + " 0001:00000000       old\r\n",
                Work().File("big.map")};
        WriteAll(p.Tds, GenerateTds(5900));
        return p;
    }();
    return pair;
}

std::string TestData(const std::string& ARelative) {
    const char* folder = std::getenv("JEX_TESTDATA_DIR");
    return std::string(folder != nullptr && *folder != '\0' ? folder : JEX_TESTDATA_DIR) + "/" +
           ARelative;
}

const TPair& RealPair() {
    static const TPair pair = [] {
        TPair p{TestData("tds/udpserveur/Project1.tds"),
                ReadAll(TestData("tds/udpserveur/Project1.map")) + MapHead,
                Work().File("real.map")};
        return p;
    }();
    return pair;
}

void Copy(benchmark::State& AState, const TPair& APair) {
    if (!fs::exists(APair.Tds)) {
        AState.SkipWithError("test data not found");
        return;
    }
    WriteAll(APair.Map, APair.MapText);
    std::int64_t bytes = 0;
    for (auto _ : AState) {
        const std::string tds = ReadAll(APair.Tds);
        const std::string map = ReadAll(APair.Map);
        benchmark::DoNotOptimize(tds.data());
        benchmark::DoNotOptimize(map.data());
        bytes += static_cast<std::int64_t>(tds.size() + map.size());
    }
    AState.SetBytesProcessed(bytes);
}

void Merge(benchmark::State& AState, const TPair& APair) {
    if (!fs::exists(APair.Tds)) {
        AState.SkipWithError("test data not found");
        return;
    }
    std::int64_t bytes = 0;
    std::size_t written = 0;
    for (auto _ : AState) {
        AState.PauseTiming();
        WriteAll(APair.Map, APair.MapText);
        AState.ResumeTiming();
        vellin::MergeIntoMapFile(APair.Tds, APair.Map, vellin::BuiltInBorDebugApi());
        bytes += static_cast<std::int64_t>(fs::file_size(APair.Tds) + APair.MapText.size());
        written = fs::file_size(APair.Map);
    }
    AState.SetBytesProcessed(bytes);
    AState.counters["tds_MB"] = static_cast<double>(fs::file_size(APair.Tds)) / 1e6;
    AState.counters["map_out_MB"] = static_cast<double>(written) / 1e6;
}

void BM_RealPairCopy(benchmark::State& AState) {
    Copy(AState, RealPair());
}

void BM_RealPairMerge(benchmark::State& AState) {
    Merge(AState, RealPair());
}

void BM_Generated50MBCopy(benchmark::State& AState) {
    Copy(AState, GeneratedPair());
}

void BM_Generated50MBMerge(benchmark::State& AState) {
    Merge(AState, GeneratedPair());
}

BENCHMARK(BM_RealPairCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RealPairMerge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Generated50MBCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Generated50MBMerge)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
