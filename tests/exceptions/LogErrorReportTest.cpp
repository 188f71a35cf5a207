// tests/exceptions/LogErrorReportTest.cpp - the report an exception from the running message
// loop leaves in the log: the exact line layout with the default sections, the source position
// from a map beside the program, and the command-line parameters.
#include "ExceptionLogFixture.h"
#include "exceptions/LogDlg.h"
#include "exceptions/LogError.h"
#include "host/forms/StdCtrls.h"
#include "mapfile/MapFormat.h"
#include "platform/ProcessImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

using namespace host;
using namespace jex;

namespace {

[[gnu::noinline]] void ParseOrderTotal() {
    // The conversion error is raised inside the library; the report names this call.
    const long double total = StrToFloat("12,5x");
    if (total < 0)
        std::abort();
}

[[gnu::noinline]] void LockOrder() {
    throw EInvalidOperation("Order is locked");
}

class TJexExceptionLogReportTest : public jex::test::TExceptionLogFixture {
protected:
    void SetUp() override {
        TExceptionLogFixture::SetUp();
        FForm = Application->CreateForm<TForm>();
        FForm->SetName("frmMain");
        FForm->SetCaption("Orders");
        auto* edit = Create<TEdit>(FForm);
        edit->SetName("edtCustomer");
        edit->SetParent(FForm);
        auto* other = Create<TEdit>(FForm);
        other->SetName("edtOther");
        other->SetParent(FForm);
        FForm->Show();
        edit->SetFocus();
        FLogger = NewLogger(FForm);
        FLogger->SetOnException(TExceptionEvent::FromCallable([this](TObject*, Exception*) {
            FAddress = ExceptAddr();
            FDescription = ExceptionErrorMessage(ExceptObject(), ExceptAddr());
        }));
    }

    /// Runs the application; its first message calls AFailure and ends the loop. Once the
    /// loop has ended, the message is handled by ProcessMessages instead.
    template <typename F>
    void RunFailing(F AFailure) {
        const bool running = !Application->Terminated();
        const auto hook = TWindowHook::FromCallable([&](TMessage& AMsg) {
            if (AMsg.Msg == WM_USER + 1) {
                if (running)
                    Application->Terminate();
                AFailure();
            }
            return false;
        });
        Application->HookMainWindow(hook);
        Application->PostMessage(Application->Handle(), WM_USER + 1);
        if (running)
            Application->Run();
        else
            Application->ProcessMessages();
        Application->UnhookMainWindow(hook);
    }

    std::string Parameters() const {
        std::string text;
        if (ParamCount() > 0) {
            text = "\r\nParameters: ";
            for (int i = 1; i <= ParamCount(); ++i)
                text += "\r\n" + ParamStr(i);
        }
        return text;
    }

    TForm* FForm = nullptr;
    TJexExceptionLog* FLogger = nullptr;
    void* FAddress = nullptr;
    std::string FDescription;
};

// True when AText has APattern's shape: '9' stands for a decimal digit, 'X' for an upper-case
// hexadecimal digit, any other character for itself.
bool MatchesPattern(const std::string& AText, const std::string& APattern) {
    if (AText.size() != APattern.size())
        return false;
    for (std::size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        const bool digit = c >= '0' && c <= '9';
        if (APattern[i] == '9'   ? !digit
            : APattern[i] == 'X' ? !(digit || (c >= 'A' && c <= 'F'))
                                 : c != APattern[i])
            return false;
    }
    return true;
}

// A map of this program whose only unit covers LockOrder, in the map address model.
std::string MapCovering(const void* AFunction) {
    const platform::TAddressRange range =
        platform::FunctionRangeOf(reinterpret_cast<std::uintptr_t>(AFunction));
    const auto begin =
        static_cast<std::uint32_t>(platform::ToMapAddress(range.Begin) - mapformat::BaseAddress);
    const auto end = static_cast<std::uint32_t>(platform::ToMapAddress(range.End - 1) + 1 -
                                                mapformat::BaseAddress);
    const std::string hexBegin = mapformat::HexOffset(begin);
    return " Start         Length     Name                   Class\r\n"
           " 0001:00000000 " +
           mapformat::HexOffset(end + 0x100) +
           "H .text                   CODE\r\n"
           "\r\n"
           "Detailed map of segments\r\n"
           "\r\n"
           " 0001:00000000 " +
           mapformat::HexOffset(begin) +
           " C=CODE     S=.text    G=(none)   M=System   ACBP=A9\r\n"
           " 0001:" +
           hexBegin + " " + mapformat::HexOffset(end - begin + 0x100) +
           " C=CODE     S=.text    G=(none)   M=Orders   ACBP=A9\r\n"
           "\r\n"
           "\r\n"
           "  Address         Publics by Name\r\n"
           "\r\n"
           " 0001:" +
           hexBegin +
           "       TfrmMain.btnGoClick\r\n"
           "\r\n"
           "\r\n"
           "  Address         Publics by Value\r\n"
           "\r\n" +
           mapformat::FormatPublicLine(begin, "TfrmMain.btnGoClick") + "\r\n" +
           mapformat::FormatPublicLine(end, "TfrmMain.FormCreate") +
           "\r\n"
           "\r\n"
           "\r\n"
           "Line numbers for Orders(Orders.pas) segment .text\r\n"
           "\r\n" +
           mapformat::FormatLineEntry(118, begin) + mapformat::FormatLineEntry(126, end) + "\r\n";
}

} // namespace

