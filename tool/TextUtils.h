// tool/TextUtils.h - the few text helpers vellin needs: line splitting and the locale-aware order.
//
// vellin has no host framework under it, so the behaviour of the framework's string list that
// the tool relies on (splitting text into lines) is reproduced here; the case-insensitive
// "word sort" order of a sorted list comes from the platform's dependency-free word-sort table.
#pragma once

#include "platform/WordSort.h"

#include <string>
#include <string_view>
#include <vector>

namespace vellin {

/// Splits AText into lines at CR, LF or CR LF; a final line break adds no empty line. Every byte
/// is kept, NUL included.
std::vector<std::string> SplitLines(std::string_view AText);

/// Calls AVisit(line) for every line of AText as SplitLines splits it, stopping early when
/// AVisit returns false; returns false when it was stopped.
template <typename TVisit>
bool ForEachLine(std::string_view AText, TVisit&& AVisit) {
    std::size_t start = 0;
    const std::size_t size = AText.size();
    while (start < size) {
        std::size_t end = start;
        while (end < size && AText[end] != '\r' && AText[end] != '\n')
            ++end;
        if (!AVisit(AText.substr(start, end - start)))
            return false;
        if (end < size && AText[end] == '\r' && end + 1 < size && AText[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return true;
}

/// Appends every line of AText (split as SplitLines does) to AOut, each followed by CR LF.
void AppendCrLfLines(std::string& AOut, std::string_view AText);

/// A byte string whose plain byte order is the order of AnsiCompareText; equal keys mean the
/// texts compare equal.
std::string AnsiSortKey(std::string_view AText);

/// The Windows "word sort" comparison ignoring case (platform::WordSortCompareText, the table
/// the host framework sorts by): punctuation and symbols sort before digits, digits before
/// letters; '-' and '\'' count only to break ties (the text without them first); a proper prefix
/// sorts first; accented letters sort with their base letter and after it, ligatures as the two
/// letters they stand for; control characters other than TAB, LF and CR only break ties. 8-bit
/// text is read as code page 1252. Returns -1, 0 or 1.
inline int AnsiCompareText(std::string_view ALeft, std::string_view ARight) {
    return platform::WordSortCompareText(ALeft, ARight);
}

/// True when the texts are equal apart from ASCII letter case.
bool SameText(std::string_view ALeft, std::string_view ARight);

} // namespace vellin
