// tests/tool/TextUtilsTest.cpp - line splitting and the word-sort order of the publics list.
#include "tool/TextUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

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

// AnsiCompareText walks the texts instead of building their keys; both must give one order.
int KeyOrder(std::string_view ALeft, std::string_view ARight) {
    const int result = AnsiSortKey(ALeft).compare(AnsiSortKey(ARight));
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

TEST(TextUtilsTest, AnsiCompareTextAgreesWithTheSortKeysOnEveryByteAndShortTexts) {
    for (unsigned a = 0; a < 256; ++a)
        for (unsigned b = 0; b < 256; ++b) {
            const std::string left(1, static_cast<char>(a));
            const std::string right(1, static_cast<char>(b));
            ASSERT_EQ(AnsiCompareText(left, right), KeyOrder(left, right)) << a << " " << b;
        }
    // Every text of up to three characters from letters in both cases, an accented letter, a
    // digit, a symbol and the ignorable dash, apostrophe and control character.
    const std::string alphabet = "aAe\xC9\xE9"
                                 "1_-'\x01";
    std::vector<std::string> texts = {""};
    for (std::size_t from = 0, length = 0; length < 3; ++length) {
        const std::size_t to = texts.size();
        for (std::size_t t = from; t < to; ++t)
            for (char c : alphabet)
                texts.push_back(texts[t] + c);
        from = to;
    }
    std::vector<std::string> keys;
    for (const std::string& text : texts)
        keys.push_back(AnsiSortKey(text));
    for (std::size_t l = 0; l < texts.size(); ++l)
        for (std::size_t r = 0; r < texts.size(); ++r) {
            const int byKey = keys[l] < keys[r] ? -1 : keys[r] < keys[l] ? 1 : 0;
            ASSERT_EQ(AnsiCompareText(texts[l], texts[r]), byKey)
                << "'" << texts[l] << "' '" << texts[r] << "'";
        }
}

TEST(TextUtilsTest, AnsiCompareTextAgreesWithTheSortKeysOnRandomPublicLines) {
    std::mt19937 random(20240611);
    const std::string common = "aAbBzZ09_@$.% \t\x01\x7F-'\x96\xAD\xE9\xC9\x8A\x9A\xDF\xFF\xD7";
    auto text = [&] {
        std::string result = " 0001:0000";
        result += "0123456789ABCDEF"[random() % 3];
        result += "       ";
        const std::size_t length = random() % 14;
        for (std::size_t i = 0; i < length; ++i)
            result += random() % 8 == 0 ? static_cast<char>(random() % 256)
                                        : common[random() % common.size()];
        return result;
    };
    std::vector<std::string> lines;
    for (int i = 0; i < 3000; ++i) {
        lines.push_back(text());
        if (i % 5 == 0) { // a near twin: another letter case, or a character dropped or added
            std::string twin = lines.back();
            const std::size_t at = 18 + random() % (twin.size() - 17);
            if (at < twin.size() && random() % 2 == 0)
                twin[at] = static_cast<char>(twin[at] ^ 0x20);
            else if (at < twin.size())
                twin.erase(at, 1);
            else
                twin += '-';
            lines.push_back(twin);
        }
    }
    for (std::size_t i = 0; i < lines.size(); ++i)
        for (std::size_t k : {i, i + 1, std::size_t(random() % lines.size())}) {
            if (k < lines.size()) {
                ASSERT_EQ(AnsiCompareText(lines[i], lines[k]), KeyOrder(lines[i], lines[k]))
                    << "'" << lines[i] << "' '" << lines[k] << "'";
            }
        }
}

TEST(TextUtilsTest, SameTextComparesWholeLinesIgnoringCase) {
    EXPECT_TRUE(SameText("  Address         Publics by Name", "  ADDRESS         PUBLICS BY NAME"));
    EXPECT_FALSE(SameText("  Address         Publics by Name", " Address         Publics by Name"));
    EXPECT_FALSE(SameText("a", "a "));
}

} // namespace
} // namespace vellin
