// exceptions/LogError.h - TJexExceptionLog, the component that logs the application's
// unhandled exceptions.
//
// At run time the logger takes the application's exception event over, judges each exception by
// its class, composes a report from the sections chosen in Formats, appends it to the log file
// and shows the chosen error dialog. Several loggers in one application form a chain: each calls
// the handler it found, and a logger that goes away takes itself out of that chain.
#pragma once

#include "host/core/Classes.h"
#include "host/forms/Forms.h"
#include "logging/LogBase.h"
#include "mapfile/Jexmapfile.h"

#include <cstdint>
#include <memory>
#include <string>

namespace jex {

class TJexReportCollector;

enum TJexLErrorDialog : std::uint8_t { edNone, edStandard, edExtended };

enum TJexLFormat : std::uint8_t {
    lfDate,
    lfTime,
    lfPhysAddress,
    lfExceptionClassName,
    lfMessage,
    lfSeparator,
    lfSourceLine,
    lfApplication,
    lfActiveControl,
    lfComputerInfo,
    lfOSInfo,
    lfMemoryInfo,
    /// Every frame of the thread that raised the exception (not in the default set, so stored
    /// forms read as before).
    lfCallStack,
    /// The crash signature, the identifier the collector groups reports by (not in the default
    /// set either).
    lfSignature
};

using TJexLFormats = host::TSet<TJexLFormat>;

enum TJexLAOption : std::uint8_t { laShowSendEMail, laShowSupportLink, laShowSourceLine };

using TJexLAOptions = host::TSet<TJexLAOption>;

/// Run-time library exception classes, in the order of their filter members.
enum TJexExceptionStandard : std::uint8_t {
    efAbort,
    efOutOfMemory,
    efInOutError,
    efIntError,
    efDivByZero,
    efRangeError,
    efIntOverflow,
    efMathError,
    efInvalidOp,
    efZeroDivide,
    efOverflow,
    efUnderflow,
    efInvalidPointer,
    efInvalidCast,
    efConvertError,
    efAccessViolation,
    efPrivilege,
    efStackOverflow,
    efControlC,
    efVariantError,
    efPropReadOnly,
    efPropWriteOnly,
    efExternalException,
    efAssertionFailed,
    efAbstractError,
    efIntfCastError,
    efInvalidContainer,
    efInvalidInsert,
    efPackageError,
    efWin32Error
};

using TJexExceptionStandards = host::TSet<TJexExceptionStandard>;

/// Component library exception classes.
enum TJexExceptionClass : std::uint8_t {
    efStreamError,
    efFCreateError,
    efFOpenError,
    efFilerError,
    efReadError,
    efWriteError,
    efClassNotFound,
    efMethodNotFound,
    efInvalidImage,
    efResNotFound,
    efListError,
    efBitsError,
    efStringListError,
    efComponentError,
    efParserError,
    efOutOfResources,
    efInvalidOperation,
    efThread
};

using TJexExceptionClasses = host::TSet<TJexExceptionClass>;

/// Graphics exception classes.
enum TJexExceptionGraphic : std::uint8_t { efInvalidGraphic, efInvalidGraphicOperation };

using TJexExceptionGraphics = host::TSet<TJexExceptionGraphic>;

/// (Sender, E, var LogText, var Accept): may change the report or veto writing it.
using TJexLSaveExceptionEvent =
    host::TEvent<void(host::TObject*, host::Exception*, std::string&, bool&)>;

/// Defaults of the published sets (their stored bit values).
inline constexpr TJexExceptionStandards DefaultFilterStandard =
    TJexExceptionStandards::FromBits(1073741823);
inline constexpr TJexExceptionClasses DefaultFilterClasses = TJexExceptionClasses::FromBits(262143);
inline constexpr TJexExceptionGraphics DefaultFilterGraphics = TJexExceptionGraphics::FromBits(3);
inline constexpr TJexLFormats DefaultFormats{lfDate,          lfTime,        lfPhysAddress,
                                             lfMessage,       lfSeparator,   lfApplication,
                                             lfActiveControl, lfComputerInfo};
inline constexpr TJexLAOptions DefaultOptions{laShowSendEMail, laShowSupportLink};

/// Logs the exceptions that reach the application's top-level handling.
///
/// Created at run time (host::Create<TJexExceptionLog>(owner)) it installs DoException as the
/// application's exception event, whatever Active says; in a form designer it hooks nothing.
/// Destroying it puts back the handler it found when the application's event still points to
/// it, and re-links any later logger that had saved this one as its previous handler.
class TJexExceptionLog : public TJexLogBase {
    JEX_CLASS(TJexExceptionLog)

public:
    explicit TJexExceptionLog(host::TComponent* AOwner);
    ~TJexExceptionLog() override;

    /// The application's exception event while this logger is installed: calls the previous
    /// handler and OnException, then (Active and the filters permitting) writes the report and
    /// shows the dialog chosen by ErrorDialog. An exception arriving while one is being handled
    /// goes to the application's standard display. Errors of the developer's events and of the
    /// log write do not stop the handling: they are shown by the standard display after the
    /// dialog. A map that cannot be read counts as no source position.
    void DoException(host::TObject* ASender, host::Exception* E);

    /// Opens the support web page (the dialog's web button).
    void ActiveWeb(host::TObject* ASender);
    /// Mails the log with or without a screenshot (the dialog's mail button); SendTo's
    /// AttachScreenShot is back to its value afterwards, also when sending raises.
    void ActivateMail(host::TObject* ASender, bool AIncludeScreenshot);

