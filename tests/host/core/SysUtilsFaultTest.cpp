// tests/host/core/SysUtilsFaultTest.cpp - a hardware fault as the framework's exception: the
// class thrown for each kind, the class name the fatal report writes for it, and the messages.
#include "host/core/SysUtilsFault.h"

#include "host/core/System.h"
#include "platform/ProcessImage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>

using namespace host;

namespace {

[[gnu::noinline]] void FaultingFunction() {
    asm volatile("");
}

platform::TFaultInfo Fault(platform::TFaultKind AKind, int ASignal = SIGFPE, int ACode = 0) {
    platform::TFaultInfo fault;
    fault.Kind = AKind;
    fault.Signal = ASignal;
    fault.Code = ACode;
    fault.Address = reinterpret_cast<std::uintptr_t>(&FaultingFunction);
    fault.Frames[0] = fault.Address;
    fault.FrameCount = 1;
    return fault;
}

std::string Message(const platform::TFaultInfo& AFault) {
    char buffer[256];
    const std::size_t length = FaultMessage(AFault, buffer, sizeof buffer);
    return std::string(buffer, length);
}

// Raises AFault and checks it arrives as E (and so as each of its bases), with the class name
// the fatal report would write for the same fault; returns the message.
template <typename E>
std::string RaisedAs(const platform::TFaultInfo& AFault) {
    try {
        RaiseFault(AFault);
    } catch (const E& e) {
        EXPECT_EQ(e.ClassName(), FaultClassName(AFault.Kind));
        EXPECT_EQ(e.Message(), Message(AFault));
        return e.Message();
    } catch (const Exception& e) {
        ADD_FAILURE() << "raised as " << e.ClassName() << ": " << e.Message();
    }
    return {};
}

} // namespace

TEST(SysUtilsFaultTest, EachKindOfFaultIsRaisedAsItsOwnClassWithItsMessage) {
    EXPECT_EQ(RaisedAs<EDivByZero>(Fault(platform::fkIntDivide)), "Division by zero");
    EXPECT_EQ(RaisedAs<EIntOverflow>(Fault(platform::fkIntOverflow)), "Integer overflow");
    EXPECT_EQ(RaisedAs<EInvalidOp>(Fault(platform::fkFloatInvalid)),
              "Invalid floating point operation");
    EXPECT_EQ(RaisedAs<EZeroDivide>(Fault(platform::fkFloatDivide)),
              "Floating point division by zero");
    EXPECT_EQ(RaisedAs<EOverflow>(Fault(platform::fkFloatOverflow)), "Floating point overflow");
    EXPECT_EQ(RaisedAs<EUnderflow>(Fault(platform::fkFloatUnderflow)), "Floating point underflow");
    EXPECT_EQ(RaisedAs<EPrivilege>(Fault(platform::fkPrivilege, SIGILL)), "Privileged instruction");
    EXPECT_EQ(RaisedAs<EStackOverflow>(Fault(platform::fkStackOverflow, SIGSEGV)),
              "Stack overflow");
    // The integer and float faults keep the framework's tree, which handlers catch by.
    EXPECT_FALSE(RaisedAs<EIntError>(Fault(platform::fkIntDivide)).empty());
    EXPECT_FALSE(RaisedAs<EMathError>(Fault(platform::fkFloatOverflow)).empty());
    EXPECT_FALSE(RaisedAs<EExternal>(Fault(platform::fkPrivilege, SIGILL)).empty());
}

TEST(SysUtilsFaultTest, AnAccessViolationNamesTheInstructionInTheMapModelAndTheDataAddress) {
    platform::TFaultInfo fault = Fault(platform::fkAccessViolation, SIGSEGV);
    fault.DataAddress = 0x2A;
    fault.Write = true;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%08lX",
                  static_cast<unsigned long>(platform::ToMapAddress(fault.Address)));
    EXPECT_EQ(RaisedAs<EAccessViolation>(fault), std::string("Access violation at address ") +
                                                     expected + ". Write of address 0000002A");
    fault.Write = false;
    fault.DataAddress = 0;
    EXPECT_EQ(Message(fault), std::string("Access violation at address ") + expected +
                                  ". Read of address 00000000");
}

TEST(SysUtilsFaultTest, TheRaisedFaultIsReportedAtTheFaultingInstruction) {
    const platform::TFaultInfo fault = Fault(platform::fkIntDivide);
    try {
        RaiseFault(fault);
    } catch (const EDivByZero&) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ExceptAddr()),
                  platform::ToMapAddress(fault.Address));
        return;
    }
    FAIL() << "nothing raised";
}

TEST(SysUtilsFaultTest, SignalsWithoutAClassOfTheirOwnAreExternalExceptionsWithTheirCode) {
    // A SIGBUS sent by a user (si_code <= 0) carries no code of its own: 7 * 0x100.
    EXPECT_EQ(RaisedAs<EExternalException>(Fault(platform::fkExternal, SIGBUS, SI_USER)),
              "External exception 700");
    EXPECT_EQ(RaisedAs<EExternalException>(Fault(platform::fkExternal, SIGILL, ILL_ILLOPC)),
              "External exception 401");
    // A terminate report has no class of its own either.
    EXPECT_STREQ(FaultClassName(platform::fkTerminate), "EExternalException");
    EXPECT_EQ(Message(Fault(platform::fkTerminate, SIGABRT)), "External exception 600");
}

TEST(SysUtilsFaultTest, AMessageIsCutToTheBufferAndStaysTerminated) {
    char buffer[9];
    const std::size_t length = FaultMessage(Fault(platform::fkFloatDivide), buffer, sizeof buffer);
    EXPECT_EQ(length, 8u);
    EXPECT_STREQ(buffer, "Floating");
}
