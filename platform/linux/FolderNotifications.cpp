// platform/linux/FolderNotifications.cpp - what each folder change filter reports, on inotify.
//
// Names are plain: creating, deleting or moving an entry in or out is a file-name change for a
// file and a folder-name change for a folder. Contents are plain too: every write changes the
// size and the last-write time. The rest needs a look at the entry, because inotify reports a
// new modification time (touch) and a new mode (chmod) alike as IN_ATTRIB: the policy keeps
// each watched entry's size, times, mode and owner, and compares. A write through a memory map
// shows only as IN_CLOSE_WRITE, which the same comparison turns into a size or time change.
// The states are kept only while a filter needs them.
#include "platform/FolderNotifications.h"

#include "platform/linux/InotifyWatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unordered_map>

namespace platform {

namespace {

constexpr std::uint32_t StateFilters = ChangeAttributes | ChangeSize | ChangeLastWrite;

struct TEntryState {
    off_t Size = 0;
    timespec Modified{};
    timespec Changed{};
    mode_t Mode = 0;
    uid_t Owner = 0;
    gid_t Group = 0;
};

bool operator==(const timespec& A, const timespec& B) {
    return A.tv_sec == B.tv_sec && A.tv_nsec == B.tv_nsec;
}

TEntryState StateOf(const struct stat& AStat) {
    return {AStat.st_size, AStat.st_mtim, AStat.st_ctim, AStat.st_mode, AStat.st_uid, AStat.st_gid};
}

class TFolderPolicy final : public inotify::TWatchPolicy {
public:
    std::uint32_t EventMask(std::uint32_t AFilters) const override {
        std::uint32_t mask = 0;
        if ((AFilters & (ChangeAttributes | ChangeLastWrite)) != 0)
            mask |= IN_ATTRIB;
        if ((AFilters & (ChangeSize | ChangeLastWrite)) != 0)
            mask |= IN_MODIFY | IN_CLOSE_WRITE;
        return mask;
    }

    void FolderWatched(int AFolder, const std::string& APath, std::uint32_t AFilters) override {
        if ((AFilters & StateFilters) == 0)
            return;
        auto& states = FStates[AFolder];
        states.clear();
        DIR* dir = opendir(APath.c_str());
        if (dir == nullptr)
            return;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;

            struct stat st {};

            if (name != "." && name != ".." &&
                fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                states[name] = StateOf(st);
        }
        closedir(dir);
    }

    void FolderDropped(int AFolder) override { FStates.erase(AFolder); }

    std::uint32_t Classify(const inotify::TEntryEvent& AEvent, const std::string& AFolderPath,
                           std::uint32_t AFilters) override {
        const std::uint32_t mask = AEvent.Mask;
        std::uint32_t changed = 0;
        if ((mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0)
            changed |= (mask & IN_ISDIR) != 0 ? ChangeDirName : ChangeFileName;
        if ((mask & IN_MODIFY) != 0)
            changed |= ChangeSize | ChangeLastWrite;
        if ((AFilters & StateFilters) == 0)
            return changed;

        auto& states = FStates[AEvent.Folder];
        const std::string name(AEvent.Name);
        if ((mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
            states.erase(name);
            return changed;
        }

        struct stat st {};

        const std::string path = AFolderPath + "/" + name;
        if (fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return changed; // gone already; its removal reports itself
        const TEntryState now = StateOf(st);
        const auto known = states.find(name);
        if ((mask & (IN_ATTRIB | IN_CLOSE_WRITE)) != 0) {
            if (known == states.end()) {
                if ((mask & IN_ATTRIB) != 0)
                    changed |= ChangeAttributes;
            } else {
                const TEntryState& before = known->second;
                const bool owner = now.Mode != before.Mode || now.Owner != before.Owner ||
                                   now.Group != before.Group;
                if (now.Size != before.Size)
                    changed |= ChangeSize;
                if (!(now.Modified == before.Modified))
                    changed |= ChangeLastWrite;
                // An attribute change without a visible difference (extended attributes, an
                // access list) still moved the change time.
                if (owner || ((mask & IN_ATTRIB) != 0 && (changed & ChangeLastWrite) == 0 &&
                              !(now.Changed == before.Changed)))
                    changed |= ChangeAttributes;
            }
        }
        states[name] = now;
        return changed;
    }

private:
    std::unordered_map<int, std::unordered_map<std::string, TEntryState>> FStates;
};

class TLinuxFolderNotificationSet final : public TFolderNotificationSet {
public:
    int Add(const std::string& APath, bool AWatchSubtree, std::uint32_t AFilter) override {
        int error = 0;
        const int index = FSet.Add(APath, AWatchSubtree, AFilter & ChangeAllFilters, error);
        if (index < 0)
            FLastError = error;
        return index;
    }

    int LastError() const override { return FLastError; }

    int Count() const override { return FSet.Count(); }

    void Rearm(int AIndex) override { FSet.Rearm(AIndex); }

    int Wait(int ATimeoutMs) override { return FSet.Wait(ATimeoutMs); }

    void Wake() override { FSet.Wake(); }

    void Clear() override { FSet.Clear(); }

    std::size_t WatchCount() const override { return FSet.WatchCount(); }

private:
    TFolderPolicy FPolicy;
    inotify::TWatchSet FSet{FPolicy};
    int FLastError = 0;
};

class TLinuxFolderNotifications final : public TFolderNotifications {
public:
    std::unique_ptr<TFolderNotificationSet> CreateSet() override {
        return std::make_unique<TLinuxFolderNotificationSet>();
    }
};

} // namespace

TFolderNotifications& LinuxFolderNotifications() {
    static TLinuxFolderNotifications service;
    return service;
}

} // namespace platform
