// exceptions/LogDlg.h - the extended error dialog TfrmJexLogErrorDialog.
//
// The form is read from its stored text form, embedded in the library and registered under the
// class name when the unit initialises. It knows nothing of logging: its mail and web buttons
// fire two callbacks that the exception logger fills with its delivery operations.
#pragma once

#include "host/forms/ExtCtrls.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"

#include <string_view>

namespace jex {

/// (Sender, IncludeScreenshot): the mail button was pressed.
using TJexOnActivateMail = host::TEvent<void(host::TObject*, bool)>;

class TfrmJexLogErrorDialog : public host::TForm {
    JEX_CLASS(TfrmJexLogErrorDialog)

public:
    /// Creates the form from its stored text form (the unit must be initialised, which loading
    /// the package does). Raises EResNotFound when a control of the stored form is missing.
    explicit TfrmJexLogErrorDialog(host::TComponent* AOwner);

    /// Loads the stored form and binds the control fields to the controls read from it.
    void AfterConstruction() override;

    host::TImage* imgError = nullptr;
    host::TMemo* lblErrorText = nullptr;
    host::TButton* btnClose = nullptr;
    host::TButton* btnEmail = nullptr;
    host::TCheckBox* cbAttachScreenshot = nullptr;
    host::TButton* btnGoWEB = nullptr;

    /// Calls OnActivateWeb with the button as Sender.
    void btnGoWEBClick(host::TObject* ASender);
    /// Calls OnActivateMail with the button as Sender; a screenshot is asked for only when the
    /// check box is ticked and visible.
    void btnEmailClick(host::TObject* ASender);

    const host::TNotifyEvent& OnActivateWeb() const { return FOnActivateWeb; }

    void SetOnActivateWeb(const host::TNotifyEvent& AValue) { FOnActivateWeb = AValue; }

    const TJexOnActivateMail& OnActivateMail() const { return FOnActivateMail; }

    void SetOnActivateMail(const TJexOnActivateMail& AValue) { FOnActivateMail = AValue; }

private:
    host::TNotifyEvent FOnActivateWeb;
    TJexOnActivateMail FOnActivateMail;
};

/// The dialog's stored text form, as the library carries it.
std::string_view ErrorDialogFormResource();

/// Initialisation and finalisation of the unit: registers the form class with the class
/// registry and its stored form as resource (nested calls only count).
void LogDlgInitialization();
void LogDlgFinalization();

} // namespace jex
