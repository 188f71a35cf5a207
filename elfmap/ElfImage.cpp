// elfmap/ElfImage.cpp - reads the code section, function symbols and DWARF line tables.
//
// Each unit's line rows are sorted by address. Rows of sections the linker threw away (duplicate
// inline functions, templates) keep addresses near 0 or a tombstone value, so only rows inside the
// unit's own ranges in the code section are used.
#include "elfmap/ElfImage.h"

#include "elfmap/LineProgram.h"
#include "platform/linux/FileOps.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwelf.h>
#include <exception>
#include <gelf.h>
#include <libelf.h>
#include <map>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace elfmap {

namespace {

/// An ELF descriptor and the file it was opened from, released together.
class TElfFile {
public:
    TElfFile() = default;
    TElfFile(const TElfFile&) = delete;
    TElfFile& operator=(const TElfFile&) = delete;

    ~TElfFile() {
        if (FElf)
            elf_end(FElf);
        if (FFd >= 0)
            ::close(FFd);
    }

    Elf* FElf = nullptr;
    int FFd = -1;
    std::string FName;
    std::uint64_t FSize = 0; ///< bytes in the file or memory image
};

[[noreturn]] void Fail(std::string_view AName, std::string_view AWhat) {
    std::string message(AName);
    message.append(": ").append(AWhat);
    throw EElfMapError(message);
}

void InitLibelf(std::string_view AName) {
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    if (!ready)
        Fail(AName, "the ELF library is too old");
}

/// Checks that the descriptor holds an ELF executable or shared object and returns its header.
GElf_Ehdr CheckElf(const TElfFile& AFile) {
    if (AFile.FElf == nullptr || elf_kind(AFile.FElf) != ELF_K_ELF)
        Fail(AFile.FName, "not an ELF file");
    GElf_Ehdr header;
    if (gelf_getehdr(AFile.FElf, &header) == nullptr)
        Fail(AFile.FName, "truncated or damaged ELF header");
    return header;
}

/// A field of AWidth bytes at AAt of the raw header, in the file's byte order.
std::uint64_t RawField(const unsigned char* AHeader, std::size_t AAt, std::size_t AWidth,
                       bool ABigEndian) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < AWidth; ++i) {
        const std::size_t at = ABigEndian ? AAt + i : AAt + AWidth - 1 - i;
        value = value << 8 | AHeader[at];
    }
    return value;
}

[[noreturn]] void FailTruncated(std::string_view AName, const std::string& AWhat,
                                std::uint64_t AEnd, std::uint64_t ASize) {
    Fail(AName, "truncated: " + AWhat + " ends at byte " + std::to_string(AEnd) +
                    ", the file at byte " + std::to_string(ASize));
}

/// True when ACount entries of AEntrySize bytes from AOffset on reach past ASize.
bool Beyond(std::uint64_t AOffset, std::uint64_t ACount, std::uint64_t AEntrySize,
            std::uint64_t ASize) {
    return AOffset > ASize || ACount * AEntrySize > ASize - AOffset;
}

/// Refuses an ELF file cut short, from its first ASize bytes at AHeader (AHeaderSize of them at
/// hand): the ELF library would take a cut-off section table for an empty one and the file for
/// one without code. Files that are not ELF are left to CheckElf.
void CheckHeaderExtent(std::string_view AName, const unsigned char* AHeader,
                       std::size_t AHeaderSize, std::uint64_t ASize) {
    if (AHeaderSize < 4 || std::memcmp(AHeader, ELFMAG, SELFMAG) != 0)
        return;
    if (AHeaderSize < EI_NIDENT)
        FailTruncated(AName, "the ELF header", EI_NIDENT, ASize);
    const bool wide = AHeader[EI_CLASS] == ELFCLASS64;
    const bool big = AHeader[EI_DATA] == ELFDATA2MSB;
    const std::size_t headerSize = wide ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr);
    if (AHeaderSize < headerSize)
        FailTruncated(AName, "the ELF header", headerSize, ASize);
    const std::size_t word = wide ? 8 : 4;
    const std::uint64_t phOffset = RawField(AHeader, 24 + word, word, big);
    const std::uint64_t shOffset = RawField(AHeader, 24 + 2 * word, word, big);
    const std::size_t counts = 24 + 3 * word + 4 + 2; // behind e_flags and e_ehsize
    const std::uint64_t phEntry = RawField(AHeader, counts, 2, big);
    const std::uint64_t phCount = RawField(AHeader, counts + 2, 2, big);
    const std::uint64_t shEntry = RawField(AHeader, counts + 4, 2, big);
    const std::uint64_t shCount = RawField(AHeader, counts + 6, 2, big);
    if (phOffset != 0 && Beyond(phOffset, phCount, phEntry, ASize))
        FailTruncated(AName, "the program header table", phOffset + phCount * phEntry, ASize);
    // A count of 0 with a table present means more sections than the field holds; the first
    // entry then holds the count and must be there at least.
    if (shOffset != 0 && Beyond(shOffset, shCount == 0 ? 1 : shCount, shEntry, ASize))
        FailTruncated(AName, "the section header table",
                      shOffset + (shCount == 0 ? 1 : shCount) * shEntry, ASize);
}

