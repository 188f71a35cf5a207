// tool/vellin.cpp - reading the TDS file into the new map tail and rewriting the map file.
//
// The tail is first built as one text and then split into lines, as the original tool did with
// its string list: the line-number header's own CR LF is what turns into the empty line under
// it. The publics list is a set ordered by the word-sort key, so equal lines (letter case aside)
// are kept once, the first one met.
#include "tool/vellin.h"

#include "mapfile/MapFormat.h"
#include "tool/TextUtils.h"
#include "tool/VellinError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace vellin {

namespace {

constexpr std::int32_t KindSrcModule = 0x127;
constexpr std::int32_t KindAlignSym = 0x125;
constexpr std::int32_t KindGlobalSym = 0x129;
constexpr std::int32_t SymbolGProc32 = 0x205;
constexpr std::int32_t SymbolGProcRef = 0x20;
constexpr std::int32_t NameBufferSize = 261;

std::string NameOf(const TBorDebugApi& AApi, std::int32_t AHandle, std::int32_t AIndex) {
    char buffer[NameBufferSize + 1] = {};
    AApi.NameIndexToName(AHandle, AIndex, buffer, NameBufferSize);
    buffer[NameBufferSize] = '\0'; // whatever the library did, the text ends inside the buffer
    return buffer;
}

std::vector<std::int32_t> Array(std::int32_t ACount) {
    return std::vector<std::int32_t>(ACount > 0 ? static_cast<std::size_t>(ACount) : 0);
}

// Publics ordered by AnsiCompareText: the key is the word-sort key, the value the line.
using TPublics = std::map<std::string, std::string>;

void AddPublic(TPublics& APublics, std::uint32_t AOffset, const std::string& ARawName) {
    const std::string name = ConvertSymbolName(ARawName);
    if (name.empty())
        return;
    std::string line = jex::mapformat::FormatPublicLine(AOffset, name);
    APublics.try_emplace(AnsiSortKey(line), std::move(line));
}

void ReadSourceModule(const TBorDebugApi& AApi, std::int32_t AHandle, std::int32_t AOffset,
                      std::string& ATail) {
    std::int32_t unused = 0;
    std::int32_t files = 0;
    AApi.SrcModule(AHandle, AOffset, &unused, &files);
    std::vector<std::int32_t> entries = Array(files);
    std::vector<std::int32_t> names = Array(files);
    std::vector<std::int32_t> rangeCounts = Array(files);
    AApi.SrcModuleSources(AHandle, AOffset, entries.data(), names.data(), rangeCounts.data());
    for (std::int32_t file = 0; file < files; ++file) {
        const std::string fileName = SourceFileName(NameOf(AApi, AHandle, names[file]));
        const std::size_t dot = fileName.rfind('.');
        const std::string unitName = dot == std::string::npos ? fileName : fileName.substr(0, dot);
        const std::size_t headerStart = ATail.size();
        // The header text ends in CR LF of its own, which becomes the empty line under it.
        ATail.append(jex::mapformat::FormatLineSectionHeader(unitName, fileName))
            .append("\r\n\r\n");

        const std::int32_t ranges = rangeCounts[file];
        std::vector<std::int32_t> segments = Array(ranges);
        std::vector<std::int32_t> starts = Array(ranges);
        std::vector<std::int32_t> ends = Array(ranges);
        std::vector<std::int32_t> counts = Array(ranges);
        AApi.SrcModuleSourceRanges(AHandle, AOffset, file, segments.data(), starts.data(),
                                   ends.data(), counts.data());
        std::int32_t highest = 0;
        std::string row;
        std::size_t inRow = 0;
        for (std::int32_t range = 0; range < ranges; ++range) {
            std::vector<std::int32_t> lines = Array(counts[range]);
            std::vector<std::int32_t> offsets = Array(counts[range]);
            AApi.SrcModuleLineNumbers(AHandle, AOffset, file, range, lines.data(), offsets.data());
            for (std::size_t i = 0; i < lines.size(); ++i) {
                // Only strictly rising numbers: the reader expects each section to ascend.
                if (lines[i] == 0 || lines[i] <= highest)
                    continue;
                highest = lines[i];
                row += jex::mapformat::FormatLineEntry(lines[i],
                                                       static_cast<std::uint32_t>(offsets[i]));
                if (++inRow == jex::mapformat::LineEntriesPerRow) {
                    ATail.append(row).append("\r\n");
                    row.clear();
                    inRow = 0;
                }
            }
        }
        if (inRow > 0)
            ATail.append(row).append("\r\n");
        if (highest < 1)
            ATail.resize(headerStart); // no entry: the header goes again
        else
            ATail.append("\r\n");
    }
}

void ReadSymbols(const TBorDebugApi& AApi, std::int32_t AHandle, std::int32_t AKind,
                 std::int32_t AOffset, std::int32_t ASize, TPublics& APublics) {
    AApi.StartSymbols(AHandle, AKind, AOffset, ASize);
    while (true) {
        std::int32_t kind = 0;
        std::int32_t offset = 0;
        std::int32_t third = 0;
        AApi.NextSymbol(AHandle, &kind, &offset, &third);
        if (kind == 0 && offset == 0 && third == 0)
            break;
        std::int32_t v[12] = {};
        if (AKind == KindAlignSym && kind == SymbolGProc32) {
            AApi.SymbolGPROC32(AHandle, offset, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                               &v[7], &v[8], &v[9], &v[10], &v[11], 0, 0);
            AddPublic(APublics, static_cast<std::uint32_t>(v[6]), NameOf(AApi, AHandle, v[10]));
        } else if (AKind == KindGlobalSym && kind == SymbolGProcRef) {
            AApi.SymbolGPROCREF(AHandle, offset, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
            AddPublic(APublics, static_cast<std::uint32_t>(v[5]), NameOf(AApi, AHandle, v[2]));
        }
    }
}

std::string ReadWholeFile(const std::string& APath) {
    errno = 0;
    std::FILE* file = std::fopen(APath.c_str(), "rb");
    if (file == nullptr)
        throw EFOpenError("Cannot open file \"" + APath + "\". " + std::strerror(errno));
    std::string text;
    char buffer[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed)
        throw EFOpenError("Cannot open file \"" + APath + "\". " + std::strerror(error));
    return text;
}

// Writes AText beside APath under a temporary name and renames it over APath, keeping the old
// file's permissions. A symbolic link is followed, so the file it points at is replaced. There is
// no fsync: the rename guards against the tool failing part-way, which is what matters here, and
// syncing would make the tool several times slower than the reading and writing it does.
void ReplaceFile(const std::string& APath, const std::string& AText) {
    std::string target = APath;
    std::error_code error;
    if (std::filesystem::is_symlink(APath, error)) {
        const auto resolved = std::filesystem::canonical(APath, error);
        if (!error)
            target = resolved.string();
    }

    struct stat old {};

    const bool hadFile = ::stat(target.c_str(), &old) == 0;
    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "." + name + ".vellin-XXXXXX";
    auto fail = [&](int AErrno) {
        throw EFCreateError("Cannot create file \"" + APath + "\". " + std::strerror(AErrno));
    };
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        fail(errno);
    int failure = 0;
    const char* data = AText.data();
    std::size_t left = AText.size();
    while (left > 0 && failure == 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            failure = written < 0 ? errno : EIO;
        else
            data += written, left -= static_cast<std::size_t>(written);
    }
    if (failure == 0 && hadFile && ::fchmod(fd, old.st_mode & 07777) != 0)
        failure = errno;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && std::rename(temporary.c_str(), target.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(temporary.c_str());
        fail(failure);
    }
}

// What a TDS file contributes to the map, kept apart until the map has been read.
struct TTdsTail {
    TPublics Publics;
    std::string Sections; ///< the line-number sections, lines ending in CR LF

    /// Appends the tail to AOut, every line followed by CR LF. Names may hold line breaks of
    /// their own; those split lines here as they would in any list of lines.
    void AppendTo(std::string& AOut) const {
        std::size_t size = Sections.size() + 64;
        for (const auto& [key, line] : Publics)
            size += line.size() + 2;
        AOut.reserve(AOut.size() + size);
        AOut.append(jex::mapformat::PublicsByValueLine).append("\r\n\r\n");
        for (const auto& [key, line] : Publics)
            AppendCrLfLines(AOut, line);
        AOut.append("\r\n");
        AppendCrLfLines(AOut, Sections);
    }
};

TTdsTail ReadTds(const std::string& ATdsFile, const TBorDebugApi& AApi) {
    std::int32_t error = 0;
    const std::int32_t handle = AApi.RegisterFile(ATdsFile.c_str(), 0, -1, &error);
    if (error != 0 || handle == 0)
        throw EVellinError("Cannot open the debug file: " + ATdsFile + ".");
    TTdsTail tail;
    try {
        const std::int32_t count = AApi.SubSectionCount(handle);
        for (std::int32_t i = 0; i < count; ++i) {
            std::int32_t kind = 0;
            std::int32_t unused = 0;
            std::int32_t offset = 0;
            std::int32_t size = 0;
            AApi.SubSection(handle, i, &kind, &unused, &offset, &size);
            if (kind == KindSrcModule)
                ReadSourceModule(AApi, handle, offset, tail.Sections);
            else if (kind == KindAlignSym || kind == KindGlobalSym)
                ReadSymbols(AApi, handle, kind, offset, size, tail.Publics);
        }
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
    const std::string map = ReadWholeFile(AMapFile);
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
    ReplaceFile(AMapFile, text);
}

std::string ConvertSymbolName(const std::string& ARawName) {
    if (ARawName.empty() || ARawName[0] != '@')
        return ARawName;
    if (ARawName.size() == 1 || ARawName[1] == '$')
        return {};
    std::string w = ARawName;
    if (const std::size_t dollar = w.find('$'); dollar != std::string::npos)
        w.resize(dollar);
    if (const std::size_t percent = w.find('%'); percent != std::string::npos)
        w.resize(percent);
    if (!w.empty() && w.back() == '@')
        w.pop_back();
    if (w.empty())
        return ARawName;
    w.erase(0, 1);
    if (const std::size_t twin = w.find("@@"); twin != std::string::npos)
        w[twin + 1] = '_';
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] == '@') {
            w[i] = '.';
            ++i; // the character after it is passed over
        }
    }
    std::size_t parts = 0;
    std::size_t start = 0;
    while (start < w.size()) {
        const std::size_t dot = w.find('.', start);
        ++parts;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (parts >= 4)
        return ARawName;
    if (!w.empty() && w.back() == '.')
        w.pop_back();
    return w;
}

std::string PadLineNumber(long long ALine) {
    return jex::mapformat::PadLineNumber(ALine);
}

std::string SourceFileName(const std::string& APath) {
    const std::size_t cut = APath.find_last_of("\\:");
    std::string name = cut == std::string::npos ? APath : APath.substr(cut + 1);
    for (char& c : name)
        if (c == '/')
            c = '\\';
    return name;
}

std::string ChangeFileExt(const std::string& APath, const std::string& AExtension) {
    const std::size_t dot = APath.rfind('.');
    const std::size_t slash = APath.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return APath + AExtension;
    return APath.substr(0, dot) + AExtension;
}

int RunVellin(int AArgCount, const char* const* AArgs, const TBorDebugApi& AApi) {
    try {
        if (AArgCount < 2) {
            std::fwrite(UsageText.data(), 1, UsageText.size(), stdout);
            std::fflush(stdout);
            return 0;
        }
        const std::string tds = AArgs[1];
        const std::string map = AArgCount >= 3 ? std::string(AArgs[2]) : ChangeFileExt(tds, ".map");
        MergeIntoMapFile(tds, map, AApi);
        return 0;
    } catch (...) {
        return ReportUnhandledError(std::current_exception());
    }
}

} // namespace vellin
