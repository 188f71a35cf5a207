// host/forms/Forms.h - forms, the screen and the application with its message loop.
//
// TApplication owns the message queue (posting is thread-safe), runs the loop with idle
// processing, serves TThread::Synchronize calls, and is the top-level handler of exceptions:
// whatever escapes a message handler, an idle handler, a timer or an event reaches
// HandleException and never leaves Run. TScreen tracks the forms and where the focus is, and
// fires its two change events when the focus moves.
#pragma once

#include "host/forms/Controls.h"
#include "host/ws/WidgetSet.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace host {

enum TPosition : std::uint8_t {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};

enum TCloseAction : std::uint8_t { caNone, caHide, caFree, caMinimize };

using TCloseEvent = TEvent<void(TObject*, TCloseAction&)>;
using TCloseQueryEvent = TEvent<void(TObject*, bool&)>;
/// Help request: (Command, Data, var CallHelp) -> handled.
using THelpEvent = TEvent<bool(std::uint16_t, std::int32_t, bool&)>;

class TCustomForm : public TWinControl {
    JEX_CLASS(TCustomForm)

public:
    explicit TCustomForm(TComponent* AOwner);
    ~TCustomForm() override;

    /// Loads the form's stored text form (registered under its class name) when there is one,
    /// then fires OnCreate.
    void AfterConstruction() override;

    /// Gives the controls read from the stored form their place: controls still without a
    /// parent go onto the form, and the stored tab orders are applied.
    void Loaded() override;

    int PixelsPerInch() const { return FPixelsPerInch; }

    void SetPixelsPerInch(int AValue) { FPixelsPerInch = AValue > 0 ? AValue : 96; }

    int TextHeight() const { return FTextHeight; }

    void SetTextHeight(int AValue) { FTextHeight = AValue; }

    bool OldCreateOrder() const { return FOldCreateOrder; }

    void SetOldCreateOrder(bool AValue) { FOldCreateOrder = AValue; }

    TFormBorderStyle BorderStyle() const { return FBorderStyle; }

    void SetBorderStyle(TFormBorderStyle AValue) { FBorderStyle = AValue; }

    TPosition Position() const { return FPosition; }

    void SetPosition(TPosition AValue) { FPosition = AValue; }

    TIcon* Icon() const { return FIcon.get(); }

    void SetIcon(TIcon* AValue) { FIcon->Assign(AValue); }

    /// The control that has (or gets, when the form is activated) the focus inside the form.
    TWinControl* ActiveControl() const { return FActiveControl; }

    /// Raises EInvalidOperation when AControl is not on this form or cannot take the focus.
    void SetActiveControl(TWinControl* AControl);

    /// Shows the form and makes it the active form.
    void Show();
    /// Shows the form modally and returns its modal result; the form is hidden again
    /// afterwards. Raises EInvalidOperation "Cannot make a visible window modal" for a form
    /// that is already visible or modal, or disabled.
    virtual TModalResult ShowModal();

    bool Modal() const { return FModal; }

    TModalResult ModalResult() const { return FModalResult; }

    void SetModalResult(TModalResult AValue) { FModalResult = AValue; }

    /// Closes the form: a modal form gets mrCancel; otherwise, if OnCloseQuery agrees, OnClose
    /// decides (hide by default); closing the main form terminates the application.
    void Close();
    bool CloseQuery();
    /// Ends a modal run once ModalResult is set: false (and ModalResult reset) when
    /// OnCloseQuery or OnClose refuse.
    bool CloseModal();
    /// Destroys the form once the messages now pending are handled.
    void Release();

    /// Gives AControl the focus on this form (see TWinControl::SetFocus).
    void FocusControl(TWinControl* AControl);
    /// True while this form is the screen's active form.
    bool Active() const;

    /// The help topic of the form; F1 on the form asks the application for it (0: no topic).
    int HelpContext() const { return FHelpContext; }

