// tests/exceptions/ReportCollectorTest.cpp - reports sent to a real systemd-journal-remote
// receiver: the fields and text that arrive, an outage of the receiver, collectors that are
// malformed, answer with an error or never answer, the fatal report queued for the next start,
// the crash signature and the stored form.
#include "exceptions/ReportCollector.h"

#include "ExceptionLogFixture.h"
#include "crashes/JournalExportReader.h"
#include "exceptions/CrashSignature.h"
#include "exceptions/LogError.h"
#include "host/core/ClassesStreaming.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/JournalReceiver.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

using namespace host;
using namespace jex;
using jex::crashes::ParseJournalExport;
using jex::crashes::TJournalEntry;
using jex::test::RaiseThroughLoop;
using jex::test::TJournalReceiver;
using jex::test::WaitFor;

namespace {

using namespace std::chrono_literals;

// Standard error of this process, collected into a file while it lives.
class TCapturedStderr {
public:
    explicit TCapturedStderr(std::string APath)
        : FPath(std::move(APath)) {
        std::fflush(stderr);
        FSaved = dup(STDERR_FILENO);
        const int fd = open(FPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }

    ~TCapturedStderr() { Restore(); }

    TCapturedStderr(const TCapturedStderr&) = delete;
    TCapturedStderr& operator=(const TCapturedStderr&) = delete;

    /// What was written so far; stderr goes back to where it was.
    std::string Text() {
        Restore();
        return jex::test::ReadFileBytes(FPath);
    }

private:
    void Restore() {
        if (FSaved < 0)
            return;
        std::fflush(stderr);
        dup2(FSaved, STDERR_FILENO);
        close(FSaved);
        FSaved = -1;
    }

    std::string FPath;
    int FSaved = -1;
};

// A collector on 127.0.0.1 that accepts connections into its backlog and never reads them.
class TSilentCollector {
public:
    TSilentCollector() {
        FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(FSocket, 4) == 0 &&
            getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            FPort = ntohs(address.sin_port);
    }

    ~TSilentCollector() { close(FSocket); }

    TSilentCollector(const TSilentCollector&) = delete;
    TSilentCollector& operator=(const TSilentCollector&) = delete;

    /// Empty when no port could be had.
    std::string Url() const {
        return FPort == 0 ? std::string() : "http://127.0.0.1:" + std::to_string(FPort);
    }

private:
    int FSocket = -1;
    int FPort = 0;
};

std::size_t Lines(const std::string& AText, const std::string& APrefix) {
    std::size_t count = 0;
    for (std::size_t at = AText.find(APrefix); at != std::string::npos;
         at = AText.find(APrefix, at + 1))
        ++count;
    return count;
}

std::string Field(const TJournalEntry& AEntry, const char* AName) {
    const auto field = AEntry.find(AName);
    return field == AEntry.end() ? std::string("(missing)") : field->second;
}

// The entries of the logger's reports (the receiver writes none of its own, but be sure).
std::vector<TJournalEntry> Reports(const std::string& AExport) {
    std::vector<TJournalEntry> reports;
    for (TJournalEntry& entry : ParseJournalExport(AExport))
        if (entry.count("JEX_SIGNATURE") != 0)
            reports.push_back(std::move(entry));
    return reports;
}

class TReportCollectorTest : public jex::test::TExceptionLogFixture {
protected:
    void SetUp() override {
        TExceptionLogFixture::SetUp();
        if (jex::test::JournalRemoteProgram().empty())
            GTEST_SKIP() << "systemd-journal-remote is not installed (scripts/install-deps.sh)";
    }

    /// A logger without dialog whose reports name class and message and go to AAddress.
    std::unique_ptr<TJexExceptionLog> SendingLogger(const std::string& AAddress) {
        std::unique_ptr<TJexExceptionLog> logger(NewLogger(nullptr));
        logger->SetErrorDialog(edNone);
        logger->SetFormats({lfExceptionClassName, lfMessage, lfSignature});
        logger->SetCollectorQueueFolder(QueueFolder());
        logger->SetCollector(AAddress);
        return logger;
    }

