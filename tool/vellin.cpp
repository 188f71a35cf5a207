// tool/vellin.cpp - reading the TDS file into the new map tail and rewriting the map file.
//
// The tail is built as one text with CR LF line ends, as the original tool's string list would
// have written it; names holding line breaks of their own are split into lines on the way out.
// The publics are collected first and sorted once by the word-sort order; of equal lines
// (letter case aside) the first one met is kept.
#include "tool/vellin.h"

#include "mapfile/MapFormat.h"
#include "platform/linux/FileOps.h"
#include "tool/TextUtils.h"
#include "tool/VellinError.h"

#include <algorithm>
#include <cstring>

namespace vellin {

namespace {

constexpr std::int32_t KindSrcModule = 0x127;
constexpr std::int32_t KindAlignSym = 0x125;
constexpr std::int32_t KindGlobalSym = 0x129;
constexpr std::int32_t SymbolGProc32 = 0x205;
constexpr std::int32_t SymbolGProcRef = 0x20;
constexpr std::int32_t NameBufferSize = 261;

bool HasLineBreak(std::string_view AText) {
    for (char c : AText)
        if (c == '\r' || c == '\n')
            return true;
    return false;
}

// The public lines one after another in one buffer, with an index that is sorted once at the
// end: far fewer allocations than a sorted container of strings.
class TPublics {
public:
    void Add(std::uint32_t AOffset, std::string_view AName) {
        FIndex.push_back(std::uint64_t{AOffset} << 32 | FStarts.size());
        FStarts.push_back(FText.size());
        jex::mapformat::AppendPublicLine(FText, AOffset, AName);
    }

    /// Orders the lines by AnsiCompareText and keeps the first added of equal ones.
    void Sort() {
        // The line starts with the offset in fixed-width upper-case hex after a fixed prefix,
        // all characters that count with weights in numeric order, so a different offset decides
        // the order alone; only lines at one offset need comparing as text. The index holds the
        // offset above the line's number, so sorting it sorts by offset, then by age.
        std::sort(FIndex.begin(), FIndex.end());
        const auto sameOffset = [](std::uint64_t ALeft, std::uint64_t ARight) {
            return ALeft >> 32 == ARight >> 32;
        };
        const auto textLess = [this](std::uint64_t ALeft, std::uint64_t ARight) {
            return AnsiCompareText(Line(ALeft), Line(ARight)) < 0;
        };
        for (auto first = FIndex.begin(); first != FIndex.end();) {
            auto last = first + 1;
            while (last != FIndex.end() && sameOffset(*last, *first))
                ++last;
            if (last - first > 16) {
                std::stable_sort(first, last, textLess);
            } else {
                // Mostly a procedure and its reference: an insertion sort allocates nothing.
                for (auto next = first + 1; next < last; ++next)
                    for (auto at = next; at != first && textLess(*at, *(at - 1)); --at)
                        std::iter_swap(at, at - 1);
            }
            first = last;
        }
        FIndex.erase(std::unique(FIndex.begin(), FIndex.end(),
                                 [&](std::uint64_t ALeft, std::uint64_t ARight) {
                                     return sameOffset(ALeft, ARight) &&
                                            AnsiCompareText(Line(ALeft), Line(ARight)) == 0;
                                 }),
                     FIndex.end());
    }

    /// True when a line holds CR or LF, which only a name can bring.
    bool HasLineBreak() const {
        return std::memchr(FText.data(), '\r', FText.size()) != nullptr ||
               std::memchr(FText.data(), '\n', FText.size()) != nullptr;
    }

    std::size_t Count() const { return FIndex.size(); }

    std::size_t TextSize() const { return FText.size(); }

    /// Line AIndex of the order, once sorted.
    std::string_view operator[](std::size_t AIndex) const { return Line(FIndex[AIndex]); }

private:
    std::string_view Line(std::uint64_t AEntry) const {
        const auto number = static_cast<std::size_t>(AEntry & 0xFFFFFFFF);
        const std::size_t end = number + 1 < FStarts.size() ? FStarts[number + 1] : FText.size();
        return std::string_view(FText).substr(FStarts[number], end - FStarts[number]);
    }

