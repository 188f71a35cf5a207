// platform/linux/FaultSignals.cpp - the fault signal handlers, the terminate handler and the
// async-signal-safe pieces the fatal report is written with.
//
// The handlers run on an alternate stack with every fault signal blocked, so a fault inside
// them ends the process with the default action at once instead of looping. Nothing here
// allocates, takes a lock another thread may hold or waits without a bound once installed: the
// unwinder finds frames through the loader's lock-free lookup (_dl_find_object) and is warmed up
// at install, the main image's layout is read at install, and the only wait (for another thread
// that is writing its own fatal report) is bounded.
#include "platform/FaultSignals.h"

#include "platform/ProcessImage.h"
#include "platform/linux/FileLock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

// The unwinder's own lookup of a code address's unwind information (libgcc); the same lookup
// every step of a stack walk makes.
struct TUnwindBases {
    void* TextBase;
    void* DataBase;
    void* Function;
};

extern "C" const void* _Unwind_Find_FDE(void* APc, TUnwindBases* ABases);

// gcc's coverage runtime writes its counts; only programs linked with --coverage have it.
extern "C" void __gcov_dump() __attribute__((weak));

namespace platform {

namespace {

constexpr int FaultSignalList[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t FaultSignalCount = std::size(FaultSignalList);

// Large enough for the unwinder and the report composition, also with sanitizer frames.
constexpr std::size_t AlternateStackSize = 256 * 1024;

// A fault this close below the stack pointer is a push or a stack probe into the guard page.
constexpr std::uintptr_t StackProbeReach = 64 * 1024;

struct TInstalled {
    TFaultHandlers Handlers;
    struct sigaction Previous[FaultSignalCount] = {};
    std::terminate_handler PreviousTerminate = nullptr;
    std::uintptr_t MainStackLow = 0;
    std::uintptr_t MainStackHigh = 0;
};

TInstalled installed;
std::atomic<bool> isInstalled{false};

// The thread writing a fatal report (its kernel id), 0 while nobody does.
std::atomic<long> fatalOwner{0};
std::atomic<bool> reportWritten{false};

thread_local int scopeDepth = 0;
thread_local bool alternateStackSet = false;

long ThreadId() noexcept {
    return syscall(SYS_gettid);
}

bool OnMainThread() noexcept {
    return ThreadId() == static_cast<long>(getpid());
}

void PauseMilliseconds(long AMilliseconds) noexcept {
    struct timespec pause {
        0, AMilliseconds * 1000000L
    };

    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

struct TFrameWalk {
    std::uintptr_t* Frames;
    std::size_t Capacity;
    std::size_t Skip;
    std::size_t Count = 0;
    bool FromSignal = false; ///< record only from the interrupted frame on
    bool Started = false;
};

_Unwind_Reason_Code VisitFrame(_Unwind_Context* AContext, void* AData) {
    auto* walk = static_cast<TFrameWalk*>(AData);
    int beforeInstruction = 0;
    const std::uintptr_t ip = _Unwind_GetIPInfo(AContext, &beforeInstruction);
    if (ip == 0)
        return _URC_END_OF_STACK;
    if (walk->FromSignal && !walk->Started) {
        // The frame the signal interrupted is the first one whose address is the instruction
        // itself, not a return address.
        if (beforeInstruction == 0)
            return _URC_NO_REASON;
        walk->Started = true;
    }
    if (walk->Skip > 0) {
        --walk->Skip;
        return _URC_NO_REASON;
    }
    walk->Frames[walk->Count++] = beforeInstruction != 0 ? ip : ip - 1;
    return walk->Count < walk->Capacity ? _URC_NO_REASON : _URC_END_OF_STACK;
}

bool IsStackOverflow(std::uintptr_t AAddress, std::uintptr_t AStackPointer) noexcept {
    if (AAddress <= AStackPointer + 4096 && AAddress + StackProbeReach >= AStackPointer)
        return true;
    // The main stack grows on demand up to its limit; below that lies the guard gap.
    return OnMainThread() && installed.MainStackLow != 0 &&
           AAddress < installed.MainStackLow + 4096 &&
           AAddress + 16 * StackProbeReach >= installed.MainStackLow;
}

// Code without unwind information cannot be left by an exception.
bool HasUnwindInformation(std::uintptr_t AAddress) noexcept {
    TUnwindBases bases{};
    return _Unwind_Find_FDE(reinterpret_cast<void*>(AAddress), &bases) != nullptr;
}

void UnblockFaultSignals() noexcept {
    sigset_t set;
    sigemptyset(&set);
    for (int s : FaultSignalList)
        sigaddset(&set, s);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// Takes the fatal report for this thread. False when another thread already writes one (after
// waiting a bounded time for it to end the process) or when this thread faulted while writing.
bool ClaimFatalReport() noexcept {
    const long me = ThreadId();
    long expected = 0;
    if (fatalOwner.compare_exchange_strong(expected, me))
        return !reportWritten.load();
    if (expected != me) {
        // The other thread ends the process when it is done; give it two seconds.
        for (int i = 0; i < 200 && fatalOwner.load() != 0; ++i)
            PauseMilliseconds(10);
    }
    return false;
}

void WriteFatalReport(const TFaultInfo& AInfo) noexcept {
    if (ClaimFatalReport() && installed.Handlers.Report != nullptr) {
        installed.Handlers.Report(AInfo);
        reportWritten.store(true);
    }
}

// A process that a signal ends never runs the exit code that writes gcc's coverage counts, so a
// coverage build writes them before the signal's default action. Not async-signal-safe (it
// locks and writes files), which is why it exists only in coverage builds: elsewhere the weak
// reference is null and nothing happens.
void WriteCoverageCounts() noexcept {
    if (&__gcov_dump != nullptr)
        __gcov_dump();
}

void ResetToDefault(int ASignal) noexcept {
    struct sigaction action {};

    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(ASignal, &action, nullptr);
}

void OnFaultSignal(int ASignal, siginfo_t* AInfo, void* AContext) {
    const auto* context = static_cast<const ucontext_t*>(AContext);
    const bool fromKernel = AInfo->si_code > 0;
    TFaultInfo fault;
    fault.Signal = ASignal;
    fault.Code = AInfo->si_code;
    bool overflow = false;
    if (fromKernel && ASignal != SIGABRT) {
        fault.Address = static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
        if (ASignal == SIGSEGV || ASignal == SIGBUS) {
            fault.DataAddress = reinterpret_cast<std::uintptr_t>(AInfo->si_addr);
            // Bit 1 of the page-fault error code tells a write from a read.
            fault.Write = (context->uc_mcontext.gregs[REG_ERR] & 2) != 0;
            overflow =
                ASignal == SIGSEGV &&
                IsStackOverflow(fault.DataAddress,
                                static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RSP]));
        }
    }
    fault.Kind = ClassifyFault(ASignal, AInfo->si_code, overflow);
    if (ASignal == SIGSEGV && AInfo->si_code == SI_KERNEL && fault.Address != 0 &&
        IsPrivilegedInstruction(reinterpret_cast<const std::uint8_t*>(fault.Address))) {
        fault.Kind = fkPrivilege;
        fault.DataAddress = 0;
        fault.Write = false;
    }

    TFrameWalk walk{fault.Frames, MaxFaultFrames, 0};
    walk.FromSignal = true;
    _Unwind_Backtrace(&VisitFrame, &walk);
    fault.FrameCount = walk.Count;
    if (fault.Address == 0 && fault.FrameCount > 0)
        fault.Address = fault.Frames[0];

    const bool throwable = fromKernel && ASignal != SIGABRT && !overflow && scopeDepth > 0 &&
                           OnMainThread() && fatalOwner.load() == 0 &&
                           InMainExecutable(fault.Address) && HasUnwindInformation(fault.Address) &&
                           installed.Handlers.Raise != nullptr;
    if (throwable) {
        // The exception leaves the handler without the kernel's return path, which would have
        // restored the signal mask.
        UnblockFaultSignals();
        installed.Handlers.Raise(fault);
    }

    WriteFatalReport(fault);
    WriteCoverageCounts();
    ResetToDefault(ASignal);
    // A fault happens again when the instruction is retried, now with the default action; a
    // signal someone sent is sent again (it stays pending until this handler returns). So is
    // abort's own: abort would raise it again itself, but a SIGABRT another process sent would
    // otherwise be used up here and the process would go on after its fatal report.
    if (!fromKernel)
        raise(ASignal);
}

[[noreturn]] void OnTerminate() {
    TFaultInfo fault;
    fault.Kind = fkTerminate;
    fault.Signal = SIGABRT;
    TFrameWalk walk{fault.Frames, MaxFaultFrames, 1};
    _Unwind_Backtrace(&VisitFrame, &walk);
    fault.FrameCount = walk.Count;
    fault.Address = fault.FrameCount > 0 ? fault.Frames[0] : 0;
    WriteFatalReport(fault);
    std::abort();
}

// An alternate signal stack with an inaccessible page below it, so that a handler that runs out
// of it faults at once instead of writing over whatever memory lies there. Null when the
// system refuses the memory.
void* MapAlternateStack() noexcept {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* memory = mmap(nullptr, AlternateStackSize + page, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED)
        return nullptr;
    mprotect(memory, page, PROT_NONE);
    return static_cast<char*>(memory) + page;
}

void UnmapAlternateStack(void* AStack) noexcept {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    munmap(static_cast<char*>(AStack) - page, AlternateStackSize + page);
}

void ReadMainStack() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0)
        return;
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
        installed.MainStackLow = reinterpret_cast<std::uintptr_t>(low);
        installed.MainStackHigh = installed.MainStackLow + size;
    }
    pthread_attr_destroy(&attributes);
}

} // namespace

