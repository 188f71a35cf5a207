// platform/LittleEndian.h - reading and writing the little-endian integers of on-disk layouts
// (event-log files, compiled message tables) byte by byte, whatever the alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::le {

/// The 16-bit value at AAt; the caller has checked that two bytes are there.
inline std::uint16_t Get16(std::string_view ABytes, std::size_t AAt) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(ABytes[AAt]) |
                                      (static_cast<unsigned char>(ABytes[AAt + 1]) << 8));
}

/// The 32-bit value at AAt; the caller has checked that four bytes are there.
inline std::uint32_t Get32(std::string_view ABytes, std::size_t AAt) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(ABytes[AAt + i]);
    return value;
}

/// Overwrites the two bytes at AAt.
inline void Put16(std::string& ABytes, std::size_t AAt, std::uint16_t AValue) {
    ABytes[AAt] = static_cast<char>(AValue & 0xFF);
    ABytes[AAt + 1] = static_cast<char>(AValue >> 8);
}

/// Overwrites the four bytes at AAt.
inline void Put32(std::string& ABytes, std::size_t AAt, std::uint32_t AValue) {
    for (int i = 0; i < 4; ++i)
        ABytes[AAt + i] = static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

/// Appends two bytes.
inline void Append16(std::string& ABytes, std::uint16_t AValue) {
    ABytes.push_back(static_cast<char>(AValue & 0xFF));
    ABytes.push_back(static_cast<char>(AValue >> 8));
}

/// Appends four bytes.
inline void Append32(std::string& ABytes, std::uint32_t AValue) {
    for (int i = 0; i < 4; ++i)
        ABytes.push_back(static_cast<char>((AValue >> (8 * i)) & 0xFF));
}

} // namespace platform::le
