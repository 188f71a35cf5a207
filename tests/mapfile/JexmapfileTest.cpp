// tests/mapfile/JexmapfileTest.cpp - TJexMapFile on hand-made, generated and real map files.
#include "mapfile/Jexmapfile.h"

#include "mapfile/MapFormat.h"
#include "mapfile/MapIndex.h"
#include "platform/PlatformServices.h"
#include "platform/fake/File.h"
#include "tests/mapfile/PlainMapReader.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <tuple>
#include <unistd.h>

using namespace jex;

namespace {

const void* At(std::uint32_t AAddress) {
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(AAddress));
}

std::string Join(const std::vector<std::string>& ALines, const char* ABreak = "\r\n") {
    std::string text;
    for (const std::string& line : ALines)
        text.append(line).append(ABreak);
    return text;
}

// A small Delphi-style map: the thread-local public first, data publics after the code ones.
std::vector<std::string> SampleMap() {
    return {
        " Start         Length     Name                   Class",
        " 0001:00000000 00001000H .text                   CODE",
        "",
        "Detailed map of segments",
        "",
        " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=System   ACBP=A9",
        " 0001:00000100 00000100 C=CODE     S=.text    G=(none)   M=SysUtils ACBP=A9",
        " 0001:00000200 00000100 C=CODE     S=.text    G=(none)   M=Unit1    ACBP=A9",
        " 0002:00000000 00000010 C=DATA     S=.data    G=DGROUP   M=System   ACBP=A9",
        "",
        "",
        "  Address         Publics by Name",
        "",
        " 0001:00000010       Alpha",
        " 0001:00000100       Format",
        "",
        "",
        "  Address         Publics by Value",
        "",
        " 0002:FFB72010       TlsLast",
        " 0001:00000010       Alpha",
        " 0001:00000080       Beta",
        " 0001:00000100       Format",
        " 0001:00000200       TForm1.Button1Click",
        " 0001:00000240       TForm1.FormCreate",
        " 0002:00000004       Data1",
        "",
        "",
        "Line numbers for SysUtils(SysUtils.pas) segment .text",
        "",
        "    10 0001:00000100    11 0001:00000110    12 0001:00000120    14 0001:00000130",
        "    15 0001:00000140",
        "",
        "Line numbers for Unit1(Unit1.pas) segment .text",
        "",
        "    30 0001:00000200    31 0001:00000210    35 0001:00000240    36 0001:00000250",
        "",
        "Bound resource files",
        "",
        "Unit1.dfm",
        "",
        "Program entry point at 0001:00000200",
    };
}

struct Resolved {
    Resolved(std::string AUnit, std::string AProcedure, std::int32_t ALine)
        : Unit(std::move(AUnit))
        , Procedure(std::move(AProcedure))
        , Line(ALine) {}

    std::string Unit;
    std::string Procedure;
    std::int32_t Line;

    bool operator==(const Resolved&) const = default;
};

std::ostream& operator<<(std::ostream& AOut, const Resolved& AValue) {
    return AOut << "{" << AValue.Unit << ", " << AValue.Procedure << ", " << AValue.Line << "}";
}

class TJexMapFileTest : public ::testing::Test {
protected:
    std::string WriteMap(const std::string& AText, const std::string& AName = "app.map") {
        const std::string path = FDir.File(AName);
        test::WriteFileBytes(path, AText);
        return path;
    }

    /// Loads AText as the map, without a file.
    void Open(const std::string& AText) { FMap.LoadMapText(AText); }

    /// Writes AText as the map file and points the reader at it.
    void OpenFile(const std::string& AText) { FMap.SetMapFileName(WriteMap(AText)); }

    Resolved Resolve(std::uint32_t ARelative) {
        FMap.LoadExceptionData(At(ARelative + 0x00401000u));
        EXPECT_TRUE(FMap.DataLoaded());
        EXPECT_EQ(FMap.RelativeAddress(), ARelative);
        return {FMap.UnitName(), FMap.ProcedureName(), FMap.LineNumber()};
    }

    test::TempDir FDir;
    TJexMapFile FMap;
};

} // namespace

// ---- Construction and loading ------------------------------------------------------------

TEST_F(TJexMapFileTest, StartsEmptyAndUnloaded) {
    EXPECT_FALSE(FMap.MapLoaded());
    EXPECT_FALSE(FMap.DataLoaded());
    EXPECT_EQ(FMap.MapFileName(), "");
    EXPECT_EQ(FMap.BaseAddress(), 0x00401000u);
    EXPECT_EQ(FMap.RelativeAddress(), 0u);
    EXPECT_EQ(FMap.LineNumber(), 0);
    EXPECT_EQ(FMap.UnitName(), "");
    EXPECT_EQ(FMap.ProcedureName(), "");
}

