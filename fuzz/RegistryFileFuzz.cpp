// fuzz/RegistryFileFuzz.cpp - libFuzzer target for the REGEDIT4 parser.
//
// Arbitrary text goes to ParseRegistryText; nothing is applied, so no store is written. The
// only acceptable outcomes are entries or ERegistryException. Entries must name lines of the
// text in order and carry what their kind promises.
#include "host/core/RegistryFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool ACondition, const char* AWhat) {
    if (!ACondition) {
        std::fprintf(stderr, "parsed entry is wrong: %s\n", AWhat);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::string_view text(reinterpret_cast<const char*>(AData), ASize);
    const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    try {
        int last = 0;
        for (const host::TRegistryFileEntry& entry : host::ParseRegistryText(text)) {
            Check(entry.Line >= last && entry.Line <= lines, "line out of order or past the end");
            Check(entry.Root != 0, "entry without a root");
            if (entry.Kind == host::TRegistryFileEntry::ekKey ||
                entry.Kind == host::TRegistryFileEntry::ekDeleteKey)
                Check(entry.Name.empty() && entry.Data.empty(), "key entry with a value");
            last = entry.Line;
        }
    } catch (const host::ERegistryException&) {
    }
    return 0;
}
