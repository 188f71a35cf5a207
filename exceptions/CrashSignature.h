// exceptions/CrashSignature.h - the short identifier under which the reports of one crash are
// grouped.
//
// Made from the exception's class and the unit and procedure it was raised in, never from
// addresses, so the same crash keeps its signature across rebuilds and on every machine.
#pragma once

#include <array>
#include <string_view>

namespace jex {

/// Sixteen lower-case hexadecimal digits and a NUL.
using TCrashSignature = std::array<char, 17>;

/// The signature of a crash of class AClass in AProcedure of AUnit (either may be empty when the
/// map does not know them). Async-signal-safe.
TCrashSignature CrashSignature(std::string_view AClass, std::string_view AUnit,
                               std::string_view AProcedure) noexcept;

/// The signature as text (without the NUL), valid while ASignature lives.
inline std::string_view SignatureText(const TCrashSignature& ASignature) noexcept {
    return {ASignature.data(), ASignature.size() - 1};
}

/// Not of a temporary: the text would outlive it.
std::string_view SignatureText(const TCrashSignature&& ASignature) = delete;

} // namespace jex
