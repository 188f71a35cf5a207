// tests/platform/FileLockTest.cpp - share claims on descriptors: conflicts between open file
// descriptions, every pair of claims, racing claims, write-only descriptors, release on unlock
// and on close.
#include "platform/linux/FileLock.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

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

namespace {

struct TClaim {
    TFileShareBits Access;
    TFileShareBits Share;
};

int OpenFlagsFor(TFileShareBits AAccess) {
    if (AAccess == fsReadWrite)
        return O_RDWR;
    return AAccess == fsWrite ? O_WRONLY : O_RDONLY;
}

bool Compatible(TClaim AHeld, TClaim AWanted) {
    const auto within = [](TFileShareBits AOuter, TFileShareBits AInner) {
        return (AInner & ~AOuter) == 0;
    };
    return within(AHeld.Share, AWanted.Access) && within(AWanted.Share, AHeld.Access);
}

std::vector<TClaim> AllClaims() {
    std::vector<TClaim> claims;
    for (TFileShareBits access : {fsRead, fsWrite, fsReadWrite})
        for (TFileShareBits share : {fsNone, fsRead, fsWrite, fsReadWrite})
            claims.push_back({access, share});
    return claims;
}

} // namespace

// Every pair of claims, each side on its own descriptor of the matching access: the one-lock
// claims of read-write deniers of writing must meet exactly the claims they conflict with.
TEST_F(LockShareTest, EveryPairOfClaimsFollowsTheSharingRule) {
    for (const TClaim& held : AllClaims()) {
        TFd holder(FPath, OpenFlagsFor(held.Access));
        ASSERT_EQ(LockShare(holder.Get(), held.Access, held.Share), flGranted);
        for (const TClaim& wanted : AllClaims()) {
            TFd other(FPath, OpenFlagsFor(wanted.Access));
            const TFileLockResult result = LockShare(other.Get(), wanted.Access, wanted.Share);
            EXPECT_EQ(result, Compatible(held, wanted) ? flGranted : flViolation)
                << "held " << int(held.Access) << "/" << int(held.Share) << ", wanted "
                << int(wanted.Access) << "/" << int(wanted.Share);
        }
    }
}

// The logger's one-lock claim racing readers that deny writing (which hold and then probe):
// never both at once, and each side gets its turns.
TEST_F(LockShareTest, OneLockClaimsAndProbingClaimsNeverOverlap) {
    std::atomic<int> writers{0};
    std::atomic<int> readers{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> granted[2] = {0, 0};
    const auto run = [&](int ASide) {
        for (int i = 0; i < 400; ++i) {
            TFd fd(FPath, ASide == 0 ? O_RDWR : O_RDONLY);
            const TFileLockResult result = ASide == 0 ? LockShare(fd.Get(), fsReadWrite, fsRead)
                                                      : LockShare(fd.Get(), fsRead, fsRead);
            if (result != flGranted)
                continue;
            granted[ASide].fetch_add(1);
            std::atomic<int>& mine = ASide == 0 ? writers : readers;
            const std::atomic<int>& theirs = ASide == 0 ? readers : writers;
            mine.fetch_add(1);
            if (theirs.load() != 0 || (ASide == 0 && writers.load() > 1))
                overlaps.fetch_add(1);
            mine.fetch_sub(1);
        }
    };
    std::vector<std::thread> threads;
    for (int side : {0, 0, 1, 1})
        threads.emplace_back(run, side);
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(granted[0].load(), 0);
    EXPECT_GT(granted[1].load(), 0);
}
