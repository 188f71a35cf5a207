// host/forms/Forms.cpp - TCustomForm, TScreen, TApplication and its message loop.
#include "host/forms/Forms.h"

#include "host/forms/Dialogs.h"
#include "host/forms/ExtCtrls.h"
#include "host/forms/StdCtrls.h"
#include "platform/FaultSignals.h"
#include "platform/File.h"
#include "platform/PlatformServices.h"
#include "platform/ProcessImage.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace host {

namespace {

const TTypeInfo& BorderStyleType() {
    return EnumType<TFormBorderStyle>(
        "TFormBorderStyle",
        {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"});
}

std::map<std::string, std::string_view, TTextLess>& FormResources() {
    static std::map<std::string, std::string_view, TTextLess> resources;
    return resources;
}

} // namespace

void RegisterFormResource(const std::string& AClassName, std::string_view AText) {
    FormResources()[AClassName] = AText;
}

std::string_view FindFormResource(const std::string& AClassName) {
    const auto& resources = FormResources();
    const auto it = resources.find(AClassName);
    return it != resources.end() ? it->second : std::string_view();
}

const TClassInfo& TCustomForm::StaticClassInfo() {
    using T = TCustomForm;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TCustomForm", &TWinControl::StaticClassInfo())
            .Enum("BorderStyle", &T::BorderStyle, &T::SetBorderStyle, BorderStyleType(), bsSizeable)
            .String("Caption", &T::Caption, &T::SetCaption)
            .Integer("ClientHeight", &T::ClientHeight, &T::SetClientHeight)
            .Integer("ClientWidth", &T::ClientWidth, &T::SetClientWidth)
            .Integer("HelpContext", &T::HelpContext, &T::SetHelpContext, 0)
            .Bool("OldCreateOrder", &T::OldCreateOrder, &T::SetOldCreateOrder)
            .Enum("Position", &T::Position, &T::SetPosition,
                  EnumType<TPosition>("TPosition",
                                      {"poDesigned", "poDefault", "poDefaultPosOnly",
                                       "poDefaultSizeOnly", "poScreenCenter", "poDesktopCenter",
                                       "poMainFormCenter", "poOwnerFormCenter"}),
                  poDesigned)
            .Integer("PixelsPerInch", &T::PixelsPerInch, &T::SetPixelsPerInch)
            .Integer("TextHeight", &T::TextHeight, &T::SetTextHeight)
            .Event("OnActivate", &T::OnActivate, &T::SetOnActivate)
            .Event("OnClose", &T::OnClose, &T::SetOnClose)
            .Event("OnCloseQuery", &T::OnCloseQuery, &T::SetOnCloseQuery)
            .Event("OnCreate", &T::OnCreate, &T::SetOnCreate)
            .Event("OnDeactivate", &T::OnDeactivate, &T::SetOnDeactivate)
            .Event("OnHide", &T::OnHide, &T::SetOnHide)
            .Event("OnShow", &T::OnShow, &T::SetOnShow)
            .Build();
    return info;
}

const TClassInfo& TForm::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TForm>("TForm", &TCustomForm::StaticClassInfo()).Component().Build();
    return info;
}

const TClassInfo& TScreen::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TScreen>("TScreen", &TComponent::StaticClassInfo()).Build();
    return info;
}

const TClassInfo& TApplication::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TApplication>("TApplication", &TComponent::StaticClassInfo()).Build();
    return info;
}

void RegisterFormClasses() {
    RegisterClasses({&TForm::StaticClassInfo(), &TButton::StaticClassInfo(),
                     &TCheckBox::StaticClassInfo(), &TEdit::StaticClassInfo(),
                     &TMemo::StaticClassInfo(), &TComboBox::StaticClassInfo(),
                     &TLabel::StaticClassInfo(), &TImage::StaticClassInfo(),
                     &TPanel::StaticClassInfo(), &TTimer::StaticClassInfo()});
}

// ---- TCustomForm ----------------------------------------------------------------------------

TCustomForm::TCustomForm(TComponent* AOwner)
    : TWinControl(AOwner)
    , FIcon(std::make_unique<TIcon>()) {
    SetVisible(false);
    SetColor(clBtnFace);
    if (Screen != nullptr)
        Screen->AddForm(this);
}

