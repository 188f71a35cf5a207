// tool/TdsReader.cpp - checks and reads the TDS layout; answers the 13 library operations.
//
// Offsets handed out (subsections, symbols) count from the start of the debug data, which is
// file offset 0 for a stand-alone .tds file. Everything is read through U16/U32, which answer 0
// outside the data, so even the unchecked paths of a refused or foreign argument stay in bounds.
#include "tool/TdsReader.h"

#include "platform/linux/FileOps.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

namespace vellin {

namespace {

constexpr std::uint64_t TrailerSize = 8;
constexpr std::uint32_t MaxDirectories = 1024;
constexpr std::uint32_t GProc32Size = 48;         // fixed part of a 0x205 record
constexpr std::uint32_t GProcRefSize = 26;        // up to and including its segment field
constexpr std::uint32_t GlobalSymHeaderSize = 32; // counters in front of the 0x129 records

[[noreturn]] void Corrupt(const std::string& AWhat) {
    throw std::runtime_error("corrupt TDS file: " + AWhat);
}

bool IsSignature(const char* ABytes) {
    return std::memcmp(ABytes, "FB09", 4) == 0 || std::memcmp(ABytes, "FB0A", 4) == 0;
}

std::uint32_t RawU32(const char* AData, std::uint64_t APos) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(AData + APos);
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

} // namespace

TTdsFile::TTdsFile(std::string AData)
    : FData(std::move(AData))
    , FBytes(FData.data())
    , FSize(FData.size()) {
    Check();
}

TTdsFile::TTdsFile(std::span<const std::uint8_t> ABytes)
    : TTdsFile(std::string(reinterpret_cast<const char*>(ABytes.data()), ABytes.size())) {}

void TTdsFile::Check() {
    const std::uint64_t size = FSize;
    if (size < 2 * TrailerSize)
        Corrupt("too short");
    // The trailer names the start of the debug data; an invalidated file has a damaged one.
    if (!IsSignature(FBytes + size - TrailerSize))
        Corrupt("no signature in the trailer");
    const std::uint64_t distance = RawU32(FBytes, size - 4);
    if (distance < 2 * TrailerSize || distance > size)
        Corrupt("trailer points outside the file");
    FBase = size - distance;
    FLength = distance - TrailerSize;
    if (!IsSignature(FBytes + FBase))
        Corrupt("no signature at the start of the debug data");
    ReadDirectory();
    ReadNames();
    for (std::size_t i = 0; i < FDir.size(); ++i) {
        const TTdsSubSection& section = FDir[i];
        if (section.Kind == TdsSrcModule) {
            CheckSrcModule(section);
            FSrcSections.emplace(section.Offset, i);
        } else if (section.Kind == TdsAlignSym || section.Kind == TdsGlobalSym) {
            CheckSymbols(section);
        }
    }
}

std::unique_ptr<TTdsFile> TTdsFile::Open(const std::string& APath) {
    // Read, not mapped: a file cut short by someone else while it is mapped would kill the tool
    // with SIGBUS. A FIFO or device is refused before anything is read.
    return std::make_unique<TTdsFile>(fileops::ReadWholeFile(APath));
}

void TTdsFile::ReadDirectory() {
    std::uint32_t dir = U32(0, 4);
    std::set<std::uint32_t> seen;
    while (true) {
        if (!seen.insert(dir).second || seen.size() > MaxDirectories)
            Corrupt("directory chain loops");
        const std::uint16_t headerSize = U16(dir, 0);
        const std::uint16_t entrySize = U16(dir, 2);
        const std::uint32_t count = U32(dir, 4);
        if (headerSize < 12 || entrySize < 12 || !Fits(dir, headerSize))
            Corrupt("bad directory header");
        const std::uint64_t first = std::uint64_t{dir} + headerSize;
        if (!Fits(first, std::uint64_t{count} * entrySize))
            Corrupt("directory runs past the data");
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto entry = static_cast<std::uint32_t>(first + std::uint64_t{i} * entrySize);
            TTdsSubSection section{U16(entry, 0), U16(entry, 2), U32(entry, 4), U32(entry, 8)};
            if (!Fits(section.Offset, section.Size))
                Corrupt("subsection outside the data");
            FDir.push_back(section);
        }
        dir = U32(dir, 8);
        if (dir == 0)
            break;
    }
}

