// crashes/CrashGroups.h - the exception logger's reports of a journal, grouped by crash
// signature.
#pragma once

#include "crashes/JournalExportReader.h"

#include <cstddef>
#include <string>
#include <vector>

namespace jex::crashes {

/// The reports of one signature.
struct TCrashGroup {
    std::string Signature;
    std::size_t Count = 0;
    long long FirstSeen = 0; ///< __REALTIME_TIMESTAMP, microseconds since 1970 (0: unknown)
    long long LastSeen = 0;
    TJournalEntry Example; ///< the latest report of the group
};

/// Groups the entries that carry JEX_SIGNATURE; the others are ignored. Most reports first,
/// then by signature.
std::vector<TCrashGroup> GroupCrashes(const std::vector<TJournalEntry>& AEntries);

/// The groups as text for a terminal: a summary line, then per group its signature, count,
/// first and last seen (local time), where it happened and the example report, indented.
std::string FormatCrashGroups(const std::vector<TCrashGroup>& AGroups);

} // namespace jex::crashes
