// host/forms/Controls.cpp - TControl, TGraphicControl, TWinControl and the handle registry.
#include "host/forms/Controls.h"

#include "host/forms/Forms.h"
#include "host/ws/WidgetSet.h"
#include "platform/FaultSignals.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <unordered_map>

namespace host {

namespace {

// Live windowed controls by handle; main thread only (posting threads use only the numbers).
std::unordered_map<THandle, TWinControl*>& HandleRegistry() {
    static std::unordered_map<THandle, TWinControl*> registry;
    return registry;
}

} // namespace

THandle AllocateHandleNumber() {
    static std::atomic<THandle> next{0x100};
    return next.fetch_add(1);
}

TWinControl* FindControl(THandle AHandle) {
    auto& registry = HandleRegistry();
    const auto it = registry.find(AHandle);
    return it != registry.end() ? it->second : nullptr;
}

std::string GetShortHint(const std::string& AHint) {
    const auto bar = AHint.find('|');
    return bar == std::string::npos ? AHint : AHint.substr(0, bar);
}

std::string GetLongHint(const std::string& AHint) {
    const auto bar = AHint.find('|');
    return bar == std::string::npos ? AHint : AHint.substr(bar + 1);
}

TCustomForm* GetParentForm(const TControl* AControl) {
    const TControl* control = AControl;
    while (control != nullptr && control->Parent() != nullptr)
        control = control->Parent();
    return const_cast<TCustomForm*>(dynamic_cast<const TCustomForm*>(control));
}

const TClassInfo& TControl::StaticClassInfo() {
    using T = TControl;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TControl", &TComponent::StaticClassInfo())
            .Integer("Left", &T::Left, &T::SetLeft)
            .Integer("Top", &T::Top, &T::SetTop)
            .Integer("Width", &T::Width, &T::SetWidth)
            .Integer("Height", &T::Height, &T::SetHeight)
            .Integer("Color", &T::Color, &T::SetColor, Stored(&T::IsColorStored))
            .Bool("ParentColor", &T::ParentColor, &T::SetParentColor, true)
            .Bool("Enabled", &T::Enabled, &T::SetEnabled, true)
            .Object("Font", &T::Font, &T::SetFont)
            .String("Hint", &T::Hint, &T::SetHint)
            .Bool("ShowHint", &T::ShowHint, &T::SetShowHint, false)
            .Bool("Visible", &T::Visible, &T::SetVisible, true)
            .Build();
    return info;
}

const TClassInfo& TGraphicControl::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TGraphicControl>("TGraphicControl", &TControl::StaticClassInfo()).Build();
    return info;
}

const TClassInfo& TWinControl::StaticClassInfo() {
    using T = TWinControl;
    static const TClassInfo info = TClassInfoBuilder<T>("TWinControl", &TControl::StaticClassInfo())
                                       .Integer("TabOrder", &T::TabOrder, &T::SetTabOrder, -1)
                                       .Event("OnEnter", &T::OnEnter, &T::SetOnEnter)
                                       .Event("OnExit", &T::OnExit, &T::SetOnExit)
                                       .Event("OnKeyDown", &T::OnKeyDown, &T::SetOnKeyDown)
                                       .Event("OnKeyPress", &T::OnKeyPress, &T::SetOnKeyPress)
                                       .Build();
    return info;
}

// ---- TControl -------------------------------------------------------------------------------

TControl::TControl(TComponent* AOwner)
    : TComponent(AOwner)
    , FFont(std::make_unique<TFont>()) {}

TControl::~TControl() {
    ForgetControl(this);
    if (FParent != nullptr)
        FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* AParent) {
    if (AParent == FParent)
        return;
    for (const TControl* p = AParent; p != nullptr; p = p->Parent())
        if (p == this)
            throw EInvalidOperation("Control '" + Name() + "' cannot have itself as parent");
    if (FParent != nullptr)
        FParent->RemoveControl(this);
    if (AParent != nullptr) {
        AParent->InsertControl(this);
        if (FParentColor)
            ParentColorChanged();
    }
    StateChanged();
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    AWidth = std::max(AWidth, 0);
    AHeight = std::max(AHeight, 0);
    if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight)
        return;
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    StateChanged();
}

bool TControl::Showing() const {
    for (const TControl* c = this; c != nullptr; c = c->Parent())
        if (!c->Visible())
            return false;
    return true;
}

void TControl::SetVisible(bool AValue) {
    if (AValue == FVisible)
        return;
    FVisible = AValue;
    StateChanged();
}

