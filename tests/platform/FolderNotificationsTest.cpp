// tests/platform/FolderNotificationsTest.cpp - folder notification objects on real folders with
// real inotify: what each filter reports, the signalled-until-re-armed rule, subtrees, the wake.
#include "platform/FolderNotifications.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class TFolderNotificationsTest : public ::testing::Test {
protected:
    std::unique_ptr<TFolderNotificationSet> NewSet() {
        return LinuxFolderNotifications().CreateSet();
    }

    /// One object per filter on AFolder, indices 0..4 in filter order.
    std::unique_ptr<TFolderNotificationSet> AllFilters(const std::string& AFolder,
                                                       bool ASubtree = false) {
        auto set = NewSet();
        for (const std::uint32_t filter :
             {ChangeFileName, ChangeDirName, ChangeAttributes, ChangeSize, ChangeLastWrite})
            EXPECT_GE(set->Add(AFolder, ASubtree, filter), 0) << AFolder;
        return set;
    }

    /// Every index reported until the set is quiet, each re-armed after its report.
    static std::set<int> Reported(TFolderNotificationSet& ASet, int AFirstWaitMs = 2000) {
        std::set<int> seen;
        for (int wait = AFirstWaitMs, round = 0; round < 50; ++round, wait = 100) {
            const int result = ASet.Wait(wait);
            if (result < 0)
                break;
            seen.insert(result);
            ASet.Rearm(result);
        }
        return seen;
    }

    static void Write(const fs::path& APath, const std::string& AText) {
        std::ofstream(APath, std::ios::binary) << AText;
    }

    jex::test::TempDir FTemp;

    std::string Dir() const { return FTemp.Path().string(); }
};

// ---- Opening objects ------------------------------------------------------------------------

TEST_F(TFolderNotificationsTest, AddRefusesWhatCannotBeWatchedAndLeavesNothingOpen) {
    auto set = NewSet();
    Write(FTemp.Path() / "plain.txt", "x");

    const struct {
        std::string Path;
        std::uint32_t Filter;
        int Error;
    } cases[] = {
        {FTemp.File("missing"), ChangeFileName, ENOENT},
        {FTemp.File("missing/deeper"), ChangeFileName, ENOENT},
        {FTemp.File("plain.txt"), ChangeFileName, ENOTDIR},
        {"", ChangeFileName, ENOENT},
        {Dir(), 0, EINVAL},
    };

    for (const auto& c : cases) {
        EXPECT_EQ(set->Add(c.Path, true, c.Filter), -1) << c.Path;
        EXPECT_EQ(set->LastError(), c.Error) << c.Path;
    }
    EXPECT_EQ(set->Count(), 0);
    EXPECT_EQ(set->WatchCount(), 0u);
}

