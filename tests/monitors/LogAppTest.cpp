// tests/monitors/LogAppTest.cpp - the application event logger: relaying through a running
// message loop, giving the host's handlers back, the settings hook, several loggers at once and
// design mode.
#include "monitors/LogApp.h"

#include "exceptions/LogError.h"
#include "host/forms/StdCtrls.h"
#include "tests/host/forms/HeadlessFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace host;
using namespace jex;

namespace {

class TJexAppLogTest : public jex::test::THeadlessFixture {
protected:
    void SetUp() override {
        THeadlessFixture::SetUp();
        Application->SetTitle("Orders");
        FForm = Application->CreateForm<TForm>();
        FForm->SetName("frmMain");
        FEdit = Create<TEdit>(FForm);
        FEdit->SetParent(FForm);
        FButton = Create<TButton>(FForm);
        FButton->SetParent(FForm);
    }

    /// Handles what is posted now, then ends the loop: Run returns once the queue is empty.
    void RunPosted() {
        Application->Terminate();
        Application->Run();
    }

    /// A notify handler that records "<tag> <sender>" in Calls.
    TNotifyEvent Recorder(const std::string& ATag) {
        return TNotifyEvent::FromCallable(
            [this, ATag](TObject* ASender) { Calls.push_back(ATag + " " + SenderName(ASender)); });
    }

    static std::string SenderName(TObject* ASender) {
        if (ASender == Application)
            return "app";
        if (ASender == Screen)
            return "screen";
        if (auto* component = dynamic_cast<TComponent*>(ASender))
            return component->Name();
        return "?";
    }

    std::vector<std::string> Calls;
    TForm* FForm = nullptr;
    TEdit* FEdit = nullptr;
    TButton* FButton = nullptr;
};

// Ends a Run that would otherwise wait for ever, so a wrong Done value fails instead of hanging.
class TLoopWatchdog {
public:
    TLoopWatchdog()
        : FThread([this] {
            std::unique_lock lock(FMutex);
            if (!FDone.wait_for(lock, std::chrono::seconds(5), [this] { return FReleased; })) {
                FFired = true;
                host::Application->Terminate();
            }
        }) {}

    ~TLoopWatchdog() { Release(); }

    /// True when the loop had to be ended from outside.
    bool Release() {
        {
            std::lock_guard lock(FMutex);
            FReleased = true;
        }
        FDone.notify_all();
        if (FThread.joinable())
            FThread.join();
        return FFired;
    }

private:
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FReleased = false;
    bool FFired = false;
    std::thread FThread;
};

} // namespace

// ---- Relaying through the loop ----------------------------------------------------------------

TEST_F(TJexAppLogTest, WithNothingAssignedEveryEventStillArrivesAndExceptionsAreShown) {
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    EXPECT_TRUE(log->Active());
    EXPECT_EQ(Application->OnActivate(), TNotifyEvent(log, &TJexAppLog::DoActivate));
    EXPECT_EQ(Application->OnIdle(), TIdleEvent(log, &TJexAppLog::DoIdle));
    EXPECT_EQ(Screen->OnActiveFormChange(), TNotifyEvent(log, &TJexAppLog::DoActiveFormChange));

    Application->HookMainWindow(TWindowHook::FromCallable([](TMessage& AMsg) {
        if (AMsg.Msg == WM_USER)
            throw EInvalidOperation("Order 4711 is locked");
        return false;
    }));
    PostMessage(Application->Handle(), WM_ACTIVATEAPP, 0);
    PostMessage(Application->Handle(), WM_SYSCOMMAND, SC_MINIMIZE);
    PostMessage(Application->Handle(), WM_SETTINGCHANGE);
    PostMessage(FButton->Handle(), WM_SETFOCUS);
    PostMessage(Application->Handle(), WM_USER);
    RunPosted();
    EXPECT_TRUE(Application->Minimized());
    EXPECT_EQ(Screen->ActiveControl(), FButton);
    EXPECT_EQ(WS().Log(), (std::vector<std::string>{"MessageDlg mtError [mbOK] Orders: Order 4711 "
                                                    "is locked."}));
}