    std::string QueueFolder() const { return FTemp.File("queue"); }

    /// A collector at AAddress that queues in QueueFolder.
    TJexCollectorSettings CollectorSettings(const std::string& AAddress) const {
        TJexCollectorSettings settings;
        settings.Address = AAddress;
        settings.QueueFolder = QueueFolder();
        return settings;
    }

    std::size_t Queued() const { return platform::TReportQueue(QueueFolder(), 1000).Queued(); }
};

TEST_F(TReportCollectorTest, ThreeReportsArriveWithTheirFieldsAndTheReportTextByteForByte) {
    TJournalReceiver receiver(FTemp.File("received.journal"));
    ASSERT_TRUE(receiver.Start());
    TCapturedStderr errors(FTemp.File("stderr.txt"));
    auto logger = SendingLogger(receiver.Url());
    RaiseThroughLoop([] { throw EConvertError("first"); });
    RaiseThroughLoop([] { throw EListError("second\nwith a line of its own"); });
    RaiseThroughLoop([] { throw EConvertError("third"); });
    ASSERT_TRUE(logger->ReportCollector()->Flush(10s)) << errors.Text();
    receiver.Stop();
    EXPECT_EQ(errors.Text(), "");

    const std::vector<TJournalEntry> reports = Reports(receiver.Export());
    ASSERT_EQ(reports.size(), 3u);
    std::string messages;
    for (const TJournalEntry& entry : reports)
        messages += Field(entry, "MESSAGE");
    EXPECT_EQ(messages, LogText());
    const std::string program = ParamStr(0).substr(ParamStr(0).rfind('/') + 1);
    for (const TJournalEntry& entry : reports) {
        EXPECT_EQ(Field(entry, "PRIORITY"), "3");
        EXPECT_EQ(Field(entry, "SYSLOG_IDENTIFIER"), program);
        EXPECT_EQ(Field(entry, "JEX_APPLICATION_TITLE"), "Orders");
        EXPECT_EQ(Field(entry, "JEX_ADDRESS").size(), 8u);
        // The signature sent is the one the report shows.
        EXPECT_NE(Field(entry, "MESSAGE").find("Signature: " + Field(entry, "JEX_SIGNATURE")),
                  std::string::npos);
    }
    EXPECT_EQ(Field(reports[0], "JEX_EXCEPTION_CLASS"), "EConvertError");
    EXPECT_EQ(Field(reports[1], "JEX_EXCEPTION_CLASS"), "EListError");
    EXPECT_EQ(Field(reports[0], "JEX_SIGNATURE"), Field(reports[2], "JEX_SIGNATURE"));
    EXPECT_NE(Field(reports[0], "JEX_SIGNATURE"), Field(reports[1], "JEX_SIGNATURE"));
    EXPECT_EQ(Queued(), 0u);
    EXPECT_EQ(logger->ReportCollector()->Sent(), 3u);
}

TEST_F(TReportCollectorTest, ReportsLoggedWhileTheReceiverIsDownArriveOnceItIsUp) {
    TJournalReceiver receiver(FTemp.File("received.journal"));
    TCapturedStderr errors(FTemp.File("stderr.txt"));
    auto logger = SendingLogger(receiver.Url());
    for (int i = 0; i < 5; ++i)
        RaiseThroughLoop([i] { throw EConvertError("report " + std::to_string(i)); });
    // The worker fails and retries before the receiver comes.
    ASSERT_TRUE(WaitFor([&] { return logger->ReportCollector()->FailedUploads() >= 2; }, 10s));
    EXPECT_EQ(Queued(), 5u);
    EXPECT_EQ(LogText().size() > 0, true);

    ASSERT_TRUE(receiver.Start());
    ASSERT_TRUE(logger->ReportCollector()->Flush(15s));
    receiver.Stop();
    const std::string told = errors.Text();
    EXPECT_EQ(Lines(told, "jexlogger:"), 1u) << told;

    const std::vector<TJournalEntry> reports = Reports(receiver.Export());
    ASSERT_EQ(reports.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(Field(reports[static_cast<std::size_t>(i)], "MESSAGE")
                      .find("report " + std::to_string(i)),
                  std::string::npos);
    EXPECT_EQ(Queued(), 0u);
}

TEST_F(TReportCollectorTest, MalformedAddressLeavesLogAndDialogAloneAndKeepsTheReportQueued) {
    TCapturedStderr errors(FTemp.File("stderr.txt"));
    auto logger = SendingLogger("collector.example:19532");
    logger->SetErrorDialog(edExtended);
    RaiseThroughLoop([] { throw EConvertError("kept"); });
    RaiseThroughLoop([] { throw EConvertError("kept too"); });
    EXPECT_FALSE(logger->ReportCollector()->Flush(300ms));
    const std::string told = errors.Text();

    EXPECT_NE(LogText().find("kept too"), std::string::npos);
    EXPECT_EQ(Shown("ShowModal").size(), 2u);
    EXPECT_TRUE(Shown("MessageDlg").empty());
    EXPECT_EQ(Queued(), 2u);
    EXPECT_EQ(Lines(told, "jexlogger:"), 1u) << told;
    EXPECT_NE(told.find("not an http:// or https:// address"), std::string::npos) << told;
}

TEST_F(TReportCollectorTest, ErrorAnswerOfTheReceiverKeepsTheReportQueuedAndSaysWhy) {
    TJournalReceiver receiver(FTemp.File("received.journal"));
    ASSERT_TRUE(receiver.Start());
    TCapturedStderr errors(FTemp.File("stderr.txt"));
    auto logger = SendingLogger(receiver.Url() + "/nowhere");
    RaiseThroughLoop([] { throw EConvertError("refused"); });
    EXPECT_FALSE(logger->ReportCollector()->Flush(300ms));
    EXPECT_EQ(Queued(), 1u);
    EXPECT_NE(errors.Text().find("answered 404"), std::string::npos);
}

TEST_F(TReportCollectorTest, CollectorThatNeverAnswersNeitherLosesTheReportNorHoldsUpShutdown) {
    TSilentCollector silent;
    ASSERT_FALSE(silent.Url().empty());
    TCapturedStderr errors(FTemp.File("stderr.txt"));
    TJexCollectorSettings settings = CollectorSettings(silent.Url());
    settings.Timeout = 300ms;
    {
        TJexReportCollector collector(settings);
        ASSERT_EQ(collector.Queue(ReportEntry({"slow", "app"})), 0);
        EXPECT_FALSE(collector.Flush(800ms));
        // Going away cuts the upload in progress short.
    }
    EXPECT_EQ(Queued(), 1u);
    EXPECT_NE(errors.Text().find("jexlogger:"), std::string::npos);
}

TEST_F(TReportCollectorTest, FatalReportIsQueuedAndTheNextStartDeliversIt) {
    TJournalReceiver receiver(FTemp.File("received.journal"));
    const std::string log = FTemp.File("faults.log");
    const jex::test::TChildOutcome crash = jex::test::RunWatchedChild(
        {FAULT_CHILD_PROGRAM, "worker-fault", log, receiver.Url(), QueueFolder()}, 10s);
    ASSERT_TRUE(crash.Signalled) << crash.Errors;
    ASSERT_EQ(Queued(), 1u);

    ASSERT_TRUE(receiver.Start());
    const jex::test::TChildOutcome next = jex::test::RunWatchedChild(
        {FAULT_CHILD_PROGRAM, "deliver", FTemp.File("next.log"), receiver.Url(), QueueFolder()},
        30s);
    EXPECT_TRUE(next.Exited && next.ExitCode == 0) << next.Errors;
    receiver.Stop();

    const std::vector<TJournalEntry> reports = Reports(receiver.Export());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(Field(reports[0], "MESSAGE"), jex::test::ReadFileBytes(log));
    EXPECT_EQ(Field(reports[0], "JEX_FATAL"), "1");
    EXPECT_EQ(Field(reports[0], "JEX_EXCEPTION_CLASS"), "EAccessViolation");
    EXPECT_EQ(Field(reports[0], "JEX_UNIT"), "FaultUnit");
    EXPECT_EQ(Field(reports[0], "JEX_PROCEDURE"), "WriteThroughNull()");
    const TCrashSignature signature =
        CrashSignature("EAccessViolation", "FaultUnit", "WriteThroughNull()");
    EXPECT_EQ(Field(reports[0], "JEX_SIGNATURE"), SignatureText(signature));
    EXPECT_EQ(Queued(), 0u);
}

TEST_F(TReportCollectorTest, EntryComposedWithoutATimeIsStoredByTheReceiverNotJustAccepted) {
    // The receiver answers an entry without __REALTIME_TIMESTAMP "202 Accepted" and drops it.
    TJournalReceiver receiver(FTemp.File("received.journal"));
    ASSERT_TRUE(receiver.Start());
    {
        TJexReportCollector collector(CollectorSettings(receiver.Url()));
        collector.Queue(ReportEntry({"no time given", "app"}));
        ASSERT_TRUE(collector.Flush(10s));
    }
    receiver.Stop();
    const std::vector<TJournalEntry> reports = Reports(receiver.Export());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(Field(reports[0], "MESSAGE"), "no time given");
}

TEST_F(TReportCollectorTest, BurstGoesToDiskInOneFileAndWhatWaitsIsWrittenWhenTheCollectorGoes) {
    TCapturedStderr errors(FTemp.File("stderr.txt"));
    // Refused and not tried again soon, so the worker only writes the folder.
    TJexCollectorSettings settings = CollectorSettings("http://127.0.0.1:1");
    settings.FirstRetry = 60s;
    settings.LastRetry = 60s;
    settings.WriteInterval = 400ms;
    const platform::TReportQueue queue(QueueFolder(), 1000);
    {
        TJexReportCollector collector(settings);
        // The first report after a quiet spell is written at once, the ones right after it
        // together once the interval is over (or with it, when the worker was slower).
        for (const char* text : {"burst 1", "burst 2", "burst 3", "burst 4"})
            collector.Queue(ReportEntry({text, "app"}));
        ASSERT_TRUE(WaitFor([&] { return queue.Queued() == 4; }, 5s));
        EXPECT_LE(queue.List().size(), 2u);
        // Handed over but not yet written when the collector goes: written on the way out.
        collector.Queue(ReportEntry({"last", "app"}));
    }
    EXPECT_EQ(queue.Queued(), 5u);
    std::string last;
    ASSERT_EQ(queue.Read(queue.List().back(), last), 0);
    EXPECT_NE(last.find("MESSAGE=last\n"), std::string::npos);
    errors.Text();
}

// The nice value of each thread of this process, from /proc/self/task/<tid>/stat.
std::vector<int> ThreadNiceValues() {
    std::vector<int> values;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // The fields after the command's closing parenthesis: state is the 3rd, nice the 19th.
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 19 && fields >> field; ++i)
            if (i == 19)
                values.push_back(std::stoi(field));
    }
    return values;
}

TEST_F(TReportCollectorTest, WorkerStandsBackInTheSchedulerAndTheCallerKeepsItsPlace) {
    const int before = getpriority(PRIO_PROCESS, 0);
    TJexCollectorSettings settings = CollectorSettings("http://127.0.0.1:1");
    settings.WorkerNice = 10;
    TCapturedStderr errors(FTemp.File("stderr.txt"));
    {
        TJexReportCollector collector(settings);
        const int expected = std::min(before + 10, 19);
        EXPECT_TRUE(WaitFor(
            [&] {
                const std::vector<int> values = ThreadNiceValues();
                return std::count(values.begin(), values.end(), expected) >= 1;
            },
            5s));
        // Only the worker moved: this thread, and the process as seen by others, did not.
        EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))), before);
    }
    errors.Text();
}

