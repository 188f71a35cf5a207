// platform/linux/ProcessImage.cpp - the main executable's code range from the ELF headers.
#include "platform/ProcessImage.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <string>
#include <string_view>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr std::uintptr_t MapBaseAddress = 0x00401000;

// Reads exactly ASize bytes at AOffset; false on a short read.
bool ReadAt(int AFd, void* ABuffer, std::size_t ASize, off_t AOffset) {
    auto* out = static_cast<char*>(ABuffer);
    while (ASize > 0) {
        const ssize_t n = pread(AFd, out, ASize, AOffset);
        if (n <= 0)
            return false;
        out += n;
        ASize -= static_cast<std::size_t>(n);
        AOffset += n;
    }
    return true;
}

// Link-time address of the ".text" section of the running executable, 0 when unknown.
std::uintptr_t TextSectionAddress() {
    const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::uintptr_t result = 0;
    ElfW(Ehdr) header{};
    if (ReadAt(fd, &header, sizeof header, 0) &&
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_shentsize == sizeof(ElfW(Shdr)) && header.e_shstrndx < header.e_shnum) {
        std::vector<ElfW(Shdr)> sections(header.e_shnum);
        if (ReadAt(fd, sections.data(), sections.size() * sizeof(ElfW(Shdr)),
                   static_cast<off_t>(header.e_shoff))) {
            const ElfW(Shdr)& names = sections[header.e_shstrndx];
            std::string strtab(names.sh_size, '\0');
            if (ReadAt(fd, strtab.data(), strtab.size(), static_cast<off_t>(names.sh_offset))) {
                for (const ElfW(Shdr) & s : sections)
                    if (s.sh_name < strtab.size() &&
                        std::strcmp(strtab.c_str() + s.sh_name, ".text") == 0) {
                        result = s.sh_addr;
                        break;
                    }
            }
        }
    }
    close(fd);
    return result;
}

TMainImage ReadMainImage() {
    TMainImage image;
    // The first object the loader reports is the main program.
    dl_iterate_phdr(
        [](dl_phdr_info* AInfo, std::size_t, void* AData) -> int {
            auto* out = static_cast<TMainImage*>(AData);
            for (int i = 0; i < AInfo->dlpi_phnum; ++i) {
                const ElfW(Phdr)& ph = AInfo->dlpi_phdr[i];
                if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X) != 0) {
                    out->ExecBegin = AInfo->dlpi_addr + ph.p_vaddr;
                    out->ExecEnd = out->ExecBegin + ph.p_memsz;
                    break;
                }
            }
            out->TextStart = AInfo->dlpi_addr; // completed below with the section address
            out->LoadBias = AInfo->dlpi_addr;
            return 1;
        },
        &image);
    const std::uintptr_t text = TextSectionAddress();
    image.TextStart = text != 0 ? image.TextStart + text : image.ExecBegin;
    return image;
}

} // namespace

const TMainImage& MainImage() {
    static const TMainImage image = ReadMainImage();
    return image;
}

bool InMainExecutable(std::uintptr_t AAddress) {
    const TMainImage& image = MainImage();
    return AAddress >= image.ExecBegin && AAddress < image.ExecEnd;
}

std::uintptr_t ToMapAddress(std::uintptr_t AAddress) {
    if (!InMainExecutable(AAddress))
        return AAddress;
    return MapBaseAddress + (AAddress - MainImage().TextStart);
}

std::uintptr_t FromMapAddress(std::uintptr_t AMapAddress) {
    const TMainImage& image = MainImage();
    if (image.ExecEnd == 0 || AMapAddress < MapBaseAddress)
        return 0;
    const std::uintptr_t address = image.TextStart + (AMapAddress - MapBaseAddress);
    return address < image.ExecEnd ? address : 0;
}

TModuleInfo ModuleOf(std::uintptr_t AAddress) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(AAddress), &info) == 0 || info.dli_fname == nullptr)
        return {};
    TModuleInfo module{info.dli_fname, reinterpret_cast<std::uintptr_t>(info.dli_fbase)};
    // The loader names the main program with an empty string.
    if (module.Path.empty() || InMainExecutable(AAddress))
        module.Path = ExecutablePath();
    return module;
}

std::string ExecutablePath() {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
        return {};
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
}