TEST_F(TJexAppLogTest, NotifyEventsGoToThePreviousHandlerThenThePublishedOneWithTheHostsSender) {
    auto* other = Create<TForm>(Application);
    auto* otherEdit = Create<TEdit>(other);
    otherEdit->SetParent(other);
    other->SetVisible(true);
    FButton->SetHint("Save|Saves the order");
    Application->SetOnActivate(Recorder("prev-activate"));
    Application->SetOnDeactivate(Recorder("prev-deactivate"));
    Application->SetOnMinimize(Recorder("prev-minimize"));
    Application->SetOnRestore(Recorder("prev-restore"));
    Application->SetOnHint(Recorder("prev-hint"));
    Screen->SetOnActiveFormChange(Recorder("prev-form"));
    Screen->SetOnActiveControlChange(Recorder("prev-control"));
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    log->SetName("AppLog");
    log->SetOnActivate(Recorder("activate"));
    log->SetOnDeactivate(Recorder("deactivate"));
    log->SetOnMinimize(Recorder("minimize"));
    log->SetOnRestore(Recorder("restore"));
    log->SetOnHint(Recorder("hint"));
    log->SetOnActiveFormChange(Recorder("form"));
    log->SetOnActiveControlChange(Recorder("control"));
    log->SetOnIdle(TIdleEvent::FromCallable([](TObject*, bool&) { Application->Terminate(); }));

    PostMessage(Application->Handle(), WM_ACTIVATEAPP, 0);
    PostMessage(Application->Handle(), WM_ACTIVATEAPP, 1);
    PostMessage(FForm->Handle(), WM_SYSCOMMAND, SC_MINIMIZE);
    PostMessage(FForm->Handle(), WM_SYSCOMMAND, SC_RESTORE);
    PostMessage(otherEdit->Handle(), WM_SETFOCUS);
    WS().MoveMouse(FButton); // the hint is taken up when the loop goes idle
    Application->Run();

    EXPECT_EQ(Calls, (std::vector<std::string>{
                         "prev-form screen", "form screen", "prev-control screen",
                         "control screen", // the main form shown by Run
                         "prev-minimize app", "minimize app", "prev-restore app", "restore app",
                         "prev-form screen", "form screen", "prev-control screen", "control screen",
                         // activation is posted on: its events come after what was queued
                         "prev-deactivate app", "deactivate app", "prev-activate app",
                         "activate app", "prev-hint app", "hint app"}));
    EXPECT_EQ(Screen->ActiveControl(), otherEdit);
}

TEST_F(TJexAppLogTest, ExceptionGoesToThePreviousHandlerThenOnExceptionThenTheStandardDisplay) {
    std::vector<Exception*> seen;
    Application->SetOnException(TExceptionEvent::FromCallable([&](TObject* ASender, Exception* E) {
        Calls.push_back("prev " + SenderName(ASender));
        seen.push_back(E);
    }));
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    log->SetOnException(TExceptionEvent::FromCallable([&](TObject* ASender, Exception* E) {
        Calls.push_back("published " + SenderName(ASender));
        seen.push_back(E);
    }));
    WS().SetDialogResponder(
        THeadlessWidgetSet::TDialogResponder::FromCallable([&](const TMessageDlgRequest& ARequest) {
            Calls.push_back("shown " + ARequest.Text);
            return mrOk;
        }));
    FButton->SetName("btnSave");
    FButton->SetOnClick(
        TNotifyEvent::FromCallable([](TObject*) { throw EConvertError("Bad total"); }));
    WS().Click(FButton);
    EXPECT_EQ(Calls,
              (std::vector<std::string>{"prev btnSave", "published btnSave", "shown Bad total."}));
    // The same object reached both handlers (the exception itself is gone once handled).
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], seen[1]);

    // A handler that raises leaves the relay at once: no further handler, no standard display
    // from the relay (the application shows the handler's own failure).
    Calls.clear();
    Application->SetOnException(nullptr);
    log->SetActive(false);
    Application->SetOnException(TExceptionEvent::FromCallable(
        [](TObject*, Exception*) { throw EInvalidOperation("Handler failed"); }));
    log->SetActive(true);
    WS().Click(FButton);
    EXPECT_EQ(Calls, (std::vector<std::string>{"shown Handler failed."}));
}

