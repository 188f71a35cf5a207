// platform/ProcessImage.h - where the running program's own code lies in memory.
//
// Reports use the map address model: an address inside the main executable's code section is
// given as 0x00401000 plus its offset from the start of that section, which is stable across
// runs (no address-space randomisation) and matches the offsets the map file describes.
#pragma once

#include <cstdint>

namespace platform {

/// The main executable's code as loaded in this process.
struct TMainImage {
    std::uintptr_t ExecBegin = 0; ///< first byte of the executable's code segment
    std::uintptr_t ExecEnd = 0;   ///< one past its last byte
    std::uintptr_t TextStart = 0; ///< run-time address of the code section (.text)
};

/// The main executable's code layout, read once per process from the loader's program headers
/// and the executable's section table. All zero when it cannot be determined.
const TMainImage& MainImage();

/// True when AAddress lies in the main executable's code segment.
bool InMainExecutable(std::uintptr_t AAddress);

/// AAddress in the map address model: 0x00401000 + (AAddress - code section start) for code of
/// the main executable, AAddress unchanged elsewhere.
std::uintptr_t ToMapAddress(std::uintptr_t AAddress);

} // namespace platform
