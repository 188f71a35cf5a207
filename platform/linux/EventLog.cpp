// platform/linux/EventLog.cpp - the Linux event store: logs and sources from the key store,
// log files below the user's state folder, readers with their index, writers, and the mirror of
// every written event to the system log.
#include "platform/EventLog.h"

#include "platform/EnvironmentStrings.h"
#include "platform/KeyStore.h"
#include "platform/PlatformServices.h"
#include "platform/SystemInfo.h"
#include "platform/linux/EventLogFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <strings.h>
#include <syslog.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* Hive = "HKEY_LOCAL_MACHINE";
// How long a source's log, file and size limit, once looked up, are taken as they were: the
// key store is read once per second at most, not at every write. Registering a source here, or
// moving the store's folders, forgets them at once.
constexpr auto SourceCacheTime = std::chrono::seconds(1);
// A log's size limit is never below the classic 64 KiB step.
constexpr std::uint32_t MinMaxSize = 64u * 1024u;

bool SameName(std::string_view A, std::string_view B) {
    return A.size() == B.size() && ::strncasecmp(A.data(), B.data(), A.size()) == 0;
}

std::string StateBase() {
    const char* value = std::getenv("XDG_STATE_HOME");
    if (value != nullptr && value[0] == '/')
        return value;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/state";
}

