// platform/linux/FileLock.h - share-mode locks that keep other processes from writing an open file.
//
// The Linux file service emulates the framework's sharing modes ("deny write", "exclusive").
// Inside one process a table of open files decides; across processes every stream on a
// regular file also holds advisory locks, taken here, that other processes using this framework
// test before they open the same file. Processes that do not use the framework are not held
// back: the locks are advisory, as all file locks on Linux are by default.
#pragma once

#include "platform/File.h"

#include <cstdint>

namespace platform {

enum TFileLockResult : std::uint8_t {
    flGranted,     ///< the locks are held by the descriptor's open file description
    flViolation,   ///< another open of the file forbids this one (a sharing violation)
    flUnsupported, ///< the file system keeps no such locks; nothing is held
};

/// Claims, for the open file description behind AHandle (opened with exactly the access
/// AAccess names), access AAccess to its file while
/// letting others have AShare. Succeeds only when, for every description in any process that
/// holds such a claim on the same file, AAccess lies within that one's share and its access lies
/// within AShare (the Windows sharing check). Never waits for the other claims to go away; two
/// claims racing for the same file back off and retry for at most a few milliseconds.
///
/// Model: lock regions at the top of the offset range (far beyond any data, so byte-range locks
/// on real content never meet them) stand for "has read", "has write", "denies read" and
/// "denies write", plus a second "denies read" mark that nobody probes. A claim holds a one-byte
/// lock at a random place in each region that applies to it (shared when the descriptor may
/// read, else exclusive: a lock needs the matching access mode), and probes the opposite regions
/// as a whole for any holder. It takes its locks first and probes afterwards, so of two
/// conflicting claims at least one sees the other. A read-write claim that denies writing (the
/// logger's mode, and fmCreate's) conflicts with everyone who holds anything in a contiguous
/// span of regions and with nobody else, so it takes one exclusive lock over that span instead:
/// one system call, decided atomically by the kernel. The locks are
/// open file description locks (F_OFD_SETLK): they belong to the description, not the process,
/// so two streams of one process exclude each other too, and closing the descriptor releases
/// them. A child created by fork() shares the parent's descriptions, and with them the claim.
/// A whole-file lock someone else holds on the file also counts as a conflicting claim.
TFileLockResult LockShare(int AHandle, TFileShareBits AAccess, TFileShareBits AShare);

/// Drops the claim of AHandle's open file description (closing the descriptor does the same).
void UnlockShare(int AHandle);

} // namespace platform
