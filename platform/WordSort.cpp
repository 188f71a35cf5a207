// platform/WordSort.cpp - the word-sort weight table and the comparisons over it.
//
// The comparison runs on one 256-entry weight table built at compile time: per byte a primary
// weight (0 for characters that are passed over), the accent and the case. One pass over both
// texts settles the primary level and remembers the first accent and case differences; only
// texts equal so far need the second pass over the passed-over characters.
#include "platform/WordSort.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace platform {

namespace {

enum TDiacritic : std::uint8_t {
    dcNone,
    dcAcute,
    dcGrave,
    dcCircumflex,
    dcTilde,
    dcDiaeresis,
    dcRing,
    dcCedilla,
    dcStroke,
    dcCaron,
    dcLigature,
    dcHook,
    dcRaised,
};

struct TWeight {
    std::uint16_t Primary = 0;  // 0: passed over; only breaks ties at the end
    std::uint16_t Primary2 = 0; // the second letter of a ligature (Æ = A E), else 0
    std::uint8_t Diacritic = dcNone;
    std::uint8_t Upper = 0;
};

using TWeightTable = std::array<TWeight, 256>;

constexpr std::uint16_t kDigitBase = 0x100;
constexpr std::uint16_t kLetterBase = 0x200;

// Letters weigh by their lower-case base; '{' (the byte after 'z') stands for the thorn, which
// sorts after z.
constexpr std::uint16_t LetterWeight(char ABase) {
    return static_cast<std::uint16_t>(kLetterBase + 2 * (ABase - 'a'));
}

struct TLatinLetter {
    char Base;
    char Base2;
    std::uint8_t Diacritic;
};

// Bytes 0xC0-0xDF (upper case; 0xE0-0xFF are their lower-case forms). Base 0: not a letter.
constexpr TLatinLetter kLatin[32] = {
    {'a', 0, dcGrave},      {'a', 0, dcAcute}, {'a', 0, dcCircumflex}, {'a', 0, dcTilde},
    {'a', 0, dcDiaeresis},  {'a', 0, dcRing},  {'a', 'e', dcLigature}, {'c', 0, dcCedilla},
    {'e', 0, dcGrave},      {'e', 0, dcAcute}, {'e', 0, dcCircumflex}, {'e', 0, dcDiaeresis},
    {'i', 0, dcGrave},      {'i', 0, dcAcute}, {'i', 0, dcCircumflex}, {'i', 0, dcDiaeresis},
    {'d', 0, dcStroke},     {'n', 0, dcTilde}, {'o', 0, dcGrave},      {'o', 0, dcAcute},
    {'o', 0, dcCircumflex}, {'o', 0, dcTilde}, {'o', 0, dcDiaeresis},  {0, 0, dcNone},
    {'o', 0, dcStroke},     {'u', 0, dcGrave}, {'u', 0, dcAcute},      {'u', 0, dcCircumflex},
    {'u', 0, dcDiaeresis},  {'y', 0, dcAcute}, {'{', 0, dcNone},       {'s', 's', dcLigature},
};

constexpr void SetLetter(TWeightTable& ATable, unsigned AByte, char ABase, char ABase2,
                         std::uint8_t ADiacritic, bool AUpper) {
    TWeight& w = ATable[AByte];
    w.Primary = LetterWeight(ABase);
    w.Primary2 = ABase2 != 0 ? LetterWeight(ABase2) : 0;
    w.Diacritic = ADiacritic;
    w.Upper = AUpper ? 1 : 0;
}

constexpr TWeightTable BuildWeights() {
    TWeightTable t{};
    // Letters and digits first, so that what is left over is punctuation.
    for (char c = 'a'; c <= 'z'; ++c) {
        SetLetter(t, static_cast<unsigned char>(c), c, 0, dcNone, false);
        SetLetter(t, static_cast<unsigned char>(c - 'a' + 'A'), c, 0, dcNone, true);
    }
    for (unsigned i = 0; i < 32; ++i) {
        const TLatinLetter& l = kLatin[i];
        if (l.Base == 0)
            continue;
        if (i != 0x1F) // sharp s has no upper-case form of its own
            SetLetter(t, 0xC0 + i, l.Base, l.Base2, l.Diacritic, true);
        SetLetter(t, 0xE0 + i, l.Base, l.Base2, l.Diacritic, false);
    }
    SetLetter(t, 0xDF, 's', 's', dcLigature, false);
    SetLetter(t, 0xFF, 'y', 0, dcDiaeresis, false);
    // The Windows-1252 additions in 0x80-0xBF.
    SetLetter(t, 0x83, 'f', 0, dcHook, false);
    SetLetter(t, 0x8A, 's', 0, dcCaron, true);
    SetLetter(t, 0x9A, 's', 0, dcCaron, false);
    SetLetter(t, 0x8C, 'o', 'e', dcLigature, true);
    SetLetter(t, 0x9C, 'o', 'e', dcLigature, false);
    SetLetter(t, 0x8E, 'z', 0, dcCaron, true);
    SetLetter(t, 0x9E, 'z', 0, dcCaron, false);
    SetLetter(t, 0x9F, 'y', 0, dcDiaeresis, true);
    SetLetter(t, 0xAA, 'a', 0, dcRaised, false);
    SetLetter(t, 0xBA, 'o', 0, dcRaised, false);
    for (unsigned d = 0; d < 10; ++d)
        t['0' + d].Primary = static_cast<std::uint16_t>(kDigitBase + d);
    auto raisedDigit = [&t](unsigned AByte, unsigned ADigit) {
        t[AByte].Primary = static_cast<std::uint16_t>(kDigitBase + ADigit);
        t[AByte].Diacritic = dcRaised;
    };
    raisedDigit(0xB9, 1);
    raisedDigit(0xB2, 2);
    raisedDigit(0xB3, 3);

    // Line breaks and tab come before every other symbol; the rest of the control characters,
    // the hyphen, the apostrophe and the soft hyphen stay at 0 (passed over).
    std::uint16_t next = 1;
    t['\t'].Primary = next++;
    t['\n'].Primary = next++;
    t['\r'].Primary = next++;
    next = 16;
    for (const char c : std::string_view(" !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>"))
        t[static_cast<unsigned char>(c)].Primary = next++;
    for (unsigned b = 0x80; b <= 0xFF; ++b)
        if (t[b].Primary == 0 && b != 0xAD)
            t[b].Primary = next++;
    return t;
}

constexpr TWeightTable kWeights = BuildWeights();

static_assert(kWeights['-'].Primary == 0 && kWeights['\''].Primary == 0);
static_assert(kWeights[' '].Primary < kWeights['_'].Primary);
static_assert(kWeights['>'].Primary < kWeights['0'].Primary);
static_assert(kWeights[0xE9].Primary == kWeights['e'].Primary); // é sorts with e

// Walks the counted (primary) elements of a string; a ligature yields two.
class TElementCursor {
public:
    explicit TElementCursor(std::string_view AText)
        : FPos(reinterpret_cast<const unsigned char*>(AText.data()))
        , FEnd(FPos + AText.size()) {}

