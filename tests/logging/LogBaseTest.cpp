// tests/logging/LogBaseTest.cpp - TJexLogBase: construction order, settings, and appending to
// the log file under the write lock, within one process and across processes.
#include "logging/LogBase.h"

#include "logging/LogCnst.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace host;
using namespace jex;
using host::Create;
using jex::test::ReadFileBytes;
using jex::test::TempDir;

namespace {

// A log component of another class, recording how its SetActive override is reached.
class TRecordingLog : public TJexLogBase {
public:
    using TJexLogBase::TJexLogBase;

    void SetActive(bool AValue) override {
        Calls.push_back(std::string(AValue ? "true" : "false") +
                        (SendTo() == nullptr ? " before settings" : " with settings"));
        TJexLogBase::SetActive(AValue);
    }

    std::vector<std::string> Calls;
};

class TJexLogBaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        FOwner = Create<TComponent>(nullptr);
        FLog = Create<TJexLogBase>(FOwner);
        FLog->SetLogFile(FDir.File("events.log"));
    }

    void TearDown() override { delete FOwner; }

    std::string LogText() const { return ReadFileBytes(FLog->LogFile()); }

    TempDir FDir;
    TComponent* FOwner = nullptr;
    TJexLogBase* FLog = nullptr;
};

// Restores the current folder when a test has changed it.
class TCurrentDirGuard {
public:
    TCurrentDirGuard()
        : FSaved(std::filesystem::current_path()) {}

    ~TCurrentDirGuard() { std::filesystem::current_path(FSaved); }

private:
    std::filesystem::path FSaved;
};

} // namespace

TEST(TJexLogBaseConstructionTest, NewComponentHasTheDocumentedDefaults) {
    std::unique_ptr<TJexLogBase> log(Create<TJexLogBase>(nullptr));
    EXPECT_FALSE(log->Active());
    EXPECT_EQ(log->LogFile(), "jexevents.log");
    TJexLSendTo* s = log->SendTo();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->EMail(), "");
    EXPECT_EQ(s->EMailSubject(), "");
    EXPECT_EQ(s->EMailBody(), DefaultEMailBody());
    EXPECT_TRUE(s->EMailOpenBeforeSend());
    EXPECT_EQ(s->WWW(), "");
    EXPECT_TRUE(s->AttachScreenShot());
    EXPECT_EQ(s->ScreenshotFormat(), sfBitmap);
    EXPECT_FALSE(s->AttachLog());
    EXPECT_TRUE(s->ResolveNames());
    EXPECT_EQ(s->Options().Bits(), 7u);
    EXPECT_EQ(s->AdditionalFiles()->Count(), 0);
}

TEST(TJexLogBaseConstructionTest, DeactivationReachesTheConcreteClassBeforeTheSettingsExist) {
    std::unique_ptr<TRecordingLog> log(Create<TRecordingLog>(nullptr));
    EXPECT_EQ(log->Calls, (std::vector<std::string>{"false before settings"}));
    log->SetActive(true);
    EXPECT_EQ(log->Calls.back(), "true with settings");
}

TEST(TJexLogBaseConstructionTest, DefaultMailBodyHasFourLinesAndTwoPlaceholders) {
    const std::string& body = DefaultEMailBody();
    EXPECT_EQ(body.rfind("This message contain technical information about program execution "
                         "error.\r\nPlease, press the \"Send\" button",
                         0),
              0u);
    EXPECT_NE(body.find("forward this message to %s. Also, you can send this file %s as"),
              std::string::npos);
    EXPECT_NE(body.find("horisontal line below.\r\n" + std::string(74, '-') + "\r\n"),
              std::string::npos);
    EXPECT_EQ(body.substr(body.size() - 34), "PLEASE, INSERT YOUR COMMENT HERE: ");
}

TEST(TJexLogBaseConstructionTest, AssigningSettingsCopiesIntoTheOwnedObject) {
    std::unique_ptr<TJexLogBase> log(Create<TJexLogBase>(nullptr));
    TJexLSendTo* owned = log->SendTo();
    TJexLSendTo other;
    other.SetEMail("support@example.com");
    other.SetOptions({doWeb});
    other.AdditionalFiles()->Add("a.txt");
    log->SetSendTo(&other);
    EXPECT_EQ(log->SendTo(), owned);
    EXPECT_EQ(owned->EMail(), "support@example.com");
    EXPECT_EQ(owned->Options(), TJexLDialogOptions{doWeb});
    EXPECT_EQ(owned->AdditionalFiles()->Count(), 1);
    other.AdditionalFiles()->Clear();
    EXPECT_EQ(owned->AdditionalFiles()->Count(), 1);
}

TEST_F(TJexLogBaseTest, WritesAppendExactlyTheGivenBytes) {
    FLog->WriteAsString("");
    EXPECT_FALSE(std::filesystem::exists(FLog->LogFile()));
    FLog->WriteAsString("ab");
    EXPECT_EQ(LogText(), "ab");
    FLog->WriteAsString("cd");
    FLog->WriteAsString(std::string("\0\r\n\xff", 4));
    EXPECT_EQ(LogText(), std::string("abcd\0\r\n\xff", 8));
    FLog->WriteAsString("");
    EXPECT_EQ(LogText().size(), 8u);
}

