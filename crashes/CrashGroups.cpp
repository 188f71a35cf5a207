// crashes/CrashGroups.cpp - grouping and printing the reports.
#include "crashes/CrashGroups.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <map>

namespace jex::crashes {

namespace {

long long Timestamp(const TJournalEntry& AEntry) {
    const auto field = AEntry.find("__REALTIME_TIMESTAMP");
    if (field == AEntry.end())
        return 0;
    long long value = 0;
    const std::string& text = field->second;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

std::string Field(const TJournalEntry& AEntry, const char* AName) {
    const auto field = AEntry.find(AName);
    return field == AEntry.end() ? std::string() : field->second;
}

std::string LocalTime(long long AMicroseconds) {
    if (AMicroseconds <= 0)
        return "unknown";
    const std::time_t seconds = static_cast<std::time_t>(AMicroseconds / 1000000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace

std::vector<TCrashGroup> GroupCrashes(const std::vector<TJournalEntry>& AEntries) {
    std::map<std::string, TCrashGroup> bySignature;
    for (const TJournalEntry& entry : AEntries) {
        const std::string signature = Field(entry, "JEX_SIGNATURE");
        if (signature.empty())
            continue;
        TCrashGroup& group = bySignature[signature];
        const long long seen = Timestamp(entry);
        if (group.Count == 0) {
            group.Signature = signature;
            group.FirstSeen = group.LastSeen = seen;
            group.Example = entry;
        } else {
            if (seen != 0 && (group.FirstSeen == 0 || seen < group.FirstSeen))
                group.FirstSeen = seen;
            if (seen >= group.LastSeen) {
                group.LastSeen = seen;
                group.Example = entry;
            }
        }
        ++group.Count;
    }
    std::vector<TCrashGroup> groups;
    for (auto& [signature, group] : bySignature)
        groups.push_back(std::move(group));
    std::stable_sort(groups.begin(), groups.end(),
                     [](const TCrashGroup& A, const TCrashGroup& B) { return A.Count > B.Count; });
    return groups;
}

std::string FormatCrashGroups(const std::vector<TCrashGroup>& AGroups) {
    std::size_t reports = 0;
    for (const TCrashGroup& group : AGroups)
        reports += group.Count;
    std::string out = std::to_string(AGroups.size()) +
                      (AGroups.size() == 1 ? " signature, " : " signatures, ") +
                      std::to_string(reports) + (reports == 1 ? " report\n" : " reports\n");
    for (const TCrashGroup& group : AGroups) {
        const TJournalEntry& e = group.Example;
        out += "\n" + group.Signature + "  " + std::to_string(group.Count) +
               (group.Count == 1 ? " report" : " reports") + "  first " +
               LocalTime(group.FirstSeen) + "  last " + LocalTime(group.LastSeen) + "\n";
        std::string where = Field(e, "JEX_EXCEPTION_CLASS");
        const std::string unit = Field(e, "JEX_UNIT");
        const std::string procedure = Field(e, "JEX_PROCEDURE");
        if (!unit.empty() || !procedure.empty())
            where += " in " + unit + (unit.empty() || procedure.empty() ? "" : ", ") + procedure;
        if (const std::string line = Field(e, "JEX_LINE"); !line.empty())
            where += ", line " + line;
        if (const std::string program = Field(e, "SYSLOG_IDENTIFIER"); !program.empty())
            where += " (" + program + ")";
        out += "  " + where + "\n  example:\n";
        const std::string message = Field(e, "MESSAGE");
        std::size_t pos = 0;
        while (pos <= message.size()) {
            std::size_t end = message.find('\n', pos);
            if (end == std::string::npos)
                end = message.size();
            std::string line = message.substr(pos, end - pos);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            out += "    " + line + "\n";
            pos = end + 1;
        }
    }
    return out;
}

} // namespace jex::crashes
