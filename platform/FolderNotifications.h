// platform/FolderNotifications.h - change notification objects over folders, and the wait on
// several of them at once.
//
// A worker thread owns one set of notification objects. Each object watches one folder (and,
// when asked, the whole tree below it) for one change filter. An object that saw a change stays
// signalled until it is re-armed, and a change seen while it is signalled leaves it signalled
// again after the re-arm, so nothing between two waits is lost and a burst is one report. A wait
// over the set answers the lowest signalled object first. Another thread can end a wait at once
// through Wake, which is how a worker is stopped or told to take a new set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

/// Change filters, one per notification object; the values are the ones the component's
/// options have always passed to the operating system.
inline constexpr std::uint32_t ChangeFileName = 0x01;   ///< a file added, removed or renamed
inline constexpr std::uint32_t ChangeDirName = 0x02;    ///< a folder added, removed or renamed
inline constexpr std::uint32_t ChangeAttributes = 0x04; ///< mode, owner or extended attributes
inline constexpr std::uint32_t ChangeSize = 0x08;       ///< a file's size
inline constexpr std::uint32_t ChangeLastWrite = 0x10;  ///< a file's last-write time
inline constexpr std::uint32_t ChangeAllFilters = 0x1F;

/// Results of TFolderNotificationSet::Wait besides the index of a signalled object.
inline constexpr int WaitTimeout = -1; ///< the time ran out with nothing signalled
inline constexpr int WaitWoken = -2;   ///< Wake was called (before or during the wait)
inline constexpr int WaitFailed = -3;  ///< the operating system failed the wait

/// The most objects one set holds.
inline constexpr int MaxNotificationObjects = 64;

/// Notification objects that one thread waits on together. Add, Clear and the reads are for
/// the thread that owns the set (the one that built it, then the one that waits on it, handed
/// over with a happens-before such as a mutex); only Wake may be called from any thread.
class TFolderNotificationSet {
public:
    virtual ~TFolderNotificationSet() = default;

    /// Opens an object watching APath (a relative path is taken from the current folder of
    /// the moment) for AFilter, a non-empty combination of the Change* filters. Changes to
    /// entries inside the folder count, not to the folder itself; with AWatchSubtree the whole
    /// tree below counts too, including folders created or moved in later. Returns the
    /// object's index (0, 1, ... in the order of the calls), or -1 when the object cannot be
    /// made: then LastError() tells why (ENOENT missing or empty path, ENOTDIR not a folder,
    /// EACCES no permission, ENOSPC the user's watch limit reached, EMFILE too many instances,
    /// EINVAL an empty filter or more than MaxNotificationObjects objects) and nothing of the
    /// attempt is left open.
    virtual int Add(const std::string& APath, bool AWatchSubtree, std::uint32_t AFilter) = 0;

    /// The errno value of the last failed Add; 0 when none failed.
    virtual int LastError() const = 0;

    /// The number of objects.
    virtual int Count() const = 0;

    /// Re-arms object AIndex after its change was reported: it stays signalled when a further
    /// change arrived meanwhile, else it waits for the next one. Out of range does nothing.
    virtual void Rearm(int AIndex) = 0;

    /// Waits up to ATimeoutMs milliseconds (negative: without limit) until an object is
    /// signalled and returns the lowest signalled index, or WaitWoken, WaitTimeout, WaitFailed.
    /// A wake that arrived before the wait ends it at once. Without objects it waits for a
    /// wake only. When the queue of changes overflowed, every object is signalled and the
    /// watches are rebuilt; when a watched folder is deleted or unmounted, its objects are
    /// signalled once and then report nothing more.
    virtual int Wait(int ATimeoutMs) = 0;

    /// Ends the current or the next Wait with WaitWoken. Safe from any thread and from
    /// several at once.
    virtual void Wake() = 0;

    /// Closes every object; the set stays usable (Count() is 0, Wake and Wait still work).
    virtual void Clear() = 0;

    /// The number of folder watches held for all objects (one per folder watched).
    virtual std::size_t WatchCount() const = 0;
};

/// Makes notification sets.
class TFolderNotifications {
public:
    virtual ~TFolderNotifications() = default;

    /// A new set without objects. Throws std::system_error when the operating system refuses
    /// the wake descriptor.
    virtual std::unique_ptr<TFolderNotificationSet> CreateSet() = 0;
};

/// The Linux service, on inotify.
TFolderNotifications& LinuxFolderNotifications();

} // namespace platform
