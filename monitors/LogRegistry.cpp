// monitors/LogRegistry.cpp - TJexRegistryLog and its worker: opening the key, the wait loop and
// the hand-over to the main thread.
//
// Each worker has a notification set of its own on its own key, so a change under one
// component's key never wakes another component. The wait has no time-out: Stop wakes it
// through the set's wake descriptor.
#include "monitors/LogRegistry.h"

#include "platform/FolderNotifications.h"
#include "platform/PlatformServices.h"

#include <system_error>
#include <thread>

namespace jex {

using namespace host;

namespace {

constexpr const char* OpenFailed = "Unable to open registry key";

// The store's filter of each option; the values are the ones the options always passed on.
struct TOptionFilter {
    TRegistryNotificationOption Option;
    std::uint32_t Filter;
};

constexpr TOptionFilter OptionFilters[] = {
    {roName, platform::KeyChangeName},
    {roAttributes, platform::KeyChangeAttributes},
    {roLastSet, platform::KeyChangeLastSet},
    {roSecurity, platform::KeyChangeSecurity},
};

int& LogRegistryInitCount() {
    static int count = 0;
    return count;
}

const TTypeInfo& RegistryNotificationOptionsType() {
    static const TTypeInfo& member = EnumType<TRegistryNotificationOption>(
        "TRegistryNotificationOption",
        {"roName", "roAttributes", "roLastSet", "roSecurity", "roWatchSubFolders"});
    return SetType<TRegistryNotificationOption>("TRegistryNotificationOptions", member);
}

} // namespace

void LogRegistryInitialization() {
    if (LogRegistryInitCount()-- == 0)
        RegisterClass(TJexRegistryLog::StaticClassInfo());
}

void LogRegistryFinalization() {
    ++LogRegistryInitCount();
}

// ---- TNotificationThread --------------------------------------------------------------------

namespace logregistry {

TNotificationThread::TNotificationThread(TJexRegistryLog* AOwner)
    : TMonitorWorker(AOwner)
    , FOwner(AOwner)
    , FRootKey(AOwner->RootKey())
    , FKey(AOwner->Key())
    , FOptions(AOwner->Options()) {
    try {
        FNotifications = platform::PlatformServices().KeyStore->CreateNotificationSet();
    } catch (const std::system_error&) {
        // Without a set the key cannot be watched: Execute reports it as unopenable.
    }
}

TNotificationThread::~TNotificationThread() = default;

void TNotificationThread::Stop() {
    Terminate();
    if (FNotifications != nullptr)
        FNotifications->Wake();
}

void TNotificationThread::Execute() {
    FRegistry.SetRootKey(FRootKey);
    FRegistry.SetAccess(KEY_READ);
    const bool opened = FRegistry.OpenKey(FKey, false);
    std::uint32_t filter = 0;
    for (const TOptionFilter& entry : OptionFilters)
        if (FOptions.Contains(entry.Option))
            filter |= entry.Filter;
    const bool subtree = FOptions.Contains(roWatchSubFolders);
    int error = 0;
    const bool watched =
        opened && FNotifications != nullptr &&
        (filter == 0 || FNotifications->Add(RootKeyName(FRootKey), FRegistry.CurrentPath(), subtree,
                                            filter, error) >= 0);
    if (!watched) {
        FFailure = std::string(OpenFailed) + FKey;
        if (!Terminated())
            Synchronize(TThreadMethod(this, &TNotificationThread::ReportFailure));
        return;
    }
    FWatching.store(true);
    // With an empty filter nothing is ever reported: the wait ends by a stop only.
    while (!Terminated()) {
        const int result = FNotifications->Wait(-1);
        if (result == platform::WaitFailed) {
            std::this_thread::sleep_for(FailedWaitPause);
            continue;
        }
        if (result != 0 || Terminated())
            continue; // woken: a stop
        Synchronize(TThreadMethod(this, &TNotificationThread::Notify));
        FNotifications->Rearm(0);
    }
}

void TNotificationThread::Notify() {
    HandOver([this] { FOwner->Notify(); });
}

void TNotificationThread::ReportFailure() {
    if (!FOwner->Active() || FOwner->ComponentState().Contains(csDestroying))
        return; // deactivated meanwhile: nobody waits for the report
    try {
        throw ERegistryNotificationError(FFailure);
    } catch (const ERegistryNotificationError&) {
        HandleException();
    }
}

} // namespace logregistry

// ---- TJexRegistryLog ------------------------------------------------------------------------

TJexRegistryLog::TJexRegistryLog(TComponent* AOwner)
    : TJexMonitorLog(AOwner) {
    FRootKey = HKEY_LOCAL_MACHINE;
    FKey = DefaultRegistryKey;
    FOptions = DefaultRegistryNotificationOptions;
}

TJexRegistryLog::~TJexRegistryLog() {
    EndWorkers();
}

TMonitorWorker* TJexRegistryLog::CreateWorker() {
    return CreateThread<logregistry::TNotificationThread>(this);
}

void TJexRegistryLog::Notify() {
    if (Active() && FOnRegistryNotification.Assigned() && !ComponentState().Contains(csDestroying))
        FOnRegistryNotification(this);
}

const TClassInfo& TJexRegistryLog::StaticClassInfo() {
    using T = TJexRegistryLog;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexRegistryLog", &TJexLogBase::StaticClassInfo())
            .Component()
            .Integer("RootKey", &T::RootKey, &T::SetRootKey,
                     static_cast<std::int64_t>(HKEY_LOCAL_MACHINE))
            .String("Key", &T::Key, &T::SetKey)
            .Set("Options", &T::Options, &T::SetOptions, RegistryNotificationOptionsType())
            .Event("OnRegistryNotification", &T::OnRegistryNotification,
                   &T::SetOnRegistryNotification)
            .Build();
    return info;
}

} // namespace jex
