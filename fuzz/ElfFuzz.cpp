// fuzz/ElfFuzz.cpp - libFuzzer target over elfmap's reading of ELF files and DWARF line tables.
//
// Any input must end in a map text or an EElfMapError, never in a crash, a hang or a read
// outside the input. Seeds: any small executable built with -g.
#include "elfmap/ElfImage.h"
#include "elfmap/MapWriter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    // The ELF library may write into the buffer it reads from, so it gets a private copy.
    std::vector<char> bytes(AData, AData + ASize);
    try {
        const elfmap::TElfImage image =
            elfmap::ReadElfImageFromMemory(bytes.data(), bytes.size(), "fuzz input");
        const std::string text = elfmap::FormatMap(image);
        if (text.empty())
            __builtin_trap();
    } catch (const elfmap::EElfMapError&) {
    }
    return 0;
}
