// tests/platform/ReportQueueTest.cpp - the queue folder: order, the bound, entries written from
// a signal handler, files that are not entries, and where the folder lives by default.
#include "platform/ReportQueue.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

using jex::test::TempDir;

std::string Contents(const platform::TReportQueue& AQueue) {
    std::string all;
    for (const std::string& name : AQueue.List()) {
        std::string entry;
        EXPECT_EQ(AQueue.Read(name, entry), 0);
        all += entry + "|";
    }
    return all;
}

TEST(ReportQueueTest, EntriesComeBackOldestFirstAndTheBoundDropsTheOldestCountingThem) {
    TempDir dir;
    platform::TReportQueue queue(dir.File("a/b/queue") + "/", 3);
    ASSERT_EQ(queue.Ensure(), 0);

    struct stat st {};

    ASSERT_EQ(stat(queue.Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    for (int i = 1; i <= 5; ++i)
        ASSERT_EQ(queue.Push("entry " + std::to_string(i)), 0);
    EXPECT_EQ(Contents(queue), "entry 3|entry 4|entry 5|");
    EXPECT_EQ(queue.Dropped(), 2u);

    ASSERT_EQ(queue.Remove(queue.List().front()), 0);
    EXPECT_EQ(Contents(queue), "entry 4|entry 5|");
    EXPECT_EQ(queue.Remove("gone.entry"), 0);
}

TEST(ReportQueueTest, SignalSafeEntriesJoinTheQueueAndOnlyEntryFilesAreListed) {
    TempDir dir;
    platform::TReportQueue queue(dir.File("queue"), 2);
    ASSERT_EQ(queue.Ensure(), 0);
    const std::string binary("a\0b\nc", 5);
    ASSERT_TRUE(queue.PushSignalSafe(binary.data(), binary.size()));
    jex::test::WriteFileBytes(dir.File("queue/notes.txt"), "not an entry");
    jex::test::WriteFileBytes(dir.File("queue/.half.entry.part"), "half");
    ASSERT_EQ(queue.List().size(), 1u);
    EXPECT_EQ(Contents(queue), binary + "|");
    // A signal handler applies no bound; the next start of the collector (Trim) does.
    ASSERT_TRUE(queue.PushSignalSafe("x", 1));
    ASSERT_TRUE(queue.PushSignalSafe("y", 1));
    EXPECT_EQ(queue.List().size(), 3u);
    queue.Trim();
    EXPECT_EQ(Contents(queue), "x|y|");
    EXPECT_EQ(queue.Dropped(), 1u);
}

TEST(ReportQueueTest, FileOfSeveralReportsCountsEachAgainstTheBoundAndGoesWhole) {
    TempDir dir;
    platform::TReportQueue queue(dir.File("queue"), 10);
    ASSERT_EQ(queue.Ensure(), 0);
    for (int i = 1; i <= 4; ++i)
        ASSERT_EQ(queue.Push("single " + std::to_string(i)), 0);
    ASSERT_EQ(queue.Push("b1b2b3b4b5b6b7", 7), 0);
    // 11 past a bound of 10: the oldest files go until a tenth below it.
    EXPECT_EQ(queue.Queued(), 9u);
    ASSERT_EQ(queue.List().size(), 3u);
    EXPECT_EQ(platform::EntriesInFile(queue.List().back()), 7u);
    EXPECT_EQ(queue.Dropped(), 2u);
    EXPECT_EQ(Contents(queue), "single 3|single 4|b1b2b3b4b5b6b7|");

    // Removing the file of seven takes all seven off the count the bound is held to.
    ASSERT_EQ(queue.Remove(queue.List().back()), 0);
    for (int i = 5; i <= 12; ++i)
        ASSERT_EQ(queue.Push("single " + std::to_string(i)), 0);
    EXPECT_EQ(queue.Queued(), 10u);
    EXPECT_EQ(queue.Dropped(), 2u);
}

TEST(ReportQueueTest, ReportsInAFileAreReadFromItsName) {
    EXPECT_EQ(platform::EntriesInFile("0001765190000000000001-42-000001.entry"), 1u);
    EXPECT_EQ(platform::EntriesInFile("0001765190000000000001-42-000001+12.entry"), 12u);
    // Names the queue never writes count as one report, files that are not entries as none.
    EXPECT_EQ(platform::EntriesInFile("a+.entry"), 1u);
    EXPECT_EQ(platform::EntriesInFile("a+1x.entry"), 1u);
    EXPECT_EQ(platform::EntriesInFile("a+99999999999.entry"), 1u);
    EXPECT_EQ(platform::EntriesInFile("notes+3.txt"), 0u);
    EXPECT_EQ(platform::EntriesInFile(".a+3.entry.part"), 0u);
}

TEST(ReportQueueTest, QueueThatCannotBeMadeSaysSoAndQueuesNothing) {
    TempDir dir;
    jex::test::WriteFileBytes(dir.File("file"), "in the way");
    platform::TReportQueue queue(dir.File("file/queue"), 10);
    EXPECT_EQ(queue.Ensure(), ENOTDIR);
    EXPECT_NE(queue.Push("lost?"), 0);
    EXPECT_TRUE(queue.List().empty());
}

TEST(ReportQueueTest, DefaultFolderIsUnderTheXdgStateFolderOrTheHomesLocalState) {
    const char* savedState = std::getenv("XDG_STATE_HOME");
    const std::string state = savedState != nullptr ? savedState : "";
    setenv("XDG_STATE_HOME", "/var/tmp/state", 1);
    EXPECT_EQ(platform::DefaultReportQueueFolder("orders"),
              "/var/tmp/state/jexlogger/reports/orders");
    // A relative value is ignored, as the XDG rules say.
    setenv("XDG_STATE_HOME", "relative", 1);
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        EXPECT_EQ(platform::DefaultReportQueueFolder("a/b"),
                  std::string(home) + "/.local/state/jexlogger/reports/a_b");
    }
    if (savedState != nullptr)
        setenv("XDG_STATE_HOME", state.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}

TEST(ReportQueueTest, OnlyHttpAndHttpsAddressesWithAHostAreCollectors) {
    EXPECT_TRUE(platform::IsCollectorAddress("http://127.0.0.1:19532"));
    EXPECT_TRUE(platform::IsCollectorAddress("https://logs.example.com/"));
    EXPECT_FALSE(platform::IsCollectorAddress("logs.example.com:19532"));
    EXPECT_FALSE(platform::IsCollectorAddress("ftp://logs.example.com"));
    EXPECT_FALSE(platform::IsCollectorAddress("http://"));
    EXPECT_FALSE(platform::IsCollectorAddress("http:///upload"));
    EXPECT_FALSE(platform::IsCollectorAddress("http://a b"));
}

} // namespace
