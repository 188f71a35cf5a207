// mapfile/MapIndex.cpp - builds the lookup index and answers the reader's three questions.
#include "mapfile/MapIndex.h"

#include "mapfile/MapFormat.h"

#include <algorithm>

namespace jex {

namespace mf = mapformat;

namespace {

constexpr std::uint64_t NoRowKey = std::uint64_t{1} << 32;

// Characters of a line-number row: digits, upper-case hex letters, ':' and spaces.
bool IsRowCharacter(char AChar) {
    return AChar == ' ' || AChar == ':' || (AChar >= '0' && AChar <= '9') ||
           (AChar >= 'A' && AChar <= 'F');
}

bool HoldsOnlyRowCharacters(std::string_view AText) {
    return std::all_of(AText.begin(), AText.end(), IsRowCharacter);
}

} // namespace

void ScanLineNumberRow(std::string_view ARow, std::uint32_t ARelative, std::int32_t& ACandidate,
                       std::uint32_t& ALastOffset) {
    for (std::size_t entry = 0; entry < mf::LineEntriesPerRow; ++entry) {
        const std::size_t column = entry * mf::LineEntryWidth;
        std::uint32_t offset = 0;
        if (!mf::ReadHexField(ARow, column + mf::LineEntryOffsetColumn, offset))
            return;
        ALastOffset = offset;
        if (ARelative < offset)
            return;
        std::int32_t line = 0;
        if (!mf::ReadLineNumber(ARow.substr(column, mf::LineNumberWidth), line))
            return;
        ACandidate = line;
        if (offset == ARelative)
            return;
    }
}

TMapIndex::TMapIndex(const std::vector<std::string>& ASegmentLines,
                     const std::vector<std::string>& APublicLines,
                     const std::vector<std::string>& ALineNumberLines)
    : FSegmentLines(ASegmentLines)
    , FPublicLines(APublicLines)
    , FLineNumberLines(ALineNumberLines) {
    BuildSegments();
    BuildPublics();
    BuildLineNumbers();
}

void TMapIndex::BuildSegments() {
    std::uint32_t maxStart = 0;
    std::ptrdiff_t moduleLine = -1;
    for (std::size_t i = 0; i < FSegmentLines.size(); ++i) {
        const std::string& line = FSegmentLines[i];
        std::uint32_t start = 0;
        std::uint32_t length = 0;
        if (line.empty() || !mf::ReadHexField(line, mf::SegmentStartColumn, start) ||
            !mf::ReadHexField(line, mf::SegmentLengthColumn, length))
            continue;
        // Linkers list the data segments after the code, starting at offset 0 again: taking
        // them would give every address in the last code module a data module's name.
        if (!mf::InCodeSegment(line))
            continue;
        maxStart = std::max(maxStart, start);
        if (mf::HasModuleName(line))
            moduleLine = static_cast<std::ptrdiff_t>(i);
        FSegments.push_back({maxStart, moduleLine});
    }
}

std::ptrdiff_t TMapIndex::UnitLine(std::uint32_t ARelative) const {
    // The scan stops at the first usable line starting above the address, which is where the
    // running maximum first exceeds it.
    const auto stop = std::upper_bound(
        FSegments.begin(), FSegments.end(), ARelative,
        [](std::uint32_t AValue, const TSegmentKey& AKey) { return AValue < AKey.MaxStart; });
    if (stop == FSegments.begin())
        return -1;
    return std::prev(stop)->ModuleLine;
}

void TMapIndex::BuildPublics() {
    std::uint32_t maxOffset = 0;
    std::ptrdiff_t beforeLine = -1;
    for (std::size_t i = 0; i < FPublicLines.size(); ++i) {
        const std::string& line = FPublicLines[i];
        const auto index = static_cast<std::ptrdiff_t>(i);
        std::uint32_t offset = 0;
        if (line.empty() || !mf::ReadHexField(line, mf::PublicOffsetColumn, offset)) {
            beforeLine = index;
            continue;
        }
        // Publics of other segments (data, thread-local) are not procedures; their offsets
        // count from another base and would stop the scan anywhere.
        if (!mf::InCodeSegment(line))
            continue;
        maxOffset = std::max(maxOffset, offset);
        FPublics.push_back({maxOffset, offset, index, beforeLine});
        beforeLine = index;
    }
}

std::ptrdiff_t TMapIndex::ProcedureLine(std::uint32_t ARelative) const {
    const auto stop = std::lower_bound(
        FPublics.begin(), FPublics.end(), ARelative,
        [](const TPublicKey& AKey, std::uint32_t AValue) { return AKey.MaxOffset < AValue; });
    if (stop == FPublics.end())
        return -1;
    return stop->Offset == ARelative ? stop->Line : stop->BeforeLine;
}

void TMapIndex::BuildLineNumbers() {
    const std::size_t count = FLineNumberLines.size();
    FRowMinimum.assign(count, NoRowKey);
    FLastEntryRow.assign(count, -1);
    std::vector<bool> marker(count, false);
    std::int32_t lastEntryRow = -1;
    for (std::size_t k = 0; k < count; ++k) {
        const std::string& line = FLineNumberLines[k];
        if (!HoldsOnlyRowCharacters(line))
            FTextLines.push_back(static_cast<std::int32_t>(k));
        if (mf::ContainsLineNumbersMarker(line)) {
            marker[k] = true;
            FMarkerLines.push_back(static_cast<std::int32_t>(k));
            lastEntryRow = -1;
            continue;
        }
        std::uint32_t offset = 0;
        if (mf::ReadHexField(line, mf::LineEntryOffsetColumn, offset)) {
            lastEntryRow = static_cast<std::int32_t>(k);
            std::int32_t number = 0;
            if (mf::ReadLineNumber(std::string_view(line).substr(0, mf::LineNumberWidth), number))
                FRowMinimum[k] = offset;
        }
        FLastEntryRow[k] = lastEntryRow;
    }
    for (std::size_t k = count; k-- > 1;)
        if (!marker[k])
            FRowMinimum[k - 1] = std::min(FRowMinimum[k - 1], FRowMinimum[k]);
}

std::ptrdiff_t TMapIndex::FirstLineContaining(const std::string& AUnit) {
    const auto known = FUnitLines.find(AUnit);
    if (known != FUnitLines.end())
        return known->second;
    std::ptrdiff_t found = -1;
    if (!AUnit.empty()) {
        if (HoldsOnlyRowCharacters(AUnit)) {
            for (std::size_t k = 0; k < FLineNumberLines.size() && found < 0; ++k)
                if (FLineNumberLines[k].find(AUnit) != std::string::npos)
                    found = static_cast<std::ptrdiff_t>(k);
        } else {
            for (std::int32_t k : FTextLines)
                if (FLineNumberLines[static_cast<std::size_t>(k)].find(AUnit) !=
                    std::string::npos) {
                    found = k;
                    break;
                }
        }
    }
    FUnitLines.emplace(AUnit, found);
    return found;
}

std::int32_t TMapIndex::LineNumber(const std::string& AUnit, std::uint32_t ARelative) {
    return LineNumberIn(FirstLineContaining(AUnit), ARelative);
}

void TMapIndex::PrepareUnitSections() {
    FSegmentSections.assign(FSegmentLines.size(), -1);
    for (std::size_t i = 0; i < FSegmentLines.size(); ++i)
        if (mf::HasModuleName(FSegmentLines[i]))
            FSegmentSections[i] =
                FirstLineContaining(std::string(mf::ModuleName(FSegmentLines[i])));
}

TMapPosition TMapIndex::PositionOf(std::uint32_t ARelative) const noexcept {
    TMapPosition position;
    const std::ptrdiff_t unitLine = UnitLine(ARelative);
    if (unitLine >= 0)
        position.Unit = mf::ModuleName(FSegmentLines[static_cast<std::size_t>(unitLine)]);
    const std::ptrdiff_t publicLine = ProcedureLine(ARelative);
    if (publicLine >= 0)
        position.Procedure = mf::PublicName(FPublicLines[static_cast<std::size_t>(publicLine)]);
    if (!position.Unit.empty() && static_cast<std::size_t>(unitLine) < FSegmentSections.size())
        position.Line =
            LineNumberIn(FSegmentSections[static_cast<std::size_t>(unitLine)], ARelative);
    return position;
}

std::int32_t TMapIndex::LineNumberIn(std::ptrdiff_t AHeader,
                                     std::uint32_t ARelative) const noexcept {
    const std::ptrdiff_t header = AHeader;
    if (header < 0)
        return 0;
    // The section's rows: after the line found and the empty line under it, up to the next
    // line-number header.
    const auto first = static_cast<std::size_t>(header) + 2;
    const auto next =
        std::lower_bound(FMarkerLines.begin(), FMarkerLines.end(),
                         static_cast<std::int32_t>(std::min(first, FLineNumberLines.size())));
    const std::size_t end =
        next == FMarkerLines.end() ? FLineNumberLines.size() : static_cast<std::size_t>(*next);
    if (first >= end)
        return 0;

    // The candidate comes from the last row whose first entry lies at or below the address;
    // later rows stop at their first entry without setting it.
    std::int32_t candidate = 0;
    const auto rowsBegin = FRowMinimum.begin() + static_cast<std::ptrdiff_t>(first);
    const auto rowsEnd = FRowMinimum.begin() + static_cast<std::ptrdiff_t>(end);
    const auto past = std::upper_bound(rowsBegin, rowsEnd, std::uint64_t{ARelative});
    if (past != rowsBegin) {
        std::uint32_t ignored = 0;
        ScanLineNumberRow(
            FLineNumberLines[static_cast<std::size_t>(past - FRowMinimum.begin() - 1)], ARelative,
            candidate, ignored);
    }
    // The last offset read comes from the section's last row that has a usable first entry.
    std::uint32_t lastOffset = 0;
    const std::int32_t lastRow = FLastEntryRow[end - 1];
    if (lastRow >= 0 && static_cast<std::size_t>(lastRow) >= first) {
        std::int32_t ignored = 0;
        ScanLineNumberRow(FLineNumberLines[static_cast<std::size_t>(lastRow)], ARelative, ignored,
                          lastOffset);
    }
    return ARelative <= lastOffset ? candidate : 0;
}

} // namespace jex
