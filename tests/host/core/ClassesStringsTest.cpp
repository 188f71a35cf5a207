// tests/host/core/ClassesStringsTest.cpp - word-sort comparison, TStrings text and files,
// TStringList sorting, duplicates and notifications.
#include "host/core/Classes.h"
#include "tests/support/Raises.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace host;
using jex::test::MessageOf;
using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

namespace {

std::vector<std::string> Lines(const TStrings& AList) {
    std::vector<std::string> result;
    for (int i = 0; i < AList.Count(); ++i)
        result.push_back(AList.Strings(i));
    return result;
}

} // namespace

// ---- AnsiCompareText / AnsiCompareStr ---------------------------------------------------------

TEST(AnsiCompareTextTest, SortsTheReferenceStringsInWordSortOrder) {
    std::vector<std::string> words = {"a-b", "ab", "a1", "a_b", "a b", "a", "1a", "_a", " a"};
    std::sort(words.begin(), words.end(),
              [](const std::string& A, const std::string& B) { return AnsiCompareText(A, B) < 0; });
    EXPECT_EQ(words,
              (std::vector<std::string>{" a", "_a", "1a", "a", "a b", "a_b", "a1", "ab", "a-b"}));
}

TEST(AnsiCompareTextTest, RanksSymbolsInTheirOrderThenDigitsThenLetters) {
    const std::string order =
        " !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>0123456789aBcDeFgHiJkLmNoPqRsTuVwXyZ";
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        const std::string lower(1, order[i]);
        const std::string higher(1, order[i + 1]);
        EXPECT_EQ(AnsiCompareText(lower, higher), -1) << "'" << lower << "' vs '" << higher << "'";
        EXPECT_EQ(AnsiCompareText(higher, lower), 1) << "'" << higher << "' vs '" << lower << "'";
    }
}

TEST(AnsiCompareTextTest, HyphenAndApostropheOnlyBreakTies) {
    EXPECT_EQ(AnsiCompareText("ab", "a-b"), -1);
    EXPECT_EQ(AnsiCompareText("co-op", "coop"), 1);
    EXPECT_EQ(AnsiCompareText("a-c", "ab"), 1); // the hyphen does not count before b < c
    EXPECT_EQ(AnsiCompareText("it's", "its"), 1);
    EXPECT_NE(AnsiCompareText("a-b", "a'b"), 0);
    EXPECT_EQ(AnsiCompareText("a-b", "A-B"), 0);
}

TEST(AnsiCompareTextTest, IgnoresCaseButNotAccents) {
    EXPECT_EQ(AnsiCompareText("Hello", "hELLO"), 0);
    EXPECT_EQ(AnsiCompareText("\xE9t\xE9", "\xC9T\xC9"), 0); // été / ÉTÉ
    EXPECT_EQ(AnsiCompareText("e", "\xE9"), -1);             // e < é
    EXPECT_EQ(AnsiCompareText("\xE9", "f"), -1);             // é < f
    EXPECT_EQ(AnsiCompareText("\xE9z", "fa"), -1);           // the letter outweighs the accent
    EXPECT_EQ(AnsiCompareText("\xC4pfel", "Apfel"), 1);      // Äpfel after Apfel
    EXPECT_EQ(AnsiCompareText("\xC4pfel", "Apfelz"), -1);
    EXPECT_EQ(AnsiCompareText("\xDF", "ss"), 1); // ß sorts as ss, after it
    EXPECT_EQ(AnsiCompareText("\xDF", "st"), -1);
}

TEST(AnsiCompareTextTest, ComparesDigitsAsCharactersAndPrefixesFirst) {
    EXPECT_EQ(AnsiCompareText("file10", "file2"), -1);
    EXPECT_EQ(AnsiCompareText("file", "file1"), -1);
    EXPECT_EQ(AnsiCompareText("", "a"), -1);
    EXPECT_EQ(AnsiCompareText("", ""), 0);
    EXPECT_EQ(AnsiCompareText("", "-"), -1);
}

TEST(AnsiCompareTextTest, PutsLineBreaksAndTabBeforeSpaceAndOtherControlsLast) {
    EXPECT_EQ(AnsiCompareText("a\tb", "a b"), -1);
    EXPECT_EQ(AnsiCompareText("a\rb", "a b"), -1);
    EXPECT_EQ(AnsiCompareText("a\x01"
                              "b",
                              "ab"),
              1);
    EXPECT_EQ(AnsiCompareText(std::string("a\0b", 3), "ab"), 1);
}

