// tests/exceptions/LogErrorFatalTest.cpp - faults, abort() and std::terminate in a real child
// program (tests/exceptions/faults) whose exception logger writes to a log of the test's own:
// every crash leaves exactly one report naming class, unit, procedure and line of the child's
// code, and ends with the signal the crash calls for; a fault in a message handler on the main
// thread is logged and the loop goes on.
//
// Sanitizers: the child installs its handlers after AddressSanitizer has installed its own, so
// the child's take over SIGSEGV, SIGBUS and SIGFPE (AddressSanitizer lets a program replace them)
// and AddressSanitizer still checks every access; the child is built without
// UndefinedBehaviorSanitizer, which would report the null access and the division itself and
// exit before the fault happens.
#include "exceptions/LogErrorFatal.h"

#include "ExceptionLogFixture.h"
#include "exceptions/CrashSignature.h"
#include "platform/FaultSignals.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

using jex::test::RunWatchedChild;
using jex::test::TChildOutcome;

const std::string FaultUnitSource = JEX_SOURCE_DIR "/tests/exceptions/faults/FaultUnit.cpp";

// The line of FaultUnit.cpp that holds AMarker; 0 when none does.
int LineOf(const std::string& AMarker) {
    std::ifstream source(FaultUnitSource);
    std::string line;
    for (int number = 1; std::getline(source, line); ++number)
        if (line.find(AMarker) != std::string::npos)
            return number;
    return 0;
}

std::string SourceBlock(const std::string& AProcedure, int ALine) {
    return "\r\nUnit: FaultUnit\r\nProcedure: " + AProcedure +
           "\r\nLine No: " + std::to_string(ALine);
}

std::size_t Count(const std::string& AText, const std::string& APart) {
    std::size_t count = 0;
    for (std::size_t at = AText.find(APart); at != std::string::npos;
         at = AText.find(APart, at + APart.size()))
        ++count;
    return count;
}

struct TCrash {
    const char* Scenario;
    int Signal;
    const char* ClassName;
    const char* Message;
    const char* Procedure;
};

class FatalReportTest : public ::testing::Test {
protected:
    TChildOutcome Run(const std::string& AScenario) {
        return RunWatchedChild({FAULT_CHILD_PROGRAM, AScenario, FDir.File("faults.log")});
    }

    std::string Log() const { return jex::test::ReadFileBytes(FDir.File("faults.log")); }

    // Runs each crash in a fresh log: exactly one report of its class, message and position,
    // and the child ends with its signal.
    void ExpectReports(std::initializer_list<TCrash> ACrashes) {
        for (const TCrash& crash : ACrashes) {
            SCOPED_TRACE(crash.Scenario);
            std::remove(FDir.File("faults.log").c_str());
            const TChildOutcome outcome = Run(crash.Scenario);
            ASSERT_FALSE(outcome.TimedOut) << "the crash handler hung";
            EXPECT_TRUE(outcome.Signalled) << outcome.Errors;
            EXPECT_EQ(outcome.Signal, crash.Signal) << outcome.Errors;
            const std::string log = Log();
            EXPECT_EQ(Count(log, "\r\nClassname: "), 1u) << log;
            EXPECT_NE(log.find(std::string("\r\nClassname: ") + crash.ClassName + "\r\n"),
                      std::string::npos)
                << log;
            EXPECT_NE(log.find(std::string("\r\nMessage: Exception ") + crash.ClassName +
                               " in module fault_child at "),
                      std::string::npos)
                << log;
            EXPECT_NE(log.find(crash.Message), std::string::npos) << log;
            const std::string procedure = crash.Procedure;
            const int line = LineOf("fault-line: " + procedure.substr(0, procedure.find('(')));
            ASSERT_GT(line, 0);
            EXPECT_NE(log.find(SourceBlock(crash.Procedure, line)), std::string::npos) << log;
            EXPECT_EQ(log.back(), '?');
        }
    }