void TTdsFile::ReadNames() {
    const auto names = std::find_if(FDir.begin(), FDir.end(),
                                    [](const TTdsSubSection& S) { return S.Kind == TdsNames; });
    if (names == FDir.end())
        return;
    if (names->Size < 4)
        Corrupt("names table too short");
    const std::uint32_t count = U32(names->Offset, 0);
    // Every name takes at least two bytes, so a larger count cannot be true.
    if (count > (names->Size - 4) / 2)
        Corrupt("names table count too large");
    FNames.reserve(count);
    const std::uint64_t end = std::uint64_t{names->Offset} + names->Size;
    std::uint64_t pos = std::uint64_t{names->Offset} + 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (pos >= end)
            Corrupt("names table runs past its subsection");
        const auto length = static_cast<unsigned char>(FBytes[FBase + pos]);
        if (pos + 1 + length > end)
            Corrupt("name runs past its subsection");
        FNames.push_back(static_cast<std::uint32_t>(pos));
        pos += 2u + length; // length byte, text, terminating zero
    }
}

void TTdsFile::CheckSrcModule(const TTdsSubSection& ASection) const {
    const std::uint32_t base = ASection.Offset;
    const std::uint64_t size = ASection.Size;
    if (size < 4)
        Corrupt("source module too short");
    const std::uint16_t files = U16(base, 0);
    const std::uint16_t segments = U16(base, 2);
    if (4 + 4ull * files + 10ull * segments > size)
        Corrupt("source module header runs past its subsection");
    for (std::uint32_t j = 0; j < files; ++j) {
        const std::uint32_t entry = U32(base, 4 + 4 * j);
        if (std::uint64_t{entry} + 6 > size)
            Corrupt("source file entry outside its subsection");
        const std::uint16_t ranges = U16(base + entry, 0);
        if (U32(base + entry, 2) > NameCount())
            Corrupt("source file name index past the names table");
        if (std::uint64_t{entry} + 6 + 12ull * ranges > size)
            Corrupt("source file entry runs past its subsection");
        for (std::uint32_t k = 0; k < ranges; ++k) {
            const std::uint32_t table = U32(base + entry, 6 + 4 * k);
            if (std::uint64_t{table} + 4 > size ||
                std::uint64_t{table} + 4 + 6ull * U16(base + table, 2) > size)
                Corrupt("line table outside its subsection");
        }
    }
}

void TTdsFile::CheckSymbols(const TTdsSubSection& ASection) const {
    if (ASection.Kind == TdsAlignSym && ASection.Size < 4)
        Corrupt("symbol subsection too short");
    if (ASection.Kind == TdsGlobalSym &&
        (ASection.Size < GlobalSymHeaderSize ||
         U32(ASection.Offset, 4) > ASection.Size - GlobalSymHeaderSize))
        Corrupt("global symbol header does not fit");
    const TTdsSymbolWalk walk = StartSymbols(ASection.Kind, ASection.Offset, ASection.Size);
    std::uint64_t pos = walk.Pos;
    while (pos + 2 <= walk.End) {
        const auto at = static_cast<std::uint32_t>(pos);
        const std::uint16_t length = U16(at, 0);
        if (length == 0)
            break;
        if (length < 2 || pos + 2 + length > walk.End)
            Corrupt("symbol record runs past its subsection");
        const std::uint16_t kind = U16(at, 2);
        const std::uint32_t size = 2u + length;
        if (kind == TdsGProc32 && ASection.Kind == TdsAlignSym) {
            if (size < GProc32Size || U32(at, 40) > NameCount())
                Corrupt("bad procedure record");
        } else if (kind == TdsGProcRef && ASection.Kind == TdsGlobalSym) {
            if (size < GProcRefSize || U32(at, 12) > NameCount())
                Corrupt("bad procedure reference");
        }
        pos += size;
    }
}