TEST_F(TJexMapFileTest, LoadSplitsTheThreeRegions) {
    OpenFile(Join(SampleMap()));
    FMap.LoadMapFile();
    EXPECT_TRUE(FMap.MapLoaded());
    ASSERT_EQ(FMap.SegmentLines().size(), 6u);
    EXPECT_EQ(FMap.SegmentLines()[0].substr(0, 14), " 0001:00000000");
    EXPECT_EQ(FMap.SegmentLines()[5], "");
    ASSERT_EQ(FMap.PublicLines().size(), 9u);
    EXPECT_EQ(FMap.PublicLines()[0], " 0002:FFB72010       TlsLast");
    ASSERT_EQ(FMap.LineNumberLines().size(), 14u);
    EXPECT_EQ(FMap.LineNumberLines().back(), "Program entry point at 0001:00000200");
}

TEST_F(TJexMapFileTest, MissingOrEmptyPathGivesEmptyResultsWithDataLoaded) {
    FMap.LoadExceptionData(At(0x00401010));
    EXPECT_TRUE(FMap.MapLoaded());
    EXPECT_TRUE(FMap.DataLoaded());
    EXPECT_EQ(FMap.UnitName(), "");

    FMap.SetMapFileName(FDir.File("absent.map"));
    EXPECT_FALSE(FMap.MapLoaded());
    FMap.LoadExceptionData(At(0x00401010));
    EXPECT_TRUE(FMap.MapLoaded());
    EXPECT_TRUE(FMap.DataLoaded());
    EXPECT_EQ(FMap.RelativeAddress(), 0x10u);
    EXPECT_EQ(FMap.ProcedureName(), "");
    EXPECT_EQ(FMap.LineNumber(), 0);

    // A folder of that name is no map either.
    FMap.SetMapFileName(FDir.Path().string());
    FMap.LoadExceptionData(At(0x00401010));
    EXPECT_TRUE(FMap.MapLoaded());
    EXPECT_TRUE(FMap.SegmentLines().empty());
}

TEST_F(TJexMapFileTest, MapCreatedAfterFirstLookupIsReadOnlyOnceThePathChangesOrOnRequest) {
    const std::string path = FDir.File("late.map");
    FMap.SetMapFileName(path);
    EXPECT_EQ(Resolve(0x10).Procedure, "");
    test::WriteFileBytes(path, Join(SampleMap()));
    FMap.SetMapFileName(path);
    EXPECT_EQ(Resolve(0x10).Procedure, "");
    FMap.LoadMapFile();
    EXPECT_EQ(Resolve(0x10).Procedure, "Alpha");
}

TEST_F(TJexMapFileTest, ReloadReplacesTheListsAndTheIndex) {
    OpenFile(Join(SampleMap()));
    EXPECT_EQ(Resolve(0x10).Procedure, "Alpha");
    std::vector<std::string> changed = SampleMap();
    changed[20] = " 0001:00000010       Gamma";
    WriteMap(Join(changed));
    FMap.LoadMapFile();
    EXPECT_EQ(Resolve(0x10).Procedure, "Gamma");
}

TEST_F(TJexMapFileTest, UnopenableFileRaisesAndLeavesTheMapUnloaded) {
    // A socket exists but cannot be opened as a file, even by root.
    const std::string path = FDir.File("socket.map");
    const int handle = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(handle, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    OpenFile(Join(SampleMap()));
    FMap.LoadMapFile();
    FMap.SetMapFileName(path);
    try {
        FMap.LoadExceptionData(At(0x00401010));
        ADD_FAILURE() << "no exception";
    } catch (const host::EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + path);
    }
    ::close(handle);
    EXPECT_FALSE(FMap.MapLoaded());
    EXPECT_FALSE(FMap.DataLoaded());
    EXPECT_TRUE(FMap.SegmentLines().empty());
    EXPECT_TRUE(FMap.PublicLines().empty());
    std::vector<std::string> names{"stale"};
    EXPECT_THROW(FMap.LoadUnitNames(&names), host::EFOpenError);
    EXPECT_TRUE(names.empty());

    // The next call tries again.
    std::filesystem::remove(path);
    test::WriteFileBytes(path, Join(SampleMap()));
    EXPECT_EQ(Resolve(0x10).Procedure, "Alpha");
}

TEST_F(TJexMapFileTest, ReadFailureRaisesReadError) {
    // Reading a process's memory at address 0 fails after a successful open.
    FMap.SetMapFileName("/proc/self/mem");
    EXPECT_THROW(FMap.LoadMapFile(), host::EReadError);
    EXPECT_FALSE(FMap.MapLoaded());
}

