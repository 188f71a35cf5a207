// host/ws/WidgetSet.h - the whole boundary between the controls and whatever draws them.
//
// Controls keep their state in host/forms; a widgetset is told about changes of controls that
// have a handle, answers modal calls and message boxes, and provides the system's UI services
// (beep, screen size and copy, the standard error icon) and timers. The program picks the
// widgetset explicitly and hands it to the application (InitApplication).
#pragma once

#include "host/forms/Controls.h"
#include "host/forms/Dialogs.h"
#include "host/forms/Graphics.h"

#include <cstdint>
#include <memory>
#include <string>

namespace host {

class TCustomForm;

/// The widgetset's side of one window handle.
class TWSHandle {
public:
    virtual ~TWSHandle() = default;
    virtual void SetText(const std::string& AText) = 0;
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) = 0;
    virtual void SetVisible(bool AVisible) = 0;
    virtual void SetEnabled(bool AEnabled) = 0;
    /// The control's other state (checked, items, picture, colour) changed: redraw it.
    virtual void Invalidate() = 0;
};

struct TSize {
    int Width = 0;
    int Height = 0;
};

using TTimerProc = TEvent<void()>;

class TWidgetSet {
public:
    TWidgetSet() = default;
    TWidgetSet(const TWidgetSet&) = delete;
    TWidgetSet& operator=(const TWidgetSet&) = delete;
    virtual ~TWidgetSet() = default;

    /// A short name ("headless").
    virtual std::string Name() const = 0;

    // ---- the application --------------------------------------------------------------------

    /// Moves the toolkit's pending input into the application (as posted messages or calls).
    virtual void AppProcessMessages() {}

    /// Blocks until a message is posted or toolkit input arrives; the default waits for a
    /// posted message only.
    virtual void AppWaitMessage();

    /// Called from any thread after a message was posted, to end an AppWaitMessage.
    virtual void AppWakeUp() {}

    // ---- handles ----------------------------------------------------------------------------

    /// Creates the widgetset's side of AControl's handle; AControl's whole state is read from
    /// the control.
    virtual std::unique_ptr<TWSHandle> CreateHandle(TWinControl* AControl) = 0;

    // ---- modal calls ------------------------------------------------------------------------

    /// Runs AForm modally (it is already shown) until its modal result is set and accepted by
    /// its close handling; returns that result. The default runs the application's loop.
    virtual TModalResult ShowModal(TCustomForm* AForm);

    /// Shows a message box and returns the result of the pressed button.
    virtual TModalResult MessageDlg(const TMessageDlgRequest& ARequest) = 0;

    // ---- system UI --------------------------------------------------------------------------

    /// The system's error sound; the default asks the platform's screen service.
    virtual void Beep();
    /// The system sound ASound (MB_ICONHAND: the error sound); the default sounds Beep.
    virtual void MessageBeep(std::uint32_t ASound);
    /// The primary screen's size; the default asks the platform's screen service.
    virtual TSize ScreenSize();
    /// Copies the screen into ABitmap; false when there is no screen to read.
    virtual bool CaptureScreen(TBitmap& ABitmap);
    /// The system's standard error icon (32 x 32); the default draws the built-in one.
    virtual void LoadErrorIcon(TIcon& AIcon);

    // ---- timers -----------------------------------------------------------------------------

    /// Calls AProc on the main thread every AIntervalMs milliseconds; returns the timer's id.
    virtual THandle CreateTimer(int AIntervalMs, const TTimerProc& AProc) = 0;
    virtual void DestroyTimer(THandle ATimer) = 0;
};

/// The running application's widgetset; nullptr without an application.
TWidgetSet* CurrentWidgetSet();

/// Copies the screen through the platform's screen service (what widgetsets without a screen
/// of their own do); false and an empty bitmap when there is none.
bool CaptureScreenFromPlatform(TBitmap& ABitmap);

/// Draws the built-in standard error icon: a red disc with a white cross on a transparent
/// 32 x 32 ground.
void DrawBuiltInErrorIcon(TIcon& AIcon);

} // namespace host