TCustomForm::~TCustomForm() {
    if (Screen != nullptr)
        Screen->RemoveForm(this);
    if (Application != nullptr && Application->MainForm() == this)
        Application->FMainForm = nullptr;
}

void TCustomForm::AfterConstruction() {
    TWinControl::AfterConstruction();
    const std::string_view resource = FindFormResource(ClassName());
    if (!resource.empty())
        ReadComponentInto(this, std::string(resource));
    if (FOnCreate.Assigned())
        FOnCreate(this);
}

void TCustomForm::Loaded() {
    TWinControl::Loaded();
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* control = dynamic_cast<TControl*>(Components(i));
            control != nullptr && control->Parent() == nullptr)
            control->SetParent(this);
    UpdateTabOrder();
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* win = dynamic_cast<TWinControl*>(Components(i)))
            win->UpdateTabOrder();
}

void TCustomForm::SetActiveControl(TWinControl* AControl) {
    if (AControl == FActiveControl)
        return;
    if (AControl != nullptr &&
        (AControl == this || GetParentForm(AControl) != this || !AControl->CanFocus()))
        throw EInvalidOperation("Cannot focus a disabled or invisible window");
    FActiveControl = AControl;
    if (Active() && AControl != nullptr)
        SetFocusedControl(AControl);
}

bool TCustomForm::Active() const {
    return Screen != nullptr && Screen->ActiveCustomForm() == this;
}

bool TCustomForm::CanFocus() const {
    return Visible() && Enabled();
}

void TCustomForm::FocusControl(TWinControl* AControl) {
    if (AControl == this) {
        SetFocus();
        return;
    }
    if (!AControl->CanFocus())
        throw EInvalidOperation("Cannot focus a disabled or invisible window");
    FActiveControl = AControl;
    if (Active())
        SetFocusedControl(AControl);
}

void TCustomForm::SetFocus() {
    if (!CanFocus())
        throw EInvalidOperation("Cannot focus a disabled or invisible window");
    ActivateForm();
}

void TCustomForm::ActivateForm() {
    TWinControl* target = FActiveControl;
    if (target == nullptr || !target->CanFocus())
        target = FindNextControl(nullptr, true, true);
    SetFocusedControl(target != nullptr ? target : this);
}

void TCustomForm::SetFocusedControl(TWinControl* AControl) {
    if (Screen == nullptr) {
        FFocusedControl = AControl;
        return;
    }
    TScreen& screen = *Screen;
    TCustomForm* oldForm = screen.FActiveCustomForm;
    TWinControl* oldControl = screen.FActiveControl;
    if (oldForm == this && oldControl == AControl)
        return;
    const std::uint64_t generation = ++screen.FFocusGeneration;
    const auto moved = [&] { return Screen == nullptr || screen.FFocusGeneration != generation; };

    if (AControl != this)
        FActiveControl = AControl;
    screen.FActiveControl = AControl;
    screen.FActiveCustomForm = this;
    screen.FActiveForm = dynamic_cast<TForm*>(this);
    auto& order = screen.FCustomForms;
    order.erase(std::remove(order.begin(), order.end(), this), order.end());
    order.insert(order.begin(), this);

    const bool formChanged = oldForm != this;
    if (formChanged) {
        if (oldForm != nullptr && oldForm->FOnDeactivate.Assigned()) {
            oldForm->FOnDeactivate(oldForm);
            if (moved())
                return;
        }
        if (FOnActivate.Assigned()) {
            FOnActivate(this);
            if (moved())
                return;
        }
    }
    // Leave the controls of this form that do not contain the new one, innermost first.
    TWinControl* previous = FFocusedControl;
    FFocusedControl = AControl;
    while (previous != nullptr && previous != this && !previous->ContainsControl(AControl)) {
        TWinControl* parent = previous->Parent();
        previous->DoExit();
        if (moved())
            return;
        previous = parent;
    }
    // Enter the controls down to the new one, outermost first.
    std::vector<TWinControl*> entered;
    for (TWinControl* c = AControl; c != nullptr && c != this && c != previous; c = c->Parent())
        entered.push_back(c);
    for (auto it = entered.rbegin(); it != entered.rend(); ++it) {
        (*it)->DoEnter();
        if (moved())
            return;
    }
    if (formChanged && screen.FOnActiveFormChange.Assigned()) {
        screen.FOnActiveFormChange(&screen);
        if (moved())
            return;
    }
    if (oldControl != AControl && screen.FOnActiveControlChange.Assigned())
        screen.FOnActiveControlChange(&screen);
}

