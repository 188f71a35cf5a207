// host/core/SysUtils.h - exceptions, string and number conversions, dates, file-name helpers.
//
// The exception classes of the whole framework live here (also those the original declares in
// Classes, Controls, Graphics and TypInfo), so every layer shares one class tree and the
// exception logger can judge any of them by class.
#pragma once

#include "host/core/System.h"

#include <exception>
#include <string>

namespace host {

/// The base of every framework exception. Message() is the text shown to the user;
/// ClassName() the class's own name ("EConvertError", or the application's own class).
class Exception : public std::exception {
public:
    explicit Exception(std::string AMessage = {})
        : FMessage(std::move(AMessage)) {}

    const std::string& Message() const { return FMessage; }

    void SetMessage(std::string AMessage) { FMessage = std::move(AMessage); }

    /// The class name of the exception; for a foreign C++ exception wrapped by the host, the
    /// demangled C++ type of the original ("std::out_of_range").
    virtual std::string ClassName() const;

    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Declares exception class Name derived from Base, with the base's constructors.
#define JEX_EXCEPTION(Name, Base)                                                                \
    class Name : public Base {                                                                   \
    public:                                                                                      \
        using Base::Base;                                                                        \
    }

// Run-time library (SysUtils).
JEX_EXCEPTION(EAbort, Exception);
JEX_EXCEPTION(EHeapException, Exception);
JEX_EXCEPTION(EOutOfMemory, EHeapException);
JEX_EXCEPTION(EInvalidPointer, EHeapException);
JEX_EXCEPTION(EInOutError, Exception);
JEX_EXCEPTION(EExternal, Exception);
JEX_EXCEPTION(EIntError, EExternal);
JEX_EXCEPTION(EDivByZero, EIntError);
JEX_EXCEPTION(ERangeError, EIntError);
JEX_EXCEPTION(EIntOverflow, EIntError);
JEX_EXCEPTION(EMathError, EExternal);
JEX_EXCEPTION(EInvalidOp, EMathError);
JEX_EXCEPTION(EZeroDivide, EMathError);
JEX_EXCEPTION(EOverflow, EMathError);
JEX_EXCEPTION(EUnderflow, EMathError);
JEX_EXCEPTION(EAccessViolation, EExternal);
JEX_EXCEPTION(EPrivilege, EExternal);
JEX_EXCEPTION(EStackOverflow, EExternal);
JEX_EXCEPTION(EControlC, EExternal);
JEX_EXCEPTION(EExternalException, EExternal);
JEX_EXCEPTION(EInvalidCast, Exception);
JEX_EXCEPTION(EConvertError, Exception);
JEX_EXCEPTION(EVariantError, Exception);
JEX_EXCEPTION(EPropReadOnly, Exception);
JEX_EXCEPTION(EPropWriteOnly, Exception);
JEX_EXCEPTION(EAssertionFailed, Exception);
JEX_EXCEPTION(EAbstractError, Exception);
JEX_EXCEPTION(EIntfCastError, Exception);
JEX_EXCEPTION(EInvalidContainer, Exception);
JEX_EXCEPTION(EInvalidInsert, Exception);
JEX_EXCEPTION(EPackageError, Exception);
JEX_EXCEPTION(EOSError, Exception);
JEX_EXCEPTION(EWin32Error, EOSError);

// Component library (Classes, Controls).
JEX_EXCEPTION(EStreamError, Exception);
JEX_EXCEPTION(EFCreateError, EStreamError);
JEX_EXCEPTION(EFOpenError, EStreamError);
JEX_EXCEPTION(EFilerError, EStreamError);
JEX_EXCEPTION(EReadError, EFilerError);
JEX_EXCEPTION(EWriteError, EFilerError);
JEX_EXCEPTION(EClassNotFound, EFilerError);
JEX_EXCEPTION(EMethodNotFound, EFilerError);
JEX_EXCEPTION(EInvalidImage, EFilerError);
JEX_EXCEPTION(EResNotFound, Exception);
JEX_EXCEPTION(EListError, Exception);
JEX_EXCEPTION(EBitsError, Exception);
JEX_EXCEPTION(EStringListError, Exception);
JEX_EXCEPTION(EComponentError, Exception);
JEX_EXCEPTION(EParserError, Exception);
JEX_EXCEPTION(EOutOfResources, EOutOfMemory);
JEX_EXCEPTION(EInvalidOperation, Exception);
JEX_EXCEPTION(EThread, Exception);

// Graphics.
JEX_EXCEPTION(EInvalidGraphic, Exception);
JEX_EXCEPTION(EInvalidGraphicOperation, Exception);

// Run-time type information.
JEX_EXCEPTION(EPropertyError, Exception);
JEX_EXCEPTION(EPropertyConvertError, Exception);

// ---- Conversions, dates and file names ---------------------------------------------------

} // namespace host
