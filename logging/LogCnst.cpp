// logging/LogCnst.cpp - constants shared by the log components.
#include "logging/LogCnst.h"

namespace jex {

const std::string& DefaultEMailBody() {
    static const std::string body =
        "This message contain technical information about program execution error.\r\n"
        "Please, press the \"Send\" button in your mailer to send this message to on-line "
        "product support. If \"Send\" button is disabled, please forward this message to %s. "
        "Also, you can send this file %s as attachment in your message to us. We will be glad "
        "to receive this bug report from you in any form. This report does NOT contain any "
        "CONFIDENTIAL information. You can insert your comment in this message after "
        "horisontal line below.\r\n" +
        std::string(74, '-') + "\r\nPLEASE, INSERT YOUR COMMENT HERE: ";
    return body;
}

} // namespace jex
