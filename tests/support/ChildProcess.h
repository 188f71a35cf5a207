// tests/support/ChildProcess.h - forked children: a part of a test, or a program under a watchdog.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace jex::test {

/// A forked child that runs a part of the test while the test goes on.
class TChildProcess {
public:
    /// Forks and runs ABody in the child, which then ends with ABody's result as exit code (125
    /// when ABody raises). ABody may also end the child itself, e.g. with std::exit to run the
    /// exit hooks.
    explicit TChildProcess(const std::function<int()>& ABody);

    /// Waits for the child when Wait has not.
    ~TChildProcess();

    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    /// Waits for the child to end: its exit code, or -1 when it could not be started or did
    /// not exit normally.
    int Wait();

private:
    pid_t FPid = -1;
    int FExitCode = -1;
};

/// Runs ABody in a forked child (as TChildProcess) and waits for it: the child's exit code, or
/// -1 when it could not be started or did not exit normally.
int RunInChild(const std::function<int()>& ABody);

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
