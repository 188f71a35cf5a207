// platform/JournalExport.h - fields of one entry in the journal export format, written without
// allocating.
//
// An entry is a run of fields ended by an empty line. A value that is printable text on one line
// is written "NAME=value\n"; any other value (a multi-line report, control characters) is
// written binary-safe as "NAME\n", its length as 64-bit little endian, the bytes and "\n". The
// fatal report composes its entry in a signal handler, so this writer only copies bytes.
#pragma once

#include "platform/SignalSafeText.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

/// True when AValue must be written in the binary-safe form.
inline bool JournalValueNeedsLength(std::string_view AValue) noexcept {
    for (const char c : AValue) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F)
            return true;
    }
    return false;
}

/// Bytes AppendJournalField writes for the field.
inline std::size_t JournalFieldSize(std::string_view AName, std::string_view AValue) noexcept {
    return AName.size() + 1 + (JournalValueNeedsLength(AValue) ? 8 : 0) + AValue.size() + 1;
}

/// Appends one field; writes nothing and answers false when it does not fit whole, so an entry
/// is never cut inside a length-prefixed value.
inline bool AppendJournalField(TSignalSafeText& AOut, std::string_view AName,
                               std::string_view AValue) noexcept {
    if (JournalFieldSize(AName, AValue) > AOut.Room())
        return false;
    AOut.Append(AName);
    if (JournalValueNeedsLength(AValue)) {
        char length[8];
        std::uint64_t n = AValue.size();
        for (char& byte : length) {
            byte = static_cast<char>(n & 0xFF);
            n >>= 8;
        }
        AOut.Append("\n").Append(std::string_view(length, sizeof length));
    } else {
        AOut.Append("=");
    }
    AOut.Append(AValue).Append("\n");
    return true;
}

/// Ends the entry (the empty line); false when it does not fit.
inline bool EndJournalEntry(TSignalSafeText& AOut) noexcept {
    if (AOut.Room() < 1)
        return false;
    AOut.Append("\n");
    return true;
}

} // namespace platform
