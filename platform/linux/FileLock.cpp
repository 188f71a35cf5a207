// platform/linux/FileLock.cpp - share-mode claims as open file description locks.
//
// See FileLock.h for the model. Each claim is a handful of fcntl calls on the stream's own
// descriptor; nothing is kept in memory, so a claim dies with its descriptor.
#include "platform/FileLock.h"

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
constexpr int kRegionCount = 4;

enum TRegion : std::uint8_t { rgHasRead, rgHasWrite, rgDenyRead, rgDenyWrite };

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
int RegionHeld(int AHandle, TRegion ARegion) {
    struct flock probe = MakeLock(F_WRLCK, RegionStart(ARegion), kRegionSize);
    if (fcntl(AHandle, F_OFD_GETLK, &probe) != 0)
        return -1;
    return probe.l_type != F_UNLCK ? 1 : 0;
}

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
    const struct {
        bool Applies;
        TRegion Region;
    } probes[] = {
        {(AAccess & fsRead) != 0, rgDenyRead},
        {(AAccess & fsWrite) != 0, rgDenyWrite},
        {(AShare & fsRead) == 0, rgHasRead},
        {(AShare & fsWrite) == 0, rgHasWrite},
    };

    for (const auto& p : probes) {
        if (!p.Applies)
            continue;
        const int held = RegionHeld(AHandle, p.Region);
        if (held != 0)
            return held;
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

} // namespace

TFileLockResult LockShare(int AHandle, TFileShareBits AAccess, TFileShareBits AShare) {
    const int flags = fcntl(AHandle, F_GETFL);
    if (flags < 0)
        return flUnsupported;
    // A shared lock needs a readable descriptor, an exclusive one a writable descriptor.
    const short holdType = (flags & O_ACCMODE) == O_WRONLY ? F_WRLCK : F_RDLCK;

    const struct {
        bool Applies;
        TRegion Region;
    } holds[] = {
        {(AAccess & fsRead) != 0, rgHasRead},
        {(AAccess & fsWrite) != 0, rgHasWrite},
        {(AShare & fsRead) == 0, rgDenyRead},
        {(AShare & fsWrite) == 0, rgDenyWrite},
    };

    for (int attempt = 0; attempt < 8; ++attempt) {
        if (attempt > 0)
            PauseBriefly();
        // A conflict already standing is a plain sharing violation: no need to take anything.
        int conflict = Conflicts(AHandle, AAccess, AShare);
        if (conflict < 0)
            return IsUnsupported(errno) ? flUnsupported : flViolation;
        if (conflict > 0)
            return flViolation;

        bool held = true;
        for (const auto& h : holds) {
            if (h.Applies && !HoldRegion(AHandle, h.Region, holdType)) {
                held = false;
                break;
            }
        }
        if (!held) {
            const int error = errno;
            ReleaseAll(AHandle);
            if (IsUnsupported(error))
                return flUnsupported;
            continue;
        }
        // Probing after holding: of two claimers racing here, at least one sees the other.
        conflict = Conflicts(AHandle, AAccess, AShare);
        if (conflict == 0)
            return flGranted;
        ReleaseAll(AHandle);
    }
    return flViolation;
}

void UnlockShare(int AHandle) {
    ReleaseAll(AHandle);
}

} // namespace platform
