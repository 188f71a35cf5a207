// examples/jexdemo.cpp - the demo application: log components on a form-like owner.
//
// Places two log components on an owner, as a form would, writes typed records through them
// into one log file, stores the owner as a text form and reads it back, then prints the log.
#include "logging/LogBase.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

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
    return 0;
}
