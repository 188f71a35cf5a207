// tests/support/InterruptedRun.h - runs a tool as a child process and signals it the moment it
// has created a new file; runs shell commands for tests of redirections and mounts.
#pragma once

#include <string>
#include <vector>

namespace jex::test {

/// How an interrupted run went.
struct TInterruptedRun {
    /// True when the signal was sent while a file the child created in the folder existed.
    bool SignalledWhileWriting = false;
    /// The name of that file within the folder.
    std::string CreatedName;
    /// The child's wait status.
    int Status = 0;
};

/// Runs AArgs[0] with the arguments AArgs[1..] (standard output and error to /dev/null) under
/// ptrace, stopping it at every system call, and sends it ASignal at the first call after which
/// a file that was not there at the start exists in AFolder; then waits for it to end. The
/// signal thus always arrives while the file is being written, never before or after.
TInterruptedRun InterruptWhileWriting(const std::vector<std::string>& AArgs,
                                      const std::string& AFolder, int ASignal);

/// The result of a shell command: exit code (-1 when it did not exit), output and errors.
struct TShellRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

/// Runs ACommand with /bin/sh, its standard output and error caught in files of AFolder.
TShellRun RunShell(const std::string& ACommand, const std::string& AFolder);

/// AText quoted for the shell.
std::string ShellQuote(const std::string& AText);

/// True when a tmpfs can be mounted in a private mount namespace here (root, unshare -m).
bool CanMountPrivateTmpfs();

} // namespace jex::test