TFaultKind ClassifyFault(int ASignal, int ACode, bool AStackOverflow) {
    switch (ASignal) {
    case SIGSEGV:
        return AStackOverflow ? fkStackOverflow : fkAccessViolation;
    case SIGBUS:
        return fkAccessViolation;
    case SIGFPE:
        switch (ACode) {
        case FPE_INTDIV:
            return fkIntDivide;
        case FPE_INTOVF:
            return fkIntOverflow;
        case FPE_FLTDIV:
            return fkFloatDivide;
        case FPE_FLTOVF:
            return fkFloatOverflow;
        case FPE_FLTUND:
            return fkFloatUnderflow;
        default:
            return fkFloatInvalid;
        }
    case SIGILL:
        return ACode == ILL_PRVOPC || ACode == ILL_PRVREG ? fkPrivilege : fkExternal;
    default:
        return fkExternal;
    }
}

bool IsPrivilegedInstruction(const std::uint8_t* AInstruction) noexcept {
    if (AInstruction == nullptr)
        return false;
    const std::uint8_t* p = AInstruction;
    // Legacy prefixes, then at most one REX prefix; an instruction is 15 bytes at most.
    for (int i = 0; i < 14; ++i, ++p) {
        const std::uint8_t b = *p;
        const bool legacy = b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E || b == 0x64 ||
                            b == 0x65 || b == 0x66 || b == 0x67 || b == 0xF0 || b == 0xF2 ||
                            b == 0xF3;
        if (!legacy)
            break;
    }
    if ((*p & 0xF0) == 0x40)
        ++p;
    switch (*p) {
    case 0xF4: // hlt
    case 0xFA: // cli
    case 0xFB: // sti
    case 0xE4:
    case 0xE5: // in from an immediate port
    case 0xE6:
    case 0xE7: // out to an immediate port
    case 0xEC:
    case 0xED: // in from dx
    case 0xEE:
    case 0xEF: // out to dx
    case 0x6C:
    case 0x6D: // ins
    case 0x6E:
    case 0x6F: // outs
        return true;
    case 0x0F:
        break;
    default:
        return false;
    }
    const std::uint8_t opcode = *++p;
    switch (opcode) {
    case 0x06: // clts
    case 0x07: // sysret
    case 0x08: // invd
    case 0x09: // wbinvd
    case 0x20:
    case 0x21: // mov from a control or debug register
    case 0x22:
    case 0x23: // mov to a control or debug register
    case 0x30: // wrmsr
    case 0x32: // rdmsr
    case 0x35: // sysexit
        return true;
    case 0x00:
    case 0x01:
        break;
    default:
        return false;
    }
    const std::uint8_t modrm = *++p;
    const int mod = modrm >> 6;
    const int reg = (modrm >> 3) & 7;
    if (opcode == 0x00)
        return reg == 2 || reg == 3; // lldt, ltr
    // lgdt, lidt and invlpg take a memory operand; lmsw either. With a register operand the same
    // encodings are other, unprivileged instructions (xgetbv, rdtscp, ...), except swapgs.
    if (mod != 3)
        return reg == 2 || reg == 3 || reg == 6 || reg == 7;
    return reg == 6 || modrm == 0xF8; // lmsw, swapgs
}

