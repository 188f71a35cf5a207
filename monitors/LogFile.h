// monitors/LogFile.h - TJexFileLog, the component that reports changes in a watched folder, and
// its worker TNotificationThread.
//
// While active, the component owns one worker thread. The worker waits on one notification
// object per kind of change chosen in Options and hands every change to the main thread, where
// the component raises OnFileNotification. When several kinds are pending at once, they come in
// option order, one per wait. The component writes nothing itself: the developer logs what the
// handler wants to log.
#pragma once

#include "host/core/Classes.h"
#include "monitors/MonitorWorker.h"
#include "platform/FolderNotifications.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace jex {

enum TFileNotificationOption : std::uint8_t {
    foFile,
    foFolder,
    foAttributes,
    foSize,
    foTime,
    foWatchSubFolders
};

using TFileNotificationOptions = host::TSet<TFileNotificationOption>;

/// (Sender, Action): Action is the kind of change, never foWatchSubFolders.
using TFileNotifyEvent = host::TEvent<void(host::TObject*, TFileNotificationOption)>;

/// Raised with "Could not allocate notification object" when the folder cannot be watched.
class EFileNotificationError : public host::Exception {
public:
    using Exception::Exception;
};

/// The options a new component starts with.
inline constexpr TFileNotificationOptions DefaultFileNotificationOptions{foFile, foFolder};

class TJexFileLog;

/// The worker of an active TJexFileLog: waits on the notification objects and hands each
/// change to the main thread. Its owner creates it (host::CreateThread) and frees it.
class TNotificationThread : public TMonitorWorker {
public:
    /// Builds the first set of notification objects from the owner's Folder and Options on
    /// the calling (main) thread; raises EFileNotificationError when that fails, and then no
    /// thread is started. AfterConstruction starts the thread.
    explicit TNotificationThread(TJexFileLog* AOwner);
    ~TNotificationThread() override;

    /// Builds a new set from the owner's Folder and Options on the main thread and hands it to
    /// the worker, which takes it at once (it is woken) and frees the old one itself, so no
    /// object is closed under a waiting thread. Raises EFileNotificationError when the new set
    /// cannot be built; the worker then gets an empty set and reports nothing until the next
    /// successful Reset.
    void Reset();

    /// Asks the worker to end and wakes it at once; destroy the thread afterwards to wait.
    void Stop() override;

    /// The number of notification objects as of the last Reset.
    int HandleCount() const { return FLastCount; }

protected:
    void Execute() override;

private:
    /// The objects the worker waits on, and the option of each.
    struct THandleSet {
        std::unique_ptr<platform::TFolderNotificationSet> Notifications;
        std::array<TFileNotificationOption, 8> Options{};
        std::int32_t Count = 0;
    };

    /// Opens one object per option of the owner's Options, in option order. Raises
    /// EFileNotificationError after closing what it opened.
    void AllocateHandles(THandleSet& AHandles) const;
    static void ReleaseHandles(THandleSet& AHandles);
    /// Worker: takes a set Reset handed over; false once the thread is to end.
    bool TakeHandedOver();
    /// Main thread: raises the owner's event for the current action. An exception of the
    /// handler goes to the application's handling here, so the worker keeps watching.
    void Notify();

    TJexFileLog* const FOwner;
    THandleSet FHandles;                      ///< the worker's own (before the start: nobody's)
    TFileNotificationOption FAction = foFile; ///< read on the main thread during the hand-over
    int FLastCount = 0;                       ///< main thread

    std::mutex FLock; ///< guards the three members below
    std::condition_variable FChanged;
    std::optional<THandleSet> FHandedOver;
    platform::TFolderNotificationSet* FWaitingOn = nullptr; ///< the set the worker waits on
};

/// Watches the folder Folder for the kinds of change in Options and raises OnFileNotification
/// on the main thread for each one.
///
/// Activation opens the notification objects at once: EFileNotificationError "Could not
/// allocate notification object" reaches the caller when the folder cannot be watched (missing,
/// not a folder, not readable, empty Folder, the user's watch limit reached), and Active reads
/// true all the same, with no worker. Activation while a stored form is loading waits for
/// Loaded, so that Folder and Options, stored after Active, apply first. A new Folder or
/// Options takes effect at once while active; activating an active component replaces its
/// worker.
class TJexFileLog : public TJexMonitorLog {
    JEX_CLASS(TJexFileLog)

public:
    explicit TJexFileLog(host::TComponent* AOwner);
    ~TJexFileLog() override;

    /// Raises OnFileNotification(this, AAction) when Active and assigned; the worker's
    /// hand-over calls it on the main thread.
    virtual void Notify(TFileNotificationOption AAction);

    /// The watched folder, used as given (compared exactly, letter case counts).
    const std::string& Folder() const { return FFolder; }

    /// Stores a different folder and, while active, watches it at once; raises
    /// EFileNotificationError when it cannot be watched (the value stays stored).
    void SetFolder(const std::string& AValue);

    TFileNotificationOptions Options() const { return FOptions; }

    /// Stores different options and, while active, applies them at once; raises
    /// EFileNotificationError when they cannot be applied (the value stays stored).
    void SetOptions(TFileNotificationOptions AValue);

    const TFileNotifyEvent& OnFileNotification() const { return FOnFileNotification; }

    void SetOnFileNotification(const TFileNotifyEvent& AValue) { FOnFileNotification = AValue; }

    /// The running worker; nullptr while none runs (inactive, or the activation failed).
    TNotificationThread* Worker() const {
        return static_cast<TNotificationThread*>(CurrentWorker());
    }

protected:
    /// Opens the notification objects for Folder and Options and starts the worker; raises
    /// EFileNotificationError when the folder cannot be watched.
    TMonitorWorker* CreateWorker() override;

private:
    std::string FFolder;
    TFileNotificationOptions FOptions = DefaultFileNotificationOptions;
    TFileNotifyEvent FOnFileNotification;
};

/// Initialisation and finalisation of the unit: registers TJexFileLog with the class registry
/// (nested calls only count).
void LogFileInitialization();
void LogFileFinalization();

} // namespace jex
