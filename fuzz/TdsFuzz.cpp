// fuzz/TdsFuzz.cpp - arbitrary bytes as a TDS file through the built-in reader.
//
// The bytes go straight to the reader's byte constructor, so the structure checks see them;
// a file they accept is then asked everything the merge asks (the directory, every source
// module with its files, ranges and line tables, every symbol walk and the names the records
// point at). The only acceptable outcomes are answers or the reader's refusal.
#include "tool/TdsReader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace {

void AskEverything(const vellin::TTdsFile& AFile) {
    for (std::uint32_t i = 0; i < AFile.SubSectionCount(); ++i) {
        const vellin::TTdsSubSection section = AFile.SubSection(i);
        if (section.Kind == vellin::TdsSrcModule) {
            (void)AFile.SrcSegmentCount(section.Offset);
            for (std::uint32_t f = 0; f < AFile.SrcFileCount(section.Offset); ++f) {
                (void)AFile.NameView(AFile.SrcFileName(section.Offset, f));
                for (std::uint32_t r = 0; r < AFile.SrcRangeCount(section.Offset, f); ++r) {
                    const vellin::TTdsRange range = AFile.SrcRange(section.Offset, f, r);
                    std::vector<std::int32_t> lines(range.Count);
                    std::vector<std::int32_t> offsets(range.Count);
                    AFile.SrcLines(section.Offset, f, r, lines.data(), offsets.data());
                }
            }
        }
        vellin::TTdsSymbolWalk walk =
            AFile.StartSymbols(section.Kind, section.Offset, section.Size);
        vellin::TTdsSymbol symbol;
        while (AFile.NextSymbol(walk, symbol))
            (void)AFile.NameView(AFile.U32(symbol.Offset, 4));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    try {
        const vellin::TTdsFile file(std::span<const std::uint8_t>(AData, ASize));
        AskEverything(file);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