void TControl::SetEnabled(bool AValue) {
    if (AValue == FEnabled)
        return;
    FEnabled = AValue;
    StateChanged();
}

void TControl::SetText(const std::string& AValue) {
    if (AValue == FText)
        return;
    FText = AValue;
    StateChanged();
}

void TControl::SetColor(TColor AValue) {
    FParentColor = false;
    if (AValue == FColor)
        return;
    FColor = AValue;
    StateChanged();
    if (auto* win = dynamic_cast<TWinControl*>(this))
        for (TControl* child : win->FControls)
            if (child->FParentColor)
                child->ParentColorChanged();
}

void TControl::SetParentColor(bool AValue) {
    FParentColor = AValue;
    if (AValue)
        ParentColorChanged();
}

void TControl::ParentColorChanged() {
    if (FParentColor && FParent != nullptr && FParent->Color() != FColor) {
        FColor = FParent->Color();
        StateChanged();
    }
}

void TControl::Click() {
    if (FOnClick.Assigned())
        FOnClick(this);
}

std::intptr_t TControl::Perform(std::uint32_t AMsg, std::uintptr_t AWParam, std::intptr_t ALParam) {
    TMessage message{AMsg, AWParam, ALParam, 0};
    WndProc(message);
    return message.Result;
}

void TControl::WndProc(TMessage& AMessage) {
    switch (AMessage.Msg) {
    case BM_CLICK:
        Click();
        break;
    case WM_MOUSEMOVE:
        // The pointer is over this control: its hint becomes the application's.
        if (Application != nullptr)
            Application->HintMouseMessage(this);
        break;
    default:
        break;
    }
}

void TControl::StateChanged() {}

void TGraphicControl::StateChanged() {
    if (Parent() != nullptr && Parent()->WSHandle() != nullptr)
        Parent()->WSHandle()->Invalidate();
}

// ---- TWinControl ----------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* AOwner)
    : TControl(AOwner) {}

TWinControl::~TWinControl() {
    while (!FControls.empty()) {
        TControl* child = FControls.back();
        RemoveControl(child);
        delete child;
    }
    DestroyHandle();
}

TControl* TWinControl::Controls(int AIndex) const {
    if (AIndex < 0 || AIndex >= ControlCount())
        throw EListError("List index out of bounds (" + std::to_string(AIndex) + ")");
    return FControls[static_cast<std::size_t>(AIndex)];
}

bool TWinControl::ContainsControl(const TControl* AControl) const {
    for (const TControl* c = AControl; c != nullptr; c = c->Parent())
        if (c == this)
            return true;
    return false;
}

void TWinControl::InsertControl(TControl* AControl) {
    FControls.push_back(AControl);
    AControl->FParent = this;
    if (auto* win = dynamic_cast<TWinControl*>(AControl))
        FTabList.push_back(win);
}

void TWinControl::RemoveControl(TControl* AControl) {
    ForgetControl(AControl);
    FControls.erase(std::remove(FControls.begin(), FControls.end(), AControl), FControls.end());
    FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), AControl), FTabList.end());
    AControl->FParent = nullptr;
}

int TWinControl::TabOrder() const {
    if (Parent() == nullptr)
        return -1;
    const auto& list = Parent()->FTabList;
    const auto it = std::find(list.begin(), list.end(), this);
    return it != list.end() ? static_cast<int>(it - list.begin()) : -1;
}

void TWinControl::SetTabOrder(int AValue) {
    FWantedTabOrder = AValue;
    if (Parent() == nullptr)
        return;
    auto& list = Parent()->FTabList;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    const auto index =
        static_cast<std::size_t>(std::clamp(AValue, 0, static_cast<int>(list.size())));
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), this);
}

void TWinControl::UpdateTabOrder() {
    std::stable_sort(FTabList.begin(), FTabList.end(), [](TWinControl* A, TWinControl* B) {
        const auto key = [](TWinControl* C) {
            return C->FWantedTabOrder < 0 ? std::numeric_limits<int>::max() : C->FWantedTabOrder;
        };
        return key(A) < key(B);
    });
}

bool TWinControl::CanFocus() const {
    const TCustomForm* form = GetParentForm(this);
    if (form == nullptr)
        return false;
    for (const TControl* c = this; c != form; c = c->Parent())
        if (!c->Visible() || !c->Enabled())
            return false;
    return form->CanFocus();
}

void TWinControl::SetFocus() {
    TCustomForm* form = GetParentForm(this);
    if (form == nullptr)
        throw EInvalidOperation("Control '" + Name() + "' has no parent window");
    form->FocusControl(this);
}

