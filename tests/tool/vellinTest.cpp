// tests/tool/vellinTest.cpp - the merge: name conversion, padding, file names, and whole runs
// of ReadTdsFile and MergeIntoMapFile over TDS files built for the case at hand.
#include "tool/vellin.h"

#include "mapfile/MapFormat.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/tool/TdsBuilder.h"
#include "tool/TdsReader.h"
#include "tool/TextUtils.h"
#include "tool/VellinError.h"

#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellin {
namespace {

using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;
using test::TTdsBuilder;

TEST(VellinTest, ConvertSymbolNameFollowsTheManglingRules) {
    const struct {
        const char* Raw;
        const char* Expected;
    } cases[] = {
        {"main", "main"},         // not mangled: unchanged
        {"_WinMain", "_WinMain"}, //
        {"", ""},                 //
        {"@", ""},                // "@" alone is not written
        {"@$xp$11Exception", ""}, // "@$" names are never written
        {"@$bdtr$qv", ""},        //
        {"@Unit1@TForm1@Button1Click$qqrp14System@TObject", "Unit1.TForm1.Button1Click"},
        {"@Sysutils@Format$qqrx17System@AnsiStringpx14System@TVarRecxi", "Sysutils.Format"},
        {"@Unit1@Proc%Tpl%$qv", "Unit1.Proc"}, // cut at "%" after "$"
        {"@Unit1@Proc%Tpl", "Unit1.Proc"},     // cut at "%"
        {"@Unit1@", "Unit1"},                  // a final "@" is dropped
        {"@@", ""},                            // nothing left but the cut "@"
        {"@A@@B", "A._B"},                     // "@@": the second "@" becomes "_"
        {"@a@@b@@c", "a._b.@c"},        // only the first "@@"; a later one keeps its second "@"
        {"@A@B@C@D$qv", "@A@B@C@D$qv"}, // four parts: raw name
        {"@A@B@C$qv", "A.B.C"},         // three parts
        {"@A@@@B", "A._.B"},            // the character after "@" is passed over
        {"@std@pmr@_New_del_resource@do_allocate$quiui",
         "@std@pmr@_New_del_resource@do_allocate$quiui"},
        {"@Foo$", "Foo"},
    };

    for (const auto& c : cases)
        EXPECT_EQ(ConvertSymbolName(c.Raw), c.Expected) << "raw: " << c.Raw;
}

// The conversion as first written, step by step on a copy; the tool's own works in fewer
// passes and must agree with it on every name.
std::string ConvertStepByStep(const std::string& ARawName) {
    if (ARawName.empty() || ARawName[0] != '@')
        return ARawName;
    if (ARawName.size() == 1 || ARawName[1] == '$')
        return {};
    std::string w = ARawName;
    if (const std::size_t dollar = w.find('$'); dollar != std::string::npos)
        w.resize(dollar);
    if (const std::size_t percent = w.find('%'); percent != std::string::npos)
        w.resize(percent);
    if (!w.empty() && w.back() == '@')
        w.pop_back();
    if (w.empty())
        return ARawName;
    w.erase(0, 1);
    if (const std::size_t twin = w.find("@@"); twin != std::string::npos)
        w[twin + 1] = '_';
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] == '@') {
            w[i] = '.';
            ++i;
        }
    }
    std::size_t parts = 0;
    for (std::size_t start = 0; start < w.size(); ++parts) {
        const std::size_t dot = w.find('.', start);
        if (dot == std::string::npos) {
            ++parts;
            break;
        }
        start = dot + 1;
    }
    if (parts >= 4)
        return ARawName;
    if (!w.empty() && w.back() == '.')
        w.pop_back();
    return w;
}

TEST(VellinTest, ConvertSymbolNameAgreesWithTheStepByStepRulesOnEveryShortName) {
    const std::string alphabet = "@$%.a";
    std::vector<std::string> names = {""};
    for (std::size_t from = 0, length = 0; length < 7; ++length) {
        const std::size_t to = names.size();
        for (std::size_t n = from; n < to; ++n)
            for (char c : alphabet)
                names.push_back(names[n] + c);
        from = to;
    }
    std::string work = "left over";
    for (const std::string& name : names) {
        ASSERT_EQ(ConvertSymbolName(name), ConvertStepByStep(name)) << name;
        ASSERT_EQ(ConvertSymbolName(std::string_view(name), work), ConvertStepByStep(name)) << name;
    }
}

