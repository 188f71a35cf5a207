// platform/Shell.h - opening a document or web address with the desktop's default program.
//
// The support-page button hands the configured address to the desktop as it is; the program
// that shows it runs on its own, so the call never waits for it.
#pragma once

#include <memory>
#include <string>

namespace platform {

/// Opens documents and web addresses with the user's preferred application.
class TShell {
public:
    virtual ~TShell() = default;

    /// Starts the desktop's opener for ADocument (a URL or a file path) as one argument and
    /// returns at once, without waiting for it. True when the opener was started. False for
    /// an empty text, for a text starting with "-" (the opener would take it as an option),
    /// or when the opener cannot be started. Never runs a shell.
    virtual bool Open(const std::string& ADocument) = 0;
};

/// The Linux shell service: xdg-open found on PATH.
TShell& LinuxShell();

/// A Linux shell service of its own that finds xdg-open in ASearchPath (folders separated by
/// ':' as in PATH; empty: PATH). A test swaps it in through TScopedPlatformServices.
std::unique_ptr<TShell> NewLinuxShell(const std::string& ASearchPath);

} // namespace platform
