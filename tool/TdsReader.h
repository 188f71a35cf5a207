// tool/TdsReader.h - the built-in reader of TDS (TD32) debug-symbol files.
//
// vellin asks 13 operations of a debug-symbol library (tool/LBD.h). On Linux no such library
// exists, so this reader answers them from the file itself. It checks the whole structure it
// will later hand out when a file is registered, so a truncated, corrupt or invalidated file is
// refused at that point; every later operation still reads by bounds-checked offsets and answers
// zeros for anything outside the data, so no argument makes it read outside the file.
#pragma once

#include "tool/LBD.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellin {

/// Subsection kinds the tool asks for.
inline constexpr std::uint16_t TdsSrcModule = 0x127;
inline constexpr std::uint16_t TdsAlignSym = 0x125;
inline constexpr std::uint16_t TdsGlobalSym = 0x129;
inline constexpr std::uint16_t TdsNames = 0x130;
/// Symbol kinds the tool asks for.
inline constexpr std::uint16_t TdsGProc32 = 0x205;
inline constexpr std::uint16_t TdsGProcRef = 0x20;
/// Segment number of a procedure reference that is imported from another module.
inline constexpr std::uint16_t TdsImportSegment = 0xFFFF;

/// One entry of the subsection directory; offset counts from the start of the debug data.
struct TTdsSubSection {
    std::uint16_t Kind = 0;
    std::uint16_t Module = 0;
    std::uint32_t Offset = 0;
    std::uint32_t Size = 0;
};

/// One line-number range of a source file.
struct TTdsRange {
    std::uint16_t Segment = 0;
    std::uint32_t Start = 0;
    std::uint32_t End = 0;
    std::uint32_t TableOffset = 0; ///< of its line table, from the subsection start
    std::uint16_t Count = 0;       ///< line entries
};

/// Position of a walk over symbol records (offsets from the start of the debug data).
struct TTdsSymbolWalk {
    std::uint64_t Pos = 0;
    std::uint64_t End = 0;
};

/// A symbol record met by a walk: kind, offset from the start of the debug data, length.
struct TTdsSymbol {
    std::uint16_t Kind = 0;
    std::uint32_t Offset = 0;
    std::uint16_t Length = 0;
};

/// A TDS file held in memory. Accepts the signatures FB09 and FB0A and debug data embedded at
/// the end of another file (found through the trailer, which must be intact).
class TTdsFile {
public:
    /// Checks AData completely; a file it accepts answers every query below without surprises.
    /// Raises std::runtime_error naming the first fault found (for diagnostics only).
    explicit TTdsFile(std::string AData);

    /// The same for bytes the caller keeps (a fuzz input, a file mapped by someone else): they
    /// are copied, so ABytes need not outlive the file.
    explicit TTdsFile(std::span<const std::uint8_t> ABytes);

    /// Reads APath whole and checks it as above; raises std::runtime_error when it cannot (also
    /// for a FIFO, device or folder, which are refused before anything is read).
    static std::unique_ptr<TTdsFile> Open(const std::string& APath);

    TTdsFile(const TTdsFile&) = delete;
    TTdsFile& operator=(const TTdsFile&) = delete;

    std::uint32_t SubSectionCount() const { return static_cast<std::uint32_t>(FDir.size()); }

    /// Entry AIndex of the directory; all zero when AIndex is out of range.
    TTdsSubSection SubSection(std::uint32_t AIndex) const;

    /// Number of names of the names table; name indexes run from 1 to this.
    std::uint32_t NameCount() const { return static_cast<std::uint32_t>(FNames.size()); }

    /// Text of name AIndex (1-based); empty for 0 or an index past the table.
    std::string Name(std::uint32_t AIndex) const { return std::string(NameView(AIndex)); }

    /// The same text inside the file's data, valid while the file is.
    std::string_view NameView(std::uint32_t AIndex) const;

    /// Source-module subsection at AOffset: number of source files and of code ranges; both 0
    /// when AOffset names no source-module subsection.
    std::uint16_t SrcFileCount(std::uint32_t AOffset) const;
    std::uint16_t SrcSegmentCount(std::uint32_t AOffset) const;

