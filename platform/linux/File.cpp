// platform/linux/File.cpp - the Linux file service: opens with sharing modes, whole-file reads,
// atomic replacement, and the executable's path.
//
// The sharing rule has two halves. Across processes each open claims its access and sharing
// with the advisory locks of FileLock.h. Within the process a table of the files held open
// stands in where a file system keeps no locks. A read-write open of an existing file claims
// first and, when the claim is granted, is done: one open and one fcntl, the cost the log
// writer pays per record.
#include "platform/File.h"

#include "platform/linux/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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
    TLinuxFile(int AFd, std::uint64_t AShareEntry, int ABlockLimitMs)
        : FFd(AFd)
        , FShareEntry(AShareEntry)
        , FBlockLimitMs(ABlockLimitMs) {}

    ~TLinuxFile() override {
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
    // Not blocking on the open: a FIFO without a writer must not hang us before fstat tells.
    TFdGuard fd(::open(APath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0)
        return errno;

    struct stat info {};

    if (::fstat(fd.Get(), &info) != 0)
        return errno;
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    // One byte more than the size tells the end of the file without a second read when the
    // size is right; files of /proc report 0 and are read to their end all the same.
    std::string text(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(std::max<std::size_t>(4096, text.size() * 2));
        const ssize_t count = ::read(fd.Get(), text.data() + used, text.size() - used);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        if (count == 0)
            break;
        used += static_cast<std::size_t>(count);
    }
    text.resize(used);
    AContents.swap(text);
    return 0;
}

int TLinuxFileService::ReplaceFile(const std::string& APath, std::string_view AContents) {
    std::string temporary = APath + ".XXXXXX";
    TFdGuard fd(::mkstemp(temporary.data()));
    if (fd.Get() < 0)
        return errno;
    ::fcntl(fd.Get(), F_SETFD, FD_CLOEXEC);
    const auto fail = [&](int AError) {
        ::unlink(temporary.c_str());
        return AError;
    };

    // mkstemp creates 0600; the replacement keeps the old file's mode, or gets the usual one.
    struct stat old {};

    mode_t mode = 0;
    if (::stat(APath.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd.Get(), mode) != 0)
        return fail(errno);
    std::size_t done = 0;
    while (done < AContents.size()) {
        const ssize_t put = ::write(fd.Get(), AContents.data() + done, AContents.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return fail(put < 0 ? errno : EIO);
        done += static_cast<std::size_t>(put);
    }
    if (::fsync(fd.Get()) != 0)
        return fail(errno);
    if (::close(fd.Release()) != 0)
        return fail(errno);
    if (::rename(temporary.c_str(), APath.c_str()) != 0)
        return fail(errno);
    return 0;
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
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

TFileService& LinuxFileService() {
    static TLinuxFileService service;
    return service;
}

} // namespace platform