unsigned ExternalExceptionCode(int ASignal, int ACode) {
    return static_cast<unsigned>(ASignal) * 0x100u +
           (ACode > 0 ? static_cast<unsigned>(ACode) : 0u);
}

void InstallFaultHandlers(const TFaultHandlers& AHandlers) {
    // Everything the handlers touch is read now, outside any signal.
    (void)MainImage();
    ReadMainStack();
    EnsureAlternateSignalStack();
    std::uintptr_t warmUp[4];
    (void)CaptureFrames(warmUp, std::size(warmUp), 0);

    installed.Handlers = AHandlers;
    if (isInstalled.exchange(true))
        return;

    struct sigaction action {};

    action.sa_sigaction = &OnFaultSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int s : FaultSignalList)
        sigaddset(&action.sa_mask, s);
    for (std::size_t i = 0; i < FaultSignalCount; ++i)
        sigaction(FaultSignalList[i], &action, &installed.Previous[i]);
    installed.PreviousTerminate = std::set_terminate(&OnTerminate);
}

void UninstallFaultHandlers() {
    if (!isInstalled.exchange(false))
        return;
    for (std::size_t i = 0; i < FaultSignalCount; ++i)
        sigaction(FaultSignalList[i], &installed.Previous[i], nullptr);
    std::set_terminate(installed.PreviousTerminate);
    installed.Handlers = {};
}