TAddressRange FunctionRangeOf(std::uintptr_t AAddress) {
    const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    TAddressRange result;
    const std::uintptr_t linkAddress = AAddress - MainImage().LoadBias;
    ElfW(Ehdr) header{};
    std::vector<ElfW(Shdr)> sections;
    if (ReadAt(fd, &header, sizeof header, 0) &&
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_shentsize == sizeof(ElfW(Shdr))) {
        sections.resize(header.e_shnum);
        if (!ReadAt(fd, sections.data(), sections.size() * sizeof(ElfW(Shdr)),
                    static_cast<off_t>(header.e_shoff)))
            sections.clear();
    }
    for (const ElfW(Shdr) & s : sections) {
        if (s.sh_type != SHT_SYMTAB || s.sh_entsize != sizeof(ElfW(Sym)))
            continue;
        std::vector<ElfW(Sym)> symbols(s.sh_size / sizeof(ElfW(Sym)));
        if (!ReadAt(fd, symbols.data(), symbols.size() * sizeof(ElfW(Sym)),
                    static_cast<off_t>(s.sh_offset)))
            break;
        for (const ElfW(Sym) & sym : symbols)
            if (ELF64_ST_TYPE(sym.st_info) == STT_FUNC && sym.st_size > 0 &&
                linkAddress >= sym.st_value && linkAddress < sym.st_value + sym.st_size) {
                result.Begin = sym.st_value + MainImage().LoadBias;
                result.End = result.Begin + sym.st_size;
                break;
            }
        break;
    }
    close(fd);
    return result;
}

namespace {

// True for a mangled name in namespace std (or libstdc++'s __gnu_cxx): "_ZSt...", and nested
// names "_ZN" [cv-qualifiers] followed by St, one of the std abbreviations, or 9__gnu_cxx.
bool IsStandardLibraryName(std::string_view AName) {
    if (AName.substr(0, 2) != "_Z")
        return false;
    std::string_view rest = AName.substr(2);
    if (rest.substr(0, 2) == "St")
        return true;
    if (rest.empty() || rest[0] != 'N')
        return false;
    rest.remove_prefix(1);
    while (!rest.empty() && (rest[0] == 'r' || rest[0] == 'V' || rest[0] == 'K'))
        rest.remove_prefix(1);
    if (rest.size() >= 2 && rest[0] == 'S' &&
        std::string_view("tabsiod").find(rest[1]) != std::string_view::npos)
        return true;
    return rest.substr(0, 10) == "9__gnu_cxx";
}

struct TCodeRange {
    std::uintptr_t Begin;
    std::uintptr_t End;
};

// Run-time ranges of the executable's standard-library functions, sorted by start.
std::vector<TCodeRange> ReadStandardLibraryRanges() {
    std::vector<TCodeRange> ranges;
    const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ranges;
    ElfW(Ehdr) header{};
    std::vector<ElfW(Shdr)> sections;
    if (ReadAt(fd, &header, sizeof header, 0) &&
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_shentsize == sizeof(ElfW(Shdr))) {
        sections.resize(header.e_shnum);
        if (!ReadAt(fd, sections.data(), sections.size() * sizeof(ElfW(Shdr)),
                    static_cast<off_t>(header.e_shoff)))
            sections.clear();
    }
    for (const ElfW(Shdr) & s : sections) {
        if (s.sh_type != SHT_SYMTAB || s.sh_entsize != sizeof(ElfW(Sym)) ||
            s.sh_link >= sections.size())
            continue;
        const ElfW(Shdr)& strings = sections[s.sh_link];
        std::vector<ElfW(Sym)> symbols(s.sh_size / sizeof(ElfW(Sym)));
        std::string names(strings.sh_size, '\0');
        if (!ReadAt(fd, symbols.data(), symbols.size() * sizeof(ElfW(Sym)),
                    static_cast<off_t>(s.sh_offset)) ||
            !ReadAt(fd, names.data(), names.size(), static_cast<off_t>(strings.sh_offset)))
            break;
        for (const ElfW(Sym) & sym : symbols) {
            if (ELF64_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_size == 0 ||
                sym.st_name >= names.size())
                continue;
            const std::string_view name(names.c_str() + sym.st_name);
            if (IsStandardLibraryName(name))
                ranges.push_back({sym.st_value + MainImage().LoadBias,
                                  sym.st_value + MainImage().LoadBias + sym.st_size});
        }
        break;
    }
    close(fd);
    std::sort(ranges.begin(), ranges.end(),
              [](const TCodeRange& A, const TCodeRange& B) { return A.Begin < B.Begin; });
    return ranges;
}

} // namespace

bool InStandardLibraryCode(std::uintptr_t AAddress) {
    static const std::vector<TCodeRange> ranges = ReadStandardLibraryRanges();
    auto it = std::upper_bound(ranges.begin(), ranges.end(), AAddress,
                               [](std::uintptr_t A, const TCodeRange& R) { return A < R.Begin; });
    return it != ranges.begin() && AAddress < std::prev(it)->End;
}

bool IsMainThread() {
    return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
}

std::uint64_t CurrentThreadId() {
    return static_cast<std::uint64_t>(syscall(SYS_gettid));
}

} // namespace platform