TEST_F(TJexAppLogTest, HelpAsksOnHelpFirstAndAnswersWithTheLastHandlersResult) {
    FForm->SetHelpContext(42);
    FForm->Show();
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    // Neither assigned: false, and F1 still reaches the relay from the key.
    EXPECT_FALSE(Application->HelpCommand(HELP_CONTEXT, 1));

    log->SetOnHelp(
        THelpEvent::FromCallable([&](std::uint16_t ACommand, std::int32_t AData, bool& ACallHelp) {
            Calls.push_back("published " + std::to_string(ACommand) + " " + std::to_string(AData));
            ACallHelp = false;
            return true;
        }));
    WS().PressKey(FEdit, VK_F1);
    EXPECT_EQ(Calls, (std::vector<std::string>{"published 1 42"}));
    EXPECT_TRUE(Application->HelpContext(7)); // only OnHelp: its result

    Calls.clear();
    log->SetActive(false);
    Application->SetOnHelp(THelpEvent::FromCallable([&](std::uint16_t, std::int32_t,
                                                        bool& ACallHelp) {
        Calls.push_back(std::string("previous sees CallHelp ") + (ACallHelp ? "true" : "false"));
        return false;
    }));
    log->SetActive(true);
    EXPECT_FALSE(Application->HelpContext(7)); // both: the previous handler's result
    EXPECT_EQ(Calls, (std::vector<std::string>{"published 1 7", "previous sees CallHelp false"}));
}

TEST_F(TJexAppLogTest, IdleDoneSetFalseByOnIdleAfterThePreviousHandlerReachesTheApplication) {
    int idles = 0;
    Application->SetOnIdle(TIdleEvent::FromCallable([&](TObject* ASender, bool& ADone) {
        EXPECT_EQ(ASender, Application);
        ADone = true;
    }));
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    log->SetOnIdle(TIdleEvent::FromCallable([&](TObject*, bool& ADone) {
        EXPECT_TRUE(ADone); // what the previous handler left
        ADone = false;      // so the application idles again at once instead of waiting
        if (++idles == 3)
            Application->Terminate();
    }));
    TLoopWatchdog watchdog;
    Application->Run();
    EXPECT_FALSE(watchdog.Release()) << "the loop waited although OnIdle set Done to false";
    EXPECT_EQ(idles, 3);
}

TEST_F(TJexAppLogTest, MessageAndShowHintPassTheirVarArgumentsThroughBothHandlers) {
    int dispatched = 0;
    Application->HookMainWindow(TWindowHook::FromCallable([&](TMessage& AMsg) {
        dispatched += AMsg.Msg == WM_USER ? 1 : 0;
        return false;
    }));
    Application->SetOnMessage(TMessageEvent::FromCallable([&](TMsg& AMsg, bool&) {
        if (AMsg.Message == WM_USER)
            AMsg.LParam = 99;
    }));
    Application->SetOnShowHint(
        TShowHintEvent::FromCallable([&](std::string& AHint, bool&, THintInfo& AInfo) {
            AHint = "Store";
            AInfo.HideTimeout = 100;
        }));
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    log->SetOnMessage(TMessageEvent::FromCallable([&](TMsg& AMsg, bool& AHandled) {
        if (AMsg.Message == WM_USER)
            AHandled = AMsg.LParam == 99;
    }));
    log->SetOnShowHint(
        TShowHintEvent::FromCallable([&](std::string& AHint, bool& ACanShow, THintInfo& AInfo) {
            Calls.push_back(AHint + " " + std::to_string(AInfo.HideTimeout));
            ACanShow = AInfo.HintControl == FButton;
        }));
    PostMessage(Application->Handle(), WM_USER);
    PostMessage(Application->Handle(), WM_USER + 1);
    RunPosted();
    EXPECT_EQ(dispatched, 0); // Handled from the second handler went back to the loop

    FButton->SetHint("Save|Saves the order");
    FButton->SetShowHint(true);
    FEdit->SetHint("Customer");
    FEdit->SetShowHint(true);
    WS().MoveMouse(FEdit);
    WS().AdvanceClock(Application->HintPause());
    WS().MoveMouse(FButton);
    WS().AdvanceClock(Application->HintPause());
    EXPECT_EQ(Calls, (std::vector<std::string>{"Store 100", "Store 100"}));
    EXPECT_EQ(WS().Log(), (std::vector<std::string>{"Hint 0,25: Store"}));
}

// ---- The main-window hook -------------------------------------------------------------------