    // Runs a child whose button handler faults: the fault is logged as AClassName from
    // AProcedure, and the loop handles the next message.
    void ExpectLoggedAndLoopGoesOn(const std::string& AScenario, const std::string& AClassName,
                                   const std::string& AProcedure) {
        const TChildOutcome outcome = Run(AScenario);
        ASSERT_FALSE(outcome.TimedOut);
        EXPECT_TRUE(outcome.Exited) << outcome.Errors;
        EXPECT_EQ(outcome.ExitCode, 0);
        const std::string log = Log();
        EXPECT_NE(log.find("\r\nClassname: " + AClassName + "\r\n"), std::string::npos) << log;
        const int line = LineOf("fault-line: " + AProcedure.substr(0, AProcedure.find('(')));
        EXPECT_NE(log.find(SourceBlock(AProcedure, line)), std::string::npos) << log;
        EXPECT_NE(log.find("?\r\nnext message handled"), std::string::npos) << log;
    }

    jex::test::TempDir FDir;
};

TEST_F(FatalReportTest, EveryCrashLeavesOneReportOfItsClassAndPositionAndEndsWithItsSignal) {
    ExpectReports({
        {"null-read", SIGSEGV, "EAccessViolation", ". Read of address 00000000.",
         "ReadThroughNull()"},
        {"null-write", SIGSEGV, "EAccessViolation", ". Write of address 00000000.",
         "WriteThroughNull()"},
        {"divide", SIGFPE, "EDivByZero", "\r\nDivision by zero.", "DivideByZero()"},
        {"worker-fault", SIGSEGV, "EAccessViolation", ". Write of address 00000000.",
         "WriteThroughNull()"},
        {"allocator-held", SIGSEGV, "EAccessViolation", ". Read of address 00000000.",
         "ReadThroughNull()"},
        {"abort", SIGABRT, "EExternalException", "\r\nExternal exception 600.", "CallAbort()"},
        {"noexcept-fault", SIGABRT, "EAccessViolation", ". Write of address 00000000.",
         "FaultInNoexcept()"},
        {"worker-exception", SIGABRT, "std::runtime_error", "\r\nworker failed.",
         "ThrowInWorker()"},
    });
}

TEST_F(FatalReportTest, AnAbortSentByAnotherProcessIsReportedAndStillEndsTheProcess) {
    const TChildOutcome outcome = Run("sent-abort");
    ASSERT_FALSE(outcome.TimedOut);
    EXPECT_TRUE(outcome.Signalled) << "the child went on after the report: " << outcome.Errors;
    EXPECT_EQ(outcome.Signal, SIGABRT);
    EXPECT_EQ(Count(Log(), "\r\nClassname: "), 1u) << Log();
}

// Linux delivers a privileged instruction in user mode as SIGSEGV (a general-protection fault),
// so that is the signal the child ends with once the report is written.
TEST_F(FatalReportTest, FloatingPointAndPrivilegedInstructionFaultsAreReportedByTheirClass) {
    ExpectReports({
        {"float-divide", SIGFPE, "EZeroDivide", "\r\nFloating point division by zero.",
         "FloatDivideByZero()"},
        {"float-invalid", SIGFPE, "EInvalidOp", "\r\nInvalid floating point operation.",
         "FloatInvalid()"},
        {"float-overflow", SIGFPE, "EOverflow", "\r\nFloating point overflow.", "FloatOverflow()"},
        {"float-underflow", SIGFPE, "EUnderflow", "\r\nFloating point underflow.",
         "FloatUnderflow()"},
        {"privileged", SIGSEGV, "EPrivilege", "\r\nPrivileged instruction.", "ExecutePrivileged()"},
    });
}

TEST_F(FatalReportTest, MaskedUnderflowGivesZeroAndNoReport) {
    const TChildOutcome outcome = Run("float-underflow-masked");
    ASSERT_FALSE(outcome.TimedOut);
    EXPECT_TRUE(outcome.Exited) << outcome.Errors;
    EXPECT_EQ(outcome.ExitCode, 0);
    EXPECT_EQ(Log().find("Classname: "), std::string::npos) << Log();
}