    std::string FText;
    std::vector<std::size_t> FStarts;  ///< where each line starts in FText, in the order added
    std::vector<std::uint64_t> FIndex; ///< offset << 32 | number of the line
};

// What a TDS file contributes to the map, kept apart until the map has been read.
struct TTdsTail {
    TPublics Publics;
    std::string Sections;        ///< the line-number sections, lines ending in CR LF
    bool NameLineBreaks = false; ///< a name written holds CR or LF

    /// Appends the tail to AOut, every line followed by CR LF. Names may hold line breaks of
    /// their own; those split lines here as they would in any list of lines.
    void AppendTo(std::string& AOut) const {
        AOut.reserve(AOut.size() + Publics.TextSize() + 2 * Publics.Count() + Sections.size() + 64);
        AOut.append(jex::mapformat::PublicsByValueLine).append("\r\n\r\n");
        if (!NameLineBreaks) {
            // Every line is whole and ends in CR LF already: splitting would change nothing.
            for (std::size_t i = 0; i < Publics.Count(); ++i)
                AOut.append(Publics[i]).append("\r\n");
            AOut.append("\r\n").append(Sections);
            return;
        }
        for (std::size_t i = 0; i < Publics.Count(); ++i)
            AppendCrLfLines(AOut, Publics[i]);
        AOut.append("\r\n");
        AppendCrLfLines(AOut, Sections);
    }
};

// One pass over a registered TDS file; the buffers handed to the library are kept from call to
// call, as are the name buffer and the scratch texts.
class TTdsWalk {
public:
    TTdsWalk(const TBorDebugApi& AApi, std::int32_t AHandle, TTdsTail& ATail)
        : FApi(AApi)
        , FHandle(AHandle)
        , FTail(ATail) {}

    void SourceModule(std::int32_t AOffset);
    void Symbols(std::int32_t AKind, std::int32_t AOffset, std::int32_t ASize);

private:
    // The text of name AIndex, valid until the next call.
    std::string_view NameOf(std::int32_t AIndex) {
        std::memset(FName, 0, sizeof FName);
        FApi.NameIndexToName(FHandle, AIndex, FName, NameBufferSize);
        FName[NameBufferSize] = '\0'; // whatever the library did, the text ends inside the buffer
        return std::string_view(FName, std::strlen(FName));
    }

    void AddPublic(std::uint32_t AOffset, std::string_view ARawName) {
        const std::string_view name = ConvertSymbolName(ARawName, FConverted);
        if (name.empty())
            return;
        FTail.Publics.Add(AOffset, name);
    }

    // AArray holding ACount zeros (none for a negative count).
    static std::int32_t* Zeros(std::vector<std::int32_t>& AArray, std::int32_t ACount) {
        AArray.assign(ACount > 0 ? static_cast<std::size_t>(ACount) : 0, 0);
        return AArray.data();
    }