TEST_F(TJexAppLogTest, SettingsChangeThatRaisesGoesToTheApplicationAndTheWindowStillHandlesIt) {
    std::vector<TObject*> senders;
    Application->SetOnException(TExceptionEvent::FromCallable([&](TObject* ASender, Exception* E) {
        senders.push_back(ASender);
        Calls.push_back("app " + E->Message());
    }));
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    int settingsChanges = 0;
    log->SetOnSettingsChanged(TNotifyEvent::FromCallable([&](TObject* ASender) {
        EXPECT_EQ(ASender, log);
        if (++settingsChanges == 1)
            throw EConvertError("Unknown locale");
    }));
    std::vector<TMessage> later;
    Application->HookMainWindow(TWindowHook::FromCallable([&](TMessage& AMsg) {
        later.push_back(AMsg);
        return false;
    }));
    PostMessage(Application->Handle(), WM_SETTINGCHANGE, 0, 5);
    PostMessage(Application->Handle(), WM_USER + 3, 1, 2);
    SendMessage(Application->Handle(), WM_SETTINGCHANGE);
    RunPosted();

    EXPECT_EQ(settingsChanges, 2);
    // The application's handler got the component as Sender, through the relay installed in it;
    // the standard display followed.
    EXPECT_EQ(senders, (std::vector<TObject*>{log}));
    EXPECT_EQ(Calls, (std::vector<std::string>{"app Unknown locale"}));
    EXPECT_EQ(WS().Log(),
              (std::vector<std::string>{"MessageDlg mtError [mbOK] Orders: Unknown locale."}));
    // Every message went on to the window unchanged, the failed one included.
    ASSERT_EQ(later.size(), 3u);
    EXPECT_EQ(later[0].Msg, WM_SETTINGCHANGE);
    EXPECT_EQ(later[1].Msg, WM_SETTINGCHANGE);
    EXPECT_EQ(later[1].LParam, 5);
    EXPECT_EQ(later[2].Msg, WM_USER + 3);
    EXPECT_EQ(later[2].WParam, 1u);
    EXPECT_EQ(later[2].LParam, 2);
}

// ---- Giving the host's handlers back ----------------------------------------------------------

TEST_F(TJexAppLogTest, DeactivationGivesTheApplicationAndTheScreenTheirHandlersBack) {
    const TNotifyEvent activate = Recorder("activate");
    const TExceptionEvent exception = TExceptionEvent::FromCallable([](TObject*, Exception*) {});
    const TIdleEvent idle = TIdleEvent::FromCallable([](TObject*, bool&) {});
    const THelpEvent help =
        THelpEvent::FromCallable([](std::uint16_t, std::int32_t, bool&) { return true; });
    const TMessageEvent message = TMessageEvent::FromCallable([](TMsg&, bool&) {});
    const TShowHintEvent showHint =
        TShowHintEvent::FromCallable([](std::string&, bool&, THintInfo&) {});
    const TNotifyEvent control = Recorder("control");
    const TNotifyEvent form = Recorder("form");
    Application->SetOnActivate(activate);
    Application->SetOnException(exception);
    Application->SetOnIdle(idle);
    Application->SetOnHelp(help);
    Application->SetOnMessage(message);
    Application->SetOnShowHint(showHint);
    Screen->SetOnActiveControlChange(control);
    Screen->SetOnActiveFormChange(form);

    TJexAppLog* log = Create<TJexAppLog>(FForm);
    EXPECT_NE(Application->OnActivate(), activate);
    EXPECT_NE(Screen->OnActiveControlChange(), control);
    log->SetActive(false);
    EXPECT_FALSE(log->Active());
    EXPECT_EQ(Application->OnActivate(), activate);
    EXPECT_FALSE(Application->OnDeactivate().Assigned());
    EXPECT_EQ(Application->OnException(), exception);
    EXPECT_EQ(Application->OnIdle(), idle);
    EXPECT_EQ(Application->OnHelp(), help);
    EXPECT_FALSE(Application->OnHint().Assigned());
    EXPECT_EQ(Application->OnMessage(), message);
    EXPECT_FALSE(Application->OnMinimize().Assigned());
    EXPECT_FALSE(Application->OnRestore().Assigned());
    EXPECT_EQ(Application->OnShowHint(), showHint);
    // The focus handlers of the application are not lost.
    EXPECT_EQ(Screen->OnActiveControlChange(), control);
    EXPECT_EQ(Screen->OnActiveFormChange(), form);

    // Nothing of the component is called any more; the hook is gone too.
    int settings = 0;
    log->SetOnSettingsChanged(TNotifyEvent::FromCallable([&](TObject*) { ++settings; }));
    log->SetOnActiveControlChange(Recorder("published"));
    SendMessage(Application->Handle(), WM_SETTINGCHANGE);
    FForm->Show();
    EXPECT_EQ(settings, 0);
    EXPECT_EQ(Calls, (std::vector<std::string>{"form screen", "control screen"}));

    // A screen handler installed by someone else after activation stays where it is.
    log->SetActive(true);
    const TNotifyEvent later = Recorder("later");
    Screen->SetOnActiveFormChange(later);
    log->SetActive(false);
    EXPECT_EQ(Screen->OnActiveFormChange(), later);
    EXPECT_EQ(Screen->OnActiveControlChange(), control);
}

