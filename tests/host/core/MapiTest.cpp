// tests/host/core/MapiTest.cpp - Simple MAPI calls carried out by recording fakes of the
// desktop's mail tools.
#include "host/core/Mapi.h"

#include "tests/support/FakeTools.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace host;
using Args = std::vector<std::string>;

namespace {

char* Str(const char* AText) {
    return const_cast<char*>(AText);
}

MapiRecipDesc Recip(std::uint32_t AClass, const char* AName, const char* AAddress) {
    MapiRecipDesc desc{};
    desc.ulRecipClass = AClass;
    desc.lpszName = Str(AName);
    desc.lpszAddress = Str(AAddress);
    return desc;
}

MapiFileDesc File(const std::string& APath, const char* AName) {
    MapiFileDesc desc{};
    desc.nPosition = 0xFFFFFFFF;
    desc.lpszPathName = const_cast<char*>(APath.c_str());
    desc.lpszFileName = Str(AName);
    return desc;
}

class MapiTest : public ::testing::Test {
protected:
    MapiTest() { jex::test::WriteFileBytes(FLog, "log"); }

    jex::test::FakeTools FTools;
    jex::test::TempDir FDir;
    std::string FLog = FDir.File("app.log");
};

} // namespace

TEST_F(MapiTest, ResolveNameGivesNameSmtpAddressAndEntryIdInOneBuffer) {
    MapiRecipDesc* recip = nullptr;
    ASSERT_EQ(MAPIResolveName(0, 0, "Support <help@example.com>", 0, 0, &recip), SUCCESS_SUCCESS);
    ASSERT_NE(recip, nullptr);
    EXPECT_EQ(recip->ulRecipClass, MAPI_TO);
    EXPECT_STREQ(recip->lpszName, "Support");
    EXPECT_STREQ(recip->lpszAddress, "SMTP:help@example.com");
    ASSERT_EQ(recip->ulEIDSize, 16u);
    EXPECT_EQ(std::memcmp(recip->lpEntryID, "help@example.com", 16), 0);
    EXPECT_EQ(MAPIFreeBuffer(recip), SUCCESS_SUCCESS);

    ASSERT_EQ(MAPIResolveName(0, 0, "help@example.com", MAPI_LOGON_UI, 0, &recip), SUCCESS_SUCCESS);
    EXPECT_STREQ(recip->lpszName, "help@example.com");
    EXPECT_EQ(MAPIFreeBuffer(recip), SUCCESS_SUCCESS);
}

TEST_F(MapiTest, ResolveNameRefusesWhatIsNoAddressEvenWithTheDialogFlag) {
    for (const char* text : {"alpha", "", " CC:alpha", "a@example.com\r\nBcc: b@example.com"})
        for (std::uint32_t flags : {0u, MAPI_DIALOG}) {
            MapiRecipDesc* recip = reinterpret_cast<MapiRecipDesc*>(1);
            EXPECT_EQ(MAPIResolveName(0, 0, text, flags, 0, &recip), MAPI_E_UNKNOWN_RECIPIENT)
                << text;
            EXPECT_EQ(recip, nullptr);
        }
    MapiRecipDesc* recip = nullptr;
    EXPECT_EQ(MAPIResolveName(0, 0, nullptr, 0, 0, &recip), MAPI_E_UNKNOWN_RECIPIENT);
    EXPECT_EQ(MAPIResolveName(0, 0, "a@example.com", 0, 0, nullptr), MAPI_E_FAILURE);
    EXPECT_EQ(MAPIResolveName(42, 0, "a@example.com", 0, 0, &recip), MAPI_E_INVALID_SESSION);
}

TEST_F(MapiTest, FreeBufferAcceptsNullAndRefusesForeignOrFreedPointers) {
    EXPECT_EQ(MAPIFreeBuffer(nullptr), SUCCESS_SUCCESS);
    int local = 0;
    EXPECT_EQ(MAPIFreeBuffer(&local), MAPI_E_FAILURE);
    MapiRecipDesc* recip = nullptr;
    ASSERT_EQ(MAPIResolveName(0, 0, "a@example.com", 0, 0, &recip), SUCCESS_SUCCESS);
    EXPECT_EQ(MAPIFreeBuffer(recip), SUCCESS_SUCCESS);
    EXPECT_EQ(MAPIFreeBuffer(recip), MAPI_E_FAILURE);
}

TEST_F(MapiTest, DialogFlagOpensTheComposeWindowWithRecipientsByClass) {
    // As a caller builds it: resolved, plain (name = address = text) and unresolved
    // (class only) recipients, and an originator that the mail system ignores.
    MapiRecipDesc recips[] = {Recip(MAPI_TO, "Support", "SMTP:help@example.com"),
                              Recip(MAPI_CC, "alpha", "alpha"),
                              Recip(MAPI_BCC, "beta@example.com", "beta@example.com"),
                              Recip(MAPI_TO, nullptr, nullptr), Recip(MAPI_ORIG, "me", "me@x.y")};
    MapiFileDesc files[] = {File(FLog, "app.log")};
    MapiMessage message{};
    message.lpszSubject = Str("Error report");
    message.lpszNoteText = Str("Text\r\n");
    message.nRecipCount = 5;
    message.lpRecips = recips;
    message.nFileCount = 1;
    message.lpFiles = files;
    ASSERT_EQ(MAPISendMail(0, 0, &message, MAPI_LOGON_UI | MAPI_DIALOG, 0), SUCCESS_SUCCESS);
    EXPECT_EQ(FTools.Args("xdg-email"),
              (Args{"--utf8", "help@example.com", "--cc", "alpha", "--bcc", "beta@example.com",
                    "--subject", "Error report", "--body", "Text\n", "--attach", FLog}));
    EXPECT_FALSE(FTools.Ran("sendmail"));
}