bool TWinControl::Focused() const {
    return Screen != nullptr && Screen->ActiveControl() == this;
}

THandle TWinControl::Handle() {
    if (FHandle == 0) {
        FHandle = AllocateHandleNumber();
        HandleRegistry()[FHandle] = this;
        if (TWidgetSet* ws = CurrentWidgetSet())
            FWSHandle = ws->CreateHandle(this);
        CreateWnd();
    }
    return FHandle;
}

void TWinControl::DestroyHandle() {
    if (FHandle == 0)
        return;
    for (TControl* child : FControls)
        if (auto* win = dynamic_cast<TWinControl*>(child))
            win->DestroyHandle();
    FWSHandle.reset();
    HandleRegistry().erase(FHandle);
    FHandle = 0;
}

void TWinControl::MainWndProc(TMessage& AMessage) {
    try {
        // A fault in a handler becomes an exception caught right here.
        platform::TFaultScope faults;
        WndProc(AMessage);
    } catch (...) {
        if (Application != nullptr)
            Application->HandleException(this);
        else
            throw;
    }
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& AList) const {
    for (TWinControl* child : FTabList) {
        AList.push_back(child);
        child->GetTabOrderList(AList);
    }
}

TWinControl* TWinControl::FindNextControl(TWinControl* ACurrent, bool AGoForward,
                                          bool ACheckTabStop) const {
    std::vector<TWinControl*> list;
    GetTabOrderList(list);
    if (list.empty())
        return nullptr;
    const auto count = static_cast<std::ptrdiff_t>(list.size());
    std::ptrdiff_t start = std::find(list.begin(), list.end(), ACurrent) - list.begin();
    if (start == count)
        start = AGoForward ? count - 1 : 0;
    std::ptrdiff_t i = start;
    for (std::ptrdiff_t n = 0; n < count; ++n) {
        i = AGoForward ? (i + 1) % count : (i + count - 1) % count;
        TWinControl* candidate = list[static_cast<std::size_t>(i)];
        if (candidate != ACurrent && candidate->CanFocus() &&
            (!ACheckTabStop || candidate->TabStop()))
            return candidate;
    }
    return nullptr;
}

void TWinControl::SelectNext(TWinControl* ACurrent, bool AGoForward, bool ACheckTabStop) {
    if (TWinControl* next = FindNextControl(ACurrent, AGoForward, ACheckTabStop))
        next->SetFocus();
}

void TWinControl::WndProc(TMessage& AMessage) {
    switch (AMessage.Msg) {
    case WM_KEYDOWN: {
        auto key = static_cast<std::uint16_t>(AMessage.WParam);
        const auto shift = TShiftState::FromBits(static_cast<std::uint64_t>(AMessage.LParam));
        if (FOnKeyDown.Assigned())
            FOnKeyDown(this, key, shift);
        if (key == 0 || KeyDown(key, shift))
            return;
        if (TCustomForm* form = GetParentForm(this))
            AMessage.Result = form->DialogKey(key, shift) ? 1 : 0;
        return;
    }
    case WM_SETFOCUS: {
        // The toolkit moved its focus here: the form becomes active on this control and the
        // screen follows, with the framework's events.
        TCustomForm* form = GetParentForm(this);
        if (form == nullptr || Focused() || !CanFocus())
            return;
        form->FocusControl(this);
        if (!form->Active() && form->CanFocus())
            form->SetFocus();
        return;
    }
    case WM_CHAR: {
        char c = static_cast<char>(AMessage.WParam);
        if (FOnKeyPress.Assigned())
            FOnKeyPress(this, c);
        if (c != 0)
            KeyPress(c);
        return;
    }
    default:
        TControl::WndProc(AMessage);
    }
}

bool TWinControl::KeyDown(std::uint16_t&, TShiftState) {
    return false;
}

void TWinControl::KeyPress(char&) {}

void TWinControl::DoEnter() {
    if (FOnEnter.Assigned())
        FOnEnter(this);
}

void TWinControl::DoExit() {
    if (FOnExit.Assigned())
        FOnExit(this);
}

void TWinControl::StateChanged() {
    TWSHandle* handle = FWSHandle.get();
    if (handle == nullptr)
        return;
    handle->SetText(Text());
    handle->SetBounds(Left(), Top(), Width(), Height());
    handle->SetVisible(Visible());
    handle->SetEnabled(Enabled());
    handle->Invalidate();
}

void TWinControl::ParentColorChanged() {
    TControl::ParentColorChanged();
    for (TControl* child : FControls)
        if (child->ParentColor())
            child->ParentColorChanged();
}

} // namespace host
