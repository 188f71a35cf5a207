// tests/host/forms/FormsTest.cpp - the application's loop, events, hooks and top-level
// exception handling; the screen's focus tracking; forms shown, closed and loaded from text.
#include "host/forms/Forms.h"

#include "host/forms/ExtCtrls.h"
#include "host/forms/StdCtrls.h"
#include "platform/File.h"
#include "platform/PlatformServices.h"
#include "platform/ProcessImage.h"
#include "platform/fake/FakeScreen.h"
#include "tests/host/forms/HeadlessFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace host;

namespace {

class TApplicationTest : public jex::test::THeadlessFixture {};

class TScreenTest : public jex::test::THeadlessFixture {};

class TCustomFormTest : public jex::test::THeadlessFixture {};

} // namespace

TEST_F(TApplicationTest, RunHandlesPostedMessagesThenIdlesUntilTerminated) {
    std::vector<std::string> events;
    Application->SetOnMessage(TMessageEvent::FromCallable(
        [&](TMsg& AMsg, bool&) { events.push_back("msg " + std::to_string(AMsg.Message)); }));
    Application->SetOnIdle(TIdleEvent::FromCallable([&](TObject* ASender, bool& ADone) {
        EXPECT_EQ(ASender, Application);
        events.push_back("idle");
        EXPECT_TRUE(ADone);
        Application->Terminate();
    }));
    Application->PostMessage(Application->Handle(), WM_USER + 1);
    Application->PostMessage(Application->Handle(), WM_USER + 2);
    Application->Run();
    EXPECT_TRUE(Application->Terminated());
    // The quit message is taken by the loop itself and never reaches OnMessage.
    EXPECT_EQ(events, (std::vector<std::string>{"msg 1025", "msg 1026", "idle"}));
}

TEST_F(TApplicationTest, IdleWithDoneFalseIsCalledAgainAndProcessMessagesNeverIdles) {
    int idles = 0;
    Application->SetOnIdle(TIdleEvent::FromCallable([&](TObject*, bool& ADone) {
        ADone = false;
        if (++idles == 3)
            Application->Terminate();
    }));
    Application->ProcessMessages();
    EXPECT_EQ(idles, 0);
    Application->Run();
    EXPECT_EQ(idles, 3);
}

TEST_F(TApplicationTest, OnMessageHandledStopsDispatchToHooks) {
    int hookCalls = 0;
    Application->HookMainWindow(TWindowHook::FromCallable([&](TMessage&) {
        ++hookCalls;
        return false;
    }));
    Application->SetOnMessage(TMessageEvent::FromCallable(
        [&](TMsg& AMsg, bool& AHandled) { AHandled = AMsg.Message == WM_USER; }));
    Application->PostMessage(Application->Handle(), WM_USER);
    Application->PostMessage(Application->Handle(), WM_USER + 1);
    Application->ProcessMessages();
    EXPECT_EQ(hookCalls, 1);
}

TEST_F(TApplicationTest, HooksRunInOrderAndTheFirstTrueEndsHandling) {
    std::vector<std::string> calls;
    const auto first = TWindowHook::FromCallable([&](TMessage& AMsg) {
        calls.push_back("first");
        return AMsg.Msg == WM_SETTINGCHANGE;
    });
    const auto second = TWindowHook::FromCallable([&](TMessage&) {
        calls.push_back("second");
        return false;
    });
    Application->HookMainWindow(first);
    Application->HookMainWindow(second);
    int activations = 0;
    Application->SetOnActivate(TNotifyEvent::FromCallable([&](TObject*) { ++activations; }));

    SendMessage(Application->Handle(), WM_SETTINGCHANGE);
    EXPECT_EQ(calls, (std::vector<std::string>{"first"}));

    calls.clear();
    SendMessage(Application->Handle(), WM_ACTIVATEAPP, 1);
    Application->ProcessMessages();
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "second", "first", "second"}));
    EXPECT_EQ(activations, 1);

    calls.clear();
    Application->UnhookMainWindow(first);
    SendMessage(Application->Handle(), WM_SETTINGCHANGE);
    EXPECT_EQ(calls, (std::vector<std::string>{"second"}));
}

TEST_F(TApplicationTest, HookReturningTrueSuppressesTheWindowsOwnHandling) {
    int activations = 0;
    Application->SetOnActivate(TNotifyEvent::FromCallable([&](TObject*) { ++activations; }));
    Application->HookMainWindow(TWindowHook::FromCallable([](TMessage&) { return true; }));
    SendMessage(Application->Handle(), WM_ACTIVATEAPP, 1);
    Application->ProcessMessages();
    EXPECT_EQ(activations, 0);
}

TEST_F(TApplicationTest, ActivationEventsFireWhenTheirPostedMessageIsHandled) {
    std::vector<std::string> events;
    Application->SetOnActivate(
        TNotifyEvent::FromCallable([&](TObject*) { events.push_back("activate"); }));
    Application->SetOnDeactivate(
        TNotifyEvent::FromCallable([&](TObject*) { events.push_back("deactivate"); }));
    SendMessage(Application->Handle(), WM_ACTIVATEAPP, 0);
    EXPECT_FALSE(Application->Active());
    EXPECT_TRUE(events.empty());
    SendMessage(Application->Handle(), WM_ACTIVATEAPP, 1);
    Application->ProcessMessages();
    EXPECT_TRUE(Application->Active());
    EXPECT_EQ(events, (std::vector<std::string>{"deactivate", "activate"}));
}

