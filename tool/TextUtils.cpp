// tool/TextUtils.cpp - line splitting and the explicit "word sort" table.
//
// glibc's strcoll does not follow the Windows rules the tool's sorted publics list was built
// with, so the order is spelled out in a table of weights: a primary weight per character
// (symbols < digits < letters, letter case folded, accents folded to the base letter), a
// secondary weight for accents, and the ignorable characters last as a tie-break.
#include "tool/TextUtils.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace vellin {

std::vector<std::string> SplitLines(std::string_view AText) {
    std::vector<std::string> lines;
    ForEachLine(AText, [&](std::string_view ALine) {
        lines.emplace_back(ALine);
        return true;
    });
    return lines;
}

void AppendCrLfLines(std::string& AOut, std::string_view AText) {
    AOut.reserve(AOut.size() + AText.size() + 2);
    ForEachLine(AText, [&](std::string_view ALine) {
        AOut.append(ALine).append("\r\n");
        return true;
    });
}

namespace {

enum TCharClass : std::uint8_t { ccIgnorable, ccSymbol, ccDigit, ccLetter };

struct TWeights {
    std::array<TCharClass, 256> Class{};
    std::array<std::uint8_t, 256> Primary{};
    std::array<std::uint8_t, 256> Secondary{};
};

// Code page 1252 letters above 0x7F: the letter they sort with, or 0 for a symbol.
char BaseLetter(unsigned AByte) {
    switch (AByte) {
    case 0x83:
        return 'f';
    case 0x8A:
    case 0x9A:
        return 's';
    case 0x8C:
    case 0x9C:
        return 'o';
    case 0x8E:
    case 0x9E:
        return 'z';
    case 0x9F:
    case 0xFF:
    case 0xDD:
    case 0xFD:
        return 'y';
    case 0xAA:
        return 'a';
    case 0xBA:
        return 'o';
    case 0xC7:
    case 0xE7:
        return 'c';
    case 0xD0:
    case 0xF0:
        return 'd';
    case 0xD1:
    case 0xF1:
        return 'n';
    case 0xDE:
    case 0xFE:
        return 't';
    case 0xDF:
        return 's';
    default:
        break;
    }
    const unsigned folded = AByte >= 0xC0 && AByte <= 0xDE ? AByte + 0x20 : AByte;
    if (folded >= 0xE0 && folded <= 0xE6)
        return 'a';
    if (folded >= 0xE8 && folded <= 0xEB)
        return 'e';
    if (folded >= 0xEC && folded <= 0xEF)
        return 'i';
    if ((folded >= 0xF2 && folded <= 0xF6) || folded == 0xF8)
        return 'o';
    if (folded >= 0xF9 && folded <= 0xFC)
        return 'u';
    return 0;
}

// The accent of a letter above 0x7F, the same for both cases.
std::uint8_t AccentWeight(unsigned AByte) {
    if (AByte >= 0xC0 && AByte <= 0xDE && AByte != 0xD7 && AByte != 0xDF)
        AByte += 0x20;
    else if (AByte == 0x8A || AByte == 0x8C || AByte == 0x8E)
        AByte += 0x10;
    else if (AByte == 0x9F)
        AByte = 0xFF;
    return static_cast<std::uint8_t>(AByte - 0x7F); // 1 .. 0x80, above the plain letters' 0
}

TWeights BuildWeights() {
    TWeights w;
    std::uint8_t next = 1;
    auto symbol = [&](unsigned AByte) {
        w.Class[AByte] = ccSymbol;
        w.Primary[AByte] = next++;
    };
    for (unsigned c = 0; c < 256; ++c)
        w.Class[c] = ccIgnorable;
    // Line breaks and tabs sort before the space; then the ASCII symbols in word-sort order.
    for (unsigned c : {'\t', '\n', '\r'})
        symbol(c);
    for (char c : std::string_view(" !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>"))
        symbol(static_cast<unsigned char>(c));
    for (unsigned c = 0x80; c < 256; ++c)
        if (BaseLetter(c) == 0 && c != 0xAD && c != 0x96 && c != 0x97) // dashes are ignorable
            symbol(c);
    for (unsigned c = '0'; c <= '9'; ++c)
        symbol(c), w.Class[c] = ccDigit;
    for (unsigned c = 'a'; c <= 'z'; ++c) {
        const std::uint8_t weight = next++;
        for (unsigned letter : {c, c - 0x20}) {
            w.Class[letter] = ccLetter;
            w.Primary[letter] = weight;
        }
    }
    for (unsigned c = 0x80; c < 256; ++c) {
        if (const char base = BaseLetter(c); base != 0) {
            w.Class[c] = ccLetter;
            w.Primary[c] = w.Primary[static_cast<unsigned char>(base)];
            w.Secondary[c] = AccentWeight(c);
        }
    }
    return w;
}

const TWeights& Weights() {
    static const TWeights weights = BuildWeights();
    return weights;
}

} // namespace

