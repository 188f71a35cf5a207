// platform/linux/ProcessImage.cpp - the main executable's code range from the ELF headers.
#include "platform/ProcessImage.h"

#include "platform/File.h"
#include "platform/PlatformServices.h"

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

// The running executable's file with its section table, closed on destruction. Every reader of
// the executable's own sections and symbols goes through it.
class TExecutableFile {
public:
    TExecutableFile()
        : FFd(open("/proc/self/exe", O_RDONLY | O_CLOEXEC)) {
        ElfW(Ehdr) header{};
        if (FFd < 0 || !ReadAt(FFd, &header, sizeof header, 0) ||
            std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
            header.e_shentsize != sizeof(ElfW(Shdr)))
            return;
        FSections.resize(header.e_shnum);
        if (!ReadAt(FFd, FSections.data(), FSections.size() * sizeof(ElfW(Shdr)),
                    static_cast<off_t>(header.e_shoff)))
            FSections.clear();
        FNamesIndex = header.e_shstrndx;
    }

    ~TExecutableFile() {
        if (FFd >= 0)
            close(FFd);
    }

    TExecutableFile(const TExecutableFile&) = delete;
    TExecutableFile& operator=(const TExecutableFile&) = delete;

    /// Link-time address of the section called AName, 0 when there is none.
    std::uintptr_t SectionAddress(const char* AName) const {
        if (FNamesIndex >= FSections.size())
            return 0;
        const std::string names = Contents(FSections[FNamesIndex]);
        for (const ElfW(Shdr) & s : FSections)
            if (s.sh_name < names.size() && std::strcmp(names.c_str() + s.sh_name, AName) == 0)
                return s.sh_addr;
        return 0;
    }

    /// Calls AVisit(name, link-time start, size) for every sized function of the symbol table.
    template <typename F>
    void ForEachFunction(F AVisit) const {
        for (const ElfW(Shdr) & s : FSections) {
            if (s.sh_type != SHT_SYMTAB || s.sh_entsize != sizeof(ElfW(Sym)) ||
                s.sh_link >= FSections.size())
                continue;
            std::vector<ElfW(Sym)> symbols(s.sh_size / sizeof(ElfW(Sym)));
            const std::string names = Contents(FSections[s.sh_link]);
            if (!ReadAt(FFd, symbols.data(), symbols.size() * sizeof(ElfW(Sym)),
                        static_cast<off_t>(s.sh_offset)))
                return;
            for (const ElfW(Sym) & sym : symbols)
                if (ELF64_ST_TYPE(sym.st_info) == STT_FUNC && sym.st_size > 0 &&
                    sym.st_name < names.size())
                    AVisit(std::string_view(names.c_str() + sym.st_name), sym.st_value,
                           sym.st_size);
            return;
        }
    }

private:
    std::string Contents(const ElfW(Shdr) & ASection) const {
        std::string data(ASection.sh_size, '\0');
        if (!ReadAt(FFd, data.data(), data.size(), static_cast<off_t>(ASection.sh_offset)))
            data.clear();
        return data;
    }

    int FFd;
    std::vector<ElfW(Shdr)> FSections;
    std::size_t FNamesIndex = 0;
};

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
    const std::uintptr_t text = TExecutableFile().SectionAddress(".text");
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
        module.Path = PlatformServices().Files->ExecutablePath();
    return module;
}

TAddressRange FunctionRangeOf(std::uintptr_t AAddress) {
    TAddressRange result;
    const std::uintptr_t bias = MainImage().LoadBias;
    const std::uintptr_t linkAddress = AAddress - bias;
    TExecutableFile().ForEachFunction(
        [&](std::string_view, std::uintptr_t AStart, std::uintptr_t ASize) {
            if (result.Begin == 0 && linkAddress >= AStart && linkAddress < AStart + ASize)
                result = {AStart + bias, AStart + bias + ASize};
        });
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
    const std::uintptr_t bias = MainImage().LoadBias;
    TExecutableFile().ForEachFunction(
        [&](std::string_view AName, std::uintptr_t AStart, std::uintptr_t ASize) {
            if (IsStandardLibraryName(AName))
                ranges.push_back({AStart + bias, AStart + bias + ASize});
        });
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