TEST_F(TJexMapFileTest, IoErrorWhileReadingLeavesTheMapUnloadedAndTheNextLookupReadsIt) {
    platform::TFakeFileService files;
    platform::TScopedPlatformServices services({.Files = &files});
    OpenFile(Join(SampleMap()));
    files.Fail(platform::fkRead, 1, EIO);
    EXPECT_THROW(FMap.LoadExceptionData(At(0x00401010)), host::EReadError);
    EXPECT_FALSE(FMap.MapLoaded());
    EXPECT_FALSE(FMap.DataLoaded());
    EXPECT_TRUE(FMap.SegmentLines().empty());
    EXPECT_EQ(Resolve(0x10).Procedure, "Alpha");
    EXPECT_TRUE(FMap.MapLoaded());
}

TEST_F(TJexMapFileTest, FifoOrDeviceAsTheMapCountsAsNoMapAndNeverBlocks) {
    // A FIFO nobody writes would block a plain open forever, /dev/zero feed it without end.
    const std::string fifo = FDir.File("fifo.map");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        Open(Join(SampleMap()));
        FMap.SetMapFileName(path);
        EXPECT_EQ(Resolve(0x10), (Resolved{"", "", 0}));
        EXPECT_TRUE(FMap.MapLoaded());
        EXPECT_TRUE(FMap.SegmentLines().empty());
    }
}

TEST_F(TJexMapFileTest, TextLoadsLikeTheFileAndLeavesTheFileNameAlone) {
    OpenFile(Join(SampleMap()));
    const Resolved fromFile = Resolve(0x110);
    const std::string name = FMap.MapFileName();
    FMap.LoadMapText(Join(SampleMap()));
    EXPECT_TRUE(FMap.MapLoaded());
    EXPECT_EQ(FMap.MapFileName(), name);
    EXPECT_EQ(Resolve(0x110), fromFile);
    FMap.LoadMapText("");
    EXPECT_TRUE(FMap.MapLoaded());
    EXPECT_EQ(Resolve(0x110), (Resolved{"", "", 0}));
}

// ---- Resolving -------------------------------------------------------------------------------

TEST_F(TJexMapFileTest, ResolvesExactAndBetweenAddresses) {
    Open(Join(SampleMap()));
    EXPECT_EQ(Resolve(0x110), (Resolved{"SysUtils", "Format", 11}));
    EXPECT_EQ(Resolve(0x118), (Resolved{"SysUtils", "Format", 11}));
    EXPECT_EQ(Resolve(0x140), (Resolved{"SysUtils", "Format", 15}));
    EXPECT_EQ(Resolve(0x240), (Resolved{"Unit1", "TForm1.FormCreate", 35}));
    EXPECT_EQ(Resolve(0x23F), (Resolved{"Unit1", "TForm1.Button1Click", 31}));
    EXPECT_EQ(Resolve(0xFF), (Resolved{"System", "Beta", 0}));
}

TEST_F(TJexMapFileTest, AddressesOutsideTheTablesKeepTheirDocumentedResults) {
    Open(Join(SampleMap()));
    // Beyond the last entry of its section: no line.
    EXPECT_EQ(Resolve(0x150), (Resolved{"SysUtils", "Format", 0}));
    // Below the first code public: the thread-local public before it is not taken.
    EXPECT_EQ(Resolve(0x5), (Resolved{"System", "", 0}));
    // Past the last code segment: still its module (the data segment's line after it, which
    // starts at 0 again, is not taken); above the last code public: no procedure.
    EXPECT_EQ(Resolve(0x300), (Resolved{"Unit1", "", 0}));
    // Below BaseAddress the address wraps to a huge offset.
    EXPECT_EQ(Resolve(0xFFFFFFF0u), (Resolved{"Unit1", "", 0}));
}

TEST_F(TJexMapFileTest, NullAddressTakesTheExceptionBeingHandled) {
    Open(Join(SampleMap()));
    EXPECT_EQ(Resolve(0x110).Line, 11);
    FMap.LoadExceptionData(nullptr);
    EXPECT_FALSE(FMap.DataLoaded());
    EXPECT_EQ(FMap.RelativeAddress(), 0u);
    EXPECT_EQ(FMap.UnitName(), "");
    EXPECT_EQ(FMap.ProcedureName(), "");
    EXPECT_EQ(FMap.LineNumber(), 0);

    try {
        throw host::EConvertError("x");
    } catch (...) {
        FMap.LoadExceptionData(nullptr);
        const auto where = reinterpret_cast<std::uintptr_t>(host::ExceptAddr());
        ASSERT_NE(where, 0u);
        EXPECT_TRUE(FMap.DataLoaded());
        EXPECT_EQ(FMap.RelativeAddress(), static_cast<std::uint32_t>(where) - 0x00401000u);
    }
}

