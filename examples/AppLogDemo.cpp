// examples/AppLogDemo.cpp - an application whose TJexAppLog records what its user did.
//
// The form carries a TJexAppLog; its events write one line each through WriteAsString. The
// message loop then gets what a desktop would send: the focus moving to another edit box, the
// application losing and regaining the focus, a change of the system's settings. The first
// idle moment ends the run, and the log is printed.
#include "examples/AppLogDemo.h"

#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"
#include "monitors/LogApp.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

void AppLogDemo(const std::string& AFolder) {
    using namespace host;
    using namespace jex;
    const std::string logPath = (std::filesystem::path(AFolder) / "jexdemo-appevents.log").string();
    std::filesystem::remove(logPath);

    InitApplication(std::make_unique<THeadlessWidgetSet>());
    Application->SetTitle("Orders");
    TForm* form = Application->CreateForm<TForm>();
    form->SetName("frmOrders");
    auto* customer = Create<TEdit>(form);
    customer->SetName("edtCustomer");
    customer->SetParent(form);
    auto* total = Create<TEdit>(form);
    total->SetName("edtTotal");
    total->SetParent(form);

    TJexAppLog* events = Create<TJexAppLog>(form);
    events->SetLogFile(logPath);
    const auto line = [events](const std::string& AText) {
        events->WriteAsString(TimeToStr(Now()) + "  " + AText + "\r\n");
    };
    events->SetOnActiveFormChange(TNotifyEvent::FromCallable([line](TObject*) {
        line("Form " + (Screen->ActiveForm() != nullptr ? Screen->ActiveForm()->Name() : "-"));
    }));
    events->SetOnActiveControlChange(TNotifyEvent::FromCallable([line](TObject*) {
        line("Focus " + (Screen->ActiveControl() != nullptr ? Screen->ActiveControl()->Name()
                                                            : std::string("-")));
    }));
    events->SetOnDeactivate(
        TNotifyEvent::FromCallable([line](TObject*) { line("Application lost the focus"); }));
    events->SetOnActivate(
        TNotifyEvent::FromCallable([line](TObject*) { line("Application got the focus back"); }));
    events->SetOnSettingsChanged(
        TNotifyEvent::FromCallable([line](TObject*) { line("System settings changed"); }));
    events->SetOnIdle(TIdleEvent::FromCallable([line](TObject*, bool&) {
        line("Idle: the user's input is all handled");
        Application->Terminate();
    }));

    // What the desktop sends while the user works.
    PostMessage(total->Handle(), WM_SETFOCUS);
    PostMessage(Application->Handle(), WM_ACTIVATEAPP, 0);
    PostMessage(Application->Handle(), WM_ACTIVATEAPP, 1);
    PostMessage(Application->Handle(), WM_SETTINGCHANGE);
    Application->Run();
    DoneApplication();

    std::cout << "\n== " << logPath << " (written from TJexAppLog's events) ==\n";
    TStringList lines;
    lines.LoadFromFile(logPath);
    for (int i = 0; i < lines.Count(); ++i)
        std::cout << lines[i] << "\n";
    std::filesystem::remove(logPath);
}
