// tests/platform/MimeMessageTest.cpp - the MIME text for sendmail, read back by an independent
// parser (Python's email package).
#include "platform/linux/MimeMessage.h"

#include "tests/support/FakeTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace platform;
using jex::test::Hex;

namespace {

class MimeMessageTest : public ::testing::Test {
protected:
    // Builds AMessage and returns the parser's description; skips without python3.
    std::string Described(const TMailMessage& AMessage) {
        std::string text;
        EXPECT_EQ(BuildMimeMessage(AMessage, text), mrSuccess);
        FRaw = text;
        const std::string path = FDir.File("message.eml");
        jex::test::WriteFileBytes(path, text);
        bool ok = false;
        std::string described = jex::test::DescribeMimeMessage(path, ok);
        if (!ok)
            ADD_FAILURE() << "python3 could not parse the message: " << described << "\n" << text;
        return described;
    }

    static bool HavePython() {
        static const bool have = [] {
            bool ok = false;
            jex::test::RunPython("print('ok')", {}, ok);
            return ok;
        }();
        return have;
    }

    static TMailRecipient Recip(TMailRecipientKind AKind, std::string AName, std::string AAddress) {
        return TMailRecipient{AKind, std::move(AName), std::move(AAddress)};
    }

    jex::test::TempDir FDir;
    std::string FRaw;
};

} // namespace

TEST_F(MimeMessageTest, ParsesBackIntoTheSameRecipientsSubjectTextAndAttachmentBytes) {
    if (!HavePython())
        GTEST_SKIP() << "python3 is not installed";
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    const std::string shot = FDir.File("Jex1A2B.bmp");
    const std::string log = FDir.File("app.log");
    jex::test::WriteFileBytes(shot, binary + binary);
    jex::test::WriteFileBytes(log, "line 1\r\nline 2\r\n");

    TMailMessage message;
    message.Subject = "Error report";
    message.Body = "Hello,\r\nsee the log.\r\n.\r\nFrom the app\r\n";
    message.Recipients = {Recip(mrkTo, "support@example.com", "SMTP:support@example.com"),
                          Recip(mrkTo, "Second Line", "second@example.com"),
                          Recip(mrkCc, "", "copy@example.com"),
                          Recip(mrkBcc, "blind@example.com", "blind@example.com")};
    message.Attachments = {{shot, "Jex1A2B.bmp"}, {log, ""}};

    std::ostringstream expected;
    expected << "To: |support@example.com\n"
             << "To: Second Line|second@example.com\n"
             << "Cc: |copy@example.com\n"
             << "Bcc: |blind@example.com\n"
             << "Subject: Error report\n"
             << "Headers: bcc,cc,content-type,date,message-id,mime-version,subject,to\n"
             << "Type: multipart/mixed\n"
             << "Text: us-ascii " << Hex("Hello,\nsee the log.\n.\nFrom the app\n") << "\n"
             << "File: Jex1A2B.bmp image/bmp " << Hex(binary + binary) << "\n"
             << "File: app.log text/plain " << Hex("line 1\r\nline 2\r\n") << "\n";
    EXPECT_EQ(Described(message), expected.str());
}

TEST_F(MimeMessageTest, EncodesTextThatIsNotAsciiAsUtf8WhetherLatin1OrUtf8WasGiven) {
    if (!HavePython())
        GTEST_SKIP() << "python3 is not installed";
    TMailMessage message;
    message.Recipients = {Recip(mrkTo, "J\xFCrgen M\xFCller", "jm@example.com")};
    message.Subject = "Fehler \xFC"
                      "ber alles"; // Latin-1
    message.Body = "Gr\xC3\xBC\xC3\x9F"
                   "e\n"; // already UTF-8
    const std::string described = Described(message);
    EXPECT_NE(described.find("To: J\xC3\xBCrgen M\xC3\xBCller|jm@example.com\n"), std::string::npos)
        << described;
    EXPECT_NE(described.find("Subject: Fehler \xC3\xBC"
                             "ber alles\n"),
              std::string::npos)
        << described;
    EXPECT_NE(described.find("Text: utf-8 " + Hex("Gr\xC3\xBC\xC3\x9F"
                                                  "e\n")),
              std::string::npos)
        << described;
    // Headers themselves stay ASCII: the words are encoded, not sent raw.
    const std::string headers = FRaw.substr(0, FRaw.find("\n\n"));
    for (unsigned char c : headers)
        ASSERT_LT(c, 0x80) << headers;
}

