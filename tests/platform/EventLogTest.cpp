// tests/platform/EventLogTest.cpp - the Linux event store on a temporary key store and log
// folder: records written and read back whole, read flags and errors, log and source lookup,
// compaction that keeps numbers, damaged files, four writing processes, the system-log mirror
// and write faults.
#include "platform/EventLog.h"

#include "platform/KeyStore.h"
#include "platform/PlatformServices.h"
#include "platform/fake/File.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>

using namespace platform;

namespace {

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        LinuxKeyStore().SetRoot(FDir.File("registry"));
        LinuxEventStore().SetRoot(FDir.File("logs"));
    }

    void TearDown() override {
        LinuxEventStore().SetRoot({});
        LinuxKeyStore().SetRoot({});
    }

    static TEventStore& Store() { return LinuxEventStore(); }

    // Writes AText as one event of ASource; the store's error number.
    static int Write(const std::string& ASource, const std::string& AText,
                     std::uint32_t AId = 1000) {
        int error = 0;
        std::unique_ptr<TEventSource> source = Store().RegisterEventSource("", ASource, error);
        if (source == nullptr)
            return error;
        TEventReport report;
        report.EventID = AId;
        report.EventType = EventLogWarningType;
        report.Category = 3;
        report.Strings = {AText};
        return source->Report(report);
    }

    // Record ANumber of the log, decoded; false when it cannot be read whole.
    static bool ReadRecord(TEventLogReader& AReader, std::uint32_t ANumber,
                           TEventRecordView& ARecord, int* AError = nullptr) {
        std::uint32_t read = 0;
        std::uint32_t needed = 0;
        int error = AReader.Read(EventLogSeekRead | EventLogForwardsRead, ANumber, nullptr, 0, read,
                                 needed);
        if (error == EventLogInsufficientBuffer) {
            std::string buffer(needed, '\0');
            error = AReader.Read(EventLogSeekRead | EventLogForwardsRead, ANumber, buffer.data(),
                                 needed, read, needed);
            if (error == 0 && read == buffer.size() && DecodeEventRecord(buffer, ARecord))
                return ARecord.RecordNumber == ANumber;
        }
        if (AError != nullptr)
            *AError = error;
        return false;
    }

    static void SetMaxSize(const std::string& ALog, std::uint32_t ASize) {
        const std::string key = std::string(EventLogKey) + "\\" + ALog;
        ASSERT_EQ(LinuxKeyStore().CreateKey("HKEY_LOCAL_MACHINE", key), 0);
        ASSERT_EQ(
            LinuxKeyStore().WriteValue("HKEY_LOCAL_MACHINE", key, "MaxSize", kvInteger,
                                       std::string_view(reinterpret_cast<const char*>(&ASize), 4)),
            0);
    }

    // Every record of the log, in order; stops at the first one that cannot be read.
    static std::vector<TEventRecordView> AllRecords(const std::string& ALog = DefaultEventLog) {
        int error = 0;
        std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", ALog, error);
        std::vector<TEventRecordView> records;
        const std::uint32_t oldest = reader->OldestRecord(error);
        const std::uint32_t count = reader->NumberOfRecords(error);
        for (std::uint32_t n = oldest; n < oldest + count; ++n) {
            TEventRecordView record;
            if (!ReadRecord(*reader, n, record))
                break;
            records.push_back(record);
        }
        return records;
    }

    jex::test::TempDir FDir;
};

// ---- Writing and reading --------------------------------------------------------------------

TEST_F(EventLogTest, AnEmptyLogHasNoRecordsAndNoOldestNumber) {
    int error = 0;
    std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", "Application", error);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->NumberOfRecords(error), 0u);
    EXPECT_EQ(reader->OldestRecord(error), 0u);
    std::uint32_t read = 0;
    std::uint32_t needed = 0;
    EXPECT_EQ(reader->Read(EventLogSeekRead | EventLogForwardsRead, 1, nullptr, 0, read, needed),
              EventLogHandleEof);
}