void TCustomForm::PlaceOnScreen() {
    if (FPosition != poScreenCenter && FPosition != poDesktopCenter)
        return;
    if (Screen == nullptr || Screen->Width() <= 0 || Screen->Height() <= 0)
        return; // no screen to centre on: the stored place stays
    SetBounds((Screen->Width() - Width()) / 2, (Screen->Height() - Height()) / 2, Width(),
              Height());
}

void TCustomForm::SetVisible(bool AValue) {
    if (AValue == Visible())
        return;
    if (AValue) {
        PlaceOnScreen();
        HandleNeeded();
        std::vector<TWinControl*> children;
        GetTabOrderList(children);
        for (TWinControl* child : children)
            child->HandleNeeded();
    }
    TWinControl::SetVisible(AValue);
    if (AValue) {
        if (FOnShow.Assigned())
            FOnShow(this);
    } else {
        if (FOnHide.Assigned())
            FOnHide(this);
        if (Screen != nullptr)
            Screen->FormHidden(this);
    }
}

void TCustomForm::Show() {
    SetVisible(true);
    ActivateForm();
}

TModalResult TCustomForm::ShowModal() {
    if (Visible() || !Enabled() || FModal)
        throw EInvalidOperation("Cannot make a visible window modal");
    if (Application == nullptr)
        throw EInvalidOperation("Cannot show a modal form without an application");
    TCustomForm* previous = Screen != nullptr ? Screen->ActiveCustomForm() : nullptr;
    FModal = true;
    FModalResult = mrNone;

    struct TModalEnd {
        TCustomForm* Form;
        TCustomForm* Previous;

        ~TModalEnd() {
            Form->FModal = false;
            Form->SetVisible(false);
            if (Previous != nullptr && Screen != nullptr && Previous->Visible() &&
                std::find(Screen->FCustomForms.begin(), Screen->FCustomForms.end(), Previous) !=
                    Screen->FCustomForms.end())
                Previous->ActivateForm();
        }
    } modalEnd{this, previous};

    Show();
    Application->WidgetSet().ShowModal(this);
    return FModalResult;
}

bool TCustomForm::CloseQuery() {
    bool canClose = true;
    if (FOnCloseQuery.Assigned())
        FOnCloseQuery(this, canClose);
    return canClose;
}

void TCustomForm::DoClose(TCloseAction& AAction) {
    if (FOnClose.Assigned())
        FOnClose(this, AAction);
}

void TCustomForm::Close() {
    if (FModal) {
        FModalResult = mrCancel;
        return;
    }
    if (!CloseQuery())
        return;
    TCloseAction action = caHide;
    DoClose(action);
    if (action == caNone)
        return;
    if (Application != nullptr && Application->MainForm() == this)
        Application->Terminate();
    else if (action == caFree)
        Release();
    else
        Hide();
}

bool TCustomForm::CloseModal() {
    TCloseAction action = caNone;
    if (CloseQuery()) {
        action = caHide;
        DoClose(action);
    }
    if (action == caNone) {
        FModalResult = mrNone;
        return false;
    }
    if (action == caFree)
        Release();
    return true;
}

void TCustomForm::Release() {
    if (Application != nullptr)
        Application->PostMessage(Handle(), CM_RELEASE);
}

bool TCustomForm::DialogKey(std::uint16_t AKey, TShiftState AShift) {
    auto findButton = [this](auto APredicate) -> TControl* {
        std::vector<TWinControl*> list;
        GetTabOrderList(list);
        for (TWinControl* c : list)
            if (APredicate(c) && c->CanFocus())
                return c;
        return nullptr;
    };
    switch (AKey) {
    case VK_RETURN: {
        TControl* button = nullptr;
        TWinControl* focused = Screen != nullptr ? Screen->ActiveControl() : nullptr;
        if (focused != nullptr && focused->Perform(CM_DIALOGKEY, 0, 0) != 0)
            button = focused; // the focused button takes Enter itself
        else
            button = findButton([](TWinControl* c) { return c->Perform(CM_DIALOGKEY, 1, 0) != 0; });
        if (button == nullptr)
            return false;
        button->Click();
        return true;
    }
    case VK_ESCAPE: {
        TControl* button =
            findButton([](TWinControl* c) { return c->Perform(CM_DIALOGKEY, 2, 0) != 0; });
        if (button == nullptr)
            return false;
        button->Click();
        return true;
    }
    case VK_TAB:
        SelectNext(Screen != nullptr ? Screen->ActiveControl() : nullptr, !AShift.Contains(ssShift),
                   true);
        return true;
    case VK_F1:
        if (FHelpContext == 0 || Application == nullptr)
            return false;
        Application->HelpContext(FHelpContext);
        return true;
    default:
        return false;
    }
}

