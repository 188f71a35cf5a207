// elfmap/ElfImage.h - what elfmap takes from an executable: its code section, its function
// symbols and, per compilation unit, the code ranges and line entries inside that section.
//
// Reading goes through elfutils (libelf for sections and symbols, libdw for the compilation
// units and their ranges; the line-number programs are run by LineProgram), from a file or
// from memory. Everything is reduced to offsets from the start of
// the code section, which is the form the map file describes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace elfmap {

/// Input that cannot be turned into a map: not an ELF file, truncated, without a code section
/// or without debug line information. The message names the file.
class EElfMapError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A half-open range of offsets from the start of the code section.
struct TCodeRange {
    std::uint32_t Begin = 0;
    std::uint32_t End = 0;
};

/// One line-table entry: from Offset up to the next entry's offset the code belongs to Line
/// (0: no source line, e.g. the gap after a range's end).
struct TLineEntry {
    std::uint32_t Offset = 0;
    long long Line = 0;
};

/// A compilation unit that contributes code to the code section.
struct TCompileUnit {
    /// The unit's main source file as the compiler named it (may hold folders).
    std::string SourcePath;
    /// Its code ranges in the code section, ascending, not overlapping.
    std::vector<TCodeRange> Ranges;
    /// Strictly ascending offsets, no two neighbours with the same line; every range ends with
    /// an entry of line 0 at its end unless another range of the unit starts there.
    std::vector<TLineEntry> Lines;
};

/// Binding preference of a symbol: when several symbols share an address the lowest rank names
/// it.
enum class TSymbolRank : std::uint8_t { srGlobal, srWeak, srLocal };

/// A function symbol that lies in the code section, name demangled, control characters
/// shown as "?". The name lives in the image's TNameStore (or is a literal).
struct TFunctionSymbol {
    std::uint32_t Offset = 0;
    std::string_view Name;
    TSymbolRank Rank = TSymbolRank::srLocal;
};

/// Keeps the texts of many names in a few large blocks, which the system may back with huge
/// pages: a large C++ program has tens of megabytes of demangled names, and a page fault for
/// every 4 KiB of them costs more than the copying. Texts never move once added.
class TNameStore {
public:
    TNameStore() = default;
    ~TNameStore();
    TNameStore(const TNameStore&) = delete;
    TNameStore& operator=(const TNameStore&) = delete;

    /// A lasting copy of AText.
    std::string_view Add(std::string_view AText);

    /// Takes over the blocks of AOther, whose texts stay valid.
    void Absorb(TNameStore& AOther);

private:
    struct TBlock {
        char* Data;
        std::size_t Size;
    };

    std::vector<TBlock> FBlocks;
    std::size_t FUsed = 0; ///< in the last block
};

/// Everything the map is written from.
struct TElfImage {
    std::uint64_t TextAddress = 0; ///< link-time address of the code section (.text)
    std::uint64_t TextSize = 0;
    std::vector<TCompileUnit> Units;        ///< in the order of the debug information
    std::vector<TFunctionSymbol> Functions; ///< in symbol-table order
    std::shared_ptr<TNameStore> Names;      ///< holds the names of Functions
};

/// Reads APath and, when ADebugPath is not empty, takes the debug information (and the symbol
/// table, if the executable has none) from that separate file instead.
/// Raises EElfMapError for unusable input; never reads past the data it was given.
TElfImage ReadElfImage(const std::string& APath, const std::string& ADebugPath = {});

/// Like ReadElfImage, on an image held in memory (the whole file); AName is used in messages.
/// The buffer must stay valid during the call and may be modified by the ELF library.
TElfImage ReadElfImageFromMemory(char* AData, std::size_t ASize, std::string_view AName);

/// The demangled form of a C++ symbol name; other names are returned unchanged.
std::string Demangle(std::string_view AName);

} // namespace elfmap