TEST_F(TJexMapFileTest, UnitNamedInsideAnEarlierHeaderTakesThatSection) {
    std::vector<std::string> map = SampleMap();
    map[7] = " 0001:00000200 00000100 C=CODE     S=.text    G=(none)   M=Sys      ACBP=A9";
    map[33] = "Line numbers for Sys(Sys.pas) segment .text";
    Open(Join(map));
    // "Sys" is first found in the SysUtils header, whose entries end below 0x200.
    EXPECT_EQ(Resolve(0x210), (Resolved{"Sys", "TForm1.Button1Click", 0}));
    map[35] = "    30 0001:00000130    31 0001:00000210";
    map[31] = "    15 0001:00000140    16 0001:00000208    17 0001:00000300";
    Open(Join(map));
    EXPECT_EQ(Resolve(0x210), (Resolved{"Sys", "TForm1.Button1Click", 16}));
}

TEST_F(TJexMapFileTest, LongLineNumbersFillOrWidenTheirEntries) {
    std::vector<std::string> map = SampleMap();
    map[35] = "123456 0001:00000200    31 0001:00000210    35 0001:00000240";
    map.insert(map.begin() + 36, "1234567 0001:00000250    40 0001:00000260");
    map.insert(map.begin() + 37, "    50 0001:00000270");
    Open(Join(map));
    EXPECT_EQ(Resolve(0x200).Line, 123456);
    // The widened row is dropped whole: its offset field no longer holds hex digits.
    EXPECT_EQ(Resolve(0x250).Line, 35);
    EXPECT_EQ(Resolve(0x265).Line, 35);
    EXPECT_EQ(Resolve(0x270).Line, 50);
}

TEST_F(TJexMapFileTest, RowsCutShortAndMalformedEntriesEndTheirRow) {
    std::vector<std::string> map = SampleMap();
    map[35] = "    30 0001:00000200    31 0001:0000021";
    map.insert(map.begin() + 36, "    xx 0001:00000220    33 0001:00000230");
    map.insert(map.begin() + 37, "    34 0001:0000023G    35 0001:00000240");
    map.insert(map.begin() + 38, "    36 0001:00000244");
    Open(Join(map));
    // The cut field "0000021" is read as 0x21, below the address, so it sets the candidate.
    EXPECT_EQ(Resolve(0x205).Line, 31);
    // "xx" ends its row before 0x230 is read; "0000023G" ends its row at once.
    EXPECT_EQ(Resolve(0x232).Line, 31);
    EXPECT_EQ(Resolve(0x240).Line, 31);
    EXPECT_EQ(Resolve(0x244).Line, 36);
    EXPECT_EQ(Resolve(0x245).Line, 0);
}

// ---- The layouts of real linkers and of vellin ---------------------------------------------

TEST_F(TJexMapFileTest, ThirteenSpaceHeadersOfNewerDelphiAreRead) {
    std::vector<std::string> map = SampleMap();
    map[11] = "  Address             Publics by Name";
    map[17] = "  Address             Publics by Value";
    Open(Join(map));
    EXPECT_EQ(Resolve(0x240), (Resolved{"Unit1", "TForm1.FormCreate", 35}));
    std::vector<std::string> units;
    FMap.LoadUnitNames(&units);
    EXPECT_EQ(units, (std::vector<std::string>{"System", "SysUtils", "Unit1", "System"}));
    host::TStringList list;
    list.Add("old");
    FMap.LoadUnitNames(&list);
    EXPECT_EQ(list.Text(), "System\r\nSysUtils\r\nUnit1\r\nSystem\r\n");
}

TEST_F(TJexMapFileTest, CppBuilderPublicsKeepTheirWholeName) {
    std::vector<std::string> map = SampleMap();
    map[11] = " Address Publics by Name";
    map[17] = " Address Publics by Value";
    map[23] = " 0001:00000200  _main";
    Open(Join(map, "\n"));
    EXPECT_EQ(Resolve(0x200).Procedure, "_main");
}

