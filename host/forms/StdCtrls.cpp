// host/forms/StdCtrls.cpp - TButton, TCheckBox, TCustomEdit, TCustomMemo, TComboBox, TLabel.
#include "host/forms/StdCtrls.h"

#include "host/forms/Forms.h"

namespace host {

namespace {

const TTypeInfo& BorderStyleType() {
    return EnumType<TFormBorderStyle>(
        "TFormBorderStyle",
        {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"});
}

} // namespace

const TClassInfo& TButton::StaticClassInfo() {
    using T = TButton;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TButton", &TWinControl::StaticClassInfo())
            .Component()
            .String("Caption", &T::Caption, &T::SetCaption)
            .Bool("Cancel", &T::Cancel, &T::SetCancel, false)
            .Bool("Default", &T::Default, &T::SetDefault, false)
            .Integer("ModalResult", &T::ModalResult, &T::SetModalResult, 0)
            .Event("OnClick", &T::OnClick, &T::SetOnClick)
            .Build();
    return info;
}

const TClassInfo& TCheckBox::StaticClassInfo() {
    using T = TCheckBox;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TCheckBox", &TWinControl::StaticClassInfo())
            .Component()
            .String("Caption", &T::Caption, &T::SetCaption)
            .Bool("AllowGrayed", &T::AllowGrayed, &T::SetAllowGrayed, false)
            .Bool("Checked", &T::Checked, &T::SetChecked, false)
            .Enum("State", &T::State, &T::SetState,
                  EnumType<TCheckBoxState>("TCheckBoxState",
                                           {"cbUnchecked", "cbChecked", "cbGrayed"}),
                  cbUnchecked, Stored(false))
            .Event("OnClick", &T::OnClick, &T::SetOnClick)
            .Build();
    return info;
}

const TClassInfo& TCustomEdit::StaticClassInfo() {
    using T = TCustomEdit;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TCustomEdit", &TWinControl::StaticClassInfo())
            .Enum("BorderStyle", &T::BorderStyle, &T::SetBorderStyle, BorderStyleType(), bsSingle)
            .Integer("MaxLength", &T::MaxLength, &T::SetMaxLength, 0)
            .Bool("ReadOnly", &T::ReadOnly, &T::SetReadOnly, false)
            .Event("OnChange", &T::OnChange, &T::SetOnChange)
            .Build();
    return info;
}

const TClassInfo& TEdit::StaticClassInfo() {
    using T = TEdit;
    static const TClassInfo info = TClassInfoBuilder<T>("TEdit", &TCustomEdit::StaticClassInfo())
                                       .Component()
                                       .String("Text", &T::Text, &T::SetText)
                                       .Build();
    return info;
}

const TClassInfo& TCustomMemo::StaticClassInfo() {
    using T = TCustomMemo;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TCustomMemo", &TCustomEdit::StaticClassInfo())
            .Enum("ScrollBars", &T::ScrollBars, &T::SetScrollBars,
                  EnumType<TScrollStyle>("TScrollStyle",
                                         {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"}),
                  ssNone)
            .Bool("WantReturns", &T::WantReturns, &T::SetWantReturns, true)
            .Bool("WordWrap", &T::WordWrap, &T::SetWordWrap, true)
            .Build();
    return info;
}

const TClassInfo& TMemo::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TMemo>("TMemo", &TCustomMemo::StaticClassInfo()).Component().Build();
    return info;
}

const TClassInfo& TComboBox::StaticClassInfo() {
    using T = TComboBox;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TComboBox", &TWinControl::StaticClassInfo())
            .Component()
            .Enum("Style", &T::Style, &T::SetStyle,
                  EnumType<TComboBoxStyle>("TComboBoxStyle",
                                           {"csDropDown", "csSimple", "csDropDownList",
                                            "csOwnerDrawFixed", "csOwnerDrawVariable"}),
                  csDropDown)
            .String("Text", &T::Text, &T::SetText)
            .Event("OnChange", &T::OnChange, &T::SetOnChange)
            .Build();
    return info;
}

const TClassInfo& TLabel::StaticClassInfo() {
    using T = TLabel;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TLabel", &TGraphicControl::StaticClassInfo())
            .Component()
            .String("Caption", &T::Caption, &T::SetCaption)
            .Bool("AutoSize", &T::AutoSize, &T::SetAutoSize, true)
            .Object("FocusControl", &T::FocusControl, &T::SetFocusControl)
            .Bool("Transparent", &T::Transparent, &T::SetTransparent, false)
            .Bool("WordWrap", &T::WordWrap, &T::SetWordWrap, false)
            .Event("OnClick", &T::OnClick, &T::SetOnClick)
            .Build();
    return info;
}

// ---- TButton --------------------------------------------------------------------------------

TButton::TButton(TComponent* AOwner)
    : TWinControl(AOwner) {
    SetBounds(0, 0, 75, 25);
    SetTabStop(true);
}

void TButton::Click() {
    if (TCustomForm* form = GetParentForm(this))
        form->SetModalResult(FModalResult);
    TWinControl::Click();
}

void TButton::WndProc(TMessage& AMessage) {
    if (AMessage.Msg == CM_DIALOGKEY) {
        // WParam 0: "do you take Enter as the focused button", 1: "are you the default
        // button", 2: "are you the cancel button".
        AMessage.Result = AMessage.WParam == 0 || (AMessage.WParam == 1 && FDefault) ||
                                  (AMessage.WParam == 2 && FCancel)
                              ? 1
                              : 0;
        return;
    }
    TWinControl::WndProc(AMessage);
}

bool TButton::KeyDown(std::uint16_t& AKey, TShiftState) {
    if (AKey != VK_SPACE)
        return false;
    Click();
    return true;
}

// ---- TCheckBox ------------------------------------------------------------------------------

TCheckBox::TCheckBox(TComponent* AOwner)
    : TWinControl(AOwner) {
    SetBounds(0, 0, 97, 17);
    SetTabStop(true);
}

void TCheckBox::SetState(TCheckBoxState AValue) {
    if (AValue == FState)
        return;
    FState = AValue;
    StateChanged();
    if (!ComponentState().Contains(csLoading))
        Click();
}

void TCheckBox::Toggle() {
    switch (FState) {
    case cbUnchecked:
        SetState(cbChecked);
        break;
    case cbChecked:
        SetState(FAllowGrayed ? cbGrayed : cbUnchecked);
        break;
    case cbGrayed:
        SetState(cbUnchecked);
        break;
    }
}

void TCheckBox::WndProc(TMessage& AMessage) {
    if (AMessage.Msg == BM_CLICK) {
        Toggle();
        return;
    }
    TWinControl::WndProc(AMessage);
}

bool TCheckBox::KeyDown(std::uint16_t& AKey, TShiftState) {
    if (AKey != VK_SPACE)
        return false;
    Toggle();
    return true;
}

// ---- TCustomEdit ----------------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* AOwner)
    : TWinControl(AOwner) {
    SetBounds(0, 0, 121, 21);
    SetTabStop(true);
    SetColor(clWindow);
}

void TCustomEdit::SetText(const std::string& AValue) {
    if (AValue == Text())
        return;
    TWinControl::SetText(AValue);
    Change();
}

void TCustomEdit::Change() {
    if (FOnChange.Assigned() && !ComponentState().Contains(csLoading))
        FOnChange(this);
}

void TCustomEdit::KeyPress(char& AKey) {
    if (FReadOnly)
        return;
    std::string text = Text();
    if (AKey == static_cast<char>(VK_BACK)) {
        if (text.empty())
            return;
        text.pop_back();
    } else {
        if (static_cast<unsigned char>(AKey) < 0x20 && AKey != '\r' && AKey != '\n')
            return;
        if (FMaxLength > 0 && static_cast<int>(text.size()) >= FMaxLength)
            return;
        text += AKey;
    }
    SetText(text);
}

// ---- TCustomMemo ----------------------------------------------------------------------------

TCustomMemo::TCustomMemo(TComponent* AOwner)
    : TCustomEdit(AOwner)
    , FLines(std::make_unique<TStringList>()) {
    SetBounds(0, 0, 185, 89);
    FLines->SetOnChange(TNotifyEvent(this, &TCustomMemo::LinesChanged));
}

TCustomMemo::~TCustomMemo() = default;

TStrings* TCustomMemo::Lines() const {
    return FLines.get();
}

void TCustomMemo::SetLines(TStrings* AValue) {
    FLines->Assign(AValue);
}

void TCustomMemo::LinesChanged(TObject*) {
    if (FSyncing)
        return;
    FSyncing = true;
    std::string text = FLines->Text();
    // The control's text has no break after the last line.
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
        text.resize(text.size() - 2);
    try {
        TCustomEdit::SetText(text);
    } catch (...) {
        FSyncing = false;
        throw;
    }
    FSyncing = false;
}

void TCustomMemo::SetText(const std::string& AValue) {
    if (FSyncing) {
        TCustomEdit::SetText(AValue);
        return;
    }
    FSyncing = true;
    try {
        FLines->SetText(AValue);
        TCustomEdit::SetText(AValue);
    } catch (...) {
        FSyncing = false;
        throw;
    }
    FSyncing = false;
}

bool TCustomMemo::KeyDown(std::uint16_t& AKey, TShiftState) {
    if (AKey != VK_RETURN || !FWantReturns)
        return false;
    if (!ReadOnly())
        SetText(Text() + "\r\n");
    return true;
}

void TCustomMemo::KeyPress(char& AKey) {
    if (AKey == '\r' || AKey == '\n')
        return; // line breaks come from KeyDown
    TCustomEdit::KeyPress(AKey);
}

// ---- TComboBox ------------------------------------------------------------------------------

TComboBox::TComboBox(TComponent* AOwner)
    : TWinControl(AOwner)
    , FItems(std::make_unique<TStringList>()) {
    SetBounds(0, 0, 145, 21);
    SetTabStop(true);
    SetColor(clWindow);
    FItems->SetOnChange(TNotifyEvent(this, &TComboBox::ItemsChanged));
}

TComboBox::~TComboBox() = default;

TStrings* TComboBox::Items() const {
    return FItems.get();
}

void TComboBox::SetItems(TStrings* AValue) {
    FItems->Assign(AValue);
}

void TComboBox::ItemsChanged(TObject*) {
    if (FItemIndex >= FItems->Count())
        FItemIndex = -1;
    StateChanged();
}

void TComboBox::SetItemIndex(int AValue) {
    if (AValue < -1 || AValue >= FItems->Count())
        throw EListError("List index out of bounds (" + std::to_string(AValue) + ")");
    if (AValue == FItemIndex)
        return;
    FItemIndex = AValue;
    TWinControl::SetText(AValue >= 0 ? FItems->Strings(AValue) : std::string());
    if (FOnChange.Assigned() && !ComponentState().Contains(csLoading))
        FOnChange(this);
}

void TComboBox::SetText(const std::string& AValue) {
    if (FStyle == csDropDownList) {
        // The text of a drop-down list can only be one of its items.
        const int index = FItems->IndexOf(AValue);
        if (index >= 0)
            SetItemIndex(index);
        return;
    }
    FItemIndex = FItems->IndexOf(AValue);
    TWinControl::SetText(AValue);
}

// ---- TLabel ---------------------------------------------------------------------------------

TLabel::TLabel(TComponent* AOwner)
    : TGraphicControl(AOwner) {
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetFocusControl(TWinControl* AValue) {
    if (FFocusControl != nullptr)
        FFocusControl->RemoveFreeNotification(this);
    FFocusControl = AValue;
    if (AValue != nullptr)
        AValue->FreeNotification(this);
}

void TLabel::Notification(TComponent* AComponent, TOperation AOperation) {
    TGraphicControl::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent == FFocusControl)
        FFocusControl = nullptr;
}

} // namespace host
