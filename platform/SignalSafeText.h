// platform/SignalSafeText.h - text composed in a caller's fixed buffer, without allocating.
//
// The fatal report and the fault messages are composed inside signal handlers, where nothing
// may allocate or lock; this writer only copies bytes and converts numbers. Text that does not
// fit is cut off; the buffer always stays NUL-terminated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

/// Appends text and numbers to a fixed buffer of ACapacity bytes (one of them for the NUL).
class TSignalSafeText {
public:
    TSignalSafeText(char* ABuffer, std::size_t ACapacity) noexcept
        : FBuffer(ABuffer)
        , FCapacity(ACapacity) {
        if (FCapacity > 0)
            FBuffer[0] = '\0';
    }

    TSignalSafeText& Append(std::string_view AText) noexcept {
        for (char c : AText) {
            if (FLength + 1 >= FCapacity)
                break;
            FBuffer[FLength++] = c;
        }
        if (FCapacity > 0)
            FBuffer[FLength] = '\0';
        return *this;
    }

    /// Upper-case hexadecimal, at least AMinDigits digits (the framework's %p is eight).
    TSignalSafeText& AppendHex(std::uint64_t AValue, int AMinDigits = 8) noexcept {
        char digits[16];
        int count = 0;
        do {
            digits[count++] = "0123456789ABCDEF"[AValue & 0xF];
            AValue >>= 4;
        } while (AValue != 0 && count < 16);
        while (count < AMinDigits && count < 16)
            digits[count++] = '0';
        char text[16];
        for (int i = 0; i < count; ++i)
            text[i] = digits[count - 1 - i];
        return Append(std::string_view(text, static_cast<std::size_t>(count)));
    }

    TSignalSafeText& AppendDecimal(long long AValue, int AMinDigits = 1) noexcept {
        char digits[24];
        int count = 0;
        const bool negative = AValue < 0;
        auto magnitude = negative ? 0ULL - static_cast<unsigned long long>(AValue)
                                  : static_cast<unsigned long long>(AValue);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (count < AMinDigits && count < 20)
            digits[count++] = '0';
        if (negative)
            digits[count++] = '-';
        char text[24];
        for (int i = 0; i < count; ++i)
            text[i] = digits[count - 1 - i];
        return Append(std::string_view(text, static_cast<std::size_t>(count)));
    }

    const char* Data() const noexcept { return FBuffer; }

    std::size_t Length() const noexcept { return FLength; }

    /// How many more bytes fit (the NUL not counted).
    std::size_t Room() const noexcept { return FCapacity > FLength ? FCapacity - FLength - 1 : 0; }

    std::string_view View() const noexcept { return {FBuffer, FLength}; }

private:
    char* FBuffer;
    std::size_t FCapacity;
    std::size_t FLength = 0;
};

} // namespace platform
