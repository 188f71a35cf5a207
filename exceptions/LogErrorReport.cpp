// exceptions/LogErrorReport.cpp - TJexExceptionLog's handler: the handling of one exception,
// the composition of its report and the error dialog it shows.
//
// The handler must never leave its busy mark set nor lose the dialog: whatever fails on the way
// (a developer's event, the map, the log file) is contained and the handling goes on.
#include "exceptions/CrashSignature.h"
#include "exceptions/LogDlg.h"
#include "exceptions/LogError.h"
#include "exceptions/ReportCollector.h"
#include "logging/LogCnst.h"
#include "mapfile/Jexmapfile.h"

#include <ctime>
#include <exception>
#include <memory>

namespace jex {

using namespace host;

namespace {

// Clears the busy mark on every way out of the handler.
class TBusyMark {
public:
    explicit TBusyMark(bool& AFlag)
        : FFlag(AFlag) {
        FFlag = true;
    }

    ~TBusyMark() { FFlag = false; }

    TBusyMark(const TBusyMark&) = delete;
    TBusyMark& operator=(const TBusyMark&) = delete;

private:
    bool& FFlag;
};

// Length of the description buffer the report fills (the framework's message buffer).
constexpr int DescriptionSize = 1024;

} // namespace

void TJexExceptionLog::DoException(TObject* ASender, Exception* E) {
    if (FBusy) {
        // Raised while an earlier exception is handled (e.g. from a message processed while
        // the dialog is open): shown plainly, the outer handling goes on.
        if (Application != nullptr)
            Application->ShowException(E);
        return;
    }
    TBusyMark busy(FBusy);
    // The first failure of a step the handling does not depend on; shown once the exception
    // itself has been dealt with, so neither is lost.
    std::exception_ptr deferred;
    const auto guarded = [&deferred](auto&& AStep) {
        try {
            AStep();
        } catch (...) {
            if (!deferred)
                deferred = std::current_exception();
        }
    };

    if (FPreviousHandler.Assigned())
        guarded([&] { FPreviousHandler(ASender, E); });
    if (FOnException.Assigned())
        guarded([&] { FOnException(ASender, E); });

    if (!Active() || !CanLogException(E)) {
        if (Application != nullptr)
            Application->ShowException(E);
    } else {
        // The signature and the collector's fields name the unit and procedure too.
        if (FOptions.Contains(laShowSourceLine) || FFormats.Contains(lfSourceLine) ||
            FFormats.Contains(lfSignature) || FReportCollector != nullptr)
            LoadSourcePosition();
        if (!LogFile().empty()) {
            std::string report = BuildReport(E);
            bool accept = true;
            if (FOnSaveException.Assigned())
                guarded([&] { FOnSaveException(ASender, E, report, accept); });
            if (accept)
                guarded([&] {
                    WriteAsString(report);
                    QueueForCollector(E, std::move(report));
                });
        }
        switch (FErrorDialog) {
        case edNone:
            break;
        case edStandard:
            if (Application != nullptr)
                Application->ShowException(E);
            break;
        case edExtended:
            ShowErrorDialog(E);
            break;
        }
    }

    if (deferred && Application != nullptr) {
        try {
            std::rethrow_exception(deferred);
        } catch (...) {
            if (Exception* failure = ExceptObject())
                Application->ShowException(failure);
        }
    }
}

void TJexExceptionLog::LoadSourcePosition() {
    FSourceUnreadable = false;
    try {
        FMapFile->LoadExceptionData(nullptr);
    } catch (...) {
        // A map that exists but cannot be read tells as much as a missing one.
        FSourceUnreadable = true;
    }
}

std::string TJexExceptionLog::BuildReport(Exception* E) const {
    std::string report;
    if (FFormats.Contains(lfDate))
        report += FormatDateTime("c", Date()) + " ";
    if (FFormats.Contains(lfTime))
        report += FormatDateTime("tt", Time()) + " ";
    if (FFormats.Contains(lfPhysAddress))
        report += Format("Phys.addr: %p", {static_cast<const void*>(ExceptAddr())}) + " ";
    if (FFormats.Contains(lfExceptionClassName))
        report += Format("\r\nClassname: %s", {E != nullptr ? E->ClassName() : std::string()});
    if (FFormats.Contains(lfMessage)) {
        char description[DescriptionSize + 1] = {};
        ExceptionErrorMessage(ExceptObject(), ExceptAddr(), description, DescriptionSize);
        report += Format("\r\nMessage: %s", {std::string(description)});
    }
    if (FFormats.Contains(lfSourceLine))
        report += GetFormattedSource();
    if (FFormats.Contains(lfApplication))
        report += GetApplicationDetails();
    if (FFormats.Contains(lfActiveControl))
        report += GetActiveControlDetails();
    if (FFormats.Contains(lfComputerInfo))
        report += GetComputerInfo();
    if (FFormats.Contains(lfOSInfo))
        report += GetOSInfo();
    if (FFormats.Contains(lfMemoryInfo))
        report += GetMemoryInfo();
    if (FFormats.Contains(lfCallStack))
        report += GetCallStack();
    if (FFormats.Contains(lfSignature))
        report += GetSignature(E);
    if (FFormats.Contains(lfSeparator))
        report += SectionSeparator;
    report += "?";
    return report;
}

std::string TJexExceptionLog::GetSignature(const Exception* E) const {
    const bool known = FMapFile->DataLoaded() && !FSourceUnreadable;
    const TCrashSignature signature = CrashSignature(
        E != nullptr ? E->ClassName() : std::string(), known ? FMapFile->UnitName() : std::string(),
        known ? FMapFile->ProcedureName() : std::string());
    return "\r\nSignature: " + std::string(SignatureText(signature));
}

void TJexExceptionLog::QueueForCollector(const Exception* E, std::string&& AReport) noexcept {
    if (FReportCollector == nullptr)
        return;
    // A report that cannot be queued is still in the log; the collector tells on standard
    // error, and nothing reaches the dialog.
    try {
        // Only copies of the fields here; the worker composes the entry.
        TJexReportData data;
        data.Report = std::move(AReport);
        data.Program = FProgramName;
        data.Title = Application != nullptr ? Application->Title() : std::string();
        data.ClassName = E != nullptr ? E->ClassName() : std::string();
        if (FMapFile->DataLoaded() && !FSourceUnreadable) {
            data.Unit = FMapFile->UnitName();
            data.Procedure = FMapFile->ProcedureName();
            data.Line = FMapFile->LineNumber();
        }
        data.Address = reinterpret_cast<std::uintptr_t>(ExceptAddr());

        struct timespec now {};

        clock_gettime(CLOCK_REALTIME, &now);
        data.Realtime = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
        FReportCollector->Queue(std::move(data));
    } catch (...) {
    }
}

void TJexExceptionLog::ShowErrorDialog(Exception* E) {
    // Owned by this logger, and gone however the modal run ends.
    std::unique_ptr<TfrmJexLogErrorDialog> dialog(Create<TfrmJexLogErrorDialog>(this));

    TIcon icon;
    if (TWidgetSet* ws = CurrentWidgetSet())
        ws->LoadErrorIcon(icon);
    else
        icon.LoadStandardErrorIcon();
    dialog->SetIcon(&icon);
    dialog->imgError->Picture()->Assign(&icon);

    dialog->SetCaption("Error");
    dialog->btnClose->SetCaption("&Close");
    dialog->SetOnActivateWeb(TNotifyEvent(this, &TJexExceptionLog::ActiveWeb));
    dialog->SetOnActivateMail(TJexOnActivateMail(this, &TJexExceptionLog::ActivateMail));

    const TJexLDialogOptions delivery = SendTo()->Options();
    if (FOptions.Contains(laShowSendEMail)) {
        dialog->btnEmail->SetCaption("Email to author");
        dialog->btnEmail->SetVisible(delivery.Contains(doEmail));
        if (delivery.Contains(doScreenshot)) {
            dialog->cbAttachScreenshot->SetCaption("to attach screenshot");
            dialog->cbAttachScreenshot->SetVisible(true);
            dialog->SetClientHeight(dialog->ClientHeight() + dialog->cbAttachScreenshot->Height() +
                                    5);
        }
    }
    if (delivery.Contains(doWeb) && FOptions.Contains(laShowSupportLink)) {
        dialog->btnGoWEB->SetCaption("Support homepage");
        dialog->btnGoWEB->SetVisible(true);
        if (!FOptions.Contains(laShowSendEMail))
            dialog->btnGoWEB->SetLeft(dialog->btnEmail->Left());
    }

    std::string message = E != nullptr ? E->Message() : std::string();
    if (FOptions.Contains(laShowSourceLine))
        message += GetFormattedSource();
    dialog->lblErrorText->SetText(message);

    dialog->ShowModal();
}

} // namespace jex
