// host/core/ClassesThread.cpp - TThread over std::thread and the process-wide hand-over queue.
#include "host/core/ClassesThread.h"

#include "platform/FaultSignals.h"
#include "platform/ProcessImage.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <utility>

namespace host {

namespace {

// One call handed over by Synchronize; it lives on the waiting worker's stack.
struct TSyncEntry {
    TThreadMethod Method;
    std::exception_ptr Error;
    bool Done = false;
};

// The hand-over queue shared by all threads. Its condition variable is signalled when a call
// is queued, when a call has run and when a thread has ended, so the main thread can wait for
// "a call to serve or my worker ended" in one place.
struct TSyncState {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<TSyncEntry*> Queue;
    TNotifyEvent Wake;
};

TSyncState& SyncState() {
    static TSyncState state;
    return state;
}

} // namespace

TThread::TThread(bool ACreateSuspended)
    : FCreateSuspended(ACreateSuspended) {}

void TThread::operator delete(TThread* AThread, std::destroying_delete_t) {
    AThread->StopBeforeDestruction();
    void* storage = dynamic_cast<void*>(AThread);
    AThread->~TThread();
    ::operator delete(storage);
}

TThread::~TThread() {
    // Objects destroyed without delete (never on the heap) still must not leave a thread.
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach();
        else
            FThread.join();
    }
}

void TThread::StopBeforeDestruction() {
    if (FThread.joinable() && FThread.get_id() == std::this_thread::get_id()) {
        // A FreeOnTerminate thread deleting itself at its very end.
        FThread.detach();
        return;
    }
    Terminate();
    if (!FStarted.load()) {
        try {
            Start();
        } catch (const std::exception&) {
            return; // no thread could be made, so none is left to wait for
        }
    }
    WaitUntilEnded();
    if (FThread.joinable())
        FThread.join();
}

void TThread::AfterConstruction() {
    if (!FCreateSuspended)
        Start();
}

void TThread::Start() {
    if (FStarted.exchange(true))
        return;
    try {
        FThread = std::thread(&TThread::ThreadMain, this);
    } catch (const std::system_error& e) {
        FStarted.store(false);
        throw EThread(std::string("Thread creation error: ") + e.what());
    }
}

void TThread::ThreadMain() {
    // A stack overflow in Execute is then reported like one on the main thread.
    const platform::TThreadSignalStack signalStack;
    FThreadID.store(platform::CurrentThreadId());
    if (!Terminated()) {
        try {
            Execute();
        } catch (...) {
            FFatalException = std::current_exception();
        }
    }
    const bool freeOnTerminate = FFreeOnTerminate.load();
    FFinished.store(true);
    try {
        DoTerminate();
    } catch (...) {
        // OnTerminate's exception comes back here from the main thread; keep the first fault.
        if (!FFatalException)
            FFatalException = std::current_exception();
    }
    if (freeOnTerminate) {
        delete this;
        return;
    }
    TSyncState& state = SyncState();
    {
        std::lock_guard lock(state.Mutex);
        FEnded = true;
    }
    state.Changed.notify_all();
}

void TThread::DoTerminate() {
    if (FOnTerminate.Assigned())
        Synchronize(TThreadMethod(this, &TThread::CallOnTerminate));
}

void TThread::WaitUntilEnded() {
    TSyncState& state = SyncState();
    if (!platform::IsMainThread()) {
        std::unique_lock lock(state.Mutex);
        state.Changed.wait(lock, [this] { return FEnded; });
        return;
    }
    for (;;) {
        {
            std::unique_lock lock(state.Mutex);
            state.Changed.wait(lock, [&] { return FEnded || !state.Queue.empty(); });
            if (FEnded)
                return;
        }
        CheckSynchronize();
    }
}

int TThread::WaitFor() {
    if (FThread.joinable() && FThread.get_id() == std::this_thread::get_id())
        throw EThread("A thread cannot wait for itself");
    if (FFreeOnTerminate.load())
        throw EThread("Cannot wait for a thread that frees itself on termination");
    if (!FStarted.load())
        throw EThread("Cannot wait for a thread that was never started");
    WaitUntilEnded();
    if (FThread.joinable())
        FThread.join();
    return FReturnValue.load();
}

void TThread::Synchronize(TThread* AThread, const TThreadMethod& AMethod) {
    if (!AMethod.Assigned())
        return;
    if (platform::IsMainThread()) {
        AMethod();
        return;
    }
    TSyncState& state = SyncState();
    TSyncEntry entry{AMethod, nullptr, false};
    TNotifyEvent wake;
    {
        std::lock_guard lock(state.Mutex);
        state.Queue.push_back(&entry);
        wake = state.Wake;
    }
    state.Changed.notify_all();
    if (wake.Assigned())
        wake(AThread);
    {
        std::unique_lock lock(state.Mutex);
        state.Changed.wait(lock, [&] { return entry.Done; });
    }
    if (entry.Error)
        std::rethrow_exception(entry.Error);
}

bool CheckSynchronize() {
    if (!platform::IsMainThread()) {
        char id[32];
        std::snprintf(id, sizeof id, "%llX",
                      static_cast<unsigned long long>(platform::CurrentThreadId()));
        throw EThread(std::string("CheckSynchronize called from thread $") + id +
                      ", which is NOT the main thread");
    }
    TSyncState& state = SyncState();
    std::deque<TSyncEntry*> batch;
    {
        std::lock_guard lock(state.Mutex);
        batch.swap(state.Queue);
    }
    for (TSyncEntry* entry : batch) {
        std::exception_ptr error;
        try {
            entry->Method();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(state.Mutex);
            entry->Error = error;
            entry->Done = true;
        }
        state.Changed.notify_all();
    }
    return !batch.empty();
}

TNotifyEvent WakeMainThread() {
    TSyncState& state = SyncState();
    std::lock_guard lock(state.Mutex);
    return state.Wake;
}

void SetWakeMainThread(const TNotifyEvent& AHook) {
    TSyncState& state = SyncState();
    std::lock_guard lock(state.Mutex);
    state.Wake = AHook;
}

bool SynchronizePending() {
    TSyncState& state = SyncState();
    std::lock_guard lock(state.Mutex);
    return !state.Queue.empty();
}

} // namespace host
