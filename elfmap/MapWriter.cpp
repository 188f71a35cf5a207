// elfmap/MapWriter.cpp - unit naming, section order and the text of the map.
#include "elfmap/MapWriter.h"

#include "mapfile/MapFormat.h"

#include <algorithm>
#include <cstring>
#include <queue>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace elfmap {

namespace mf = jex::mapformat;

namespace {

constexpr std::string_view Eol = "\r\n";
constexpr std::string_view HeaderFront = "Line numbers for ";
constexpr std::string_view HeaderBack = ") segment .text";
/// Every character a row of line entries can hold.
constexpr std::string_view RowCharacters = " 0123456789ABCDEF:";
/// Name of the closing public at the end of the code section.
constexpr std::string_view EndOfCodeName = "(end of code)";

std::string_view BaseName(std::string_view APath) {
    const std::size_t slash = APath.find_last_of('/');
    return slash == std::string_view::npos ? APath : APath.substr(slash + 1);
}

/// Control characters and "=" (which would break "M=" ... "ACBP=") become "_"; surrounding
/// spaces go, since the reader trims them.
std::string Clean(std::string_view AText) {
    std::string text;
    for (char c : AText) {
        const auto u = static_cast<unsigned char>(c);
        text.push_back(u < 0x20 || u == 0x7F || c == '=' ? '_' : c);
    }
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Header(const TMapUnit& AUnit) {
    return mf::FormatLineSectionHeader(AUnit.Name, AUnit.FileName);
}

bool OnlyRowCharacters(std::string_view AName) {
    return AName.find_first_not_of(RowCharacters) == std::string_view::npos;
}

bool InFixedText(std::string_view AName) {
    return HeaderFront.find(AName) != std::string_view::npos ||
           HeaderBack.find(AName) != std::string_view::npos;
}

/// The first name the unit would like: its file's stem, kept away from the header's fixed text
/// and from what a row of entries can contain.
TMapUnit InitialName(const TCompileUnit& AUnit, std::size_t AIndex) {
    TMapUnit unit;
    unit.Index = AIndex;
    std::string base = Clean(BaseName(AUnit.SourcePath));
    if (base.empty())
        base = "unit";
    unit.FileName = base;
    const std::size_t dot = base.find_last_of('.');
    std::string stem = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
    stem = Clean(stem);
    if (stem.empty() || OnlyRowCharacters(stem) || InFixedText(stem)) {
        const std::string extension =
            dot == std::string::npos || dot + 1 >= base.size() ? "unit" : base.substr(dot + 1);
        stem += "_" + extension;
    }
    unit.Name = stem;
    return unit;
}

/// Gives every unit a distinct name: later holders of a taken name get "_2", "_3", ...
void MakeUnique(std::vector<TMapUnit>& AUnits) {
    std::unordered_set<std::string> taken;
    for (const TMapUnit& unit : AUnits)
        taken.insert(unit.Name);
    std::unordered_set<std::string> used;
    for (TMapUnit& unit : AUnits) {
        if (used.insert(unit.Name).second)
            continue;
        for (int n = 2;; ++n) {
            std::string candidate = unit.Name + "_" + std::to_string(n);
            if (!taken.contains(candidate) && !used.contains(candidate)) {
                unit.Name = candidate;
                break;
            }
        }
        used.insert(unit.Name);
        taken.insert(unit.Name);
    }
}

/// For every unit, the units whose section header contains its name (its section must come
/// before theirs). Found by looking up every substring of each header among the names.
std::vector<std::vector<std::size_t>> MustPrecede(const std::vector<TMapUnit>& AUnits) {
    std::unordered_map<std::string_view, std::size_t> byName;
    std::vector<std::size_t> lengths; // every length a name has, ascending
    for (std::size_t i = 0; i < AUnits.size(); ++i) {
        byName.emplace(AUnits[i].Name, i);
        lengths.push_back(AUnits[i].Name.size());
    }
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    std::vector<std::vector<std::size_t>> later(AUnits.size());
    std::vector<std::size_t> seenFor(AUnits.size(), AUnits.size());
    for (std::size_t v = 0; v < AUnits.size(); ++v) {
        const std::string header = Header(AUnits[v]);
        const std::string_view view(header);
        for (std::size_t from = 0; from < view.size(); ++from)
            for (std::size_t length : lengths) {
                if (from + length > view.size())
                    break;
                auto hit = byName.find(view.substr(from, length));
                if (hit != byName.end() && hit->second != v && seenFor[hit->second] != v) {
                    seenFor[hit->second] = v;
                    later[hit->second].push_back(v);
                }
            }
    }
    return later;
}

/// Orders the units so that each comes before every unit whose header contains its name,
/// otherwise by where their code starts. Returns an empty order when names form a cycle and
/// then sets AStuck to a unit on it.
std::vector<std::size_t> OrderSections(const TElfImage& AImage, const std::vector<TMapUnit>& AUnits,
                                       std::size_t& AStuck) {
    const auto later = MustPrecede(AUnits);
    std::vector<std::size_t> pending(AUnits.size(), 0);
    for (const auto& successors : later)
        for (std::size_t v : successors)
            ++pending[v];
    using TKey = std::pair<std::uint32_t, std::size_t>;
    std::priority_queue<TKey, std::vector<TKey>, std::greater<>> ready;
    auto key = [&](std::size_t i) {
        return TKey{AImage.Units[AUnits[i].Index].Lines.front().Offset, i};
    };
    for (std::size_t i = 0; i < AUnits.size(); ++i)
        if (pending[i] == 0)
            ready.push(key(i));
    std::vector<std::size_t> order;
    while (!ready.empty()) {
        const std::size_t u = ready.top().second;
        ready.pop();
        order.push_back(u);
        for (std::size_t v : later[u])
            if (--pending[v] == 0)
                ready.push(key(v));
    }
    if (order.size() == AUnits.size())
        return order;
    for (std::size_t i = 0; i < AUnits.size(); ++i)
        if (pending[i] != 0) {
            AStuck = i;
            break;
        }
    return {};
}

std::string SegmentLine(std::uint32_t ABegin, std::uint32_t ALength, std::string_view AName) {
    std::string line(mf::AddressPrefix);
    line.append(mf::HexOffset(ABegin)).append(" ").append(mf::HexOffset(ALength));
    line.append(" C=CODE     S=.text    G=(none)   ").append(mf::ModuleNameTag).append(AName);
    if (AName.size() < 8)
        line.append(8 - AName.size(), ' ');
    line.append(" ").append(mf::AcbpTag).append("A9");
    return line;
}

/// Which of several symbols at one address names it: global before weak before local, a name
/// without leading underscore before one with, then the shorter, then the alphabetically last.
bool Preferred(const TFunctionSymbol& A, const TFunctionSymbol& B) {
    if (A.Rank != B.Rank)
        return A.Rank < B.Rank;
    const bool aHidden = !A.Name.empty() && A.Name[0] == '_';
    const bool bHidden = !B.Name.empty() && B.Name[0] == '_';
    if (aHidden != bHidden)
        return !aHidden;
    if (A.Name.size() != B.Name.size())
        return A.Name.size() < B.Name.size();
    // Names the demangler could not read stay mangled; of the constructor and destructor
    // variants at one address (C1/C2, D1/D2) the debug information names the later one.
    return A.Name > B.Name;
}

using TSymbolIterator = std::vector<const TFunctionSymbol*>::iterator;

/// Name, then offset: the order of the publics by name.
bool NameBefore(const TFunctionSymbol* A, const TFunctionSymbol* B) {
    const int order = A->Name.compare(B->Name);
    return order != 0 ? order < 0 : A->Offset < B->Offset;
}

/// The character at ADepth of the symbol's name as 0..255, or -1 past its end.
int CharAt(const TFunctionSymbol* ASymbol, std::size_t ADepth) {
    return ADepth < ASymbol->Name.size() ? static_cast<unsigned char>(ASymbol->Name[ADepth]) : -1;
}

/// Sorts [AFirst, ALast), whose names agree in their first ADepth characters, by NameBefore.
/// A three-way radix quicksort: it looks at one character position at a time, so the long
/// prefixes C++ names share ("testing::internal::...") are walked once instead of at every
/// comparison. ABudget bounds the recursion: past it (only contrived names get there) std::sort
/// takes over.
void SortByName(TSymbolIterator AFirst, TSymbolIterator ALast, std::size_t ADepth, int ABudget) {
    if (ABudget == 0) {
        std::sort(AFirst, ALast, NameBefore);
        return;
    }
    while (ALast - AFirst > 12) {
        const std::ptrdiff_t count = ALast - AFirst;
        const int a = CharAt(AFirst[0], ADepth);
        const int b = CharAt(AFirst[count / 2], ADepth);
        const int c = CharAt(AFirst[count - 1], ADepth);
        const int pivot = std::max(std::min(a, b), std::min(std::max(a, b), c));
        // [AFirst, less) < pivot, [less, more) == pivot, [more, ALast) > pivot.
        TSymbolIterator less = AFirst;
        TSymbolIterator more = ALast;
        for (TSymbolIterator at = AFirst; at < more;) {
            const int ch = CharAt(*at, ADepth);
            if (ch < pivot)
                std::iter_swap(less++, at++);
            else if (ch > pivot)
                std::iter_swap(at, --more);
            else
                ++at;
        }
        SortByName(AFirst, less, ADepth, ABudget - 1);
        SortByName(more, ALast, ADepth, ABudget - 1);
        if (pivot < 0) {
            // The same name throughout: only the offsets differ.
            std::sort(less, more, [](const TFunctionSymbol* A, const TFunctionSymbol* B) {
                return A->Offset < B->Offset;
            });
            return;
        }
        AFirst = less;
        ALast = more;
        ++ADepth;
    }
    std::sort(AFirst, ALast, NameBefore);
}

/// Sorts AItems with ASort(first, last), the two halves of a long list side by side on two
/// threads, then merges them by ALess: sorting tens of thousands of long C++ names is a good
/// part of a large map's writing.
template <typename TItem, typename TSort, typename TLess>
void SortOnTwoThreads(std::vector<TItem>& AItems, TSort ASort, TLess ALess) {
    if (AItems.size() < 16384 || std::thread::hardware_concurrency() < 2) {
        ASort(AItems.begin(), AItems.end());
        return;
    }
    const auto middle = AItems.begin() + static_cast<std::ptrdiff_t>(AItems.size() / 2);
    {
        std::jthread firstHalf([&] { ASort(AItems.begin(), middle); });
        ASort(middle, AItems.end());
    }
    std::inplace_merge(AItems.begin(), middle, AItems.end(), ALess);
}

} // namespace

std::vector<TMapUnit> PlanUnits(const TElfImage& AImage) {
    std::vector<TMapUnit> units;
    for (std::size_t i = 0; i < AImage.Units.size(); ++i)
        if (!AImage.Units[i].Lines.empty())
            units.push_back(InitialName(AImage.Units[i], i));
    MakeUnique(units);
    // A cycle (two names each inside the other's header) is broken by renaming one of them;
    // each round lengthens a name, so it ends.
    for (std::size_t round = 0; round <= units.size(); ++round) {
        std::size_t stuck = 0;
        const std::vector<std::size_t> order = OrderSections(AImage, units, stuck);
        if (!order.empty() || units.empty()) {
            std::vector<TMapUnit> ordered;
            ordered.reserve(units.size());
            for (std::size_t i : order)
                ordered.push_back(units[i]);
            return ordered;
        }
        units[stuck].Name += "_";
        MakeUnique(units);
    }
    return units;
}

namespace {

/// Collects lines and hands them on in pieces, so that no line needs a string of its own.
class TPieceBuffer {
public:
    explicit TPieceBuffer(TMapOutput& AOutput)
        : FOutput(AOutput) {
        FText.reserve(PieceSize + 4096);
    }

