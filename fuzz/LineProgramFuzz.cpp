// fuzz/LineProgramFuzz.cpp - libFuzzer target over the DWARF line-number program decoder.
//
// The input is a .debug_line section; its first byte picks the byte order and the offset of
// the table. Any input must end in rows or a refusal, never in a crash, a hang or a read
// outside the input.
#include "elfmap/LineProgram.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize == 0)
        return 0;
    const bool bigEndian = (AData[0] & 0x80) != 0;
    const std::uint64_t offset = AData[0] & 0x7F;
    // A private copy, so that AddressSanitizer sees any read past the section's end.
    const std::vector<std::uint8_t> section(AData + 1, AData + ASize);
    std::vector<elfmap::TLineRow> rows;
    elfmap::DecodeLineProgram(section, offset, bigEndian, rows);
    return 0;
}
