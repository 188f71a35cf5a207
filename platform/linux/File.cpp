// platform/linux/File.cpp - the Linux file service: opens with sharing modes, whole-file reads,
// atomic replacement, and the executable's path.
//
// Reading a whole file, replacing one and the executable's path come from the small file
// library the tools share (FileOps.h); its errors arrive here as their errno. The sharing rule
// has two halves. Across processes each open claims its access and sharing with the advisory
// locks of FileLock.h. Within the process a table of the files held open stands in where a
// file system keeps no locks. A read-write open of an existing file claims
// first and, when the claim is granted, is done: one open and one fcntl, the cost the log
// writer pays per record.
#include "platform/File.h"

#include "platform/linux/FileLock.h"
#include "platform/linux/FileOps.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <new>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

using TClock = std::chrono::steady_clock;

// Largest count handed to one read or write call.
constexpr std::int64_t kMaxChunk = std::int64_t{1} << 30;

struct TShareEntry {
    dev_t Device;
    ino_t Inode;
    TFileShareBits Access;
    TFileShareBits Share;
};

// The files this process holds open where the file system keeps no locks. Few are open at a
// time, so a plain map searched in full is enough.
struct TShareTable {
    std::mutex Lock;
    std::map<std::uint64_t, TShareEntry> Entries;
    std::uint64_t NextKey = 1;
};

TShareTable& ShareTable() {
    static TShareTable table;
    return table;
}

bool Contains(TFileShareBits AOuter, TFileShareBits AInner) {
    return (AInner & ~AOuter) == 0;
}

// Milliseconds left until ADeadline, rounded up; 0 once it has passed.
int MillisecondsLeft(TClock::time_point ADeadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(ADeadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(std::min<std::int64_t>(left, 1 << 30)) : 0;
}

// Waits before the next attempt at a claim another open holds: short at first, since a log
// writer holds its claim for a few microseconds, growing to a millisecond, with a random part
// so that several waiters fall out of step.
class TClaimBackoff {
public:
    void Pause() {
        thread_local std::minstd_rand random{std::random_device{}()};
        const auto micros = FStep / 2 + random() % FStep;
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
        FStep = std::min<unsigned>(FStep * 2, 1000);
    }

private:
    unsigned FStep = 20;
};

class TLinuxFile : public TFileHandle {
public:
    TLinuxFile(int AFd, std::uint64_t AShareEntry, int ABlockLimitMs, bool AOwned = true)
        : FFd(AFd)
        , FShareEntry(AShareEntry)
        , FBlockLimitMs(ABlockLimitMs)
        , FOwned(AOwned) {}

    ~TLinuxFile() override {
        if (!FOwned)
            return;
        if (FShareEntry == 0) {
            ::close(FFd);
            return;
        }
        // Closing (which ends the cross-process claim) and leaving the table happen together,
        // so no opener in this process sees one without the other.
        TShareTable& table = ShareTable();
        std::lock_guard<std::mutex> guard(table.Lock);
        ::close(FFd);
        table.Entries.erase(FShareEntry);
    }

    TLinuxFile(const TLinuxFile&) = delete;
    TLinuxFile& operator=(const TLinuxFile&) = delete;

    std::int64_t Read(void* ABuffer, std::int64_t ACount, int& AError) override {
        AError = 0;
        std::int64_t done = 0;
        auto* out = static_cast<char*>(ABuffer);
        while (done < ACount) {
            const auto part = static_cast<std::size_t>(std::min(ACount - done, kMaxChunk));
            const ssize_t got = ::read(FFd, out + done, part);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                AError = errno;
            if (got <= 0)
                break;
            done += got;
        }
        return done;
    }

    std::int64_t Write(const void* ABuffer, std::int64_t ACount, int& AError) override {
        AError = 0;
        std::int64_t done = 0;
        const auto* in = static_cast<const char*>(ABuffer);
        TClock::time_point deadline{};
        while (done < ACount) {
            const auto part = static_cast<std::size_t>(std::min(ACount - done, kMaxChunk));
            const ssize_t put = ::write(FFd, in + done, part);
            if (put > 0) {
                done += put;
                continue;
            }
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0 && errno == EAGAIN && FBlockLimitMs >= 0) {
                // A FIFO or device opened not to block: wait a bounded time for its reader.
                if (deadline == TClock::time_point{})
                    deadline = TClock::now() + std::chrono::milliseconds(FBlockLimitMs);
                pollfd ready{FFd, POLLOUT, 0};
                if (MillisecondsLeft(deadline) > 0 &&
                    ::poll(&ready, 1, MillisecondsLeft(deadline)) > 0 &&
                    (ready.revents & POLLOUT) != 0)
                    continue;
                AError = EAGAIN;
                break;
            }
            AError = put < 0 ? errno : EIO; // a write of nothing at all: the device refuses
            break;
        }
        return done;
    }

    std::int64_t Seek(std::int64_t AOffset, int AWhence) override {
        return ::lseek(FFd, static_cast<off_t>(AOffset), AWhence);
    }

    int Truncate(std::int64_t ASize) override {
        if (ASize < 0)
            return EINVAL;
        return ::ftruncate(FFd, static_cast<off_t>(ASize)) == 0 ? 0 : errno;
    }

private:
    int FFd;
    std::uint64_t FShareEntry; // key of this open in the share table, 0 when none
    int FBlockLimitMs;
    bool FOwned; // closed on destruction
};