    void SetHelpContext(int AValue) { FHelpContext = AValue; }

    /// Handles Enter (the focused or the default button), Escape (the cancel button), Tab
    /// (the next control) and F1 (help on HelpContext); true when the key was used.
    virtual bool DialogKey(std::uint16_t AKey, TShiftState AShift);

    void SetFocus() override;
    bool CanFocus() const override;
    void SetVisible(bool AValue) override;

    const TNotifyEvent& OnCreate() const { return FOnCreate; }

    void SetOnCreate(const TNotifyEvent& AValue) { FOnCreate = AValue; }

    const TNotifyEvent& OnActivate() const { return FOnActivate; }

    void SetOnActivate(const TNotifyEvent& AValue) { FOnActivate = AValue; }

    const TNotifyEvent& OnDeactivate() const { return FOnDeactivate; }

    void SetOnDeactivate(const TNotifyEvent& AValue) { FOnDeactivate = AValue; }

    const TNotifyEvent& OnShow() const { return FOnShow; }

    void SetOnShow(const TNotifyEvent& AValue) { FOnShow = AValue; }

    const TNotifyEvent& OnHide() const { return FOnHide; }

    void SetOnHide(const TNotifyEvent& AValue) { FOnHide = AValue; }

    const TCloseEvent& OnClose() const { return FOnClose; }

    void SetOnClose(const TCloseEvent& AValue) { FOnClose = AValue; }

    const TCloseQueryEvent& OnCloseQuery() const { return FOnCloseQuery; }

    void SetOnCloseQuery(const TCloseQueryEvent& AValue) { FOnCloseQuery = AValue; }

    const THelpEvent& OnHelp() const { return FOnHelp; }

    void SetOnHelp(const THelpEvent& AValue) { FOnHelp = AValue; }

    void WndProc(TMessage& AMessage) override;

protected:
    friend class TScreen;
    friend void ForgetControl(TControl* AControl);

    virtual void DoClose(TCloseAction& AAction);
    /// Moves the screen's focus to AControl on this form (or the form itself) with the
    /// framework's order of events.
    void SetFocusedControl(TWinControl* AControl);

private:
    void ActivateForm();
    void ControlRemoved(TControl* AGone);
    void PlaceOnScreen();

    TFormBorderStyle FBorderStyle = bsSizeable;
    int FPixelsPerInch = 96;
    int FTextHeight = 13;
    bool FOldCreateOrder = false;
    TPosition FPosition = poDesigned;
    std::unique_ptr<TIcon> FIcon;
    TWinControl* FActiveControl = nullptr;
    TWinControl* FFocusedControl = nullptr;
    TModalResult FModalResult = mrNone;
    int FHelpContext = 0;
    bool FModal = false;
    TNotifyEvent FOnCreate;
    TNotifyEvent FOnActivate;
    TNotifyEvent FOnDeactivate;
    TNotifyEvent FOnShow;
    TNotifyEvent FOnHide;
    TCloseEvent FOnClose;
    TCloseQueryEvent FOnCloseQuery;
    THelpEvent FOnHelp;
};

class TForm : public TCustomForm {
    JEX_CLASS(TForm)

public:
    using TCustomForm::TCustomForm;
};

class TScreen : public TComponent {
    JEX_CLASS(TScreen)

public:
    explicit TScreen(TComponent* AOwner);
    ~TScreen() override;

    /// The primary screen's size: the widgetset's answer (0 x 0 without a display).
    int Width() const;
    int Height() const;

    int CustomFormCount() const { return static_cast<int>(FCustomForms.size()); }

    TCustomForm* CustomForms(int AIndex) const;
    /// The forms that are TForm objects.
    int FormCount() const;
    TForm* Forms(int AIndex) const;

    /// The TForm that has the focus; nullptr when none has or the focused form is a
    /// TCustomForm that is not a TForm.
    TForm* ActiveForm() const { return FActiveForm; }

