// tests/monitors/LogNTTest.cpp - TJexNTEventLog on a temporary event store and key store:
// defaults, reading by position, the read flags, decoding, message texts from registered
// catalogues, reopening on a changed name, writing, and records that do not hold together.
#include "monitors/LogNT.h"

#include "host/core/ClassesStreaming.h"
#include "host/core/Registry.h"
#include "platform/EventLog.h"
#include "platform/KeyStore.h"
#include "platform/MessageCatalog.h"
#include "platform/PlatformServices.h"
#include "platform/fake/File.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace jex;

namespace {

// The Linux store, with the flags of every read written down.
class TRecordingEventStore final : public platform::TEventStore {
public:
    class TReader final : public platform::TEventLogReader {
    public:
        TReader(std::unique_ptr<platform::TEventLogReader> AReal,
                std::vector<std::uint32_t>& AFlags)
            : FReal(std::move(AReal))
            , FFlags(AFlags) {}

        const std::string& LogName() const override { return FReal->LogName(); }

        std::uint32_t NumberOfRecords(int& AError) override {
            return FReal->NumberOfRecords(AError);
        }

        std::uint32_t OldestRecord(int& AError) override { return FReal->OldestRecord(AError); }

        int Read(std::uint32_t AFlags, std::uint32_t ANumber, void* ABuffer, std::uint32_t ASize,
                 std::uint32_t& ARead, std::uint32_t& ANeeded) override {
            FFlags.push_back(AFlags);
            return FReal->Read(AFlags, ANumber, ABuffer, ASize, ARead, ANeeded);
        }

    private:
        std::unique_ptr<platform::TEventLogReader> FReal;
        std::vector<std::uint32_t>& FFlags;
    };

    void SetRoot(const std::string& AFolder) override { Real().SetRoot(AFolder); }

    void SetSystemLogMirror(bool AEnabled) override { Real().SetSystemLogMirror(AEnabled); }

    std::string LogFilePath(const std::string& ALog) override { return Real().LogFilePath(ALog); }

    std::vector<std::string> LogNames() override { return Real().LogNames(); }

    std::unique_ptr<platform::TEventLogReader>
    OpenEventLog(const std::string& AServer, const std::string& ALog, int& AError) override {
        ++Opens;
        std::unique_ptr<platform::TEventLogReader> real =
            Real().OpenEventLog(AServer, ALog, AError);
        if (real == nullptr)
            return nullptr;
        return std::make_unique<TReader>(std::move(real), Flags);
    }

    std::unique_ptr<platform::TEventSource> RegisterEventSource(const std::string& AServer,
                                                                const std::string& ASource,
                                                                int& AError) override {
        return Real().RegisterEventSource(AServer, ASource, AError);
    }

    int RegisterSource(const std::string& ALog, const std::string& ASource,
                       const std::string& AFiles) override {
        return Real().RegisterSource(ALog, ASource, AFiles);
    }