TEST_F(TJexExceptionLogReportTest, DefaultReportFromTheMessageLoopHasTheExactLineLayout) {
    const std::string dayBefore = FormatDateTime("c", Date());
    RunFailing([] { ParseOrderTotal(); });
    const std::string dayAfter = FormatDateTime("c", Date());
    const std::string log = LogText();
    ASSERT_FALSE(FDescription.empty());
    EXPECT_EQ(FDescription.rfind("Exception EConvertError in module ", 0), 0u) << FDescription;

    // The first line: date, time and the address, each followed by one blank.
    const std::size_t lineEnd = log.find("\r\n");
    ASSERT_NE(lineEnd, std::string::npos) << log;
    const std::string first = log.substr(0, lineEnd);
    EXPECT_TRUE(MatchesPattern(first, "99.99.9999 99:99:99 Phys.addr: XXXXXXXX ")) << first;
    EXPECT_TRUE(first.rfind(dayBefore + " ", 0) == 0 || first.rfind(dayAfter + " ", 0) == 0);
    EXPECT_EQ(first.substr(20),
              "Phys.addr: " + Format("%p", {static_cast<const void*>(FAddress)}) + " ");
    EXPECT_TRUE(platform::InMainExecutable(
        platform::FromMapAddress(reinterpret_cast<std::uintptr_t>(FAddress))))
        << "the address is this program's call into the library";

    const std::string expectedRest = "\r\nMessage: " + FDescription +
                                     "\r\n======\r\n"
                                     "EXE file name: " +
                                     Application->ExeName() +
                                     "\r\n"
                                     "Application Title:Orders" +
                                     Parameters() +
                                     "\r\n======\r\n"
                                     "Active Form: frmMain, Orders\r\n"
                                     "Active Control: edtCustomer"
                                     "\r\n======\r\n"
                                     "Computer: PC7\r\n"
                                     "User Name: ann"
                                     "\r\n======\r\n"
                                     "?";
    EXPECT_EQ(log.substr(lineEnd), expectedRest);
    EXPECT_NE(FDescription.find("'12,5x' is not a valid floating point value."), std::string::npos)
        << FDescription;
    EXPECT_EQ(Shown("ShowModal"),
              (std::vector<std::string>{"ShowModal TfrmJexLogErrorDialog frmJexLogErrorDialog"}));
}

TEST_F(TJexExceptionLogReportTest, MapBesideTheProgramPutsTheSourcePositionIntoLogAndDialog) {
    if (platform::FunctionRangeOf(reinterpret_cast<std::uintptr_t>(&LockOrder)).Begin == 0)
        GTEST_SKIP() << "the test program has no symbol table";
    const std::string mapPath = FTemp.File("exceptions_tests.map");
    jex::test::WriteFileBytes(mapPath, MapCovering(reinterpret_cast<const void*>(&LockOrder)));
    FLogger->MapFile().SetMapFileName(mapPath);
    FLogger->SetFormats({lfExceptionClassName, lfSourceLine});
    FLogger->SetOptions(DefaultOptions + TJexLAOptions{laShowSourceLine});
    std::vector<std::string> dialogLines;
    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable([&](TCustomForm* F) {
        auto* dialog = dynamic_cast<TfrmJexLogErrorDialog*>(F);
        ASSERT_NE(dialog, nullptr);
        for (int i = 0; i < dialog->lblErrorText->Lines()->Count(); ++i)
            dialogLines.push_back(dialog->lblErrorText->Lines()->Strings(i));
        F->SetModalResult(mrOk);
    }));
    RunFailing([] { LockOrder(); });
    const std::string position =
        "\r\nUnit: Orders\r\nProcedure: TfrmMain.btnGoClick\r\nLine No: 118";
    EXPECT_EQ(LogText(), "\r\nClassname: EInvalidOperation" + position + "?");
    EXPECT_EQ(dialogLines,
              (std::vector<std::string>{"Order is locked", "Unit: Orders",
                                        "Procedure: TfrmMain.btnGoClick", "Line No: 118"}));

    // The dialog alone may ask for the position: the map is consulted, the log gets none.
    FLogger->SetFormats({lfExceptionClassName});
    dialogLines.clear();
    RunFailing([] { LockOrder(); });
    EXPECT_EQ(LogText(), "\r\nClassname: EInvalidOperation" + position + "?" +
                             "\r\nClassname: EInvalidOperation?");
    EXPECT_EQ(dialogLines.size(), 4u);

    // Without laShowSourceLine the dialog shows the message alone.
    FLogger->SetFormats({lfSourceLine});
    FLogger->SetOptions(DefaultOptions);
    dialogLines.clear();
    RunFailing([] { LockOrder(); });
    EXPECT_EQ(dialogLines, (std::vector<std::string>{"Order is locked"}));
}