TEST_F(MimeMessageTest, AttachmentsGetTheTypeOfTheirExtensionAndANameWithoutControlCharacters) {
    if (!HavePython())
        GTEST_SKIP() << "python3 is not installed";
    const std::string path = FDir.File("bytes");
    jex::test::WriteFileBytes(path, "abc");
    TMailMessage message;
    message.Recipients = {Recip(mrkTo, "", "ok@example.com")};
    message.Attachments = {{path, "Shot.JPG"},     {path, "shot.jpeg"}, {path, "page.Png"},
                           {path, "notes.TXT"},    {path, "dump.bin"},  {path, "README"},
                           {path, "bad\nname.log"}};
    const std::string described = Described(message);
    for (const char* line :
         {"File: Shot.JPG image/jpeg ", "File: shot.jpeg image/jpeg ", "File: page.Png image/png ",
          "File: notes.TXT text/plain ", "File: dump.bin application/octet-stream ",
          "File: README application/octet-stream ", "File: bad_name.log text/plain "})
        EXPECT_NE(described.find(line), std::string::npos) << line << "\n" << described;
}

TEST_F(MimeMessageTest, SubjectWithLineBreaksStaysOneHeader) {
    if (!HavePython())
        GTEST_SKIP() << "python3 is not installed";
    TMailMessage message;
    message.Recipients = {Recip(mrkTo, "", "support@example.com")};
    message.Subject = "Report\r\nBcc: victim@example.com\nX-Evil: 1";
    const std::string described = Described(message);
    EXPECT_NE(described.find("Subject: Report Bcc: victim@example.com X-Evil: 1\n"),
              std::string::npos)
        << described;
    EXPECT_EQ(described.find("victim@example.com|"), std::string::npos) << described;
    EXPECT_EQ(described.find("x-evil"), std::string::npos) << described;
}

TEST_F(MimeMessageTest, RefusesRecipientsThatCouldInjectHeadersOrAreNoAddress) {
    const std::vector<TMailRecipient> bad = {
        Recip(mrkTo, "", "a@example.com\r\nBcc: victim@example.com"),
        Recip(mrkCc, "Name\nBcc: victim@example.com", "a@example.com"),
        Recip(mrkTo, "", "a@example.com, victim@example.com"),
        Recip(mrkTo, "Support Team", "Support Team"),
        Recip(mrkBcc, "", "-oQ/tmp@example.com"),
    };
    for (const TMailRecipient& recip : bad) {
        TMailMessage message;
        message.Recipients = {Recip(mrkTo, "", "ok@example.com"), recip};
        std::string text = "unchanged";
        EXPECT_EQ(BuildMimeMessage(message, text), mrInvalidRecipients) << recip.Address;
        EXPECT_EQ(text, "unchanged");
    }
}

TEST_F(MimeMessageTest, NeedsARecipientAndEveryAttachment) {
    TMailMessage message;
    std::string text;
    EXPECT_EQ(BuildMimeMessage(message, text), mrInvalidRecipients);
    message.Recipients = {Recip(mrkTo, "", "")}; // unresolved: nothing to address
    EXPECT_EQ(BuildMimeMessage(message, text), mrInvalidRecipients);

    message.Recipients = {Recip(mrkTo, "", "ok@example.com")};
    message.Attachments = {{FDir.File("missing.bmp"), ""}};
    EXPECT_EQ(BuildMimeMessage(message, text), mrAttachmentNotFound);
    message.Attachments = {{FDir.Path().string(), ""}}; // a folder cannot be read as a file
    EXPECT_EQ(BuildMimeMessage(message, text), mrAttachmentOpenFailure);
    EXPECT_TRUE(text.empty());
}
