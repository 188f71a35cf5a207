// tests/tool/TextUtilsTest.cpp - line splitting and the word-sort order of the publics list.
#include "tool/TextUtils.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vellin {
namespace {

using TLines = std::vector<std::string>;

TEST(TextUtilsTest, SplitLinesBreaksAtCrLfAndCrLf) {
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (TLines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\n\rb"), (TLines{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\r\r\nb"), (TLines{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\r\n"), (TLines{"a"}));
    EXPECT_EQ(SplitLines("a\r\n\r\n"), (TLines{"a", ""}));
    EXPECT_EQ(SplitLines("\r\n"), (TLines{""}));
    EXPECT_EQ(SplitLines(""), TLines{});
    EXPECT_EQ(SplitLines(std::string_view("a\0b\r\nc", 6)), (TLines{std::string("a\0b", 3), "c"}));
}

TEST(TextUtilsTest, AnsiCompareTextSortsSymbolsBeforeDigitsBeforeLetters) {
    const TLines expected = {" a", "_a", "1a", "a", "a b", "a_b", "a1", "ab", "a-b"};
    TLines sorted = {"a-b", "ab", "a1", "a_b", "a b", "a", "1a", "_a", " a"};
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string& ALeft, const std::string& ARight) {
                  return AnsiCompareText(ALeft, ARight) < 0;
              });
    EXPECT_EQ(sorted, expected);
}

TEST(TextUtilsTest, AnsiCompareTextIgnoresCaseOnly) {
    EXPECT_EQ(AnsiCompareText("Main", "mAIN"), 0);
    EXPECT_EQ(AnsiCompareText("abc", "abd"), -1);
    EXPECT_EQ(AnsiCompareText("abd", "ABC"), 1);
    EXPECT_EQ(AnsiCompareText("Ab", "aC"), -1); // case never outweighs a letter
    EXPECT_EQ(AnsiCompareText("file10", "file2"), -1);
    EXPECT_EQ(AnsiCompareText("coop", "co-op"), -1);
    EXPECT_EQ(AnsiCompareText("co-op", "coop"), 1);
    EXPECT_NE(AnsiCompareText("it's", "its"), 0);
    EXPECT_EQ(AnsiCompareText("", ""), 0);
    EXPECT_EQ(AnsiCompareText("", "a"), -1);
}

TEST(TextUtilsTest, AnsiCompareTextFollowsTheSymbolTableAndAccents) {
    const std::string symbols = " !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>";
    for (std::size_t i = 1; i < symbols.size(); ++i)
        EXPECT_EQ(AnsiCompareText(symbols.substr(i - 1, 1), symbols.substr(i, 1)), -1)
            << symbols[i - 1] << " before " << symbols[i];
    EXPECT_EQ(AnsiCompareText(">", "0"), -1);
    EXPECT_EQ(AnsiCompareText("9", "a"), -1);
    // Code page 1252: e < e acute < f, and both cases of an accented letter are equal.
    EXPECT_EQ(AnsiCompareText("e", "\xE9"), -1);
    EXPECT_EQ(AnsiCompareText("\xE9", "f"), -1);
    EXPECT_EQ(AnsiCompareText("\xC9t\xE9", "\xE9T\xC9"), 0);
    EXPECT_EQ(AnsiCompareText("\xE9z", "fa"), -1); // the accent is weighed after the letters
}

TEST(TextUtilsTest, SortKeysOrderPublicLinesByOffsetThenName) {
    const TLines lines = {" 0001:000001F4       main", " 0001:000001F4       Main",
                          " 0001:0000020A       alpha", " 0001:00000200       zeta",
                          " 0001:00000A00       b"};
    EXPECT_EQ(AnsiSortKey(lines[0]), AnsiSortKey(lines[1]));
    EXPECT_LT(AnsiSortKey(lines[0]), AnsiSortKey(lines[3]));
    EXPECT_LT(AnsiSortKey(lines[3]), AnsiSortKey(lines[2]));
    EXPECT_LT(AnsiSortKey(lines[2]), AnsiSortKey(lines[4])); // hex digits: 0-9 before A-F
}

TEST(TextUtilsTest, SameTextComparesWholeLinesIgnoringCase) {
    EXPECT_TRUE(SameText("  Address         Publics by Name", "  ADDRESS         PUBLICS BY NAME"));
    EXPECT_FALSE(SameText("  Address         Publics by Name", " Address         Publics by Name"));
    EXPECT_FALSE(SameText("a", "a "));
}

} // namespace
} // namespace vellin
