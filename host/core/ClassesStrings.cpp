// host/core/ClassesStrings.cpp - word-sort comparison, TStrings and TStringList.
//
// The comparison runs on one 256-entry weight table built at compile time: per byte a primary
// weight (0 for characters that are passed over), the accent and the case. One pass over both
// strings settles the primary level and remembers the first accent and case differences; only
// strings equal so far need the second pass over the passed-over characters.
#include "host/core/ClassesStrings.h"

#include "host/core/ClassesStreams.h"

#include <algorithm>
#include <array>

namespace host {

namespace {

// ---- Word-sort weights ------------------------------------------------------------------

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
int WordSortCompare(std::string_view AS1, std::string_view AS2) {
    if (AS1 == AS2)
        return 0;
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

// Keeps a list in update state for a scope, also when an error leaves it.
class TUpdateScope {
public:
    explicit TUpdateScope(TStrings& AStrings)
        : FStrings(AStrings) {
        FStrings.BeginUpdate();
    }

    ~TUpdateScope() { FStrings.EndUpdate(); }

    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

private:
    TStrings& FStrings;
};

// Calls AAddLine for each line of AText (see TStrings::SetText).
template <typename F>
void SplitLines(const std::string& AText, F AAddLine) {
    const std::size_t nul = AText.find('\0');
    const std::size_t end = nul == std::string::npos ? AText.size() : nul;
    std::size_t pos = 0;
    while (pos < end) {
        const std::size_t start = pos;
        while (pos < end && AText[pos] != '\r' && AText[pos] != '\n')
            ++pos;
        AAddLine(AText.substr(start, pos - start));
        if (pos < end && AText[pos] == '\r')
            ++pos;
        if (pos < end && AText[pos] == '\n')
            ++pos;
    }
}

[[noreturn]] void SortedListError() {
    throw EStringListError("Operation not allowed on sorted string list");
}

} // namespace

int AnsiCompareText(std::string_view AS1, std::string_view AS2) {
    return WordSortCompare<false>(AS1, AS2);
}

int AnsiCompareStr(std::string_view AS1, std::string_view AS2) {
    return WordSortCompare<true>(AS1, AS2);
}

// ---- TStrings -------------------------------------------------------------------------------

void TStrings::IndexError(int AIndex) {
    throw EStringListError("List index out of bounds (" + std::to_string(AIndex) + ")");
}

int TStrings::Add(const std::string& AValue) {
    const int index = Count();
    Insert(index, AValue);
    return index;
}

int TStrings::AddObject(const std::string& AValue, TObject* AObject) {
    const int index = Add(AValue);
    PutObject(index, AObject);
    return index;
}

void TStrings::AddStrings(const TStrings& AStrings) {
    TUpdateScope update(*this);
    const int count = AStrings.Count();
    for (int i = 0; i < count; ++i)
        AddObject(AStrings.Get(i), AStrings.GetObject(i));
}

void TStrings::InsertObject(int AIndex, const std::string& AValue, TObject* AObject) {
    Insert(AIndex, AValue);
    PutObject(AIndex, AObject);
}

void TStrings::Exchange(int AIndex1, int AIndex2) {
    TUpdateScope update(*this);
    const std::string s1 = Get(AIndex1);
    TObject* o1 = GetObject(AIndex1);
    Put(AIndex1, Get(AIndex2));
    PutObject(AIndex1, GetObject(AIndex2));
    Put(AIndex2, s1);
    PutObject(AIndex2, o1);
}

int TStrings::IndexOf(const std::string& AValue) const {
    const int count = Count();
    for (int i = 0; i < count; ++i)
        if (CompareStrings(Get(i), AValue) == 0)
            return i;
    return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const {
    const int count = Count();
    for (int i = 0; i < count; ++i)
        if (GetObject(i) == AObject)
            return i;
    return -1;
}

std::string TStrings::Text() const {
    const int count = Count();
    std::string result;
    for (int i = 0; i < count; ++i) {
        result += Get(i);
        result += "\r\n";
    }
    return result;
}

void TStrings::SetText(const std::string& AText) {
    TUpdateScope update(*this);
    Clear();
    SplitLines(AText, [this](std::string ALine) { Add(ALine); });
}

void TStrings::LoadFromStream(TStream& AStream) {
    // Read to the end rather than trusting Size: pipes and devices have none.
    std::string text;
    const std::int64_t position = AStream.Position();
    const std::int64_t size = AStream.Size();
    if (position >= 0 && size > position)
        text.reserve(static_cast<std::size_t>(size - position));
    char buffer[65536];
    for (;;) {
        const std::int64_t got = AStream.Read(buffer, sizeof(buffer));
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    SetText(text);
}

void TStrings::SaveToStream(TStream& AStream) const {
    const std::string text = Text();
    AStream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& AFileName) {
    TFileStream stream(AFileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TStrings::SaveToFile(const std::string& AFileName) const {
    TFileStream stream(AFileName, fmCreate);
    SaveToStream(stream);
}

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0)
        SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    --FUpdateCount;
    if (FUpdateCount == 0)
        SetUpdateState(false);
}

void TStrings::Assign(TPersistent* ASource) {
    if (auto* source = dynamic_cast<TStrings*>(ASource)) {
        // Clearing first would empty the very list we copy from.
        if (source == this)
            return;
        TUpdateScope update(*this);
        Clear();
        AddStrings(*source);
        return;
    }
    TPersistent::Assign(ASource);
}

void TStrings::Put(int AIndex, const std::string& AValue) {
    TObject* object = GetObject(AIndex);
    Delete(AIndex);
    InsertObject(AIndex, AValue, object);
}

TObject* TStrings::GetObject(int) const {
    return nullptr;
}

void TStrings::PutObject(int, TObject*) {}

void TStrings::SetUpdateState(bool) {}

int TStrings::CompareStrings(const std::string& AS1, const std::string& AS2) const {
    return AnsiCompareText(AS1, AS2);
}

// ---- TStringList::TItemStore ----------------------------------------------------------------

namespace {

constexpr std::size_t kChunkSize = 512;   // chunks are filled to this when built whole
constexpr std::size_t kChunkLimit = 1024; // a chunk that grows beyond this is split

} // namespace

TStringList::TItem& TStringList::TItemStore::At(std::size_t AIndex) {
    const auto chunk = static_cast<std::size_t>(
        std::upper_bound(FEnds.begin(), FEnds.end(), AIndex) - FEnds.begin());
    const std::size_t start = chunk == 0 ? 0 : FEnds[chunk - 1];
    return FChunks[chunk][AIndex - start];
}

void TStringList::TItemStore::Insert(std::size_t AIndex, TItem AItem) {
    if (FChunks.empty()) {
        FChunks.emplace_back().push_back(std::move(AItem));
        FEnds.push_back(1);
        return;
    }
    // An index at the very end goes to the last chunk; otherwise to the chunk holding it.
    std::size_t chunk = FChunks.size() - 1;
    if (AIndex < Size())
        chunk = static_cast<std::size_t>(std::upper_bound(FEnds.begin(), FEnds.end(), AIndex) -
                                         FEnds.begin());
    const std::size_t start = chunk == 0 ? 0 : FEnds[chunk - 1];
    std::vector<TItem>& items = FChunks[chunk];
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(AIndex - start), std::move(AItem));
    for (std::size_t k = chunk; k < FEnds.size(); ++k)
        ++FEnds[k];
    if (items.size() > kChunkLimit) {
        const std::size_t half = items.size() / 2;
        std::vector<TItem> upper(
            std::make_move_iterator(items.begin() + static_cast<std::ptrdiff_t>(half)),
            std::make_move_iterator(items.end()));
        items.resize(half);
        FChunks.insert(FChunks.begin() + static_cast<std::ptrdiff_t>(chunk) + 1, std::move(upper));
        FEnds.insert(FEnds.begin() + static_cast<std::ptrdiff_t>(chunk), start + half);
    }
}

void TStringList::TItemStore::Erase(std::size_t AIndex) {
    const auto chunk = static_cast<std::size_t>(
        std::upper_bound(FEnds.begin(), FEnds.end(), AIndex) - FEnds.begin());
    const std::size_t start = chunk == 0 ? 0 : FEnds[chunk - 1];
    std::vector<TItem>& items = FChunks[chunk];
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(AIndex - start));
    for (std::size_t k = chunk; k < FEnds.size(); ++k)
        --FEnds[k];
    if (items.empty()) {
        FChunks.erase(FChunks.begin() + static_cast<std::ptrdiff_t>(chunk));
        FEnds.erase(FEnds.begin() + static_cast<std::ptrdiff_t>(chunk));
    }
}

void TStringList::TItemStore::Clear() {
    FChunks.clear();
    FEnds.clear();
}

std::vector<TStringList::TItem> TStringList::TItemStore::TakeAll() {
    std::vector<TItem> result;
    result.reserve(Size());
    for (std::vector<TItem>& chunk : FChunks)
        for (TItem& item : chunk)
            result.push_back(std::move(item));
    Clear();
    return result;
}

void TStringList::TItemStore::Assign(std::vector<TItem> AItems) {
    Clear();
    for (std::size_t start = 0; start < AItems.size(); start += kChunkSize) {
        const std::size_t end = std::min(AItems.size(), start + kChunkSize);
        FChunks.emplace_back(
            std::make_move_iterator(AItems.begin() + static_cast<std::ptrdiff_t>(start)),
            std::make_move_iterator(AItems.begin() + static_cast<std::ptrdiff_t>(end)));
        FEnds.push_back(end);
    }
}

// ---- TStringList ----------------------------------------------------------------------------

void TStringList::CheckIndex(int AIndex) const {
    if (AIndex < 0 || AIndex >= Count())
        IndexError(AIndex);
}

const std::string& TStringList::Strings(int AIndex) const {
    CheckIndex(AIndex);
    return FList.At(static_cast<std::size_t>(AIndex)).FString;
}

int TStringList::Add(const std::string& AValue) {
    return AddObject(AValue, nullptr);
}

int TStringList::AddObject(const std::string& AValue, TObject* AObject) {
    int index = Count();
    if (FSorted && Find(AValue, index)) {
        if (FDuplicates == dupIgnore)
            return index;
        if (FDuplicates == dupError)
            throw EStringListError("String list does not allow duplicates");
    }
    InsertItem(index, AValue, AObject);
    return index;
}

void TStringList::Insert(int AIndex, const std::string& AValue) {
    InsertObject(AIndex, AValue, nullptr);
}

void TStringList::InsertObject(int AIndex, const std::string& AValue, TObject* AObject) {
    if (FSorted)
        SortedListError();
    if (AIndex < 0 || AIndex > Count())
        IndexError(AIndex);
    InsertItem(AIndex, AValue, AObject);
}

void TStringList::InsertItem(int AIndex, const std::string& AValue, TObject* AObject) {
    Changing();
    FList.Insert(static_cast<std::size_t>(AIndex), TItem{AValue, AObject});
    Changed();
}

void TStringList::Delete(int AIndex) {
    CheckIndex(AIndex);
    Changing();
    FList.Erase(static_cast<std::size_t>(AIndex));
    Changed();
}

void TStringList::Clear() {
    if (FList.Size() == 0)
        return;
    Changing();
    FList.Clear();
    Changed();
}

void TStringList::Exchange(int AIndex1, int AIndex2) {
    if (FSorted)
        SortedListError();
    CheckIndex(AIndex1);
    CheckIndex(AIndex2);
    Changing();
    std::swap(FList.At(static_cast<std::size_t>(AIndex1)),
              FList.At(static_cast<std::size_t>(AIndex2)));
    Changed();
}

int TStringList::IndexOf(const std::string& AValue) const {
    if (!FSorted)
        return TStrings::IndexOf(AValue);
    int index = 0;
    return Find(AValue, index) ? index : -1;
}

bool TStringList::Find(const std::string& AValue, int& AIndex) const {
    bool found = false;
    int low = 0;
    int high = Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int c = CompareStrings(FList.At(static_cast<std::size_t>(middle)).FString, AValue);
        if (c < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
            if (c == 0) {
                found = true;
                // Only with duplicates accepted is there an earlier equal one to look for.
                if (FDuplicates != dupAccept)
                    low = middle;
            }
        }
    }
    AIndex = low;
    return found;
}

void TStringList::SortItems() {
    std::vector<TItem> items = FList.TakeAll();
    std::sort(items.begin(), items.end(), [this](const TItem& A, const TItem& B) {
        return CompareStrings(A.FString, B.FString) < 0;
    });
    FList.Assign(std::move(items));
}

void TStringList::Sort() {
    if (FSorted || FList.Size() < 2)
        return;
    Changing();
    SortItems();
    Changed();
}

void TStringList::CustomSort(TStringListSortCompare ACompare) {
    if (FSorted || FList.Size() < 2 || ACompare == nullptr)
        return;
    Changing();
    // Sorts a permutation through the caller's index-based comparison, then applies it. A
    // merge sort stays within bounds even when a careless comparison contradicts itself.
    // Indices always refer to the list as it stands, so the comparison sees stable data.
    std::vector<int> order(FList.Size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int A, int B) { return ACompare(this, A, B) < 0; });
    std::vector<TItem> sorted;
    sorted.reserve(FList.Size());
    for (int i : order)
        sorted.push_back(std::move(FList.At(static_cast<std::size_t>(i))));
    FList.Assign(std::move(sorted));
    Changed();
}

