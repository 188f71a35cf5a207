// mapfile/MapFormat.cpp - writers of the map file's line layouts.
#include "mapfile/MapFormat.h"

#include <cstdio>

namespace jex::mapformat {

std::string HexOffset(std::uint32_t AOffset) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(AOffset));
    return buffer;
}

std::string FormatPublicLine(std::uint32_t AOffset, std::string_view AName) {
    std::string line;
    line.reserve(AddressPrefix.size() + HexFieldWidth + PublicNameGap.size() + AName.size());
    line.append(AddressPrefix).append(HexOffset(AOffset)).append(PublicNameGap).append(AName);
    return line;
}

std::string PadLineNumber(long long ALine) {
    std::string digits = std::to_string(ALine);
    if (digits.size() < LineNumberWidth)
        digits.insert(0, LineNumberWidth - digits.size(), ' ');
    return digits;
}

std::string FormatLineEntry(long long ALine, std::uint32_t AOffset) {
    return PadLineNumber(ALine).append(AddressPrefix).append(HexOffset(AOffset));
}

std::string FormatLineSectionHeader(std::string_view AUnit, std::string_view AFile) {
    std::string header("Line numbers for ");
    header.append(AUnit).append("(").append(AFile).append(") segment .text");
    return header;
}

} // namespace jex::mapformat
