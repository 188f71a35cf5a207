// tests/exceptions/faults/FaultChild.cpp - a program that faults in the way its first argument
// names, with an exception logger writing to the log its second argument names.
//
// With a collector address and a queue folder as third and fourth arguments the logger also sends
// its reports there; the scenario "deliver" then only waits until what is queued was sent.
//
// Built with fault exceptions on (jex_enable_fault_exceptions) and with its map beside it, so
// that reports name unit, procedure and line of FaultUnit.cpp. Run by LogErrorFatalTest.
#include "FaultUnit.h"
#include "exceptions/LogError.h"
#include "host/core/ClassesThread.h"
#include "exceptions/ReportCollector.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fenv.h>
#include <memory>
#include <new>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// ---- An allocator whose lock another thread can be made to hold forever -------------------

pthread_mutex_t allocatorLock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<bool> stickNextAllocation{false};
std::atomic<bool> allocatorHeld{false};

void* Allocate(std::size_t ASize) {
    pthread_mutex_lock(&allocatorLock);
    if (stickNextAllocation.exchange(false)) {
        // Stuck inside the allocator with its lock held, as a thread preempted in malloc is.
        allocatorHeld = true;
        for (;;)
            pause();
    }
    void* memory = std::malloc(ASize == 0 ? 1 : ASize);
    pthread_mutex_unlock(&allocatorLock);
    if (memory == nullptr)
        throw std::bad_alloc();
    return memory;
}

} // namespace

void* operator new(std::size_t ASize) {
    return Allocate(ASize);
}

void* operator new[](std::size_t ASize) {
    return Allocate(ASize);
}

void operator delete(void* AMemory) noexcept {
    std::free(AMemory);
}

void operator delete[](void* AMemory) noexcept {
    std::free(AMemory);
}

void operator delete(void* AMemory, std::size_t) noexcept {
    std::free(AMemory);
}

void operator delete[](void* AMemory, std::size_t) noexcept {
    std::free(AMemory);
}

namespace {

using namespace host;
using namespace jex;

TJexExceptionLog* NewLogger(const char* ALogPath) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetName("frmFaults");
    form->SetCaption("Faults");
    TJexExceptionLog* logger = Create<TJexExceptionLog>(form);
    logger->SetLogFile(ALogPath);
    logger->SetFormats({lfExceptionClassName, lfMessage, lfSourceLine, lfCallStack});
    logger->SetErrorDialog(edNone);
    logger->SetActive(true);
    return logger;
}

// Clicks a button whose handler calls AFault, then handles one more message that writes "next
// message handled" to the log and ends the loop.
int RunLoop(TJexExceptionLog* ALogger, bool AFilterOut, void (*AFault)()) {
    if (AFilterOut)
        ALogger->SetFilterStandard(ALogger->FilterStandard() -
                                   TJexExceptionStandards{efAccessViolation});
    TCustomForm* form = Application->MainForm();
    auto* button = Create<TButton>(form);
    button->SetName("btnRead");
    button->SetParent(form);
    button->SetOnClick(TNotifyEvent::FromCallable([AFault](TObject*) { AFault(); }));
    constexpr std::uint32_t next = WM_USER + 1;
    Application->HookMainWindow(TWindowHook::FromCallable([ALogger](TMessage& AMsg) {
        if (AMsg.Msg != next)
            return false;
        ALogger->WriteAsString("\r\nnext message handled");
        Application->Terminate();
        return true;
    }));
    Application->PostMessage(button->Handle(), BM_CLICK);
    Application->PostMessage(Application->Handle(), next);
    Application->Run();
    return 0;
}

// Faults inside a noexcept function called from a message handler: the exception thrown for
// the fault may not leave the function, so std::terminate ends the program.
int RunNoexceptFault() {
    constexpr std::uint32_t message = WM_USER + 2;
    Application->HookMainWindow(TWindowHook::FromCallable([](TMessage& AMsg) {
        if (AMsg.Msg == message)
            FaultInNoexcept();
        return false;
    }));
    Application->PostMessage(Application->Handle(), message);
    Application->ProcessMessages();
    return 0;
}