TEST(AnsiCompareStrTest, PutsLowerCaseFirstAsTheLastDifference) {
    const std::vector<std::string> order = {"a", "A", "ab", "Ab", "aC", "b", "B"};
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        EXPECT_EQ(AnsiCompareStr(order[i], order[i + 1]), -1) << order[i] << " vs " << order[i + 1];
    EXPECT_EQ(AnsiCompareStr("\xE9", "\xC9"), -1); // é < É
    EXPECT_EQ(AnsiCompareStr("E", "\xE9"), -1);    // the accent outweighs the case
    EXPECT_EQ(AnsiCompareStr("same", "same"), 0);
}

TEST(AnsiCompareStrTest, IsATotalOrderOverMixedStrings) {
    // Sorting random strings and then checking every pair catches a table that contradicts
    // itself (a < b, b < c, c < a), which would corrupt sorted lists.
    const std::string alphabet = std::string("aAbB-' _1\t\xE9\xC9\xE6\xC6\xDF\x01", 16) + "eE";
    std::mt19937 random(12345);
    std::vector<std::string> words;
    for (int i = 0; i < 300; ++i) {
        std::string w;
        const int length = static_cast<int>(random() % 5);
        for (int j = 0; j < length; ++j)
            w += alphabet[random() % alphabet.size()];
        words.push_back(w);
    }
    for (auto compare : {&AnsiCompareStr, &AnsiCompareText}) {
        std::vector<std::string> sorted = words;
        std::stable_sort(
            sorted.begin(), sorted.end(),
            [&](const std::string& A, const std::string& B) { return compare(A, B) < 0; });
        for (std::size_t i = 0; i < sorted.size(); ++i)
            for (std::size_t j = i; j < sorted.size(); ++j) {
                ASSERT_LE(compare(sorted[i], sorted[j]), 0) << i << " " << j;
                ASSERT_EQ(compare(sorted[i], sorted[j]), -compare(sorted[j], sorted[i]));
            }
    }
    for (std::size_t i = 0; i < words.size(); ++i)
        for (std::size_t j = 0; j < words.size(); ++j)
            ASSERT_EQ(AnsiCompareStr(words[i], words[j]) == 0, words[i] == words[j]);
}

// ---- TStrings text --------------------------------------------------------------------------

TEST(TStringsTest, TextEndsEveryLineWithCrLf) {
    TStringList list;
    EXPECT_EQ(list.Text(), "");
    list.Add("x");
    list.Add("y");
    EXPECT_EQ(list.Text(), "x\r\ny\r\n");
    list.Clear();
    list.Add("");
    EXPECT_EQ(list.Text(), "\r\n");
}

TEST(TStringsTest, SetTextSplitsAtCrLfOrCrLfAndStopsAtNul) {
    struct Case {
        std::string Input;
        std::vector<std::string> Lines;
    };

    const std::vector<Case> cases = {
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"a\r\n", {"a"}},
        {"a\r\n\r\n", {"a", ""}},
        {"\r\n", {""}},
        {"", {}},
        {std::string("a\0b\r\nc", 6), {"a"}},
        {"no break", {"no break"}},
        {"\xFF\x80 bytes\n", {"\xFF\x80 bytes"}},
    };
    for (const Case& c : cases) {
        TStringList list;
        list.Add("old");
        list.SetText(c.Input);
        EXPECT_EQ(Lines(list), c.Lines) << "input of " << c.Input.size() << " bytes";
    }
}

TEST(TStringsTest, SavesAndLoadsFilesAsBytesWithCrLf) {
    TempDir dir;
    const std::string path = dir.File("list.txt");
    TStringList list;
    list.Add("first");
    list.Add("caf\xE9");
    list.SaveToFile(path);
    EXPECT_EQ(ReadFileBytes(path), "first\r\ncaf\xE9\r\n");

    TStringList loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(Lines(loaded), Lines(list));

    TStringList empty;
    empty.SaveToFile(path);
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST(TStringsTest, LoadFromFileRaisesForMissingFileAndWhileAWriterHoldsIt) {
    TempDir dir;
    const std::string path = dir.File("held.txt");
    TStringList list;
    EXPECT_EQ(MessageOf<EFOpenError>([&] { list.LoadFromFile(path); }), "Cannot open file " + path);

    WriteFileBytes(path, "one\ntwo\n");
    {
        TFileStream writer(path, fmOpenReadWrite | fmShareDenyWrite);
        EXPECT_THROW(list.LoadFromFile(path), EFOpenError);
    }
    {
        TFileStream reader(path, fmOpenRead | fmShareDenyNone);
        list.LoadFromFile(path);
        EXPECT_EQ(Lines(list), (std::vector<std::string>{"one", "two"}));
    }
}

TEST(TStringsTest, LoadsFromTheStreamPositionOnward) {
    TMemoryStream stream;
    const std::string text = "skip\r\nkeep\r\nthis";
    stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
    stream.SetPosition(6);
    TStringList list;
    list.LoadFromStream(stream);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"keep", "this"}));
}

