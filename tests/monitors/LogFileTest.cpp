// tests/monitors/LogFileTest.cpp - TJexFileLog on real folders with real inotify: activation,
// the option order of reports, subfolders, the hand-over and its failures.
#include "monitors/LogFile.h"

#include "host/forms/Forms.h"
#include "tests/support/MonitorFixture.h"
#include "tests/support/TempDir.h"
#include "tests/support/ThreadStats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace jex;
namespace fs = std::filesystem;

namespace {

class TJexFileLogTest : public jex::test::TMonitorFixture {
protected:
    void SetUp() override {
        TMonitorFixture::SetUp();
        FLog.reset(host::Create<TJexFileLog>(nullptr));
        FLog->SetFolder(Dir());
        FLog->SetOnFileNotification(TFileNotifyEvent::FromCallable(
            [this](host::TObject* ASender, TFileNotificationOption AAction) {
                EXPECT_EQ(ASender, FLog.get());
                FActions.push_back(AAction);
                if (FOnAction)
                    FOnAction(AAction);
            }));
    }

    void TearDown() override {
        FLog.reset();
        TMonitorFixture::TearDown();
    }

    std::string Dir() const { return FTemp.Path().string(); }

    static void Touch(const fs::path& APath) {
        const int fd = open(APath.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }

    static void Append(const fs::path& APath) { std::ofstream(APath, std::ios::app) << "more"; }

    jex::test::TempDir FTemp;
    std::unique_ptr<TJexFileLog> FLog;
    std::vector<TFileNotificationOption> FActions;
    std::function<void(TFileNotificationOption)> FOnAction;
};

void ExpectAllocationError(const std::function<void()>& ACall) {
    try {
        ACall();
        ADD_FAILURE() << "no EFileNotificationError";
    } catch (const EFileNotificationError& e) {
        EXPECT_STREQ(e.what(), "Could not allocate notification object");
    }
}

// ---- Construction and stored forms ----------------------------------------------------------

TEST_F(TJexFileLogTest, StartsInactiveWatchingFileAndFolderNames) {
    std::unique_ptr<TJexFileLog> log(host::Create<TJexFileLog>(nullptr));
    EXPECT_FALSE(log->Active());
    EXPECT_EQ(log->Worker(), nullptr);
    EXPECT_EQ(log->Folder(), "");
    EXPECT_EQ(log->Options(), (TFileNotificationOptions{foFile, foFolder}));
    EXPECT_EQ(log->LogFile(), "jexevents.log");
    EXPECT_EQ(TFileNotificationOptions{foWatchSubFolders}.Bits(), 0x20u);
}

TEST_F(TJexFileLogTest, AStoredActiveMonitorStartsOnceItsFolderAndOptionsAreRead) {
    FLog->SetName("FolderLog");
    FLog->SetOptions({foFile});
    FLog->SetActive(true);
    const std::string text = host::WriteComponentToText(FLog.get());
    EXPECT_NE(text.find("Options = [foFile]"), std::string::npos) << text;
    FLog->SetActive(false);

    // Active comes before Folder in the stored order; the worker must watch the stored folder.
    std::unique_ptr<host::TComponent> copy(host::ReadComponentFromText(text));
    auto* read = dynamic_cast<TJexFileLog*>(copy.get());
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(read->Active());
    ASSERT_NE(read->Worker(), nullptr);
    EXPECT_EQ(read->Worker()->HandleCount(), 1);
    std::vector<TFileNotificationOption> seen;
    read->SetOnFileNotification(TFileNotifyEvent::FromCallable(
        [&](host::TObject*, TFileNotificationOption AAction) { seen.push_back(AAction); }));
    Touch(FTemp.Path() / "stored");
    EXPECT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen.front(), foFile);