/// Refuses a file whose sections (other than those without content) reach past its end.
void CheckSectionExtent(const TElfFile& AFile) {
    std::size_t names = 0;
    const bool named = elf_getshdrstrndx(AFile.FElf, &names) == 0;
    for (Elf_Scn* scn = elf_nextscn(AFile.FElf, nullptr); scn != nullptr;
         scn = elf_nextscn(AFile.FElf, scn)) {
        GElf_Shdr header;
        if (gelf_getshdr(scn, &header) == nullptr)
            Fail(AFile.FName, "damaged section header");
        if (header.sh_type == SHT_NOBITS || header.sh_size == 0 ||
            !Beyond(header.sh_offset, 1, header.sh_size, AFile.FSize))
            continue;
        const char* name = named ? elf_strptr(AFile.FElf, names, header.sh_name) : nullptr;
        FailTruncated(AFile.FName,
                      "section " + (name != nullptr && *name != '\0'
                                        ? std::string(name)
                                        : "number " + std::to_string(elf_ndxscn(scn))),
                      header.sh_offset + header.sh_size, AFile.FSize);
    }
}

void OpenFile(const std::string& APath, TElfFile& AFile) {
    AFile.FName = APath;
    InitLibelf(APath);
    try {
        AFile.FFd = fileops::OpenRegularFile(APath, &AFile.FSize).Release();
    } catch (const fileops::EFileError& error) {
        Fail(APath, error.Kind() == fileops::TFileErrorKind::fekNotRegular
                        ? std::string("not a regular file")
                        : "cannot open: " + error.Reason());
    }
    unsigned char header[sizeof(Elf64_Ehdr)] = {};
    ssize_t got = 0;
    while ((got = ::pread(AFile.FFd, header, sizeof header, 0)) < 0 && errno == EINTR) {
    }
    if (got < 0)
        Fail(APath, std::string("cannot read: ") + std::strerror(errno));
    CheckHeaderExtent(APath, header, static_cast<std::size_t>(got), AFile.FSize);
    AFile.FElf = elf_begin(AFile.FFd, ELF_C_READ_MMAP, nullptr);
    CheckElf(AFile);
    CheckSectionExtent(AFile);
}

struct TSection {
    Elf_Scn* Scn = nullptr;
    GElf_Shdr Header{};
};

/// The first section of the given name (and type, unless SHT_NULL); Scn null when absent.
TSection FindSection(const TElfFile& AFile, std::string_view AName, Elf64_Word AType) {
    std::size_t names = 0;
    if (elf_getshdrstrndx(AFile.FElf, &names) != 0)
        Fail(AFile.FName, "damaged section table");
    TSection found;
    for (Elf_Scn* scn = elf_nextscn(AFile.FElf, nullptr); scn != nullptr;
         scn = elf_nextscn(AFile.FElf, scn)) {
        GElf_Shdr header;
        if (gelf_getshdr(scn, &header) == nullptr)
            Fail(AFile.FName, "damaged section header");
        if (AType != SHT_NULL && header.sh_type != AType)
            continue;
        const char* name = elf_strptr(AFile.FElf, names, header.sh_name);
        if (name != nullptr && AName == name) {
            found.Scn = scn;
            found.Header = header;
            return found;
        }
    }
    if (elf_errno() != 0)
        Fail(AFile.FName, "damaged section table");
    return found;
}