TEST_F(TFolderNotificationsTest, AddRefusesAFolderWithoutReadPermission) {
    const fs::path locked = FTemp.Path() / "locked";
    fs::create_directory(locked);
    chmod(locked.c_str(), 0700);
    // Root reads everything, so the refusal is seen by a child that runs as nobody.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        if (geteuid() != 0)
            chmod(locked.c_str(), 0); // not root: our own folder, closed to ourselves
        auto set = LinuxFolderNotifications().CreateSet();
        const int index = set->Add(locked.string(), false, ChangeFileName);
        _exit(index == -1 && set->LastError() == EACCES && set->WatchCount() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    chmod(locked.c_str(), 0700);
}

TEST_F(TFolderNotificationsTest, ObjectsOnOneFolderShareOneWatch) {
    auto set = AllFilters(Dir());
    EXPECT_EQ(set->Count(), 5);
    EXPECT_EQ(set->WatchCount(), 1u);
    set->Clear();
    EXPECT_EQ(set->Count(), 0);
    EXPECT_EQ(set->WatchCount(), 0u);
    EXPECT_EQ(set->Wait(0), WaitTimeout);
}

TEST_F(TFolderNotificationsTest, AFailedAddLeavesTheObjectsBeforeItWatching) {
    fs::create_directory(FTemp.Path() / "a");
    fs::create_directory(FTemp.Path() / "b");
    auto set = NewSet();
    ASSERT_EQ(set->Add(FTemp.File("a"), true, ChangeFileName), 0);
    ASSERT_EQ(set->Add(FTemp.File("b"), false, ChangeFileName), 1);
    EXPECT_EQ(set->Add(FTemp.File("missing"), true, ChangeFileName), -1);
    EXPECT_EQ(set->LastError(), ENOENT);
    EXPECT_EQ(set->Count(), 2);
    EXPECT_EQ(set->WatchCount(), 2u);
    // Re-arming an object that is not there is no harm either.
    set->Rearm(7);
    set->Rearm(-1);
    Write(FTemp.Path() / "a" / "new.txt", "");
    EXPECT_EQ(Reported(*set), std::set<int>{0});
    Write(FTemp.Path() / "b" / "new.txt", "");
    EXPECT_EQ(Reported(*set), std::set<int>{1});
}

// ---- What each filter reports ---------------------------------------------------------------

TEST_F(TFolderNotificationsTest, EachKindOfChangeSignalsItsOwnFilter) {
    const fs::path file = FTemp.Path() / "f.txt";
    Write(file, "first");
    fs::create_directory(FTemp.Path() / "d");
    auto set = AllFilters(Dir());

    // 0 file name, 1 folder name, 2 attributes, 3 size, 4 last write
    const struct {
        const char* What;
        std::function<void()> Change;
        std::set<int> Expected;
    } cases[] = {
        {"create a file", [&] { Write(FTemp.Path() / "new.txt", ""); }, {0}},
        {"rename a file", [&] { fs::rename(file, FTemp.Path() / "g.txt"); }, {0}},
        {"make a folder", [&] { fs::create_directory(FTemp.Path() / "e"); }, {1}},
        {"remove a folder", [&] { fs::remove(FTemp.Path() / "e"); }, {1}},
        {"change the mode", [&] { chmod((FTemp.Path() / "g.txt").c_str(), 0600); }, {2}},
        {"set the times",
         [&] {
             const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
             utimensat(AT_FDCWD, (FTemp.Path() / "g.txt").c_str(), times, 0);
         },
         {4}},
        {"append", [&] { std::ofstream(FTemp.Path() / "g.txt", std::ios::app) << "more"; }, {3, 4}},
        {"read", [&] { (void)jex::test::ReadFileBytes((FTemp.Path() / "g.txt").string()); }, {}},
        {"delete a file", [&] { fs::remove(FTemp.Path() / "g.txt"); }, {0}},
    };

    for (const auto& c : cases) {
        c.Change();
        EXPECT_EQ(Reported(*set, c.Expected.empty() ? 200 : 2000), c.Expected) << c.What;
    }
}

TEST_F(TFolderNotificationsTest, ChangesToTheFolderItselfAreNotReported) {
    auto set = AllFilters(Dir());
    chmod(Dir().c_str(), 0750);
    utimensat(AT_FDCWD, Dir().c_str(), nullptr, 0);
    EXPECT_EQ(set->Wait(200), WaitTimeout);
}

// ---- Signalled until re-armed ---------------------------------------------------------------

TEST_F(TFolderNotificationsTest, TheLowestSignalledObjectComesFirstAndStaysUntilReArmed) {
    auto set = NewSet();
    ASSERT_EQ(set->Add(Dir(), false, ChangeFileName), 0);
    ASSERT_EQ(set->Add(Dir(), false, ChangeLastWrite), 1);
    Write(FTemp.Path() / "f.txt", "x"); // created, then written
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(set->Wait(2000), 0);
    EXPECT_EQ(set->Wait(0), 0) << "not re-armed yet";
    set->Rearm(0);
    EXPECT_EQ(set->Wait(2000), 1);
    set->Rearm(1);
    EXPECT_EQ(set->Wait(100), WaitTimeout);
}

TEST_F(TFolderNotificationsTest, AChangeWhileSignalledSignalsAgainAfterTheReArm) {
    auto set = NewSet();
    ASSERT_EQ(set->Add(Dir(), false, ChangeFileName), 0);
    Write(FTemp.Path() / "a", "");
    ASSERT_EQ(set->Wait(2000), 0);
    Write(FTemp.Path() / "b", ""); // after the signal, before the re-arm
    ASSERT_EQ(set->Wait(2000), 0);
    set->Rearm(0);
    EXPECT_EQ(set->Wait(0), 0);
    set->Rearm(0);
    EXPECT_EQ(set->Wait(100), WaitTimeout);
}

// ---- Subtrees -------------------------------------------------------------------------------

TEST_F(TFolderNotificationsTest, SubfolderChangesCountOnlyForASubtreeWatch) {
    fs::create_directories(FTemp.Path() / "sub" / "deep");
    auto flat = NewSet();
    auto tree = NewSet();
    ASSERT_EQ(flat->Add(Dir(), false, ChangeFileName), 0);
    ASSERT_EQ(tree->Add(Dir(), true, ChangeFileName), 0);
    EXPECT_EQ(flat->WatchCount(), 1u);
    EXPECT_EQ(tree->WatchCount(), 3u);
    Write(FTemp.Path() / "sub" / "deep" / "f", "");
    EXPECT_EQ(tree->Wait(2000), 0);
    EXPECT_EQ(flat->Wait(100), WaitTimeout);
}

TEST_F(TFolderNotificationsTest, ASubtreeFollowsFoldersMadeMovedAndRemovedLater) {
    auto set = NewSet();
    ASSERT_EQ(set->Add(Dir(), true, ChangeFileName), 0);
    // Made at once several levels deep, with a file inside: the scan of the new folder finds
    // what came before its watch.
    fs::create_directories(FTemp.Path() / "a" / "b" / "c");
    Write(FTemp.Path() / "a" / "b" / "c" / "early", "");
    EXPECT_EQ(Reported(*set), std::set<int>{0});
    EXPECT_EQ(set->WatchCount(), 4u);
    Write(FTemp.Path() / "a" / "b" / "c" / "later", "");
    EXPECT_EQ(Reported(*set), std::set<int>{0});

    // Renamed inside the tree: still watched under its new name.
    fs::rename(FTemp.Path() / "a" / "b", FTemp.Path() / "b2");
    Reported(*set, 200);
    Write(FTemp.Path() / "b2" / "c" / "after-rename", "");
    EXPECT_EQ(Reported(*set), std::set<int>{0});
    EXPECT_EQ(set->WatchCount(), 4u);

    // Moved out of the tree: no longer watched.
    jex::test::TempDir outside;
    fs::rename(FTemp.Path() / "b2", outside.Path() / "b2");
    Reported(*set, 200);
    EXPECT_EQ(set->WatchCount(), 2u);
    Write(outside.Path() / "b2" / "c" / "outside", "");
    EXPECT_EQ(set->Wait(200), WaitTimeout);

    // Moved in: watched with what it holds.
    fs::rename(outside.Path() / "b2", FTemp.Path() / "back");
    Reported(*set, 200);
    EXPECT_EQ(set->WatchCount(), 4u);
    Write(FTemp.Path() / "back" / "c" / "inside", "");
    EXPECT_EQ(Reported(*set), std::set<int>{0});

    fs::remove_all(FTemp.Path() / "back");
    Reported(*set, 200);
    EXPECT_EQ(set->WatchCount(), 2u);
}

TEST_F(TFolderNotificationsTest, ARemovedFolderReportsOnceAndThenNothing) {
    const fs::path watched = FTemp.Path() / "w";
    fs::create_directory(watched);
    auto set = NewSet();
    ASSERT_EQ(set->Add(watched.string(), true, ChangeFileName), 0);
    ASSERT_EQ(set->Add(watched.string(), true, ChangeAttributes), 1);
    fs::remove(watched);
    EXPECT_EQ(Reported(*set), (std::set<int>{0, 1}));
    fs::create_directory(watched);
    Write(watched / "f", "");
    EXPECT_EQ(set->Wait(200), WaitTimeout);
    EXPECT_EQ(set->WatchCount(), 0u);
}

TEST_F(TFolderNotificationsTest, AnOverflowedQueueSignalsEveryObjectAndRebuildsTheWatches) {
    fs::create_directories(FTemp.Path() / "s1" / "s2");
    Write(FTemp.Path() / "a", "");
    Write(FTemp.Path() / "b", "");
    Write(FTemp.Path() / "s1" / "s2" / "c", "");
    auto set = NewSet();
    ASSERT_EQ(set->Add(Dir(), true, ChangeAttributes), 0);
    ASSERT_EQ(set->Add(Dir(), true, ChangeDirName), 1);
    // More attribute changes than the kernel queues while nobody reads; two files take turns
    // so that the kernel cannot merge them.
    int limit = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
    if (limit > 100000)
        GTEST_SKIP() << "the kernel queues " << limit << " events; too many to overflow here";
    for (int i = 0; i < limit + 100; ++i)
        chmod(FTemp.File(i % 2 == 0 ? "a" : "b").c_str(), (i / 2) % 2 == 0 ? 0600 : 0644);
    // No folder was touched, so the folder-name object is signalled by the overflow alone.
    EXPECT_EQ(Reported(*set), (std::set<int>{0, 1}));
    EXPECT_EQ(set->WatchCount(), 3u);
    chmod((FTemp.Path() / "s1" / "s2" / "c").c_str(), 0600);
    EXPECT_EQ(Reported(*set), std::set<int>{0});
}

// ---- The wait and the wake ------------------------------------------------------------------

TEST_F(TFolderNotificationsTest, WakeEndsAWaitAtOnceFromAnotherThread) {
    auto set = AllFilters(Dir());
    int result = 0;
    std::thread waiter([&] { result = set->Wait(-1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    set->Wake();
    waiter.join();
    EXPECT_EQ(result, WaitWoken);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(TFolderNotificationsTest, AWakeBeforeTheWaitEndsItAndIsConsumed) {
    auto set = NewSet(); // no objects: the wait waits for a wake only
    set->Wake();
    set->Wake();
    EXPECT_EQ(set->Wait(-1), WaitWoken);
    EXPECT_EQ(set->Wait(50), WaitTimeout);
}

} // namespace