TEST_F(TJexMapFileTest, MapRewrittenByVellinIsFullyReadable) {
    namespace mf = jex::mapformat;
    const std::vector<std::string> sample = SampleMap();
    std::vector<std::string> map(sample.begin(), sample.begin() + 10);
    map.emplace_back(mf::PublicsByValueLine);
    map.emplace_back("");
    map.push_back(mf::FormatPublicLine(0x100, "Format"));
    map.push_back(mf::FormatPublicLine(0x200, "Button1Click"));
    map.push_back(mf::FormatPublicLine(0x280, "FormCreate"));
    map.emplace_back("");
    map.push_back(mf::FormatLineSectionHeader("Unit1", "Unit1.pas"));
    map.emplace_back("");
    map.push_back(mf::FormatLineEntry(30, 0x200) + mf::FormatLineEntry(31, 0x210));
    map.emplace_back("");
    Open(Join(map));
    EXPECT_EQ(Resolve(0x20C), (Resolved{"Unit1", "Button1Click", 30}));
    EXPECT_EQ(FMap.SegmentLines().size(), 5u);
}

TEST_F(TJexMapFileTest, LoadUnitNamesListsEverySegmentsModule) {
    OpenFile(Join(SampleMap()));
    FMap.LoadUnitNames(static_cast<std::vector<std::string>*>(nullptr));
    FMap.LoadUnitNames(static_cast<host::TStrings*>(nullptr));
    EXPECT_FALSE(FMap.MapLoaded());
    std::vector<std::string> units{"old"};
    FMap.LoadUnitNames(&units);
    EXPECT_TRUE(FMap.MapLoaded());
    EXPECT_EQ(units, (std::vector<std::string>{"System", "SysUtils", "Unit1", "System"}));
}

// ---- Index against the plain scans -----------------------------------------------------------

namespace {

// Random maps with everything that has ever bent a scan: ascending and shuffled tables,
// duplicates, malformed and cut-short fields, foreign segments, header spellings, long line
// numbers, unit names contained in other names (and made of hex digits only).
class MapGenerator {
public:
    explicit MapGenerator(unsigned ASeed)
        : FRandom(ASeed) {}

    std::string Generate() {
        FOffsets.clear();
        std::vector<std::string> lines;
        for (int i = Pick(0, 3); i > 0; --i)
            lines.push_back(Chance(0.3) ? "Publics by Name" : "head " + std::to_string(Pick(0, 9)));
        if (!Chance(0.05))
            lines.push_back(Chance(0.8) ? "Detailed map of segments"
                                        : "** Detailed map of segments **");
        lines.push_back(Chance(0.85) ? "" : SegmentLine());
        for (int i = Pick(0, 12); i > 0; --i)
            lines.push_back(Chance(0.1) ? "" : Mangle(SegmentLine()));
        if (Chance(0.85)) {
            lines.push_back(Header("Publics by Name"));
            lines.emplace_back("");
            for (int i = Pick(0, 4); i > 0; --i)
                lines.push_back(PublicLine(Pick(0, 0x1800)));
        }
        if (Chance(0.9)) {
            lines.push_back(Header("Publics by Value"));
            lines.push_back(Chance(0.9) ? "" : PublicLine(Pick(0, 0x1800)));
        }
        std::vector<std::string> publics;
        if (Chance(0.4))
            publics.push_back(" 0002:FFB72010       TlsLast");
        std::uint32_t offset = static_cast<std::uint32_t>(Pick(0, 0x40));
        for (int i = Pick(0, 30); i > 0; --i) {
            offset += static_cast<std::uint32_t>(Chance(0.15) ? 0 : Pick(1, 0x100));
            publics.push_back(Chance(0.05) ? "" : Mangle(PublicLine(offset)));
        }
        Shuffle(publics, 0.25);
        lines.insert(lines.end(), publics.begin(), publics.end());
        lines.emplace_back("");
        for (int s = Pick(0, 6); s > 0; --s)
            AddSection(lines);
        if (Chance(0.5)) {
            lines.insert(lines.end(), {"", "Bound resource files", "", "Unit1.dfm", ""});
            lines.push_back("Program entry point at 0001:" + Hex(Pick(0, 0x1800)));
        }
        return Join(lines);
    }

    /// Addresses worth asking about: every offset written, its neighbours, and a few extremes.
    std::vector<std::uint32_t> Addresses() {
        std::vector<std::uint32_t> addresses;
        for (std::uint32_t offset : FOffsets)
            for (std::uint32_t delta : {0u, 1u, 0xFFFFFFFFu})
                addresses.push_back(offset + delta + 0x00401000u);
        for (int i = 0; i < 20; ++i)
            addresses.push_back(static_cast<std::uint32_t>(Pick(0, 0x1900)) + 0x00401000u);
        addresses.insert(addresses.end(), {0x00401000u, 0x00400FFFu, 0xFFFFFFFFu, 1u});
        return addresses;
    }

private:
    int Pick(int ALow, int AHigh) {
        return std::uniform_int_distribution<int>(ALow, AHigh)(FRandom);
    }