    /// Source file AFile of that subsection: offset of its entry, name index and range count.
    std::uint32_t SrcFileEntry(std::uint32_t AOffset, std::uint32_t AFile) const;
    std::uint32_t SrcFileName(std::uint32_t AOffset, std::uint32_t AFile) const;
    std::uint16_t SrcRangeCount(std::uint32_t AOffset, std::uint32_t AFile) const;

    /// Range ARange of that file; all zero when out of range.
    TTdsRange SrcRange(std::uint32_t AOffset, std::uint32_t AFile, std::uint32_t ARange) const;

    /// Copies the line numbers and code offsets of that range's line table, SrcRange().Count
    /// entries each, into ALines and AOffsets; copies nothing when the range does not exist.
    void SrcLines(std::uint32_t AOffset, std::uint32_t AFile, std::uint32_t ARange,
                  std::int32_t* ALines, std::int32_t* AOffsets) const;

    /// Starts a walk over the symbol records of the subsection of kind AKind at AOffset with
    /// ASize bytes (clipped to the debug data).
    TTdsSymbolWalk StartSymbols(std::uint16_t AKind, std::uint32_t AOffset,
                                std::uint32_t ASize) const;

    /// The next record of AWalk into ASymbol; false at the end or at a record that does not fit.
    /// References to procedures imported from other modules (segment 0xFFFF) are passed over:
    /// their offset field holds the name of the module they come from, not a code offset, and
    /// reporting them would put bogus procedures at small offsets into the map.
    bool NextSymbol(TTdsSymbolWalk& AWalk, TTdsSymbol& ASymbol) const;

    /// The 32-bit field at AOffset + AField of the debug data; 0 outside it.
    std::uint32_t U32(std::uint32_t AOffset, std::uint32_t AField) const;
    /// The 16-bit field likewise.
    std::uint16_t U16(std::uint32_t AOffset, std::uint32_t AField) const;

private:
    void Check();
    void ReadDirectory();
    void ReadNames();
    void CheckSrcModule(const TTdsSubSection& ASection) const;
    void CheckSymbols(const TTdsSubSection& ASection) const;
    /// The source-module subsection at AOffset, or nullptr.
    const TTdsSubSection* SrcSection(std::uint32_t AOffset) const;
    /// Data offset of the entry of file AFile in the source module at AOffset, or 0.
    std::uint64_t SrcEntry(std::uint32_t AOffset, std::uint32_t AFile) const;
    bool Fits(std::uint64_t AOffset, std::uint64_t ASize) const;

    std::string FData;            ///< the whole file
    const char* FBytes = nullptr; ///< FData.data()
    std::uint64_t FSize = 0;
    std::uint64_t FBase = 0;   ///< start of the debug data in the file
    std::uint64_t FLength = 0; ///< bytes of debug data, the trailer excluded
    std::vector<TTdsSubSection> FDir;
    std::vector<std::uint32_t> FNames; ///< data offset of each name's length byte
    std::unordered_map<std::uint32_t, std::size_t> FSrcSections; ///< offset -> directory index
};

// The field readers are inline: every query goes through them, many times per record.

inline bool TTdsFile::Fits(std::uint64_t AOffset, std::uint64_t ASize) const {
    return AOffset <= FLength && ASize <= FLength - AOffset;
}

inline std::uint32_t TTdsFile::U32(std::uint32_t AOffset, std::uint32_t AField) const {
    const std::uint64_t pos = std::uint64_t{AOffset} + AField;
    if (!Fits(pos, 4))
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(FBytes + FBase + pos);
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint16_t TTdsFile::U16(std::uint32_t AOffset, std::uint32_t AField) const {
    const std::uint64_t pos = std::uint64_t{AOffset} + AField;
    if (!Fits(pos, 2))
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(FBytes + FBase + pos);
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

/// The 13 operations answered by TTdsFile. Handles count from 1 and stay valid until
/// unregistered; a file that cannot be read or that fails the checks is refused with error
/// code 1 and handle 0.
const TBorDebugApi& BuiltInBorDebugApi();

} // namespace vellin
