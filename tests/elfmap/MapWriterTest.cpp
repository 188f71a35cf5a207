// tests/elfmap/MapWriterTest.cpp - unit names, section order and the map text, read back with
// the map reader the exception logger uses.
#include "elfmap/MapWriter.h"

#include "mapfile/Jexmapfile.h"
#include "mapfile/MapFormat.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sys/stat.h>

using namespace elfmap;

namespace {

/// An image whose unit i covers offsets [i*16, i*16+16) with line i+1.
TElfImage ImageOf(const std::vector<std::string>& ASources) {
    TElfImage image;
    image.TextAddress = 0x1000;
    image.TextSize = 0x10000;
    for (std::size_t i = 0; i < ASources.size(); ++i) {
        TCompileUnit unit;
        unit.SourcePath = ASources[i];
        const auto begin = static_cast<std::uint32_t>(i * 16);
        unit.Ranges.push_back({begin, begin + 16});
        unit.Lines.push_back({begin, static_cast<long long>(i + 1)});
        unit.Lines.push_back({begin + 16, 0});
        image.Units.push_back(unit);
    }
    return image;
}

std::vector<std::string> NamesOf(const std::vector<TMapUnit>& AUnits) {
    std::vector<std::string> names;
    for (const TMapUnit& unit : AUnits)
        names.push_back(unit.Name);
    return names;
}

/// Writes the image's map and resolves offset AOffset with the reader.
struct TResolved {
    std::string Unit;
    std::string Procedure;
    std::int32_t Line = 0;
};

class TMapOnDisk {
public:
    explicit TMapOnDisk(const TElfImage& AImage)
        : FPath(FDir.File("app.map")) {
        WriteFileAtomically(FPath, FormatMap(AImage));
        FReader.SetMapFileName(FPath);
    }

    TResolved Resolve(std::uint32_t AOffset) {
        FReader.LoadExceptionData(reinterpret_cast<const void*>(
            static_cast<std::uintptr_t>(jex::mapformat::BaseAddress + AOffset)));
        return {FReader.UnitName(), FReader.ProcedureName(), FReader.LineNumber()};
    }

    jex::TJexMapFile& Reader() { return FReader; }

    const std::string& Path() const { return FPath; }

private:
    jex::test::TempDir FDir;
    std::string FPath;
    jex::TJexMapFile FReader;
};

} // namespace

TEST(PlanUnitsTest, NamesAreFileStemsAndPartNamesComeBeforeTheNamesHoldingThem) {
    // By address "MainForm" would come first and its header would catch "Main" and "Form".
    const auto units = PlanUnits(ImageOf({"src/MainForm.cpp", "/abs/Main.cpp", "Form.cc"}));
    const auto names = NamesOf(units);
    ASSERT_EQ(names.size(), 3u);
    auto at = [&](const std::string& AName) {
        return std::find(names.begin(), names.end(), AName) - names.begin();
    };
    EXPECT_LT(at("Main"), at("MainForm"));
    EXPECT_LT(at("Form"), at("MainForm"));
    EXPECT_EQ(units[static_cast<std::size_t>(at("MainForm"))].FileName, "MainForm.cpp");
}

TEST(PlanUnitsTest, UnconstrainedSectionsFollowTheirCode) {
    EXPECT_EQ(NamesOf(PlanUnits(ImageOf({"q.c", "p.c", "k.c"}))),
              (std::vector<std::string>{"q", "p", "k"}));
}

TEST(PlanUnitsTest, SharedNamesAreNumberedInDebugInformationOrder) {
    const auto names = NamesOf(PlanUnits(ImageOf({"x/util.c", "y/util.c", "util_2.c"})));
    const std::set<std::string> distinct(names.begin(), names.end());
    EXPECT_EQ(distinct, (std::set<std::string>{"util", "util_2", "util_3"}));
}

TEST(PlanUnitsTest, NamesAHeaderOrARowAlwaysHoldsGetTheirExtension) {
    // "e" and "text" occur in every header, "1234" and "BEEF" can occur in rows of entries.
    const auto names =
        NamesOf(PlanUnits(ImageOf({"e.cpp", "text.c", "1234.c", "BEEF", ".hidden"})));
    const std::set<std::string> distinct(names.begin(), names.end());
    EXPECT_EQ(distinct,
              (std::set<std::string>{"e_cpp", "text_c", "1234_c", "BEEF_unit", ".hidden"}));
}

TEST(PlanUnitsTest, ControlCharactersAndEqualSignsCannotBreakTheSegmentLine) {
    const auto names = NamesOf(PlanUnits(ImageOf({"a=b\t.c", "  "})));
    const std::set<std::string> distinct(names.begin(), names.end());
    EXPECT_EQ(distinct, (std::set<std::string>{"a_b_", "unit"}));
}

