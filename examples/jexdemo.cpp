// examples/jexdemo.cpp - the demo application: log components on a form-like owner, then an
// application whose exception logger reports what its message loop raises.
//
// Places two log components on an owner, as a form would, writes typed records through them
// into one log file, stores the owner as a text form and reads it back, then prints the log.
// Then runs a small application on the headless widgetset: its form carries a TJexExceptionLog,
// three kinds of exception are raised from the message loop (a framework exception, a failed
// number conversion, a C++ library error), the error dialogs close at once, and the log the
// logger wrote is printed.
#include "examples/DataSetLogDemo.h"
#include "exceptions/LogError.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"
#include "logging/LogBase.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The demo's main form: owns its log components and destroys them with itself.
class TDemoForm : public host::TComponent {
    JEX_CLASS(TDemoForm)

public:
    using host::TComponent::TComponent;
};

const host::TClassInfo& TDemoForm::StaticClassInfo() {
    static const host::TClassInfo info =
        host::TClassInfoBuilder<TDemoForm>("TDemoForm", &host::TComponent::StaticClassInfo())
            .Component()
            .Build();
    return info;
}

std::string ReadWholeFile(const std::string& APath) {
    host::TFileStream stream(APath, host::fmOpenRead | host::fmShareDenyNone);
    std::string text(static_cast<std::size_t>(stream.Size()), '\0');
    stream.ReadBuffer(text.data(), static_cast<std::int64_t>(text.size()));
    return text;
}

// The order form's handlers; each fails in its own way.
void LockOrder() {
    throw host::EInvalidOperation("Order 4711 is locked by another user");
}

void ParseTotal() {
    std::cout << "Total: " << static_cast<double>(host::StrToFloat("12,5x")) << "\n";
}

void ReadFourthLine() {
    const std::vector<int> lines{1, 2, 3};
    std::cout << "Fourth line: " << lines.at(3) << "\n";
}

// Runs an application whose main form has an exception logger, raises three exceptions from its
// message loop and prints the log the logger wrote.
void ExceptionLoggingDemo() {
    using namespace host;
    using namespace jex;
    const std::string logPath =
        (std::filesystem::temp_directory_path() / "jexdemo-exceptions.log").string();
    std::filesystem::remove(logPath);

    InitApplication(std::make_unique<THeadlessWidgetSet>());
    Application->SetTitle("Orders");
    TForm* form = Application->CreateForm<TForm>();
    form->SetName("frmOrders");
    form->SetCaption("Orders");
    auto* customer = Create<TEdit>(form);
    customer->SetName("edtCustomer");
    customer->SetParent(form);
    TJexExceptionLog* logger = Create<TJexExceptionLog>(form);
    logger->SetName("ExceptionLog");
    logger->SetLogFile(logPath);
    logger->SetActive(true);
    logger->SetFormats(logger->Formats() +
                       TJexLFormats{lfExceptionClassName, lfSourceLine, lfOSInfo, lfMemoryInfo});

    // Each posted message runs one failing handler; the last one also ends the loop.
    constexpr std::uint32_t firstMessage = WM_USER + 1;
    void (*const handlers[])() = {&LockOrder, &ParseTotal, &ReadFourthLine};
    Application->HookMainWindow(TWindowHook::FromCallable([&](TMessage& AMsg) {
        const std::uint32_t index = AMsg.Msg - firstMessage;
        if (index >= std::size(handlers))
            return false;
        if (index + 1 == std::size(handlers))
            Application->Terminate();
        handlers[index]();
        return true;
    }));
    for (std::uint32_t i = 0; i < std::size(handlers); ++i)
        Application->PostMessage(Application->Handle(), firstMessage + i);
    Application->Run();
    DoneApplication();

    std::cout << "\n== " << logPath << " (written by TJexExceptionLog) ==\n"
              << ReadWholeFile(logPath) << "\n";
    std::filesystem::remove(logPath);
}

} // namespace

int main() {
    using namespace host;
    using namespace jex;
    RegisterClass(TDemoForm::StaticClassInfo());

    const std::string logPath =
        (std::filesystem::temp_directory_path() / "jexdemo-events.log").string();
    std::filesystem::remove(logPath);

    std::unique_ptr<TDemoForm> form(Create<TDemoForm>(nullptr));
    form->SetName("frmDemo");
    TJexLogBase* orders = Create<TJexLogBase>(form.get());
    orders->SetName("OrdersLog");
    orders->SetLogFile(logPath);
    orders->SendTo()->SetEMail("support@example.com");
    TJexLogBase* audit = Create<TJexLogBase>(form.get());
    audit->SetName("AuditLog");
    audit->SetLogFile(logPath);
    audit->SendTo()->SetOptions({doEmail, doWeb});

    // Each component composes its own records; the base appends exactly what it is given.
    orders->WriteAsString("Order count: ");
    orders->WriteAsInteger(42);
    orders->WriteAsString("\r\nAverage value: ");
    orders->WriteAsFloat(1234.5 / 7);
    orders->WriteAsString("\r\n");
    audit->WriteAsString("Audit stamp: ");
    audit->WriteAsDateTime(Now());
    audit->WriteAsString("\r\n");

    std::cout << "== The form, stored as text ==\n" << WriteComponentToText(form.get()) << "\n";
    std::unique_ptr<TComponent> copy(ReadComponentFromText(WriteComponentToText(form.get())));
    auto* readBack = dynamic_cast<TJexLogBase*>(copy->FindComponent("OrdersLog"));
    std::cout << "== Read back: OrdersLog mails " << readBack->SendTo()->EMail() << " ==\n\n";

    std::cout << "== " << logPath << " ==\n" << ReadWholeFile(logPath);
    orders->ClearLog();

    ExceptionLoggingDemo();
    demo::DataSetLogDemo();
    return 0;
}