TEST_F(TApplicationTest, MinimizeAndRestoreFireOnlyOnAChange) {
    int minimized = 0, restored = 0;
    Application->SetOnMinimize(TNotifyEvent::FromCallable([&](TObject*) { ++minimized; }));
    Application->SetOnRestore(TNotifyEvent::FromCallable([&](TObject*) { ++restored; }));
    Application->Restore();
    Application->Minimize();
    Application->Minimize();
    Application->Restore();
    EXPECT_EQ(minimized, 1);
    EXPECT_EQ(restored, 1);
}

TEST_F(TApplicationTest, SystemCommandsToTheApplicationOrItsMainFormMinimizeAndRestore) {
    std::vector<std::string> events;
    Application->SetOnMinimize(
        TNotifyEvent::FromCallable([&](TObject*) { events.push_back("minimize"); }));
    Application->SetOnRestore(
        TNotifyEvent::FromCallable([&](TObject*) { events.push_back("restore"); }));
    TForm* main = Application->CreateForm<TForm>();
    TForm* other = Create<TForm>(Application);
    PostMessage(main->Handle(), WM_SYSCOMMAND, SC_MINIMIZE | 2); // low bits are the system's
    PostMessage(other->Handle(), WM_SYSCOMMAND, SC_RESTORE);     // not the main form: nothing
    PostMessage(Application->Handle(), WM_SYSCOMMAND, SC_RESTORE);
    PostMessage(Application->Handle(), WM_SYSCOMMAND, SC_MINIMIZE);
    Application->ProcessMessages();
    EXPECT_EQ(events, (std::vector<std::string>{"minimize", "restore", "minimize"}));
    EXPECT_TRUE(Application->Minimized());
}

TEST_F(TApplicationTest, F1AsksForTheFormsHelpTopicOnlyWhenItHasOne) {
    std::vector<std::string> calls;
    Application->SetOnHelp(
        THelpEvent::FromCallable([&](std::uint16_t ACommand, std::int32_t AData, bool&) {
            calls.push_back(std::to_string(ACommand) + " " + std::to_string(AData));
            return true;
        }));
    TForm* form = Application->CreateForm<TForm>();
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    form->Show();
    THeadlessWidgetSet::PressKey(edit, VK_F1);
    EXPECT_TRUE(calls.empty());
    form->SetHelpContext(310);
    THeadlessWidgetSet::PressKey(edit, VK_F1);
    EXPECT_EQ(calls, (std::vector<std::string>{"1 310"}));
}

TEST_F(TApplicationTest, PointerRestingOnAControlShowsItsHintAfterThePauseAndHidesItOnLeaving) {
    TForm* form = Application->CreateForm<TForm>();
    auto* save = Create<TButton>(form);
    save->SetParent(form);
    save->SetBounds(10, 20, 75, 25);
    save->SetHint("Save|Saves the document");
    save->SetShowHint(true);
    auto* quiet = Create<TButton>(form);
    quiet->SetParent(form);
    quiet->SetHint("Quiet");
    std::vector<std::string> events;
    Application->SetOnShowHint(
        TShowHintEvent::FromCallable([&](std::string& AHint, bool&, THintInfo& AInfo) {
            events.push_back("show " + AHint + (AInfo.HintControl == save ? " on save" : ""));
        }));
    Application->SetOnHint(TNotifyEvent::FromCallable(
        [&](TObject*) { events.push_back("hint " + Application->Hint()); }));

    THeadlessWidgetSet::MoveMouse(save);
    WS().AdvanceClock(Application->HintPause() - 1);
    EXPECT_TRUE(events.empty());
    WS().AdvanceClock(1);
    EXPECT_EQ(events, (std::vector<std::string>{"show Save on save"}));
    THeadlessWidgetSet::MoveMouse(save); // resting on it: due only once
    WS().AdvanceClock(5000);
    THeadlessWidgetSet::MoveMouse(quiet); // ShowHint off: no window
    WS().AdvanceClock(5000);
    EXPECT_EQ(WS().Log(), (std::vector<std::string>{"Hint 10,45: Save", "HideHint"}));

    // The long part becomes the application's hint when the loop goes idle.
    THeadlessWidgetSet::MoveMouse(save);
    Application->SetOnIdle(
        TIdleEvent::FromCallable([](TObject*, bool&) { Application->Terminate(); }));
    Application->Run();
    EXPECT_EQ(events, (std::vector<std::string>{"show Save on save", "hint Saves the document"}));

    WS().AdvanceClock(Application->HintPause());
    delete save; // its hint window goes with it
    EXPECT_EQ(WS().Log().back(), "HideHint");
    EXPECT_EQ(WS().TimerCount(), 0);
}

TEST_F(TApplicationTest, ExceptionFromOnShowHintOnTheHintTimerReachesOnException) {
    TForm* form = Application->CreateForm<TForm>();
    auto* button = Create<TButton>(form);
    button->SetHint("Save");
    button->SetShowHint(true);
    std::vector<TObject*> senders;
    Application->SetOnException(TExceptionEvent::FromCallable(
        [&](TObject* ASender, Exception*) { senders.push_back(ASender); }));
    Application->SetOnShowHint(TShowHintEvent::FromCallable(
        [](std::string&, bool&, THintInfo&) { throw EInvalidOperation("No hints today"); }));
    THeadlessWidgetSet::MoveMouse(button);
    WS().AdvanceClock(Application->HintPause());
    EXPECT_EQ(senders, (std::vector<TObject*>{Application}));
    EXPECT_EQ(WS().TimerCount(), 0);
}

TEST_F(TApplicationTest, HintChangesFireOnHintWithTheLongPart) {
    int hints = 0;
    Application->SetOnHint(TNotifyEvent::FromCallable([&](TObject*) { ++hints; }));
    TForm* form = Application->CreateForm<TForm>();
    auto* button = Create<TButton>(form);
    button->SetParent(form);
    button->SetHint("Save|Saves the document");
    Application->SetMouseControl(button);
    Application->SetOnIdle(
        TIdleEvent::FromCallable([](TObject*, bool&) { Application->Terminate(); }));
    Application->Run();
    EXPECT_EQ(Application->Hint(), "Saves the document");
    EXPECT_EQ(hints, 1);
}