TEST_F(TJexLogBaseTest, TypedWritersAppendTheConvertedText) {
    ASSERT_FALSE(FLog->Active());
    FLog->WriteAsInteger(-42);
    FLog->WriteAsInteger(0);
    FLog->WriteAsString("|");
    FLog->WriteAsFloat(12.5);
    FLog->WriteAsString("|");
    FLog->WriteAsDateTime(EncodeDate(2003, 4, 5));
    const std::string date = DateTimeToStr(EncodeDate(2003, 4, 5));
    EXPECT_EQ(LogText(), "-420|" + FloatToStr(12.5) + "|" + date);
    EXPECT_EQ(date.find(' '), std::string::npos) << "midnight prints the date alone";
}

TEST_F(TJexLogBaseTest, EmptyLogFileFailsToCreateAndLeavesTheLockFree) {
    FLog->SetLogFile("");
    EXPECT_THROW(FLog->WriteAsString("x"), EFCreateError);
    TRecordingLog* other = Create<TRecordingLog>(FOwner);
    other->SetLogFile(FDir.File("other.log"));
    other->WriteAsString("after");
    EXPECT_EQ(ReadFileBytes(other->LogFile()), "after");
}

TEST_F(TJexLogBaseTest, MissingFolderRaisesTheCreateErrorNamingTheFile) {
    const std::string name = FDir.File("missing/events.log");
    FLog->SetLogFile(name);
    try {
        FLog->WriteAsString("x");
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + name);
    }
    EXPECT_FALSE(std::filesystem::exists(FDir.Path() / "missing"));
}

TEST_F(TJexLogBaseTest, FailedWriteIsReportedAndReleasesTheLock) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not writable here";
    FLog->SetLogFile("/dev/full");
    EXPECT_THROW(FLog->WriteAsString("disk is full"), EWriteError);
    TRecordingLog* other = Create<TRecordingLog>(FOwner);
    other->SetLogFile(FDir.File("other.log"));
    other->WriteAsString("still writes");
    EXPECT_EQ(ReadFileBytes(other->LogFile()), "still writes");
}

TEST_F(TJexLogBaseTest, DefaultLogFileFollowsTheCurrentFolder) {
    TCurrentDirGuard guard;
    std::unique_ptr<TJexLogBase> log(Create<TJexLogBase>(nullptr));
    std::filesystem::create_directory(FDir.Path() / "one");
    std::filesystem::create_directory(FDir.Path() / "two");
    std::filesystem::current_path(FDir.Path() / "one");
    log->WriteAsString("first");
    std::filesystem::current_path(FDir.Path() / "two");
    log->WriteAsString("second");
    EXPECT_EQ(ReadFileBytes(FDir.File("one/jexevents.log")), "first");
    EXPECT_EQ(ReadFileBytes(FDir.File("two/jexevents.log")), "second");
}

TEST_F(TJexLogBaseTest, ClearLogDeletesTheFileAndIgnoresNothingToDelete) {
    FLog->ClearLog();
    FLog->WriteAsString("x");
    FLog->ClearLog();
    EXPECT_FALSE(std::filesystem::exists(FLog->LogFile()));
    FLog->SetLogFile("");
    FLog->ClearLog();
}

namespace {

// Checks that AText consists of whole records: runs of ALength equal characters.
void ExpectWholeRecords(const std::string& AText, std::size_t ALength, std::size_t AExpected) {
    ASSERT_EQ(AText.size(), ALength * AExpected);
    for (std::size_t start = 0; start < AText.size(); start += ALength)
        ASSERT_EQ(AText.compare(start, ALength, std::string(ALength, AText[start])), 0)
            << "record at " << start << " is mixed";
}

} // namespace

TEST_F(TJexLogBaseTest, ComponentsOnTwoThreadsNeverInterleaveWithinAWrite) {
    constexpr std::size_t recordLength = 64 * 1024;
    constexpr int recordsEach = 40;
    TRecordingLog* other = Create<TRecordingLog>(FOwner);
    other->SetLogFile(FLog->LogFile());
    std::thread worker([&] {
        const std::string record(recordLength, 'B');
        for (int i = 0; i < recordsEach; ++i)
            other->WriteAsString(record);
    });
    const std::string record(recordLength, 'A');
    for (int i = 0; i < recordsEach; ++i)
        FLog->WriteAsString(record);
    worker.join();
    ExpectWholeRecords(LogText(), recordLength, 2 * recordsEach);
}