TEST_F(EventLogTest, WrittenEventsReadBackWholeInTheClassicLayout) {
    ASSERT_EQ(Write("MyApp", "first"), 0);
    ASSERT_EQ(Write("MyApp", std::string(2000, 'x'), 0xC0000005), 0);

    int error = 0;
    std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", "MyApp", error);
    EXPECT_EQ(reader->LogName(), "Application"); // no log of that name: the default one
    EXPECT_EQ(reader->NumberOfRecords(error), 2u);
    EXPECT_EQ(reader->OldestRecord(error), 1u);

    std::uint32_t read = 0;
    std::uint32_t needed = 0;
    ASSERT_EQ(reader->Read(EventLogSeekRead | EventLogForwardsRead, 1, nullptr, 0, read, needed),
              EventLogInsufficientBuffer);
    std::string buffer(needed, '\0');
    ASSERT_EQ(reader->Read(EventLogSeekRead | EventLogForwardsRead, 1, buffer.data(), needed, read,
                           needed),
              0);
    ASSERT_EQ(read, buffer.size()); // exactly one record, as the probe said
    // The fixed offsets hold: source name at 56, strings at StringOffset.
    EXPECT_STREQ(buffer.data() + 56, "MyApp");
    std::uint32_t stringOffset = 0;
    std::memcpy(&stringOffset, buffer.data() + 36, 4);
    EXPECT_STREQ(buffer.data() + stringOffset, "first");

    TEventRecordView record;
    ASSERT_TRUE(ReadRecord(*reader, 2, record));
    EXPECT_EQ(record.EventID, 0xC0000005u);
    EXPECT_EQ(record.EventType, EventLogWarningType);
    EXPECT_EQ(record.Category, 3);
    EXPECT_EQ(record.SourceName, "MyApp");
    EXPECT_FALSE(record.ComputerName.empty());
    ASSERT_EQ(record.Strings.size(), 1u);
    EXPECT_EQ(record.Strings[0], std::string(2000, 'x'));
    EXPECT_NE(record.TimeGenerated, 0u);
}

TEST_F(EventLogTest, ABackwardsReadStartsAtTheNewestAndBringsLongRecordsWhole) {
    // A report with a long call stack is far larger than one read of the file brings along.
    const std::string longText(20000, 's');
    ASSERT_EQ(Write("MyApp", "oldest"), 0);
    ASSERT_EQ(Write("MyApp", longText), 0);
    ASSERT_EQ(Write("MyApp", "newest"), 0);
    int error = 0;
    std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", "Application", error);
    std::string buffer(64 * 1024, '\0');
    std::uint32_t read = 0;
    std::uint32_t needed = 0;
    ASSERT_EQ(reader->Read(EventLogSequentialRead | EventLogBackwardsRead, 0, buffer.data(),
                           static_cast<std::uint32_t>(buffer.size()), read, needed),
              0);
    std::vector<std::string> texts;
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t at = 0; at + 4 <= read;) {
        std::uint32_t length = 0;
        std::memcpy(&length, buffer.data() + at, 4);
        ASSERT_GT(length, 0u);
        TEventRecordView record;
        ASSERT_TRUE(DecodeEventRecord(std::string_view(buffer).substr(at, length), record));
        ASSERT_EQ(record.Strings.size(), 1u);
        texts.push_back(record.Strings[0]);
        numbers.push_back(record.RecordNumber);
        at += length;
    }
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{3, 2, 1}));
    EXPECT_EQ(texts, (std::vector<std::string>{"newest", longText, "oldest"}));
    // Past the oldest record there is nothing more to read.
    EXPECT_EQ(reader->Read(EventLogSequentialRead | EventLogBackwardsRead, 0, buffer.data(),
                           static_cast<std::uint32_t>(buffer.size()), read, needed),
              EventLogHandleEof);
}