    TCustomForm* ActiveCustomForm() const { return FActiveCustomForm; }

    /// The control that has the focus (a form itself when none of its controls has it).
    TWinControl* ActiveControl() const { return FActiveControl; }

    const TNotifyEvent& OnActiveControlChange() const { return FOnActiveControlChange; }

    void SetOnActiveControlChange(const TNotifyEvent& AValue) { FOnActiveControlChange = AValue; }

    const TNotifyEvent& OnActiveFormChange() const { return FOnActiveFormChange; }

    void SetOnActiveFormChange(const TNotifyEvent& AValue) { FOnActiveFormChange = AValue; }

private:
    friend class TCustomForm;
    friend class TApplication;
    friend void ForgetControl(TControl* AControl);

    void AddForm(TCustomForm* AForm);
    void RemoveForm(TCustomForm* AForm);
    void FormHidden(TCustomForm* AForm);

    std::vector<TCustomForm*> FCustomForms; ///< most recently activated first
    TForm* FActiveForm = nullptr;
    TCustomForm* FActiveCustomForm = nullptr;
    TWinControl* FActiveControl = nullptr;
    std::uint64_t FFocusGeneration = 0;
    TNotifyEvent FOnActiveControlChange;
    TNotifyEvent FOnActiveFormChange;
};

/// What a hint window is about to show (the framework's THintInfo).
struct THintInfo {
    TControl* HintControl = nullptr;
    TPoint HintPos;
    int HintMaxWidth = 0;
    TColor HintColor = static_cast<TColor>(0x80000018u); // clInfoBk
    TRect CursorRect;
    TPoint CursorPos;
    int ReshowTimeout = 0;
    int HideTimeout = 0;
    std::string HintStr;
    void* HintData = nullptr;
};

using TExceptionEvent = TEvent<void(TObject*, Exception*)>;
using TIdleEvent = TEvent<void(TObject*, bool&)>;
using TMessageEvent = TEvent<void(TMsg&, bool&)>;
using TShowHintEvent = TEvent<void(std::string&, bool&, THintInfo&)>;
/// A main-window hook: sees each message of the application's window first; true ends its
/// handling.
using TWindowHook = TEvent<bool(TMessage&)>;

inline constexpr std::uint16_t HELP_CONTEXT = 0x0001;
inline constexpr std::uint16_t HELP_COMMAND = 0x0102;

class TApplication : public TComponent {
    JEX_CLASS(TApplication)

public:
    /// The application with the widgetset that shows its forms (must not be null).
    TApplication(TComponent* AOwner, std::unique_ptr<TWidgetSet> AWidgetSet);
    ~TApplication() override;

    TWidgetSet& WidgetSet() const { return *FWidgetSet; }

    /// The application's own (hidden) window; hooks see the messages sent or posted to it.
    THandle Handle() const { return FHandle; }

    /// Creates a form of class T owned by the application; the first one becomes MainForm.
    template <typename T>
    T* CreateForm() {
        T* form = Create<T>(this);
        if (FMainForm == nullptr)
            FMainForm = form;
        return form;
    }

    TCustomForm* MainForm() const { return FMainForm; }

    /// Shows the main form, then handles messages until Terminated: until Terminate is
    /// called or the main form closes. No exception leaves it.
    void Run();
    /// Asks Run to end (a quit message is posted; any thread may call it).
    void Terminate();

    bool Terminated() const { return FTerminated; }

    /// Handles every message now pending (no idle processing), then the pending Synchronize
    /// calls.
    void ProcessMessages();
    /// Handles one message, or does the idle processing and waits when there is none.
    void HandleMessage();
    /// The idle processing once, without waiting: the hint of the control under the pointer,
    /// OnIdle, the pending Synchronize calls. False when OnIdle asked to be called again or a
    /// call was served (a widgetset whose own loop is about to wait then does not wait).
    bool IdleStep();

