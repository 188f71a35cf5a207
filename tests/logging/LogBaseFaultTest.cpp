// tests/logging/LogBaseFaultTest.cpp - WriteAsString when things go wrong: failed and short
// writes under the faulting file service, another program appending at the same moment, a
// FIFO as the log, and a real full file system.
#include "logging/LogBase.h"
#include "platform/PlatformServices.h"
#include "platform/fake/File.h"
#include "tests/support/FaultSweep.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace host;
using namespace jex;
using jex::test::ReadFileBytes;
using jex::test::TempDir;
using platform::TFakeFileService;

namespace {

class TJexLogBaseFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        FLog.reset(Create<TJexLogBase>(nullptr));
        FLog->SetLogFile(FDir.File("events.log"));
    }

    std::string LogText() const { return ReadFileBytes(FLog->LogFile()); }

    TempDir FDir;
    TFakeFileService FFiles;
    platform::TScopedPlatformServices FServices{{.Files = &FFiles}};
    std::unique_ptr<TJexLogBase> FLog;
};

// Runs AChild in a child process and answers its exit code (-1 when it did not exit).
template <typename F>
int RunInChild(F AChild) {
    const pid_t child = fork();
    if (child == 0)
        _exit(AChild());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

// ---- Failed and short writes ------------------------------------------------------------------

TEST_F(TJexLogBaseFaultTest, ShortWriteRaisesWriteErrorAndLeavesTheFileAsItWas) {
    FLog->WriteAsString("first\r\n");
    for (const int error : {ENOSPC, EIO}) {
        FFiles.Fail(platform::fkWrite, 1, error, 5);
        EXPECT_THROW(FLog->WriteAsString("second record\r\n"), EWriteError);
        EXPECT_EQ(LogText(), "first\r\n");
    }
    // The next record starts where the last whole one ended, not after a fragment.
    FLog->WriteAsString("third\r\n");
    EXPECT_EQ(LogText(), "first\r\nthird\r\n");
}

TEST_F(TJexLogBaseFaultTest, WriteRefusedAtOnceRaisesWriteErrorAndKeepsEarlierRecords) {
    FLog->WriteAsString("kept");
    FFiles.Fail(platform::fkWrite, 1, EIO);
    EXPECT_THROW(FLog->WriteAsString("lost"), EWriteError);
    EXPECT_EQ(LogText(), "kept");
    // The lock was left: another component writes at once.
    std::unique_ptr<TJexLogBase> other(Create<TJexLogBase>(nullptr));
    other->SetLogFile(FLog->LogFile());
    other->WriteAsString("+next");
    EXPECT_EQ(LogText(), "kept+next");
}

TEST_F(TJexLogBaseFaultTest, AFaultAtAnyCallOfAnAppendRaisesAndKeepsEveryEarlierRecord) {
    const std::string earlier = "first record\r\nsecond record\r\n";
    const auto seed = [&] { jex::test::WriteFileBytes(FLog->LogFile(), earlier); };
    const auto append = [&] { FLog->WriteAsString("third record\r\n"); };
    const auto faults = jex::test::FaultsOf(FFiles, seed, append);
    ASSERT_FALSE(faults.empty());
    for (const jex::test::TInjectedFault& fault : faults) {
        SCOPED_TRACE(fault.Describe());
        seed();
        fault.Arm(FFiles);
        EXPECT_THROW(append(), host::Exception);
        FFiles.Reset();
        EXPECT_EQ(LogText(), earlier);
        append();
        EXPECT_EQ(LogText(), earlier + "third record\r\n");
    }
}

TEST_F(TJexLogBaseFaultTest, RefusedOpenRaisesOpenErrorForAFileAndCreateErrorForNone) {
    FFiles.Fail(platform::fkOpen, 1, EACCES);
    EXPECT_THROW(FLog->WriteAsString("x"), EFCreateError);
    EXPECT_FALSE(std::filesystem::exists(FLog->LogFile()));
    FLog->WriteAsString("x");
    FFiles.Fail(platform::fkOpen, 1, EACCES);
    try {
        FLog->WriteAsString("y");
        ADD_FAILURE() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + FLog->LogFile());
    }
    EXPECT_EQ(LogText(), "x");
}

