// tool/LBD.h - the binding of the 13 debug-symbol library operations vellin calls.
//
// The tool reads TDS files only through these 13 entry points. At start-up, before main runs,
// it looks in its own folder for the library "BorDebug.dll" (and, as a Linux addition,
// "libBorDebug.so"); dlopen and dlsym appear only in LBD.cpp.
//
// Decision: on Linux the built-in reader (tool/TdsReader.h) is the normal path, bound whenever no
// library file lies beside the executable. A library file that is present but cannot be loaded
// (not a loadable shared object, for instance the Windows DLL itself), or that lacks one of the 13
// entry points, stops the tool with "Cannot load the "<path>" library." and exit code 1 before
// anything else runs, not even the usage text: a library put there on purpose must not be
// silently replaced by the built-in reader. A missing entry point is refused at load time because
// calling it later would crash the tool.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vellin {

// Every value is a 32-bit integer; "out" values are filled in through the pointers, arrays are
// allocated by the caller with the length the library reported earlier.
using TBorDebugRegisterFile = std::int32_t (*)(const char* AFileName, std::int32_t AZero,
                                               std::int32_t AMinusOne, std::int32_t* AError);
using TBorDebugUnregisterFile = std::int32_t (*)(std::int32_t AHandle);
using TBorDebugSubSectionCount = std::int32_t (*)(std::int32_t AHandle);
using TBorDebugSubSection = std::int32_t (*)(std::int32_t AHandle, std::int32_t AIndex,
                                             std::int32_t* AKind, std::int32_t* AValue,
                                             std::int32_t* AOffset, std::int32_t* ASize);
using TBorDebugSrcModule = std::int32_t (*)(std::int32_t AHandle, std::int32_t AOffset,
                                            std::int32_t* AValue, std::int32_t* AFileCount);
using TBorDebugSrcModuleSources = std::int32_t (*)(std::int32_t AHandle, std::int32_t AOffset,
                                                   std::int32_t* AEntries,
                                                   std::int32_t* ANameIndexes,
                                                   std::int32_t* ARangeCounts);
using TBorDebugSrcModuleSourceRanges = std::int32_t (*)(std::int32_t AHandle, std::int32_t AOffset,
                                                        std::int32_t AFile, std::int32_t* ASegments,
                                                        std::int32_t* AStarts, std::int32_t* AEnds,
                                                        std::int32_t* AEntryCounts);
using TBorDebugSrcModuleLineNumbers = std::int32_t (*)(std::int32_t AHandle, std::int32_t AOffset,
                                                       std::int32_t AFile, std::int32_t ARange,
                                                       std::int32_t* ALines,
                                                       std::int32_t* AOffsets);
using TBorDebugNameIndexToName = std::int32_t (*)(std::int32_t AHandle, std::int32_t AIndex,
                                                  char* ABuffer, std::int32_t ABufferSize);
using TBorDebugStartSymbols = std::int32_t (*)(std::int32_t AHandle, std::int32_t AKind,
                                               std::int32_t AOffset, std::int32_t ASize);
using TBorDebugNextSymbol = std::int32_t (*)(std::int32_t AHandle, std::int32_t* AKind,
                                             std::int32_t* AOffset, std::int32_t* AThird);
using TBorDebugSymbolGPROC32 = std::int32_t (*)(
    std::int32_t AHandle, std::int32_t AOffset, std::int32_t* AValue1, std::int32_t* AValue2,
    std::int32_t* AValue3, std::int32_t* AValue4, std::int32_t* AValue5, std::int32_t* AValue6,
    std::int32_t* ACodeOffset, std::int32_t* AValue8, std::int32_t* AValue9, std::int32_t* AValue10,
    std::int32_t* ANameIndex, std::int32_t* AValue12, std::int32_t AZero1, std::int32_t AZero2);
using TBorDebugSymbolGPROCREF = std::int32_t (*)(std::int32_t AHandle, std::int32_t AOffset,
                                                 std::int32_t* AValue1, std::int32_t* AValue2,
                                                 std::int32_t* ANameIndex, std::int32_t* AValue4,
                                                 std::int32_t* AValue5, std::int32_t* ACodeOffset);

/// The 13 bound entry points. A complete table has every member set.
struct TBorDebugApi {
    TBorDebugRegisterFile RegisterFile = nullptr;
    TBorDebugUnregisterFile UnregisterFile = nullptr;
    TBorDebugSubSectionCount SubSectionCount = nullptr;
    TBorDebugSubSection SubSection = nullptr;
    TBorDebugSrcModule SrcModule = nullptr;
    TBorDebugSrcModuleSources SrcModuleSources = nullptr;
    TBorDebugSrcModuleSourceRanges SrcModuleSourceRanges = nullptr;
    TBorDebugSrcModuleLineNumbers SrcModuleLineNumbers = nullptr;
    TBorDebugNameIndexToName NameIndexToName = nullptr;
    TBorDebugStartSymbols StartSymbols = nullptr;
    TBorDebugNextSymbol NextSymbol = nullptr;
    TBorDebugSymbolGPROC32 SymbolGPROC32 = nullptr;
    TBorDebugSymbolGPROCREF SymbolGPROCREF = nullptr;

    /// True when all 13 entry points are set.
    bool Complete() const;
};

/// The library's file name, looked for only in the executable's own folder.
inline constexpr const char* BorDebugLibraryName = "BorDebug.dll";
/// The same library in the platform's shared-object form, looked for when the first is absent.
inline constexpr const char* BorDebugSharedObjectName = "libBorDebug.so";

/// A debug-symbol library loaded from a file, with its 13 entry points bound by their exported
/// names ("_BorDebugRegisterFile", ...). Releases the library when destroyed.
class TBorDebugLibrary {
public:
    /// Loads APath (exactly that file, no search path). Raises EVellinError
    /// "Cannot load the "<path>" library." when it cannot be loaded or lacks an entry point.
    static std::unique_ptr<TBorDebugLibrary> Load(const std::string& APath);

    ~TBorDebugLibrary();
    TBorDebugLibrary(const TBorDebugLibrary&) = delete;
    TBorDebugLibrary& operator=(const TBorDebugLibrary&) = delete;

    const TBorDebugApi& Api() const { return FApi; }

private:
    explicit TBorDebugLibrary(void* AHandle);

    void* FHandle;
    TBorDebugApi FApi;
};

/// Folder of the running executable as the system reports it (/proc/self/exe), with a trailing
/// "/"; empty when it cannot be found out.
std::string ExecutableFolder();

/// The start-up decision for AFolder (ending in "/"): the library loaded from
/// AFolder + "BorDebug.dll", else from AFolder + "libBorDebug.so", else nullptr when neither file
/// exists (the caller then binds the built-in reader). Raises EVellinError as Load does when a
/// file exists but cannot be loaded.
std::unique_ptr<TBorDebugLibrary> LoadBorDebugLibrary(const std::string& AFolder);

/// The entry points bound at start-up: those of the library beside the executable, else the
/// built-in reader's.
const TBorDebugApi& BorDebug();

} // namespace vellin