    ~TPieceBuffer() = default;

    TPieceBuffer(const TPieceBuffer&) = delete;
    TPieceBuffer& operator=(const TPieceBuffer&) = delete;

    /// The text of the line being written; EndLine closes it.
    std::string& Text() { return FText; }

    void Line(std::string_view AText) {
        FText.append(AText);
        EndLine();
    }

    void EndLine() {
        FText.append(Eol);
        if (FText.size() >= PieceSize)
            Flush();
    }

    void Flush() {
        if (!FText.empty())
            FOutput.Put(FText);
        FText.clear();
    }

private:
    static constexpr std::size_t PieceSize = 256 * 1024;

    TMapOutput& FOutput;
    std::string FText;
};

class TStringOutput : public TMapOutput {
public:
    void Put(std::string_view AText) override { Text.append(AText); }

    std::string Text;
};

} // namespace

void FormatMap(const TElfImage& AImage, TMapOutput& AOutput) {
    const std::vector<TMapUnit> units = PlanUnits(AImage);
    TPieceBuffer out(AOutput);

    out.Line("");
    out.Line(" Start         Length     Name                   Class");
    out.Line(std::string(mf::AddressPrefix) + "00000000 " +
             mf::HexOffset(static_cast<std::uint32_t>(AImage.TextSize)) +
             "H .text                   CODE");
    out.Line("");
    out.Line("");
    out.Line(mf::SegmentsMarker);
    out.Line("");

    struct TSegment {
        TCodeRange Range;
        std::size_t Unit;
    };

    std::vector<TSegment> segments;
    for (std::size_t u = 0; u < units.size(); ++u)
        for (const TCodeRange& range : AImage.Units[units[u].Index].Ranges)
            segments.push_back({range, u});
    std::sort(segments.begin(), segments.end(),
              [](const TSegment& a, const TSegment& b) { return a.Range.Begin < b.Range.Begin; });
    // Neighbouring ranges of one unit become one segment line.
    std::vector<TSegment> merged;
    for (const TSegment& segment : segments) {
        if (!merged.empty() && merged.back().Unit == segment.Unit)
            merged.back().Range.End = std::max(merged.back().Range.End, segment.Range.End);
        else
            merged.push_back(segment);
    }
    for (const TSegment& segment : merged)
        out.Line(SegmentLine(segment.Range.Begin, segment.Range.End - segment.Range.Begin,
                             units[segment.Unit].Name));
    out.Line("");

    // Sorted views of the symbols; the names themselves are long and are never copied.
    std::vector<const TFunctionSymbol*> byName;
    byName.reserve(AImage.Functions.size());
    for (const TFunctionSymbol& symbol : AImage.Functions)
        byName.push_back(&symbol);
    SortOnTwoThreads(
        byName,
        [](TSymbolIterator AFirst, TSymbolIterator ALast) { SortByName(AFirst, ALast, 0, 256); },
        NameBefore);
    byName.erase(std::unique(byName.begin(), byName.end(),
                             [](const TFunctionSymbol* a, const TFunctionSymbol* b) {
                                 return a->Offset == b->Offset && a->Name == b->Name;
                             }),
                 byName.end());
    out.Line(mf::PublicsByNameLine);
    out.Line("");
    for (const TFunctionSymbol* symbol : byName) {
        mf::AppendPublicLine(out.Text(), symbol->Offset, symbol->Name);
        out.EndLine();
    }
    out.Line("");

    // One name per address: the reader takes the first line at an exact address but the last
    // one before a higher address, so two names at one address would answer differently.
    std::vector<const TFunctionSymbol*> byValue = std::move(byName);
    const auto valueBefore = [](const TFunctionSymbol* a, const TFunctionSymbol* b) {
        return a->Offset != b->Offset ? a->Offset < b->Offset : Preferred(*a, *b);
    };
    SortOnTwoThreads(
        byValue,
        [&](TSymbolIterator AFirst, TSymbolIterator ALast) {
            std::sort(AFirst, ALast, valueBefore);
        },
        valueBefore);
    byValue.erase(std::unique(byValue.begin(), byValue.end(),
                              [](const TFunctionSymbol* a, const TFunctionSymbol* b) {
                                  return a->Offset == b->Offset;
                              }),
                  byValue.end());
    out.Line(mf::PublicsByValueLine);
    out.Line("");
    for (const TFunctionSymbol* symbol : byValue) {
        mf::AppendPublicLine(out.Text(), symbol->Offset, symbol->Name);
        out.EndLine();
    }
    // The reader names no procedure above the last public, which would leave the last function
    // of the code nameless: a closing public at the end of the code section lets it reach its
    // function like every other.
    if (!byValue.empty() && byValue.back()->Offset < AImage.TextSize)
        out.Line(mf::FormatPublicLine(static_cast<std::uint32_t>(AImage.TextSize), EndOfCodeName));
    out.Line("");
    out.Line("");

    for (const TMapUnit& unit : units) {
        out.Line(mf::FormatLineSectionHeader(unit.Name, unit.FileName));
        out.Line("");
        const std::vector<TLineEntry>& entries = AImage.Units[unit.Index].Lines;
        for (std::size_t i = 0; i < entries.size(); i += mf::LineEntriesPerRow) {
            for (std::size_t k = i; k < entries.size() && k < i + mf::LineEntriesPerRow; ++k)
                mf::AppendLineEntry(out.Text(), entries[k].Line, entries[k].Offset);
            out.EndLine();
        }
        out.Line("");
    }
    out.Flush();
}

std::string FormatMap(const TElfImage& AImage) {
    TStringOutput output;
    FormatMap(AImage, output);
    return std::move(output.Text);
}

std::string DefaultMapPath(const std::string& AExecutable) {
    const std::size_t slash = AExecutable.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = AExecutable.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart)
        return AExecutable + ".map";
    return AExecutable.substr(0, dot) + ".map";
}