TEST_F(EventLogTest, ReadsCheckTheirFlagsAndNumbers) {
    for (int i = 1; i <= 3; ++i)
        ASSERT_EQ(Write("MyApp", "event " + std::to_string(i)), 0);
    int error = 0;
    std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", "", error);
    std::uint32_t read = 0;
    std::uint32_t needed = 0;
    std::string buffer(4096, '\0');
    EXPECT_EQ(reader->Read(EventLogSeekRead, 1, buffer.data(), 4096, read, needed),
              EventLogInvalidParameter);
    EXPECT_EQ(reader->Read(EventLogSeekRead | EventLogSequentialRead | EventLogForwardsRead, 1,
                           buffer.data(), 4096, read, needed),
              EventLogInvalidParameter);
    EXPECT_EQ(
        reader->Read(EventLogSeekRead | EventLogForwardsRead, 0, buffer.data(), 4096, read, needed),
        EventLogInvalidParameter);
    EXPECT_EQ(
        reader->Read(EventLogSeekRead | EventLogForwardsRead, 4, buffer.data(), 4096, read, needed),
        EventLogHandleEof);

    // A seek read backwards from 3 brings 3, 2, 1; a buffer takes as many whole records as fit.
    ASSERT_EQ(reader->Read(EventLogSeekRead | EventLogBackwardsRead, 3, buffer.data(), 4096, read,
                           needed),
              0);
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t at = 0; at < read;) {
        std::uint32_t length = 0;
        std::uint32_t number = 0;
        std::memcpy(&length, buffer.data() + at, 4);
        std::memcpy(&number, buffer.data() + at + 8, 4);
        numbers.push_back(number);
        at += length;
    }
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{3, 2, 1}));

    // Sequential reads go on where the last read ended, until the end.
    std::unique_ptr<TEventLogReader> sequential = Store().OpenEventLog("", "", error);
    TEventRecordView record;
    int count = 0;
    while (true) {
        std::uint32_t length = 0;
        if (sequential->Read(EventLogSequentialRead | EventLogForwardsRead, 0, nullptr, 0, read,
                             length) != EventLogInsufficientBuffer)
            break;
        std::string one(length, '\0');
        ASSERT_EQ(sequential->Read(EventLogSequentialRead | EventLogForwardsRead, 0, one.data(),
                                   length, read, needed),
                  0);
        ASSERT_TRUE(DecodeEventRecord(one, record));
        EXPECT_EQ(record.Strings.at(0), "event " + std::to_string(++count));
    }
    EXPECT_EQ(count, 3);
}

TEST_F(EventLogTest, SourcesWriteToTheLogTheyAreRegisteredWith) {
    ASSERT_EQ(Store().RegisterSource("Custom", "Mine", "/nowhere/msg.mc"), 0);
    ASSERT_EQ(Write("Mine", "to custom"), 0);
    ASSERT_EQ(Write("Stranger", "to the default"), 0);
    EXPECT_EQ(AllRecords("custom").size(), 1u); // log names ignore letter case
    ASSERT_EQ(AllRecords("Application").size(), 1u);
    EXPECT_EQ(AllRecords("Application")[0].SourceName, "Stranger");
    EXPECT_NE(Store().LogFilePath("Custom"), Store().LogFilePath("Application"));

    TKeyValue value;
    ASSERT_EQ(LinuxKeyStore().ReadValue("HKEY_LOCAL_MACHINE",
                                        std::string(EventLogKey) + "\\Custom\\Mine",
                                        "EventMessageFile", value),
              0);
    EXPECT_EQ(value.Type, kvExpandString);
    EXPECT_EQ(value.Data, std::string("/nowhere/msg.mc") + '\0');

    EXPECT_EQ(Store().RegisterSource("Custom", "Bad\\Name", "x"), EINVAL);
    EXPECT_EQ(Store().RegisterSource("Custom", "custom", "x"), EINVAL);
    EXPECT_EQ(Store().RegisterSource("../etc", "Mine", "x"), EINVAL);
}

TEST_F(EventLogTest, ALogsFileValueNamesWhereItIsKeptUnlessItIsNoPath) {
    const std::string hive = "HKEY_LOCAL_MACHINE";
    const auto setFile = [&](const std::string& ALog, TKeyValueType AType, std::string AData) {
        const std::string key = std::string(EventLogKey) + "\\" + ALog;
        ASSERT_EQ(LinuxKeyStore().CreateKey(hive, key), 0);
        ASSERT_EQ(LinuxKeyStore().WriteValue(hive, key, "File", AType, AData), 0);
    };
    const std::string own = FDir.File("own.evt");
    setFile("Application", kvString, own + '\0');
    ASSERT_EQ(Store().LogFilePath("application"), own);
    ASSERT_EQ(Write("MyApp", "kept where the key store says"), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(own));
    ASSERT_EQ(AllRecords().size(), 1u);
    EXPECT_EQ(AllRecords()[0].SourceName, "MyApp");

    // A path to expand (nothing to expand in it here) is taken as well.
    setFile("Expanded", kvExpandString, FDir.File("expanded.evt") + '\0');
    EXPECT_EQ(Store().LogFilePath("Expanded"), FDir.File("expanded.evt"));
    // An empty path, or a value that is no text, leaves the log in the store's own folder.
    ASSERT_EQ(LinuxKeyStore().CreateKey(hive, std::string(EventLogKey) + "\\Other"), 0);
    const std::string usual = Store().LogFilePath("Other");
    setFile("Other", kvString, std::string(1, '\0'));
    EXPECT_EQ(Store().LogFilePath("Other"), usual);
    setFile("Other", kvInteger, std::string(4, '\0'));
    EXPECT_EQ(Store().LogFilePath("Other"), usual);
    EXPECT_EQ(usual.rfind(FDir.File("logs"), 0), 0u) << usual;
}

