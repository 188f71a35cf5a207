// host/core/ClassesStrings.h - string lists and the locale-aware string comparison they sort by.
//
// Part of the Classes unit (Classes.h includes it). TStrings is the abstract list
// of strings with associated objects that controls and the suite share; TStringList is the
// stored implementation, optionally sorted by the framework's word-sort comparison
// (AnsiCompareText by default), which ranks punctuation before digits before letters.
#pragma once

#include "host/core/ClassesComponent.h"
#include "host/core/SysUtils.h"
#include "host/core/System.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class TStream;

/// Compares two 8-bit (Windows-1252/Latin-1) strings the way the Windows word sort does,
/// ignoring case; returns -1, 0 or 1. Symbols sort before digits, digits before letters;
/// accented letters sort with their base letter (e < é < f); the hyphen and the apostrophe (and
/// control characters other than TAB, LF and CR) are passed over and only break ties, so "ab" <
/// "a-b" and they never make distinct strings equal. Digits compare as characters ("file10" <
/// "file2"); a proper prefix sorts first. Strings differing only in case are equal.
int AnsiCompareText(std::string_view AS1, std::string_view AS2);

/// As AnsiCompareText, but case counts as the last difference before the passed-over
/// characters, lower case first: "a" < "A" < "b" < "B", and "Ab" < "aC". Returns 0 only for
/// identical strings.
int AnsiCompareStr(std::string_view AS1, std::string_view AS2);

enum TDuplicates : std::uint8_t { dupIgnore, dupAccept, dupError };

/// A list of strings, each with an associated object pointer (not owned). Derived classes
/// store the strings; the base provides text conversion, files, streams and assignment on top
/// of Count/Get/Put/Insert/Delete/Clear. Index errors raise EStringListError
/// "List index out of bounds (<index>)".
class TStrings : public TPersistent, public IStreamableStrings {
    JEX_CLASS(TStrings)

public:
    /// Stored forms write and read the lines as "Strings = ( ... )".
    std::vector<std::string> GetLines() const override;
    void SetLines(const std::vector<std::string>& ALines) override;

    virtual int Count() const = 0;

    /// The string at AIndex (a copy; TStringList also offers a reference).
    std::string Strings(int AIndex) const { return Get(AIndex); }

    std::string operator[](int AIndex) const { return Get(AIndex); }

    void SetStrings(int AIndex, const std::string& AValue) { Put(AIndex, AValue); }

    TObject* Objects(int AIndex) const { return GetObject(AIndex); }

    void SetObjects(int AIndex, TObject* AObject) { PutObject(AIndex, AObject); }

    /// Appends AValue (a sorted list puts it in its place); returns its index.
    virtual int Add(const std::string& AValue);
    virtual int AddObject(const std::string& AValue, TObject* AObject);

    /// Adds every string of AStrings with its object, in one update.
    void AddStrings(const TStrings& AStrings);

    virtual void Insert(int AIndex, const std::string& AValue) = 0;
    virtual void InsertObject(int AIndex, const std::string& AValue, TObject* AObject);
    virtual void Delete(int AIndex) = 0;
    virtual void Clear() = 0;
    virtual void Exchange(int AIndex1, int AIndex2);

    /// Index of the first string equal to AValue by the list's comparison; -1 when none.
    virtual int IndexOf(const std::string& AValue) const;
    int IndexOfObject(const TObject* AObject) const;

    /// All strings, each followed by CR LF (also the last); empty for an empty list.
    virtual std::string Text() const;

    /// Replaces the strings by the lines of AText. A line ends at CR, LF or CR LF; a final line
    /// break adds no empty line; the text ends at its first NUL character.
    virtual void SetText(const std::string& AText);

    /// Replaces the strings by the lines of the rest of AStream (see SetText).
    virtual void LoadFromStream(TStream& AStream);

    /// Writes Text() to AStream; raises EWriteError when it cannot be written in full.
    virtual void SaveToStream(TStream& AStream) const;

    /// Replaces the strings by the lines of the file, read as bytes. The file is opened for
    /// reading, denying others the right to write: it raises EFOpenError "Cannot open file
    /// <name>" when the file is missing or a stream holds it open with write access.
    virtual void LoadFromFile(const std::string& AFileName);

    /// Creates or truncates the file and writes Text() to it; EFCreateError when it cannot be
    /// created, EWriteError when the text cannot be written in full.
    virtual void SaveToFile(const std::string& AFileName) const;

    /// Suspends change notifications until the matching EndUpdate; nests.
    void BeginUpdate();
    void EndUpdate();

    /// Copies the strings and objects of a TStrings source (not its sorting settings), in one
    /// update; other sources go to TPersistent::Assign. Assigning a list to itself keeps it.
    void Assign(TPersistent* ASource) override;

protected:
    virtual std::string Get(int AIndex) const = 0;
    virtual void Put(int AIndex, const std::string& AValue);
    virtual TObject* GetObject(int AIndex) const;
    virtual void PutObject(int AIndex, TObject* AObject);

    /// Called with true when the first BeginUpdate starts, with false when the last EndUpdate
    /// ends.
    virtual void SetUpdateState(bool AUpdating);