TSection FindSectionOfType(const TElfFile& AFile, Elf64_Word AType) {
    TSection found;
    for (Elf_Scn* scn = elf_nextscn(AFile.FElf, nullptr); scn != nullptr;
         scn = elf_nextscn(AFile.FElf, scn)) {
        GElf_Shdr header;
        if (gelf_getshdr(scn, &header) != nullptr && header.sh_type == AType) {
            found.Scn = scn;
            found.Header = header;
            break;
        }
    }
    return found;
}

bool InText(const TElfImage& AImage, std::uint64_t AAddress) {
    return AAddress >= AImage.TextAddress && AAddress - AImage.TextAddress < AImage.TextSize;
}

std::uint32_t ToOffset(const TElfImage& AImage, std::uint64_t AAddress) {
    return static_cast<std::uint32_t>(AAddress - AImage.TextAddress);
}

/// Function symbols of ASymtab that lie in the code section, into AImage.Functions without
/// their names; AMangled gets the raw name of each (pointing into the ELF file's data).
void ReadSymbols(const TElfFile& AFile, const TSection& ASymtab, TElfImage& AImage,
                 std::vector<const char*>& AMangled) {
    Elf_Data* data = elf_getdata(ASymtab.Scn, nullptr);
    if (data == nullptr)
        Fail(AFile.FName, "truncated or damaged symbol table");
    const std::size_t entrySize = gelf_fsize(AFile.FElf, ELF_T_SYM, 1, EV_CURRENT);
    if (entrySize == 0)
        Fail(AFile.FName, "damaged symbol table");
    const std::size_t count = data->d_size / entrySize;
    AImage.Functions.reserve(count);
    AMangled.reserve(count);
    for (std::size_t i = 1; i < count; ++i) {
        GElf_Sym symbol;
        if (gelf_getsym(data, static_cast<int>(i), &symbol) == nullptr)
            break;
        const int type = GELF_ST_TYPE(symbol.st_info);
        if ((type != STT_FUNC && type != STT_GNU_IFUNC) || symbol.st_shndx == SHN_UNDEF ||
            !InText(AImage, symbol.st_value))
            continue;
        const char* name = elf_strptr(AFile.FElf, static_cast<std::size_t>(ASymtab.Header.sh_link),
                                      symbol.st_name);
        if (name == nullptr || *name == '\0')
            continue;
        TFunctionSymbol function;
        function.Offset = ToOffset(AImage, symbol.st_value);
        switch (GELF_ST_BIND(symbol.st_info)) {
        case STB_GLOBAL:
            function.Rank = TSymbolRank::srGlobal;
            break;
        case STB_WEAK:
            function.Rank = TSymbolRank::srWeak;
            break;
        default:
            function.Rank = TSymbolRank::srLocal;
        }
        AImage.Functions.push_back(std::move(function));
        AMangled.push_back(name);
    }
}