TEST_F(TReportCollectorTest, ReportsReachTheFolderWhileAnUploadWaitsForItsAnswer) {
    TSilentCollector silent;
    ASSERT_FALSE(silent.Url().empty());
    TCapturedStderr errors(FTemp.File("stderr.txt"));
    TJexCollectorSettings settings = CollectorSettings(silent.Url());
    settings.Timeout = 20s;
    {
        TJexReportCollector collector(settings);
        collector.Queue(ReportEntry({"being sent", "app"}));
        ASSERT_TRUE(WaitFor([&] { return Queued() == 1; }, 5s));
        collector.Queue(ReportEntry({"handed over meanwhile", "app"}));
        // Long before the upload gives up.
        EXPECT_TRUE(WaitFor([&] { return Queued() == 2; }, 5s));
        EXPECT_EQ(collector.FailedUploads(), 0u);
    }
    errors.Text();
}

// ---- Signature and stored form -----------------------------------------------------------------

TEST(CrashSignatureTest, DependsOnEachNameAndOnWhereOneEndsAndTheNextBegins) {
    const auto text = [](std::string_view AClass, std::string_view AUnit,
                         std::string_view AProcedure) {
        const TCrashSignature signature = CrashSignature(AClass, AUnit, AProcedure);
        return std::string(SignatureText(signature));
    };
    const std::string base = text("EConvertError", "Unit1", "Save");
    EXPECT_EQ(base.size(), 16u);
    EXPECT_EQ(base, text("EConvertError", "Unit1", "Save"));
    EXPECT_NE(base, text("EListError", "Unit1", "Save"));
    EXPECT_NE(base, text("EConvertError", "Unit2", "Save"));
    EXPECT_NE(base, text("EConvertError", "Unit1", "Load"));
    EXPECT_NE(text("E", "ab", "c"), text("E", "a", "bc"));
}