TEST_F(TApplicationTest, ShowHintMayRewriteOrSuppressTheHint) {
    TForm* form = Application->CreateForm<TForm>();
    auto* button = Create<TButton>(form);
    button->SetHint("Save|Saves the document");
    button->SetShowHint(true);
    std::string shown;
    EXPECT_TRUE(Application->ActivateHint(button, shown));
    EXPECT_EQ(shown, "Save");
    Application->SetOnShowHint(
        TShowHintEvent::FromCallable([&](std::string& AHint, bool& ACanShow, THintInfo& AInfo) {
            EXPECT_EQ(AInfo.HintControl, button);
            AHint = "Store";
            ACanShow = AInfo.HintControl != nullptr;
        }));
    EXPECT_TRUE(Application->ActivateHint(button, shown));
    EXPECT_EQ(shown, "Store");
    Application->SetOnShowHint(TShowHintEvent::FromCallable(
        [](std::string&, bool& ACanShow, THintInfo&) { ACanShow = false; }));
    EXPECT_FALSE(Application->ActivateHint(button, shown));
}

TEST_F(TApplicationTest, HelpGoesToTheActiveFormFirstAndCallHelpDecidesTheResult) {
    std::vector<std::string> calls;
    Application->SetOnHelp(
        THelpEvent::FromCallable([&](std::uint16_t ACommand, std::int32_t AData, bool& ACallHelp) {
            calls.push_back("app " + std::to_string(ACommand) + " " + std::to_string(AData));
            ACallHelp = false;
            return true;
        }));
    EXPECT_TRUE(Application->HelpContext(42));
    TForm* form = Application->CreateForm<TForm>();
    form->SetOnHelp(THelpEvent::FromCallable([&](std::uint16_t, std::int32_t, bool&) {
        calls.push_back("form");
        return true; // leaves CallHelp true: the (absent) help system answers
    }));
    form->Show();
    EXPECT_FALSE(Application->HelpCommand(HELP_COMMAND, 7));
    EXPECT_EQ(calls, (std::vector<std::string>{"app 1 42", "form"}));
}

TEST_F(TApplicationTest, ExceptionsFromHandlersReachOnExceptionAndNeverLeaveRun) {
    std::vector<std::string> seen;
    Application->SetOnException(TExceptionEvent::FromCallable([&](TObject* ASender, Exception* E) {
        seen.push_back(E->ClassName() + ":" + E->Message() +
                       (ASender == Application ? "@app" : "@other"));
    }));
    Application->SetOnMessage(TMessageEvent::FromCallable([](TMsg& AMsg, bool&) {
        if (AMsg.Message == WM_USER)
            throw EConvertError("bad");
        if (AMsg.Message == WM_USER + 1)
            throw std::runtime_error("boom");
        if (AMsg.Message == WM_USER + 2)
            throw 42;
        if (AMsg.Message == WM_USER + 3)
            throw EAbort("silent");
    }));
    int idles = 0;
    Application->SetOnIdle(TIdleEvent::FromCallable([&](TObject*, bool&) {
        if (++idles == 1)
            throw EInvalidOperation("idle failed");
        Application->Terminate();
    }));
    for (std::uint32_t m = WM_USER; m <= WM_USER + 3; ++m)
        Application->PostMessage(Application->Handle(), m);
    EXPECT_NO_THROW(Application->Run());
    EXPECT_EQ(seen,
              (std::vector<std::string>{"EConvertError:bad@app", "std::runtime_error:boom@app",
                                        "int:@app", "EInvalidOperation:idle failed@app"}));
}

TEST_F(TApplicationTest, ExceptionInsideOnExceptionIsShownAndTheLoopGoesOn) {
    Application->SetTitle("Demo");
    Application->SetOnException(TExceptionEvent::FromCallable(
        [](TObject*, Exception*) { throw EInvalidOperation("handler broke"); }));
    int handled = 0;
    Application->SetOnMessage(TMessageEvent::FromCallable([&](TMsg&, bool&) {
        ++handled;
        throw EConvertError("first");
    }));
    Application->PostMessage(Application->Handle(), WM_USER);
    Application->PostMessage(Application->Handle(), WM_USER);
    Application->SetOnIdle(
        TIdleEvent::FromCallable([](TObject*, bool&) { Application->Terminate(); }));
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(Application->Run());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handled, 2);
    EXPECT_NE(err.find("Demo: handler broke."), std::string::npos) << err;
    ASSERT_EQ(WS().Log().size(), 2u);
    EXPECT_EQ(WS().Log()[0], "MessageDlg mtError [mbOK] Demo: handler broke.");
}

TEST_F(TApplicationTest, ShowExceptionAppendsAPeriodOnlyAfterCharactersAbovePeriod) {
    Application->SetTitle("T");
    const std::vector<std::pair<std::string, std::string>> cases{{"Bad value", "Bad value."},
                                                                 {"Done.", "Done."},
                                                                 {"Really?", "Really?."},
                                                                 {"Oops!", "Oops!"},
                                                                 {"(see log)", "(see log)"},
                                                                 {"a - ", "a - "},
                                                                 {"x,", "x,"},
                                                                 {"'x.txt'", "'x.txt'"},
                                                                 {"3", "3."},
                                                                 {"", ""}};
    testing::internal::CaptureStderr();
    for (const auto& [message, shown] : cases) {
        WS().ClearLog();
        EConvertError e(message);
        Application->ShowException(&e);
        ASSERT_EQ(WS().Log().size(), 1u);
        EXPECT_EQ(WS().Log()[0], "MessageDlg mtError [mbOK] T: " + shown);
    }
    testing::internal::GetCapturedStderr();
}

