// mapfile/MapFormat.h - the layout of a detailed linker map file, fixed in one place.
//
// The map reader (Jexmapfile) and the line-number tool (vellin) both work on this text layout:
// region markers and their spellings, the character columns of segment, public and line-number
// lines, and the address model. Columns here are 0-based character positions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace jex::mapformat {

/// Run-time address of offset 0 of the code segment.
inline constexpr std::uint32_t BaseAddress = 0x00401000;

/// Segment number written for every address (the code segment).
inline constexpr std::string_view CodeSegment = "0001";

// ---- Region markers -------------------------------------------------------------------------

/// Start of the segment table (substring test).
inline constexpr std::string_view SegmentsMarker = "Detailed map of segments";
/// The two spellings of the publics headers that linkers write ("Address", nine spaces or
/// one space, then the section name).
inline constexpr std::string_view PublicsByNameMarker = "Address         Publics by Name";
inline constexpr std::string_view PublicsByNameMarkerShort = "Address Publics by Name";
inline constexpr std::string_view PublicsByValueMarker = "Address         Publics by Value";
inline constexpr std::string_view PublicsByValueMarkerShort = "Address Publics by Value";
/// Start of the line-number part and of each of its sections (substring test).
inline constexpr std::string_view LineNumbersMarker = "Line numbers for";

/// The exact publics-by-name line the tool rewrites from (whole line, letter case ignored).
inline constexpr std::string_view PublicsByNameLine = "  Address         Publics by Name";
/// The header line the tool writes in front of its publics-by-value section.
inline constexpr std::string_view PublicsByValueLine = "  Address         Publics by Value";

/// Module name delimiters of a segment line.
inline constexpr std::string_view ModuleNameTag = "M=";
inline constexpr std::string_view AcbpTag = "ACBP=";

// ---- Columns (0-based) ----------------------------------------------------------------------

inline constexpr std::size_t HexFieldWidth = 8;
/// Segment line: start offset, length.
inline constexpr std::size_t SegmentStartColumn = 6;
inline constexpr std::size_t SegmentLengthColumn = 15;
/// Public line: offset and the symbol name (after seven spaces).
inline constexpr std::size_t PublicOffsetColumn = 6;
inline constexpr std::size_t PublicNameColumn = 21;
/// Public line as the tool writes it: " 0001:" + offset + this gap + name.
inline constexpr std::string_view PublicNameGap = "       ";
/// Line-number rows: up to four entries of 20 characters each.
inline constexpr std::size_t LineEntriesPerRow = 4;
inline constexpr std::size_t LineEntryWidth = 20;
inline constexpr std::size_t LineNumberWidth = 6;
inline constexpr std::size_t LineEntryOffsetColumn = 12;

// ---- Writing --------------------------------------------------------------------------------

/// The address prefix " 0001:" that precedes every offset the tool writes.
inline constexpr std::string_view AddressPrefix = " 0001:";

/// Offset as eight upper-case hexadecimal digits.
std::string HexOffset(std::uint32_t AOffset);

/// " 0001:" + offset + seven spaces + name.
std::string FormatPublicLine(std::uint32_t AOffset, std::string_view AName);

/// A line number right-aligned in six characters; a longer number is written whole.
std::string PadLineNumber(long long ALine);

/// One line-number entry: padded number, " 0001:", offset.
std::string FormatLineEntry(long long ALine, std::uint32_t AOffset);

/// Header of a line-number section, without line break:
/// "Line numbers for <unit>(<file>) segment .text".
std::string FormatLineSectionHeader(std::string_view AUnit, std::string_view AFile);

} // namespace jex::mapformat