TEST_F(FatalReportTest, FloatingPointAndPrivilegedFaultsInAHandlerAreLoggedAndTheLoopGoesOn) {
    {
        SCOPED_TRACE("loop-float");
        ExpectLoggedAndLoopGoesOn("loop-float", "EZeroDivide", "FloatDivideByZero()");
    }
    std::remove(FDir.File("faults.log").c_str());
    {
        SCOPED_TRACE("loop-privileged");
        ExpectLoggedAndLoopGoesOn("loop-privileged", "EPrivilege", "ExecutePrivileged()");
    }
}

class StackOverflowTest : public FatalReportTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(StackOverflowTest, StackOverflowIsReportedFromTheRecursingProcedure) {
    const TChildOutcome outcome = Run(GetParam());
    ASSERT_FALSE(outcome.TimedOut) << "the crash handler hung";
    EXPECT_TRUE(outcome.Signalled);
    EXPECT_EQ(outcome.Signal, SIGSEGV);
    const std::string log = Log();
    EXPECT_EQ(Count(log, "\r\nClassname: "), 1u) << log.substr(0, 2000);
    EXPECT_NE(log.find("\r\nClassname: EStackOverflow\r\n"), std::string::npos);
    EXPECT_NE(log.find(".\r\nStack overflow.\r\n"), std::string::npos);
    const std::string procedure = "\r\nUnit: FaultUnit\r\nProcedure: Recurse(int)\r\nLine No: ";
    const std::size_t at = log.find(procedure);
    ASSERT_NE(at, std::string::npos) << log.substr(0, 2000);
    const int line = std::stoi(log.substr(at + procedure.size()));
    EXPECT_GT(line, LineOf("recursion-begin"));
    EXPECT_LT(line, LineOf("recursion-end"));
}

// On the main thread and on a TThread worker, each with its own alternate signal stack.
INSTANTIATE_TEST_SUITE_P(MainThreadAndWorker, StackOverflowTest,
                         ::testing::Values("stack-overflow", "worker-stack-overflow"));

TEST_F(FatalReportTest, CallStackNamesTheFaultingFrameFirstAndItsCallers) {
    const TChildOutcome outcome = Run("null-read");
    ASSERT_FALSE(outcome.TimedOut);
    const std::string log = Log();
    const std::size_t stack = log.find("\r\n======\r\nCall stack:\r\n");
    ASSERT_NE(stack, std::string::npos) << log;
    const std::string first = log.substr(stack + 25, log.find("\r\n", stack + 25) - stack - 25);
    EXPECT_NE(first.find(" FaultUnit, ReadThroughNull(), line " +
                         std::to_string(LineOf("fault-line: ReadThroughNull"))),
              std::string::npos)
        << first;
    EXPECT_NE(log.find(" FaultChild, main, line "), std::string::npos) << log;
}