TEST_F(TJexAppLogTest, ActivatingTwiceHooksOnceAndAStoredActiveFormLoadsWithoutALoop) {
    int settings = 0;
    int minimized = 0;
    const TNotifyEvent original = TNotifyEvent::FromCallable([&](TObject*) { ++minimized; });
    Application->SetOnMinimize(original);
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    log->SetOnSettingsChanged(TNotifyEvent::FromCallable([&](TObject*) { ++settings; }));
    log->SetActive(true);
    log->SetActive(true);
    SendMessage(Application->Handle(), WM_SETTINGCHANGE);
    Application->Minimize();
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(minimized, 1);
    log->SetActive(false);
    Application->Restore();
    Application->Minimize();
    EXPECT_EQ(minimized, 2);
    EXPECT_EQ(Application->OnMinimize(), original);

    // A stored form sets Active again after the constructor activated the component.
    std::unique_ptr<TComponent> stored(ReadComponentFromText("object AppLog: TJexAppLog\n"
                                                             "  Active = True\n"
                                                             "end\n"));
    auto* loaded = dynamic_cast<TJexAppLog*>(stored.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->Active());
    loaded->SetOnMinimize(Recorder("minimize"));
    Application->Restore();
    Application->Minimize();
    EXPECT_EQ(minimized, 3);
    EXPECT_EQ(Calls, (std::vector<std::string>{"minimize app"}));
    stored.reset();
    EXPECT_EQ(Application->OnMinimize(), original);
}

TEST_F(TJexAppLogTest, DeactivationThatFollowsNoActivationLeavesTheHostsEventsAlone) {
    // The base construction deactivates before this class activates: the handlers survive it.
    const TNotifyEvent restore = Recorder("app-restore");
    const TNotifyEvent form = Recorder("app-form");
    Application->SetOnRestore(restore);
    Screen->SetOnActiveFormChange(form);
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    log->SetOnRestore(Recorder("restore"));
    Application->Minimize();
    Application->Restore();
    EXPECT_EQ(Calls, (std::vector<std::string>{"app-restore app", "restore app"}));

    // A second deactivation does not write the emptied slots back over newer handlers.
    log->SetActive(false);
    const TNotifyEvent newer = Recorder("newer");
    Application->SetOnRestore(newer);
    log->SetActive(false);
    delete log;
    EXPECT_EQ(Application->OnRestore(), newer);
    EXPECT_EQ(Screen->OnActiveFormChange(), form);
}

TEST_F(TJexAppLogTest, TwoLoggersSwitchedOffInEitherOrderLeaveAValidChain) {
    const TNotifyEvent original = Recorder("app");
    for (const bool firstGoesFirst : {true, false}) {
        SCOPED_TRACE(firstGoesFirst ? "first logger off first" : "second logger off first");
        Calls.clear();
        Application->SetOnActivate(original);
        Screen->SetOnActiveControlChange(original);
        TJexAppLog* first = Create<TJexAppLog>(nullptr);
        first->SetName("First");
        first->SetOnActivate(Recorder("first"));
        first->SetOnActiveControlChange(Recorder("first"));
        TJexAppLog* second = Create<TJexAppLog>(nullptr);
        second->SetName("Second");
        second->SetOnActivate(Recorder("second"));
        second->SetOnActiveControlChange(Recorder("second"));
        SendMessage(Application->Handle(), WM_ACTIVATEAPP, 1);
        Application->ProcessMessages();
        EXPECT_EQ(Calls, (std::vector<std::string>{"app app", "first app", "second app"}));

        TJexAppLog* leaving = firstGoesFirst ? first : second;
        TJexAppLog* staying = firstGoesFirst ? second : first;
        delete leaving;
        Calls.clear();
        SendMessage(Application->Handle(), WM_ACTIVATEAPP, 1);
        Application->ProcessMessages();
        FForm->Show();
        const std::string name = staying->Name() == "First" ? "first" : "second";
        EXPECT_EQ(Calls, (std::vector<std::string>{"app app", name + " app", "app screen",
                                                   name + " screen"}));

        delete staying;
        EXPECT_EQ(Application->OnActivate(), original);
        EXPECT_EQ(Screen->OnActiveControlChange(), original);
        FForm->Hide();
    }
}

