// tests/tool/FakeBorDebug.cpp - a stand-in debug-symbol library, loaded by the binding tests.
//
// It answers the 13 entry points from a fixed script (two source files, a procedure, a
// reference, symbols and a subsection of kinds the tool must pass over) and records every call,
// so the tests can check which calls the tool makes and in which order. Built as a loadable
// module; with FAKE_BORDEBUG_INCOMPLETE the last entry point is left out.
#include <cstdint>
#include <cstring>
#include <string>

namespace {

std::string& Log() {
    static std::string log;
    return log;
}

void Note(const std::string& ACall) {
    if (!Log().empty())
        Log() += ' ';
    Log() += ACall;
}

int GWalkKind = 0;
int GWalkStep = 0;

void Set(std::int32_t* AOut, std::int32_t AValue) {
    if (AOut != nullptr)
        *AOut = AValue;
}

} // namespace

extern "C" {

const char* FakeBorDebugLog() {
    return Log().c_str();
}

void FakeBorDebugReset() {
    Log().clear();
}

std::int32_t _BorDebugRegisterFile(const char* AFileName, std::int32_t, std::int32_t,
                                   std::int32_t* AError) {
    Note("RegisterFile");
    const bool missing = std::strstr(AFileName, "missing") != nullptr;
    Set(AError, missing ? 2 : 0);
    return missing ? 0 : 77;
}

std::int32_t _BorDebugUnregisterFile(std::int32_t) {
    Note("UnregisterFile");
    return 0;
}

std::int32_t _BorDebugSubSectionCount(std::int32_t) {
    Note("SubSectionCount");
    return 4;
}

std::int32_t _BorDebugSubSection(std::int32_t, std::int32_t AIndex, std::int32_t* AKind,
                                 std::int32_t* AValue, std::int32_t* AOffset, std::int32_t* ASize) {
    Note("SubSection(" + std::to_string(AIndex) + ")");
    static const std::int32_t kinds[] = {0x120, 0x127, 0x125, 0x129};
    Set(AKind, kinds[AIndex & 3]);
    Set(AValue, 0);
    Set(AOffset, 100 * (AIndex + 1));
    Set(ASize, 50);
    return 0;
}

std::int32_t _BorDebugSrcModule(std::int32_t, std::int32_t, std::int32_t* AValue,
                                std::int32_t* AFileCount) {
    Note("SrcModule");
    Set(AValue, 1);
    Set(AFileCount, 2);
    return 0;
}

std::int32_t _BorDebugSrcModuleSources(std::int32_t, std::int32_t, std::int32_t*,
                                       std::int32_t* ANameIndexes, std::int32_t* ARangeCounts) {
    Note("SrcModuleSources");
    ANameIndexes[0] = 1;
    ANameIndexes[1] = 2;
    ARangeCounts[0] = 2;
    ARangeCounts[1] = 1;
    return 0;
}

std::int32_t _BorDebugSrcModuleSourceRanges(std::int32_t, std::int32_t, std::int32_t AFile,
                                            std::int32_t*, std::int32_t*, std::int32_t*,
                                            std::int32_t* AEntryCounts) {
    Note("SrcModuleSourceRanges(" + std::to_string(AFile) + ")");
    if (AFile == 0) {
        AEntryCounts[0] = 3;
        AEntryCounts[1] = 2;
    } else {
        AEntryCounts[0] = 1;
    }
    return 0;
}

std::int32_t _BorDebugSrcModuleLineNumbers(std::int32_t, std::int32_t, std::int32_t AFile,
                                           std::int32_t ARange, std::int32_t* ALines,
                                           std::int32_t* AOffsets) {
    Note("SrcModuleLineNumbers(" + std::to_string(AFile) + "," + std::to_string(ARange) + ")");
    if (AFile == 1) {
        ALines[0] = 0;
        AOffsets[0] = 0x30;
    } else if (ARange == 0) {
        const std::int32_t lines[] = {10, 12, 11};
        const std::int32_t offsets[] = {0x10, 0x14, 0x18};
        std::memcpy(ALines, lines, sizeof lines);
        std::memcpy(AOffsets, offsets, sizeof offsets);
    } else {
        const std::int32_t lines[] = {12, 20};
        const std::int32_t offsets[] = {0x1C, 0x20};
        std::memcpy(ALines, lines, sizeof lines);
        std::memcpy(AOffsets, offsets, sizeof offsets);
    }
    return 0;
}

std::int32_t _BorDebugNameIndexToName(std::int32_t, std::int32_t AIndex, char* ABuffer,
                                      std::int32_t ABufferSize) {
    Note("NameIndexToName(" + std::to_string(AIndex) + ")");
    static const char* const names[] = {
        "", "C:\\fake\\Fake.cpp", "C:\\fake\\Empty.h", "@Fake@Run$qv", "@$xp$3Foo", "Helper"};
    std::strncpy(ABuffer, names[AIndex % 6], static_cast<std::size_t>(ABufferSize));
    return 0;
}

std::int32_t _BorDebugStartSymbols(std::int32_t, std::int32_t AKind, std::int32_t, std::int32_t) {
    Note("StartSymbols");
    GWalkKind = AKind;
    GWalkStep = 0;
    return 0;
}

std::int32_t _BorDebugNextSymbol(std::int32_t, std::int32_t* AKind, std::int32_t* AOffset,
                                 std::int32_t* AThird) {
    Note("NextSymbol");
    // Aligned symbols: a global and a local procedure. Global symbols: a reference, a procedure
    // (not of this subsection's kind) and a data reference.
    static const std::int32_t aligned[][2] = {{0x205, 1000}, {0x204, 1001}};
    static const std::int32_t global[][2] = {{0x20, 2000}, {0x205, 2001}, {0x21, 2002}};
    const auto* walk = GWalkKind == 0x125 ? aligned : global;
    const int length = GWalkKind == 0x125 ? 2 : 3;
    const bool done = GWalkStep >= length;
    Set(AKind, done ? 0 : walk[GWalkStep][0]);
    Set(AOffset, done ? 0 : walk[GWalkStep][1]);
    Set(AThird, done ? 0 : 1);
    ++GWalkStep;
    return 0;
}

std::int32_t _BorDebugSymbolGPROC32(std::int32_t, std::int32_t AOffset, std::int32_t*,
                                    std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*,
                                    std::int32_t*, std::int32_t* ACodeOffset, std::int32_t*,
                                    std::int32_t*, std::int32_t*, std::int32_t* ANameIndex,
                                    std::int32_t*, std::int32_t AZero1, std::int32_t AZero2) {
    Note("SymbolGPROC32(" + std::to_string(AOffset) + "," + std::to_string(AZero1) + "," +
         std::to_string(AZero2) + ")");
    *ACodeOffset = 0x10;
    *ANameIndex = 3;
    return 0;
}

#ifndef FAKE_BORDEBUG_INCOMPLETE
std::int32_t _BorDebugSymbolGPROCREF(std::int32_t, std::int32_t AOffset, std::int32_t*,
                                     std::int32_t*, std::int32_t* ANameIndex, std::int32_t*,
                                     std::int32_t*, std::int32_t* ACodeOffset) {
    Note("SymbolGPROCREF(" + std::to_string(AOffset) + ")");
    *ANameIndex = 5;
    *ACodeOffset = 0x40;
    return 0;
}
#endif
}
