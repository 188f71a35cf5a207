// tests/platform/FileLockTest.cpp - share claims on descriptors: conflicts between open file
// descriptions, write-only descriptors, release on unlock and on close.
#include "platform/FileLock.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace platform;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

namespace {

// An open descriptor closed at the end of the scope.
class TFd {
public:
    TFd(const std::string& APath, int AFlags)
        : FFd(open(APath.c_str(), AFlags | O_CLOEXEC)) {}

    ~TFd() { Close(); }

    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return FFd; }

    void Close() {
        if (FFd >= 0)
            close(FFd);
        FFd = -1;
    }

private:
    int FFd;
};

class LockShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        FPath = FDir.File("locked.txt");
        WriteFileBytes(FPath, "data");
        TFd probe(FPath, O_RDWR);
        if (LockShare(probe.Get(), fsRead, fsReadWrite) == flUnsupported)
            GTEST_SKIP() << "the temporary folder's file system keeps no file locks";
    }

    TempDir FDir;
    std::string FPath;
};

} // namespace

TEST_F(LockShareTest, WriterDenyingWriteShutsOutOtherWritersOnly) {
    TFd writer(FPath, O_RDWR);
    ASSERT_EQ(LockShare(writer.Get(), fsReadWrite, fsRead), flGranted);

    TFd other(FPath, O_RDWR);
    EXPECT_EQ(LockShare(other.Get(), fsWrite, fsReadWrite), flViolation);
    EXPECT_EQ(LockShare(other.Get(), fsRead, fsRead), flViolation); // will not share its write
    EXPECT_EQ(LockShare(other.Get(), fsRead, fsReadWrite), flGranted);
}

TEST_F(LockShareTest, ReadersDenyingWriteCoexistAndBlockWriters) {
    TFd reader1(FPath, O_RDONLY);
    TFd reader2(FPath, O_RDONLY);
    ASSERT_EQ(LockShare(reader1.Get(), fsRead, fsRead), flGranted);
    ASSERT_EQ(LockShare(reader2.Get(), fsRead, fsRead), flGranted);
    TFd writer(FPath, O_WRONLY);
    EXPECT_EQ(LockShare(writer.Get(), fsWrite, fsReadWrite), flViolation);
}

TEST_F(LockShareTest, WriteOnlyDescriptorsHoldClaimsToo) {
    TFd writer1(FPath, O_WRONLY);
    TFd writer2(FPath, O_WRONLY);
    ASSERT_EQ(LockShare(writer1.Get(), fsWrite, fsWrite), flGranted);
    EXPECT_EQ(LockShare(writer2.Get(), fsWrite, fsWrite), flGranted); // both share writing
    TFd reader(FPath, O_RDONLY);
    EXPECT_EQ(LockShare(reader.Get(), fsRead, fsReadWrite), flViolation); // they deny reading
}

TEST_F(LockShareTest, ClaimsEndWithUnlockOrClose) {
    TFd exclusive(FPath, O_RDWR);
    ASSERT_EQ(LockShare(exclusive.Get(), fsReadWrite, fsNone), flGranted);
    TFd other(FPath, O_RDONLY);
    EXPECT_EQ(LockShare(other.Get(), fsRead, fsReadWrite), flViolation);
    UnlockShare(exclusive.Get());
    EXPECT_EQ(LockShare(other.Get(), fsRead, fsReadWrite), flGranted);
    UnlockShare(other.Get());

    ASSERT_EQ(LockShare(exclusive.Get(), fsReadWrite, fsNone), flGranted);
    EXPECT_EQ(LockShare(other.Get(), fsRead, fsReadWrite), flViolation);
    exclusive.Close();
    EXPECT_EQ(LockShare(other.Get(), fsRead, fsReadWrite), flGranted);
}

TEST_F(LockShareTest, ClaimsStayClearOfLocksOnTheContent) {
    // A lock on the data itself (as a record writer takes) is no claim.
    TFd recordWriter(FPath, O_RDWR);

    struct flock lock {};

    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1 << 20;
    ASSERT_EQ(fcntl(recordWriter.Get(), F_OFD_SETLK, &lock), 0);
    TFd stream(FPath, O_RDWR);
    EXPECT_EQ(LockShare(stream.Get(), fsReadWrite, fsRead), flGranted);
}