TEST(VellinTest, PadLineNumberRightAlignsInSixCharactersWithoutCutting) {
    EXPECT_EQ(PadLineNumber(1), "     1");
    EXPECT_EQ(PadLineNumber(40), "    40");
    EXPECT_EQ(PadLineNumber(22892), " 22892");
    EXPECT_EQ(PadLineNumber(999999), "999999");
    EXPECT_EQ(PadLineNumber(1234567), "1234567");
}

TEST(VellinTest, SourceFileNameTakesThePartAfterTheLastBackslashOrColon) {
    EXPECT_EQ(SourceFileName("C:\\Users\\User\\Projects\\File2.cpp"), "File2.cpp");
    EXPECT_EQ(SourceFileName("C:File2.cpp"), "File2.cpp");
    EXPECT_EQ(SourceFileName("Windows.pas"), "Windows.pas");
    EXPECT_EQ(SourceFileName("C:\\src/sub/a.cpp"), "src\\sub\\a.cpp");
    EXPECT_EQ(SourceFileName("dir\\"), "");
}

TEST(VellinTest, ChangeFileExtReplacesOrAppendsTheExtensionOfTheFileName) {
    EXPECT_EQ(ChangeFileExt("Project1.tds", ".map"), "Project1.map");
    EXPECT_EQ(ChangeFileExt("dir/a.b.tds", ".map"), "dir/a.b.map");
    EXPECT_EQ(ChangeFileExt("Project1", ".map"), "Project1.map");
    EXPECT_EQ(ChangeFileExt("some.dir/Project1", ".map"), "some.dir/Project1.map");
}

// A map whose publics-by-name section the tool replaces.
const std::string SampleHead = "\r\n Start         Length     Name                   Class\r\n"
                               " 0001:00401000 000001000H _TEXT                  CODE\r\n"
                               "\r\nDetailed map of segments\r\n\r\n"
                               " 0001:00000000 00001000 C=CODE S=.text G=(none) M=Unit1 ACBP=A9\r\n"
                               "\r\n\r\n";
const std::string SampleMap = SampleHead + "  Address         Publics by Name\r\n\r\n"
                                           " 0001:00000010       Old\r\n";

class VellinMergeTest : public ::testing::Test {
protected:
    std::string WriteTds(TTdsBuilder& ABuilder) {
        const std::string path = FDir.File("test.tds");
        WriteFileBytes(path, ABuilder.Build());
        return path;
    }

    std::vector<std::string> Tail(TTdsBuilder& ABuilder) {
        std::vector<std::string> tail;
        ReadTdsFile(WriteTds(ABuilder), tail, BuiltInBorDebugApi());
        return tail;
    }

    TempDir FDir;
};

TEST_F(VellinMergeTest, WritesSortedPublicsAndRisingLinesInRowsOfFour) {
    TTdsBuilder tds;
    tds.AddModule(
        {{"C:\\src\\Unit1.cpp",
          {{{10, 0x100}, {11, 0x104}, {12, 0x108}, {13, 0x10C}, {14, 0x110}, {0, 0x114}}}}},
        {{0x200, "@Unit1@Beta$qv"}, {0x100, "@Unit1@Alpha$qv"}});
    const std::vector<std::string> expected = {
        "  Address         Publics by Value",
        "",
        " 0001:00000100       Unit1.Alpha",
        " 0001:00000200       Unit1.Beta",
        "",
        "Line numbers for Unit1(Unit1.cpp) segment .text",
        "",
        "    10 0001:00000100    11 0001:00000104    12 0001:00000108    13 0001:0000010C",
        "    14 0001:00000110",
        "",
    };
    EXPECT_EQ(Tail(tds), expected);
}

TEST_F(VellinMergeTest, DropsLinesThatFallBackUntilAHigherOneComes) {
    TTdsBuilder tds;
    tds.AddModule(
        {{"a.cpp",
          {{{5, 0x10}, {7, 0x14}, {7, 0x18}, {6, 0x1C}}, {{3, 0x20}, {8, 0x24}, {0, 0x28}}}}},
        {});
    const std::vector<std::string> tail = Tail(tds);
    ASSERT_GE(tail.size(), 7u);
    EXPECT_EQ(tail[3], "Line numbers for a(a.cpp) segment .text");
    EXPECT_EQ(tail[5], "     5 0001:00000010     7 0001:00000014     8 0001:00000024");
    EXPECT_EQ(tail[6], "");
    EXPECT_EQ(tail.size(), 7u);
}

