// monitors/LogFile.cpp - TJexFileLog and its worker: building the notification objects, the
// wait loop and the hand-over to the main thread.
//
// The main thread builds every set of notification objects (so a setter can raise when the
// folder cannot be watched) and hands it to the worker under a lock; the worker swaps it in
// between two waits and frees the old one itself. The wait has no time-out: a stop or a new
// set wakes it through the set's wake descriptor, so an idle worker never runs and a stop is
// immediate.
#include "monitors/LogFile.h"

#include "platform/PlatformServices.h"

#include <system_error>

namespace jex {

using namespace host;

namespace {

constexpr const char* AllocationFailed = "Could not allocate notification object";

// The change filter of each option that has a notification object of its own, in the order
// the objects are opened (and so reported when several are pending).
struct TOptionFilter {
    TFileNotificationOption Option;
    std::uint32_t Filter;
};

constexpr TOptionFilter OptionFilters[] = {
    {foFile, platform::ChangeFileName},         {foFolder, platform::ChangeDirName},
    {foAttributes, platform::ChangeAttributes}, {foSize, platform::ChangeSize},
    {foTime, platform::ChangeLastWrite},
};

int& LogFileInitCount() {
    static int count = 0;
    return count;
}

const TTypeInfo& FileNotificationOptionsType() {
    static const TTypeInfo& member = EnumType<TFileNotificationOption>(
        "TFileNotificationOption",
        {"foFile", "foFolder", "foAttributes", "foSize", "foTime", "foWatchSubFolders"});
    return SetType<TFileNotificationOption>("TFileNotificationOptions", member);
}

} // namespace

void LogFileInitialization() {
    if (LogFileInitCount()-- == 0)
        RegisterClass(TJexFileLog::StaticClassInfo());
}

void LogFileFinalization() {
    ++LogFileInitCount();
}

// ---- TNotificationThread --------------------------------------------------------------------

TNotificationThread::TNotificationThread(TJexFileLog* AOwner)
    : TMonitorWorker(AOwner)
    , FOwner(AOwner) {
    Reset();
}

TNotificationThread::~TNotificationThread() {
    // The thread has ended here (TThread's delete waits first): its objects are nobody's.
    ReleaseHandles(FHandles);
}

void TNotificationThread::Reset() {
    THandleSet fresh;
    try {
        fresh.Notifications = platform::PlatformServices().FolderNotifications->CreateSet();
    } catch (const std::system_error&) {
        throw EFileNotificationError(AllocationFailed);
    }
    bool failed = false;
    try {
        AllocateHandles(fresh);
    } catch (const EFileNotificationError&) {
        failed = true; // AllocateHandles closed what it opened: the worker gets an empty set
    }
    FLastCount = fresh.Count;
    {
        std::lock_guard lock(FLock);
        FHandedOver = std::move(fresh);
        if (FWaitingOn != nullptr)
            FWaitingOn->Wake();
    }
    FChanged.notify_all();
    if (failed)
        throw EFileNotificationError(AllocationFailed);
}

void TNotificationThread::Stop() {
    Terminate();
    {
        std::lock_guard lock(FLock);
        if (FWaitingOn != nullptr)
            FWaitingOn->Wake();
    }
    FChanged.notify_all();
}

void TNotificationThread::AllocateHandles(THandleSet& AHandles) const {
    if (FOwner == nullptr || FOwner->Options().Empty())
        return;
    AHandles.Options.fill(foFile);
    AHandles.Count = 0;
    const bool subtree = FOwner->Options().Contains(foWatchSubFolders);
    for (const TOptionFilter& entry : OptionFilters) {
        if (!FOwner->Options().Contains(entry.Option))
            continue;
        AHandles.Options[static_cast<std::size_t>(AHandles.Count)] = entry.Option;
        if (AHandles.Notifications->Add(FOwner->Folder(), subtree, entry.Filter) < 0) {
            ReleaseHandles(AHandles);
            throw EFileNotificationError(AllocationFailed);
        }
        ++AHandles.Count;
    }
}

void TNotificationThread::ReleaseHandles(THandleSet& AHandles) {
    if (AHandles.Notifications != nullptr)
        AHandles.Notifications->Clear();
    AHandles.Options.fill(foFile);
    AHandles.Count = 0;
}

bool TNotificationThread::TakeHandedOver() {
    std::optional<THandleSet> old;
    {
        std::lock_guard lock(FLock);
        if (FHandedOver) {
            old = std::move(FHandles);
            FHandles = std::move(*FHandedOver);
            FHandedOver.reset();
            FWaitingOn = FHandles.Notifications.get();
        }
        // Checked under the lock: a Stop from now on finds FWaitingOn and wakes it.
        if (Terminated()) {
            FWaitingOn = nullptr;
            return false;
        }
    }
    return true;
}

void TNotificationThread::Execute() {
    while (!Terminated()) {
        if (!TakeHandedOver())
            break;
        const int result = FHandles.Notifications->Wait(-1);
        if (result == platform::WaitFailed) {
            std::unique_lock lock(FLock);
            FChanged.wait_for(lock, FailedWaitPause,
                              [this] { return Terminated() || FHandedOver; });
            continue;
        }
        if (result < 0 || result >= FHandles.Count)
            continue; // woken: a stop or a new set
        FAction = FHandles.Options[static_cast<std::size_t>(result)];
        Synchronize(TThreadMethod(this, &TNotificationThread::Notify));
        FHandles.Notifications->Rearm(result);
    }
    std::lock_guard lock(FLock);
    FWaitingOn = nullptr;
}

void TNotificationThread::Notify() {
    HandOver([this] { FOwner->Notify(FAction); });
}

// ---- TJexFileLog ----------------------------------------------------------------------------

TJexFileLog::TJexFileLog(TComponent* AOwner)
    : TJexMonitorLog(AOwner) {
    FOptions = DefaultFileNotificationOptions;
}

TJexFileLog::~TJexFileLog() {
    EndWorkers();
}

TMonitorWorker* TJexFileLog::CreateWorker() {
    return CreateThread<TNotificationThread>(this);
}

void TJexFileLog::Notify(TFileNotificationOption AAction) {
    if (Active() && FOnFileNotification.Assigned() && !ComponentState().Contains(csDestroying))
        FOnFileNotification(this, AAction);
}

void TJexFileLog::SetFolder(const std::string& AValue) {
    if (AValue == FFolder)
        return;
    FFolder = AValue;
    if (Worker() != nullptr)
        Worker()->Reset();
}

void TJexFileLog::SetOptions(TFileNotificationOptions AValue) {
    if (AValue == FOptions)
        return;
    FOptions = AValue;
    if (Worker() != nullptr)
        Worker()->Reset();
}

const TClassInfo& TJexFileLog::StaticClassInfo() {
    using T = TJexFileLog;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexFileLog", &TJexLogBase::StaticClassInfo())
            .Component()
            .String("Folder", &T::Folder, &T::SetFolder)
            .Set("Options", &T::Options, &T::SetOptions, FileNotificationOptionsType())
            .Event("OnFileNotification", &T::OnFileNotification, &T::SetOnFileNotification)
            .Build();
    return info;
}

} // namespace jex