TEST_F(TJexAppLogTest, WithAnExceptionLoggerEitherGoingInEitherOrderLeavesTheOtherInTheChain) {
    WS().SetDialogResponder(THeadlessWidgetSet::TDialogResponder::FromCallable(
        [](const TMessageDlgRequest&) { return mrOk; }));
    FButton->SetName("btnSave");
    FButton->SetOnClick(
        TNotifyEvent::FromCallable([](TObject*) { throw EConvertError("Bad total"); }));
    const TExceptionEvent original =
        TExceptionEvent::FromCallable([this](TObject*, Exception*) { Calls.push_back("app"); });
    for (const bool appLogFirst : {true, false})
        for (const bool appLogGoesFirst : {true, false}) {
            SCOPED_TRACE(std::string(appLogFirst ? "app log hooked first" : "logger hooked first") +
                         (appLogGoesFirst ? ", app log goes first" : ", logger goes first"));
            Application->SetOnException(original);
            std::unique_ptr<TJexAppLog> appLog;
            std::unique_ptr<TJexExceptionLog> logger;
            const auto hookAppLog = [&] {
                appLog.reset(Create<TJexAppLog>(nullptr));
                appLog->SetOnException(TExceptionEvent::FromCallable(
                    [this](TObject*, Exception*) { Calls.push_back("app log"); }));
            };
            const auto hookLogger = [&] {
                logger.reset(Create<TJexExceptionLog>(nullptr));
                logger->SetErrorDialog(edNone);
                logger->SetOnException(TExceptionEvent::FromCallable(
                    [this](TObject*, Exception*) { Calls.push_back("logger"); }));
            };
            if (appLogFirst) {
                hookAppLog();
                hookLogger();
            } else {
                hookLogger();
                hookAppLog();
            }
            Calls.clear();
            WS().Click(FButton);
            const std::vector<std::string> both =
                appLogFirst ? std::vector<std::string>{"app", "app log", "logger"}
                            : std::vector<std::string>{"app", "logger", "app log"};
            EXPECT_EQ(Calls, both);

            // The one left calls what the other called: nothing destroyed, nobody dropped.
            if (appLogGoesFirst)
                appLog.reset();
            else
                logger.reset();
            Calls.clear();
            WS().Click(FButton);
            EXPECT_EQ(Calls,
                      (std::vector<std::string>{"app", appLogGoesFirst ? "logger" : "app log"}));

            appLog.reset();
            logger.reset();
            EXPECT_EQ(Application->OnException(), original);
        }
}

TEST_F(TJexAppLogTest, WithoutAScreenOnlyTheApplicationIsHooked) {
    TScreen* screen = Screen;
    const TNotifyEvent form = Recorder("form");
    screen->SetOnActiveFormChange(form);
    Screen = nullptr;
    TJexAppLog* log = Create<TJexAppLog>(FForm);
    EXPECT_EQ(Application->OnHint(), TNotifyEvent(log, &TJexAppLog::DoHint));
    Screen = screen;
    EXPECT_EQ(Screen->OnActiveFormChange(), form);
    log->SetActive(false);
    EXPECT_EQ(Screen->OnActiveFormChange(), form);
    EXPECT_FALSE(Application->OnHint().Assigned());
}

TEST_F(TJexAppLogTest, InADesignerActiveIsOnlyStored) {
    auto designed = std::unique_ptr<TComponent>(Create<TComponent>(nullptr));
    designed->SetDesigning(true);
    const TIdleEvent idle = TIdleEvent::FromCallable([](TObject*, bool&) {});
    Application->SetOnIdle(idle);
    TJexAppLog* log = Create<TJexAppLog>(designed.get());
    EXPECT_TRUE(log->Active());
    EXPECT_FALSE(log->Hooked());
    EXPECT_EQ(Application->OnIdle(), idle);
    log->SetActive(false);
    EXPECT_FALSE(log->Active());
    log->SetActive(true);
    EXPECT_EQ(Application->OnIdle(), idle);
    EXPECT_FALSE(Application->OnException().Assigned());
    EXPECT_NE(WriteComponentToText(log).find("Active = True"), std::string::npos);
}
