// platform/ProcessImage.h - where the running program's own code lies in memory.
//
// Reports use the map address model: an address inside the main executable's code section is
// given as 0x00401000 plus its offset from the start of that section, which is stable across
// runs (no address-space randomisation) and matches the offsets the map file describes.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// The main executable's code as loaded in this process.
struct TMainImage {
    std::uintptr_t ExecBegin = 0; ///< first byte of the executable's code segment
    std::uintptr_t ExecEnd = 0;   ///< one past its last byte
    std::uintptr_t TextStart = 0; ///< run-time address of the code section (.text)
    std::uintptr_t LoadBias = 0;  ///< run-time address minus link-time address
};

/// The main executable's code layout, read once per process from the loader's program headers
/// and the executable's section table. All zero when it cannot be determined.
const TMainImage& MainImage();

/// True when AAddress lies in the main executable's code segment.
bool InMainExecutable(std::uintptr_t AAddress);

/// AAddress in the map address model: 0x00401000 + (AAddress - code section start) for code of
/// the main executable, AAddress unchanged elsewhere.
std::uintptr_t ToMapAddress(std::uintptr_t AAddress);

/// The run-time address of a map-model address of the main executable's code; 0 when AAddress
/// is not such an address (it lies outside 0x00401000 .. 0x00401000 + code size).
std::uintptr_t FromMapAddress(std::uintptr_t AMapAddress);

/// The loaded module (the executable or a shared library) that contains a run-time address.
struct TModuleInfo {
    std::string Path;        ///< the module's file as the loader knows it; empty when none
    std::uintptr_t Base = 0; ///< its load base
};

/// The module containing AAddress; Path empty when no loaded module contains it.
TModuleInfo ModuleOf(std::uintptr_t AAddress);

/// Start and end (run-time addresses, end exclusive) of the function symbol of the main
/// executable that contains AAddress, read from the executable's symbol table; {0, 0} when
/// the table is absent (stripped program) or no function contains the address.
struct TAddressRange {
    std::uintptr_t Begin = 0;
    std::uintptr_t End = 0;
};

TAddressRange FunctionRangeOf(std::uintptr_t AAddress);

/// True when AAddress lies in a function of the C++ standard library that was instantiated
/// into the main executable (a template such as std::vector<int>::_M_range_check): library code
/// even though it lives in the program. Read once per process from the executable's symbol
/// table; false for a stripped program.
bool InStandardLibraryCode(std::uintptr_t AAddress);

/// True on the process's main thread (the one that started the program).
bool IsMainThread();

/// The operating system's id of the calling thread.
std::uint64_t CurrentThreadId();

} // namespace platform
