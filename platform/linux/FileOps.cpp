// platform/linux/FileOps.cpp - whole-file reads, one-step replacement and its signal cleanup.
#include "platform/linux/FileOps.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fileops {

namespace {

std::string SystemReason(int AErrno) {
    return std::strerror(AErrno);
}

const char* TypeName(mode_t AMode) {
    if (S_ISDIR(AMode))
        return "not a regular file but a folder";
    if (S_ISFIFO(AMode))
        return "not a regular file but a FIFO";
    if (S_ISCHR(AMode))
        return "not a regular file but a character device";
    if (S_ISBLK(AMode))
        return "not a regular file but a block device";
    if (S_ISSOCK(AMode))
        return "not a regular file but a socket";
    return "not a regular file";
}

[[noreturn]] void RaiseNotRegular(const char* AOperation, const std::string& APath, mode_t AMode) {
    throw EFileError(AOperation, APath, S_ISDIR(AMode) ? EISDIR : EINVAL,
                     TFileErrorKind::fekNotRegular, TypeName(AMode));
}

// The temporary files of replacements in progress, for the signal handler. A slot is free (0),
// being filled or emptied (1), or holds a path the handler may remove (2); the handler reads
// only armed slots, and nothing but lock-free atomics and unlink.
constexpr int SlotCount = 16;
constexpr int SlotFree = 0;
constexpr int SlotBusy = 1;
constexpr int SlotArmed = 2;

struct TTemporarySlot {
    std::atomic<int> State{SlotFree};
    char Path[PATH_MAX] = {};
};

static_assert(std::atomic<int>::is_always_lock_free);

TTemporarySlot GSlots[SlotCount];

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

int ArmSlot(const std::string& APath) {
    if (APath.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < SlotCount; ++i) {
        int expected = SlotFree;
        if (GSlots[i].State.compare_exchange_strong(expected, SlotBusy)) {
            std::memcpy(GSlots[i].Path, APath.c_str(), APath.size() + 1);
            GSlots[i].State.store(SlotArmed);
            return i;
        }
    }
    return -1; // more replacements at once than slots: this one goes without signal cleanup
}

void DisarmSlot(int& ASlot) {
    if (ASlot < 0)
        return;
    GSlots[ASlot].State.store(SlotBusy);
    GSlots[ASlot].Path[0] = '\0';
    GSlots[ASlot].State.store(SlotFree);
    ASlot = -1;
}

extern "C" void RemoveTemporariesAndEnd(int ASignal) {
    for (TTemporarySlot& slot : GSlots)
        if (slot.State.load() == SlotArmed)
            ::unlink(slot.Path);

    // End by the same signal, so that the parent sees how the program ended.
    struct sigaction standard {};

    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(ASignal, &standard, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, ASignal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(ASignal);
}

// Set once RemoveTemporariesOnSignals installed the handlers; until then no signal looks at the
// slots and there is nothing to hold back.
std::atomic<bool> GCleanupInstalled{false};

// Holds the cleanup signals back in this thread while a temporary file is created and listed,
// or renamed and struck off, so that none arrives between the two steps.
class TSignalBlock {
public:
    TSignalBlock()
        : FBlocked(GCleanupInstalled.load(std::memory_order_acquire)) {
        if (!FBlocked)
            return;
        sigset_t set;
        sigemptyset(&set);
        for (int signal : CleanupSignals)
            sigaddset(&set, signal);
        ::pthread_sigmask(SIG_BLOCK, &set, &FOld);
    }

    ~TSignalBlock() {
        if (FBlocked)
            ::pthread_sigmask(SIG_SETMASK, &FOld, nullptr);
    }

    TSignalBlock(const TSignalBlock&) = delete;
    TSignalBlock& operator=(const TSignalBlock&) = delete;

private:
    bool FBlocked;
    sigset_t FOld{};
};

std::string FolderOf(const std::string& APath) {
    const std::size_t slash = APath.rfind('/');
    return slash == std::string::npos ? std::string() : APath.substr(0, slash + 1);
}

// Six letters or digits, different for every call in every process.
std::string UniqueSuffix() {
    static std::atomic<std::uint64_t> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t value = static_cast<std::uint64_t>(now.tv_nsec) ^
                          (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                          (static_cast<std::uint64_t>(::getpid()) << 40) ^
                          (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    value ^= value >> 29;
    value *= 0xBF58476D1CE4E5B9ull;
    value ^= value >> 32;
    constexpr char Digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, 'a');
    for (char& c : suffix) {
        c = Digits[value % 36];
        value /= 36;
    }
    return suffix;
}

int RealOpen(const char* APath, int AFlags, mode_t AMode) {
    return ::open(APath, AFlags, AMode);
}

int RealOpenAt(int AFolder, const char* AName, int AFlags, mode_t AMode) {
    return ::openat(AFolder, AName, AFlags, AMode);
}

constexpr TSystemCalls Real{RealOpen, RealOpenAt, ::read,     ::write,
                            ::fsync,  ::close,    ::renameat, ::unlinkat};

// Constant-initialised, so that it holds the real calls before any constructor runs.
constinit TSystemCalls GCalls = Real;

} // namespace

const TSystemCalls& RealSystemCalls() {
    return Real;
}

TSystemCalls& SystemCalls() {
    return GCalls;
}

EFileError::EFileError(std::string AOperation, std::string APath, int AErrno, TFileErrorKind AKind,
                       std::string AReason)
    : std::runtime_error(AOperation + " " + APath + ": " +
                         (AReason.empty() ? SystemReason(AErrno) : AReason))
    , FOperation(std::move(AOperation))
    , FPath(std::move(APath))
    , FErrno(AErrno)
    , FKind(AKind)
    , FReason(AReason.empty() ? SystemReason(AErrno) : std::move(AReason)) {}

TFileHandle::~TFileHandle() {
    if (FFd >= 0)
        GCalls.Close(FFd);
}

TFileHandle::TFileHandle(TFileHandle&& AOther) noexcept
    : FFd(std::exchange(AOther.FFd, -1)) {}

TFileHandle& TFileHandle::operator=(TFileHandle&& AOther) noexcept {
    if (this != &AOther) {
        if (FFd >= 0)
            GCalls.Close(FFd);
        FFd = std::exchange(AOther.FFd, -1);
    }
    return *this;
}

int TFileHandle::Release() {
    return std::exchange(FFd, -1);
}

TFileHandle OpenRegularFile(const std::string& APath, std::uint64_t* ASize) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; what is opened is then
    // looked at before a byte is read.
    TFileHandle file(GCalls.Open(APath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0));
    if (file.Fd() < 0)
        throw EFileError("open", APath, errno);

    struct stat info {};

    if (::fstat(file.Fd(), &info) != 0)
        throw EFileError("open", APath, errno);
    if (!S_ISREG(info.st_mode))
        RaiseNotRegular("open", APath, info.st_mode);
    const int flags = ::fcntl(file.Fd(), F_GETFL);
    if (flags < 0 || ::fcntl(file.Fd(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw EFileError("open", APath, errno);
    if (ASize != nullptr)
        *ASize = static_cast<std::uint64_t>(info.st_size);
    return file;
}

std::string ReadWholeFile(const std::string& APath) {
    std::uint64_t size = 0;
    const TFileHandle file = OpenRegularFile(APath, &size);
    // One byte more than the size, so that the first read already sees the end.
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t used = 0;
    while (true) {
        if (used == text.size())
            text.resize(text.size() * 2);
        const ssize_t got = GCalls.Read(file.Fd(), text.data() + used, text.size() - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw EFileError("read", APath, errno);
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    text.resize(used);
    return text;
}

bool PathExists(const std::string& APath) {
    struct stat info {};

    return ::lstat(APath.c_str(), &info) == 0;
}

bool FileIdentity(const std::string& APath, dev_t& ADevice, ino_t& AInode) {
    struct stat info {};

    if (::stat(APath.c_str(), &info) != 0)
        return false;
    ADevice = info.st_dev;
    AInode = info.st_ino;
    return true;
}

std::string FollowLinks(const std::string& APath) {
    constexpr int MaxLinks = 40; // as the kernel allows in one path
    std::string path = APath;
    for (int links = 0;; ++links) {
        struct stat info {};

        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path; // a missing file is created where the last link points
        if (links == MaxLinks)
            throw EFileError("open", APath, ELOOP);
        std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1,
                           '\0');
        ssize_t length = 0;
        while ((length = ::readlink(path.c_str(), target.data(), target.size())) >= 0 &&
               static_cast<std::size_t>(length) == target.size())
            target.resize(target.size() * 2);
        if (length < 0)
            throw EFileError("open", APath, errno);
        target.resize(static_cast<std::size_t>(length));
        path = !target.empty() && target[0] == '/' ? target : FolderOf(path) + target;
    }
}

TFileReplacement::TFileReplacement(std::string APath, TReplaceOptions AOptions)
    : FPath(std::move(APath))
    , FOptions(std::move(AOptions)) {
    // The folder is opened once and everything after that names files relative to it, so the
    // path is walked once and not for every step.
    FTarget = FPath;
    OpenFolder();

    struct stat old {};

    bool exists = ::fstatat(FFolder, FTargetName.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISLNK(old.st_mode)) {
        CloseFolder();
        FTarget = FollowLinks(FPath);
        OpenFolder();
        exists = ::fstatat(FFolder, FTargetName.c_str(), &old, 0) == 0;
    }
    if (exists) {
        if (!S_ISREG(old.st_mode)) {
            CloseFolder();
            RaiseNotRegular("create", FPath, old.st_mode);
        }
        for (const std::string& input : FOptions.Inputs) {
            dev_t device = 0;
            ino_t inode = 0;
            if (FileIdentity(input, device, inode) && device == old.st_dev && inode == old.st_ino) {
                CloseFolder();
                throw EFileError("create", FPath, EINVAL, TFileErrorKind::fekSameAsInput,
                                 "is one of the input files (" + input + ")");
            }
        }
    }

    std::string name = FTargetName;
    if (name.size() > 200)
        name.resize(200); // the temporary's name must stay within the 255 bytes a name may have
    const std::string stem = "." + name + ".";
    {
        const TSignalBlock block;
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            FTemporaryName = stem + UniqueSuffix();
            // Created by this call or not at all (O_EXCL), with the umask applied by the system.
            FFd = GCalls.OpenAt(FFolder, FTemporaryName.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            error = FFd < 0 ? errno : 0;
        }
        if (FFd < 0) {
            FTemporaryName.clear();
            CloseFolder();
            throw EFileError("create", FPath, error);
        }
        FTemporary = FolderOf(FTarget) + FTemporaryName;
        FSlot = ArmSlot(FTemporary);
    }
    if (exists && ::fchmod(FFd, old.st_mode & 07777) != 0)
        Fail("create", errno);
}

void TFileReplacement::OpenFolder() {
    const std::size_t slash = FTarget.rfind('/');
    FTargetName = slash == std::string::npos ? FTarget : FTarget.substr(slash + 1);
    const std::string folder = FolderOf(FTarget);
    const char* path = folder.empty() ? "." : folder.c_str();
    FFolder = GCalls.Open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    // A folder that may be written but not read still takes the file when nothing needs to be
    // flushed in it.
    if (FFolder < 0 && errno == EACCES && !FOptions.Sync)
        FFolder = GCalls.Open(path, O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    if (FFolder < 0)
        throw EFileError("create", FPath, errno);
}

void TFileReplacement::CloseFolder() noexcept {
    if (FFolder >= 0) {
        GCalls.Close(FFolder);
        FFolder = -1;
    }
}

TFileReplacement::~TFileReplacement() {
    Discard();
}

void TFileReplacement::Discard() noexcept {
    if (FFd >= 0) {
        GCalls.Close(FFd);
        FFd = -1;
    }
    if (!FTemporary.empty()) {
        const TSignalBlock block;
        GCalls.UnlinkAt(FFolder, FTemporaryName.c_str(), 0);
        DisarmSlot(FSlot);
        FTemporary.clear();
        FTemporaryName.clear();
    }
    CloseFolder();
}

void TFileReplacement::Fail(const char* AOperation, int AErrno) {
    Discard();
    throw EFileError(AOperation, FPath, AErrno);
}

void TFileReplacement::Write(std::string_view AText) {
    if (FFd < 0)
        throw EFileError("write", FPath, EBADF);
    const char* data = AText.data();
    std::size_t left = AText.size();
    while (left > 0) {
        const ssize_t written = GCalls.Write(FFd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            Fail("write", errno);
        if (written == 0)
            Fail("write", EIO);
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

void TFileReplacement::Commit() {
    if (FFd < 0)
        throw EFileError("write", FPath, EBADF);
    if (FOptions.Sync && GCalls.Fsync(FFd) != 0)
        Fail("write", errno);
    const int fd = std::exchange(FFd, -1);
    // A full disk may show only when the file is closed (network file systems).
    if (GCalls.Close(fd) != 0)
        Fail("write", errno);
    {
        const TSignalBlock block;
        if (GCalls.RenameAt(FFolder, FTemporaryName.c_str(), FFolder, FTargetName.c_str()) != 0)
            Fail("rename", errno);
        DisarmSlot(FSlot);
        FTemporary.clear();
        FTemporaryName.clear();
    }
    const bool synced = !FOptions.Sync || GCalls.Fsync(FFolder) == 0;
    const int error = errno;
    CloseFolder();
    if (!synced)
        throw EFileError("write", FPath, error);
}

void ReplaceFile(const std::string& APath, std::string_view AContent, TReplaceOptions AOptions) {
    TFileReplacement replacement(APath, std::move(AOptions));
    replacement.Write(AContent);
    replacement.Commit();
}

void RemoveTemporariesOnSignals() {
    GCleanupInstalled.store(true, std::memory_order_release);
    for (int signal : CleanupSignals) {
        struct sigaction previous {};

        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue; // started under nohup or in the background: keep ignoring it

        struct sigaction action {};

        action.sa_handler = RemoveTemporariesAndEnd;
        sigemptyset(&action.sa_mask);
        for (int other : CleanupSignals)
            sigaddset(&action.sa_mask, other);
        ::sigaction(signal, &action, nullptr);
    }
}

std::string ExecutablePath() {
    std::string path(256, '\0');
    while (true) {
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length <= 0)
            return {};
        if (static_cast<std::size_t>(length) < path.size()) {
            path.resize(static_cast<std::size_t>(length));
            return path;
        }
        if (path.size() >= 1 << 16)
            return {};
        path.resize(path.size() * 2);
    }
}

void ReserveStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // open hands out the lowest free descriptor, which is this one.
        const int opened = ::open("/dev/null", O_RDONLY | O_NOCTTY);
        if (opened >= 0 && opened != fd)
            ::close(opened);
    }
}

void FlushStandardOutput() {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (!flushed || std::ferror(stdout) != 0)
        throw EFileError("write", "standard output", error != 0 ? error : EIO);
}

} // namespace fileops