TEST(TStringsTest, AssignCopiesStringsAndObjectsButNotSettings) {
    TStringList source;
    TObject marker;
    source.AddObject("b", &marker);
    source.Add("a");
    TStringList target;
    target.SetSorted(true);
    target.SetDuplicates(dupError);
    target.Add("old");
    target.Assign(&source);
    EXPECT_EQ(Lines(target), (std::vector<std::string>{"a", "b"})); // still sorted
    EXPECT_EQ(target.Objects(1), &marker);
    EXPECT_FALSE(source.Sorted());

    source.Assign(&source);
    EXPECT_EQ(Lines(source), (std::vector<std::string>{"b", "a"}));

    TStringList unrelated;
    TPersistent other;
    EXPECT_EQ(MessageOf<EConvertError>([&] { unrelated.Assign(&other); }),
              "Cannot assign a TPersistent to a TStringList");
}

// ---- TStringList ------------------------------------------------------------------------------

TEST(TStringListTest, DupIgnoreReturnsTheIndexOfTheStringPresent) {
    TStringList list;
    list.SetSorted(true);
    list.SetDuplicates(dupIgnore);
    EXPECT_EQ(list.Add("b"), 0);
    EXPECT_EQ(list.Add("a"), 0);
    EXPECT_EQ(list.Add("B"), 1);
    EXPECT_EQ(list.Add("c"), 2);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(TStringListTest, DuplicatesMatterOnlyWhenSorted) {
    TStringList list;
    list.SetDuplicates(dupError);
    list.Add("x");
    EXPECT_EQ(list.Add("X"), 1);

    TStringList sorted;
    sorted.SetSorted(true);
    sorted.SetDuplicates(dupError);
    sorted.Add("x");
    EXPECT_EQ(MessageOf<EStringListError>([&] { sorted.Add("X"); }),
              "String list does not allow duplicates");

    TStringList accepting;
    accepting.SetSorted(true);
    accepting.SetDuplicates(dupAccept);
    accepting.Add("m");
    accepting.Add("a");
    accepting.Add("M");
    accepting.Add("z");
    int index = -1;
    EXPECT_TRUE(accepting.Find("m", index));
    EXPECT_EQ(index, 1); // the first of the equal ones
    EXPECT_EQ(accepting[1], "M");
    EXPECT_FALSE(accepting.Find("n", index));
    EXPECT_EQ(index, 3);
}

TEST(TStringListTest, SortedListRefusesPlacedChanges) {
    TStringList list;
    list.Add("b");
    list.Add("a");
    list.SetSorted(true);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b"}));
    const std::string message = "Operation not allowed on sorted string list";
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Insert(0, "c"); }), message);
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Exchange(0, 1); }), message);
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.SetStrings(0, "c"); }), message);
    EXPECT_EQ(list.Count(), 2);
}

TEST(TStringListTest, IndexErrorsNameTheIndex) {
    TStringList list;
    list.Add("a");
    list.Add("b");
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Strings(2); }),
              "List index out of bounds (2)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Delete(-1); }),
              "List index out of bounds (-1)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Insert(3, "x"); }),
              "List index out of bounds (3)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Objects(5); }),
              "List index out of bounds (5)");
    list.Insert(2, "c"); // one past the end is a place
    EXPECT_EQ(list[2], "c");
}

TEST(TStringListTest, IndexOfUsesTheListsComparison) {
    TStringList list;
    list.Add("Beta");
    list.Add("alpha");
    list.Add("ALPHA");
    EXPECT_EQ(list.IndexOf("ALPHA"), 1);
    EXPECT_EQ(list.IndexOf("gamma"), -1);
    list.SetCaseSensitive(true);
    EXPECT_EQ(list.IndexOf("ALPHA"), 2);
    list.SetSorted(true);
    EXPECT_EQ(list.IndexOf("beta"), -1);
    EXPECT_EQ(list.IndexOf("Beta"), 2);
}

TEST(TStringListTest, ChangingCaseSensitivityResortsASortedList) {
    TStringList list;
    list.SetSorted(true);
    list.SetDuplicates(dupAccept);
    for (const char* s : {"B", "a", "A", "b"})
        list.Add(s);
    list.SetCaseSensitive(true);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "A", "b", "B"}));
    int index = -1;
    EXPECT_TRUE(list.Find("B", index));
    EXPECT_EQ(index, 3);
}

