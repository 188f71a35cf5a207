// tests/logging/LogBaseDeliveryTest.cpp - sending the log by mail and opening the support page:
// the message as the mail layer receives it (a recording service swapped in), and the whole
// way to recording fakes of xdg-email, sendmail and xdg-open started as real processes.
#include "host/core/SysUtils.h"
#include "host/forms/Forms.h"
#include "host/forms/Graphics.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"
#include "logging/LogBase.h"
#include "logging/LogCnst.h"
#include "platform/PlatformServices.h"
#include "platform/Screen.h"
#include "platform/fake/File.h"
#include "platform/fake/MailClient.h"
#include "platform/fake/TempFiles.h"
#include "tests/support/FakeTools.h"
#include "tests/support/FaultSweep.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace jex;
namespace fs = std::filesystem;

namespace {

// A 4 x 3 screen whose left column is red and the rest blue (0x00RRGGBB).
class TFakeScreen : public platform::TScreenService {
public:
    void Size(int& AWidth, int& AHeight) override {
        AWidth = FWidth;
        AHeight = FHeight;
    }

    bool Capture(platform::TScreenImage& AImage) override {
        AImage.Width = FWidth;
        AImage.Height = FHeight;
        AImage.Pixels.assign(static_cast<std::size_t>(FWidth) * FHeight, 0x0000FF);
        for (int y = 0; y < FHeight; ++y)
            AImage.Pixels[static_cast<std::size_t>(y) * FWidth] = 0xFF0000;
        return FWidth > 0;
    }

    void Beep() override {}

    void SetSize(int AWidth, int AHeight) {
        FWidth = AWidth;
        FHeight = AHeight;
    }

private:
    int FWidth = 4;
    int FHeight = 3;
};

// The BMP file the fake screen gives.
std::string ExpectedBitmap() {
    host::TBitmap bitmap;
    bitmap.SetSize(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            bitmap.SetPixel(x, y, x == 0 ? host::clRed : host::clBlue);
    return bitmap.SaveToBytes();
}

class TJexLogBaseDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(FTempFiles.TempPath());

        auto ws = std::make_unique<host::THeadlessWidgetSet>();
        FWidgetSet = ws.get();
        host::InitApplication(std::move(ws));
        FOwner = host::Create<host::TComponent>(nullptr);
        FLog = host::Create<TJexLogBase>(FOwner);
        FLog->SetLogFile(FTemp.File("app.log"));
        jex::test::WriteFileBytes(FLog->LogFile(), "first entry\r\n");
        Settings().SetEMail("support@example.com");
        Settings().SetEMailSubject("Error report");
        Settings().SetResolveNames(false);
        Settings().SetAttachScreenShot(false);
    }

    void TearDown() override {
        delete FOwner;
        host::DoneApplication();
    }

    TJexLSendTo& Settings() { return *FLog->SendTo(); }

    // The single message the recording service received.
    const platform::TFakeMailClient::TCall& OnlyCall() {
        EXPECT_EQ(FMail.Calls().size(), 1u);
        if (FMail.Calls().empty())
            throw std::runtime_error("no message was delivered");
        return FMail.Calls().front();
    }

    // The message boxes shown, as the headless widgetset logs them.
    std::vector<std::string> MessageBoxes() const {
        std::vector<std::string> boxes;
        for (const std::string& line : FWidgetSet->Log())
            if (line.rfind("MessageDlg", 0) == 0)
                boxes.push_back(line);
        return boxes;
    }

    // Files left in the temporary folder, or anywhere below the test's folder.
    std::vector<std::string> LeftOverFiles() const {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(FTemp.Path()))
            if (entry.is_regular_file() && entry.path().parent_path() != FTemp.Path())
                files.push_back(entry.path().string());
        return files;
    }

    jex::test::TempDir FTemp;
    TFakeScreen FScreen;
    platform::TFakeMailClient FMail;
    host::THeadlessWidgetSet* FWidgetSet = nullptr;
    host::TComponent* FOwner = nullptr;
    TJexLogBase* FLog = nullptr;
    platform::TFakeTempFiles FTempFiles{FTemp.File("temp")};
    platform::TScopedPlatformServices FTempService{[this] {
        platform::TPlatformServices services;
        services.TempFiles = &FTempFiles;
        return services;
    }()};
};

