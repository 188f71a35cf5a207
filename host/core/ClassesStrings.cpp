// host/core/ClassesStrings.cpp - word-sort comparison, TStrings and TStringList.
//
// The word-sort order itself is the platform's (platform/WordSort), which vellin shares.
#include "host/core/ClassesStrings.h"

#include "host/core/ClassesStreams.h"
#include "platform/WordSort.h"

#include <algorithm>

namespace host {

namespace {

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
    return platform::WordSortCompareText(AS1, AS2);
}

int AnsiCompareStr(std::string_view AS1, std::string_view AS2) {
    return platform::WordSortCompareStr(AS1, AS2);
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

// ---- Stored forms -------------------------------------------------------------------------

std::vector<std::string> TStrings::GetLines() const {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(Count()));
    for (int i = 0; i < Count(); ++i)
        lines.push_back(Get(i));
    return lines;
}

void TStrings::SetLines(const std::vector<std::string>& ALines) {
    BeginUpdate();
    try {
        Clear();
        for (const std::string& line : ALines)
            Add(line);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

} // namespace host
