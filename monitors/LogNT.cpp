// monitors/LogNT.cpp - TJexNTEventLog: opening the log, reading records by position, decoding
// the loaded record, resolving its message text and writing events.
//
// The buffer holds whatever the store returned; every getter checks each offset and length it
// follows against the record, so a damaged record gives empty texts, never a read outside it.
#include "monitors/LogNT.h"

#include "host/core/Registry.h"
#include "platform/EnvironmentStrings.h"
#include "platform/LittleEndian.h"
#include "platform/MessageCatalog.h"
#include "platform/PlatformServices.h"

#include <cstring>

namespace jex {

using namespace host;

namespace {

// Field offsets of a record, as the store lays it out.
constexpr std::size_t OffLength = 0;
constexpr std::size_t OffTimeGenerated = 12;
constexpr std::size_t OffEventID = 20;
constexpr std::size_t OffEventType = 24;
constexpr std::size_t OffNumStrings = 26;
constexpr std::size_t OffStringOffset = 36;
constexpr std::size_t OffUserSidOffset = 44;
constexpr std::size_t OffSourceName = 56;

constexpr double UnixEpoch = 25569.0; // 1 January 1970 as a TDateTime

int& LogNTInitCount() {
    static int count = 0;
    return count;
}

// The key of a source's message files (EventSourceKeyFormat filled in).
std::string SourceKey(const std::string& ALog, const std::string& ASource) {
    return std::string(platform::EventLogKey) + "\\" + ALog + "\\" + ASource;
}

// The message of AId from the catalogue file ANamed (expanded first); false when the file
// cannot be loaded or lacks the message.
bool MessageFrom(const std::string& ANamed, std::uint32_t AId,
                 const std::vector<std::string>& AStrings, std::string& AText) {
    const std::string path = platform::ExpandEnvironmentStrings(ANamed);
    if (path.empty() || path.size() > MaxMessageFilePath)
        return false; // does not fit the path buffer: the name yields nothing
    platform::TMessageCatalog catalog;
    if (platform::LoadMessageCatalog(path, catalog) != 0)
        return false;
    const std::string* message = catalog.Find(AId, platform::LanguageNeutral);
    if (message == nullptr)
        return false;
    std::string formatted;
    if (platform::FormatMessageText(*message, AStrings, formatted) != 0 || formatted.empty())
        return false;
    // Only a line end that is there is dropped: a message ending in %0 has none.
    if (formatted.ends_with("\r\n"))
        formatted.resize(formatted.size() - 2);
    AText = std::move(formatted);
    return true;
}

} // namespace

void LogNTInitialization() {
    if (LogNTInitCount()-- == 0)
        RegisterClass(TJexNTEventLog::StaticClassInfo());
}

void LogNTFinalization() {
    ++LogNTInitCount();
}

TJexNTEventLog::TJexNTEventLog(TComponent* AOwner)
    : TJexLogBase(AOwner) {
    FLog = "Application";
    FSource.clear();
}

TJexNTEventLog::~TJexNTEventLog() {
    Close();
}

void TJexNTEventLog::SetActive(bool AValue) {
    if (AValue == Active())
        return;
    if (!ComponentState().Contains(csDesigning)) {
        if (AValue) {
            int error = 0;
            // The result is not examined: a log that cannot be opened leaves the component
            // active with nothing to read.
            FHandle =
                platform::PlatformServices().EventStore->OpenEventLog(FServer, FSource, error);
            FCurrentRecord = -2;
        } else {
            FHandle.reset();
            FBuffer.clear();
            FBuffer.shrink_to_fit();
        }
    }
    TJexLogBase::SetActive(AValue);
}

void TJexNTEventLog::Reopen(std::string& AField, const std::string& AValue) {
    if (AField == AValue)
        return;
    const bool active = Active();
    SetActive(false);
    AField = AValue;
    SetActive(active);
}

void TJexNTEventLog::SetServer(const std::string& AValue) {
    Reopen(FServer, AValue);
}

void TJexNTEventLog::SetSource(const std::string& AValue) {
    Reopen(FSource, AValue);
}

void TJexNTEventLog::SetLog(const std::string& AValue) {
    Reopen(FLog, AValue);
}

std::uint32_t TJexNTEventLog::GetEventCount() {
    if (!Active() || FHandle == nullptr)
        return 0;
    int error = 0;
    return FHandle->NumberOfRecords(error);
}

void TJexNTEventLog::ReadEvent(std::uint32_t AIndex) {
    if (!Active())
        return;
    if (FCurrentRecord >= 0 && static_cast<std::uint32_t>(FCurrentRecord) == AIndex)
        return; // the buffer holds it already
    SeekRecord(AIndex);
}

void TJexNTEventLog::SeekRecord(std::uint32_t AIndex) {
    if (FHandle != nullptr) {
        int error = 0;
        const std::uint32_t number = FHandle->OldestRecord(error) + AIndex;
        const std::uint32_t flags =
            platform::EventLogSeekRead |
            (FReadBackward ? platform::EventLogBackwardsRead : platform::EventLogForwardsRead);
        std::uint32_t read = 0;
        std::uint32_t needed = 0;
        if (FHandle->Read(flags, number, nullptr, 0, read, needed) ==
            platform::EventLogInsufficientBuffer) {
            // Read beside the buffer, so that a read that fails now keeps the record before.
            std::vector<std::uint8_t> record(needed);
            if (FHandle->Read(flags, number, record.data(), needed, read, needed) ==
                    platform::EventLogOk &&
                read > 0) {
                record.resize(read);
                FBuffer = std::move(record);
            }
        }
    }
    FCurrentRecord = static_cast<std::int32_t>(AIndex);
}

namespace {

std::string_view BytesOf(const std::vector<unsigned char>& ABuffer) {
    return {reinterpret_cast<const char*>(ABuffer.data()), ABuffer.size()};
}

} // namespace

std::size_t TJexNTEventLog::RecordLength() const {
    if (FBuffer.size() < 4)
        return FBuffer.size();
    const std::uint32_t length = platform::le::Get32(BytesOf(FBuffer), OffLength);
    return std::min<std::size_t>(length, FBuffer.size());
}

bool TJexNTEventLog::Field32(std::size_t AOffset, std::uint32_t& AValue) const {
    AValue = 0;
    if (AOffset + 4 > RecordLength())
        return false;
    AValue = platform::le::Get32(BytesOf(FBuffer), AOffset);
    return true;
}

bool TJexNTEventLog::Field16(std::size_t AOffset, std::uint16_t& AValue) const {
    AValue = 0;
    if (AOffset + 2 > RecordLength())
        return false;
    AValue = platform::le::Get16(BytesOf(FBuffer), AOffset);
    return true;
}

bool TJexNTEventLog::TextAt(std::size_t AOffset, std::string& AText, std::size_t& ANext) const {
    // The closing copy of the length is no text's room.
    std::size_t end = RecordLength();
    if (end >= OffSourceName + 4)
        end -= 4;
    if (AOffset >= end)
        return false;
    const auto* start = reinterpret_cast<const char*>(FBuffer.data()) + AOffset;
    const void* zero = std::memchr(start, 0, end - AOffset);
    if (zero == nullptr)
        return false; // runs to the end of the record without its terminating zero
    AText.assign(start, static_cast<const char*>(zero));
    ANext = AOffset + AText.size() + 1;
    return true;
}

std::string TJexNTEventLog::GetEventSource() {
    std::string text;
    std::size_t next = 0;
    TextAt(OffSourceName, text, next);
    return text;
}

std::string TJexNTEventLog::GetEventComputer() {
    std::string source;
    std::string computer;
    std::size_t next = 0;
    if (TextAt(OffSourceName, source, next))
        TextAt(next, computer, next);
    return computer;
}

std::uint32_t TJexNTEventLog::GetEventID() {
    std::uint32_t value = 0;
    Field32(OffEventID, value);
    return value;
}

std::uint16_t TJexNTEventLog::GetEventType() {
    std::uint16_t value = 0;
    Field16(OffEventType, value);
    return value;
}

std::uint32_t TJexNTEventLog::GetEventStringCount() {
    std::uint16_t value = 0;
    Field16(OffNumStrings, value);
    return value;
}

std::vector<std::string> TJexNTEventLog::EventStrings() {
    std::vector<std::string> strings;
    std::uint32_t offset = 0;
    if (!Field32(OffStringOffset, offset))
        return strings;
    std::size_t next = offset;
    for (std::uint32_t i = 0, count = GetEventStringCount(); i < count; ++i) {
        std::string text;
        if (!TextAt(next, text, next))
            break; // the strings stop where the record does
        strings.push_back(std::move(text));
    }
    return strings;
}

std::string TJexNTEventLog::GetEventString(std::uint32_t AIndex) {
    if (AIndex >= GetEventStringCount())
        return {};
    std::vector<std::string> strings = EventStrings();
    return AIndex < strings.size() ? std::move(strings[AIndex]) : std::string();
}

const void* TJexNTEventLog::GetEventSID() {
    std::uint32_t offset = 0;
    if (!Field32(OffUserSidOffset, offset) || offset > RecordLength())
        return nullptr;
    return FBuffer.data() + offset;
}

TDateTime TJexNTEventLog::GetEventTime() {
    std::uint32_t seconds = 0;
    if (!Field32(OffTimeGenerated, seconds))
        return 0.0;
    return UnixEpoch + seconds / 86400.0;
}

std::string TJexNTEventLog::GetEventMessageText() {
    if (RecordLength() < OffSourceName)
        return {};
    const std::vector<std::string> strings = EventStrings();
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    std::string files;
    try {
        if (!registry.OpenKeyReadOnly(SourceKey(FLog, GetEventSource())))
            return {};
        files = registry.ReadString("EventMessageFile");
    } catch (const ERegistryException&) {
        return {}; // a value of another type, or a damaged one: no message file
    }
    const std::uint32_t id = GetEventID();
    std::string text;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = files.find(';', start);
        const std::string name = files.substr(start, end - start);
        if (MessageFrom(name, id, strings, text) || end == std::string::npos)
            return text;
        start = end + 1;
    }
}

void TJexNTEventLog::WriteToEventLog(const std::string& AText, std::uint16_t AEventType,
                                     std::uint32_t ACategory, std::uint32_t AEventID) {
    int error = 0;
    std::unique_ptr<platform::TEventSource> source =
        platform::PlatformServices().EventStore->RegisterEventSource(FServer, FSource, error);
    if (source == nullptr)
        return;
    platform::TEventReport report;
    report.EventType = AEventType;
    report.Category = static_cast<std::uint16_t>(ACategory & 0xFFFF);
    report.EventID = AEventID;
    report.Strings.push_back(AText); // whole: no cut at a fixed buffer
    source->Report(report);          // a failed write is not reported
}

const TClassInfo& TJexNTEventLog::StaticClassInfo() {
    using T = TJexNTEventLog;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexNTEventLog", &TJexLogBase::StaticClassInfo())
            .Component()
            .String("Server", &T::Server, &T::SetServer)
            .String("Source", &T::Source, &T::SetSource)
            .String("Log", &T::Log, &T::SetLog)
            .Build();
    return info;
}

} // namespace jex