namespace {

/// The tool's message for a failed step of the replacement.
[[noreturn]] void RaiseWriteError(const fileops::EFileError& AError) {
    std::string what;
    if (AError.Kind() != fileops::TFileErrorKind::fekSystem || AError.Operation() == "rename")
        what = "cannot replace";
    else if (AError.Operation() == "create")
        what = "cannot create a temporary file beside it";
    else
        what = "cannot write";
    throw EElfMapError(AError.Path() + ": " + what + ": " + AError.Reason());
}

fileops::TFileReplacement StartReplacement(const std::string& APath,
                                           std::vector<std::string> AInputs) {
    try {
        return fileops::TFileReplacement(APath, {std::move(AInputs)});
    } catch (const fileops::EFileError& error) {
        RaiseWriteError(error);
    }
}

} // namespace

TAtomicFileWriter::TAtomicFileWriter(std::string APath, std::vector<std::string> AInputs)
    : FReplacement(StartReplacement(APath, std::move(AInputs))) {}

void TAtomicFileWriter::Put(std::string_view AText) {
    try {
        FReplacement.Write(AText);
    } catch (const fileops::EFileError& error) {
        RaiseWriteError(error);
    }
}

void TAtomicFileWriter::Commit() {
    try {
        FReplacement.Commit();
    } catch (const fileops::EFileError& error) {
        RaiseWriteError(error);
    }
}

void WriteFileAtomically(const std::string& APath, std::string_view AContent,
                         std::vector<std::string> AInputs) {
    TAtomicFileWriter writer(APath, std::move(AInputs));
    writer.Put(AContent);
    writer.Commit();
}

} // namespace elfmap