    /// Queues a message for AHandle (the application's or a control's window); any thread
    /// may post. False when AHandle is 0.
    bool PostMessage(THandle AHandle, std::uint32_t AMsg, std::uintptr_t AWParam = 0,
                     std::intptr_t ALParam = 0);
    /// Handles a message for AHandle now, on the main thread, and returns its result.
    std::intptr_t SendMessage(THandle AHandle, std::uint32_t AMsg, std::uintptr_t AWParam = 0,
                              std::intptr_t ALParam = 0);
    /// Blocks until a message is posted (the default widgetset wait).
    void WaitForPostedMessage();

    void HookMainWindow(const TWindowHook& AHook);
    /// Removes the first hook equal to AHook (same code and object).
    void UnhookMainWindow(const TWindowHook& AHook);

    /// The exception being handled goes to OnException, else to ShowException; EAbort is
    /// ignored. Call it inside a catch block. Any C++ exception is accepted (presented as a
    /// host exception). An exception raised by OnException itself is shown, never passed on.
    void HandleException(TObject* ASender);
    /// Shows E's message (a period appended when its last character is above '.') in a
    /// message box captioned with Title.
    void ShowException(Exception* E);

    /// The real path of the running executable.
    std::string ExeName() const;
    /// The title; by default the executable's name up to its first '.', all but the first
    /// character lower-cased.
    std::string Title() const;

    void SetTitle(const std::string& AValue) {
        FTitle = AValue;
        FTitleSet = true;
    }

    bool Active() const { return FActive; }

    /// Minimises or restores the application; OnMinimize/OnRestore fire only on a change.
    void Minimize();
    void Restore();

    bool Minimized() const { return FMinimized; }

    const std::string& Hint() const { return FHint; }

    /// Fires OnHint when the hint changes.
    void SetHint(const std::string& AValue);

    /// Tells the application which control the mouse is over (its hint is shown while idle).
    void SetMouseControl(TControl* AControl) { FMouseControl = AControl; }

    /// The pointer moved over AControl (a WM_MOUSEMOVE reached it): AControl becomes the
    /// mouse control, and when that changed the hint shown is hidden and, for a control with
    /// ShowHint and a hint, a hint window is due HintPause milliseconds later.
    void HintMouseMessage(TControl* AControl);
    /// Hides the hint window and forgets a hint that is due.
    void CancelHint();

    /// Milliseconds between the pointer coming to rest on a control and its hint window.
    int HintPause() const { return FHintPause; }

    void SetHintPause(int AValue) { FHintPause = AValue > 0 ? AValue : 0; }

    /// Shows the hint of AControl as a hint window does: OnShowHint may change the text or
    /// forbid it; returns true (and the text in AHintStr) when the widgetset was asked to show
    /// it.
    bool ActivateHint(TControl* AControl, std::string& AHintStr);

    /// A help request: the active form's OnHelp when it has one, else OnHelp. When the
    /// handler leaves CallHelp true (or there is none) the help system is asked; there is no
    /// help system here, so that answers false.
    bool HelpCommand(std::uint16_t ACommand, std::int32_t AData);

    bool HelpContext(std::int32_t AContext) { return HelpCommand(HELP_CONTEXT, AContext); }

    const TNotifyEvent& OnActivate() const { return FOnActivate; }

    void SetOnActivate(const TNotifyEvent& AValue) { FOnActivate = AValue; }

    const TNotifyEvent& OnDeactivate() const { return FOnDeactivate; }

    void SetOnDeactivate(const TNotifyEvent& AValue) { FOnDeactivate = AValue; }

    const TExceptionEvent& OnException() const { return FOnException; }

    void SetOnException(const TExceptionEvent& AValue) { FOnException = AValue; }

    const TIdleEvent& OnIdle() const { return FOnIdle; }

    void SetOnIdle(const TIdleEvent& AValue) { FOnIdle = AValue; }

    const THelpEvent& OnHelp() const { return FOnHelp; }

