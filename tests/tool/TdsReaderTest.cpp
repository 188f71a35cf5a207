// tests/tool/TdsReaderTest.cpp - the built-in TDS reader on the real files (facts checked against
// their sources and executables), on embedded and FB09 data, and on damaged files.
#include "tool/TdsReader.h"

#include "tests/support/TempDir.h"
#include "tests/tool/TdsBuilder.h"
#include "tests/tool/ToolProcess.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vellin {
namespace {

using jex::test::ReadFileBytes;

std::string TdsPath(const std::string& AName) {
    return test::TestDataPath("tds/" + AName);
}

#define REQUIRE_TDS(path)                                                                          \
    if (!std::filesystem::exists(path))                                                            \
    GTEST_SKIP() << "test data not found: " << (path)

std::uint32_t FirstOfKind(const TTdsFile& AFile, std::uint16_t AKind) {
    for (std::uint32_t i = 0; i < AFile.SubSectionCount(); ++i)
        if (AFile.SubSection(i).Kind == AKind)
            return i;
    return UINT32_MAX;
}

std::vector<std::pair<std::int32_t, std::int32_t>> Lines(const TTdsFile& AFile,
                                                         std::uint32_t AOffset,
                                                         std::uint32_t AFileIndex,
                                                         std::uint32_t ARange) {
    const std::uint16_t count = AFile.SrcRange(AOffset, AFileIndex, ARange).Count;
    std::vector<std::int32_t> lines(count);
    std::vector<std::int32_t> offsets(count);
    AFile.SrcLines(AOffset, AFileIndex, ARange, lines.data(), offsets.data());
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
    for (std::size_t i = 0; i < count; ++i)
        pairs.emplace_back(lines[i], offsets[i]);
    return pairs;
}

// Procedures (0x205 in 0x125) and references (0x20 in 0x129) the reader reports.
struct TProcedures {
    std::vector<std::pair<std::string, std::uint32_t>> Procs;
    std::size_t References = 0;
};

TProcedures Procedures(const TTdsFile& AFile) {
    TProcedures result;
    for (std::uint32_t i = 0; i < AFile.SubSectionCount(); ++i) {
        const TTdsSubSection section = AFile.SubSection(i);
        if (section.Kind != TdsAlignSym && section.Kind != TdsGlobalSym)
            continue;
        TTdsSymbolWalk walk = AFile.StartSymbols(section.Kind, section.Offset, section.Size);
        TTdsSymbol symbol;
        while (AFile.NextSymbol(walk, symbol)) {
            if (section.Kind == TdsAlignSym && symbol.Kind == TdsGProc32)
                result.Procs.emplace_back(AFile.Name(AFile.U32(symbol.Offset, 40)),
                                          AFile.U32(symbol.Offset, 28));
            if (section.Kind == TdsGlobalSym && symbol.Kind == TdsGProcRef) {
                ++result.References;
                EXPECT_NE(AFile.U16(symbol.Offset, 24), TdsImportSegment);
            }
        }
    }
    return result;
}

using TLines = std::vector<std::pair<std::int32_t, std::int32_t>>;

TEST(TTdsFileTest, ReadsThePrimehillFile) {
    const std::string path = TdsPath("primehill/Test.tds");
    REQUIRE_TDS(path);
    const auto file = TTdsFile::Open(path);
    ASSERT_EQ(file->SubSectionCount(), 7u);
    const std::uint16_t kinds[] = {0x120, 0x120, 0x125, 0x127, 0x129, 0x12B, 0x130};
    for (std::uint32_t i = 0; i < 7; ++i)
        EXPECT_EQ(file->SubSection(i).Kind, kinds[i]) << "subsection " << i;
    EXPECT_EQ(file->NameCount(), 2114u);
    EXPECT_EQ(file->Name(1), "c0ntx.asm");
    EXPECT_EQ(file->Name(0), "");
    EXPECT_EQ(file->Name(2115), "");

    const std::uint32_t src = file->SubSection(3).Offset;
    ASSERT_EQ(file->SrcFileCount(src), 1);
    EXPECT_EQ(file->SrcFileName(src, 0), 42u);
    EXPECT_EQ(file->Name(42),
              "C:\\Users\\User\\Documents\\Embarcadero\\Studio\\Projects\\File2.cpp");
    ASSERT_EQ(file->SrcRangeCount(src, 0), 1);
    const TTdsRange range = file->SrcRange(src, 0, 0);
    EXPECT_EQ(range.Segment, 1);
    EXPECT_EQ(range.Start, 0x1F4u);
    EXPECT_EQ(range.End, 0x2B8u);
    EXPECT_EQ(
        Lines(*file, src, 0, 0),
        (TLines{{40, 0x1F4}, {43, 0x20F}, {44, 0x238}, {45, 0x2A0}, {46, 0x2AD}, {0, 0x2B8}}));

    const TProcedures procedures = Procedures(*file);
    ASSERT_EQ(procedures.Procs.size(), 1u);
    EXPECT_EQ(procedures.Procs[0].first, "main");
    EXPECT_EQ(procedures.Procs[0].second, 0x1F4u);
    EXPECT_EQ(procedures.References, 325u); // 326 references, one imported
}

TEST(TTdsFileTest, ReadsTheLexicalFileWithItsCyrillicPath) {
    const std::string path = TdsPath("lexical/Project1.tds");
    REQUIRE_TDS(path);
    const auto file = TTdsFile::Open(path);
    EXPECT_EQ(file->SubSectionCount(), 7u);
    EXPECT_EQ(file->NameCount(), 706u);
    const std::uint32_t src = file->SubSection(FirstOfKind(*file, TdsSrcModule)).Offset;
    ASSERT_EQ(file->SrcFileCount(src), 1);
    EXPECT_EQ(file->SrcFileName(src, 0), 30u);
    const std::string name = file->Name(30);
    EXPECT_EQ(name.substr(name.size() - 17), "Scanner\\Unit1.cpp");
    EXPECT_EQ(Lines(*file, src, 0, 0),
              (TLines{{9, 0x360}, {11, 0x364}, {12, 0x36B}, {13, 0x36D}, {0, 0x370}}));
    const TProcedures procedures = Procedures(*file);
    ASSERT_EQ(procedures.Procs.size(), 1u);
    EXPECT_EQ(procedures.Procs[0], (std::pair<std::string, std::uint32_t>{"main", 0x360}));
    EXPECT_LE(procedures.References, 28u);
}

TEST(TTdsFileTest, ReadsTheUdpServeurFile) {
    const std::string path = TdsPath("udpserveur/Project1.tds");
    REQUIRE_TDS(path);
    const auto file = TTdsFile::Open(path);
    EXPECT_EQ(file->SubSectionCount(), 10u);
    EXPECT_EQ(file->NameCount(), 3121u);
    ASSERT_EQ(file->SubSection(4).Kind, TdsSrcModule);
    const std::uint32_t src = file->SubSection(4).Offset;
    ASSERT_EQ(file->SrcFileCount(src), 244);
    EXPECT_EQ(file->SrcFileName(src, 0), 1600u);
    EXPECT_EQ(Lines(*file, src, 0, 0), (TLines{{0, 0x43C}}));
    EXPECT_EQ(file->SrcFileName(src, 1), 1601u);
    EXPECT_EQ(Lines(*file, src, 1, 0), (TLines{{717, 0x41C}, {0, 0x435}}));
    EXPECT_EQ(file->SrcFileName(src, 8), 1600u);
    const TLines main = Lines(*file, src, 8, 0);
    ASSERT_GE(main.size(), 3u);
    EXPECT_EQ(TLines(main.begin(), main.begin() + 3),
              (TLines{{15, 0x5B0}, {17, 0x5C3}, {18, 0x5E7}}));
    std::size_t ranges = 0;
    for (std::uint32_t j = 0; j < 244; ++j)
        ranges += file->SrcRangeCount(src, j);
    EXPECT_EQ(ranges, 533u);

    const TProcedures procedures = Procedures(*file);
    EXPECT_EQ(procedures.Procs.size(), 547u);
    EXPECT_EQ(procedures.References, 1246u - 8u); // eight imported from WS2_32.DLL and others
    EXPECT_EQ(file->Name(630), "main");
    bool foundMain = false;
    for (const auto& [name, offset] : procedures.Procs)
        foundMain = foundMain || (name == "main" && offset == 0x5B0);
    EXPECT_TRUE(foundMain);
}

TEST(TTdsFileTest, RefusesTheInvalidatedFile) {
    const std::string path = TdsPath("raytrace-invalidated/pix.tds");
    REQUIRE_TDS(path);
    EXPECT_THROW(TTdsFile::Open(path), std::runtime_error);
}

TEST(TTdsFileTest, FindsDebugDataEmbeddedAtTheEndOfAnotherFile) {
    const std::string path = TdsPath("primehill/Test.tds");
    REQUIRE_TDS(path);
    // An executable image in front; the trailer's distance still leads back to the data.
    const std::string embedded =
        std::string("MZ") + std::string(4094, '\x90') + ReadFileBytes(path);
    TTdsFile file(embedded);
    ASSERT_EQ(file.SubSectionCount(), 7u);
    EXPECT_EQ(file.SubSection(3).Offset, 5128u);
    EXPECT_EQ(Lines(file, file.SubSection(3).Offset, 0, 0)[2],
              (std::pair<std::int32_t, std::int32_t>{44, 0x238}));
    EXPECT_EQ(Procedures(file).Procs.at(0).first, "main");
}

TEST(TTdsFileTest, AcceptsTheFB09SignatureAndNoOther) {
    test::TTdsBuilder tds;
    tds.AddModule({{"a.pas", {{{3, 0x10}}}}}, {{0x10, "Proc"}});
    EXPECT_EQ(TTdsFile(tds.Build("FB09")).SubSectionCount(), 4u);
    EXPECT_EQ(TTdsFile(tds.Build("FB0A")).SubSectionCount(), 4u);
    EXPECT_THROW(TTdsFile(tds.Build("NB09")), std::runtime_error);
}

TEST(TTdsFileTest, RefusesEveryTruncationOfARealFile) {
    const std::string path = TdsPath("primehill/Test.tds");
    REQUIRE_TDS(path);
    const std::string data = ReadFileBytes(path);
    for (std::size_t size : {std::size_t{0}, std::size_t{7}, std::size_t{8}, std::size_t{100},
                             std::size_t{5200}, std::size_t{136300}, data.size() - 1}) {
        EXPECT_THROW(TTdsFile(data.substr(0, size)), std::runtime_error) << "size " << size;
    }
}

// A built file whose bytes at APos are overwritten with AValue must be refused.
void ExpectRefusedWith(std::size_t APos, std::uint32_t AValue, const char* AWhat) {
    test::TTdsBuilder tds;
    tds.AddModule({{"a.cpp", {{{3, 0x10}, {4, 0x14}}}}}, {{0x10, "Proc"}});
    tds.AddReference({0x10, "Proc"});
    std::string data = tds.Build();
    ASSERT_NO_THROW(TTdsFile{data});
    test::TTdsBuilder::SetU32(data, APos, AValue);
    EXPECT_THROW(TTdsFile{data}, std::runtime_error) << AWhat;
}

TEST(TTdsFileTest, RefusesCorruptStructures) {
    // Layout of the built file: header 8, directory header 16, four entries of 12 bytes
    // (0x125 at 72, 0x127, 0x129, 0x130), then the subsections in that order.
    ExpectRefusedWith(4, 0xFFFFFF00, "directory outside the data");
    ExpectRefusedWith(8, 0x000C0004, "directory header too small");
    ExpectRefusedWith(12, 0x10000000, "entry count too large");
    ExpectRefusedWith(16, 8, "directory chain loops");
    ExpectRefusedWith(24 + 4, 0x7FFFFFF0, "subsection offset outside the data");
    ExpectRefusedWith(24 + 8, 0x7FFFFFF0, "subsection size outside the data");
    ExpectRefusedWith(72 + 4, 0x0000FFFF, "GPROC32 record longer than its subsection");
    ExpectRefusedWith(72 + 44, 999, "GPROC32 name index past the names table");
    ExpectRefusedWith(72 + 50 + 2, 0x00FFFFFF, "source module with too many files");
}

TEST(TTdsFileTest, OperationsOnUnknownHandlesAndArgumentsAnswerZeros) {
    const TBorDebugApi& api = BuiltInBorDebugApi();
    std::int32_t error = 0;
    EXPECT_EQ(api.RegisterFile("/nonexistent/x.tds", 0, -1, &error), 0);
    EXPECT_NE(error, 0);
    EXPECT_EQ(api.SubSectionCount(12345), 0);
    std::int32_t kind = 7, offset = 7, third = 7;
    api.NextSymbol(12345, &kind, &offset, &third);
    EXPECT_EQ(kind + offset + third, 0);
    char buffer[8] = "xxxxxxx";
    api.NameIndexToName(12345, 1, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
}

TEST(TTdsFileTest, NamesAreCutToTheCallersBuffer) {
    test::TTdsBuilder tds;
    tds.AddModule({}, {{0x10, std::string(255, 'n')}});
    jex::test::TempDir dir;
    const std::string path = dir.File("long.tds");
    jex::test::WriteFileBytes(path, tds.Build());
    const TBorDebugApi& api = BuiltInBorDebugApi();
    std::int32_t error = 1;
    const std::int32_t handle = api.RegisterFile(path.c_str(), 0, -1, &error);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(error, 0);
    char small[11];
    EXPECT_EQ(api.NameIndexToName(handle, 1, small, sizeof small), 10);
    EXPECT_EQ(std::string(small), std::string(10, 'n'));
    std::int32_t start = -1, end = -1, bogusKind = 0, bogusSize = 0;
    api.SubSection(handle, 999, &bogusKind, &start, &end, &bogusSize);
    EXPECT_EQ(bogusKind, 0);
    api.UnregisterFile(handle);
    EXPECT_EQ(api.SubSectionCount(handle), 0);
}

} // namespace
} // namespace vellin
