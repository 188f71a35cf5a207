// platform/fake/MailClient.h - a mail service that records what it is given.
//
// Swapped in through TScopedPlatformServices where a test wants to see the message exactly as
// the Simple MAPI layer handed it over (every recipient, also the empty ones, in order).
#pragma once

#include "platform/MailClient.h"

#include <vector>

namespace platform {

class TFakeMailClient : public TMailClient {
public:
    /// One delivery: the message and whether it went to the compose window.
    struct TCall {
        TMailMessage Message;
        bool Compose = false;
    };

    /// Resolves plain addresses and "Name <address>" like the Linux service.
    bool ResolveName(const std::string& AText, TMailName& AResult) override;
    TMailResult Compose(const TMailMessage& AMessage) override;
    TMailResult Send(const TMailMessage& AMessage) override;

    /// What every Compose and Send returns from now on (mrSuccess at first).
    void SetResult(TMailResult AResult) { FResult = AResult; }

    const std::vector<TCall>& Calls() const { return FCalls; }

    /// Texts ResolveName was asked for, in order.
    const std::vector<std::string>& Resolved() const { return FResolved; }

private:
    TMailResult FResult = mrSuccess;
    std::vector<TCall> FCalls;
    std::vector<std::string> FResolved;
};

} // namespace platform
