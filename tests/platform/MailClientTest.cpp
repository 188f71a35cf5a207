// tests/platform/MailClientTest.cpp - the compose window and direct sending, through recording
// fakes of xdg-email and sendmail started as real child processes.
#include "platform/MailClient.h"

#include "tests/support/FakeTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace platform;
using Args = std::vector<std::string>;

namespace {

class MailClientTest : public ::testing::Test {
protected:
    MailClientTest() {
        jex::test::WriteFileBytes(FShot, "BM-shot");
        jex::test::WriteFileBytes(FLog, "log text");
    }

    TMailClient& Client() { return FTools.MailClient(); }

    jex::test::FakeTools FTools;
    jex::test::TempDir FDir;
    std::string FShot = FDir.File("Jex4F2A1c.bmp");
    std::string FLog = FDir.File("app log.txt");
};

} // namespace

TEST_F(MailClientTest, ComposePassesRecipientsByClassSubjectBodyAndAttachmentsInOrder) {
    TMailMessage message;
    message.Subject = "Error report";
    message.Body = "Line 1\r\nLine 2\rLine 3\n";
    message.Recipients = {{mrkTo, "support@example.com", "SMTP:support@example.com"},
                          {mrkTo, "Support Team", "Support Team"},
                          {mrkCc, "", "copy@example.com"},
                          {mrkBcc, "blind", "smtp:blind@example.com"},
                          {mrkTo, "-x@example.com", "-x@example.com"}};
    message.Attachments = {{FShot, ""}, {FLog, ""}};
    ASSERT_EQ(Client().Compose(message), mrSuccess);
    EXPECT_EQ(
        FTools.Args("xdg-email"),
        (Args{"--utf8", "support@example.com", "--to", "Support Team", "--cc", "copy@example.com",
              "--bcc", "blind@example.com", "--to", "-x@example.com", "--subject", "Error report",
              "--body", "Line 1\nLine 2\nLine 3\n", "--attach", FShot, "--attach", FLog}));
    EXPECT_FALSE(FTools.Ran("sendmail"));
}

TEST_F(MailClientTest, ComposeLeavesOutWhatIsEmptySoTheUserFillsItIn) {
    ASSERT_EQ(Client().Compose(TMailMessage{}), mrSuccess);
    EXPECT_EQ(FTools.Args("xdg-email"), (Args{"--utf8"}));

    TMailMessage message;
    message.Recipients = {{mrkTo, "", ""}, {mrkCc, "", ""}};
    message.Attachments = {{FLog, ""}};
    ASSERT_EQ(Client().Compose(message), mrSuccess);
    EXPECT_EQ(FTools.Args("xdg-email"), (Args{"--utf8", "--attach", FLog}));
}

TEST_F(MailClientTest, ComposeHandsOverUtf8WhateverEightBitTextItGot) {
    TMailMessage message;
    message.Subject = "Fehler \xFC"
                      "ber"; // Latin-1
    message.Body = "Gr\xC3\xBC\xC3\x9F"
                   "e"; // UTF-8
    message.Recipients = {{mrkTo, "M\xFCller", ""}};
    ASSERT_EQ(Client().Compose(message), mrSuccess);
    EXPECT_EQ(FTools.Args("xdg-email"), (Args{"--utf8", "--to", "M\xC3\xBCller", "--subject",
                                              "Fehler \xC3\xBC"
                                              "ber",
                                              "--body",
                                              "Gr\xC3\xBC\xC3\x9F"
                                              "e"}));
}

TEST_F(MailClientTest, ComposeMapsTheExitCodesOfXdgEmail) {
    const std::pair<int, TMailResult> cases[] = {
        {0, mrSuccess},      {1, mrFailure}, {2, mrAttachmentNotFound},
        {3, mrNoMailSystem}, {4, mrFailure}, {5, mrAttachmentOpenFailure},
        {6, mrFailure}};
    for (const auto& [code, result] : cases) {
        FTools.SetExitCode("xdg-email", code);
        EXPECT_EQ(Client().Compose(TMailMessage{}), result) << "exit code " << code;
    }
    FTools.Remove("xdg-email");
    EXPECT_EQ(Client().Compose(TMailMessage{}), mrFailure);
}

