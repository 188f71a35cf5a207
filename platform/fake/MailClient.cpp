// platform/fake/MailClient.cpp - the recording mail service.
#include "platform/fake/MailClient.h"

namespace platform {

bool TFakeMailClient::ResolveName(const std::string& AText, TMailName& AResult) {
    FResolved.push_back(AText);
    return LinuxMailClient().ResolveName(AText, AResult); // parsing only; starts nothing
}

TMailResult TFakeMailClient::Compose(const TMailMessage& AMessage) {
    FCalls.push_back({AMessage, true});
    return FResult;
}

TMailResult TFakeMailClient::Send(const TMailMessage& AMessage) {
    FCalls.push_back({AMessage, false});
    return FResult;
}

} // namespace platform
