// tests/tool/MapReaderRoundTripTest.cpp - a map rewritten by vellin, read back by the suite's
// map reader: the procedures' offsets resolve to unit, procedure and source line.
//
// Built only when the reader (mapfile/Jexmapfile.h) is part of the tree.
#if __has_include("mapfile/Jexmapfile.h")
#include "mapfile/Jexmapfile.h"
#include "tests/support/TempDir.h"
#include "tests/tool/ToolProcess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

namespace vellin {
namespace {

using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

struct TLookup {
    std::uint32_t Offset;
    const char* Unit;
    const char* Procedure;
    int Line;
};

// Rewrites a map made of the real map, a one-module segment table and the publics header, then
// resolves each offset through the reader.
void ExpectResolved(const std::string& ATds, const std::string& AMap, const std::string& AUnit,
                    const std::vector<TLookup>& ALookups) {
    const std::string tds = test::TestDataPath(ATds);
    if (!std::filesystem::exists(tds))
        GTEST_SKIP() << "test data not found: " << tds;
    TempDir dir;
    const std::string map = dir.File("app.map");
    WriteFileBytes(map, ReadFileBytes(test::TestDataPath(AMap)) +
                            "\r\nDetailed map of segments\r\n\r\n"
                            " 0001:00000000 00031B44 C=CODE     S=.text    G=(none)   M=" +
                            AUnit + "    ACBP=A9\r\n\r\n\r\n  Address         Publics by Name\r\n");
    ASSERT_EQ(test::RunTool({VELLIN_PATH, tds, map}).ExitCode, 0);
    jex::TJexMapFile reader;
    reader.SetMapFileName(map);
    for (const TLookup& lookup : ALookups) {
        SCOPED_TRACE(lookup.Offset);
        reader.LoadExceptionData(reinterpret_cast<const void*>(
            static_cast<std::uintptr_t>(0x00401000u + lookup.Offset)));
        EXPECT_EQ(reader.UnitName(), lookup.Unit);
        EXPECT_EQ(reader.ProcedureName(), lookup.Procedure);
        EXPECT_EQ(reader.LineNumber(), lookup.Line);
    }
}

TEST(MapReaderRoundTripTest, ResolvesPrimehillMainToItsLines) {
    ExpectResolved("tds/primehill/Test.tds", "tds/primehill/Test.map", "File2",
                   {{0x1F4, "File2", "main", 40},
                    {0x20F, "File2", "main", 43},
                    {0x240, "File2", "main", 44},
                    {0x2AD, "File2", "main", 46}});
}

TEST(MapReaderRoundTripTest, ResolvesUdpServeurMainToItsLines) {
    ExpectResolved(
        "tds/udpserveur/Project1.tds", "tds/udpserveur/Project1.map", "File1",
        {{0x5B0, "File1", "main", 15}, {0x5C3, "File1", "main", 17}, {0x5E7, "File1", "main", 18}});
}

} // namespace
} // namespace vellin
#endif
