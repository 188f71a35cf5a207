// exceptions/LogDlg.cpp - the extended error dialog: its stored form, its buttons and the unit's
// registration.
#include "exceptions/LogDlg.h"

namespace jex {

using namespace host;

namespace {

// The form's resource. The check box lies just below the stored client area: it is reachable
// only once the logger grows the form for it.
constexpr std::string_view FormResource = R"(object frmJexLogErrorDialog: TfrmJexLogErrorDialog
  Left = 200
  Top = 108
  BorderStyle = bsDialog
  ClientHeight = 110
  ClientWidth = 394
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  OldCreateOrder = False
  Position = poScreenCenter
  PixelsPerInch = 96
  TextHeight = 13
  object imgError: TImage
    Left = 10
    Top = 10
    Width = 32
    Height = 32
    Center = True
  end
  object lblErrorText: TMemo
    Left = 56
    Top = 10
    Width = 329
    Height = 57
    ParentColor = True
    TabOrder = 1
    BorderStyle = bsNone
    ReadOnly = True
    ScrollBars = ssVertical
  end
  object btnClose: TButton
    Left = 312
    Top = 80
    Width = 75
    Height = 25
    TabOrder = 0
    Caption = '&Close'
    Cancel = True
    Default = True
    ModalResult = 1
  end
  object btnEmail: TButton
    Left = 8
    Top = 80
    Width = 125
    Height = 25
    Visible = False
    TabOrder = 3
    OnClick = btnEmailClick
  end
  object cbAttachScreenshot: TCheckBox
    Left = 8
    Top = 110
    Width = 250
    Height = 17
    Visible = False
    TabOrder = 2
  end
  object btnGoWEB: TButton
    Left = 138
    Top = 80
    Width = 125
    Height = 25
    Visible = False
    TabOrder = 4
    OnClick = btnGoWEBClick
  end
end
)";

int& LogDlgInitCount() {
    static int count = 0;
    return count;
}

// The control of the stored form called AName, as class C.
template <typename C>
C* Bind(TComponent* AForm, const char* AName) {
    auto* control = dynamic_cast<C*>(AForm->FindComponent(AName));
    if (control == nullptr)
        throw EResNotFound(std::string("Resource ") + AName + " not found");
    return control;
}

} // namespace

std::string_view ErrorDialogFormResource() {
    return FormResource;
}

void LogDlgInitialization() {
    if (LogDlgInitCount()-- == 0) {
        // The stored form creates its controls by class name.
        RegisterFormClasses();
        RegisterClass(TfrmJexLogErrorDialog::StaticClassInfo());
        RegisterFormResource("TfrmJexLogErrorDialog", FormResource);
    }
}

void LogDlgFinalization() {
    ++LogDlgInitCount();
}

TfrmJexLogErrorDialog::TfrmJexLogErrorDialog(TComponent* AOwner)
    : TForm(AOwner) {}

void TfrmJexLogErrorDialog::AfterConstruction() {
    TForm::AfterConstruction();
    imgError = Bind<TImage>(this, "imgError");
    lblErrorText = Bind<TMemo>(this, "lblErrorText");
    btnClose = Bind<TButton>(this, "btnClose");
    btnEmail = Bind<TButton>(this, "btnEmail");
    cbAttachScreenshot = Bind<TCheckBox>(this, "cbAttachScreenshot");
    btnGoWEB = Bind<TButton>(this, "btnGoWEB");
}

void TfrmJexLogErrorDialog::btnGoWEBClick(TObject* ASender) {
    if (FOnActivateWeb.Assigned())
        FOnActivateWeb(ASender);
}

void TfrmJexLogErrorDialog::btnEmailClick(TObject* ASender) {
    if (FOnActivateMail.Assigned())
        FOnActivateMail(ASender, cbAttachScreenshot->Checked() && cbAttachScreenshot->Visible());
}

const TClassInfo& TfrmJexLogErrorDialog::StaticClassInfo() {
    using T = TfrmJexLogErrorDialog;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TfrmJexLogErrorDialog", &TForm::StaticClassInfo())
            .Component()
            .Method("btnEmailClick", &T::btnEmailClick)
            .Method("btnGoWEBClick", &T::btnGoWEBClick)
            .Build();
    return info;
}

} // namespace jex