TEST_F(TJexLogBaseFaultTest, AppendWaitsForOtherWritersAndForFifosOnlyForABoundedTime) {
    FLog->WriteAsString("x");
    const platform::TFileOpenMode mode = FFiles.LastOpenMode();
    EXPECT_GT(mode.ClaimWaitMs, 0);
    EXPECT_LE(mode.ClaimWaitMs, 10000);
    EXPECT_GE(mode.BlockLimitMs, 0);
    EXPECT_LE(mode.BlockLimitMs, 10000);
    // Other streams keep the framework's immediate failure.
    TFileStream stream(FLog->LogFile(), fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(FFiles.LastOpenMode().ClaimWaitMs, 0);
    EXPECT_EQ(FFiles.LastOpenMode().BlockLimitMs, -1);
}

// ---- Other programs and odd files -------------------------------------------------------------

TEST(TJexLogBaseContentionTest, RecordIsWrittenOnceAnotherProgramEndsItsAppend) {
    TempDir dir;
    const std::string path = dir.File("shared.log");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    // Another program holds the log the way a writer does, for a moment longer than usual.
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        close(ready[0]);
        try {
            TFileStream holder(path, fmOpenReadWrite | fmShareDenyWrite | fmCreateIfMissing);
            (void)!write(ready[1], "1", 1);
            usleep(300 * 1000);
        } catch (...) {
            _exit(2);
        }
        _exit(0);
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    // Immediate opens still fail as the framework's do.
    EXPECT_THROW(TFileStream(path, fmOpenReadWrite | fmShareDenyWrite), EFOpenError);
    std::unique_ptr<TJexLogBase> log(Create<TJexLogBase>(nullptr));
    log->SetLogFile(path);
    EXPECT_NO_THROW(log->WriteAsString("report"));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(path), "report");
}

TEST(TJexLogBaseContentionTest, FifoAsLogFileNeverHangsTheProgram) {
    TempDir dir;
    const std::string fifo = dir.File("log.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::unique_ptr<TJexLogBase> log(Create<TJexLogBase>(nullptr));
    log->SetLogFile(fifo);
    // A record the pipe can hold goes in; one it cannot, with nobody reading, fails in time.
    EXPECT_NO_THROW(log->WriteAsString("small record\r\n"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(log->WriteAsString(std::string(1 << 20, 'r')), EWriteError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// ---- A real full file system ------------------------------------------------------------------

// Exit codes of the full-disk child.
constexpr int kChildPassed = 0;
constexpr int kChildCannotMount = 77;

TEST(TJexLogBaseFullDiskTest, FailedRecordOnAFullFileSystemLeavesTheFileByteForByte) {
    TempDir dir;
    const std::string mountPoint = dir.File("small");
    std::filesystem::create_directory(mountPoint);
    // A private mount namespace keeps the small file system out of every other process's view
    // and takes it away when the child ends.
    const int result = RunInChild([&] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("jextest", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
            return kChildCannotMount;
        std::unique_ptr<TJexLogBase> log(Create<TJexLogBase>(nullptr));
        log->SetLogFile(mountPoint + "/full.log");
        const std::string record = std::string(998, 'r') + "\r\n";
        std::string before;
        for (int i = 0; i < 1000; ++i) {
            before = ReadFileBytes(log->LogFile());
            try {
                log->WriteAsString(record);
            } catch (const EWriteError&) {
                // Byte for byte what was there before the failed record, and a whole number
                // of records.
                const std::string after = ReadFileBytes(log->LogFile());
                return after == before && after.size() % record.size() == 0 && !after.empty()
                           ? kChildPassed
                           : 1;
            } catch (...) {
                return 2;
            }
        }
        return 3; // the file system never filled up
    });
    if (result == kChildCannotMount)
        GTEST_SKIP() << "cannot mount a small tmpfs in a private mount namespace here";
    EXPECT_EQ(result, kChildPassed);
}