/// Gives AFunctions their demangled names from AMangled on a few threads of their own, so that
/// the demangling (the bulk of reading a large C++ program) runs beside the line tables'
/// reading. The threads are joined when the object goes; Finish rethrows what one raised and
/// hands the names' storage over to AStore.
class TBackgroundDemangler {
public:
    TBackgroundDemangler(std::vector<TFunctionSymbol>& AFunctions,
                         const std::vector<const char*>& AMangled) {
        const std::size_t count = AFunctions.size();
        std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
        threads = std::min(threads, std::max<std::size_t>(1, count / 2048));
        FErrors.resize(threads);
        for (std::size_t t = 0; t < threads; ++t)
            FStores.push_back(std::make_unique<TNameStore>());
        for (std::size_t t = 0; t < threads; ++t) {
            const std::size_t first = count * t / threads;
            const std::size_t last = count * (t + 1) / threads;
            FThreads.emplace_back(
                [&AFunctions, &AMangled, first, last, &store = *FStores[t], &error = FErrors[t]] {
                    try {
                        std::string name;
                        for (std::size_t i = first; i < last; ++i) {
                            name = Demangle(AMangled[i]);
                            // A control character would end or break the map's line.
                            std::replace_if(
                                name.begin(), name.end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
                            AFunctions[i].Name = store.Add(name);
                        }
                    } catch (...) {
                        error = std::current_exception();
                    }
                });
        }
    }

    void Finish(TNameStore& AStore) {
        FThreads.clear(); // joins
        for (const std::exception_ptr& error : FErrors)
            if (error)
                std::rethrow_exception(error);
        for (const std::unique_ptr<TNameStore>& store : FStores)
            AStore.Absorb(*store);
    }

private:
    std::vector<std::exception_ptr> FErrors; // one per thread, outlive them
    std::vector<std::unique_ptr<TNameStore>> FStores;
    std::vector<std::jthread> FThreads;
};

bool InRanges(const std::vector<TCodeRange>& ARanges, std::uint32_t AOffset, bool AEnd) {
    auto after = std::upper_bound(ARanges.begin(), ARanges.end(), AOffset,
                                  [](std::uint32_t o, const TCodeRange& r) { return o < r.Begin; });
    if (after == ARanges.begin())
        return false;
    const TCodeRange& range = *(after - 1);
    return AOffset < range.End || (AEnd && AOffset == range.End);
}

void NormaliseRanges(std::vector<TCodeRange>& ARanges) {
    std::sort(ARanges.begin(), ARanges.end(),
              [](const TCodeRange& a, const TCodeRange& b) { return a.Begin < b.Begin; });
    std::vector<TCodeRange> merged;
    for (const TCodeRange& range : ARanges) {
        if (!merged.empty() && range.Begin <= merged.back().End)
            merged.back().End = std::max(merged.back().End, range.End);
        else
            merged.push_back(range);
    }
    ARanges.swap(merged);
}

/// Turns the unit's rows (sorted by address) into the entries the map lists. Several rows at
/// one address keep the last ordinary row, as binutils' addr2line does; an address with only
/// end-of-sequence rows and the end of every range get line 0, so that code after the unit's
/// last row (padding, code without debug information) gets no line.
void BuildEntries(const TElfImage& AImage, const std::vector<TLineRow>& ARows,
                  TCompileUnit& AUnit) {
    std::vector<TLineEntry> entries;
    entries.reserve(ARows.size() + AUnit.Ranges.size());
    std::size_t i = 0;
    while (i < ARows.size()) {
        const std::uint64_t address = ARows[i].Address;
        const TLineRow* chosen = nullptr;
        for (; i < ARows.size() && ARows[i].Address == address; ++i)
            if (!ARows[i].EndSequence)
                chosen = &ARows[i];
        const std::uint32_t offset = ToOffset(AImage, address);
        if (!InRanges(AUnit.Ranges, offset, chosen == nullptr))
            continue;
        entries.push_back({offset, chosen != nullptr ? chosen->Line : 0});
    }
    for (const TCodeRange& range : AUnit.Ranges)
        entries.push_back({range.End, 0});
    // The range ends were appended last: a stable sort keeps a real row ahead of them.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TLineEntry& a, const TLineEntry& b) { return a.Offset < b.Offset; });
    AUnit.Lines.clear();
    for (const TLineEntry& entry : entries) {
        if (!AUnit.Lines.empty() && AUnit.Lines.back().Offset == entry.Offset)
            continue;
        if (!AUnit.Lines.empty() && AUnit.Lines.back().Line == entry.Line)
            continue;
        AUnit.Lines.push_back(entry);
    }
}

/// Code already owned by earlier units: begin -> end, not overlapping.
using TClaimed = std::map<std::uint32_t, std::uint32_t>;

bool Claimed(const TClaimed& AClaimed, std::uint32_t AOffset) {
    auto after = AClaimed.upper_bound(AOffset);
    return after != AClaimed.begin() && AOffset < std::prev(after)->second;
}

/// GNU ld points the debug information of a discarded duplicate (an inline function or template
/// instance compiled into several units) at the copy it kept, which comes from the first unit
/// that has it. So a range that starts inside code an earlier unit already owns is such a
/// phantom copy, and its rows (which describe code that is not in the program, possibly of
/// another length) are left out; the rest is subtracted from what earlier units own.
void DropPhantomRanges(std::vector<TCodeRange>& ARanges, TClaimed& AClaimed) {
    std::vector<TCodeRange> own;
    for (const TCodeRange& range : ARanges) {
        if (Claimed(AClaimed, range.Begin))
            continue;
        TCodeRange rest = range;
        auto next = AClaimed.upper_bound(rest.Begin);
        if (next != AClaimed.end() && next->first < rest.End)
            rest.End = next->first;
        own.push_back(rest);
    }
    ARanges.swap(own);
    NormaliseRanges(ARanges);
    for (const TCodeRange& range : ARanges)
        AClaimed[range.Begin] = range.End;
}

/// The .debug_line section of the file with the debug information, uncompressed.
struct TLineSection {
    std::span<const std::uint8_t> Bytes;
    bool BigEndian = false;
};

TLineSection FindLineSection(const TElfFile& AFile) {
    TLineSection found;
    for (const char* name : {".debug_line", ".zdebug_line"}) {
        const TSection section = FindSection(AFile, name, SHT_NULL);
        if (section.Scn == nullptr || section.Header.sh_type == SHT_NOBITS)
            continue;
        // The DWARF library has usually inflated it already; then this does nothing.
        int inflated = 0;
        if ((section.Header.sh_flags & SHF_COMPRESSED) != 0)
            inflated = elf_compress(section.Scn, 0, 0);
        else if (name[1] == 'z')
            inflated = elf_compress_gnu(section.Scn, 0, 0);
        if (inflated < 0)
            Fail(AFile.FName, std::string("cannot inflate ") + name + ": " + elf_errmsg(-1));
        Elf_Data* data = elf_getdata(section.Scn, nullptr);
        if (data == nullptr || data->d_buf == nullptr)
            continue;
        found.Bytes = {static_cast<const std::uint8_t*>(data->d_buf), data->d_size};
        break;
    }
    GElf_Ehdr header;
    found.BigEndian =
        gelf_getehdr(AFile.FElf, &header) != nullptr && header.e_ident[EI_DATA] == ELFDATA2MSB;
    return found;
}

/// ARows is scratch space, kept from unit to unit so that its pages are touched once.
void ReadUnit(const TElfImage& AImage, const TLineSection& ALines, Dwarf_Die& ADie,
              TClaimed& AClaimed, std::vector<TLineRow>& ARows, TCompileUnit& AUnit) {
    const char* name = dwarf_diename(&ADie);
    AUnit.SourcePath = name != nullptr ? name : "";

    Dwarf_Attribute attribute;
    Dwarf_Word tableOffset = 0;
    if (dwarf_attr(&ADie, DW_AT_stmt_list, &attribute) == nullptr ||
        dwarf_formudata(&attribute, &tableOffset) != 0)
        return;
    ARows.clear();
    if (!DecodeLineProgram(ALines.Bytes, tableOffset, ALines.BigEndian, ARows))
        return;
    // By address; at one address an end of sequence comes first, otherwise program order.
    const auto before = [](const TLineRow& a, const TLineRow& b) {
        return a.Address != b.Address ? a.Address < b.Address : a.EndSequence && !b.EndSequence;
    };
    if (!std::is_sorted(ARows.begin(), ARows.end(), before))
        std::stable_sort(ARows.begin(), ARows.end(), before);

    // The unit's own ranges say which rows are real; without them, sequences inside the code
    // section stand in.
    Dwarf_Addr base = 0, begin = 0, end = 0;
    for (std::ptrdiff_t at = 0; (at = dwarf_ranges(&ADie, at, &base, &begin, &end)) > 0;) {
        if (begin < end && InText(AImage, begin) && end - AImage.TextAddress <= AImage.TextSize)
            AUnit.Ranges.push_back({ToOffset(AImage, begin), ToOffset(AImage, end)});
    }
    if (AUnit.Ranges.empty()) {
        bool open = false;
        std::uint64_t start = 0;
        for (const TLineRow& row : ARows) {
            const bool inside = row.Address >= AImage.TextAddress &&
                                row.Address - AImage.TextAddress <= AImage.TextSize;
            if (!inside) {
                open = false;
            } else if (!row.EndSequence && !open) {
                open = true;
                start = row.Address;
            } else if (row.EndSequence && open) {
                open = false;
                if (row.Address > start)
                    AUnit.Ranges.push_back(
                        {ToOffset(AImage, start), ToOffset(AImage, row.Address)});
            }
        }
    }
    DropPhantomRanges(AUnit.Ranges, AClaimed);
    if (!AUnit.Ranges.empty())
        BuildEntries(AImage, ARows, AUnit);
}

/// ": <what the DWARF library says>", or nothing when it has no error to tell.
std::string DwarfReason() {
    const int error = dwarf_errno();
    return error != 0 ? std::string(": ") + dwarf_errmsg(error) : std::string();
}

/// Reads every compilation unit of ADwarf that has code in the code section.
void ReadUnits(std::string_view AName, Dwarf* ADwarf, const TLineSection& ALines,
               TElfImage& AImage) {
    Dwarf_CU* unit = nullptr;
    std::size_t read = 0;
    TClaimed claimed;
    std::vector<TLineRow> rows;
    for (;;) {
        Dwarf_CU* next = nullptr;
        Dwarf_Half version = 0;
        std::uint8_t unitType = 0;
        Dwarf_Die die;
        const int result = dwarf_get_units(ADwarf, unit, &next, &version, &unitType, &die, nullptr);
        if (result > 0)
            break;
        if (result < 0)
            Fail(AName, "damaged debug information: compilation unit " + std::to_string(read + 1) +
                            " in .debug_info cannot be read" + DwarfReason());
        ++read;
        unit = next;
        if (unitType != DW_UT_compile && unitType != DW_UT_skeleton)
            continue;
        TCompileUnit compileUnit;
        ReadUnit(AImage, ALines, die, claimed, rows, compileUnit);
        if (!compileUnit.Lines.empty())
            AImage.Units.push_back(std::move(compileUnit));
    }
}

struct TDwarfCloser {
    void operator()(Dwarf* ADwarf) const { dwarf_end(ADwarf); }
};

/// Refuses a debug file that was split off another build, when both carry a build id.
void CheckBuildIds(const TElfFile& AExecutable, const TElfFile& ADebug) {
    const void* exeId = nullptr;
    const void* debugId = nullptr;
    const ssize_t exeSize = dwelf_elf_gnu_build_id(AExecutable.FElf, &exeId);
    const ssize_t debugSize = dwelf_elf_gnu_build_id(ADebug.FElf, &debugId);
    if (exeSize > 0 && debugSize > 0 &&
        (exeSize != debugSize ||
         std::memcmp(exeId, debugId, static_cast<std::size_t>(exeSize)) != 0))
        Fail(ADebug.FName, "build id differs from " + AExecutable.FName);
}

/// True when the file carries the debug information entries (stripping leaves NOBITS).
bool HasDebugInfo(const TElfFile& AFile) {
    for (const char* name : {".debug_info", ".zdebug_info"}) {
        const TSection section = FindSection(AFile, name, SHT_NULL);
        if (section.Scn != nullptr && section.Header.sh_type != SHT_NOBITS &&
            section.Header.sh_size > 0)
            return true;
    }
    return false;
}

TElfImage ReadImage(const TElfFile& AExecutable, const TElfFile* ADebug) {
    const GElf_Ehdr header = CheckElf(AExecutable);
    if (header.e_type != ET_EXEC && header.e_type != ET_DYN)
        Fail(AExecutable.FName, "not an executable or shared object");
    const TElfFile& debug = ADebug != nullptr ? *ADebug : AExecutable;
    if (ADebug != nullptr) {
        CheckElf(*ADebug);
        CheckBuildIds(AExecutable, *ADebug);
    }

    TElfImage image;
    const TSection text = FindSection(AExecutable, ".text", SHT_PROGBITS);
    if (text.Scn == nullptr || text.Header.sh_size == 0)
        Fail(AExecutable.FName, "no code section (.text)");
    if (text.Header.sh_size > 0xFFFFFFFFu)
        Fail(AExecutable.FName, "code section larger than 4 GiB");
    image.TextAddress = text.Header.sh_addr;
    image.TextSize = text.Header.sh_size;

    TSection symbols = FindSectionOfType(AExecutable, SHT_SYMTAB);
    const TElfFile* symbolFile = &AExecutable;
    if (symbols.Scn == nullptr && ADebug != nullptr) {
        symbols = FindSectionOfType(*ADebug, SHT_SYMTAB);
        symbolFile = ADebug;
    }
    if (symbols.Scn == nullptr) {
        symbols = FindSectionOfType(AExecutable, SHT_DYNSYM);
        symbolFile = &AExecutable;
    }
    std::vector<const char*> mangled;
    if (symbols.Scn != nullptr)
        ReadSymbols(*symbolFile, symbols, image, mangled);
    // Declared after what its threads use, so that it is joined before any of that goes.
    TBackgroundDemangler demangler(image.Functions, mangled);

    if (!HasDebugInfo(debug))
        Fail(debug.FName, "no DWARF debug information (build with -g or give --debug-file)");
    std::unique_ptr<Dwarf, TDwarfCloser> dwarf(dwarf_begin_elf(debug.FElf, DWARF_C_READ, nullptr));
    if (!dwarf)
        Fail(debug.FName, "damaged debug information: cannot be opened" + DwarfReason());
    ReadUnits(debug.FName, dwarf.get(), FindLineSection(debug), image);
    if (image.Units.empty())
        Fail(debug.FName, "no line information for the code section");
    image.Names = std::make_shared<TNameStore>();
    demangler.Finish(*image.Names);
    return image;
}

} // namespace

