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
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* CFolderPrefix = "Jex-";

struct TFolderState {
    std::mutex Lock;
    std::string Path; // empty while none exists
    pid_t Owner = 0;
    bool ExitHookRegistered = false;
};

TFolderState& State() {
    // Never destroyed: the exit hook may run after function-local statics are gone.
    static auto* state = new TFolderState;
    return *state;
}

void RemoveTree(const std::string& APath) {
    std::error_code ec;
    std::filesystem::remove_all(APath, ec);
}

void CleanupAtExit() {
    CleanupTempFolder();
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

} // namespace

std::string TempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    if (path.back() != '/')
        path += '/';
    return path;
}

int RemoveStaleTempFolders() {
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

std::string PrivateTempFolder() {
    TFolderState& state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    if (!state.Path.empty() && state.Owner == getpid())
        return state.Path;
    if (!state.ExitHookRegistered) {
        RemoveStaleTempFolders();
        std::atexit(CleanupAtExit);
        state.ExitHookRegistered = true;
    }
    std::string pattern = TempPath() + CFolderPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(),
                                "cannot create a temporary folder in " + TempPath());
    state.Path = pattern + "/";
    state.Owner = getpid();
    return state.Path;
}

std::string CreateTempFile(const std::string& ASuffix) {
    if (ASuffix.find('/') != std::string::npos)
        throw std::invalid_argument("a temporary file suffix cannot contain a folder: " + ASuffix);
    std::string pattern = PrivateTempFolder() + "JexXXXXXX" + ASuffix;
    int fd = mkstemps(pattern.data(), static_cast<int>(ASuffix.size()));
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(),
                                "cannot create a temporary file in " + PrivateTempFolder());
    close(fd);
    return pattern;
}

void CleanupTempFolder() {
    TFolderState& state = State();
    std::lock_guard<std::mutex> guard(state.Lock);
    if (state.Path.empty())
        return;
    if (state.Owner == getpid())
        RemoveTree(state.Path);
    state.Path.clear();
}

} // namespace platform