TTdsSubSection TTdsFile::SubSection(std::uint32_t AIndex) const {
    return AIndex < FDir.size() ? FDir[AIndex] : TTdsSubSection{};
}

std::string_view TTdsFile::NameView(std::uint32_t AIndex) const {
    if (AIndex == 0 || AIndex > FNames.size())
        return {};
    const std::uint64_t pos = FNames[AIndex - 1];
    const auto length = static_cast<unsigned char>(FBytes[FBase + pos]);
    return std::string_view(FBytes + FBase + pos + 1, length);
}

const TTdsSubSection* TTdsFile::SrcSection(std::uint32_t AOffset) const {
    const auto found = FSrcSections.find(AOffset);
    return found == FSrcSections.end() ? nullptr : &FDir[found->second];
}

std::uint16_t TTdsFile::SrcFileCount(std::uint32_t AOffset) const {
    return SrcSection(AOffset) != nullptr ? U16(AOffset, 0) : 0;
}

std::uint16_t TTdsFile::SrcSegmentCount(std::uint32_t AOffset) const {
    return SrcSection(AOffset) != nullptr ? U16(AOffset, 2) : 0;
}

std::uint64_t TTdsFile::SrcEntry(std::uint32_t AOffset, std::uint32_t AFile) const {
    if (AFile >= SrcFileCount(AOffset))
        return 0;
    return std::uint64_t{AOffset} + U32(AOffset, 4 + 4 * AFile);
}

std::uint32_t TTdsFile::SrcFileEntry(std::uint32_t AOffset, std::uint32_t AFile) const {
    return static_cast<std::uint32_t>(SrcEntry(AOffset, AFile));
}

std::uint32_t TTdsFile::SrcFileName(std::uint32_t AOffset, std::uint32_t AFile) const {
    const std::uint64_t entry = SrcEntry(AOffset, AFile);
    return entry == 0 ? 0 : U32(static_cast<std::uint32_t>(entry), 2);
}

std::uint16_t TTdsFile::SrcRangeCount(std::uint32_t AOffset, std::uint32_t AFile) const {
    const std::uint64_t entry = SrcEntry(AOffset, AFile);
    return entry == 0 ? 0 : U16(static_cast<std::uint32_t>(entry), 0);
}

TTdsRange TTdsFile::SrcRange(std::uint32_t AOffset, std::uint32_t AFile,
                             std::uint32_t ARange) const {
    const auto entry = static_cast<std::uint32_t>(SrcEntry(AOffset, AFile));
    const std::uint16_t ranges = entry == 0 ? 0 : U16(entry, 0);
    if (ARange >= ranges)
        return {};
    TTdsRange range;
    range.TableOffset = U32(entry, 6 + 4 * ARange);
    range.Start = U32(entry, 6 + 4u * ranges + 8 * ARange);
    range.End = U32(entry, 6 + 4u * ranges + 8 * ARange + 4);
    range.Segment = U16(AOffset + range.TableOffset, 0);
    range.Count = U16(AOffset + range.TableOffset, 2);
    return range;
}

void TTdsFile::SrcLines(std::uint32_t AOffset, std::uint32_t AFile, std::uint32_t ARange,
                        std::int32_t* ALines, std::int32_t* AOffsets) const {
    const TTdsRange range = SrcRange(AOffset, AFile, ARange);
    const std::uint32_t table = AOffset + range.TableOffset;
    for (std::uint32_t i = 0; i < range.Count; ++i) {
        AOffsets[i] = static_cast<std::int32_t>(U32(table, 4 + 4 * i));
        ALines[i] = U16(table, 4 + 4u * range.Count + 2 * i);
    }
}

