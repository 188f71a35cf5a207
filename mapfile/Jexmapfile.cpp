// mapfile/Jexmapfile.cpp - loading the map's three regions and resolving addresses against them.
#include "mapfile/Jexmapfile.h"

#include "mapfile/MapFormat.h"
#include "mapfile/MapIndex.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jex {

namespace mf = mapformat;

namespace {

// A file of that name that is not a folder.
bool FileExists(const std::string& AName) {
    struct stat info {};

    return ::stat(AName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Closes a descriptor on every path out of ReadWholeFile.
class TFileHandle {
public:
    explicit TFileHandle(int AHandle)
        : FHandle(AHandle) {}

    ~TFileHandle() {
        if (FHandle >= 0)
            ::close(FHandle);
    }

    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;

    int Get() const { return FHandle; }

private:
    int FHandle;
};

// The whole file in one read where possible: the map is split into lines in memory afterwards,
// which is far cheaper than reading it line by line.
std::string ReadWholeFile(const std::string& AName) {
    TFileHandle file(::open(AName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        throw host::EFOpenError("Cannot open file " + AName);

    struct stat info {};

    std::size_t capacity = 0;
    if (::fstat(file.Get(), &info) == 0 && info.st_size > 0)
        capacity = static_cast<std::size_t>(info.st_size);
    // One byte more than the size tells the end of the file without a second pass when the
    // size is right; a file that grows meanwhile is read to its new end.
    std::string text(capacity + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(text.size() * 2);
        const ssize_t count = ::read(file.Get(), text.data() + used, text.size() - used);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw host::EReadError("Stream read error");
        }
        if (count == 0)
            break;
        used += static_cast<std::size_t>(count);
    }
    text.resize(used);
    return text;
}

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
    if (!FMapFileName.empty() && FileExists(FMapFileName)) {
        const std::string text = ReadWholeFile(FMapFileName);
        ReadMapText(text);
    }
    FMapLoaded = true;
}

void TJexMapFile::ReadMapText(const std::string& AText) {
    const std::string_view text(AText);
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