TEST_F(EventLogTest, OnlyThisMachineIsAServer) {
    for (const char* local : {"", ".", "localhost", "\\\\localhost"})
        EXPECT_TRUE(IsLocalServer(local)) << local;
    int error = 0;
    EXPECT_EQ(Store().OpenEventLog("far-away-host", "Application", error), nullptr);
    EXPECT_EQ(error, EventLogServerUnavailable);
    EXPECT_EQ(Store().RegisterEventSource("\\\\far-away-host", "MyApp", error), nullptr);
    EXPECT_EQ(error, EventLogServerUnavailable);
}

// ---- Size limit -----------------------------------------------------------------------------

TEST_F(EventLogTest, ALogAtItsLimitDropsItsOldestRecordsAndKeepsTheNumbers) {
    SetMaxSize("Application", 64 * 1024);
    int error = 0;
    std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", "", error);
    TEventRecordView record;
    for (int i = 1; i <= 2000; ++i) {
        ASSERT_EQ(Write("MyApp", "event " + std::to_string(i)), 0) << i;
        if (i % 500 == 0) { // a reader that stays open follows every compaction
            ASSERT_TRUE(ReadRecord(*reader, static_cast<std::uint32_t>(i), record)) << i;
            EXPECT_EQ(record.Strings.at(0), "event " + std::to_string(i));
        }
    }
    EXPECT_LE(jex::test::ReadFileBytes(Store().LogFilePath("")).size(), 64u * 1024u);
    const std::vector<TEventRecordView> records = AllRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_GT(records.front().RecordNumber, 1u);
    EXPECT_EQ(records.back().RecordNumber, 2000u);
    for (const TEventRecordView& each : records)
        EXPECT_EQ(each.Strings.at(0), "event " + std::to_string(each.RecordNumber));
    EXPECT_EQ(records.size(), reader->NumberOfRecords(error));
}

TEST_F(EventLogTest, AnEventLargerThanTheWholeLogIsRefused) {
    SetMaxSize("Application", 64 * 1024);
    EXPECT_EQ(Write("MyApp", std::string(70 * 1024, 'y')), EventLogFileFull);
    EXPECT_EQ(Write("MyApp", "small"), 0);
    EXPECT_EQ(AllRecords().size(), 1u);
}

// ---- Damaged files --------------------------------------------------------------------------

class DamagedEventLogTest : public EventLogTest {
protected:
    void SetUp() override {
        EventLogTest::SetUp();
        for (int i = 1; i <= 10; ++i)
            ASSERT_EQ(Write("MyApp", "event " + std::to_string(i)), 0);
        FPath = Store().LogFilePath("");
        FGood = jex::test::ReadFileBytes(FPath);
        // Record offsets, from the lengths.
        for (std::uint32_t at = EventLogHeaderSize; FOffsets.size() < 10;) {
            FOffsets.push_back(at);
            std::uint32_t length = 0;
            std::memcpy(&length, FGood.data() + at, 4);
            at += length;
        }
    }

    // Reads every record and the count; the file must be exactly as it was damaged.
    void ReadAllAndCheckUntouched(const std::string& ADamaged) {
        jex::test::WriteFileBytes(FPath, ADamaged);
        int error = 0;
        std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", "", error);
        const std::uint32_t count = reader->NumberOfRecords(error);
        TEventRecordView record;
        for (std::uint32_t n = 0; n <= 12; ++n)
            if (ReadRecord(*reader, n, record)) {
                EXPECT_EQ(record.Strings.at(0), "event " + std::to_string(n));
            }
        std::string buffer(1 << 16, '\0');
        std::uint32_t read = 0;
        std::uint32_t needed = 0;
        reader->Read(EventLogSequentialRead | EventLogBackwardsRead, 0, buffer.data(),
                     static_cast<std::uint32_t>(buffer.size()), read, needed);
        EXPECT_LE(count, 10u);
        EXPECT_EQ(jex::test::ReadFileBytes(FPath), ADamaged);
    }