void TCustomForm::WndProc(TMessage& AMessage) {
    switch (AMessage.Msg) {
    case WM_CLOSE:
        Close();
        return;
    case CM_RELEASE:
        delete this;
        return;
    case WM_SYSCOMMAND:
        // Minimising the main form minimises the whole application, as its taskbar button does.
        if (Application != nullptr && Application->MainForm() == this) {
            if ((AMessage.WParam & 0xFFF0) == SC_MINIMIZE)
                Application->Minimize();
            else if ((AMessage.WParam & 0xFFF0) == SC_RESTORE)
                Application->Restore();
        }
        return;
    default:
        TWinControl::WndProc(AMessage);
    }
}

// ---- TScreen --------------------------------------------------------------------------------

TScreen::TScreen(TComponent* AOwner)
    : TComponent(AOwner) {}

TScreen::~TScreen() = default;

int TScreen::Width() const {
    TWidgetSet* ws = CurrentWidgetSet();
    return ws != nullptr ? ws->ScreenSize().Width : 0;
}

int TScreen::Height() const {
    TWidgetSet* ws = CurrentWidgetSet();
    return ws != nullptr ? ws->ScreenSize().Height : 0;
}

TCustomForm* TScreen::CustomForms(int AIndex) const {
    if (AIndex < 0 || AIndex >= CustomFormCount())
        throw EListError("List index out of bounds (" + std::to_string(AIndex) + ")");
    return FCustomForms[static_cast<std::size_t>(AIndex)];
}

int TScreen::FormCount() const {
    return static_cast<int>(std::count_if(FCustomForms.begin(), FCustomForms.end(), [](auto* f) {
        return dynamic_cast<TForm*>(f) != nullptr;
    }));
}

TForm* TScreen::Forms(int AIndex) const {
    int i = 0;
    for (TCustomForm* f : FCustomForms)
        if (auto* form = dynamic_cast<TForm*>(f)) {
            if (i++ == AIndex)
                return form;
        }
    throw EListError("List index out of bounds (" + std::to_string(AIndex) + ")");
}

void TScreen::AddForm(TCustomForm* AForm) {
    FCustomForms.push_back(AForm);
}

void TScreen::RemoveForm(TCustomForm* AForm) {
    FCustomForms.erase(std::remove(FCustomForms.begin(), FCustomForms.end(), AForm),
                       FCustomForms.end());
    if (FActiveCustomForm == AForm) {
        FActiveCustomForm = nullptr;
        FActiveForm = nullptr;
        if (FActiveControl != nullptr && AForm->ContainsControl(FActiveControl))
            FActiveControl = nullptr;
    }
}

void TScreen::FormHidden(TCustomForm* AForm) {
    if (FActiveCustomForm != AForm)
        return;
    // The focus goes to the most recently active form that is still visible.
    for (TCustomForm* f : FCustomForms)
        if (f != AForm && f->Visible() && f->Enabled()) {
            f->ActivateForm();
            return;
        }
    const std::uint64_t generation = ++FFocusGeneration;
    const bool hadControl = FActiveControl != nullptr;
    FActiveCustomForm = nullptr;
    FActiveForm = nullptr;
    FActiveControl = nullptr;
    if (AForm->FOnDeactivate.Assigned()) {
        AForm->FOnDeactivate(AForm);
        if (generation != FFocusGeneration)
            return;
    }
    if (FOnActiveFormChange.Assigned()) {
        FOnActiveFormChange(this);
        if (generation != FFocusGeneration)
            return;
    }
    if (hadControl && FOnActiveControlChange.Assigned())
        FOnActiveControlChange(this);
}

namespace {

// True when AControl is AContainer or lies inside it; reads only the parent links, so it works
// while AContainer is being destroyed.
bool IsInside(const TControl* AControl, const TControl* AContainer) {
    for (const TControl* c = AControl; c != nullptr; c = c->Parent())
        if (c == AContainer)
            return true;
    return false;
}

} // namespace