int RunAllocatorHeld() {
    std::thread holder([] {
        stickNextAllocation = true;
        delete new int(1);
    });
    holder.detach();
    while (!allocatorHeld)
        usleep(1000);
    return ReadThroughNull();
}

// The framework's floating-point control: an invalid operation, a division by zero and an
// overflow raise exceptions; underflow stays masked unless the program unmasks it too.
void UnmaskFloatExceptions(bool AUnderflowToo) {
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | (AUnderflowToo ? FE_UNDERFLOW : 0));
}

// A worker whose Execute recurses until its stack runs out.
class TRecursingThread : public TThread {
public:
    TRecursingThread()
        : TThread(false) {}

protected:
    void Execute() override { Recurse(0); }
};

int RunWorkerStackOverflow() {
    TThread* worker = CreateThread<TRecursingThread>();
    return worker->WaitFor();
}

} // namespace

int main(int AArgc, char** AArgv) {
    if (AArgc != 3 && AArgc != 5) {
        std::fprintf(stderr, "usage: %s SCENARIO LOGFILE [COLLECTOR QUEUEFOLDER]\n", AArgv[0]);
        return 2;
    }
    const std::string scenario = AArgv[1];
    InitApplication(std::make_unique<THeadlessWidgetSet>());
    Application->SetTitle("Faults");
    TJexExceptionLog* logger = NewLogger(AArgv[2]);
    if (AArgc == 5) {
        logger->SetCollectorQueueFolder(AArgv[4]);
        logger->SetCollector(AArgv[3]);
    }

    if (scenario == "deliver")
        return logger->ReportCollector() != nullptr &&
                       logger->ReportCollector()->Flush(std::chrono::seconds(20))
                   ? 0
                   : 1;

    if (scenario == "null-read")
        return ReadThroughNull();
    if (scenario == "null-write")
        WriteThroughNull();
    else if (scenario == "divide")
        return DivideByZero();
    else if (scenario == "stack-overflow")
        return Recurse(0);
    else if (scenario == "abort")
        CallAbort();
    else if (scenario == "sent-abort") {
        // As another process would send it: the report is written and the process still ends.
        kill(getpid(), SIGABRT);
        return 0;
    }
    else if (scenario == "worker-exception")
        std::thread(&ThrowInWorker).join();
    else if (scenario == "worker-fault")
        std::thread(&WriteThroughNull).join();
    else if (scenario == "noexcept-fault")
        return RunNoexceptFault();
    else if (scenario == "allocator-held")
        return RunAllocatorHeld();
    else if (scenario == "worker-stack-overflow")
        return RunWorkerStackOverflow();
    else if (scenario == "float-divide") {
        UnmaskFloatExceptions(false);
        FloatDivideByZero();
    } else if (scenario == "float-invalid") {
        UnmaskFloatExceptions(false);
        FloatInvalid();
    } else if (scenario == "float-overflow") {
        UnmaskFloatExceptions(false);
        FloatOverflow();
    } else if (scenario == "float-underflow") {
        UnmaskFloatExceptions(true);
        FloatUnderflow();
    } else if (scenario == "float-underflow-masked") {
        UnmaskFloatExceptions(false);
        std::printf("%g\n", FloatUnderflow());
    } else if (scenario == "privileged")
        ExecutePrivileged();
    else if (scenario == "loop")
        return RunLoop(logger, false, [] { ReadThroughNull(); });
    else if (scenario == "loop-filtered")
        return RunLoop(logger, true, [] { ReadThroughNull(); });
    else if (scenario == "loop-float") {
        UnmaskFloatExceptions(false);
        return RunLoop(logger, false, [] { FloatDivideByZero(); });
    } else if (scenario == "loop-privileged")
        return RunLoop(logger, false, &ExecutePrivileged);
    else {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    return 0;
}
