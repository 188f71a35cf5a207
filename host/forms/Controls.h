// host/forms/Controls.h - controls: geometry, text, visibility, parent and children, focus.
//
// A control keeps all its state here and works fully without a window handle; a widgetset
// hears about a change only when the control has a handle, and receives the whole state when
// the handle is created. Messages (TMsg, TMessage and their codes) are the framework's, so the
// application's hooks and the components see the message codes they expect.
#pragma once

#include "host/core/Classes.h"
#include "host/forms/Graphics.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace host {

class TWinControl;
class TCustomForm;
class TWSHandle;

/// A window handle: a number that names a windowed control or the application's window for
/// posting and sending messages. 0 is no window.
using THandle = std::uintptr_t;

struct TPoint {
    int X = 0;
    int Y = 0;
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

/// A message as taken from the queue (the platform's message record).
struct TMsg {
    THandle Hwnd = 0;
    std::uint32_t Message = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::uint32_t Time = 0;
    TPoint Pt;
};

/// A message as a window procedure receives it.
struct TMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

inline constexpr std::uint32_t WM_NULL = 0x0000;
inline constexpr std::uint32_t WM_SETFOCUS = 0x0007;
inline constexpr std::uint32_t WM_CLOSE = 0x0010;
inline constexpr std::uint32_t WM_QUIT = 0x0012;
inline constexpr std::uint32_t WM_WININICHANGE = 0x001A;
inline constexpr std::uint32_t WM_SETTINGCHANGE = WM_WININICHANGE;
inline constexpr std::uint32_t WM_ACTIVATEAPP = 0x001C;
inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_CHAR = 0x0102;
inline constexpr std::uint32_t WM_SYSCOMMAND = 0x0112;
inline constexpr std::uint32_t WM_TIMER = 0x0113;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr std::uint32_t BM_CLICK = 0x00F5;
inline constexpr std::uint32_t WM_USER = 0x0400;
inline constexpr std::uint32_t CM_BASE = 0xB000;
inline constexpr std::uint32_t CM_ACTIVATE = CM_BASE + 0;
inline constexpr std::uint32_t CM_DEACTIVATE = CM_BASE + 1;
inline constexpr std::uint32_t CM_DIALOGKEY = CM_BASE + 5;
inline constexpr std::uint32_t CM_RELEASE = CM_BASE + 33;

inline constexpr std::uint16_t VK_BACK = 0x08;
inline constexpr std::uint16_t VK_TAB = 0x09;
inline constexpr std::uint16_t VK_RETURN = 0x0D;
inline constexpr std::uint16_t VK_SHIFT = 0x10;
inline constexpr std::uint16_t VK_ESCAPE = 0x1B;
inline constexpr std::uint16_t VK_SPACE = 0x20;
inline constexpr std::uint16_t VK_F1 = 0x70;

/// WM_SYSCOMMAND commands (the low four bits of WParam are the system's own).
inline constexpr std::uintptr_t SC_MINIMIZE = 0xF020;
inline constexpr std::uintptr_t SC_RESTORE = 0xF120;

enum TShiftStateMember : std::uint8_t {
    ssShift,
    ssAlt,
    ssCtrl,
    ssLeft,
    ssRight,
    ssMiddle,
    ssDouble
};

using TShiftState = TSet<TShiftStateMember>;

/// The result of a modal form or dialog.
using TModalResult = int;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;
inline constexpr TModalResult mrAll = 8;
inline constexpr TModalResult mrNoToAll = 9;
inline constexpr TModalResult mrYesToAll = 10;

/// Border styles of forms; memos and edits use bsNone and bsSingle only.
enum TFormBorderStyle : std::uint8_t {
    bsNone,
    bsSingle,
    bsSizeable,
    bsDialog,
    bsToolWindow,
    bsSizeToolWin
};

using TBorderStyle = TFormBorderStyle;

using TKeyEvent = TEvent<void(TObject*, std::uint16_t&, TShiftState)>;
using TKeyPressEvent = TEvent<void(TObject*, char&)>;

class TControl : public TComponent {
    JEX_CLASS(TControl)

public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;

    TWinControl* Parent() const { return FParent; }

    /// Moves the control into AParent's children (nullptr takes it out). Raises
    /// EInvalidOperation when AParent is the control itself or one of its children.
    virtual void SetParent(TWinControl* AParent);