TEST_F(TReportCollectorTest, SignatureIsOnlyInReportsThatAskForItAndIgnoresTheAddress) {
    EXPECT_FALSE(DefaultFormats.Contains(lfSignature));
    std::unique_ptr<TJexExceptionLog> logger(NewLogger(nullptr));
    logger->SetErrorDialog(edNone);
    RaiseThroughLoop([] { throw EConvertError("one"); });
    EXPECT_EQ(LogText().find("Signature:"), std::string::npos);

    logger->SetFormats({lfSignature});
    RaiseThroughLoop([] { throw EConvertError("two"); });
    RaiseThroughLoop([] { throw EConvertError("three"); });
    const TCrashSignature signature = CrashSignature("EConvertError", "", "");
    const std::string expected = "\r\nSignature: " + std::string(SignatureText(signature));
    EXPECT_EQ(LogText().substr(LogText().find("\r\nSignature")), expected + "?" + expected + "?");
}

TEST_F(TReportCollectorTest, StoredFormHoldsCollectorOnlyWhenSet) {
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::string savedValue = saved != nullptr ? saved : "";
    // The copy read back starts its own worker in the default folder: keep it in the test's.
    setenv("XDG_STATE_HOME", FTemp.File("state").c_str(), 1);
    {
        std::unique_ptr<TForm> form(Create<TForm>(nullptr));
        form->SetName("frmMain");
        TJexExceptionLog* logger = Create<TJexExceptionLog>(form.get());
        logger->SetName("ExceptionLog");
        EXPECT_EQ(WriteComponentToText(form.get()).find("Collector"), std::string::npos);
        EXPECT_EQ(logger->ReportCollector(), nullptr);

        logger->SetCollector("http://collector.example:19532");
        const std::string text = WriteComponentToText(form.get());
        EXPECT_NE(text.find("Collector = 'http://collector.example:19532'"), std::string::npos)
            << text;
        std::unique_ptr<TComponent> copy(ReadComponentFromText(text));
        auto* readBack = dynamic_cast<TJexExceptionLog*>(copy->FindComponent("ExceptionLog"));
        ASSERT_NE(readBack, nullptr);
        EXPECT_EQ(readBack->Collector(), "http://collector.example:19532");
        ASSERT_NE(readBack->ReportCollector(), nullptr);
        EXPECT_EQ(readBack->CollectorQueueFolder().rfind(FTemp.File("state") + "/jexlogger/", 0),
                  0u);
        logger->SetCollector("");
        EXPECT_EQ(logger->ReportCollector(), nullptr);
    }
    if (saved != nullptr)
        setenv("XDG_STATE_HOME", savedValue.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}

} // namespace