TEST_F(TApplicationTest, DefaultTitleIsTheExecutableNameUpToItsFirstDot) {
    EXPECT_EQ(Application->ExeName(), platform::PlatformServices().Files->ExecutablePath());
    EXPECT_FALSE(Application->ExeName().empty());
    // The first character is kept as it is, the rest is lower-cased.
    EXPECT_EQ(Application->Title(), "host_tests");
    Application->SetTitle("Mine");
    EXPECT_EQ(Application->Title(), "Mine");
}

TEST_F(TApplicationTest, ClosingTheMainFormEndsRun) {
    TForm* mainForm = Application->CreateForm<TForm>();
    TForm* other = Application->CreateForm<TForm>();
    EXPECT_EQ(Application->MainForm(), mainForm);
    Application->SetOnIdle(TIdleEvent::FromCallable([&](TObject*, bool&) {
        EXPECT_TRUE(mainForm->Visible());
        other->Close();
        mainForm->Close();
    }));
    Application->Run();
    EXPECT_TRUE(Application->Terminated());
}

TEST_F(TApplicationTest, MessagesPostedToAFormReachItsWindowProcedure) {
    Application->CreateForm<TForm>(); // the main form
    TForm* form = Application->CreateForm<TForm>();
    form->Show();
    int closes = 0;
    form->SetOnClose(TCloseEvent::FromCallable([&](TObject*, TCloseAction& AAction) {
        ++closes;
        AAction = caFree;
    }));
    Application->PostMessage(form->Handle(), WM_CLOSE);
    Application->ProcessMessages(); // WM_CLOSE, then the posted release
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(Screen->CustomFormCount(), 1);
}

TEST_F(TApplicationTest, PostedMessagesFromWorkerThreadsWakeTheLoop) {
    Application->SetOnMessage(TMessageEvent::FromCallable([](TMsg& AMsg, bool&) {
        if (AMsg.Message == WM_USER + 9)
            Application->Terminate();
    }));
    std::thread poster([] { Application->PostMessage(Application->Handle(), WM_USER + 9); });
    Application->Run(); // waits idle until the worker's message arrives
    poster.join();
    EXPECT_TRUE(Application->Terminated());
}

// ---- the screen and the focus ---------------------------------------------------------------

TEST_F(TScreenTest, FocusChangesFireFormThenControlEventsAfterEnterAndExit) {
    std::vector<std::string> events;
    auto note = [&](const char* AWhat) {
        return TNotifyEvent::FromCallable([&events, AWhat](TObject*) { events.push_back(AWhat); });
    };
    TForm* form = Application->CreateForm<TForm>();
    form->SetName("Form1");
    auto* first = Create<TEdit>(form);
    first->SetName("Edit1");
    first->SetParent(form);
    auto* second = Create<TEdit>(form);
    second->SetName("Edit2");
    second->SetParent(form);
    first->SetOnEnter(note("enter1"));
    first->SetOnExit(note("exit1"));
    second->SetOnEnter(note("enter2"));
    form->SetOnActivate(note("activate"));
    Screen->SetOnActiveFormChange(TNotifyEvent::FromCallable([&](TObject* ASender) {
        EXPECT_EQ(ASender, Screen);
        EXPECT_EQ(Screen->ActiveForm(), form);
        events.push_back("formchange");
    }));
    Screen->SetOnActiveControlChange(TNotifyEvent::FromCallable([&](TObject*) {
        events.push_back(std::string("controlchange ") + Screen->ActiveControl()->Name());
    }));

    form->Show();
    EXPECT_EQ(Screen->ActiveControl(), first);
    EXPECT_TRUE(first->Focused());
    EXPECT_EQ(events, (std::vector<std::string>{"activate", "enter1", "formchange",
                                                "controlchange Edit1"}));
    events.clear();
    second->SetFocus();
    EXPECT_EQ(events, (std::vector<std::string>{"exit1", "enter2", "controlchange Edit2"}));
    EXPECT_EQ(Screen->ActiveCustomForm(), form);
}

TEST_F(TScreenTest, FocusMovedByTheToolkitActivatesTheFormAndFiresTheScreensEvents) {
    TForm* first = Application->CreateForm<TForm>();
    auto* edit = Create<TEdit>(first);
    edit->SetParent(first);
    TForm* second = Create<TForm>(Application);
    auto* memo = Create<TMemo>(second);
    memo->SetParent(second);
    auto* hidden = Create<TEdit>(second);
    hidden->SetParent(second);
    hidden->SetVisible(false);
    first->Show();
    second->SetVisible(true);
    std::vector<std::string> events;
    Screen->SetOnActiveFormChange(
        TNotifyEvent::FromCallable([&](TObject*) { events.push_back("form"); }));
    Screen->SetOnActiveControlChange(
        TNotifyEvent::FromCallable([&](TObject*) { events.push_back("control"); }));
    PostMessage(memo->Handle(), WM_SETFOCUS);
    PostMessage(memo->Handle(), WM_SETFOCUS);   // already there: nothing
    PostMessage(hidden->Handle(), WM_SETFOCUS); // cannot take it: nothing
    Application->ProcessMessages();
    EXPECT_EQ(Screen->ActiveForm(), second);
    EXPECT_EQ(Screen->ActiveControl(), memo);
    EXPECT_EQ(events, (std::vector<std::string>{"form", "control"}));
}