TEST_F(TJexLogBaseTest, TwoProcessesNeverInterleaveWithinAWrite) {
    constexpr std::size_t recordLength = 64 * 1024;
    constexpr int recordsEach = 40;
    FLog->WriteAsString(std::string(recordLength, 'S')); // the file exists before both start
    // Writes the records, retrying while the other process holds the file for writing.
    auto writeAll = [&](char AMark) {
        const std::string record(recordLength, AMark);
        for (int i = 0; i < recordsEach;) {
            try {
                FLog->WriteAsString(record);
                ++i;
            } catch (const EFOpenError&) {
                std::this_thread::yield();
            }
        }
    };
    jex::test::TChildProcess child([&] {
        writeAll('C');
        return 0;
    });
    writeAll('P');
    ASSERT_EQ(child.Wait(), 0);
    ExpectWholeRecords(LogText(), recordLength, 2 * recordsEach + 1);
}

TEST(LogBaseUnitTest, NestedInitialisationCreatesAndDeletesTheLockOnce) {
    // The package has initialised the unit once when the library was loaded.
    ASSERT_TRUE(LogBaseWriteLockExists());
    LogBaseInitialization();
    LogBaseFinalization();
    EXPECT_TRUE(LogBaseWriteLockExists());
    LogBaseFinalization();
    EXPECT_FALSE(LogBaseWriteLockExists());
    LogBaseInitialization();
    EXPECT_TRUE(LogBaseWriteLockExists());
}

namespace {

// A form-like owner for stored-form tests.
class TLogTestForm : public TComponent {
    JEX_CLASS(TLogTestForm)

public:
    using TComponent::TComponent;
};

const TClassInfo& TLogTestForm::StaticClassInfo() {
    static const TClassInfo info =
        TClassInfoBuilder<TLogTestForm>("TLogTestForm", &TComponent::StaticClassInfo())
            .Component()
            .Build();
    return info;
}

bool HasLine(const std::string& AText, const std::string& ALine) {
    return AText.find("\r\n" + ALine + "\r\n") != std::string::npos;
}

} // namespace

TEST(TJexLogBaseStoredFormTest, TwoComponentsRoundTripAndDefaultsAreNotWritten) {
    RegisterClass(TLogTestForm::StaticClassInfo());
    std::unique_ptr<TLogTestForm> form(Create<TLogTestForm>(nullptr));
    form->SetName("frmMain");
    TJexLogBase* first = Create<TJexLogBase>(form.get());
    first->SetName("JexLog1");
    first->SetLogFile("orders.log");
    first->SendTo()->SetEMail("support@example.com;CC:boss@example.com");
    first->SendTo()->SetOptions({doEmail, doWeb});
    TJexLogBase* second = Create<TJexLogBase>(form.get());
    second->SetName("JexLog2");
    second->SetActive(true);
    second->SendTo()->SetAttachLog(true);
    second->SendTo()->SetEMailOpenBeforeSend(false);

    const std::string text = WriteComponentToText(form.get());
    EXPECT_EQ(text.rfind("object frmMain: TLogTestForm\r\n  object JexLog1: TJexLogBase\r\n"
                         "    Active = False\r\n    LogFile = 'orders.log'\r\n",
                         0),
              0u)
        << text;
    EXPECT_TRUE(HasLine(text, "    SendTo.EMail = 'support@example.com;CC:boss@example.com'"));
    EXPECT_TRUE(HasLine(text, "    SendTo.Options = [doEmail, doWeb]"));
    EXPECT_TRUE(HasLine(text, "    Active = True"));
    EXPECT_TRUE(HasLine(text, "    SendTo.AttachLog = True"));
    EXPECT_TRUE(HasLine(text, "    SendTo.EMailOpenBeforeSend = False"));
    for (const char* unwritten : {"AttachScreenShot", "ResolveNames", "ScreenshotFormat",
                                  "SendTo.WWW", "SendTo.EMailSubject", "AdditionalFiles"})
        EXPECT_EQ(text.find(unwritten), std::string::npos) << unwritten << " written:\n" << text;

    std::unique_ptr<TComponent> copy(ReadComponentFromText(text));
    ASSERT_EQ(copy->ComponentCount(), 2);
    auto* readFirst = dynamic_cast<TJexLogBase*>(copy->FindComponent("JexLog1"));
    auto* readSecond = dynamic_cast<TJexLogBase*>(copy->FindComponent("JexLog2"));
    ASSERT_NE(readFirst, nullptr);
    ASSERT_NE(readSecond, nullptr);
    EXPECT_FALSE(readFirst->Active());
    EXPECT_EQ(readFirst->LogFile(), "orders.log");
    EXPECT_EQ(readFirst->SendTo()->EMail(), first->SendTo()->EMail());
    EXPECT_EQ(readFirst->SendTo()->Options(), first->SendTo()->Options());
    EXPECT_EQ(readFirst->SendTo()->EMailBody(), DefaultEMailBody());
    EXPECT_TRUE(readSecond->Active());
    EXPECT_EQ(readSecond->LogFile(), "jexevents.log");
    EXPECT_TRUE(readSecond->SendTo()->AttachLog());
    EXPECT_FALSE(readSecond->SendTo()->EMailOpenBeforeSend());
    EXPECT_TRUE(readSecond->SendTo()->ResolveNames());
    EXPECT_EQ(WriteComponentToText(copy.get()), text);
}
