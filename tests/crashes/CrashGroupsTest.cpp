// tests/crashes/CrashGroupsTest.cpp - reading export streams, grouping reports by signature and
// the jexcrashes command on a journal written by a real receiver.
#include "crashes/CrashGroups.h"

#include "crashes/JournalExportReader.h"
#include "exceptions/CrashSignature.h"
#include "exceptions/ReportCollector.h"
#include "platform/ReportQueue.h"
#include "platform/linux/Process.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/JournalReceiver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace jex;
using namespace jex::crashes;

namespace {

TJexReportFields Crash(std::string_view AReport, std::string_view AClass,
                       std::string_view AProcedure, long long ARealtime) {
    TJexReportFields fields;
    fields.Report = AReport;
    fields.Program = "orders";
    fields.ClassName = AClass;
    fields.Unit = "Main";
    fields.Procedure = AProcedure;
    fields.Line = 42;
    fields.Realtime = ARealtime;
    return fields;
}

std::string Signature(std::string_view AClass, std::string_view AProcedure) {
    const TCrashSignature signature = CrashSignature(AClass, "Main", AProcedure);
    return std::string(SignatureText(signature));
}

// ---- The export format ------------------------------------------------------------------------

TEST(JournalExportReaderTest, EntriesWrittenByTheLoggerReadBackFieldForField) {
    const std::string report("line one\r\nline two\0with a NUL\r\n?", 32);
    const std::string stream =
        ReportEntry(Crash(report, "EConvertError", "Save", 1700000000000000)) +
        ReportEntry(Crash("plain", "EListError", "Load", 0));
    const std::vector<TJournalEntry> entries = ParseJournalExport(stream);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].at("MESSAGE"), report);
    EXPECT_EQ(entries[0].at("__REALTIME_TIMESTAMP"), "1700000000000000");
    EXPECT_EQ(entries[0].at("PRIORITY"), "3");
    EXPECT_EQ(entries[0].at("JEX_LINE"), "42");
    EXPECT_EQ(entries[0].at("JEX_SIGNATURE"), Signature("EConvertError", "Save"));
    EXPECT_EQ(entries[1].at("MESSAGE"), "plain");
    // Composed without a time, an entry carries the time it was composed: a receiver drops
    // entries without one.
    ASSERT_EQ(entries[1].count("__REALTIME_TIMESTAMP"), 1u);
    EXPECT_GT(std::stoll(entries[1].at("__REALTIME_TIMESTAMP")), 1700000000000000LL);
    // The multi-line report went in the length-prefixed form, the one-line one as text.
    EXPECT_NE(stream.find("MESSAGE\n"), std::string::npos);
    EXPECT_NE(stream.find("MESSAGE=plain\n"), std::string::npos);
}

TEST(JournalExportReaderTest, StreamCutInsideAnEntryKeepsTheEntriesBeforeIt) {
    const std::string whole = ReportEntry(Crash("first\nreport", "E", "P", 1)) +
                              ReportEntry(Crash("second\nreport", "E", "P", 2));
    for (std::size_t cut = whole.size() / 2 + 1; cut < whole.size(); ++cut) {
        const std::vector<TJournalEntry> entries = ParseJournalExport(whole.substr(0, cut));
        ASSERT_GE(entries.size(), 1u) << cut;
        EXPECT_EQ(entries[0].at("MESSAGE"), "first\nreport");
        // The second entry, without its closing empty line, is left out.
        EXPECT_EQ(entries.size(), 1u) << cut;
    }
}

