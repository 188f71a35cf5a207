// platform/linux/InotifyWatch.h - notification objects over watched folders on one inotify
// instance, with the wait and the wake descriptor.
//
// This is the part every folder-based change notification shares: one inotify instance per
// set, one watch per folder with the union of what its objects need, a table of folders by
// watch descriptor (parent and entry name, so a rename inside the tree touches one entry),
// subtrees that follow folders created, moved in, moved out and removed, overflow recovery,
// and the armed/signalled/pending state of each object. What a change means (which inotify
// events a filter needs, which filters an event signals) is a TWatchPolicy's business, so the
// folder monitor and a key-store monitor can each bring their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::inotify {

/// One change of an entry inside a watched folder, as the policy sees it.
struct TEntryEvent {
    std::uint32_t Mask = 0;   ///< the inotify mask (IN_CREATE, IN_ISDIR, ...)
    std::string_view Name;    ///< the entry's name inside the folder; never empty
    int Folder = -1;          ///< the folder's id, valid while it is watched
    bool FoundByScan = false; ///< an entry of a folder that came in, reported as created
};

/// The meaning of a set's filters.
class TWatchPolicy {
public:
    virtual ~TWatchPolicy() = default;

    /// The inotify events a folder watch needs for objects whose filters together are AFilters.
    /// The set adds the name events itself, since it follows subtrees with them.
    virtual std::uint32_t EventMask(std::uint32_t AFilters) const = 0;

    /// The filters AEvent signals, for a folder watched with filters AFilters (a result
    /// outside AFilters is ignored). AFolderPath is the folder's path.
    virtual std::uint32_t Classify(const TEntryEvent& AEvent, const std::string& AFolderPath,
                                   std::uint32_t AFilters) = 0;

    /// A folder joined the watch (added, rebuilt after an overflow, created or moved in).
    virtual void FolderWatched(int /*AFolder*/, const std::string& /*APath*/,
                               std::uint32_t /*AFilters*/) {}

    /// A folder left the watch; its id may be reused afterwards.
    virtual void FolderDropped(int /*AFolder*/) {}
};

/// A set of notification objects; see platform/FolderNotifications.h for the contract of the
/// operations of the same names.
class TWatchSet {
public:
    /// Creates the wake descriptor (the inotify instance comes with the first object). Throws
    /// std::system_error when it cannot be made.
    explicit TWatchSet(TWatchPolicy& APolicy);
    ~TWatchSet();
    TWatchSet(const TWatchSet&) = delete;
    TWatchSet& operator=(const TWatchSet&) = delete;

    /// Returns the new object's index, or -1 with the errno value in AError.
    int Add(const std::string& APath, bool ASubtree, std::uint32_t AFilters, int& AError);

    int Count() const { return static_cast<int>(FObjects.size()); }

    void Rearm(int AIndex);
    int Wait(int ATimeoutMs);
    void Wake();
    void Clear();

    std::size_t WatchCount() const { return FFolders.size(); }

private:
    enum TState : std::uint8_t { stArmed, stSignalled };

    struct TObject {
        std::string Root; ///< absolute path given to Add
        bool Subtree = false;
        std::uint32_t Filters = 0;
        TState State = stArmed;
        bool Pending = false; ///< a change arrived while signalled
        bool Dead = false;    ///< its folder is gone: reports nothing more
    };

    struct TFolder {
        int Parent = -1;           ///< the parent folder's watch, -1 for a root
        std::string Name;          ///< entry name in the parent; the absolute path for a root
        std::uint64_t Objects = 0; ///< the objects this folder's changes count for
        std::uint64_t RootOf = 0;  ///< the objects whose root this folder is
        std::uint32_t Mask = 0;    ///< the inotify mask the watch was added with
    };

    /// Watches APath for the objects in AObjects (a subfolder of AParent named AName, or a
    /// root when AParent is -1), then its subfolders for the subtree objects among them.
    /// AReportEntries signals the objects for what the scan finds, as if it had just been
    /// created. Returns false with AError when the folder itself cannot be watched (or, with
    /// AStrict, any subfolder for lack of watches).
    bool WatchTree(const std::string& APath, int AParent, const std::string& AName,
                   std::uint64_t AObjects, bool AReportEntries, bool AStrict, int& AError);
    std::uint32_t FiltersOf(std::uint64_t AObjects) const;
    std::uint64_t SubtreeObjects(std::uint64_t AObjects) const;
    std::string PathOf(int AFolder) const;
    /// Stops watching AFolder and the folders below it (a root of other objects stays, with
    /// only those objects).
    void DropTree(int AFolder);
    void DropFolder(int AFolder);
    bool EnsureInstance(int& AError);
    /// Reads what the instance has queued without blocking; false when reading failed.
    bool Drain();
    void Handle(int AWatch, std::uint32_t AMask, std::uint32_t ACookie, std::string_view AName);
    void Report(int AFolder, const TEntryEvent& AEvent);
    void Signal(std::uint64_t AObjects);
    void Overflowed();
    void RootGone(int AFolder);
    bool TakeWake();
    int LowestSignalled() const;
    void CloseInstance();

    TWatchPolicy& FPolicy;
    int FInotify = -1;
    int FWakeFd = -1;
    std::vector<TObject> FObjects;
    std::unordered_map<int, TFolder> FFolders;
    /// Subfolders that left with IN_MOVED_FROM in this read, by cookie, until their partner.
    std::unordered_map<std::uint32_t, int> FMovedOut;
};

} // namespace platform::inotify
