// tests/support/ChildProcess.h - running part of a test in a forked child process.
#pragma once

#include <functional>
#include <sys/types.h>

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

} // namespace jex::test
