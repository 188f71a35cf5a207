// platform/MailClient.h - handing a finished mail message to the user's mail system.
//
// The message arrives as a value (subject, text, recipients by class, attachment files); the
// service either opens it in the mail client's compose window or sends it at once. The Simple
// MAPI layer of the host translates its structures to this and the outcome back to its codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

/// How a recipient receives the message.
enum TMailRecipientKind : std::uint8_t { mrkTo, mrkCc, mrkBcc };

struct TMailRecipient {
    TMailRecipientKind Kind = mrkTo;
    std::string Name;    ///< display name; may be empty
    std::string Address; ///< mail address; a leading "SMTP:" (any case) is ignored
};

// A recipient with neither name nor address (one that could not be resolved) is left out of
// the message by every service.

struct TMailAttachment {
    std::string PathName; ///< the file to attach; must exist
    std::string FileName; ///< the name the recipient sees; empty = the path's own name
};

/// A message as 8-bit text: UTF-8 is taken as it is, any other text as Latin-1.
struct TMailMessage {
    std::string Subject;
    std::string Body;
    std::vector<TMailRecipient> Recipients;
    std::vector<TMailAttachment> Attachments;
};

/// The outcome of a delivery; the host maps each to its Simple MAPI result code.
enum TMailResult : std::uint8_t {
    mrSuccess,
    mrFailure,               ///< the tool failed or refused the message
    mrNoMailSystem,          ///< no mail client or transfer agent is set up
    mrAttachmentNotFound,    ///< an attachment file does not exist
    mrAttachmentOpenFailure, ///< an attachment file cannot be read
    mrInvalidRecipients,     ///< a recipient cannot be used (line break, no usable address)
    mrUserAbort,             ///< the user closed the compose window without sending
};

/// A resolved recipient text.
struct TMailName {
    std::string Name;    ///< display name ("Support" of "Support <a@b.c>", else the address)
    std::string Address; ///< the plain address ("a@b.c")
};

/// The user's mail system.
class TMailClient {
public:
    virtual ~TMailClient() = default;

    /// Resolves a recipient text: a plain address ("local@domain") or "Name <address>". False
    /// for anything else, in particular for texts holding a line break or control character;
    /// there is no address book to look names up in.
    virtual bool ResolveName(const std::string& AText, TMailName& AResult) = 0;

    /// Opens AMessage in the compose window of the user's mail client; recipients may be
    /// empty (the user fills them in). Attachments are checked before anything is started
    /// and must stay on disk after the call: the client may read them later.
    virtual TMailResult Compose(const TMailMessage& AMessage) = 0;

    /// Sends AMessage without showing anything. Needs at least one usable recipient.
    /// Attachments are read during the call.
    virtual TMailResult Send(const TMailMessage& AMessage) = 0;
};

/// The Linux mail service: xdg-email for the compose window and the sendmail
/// program (the one named by $JEX_SENDMAIL, else "sendmail" on PATH, else /usr/sbin/sendmail)
/// for sending.
TMailClient& LinuxMailClient();

/// Where a Linux mail service finds its helper programs; left empty, a setting keeps the
/// default of LinuxMailClient.
struct TMailPrograms {
    /// Folders searched for xdg-email and sendmail, separated by ':' as in PATH.
    std::string SearchPath;
    /// The sendmail program to run, instead of $JEX_SENDMAIL or the one on the search path.
    std::string Sendmail;
};

/// A Linux mail service of its own that finds its programs as APrograms says (a test swaps it
/// in through TScopedPlatformServices).
std::unique_ptr<TMailClient> NewLinuxMailClient(const TMailPrograms& APrograms);

/// True when AText is a plain mail address: one "@" with text on both sides, no spaces,
/// control characters or any of <>()[],;:"\ and not starting with "-".
bool IsMailAddress(const std::string& AText);

/// AText without a leading "SMTP:" (any case).
std::string StripSmtpPrefix(const std::string& AText);

/// AText as UTF-8: kept when it already is valid UTF-8, else converted from Latin-1.
std::string ToUtf8(const std::string& AText);

/// AText with CR LF and lone CR turned into LF.
std::string NormaliseLineEnds(const std::string& AText);

/// AText on one line: each run of CR and LF becomes one space, so that a subject can never
/// start a header of its own.
std::string SingleLine(const std::string& AText);

} // namespace platform