TEST_F(VellinMergeTest, RemovesTheHeaderOfAFileWithoutLineEntries) {
    TTdsBuilder tds;
    tds.AddModule({{"empty.cpp", {{{0, 0x10}}}}, {"b.h", {{{2, 0x20}}}}, {"none.h", {}}}, {});
    const std::vector<std::string> expected = {"  Address         Publics by Value",
                                               "",
                                               "",
                                               "Line numbers for b(b.h) segment .text",
                                               "",
                                               "     2 0001:00000020",
                                               ""};
    EXPECT_EQ(Tail(tds), expected);
}

TEST_F(VellinMergeTest, WithoutProceduresThePublicsHeaderIsFollowedByTwoEmptyLines) {
    TTdsBuilder tds;
    const std::vector<std::string> expected = {"  Address         Publics by Value", "", ""};
    EXPECT_EQ(Tail(tds), expected);
}

TEST_F(VellinMergeTest, KeepsOneOfEqualPublicsAndOrdersNamesAtOneOffset) {
    TTdsBuilder tds;
    tds.AddModule({}, {{0x40, "zeta"}, {0x40, "Alpha"}, {0x40, "alpha"}, {0x10, "@$xp$4Test"}});
    tds.AddReference({0x40, "ALPHA"});
    tds.AddReference({0x40, "zeta"});
    tds.AddReference({0x30, "@Unit1@Proc$qv"});
    const std::vector<std::string> expected = {
        "  Address         Publics by Value", "",
        " 0001:00000030       Unit1.Proc",    " 0001:00000040       Alpha",
        " 0001:00000040       zeta",          "",
    };
    EXPECT_EQ(Tail(tds), expected);
}

TEST_F(VellinMergeTest, ManyPublicsAtOneOffsetKeepTheWordSortOrderAndTheFirstOfEqualOnes) {
    // Enough lines at each offset for every way the merge sorts them, names met more than once
    // in other letter cases, and the order built independently from the lines' sort keys.
    TTdsBuilder tds;
    std::vector<test::TTdsProcedure> procedures;
    std::map<std::string, std::string> byKey;
    const char* stems[] = {"a-b", "ab", "a_b", "a1",  "zed", "co-op", "coop", "\xE9t\xE9", "ete",
                           "b",   "b2", "b-2", "c'd", "cd",  "c d",   "c_d",  "\xE8s"};
    for (std::uint32_t offset : {0x40u, 0x80u}) {
        for (std::size_t copy = 0; copy < 3; ++copy) {
            for (std::size_t i = 0; i < std::size(stems); ++i) {
                // Each name three times, in a letter case that depends on where it is met.
                std::string name = stems[(i + offset) % std::size(stems)];
                for (std::size_t c = 0; c < name.size(); ++c)
                    if ((copy + i) % 3 == 1 || ((copy + i) % 3 == 2 && c == 0))
                        name[c] =
                            static_cast<char>(std::toupper(static_cast<unsigned char>(name[c])));
                procedures.push_back({offset, name});
                const std::string line = jex::mapformat::FormatPublicLine(offset, name);
                byKey.try_emplace(AnsiSortKey(line), line);
            }
        }
    }
    tds.AddModule({}, procedures);
    std::vector<std::string> expected = {"  Address         Publics by Value", ""};
    for (const auto& [key, line] : byKey)
        expected.push_back(line);
    expected.push_back("");
    ASSERT_EQ(byKey.size(), 2 * std::size(stems));
    EXPECT_EQ(Tail(tds), expected);
}