    // The default options are stored too: there is no default to leave out.
    std::unique_ptr<TJexFileLog> plain(host::Create<TJexFileLog>(nullptr));
    plain->SetName("Plain");
    EXPECT_NE(host::WriteComponentToText(plain.get()).find("Options = [foFile, foFolder]"),
              std::string::npos);
}

// ---- Activation ---------------------------------------------------------------------------

TEST_F(TJexFileLogTest, OptionsWithoutAKindOfChangeActivateWithoutHandlesAndReportNothing) {
    for (const TFileNotificationOptions options :
         {TFileNotificationOptions{}, TFileNotificationOptions{foWatchSubFolders}}) {
        FLog->SetOptions(options);
        FLog->SetActive(true);
        ASSERT_NE(FLog->Worker(), nullptr);
        EXPECT_EQ(FLog->Worker()->HandleCount(), 0);
        // Without a handle the worker sleeps until woken: no spinning on the processor.
        PumpFor(20);
        const long before = jex::test::ContextSwitches(FLog->Worker()->ThreadID());
        Touch(FTemp.Path() / ("f" + std::to_string(options.Bits())));
        PumpFor(200);
        EXPECT_LT(jex::test::ContextSwitches(FLog->Worker()->ThreadID()) - before, 10);
        EXPECT_TRUE(FActions.empty());
        FLog->SetActive(false);
    }
}

TEST_F(TJexFileLogTest, AFolderThatCannotBeWatchedFailsActivationButActiveReadsTrue) {
    std::ofstream(FTemp.File("plain.txt")) << "x";
    for (const std::string& folder :
         {FTemp.File("missing"), FTemp.File("plain.txt"), std::string()}) {
        FLog->SetFolder(folder);
        ExpectAllocationError([&] { FLog->SetActive(true); });
        EXPECT_TRUE(FLog->Active()) << folder;
        EXPECT_EQ(FLog->Worker(), nullptr) << folder;
        FLog->SetActive(false);
        EXPECT_FALSE(FLog->Active());
    }
}

TEST_F(TJexFileLogTest, ActivatingAnActiveMonitorReplacesItsWorker) {
    FLog->SetActive(true);
    FLog->SetActive(true);
    ASSERT_NE(FLog->Worker(), nullptr);
    Touch(FTemp.Path() / "once");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
    PumpFor(150);
    EXPECT_EQ(FActions, std::vector<TFileNotificationOption>{foFile}) << "one worker reports";
}

// ---- Folder and Options while active -------------------------------------------------------

TEST_F(TJexFileLogTest, SettingTheSameValueDoesNothingAndLetterCaseCountsAsAChange) {
    const fs::path watched = FTemp.Path() / "Watched";
    fs::create_directory(watched);
    FLog->SetFolder(watched.string());
    FLog->SetActive(true);
    // With the folder gone, any rebuild of the handles would fail, so only real changes raise.
    fs::remove(watched);
    PumpFor(100);
    FLog->SetFolder(watched.string());
    FLog->SetOptions({foFile, foFolder});
    ExpectAllocationError([&] { FLog->SetFolder((FTemp.Path() / "watched").string()); });
    EXPECT_EQ(FLog->Folder(), (FTemp.Path() / "watched").string());
    ExpectAllocationError([&] { FLog->SetOptions({foFile}); });
    EXPECT_EQ(FLog->Options(), TFileNotificationOptions{foFile});
}

TEST_F(TJexFileLogTest, AFailedChangeKeepsTheWorkerSilentUntilTheNextGoodOne) {
    FLog->SetActive(true);
    ExpectAllocationError([&] { FLog->SetFolder(FTemp.File("missing")); });
    ASSERT_NE(FLog->Worker(), nullptr);
    EXPECT_EQ(FLog->Worker()->HandleCount(), 0);
    Touch(FTemp.Path() / "unseen");
    PumpFor(100);
    EXPECT_TRUE(FActions.empty());

    jex::test::TempDir other;
    FLog->SetFolder(other.Path().string());
    Touch(other.Path() / "seen");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
    EXPECT_EQ(FActions.front(), foFile);
}

// ---- What is reported, in which order -------------------------------------------------------

TEST_F(TJexFileLogTest, ARenameIsReportedAsAFileChange) {
    Touch(FTemp.Path() / "old");
    FLog->SetOptions({foFile});
    FLog->SetActive(true);
    fs::rename(FTemp.Path() / "old", FTemp.Path() / "new");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
    PumpFor(100);
    ASSERT_FALSE(FActions.empty());
    for (const TFileNotificationOption action : FActions)
        EXPECT_EQ(action, foFile);
}

TEST_F(TJexFileLogTest, PendingKindsAreReportedInOptionOrder) {
    Touch(FTemp.Path() / "existing");
    Touch(FTemp.Path() / "named");
    FLog->SetOptions({foFile, foTime});
    FLog->SetActive(true);
    Touch(FTemp.Path() / "first");
    ASSERT_TRUE(WorkerBlockedInHandOver());
    // While the worker waits for the main thread, a time change comes before a name change.
    Append(FTemp.Path() / "existing");
    fs::rename(FTemp.Path() / "named", FTemp.Path() / "renamed");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty() && FActions.back() == foTime; }));
    PumpFor(100);
    // The rename's two events may come in two reads, which reports it twice; the time change
    // comes last all the same.
    ASSERT_GE(FActions.size(), 3u);
    EXPECT_EQ(FActions.back(), foTime);
    EXPECT_EQ(std::count(FActions.begin(), FActions.end(), foFile),
              static_cast<std::ptrdiff_t>(FActions.size() - 1));
}