// Whatever the file names, the reader must find every unit and every unit's own line numbers.
TEST(PlanUnitsTest, EveryUnitReachesItsOwnSectionThroughTheReader) {
    std::mt19937 random(20240611);
    const std::string alphabet = "abe.()r xsM1F";
    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> sources;
        const int count = 2 + static_cast<int>(random() % 7);
        for (int i = 0; i < count; ++i) {
            std::string name;
            const int length = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < length; ++k)
                name.push_back(alphabet[random() % alphabet.size()]);
            sources.push_back(name + (random() % 2 ? ".c" : ""));
        }
        const TElfImage image = ImageOf(sources);
        const auto units = PlanUnits(image);
        ASSERT_EQ(units.size(), sources.size());
        std::vector<std::string> nameOfIndex(sources.size());
        for (const TMapUnit& unit : units)
            nameOfIndex[unit.Index] = unit.Name;
        TMapOnDisk map(image);
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const TResolved resolved = map.Resolve(static_cast<std::uint32_t>(i * 16 + 3));
            EXPECT_EQ(resolved.Unit, nameOfIndex[i]) << "source " << sources[i];
            EXPECT_EQ(resolved.Line, static_cast<std::int32_t>(i + 1))
                << "source " << sources[i] << " unit " << nameOfIndex[i];
        }
    }
}

TEST(FormatMapTest, ReaderFindsUnitsProceduresAndNearestLowerLines) {
    TElfImage image;
    image.TextAddress = 0x401000;
    image.TextSize = 0x300;
    TCompileUnit first;
    first.SourcePath = "/src/Alpha.cpp";
    first.Ranges = {{0x000, 0x100}};
    first.Lines = {{0x000, 10}, {0x010, 11}, {0x020, 30}, {0x030, 12}, {0x040, 13}, {0x100, 0}};
    TCompileUnit second;
    second.SourcePath = "Beta.c";
    second.Ranges = {{0x100, 0x180}, {0x200, 0x240}};
    second.Lines = {{0x100, 5}, {0x120, 6}, {0x180, 0}, {0x200, 90}, {0x240, 0}};
    image.Units = {first, second};
    image.Functions = {{0x000, "alpha::Run(int)", TSymbolRank::srGlobal},
                       {0x030, "alpha::Loop()", TSymbolRank::srLocal},
                       {0x100, "beta", TSymbolRank::srGlobal},
                       {0x100, "__beta_alias", TSymbolRank::srWeak},
                       {0x200, "beta_cold", TSymbolRank::srLocal}};
    TMapOnDisk map(image);

    TResolved r = map.Resolve(0x025);
    EXPECT_EQ(r.Unit, "Alpha");
    EXPECT_EQ(r.Procedure, "alpha::Run(int)");
    EXPECT_EQ(r.Line, 30); // lines need not rise: a loop's condition follows its body

    r = map.Resolve(0x030);
    EXPECT_EQ(r.Procedure, "alpha::Loop()");
    EXPECT_EQ(r.Line, 12);

    r = map.Resolve(0x0F0); // padding after the last row: still that row's line
    EXPECT_EQ(r.Line, 13);

    // One name per address, so the exact address and the code after it agree.
    r = map.Resolve(0x100);
    EXPECT_EQ(r.Unit, "Beta");
    EXPECT_EQ(r.Procedure, "beta");
    EXPECT_EQ(r.Line, 5);
    EXPECT_EQ(map.Resolve(0x101).Procedure, "beta");

    r = map.Resolve(0x1A0); // between Beta's two ranges: code without lines
    EXPECT_EQ(r.Line, 0);
    r = map.Resolve(0x210);
    EXPECT_EQ(r.Unit, "Beta");
    EXPECT_EQ(r.Procedure, "beta_cold");
    EXPECT_EQ(r.Line, 90);

    r = map.Resolve(0x2FF); // past the last function, still inside the code section
    EXPECT_EQ(r.Procedure, "beta_cold");
    EXPECT_EQ(r.Line, 0);

    // Beta's two ranges follow each other without another unit between: one segment line.
    std::vector<std::string> units;
    map.Reader().LoadUnitNames(&units);
    EXPECT_EQ(units, (std::vector<std::string>{"Alpha", "Beta"}));
}

