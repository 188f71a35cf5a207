// platform/linux/ProcessImage.cpp - the main executable's code range from the ELF headers.
#include "platform/ProcessImage.h"

#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <string>
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

} // namespace platform