    const TBorDebugApi& FApi;
    const std::int32_t FHandle;
    TTdsTail& FTail;
    char FName[NameBufferSize + 1] = {};
    std::string FConverted;
    std::string FFileName;
    std::vector<std::int32_t> FEntries, FNames, FRangeCounts;
    std::vector<std::int32_t> FSegments, FStarts, FEnds, FCounts, FLines, FOffsets;
};

void TTdsWalk::SourceModule(std::int32_t AOffset) {
    std::string& tail = FTail.Sections;
    std::int32_t unused = 0;
    std::int32_t files = 0;
    FApi.SrcModule(FHandle, AOffset, &unused, &files);
    FApi.SrcModuleSources(FHandle, AOffset, Zeros(FEntries, files), Zeros(FNames, files),
                          Zeros(FRangeCounts, files));
    for (std::int32_t file = 0; file < files; ++file) {
        const std::string_view fileName = SourceFileName(NameOf(FNames[file]), FFileName);
        const std::string_view unitName = fileName.substr(0, fileName.rfind('.'));
        FTail.NameLineBreaks = FTail.NameLineBreaks || HasLineBreak(fileName);
        const std::size_t headerStart = tail.size();
        // The header line is followed by an empty line.
        tail.append(jex::mapformat::FormatLineSectionHeader(unitName, fileName)).append("\r\n\r\n");

        const std::int32_t ranges = FRangeCounts[file];
        FApi.SrcModuleSourceRanges(FHandle, AOffset, file, Zeros(FSegments, ranges),
                                   Zeros(FStarts, ranges), Zeros(FEnds, ranges),
                                   Zeros(FCounts, ranges));
        std::int32_t highest = 0;
        std::size_t inRow = 0;
        for (std::int32_t range = 0; range < ranges; ++range) {
            const std::int32_t count = FCounts[range];
            FApi.SrcModuleLineNumbers(FHandle, AOffset, file, range, Zeros(FLines, count),
                                      Zeros(FOffsets, count));
            for (std::size_t i = 0; i < FLines.size(); ++i) {
                // Only strictly rising numbers: the reader expects each section to ascend.
                if (FLines[i] == 0 || FLines[i] <= highest)
                    continue;
                highest = FLines[i];
                jex::mapformat::AppendLineEntry(tail, FLines[i],
                                                static_cast<std::uint32_t>(FOffsets[i]));
                if (++inRow == jex::mapformat::LineEntriesPerRow) {
                    tail.append("\r\n");
                    inRow = 0;
                }
            }
        }
        if (inRow > 0)
            tail.append("\r\n");
        if (highest < 1)
            tail.resize(headerStart); // no entry: the header goes again
        else
            tail.append("\r\n");
    }
}

void TTdsWalk::Symbols(std::int32_t AKind, std::int32_t AOffset, std::int32_t ASize) {
    FApi.StartSymbols(FHandle, AKind, AOffset, ASize);
    while (true) {
        std::int32_t kind = 0;
        std::int32_t offset = 0;
        std::int32_t third = 0;
        FApi.NextSymbol(FHandle, &kind, &offset, &third);
        if (kind == 0 && offset == 0 && third == 0)
            break;
        if (AKind == KindAlignSym && kind == SymbolGProc32) {
            std::int32_t v[12] = {};
            FApi.SymbolGPROC32(FHandle, offset, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                               &v[7], &v[8], &v[9], &v[10], &v[11], 0, 0);
            AddPublic(static_cast<std::uint32_t>(v[6]), NameOf(v[10]));
        } else if (AKind == KindGlobalSym && kind == SymbolGProcRef) {
            std::int32_t v[6] = {};
            FApi.SymbolGPROCREF(FHandle, offset, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
            AddPublic(static_cast<std::uint32_t>(v[5]), NameOf(v[2]));
        }
    }
}

// The map as it is on disk; the framework's file-open error when it cannot be read.
std::string ReadMapFile(const std::string& AMapFile) {
    try {
        return fileops::ReadWholeFile(AMapFile);
    } catch (const fileops::EFileError& error) {
        throw EFOpenError("Cannot open file \"" + AMapFile + "\". " + error.Reason());
    }
}

// Replaces the map in one step (see fileops::TFileReplacement): a failure leaves the old map
// whole, a symbolic link is written through and the map keeps its permissions. There is no
// fsync: the rename guards against the tool failing part-way, which is what matters here, and
// syncing would make the tool several times slower than the reading and writing it does.
void WriteMapFile(const std::string& AMapFile, const std::string& AText,
                  const std::string& ATdsFile) {
    try {
        fileops::ReplaceFile(AMapFile, AText, {{ATdsFile}});
    } catch (const fileops::EFileError& error) {
        throw EFCreateError("Cannot create file \"" + AMapFile + "\". " + error.Reason());
    }
}

// A FIFO or a device would make the debug-symbol library wait or read without end; such a path
// is refused as a file the library cannot open. Anything else is left to the library.
void CheckTdsPath(const std::string& ATdsFile) {
    try {
        fileops::OpenRegularFile(ATdsFile);
    } catch (const fileops::EFileError& error) {
        if (error.Kind() == fileops::TFileErrorKind::fekNotRegular)
            throw EVellinError("Cannot open the debug file: " + ATdsFile + ".");
    }
}

TTdsTail ReadTds(const std::string& ATdsFile, const TBorDebugApi& AApi) {
    CheckTdsPath(ATdsFile);
    std::int32_t error = 0;
    const std::int32_t handle = AApi.RegisterFile(ATdsFile.c_str(), 0, -1, &error);
    if (error != 0 || handle == 0)
        throw EVellinError("Cannot open the debug file: " + ATdsFile + ".");
    TTdsTail tail;
    try {
        TTdsWalk walk(AApi, handle, tail);
        const std::int32_t count = AApi.SubSectionCount(handle);
        for (std::int32_t i = 0; i < count; ++i) {
            std::int32_t kind = 0;
            std::int32_t unused = 0;
            std::int32_t offset = 0;
            std::int32_t size = 0;
            AApi.SubSection(handle, i, &kind, &unused, &offset, &size);
            if (kind == KindSrcModule)
                walk.SourceModule(offset);
            else if (kind == KindAlignSym || kind == KindGlobalSym)
                walk.Symbols(kind, offset, size);
        }
        tail.Publics.Sort();
        tail.NameLineBreaks = tail.NameLineBreaks || tail.Publics.HasLineBreak();
    } catch (...) {
        AApi.UnregisterFile(handle); // released on every path
        throw;
    }
    AApi.UnregisterFile(handle);
    return tail;
}

} // namespace

void ReadTdsFile(const std::string& ATdsFile, std::vector<std::string>& ATail,
                 const TBorDebugApi& AApi) {
    std::string text;
    ReadTds(ATdsFile, AApi).AppendTo(text);
    ATail = SplitLines(text);
}

void MergeIntoMapFile(const std::string& ATdsFile, const std::string& AMapFile,
                      const TBorDebugApi& AApi) {
    const TTdsTail tail = ReadTds(ATdsFile, AApi);
    const std::string map = ReadMapFile(AMapFile);
    std::string text;
    const bool noHeader = ForEachLine(map, [&](std::string_view ALine) {
        if (SameText(ALine, jex::mapformat::PublicsByNameLine))
            return false;
        text.append(ALine).append("\r\n");
        return true;
    });
    if (noHeader)
        throw EVellinError("Invalid map file: " + AMapFile);
    tail.AppendTo(text);
    WriteMapFile(AMapFile, text, ATdsFile);
}

std::string_view ConvertSymbolName(std::string_view ARawName, std::string& AWork) {
    if (ARawName.empty() || ARawName[0] != '@')
        return ARawName;
    if (ARawName.size() == 1 || ARawName[1] == '$')
        return {};
    // The name ends at the first "$" or "%"; a final "@" goes too.
    std::size_t end = 1;
    while (end < ARawName.size() && ARawName[end] != '$' && ARawName[end] != '%')
        ++end;
    if (ARawName[end - 1] == '@')
        --end;
    if (end == 0)
        return ARawName;
    std::string& w = AWork;
    w.assign(ARawName.substr(1, end - 1));
    if (const std::size_t twin = w.find("@@"); twin != std::string::npos)
        w[twin + 1] = '_';
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] == '@') {
            w[i] = '.';
            ++i; // the character after it is passed over
        }
    }
    if (w.empty())
        return w;
    // Parts between dots, a final dot ending the last part rather than starting another.
    const auto parts =
        static_cast<std::size_t>(std::count(w.begin(), w.end(), '.')) + (w.back() != '.');
    if (parts >= 4)
        return ARawName;
    if (w.back() == '.')
        w.pop_back();
    return w;
}

std::string ConvertSymbolName(const std::string& ARawName) {
    std::string work;
    return std::string(ConvertSymbolName(ARawName, work));
}

std::string PadLineNumber(long long ALine) {
    return jex::mapformat::PadLineNumber(ALine);
}

std::string_view SourceFileName(std::string_view APath, std::string& AWork) {
    const std::size_t cut = APath.find_last_of("\\:");
    AWork.assign(cut == std::string_view::npos ? APath : APath.substr(cut + 1));
    for (char& c : AWork)
        if (c == '/')
            c = '\\';
    return AWork;
}

std::string SourceFileName(const std::string& APath) {
    std::string name;
    SourceFileName(APath, name);
    return name;
}

std::string ChangeFileExt(const std::string& APath, const std::string& AExtension) {
    const std::size_t dot = APath.rfind('.');
    const std::size_t slash = APath.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return APath + AExtension;
    return APath.substr(0, dot) + AExtension;
}

} // namespace vellin
