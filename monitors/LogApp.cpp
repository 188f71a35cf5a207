// monitors/LogApp.cpp - TJexAppLog: taking the host's events over and giving them back, the
// relaying handlers, the main-window hook and the published members.
#include "monitors/LogApp.h"

#include "host/forms/ExceptionChain.h"

#include <algorithm>
#include <vector>

namespace jex {

using namespace host;

namespace {

// Every component whose relays are installed is listed here, so that one going off can re-link
// the components that saved its relays: no saved handler ever points at a component that is no
// longer hooked. Main thread only, as are the host's events.
std::vector<TJexAppLog*>& HookedLogs() {
    static std::vector<TJexAppLog*> logs;
    return logs;
}

int& LogAppInitCount() {
    static int count = 0;
    return count;
}

// Where one of the host's events is read and written, and which slot of the component saves it.
template <typename Host, typename Event>
struct TSlot {
    const Event& (Host::*Get)() const;
    void (Host::*Set)(const Event&);
    Event TJexAppLog::*Saved;
};

// Hands the handler of one of this component's slots on to the others that saved this
// component's relay in the same slot; true when there was one.
template <typename Event>
bool Relink(TJexAppLog* ALeaving, Event TJexAppLog::*ASaved, const Event& AMine) {
    bool relinked = false;
    for (TJexAppLog* other : HookedLogs())
        if (other != ALeaving && other->*ASaved == AMine) {
            other->*ASaved = ALeaving->*ASaved;
            relinked = true;
        }
    return relinked;
}

// Calls each of the two handlers that is assigned, in this order, with the same arguments: a
// var argument the first one changes is what the second one sees.
template <typename Event, typename... Args>
void CallBoth(const Event& AFirst, const Event& ASecond, Args&... AArgs) {
    if (AFirst.Assigned())
        AFirst(AArgs...);
    if (ASecond.Assigned())
        ASecond(AArgs...);
}

} // namespace

void LogAppInitialization() {
    if (LogAppInitCount()-- == 0)
        RegisterClass(TJexAppLog::StaticClassInfo());
}

void LogAppFinalization() {
    ++LogAppInitCount();
}

// ---- Construction ---------------------------------------------------------------------------

TJexAppLog::TJexAppLog(TComponent* AOwner)
    : TJexLogBase(AOwner) {}

TJexAppLog::~TJexAppLog() {
    SetActive(false);
}

void TJexAppLog::AfterConstruction() {
    TJexLogBase::AfterConstruction();
    SetActive(true);
}

// ---- Taking the events over and giving them back ---------------------------------------------

void TJexAppLog::SetActive(bool AValue) {
    TJexLogBase::SetActive(AValue);
    if (ComponentState().Contains(csDesigning))
        return; // a designer only stores the value
    if (AValue)
        Hook();
    else
        Unhook();
}

void TJexAppLog::Hook() {
    // Hooking twice would save this component's own relays as the previous handlers, and each
    // relay would then call itself without end.
    if (FHookedApplication != nullptr || Application == nullptr)
        return;
    TApplication& app = *Application;
    app.HookMainWindow(TWindowHook(this, &TJexAppLog::MessageHook));

    FSavedActivate = app.OnActivate();
    FSavedDeactivate = app.OnDeactivate();
    FSavedException = app.OnException();
    FSavedIdle = app.OnIdle();
    FSavedHelp = app.OnHelp();
    FSavedHint = app.OnHint();
    FSavedMessage = app.OnMessage();
    FSavedMinimize = app.OnMinimize();
    FSavedRestore = app.OnRestore();
    FSavedShowHint = app.OnShowHint();

    app.SetOnActivate(TNotifyEvent(this, &TJexAppLog::DoActivate));
    app.SetOnDeactivate(TNotifyEvent(this, &TJexAppLog::DoDeactivate));
    app.SetOnException(TExceptionEvent(this, &TJexAppLog::DoException));
    TExceptionChain::Join(TExceptionEvent(this, &TJexAppLog::DoException), &FSavedException);
    app.SetOnIdle(TIdleEvent(this, &TJexAppLog::DoIdle));
    app.SetOnHelp(THelpEvent(this, &TJexAppLog::DoHelp));
    app.SetOnHint(TNotifyEvent(this, &TJexAppLog::DoHint));
    app.SetOnMessage(TMessageEvent(this, &TJexAppLog::DoMessage));
    app.SetOnMinimize(TNotifyEvent(this, &TJexAppLog::DoMinimize));
    app.SetOnRestore(TNotifyEvent(this, &TJexAppLog::DoRestore));
    app.SetOnShowHint(TShowHintEvent(this, &TJexAppLog::DoShowHint));

    if (Screen != nullptr) {
        FSavedActiveControlChange = Screen->OnActiveControlChange();
        FSavedActiveFormChange = Screen->OnActiveFormChange();
        Screen->SetOnActiveControlChange(TNotifyEvent(this, &TJexAppLog::DoActiveControlChange));
        Screen->SetOnActiveFormChange(TNotifyEvent(this, &TJexAppLog::DoActiveFormChange));
        FHookedScreen = Screen;
    }
    FHookedApplication = &app;
    HookedLogs().push_back(this);
}

void TJexAppLog::Unhook() {
    // Nothing was taken over (the base construction's deactivation, a second deactivation): the
    // host's events keep whatever handlers they have.
    if (FHookedApplication == nullptr)
        return;
    std::vector<TJexAppLog*>& logs = HookedLogs();
    logs.erase(std::remove(logs.begin(), logs.end(), this), logs.end());

    // The application may be gone already (a component without owner outliving it).
    TApplication* app = Application == FHookedApplication ? Application : nullptr;
    if (app != nullptr)
        app->UnhookMainWindow(TWindowHook(this, &TJexAppLog::MessageHook));

    // Each application event gets back the handler found at activation. Where another component
    // activated later saved this one's relay, it is handed that handler instead and stays
    // installed, so the chain goes on without this component.
    const auto giveBack = [&](const auto& ASlot, const auto& AMine) {
        const bool relinked = Relink(this, ASlot.Saved, AMine);
        if (app != nullptr && (!relinked || (app->*ASlot.Get)() == AMine))
            (app->*ASlot.Set)(this->*ASlot.Saved);
        (this->*ASlot.Saved).Clear();
    };
    using A = TApplication;
    using T = TJexAppLog;
    giveBack(TSlot<A, TNotifyEvent>{&A::OnActivate, &A::SetOnActivate, &T::FSavedActivate},
             TNotifyEvent(this, &T::DoActivate));
    giveBack(TSlot<A, TNotifyEvent>{&A::OnDeactivate, &A::SetOnDeactivate, &T::FSavedDeactivate},
             TNotifyEvent(this, &T::DoDeactivate));
    // The exception event's chain also holds exception loggers: relinked across both classes,
    // and a logger's handler found there is never replaced by this component's saved one.
    {
        const TExceptionEvent mine(this, &T::DoException);
        const bool relinked = TExceptionChain::Leave(mine);
        if (app != nullptr && (app->OnException() == mine ||
                               (!relinked && !TExceptionChain::IsMember(app->OnException()))))
            app->SetOnException(FSavedException);
        FSavedException.Clear();
    }
    giveBack(TSlot<A, TIdleEvent>{&A::OnIdle, &A::SetOnIdle, &T::FSavedIdle},
             TIdleEvent(this, &T::DoIdle));
    giveBack(TSlot<A, THelpEvent>{&A::OnHelp, &A::SetOnHelp, &T::FSavedHelp},
             THelpEvent(this, &T::DoHelp));
    giveBack(TSlot<A, TNotifyEvent>{&A::OnHint, &A::SetOnHint, &T::FSavedHint},
             TNotifyEvent(this, &T::DoHint));
    giveBack(TSlot<A, TMessageEvent>{&A::OnMessage, &A::SetOnMessage, &T::FSavedMessage},
             TMessageEvent(this, &T::DoMessage));
    giveBack(TSlot<A, TNotifyEvent>{&A::OnMinimize, &A::SetOnMinimize, &T::FSavedMinimize},
             TNotifyEvent(this, &T::DoMinimize));
    giveBack(TSlot<A, TNotifyEvent>{&A::OnRestore, &A::SetOnRestore, &T::FSavedRestore},
             TNotifyEvent(this, &T::DoRestore));
    giveBack(TSlot<A, TShowHintEvent>{&A::OnShowHint, &A::SetOnShowHint, &T::FSavedShowHint},
             TShowHintEvent(this, &T::DoShowHint));

    // The screen's two events get their saved handlers back while they still hold this
    // component's relays; emptying them would lose the application's own focus handlers for
    // good. A handler installed there after activation belongs to someone else and stays.
    TScreen* screen = FHookedScreen != nullptr && Screen == FHookedScreen ? Screen : nullptr;
    const auto giveBackScreen = [&](const auto& ASlot, const TNotifyEvent& AMine) {
        Relink(this, ASlot.Saved, AMine);
        if (screen != nullptr && (screen->*ASlot.Get)() == AMine)
            (screen->*ASlot.Set)(this->*ASlot.Saved);
        (this->*ASlot.Saved).Clear();
    };
    if (FHookedScreen != nullptr) {
        giveBackScreen(TSlot<TScreen, TNotifyEvent>{&TScreen::OnActiveControlChange,
                                                    &TScreen::SetOnActiveControlChange,
                                                    &T::FSavedActiveControlChange},
                       TNotifyEvent(this, &T::DoActiveControlChange));
        giveBackScreen(TSlot<TScreen, TNotifyEvent>{&TScreen::OnActiveFormChange,
                                                    &TScreen::SetOnActiveFormChange,
                                                    &T::FSavedActiveFormChange},
                       TNotifyEvent(this, &T::DoActiveFormChange));
    }
    FHookedApplication = nullptr;
    FHookedScreen = nullptr;
}

// ---- The main-window hook --------------------------------------------------------------------

bool TJexAppLog::MessageHook(TMessage& AMessage) {
    if (AMessage.Msg == WM_SETTINGCHANGE && FOnSettingsChanged.Assigned()) {
        try {
            FOnSettingsChanged(this);
        } catch (...) {
            // The handler's failure is the application's to show; the message goes on to the
            // window as usual.
            if (Application != nullptr)
                Application->HandleException(this);
        }
    }
    return false;
}

// ---- Relaying ---------------------------------------------------------------------------------

void TJexAppLog::DoActivate(TObject* ASender) {
    CallBoth(FSavedActivate, FOnActivate, ASender);
}

void TJexAppLog::DoDeactivate(TObject* ASender) {
    CallBoth(FSavedDeactivate, FOnDeactivate, ASender);
}

void TJexAppLog::DoException(TObject* ASender, Exception* E) {
    CallBoth(FSavedException, FOnException, ASender, E);
    if (Application != nullptr)
        Application->ShowException(E);
}

void TJexAppLog::DoIdle(TObject* ASender, bool& ADone) {
    CallBoth(FSavedIdle, FOnIdle, ASender, ADone);
}

bool TJexAppLog::DoHelp(std::uint16_t ACommand, std::int32_t AData, bool& ACallHelp) {
    bool result = false;
    if (FOnHelp.Assigned())
        result = FOnHelp(ACommand, AData, ACallHelp);
    if (FSavedHelp.Assigned())
        result = FSavedHelp(ACommand, AData, ACallHelp);
    return result;
}

void TJexAppLog::DoHint(TObject* ASender) {
    CallBoth(FSavedHint, FOnHint, ASender);
}

void TJexAppLog::DoMessage(TMsg& AMsg, bool& AHandled) {
    CallBoth(FSavedMessage, FOnMessage, AMsg, AHandled);
}

void TJexAppLog::DoMinimize(TObject* ASender) {
    CallBoth(FSavedMinimize, FOnMinimize, ASender);
}

void TJexAppLog::DoRestore(TObject* ASender) {
    CallBoth(FSavedRestore, FOnRestore, ASender);
}

void TJexAppLog::DoShowHint(std::string& AHintStr, bool& ACanShow, THintInfo& AHintInfo) {
    CallBoth(FSavedShowHint, FOnShowHint, AHintStr, ACanShow, AHintInfo);
}

void TJexAppLog::DoActiveControlChange(TObject* ASender) {
    CallBoth(FSavedActiveControlChange, FOnActiveControlChange, ASender);
}

void TJexAppLog::DoActiveFormChange(TObject* ASender) {
    CallBoth(FSavedActiveFormChange, FOnActiveFormChange, ASender);
}

// ---- Published members ------------------------------------------------------------------------

const TClassInfo& TJexAppLog::StaticClassInfo() {
    using T = TJexAppLog;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TJexAppLog", &TJexLogBase::StaticClassInfo())
            .Component()
            .Event("OnActivate", &T::OnActivate, &T::SetOnActivate)
            .Event("OnDeactivate", &T::OnDeactivate, &T::SetOnDeactivate)
            .Event("OnException", &T::OnException, &T::SetOnException)
            .Event("OnIdle", &T::OnIdle, &T::SetOnIdle)
            .Event("OnHelp", &T::OnHelp, &T::SetOnHelp)
            .Event("OnHint", &T::OnHint, &T::SetOnHint)
            .Event("OnMessage", &T::OnMessage, &T::SetOnMessage)
            .Event("OnMinimize", &T::OnMinimize, &T::SetOnMinimize)
            .Event("OnRestore", &T::OnRestore, &T::SetOnRestore)
            .Event("OnShowHint", &T::OnShowHint, &T::SetOnShowHint)
            .Event("OnSettingsChanged", &T::OnSettingsChanged, &T::SetOnSettingsChanged)
            .Event("OnActiveControlChange", &T::OnActiveControlChange, &T::SetOnActiveControlChange)
            .Event("OnActiveFormChange", &T::OnActiveFormChange, &T::SetOnActiveFormChange)
            .Build();
    return info;
}

} // namespace jex