TEST_F(MailClientTest, LineBreaksInRecipientsAreRefusedBeforeAnythingStarts) {
    for (const TMailRecipient& recip :
         {TMailRecipient{mrkTo, "", "a@example.com\nb@example.com"},
          TMailRecipient{mrkCc, "a@example.com\r", "a@example.com"}}) {
        TMailMessage message;
        message.Recipients = {recip};
        EXPECT_EQ(Client().Compose(message), mrInvalidRecipients);
        EXPECT_EQ(Client().Send(message), mrInvalidRecipients);
    }
    EXPECT_FALSE(FTools.Ran("xdg-email"));
    EXPECT_FALSE(FTools.Ran("sendmail"));
}

TEST_F(MailClientTest, MissingAttachmentIsFoundBeforeAnythingStarts) {
    TMailMessage message;
    message.Recipients = {{mrkTo, "", "a@example.com"}};
    message.Attachments = {{FShot, ""}, {FDir.File("gone.jpg"), ""}};
    EXPECT_EQ(Client().Compose(message), mrAttachmentNotFound);
    EXPECT_EQ(Client().Send(message), mrAttachmentNotFound);
    EXPECT_FALSE(FTools.Ran("xdg-email"));
    EXPECT_FALSE(FTools.Ran("sendmail"));
}

TEST_F(MailClientTest, SendPipesTheMessageToSendmailWhichReadsTheRecipientsFromIt) {
    TMailMessage message;
    message.Subject = "Error report";
    message.Body = "See the log.\r\n";
    message.Recipients = {{mrkTo, "Support", "SMTP:support@example.com"},
                          {mrkBcc, "", "blind@example.com"}};
    message.Attachments = {{FShot, ""}, {FLog, "app.log"}};
    ASSERT_EQ(Client().Send(message), mrSuccess);
    EXPECT_EQ(FTools.Args("sendmail"), (Args{"-t", "-i"}));
    EXPECT_FALSE(FTools.Ran("xdg-email"));

    const std::string path = FDir.File("received.eml");
    jex::test::WriteFileBytes(path, FTools.Input("sendmail"));
    bool ok = false;
    const std::string described = jex::test::DescribeMimeMessage(path, ok);
    if (!ok)
        GTEST_SKIP() << "python3 cannot check the message: " << described;
    EXPECT_EQ(described, "To: Support|support@example.com\n"
                         "Bcc: |blind@example.com\n"
                         "Subject: Error report\n"
                         "Headers: bcc,content-type,date,message-id,mime-version,subject,to\n"
                         "Type: multipart/mixed\n"
                         "Text: us-ascii " +
                             jex::test::Hex("See the log.\n") +
                             "\n"
                             "File: Jex4F2A1c.bmp image/bmp " +
                             jex::test::Hex("BM-shot") +
                             "\n"
                             "File: app.log text/plain " +
                             jex::test::Hex("log text") + "\n");
}

TEST_F(MailClientTest, SendReportsWhatTheTransferAgentSaid) {
    TMailMessage message;
    message.Recipients = {{mrkTo, "", "a@example.com"}};
    FTools.SetExitCode("sendmail", 78); // not configured
    EXPECT_EQ(Client().Send(message), mrFailure);
    FTools.SetExitCode("sendmail", 0);
    EXPECT_EQ(Client().Send(message), mrSuccess);

    // Named by the environment, the program need not be on PATH or called sendmail.
    FTools.Reset();
    const std::string other = FDir.File("my-mta");
    jex::test::WriteFileBytes(other, "#!/bin/sh\ncat > '" + FDir.File("my-mta.in") + "'\n");
    ASSERT_EQ(system(("chmod +x '" + other + "'").c_str()), 0);
    const std::unique_ptr<TMailClient> client = NewLinuxMailClient({FTools.Folder().string(), ""});
    setenv("JEX_SENDMAIL", other.c_str(), 1);
    EXPECT_EQ(client->Send(message), mrSuccess);
    EXPECT_FALSE(FTools.Ran("sendmail"));
    EXPECT_NE(jex::test::ReadFileBytes(FDir.File("my-mta.in")).find("To: a@example.com"),
              std::string::npos);

    setenv("JEX_SENDMAIL", FDir.File("no-such-mta").c_str(), 1);
    EXPECT_EQ(client->Send(message), mrNoMailSystem);
    unsetenv("JEX_SENDMAIL");

    // Named by the service's own setting, which wins over the environment.
    setenv("JEX_SENDMAIL", FDir.File("no-such-mta").c_str(), 1);
    EXPECT_EQ(NewLinuxMailClient({"", other})->Send(message), mrSuccess);
    unsetenv("JEX_SENDMAIL");
}