void TCustomForm::ControlRemoved(TControl* AGone) {
    if (IsInside(FActiveControl, AGone))
        FActiveControl = nullptr;
    if (IsInside(FFocusedControl, AGone))
        FFocusedControl = nullptr;
}

void ForgetControl(TControl* AControl) {
    if (Screen != nullptr && IsInside(Screen->FActiveControl, AControl))
        Screen->FActiveControl = nullptr;
    if (Application != nullptr && IsInside(Application->FMouseControl, AControl)) {
        Application->CancelHint(); // no hint window stays over a control that is gone
        Application->FMouseControl = nullptr;
    }
    // The form is found through the parent links, which are intact at this point.
    const TControl* top = AControl;
    while (top->Parent() != nullptr)
        top = top->Parent();
    if (top != AControl && Screen != nullptr)
        for (TCustomForm* form : Screen->FCustomForms)
            if (form == top)
                form->ControlRemoved(AControl);
}

// ---- TApplication ---------------------------------------------------------------------------

TApplication::TApplication(TComponent* AOwner, std::unique_ptr<TWidgetSet> AWidgetSet)
    : TComponent(AOwner)
    , FWidgetSet(std::move(AWidgetSet))
    , FHandle(AllocateHandleNumber()) {
    if (!FWidgetSet)
        throw EInvalidOperation("An application needs a widgetset");
    SetWakeMainThread(TNotifyEvent(this, &TApplication::WakeMainThread));
}

TApplication::~TApplication() {
    SetWakeMainThread(TNotifyEvent());
    StopHintTimer();
    // Forms go before the widgetset that shows them.
    Destroying();
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
}

void TApplication::WakeMainThread(TObject*) {
    PostMessage(FHandle, WM_NULL);
}

std::string TApplication::ExeName() const {
    return platform::PlatformServices().Files->ExecutablePath();
}

std::string TApplication::Title() const {
    if (FTitleSet)
        return FTitle;
    std::string name = ExeName();
    if (const auto slash = name.rfind('/'); slash != std::string::npos)
        name.erase(0, slash + 1);
    if (const auto dot = name.find('.'); dot != std::string::npos)
        name.erase(dot);
    if (!name.empty())
        name = name.front() + LowerCase(name.substr(1));
    return name;
}

void TApplication::Run() {
    if (FMainForm != nullptr && !FTerminated) {
        try {
            platform::TFaultScope faults;
            FMainForm->Show();
        } catch (...) {
            HandleException(this);
        }
    }
    while (!FTerminated) {
        try {
            platform::TFaultScope faults;
            HandleMessage();
        } catch (...) {
            HandleException(this);
        }
    }
}

void TApplication::Terminate() {
    PostMessage(FHandle, WM_QUIT);
}

void TApplication::ProcessMessages() {
    while (ProcessMessage()) {
    }
    CheckSynchronize();
}

void TApplication::HandleMessage() {
    if (!ProcessMessage())
        Idle();
}

bool TApplication::ProcessMessage() {
    FWidgetSet->AppProcessMessages();
    TMsg msg;
    {
        std::lock_guard lock(FQueueMutex);
        if (FQueue.empty())
            return false;
        msg = FQueue.front();
        FQueue.pop_front();
    }
    if (msg.Message == WM_QUIT) {
        FTerminated = true;
        return true;
    }
    bool handled = false;
    if (FOnMessage.Assigned())
        FOnMessage(msg, handled);
    if (!handled)
        DispatchMessage(msg);
    return true;
}

void TApplication::DispatchMessage(TMsg& AMsg) {
    TMessage message{AMsg.Message, AMsg.WParam, AMsg.LParam, 0};
    if (AMsg.Hwnd == FHandle)
        MainWndProc(message);
    else if (TWinControl* control = FindControl(AMsg.Hwnd))
        control->MainWndProc(message);
    // A message for a window that is gone is dropped, as the system does.
}

void TApplication::Idle() {
    if (IdleStep())
        FWidgetSet->AppWaitMessage();
}

bool TApplication::IdleStep() {
    SetHint(FMouseControl != nullptr ? GetLongHint(FMouseControl->Hint()) : std::string());
    bool done = true;
    if (FOnIdle.Assigned())
        FOnIdle(this, done);
    if (CheckSynchronize())
        done = false;
    return done;
}

