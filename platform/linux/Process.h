// platform/linux/Process.h - starting helper programs directly, without a shell.
//
// The mail and desktop services hand user-configured texts (addresses, subjects, URLs) to
// helper programs. Passing them as an argument vector to posix_spawn means no text is ever
// parsed by a shell, whatever characters it holds.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace platform::process {

/// How a started program ended.
struct TExitStatus {
    bool Started = false; ///< false: the program could not be started (SpawnError says why)
    int SpawnError = 0;   ///< errno of the failed start
    bool Exited = false;  ///< true: ended normally with ExitCode; false: killed by a signal
    int ExitCode = -1;
};

/// Starts AArgs[0] (looked up on PATH unless it contains a "/") with AArgs, feeds AStdin to
/// its standard input when AFeedStdin is set (else the child inherits ours), and waits for
/// it to end. A child that stops reading early does not harm the caller (no SIGPIPE).
TExitStatus Run(const std::vector<std::string>& AArgs, const std::string* AStdin = nullptr);

/// Starts AArgs[0] like Run with our standard input and collects its standard output into
/// AOutput (binary-safe) until it ends.
TExitStatus RunCapture(const std::vector<std::string>& AArgs, std::string& AOutput);

/// Starts AArgs[0] like Run but does not wait; a background waiter reaps the child so that
/// no zombie remains. Returns the start errno, 0 on success.
int StartDetached(const std::vector<std::string>& AArgs);

/// The full path of AProgram found on PATH (executable regular file), or empty.
std::string FindOnPath(const std::string& AProgram);

/// The full path of AProgram found in ASearchPath (folders separated by ':' as in PATH; an
/// empty entry is the current folder), or empty.
std::string FindOnPath(const std::string& AProgram, const std::string& ASearchPath);

/// The program to start for AProgram: AProgram itself when ASearchPath is empty (so that Run
/// looks it up on PATH), else its path in ASearchPath, or empty when it is not there.
std::string ProgramIn(const std::string& AProgram, const std::string& ASearchPath);

} // namespace platform::process