void TStringList::SetText(const std::string& AText) {
    // With dupError the error must come at the first duplicate, as line-by-line adding does.
    if (!FSorted || FDuplicates == dupError) {
        TStrings::SetText(AText);
        return;
    }
    TUpdateScope update(*this);
    Clear();
    std::vector<TItem> lines;
    SplitLines(AText, [&lines](std::string ALine) { lines.push_back(TItem{std::move(ALine)}); });
    if (lines.empty())
        return;
    auto less = [this](const TItem& A, const TItem& B) {
        return CompareStrings(A.FString, B.FString) < 0;
    };
    // Adding one by one puts an accepted duplicate before its equals, and keeps the first of
    // equals when ignoring; a stable sort of the reversed or original order gives the same.
    if (FDuplicates == dupAccept)
        std::reverse(lines.begin(), lines.end());
    std::stable_sort(lines.begin(), lines.end(), less);
    if (FDuplicates == dupIgnore) {
        auto last = std::unique(lines.begin(), lines.end(), [this](const TItem& A, const TItem& B) {
            return CompareStrings(A.FString, B.FString) == 0;
        });
        lines.erase(last, lines.end());
    }
    Changing();
    FList.Assign(std::move(lines));
    Changed();
}

void TStringList::SetSorted(bool AValue) {
    if (AValue == FSorted)
        return;
    if (AValue)
        Sort();
    FSorted = AValue;
}