TEST_F(FatalReportTest, FaultInAButtonHandlerIsLoggedAndTheLoopGoesOn) {
    const TChildOutcome outcome = Run("loop");
    ASSERT_FALSE(outcome.TimedOut);
    EXPECT_TRUE(outcome.Exited) << outcome.Errors;
    EXPECT_EQ(outcome.ExitCode, 0);
    const std::string log = Log();
    EXPECT_NE(log.find("\r\nClassname: EAccessViolation\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(SourceBlock("ReadThroughNull()", LineOf("fault-line: ReadThroughNull"))),
              std::string::npos)
        << log;
    // The report's address is the faulting instruction, the one the access violation names.
    const std::size_t at = log.find("Access violation at address ");
    ASSERT_NE(at, std::string::npos);
    const unsigned long address = std::stoul(log.substr(at + 28, 8), nullptr, 16);
    char offset[16];
    std::snprintf(offset, sizeof offset, "%08lX", address - 0x00400000);
    EXPECT_NE(log.find(std::string(" in module fault_child at ") + offset + ".\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("?\r\nnext message handled"), std::string::npos) << log;
}

TEST_F(FatalReportTest, FaultTurnedAwayByTheFilterIsNotLoggedAndTheLoopGoesOn) {
    const TChildOutcome outcome = Run("loop-filtered");
    ASSERT_FALSE(outcome.TimedOut);
    EXPECT_TRUE(outcome.Exited) << outcome.Errors;
    EXPECT_EQ(outcome.ExitCode, 0);
    const std::string log = Log();
    EXPECT_EQ(log, "\r\nnext message handled");
    // Shown by the application's standard display instead.
    EXPECT_NE(outcome.Errors.find("Access violation at address"), std::string::npos)
        << outcome.Errors;
}

} // namespace

// ---- The report composed in this process, from faults described by hand ---------------------

namespace {

using host::FormatDateTime;
using jex::TJexExceptionLog;
using jex::TJexFatalReport;

class FatalReportComposeTest : public jex::test::TExceptionLogFixture {
protected:
    void TearDown() override {
        if (TJexFatalReport::Instance().Logger() != nullptr)
            TJexFatalReport::Instance().Detach(TJexFatalReport::Instance().Logger(), nullptr);
        platform::UninstallFaultHandlers();
        TExceptionLogFixture::TearDown();
    }

    // A logger with AFormats that the fatal report is attached to.
    TJexExceptionLog* Attached(jex::TJexLFormats AFormats) {
        TJexExceptionLog* logger = NewLogger(host::Application);
        logger->SetFormats(AFormats);
        TJexFatalReport::Instance().Attach(logger);
        return logger;
    }

    static std::string Compose(const platform::TFaultInfo& AFault) {
        return std::string(TJexFatalReport::Instance().Compose(AFault));
    }
};

// An address inside the hosting library's code, with the module the loader knows it by.
struct TLibraryAddress {
    std::uintptr_t Address = 0;
    std::string Module;
    std::uintptr_t Offset = 0;
};

TLibraryAddress HostLibraryAddress() {
    TLibraryAddress result;
    const auto address = reinterpret_cast<std::uintptr_t>(&host::FormatSettings) + 4;
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(address), &info) == 0 || info.dli_fname == nullptr)
        return result;
    const std::string path = info.dli_fname;
    result.Address = address;
    result.Module = path.substr(path.rfind('/') + 1);
    result.Offset = address - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    return result;
}

std::string Hex8(std::uintptr_t AValue) {
    char text[24];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(AValue));
    return text;
}

TEST_F(FatalReportComposeTest, DateAndTimeAreWrittenAsFormatDateTimeWritesThemForTheLocale) {
    struct TPatterns {
        const char* Date;
        const char* Time;
    };

    // Separators other than ":" after the hour, am/pm in upper case and quoted text included.
    const TPatterns patterns[] = {
        {"dd/mm/yyyy", "hh:nn:ss"},           {"d/m/yy", "h:mm:ss AM/PM"},
        {"ddd d mmm yyyy", "hh.mm.ss"},       {"dddd, mmmm d", "h:mm a/p"},
        {"'day' d \"of\" mmmm", "h mm AMPM"}, {"yy/m/d", "t"},
    };
    for (const TPatterns& pattern : patterns) {
        SCOPED_TRACE(std::string(pattern.Date) + " " + pattern.Time);
        host::TFormatSettings& settings = host::FormatSettings();
        settings.ShortDateFormat = pattern.Date;
        settings.LongTimeFormat = pattern.Time;
        settings.ShortTimeFormat = "hh:nn";
        Attached({jex::lfDate, jex::lfTime});
        const platform::TFaultInfo fault;
        // A second may pass between the report and the expected text; one of three tries is
        // within one second.
        bool matched = false;
        std::string report;
        std::string expected;
        for (int attempt = 0; attempt < 3 && !matched; ++attempt) {
            const auto now = host::Now();
            expected =
                FormatDateTime(pattern.Date, now) + " " + FormatDateTime(pattern.Time, now) + " ?";
            report = Compose(fault);
            matched = report == expected;
        }
        EXPECT_TRUE(matched) << "report " << report << ", FormatDateTime " << expected;
    }
}

