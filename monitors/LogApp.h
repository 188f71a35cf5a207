// monitors/LogApp.h - TJexAppLog, the component that relays the application's and the screen's
// events.
//
// While active it takes over the application's ten global events, the screen's two focus events
// and the messages of the application's window. Each event goes first to the handler that was
// installed before, then to the component's own event of the same name; a change of the system's
// settings arrives as OnSettingsChanged. The component writes no record itself: its events decide
// what goes into the log.
#pragma once

#include "host/forms/Forms.h"
#include "logging/LogBase.h"

#include <cstdint>

namespace jex {

/// Relays the application's and the screen's events to its own published events.
///
/// Created at run time (host::Create<TJexAppLog>(owner)) it is active at once; in a form
/// designer setting Active only changes the stored value. Activating an active component does
/// nothing, and deactivating one that hooked nothing leaves the host's events as they are.
/// Several components may be active at a time: each calls the handler it found, and one that is
/// switched off or goes away re-links the components that had saved its relays, so no event is
/// left pointing at a component that is gone.
class TJexAppLog : public TJexLogBase {
    JEX_CLASS(TJexAppLog)

public:
    explicit TJexAppLog(host::TComponent* AOwner);
    /// Deactivates first, so the host has its handlers back before the component is gone.
    ~TJexAppLog() override;

    /// Runs the base construction (which deactivates), then activates.
    void AfterConstruction() override;

    /// Stores AValue; at run time also hooks (true) or unhooks (false) the application's events,
    /// the screen's two events and the main-window hook.
    void SetActive(bool AValue) override;

    /// The main-window hook: a settings change (message 0x001A) raises OnSettingsChanged with
    /// this component as Sender; what that handler raises goes to Application.HandleException
    /// and no further. Always false: the window handles every message as usual.
    virtual bool MessageHook(host::TMessage& AMessage);

    // ---- The relaying handlers installed into the host --------------------------------------
    // Each calls the handler found at activation, then the published event, passing every
    // argument through unchanged; what a handler raises leaves the relay at once.

    void DoActivate(host::TObject* ASender);
    void DoDeactivate(host::TObject* ASender);
    /// Ends with Application.ShowException(E) once both handlers have returned; when one
    /// raises, the display is skipped and the application shows that failure instead.
    void DoException(host::TObject* ASender, host::Exception* E);
    void DoIdle(host::TObject* ASender, bool& ADone);
    /// OnHelp runs first, the previous handler second; the result starts false and each handler
    /// that runs replaces it with its own.
    bool DoHelp(std::uint16_t ACommand, std::int32_t AData, bool& ACallHelp);
    void DoHint(host::TObject* ASender);
    void DoMessage(host::TMsg& AMsg, bool& AHandled);
    void DoMinimize(host::TObject* ASender);
    void DoRestore(host::TObject* ASender);
    void DoShowHint(std::string& AHintStr, bool& ACanShow, host::THintInfo& AHintInfo);
    void DoActiveControlChange(host::TObject* ASender);
    void DoActiveFormChange(host::TObject* ASender);

    // ---- Published events ---------------------------------------------------------------

    const host::TNotifyEvent& OnActivate() const { return FOnActivate; }

    void SetOnActivate(const host::TNotifyEvent& AValue) { FOnActivate = AValue; }

    const host::TNotifyEvent& OnDeactivate() const { return FOnDeactivate; }

    void SetOnDeactivate(const host::TNotifyEvent& AValue) { FOnDeactivate = AValue; }

    const host::TExceptionEvent& OnException() const { return FOnException; }

    void SetOnException(const host::TExceptionEvent& AValue) { FOnException = AValue; }

    const host::TIdleEvent& OnIdle() const { return FOnIdle; }

    void SetOnIdle(const host::TIdleEvent& AValue) { FOnIdle = AValue; }

    const host::THelpEvent& OnHelp() const { return FOnHelp; }

    void SetOnHelp(const host::THelpEvent& AValue) { FOnHelp = AValue; }

    const host::TNotifyEvent& OnHint() const { return FOnHint; }

    void SetOnHint(const host::TNotifyEvent& AValue) { FOnHint = AValue; }

    const host::TMessageEvent& OnMessage() const { return FOnMessage; }

    void SetOnMessage(const host::TMessageEvent& AValue) { FOnMessage = AValue; }

    const host::TNotifyEvent& OnMinimize() const { return FOnMinimize; }

    void SetOnMinimize(const host::TNotifyEvent& AValue) { FOnMinimize = AValue; }

    const host::TNotifyEvent& OnRestore() const { return FOnRestore; }

    void SetOnRestore(const host::TNotifyEvent& AValue) { FOnRestore = AValue; }

    const host::TShowHintEvent& OnShowHint() const { return FOnShowHint; }

    void SetOnShowHint(const host::TShowHintEvent& AValue) { FOnShowHint = AValue; }

    const host::TNotifyEvent& OnSettingsChanged() const { return FOnSettingsChanged; }

    void SetOnSettingsChanged(const host::TNotifyEvent& AValue) { FOnSettingsChanged = AValue; }

    const host::TNotifyEvent& OnActiveControlChange() const { return FOnActiveControlChange; }

    void SetOnActiveControlChange(const host::TNotifyEvent& AValue) {
        FOnActiveControlChange = AValue;
    }

    const host::TNotifyEvent& OnActiveFormChange() const { return FOnActiveFormChange; }

    void SetOnActiveFormChange(const host::TNotifyEvent& AValue) { FOnActiveFormChange = AValue; }

    /// True while the host's events point to this component (Active at run time).
    bool Hooked() const { return FHookedApplication != nullptr; }

private:
    void Hook();
    void Unhook();

    // The handlers found at activation; empty until then.
    host::TNotifyEvent FSavedActivate;
    host::TNotifyEvent FSavedDeactivate;
    host::TExceptionEvent FSavedException;
    host::TIdleEvent FSavedIdle;
    host::THelpEvent FSavedHelp;
    host::TNotifyEvent FSavedHint;
    host::TMessageEvent FSavedMessage;
    host::TNotifyEvent FSavedMinimize;
    host::TNotifyEvent FSavedRestore;
    host::TShowHintEvent FSavedShowHint;
    host::TNotifyEvent FSavedActiveControlChange;
    host::TNotifyEvent FSavedActiveFormChange;

    host::TNotifyEvent FOnActivate;
    host::TNotifyEvent FOnDeactivate;
    host::TExceptionEvent FOnException;
    host::TIdleEvent FOnIdle;
    host::THelpEvent FOnHelp;
    host::TNotifyEvent FOnHint;
    host::TMessageEvent FOnMessage;
    host::TNotifyEvent FOnMinimize;
    host::TNotifyEvent FOnRestore;
    host::TShowHintEvent FOnShowHint;
    host::TNotifyEvent FOnSettingsChanged;
    host::TNotifyEvent FOnActiveControlChange;
    host::TNotifyEvent FOnActiveFormChange;

    /// The application hooked at activation (nullptr while nothing is hooked), and the screen
    /// whose two events were taken over (nullptr when there was none).
    host::TApplication* FHookedApplication = nullptr;
    host::TScreen* FHookedScreen = nullptr;
};

/// Initialisation and finalisation of the unit: registers TJexAppLog with the class registry
/// (nested calls only count).
void LogAppInitialization();
void LogAppFinalization();

} // namespace jex