std::string AnsiSortKey(std::string_view AText) {
    const TWeights& w = Weights();
    std::string key;
    key.reserve(AText.size() * 2 + 2);
    for (char c : AText) {
        const auto byte = static_cast<unsigned char>(c);
        if (w.Class[byte] != ccIgnorable)
            key.push_back(static_cast<char>(w.Primary[byte]));
    }
    key.push_back('\0');
    for (char c : AText) {
        const auto byte = static_cast<unsigned char>(c);
        if (w.Class[byte] != ccIgnorable)
            key.push_back(static_cast<char>(w.Secondary[byte] + 1));
    }
    key.push_back('\0');
    // Ignorable characters: where they stand among the others, and which they are.
    std::uint32_t position = 0;
    for (char c : AText) {
        const auto byte = static_cast<unsigned char>(c);
        if (w.Class[byte] != ccIgnorable) {
            ++position;
            continue;
        }
        for (int shift = 24; shift >= 0; shift -= 8)
            key.push_back(static_cast<char>(position >> shift & 0xFF));
        key.push_back(c);
    }
    return key;
}

// Walks both texts the way their sort keys would be compared, level by level, and stops at the
// first difference, so no key is built: most texts differ in their first few characters.
int AnsiCompareText(std::string_view ALeft, std::string_view ARight) {
    if (ALeft == ARight)
        return 0;
    // A common start weighs the same on every level and shifts the positions of both texts'
    // ignorable characters alike, so the comparison can begin behind it.
    const std::size_t common = static_cast<std::size_t>(
        std::mismatch(ALeft.begin(), ALeft.end(), ARight.begin(), ARight.end()).first -
        ALeft.begin());
    ALeft.remove_prefix(common);
    ARight.remove_prefix(common);
    const TWeights& w = Weights();
    const auto* left = reinterpret_cast<const unsigned char*>(ALeft.data());
    const auto* right = reinterpret_cast<const unsigned char*>(ARight.data());
    const std::size_t leftSize = ALeft.size();
    const std::size_t rightSize = ARight.size();
    // Primary weights of the characters that count; ignorable ones have primary weight 0.
    std::size_t i = 0;
    std::size_t j = 0;
    while (true) {
        while (i < leftSize && w.Primary[left[i]] == 0)
            ++i;
        while (j < rightSize && w.Primary[right[j]] == 0)
            ++j;
        if (i == leftSize || j == rightSize) {
            if (i != leftSize)
                return 1;
            if (j != rightSize)
                return -1;
            break;
        }
        if (w.Primary[left[i]] != w.Primary[right[j]])
            return w.Primary[left[i]] < w.Primary[right[j]] ? -1 : 1;
        ++i, ++j;
    }
    // Accents: both texts have the same number of counting characters here.
    for (i = 0, j = 0;; ++i, ++j) {
        while (i < leftSize && w.Primary[left[i]] == 0)
            ++i;
        while (j < rightSize && w.Primary[right[j]] == 0)
            ++j;
        if (i == leftSize)
            break;
        if (w.Secondary[left[i]] != w.Secondary[right[j]])
            return w.Secondary[left[i]] < w.Secondary[right[j]] ? -1 : 1;
    }
    // Ignorable characters: (position among the counting ones, byte) pairs in order; a text
    // whose pairs are a prefix of the other's sorts first.
    std::uint32_t leftPosition = 0;
    std::uint32_t rightPosition = 0;
    for (i = 0, j = 0;; ++i, ++j) {
        for (; i < leftSize && w.Primary[left[i]] != 0; ++i)
            ++leftPosition;
        for (; j < rightSize && w.Primary[right[j]] != 0; ++j)
            ++rightPosition;
        if (i == leftSize || j == rightSize)
            return i != leftSize ? 1 : j != rightSize ? -1 : 0;
        if (leftPosition != rightPosition)
            return leftPosition < rightPosition ? -1 : 1;
        if (left[i] != right[j])
            return left[i] < right[j] ? -1 : 1;
    }
}

bool SameText(std::string_view ALeft, std::string_view ARight) {
    if (ALeft.size() != ARight.size())
        return false;
    for (std::size_t i = 0; i < ALeft.size(); ++i) {
        char l = ALeft[i];
        char r = ARight[i];
        if (l >= 'A' && l <= 'Z')
            l = static_cast<char>(l + 32);
        if (r >= 'A' && r <= 'Z')
            r = static_cast<char>(r + 32);
        if (l != r)
            return false;
    }
    return true;
}

} // namespace vellin
