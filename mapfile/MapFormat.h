// mapfile/MapFormat.h - the layout of a detailed linker map file, fixed in one place.
//
// The map reader (Jexmapfile) and the line-number tool (vellin) both work on this text layout:
// region markers and their spellings, the character columns of segment, public and line-number
// lines, and the address model. Columns here are 0-based character positions. The writers serve
// the tool; the reading pieces (marker tests, field cutting, line splitting) serve the reader
// and maplookup.
#pragma once

#include <cstddef>
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

/// The same three forms appended to AOut, for writers of large maps that build no string per
/// line.
void AppendHexOffset(std::string& AOut, std::uint32_t AOffset);
void AppendPublicLine(std::string& AOut, std::uint32_t AOffset, std::string_view AName);
void AppendLineEntry(std::string& AOut, long long ALine, std::uint32_t AOffset);

/// Header of a line-number section, without line break:
/// "Line numbers for <unit>(<file>) segment .text".
std::string FormatLineSectionHeader(std::string_view AUnit, std::string_view AFile);

// ---- Reading --------------------------------------------------------------------------------

/// Public line: the reader takes the name from here on, trimmed. Linkers put a varying number of
/// spaces between offset and name (seven, or two for the C++Builder linker), so the reader does
/// not rely on the name starting at PublicNameColumn.
inline constexpr std::size_t PublicNameReadColumn = 14;
/// Segment number of segment and public lines (" 0001:...").
inline constexpr std::size_t SegmentNumberColumn = 1;
inline constexpr std::size_t SegmentNumberWidth = 4;

/// The two words of every publics header; linkers put one, nine or thirteen spaces between them.
inline constexpr std::string_view PublicsHeaderWord = "Address";
inline constexpr std::string_view PublicsByNameTitle = "Publics by Name";
inline constexpr std::string_view PublicsByValueTitle = "Publics by Value";

/// Which publics headers FindPublicsHeader looks for.
enum TPublicsHeaders : std::uint8_t { phByName = 1, phByValue = 2, phEither = 3 };

/// Position of the first publics header at or after AFrom in AText: "Address", one or more
/// spaces, then the title of a section named by AWhich. The header may stand anywhere in its
/// line and the match never spans a line break. Returns the position of the title, or npos.
std::size_t FindPublicsHeader(std::string_view AText, std::size_t AFrom, TPublicsHeaders AWhich);

/// Marker tests of the reader: case-sensitive, anywhere in the line.
bool ContainsSegmentsMarker(std::string_view ALine);
bool ContainsPublicsByNameHeader(std::string_view ALine);
bool ContainsPublicsByValueHeader(std::string_view ALine);
bool ContainsLineNumbersMarker(std::string_view ALine);

/// Reads the hexadecimal field of HexFieldWidth characters at AColumn, or fewer where the line
/// ends earlier. False (AValue untouched) when there are no characters or any of them is not a
/// hexadecimal digit (either letter case).
bool ReadHexField(std::string_view ALine, std::size_t AColumn, std::uint32_t& AValue);

/// Reads a decimal line number after trimming AField (TrimText): one or more digits, no sign,
/// at most 2^31-1. False (AValue untouched) otherwise.
bool ReadLineNumber(std::string_view AField, std::int32_t& AValue);

/// AText without the spaces and control characters (code 32 and below) at both ends.
std::string_view TrimText(std::string_view AText);

/// True when the line carries both "M=" and "ACBP=".
bool HasModuleName(std::string_view ALine);

/// The module name of a segment line: from after the first "M=" up to, not including, the
/// character before the first "ACBP=" (a separator), trimmed. Empty when either tag is missing
/// or "ACBP=" does not follow "M=" with room for a name.
std::string_view ModuleName(std::string_view ALine);

/// True when the line's segment number is the code segment's ("0001" at SegmentNumberColumn).
bool InCodeSegment(std::string_view ALine);

/// The symbol name of a public line: from PublicNameReadColumn on, trimmed.
std::string_view PublicName(std::string_view ALine);

/// Start of the line that holds position APos: just after the last CR or LF before it.
std::size_t LineStart(std::string_view AText, std::size_t APos);

/// Walks a text line by line. A line ends at CR, LF or CR LF; a break at the very end of the
/// text does not open another (empty) line. Lines are views into the text, which must outlive
/// the cursor. Each character is looked at a bounded number of times, whatever the line ends.
class TLineCursor {
public:
    explicit TLineCursor(std::string_view AText, std::size_t APosition = 0);

    /// Stores the next line in ALine and moves past its break; false at the end of the text.
    bool Next(std::string_view& ALine);

    /// Passes over up to ACount lines.
    void Skip(std::size_t ACount);

    /// Start of the next line (the text's size at the end).
    std::size_t Position() const { return FPosition; }

    /// Continues at APosition, which should be the start of a line.
    void Seek(std::size_t APosition);

private:
    std::string_view FText;
    std::size_t FPosition;
    /// Next LF at or after FPosition (or the text's size); saves searching the same stretch again
    /// for each line of a text with CR breaks only.
    std::size_t FNextLineFeed;
};

} // namespace jex::mapformat