TEST(JournalExportReaderTest, StreamsNotInTheFormatAreRefusedWithTheirPosition) {
    EXPECT_THROW(ParseJournalExport("no line end"), EJournalExportError);
    EXPECT_THROW(ParseJournalExport("=value\n\n"), EJournalExportError);
    // A length that runs past the field's end.
    EXPECT_THROW(ParseJournalExport(std::string("MESSAGE\n\x02\0\0\0\0\0\0\0abc\n\n", 17)),
                 EJournalExportError);
    try {
        ParseJournalExport("A=1\n=2\n");
    } catch (const EJournalExportError& e) {
        EXPECT_NE(std::string(e.what()).find("byte 4"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(ParseJournalExport("").empty());
}

// ---- Grouping ---------------------------------------------------------------------------------

TEST(CrashGroupsTest, GroupsCountReportsAndKeepFirstLastAndTheLatestExample) {
    std::string stream;
    stream += ReportEntry(Crash("save 1", "EConvertError", "Save", 3000000));
    stream += ReportEntry(Crash("load 1", "EListError", "Load", 1000000));
    stream += ReportEntry(Crash("save 2", "EConvertError", "Save", 9000000));
    stream += ReportEntry(Crash("save 3", "EConvertError", "Save", 2000000));
    stream += "MESSAGE=some other program's line\nPRIORITY=3\n\n";
    const std::vector<TCrashGroup> groups = GroupCrashes(ParseJournalExport(stream));
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].Signature, Signature("EConvertError", "Save"));
    EXPECT_EQ(groups[0].Count, 3u);
    EXPECT_EQ(groups[0].FirstSeen, 2000000);
    EXPECT_EQ(groups[0].LastSeen, 9000000);
    EXPECT_EQ(groups[0].Example.at("MESSAGE"), "save 2");
    EXPECT_EQ(groups[1].Count, 1u);

    const std::string text = FormatCrashGroups(groups);
    EXPECT_EQ(text.rfind("2 signatures, 4 reports\n", 0), 0u) << text;
    EXPECT_NE(text.find("EConvertError in Main, Save, line 42 (orders)"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\n    save 2\n"), std::string::npos) << text;
}

// ---- jexcrashes -------------------------------------------------------------------------------

TEST(JexCrashesTest, GroupsTheReportsOfAReceiversJournalIntoThreeSignatures) {
    if (jex::test::JournalRemoteProgram().empty())
        GTEST_SKIP() << "systemd-journal-remote is not installed (scripts/install-deps.sh)";
    jex::test::TempDir dir;
    const std::string journal = dir.File("team.journal");
    {
        jex::test::TJournalReceiver receiver(journal);
        ASSERT_TRUE(receiver.Start());

        const struct {
            const char* Class;
            const char* Procedure;
            int Count;
        } crashes[] = {{"EConvertError", "Save", 3},
                       {"EListError", "Load", 2},
                       {"EAccessViolation", "Print", 1}};

        std::string body;
        long long time = 1700000000000000;
        for (const auto& crash : crashes)
            for (int i = 0; i < crash.Count; ++i)
                body += ReportEntry(Crash(std::string("report\r\n") + crash.Procedure, crash.Class,
                                          crash.Procedure, time += 1000000));
        const platform::TUploadResult sent =
            platform::UploadJournalEntries(receiver.Url(), body, 5000, nullptr);
        ASSERT_TRUE(sent.Ok) << sent.Error;
        receiver.Stop();
    }

    std::string out;
    const platform::process::TExitStatus status =
        platform::process::RunCapture({JEXCRASHES_PROGRAM, "--file", journal}, out);
    ASSERT_TRUE(status.Exited);
    EXPECT_EQ(status.ExitCode, 0) << out;
    EXPECT_EQ(out.rfind("3 signatures, 6 reports\n", 0), 0u) << out;
    EXPECT_NE(out.find("\n" + Signature("EConvertError", "Save") + "  3 reports  first "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n" + Signature("EListError", "Load") + "  2 reports  first "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n" + Signature("EAccessViolation", "Print") + "  1 report  first "),
              std::string::npos)
        << out;
}

TEST(JexCrashesTest, AnExportStreamFromAFileOrStandardInputIsGroupedAndADamagedOneRefused) {
    jex::test::TempDir dir;
    const std::string stream =
        ReportEntry(Crash("one", "EConvertError", "Save", 1700000000000000)) +
        ReportEntry(Crash("two", "EConvertError", "Save", 1700000001000000)) +
        ReportEntry(Crash("three", "EListError", "Load", 1700000002000000));
    jex::test::WriteFileBytes(dir.File("team.export"), stream);
    for (const std::string& command :
         {std::string("exec ") + JEXCRASHES_PROGRAM + " --export " + dir.File("team.export"),
          std::string("exec ") + JEXCRASHES_PROGRAM + " --export - < " + dir.File("team.export")}) {
        std::string out;
        const platform::process::TExitStatus status =
            platform::process::RunCapture({"/bin/sh", "-c", command}, out);
        ASSERT_TRUE(status.Exited) << command;
        EXPECT_EQ(status.ExitCode, 0) << command << "\n" << out;
        EXPECT_EQ(out.rfind("2 signatures, 3 reports\n", 0), 0u) << command << "\n" << out;
        EXPECT_NE(out.find("\n" + Signature("EConvertError", "Save") + "  2 reports  first "),
                  std::string::npos)
            << out;
    }

    // A stream cut inside a length-prefixed field is an error, not a shorter report.
    jex::test::WriteFileBytes(dir.File("cut.export"), "MESSAGE\n\x40\0\0\0\0\0\0\0short");
    const jex::test::TChildOutcome damaged =
        jex::test::RunWatchedChild({JEXCRASHES_PROGRAM, "--export", dir.File("cut.export")});
    EXPECT_TRUE(damaged.Exited && damaged.ExitCode == 1);
    EXPECT_NE(damaged.Errors.find("journal export stream"), std::string::npos) << damaged.Errors;

    const jex::test::TChildOutcome missing =
        jex::test::RunWatchedChild({JEXCRASHES_PROGRAM, "--export", dir.File("none.export")});
    EXPECT_TRUE(missing.Exited && missing.ExitCode == 1);
    EXPECT_NE(missing.Errors.find(dir.File("none.export")), std::string::npos) << missing.Errors;
}

TEST(JexCrashesTest, HelpAndContradictoryArgumentsAreAnsweredWithTheUsage) {
    std::string out;
    const platform::process::TExitStatus help =
        platform::process::RunCapture({JEXCRASHES_PROGRAM, "--help"}, out);
    EXPECT_TRUE(help.Exited && help.ExitCode == 0);
    EXPECT_EQ(out.rfind("usage: jexcrashes", 0), 0u) << out;
    const jex::test::TChildOutcome both = jex::test::RunWatchedChild(
        {JEXCRASHES_PROGRAM, "--export", "-", "--file", "/nonexistent/x.journal"});
    EXPECT_TRUE(both.Exited && both.ExitCode == 2);
    EXPECT_NE(both.Errors.find("exclude each other"), std::string::npos) << both.Errors;
}

TEST(JexCrashesTest, MissingJournalAndUnknownArgumentsAreErrorsNotEmptyReports) {
    const jex::test::TChildOutcome missing =
        jex::test::RunWatchedChild({JEXCRASHES_PROGRAM, "--file", "/nonexistent/x.journal"});
    EXPECT_TRUE(missing.Exited && missing.ExitCode == 1);
    EXPECT_NE(missing.Errors.find("/nonexistent/x.journal"), std::string::npos) << missing.Errors;
    const jex::test::TChildOutcome unknown =
        jex::test::RunWatchedChild({JEXCRASHES_PROGRAM, "--crashes"});
    EXPECT_TRUE(unknown.Exited && unknown.ExitCode == 2);
    EXPECT_NE(unknown.Errors.find("usage"), std::string::npos);
}

} // namespace