    std::vector<std::uint32_t> Flags; ///< of every read, probes included
    int Opens = 0;

private:
    static platform::TEventStore& Real() { return platform::LinuxEventStore(); }
};

constexpr const char* Catalogue = "MessageId=100\n"
                                  "Language=English\n"
                                  "Copied %1 to %2.\n"
                                  ".\n"
                                  "MessageId=101\n"
                                  "Severity=Error\n"
                                  "Language=English\n"
                                  "Disk %1 failed; see %3%0\n"
                                  ".\n";
constexpr std::uint32_t CopiedId = 0x0FFF0064;
constexpr std::uint32_t FailedId = 0xCFFF0065;

class TJexNTEventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::LinuxKeyStore().SetRoot(FDir.File("registry"));
        platform::LinuxEventStore().SetRoot(FDir.File("logs"));
        FServices.EventStore = &FStore;
        FScope = std::make_unique<platform::TScopedPlatformServices>(FServices);
        FLog.reset(host::Create<TJexNTEventLog>(nullptr));
        FLog->SetSource("MyApp");
    }

    void TearDown() override {
        FLog.reset();
        FScope.reset();
        platform::LinuxEventStore().SetRoot({});
        platform::LinuxKeyStore().SetRoot({});
    }

    // Writes one event through the store, for fields the component does not write.
    static void Report(const std::vector<std::string>& AStrings, std::uint32_t AId = CopiedId,
                       std::uint32_t ATime = 0, const std::string& ASource = "MyApp") {
        int error = 0;
        std::unique_ptr<platform::TEventSource> source =
            platform::PlatformServices().EventStore->RegisterEventSource("", ASource, error);
        ASSERT_NE(source, nullptr);
        platform::TEventReport report;
        report.EventID = AId;
        report.TimeGenerated = ATime;
        report.Strings = AStrings;
        ASSERT_EQ(source->Report(report), 0);
    }

    // Registers MyApp with AFiles as its EventMessageFile under Log.
    void RegisterFiles(const std::string& AFiles) {
        ASSERT_EQ(
            platform::PlatformServices().EventStore->RegisterSource(FLog->Log(), "MyApp", AFiles),
            0);
    }

    std::string WriteCatalogue(const std::string& AName, const std::string& AText = Catalogue) {
        const std::string path = FDir.File(AName);
        jex::test::WriteFileBytes(path, AText);
        return path;
    }

    jex::test::TempDir FDir;
    TRecordingEventStore FStore;
    platform::TPlatformServices FServices;
    std::unique_ptr<platform::TScopedPlatformServices> FScope;
    std::unique_ptr<TJexNTEventLog> FLog;
};

// ---- State ----------------------------------------------------------------------------------

TEST_F(TJexNTEventLogTest, ANewComponentIsInactiveWithItsDefaultsAndAnswersSafely) {
    std::unique_ptr<TJexNTEventLog> log(host::Create<TJexNTEventLog>(nullptr));
    EXPECT_EQ(log->Log(), "Application");
    EXPECT_EQ(log->Server(), "");
    EXPECT_EQ(log->Source(), "");
    EXPECT_FALSE(log->Active());
    EXPECT_FALSE(log->ReadBackward());
    EXPECT_EQ(log->GetEventCount(), 0u);
    // No record loaded: every getter answers empty or zero, and nothing is read.
    Report({"x"});
    log->ReadEvent(0);
    EXPECT_EQ(log->CurrentRecord(), -2);
    EXPECT_EQ(log->GetEventSource(), "");
    EXPECT_EQ(log->GetEventComputer(), "");
    EXPECT_EQ(log->GetEventID(), 0u);
    EXPECT_EQ(log->GetEventType(), 0u);
    EXPECT_EQ(log->GetEventStringCount(), 0u);
    EXPECT_EQ(log->GetEventString(0), "");
    EXPECT_EQ(log->GetEventSID(), nullptr);
    EXPECT_EQ(log->GetEventTime(), 0.0);
    EXPECT_EQ(log->GetEventMessageText(), "");
    EXPECT_TRUE(FStore.Flags.empty());
    // Active, but nothing read yet: the same.
    log->Open();
    EXPECT_EQ(log->GetEventCount(), 1u);
    EXPECT_EQ(log->GetEventSource(), "");
    EXPECT_TRUE(FStore.Flags.empty());
}

TEST_F(TJexNTEventLogTest, ChangingANameWhileActiveReopensAndTheSameNameDoesNothing) {
    Report({"x"});
    FLog->Open();
    FLog->ReadEvent(0);
    ASSERT_EQ(FStore.Opens, 1);
    FLog->SetServer("");
    FLog->SetSource("MyApp");
    FLog->SetLog("Application");
    EXPECT_EQ(FStore.Opens, 1);
    EXPECT_EQ(FLog->CurrentRecord(), 0);

    FLog->SetServer("far-away-host"); // unreachable: active, but with nothing open
    EXPECT_EQ(FStore.Opens, 2);
    EXPECT_TRUE(FLog->Active());
    EXPECT_EQ(FLog->CurrentRecord(), -2);
    EXPECT_EQ(FLog->GetEventCount(), 0u);
    FLog->SetServer("");
    EXPECT_EQ(FStore.Opens, 3);
    EXPECT_EQ(FLog->GetEventCount(), 1u);

    FLog->Close();
    FLog->SetSource("Other"); // inactive: only stored
    EXPECT_EQ(FStore.Opens, 3);
    EXPECT_TRUE(FLog->RecordBuffer().empty());
}