TEST_F(VellinMergeTest, NamesHoldingLineBreaksSplitIntoLinesOfTheirOwn) {
    TTdsBuilder tds;
    tds.AddModule({{"C:\\src\\Un\nit.cpp", {{{5, 0x100}, {0, 0x104}}}},
                   {"x\r.cpp", {{{7, 0x300}, {0, 0x304}}}}},
                  {{0x100, "a\rb"}, {0x200, "c\r\nd\n"}, {0x200, "\n"}, {0x300, "e\r\r\nf"}});
    const std::string map = FDir.File("app.map");
    WriteFileBytes(map, "head\r\n  Address         Publics by Name\r\n");
    MergeIntoMapFile(WriteTds(tds), map, BuiltInBorDebugApi());
    EXPECT_EQ(ReadFileBytes(map), "head\r\n  Address         Publics by Value\r\n\r\n"
                                  " 0001:00000100       a\r\nb\r\n"
                                  " 0001:00000200       \r\n"
                                  " 0001:00000200       c\r\nd\r\n"
                                  " 0001:00000300       e\r\n\r\nf\r\n"
                                  "\r\n"
                                  "Line numbers for Un\r\nit(Un\r\nit.cpp) segment .text\r\n\r\n"
                                  "     5 0001:00000100\r\n\r\n"
                                  "Line numbers for x\r\n(x\r\n.cpp) segment .text\r\n\r\n"
                                  "     7 0001:00000300\r\n\r\n");
}

TEST_F(VellinMergeTest, ImportedProcedureReferencesAreNotWritten) {
    TTdsBuilder tds;
    tds.AddReference({0x500, "socket", 1});
    // Offset field of an import: the index of the module's name, not a code offset.
    tds.AddReference({3, "@Forms@TApplication@Run$qqrv", 0xFFFF});
    const std::vector<std::string> tail = Tail(tds);
    const std::vector<std::string> expected = {"  Address         Publics by Value", "",
                                               " 0001:00000500       socket", ""};
    EXPECT_EQ(tail, expected);
}

TEST_F(VellinMergeTest, OrdersPublicsByTheWordSortOfTheWholeLine) {
    TTdsBuilder tds;
    tds.AddModule({}, {{0x40, "a-b"}, {0x40, "ab"}, {0x40, "a_b"}, {0x40, "a1"}, {0x40, "A b"}});
    const std::vector<std::string> tail = Tail(tds);
    ASSERT_EQ(tail.size(), 8u);
    EXPECT_EQ(tail[2].substr(21), "A b");
    EXPECT_EQ(tail[3].substr(21), "a_b");
    EXPECT_EQ(tail[4].substr(21), "a1");
    EXPECT_EQ(tail[5].substr(21), "ab");
    EXPECT_EQ(tail[6].substr(21), "a-b");
}

TEST_F(VellinMergeTest, RewritesTheMapFromThePublicsHeaderOn) {
    TTdsBuilder tds;
    tds.AddModule({{"Unit1.cpp", {{{7, 0x10}}}}}, {{0x10, "@Unit1@Run$qv"}});
    const std::string map = FDir.File("test.map");
    WriteFileBytes(map, SampleMap);
    MergeIntoMapFile(WriteTds(tds), map, BuiltInBorDebugApi());
    EXPECT_EQ(ReadFileBytes(map), SampleHead + "  Address         Publics by Value\r\n\r\n"
                                               " 0001:00000010       Unit1.Run\r\n\r\n"
                                               "Line numbers for Unit1(Unit1.cpp) segment .text\r\n"
                                               "\r\n     7 0001:00000010\r\n\r\n");
}

TEST_F(VellinMergeTest, FindsTheHeaderInAnyLetterCaseButOnlyWithExactSpaces) {
    TTdsBuilder tds;
    const std::string path = WriteTds(tds);
    const std::string map = FDir.File("case.map");
    WriteFileBytes(map, "head\n  ADDRESS         publics BY name\nrest\n");
    MergeIntoMapFile(path, map, BuiltInBorDebugApi());
    EXPECT_EQ(ReadFileBytes(map), "head\r\n  Address         Publics by Value\r\n\r\n\r\n");

    for (const char* wrong : {" Address Publics by Name", "  Address             Publics by Name",
                              "   Address         Publics by Name",
                              "  Address         Publics by Name ", "  Address\tPublics by Name"}) {
        const std::string text = std::string("head\r\n") + wrong + "\r\n";
        WriteFileBytes(map, text);
        try {
            MergeIntoMapFile(path, map, BuiltInBorDebugApi());
            ADD_FAILURE() << "accepted: " << wrong;
        } catch (const EVellinError& error) {
            EXPECT_EQ(std::string(error.what()), "Invalid map file: " + map);
        }
        EXPECT_EQ(ReadFileBytes(map), text);
    }
}

