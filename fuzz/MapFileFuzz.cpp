// fuzz/MapFileFuzz.cpp - libFuzzer target for the map reader.
//
// The first four bytes of an input are an address, the rest is the map file. The reader must
// neither crash nor differ from the plain line-by-line scans, whatever the bytes.
#include "mapfile/Jexmapfile.h"
#include "tests/mapfile/PlainMapReader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ACondition, const char* AWhat) {
    if (!ACondition) {
        std::fprintf(stderr, "reader and plain scans differ: %s\n", AWhat);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    std::uint32_t address = 0x00401000;
    if (ASize >= 4) {
        address = static_cast<std::uint32_t>(AData[0]) | static_cast<std::uint32_t>(AData[1]) << 8 |
                  static_cast<std::uint32_t>(AData[2]) << 16 |
                  static_cast<std::uint32_t>(AData[3]) << 24;
        AData += 4;
        ASize -= 4;
    }
    if (address == 0)
        address = 0x00401000;
    const std::string text(reinterpret_cast<const char*>(AData), ASize);
    jex::TJexMapFile map;
    map.LoadMapText(text);
    map.LoadExceptionData(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)));
    jex::test::PlainMapReader plain;
    plain.Load(text);
    const jex::test::PlainMapReader::Result expected = plain.Lookup(address);
    Check(map.SegmentLines() == plain.Segments, "segment lines");
    Check(map.PublicLines() == plain.Publics, "public lines");
    Check(map.LineNumberLines() == plain.LineNumbers, "line-number lines");
    Check(map.UnitName() == expected.Unit, "unit");
    Check(map.ProcedureName() == expected.Procedure, "procedure");
    Check(map.LineNumber() == expected.Line, "line");
    // A second address through the same index, near the first.
    const std::uint32_t near = address + 1 == 0 ? 2 : address + 1;
    map.LoadExceptionData(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(near)));
    const jex::test::PlainMapReader::Result expectedNear = plain.Lookup(near);
    Check(map.UnitName() == expectedNear.Unit && map.ProcedureName() == expectedNear.Procedure &&
              map.LineNumber() == expectedNear.Line,
          "second lookup");
    return 0;
}
