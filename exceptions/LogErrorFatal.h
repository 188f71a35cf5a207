// exceptions/LogErrorFatal.h - the exception logger's report for what cannot become an
// exception: a fault on another thread, a stack overflow, a second fault, abort() and
// std::terminate.
//
// When fault handling is on (programs built with jex_enable_fault_exceptions), the exception
// logger installed in the application also answers for faults: on the main thread inside the
// message loop a fault is thrown as the framework's exception and handled like any other;
// everything else gets a fatal report, composed in the signal handler from what was prepared
// when the logger hooked (the static sections, the map's lookup index, the executable's
// modules) and appended to the logger's LogFile with write(2). The report follows the logger's
// Formats in the layout of the ordinary report; the active form and control and the memory
// figures are left out, since they cannot be read safely from a signal handler.
#pragma once

#include "platform/FaultSignals.h"
#include "platform/SignalSafeText.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace jex {

class TJexExceptionLog;
class TJexMapFile;

/// Turns fault handling on for the exception loggers this process creates from now on (the
/// source that jex_enable_fault_exceptions adds to a program calls it at start-up).
void EnableFaultHandling();

/// True once EnableFaultHandling ran.
bool FaultHandlingEnabled();

/// Appends the call-stack section for AFrames (run-time addresses, innermost first) to AOut:
/// the separator line, "Call stack:", then one line per frame with its address in the map
/// address model and, where AMap knows them, unit, procedure and line. AMap must have its
/// lookups prepared (or be null). Allocates nothing.
void AppendCallStack(platform::TSignalSafeText& AOut, std::span<const std::uintptr_t> AFrames,
                     const TJexMapFile* AMap) noexcept;

/// The fatal report of the process, prepared by the logger that is installed in the
/// application.
class TJexFatalReport {
public:
    /// The process's one report.
    static TJexFatalReport& Instance();

    /// Makes ALogger the logger whose LogFile and Formats fatal reports use, prepares its static
    /// sections and map, and installs the fault handlers on first use.
    void Attach(TJexExceptionLog* ALogger);

    /// ALogger goes away: the report falls back to AFallback (nullptr: no fatal reports).
    void Detach(TJexExceptionLog* ALogger, TJexExceptionLog* AFallback);

    /// The logger fatal reports go to; nullptr when none.
    TJexExceptionLog* Logger() const { return FLogger; }

    /// Composes the report for AFault in the report's own buffer and returns it. Async-signal-
    /// safe.
    std::string_view Compose(const platform::TFaultInfo& AFault) noexcept;

    /// Composes the report and appends it to the logger's LogFile. Async-signal-safe.
    void Write(const platform::TFaultInfo& AFault) noexcept;

    TJexFatalReport(const TJexFatalReport&) = delete;
    TJexFatalReport& operator=(const TJexFatalReport&) = delete;

private:
    TJexFatalReport();
    /// Never destroyed: a fault during the process's exit must still find it.
    ~TJexFatalReport() = delete;

    void Prepare();

    TJexExceptionLog* FLogger = nullptr;
    struct TPrepared;
    TPrepared* FPrepared;
};

} // namespace jex
