// crashes/JournalExportReader.h - entries of a stream in the journal export format.
//
// Parses what `journalctl -o export` writes: fields "NAME=value" or, for binary values, "NAME",
// a 64-bit little-endian length and the bytes; an empty line ends each entry.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace jex::crashes {

/// One entry: its fields by name (a field given twice keeps the first value).
using TJournalEntry = std::map<std::string, std::string, std::less<>>;

/// Raised for a stream that is not in the export format; says at which byte.
class EJournalExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The entries of AStream. A stream cut inside its last entry (or before that entry's empty
/// line) keeps the entries before it; it raises EJournalExportError only when it was cut inside
/// its first field.
std::vector<TJournalEntry> ParseJournalExport(std::string_view AStream);

} // namespace jex::crashes