    bool Chance(double AProbability) { return std::bernoulli_distribution(AProbability)(FRandom); }

    template <typename T>
    const T& OneOf(const std::vector<T>& AValues) {
        return AValues[static_cast<std::size_t>(Pick(0, static_cast<int>(AValues.size()) - 1))];
    }

    template <typename T>
    void Shuffle(std::vector<T>& AValues, double AProbability) {
        if (Chance(AProbability))
            std::shuffle(AValues.begin(), AValues.end(), FRandom);
    }

    std::string Hex(int AValue) {
        FOffsets.push_back(static_cast<std::uint32_t>(AValue));
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, Chance(0.05) ? "%08x" : "%08X", AValue);
        return buffer;
    }

    std::string Unit() {
        static const std::vector<std::string> units{"Sys",    "SysUtils", "System",  "Unit1",
                                                    "Unit10", "DB",       "DBGrids", "A",
                                                    "mc68k",  "Forms",    "pas",     "0001"};
        return OneOf(units);
    }

    std::string Spaces(int ACount) { return std::string(static_cast<std::size_t>(ACount), ' '); }

    std::string Header(const std::string& ATitle) {
        static const std::vector<int> gaps{1, 9, 13, 9, 2};
        std::string gap = Spaces(OneOf(gaps));
        if (Chance(0.05))
            gap = Chance(0.5) ? "\t" : "";
        return Spaces(Pick(0, 2)) + "Address" + gap + ATitle + (Chance(0.1) ? " x" : "");
    }

    std::string SegmentLine() {
        const std::string segment = Chance(0.15) ? "0002" : "0001";
        std::string unit = Unit();
        unit.resize(std::max<std::size_t>(unit.size(), 8), ' ');
        std::string line = " " + segment + ":" + Hex(Pick(0, 0x1800)) + " " + Hex(Pick(0, 0x400)) +
                           " C=CODE     S=.text    G=(none)   ";
        const int shape = Pick(0, 19);
        if (shape == 0)
            return line + "ACBP=A9 M=" + unit;
        if (shape == 1)
            return line + "M=" + unit;
        if (shape == 2)
            return line + "M=ACBP=A9";
        return line + "M=" + unit + " ACBP=A9";
    }

    std::string PublicLine(std::uint32_t AOffset) {
        static const std::vector<std::string> names{"Alpha", "TForm1.Click", "@System@Halt", "x",
                                                    "  padded  "};
        static const std::vector<int> gaps{7, 7, 7, 2, 0, 1};
        const std::string segment = Chance(0.12) ? "0002" : "0001";
        return " " + segment + ":" + Hex(static_cast<int>(AOffset)) + Spaces(OneOf(gaps)) +
               OneOf(names);
    }

    std::string Number() {
        const int shape = Pick(0, 19);
        if (shape == 0)
            return std::to_string(Pick(1000000, 99999999)); // widens the entry
        if (shape == 1)
            return "   x" + std::to_string(Pick(0, 9));
        if (shape == 2)
            return std::to_string(Pick(100000, 999999));
        std::string number = std::to_string(Pick(1, 9999));
        return Spaces(6 - static_cast<int>(number.size())) + number;
    }

    void AddSection(std::vector<std::string>& ALines) {
        const std::string unit = Unit();
        ALines.push_back("Line numbers for " + unit + "(" + unit + ".pas) segment .text");
        if (!Chance(0.25))
            ALines.emplace_back("");
        std::vector<std::string> entries;
        int offset = Pick(0, 0x1000);
        for (int i = Pick(1, 14); i > 0; --i) {
            offset += Chance(0.1) ? 0 : Pick(1, 0x60);
            entries.push_back(Number() + " 0001:" + Hex(offset));
        }
        Shuffle(entries, 0.2);
        std::string row;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            row += entries[i];
            if (i % 4 == 3 || i + 1 == entries.size()) {
                ALines.push_back(Chance(0.1) ? Mangle(Mangle(Mangle(row))) : Mangle(row));
                row.clear();
            }
        }
        ALines.emplace_back("");
    }

    // Now and then cuts a line short or breaks one character.
    std::string Mangle(std::string ALine) {
        if (ALine.empty() || !Chance(0.12))
            return ALine;
        const auto at = static_cast<std::size_t>(Pick(0, static_cast<int>(ALine.size()) - 1));
        if (Chance(0.5))
            ALine.resize(at);
        else
            ALine[at] = OneOf(std::vector<char>{'G', ' ', '-', 'a', '\t', ':'});
        return ALine;
    }

    std::string Join(const std::vector<std::string>& ALines) {
        static const std::vector<std::string> breaks{"\r\n", "\n", "\r"};
        const int style = Pick(0, 3);
        std::string text;
        for (const std::string& line : ALines)
            text += line + (style < 3 ? breaks[static_cast<std::size_t>(style)] : OneOf(breaks));
        if (Chance(0.2) && !text.empty())
            text.pop_back();
        return text;
    }

    std::mt19937 FRandom;
    std::vector<std::uint32_t> FOffsets;
};

} // namespace

