// examples/CollectorDemo.cpp - a report queued for a collector that does not answer.
//
// A team points Collector at its systemd-journal-remote receiver; here the address is one where
// nothing listens, so the report stays queued on disk and the worker says so once on standard
// error. The next start of the program would send it.
#include "CollectorDemo.h"

#include "exceptions/LogError.h"
#include "exceptions/ReportCollector.h"
#include "host/forms/Forms.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>

void CollectorDemo(const std::string& AFolder) {
    using namespace host;
    using namespace jex;
    const std::filesystem::path folder(AFolder);
    const std::string logPath = (folder / "jexdemo-collector.log").string();
    const std::string queue = (folder / "jexdemo-collector-queue").string();
    std::filesystem::remove(logPath);
    std::filesystem::remove_all(queue);

    InitApplication(std::make_unique<THeadlessWidgetSet>());
    Application->SetTitle("Orders");
    TForm* form = Application->CreateForm<TForm>();
    TJexExceptionLog* logger = Create<TJexExceptionLog>(form);
    logger->SetLogFile(logPath);
    logger->SetFormats({lfExceptionClassName, lfMessage, lfSignature});
    logger->SetErrorDialog(edNone);
    logger->SetActive(true);
    logger->SetCollectorQueueFolder(queue);
    logger->SetCollector("http://127.0.0.1:9");

    constexpr std::uint32_t raise = WM_USER + 3;
    Application->HookMainWindow(TWindowHook::FromCallable([](TMessage& AMsg) {
        if (AMsg.Msg == raise)
            throw EConvertError("'12a' is not a valid integer value");
        return false;
    }));
    Application->PostMessage(Application->Handle(), raise);
    Application->ProcessMessages();
    const bool sent = logger->ReportCollector()->Flush(std::chrono::milliseconds(300));
    const std::size_t waiting = platform::TReportQueue(queue, 1000).Queued();
    DoneApplication();

    std::cout << "\n== collector "
              << "http://127.0.0.1:9 ==\n"
              << (sent ? "the report was sent" : "nobody answered") << "; reports waiting in "
              << queue << ": " << waiting << "\n"
              << "(a team's receiver gets them as journal entries; `jexcrashes --file "
                 "<journal>` groups them by signature)\n";
    std::filesystem::remove(logPath);
    std::filesystem::remove_all(queue);
}