    std::string FPath;
    std::string FGood;
    std::vector<std::uint32_t> FOffsets;
};

TEST_F(DamagedEventLogTest, ATruncatedFileIsReportedCorruptAndLeftAlone) {
    for (std::size_t size : {std::size_t{0}, std::size_t{20}, std::size_t{47},
                             std::size_t{FOffsets[4] + 30}, FGood.size() - 41}) {
        SCOPED_TRACE(size);
        ReadAllAndCheckUntouched(FGood.substr(0, size));
    }
    // A header that promises more than the file holds reads as damaged, not as records.
    jex::test::WriteFileBytes(FPath, FGood.substr(0, FOffsets[4] + 30));
    int error = 0;
    EXPECT_EQ(Store().OpenEventLog("", "", error)->NumberOfRecords(error), 0u);
    EXPECT_EQ(error, EventLogFileCorrupt);
    // Writers do not write over what they cannot read.
    EXPECT_EQ(Write("MyApp", "more"), EventLogFileCorrupt);
    EXPECT_EQ(jex::test::ReadFileBytes(FPath), FGood.substr(0, FOffsets[4] + 30));
}

TEST_F(DamagedEventLogTest, GarbledRecordsAndLengthsKeepTheRecordsBeforeThemReadable) {
    struct TDamage {
        const char* What;
        std::size_t At;
        std::uint32_t Value;
    };

    const TDamage damages[] = {
        {"length zero", FOffsets[5], 0},
        {"length past the end", FOffsets[5], 0x7FFFFFF0},
        {"length not a multiple of four", FOffsets[5], 61},
        {"mark", FOffsets[5] + 4, 0x12345678},
        {"record number", FOffsets[5] + 8, 77},
        {"closing length", FOffsets[6] - 4, 12},
        {"string offset", FOffsets[5] + 36, 0xFFFFFF00},
        {"header end offset", 20, 0xFFFFFFF0},
        {"header oldest number", 28, 0},
        {"header signature", 4, 0},
    };
    for (const TDamage& damage : damages) {
        SCOPED_TRACE(damage.What);
        std::string bytes = FGood;
        std::memcpy(bytes.data() + damage.At, &damage.Value, 4);
        ReadAllAndCheckUntouched(bytes);
    }
    // A record whose head is damaged: the ones before it still read.
    std::string bytes = FGood;
    std::memset(bytes.data() + FOffsets[5] + 4, 0xEE, 4);
    jex::test::WriteFileBytes(FPath, bytes);
    int error = 0;
    std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", "", error);
    TEventRecordView record;
    EXPECT_TRUE(ReadRecord(*reader, 5, record));
    EXPECT_FALSE(ReadRecord(*reader, 6, record, &error));
    EXPECT_EQ(error, EventLogFileCorrupt);
}