    bool Next(const TWeight*& AWeight, std::uint16_t& APrimary) {
        if (FPending != nullptr) {
            AWeight = FPending;
            APrimary = FPending->Primary2;
            FPending = nullptr;
            return true;
        }
        while (FPos != FEnd) {
            const TWeight& w = kWeights[*FPos++];
            if (w.Primary != 0) {
                AWeight = &w;
                APrimary = w.Primary;
                if (w.Primary2 != 0)
                    FPending = &w;
                return true;
            }
        }
        return false;
    }

private:
    const unsigned char* FPos;
    const unsigned char* FEnd;
    const TWeight* FPending = nullptr;
};

// Walks the passed-over characters with the number of counted elements before each.
class TIgnoredCursor {
public:
    explicit TIgnoredCursor(std::string_view AText)
        : FPos(reinterpret_cast<const unsigned char*>(AText.data()))
        , FEnd(FPos + AText.size()) {}

    bool Next(std::size_t& APlace, unsigned char& AByte) {
        while (FPos != FEnd) {
            const unsigned char b = *FPos++;
            const TWeight& w = kWeights[b];
            if (w.Primary == 0) {
                APlace = FCounted;
                AByte = b;
                return true;
            }
            FCounted += w.Primary2 != 0 ? 2 : 1;
        }
        return false;
    }

private:
    const unsigned char* FPos;
    const unsigned char* FEnd;
    std::size_t FCounted = 0;
};

int Sign(int AValue) {
    return (AValue > 0) - (AValue < 0);
}

template <bool ACaseMatters>
int Compare(std::string_view AS1, std::string_view AS2) {
    // A common start weighs the same on every level and shifts the places of both texts'
    // passed-over characters alike, so the comparison begins behind it.
    const auto common = static_cast<std::size_t>(
        std::mismatch(AS1.begin(), AS1.end(), AS2.begin(), AS2.end()).first - AS1.begin());
    if (common == AS1.size() && common == AS2.size())
        return 0;
    AS1.remove_prefix(common);
    AS2.remove_prefix(common);
    TElementCursor c1(AS1), c2(AS2);
    int accent = 0;
    int letterCase = 0;
    for (;;) {
        const TWeight* w1 = nullptr;
        const TWeight* w2 = nullptr;
        std::uint16_t p1 = 0, p2 = 0;
        const bool has1 = c1.Next(w1, p1);
        const bool has2 = c2.Next(w2, p2);
        if (!has1 || !has2) {
            if (has1 != has2)
                return has1 ? 1 : -1;
            break;
        }
        if (p1 != p2)
            return p1 < p2 ? -1 : 1;
        if (accent == 0)
            accent = Sign(int{w1->Diacritic} - int{w2->Diacritic});
        if (ACaseMatters && letterCase == 0)
            letterCase = Sign(int{w1->Upper} - int{w2->Upper});
    }
    if (accent != 0)
        return accent;
    if (letterCase != 0)
        return letterCase;
    // Equal but for passed-over characters: fewer of them first, else by where and which.
    TIgnoredCursor i1(AS1), i2(AS2);
    for (;;) {
        std::size_t place1 = 0, place2 = 0;
        unsigned char b1 = 0, b2 = 0;
        const bool has1 = i1.Next(place1, b1);
        const bool has2 = i2.Next(place2, b2);
        if (!has1 || !has2)
            return has1 == has2 ? 0 : (has1 ? 1 : -1);
        if (place1 != place2)
            return place1 < place2 ? -1 : 1;
        if (b1 != b2)
            return b1 < b2 ? -1 : 1;
    }
}

} // namespace

