// platform/EventLog.h - the system event log: one store file per log, sources registered in the
// key store, and the record layout every reader of the store sees.
//
// A log is a file in the classic event-log layout with 8-bit strings: a 48-byte header, records
// one after the other, and an end record after the last one. Writers of every process hold an
// exclusive claim on the file while they append, so record numbers are handed out under it and
// never twice; readers hold a shared claim and see whole records only. A log that reaches its
// size limit is compacted: the oldest records go, the others keep their numbers.
//
// The configuration lives in the key store under SYSTEM\CurrentControlSet\Services\EventLog of
// HKEY_LOCAL_MACHINE: one key per log (values File and MaxSize optional), below it one key per
// source with its EventMessageFile. Errors are the event log's own numbers (below), because the
// callers act on them exactly as they always have.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// Event types of a record.
inline constexpr std::uint16_t EventLogSuccess = 0x0;
inline constexpr std::uint16_t EventLogErrorType = 0x1;
inline constexpr std::uint16_t EventLogWarningType = 0x2;
inline constexpr std::uint16_t EventLogInformationType = 0x4;
inline constexpr std::uint16_t EventLogAuditSuccess = 0x8;
inline constexpr std::uint16_t EventLogAuditFailure = 0x10;

/// Read flags: one of sequential or seek, together with one of forwards or backwards.
inline constexpr std::uint32_t EventLogSequentialRead = 0x1;
inline constexpr std::uint32_t EventLogSeekRead = 0x2;
inline constexpr std::uint32_t EventLogForwardsRead = 0x4;
inline constexpr std::uint32_t EventLogBackwardsRead = 0x8;

/// The error numbers the event log answers with.
inline constexpr int EventLogOk = 0;
inline constexpr int EventLogInvalidHandle = 6;
inline constexpr int EventLogHandleEof = 38; ///< no record with that number, or the end
inline constexpr int EventLogInvalidParameter = 87;
inline constexpr int EventLogInsufficientBuffer = 122; ///< ANeeded tells the size to give
inline constexpr int EventLogFileCorrupt = 1500;       ///< the file is not a readable log
inline constexpr int EventLogFileFull = 1502;          ///< the record cannot fit at all
inline constexpr int EventLogServerUnavailable = 1722; ///< a server other than this machine
inline constexpr int EventLogWriteFault = 29;          ///< the file refused the write
inline constexpr int EventLogReadFault = 30;           ///< the file refused to be read

/// The key below HKEY_LOCAL_MACHINE that holds one key per log.
inline constexpr const char* EventLogKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog";

/// The log every unknown log or source name falls back to.
inline constexpr const char* DefaultEventLog = "Application";

/// The size limit of a log whose key names none (MaxSize): 20 MiB.
inline constexpr std::uint32_t DefaultEventLogMaxSize = 20u * 1024u * 1024u;

/// Fixed sizes of the layout.
inline constexpr std::uint32_t EventLogHeaderSize = 0x30;
inline constexpr std::uint32_t EventLogEofSize = 0x28;
inline constexpr std::uint32_t EventRecordFixedSize = 56;
/// The 'LfLe' mark at offset 4 of the header and of every record.
inline constexpr std::uint32_t EventLogSignature = 0x654C664C;

/// One event as a writer hands it in; the store adds numbers, times written and offsets.
struct TEventReport {
    std::uint16_t EventType = EventLogInformationType;
    std::uint16_t Category = 0;
    std::uint32_t EventID = 0;
    std::uint32_t TimeGenerated = 0; ///< seconds since 1970 UTC; 0: the time of writing
    std::vector<std::string> Strings;
    std::string UserSid; ///< the identifier's bytes; empty for none
    std::string Data;
};

/// One record decoded, for tools; offsets and lengths checked against the record.
struct TEventRecordView {
    std::uint32_t RecordNumber = 0;
    std::uint32_t TimeGenerated = 0;
    std::uint32_t TimeWritten = 0;
    std::uint32_t EventID = 0;
    std::uint16_t EventType = 0;
    std::uint16_t Category = 0;
    std::string SourceName;
    std::string ComputerName;
    std::vector<std::string> Strings;
};

