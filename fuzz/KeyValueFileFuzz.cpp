// fuzz/KeyValueFileFuzz.cpp - libFuzzer target for the key store's value-file reader.
//
// Arbitrary bytes stand for a value file found on disk. A file the reader takes must write
// back to exactly the same bytes; one it refuses must leave the value untouched.
#include "platform/linux/KeyValueFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    // A private copy, so that AddressSanitizer sees any read past the file's end.
    const std::string contents(reinterpret_cast<const char*>(AData), ASize);
    platform::TKeyValue value{"untouched", platform::kvBinary, "untouched"};
    if (!platform::ParseKeyValueFile(contents, value)) {
        if (value.Name != "untouched" || value.Data != "untouched") {
            std::fprintf(stderr, "a refused file changed the value\n");
            std::abort();
        }
        return 0;
    }
    if (platform::FormatKeyValueFile(value) != contents) {
        std::fprintf(stderr, "value file does not write back to its bytes\n");
        std::abort();
    }
    return 0;
}
