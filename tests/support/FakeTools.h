// tests/support/FakeTools.h - recording stand-ins for the desktop's mail and web tools.
//
// Real child processes, started by the production code exactly as on a user's machine, but
// the Linux mail and shell services swapped in for the test's lifetime find their programs in
// a private folder, where small scripts write down their arguments and input and exit with a
// code the test chooses.
#pragma once

#include "platform/MailClient.h"
#include "platform/PlatformServices.h"
#include "platform/Shell.h"
#include "tests/support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace jex::test {

/// Puts recording fakes of xdg-email, xdg-open and sendmail into a private folder and, for its
/// lifetime, swaps in (through TScopedPlatformServices) a Linux mail service and a Linux shell
/// service that run those; clears DISPLAY meanwhile. Everything is restored on destruction.
class FakeTools {
public:
    FakeTools();
    ~FakeTools();
    FakeTools(const FakeTools&) = delete;
    FakeTools& operator=(const FakeTools&) = delete;

    /// The folder holding the fakes and their records.
    const std::filesystem::path& Folder() const { return FDir.Path(); }

    /// The Linux mail service that runs the fakes (the current one while this object lives).
    platform::TMailClient& MailClient() { return *FMail; }

    /// The Linux shell service that runs the fakes (the current one while this object lives).
    platform::TShell& Shell() { return *FShell; }

    /// True when ATool ran since the last Reset.
    bool Ran(const std::string& ATool) const;

    /// The arguments ATool received last (without the program name).
    std::vector<std::string> Args(const std::string& ATool) const;

    /// What ATool read from its standard input last (sendmail only).
    std::string Input(const std::string& ATool) const;

    /// The exit code ATool returns from now on.
    void SetExitCode(const std::string& ATool, int ACode);

    /// Replaces ATool with a script of the given body (after "#!/bin/sh").
    void Replace(const std::string& ATool, const std::string& ABody);

    /// Removes ATool, so that it cannot be found.
    void Remove(const std::string& ATool);

    /// Forgets every record.
    void Reset();

    /// Waits (bounded) until ATool has run; for tools started without waiting.
    bool WaitFor(const std::string& ATool, int AMilliseconds = 5000) const;

private:
    TempDir FDir;
    std::unique_ptr<platform::TMailClient> FMail;
    std::unique_ptr<platform::TShell> FShell;
    std::unique_ptr<platform::TScopedPlatformServices> FServices;
    std::string FOldDisplay;
    bool FHadDisplay = false;
};

/// Runs python3 with AScript (passed as -c) and the given arguments; returns its standard
/// output, or sets AOk to false when python3 is missing or fails.
std::string RunPython(const std::string& AScript, const std::vector<std::string>& AArgs, bool& AOk);

/// Parses the mail message in APath with Python's email package and describes it one item a
/// line: "To: name|address" (also Cc, Bcc), "Subject: ...", "Headers: a,b,..." (lower case,
/// sorted), "Type: multipart/mixed", "Text: <charset> <hex of the UTF-8 text>", then
/// "File: <name> <type> <hex of the bytes>" per attachment. AOk is false when python3 is
/// missing or the parse failed (the output then says why).
std::string DescribeMimeMessage(const std::string& APath, bool& AOk);

/// ABytes as lower-case hex digits.
std::string Hex(const std::string& ABytes);

} // namespace jex::test