TEST(TStringListTest, SortedSetTextMatchesAddingLineByLine) {
    const std::string text = "pear\r\nApple\r\napple\r\nfig\r\nPEAR\r\nco-op\r\ncoop\r\napple\r\n";
    for (TDuplicates dup : {dupIgnore, dupAccept}) {
        TStringList bulk;
        bulk.SetSorted(true);
        bulk.SetDuplicates(dup);
        bulk.SetText(text);

        TStringList oneByOne;
        oneByOne.SetSorted(true);
        oneByOne.SetDuplicates(dup);
        TStringList plain;
        plain.SetText(text);
        for (int i = 0; i < plain.Count(); ++i)
            oneByOne.Add(plain[i]);
        EXPECT_EQ(Lines(bulk), Lines(oneByOne)) << "duplicates " << int(dup);
    }
    TStringList ignoring;
    ignoring.SetSorted(true);
    ignoring.SetText(text);
    EXPECT_EQ(Lines(ignoring), (std::vector<std::string>{"Apple", "coop", "co-op", "fig", "pear"}));

    TStringList refusing;
    refusing.SetSorted(true);
    refusing.SetDuplicates(dupError);
    EXPECT_THROW(refusing.SetText(text), EStringListError);
}

TEST(TStringListTest, NotifiesChangesOncePerUpdate) {
    TStringList list;
    int changing = 0;
    int changed = 0;
    list.SetOnChanging(TNotifyEvent::FromCallable([&](TObject*) { ++changing; }));
    list.SetOnChange(TNotifyEvent::FromCallable([&](TObject*) { ++changed; }));
    list.Add("a");
    list.Delete(0);
    EXPECT_EQ(changing, 2);
    EXPECT_EQ(changed, 2);

    list.BeginUpdate();
    list.BeginUpdate();
    list.Add("a");
    list.Add("b");
    list.EndUpdate();
    EXPECT_EQ(changed, 2);
    list.EndUpdate();
    EXPECT_EQ(changing, 3);
    EXPECT_EQ(changed, 3);

    list.SetText("x\ny\nz\n");
    EXPECT_EQ(changed, 4);
    list.Clear();
    list.Clear(); // already empty: no change
    EXPECT_EQ(changed, 5);
}

TEST(TStringListTest, CustomSortOrdersByTheCallersComparison) {
    TStringList list;
    TObject one;
    TObject three;
    list.AddObject("ccc", &three);
    list.Add("bb");
    list.AddObject("a", &one);
    list.CustomSort([](TStringList* AList, int A, int B) {
        return static_cast<int>(AList->Strings(A).size()) -
               static_cast<int>(AList->Strings(B).size());
    });
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "bb", "ccc"}));
    EXPECT_EQ(list.Objects(0), &one);
    EXPECT_EQ(list.Objects(2), &three);
    EXPECT_EQ(list.IndexOfObject(&three), 2);
}

TEST(TStringListTest, LargeListsKeepOrderThroughInsertsAndDeletes) {
    // Enough items to spread over many storage chunks, checked against a plain vector.
    std::mt19937 random(777);
    TStringList list;
    std::vector<std::string> model;
    for (int step = 0; step < 6000; ++step) {
        const std::string value = "v" + std::to_string(step);
        const auto size = static_cast<int>(model.size());
        switch (random() % 4) {
        case 0:
        case 1: {
            const int at = static_cast<int>(random() % (model.size() + 1));
            list.Insert(at, value);
            model.insert(model.begin() + at, value);
            break;
        }
        case 2:
            list.Add(value);
            model.push_back(value);
            break;
        default:
            if (size > 0) {
                const int at = static_cast<int>(random() % model.size());
                list.Delete(at);
                model.erase(model.begin() + at);
            }
        }
    }
    ASSERT_EQ(Lines(list), model);
    list.Exchange(0, list.Count() - 1);
    std::swap(model.front(), model.back());
    EXPECT_EQ(Lines(list), model);

    TStringList sorted;
    sorted.SetSorted(true);
    for (const std::string& s : model)
        sorted.Add(s);
    std::sort(model.begin(), model.end(),
              [](const std::string& A, const std::string& B) { return AnsiCompareText(A, B) < 0; });
    EXPECT_EQ(Lines(sorted), model);
    for (int i = 0; i < sorted.Count(); i += 97) {
        int index = -1;
        ASSERT_TRUE(sorted.Find(model[static_cast<std::size_t>(i)], index));
        ASSERT_EQ(index, i);
    }
}