TEST_F(MailClientTest, SendmailThatStopsReadingEarlyIsAFailureNotACrash) {
    FTools.Replace("sendmail", "exit 0\n"); // takes nothing of its input
    std::string big(4 << 20, 'x');
    jex::test::WriteFileBytes(FShot, big);
    TMailMessage message;
    message.Recipients = {{mrkTo, "", "a@example.com"}};
    message.Attachments = {{FShot, ""}};
    EXPECT_EQ(Client().Send(message), mrFailure);
}

TEST_F(MailClientTest, ResolvesPlainAddressesAndNamedAddressesOnly) {
    TMailName name;
    ASSERT_TRUE(Client().ResolveName("support@example.com", name));
    EXPECT_EQ(name.Name, "support@example.com");
    EXPECT_EQ(name.Address, "support@example.com");
    ASSERT_TRUE(Client().ResolveName("  \"Support Team\" <help@example.com> ", name));
    EXPECT_EQ(name.Name, "Support Team");
    EXPECT_EQ(name.Address, "help@example.com");
    ASSERT_TRUE(Client().ResolveName("<help@example.com>", name));
    EXPECT_EQ(name.Name, "help@example.com");

    for (const char* text :
         {"", "alpha", "Support Team", "a@b@c", "a b@example.com",
          "x@example.com\nBcc: y@example.com", "Name <x@example.com>\r\n", "Name <not an address>",
          "Name <x@example.com> tail", "@example.com", "x@"})
        EXPECT_FALSE(Client().ResolveName(text, name)) << text;
}

TEST(MailTextTest, TextHelpersNormaliseWhatReachesTheTools) {
    EXPECT_EQ(ToUtf8("plain"), "plain");
    EXPECT_EQ(ToUtf8("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(ToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(ToUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");             // overlong UTF-8 is no UTF-8
    EXPECT_EQ(ToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80"); // nor is a surrogate
    EXPECT_EQ(ToUtf8("\xF0\x9F\x98\x80!"), "\xF0\x9F\x98\x80!");   // four bytes are whole
    EXPECT_EQ(ToUtf8("\xF0\x9F\x98"), "\xC3\xB0\xC2\x9F\xC2\x98"); // a cut one is Latin-1
    EXPECT_EQ(ToUtf8("\xE2(\xA1"), "\xC3\xA2(\xC2\xA1");           // so is a broken one
    EXPECT_EQ(NormaliseLineEnds("a\r\nb\rc\n\r\n"), "a\nb\nc\n\n");
    EXPECT_EQ(SingleLine("a\r\n\r\nb\nc\rd"), "a b c d");
    EXPECT_EQ(StripSmtpPrefix("sMtP:a@b.c"), "a@b.c");
    EXPECT_EQ(StripSmtpPrefix("SMTP"), "SMTP");
    EXPECT_TRUE(IsMailAddress("first.last+tag@sub.example.com"));
    EXPECT_FALSE(IsMailAddress("-oQ@example.com"));
    EXPECT_FALSE(IsMailAddress("a@b.c,d@e.f"));
    EXPECT_FALSE(IsMailAddress("a@b.c\t"));
}
