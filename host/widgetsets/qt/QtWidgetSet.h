// host/widgetsets/qt/QtWidgetSet.h - the widgetset that shows forms as Qt 6 windows.
//
// Forms become top-level windows at their stored place and size; buttons, check boxes, edits,
// memos and combo boxes become Qt's widgets, labels and images are drawn by the window they
// lie on. What a person does (clicks, keys, typing, focus, closing a window by its frame)
// reaches the controls as the framework's messages through their window procedures, so an
// exception raised by a handler goes to Application->HandleException. Posted messages and
// Synchronize calls are served from Qt's event loop, whichever loop runs it: the host's Run and
// modal loops, QApplication::exec of a plain Qt program, or a QMessageBox.
#pragma once

#include "host/ws/WidgetSet.h"

#include <atomic>
#include <map>
#include <memory>
#include <unordered_map>

class QObject;
class QTimer;
class QWidget;

namespace host {

class TQtApplication;

class TQtWidgetSet : public TWidgetSet {
public:
    /// Uses the program's TQtApplication, or creates one (kept for the rest of the process)
    /// when there is no QApplication yet. Raises EInvalidOperation when the program made a
    /// plain QApplication, which cannot pass exceptions on.
    TQtWidgetSet();
    ~TQtWidgetSet() override;

    std::string Name() const override { return "qt"; }

    /// True when Qt can show windows here: a Wayland display is named (WAYLAND_DISPLAY) or the
    /// X display DISPLAY names answers. A program without one uses the headless widgetset; Qt
    /// itself would end the process when it finds no display.
    static bool DisplayReachable();

    /// Handles the Qt events now pending.
    void AppProcessMessages() override;
    /// Waits for the next Qt event (a posted message wakes it); returns at once when the
    /// previous AppProcessMessages handled some, so that the loop sees their effect first.
    void AppWaitMessage() override;
    void AppWakeUp() override;

    std::unique_ptr<TWSHandle> CreateHandle(TWinControl* AControl) override;
    TModalResult MessageDlg(const TMessageDlgRequest& ARequest) override;
    void Beep() override;
    TSize ScreenSize() override;
    bool CaptureScreen(TBitmap& ABitmap) override;
    /// The desktop style's critical-message icon; the built-in one when the style has none.
    void LoadErrorIcon(TIcon& AIcon) override;
    void ShowHint(const std::string& AText, TPoint APos) override;
    void HideHint() override;
    THandle CreateTimer(int AIntervalMs, const TTimerProc& AProc) override;
    void DestroyTimer(THandle ATimer) override;

    /// The Qt widget showing AControl; nullptr without a handle.
    QWidget* Widget(const TWinControl* AControl) const;

    /// The control a Qt widget shows; nullptr for widgets of no control.
    TWinControl* ControlOf(const QObject* AWidget) const;

    /// Hands AMessage to AControl as the toolkit does (through the window procedure that
    /// passes exceptions to the application; straight to the handler for controls without a
    /// window).
    void Deliver(TControl* AControl, TMessage& AMessage);

private:
    class TEvents;
    class THandle_;
    friend class THandle_;
    friend class TEvents;

    void ServePosted();
    void QtLoopIdle();

    TQtApplication* FApp = nullptr;
    std::unique_ptr<TEvents> FEvents;
    std::unique_ptr<TIcon> FErrorIcon;
    std::unordered_map<const QObject*, TWinControl*> FControls;
    std::unordered_map<const TWinControl*, QWidget*> FWidgets;
    std::map<THandle, QTimer*> FTimers;
    THandle FNextTimer = 1;
    std::atomic<bool> FWakePending{false};
    bool FServing = false;
    bool FWaiting = false;
    bool FHandledSinceWait = false;
};

} // namespace host
