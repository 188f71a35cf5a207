// platform/linux/FileLock.cpp - share-mode claims as open file description locks.
//
// See FileLock.h for the model. Each claim is a handful of fcntl calls on the stream's own
// descriptor; nothing is kept in memory, so a claim dies with its descriptor.
#include "platform/linux/FileLock.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace platform {

namespace {

static_assert(sizeof(off_t) == 8, "share locks need 64-bit file offsets");

// Regions of 2^40 bytes starting at 2^62; the whole area ends far below the largest offset.
constexpr off_t kRegionSize = off_t{1} << 40;
constexpr off_t kAreaStart = off_t{1} << 62;
constexpr int kRegionCount = 5;

// rgDenyReadMark is a second mark of every claim that denies reading. Nobody probes it, so a
// writer may cover it whole (see LockWholeSpan) without showing up as a reader-denier itself.
// The order matters: the spans whole-span claims cover are contiguous.
enum TRegion : std::uint8_t { rgHasRead, rgDenyReadMark, rgHasWrite, rgDenyWrite, rgDenyRead };

off_t RegionStart(TRegion ARegion) {
    return kAreaStart + static_cast<off_t>(ARegion) * kRegionSize;
}

std::uint64_t RandomSlot() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return generator() & static_cast<std::uint64_t>(kRegionSize - 1);
}

bool IsUnsupported(int AError) {
    return AError == EINVAL || AError == ENOLCK || AError == EOPNOTSUPP || AError == ENOSYS;
}

struct flock MakeLock(short AType, off_t AStart, off_t ALength) {
    struct flock lock {};

    lock.l_type = AType;
    lock.l_whence = SEEK_SET;
    lock.l_start = AStart;
    lock.l_len = ALength;
    lock.l_pid = 0; // required by the OFD commands
    return lock;
}

// 1 when some other description holds a lock in ARegion, 0 when none, -1 on error (errno).
// Takes a one-byte lock somewhere in ARegion. A slot another exclusive holder happens to have
// is simply skipped for the next random one.
bool HoldRegion(int AHandle, TRegion ARegion, short AType) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const off_t slot = RegionStart(ARegion) + static_cast<off_t>(RandomSlot());
        struct flock lock = MakeLock(AType, slot, 1);
        if (fcntl(AHandle, F_OFD_SETLK, &lock) == 0)
            return true;
        if (errno != EAGAIN && errno != EACCES)
            return false;
    }
    errno = EAGAIN;
    return false;
}

void ReleaseAll(int AHandle) {
    struct flock lock = MakeLock(F_UNLCK, kAreaStart, kRegionCount * kRegionSize);
    fcntl(AHandle, F_OFD_SETLK, &lock);
}

// The regions a claim must find empty: whoever denies what it wants, whoever has what it
// denies.
int Conflicts(int AHandle, TFileShareBits AAccess, TFileShareBits AShare) {
    bool probe[kRegionCount] = {}; // rgDenyReadMark is never probed
    probe[rgDenyRead] = (AAccess & fsRead) != 0;
    probe[rgDenyWrite] = (AAccess & fsWrite) != 0;
    probe[rgHasRead] = (AShare & fsRead) == 0;
    probe[rgHasWrite] = (AShare & fsWrite) == 0;
    // Adjacent regions are probed with one call: our own locks never show in the answer.
    for (int first = 0; first < kRegionCount;) {
        if (!probe[first]) {
            ++first;
            continue;
        }
        int last = first;
        while (last + 1 < kRegionCount && probe[last + 1])
            ++last;
        struct flock query = MakeLock(F_WRLCK, RegionStart(static_cast<TRegion>(first)),
                                      (last - first + 1) * kRegionSize);
        if (fcntl(AHandle, F_OFD_GETLK, &query) != 0)
            return -1;
        if (query.l_type != F_UNLCK)
            return 1;
        first = last + 1;
    }
    return 0;
}

void PauseBriefly() {
    // 0.2 to 1.5 ms, random, so two racing claimers fall out of step.
    const auto nanos = static_cast<long>(200000 + RandomSlot() % 1300000);

    struct timespec pause {
        0, nanos
    };

    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// A read-write claim that denies writing conflicts with every claim that holds anything in
// rgDenyReadMark..rgDenyWrite (it writes, so it meets write-deniers; it reads, so it meets
// read-deniers through their second mark; it denies writing, so it meets writers), and one that
// denies reading as well conflicts with every claim at all. No claim it tolerates holds or
// probes inside that span, so a single exclusive lock over the span is the whole claim: the
// kernel decides atomically, nothing to probe, nothing to retry. This is the logger's mode.
bool CoversWholeSpan(TFileShareBits AAccess, TFileShareBits AShare) {
    return AAccess == fsReadWrite && (AShare & fsWrite) == 0;
}

TFileLockResult LockWholeSpan(int AHandle, TFileShareBits AShare) {
    const TRegion first = (AShare & fsRead) == 0 ? rgHasRead : rgDenyReadMark;
    const TRegion last = (AShare & fsRead) == 0 ? rgDenyRead : rgDenyWrite;
    struct flock lock = MakeLock(F_WRLCK, RegionStart(first), (last - first + 1) * kRegionSize);
    if (fcntl(AHandle, F_OFD_SETLK, &lock) == 0)
        return flGranted;
    return IsUnsupported(errno) ? flUnsupported : flViolation;
}

} // namespace

TFileLockResult LockShare(int AHandle, TFileShareBits AAccess, TFileShareBits AShare) {
    if (CoversWholeSpan(AAccess, AShare))
        return LockWholeSpan(AHandle, AShare);
    // A shared lock needs a readable descriptor, an exclusive one a writable descriptor.
    const short holdType = (AAccess & fsRead) != 0 ? F_RDLCK : F_WRLCK;

    const struct {
        bool Applies;
        TRegion Region;
    } holds[] = {
        {(AAccess & fsRead) != 0, rgHasRead},   {(AAccess & fsWrite) != 0, rgHasWrite},
        {(AShare & fsRead) == 0, rgDenyRead},   {(AShare & fsRead) == 0, rgDenyReadMark},
        {(AShare & fsWrite) == 0, rgDenyWrite},
    };

    for (int attempt = 0; attempt < 8; ++attempt) {
        if (attempt > 0)
            PauseBriefly();
        // After a failed round, a conflict already standing is a plain sharing violation: no
        // need to take anything again. The first round goes straight to holding, the common
        // case of no conflict costs the least.
        if (attempt > 0) {
            const int standing = Conflicts(AHandle, AAccess, AShare);
            if (standing < 0)
                return IsUnsupported(errno) ? flUnsupported : flViolation;
            if (standing > 0)
                return flViolation;
        }

        for (const auto& h : holds) {
            if (h.Applies && !HoldRegion(AHandle, h.Region, holdType)) {
                const int error = errno;
                ReleaseAll(AHandle);
                // Sixteen random places all taken means an exclusive lock over the whole
                // region: a whole-span claim or a whole-file lock, which both stay put.
                return IsUnsupported(error) ? flUnsupported : flViolation;
            }
        }
        // Probing after holding: of two claimers racing here, at least one sees the other.
        const int conflict = Conflicts(AHandle, AAccess, AShare);
        if (conflict == 0)
            return flGranted;
        if (conflict < 0 && IsUnsupported(errno)) {
            ReleaseAll(AHandle);
            return flUnsupported;
        }
        ReleaseAll(AHandle);
    }
    return flViolation;
}

void UnlockShare(int AHandle) {
    ReleaseAll(AHandle);
}

} // namespace platform
