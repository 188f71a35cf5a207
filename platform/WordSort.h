// platform/WordSort.h - the Windows "word sort" collation of 8-bit text.
//
// The framework sorts string lists with the operating system's word-sort comparison; Linux has
// no such service (glibc's strcoll follows other rules), so it is spelled out here in one table
// for everything that must agree on the order: the host's AnsiCompareText and AnsiCompareStr,
// and vellin's sorted publics list. Text is read as code page 1252 (Latin-1 for the letters).
// This library depends on nothing but the C++ library, so the tools that link no host code can
// link it too.
//
// The rules: symbols sort before digits, digits before letters; letters sort by their base
// letter (e < é < f) with the accent as the second difference; the ligatures Æ, Œ and ß count
// as the two letters they stand for (Æz < Af, ß after ss); the thorn Þ sorts after z; the
// hyphen, the apostrophe, the soft hyphen and control characters other than TAB, LF and CR are
// passed over and only break ties (ab < a-b), so they never make distinct texts equal. Digits
// compare as characters (file10 < file2); a proper prefix sorts first.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// Compares two texts in word-sort order ignoring letter case; returns -1, 0 or 1. Texts that
/// differ only in letter case are equal.
int WordSortCompareText(std::string_view AS1, std::string_view AS2);

/// As WordSortCompareText, but letter case counts (lower case first) as the last difference
/// before the passed-over characters: a < A < b, and a case difference never outweighs a letter
/// or an accent (Ab < aC).
int WordSortCompareStr(std::string_view AS1, std::string_view AS2);

/// A byte string whose plain byte order (std::string's operator<) is the order of
/// WordSortCompareText: two keys are equal exactly when the texts compare equal.
std::string WordSortKey(std::string_view AText);

} // namespace platform
