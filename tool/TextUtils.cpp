// tool/TextUtils.cpp - line splitting, and the "word sort" order of the host's sorted lists.
//
// glibc's strcoll does not follow the Windows rules the tool's sorted publics list was built
// with; the order comes from the word-sort table the host framework uses too
// (platform/WordSort), so the tool and the logger's string lists cannot drift apart.
#include "tool/TextUtils.h"

#include "platform/WordSort.h"

namespace vellin {

std::vector<std::string> SplitLines(std::string_view AText) {
    std::vector<std::string> lines;
    ForEachLine(AText, [&](std::string_view ALine) {
        lines.emplace_back(ALine);
        return true;
    });
    return lines;
}

void AppendCrLfLines(std::string& AOut, std::string_view AText) {
    AOut.reserve(AOut.size() + AText.size() + 2);
    ForEachLine(AText, [&](std::string_view ALine) {
        AOut.append(ALine).append("\r\n");
        return true;
    });
}

std::string AnsiSortKey(std::string_view AText) {
    return platform::WordSortKey(AText);
}

bool SameText(std::string_view ALeft, std::string_view ARight) {
    if (ALeft.size() != ARight.size())
        return false;
    for (std::size_t i = 0; i < ALeft.size(); ++i) {
        char l = ALeft[i];
        char r = ARight[i];
        if (l >= 'A' && l <= 'Z')
            l = static_cast<char>(l + 32);
        if (r >= 'A' && r <= 'Z')
            r = static_cast<char>(r + 32);
        if (l != r)
            return false;
    }
    return true;
}

} // namespace vellin
