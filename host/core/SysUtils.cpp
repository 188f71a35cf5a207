// host/core/SysUtils.cpp - integer conversions, string helpers and file-name helpers.
//
// Format lives in SysUtilsFormat.cpp, float conversions in SysUtilsFloat.cpp, dates in
// SysUtilsDateTime.cpp and the locale-derived settings in SysUtilsLocale.cpp. Strings are
// 8-bit text; every byte comparison here is on unsigned characters.
#include "host/core/SysUtils.h"

#include "platform/File.h"
#include "platform/PlatformServices.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>

namespace host {

namespace {

std::string HexDigits(std::uint64_t AValue, int ADigits) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), Hex[AValue & 0xF]);
        AValue >>= 4;
    } while (AValue != 0);
    const std::size_t wanted = static_cast<std::size_t>(ADigits < 0    ? 0
                                                        : ADigits > 32 ? 32
                                                                       : ADigits);
    if (digits.size() < wanted)
        digits.insert(0, wanted - digits.size(), '0');
    return digits;
}

int HexValue(char AChar) {
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    return -1;
}

// Pascal's Val for integers: blanks, sign, decimal digits or a '$' hex literal, nothing after.
// AHexMask is the widest bit pattern a hex literal may set (it is reinterpreted as signed).
bool ParseInteger(const std::string& AText, std::int64_t AMin, std::int64_t AMax,
                  std::uint64_t AHexMask, std::int64_t& AValue) {
    std::size_t i = 0;
    const std::size_t n = AText.size();
    while (i < n && AText[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (AText[i] == '+' || AText[i] == '-'))
        negative = AText[i++] == '-';
    if (i < n && AText[i] == '$') {
        ++i;
        if (i >= n)
            return false;
        std::uint64_t bits = 0;
        for (; i < n; ++i) {
            const int digit = HexValue(AText[i]);
            if (digit < 0 || (bits & ~(AHexMask >> 4)) != 0)
                return false;
            bits = bits << 4 | static_cast<unsigned>(digit);
        }
        // Sign-extend from the literal's width so "$FFFFFFFF" is -1 for a 32-bit result.
        std::int64_t value = static_cast<std::int64_t>(bits);
        if (AHexMask != ~std::uint64_t{0} && (bits & ~(AHexMask >> 1)) != 0)
            value = static_cast<std::int64_t>(bits | ~AHexMask);
        AValue =
            negative ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(value)) : value;
        return true;
    }
    if (i >= n)
        return false;
    const std::uint64_t limit =
        negative ? 0 - static_cast<std::uint64_t>(AMin) : static_cast<std::uint64_t>(AMax);
    std::uint64_t magnitude = 0;
    for (; i < n; ++i) {
        if (AText[i] < '0' || AText[i] > '9')
            return false;
        const unsigned digit = static_cast<unsigned>(AText[i] - '0');
        if (magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    AValue =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

[[noreturn]] void RaiseInvalidInteger(const std::string& AText) {
    throw EConvertError("'" + AText + "' is not a valid integer value");
}

bool IsBlank(char AChar) {
    return static_cast<unsigned char>(AChar) <= ' ';
}

char AsciiUpper(char AChar) {
    return AChar >= 'a' && AChar <= 'z' ? static_cast<char>(AChar - 'a' + 'A') : AChar;
}

char AsciiLower(char AChar) {
    return AChar >= 'A' && AChar <= 'Z' ? static_cast<char>(AChar - 'A' + 'a') : AChar;
}

// Start of the name part: after the last '/'.
std::size_t NameStart(const std::string& AFileName) {
    const std::size_t slash = AFileName.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Position of the extension's '.', or npos.
std::size_t ExtensionStart(const std::string& AFileName) {
    const std::size_t dot = AFileName.rfind('.');
    return dot != std::string::npos && dot >= NameStart(AFileName) ? dot : std::string::npos;
}

} // namespace

std::string IntToStr(int AValue) {
    return std::to_string(AValue);
}

std::string IntToStr(std::int64_t AValue) {
    return std::to_string(AValue);
}

std::string IntToHex(int AValue, int ADigits) {
    return HexDigits(static_cast<std::uint32_t>(AValue), ADigits);
}

std::string IntToHex(std::int64_t AValue, int ADigits) {
    return HexDigits(static_cast<std::uint64_t>(AValue), ADigits);
}

bool TryStrToInt(const std::string& AText, int& AValue) {
    std::int64_t value = 0;
    if (!ParseInteger(AText, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
                      0xFFFFFFFFu, value))
        return false;
    AValue = static_cast<int>(value);
    return true;
}

int StrToInt(const std::string& AText) {
    int value = 0;
    if (!TryStrToInt(AText, value))
        RaiseInvalidInteger(AText);
    return value;
}

int StrToIntDef(const std::string& AText, int ADefault) {
    int value = ADefault;
    return TryStrToInt(AText, value) ? value : ADefault;
}

std::int64_t StrToInt64(const std::string& AText) {
    std::int64_t value = 0;
    if (!ParseInteger(AText, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max(), ~std::uint64_t{0}, value))
        RaiseInvalidInteger(AText);
    return value;
}

std::string Trim(const std::string& AText) {
    return TrimLeft(TrimRight(AText));
}

std::string TrimLeft(const std::string& AText) {
    std::size_t i = 0;
    while (i < AText.size() && IsBlank(AText[i]))
        ++i;
    return AText.substr(i);
}

std::string TrimRight(const std::string& AText) {
    std::size_t n = AText.size();
    while (n > 0 && IsBlank(AText[n - 1]))
        --n;
    return AText.substr(0, n);
}

std::string AnsiQuotedStr(const std::string& AText, char AQuote) {
    std::string quoted(1, AQuote);
    quoted.reserve(AText.size() + 2);
    for (char c : AText) {
        if (c == AQuote)
            quoted += AQuote;
        quoted += c;
    }
    quoted += AQuote;
    return quoted;
}

std::string UpperCase(const std::string& AText) {
    std::string result = AText;
    for (char& c : result)
        c = AsciiUpper(c);
    return result;
}

std::string LowerCase(const std::string& AText) {
    std::string result = AText;
    for (char& c : result)
        c = AsciiLower(c);
    return result;
}

int CompareText(const std::string& AText1, const std::string& AText2) {
    const std::size_t n = std::min(AText1.size(), AText2.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int a = static_cast<unsigned char>(AsciiUpper(AText1[i]));
        const int b = static_cast<unsigned char>(AsciiUpper(AText2[i]));
        if (a != b)
            return a - b;
    }
    return AText1.size() < AText2.size() ? -1 : AText1.size() > AText2.size() ? 1 : 0;
}

bool SameText(const std::string& AText1, const std::string& AText2) {
    return AText1.size() == AText2.size() && CompareText(AText1, AText2) == 0;
}

std::string ChangeFileExt(const std::string& AFileName, const std::string& AExtension) {
    const std::size_t dot = ExtensionStart(AFileName);
    return (dot == std::string::npos ? AFileName : AFileName.substr(0, dot)) + AExtension;
}

std::string ExtractFileName(const std::string& AFileName) {
    return AFileName.substr(NameStart(AFileName));
}

std::string ExtractFilePath(const std::string& AFileName) {
    return AFileName.substr(0, NameStart(AFileName));
}

std::string ExtractFileDir(const std::string& AFileName) {
    std::size_t end = NameStart(AFileName);
    if (end > 1)
        --end;
    return AFileName.substr(0, end);
}

std::string ExtractFileExt(const std::string& AFileName) {
    const std::size_t dot = ExtensionStart(AFileName);
    return dot == std::string::npos ? std::string() : AFileName.substr(dot);
}

std::string ExpandFileName(const std::string& AFileName) {
    if (AFileName.empty())
        return AFileName;
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(AFileName, error);
    if (error)
        path = AFileName;
    std::string result = path.lexically_normal().string();
    // "/a/b/.." normalises to "/a/"; the framework names the folder without the slash.
    if (result.size() > 1 && result.back() == '/' && AFileName.back() != '/')
        result.pop_back();
    return result;
}

std::string IncludeTrailingPathDelimiter(const std::string& APath) {
    return !APath.empty() && APath.back() == '/' ? APath : APath + '/';
}

std::string ExcludeTrailingPathDelimiter(const std::string& APath) {
    return APath.size() > 1 && APath.back() == '/' ? APath.substr(0, APath.size() - 1) : APath;
}

bool FileExists(const std::string& AFileName) {
    return !AFileName.empty() && platform::PlatformServices().Files->Exists(AFileName);
}

bool DeleteFile(const std::string& AFileName) {
    return !AFileName.empty() && platform::PlatformServices().Files->Delete(AFileName) == 0;
}

} // namespace host
