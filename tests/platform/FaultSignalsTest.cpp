// tests/platform/FaultSignalsTest.cpp - telling a privileged instruction from an access through
// a bad address, which Linux both delivers as SIGSEGV; the kind and code each signal is reported
// with; installing and removing the handlers; a worker thread's own signal stack; the fatal
// record appended to a log another writer holds.
#include "platform/FaultSignals.h"

#include "platform/linux/FileLock.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <exception>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct TInstruction {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
};

// The decoder must read no byte past the instruction: each case is padded with nothing.
bool Privileged(const TInstruction& AInstruction) {
    return platform::IsPrivilegedInstruction(AInstruction.Bytes.data());
}

} // namespace

TEST(FaultSignalsTest, KernelOnlyInstructionsArePrivilegedAlsoBehindPrefixes) {
    const TInstruction privileged[] = {
        {"hlt", {0xF4}},
        {"cli", {0xFA}},
        {"sti", {0xFB}},
        {"in al, 0x60", {0xE4, 0x60}},
        {"out dx, al", {0xEE}},
        {"rep outsb", {0xF3, 0x6E}},
        {"in ax, dx (operand-size prefix)", {0x66, 0xED}},
        {"wrmsr", {0x0F, 0x30}},
        {"rdmsr", {0x0F, 0x32}},
        {"mov rax, cr0", {0x0F, 0x20, 0xC0}},
        {"mov cr3, rax (REX.W)", {0x48, 0x0F, 0x22, 0xD8}},
        {"mov rax, dr7", {0x0F, 0x21, 0xF8}},
        {"invd", {0x0F, 0x08}},
        {"wbinvd", {0x0F, 0x09}},
        {"clts", {0x0F, 0x06}},
        {"lgdt [rax]", {0x0F, 0x01, 0x10}},
        {"lidt [rax]", {0x0F, 0x01, 0x18}},
        {"invlpg [rax]", {0x0F, 0x01, 0x38}},
        {"lmsw ax", {0x0F, 0x01, 0xF0}},
        {"swapgs", {0x0F, 0x01, 0xF8}},
        {"lldt ax", {0x0F, 0x00, 0xD0}},
        {"ltr ax", {0x0F, 0x00, 0xD8}},
    };
    for (const TInstruction& instruction : privileged)
        EXPECT_TRUE(Privileged(instruction)) << instruction.Name;
}

TEST(FaultSignalsTest, OrdinaryInstructionsThatMayFaultOnABadAddressAreNotPrivileged) {
    const TInstruction ordinary[] = {
        {"mov eax, [rax]", {0x8B, 0x00}},
        {"mov [rax], eax (REX)", {0x48, 0x89, 0x00}},
        {"call [rax]", {0xFF, 0x10}},
        {"ret", {0xC3}},
        {"ud2", {0x0F, 0x0B}},
        {"rdtsc", {0x0F, 0x31}},
        {"cpuid", {0x0F, 0xA2}},
        {"sgdt [rax]", {0x0F, 0x01, 0x00}},
        {"xgetbv", {0x0F, 0x01, 0xD0}},
        {"rdtscp", {0x0F, 0x01, 0xF9}},
        {"sldt ax", {0x0F, 0x00, 0xC0}},
        {"lock add [rax], eax", {0xF0, 0x01, 0x00}},
        {"fs mov rax, [rax]", {0x64, 0x48, 0x8B, 0x00}},
    };
    for (const TInstruction& instruction : ordinary)
        EXPECT_FALSE(Privileged(instruction)) << instruction.Name;
    EXPECT_FALSE(platform::IsPrivilegedInstruction(nullptr));
}

namespace {

stack_t CurrentSignalStack() {
    stack_t current{};
    sigaltstack(nullptr, &current);
    return current;
}

} // namespace

TEST(FaultSignalsTest, ThreadSignalStackReplacesTheThreadsStackAndPutsItBack) {
    std::thread([] {
        // A stack of someone else's, as a sanitizer sets up for each thread.
        static char foreign[64 * 1024];
        stack_t theirs{};
        theirs.ss_sp = foreign;
        theirs.ss_size = sizeof foreign;
        ASSERT_EQ(sigaltstack(&theirs, nullptr), 0);
        {
            const platform::TThreadSignalStack own;
            const stack_t during = CurrentSignalStack();
            EXPECT_NE(during.ss_sp, static_cast<void*>(foreign));
            EXPECT_GE(during.ss_size, 64u * 1024u);
            EXPECT_EQ(during.ss_flags & SS_DISABLE, 0);
            // A second one on the same thread leaves the first in place.
            const platform::TThreadSignalStack nested;
            EXPECT_EQ(CurrentSignalStack().ss_sp, during.ss_sp);
        }
        const stack_t after = CurrentSignalStack();
        EXPECT_EQ(after.ss_sp, static_cast<void*>(foreign));
        EXPECT_EQ(after.ss_size, sizeof foreign);
        stack_t none{};
        none.ss_flags = SS_DISABLE;
        sigaltstack(&none, nullptr);
    }).join();
}

TEST(FaultSignalsTest, ThreadWithoutASignalStackHasNoneAgainAfterwards) {
    std::thread([] {
        stack_t none{};
        none.ss_flags = SS_DISABLE;
        ASSERT_EQ(sigaltstack(&none, nullptr), 0);
        {
            const platform::TThreadSignalStack own;
            EXPECT_EQ(CurrentSignalStack().ss_flags & SS_DISABLE, 0);
        }
        EXPECT_NE(CurrentSignalStack().ss_flags & SS_DISABLE, 0);
    }).join();
}