TEST_F(TJexExceptionLogReportTest, CallStackStartsAtTheThrowAndComesLastBeforeTheSeparator) {
    if (platform::FunctionRangeOf(reinterpret_cast<std::uintptr_t>(&LockOrder)).Begin == 0)
        GTEST_SKIP() << "the test program has no symbol table";
    const std::string mapPath = FTemp.File("exceptions_tests.map");
    jex::test::WriteFileBytes(mapPath, MapCovering(reinterpret_cast<const void*>(&LockOrder)));
    FLogger->MapFile().SetMapFileName(mapPath);
    FLogger->SetFormats({lfCallStack, lfSeparator, lfSourceLine});
    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable(
        [](TCustomForm* F) { F->SetModalResult(mrOk); }));
    RunFailing([] { LockOrder(); });
    const std::string log = LogText();
    // The source section, then the frames, then the separator and the closing mark.
    const std::string position =
        "\r\nUnit: Orders\r\nProcedure: TfrmMain.btnGoClick\r\nLine No: 118";
    const std::string header = position + "\r\n======\r\nCall stack:\r\n";
    const std::string tail = "\r\n======\r\n?";
    ASSERT_EQ(log.rfind(header, 0), 0u) << log;
    ASSERT_EQ(log.substr(log.size() - tail.size()), tail) << log;
    const std::string frames = log.substr(header.size(), log.size() - tail.size() - header.size());
    const std::string first = frames.substr(0, frames.find("\r\n"));
    // The throw itself, resolved by the map without changing the source section's lookup.
    EXPECT_EQ(first, Format("%p", {FAddress}) + " Orders, TfrmMain.btnGoClick, line 118") << log;
    EXPECT_GE(std::count(frames.begin(), frames.end(), '\n'), 3) << "the callers follow";

    // Not in the default set: a report without it is unchanged.
    EXPECT_FALSE(DefaultFormats.Contains(lfCallStack));
}

TEST_F(TJexExceptionLogReportTest, MissingMapGivesTheLeadingLineBreakOnly) {
    FLogger->SetFormats({lfSourceLine});
    RunFailing([] { LockOrder(); });
    EXPECT_EQ(LogText(), "\r\n?");
    EXPECT_TRUE(FLogger->MapFile().DataLoaded());
}

// Run by the next test in a child process with parameters of its own.
TEST_F(TJexExceptionLogReportTest, ChildWritesItsApplicationDetails) {
    const char* out = std::getenv("JEX_EXCEPTIONS_CHILD_OUT");
    if (out == nullptr)
        GTEST_SKIP() << "only run as the child of ParametersFollowTheTitleOnePerLine";
    jex::test::WriteFileBytes(out, FLogger->GetApplicationDetails());
}

TEST_F(TJexExceptionLogReportTest, ParametersFollowTheTitleOnePerLine) {
    const std::string exe = ParamStr(0);
    const std::string out = FTemp.File("child.txt");
    const std::string filter =
        "--gtest_filter=TJexExceptionLogReportTest.ChildWritesItsApplicationDetails";
    std::vector<std::string> args = {exe, filter, "alpha", "beta gamma"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    env.push_back("JEX_EXCEPTIONS_CHILD_OUT=" + out);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(jex::test::ReadFileBytes(out), "\r\n======\r\nEXE file name: " + exe +
                                                 "\r\nApplication Title:Orders"
                                                 "\r\nParameters: \r\n" +
                                                 filter + "\r\nalpha\r\nbeta gamma");
}