void TApplication::WaitForPostedMessage() {
    std::unique_lock lock(FQueueMutex);
    FQueueChanged.wait(lock, [this] { return !FQueue.empty(); });
}

bool TApplication::PostMessage(THandle AHandle, std::uint32_t AMsg, std::uintptr_t AWParam,
                               std::intptr_t ALParam) {
    if (AHandle == 0)
        return false;
    {
        std::lock_guard lock(FQueueMutex);
        FQueue.push_back(TMsg{AHandle, AMsg, AWParam, ALParam, 0, {}});
    }
    FQueueChanged.notify_all();
    FWidgetSet->AppWakeUp();
    return true;
}

std::intptr_t TApplication::SendMessage(THandle AHandle, std::uint32_t AMsg, std::uintptr_t AWParam,
                                        std::intptr_t ALParam) {
    TMessage message{AMsg, AWParam, ALParam, 0};
    if (AHandle == FHandle)
        WndProc(message);
    else if (TWinControl* control = FindControl(AHandle))
        control->WndProc(message);
    return message.Result;
}

void TApplication::MainWndProc(TMessage& AMessage) {
    try {
        // A fault in a handler or hook becomes an exception caught right here.
        platform::TFaultScope faults;
        WndProc(AMessage);
    } catch (...) {
        HandleException(this);
    }
}

void TApplication::WndProc(TMessage& AMessage) {
    // A copy: a hook may unhook itself (or others) while it runs.
    const std::vector<TWindowHook> hooks = FHooks;
    for (const TWindowHook& hook : hooks)
        if (hook(AMessage))
            return;
    switch (AMessage.Msg) {
    case WM_NULL:
        CheckSynchronize();
        break;
    case WM_ACTIVATEAPP:
        FActive = AMessage.WParam != 0;
        PostMessage(FHandle, FActive ? CM_ACTIVATE : CM_DEACTIVATE);
        break;
    case CM_ACTIVATE:
        if (FOnActivate.Assigned())
            FOnActivate(this);
        break;
    case CM_DEACTIVATE:
        if (FOnDeactivate.Assigned())
            FOnDeactivate(this);
        break;
    case WM_CLOSE:
        if (FMainForm != nullptr)
            FMainForm->Close();
        else
            Terminate();
        break;
    case WM_SYSCOMMAND:
        if ((AMessage.WParam & 0xFFF0) == SC_MINIMIZE)
            Minimize();
        else if ((AMessage.WParam & 0xFFF0) == SC_RESTORE)
            Restore();
        break;
    default:
        break;
    }
}

void TApplication::HookMainWindow(const TWindowHook& AHook) {
    FHooks.push_back(AHook);
}

void TApplication::UnhookMainWindow(const TWindowHook& AHook) {
    const auto it = std::find(FHooks.begin(), FHooks.end(), AHook);
    if (it != FHooks.end())
        FHooks.erase(it);
}

namespace {

// The last resort when showing an exception fails as well: standard error always works.
void ReportToStandardError(const char* AWhat) {
    std::fprintf(stderr, "Exception while handling an exception: %s\n", AWhat);
}

} // namespace

void TApplication::HandleException(TObject* ASender) {
    Exception* e = ExceptObject();
    if (e == nullptr || dynamic_cast<EAbort*>(e) != nullptr)
        return;
    try {
        if (FOnException.Assigned())
            FOnException(ASender, e);
        else
            ShowException(e);
    } catch (...) {
        // The handler itself failed: show that failure and let the loop go on.
        Exception* inner = ExceptObject();
        if (inner == nullptr || dynamic_cast<EAbort*>(inner) != nullptr)
            return;
        try {
            ShowException(inner);
        } catch (...) {
            Exception* last = ExceptObject();
            ReportToStandardError(last != nullptr ? last->Message().c_str() : "unknown");
        }
    }
}

void TApplication::ShowException(Exception* E) {
    if (E == nullptr)
        return;
    std::string message = E->Message();
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        message += '.';
    TMessageDlgRequest request;
    request.Caption = Title();
    request.Text = message;
    request.DlgType = mtError;
    request.Buttons = {mbOK};
    request.DefaultResult = mrOk;
    request.CancelResult = mrOk;
    FWidgetSet->MessageDlg(request);
}

