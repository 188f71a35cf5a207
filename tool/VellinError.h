// tool/VellinError.h - the errors vellin raises and how an unhandled one is reported.
//
// The tool handles no error itself: every failure travels to the top (main, or the library
// binding's start-up step) and ends the program there with a report on standard output and exit
// code 1. The report is one line, "Exception <class>: <message>", so it ends with the message.
// Standard output that cannot be written is an error too, never a silent success.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace vellin {

/// Base of the tool's errors; ClassName() names the class in the report.
class EVellinError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    virtual const char* ClassName() const { return "EVellinError"; }
};

/// A file could not be opened for reading ("Cannot open file "<path>". <reason>").
class EFOpenError : public EVellinError {
public:
    using EVellinError::EVellinError;

    const char* ClassName() const override { return "EFOpenError"; }
};

/// A file could not be created or written ("Cannot create file "<path>". <reason>").
class EFCreateError : public EVellinError {
public:
    using EVellinError::EVellinError;

    const char* ClassName() const override { return "EFCreateError"; }
};

/// Standard output could not be written ("Cannot write to standard output. <reason>").
class EInOutError : public EVellinError {
public:
    using EVellinError::EVellinError;

    const char* ClassName() const override { return "EInOutError"; }
};

/// The report line for AError: "Exception <class>: <message>". A foreign C++ exception is
/// reported under the name "Exception", one that is not even a std::exception as "Unknown
/// exception".
std::string UnhandledErrorReport(const std::exception_ptr& AError);

/// Writes the report of AError to standard output and returns the exit code 1. When standard
/// output cannot take it (a full disk, a closed descriptor), the report goes to standard error.
int ReportUnhandledError(const std::exception_ptr& AError);

} // namespace vellin
