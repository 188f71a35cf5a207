// host/core/SysUtilsFault.cpp - the framework's exceptions for hardware faults and their texts.
#include "host/core/SysUtilsFault.h"

#include "host/core/SystemExcept.h"
#include "platform/ProcessImage.h"
#include "platform/SignalSafeText.h"

namespace host {

using platform::TFaultKind;

const char* FaultClassName(TFaultKind AKind) noexcept {
    switch (AKind) {
    case platform::fkAccessViolation:
        return "EAccessViolation";
    case platform::fkIntDivide:
        return "EDivByZero";
    case platform::fkIntOverflow:
        return "EIntOverflow";
    case platform::fkFloatInvalid:
        return "EInvalidOp";
    case platform::fkFloatDivide:
        return "EZeroDivide";
    case platform::fkFloatOverflow:
        return "EOverflow";
    case platform::fkFloatUnderflow:
        return "EUnderflow";
    case platform::fkPrivilege:
        return "EPrivilege";
    case platform::fkStackOverflow:
        return "EStackOverflow";
    case platform::fkExternal:
    case platform::fkTerminate:
        break;
    }
    return "EExternalException";
}

std::size_t FaultMessage(const platform::TFaultInfo& AFault, char* ABuffer,
                         std::size_t ASize) noexcept {
    platform::TSignalSafeText text(ABuffer, ASize);
    switch (AFault.Kind) {
    case platform::fkAccessViolation:
        text.Append("Access violation at address ")
            .AppendHex(platform::ToMapAddress(AFault.Address))
            .Append(AFault.Write ? ". Write of address " : ". Read of address ")
            .AppendHex(AFault.DataAddress);
        break;
    case platform::fkIntDivide:
        text.Append("Division by zero");
        break;
    case platform::fkIntOverflow:
        text.Append("Integer overflow");
        break;
    case platform::fkFloatInvalid:
        text.Append("Invalid floating point operation");
        break;
    case platform::fkFloatDivide:
        text.Append("Floating point division by zero");
        break;
    case platform::fkFloatOverflow:
        text.Append("Floating point overflow");
        break;
    case platform::fkFloatUnderflow:
        text.Append("Floating point underflow");
        break;
    case platform::fkPrivilege:
        text.Append("Privileged instruction");
        break;
    case platform::fkStackOverflow:
        text.Append("Stack overflow");
        break;
    case platform::fkExternal:
    case platform::fkTerminate:
        text.Append("External exception ")
            .AppendHex(platform::ExternalExceptionCode(AFault.Signal, AFault.Code), 1);
        break;
    }
    return text.Length();
}

namespace {

template <typename E>
[[noreturn]] void Throw(const char* AMessage) {
    throw E(AMessage);
}

} // namespace

void RaiseFault(const platform::TFaultInfo& AFault) {
    char message[256];
    FaultMessage(AFault, message, sizeof message);
    SetNextThrowSite(reinterpret_cast<void*>(platform::ToMapAddress(AFault.Address)), AFault.Frames,
                     AFault.FrameCount);
    switch (AFault.Kind) {
    case platform::fkAccessViolation:
        Throw<EAccessViolation>(message);
    case platform::fkIntDivide:
        Throw<EDivByZero>(message);
    case platform::fkIntOverflow:
        Throw<EIntOverflow>(message);
    case platform::fkFloatInvalid:
        Throw<EInvalidOp>(message);
    case platform::fkFloatDivide:
        Throw<EZeroDivide>(message);
    case platform::fkFloatOverflow:
        Throw<EOverflow>(message);
    case platform::fkFloatUnderflow:
        Throw<EUnderflow>(message);
    case platform::fkPrivilege:
        Throw<EPrivilege>(message);
    case platform::fkStackOverflow:
        Throw<EStackOverflow>(message);
    case platform::fkExternal:
    case platform::fkTerminate:
        break;
    }
    Throw<EExternalException>(message);
}

} // namespace host
