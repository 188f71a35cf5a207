// tests/tool/VellinEndToEndTest.cpp - the built vellin binary run as a child process on every
// real TDS file, with a map made of the real map's content, a detailed segment table and the
// publics-by-name header (the C++Builder linker's own maps hold neither).
#include "tests/support/TempDir.h"
#include "tests/tool/ToolProcess.h"
#include "tool/TextUtils.h"
#include "tool/vellin.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vellin {
namespace {

using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;
using test::RunTool;

namespace fs = std::filesystem;

struct TRealPair {
    const char* Tds;
    const char* Map; // nullptr: the folder has no map
    const char* Unit;
};

const TRealPair RealPairs[] = {
    {"primehill/Test.tds", "primehill/Test.map", "File2"},
    {"udpserveur/Project1.tds", "udpserveur/Project1.map", "File1"},
    {"lexical/Project1.tds", nullptr, "Unit1"},
};

std::string TestData(const std::string& AName) {
    return test::TestDataPath("tds/" + AName);
}

// The part of the map vellin keeps: the real content, then a detailed segment table.
std::string MapHead(const TRealPair& APair) {
    std::string head = APair.Map != nullptr ? ReadFileBytes(TestData(APair.Map))
                                            : std::string("\r\n Start Length Name Class\r\n");
    head += "\r\nDetailed map of segments\r\n\r\n"
            " 0001:00000000 00031B44 C=CODE     S=.text    G=(none)   M=" +
            std::string(APair.Unit) + "    ACBP=A9\r\n\r\n\r\n";
    return head;
}

std::string MapFor(const TRealPair& APair) {
    return MapHead(APair) + "  Address         Publics by Name\r\n\r\n"
                            " 0001:000001F4       main\r\n\r\n";
}

struct TSection {
    std::string Header;
    std::vector<std::pair<long, std::string>> Entries; // line, offset text
};

// The rewritten tail, taken apart and checked for the layout on the way.
struct TParsedTail {
    std::vector<std::string> Publics;
    std::vector<TSection> Sections;
};

TParsedTail ParseTail(const std::vector<std::string>& ALines, std::size_t AFirst) {
    TParsedTail parsed;
    std::size_t i = AFirst;
    EXPECT_EQ(ALines.at(i++), "  Address         Publics by Value");
    EXPECT_EQ(ALines.at(i++), "");
    while (i < ALines.size() && !ALines[i].empty())
        parsed.Publics.push_back(ALines[i++]);
    EXPECT_LT(i, ALines.size());
    ++i;
    while (i < ALines.size()) {
        TSection section;
        section.Header = ALines[i++];
        EXPECT_EQ(section.Header.rfind("Line numbers for ", 0), 0u) << section.Header;
        EXPECT_EQ(ALines.at(i++), "");
        while (i < ALines.size() && !ALines[i].empty()) {
            const std::string& row = ALines[i++];
            EXPECT_TRUE(row.size() % 20 == 0 && row.size() <= 80) << row;
            for (std::size_t e = 0; e + 20 <= row.size(); e += 20) {
                EXPECT_EQ(row.substr(e + 6, 6), " 0001:") << row;
                section.Entries.emplace_back(std::stol(row.substr(e, 6)), row.substr(e + 12, 8));
            }
        }
        EXPECT_LT(i, ALines.size());
        ++i;
        parsed.Sections.push_back(std::move(section));
    }
    return parsed;
}

void PrintTo(const TRealPair& APair, std::ostream* AOut) {
    *AOut << APair.Tds;
}

class VellinEndToEndTest : public ::testing::TestWithParam<TRealPair> {
protected:
    void SetUp() override {
        if (!fs::exists(TestData(GetParam().Tds)))
            GTEST_SKIP() << "test data not found: " << TestData(GetParam().Tds);
        FMap = FDir.File("app.map");
        WriteFileBytes(FMap, MapFor(GetParam()));
    }