void TApplication::Minimize() {
    if (FMinimized)
        return;
    FMinimized = true;
    if (FOnMinimize.Assigned())
        FOnMinimize(this);
}

void TApplication::Restore() {
    if (!FMinimized)
        return;
    FMinimized = false;
    if (FOnRestore.Assigned())
        FOnRestore(this);
}

void TApplication::SetHint(const std::string& AValue) {
    if (AValue == FHint)
        return;
    FHint = AValue;
    if (FOnHint.Assigned())
        FOnHint(this);
}

bool TApplication::ActivateHint(TControl* AControl, std::string& AHintStr) {
    AHintStr.clear();
    if (AControl == nullptr)
        return false;
    AHintStr = GetShortHint(AControl->Hint());
    bool canShow = AControl->ShowHint();
    THintInfo info;
    info.HintControl = AControl;
    info.HintPos = {AControl->Left(), AControl->Top() + AControl->Height()};
    info.CursorRect = AControl->BoundsRect();
    info.HideTimeout = 2500;
    info.HintStr = AHintStr;
    if (FOnShowHint.Assigned())
        FOnShowHint(AHintStr, canShow, info);
    if (!canShow || AHintStr.empty())
        return false;
    FWidgetSet->ShowHint(AHintStr, info.HintPos);
    FHintShown = true;
    return true;
}

void TApplication::HintMouseMessage(TControl* AControl) {
    if (AControl == FMouseControl)
        return;
    CancelHint();
    FMouseControl = AControl;
    if (AControl != nullptr && AControl->ShowHint() && !GetShortHint(AControl->Hint()).empty())
        FHintTimer =
            FWidgetSet->CreateTimer(FHintPause, TTimerProc(this, &TApplication::HintTimerExpired));
}

void TApplication::CancelHint() {
    StopHintTimer();
    if (FHintShown) {
        FHintShown = false;
        FWidgetSet->HideHint();
    }
}

void TApplication::StopHintTimer() {
    if (FHintTimer != 0)
        FWidgetSet->DestroyTimer(FHintTimer);
    FHintTimer = 0;
}

void TApplication::HintTimerExpired() {
    StopHintTimer();
    // The hint is due once; OnShowHint runs from the timer, so what it raises is handled here.
    try {
        std::string hint;
        ActivateHint(FMouseControl, hint);
    } catch (...) {
        HandleException(this);
    }
}

bool TApplication::HelpCommand(std::uint16_t ACommand, std::int32_t AData) {
    bool callHelp = true;
    bool result = false;
    TCustomForm* form = Screen != nullptr ? Screen->ActiveCustomForm() : nullptr;
    if (form != nullptr && form->OnHelp().Assigned())
        result = form->OnHelp()(ACommand, AData, callHelp);
    else if (FOnHelp.Assigned())
        result = FOnHelp(ACommand, AData, callHelp);
    if (callHelp)
        result = false; // no help system to ask
    return result;
}

// ---- the application's life -----------------------------------------------------------------

void InitApplication(std::unique_ptr<TWidgetSet> AWidgetSet) {
    if (Application != nullptr)
        throw EInvalidOperation("The application already exists");
    if (!AWidgetSet)
        throw EInvalidOperation("An application needs a widgetset");
    auto app = std::make_unique<TApplication>(nullptr, std::move(AWidgetSet));
    app->AfterConstruction();
    Application = app.release();
    Screen = Create<TScreen>(nullptr);
    RegisterFormClasses();
}

void DoneApplication() {
    if (Application != nullptr) {
        TApplication* app = Application;
        delete app; // forms still see Application and Screen while they go
        Application = nullptr;
    }
    if (Screen != nullptr) {
        TScreen* screen = Screen;
        Screen = nullptr;
        delete screen;
    }
}

bool PostMessage(THandle AHandle, std::uint32_t AMsg, std::uintptr_t AWParam,
                 std::intptr_t ALParam) {
    return Application != nullptr && Application->PostMessage(AHandle, AMsg, AWParam, ALParam);
}

std::intptr_t SendMessage(THandle AHandle, std::uint32_t AMsg, std::uintptr_t AWParam,
                          std::intptr_t ALParam) {
    return Application != nullptr ? Application->SendMessage(AHandle, AMsg, AWParam, ALParam) : 0;
}

} // namespace host
