// mapfile/Jexmapfile.cpp - loading the map's three regions and resolving addresses against them.
#include "mapfile/Jexmapfile.h"

#include "mapfile/MapFormat.h"
#include "mapfile/MapIndex.h"
#include "platform/File.h"
#include "platform/PlatformServices.h"

#include <cerrno>

namespace jex {

namespace mf = mapformat;

namespace {

// Appends the cursor's lines that start before AStop.
void CollectLines(mf::TLineCursor& ACursor, std::size_t AStop, std::vector<std::string>& AList) {
    std::string_view line;
    while (ACursor.Position() < AStop && ACursor.Next(line))
        AList.emplace_back(line);
}

} // namespace

TJexMapFile::TJexMapFile()
    : FBaseAddress(mf::BaseAddress) {}

TJexMapFile::~TJexMapFile() = default;

void TJexMapFile::SetMapFileName(const std::string& AName) {
    if (AName == FMapFileName)
        return;
    FMapFileName = AName;
    FMapLoaded = false;
}

void TJexMapFile::ClearLists() {
    FIndex.reset();
    FLookupsPrepared = false;
    FSegmentLines.clear();
    FPublicLines.clear();
    FLineNumberLines.clear();
}

void TJexMapFile::LoadMapFile() {
    ClearLists();
    FMapLoaded = false;
    if (!FMapFileName.empty()) {
        // The whole file in one read: splitting it into lines in memory is far cheaper than
        // reading it line by line.
        std::string text;
        const int error = platform::PlatformServices().Files->ReadFile(FMapFileName, text);
        switch (error) {
        case 0:
            ReadMapText(text);
            break;
        // Nothing there, a folder, or a FIFO or device that would block the reader or feed it
        // without end: no map, and no reason to look again.
        case ENOENT:
        case ENOTDIR:
        case EISDIR:
        case EINVAL:
            break;
        // The file is there but its content could not be read.
        case EIO:
        case ENOMEM:
        case EOVERFLOW:
        case EFBIG:
            throw host::EReadError("Stream read error");
        default:
            throw host::EFOpenError("Cannot open file " + FMapFileName);
        }
    }
    FMapLoaded = true;
}

void TJexMapFile::LoadMapText(std::string_view AText) {
    ClearLists();
    ReadMapText(AText);
    FMapLoaded = true;
}

void TJexMapFile::ReadMapText(std::string_view AText) {
    const std::string_view text = AText;
    // Each region ends at the line holding the next region's marker; searching the whole text
    // for the marker finds that line without testing every line on the way.
    const auto lineOf = [text](std::size_t APos) {
        return APos == std::string_view::npos ? text.size() : mf::LineStart(text, APos);
    };
    const std::size_t segments = text.find(mf::SegmentsMarker);
    if (segments == std::string_view::npos)
        return;
    mf::TLineCursor cursor(text, lineOf(segments));
    cursor.Skip(2); // the header and the empty line under it

    // A map rewritten by vellin has no publics-by-name header; its segment table ends at the
    // publics-by-value header instead.
    CollectLines(cursor, lineOf(mf::FindPublicsHeader(text, cursor.Position(), mf::phEither)),
                 FSegmentLines);

    const std::size_t byValue = mf::FindPublicsHeader(text, cursor.Position(), mf::phByValue);
    if (byValue == std::string_view::npos)
        return;
    cursor.Seek(lineOf(byValue));
    cursor.Skip(2);
    CollectLines(cursor, lineOf(text.find(mf::LineNumbersMarker, cursor.Position())), FPublicLines);
    CollectLines(cursor, text.size(), FLineNumberLines);
}

TMapIndex& TJexMapFile::Index() {
    if (!FIndex)
        FIndex = std::make_unique<TMapIndex>(FSegmentLines, FPublicLines, FLineNumberLines);
    return *FIndex;
}

void TJexMapFile::LoadExceptionData(const void* AAddress) {
    FRelativeAddress = 0;
    FLineNumber = 0;
    FProcedureName.clear();
    FUnitName.clear();
    FDataLoaded = false;
    if (!FMapLoaded)
        LoadMapFile();
    const void* address = AAddress != nullptr ? AAddress : host::ExceptAddr();
    if (address == nullptr)
        return;
    // Addresses are 32-bit in the map's address model; wrapping below the base is intended.
    FRelativeAddress =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address)) - FBaseAddress;

    TMapIndex& index = Index();
    const std::ptrdiff_t unitLine = index.UnitLine(FRelativeAddress);
    if (unitLine >= 0)
        FUnitName = mf::ModuleName(FSegmentLines[static_cast<std::size_t>(unitLine)]);
    const std::ptrdiff_t publicLine = index.ProcedureLine(FRelativeAddress);
    if (publicLine >= 0)
        FProcedureName = mf::PublicName(FPublicLines[static_cast<std::size_t>(publicLine)]);
    if (!FUnitName.empty())
        FLineNumber = index.LineNumber(FUnitName, FRelativeAddress);
    FDataLoaded = true;
}

void TJexMapFile::PrepareLookups() {
    if (!FMapLoaded)
        LoadMapFile();
    if (FLookupsPrepared)
        return;
    Index().PrepareUnitSections();
    FLookupsPrepared = true;
}

TMapPosition TJexMapFile::PositionOf(const void* AAddress) const noexcept {
    if (!FLookupsPrepared || !FIndex || AAddress == nullptr)
        return {};
    const auto relative =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(AAddress)) - FBaseAddress;
    return FIndex->PositionOf(relative);
}

void TJexMapFile::LoadUnitNames(std::vector<std::string>* AList) {
    if (AList == nullptr)
        return;
    AList->clear();
    if (!FMapLoaded)
        LoadMapFile();
    for (const std::string& line : FSegmentLines)
        if (mf::HasModuleName(line))
            AList->emplace_back(mf::ModuleName(line));
}

void TJexMapFile::LoadUnitNames(host::TStrings* AList) {
    if (AList == nullptr)
        return;
    std::vector<std::string> names;
    LoadUnitNames(&names);
    AList->SetLines(names);
}

} // namespace jex