    TParsedTail RunAndParse() {
        const auto result = RunTool({VELLIN_PATH, TestData(GetParam().Tds), FMap});
        EXPECT_EQ(result.ExitCode, 0);
        EXPECT_EQ(result.Output, "");
        const std::string text = ReadFileBytes(FMap);
        // Every line in front of the publics header stays as it was; line ends become CR LF.
        const std::vector<std::string> head = SplitLines(MapHead(GetParam()));
        const std::vector<std::string> lines = SplitLines(text);
        EXPECT_EQ(std::vector<std::string>(lines.begin(),
                                           lines.begin() + std::min(head.size(), lines.size())),
                  head);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
        EXPECT_EQ(text.find('\n') - 1, text.find('\r'));
        return ParseTail(lines, head.size());
    }

    TempDir FDir;
    std::string FMap;
};

TEST_P(VellinEndToEndTest, WritesSortedPublicsAndAscendingLineSections) {
    const TParsedTail tail = RunAndParse();
    ASSERT_FALSE(tail.Publics.empty());
    for (std::size_t i = 0; i < tail.Publics.size(); ++i) {
        const std::string& line = tail.Publics[i];
        ASSERT_GT(line.size(), 21u);
        EXPECT_EQ(line.substr(0, 6), " 0001:");
        EXPECT_EQ(line.substr(14, 7), "       ");
        EXPECT_NE(line.substr(21, 2), "@$") << line;
        if (i > 0) {
            EXPECT_LT(AnsiCompareText(tail.Publics[i - 1], line), 0)
                << "out of order or duplicate: " << tail.Publics[i - 1] << " / " << line;
        }
    }
    ASSERT_FALSE(tail.Sections.empty());
    for (const TSection& section : tail.Sections) {
        ASSERT_FALSE(section.Entries.empty()) << section.Header;
        for (std::size_t i = 1; i < section.Entries.size(); ++i)
            EXPECT_GT(section.Entries[i].first, section.Entries[i - 1].first) << section.Header;
        EXPECT_GT(section.Entries[0].first, 0);
    }
}

TEST_P(VellinEndToEndTest, ASecondRunFindsNoPublicsHeaderAndChangesNothing) {
    RunAndParse();
    const std::string once = ReadFileBytes(FMap);
    const auto result = RunTool({VELLIN_PATH, TestData(GetParam().Tds), FMap});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Output, "Exception EVellinError: Invalid map file: " + FMap + "\n");
    EXPECT_EQ(ReadFileBytes(FMap), once);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, VellinEndToEndTest, ::testing::ValuesIn(RealPairs),
                         [](const ::testing::TestParamInfo<TRealPair>& AInfo) {
                             return std::string(AInfo.param.Unit);
                         });

const TSection* FindSection(const TParsedTail& ATail, const std::string& AHeader) {
    for (const TSection& section : ATail.Sections)
        if (section.Header == AHeader)
            return &section;
    return nullptr;
}

TEST(VellinFactsTest, PrimehillMainAndItsLines) {
    TempDir dir;
    const TRealPair pair = RealPairs[0];
    if (!fs::exists(TestData(pair.Tds)))
        GTEST_SKIP() << "test data not found";
    const std::string map = dir.File("Test.map");
    WriteFileBytes(map, MapFor(pair));
    ASSERT_EQ(RunTool({VELLIN_PATH, TestData(pair.Tds), map}).ExitCode, 0);
    const std::vector<std::string> lines = SplitLines(ReadFileBytes(map));
    const TParsedTail tail = ParseTail(lines, SplitLines(MapHead(pair)).size());
    EXPECT_EQ(tail.Publics.front(), " 0001:000001F4       main");
    ASSERT_EQ(tail.Sections.size(), 1u);
    EXPECT_EQ(tail.Sections[0].Header, "Line numbers for File2(File2.cpp) segment .text");
    const std::vector<std::pair<long, std::string>> expected = {
        {40, "000001F4"}, {43, "0000020F"}, {44, "00000238"}, {45, "000002A0"}, {46, "000002AD"}};
    EXPECT_EQ(tail.Sections[0].Entries, expected);
    // The one imported reference would have shown up as a public at a tiny "offset".
    for (const std::string& line : tail.Publics)
        EXPECT_GE(line.substr(6, 8), "000001F4") << line;
}

