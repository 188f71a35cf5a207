// monitors/eventlog/eventlog.cpp - eventlog: what is in a system event log, as a person sees it.
//
// Lists a log's records with their message texts resolved as TJexNTEventLog resolves them,
// follows records as they are written, registers a source with its message files and writes an
// event. The store and the key store are the user's own ($XDG_STATE_HOME, $XDG_DATA_HOME).
// Unlike the component, the tool names every failure and ends with exit code 1.
#include "platform/EventLog.h"

#include "monitors/LogNT.h"
#include "platform/PlatformServices.h"
#include "platform/linux/FileOps.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr const char* Usage =
    "Usage: eventlog list [--log LOG]\n"
    "       eventlog follow [--log LOG] [--count N]\n"
    "       eventlog register SOURCE MESSAGEFILES [--log LOG]\n"
    "       eventlog write SOURCE TEXT [--type TYPE] [--id ID] [--category N]\n"
    "Lists the records of an event log (default Application), one line each:\n"
    "NUMBER<TAB>TIME (UTC)<TAB>TYPE<TAB>SOURCE<TAB>ID (hex)<TAB>MESSAGE; follows new\n"
    "records as they are written (after N of them, or until interrupted); registers\n"
    "SOURCE with its message files (';'-separated .mc or compiled catalogues); or\n"
    "writes an event of SOURCE. TYPE is error, warning, information (the default),\n"
    "audit-success or audit-failure; ID and N are numbers (0x for hexadecimal).\n";

// How often follow looks for new records.
constexpr auto FollowInterval = std::chrono::milliseconds(100);

struct TTypeName {
    std::uint16_t Type;
    const char* Name;
};

constexpr TTypeName TypeNames[] = {
    {platform::EventLogSuccess, "success"},
    {platform::EventLogErrorType, "error"},
    {platform::EventLogWarningType, "warning"},
    {platform::EventLogInformationType, "information"},
    {platform::EventLogAuditSuccess, "audit-success"},
    {platform::EventLogAuditFailure, "audit-failure"},
};

int Fail(const std::string& AMessage) {
    std::fprintf(stderr, "eventlog: %s\n", AMessage.c_str());
    return 1;
}

int UsageError() {
    std::fputs(Usage, stderr);
    return 1;
}

int FinishOutput(int ACode) {
    try {
        fileops::FlushStandardOutput();
    } catch (const fileops::EFileError& error) {
        return Fail("cannot write to standard output: " + error.Reason());
    }
    return ACode;
}

std::string ErrorText(int AError) {
    switch (AError) {
    case platform::EventLogFileCorrupt:
        return "the log file is damaged";
    case platform::EventLogFileFull:
        return "the event does not fit in the log";
    case platform::EventLogServerUnavailable:
        return "the server is not reachable";
    case platform::EventLogWriteFault:
        return "the log file could not be written";
    case platform::EventLogReadFault:
        return "the log file could not be read";
    default:
        return "error " + std::to_string(AError);
    }
}

bool ParseNumber(const std::string& AText, std::uint32_t& AValue) {
    if (AText.empty() || AText[0] == '-' || AText[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(AText.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull)
        return false;
    AValue = static_cast<std::uint32_t>(value);
    return true;
}

std::string TypeName(std::uint16_t AType) {
    for (const TTypeName& entry : TypeNames)
        if (entry.Type == AType)
            return entry.Name;
    return "type-" + std::to_string(AType);
}

// The record loaded in ALog as one line; texts of several lines continue indented.
std::string RecordLine(jex::TJexNTEventLog& ALog) {
    const std::vector<std::uint8_t>& buffer = ALog.RecordBuffer();
    std::uint32_t number = 0;
    if (buffer.size() >= 12)
        number = static_cast<std::uint32_t>(buffer[8] | (buffer[9] << 8) | (buffer[10] << 16) |
                                            (static_cast<std::uint32_t>(buffer[11]) << 24));
    std::string time;
    std::uint32_t seconds = 0;
    if (buffer.size() >= 16)
        seconds = static_cast<std::uint32_t>(buffer[12] | (buffer[13] << 8) | (buffer[14] << 16) |
                                             (static_cast<std::uint32_t>(buffer[15]) << 24));
    const std::time_t when = seconds;
    std::tm parts{};
    char stamp[32] = "";
    if (::gmtime_r(&when, &parts) != nullptr)
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    std::string text = ALog.GetEventMessageText();
    if (text.empty()) {
        // No message file holds it: the strings as they are, as event viewers show them.
        for (std::uint32_t i = 0; i < ALog.GetEventStringCount(); ++i) {
            if (i > 0)
                text += ' ';
            text += ALog.GetEventString(i);
        }
    }
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(ALog.GetEventID()));
    std::string flat;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        flat += text[i] == '\n' || text[i] == '\r' ? std::string("\n\t") : std::string(1, text[i]);
    }
    return std::to_string(number) + "\t" + stamp + "\t" + TypeName(ALog.GetEventType()) + "\t" +
           ALog.GetEventSource() + "\t" + id + "\t" + flat;
}

// Options after the positional arguments: --log LOG, and the ones AAllowed names.
struct TOptions {
    std::vector<std::string> Positional;
    std::string Log = platform::DefaultEventLog;
    std::string Type = "information";
    std::uint32_t Id = 0;
    std::uint32_t Category = 0;
    std::uint32_t Count = 0;
    bool Ok = true;
};