TEST_F(FatalReportComposeTest, TerminateNamesTheExceptionBeingHandledOrSaysThereWasNone) {
    Attached({jex::lfExceptionClassName, jex::lfMessage});
    platform::TFaultInfo fault;
    fault.Kind = platform::fkTerminate;
    fault.Signal = SIGABRT;
    const std::string none = Compose(fault);
    EXPECT_NE(none.find("\r\nClassname: EExternalException\r\n"), std::string::npos) << none;
    EXPECT_NE(none.find(".\r\nTerminated without an exception being handled.\r\n"),
              std::string::npos)
        << none;

    try {
        throw std::runtime_error("disk full");
    } catch (...) {
        const std::string handled = Compose(fault);
        EXPECT_NE(handled.find("\r\nClassname: std::runtime_error\r\n"), std::string::npos)
            << handled;
        EXPECT_NE(handled.find(".\r\ndisk full.\r\n"), std::string::npos) << handled;
    }
}

TEST_F(FatalReportComposeTest, FaultOutsideTheProgramNamesTheLibraryAndTheOffsetInIt) {
    const TLibraryAddress library = HostLibraryAddress();
    if (library.Address == 0 || library.Module.find(".so") == std::string::npos)
        GTEST_SKIP() << "the host layer is linked into the test program";
    Attached({jex::lfPhysAddress, jex::lfMessage});
    platform::TFaultInfo fault;
    fault.Kind = platform::fkAccessViolation;
    fault.Signal = SIGSEGV;
    fault.Address = library.Address;
    const std::string report = Compose(fault);
    EXPECT_EQ(report.rfind("Phys.addr: " + Hex8(library.Address) + " ", 0), 0u) << report;
    EXPECT_NE(report.find("\r\nMessage: Exception EAccessViolation in module " + library.Module +
                          " at " + Hex8(library.Offset & 0xFFFFFFFFu) + ".\r\n"),
              std::string::npos)
        << report;
}

TEST_F(FatalReportComposeTest, EnvironmentSectionsAndSignatureAreTheOrdinaryReportsOnes) {
    TJexExceptionLog* logger =
        Attached({jex::lfExceptionClassName, jex::lfSourceLine, jex::lfApplication,
                  jex::lfComputerInfo, jex::lfOSInfo, jex::lfSignature, jex::lfSeparator});
    platform::TFaultInfo fault;
    fault.Kind = platform::fkIntDivide;
    fault.Signal = SIGFPE;
    const std::string report = Compose(fault);
    const jex::TCrashSignature signature = jex::CrashSignature("EDivByZero", "", "");
    // The map cannot be read: the source section is its line break alone.
    EXPECT_EQ(report, "\r\nClassname: EDivByZero\r\n" + logger->GetApplicationDetails() +
                          logger->GetComputerInfo() + logger->GetOSInfo() + "\r\nSignature: " +
                          std::string(jex::SignatureText(signature)) + "\r\n======\r\n?");
}

TEST_F(FatalReportComposeTest, ReportGoesToTheFallbackWhenItsLoggerGoesAndToNoneAfterTheLast) {
    TJexExceptionLog* first = NewLogger(host::Application);
    TJexExceptionLog* second = NewLogger(host::Application);
    second->SetLogFile(FTemp.File("second.log"));
    TJexFatalReport& report = TJexFatalReport::Instance();
    report.Attach(second);

    // Only the logger the report belongs to can take it away.
    report.Detach(first, nullptr);
    EXPECT_EQ(report.Logger(), second);
    report.Detach(second, first);
    EXPECT_EQ(report.Logger(), first);

    platform::TFaultInfo fault;
    fault.Kind = platform::fkAccessViolation;
    report.Write(fault);
    EXPECT_NE(LogText().find("EAccessViolation"), std::string::npos) << LogText();
    EXPECT_FALSE(std::filesystem::exists(FTemp.File("second.log")));

    report.Detach(first, nullptr);
    EXPECT_EQ(report.Logger(), nullptr);
    std::filesystem::remove(LogPath());
    report.Write(fault);
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(FatalReportComposeTest, LoggerWithoutALogFileWritesNothing) {
    TJexExceptionLog* logger = Attached(jex::DefaultFormats);
    logger->SetLogFile("");
    platform::TFaultInfo fault;
    TJexFatalReport::Instance().Write(fault);
    EXPECT_TRUE(std::filesystem::is_empty(FTemp.Path()));
}

} // namespace