TEST_F(TJexNTEventLogTest, AStoredActiveComponentOpensAndReopensForEachNameReadAfterIt) {
    LogNTInitialization();
    Report({"stored"});
    FLog->SetName("EventLog");
    FLog->SetLog("Custom");
    FLog->Open();
    const std::string text = host::WriteComponentToText(FLog.get());
    // The stored order: the base's properties, then Server (empty: not written), Source, Log.
    const std::size_t active = text.find("Active = True");
    const std::size_t source = text.find("Source = 'MyApp'");
    const std::size_t log = text.find("Log = 'Custom'");
    ASSERT_NE(active, std::string::npos) << text;
    EXPECT_LT(active, source);
    EXPECT_LT(source, log);
    EXPECT_EQ(text.find("Server"), std::string::npos);
    FLog->Close();

    const int before = FStore.Opens;
    std::unique_ptr<host::TComponent> copy(host::ReadComponentFromText(text));
    auto* read = dynamic_cast<TJexNTEventLog*>(copy.get());
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(read->Active());
    EXPECT_EQ(FStore.Opens - before, 3); // at Active, then again for Source and for Log
    EXPECT_EQ(read->GetEventCount(), 1u);
    copy.reset();
    LogNTFinalization();
}

// ---- Reading --------------------------------------------------------------------------------

TEST_F(TJexNTEventLogTest, ReadEventLoadsByPositionAndReadsEachPositionOnce) {
    Report({"oldest"});
    Report({"newest"});
    FLog->Open();
    FLog->ReadEvent(0);
    EXPECT_EQ(FLog->GetEventString(0), "oldest");
    const std::size_t reads = FStore.Flags.size();
    EXPECT_EQ(reads, 2u); // the size probe, then the read
    FLog->ReadEvent(0);
    EXPECT_EQ(FStore.Flags.size(), reads); // the buffer holds it already
    FLog->ReadEvent(1);
    EXPECT_EQ(FLog->GetEventString(0), "newest");
    EXPECT_EQ(FLog->RecordBuffer().size(), [&] {
        std::uint32_t length = 0;
        std::memcpy(&length, FLog->RecordBuffer().data(), 4);
        return length;
    }());

    // After a new activation, the first read reads again, whatever the position.
    FLog->Close();
    FLog->Open();
    FLog->ReadEvent(1);
    EXPECT_EQ(FStore.Flags.size(), reads + 4);
    EXPECT_EQ(FLog->GetEventString(0), "newest");

    // Past the end: the read fails, the record loaded before stays, the position moves.
    FLog->ReadEvent(7);
    EXPECT_EQ(FLog->CurrentRecord(), 7);
    EXPECT_EQ(FLog->GetEventString(0), "newest");
}

TEST_F(TJexNTEventLogTest, ReadingBackwardAddressesTheSameRecordWithOtherFlags) {
    for (const char* text : {"a", "b", "c"})
        Report({text});
    FLog->Open();
    FLog->ReadEvent(1);
    EXPECT_EQ(FLog->GetEventString(0), "b");
    FLog->Close();
    FLog->SetReadBackward(true);
    FLog->Open();
    FLog->ReadEvent(1);
    EXPECT_EQ(FLog->GetEventString(0), "b");
    EXPECT_EQ(FStore.Flags, (std::vector<std::uint32_t>{0x6, 0x6, 0xA, 0xA}));
}

