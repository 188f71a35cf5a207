// tests/platform/WordSortTest.cpp - the word-sort order, as the host's string lists and vellin's
// publics list see it.
#include "platform/WordSort.h"

#include "host/core/ClassesStrings.h"
#include "tool/TextUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TOrderedPair {
    const char* Left;
    const char* Right;
    int Expected; ///< -1, 0 or 1: how Left compares with Right, ignoring case
};

// Code page 1252 text. The first two pairs are where the host and the tool once disagreed.
const TOrderedPair WordSortPairs[] = {
    {"\xC6z", "Af", -1},       // Æ counts as A E, and e < f
    {"\xDE", "z", 1},          // the thorn sorts after z
    {"\xDE", "ta", 1},         // ... and not with t
    {"\xFE", "\xDE", 0},       // þ / Þ
    {"\xE6", "ae", 1},         // æ after ae: the ligature is the second difference
    {"\xE6", "af", -1},        // ... but never outweighs a letter
    {"\x8Cuvre", "oeuvre", 1}, // Œuvre
    {"\x9C", "of", -1},        // œ < of
    {"\xDF", "ss", 1},         // ß after ss
    {"\xDF", "st", -1},        // ß before st
    {"stra\xDF"
     "e",
     "strasse", 1},                // straße
    {"e", "\xE9", -1},             // e < é
    {"\xE9", "f", -1},             // é < f
    {"\xE9t\xE9", "\xC9T\xC9", 0}, // été / ÉTÉ
    {"\xE9z", "fa", -1},           // the letter outweighs the accent
    {"\xC4pfel", "Apfel", 1},      // Äpfel after Apfel
    {"\xC4pfel", "Apfelz", -1},    // ... and before Apfelz
    {"\xF1", "n", 1},              // ñ
    {"\xF1", "o", -1},             //
    {"\xE7", "d", -1},             // ç
    {"\xF8", "o", 1},              // ø
    {"\xF8", "p", -1},             //
    {"\xD0", "e", -1},             // Ð sorts with d
    {"\x9E", "z", 1},              // ž after z ...
    {"\x9E", "\xDE", -1},          // ... and before the thorn
    {"\xFF", "\x9F", 0},           // ÿ / Ÿ
    {"\x9A", "\x8A", 0},           // š / Š
    {"\xAA", "a", 1},              // ª sorts with a
    {"\xB9", "1", 1},              // ¹ sorts with 1 ...
    {"\xB9", "2", -1},             // ... before 2
    {"\xD7", "0", -1},             // × is a symbol
    {"ab", "a-b", -1},             // the hyphen only breaks ties
    {"coop", "co-op", -1},         //
    {"a-c", "ab", 1},              // ... and does not count before b < c
    {"it's", "its", 1},            // the apostrophe likewise
    {"soft\xADhyphen", "softhyphen", 1},
    {" a", "_a", -1},        // symbols in their own order ...
    {"_a", "1a", -1},        // ... before digits ...
    {"9", "a", -1},          // ... before letters
    {"a\tb", "a b", -1},     // TAB before the space
    {"file10", "file2", -1}, // digits compare as characters
    {"file", "file1", -1},   // a proper prefix first
    {"Hello", "hELLO", 0},
};

int KeyOrder(const std::string& ALeft, const std::string& ARight) {
    const std::string left = platform::WordSortKey(ALeft);
    const std::string right = platform::WordSortKey(ARight);
    return left < right ? -1 : right < left ? 1 : 0;
}

TEST(WordSortTest, HostAndVellinOrderEveryPairAsTheFrameworkDoes) {
    for (const TOrderedPair& pair : WordSortPairs) {
        const std::string left = pair.Left;
        const std::string right = pair.Right;
        SCOPED_TRACE("'" + left + "' vs '" + right + "'");
        EXPECT_EQ(host::AnsiCompareText(left, right), pair.Expected);
        EXPECT_EQ(host::AnsiCompareText(right, left), -pair.Expected);
        EXPECT_EQ(vellin::AnsiCompareText(left, right), pair.Expected);
        EXPECT_EQ(vellin::AnsiCompareText(right, left), -pair.Expected);
        EXPECT_EQ(KeyOrder(left, right), pair.Expected);
        EXPECT_EQ(vellin::AnsiSortKey(left) < vellin::AnsiSortKey(right), pair.Expected < 0);
        // With case counting, only a case difference can turn an equal pair into an order.
        if (pair.Expected != 0) {
            EXPECT_EQ(host::AnsiCompareStr(left, right), pair.Expected);
        }
    }
}

} // namespace