TEST_F(VellinMergeTest, SecondRunOnARewrittenMapFailsAndLeavesItAlone) {
    TTdsBuilder tds;
    tds.AddModule({{"Unit1.cpp", {{{7, 0x10}}}}}, {{0x10, "Run"}});
    const std::string path = WriteTds(tds);
    const std::string map = FDir.File("test.map");
    WriteFileBytes(map, SampleMap);
    MergeIntoMapFile(path, map, BuiltInBorDebugApi());
    const std::string once = ReadFileBytes(map);
    EXPECT_THROW(MergeIntoMapFile(path, map, BuiltInBorDebugApi()), EVellinError);
    EXPECT_EQ(ReadFileBytes(map), once);
}

TEST_F(VellinMergeTest, ABadDebugFileLeavesTheMapUntouched) {
    const std::string tds = FDir.File("bad.tds");
    WriteFileBytes(tds, "FB0A\x08\x00\x00\x00 truncated");
    const std::string map = FDir.File("test.map");
    WriteFileBytes(map, SampleMap);
    try {
        MergeIntoMapFile(tds, map, BuiltInBorDebugApi());
        ADD_FAILURE() << "no error";
    } catch (const EVellinError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open the debug file: " + tds + ".");
    }
    EXPECT_EQ(ReadFileBytes(map), SampleMap);
}

TEST_F(VellinMergeTest, AMissingMapIsAFileOpenError) {
    TTdsBuilder tds;
    const std::string map = FDir.File("missing.map");
    try {
        MergeIntoMapFile(WriteTds(tds), map, BuiltInBorDebugApi());
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Cannot open file \"" + map + "\".", 0), 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(map));
}

TEST_F(VellinMergeTest, KeepsThePermissionsAndLeavesNoTemporaryFile) {
    TTdsBuilder tds;
    const std::string path = WriteTds(tds);
    const std::string map = FDir.File("test.map");
    WriteFileBytes(map, SampleMap);
    ASSERT_EQ(chmod(map.c_str(), 0640), 0);
    MergeIntoMapFile(path, map, BuiltInBorDebugApi());

    struct stat info {};

    ASSERT_EQ(stat(map.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(FDir.Path()))
        ++files;
    EXPECT_EQ(files, 2u); // the TDS and the map
}

TEST_F(VellinMergeTest, AFailedWriteLeavesTheOldMapWhole) {
    TTdsBuilder tds;
    tds.AddModule({{"Unit1.cpp", {{{7, 0x10}}}}}, {{0x10, std::string(200, 'p')}});
    const std::string path = WriteTds(tds);
    const std::string map = FDir.File("test.map");
    WriteFileBytes(map, SampleMap);
    // A child process whose files may not grow past 64 bytes: the new map cannot be written
    // (even for root), the old one must survive, and no temporary file may stay behind.
    const int exitCode = jex::test::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            MergeIntoMapFile(path, map, BuiltInBorDebugApi());
        } catch (const EFCreateError&) {
            return 0;
        } catch (...) {
        }
        return 1;
    });
    EXPECT_EQ(exitCode, 0) << "no EFCreateError";
    EXPECT_EQ(ReadFileBytes(map), SampleMap);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(FDir.Path()))
        ++files;
    EXPECT_EQ(files, 2u);
}

TEST_F(VellinMergeTest, ASymbolicLinkedMapReplacesTheFileItPointsAt) {
    TTdsBuilder tds;
    const std::string path = WriteTds(tds);
    const std::string target = FDir.File("real.map");
    const std::string link = FDir.File("link.map");
    WriteFileBytes(target, SampleMap);
    std::filesystem::create_symlink(target, link);
    MergeIntoMapFile(path, link, BuiltInBorDebugApi());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_NE(ReadFileBytes(target).find("Publics by Value"), std::string::npos);
}

TEST(VellinRunTest, ReportsAnUnhandledErrorWithItsClassAndExitCodeOne) {
    EXPECT_EQ(UnhandledErrorReport(std::make_exception_ptr(EVellinError("Invalid map file: x"))),
              "Exception EVellinError: Invalid map file: x");
    EXPECT_EQ(UnhandledErrorReport(std::make_exception_ptr(EFOpenError("Cannot open file"))),
              "Exception EFOpenError: Cannot open file");
    EXPECT_EQ(UnhandledErrorReport(std::make_exception_ptr(std::runtime_error("boom"))),
              "Exception Exception: boom");
    EXPECT_EQ(UnhandledErrorReport(std::make_exception_ptr(42)), "Unknown exception");
}

} // namespace
} // namespace vellin
