// exceptions/LogError.cpp - TJexExceptionLog: construction, the hook chain, the class filter,
// the dialog's delivery callbacks and the published members.
//
// The report itself is composed in LogErrorReport.cpp, its environment sections in
// LogErrorSections.cpp.
#include "exceptions/LogError.h"

#include "exceptions/LogErrorFatal.h"
#include "exceptions/ReportCollector.h"
#include "host/forms/ExceptionChain.h"
#include "mapfile/Jexmapfile.h"
#include "platform/ReportQueue.h"

#include <algorithm>
#include <vector>

namespace jex {

using namespace host;

namespace {

// ---- Live loggers -----------------------------------------------------------------------------
//
// Every logger that hooked is listed here while it lives, so that one going away can re-link the
// loggers that saved it as their previous handler: no saved handler ever points at a destroyed
// logger. Loggers hook and unhook on the main thread only.

std::vector<TJexExceptionLog*>& LiveLoggers() {
    static std::vector<TJexExceptionLog*> loggers;
    return loggers;
}

// ---- The class filter -----------------------------------------------------------------------

enum TFilterGroup : std::uint8_t { fgStandard, fgClasses, fgGraphics };

struct TFilterRule {
    bool (*Matches)(const Exception*);
    TFilterGroup Group;
    std::uint8_t Member;
};

template <typename C>
bool IsA(const Exception* E) {
    return dynamic_cast<const C*>(E) != nullptr;
}

template <typename C>
constexpr TFilterRule Rule(TJexExceptionStandard AMember) {
    return {&IsA<C>, fgStandard, AMember};
}

template <typename C>
constexpr TFilterRule Rule(TJexExceptionClass AMember) {
    return {&IsA<C>, fgClasses, AMember};
}

template <typename C>
constexpr TFilterRule Rule(TJexExceptionGraphic AMember) {
    return {&IsA<C>, fgGraphics, AMember};
}

// Every derived class comes before its listed base, so the first rule that matches belongs to
// the exception's own class or to its nearest listed ancestor.
constexpr TFilterRule FilterRules[] = {
    Rule<EDivByZero>(efDivByZero),
    Rule<ERangeError>(efRangeError),
    Rule<EIntOverflow>(efIntOverflow),
    Rule<EIntError>(efIntError),
    Rule<EInvalidOp>(efInvalidOp),
    Rule<EZeroDivide>(efZeroDivide),
    Rule<EOverflow>(efOverflow),
    Rule<EUnderflow>(efUnderflow),
    Rule<EMathError>(efMathError),
    Rule<EOutOfResources>(efOutOfResources),
    Rule<EOutOfMemory>(efOutOfMemory),
    Rule<EReadError>(efReadError),
    Rule<EWriteError>(efWriteError),
    Rule<EClassNotFound>(efClassNotFound),
    Rule<EMethodNotFound>(efMethodNotFound),
    Rule<EInvalidImage>(efInvalidImage),
    Rule<EFilerError>(efFilerError),
    Rule<EFCreateError>(efFCreateError),
    Rule<EFOpenError>(efFOpenError),
    Rule<EStreamError>(efStreamError),
    Rule<EAbort>(efAbort),
    Rule<EInOutError>(efInOutError),
    Rule<EInvalidPointer>(efInvalidPointer),
    Rule<EInvalidCast>(efInvalidCast),
    Rule<EConvertError>(efConvertError),
    Rule<EAccessViolation>(efAccessViolation),
    Rule<EPrivilege>(efPrivilege),
    Rule<EControlC>(efControlC),
    Rule<EVariantError>(efVariantError),
    Rule<EPropReadOnly>(efPropReadOnly),
    Rule<EPropWriteOnly>(efPropWriteOnly),
    Rule<EExternalException>(efExternalException),
    Rule<EAssertionFailed>(efAssertionFailed),
    Rule<EIntfCastError>(efIntfCastError),
    Rule<EInvalidContainer>(efInvalidContainer),
    Rule<EInvalidInsert>(efInvalidInsert),
    Rule<EPackageError>(efPackageError),
    Rule<EResNotFound>(efResNotFound),
    Rule<EListError>(efListError),
    Rule<EBitsError>(efBitsError),
    Rule<EStringListError>(efStringListError),
    Rule<EComponentError>(efComponentError),
    Rule<EParserError>(efParserError),
    Rule<EInvalidOperation>(efInvalidOperation),
    Rule<EThread>(efThread),
    Rule<EInvalidGraphic>(efInvalidGraphic),
    Rule<EInvalidGraphicOperation>(efInvalidGraphicOperation),
};

// ---- The unit -------------------------------------------------------------------------------

int& LogErrorInitCount() {
    static int count = 0;
    return count;
}

} // namespace

void LogErrorInitialization() {
    if (LogErrorInitCount()-- == 0)
        RegisterClass(TJexExceptionLog::StaticClassInfo());
}

void LogErrorFinalization() {
    ++LogErrorInitCount();
}

// ---- Construction and the hook chain --------------------------------------------------------

TJexExceptionLog::TJexExceptionLog(TComponent* AOwner)
    : TJexLogBase(AOwner)
    , FMapFile(std::make_unique<TJexMapFile>()) {
    {
        std::string mapName = Application != nullptr ? Application->ExeName() : ParamStr(0);
        const std::size_t slash = mapName.rfind('/');
        const std::size_t dot = mapName.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
            mapName.erase(dot);
        FMapFile->SetMapFileName(mapName + ".map");
    }
    {
        const std::string path = ParamStr(0);
        FProgramName = path.substr(path.rfind('/') + 1);
        FCollectorQueueFolder = platform::DefaultReportQueueFolder(FProgramName);
    }
    Hook();
}

TJexExceptionLog::~TJexExceptionLog() {
    Unhook();
    FReportCollector.reset();
}

// ---- The collector --------------------------------------------------------------------------

void TJexExceptionLog::SetCollector(const std::string& AValue) {
    if (AValue == FCollector)
        return;
    FCollector = AValue;
    RestartCollector();
}

void TJexExceptionLog::SetCollectorQueueFolder(const std::string& AValue) {
    const std::string folder =
        AValue.empty() ? platform::DefaultReportQueueFolder(FProgramName) : AValue;
    if (folder == FCollectorQueueFolder)
        return;
    FCollectorQueueFolder = folder;
    RestartCollector();
}

void TJexExceptionLog::RestartCollector() {
    // The fatal path reads the collector from a signal handler: it sees the old one or none,
    // never one half made, since the pointer is set only once the new one is complete.
    FReportCollector.reset();
    if (FCollector.empty() || ComponentState().Contains(csDesigning))
        return;
    TJexCollectorSettings settings;
    settings.Address = FCollector;
    settings.QueueFolder = FCollectorQueueFolder;
    FReportCollector = std::make_unique<TJexReportCollector>(std::move(settings));
}

void TJexExceptionLog::Hook() {
    if (ComponentState().Contains(csDesigning) || Application == nullptr)
        return;
    const TExceptionEvent mine(this, &TJexExceptionLog::DoException);
    FPreviousHandler = Application->OnException();
    Application->SetOnException(mine);
    TExceptionChain::Join(mine, &FPreviousHandler);
    FHookedApplication = Application;
    LiveLoggers().push_back(this);
    if (FaultHandlingEnabled())
        TJexFatalReport::Instance().Attach(this);
}

void TJexExceptionLog::Unhook() {
    std::vector<TJexExceptionLog*>& loggers = LiveLoggers();
    const auto self = std::find(loggers.begin(), loggers.end(), this);
    if (self == loggers.end())
        return;
    loggers.erase(self);
    TJexFatalReport::Instance().Detach(this, loggers.empty() ? nullptr : loggers.back());
    const TExceptionEvent mine(this, &TJexExceptionLog::DoException);
    // A component hooked after this one (a logger, an application event logger) called it
    // first; it now calls what this one called.
    TExceptionChain::Leave(mine);
    // The application that was hooked may be gone already (a logger without owner outliving it).
    if (Application != nullptr && Application == FHookedApplication &&
        Application->OnException() == mine)
        Application->SetOnException(FPreviousHandler);
    FPreviousHandler.Clear();
    FHookedApplication = nullptr;
}

// ---- The class filter -----------------------------------------------------------------------

bool TJexExceptionLog::CanLogException(const Exception* E) const {
    if (E == nullptr)
        return true;
    for (const TFilterRule& rule : FilterRules) {
        if (!rule.Matches(E))
            continue;
        switch (rule.Group) {
        case fgStandard:
            return FFilterStandard.Contains(static_cast<TJexExceptionStandard>(rule.Member));
        case fgClasses:
            return FFilterClasses.Contains(static_cast<TJexExceptionClass>(rule.Member));
        case fgGraphics:
            return FFilterGraphics.Contains(static_cast<TJexExceptionGraphic>(rule.Member));
        }
    }
    return true;
}

// ---- Delivery from the dialog ---------------------------------------------------------------

void TJexExceptionLog::ActiveWeb(TObject*) {
    SendLogByWWW();
}

void TJexExceptionLog::ActivateMail(TObject*, bool AIncludeScreenshot) {
    // The dialog's choice holds for this one mail only.
    class TRestoreScreenshot {
    public:
        explicit TRestoreScreenshot(TJexLSendTo* ASendTo)
            : FSendTo(ASendTo)
            , FSaved(ASendTo->AttachScreenShot()) {}

        ~TRestoreScreenshot() { FSendTo->SetAttachScreenShot(FSaved); }

        TRestoreScreenshot(const TRestoreScreenshot&) = delete;
        TRestoreScreenshot& operator=(const TRestoreScreenshot&) = delete;

    private:
        TJexLSendTo* FSendTo;
        bool FSaved;
    };

    TRestoreScreenshot restore(SendTo());
    SendTo()->SetAttachScreenShot(AIncludeScreenshot);
    SendLogByMail();
}

// ---- Published members ----------------------------------------------------------------------

namespace {

const TTypeInfo& ErrorDialogType() {
    return EnumType<TJexLErrorDialog>("TJexLErrorDialog", {"edNone", "edStandard", "edExtended"});
}

const TTypeInfo& ExceptionStandardsType() {
    static const TTypeInfo& member = EnumType<TJexExceptionStandard>(
        "TJexExceptionStandard",
        {"efAbort",          "efOutOfMemory",   "efInOutError",        "efIntError",
         "efDivByZero",      "efRangeError",    "efIntOverflow",       "efMathError",
         "efInvalidOp",      "efZeroDivide",    "efOverflow",          "efUnderflow",
         "efInvalidPointer", "efInvalidCast",   "efConvertError",      "efAccessViolation",
         "efPrivilege",      "efStackOverflow", "efControlC",          "efVariantError",
         "efPropReadOnly",   "efPropWriteOnly", "efExternalException", "efAssertionFailed",
         "efAbstractError",  "efIntfCastError", "efInvalidContainer",  "efInvalidInsert",
         "efPackageError",   "efWin32Error"});
    return SetType<TJexExceptionStandard>("TJexExceptionStandards", member);
}

const TTypeInfo& ExceptionClassesType() {
    static const TTypeInfo& member = EnumType<TJexExceptionClass>(
        "TJexExceptionClass",
        {"efStreamError", "efFCreateError", "efFOpenError", "efFilerError", "efReadError",
         "efWriteError", "efClassNotFound", "efMethodNotFound", "efInvalidImage", "efResNotFound",
         "efListError", "efBitsError", "efStringListError", "efComponentError", "efParserError",
         "efOutOfResources", "efInvalidOperation", "efThread"});
    return SetType<TJexExceptionClass>("TJexExceptionClasses", member);
}

const TTypeInfo& ExceptionGraphicsType() {
    static const TTypeInfo& member = EnumType<TJexExceptionGraphic>(
        "TJexExceptionGraphic", {"efInvalidGraphic", "efInvalidGraphicOperation"});
    return SetType<TJexExceptionGraphic>("TJexExceptionGraphics", member);
}

const TTypeInfo& FormatsType() {
    static const TTypeInfo& member = EnumType<TJexLFormat>(
        "TJexLFormat",
        {"lfDate", "lfTime", "lfPhysAddress", "lfExceptionClassName", "lfMessage", "lfSeparator",
         "lfSourceLine", "lfApplication", "lfActiveControl", "lfComputerInfo", "lfOSInfo",
         "lfMemoryInfo", "lfCallStack", "lfSignature"});
    return SetType<TJexLFormat>("TJexLFormats", member);
}

const TTypeInfo& OptionsType() {
    static const TTypeInfo& member = EnumType<TJexLAOption>(
        "TJexLAOption", {"laShowSendEMail", "laShowSupportLink", "laShowSourceLine"});
    return SetType<TJexLAOption>("TJexLAOptions", member);
}

} // namespace

const TClassInfo& TJexExceptionLog::StaticClassInfo() {
    using T = TJexExceptionLog;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexExceptionLog", &TJexLogBase::StaticClassInfo())
            .Component()
            .Enum("ErrorDialog", &T::ErrorDialog, &T::SetErrorDialog, ErrorDialogType(), edExtended)
            .Set("FilterStandard", &T::FilterStandard, &T::SetFilterStandard,
                 ExceptionStandardsType(), DefaultFilterStandard)
            .Set("FilterClasses", &T::FilterClasses, &T::SetFilterClasses, ExceptionClassesType(),
                 DefaultFilterClasses)
            .Set("FilterGraphics", &T::FilterGraphics, &T::SetFilterGraphics,
                 ExceptionGraphicsType(), DefaultFilterGraphics)
            .Set("Formats", &T::Formats, &T::SetFormats, FormatsType(), DefaultFormats)
            .Set("Options", &T::Options, &T::SetOptions, OptionsType(), DefaultOptions)
            .String("Collector", &T::Collector, &T::SetCollector)
            .Event("OnException", &T::OnException, &T::SetOnException)
            .Event("OnSaveException", &T::OnSaveException, &T::SetOnSaveException)
            .Build();
    return info;
}

} // namespace jex
