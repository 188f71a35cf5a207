// elfmap/LineProgram.h - runs one unit's DWARF line-number program from the .debug_line bytes.
//
// The map needs only address, line and end of sequence of every row: no file table, no columns.
// Decoding just that, straight from the section, is several times faster than having the DWARF
// library build, sort and hand out its full row records, and a large C++ program has millions
// of rows. Every read is bounds-checked against the section.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace elfmap {

/// One row of a line-number table.
struct TLineRow {
    std::uint64_t Address = 0;
    int Line = 0;
    bool EndSequence = false;
};

/// Appends the rows of the line-number program that starts at AOffset of ASection (the
/// .debug_line section, DWARF versions 2 to 5, 32- and 64-bit formats, in the byte order
/// ABigEndian names), in program order. Returns false when the table is damaged or of an
/// unknown version; ARows then holds whatever rows came before the damage.
bool DecodeLineProgram(std::span<const std::uint8_t> ASection, std::uint64_t AOffset,
                       bool ABigEndian, std::vector<TLineRow>& ARows);

} // namespace elfmap
