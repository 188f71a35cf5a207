// platform/linux/TempFiles.cpp - the private temporary folder on Linux.
//
// mkdtemp gives a 0700 folder nobody else can plant files or links in; mkstemps creates each
// file with O_EXCL. The owning pid is part of the folder's name so that a later process can
// tell which folders were orphaned by a crash (no /proc/<pid> any more).
#include "platform/TempFiles.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* CFolderPrefix = "Jex-";

void RemoveTree(const std::string& APath) {
    std::error_code ec;
    std::filesystem::remove_all(APath, ec);
}

// "Jex-<pid>-XXXXXX" -> pid, or 0 when the name is not one of ours.
pid_t OwnerOf(const std::string& AName) {
    if (AName.rfind(CFolderPrefix, 0) != 0)
        return 0;
    std::size_t pos = std::char_traits<char>::length(CFolderPrefix);
    std::size_t dash = AName.find('-', pos);
    if (dash == std::string::npos || dash == pos || dash - pos > 9 || AName.size() != dash + 7)
        return 0;
    pid_t pid = 0;
    for (std::size_t i = pos; i < dash; ++i) {
        if (AName[i] < '0' || AName[i] > '9')
            return 0;
        pid = pid * 10 + (AName[i] - '0');
    }
    return pid;
}

bool ProcessRuns(pid_t APid) {
    struct stat st {};

    return stat(("/proc/" + std::to_string(APid)).c_str(), &st) == 0;
}

class TLinuxTempFiles;

// The objects whose folders the exit hook removes. Never destroyed: the hook may run after
// function-local statics are gone.
struct TLiveSet {
    std::mutex Lock;
    std::set<TLinuxTempFiles*> Members;
    bool ExitHookRegistered = false;
};

TLiveSet& Live() {
    static auto* live = new TLiveSet;
    return *live;
}

void CleanupAtExit();

class TLinuxTempFiles final : public TTempFiles {
public:
    explicit TLinuxTempFiles(std::string ABase)
        : FBase(std::move(ABase)) {
        TLiveSet& live = Live();
        std::lock_guard<std::mutex> guard(live.Lock);
        live.Members.insert(this);
        if (!live.ExitHookRegistered) {
            std::atexit(CleanupAtExit);
            live.ExitHookRegistered = true;
        }
    }

    ~TLinuxTempFiles() override {
        {
            TLiveSet& live = Live();
            std::lock_guard<std::mutex> guard(live.Lock);
            live.Members.erase(this);
        }
        CleanupTempFolder();
    }

    std::string TempPath() override {
        std::string path = FBase;
        if (path.empty()) {
            const char* dir = std::getenv("TMPDIR");
            path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
        }
        if (path.back() != '/')
            path += '/';
        return path;
    }

    std::string PrivateTempFolder() override {
        std::lock_guard<std::mutex> guard(FLock);
        return FolderLocked();
    }

    std::string CreateTempFile(const std::string& ASuffix) override {
        if (ASuffix.find('/') != std::string::npos)
            throw std::invalid_argument("a temporary file suffix cannot contain a folder: " +
                                        ASuffix);
        std::lock_guard<std::mutex> guard(FLock);
        const std::string folder = FolderLocked();
        std::string pattern = folder + "JexXXXXXX" + ASuffix;
        int fd = mkstemps(pattern.data(), static_cast<int>(ASuffix.size()));
        if (fd < 0)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot create a temporary file in " + folder);
        close(fd);
        return pattern;
    }

    void CleanupTempFolder() override {
        std::lock_guard<std::mutex> guard(FLock);
        if (FPath.empty())
            return;
        if (FOwner == getpid())
            RemoveTree(FPath);
        FPath.clear();
    }

    int RemoveStaleTempFolders() override {
        const std::string base = TempPath();
        DIR* dir = opendir(base.c_str());
        if (dir == nullptr)
            return 0;
        int removed = 0;
        const pid_t self = getpid();
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            const pid_t pid = OwnerOf(name);
            if (pid <= 0 || pid == self || ProcessRuns(pid))
                continue;

            // Only real folders of our own user: never follow a link someone else put there.
            struct stat st {};

            if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
                continue;
            RemoveTree(base + name);
            ++removed;
        }
        closedir(dir);
        return removed;
    }

private:
    // The private folder, created when there is none yet for this process. FLock is held.
    std::string FolderLocked() {
        if (!FPath.empty() && FOwner == getpid())
            return FPath;
        if (!FStaleRemoved) {
            RemoveStaleTempFolders();
            FStaleRemoved = true;
        }
        const std::string base = TempPath();
        std::string pattern = base + CFolderPrefix + std::to_string(getpid()) + "-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot create a temporary folder in " + base);
        FPath = pattern + "/";
        FOwner = getpid();
        return FPath;
    }

    const std::string FBase; // empty: $TMPDIR or /tmp, read at each use
    std::mutex FLock;
    std::string FPath; // empty while none exists
    pid_t FOwner = 0;
    bool FStaleRemoved = false;
};

void CleanupAtExit() {
    TLiveSet& live = Live();
    std::lock_guard<std::mutex> guard(live.Lock);
    for (TLinuxTempFiles* member : live.Members)
        member->CleanupTempFolder();
}

} // namespace

TTempFiles& LinuxTempFiles() {
    // Never destroyed, like the other Linux services: the exit hook removes its folder.
    static auto* files = new TLinuxTempFiles({});
    return *files;
}

std::unique_ptr<TTempFiles> NewLinuxTempFiles(const std::string& ABase) {
    return std::make_unique<TLinuxTempFiles>(ABase);
}

} // namespace platform