    int Left() const { return FLeft; }

    int Top() const { return FTop; }

    int Width() const { return FWidth; }

    int Height() const { return FHeight; }

    void SetLeft(int AValue) { SetBounds(AValue, FTop, FWidth, FHeight); }

    void SetTop(int AValue) { SetBounds(FLeft, AValue, FWidth, FHeight); }

    void SetWidth(int AValue) { SetBounds(FLeft, FTop, AValue, FHeight); }

    void SetHeight(int AValue) { SetBounds(FLeft, FTop, FWidth, AValue); }

    /// Sets the whole geometry at once; negative sizes count as 0.
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    TRect BoundsRect() const { return {FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }

    /// The inner size; for plain controls the same as Width and Height.
    virtual int ClientWidth() const { return FWidth; }

    virtual int ClientHeight() const { return FHeight; }

    virtual void SetClientWidth(int AValue) { SetWidth(AValue); }

    virtual void SetClientHeight(int AValue) { SetHeight(AValue); }

    bool Visible() const { return FVisible; }

    virtual void SetVisible(bool AValue);

    void Show() { SetVisible(true); }

    void Hide() { SetVisible(false); }

    /// True when the control and all its parents are visible.
    bool Showing() const;

    bool Enabled() const { return FEnabled; }

    virtual void SetEnabled(bool AValue);

    const std::string& Hint() const { return FHint; }

    void SetHint(const std::string& AValue) { FHint = AValue; }

    bool ShowHint() const { return FShowHint; }

    void SetShowHint(bool AValue) { FShowHint = AValue; }

    /// Caption and Text are one value (the framework's text of a control).
    const std::string& Caption() const { return FText; }

    void SetCaption(const std::string& AValue) { SetText(AValue); }

    const std::string& Text() const { return FText; }

    virtual void SetText(const std::string& AValue);

    TColor Color() const { return FColor; }

    /// Sets an own colour (ParentColor becomes false).
    void SetColor(TColor AValue);

    bool ParentColor() const { return FParentColor; }

    /// True takes the parent's colour and follows it.
    void SetParentColor(bool AValue);

    TFont* Font() const { return FFont.get(); }

    void SetFont(TFont* AValue) { FFont->Assign(AValue); }

    const TNotifyEvent& OnClick() const { return FOnClick; }

    void SetOnClick(const TNotifyEvent& AValue) { FOnClick = AValue; }

    /// Fires OnClick.
    virtual void Click();

    /// Handles AMessage now, like a sent message; exceptions pass to the caller.
    std::intptr_t Perform(std::uint32_t AMsg, std::uintptr_t AWParam = 0,
                          std::intptr_t ALParam = 0);

    /// The message handler; overrides handle their messages and pass the rest on.
    virtual void WndProc(TMessage& AMessage);

    /// Stored-test of Color: an own colour only.
    bool IsColorStored() const { return !FParentColor; }

protected:
    /// The state changed in a way the widgetset shows (text, geometry, visibility, enabled).
    virtual void StateChanged();
    virtual void ParentColorChanged();

private:
    friend class TWinControl;

    TWinControl* FParent = nullptr;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;
    bool FVisible = true;
    bool FEnabled = true;
    bool FShowHint = false;
    bool FParentColor = true;
    TColor FColor = clBtnFace;
    std::string FHint;
    std::string FText;
    std::unique_ptr<TFont> FFont;
    TNotifyEvent FOnClick;
};

/// A control without a window of its own (labels, images): drawn on its parent.
class TGraphicControl : public TControl {
    JEX_CLASS(TGraphicControl)

public:
    using TControl::TControl;

protected:
    void StateChanged() override;
};

/// A control with a window of its own: it has children, a tab order and can take the focus.
class TWinControl : public TControl {
    JEX_CLASS(TWinControl)

public:
    explicit TWinControl(TComponent* AOwner);
    /// Destroys the children that are still inside it (as the framework does), then the
    /// handle.
    ~TWinControl() override;

    int ControlCount() const { return static_cast<int>(FControls.size()); }

    TControl* Controls(int AIndex) const;

    /// True when AControl is this control or lies inside it.
    bool ContainsControl(const TControl* AControl) const;