// A name that can stand in a file name as it is.
bool UsableFileName(const std::string& AName) {
    return !AName.empty() && AName != "." && AName != ".." &&
           AName.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

int SystemLogPriority(std::uint16_t AType) {
    switch (AType) {
    case EventLogErrorType:
        return LOG_USER | LOG_ERR;
    case EventLogWarningType:
        return LOG_USER | LOG_WARNING;
    case EventLogAuditSuccess:
    case EventLogAuditFailure:
        return LOG_AUTH | LOG_NOTICE;
    default:
        return LOG_USER | LOG_INFO;
    }
}

class TLinuxEventStore;

class TLinuxEventLogReader final : public TEventLogReader {
public:
    TLinuxEventLogReader(std::string ALogName, std::string APath)
        : FLogName(std::move(ALogName))
        , FPath(std::move(APath)) {}

    const std::string& LogName() const override { return FLogName; }

    std::uint32_t NumberOfRecords(int& AError) override {
        eventlog::TOpenLog log;
        AError = eventlog::OpenLog(FPath, false, log);
        if (AError != 0 || log.Missing || log.Header.OldestRecordNumber == 0)
            return 0;
        return log.Header.CurrentRecordNumber - log.Header.OldestRecordNumber;
    }

    std::uint32_t OldestRecord(int& AError) override {
        eventlog::TOpenLog log;
        AError = eventlog::OpenLog(FPath, false, log);
        return AError != 0 || log.Missing ? 0 : log.Header.OldestRecordNumber;
    }

    int Read(std::uint32_t AFlags, std::uint32_t ARecordNumber, void* ABuffer, std::uint32_t ASize,
             std::uint32_t& ARead, std::uint32_t& ANeeded) override {
        ARead = 0;
        ANeeded = 0;
        const std::uint32_t how = AFlags & (EventLogSequentialRead | EventLogSeekRead);
        const std::uint32_t way = AFlags & (EventLogForwardsRead | EventLogBackwardsRead);
        if ((AFlags & ~0xFu) != 0 || (how != EventLogSequentialRead && how != EventLogSeekRead) ||
            (way != EventLogForwardsRead && way != EventLogBackwardsRead) ||
            (how == EventLogSeekRead && ARecordNumber == 0) || (ABuffer == nullptr && ASize != 0))
            return EventLogInvalidParameter;
        const bool forwards = way == EventLogForwardsRead;
        // The read that follows a probe of one record, with a buffer of exactly its size, takes
        // the record the probe fetched: a record's bytes never change once it is written (a
        // compaction moves it whole and keeps its number).
        if (how == EventLogSeekRead && FProbedNumber == ARecordNumber && FProbedNumber != 0 &&
            ASize == FProbed.size()) {
            std::memcpy(ABuffer, FProbed.data(), FProbed.size());
            ARead = ASize;
            FReadPosition = forwards ? ARecordNumber + 1 : ARecordNumber - 1;
            FReadStarted = true;
            FProbedNumber = 0;
            return EventLogOk;
        }
        FProbedNumber = 0;
        eventlog::TOpenLog log;
        if (const int error = eventlog::OpenLog(FPath, false, log); error != 0)
            return error;
        if (log.Missing || log.Header.OldestRecordNumber == 0)
            return EventLogHandleEof;
        std::uint32_t number = ARecordNumber;
        if (how == EventLogSequentialRead)
            number = FReadStarted ? FReadPosition
                     : forwards   ? log.Header.OldestRecordNumber
                                  : log.Header.CurrentRecordNumber - 1;
        FIndex.Sync(log);
        auto* out = static_cast<char*>(ABuffer);
        for (;;) {
            if (number < log.Header.OldestRecordNumber || number >= log.Header.CurrentRecordNumber)
                break;
            std::string record;
            const int error = ReadRecord(log, number, record);
            if (error != 0) {
                if (ARead == 0)
                    return error;
                break;
            }
            if (record.size() > ASize - ARead) {
                if (ARead == 0) {
                    ANeeded = static_cast<std::uint32_t>(record.size());
                    if (how == EventLogSeekRead) {
                        FProbed = std::move(record);
                        FProbedNumber = number;
                    }
                    return EventLogInsufficientBuffer;
                }
                break;
            }
            std::memcpy(out + ARead, record.data(), record.size());
            ARead += static_cast<std::uint32_t>(record.size());
            number = forwards ? number + 1 : number - 1;
            if (number == 0)
                break;
        }
        if (ARead == 0)
            return EventLogHandleEof;
        FReadPosition = number;
        FReadStarted = true;
        return EventLogOk;
    }

private:
    // The whole record ANumber, checked: its head matches its place and its closing length its
    // first. A record the index placed wrongly (the file was rewritten by someone else) makes
    // the index start again once.
    int ReadRecord(eventlog::TOpenLog& ALog, std::uint32_t ANumber, std::string& ARecord) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::uint32_t offset = 0;
            if (!FIndex.Find(ANumber, offset))
                return EventLogFileCorrupt; // listed by the header, but not reachable
            const std::uint32_t room = ALog.Header.EndOffset - offset;
            // One read usually brings the whole record along with its head.
            std::string bytes(std::min<std::uint32_t>(room, 4096), '\0');
            int error = 0;
            if (ALog.File->Seek(offset, SEEK_SET) >= 0) {
                const std::int64_t got =
                    ALog.File->Read(bytes.data(), static_cast<std::int64_t>(bytes.size()), error);
                bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
            } else {
                bytes.clear();
            }
            std::uint32_t length = 0;
            bool fits = bytes.size() >= 12;
            if (fits) {
                std::memcpy(&length, bytes.data(), 4);
                std::uint32_t mark = 0;
                std::uint32_t number = 0;
                std::memcpy(&mark, bytes.data() + 4, 4);
                std::memcpy(&number, bytes.data() + 8, 4);
                fits = mark == EventLogSignature && number == ANumber &&
                       length >= EventRecordFixedSize + 4 && length <= room;
            }
            if (fits && length > bytes.size()) {
                const std::size_t have = bytes.size();
                bytes.resize(length);
                const std::int64_t got = ALog.File->Read(
                    bytes.data() + have, static_cast<std::int64_t>(length - have), error);
                fits = got == static_cast<std::int64_t>(length - have);
            }
            if (fits) {
                bytes.resize(length);
                std::uint32_t closing = 0;
                std::memcpy(&closing, bytes.data() + length - 4, 4);
                if (closing == length) {
                    ARecord = std::move(bytes);
                    return EventLogOk;
                }
            }
            FIndex.Clear();
            FIndex.Sync(ALog);
        }
        return EventLogFileCorrupt;
    }

    const std::string FLogName;
    const std::string FPath;
    eventlog::TRecordIndex FIndex;
    /// The next record of a sequential read. A backwards read that passed record 1 leaves 0
    /// here, which must read as "at the end", not as "start again from the newest".
    std::uint32_t FReadPosition = 0;
    bool FReadStarted = false;       ///< FReadPosition holds a place: some read went before
    std::string FProbed;             ///< the record the last probe found too large
    std::uint32_t FProbedNumber = 0; ///< its number; 0 when none is kept
};

class TLinuxEventSource final : public TEventSource {
public:
    TLinuxEventSource(TLinuxEventStore& AStore, std::string ALogName, std::string APath,
                      std::string ASource, std::uint32_t AMaxSize, std::string AComputer)
        : FStore(AStore)
        , FLogName(std::move(ALogName))
        , FPath(std::move(APath))
        , FSource(std::move(ASource))
        , FMaxSize(AMaxSize)
        , FComputer(std::move(AComputer)) {}

    const std::string& LogName() const override { return FLogName; }

    int Report(const TEventReport& AReport) override;

private:
    TLinuxEventStore& FStore;
    const std::string FLogName;
    const std::string FPath;
    const std::string FSource;
    const std::uint32_t FMaxSize;
    const std::string FComputer;
};