TEST(VellinFactsTest, UdpServeurMainAndFileSections) {
    TempDir dir;
    const TRealPair pair = RealPairs[1];
    if (!fs::exists(TestData(pair.Tds)))
        GTEST_SKIP() << "test data not found";
    const std::string map = dir.File("Project1.map");
    WriteFileBytes(map, MapFor(pair));
    ASSERT_EQ(RunTool({VELLIN_PATH, TestData(pair.Tds), map}).ExitCode, 0);
    const TParsedTail tail =
        ParseTail(SplitLines(ReadFileBytes(map)), SplitLines(MapHead(pair)).size());
    EXPECT_NE(std::find(tail.Publics.begin(), tail.Publics.end(), " 0001:000005B0       main"),
              tail.Publics.end());
    // File entry 0 of File1.cpp holds only a line 0 entry; entry 8 holds main's lines.
    const TSection* file1 = FindSection(tail, "Line numbers for File1(File1.cpp) segment .text");
    ASSERT_NE(file1, nullptr);
    ASSERT_GE(file1->Entries.size(), 3u);
    EXPECT_EQ(file1->Entries[0], (std::pair<long, std::string>{15, "000005B0"}));
    EXPECT_EQ(file1->Entries[1], (std::pair<long, std::string>{17, "000005C3"}));
    EXPECT_EQ(file1->Entries[2], (std::pair<long, std::string>{18, "000005E7"}));
    const TSection* systemError =
        FindSection(tail, "Line numbers for system_error(system_error) segment .text");
    ASSERT_NE(systemError, nullptr);
    EXPECT_EQ(systemError->Entries.front(), (std::pair<long, std::string>{717, "0000041C"}));
}

TEST(VellinCommandLineTest, WithOneArgumentTheMapIsTheTdsPathWithMapExtension) {
    TempDir dir;
    const TRealPair pair = RealPairs[0];
    if (!fs::exists(TestData(pair.Tds)))
        GTEST_SKIP() << "test data not found";
    fs::copy_file(TestData(pair.Tds), dir.File("Test.tds"));
    WriteFileBytes(dir.File("Test.map"), MapFor(pair));
    const auto result = RunTool({VELLIN_PATH, "Test.tds"}, dir.Path().string());
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Output, "");
    EXPECT_NE(ReadFileBytes(dir.File("Test.map")).find("Line numbers for File2"),
              std::string::npos);

    fs::rename(dir.File("Test.tds"), dir.File("Plain"));
    WriteFileBytes(dir.File("Plain.map"), MapFor(pair));
    EXPECT_EQ(RunTool({VELLIN_PATH, "Plain", "ignored", "too"}, dir.Path().string()).ExitCode, 1);
    EXPECT_EQ(RunTool({VELLIN_PATH, "Plain"}, dir.Path().string()).ExitCode, 0);
    EXPECT_NE(ReadFileBytes(dir.File("Plain.map")).find("Publics by Value"), std::string::npos);
}

TEST(VellinCommandLineTest, WithoutArgumentsPrintsTheUsageText) {
    const auto result = RunTool({VELLIN_PATH});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Output, "VELLIN v1.2\n\nadd the source lines from tds into mapfile.\n\n"
                             "vellin.exe <tds_file_name> [<map_file_name>]\n");
}

TEST(VellinCommandLineTest, TheInvalidatedFileGivesTheOpenErrorAndLeavesTheMap) {
    const std::string tds = TestData("raytrace-invalidated/pix.tds");
    if (!fs::exists(tds))
        GTEST_SKIP() << "test data not found: " << tds;
    TempDir dir;
    const std::string map = dir.File("pix.map");
    const std::string content = ReadFileBytes(TestData("raytrace-invalidated/pix.map")) +
                                "  Address         Publics by Name\r\n";
    WriteFileBytes(map, content);
    const auto result = RunTool({VELLIN_PATH, tds, map});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Output, "Exception EVellinError: Cannot open the debug file: " + tds + ".\n");
    EXPECT_EQ(ReadFileBytes(map), content);
}

TEST(VellinCommandLineTest, AMissingMapIsReportedWithExitCodeOne) {
    const std::string tds = TestData("lexical/Project1.tds");
    if (!fs::exists(tds))
        GTEST_SKIP() << "test data not found: " << tds;
    TempDir dir;
    const auto result = RunTool({VELLIN_PATH, tds, dir.File("none.map")});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Output.rfind(
                  "Exception EFOpenError: Cannot open file \"" + dir.File("none.map") + "\".", 0),
              0u);
    EXPECT_FALSE(fs::exists(dir.File("none.map")));
}

} // namespace
} // namespace vellin
