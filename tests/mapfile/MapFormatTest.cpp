// tests/mapfile/MapFormatTest.cpp - the reader's side of the map layout: markers, fields, lines.
#include "mapfile/MapFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace jex::mapformat;

namespace {

std::vector<std::string> AllLines(std::string_view AText) {
    std::vector<std::string> lines;
    TLineCursor cursor(AText);
    std::string_view line;
    while (cursor.Next(line))
        lines.emplace_back(line);
    return lines;
}

} // namespace

TEST(MapFormatTest, PublicsHeadersAreFoundWithAnyRunOfSpaces) {
    // Older Delphi (nine), the C++Builder linker (one), newer Delphi (thirteen).
    for (const char* line : {"  Address         Publics by Name", " Address Publics by Name",
                             "  Address             Publics by Name", "xAddress  Publics by Name!"})
        EXPECT_TRUE(ContainsPublicsByNameHeader(line)) << line;
    EXPECT_TRUE(ContainsPublicsByValueHeader("  Address             Publics by Value"));
    EXPECT_FALSE(ContainsPublicsByValueHeader("  Address             Publics by Name"));
    EXPECT_FALSE(ContainsPublicsByNameHeader("  Address         Publics by Value"));
}

TEST(MapFormatTest, PublicsHeadersNeedSpacesOnlyAndExactCase) {
    EXPECT_FALSE(ContainsPublicsByNameHeader("AddressPublics by Name"));
    EXPECT_FALSE(ContainsPublicsByNameHeader("Address\tPublics by Name"));
    EXPECT_FALSE(ContainsPublicsByNameHeader("Address \t Publics by Name"));
    EXPECT_FALSE(ContainsPublicsByNameHeader("address   Publics by Name"));
    EXPECT_FALSE(ContainsPublicsByNameHeader("Address   publics by name"));
    EXPECT_FALSE(ContainsPublicsByNameHeader("Address   Publics by Nam"));
    // A false start before the real header in the same line does not hide it.
    EXPECT_TRUE(ContainsPublicsByNameHeader("Address Publics by X Address  Publics by Name"));
}

TEST(MapFormatTest, FindPublicsHeaderNeverJoinsTwoLines) {
    const std::string text = "Address\n   Publics by Name\r\nAddress\r Publics by Value\n";
    EXPECT_EQ(FindPublicsHeader(text, 0, phEither), std::string::npos);
    const std::string later = "one\r\n  Address   Publics by Value\r\n";
    EXPECT_EQ(FindPublicsHeader(later, 0, phByName), std::string::npos);
    EXPECT_EQ(FindPublicsHeader(later, 0, phByValue), later.find("Publics"));
    EXPECT_EQ(FindPublicsHeader(later, later.find("Publics") + 1, phEither), std::string::npos);
}