TEST_F(TJexNTEventLogTest, GettersDecodeTheLoadedRecord) {
    Report({"first", "second"}, 0xC0000064, 86400);
    FLog->Open();
    FLog->ReadEvent(0);
    EXPECT_EQ(FLog->GetEventSource(), "MyApp");
    EXPECT_FALSE(FLog->GetEventComputer().empty());
    EXPECT_EQ(FLog->GetEventStringCount(), 2u);
    EXPECT_EQ(FLog->GetEventString(0), "first");
    EXPECT_EQ(FLog->GetEventString(1), "second");
    EXPECT_EQ(FLog->GetEventString(2), "");
    EXPECT_EQ(FLog->GetEventID(), 0xC0000064u); // severity bits kept
    EXPECT_EQ(FLog->GetEventType(), platform::EventLogInformationType);
    EXPECT_DOUBLE_EQ(FLog->GetEventTime(), 25570.0); // 2 January 1970, UTC
    // No identifier was written: its offset is where the strings start.
    EXPECT_NE(FLog->GetEventSID(), nullptr);
    EXPECT_STREQ(static_cast<const char*>(FLog->GetEventSID()), "first");
}

TEST_F(TJexNTEventLogTest, RecordsThatDoNotHoldTogetherGiveEmptyAnswers) {
    Report({"text"});
    // Damage the record's inner offsets; the store still hands it out whole.
    const std::string path = platform::LinuxEventStore().LogFilePath("");
    std::string bytes = jex::test::ReadFileBytes(path);
    const std::size_t at = platform::EventLogHeaderSize;
    const std::uint32_t outside = 0xFFFFFFF0;
    const std::uint16_t many = 9000;
    std::memcpy(bytes.data() + at + 36, &outside, 4);
    std::memcpy(bytes.data() + at + 44, &outside, 4);
    std::memcpy(bytes.data() + at + 26, &many, 2);
    jex::test::WriteFileBytes(path, bytes);
    RegisterFiles(WriteCatalogue("msg.mc"));
    FLog->Open();
    FLog->ReadEvent(0);
    EXPECT_EQ(FLog->GetEventSource(), "MyApp");
    EXPECT_EQ(FLog->GetEventStringCount(), 9000u);
    EXPECT_EQ(FLog->GetEventString(0), "");
    EXPECT_EQ(FLog->GetEventString(8999), "");
    EXPECT_EQ(FLog->GetEventSID(), nullptr);
    // The message's inserts find no strings and stay as written.
    EXPECT_EQ(FLog->GetEventMessageText(), "Copied %1 to %2.");

    // Names that run to the end of the record without their zero.
    std::string unterminated = jex::test::ReadFileBytes(path);
    std::uint32_t length = 0;
    std::memcpy(&length, unterminated.data() + at, 4);
    std::memset(unterminated.data() + at + 56, 'A', length - 56 - 4);
    jex::test::WriteFileBytes(path, unterminated);
    FLog->Close();
    FLog->Open();
    FLog->ReadEvent(0);
    EXPECT_EQ(FLog->GetEventSource(), "");
    EXPECT_EQ(FLog->GetEventComputer(), "");
    EXPECT_EQ(FLog->GetEventMessageText(), "");
    EXPECT_EQ(jex::test::ReadFileBytes(path), unterminated); // readers never write
}

// ---- Message texts --------------------------------------------------------------------------

TEST_F(TJexNTEventLogTest, MessageTextsPutTheStringsInPlaceAndDropOnlyALineEndThatIsThere) {
    RegisterFiles(WriteCatalogue("msg.mc"));
    Report({"a.txt", "b.txt"});
    Report({"sda"}, FailedId);
    FLog->Open();
    FLog->ReadEvent(0);
    EXPECT_EQ(FLog->GetEventMessageText(), "Copied a.txt to b.txt.");
    // Ends in %0: no line end to drop, so nothing of the text goes; %3 has no string.
    FLog->ReadEvent(1);
    EXPECT_EQ(FLog->GetEventMessageText(), "Disk sda failed; see %3");
}

