// host/widgetsets/headless/HeadlessWidgetSet.cpp - handles as records, modal calls answered
// by responders, message boxes on standard error, timers on a virtual clock.
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include "host/forms/Forms.h"

#include <cstdio>

namespace host {

namespace {

std::string TypeName(TMsgDlgType AType) {
    switch (AType) {
    case mtWarning:
        return "mtWarning";
    case mtError:
        return "mtError";
    case mtInformation:
        return "mtInformation";
    case mtConfirmation:
        return "mtConfirmation";
    case mtCustom:
        return "mtCustom";
    }
    return "?";
}

std::string ButtonNames(TMsgDlgButtons AButtons) {
    static const char* const names[] = {"mbYes",     "mbNo",       "mbOK",     "mbCancel",
                                        "mbAbort",   "mbRetry",    "mbIgnore", "mbAll",
                                        "mbNoToAll", "mbYesToAll", "mbHelp"};
    std::string text = "[";
    for (int b = mbYes; b <= mbHelp; ++b)
        if (AButtons.Contains(static_cast<TMsgDlgBtn>(b))) {
            if (text.size() > 1)
                text += ", ";
            text += names[b];
        }
    return text + "]";
}

} // namespace

class THeadlessWidgetSet::THandle_ : public TWSHandle {
public:
    THandle_(THeadlessWidgetSet& AOwner, const TWinControl* AControl)
        : FOwner(AOwner)
        , FControl(AControl) {}

    ~THandle_() override { FOwner.FHandles.erase(FControl); }

    void SetText(const std::string& AText) override { State().Text = AText; }

    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override {
        THandleState& s = State();
        s.Left = ALeft;
        s.Top = ATop;
        s.Width = AWidth;
        s.Height = AHeight;
    }

    void SetVisible(bool AVisible) override { State().Visible = AVisible; }

    void SetEnabled(bool AEnabled) override { State().Enabled = AEnabled; }

    void Invalidate() override { ++State().Invalidations; }

private:
    THandleState& State() { return FOwner.FHandles[FControl]; }

    THeadlessWidgetSet& FOwner;
    const TWinControl* FControl;
};

THeadlessWidgetSet::THeadlessWidgetSet() = default;

THeadlessWidgetSet::~THeadlessWidgetSet() = default;

std::unique_ptr<TWSHandle> THeadlessWidgetSet::CreateHandle(TWinControl* AControl) {
    THandleState& s = FHandles[AControl];
    s.ClassName = AControl->ClassName();
    s.Name = AControl->Name();
    s.Text = AControl->Text();
    s.Left = AControl->Left();
    s.Top = AControl->Top();
    s.Width = AControl->Width();
    s.Height = AControl->Height();
    s.Visible = AControl->Visible();
    s.Enabled = AControl->Enabled();
    return std::make_unique<THandle_>(*this, AControl);
}

const THeadlessWidgetSet::THandleState*
THeadlessWidgetSet::HandleState(const TWinControl* AControl) const {
    const auto it = FHandles.find(AControl);
    return it != FHandles.end() ? &it->second : nullptr;
}

TModalResult THeadlessWidgetSet::ShowModal(TCustomForm* AForm) {
    FLog.push_back("ShowModal " + AForm->ClassName() + " " + AForm->Name());
    if (!FModalResponder.Assigned()) {
        AForm->Close(); // a modal form closes with mrCancel
    } else {
        FModalResponder(AForm);
        if (Application != nullptr)
            Application->ProcessMessages();
        if (AForm->ModalResult() == mrNone)
            throw EInvalidOperation("The modal responder left form " + AForm->ClassName() +
                                    " open");
    }
    if (!AForm->CloseModal())
        throw EInvalidOperation("Form " + AForm->ClassName() + " refused to close");
    return AForm->ModalResult();
}

TModalResult THeadlessWidgetSet::MessageDlg(const TMessageDlgRequest& ARequest) {
    FLog.push_back("MessageDlg " + TypeName(ARequest.DlgType) + " " +
                   ButtonNames(ARequest.Buttons) + " " + ARequest.Caption + ": " + ARequest.Text);
    std::fprintf(stderr, "%s: %s\n", ARequest.Caption.c_str(), ARequest.Text.c_str());
    std::fflush(stderr);
    if (FDialogResponder.Assigned())
        return FDialogResponder(ARequest);
    return ARequest.DefaultResult;
}

void THeadlessWidgetSet::Beep() {
    FLog.push_back("Beep");
}

void THeadlessWidgetSet::MessageBeep(std::uint32_t ASound) {
    FLog.push_back("MessageBeep " + std::to_string(ASound));
}

TSize THeadlessWidgetSet::ScreenSize() {
    return TWidgetSet::ScreenSize();
}

bool THeadlessWidgetSet::CaptureScreen(TBitmap& ABitmap) {
    const bool captured = TWidgetSet::CaptureScreen(ABitmap);
    FLog.push_back("CaptureScreen " + std::to_string(ABitmap.Width()) + "x" +
                   std::to_string(ABitmap.Height()));
    return captured;
}

THandle THeadlessWidgetSet::CreateTimer(int AIntervalMs, const TTimerProc& AProc) {
    const THandle id = FNextTimer++;
    const int interval = AIntervalMs > 0 ? AIntervalMs : 1;
    FTimers[id] = TTimer_{interval, FClock + interval, AProc};
    return id;
}

void THeadlessWidgetSet::DestroyTimer(THandle ATimer) {
    FTimers.erase(ATimer);
}

void THeadlessWidgetSet::AdvanceClock(std::int64_t AMilliseconds) {
    const std::int64_t target = FClock + (AMilliseconds > 0 ? AMilliseconds : 0);
    for (;;) {
        // The earliest due timer; ties go to the one created first.
        THandle next = 0;
        std::int64_t due = target + 1;
        for (const auto& [id, timer] : FTimers)
            if (timer.Due < due) {
                due = timer.Due;
                next = id;
            }
        if (next == 0)
            break;
        FClock = due;
        TTimer_& timer = FTimers[next];
        timer.Due += timer.Interval;
        const TTimerProc proc = timer.Proc; // the call may destroy the timer
        proc();
    }
    FClock = target;
}

void THeadlessWidgetSet::Click(TControl* AControl) {
    TMessage message{BM_CLICK, 0, 0, 0};
    if (auto* win = dynamic_cast<TWinControl*>(AControl))
        win->MainWndProc(message);
    else
        AControl->WndProc(message);
}

void THeadlessWidgetSet::PressKey(TWinControl* AControl, std::uint16_t AKey, TShiftState AShift) {
    TMessage message{WM_KEYDOWN, AKey, static_cast<std::intptr_t>(AShift.Bits()), 0};
    AControl->MainWndProc(message);
}

void THeadlessWidgetSet::TypeText(TWinControl* AControl, const std::string& AText) {
    for (const char c : AText) {
        TMessage message{WM_CHAR, static_cast<unsigned char>(c), 0, 0};
        AControl->MainWndProc(message);
    }
}

} // namespace host