    int UpdateCount() const { return FUpdateCount; }

    /// The comparison behind IndexOf (and sorting in TStringList): AnsiCompareText.
    virtual int CompareStrings(const std::string& AS1, const std::string& AS2) const;

    [[noreturn]] static void IndexError(int AIndex);

private:
    int FUpdateCount = 0;
};

class TStringList;

/// Compares the strings at AIndex1 and AIndex2 of AList for TStringList::CustomSort.
using TStringListSortCompare = int (*)(TStringList* AList, int AIndex1, int AIndex2);

/// The stored string list. Unsorted, it keeps the order strings are added in. Sorted, Add puts
/// each string in its place by CompareStrings (AnsiCompareText, or AnsiCompareStr when
/// CaseSensitive) and Duplicates decides about equal strings: dupIgnore returns the index of
/// the one present, dupError raises EStringListError "String list does not allow duplicates",
/// dupAccept adds it before the equal ones. Insert, Exchange and SetStrings on a sorted list
/// raise EStringListError "Operation not allowed on sorted string list".
class TStringList : public TStrings {
    JEX_CLASS(TStringList)

public:
    TStringList() = default;

    int Count() const override { return static_cast<int>(FList.Size()); }

    /// The string at AIndex, without a copy.
    const std::string& Strings(int AIndex) const;

    const std::string& operator[](int AIndex) const { return Strings(AIndex); }

    int Add(const std::string& AValue) override;
    int AddObject(const std::string& AValue, TObject* AObject) override;
    void Insert(int AIndex, const std::string& AValue) override;
    void InsertObject(int AIndex, const std::string& AValue, TObject* AObject) override;
    void Delete(int AIndex) override;
    void Clear() override;
    void Exchange(int AIndex1, int AIndex2) override;

    /// Sorted: through Find (-1 when absent); unsorted: the first equal string.
    int IndexOf(const std::string& AValue) const override;

    /// Binary search, meaningful only on a sorted list. True with the index of a string equal
    /// to AValue (with dupAccept the first of the equal ones); otherwise false with the index
    /// where AValue belongs.
    virtual bool Find(const std::string& AValue, int& AIndex) const;

    /// Sorts an unsorted list by CompareStrings (a sorted list already is).
    virtual void Sort();

    /// Sorts an unsorted list by ACompare.
    virtual void CustomSort(TStringListSortCompare ACompare);

    /// Sorted lists take a whole text in one sort rather than line by line; the result is the
    /// one adding the lines one by one gives.
    void SetText(const std::string& AText) override;

    bool Sorted() const { return FSorted; }

    /// Setting true sorts the list at once.
    void SetSorted(bool AValue);

    TDuplicates Duplicates() const { return FDuplicates; }

    void SetDuplicates(TDuplicates AValue) { FDuplicates = AValue; }

    bool CaseSensitive() const { return FCaseSensitive; }

    /// Changing the comparison re-sorts a sorted list.
    void SetCaseSensitive(bool AValue);

    /// Fired after every change (once per outermost EndUpdate while updating).
    TNotifyEvent OnChange() const { return FOnChange; }

    void SetOnChange(TNotifyEvent AValue) { FOnChange = std::move(AValue); }

    /// Fired before every change (once per outermost BeginUpdate while updating).
    TNotifyEvent OnChanging() const { return FOnChanging; }

    void SetOnChanging(TNotifyEvent AValue) { FOnChanging = std::move(AValue); }

protected:
    std::string Get(int AIndex) const override { return Strings(AIndex); }

    void Put(int AIndex, const std::string& AValue) override;
    TObject* GetObject(int AIndex) const override;
    void PutObject(int AIndex, TObject* AObject) override;
    void SetUpdateState(bool AUpdating) override;
    int CompareStrings(const std::string& AS1, const std::string& AS2) const override;

    virtual void Changed();
    virtual void Changing();

private:
    struct TItem {
        std::string FString;
        TObject* FObject = nullptr;
    };

    // The items in chunks of at most a thousand, so that adding to a large sorted list moves
    // a chunk rather than the whole list (one flat array makes line-by-line loading of a big
    // sorted file quadratic).
    class TItemStore {
    public:
        std::size_t Size() const { return FEnds.empty() ? 0 : FEnds.back(); }

        TItem& At(std::size_t AIndex);

        const TItem& At(std::size_t AIndex) const {
            return const_cast<TItemStore*>(this)->At(AIndex);
        }

        void Insert(std::size_t AIndex, TItem AItem);
        void Erase(std::size_t AIndex);
        void Clear();

        /// Moves all items out, in order, leaving the store empty.
        std::vector<TItem> TakeAll();

        /// Replaces the items.
        void Assign(std::vector<TItem> AItems);

    private:
        std::vector<std::vector<TItem>> FChunks;
        std::vector<std::size_t> FEnds; // FEnds[k]: one past the list index of chunk k's last
    };

    void InsertItem(int AIndex, const std::string& AValue, TObject* AObject);
    void CheckIndex(int AIndex) const;
    void SortItems();

    TItemStore FList;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
    bool FCaseSensitive = false;
    TNotifyEvent FOnChange;
    TNotifyEvent FOnChanging;
};

} // namespace host
