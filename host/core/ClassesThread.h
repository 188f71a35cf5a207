// host/core/ClassesThread.h - worker threads and the hand-over of calls to the main thread.
//
// TThread runs Execute on its own operating-system thread. Synchronize hands a call to the main
// thread and blocks the worker until it has run there; the main thread serves those calls in
// its message loop, in CheckSynchronize, and while it waits for a worker to end, so stopping a
// worker that is waiting in Synchronize never deadlocks.
//
// Lifetime rule: an object whose methods a worker hands to the main thread must outlive that
// worker. Owners therefore destroy (terminate and wait for) their threads first, before the
// state the synchronized calls touch; destroying a TThread on the main thread serves the
// worker's pending call while waiting, so nothing runs after the owner is gone.
#pragma once

#include "host/core/SysUtils.h"
#include "host/core/System.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace host {

/// A call handed to the main thread: a method pointer with no arguments.
using TThreadMethod = TEvent<void()>;

class TThread : public TObject {
public:
    /// Prepares the thread; the operating-system thread is started by AfterConstruction (when
    /// ACreateSuspended is false) or by Start. Create threads with host::CreateThread<T>(...),
    /// which runs AfterConstruction once the whole object is built.
    explicit TThread(bool ACreateSuspended);

    /// Destruction (delete, or a unique_ptr) first terminates the thread and waits for it to
    /// end, serving its synchronized calls when called on the main thread, and only then runs
    /// the destructors, so Execute never runs on a half-destroyed object. A thread created
    /// suspended and never started is started once so that it ends in order: its Execute is
    /// skipped but OnTerminate still fires.
    static void operator delete(TThread* AThread, std::destroying_delete_t);

    /// Plain allocation, declared beside the class's own delete so both are paired.
    static void* operator new(std::size_t ASize) { return ::operator new(ASize); }

    /// Frees the memory of an object whose constructor failed (no thread to stop yet).
    static void operator delete(void* AMemory) { ::operator delete(AMemory); }

    ~TThread() override;

    /// Starts the thread unless it was created suspended. Raises EThread "Thread creation
    /// error: <reason>" when the operating system refuses a thread.
    virtual void AfterConstruction();

    /// Starts a thread created suspended; does nothing when it already runs.
    void Start();

    /// Same as Start (the framework's older name).
    void Resume() { Start(); }

    /// Asks Execute to stop: only sets Terminated, which Execute polls.
    void Terminate() { FTerminated.store(true); }

    bool Terminated() const { return FTerminated.load(); }

    /// True once Execute has ended (set before OnTerminate fires, as the framework does).
    bool Finished() const { return FFinished.load(); }

    bool Suspended() const { return !FStarted.load(); }

    bool FreeOnTerminate() const { return FFreeOnTerminate.load(); }

    /// When true the object deletes itself after OnTerminate; nobody else may delete it then.
    void SetFreeOnTerminate(bool AValue) { FFreeOnTerminate.store(AValue); }

    /// Fired on the main thread (through Synchronize) after Execute has ended.
    const TNotifyEvent& OnTerminate() const { return FOnTerminate; }

    void SetOnTerminate(const TNotifyEvent& AValue) { FOnTerminate = AValue; }

    /// Waits for the thread to end and returns its ReturnValue. On the main thread the wait
    /// serves synchronized calls. Raises EThread for a FreeOnTerminate thread (it may be gone
    /// before the wait ends) and when a thread waits for itself.
    int WaitFor();

    int ReturnValue() const { return FReturnValue.load(); }

    /// The exception that escaped Execute (it never reaches the application's handler);
    /// empty when Execute ended normally.
    std::exception_ptr FatalException() const { return FFatalException; }

    /// The operating system's id of the thread; 0 before it started.
    std::uint64_t ThreadID() const { return FThreadID.load(); }

    /// Runs AMethod on the main thread and blocks until it has run; on the main thread it is
    /// called directly. An exception raised by AMethod is raised again in the calling thread.
    /// AThread may be nullptr (for threads that are not TThread objects).
    static void Synchronize(TThread* AThread, const TThreadMethod& AMethod);

protected:
    /// The thread's work; poll Terminated() to stop in time.
    virtual void Execute() = 0;

    /// Fires OnTerminate on the main thread.
    virtual void DoTerminate();

    void Synchronize(const TThreadMethod& AMethod) { Synchronize(this, AMethod); }

    /// Convenience for lambdas: Synchronize([&] { ... }).
    template <typename F>
    void Synchronize(F ACallable) {
        Synchronize(this, TThreadMethod::FromCallable(std::move(ACallable)));
    }

    void SetReturnValue(int AValue) { FReturnValue.store(AValue); }

private:
    void ThreadMain();
    void StopBeforeDestruction();
    void WaitUntilEnded();

    void CallOnTerminate() { FOnTerminate(this); }

    const bool FCreateSuspended;
    std::thread FThread;
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    bool FEnded = false; ///< the OS thread has left ThreadMain; guarded by the hand-over lock
    std::atomic<bool> FFreeOnTerminate{false};
    std::atomic<int> FReturnValue{0};
    std::atomic<std::uint64_t> FThreadID{0};
    std::exception_ptr FFatalException;
    TNotifyEvent FOnTerminate;
};

/// Creates a thread of class T in two phases: constructs it, then runs AfterConstruction
/// (which starts it unless it was created suspended).
template <typename T, typename... A>
T* CreateThread(A&&... AArgs) {
    T* thread = new T(std::forward<A>(AArgs)...);
    try {
        thread->AfterConstruction();
    } catch (...) {
        delete thread;
        throw;
    }
    return thread;
}

/// Runs every call queued by Synchronize so far, in order; true when it ran at least one.
/// Raises EThread "CheckSynchronize called from thread $<id>, which is NOT the main thread"
/// on any other thread. A console program without an application calls it itself.
bool CheckSynchronize();

/// The hook Synchronize calls after queuing (the application posts itself a message so that
/// its loop wakes up). Reading and writing it is thread-safe.
TNotifyEvent WakeMainThread();
void SetWakeMainThread(const TNotifyEvent& AHook);

/// True when a Synchronize call waits to be served.
bool SynchronizePending();

} // namespace host
