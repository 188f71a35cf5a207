// mapfile/MapFormat.cpp - writers of the map file's line layouts and the reader's field cutting.
#include "mapfile/MapFormat.h"

#include <charconv>
#include <cstring>
#include <iterator>

namespace jex::mapformat {

void AppendHexOffset(std::string& AOut, std::uint32_t AOffset) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    char buffer[HexFieldWidth];
    for (std::size_t i = HexFieldWidth; i-- > 0; AOffset >>= 4)
        buffer[i] = Digits[AOffset & 0xF];
    AOut.append(buffer, HexFieldWidth);
}

std::string HexOffset(std::uint32_t AOffset) {
    std::string text;
    AppendHexOffset(text, AOffset);
    return text;
}

void AppendPublicLine(std::string& AOut, std::uint32_t AOffset, std::string_view AName) {
    AOut.append(AddressPrefix);
    AppendHexOffset(AOut, AOffset);
    AOut.append(PublicNameGap).append(AName);
}

std::string FormatPublicLine(std::uint32_t AOffset, std::string_view AName) {
    std::string line;
    line.reserve(AddressPrefix.size() + HexFieldWidth + PublicNameGap.size() + AName.size());
    AppendPublicLine(line, AOffset, AName);
    return line;
}

namespace {

void AppendPaddedLineNumber(std::string& AOut, long long ALine) {
    char digits[24];
    const auto [end, error] = std::to_chars(std::begin(digits), std::end(digits), ALine);
    const auto length = static_cast<std::size_t>(end - digits);
    if (length < LineNumberWidth)
        AOut.append(LineNumberWidth - length, ' ');
    AOut.append(digits, length);
}

} // namespace

void AppendLineEntry(std::string& AOut, long long ALine, std::uint32_t AOffset) {
    AppendPaddedLineNumber(AOut, ALine);
    AOut.append(AddressPrefix);
    AppendHexOffset(AOut, AOffset);
}

std::string PadLineNumber(long long ALine) {
    std::string text;
    AppendPaddedLineNumber(text, ALine);
    return text;
}

std::string FormatLineEntry(long long ALine, std::uint32_t AOffset) {
    std::string entry;
    AppendLineEntry(entry, ALine, AOffset);
    return entry;
}

std::string FormatLineSectionHeader(std::string_view AUnit, std::string_view AFile) {
    std::string header("Line numbers for ");
    header.append(AUnit).append("(").append(AFile).append(") segment .text");
    return header;
}

// ---- Reading --------------------------------------------------------------------------------

namespace {

constexpr std::string_view PublicsTitleStem = "Publics by ";

// "Address" and at least one space end right before APos.
bool PrecededByHeaderWord(std::string_view AText, std::size_t APos) {
    std::size_t start = APos;
    while (start > 0 && AText[start - 1] == ' ')
        --start;
    if (start == APos || start < PublicsHeaderWord.size())
        return false;
    return AText.substr(start - PublicsHeaderWord.size(), PublicsHeaderWord.size()) ==
           PublicsHeaderWord;
}

int HexDigitValue(char AChar) {
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    return -1;
}

bool IsBlank(char AChar) {
    return static_cast<unsigned char>(AChar) <= ' ';
}

} // namespace

std::size_t FindPublicsHeader(std::string_view AText, std::size_t AFrom, TPublicsHeaders AWhich) {
    std::size_t pos = AFrom;
    while ((pos = AText.find(PublicsTitleStem, pos)) != std::string_view::npos) {
        const std::string_view rest = AText.substr(pos + PublicsTitleStem.size());
        const bool titled = ((AWhich & phByName) != 0 && rest.starts_with("Name")) ||
                            ((AWhich & phByValue) != 0 && rest.starts_with("Value"));
        if (titled && PrecededByHeaderWord(AText, pos))
            return pos;
        ++pos;
    }
    return std::string_view::npos;
}

bool ContainsSegmentsMarker(std::string_view ALine) {
    return ALine.find(SegmentsMarker) != std::string_view::npos;
}

bool ContainsPublicsByNameHeader(std::string_view ALine) {
    return FindPublicsHeader(ALine, 0, phByName) != std::string_view::npos;
}

bool ContainsPublicsByValueHeader(std::string_view ALine) {
    return FindPublicsHeader(ALine, 0, phByValue) != std::string_view::npos;
}