// The recording services, for the tests that look at the message as the mail layer got it.
class TJexLogBaseMessageTest : public TJexLogBaseDeliveryTest {
protected:
    TJexLogBaseMessageTest()
        : FServices(platform::TPlatformServices{nullptr, &FScreen, &FMail, nullptr}) {}

    platform::TScopedPlatformServices FServices;
};

// Only the screen is a fake: mail goes to the recording programs on PATH.
class TJexLogBaseToolsTest : public TJexLogBaseDeliveryTest {
protected:
    TJexLogBaseToolsTest()
        : FServices(platform::TPlatformServices{nullptr, &FScreen, nullptr, nullptr}) {}

    platform::TScopedPlatformServices FServices;
    jex::test::FakeTools FTools;
};

std::vector<std::pair<platform::TMailRecipientKind, std::string>>
Recipients(const platform::TMailMessage& AMessage) {
    std::vector<std::pair<platform::TMailRecipientKind, std::string>> result;
    for (const platform::TMailRecipient& recip : AMessage.Recipients)
        result.emplace_back(recip.Kind, recip.Address);
    return result;
}

using Recips = std::vector<std::pair<platform::TMailRecipientKind, std::string>>;

} // namespace

TEST_F(TJexLogBaseMessageTest, DefaultBodyNamesTheWholeEMailAndTheLogFile) {
    Settings().SetEMail("support@example.com;cc:boss@example.com");
    FLog->SendLogByMail();
    const auto& call = OnlyCall();
    EXPECT_EQ(
        call.Message.Body,
        host::Format(DefaultEMailBody(),
                     {std::string("support@example.com;cc:boss@example.com"), FLog->LogFile()}));
    EXPECT_NE(call.Message.Body.find("forward this message to "
                                     "support@example.com;cc:boss@example.com. Also, you can "
                                     "send this file " +
                                     FLog->LogFile() + " as attachment"),
              std::string::npos);
    EXPECT_EQ(call.Message.Subject, "Error report");
    EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(TJexLogBaseMessageTest, EMailIsSplitIntoRecipientsWithTheirClasses) {
    using namespace platform;
    const std::pair<const char*, Recips> cases[] = {
        {"alpha;;beta", {{mrkTo, "alpha"}, {mrkTo, ""}, {mrkTo, "beta"}}},
        {"alpha;", {{mrkTo, "alpha"}}},
        {"cc:alpha,Bcc:beta", {{mrkCc, "alpha"}, {mrkBcc, "beta"}}},
        {" CC:alpha", {{mrkTo, " CC:alpha"}}},
        {"bcc:", {{mrkBcc, ""}}},
        {"", {}},
    };
    for (const auto& [email, expected] : cases) {
        Settings().SetEMail(email);
        FMail = TFakeMailClient{};
        FLog->SendLogByMail();
        EXPECT_EQ(Recipients(OnlyCall().Message), expected) << email;
    }
}

TEST_F(TJexLogBaseMessageTest, ResolvedNamesAreUsedAndUnresolvedOnesKeepOnlyTheirClass) {
    Settings().SetResolveNames(true);
    Settings().SetEMail("Support <help@example.com>;cc:alpha");
    FLog->SendLogByMail();
    const auto& message = OnlyCall().Message;
    ASSERT_EQ(message.Recipients.size(), 2u);
    EXPECT_EQ(message.Recipients[0].Name, "Support");
    EXPECT_EQ(message.Recipients[0].Address, "help@example.com");
    EXPECT_EQ(message.Recipients[1].Kind, platform::mrkCc);
    EXPECT_EQ(message.Recipients[1].Name, "");
    EXPECT_EQ(message.Recipients[1].Address, "");
    // "alpha" is unknown, so it is asked once more with the dialog flag.
    EXPECT_EQ(FMail.Resolved(),
              (std::vector<std::string>{"Support <help@example.com>", "alpha", "alpha"}));
}

TEST_F(TJexLogBaseMessageTest, OpenBeforeSendChoosesTheComposeWindowOverSendingAtOnce) {
    FLog->SendLogByMail();
    Settings().SetEMailOpenBeforeSend(false);
    FLog->SendLogByMail();
    ASSERT_EQ(FMail.Calls().size(), 2u);
    EXPECT_TRUE(FMail.Calls()[0].Compose);
    EXPECT_FALSE(FMail.Calls()[1].Compose);
}

TEST_F(TJexLogBaseMessageTest, AttachmentsComeScreenshotFirstThenTheLog) {
    Settings().SetAttachScreenShot(true);
    Settings().SetAttachLog(true);
    FLog->SendLogByMail();
    const auto& files = OnlyCall().Message.Attachments;
    ASSERT_EQ(files.size(), 2u);
    const fs::path shot = files[0].PathName;
    EXPECT_EQ(shot.parent_path().string() + "/", FTempFiles.PrivateTempFolder());
    EXPECT_EQ(FTempFiles.Created(), std::vector<std::string>{shot.string()});
    EXPECT_EQ(shot.filename().string().rfind("Jex", 0), 0u);
    EXPECT_EQ(shot.extension(), ".bmp");
    EXPECT_EQ(files[0].FileName, shot.filename().string());
    EXPECT_EQ(files[1].PathName, FLog->LogFile());
    EXPECT_EQ(files[1].FileName, "app.log");
    // The compose window may read it after the call: it stays until the application ends.
    EXPECT_EQ(jex::test::ReadFileBytes(shot.string()), ExpectedBitmap());
}

TEST_F(TJexLogBaseMessageTest, AttachmentsFollowTheSwitchesAndTheLogFileName) {
    Settings().SetAttachLog(false);
    FLog->SendLogByMail();
    EXPECT_TRUE(FMail.Calls().back().Message.Attachments.empty());

    Settings().SetAttachLog(true);
    FLog->SetLogFile("");
    FLog->SendLogByMail();
    EXPECT_TRUE(FMail.Calls().back().Message.Attachments.empty());

    // The log is attached by name, whether it exists or not.
    FLog->SetLogFile("missing.log");
    FLog->SendLogByMail();
    ASSERT_EQ(FMail.Calls().back().Message.Attachments.size(), 1u);
    EXPECT_EQ(FMail.Calls().back().Message.Attachments[0].PathName, "missing.log");
}

TEST_F(TJexLogBaseMessageTest, JpegScreenshotIsWrittenNotJustNamed) {
    Settings().SetAttachScreenShot(true);
    Settings().SetScreenshotFormat(sfJpeg);
    FLog->SendLogByMail();
    const auto& files = OnlyCall().Message.Attachments;
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(files[0].PathName).extension(), ".jpg");
    const std::string bytes = jex::test::ReadFileBytes(files[0].PathName);
    ASSERT_GT(bytes.size(), 100u);
    EXPECT_EQ(bytes.substr(0, 3), "\xFF\xD8\xFF");
}

