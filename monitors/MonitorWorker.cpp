// monitors/MonitorWorker.cpp - the hand-over bookkeeping of the monitors' workers and the
// component's worker ownership.
#include "monitors/MonitorWorker.h"

#include "host/forms/Forms.h"

namespace jex {

using namespace host;

// ---- TMonitorWorker -------------------------------------------------------------------------

TMonitorWorker::TMonitorWorker(TJexMonitorLog* AMonitor)
    : TThread(false)
    , FMonitor(AMonitor) {
    SetFreeOnTerminate(false);
}

TMonitorWorker::~TMonitorWorker() = default;

TMonitorWorker* TMonitorWorker::EnterHandOver() {
    TMonitorWorker* const outer = FMonitor->FHandingOver;
    FMonitor->FHandingOver = this;
    return outer;
}

void TMonitorWorker::LeaveHandOver(TMonitorWorker* AOuter) {
    FMonitor->FHandingOver = AOuter;
}

void TMonitorWorker::HandleException() {
    if (Application != nullptr)
        Application->HandleException(FMonitor);
    else
        ShowException(ExceptObject(), ExceptAddr());
}

// ---- TJexMonitorLog -------------------------------------------------------------------------

TJexMonitorLog::TJexMonitorLog(TComponent* AOwner)
    : TJexLogBase(AOwner) {}

TJexMonitorLog::~TJexMonitorLog() {
    EndWorkers();
}

void TJexMonitorLog::EndWorkers() {
    // A change the worker hands over while it stops finds the component going and is dropped.
    Destroying();
    FreeWorker();
    FRetired.reset();
}

void TJexMonitorLog::SetActive(bool AValue) {
    TJexLogBase::SetActive(AValue);
    // Also when activating: the worker running now ends before its successor starts.
    FreeWorker();
    if (AValue && !ComponentState().Contains(csLoading))
        StartWorker();
}

void TJexMonitorLog::Loaded() {
    TJexLogBase::Loaded();
    if (Active() && FWorker == nullptr)
        StartWorker();
}

void TJexMonitorLog::StartWorker() {
    if (FRetired.get() != FHandingOver)
        FRetired.reset(); // has ended or ends now: its hand-over returned
    FWorker.reset(CreateWorker());
}

void TJexMonitorLog::FreeWorker() {
    std::unique_ptr<TMonitorWorker> worker = std::move(FWorker);
    if (worker == nullptr)
        return;
    worker->Stop();
    if (worker.get() == FHandingOver) {
        // Waiting for it here would wait for this very call to return.
        FRetired = std::move(worker);
        return;
    }
    worker.reset(); // serves its pending hand-over (which finds Active false) while waiting
}

} // namespace jex