TEST_F(TJexFileLogTest, SubfolderChangesCountOnlyWithWatchSubFolders) {
    fs::create_directory(FTemp.Path() / "sub");
    FLog->SetOptions({foFile});
    FLog->SetActive(true);
    Touch(FTemp.Path() / "sub" / "inside");
    PumpFor(150);
    EXPECT_TRUE(FActions.empty());

    FLog->SetOptions({foFile, foWatchSubFolders});
    Touch(FTemp.Path() / "sub" / "inside2");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
    FActions.clear();
    // A folder made after activation is watched as well (made without foFolder: no report).
    fs::create_directories(FTemp.Path() / "late" / "deeper");
    PumpFor(150);
    FActions.clear();
    Touch(FTemp.Path() / "late" / "deeper" / "f");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
    EXPECT_EQ(FActions.front(), foFile);
}

TEST_F(TJexFileLogTest, WithoutAHandlerChangesAreConsumed) {
    FLog->SetOnFileNotification(nullptr);
    FLog->SetActive(true);
    Touch(FTemp.Path() / "a");
    fs::create_directory(FTemp.Path() / "d");
    PumpFor(200);
    FLog->SetOnFileNotification(TFileNotifyEvent::FromCallable(
        [this](host::TObject*, TFileNotificationOption AAction) { FActions.push_back(AAction); }));
    PumpFor(200);
    EXPECT_TRUE(FActions.empty()) << "the handles were re-armed";
    Touch(FTemp.Path() / "b");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
}

TEST_F(TJexFileLogTest, AWatchedFolderRemovedReportsOnceAndStopsCleanly) {
    const fs::path watched = FTemp.Path() / "w";
    fs::create_directory(watched);
    FLog->SetFolder(watched.string());
    FLog->SetActive(true);
    fs::remove(watched);
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
    PumpFor(100);
    const std::size_t reports = FActions.size();
    fs::create_directory(watched);
    Touch(watched / "new");
    PumpFor(150);
    EXPECT_EQ(FActions.size(), reports);
    FLog->SetActive(false);
    EXPECT_EQ(FLog->Worker(), nullptr);
}

// ---- The hand-over ------------------------------------------------------------------------

TEST_F(TJexFileLogTest, AChangeHandedOverDuringDeactivationRaisesNothing) {
    FLog->SetActive(true);
    Touch(FTemp.Path() / "late");
    ASSERT_TRUE(WorkerBlockedInHandOver());
    FLog->SetActive(false);
    EXPECT_EQ(FLog->Worker(), nullptr);
    EXPECT_TRUE(FActions.empty());
}

TEST_F(TJexFileLogTest, AChangeHandedOverDuringDestructionRaisesNothing) {
    FLog->SetActive(true);
    Touch(FTemp.Path() / "late");
    ASSERT_TRUE(WorkerBlockedInHandOver());
    FLog.reset();
    EXPECT_TRUE(FActions.empty());
}

TEST_F(TJexFileLogTest, AHandlerThatRaisesReachesTheApplicationAndWatchingGoesOn) {
    std::vector<std::string> handled;
    host::Application->SetOnException(
        host::TExceptionEvent::FromCallable([&](host::TObject* ASender, host::Exception* E) {
            EXPECT_EQ(ASender, FLog.get());
            handled.push_back(E->Message());
        }));
    FOnAction = [](TFileNotificationOption) { throw host::EInvalidOperation("handler failed"); };
    FLog->SetOptions({foFile});
    FLog->SetActive(true);
    Touch(FTemp.Path() / "a");
    EXPECT_TRUE(PumpUntil([&] { return !handled.empty(); }));
    EXPECT_EQ(handled.front(), "handler failed");
    FOnAction = nullptr;
    FActions.clear();
    PumpFor(100);
    FActions.clear();
    Touch(FTemp.Path() / "b");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); })) << "the worker still watches";
}

TEST_F(TJexFileLogTest, AHandlerMayDeactivateOrReactivateItsOwnMonitor) {
    FOnAction = [this](TFileNotificationOption) { FLog->SetActive(false); };
    FLog->SetActive(true);
    Touch(FTemp.Path() / "a");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
    EXPECT_FALSE(FLog->Active());
    EXPECT_EQ(FLog->Worker(), nullptr);

    FActions.clear();
    bool reactivated = false;
    FOnAction = [&](TFileNotificationOption) {
        if (!std::exchange(reactivated, true))
            FLog->SetActive(true);
    };
    FLog->SetActive(true);
    Touch(FTemp.Path() / "b");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); }));
    PumpFor(100);
    FActions.clear();
    Touch(FTemp.Path() / "c");
    EXPECT_TRUE(PumpUntil([&] { return !FActions.empty(); })) << "the new worker watches";
}

} // namespace