TEST_F(TScreenTest, HandlerThatMovesTheFocusSkipsTheRestOfTheTransition) {
    TForm* form = Application->CreateForm<TForm>();
    auto* first = Create<TEdit>(form);
    first->SetParent(form);
    auto* second = Create<TEdit>(form);
    second->SetParent(form);
    form->Show();
    int controlChanges = 0;
    Screen->SetOnActiveControlChange(
        TNotifyEvent::FromCallable([&](TObject*) { ++controlChanges; }));
    second->SetOnEnter(TNotifyEvent::FromCallable([&](TObject*) { first->SetFocus(); }));
    second->SetFocus();
    EXPECT_EQ(Screen->ActiveControl(), first);
    // Only the nested move (second -> first) reports; the interrupted one does not.
    EXPECT_EQ(controlChanges, 1);
}

TEST_F(TScreenTest, ActiveFormIsNullForACustomFormThatIsNotAForm) {
    auto* custom = Create<TCustomForm>(Application);
    custom->Show();
    EXPECT_EQ(Screen->ActiveCustomForm(), custom);
    EXPECT_EQ(Screen->ActiveForm(), nullptr);
    EXPECT_EQ(Screen->FormCount(), 0);
    EXPECT_EQ(Screen->CustomFormCount(), 1);
}

TEST_F(TScreenTest, DestroyedControlsAndFormsLeaveNoDanglingFocus) {
    TForm* form = Application->CreateForm<TForm>();
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    form->Show();
    ASSERT_EQ(Screen->ActiveControl(), edit);
    delete edit;
    EXPECT_EQ(Screen->ActiveControl(), nullptr);
    EXPECT_EQ(form->ActiveControl(), nullptr);
    delete form;
    EXPECT_EQ(Screen->ActiveCustomForm(), nullptr);
    EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST_F(TScreenTest, CannotFocusAHiddenOrDisabledControl) {
    TForm* form = Application->CreateForm<TForm>();
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    edit->SetEnabled(false);
    form->Show();
    EXPECT_THROW(edit->SetFocus(), EInvalidOperation);
    edit->SetEnabled(true);
    edit->SetVisible(false);
    EXPECT_THROW(edit->SetFocus(), EInvalidOperation);
}

TEST_F(TScreenTest, SizeIsZeroWithoutADisplay) {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0')
        GTEST_SKIP() << "a display is reachable through DISPLAY";
    EXPECT_EQ(Screen->Width(), 0);
    EXPECT_EQ(Screen->Height(), 0);
}

// ---- forms --------------------------------------------------------------------------------

namespace {

class TfrmStored : public TForm {
    JEX_CLASS(TfrmStored)

public:
    using TForm::TForm;

    void btnGoClick(TObject*) { ++Clicks; }

    int Clicks = 0;
};

const char* const StoredFormText = R"(object frmStored: TfrmStored
  Left = 200
  Top = 108
  BorderStyle = bsDialog
  ClientHeight = 110
  ClientWidth = 394
  OldCreateOrder = False
  Position = poScreenCenter
  PixelsPerInch = 96
  TextHeight = 13
  object imgError: TImage
    Left = 10
    Top = 10
    Width = 32
    Height = 32
    Center = True
  end
  object lblText: TMemo
    Left = 56
    Top = 10
    Width = 329
    Height = 57
    BorderStyle = bsNone
    ParentColor = True
    ReadOnly = True
    ScrollBars = ssVertical
    TabOrder = 1
  end
  object btnClose: TButton
    Left = 312
    Top = 80
    Width = 75
    Height = 25
    Caption = '&Close'
    Cancel = True
    Default = True
    ModalResult = 1
    TabOrder = 0
  end
  object btnGo: TButton
    Left = 8
    Top = 80
    Width = 125
    Height = 25
    TabOrder = 3
    Visible = False
    OnClick = btnGoClick
  end
  object cbAttach: TCheckBox
    Left = 8
    Top = 110
    Width = 250
    Height = 17
    TabOrder = 2
    Visible = False
  end
end
)";

} // namespace

const TClassInfo& TfrmStored::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TfrmStored>("TfrmStored", &TForm::StaticClassInfo())
            .Component()
            .Method("btnGoClick", &TfrmStored::btnGoClick)
            .Build();
    return info;
}

