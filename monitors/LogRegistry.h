// monitors/LogRegistry.h - TJexRegistryLog, the component that reports changes under a key of
// the key store, and its worker TNotificationThread.
//
// While active, the component owns one worker thread. The worker opens the watched key with
// read access, asks the store for a notification of the kinds of change chosen in Options, and
// hands every change to the main thread, where the component raises OnRegistryNotification.
// The event does not say what changed; the developer logs what the handler wants to log.
#pragma once

#include "host/core/Classes.h"
#include "host/core/Registry.h"
#include "monitors/MonitorWorker.h"
#include "platform/KeyStore.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace jex {

enum TRegistryNotificationOption : std::uint8_t {
    roName,
    roAttributes,
    roLastSet,
    roSecurity,
    roWatchSubFolders
};

using TRegistryNotificationOptions = host::TSet<TRegistryNotificationOption>;

/// The options a new component starts with.
inline constexpr TRegistryNotificationOptions DefaultRegistryNotificationOptions{roName,
                                                                                 roAttributes};

/// The key a new component watches.
inline constexpr const char* DefaultRegistryKey = "Software\\Velmora";

/// "Unable to open registry key" followed by the key, when the watched key cannot be opened.
class ERegistryNotificationError : public host::Exception {
public:
    using Exception::Exception;
};

class TJexRegistryLog;

namespace logregistry {

/// The worker of an active TJexRegistryLog. Its owner creates it (host::CreateThread) and frees
/// it; it takes a copy of the owner's RootKey, Key and Options when it is created, so later
/// changes of them wait for the next activation.
class TNotificationThread : public TMonitorWorker {
public:
    explicit TNotificationThread(TJexRegistryLog* AOwner);
    ~TNotificationThread() override;

    /// Asks the worker to end and wakes its wait at once; destroy the thread afterwards to
    /// wait for it.
    void Stop() override;

    /// True once the worker has opened the key and its changes count (from any thread).
    bool Watching() const { return FWatching.load(); }

protected:
    void Execute() override;

private:
    /// Main thread: calls the owner's Notify.
    void Notify();
    /// Main thread: raises the open failure there, into the application's handling.
    void ReportFailure();

    TJexRegistryLog* const FOwner;
    host::TRegistry FRegistry; ///< the worker's; closes its key when freed
    const host::HKEY FRootKey;
    const std::string FKey;
    const TRegistryNotificationOptions FOptions;
    std::string FFailure; ///< the message ReportFailure raises
    std::atomic<bool> FWatching{false};
    /// Made on the main thread before the start; Stop wakes it from there.
    std::unique_ptr<platform::TKeyNotificationSet> FNotifications;
};

} // namespace logregistry

/// Watches the key Key below RootKey for the kinds of change in Options and raises
/// OnRegistryNotification on the main thread for each one.
///
/// Activation starts the worker, which opens the key itself: a key that cannot be opened
/// leaves the component active with a worker that watches nothing, and the
/// ERegistryNotificationError reaches the application's exception handling on the main thread.
/// RootKey, Key and Options apply at the next activation; activating an active component
/// replaces its worker. Each component reports changes under its own key only.
class TJexRegistryLog : public TJexMonitorLog {
    JEX_CLASS(TJexRegistryLog)

public:
    explicit TJexRegistryLog(host::TComponent* AOwner);
    ~TJexRegistryLog() override;

    /// Raises OnRegistryNotification(this) when Active and assigned; the worker's hand-over
    /// calls it on the main thread.
    virtual void Notify();

    host::HKEY RootKey() const { return FRootKey; }

    void SetRootKey(host::HKEY AValue) { FRootKey = AValue; }

    const std::string& Key() const { return FKey; }

    void SetKey(const std::string& AValue) { FKey = AValue; }

    TRegistryNotificationOptions Options() const { return FOptions; }

    void SetOptions(TRegistryNotificationOptions AValue) { FOptions = AValue; }

    const host::TNotifyEvent& OnRegistryNotification() const { return FOnRegistryNotification; }

    void SetOnRegistryNotification(const host::TNotifyEvent& AValue) {
        FOnRegistryNotification = AValue;
    }

    /// The running worker; nullptr while inactive.
    logregistry::TNotificationThread* Worker() const {
        return static_cast<logregistry::TNotificationThread*>(CurrentWorker());
    }

protected:
    /// Starts a worker on a copy of RootKey, Key and Options; it opens the key itself.
    TMonitorWorker* CreateWorker() override;

private:
    host::HKEY FRootKey = host::HKEY_LOCAL_MACHINE;
    std::string FKey = DefaultRegistryKey;
    TRegistryNotificationOptions FOptions = DefaultRegistryNotificationOptions;
    host::TNotifyEvent FOnRegistryNotification;
};

/// Initialisation and finalisation of the unit: registers TJexRegistryLog with the class
/// registry (nested calls only count).
void LogRegistryInitialization();
void LogRegistryFinalization();

} // namespace jex
