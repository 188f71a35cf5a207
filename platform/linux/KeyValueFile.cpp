// platform/linux/KeyValueFile.cpp - the bytes of one value file of the key store.
#include "platform/linux/KeyValueFile.h"

#include <cstddef>
#include <cstdint>

namespace platform {

namespace {

constexpr char ValueMagic[] = "JRV1";
constexpr std::size_t ValueHeaderSize = 12;

void PutUint32(std::string& AOut, std::uint32_t AValue) {
    for (int i = 0; i < 4; ++i)
        AOut += static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

std::uint32_t GetUint32(std::string_view AIn, std::size_t AAt) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(AIn[AAt + static_cast<std::size_t>(i)]);
    return value;
}

} // namespace

std::string FormatKeyValueFile(const TKeyValue& AValue) {
    std::string contents(ValueMagic, 4);
    PutUint32(contents, AValue.Type);
    PutUint32(contents, static_cast<std::uint32_t>(AValue.Name.size()));
    contents += AValue.Name;
    contents += AValue.Data;
    return contents;
}

bool ParseKeyValueFile(std::string_view AContents, TKeyValue& AValue) {
    if (AContents.size() < ValueHeaderSize || AContents.substr(0, 4) != ValueMagic)
        return false;
    const std::uint32_t type = GetUint32(AContents, 4);
    const std::uint32_t nameLength = GetUint32(AContents, 8);
    if (nameLength > MaxValueNameLength || nameLength > AContents.size() - ValueHeaderSize)
        return false;
    AValue.Type = static_cast<TKeyValueType>(type);
    AValue.Name = std::string(AContents.substr(ValueHeaderSize, nameLength));
    AValue.Data = std::string(AContents.substr(ValueHeaderSize + nameLength));
    return true;
}

} // namespace platform