bool ContainsLineNumbersMarker(std::string_view ALine) {
    return ALine.find(LineNumbersMarker) != std::string_view::npos;
}

bool ReadHexField(std::string_view ALine, std::size_t AColumn, std::uint32_t& AValue) {
    if (AColumn >= ALine.size())
        return false;
    const std::string_view field = ALine.substr(AColumn, HexFieldWidth);
    std::uint32_t value = 0;
    for (char c : field) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    AValue = value;
    return true;
}

bool ReadLineNumber(std::string_view AField, std::int32_t& AValue) {
    const std::string_view digits = TrimText(AField);
    if (digits.empty())
        return false;
    std::int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX)
            return false;
    }
    AValue = static_cast<std::int32_t>(value);
    return true;
}

std::string_view TrimText(std::string_view AText) {
    std::size_t first = 0;
    std::size_t last = AText.size();
    while (first < last && IsBlank(AText[first]))
        ++first;
    while (last > first && IsBlank(AText[last - 1]))
        --last;
    return AText.substr(first, last - first);
}

bool HasModuleName(std::string_view ALine) {
    return ALine.find(ModuleNameTag) != std::string_view::npos &&
           ALine.find(AcbpTag) != std::string_view::npos;
}

std::string_view ModuleName(std::string_view ALine) {
    const std::size_t tag = ALine.find(ModuleNameTag);
    const std::size_t acbp = ALine.find(AcbpTag);
    if (tag == std::string_view::npos || acbp == std::string_view::npos)
        return {};
    const std::size_t start = tag + ModuleNameTag.size();
    // The character right before "ACBP=" separates the name from it and is not part of it.
    if (acbp < start + 1)
        return {};
    return TrimText(ALine.substr(start, acbp - 1 - start));
}

bool InCodeSegment(std::string_view ALine) {
    return ALine.size() >= SegmentNumberColumn + SegmentNumberWidth &&
           ALine.substr(SegmentNumberColumn, SegmentNumberWidth) == CodeSegment;
}

std::string_view PublicName(std::string_view ALine) {
    if (ALine.size() <= PublicNameReadColumn)
        return {};
    return TrimText(ALine.substr(PublicNameReadColumn));
}

std::size_t LineStart(std::string_view AText, std::size_t APos) {
    std::size_t start = APos < AText.size() ? APos : AText.size();
    while (start > 0 && AText[start - 1] != '\r' && AText[start - 1] != '\n')
        --start;
    return start;
}

TLineCursor::TLineCursor(std::string_view AText, std::size_t APosition)
    : FText(AText)
    , FPosition(0)
    , FNextLineFeed(0) {
    Seek(APosition);
}

void TLineCursor::Seek(std::size_t APosition) {
    FPosition = APosition < FText.size() ? APosition : FText.size();
    const void* lf = std::memchr(FText.data() + FPosition, '\n', FText.size() - FPosition);
    FNextLineFeed = lf != nullptr
                        ? static_cast<std::size_t>(static_cast<const char*>(lf) - FText.data())
                        : FText.size();
}

bool TLineCursor::Next(std::string_view& ALine) {
    const std::size_t size = FText.size();
    if (FPosition >= size)
        return false;
    if (FNextLineFeed < FPosition) {
        const void* lf = std::memchr(FText.data() + FPosition, '\n', size - FPosition);
        FNextLineFeed = lf != nullptr
                            ? static_cast<std::size_t>(static_cast<const char*>(lf) - FText.data())
                            : size;
    }
    std::size_t end = FNextLineFeed;
    const void* cr = std::memchr(FText.data() + FPosition, '\r', end - FPosition);
    if (cr != nullptr)
        end = static_cast<std::size_t>(static_cast<const char*>(cr) - FText.data());
    ALine = FText.substr(FPosition, end - FPosition);
    if (end >= size)
        FPosition = size;
    else if (FText[end] == '\r' && end + 1 < size && FText[end + 1] == '\n')
        FPosition = end + 2;
    else
        FPosition = end + 1;
    return true;
}

void TLineCursor::Skip(std::size_t ACount) {
    std::string_view line;
    for (std::size_t i = 0; i < ACount && Next(line); ++i) {
    }
}

} // namespace jex::mapformat