TEST_F(TCustomFormTest, StoredTextFormLoadsControlsWithTheirGeometryAndSettings) {
    RegisterClass(TfrmStored::StaticClassInfo());
    RegisterFormResource("TfrmStored", StoredFormText);
    auto* form = Create<TfrmStored>(Application);
    EXPECT_EQ(form->Name(), "frmStored");
    EXPECT_EQ(form->BorderStyle(), bsDialog);
    EXPECT_EQ(form->Position(), poScreenCenter);
    EXPECT_EQ(form->ClientWidth(), 394);
    EXPECT_EQ(form->ClientHeight(), 110);
    EXPECT_EQ(form->ControlCount(), 5);

    auto* image = dynamic_cast<TImage*>(form->FindComponent("imgError"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Parent(), form);
    EXPECT_TRUE(image->Center());
    EXPECT_EQ(image->Width(), 32);

    auto* memo = dynamic_cast<TMemo*>(form->FindComponent("lblText"));
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->BorderStyle(), bsNone);
    EXPECT_TRUE(memo->ReadOnly());
    EXPECT_EQ(memo->ScrollBars(), ssVertical);
    EXPECT_TRUE(memo->ParentColor());
    EXPECT_EQ(memo->Color(), form->Color());
    EXPECT_EQ(memo->Left(), 56);
    EXPECT_EQ(memo->Height(), 57);

    auto* close = dynamic_cast<TButton*>(form->FindComponent("btnClose"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->Caption(), "&Close");
    EXPECT_TRUE(close->Default());
    EXPECT_TRUE(close->Cancel());
    EXPECT_EQ(close->ModalResult(), mrOk);
    EXPECT_EQ(close->TabOrder(), 0);
    EXPECT_EQ(memo->TabOrder(), 1);

    auto* check = dynamic_cast<TCheckBox*>(form->FindComponent("cbAttach"));
    ASSERT_NE(check, nullptr);
    EXPECT_FALSE(check->Visible());
    EXPECT_EQ(check->Top(), 110);
    EXPECT_EQ(check->TabOrder(), 2);

    auto* go = dynamic_cast<TButton*>(form->FindComponent("btnGo"));
    ASSERT_NE(go, nullptr);
    go->Click();
    EXPECT_EQ(form->Clicks, 1);
}

TEST_F(TCustomFormTest, ModalFormAnsweredByAResponderReturnsTheClickedButtonsResult) {
    RegisterClass(TfrmStored::StaticClassInfo());
    RegisterFormResource("TfrmStored", StoredFormText);
    auto* form = Create<TfrmStored>(Application);
    auto* go = dynamic_cast<TButton*>(form->FindComponent("btnGo"));
    go->SetVisible(true);
    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable([&](TCustomForm* F) {
        EXPECT_TRUE(F->Visible());
        EXPECT_TRUE(F->Modal());
        EXPECT_EQ(Screen->ActiveCustomForm(), F);
        // Focus starts on the first control in tab order.
        EXPECT_EQ(Screen->ActiveControl(), F->FindComponent("btnClose"));
        THeadlessWidgetSet::Click(go); // does not close the form
        EXPECT_EQ(F->ModalResult(), mrNone);
        THeadlessWidgetSet::Click(dynamic_cast<TControl*>(F->FindComponent("btnClose")));
    }));
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(form->Clicks, 1);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->Modal());
    EXPECT_EQ(WS().Log().back(), "ShowModal TfrmStored frmStored");
}

TEST_F(TCustomFormTest, EscapeAndEnterPressTheCancelAndDefaultButtons) {
    TForm* form = Application->CreateForm<TForm>();
    auto* ok = Create<TButton>(form);
    ok->SetParent(form);
    ok->SetDefault(true);
    ok->SetModalResult(mrOk);
    auto* cancel = Create<TButton>(form);
    cancel->SetParent(form);
    cancel->SetCancel(true);
    cancel->SetModalResult(mrCancel);
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    edit->SetTabOrder(0);

    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable([&](TCustomForm*) {
        EXPECT_EQ(Screen->ActiveControl(), edit);
        THeadlessWidgetSet::TypeText(edit, "abc");
        THeadlessWidgetSet::PressKey(edit, VK_ESCAPE);
    }));
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_EQ(edit->Text(), "abc");

    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable(
        [&](TCustomForm*) { THeadlessWidgetSet::PressKey(edit, VK_RETURN); }));
    EXPECT_EQ(form->ShowModal(), mrOk);

    // A focused button takes Enter itself, even when it is not the default one.
    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable([&](TCustomForm*) {
        cancel->SetFocus();
        THeadlessWidgetSet::PressKey(cancel, VK_RETURN);
    }));
    EXPECT_EQ(form->ShowModal(), mrCancel);
}

TEST_F(TCustomFormTest, ModalFormClosesAtOnceWithCancelWithoutResponder) {
    TForm* form = Application->CreateForm<TForm>();
    int closes = 0;
    form->SetOnClose(TCloseEvent::FromCallable([&](TObject*, TCloseAction&) { ++closes; }));
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(form->Visible());
}

TEST_F(TCustomFormTest, ResponderThatLeavesTheFormOpenFailsLoudly) {
    TForm* form = Application->CreateForm<TForm>();
    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable([](TCustomForm*) {}));
    EXPECT_THROW(form->ShowModal(), EInvalidOperation);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->Modal());
}

TEST_F(TCustomFormTest, ShowModalRefusesAVisibleForm) {
    TForm* form = Application->CreateForm<TForm>();
    form->Show();
    EXPECT_THROW(form->ShowModal(), EInvalidOperation);
}

TEST_F(TCustomFormTest, ExceptionFromAClickedButtonGoesToTheApplicationWithTheButtonAsSender) {
    TForm* form = Application->CreateForm<TForm>();
    auto* button = Create<TButton>(form);
    button->SetParent(form);
    button->SetOnClick(TNotifyEvent::FromCallable([](TObject*) { throw EConvertError("x"); }));
    TObject* sender = nullptr;
    Application->SetOnException(
        TExceptionEvent::FromCallable([&](TObject* ASender, Exception*) { sender = ASender; }));
    THeadlessWidgetSet::Click(button);
    EXPECT_EQ(sender, button);
}

TEST_F(TCustomFormTest, ScreenCenterNeedsAScreenElseTheStoredPlaceStays) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(200, 108, 394, 110);
    form->SetPosition(poScreenCenter);
    form->Show();
    if (Screen->Width() > 0) {
        EXPECT_EQ(form->Left(), (Screen->Width() - 394) / 2);
    } else {
        EXPECT_EQ(form->Left(), 200);
        EXPECT_EQ(form->Top(), 108);
    }
}

TEST_F(TCustomFormTest, HandlesCarryTheControlsStateToTheWidgetSet) {
    TForm* form = Application->CreateForm<TForm>();
    auto* button = Create<TButton>(form);
    button->SetParent(form);
    button->SetCaption("Go");
    EXPECT_EQ(WS().HandleState(button), nullptr);
    form->Show();
    const auto* state = WS().HandleState(button);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->Text, "Go");
    button->SetBounds(1, 2, 3, 4);
    button->SetCaption("Stop");
    EXPECT_EQ(state->Text, "Stop");
    EXPECT_EQ(state->Width, 3);
    delete button;
    EXPECT_EQ(WS().HandleCount(), 1);
}

