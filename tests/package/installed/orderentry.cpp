// tests/package/installed/orderentry.cpp - an order form whose quantity check raises; the logger
// reports where.
#include "exceptions/LogError.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

void CheckOrderQuantity(host::TObject*) {
    throw host::EConvertError("'twelve' is not a valid integer value"); // the reported line
}

} // namespace

int main(int argc, char** argv) {
    using namespace host;
    using namespace jex;
    if (argc != 2) {
        std::cerr << "usage: orderentry LOGFILE\n";
        return 2;
    }
    InitApplication(std::make_unique<THeadlessWidgetSet>());
    TForm* form = Application->CreateForm<TForm>();
    auto* button = Create<TButton>(form);
    button->SetParent(form);
    button->SetOnClick(TNotifyEvent::FromCallable(&CheckOrderQuantity));
    TJexExceptionLog* logger = Create<TJexExceptionLog>(form);
    logger->SetLogFile(argv[1]);
    logger->SetFormats({lfExceptionClassName, lfMessage, lfSourceLine, lfSeparator});
    logger->SetErrorDialog(edNone);
    logger->SetActive(true);

    constexpr std::uint32_t afterClick = WM_USER + 1;
    Application->HookMainWindow(TWindowHook::FromCallable([](TMessage& AMsg) {
        if (AMsg.Msg != afterClick)
            return false;
        Application->Terminate();
        return true;
    }));
    Application->PostMessage(button->Handle(), BM_CLICK);
    Application->PostMessage(Application->Handle(), afterClick);
    Application->Run();
    DoneApplication();

    std::ifstream log(argv[1], std::ios::binary);
    std::stringstream text;
    text << log.rdbuf();
    std::cout << text.str() << "\n";
    return 0;
}
