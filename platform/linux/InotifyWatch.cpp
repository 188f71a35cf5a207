// platform/linux/InotifyWatch.cpp - the watch table, subtree following and the wait.
#include "platform/linux/InotifyWatch.h"

#include "platform/FolderNotifications.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace platform::inotify {

namespace {

// Always watched, whatever the filters: the set follows subtrees and notices a vanished folder
// with them.
constexpr std::uint32_t NameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t SelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;

// 64 KiB per read makes an overflow of the kernel's queue rare.
constexpr std::size_t ReadBufferSize = 64 * 1024;

constexpr std::uint64_t Bit(std::size_t AIndex) {
    return std::uint64_t{1} << AIndex;
}

std::string Join(const std::string& AFolder, std::string_view AName) {
    std::string path = AFolder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += AName;
    return path;
}

// The path as given, made absolute against the current folder, without trailing slashes.
std::string AbsoluteRoot(const std::string& APath) {
    std::error_code error;
    std::string root = APath[0] == '/' ? APath : std::filesystem::absolute(APath, error).string();
    if (error)
        root = APath;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

bool IsFolderEntry(DIR* ADir, const dirent& AEntry) {
    if (AEntry.d_type != DT_UNKNOWN)
        return AEntry.d_type == DT_DIR;

    struct stat st {};

    return fstatat(dirfd(ADir), AEntry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
}

// Closing an inotify instance waits for the kernel's grace period (8 to 25 ms measured here),
// which stopping a worker must not wait for: the descriptor is closed on a thread of its own.
void CloseInBackground(int AFd) {
    try {
        std::thread([AFd] { close(AFd); }).detach();
    } catch (const std::system_error&) {
        close(AFd);
    }
}

} // namespace

TWatchSet::TWatchSet(TWatchPolicy& APolicy)
    : FPolicy(APolicy) {
    FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWatchSet::~TWatchSet() {
    CloseInstance();
    close(FWakeFd);
}

// ---- Objects --------------------------------------------------------------------------------

int TWatchSet::Add(const std::string& APath, bool ASubtree, std::uint32_t AFilters, int& AError) {
    AError = 0;
    if (AFilters == 0 || FObjects.size() >= static_cast<std::size_t>(MaxNotificationObjects)) {
        AError = EINVAL;
        return -1;
    }
    if (APath.empty()) {
        AError = ENOENT;
        return -1;
    }
    if (!EnsureInstance(AError))
        return -1;
    const std::size_t index = FObjects.size();
    TObject object;
    object.Root = AbsoluteRoot(APath);
    object.Subtree = ASubtree;
    object.Filters = AFilters;
    FObjects.push_back(object);
    if (WatchTree(FObjects.back().Root, -1, FObjects.back().Root, Bit(index), false, true, AError))
        return static_cast<int>(index);

    // Take the object out of every folder it reached; folders left to nobody are unwatched.
    FObjects.pop_back();
    for (auto it = FFolders.begin(); it != FFolders.end();) {
        it->second.Objects &= ~Bit(index);
        it->second.RootOf &= ~Bit(index);
        if (it->second.Objects == 0) {
            inotify_rm_watch(FInotify, it->first);
            FPolicy.FolderDropped(it->first);
            it = FFolders.erase(it);
        } else {
            ++it;
        }
    }
    if (FObjects.empty())
        CloseInstance();
    return -1;
}

void TWatchSet::Rearm(int AIndex) {
    if (AIndex < 0 || AIndex >= Count())
        return;
    TObject& object = FObjects[static_cast<std::size_t>(AIndex)];
    if (object.Pending) {
        object.Pending = false;
        object.State = stSignalled;
    } else {
        object.State = stArmed;
    }
}

void TWatchSet::Clear() {
    CloseInstance();
    FObjects.clear();
}

std::uint32_t TWatchSet::FiltersOf(std::uint64_t AObjects) const {
    std::uint32_t filters = 0;
    for (std::size_t i = 0; i < FObjects.size(); ++i)
        if ((AObjects & Bit(i)) != 0 && !FObjects[i].Dead)
            filters |= FObjects[i].Filters;
    return filters;
}

std::uint64_t TWatchSet::SubtreeObjects(std::uint64_t AObjects) const {
    std::uint64_t below = 0;
    for (std::size_t i = 0; i < FObjects.size(); ++i)
        if ((AObjects & Bit(i)) != 0 && FObjects[i].Subtree && !FObjects[i].Dead)
            below |= Bit(i);
    return below;
}

void TWatchSet::Signal(std::uint64_t AObjects) {
    for (std::size_t i = 0; i < FObjects.size(); ++i) {
        TObject& object = FObjects[i];
        if ((AObjects & Bit(i)) == 0 || object.Dead)
            continue;
        if (object.State == stArmed)
            object.State = stSignalled;
        else
            object.Pending = true;
    }
}

int TWatchSet::LowestSignalled() const {
    for (std::size_t i = 0; i < FObjects.size(); ++i)
        if (FObjects[i].State == stSignalled)
            return static_cast<int>(i);
    return -1;
}

// ---- The folder table -----------------------------------------------------------------------

bool TWatchSet::EnsureInstance(int& AError) {
    if (FInotify >= 0)
        return true;
    FInotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FInotify < 0) {
        AError = errno;
        return false;
    }
    return true;
}

void TWatchSet::CloseInstance() {
    for (const auto& entry : FFolders)
        FPolicy.FolderDropped(entry.first);
    FFolders.clear();
    FMovedOut.clear();
    if (FInotify >= 0)
        CloseInBackground(FInotify);
    FInotify = -1;
}

bool TWatchSet::WatchTree(const std::string& APath, int AParent, const std::string& AName,
                          std::uint64_t AObjects, bool AReportEntries, bool AStrict, int& AError) {
    int watch = -1;
    {
        // Roots are added with the objects they are the root of, subfolders with subtree ones.
        const bool root = AParent < 0;
        std::uint32_t mask = FPolicy.EventMask(FiltersOf(AObjects)) | NameEvents | SelfEvents |
                             IN_ONLYDIR | IN_EXCL_UNLINK | IN_MASK_ADD;
        if (!root)
            mask |= IN_DONT_FOLLOW;
        watch = inotify_add_watch(FInotify, APath.c_str(), mask);
        if (watch < 0) {
            AError = errno;
            return false;
        }
    }
    const auto [it, inserted] = FFolders.try_emplace(watch);
    TFolder& folder = it->second;
    if (inserted) {
        folder.Parent = AParent;
        folder.Name = AName;
    }
    folder.Objects |= AObjects;
    if (AParent < 0)
        folder.RootOf |= AObjects;
    FPolicy.FolderWatched(watch, APath, FiltersOf(folder.Objects));

    const std::uint64_t below = SubtreeObjects(AObjects);
    if (below == 0 && !AReportEntries)
        return true;
    DIR* dir = opendir(APath.c_str());
    if (dir == nullptr)
        return true; // gone again or unreadable: the folder itself is watched
    bool ok = true;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const bool isFolder = IsFolderEntry(dir, *entry);
        if (AReportEntries)
            Report(watch, TEntryEvent{IN_CREATE | (isFolder ? IN_ISDIR : 0u), name, watch, true});
        if (!isFolder || below == 0)
            continue;
        int error = 0;
        if (!WatchTree(Join(APath, name), watch, std::string(name), below, AReportEntries, AStrict,
                       error) &&
            AStrict && (error == ENOSPC || error == ENOMEM)) {
            // Out of watches: a subtree watched in part would miss changes without a word.
            AError = error;
            ok = false;
            break;
        }
    }
    closedir(dir);
    return ok;
}

std::string TWatchSet::PathOf(int AFolder) const {
    std::vector<const std::string*> names;
    for (auto it = FFolders.find(AFolder); it != FFolders.end();
         it = FFolders.find(it->second.Parent)) {
        names.push_back(&it->second.Name);
        if (it->second.Parent < 0)
            break;
    }
    if (names.empty())
        return {};
    std::string path = *names.back();
    for (auto it = names.rbegin() + 1; it != names.rend(); ++it)
        path = Join(path, **it);
    return path;
}

void TWatchSet::DropFolder(int AFolder) {
    inotify_rm_watch(FInotify, AFolder);
    FPolicy.FolderDropped(AFolder);
    FFolders.erase(AFolder);
}

void TWatchSet::DropTree(int AFolder) {
    std::vector<int> tree{AFolder};
    for (std::size_t i = 0; i < tree.size(); ++i)
        for (const auto& [watch, folder] : FFolders)
            if (folder.Parent == tree[i])
                tree.push_back(watch);
    // Roots of other objects stay, as roots, with only those objects.
    std::vector<std::pair<int, std::string>> kept;
    for (const int watch : tree) {
        const TFolder& folder = FFolders.at(watch);
        if (folder.RootOf != 0)
            kept.emplace_back(watch, PathOf(watch));
    }
    for (const int watch : tree) {
        const bool keep = std::any_of(kept.begin(), kept.end(),
                                      [watch](const auto& AKept) { return AKept.first == watch; });
        if (!keep)
            DropFolder(watch);
    }
    for (const auto& [watch, path] : kept) {
        TFolder& folder = FFolders.at(watch);
        folder.Parent = -1;
        folder.Name = path;
        folder.Objects = folder.RootOf;
    }
}

// ---- Events ---------------------------------------------------------------------------------

void TWatchSet::Report(int AFolder, const TEntryEvent& AEvent) {
    const auto it = FFolders.find(AFolder);
    if (it == FFolders.end())
        return;
    const std::uint64_t objects = it->second.Objects;
    const std::uint32_t filters = FiltersOf(objects);
    const std::uint32_t changed = FPolicy.Classify(AEvent, PathOf(AFolder), filters) & filters;
    if (changed == 0)
        return;
    std::uint64_t hit = 0;
    for (std::size_t i = 0; i < FObjects.size(); ++i)
        if ((objects & Bit(i)) != 0 && (FObjects[i].Filters & changed) != 0)
            hit |= Bit(i);
    Signal(hit);
}

void TWatchSet::RootGone(int AFolder) {
    const std::uint64_t gone = FFolders.at(AFolder).RootOf;
    Signal(gone);
    for (std::size_t i = 0; i < FObjects.size(); ++i)
        if ((gone & Bit(i)) != 0)
            FObjects[i].Dead = true;
    FFolders.at(AFolder).RootOf = 0;
    DropTree(AFolder);
}

void TWatchSet::Overflowed() {
    // Something changed, nobody knows what: every object reports once, and the watches are
    // built again from the roots, since folders may have come and gone unseen.
    std::uint64_t all = 0;
    for (std::size_t i = 0; i < FObjects.size(); ++i)
        all |= Bit(i);
    Signal(all);
    CloseInstance();
    int error = 0;
    const bool haveInstance = EnsureInstance(error);
    for (std::size_t i = 0; i < FObjects.size(); ++i) {
        TObject& object = FObjects[i];
        if (object.Dead)
            continue;
        if (!haveInstance || !WatchTree(object.Root, -1, object.Root, Bit(i), false, false, error))
            object.Dead = true;
    }
}

void TWatchSet::Handle(int AWatch, std::uint32_t AMask, std::uint32_t ACookie,
                       std::string_view AName) {
    const auto it = FFolders.find(AWatch);
    if (it == FFolders.end())
        return; // a watch dropped a moment ago
    if ((AMask & (IN_DELETE_SELF | IN_UNMOUNT | IN_IGNORED)) != 0) {
        if (it->second.RootOf != 0)
            RootGone(AWatch);
        else
            DropTree(AWatch);
        return;
    }
    if (AName.empty())
        return; // the folder itself: out of scope, like its own times and attributes

    Report(AWatch, TEntryEvent{AMask, AName, AWatch, false});
    if ((AMask & IN_ISDIR) == 0)
        return;
    const auto findChild = [&] {
        for (const auto& [watch, folder] : FFolders)
            if (folder.Parent == AWatch && folder.Name == AName)
                return watch;
        return -1;
    };
    const std::uint64_t below = SubtreeObjects(FFolders.at(AWatch).Objects);
    if ((AMask & IN_MOVED_FROM) != 0) {
        const int child = findChild();
        if (child >= 0)
            FMovedOut[ACookie] = child;
    } else if ((AMask & IN_MOVED_TO) != 0) {
        const auto moved = FMovedOut.find(ACookie);
        if (moved != FMovedOut.end()) {
            // Renamed or moved inside the watched tree: one entry changes.
            TFolder& folder = FFolders.at(moved->second);
            folder.Parent = AWatch;
            folder.Name = std::string(AName);
            FMovedOut.erase(moved);
        } else if (below != 0) {
            int error = 0;
            WatchTree(Join(PathOf(AWatch), AName), AWatch, std::string(AName), below, true, false,
                      error);
        }
    } else if ((AMask & IN_CREATE) != 0) {
        if (below != 0) {
            // Scanned at once: entries made before the watch existed would go unseen.
            int error = 0;
            WatchTree(Join(PathOf(AWatch), AName), AWatch, std::string(AName), below, true, false,
                      error);
        }
    } else if ((AMask & IN_DELETE) != 0) {
        const int child = findChild();
        if (child >= 0)
            DropTree(child);
    }
}

bool TWatchSet::Drain() {
    if (FInotify < 0)
        return true;
    alignas(inotify_event) static thread_local char buffer[ReadBufferSize];
    for (;;) {
        const ssize_t got = read(FInotify, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                break;
            return false;
        }
        if (got == 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                Overflowed();
                return true; // the rest of this read belongs to the closed instance
            }
            const std::string_view name =
                event->len > 0 ? std::string_view(event->name) : std::string_view();
            Handle(event->wd, event->mask, event->cookie, name);
        }
    }
    // A folder that left without arriving anywhere we watch moved out of the tree.
    const auto movedOut = std::exchange(FMovedOut, {});
    for (const auto& entry : movedOut)
        if (FFolders.count(entry.second) != 0)
            DropTree(entry.second);
    return true;
}

// ---- The wait -------------------------------------------------------------------------------

bool TWatchSet::TakeWake() {
    std::uint64_t count = 0;
    return read(FWakeFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

void TWatchSet::Wake() {
    const std::uint64_t one = 1;
    // A full counter already wakes the waiter, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = write(FWakeFd, &one, sizeof one);
}

int TWatchSet::Wait(int ATimeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
    for (;;) {
        if (TakeWake())
            return WaitWoken;
        if (!Drain())
            return WaitFailed;
        const int signalled = LowestSignalled();
        if (signalled >= 0)
            return signalled;
        int remaining = -1;
        if (ATimeoutMs >= 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return WaitTimeout;
            remaining = static_cast<int>(left);
        }
        pollfd fds[2] = {{FWakeFd, POLLIN, 0}, {FInotify, POLLIN, 0}};
        if (poll(fds, FInotify >= 0 ? 2 : 1, remaining) < 0 && errno != EINTR)
            return WaitFailed;
    }
}

} // namespace platform::inotify