TEST_F(TJexMapFileTest, IndexGivesTheResultsOfThePlainScansOnRandomMaps) {
    std::size_t resolvedLines = 0;
    std::size_t resolvedProcedures = 0;
    for (unsigned seed = 1; seed <= 1000; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        MapGenerator generator(seed);
        const std::string text = generator.Generate();
        test::PlainMapReader plain;
        plain.Load(text);
        FMap.LoadMapText(text);
        ASSERT_EQ(FMap.SegmentLines(), plain.Segments);
        ASSERT_EQ(FMap.PublicLines(), plain.Publics);
        ASSERT_EQ(FMap.LineNumberLines(), plain.LineNumbers);
        std::vector<std::string> units;
        FMap.LoadUnitNames(&units);
        ASSERT_EQ(units, plain.UnitNames());
        for (std::uint32_t address : generator.Addresses()) {
            const test::PlainMapReader::Result expected = plain.Lookup(address);
            FMap.LoadExceptionData(At(address));
            ASSERT_EQ(Resolved(FMap.UnitName(), FMap.ProcedureName(), FMap.LineNumber()),
                      Resolved(expected.Unit, expected.Procedure, expected.Line))
                << "address " << std::hex << address;
            ASSERT_EQ(FMap.RelativeAddress(), expected.Relative);
            resolvedLines += expected.Line != 0;
            resolvedProcedures += !expected.Procedure.empty();
        }
    }
    // The generator must reach the interesting paths, not only empty results.
    EXPECT_GT(resolvedLines, 900u);
    EXPECT_GT(resolvedProcedures, 20000u);
}

// ---- Real maps -----------------------------------------------------------------------------

