// host/forms/StdCtrls.h - the standard controls: button, check box, edit, memo, combo box,
// label.
//
// Each keeps its whole state (text, checked state, lines, items, selection) itself; the
// widgetset shows it. User input arrives as messages (BM_CLICK, WM_KEYDOWN, WM_CHAR), so a
// person, a test or the headless widgetset's responder drive the controls the same way.
#pragma once

#include "host/forms/Controls.h"

#include <cstdint>
#include <memory>
#include <string>

namespace host {

/// A push button. Click sets the form's ModalResult to the button's own (so a modal form
/// closes) and fires OnClick. Default buttons answer Enter, Cancel buttons Escape.
class TButton : public TWinControl {
    JEX_CLASS(TButton)

public:
    explicit TButton(TComponent* AOwner);

    bool Default() const { return FDefault; }

    void SetDefault(bool AValue) { FDefault = AValue; }

    bool Cancel() const { return FCancel; }

    void SetCancel(bool AValue) { FCancel = AValue; }

    TModalResult ModalResult() const { return FModalResult; }

    void SetModalResult(TModalResult AValue) { FModalResult = AValue; }

    void Click() override;
    void WndProc(TMessage& AMessage) override;

protected:
    bool KeyDown(std::uint16_t& AKey, TShiftState AShift) override;

private:
    bool FDefault = false;
    bool FCancel = false;
    TModalResult FModalResult = mrNone;
};

enum TCheckBoxState : std::uint8_t { cbUnchecked, cbChecked, cbGrayed };

/// A check box. Changing its state (by a click or in code) fires OnClick, except while its
/// form is being loaded.
class TCheckBox : public TWinControl {
    JEX_CLASS(TCheckBox)

public:
    explicit TCheckBox(TComponent* AOwner);

    bool Checked() const { return FState == cbChecked; }

    void SetChecked(bool AValue) { SetState(AValue ? cbChecked : cbUnchecked); }

    TCheckBoxState State() const { return FState; }

    void SetState(TCheckBoxState AValue);

    bool AllowGrayed() const { return FAllowGrayed; }

    void SetAllowGrayed(bool AValue) { FAllowGrayed = AValue; }

    /// The next state a click gives: unchecked, checked, (grayed when allowed), unchecked.
    void Toggle();

    void WndProc(TMessage& AMessage) override;

protected:
    bool KeyDown(std::uint16_t& AKey, TShiftState AShift) override;

private:
    TCheckBoxState FState = cbUnchecked;
    bool FAllowGrayed = false;
};

/// A text entry. Typed characters go to the end of the text (backspace removes the last);
/// read-only edits ignore them. MaxLength limits typing (0: no limit).
class TCustomEdit : public TWinControl {
    JEX_CLASS(TCustomEdit)

public:
    explicit TCustomEdit(TComponent* AOwner);

    bool ReadOnly() const { return FReadOnly; }

    void SetReadOnly(bool AValue) { FReadOnly = AValue; }

    int MaxLength() const { return FMaxLength; }

    void SetMaxLength(int AValue) { FMaxLength = AValue < 0 ? 0 : AValue; }

    TBorderStyle BorderStyle() const { return FBorderStyle; }

    void SetBorderStyle(TBorderStyle AValue) { FBorderStyle = AValue; }

    const TNotifyEvent& OnChange() const { return FOnChange; }

    void SetOnChange(const TNotifyEvent& AValue) { FOnChange = AValue; }

    void SetText(const std::string& AValue) override;

protected:
    void KeyPress(char& AKey) override;
    virtual void Change();

private:
    bool FReadOnly = false;
    int FMaxLength = 0;
    TBorderStyle FBorderStyle = bsSingle;
    TNotifyEvent FOnChange;
};

class TEdit : public TCustomEdit {
    JEX_CLASS(TEdit)

public:
    using TCustomEdit::TCustomEdit;
};

enum TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

/// A multi-line edit whose text is its Lines (lines joined by CRLF). With WantReturns it takes
/// Enter as a line break (or, read-only, ignores it) instead of pressing the default button.
class TCustomMemo : public TCustomEdit {
    JEX_CLASS(TCustomMemo)

public:
    explicit TCustomMemo(TComponent* AOwner);
    ~TCustomMemo() override;

    /// The lines; changing them changes Text and the other way round.
    TStrings* Lines() const;
    void SetLines(TStrings* AValue);

    TScrollStyle ScrollBars() const { return FScrollBars; }

    void SetScrollBars(TScrollStyle AValue) { FScrollBars = AValue; }

    bool WantReturns() const { return FWantReturns; }

    void SetWantReturns(bool AValue) { FWantReturns = AValue; }

    bool WordWrap() const { return FWordWrap; }

    void SetWordWrap(bool AValue) { FWordWrap = AValue; }

    void SetText(const std::string& AValue) override;

protected:
    bool KeyDown(std::uint16_t& AKey, TShiftState AShift) override;
    void KeyPress(char& AKey) override;

private:
    void LinesChanged(TObject* ASender);

    std::unique_ptr<TStringList> FLines;
    bool FSyncing = false;
    TScrollStyle FScrollBars = ssNone;
    bool FWantReturns = true;
    bool FWordWrap = true;
};

class TMemo : public TCustomMemo {
    JEX_CLASS(TMemo)

public:
    using TCustomMemo::TCustomMemo;
};

enum TComboBoxStyle : std::uint8_t {
    csDropDown,
    csSimple,
    csDropDownList,
    csOwnerDrawFixed,
    csOwnerDrawVariable
};

/// A combo box: a list of items with one selected (ItemIndex, -1 for none). Selecting an item
/// makes it the text; a drop-down list's text is always its selected item.
class TComboBox : public TWinControl {
    JEX_CLASS(TComboBox)

public:
    explicit TComboBox(TComponent* AOwner);
    ~TComboBox() override;

    TStrings* Items() const;
    void SetItems(TStrings* AValue);

    int ItemIndex() const { return FItemIndex; }

    /// Selects item AValue (-1: none). Raises EListError "List index out of bounds (<n>)" for
    /// an index outside the items.
    void SetItemIndex(int AValue);

    TComboBoxStyle Style() const { return FStyle; }

    void SetStyle(TComboBoxStyle AValue) { FStyle = AValue; }

    const TNotifyEvent& OnChange() const { return FOnChange; }

    void SetOnChange(const TNotifyEvent& AValue) { FOnChange = AValue; }

    void SetText(const std::string& AValue) override;

private:
    void ItemsChanged(TObject* ASender);

    std::unique_ptr<TStringList> FItems;
    int FItemIndex = -1;
    TComboBoxStyle FStyle = csDropDown;
    TNotifyEvent FOnChange;
};

/// A text on a form, drawn on its parent.
class TLabel : public TGraphicControl {
    JEX_CLASS(TLabel)

public:
    explicit TLabel(TComponent* AOwner);

    /// The control that Alt with the label's accelerator focuses.
    TWinControl* FocusControl() const { return FFocusControl; }

    void SetFocusControl(TWinControl* AValue);

    bool AutoSize() const { return FAutoSize; }

    void SetAutoSize(bool AValue) { FAutoSize = AValue; }

    bool WordWrap() const { return FWordWrap; }

    void SetWordWrap(bool AValue) { FWordWrap = AValue; }

    bool Transparent() const { return FTransparent; }

    void SetTransparent(bool AValue) { FTransparent = AValue; }

    void Notification(TComponent* AComponent, TOperation AOperation) override;

private:
    TWinControl* FFocusControl = nullptr;
    bool FAutoSize = true;
    bool FWordWrap = false;
    bool FTransparent = false;
};

} // namespace host