// Closes a descriptor on every path out of a function, unless released.
class TFdGuard {
public:
    explicit TFdGuard(int AFd)
        : FFd(AFd) {}

    ~TFdGuard() {
        if (FFd >= 0)
            ::close(FFd);
    }

    TFdGuard(const TFdGuard&) = delete;
    TFdGuard& operator=(const TFdGuard&) = delete;

    int Get() const { return FFd; }

    int Release() { return std::exchange(FFd, -1); }

private:
    int FFd;
};

// The claim of AFd on a regular file: locks where the file system keeps them, the process's
// table where it does not. Returns the table key (0 when the locks hold the claim) and sets
// AGranted.
std::uint64_t ClaimOnce(int AFd, const struct stat& AInfo, TFileShareBits AAccess,
                        TFileShareBits AShare, bool& AGranted) {
    TShareTable& table = ShareTable();
    std::lock_guard<std::mutex> guard(table.Lock);
    AGranted = false;
    for (const auto& [key, entry] : table.Entries)
        if (entry.Device == AInfo.st_dev && entry.Inode == AInfo.st_ino &&
            !(Contains(entry.Share, AAccess) && Contains(AShare, entry.Access)))
            return 0;
    const TFileLockResult claim = LockShare(AFd, AAccess, AShare);
    if (claim == flViolation)
        return 0;
    AGranted = true;
    if (claim == flGranted)
        return 0;
    const std::uint64_t key = table.NextKey++;
    table.Entries.emplace(key, TShareEntry{AInfo.st_dev, AInfo.st_ino, AAccess, AShare});
    return key;
}

class TLinuxFileService : public TFileService {
public:
    std::unique_ptr<TFileHandle> Open(const std::string& APath, const TFileOpenMode& AMode,
                                      int& AError) override;
    int ReadFile(const std::string& APath, std::string& AContents) override;
    int ReplaceFile(const std::string& APath, std::string_view AContents) override;
    int Rename(const std::string& AFrom, const std::string& ATo) override;
    bool Exists(const std::string& APath) override;
    int Delete(const std::string& APath) override;
    std::string ExecutablePath() override;
};