TEST_F(DamagedEventLogTest, AFolderInPlaceOfTheLogFileReadsAsNoLog) {
    std::filesystem::remove(FPath);
    std::filesystem::create_directory(FPath);
    int error = 0;
    EXPECT_EQ(Store().OpenEventLog("", "", error)->NumberOfRecords(error), 0u);
    EXPECT_NE(Write("MyApp", "more"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(FPath));
}

TEST_F(EventLogTest, AReaderSeesRecordsAnotherProcessAppendsWhileItReads) {
    ASSERT_EQ(Write("MyApp", "event 1"), 0);
    int error = 0;
    std::unique_ptr<TEventLogReader> reader = Store().OpenEventLog("", "", error);
    TEventRecordView record;
    ASSERT_TRUE(ReadRecord(*reader, 1, record));
    ASSERT_EQ(jex::test::RunInChild([] {
                  for (int i = 2; i <= 50; ++i)
                      if (Write("Other", "event " + std::to_string(i)) != 0)
                          return 1;
                  return 0;
              }),
              0);
    EXPECT_EQ(reader->NumberOfRecords(error), 50u);
    ASSERT_TRUE(ReadRecord(*reader, 50, record));
    EXPECT_EQ(record.Strings.at(0), "event 50");
    EXPECT_EQ(record.SourceName, "Other");
}

// ---- Several writers ------------------------------------------------------------------------

TEST_F(EventLogTest, FourProcessesWritingAtOnceGetUniqueGapFreeNumbers) {
    constexpr int Writers = 4;
    constexpr int EachWrites = 2500;
    std::vector<std::unique_ptr<jex::test::TChildProcess>> children;
    for (int child = 0; child < Writers; ++child)
        children.push_back(std::make_unique<jex::test::TChildProcess>([child] {
            int error = 0;
            std::unique_ptr<TEventSource> source =
                Store().RegisterEventSource("", "Writer" + std::to_string(child), error);
            for (int i = 0; i < EachWrites; ++i) {
                TEventReport report;
                report.Strings = {std::to_string(child) + ":" + std::to_string(i)};
                if (source == nullptr || source->Report(report) != 0)
                    return 1;
            }
            return 0;
        }));
    for (auto& child : children)
        EXPECT_EQ(child->Wait(), 0);

    const std::vector<TEventRecordView> records = AllRecords();
    ASSERT_EQ(records.size(), std::size_t{Writers * EachWrites});
    std::set<std::string> texts;
    for (std::size_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(records[i].RecordNumber, i + 1);
        ASSERT_EQ(records[i].Strings.size(), 1u);
        EXPECT_EQ(records[i].SourceName, "Writer" + records[i].Strings[0].substr(0, 1));
        texts.insert(records[i].Strings[0]);
    }
    EXPECT_EQ(texts.size(), records.size());
}

// ---- The system log ------------------------------------------------------------------------

// The child takes a mount namespace of its own and puts a listening socket at /dev/log there, so
// the mirror's datagrams can be read without touching the machine's system log.
TEST_F(EventLogTest, EveryWrittenEventIsMirroredToTheSystemLogUnderItsSourceWithItsPriority) {
    constexpr int NoNamespace = 77;
    const int outcome = jex::test::RunInChild([] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("jex-dev", "/dev", "tmpfs", 0, nullptr) != 0)
            return NoNamespace;
        const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, "/dev/log");
        if (listener < 0 ||
            ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return 2;
        const timeval patience{5, 0};
        ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);

        auto next = [listener] {
            char buffer[4096];
            const ssize_t got = ::recv(listener, buffer, sizeof buffer, 0);
            return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
        };
        auto mirrored = [](const std::string& ALine, const char* APriority, const char* AText) {
            const std::string tail = std::string("]: ") + AText;
            return ALine.rfind(APriority, 0) == 0 &&
                   ALine.find(" ShopService[") != std::string::npos &&
                   ALine.size() >= tail.size() &&
                   ALine.compare(ALine.size() - tail.size(), tail.size(), tail) == 0;
        };

        if (Write("ShopService", "disk nearly full") != 0) // a warning: user facility, warning
            return 3;
        if (!mirrored(next(), "<12>", "disk nearly full"))
            return 4;
        int error = 0;
        std::unique_ptr<TEventSource> source =
            Store().RegisterEventSource("", "ShopService", error);
        TEventReport report;
        report.EventType = EventLogErrorType;
        report.Strings = {"order 7", "not shipped"};
        if (source == nullptr || source->Report(report) != 0)
            return 5;
        if (!mirrored(next(), "<11>", "order 7 not shipped")) // the strings, space-separated
            return 6;
        Store().SetSystemLogMirror(false); // switched off: the next datagram is the later event's
        if (source->Report(report) != 0)
            return 7;
        Store().SetSystemLogMirror(true);
        report.EventType = EventLogInformationType;
        report.Strings = {"back on"};
        if (source->Report(report) != 0 || !mirrored(next(), "<14>", "back on"))
            return 8;
        return AllRecords().size() == 4 ? 0 : 9; // the log itself holds every event
    });
    if (outcome == NoNamespace)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(outcome, 0);
}

// ---- Write faults ---------------------------------------------------------------------------

class EventLogFaultTest : public EventLogTest {
protected:
    struct TFault {
        TFileCallKind Kind;
        int Error;
        std::int64_t Keep;
        const char* What;
    };