TEST_F(TJexNTEventLogTest, MessageFilesAreTriedInOrderUntilOneHoldsTheMessage) {
    const std::string other = WriteCatalogue("other.mc", "MessageId=1\nLanguage=English\nx\n.\n");
    platform::TMessageCatalog catalog;
    std::string error;
    ASSERT_TRUE(platform::ParseMcText(Catalogue, catalog, error));
    const std::string compiled = FDir.File("msg.bin");
    jex::test::WriteFileBytes(compiled, platform::WriteMessageTable(catalog));
    ::setenv("JEX_LOGNT_TEST_DIR", FDir.Path().c_str(), 1);
    Report({"a", "b"});
    FLog->Open();
    FLog->ReadEvent(0);

    // The first file lacks the message, the second (compiled, named through a variable) has it.
    RegisterFiles(other + ";%JEX_LOGNT_TEST_DIR%/msg.bin");
    EXPECT_EQ(FLog->GetEventMessageText(), "Copied a to b.");
    RegisterFiles(other);
    EXPECT_EQ(FLog->GetEventMessageText(), "");
    // Missing files, folders, broken catalogues, empty names and over-long paths are skipped.
    const std::string broken = WriteCatalogue("broken.mc", "MessageId=100\nLanguage=Klingon\n.\n");
    RegisterFiles(FDir.File("missing.mc") + ";" + FDir.Path().string() + ";;" + broken + ";/" +
                  std::string(300, 'p') + ";" + compiled);
    EXPECT_EQ(FLog->GetEventMessageText(), "Copied a to b.");
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += FDir.File("none" + std::to_string(i)) + ";";
    RegisterFiles(many + compiled);
    EXPECT_EQ(FLog->GetEventMessageText(), "Copied a to b.");
    RegisterFiles(many);
    EXPECT_EQ(FLog->GetEventMessageText(), "");
    ::unsetenv("JEX_LOGNT_TEST_DIR");

    // Under another log the source has no entry.
    FLog->SetLog("System");
    EXPECT_EQ(FLog->GetEventMessageText(), "");
}

// ---- Writing --------------------------------------------------------------------------------

TEST_F(TJexNTEventLogTest, WritingWorksWhileInactiveAndKeepsLongTextsWhole) {
    const std::string text(2000, 'w');
    FLog->WriteToEventLog(text, EVENTLOG_ERROR_TYPE, 0x12345, 0xC0000001);
    FLog->WriteToEventLog("short", EVENTLOG_WARNING_TYPE, 1, 2);
    EXPECT_FALSE(FLog->Active());
    FLog->Open();
    ASSERT_EQ(FLog->GetEventCount(), 2u);
    FLog->ReadEvent(0);
    EXPECT_EQ(FLog->GetEventString(0), text);
    EXPECT_EQ(FLog->GetEventStringCount(), 1u);
    EXPECT_EQ(FLog->GetEventType(), EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(FLog->GetEventID(), 0xC0000001u);
    std::uint16_t category = 0;
    std::memcpy(&category, FLog->RecordBuffer().data() + 28, 2);
    EXPECT_EQ(category, 0x2345); // the low 16 bits
    FLog->ReadEvent(1);
    EXPECT_EQ(FLog->GetEventString(0), "short");

    // An unreachable server: nothing is written, and nothing is raised.
    FLog->SetServer("far-away-host");
    FLog->WriteToEventLog("lost", EVENTLOG_ERROR_TYPE, 0, 1);
    FLog->SetServer("");
    EXPECT_EQ(FLog->GetEventCount(), 2u);
}

TEST_F(TJexNTEventLogTest, AFailedWriteRaisesNothingAndKeepsTheLog) {
    FLog->WriteToEventLog("kept", EVENTLOG_ERROR_TYPE, 0, 1);
    platform::TFakeFileService files;
    {
        platform::TPlatformServices services;
        services.Files = &files;
        platform::TScopedPlatformServices scope(services);
        files.FailAlways(platform::fkWrite, ENOSPC);
        EXPECT_NO_THROW(FLog->WriteToEventLog("lost", EVENTLOG_ERROR_TYPE, 0, 2));
    }
    FLog->Open();
    ASSERT_EQ(FLog->GetEventCount(), 1u);
    FLog->ReadEvent(0);
    EXPECT_EQ(FLog->GetEventString(0), "kept");
}

} // namespace