TOptions ParseOptions(const std::vector<std::string>& AArgs, std::string_view AAllowed) {
    TOptions options;
    for (std::size_t i = 1; i < AArgs.size(); ++i) {
        const std::string& arg = AArgs[i];
        if (!arg.starts_with("--")) {
            options.Positional.push_back(arg);
            continue;
        }
        const std::string name = arg.substr(2);
        if (AAllowed.find(" " + name + " ") == std::string_view::npos || i + 1 >= AArgs.size()) {
            options.Ok = false;
            return options;
        }
        const std::string& value = AArgs[++i];
        if (name == "log")
            options.Log = value;
        else if (name == "type")
            options.Type = value;
        else if (!ParseNumber(value, name == "id"         ? options.Id
                                     : name == "category" ? options.Category
                                                          : options.Count))
            options.Ok = false;
    }
    return options;
}

// A component that reads ALog: the store opens the log by the name given as Source.
std::unique_ptr<jex::TJexNTEventLog> OpenComponent(const std::string& ALog) {
    std::unique_ptr<jex::TJexNTEventLog> log(host::Create<jex::TJexNTEventLog>(nullptr));
    log->SetLog(ALog);
    log->SetSource(ALog);
    log->Open();
    return log;
}

// Checks that ALog can be read; false with the reason.
bool CheckReadable(const std::string& ALog, std::string& AError) {
    int error = 0;
    std::unique_ptr<platform::TEventLogReader> reader =
        platform::PlatformServices().EventStore->OpenEventLog("", ALog, error);
    if (reader != nullptr)
        reader->NumberOfRecords(error);
    if (error == 0)
        return true;
    AError = "cannot read the log " + ALog + ": " + ErrorText(error);
    return false;
}

int List(const TOptions& AOptions) {
    std::string error;
    if (!CheckReadable(AOptions.Log, error))
        return Fail(error);
    std::unique_ptr<jex::TJexNTEventLog> log = OpenComponent(AOptions.Log);
    const std::uint32_t count = log->GetEventCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        log->ReadEvent(i);
        std::printf("%s\n", RecordLine(*log).c_str());
    }
    return FinishOutput(0);
}

int Follow(const TOptions& AOptions) {
    std::string error;
    if (!CheckReadable(AOptions.Log, error))
        return Fail(error);
    int code = 0;
    std::unique_ptr<platform::TEventLogReader> reader =
        platform::PlatformServices().EventStore->OpenEventLog("", AOptions.Log, code);
    std::unique_ptr<jex::TJexNTEventLog> log = OpenComponent(AOptions.Log);
    // Records are followed by number: a compaction moves positions, never numbers.
    std::uint32_t next = reader->OldestRecord(code) + reader->NumberOfRecords(code);
    if (next == 0)
        next = 1;
    std::uint32_t shown = 0;
    for (;;) {
        const std::uint32_t oldest = reader->OldestRecord(code);
        const std::uint32_t end = oldest + reader->NumberOfRecords(code);
        if (oldest != 0 && next < oldest)
            next = oldest; // dropped before we saw them
        for (; oldest != 0 && next < end; ++next) {
            log->ReadEvent(next - oldest);
            std::printf("%s\n", RecordLine(*log).c_str());
            if (AOptions.Count != 0 && ++shown == AOptions.Count)
                return FinishOutput(0);
        }
        std::fflush(stdout);
        std::this_thread::sleep_for(FollowInterval);
    }
}

int Register(const TOptions& AOptions) {
    if (AOptions.Positional.size() != 2)
        return UsageError();
    const int error = platform::PlatformServices().EventStore->RegisterSource(
        AOptions.Log, AOptions.Positional[0], AOptions.Positional[1]);
    if (error == EINVAL)
        return Fail("not a name a source can have: " + AOptions.Positional[0]);
    if (error != 0)
        return Fail("cannot register " + AOptions.Positional[0] + ": " + std::strerror(error));
    return 0;
}

int Write(const TOptions& AOptions) {
    if (AOptions.Positional.size() != 2)
        return UsageError();
    platform::TEventReport report;
    bool known = false;
    for (const TTypeName& entry : TypeNames)
        if (AOptions.Type == entry.Name) {
            report.EventType = entry.Type;
            known = true;
        }
    if (!known)
        return Fail("unknown event type: " + AOptions.Type);
    report.EventID = AOptions.Id;
    report.Category = static_cast<std::uint16_t>(AOptions.Category & 0xFFFF);
    report.Strings.push_back(AOptions.Positional[1]);
    int error = 0;
    std::unique_ptr<platform::TEventSource> source =
        platform::PlatformServices().EventStore->RegisterEventSource("", AOptions.Positional[0],
                                                                     error);
    if (source != nullptr)
        error = source->Report(report);
    if (error != 0)
        return Fail("cannot write the event: " + ErrorText(error));
    return 0;
}

int Run(const std::vector<std::string>& AArgs) {
    if (AArgs.size() == 1 && (AArgs[0] == "--help" || AArgs[0] == "-h")) {
        std::fputs(Usage, stdout);
        return FinishOutput(0);
    }
    if (AArgs.empty())
        return UsageError();
    const std::string& command = AArgs[0];
    const char* allowed = command == "list"       ? " log "
                          : command == "follow"   ? " log count "
                          : command == "register" ? " log "
                          : command == "write"    ? " type id category "
                                                  : nullptr;
    if (allowed == nullptr)
        return UsageError();
    const TOptions options = ParseOptions(AArgs, allowed);
    if (!options.Ok)
        return UsageError();
    if (command == "list")
        return options.Positional.empty() ? List(options) : UsageError();
    if (command == "follow")
        return options.Positional.empty() ? Follow(options) : UsageError();
    if (command == "register")
        return Register(options);
    return Write(options);
}

} // namespace

int main(int argc, char** argv) {
    fileops::ReserveStandardStreams();
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
