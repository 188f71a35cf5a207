// monitors/LogNT.h - TJexNTEventLog, the component that reads records of the system event log
// by position, decodes them, and writes new events.
//
// While active, the component holds the log opened under Source (the store opens the default
// log for a name that is no log) and loads one record at a time into its buffer, exactly as
// the store hands it out; the getters decode that buffer. Message texts come from the message
// catalogues registered for the record's source under Log. Writing does not depend on Active.
// No operation raises: what cannot be opened, read or found gives empty texts and zeros.
#pragma once

#include "host/core/System.h"
#include "logging/LogBase.h"
#include "platform/EventLog.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace jex {

/// Event types WriteToEventLog takes.
inline constexpr std::uint16_t EVENTLOG_ERROR_TYPE = platform::EventLogErrorType;
inline constexpr std::uint16_t EVENTLOG_WARNING_TYPE = platform::EventLogWarningType;
inline constexpr std::uint16_t EVENTLOG_INFORMATION_TYPE = platform::EventLogInformationType;
inline constexpr std::uint16_t EVENTLOG_AUDIT_SUCCESS = platform::EventLogAuditSuccess;
inline constexpr std::uint16_t EVENTLOG_AUDIT_FAILURE = platform::EventLogAuditFailure;

/// The key, below HKEY_LOCAL_MACHINE, that holds a source's message files: the log, then the
/// source.
inline constexpr const char* EventSourceKeyFormat =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s\\%s";

/// The longest expanded message file name tried (the classic path limit less its zero).
inline constexpr std::size_t MaxMessageFilePath = 259;

/// Reads and writes the system event log.
class TJexNTEventLog : public TJexLogBase {
    JEX_CLASS(TJexNTEventLog)

public:
    /// Log "Application", empty Server and Source, inactive.
    explicit TJexNTEventLog(host::TComponent* AOwner);
    /// Closes the log and releases the record buffer.
    ~TJexNTEventLog() override;

    /// Opens the log (true) or closes it and releases the buffer (false), unless designing;
    /// the same value again does nothing.
    void SetActive(bool AValue) override;

    void Open() { SetActive(true); }

    void Close() { SetActive(false); }

    const std::string& Server() const { return FServer; }

    /// A different text closes an active log and opens it again with the new name.
    void SetServer(const std::string& AValue);

    const std::string& Source() const { return FSource; }

    void SetSource(const std::string& AValue);

    const std::string& Log() const { return FLog; }

    void SetLog(const std::string& AValue);

    /// Read direction: false (the default) reads forwards, true backwards. A seek read
    /// addresses the same record either way; only the flags passed differ.
    bool ReadBackward() const { return FReadBackward; }

    void SetReadBackward(bool AValue) { FReadBackward = AValue; }

    /// Records in the open log; 0 while inactive or when the count cannot be had.
    std::uint32_t GetEventCount();

    /// Loads the record at AIndex (0 = the oldest); the position loaded last is not read
    /// again. Nothing is read while inactive.
    void ReadEvent(std::uint32_t AIndex);

    /// Reads the record at AIndex into the buffer: the size probe, then the read. A failed read
    /// keeps the record loaded before; the position becomes AIndex either way.
    void SeekRecord(std::uint32_t AIndex);

    /// Getters of the loaded record. With no record loaded, or a field that points outside the
    /// record, texts are empty and numbers 0.
    std::string GetEventSource();
    std::string GetEventComputer();
    std::uint32_t GetEventID();
    std::uint16_t GetEventType();
    std::uint32_t GetEventStringCount();
    /// The string at AIndex (from 0); empty past the last.
    std::string GetEventString(std::uint32_t AIndex);
    /// The security identifier inside the buffer, valid until the next read or deactivation;
    /// nullptr with no record or an offset outside it.
    const void* GetEventSID();
    /// TimeGenerated as a TDateTime in UTC.
    host::TDateTime GetEventTime();
    /// The message of the record's identifier from the source's message files, with the
    /// record's strings in place of its inserts and without the line end it ends in.
    std::string GetEventMessageText();

    /// Writes AText whole as the one string of a new event of ASource, of type AEventType,
    /// with the low 16 bits of ACategory and AEventID. Silently does nothing when the source
    /// cannot be registered or the write fails.
    void WriteToEventLog(const std::string& AText, std::uint16_t AEventType,
                         std::uint32_t ACategory, std::uint32_t AEventID);

    /// The position of the loaded record; -2 when none was read since activation.
    std::int32_t CurrentRecord() const { return FCurrentRecord; }

    /// The record buffer as the store filled it.
    const std::vector<std::uint8_t>& RecordBuffer() const { return FBuffer; }

private:
    /// Closes and reopens an active log after a name changed.
    void Reopen(std::string& AField, const std::string& AValue);
    /// The insertion strings of the loaded record, as many as it has and holds.
    std::vector<std::string> EventStrings();
    /// The 32-bit field at AOffset of the loaded record; false when it lies outside.
    bool Field32(std::size_t AOffset, std::uint32_t& AValue) const;
    bool Field16(std::size_t AOffset, std::uint16_t& AValue) const;
    /// The zero-terminated text at AOffset; false when it is not inside the record.
    bool TextAt(std::size_t AOffset, std::string& AText, std::size_t& ANext) const;
    /// The length the record says it has, capped at the buffer's size.
    std::size_t RecordLength() const;

    std::unique_ptr<platform::TEventLogReader> FHandle;
    std::string FLog = "Application";
    std::string FServer;
    std::string FSource;
    bool FReadBackward = false;
    std::int32_t FCurrentRecord = -2;
    std::vector<std::uint8_t> FBuffer;
};

/// Initialisation and finalisation of the unit: registers TJexNTEventLog with the class
/// registry (nested calls only count).
void LogNTInitialization();
void LogNTFinalization();

} // namespace jex