    // Arms each fault at each call of its kind in turn while one event is written: a failed
    // write reports an error and leaves every earlier record readable, a write that the fault
    // missed adds its record. Ends when the write no longer reaches the armed call.
    void FailEachCallInTurn(const std::vector<TFault>& AFaults) {
        for (const TFault& fault : AFaults) {
            for (int nth = 1;; ++nth) {
                SCOPED_TRACE(std::string(fault.What) + " at call " + std::to_string(nth));
                const std::vector<TEventRecordView> before = AllRecords();
                TFakeFileService files;
                int result = 0;
                int calls = 0;
                {
                    TPlatformServices services;
                    services.Files = &files;
                    TScopedPlatformServices scope(services);
                    files.Fail(fault.Kind, nth, fault.Error, fault.Keep);
                    result = Write("MyApp", "event " + std::to_string(before.size() + 1));
                    calls = files.Count(fault.Kind);
                }
                const std::vector<TEventRecordView> after = AllRecords();
                if (result != 0) {
                    ASSERT_EQ(after.size(), before.size());
                } else {
                    ASSERT_EQ(after.size(), before.size() + 1);
                }
                for (std::size_t i = 0; i < before.size(); ++i)
                    ASSERT_EQ(after[i].Strings, before[i].Strings);
                if (calls < nth) {
                    EXPECT_EQ(result, 0);
                    break;
                }
                if (result == 0)
                    Write("MyApp", "event " + std::to_string(after.size() + 1)); // restore
            }
        }
    }

    const std::vector<TFault> FFaults = {
        {fkOpen, EIO, 0, "open EIO"},         {fkRead, EIO, 0, "read EIO"},
        {fkWrite, ENOSPC, 0, "write ENOSPC"}, {fkWrite, EIO, 0, "write EIO"},
        {fkWrite, ENOSPC, 9, "short write"},  {fkRename, EIO, 0, "rename EIO"},
    };
};

TEST_F(EventLogFaultTest, AFailedAppendLosesNothingWrittenBefore) {
    ASSERT_EQ(Write("MyApp", "event 1"), 0);
    FailEachCallInTurn(FFaults);
    EXPECT_EQ(Write("MyApp", "after the faults"), 0);
}

TEST_F(EventLogFaultTest, AFailedFirstWriteLeavesAnEmptyLog) {
    FailEachCallInTurn(FFaults);
}

TEST_F(EventLogFaultTest, AFailedCompactionLosesNothingWrittenBefore) {
    SetMaxSize("Application", 64 * 1024);
    std::uint32_t count = 0;
    for (const TFault& fault : FFaults) {
        for (int nth = 1;; ++nth) {
            SCOPED_TRACE(std::string(fault.What) + " at call " + std::to_string(nth));
            // Fill the log to just below its limit, so that the next write compacts.
            while (jex::test::ReadFileBytes(Store().LogFilePath("")).size() + 200 < 64 * 1024)
                ASSERT_EQ(Write("MyApp", "event " + std::to_string(++count)), 0);
            const std::vector<TEventRecordView> before = AllRecords();
            TFakeFileService files;
            TPlatformServices services;
            services.Files = &files;
            int result = 0;
            int calls = 0;
            {
                TScopedPlatformServices scope(services);
                files.Fail(fault.Kind, nth, fault.Error, fault.Keep);
                result = Write("MyApp", std::string(600, 'z'));
                calls = files.Count(fault.Kind);
            }
            const std::vector<TEventRecordView> after = AllRecords();
            if (result != 0) {
                // Nothing lost: the log is the one before.
                ASSERT_EQ(after.size(), before.size());
                ASSERT_EQ(after.back().Strings, before.back().Strings);
            } else {
                // Compacted (or appended, when the fault hid the log's limit in the key store
                // and the default one applied): the newest records stay with their numbers.
                ASSERT_EQ(after.back().Strings.at(0), std::string(600, 'z'));
                ASSERT_EQ(after.back().RecordNumber, before.back().RecordNumber + 1);
                const TEventRecordView& kept = after[after.size() - 2];
                ASSERT_EQ(kept.Strings, before.back().Strings);
                ASSERT_EQ(kept.RecordNumber, before.back().RecordNumber);
                count = 0; // the event texts restart; numbers go on
            }
            if (calls < nth) {
                EXPECT_EQ(result, 0);
                break;
            }
        }
    }
}

} // namespace
