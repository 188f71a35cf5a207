// mapfile/MapIndex.h - the map reader's lookup index over its three lists of lines.
//
// The reader's results are defined by scans of the lists in file order that stop at the first
// line past the address. The index answers the same questions in logarithmic time, for lists in
// any order: a running maximum (or, for line-number rows, a running minimum taken from the end of
// each section) turns "first line past the address" into a binary search, and the one or two
// lines it finds are then cut exactly as the scans cut them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace jex {

/// Where a code address lies: views into the map's lines, valid while they are.
struct TMapPosition {
    std::string_view Unit;      ///< empty when none
    std::string_view Procedure; ///< empty when none
    std::int32_t Line = 0;      ///< 0 when none
};

/// Lookup index over the segment, public and line-number lines of one loaded map. The lists
/// must stay alive and unchanged while the index is used.
class TMapIndex {
public:
    TMapIndex(const std::vector<std::string>& ASegmentLines,
              const std::vector<std::string>& APublicLines,
              const std::vector<std::string>& ALineNumberLines);

    /// Index of the segment line whose module the unit scan ends with for ARelative (the last
    /// line naming a module before the first usable line that starts above ARelative); -1 when
    /// no such line. Usable lines are non-empty code-segment lines with hexadecimal start and
    /// length.
    std::ptrdiff_t UnitLine(std::uint32_t ARelative) const;

    /// Index of the public line whose name the procedure scan takes for ARelative; -1 when none.
    std::ptrdiff_t ProcedureLine(std::uint32_t ARelative) const;

    /// The source line the line scan finds for ARelative in the line-number section that
    /// follows the first line containing AUnit; 0 when none. Remembers where each unit's
    /// section starts.
    std::int32_t LineNumber(const std::string& AUnit, std::uint32_t ARelative);

    /// Index of the first non-empty line-number line containing AUnit; -1 when none.
    std::ptrdiff_t FirstLineContaining(const std::string& AUnit);

    /// Finds the line-number section of every segment's module in advance, so that PositionOf
    /// needs nothing it would have to allocate.
    void PrepareUnitSections();

    /// Unit, procedure and line of ARelative, the same the three lookups above give; allocates
    /// nothing and takes no lock, so a fatal report can use it. Without PrepareUnitSections the
    /// line stays 0.
    TMapPosition PositionOf(std::uint32_t ARelative) const noexcept;

private:
    struct TSegmentKey {
        std::uint32_t MaxStart;    ///< greatest start offset up to this usable line
        std::ptrdiff_t ModuleLine; ///< last usable line naming a module up to here, or -1
    };

    struct TPublicKey {
        std::uint32_t MaxOffset; ///< greatest code offset up to this public
        std::uint32_t Offset;
        std::ptrdiff_t Line;       ///< the public's own line
        std::ptrdiff_t BeforeLine; ///< the line taken when the address lies below it, or -1
    };

    void BuildSegments();
    void BuildPublics();
    void BuildLineNumbers();
    /// The source line for ARelative in the section under the line AHeader (see LineNumber).
    std::int32_t LineNumberIn(std::ptrdiff_t AHeader, std::uint32_t ARelative) const noexcept;

    const std::vector<std::string>& FSegmentLines;
    const std::vector<std::string>& FPublicLines;
    const std::vector<std::string>& FLineNumberLines;

    std::vector<TSegmentKey> FSegments;
    std::vector<TPublicKey> FPublics;

    /// Per line-number line: the least first-entry offset of the rows from here to the end of
    /// its section (a row without a usable first entry counts as 2^32).
    std::vector<std::uint64_t> FRowMinimum;
    /// Per line-number line: the last row up to here within its section whose first offset is
    /// usable, or -1.
    std::vector<std::int32_t> FLastEntryRow;
    /// Lines containing "Line numbers for", ascending.
    std::vector<std::int32_t> FMarkerLines;
    /// Non-empty lines holding a character that line-number rows never hold, ascending. Only
    /// these can contain a unit name with such a character.
    std::vector<std::int32_t> FTextLines;
    std::unordered_map<std::string, std::ptrdiff_t> FUnitLines;
    /// Per segment line: the first line-number line containing its module, -1 when none;
    /// filled by PrepareUnitSections.
    std::vector<std::ptrdiff_t> FSegmentSections;
};

/// Runs the line scan over one row of a line-number section: updates ACandidate with every
/// entry read at or below ARelative and ALastOffset with every offset read.
void ScanLineNumberRow(std::string_view ARow, std::uint32_t ARelative, std::int32_t& ACandidate,
                       std::uint32_t& ALastOffset);

} // namespace jex
