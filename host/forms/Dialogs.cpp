// host/forms/Dialogs.cpp - message dialog requests and their results.
#include "host/forms/Dialogs.h"

#include "host/forms/Forms.h"
#include "host/ws/WidgetSet.h"
#include "platform/PlatformServices.h"
#include "platform/Screen.h"

#include <cstdio>

namespace host {

TModalResult ButtonResult(TMsgDlgBtn AButton) {
    switch (AButton) {
    case mbYes:
        return mrYes;
    case mbNo:
        return mrNo;
    case mbOK:
        return mrOk;
    case mbCancel:
        return mrCancel;
    case mbAbort:
        return mrAbort;
    case mbRetry:
        return mrRetry;
    case mbIgnore:
        return mrIgnore;
    case mbAll:
        return mrAll;
    case mbNoToAll:
        return mrNoToAll;
    case mbYesToAll:
        return mrYesToAll;
    case mbHelp:
        return mrNone;
    }
    return mrNone;
}

std::string DialogCaption(TMsgDlgType AType) {
    switch (AType) {
    case mtWarning:
        return "Warning";
    case mtError:
        return "Error";
    case mtInformation:
        return "Information";
    case mtConfirmation:
        return "Confirm";
    case mtCustom:
        break;
    }
    return Application != nullptr ? Application->Title() : std::string();
}

TMessageDlgRequest PrepareMessageDlg(const std::string& AMsg, TMsgDlgType AType,
                                     TMsgDlgButtons AButtons) {
    TMessageDlgRequest request;
    request.Caption = DialogCaption(AType);
    request.Text = AMsg;
    request.DlgType = AType;
    request.Buttons = AButtons.Empty() ? TMsgDlgButtons{mbOK} : AButtons;
    TMsgDlgBtn first = mbOK;
    for (int b = mbYes; b <= mbHelp; ++b)
        if (request.Buttons.Contains(static_cast<TMsgDlgBtn>(b))) {
            first = static_cast<TMsgDlgBtn>(b);
            break;
        }
    auto has = [&](TMsgDlgBtn AButton) { return request.Buttons.Contains(AButton); };
    request.DefaultResult = has(mbOK)      ? mrOk
                            : has(mbYes)   ? mrYes
                            : has(mbRetry) ? mrRetry
                                           : ButtonResult(first);
    request.CancelResult = has(mbCancel) ? mrCancel
                           : has(mbNo)   ? mrNo
                           : has(mbOK)   ? mrOk
                                         : request.DefaultResult;
    return request;
}

TModalResult MessageDlg(const std::string& AMsg, TMsgDlgType AType, TMsgDlgButtons AButtons, int) {
    const TMessageDlgRequest request = PrepareMessageDlg(AMsg, AType, AButtons);
    if (TWidgetSet* ws = CurrentWidgetSet())
        return ws->MessageDlg(request);
    std::fprintf(stderr, "%s: %s\n", request.Caption.c_str(), request.Text.c_str());
    return request.DefaultResult;
}

void ShowMessage(const std::string& AMsg) {
    TMessageDlgRequest request = PrepareMessageDlg(AMsg, mtCustom, {mbOK});
    if (TWidgetSet* ws = CurrentWidgetSet())
        ws->MessageDlg(request);
    else
        std::fprintf(stderr, "%s\n", AMsg.c_str());
}

void MessageBeep(std::uint32_t ASound) {
    if (TWidgetSet* ws = CurrentWidgetSet())
        ws->MessageBeep(ASound);
    else
        platform::PlatformServices().Screen->Beep();
}

} // namespace host
