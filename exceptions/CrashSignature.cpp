// exceptions/CrashSignature.cpp - the crash signature: 64-bit FNV-1a over the three names.
#include "exceptions/CrashSignature.h"

#include <cstdint>

namespace jex {

TCrashSignature CrashSignature(std::string_view AClass, std::string_view AUnit,
                               std::string_view AProcedure) noexcept {
    std::uint64_t hash = 14695981039346656037ULL;
    const auto add = [&hash](std::string_view AText) {
        for (const char c : AText) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ULL;
        }
        // A separator byte, so "ab"+"c" and "a"+"bc" differ.
        hash ^= 0xFF;
        hash *= 1099511628211ULL;
    };
    add(AClass);
    add(AUnit);
    add(AProcedure);
    TCrashSignature text{};
    for (int i = 15; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = "0123456789abcdef"[hash & 0xF];
        hash >>= 4;
    }
    text[16] = '\0';
    return text;
}

} // namespace jex