TEST_F(MapiTest, WithoutTheDialogFlagTheMessageIsSentDirectly) {
    MapiRecipDesc recips[] = {Recip(MAPI_TO, "Support", "SMTP:help@example.com")};
    MapiFileDesc files[] = {File(FLog, nullptr)};
    MapiMessage message{};
    message.lpszSubject = Str("Error report");
    message.nRecipCount = 1;
    message.lpRecips = recips;
    message.nFileCount = 1;
    message.lpFiles = files;
    ASSERT_EQ(MAPISendMail(0, 0, &message, MAPI_LOGON_UI, 0), SUCCESS_SUCCESS);
    EXPECT_FALSE(FTools.Ran("xdg-email"));
    const std::string sent = FTools.Input("sendmail");
    EXPECT_NE(sent.find("To: Support <help@example.com>"), std::string::npos) << sent;
    EXPECT_NE(sent.find("filename=app.log"), std::string::npos) << sent;
}

TEST_F(MapiTest, ToolOutcomesBecomeTheFittingResultCodes) {
    MapiMessage empty{};
    FTools.SetExitCode("xdg-email", 3);
    EXPECT_EQ(MAPISendMail(0, 0, &empty, MAPI_DIALOG, 0), MAPI_E_LOGON_FAILURE);
    FTools.SetExitCode("xdg-email", 4);
    EXPECT_EQ(MAPISendMail(0, 0, &empty, MAPI_DIALOG, 0), MAPI_E_FAILURE);
    FTools.SetExitCode("xdg-email", 0);

    // Sending directly needs someone to send to.
    EXPECT_EQ(MAPISendMail(0, 0, &empty, 0, 0), MAPI_E_INVALID_RECIPS);
    EXPECT_FALSE(FTools.Ran("sendmail"));

    MapiRecipDesc recips[] = {Recip(MAPI_TO, "a", "a@example.com")};
    MapiMessage message{};
    message.nRecipCount = 1;
    message.lpRecips = recips;
    FTools.SetExitCode("sendmail", 75);
    EXPECT_EQ(MAPISendMail(0, 0, &message, 0, 0), MAPI_E_FAILURE);

    const std::string missing = FDir.File("JexAbCdEf.bmp");
    MapiFileDesc files[] = {File(missing, "JexAbCdEf.bmp"), File(FLog, "app.log")};
    message.nFileCount = 2;
    message.lpFiles = files;
    FTools.Reset();
    EXPECT_EQ(MAPISendMail(0, 0, &message, MAPI_DIALOG, 0), MAPI_E_ATTACHMENT_NOT_FOUND);
    EXPECT_EQ(MAPISendMail(0, 0, &message, 0, 0), MAPI_E_ATTACHMENT_NOT_FOUND);
    EXPECT_FALSE(FTools.Ran("xdg-email"));
    EXPECT_FALSE(FTools.Ran("sendmail"));
}

TEST_F(MapiTest, MalformedMessagesAreRefusedBeforeAnyToolStarts) {
    EXPECT_EQ(MAPISendMail(0, 0, nullptr, MAPI_DIALOG, 0), MAPI_E_FAILURE);
    MapiMessage message{};
    EXPECT_EQ(MAPISendMail(7, 0, &message, MAPI_DIALOG, 0), MAPI_E_INVALID_SESSION);
    message.nRecipCount = 2; // without an array
    EXPECT_EQ(MAPISendMail(0, 0, &message, MAPI_DIALOG, 0), MAPI_E_INVALID_MESSAGE);
    message.nRecipCount = 0;
    message.nFileCount = 1;
    EXPECT_EQ(MAPISendMail(0, 0, &message, MAPI_DIALOG, 0), MAPI_E_INVALID_MESSAGE);

    MapiRecipDesc odd[] = {Recip(4, "a", "a@example.com")};
    MapiMessage wrongClass{};
    wrongClass.nRecipCount = 1;
    wrongClass.lpRecips = odd;
    EXPECT_EQ(MAPISendMail(0, 0, &wrongClass, MAPI_DIALOG, 0), MAPI_E_BAD_RECIPTYPE);

    MapiRecipDesc injected[] = {Recip(MAPI_TO, "x", "x@example.com\nBcc: victim@example.com")};
    MapiMessage injection{};
    injection.nRecipCount = 1;
    injection.lpRecips = injected;
    EXPECT_EQ(MAPISendMail(0, 0, &injection, MAPI_DIALOG, 0), MAPI_E_INVALID_RECIPS);
    EXPECT_EQ(MAPISendMail(0, 0, &injection, 0, 0), MAPI_E_INVALID_RECIPS);

    MapiFileDesc nameless[] = {File("", nullptr)};
    MapiMessage noPath{};
    noPath.nFileCount = 1;
    noPath.lpFiles = nameless;
    nameless[0].lpszPathName = nullptr;
    EXPECT_EQ(MAPISendMail(0, 0, &noPath, MAPI_DIALOG, 0), MAPI_E_ATTACHMENT_NOT_FOUND);

    EXPECT_FALSE(FTools.Ran("xdg-email"));
    EXPECT_FALSE(FTools.Ran("sendmail"));
}
