// examples/FaultsDemo.cpp - a null dereference in a button handler, reported and survived.
//
// The demo is built with jex_enable_fault_exceptions, so the fault is thrown as an
// EAccessViolation from the faulting instruction and handled by the application's loop like any
// other exception: the logger writes its report and the next message is handled.
#include "FaultsDemo.h"

#include "exceptions/LogError.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

struct TCustomer {
    const char* Name;
};

// The handler of the "Show customer" button: no customer is selected.
TCustomer* selectedCustomer = nullptr;

void ShowCustomerClick(host::TObject*) {
    const char* name = selectedCustomer->Name;
    std::cout << "Customer: " << name << "\n";
}

} // namespace

void FaultsDemo(const std::string& AFolder) {
    using namespace host;
    using namespace jex;
    const std::string logPath = (std::filesystem::path(AFolder) / "jexdemo-faults.log").string();
    std::filesystem::remove(logPath);

    InitApplication(std::make_unique<THeadlessWidgetSet>());
    Application->SetTitle("Customers");
    TForm* form = Application->CreateForm<TForm>();
    form->SetName("frmCustomers");
    auto* button = Create<TButton>(form);
    button->SetName("btnShowCustomer");
    button->SetParent(form);
    button->SetOnClick(TNotifyEvent::FromCallable(&ShowCustomerClick));
    TJexExceptionLog* logger = Create<TJexExceptionLog>(form);
    logger->SetLogFile(logPath);
    logger->SetFormats({lfExceptionClassName, lfMessage, lfSourceLine, lfSeparator});
    logger->SetErrorDialog(edNone);
    logger->SetActive(true);

    // A click on the button, then one more message that proves the loop survived.
    constexpr std::uint32_t afterClick = WM_USER + 1;
    Application->HookMainWindow(TWindowHook::FromCallable([](TMessage& AMsg) {
        if (AMsg.Msg != afterClick)
            return false;
        std::cout << "The loop went on and handled the next message.\n";
        Application->Terminate();
        return true;
    }));
    Application->PostMessage(button->Handle(), BM_CLICK);
    Application->PostMessage(Application->Handle(), afterClick);
    Application->Run();
    DoneApplication();

    std::ifstream log(logPath, std::ios::binary);
    std::stringstream text;
    text << log.rdbuf();
    std::cout << "\n== " << logPath << " (a null dereference, written by TJexExceptionLog) ==\n"
              << text.str() << "\n";
    std::filesystem::remove(logPath);
}
