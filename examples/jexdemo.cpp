// examples/jexdemo.cpp - the demo application: log components on a form-like owner, then an
// application whose exception logger reports what its message loop raises.
//
// Places two log components on an owner, as a form would, writes typed records through them
// into one log file, stores the owner as a text form and reads it back, then prints the log.
// Then runs a small application on the headless widgetset: its form carries a TJexExceptionLog,
// three kinds of exception are raised from the message loop (a framework exception, a failed
// number conversion, a C++ library error), the error dialogs close at once, and the log the
// logger wrote is printed.
#include "examples/AppLogDemo.h"
#include "examples/ChecksDemo.h"
#include "examples/CollectorDemo.h"
#include "examples/DataSetLogDemo.h"
#include "examples/EventLogDemo.h"
#include "examples/FaultsDemo.h"
#include "examples/FolderMonitorDemo.h"
#include "examples/PackageDemo.h"
#include "examples/RegistryDemo.h"
#include "exceptions/LogError.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"
#include "logging/LogBase.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
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

// Why AFolder cannot hold the demo's logs; empty when it can. A file is created, written and
// removed there, so a read-only or full folder shows as what it is.
std::string WhyUnusable(const std::string& AFolder) {
    if (AFolder.empty())
        return "it is empty";
    if (AFolder.front() != '/')
        return "it is not an absolute path";
    std::error_code error;
    if (!std::filesystem::is_directory(AFolder, error))
        return "it is not a folder";
    std::string probe = AFolder + "/jexdemo-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return std::string("cannot create a file there: ") + std::strerror(errno);
    const std::string bytes(4096, 'x');
    const bool written =
        ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    const int writeError = errno;
    ::close(fd);
    ::unlink(probe.c_str());
    return written ? std::string()
                   : std::string("cannot write there: ") + std::strerror(writeError);
}

// The folder for the demo's logs: $TMPDIR when it is usable, else the first usable of /tmp,
// /var/tmp and the current folder, saying why on standard error. Empty when none is.
std::string LogFolder() {
    if (const char* tmpdir = std::getenv("TMPDIR")) {
        const std::string why = WhyUnusable(tmpdir);
        if (why.empty())
            return tmpdir;
        std::cerr << "jexdemo: TMPDIR=\"" << tmpdir << "\" is not usable (" << why
                  << "); looking elsewhere\n";
    }
    std::error_code error;
    const std::string current = std::filesystem::current_path(error).string();
    for (const std::string& folder : {std::string("/tmp"), std::string("/var/tmp"), current}) {
        const std::string why = WhyUnusable(folder);
        if (why.empty()) {
            if (std::getenv("TMPDIR") != nullptr)
                std::cerr << "jexdemo: writing the demo's logs to " << folder << "\n";
            return folder;
        }
        std::cerr << "jexdemo: " << folder << " is not usable either (" << why << ")\n";
    }
    return {};
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
void ExceptionLoggingDemo(const std::string& AFolder) {
    using namespace host;
    using namespace jex;
    const std::string logPath = AFolder + "/jexdemo-exceptions.log";
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

void LogComponentsDemo(const std::string& AFolder) {
    using namespace host;
    using namespace jex;
    RegisterClass(TDemoForm::StaticClassInfo());

    const std::string logPath = AFolder + "/jexdemo-events.log";
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
}

} // namespace

int main() {
    const std::string folder = LogFolder();
    if (folder.empty()) {
        std::cerr << "jexdemo: no folder to write the demo's logs to; set TMPDIR to a writable "
                     "folder\n";
        return 1;
    }
    // A log that cannot be written (a disk filling up meanwhile) ends the demo with the error
    // the components raised, not with an abort.
    try {
        LogComponentsDemo(folder);
        ExceptionLoggingDemo(folder);
        demo::DataSetLogDemo(folder);
        FolderMonitorDemo(folder);
        RegistryDemo(folder);
        EventLogDemo(folder);
        ChecksDemo();
        AppLogDemo(folder);
        FaultsDemo(folder);
        PackageDemo();
        CollectorDemo(folder);
    } catch (const host::Exception& e) {
        std::cerr << "jexdemo: " << e.ClassName() << ": " << e.Message() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "jexdemo: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