TEST_F(TScreenTest, SizeAndBeepComeFromThePlatformsScreenService) {
    platform::TFakeScreenService fake;
    fake.Image.Width = 1024;
    fake.Image.Height = 768;
    platform::TScopedPlatformServices scope({nullptr, &fake});
    EXPECT_EQ(Screen->Width(), 1024);
    EXPECT_EQ(Screen->Height(), 768);
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(0, 0, 394, 110);
    form->SetPosition(poScreenCenter);
    form->Show();
    EXPECT_EQ(form->Left(), (1024 - 394) / 2);
    EXPECT_EQ(form->Top(), (768 - 110) / 2);
    // The headless widgetset records the beep; the platform's is the default of others.
    WS().Beep();
    EXPECT_EQ(WS().Log().back(), "Beep");
    EXPECT_EQ(fake.Beeps, 0);
}

// ---- closing, focus rules, the screen's lists and the application's last resorts ------------

namespace {

// A control of class C owned by AForm and shown on it.
template <typename C>
C* Placed(TCustomForm* AForm) {
    auto* control = Create<C>(AForm);
    control->SetParent(AForm);
    return control;
}

} // namespace

TEST_F(TCustomFormTest, CloseQueryAndOnCloseCanKeepAFormOpen) {
    Application->CreateForm<TForm>(); // the main form
    TForm* form = Application->CreateForm<TForm>();
    form->Show();
    bool allow = false;
    form->SetOnCloseQuery(
        TCloseQueryEvent::FromCallable([&](TObject*, bool& ACanClose) { ACanClose = allow; }));
    form->Close();
    EXPECT_TRUE(form->Visible());

    allow = true;
    TCloseAction answer = caNone;
    form->SetOnClose(
        TCloseEvent::FromCallable([&](TObject*, TCloseAction& AAction) { AAction = answer; }));
    form->Close();
    EXPECT_TRUE(form->Visible());

    answer = caHide;
    form->Close();
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(Application->Terminated());
}

TEST_F(TCustomFormTest, ModalFormThatRefusesToCloseKeepsNoResultAndOneFreedOnCloseGoes) {
    TForm* form = Application->CreateForm<TForm>();
    bool allow = false;
    form->SetOnCloseQuery(
        TCloseQueryEvent::FromCallable([&](TObject*, bool& ACanClose) { ACanClose = allow; }));
    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable(
        [](TCustomForm* F) { F->SetModalResult(mrOk); }));
    EXPECT_THROW(form->ShowModal(), EInvalidOperation);
    EXPECT_EQ(form->ModalResult(), mrNone);
    EXPECT_FALSE(form->Visible());

    allow = true;
    form->SetOnClose(
        TCloseEvent::FromCallable([](TObject*, TCloseAction& AAction) { AAction = caFree; }));
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(Screen->CustomFormCount(), 1);
    Application->ProcessMessages(); // the posted release
    EXPECT_EQ(Screen->CustomFormCount(), 0);
}

TEST_F(TCustomFormTest, ActiveControlMustBeAFocusableControlOfTheFormItself) {
    TForm* form = Application->CreateForm<TForm>();
    TForm* other = Application->CreateForm<TForm>();
    auto* mine = Placed<TEdit>(form);
    auto* hidden = Placed<TEdit>(form);
    hidden->SetVisible(false);
    auto* foreign = Placed<TEdit>(other);
    EXPECT_THROW(form->SetActiveControl(form), EInvalidOperation);
    EXPECT_THROW(form->SetActiveControl(hidden), EInvalidOperation);
    EXPECT_THROW(form->SetActiveControl(foreign), EInvalidOperation);
    EXPECT_THROW(form->FocusControl(hidden), EInvalidOperation);

    // Chosen while another form is active, taken up when this one is activated.
    form->Show();
    other->Show();
    other->SetFocus();
    form->SetActiveControl(mine);
    EXPECT_EQ(Screen->ActiveCustomForm(), other);
    form->FocusControl(form);
    EXPECT_EQ(Screen->ActiveCustomForm(), form);
    EXPECT_EQ(Screen->ActiveControl(), mine);
    form->SetActiveControl(nullptr);
    EXPECT_EQ(form->ActiveControl(), nullptr);

    other->SetVisible(false);
    EXPECT_THROW(other->SetFocus(), EInvalidOperation);
}

TEST_F(TCustomFormTest, TabMovesTheFocusAndKeysWithoutAButtonAreLeftToTheControl) {
    TForm* form = Application->CreateForm<TForm>();
    auto* first = Placed<TEdit>(form);
    auto* second = Placed<TEdit>(form);
    form->Show();
    first->SetFocus();
    EXPECT_TRUE(form->DialogKey(VK_TAB, {}));
    EXPECT_EQ(Screen->ActiveControl(), second);
    EXPECT_TRUE(form->DialogKey(VK_TAB, {ssShift}));
    EXPECT_EQ(Screen->ActiveControl(), first);
    // No default, cancel or help: the keys are not the form's.
    EXPECT_FALSE(form->DialogKey(VK_RETURN, {}));
    EXPECT_FALSE(form->DialogKey(VK_ESCAPE, {}));
    EXPECT_FALSE(form->DialogKey(VK_F1, {}));
    EXPECT_FALSE(form->DialogKey('A', {}));
}