TEST(MapFormatTest, HexFieldTakesUpToEightDigitsAndRejectsAnythingElse) {
    std::uint32_t value = 7;
    EXPECT_TRUE(ReadHexField(" 0001:0040abCD       Name", 6, value));
    EXPECT_EQ(value, 0x0040ABCDu);
    EXPECT_TRUE(ReadHexField(" 0001:FFFFFFFF", 6, value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    // Fewer characters where the line ends early are still a field.
    EXPECT_TRUE(ReadHexField(" 0001:0A1", 6, value));
    EXPECT_EQ(value, 0xA1u);

    value = 7;
    EXPECT_FALSE(ReadHexField(" 0001:", 6, value));
    EXPECT_FALSE(ReadHexField(" 0001:0040 BCD", 6, value));
    EXPECT_FALSE(ReadHexField(" 0001:0040G000", 6, value));
    EXPECT_FALSE(ReadHexField(" 0001:-0000001", 6, value));
    EXPECT_FALSE(ReadHexField("", 0, value));
    EXPECT_EQ(value, 7u);
}

TEST(MapFormatTest, LineNumberIsDecimalAfterTrimming) {
    std::int32_t value = -1;
    EXPECT_TRUE(ReadLineNumber("   123", value));
    EXPECT_EQ(value, 123);
    EXPECT_TRUE(ReadLineNumber("2147483647", value));
    EXPECT_EQ(value, 2147483647);
    value = -1;
    EXPECT_FALSE(ReadLineNumber("2147483648", value));
    EXPECT_FALSE(ReadLineNumber("      ", value));
    EXPECT_FALSE(ReadLineNumber("  -12 ", value));
    EXPECT_FALSE(ReadLineNumber(" 1 2  ", value));
    EXPECT_FALSE(ReadLineNumber("  $1F ", value));
    EXPECT_EQ(value, -1);
}

TEST(MapFormatTest, ModuleNameLiesBetweenTheTagsWithoutTheSeparator) {
    EXPECT_EQ(ModuleName(" 0001:00000000 000058C7 C=CODE     S=.text    G=(none)   "
                         "M=System   ACBP=A9"),
              "System");
    // The character right before "ACBP=" is dropped even when it is not a space.
    EXPECT_EQ(ModuleName(" M=Forms;ACBP=A9"), "Forms");
    EXPECT_EQ(ModuleName(" M=FormsXACBP=A9"), "Forms");
    EXPECT_EQ(ModuleName(" M= Two Words  ACBP=A9"), "Two Words");
    EXPECT_EQ(ModuleName(" M= ACBP=A9"), "");
    EXPECT_EQ(ModuleName(" M=ACBP=A9"), "");
    EXPECT_EQ(ModuleName(" ACBP=A9 M=Late "), "");
    EXPECT_EQ(ModuleName(" M=Lonely"), "");
    EXPECT_TRUE(HasModuleName(" ACBP=A9 M=Late "));
    EXPECT_FALSE(HasModuleName(" M=Lonely"));
}

TEST(MapFormatTest, PublicNameStartsAtColumnFifteenTrimmed) {
    EXPECT_EQ(PublicName(" 0001:000001F4       main"), "main");
    // The C++Builder linker leaves two spaces; column 22 would cut "_ma" off.
    EXPECT_EQ(PublicName(" 0001:000001F4  _main  \t"), "_main");
    EXPECT_EQ(PublicName(" 0001:000001F4"), "");
    EXPECT_EQ(PublicName(" 0001:000001F4 "), "");
    // Bytes above 127 are part of names, not blanks.
    EXPECT_EQ(PublicName(" 0001:000001F4       \xE9t\xE9"), "\xE9t\xE9");
}

TEST(MapFormatTest, CodeSegmentIsReadFromColumnsTwoToFive) {
    EXPECT_TRUE(InCodeSegment(" 0001:00000228       CloseHandle"));
    EXPECT_FALSE(InCodeSegment(" 0002:FFB72010       TlsLast"));
    EXPECT_FALSE(InCodeSegment(" 000"));
    EXPECT_FALSE(InCodeSegment("0001:00000228"));
}

TEST(MapFormatTest, LinesEndAtCrLfOrCrLfPairs) {
    EXPECT_EQ(AllLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(AllLines("a\n\rb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(AllLines("\r\n\r\n"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(AllLines(""), std::vector<std::string>{});
    EXPECT_EQ(AllLines("x\r"), std::vector<std::string>{"x"});
    EXPECT_EQ(AllLines(std::string("a\0b\nc", 5)),
              (std::vector<std::string>{std::string("a\0b", 3), "c"}));
}

TEST(MapFormatTest, CursorSeeksToLineStartsAndSkips) {
    const std::string text = "zero\r\none\rtwo\nthree";
    EXPECT_EQ(LineStart(text, text.find("two") + 1), text.find("two"));
    EXPECT_EQ(LineStart(text, 2), 0u);
    EXPECT_EQ(LineStart(text, text.size() + 10), text.find("three"));
    TLineCursor cursor(text);
    cursor.Skip(2);
    std::string_view line;
    ASSERT_TRUE(cursor.Next(line));
    EXPECT_EQ(line, "two");
    cursor.Seek(LineStart(text, text.find("one")));
    ASSERT_TRUE(cursor.Next(line));
    EXPECT_EQ(line, "one");
    cursor.Skip(5);
    EXPECT_EQ(cursor.Position(), text.size());
    EXPECT_FALSE(cursor.Next(line));
}

TEST(MapFormatTest, TrimTextDropsControlCharactersAtBothEnds) {
    EXPECT_EQ(TrimText("\t\x01 name \r\x1F"), "name");
    EXPECT_EQ(TrimText(" \t "), "");
    EXPECT_EQ(TrimText("a b"), "a b");
}
