// platform/FaultSignals.h - hardware faults, abort() and std::terminate turned into exceptions
// or fatal reports.
//
// A fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL) on the main thread inside a TFaultScope, in code of
// the main executable, is handed to the Raise handler, which throws the framework's exception
// for it straight out of the signal handler (the code must be built with -fnon-call-exceptions,
// see cmake/JexFaults.cmake). Everything else that would end the process without a word (a
// fault on another thread or outside a scope, a second fault while one is handled, a stack
// overflow, abort(), std::terminate) goes to the Report handler, which runs on an alternate
// signal stack with async-signal-safe calls only; afterwards the signal takes its default action,
// so a core dump stays possible.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

/// What went wrong, as the framework names it.
enum TFaultKind : std::uint8_t {
    fkAccessViolation, ///< SIGSEGV, SIGBUS
    fkIntDivide,       ///< SIGFPE FPE_INTDIV
    fkIntOverflow,     ///< SIGFPE FPE_INTOVF
    fkFloatInvalid,    ///< SIGFPE FPE_FLTINV and the other floating-point codes
    fkFloatDivide,     ///< SIGFPE FPE_FLTDIV
    fkFloatOverflow,   ///< SIGFPE FPE_FLTOVF
    fkFloatUnderflow,  ///< SIGFPE FPE_FLTUND
    fkPrivilege,       ///< SIGILL ILL_PRVOPC, ILL_PRVREG
    fkStackOverflow,   ///< SIGSEGV on the guard page below a stack
    fkExternal,        ///< any other signal or code (abort(), an illegal opcode, ...)
    fkTerminate,       ///< std::terminate: an exception nobody may catch, or none at all
};

/// Frames a report carries at most.
inline constexpr std::size_t MaxFaultFrames = 64;

/// One fault, as the signal handler saw it.
struct TFaultInfo {
    TFaultKind Kind = fkExternal;
    int Signal = 0;
    int Code = 0;                   ///< the signal's si_code
    std::uintptr_t Address = 0;     ///< the faulting instruction (run-time address)
    std::uintptr_t DataAddress = 0; ///< the address an access violation touched
    bool Write = false;             ///< the access violation was a write
    /// The faulting thread's frames, innermost first: the faulting instruction itself, then for
    /// every caller the address inside its call instruction (return address - 1).
    std::uintptr_t Frames[MaxFaultFrames] = {};
    std::size_t FrameCount = 0;
};

/// The kind of a signal with its si_code (and, for SIGSEGV, whether it hit a stack's guard
/// page).
TFaultKind ClassifyFault(int ASignal, int ACode, bool AStackOverflow);

/// True when the instruction at AInstruction only the kernel may run (hlt, cli, sti, in, out,
/// ins, outs, clts, invd, wbinvd, rdmsr, wrmsr, sysexit, sysret, moves to and from control and
/// debug registers, lgdt, lidt, lldt, ltr, lmsw, invlpg). Run in user mode, such an instruction
/// raises a general-protection fault, which Linux delivers as SIGSEGV with SI_KERNEL, not as
/// SIGILL: this tells it from an access through a non-canonical address. Reads no byte past the
/// instruction's opcode and ModRM byte.
bool IsPrivilegedInstruction(const std::uint8_t* AInstruction) noexcept;

/// The code "External exception %X" names for a signal: the signal number times 0x100 plus the
/// kernel's si_code when the kernel raised it (a program's kill() or abort() adds nothing).
unsigned ExternalExceptionCode(int ASignal, int ACode);

/// What the process does with a fault.
struct TFaultHandlers {
    /// Throws the exception for AInfo; called on the main thread inside a TFaultScope, from the
    /// signal handler. Should it return, the fault is reported as fatal.
    void (*Raise)(const TFaultInfo& AInfo) = nullptr;
    /// Writes the fatal report for AInfo with async-signal-safe calls only.
    void (*Report)(const TFaultInfo& AInfo) noexcept = nullptr;
};

/// Installs the handlers of SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT and of std::terminate,
/// gives the calling (main) thread an alternate signal stack, and warms up the unwinder so that
/// the first fault finds it loaded. A second call replaces the handlers; installing is for the
/// main thread, before the faults it should catch.
void InstallFaultHandlers(const TFaultHandlers& AHandlers);

/// Puts back the signal actions and the terminate handler found by InstallFaultHandlers.
void UninstallFaultHandlers();

/// True between InstallFaultHandlers and UninstallFaultHandlers.
bool FaultHandlersInstalled();

/// Marks a stretch of the main thread where a fault may be thrown as an exception because a
/// handler waits above it (the application's message dispatch). Scopes nest; on other threads a
/// scope does nothing.
class TFaultScope {
public:
    TFaultScope();
    ~TFaultScope();
    TFaultScope(const TFaultScope&) = delete;
    TFaultScope& operator=(const TFaultScope&) = delete;
};

/// Gives the calling thread an alternate signal stack, so that its stack overflow can be
/// reported; the main thread gets one from InstallFaultHandlers. The stack lives as long as the
/// process.
void EnsureAlternateSignalStack();

/// Gives the calling thread an alternate signal stack for as long as the object lives, so that
/// a stack overflow on a worker thread can be reported; made at the start of the thread's
/// function. Does nothing when the thread has one of the suite's already. The destructor puts
/// back the stack found before (a sanitizer's, say) and frees its own.
class TThreadSignalStack {
public:
    TThreadSignalStack();
    ~TThreadSignalStack();
    TThreadSignalStack(const TThreadSignalStack&) = delete;
    TThreadSignalStack& operator=(const TThreadSignalStack&) = delete;

private:
    void* FMemory = nullptr;
    void* FPreviousStack = nullptr;
    std::size_t FPreviousSize = 0;
    int FPreviousFlags = 0;
};

/// Writes the frames of the calling thread, innermost first, skipping the innermost ASkip, as
/// addresses inside their call instructions. Async-signal-safe once InstallFaultHandlers has
/// run (the unwinder is loaded then; its lookups take no lock). Returns the number written.
std::size_t CaptureFrames(std::uintptr_t* AFrames, std::size_t ACapacity,
                          std::size_t ASkip) noexcept;

/// Appends ASize bytes to the file APath (created when missing) with open, write and close
/// only. Claims the file the way log writes do (a deny-write share lock); when another writer
/// holds it, retries for about 50 ms and then writes anyway: a crash report is worth more than
/// the order of two records. False when the file cannot be opened or a write fails.
/// Async-signal-safe.
bool AppendFatalRecord(const char* APath, const char* AData, std::size_t ASize) noexcept;

/// The fatal handler's answer to "is a fatal report being written in this process?", so that
/// the abort() that follows a terminate report does not write a second one.
bool FatalReportWritten() noexcept;

} // namespace platform