bool FaultHandlersInstalled() {
    return isInstalled.load();
}

TFaultScope::TFaultScope() {
    ++scopeDepth;
}

TFaultScope::~TFaultScope() {
    --scopeDepth;
}

void EnsureAlternateSignalStack() {
    if (alternateStackSet)
        return;
    void* memory = MapAlternateStack();
    if (memory == nullptr)
        return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = AlternateStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        UnmapAlternateStack(memory);
        return;
    }
    alternateStackSet = true;
}

TThreadSignalStack::TThreadSignalStack() {
    if (alternateStackSet)
        return;
    void* memory = MapAlternateStack();
    if (memory == nullptr)
        return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = AlternateStackSize;
    stack_t previous{};
    if (sigaltstack(&stack, &previous) != 0) {
        UnmapAlternateStack(memory);
        return;
    }
    FMemory = memory;
    FPreviousStack = previous.ss_sp;
    FPreviousSize = previous.ss_size;
    FPreviousFlags = previous.ss_flags & SS_DISABLE;
    alternateStackSet = true;
}

TThreadSignalStack::~TThreadSignalStack() {
    if (FMemory == nullptr)
        return;
    stack_t previous{};
    previous.ss_sp = FPreviousStack;
    previous.ss_size = FPreviousSize;
    previous.ss_flags = FPreviousFlags;
    // Only freed once the thread no longer runs its signals on it.
    if (sigaltstack(&previous, nullptr) != 0)
        return;
    UnmapAlternateStack(FMemory);
    alternateStackSet = false;
}

std::size_t CaptureFrames(std::uintptr_t* AFrames, std::size_t ACapacity,
                          std::size_t ASkip) noexcept {
    if (AFrames == nullptr || ACapacity == 0)
        return 0;
    // This function's own frame is the first the walk meets.
    TFrameWalk walk{AFrames, ACapacity, ASkip + 1};
    _Unwind_Backtrace(&VisitFrame, &walk);
    return walk.Count;
}

bool AppendFatalRecord(const char* APath, const char* AData, std::size_t ASize) noexcept {
    if (APath == nullptr || *APath == '\0')
        return false;
    const int fd = open(APath, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    // The log writers' own mode (read-write, denying writes): one fcntl, no waiting inside.
    for (int attempt = 0; attempt < 25; ++attempt) {
        if (LockShare(fd, fsReadWrite, fsRead) != flViolation)
            break;
        PauseMilliseconds(2);
    }
    bool ok = true;
    while (ASize > 0) {
        const ssize_t n = write(fd, AData, ASize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        AData += n;
        ASize -= static_cast<std::size_t>(n);
    }
    close(fd);
    return ok;
}

bool FatalReportWritten() noexcept {
    return reportWritten.load();
}

} // namespace platform
