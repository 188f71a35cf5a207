// platform/linux/EventLogFile.h - one log file of the event store: its header, the reader's
// index from record numbers to offsets, appending and compaction.
//
// Every file operation goes through the file service of PlatformServices(), so a test can make
// any open, read, write or rename fail and see that what was written before stays readable.
// The header is the truth for readers: nothing before its EndOffset is ever written again in
// place, so a writer that fails leaves every record the header lists intact.
#pragma once

#include "platform/EventLog.h"
#include "platform/File.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::eventlog {

/// Set in the header of a file that a compaction has replaced: whoever opened the old file
/// before the rename reopens the name.
inline constexpr std::uint32_t FlagReplaced = 0x80000000;

/// The header fields the store uses.
struct THeader {
    std::uint32_t StartOffset = EventLogHeaderSize;
    std::uint32_t EndOffset = EventLogHeaderSize;
    std::uint32_t CurrentRecordNumber = 1;
    std::uint32_t OldestRecordNumber = 0;
    std::uint32_t MaxSize = DefaultEventLogMaxSize;
    std::uint32_t Flags = 0;
    std::uint32_t Retention = 0;
};

/// The 48 header bytes of AHeader.
std::string HeaderBytes(const THeader& AHeader);

/// The end record that follows the last record of AHeader's log.
std::string EofBytes(const THeader& AHeader);

/// Parses and checks a header against the size of its file; false for anything that is not a
/// consistent header (wrong sizes or mark, offsets outside the file or out of order, numbers
/// that contradict each other).
bool ParseHeader(std::string_view ABytes, std::uint64_t AFileSize, THeader& AHeader);

/// A file opened under its claim, with its header read.
struct TOpenLog {
    std::unique_ptr<TFileHandle> File;
    THeader Header;
    std::uint64_t Size = 0;
    bool Missing = false; ///< no file: an empty log
};

/// Opens APath to read (shared claim) or to write (exclusive claim, created when missing),
/// reopening the name when the file found was replaced meanwhile. 0 or an error number.
int OpenLog(const std::string& APath, bool AWrite, TOpenLog& ALog);

/// Appends ARecord (numbered ALog.Header.CurrentRecordNumber) to the log opened to write,
/// compacting the file first when the record would take it past AMaxSize. 0 or an error
/// number; on failure every record listed before is intact.
int AppendRecord(const std::string& APath, TOpenLog& ALog, std::string_view ARecord,
                 std::uint32_t AMaxSize);

/// The reader's map from record numbers to offsets of one file, grown as the file grows.
class TRecordIndex {
public:
    /// Brings the index in line with the log's header: extends it over records appended since,
    /// or rebuilds it when the file was compacted or replaced. Records after one that does not
    /// hold together stay out of the index.
    void Sync(TOpenLog& ALog);

    /// The offset of record ANumber; false when the index does not hold it.
    bool Find(std::uint32_t ANumber, std::uint32_t& AOffset) const;

    /// Forgets everything, for a rebuild after a record did not match.
    void Clear() { FOffsets.clear(); }

private:
    std::vector<std::uint32_t> FOffsets;
    std::uint32_t FFirst = 0;      ///< the number of the record at FOffsets[0]
    std::uint32_t FStart = 0;      ///< the StartOffset the index was built from
    std::uint32_t FIndexedEnd = 0; ///< the offset after the last record indexed
    bool FStopped = false;         ///< a record did not hold together: nothing after it counts
};

} // namespace platform::eventlog