/// Lays out one record: the fixed part, source and computer names, identifier, strings, data,
/// padding and the closing copy of the length.
std::string BuildEventRecord(const TEventReport& AReport, std::uint32_t ARecordNumber,
                             std::uint32_t ATimeWritten, std::string_view ASource,
                             std::string_view AComputer);

/// Decodes the record in ABytes (exactly one record); false when its length, mark or any
/// offset does not fit inside it.
bool DecodeEventRecord(std::string_view ABytes, TEventRecordView& ARecord);

/// An open log, for reading. Not shared between threads without the caller's own lock.
class TEventLogReader {
public:
    virtual ~TEventLogReader() = default;

    /// The name of the log that was opened (the fallback when the name asked for is unknown).
    virtual const std::string& LogName() const = 0;

    /// Records in the log now; 0 for an empty or unreadable log (AError tells which).
    virtual std::uint32_t NumberOfRecords(int& AError) = 0;

    /// The number of the oldest record; 0 for an empty log.
    virtual std::uint32_t OldestRecord(int& AError) = 0;

    /// Copies as many whole records as fit into ABuffer (ASize bytes; null with 0), from the
    /// record ARecordNumber (seek reads) or the handle's read position (sequential reads) on,
    /// in the direction AFlags asks, and moves the read position past them. When not even the
    /// first fits: EventLogInsufficientBuffer with ANeeded its length (a size of 0 is the
    /// probe). EventLogHandleEof when there is no such record.
    virtual int Read(std::uint32_t AFlags, std::uint32_t ARecordNumber, void* ABuffer,
                     std::uint32_t ASize, std::uint32_t& ARead, std::uint32_t& ANeeded) = 0;
};

/// A registered source, for writing.
class TEventSource {
public:
    virtual ~TEventSource() = default;

    /// The log the source writes to.
    virtual const std::string& LogName() const = 0;

    /// Appends one record, then mirrors it to the system log. 0 or an error number; on failure
    /// the log is as it was before the call.
    virtual int Report(const TEventReport& AReport) = 0;
};

/// The event store.
class TEventStore {
public:
    virtual ~TEventStore() = default;

    /// Keeps the log files in AFolder, or, with an empty AFolder, back in the user's default
    /// place ($XDG_STATE_HOME/jexlogger/eventlog). A log key's File value still wins. For tests
    /// and installations; affects later opens only.
    virtual void SetRoot(const std::string& AFolder) = 0;

    /// Turns the mirror of written events to the system log on (the default) or off.
    virtual void SetSystemLogMirror(bool AEnabled) = 0;

    /// The file that holds the log ALogName (resolved as OpenEventLog resolves it).
    virtual std::string LogFilePath(const std::string& ALogName) = 0;

    /// The configured logs (keys below EventLogKey), and always the default log.
    virtual std::vector<std::string> LogNames() = 0;

    /// Opens the log ALogName of AServer for reading; an unknown name opens the default log. A
    /// missing file reads as an empty log. nullptr with AError EventLogServerUnavailable for a
    /// server other than this machine.
    virtual std::unique_ptr<TEventLogReader>
    OpenEventLog(const std::string& AServer, const std::string& ALogName, int& AError) = 0;

    /// A source that writes as ASource to the log it is registered with (the default log when
    /// it is registered nowhere). nullptr with AError as for OpenEventLog.
    virtual std::unique_ptr<TEventSource>
    RegisterEventSource(const std::string& AServer, const std::string& ASource, int& AError) = 0;

    /// Registers ASource with the log ALogName and its message files (";"-separated, stored
    /// for expansion). 0 or an errno: EINVAL for a name the store cannot take (empty, with a
    /// backslash, or a log's own name).
    virtual int RegisterSource(const std::string& ALogName, const std::string& ASource,
                               const std::string& AMessageFiles) = 0;
};

/// True for the names of this machine: empty, ".", "localhost" and its host name, with or
/// without a leading "\\".
bool IsLocalServer(std::string_view AServer);

/// The Linux store.
TEventStore& LinuxEventStore();

} // namespace platform