TTdsSymbolWalk TTdsFile::StartSymbols(std::uint16_t AKind, std::uint32_t AOffset,
                                      std::uint32_t ASize) const {
    TTdsSymbolWalk walk;
    walk.Pos = std::min<std::uint64_t>(AOffset, FLength);
    walk.End = std::min<std::uint64_t>(std::uint64_t{AOffset} + ASize, FLength);
    if (AKind == TdsAlignSym) {
        walk.Pos += 4; // the subsection's signature
    } else if (AKind == TdsGlobalSym) {
        // Records end after cbSymbol bytes; stray bytes may follow them.
        const std::uint64_t records = U32(AOffset, 4);
        walk.Pos += GlobalSymHeaderSize;
        walk.End = std::min(walk.End, walk.Pos + records);
    }
    if (walk.Pos > walk.End)
        walk.Pos = walk.End;
    return walk;
}

bool TTdsFile::NextSymbol(TTdsSymbolWalk& AWalk, TTdsSymbol& ASymbol) const {
    while (AWalk.Pos + 4 <= AWalk.End) {
        const auto at = static_cast<std::uint32_t>(AWalk.Pos);
        const std::uint16_t length = U16(at, 0);
        if (length < 2 || AWalk.Pos + 2 + length > AWalk.End)
            break;
        AWalk.Pos += 2u + length;
        const std::uint16_t kind = U16(at, 2);
        if (kind == TdsGProcRef && 2u + length >= GProcRefSize && U16(at, 24) == TdsImportSegment)
            continue;
        ASymbol = TTdsSymbol{kind, at, length};
        return true;
    }
    AWalk.Pos = AWalk.End;
    return false;
}

// ---- The 13 operations ------------------------------------------------------------------------