TEST(FaultSignalsTest, EachSignalAndCodeIsReportedAsTheKindOfFaultItStandsFor) {
    using namespace platform;

    struct TCase {
        int Signal;
        int Code;
        bool Overflow;
        TFaultKind Kind;
    };

    const TCase cases[] = {
        {SIGSEGV, SEGV_MAPERR, false, fkAccessViolation},
        {SIGSEGV, SEGV_ACCERR, true, fkStackOverflow},
        {SIGBUS, BUS_ADRERR, false, fkAccessViolation},
        {SIGFPE, FPE_INTDIV, false, fkIntDivide},
        {SIGFPE, FPE_INTOVF, false, fkIntOverflow},
        {SIGFPE, FPE_FLTDIV, false, fkFloatDivide},
        {SIGFPE, FPE_FLTOVF, false, fkFloatOverflow},
        {SIGFPE, FPE_FLTUND, false, fkFloatUnderflow},
        {SIGFPE, FPE_FLTINV, false, fkFloatInvalid},
        {SIGFPE, FPE_FLTRES, false, fkFloatInvalid},
        {SIGILL, ILL_PRVOPC, false, fkPrivilege},
        {SIGILL, ILL_PRVREG, false, fkPrivilege},
        {SIGILL, ILL_ILLOPC, false, fkExternal},
        {SIGABRT, SI_TKILL, false, fkExternal},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ClassifyFault(c.Signal, c.Code, c.Overflow), c.Kind)
            << "signal " << c.Signal << " code " << c.Code;
}

TEST(FaultSignalsTest, AnExternalExceptionsCodeIsTheSignalAndTheKernelsCode) {
    EXPECT_EQ(platform::ExternalExceptionCode(SIGILL, ILL_ILLOPC), 0x401u);
    // Codes of signals someone sent (zero or negative) carry nothing.
    EXPECT_EQ(platform::ExternalExceptionCode(SIGBUS, SI_USER), 0x700u);
    EXPECT_EQ(platform::ExternalExceptionCode(SIGABRT, SI_TKILL), 0x600u);
}

namespace {

struct sigaction CurrentAction(int ASignal) {
    struct sigaction action {};

    sigaction(ASignal, nullptr, &action);
    return action;
}

void NoReport(const platform::TFaultInfo&) noexcept {}

} // namespace

TEST(FaultSignalsTest, UninstallingPutsBackWhatWasThereBeforeEvenAfterASecondInstall) {
    ASSERT_FALSE(platform::FaultHandlersInstalled());
    const int signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    std::vector<struct sigaction> before;
    for (int s : signals)
        before.push_back(CurrentAction(s));
    const std::terminate_handler terminateBefore = std::get_terminate();

    platform::InstallFaultHandlers({nullptr, &NoReport});
    platform::InstallFaultHandlers({nullptr, &NoReport}); // replaces the handlers only
    EXPECT_TRUE(platform::FaultHandlersInstalled());
    for (int s : signals) {
        const struct sigaction during = CurrentAction(s);
        EXPECT_NE(during.sa_flags & SA_SIGINFO, 0) << s;
        EXPECT_NE(during.sa_flags & SA_ONSTACK, 0) << s;
    }
    EXPECT_NE(std::get_terminate(), terminateBefore);

    platform::UninstallFaultHandlers();
    platform::UninstallFaultHandlers(); // nothing left to put back
    EXPECT_FALSE(platform::FaultHandlersInstalled());
    for (std::size_t i = 0; i < std::size(signals); ++i) {
        // The handler is one union for both kinds of action.
        const struct sigaction after = CurrentAction(signals[i]);
        EXPECT_EQ(after.sa_sigaction, before[i].sa_sigaction) << signals[i];
        EXPECT_EQ(after.sa_flags & SA_SIGINFO, before[i].sa_flags & SA_SIGINFO) << signals[i];
    }
    EXPECT_EQ(std::get_terminate(), terminateBefore);
}

TEST(FaultSignalsTest, AFatalRecordIsAppendedToTheLogAndCreatesItWhenMissing) {
    const jex::test::TempDir dir;
    const std::string log = dir.File("app.log");
    const std::string first = "first record\n";
    const std::string second = "fatal record\n";
    ASSERT_TRUE(platform::AppendFatalRecord(log.c_str(), first.data(), first.size()));
    ASSERT_TRUE(platform::AppendFatalRecord(log.c_str(), second.data(), second.size()));
    EXPECT_EQ(jex::test::ReadFileBytes(log), first + second);
    // Nothing to write to: no log named, or its folder gone.
    EXPECT_FALSE(platform::AppendFatalRecord(nullptr, first.data(), first.size()));
    EXPECT_FALSE(platform::AppendFatalRecord("", first.data(), first.size()));
    EXPECT_FALSE(
        platform::AppendFatalRecord(dir.File("gone/app.log").c_str(), first.data(), first.size()));
    EXPECT_FALSE(platform::AppendFatalRecord(dir.Path().c_str(), first.data(), first.size()));
}

TEST(FaultSignalsTest, AFatalRecordIsWrittenAfterABoundedWaitWhileAnotherWriterHoldsTheLog) {
    const jex::test::TempDir dir;
    const std::string log = dir.File("app.log");
    jex::test::WriteFileBytes(log, "kept\n");
    // Another stream writing the log in the loggers' own mode, denying writes to others.
    const int holder = ::open(log.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(platform::LockShare(holder, platform::fsReadWrite, platform::fsRead),
              platform::flGranted);
    const std::string record = "fatal record\n";
    // The process is about to die: the record goes in rather than being lost.
    EXPECT_TRUE(platform::AppendFatalRecord(log.c_str(), record.data(), record.size()));
    ::close(holder);
    EXPECT_EQ(jex::test::ReadFileBytes(log), "kept\n" + record);
}