TNameStore::~TNameStore() {
    for (const TBlock& block : FBlocks)
        std::free(block.Data);
}

std::string_view TNameStore::Add(std::string_view AText) {
    // Blocks of whole huge pages (2 MiB on x86-64), aligned to them.
    constexpr std::size_t HugePage = std::size_t{2} << 20;
    constexpr std::size_t BlockSize = 2 * HugePage;
    if (FBlocks.empty() || FBlocks.back().Size - FUsed < AText.size()) {
        const std::size_t size =
            std::max(BlockSize, (AText.size() + HugePage - 1) / HugePage * HugePage);
        char* data = static_cast<char*>(std::aligned_alloc(HugePage, size));
        if (data == nullptr)
            throw std::bad_alloc();
        ::madvise(data, size, MADV_HUGEPAGE); // a hint: without huge pages all still works
        FBlocks.push_back({data, size});
        FUsed = 0;
    }
    char* at = FBlocks.back().Data + FUsed;
    if (!AText.empty())
        std::memcpy(at, AText.data(), AText.size());
    FUsed += AText.size();
    return {at, AText.size()};
}

void TNameStore::Absorb(TNameStore& AOther) {
    if (FBlocks.empty()) {
        FBlocks.swap(AOther.FBlocks);
        FUsed = AOther.FUsed;
    } else {
        // Our last block stays last, so that adding goes on where it left off.
        FBlocks.insert(FBlocks.end() - 1, AOther.FBlocks.begin(), AOther.FBlocks.end());
        AOther.FBlocks.clear();
    }
    AOther.FUsed = 0;
}