    void SetOnHelp(const THelpEvent& AValue) { FOnHelp = AValue; }

    const TNotifyEvent& OnHint() const { return FOnHint; }

    void SetOnHint(const TNotifyEvent& AValue) { FOnHint = AValue; }

    const TMessageEvent& OnMessage() const { return FOnMessage; }

    void SetOnMessage(const TMessageEvent& AValue) { FOnMessage = AValue; }

    const TNotifyEvent& OnMinimize() const { return FOnMinimize; }

    void SetOnMinimize(const TNotifyEvent& AValue) { FOnMinimize = AValue; }

    const TNotifyEvent& OnRestore() const { return FOnRestore; }

    void SetOnRestore(const TNotifyEvent& AValue) { FOnRestore = AValue; }

    const TShowHintEvent& OnShowHint() const { return FOnShowHint; }

    void SetOnShowHint(const TShowHintEvent& AValue) { FOnShowHint = AValue; }

private:
    friend class TCustomForm;
    friend void ForgetControl(TControl* AControl);

    bool ProcessMessage();
    void DispatchMessage(TMsg& AMsg);
    void Idle();
    void WndProc(TMessage& AMessage);
    void MainWndProc(TMessage& AMessage);
    void WakeMainThread(TObject* ASender);
    void HintTimerExpired();
    void StopHintTimer();

    std::unique_ptr<TWidgetSet> FWidgetSet;
    THandle FHandle = 0;
    TCustomForm* FMainForm = nullptr;
    bool FTerminated = false;
    bool FActive = true;
    bool FMinimized = false;
    std::string FTitle;
    bool FTitleSet = false;
    std::string FHint;
    TControl* FMouseControl = nullptr;
    int FHintPause = 500;
    THandle FHintTimer = 0;
    bool FHintShown = false;
    std::vector<TWindowHook> FHooks;

    std::mutex FQueueMutex;
    std::condition_variable FQueueChanged;
    std::deque<TMsg> FQueue;

    TNotifyEvent FOnActivate;
    TNotifyEvent FOnDeactivate;
    TExceptionEvent FOnException;
    TIdleEvent FOnIdle;
    THelpEvent FOnHelp;
    TNotifyEvent FOnHint;
    TMessageEvent FOnMessage;
    TNotifyEvent FOnMinimize;
    TNotifyEvent FOnRestore;
    TShowHintEvent FOnShowHint;
};

/// The application object and the screen object; nullptr outside InitApplication ..
/// DoneApplication. Main thread only.
inline TApplication* Application = nullptr;
inline TScreen* Screen = nullptr;

/// Creates Application (with AWidgetSet) and Screen. Raises EInvalidOperation when they
/// already exist or AWidgetSet is null.
void InitApplication(std::unique_ptr<TWidgetSet> AWidgetSet);
/// Destroys Application (with its forms) and Screen; nothing when they do not exist.
void DoneApplication();

/// Makes AText the stored text form of the form class AClassName: a form of that class loads
/// it when created. The text must stay valid for the life of the process (embedded
/// resources are static data).
void RegisterFormResource(const std::string& AClassName, std::string_view AText);
/// The registered text form of AClassName (names compare ignoring case); empty when none.
std::string_view FindFormResource(const std::string& AClassName);

/// Registers the form and control classes with the class registry, so stored forms can
/// create them by name. InitApplication calls it; calling it again does no harm.
void RegisterFormClasses();

/// Posts or sends through the application; false / 0 without one.
bool PostMessage(THandle AHandle, std::uint32_t AMsg, std::uintptr_t AWParam = 0,
                 std::intptr_t ALParam = 0);
std::intptr_t SendMessage(THandle AHandle, std::uint32_t AMsg, std::uintptr_t AWParam = 0,
                          std::intptr_t ALParam = 0);

/// Drops every reference the application, the screen and the forms hold to a control being
/// destroyed (called by the control's destructor).
void ForgetControl(TControl* AControl);

} // namespace host