std::unique_ptr<TFileHandle> TLinuxFileService::Open(const std::string& APath,
                                                     const TFileOpenMode& AMode, int& AError) {
    AError = 0;
    const TFileShareBits access = AMode.Access;
    const TFileShareBits share = AMode.Share;
    const bool truncate = AMode.Creation == fcCreateOrTruncate;
    if (access == fsNone || access > fsReadWrite || share > fsReadWrite ||
        (AMode.Creation != fcOpenExisting && (access & fsWrite) == 0)) {
        AError = EINVAL;
        return nullptr;
    }
    static constexpr int kAccessFlags[] = {0, O_RDONLY, O_WRONLY, O_RDWR};
    int flags = O_CLOEXEC | O_NOCTTY | kAccessFlags[access];
    if (AMode.Creation != fcOpenExisting)
        flags |= O_CREAT;
    if (AMode.Append && (access & fsWrite) != 0)
        flags |= O_APPEND;
    const bool neverBlock = AMode.BlockLimitMs >= 0;

    // A read-write open never blocks, not even on a FIFO, and never opens a folder, so it can
    // claim before it looks at the file. Other opens must not hang on a FIFO without a partner:
    // they open without blocking and switch back once they know what they opened.
    const bool claimFirst = !truncate && access == fsReadWrite;
    if (!claimFirst || neverBlock)
        flags |= O_NONBLOCK;
    const TClock::time_point deadline =
        TClock::now() + std::chrono::milliseconds(AMode.ClaimWaitMs);
    TClaimBackoff backoff;

    // Truncation waits until the sharing check has passed.
    TFdGuard fd(::open(APath.c_str(), flags, 0666));
    if (fd.Get() < 0) {
        AError = errno;
        return nullptr;
    }
    if (claimFirst) {
        for (;;) {
            const TFileLockResult claim = LockShare(fd.Get(), access, share);
            if (claim == flGranted)
                return std::make_unique<TLinuxFile>(fd.Release(), 0, AMode.BlockLimitMs);
            if (claim == flUnsupported || MillisecondsLeft(deadline) == 0)
                break;
            backoff.Pause();
        }
    }

    struct stat info {};

    if (::fstat(fd.Get(), &info) != 0) {
        AError = errno;
        return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
        AError = EISDIR;
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        // FIFOs, sockets and devices are shared freely; they block as usual unless asked not to.
        if (!neverBlock && (flags & O_NONBLOCK) != 0 &&
            ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK) != 0) {
            AError = errno;
            return nullptr;
        }
        return std::make_unique<TLinuxFile>(fd.Release(), 0, AMode.BlockLimitMs);
    }
    std::uint64_t entry = 0;
    for (;;) {
        bool granted = false;
        entry = ClaimOnce(fd.Get(), info, access, share, granted);
        if (granted)
            break;
        if (MillisecondsLeft(deadline) == 0) {
            AError = EBUSY;
            return nullptr;
        }
        backoff.Pause();
    }
    auto file = std::make_unique<TLinuxFile>(fd.Release(), entry, AMode.BlockLimitMs);
    if (truncate && info.st_size != 0) {
        AError = file->Truncate(0);
        if (AError != 0)
            return nullptr;
    }
    return file;
}

int TLinuxFileService::ReadFile(const std::string& APath, std::string& AContents) {
    AContents.clear();
    // The tools' file library refuses folders, FIFOs and devices without blocking on them.
    try {
        AContents = fileops::ReadWholeFile(APath);
        return 0;
    } catch (const fileops::EFileError& e) {
        return e.Errno();
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int TLinuxFileService::ReplaceFile(const std::string& APath, std::string_view AContents) {
    try {
        // Flushed to the disk before success is reported: the stores built on this keep their
        // promise across a power cut too.
        fileops::TReplaceOptions options;
        options.Sync = true;
        fileops::ReplaceFile(APath, AContents, options);
        return 0;
    } catch (const fileops::EFileError& e) {
        return e.Errno();
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int TLinuxFileService::Rename(const std::string& AFrom, const std::string& ATo) {
    return ::rename(AFrom.c_str(), ATo.c_str()) == 0 ? 0 : errno;
}

bool TLinuxFileService::Exists(const std::string& APath) {
    struct stat info {};

    return !APath.empty() && ::stat(APath.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

int TLinuxFileService::Delete(const std::string& APath) {
    if (APath.empty())
        return ENOENT;
    return ::unlink(APath.c_str()) == 0 ? 0 : errno;
}

std::string TLinuxFileService::ExecutablePath() {
    // A process runs one executable until it ends, and a report asks for it several times (a
    // readlink of /proc/self/exe each): read once. Kept too when the file is later deleted or
    // replaced, where the kernel's answer would gain " (deleted)".
    static const std::string path = fileops::ExecutablePath();
    return path.empty() ? fileops::ExecutablePath() : path;
}

} // namespace

TFileService& LinuxFileService() {
    static TLinuxFileService service;
    return service;
}

std::unique_ptr<TFileHandle> DescriptorHandle(int AFd) {
    return std::make_unique<TLinuxFile>(AFd, 0, -1, false);
}

} // namespace platform
