// platform/linux/MailClient.cpp - the compose window through xdg-email, sending through
// sendmail.
//
// Both tools are started directly with an argument vector, so addresses, subjects and file
// names never pass through a shell. xdg-email converts everything into one mailto: URI for the
// desktop's mail client; it needs UTF-8 (else it silently truncates the text) and LF line
// ends (else every CR LF becomes two line breaks).
#include "platform/MailClient.h"

#include "platform/linux/MimeMessage.h"
#include "platform/linux/Process.h"

#include <cstdlib>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

bool HasLineBreak(const std::string& AText) {
    return AText.find_first_of("\r\n") != std::string::npos;
}

bool HasControlCharacter(const std::string& AText) {
    for (unsigned char c : AText)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string Trim(const std::string& AText) {
    const std::size_t first = AText.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const std::size_t last = AText.find_last_not_of(" \t");
    return AText.substr(first, last - first + 1);
}

// Common checks of both paths: nothing is started when one fails.
TMailResult CheckMessage(const TMailMessage& AMessage) {
    for (const TMailRecipient& recip : AMessage.Recipients)
        if (HasLineBreak(recip.Name) || HasLineBreak(recip.Address))
            return mrInvalidRecipients;
    for (const TMailAttachment& file : AMessage.Attachments) {
        if (file.PathName.empty() || access(file.PathName.c_str(), F_OK) != 0)
            return mrAttachmentNotFound;
        if (access(file.PathName.c_str(), R_OK) != 0)
            return mrAttachmentOpenFailure;
    }
    return mrSuccess;
}

TMailResult FromXdgEmail(const process::TExitStatus& AStatus) {
    if (!AStatus.Started || !AStatus.Exited)
        return mrFailure;
    switch (AStatus.ExitCode) {
    case 0:
        return mrSuccess;
    case 2:
        return mrAttachmentNotFound;
    case 3:
        return mrNoMailSystem;
    case 5:
        return mrAttachmentOpenFailure;
    default: // 1 syntax error, 4 the client failed
        return mrFailure;
    }
}

std::string SendmailProgram(const TMailPrograms& APrograms) {
    if (!APrograms.Sendmail.empty())
        return APrograms.Sendmail;
    const char* named = std::getenv("JEX_SENDMAIL");
    if (named != nullptr && *named != '\0')
        return named;
    std::string found = APrograms.SearchPath.empty()
                            ? process::FindOnPath("sendmail")
                            : process::FindOnPath("sendmail", APrograms.SearchPath);
    if (found.empty() && access("/usr/sbin/sendmail", X_OK) == 0)
        found = "/usr/sbin/sendmail";
    return found;
}

class TLinuxMailClient final : public TMailClient {
public:
    explicit TLinuxMailClient(TMailPrograms APrograms = {})
        : FPrograms(std::move(APrograms)) {}

    bool ResolveName(const std::string& AText, TMailName& AResult) override {
        if (HasControlCharacter(AText))
            return false;
        const std::string text = Trim(AText);
        if (IsMailAddress(text)) {
            AResult.Name = text;
            AResult.Address = text;
            return true;
        }
        const std::size_t open = text.rfind('<');
        if (open == std::string::npos || text.back() != '>')
            return false;
        const std::string address = text.substr(open + 1, text.size() - open - 2);
        if (!IsMailAddress(address))
            return false;
        std::string name = Trim(text.substr(0, open));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        AResult.Name = name.empty() ? address : name;
        AResult.Address = address;
        return true;
    }

    TMailResult Compose(const TMailMessage& AMessage) override {
        if (TMailResult result = CheckMessage(AMessage); result != mrSuccess)
            return result;
        const std::string program = process::ProgramIn("xdg-email", FPrograms.SearchPath);
        if (program.empty())
            return FromXdgEmail(process::TExitStatus{}); // not there: it cannot start
        std::vector<std::string> args{program, "--utf8"};
        for (const TMailRecipient& recip : AMessage.Recipients) {
            std::string address = StripSmtpPrefix(recip.Address);
            if (address.empty())
                address = recip.Name;
            address = ToUtf8(address);
            if (address.empty())
                continue; // an empty option value is a syntax error for xdg-email
            if (recip.Kind == mrkCc)
                args.insert(args.end(), {"--cc", address});
            else if (recip.Kind == mrkBcc)
                args.insert(args.end(), {"--bcc", address});
            else if (IsMailAddress(address))
                args.push_back(address);
            else // a bare argument without "@" is a syntax error; an option takes any text
                args.insert(args.end(), {"--to", address});
        }
        const std::string subject = SingleLine(ToUtf8(AMessage.Subject));
        if (!subject.empty())
            args.insert(args.end(), {"--subject", subject});
        const std::string body = NormaliseLineEnds(ToUtf8(AMessage.Body));
        if (!body.empty())
            args.insert(args.end(), {"--body", body});
        for (const TMailAttachment& file : AMessage.Attachments)
            args.insert(args.end(), {"--attach", file.PathName});
        return FromXdgEmail(process::Run(args));
    }

    TMailResult Send(const TMailMessage& AMessage) override {
        if (TMailResult result = CheckMessage(AMessage); result != mrSuccess)
            return result;
        std::string text;
        if (TMailResult result = BuildMimeMessage(AMessage, text); result != mrSuccess)
            return result;
        const std::string program = SendmailProgram(FPrograms);
        if (program.empty())
            return mrNoMailSystem;
        const process::TExitStatus status = process::Run({program, "-t", "-i"}, &text);
        if (!status.Started)
            return mrNoMailSystem;
        return status.Exited && status.ExitCode == 0 ? mrSuccess : mrFailure;
    }

private:
    TMailPrograms FPrograms;
};

// Length of the UTF-8 sequence starting at AText[APos], or 0 when it is not valid there.
std::size_t Utf8SequenceLength(const std::string& AText, std::size_t APos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(AText[i]); };
    const unsigned char lead = byte(APos);
    std::size_t length;
    unsigned int code;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (APos + length > AText.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(APos + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(APos + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (overlong || surrogate || code > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

TMailClient& LinuxMailClient() {
    static TLinuxMailClient client;
    return client;
}

std::unique_ptr<TMailClient> NewLinuxMailClient(const TMailPrograms& APrograms) {
    return std::make_unique<TLinuxMailClient>(APrograms);
}

bool IsMailAddress(const std::string& AText) {
    const std::size_t at = AText.find('@');
    if (at == std::string::npos || at == 0 || at + 1 >= AText.size() ||
        AText.find('@', at + 1) != std::string::npos || AText[0] == '-')
        return false;
    for (unsigned char c : AText)
        if (c <= 0x20 || c == 0x7F ||
            std::string_view("<>()[],;:\"\\").find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    return true;
}

std::string StripSmtpPrefix(const std::string& AText) {
    if (AText.size() >= 5) {
        std::string head = AText.substr(0, 5);
        for (char& c : head)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        if (head == "SMTP:")
            return AText.substr(5);
    }
    return AText;
}

std::string ToUtf8(const std::string& AText) {
    bool valid = true;
    for (std::size_t i = 0; i < AText.size();) {
        const std::size_t length = Utf8SequenceLength(AText, i);
        if (length == 0) {
            valid = false;
            break;
        }
        i += length;
    }
    if (valid)
        return AText;
    std::string result;
    result.reserve(AText.size() + AText.size() / 2);
    for (unsigned char c : AText) {
        if (c < 0x80) {
            result += static_cast<char>(c);
        } else {
            result += static_cast<char>(0xC0 | (c >> 6));
            result += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return result;
}

std::string NormaliseLineEnds(const std::string& AText) {
    std::string result;
    result.reserve(AText.size());
    for (std::size_t i = 0; i < AText.size(); ++i) {
        if (AText[i] == '\r') {
            result += '\n';
            if (i + 1 < AText.size() && AText[i + 1] == '\n')
                ++i;
        } else {
            result += AText[i];
        }
    }
    return result;
}

std::string SingleLine(const std::string& AText) {
    std::string result;
    result.reserve(AText.size());
    bool inBreak = false;
    for (char c : AText) {
        if (c == '\r' || c == '\n') {
            if (!inBreak)
                result += ' ';
            inBreak = true;
        } else {
            result += c;
            inBreak = false;
        }
    }
    return result;
}

} // namespace platform
