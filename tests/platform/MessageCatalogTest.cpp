// tests/platform/MessageCatalogTest.cpp - message catalogues in both forms, the formatter's
// inserts and escapes, and %NAME% expansion.
#include "platform/MessageCatalog.h"

#include "platform/EnvironmentStrings.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>

using namespace platform;

namespace {

constexpr const char* Sample = "; a comment line\n"
                               "LanguageNames=(English=0x409:MSG00409\n"
                               "               German=0x407:MSG00407)\n"
                               "MessageId=1\n"
                               "SymbolicName=MSG_STARTED\n"
                               "Language=English\n"
                               "Started %1 on %2.\n"
                               ".\n"
                               "Language=German\n"
                               "Gestartet %1.\n"
                               ".\n"
                               "MessageId=\n"
                               "Severity=Error\n"
                               "Language=English\r\n"
                               "Two lines\r\n"
                               "%.second\r\n"
                               ".\r\n"
                               "MessageId=+8\n"
                               "Facility=System\n"
                               "Language=English\n"
                               "No line end%0\n"
                               ".\n";

std::string Format(std::string_view AText, const std::vector<std::string>& AArgs = {}) {
    std::string result;
    EXPECT_EQ(FormatMessageText(AText, AArgs, result), 0) << AText;
    return result;
}

// ---- The text form --------------------------------------------------------------------------

TEST(MessageCatalogTest, TextFormComposesIdentifiersAndKeepsEachLanguage) {
    TMessageCatalog catalog;
    std::string error;
    ASSERT_TRUE(ParseMcText(Sample, catalog, error)) << error;
    // Success and Application for the first message; the second inherits the facility.
    ASSERT_NE(catalog.Find(0x0FFF0001), nullptr);
    EXPECT_EQ(*catalog.Find(0x0FFF0001), "Started %1 on %2.\r\n");
    EXPECT_EQ(*catalog.Find(0x0FFF0001, 0x407), "Gestartet %1.\r\n");
    EXPECT_EQ(catalog.Find(0x0FFF0001, 0x40C), nullptr);
    ASSERT_NE(catalog.Find(0xCFFF0002), nullptr);
    EXPECT_EQ(*catalog.Find(0xCFFF0002), "Two lines\r\n%.second\r\n");
    ASSERT_NE(catalog.Find(0xC0FF000A), nullptr); // +8 after 2; severity inherited too
    EXPECT_EQ(catalog.Find(0x0FFF0002), nullptr); // identifiers match in full
}

TEST(MessageCatalogTest, TextFormErrorsNameTheLine) {
    const std::map<std::string, std::string> bad = {
        {"MessageId=1\nLanguage=French\nBonjour\n.\n", "line 2: unknown language French"},
        {"MessageId=1\nLanguage=English\nnever ended\n", "line 3: message text not ended"},
        {"MessageId=1\nSeverity=Fatal\n", "line 2: unknown severity Fatal"},
        {"Language=English\nx\n.\n", "line 1: Language outside a message"},
        {"MessageId=1\nMessageId=2\n", "line 2: message without text"},
        {"MessageId=0x10000\n", "line 1: MessageId above 0xFFFF"},
        {"MessageId=zz\n", "line 1: bad MessageId"},
        {"just words\n", "line 1: expected keyword=value"},
        {"SeverityNames=(Bad=7)\n", "line 1: bad value in SeverityNames"},
        {"LanguageNames=(English=0x409\n", "line 1: LanguageNames list not closed"},
        {"MessageId=1\nLanguage=English\na\n.\nLanguage=English\nb\n.\n",
         "line 5: message given twice"},
    };
    for (const auto& [text, reason] : bad) {
        TMessageCatalog catalog;
        catalog.Entries.push_back({1, 0, "kept"});
        std::string error;
        EXPECT_FALSE(ParseMcText(text, catalog, error)) << text;
        EXPECT_TRUE(error.starts_with(reason)) << error;
        EXPECT_EQ(catalog.Entries.size(), 1u); // a failed parse leaves the catalogue alone
    }
}

// ---- The compiled form ----------------------------------------------------------------------

TEST(MessageCatalogTest, CompiledTablesReadBackWhatWasWritten) {
    TMessageCatalog source;
    std::string error;
    ASSERT_TRUE(ParseMcText(Sample, source, error));
    const std::string table = WriteMessageTable(source);
    TMessageCatalog compiled;
    ASSERT_TRUE(ParseMessageTable(table, compiled, error)) << error;
    ASSERT_NE(compiled.Find(0xCFFF0002), nullptr);
    EXPECT_EQ(*compiled.Find(0xCFFF0002), "Two lines\r\n%.second\r\n");
    EXPECT_EQ(*compiled.Find(0x0FFF0001), "Started %1 on %2.\r\n"); // English, not German

    // Either form is told apart by its bytes.
    TMessageCatalog either;
    ASSERT_TRUE(ParseMessageCatalog(table, either, error));
    EXPECT_EQ(either.Entries.size(), compiled.Entries.size());
    ASSERT_TRUE(ParseMessageCatalog(Sample, either, error));
    EXPECT_EQ(either.Entries.size(), 4u);
    EXPECT_FALSE(ParseMessageCatalog("MZ\x90\x00", either, error));
}

TEST(MessageCatalogTest, DamagedCompiledTablesAreRefusedWhole) {
    TMessageCatalog source;
    source.Entries = {{5, LanguageUsEnglish, "five\r\n"}, {6, LanguageUsEnglish, "six\r\n"}};
    const std::string table = WriteMessageTable(source);
    TMessageCatalog catalog;
    std::string error;
    for (std::size_t size = 0; size < table.size(); ++size)
        EXPECT_FALSE(ParseMessageTable(table.substr(0, size), catalog, error)) << size;
    std::string huge = table;
    huge[8] = huge[9] = huge[10] = huge[11] = '\xFF'; // a range of four billion identifiers
    EXPECT_FALSE(ParseMessageTable(huge, catalog, error));
    std::string zeroLength = table;
    zeroLength[16] = zeroLength[17] = '\0';
    EXPECT_FALSE(ParseMessageTable(zeroLength, catalog, error));
    EXPECT_TRUE(catalog.Entries.empty());
}

TEST(MessageCatalogTest, LoadingNamesWhyAFileGaveNoCatalogue) {
    jex::test::TempDir dir;
    TMessageCatalog catalog;
    EXPECT_EQ(LoadMessageCatalog(dir.File("missing.mc"), catalog), ENOENT);
    EXPECT_EQ(LoadMessageCatalog(dir.Path().string(), catalog), EISDIR);
    jex::test::WriteFileBytes(dir.File("broken.mc"), "MessageId=1\nLanguage=English\n");
    EXPECT_EQ(LoadMessageCatalog(dir.File("broken.mc"), catalog), EBADMSG);
    jex::test::WriteFileBytes(dir.File("good.mc"), Sample);
    EXPECT_EQ(LoadMessageCatalog(dir.File("good.mc"), catalog), 0);
    EXPECT_EQ(catalog.Entries.size(), 4u);
}

// ---- The formatter --------------------------------------------------------------------------

TEST(MessageFormatTest, InsertsTakeTheStringsInPlace) {
    EXPECT_EQ(Format("Started %1 on %2.\r\n", {"job", "node"}), "Started job on node.\r\n");
    std::vector<std::string> eleven;
    for (int i = 1; i <= 11; ++i)
        eleven.push_back("s" + std::to_string(i));
    EXPECT_EQ(Format("%11|%100", eleven), "s11|s100"); // two digits at most
    EXPECT_EQ(Format("%1!s!|%1!5s!|%1!-5s!|", {"ab"}), "ab|   ab|ab   |");
    EXPECT_EQ(Format("%1!d! %1!04x! %1!X! %1!u! %1!c!", {"255"}), "255 00ff FF 255 2");
    EXPECT_EQ(Format("%1!*s!|", {"4", "ab"}), "  ab|");
    EXPECT_EQ(Format("%1", {std::string(5000, 'q')}), std::string(5000, 'q'));
}

TEST(MessageFormatTest, InsertsWithoutAStringStayAsWritten) {
    EXPECT_EQ(Format("a %1 b %3 c %2!d!", {"one"}), "a one b %3 c %2!d!");
    EXPECT_EQ(Format("%1!*s!", {"4"}), "%1!*s!"); // the width's string but no value
    EXPECT_EQ(Format("%1!q!", {"x"}), "%1!q!");   // a conversion nobody knows
}

TEST(MessageFormatTest, EscapesAndLineEnds) {
    EXPECT_EQ(Format("a%nb%rc%td%%e%.f%!g% h%xi"), "a\r\nb\rc\td%e.f!g hxi");
    EXPECT_EQ(Format("one\ntwo\rthree\r\nfour\r\n"), "one\r\ntwo\r\nthree\r\nfour\r\n");
    EXPECT_EQ(Format("stops here%0 and not here\r\n"), "stops here");
    std::string result = "old";
    EXPECT_EQ(FormatMessageText("ends in %", {}, result), 87);
    EXPECT_TRUE(result.empty());
}

// ---- Environment expansion ------------------------------------------------------------------

TEST(EnvironmentStringsTest, KnownNamesExpandAndOthersStayAsWritten) {
    const TEnvironmentLookup lookup = [](std::string_view AName) -> std::optional<std::string> {
        if (AName == "ROOT")
            return std::string("/opt/app");
        if (AName == "EMPTY")
            return std::string();
        return std::nullopt;
    };
    EXPECT_EQ(ExpandEnvironmentStrings("%ROOT%/msg.mc", lookup), "/opt/app/msg.mc");
    EXPECT_EQ(ExpandEnvironmentStrings("%UNSET%/%ROOT%", lookup), "%UNSET%//opt/app");
    EXPECT_EQ(ExpandEnvironmentStrings("a%EMPTY%b", lookup), "ab");
    EXPECT_EQ(ExpandEnvironmentStrings("100% sure", lookup), "100% sure");
    EXPECT_EQ(ExpandEnvironmentStrings("%%", lookup), "%%");

    ::setenv("JexExpandProbe", "found", 1);
    EXPECT_EQ(ExpandEnvironmentStrings("%JEXEXPANDPROBE%"), "found"); // any letter case
    ::unsetenv("JexExpandProbe");
}

} // namespace
