// tests/platform/FileTest.cpp - the file service: the shared contract for the Linux service and
// the faulting fake, the Linux service's bounded waits, and the fake's faults.
#include "platform/File.h"

#include "platform/fake/File.h"
#include "tests/platform/FileContract.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

namespace {

struct TLinuxServices {
    TFileService& Service() { return LinuxFileService(); }
};

struct TFakeServices {
    TFileService& Service() { return Fake; }

    TFakeFileService Fake;
};

using TClock = std::chrono::steady_clock;

long long MillisecondsSince(TClock::time_point AStart) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - AStart).count();
}

TFileOpenMode LogMode(int AClaimWaitMs = 0, int ABlockLimitMs = -1) {
    TFileOpenMode mode;
    mode.Access = fsReadWrite;
    mode.Share = fsRead;
    mode.Creation = fcCreateIfMissing;
    mode.Append = true;
    mode.ClaimWaitMs = AClaimWaitMs;
    mode.BlockLimitMs = ABlockLimitMs;
    return mode;
}

} // namespace

namespace platform::test {
INSTANTIATE_TYPED_TEST_SUITE_P(Linux, FileContract, TLinuxServices);
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, FileContract, TFakeServices);
} // namespace platform::test

// ---- Bounded waits of the Linux service ------------------------------------------------------

TEST(TLinuxFileServiceTest, ConflictingClaimIsWaitedOutWhenItEndsWithinTheBound) {
    TempDir dir;
    const std::string path = dir.File("log.txt");
    WriteFileBytes(path, "x");
    int error = 0;
    auto holder = LinuxFileService().Open(path, LogMode(), error);
    ASSERT_NE(holder, nullptr);
    // Without a wait the conflict fails at once.
    EXPECT_EQ(LinuxFileService().Open(path, LogMode(0), error), nullptr);
    EXPECT_EQ(error, EBUSY);

    auto waiter = std::async(std::launch::async, [&] {
        int waitError = 0;
        return LinuxFileService().Open(path, LogMode(5000), waitError) != nullptr;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    holder.reset();
    EXPECT_TRUE(waiter.get());
}

TEST(TLinuxFileServiceTest, ClaimThatNeverEndsFailsWithBusyAfterTheBound) {
    TempDir dir;
    const std::string path = dir.File("log.txt");
    int error = 0;
    auto holder = LinuxFileService().Open(path, LogMode(), error);
    ASSERT_NE(holder, nullptr);
    const auto start = TClock::now();
    EXPECT_EQ(LinuxFileService().Open(path, LogMode(150), error), nullptr);
    EXPECT_EQ(error, EBUSY);
    EXPECT_GE(MillisecondsSince(start), 150);
    EXPECT_LT(MillisecondsSince(start), 2000);
}

TEST(TLinuxFileServiceTest, FifoOpenedNotToBlockGivesUpAWriteNobodyTakes) {
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int error = 0;
    auto file = LinuxFileService().Open(fifo, LogMode(0, 100), error);
    ASSERT_NE(file, nullptr) << error;
    // More than a pipe holds, and nobody reads: the write stops after the bound.
    const std::string record(1 << 20, 'r');
    const auto start = TClock::now();
    const std::int64_t written =
        file->Write(record.data(), static_cast<std::int64_t>(record.size()), error);
    EXPECT_LT(written, static_cast<std::int64_t>(record.size()));
    EXPECT_EQ(error, EAGAIN);
    EXPECT_GE(MillisecondsSince(start), 100);
    EXPECT_LT(MillisecondsSince(start), 5000);
}

TEST(TLinuxFileServiceTest, FifoOpenedNotToBlockStillReachesItsReader) {
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    int error = 0;
    auto file = LinuxFileService().Open(fifo, LogMode(0, 5000), error);
    ASSERT_NE(file, nullptr);
    // Twice what the pipe holds: the reader drains it while the writer waits.
    const std::string record(256 * 1024, 'r');
    auto drained = std::async(std::launch::async, [&] {
        std::string got;
        char buffer[65536];
        while (got.size() < record.size()) {
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<std::size_t>(n));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return got.size();
    });
    EXPECT_EQ(file->Write(record.data(), static_cast<std::int64_t>(record.size()), error),
              static_cast<std::int64_t>(record.size()));
    EXPECT_EQ(error, 0);
    EXPECT_EQ(drained.get(), record.size());
    ::close(reader);
}

// ---- The faulting fake ----------------------------------------------------------------------

TEST(TFakeFileServiceTest, FailsExactlyTheNthCallOfAKindWithTheChosenError) {
    TempDir dir;
    const std::string path = dir.File("f.txt");
    WriteFileBytes(path, "content");
    TFakeFileService fake;
    fake.Fail(fkOpen, 2, EACCES);
    std::string text;
    int error = 0;
    EXPECT_NE(fake.Open(path, LogMode(), error), nullptr);
    EXPECT_EQ(fake.Open(path, LogMode(), error), nullptr);
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(fake.ReadFile(path, text), 0); // the fault was used up
    EXPECT_EQ(text, "content");
    EXPECT_EQ(fake.Count(fkOpen), 3);

    fake.Fail(fkRead, 1, EIO);
    EXPECT_EQ(fake.ReadFile(path, text), EIO);
    EXPECT_EQ(text, "");
    fake.Fail(fkRename, 1, ENOSPC);
    EXPECT_EQ(fake.ReplaceFile(path, "new"), ENOSPC);
    EXPECT_EQ(ReadFileBytes(path), "content");
    EXPECT_EQ(fake.ReplaceFile(path, "new"), 0);
    EXPECT_EQ(ReadFileBytes(path), "new");
}

TEST(TFakeFileServiceTest, ShortWriteLeavesTheBytesThatFitInTheRealFile) {
    TempDir dir;
    const std::string path = dir.File("log.txt");
    TFakeFileService fake;
    int error = 0;
    auto file = fake.Open(path, LogMode(), error);
    ASSERT_NE(file, nullptr);
    fake.Fail(fkWrite, 1, ENOSPC, 3);
    EXPECT_EQ(file->Write("record", 6, error), 3);
    EXPECT_EQ(error, ENOSPC);
    EXPECT_EQ(ReadFileBytes(path), "rec");
    fake.FailAlways(fkWrite, EIO);
    EXPECT_EQ(file->Write("more", 4, error), 0);
    EXPECT_EQ(error, EIO);
    fake.Reset();
    EXPECT_EQ(file->Write("ok", 2, error), 2);
    EXPECT_EQ(ReadFileBytes(path), "recok");
    EXPECT_EQ(fake.Count(fkWrite), 3);
}

TEST(TFakeFileServiceTest, RecordsTheModeAskedForAndCanNameAnotherExecutable) {
    TFakeFileService fake;
    int error = 0;
    fake.Open("/nonexistent/dir/x", LogMode(1234, 55), error);
    EXPECT_EQ(fake.LastOpenMode().ClaimWaitMs, 1234);
    EXPECT_EQ(fake.LastOpenMode().BlockLimitMs, 55);
    EXPECT_EQ(fake.ExecutablePath(), LinuxFileService().ExecutablePath());
    fake.SetExecutablePath("/opt/app/bin/app");
    EXPECT_EQ(fake.ExecutablePath(), "/opt/app/bin/app");
}