class TLinuxEventStore final : public TEventStore {
public:
    void SetRoot(const std::string& AFolder) override {
        const std::lock_guard guard(FLock);
        FRoot = AFolder;
        FSources.clear();
    }

    void SetSystemLogMirror(bool AEnabled) override {
        const std::lock_guard guard(FLock);
        FMirror = AEnabled;
    }

    std::vector<std::string> LogNames() override {
        std::vector<std::string> names;
        PlatformServices().KeyStore->SubKeyNames(Hive, EventLogKey, names);
        if (std::none_of(names.begin(), names.end(),
                         [](const std::string& AName) { return SameName(AName, DefaultEventLog); }))
            names.insert(names.begin(), DefaultEventLog);
        return names;
    }

    std::string LogFilePath(const std::string& ALogName) override {
        const std::string log = ResolveLog(ALogName);
        TKeyValue value;
        if (PlatformServices().KeyStore->ReadValue(Hive, std::string(EventLogKey) + "\\" + log,
                                                   "File", value) == 0 &&
            (value.Type == kvString || value.Type == kvExpandString)) {
            std::string path = value.Data.substr(0, value.Data.find('\0'));
            if (value.Type == kvExpandString)
                path = ExpandEnvironmentStrings(path);
            if (!path.empty())
                return path;
        }
        std::string root;
        {
            const std::lock_guard guard(FLock);
            root = FRoot;
        }
        if (root.empty())
            root = StateBase() + "/jexlogger/eventlog";
        // Log names ignore letter case, so the file name must too: the same log is one file
        // whatever spelling the key store or a caller hands in.
        std::string file = log;
        std::transform(file.begin(), file.end(), file.begin(),
                       [](unsigned char AChar) { return static_cast<char>(std::tolower(AChar)); });
        return root + "/" + file + ".evt8";
    }

    std::unique_ptr<TEventLogReader>
    OpenEventLog(const std::string& AServer, const std::string& ALogName, int& AError) override {
        AError = IsLocalServer(AServer) ? EventLogOk : EventLogServerUnavailable;
        if (AError != 0)
            return nullptr;
        const std::string log = ResolveLog(ALogName);
        return std::make_unique<TLinuxEventLogReader>(log, LogFilePath(log));
    }

    std::unique_ptr<TEventSource> RegisterEventSource(const std::string& AServer,
                                                      const std::string& ASource,
                                                      int& AError) override {
        AError = IsLocalServer(AServer) ? EventLogOk : EventLogServerUnavailable;
        if (AError != 0)
            return nullptr;
        TResolvedSource resolved;
        if (!CachedSource(ASource, resolved)) {
            resolved = ResolveSource(ASource);
            if (resolved.Complete) {
                const std::lock_guard guard(FLock);
                FSources[ASource] = resolved;
            }
        }
        return std::make_unique<TLinuxEventSource>(*this, resolved.Log, resolved.Path, ASource,
                                                   resolved.MaxSize, resolved.Computer);
    }

    int RegisterSource(const std::string& ALogName, const std::string& ASource,
                       const std::string& AMessageFiles) override {
        if (!UsableFileName(ALogName) || ASource.empty() ||
            ASource.find('\\') != std::string::npos || SameName(ASource, ALogName))
            return EINVAL;
        for (const std::string& log : LogNames())
            if (SameName(log, ASource))
                return EINVAL;
        {
            const std::lock_guard guard(FLock);
            FSources.clear(); // the source may move to another log
        }
        TKeyStore& keys = *PlatformServices().KeyStore;
        const std::string key = std::string(EventLogKey) + "\\" + ALogName + "\\" + ASource;
        if (const int error = keys.CreateKey(Hive, key); error != 0)
            return error;
        std::string data = AMessageFiles;
        data.push_back('\0');
        if (const int error = keys.WriteValue(Hive, key, "EventMessageFile", kvExpandString, data);
            error != 0)
            return error;
        const std::uint32_t types =
            EventLogErrorType | EventLogWarningType | EventLogInformationType;
        return keys.WriteValue(Hive, key, "TypesSupported", kvInteger,
                               std::string_view(reinterpret_cast<const char*>(&types), 4));
    }