TEST_F(TJexLogBaseMessageTest, WithoutADisplayNoScreenshotIsAttached) {
    FScreen.SetSize(0, 0);
    Settings().SetAttachScreenShot(true);
    FLog->SendLogByMail();
    EXPECT_TRUE(OnlyCall().Message.Attachments.empty());
    EXPECT_TRUE(LeftOverFiles().empty());
}

TEST_F(TJexLogBaseMessageTest, FailedSendShowsTheErrorAndLeavesNoScreenshot) {
    Settings().SetAttachScreenShot(true);
    FMail.SetResult(platform::mrUserAbort);
    FLog->SendLogByMail();
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_NE(MessageBoxes()[0].find("mtError [mbOK]"), std::string::npos) << MessageBoxes()[0];
    EXPECT_NE(MessageBoxes()[0].find(": User cancelled request"), std::string::npos)
        << MessageBoxes()[0];
    EXPECT_FALSE(fs::exists(OnlyCall().Message.Attachments[0].PathName));
    EXPECT_TRUE(LeftOverFiles().empty());
}

TEST_F(TJexLogBaseMessageTest, DirectSendDeletesTheScreenshotAtOnce) {
    Settings().SetAttachScreenShot(true);
    Settings().SetEMailOpenBeforeSend(false);
    FLog->SendLogByMail();
    EXPECT_FALSE(fs::exists(OnlyCall().Message.Attachments[0].PathName));
    EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(TJexLogBaseMessageTest, MalformedBodyRaisesAndSendsNothingNorLeavesAScreenshot) {
    Settings().SetAttachScreenShot(true);
    for (const char* body : {"%d", "%s %s %s"}) {
        Settings().SetEMailBody(body);
        EXPECT_THROW(FLog->SendLogByMail(), host::EConvertError) << body;
    }
    EXPECT_TRUE(FMail.Calls().empty());
    EXPECT_TRUE(LeftOverFiles().empty());
}

TEST_F(TJexLogBaseMessageTest, ScreenshotThatCannotBeSavedRaisesAndSendsNothing) {
    Settings().SetAttachScreenShot(true);
    FTempFiles.SetFolder(FTemp.File("no/such/folder"));
    EXPECT_THROW(FLog->SendLogByMail(), host::EFCreateError);
    EXPECT_TRUE(FMail.Calls().empty());
    FTempFiles.SetFolder(FTemp.File("temp"));
    FTempFiles.SetCreateError(ENOSPC);
    EXPECT_THROW(FLog->SendLogByMail(), host::EFCreateError);
    EXPECT_TRUE(FMail.Calls().empty());
    EXPECT_TRUE(LeftOverFiles().empty());
}

TEST_F(TJexLogBaseMessageTest, AScreenshotWriteThatFailsAtAnyCallRaisesSendsNothingLeavesNothing) {
    Settings().SetAttachScreenShot(true);
    Settings().SetAttachLog(false);
    Settings().SetEMailOpenBeforeSend(false);
    platform::TFakeFileService files;
    const platform::TScopedPlatformServices scope({.Files = &files});
    for (const TJexLScreenshotFormat format : {sfBitmap, sfJpeg}) {
        Settings().SetScreenshotFormat(format);
        const auto send = [&] { FLog->SendLogByMail(); };
        const auto faults =
            jex::test::FaultsOf(files, [] {}, send, {platform::fkOpen, platform::fkWrite});
        ASSERT_FALSE(faults.empty());
        for (const jex::test::TInjectedFault& fault : faults) {
            SCOPED_TRACE(fault.Describe());
            const std::size_t sent = FMail.Calls().size();
            fault.Arm(files);
            EXPECT_THROW(send(), host::EFCreateError);
            files.Reset();
            EXPECT_EQ(FMail.Calls().size(), sent);
            EXPECT_TRUE(LeftOverFiles().empty());
        }
    }
}

TEST_F(TJexLogBaseMessageTest, MAPIErrorDescriptionNamesEveryCode) {
    const char* const texts[] = {"User cancelled request",
                                 "General MAPI failure",
                                 "Logon failure",
                                 "Disk full",
                                 "Insufficient memory",
                                 "Access denied",
                                 nullptr,
                                 "Too many sessions",
                                 "Too many files open",
                                 "Too many recipients",
                                 "Attachment not found",
                                 "Failed to open attachment",
                                 "Failed to write attachment",
                                 "Unknown recipient",
                                 "Invalid recipient type",
                                 "No messages",
                                 "Invalid message",
                                 "Text too large.",
                                 "Invalid session",
                                 "Type not supported",
                                 "Ambiguous recipient",
                                 "Message in use",
                                 "Network failure",
                                 "Invalid edit fields",
                                 "Invalid recipients",
                                 "Not supported"};
    for (int code = 1; code <= 26; ++code)
        if (texts[code - 1] != nullptr) {
            EXPECT_EQ(FLog->MAPIErrorDescription(code), texts[code - 1]) << code;
        }
    EXPECT_EQ(FLog->MAPIErrorDescription(7), "Unknown Error Code: 7");
    EXPECT_EQ(FLog->MAPIErrorDescription(0), "Unknown Error Code: 0");
    EXPECT_EQ(FLog->MAPIErrorDescription(-1), "Unknown Error Code: -1");
    EXPECT_EQ(FLog->MAPIErrorDescription(27), "Unknown Error Code: 27");
}

TEST_F(TJexLogBaseToolsTest, ComposeWindowGetsRecipientsTextAndAttachmentsInOrder) {
    Settings().SetEMail("support@example.com;cc:boss@example.com,Bcc:audit@example.com");
    Settings().SetAttachScreenShot(true);
    Settings().SetAttachLog(true);
    FLog->SendLogByMail();
    const std::vector<std::string> args = FTools.Args("xdg-email");
    ASSERT_EQ(args.size(), 14u) << ::testing::PrintToString(args);
    EXPECT_EQ(
        std::vector<std::string>(args.begin(), args.begin() + 8),
        (std::vector<std::string>{"--utf8", "support@example.com", "--cc", "boss@example.com",
                                  "--bcc", "audit@example.com", "--subject", "Error report"}));
    EXPECT_EQ(args[8], "--body");
    EXPECT_EQ(args[9], platform::NormaliseLineEnds(host::Format(
                           DefaultEMailBody(), {Settings().EMail(), FLog->LogFile()})));
    EXPECT_EQ(args[10], "--attach");
    EXPECT_EQ(fs::path(args[11]).extension(), ".bmp");
    EXPECT_EQ(jex::test::ReadFileBytes(args[11]), ExpectedBitmap()); // still there for the client
    EXPECT_EQ(args[12], "--attach");
    EXPECT_EQ(args[13], FLog->LogFile());
    EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(TJexLogBaseToolsTest, NoRecipientsLeaveTheComposeWindowToTheUser) {
    Settings().SetEMail("");
    FLog->SendLogByMail();
    const std::vector<std::string> args = FTools.Args("xdg-email");
    ASSERT_GE(args.size(), 3u);
    EXPECT_EQ(args[1], "--subject");
}

TEST_F(TJexLogBaseToolsTest, FailingMailClientIsShownAndTheScreenshotRemoved) {
    Settings().SetAttachScreenShot(true);
    FTools.SetExitCode("xdg-email", 3); // no mail client set up
    FLog->SendLogByMail();
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_NE(MessageBoxes()[0].find(": Logon failure"), std::string::npos) << MessageBoxes()[0];
    const std::vector<std::string> args = FTools.Args("xdg-email");
    ASSERT_GE(args.size(), 2u);
    EXPECT_FALSE(fs::exists(args.back()));
    EXPECT_TRUE(LeftOverFiles().empty());
}

TEST_F(TJexLogBaseToolsTest, DirectSendDeliversTheSameMessageToSendmail) {
    Settings().SetEMail("Support <help@example.com>;bcc:audit@example.com");
    Settings().SetResolveNames(true);
    Settings().SetEMailOpenBeforeSend(false);
    Settings().SetEMailBody("Log of %s: %s");
    Settings().SetAttachScreenShot(true);
    Settings().SetAttachLog(true);
    FLog->SendLogByMail();
    ASSERT_TRUE(MessageBoxes().empty()) << MessageBoxes()[0];
    EXPECT_TRUE(LeftOverFiles().empty()); // the screenshot went with the message

    const std::string path = FTemp.File("received.eml");
    jex::test::WriteFileBytes(path, FTools.Input("sendmail"));
    bool ok = false;
    const std::string described = jex::test::DescribeMimeMessage(path, ok);
    if (!ok)
        GTEST_SKIP() << "python3 cannot check the message: " << described;
    const std::string shotLine = described.substr(described.find("File: Jex"));
    EXPECT_EQ(described.substr(0, described.find("File: Jex")),
              "To: Support|help@example.com\n"
              "Bcc: |audit@example.com\n"
              "Subject: Error report\n"
              "Headers: bcc,content-type,date,message-id,mime-version,subject,to\n"
              "Type: multipart/mixed\n"
              "Text: us-ascii " +
                  jex::test::Hex("Log of Support <help@example.com>;bcc:audit@example.com: " +
                                 FLog->LogFile()) +
                  "\n");
    EXPECT_NE(shotLine.find(".bmp image/bmp " + jex::test::Hex(ExpectedBitmap()) + "\n"),
              std::string::npos)
        << shotLine;
    EXPECT_NE(shotLine.find("File: app.log text/plain " + jex::test::Hex("first entry\r\n")),
              std::string::npos)
        << shotLine;
}

TEST_F(TJexLogBaseToolsTest, SupportPageIsOpenedWithTheAddressAsOneArgument) {
    Settings().SetWWW("https://example.com/support?product=demo&v=1 2");
    FLog->SendLogByWWW();
    ASSERT_TRUE(FTools.WaitFor("xdg-open"));
    EXPECT_EQ(FTools.Args("xdg-open"),
              std::vector<std::string>{"https://example.com/support?product=demo&v=1 2"});

    FTools.Reset();
    Settings().SetWWW("");
    FLog->SendLogByWWW(); // nothing to open, nothing said
    EXPECT_TRUE(MessageBoxes().empty());
}

// A real screen copy, on a virtual X display.
TEST(TJexLogBaseScreenshotTest, CapturesTheWholeScreenOfARealDisplay) {
    const std::string xvfb = "/usr/bin/Xvfb";
    if (!fs::exists(xvfb))
        GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
    // The server picks a free display and writes its number to the pipe once it accepts
    // clients, so there is no guessing and no waiting on a fixed time. Each screen call opens
    // its own connection; without -noreset the server resets whenever the last one closes and
    // refuses the next connection for a moment.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    std::vector<std::string> args{xvfb,        "-displayfd", std::to_string(ready[1]),
                                  "-screen",   "0",          "320x200x24",
                                  "-nolisten", "tcp",        "-noreset"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t server = 0;
    const int spawned = posix_spawn(&server, argv[0], nullptr, nullptr, argv.data(), environ);
    close(ready[1]);
    ASSERT_EQ(spawned, 0);
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    char c = 0;
    while (poll(&wait, 1, 10000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(ready[0]);
    if (number.empty()) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        GTEST_SKIP() << "Xvfb did not start";
    }
    const std::string display = ":" + number;

    const char* oldDisplay = std::getenv("DISPLAY");
    const std::string savedDisplay = oldDisplay != nullptr ? oldDisplay : "";
    setenv("DISPLAY", display.c_str(), 1);
    // Some servers answer on their display shortly after announcing it.
    int width = 0, height = 0;
    for (int i = 0; i < 100 && width == 0; ++i) {
        platform::LinuxScreenService().Size(width, height);
        if (width == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(width, 320) << "the display " << display << " cannot be reached";
    host::InitApplication(std::make_unique<host::THeadlessWidgetSet>());
    platform::TFakeMailClient mail;
    jex::test::TempDir temp;
    platform::TFakeTempFiles tempFiles(temp.Path().string());
    std::string shot;
    {
        platform::TPlatformServices fakes{nullptr, nullptr, &mail, nullptr};
        fakes.TempFiles = &tempFiles;
        platform::TScopedPlatformServices services(fakes);
        auto* log = host::Create<TJexLogBase>(nullptr);
        log->SendTo()->SetAttachScreenShot(true);
        log->SendLogByMail();
        if (!mail.Calls().empty() && !mail.Calls()[0].Message.Attachments.empty())
            shot = mail.Calls()[0].Message.Attachments[0].PathName;
        delete log;
    }
    host::DoneApplication();
    if (oldDisplay != nullptr)
        setenv("DISPLAY", savedDisplay.c_str(), 1);
    else
        unsetenv("DISPLAY");
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);

    ASSERT_FALSE(shot.empty()) << "no screenshot was attached";
    host::TBitmap bitmap;
    bitmap.LoadFromFile(shot);
    EXPECT_EQ(bitmap.Width(), 320);
    EXPECT_EQ(bitmap.Height(), 200);
}