std::string Demangle(std::string_view AName) {
    std::string name(AName);
    if (name.rfind("_Z", 0) != 0)
        return name;

    // One buffer, grown by the demangler as needed, serves every name of a thread.
    struct TBuffer {
        char* Data = nullptr;
        std::size_t Size = 0;

        ~TBuffer() { std::free(Data); }
    };

    thread_local TBuffer buffer;
    int status = 0;
    char* plain = abi::__cxa_demangle(name.c_str(), buffer.Data, &buffer.Size, &status);
    if (status != 0 || plain == nullptr)
        return name;
    buffer.Data = plain;
    return std::string(plain);
}

TElfImage ReadElfImage(const std::string& APath, const std::string& ADebugPath) {
    TElfFile executable;
    OpenFile(APath, executable);
    if (ADebugPath.empty())
        return ReadImage(executable, nullptr);
    TElfFile debug;
    OpenFile(ADebugPath, debug);
    return ReadImage(executable, &debug);
}

TElfImage ReadElfImageFromMemory(char* AData, std::size_t ASize, std::string_view AName) {
    TElfFile file;
    file.FName = AName;
    file.FSize = ASize;
    InitLibelf(AName);
    CheckHeaderExtent(AName, reinterpret_cast<const unsigned char*>(AData), ASize, ASize);
    file.FElf = elf_memory(AData, ASize);
    CheckElf(file);
    CheckSectionExtent(file);
    return ReadImage(file, nullptr);
}

} // namespace elfmap