    // Sends one written event to the system log under the source's name, when one listens.
    void Mirror(const std::string& ASource, const TEventReport& AReport) {
        const std::lock_guard guard(FLock);
        if (!FMirror || ::access("/dev/log", W_OK) != 0)
            return;
        std::string text;
        for (const std::string& part : AReport.Strings) {
            if (!text.empty())
                text.push_back(' ');
            text.append(part.substr(0, part.find('\0')));
        }
        // openlog keeps the pointer: the name lives until closelog below.
        ::openlog(ASource.c_str(), LOG_PID, LOG_USER);
        ::syslog(SystemLogPriority(AReport.EventType), "%s", text.c_str());
        ::closelog();
    }

private:
    // Where a source writes, as the key store said at Time.
    struct TResolvedSource {
        std::string Log;
        std::string Path;
        std::uint32_t MaxSize = DefaultEventLogMaxSize;
        std::string Computer;
        std::string Scope;    // the key store's and the store's folders it was resolved under
        bool Complete = true; // every look-up answered (a missing key counts as an answer)
        std::chrono::steady_clock::time_point Time;
    };

    std::string Scope() {
        std::string scope = PlatformServices().KeyStore->HiveFolder(Hive);
        const std::lock_guard guard(FLock);
        return scope + '\n' + FRoot;
    }

    // A resolution of ASource made less than SourceCacheTime ago under the same folders.
    bool CachedSource(const std::string& ASource, TResolvedSource& AResolved) {
        const std::string scope = Scope();
        const std::lock_guard guard(FLock);
        const auto found = FSources.find(ASource);
        if (found == FSources.end() || found->second.Scope != scope ||
            std::chrono::steady_clock::now() - found->second.Time > SourceCacheTime)
            return false;
        AResolved = found->second;
        return true;
    }

    TResolvedSource ResolveSource(const std::string& ASource) {
        TResolvedSource resolved;
        resolved.Scope = Scope();
        resolved.Time = std::chrono::steady_clock::now();
        TKeyStore& keys = *PlatformServices().KeyStore;
        resolved.Log = DefaultEventLog;
        std::vector<std::string> names;
        const int listed = keys.SubKeyNames(Hive, EventLogKey, names);
        resolved.Complete = listed == 0 || listed == ENOENT;
        if (!ASource.empty())
            for (const std::string& candidate : names) {
                const std::string key = std::string(EventLogKey) + "\\" + candidate;
                if (UsableFileName(candidate) && keys.KeyExists(Hive, key + "\\" + ASource)) {
                    resolved.Log = candidate;
                    break;
                }
            }
        TKeyValue value;
        const int read =
            keys.ReadValue(Hive, std::string(EventLogKey) + "\\" + resolved.Log, "MaxSize", value);
        resolved.Complete = resolved.Complete && (read == 0 || read == ENOENT);
        if (read == 0 && value.Type == kvInteger && value.Data.size() == 4) {
            std::memcpy(&resolved.MaxSize, value.Data.data(), 4);
            resolved.MaxSize = std::max(resolved.MaxSize, MinMaxSize);
        }
        resolved.Path = LogFilePath(resolved.Log);
        resolved.Computer = PlatformServices().SystemInfo->ComputerName();
        return resolved;
    }

    // The spelling of the configured log named ALogName, or the default log.
    std::string ResolveLog(const std::string& ALogName) {
        for (const std::string& log : LogNames())
            if (SameName(log, ALogName) && UsableFileName(log))
                return log;
        return DefaultEventLog;
    }

    std::mutex FLock;
    std::string FRoot;
    bool FMirror = true;
    std::map<std::string, TResolvedSource> FSources;
};

int TLinuxEventSource::Report(const TEventReport& AReport) {
    TEventReport report = AReport;
    if (report.TimeGenerated == 0)
        report.TimeGenerated = static_cast<std::uint32_t>(std::time(nullptr));
    eventlog::TOpenLog log;
    if (const int error = eventlog::OpenLog(FPath, true, log); error != 0)
        return error;
    // The number is the one the header holds under this writer's claim.
    const std::string record =
        BuildEventRecord(report, log.Size == 0 ? 1 : log.Header.CurrentRecordNumber,
                         static_cast<std::uint32_t>(std::time(nullptr)), FSource, FComputer);
    const int error = eventlog::AppendRecord(FPath, log, record, FMaxSize);
    log.File.reset(); // the claim ends before the mirror is written
    if (error == 0)
        FStore.Mirror(FSource, report);
    return error;
}

} // namespace

bool IsLocalServer(std::string_view AServer) {
    if (AServer.starts_with("\\\\"))
        AServer.remove_prefix(2);
    if (AServer.empty() || AServer == "." || SameName(AServer, "localhost"))
        return true;
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return false;
    return SameName(AServer, host);
}

TEventStore& LinuxEventStore() {
    static TLinuxEventStore store;
    return store;
}

} // namespace platform
