// host/widgetsets/headless/HeadlessWidgetSet.h - the widgetset for tests and programs
// without a display.
//
// It keeps the state of every handle, records what a person would have seen (forms shown
// modally, message boxes, beeps, screen copies) in a log that tests read, answers modal forms
// through a registered responder (none: the form closes at once with mrCancel) and message
// boxes through a dialog responder (none: the default button), prints message boxes to
// standard error, and runs timers on a virtual clock that tests advance.
#pragma once

#include "host/ws/WidgetSet.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace host {

class THeadlessWidgetSet : public TWidgetSet {
public:
    /// Sees the prepared, shown modal form; may click its buttons, tick boxes, type text or
    /// press keys (see the input helpers below). It must leave a modal result set.
    using TModalResponder = TEvent<void(TCustomForm*)>;
    /// Answers a message box with a modal result.
    using TDialogResponder = TEvent<TModalResult(const TMessageDlgRequest&)>;

    /// What the widgetset knows of one handle.
    struct THandleState {
        std::string ClassName;
        std::string Name;
        std::string Text;
        int Left = 0;
        int Top = 0;
        int Width = 0;
        int Height = 0;
        bool Visible = false;
        bool Enabled = true;
        int Invalidations = 0;
    };

    THeadlessWidgetSet();
    ~THeadlessWidgetSet() override;

    std::string Name() const override { return "headless"; }

    std::unique_ptr<TWSHandle> CreateHandle(TWinControl* AControl) override;
    /// Asks the responder, handles what it posted, and ends the modal run. Raises
    /// EInvalidOperation when a responder leaves the form open or the form refuses to close.
    TModalResult ShowModal(TCustomForm* AForm) override;
    TModalResult MessageDlg(const TMessageDlgRequest& ARequest) override;
    void Beep() override;
    void MessageBeep(std::uint32_t ASound) override;
    TSize ScreenSize() override;
    bool CaptureScreen(TBitmap& ABitmap) override;
    THandle CreateTimer(int AIntervalMs, const TTimerProc& AProc) override;
    void DestroyTimer(THandle ATimer) override;

    void SetModalResponder(const TModalResponder& AResponder) { FModalResponder = AResponder; }

    void SetDialogResponder(const TDialogResponder& AResponder) { FDialogResponder = AResponder; }

    /// Lines like "ShowModal TfrmX frmX", "MessageDlg mtError [mbOK] <caption>: <text>",
    /// "Beep", "MessageBeep 16", "CaptureScreen 0x0".
    const std::vector<std::string>& Log() const { return FLog; }

    void ClearLog() { FLog.clear(); }

    /// The state of AControl's handle; nullptr when it has none.
    const THandleState* HandleState(const TWinControl* AControl) const;

    int HandleCount() const { return static_cast<int>(FHandles.size()); }

    /// The virtual clock in milliseconds; AdvanceClock fires the timers that fall due, in
    /// order, on the calling (main) thread.
    std::int64_t Clock() const { return FClock; }

    void AdvanceClock(std::int64_t AMilliseconds);

    int TimerCount() const { return static_cast<int>(FTimers.size()); }

    // ---- input as a person gives it (through the controls' window procedures, so an
    // exception goes to the application's handler) -----------------------------------------

    static void Click(TControl* AControl);
    static void PressKey(TWinControl* AControl, std::uint16_t AKey, TShiftState AShift = {});
    static void TypeText(TWinControl* AControl, const std::string& AText);

private:
    class THandle_;
    friend class THandle_;

    struct TTimer_ {
        int Interval = 0;
        std::int64_t Due = 0;
        TTimerProc Proc;
    };

    std::vector<std::string> FLog;
    std::map<const TWinControl*, THandleState> FHandles;
    std::map<THandle, TTimer_> FTimers;
    THandle FNextTimer = 1;
    std::int64_t FClock = 0;
    TModalResponder FModalResponder;
    TDialogResponder FDialogResponder;
};

} // namespace host