TEST_F(TScreenTest, FormListsRefuseIndexesOutsideThemAndCountOnlyFormsAsForms) {
    TForm* form = Application->CreateForm<TForm>();
    EXPECT_EQ(Screen->CustomForms(0), form);
    EXPECT_EQ(Screen->Forms(0), form);
    EXPECT_THROW(Screen->CustomForms(1), EListError);
    EXPECT_THROW(Screen->CustomForms(-1), EListError);
    EXPECT_THROW(Screen->Forms(1), EListError);
    EXPECT_EQ(Screen->ClassName(), "TScreen");
    EXPECT_EQ(Application->ClassName(), "TApplication");
}

TEST_F(TApplicationTest, CloseMessageEndsTheApplicationWithOrWithoutAMainForm) {
    Application->PostMessage(Application->Handle(), WM_CLOSE);
    Application->ProcessMessages();
    EXPECT_TRUE(Application->Terminated());

    DoneApplication();
    InitApplication(std::make_unique<THeadlessWidgetSet>());
    TForm* mainForm = Application->CreateForm<TForm>();
    mainForm->Show();
    int closes = 0;
    mainForm->SetOnClose(TCloseEvent::FromCallable([&](TObject*, TCloseAction&) { ++closes; }));
    Application->PostMessage(Application->Handle(), WM_CLOSE);
    Application->ProcessMessages();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(Application->Terminated());
}

TEST_F(TApplicationTest, SentMessagesReachTheControlAndUnknownHandlesAnswerNothing) {
    TForm* form = Application->CreateForm<TForm>();
    form->Show();
    int closes = 0;
    form->SetOnClose(TCloseEvent::FromCallable([&](TObject*, TCloseAction&) { ++closes; }));
    EXPECT_EQ(Application->SendMessage(form->Handle(), WM_CLOSE), 0);
    EXPECT_EQ(closes, 1); // handled before SendMessage returned
    EXPECT_EQ(SendMessage(987654, WM_CLOSE), 0);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(Application->PostMessage(0, WM_USER));
}

TEST_F(TApplicationTest, ExceptionFromShowingTheMainFormIsHandledAndTheLoopStillRuns) {
    TForm* mainForm = Application->CreateForm<TForm>();
    mainForm->SetOnShow(
        TNotifyEvent::FromCallable([](TObject*) { throw EInvalidOperation("no room"); }));
    std::vector<std::string> seen;
    Application->SetOnException(TExceptionEvent::FromCallable(
        [&](TObject*, Exception* E) { seen.push_back(E->Message()); }));
    Application->SetOnIdle(
        TIdleEvent::FromCallable([](TObject*, bool&) { Application->Terminate(); }));
    Application->Run();
    EXPECT_EQ(seen, std::vector<std::string>{"no room"});
}

TEST_F(TApplicationTest, WithoutOnExceptionTheErrorIsShownAndAFailingDisplayGoesToStandardError) {
    try {
        throw EConvertError("'x' is not a valid integer value");
    } catch (...) {
        Application->HandleException(Application);
    }
    ASSERT_EQ(WS().Log().size(), 1u);
    EXPECT_NE(WS().Log()[0].find("'x' is not a valid integer value."), std::string::npos);

    // The handler fails and so does showing its failure.
    Application->SetOnException(TExceptionEvent::FromCallable(
        [](TObject*, Exception*) { throw EInvalidOperation("handler broke"); }));
    WS().SetDialogResponder(THeadlessWidgetSet::TDialogResponder::FromCallable(
        [](const TMessageDlgRequest&) -> TModalResult { throw EOutOfResources("no window"); }));
    testing::internal::CaptureStderr();
    try {
        throw EConvertError("bad");
    } catch (...) {
        Application->HandleException(Application);
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Exception while handling an exception: no window\n"), std::string::npos)
        << errors;

    // A handler that aborts quietly shows nothing.
    Application->SetOnException(
        TExceptionEvent::FromCallable([](TObject*, Exception*) { throw EAbort(""); }));
    WS().SetDialogResponder({});
    const std::size_t shown = WS().Log().size();
    try {
        throw EConvertError("bad");
    } catch (...) {
        Application->HandleException(Application);
    }
    Application->ShowException(nullptr);
    EXPECT_EQ(WS().Log().size(), shown);
}

TEST_F(TApplicationTest, OnlyOneApplicationAndNeverWithoutAWidgetset) {
    EXPECT_THROW(InitApplication(std::make_unique<THeadlessWidgetSet>()), EInvalidOperation);
    EXPECT_THROW(TApplication(nullptr, nullptr), EInvalidOperation);
    DoneApplication();
    EXPECT_THROW(InitApplication(nullptr), EInvalidOperation);
    EXPECT_EQ(Application, nullptr);
    InitApplication(std::make_unique<THeadlessWidgetSet>());
}

TEST_F(TApplicationTest, NoControlMeansNoHint) {
    std::string hint = "stale";
    EXPECT_FALSE(Application->ActivateHint(nullptr, hint));
    EXPECT_EQ(hint, "");
}

TEST_F(TScreenTest, FocusGivenByTheToolkitAndClicksOnPlainControlsReachTheControls) {
    TForm* form = Application->CreateForm<TForm>();
    auto* first = Create<TEdit>(form);
    first->SetParent(form);
    auto* second = Create<TEdit>(form);
    second->SetParent(form);
    auto* label = Create<TLabel>(form);
    label->SetParent(form);
    int clicks = 0;
    label->SetOnClick(TNotifyEvent::FromCallable([&](TObject*) { ++clicks; }));
    form->Show();
    THeadlessWidgetSet::FocusControl(second);
    EXPECT_EQ(Screen->ActiveControl(), second);
    THeadlessWidgetSet::Click(label);
    EXPECT_EQ(clicks, 1);
    // Hiding a hint that is not shown leaves no trace.
    const std::size_t logged = WS().Log().size();
    WS().HideHint();
    EXPECT_EQ(WS().Log().size(), logged);
}