    /// True when the filter sets let E be logged: E is judged by the filter member of its own
    /// class or of its nearest listed ancestor; classes with no listed ancestor (the
    /// application's own classes derived from Exception, foreign C++ exceptions) are logged.
    bool CanLogException(const host::Exception* E) const;

    // ---- Report sections; each returns one section, empty when it has nothing to say -----

    /// The source position of the last lookup: "\r\nUnit: ..\r\nProcedure: ..\r\nLine No: n".
    std::string GetFormattedSource() const;
    std::string GetApplicationDetails() const;
    std::string GetActiveControlDetails() const;
    std::string GetComputerInfo() const;
    std::string GetOSInfo() const;
    std::string GetMemoryInfo() const;
    /// The frames of the thread that raised the exception being handled: the separator,
    /// "Call stack:", then per frame its address (map address model) with unit, procedure and
    /// line where the map knows them; empty when no frames were recorded.
    std::string GetCallStack() const;

    /// "\r\nSignature: " and the crash signature of E: its class with the unit and procedure of
    /// the last lookup.
    std::string GetSignature(const host::Exception* E) const;

    /// The whole report as DoException would write it for E (sections of Formats and "?").
    std::string BuildReport(host::Exception* E) const;

    // ---- Published properties -----------------------------------------------------------

    TJexLErrorDialog ErrorDialog() const { return FErrorDialog; }

    void SetErrorDialog(TJexLErrorDialog AValue) { FErrorDialog = AValue; }

    TJexExceptionStandards FilterStandard() const { return FFilterStandard; }

    void SetFilterStandard(TJexExceptionStandards AValue) { FFilterStandard = AValue; }

    TJexExceptionClasses FilterClasses() const { return FFilterClasses; }

    void SetFilterClasses(TJexExceptionClasses AValue) { FFilterClasses = AValue; }

    TJexExceptionGraphics FilterGraphics() const { return FFilterGraphics; }

    void SetFilterGraphics(TJexExceptionGraphics AValue) { FFilterGraphics = AValue; }

    TJexLFormats Formats() const { return FFormats; }

    void SetFormats(TJexLFormats AValue) { FFormats = AValue; }

    TJexLAOptions Options() const { return FOptions; }

    void SetOptions(TJexLAOptions AValue) { FOptions = AValue; }

    /// The URL of a systemd-journal-remote receiver every written report is also sent to
    /// (empty: none). Set at run time, it starts the sending, beginning with what is queued.
    const std::string& Collector() const { return FCollector; }

    void SetCollector(const std::string& AValue);

    const host::TExceptionEvent& OnException() const { return FOnException; }

    void SetOnException(const host::TExceptionEvent& AValue) { FOnException = AValue; }

    const TJexLSaveExceptionEvent& OnSaveException() const { return FOnSaveException; }

    void SetOnSaveException(const TJexLSaveExceptionEvent& AValue) { FOnSaveException = AValue; }

    // ---- State, for the dialog and for tests --------------------------------------------

    /// The folder reports wait in for the collector; by default under the user's XDG state
    /// folder, named after the executable.
    const std::string& CollectorQueueFolder() const { return FCollectorQueueFolder; }

    /// Another queue folder (empty: the default); restarts the sending.
    void SetCollectorQueueFolder(const std::string& AValue);

    /// The queue and its worker while Collector is set at run time; nullptr otherwise.
    TJexReportCollector* ReportCollector() const { return FReportCollector.get(); }

    /// The map reader, pointed at the executable's path with ".map".
    TJexMapFile& MapFile() const { return *FMapFile; }

    /// True while DoException handles an exception.
    bool Busy() const { return FBusy; }

    /// The handler this logger calls first (the one it found when it hooked).
    const host::TExceptionEvent& PreviousHandler() const { return FPreviousHandler; }

private:
    /// Installs DoException unless the component sits in a form designer.
    void Hook();
    /// Takes this logger out of the application's event and of every other logger's chain.
    void Unhook();
    /// Resolves the exception's address; a map that cannot be read gives no position.
    void LoadSourcePosition();
    /// Shows the error dialog for E (ErrorDialog = edExtended).
    void ShowErrorDialog(host::Exception* E);
    /// Starts the worker for Collector anew (or stops it for an empty one).
    void RestartCollector();
    /// Queues the written AReport of E for the collector; never raises.
    void QueueForCollector(const host::Exception* E, std::string&& AReport) noexcept;

    bool FBusy = false;
    host::TExceptionEvent FPreviousHandler;
    host::TExceptionEvent FOnException;
    TJexLSaveExceptionEvent FOnSaveException;
    TJexLErrorDialog FErrorDialog = edExtended;
    TJexExceptionStandards FFilterStandard = DefaultFilterStandard;
    TJexExceptionClasses FFilterClasses = DefaultFilterClasses;
    TJexExceptionGraphics FFilterGraphics = DefaultFilterGraphics;
    TJexLFormats FFormats = DefaultFormats;
    TJexLAOptions FOptions = DefaultOptions;
    std::unique_ptr<TJexMapFile> FMapFile;
    /// The application whose exception event this logger installed itself in.
    host::TApplication* FHookedApplication = nullptr;
    /// Set when the map could not be read for the exception being handled.
    bool FSourceUnreadable = false;
    std::string FCollector;
    std::string FCollectorQueueFolder;
    /// The executable's file name (SYSLOG_IDENTIFIER of the collector's entries).
    std::string FProgramName;
    std::unique_ptr<TJexReportCollector> FReportCollector;
};

/// Initialisation and finalisation of the unit: registers TJexExceptionLog with the class
/// registry (nested calls only count).
void LogErrorInitialization();
void LogErrorFinalization();

} // namespace jex
