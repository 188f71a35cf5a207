// monitors/MonitorWorker.h - what the monitors with a worker thread share: the worker's
// hand-over of a change to the main thread, and the component's ownership of its worker across
// stops and restarts, also when a handler running inside a hand-over stops or restarts it.
//
// While active, a monitor owns one worker. Activation stops the running worker before its
// successor starts; a stop asked for from inside the worker's own hand-over cannot wait for the
// worker (it waits for that very call to return), so the worker is retired and freed by the
// next start or the destructor, once the hand-over has returned.
#pragma once

#include "host/core/Classes.h"
#include "host/core/ClassesThread.h"
#include "logging/LogBase.h"

#include <chrono>
#include <memory>

namespace jex {

class TJexMonitorLog;

/// The worker thread of a TJexMonitorLog. Its owner creates it (CreateWorker) and frees it.
class TMonitorWorker : public host::TThread {
public:
    explicit TMonitorWorker(TJexMonitorLog* AMonitor);
    ~TMonitorWorker() override;

    /// Asks the worker to end and wakes its wait at once; destroy the thread afterwards to
    /// wait for it.
    virtual void Stop() = 0;

protected:
    /// Pause after a failed wait, so that a failing descriptor does not make the worker spin.
    static constexpr std::chrono::milliseconds FailedWaitPause{200};

    /// Main thread, inside Synchronize: runs ANotify (which raises the monitor's event) as this
    /// worker's hand-over. An exception of the handler goes to the application's handling, so
    /// the worker keeps watching.
    template <typename F>
    void HandOver(F ANotify) {
        TMonitorWorker* const outer = EnterHandOver();
        try {
            ANotify();
        } catch (...) {
            LeaveHandOver(outer);
            HandleException();
            return;
        }
        LeaveHandOver(outer);
    }

    /// Main thread: gives the exception being handled to Application->HandleException with
    /// the monitor as sender (ShowException without an application).
    void HandleException();

private:
    TMonitorWorker* EnterHandOver();
    void LeaveHandOver(TMonitorWorker* AOuter);

    TJexMonitorLog* const FMonitor;
};

/// A log component whose work is done by one TMonitorWorker while it is active.
class TJexMonitorLog : public TJexLogBase {
public:
    explicit TJexMonitorLog(host::TComponent* AOwner);
    ~TJexMonitorLog() override;

    /// Stores the flag, stops a running worker and, for true, starts a new one (unless a
    /// stored form is loading: the settings come after Active there, so Loaded starts it).
    void SetActive(bool AValue) override;

    /// Starts the worker of a component activated while its form was loading.
    void Loaded() override;

protected:
    /// A started worker for the current settings; what it raises reaches SetActive's caller,
    /// and the component stays without a worker.
    virtual TMonitorWorker* CreateWorker() = 0;

    /// The running worker; nullptr while none runs.
    TMonitorWorker* CurrentWorker() const { return FWorker.get(); }

    /// Stops and frees every worker; a hand-over the worker makes meanwhile finds the component
    /// going. The concrete class's destructor calls it first, while everything the hand-over
    /// reaches still exists.
    void EndWorkers();

private:
    friend class TMonitorWorker;

    void StartWorker();
    /// Stops and frees the worker; from inside its own hand-over it only stops it.
    void FreeWorker();

    std::unique_ptr<TMonitorWorker> FWorker;
    std::unique_ptr<TMonitorWorker> FRetired; ///< stopped inside its own hand-over
    TMonitorWorker* FHandingOver = nullptr;   ///< the worker whose hand-over runs now
};

} // namespace jex
