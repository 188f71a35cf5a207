// host/forms/Dialogs.h - message dialogs.
//
// MessageDlg hands a prepared request to the widgetset, which asks the user (or, under the
// headless widgetset, prints it to standard error and answers with the default button).
#pragma once

#include "host/forms/Controls.h"

#include <cstdint>
#include <string>

namespace host {

enum TMsgDlgType : std::uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn : std::uint8_t {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};

using TMsgDlgButtons = TSet<TMsgDlgBtn>;

inline constexpr TMsgDlgButtons mbYesNoCancel{mbYes, mbNo, mbCancel};
inline constexpr TMsgDlgButtons mbOKCancel{mbOK, mbCancel};
inline constexpr TMsgDlgButtons mbAbortRetryIgnore{mbAbort, mbRetry, mbIgnore};

/// Everything a widgetset needs to show a message box.
struct TMessageDlgRequest {
    std::string Caption;
    std::string Text;
    TMsgDlgType DlgType = mtInformation;
    TMsgDlgButtons Buttons;
    TModalResult DefaultResult = mrOk; ///< the button Enter presses
    TModalResult CancelResult = mrOk;  ///< the button Escape presses
};

/// The modal result a button stands for (mbHelp: mrNone).
TModalResult ButtonResult(TMsgDlgBtn AButton);

/// The caption of a dialog kind: "Warning", "Error", "Information", "Confirm"; mtCustom:
/// the application's title.
std::string DialogCaption(TMsgDlgType AType);

/// Builds the request as the framework's dialog does: default button OK, else Yes, else
/// Retry (else the first button); Escape answers Cancel, else No, else OK (else the default).
TMessageDlgRequest PrepareMessageDlg(const std::string& AMsg, TMsgDlgType AType,
                                     TMsgDlgButtons AButtons);

/// Shows a message box and returns the pressed button's result. Without an application the
/// text goes to standard error and the default button's result is returned.
TModalResult MessageDlg(const std::string& AMsg, TMsgDlgType AType, TMsgDlgButtons AButtons,
                        int AHelpCtx = 0);

/// A message box with an OK button, captioned with the application's title.
void ShowMessage(const std::string& AMsg);

/// Sound kinds of MessageBeep.
inline constexpr std::uint32_t MB_OK = 0x00;
inline constexpr std::uint32_t MB_ICONHAND = 0x10; ///< the system's error sound
inline constexpr std::uint32_t MB_ICONERROR = MB_ICONHAND;

/// Sounds the system sound ASound through the widgetset; without an application, the platform
/// screen's beep.
void MessageBeep(std::uint32_t ASound);

} // namespace host