int WordSortCompareText(std::string_view AS1, std::string_view AS2) {
    return Compare<false>(AS1, AS2);
}

int WordSortCompareStr(std::string_view AS1, std::string_view AS2) {
    return Compare<true>(AS1, AS2);
}

// Three levels, each closed by a 0 that sorts below everything on it: the primary weights (two
// bytes an element, the first never 0), the accents (one byte an element, never 0), then the
// passed-over characters as (place among the counted elements, byte) records.
std::string WordSortKey(std::string_view AText) {
    std::string key;
    key.reserve(AText.size() * 3 + 2);
    TElementCursor elements(AText);
    const TWeight* w = nullptr;
    std::uint16_t primary = 0;
    while (elements.Next(w, primary)) {
        key.push_back(static_cast<char>((primary >> 8) + 1));
        key.push_back(static_cast<char>(primary & 0xFF));
    }
    key.push_back('\0');
    TElementCursor accents(AText);
    while (accents.Next(w, primary))
        key.push_back(static_cast<char>(w->Diacritic + 1));
    key.push_back('\0');
    TIgnoredCursor ignored(AText);
    std::size_t place = 0;
    unsigned char byte = 0;
    while (ignored.Next(place, byte)) {
        for (int shift = 24; shift >= 0; shift -= 8)
            key.push_back(static_cast<char>((place >> shift) & 0xFF));
        key.push_back(static_cast<char>(byte));
    }
    return key;
}

} // namespace platform
