// platform/linux/MimeMessage.h - a mail message as the text a mail transfer agent accepts.
//
// Used for sending without a compose window: the result goes to "sendmail -t -i", which takes
// the recipients from the To, Cc and Bcc headers, so every header built here must be exactly
// what the caller meant and nothing more.
#pragma once

#include "platform/MailClient.h"

#include <string>

namespace platform {

/// Builds the MIME text of AMessage into AText: multipart/mixed with a text/plain part
/// (charset us-ascii for plain ASCII, else UTF-8; quoted-printable or base64 where needed)
/// followed by one base64 part per attachment in order, with its file name; headers To, Cc,
/// Bcc (recipients without any address left out), Subject (on one line, RFC 2047 encoded
/// where not ASCII), Date, Message-ID and MIME-Version; LF line ends.
/// Returns mrInvalidRecipients when a recipient's name or address holds a line break or
/// control character or a recipient's address is not a plain address, or when no recipient
/// is left; mrAttachmentNotFound / mrAttachmentOpenFailure when a file is missing or cannot
/// be read. AText is only changed on success.
TMailResult BuildMimeMessage(const TMailMessage& AMessage, std::string& AText);

} // namespace platform