namespace {

struct TOpenTds {
    std::unique_ptr<TTdsFile> File;
    TTdsSymbolWalk Walk;
};

std::map<std::int32_t, TOpenTds>& OpenFiles() {
    static std::map<std::int32_t, TOpenTds> files;
    return files;
}

// The file last looked up: a run asks thousands of times for the same handle. Entries of the map
// stay where they are until erased, and UnregisterFile forgets the one it erases.
struct TLastFound {
    std::int32_t Handle = 0;
    TOpenTds* Tds = nullptr;
};

TLastFound& LastFound() {
    static TLastFound last;
    return last;
}

TOpenTds* Find(std::int32_t AHandle) {
    TLastFound& last = LastFound();
    if (last.Tds != nullptr && last.Handle == AHandle)
        return last.Tds;
    auto& files = OpenFiles();
    const auto found = files.find(AHandle);
    if (found == files.end())
        return nullptr;
    last = {AHandle, &found->second};
    return last.Tds;
}

void Put(std::int32_t* AOut, std::uint32_t AValue) {
    if (AOut != nullptr)
        *AOut = static_cast<std::int32_t>(AValue);
}

std::int32_t RegisterFile(const char* AFileName, std::int32_t, std::int32_t, std::int32_t* AError) {
    static std::int32_t nextHandle = 0;
    try {
        auto file = TTdsFile::Open(AFileName != nullptr ? AFileName : "");
        if (nextHandle == INT32_MAX)
            nextHandle = 0;
        const std::int32_t handle = ++nextHandle;
        OpenFiles()[handle] = TOpenTds{std::move(file), {}};
        Put(AError, 0);
        return handle;
    } catch (const std::exception&) {
        Put(AError, 1);
        return 0;
    }
}

std::int32_t UnregisterFile(std::int32_t AHandle) {
    if (LastFound().Handle == AHandle)
        LastFound() = {};
    return OpenFiles().erase(AHandle) > 0 ? 1 : 0;
}

std::int32_t SubSectionCount(std::int32_t AHandle) {
    const TOpenTds* tds = Find(AHandle);
    return tds != nullptr ? static_cast<std::int32_t>(tds->File->SubSectionCount()) : 0;
}

std::int32_t SubSection(std::int32_t AHandle, std::int32_t AIndex, std::int32_t* AKind,
                        std::int32_t* AValue, std::int32_t* AOffset, std::int32_t* ASize) {
    const TOpenTds* tds = Find(AHandle);
    const TTdsSubSection section = tds != nullptr && AIndex >= 0
                                       ? tds->File->SubSection(static_cast<std::uint32_t>(AIndex))
                                       : TTdsSubSection{};
    Put(AKind, section.Kind);
    Put(AValue, section.Module);
    Put(AOffset, section.Offset);
    Put(ASize, section.Size);
    return section.Kind != 0 ? 1 : 0;
}

std::int32_t SrcModule(std::int32_t AHandle, std::int32_t AOffset, std::int32_t* AValue,
                       std::int32_t* AFileCount) {
    const TOpenTds* tds = Find(AHandle);
    const auto offset = static_cast<std::uint32_t>(AOffset);
    Put(AValue, tds != nullptr ? tds->File->SrcSegmentCount(offset) : 0);
    Put(AFileCount, tds != nullptr ? tds->File->SrcFileCount(offset) : 0);
    return 1;
}

std::int32_t SrcModuleSources(std::int32_t AHandle, std::int32_t AOffset, std::int32_t* AEntries,
                              std::int32_t* ANameIndexes, std::int32_t* ARangeCounts) {
    const TOpenTds* tds = Find(AHandle);
    if (tds == nullptr)
        return 0;
    const auto offset = static_cast<std::uint32_t>(AOffset);
    const std::uint16_t files = tds->File->SrcFileCount(offset);
    for (std::uint32_t j = 0; j < files; ++j) {
        Put(AEntries != nullptr ? AEntries + j : nullptr, tds->File->SrcFileEntry(offset, j));
        Put(ANameIndexes != nullptr ? ANameIndexes + j : nullptr,
            tds->File->SrcFileName(offset, j));
        Put(ARangeCounts != nullptr ? ARangeCounts + j : nullptr,
            tds->File->SrcRangeCount(offset, j));
    }
    return 1;
}

std::int32_t SrcModuleSourceRanges(std::int32_t AHandle, std::int32_t AOffset, std::int32_t AFile,
                                   std::int32_t* ASegments, std::int32_t* AStarts,
                                   std::int32_t* AEnds, std::int32_t* AEntryCounts) {
    const TOpenTds* tds = Find(AHandle);
    if (tds == nullptr || AFile < 0)
        return 0;
    const auto offset = static_cast<std::uint32_t>(AOffset);
    const auto file = static_cast<std::uint32_t>(AFile);
    const std::uint16_t ranges = tds->File->SrcRangeCount(offset, file);
    for (std::uint32_t k = 0; k < ranges; ++k) {
        const TTdsRange range = tds->File->SrcRange(offset, file, k);
        Put(ASegments != nullptr ? ASegments + k : nullptr, range.Segment);
        Put(AStarts != nullptr ? AStarts + k : nullptr, range.Start);
        Put(AEnds != nullptr ? AEnds + k : nullptr, range.End);
        Put(AEntryCounts != nullptr ? AEntryCounts + k : nullptr, range.Count);
    }
    return 1;
}

std::int32_t SrcModuleLineNumbers(std::int32_t AHandle, std::int32_t AOffset, std::int32_t AFile,
                                  std::int32_t ARange, std::int32_t* ALines,
                                  std::int32_t* AOffsets) {
    const TOpenTds* tds = Find(AHandle);
    if (tds == nullptr || AFile < 0 || ARange < 0 || ALines == nullptr || AOffsets == nullptr)
        return 0;
    tds->File->SrcLines(static_cast<std::uint32_t>(AOffset), static_cast<std::uint32_t>(AFile),
                        static_cast<std::uint32_t>(ARange), ALines, AOffsets);
    return 1;
}

std::int32_t NameIndexToName(std::int32_t AHandle, std::int32_t AIndex, char* ABuffer,
                             std::int32_t ABufferSize) {
    if (ABuffer == nullptr || ABufferSize <= 0)
        return 0;
    const TOpenTds* tds = Find(AHandle);
    const std::string_view name = tds != nullptr
                                      ? tds->File->NameView(static_cast<std::uint32_t>(AIndex))
                                      : std::string_view();
    const std::size_t length = std::min(name.size(), static_cast<std::size_t>(ABufferSize) - 1);
    if (length > 0) // an empty view may have no data at all
        std::memcpy(ABuffer, name.data(), length);
    ABuffer[length] = '\0';
    return static_cast<std::int32_t>(length);
}

std::int32_t StartSymbols(std::int32_t AHandle, std::int32_t AKind, std::int32_t AOffset,
                          std::int32_t ASize) {
    TOpenTds* tds = Find(AHandle);
    if (tds == nullptr)
        return 0;
    tds->Walk = tds->File->StartSymbols(static_cast<std::uint16_t>(AKind),
                                        static_cast<std::uint32_t>(AOffset),
                                        static_cast<std::uint32_t>(ASize));
    return 1;
}

std::int32_t NextSymbol(std::int32_t AHandle, std::int32_t* AKind, std::int32_t* AOffset,
                        std::int32_t* AThird) {
    TOpenTds* tds = Find(AHandle);
    TTdsSymbol symbol;
    if (tds == nullptr || !tds->File->NextSymbol(tds->Walk, symbol))
        symbol = TTdsSymbol{};
    Put(AKind, symbol.Kind);
    Put(AOffset, symbol.Offset);
    Put(AThird, symbol.Length);
    return symbol.Offset != 0 ? 1 : 0;
}

std::int32_t SymbolGPROC32(std::int32_t AHandle, std::int32_t AOffset, std::int32_t* AValue1,
                           std::int32_t* AValue2, std::int32_t* AValue3, std::int32_t* AValue4,
                           std::int32_t* AValue5, std::int32_t* AValue6, std::int32_t* ACodeOffset,
                           std::int32_t* AValue8, std::int32_t* AValue9, std::int32_t* AValue10,
                           std::int32_t* ANameIndex, std::int32_t* AValue12, std::int32_t,
                           std::int32_t) {
    const TOpenTds* tds = Find(AHandle);
    const auto at = static_cast<std::uint32_t>(AOffset);
    auto u32 = [&](std::uint32_t AField) {
        return tds != nullptr ? tds->File->U32(at, AField) : 0;
    };
    auto u16 = [&](std::uint32_t AField) {
        return tds != nullptr ? tds->File->U16(at, AField) : 0;
    };
    Put(AValue1, u32(4));  // parent
    Put(AValue2, u32(8));  // end
    Put(AValue3, u32(12)); // next
    Put(AValue4, u32(16)); // length
    Put(AValue5, u32(20)); // debug start
    Put(AValue6, u32(24)); // debug end
    Put(ACodeOffset, u32(28));
    Put(AValue8, u16(32));  // segment
    Put(AValue9, u16(34));  // flags
    Put(AValue10, u32(36)); // type
    Put(ANameIndex, u32(40));
    Put(AValue12, u32(44));
    return tds != nullptr ? 1 : 0;
}

std::int32_t SymbolGPROCREF(std::int32_t AHandle, std::int32_t AOffset, std::int32_t* AValue1,
                            std::int32_t* AValue2, std::int32_t* ANameIndex, std::int32_t* AValue4,
                            std::int32_t* ASegment, std::int32_t* ACodeOffset) {
    const TOpenTds* tds = Find(AHandle);
    const auto at = static_cast<std::uint32_t>(AOffset);
    auto u32 = [&](std::uint32_t AField) {
        return tds != nullptr ? tds->File->U32(at, AField) : 0;
    };
    Put(AValue1, u32(4));
    Put(AValue2, u32(8)); // type
    Put(ANameIndex, u32(12));
    Put(AValue4, u32(16));
    Put(ASegment, tds != nullptr ? tds->File->U16(at, 24) : 0);
    Put(ACodeOffset, u32(20));
    return tds != nullptr ? 1 : 0;
}

} // namespace

const TBorDebugApi& BuiltInBorDebugApi() {
    static const TBorDebugApi api{RegisterFile,
                                  UnregisterFile,
                                  SubSectionCount,
                                  SubSection,
                                  SrcModule,
                                  SrcModuleSources,
                                  SrcModuleSourceRanges,
                                  SrcModuleLineNumbers,
                                  NameIndexToName,
                                  StartSymbols,
                                  NextSymbol,
                                  SymbolGPROC32,
                                  SymbolGPROCREF};
    return api;
}

} // namespace vellin
