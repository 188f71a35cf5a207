// tests/mapfile/JexmapfileTest.cpp - TJexMapFile on hand-made, generated and real map files.
#include "mapfile/Jexmapfile.h"

#include "mapfile/MapFormat.h"
#include "tests/mapfile/PlainMapReader.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
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

    void Open(const std::string& AText) { FMap.SetMapFileName(WriteMap(AText)); }

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
    Open(Join(SampleMap()));
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
    Open(Join(SampleMap()));
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

    Open(Join(SampleMap()));
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
    WriteMap(Join(map));
    FMap.LoadMapFile();
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
    Open(Join(SampleMap()));
    FMap.LoadUnitNames(nullptr);
    EXPECT_FALSE(FMap.MapLoaded());
    std::vector<std::string> units{"old"};
    FMap.LoadUnitNames(&units);
    EXPECT_TRUE(FMap.MapLoaded());
    EXPECT_EQ(units, (std::vector<std::string>{"System", "SysUtils", "Unit1", "System"}));
}
