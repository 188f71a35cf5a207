// platform/EventRecord.cpp - laying out and decoding one event record of the store's layout.
#include "platform/EventLog.h"
#include "platform/LittleEndian.h"

#include <cstring>

namespace platform {

namespace {

using le::Get16;
using le::Get32;
using le::Put16;
using le::Put32;

void Align4(std::string& ABytes) {
    ABytes.resize((ABytes.size() + 3) & ~std::size_t{3}, '\0');
}

// The zero-terminated text at AAt, which must end before AEnd; false when it runs past it.
bool TextAt(std::string_view ABytes, std::size_t AAt, std::size_t AEnd, std::string& AText,
            std::size_t& ANext) {
    if (AAt > AEnd)
        return false;
    const std::size_t zero = ABytes.substr(0, AEnd).find('\0', AAt);
    if (zero == std::string_view::npos)
        return false;
    AText.assign(ABytes.substr(AAt, zero - AAt));
    ANext = zero + 1;
    return true;
}

} // namespace

std::string BuildEventRecord(const TEventReport& AReport, std::uint32_t ARecordNumber,
                             std::uint32_t ATimeWritten, std::string_view ASource,
                             std::string_view AComputer) {
    std::string bytes(EventRecordFixedSize, '\0');
    // Names are cut at an embedded zero, as the zero-terminated fields they go into would.
    bytes.append(ASource.substr(0, ASource.find('\0')));
    bytes.push_back('\0');
    bytes.append(AComputer.substr(0, AComputer.find('\0')));
    bytes.push_back('\0');
    Align4(bytes);
    const auto sidOffset = static_cast<std::uint32_t>(bytes.size());
    bytes.append(AReport.UserSid);
    const auto stringOffset = static_cast<std::uint32_t>(bytes.size());
    for (const std::string& text : AReport.Strings) {
        bytes.append(std::string_view(text).substr(0, text.find('\0')));
        bytes.push_back('\0');
    }
    const auto dataOffset = static_cast<std::uint32_t>(bytes.size());
    bytes.append(AReport.Data);
    Align4(bytes);
    bytes.append(4, '\0');
    const auto length = static_cast<std::uint32_t>(bytes.size());

    Put32(bytes, 0, length);
    Put32(bytes, 4, EventLogSignature);
    Put32(bytes, 8, ARecordNumber);
    Put32(bytes, 12, AReport.TimeGenerated);
    Put32(bytes, 16, ATimeWritten);
    Put32(bytes, 20, AReport.EventID);
    Put16(bytes, 24, AReport.EventType);
    Put16(bytes, 26, static_cast<std::uint16_t>(AReport.Strings.size()));
    Put16(bytes, 28, AReport.Category);
    Put32(bytes, 36, stringOffset);
    Put32(bytes, 40, static_cast<std::uint32_t>(AReport.UserSid.size()));
    Put32(bytes, 44, sidOffset);
    Put32(bytes, 48, static_cast<std::uint32_t>(AReport.Data.size()));
    Put32(bytes, 52, dataOffset);
    Put32(bytes, length - 4, length);
    return bytes;
}

bool DecodeEventRecord(std::string_view ABytes, TEventRecordView& ARecord) {
    if (ABytes.size() < EventRecordFixedSize + 4 || Get32(ABytes, 0) != ABytes.size() ||
        Get32(ABytes, 4) != EventLogSignature || Get32(ABytes, ABytes.size() - 4) != ABytes.size())
        return false;
    const std::size_t end = ABytes.size() - 4; // the closing length is no field's room
    TEventRecordView record;
    record.RecordNumber = Get32(ABytes, 8);
    record.TimeGenerated = Get32(ABytes, 12);
    record.TimeWritten = Get32(ABytes, 16);
    record.EventID = Get32(ABytes, 20);
    record.EventType = Get16(ABytes, 24);
    record.Category = Get16(ABytes, 28);
    std::size_t next = 0;
    if (!TextAt(ABytes, EventRecordFixedSize, end, record.SourceName, next) ||
        !TextAt(ABytes, next, end, record.ComputerName, next))
        return false;
    const std::uint16_t count = Get16(ABytes, 26);
    next = Get32(ABytes, 36);
    if (next < EventRecordFixedSize)
        return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        std::string text;
        if (!TextAt(ABytes, next, end, text, next))
            return false;
        record.Strings.push_back(std::move(text));
    }
    ARecord = std::move(record);
    return true;
}

} // namespace platform