    /// Position among the parent's windowed children in tab order; -1 without parent.
    int TabOrder() const;
    /// Moves the control in its parent's tab order (values beyond the end move it last).
    /// Without a parent (a stored form being read) the value is kept for UpdateTabOrder.
    void SetTabOrder(int AValue);
    /// Orders the windowed children by the tab orders they were given (stored forms set them
    /// before the controls have their parent).
    void UpdateTabOrder();

    bool TabStop() const { return FTabStop; }

    void SetTabStop(bool AValue) { FTabStop = AValue; }

    /// True when the control and its parents up to the form are visible and enabled.
    virtual bool CanFocus() const;

    /// Gives the control the input focus. Raises EInvalidOperation "Cannot focus a disabled
    /// or invisible window" when it cannot take it. On a form that is not active, the control
    /// becomes the form's active control and gets the focus when the form is activated.
    virtual void SetFocus();

    /// True when this control has the input focus.
    bool Focused() const;

    const TNotifyEvent& OnEnter() const { return FOnEnter; }

    void SetOnEnter(const TNotifyEvent& AValue) { FOnEnter = AValue; }

    const TNotifyEvent& OnExit() const { return FOnExit; }

    void SetOnExit(const TNotifyEvent& AValue) { FOnExit = AValue; }

    const TKeyEvent& OnKeyDown() const { return FOnKeyDown; }

    void SetOnKeyDown(const TKeyEvent& AValue) { FOnKeyDown = AValue; }

    const TKeyPressEvent& OnKeyPress() const { return FOnKeyPress; }

    void SetOnKeyPress(const TKeyPressEvent& AValue) { FOnKeyPress = AValue; }

    /// The window handle, created (with the widgetset's handle) when first asked for.
    THandle Handle();

    bool HandleAllocated() const { return FHandle != 0; }

    void HandleNeeded() { Handle(); }

    void DestroyHandle();

    /// The widgetset's side of the handle; nullptr without handle.
    TWSHandle* WSHandle() const { return FWSHandle.get(); }

    /// Handles a message as the control's window procedure does: an exception raised while
    /// handling it goes to Application->HandleException with this control as Sender.
    void MainWndProc(TMessage& AMessage);

    /// The windowed children in tab order, depth first (the order Tab walks).
    void GetTabOrderList(std::vector<TWinControl*>& AList) const;

    /// The next (or previous) control after ACurrent inside this control that can take the
    /// focus; nullptr when there is none.
    TWinControl* FindNextControl(TWinControl* ACurrent, bool AGoForward, bool ACheckTabStop) const;

    /// Moves the focus to FindNextControl's answer.
    void SelectNext(TWinControl* ACurrent, bool AGoForward, bool ACheckTabStop);

    void WndProc(TMessage& AMessage) override;

    /// Called by OnEnter/OnExit dispatch of the form's focus change.
    virtual void DoEnter();
    virtual void DoExit();

protected:
    void StateChanged() override;
    void ParentColorChanged() override;

    /// Handles a key press after OnKeyDown; true when the key was used.
    virtual bool KeyDown(std::uint16_t& AKey, TShiftState AShift);

    /// Handles a typed character after OnKeyPress.
    virtual void KeyPress(char& AKey);

    /// Called after the handle was created (the widgetset has the whole state).
    virtual void CreateWnd() {}

private:
    friend class TControl;

    void InsertControl(TControl* AControl);
    void RemoveControl(TControl* AControl);

    std::vector<TControl*> FControls;
    std::vector<TWinControl*> FTabList;
    int FWantedTabOrder = -1;
    bool FTabStop = false;
    THandle FHandle = 0;
    std::unique_ptr<TWSHandle> FWSHandle;
    TNotifyEvent FOnEnter;
    TNotifyEvent FOnExit;
    TKeyEvent FOnKeyDown;
    TKeyPressEvent FOnKeyPress;
};

/// The form AControl lies on (the control itself when it is a form); nullptr for none.
TCustomForm* GetParentForm(const TControl* AControl);

/// The windowed control whose handle is AHandle; nullptr when no live control has it.
TWinControl* FindControl(THandle AHandle);

/// A new handle number, never 0 and never reused in the process.
THandle AllocateHandleNumber();

/// The short part of a hint (before the first '|') and the long part (after it; the whole
/// hint when it has no '|').
std::string GetShortHint(const std::string& AHint);
std::string GetLongHint(const std::string& AHint);

} // namespace host