namespace {

struct RealSection {
    std::string Header;
    std::vector<std::pair<std::uint32_t, std::int32_t>> Entries; // offset, line
};

bool IsHex(const std::string& AText) {
    return AText.size() == 8 && std::all_of(AText.begin(), AText.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

// The map read token by token, independently of the reader's column rules.
struct RealMap {
    std::vector<std::string> Units;
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::string>> CodeSegments;
    std::vector<std::pair<std::uint32_t, std::string>> CodePublics;
    std::vector<RealSection> Sections;

    explicit RealMap(const std::string& AText) {
        enum { head, segments, names, values, lines } region = head;

        for (const std::string& line : test::PlainMapReader::SplitLines(AText)) {
            if (line.find("Detailed map of segments") != std::string::npos) {
                region = segments;
            } else if (line.find("Publics by Name") != std::string::npos) {
                region = names;
            } else if (line.find("Publics by Value") != std::string::npos) {
                region = values;
            } else if (line.starts_with("Line numbers for ")) {
                region = lines;
                Sections.push_back({line, {}});
            } else if (region == segments && line.find("M=") != std::string::npos &&
                       line.find("ACBP=") != std::string::npos) {
                std::istringstream fields(line.substr(line.find("M=") + 2));
                std::string name;
                fields >> name;
                Units.push_back(name);
                if (line.starts_with(" 0001:") && IsHex(line.substr(6, 8)) &&
                    IsHex(line.substr(15, 8)))
                    CodeSegments.emplace_back(std::stoul(line.substr(6, 8), nullptr, 16),
                                              std::stoul(line.substr(15, 8), nullptr, 16), name);
            } else if (region == values && line.starts_with(" 0001:") && IsHex(line.substr(6, 8))) {
                std::istringstream fields(line.substr(14));
                std::string name;
                std::getline(fields >> std::ws, name);
                while (!name.empty() && name.back() == ' ')
                    name.pop_back();
                CodePublics.emplace_back(std::stoul(line.substr(6, 8), nullptr, 16), name);
            } else if (region == lines) {
                for (std::size_t at = line.find(" 0001:"); at != std::string::npos;
                     at = line.find(" 0001:", at + 1)) {
                    std::size_t digits = at;
                    while (digits > 0 && std::isdigit(static_cast<unsigned char>(line[digits - 1])))
                        --digits;
                    if (digits < at && IsHex(line.substr(at + 6, 8)))
                        Sections.back().Entries.emplace_back(
                            std::stoul(line.substr(at + 6, 8), nullptr, 16),
                            std::stoi(line.substr(digits, at - digits)));
                }
            }
        }
    }

    std::string UnitAt(std::uint32_t AOffset) const {
        for (const auto& [start, length, name] : CodeSegments)
            if (AOffset >= start && AOffset < start + length)
                return name;
        return "";
    }

    // Lines of the entries nearest at or below AOffset in the first section whose header holds
    // AUnit; empty when AOffset lies outside that section.
    std::vector<std::int32_t> LinesAt(const std::string& AUnit, std::uint32_t AOffset) const {
        for (const RealSection& section : Sections) {
            if (section.Header.find(AUnit) == std::string::npos)
                continue;
            std::uint32_t best = 0;
            bool any = false;
            bool above = false;
            for (const auto& [offset, line] : section.Entries) {
                above = above || offset >= AOffset;
                if (offset <= AOffset && (!any || offset > best)) {
                    best = offset;
                    any = true;
                }
            }
            std::vector<std::int32_t> lines;
            if (any && above)
                for (const auto& [offset, line] : section.Entries)
                    if (offset == best)
                        lines.push_back(line);
            return lines;
        }
        return {};
    }
};

} // namespace

TEST_F(TJexMapFileTest, PreparedLookupsGiveTheResultsOfLoadExceptionDataAndLeaveThemAlone) {
    for (unsigned seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        MapGenerator generator(seed);
        FMap.SetMapFileName(
            WriteMap(generator.Generate(), "prepared" + std::to_string(seed) + ".map"));
        TJexMapFile fresh;
        fresh.SetMapFileName(FMap.MapFileName());
        fresh.LoadMapFile();
        EXPECT_EQ(fresh.PositionOf(At(0x00401000u)).Procedure, "") << "nothing before preparing";
        FMap.PrepareLookups();
        const std::vector<std::uint32_t> addresses = generator.Addresses();
        ASSERT_FALSE(addresses.empty());
        FMap.LoadExceptionData(At(addresses.front()));
        const auto kept = Resolved(FMap.UnitName(), FMap.ProcedureName(), FMap.LineNumber());
        std::vector<TMapPosition> positions;
        for (std::uint32_t address : addresses)
            positions.push_back(FMap.PositionOf(At(address)));
        // PositionOf does not touch the results the report and the dialog read.
        ASSERT_EQ(Resolved(FMap.UnitName(), FMap.ProcedureName(), FMap.LineNumber()), kept);
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            FMap.LoadExceptionData(At(addresses[i]));
            ASSERT_EQ(Resolved(std::string(positions[i].Unit), std::string(positions[i].Procedure),
                               positions[i].Line),
                      Resolved(FMap.UnitName(), FMap.ProcedureName(), FMap.LineNumber()))
                << "address " << std::hex << addresses[i];
        }
    }
}

TEST_F(TJexMapFileTest, RealMapsListTheirModulesAndResolveTheirPublics) {
    const std::filesystem::path folder = std::filesystem::path(JEX_TESTDATA_DIR) / "maps";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "real map files not found in " << folder;
    std::size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (item.path().extension() != ".map")
            continue;
        ++files;
        SCOPED_TRACE(item.path().filename().string());
        const RealMap real(test::ReadFileBytes(item.path().string()));
        ASSERT_GT(real.CodePublics.size(), 1000u);
        FMap.SetMapFileName(item.path().string());
        std::vector<std::string> units;
        FMap.LoadUnitNames(&units);
        EXPECT_EQ(units, real.Units);

        std::size_t checked = 0;
        std::size_t withLine = 0;
        for (std::size_t i = 0; i < real.CodePublics.size(); i += 10) {
            const auto& [offset, name] = real.CodePublics[i];
            FMap.LoadExceptionData(At(offset + 0x00401000u));
            ASSERT_EQ(FMap.ProcedureName(), name) << std::hex << offset;
            ASSERT_EQ(FMap.UnitName(), real.UnitAt(offset)) << std::hex << offset;
            const std::vector<std::int32_t> lines = real.LinesAt(FMap.UnitName(), offset);
            if (lines.empty()) {
                EXPECT_EQ(FMap.LineNumber(), 0) << name;
            } else {
                EXPECT_NE(std::find(lines.begin(), lines.end(), FMap.LineNumber()), lines.end())
                    << name << " got line " << FMap.LineNumber();
                ++withLine;
            }
            ++checked;
        }
        // The project's own units carry line numbers; their publics must resolve to lines.
        EXPECT_GT(withLine, 5u) << "of " << checked;
    }
    EXPECT_EQ(files, 3u);
}