void TStringList::SetCaseSensitive(bool AValue) {
    if (AValue == FCaseSensitive)
        return;
    FCaseSensitive = AValue;
    if (FSorted && FList.Size() > 1) {
        Changing();
        SortItems();
        Changed();
    }
}

void TStringList::Put(int AIndex, const std::string& AValue) {
    if (FSorted)
        SortedListError();
    CheckIndex(AIndex);
    Changing();
    FList.At(static_cast<std::size_t>(AIndex)).FString = AValue;
    Changed();
}

TObject* TStringList::GetObject(int AIndex) const {
    CheckIndex(AIndex);
    return FList.At(static_cast<std::size_t>(AIndex)).FObject;
}

void TStringList::PutObject(int AIndex, TObject* AObject) {
    CheckIndex(AIndex);
    Changing();
    FList.At(static_cast<std::size_t>(AIndex)).FObject = AObject;
    Changed();
}

void TStringList::SetUpdateState(bool AUpdating) {
    if (AUpdating)
        Changing();
    else
        Changed();
}

int TStringList::CompareStrings(const std::string& AS1, const std::string& AS2) const {
    return FCaseSensitive ? AnsiCompareStr(AS1, AS2) : AnsiCompareText(AS1, AS2);
}

void TStringList::Changed() {
    if (UpdateCount() == 0 && FOnChange.Assigned())
        FOnChange(this);
}

void TStringList::Changing() {
    if (UpdateCount() == 0 && FOnChanging.Assigned())
        FOnChanging(this);
}

} // namespace host

namespace host {

const TClassInfo& TStrings::StaticClassInfo() {
    static const TClassInfo info{.Name = "TStrings", .Parent = &TPersistent::StaticClassInfo()};
    return info;
}

const TClassInfo& TStringList::StaticClassInfo() {
    static const TClassInfo info{.Name = "TStringList", .Parent = &TStrings::StaticClassInfo()};
    return info;
}

} // namespace host
