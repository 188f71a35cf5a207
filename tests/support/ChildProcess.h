// tests/support/ChildProcess.h - runs a program as a child process under a watchdog.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace jex::test {

/// How a watched child ended.
struct TChildOutcome {
    bool Exited = false; ///< ended by exit(); ExitCode holds the code
    int ExitCode = -1;
    bool Signalled = false; ///< ended by a signal; Signal holds it
    int Signal = 0;
    bool TimedOut = false; ///< still running at the deadline: killed by the watchdog
    std::string Errors;    ///< what the child wrote to standard error
};

/// Runs AArgs[0] with the arguments AArgs[1..] (no shell) and waits for it at most ALimit; a
/// child still running then is killed (SIGKILL) and reported as TimedOut.
TChildOutcome RunWatchedChild(const std::vector<std::string>& AArgs,
                              std::chrono::milliseconds ALimit = std::chrono::seconds(5));

} // namespace jex::test