TEST(FormatMapTest, LinesFollowTheLayoutColumnsAndEndWithCrLf) {
    TElfImage image = ImageOf({"Main.cpp"});
    image.Units[0].Lines = {{0, 1}, {4, 2}, {8, 3}, {12, 1234567}, {16, 0}};
    image.Functions = {{0, "main", TSymbolRank::srGlobal}};
    const std::string text = FormatMap(image);
    EXPECT_NE(text.find("\r\nDetailed map of segments\r\n\r\n"
                        " 0001:00000000 00000010 C=CODE     S=.text    G=(none)   M=Main     "
                        "ACBP=A9\r\n"),
              std::string::npos);
    EXPECT_NE(
        text.find("\r\n  Address         Publics by Name\r\n\r\n 0001:00000000       main\r\n"),
        std::string::npos);
    EXPECT_NE(
        text.find("\r\n  Address         Publics by Value\r\n\r\n 0001:00000000       main\r\n"),
        std::string::npos);
    EXPECT_NE(text.find("Line numbers for Main(Main.cpp) segment .text\r\n\r\n"
                        "     1 0001:00000000     2 0001:00000004     3 0001:00000008"
                        "1234567 0001:0000000C\r\n     0 0001:00000010\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
}

// Enough names to sort in two halves, drawn so that they share long prefixes, differ in
// bytes above 0x7F, end inside one another ("a::b" and "a::b<int>") and repeat, at the same
// and at other offsets: the list must be exactly a plain sort by name and offset, duplicates
// of name and offset once.
TEST(FormatMapTest, PublicsByNameAreSortedByNameThenOffsetWithoutDuplicates) {
    TElfImage image = ImageOf({"Main.cpp"});
    std::mt19937 random(7);
    const std::vector<std::string> parts = {
        "testing::internal::", "Matcher<", "int", ">", "::", "\xC3\xA9", "a", "(", ")", "Z", ""};
    std::vector<std::string> texts;
    for (int i = 0; i < 20000; ++i) {
        std::string name;
        const int pieces = static_cast<int>(random() % 12);
        for (int k = 0; k < pieces; ++k)
            name += parts[random() % parts.size()];
        texts.push_back(name.empty() ? "x" : name);
    }
    std::set<std::pair<std::string, std::uint32_t>> expected;
    for (const std::string& text : texts) {
        const auto offset = static_cast<std::uint32_t>(random() % 64);
        image.Functions.push_back({offset, text, TSymbolRank::srGlobal});
        expected.insert({text, offset});
    }
    const std::string map = FormatMap(image);
    const std::string title = "Publics by Name\r\n\r\n";
    const std::size_t start = map.find(title);
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = map.find("\r\n\r\n", start + title.size()) + 2;
    std::vector<std::string> lines;
    for (std::size_t at = start + title.size(); at < end;) {
        const std::size_t next = map.find("\r\n", at);
        lines.push_back(map.substr(at, next - at));
        at = next + 2;
    }
    std::vector<std::string> wanted;
    for (const auto& [name, offset] : expected)
        wanted.push_back(jex::mapformat::FormatPublicLine(offset, name));
    ASSERT_EQ(lines.size(), wanted.size());
    const auto differ = std::mismatch(lines.begin(), lines.end(), wanted.begin());
    EXPECT_TRUE(differ.first == lines.end()) << "line " << (differ.first - lines.begin()) << ": "
                                             << *differ.first << " instead of " << *differ.second;
}

TEST(DefaultMapPathTest, ReplacesTheExtensionOfTheFileNameOnly) {
    EXPECT_EQ(DefaultMapPath("/opt/app/demo"), "/opt/app/demo.map");
    EXPECT_EQ(DefaultMapPath("/opt/app/demo.bin"), "/opt/app/demo.map");
    EXPECT_EQ(DefaultMapPath("/opt/app.d/demo"), "/opt/app.d/demo.map");
    EXPECT_EQ(DefaultMapPath("demo"), "demo.map");
}

TEST(WriteFileAtomicallyTest, ReplacesTheFileAndLeavesNoTemporaryBehind) {
    jex::test::TempDir dir;
    const std::string path = dir.File("app.map");
    jex::test::WriteFileBytes(path, "old");
    WriteFileAtomically(path, "new text\r\n");
    EXPECT_EQ(jex::test::ReadFileBytes(path), "new text\r\n");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1);
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_NE(status.st_mode & S_IRGRP, 0u) << "a map is not a private file";
}

TEST(WriteFileAtomicallyTest, FailureNamesThePathAndChangesNothing) {
    jex::test::TempDir dir;
    const std::string blocker = dir.File("plain-file");
    jex::test::WriteFileBytes(blocker, "x");
    const std::string path = blocker + "/app.map";
    try {
        WriteFileAtomically(path, "text");
        FAIL() << "writing below a plain file succeeded";
    } catch (const EElfMapError& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
    EXPECT_EQ(jex::test::ReadFileBytes(blocker), "x");
}
